#include "stages/guild_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/recording_host.h"
#include "dbfiles/db_test_util.h"
#include "merge/accounts.h"
#include "merge/character_collections.h"
#include "merge/character_stage.h"
#include "merge/fixtures.h"
#include "stages/guild_test_util.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/file_system.h"
#include "support/iniprofile.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::CrLf;
using testing::LinesOf;
using Lines = std::vector<std::string>;

// The character stage's results built by hand: names are GBK in those
// collections; the tests use ASCII names and Chinese guild names.
class GuildMergeTest : public ::testing::Test {
 protected:
  GuildMergeTest() {
    ctx.Bar.SetHost(host);
    ctx.Master.Guild = (dir.path() / "master" / "GuildBase").string() + "/";
    ctx.Slave.Guild = (dir.path() / "slave" / "GuildBase").string() + "/";
    ctx.SavePath = (dir.path() / "out").string() + "/";
    fs::create_directories(dir.path() / "out");
    ctx.MasterCharIndex = std::make_shared<CharIndexCollection>();
    ctx.AllSlaveChars = std::make_shared<SlaveNameMap>();
    ctx.CharRenames = std::make_shared<NameRenameMap>();
  }

  void MasterChar(const std::string& name) {
    auto e = std::make_unique<CharIndexEntry>();
    e->side = kSideMaster;
    e->name = name;
    ctx.MasterCharIndex->Add(NameKey(name), std::move(e));
  }
  // A slave character that survived the clean-up, renamed when newName is set.
  void SlaveChar(const std::string& name, const std::string& newName = "") {
    auto e = std::make_unique<CharIndexEntry>();
    e->name = name;
    e->newName = newName;
    CharIndexEntry* p = ctx.MasterCharIndex->Add(NameKey(newName.empty() ? name : newName), std::move(e));
    ctx.AllSlaveChars->Add(NameKey(name), p);
    if (!newName.empty()) ctx.CharRenames->Add(name, p);
  }

  fs::path Side(bool master, std::string_view rel) const {
    return dir.path() / (master ? "master" : "slave") / "GuildBase" / PathFromText(rel);
  }
  void Put(bool master, std::string_view rel, const Lines& lines) { testing::PutGbk(Side(master, rel), CrLf(lines)); }
  fs::path Out(std::string_view rel) const { return dir.path() / "out" / "GuildBase" / PathFromText(rel); }
  std::string OutIni(std::string_view guild, std::string_view section, std::string_view key) const {
    return IniReadString(Out("Guilds/" + std::string(guild) + ".ini"), section, key, "<missing>");
  }
  Lines Renames() const { return *ctx.GuildRenameLines; }

  testing::TempDir dir;
  testing::RecordingHost host;
  RunContext ctx;
};

constexpr bool kMaster = true;
constexpr bool kSlave = false;

TEST_F(GuildMergeTest, NameDifferingOnlyInAsciiCaseIsRenamed) {
  Put(kMaster, "GuildList.txt", {"Dragon"});
  Put(kSlave, "GuildList.txt", {"DRAGON", "Ｄragon"});
  MergeGuilds(ctx);
  EXPECT_EQ(LinesOf(Out("GuildList.txt")), (Lines{"Dragon", "DRAGONa", "Ｄragon"}));
  EXPECT_EQ(Renames(), (Lines{"DRAGON => DRAGONa"}));
  EXPECT_EQ(OutIni("DRAGONa", "Guild", "GuildName"), "DRAGONa");
  EXPECT_TRUE(fs::exists(Out("Guilds/DRAGONa.txt")));
  // Looked up by exact name in the folder's listing: on Windows' case-
  // insensitive file system exists("DRAGON.ini") finds the master's
  // "Dragon.ini".
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(Out("Guilds"))) names.insert(TextOfPath(e.path().filename()));
  EXPECT_EQ(names.count("DRAGON.ini"), 0u);
  EXPECT_EQ(names.count("DRAGONa.ini"), 1u);
  EXPECT_EQ(ctx.NewGuildBase->Count(), 3);
  EXPECT_EQ(ctx.SlaveGuildBase->Count(), 0);
  EXPECT_NE(std::find(host.statuses.begin(), host.statuses.end(), "正在合并(1/2):DRAGON"), host.statuses.end());
}

