// Guild folders written by the tests: text given as UTF-8 lines, stored as
// GBK with CRLF line ends, as the servers write them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/ansi.h"
#include "support/textfile.h"

namespace razere::testing {

// Lines joined with CRLF after each.
inline std::string CrLf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

// Writes UTF-8 text as GBK bytes, creating the folders on the way.
inline void PutGbk(const std::filesystem::path& path, std::string_view utf8) {
  std::filesystem::create_directories(path.parent_path());
  WriteFileAtomic(path, Utf8ToGbk(utf8));
}

inline std::string FileBytes(const std::filesystem::path& path) {
  std::string bytes;
  ReadFileBytes(path, bytes);
  return bytes;
}

// The decoded lines of a text file; empty when missing.
inline std::vector<std::string> LinesOf(const std::filesystem::path& path) {
  TextFile f;
  ReadTextFile(path, f);
  return f.lines;
}

}  // namespace razere::testing
