#include "stages/text_list_merge.h"


#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/install_fixture.h"
#include "app/run_driver.h"
#include "app/settings.h"
#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "merge/fixtures.h"
#include "merge/item_serials.h"
#include "support/ansi.h"
#include "support/errors.h"
#include "support/textfile.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

std::string Gbk(std::string_view utf8) { return Utf8ToGbk(utf8); }

// Lines joined with CRLF after each, as every file here is written.
std::string Crlf(const Lines& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

void PutBytes(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << file;
}

std::string FileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---------------------------------------------------------------------------
// Line formats
// ---------------------------------------------------------------------------

// Bad text reads as -1, which every field of the lists refuses.
TEST(TextListParse, DecimalOrMinusOne) {
  const std::pair<const char*, int32_t> cases[] = {
      {"7", 7},   {"+7", 7}, {"-7", -7}, {"+-7", -1}, {"", -1},           {" 7", -1},
      {"7\t", -1}, {"0x7", -1}, {"-", -1},  {"-2147483648", INT32_MIN}, {"2147483648", -1},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(DecimalOrMinusOne(text), value) << '"' << text << '"';
}

TEST(TextListParse, BindingLines) {
  const struct {
    const char* name;
    std::string line;
    bool kept;
    int32_t idx = 0, serial = 0;
    std::string bindName{};
  } cases[] = {
      {"tabs", "1\t100\tacct", true, 1, 100, "acct"},
      {"blanks and commas, rest ignored", "  2, 200 ,name extra\t", true, 2, 200, "name"},
      {"gbk name", "3\t300\t名字", true, 3, 300, "名字"},
      {"signs", "+4\t+400\tx", true, 4, 400, "x"},
      {"largest numbers", "2147483647\t2147483647\tx", true, INT32_MAX, INT32_MAX, "x"},
      {"item index 0", "0\t100\tacct", false},
      {"serial 0", "1\t0\tacct", false},
      {"negative index", "-1\t100\tacct", false},
      {"no bound name", "1\t100", false},
      {"no bound name, trailing tab", "1\t100\t", false},
      {"comment", ";1\t100\tacct", false},
      {"comment after blanks", "   ;1\t100\tacct", false},
      {"blanks only", " \t  \t", false},
      {"separators only", ",,, ,\t,", false},
      {"index overflows 32 bits", "2147483648\t100\tx", false},
      {"serial overflows 32 bits", "1\t4294967396\tx", false},
      {"serial overflows 64 bits", "1\t99999999999999999999999\tx", false},
      {"not a number", "1x\t100\tacct", false},
      {"hex is not decimal", "0x10\t100\tacct", false},
      {"too long for the splitter", "1\t100\t" + std::string(204800, 'n'), false},
      {"long but within the splitter's limit", "1\t100\t" + std::string(204000, 'n'), true, 1, 100,
       std::string(204000, 'n')},
  };
  for (const auto& c : cases) {
    TItemBindList list;
    ParseItemBindLines({c.line}, list);
    ASSERT_EQ(list.size(), c.kept ? 1u : 0u) << c.name;
    if (!c.kept) continue;
    EXPECT_EQ(list[0].nItemIdx, c.idx) << c.name;
    EXPECT_EQ(list[0].nMakeIdex, c.serial) << c.name;
    EXPECT_EQ(list[0].sBindName, c.bindName) << c.name;
  }
}

TEST(TextListParse, RememberedPositions) {
  const struct {
    const char* name;
    Lines in;
    Lines out;
  } cases[] = {
      {"one slot", {"回城石\t100\t0\t比奇\t10\t20"}, {"回城石\t100\t0\t比奇\t10\t20"}},
      {"commas", {"A,100,2,M,5,6"}, {"A\t100\t2\tM\t5\t6"}},
      {"blanks end no slot field", {"A 100 0 M 10 20"}, {}},
      {"slot 6", {"A\t100\t6\tM\t1\t1"}, {}},
      {"slot -1", {"A\t100\t-1\tM\t1\t1"}, {}},
      {"x below 0", {"A\t100\t0\tM\t-1\t1"}, {}},
      {"y overflows", {"A\t100\t0\tM\t1\t4294967296"}, {}},
      {"no map (the fields shift)", {"A\t100\t0\t\t10\t20"}, {}},
      {"serial 0", {"A\t0\t0\tM\t1\t1"}, {}},
      {"comment and blank lines", {";A\t100\t0\tM\t1\t1", "", "  \t "}, {}},
      {"two slots of one item, written in slot order",
       {"A\t100\t3\tM1\t1\t2", "A\t100\t1\tM2\t3\t4"},
       {"A\t100\t1\tM2\t3\t4", "A\t100\t3\tM1\t1\t2"}},
      {"later line for a slot overwrites", {"A\t100\t0\tM1\t1\t1", "A\t100\t0\tM2\t2\t2"}, {"A\t100\t0\tM2\t2\t2"}},
      {"leading zero starts a separate item",
       {"A\t100\t0\tM1\t1\t1", "A\t0100\t0\tM2\t2\t2"},
       {"A\t100\t0\tM1\t1\t1", "A\t100\t0\tM2\t2\t2"}},
      {"the first line names the item", {"A\t7\t0\tM\t1\t1", "B\t7\t1\tN\t2\t2"}, {"A\t7\t0\tM\t1\t1", "A\t7\t1\tN\t2\t2"}},
      {"items in file order", {"B\t9\t0\tM\t1\t1", "A\t3\t0\tM\t1\t1"}, {"B\t9\t0\tM\t1\t1", "A\t3\t0\tM\t1\t1"}},
  };
  for (const auto& c : cases) {
    TItemEventList list(kItemEventBuckets);
    ParseRememberItemLines(c.in, list);
    EXPECT_EQ(RememberItemLines(list), c.out) << c.name;
  }
}

// ---------------------------------------------------------------------------
// The stage on files
// ---------------------------------------------------------------------------

class TextListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.Bar.SetHost(host);
    for (auto [side, root] : {std::pair{&ctx.Master, dir / "m"}, std::pair{&ctx.Slave, dir / "s"}}) {
      const fs::path envir = root / "Qel200" / "Envir";
      side->ItemBindAccount = (envir / "ItemBindAccount.txt").string();
      side->ItemBindChrName = (envir / "ItemBindChrName.txt").string();
      side->ItemBindIPaddr = (envir / "ItemBindIPaddr.txt").string();
      side->RememberItemList = (envir / "RememberItemList.txt").string();
    }
    fs::create_directories(dir / "out");
    ctx.SavePath = (dir / "out").string() + "/";
    ctx.AccountRenames = std::make_shared<NameRenameMap>();
    ctx.CharRenames = std::make_shared<NameRenameMap>();
    ctx.MasterItemSerials = std::make_shared<ItemSerialMap>();
    ctx.SlaveItemSerials = std::make_shared<ItemSerialMap>();
  }

  void AccountRename(const std::string& from, const std::string& to) {
    auto e = std::make_unique<AccountEntry>();
    e->name = Gbk(from);
    e->newName = Gbk(to);
    ctx.AccountRenames->Add(e->name, e.get());
    accounts_.push_back(std::move(e));
  }
  void CharRename(const std::string& from, const std::string& to) {
    auto e = std::make_unique<CharIndexEntry>();
    e->name = Gbk(from);
    e->newName = Gbk(to);
    ctx.CharRenames->Add(e->name, e.get());
    chars_.push_back(std::move(e));
  }

  // A list file of the installation as GBK lines.
  static void Put(const std::string& path, const Lines& utf8Lines) { PutBytes(path, Gbk(Crlf(utf8Lines))); }

  // A pair of files below the two roots; returns the pair.
  TTextFileName Pair(const std::string& masterRel, const std::string& masterBytes, const std::string& slaveRel,
                     const std::string& slaveBytes) {
    TTextFileName p{(dir / "m" / masterRel).string(), (dir / "s" / slaveRel).string()};
    PutBytes(p.Master, masterBytes);
    PutBytes(p.Slave, slaveBytes);
    ctx.TextFilePairs.push_back(p);
    return p;
  }

  fs::path Out(std::string_view name) const { return dir / "out" / PathFromText(name); }
  std::string OutBytes(std::string_view name) const { return FileBytes(Out(name)); }
  Lines OutLines(std::string_view name) const {
    TextFile f;
    EXPECT_TRUE(ReadTextFile(Out(name), f)) << name;
    return f.lines;
  }
  std::set<std::string> OutFiles() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir / "out")) names.insert(e.path().filename().string());
    return names;
  }

  testing::TempDir dir;
  testing::RecordingHost host;
  RunContext ctx;

 private:
  std::vector<std::unique_ptr<AccountEntry>> accounts_;
  std::vector<std::unique_ptr<CharIndexEntry>> chars_;
};

