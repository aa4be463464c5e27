// Merge and write of the character stage: Hum.DB, Qel.DB and HeroQel.DB.
#include <stdexcept>
#include <string>

#include "dbfiles/db_writer.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/xo_custom_database.h"
#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "merge/item_serials.h"
#include "merge/unique_name.h"

namespace razere {

namespace {

void StartPass(RunContext& ctx, int32_t count) {
  ctx.Bar.SetMax(count);
  ctx.Bar.SetPosition(0);
}

// The closing status text of a write pass, and the bar emptied.
void EndWritePass(RunContext& ctx, std::string_view text, int32_t count) {
  ctx.ShowStatusText(0, std::string(text) + std::to_string(count));
  ctx.Bar.SetMax(0);
  ctx.Bar.SetPosition(0);
}

DbSourceFile& Source(const std::shared_ptr<DbSourceFile>& master, const std::shared_ptr<DbSourceFile>& slave,
                     uint8_t side) {
  const std::shared_ptr<DbSourceFile>& f = side == kSideMaster ? master : slave;
  if (!f) throw std::logic_error("MergeCharacters: a source file is not open");
  return *f;
}

template <class... Ptrs>
void Require(const char* what, const Ptrs&... ptrs) {
  if (!(static_cast<bool>(ptrs) && ...)) throw std::logic_error(std::string("MergeCharacters: ") + what);
}

// NameRenameMap::NewNameOf with the key built on the stack.
const std::string* RenamedTo(const NameRenameMap& renames, std::string_view gbkName) {
  const EntryRef* ref = renames.list.Find(NameKeyBuf(gbkName));
  if (ref == nullptr || ref->NewName().empty()) return nullptr;
  return &ref->NewName();
}

std::string TargetPath(const RunContext& ctx, DbKind kind) {
  return ctx.SavePath + std::string(KindInfo(kind).fileName);
}

}  // namespace

void RemoveDanglingLinks(std::span<uint8_t> record, const std::array<uint8_t, 5>& dangling) {
  if (record.size() < chardata_rec::kSize) {
    throw std::out_of_range("character data record: " + std::to_string(record.size()) + " bytes, need " +
                            std::to_string(chardata_rec::kSize));
  }
  uint8_t* r = record.data();
  for (size_t k = 0; k < dangling.size(); ++k) {
    if (dangling[k] != 0) r[chardata_rec::kLinks[k]] = 0;  // the length byte: the name is gone
  }
  if (dangling[4] != 0) {
    r[chardata_rec::kLink5Present] = 0;
    r[chardata_rec::kLink5Byte] = 0;
    StoreInt32LE(r + chardata_rec::kLink5Value, 0);
  }
  const bool link3Empty = r[chardata_rec::kLink3] == 0;
  const bool link4Empty = r[chardata_rec::kLink4] == 0;
  if (link3Empty) r[chardata_rec::kLink3Flag] = 0;
  if (link4Empty) r[chardata_rec::kLink4Flag] = 0;
  if (link3Empty || link4Empty) r[chardata_rec::kLinks34Flag] = 0;
}

void MergeCharIndex(RunContext& ctx) {
  Require("the character index has not been loaded", ctx.MasterCharIndex, ctx.SlaveCharIndex, ctx.CharRenames);
  CharIndexCollection& master = *ctx.MasterCharIndex;
  CharIndexCollection& slave = *ctx.SlaveCharIndex;

  StartPass(ctx, slave.Count());
  // Characters and heroes share both sets, so no hero and character can end
  // with the same name.
  const NameTakenFn inMaster = [&master](std::string_view key) { return master.Exists(key); };
  const NameTakenFn inSlave = [&slave](std::string_view key) { return slave.Exists(key); };
  for (CharIndexCollection::Node& node : slave) {
    ctx.ShowStatusText(1, StatusTextWithName("正在合并(%d/%d) Hum.DB:", node.Item->name, kCharStatusMaxBytes));
    // Out of SlaveCharIndex first, so that the name does not block itself.
    std::unique_ptr<CharIndexEntry> entry = slave.Take(&node);
    const NameKeyBuf key(entry->name);
    if (!master.Exists(key)) {
      master.Add(key, std::move(entry));
      continue;
    }
    const NameInstance instance = entry->heroFlag != 0 ? NameInstance::Hero : NameInstance::Character;
    entry->newName = MakeUniqueNameOrThrow(instance, entry->name, kCharNameKeep, inMaster, inSlave);
    entry->roleId = 0;
    const NameKeyBuf newKey(entry->newName);
    CharIndexEntry* merged = master.Add(newKey, std::move(entry));
    ctx.CharRenames->Add(merged->name, merged);
  }
  slave.list.Clear();
}

void WriteHumDb(RunContext& ctx) {
  Require("the character index has not been merged", ctx.MasterCharIndex, ctx.AccountRenames);
  const CharIndexCollection& master = *ctx.MasterCharIndex;
  const NameRenameMap& accountRenames = *ctx.AccountRenames;

  const int32_t count = master.Count();
  DbWriter writer(TargetPath(ctx, DbKind::Hum), DbKind::Hum, count);
  StartPass(ctx, count);
  const CharIndexEntry* current = nullptr;
  const std::string* newAccount = nullptr;
  const DbWriter::Patch patchSlave = [&](std::span<uint8_t> rec) {
    if (!current->newName.empty()) PatchIndexName(rec, current->newName);
    if (newAccount) PatchIndexAccount(rec, *newAccount);
  };
  for (const CharIndexCollection::Node& node : master) {
    current = node.Item.get();
    DbSourceFile& source = Source(ctx.MasterHumFile, ctx.SlaveHumFile, current->side);
    if (current->side == kSideMaster) {
      writer.Append(source, current->offset);
    } else {
      newAccount = RenamedTo(accountRenames, current->account);
      writer.Append(source, current->offset, patchSlave);
    }
    const std::string& shown = current->newName.empty() ? current->name : current->newName;
    ctx.ShowStatusText(1, StatusTextWithName("正在保存(%d/%d) Hum.DB:", shown, kCharStatusMaxBytes));
  }
  writer.Close();
  EndWritePass(ctx, "Hum.DB 合并完成(%d/%d) 新数据大小:", count);
}

void MergeCharData(RunContext& ctx) {
  Require("the character data has not been loaded", ctx.MasterCharData, ctx.SlaveCharData, ctx.AccountRenames,
          ctx.CharRenames);
  CharDataCollection& master = *ctx.MasterCharData;
  CharDataCollection& slave = *ctx.SlaveCharData;
  const NameRenameMap& accountRenames = *ctx.AccountRenames;
  const NameRenameMap& charRenames = *ctx.CharRenames;

  StartPass(ctx, slave.Count());
  for (CharDataCollection::Node& node : slave) {
    CharDataItem item = node.Item;
    slave.Remove(&node);

    item.newAccount = RenamedTo(accountRenames, item.account.View());
    if (const EntryRef* ref = charRenames.list.Find(NameKeyBuf(item.name.View())); ref && ref->character) {
      // The change log of the web request sends this id with the new name.
      ref->character->roleId = item.roleId;
      if (!ref->character->newName.empty()) item.newName = &ref->character->newName;
    }
    for (size_t k = 0; k < item.links.size(); ++k) {
      if (!item.links[k].Empty()) item.newLinks[k] = RenamedTo(charRenames, item.links[k].View());
    }
    const NameKeyBuf key(item.newName ? std::string_view(*item.newName) : item.name.View());
    master.Add(key, item);
    ctx.ShowStatusText(1, StatusTextWithName("正在合并(%d/%d) Qel.DB:", item.name.View(), kCharStatusMaxBytes));
  }
  slave.list.Clear();
}

void WriteQelDb(RunContext& ctx) {
  Require("the character data has not been merged", ctx.MasterCharData, ctx.MasterItemSerials,
          ctx.SlaveItemSerials);
  const CharDataCollection& master = *ctx.MasterCharData;

  const int32_t count = master.Count();
  DbWriter writer(TargetPath(ctx, DbKind::Qel), DbKind::Qel, count);
  StartPass(ctx, count);
  const CharDataItem* current = nullptr;
  const DbWriter::Patch patch = [&](std::span<uint8_t> rec) {
    const CharDataItem& e = *current;
    if (e.side == kSideSlave) {
      if (e.newAccount) PatchCharDataAccount(rec, *e.newAccount);
      if (e.newName) PatchCharDataName(rec, *e.newName);
      for (size_t k = 0; k < e.newLinks.size(); ++k) {
        if (e.newLinks[k]) PatchCharDataLink(rec, static_cast<int>(k + 1), *e.newLinks[k]);
      }
    }
    if (ctx.CleanData) RemoveDanglingLinks(rec, e.dangling);
    if (ctx.MailStore) {
      // The name as it goes into the new file (record offset 52).
      const uint8_t* field = rec.data() + chardata_rec::kName;
      const size_t len = field[0] > name_field::kCapacity ? name_field::kCapacity : field[0];
      const std::string_view name(reinterpret_cast<const char*>(field + 1), len);
      if (!ctx.MailStore->New(name)) {
        throw std::runtime_error("无法在新的 Email.db 中登记人物“" + GbkToUtf8(name) +
                                 "”：邮件数据库未打开。(the new Email.db is not open)");
      }
    }
    RenumberCharDataItems(ctx, rec, e.side == kSideMaster);
  };
  for (const CharDataCollection::Node& node : master) {
    current = &node.Item;
    ctx.ShowStatusText(1, StatusTextWithName("正在保存(%d/%d) Qel.DB:", current->name.View(), kCharStatusMaxBytes));
    writer.Append(Source(ctx.MasterQelFile, ctx.SlaveQelFile, current->side), current->offset, patch);
  }
  writer.Close();
  EndWritePass(ctx, "Qel.DB 合并完成(%d/%d) 新数据大小:", count);
}

void MergeHeroData(RunContext& ctx) {
  Require("the hero data has not been loaded", ctx.MasterHeroData, ctx.SlaveHeroData, ctx.AccountRenames,
          ctx.CharRenames);
  HeroDataCollection& master = *ctx.MasterHeroData;
  HeroDataCollection& slave = *ctx.SlaveHeroData;
  const NameRenameMap& accountRenames = *ctx.AccountRenames;
  const NameRenameMap& charRenames = *ctx.CharRenames;

  StartPass(ctx, slave.Count());
  for (HeroDataCollection::Node& node : slave) {
    HeroDataItem item = node.Item;
    slave.Remove(&node);

    item.newAccount = RenamedTo(accountRenames, item.account.View());
    item.newName = RenamedTo(charRenames, item.name.View());
    if (!item.link.Empty()) item.newLink = RenamedTo(charRenames, item.link.View());
    const NameKeyBuf key(item.newName ? std::string_view(*item.newName) : item.name.View());
    master.Add(key, item);
    ctx.ShowStatusText(1, StatusTextWithName("正在合并(%d/%d) HeroQel.DB:", item.name.View(), kHeroStatusMaxBytes));
  }
  slave.list.Clear();
}

void WriteHeroQelDb(RunContext& ctx) {
  Require("the hero data has not been merged", ctx.MasterHeroData, ctx.MasterItemSerials, ctx.SlaveItemSerials);
  const HeroDataCollection& master = *ctx.MasterHeroData;

  const int32_t count = master.Count();
  DbWriter writer(TargetPath(ctx, DbKind::HeroQel), DbKind::HeroQel, count);
  StartPass(ctx, count);
  const HeroDataItem* current = nullptr;
  const DbWriter::Patch patch = [&](std::span<uint8_t> rec) {
    const HeroDataItem& e = *current;
    if (e.side == kSideSlave) {
      if (e.newAccount) PatchHeroAccount(rec, *e.newAccount);
      if (e.newName) PatchHeroName(rec, *e.newName);
      if (e.newLink) PatchHeroLink(rec, *e.newLink);
    }
    RenumberHeroItems(ctx, rec, e.side == kSideMaster);
  };
  for (const HeroDataCollection::Node& node : master) {
    current = &node.Item;
    ctx.ShowStatusText(1,
                       StatusTextWithName("正在保存(%d/%d) HeroQel.DB:", current->name.View(), kHeroStatusMaxBytes));
    writer.Append(Source(ctx.MasterHeroQelFile, ctx.SlaveHeroQelFile, current->side), current->offset, patch);
  }
  writer.Close();
  EndWritePass(ctx, "HeroQel.DB 合并完成(%d/%d) 新数据大小:", count);
}

}  // namespace razere
