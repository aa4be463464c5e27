// The merge history: a slave merged into a master is never merged into it a
// second time, and a failed run marks its save folder as unfinished.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fixtures/cli_runner.h"
#include "fixtures/files.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"
#include "support/ansi.h"

namespace razere {
namespace {

using testing::RunCli;
using testing::ScratchDir;
using testing::Slurp;
using testing::WriteBytes;

namespace fs = std::filesystem;

const std::string kHistory = "合区历史.txt";
const std::string kMarker = "合区未完成.txt";

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

class MergeHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gen::GenOptions o = testing::StagePairOptions();
    pair = gen::GeneratePair(o, scratch.path() / "pair");
  }

  testing::CliResult Merge(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"merge", "--config", pair.config.string(), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args);
  }
  fs::path MasterHistory() const { return fs::path(pair.master.paths.ID).parent_path() / PathFromText(kHistory); }

  ScratchDir scratch;
  gen::GeneratedPair pair;
};

TEST_F(MergeHistoryTest, ACompletedRunStartedAgainIsRefusedAndChangesNothing) {
  const auto first = Merge({"--replace", "--backup"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  testing::ExpectVerifiedClean(pair.save);
  testing::ExpectVerifiedClean(pair.master.root);
  const std::vector<std::string> history = testing::GbkLines(MasterHistory());
  ASSERT_EQ(history.size(), 1u);
  const std::vector<std::string> fields = Fields(history[0]);
  ASSERT_EQ(fields.size(), 10u) << history[0];
  EXPECT_EQ(fields[1], pair.slave.paths.QelServer);
  EXPECT_TRUE(fields[2].starts_with("ID.DB " + std::to_string(fs::file_size(pair.slave.paths.ID)) + " "));
  EXPECT_EQ(fields[6], pair.slave.paths.ID);

  const auto masterBefore = testing::FileTree(pair.master.root);
  const auto second = Merge({"--replace", "--backup"});
  EXPECT_EQ(second.exitCode, 1);
  // The whole message, the history file named, and nothing after its Chinese.
  const std::string& id = pair.master.paths.ID;  // ".../LoginSrv/IDDB/ID.DB", the history beside it
  EXPECT_EQ(second.err, "该从库已于 " + fields[0] + " 合并到主库，不能再次合并！！！\r\n\r\n合区历史：" +
                            id.substr(0, id.size() - std::string("ID.DB").size()) + kHistory +
                            "\r\n确需再次合并时，请先删除其中的那一行。\n");
  EXPECT_TRUE(testing::FileTree(pair.master.root) == masterBefore) << "the master or its backups changed";

  // Deleting the line is the operator's knowing override.
  WriteBytes(MasterHistory(), "");
  const auto third = Merge({"--replace", "--backup"});
  EXPECT_EQ(third.exitCode, 0) << third.err;
}

TEST_F(MergeHistoryTest, WithoutReplaceTheHistoryIsInTheSaveFolderOnly) {
  const auto first = Merge();
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(testing::GbkLines(pair.save / PathFromText(kHistory)).size(), 1u);
  EXPECT_FALSE(fs::exists(MasterHistory()));
  // The master was not changed, so merging the slave into it is still allowed.
  const auto second = Merge();
  EXPECT_EQ(second.exitCode, 0) << second.err;
}

TEST_F(MergeHistoryTest, ADifferentSlaveIntoAMergedMasterIsAllowed) {
  ASSERT_EQ(Merge({"--replace"}).exitCode, 0);
  gen::GenOptions other = testing::StagePairOptions();
  other.seed = 77;
  const gen::GeneratedServer third = gen::GenerateServer(other, scratch.path() / "third", gen::GenSide::Slave);
  const auto r = Merge({"--replace", "--slave", third.root.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  testing::ExpectVerifiedClean(pair.master.root);
  const std::vector<std::string> history = testing::GbkLines(MasterHistory());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(Fields(history[0])[1], pair.slave.paths.QelServer);
  EXPECT_EQ(Fields(history[1])[1], third.paths.QelServer);
  EXPECT_EQ(testing::GbkLines(pair.save / PathFromText(kHistory)), history);
}

TEST_F(MergeHistoryTest, AMasterMergedWithItselfIsRefused) {
  const auto r = Merge({"--slave", pair.master.root.string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "主库与从库是同一组数据文件，不能合并！！！\n");
  EXPECT_TRUE(fs::is_empty(pair.save));
}

// A write failure half-way (a file where the guild stage makes its folder)
// leaves the marker with the run's error; the next completed run removes it.
TEST_F(MergeHistoryTest, AFailedRunLeavesTheMarkerUntilARunCompletes) {
  WriteBytes(pair.save / "GuildBase", "in the way");
  const auto failed = Merge();
  ASSERT_EQ(failed.exitCode, 3);
  ASSERT_TRUE(fs::exists(pair.save / PathFromText(kMarker)));
  const std::vector<std::string> marker = testing::GbkLines(pair.save / PathFromText(kMarker));
  ASSERT_FALSE(marker.empty());
  EXPECT_NE(failed.err.find(marker[0]), std::string::npos) << failed.err;

  fs::remove(pair.save / "GuildBase");
  const auto next = Merge();
  ASSERT_EQ(next.exitCode, 0) << next.err;
  EXPECT_FALSE(fs::exists(pair.save / PathFromText(kMarker)));
}

}  // namespace
}  // namespace razere