const std::set<std::string> kFourLists = {"ItemBindAccount.txt", "ItemBindChrName.txt", "ItemBindIPaddr.txt",
                                          "RememberItemList.txt"};

TEST_F(TextListTest, NothingAnywhereGivesFourEmptyLists) {
  MergeTextLists(ctx);
  EXPECT_EQ(OutFiles(), kFourLists);
  for (const auto& name : kFourLists) EXPECT_EQ(fs::file_size(Out(name)), 0u) << name;
}

TEST_F(TextListTest, BindingsFollowTheSerialsAndRenamesOfTheirSide) {
  Put(ctx.Master.ItemBindAccount, {"; bound to accounts", "1\t100\talice", "2\t555\tBob", "0\t100\talice", ""});
  Put(ctx.Slave.ItemBindAccount, {"3\t100\talice", "4\t777\tALICE", "5\t100\tBob", "6\t1\tLee"});
  Put(ctx.Master.ItemBindChrName, {"1\t100\tLee"});
  Put(ctx.Slave.ItemBindChrName, {"2\t100\tLee", "3\t777\tlee", "4\t1\talice", "5\t1\tLeea"});
  Put(ctx.Master.ItemBindIPaddr, {"1\t100\t10.0.0.1"});
  Put(ctx.Slave.ItemBindIPaddr, {"2\t100\talice", "3\t777\tLee"});
  AccountRename("Alice", "alicea");
  CharRename("Lee", "Leea");
  CharRename("Leea", "Leeb");  // a new name that is another old name is not renamed again
  ctx.MasterItemSerials->Add(100, 1);
  ctx.SlaveItemSerials->Add(100, 2);
  ctx.SlaveItemSerials->Add(777, 3);

  MergeTextLists(ctx);

  EXPECT_EQ(OutLines("ItemBindAccount.txt"),
            (Lines{"1\t1\talice", "2\t555\tBob", "3\t2\talicea", "4\t3\talicea", "5\t2\tBob", "6\t1\tLee"}));
  EXPECT_EQ(OutLines("ItemBindChrName.txt"),
            (Lines{"1\t1\tLee", "2\t2\tLeea", "3\t3\tLeea", "4\t1\talice", "5\t1\tLeeb"}));
  EXPECT_EQ(OutLines("ItemBindIPaddr.txt"), (Lines{"1\t1\t10.0.0.1", "2\t2\talice", "3\t3\tLee"}));
  EXPECT_EQ(OutBytes("ItemBindIPaddr.txt"), "1\t1\t10.0.0.1\r\n2\t2\talice\r\n3\t3\tLee\r\n");
}

