// Every GBK conversion the program can make, as text: what each single byte
// 0x80..0xFF and each two-byte sequence (lead 0x81..0xFE, trail 0x40..0xFF)
// decodes to, and what each BMP character (surrogates aside) encodes to.
// The Linux build (iconv) writes it with tests/tools/gbk_table.cpp; the
// Windows build (code page 936 from the system) must give the same lines.
#pragma once

#include <cstdio>
#include <string>

#include "support/ansi.h"

namespace razere::testing {

inline std::string HexOf(std::string_view bytes) {
  std::string out;
  char buf[3];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    out += buf;
  }
  return out.empty() ? "-" : out;
}

inline std::string Utf8Of(char32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

// One line per conversion: "D <gbk> <utf-8>" for decoding, "E <code point>
// <gbk> <lossy>" for encoding, bytes in upper-case hex.
inline std::string GbkTableText() {
  std::string out;
  auto decode = [&out](std::string_view gbk) {
    out += "D " + HexOf(gbk) + " " + HexOf(GbkToUtf8(gbk)) + "\n";
  };
  for (unsigned b = 0x80; b <= 0xFF; ++b) decode(std::string(1, static_cast<char>(b)));
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFF; ++trail) {
      decode(std::string{static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  char cp[8];
  for (char32_t u = 0x80; u <= 0xFFFF; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    bool lossy = false;
    const std::string gbk = Utf8ToGbk(Utf8Of(u), &lossy);
    std::snprintf(cp, sizeof cp, "%04X", static_cast<unsigned>(u));
    out += std::string("E ") + cp + " " + HexOf(gbk) + (lossy ? " lossy\n" : "\n");
  }
  return out;
}

}  // namespace razere::testing
