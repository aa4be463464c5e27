// Loading and clean-up of the character stage.
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "dbfiles/read_pass.h"
#include "merge/accounts.h"
#include "merge/character_kinds.h"
#include "merge/character_stage.h"
#include "merge/item_serials.h"
#include "merge/record_tally.h"
#include "support/datetime.h"
#include "support/fields.h"
#include "support/file_system.h"

namespace razere {

namespace {

// One Hum.DB: the first live record of each name whose account passes
// accountExists goes into `into` (and `all`, when given), counted per
// account. Returns the file, still open for the write pass.
// Why a name has no index entry, by name key: for the report's reasons.
using IndexReasons = std::unordered_map<std::string, const char*>;

template <class AccountExists>
std::shared_ptr<DbSourceFile> LoadIndex(const CharacterStageIO& io, const std::string& path, uint8_t side,
                                        std::string_view loadText, CharIndexCollection& into,
                                        AccountCharCounts& counts, SlaveNameMap* all,
                                        const AccountExists& accountExists, IndexReasons* indexReasons) {
  using namespace index_rec;
  std::unique_ptr<DbSourceFile> file =
      ReadPass(PathFromText(path), DbKind::Hum, io.services.Bar, loadText, [&](int64_t offset, const uint8_t* rec, size_t n) {
        const NameKeyBuf key(ReadName(rec, n, kSlots[kNameSlot]));
        if (into.Exists(key)) return;  // a later record of a name already loaded
        const std::string_view account = ReadName(rec, n, kSlots[kAccountSlot]);
        if (!accountExists(NameKeyBuf(account).View())) {
          // Its data record is left out for this reason rather than for having no index entry.
          if (indexReasons != nullptr) indexReasons->emplace(std::string(key.View()), "no account");
          return;
        }
        CharIndexEntry* e = into.Add(key, std::make_unique<CharIndexEntry>(ParseCharIndexRecord(rec, n, side, offset)));
        counts.Increment(account);
        if (all) all->Add(key, e);
      });
  return std::shared_ptr<DbSourceFile>(std::move(file));
}

// One data file of the kind: the first live record of each name that has an
// index entry, unless the kind drops it on load.
template <class Kind>
std::shared_ptr<DbSourceFile> LoadData(const CharacterStageIO& io, const std::string& path, uint8_t side,
                                       std::string_view loadText, typename Kind::Collection& into,
                                       const CharIndexCollection& index, const IndexReasons& indexReasons) {
  RecordTally* tally = io.accounts.Tally.get();
  constexpr RecordTally::Kind kind = Kind::kKind == DbKind::Qel ? RecordTally::Kind::Character : RecordTally::Kind::Hero;
  std::unique_ptr<DbSourceFile> file =
      ReadPass(PathFromText(path), Kind::kKind, io.services.Bar, loadText, [&](int64_t offset, const uint8_t* rec, size_t n) {
        const std::string_view name = ReadName(rec, n, Kind::kSlots[Kind::kNameSlot]);
        const NameKeyBuf key(name);
        const char* leftOut = nullptr;
        if (into.Exists(key)) {
          leftOut = "repeated name";
        } else if (!index.Exists(key)) {
          const auto why = indexReasons.find(std::string(key.View()));
          leftOut = why != indexReasons.end() ? why->second : "no index entry";
        } else if (Kind::DroppedOnLoad(io, rec, n)) {
          leftOut = "inactive";
        }
        if (tally != nullptr) {
          RecordTally::Side& counts = tally->Of(side == kSideMaster);
          ++(kind == RecordTally::Kind::Character ? counts.characters : counts.heroes);
          if (leftOut != nullptr) tally->Leave(kind, leftOut, std::string(name));
        }
        if (leftOut == nullptr) into.Add(key, Kind::Parse(rec, n, side, offset));
      });
  return std::shared_ptr<DbSourceFile>(std::move(file));
}

// Master, then slave.
template <class Kind>
void LoadKind(const CharacterStageIO& io, const IndexReasons& masterReasons, const IndexReasons& slaveReasons) {
  using Collection = typename Kind::Collection;
  io.out.*Kind::kMasterData = std::make_shared<Collection>();
  io.out.*Kind::kMasterFile = LoadData<Kind>(io, io.run.Master.*Kind::kPath, kSideMaster, Kind::kLoadMasterText,
                                             *(io.out.*Kind::kMasterData), *io.out.MasterCharIndex, masterReasons);
  io.out.*Kind::kSlaveData = std::make_shared<Collection>();
  io.out.*Kind::kSlaveFile = LoadData<Kind>(io, io.run.Slave.*Kind::kPath, kSideSlave, Kind::kLoadSlaveText,
                                            *(io.out.*Kind::kSlaveData), *io.out.SlaveCharIndex, slaveReasons);
}

void StartPass(const CharacterStageIO& io, int32_t count) {
  io.services.Bar.SetMax(count);
  io.services.Bar.SetPosition(0);
}

// Drops the index entries whose data (characters) or hero data (heroes) is
// missing. loadText empty: no status texts.
void CleanIndex(const CharacterStageIO& io, std::string_view text, CharIndexCollection& index, const CharDataCollection& data,
                const HeroDataCollection& heroes, AccountCharCounts& counts, SlaveNameMap* all) {
  StartPass(io, index.Count());
  for (CharIndexCollection::Node& node : index) {
    if (!text.empty()) io.services.ShowStatusText(1, text);
    const CharIndexEntry& e = *node.Item;
    const bool hasData = e.heroFlag == 0 ? data.Exists(node.Key()) : heroes.Exists(node.Key());
    if (hasData) continue;
    if (RecordTally* tally = io.accounts.Tally.get()) {
      tally->Leave(e.heroFlag == 0 ? RecordTally::Kind::Character : RecordTally::Kind::Hero, "dangling", e.name);
    }
    counts.Decrement(e.account);
    if (all) all->Remove(node.Key());
    index.Remove(&node);
  }
}

// Drops the accounts that own no index entry.
void CleanAccounts(const CharacterStageIO& io, AccountCollection& accounts, const AccountCharCounts& counts) {
  StartPass(io, accounts.Count());
  for (AccountCollection::Node& node : accounts) {
    io.services.ShowStatusText(1, "正在清理(%d/%d) ID.DB");
    if (counts.Exists(node.Key())) continue;
    if (RecordTally* tally = io.accounts.Tally.get()) {
      tally->Leave(RecordTally::Kind::Account, "no characters", node.Item->name);
    }
    accounts.Remove(&node);
  }
}

// Drops the data entries without an index entry, then marks the linked names
// that point at nobody: linked name 1 must name a character with data, linked
// names 2 to 5 any index entry (a character or a hero). The marks are set
// only after every removal, so a link to an entry removed later in the walk
// counts as dangling too.
void CleanData(const CharacterStageIO& io, CharDataCollection& data, const CharIndexCollection& index) {
  StartPass(io, data.Count());
  for (CharDataCollection::Node& node : data) {
    io.services.ShowStatusText(1, "正在清理(%d/%d) Qel.DB");
    if (index.Exists(node.Key())) continue;
    if (RecordTally* tally = io.accounts.Tally.get()) {
      tally->Leave(RecordTally::Kind::Character, "no index entry", std::string(node.Item.name.View()));
    }
    data.Remove(&node);
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

void LoadCharacters(const CharacterStageIO& io) {
  if (!io.accounts.MasterAccounts || !io.accounts.SlaveAccounts) {
    throw std::logic_error("MergeCharacters: the accounts have not been loaded");
  }

  ResetItemNumbers(io.out);
  io.out.AllSlaveChars = std::make_shared<SlaveNameMap>();
  io.out.CharRenames = std::make_shared<NameRenameMap>();
  io.out.MasterCharIndex = std::make_shared<CharIndexCollection>();
  io.out.MasterAccountChars = std::make_shared<AccountCharCounts>();
  io.out.SlaveAccountChars = std::make_shared<AccountCharCounts>();

  // Kept only while the data files load, and only when a report is made.
  IndexReasons masterReasons, slaveReasons;
  const bool tally = io.accounts.Tally != nullptr;
  const AccountCollection& masterAccounts = *io.accounts.MasterAccounts;
  io.out.MasterHumFile = LoadIndex(io, io.run.Master.Hum, kSideMaster, "正在加载主库(%d/%d) Hum.DB", *io.out.MasterCharIndex,
                                *io.out.MasterAccountChars, nullptr,
                                [&](std::string_view key) { return masterAccounts.Exists(key); },
                                tally ? &masterReasons : nullptr);

  io.out.SlaveCharIndex = std::make_shared<CharIndexCollection>();
  // Every slave account as loaded: the clean-up and the account merge, which
  // take accounts out of SlaveAccounts, come after the load.
  const AccountCollection& slaveAccounts = *io.accounts.SlaveAccounts;
  io.out.SlaveHumFile = LoadIndex(io, io.run.Slave.Hum, kSideSlave, "正在加载从库(%d/%d) Hum.DB", *io.out.SlaveCharIndex,
                               *io.out.SlaveAccountChars, io.out.AllSlaveChars.get(),
                               [&](std::string_view key) { return slaveAccounts.Exists(key); },
                               tally ? &slaveReasons : nullptr);

  LoadKind<CharacterKind>(io, masterReasons, slaveReasons);
  LoadKind<HeroKind>(io, masterReasons, slaveReasons);
}

void CleanCharacters(const CharacterStageIO& io) {
  if (!io.run.CleanData) return;
  if (!io.out.MasterCharIndex || !io.out.SlaveCharIndex || !io.out.MasterCharData || !io.out.SlaveCharData ||
      !io.out.MasterHeroData || !io.out.SlaveHeroData || !io.accounts.MasterAccounts || !io.accounts.SlaveAccounts) {
    throw std::logic_error("MergeCharacters: the characters have not been loaded");
  }

  CleanIndex(io, "正在清理(%d/%d) Hum.DB", *io.out.MasterCharIndex, *io.out.MasterCharData, *io.out.MasterHeroData,
             *io.out.MasterAccountChars, nullptr);
  CleanIndex(io, {}, *io.out.SlaveCharIndex, *io.out.SlaveCharData, *io.out.SlaveHeroData, *io.out.SlaveAccountChars,
             io.out.AllSlaveChars.get());
  CleanAccounts(io, *io.accounts.MasterAccounts, *io.out.MasterAccountChars);
  CleanAccounts(io, *io.accounts.SlaveAccounts, *io.out.SlaveAccountChars);
  CleanData(io, *io.out.MasterCharData, *io.out.MasterCharIndex);
  CleanData(io, *io.out.SlaveCharData, *io.out.SlaveCharIndex);
}

void MergeCharacters(const CharacterStageIO& io) {
  LoadCharacters(io);
  CleanCharacters(io);
  MergeAccounts(io.run, io.services, io.accounts);
  MergeCharIndex(io);
  WriteHumDb(io);
  MergeCharData(io);
  WriteQelDb(io);
  MergeHeroData(io);
  WriteHeroQelDb(io);
}

}  // namespace razere