TEST_F(TextListTest, RememberedPositionsFollowTheSerialsOfTheirSide) {
  Put(ctx.Master.RememberItemList, {"回城石\t100\t0\t比奇\t10\t20", "回城石\t100\t2\t盟重\t30\t40", "石\t9\t1\tM\t1\t1"});
  Put(ctx.Slave.RememberItemList, {"回城石\t100\t0\t银杏\t5\t6", "石\t555\t5\tN\t7\t8"});
  ctx.MasterItemSerials->Add(100, 11);
  ctx.SlaveItemSerials->Add(100, 12);
  ctx.SlaveItemSerials->Add(9, 13);  // a slave serial map entry says nothing about the master's 9

  MergeTextLists(ctx);

  EXPECT_EQ(OutLines("RememberItemList.txt"),
            (Lines{"回城石\t11\t0\t比奇\t10\t20", "回城石\t11\t2\t盟重\t30\t40", "石\t9\t1\tM\t1\t1",
                   "回城石\t12\t0\t银杏\t5\t6", "石\t555\t5\tN\t7\t8"}));
}

TEST_F(TextListTest, BindingFilesWithAByteOrderMarkAreReadAndWrittenAsGbk) {
  PutBytes(ctx.Master.ItemBindChrName, "\xEF\xBB\xBF" + Crlf({"1\t100\t李四", "2\t200\tLee"}));
  PutBytes(ctx.Slave.ItemBindChrName, EncodeText(Crlf({"3\t300\t张三", "4\t400\tLee"}), TextEncoding::Utf16LE));
  CharRename("Lee", "Leea");

  MergeTextLists(ctx);

  EXPECT_EQ(OutBytes("ItemBindChrName.txt"), Gbk(Crlf({"1\t100\t李四", "2\t200\tLee", "3\t300\t张三", "4\t400\tLeea"})));
}

