// Loading and clean-up of the character stage.
#include <memory>
#include <stdexcept>
#include <string>

#include "dbfiles/le_bytes.h"
#include "dbfiles/read_pass.h"
#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "merge/item_serials.h"
#include "support/datetime.h"
#include "support/fields.h"

namespace razere {

namespace {

// The name field at off, or empty when the bytes handed over end before it.
InlineName FieldAt(const uint8_t* rec, size_t n, size_t off) {
  if (off + name_field::kSize > n) return {};
  return InlineName::FromField(rec + off);
}

int32_t Int32At(const uint8_t* rec, size_t n, size_t off) { return off + 4 <= n ? LoadInt32LE(rec + off) : 0; }

// One Hum.DB: the first live record of each name whose account passes
// accountExists goes into `into` (and `all`, when given), counted per
// account. Returns the file, still open for the write pass.
template <class AccountExists>
std::shared_ptr<DbSourceFile> LoadIndex(RunContext& ctx, const std::string& path, uint8_t side,
                                        std::string_view loadText, CharIndexCollection& into,
                                        AccountCharCounts& counts, SlaveNameMap* all,
                                        const AccountExists& accountExists) {
  std::unique_ptr<DbSourceFile> file =
      ReadPass(path, DbKind::Hum, ctx.Bar, loadText, [&](int64_t offset, const uint8_t* rec, size_t n) {
        const InlineName name = FieldAt(rec, n, index_rec::kName);
        const NameKeyBuf key(name.View());
        if (into.Exists(key)) return;  // a later record of a name already loaded
        const InlineName account = FieldAt(rec, n, index_rec::kAccount);
        if (!accountExists(NameKeyBuf(account.View()).View())) return;
        CharIndexEntry* e = into.Add(key, std::make_unique<CharIndexEntry>(ParseCharIndexRecord(rec, n, side, offset)));
        counts.Increment(account.View());
        if (all) all->Add(key, e);
      });
  return std::shared_ptr<DbSourceFile>(std::move(file));
}

// One Qel.DB: the first live record of each name that has an index entry,
// unless CleanData finds it inactive.
std::shared_ptr<DbSourceFile> LoadData(RunContext& ctx, const std::string& path, uint8_t side,
                                       std::string_view loadText, CharDataCollection& into,
                                       const CharIndexCollection& index) {
  std::unique_ptr<DbSourceFile> file =
      ReadPass(path, DbKind::Qel, ctx.Bar, loadText, [&](int64_t offset, const uint8_t* rec, size_t n) {
        CharDataItem item;
        item.name = FieldAt(rec, n, chardata_rec::kName);
        const NameKeyBuf key(item.name.View());
        if (into.Exists(key) || !index.Exists(key)) return;
        if (ctx.CleanData && IsInactiveCharacter(NowDateTime(), CharDataLastLogin(rec, n), CharDataLevel(rec, n),
                                                 ctx.MinDay, ctx.MinLevel)) {
          return;  // its index entry goes in the clean-up for having no data
        }
        item.side = side;
        item.offset = offset;
        item.account = FieldAt(rec, n, chardata_rec::kAccount);
        for (size_t k = 0; k < 4; ++k) item.links[k] = FieldAt(rec, n, chardata_rec::kLinks[k]);
        if (chardata_rec::kLink5Present < n && rec[chardata_rec::kLink5Present] == 1) {
          item.links[4] = FieldAt(rec, n, chardata_rec::kLink5);
        }
        item.roleId = Int32At(rec, n, chardata_rec::kRoleId);
        into.Add(key, item);
      });
  return std::shared_ptr<DbSourceFile>(std::move(file));
}

// One HeroQel.DB: the first live record of each name that has an index entry.
std::shared_ptr<DbSourceFile> LoadHeroes(RunContext& ctx, const std::string& path, uint8_t side,
                                         std::string_view loadText, HeroDataCollection& into,
                                         const CharIndexCollection& index) {
  std::unique_ptr<DbSourceFile> file =
      ReadPass(path, DbKind::HeroQel, ctx.Bar, loadText, [&](int64_t offset, const uint8_t* rec, size_t n) {
        HeroDataItem item;
        item.name = FieldAt(rec, n, hero_rec::kName);
        const NameKeyBuf key(item.name.View());
        if (into.Exists(key) || !index.Exists(key)) return;
        item.side = side;
        item.offset = offset;
        item.account = FieldAt(rec, n, hero_rec::kAccount);
        item.link = FieldAt(rec, n, hero_rec::kLink);
        into.Add(key, item);
      });
  return std::shared_ptr<DbSourceFile>(std::move(file));
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

  ctx.MasterCharData = std::make_shared<CharDataCollection>();
  ctx.MasterQelFile =
      LoadData(ctx, ctx.Master.Qel, kSideMaster, "正在加载主库(%d/%d) Qel.DB", *ctx.MasterCharData, *ctx.MasterCharIndex);
  ctx.SlaveCharData = std::make_shared<CharDataCollection>();
  ctx.SlaveQelFile =
      LoadData(ctx, ctx.Slave.Qel, kSideSlave, "正在加载从库(%d/%d) Qel.DB", *ctx.SlaveCharData, *ctx.SlaveCharIndex);

  ctx.MasterHeroData = std::make_shared<HeroDataCollection>();
  ctx.MasterHeroQelFile = LoadHeroes(ctx, ctx.Master.HeroQel, kSideMaster, "正在加载主库(%d/%d) HeroQel.DB",
                                     *ctx.MasterHeroData, *ctx.MasterCharIndex);
  ctx.SlaveHeroData = std::make_shared<HeroDataCollection>();
  ctx.SlaveHeroQelFile = LoadHeroes(ctx, ctx.Slave.HeroQel, kSideSlave, "正在加载从库(%d/%d) HeroQel.DB",
                                    *ctx.SlaveHeroData, *ctx.SlaveCharIndex);
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
