// Undoing a merge that replaced the master: razere-cli restore puts back the
// master as it was before its last replacement, from the record that the
// replacement left; razere-cli history says which merge that is.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fixtures/cli_runner.h"
#include "fixtures/files.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"

namespace razere {
namespace {

using testing::RunCli;
using testing::ScratchDir;
using testing::WriteBytes;

namespace fs = std::filesystem;

using Tree = std::map<std::string, std::string>;

const std::string kRecord = "LoginSrv/IDDB/合区还原.json";
const char* const kIndexFiles[] = {"DBServer/FDB/Qel.DB.idx", "DBServer/FDB/HeroQel.DB.idx"};

std::string Differences(const Tree& want, const Tree& got) {
  std::string text;
  for (const auto& [rel, bytes] : want) {
    auto it = got.find(rel);
    if (it == got.end()) {
      text += "  missing: " + rel + "\n";
    } else if (it->second != bytes) {
      text += "  changed: " + rel + "\n";
    }
  }
  for (const auto& [rel, _] : got) {
    if (!want.count(rel)) text += "  extra: " + rel + "\n";
  }
  return text;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class RestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gen::GenOptions o = testing::StagePairOptions();
    o.guilds = 4;
    o.shops = 5;
    o.shopItems = 20;
    o.mails = 10;
    pair = gen::GeneratePair(o, scratch.path() / "pair");
    // The server's index files, which the database service rebuilds.
    for (const char* idx : kIndexFiles) WriteBytes(pair.master.root / idx, std::string("index of ") + idx);
    o.seed = 47;
    secondSlave = gen::GenerateServer(o, scratch.path() / "slave2", gen::GenSide::Slave).root;
  }

