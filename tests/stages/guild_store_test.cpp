#include "stages/guild_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/recording_host.h"
#include "dbfiles/db_test_util.h"
#include "stages/guild_test_util.h"
#include "support/ansi.h"
#include "support/errors.h"
#include "support/iniprofile.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::CrLf;
using testing::FileBytes;
using testing::LinesOf;
using Lines = std::vector<std::string>;

std::string Repeat(std::string_view s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

class GuildStoreTest : public ::testing::Test {
 protected:
  GuildStoreTest() {
    bar.SetHost(host);
    store.m_Progress = &bar;
    store.m_GetTickCount = [this] { return tick; };
  }

  fs::path Src(std::string_view rel) const { return dir.path() / "src" / "GuildBase" / PathFromText(rel); }
  fs::path Out(std::string_view rel) const { return dir.path() / "out" / "GuildBase" / PathFromText(rel); }
  void Put(std::string_view rel, const Lines& lines) { testing::PutGbk(Src(rel), CrLf(lines)); }

  void Chars(std::initializer_list<std::string> names) {
    for (const std::string& n : names) chars.insert(MemberNameKey(n));
  }
  void Load() {
    store.LoadFromFile((dir.path() / "src" / "GuildBase").string() + "/",
                       [this](std::string_view key) { return chars.count(std::string(key)) != 0; });
  }
  void Save() {
    fs::create_directories(dir.path() / "out");
    store.SaveToFile((dir.path() / "out").string() + "/");
  }
  TGuild& Guild(std::string_view name) {
    auto* g = store.m_GuildBaseList.Find(GuildNameKey(name));
    if (g == nullptr) throw std::runtime_error("no guild " + std::string(name));
    return **g;
  }
  Lines GuildNames() const {
    Lines out;
    for (const auto& node : store.m_GuildBaseList) out.push_back(node.Item->sGuildName);
    return out;
  }
  std::string OutIni(std::string_view guild, std::string_view section, std::string_view key) const {
    return IniReadString(Out("Guilds/" + std::string(guild) + ".ini"), section, key, "<missing>");
  }

  testing::TempDir dir;
  testing::RecordingHost host;
  Progress bar;
  TGuildBase store;
  std::set<std::string> chars;
  uint32_t tick = 1000;
};

// ---------------------------------------------------------------------------
// GuildList.txt
// ---------------------------------------------------------------------------

TEST_F(GuildStoreTest, ListLinesAreTrimmedBlankLinesSkippedAndRepeatedNamesLoadedOnce) {
  Put("GuildList.txt", {"  Alpha\t ", "", "   ", "\x01" "Beta", "alpha", "Gamma", "BETA"});
  Load();
  EXPECT_EQ(GuildNames(), (Lines{"Alpha", "Beta", "Gamma"}));
  // Every line advances the bar, blank and repeated ones included.
  EXPECT_EQ(bar.Position(), 7);
  EXPECT_EQ(bar.Max(), 7);
  EXPECT_NE(std::find(host.statuses.begin(), host.statuses.end(), "正在读取(3/7)："), host.statuses.end());
  EXPECT_EQ(Guild("Alpha").sGuildDir, (dir.path() / "src" / "GuildBase").string() + "/");

  Save();
  EXPECT_EQ(LinesOf(Out("GuildList.txt")), (Lines{"Alpha", "Beta", "Gamma"}));
  EXPECT_EQ(bar.Position(), 3);
  EXPECT_EQ(host.statuses.back(), "正在保存(3/3)：Gamma");
}

TEST_F(GuildStoreTest, LoadStatusNamesTheSide) {
  Load();
  EXPECT_EQ(host.statuses.front().rfind("正在加载主库(", 0), 0u);
  store.m_boMasterServer = false;
  Load();
  EXPECT_EQ(host.statuses.back().rfind("正在加载从库(", 0), 0u);
}

TEST_F(GuildStoreTest, ListInUtf8WithByteOrderMarkIsDecodedAndWrittenAsGbk) {
  fs::create_directories(Src(""));
  WriteFileAtomic(Src("GuildList.txt"), "\xEF\xBB\xBF天下\r\n");
  Load();
  EXPECT_EQ(GuildNames(), (Lines{"天下"}));
  Save();
  EXPECT_EQ(FileBytes(Out("GuildList.txt")), Utf8ToGbk("天下") + "\r\n");
  EXPECT_TRUE(fs::exists(Out("Guilds/天下.ini")));
}

TEST_F(GuildStoreTest, MissingFolderGivesAnEmptyStoreAndAnEmptySavedFolder) {
  Put("GuildList.txt", {"Old"});
  Load();
  ASSERT_EQ(store.Count(), 1);
  fs::remove_all(Src(""));
  Load();  // replaces the earlier content
  EXPECT_EQ(store.Count(), 0);
  Save();
  EXPECT_EQ(FileBytes(Out("GuildList.txt")), "");
  EXPECT_TRUE(fs::is_directory(Out("Guilds")));
  EXPECT_TRUE(fs::is_empty(Out("Guilds")));
}

// ---------------------------------------------------------------------------
// Settings files
// ---------------------------------------------------------------------------

TEST_F(GuildStoreTest, NumbersDefaultToZeroWithoutSettingsFileAndLimitTo200WithOne) {
  Put("GuildList.txt", {"NoIni", "EmptyIni", "Junk"});
  Put("Guilds/EmptyIni.ini", {"[Guild]"});
  Put("Guilds/Junk.ini", {"[guild]", "BuildPoint=abc", "Aurae=12x", "Stability=99999999999", "Flourishing=",
                          "ChiefItemCount=$1F", "MemberMaxLimit=0x10", "RecruitJob=-5", "RecruitMinLevel= 7 ",
                          "RecruitNotice=  Come  ", "systemrankname=Boss"});
  Load();
  const TGuild& none = Guild("NoIni");
  EXPECT_EQ(none.nMemberMaxLimit, 0);
  EXPECT_EQ(none.nBuildPoint, 0);
  EXPECT_EQ(Guild("EmptyIni").nMemberMaxLimit, 200);
  const TGuild& junk = Guild("Junk");
  EXPECT_EQ(junk.nBuildPoint, 0);
  EXPECT_EQ(junk.nAurae, 0);
  EXPECT_EQ(junk.nStability, 0);
  EXPECT_EQ(junk.nFlourishing, 0);
  EXPECT_EQ(junk.nChiefItemCount, 31);
  EXPECT_EQ(junk.nMemberMaxLimit, 16);
  EXPECT_EQ(junk.nRecruitGuildJobs, -5);
  EXPECT_EQ(junk.nRecruitGuildMinLevel, 7);
  EXPECT_EQ(junk.sRecruitNotice, "Come");
  EXPECT_EQ(junk.sSystemRankName, "Boss");

  Save();
  EXPECT_EQ(OutIni("NoIni", "Guild", "MemberMaxLimit"), "0");
  EXPECT_EQ(OutIni("EmptyIni", "Guild", "MemberMaxLimit"), "200");
  EXPECT_EQ(OutIni("Junk", "Guild", "ChiefItemCount"), "31");
}

TEST_F(GuildStoreTest, SettingsFileIsWrittenInFixedOrderWithoutTheRankLimits) {
  Chars({"Lee", "Kim"});
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.ini", {"[RankNameMaxMember]", "Elders=5", "[Guild]", "SystemRankName=Boss", "BuildPoint=3",
                           "GuildName=Ignored", "[GuildApply]", "x=Lee\t1\t2\t3", "[GuildAgree]", "y=Kim"});
  Load();
  EXPECT_EQ(Guild("Alpha").sGuildName, "Alpha");  // GuildName is not read
  Save();
  EXPECT_EQ(FileBytes(Out("Guilds/Alpha.ini")),
            CrLf({"[Guild]", "GuildName=Alpha", "BuildPoint=3", "Aurae=0", "Stability=0", "Flourishing=0",
                  "ChiefItemCount=0", "MemberMaxLimit=200", "RecruitJob=0", "RecruitMinLevel=0", "RecruitNotice=",
                  "SystemRankName=Boss", "[GuildApply]", "0=Lee\t1\t2\t3", "[GuildAgree]", "0=Kim"}));
}

