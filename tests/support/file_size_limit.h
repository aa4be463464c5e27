// Makes writes fail the way a full disk does: lowers the file size limit so
// that writes past it fail with EFBIG (root included), and ignores the signal
// that would otherwise end the process. Both are restored on destruction.
//
// POSIX only: Windows has no per-process file size limit. There the class
// exists so that the tests compile; they skip before they make one.
#pragma once

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

#include <cstdint>

#include "fixtures/portable.h"

namespace razere::testing {

#if defined(_WIN32)
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t) {}
  bool ok() const { return false; }
};
#else

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = saved_;
    lim.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  sighandler_t oldHandler_{};
  bool ok_ = false;
};
#endif

}  // namespace razere::testing