TEST_F(TextListTest, LineListPairRenamesOnlyTheSlavesLeadingNames) {
  const auto pair = Pair("Qel200/Envir/Custom/Names.txt", Gbk(Crlf({"Lee\t5", "Kim\t6"})), "other/slave.txt",
                         Gbk(Crlf({"Lee\t7", "LEE\t8", "Leeb\t9", "Lee", "Lee x", " Lee\t1", "Kim\tLee", "Lee\tLee\t2"})));
  CharRename("Lee", "Leea");

  MergeTextLists(ctx);

  EXPECT_EQ(OutFiles().count("Names.txt"), 1u);
  EXPECT_EQ(OutLines("Names.txt"), (Lines{"Lee\t5", "Kim\t6", "Leea\t7", "Leea\t8", "Leeb\t9", "Leea", "Lee x",
                                          " Lee\t1", "Kim\tLee", "Leea\tLee\t2"}));
  EXPECT_EQ(FileBytes(pair.Master), Gbk(Crlf({"Lee\t5", "Kim\t6"})));  // inputs stay as they were
}

TEST_F(TextListTest, IniPairsAppendTheSlavesSections) {
  // The master has no header: its lines all stand before any section and are lost.
  Pair("a/NoHeader.txt", Crlf({"key=1", "other=2"}), "a/NoHeader.txt",
       Crlf({"[Lee]", "a=1", "[Kim]", "b=2", "[Lee]", "c=3"}));
  // Each file's sections come back sorted; the slave's follow the master's
  // without a sort of the whole.
  Pair("b/Sections.txt", Crlf({"[Zed]", "z=1", "; comment", "[Abe]", "a = 1"}), "b/Sections.txt",
       Crlf({"[Yan]", "y=1", "[Lee]", "x=1"}));
  CharRename("Lee", "Leea");

  MergeTextLists(ctx);

  // Kim, then the two Lee sections in whichever order the sort left them;
  // only the first of them is renamed.
  const Lines noHeader = OutLines("NoHeader.txt");
  ASSERT_EQ(noHeader.size(), 6u);
  EXPECT_EQ((Lines{noHeader[0], noHeader[1], noHeader[2], noHeader[4]}), (Lines{"[Kim]", "b=2", "[Leea]", "[Lee]"}));
  EXPECT_EQ((std::set<std::string>{noHeader[3], noHeader[5]}), (std::set<std::string>{"a=1", "c=3"}));

  EXPECT_EQ(OutLines("Sections.txt"), (Lines{"[Abe]", "a = 1", "[Zed]", "z=1", "[Leea]", "x=1", "[Yan]", "y=1"}));
}

// A line-list pair is written in its master file's encoding, with its mark;
// master text comes out byte for byte, characters outside GBK and bytes that
// are no valid text included; the slave's lines follow in the same encoding.
struct EncodingCase {
  const char* name;
  TextEncoding encoding;
  std::string masterBytes;
};