// Guild names are file names, and Windows' file systems take two names that
// differ only in the case of any letter GBK has in both cases for one name:
// such guilds would share one pair of files. Each guild here carries its
// own notice, so a guild that read or wrote another's files shows.
struct FoldCase {
  const char* label;
  Lines master, slave;
  Lines merged;   // the new GuildList.txt
  Lines renames;  // 行会名称更改记录.txt
};
void PrintTo(const FoldCase& c, std::ostream* os) { *os << c.label; }

class GuildFoldTest : public GuildMergeTest, public ::testing::WithParamInterface<FoldCase> {
 protected:
  // Writes each listed guild's files once (a repeated name has one pair on
  // a server), with a notice naming the side and the guild.
  void PutSide(bool master, const Lines& names) {
    Put(master, "GuildList.txt", names);
    std::set<std::string> written;
    for (const std::string& n : names) {
      if (!written.insert(GuildNameKey(n)).second) continue;
      Put(master, "Guilds/" + n + ".ini", {"[Guild]", "GuildName=" + n, "BuildPoint=7"});
      Put(master, "Guilds/" + n + ".txt", {"公告", "+" + Notice(master, n), " ", "敌对行会", " ", "联盟行会"});
    }
  }
  static std::string Notice(bool master, const std::string& name) {
    return std::string(master ? "主库 " : "从库 ") + name;
  }
};