  std::vector<std::string> Config() const { return {"--config", pair.config.string()}; }
  testing::CliResult Cli(std::vector<std::string> args) {
    const std::vector<std::string> config = Config();
    args.insert(args.begin() + 1, config.begin(), config.end());
    return RunCli(args);
  }
  testing::CliResult Merge(std::vector<std::string> extra = {"--replace", "--backup"}) {
    std::vector<std::string> args = {"merge", "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args);
  }
  Tree Master() const { return testing::FileTree(pair.master.root, true); }
  fs::path At(const std::string& rel) const { return pair.master.root / PathFromText(rel); }

  ScratchDir scratch;
  gen::GeneratedPair pair;
  fs::path secondSlave;
};

// What the master may lack before its first merge, and so must lack again.
struct MasterShape {
  const char* name;
  std::function<void(const fs::path& master)> prepare;
};

class RestoreShapeTest : public RestoreTest, public ::testing::WithParamInterface<MasterShape> {};

TEST_P(RestoreShapeTest, PutsTheMasterBackToTheByteAndTheSlaveCanBeMergedAgain) {
  GetParam().prepare(pair.master.root);
  const Tree before = Master();

  const auto merged = Merge();
  ASSERT_EQ(merged.exitCode, 0) << merged.err;
  ASSERT_TRUE(fs::exists(At(kRecord)));
  const auto history = Cli({"history"});
  EXPECT_EQ(history.exitCode, 0) << history.err;
  EXPECT_TRUE(Contains(history.out, pair.slave.paths.QelServer)) << history.out;
  EXPECT_TRUE(Contains(history.out, "（可用 restore 还原）")) << history.out;

  const auto restored = Cli({"restore"});
  ASSERT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_TRUE(Contains(restored.out, "已还原")) << restored.out;
  const Tree after = Master();
  EXPECT_TRUE(after == before) << Differences(before, after);
  EXPECT_EQ(Cli({"history"}).out, "主库没有合并过\n");

  // The history no longer holds the merge: the same slave merges again.
  const auto again = Merge();
  EXPECT_EQ(again.exitCode, 0) << again.err;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RestoreShapeTest,
    ::testing::Values(MasterShape{"AsGenerated", [](const fs::path&) {}},
                      // The replacement makes the folder; the restore removes it.
                      MasterShape{"WithoutShopsOrMail", [](const fs::path& m) { fs::remove_all(m / "Qel200/Envir/UserData"); }},
                      MasterShape{"WithoutIndexFilesOrTextLists",
                                  [](const fs::path& m) {
                                    for (const char* idx : kIndexFiles) fs::remove(m / idx);
                                    fs::remove(m / "Qel200/Envir/RememberItemList.txt");
                                    fs::remove(m / "Qel200/Envir/ItemBindAccount.txt");
                                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// A second merge replaced the first one's backups with its own: restore
// undoes the second only, and the first can no longer be undone.
TEST_F(RestoreTest, AfterASecondMergeOnlyTheLastIsUndone) {
  ASSERT_EQ(Merge().exitCode, 0);
  Tree afterFirst = Master();
  // What the second merge's backups and record replace; the first merge's
  // backups of the index files stay, as the second found no index files.
  for (auto it = afterFirst.begin(); it != afterFirst.end();) {
    const bool replaced = it->first == kRecord || (it->first.ends_with(".bak") && !it->first.ends_with(".idx.bak")) ||
                          Contains(it->first, ".bak/");
    it = replaced ? afterFirst.erase(it) : std::next(it);
  }
  const auto second = Merge({"--replace", "--backup", "--slave", secondSlave.string()});
  ASSERT_EQ(second.exitCode, 0) << second.err;

  auto history = Cli({"history"});
  ASSERT_EQ(history.exitCode, 0) << history.err;
  const size_t first = history.out.find(pair.slave.paths.QelServer);
  const size_t mark = history.out.find("（可用 restore 还原）");
  ASSERT_NE(first, std::string::npos) << history.out;
  ASSERT_NE(mark, std::string::npos) << history.out;
  EXPECT_LT(first, history.out.find('\n')) << "the first merge is the first line";
  EXPECT_GT(mark, history.out.find('\n')) << "only the second can be undone:\n" << history.out;

  const auto restored = Cli({"restore"});
  ASSERT_EQ(restored.exitCode, 0) << restored.err;
  const Tree after = Master();
  EXPECT_TRUE(after == afterFirst) << Differences(afterFirst, after);

  history = Cli({"history"});
  EXPECT_TRUE(Contains(history.out, pair.slave.paths.QelServer)) << history.out;
  EXPECT_FALSE(Contains(history.out, "（可用 restore 还原）")) << history.out;
  EXPECT_TRUE(Contains(history.out, "之前的合并都不能还原")) << history.out;
  const auto none = Cli({"restore"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_TRUE(Contains(none.err, "找不到合区还原记录")) << none.err;
  // The second slave is no longer in the history.
  EXPECT_EQ(Merge({"--replace", "--backup", "--slave", secondSlave.string()}).exitCode, 0);
}

void SetLater(const fs::path& file) {
  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::hours(1));
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> mergeOptions;
  std::function<void(const fs::path& master)> afterMerge;
  const char* message;
};

class RestoreRefusalTest : public RestoreTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RestoreRefusalTest, ChangesNothingAndSaysWhy) {
  const RefusalCase& c = GetParam();
  if (!c.mergeOptions.empty()) {
    ASSERT_EQ(Merge(c.mergeOptions).exitCode, 0);
  }
  c.afterMerge(pair.master.root);
  const Tree before = Master();
  const auto r = Cli({"restore"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
  const Tree after = Master();
  EXPECT_TRUE(after == before) << Differences(before, after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreRefusalTest,
    ::testing::Values(
        RefusalCase{"NeverReplaced", {}, [](const fs::path&) {}, "找不到合区还原记录"},
        RefusalCase{"MergedWithoutReplacing", {"--no-replace"}, [](const fs::path&) {}, "找不到合区还原记录"},
        RefusalCase{"ReplacedWithoutBackup", {"--replace", "--no-backup"}, [](const fs::path&) {}, "没有备份旧文件"},
        RefusalCase{"ABackupDeleted",
                    {"--replace", "--backup"},
                    [](const fs::path& m) { fs::remove(m / "DBServer/FDB/Hum.DB.bak"); },
                    "Hum.DB.bak"},
        // A server that ran after the merge writes its record files.
        RefusalCase{"ARecordFileWrittenSince",
                    {"--replace", "--backup"},
                    [](const fs::path& m) { SetLater(m / "DBServer/FDB/Hum.DB"); },
                    "Hum.DB  修改时间 "},
        RefusalCase{"AGuildFileWrittenSince",
                    {"--replace", "--backup"},
                    [](const fs::path& m) { WriteBytes(m / "Qel200/GuildBase/GuildList.txt", "changed"); },
                    "GuildBase  修改时间 "},
        RefusalCase{"IndexFilesRebuiltSince",
                    {"--replace", "--backup"},
                    [](const fs::path& m) { WriteBytes(m / kIndexFiles[0], "rebuilt"); },
                    "Qel.DB.idx  修改时间 "}),
    [](const auto& info) { return std::string(info.param.name); });

// Forced over a master that a server changed: every file as before the merge,
// and the merged files, changed ones included, kept beside it.
TEST_F(RestoreTest, ForcedRestoreKeepsTheMergedFilesAsUndone) {
  const Tree before = Master();
  ASSERT_EQ(Merge().exitCode, 0);
  WriteBytes(At("DBServer/FDB/Hum.DB"), "played on");
  const Tree merged = testing::FileTree(pair.master.root);

  const auto r = Cli({"restore", "--force"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "Hum.DB  修改时间 ")) << r.out;
  Tree after = Master();
  for (const auto& [rel, bytes] : merged) {
    if (rel == kRecord || rel.ends_with(".bak") || Contains(rel, ".bak/")) continue;
    const std::string undone = rel.starts_with("Qel200/GuildBase/")
                                   ? "Qel200/GuildBase.razere-undone/" + rel.substr(17)
                                   : rel + ".razere-undone";
    const bool placed = before.count(rel) == 0 || before.at(rel) != bytes;
    if (!placed) continue;
    ASSERT_TRUE(after.count(undone)) << undone;
    EXPECT_EQ(after[undone], bytes) << undone;
  }
  EXPECT_EQ(after["DBServer/FDB/Hum.DB.razere-undone"], "played on");
  for (auto it = after.begin(); it != after.end();) {
    it = Contains(it->first, ".razere-undone") ? after.erase(it) : std::next(it);
  }
  EXPECT_TRUE(after == before) << Differences(before, after);

  // The kept files are in the way of a second forced restore of a later merge.
  ASSERT_EQ(Merge().exitCode, 0);
  const auto again = Cli({"restore", "--force"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_TRUE(Contains(again.err, ".razere-undone")) << again.err;
}

}  // namespace
}  // namespace razere
