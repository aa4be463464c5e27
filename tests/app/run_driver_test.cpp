#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "fixtures/driver_rig.h"
#include "merge/accounts.h"
#include "merge/character_collections.h"
#include "support/errors.h"

namespace razere {
namespace {

using testing::EmptyDbHeader;
using testing::Native;
using testing::RecordingHost;
using testing::Slurp;
using testing::WriteBytes;

namespace fs = std::filesystem;

// A master and a slave installation, a program folder without settings and
// a save folder, entered in the window.
class DriverTest : public ::testing::Test, protected testing::DriverRig {
 protected:
  void SetUp() override { OpenWindow(); }

  RunOutcome Run() { return ButtonOKClick(ctx, window, RunStages{}); }

  std::string OnlyMessage() {
    EXPECT_EQ(host.messages.size(), 1u);
    return host.messages.empty() ? "" : host.messages[0].first;
  }
};

TEST_F(DriverTest, CompletesWithoutStagesAndWritesConfigAndMailStore) {
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(host.statuses.back(), "合区完成(42/42)");
  EXPECT_TRUE(fs::exists(program + "Config.ini"));
  EXPECT_EQ(fs::file_size(save + "Email.db"), 48u);
  EXPECT_EQ(ctx.MailStore, nullptr);
  ASSERT_FALSE(host.startEnabled.empty());
  EXPECT_FALSE(host.startEnabled.front());
  EXPECT_TRUE(host.startEnabled.back());
  EXPECT_EQ(ctx.Bar.Max(), 0);
}

struct MissingCase {
  const char* relative;  // below the master ("m") or slave ("s") root
  bool slaveSide;
  const char* message;
};

class InputCheckTest : public DriverTest, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(InputCheckTest, FirstMissingFileIsReportedAndNothingIsWritten) {
  const MissingCase& c = GetParam();
  fs::remove((c.slaveSide ? slave : master) + c.relative);
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(OnlyMessage(), c.message);
  EXPECT_EQ(host.messages[0].second, "提示信息");
  EXPECT_FALSE(fs::exists(program + "Config.ini"));
  EXPECT_FALSE(fs::exists(save));
  EXPECT_TRUE(host.startEnabled.back());
}

INSTANTIATE_TEST_SUITE_P(
    Files, InputCheckTest,
    ::testing::Values(MissingCase{"LoginSrv/IDDB/ID.DB", false, "没有发现主库: ID.DB ！！！"},
                      MissingCase{"DBServer/FDB/Hum.DB", false, "没有发现主库: Hum.DB ！！！"},
                      MissingCase{"DBServer/FDB/Qel.DB", false, "没有发现主库: Qel.DB ！！！"},
                      MissingCase{"DBServer/FDB/HeroQel.DB", false, "没有发现主库: HeroQel.DB ！！！"},
                      MissingCase{"Qel200/!Setup.txt", false, "没有发现主库: !Setup.txt ！！！"},
                      MissingCase{"LoginSrv/IDDB/ID.DB", true, "没有发现从库: ID.DB ！！！"},
                      MissingCase{"DBServer/FDB/Hum.DB", true, "没有发现从库: Hum.DB ！！！"},
                      MissingCase{"DBServer/FDB/Qel.DB", true, "没有发现从库: Qel.DB ！！！"},
                      MissingCase{"DBServer/FDB/HeroQel.DB", true, "没有发现从库: HeroQel.DB ！！！"},
                      MissingCase{"Qel200/!Setup.txt", true, "没有发现从库: !Setup.txt ！！！"}));

TEST_F(DriverTest, ChecksComeInTheirOrder) {
  fs::remove(slave + "LoginSrv/IDDB/ID.DB");
  window.Master.Guild = "  ";
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(OnlyMessage(), "请设置主库: GuildBase目录 ！！！");
}

TEST_F(DriverTest, EmptySlaveGuildEditIsRefusedButAMissingFolderPasses) {
  window.Master.Guild = dir.str() + "no-such-folder";
  window.Slave.Guild = "";
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(OnlyMessage(), "请设置从库: GuildBase目录 ！！！");
}

TEST_F(DriverTest, GuildFolderGetsItsSeparatorAndIsStoredSo) {
  window.Master.Guild = master + Native("Qel200/GuildBase");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(ctx.Master.Guild, master + Native("Qel200/GuildBase/"));
  const std::string text = Slurp(program + "Config.ini");
  EXPECT_NE(text.find("Guild=" + master + Native("Qel200/GuildBase/") + "\r\n"), std::string::npos);
}

struct VersionCase {
  const char* file;
  std::string bytes;
  int32_t shown;
};

class VersionTest : public DriverTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, WrongVersionIsRefusedAfterConfigIsWritten) {
  const VersionCase& c = GetParam();
  const std::string path = slave + Native(c.file);
  WriteBytes(path, c.bytes);
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(OnlyMessage(), "数据库版本太低：\r\n\r\n“" + path + "”该数据库版本：" + std::to_string(c.shown) +
                               " \r\n\r\n需要数据库版本：20220707！！！");
  EXPECT_TRUE(fs::exists(program + "Config.ini"));
  EXPECT_FALSE(fs::exists(save + "Email.db"));
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionTest,
                         ::testing::Values(VersionCase{"DBServer/FDB/Qel.DB", EmptyDbHeader(20220708), 20220708},
                                           VersionCase{"DBServer/FDB/HeroQel.DB", std::string(10, '\x01'), 0},
                                           VersionCase{"DBServer/FDB/Qel.DB", EmptyDbHeader(20220706), 20220706}));

TEST_F(DriverTest, EmptySaveEditMeansTheProgramFolder) {
  window.SavePath = "   ";
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(ctx.SavePath, program);
  EXPECT_TRUE(fs::exists(program + "Email.db"));
}

TEST_F(DriverTest, SaveFolderWithoutSeparatorGetsOne) {
  window.SavePath = dir.str() + "out";
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(ctx.SavePath, dir.str() + Native("out/"));
}

struct SaveCollisionCase {
  const char* saveBelowMaster;  // save folder, relative to the master root
};

class SaveFolderTest : public DriverTest, public ::testing::WithParamInterface<SaveCollisionCase> {};

TEST_P(SaveFolderTest, AFolderOfTheInputsIsRefusedBeforeAnythingIsWritten) {
  window.SavePath = master + GetParam().saveBelowMaster;
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(OnlyMessage(), "保存目录不能与主库或从库的数据目录相同！！！");
  EXPECT_FALSE(fs::exists(program + "Config.ini"));
}

INSTANTIATE_TEST_SUITE_P(Folders, SaveFolderTest,
                         ::testing::Values(SaveCollisionCase{"LoginSrv/IDDB"}, SaveCollisionCase{"DBServer/FDB/"},
                                           SaveCollisionCase{"Qel200"},  // !Setup.txt and the guild folder's parent
                                           SaveCollisionCase{"Qel200/Envir/UserData"},  // shop and mail files
                                           SaveCollisionCase{"Qel200/Envir/"},          // the text lists
                                           SaveCollisionCase{"LoginSrv/../DBServer/FDB"}));

TEST_F(DriverTest, SaveFolderReachedThroughASymbolicLinkIsRefused) {
  RAZERE_POSIX_ONLY("symbolic links");
  fs::create_directory_symlink(master + "DBServer/FDB", dir.str() + "link");
  window.SavePath = dir.str() + "link";
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(OnlyMessage(), "保存目录不能与主库或从库的数据目录相同！！！");
}

TEST_F(DriverTest, SaveFolderHoldingAPairFileIsRefused) {
  WriteBytes(dir.str() + "pairs/a.txt", "x");
  ctx.TextFilePairs.push_back({dir.str() + "pairs/a.txt", slave + "a.txt"});
  window.SavePath = dir.str() + "pairs/";
  EXPECT_EQ(Run(), RunOutcome::Refused);
}

TEST_F(DriverTest, PairsWritingOneSaveFolderFileAreRefusedBeforeAnythingIsWritten) {
  ctx.TextFilePairs.push_back({master + "Qel200/Envir/a.txt", slave + "Qel200/Envir/a.txt"});
  ctx.TextFilePairs.push_back({master + "Qel200/Other/A.TXT", slave + "Qel200/Other/b.txt"});
  bool staged = false;
  RunStages stages;
  stages.LoadAccounts = [&](RunContext&) { staged = true; };
  EXPECT_EQ(ButtonOKClick(ctx, window, stages), RunOutcome::Refused);
  EXPECT_NE(OnlyMessage().find("文件名相同"), std::string::npos);
  EXPECT_FALSE(staged);
  EXPECT_FALSE(fs::exists(save + "Email.db"));
  EXPECT_FALSE(fs::exists(program + "Config.ini"));
}

TEST_F(DriverTest, StagesRunInOrderAndAStageErrorStillCleansUp) {
  std::vector<std::string> calls;
  RunStages stages;
  auto record = [&calls](const char* name) { return [&calls, name](RunContext&) { calls.push_back(name); }; };
  stages.LoadAccounts = record("LoadAccounts");
  stages.MergeCharacters = record("MergeCharacters");
  stages.MergeGuilds = record("MergeGuilds");
  stages.MergeUserShops = record("MergeUserShops");
  stages.MergeTextLists = record("MergeTextLists");
  stages.MergeMail = record("MergeMail");
  stages.WriteChangeLogs = record("WriteChangeLogs");
  stages.WriteItemNumbers = record("WriteItemNumbers");
  stages.ReplaceMasterFiles = record("ReplaceMasterFiles");
  EXPECT_EQ(ButtonOKClick(ctx, window, stages), RunOutcome::Completed);
  EXPECT_EQ(calls, (std::vector<std::string>{"LoadAccounts", "MergeCharacters", "MergeGuilds", "MergeUserShops",
                                             "MergeTextLists", "MergeMail", "WriteChangeLogs", "WriteItemNumbers",
                                             "ReplaceMasterFiles"}));

  stages.MergeGuilds = [](RunContext&) { throw std::runtime_error("guild folder unreadable"); };
  host.startEnabled.clear();
  EXPECT_THROW(ButtonOKClick(ctx, window, stages), std::runtime_error);
  EXPECT_EQ(ctx.MailStore, nullptr);
  EXPECT_EQ(ctx.HTTPQueryLog, nullptr);
  EXPECT_TRUE(host.startEnabled.back());
}

TEST_F(DriverTest, ShutdownDuringAStageEndsTheRunWithAnError) {
  RunStages stages;
  stages.LoadAccounts = [this](RunContext& c) {
    host.shuttingDown = true;
    c.ShowStatusText(1, "正在加载主库(%d/%d) ID.DB");
  };
  stages.WriteItemNumbers = [](RunContext&) { FAIL() << "the run went on after the interruption"; };
  EXPECT_THROW(ButtonOKClick(ctx, window, stages), RunInterrupted);
  EXPECT_TRUE(host.startEnabled.back());
}

TEST_F(DriverTest, GmmWithoutAreaKeyStopsBeforeConfigIsWritten) {
  window.Gmm = true;
  RunStages stages;
  stages.ReadAreaKey = [](RunContext&, const std::string&, bool withCredentials) {
    return withCredentials ? std::string("master-key") : std::string();
  };
  EXPECT_EQ(ButtonOKClick(ctx, window, stages), RunOutcome::Refused);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].first, "没有找到从库寄买卖分区Key！！！");
  EXPECT_EQ(host.messages[0].second, "合并寄买卖数据失败");
  EXPECT_FALSE(fs::exists(program + "Config.ini"));
}

