// Merge and write of the character stage: Hum.DB, Qel.DB and HeroQel.DB.
#include <stdexcept>
#include <string>

#include "dbfiles/db_writer.h"
#include "dbfiles/le_bytes.h"
#include "merge/accounts.h"
#include "merge/character_kinds.h"
#include "merge/character_stage.h"
#include "merge/unique_name.h"
#include "support/file_system.h"

namespace razere {

namespace {

void StartPass(const CharacterStageIO& io, int32_t count) {
  io.services.Bar.SetMax(count);
  io.services.Bar.SetPosition(0);
}

// The closing status text of a write pass, and the bar emptied.
void EndWritePass(const CharacterStageIO& io, std::string_view text, int32_t count) {
  io.services.ShowStatusText(0, std::string(text) + std::to_string(count));
  io.services.Bar.SetMax(0);
  io.services.Bar.SetPosition(0);
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

std::string TargetPath(const CharacterStageIO& io, DbKind kind) {
  return io.run.SavePath + std::string(KindInfo(kind).fileName);
}

// The kind's slave entries into its master collection, keyed by their final
// names, with the new values of their account, name and linked names.
template <class Kind>
void MergeData(const CharacterStageIO& io) {
  Require(Kind::kNotLoaded, io.out.*Kind::kMasterData, io.out.*Kind::kSlaveData, io.accounts.AccountRenames, io.out.CharRenames);
  typename Kind::Collection& master = *(io.out.*Kind::kMasterData);
  typename Kind::Collection& slave = *(io.out.*Kind::kSlaveData);
  const NameRenameMap& accountRenames = *io.accounts.AccountRenames;
  const NameRenameMap& charRenames = *io.out.CharRenames;

  StartPass(io, slave.Count());
  for (auto& node : slave) {
    typename Kind::Item item = node.Item;
    slave.Remove(&node);

    item.newNames[Kind::kAccountSlot] = RenamedTo(accountRenames, item.account.View());
    if (const EntryRef* ref = charRenames.list.Find(NameKeyBuf(item.name.View())); ref && ref->character) {
      Kind::OnRenamed(*ref->character, item);
      if (!ref->character->newName.empty()) item.newNames[Kind::kNameSlot] = &ref->character->newName;
    }
    for (size_t k = 0; k < item.links.size(); ++k) {
      if (!item.links[k].Empty()) item.newNames[Kind::kFirstLinkSlot + k] = RenamedTo(charRenames, item.links[k].View());
    }
    const std::string* newName = item.newNames[Kind::kNameSlot];
    const NameKeyBuf key(newName ? std::string_view(*newName) : item.name.View());
    master.Add(key, item);
    io.services.ShowStatusText(1, StatusTextWithName(Kind::kMergeText, item.name.View(), Kind::kStatusMaxBytes));
  }
  slave.list.Clear();
}

// SavePath + the kind's file: every entry's record, a slave's with its new
// names, then the kind's own work on it.
template <class Kind>
void WriteData(const CharacterStageIO& io) {
  Require(Kind::kNotMerged, io.out.*Kind::kMasterData, io.out.MasterItemSerials, io.out.SlaveItemSerials);
  const typename Kind::Collection& master = *(io.out.*Kind::kMasterData);

  const int32_t count = master.Count();
  DbWriter writer(PathFromText(TargetPath(io, Kind::kKind)), Kind::kKind, count);
  StartPass(io, count);
  const typename Kind::Item* current = nullptr;
  const DbWriter::Patch patch = [&](std::span<uint8_t> rec) {
    const typename Kind::Item& e = *current;
    if (e.side == kSideSlave) PatchNames(rec, Kind::kKind, Kind::kSlots, e.newNames);
    Kind::FinishRecord(io, rec, e);
  };
  for (const auto& node : master) {
    current = &node.Item;
    io.services.ShowStatusText(1, StatusTextWithName(Kind::kSaveText, current->name.View(), Kind::kStatusMaxBytes));
    DbSourceFile& source = Source(io.out.*Kind::kMasterFile, io.out.*Kind::kSlaveFile, current->side);
    // A record gone from its file, deleted or renamed since the load: the
    // file changed under the run.
    if (!writer.Append(source, current->offset, current->name.View(), patch)) ThrowSourceChanged(source.Path());
  }
  writer.Close();
  EndWritePass(io, Kind::kDoneText, count);
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

void MergeCharIndex(const CharacterStageIO& io) {
  Require("the character index has not been loaded", io.out.MasterCharIndex, io.out.SlaveCharIndex, io.out.CharRenames);
  CharIndexCollection& master = *io.out.MasterCharIndex;
  CharIndexCollection& slave = *io.out.SlaveCharIndex;

  StartPass(io, slave.Count());
  // Characters and heroes share both sets, so no hero and character can end
  // with the same name.
  const NameTakenFn inMaster = [&master](std::string_view key) { return master.Exists(key); };
  const NameTakenFn inSlave = [&slave](std::string_view key) { return slave.Exists(key); };
  for (CharIndexCollection::Node& node : slave) {
    io.services.ShowStatusText(1, StatusTextWithName("正在合并(%d/%d) Hum.DB:", node.Item->name, kCharStatusMaxBytes));
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
    io.out.CharRenames->Add(merged->name, merged);
  }
  slave.list.Clear();
}

void WriteHumDb(const CharacterStageIO& io) {
  Require("the character index has not been merged", io.out.MasterCharIndex, io.accounts.AccountRenames);
  const CharIndexCollection& master = *io.out.MasterCharIndex;
  const NameRenameMap& accountRenames = *io.accounts.AccountRenames;

  const int32_t count = master.Count();
  DbWriter writer(PathFromText(TargetPath(io, DbKind::Hum)), DbKind::Hum, count);
  StartPass(io, count);
  const CharIndexEntry* current = nullptr;
  const std::string* newAccount = nullptr;
  const DbWriter::Patch patchSlave = [&](std::span<uint8_t> rec) {
    NewNames<index_rec::kSlotCount> names{};
    names[index_rec::kNameSlot] = current->newName.empty() ? nullptr : &current->newName;
    names[index_rec::kAccountSlot] = newAccount;
    PatchNames(rec, DbKind::Hum, index_rec::kSlots, names);
  };
  // The load read these files in this stage; their read windows may still
  // hold what it saw, and the copies must come from the files as they are now.
  for (const std::shared_ptr<DbSourceFile>& file : {io.out.MasterHumFile, io.out.SlaveHumFile}) {
    if (file) file->ReleaseWindow();
  }
  for (const CharIndexCollection::Node& node : master) {
    current = node.Item.get();
    DbSourceFile& source = Source(io.out.MasterHumFile, io.out.SlaveHumFile, current->side);
    bool asLoaded = true;
    if (current->side == kSideMaster) {
      asLoaded = writer.Append(source, current->offset, current->name);
    } else {
      newAccount = RenamedTo(accountRenames, current->account);
      asLoaded = writer.Append(source, current->offset, current->name, patchSlave);
    }
    if (!asLoaded) ThrowSourceChanged(source.Path());
    const std::string& shown = current->newName.empty() ? current->name : current->newName;
    io.services.ShowStatusText(1, StatusTextWithName("正在保存(%d/%d) Hum.DB:", shown, kCharStatusMaxBytes));
  }
  writer.Close();
  EndWritePass(io, "Hum.DB 合并完成(%d/%d) 新数据大小:", count);
}

void MergeCharData(const CharacterStageIO& io) { MergeData<CharacterKind>(io); }
void WriteQelDb(const CharacterStageIO& io) { WriteData<CharacterKind>(io); }
void MergeHeroData(const CharacterStageIO& io) { MergeData<HeroKind>(io); }
void WriteHeroQelDb(const CharacterStageIO& io) { WriteData<HeroKind>(io); }

}  // namespace razere
