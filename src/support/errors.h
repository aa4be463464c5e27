// Error types that end a run. Anything derived from std::exception that
// reaches the driver ends the run as an unexpected failure; these types only
// let callers tell the common causes apart.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace razere {

// The program was asked to end (window closed, Ctrl-C, SIGTERM) while a run
// was working. The run must not be reported as complete.
class RunInterrupted : public std::runtime_error {
 public:
  RunInterrupted() : std::runtime_error("合区被中断：程序正在退出，数据不完整！") {}
};

// What the file layer was doing when a call failed; each has its own text at
// the head of the message.
enum class FileOp : uint8_t {
  Open,        // "无法打开文件"
  Create,      // "无法创建文件"
  Read,        // "读取文件失败"
  Write,       // "写入文件失败"
  Truncate,    // "截断文件失败"
  Flush,       // "无法将文件写入磁盘"
  Close,       // "关闭文件失败"
  Rename,      // "重命名文件失败"
  Remove,      // "删除文件失败"
  MakeFolder,  // "无法创建目录"
  ListFolder,  // "无法读取目录"
  Inspect,     // "无法读取文件信息"
  FreeSpace,   // "无法查询磁盘空间"
};

const char* FileOpText(FileOp op);

// An input or output file could not be opened, read, written, renamed or
// closed. Every file failure of the program is one of these and prints in
// one shape:
//   <operation>：<path> (<reason>)
//   重命名文件失败：<path> -> <second path> (<reason>)
// The reason is the system's text for the error (strerror, FormatMessage) or
// a short Chinese phrase of our own for failures that have no system error.
class FileError : public std::runtime_error {
 public:
  FileError(FileOp op, std::filesystem::path path, std::string reason, std::filesystem::path secondPath = {});

  FileOp Op() const { return op_; }
  const std::filesystem::path& Path() const { return path_; }
  const std::filesystem::path& SecondPath() const { return secondPath_; }
  const std::string& Reason() const { return reason_; }

 private:
  FileOp op_;
  std::filesystem::path path_;
  std::filesystem::path secondPath_;
  std::string reason_;
};

}  // namespace razere