class PairEncodingTest : public TextListTest, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(PairEncodingTest, MasterBytesKeptAndSlaveLinesInTheSameEncoding) {
  const EncodingCase& c = GetParam();
  // The slave in another encoding than any master.
  const std::string slaveBytes = EncodeText(Crlf({"Lee\t9", "名\t8", "😀\t7"}), TextEncoding::Utf16BE);
  Pair("x/list.txt", c.masterBytes, "y/list.txt", slaveBytes);
  CharRename("Lee", "Leea");

  MergeTextLists(ctx);

  const std::string slavePart =
      c.encoding == TextEncoding::Ansi
          ? Gbk(Crlf({"Leea\t9", "名\t8"})) + "?\t7\r\n"  // GBK has no emoji
          : EncodeText(Crlf({"Leea\t9", "名\t8", "😀\t7"}), c.encoding, /*withBom=*/false);
  EXPECT_EQ(OutBytes("list.txt"), c.masterBytes + slavePart);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, PairEncodingTest,
    ::testing::Values(
        // GBK text, a byte that starts no character, a lead byte before a tab.
        EncodingCase{"gbk", TextEncoding::Ansi, Gbk("普通\t1\r\n") + "\x80\xFF\t2\r\n\x81\t3\r\nLee\t4\r\n"},
        // Emoji and a CJK extension B character (outside GBK), and a byte that is no UTF-8.
        EncodingCase{"utf8", TextEncoding::Utf8Bom,
                     "\xEF\xBB\xBF" "普通\t1\r\n😀\t2\r\n𠀀\t3\r\n\xC0\t5\r\nLee\t4\r\n"},
        // Surrogate pairs and an unpaired surrogate (D800).
        EncodingCase{"utf16le", TextEncoding::Utf16LE,
                     "\xFF\xFE"s + EncodeText("普通\t1\r\n😀\t2\r\n𠀀\t3\r\n", TextEncoding::Utf16LE, false) +
                         "\x00\xD8\t\0\r\0\n\0"s + EncodeText("Lee\t4\r\n", TextEncoding::Utf16LE, false)},
        EncodingCase{"utf16be", TextEncoding::Utf16BE,
                     "\xFE\xFF"s + EncodeText("普通\t1\r\n😀\t2\r\n𠀀\t3\r\nLee\t4\r\n", TextEncoding::Utf16BE, false)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextListTest, IniPairKeepsItsMastersEncoding) {
  const std::string master = EncodeText(Crlf({"[Sec]", "key=😀 𠀀"}), TextEncoding::Utf16LE);
  Pair("x/conf.txt", master, "y/conf.txt", Gbk(Crlf({"[新]", "k=值"})));

  MergeTextLists(ctx);

  EXPECT_EQ(OutBytes("conf.txt"), master + EncodeText(Crlf({"[新]", "k=值"}), TextEncoding::Utf16LE, false));
}

TEST_F(TextListTest, MissingPairFilesContributeNothing) {
  ctx.TextFilePairs.push_back({(dir / "m/none.txt").string(), (dir / "s/none.txt").string()});
  const std::string slaveOnly = EncodeText(Crlf({"名\t1"}), TextEncoding::Utf16LE);
  PutBytes(dir / "s/only.txt", slaveOnly);
  ctx.TextFilePairs.push_back({(dir / "m/only.txt").string(), (dir / "s/only.txt").string()});

  MergeTextLists(ctx);

  EXPECT_EQ(fs::file_size(Out("none.txt")), 0u);
  EXPECT_EQ(OutBytes("only.txt"), Gbk(Crlf({"名\t1"})));  // no master file: GBK
}

// Something at an input path that cannot be read as a file ends the run
// before anything is written.
TEST_F(TextListTest, UnreadableInputsEndTheRunBeforeAnyOutput) {
  const struct {
    const char* name;
    std::function<fs::path(const RunContext&)> blocked;
  } cases[] = {
      {"master account list", [](const RunContext& c) { return fs::path(c.Master.ItemBindAccount); }},
      {"slave remembered positions", [](const RunContext& c) { return fs::path(c.Slave.RememberItemList); }},
      {"pair master", [](const RunContext& c) { return fs::path(c.TextFilePairs[0].Master); }},
      {"pair slave", [](const RunContext& c) { return fs::path(c.TextFilePairs[0].Slave); }},
  };
  ctx.TextFilePairs.push_back({(dir / "m/p.txt").string(), (dir / "s/p.txt").string()});
  for (const auto& c : cases) {
    const fs::path blocked = c.blocked(ctx);
    fs::create_directories(blocked);  // a folder where the file should be
    try {
      MergeTextLists(ctx);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const FileError& e) {
      EXPECT_EQ(e.Op(), FileOp::Read) << c.name;
      EXPECT_EQ(e.Path(), blocked) << c.name;
    }
    EXPECT_TRUE(OutFiles().empty()) << c.name;
    fs::remove_all(blocked);
  }
  MergeTextLists(ctx);
  EXPECT_EQ(OutFiles().size(), 5u);
}

TEST_F(TextListTest, AnOutputThatCannotBeWrittenEndsTheRun) {
  Put(ctx.Master.ItemBindAccount, {"1\t100\tacct"});
  fs::create_directories(Out("ItemBindAccount.txt"));  // written third
  EXPECT_THROW(MergeTextLists(ctx), FileError);
  EXPECT_EQ(OutFiles(), (std::set<std::string>{"ItemBindIPaddr.txt", "ItemBindChrName.txt", "ItemBindAccount.txt"}));
  EXPECT_TRUE(fs::is_directory(Out("ItemBindAccount.txt")));

  ctx.SavePath = (dir / "no-such-folder").string() + "/";
  EXPECT_THROW(MergeTextLists(ctx), FileError);
}

TEST_F(TextListTest, OutputNameConflicts) {
  const std::string m = (dir / "m").string() + "/";
  const std::string s = (dir / "s").string() + "/";
  const struct {
    const char* name;
    std::vector<std::string> masters;
    std::vector<std::string> named;  // each appears in the message; empty = no conflict
  } cases[] = {
      {"distinct names", {m + "a/one.txt", m + "b/two.txt"}, {}},
      {"one name in two folders", {m + "a/list.txt", m + "b/list.txt"}, {m + "a/list.txt", m + "b/list.txt"}},
      {"names differing in letter case", {m + "a/List.txt", m + "b/LIST.TXT"}, {m + "a/List.txt", m + "b/LIST.TXT"}},
      {"the same pair twice", {m + "a/x.txt", m + "a/x.txt"}, {m + "a/x.txt"}},
      {"a binding list of the run", {m + "a/itembindaccount.TXT"}, {m + "a/itembindaccount.TXT", "ItemBindAccount.txt"}},
      {"a remembered-position list", {m + "a/RememberItemList.txt"}, {"RememberItemList.txt"}},
      {"a change log", {m + "a/新记录.txt"}, {"新记录.txt"}},
      {"the merge history", {m + "a/合区历史.txt"}, {"合区历史.txt"}},
      {"the unfinished-run marker", {m + "a/合区未完成.txt"}, {"合区未完成.txt"}},
      {"a record file", {m + "a/id.db"}, {"ID.DB"}},
      {"no file name", {m + "a/"}, {m + "a/"}},
  };
  for (const auto& c : cases) {
    ctx.TextFilePairs.clear();
    for (const auto& master : c.masters) ctx.TextFilePairs.push_back({master, s + "slave.txt"});
    const std::string conflict = TextPairOutputConflict(ctx);
    EXPECT_EQ(conflict.empty(), c.named.empty()) << c.name << ": " << conflict;
    for (const auto& n : c.named) EXPECT_NE(conflict.find("“" + n + "”"), std::string::npos) << c.name << ": " << conflict;
  }

  // The settings files count only when the save folder is the program folder.
  ctx.TextFilePairs = {{m + "a/Config.ini", s + "Config.ini"}};
  ctx.ConfigFile = (dir / "program" / "Config.ini").string();
  EXPECT_EQ(TextPairOutputConflict(ctx), "");
  ctx.ConfigFile = ctx.SavePath + "Config.ini";
  EXPECT_NE(TextPairOutputConflict(ctx), "");

  // The stage refuses before reading or writing anything.
  ctx.TextFilePairs = {{m + "a/list.txt", s + "a.txt"}, {m + "b/list.txt", s + "b.txt"}};
  try {
    MergeTextLists(ctx);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), TextPairOutputConflict(ctx));
  }
  EXPECT_TRUE(OutFiles().empty());
}

