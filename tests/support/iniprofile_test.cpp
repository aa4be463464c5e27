#include "support/iniprofile.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/platform_temp_dir.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::TempDir;

struct WriteCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

// A write changes only what it must; every other byte stays.
TEST(IniWrite, KeepsUnrelatedContentByteForByte) {
  const WriteCase cases[] = {
      {"update in place", "[Setup]\r\nA=1\r\nB=2\r\n[X]\r\nB=7\r\n", "Setup", "B", "3",
       "[Setup]\r\nA=1\r\nB=3\r\n[X]\r\nB=7\r\n"},
      {"update keeps blanks around the equals sign", "[s]\r\n  Key = old  \r\n", "s", "Key", "new",
       "[s]\r\n  Key = new\r\n"},
      {"update of an empty value", "[s]\r\nk=\r\n", "s", "k", "v", "[s]\r\nk=v\r\n"},
      {"value with blanks inside", "[s]\r\nk=1\r\n", "s", "k", "a b", "[s]\r\nk=a b\r\n"},
      {"key case differs", "[Setup]\r\nMinDay=90\r\n", "Setup", "MINDAY", "30", "[Setup]\r\nMinDay=30\r\n"},
      {"section case differs", "[SETUP]\r\nMinDay=90\r\n", "setup", "minday", "30", "[SETUP]\r\nMinDay=30\r\n"},
      {"section header with blanks", "  [ Setup ]  \r\nA=1\r\n", "Setup", "A", "2", "  [ Setup ]  \r\nA=2\r\n"},
      {"new key after the last non-blank line", "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", "a", "z", "3",
       "[a]\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\n"},
      {"new key in the last section", "[a]\r\nx=1\r\n\r\n\r\n", "A", "y", "2", "[a]\r\nx=1\r\ny=2\r\n\r\n\r\n"},
      {"new key in an empty section", "[a]\r\n[b]\r\n", "a", "k", "v", "[a]\r\nk=v\r\n[b]\r\n"},
      {"new key after a comment", "[a]\r\nx=1\r\n; note\r\n[b]\r\n", "a", "k", "v",
       "[a]\r\nx=1\r\n; note\r\nk=v\r\n[b]\r\n"},
      {"new section at the end", "[a]\r\nx=1\r\n", "b", "k", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
      {"new section after blank lines", "[a]\r\nx=1\r\n\r\n", "b", "k", "v", "[a]\r\nx=1\r\n\r\n[b]\r\nk=v\r\n"},
      {"empty file", "", "s", "k", "v", "[s]\r\nk=v\r\n"},
      {"lf file: updated line keeps lf", "[a]\nx=1\ny=2\n", "a", "x", "5", "[a]\nx=5\ny=2\n"},
      {"lf file: new line is crlf", "[a]\nx=1\n; c\n\n", "a", "y", "2", "[a]\nx=1\n; c\ny=2\r\n\n"},
      {"cr file", "[a]\rx=1\r", "a", "x", "2", "[a]\rx=2\r"},
      {"mixed endings", "[a]\nx=1\r\n[b]\ry=1\n", "b", "y", "9", "[a]\nx=1\r\n[b]\ry=9\n"},
      {"no final break: update", "[a]\r\nx=1", "a", "x", "5", "[a]\r\nx=5"},
      {"no final break: new key", "[a]\r\nx=1", "a", "y", "2", "[a]\r\nx=1\r\ny=2\r\n"},
      {"no final break: new section", "[a]\r\nx=1", "b", "k", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
      {"no final break: header only", "[a]", "a", "k", "v", "[a]\r\nk=v\r\n"},
      {"lines without = or ]", "[a]\r\njunk line\r\n[broken\r\nx=1\r\n", "a", "x", "2",
       "[a]\r\njunk line\r\n[broken\r\nx=2\r\n"},
      {"new key after unparsed lines", "[a]\r\nx=1\r\njunk\r\n\r\n[b]\r\n", "a", "n", "1",
       "[a]\r\nx=1\r\njunk\r\nn=1\r\n\r\n[b]\r\n"},
      {"key before any section is not in it", "x=1\r\n[a]\r\n", "a", "x", "2", "x=1\r\n[a]\r\nx=2\r\n"},
      {"commented key is not a key", "[a]\r\n;x=1\r\n", "a", "x", "2", "[a]\r\n;x=1\r\nx=2\r\n"},
      {"prefix of a key is another key", "[a]\r\nxy=1\r\n", "a", "x", "2", "[a]\r\nxy=1\r\nx=2\r\n"},
      {"first of two keys is updated", "[a]\r\nx=1\r\nx=2\r\n", "a", "x", "3", "[a]\r\nx=3\r\nx=2\r\n"},
      {"repeated section: key in the second", "[a]\r\nx=1\r\n[b]\r\n[a]\r\ny=1\r\n", "a", "y", "2",
       "[a]\r\nx=1\r\n[b]\r\n[a]\r\ny=2\r\n"},
      {"repeated section: new key goes to the first", "[a]\r\n[b]\r\n[a]\r\n", "a", "k", "v",
       "[a]\r\nk=v\r\n[b]\r\n[a]\r\n"},
      {"value equal to the stored one: untouched", "[a]\r\nx=1   \r\n", "a", "x", "1", "[a]\r\nx=1   \r\n"},
      {"gbk text and invalid bytes kept", "[\xD0\xD0\xBB\xE1]\r\n\xC3\xFB=\xD6\xD0\r\n\xFF\x81 raw\r\n",
       "\xE8\xA1\x8C\xE4\xBC\x9A", "\xE5\x90\x8D", "\xE5\x95\x8A",  // [行会] 名=啊
       "[\xD0\xD0\xBB\xE1]\r\n\xC3\xFB=\xB0\xA1\r\n\xFF\x81 raw\r\n"},
      {"key and section names are trimmed", "", " s ", " k ", "v", "[s]\r\nk=v\r\n"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const auto path = dir.Write("t.ini", c.before);
    IniWriteString(path, c.section, c.key, c.value);
    EXPECT_EQ(TempDir::Read(path), c.after) << c.name;
    EXPECT_EQ(IniReadString(path, c.section, c.key, "?"), c.value) << c.name;
  }
}

TEST(IniWrite, CreatesMissingFile) {
  TempDir dir;
  const auto path = dir / "Config.ini";
  IniWriteString(path, "Setup", "MinDay", "90");
  IniWriteString(path, "Setup", "SavePath", "D:\\Out\\");
  IniWriteString(path, "Master", "ID", "E:\\S\\LoginSrv\\IDDB\\ID.DB");
  EXPECT_EQ(TempDir::Read(path),
            "[Setup]\r\nMinDay=90\r\nSavePath=D:\\Out\\\r\n[Master]\r\nID=E:\\S\\LoginSrv\\IDDB\\ID.DB\r\n");
}

TEST(IniWrite, ByteOrderMarkFileKeepsItsEncoding) {
  TempDir dir;
  // The line "u=..." holds text GBK lacks (ก) and, in UTF-16, an unpaired surrogate.
  const struct {
    TextEncoding encoding;
    std::string oldLine;
  } cases[] = {
      {TextEncoding::Utf8Bom, "u=\xE0\xB8\x81\n"},
      {TextEncoding::Utf16LE, "u=\xE0\xB8\x81\xED\xA0\x80\n"},
      {TextEncoding::Utf16BE, "u=\xE0\xB8\x81\xED\xB2\x81\n"},
  };
  for (const auto& c : cases) {
    const std::string before = EncodeText("[s]\r\n" + c.oldLine + "x=1\r\n", c.encoding);
    const auto path = dir.Write("bom.ini", before);
    IniWriteString(path, "s", "x", "\xE4\xB8\xAD");  // 中
    IniWriteString(path, "t", "k", "v");
    EXPECT_EQ(TempDir::Read(path),
              EncodeText("[s]\r\n" + c.oldLine + "x=\xE4\xB8\xAD\r\n[t]\r\nk=v\r\n", c.encoding))
        << static_cast<int>(c.encoding);
    EXPECT_EQ(IniReadString(path, "s", "u", ""), c.oldLine.substr(2, c.oldLine.size() - 3));
  }
}

TEST(IniWrite, RejectsWhatCannotBeStored) {
  TempDir dir;
  const std::string before = "[s]\r\nk=1\r\n";
  const auto path = dir.Write("t.ini", before);
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"s", "k", "two\r\nlines"}, {"s", "k", "cr\r"},   {"s", "a=b", "1"}, {"s", "[k]", "1"},
      {"s", ";k", "1"},           {"a]b", "k", "1"},    {"a\nb", "k", "1"}, {"s", "k\n", "1"},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(IniWriteString(path, c.section, c.key, c.value), std::runtime_error)
        << c.section << " " << c.key;
  }
  EXPECT_EQ(TempDir::Read(path), before);
}

// A path that exists but cannot be read is never overwritten by a write that
// would otherwise start from an empty file.
TEST(IniWrite, UnreadableFileIsNotOverwritten) {
  TempDir dir;
  const auto path = dir / "dir.ini";
  fs::create_directory(path);
  fs::create_directory(path / "inside");
  EXPECT_EQ(IniReadString(path, "s", "k", "def"), "def");
  EXPECT_THROW(IniWriteString(path, "s", "k", "v"), std::runtime_error);
  EXPECT_TRUE(fs::is_directory(path / "inside"));
}

TEST(IniRead, MatchesAndTrims) {
  TempDir dir;
  const auto path = dir.Write("r.ini",
                              "top=0\r\n"
                              "[Setup]\r\n"
                              "  SavePath =  D:\\Out\\ \t\r\n"
                              "MinDay=90\r\n"
                              ";Hidden=1\r\n"
                              "junk\r\n"
                              "Empty=\r\n"
                              "Eq=a=b\r\n"
                              "[Guild]\r\n"
                              "MinDay=7\r\n"
                              "[\xD0\xD0\xBB\xE1]\r\n"  // [行会]
                              "\xC3\xFB=\xD6\xD0\xCE\xC4\r\n");  // 名=中文
  const struct {
    const char* section;
    const char* key;
    std::string expected;
  } cases[] = {
      {"Setup", "SavePath", "D:\\Out\\"},
      {"setup", "savepath", "D:\\Out\\"},
      {" Setup ", " SavePath ", "D:\\Out\\"},
      {"Setup", "MinDay", "90"},
      {"GUILD", "minday", "7"},
      {"Setup", "Empty", ""},
      {"Setup", "Eq", "a=b"},
      {"Setup", "Hidden", "<def>"},
      {"Setup", ";Hidden", "<def>"},
      {"Setup", "junk", "<def>"},
      {"Setup", "top", "<def>"},
      {"Setup", "Missing", "<def>"},
      {"Nope", "MinDay", "<def>"},
      {"\xE8\xA1\x8C\xE4\xBC\x9A", "\xE5\x90\x8D", "\xE4\xB8\xAD\xE6\x96\x87"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IniReadString(path, c.section, c.key, "<def>"), c.expected) << c.section << "/" << c.key;
  }
  EXPECT_EQ(IniReadString(dir / "missing.ini", "Setup", "MinDay", "d"), "d");
  EXPECT_FALSE(fs::exists(dir / "missing.ini"));
  // A default loses its trailing spaces, as with the platform's functions;
  // leading ones and other blanks stay.
  EXPECT_EQ(IniReadString(path, "Setup", "Missing", " d \t  "), " d \t");
  EXPECT_EQ(IniReadString(path, "Setup", "Missing", "   "), "");
}

// One matching pair of quotes around a value is not part of it, as the
// platform's profile functions read it; anything else keeps its quotes.
TEST(IniRead, AMatchingPairOfQuotesIsDropped) {
  TempDir dir;
  const auto path = dir.Write("q.ini",
                              "[Setup]\r\n"
                              "SavePath=\"D:\\\xBA\xCF\xC7\xF8\\\"\r\n"  // "D:\合区\"
                              "Single= 'x y' \r\n"
                              "Mixed=\"a'\r\n"
                              "One=\"\r\n"
                              "Two=\"\"\r\n"
                              "Inner=a\"b\"\r\n"
                              "Nested=\"'a'\"\r\n"
                              "MinDay=\"30\"\r\n");
  const struct {
    const char* key;
    std::string expected;
  } cases[] = {
      {"SavePath", "D:\\\xE5\x90\x88\xE5\x8C\xBA\\"},
      {"Single", "x y"},
      {"Mixed", "\"a'"},
      {"One", "\""},
      {"Two", ""},
      {"Inner", "a\"b\""},
      {"Nested", "'a'"},
  };
  for (const auto& c : cases) EXPECT_EQ(IniReadString(path, "Setup", c.key, "<def>"), c.expected) << c.key;
  const IniProfile ini(path);
  EXPECT_EQ(ini.ReadInt("Setup", "MinDay", -1), 30);
  EXPECT_EQ(ini.ReadSectionValues("Setup").front().value, "D:\\\xE5\x90\x88\xE5\x8C\xBA\\");

  // Written values stay as they are given.
  IniWriteString(path, "Setup", "Out", "\"quoted\"");
  EXPECT_NE(TempDir::Read(path).find("Out=\"quoted\"\r\n"), std::string::npos);
}

// The listing sees exactly the lines ReadString would read, the empty key
// included: leaving it out is the caller's choice.
TEST(IniRead, SectionValuesListTheKeysReadStringFinds) {
  TempDir dir;
  const auto path = dir.Write("l.ini",
                              "k0=before any section\r\n"
                              "[Apply]\r\n"
                              "  B = two \r\n"
                              ";c=comment\r\n"
                              "junk\r\n"
                              "=empty key\r\n"
                              "a=1\r\n"
                              "b=repeated\r\n"
                              "[Other]\r\n"
                              "o=1\r\n"
                              " [ APPLY ] \r\n"
                              "A=repeated in a later section\r\n"
                              "c=" + std::string(2100, 'x') + "\r\n"
                              "=second empty key\r\n");
  const IniProfile ini(path);
  const std::vector<IniKeyValue> values = ini.ReadSectionValues(" apply ");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"B", "two"}, {"", "empty key"}, {"a", "1"}, {"c", std::string(2047, 'x')}};
  ASSERT_EQ(values.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(values[i].key, expected[i].first);
    EXPECT_EQ(values[i].value, expected[i].second);
    EXPECT_EQ(ini.ReadString("Apply", values[i].key, "<def>"), values[i].value);
  }
  EXPECT_TRUE(ini.ReadSectionValues("Missing").empty());
  EXPECT_TRUE(IniProfile(dir / "none.ini").ReadSectionValues("Apply").empty());
}

