// GBK (code page 936) byte strings and their UTF-8 form.
//
// Names in binary records stay GBK bytes from reading to writing; text held
// in memory is UTF-8. The conversion is lossless: a byte that does not start
// a valid GBK sequence is carried as the surrogate escape U+DC00+byte (the
// 3-byte form ED B2/B3 xx), which Utf8ToGbk turns back into the raw byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace razere {

// GBK lead byte: 0x81..0xFE.
bool IsLeadByte(unsigned char b);

// Lossless GBK -> UTF-8 (invalid bytes become surrogate escapes).
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 -> GBK. Surrogate escapes become their raw byte; characters GBK lacks
// and malformed UTF-8 become '?', and *lossy is set to true (it is never
// reset to false, so one flag can collect several conversions).
std::string Utf8ToGbk(std::string_view utf8, bool* lossy = nullptr);

// Name key on GBK bytes: single-byte 'A'..'Z' -> 'a'..'z'; a lead byte and
// the byte after it are copied unchanged (never folded); a lone lead byte at
// the end is copied unchanged. No decode.
std::string NameKey(std::string_view gbkName);

// NameKey(a) == NameKey(b), without building either key.
bool SameNameKey(std::string_view a, std::string_view b);

// The key under which Windows' file systems tell file names apart, on GBK
// bytes: NameKey's ASCII folding, and besides it every GBK letter that has
// its other case in GBK folded to the lower case: the fullwidth Latin
// letters (A3C1..A3DA -> A3E1..A3FA), the Greek (A6A1..A6B8 -> A6C1..A6D8),
// the Cyrillic (A7A1..A7C1 -> A7D1..A7F1) and the Roman numerals I..X
// (A2F1..A2FA -> A2A1..A2AA): 93 pairs, all that GBK holds. A trail byte is
// never folded on its own, so a character whose trail byte is an ASCII letter
// stays what it is. For names that become file names (guilds): two names with
// one key would share one file on the servers. Same length as the name.
std::string FileNameKey(std::string_view gbkName);

// The longest prefix of `gbk` of at most maxBytes bytes that does not end in
// a lead byte whose trail byte was cut off.
std::string TruncateAnsi(std::string_view gbk, size_t maxBytes);

#if defined(_WIN32)
// The run's text and Windows' wide strings: text in memory (arguments,
// settings once read, paths held as text) is UTF-8 on every platform; the
// system's strings are UTF-16. Lossless both ways for valid text.
std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);

// A program's wide arguments (wmain) as the run's text, with an argv of them
// that main-style code takes: argc entries, then a null.
class Utf8Arguments {
 public:
  Utf8Arguments(int argc, wchar_t** wargv);
  char** argv() { return argv_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<char*> argv_;
};
#endif

}  // namespace razere