TEST_F(GuildStoreTest, ExistingSettingsFileInTheSaveFolderIsUpdatedInPlace) {
  Chars({"Lee"});
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.ini", {"[GuildApply]", "5=Lee\t1\t1\t1"});
  Load();
  testing::PutGbk(Out("Guilds/Alpha.ini"),
                  CrLf({"[Other]", "x=1", "[GuildApply]", "9=Old\t1\t1\t1", "foo=bar", "[guildagree]", "z=Old",
                        "[Guild]", "Aurae=77", "Extra=keep"}));
  Save();
  const std::string out = FileBytes(Out("Guilds/Alpha.ini"));
  EXPECT_EQ(OutIni("Alpha", "Other", "x"), "1");
  EXPECT_EQ(OutIni("Alpha", "Guild", "Extra"), "keep");
  EXPECT_EQ(OutIni("Alpha", "Guild", "Aurae"), "0");
  EXPECT_EQ(OutIni("Alpha", "GuildApply", "0"), "Lee\t1\t1\t1");
  EXPECT_EQ(OutIni("Alpha", "GuildApply", "9"), "<missing>");
  EXPECT_EQ(OutIni("Alpha", "GuildApply", "foo"), "<missing>");
  EXPECT_EQ(OutIni("Alpha", "GuildAgree", "z"), "<missing>");
}

