#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/restore.h"
#include "app/result_output.h"
#include "app/settings.h"
#include "dbfiles/records.h"
#include "fixtures/files.h"
#include "fixtures/recording_host.h"
#include "merge/accounts.h"
#include "support/errors.h"
#include "support/file_size_limit.h"

namespace razere {
namespace {

using testing::ScratchDir;
using testing::Slurp;
using testing::WriteBytes;

namespace fs = std::filesystem;

// A master installation with one-line "old" files, and a save folder holding
// "new" versions of every output.
class ReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.Bar.SetHost(host);
    root = dir.str() + "master/";
    ctx.SavePath = dir.str() + "save/";
    ctx.Master.QelServer = root;
    DeriveServerPaths(ctx.Master, root);
    ctx.Master.RememberItemList = JoinLayoutPath(root, layout::RememberItemList);
    ctx.Master.ItemBindAccount = JoinLayoutPath(root, layout::ItemBindAccount);
    ctx.Master.ItemBindChrName = JoinLayoutPath(root, layout::ItemBindChrName);
    ctx.Master.ItemBindIPaddr = JoinLayoutPath(root, layout::ItemBindIPaddr);
    for (const auto& [name, target] : Files()) {
      WriteBytes(target, "old " + name);
      WriteBytes(ctx.SavePath + name, "new " + name);
    }
    WriteBytes(ctx.Master.Guild + "GuildList.txt", "old guilds");
    WriteBytes(ctx.SavePath + "GuildBase/GuildList.txt", "new guilds");
    WriteBytes(ctx.SavePath + "GuildBase/Guilds/A.ini", "new A");
    WriteBytes(root + "DBServer/FDB/Qel.DB.idx", "idx");
    WriteBytes(root + "DBServer/FDB/HeroQel.DB.idx", "idx");
    WriteBytes(ctx.Master.Setup, kOldSetup);
    ctx.ItemNumber = 5;
    ctx.ItemNumberEx = 0x3FFFFFFF + 2;
  }

  // The master's settings before the merge: counters far above the new ones.
  static constexpr const char* kOldSetup = "[Setup]\r\nItemNumber=9000\r\nItemNumberEx=1073750000\r\nName=s\r\n";
  static constexpr const char* kNewSetup = "[Setup]\r\nItemNumber=5\r\nItemNumberEx=1073741825\r\nName=s\r\n";

  std::vector<std::pair<std::string, std::string>> Files() const {
    const ServerPaths& m = ctx.Master;
    return {{"ID.DB", m.ID},
            {"Hum.DB", m.Hum},
            {"Qel.DB", m.Qel},
            {"HeroQel.DB", m.HeroQel},
            {"Shop.dat", m.Shop},
            {"ShopItem.dat", m.ShopItem},
            {"Email.db", m.Email},
            {"ItemBindAccount.txt", m.ItemBindAccount},
            {"ItemBindIPaddr.txt", m.ItemBindIPaddr},
            {"ItemBindChrName.txt", m.ItemBindChrName},
            {"RememberItemList.txt", m.RememberItemList}};
  }

  std::map<std::string, std::string> MasterTree() const { return testing::FileTree(root); }

  ScratchDir dir;
  std::string root;
  testing::RecordingHost host;
  RunContext ctx;
};

TEST_F(ReplaceTest, WithoutReplaceOnlyTheIndexFilesGo) {
  auto before = MasterTree();
  ReplaceMasterFiles(ctx);
  before.erase("DBServer/FDB/Qel.DB.idx");
  before.erase("DBServer/FDB/HeroQel.DB.idx");
  EXPECT_EQ(MasterTree(), before);
}

TEST_F(ReplaceTest, WithBackupTheNewFilesArriveAndTheOldOnesBecomeBackups) {
  ctx.Replace = ctx.Backup = true;
  WriteBytes(root + "Qel200/GuildBase.bak/stale.txt", "from an earlier run");
  ReplaceMasterFiles(ctx);
  for (const auto& [name, target] : Files()) {
    EXPECT_EQ(Slurp(target), "new " + name) << target;
    EXPECT_EQ(Slurp(target + ".bak"), "old " + name) << target;
  }
  EXPECT_EQ(Slurp(ctx.Master.Guild + "GuildList.txt"), "new guilds");
  EXPECT_EQ(Slurp(ctx.Master.Guild + "Guilds/A.ini"), "new A");
  EXPECT_EQ(Slurp(root + "Qel200/GuildBase.bak/GuildList.txt"), "old guilds");
  EXPECT_FALSE(fs::exists(root + "Qel200/GuildBase.bak/stale.txt"));
  // The counters arrive with the new files, the old settings and index
  // files stay as backups.
  EXPECT_EQ(Slurp(ctx.Master.Setup), kNewSetup);
  EXPECT_EQ(Slurp(ctx.Master.Setup + ".bak"), kOldSetup);
  for (const char* index : {"DBServer/FDB/Qel.DB.idx", "DBServer/FDB/HeroQel.DB.idx"}) {
    EXPECT_FALSE(fs::exists(root + index)) << index;
    EXPECT_EQ(Slurp(root + index + ".bak"), "idx") << index;
  }
  for (const auto& [rel, _] : MasterTree()) {
    EXPECT_EQ(rel.find(".razere-"), std::string::npos) << rel;
  }
}

