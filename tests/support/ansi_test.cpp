#include "support/ansi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <clocale>
#include <cwctype>
#include <locale.h>
#endif

#include "fixtures/files.h"
#include "support/file_system.h"
#include "support/gbk_table.h"
#include "support/utf8.h"

namespace razere {
namespace {

using namespace std::string_literals;

// Both builds must convert every byte sequence alike: the Windows build
// (code page 936 from the system) against the table the Linux build (iconv)
// wrote, named by RAZERE_GBK_TABLE (scripts/build-windows sets it).
TEST(AnsiGbkTable, EqualsTheTableOfTheLinuxBuild) {
  const char* file = std::getenv("RAZERE_GBK_TABLE");
  if (file == nullptr || *file == '\0') GTEST_SKIP() << "RAZERE_GBK_TABLE names no table";
  std::ifstream in(file, std::ios::binary);
  ASSERT_TRUE(in) << file;
  std::stringstream expected;
  expected << in.rdbuf();
  std::istringstream want(expected.str()), have(testing::GbkTableText());
  std::string w, h;
  int differences = 0, lines = 0;
  while (std::getline(want, w)) {
    ++lines;
    if (!std::getline(have, h)) h = "(missing)";
    if (w != h && ++differences <= 20) ADD_FAILURE() << "Linux: " << w << "\nhere:  " << h;
  }
  EXPECT_EQ(differences, 0);
  EXPECT_EQ(lines, 128 + 126 * 192 + (0x10000 - 0x80 - 0x800));  // bytes, pairs, BMP characters
  EXPECT_FALSE(std::getline(have, h)) << "more lines here than in the table: " << h;
}

TEST(AnsiLeadByte, Range) {
  EXPECT_FALSE(IsLeadByte(0x00));
  EXPECT_FALSE(IsLeadByte(0x7F));
  EXPECT_FALSE(IsLeadByte(0x80));
  EXPECT_TRUE(IsLeadByte(0x81));
  EXPECT_TRUE(IsLeadByte(0xFE));
  EXPECT_FALSE(IsLeadByte(0xFF));
}

struct ConvCase {
  const char* name;
  std::string gbk;
  std::string utf8;
};

TEST(AnsiGbkToUtf8, DecodesAndEscapes) {
  const ConvCase cases[] = {
      {"ascii", "abc 123\r\n", "abc 123\r\n"},
      {"cjk", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},                       // 中文
      {"trail is ascii capital", "\x81\x41", "\xE4\xB8\x84"},                        // 丄
      {"euro single byte", "\x80", "\xE2\x82\xAC"},
      {"fullwidth A", "\xA3\xC1", "\xEF\xBC\xA1"},
      {"0xFF escaped", "\xFF", "\xED\xB3\xBF"},                                      // U+DCFF
      {"lone lead at end", "a\x81", "a\xED\xB2\x81"},                                // U+DC81
      {"lead before space", "\x81 x", "\xED\xB2\x81 x"},
      {"lead before DEL", "\x81\x7F", "\xED\xB2\x81\x7F"},
      {"lead before line feed", "\xB0\n\xB0\xA1", "\xED\xB2\xB0\n\xE5\x95\x8A"},  // then 啊
      {"user-defined area", "\xAA\xA1", "\xED\xB2\xAA\xED\xB2\xA1"},
      {"nul kept", "a\0b"s, "a\0b"s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8) << c.name;
    bool lossy = false;
    EXPECT_EQ(Utf8ToGbk(c.utf8, &lossy), c.gbk) << c.name;
    EXPECT_FALSE(lossy) << c.name;
  }
}

// Every one- and two-byte string, and long random buffers, come back byte
// for byte: the decode never loses information.
TEST(AnsiGbkToUtf8, LosslessForAnyBytes) {
  for (int a = 0; a < 256; ++a) {
    const std::string one(1, static_cast<char>(a));
    ASSERT_EQ(Utf8ToGbk(GbkToUtf8(one)), one) << a;
    for (int b = 0; b < 256; ++b) {
      const std::string two{static_cast<char>(a), static_cast<char>(b)};
      bool lossy = false;
      ASSERT_EQ(Utf8ToGbk(GbkToUtf8(two), &lossy), two) << a << " " << b;
      ASSERT_FALSE(lossy);
    }
  }
  std::mt19937 rng(12345);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(4096, '\0');
    for (auto& ch : bytes) ch = static_cast<char>(rng() & 0xFF);
    ASSERT_EQ(Utf8ToGbk(GbkToUtf8(bytes)), bytes) << round;
  }
}

TEST(AnsiUtf8ToGbk, UnmappableBecomesQuestionMark) {
  const struct {
    const char* name;
    std::string utf8;
    std::string gbk;
  } cases[] = {
      {"emoji", "a\xF0\x9F\x98\x80z", "a?z"},
      {"thai", "\xE0\xB8\x81", "?"},
      {"overlong nul", "\xC0\x80", "??"},
      {"truncated sequence", "\xE4\xB8", "??"},
      {"lone high surrogate", "\xED\xA0\x80", "?"},
      {"escape of an ascii byte", "\xED\xB1\x81", "?"},  // U+DC41 is not an escape
  };
  for (const auto& c : cases) {
    bool lossy = false;
    EXPECT_EQ(Utf8ToGbk(c.utf8, &lossy), c.gbk) << c.name;
    EXPECT_TRUE(lossy) << c.name;
  }
  // The flag collects over calls: a clean conversion does not reset it.
  bool lossy = true;
  EXPECT_EQ(Utf8ToGbk("ok", &lossy), "ok");
  EXPECT_TRUE(lossy);
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80"), "?");  // no flag given
}

TEST(AnsiNameKey, FoldsOnlySingleByteAsciiLetters) {
  const struct {
    const char* name;
    std::string in;
    std::string key;
  } cases[] = {
      {"ascii", "AbC-xyZ_09", "abc-xyz_09"},
      {"empty", "", ""},
      {"cjk", "\xD6\xD0\xCE\xC4", "\xD6\xD0\xCE\xC4"},
      {"trail 0x41 kept", "\x81\x41", "\x81\x41"},
      {"trail 0x5A kept", "\x81\x5A", "\x81\x5A"},
      {"letters around a pair", "AB\x81\x41" "CD", "ab\x81\x41" "cd"},
      {"pair of lead bytes then letter", "\x81\x81" "A", "\x81\x81" "a"},
      {"lone lead at end", "AB\x81", "ab\x81"},
      {"lead before newline", "\x81\nA", "\x81\na"},
      {"0x80 is single byte", "\x80" "A", "\x80" "a"},
      {"0xFF is single byte", "\xFF" "A", "\xFF" "a"},
      {"fullwidth letter untouched", "\xA3\xC1", "\xA3\xC1"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameKey(c.in), c.key) << c.name;
  // 丄 (81 41) and 乤 (81 61) differ only in the trail byte's ASCII case.
  EXPECT_NE(NameKey("\x81\x41"), NameKey("\x81\x61"));
  EXPECT_EQ(NameKey("Hero\xD6\xD0"), NameKey("hERO\xD6\xD0"));
}

// The write pass compares a record's name with the loaded one this way; it
// must say "same" exactly when the keys are equal. Few bytes, mostly letters
// and lead bytes, so that equal keys and shifted character boundaries
// (a lead byte whose trail is a letter) both come up often.
TEST(AnsiNameKey, SameNameKeyAgreesWithComparingTheKeys) {
  const char alphabet[] = {'A', 'a', 'b', 'B', '\x81', '\xD6'};
  std::mt19937 rng(11);
  auto name = [&] {
    std::string s(static_cast<size_t>(rng() % 5), '\0');
    for (char& c : s) c = alphabet[rng() % sizeof alphabet];
    return s;
  };
  int same = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string a = name();
    const std::string b = name();
    const bool expected = NameKey(a) == NameKey(b);
    ASSERT_EQ(SameNameKey(a, b), expected) << ::testing::PrintToString(a) << " " << ::testing::PrintToString(b);
    same += expected ? 1 : 0;
  }
  EXPECT_GT(same, 500);  // the table above reached both answers
}

// Bytes of a fullwidth, Greek, Cyrillic or Roman numeral letter.
std::string Gbk2(unsigned lead, unsigned trail) {
  return {static_cast<char>(lead), static_cast<char>(trail)};
}

TEST(AnsiFileNameKey, FoldsEveryGbkLetterPairAndAsciiButNoTrailByte) {
  const struct {
    const char* name;
    std::string in;
    std::string key;
  } cases[] = {
      {"ascii as the name key", "AbC-xyZ_09", "abc-xyz_09"},
      {"empty", "", ""},
      {"fullwidth B", "\xA3\xC2" "ETa", "\xA3\xE2" "eta"},
      {"fullwidth b stays", "\xA3\xE2" "ETa", "\xA3\xE2" "eta"},
      {"fullwidth A and Z, the ends of the run", "\xA3\xC1\xA3\xDA", "\xA3\xE1\xA3\xFA"},
      {"fullwidth @ and [ beside the run", "\xA3\xC0\xA3\xDB", "\xA3\xC0\xA3\xDB"},
      {"fullwidth digit", "\xA3\xB1", "\xA3\xB1"},
      {"Greek Alpha and Omega", "\xA6\xA1\xA6\xB8", "\xA6\xC1\xA6\xD8"},
      {"Greek past Omega", "\xA6\xB9", "\xA6\xB9"},
      {"Cyrillic A, IO and YA", "\xA7\xA1\xA7\xA7\xA7\xC1", "\xA7\xD1\xA7\xD7\xA7\xF1"},
      {"Cyrillic past YA", "\xA7\xC2", "\xA7\xC2"},
      {"Roman numerals I and X", "\xA2\xF1\xA2\xFA", "\xA2\xA1\xA2\xAA"},
      {"Roman numeral XI has no lower case in GBK", "\xA2\xFB", "\xA2\xFB"},
      {"a letter run's trail under another lead", "\xB0\xC1\xD6\xD0", "\xB0\xC1\xD6\xD0"},
      {"mixed with ASCII case", "Dr\xA3\xC1Gon\xA6\xA3", "dr\xA3\xE1gon\xA6\xC3"},
      // 丄 (81 41): its trail byte is an ASCII 'A' and is never folded.
      {"trail byte 0x41 kept", "\x81\x41" "A", "\x81\x41" "a"},
      {"trail byte 0x5A kept", "\x81\x5A", "\x81\x5A"},
      {"lone lead at end", "A\xA3", "a\xA3"},
      {"lead byte swallows what follows", "\xA3" "A", "\xA3" "A"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileNameKey(c.in), c.key) << c.name;
    EXPECT_EQ(NameKey(FileNameKey(c.in)), FileNameKey(c.in)) << c.name << ": folds at least what NameKey folds";
  }
  EXPECT_EQ(FileNameKey("\xA3\xC2" "ETa"), FileNameKey("\xA3\xE2" "eta"));
  EXPECT_NE(FileNameKey("\x81\x41"), FileNameKey("\x81\x61"));
}

// Every double-byte GBK character and its code point; invalid pairs left out.
std::vector<std::pair<std::string, char32_t>> GbkDoubleByteCharacters() {
  std::vector<std::pair<std::string, char32_t>> out;
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string gbk = Gbk2(lead, trail);
      const std::string utf8 = GbkToUtf8(gbk);
      char32_t cp = 0;
      if (DecodeUtf8At(utf8, 0, cp, true) != utf8.size() || IsSurrogate(cp)) continue;
      out.emplace_back(gbk, cp);
    }
  }
  return out;
}