// The settings file's keys are listed as the profile layer reads them, but a
// line "=value" (the empty key) is neither an application nor an approval,
// and a rewrite leaves it where it was.
TEST_F(GuildStoreTest, EmptyKeyLinesAreNoApplicationsAndSurviveARewrite) {
  Chars({"Lee", "Kim"});
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.ini", {"[GuildApply]", "=Kim\t1\t1\t1", " a =Lee\t1\t1\t1", "A=Kim\t2\t2\t2",
                           "[GuildAgree]", " = Kim", "b=Lee"});
  Load();
  const TGuild& g = Guild("Alpha");
  ASSERT_EQ(g.ApplyList.size(), 1u);
  EXPECT_EQ(g.ApplyList[0].sKey, "a");  // trimmed; "A" is the same key
  EXPECT_EQ(g.ApplyList[0].sChrName, "Lee");
  EXPECT_EQ(g.AgreeList, (Lines{"Lee"}));

  testing::PutGbk(Out("Guilds/Alpha.ini"), CrLf({"[GuildApply]", "=old", "Old=x", "[GuildAgree]", "=old"}));
  Save();
  EXPECT_EQ(FileBytes(Out("Guilds/Alpha.ini")),
            CrLf({"[GuildApply]", "=old", "0=Lee\t1\t1\t1", "[GuildAgree]", "=old", "0=Lee", "[Guild]",
                  "GuildName=Alpha", "BuildPoint=0", "Aurae=0", "Stability=0", "Flourishing=0", "ChiefItemCount=0",
                  "MemberMaxLimit=200", "RecruitJob=0", "RecruitMinLevel=0", "RecruitNotice=", "SystemRankName="}));
}

