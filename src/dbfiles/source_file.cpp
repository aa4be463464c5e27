#include "dbfiles/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/errors.h"

namespace razere {

static_assert(sizeof(off_t) == 8, "record files beyond 4 GiB need 64-bit file offsets");

namespace {

[[noreturn]] void ThrowFileError(const char* what, const std::filesystem::path& path, int err) {
  throw FileError(std::string(what) + path.string() + " (" + std::strerror(err) + ")");
}

}  // namespace

DbSourceFile::DbSourceFile(std::filesystem::path path) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) ThrowFileError("无法打开文件：", path_, errno);
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    int err = errno;
    ::close(fd_);
    fd_ = -1;
    ThrowFileError("无法读取文件：", path_, err);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    ThrowFileError("无法打开文件：", path_, EISDIR);
  }
  size_ = static_cast<int64_t>(st.st_size);
}

DbSourceFile::~DbSourceFile() {
  if (fd_ >= 0) ::close(fd_);  // read-only: nothing to lose on close
}

size_t DbSourceFile::ReadAt(int64_t offset, void* buf, size_t len) {
  if (offset < 0) return 0;
  auto* out = static_cast<uint8_t*>(buf);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pread(fd_, out + done, len - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError("读取文件失败：", path_, errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

const uint8_t* DbSourceFile::View(int64_t offset, size_t len) {
  if (offset < 0 || len > kWindowSize) return nullptr;
  bool inside = offset >= windowOffset_ &&
                static_cast<uint64_t>(offset - windowOffset_) + len <= windowLen_;
  if (!inside) {
    if (offset >= size_ || size_ - offset < static_cast<int64_t>(len)) return nullptr;
    window_.resize(kWindowSize);
    windowOffset_ = offset;
    windowLen_ = 0;  // stays empty if the read throws
    windowLen_ = ReadAt(offset, window_.data(), kWindowSize);
    if (windowLen_ < len) return nullptr;
  }
  return window_.data() + (offset - windowOffset_);
}

size_t DbSourceFile::ReadAtBuffered(int64_t offset, void* buf, size_t len) {
  if (len > kWindowSize / 4) return ReadAt(offset, buf, len);
  if (const uint8_t* p = View(offset, len)) {
    std::memcpy(buf, p, len);
    return len;
  }
  // Fewer than len bytes in the window: the end of the file (or a file that
  // changed size). Let a direct read say how many there are.
  return ReadAt(offset, buf, len);
}

}  // namespace razere
