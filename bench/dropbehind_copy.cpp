// The floor of bench/merge: the input files copied one after another into one
// output file the cheapest way through the page cache we know. One 1 MiB
// buffer reused for every read and write; every 64 MiB the pages read are
// dropped, and the pages written, once their write-back is done, too, so the
// copy never makes the kernel reclaim memory under pressure.
//
//     dropbehind-copy OUTPUT INPUT...
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kBuffer = size_t{1} << 20;
constexpr off_t kWindow = off_t{64} << 20;

[[noreturn]] void Die(const char* what, const char* path) {
  std::fprintf(stderr, "dropbehind-copy: %s %s: %s\n", what, path, std::strerror(errno));
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: dropbehind-copy OUTPUT INPUT...\n");
    return 2;
  }
  const int out = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) Die("open", argv[1]);
  std::vector<char> buf(kBuffer);
  off_t written = 0, mark = 0;  // mark: write-back started below it
  for (int i = 2; i < argc; ++i) {
    const int in = ::open(argv[i], O_RDONLY | O_CLOEXEC);
    if (in < 0) Die("open", argv[i]);
    (void)::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    off_t read = 0, dropped = 0;
    for (;;) {
      const ssize_t n = ::read(in, buf.data(), buf.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        Die("read", argv[i]);
      }
      if (n == 0) break;
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
        if (w < 0) {
          if (errno == EINTR) continue;
          Die("write", argv[1]);
        }
        done += w;
      }
      read += n;
      written += n;
      if (read - dropped >= kWindow) {
        (void)::posix_fadvise(in, dropped, read - dropped, POSIX_FADV_DONTNEED);
        dropped = read;
      }
      if (written - mark >= kWindow) {
        (void)::sync_file_range(out, mark, kWindow, SYNC_FILE_RANGE_WRITE);
        if (mark >= kWindow) {
          (void)::sync_file_range(out, mark - kWindow, kWindow,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
          (void)::posix_fadvise(out, mark - kWindow, kWindow, POSIX_FADV_DONTNEED);
        }
        mark += kWindow;
      }
    }
    (void)::posix_fadvise(in, 0, 0, POSIX_FADV_DONTNEED);
    ::close(in);
  }
  if (::close(out) != 0) Die("close", argv[1]);
  return 0;
}
