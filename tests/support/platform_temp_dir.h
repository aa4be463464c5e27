// A fresh folder below the system's temporary folder, removed with its
// contents when the test ends.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

#include "fixtures/portable.h"
#include "support/textfile.h"

namespace razere::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("razere-support-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  // Writes raw bytes (a test fixture) to a file in this folder.
  std::filesystem::path Write(std::string_view name, std::string_view bytes) const {
    const auto p = path_ / name;
    WriteFileAtomic(p, bytes);
    return p;
  }
  static std::string Read(const std::filesystem::path& p) {
    std::string bytes;
    ReadFileBytes(p, bytes);
    return bytes;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace razere::testing
