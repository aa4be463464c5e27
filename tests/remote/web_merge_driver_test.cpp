// The consignment-sale steps of a whole run, through the start button's
// driver with the real key reading and request stages.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "app/web_merge_stage.h"
#include "fixtures/driver_rig.h"
#include "merge/accounts.h"
#include "remote/loopback_server.h"
#include "support/ansi.h"
#include "support/codecs.h"
#include "support/datetime.h"

namespace razere {
namespace {

using testing::LoopbackServer;
using testing::Slurp;
using testing::WriteBytes;

namespace fs = std::filesystem;

// The driver's window with consignment sale on, over installations whose
// !Setup.txt hold area keys (the master's with credentials) and a program
// folder whose settings name the loopback server.
class WebMergeRunTest : public ::testing::Test, protected testing::DriverRig {
 protected:
  void SetUp() override {
    SetClockForTesting(EncodeDateTime(2026, 12, 10, 9, 5, 7));
    WriteBytes(program + "Config.ini", "[WebService]\r\nHost=" + server.host() + "\r\nFillByte=0x21\r\n");
    WriteSetup(master, "1001", "master-secret");
    WriteSetup(slave, "", "");
    OpenWindow();
    window.Gmm = true;

    stages.ReadAreaKey = [](RunContext& c, const std::string& setup, bool withCredentials) {
      return ReadAreaKey(c, c, setup, withCredentials);
    };
    stages.WebMerge = [](RunContext& c) { WebMerge(c); };
    // The character stage's product: one renamed slave character.
    renamed.name = "\xD5\xC5\xC8\xFD";  // GBK "张三"
    renamed.newName = "\xD5\xC5\xC8\xFD" "a";
    renamed.roleId = 31;
    stages.MergeCharacters = [this](RunContext& c) {
      c.CharRenames = std::make_shared<NameRenameMap>();
      c.CharRenames->Add(renamed.name, &renamed);
    };
    stages.WriteChangeLogs = [this](RunContext&) { later.push_back("WriteChangeLogs"); };
    stages.WriteItemNumbers = [this](RunContext&) { later.push_back("WriteItemNumbers"); };
    stages.ReplaceMasterFiles = [this](RunContext&) { later.push_back("ReplaceMasterFiles"); };
  }
  void TearDown() override { SetClockForTesting(std::nullopt); }

  // Side's !Setup.txt with its area key, and credentials when safeId is set.
  void WriteSetup(const std::string& root, const std::string& safeId, const std::string& safeKey) {
    std::string text = "[Setup]\r\nServerName=Test\r\n[WebService]\r\nAreaKey=" +
                       EncodeSetupValue(root == master ? "area/M" : "area/S", "<=>?", 0x21) + "\r\n";
    if (!safeId.empty()) text += "SafeId=" + safeId + "\r\n";
    if (!safeKey.empty()) text += "SafeKey=" + EncodeSetupValue(safeKey, "@@@@", 0x21) + "\r\n";
    WriteBytes(root + "Qel200/!Setup.txt", Utf8ToGbk(text));
  }

  RunOutcome Run() { return ButtonOKClick(ctx, window, stages); }

  LoopbackServer server;
  RunStages stages;
  CharIndexEntry renamed;
  std::vector<std::string> later;
};

TEST_F(WebMergeRunTest, ConfirmedMergeGoesOnAndLeavesNoQueryLog) {
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_TRUE(host.messages.empty());
  const auto got = server.received();
  ASSERT_EQ(got.size(), 1u);
  const std::string body =
      R"({"uid":1001,"area_main_key":"area\/M","area_keys":[{"key":"area\/S","names":)"
      R"([{"new":"\u5f20\u4e09a","role_id":31}]}],"timestamp":1796893507})";
  EXPECT_EQ(got[0].body, body);
  EXPECT_EQ(got[0].target, "/api.GameArea/areaMerge?sign=" + MD5Hex("master-secret" + body));
  EXPECT_FALSE(fs::exists(save + "QueryLog.txt"));
  EXPECT_EQ(later, (std::vector<std::string>{"WriteChangeLogs", "WriteItemNumbers", "ReplaceMasterFiles"}));
  EXPECT_NE(std::find(host.statuses.begin(), host.statuses.end(), "正在合并寄买卖数据......"), host.statuses.end());
  EXPECT_NE(std::find(host.statuses.begin(), host.statuses.end(), "寄买卖数据合并完成......"), host.statuses.end());
  // Saving the run's settings keeps the operator's web-service keys.
  const std::string config = Slurp(program + "Config.ini");
  EXPECT_NE(config.find("Host=" + server.host() + "\r\n"), std::string::npos);
  EXPECT_NE(config.find("FillByte=0x21\r\n"), std::string::npos);
  EXPECT_EQ(ctx.HTTPQueryLog, nullptr);
}

TEST_F(WebMergeRunTest, RefusedMergeStopsTheRunAndLeavesQueryLog) {
  LoopbackServer::Reply refused;
  refused.status = 500;
  server.SetReply(refused);
  const std::string setupBefore = Slurp(master + "Qel200/!Setup.txt");
  EXPECT_EQ(Run(), RunOutcome::Refused);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].first, "寄买卖数据合并失败！\r\n\r\n错误代码：(500) Internal Server Error");
  EXPECT_EQ(host.messages[0].second, "提示信息");
  EXPECT_TRUE(later.empty());
  EXPECT_EQ(Slurp(master + "Qel200/!Setup.txt"), setupBefore);
  EXPECT_TRUE(fs::exists(save + "Email.db"));  // what the run already wrote stays

