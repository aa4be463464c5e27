// The one program-wide state record of a merge run.
//
// Grouped by who writes it: the run's settings, then one group per stage
// with what that stage leaves for the later stages and the output step.
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
#include <utility>
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
struct RecordTally;
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

// What a run copies from the window and the settings before any stage runs:
// every stage reads it, none writes it.
struct RunSettings {
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

  std::vector<TTextFileName> TextFilePairs;
};

// Left by the account stage (LoadAccounts, and MergeAccounts within the
// character stage); read by the later stages and the change logs.
struct AccountStageProducts {
  std::shared_ptr<AccountCollection> MasterAccounts;
  std::shared_ptr<AccountCollection> SlaveAccounts;
  std::shared_ptr<NameRenameMap> AccountRenames;
  // Kept open from the read pass to the write pass.
  std::shared_ptr<DbSourceFile> MasterIdFile, SlaveIdFile;
  // Created here, added to by the character stage's load and clean-up; read
  // by the run's report. Not among the released collections: the next run's
  // LoadAccounts replaces it.
  std::shared_ptr<RecordTally> Tally;
};

// Left by the character stage (MergeCharacters) with its item serial
// renumbering; read by the guild, shop, text list and mail stages, the web
// request, the change logs and the counters' write.
struct CharacterStageProducts {
  std::shared_ptr<NameRenameMap> CharRenames;
  std::shared_ptr<CharIndexCollection> MasterCharIndex;
  std::shared_ptr<CharIndexCollection> SlaveCharIndex;
  std::shared_ptr<CharDataCollection> MasterCharData;
  std::shared_ptr<CharDataCollection> SlaveCharData;
  std::shared_ptr<HeroDataCollection> MasterHeroData;
  std::shared_ptr<HeroDataCollection> SlaveHeroData;
  std::shared_ptr<SlaveNameMap> AllSlaveChars;
  std::shared_ptr<AccountCharCounts> MasterAccountChars;
  std::shared_ptr<AccountCharCounts> SlaveAccountChars;
  // Kept open from the read passes to the write passes.
  std::shared_ptr<DbSourceFile> MasterHumFile, MasterQelFile, MasterHeroQelFile;
  std::shared_ptr<DbSourceFile> SlaveHumFile, SlaveQelFile, SlaveHeroQelFile;

  std::shared_ptr<ItemSerialMap> MasterItemSerials;
  std::shared_ptr<ItemSerialMap> SlaveItemSerials;
  int32_t ItemNumber = 0;
  int32_t ItemNumberEx = 0;
};

// Records of one kind in each side's files, for the run's report; -1 until
// the stage that reads them has run.
struct SideCounts {
  int64_t master = -1, slave = -1;
};

// Left by the guild stage (MergeGuilds); read by the change logs.
struct GuildStageProducts {
  SideCounts GuildCounts;  // guilds each side's guild list loads
  std::shared_ptr<std::vector<std::string>> GuildRenameLines;
  std::shared_ptr<TGuildBase> NewGuildBase;
  std::shared_ptr<TGuildBase> SlaveGuildBase;
};

// Left by the player-shop stage (MergeUserShops); read by the change logs.
struct ShopStageProducts {
  SideCounts ShopCounts, ShopItemCounts;  // records with a name and an owner
  std::shared_ptr<ShopCollection> MasterShops, SlaveShops, MasterShopItems, SlaveShopItems;
  // Each renamed slave shop's old and new name (GBK), in merge order; read by
  // the run's report. Not among the released collections.
  std::shared_ptr<std::vector<std::pair<std::string, std::string>>> ShopRenames;
};

// Left by the mail stage (MergeMail), which writes its mails into
// RunServices::MailStore; read by the run's report.
struct MailStageProducts {
  SideCounts MailCounts;  // live slots (not deleted or occupied)
  int64_t KeptMails = -1;
};

// The consignment-sale merge: the credentials that the area key step reads
// with the master's key (the keys themselves are in ServerPaths::AreaKey),
// and the request's log lines, which exist only during a run.
struct ConsignmentSaleState {
  int32_t SafeId = 0;
  std::string SafeKey;
  std::shared_ptr<std::vector<std::string>> HTTPQueryLog;
};

// What the driver sets up for the stages. A base of its own, listed first,
// so that it outlives every stage's products.
struct RunServices {
  // The new Email.db while a run writes it; empty outside a run. The
  // character stage registers every character in it, the mail stage fills it.
  std::shared_ptr<TXoCustomDatabase> MailStore;

  // The progress bar and status label, painted through the host.
  Progress Bar;

  void ShowStatusText(int32_t Value, std::string_view sText) { Bar.ShowStatusText(Value, sText); }
};

// Each stage's products are created by that stage and freed by ReleaseRunData
// in its fixed order, which interleaves the groups.
struct RunContext : RunServices,
                    RunSettings,
                    AccountStageProducts,
                    CharacterStageProducts,
                    GuildStageProducts,
                    ShopStageProducts,
                    MailStageProducts,
                    ConsignmentSaleState {};

}  // namespace razere