TEST_F(DriverTest, FailedWebMergeLeavesQueryLogAndSkipsLogsAndCounters) {
  window.Gmm = true;
  RunStages stages;
  stages.ReadAreaKey = [](RunContext&, const std::string&, bool) { return std::string("key"); };
  stages.WebMerge = [](RunContext& c) {
    c.HTTPQueryLog->push_back("request line");
    throw std::runtime_error("HTTP 500");
  };
  stages.WriteItemNumbers = [](RunContext&) { FAIL() << "counters written after a failed web merge"; };
  EXPECT_EQ(ButtonOKClick(ctx, window, stages), RunOutcome::Refused);
  EXPECT_EQ(OnlyMessage(), "寄买卖数据合并失败！\r\n\r\nHTTP 500");
  EXPECT_TRUE(fs::exists(save + "QueryLog.txt"));
}

TEST(ReleaseRunData, AdvancesTheBarFortyFourTimesAndFreesEverything) {
  RecordingHost host;
  RunContext ctx;
  ctx.Bar.SetHost(host);
  ctx.Bar.SetRange(0, 42);
  ctx.Bar.SetPosition(0);
  ctx.MasterAccounts = std::make_shared<AccountCollection>();
  ctx.AccountRenames = std::make_shared<NameRenameMap>();
  ctx.CharRenames = std::make_shared<NameRenameMap>();
  ctx.MasterCharIndex = std::make_shared<CharIndexCollection>();
  ctx.GuildRenameLines = std::make_shared<std::vector<std::string>>();
  ctx.AllSlaveChars = std::make_shared<SlaveNameMap>();
  ctx.SlaveAccountChars = std::make_shared<AccountCharCounts>();
  ReleaseRunData(ctx);
  EXPECT_EQ(host.statuses.size(), 44u);
  EXPECT_EQ(host.statuses.front(), "正在释放内存(1/42)");
  EXPECT_EQ(host.statuses.back(), "正在释放内存(42/42)");
  EXPECT_EQ(ctx.MasterAccounts, nullptr);
  EXPECT_EQ(ctx.AccountRenames, nullptr);
  EXPECT_EQ(ctx.CharRenames, nullptr);
  EXPECT_EQ(ctx.MasterCharIndex, nullptr);
  EXPECT_EQ(ctx.GuildRenameLines, nullptr);
  EXPECT_EQ(ctx.AllSlaveChars, nullptr);
  EXPECT_EQ(ctx.SlaveAccountChars, nullptr);  // the last step, without progress
  EXPECT_GE(host.pumps, 44);
  // A second release finds nothing and still counts every step.
  ReleaseRunData(ctx);
  EXPECT_EQ(host.statuses.size(), 88u);
}

