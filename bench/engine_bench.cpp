// The mail store's bulk path against plain sequential writes of the same
// bytes, side by side in one run: 100,000 Add calls with a 10,847-byte
// payload drained by one ExecAll (worker running, as in a merge run), versus
// write() of a 48-byte header and 100,000 10,900-byte slots. Prints both
// times (best of the rounds) and their ratio, for wall-clock time and for
// the CPU time (user + system) of the process, which a busy machine disturbs
// less.
//
//   engine_bench [records] [rounds] [folder]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbfiles/xo_custom_database.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kPayload = 10847;
constexpr int32_t kSlot = kPayload + 53;

struct Cost {
  double wall = std::numeric_limits<double>::max();
  double cpu = std::numeric_limits<double>::max();
};

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return sec(ru.ru_utime) + sec(ru.ru_stime);
}

// Runs pass and keeps the lower of each time.
template <class F>
void Measure(Cost& best, F pass) {
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  pass();
  best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - t0).count());
  best.cpu = std::min(best.cpu, CpuSeconds() - cpu0);
}

void WriteFully(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w <= 0) throw std::runtime_error("write failed");
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void PlainWrites(const std::filesystem::path& file, int records, Cost& best) {
  std::filesystem::remove(file);
  std::vector<uint8_t> header(48, 0), slot(kSlot, 0x61);
  Measure(best, [&] {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + file.string());
    WriteFully(fd, header.data(), header.size());
    for (int i = 0; i < records; ++i) WriteFully(fd, slot.data(), slot.size());
    if (close(fd) != 0) throw std::runtime_error("close failed");
  });
}

void EngineWrites(const std::filesystem::path& file, int records, Cost& best) {
  std::filesystem::remove(file);
  std::vector<uint8_t> payload(kPayload, 0x61);
  std::vector<std::string> names;
  for (int i = 0; i < 2000; ++i) names.push_back("chr" + std::to_string(i));
  Measure(best, [&] {
    razere::TXoCustomDatabase db(file);
    if (db.Initialize(kPayload) < 0) throw std::runtime_error("Initialize failed");
    for (int i = 0; i < records; ++i) {
      if (db.Add(names[static_cast<size_t>(i) % names.size()], payload.data(), kPayload) < 0) {
        throw std::runtime_error("Add refused");
      }
    }
    db.ExecAll({});
    db.Uninitialize();
    db.RaiseFirstError();
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::filesystem::path dir = argc > 3 ? std::filesystem::path(argv[3]) : std::filesystem::temp_directory_path();
  const auto file = dir / "engine_bench_Email.db";
  Cost plain, engine;
  try {
    for (int r = 0; r < rounds; ++r) {
      PlainWrites(file, records, plain);
      EngineWrites(file, records, engine);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "engine_bench: %s\n", e.what());
    std::filesystem::remove(file);
    return 1;
  }
  std::filesystem::remove(file);
  const double mb = (48.0 + static_cast<double>(records) * kSlot) / (1024.0 * 1024.0);
  std::printf("records %d, %.0f MiB per pass, best of %d rounds\n", records, mb, rounds);
  std::printf("                          wall      cpu\n");
  std::printf("plain sequential writes: %7.3f s %7.3f s\n", plain.wall, plain.cpu);
  std::printf("engine Add + ExecAll:    %7.3f s %7.3f s\n", engine.wall, engine.cpu);
  std::printf("ratio engine / plain:    %7.2f   %7.2f\n", engine.wall / plain.wall, engine.cpu / plain.cpu);
  return 0;
}
