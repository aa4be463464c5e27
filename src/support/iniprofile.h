// Settings files (Config.ini, !Setup.txt, guild .ini) read and written like
// the Windows private-profile functions.
//
// Sections and keys match ignoring ASCII case; values are trimmed of blanks
// and at most 2,047 characters are returned. Strings are UTF-8 in and out.
// The file is GBK (or the encoding of its byte-order mark); lines written
// end in CRLF. A write changes only the lines it must: every other byte,
// including lines the parser ignores and their line endings, stays as it was.
// A missing file reads as empty and is created by the first write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/textfile.h"

namespace razere {

// Longest value returned by a read, in characters (code points).
inline constexpr size_t kIniMaxValueChars = 2047;

std::string IniReadString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                          std::string_view def);

// Decimal or "0x" hexadecimal (and "$" hexadecimal when allowDollar), optional
// sign, signed 32-bit; anything else (empty, junk, overflow) gives def.
int32_t IniReadInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   int32_t def, bool allowDollar = false);

// Updates the key in place, else appends it at the end of its section, else
// appends the section at the end of the file. Creates the file when missing.
// Throws on failure; the file is replaced atomically (temp + rename).
void IniWriteString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                    std::string_view value);

// Removes the key's line (every line of that key in that section). A missing
// key or file is not an error and leaves the file untouched.
void IniDeleteKey(const std::filesystem::path& file, std::string_view section, std::string_view key);

// The integer rule of IniReadInt applied to a text; nullopt for junk.
std::optional<int32_t> ParseIniInt(std::string_view text, bool allowDollar = false);

// One settings file held in memory for many reads and writes.
class IniProfile {
 public:
  explicit IniProfile(std::filesystem::path file);  // loads (missing = empty)

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  int32_t ReadInt(std::string_view section, std::string_view key, int32_t def, bool allowDollar = false) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void DeleteKey(std::string_view section, std::string_view key);
  // Writes the file when anything changed since loading or the last save.
  void Save();  // throws std::runtime_error

  const std::filesystem::path& FileName() const { return FFileName; }

 private:
  struct Line {
    std::string text;  // UTF-8, without its line ending
    std::string eol;   // the line ending as it is encoded in the file ("" for the last line without one)
  };

  std::filesystem::path FFileName;
  TextEncoding FEncoding = TextEncoding::Ansi;
  std::vector<Line> FLines;
  bool FModified = false;

  // Index range [first, end) of the lines below the header of `section`;
  // nullopt when the section is absent.
  std::optional<std::pair<size_t, size_t>> FindSection(std::string_view section) const;
  std::optional<size_t> FindKey(size_t first, size_t end, std::string_view key) const;
  std::string NewLineEnding() const;
};

}  // namespace razere
