// Small text rules shared by the settings, the stages and the front ends:
// the control-character trim, the strict decimal number and the plain ASCII
// case fold.
//
// The fold here touches A..Z only and works on bytes, so it is right for INI
// section and key names, file names and protocol headers. Character and
// guild names are compared through their name key (support/ansi.h) instead,
// which also leaves the trail byte of a double-byte GBK character alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace razere {

// Characters 0..32 (blanks, line breaks and every other control character)
// removed at both ends. Bytes of multi-byte characters are all above 32.
std::string_view TrimControls(std::string_view s);

// Which leading signs ParseDecimal takes.
enum class DecimalSign {
  kOne,          // one '+' or '-' at most
  kPlusThenAny,  // an optional '+', then an optional '-': "+-5" is -5 (the
                 // command line's and the number edits' rule)
};

// Decimal digits after the sign(s) of `sign`, the value within signed 32 bits
// (-2147483648 included). Nothing else is taken: no blanks, no "0x", no
// second sign; nullopt for an empty text, a sign alone, any other character
// or a value out of range. Leading zeros are allowed.
std::optional<int32_t> ParseDecimal(std::string_view text, DecimalSign sign = DecimalSign::kOne);

// A..Z to a..z; every other byte as it is.
constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }
std::string AsciiLower(std::string_view s);

// Equal after AsciiLower of both (so of equal length).
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix);

// a..z to A..Z for a character code (a byte or a UTF-16 unit). Only the text
// order (support/sort_string_list.h) folds this way: its direction decides
// where [ \ ] ^ _ ` sort relative to the letters.
constexpr unsigned AsciiUpper(unsigned code) { return (code >= 'a' && code <= 'z') ? code - ('a' - 'A') : code; }

}  // namespace razere
