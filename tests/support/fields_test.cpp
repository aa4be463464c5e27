#include "support/fields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <climits>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace razere {
namespace {

struct FieldCase {
  std::string str;
  std::string dividers;
  std::string field;
  std::string rest;
};

TEST(TakeField, Splits) {
  const std::vector<FieldCase> cases = {
      {"  a,b", " ,", "a", "b"},
      {"a,,b", " ,", "a", ",b"},
      {",b", " ,", "b", ""},
      {",,,", " ,", "", ""},
      {"a,", " ,", "a", ""},
      {"a", " ,", "a", ""},
      {"", " ,", "", ""},
      {"a b\tc", "\t", "a b", "c"},
      {"\t\tx\t\ty", "\t", "x", "\ty"},
      {"1, 2,\t3", " ,\t", "1", " 2,\t3"},
      {"\xE4\xB8\xAD\xE6\x96\x87,b", ",\t", "\xE4\xB8\xAD\xE6\x96\x87", "b"},
      {std::string("a\0b,c", 5), ",", std::string("a\0b", 3), "c"},
      {std::string("a\0b", 3), std::string("\0", 1), "a", "b"},
      {"\x80\xFF,\xC3", ",", "\x80\xFF", "\xC3"},
      // A non-ASCII byte in the dividers is ignored: no character is split.
      {"\xE4\xB8\xAD,x", "\xAD,", "\xE4\xB8\xAD", "x"},
      {"abc", "", "abc", ""},
  };
  for (const auto& c : cases) {
    std::string field = "stale";
    const std::string rest = TakeField(c.str, field, c.dividers);
    EXPECT_EQ(field, c.field) << c.str;
    EXPECT_EQ(rest, c.rest) << c.str;
  }
}

TEST(TakeField, RepeatedCallsTakeEveryField) {
  std::string line = "  one,, two three,";
  std::vector<std::string> fields;
  while (!line.empty()) {
    std::string field;
    line = TakeField(line, field, " ,");
    fields.push_back(field);
  }
  EXPECT_EQ(fields, (std::vector<std::string>{"one", "two", "three"}));
}

TEST(TakeField, FieldMayAliasTheInput) {
  std::string s = "ab,cd";
  const std::string rest = TakeField(s, s, ",");
  EXPECT_EQ(s, "ab");
  EXPECT_EQ(rest, "cd");
}

std::string Repeat(const std::string& unit, size_t n) {
  std::string s;
  s.reserve(unit.size() * n);
  for (size_t i = 0; i < n; ++i) s += unit;
  return s;
}

// The limit counts UTF-16 code units: one for an ASCII byte or a BMP
// character, two for a character above U+FFFF.
TEST(TakeField, LengthLimit) {
  struct LimitCase {
    std::string str;
    bool kept;
  };
  const std::string cjk = "\xE4\xB8\xAD";          // 1 unit, 3 bytes
  const std::string emoji = "\xF0\x9F\x98\x80";    // 2 units, 4 bytes
  const std::vector<LimitCase> cases = {
      {std::string(204798, 'a'), true},
      {std::string(204799, 'a'), false},
      {std::string(300000, 'a'), false},
      {Repeat(cjk, 204798), true},
      {Repeat(cjk, 204799), false},
      {Repeat(emoji, 102399), true},           // 204,798 units
      {Repeat(emoji, 102399) + "a", false},    // 204,799 units
      {Repeat("\xFF", 204798), true},          // malformed bytes count one each
      {Repeat("\xFF", 204799), false},
  };
  for (const auto& c : cases) {
    std::string field = "stale";
    const std::string rest = TakeField(c.str, field, " ,");
    if (c.kept) {
      EXPECT_EQ(field.size(), c.str.size());
      EXPECT_TRUE(field == c.str);
    } else {
      EXPECT_TRUE(field.empty()) << c.str.size();
    }
    EXPECT_TRUE(rest.empty());
  }
  std::string field;
  const std::string rest = TakeField("a," + std::string(204796, 'b'), field, ",");
  EXPECT_EQ(field, "a");
  EXPECT_EQ(rest.size(), 204796u);
}

// SplitFields is the one-pass form of a TakeField loop that keeps the
// non-empty fields; the two must agree on every line.
std::vector<std::string> TakeEveryField(std::string line, const std::string& dividers) {
  std::vector<std::string> fields;
  while (!line.empty()) {
    std::string field;
    line = TakeField(line, field, dividers);
    if (!field.empty()) fields.push_back(field);
  }
  return fields;
}

TEST(SplitFields, AgreesWithRepeatedTakeField) {
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"", " ,"},
      {",, ,", " ,"},
      {"  one,, two three,", " ,"},
      {"Foes 3600000 Rivals,1000", " ,"},
      {"a\tb c", " ,"},
      {"\xE4\xB8\xAD,\xE6\x96\x87", ","},
      {"\xE4\xB8\xAD,x", "\xAD,"},  // a non-ASCII divider splits nothing
      {std::string("a\0b,c", 5), ","},
      {"abc", ""},
      {"a," + std::string(204796, 'b'), ","},  // just under the limit: both fields
      {std::string(204799, 'a'), " ,"},        // at the limit: none
      {"a," + Repeat("\xF0\x9F\x98\x80", 102399), ","},
  };
  for (const auto& [line, dividers] : lines) {
    std::vector<std::string> split;
    for (std::string_view f : SplitFields(line, dividers)) split.emplace_back(f);
    EXPECT_EQ(split, TakeEveryField(line, dividers)) << line.substr(0, 40);
  }
}

TEST(WholeDaysBetween, Cases) {
  struct DayCase {
    double later;
    double earlier;
    int32_t days;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<DayCase> cases = {
      {2.9, 1.1, 1},
      {1.1, 2.9, 0},
      {45000.0, 44999.999, 1},   // 23:59 yesterday is a day ago
      {45000.999, 45000.0, 0},
      {45090.5, 45000.5, 90},
      {5.0, 5.0, 0},
      {-0.5, -1.5, 1},           // truncation is towards zero
      {0.5, -0.5, 0},
      {nan, 1.0, 0},
      {1.0, nan, 0},
      {inf, 0.0, INT32_MAX},
      {1e300, -1e300, INT32_MAX},
      {-inf, 0.0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WholeDaysBetween(c.later, c.earlier), c.days) << c.later << " - " << c.earlier;
  }
}

}  // namespace
}  // namespace razere