TEST_F(TextListTest, StatusTextsCountEachStep) {
  AccountRename("a1", "a1a");
  CharRename("c1", "c1a");
  CharRename("c2", "c2a");
  Put(ctx.Master.ItemBindAccount, {"1\t1\tx"});
  Put(ctx.Master.ItemBindChrName, {"1\t1\tx", "2\t2\ty"});
  Put(ctx.Master.RememberItemList, {"A\t1\t0\tM\t1\t1"});
  Put(ctx.Slave.ItemBindAccount, {"1\t1\tx"});
  Put(ctx.Slave.ItemBindIPaddr, {"1\t1\tx"});

  MergeTextLists(ctx);

  const std::string t = "正在合并文本文件";
  EXPECT_EQ(host.statuses, (Lines{
                               t + "(1/1)",                  // account renames
                               t + "(1/1)",                  // master account bindings
                               t + "(1/2)", t + "(2/2)",     // master character bindings
                               t + "(1/1)",                  // master memory items
                               t + "(1/1)", t + "(1/1)",     // slave account and address bindings
                               t + "(1/2)", t + "(2/2)",     // character renames
                           }));
  EXPECT_GE(host.pumps, 1);
}

TEST_F(TextListTest, MissingMapsAreAProgrammingError) {
  ctx.SlaveItemSerials.reset();
  EXPECT_THROW(MergeTextLists(ctx), std::logic_error);
}

