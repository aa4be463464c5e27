// Settings files (Config.ini, !Setup.txt, guild .ini) read and written like
// the Windows private-profile functions.
//
// A section line is "[name]" (blanks around it allowed; the name ends at the
// first "]"); a key line is "key=value" split at the first "="; lines whose
// first non-blank character is ";" are comments; other lines are ignored.
// A missing key reads as the default without its trailing spaces.
// Sections and keys match ignoring ASCII case; names and values are trimmed of
// blanks (space, tab, vertical tab, form feed) and at most 2,047 UTF-16 code
// units of a value are returned. Key lines before the first section belong to
// no section. A section that occurs more than once is searched in file order,
// and the first line of a key counts. Strings are UTF-8 in and out.
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

// Longest value returned by a read, in UTF-16 code units (a character outside
// the BMP is never split).
inline constexpr size_t kIniMaxValueUnits = 2047;

std::string IniReadString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                          std::string_view def);

// Decimal or "0x" hexadecimal (and "$" hexadecimal when allowDollar), optional
// sign, signed 32-bit (the signed value must fit, so "0xFFFFFFFF" is out of
// range); anything else (empty, junk, overflow) gives def.
int32_t IniReadInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   int32_t def, bool allowDollar = false);

// Updates the key in place (only the value's bytes change; the line keeps its
// key spelling, blanks and line ending), else inserts "key=value" after the
// last non-blank line of the section, else appends "[section]" and
// "key=value" at the end of the file (no blank line before). New lines end in
// CRLF; a last line without a line break gets one when a line follows it.
// Creates the file when missing; writing a value equal to the stored one
// leaves the file untouched. Throws std::runtime_error on failure (also when
// the file exists but cannot be read, and for names or values that cannot be
// stored: a line break anywhere, "=" in a key or a key beginning with "[" or
// ";", "]" in a section name). The file is replaced atomically (temp + rename).
void IniWriteString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                    std::string_view value);

// Removes every line of the key in every section of that name. A missing key
// or file is not an error and leaves the file untouched.
void IniDeleteKey(const std::filesystem::path& file, std::string_view section, std::string_view key);

// The integer rule of IniReadInt applied to a text; nullopt for junk.
std::optional<int32_t> ParseIniInt(std::string_view text, bool allowDollar = false);

// One key line of a section as ReadSectionValues lists it.
struct IniKeyValue {
  std::string key;    // trimmed, as spelled on its line
  std::string value;  // as ReadString returns it
};

// One settings file held in memory for many reads and writes.
class IniProfile {
 public:
  // Loads the file (missing = empty). A file that exists but cannot be read
  // also reads as empty, and Save then throws instead of overwriting it.
  explicit IniProfile(std::filesystem::path file);
  // The file's bytes as the caller has read them; Save writes to file.
  IniProfile(std::filesystem::path file, std::string_view bytes);

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  int32_t ReadInt(std::string_view section, std::string_view key, int32_t def, bool allowDollar = false) const;
  // Every key of the section that ReadString finds, in file order: of the
  // lines of one key (ASCII case ignored, all sections of the name searched)
  // only the first, the one ReadString reads. A line "=value" is the empty key.
  std::vector<IniKeyValue> ReadSectionValues(std::string_view section) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void DeleteKey(std::string_view section, std::string_view key);
  // Writes the file when anything changed since loading or the last save.
  void Save();  // throws FileError

  const std::filesystem::path& FileName() const { return FFileName; }
  // The file exists but could not be read (it then reads as empty): why.
  bool LoadFailed() const { return FLoadError.has_value(); }
  const std::optional<FileError>& LoadError() const { return FLoadError; }

 private:
  struct Line {
    std::string text;  // UTF-8, without its line ending
    std::string eol;   // "\r\n", "\n", "\r", or "" for a last line without one
  };

  std::filesystem::path FFileName;
  TextEncoding FEncoding = TextEncoding::Ansi;
  std::vector<Line> FLines;
  bool FModified = false;
  std::optional<FileError> FLoadError;  // the file exists but could not be read: never overwrite it

  // Index of the first line of `key` in the first section named `section`
  // that has it; nullopt when there is none.
  std::optional<size_t> FindKey(std::string_view section, std::string_view key) const;
  std::optional<size_t> FindSectionHeader(std::string_view section) const;
  void Parse(std::string_view bytes);
};

}  // namespace razere
