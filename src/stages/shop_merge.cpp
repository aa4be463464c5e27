#include "stages/shop_merge.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/source_file.h"
#include "merge/character_collections.h"
#include "merge/item_serials.h"
#include "merge/unique_name.h"
#include "support/file_system.h"

namespace razere {

static_assert(shop_rec::kOwner + name_field::kSize <= shop_rec::kSize);
static_assert(shop_item_rec::kItem + item_rec::kSize == shop_item_rec::kAccount);
static_assert(shop_item_rec::kSecondName + name_field::kSize <= shop_item_rec::kSize);

namespace fs = std::filesystem;

// What the shop stage works on, passed to each of its steps.
struct ShopStageIO {
  const RunSettings& run;                // both sides' Shop.dat and ShopItem.dat, SavePath
  const AccountStageProducts& accounts;  // AccountRenames
  CharacterStageProducts& characters;    // the characters and renames; the serial maps and counters go on
  RunServices& services;
  ShopStageProducts& out;
};

namespace {

template <class... Ptrs>
void Require(const char* what, const Ptrs&... ptrs) {
  if (!(static_cast<bool>(ptrs) && ...)) throw std::logic_error(std::string("MergeUserShops: ") + what);
}

// The text of a record's name field; a length byte above 30 reads as 30.
std::string_view FieldText(const uint8_t* record, size_t offset) {
  const uint8_t* p = record + offset;
  const size_t len = p[0] > name_field::kCapacity ? name_field::kCapacity : p[0];
  return {reinterpret_cast<const char*>(p + 1), len};
}
std::string_view FieldText(const ShopRecord& r, size_t offset) { return FieldText(r.bytes.data(), offset); }

// The new name of a slave name in a rename map, or nullptr when the name was
// not renamed.
const std::string* RenamedTo(const NameRenameMap& renames, std::string_view gbkName) {
  const EntryRef* ref = renames.list.Find(NameKeyBuf(gbkName));
  if (ref == nullptr || ref->NewName().empty()) return nullptr;
  return &ref->NewName();
}

// Adds an item under the decimal text of the serial it was read with,
// keeping only where it came from (WriteItems reads it again).
void AddBySerial(ShopCollection& items, ShopRecord&& r) {
  char buf[12];
  const std::string_view key = SerialKey(LoadInt32LE(r.bytes.data() + shop_item_rec::kSerial), buf);
  std::vector<uint8_t>().swap(r.bytes);  // frees it (clear() would keep the capacity)
  items.Add(key, std::move(r));
}

void ApplyRename(uint8_t* record, size_t offset, const NameRenameMap& renames) {
  if (const std::string* to = RenamedTo(renames, FieldText(record, offset))) WriteNameField(record + offset, *to);
}
void ApplyRename(ShopRecord& r, size_t offset, const NameRenameMap& renames) {
  ApplyRename(r.bytes.data(), offset, renames);
}

// Reads the records of one side's Shop.dat or ShopItem.dat and hands each
// record in use to `keep`. Nothing happens for a missing file or one shorter
// than its header; reading stops at a record cut short.
void ReadShopFile(const ShopStageIO& io, const std::string& path, size_t recordSize, std::string_view loadText,
                  const std::function<void(ShopRecord&&)>& keep) {
  if (path.empty()) return;
  if (Fs().KindOf(PathFromText(path)) == FileKind::None) return;

  DbSourceFile file{PathFromText(path)};  // throws when it exists but cannot be opened
  uint8_t header[shop_file::kHeaderSize];
  if (file.ReadAt(0, header, sizeof header) < sizeof header) return;
  const int32_t count = LoadInt32LE(header + shop_file::kCount);
  io.services.Bar.SetMax(count);
  io.services.Bar.SetPosition(0);

  int64_t offset = static_cast<int64_t>(shop_file::kHeaderSize);
  for (int32_t i = 0; i < count; ++i) {
    io.services.ShowStatusText(1, loadText);
    ShopRecord r;
    r.bytes.resize(recordSize);
    if (file.ReadAtBuffered(offset, r.bytes.data(), recordSize) < recordSize) break;
    r.offset = offset;
    offset += static_cast<int64_t>(recordSize);
    if (r.bytes[0] != 0) continue;  // state byte: not in use
    keep(std::move(r));
  }
}

// A new output file that is complete or absent. The old file is removed
// first, so that a failed run leaves none rather than the old one.
class OutputFile {
 public:
  explicit OutputFile(const fs::path& target) : writer_((RemoveOld(target), target)) {}
  void Write(const uint8_t* data, size_t len) { writer_.Append(data, len); }
  void Commit() { writer_.Commit(); }

