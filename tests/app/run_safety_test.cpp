// The driver's safety steps on small installations: the free-space check
// before the first write, and the replacement's progress through its copies.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/merge_history.h"
#include "app/result_output.h"
#include "app/run_driver.h"
#include "app/space_check.h"
#include "dbfiles/db_format.h"
#include "fixtures/driver_rig.h"
#include "support/file_system.h"

namespace razere {
namespace {

namespace fs = std::filesystem;

// The platform's files on a disk that reports a fixed free space; paths
// below `second` are on a volume of their own with secondFree bytes free.
class SmallDisk : public ForwardingFileSystem {
 public:
  explicit SmallDisk(uint64_t free, std::string second = {}, uint64_t secondFree = 0)
      : ForwardingFileSystem(PlatformFileSystem()), free_(free), second_(std::move(second)), secondFree_(secondFree) {}

  uint64_t FreeSpace(const fs::path& p) override { return OnSecond(p) ? secondFree_ : free_; }
  std::string VolumeOf(const fs::path& p) override { return OnSecond(p) ? "second" : "first"; }

 private:
  // Compared with the platform's separators: on Windows a path may reach the
  // layer with "/" or "\\" where second_ has the other.
  bool OnSecond(const fs::path& p) const {
    return !second_.empty() && testing::Native(TextOfPath(p) + "/").starts_with(testing::Native(second_));
  }

  uint64_t free_;
  std::string second_;
  uint64_t secondFree_;
};

class RunSafetyTest : public ::testing::Test, protected testing::DriverRig {
 protected:
  void SetUp() override {
    OpenWindow();
    // Some bytes to count: a slave character and a master text list.
    testing::WriteBytes(slave + "DBServer/FDB/Qel.DB",
                        testing::EmptyDbHeader(20220707) + std::string(chardata_rec::kSize, '\0'));
    testing::WriteBytes(master + "Qel200/Envir/ItemBindAccount.txt", std::string(5000, 'x'));
  }
};

TEST_F(RunSafetyTest, TheBoundCountsInputsMailSlotsAndWithReplaceTheStagedCopies) {
  ReadPaths(ctx.Master, window.Master);
  BuildUneditedPaths(ctx.Master);
  ReadPaths(ctx.Slave, window.Slave);
  BuildUneditedPaths(ctx.Slave);
  ctx.SavePath = save;
  ctx.Replace = false;
  const std::vector<SpaceNeed> saveOnly = EstimateSpace(ctx);
  ASSERT_EQ(saveOnly.size(), 1u);  // save folder and master's !Setup.txt on one disk here
  const uint64_t records = 8 * 124 + chardata_rec::kSize;  // both sides' record files
  EXPECT_GE(saveOnly[0].needed, records + 5000 + kMailDataSize);
  ctx.Replace = true;
  const std::vector<SpaceNeed> withReplace = EstimateSpace(ctx);
  ASSERT_EQ(withReplace.size(), 1u);
  EXPECT_GE(withReplace[0].needed, 2 * (records + 5000));
}

TEST_F(RunSafetyTest, ADiskTooSmallRefusesTheRunBeforeAnythingIsWritten) {
  SmallDisk disk(1000);
  ScopedFileSystem scoped(disk);
  EXPECT_EQ(ButtonOKClick(ctx, window, RunStages{}), RunOutcome::Refused);
  ASSERT_EQ(host.messages.size(), 1u);
  const std::string& text = host.messages[0].first;
  EXPECT_NE(text.find("保存目录所在的磁盘空间不足！！！"), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("，可用：0.0 MB")) << text;  // the figures end it
  EXPECT_FALSE(fs::exists(save));
}

TEST_F(RunSafetyTest, AFullMasterDiskRefusesAReplacementOnly) {
  // The save folder has room; the master's disk has none for the copies.
  SmallDisk disk(uint64_t{1} << 40, master, 1000);
  window.AutoSaveDBMasterServer = true;
  {
    ScopedFileSystem scoped(disk);
    EXPECT_EQ(ButtonOKClick(ctx, window, RunStages{}), RunOutcome::Refused);
  }
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].first.find("主库所在的磁盘空间不足！！！"), std::string::npos) << host.messages[0].first;
}

TEST_F(RunSafetyTest, TheCheckCanBeTurnedOff) {
  SmallDisk disk(1000);
  ScopedFileSystem scoped(disk);
  window.CheckFreeSpace = false;
  EXPECT_EQ(ButtonOKClick(ctx, window, RunStages{}), RunOutcome::Completed);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(RunSafetyTest, TheReplacementShowsEachCopyThenEndsAtFortyTwo) {
  window.AutoSaveDBMasterServer = true;
  RunStages stages;
  stages.ReplaceMasterFiles = ReplaceMasterFiles;
  const int pumpsBefore = host.pumps;
  ASSERT_EQ(ButtonOKClick(ctx, window, stages), RunOutcome::Completed);
  EXPECT_GT(host.pumps - pumpsBefore, 2 * 2);  // window events ran during each copy
  std::vector<std::string> copies;
  for (const std::string& s : host.statuses) {
    if (s.starts_with("正在替换主库文件")) copies.push_back(s);
  }
  // Without stages the save folder holds the mail store and the history only:
  // the 7th and the 14th (last) entries of the plan; the 13th is the master's
  // own !Setup.txt, whose copy takes the counters.
  EXPECT_EQ(copies, (std::vector<std::string>{"正在替换主库文件(7/14) " + ctx.Master.Email,
                                              "正在替换主库文件(13/14) " + ctx.Master.Setup,
                                              "正在替换主库文件(14/14) " + MasterHistoryPath(ctx.Master)}));
  EXPECT_EQ(host.statuses.back(), "合区完成(42/42)");
  EXPECT_EQ(host.lastMax, 0);  // the run's end empties the bar
}

TEST_F(RunSafetyTest, ADataSetThatFailsItsChecksReplacesNothing) {
  testing::WriteBytes(master + "DBServer/FDB/Qel.DB.idx", "index");
  testing::WriteBytes(master + "DBServer/FDB/HeroQel.DB.idx", "index");
  window.AutoSaveDBMasterServer = true;
  window.BackDB = true;
  RunStages stages = BuiltStages();
  // A stage that leaves a broken ID.DB: its header counts a record it lacks.
  stages.LoadAccounts = [](RunContext& ctx) {
    std::string id = testing::EmptyDbHeader(0);
    id[db_header::kRecordCount] = 1;
    testing::WriteBytes(ctx.SavePath + "ID.DB", id);
  };
  stages.MergeCharacters = nullptr;
  stages.MergeGuilds = nullptr;
  stages.MergeUserShops = nullptr;
  stages.MergeTextLists = nullptr;
  stages.MergeMail = nullptr;
  const auto before = testing::FileTree(master);
  try {
    ButtonOKClick(ctx, window, stages);
    ADD_FAILURE() << "the run completed";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("新数据未通过校验，没有替换主库"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("ID.DB"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(testing::FileTree(master) == before) << "the master, its counters or its index files changed";
  EXPECT_TRUE(fs::exists(PathFromText(save + kIncompleteMarkerName)));  // a Chinese name: through the run's text
  EXPECT_TRUE(fs::exists(save + "ID.DB"));  // kept for inspection
}

}  // namespace
}  // namespace razere