// On a range wide enough not to clamp, every numbered step shows its own
// number: a step that frees nothing still counts, and none counts twice.
TEST(ReleaseRunData, EveryNumberedStepTicksOnce) {
  RecordingHost host;
  RunContext ctx;
  ctx.Bar.SetHost(host);
  ctx.Bar.SetRange(0, 100);
  ctx.Bar.SetPosition(0);
  ReleaseRunData(ctx);
  std::vector<std::string> expected;
  for (int i = 1; i <= 44; ++i) expected.push_back("正在释放内存(" + std::to_string(i) + "/100)");
  EXPECT_EQ(host.statuses, expected);
}

TEST_F(DriverTest, ARunAfterACompletedRunAlsoEndsAtFortyTwoOfFortyTwo) {
  for (int run = 0; run < 2; ++run) {
    host.statuses.clear();
    EXPECT_EQ(Run(), RunOutcome::Completed);
    ASSERT_GE(host.statuses.size(), 45u);
    EXPECT_EQ(host.statuses.back(), "合区完成(42/42)");
    // The closing release: 44 steps on 0..42, the last two held at the maximum.
    const std::vector<std::string> tail(host.statuses.end() - 4, host.statuses.end() - 1);
    EXPECT_EQ(tail, (std::vector<std::string>{"正在释放内存(42/42)", "正在释放内存(42/42)", "正在释放内存(42/42)"}));
    EXPECT_EQ(host.statuses[host.statuses.size() - 45], "正在释放内存(1/42)");
  }
}

TEST(FormCloseQuery, RefusedOnlyWhileTheStartButtonIsDisabled) {
  bool canClose = true;
  FormCloseQuery(true, canClose);
  EXPECT_TRUE(canClose);
  FormCloseQuery(false, canClose);
  EXPECT_FALSE(canClose);
}

}  // namespace
}  // namespace razere
