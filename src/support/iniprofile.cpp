#include "support/iniprofile.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_set>

#include "support/file_system.h"
#include "support/text_util.h"
#include "support/utf8.h"

namespace razere {

namespace fs = std::filesystem;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

enum class LineKind { Other, Section, Key };

struct Parsed {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section name or key, trimmed
  std::string_view value;  // trimmed value of a key line
  size_t valueStart = 0;   // offset of the value in the line (after "=" and blanks)
};

Parsed ParseLine(std::string_view text) {
  Parsed p;
  const std::string_view t = Trim(text);
  if (t.empty() || t.front() == ';') return p;
  if (t.front() == '[') {
    const size_t close = t.find(']');
    if (close != std::string_view::npos) {
      p.kind = LineKind::Section;
      p.name = Trim(t.substr(1, close - 1));
      return p;
    }
  }
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::Key;
  p.name = Trim(text.substr(0, eq));
  size_t vs = eq + 1;
  while (vs < text.size() && IsBlank(text[vs])) ++vs;
  p.valueStart = vs;
  p.value = Trim(text.substr(vs));
  return p;
}

bool IsBlankLine(std::string_view text) { return Trim(text).empty(); }

// A value read back: without one matching pair of double or single quotes
// around it, as the platform's profile functions read it (operators write
// Windows paths in quotes), and at most the length those functions return.
std::string_view ReadValue(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return TruncateUtf16Units(value, kIniMaxValueUnits);
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

[[noreturn]] void ThrowBadName(const fs::path& file, const std::string& what) {
  throw std::runtime_error("无法把" + what + "写入设置文件“" + TextOfPath(file) + "”");
}

}  // namespace

std::optional<int32_t> ParseIniInt(std::string_view text, bool allowDollar) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  unsigned base = 10;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  } else if (allowDollar && !s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  // The magnitude may reach 2^31 only for a negative number.
  const uint64_t limit = negative ? uint64_t{1} << 31 : uint64_t{std::numeric_limits<int32_t>::max()};
  uint64_t magnitude = 0;
  for (char c : s) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return std::nullopt;
  }
  const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return static_cast<int32_t>(value);
}

IniProfile::IniProfile(fs::path file) : FFileName(std::move(file)) {
  std::string bytes;
  try {
    if (!ReadWholeFile(FFileName, bytes)) {
      // Nothing there reads as empty; a folder in its place cannot be read.
      if (Fs().KindOf(FFileName) == FileKind::Folder) FLoadError = FileError(FileOp::Read, FFileName, std::strerror(EISDIR));
      return;
    }
  } catch (const FileError& e) {
    FLoadError = e;
    return;
  }
  Parse(bytes);
}

IniProfile::IniProfile(fs::path file, std::string_view bytes) : FFileName(std::move(file)) { Parse(bytes); }

void IniProfile::Parse(std::string_view bytes) {
  const std::string text = DecodeText(bytes, FEncoding);
  // Lines keep their own endings so that untouched lines are written back as
  // they were; the decode is lossless, so re-encoding gives the same bytes.
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      const size_t len = (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      FLines.push_back({text.substr(start, i - start), text.substr(i, len)});
      i += len;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) FLines.push_back({text.substr(start), std::string()});
}

std::optional<size_t> IniProfile::FindSectionHeader(std::string_view section) const {
  const std::string_view want = Trim(section);
  for (size_t i = 0; i < FLines.size(); ++i) {
    const Parsed p = ParseLine(FLines[i].text);
    if (p.kind == LineKind::Section && EqualsIgnoringAsciiCase(p.name, want)) return i;
  }
  return std::nullopt;
}

std::optional<size_t> IniProfile::FindKey(std::string_view section, std::string_view key) const {
  const std::string_view wantSection = Trim(section);
  const std::string_view wantKey = Trim(key);
  bool inSection = false;
  for (size_t i = 0; i < FLines.size(); ++i) {
    const Parsed p = ParseLine(FLines[i].text);
    if (p.kind == LineKind::Section) {
      inSection = EqualsIgnoringAsciiCase(p.name, wantSection);
    } else if (inSection && p.kind == LineKind::Key && EqualsIgnoringAsciiCase(p.name, wantKey)) {
      return i;
    }
  }
  return std::nullopt;
}

