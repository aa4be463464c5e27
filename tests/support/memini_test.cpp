#include "support/memini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace razere {
namespace {

using Lines = std::vector<std::string>;

struct RoundTripCase {
  const char* name;
  Lines in;
  Lines out;
};

TEST(TMemoryIniFile, LoadAndSaveLines) {
  const std::vector<RoundTripCase> cases = {
      {"lines before the first section, comments and lines without = are lost",
       {"top=1", "; note", "[S]", "a=1", "; c", "", "   ", "noequals", "b=2"},
       {"[S]", "a=1", "b=2"}},
      {"sections are sorted, items keep file order",
       {"[b]", "z=1", "y=2", "[A]", "k=v", "[_x]", "q=1", "[a1]"},
       {"[A]", "k=v", "[a1]", "[b]", "z=1", "y=2", "[_x]", "q=1"}},
      {"leading blanks removed, text after the bracket ignored",
       {"  [abc] more text", "x=1"},
       {"[abc]", "x=1"}},
      {"blanks around = are kept; only leading blanks of the line go",
       {"[s]", "  a = b ", "k=v=w", "=empty name", "empty value="},
       {"[s]", "a = b ", "k=v=w", "=empty name", "empty value="}},
      {"an empty section name is written as an empty line without items",
       {"[]", "lost=1", "[b]", "kept=1"},
       {"", "[b]", "kept=1"}},
      {"a section name starting with ; is written alone",
       {"[;x]", "lost=1"},
       {";x"}},
      {"duplicate sections and duplicate items are kept (the sort is not stable: the pair swaps)",
       {"[d]", "a=1", "a=2", "[D]", "a=3"},
       {"[D]", "a=3", "[d]", "a=1", "a=2"}},
      {"a [ without ] is an item line",
       {"[s]", "[open=1", "[nobracket"},
       {"[s]", "[open=1"}},
      {"control characters and NUL bytes lead the line",
       {std::string("\0\t\x01[n]", 6), std::string("\0k=\0v", 5)},
       {"[n]", std::string("k=\0v", 4)}},
      {"name stops at the first ]",
       {"[a]b]", "x=1"},
       {"[a]", "x=1"}},
      {"no sections at all", {"a=1", "b"}, {}},
      {"non-ASCII names", {"[\xE8\xAE\xBE\xE7\xBD\xAE]", "\xE9\x94\xAE=\xE5\x80\xBC"},
       {"[\xE8\xAE\xBE\xE7\xBD\xAE]", "\xE9\x94\xAE=\xE5\x80\xBC"}},
  };
  for (const auto& c : cases) {
    TMemoryIniFile ini(c.in);
    EXPECT_TRUE(ini.LoadOK()) << c.name;
    EXPECT_EQ(ini.SaveToLines(), c.out) << c.name;
  }
}

TEST(TMemoryIniFile, SectionItemsAndFlags) {
  TMemoryIniFile ini({"[b]", "x= 1", "[a]"});
  ASSERT_EQ(ini.Sections().Count(), 2);
  EXPECT_EQ(ini.Sections().Get(0), "a");
  EXPECT_EQ(ini.Sections().GetObject(0)->Count(), 0);
  const TIniValueList& b = *ini.Sections().GetObject(1);
  ASSERT_EQ(b.Count(), 1);
  EXPECT_EQ(b.Names(0), "x");
  EXPECT_EQ(b.Values(0), " 1");
  EXPECT_EQ(b.Items(0).FObject, nullptr);
  EXPECT_THROW(b.Names(1), std::out_of_range);
  EXPECT_TRUE(ini.Changed());
  EXPECT_TRUE(ini.FileName().empty());

  TMemoryIniFile empty({});
  EXPECT_EQ(empty.Sections().Count(), 0);
  EXPECT_FALSE(empty.Changed());
  EXPECT_TRUE(empty.SaveToLines().empty());
}

TEST(TMemoryIniFile, PumpsWhileLoading) {
  Lines lines = {"[s]"};
  for (int i = 0; i < 249; ++i) lines.push_back("k" + std::to_string(i) + "=v");
  int pumps = 0;
  TMemoryIniFile ini(lines, [&] { ++pumps; });
  EXPECT_EQ(pumps, 2);  // after lines 100 and 200; one section needs no sort step
  EXPECT_EQ(ini.Sections().GetObject(0)->Count(), 249);
}

TEST(TMemoryIniFile, LongLines) {
  const std::string value(1 << 20, 'v');
  TMemoryIniFile ini({"[s]", "k=" + value, "[" + std::string(100000, 'n')});
  EXPECT_EQ(ini.SaveToLines(), (Lines{"[s]", "k=" + value}));
}

// The text-list merge appends the slave's sections to the master's and
// empties the slave's list; the master then owns and writes them.
TEST(TMemoryIniFile, SectionsMovedToAnotherFile) {
  TMemoryIniFile master({"[m]", "a=1"});
  {
    TMemoryIniFile slave({"[s]", "b=2", "[m]", "c=3"});
    auto& from = slave.Sections();
    for (int i = 0; i < from.Count(); ++i) {
      master.Sections().AddObject(from.Get(i), std::move(from.GetObject(i)));
    }
    from.Clear();
  }
  EXPECT_EQ(master.SaveToLines(), (Lines{"[m]", "a=1", "[m]", "c=3", "[s]", "b=2"}));
}

class TMemoryIniFileSave : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("memini_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Bytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
};

TEST_F(TMemoryIniFileSave, WritesAnsiWithCrLf) {
  TMemoryIniFile ini({"[\xE4\xB8\xAD]", "k=v", "[a]"});
  const auto path = dir_ / "out.txt";
  {
    std::ofstream old(path, std::ios::binary);
    old << "old content that must go away\r\n";
  }
  ini.SaveToFile(path);
  EXPECT_FALSE(ini.Changed());
  EXPECT_EQ(Bytes(path), "[a]\r\n[\xD6\xD0]\r\nk=v\r\n");
}

TEST_F(TMemoryIniFileSave, WritesTheRequestedEncoding) {
  TMemoryIniFile ini({"[a]", "k=v"});
  const auto path = dir_ / "utf8.txt";
  ini.SaveToFile(path, TextEncoding::Utf8Bom);
  EXPECT_EQ(Bytes(path), "\xEF\xBB\xBF[a]\r\nk=v\r\n");
}

TEST_F(TMemoryIniFileSave, FailureThrowsAndKeepsTheChangedFlag) {
  TMemoryIniFile ini({"[a]", "k=v"});
  EXPECT_THROW(ini.SaveToFile(dir_ / "missing-folder" / "out.txt"), std::runtime_error);
  EXPECT_TRUE(ini.Changed());
}

}  // namespace
}  // namespace razere
