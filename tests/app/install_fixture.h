// Minimal server installations on disk for driver and command-line tests:
// record files with valid headers and no records, and a !Setup.txt.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace razere::testing {

namespace fs = std::filesystem;

// A scratch folder removed when the test ends.
class ScratchDir {
 public:
  ScratchDir() {
    static int counter = 0;
    path_ = fs::temp_directory_path() /
            ("razere-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  // The folder as text with a trailing separator.
  std::string str() const { return path_.string() + "/"; }

 private:
  fs::path path_;
};

inline void WriteBytes(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A 124-byte record-file header with the given version and no records.
inline std::string EmptyDbHeader(int32_t version) {
  std::string h(124, '\0');
  auto v = static_cast<uint32_t>(version);
  for (int i = 0; i < 4; ++i) h[36 + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return h;
}

// Writes the files every run requires below root (which ends with "/").
inline void MakeInstallation(const std::string& root, int32_t qelVersion = 20220707) {
  WriteBytes(root + "LoginSrv/IDDB/ID.DB", EmptyDbHeader(0));
  WriteBytes(root + "DBServer/FDB/Hum.DB", EmptyDbHeader(20130612));
  WriteBytes(root + "DBServer/FDB/Qel.DB", EmptyDbHeader(qelVersion));
  WriteBytes(root + "DBServer/FDB/HeroQel.DB", EmptyDbHeader(20220707));
  WriteBytes(root + "Qel200/!Setup.txt", "[Setup]\r\nServerName=Test\r\n");
  fs::create_directories(root + "Qel200/GuildBase");
}

}  // namespace razere::testing
