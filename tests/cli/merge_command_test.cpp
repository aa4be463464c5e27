#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/cli_runner.h"
#include "fixtures/installation.h"

namespace razere {
namespace {

using testing::EmptyDbHeader;
using testing::RunCli;
using testing::Slurp;
using testing::WriteBytes;

namespace fs = std::filesystem;

// A master and a slave installation, a program folder without settings and
// a save folder, each named on the command line.
class MergeCommandTest : public ::testing::Test, protected testing::InstallationPair {
 protected:
  std::vector<std::string> Args(std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"merge", "--config", program + "Config.ini", "--master", master,
                                  "--slave", slave,    "--save",              save};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }
};

TEST_F(MergeCommandTest, CompletedRunExitsZeroAndStoresTheOptions) {
  auto r = RunCli(Args({"--clean", "--min-day", "30", "--min-level", "-5", "--backup"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("合区完成(42/42)"), std::string::npos) << r.err;
  std::string config = Slurp(program + "Config.ini");
  EXPECT_NE(config.find("CleanData=1\r\nMinDay=30\r\nMinLevel=-5\r\n"), std::string::npos) << config;
  EXPECT_NE(config.find("Backup=1\r\n"), std::string::npos);
  EXPECT_NE(config.find("SavePath=" + save + "\r\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(save + "Email.db"));

  // The next run starts from what the first one stored; --no-clean edits it.
  auto again = RunCli({"merge", "--config", program + "Config.ini", "--no-clean", "--quiet"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.err, "");
  EXPECT_NE(Slurp(program + "Config.ini").find("CleanData=0\r\nMinDay=30\r\n"), std::string::npos);
}

TEST_F(MergeCommandTest, MissingInputIsAnExpectedFailure) {
  fs::remove(slave + "DBServer/FDB/Hum.DB");
  auto r = RunCli(Args({"--quiet"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "没有发现从库: Hum.DB ！！！\n");
  EXPECT_FALSE(fs::exists(program + "Config.ini"));
}

TEST_F(MergeCommandTest, VersionMessageNamesTheFileAndBothVersions) {
  WriteBytes(master + "DBServer/FDB/Qel.DB", EmptyDbHeader(20220708));
  auto r = RunCli(Args({"--quiet"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "数据库版本太低：\r\n\r\n“" + master + testing::Native("DBServer/FDB/Qel.DB") + "”该数据库版本：20220708 \r\n\r\n"
                   "需要数据库版本：20220707！！！\n");
}

TEST_F(MergeCommandTest, SaveFolderAmongTheInputsIsRefused) {
  auto r = RunCli({"merge", "--config", program + "Config.ini", "--master", master, "--slave", slave, "--save",
                   slave + "DBServer/FDB", "--quiet"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "保存目录不能与主库或从库的数据目录相同！！！\n");
  EXPECT_FALSE(fs::exists(program + "Config.ini"));
}

struct UsageCase {
  std::vector<std::string> args;
};

class UsageTest : public MergeCommandTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageTest, ExitsTwoWithoutRunning) {
  auto r = RunCli(Args(GetParam().args));
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_FALSE(fs::exists(program + "Config.ini"));
}

INSTANTIATE_TEST_SUITE_P(Bad, UsageTest,
                         ::testing::Values(UsageCase{{"--min-day", "ten"}}, UsageCase{{"--min-day", "0x10"}},
                                           UsageCase{{"--min-level", "99999999999"}},
                                           UsageCase{{"--min-level", ""}}, UsageCase{{"--no-such-flag"}},
                                           UsageCase{{"extra-argument"}}));

TEST(MergeCommand, NoCommandIsAUsageError) {
  EXPECT_EQ(RunCli({}).exitCode, 2);
  EXPECT_EQ(RunCli({"frobnicate"}).exitCode, 2);
}

TEST_F(MergeCommandTest, UnwritableSettingsFileIsAnUnexpectedError) {
  fs::create_directories(program + "Config.ini");  // a folder where the file should be
  auto r = RunCli(Args({"--quiet"}));
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_FALSE(r.err.empty());
}

}  // namespace
}  // namespace razere