std::string IniProfile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  const std::optional<size_t> idx = FindKey(section, key);
  if (!idx) {
    // The platform's functions strip a default's trailing spaces (they end
    // the copy with a null there); a default of spaces only reads as empty.
    while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
    return std::string(def);
  }
  return std::string(ReadValue(ParseLine(FLines[*idx].text).value));
}

std::vector<IniKeyValue> IniProfile::ReadSectionValues(std::string_view section) const {
  const std::string_view want = Trim(section);
  std::vector<IniKeyValue> out;
  std::unordered_set<std::string> seen;  // AsciiLower of the keys listed
  bool inSection = false;
  for (const Line& line : FLines) {
    const Parsed p = ParseLine(line.text);
    if (p.kind == LineKind::Section) {
      inSection = EqualsIgnoringAsciiCase(p.name, want);
    } else if (inSection && p.kind == LineKind::Key && seen.insert(AsciiLower(p.name)).second) {
      out.push_back({std::string(p.name), std::string(ReadValue(p.value))});
    }
  }
  return out;
}

int32_t IniProfile::ReadInt(std::string_view section, std::string_view key, int32_t def, bool allowDollar) const {
  const std::optional<size_t> idx = FindKey(section, key);
  if (!idx) return def;
  const std::string_view value = ReadValue(ParseLine(FLines[*idx].text).value);
  return ParseIniInt(value, allowDollar).value_or(def);
}

void IniProfile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view sec = Trim(section);
  const std::string_view k = Trim(key);
  if (HasLineBreak(sec) || sec.find(']') != std::string_view::npos) {
    ThrowBadName(FFileName, "节名“" + std::string(section) + "”");
  }
  if (HasLineBreak(k) || k.find('=') != std::string_view::npos || (!k.empty() && (k[0] == '[' || k[0] == ';'))) {
    ThrowBadName(FFileName, "键名“" + std::string(key) + "”");
  }
  if (HasLineBreak(value)) ThrowBadName(FFileName, "含换行的值（键“" + std::string(key) + "”）");

  if (const std::optional<size_t> idx = FindKey(sec, k)) {
    Line& line = FLines[*idx];
    const Parsed p = ParseLine(line.text);
    if (p.value == value) return;
    line.text = line.text.substr(0, p.valueStart) + std::string(value);
    FModified = true;
    return;
  }

  Line keyLine{std::string(k) + "=" + std::string(value), "\r\n"};
  if (const std::optional<size_t> header = FindSectionHeader(sec)) {
    size_t last = *header;
    for (size_t i = *header + 1; i < FLines.size(); ++i) {
      if (ParseLine(FLines[i].text).kind == LineKind::Section) break;
      if (!IsBlankLine(FLines[i].text)) last = i;
    }
    if (FLines[last].eol.empty()) FLines[last].eol = "\r\n";
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(last + 1), std::move(keyLine));
  } else {
    if (!FLines.empty() && FLines.back().eol.empty()) FLines.back().eol = "\r\n";
    FLines.push_back({"[" + std::string(sec) + "]", "\r\n"});
    FLines.push_back(std::move(keyLine));
  }
  FModified = true;
}

void IniProfile::DeleteKey(std::string_view section, std::string_view key) {
  while (const std::optional<size_t> idx = FindKey(section, key)) {
    FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(*idx));
    FModified = true;
  }
}

void IniProfile::Save() {
  if (!FModified) return;
  // A file that could not be read is never overwritten: the failure to read
  // it is the reason it stays as it is.
  if (FLoadError) throw *FLoadError;
  std::string bytes = EncodeText("", FEncoding, true);  // the byte-order mark alone
  for (const Line& line : FLines) bytes += EncodeText(line.text + line.eol, FEncoding, false);
  WriteFileAtomic(FFileName, bytes);
  FModified = false;
}

std::string IniReadString(const fs::path& file, std::string_view section, std::string_view key,
                          std::string_view def) {
  return IniProfile(file).ReadString(section, key, def);
}

int32_t IniReadInt(const fs::path& file, std::string_view section, std::string_view key, int32_t def,
                   bool allowDollar) {
  return IniProfile(file).ReadInt(section, key, def, allowDollar);
}

void IniWriteString(const fs::path& file, std::string_view section, std::string_view key, std::string_view value) {
  IniProfile ini(file);
  ini.WriteString(section, key, value);
  ini.Save();
}

void IniDeleteKey(const fs::path& file, std::string_view section, std::string_view key) {
  IniProfile ini(file);
  ini.DeleteKey(section, key);
  ini.Save();
}

}  // namespace razere