TEST_F(ReplaceTest, WithoutBackupTheOldFilesAreGone) {
  ctx.Replace = true;
  ReplaceMasterFiles(ctx);
  auto tree = MasterTree();
  EXPECT_EQ(tree["Qel200/!Setup.txt"], kNewSetup);
  tree.erase("Qel200/!Setup.txt");
  // Written all the same: it says that no backup can undo this replacement.
  EXPECT_NE(tree["LoginSrv/IDDB/合区还原.json"].find("\"backup\": false"), std::string::npos);
  tree.erase("LoginSrv/IDDB/合区还原.json");
  for (const auto& [rel, content] : tree) {
    EXPECT_EQ(content.substr(0, 4), "new ") << rel;
    EXPECT_EQ(rel.find(".bak"), std::string::npos) << rel;
  }
  EXPECT_EQ(tree.size(), Files().size() + 2);  // the files and the two guild files
}

TEST_F(ReplaceTest, ASourceTheSaveFolderLacksLeavesTheMasterWithoutThatFile) {
  ctx.Replace = ctx.Backup = true;
  fs::remove(ctx.SavePath + "Shop.dat");
  ReplaceMasterFiles(ctx);
  EXPECT_FALSE(fs::exists(ctx.Master.Shop));
  EXPECT_EQ(Slurp(ctx.Master.Shop + ".bak"), "old Shop.dat");
}

TEST_F(ReplaceTest, ADifferentlyNamedGuildFolderIsRetiredAndTheNewOneArrivesAsGuildBase) {
  fs::rename(root + "Qel200/GuildBase", root + "Qel200/Guilds2");
  ctx.Master.Guild = root + "Qel200/Guilds2/";
  ctx.Replace = ctx.Backup = true;
  ReplaceMasterFiles(ctx);
  EXPECT_EQ(Slurp(root + "Qel200/GuildBase/GuildList.txt"), "new guilds");
  EXPECT_EQ(Slurp(root + "Qel200/Guilds2.bak/GuildList.txt"), "old guilds");
  EXPECT_FALSE(fs::exists(root + "Qel200/Guilds2"));
}

TEST_F(ReplaceTest, ADifferentlyNamedGuildFolderIsRestoredUnderItsOwnName) {
  fs::rename(root + "Qel200/GuildBase", root + "Qel200/Guilds2");
  ctx.Master.Guild = root + "Qel200/Guilds2/";
  ctx.Replace = ctx.Backup = true;
  const auto before = testing::FileTree(root, true);
  ReplaceMasterFiles(ctx);
  ASSERT_TRUE(fs::exists(root + "Qel200/GuildBase/GuildList.txt"));
  RestoreLastReplacement(ctx.Master, false);
  EXPECT_EQ(testing::FileTree(root, true), before);
}

// A replacement that fails while copying changed nothing of the master: the
// record of the replacement before it is the one a restore works from.
TEST_F(ReplaceTest, ACopyFailingPartWayKeepsTheLastReplacementsRecord) {
  RAZERE_POSIX_ONLY("a file size limit");
  ctx.Replace = ctx.Backup = true;
  const std::string record = root + "LoginSrv/IDDB/合区还原.json";
  WriteBytes(record, "{\"an earlier replacement's record\": 1}");
  WriteBytes(ctx.SavePath + "Qel.DB", std::string(64 * 1024, 'Q'));
  const auto before = MasterTree();
  {
    testing::FileSizeLimit limit(16 * 1024);
    ASSERT_TRUE(limit.ok());
    EXPECT_THROW(ReplaceMasterFiles(ctx), FileError);
  }
  EXPECT_EQ(MasterTree(), before);
}

TEST_F(ReplaceTest, TwoPairsSharingAMasterFileNameBothReceiveTheOneOutput) {
  WriteBytes(root + "a/List.txt", "old a");
  WriteBytes(root + "b/List.txt", "old b");
  WriteBytes(ctx.SavePath + "List.txt", "merged list");
  ctx.TextFilePairs = {{root + "a/List.txt", "/s/a/List.txt"}, {root + "b/List.txt", "/s/b/List.txt"}};
  ctx.Replace = true;
  ReplaceMasterFiles(ctx);
  EXPECT_EQ(Slurp(root + "a/List.txt"), "merged list");
  EXPECT_EQ(Slurp(root + "b/List.txt"), "merged list");
}

TEST_F(ReplaceTest, ACopyFailingPartWayEndsWithAnErrorAndTheMasterKeepsEveryFile) {
  RAZERE_POSIX_ONLY("a file size limit");
  ctx.Replace = true;  // without backups a lost file could not be recovered
  WriteBytes(ctx.SavePath + "Qel.DB", std::string(64 * 1024, 'Q'));  // larger than the limit below
  // Everything stays: the index files, and !Setup.txt with its old counters
  // (new ones far below the old items' serials would hand out duplicates).
  const auto before = MasterTree();

  {
    // The file-size limit makes the copy's write fail (root ignores permissions).
    testing::FileSizeLimit limit(16 * 1024);
    ASSERT_TRUE(limit.ok());
    EXPECT_THROW(ReplaceMasterFiles(ctx), FileError);
  }

  EXPECT_EQ(MasterTree(), before);  // nothing replaced, no copies left behind
}

