// Small UTF-8 helpers shared by the text codecs.
//
// Text in memory is UTF-8 that may also hold surrogate code points in their
// 3-byte form (ED A0..BF xx): U+DC80..U+DCFF carry undecodable bytes (the
// "surrogate escape"), and other lone surrogates come from unpaired UTF-16
// code units. The lenient decoder accepts those forms; the strict one, used
// for files, does not.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace razere {

// First and last code point of the surrogate escapes: U+DC00 + byte for the
// bytes 0x80..0xFF.
inline constexpr char32_t kEscapeFirst = 0xDC80;
inline constexpr char32_t kEscapeLast = 0xDCFF;

inline bool IsEscape(char32_t cp) { return cp >= kEscapeFirst && cp <= kEscapeLast; }
inline bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Decodes one code point at s[pos] (pos < s.size()). Returns the number of
// bytes it occupies, or 0 when the bytes there are not a well-formed sequence
// (then cp is undefined). With allowSurrogates the 3-byte forms of
// U+D800..U+DFFF are accepted; overlong forms and values above U+10FFFF never are.
size_t DecodeUtf8At(std::string_view s, size_t pos, char32_t& cp, bool allowSurrogates);

// Appends the UTF-8 form of cp (any value up to U+10FFFF, surrogates
// included; larger values append U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

// Appends the escape for a byte >= 0x80 (bytes below are appended as they are).
inline void AppendEscapedByte(std::string& out, unsigned char b) {
  if (b < 0x80) {
    out.push_back(static_cast<char>(b));
  } else {
    AppendUtf8(out, 0xDC00 + b);
  }
}

// Number of UTF-16 code units of a UTF-8 text (each malformed byte counts one).
size_t Utf16Length(std::string_view utf8);

// The longest prefix of utf8 that is at most maxUnits UTF-16 code units long
// and does not split a code point.
std::string_view TruncateUtf16Units(std::string_view utf8, size_t maxUnits);

}  // namespace razere