TEST_F(GuildStoreTest, ApplicantsAreFilteredCutAndRenumbered) {
  const std::string longName = "Abcdefghijklmnopqrstuvwxyz0123456789";  // 36 bytes
  const std::string longChinese = "a" + Repeat("将", 15);              // 31 GBK bytes
  Chars({"Lee", "Kim", "Park", "Choi", longName, longChinese});
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.ini", {
      "[GuildApply]",
      "7=Lee\t300\t-1\t1234",         // A and B kept modulo 256
      "12=Kim\t\t\t2\t\t3\t4",        // runs of TABs are one separator
      "3=Park\t1\t2",                 // three fields: dropped
      "4=Ghost\t1\t2\t3",             // no such character: dropped
      "5=",                           // empty: skipped
      "6=Choi\tx\t7\tzz",             // not numbers: 0
      "8=" + longName + "\t1\t1\t1",  // cut to 30 bytes
      "9=" + longChinese + "\t1\t1\t1",
      "7=Kim\t9\t9\t9",               // a repeated key counts once, with its first value
      "[GuildAgree]", "0=Lee", "1=Ghost", "2=", "3=park"});
  Load();
  const TGuild& g = Guild("Alpha");
  ASSERT_EQ(g.ApplyList.size(), 5u);
  EXPECT_EQ(g.ApplyList[0].sKey, "7");
  EXPECT_EQ(g.ApplyList[0].btValueA, 44);
  EXPECT_EQ(g.ApplyList[0].btValueB, 255);
  EXPECT_EQ(g.ApplyList[0].nValueC, 1234);
  EXPECT_EQ(g.ApplyList[1].sKey, "12");
  EXPECT_EQ(g.ApplyList[3].sChrName, longName.substr(0, 30));
  EXPECT_EQ(g.ApplyList[4].sChrName, "a" + Repeat("将", 14));  // a character is never split
  EXPECT_EQ(g.AgreeList, (Lines{"Lee", "park"}));

  Save();
  EXPECT_EQ(OutIni("Alpha", "GuildApply", "0"), "Lee\t44\t255\t1234");
  EXPECT_EQ(OutIni("Alpha", "GuildApply", "1"), "Kim\t2\t3\t4");
  EXPECT_EQ(OutIni("Alpha", "GuildApply", "2"), "Choi\t0\t7\t0");
  EXPECT_EQ(OutIni("Alpha", "GuildApply", "5"), "<missing>");
  EXPECT_EQ(OutIni("Alpha", "GuildApply", "7"), "<missing>");
  EXPECT_EQ(OutIni("Alpha", "GuildAgree", "1"), "park");
  EXPECT_EQ(Guild("Alpha").ApplyList[1].sKey, "1");  // keys renumbered in memory too
}

// ---------------------------------------------------------------------------
// Text files
// ---------------------------------------------------------------------------

TEST_F(GuildStoreTest, TextFileSectionsRanksAndMembers) {
  Chars({"Lee", "Kim", "Park", "Choi", "Early", "Mia"});
  const std::string longRank = Repeat("将", 40);
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.ini", {"[RankNameMaxMember]", "掌门人=5", "elders=$A", "Junk=abc"});
  Put("Guilds/Alpha.txt", {
      "公告", "+Welcome, all", "+", ";comment", "", " ",
      "敌对行会", "+Foes 3600000 Rivals,1000",
      "联盟行会", "+Friends Skipped Pals",
      "行会成员",
      "+Early",                 // before any rank
      "#1 掌门人", "+Lee, Kim Ghost",
      "#0 Zero", "+Park",       // number 0: no rank
      "#2", "+Park",            // no name: no rank
      "#x Bad", "+Park",        // not a number
      "#3 " + longRank, "+Park,,Choi",
      "#4  Elders ", "+Mia",
      "#5 Junk", "#6 Other"});
  Load();
  const TGuild& g = Guild("Alpha");
  EXPECT_EQ(g.NoticeList, (Lines{"Welcome, all", ""}));
  ASSERT_EQ(g.GuildWarList.size(), 2u);
  EXPECT_EQ(g.GuildWarList[0].sGuildName, "Foes");
  EXPECT_EQ(g.GuildWarList[0].nWarTime, 3600000);
  EXPECT_EQ(g.GuildWarList[0].dwWarTick, 1000u);
  EXPECT_EQ(g.GuildWarList[1].sGuildName, "Rivals");
  EXPECT_EQ(g.GuildWarList[1].nWarTime, 1000);
  EXPECT_EQ(g.GuildAllList, (Lines{"Friends", "Pals"}));
  ASSERT_EQ(g.RankList.size(), 5u);
  EXPECT_EQ(g.RankList[0].nRankNo, 1);
  EXPECT_EQ(g.RankList[0].sRankName, "掌门人");
  EXPECT_EQ(g.RankList[0].MemberList, (Lines{"Lee", "Kim"}));
  EXPECT_EQ(g.RankList[0].nMaxMemberCount, 2);  // rank 1, whatever the settings say
  EXPECT_EQ(g.RankList[1].nRankNo, 3);
  EXPECT_EQ(g.RankList[1].sRankName, Repeat("将", 30));
  EXPECT_EQ(g.RankList[1].MemberList, (Lines{"Park", "Choi"}));
  EXPECT_EQ(g.RankList[1].nMaxMemberCount, 99);
  EXPECT_EQ(g.RankList[2].sRankName, "Elders");
  EXPECT_EQ(g.RankList[2].nMaxMemberCount, 10);
  EXPECT_EQ(g.RankList[3].nMaxMemberCount, 99);  // not a number
  EXPECT_EQ(g.RankList[4].nMaxMemberCount, 99);  // no key

  tick = 2000;
  Save();
  EXPECT_EQ(LinesOf(Out("Guilds/Alpha.txt")),
            (Lines{"公告", "+Welcome, all", "+", " ", "敌对行会", "+Foes 3599000", " ", "联盟行会", "+Friends", "+Pals",
                   " ", "行会成员", "#1 掌门人", "+Lee", "+Kim", "#3 " + Repeat("将", 30), "+Park", "+Choi",
                   "#4 Elders", "+Mia", "#5 Junk", "#6 Other"}));
}

