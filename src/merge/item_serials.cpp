#include "merge/item_serials.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

#include "dbfiles/records.h"
#include "support/file_system.h"
#include "support/iniprofile.h"

namespace razere {

int32_t NextItemNumber(CharacterStageProducts& products) {
  // 64-bit, so that a counter left at any value cannot overflow.
  int64_t n = static_cast<int64_t>(products.ItemNumber) + 1;
  if (n > kItemNumberMax) n = 1;
  products.ItemNumber = static_cast<int32_t>(n);
  return products.ItemNumber;
}

int32_t NextItemNumberEx(CharacterStageProducts& products) {
  int64_t n = static_cast<int64_t>(products.ItemNumberEx) + 1;
  if (n < kItemNumberExMin || n > kItemNumberExMax) n = kItemNumberExMin;
  products.ItemNumberEx = static_cast<int32_t>(n);
  return products.ItemNumberEx;
}

std::optional<int32_t> ParseSerialKey(std::string_view text) {
  int32_t serial = 0;
  const char* end = text.data() + text.size();
  const auto res = std::from_chars(text.data(), end, serial);
  if (res.ec != std::errc() || res.ptr != end) return std::nullopt;
  // from_chars also takes leading zeros and "-0"; the map's keys never had them.
  char buf[12];
  if (SerialKey(serial, buf) != text) return std::nullopt;
  return serial;
}

void ResetItemNumbers(CharacterStageProducts& products) {
  products.ItemNumber = kItemNumberStart;
  products.ItemNumberEx = kItemNumberExStart;
  products.MasterItemSerials = std::make_shared<ItemSerialMap>();
  products.SlaveItemSerials = std::make_shared<ItemSerialMap>();
}

namespace {

ItemSerialMap& SerialMapOf(CharacterStageProducts& products, bool masterSide) {
  ItemSerialMap* map = masterSide ? products.MasterItemSerials.get() : products.SlaveItemSerials.get();
  if (map == nullptr) throw std::logic_error("item serial maps not created (ResetItemNumbers)");
  return *map;
}

inline void Renumber(CharacterStageProducts& products, ItemSerialMap& map, uint8_t* item) {
  if (!ItemOccupied(item)) return;
  const int32_t oldSerial = ItemSerial(item);
  const int32_t newSerial = NextSerialFor(products, oldSerial);
  SetItemSerial(item, newSerial);
  map.Add(oldSerial, newSerial);
}

}  // namespace

void RenumberItem(CharacterStageProducts& products, uint8_t* item1056, bool masterSide) {
  Renumber(products, SerialMapOf(products, masterSide), item1056);
}

void RenumberCharDataItems(CharacterStageProducts& products, std::span<uint8_t> record, bool masterSide) {
  ItemSerialMap& map = SerialMapOf(products, masterSide);
  ForEachCharDataItem(record, ItemOrder::Renumber, [&](uint8_t* item) { Renumber(products, map, item); });
}

void RenumberHeroItems(CharacterStageProducts& products, std::span<uint8_t> record, bool masterSide) {
  ItemSerialMap& map = SerialMapOf(products, masterSide);
  ForEachHeroDataItem(record, ItemOrder::Renumber, [&](uint8_t* item) { Renumber(products, map, item); });
}

void RenumberCharDataItems(CharacterStageProducts& products, uint8_t* record, bool masterSide) {
  RenumberCharDataItems(products, std::span<uint8_t>(record, chardata_rec::kSize), masterSide);
}

void RenumberHeroItems(CharacterStageProducts& products, uint8_t* record, bool masterSide) {
  RenumberHeroItems(products, std::span<uint8_t>(record, hero_rec::kSize), masterSide);
}

namespace {
std::string CountersFailure(const std::filesystem::path& setupFile) {
  return "保存物品序号失败：无法把物品序号计数器写入“" + TextOfPath(setupFile) + "”";
}
}  // namespace

void CheckItemNumbersWritable(const std::filesystem::path& setupFile) {
  // A read-only settings file is the operator's word that it must not change;
  // the replacement by rename would not notice the flag.
  if (Fs().IsReadOnly(setupFile)) throw std::runtime_error(CountersFailure(setupFile) + "：该文件是只读的");
}

void WriteItemNumbers(const std::filesystem::path& setupFile, int32_t ItemNumber, int32_t ItemNumberEx) {
  const std::string what = CountersFailure(setupFile);
  CheckItemNumbersWritable(setupFile);
  try {
    IniProfile ini(setupFile);
    ini.WriteString("Setup", "ItemNumber", std::to_string(ItemNumber));
    ini.WriteString("Setup", "ItemNumberEx", std::to_string(ItemNumberEx));
    ini.Save();
  } catch (const std::exception& e) {
    throw std::runtime_error(what + "：" + e.what());
  }
}

}  // namespace razere
