#include "support/utf8.h"

namespace razere {

namespace {

inline bool IsCont(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

size_t DecodeUtf8At(std::string_view s, size_t pos, char32_t& cp, bool allowSurrogates) {
  const size_t n = s.size();
  if (pos >= n) return 0;
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if (b0 < 0xC2) return 0;  // continuation byte, or overlong 2-byte lead
  if (b0 < 0xE0) {
    if (pos + 1 >= n || !IsCont(static_cast<unsigned char>(s[pos + 1]))) return 0;
    cp = (char32_t(b0 & 0x1F) << 6) | (static_cast<unsigned char>(s[pos + 1]) & 0x3F);
    return 2;
  }
  if (b0 < 0xF0) {
    if (pos + 2 >= n) return 0;
    const auto b1 = static_cast<unsigned char>(s[pos + 1]);
    const auto b2 = static_cast<unsigned char>(s[pos + 2]);
    if (!IsCont(b1) || !IsCont(b2)) return 0;
    if (b0 == 0xE0 && b1 < 0xA0) return 0;  // overlong
    if (b0 == 0xED && b1 >= 0xA0 && !allowSurrogates) return 0;
    cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | (b2 & 0x3F);
    return 3;
  }
  if (b0 < 0xF5) {
    if (pos + 3 >= n) return 0;
    const auto b1 = static_cast<unsigned char>(s[pos + 1]);
    const auto b2 = static_cast<unsigned char>(s[pos + 2]);
    const auto b3 = static_cast<unsigned char>(s[pos + 3]);
    if (!IsCont(b1) || !IsCont(b2) || !IsCont(b3)) return 0;
    if (b0 == 0xF0 && b1 < 0x90) return 0;   // overlong
    if (b0 == 0xF4 && b1 >= 0x90) return 0;  // above U+10FFFF
    cp = (char32_t(b0 & 0x07) << 18) | (char32_t(b1 & 0x3F) << 12) | (char32_t(b2 & 0x3F) << 6) | (b3 & 0x3F);
    return 4;
  }
  return 0;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

size_t Utf16Length(std::string_view utf8) {
  size_t units = 0;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(utf8, i, cp, true);
    if (len == 0) {
      ++units;
      ++i;
    } else {
      units += cp > 0xFFFF ? 2 : 1;
      i += len;
    }
  }
  return units;
}

std::string_view TruncateUtf16Units(std::string_view utf8, size_t maxUnits) {
  size_t units = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = 0;
    size_t len = DecodeUtf8At(utf8, i, cp, true);
    size_t w = 1;
    if (len == 0) {
      len = 1;
    } else if (cp > 0xFFFF) {
      w = 2;
    }
    if (units + w > maxUnits) break;
    units += w;
    i += len;
  }
  return utf8.substr(0, i);
}

}  // namespace razere
