#include "support/textfile.h"

#include "support/ansi.h"
#include "support/utf8.h"

namespace razere {

namespace fs = std::filesystem;

namespace {

// Strict UTF-8 with every byte of a malformed sequence escaped one by one.
std::string DecodeUtf8Lossless(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(s, i, cp, false);
    if (len == 0) {
      AppendEscapedByte(out, static_cast<unsigned char>(s[i]));
      ++i;
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::string DecodeUtf16(std::string_view s, bool bigEndian) {
  std::string out;
  out.reserve(s.size());
  const size_t units = s.size() / 2;  // a dangling odd byte is dropped
  auto unitAt = [&](size_t k) -> char16_t {
    const auto a = static_cast<unsigned char>(s[2 * k]);
    const auto b = static_cast<unsigned char>(s[2 * k + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  for (size_t k = 0; k < units; ++k) {
    const char16_t u = unitAt(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
      const char16_t lo = unitAt(k + 1);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (lo - 0xDC00));
        ++k;
        continue;
      }
    }
    AppendUtf8(out, u);  // unpaired surrogates are kept as their code point
  }
  return out;
}

void AppendUnit(std::string& out, char16_t u, bool bigEndian) {
  const char hi = static_cast<char>(u >> 8);
  const char lo = static_cast<char>(u & 0xFF);
  if (bigEndian) {
    out.push_back(hi);
    out.push_back(lo);
  } else {
    out.push_back(lo);
    out.push_back(hi);
  }
}

std::string EncodeUtf16(std::string_view utf8, bool bigEndian, bool* lossy) {
  std::string out;
  out.reserve(utf8.size() * 2);
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(utf8, i, cp, true);
    if (len == 0) {
      cp = '?';
      if (lossy) *lossy = true;
      ++i;
    } else {
      i += len;
    }
    if (cp > 0xFFFF) {
      AppendUnit(out, static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)), bigEndian);
      AppendUnit(out, static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)), bigEndian);
    } else {
      AppendUnit(out, static_cast<char16_t>(cp), bigEndian);
    }
  }
  return out;
}

// UTF-8 for a file: escapes become their raw byte again; other surrogate code
// points and malformed bytes cannot be written and become '?'.
std::string EncodeUtf8File(std::string_view utf8, bool* lossy) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(utf8, i, cp, true);
    if (len != 0 && IsEscape(cp)) {
      out.push_back(static_cast<char>(cp - 0xDC00));
    } else if (len == 0 || IsSurrogate(cp)) {
      out.push_back('?');
      if (lossy) *lossy = true;
    } else {
      out.append(utf8.substr(i, len));
    }
    i += len == 0 ? 1 : len;
  }
  return out;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string DecodeText(std::string_view bytes, TextEncoding& encoding) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    encoding = TextEncoding::Utf8Bom;
    return DecodeUtf8Lossless(bytes.substr(3));
  }
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    encoding = TextEncoding::Utf16LE;
    return DecodeUtf16(bytes.substr(2), false);
  }
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
    encoding = TextEncoding::Utf16BE;
    return DecodeUtf16(bytes.substr(2), true);
  }
  encoding = TextEncoding::Ansi;
  return GbkToUtf8(bytes);
}

std::string EncodeText(std::string_view utf8, TextEncoding encoding, bool withBom, bool* lossy) {
  switch (encoding) {
    case TextEncoding::Ansi:
      return Utf8ToGbk(utf8, lossy);
    case TextEncoding::Utf8Bom:
      return (withBom ? std::string("\xEF\xBB\xBF") : std::string()) + EncodeUtf8File(utf8, lossy);
    case TextEncoding::Utf16LE:
      return (withBom ? std::string("\xFF\xFE") : std::string()) + EncodeUtf16(utf8, false, lossy);
    case TextEncoding::Utf16BE:
      return (withBom ? std::string("\xFE\xFF") : std::string()) + EncodeUtf16(utf8, true, lossy);
  }
  return Utf8ToGbk(utf8, lossy);
}

bool ReadFileBytes(const fs::path& path, std::string& out) {
  try {
    return ReadWholeFile(path, out);
  } catch (const FileError&) {
    out.clear();
    return false;
  }
}

bool ReadTextFile(const fs::path& path, TextFile& out) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return false;
  TextEncoding enc = TextEncoding::Ansi;
  const std::string text = DecodeText(bytes, enc);
  out.lines = SplitLines(text);
  out.encoding = enc;
  return true;
}

void WriteTextFile(const fs::path& path, const std::vector<std::string>& lines, TextEncoding encoding) {
  size_t total = 0;
  for (const auto& l : lines) total += l.size() + 2;
  std::string text;
  text.reserve(total);
  for (const auto& l : lines) {
    text += l;
    text += "\r\n";
  }
  WriteFileAtomic(path, EncodeText(text, encoding));
}

}  // namespace razere