// ---------------------------------------------------------------------------
// With the serials and renames of a real character stage
// ---------------------------------------------------------------------------

using testing::CharItemAt;
using testing::MergeFixture;

// Every output binding: the new serial of the item its side had under the
// old serial, or the old serial when no item of its side had it.
TEST(TextListAfterCharacterStage, BindingSerialsAreNewSerialsOfTheirSideOrUnknownOnes) {
  MergeFixture f;
  f.master.Char({.name = "Lee", .account = "m1",
                 .items = {{CharItemAt(0, 0), 100}, {CharItemAt(0, 1), 200}, {CharItemAt(1, 0), 1500000000}}});
  f.slave.Char({.name = "lee", .account = "M1", .items = {{CharItemAt(0, 0), 100}, {CharItemAt(0, 1), 300}}});
  f.slave.Char({.name = "Kim", .account = "s2", .items = {{CharItemAt(0, 0), 200, 0}}});  // kind 0: no item
  f.WriteInputs();
  const fs::path m = f.dir / "master", s = f.dir / "slave";
  f.ctx.Master.ItemBindChrName = (m / "ItemBindChrName.txt").string();
  f.ctx.Slave.ItemBindChrName = (s / "ItemBindChrName.txt").string();
  f.ctx.Master.ItemBindAccount = (m / "ItemBindAccount.txt").string();
  f.ctx.Slave.ItemBindAccount = (s / "ItemBindAccount.txt").string();
  const Lines masterIn = {"1\t100\tLee", "2\t200\tLee", "3\t1500000000\tLee", "4\t999\tLee", "5\t300\tLee"};
  const Lines slaveIn = {"1\t100\tlee", "2\t300\tKim", "3\t200\tKim", "4\t999\tlee", "5\t1500000000\tlee"};
  PutBytes(f.ctx.Master.ItemBindChrName, Crlf(masterIn));
  PutBytes(f.ctx.Slave.ItemBindChrName, Crlf(slaveIn));
  PutBytes(f.ctx.Master.ItemBindAccount, Crlf({"1\t100\tm1"}));
  PutBytes(f.ctx.Slave.ItemBindAccount, Crlf({"1\t100\tM1"}));

  LoadAccounts(f.ctx);
  MergeCharacters(f.ctx);
  MergeTextLists(f.ctx);

  TItemBindList in, out;
  ParseItemBindLines(masterIn, in);
  ParseItemBindLines(slaveIn, in);
  TextFile written;
  ASSERT_TRUE(ReadTextFile(f.Out("ItemBindChrName.txt"), written));
  ParseItemBindLines(written.lines, out);
  ASSERT_EQ(out.size(), in.size());
  std::set<int32_t> newMaster, newSlave;
  f.ctx.MasterItemSerials->ForEach([&](int32_t, int32_t now) { newMaster.insert(now); });
  f.ctx.SlaveItemSerials->ForEach([&](int32_t, int32_t now) { newSlave.insert(now); });
  for (size_t i = 0; i < in.size(); ++i) {
    const bool master = i < masterIn.size();
    const ItemSerialMap& map = master ? *f.ctx.MasterItemSerials : *f.ctx.SlaveItemSerials;
    const std::set<int32_t>& fresh = master ? newMaster : newSlave;
    const int32_t old = in[i].nMakeIdex, now = out[i].nMakeIdex;
    if (map.Exists(old)) {
      EXPECT_EQ(now, *map.Find(old)) << "line " << i;
      EXPECT_TRUE(fresh.count(now)) << "line " << i;
    } else {
      EXPECT_EQ(now, old) << "line " << i;
    }
  }
  // Item 100 of each side got a serial of its own; 1,500,000,000 an extended one.
  EXPECT_NE(out[0].nMakeIdex, out[5].nMakeIdex);
  EXPECT_GE(out[2].nMakeIdex, kItemNumberExMin);
  EXPECT_EQ(out[5 + 4].nMakeIdex, 1500000000);  // the slave had no such item
  EXPECT_EQ(out[5 + 2].nMakeIdex, 200);         // an empty slot is no item

  // The slave's renamed character and account follow; the master's names stay.
  EXPECT_EQ(out[0].sBindName, "Lee");
  EXPECT_EQ(out[5].sBindName, "leea");
  TextFile accounts;
  ASSERT_TRUE(ReadTextFile(f.Out("ItemBindAccount.txt"), accounts));
  ASSERT_EQ(accounts.lines.size(), 2u);
  EXPECT_EQ(accounts.lines[0].substr(accounts.lines[0].rfind('\t')), "\tm1");
  EXPECT_EQ(accounts.lines[1].substr(accounts.lines[1].rfind('\t')), "\tM1a");
}