// The upper case of one code point as the platform's own tables give it:
// what Windows' file systems compare file names by.
std::optional<char32_t> UpperCase(char32_t cp) {
#if defined(_WIN32)
  if (cp > 0xFFFF) return cp;
  wchar_t c = static_cast<wchar_t>(cp);
  CharUpperBuffW(&c, 1);
  return static_cast<char32_t>(c);
#else
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) return std::nullopt;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8));
#endif
}

// Two GBK characters have one file name key exactly when they have one upper
// case: every pair the platform folds is folded, nothing else is.
TEST(AnsiFileNameKey, FoldsTheCasePairsOfTheGbkTableAndNothingElse) {
  if (!UpperCase(U'a')) GTEST_SKIP() << "no C.UTF-8 locale to take the upper case from";
  std::map<char32_t, std::set<std::string>> byUpper;
  std::map<std::string, std::set<std::string>> byKey;
  int folded = 0;
  for (const auto& [gbk, cp] : GbkDoubleByteCharacters()) {
    byUpper[*UpperCase(cp)].insert(gbk);
    const std::string key = FileNameKey(gbk);
    byKey[key].insert(gbk);
    if (key != gbk) ++folded;
  }
  for (const auto& [upper, same] : byUpper) {
    EXPECT_EQ(byKey[FileNameKey(*same.begin())], same) << "U+" << std::hex << static_cast<uint32_t>(upper);
  }
  EXPECT_EQ(folded, 26 + 24 + 33 + 10);
}