TEST_F(GuildStoreTest, RankLimitsNeedASettingsFile) {
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.txt", {"行会成员", "#1 Chief", "#2 Other"});
  Load();
  EXPECT_EQ(Guild("Alpha").RankList[0].nMaxMemberCount, 99);
  EXPECT_EQ(Guild("Alpha").RankList[1].nMaxMemberCount, 99);
}

TEST_F(GuildStoreTest, TitlesComeFromTheSetupFileAndMatchWholeLinesWithCase) {
  testing::PutGbk(dir.path() / "Setup.txt",
                  CrLf({"[Guild]", "GuildNotice=Notice", "GuildWar=Wars", "GuildAll=Allies", "GuildMember=Members"}));
  store.m_sSetupFileName = (dir.path() / "Setup.txt").string();
  Chars({"Lee"});
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.txt", {"Notice", "+n1", "Wars ", "+X 5",  // trailing space: still the notices
                           "notice", "+n2",                   // other letter case: still the notices
                           "Allies", "+A1", "Members", "#1 Boss", "+Lee"});
  Load();
  const TGuild& g = Guild("Alpha");
  EXPECT_EQ(g.NoticeList, (Lines{"n1", "X 5", "n2"}));
  EXPECT_TRUE(g.GuildWarList.empty());
  EXPECT_EQ(g.GuildAllList, (Lines{"A1"}));
  EXPECT_EQ(store.m_sGuildNotice, "Notice");
  EXPECT_EQ(store.m_sGuildChief, "掌门人");  // missing key: kept
  EXPECT_EQ(g.sGuildMember, "Members");

  Save();
  EXPECT_EQ(LinesOf(Out("Guilds/Alpha.txt")),
            (Lines{"Notice", "+n1", "+X 5", "+n2", " ", "Wars", " ", "Allies", "+A1", " ", "Members", "#1 Boss", "+Lee"}));
}

struct WarCase {
  std::string value;  // what follows the guild name on the "+" line
  uint32_t readTick;
  uint32_t writeTick;
  std::string written;  // the line written, "" for none
};

class GuildWarTimeTest : public GuildStoreTest, public ::testing::WithParamInterface<WarCase> {};