  const std::string body = server.received().at(0).body;
  const std::string url =
      "http://" + server.host() + "/api.GameArea/areaMerge?sign=" + MD5Hex("master-secret" + body);
  EXPECT_EQ(Slurp(save + "QueryLog.txt"), "2026/12/10 9:05:07 URL: " + url + "\r\n" +
                                              "2026/12/10 9:05:07 POST: " + body + "\r\n" +
                                              "2026/12/10 9:05:07 Error: 500) Internal Server Error\r\n");
  EXPECT_EQ(Slurp(save + "QueryLog.txt").find("master-secret"), std::string::npos);
  EXPECT_EQ(ctx.HTTPQueryLog, nullptr);
  EXPECT_TRUE(host.startEnabled.back());
}

TEST_F(WebMergeRunTest, UnreachableServiceStopsTheRunWithTheClientsMessage) {
  int closedPort;
  {
    LoopbackServer gone;
    closedPort = gone.port();
  }
  WriteBytes(program + "Config.ini", "[WebService]\r\nHost=127.0.0.1:" + std::to_string(closedPort) +
                                         "\r\nFillByte=0x21\r\n");
  EXPECT_EQ(Run(), RunOutcome::Refused);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].first.rfind("寄买卖数据合并失败！\r\n\r\n", 0), 0u);
  EXPECT_GT(host.messages[0].first.size(), std::string("寄买卖数据合并失败！\r\n\r\n").size());
  EXPECT_TRUE(fs::exists(save + "QueryLog.txt"));
  EXPECT_TRUE(later.empty());
}

struct KeyCheckCase {
  const char* name;
  std::string safeId, safeKey;  // master's credentials
  bool slaveKey;
  std::string message;
};

class KeyCheckTest : public WebMergeRunTest, public ::testing::WithParamInterface<KeyCheckCase> {};

TEST_P(KeyCheckTest, StopsBeforeConfigIsWritten) {
  const KeyCheckCase& c = GetParam();
  WriteSetup(master, c.safeId, c.safeKey);
  if (!c.slaveKey) WriteBytes(slave + "Qel200/!Setup.txt", "[Setup]\r\nServerName=Test\r\n");
  const std::string configBefore = Slurp(program + "Config.ini");
  EXPECT_EQ(Run(), RunOutcome::Refused);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].first, c.message);
  EXPECT_EQ(host.messages[0].second, "合并寄买卖数据失败");
  EXPECT_EQ(Slurp(program + "Config.ini"), configBefore);
  EXPECT_FALSE(fs::exists(save));
  EXPECT_TRUE(server.received().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyCheckTest,
    ::testing::Values(KeyCheckCase{"safeIdZero", "0", "master-secret", true, "没有找到主库寄买卖分区Key！！！"},
                      KeyCheckCase{"noSafeKey", "1001", "", true, "没有找到主库寄买卖分区Key！！！"},
                      KeyCheckCase{"noSlaveKey", "1001", "master-secret", false, "没有找到从库寄买卖分区Key！！！"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WebMergeRunTest, WithoutGmmNoKeyIsReadAndNothingIsSent) {
  window.Gmm = false;
  WriteBytes(master + "Qel200/!Setup.txt", "[Setup]\r\n");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_TRUE(server.received().empty());
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace razere