// ---------------------------------------------------------------------------
// Through the driver, with the pair list loaded at start-up
// ---------------------------------------------------------------------------

TEST(TextListThroughTheDriver, PairsOfTheListFileAreMergedIntoTheSaveFolder) {
  testing::ScratchDir dir;
  const std::string master = dir.str() + "master/", slave = dir.str() + "slave/";
  const std::string program = dir.str() + "program/", save = dir.str() + "save/";
  testing::MakeInstallation(master);
  testing::MakeInstallation(slave);
  testing::WriteBytes(master + "Qel200/Envir/Custom.txt", Crlf({"m\t1"}));
  testing::WriteBytes(slave + "Qel200/Envir/Custom.txt", Crlf({"s\t2"}));
  testing::WriteBytes(master + "Qel200/Envir/ItemBindIPaddr.txt", Crlf({"1\t5\t10.0.0.1"}));
  testing::WriteBytes(program + "TextFileName.txt",
                      Crlf({"; pairs", master + "Qel200/Envir/Custom.txt|" + slave + "Qel200/Envir/Custom.txt"}));

  testing::RecordingHost host;
  RunContext ctx;
  ctx.Bar.SetHost(host);
  WindowState window = StartUp(ctx, program);
  ASSERT_EQ(ctx.TextFilePairs.size(), 1u);
  RootEditChanged(ctx.Master, window.Master, master);
  RootEditChanged(ctx.Slave, window.Slave, slave);
  window.SavePath = save;

  ASSERT_EQ(ButtonOKClick(ctx, window, BuiltStages()), RunOutcome::Completed);
  EXPECT_EQ(FileBytes(save + "Custom.txt"), Crlf({"m\t1", "s\t2"}));
  EXPECT_EQ(FileBytes(save + "ItemBindIPaddr.txt"), Crlf({"1\t5\t10.0.0.1"}));
  for (const auto& name : kFourLists) EXPECT_TRUE(fs::exists(save + name)) << name;
}

}  // namespace
}  // namespace razere
