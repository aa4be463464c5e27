// The one description of a side's rows, checked against what each of its
// consumers showed, stored, checked and replaced before it existed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/result_output.h"
#include "app/settings.h"
#include "app/side_rows.h"
#include "fixtures/files.h"

namespace razere {
namespace {

using testing::Native;
using testing::ScratchDir;
using testing::WriteBytes;

struct WindowRow {
  std::string control, label;
  int top;
  PickerKind picker;
  std::string filter;
  std::string settingsKey;
};

// The window's group, top to bottom; also the order of Config.ini's keys.
TEST(SideRows, WindowRowsAndSettingsKeys) {
  const std::vector<WindowRow> expected = {
      {"QelServer", "QelServer:", 20, PickerKind::RootFolder, "", "QelServer"},
      {"ID", "ID.DB:", 44, PickerKind::File, "ID (*.DB)", "ID"},
      {"Hum", "Hum.DB:", 68, PickerKind::File, "Hum (*.DB)", "Hum"},
      {"Qel", "Qel.DB:", 92, PickerKind::File, "Qel (*.DB)", "Qel"},
      {"HeroQel", "HeroQel.DB:", 116, PickerKind::File, "HeroQel (*.DB)", "HeroQel"},
      {"Guild", "GuildBase:", 140, PickerKind::GuildFolder, "", "Guild"},
      {"UserShop", "UserShop:", 164, PickerKind::File, "Shop (*.dat)", "Shop"},
      {"UserShopItem", "UserShopItem:", 188, PickerKind::File, "ShopItem (*.dat)", "ShopItem"},
      {"Setup", "!Setup.txt:", 212, PickerKind::File, "!Setup (*.txt)", "!Setup"},
      {"Email", "Email:", 237, PickerKind::File, "Email (*.db)", "Email"},
  };
  std::vector<WindowRow> got;
  for (const SideRow& row : kSideRows) {
    if (row.edit == nullptr) {
      EXPECT_EQ(row.settingsKey, nullptr) << "a row without an edit is not stored";
      continue;
    }
    got.push_back({row.control, row.label, row.top, row.picker, row.filter, row.settingsKey});
  }
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(expected[i].control);
    EXPECT_EQ(got[i].control, expected[i].control);
    EXPECT_EQ(got[i].label, expected[i].label);
    EXPECT_EQ(got[i].top, expected[i].top);
    EXPECT_EQ(got[i].picker, expected[i].picker);
    EXPECT_EQ(got[i].filter, expected[i].filter);
    EXPECT_EQ(got[i].settingsKey, expected[i].settingsKey);
  }
}

// The run copies the edits trimmed, gives the guild folder its separator,
// and rebuilds the four text lists from the root whatever was there.
TEST(SideRows, RunPathsFromTheEdits) {
  ServerPaths side;
  side.QelServer = Native("/r/");
  side.RememberItemList = "stale";
  SideEdits edits;
  edits.ID = Native("  /a/ID.DB ");
  edits.Guild = Native(" /a/Guilds ");
  edits.UserShop = Native("/a/Shop.dat");
  edits.Setup = Native("\t/a/!Setup.txt");
  ReadPaths(side, edits);
  BuildUneditedPaths(side);
  EXPECT_EQ(side.ID, Native("/a/ID.DB"));
  EXPECT_EQ(side.Guild, Native("/a/Guilds/"));
  EXPECT_EQ(side.Shop, Native("/a/Shop.dat"));
  EXPECT_EQ(side.Setup, Native("/a/!Setup.txt"));
  EXPECT_EQ(side.Email, "");
  EXPECT_EQ(side.QelServer, Native("/r/"));  // the root follows its edit's change handler, not the run
  EXPECT_EQ(side.RememberItemList, Native("/r/Qel200/Envir/RememberItemList.txt"));
  EXPECT_EQ(side.ItemBindAccount, Native("/r/Qel200/Envir/ItemBindAccount.txt"));
  EXPECT_EQ(side.ItemBindChrName, Native("/r/Qel200/Envir/ItemBindChrName.txt"));
  EXPECT_EQ(side.ItemBindIPaddr, Native("/r/Qel200/Envir/ItemBindIPaddr.txt"));
}

// The replacement's order is its own: the record files, the shops and the
// mail, the guild folder, the text lists, then the pairs; !Setup.txt stays
// the master's. A copy staged next to every target shows the plan's order.
TEST(SideRows, ReplacementPlanKeepsItsOrder) {
  ScratchDir dir;
  RunContext ctx;
  const std::string root = Native(dir.str() + "m/");
  ctx.SavePath = Native(dir.str() + "save/");
  ctx.Master.QelServer = root;
  DeriveServerPaths(ctx.Master, root);
  BuildUneditedPaths(ctx.Master);
  ctx.Master.Guild = root + Native("Qel200/Guilds2/");  // arrives as GuildBase beside it
  ctx.TextFilePairs = {{root + Native("x/Extra.txt"), Native("/s/Extra.txt")}};
  const std::vector<std::string> targets = {
      "LoginSrv/IDDB/ID.DB",          "DBServer/FDB/Hum.DB",
      "DBServer/FDB/Qel.DB",          "DBServer/FDB/HeroQel.DB",
      "Qel200/Envir/UserData/Shop.dat", "Qel200/Envir/UserData/ShopItem.dat",
      "Qel200/Envir/UserData/Email.db", "Qel200/GuildBase",
      "Qel200/Envir/ItemBindAccount.txt", "Qel200/Envir/ItemBindIPaddr.txt",
      "Qel200/Envir/ItemBindChrName.txt", "Qel200/Envir/RememberItemList.txt",
      "x/Extra.txt",                  "Qel200/!Setup.txt"};  // its copy carries the counters
  std::vector<std::string> expected;
  for (const std::string& target : targets) {
    expected.push_back(root + Native(target) + kStagedSuffix);
    WriteBytes(expected.back(), "staged");
  }
  WriteBytes(root + Native("Qel200/Envir/Other.txt") + kStagedSuffix, "not the replacement's");
  EXPECT_EQ(InterruptedReplacementLeftovers(ctx), expected);
}

TEST(SideRows, OutputNamesAreTheLayoutsLastPart) {
  EXPECT_EQ(SideRowOf(&ServerPaths::ID).OutputName(), "ID.DB");
  EXPECT_EQ(SideRowOf(&ServerPaths::Guild).OutputName(), "GuildBase");
  EXPECT_EQ(SideRowOf(&ServerPaths::Email).OutputName(), "Email.db");
  EXPECT_EQ(SideRowOf(&ServerPaths::ItemBindIPaddr).OutputName(), "ItemBindIPaddr.txt");
}

}  // namespace
}  // namespace razere
