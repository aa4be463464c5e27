// The one program-wide state record of a merge run.
//
// Paths and options are overwritten at the start of every run. Each stage
// collection is created by the stage that fills it and released by
// ReleaseRunData (app/run_driver.cpp) in its fixed order, at the start
// of the next run and at the end of a completed one. Collections are held by
// shared_ptr so that this header needs only their declarations: the stage
// that owns a collection type defines it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/progress.h"

namespace razere {

class TXoCustomDatabase;
class DbSourceFile;
class TGuildBase;

// Collections of the account and character stages (merge/).
struct AccountCollection;
struct NameRenameMap;
struct CharIndexCollection;
struct CharDataCollection;
struct HeroDataCollection;
struct ItemSerialMap;
struct AccountCharCounts;
struct SlaveNameMap;
// Collections of the player-shop stage (stages/).
struct ShopCollection;

// Paths of one installation, UTF-8, with the platform's separators.
struct ServerPaths {
  std::string QelServer;  // root, always ends with a separator
  std::string ID, Hum, Qel, HeroQel;
  std::string Guild;  // a folder, ends with a separator during a run
  std::string Setup, Shop, ShopItem, Email;
  std::string RememberItemList, ItemBindAccount, ItemBindChrName, ItemBindIPaddr;
  std::string AreaKey;
};

// One extra text-file pair.
struct TTextFileName {
  std::string Master;
  std::string Slave;
};

struct RunContext {
  std::string ConfigFile;    // program folder + "Config.ini"
  std::string PairListFile;  // program folder + "TextFileName.txt"
  std::string ProgramFolder; // ends with a separator

  ServerPaths Master;
  ServerPaths Slave;
  std::string SavePath;  // ends with a separator during a run

  bool SortItemMakeIndex = false;
  bool Replace = false;
  bool Backup = false;
  bool CleanData = false;
  int32_t MinDay = 90;
  int32_t MinLevel = 10;
  bool Gmm = false;

  int32_t SafeId = 0;
  std::string SafeKey;

  int32_t ItemNumber = 0;
  int32_t ItemNumberEx = 0;

  // The new Email.db while a run writes it; empty outside a run.
  std::shared_ptr<TXoCustomDatabase> MailStore;

  std::vector<TTextFileName> TextFilePairs;

  // Lines of the web request log; exists only during a run.
  std::shared_ptr<std::vector<std::string>> HTTPQueryLog;

  // The progress bar and status label, painted through the host.
  Progress Bar;

  void ShowStatusText(int32_t Value, std::string_view sText) { Bar.ShowStatusText(Value, sText); }

  // Stage collections, in the order ReleaseRunData frees them.
  std::shared_ptr<AccountCollection> MasterAccounts;
  std::shared_ptr<AccountCollection> SlaveAccounts;
  std::shared_ptr<NameRenameMap> AccountRenames;
  std::shared_ptr<NameRenameMap> CharRenames;
  std::shared_ptr<CharIndexCollection> MasterCharIndex;
  std::shared_ptr<CharIndexCollection> SlaveCharIndex;
  std::shared_ptr<CharDataCollection> MasterCharData;
  std::shared_ptr<CharDataCollection> SlaveCharData;
  std::shared_ptr<HeroDataCollection> MasterHeroData;
  std::shared_ptr<HeroDataCollection> SlaveHeroData;
  std::shared_ptr<ItemSerialMap> MasterItemSerials;
  std::shared_ptr<ItemSerialMap> SlaveItemSerials;
  // Source files kept open from the read passes to the write passes.
  std::shared_ptr<DbSourceFile> MasterIdFile, MasterHumFile, MasterQelFile, MasterHeroQelFile;
  std::shared_ptr<DbSourceFile> SlaveIdFile, SlaveHumFile, SlaveQelFile, SlaveHeroQelFile;
  std::shared_ptr<std::vector<std::string>> GuildRenameLines;
  std::shared_ptr<TGuildBase> NewGuildBase;
  std::shared_ptr<TGuildBase> SlaveGuildBase;
  std::shared_ptr<ShopCollection> MasterShops, SlaveShops, MasterShopItems, SlaveShopItems;
  std::shared_ptr<SlaveNameMap> AllSlaveChars;
  std::shared_ptr<SlaveNameMap> AllSlaveAccounts;
  std::shared_ptr<AccountCharCounts> MasterAccountChars;
  std::shared_ptr<AccountCharCounts> SlaveAccountChars;
};

}  // namespace razere