TEST(IniRead, LongValueIsCutTo2047Units) {
  TempDir dir;
  const std::string cjk = "\xD6\xD0";                   // 中 in GBK
  const std::string cjkUtf8 = "\xE4\xB8\xAD";           // 中 in UTF-8
  const std::string emojiUtf8 = "\xF0\x9F\x98\x80";     // 😀, two UTF-16 units
  std::string gbkValue;
  for (int i = 0; i < 3000; ++i) gbkValue += cjk;
  const auto path = dir.Write("long.ini", "[s]\r\na=" + std::string(3000, 'x') + "\r\nc=" + gbkValue + "\r\n");
  EXPECT_EQ(IniReadString(path, "s", "a", ""), std::string(2047, 'x'));
  std::string cjk2047;
  for (int i = 0; i < 2047; ++i) cjk2047 += cjkUtf8;
  EXPECT_EQ(IniReadString(path, "s", "c", ""), cjk2047);

  IniProfile ini(dir / "pair.ini");
  ini.WriteString("s", "e", std::string(2046, 'y') + emojiUtf8);
  EXPECT_EQ(ini.ReadString("s", "e", ""), std::string(2046, 'y'));  // the pair is not split
  ini.WriteString("s", "f", std::string(2045, 'y') + emojiUtf8);
  EXPECT_EQ(ini.ReadString("s", "f", ""), std::string(2045, 'y') + emojiUtf8);
}