TEST_P(GuildWarTimeTest, WrittenAsRemainingTimeAndDroppedWhenRunOut) {
  const WarCase& c = GetParam();
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.txt", {"敌对行会", "+Foe" + c.value});
  tick = c.readTick;
  Load();
  tick = c.writeTick;
  Save();
  const Lines lines = LinesOf(Out("Guilds/Alpha.txt"));
  // Notice title, " ", then the enemy section.
  const Lines expected = c.written.empty() ? Lines{"敌对行会", " "} : Lines{"敌对行会", c.written, " "};
  ASSERT_GE(lines.size(), 2 + expected.size());
  EXPECT_EQ(Lines(lines.begin() + 2, lines.begin() + 2 + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GuildWarTimeTest,
    ::testing::Values(WarCase{" 3600000", 5000, 6000, "+Foe 3599000"},
                      WarCase{" 1000", 0, 999, "+Foe 1"},
                      WarCase{" 1000", 0, 1000, ""},                    // run out exactly
                      WarCase{",1000", 7, 7, "+Foe 1000"},              // comma divider
                      WarCase{"", 0, 0, ""},                            // no time: 0
                      WarCase{" soon", 0, 0, ""},                       // not a number: 0
                      WarCase{" 99999999999", 0, 0, ""},                // beyond 32 bits: 0
                      WarCase{" 2147483647", 0, 1, "+Foe 2147483646"},  // the largest time
                      WarCase{" -2147483648", 0, 5, ""},                // must not wrap into a long war
                      WarCase{" 600000", 0xFFFFFF00u, 0x100u, "+Foe 599488"}));  // tick counter wrapped

// ---------------------------------------------------------------------------
// Bad input
// ---------------------------------------------------------------------------

TEST_F(GuildStoreTest, VeryLongLines) {
  Chars({"a"});
  Put("GuildList.txt", {"Alpha"});
  Put("Guilds/Alpha.txt", {"行会成员", "#1 Boss", "+" + Repeat("a,", 60000), "#2 Other",
                           "+" + Repeat("a", 250000),  // beyond the field splitter's limit: no field
                           "公告", "+" + Repeat("n", 300000)});
  Load();
  const TGuild& g = Guild("Alpha");
  EXPECT_EQ(g.RankList[0].MemberList.size(), 60000u);
  EXPECT_TRUE(g.RankList[1].MemberList.empty());
  ASSERT_EQ(g.NoticeList.size(), 1u);
  EXPECT_EQ(g.NoticeList[0].size(), 300000u);
}

// Something at a guild file's path that cannot be read as a file ends the
// load with the file layer's error for that path.
TEST_F(GuildStoreTest, UnreadableFilesEndTheLoad) {
  for (const char* rel : {"GuildList.txt", "Guilds/Alpha.ini", "Guilds/Alpha.txt"}) {
    fs::remove_all(Src(""));
    if (std::string_view(rel) != "GuildList.txt") Put("GuildList.txt", {"Alpha"});
    fs::create_directories(Src(rel));  // a folder where the file should be
    try {
      Load();
      ADD_FAILURE() << rel << ": no error";
    } catch (const FileError& e) {
      EXPECT_EQ(e.Op(), FileOp::Read) << rel;
      EXPECT_EQ(e.Path(), Src(rel)) << rel;
    }
  }
}

struct SafeNameCase {
  std::string name;
  bool safe;
};

class GuildFileNameTest : public ::testing::TestWithParam<SafeNameCase> {};

TEST_P(GuildFileNameTest, Classified) {
  EXPECT_EQ(IsSafeGuildFileName(GetParam().name), GetParam().safe) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, GuildFileNameTest,
    ::testing::Values(SafeNameCase{"Alpha", true}, SafeNameCase{"天下第一", true}, SafeNameCase{"a.b", true},
                      SafeNameCase{"a b", true}, SafeNameCase{".x", true}, SafeNameCase{"CONSOLE", true},
                      SafeNameCase{"COMA", true}, SafeNameCase{"LPT", true}, SafeNameCase{std::string(251, 'a'), true},
                      SafeNameCase{"", false}, SafeNameCase{std::string(252, 'a'), false},
                      SafeNameCase{"a/b", false}, SafeNameCase{"a\\b", false}, SafeNameCase{"..", false},
                      SafeNameCase{"a..b", false}, SafeNameCase{"../x", false}, SafeNameCase{"a:b", false},
                      SafeNameCase{"a*b", false}, SafeNameCase{"a?b", false}, SafeNameCase{"a\"b", false},
                      SafeNameCase{"a<b", false}, SafeNameCase{"a>b", false}, SafeNameCase{"a|b", false},
                      SafeNameCase{"a\x1f" "b", false}, SafeNameCase{"CON", false}, SafeNameCase{"con", false},
                      SafeNameCase{"Con.txt", false}, SafeNameCase{"NUL .x", false}, SafeNameCase{"aux", false},
                      SafeNameCase{"COM1", false}, SafeNameCase{"lpt9", false}, SafeNameCase{"CONOUT$", false}));

TEST_F(GuildStoreTest, UnsafeNameInTheListRefusesTheLoadAndReadsNothingOutside) {
  // A settings file the name would reach, outside the Guilds folder.
  Put("evil.ini", {"[Guild]", "BuildPoint=1"});
  Put("GuildList.txt", {"Good", "../evil"});
  try {
    Load();
    FAIL() << "no error";
  } catch (const UnsafeGuildName& e) {
    EXPECT_EQ(e.GuildName(), "../evil");
    EXPECT_NE(std::string(e.what()).find("../evil"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("第 2 行"), std::string::npos);
  }
}

TEST_F(GuildStoreTest, OverlongNameInTheListIsRefused) {
  Put("GuildList.txt", {Repeat("x", 100000)});
  EXPECT_THROW(Load(), UnsafeGuildName);
}

TEST_F(GuildStoreTest, SaveRefusesUnsafeNamesBeforeWritingAnything) {
  for (std::string name : {"Good", "a/../../escape"}) {
    auto g = std::make_unique<TGuild>();
    g->sGuildName = name;
    store.m_GuildBaseList.Add(GuildNameKey(name), std::move(g));
  }
  EXPECT_THROW(Save(), UnsafeGuildName);
  EXPECT_FALSE(fs::exists(Out("")));
  EXPECT_FALSE(fs::exists(dir.path() / "escape.ini"));
}

// Two guilds that would write one pair of files on the servers, however
// they got into the store, end the save before anything is written.
TEST_F(GuildStoreTest, SaveRefusesTwoGuildsWhoseNamesFoldTogether) {
  for (std::string name : {"ＢETa", "Wolves", "ｂeta"}) {
    auto g = std::make_unique<TGuild>();
    g->sGuildName = name;
    store.m_GuildBaseList.Add(name, std::move(g));
  }
  try {
    Save();
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("ＢETa"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("ｂeta"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(Out("")));
}

TEST_F(GuildStoreTest, WriteFailureIsAnError) {
  Put("GuildList.txt", {"Alpha"});
  Load();
  fs::create_directories(Out("Guilds/Alpha.txt"));  // a folder where the text file goes
  EXPECT_THROW(Save(), std::runtime_error);

  fs::remove_all(dir.path() / "out");
  testing::PutGbk(dir.path() / "out" / "GuildBase", "");  // a file where the GuildBase folder goes
  try {
    Save();
    ADD_FAILURE() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.Op(), FileOp::MakeFolder);
  }
}

TEST_F(GuildStoreTest, ArbitraryBytesInEveryFileLoadAndSaveOrAreRefused) {
  std::mt19937 rng(7);
  // Bytes that matter to the parsers, and GBK lead and trail bytes.
  const std::string alphabet = std::string("+#;[]=,\t\r\n 0123456789-$xAa/.:") + std::string("\x81\x5c\xfe\xff\x80\x00", 6);
  auto junk = [&](size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += alphabet[rng() % alphabet.size()];
    return out;
  };
  Chars({"A", "a1", "1"});
  for (int round = 0; round < 30; ++round) {
    fs::remove_all(Src(""));
    fs::remove_all(dir.path() / "out");
    fs::create_directories(Src("Guilds"));
    WriteFileAtomic(Src("GuildList.txt"), "Alpha\r\n" + junk(40) + "\r\nBeta\r\n");
    for (const char* name : {"Alpha", "Beta"}) {
      WriteFileAtomic(Src(std::string("Guilds/") + name + ".ini"),
                      "[GuildApply]\r\n" + junk(200) + "[GuildAgree]\r\n" + junk(100) + "[Guild]\r\n" + junk(100));
      WriteFileAtomic(Src(std::string("Guilds/") + name + ".txt"), "行会成员\r\n#1 x\r\n" + junk(400));
    }
    try {
      Load();
      Save();
    } catch (const UnsafeGuildName&) {
      // a junk list line that cannot be a file name
    }
    for (const auto& node : store.m_GuildBaseList) EXPECT_TRUE(IsSafeGuildFileName(node.Item->sGuildName));
  }
}

}  // namespace
}  // namespace razere
