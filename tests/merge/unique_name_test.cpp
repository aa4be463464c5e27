#include "merge/unique_name.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ansi.h"

namespace razere {
namespace {

// GBK bytes of 中 (a lead byte and a trail byte, both >= 0x81) and of 啊,
// whose trail byte 0xA1 is itself in the lead-byte range.
const std::string kZhong = "\xD6\xD0";
const std::string kA = "\xB0\xA1";

std::string Rep(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct CutCase {
  const char* label;
  std::string source;
  int32_t maxBytes;
  std::string expected;
};

class TruncateAnsiNameTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(TruncateAnsiNameTest, CutsOnCharacterBoundary) {
  const CutCase& c = GetParam();
  EXPECT_EQ(TruncateAnsiName(c.source, c.maxBytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TruncateAnsiNameTest,
    ::testing::Values(
        CutCase{"ShorterStaysWhole", "abc", 9, "abc"},
        CutCase{"AsciiCut", "abcdefghijk", 9, "abcdefghi"},
        CutCase{"ExactLengthAscii", "abcdefghi", 9, "abcdefghi"},
        CutCase{"LeadByteAtNine", "abcdefgh" + kZhong + "x", 9, "abcdefgh"},
        CutCase{"TrailByteAtNine", "abcdefg" + kZhong + "xy", 9, "abcdefg" + kZhong},
        // Every byte of 啊 is in the lead range: only counting from the start
        // tells a trail at byte 9 from a lead.
        CutCase{"TrailInLeadRangeAtNine", "a" + Rep(kA, 5), 9, "a" + Rep(kA, 4)},
        CutCase{"LeadInLeadRangeAtNine", Rep(kA, 5), 9, Rep(kA, 4)},
        CutCase{"AsciiTrailByteAtNine", "abcdefg\x81\x41zz", 9, "abcdefg\x81\x41"},
        CutCase{"ExactLengthEndingInLoneLead", "abcdefgh\xD6", 9, "abcdefgh"},
        CutCase{"CharacterLeadAt29", std::string(28, 'a') + kZhong, 29, std::string(28, 'a')},
        CutCase{"CharacterTrailAt29", std::string(27, 'a') + kZhong + "b", 29, std::string(27, 'a') + kZhong},
        CutCase{"ZeroBytes", "abc", 0, ""},
        CutCase{"NegativeBytes", "abc", -3, ""},
        CutCase{"EmptySource", "", 9, ""}),
    [](const auto& info) { return std::string(info.param.label); });

// Name sets as the stages hold them: keys of names.
struct NameSet {
  std::set<std::string> keys;
  explicit NameSet(std::initializer_list<std::string> names = {}) {
    for (const std::string& n : names) keys.insert(NameKey(n));
  }
  void Take(const std::string& name) { keys.insert(NameKey(name)); }
  NameTakenFn Fn() const {
    return [this](std::string_view key) { return keys.count(std::string(key)) != 0; };
  }
};

struct UniqueCase {
  const char* label;
  std::string source;
  int32_t l0;
  std::vector<std::string> setA, setB;
  std::string expected;
};

class MakeUniqueNameTest : public ::testing::TestWithParam<UniqueCase> {};

TEST_P(MakeUniqueNameTest, FirstFreeCandidate) {
  const UniqueCase& c = GetParam();
  NameSet a, b;
  for (const auto& n : c.setA) a.Take(n);
  for (const auto& n : c.setB) b.Take(n);
  std::string newName = "junk";
  EXPECT_TRUE(MakeUniqueName(c.source, c.l0, a.Fn(), b.Fn(), newName));
  EXPECT_EQ(newName, c.expected);
}

std::vector<std::string> Letters(const std::string& prefix) {
  std::vector<std::string> out;
  for (char ch = 'a'; ch <= 'z'; ++ch) out.push_back(prefix + ch);
  return out;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakeUniqueNameTest,
    ::testing::Values(
        UniqueCase{"ShortNameGetsOneLetter", "abc", 9, {"abc"}, {}, "abca"},
        UniqueCase{"LongNameCutToNine", "abcdefghijk", 9, {"abcdefghijk"}, {}, "abcdefghia"},
        UniqueCase{"KeepsCaseSkipsCaseInsensitiveClash", "Abc", 9, {"abc", "abca"}, {}, "Abcb"},
        UniqueCase{"SetBBlocksToo", "abc", 9, {"abc"}, {"ABCA"}, "abcb"},
        UniqueCase{"PassTwoUsesShorterPrefix", "abcdefghijk", 9, Letters("abcdefghi"), {}, "abcdefghaa"},
        // Pass 2 goes aa..az before ba; one-letter candidates split over both sets.
        UniqueCase{"PassTwoDictionaryOrder", "abc", 9,
                   Concat(Letters("abc"), Letters("abca")), {}, "abcba"},
        UniqueCase{"EmptySourceSingleLetters", "", 9, {}, {}, "a"},
        UniqueCase{"EmptySourceTwoLetters", "", 9, Letters(""), {}, "aa"},
        // Full-width Ａ and ａ are different names; only ASCII folds.
        UniqueCase{"FullWidthCaseIsDistinct", "\xA3\xC1", 29, {"\xA3\xE1" "a"}, {}, "\xA3\xC1" "a"},
        // A trail byte in A..Z is not a letter.
        UniqueCase{"TrailByteNotFolded", "\x81\x41", 29, {"\x81\x61" "a"}, {}, "\x81\x41" "a"},
        UniqueCase{"CharacterLeadAt29", std::string(28, 'x') + kZhong, 29, {}, {}, std::string(28, 'x') + "a"},
        UniqueCase{"ExactL0KeepsAll", std::string(29, 'x'), 29, {}, {}, std::string(29, 'x') + "a"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(MakeUniqueName, TriesEveryCandidateInPassOrderThenGivesUp) {
  const std::string source = "abcdefghijk";
  std::vector<std::string> tried;
  const NameTakenFn all = [&tried](std::string_view key) {
    tried.emplace_back(key);
    return true;
  };
  const NameTakenFn none = [](std::string_view) { return false; };
  std::string newName;
  EXPECT_FALSE(MakeUniqueName(source, kAccountNameKeep, all, none, newName));
  EXPECT_EQ(newName, "abcdefzzzz");

  ASSERT_EQ(tried.size(), static_cast<size_t>(kUniqueNameCandidates));
  // Each pass cuts Source itself one byte shorter and adds one more letter.
  const size_t passStart[] = {0, 26, 26 + 676, 26 + 676 + 17576};
  EXPECT_EQ(tried[passStart[0]], "abcdefghia");
  EXPECT_EQ(tried[passStart[1] - 1], "abcdefghiz");
  EXPECT_EQ(tried[passStart[1]], "abcdefghaa");
  EXPECT_EQ(tried[passStart[1] + 26], "abcdefghba");
  EXPECT_EQ(tried[passStart[2]], "abcdefgaaa");
  EXPECT_EQ(tried[passStart[3]], "abcdefaaaa");
  EXPECT_EQ(tried.back(), "abcdefzzzz");
}

TEST(MakeUniqueName, KeysAreNameKeysOfCandidates) {
  std::vector<std::string> tried;
  const NameTakenFn record = [&tried](std::string_view key) {
    tried.emplace_back(key);
    return tried.size() < 3;
  };
  const NameTakenFn none = [](std::string_view) { return false; };
  std::string newName;
  ASSERT_TRUE(MakeUniqueName("ABc" + kZhong, kCharNameKeep, record, none, newName));
  EXPECT_EQ(newName, "ABc" + kZhong + "c");
  EXPECT_EQ(tried, (std::vector<std::string>{"abc" + kZhong + "a", "abc" + kZhong + "b", "abc" + kZhong + "c"}));
}

// Guild names are file names: a candidate that differs from a taken name
// only in a fullwidth letter's case is taken too, and the name keeps its case.
TEST(MakeUniqueName, KeysAreTheGivenKeysOfCandidates) {
  const std::string fullB = "\xA3\xC2";  // fullwidth B; its lower case is A3 E2
  std::set<std::string> taken{FileNameKey("\xA3\xE2" "eta") + "a"};
  const NameTakenFn inA = [&taken](std::string_view key) { return taken.count(std::string(key)) > 0; };
  const NameTakenFn none = [](std::string_view) { return false; };
  std::string newName;
  ASSERT_TRUE(MakeUniqueName(fullB + "ETa", kCharNameKeep, inA, none, newName, FileNameKey));
  EXPECT_EQ(newName, fullB + "ETab");
  ASSERT_TRUE(MakeUniqueName(fullB + "ETa", kCharNameKeep, inA, none, newName));  // the name key tells them apart
  EXPECT_EQ(newName, fullB + "ETaa");
}

TEST(MakeUniqueNameOrThrow, ExhaustionEndsTheRunNamingInstanceAndName) {
  const NameTakenFn all = [](std::string_view) { return true; };
  try {
    MakeUniqueNameOrThrow(NameInstance::Account, "ab" + kZhong, kAccountNameKeep, all, all);
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("帐号"), std::string::npos) << what;
    EXPECT_NE(what.find("ab中"), std::string::npos) << what;
  }
  EXPECT_THROW(ThrowNoFreeName(NameInstance::Guild, "x"), std::runtime_error);
}

TEST(MakeUniqueNameOrThrow, ReturnsFreeName) {
  NameSet a{"abc"};
  NameSet b;
  EXPECT_EQ(MakeUniqueNameOrThrow(NameInstance::Character, "abc", kCharNameKeep, a.Fn(), b.Fn()), "abca");
}

}  // namespace
}  // namespace razere