TEST_F(ReplaceTest, AReadOnlySettingsFileIsRefusedBeforeAnythingIsStaged) {
  ctx.Replace = ctx.Backup = true;
  fs::permissions(ctx.Master.Setup, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const auto before = MasterTree();
  try {
    ReplaceMasterFiles(ctx);
    ADD_FAILURE() << "replaced";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("只读"), std::string::npos) << e.what();
  }
  fs::permissions(ctx.Master.Setup, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(MasterTree(), before);
}

TEST(DeleteFolderTree, RemovesEverythingBelowAndOptionallyTheFolder) {
  ScratchDir dir;
  WriteBytes(dir.str() + "t/a.txt", "a");
  WriteBytes(dir.str() + "t/sub/deeper/b.txt", "b");
  int pumps = 0;
  DeleteFolderTree(dir.str() + "t", false, [&pumps] { ++pumps; });
  EXPECT_TRUE(fs::is_empty(dir.str() + "t"));
  EXPECT_GE(pumps, 3);
  DeleteFolderTree(dir.str() + "t/", true);
  EXPECT_FALSE(fs::exists(dir.str() + "t"));
  EXPECT_NO_THROW(DeleteFolderTree(dir.str() + "missing", true));
}

TEST(ShellCopy, RenamesWithinAFolderAndCopiesAcrossFolders) {
  ScratchDir dir;
  WriteBytes(dir.str() + "a/x.txt", "x");
  EXPECT_FALSE(ShellCopy(dir.str() + "a/x.txt", dir.str() + "a/y.txt"));
  EXPECT_FALSE(fs::exists(dir.str() + "a/x.txt"));
  WriteBytes(dir.str() + "b/z.txt", "old");
  EXPECT_FALSE(ShellCopy(dir.str() + "a/y.txt", dir.str() + "b/z.txt"));
  EXPECT_EQ(Slurp(dir.str() + "b/z.txt"), "x");
  EXPECT_TRUE(fs::exists(dir.str() + "a/y.txt"));
  EXPECT_TRUE(ShellCopy(dir.str() + "a/missing.txt", dir.str() + "b/m.txt"));
}

TEST(WriteChangeLogs, WritesRenameLinesAndTheSummaryAlsoWhenEmpty) {
  ScratchDir dir;
  testing::RecordingHost host;
  RunContext ctx;
  ctx.Bar.SetHost(host);
  ctx.SavePath = dir.str();
  WriteChangeLogs(ctx);
  EXPECT_EQ(Slurp(dir.str() + "帐号更改记录.txt"), "");
  EXPECT_EQ(Slurp(dir.str() + "人物名称更改记录.txt"), "");
  EXPECT_EQ(Slurp(dir.str() + "行会名称更改记录.txt"), "");
  EXPECT_EQ(Slurp(dir.str() + "新记录.txt"),
            "\xd0\xc2ID.DB\xd7\xdc\xca\xfd:0\r\n\xd0\xc2Hum.DB\xd7\xdc\xca\xfd:0\r\n\xd0\xc2Qel.DB\xd7\xdc\xca\xfd:0\r\n"
            "\xd0\xc2HeroQel.DB\xd7\xdc\xca\xfd:0\r\n\xd0\xc2\xd0\xd0\xbb\xe1\xd7\xdc\xca\xfd:0\r\n"
            "\xd0\xc2Shop.Dat\xd7\xdc\xca\xfd:0\r\n\xd0\xc2ShopItem.Dat\xd7\xdc\xca\xfd:0\r\n");

  AccountEntry renamed;
  renamed.name = "ABC";
  renamed.newName = "ABCa";
  AccountEntry chinese;
  chinese.name = "\xd5\xc5\xc8\xfd";  // GBK
  chinese.newName = "\xd5\xc5\xc8\xfd" "a";
  ctx.AccountRenames = std::make_shared<NameRenameMap>();
  ctx.AccountRenames->Add(renamed.name, &renamed);
  ctx.AccountRenames->Add(chinese.name, &chinese);
  ctx.GuildRenameLines = std::make_shared<std::vector<std::string>>(std::vector<std::string>{"行会 => 行会a"});
  WriteChangeLogs(ctx);
  EXPECT_EQ(Slurp(dir.str() + "帐号更改记录.txt"), "ABC => ABCa\r\n\xd5\xc5\xc8\xfd => \xd5\xc5\xc8\xfd" "a\r\n");
  EXPECT_EQ(Slurp(dir.str() + "行会名称更改记录.txt"), "\xd0\xd0\xbb\xe1 => \xd0\xd0\xbb\xe1" "a\r\n");
  EXPECT_EQ(host.statuses.back(), "正在生成日记(2/2)");
}

}  // namespace
}  // namespace razere