// What the key stands for: on Windows, two files whose names differ only by
// one of these pairs are one file; a trail byte's ASCII case makes another.
TEST(AnsiFileNameKey, PairsAreOneFileOnWindows) {
#if !defined(_WIN32)
  GTEST_SKIP() << "file names here tell every letter case apart";
#else
  testing::ScratchDir dir;
  int pairs = 0;
  for (const auto& [gbk, cp] : GbkDoubleByteCharacters()) {
    const std::string key = FileNameKey(gbk);
    if (key == gbk) continue;
    ++pairs;
    const std::filesystem::path upper = dir.path() / PathFromText("g" + GbkToUtf8(gbk) + ".txt");
    const std::filesystem::path lower = dir.path() / PathFromText("g" + GbkToUtf8(key) + ".txt");
    testing::WriteBytes(upper, "x");
    EXPECT_TRUE(std::filesystem::exists(lower)) << GbkToUtf8(gbk);
    std::filesystem::remove(lower);
    EXPECT_FALSE(std::filesystem::exists(upper)) << GbkToUtf8(gbk);
  }
  EXPECT_EQ(pairs, 93);
  testing::WriteBytes(dir.path() / PathFromText(GbkToUtf8("\x81\x41")), "x");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / PathFromText(GbkToUtf8("\x81\x61"))));
#endif
}

TEST(AnsiTruncate, CutsOnCharacterBoundary) {
  const struct {
    std::string in;
    size_t max;
    std::string out;
  } cases[] = {
      {"abc", 0, ""},
      {"abc", 2, "ab"},
      {"abc", 9, "abc"},
      {"\xD6\xD0\xCE\xC4", 3, "\xD6\xD0"},
      {"\xD6\xD0\xCE\xC4", 4, "\xD6\xD0\xCE\xC4"},
      {"\xD6\xD0", 1, ""},
      {"a\xD6\xD0", 2, "a"},
      {"\x81\x41\x81\x41", 3, "\x81\x41"},
      {"\x81", 5, "\x81"},  // a lone lead byte that was not cut stays
      {"\xFF\x81\x41", 2, "\xFF"},
      {"\x81\x81\x81\x81", 3, "\x81\x81"},
  };
  for (const auto& c : cases) EXPECT_EQ(TruncateAnsi(c.in, c.max), c.out) << c.max;
}

}  // namespace
}  // namespace razere
