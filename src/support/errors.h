// Error types that end a run. Anything derived from std::exception that
// reaches the driver ends the run as an unexpected failure; these types only
// let callers tell the common causes apart.
#pragma once

#include <stdexcept>
#include <string>

namespace razere {

// The program was asked to end (window closed, Ctrl-C, SIGTERM) while a run
// was working. The run must not be reported as complete.
class RunInterrupted : public std::runtime_error {
 public:
  RunInterrupted() : std::runtime_error("合区被中断：程序正在退出，数据不完整！") {}
};

// An input or output file could not be opened, read, written or closed.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace razere