TEST_P(GuildFoldTest, NoGuildSharesFilesWithAnother) {
  const FoldCase& c = GetParam();
  PutSide(kMaster, c.master);
  PutSide(kSlave, c.slave);
  MergeGuilds(ctx);
  EXPECT_EQ(LinesOf(Out("GuildList.txt")), c.merged);
  EXPECT_EQ(Renames(), c.renames);

  // Each merged guild holds its own files, named after its new name.
  std::map<std::string, std::string> oldNameOf;
  for (const std::string& line : c.renames) {
    const size_t arrow = line.find(" => ");
    oldNameOf[line.substr(arrow + 4)] = line.substr(0, arrow);
  }
  std::set<std::string> keys;
  for (const std::string& g : c.merged) {
    EXPECT_TRUE(keys.insert(GuildNameKey(g)).second) << g << " folds onto another guild";
    const bool renamed = oldNameOf.count(g) > 0;
    const bool fromMaster = !renamed && std::find(c.master.begin(), c.master.end(), g) != c.master.end();
    EXPECT_EQ(OutIni(g, "Guild", "GuildName"), g);
    EXPECT_EQ(OutIni(g, "Guild", "BuildPoint"), "7") << g;
    const Lines text = LinesOf(Out("Guilds/" + g + ".txt"));
    ASSERT_GE(text.size(), 2u) << g;
    EXPECT_EQ(text[1], "+" + Notice(fromMaster, renamed ? oldNameOf[g] : g)) << g;
  }
  // Nothing else was written: each guild has its own two files.
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(Out("Guilds"))) ++files;
  EXPECT_EQ(files, 2 * c.merged.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GuildFoldTest,
    ::testing::Values(
        FoldCase{"FullwidthAcrossTheSides", {"ＢETa"}, {"ｂETa"}, {"ＢETa", "ｂETaa"}, {"ｂETa => ｂETaa"}},
        FoldCase{"Greek", {"天Ω"}, {"天ω"}, {"天Ω", "天ωa"}, {"天ω => 天ωa"}},
        FoldCase{"Cyrillic", {"Волк"}, {"ВОЛК"}, {"Волк", "ВОЛКa"}, {"ВОЛК => ВОЛКa"}},
        FoldCase{"RomanNumeral", {"三国Ⅲ"}, {"三国ⅲ"}, {"三国Ⅲ", "三国ⅲa"}, {"三国ⅲ => 三国ⅲa"}},
        FoldCase{"MixedWithAsciiCase", {"Ｄragon"}, {"ｄRAGON"}, {"Ｄragon", "ｄRAGONa"}, {"ｄRAGON => ｄRAGONa"}},
        // 丄 (81 41) and 乤 (81 61) differ in a trail byte, never a letter.
        FoldCase{"TrailByteIsNoLetter", {"丄"}, {"乤"}, {"丄", "乤"}, {}},
        // The first candidate folds onto a master guild, the second onto a
        // slave guild still waiting.
        FoldCase{"NewNameAvoidsFoldedNamesOfBothStores",
                 {"ＢETa", "ＢETaA"},
                 {"ｂETa", "ＢETAB"},
                 {"ＢETa", "ＢETaA", "ｂETac", "ＢETAB"},
                 {"ｂETa => ｂETac"}},
        // Two lines of one side that fold together name one guild (on a
        // server both read the same files): it is loaded once.
        FoldCase{"PairInTheMasterAlone", {"ＢETa", "ｂETa", "Ⅻ"}, {"Wolves"}, {"ＢETa", "Ⅻ", "Wolves"}, {}},
        FoldCase{"PairInTheSlaveAlone", {"Wolves"}, {"ｂETa", "ＢETa"}, {"Wolves", "ｂETa"}, {}},
        FoldCase{"PairInTheSlaveFoldingOntoAMasterGuild",
                 {"ｂeta"},
                 {"ＢETa", "ｂETa"},
                 {"ｂeta", "ＢETaa"},
                 {"ＢETa => ＢETaa"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(GuildMergeTest, NewNamesAvoidSlaveGuildsStillWaiting) {
  Put(kMaster, "GuildList.txt", {"abc"});
  Put(kSlave, "GuildList.txt", {"abc", "abca"});
  MergeGuilds(ctx);
  EXPECT_EQ(LinesOf(Out("GuildList.txt")), (Lines{"abc", "abcb", "abca"}));
  EXPECT_EQ(Renames(), (Lines{"abc => abcb"}));
}

TEST_F(GuildMergeTest, RepeatedSlaveLinesCollidingWithOneMasterNameGiveOneGuild) {
  Put(kMaster, "GuildList.txt", {"abc"});
  Put(kSlave, "GuildList.txt", {"abc", "ABC", "abc"});
  MergeGuilds(ctx);
  EXPECT_EQ(LinesOf(Out("GuildList.txt")), (Lines{"abc", "abca"}));
  EXPECT_EQ(Renames(), (Lines{"abc => abca"}));
}

TEST_F(GuildMergeTest, NewNameIsNeverADeviceName) {
  Lines master{"CO"};
  for (char c = 'a'; c <= 'm'; ++c) master.push_back(std::string("CO") + c);
  Put(kMaster, "GuildList.txt", master);
  Put(kSlave, "GuildList.txt", {"co"});
  MergeGuilds(ctx);
  EXPECT_EQ(Renames(), (Lines{"co => coo"}));  // "con" skipped
}

TEST_F(GuildMergeTest, MembersApplicantsAndApprovalsFollowTheCharacterMerge) {
  MasterChar("Mia");
  MasterChar("Lee");
  SlaveChar("Lee", "Leea");
  SlaveChar("Kim");
  SlaveChar("Joe", std::string(35, 'J'));  // longer than an applicant name holds
  // Master's "Old" and slave's "Gone" were removed by the clean-up.
  Put(kMaster, "GuildList.txt", {"天下"});
  Put(kMaster, "Guilds/天下.ini", {"[GuildApply]", "0=Old\t1\t1\t1", "1=Lee\t1\t1\t1", "[GuildAgree]", "0=Old"});
  Put(kMaster, "Guilds/天下.txt", {"行会成员", "#1 Boss", "+Mia Old Lee"});
  Put(kSlave, "GuildList.txt", {"天下", "Wolves"});
  Put(kSlave, "Guilds/天下.ini",
      {"[GuildApply]", "4=Lee\t1\t2\t3", "5=Gone\t1\t1\t1", "6=Joe\t1\t1\t1", "[GuildAgree]", "0=Lee", "1=Gone"});
  Put(kSlave, "Guilds/天下.txt", {"行会成员", "#1 Boss", "+Lee,Kim,Gone", "#2 Guard", "+Joe"});
  Put(kSlave, "Guilds/Wolves.txt", {"敌对行会", "+天下 600000", "联盟行会", "+天下"});
  MergeGuilds(ctx);

  EXPECT_EQ(Renames(), (Lines{"天下 => 天下a"}));
  // The master guild loses the characters the merged data no longer has.
  EXPECT_EQ(LinesOf(Out("Guilds/天下.txt")),
            (Lines{"公告", " ", "敌对行会", " ", "联盟行会", " ", "行会成员", "#1 Boss", "+Mia", "+Lee"}));
  EXPECT_EQ(OutIni("天下", "GuildApply", "0"), "Lee\t1\t1\t1");
  EXPECT_EQ(OutIni("天下", "GuildApply", "1"), "<missing>");
  EXPECT_EQ(OutIni("天下", "GuildAgree", "0"), "<missing>");

  const Lines renamed = LinesOf(Out("Guilds/天下a.txt"));
  EXPECT_EQ(Lines(renamed.begin() + 6, renamed.end()),
            (Lines{"行会成员", "#1 Boss", "+Leea", "+Kim", "#2 Guard", "+" + std::string(35, 'J')}));
  EXPECT_EQ(OutIni("天下a", "GuildApply", "0"), "Leea\t1\t2\t3");
  EXPECT_EQ(OutIni("天下a", "GuildApply", "1"), std::string(30, 'J') + "\t1\t1\t1");
  EXPECT_EQ(OutIni("天下a", "GuildAgree", "0"), "Leea");
  EXPECT_EQ(OutIni("天下a", "GuildAgree", "1"), "<missing>");
  // Enemy and ally lists keep the names their files held.
  const Lines wolves = LinesOf(Out("Guilds/Wolves.txt"));
  EXPECT_EQ(wolves[3].rfind("+天下 ", 0), 0u);
  EXPECT_EQ(wolves[6], "+天下");
}

TEST_F(GuildMergeTest, SlaveGuildsKeepTheirOwnSectionTitles) {
  testing::PutGbk(dir.path() / "slave" / "Setup.txt", CrLf({"[Guild]", "GuildMember=Members"}));
  ctx.Slave.Setup = (dir.path() / "slave" / "Setup.txt").string();
  SlaveChar("Kim");
  Put(kSlave, "GuildList.txt", {"Wolves"});
  Put(kSlave, "Guilds/Wolves.txt", {"Members", "#1 Boss", "+Kim"});
  Put(kMaster, "GuildList.txt", {"Bears"});
  MergeGuilds(ctx);
  EXPECT_EQ(LinesOf(Out("Guilds/Wolves.txt")).back(), "+Kim");
  EXPECT_EQ(LinesOf(Out("Guilds/Wolves.txt"))[6], "Members");
  EXPECT_EQ(LinesOf(Out("Guilds/Bears.txt"))[6], "行会成员");
}

TEST_F(GuildMergeTest, EmptyFolders) {
  Put(kMaster, "GuildList.txt", {"Bears"});
  MergeGuilds(ctx);
  EXPECT_EQ(LinesOf(Out("GuildList.txt")), (Lines{"Bears"}));
  EXPECT_TRUE(Renames().empty());

  fs::remove_all(dir.path() / "master");
  fs::remove_all(Out(""));
  MergeGuilds(ctx);
  EXPECT_TRUE(fs::exists(Out("GuildList.txt")));
  EXPECT_TRUE(LinesOf(Out("GuildList.txt")).empty());
  EXPECT_TRUE(fs::is_empty(Out("Guilds")));
  EXPECT_EQ(ctx.NewGuildBase->Count(), 0);
}

TEST_F(GuildMergeTest, UnsafeSlaveGuildNameEndsTheStageBeforeAnythingIsWritten) {
  Put(kMaster, "GuildList.txt", {"Bears"});
  Put(kSlave, "GuildList.txt", {"Wolves", "..\\..\\Wolves"});
  EXPECT_THROW(MergeGuilds(ctx), UnsafeGuildName);
  EXPECT_FALSE(fs::exists(Out("")));
}

TEST_F(GuildMergeTest, WithoutCharacterCollectionsNobodyIsAMember) {
  ctx.MasterCharIndex.reset();
  ctx.AllSlaveChars.reset();
  ctx.CharRenames.reset();
  Put(kMaster, "GuildList.txt", {"Bears"});
  Put(kMaster, "Guilds/Bears.txt", {"行会成员", "#1 Boss", "+Mia"});
  MergeGuilds(ctx);
  EXPECT_EQ(LinesOf(Out("Guilds/Bears.txt")).back(), "#1 Boss");
}

// ---------------------------------------------------------------------------
// With the real character stage in front
// ---------------------------------------------------------------------------

const double kNow = EncodeDateTime(2024, 6, 15, 12);

TEST(GuildMergeAfterCharacterStage, GuildFilesNameOnlyCharactersOfTheNewHumDbAndNoGuildTwice) {
  SetClockForTesting(kNow);
  testing::MergeFixture f;
  f.ctx.CleanData = true;
  f.master.Char({.name = "Lee", .account = "m1", .lastLogin = kNow});
  f.master.Char({.name = "Mia", .account = "m1", .lastLogin = kNow});
  f.master.Char({.name = "Old", .account = "m2", .level = 1, .lastLogin = kNow - 400});
  f.master.Hero({.name = "Pet", .account = "m1"});
  f.slave.Char({.name = "LEE", .account = "s1", .lastLogin = kNow});
  f.slave.Char({.name = "Kim", .account = "s1", .lastLogin = kNow});
  f.slave.Char({.name = "Gone", .account = "s2", .level = 1, .lastLogin = kNow - 400});

  auto put = [&f](std::string_view side, std::string_view rel, const Lines& lines) {
    testing::PutGbk(f.dir.path() / side / "GuildBase" / rel, CrLf(lines));
  };
  put("master", "GuildList.txt", {"Bears", "Wolves", "bears"});
  put("master", "Guilds/Bears.txt", {"行会成员", "#1 Boss", "+Lee Old Pet", "#2 Guard", "+Mia,Kim"});
  put("master", "Guilds/Bears.ini", {"[GuildApply]", "0=Old\t1\t1\t1", "1=Mia\t1\t1\t1", "[GuildAgree]", "0=Lee"});
  put("slave", "GuildList.txt", {"BEARS", "Foxes", "wolves"});
  put("slave", "Guilds/BEARS.txt", {"行会成员", "#1 Boss", "+LEE Kim Gone Mia"});
  put("slave", "Guilds/BEARS.ini", {"[GuildApply]", "3=Gone\t1\t1\t1", "4=LEE\t1\t1\t1", "[GuildAgree]", "0=LEE"});
  put("slave", "Guilds/Foxes.txt", {"行会成员", "#1 Boss", "+Kim"});
  f.ctx.Master.Guild = (f.dir.path() / "master" / "GuildBase").string() + "/";
  f.ctx.Slave.Guild = (f.dir.path() / "slave" / "GuildBase").string() + "/";

  f.WriteInputs();
  LoadAccounts(f.ctx);
  MergeCharacters(f.ctx);
  MergeGuilds(f.ctx);
  SetClockForTesting(std::nullopt);

  std::set<std::string> humKeys;
  for (const std::string& n : testing::NamesOf(f.Output(DbKind::Hum), index_rec::kName)) humKeys.insert(NameKey(n));
  const fs::path out = f.Out("GuildBase");
  const Lines guilds = LinesOf(out / "GuildList.txt");
  EXPECT_EQ(guilds, (Lines{"Bears", "Wolves", "BEARSa", "Foxes", "wolvesa"}));

  std::set<std::string> guildKeys;
  Lines named;  // every character a guild file names
  for (const std::string& g : guilds) {
    EXPECT_TRUE(guildKeys.insert(GuildNameKey(g)).second) << g;
    bool inMembers = false;
    for (const std::string& line : LinesOf(out / "Guilds" / (g + ".txt"))) {
      if (line == "行会成员") inMembers = true;
      if (inMembers && !line.empty() && line[0] == '+') named.push_back(line.substr(1));
    }
    const fs::path ini = out / "Guilds" / (g + ".ini");
    for (int i = 0;; ++i) {
      const std::string v = IniReadString(ini, "GuildApply", std::to_string(i), "");
      if (v.empty()) break;
      named.push_back(v.substr(0, v.find('\t')));
    }
    for (int i = 0;; ++i) {
      const std::string v = IniReadString(ini, "GuildAgree", std::to_string(i), "");
      if (v.empty()) break;
      named.push_back(v);
    }
  }
  for (const std::string& n : named) EXPECT_TRUE(humKeys.count(MemberNameKey(n))) << n;
  std::sort(named.begin(), named.end());
  // Master guilds are filtered by the merged index, which holds the slave's
  // Kim too; slave guilds by the slave's own names, so Mia leaves BEARSa.
  EXPECT_EQ(named, (Lines{"Kim", "Kim", "Kim", "LEEa", "LEEa", "LEEa", "Lee", "Lee", "Mia", "Mia", "Pet"}));
}

}  // namespace
}  // namespace razere
