#include "support/ansi.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <array>
#include <cerrno>
#include <memory>
#include <stdexcept>
#include <vector>

#include "support/utf8.h"

namespace razere {

namespace {

// Double-byte codes: lead 0x81..0xFE, trail 0x40..0xFE without 0x7F.
constexpr unsigned kLeadFirst = 0x81;
constexpr unsigned kLeadLast = 0xFE;
constexpr unsigned kTrailFirst = 0x40;
constexpr unsigned kTrailLast = 0xFE;
constexpr unsigned kTrailCount = kTrailLast - kTrailFirst + 1;

// The code page as lookup tables, built once from iconv. Only mappings that
// survive a round trip (decode, then encode gives the same bytes) are kept,
// so decoding and encoding are exact inverses; every other byte sequence is
// carried as surrogate escapes.
struct GbkTables {
  // Unicode (BMP) of each double-byte code; 0 = not a character.
  std::vector<char16_t> decode2 = std::vector<char16_t>((kLeadLast - kLeadFirst + 1) * kTrailCount, 0);
  // Unicode of the single byte 0x80 (the euro sign in this code page); 0 = none.
  char16_t decode80 = 0;
  // GBK code of each BMP code point: 0 = none, 0x80 = the single byte 0x80,
  // otherwise lead << 8 | trail.
  std::vector<uint16_t> encode = std::vector<uint16_t>(0x10000, 0);
};

// Fills the tables from roundTrip(bytes, len): the BMP character the bytes
// stand for when it encodes back to exactly them, else 0. The first code of
// a character wins.
template <class RoundTrip>
void FillTables(GbkTables& t, RoundTrip&& roundTrip) {
  const char b80 = static_cast<char>(0x80);
  if (char16_t u = roundTrip(&b80, 1)) {
    t.decode80 = u;
    t.encode[u] = 0x80;
  }
  for (unsigned lead = kLeadFirst; lead <= kLeadLast; ++lead) {
    for (unsigned trail = kTrailFirst; trail <= kTrailLast; ++trail) {
      if (trail == 0x7F) continue;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t u = roundTrip(pair, 2);
      if (u == 0 || t.encode[u] != 0) continue;
      t.decode2[(lead - kLeadFirst) * kTrailCount + (trail - kTrailFirst)] = u;
      t.encode[u] = static_cast<uint16_t>(lead << 8 | trail);
    }
  }
}

#if defined(_WIN32)
// Code page 936 from the system. Windows maps the user-defined areas
// (AAA1..AFFE, F8A1..FEFE, A140..A7A0 and a few more) to the private use
// area, where glibc rejects them: those are left out, so both builds carry
// them as surrogate escapes and agree on every byte sequence.
constexpr UINT kCodePage = 936;

bool IsPrivateUse(char16_t u) { return u >= 0xE000 && u <= 0xF8FF; }

// The one BMP character bytes decode to, or 0.
char16_t DecodeOne(const char* bytes, size_t len) {
  wchar_t wide[4] = {};
  const int n = ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(len), wide, 4);
  return n == 1 ? static_cast<char16_t>(wide[0]) : 0;
}

// The code page's bytes for u, exactly (no best-fit substitutes), or empty.
std::string EncodeOne(char16_t u) {
  const wchar_t wide = static_cast<wchar_t>(u);
  char buf[8];
  BOOL usedDefault = FALSE;
  const int n = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, &wide, 1, buf, sizeof buf, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return {};
  return std::string(buf, static_cast<size_t>(n));
}

std::unique_ptr<GbkTables> BuildTables() {
  auto t = std::make_unique<GbkTables>();
  auto roundTrip = [&](const char* bytes, size_t len) -> char16_t {
    const char16_t u = DecodeOne(bytes, len);
    if (u < 0x80 || IsSurrogate(u) || IsPrivateUse(u)) return 0;
    if (EncodeOne(u) != std::string_view(bytes, len)) return 0;
    return u;
  };

  FillTables(*t, roundTrip);
  return t;
}

#else
struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

IconvHandle OpenIconv(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  return IconvHandle(cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd);
}

// Converts exactly the given bytes; empty result when iconv rejects any of them.
std::string Convert(iconv_t cd, const char* in, size_t inLen) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
  char buf[16];
  char* inPtr = const_cast<char*>(in);
  size_t inLeft = inLen;
  char* outPtr = buf;
  size_t outLeft = sizeof buf;
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return {};
  return std::string(buf, outPtr);
}

// One code point from UTF-32LE bytes, or 0 when there is not exactly one.
char32_t SingleCodePoint(const std::string& u32) {
  if (u32.size() != 4) return 0;
  return static_cast<char32_t>(static_cast<unsigned char>(u32[0]) | (static_cast<unsigned char>(u32[1]) << 8) |
                               (static_cast<unsigned char>(u32[2]) << 16) |
                               (static_cast<uint32_t>(static_cast<unsigned char>(u32[3])) << 24));
}

std::string ToUtf32(char32_t cp) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((cp >> (8 * i)) & 0xFF);
  return s;
}

std::unique_ptr<GbkTables> BuildTables() {
  IconvHandle dec;
  IconvHandle enc;
  for (const char* name : {"GBK", "CP936"}) {
    dec = OpenIconv("UTF-32LE", name);
    enc = OpenIconv(name, "UTF-32LE");
    if (dec && enc) break;
  }
  if (!dec || !enc) throw std::runtime_error("GBK text conversion is not available (iconv has no GBK/CP936)");

  auto t = std::make_unique<GbkTables>();
  // A mapping is kept when it is a non-ASCII, non-surrogate BMP character
  // that encodes back to exactly `bytes`.
  auto roundTrip = [&](const char* bytes, size_t len) -> char16_t {
    const char32_t cp = SingleCodePoint(Convert(dec.get(), bytes, len));
    if (cp < 0x80 || cp > 0xFFFF || IsSurrogate(cp)) return 0;
    const std::string u32 = ToUtf32(cp);
    if (Convert(enc.get(), u32.data(), u32.size()) != std::string_view(bytes, len)) return 0;
    return static_cast<char16_t>(cp);
  };

  FillTables(*t, roundTrip);
  return t;
}