 private:
  static void RemoveOld(const fs::path& target) {
    try {
      Fs().Remove(target);
    } catch (const FileError&) {
      // Commit's rename replaces it or reports why not.
    }
  }
  AtomicFileWriter writer_;
};

void WriteHeader(OutputFile& out, int32_t count) {
  uint8_t header[shop_file::kHeaderSize];
  StoreInt32LE(header + shop_file::kMark, shop_file::kFormatMark);
  StoreInt32LE(header + shop_file::kCount, count);
  out.Write(header, sizeof header);
}

void ResetBar(const ShopStageIO& io, int32_t maximum) {
  io.services.Bar.SetMax(maximum);
  io.services.Bar.SetPosition(0);
}

// Steps of the stage, in the order MergeUserShops runs them.

// Master shops: first record of each shop name whose owner is a master
// character of the new data set.
void LoadMasterShops(const ShopStageIO& io) {
  ShopCollection& shops = *io.out.MasterShops;
  CharIndexCollection& chars = *io.characters.MasterCharIndex;
  ReadShopFile(io, io.run.Master.Shop, shop_rec::kSize, "正在加载主库(%d/%d) Shop.dat", [&](ShopRecord&& r) {
    const std::string_view name = FieldText(r, shop_rec::kShopName);
    const std::string_view owner = FieldText(r, shop_rec::kOwner);
    if (name.empty() || owner.empty()) return;
    ++io.out.ShopCounts.master;
    NameKeyBuf key(name);
    if (shops.Exists(key)) return;
    // MasterCharIndex also holds the merged slave characters by their final
    // names: a master shop whose owner is gone must not pass to a slave
    // character that happens to carry the same name.
    const CharIndexEntry* c = chars.Find(NameKeyBuf(owner));
    if (c == nullptr || c->side != kSideMaster) return;
    r.side = kSideMaster;
    shops.Add(key, std::move(r));
  });
}

// Slave shops: first record of each shop name whose owner survived on the
// slave, with the owner's and the account's renames applied.
void LoadSlaveShops(const ShopStageIO& io, THashList<bool>& bySlaveName) {
  ShopCollection& shops = *io.out.SlaveShops;
  const SlaveNameMap& chars = *io.characters.AllSlaveChars;
  const NameRenameMap& charRenames = *io.characters.CharRenames;
  const NameRenameMap& accountRenames = *io.accounts.AccountRenames;
  ReadShopFile(io, io.run.Slave.Shop, shop_rec::kSize, "正在加载从库(%d/%d) Shop.dat", [&](ShopRecord&& r) {
    const std::string_view name = FieldText(r, shop_rec::kShopName);
    const std::string_view owner = FieldText(r, shop_rec::kOwner);
    if (name.empty() || owner.empty()) return;
    ++io.out.ShopCounts.slave;
    NameKeyBuf key(name);
    if (shops.Exists(key) || !chars.Exists(NameKeyBuf(owner))) return;
    r.side = kSideSlave;
    ApplyRename(r, shop_rec::kOwner, charRenames);
    ApplyRename(r, shop_rec::kAccount, accountRenames);
    shops.Add(key, std::move(r));
    bySlaveName.Add(key, true);
  });
}

// Slave shops into the new shop map; a shop whose name is taken there gets a
// new name, remembered under its old name for its items.
void MergeShops(const ShopStageIO& io, THashList<std::string>& renamed) {
  ShopCollection& merged = *io.out.MasterShops;
  ShopCollection& slave = *io.out.SlaveShops;
  const NameTakenFn inMerged = [&merged](std::string_view key) { return merged.Exists(key); };
  const NameTakenFn inSlave = [&slave](std::string_view key) { return slave.Exists(key); };

  ResetBar(io, slave.Count());
  for (ShopCollection::Node& node : slave) {
    ShopRecord r = slave.Take(&node);  // first, so that the name does not block itself
    const std::string name(FieldText(r, shop_rec::kShopName));
    io.services.ShowStatusText(1, StatusTextWithName("正在合并(%d/%d) Shop.dat:", name, kShopStatusMaxBytes));
    std::string finalName = name;
    if (merged.Exists(NameKeyBuf(name))) {
      finalName = MakeUniqueNameOrThrow(NameInstance::Shop, name, kCharNameKeep, inMerged, inSlave);
      renamed.Add(NameKeyBuf(name), finalName);
      io.out.ShopRenames->emplace_back(name, finalName);
      r.newName = finalName;
    }
    merged.Add(NameKeyBuf(finalName), std::move(r));
  }
  slave.Clear();
}

void WriteShops(const ShopStageIO& io) {
  ShopCollection& shops = *io.out.MasterShops;
  const int32_t count = shops.Count();
  OutputFile out(PathFromText(io.run.SavePath + shop_file::kShopFileName));
  ResetBar(io, count);
  WriteHeader(out, count);
  uint8_t rec[shop_rec::kSize];
  for (const ShopCollection::Node& node : shops) {
    const ShopRecord& r = node.Item;
    io.services.ShowStatusText(1, StatusTextWithName("正在保存(%d/%d) Shop.dat:", FieldText(r, shop_rec::kShopName),
                                             kShopStatusMaxBytes));
    std::memcpy(rec, r.bytes.data(), sizeof rec);
    if (!r.newName.empty()) WriteNameField(rec + shop_rec::kShopName, r.newName);
    out.Write(rec, sizeof rec);
  }
  out.Commit();
  io.services.ShowStatusText(0, "Shop.dat 合并完成(%d/%d) 新数据大小:" + std::to_string(count));
  io.services.Bar.SetMax(0);
  io.services.Bar.SetPosition(0);
}

// Master items of master shops that were kept, whose owner is a master
// character of the new data set.
void LoadMasterItems(const ShopStageIO& io) {
  ShopCollection& items = *io.out.MasterShopItems;
  const ShopCollection& shops = *io.out.MasterShops;
  CharIndexCollection& chars = *io.characters.MasterCharIndex;
  ReadShopFile(io, io.run.Master.ShopItem, shop_item_rec::kSize, "正在加载主库(%d/%d) ShopItem.dat",
               [&](ShopRecord&& r) {
                 const std::string_view shopName = FieldText(r, shop_item_rec::kShopName);
                 const std::string_view owner = FieldText(r, shop_item_rec::kOwner);
                 if (shopName.empty() || owner.empty()) return;
                 ++io.out.ShopItemCounts.master;
                 // The new shop map holds slave shops too: a master item must
                 // not join a slave shop that has its shop's name.
                 const ShopRecord* shop = shops.Find(NameKeyBuf(shopName));
                 if (shop == nullptr || shop->side != kSideMaster) return;
                 const CharIndexEntry* c = chars.Find(NameKeyBuf(owner));
                 if (c == nullptr || c->side != kSideMaster) return;
                 r.side = kSideMaster;
                 AddBySerial(items, std::move(r));
               });
}

// Slave items of slave shops that were kept, whose owner survived on the
// slave (their renames are applied when they are written).
void LoadSlaveItems(const ShopStageIO& io, const THashList<bool>& slaveShops) {
  ShopCollection& items = *io.out.SlaveShopItems;
  const SlaveNameMap& chars = *io.characters.AllSlaveChars;
  ReadShopFile(io, io.run.Slave.ShopItem, shop_item_rec::kSize, "正在加载从库(%d/%d) ShopItem.dat",
               [&](ShopRecord&& r) {
                 const std::string_view shopName = FieldText(r, shop_item_rec::kShopName);
                 const std::string_view owner = FieldText(r, shop_item_rec::kOwner);
                 if (shopName.empty() || owner.empty()) return;
                 ++io.out.ShopItemCounts.slave;
                 NameKeyBuf shopKey(shopName);
                 if (!slaveShops.Exists(shopKey) || !chars.Exists(NameKeyBuf(owner))) return;
                 r.side = kSideSlave;
                 AddBySerial(items, std::move(r));
               });
}

void MergeItems(const ShopStageIO& io) {
  ShopCollection& merged = *io.out.MasterShopItems;
  ShopCollection& slave = *io.out.SlaveShopItems;
  ResetBar(io, slave.Count());
  for (ShopCollection::Node& node : slave) {
    const std::string key(node.Key());
    merged.Add(key, slave.Take(&node));
    io.services.ShowStatusText(1, "正在合并(%d/%d) ShopItem.dat");
  }
  slave.Clear();
}

// A slave item's shop name (when its shop was renamed), owner, second name
// and account with their renames applied.
void ApplySlaveItemRenames(const ShopStageIO& io, uint8_t* record, const THashList<std::string>& renamedShops) {
  const NameRenameMap& charRenames = *io.characters.CharRenames;
  if (const std::string* to = renamedShops.Find(NameKeyBuf(FieldText(record, shop_item_rec::kShopName)));
      to != nullptr && !to->empty()) {
    WriteNameField(record + shop_item_rec::kShopName, *to);
  }
  ApplyRename(record, shop_item_rec::kOwner, charRenames);
  if (!FieldText(record, shop_item_rec::kSecondName).empty()) {
    ApplyRename(record, shop_item_rec::kSecondName, charRenames);
  }
  ApplyRename(record, shop_item_rec::kAccount, *io.accounts.AccountRenames);
}

// Writes the items in merged order, each read again from its side's file
// (with the slave's renames) and given the next serial of its range.
void WriteItems(const ShopStageIO& io, const THashList<std::string>& renamedShops) {
  ShopCollection& items = *io.out.MasterShopItems;
  ItemSerialMap& masterSerials = *io.characters.MasterItemSerials;
  ItemSerialMap& slaveSerials = *io.characters.SlaveItemSerials;
  const int32_t count = items.Count();
  OutputFile out(PathFromText(io.run.SavePath + shop_file::kItemFileName));
  ResetBar(io, count);
  WriteHeader(out, count);
  std::unique_ptr<DbSourceFile> masterFile, slaveFile;  // opened at their first item
  uint8_t record[shop_item_rec::kSize];
  for (ShopCollection::Node& node : items) {
    const ShopRecord& r = node.Item;
    io.services.ShowStatusText(1, "正在保存(%d/%d) ShopItem.dat");
    const bool master = r.side == kSideMaster;
    std::unique_ptr<DbSourceFile>& file = master ? masterFile : slaveFile;
    const std::string& path = master ? io.run.Master.ShopItem : io.run.Slave.ShopItem;
    if (!file) file = std::make_unique<DbSourceFile>(PathFromText(path));
    if (file->ReadAtBuffered(r.offset, record, sizeof record) < sizeof record || record[0] != 0) {
      // The servers must be stopped during a merge: a record that changed
      // between the two reads would be written half old, half new.
      throw std::runtime_error("ShopItem.dat 在合并中被改动：" + path + "（记录位置 " + std::to_string(r.offset) +
                               "）。请先停止服务器再合区。");
    }
    if (!master) ApplySlaveItemRenames(io, record, renamedShops);
    uint8_t* serial = record + shop_item_rec::kSerial;
    const int32_t oldSerial = LoadInt32LE(serial);
    const int32_t newSerial = NextSerialFor(io.characters, oldSerial);
    StoreInt32LE(serial, newSerial);
    (master ? masterSerials : slaveSerials).Add(oldSerial, newSerial);
    out.Write(record, sizeof record);
  }
  out.Commit();
  io.services.ShowStatusText(0, "ShopItem.dat 合并完成(%d/%d) 新数据大小:" + std::to_string(count));
  io.services.Bar.SetMax(0);
  io.services.Bar.SetPosition(0);
}

}  // namespace

void MergeUserShops(const RunSettings& run, const AccountStageProducts& accounts,
                    CharacterStageProducts& characters, RunServices& services, ShopStageProducts& out) {
  const ShopStageIO io{run, accounts, characters, services, out};
  Require("the characters have not been merged", io.characters.MasterCharIndex, io.characters.AllSlaveChars, io.characters.CharRenames,
          io.accounts.AccountRenames, io.characters.MasterItemSerials, io.characters.SlaveItemSerials);
  io.out.MasterShops = std::make_shared<ShopCollection>();
  io.out.SlaveShops = std::make_shared<ShopCollection>();
  io.out.MasterShopItems = std::make_shared<ShopCollection>();
  io.out.SlaveShopItems = std::make_shared<ShopCollection>();
  io.out.ShopRenames = std::make_shared<std::vector<std::pair<std::string, std::string>>>();
  io.out.ShopCounts = io.out.ShopItemCounts = SideCounts{0, 0};

  // The stage's own maps, by name key of the slave shop name: the slave's
  // kept shops (for their items), and the new names of the renamed ones.
  THashList<bool> slaveShopNames(kStageListBuckets);
  THashList<std::string> renamedShops(kStageListBuckets);

  LoadMasterShops(io);
  LoadSlaveShops(io, slaveShopNames);
  MergeShops(io, renamedShops);
  WriteShops(io);
  LoadMasterItems(io);
  LoadSlaveItems(io, slaveShopNames);
  MergeItems(io);
  WriteItems(io, renamedShops);
}

}  // namespace razere
