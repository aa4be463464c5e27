// Loading and clean-up of the character stage.
#include <memory>
#include <stdexcept>
#include <string>

#include "dbfiles/read_pass.h"
#include "merge/accounts.h"
#include "merge/character_kinds.h"
#include "merge/character_stage.h"
#include "merge/item_serials.h"
#include "support/datetime.h"
#include "support/fields.h"

namespace razere {

namespace {

// One Hum.DB: the first live record of each name whose account passes
// accountExists goes into `into` (and `all`, when given), counted per
// account. Returns the file, still open for the write pass.
template <class AccountExists>
std::shared_ptr<DbSourceFile> LoadIndex(RunContext& ctx, const std::string& path, uint8_t side,
                                        std::string_view loadText, CharIndexCollection& into,
                                        AccountCharCounts& counts, SlaveNameMap* all,
                                        const AccountExists& accountExists) {
  using namespace index_rec;
  std::unique_ptr<DbSourceFile> file =
      ReadPass(path, DbKind::Hum, ctx.Bar, loadText, [&](int64_t offset, const uint8_t* rec, size_t n) {
        const NameKeyBuf key(ReadName(rec, n, kSlots[kNameSlot]));
        if (into.Exists(key)) return;  // a later record of a name already loaded
        const std::string_view account = ReadName(rec, n, kSlots[kAccountSlot]);
        if (!accountExists(NameKeyBuf(account).View())) return;
        CharIndexEntry* e = into.Add(key, std::make_unique<CharIndexEntry>(ParseCharIndexRecord(rec, n, side, offset)));
        counts.Increment(account);
        if (all) all->Add(key, e);
      });
  return std::shared_ptr<DbSourceFile>(std::move(file));
}

// One data file of the kind: the first live record of each name that has an
// index entry, unless the kind drops it on load.
template <class Kind>
std::shared_ptr<DbSourceFile> LoadData(RunContext& ctx, const std::string& path, uint8_t side,
                                       std::string_view loadText, typename Kind::Collection& into,
                                       const CharIndexCollection& index) {
  std::unique_ptr<DbSourceFile> file =
      ReadPass(path, Kind::kKind, ctx.Bar, loadText, [&](int64_t offset, const uint8_t* rec, size_t n) {
        const NameKeyBuf key(ReadName(rec, n, Kind::kSlots[Kind::kNameSlot]));
        if (into.Exists(key) || !index.Exists(key)) return;
        if (Kind::DroppedOnLoad(ctx, rec, n)) return;
        into.Add(key, Kind::Parse(rec, n, side, offset));
      });
  return std::shared_ptr<DbSourceFile>(std::move(file));
}

// Master, then slave.
template <class Kind>
void LoadKind(RunContext& ctx) {
  using Collection = typename Kind::Collection;
  ctx.*Kind::kMasterData = std::make_shared<Collection>();
  ctx.*Kind::kMasterFile = LoadData<Kind>(ctx, ctx.Master.*Kind::kPath, kSideMaster, Kind::kLoadMasterText,
                                          *(ctx.*Kind::kMasterData), *ctx.MasterCharIndex);
  ctx.*Kind::kSlaveData = std::make_shared<Collection>();
  ctx.*Kind::kSlaveFile = LoadData<Kind>(ctx, ctx.Slave.*Kind::kPath, kSideSlave, Kind::kLoadSlaveText,
                                         *(ctx.*Kind::kSlaveData), *ctx.SlaveCharIndex);
}

void StartPass(RunContext& ctx, int32_t count) {
  ctx.Bar.SetMax(count);
  ctx.Bar.SetPosition(0);
}

// Drops the index entries whose data (characters) or hero data (heroes) is
// missing. loadText empty: no status texts.
void CleanIndex(RunContext& ctx, std::string_view text, CharIndexCollection& index, const CharDataCollection& data,
                const HeroDataCollection& heroes, AccountCharCounts& counts, SlaveNameMap* all) {
  StartPass(ctx, index.Count());
  for (CharIndexCollection::Node& node : index) {
    if (!text.empty()) ctx.ShowStatusText(1, text);
    const CharIndexEntry& e = *node.Item;
    const bool hasData = e.heroFlag == 0 ? data.Exists(node.Key()) : heroes.Exists(node.Key());
    if (hasData) continue;
    counts.Decrement(e.account);
    if (all) all->Remove(node.Key());
    index.Remove(&node);
  }
}

// Drops the accounts that own no index entry.
void CleanAccounts(RunContext& ctx, AccountCollection& accounts, const AccountCharCounts& counts) {
  StartPass(ctx, accounts.Count());
  for (AccountCollection::Node& node : accounts) {
    ctx.ShowStatusText(1, "正在清理(%d/%d) ID.DB");
    if (!counts.Exists(node.Key())) accounts.Remove(&node);
  }
}

// Drops the data entries without an index entry, then marks the linked names
// that point at nobody: linked name 1 must name a character with data, linked
// names 2 to 5 any index entry (a character or a hero). The marks are set
// only after every removal, so a link to an entry removed later in the walk
// counts as dangling too.
void CleanData(RunContext& ctx, CharDataCollection& data, const CharIndexCollection& index) {
  StartPass(ctx, data.Count());
  for (CharDataCollection::Node& node : data) {
    ctx.ShowStatusText(1, "正在清理(%d/%d) Qel.DB");
    if (!index.Exists(node.Key())) data.Remove(&node);
  }
  for (CharDataCollection::Node& node : data) {
    CharDataItem& item = node.Item;
    for (size_t k = 0; k < item.links.size(); ++k) {
      if (item.links[k].Empty()) continue;
      const NameKeyBuf key(item.links[k].View());
      const bool found = k == 0 ? data.Exists(key) : index.Exists(key);
      if (!found) item.dangling[k] = 1;
    }
  }
}

}  // namespace

bool IsInactiveCharacter(double now, double lastLogin, uint32_t level, int32_t minDay, int32_t minLevel) {
  return WholeDaysBetween(now, lastLogin) > minDay && static_cast<int64_t>(level) < static_cast<int64_t>(minLevel);
}

void LoadCharacters(RunContext& ctx) {
  if (!ctx.MasterAccounts || !ctx.SlaveAccounts || !ctx.AllSlaveAccounts) {
    throw std::logic_error("MergeCharacters: the accounts have not been loaded");
  }

  ResetItemNumbers(ctx);
  ctx.AllSlaveChars = std::make_shared<SlaveNameMap>();
  ctx.CharRenames = std::make_shared<NameRenameMap>();
  ctx.MasterCharIndex = std::make_shared<CharIndexCollection>();
  ctx.MasterAccountChars = std::make_shared<AccountCharCounts>();
  ctx.SlaveAccountChars = std::make_shared<AccountCharCounts>();

  const AccountCollection& masterAccounts = *ctx.MasterAccounts;
  ctx.MasterHumFile = LoadIndex(ctx, ctx.Master.Hum, kSideMaster, "正在加载主库(%d/%d) Hum.DB", *ctx.MasterCharIndex,
                                *ctx.MasterAccountChars, nullptr,
                                [&](std::string_view key) { return masterAccounts.Exists(key); });

  ctx.SlaveCharIndex = std::make_shared<CharIndexCollection>();
  const SlaveNameMap& slaveAccounts = *ctx.AllSlaveAccounts;
  ctx.SlaveHumFile = LoadIndex(ctx, ctx.Slave.Hum, kSideSlave, "正在加载从库(%d/%d) Hum.DB", *ctx.SlaveCharIndex,
                               *ctx.SlaveAccountChars, ctx.AllSlaveChars.get(),
                               [&](std::string_view key) { return slaveAccounts.Exists(key); });

  LoadKind<CharacterKind>(ctx);
  LoadKind<HeroKind>(ctx);
}

void CleanCharacters(RunContext& ctx) {
  if (!ctx.CleanData) return;
  if (!ctx.MasterCharIndex || !ctx.SlaveCharIndex || !ctx.MasterCharData || !ctx.SlaveCharData ||
      !ctx.MasterHeroData || !ctx.SlaveHeroData || !ctx.MasterAccounts || !ctx.SlaveAccounts) {
    throw std::logic_error("MergeCharacters: the characters have not been loaded");
  }

  CleanIndex(ctx, "正在清理(%d/%d) Hum.DB", *ctx.MasterCharIndex, *ctx.MasterCharData, *ctx.MasterHeroData,
             *ctx.MasterAccountChars, nullptr);
  CleanIndex(ctx, {}, *ctx.SlaveCharIndex, *ctx.SlaveCharData, *ctx.SlaveHeroData, *ctx.SlaveAccountChars,
             ctx.AllSlaveChars.get());
  CleanAccounts(ctx, *ctx.MasterAccounts, *ctx.MasterAccountChars);
  CleanAccounts(ctx, *ctx.SlaveAccounts, *ctx.SlaveAccountChars);
  CleanData(ctx, *ctx.MasterCharData, *ctx.MasterCharIndex);
  CleanData(ctx, *ctx.SlaveCharData, *ctx.SlaveCharIndex);
}

void MergeCharacters(RunContext& ctx) {
  LoadCharacters(ctx);
  CleanCharacters(ctx);
  MergeAccounts(ctx);
  MergeCharIndex(ctx);
  WriteHumDb(ctx);
  MergeCharData(ctx);
  WriteQelDb(ctx);
  MergeHeroData(ctx);
  WriteHeroQelDb(ctx);
}

}  // namespace razere