#endif

const GbkTables& Tables() {
  static const std::unique_ptr<GbkTables> tables = BuildTables();
  return *tables;
}

}  // namespace

bool IsLeadByte(unsigned char b) { return b >= kLeadFirst && b <= kLeadLast; }

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() + gbk.size() / 2);
  size_t i = 0;
  const size_t n = gbk.size();
  const GbkTables* t = nullptr;
  while (i < n) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    if (!t) t = &Tables();
    char16_t u = 0;
    size_t len = 1;
    if (b == 0x80) {
      u = t->decode80;
    } else if (IsLeadByte(b) && i + 1 < n) {
      const auto trail = static_cast<unsigned char>(gbk[i + 1]);
      if (trail >= kTrailFirst && trail <= kTrailLast) {
        u = t->decode2[(b - kLeadFirst) * kTrailCount + (trail - kTrailFirst)];
        len = 2;
      }
    }
    if (u != 0) {
      AppendUtf8(out, u);
      i += len;
    } else {
      // Only the first byte is escaped: the next one may start a character.
      AppendEscapedByte(out, b);
      ++i;
    }
  }
  return out;
}

std::string Utf8ToGbk(std::string_view utf8, bool* lossy) {
  std::string out;
  out.reserve(utf8.size());
  const GbkTables* t = nullptr;
  auto unmappable = [&] {
    out.push_back('?');
    if (lossy) *lossy = true;
  };
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(utf8, i, cp, true);
    if (len == 0) {
      unmappable();
      ++i;
      continue;
    }
    i += len;
    if (IsEscape(cp)) {
      out.push_back(static_cast<char>(cp - 0xDC00));
      continue;
    }
    if (!t) t = &Tables();
    const uint16_t code = cp <= 0xFFFF ? t->encode[cp] : 0;
    if (code == 0) {
      unmappable();
    } else if (code < 0x100) {
      out.push_back(static_cast<char>(code));
    } else {
      out.push_back(static_cast<char>(code >> 8));
      out.push_back(static_cast<char>(code & 0xFF));
    }
  }
  return out;
}

std::string NameKey(std::string_view gbkName) {
  std::string key(gbkName);
  const size_t n = key.size();
  for (size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(key[i]);
    if (IsLeadByte(b)) {
      ++i;  // the trail byte belongs to the character and is never folded
    } else if (b >= 'A' && b <= 'Z') {
      key[i] = static_cast<char>(b + ('a' - 'A'));
    }
  }
  return key;
}

bool SameNameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Each name has its own character boundaries: a byte folds only where it is
  // not the trail byte of its own name's lead byte.
  bool trailA = false;
  bool trailB = false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (!trailA && x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
    if (!trailB && y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
    if (x != y) return false;
    trailA = !trailA && IsLeadByte(static_cast<unsigned char>(a[i]));
    trailB = !trailB && IsLeadByte(static_cast<unsigned char>(b[i]));
  }
  return true;
}

std::string FileNameKey(std::string_view gbkName) {
  // Upper-case trail bytes of one lead byte, and how far the lower case of
  // each lies (GBK keeps both cases of a script in two parallel runs).
  struct CaseRun {
    unsigned char lead, firstUpper, lastUpper;
    int lowerOffset;
  };
  static constexpr CaseRun kRuns[] = {
      {0xA2, 0xF1, 0xFA, -0x50},  // Roman numerals I..X -> i..x
      {0xA3, 0xC1, 0xDA, +0x20},  // fullwidth A..Z -> a..z
      {0xA6, 0xA1, 0xB8, +0x20},  // Greek
      {0xA7, 0xA1, 0xC1, +0x30},  // Cyrillic, IO included
  };
  std::string key(gbkName);
  const size_t n = key.size();
  for (size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(key[i]);
    if (IsLeadByte(b)) {
      if (++i == n) break;
      const auto trail = static_cast<unsigned char>(key[i]);
      for (const CaseRun& r : kRuns) {
        if (b == r.lead && trail >= r.firstUpper && trail <= r.lastUpper) {
          key[i] = static_cast<char>(trail + r.lowerOffset);
          break;
        }
      }
    } else if (b >= 'A' && b <= 'Z') {
      key[i] = static_cast<char>(b + ('a' - 'A'));
    }
  }
  return key;
}

std::string TruncateAnsi(std::string_view gbk, size_t maxBytes) {
  if (gbk.size() <= maxBytes) return std::string(gbk);
  size_t i = 0;
  while (i < maxBytes) {
    const size_t w = IsLeadByte(static_cast<unsigned char>(gbk[i])) ? 2 : 1;
    if (i + w > maxBytes) break;
    i += w;
  }
  return std::string(gbk.substr(0, i));
}

#if defined(_WIN32)
std::string WideToUtf8(std::wstring_view wide) {
  std::string out;
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  }
  return out;
}

Utf8Arguments::Utf8Arguments(int argc, wchar_t** wargv) {
  for (int i = 0; i < argc; ++i) args_.push_back(WideToUtf8(wargv[i]));
  for (std::string& a : args_) argv_.push_back(a.data());
  argv_.push_back(nullptr);
}

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring out;
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  }
  return out;
}
#endif

}  // namespace razere
