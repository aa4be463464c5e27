// Writes a side model as the files of an installation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "gen/generator.h"
#include "gen/model.h"

namespace razere::gen {

// A file written by offset. Every write and the close are checked and throw
// FileError naming the path.
class OutFile {
 public:
  explicit OutFile(std::filesystem::path path);  // created or truncated
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  void WriteAt(int64_t offset, const void* data, size_t len);
  void Close();

 private:
  [[noreturn]] void Fail(const char* what, int err);
  std::filesystem::path path_;
  int fd_ = -1;
};

// Writes ID.DB, Hum.DB, Qel.DB, HeroQel.DB, !Setup.txt, Shop.dat,
// ShopItem.dat and Email.db at the paths of `paths`, and the guild folder. Items
// are drawn here, from the side's item stream.
ServerStats WriteServerFiles(const SideModel& model, const GenOptions& options, const ServerPaths& paths,
                             double now);

}  // namespace razere::gen
