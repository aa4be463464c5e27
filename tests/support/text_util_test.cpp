#include "support/text_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace razere {
namespace {

using namespace std::string_literals;

struct DecimalCase {
  std::string text;
  std::optional<int32_t> one;          // DecimalSign::kOne
  std::optional<int32_t> plusThenAny;  // DecimalSign::kPlusThenAny
};

// The callers turn a refusal into their own value (0, -1, a usage error), so
// every row where the two rules part, and every kind of refusal, is here.
TEST(ParseDecimal, SignRulesAndRefusals) {
  constexpr auto no = std::nullopt;
  const DecimalCase cases[] = {
      {"0", 0, 0},
      {"42", 42, 42},
      {"+42", 42, 42},
      {"-42", -42, -42},
      {"-0", 0, 0},
      {"000000000000000000012", 12, 12},
      {"2147483647", INT32_MAX, INT32_MAX},
      {"-2147483648", INT32_MIN, INT32_MIN},
      // The rules part only on a '+' before a '-'.
      {"+-5", no, -5},
      {"+-2147483648", no, INT32_MIN},
      {"+-", no, no},
      {"-+5", no, no},
      {"++5", no, no},
      {"--5", no, no},
      // Out of range.
      {"2147483648", no, no},
      {"-2147483649", no, no},
      {"99999999999999999999", no, no},
      // Empty, a sign alone, blanks anywhere.
      {"", no, no},
      {"+", no, no},
      {"-", no, no},
      {" 5", no, no},
      {"5 ", no, no},
      {"\t5", no, no},
      {"- 5", no, no},
      // Anything else.
      {"0x10", no, no},
      {"$10", no, no},
      {"1e3", no, no},
      {"1.0", no, no},
      {"12a", no, no},
      {"\xEF\xBC\x95", no, no},  // a full-width 5
      {"5\0"s, no, no},
  };
  for (const DecimalCase& c : cases) {
    EXPECT_EQ(ParseDecimal(c.text), c.one) << '"' << c.text << '"';
    EXPECT_EQ(ParseDecimal(c.text, DecimalSign::kOne), c.one) << '"' << c.text << '"';
    EXPECT_EQ(ParseDecimal(c.text, DecimalSign::kPlusThenAny), c.plusThenAny) << '"' << c.text << '"';
  }
}

TEST(TrimControls, RemovesCodesUpTo32AtBothEndsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {" \t\r\n", ""},
      {"  a b\t ", "a b"},
      {"\x01x\x1f", "x"},
      {"\0x\0"s, "x"},
      {"a\x01" "b", "a\x01" "b"},
      {"\x7F" "a\x7F", "\x7F" "a\x7F"},     // DEL is above 32
      {"\xA1\xA1 ", "\xA1\xA1"},             // a GBK double-byte blank is not trimmed
      {" \xE4\xB8\xAD ", "\xE4\xB8\xAD"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TrimControls(in), out) << '"' << in << '"';
}

TEST(AsciiFold, OnlyAToZ) {
  EXPECT_EQ(AsciiLower("AZaz@[`{_09"), "azaz@[`{_09");
  // Bytes above 127 stay; a letter after a GBK lead byte (0xB0 0x41 is one
  // character) is folded all the same: names go through NameKey instead.
  EXPECT_EQ(AsciiLower("\xC4\xD6\xE4\xB8\xAD\xB0\x41"), "\xC4\xD6\xE4\xB8\xAD\xB0\x61");
  EXPECT_TRUE(EqualsIgnoringAsciiCase("GuildApply", "guildAPPLY"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("Guild", "Guilds"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{"));  // no folding beyond letters
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC4", "\xE4"));
  EXPECT_TRUE(StartsWithIgnoringAsciiCase("Content-Encoding: gzip", "content-encoding:"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase("Content", "content-encoding:"));
  EXPECT_TRUE(StartsWithIgnoringAsciiCase("x", ""));
  EXPECT_EQ(AsciiUpper('a'), unsigned{'A'});
  EXPECT_EQ(AsciiUpper('_'), unsigned{'_'});
  EXPECT_EQ(AsciiUpper(0x0101), 0x0101u);
}

}  // namespace
}  // namespace razere
