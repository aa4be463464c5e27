#include <gtest/gtest.h>

#include <utility>

#include "app/settings.h"
#include "app/text_file_pairs.h"
#include "fixtures/files.h"

namespace razere {
namespace {

using testing::Native;
using testing::ScratchDir;
using testing::Slurp;
using testing::WriteBytes;

TEST(PathDerivation, RootGetsSeparatorAndEveryPathFollows) {
  ServerPaths side;
  SideEdits edits;
  RootEditChanged(side, edits, Native("  /e/S "));
  EXPECT_EQ(side.QelServer, Native("/e/S/"));
  EXPECT_EQ(edits.ID, Native("/e/S/LoginSrv/IDDB/ID.DB"));
  EXPECT_EQ(edits.Hum, Native("/e/S/DBServer/FDB/Hum.DB"));
  EXPECT_EQ(edits.Qel, Native("/e/S/DBServer/FDB/Qel.DB"));
  EXPECT_EQ(edits.HeroQel, Native("/e/S/DBServer/FDB/HeroQel.DB"));
  EXPECT_EQ(edits.Guild, Native("/e/S/Qel200/GuildBase/"));
  EXPECT_EQ(edits.Setup, Native("/e/S/Qel200/!Setup.txt"));
  EXPECT_EQ(edits.UserShop, Native("/e/S/Qel200/Envir/UserData/Shop.dat"));
  EXPECT_EQ(edits.UserShopItem, Native("/e/S/Qel200/Envir/UserData/ShopItem.dat"));
  EXPECT_EQ(edits.Email, Native("/e/S/Qel200/Envir/UserData/Email.db"));
}

TEST(PathDerivation, ClearedRootLeavesALoneSeparator) {
  ServerPaths side;
  SideEdits edits;
  edits.ID = "typed by hand";
  RootEditChanged(side, edits, "");
  EXPECT_EQ(side.QelServer, Native("/"));
  EXPECT_EQ(edits.ID, Native("/LoginSrv/IDDB/ID.DB"));
}

TEST(Config, WrittenInTableOrderByteForByte) {
  ScratchDir dir;
  RunContext ctx;
  ctx.ConfigFile = dir.str() + "Config.ini";
  SetDefaultSettings(ctx);
  ctx.SavePath = Native("/out/");
  ctx.SortItemMakeIndex = true;
  ctx.Backup = true;
  ctx.MinDay = 30;
  ctx.Master.QelServer = Native("/m/");
  DeriveServerPaths(ctx.Master, Native("/m/"));
  ctx.Slave.QelServer = Native("/s/");
  DeriveServerPaths(ctx.Slave, Native("/s/"));
  SaveConfig(ctx);
  auto side = [](const std::string& name, const std::string& r) {
    return "[" + name + "]\r\nQelServer=" + r + "\r\nID=" + r + "LoginSrv/IDDB/ID.DB\r\nHum=" + r +
           "DBServer/FDB/Hum.DB\r\nQel=" + r + "DBServer/FDB/Qel.DB\r\nHeroQel=" + r +
           "DBServer/FDB/HeroQel.DB\r\nGuild=" + r + "Qel200/GuildBase/\r\nShop=" + r +
           "Qel200/Envir/UserData/Shop.dat\r\nShopItem=" + r + "Qel200/Envir/UserData/ShopItem.dat\r\n!Setup=" + r +
           "Qel200/!Setup.txt\r\nEmail=" + r + "Qel200/Envir/UserData/Email.db\r\n";
  };
  // Every "/" of the text is a separator.
  const std::string expected = Native(
      "[Setup]\r\nSavePath=/out/\r\nSortItemMakeIndex=1\r\nReplace=0\r\nBackup=1\r\nCleanData=0\r\n"
      "MinDay=30\r\nMinLevel=10\r\nGmm=0\r\n" +
      side("Master", "/m/") + side("Slave", "/s/"));
  EXPECT_EQ(Slurp(ctx.ConfigFile), expected);

  // A second save of the same values changes nothing.
  SaveConfig(ctx);
  EXPECT_EQ(Slurp(ctx.ConfigFile), expected);
}

TEST(Config, MissingFileAndBadNumbersKeepDefaults) {
  ScratchDir dir;
  RunContext ctx;
  ctx.ConfigFile = dir.str() + "Config.ini";
  SetDefaultSettings(ctx);
  LoadConfig(ctx);
  EXPECT_EQ(ctx.MinDay, 90);
  EXPECT_EQ(ctx.MinLevel, 10);
  EXPECT_EQ(ctx.Master.ID, Native("D:/QelServer(主库)/LoginSrv/IDDB/ID.DB"));

  WriteBytes(ctx.ConfigFile, "[Setup]\r\nMinDay=abc\r\nMinLevel=0x20\r\nCleanData=7\r\nReplace=0\r\n");
  LoadConfig(ctx);
  EXPECT_EQ(ctx.MinDay, 90);
  EXPECT_EQ(ctx.MinLevel, 32);
  EXPECT_TRUE(ctx.CleanData);  // any value other than 0 is true
  EXPECT_FALSE(ctx.Replace);
}

// The number edits' text: blanks and line breaks trimmed, an optional '+'
// then a signed decimal; 0 for anything else.
TEST(SpinEdit, ValueOfTheText) {
  const std::pair<const char*, int32_t> cases[] = {
      {"30", 30},          {" \t30\r\n", 30}, {"+30", 30},           {"-30", -30},
      {"+-30", -30},       {"-+30", 0},       {"++30", 0},           {"", 0},
      {"  ", 0},           {"+", 0},          {"3 0", 0},            {"0x20", 0},
      {"2147483647", INT32_MAX},              {"2147483648", 0},     {"-2147483648", INT32_MIN},
      {"\x01" "30", 0},    // a control character other than a blank or line break stays
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(SpinEditValue(text), value) << '"' << text << '"';
}

TEST(StartUp, StoredPathsWinOverDerivedOnes) {
  ScratchDir dir;
  WriteBytes(dir.path() / "Config.ini",
             Native("[Master]\r\nQelServer=/m\r\nID=/elsewhere/ID.DB\r\n[Setup]\r\nSavePath=/save/\r\nGmm=1\r\n"));
  RunContext ctx;
  WindowState w = StartUp(ctx, dir.path().string());
  EXPECT_EQ(ctx.Master.QelServer, Native("/m/"));
  EXPECT_EQ(w.Master.ID, Native("/elsewhere/ID.DB"));
  // A key missing from Config.ini keeps its built-in default, which was
  // derived from the default root, and that default wins over the derivation.
  EXPECT_EQ(w.Master.Hum, Native("D:/QelServer(主库)/DBServer/FDB/Hum.DB"));
  EXPECT_EQ(w.SavePath, Native("/save/"));
  EXPECT_TRUE(w.Gmm);
  EXPECT_TRUE(w.SortItemMakeIndex);
  EXPECT_EQ(w.ClearMinDay, "90");
}

TEST(TextFilePairs, LoadingRules) {
  std::vector<std::string> lines = {
      "  /m/a.txt|/s/a.txt  ",  // trimmed at both ends
      ";/m/b.txt|/s/b.txt",     // comment
      "|/s/c.txt",              // nothing before the bar
      "/m/d.txt|",              // nothing after it
      "no bar at all",
      "",
      "/m/e.txt | /s/e.txt",    // blanks next to the bar stay
      "/m/f.txt|/s/f|x.txt",    // split at the first bar
  };
  auto pairs = ParseTextFilePairs(lines);
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].Master, "/m/a.txt");
  EXPECT_EQ(pairs[0].Slave, "/s/a.txt");
  EXPECT_EQ(pairs[1].Master, "/m/e.txt ");
  EXPECT_EQ(pairs[1].Slave, " /s/e.txt");
  EXPECT_EQ(pairs[2].Slave, "/s/f|x.txt");
}

TEST(TextFilePairs, SaveLoadRoundTripAndCaseInsensitiveExists) {
  ScratchDir dir;
  RunContext ctx;
  ctx.PairListFile = dir.str() + "TextFileName.txt";
  ctx.TextFilePairs = {{"/m/甲.txt", "/s/甲.txt"}, {"/m/B.txt", "/s/B.txt"}};
  ASSERT_TRUE(SaveTextFilePairs(ctx));
  EXPECT_EQ(Slurp(ctx.PairListFile), "/m/\xbc\xd7.txt|/s/\xbc\xd7.txt\r\n/m/B.txt|/s/B.txt\r\n");
  ctx.TextFilePairs.clear();
  LoadTextFilePairs(ctx);
  ASSERT_EQ(ctx.TextFilePairs.size(), 2u);
  EXPECT_TRUE(TextFilePairExists(ctx, "/M/b.TXT", "/S/b.txt"));
  EXPECT_FALSE(TextFilePairExists(ctx, "/m/B.txt", "/s/C.txt"));
  EXPECT_EQ(TextFilePairDisplay(ctx.TextFilePairs[1]), "/m/B.txt <== /s/B.txt");
}

}  // namespace
}  // namespace razere