TEST(IniRead, Integers) {
  const struct {
    const char* text;
    bool allowDollar;
    int32_t expected;  // -777 = the default
  } cases[] = {
      {"42", false, 42},
      {"  42  ", false, 42},
      {"-42", false, -42},
      {"+7", false, 7},
      {"007", false, 7},
      {"0x1F", false, 31},
      {"0X1f", false, 31},
      {"-0x10", false, -16},
      {"$1F", true, 31},
      {"$1F", false, -777},
      {"-$10", true, -16},
      {"2147483647", false, INT32_MAX},
      {"2147483648", false, -777},
      {"-2147483648", false, INT32_MIN},
      {"-2147483649", false, -777},
      {"0x7FFFFFFF", false, INT32_MAX},
      {"0x80000000", false, -777},
      {"0xFFFFFFFF", false, -777},
      {"-0x80000000", false, INT32_MIN},
      {"99999999999999999999999999", false, -777},
      {"0x00000000000000000001", false, 1},
      {"", false, -777},
      {"12abc", false, -777},
      {"1 2", false, -777},
      {"0x", false, -777},
      {"$", true, -777},
      {"--1", false, -777},
      {"+", false, -777},
      {"0xG", false, -777},
      {"1.5", false, -777},
      {"\xEF\xBC\x91", false, -777},  // fullwidth digit one
  };
  TempDir dir;
  for (const auto& c : cases) {
    const auto path = dir.Write("n.ini", std::string("[s]\r\nn=") + c.text + "\r\n");
    EXPECT_EQ(IniReadInt(path, "s", "n", -777, c.allowDollar), c.expected) << "'" << c.text << "'";
  }
  EXPECT_EQ(IniReadInt(dir / "missing.ini", "s", "n", 5), 5);
}

TEST(IniDelete, RemovesOnlyTheKeyLines) {
  const struct {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"middle line", "[a]\r\nx=1\r\nk=2\r\ny=3\r\n", "[a]\r\nx=1\r\ny=3\r\n"},
      {"every line of the key", "[a]\r\nk=1\r\n[b]\r\nk=5\r\n[A]\r\nK=2\r\n", "[a]\r\n[b]\r\nk=5\r\n[A]\r\n"},
      {"last line without break", "[a]\nx=1\nk=2", "[a]\nx=1\n"},
      {"missing key: untouched", "[a]\nx=1", "[a]\nx=1"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const auto path = dir.Write("d.ini", c.before);
    IniDeleteKey(path, "a", "k");
    EXPECT_EQ(TempDir::Read(path), c.after) << c.name;
  }
  IniDeleteKey(dir / "missing.ini", "a", "k");
  EXPECT_FALSE(fs::exists(dir / "missing.ini"));
}

TEST(IniProfileObject, ManyChangesOneSave) {
  TempDir dir;
  const auto path = dir.Write("p.ini", "; settings\n[Setup]\nItemNumber=10\n");
  IniProfile ini(path);
  ini.WriteString("Setup", "ItemNumber", "250");
  ini.WriteString("Setup", "ItemNumberEx", "1073741824");
  ini.WriteString("Guild", "Notice", "\xE5\x85\xAC\xE5\x91\x8A");  // 公告
  EXPECT_EQ(ini.ReadInt("setup", "itemnumber", 0), 250);
  EXPECT_EQ(TempDir::Read(path), "; settings\n[Setup]\nItemNumber=10\n");  // nothing written yet
  ini.Save();
  EXPECT_EQ(TempDir::Read(path),
            "; settings\n[Setup]\nItemNumber=250\nItemNumberEx=1073741824\r\n[Guild]\r\nNotice=\xB9\xAB\xB8\xE6\r\n");
  EXPECT_EQ(IniReadInt(path, "Setup", "ItemNumberEx", 0), 1073741824);

  // Nothing changed: a missing file is not created.
  IniProfile empty(dir / "none.ini");
  EXPECT_EQ(empty.ReadString("s", "k", "d"), "d");
  empty.Save();
  EXPECT_FALSE(fs::exists(dir / "none.ini"));
}

}  // namespace
}  // namespace razere
