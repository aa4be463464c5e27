#include "stages/shop_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "merge/fixtures.h"
#include "merge/item_serials.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/errors.h"

namespace razere {
namespace {

namespace fs = std::filesystem;

using testing::Bytes;
using testing::CharItemAt;
using testing::CharSpec;
using testing::MergeFixture;
using testing::NameAtOffset;
using testing::NamesOf;

using Names = std::vector<std::string>;

const double kNow = EncodeDateTime(2024, 6, 15, 12);

// ---------------------------------------------------------------------------
// Records and files built in code
// ---------------------------------------------------------------------------

struct ShopSpec {
  std::string shop;
  std::string owner;
  std::string account = "acct";
  uint8_t state = 0;
  uint8_t tag = 0;  // written into the opaque bytes, to tell records apart
  std::function<void(Bytes&)> tweak{};
};

struct ShopItemSpec {
  std::string shop;
  std::string owner;
  int32_t serial = 0;
  std::string account = "acct";
  std::string second{};
  uint8_t state = 0;
  uint8_t tag = 0;
  std::function<void(Bytes&)> tweak{};
};

Bytes MakeShop(const ShopSpec& s) {
  Bytes r(shop_rec::kSize, 0);
  r[shop_rec::kState] = s.state;
  r[1] = s.tag;
  r[shop_rec::kSize - 1] = s.tag;
  WriteNameField(r.data() + shop_rec::kAccount, s.account);
  WriteNameField(r.data() + shop_rec::kShopName, s.shop);
  WriteNameField(r.data() + shop_rec::kOwner, s.owner);
  if (s.tweak) s.tweak(r);
  return r;
}

Bytes MakeShopItem(const ShopItemSpec& s) {
  Bytes r(shop_item_rec::kSize, 0);
  r[shop_item_rec::kState] = s.state;
  r[1] = s.tag;
  r[shop_item_rec::kSize - 1] = s.tag;
  StoreInt32LE(r.data() + shop_item_rec::kSerial, s.serial);
  StoreUint16LE(r.data() + shop_item_rec::kItem + item_rec::kKind, 7);
  WriteNameField(r.data() + shop_item_rec::kAccount, s.account);
  WriteNameField(r.data() + shop_item_rec::kShopName, s.shop);
  WriteNameField(r.data() + shop_item_rec::kOwner, s.owner);
  WriteNameField(r.data() + shop_item_rec::kSecondName, s.second);
  if (s.tweak) s.tweak(r);
  return r;
}

Bytes ShopFileBytes(int32_t count, const std::vector<Bytes>& records) {
  Bytes out(shop_file::kHeaderSize, 0);
  StoreInt32LE(out.data() + shop_file::kMark, shop_file::kFormatMark);
  StoreInt32LE(out.data() + shop_file::kCount, count);
  for (const Bytes& r : records) out.insert(out.end(), r.begin(), r.end());
  return out;
}

template <class RecordDef>
std::vector<Bytes> Records(const std::vector<RecordDef>& defs, Bytes (*make)(const RecordDef&)) {
  std::vector<Bytes> out;
  for (const RecordDef& s : defs) out.push_back(make(s));
  return out;
}

// Header count (-1 when there is no header) and the records of an output file.
struct ShopFile {
  int32_t mark = 0;
  int32_t count = -1;
  std::vector<Bytes> records;
  size_t size = 0;
};

ShopFile ReadShopFile(const fs::path& path, size_t recordSize) {
  Bytes all = testing::ReadFile(path);
  ShopFile f;
  f.size = all.size();
  if (all.size() < shop_file::kHeaderSize) return f;
  f.mark = LoadInt32LE(all.data() + shop_file::kMark);
  f.count = LoadInt32LE(all.data() + shop_file::kCount);
  for (size_t at = shop_file::kHeaderSize; at + recordSize <= all.size(); at += recordSize) {
    f.records.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                           all.begin() + static_cast<std::ptrdiff_t>(at + recordSize));
  }
  return f;
}

std::vector<int32_t> SerialsOf(const std::vector<Bytes>& items) {
  std::vector<int32_t> out;
  for (const Bytes& r : items) out.push_back(LoadInt32LE(r.data() + shop_item_rec::kSerial));
  return out;
}

std::vector<int> TagsOf(const std::vector<Bytes>& records) {
  std::vector<int> out;
  for (const Bytes& r : records) out.push_back(r[1]);
  return out;
}

// Names of the entries of a folder, temporary files included.
std::set<std::string> FolderEntries(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

// ---------------------------------------------------------------------------
// The stage after a full character merge of two small installations
// ---------------------------------------------------------------------------

class ShopMergeTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClockForTesting(kNow); }
  void TearDown() override { SetClockForTesting(std::nullopt); }

  // Source files as raw bytes; nullopt = no file at the path.
  std::optional<Bytes> masterShop = ShopFileBytes(0, {}), slaveShop = ShopFileBytes(0, {});
  std::optional<Bytes> masterItem = ShopFileBytes(0, {}), slaveItem = ShopFileBytes(0, {});

  void Shops(const std::vector<ShopSpec>& master, const std::vector<ShopSpec>& slave) {
    masterShop = ShopFileBytes(static_cast<int32_t>(master.size()), Records(master, MakeShop));
    slaveShop = ShopFileBytes(static_cast<int32_t>(slave.size()), Records(slave, MakeShop));
  }
  void Items(const std::vector<ShopItemSpec>& master, const std::vector<ShopItemSpec>& slave) {
    masterItem = ShopFileBytes(static_cast<int32_t>(master.size()), Records(master, MakeShopItem));
    slaveItem = ShopFileBytes(static_cast<int32_t>(slave.size()), Records(slave, MakeShopItem));
  }

  // Writes every input, runs the account and character stages, then the shop stage.
  void Prepare() {
    f.WriteInputs();
    auto put = [this](const std::optional<Bytes>& bytes, const char* side, const char* name) {
      const fs::path p = f.dir.path() / side / name;
      if (bytes) testing::WriteFile(p, *bytes);
      return p.string();
    };
    f.ctx.Master.Shop = put(masterShop, "master", "Shop.dat");
    f.ctx.Slave.Shop = put(slaveShop, "slave", "Shop.dat");
    f.ctx.Master.ShopItem = put(masterItem, "master", "ShopItem.dat");
    f.ctx.Slave.ShopItem = put(slaveItem, "slave", "ShopItem.dat");
    LoadAccounts(f.ctx);
    MergeCharacters(f.ctx);
  }
  void Run() {
    Prepare();
    MergeUserShops(f.ctx);
  }

  ShopFile OutShops() const { return ReadShopFile(f.Out("Shop.dat"), shop_rec::kSize); }
  ShopFile OutItems() const { return ReadShopFile(f.Out("ShopItem.dat"), shop_item_rec::kSize); }
  Names OutShopNames() const { return NamesOf(OutShops().records, shop_rec::kShopName); }

  bool Shown(std::string_view text) const {
    return std::find(f.host.statuses.begin(), f.host.statuses.end(), text) != f.host.statuses.end();
  }

  MergeFixture f;
};

// ---------------------------------------------------------------------------
// Shop names
// ---------------------------------------------------------------------------

TEST_F(ShopMergeTest, RepeatedShopNameWithinAFileKeepsTheFirstRecord) {
  f.master.Char({.name = "Ann", .account = "m1"});
  f.slave.Char({.name = "Bob", .account = "s1"});
  Shops({{.shop = "Bazaar", .owner = "Ann", .tag = 1}, {.shop = "BAZAAR", .owner = "Ann", .tag = 2}},
        {{.shop = "Stall", .owner = "Bob", .tag = 3}, {.shop = "stall", .owner = "Bob", .tag = 4}});
  Items({{.shop = "bazaar", .owner = "Ann", .serial = 10}},
        {{.shop = "STALL", .owner = "Bob", .serial = 20}});
  Run();

  ShopFile shops = OutShops();
  EXPECT_EQ(shops.mark, shop_file::kFormatMark);
  EXPECT_EQ(shops.count, 2);
  EXPECT_EQ(NamesOf(shops.records, shop_rec::kShopName), (Names{"Bazaar", "Stall"}));
  EXPECT_EQ(TagsOf(shops.records), (std::vector<int>{1, 3}));
  // Unrenamed records are written byte for byte.
  EXPECT_EQ(shops.records[0], MakeShop({.shop = "Bazaar", .owner = "Ann", .tag = 1}));

  // Items name their shop in any letter case; both shops keep theirs.
  ShopFile items = OutItems();
  EXPECT_EQ(NamesOf(items.records, shop_item_rec::kShopName), (Names{"bazaar", "STALL"}));
  EXPECT_EQ(f.ctx.MasterShops->Count(), 2);
  EXPECT_EQ(f.ctx.MasterShopItems->Count(), 2);
}

TEST_F(ShopMergeTest, CaseOnlyCollisionRenamesTheSlaveShopAndItsItemsFollow) {
  f.master.Char({.name = "Ann", .account = "m1"});
  f.slave.Char({.name = "Bob", .account = "s1"});
  // "bazaara" is a slave shop still waiting when "bazaar" is renamed, so it
  // blocks the first candidate.
  Shops({{.shop = "Bazaar", .owner = "Ann"}},
        {{.shop = "bazaar", .owner = "Bob", .tag = 7}, {.shop = "bazaara", .owner = "Bob", .tag = 8}});
  Items({{.shop = "Bazaar", .owner = "Ann", .serial = 1}},
        {{.shop = "BAZAAR", .owner = "Bob", .serial = 2},
         {.shop = "bazaara", .owner = "Bob", .serial = 3},
         {.shop = "bazaar", .owner = "Bob", .serial = 4}});
  Run();

  ShopFile shops = OutShops();
  EXPECT_EQ(NamesOf(shops.records, shop_rec::kShopName), (Names{"Bazaar", "bazaarb", "bazaara"}));
  // Only the shop name changed.
  Bytes expected = MakeShop({.shop = "bazaar", .owner = "Bob", .tag = 7});
  WriteNameField(expected.data() + shop_rec::kShopName, "bazaarb");
  EXPECT_EQ(shops.records[1], expected);

  EXPECT_EQ(NamesOf(OutItems().records, shop_item_rec::kShopName),
            (Names{"Bazaar", "bazaarb", "bazaara", "bazaarb"}));

  // The new shop map is keyed by final names.
  EXPECT_TRUE(f.ctx.MasterShops->Exists("bazaarb"));
  EXPECT_TRUE(f.ctx.MasterShops->Exists("bazaara"));
  EXPECT_EQ(f.ctx.SlaveShops->Count(), 0);
  EXPECT_EQ(f.ctx.SlaveShopItems->Count(), 0);
  EXPECT_TRUE(Shown("正在合并(1/2) Shop.dat:bazaar"));
  EXPECT_TRUE(Shown("Shop.dat 合并完成(3/3) 新数据大小:3"));
  EXPECT_TRUE(Shown("ShopItem.dat 合并完成(4/4) 新数据大小:4"));
}

// ---------------------------------------------------------------------------
// Owners
// ---------------------------------------------------------------------------

TEST_F(ShopMergeTest, SlaveOwnerSecondNameAndAccountRenamesFollow) {
  f.master.Char({.name = "lee", .account = "acc"});
  f.slave.Char({.name = "Lee", .account = "ACC"});   // becomes Leea, account ACCa
  f.slave.Char({.name = "Kim", .account = "s2"});    // keeps its name
  Shops({{.shop = "Home", .owner = "lee", .account = "acc"}},
        {{.shop = "Kiosk", .owner = "Lee", .account = "ACC"}, {.shop = "Cart", .owner = "Kim", .account = "s2"}});
  Items({// Master names are never renamed, even where a renamed slave name matches them.
         {.shop = "Home", .owner = "lee", .serial = 1, .account = "acc", .second = "Lee"}},
        {{.shop = "Kiosk", .owner = "Lee", .serial = 2, .account = "ACC", .second = "LEE"},
         {.shop = "Kiosk", .owner = "Lee", .serial = 3, .account = "ACC", .second = "Kim"},
         {.shop = "Cart", .owner = "Kim", .serial = 4, .account = "s2",
          .tweak = [](Bytes& r) { r[shop_item_rec::kSecondName + 1] = 'x'; }}});
  Run();

  ShopFile shops = OutShops();
  EXPECT_EQ(NamesOf(shops.records, shop_rec::kOwner), (Names{"lee", "Leea", "Kim"}));
  EXPECT_EQ(NamesOf(shops.records, shop_rec::kAccount), (Names{"acc", "ACCa", "s2"}));

  ShopFile items = OutItems();
  EXPECT_EQ(NamesOf(items.records, shop_item_rec::kOwner), (Names{"lee", "Leea", "Leea", "Kim"}));
  EXPECT_EQ(NamesOf(items.records, shop_item_rec::kSecondName), (Names{"Lee", "Leea", "Kim", ""}));
  EXPECT_EQ(NamesOf(items.records, shop_item_rec::kAccount), (Names{"acc", "ACCa", "ACCa", "s2"}));
  // An empty second name is left alone, stale bytes after it included.
  EXPECT_EQ(items.records[3][shop_item_rec::kSecondName + 1], 'x');
}

TEST_F(ShopMergeTest, ShopsAndItemsWithoutASurvivingOwnerAreDropped) {
  f.ctx.CleanData = true;  // level 1 and a login in 1899: removed
  f.master.Char({.name = "Ann", .account = "m1"});
  f.master.Char({.name = "OldM", .account = "m2", .level = 1});
  f.master.Char({.name = "Twin", .account = "m3", .level = 1});
  f.slave.Char({.name = "Bob", .account = "s1"});
  f.slave.Char({.name = "OldS", .account = "s2", .level = 1});
  // The master's Twin is removed, so the slave's Twin keeps its name: the
  // master's shop must not pass to it. Ghost exists only on the slave.
  f.slave.Char({.name = "Twin", .account = "s3"});
  f.slave.Char({.name = "Ghost", .account = "s4"});
  Shops({{.shop = "A", .owner = "Ann"},
         {.shop = "M-old", .owner = "OldM"},
         {.shop = "M-twin", .owner = "Twin"},
         {.shop = "M-ghost", .owner = "Ghost"},
         {.shop = "M-nobody", .owner = "Nobody"}},
        {{.shop = "B", .owner = "Bob"}, {.shop = "S-old", .owner = "OldS"}, {.shop = "S-twin", .owner = "Twin"}});
  Items({{.shop = "A", .owner = "Ann", .serial = 1},
         {.shop = "A", .owner = "OldM", .serial = 2},
         {.shop = "M-old", .owner = "OldM", .serial = 3},
         {.shop = "M-twin", .owner = "Twin", .serial = 4},
         {.shop = "A", .owner = "Ghost", .serial = 5}},
        {{.shop = "B", .owner = "Bob", .serial = 6},
         {.shop = "B", .owner = "OldS", .serial = 7},
         {.shop = "S-old", .owner = "OldS", .serial = 8},
         {.shop = "S-twin", .owner = "Twin", .serial = 9}});
  Run();

  ASSERT_EQ(NamesOf(f.Output(DbKind::Hum), index_rec::kName), (Names{"Ann", "Bob", "Twin", "Ghost"}));
  EXPECT_EQ(OutShopNames(), (Names{"A", "B", "S-twin"}));
  ShopFile items = OutItems();
  EXPECT_EQ(items.count, 3);
  EXPECT_EQ(NamesOf(items.records, shop_item_rec::kShopName), (Names{"A", "B", "S-twin"}));
  EXPECT_EQ(NamesOf(items.records, shop_item_rec::kOwner), (Names{"Ann", "Bob", "Twin"}));
  // Dropped items take no serials: the three kept ones are numbered 1, 2, 3.
  EXPECT_EQ(SerialsOf(items.records), (std::vector<int32_t>{1, 2, 3}));
}

// ---------------------------------------------------------------------------
// Items and their shops
// ---------------------------------------------------------------------------

TEST_F(ShopMergeTest, ItemsJoinOnlyAKeptShopOfTheirOwnSide) {
  f.master.Char({.name = "Ann", .account = "m1"});
  f.slave.Char({.name = "Bob", .account = "s1"});
  Shops({{.shop = "Kiosk", .owner = "Ann"}, {.shop = "Closed", .owner = "Ann", .state = 1}},
        {{.shop = "SlaveOnly", .owner = "Bob"}});
  Items({{.shop = "Kiosk", .owner = "Ann", .serial = 1, .tag = 1},
         {.shop = "Nowhere", .owner = "Ann", .serial = 2, .tag = 2},
         {.shop = "SlaveOnly", .owner = "Ann", .serial = 3, .tag = 3},  // a shop of the other side
         {.shop = "Closed", .owner = "Ann", .serial = 4, .tag = 4},
         {.shop = "", .owner = "Ann", .serial = 5, .tag = 5},
         {.shop = "Kiosk", .owner = "", .serial = 6, .tag = 6},
         {.shop = "Kiosk", .owner = "Ann", .serial = 7, .state = 2, .tag = 7}},
        {{.shop = "SlaveOnly", .owner = "Bob", .serial = 8, .tag = 8},
         {.shop = "Kiosk", .owner = "Bob", .serial = 9, .tag = 9},
         {.shop = "Missing", .owner = "Bob", .serial = 10, .tag = 10}});
  Run();

  EXPECT_EQ(OutShopNames(), (Names{"Kiosk", "SlaveOnly"}));
  EXPECT_EQ(TagsOf(OutItems().records), (std::vector<int>{1, 8}));
}

TEST_F(ShopMergeTest, SerialsContinueAfterTheCharacterItemsInMergedOrder) {
  f.master.Char({.name = "Ann", .account = "m1", .items = {{CharItemAt(0, 0), 100}, {CharItemAt(0, 1), 1500000000}}});
  f.slave.Char({.name = "Bob", .account = "s1", .items = {{CharItemAt(0, 0), 100}}});
  Shops({{.shop = "A", .owner = "Ann"}}, {{.shop = "B", .owner = "Bob"}});
  Items({{.shop = "A", .owner = "Ann", .serial = 100},
         {.shop = "A", .owner = "Ann", .serial = 2000000000},
         {.shop = "Gone", .owner = "Ann", .serial = 55},  // dropped: uses no serial
         {.shop = "A", .owner = "Ann", .serial = -7},
         {.shop = "A", .owner = "Ann", .serial = 100}},   // a repeat within the file is kept
        {{.shop = "B", .owner = "Bob", .serial = 100},
         {.shop = "B", .owner = "Bob", .serial = kItemNumberExMin},
         {.shop = "B", .owner = "Bob", .serial = 0}});
  Prepare();
  // The character stage gave out 1, 2 and 0x3FFFFFFF.
  ASSERT_EQ(f.ctx.ItemNumber, 2);
  ASSERT_EQ(f.ctx.ItemNumberEx, kItemNumberExMin);
  MergeUserShops(f.ctx);

  const int32_t ex = kItemNumberExMin;
  ShopFile items = OutItems();
  EXPECT_EQ(items.count, 7);
  EXPECT_EQ(SerialsOf(items.records), (std::vector<int32_t>{3, ex + 1, 4, 5, 6, ex + 2, 7}));
  EXPECT_EQ(f.ctx.ItemNumber, 7);
  EXPECT_EQ(f.ctx.ItemNumberEx, ex + 2);

  // Each side's map; a repeated old serial finds the item written last.
  const ItemSerialMap& m = *f.ctx.MasterItemSerials;
  const ItemSerialMap& s = *f.ctx.SlaveItemSerials;
  EXPECT_EQ(*m.Find("100"), 5);
  EXPECT_EQ(*m.Find("2000000000"), ex + 1);
  EXPECT_EQ(*m.Find("-7"), 4);
  EXPECT_FALSE(m.Exists("55"));
  EXPECT_EQ(*s.Find("100"), 6);
  EXPECT_EQ(*s.Find(std::to_string(kItemNumberExMin)), ex + 2);
  EXPECT_EQ(*s.Find("0"), 7);

  // The new item map keeps the serials read as keys, in output order.
  std::vector<std::string> keys;
  for (const ShopCollection::Node& n : *f.ctx.MasterShopItems) keys.emplace_back(n.Key());
  EXPECT_EQ(keys, (std::vector<std::string>{"100", "2000000000", "-7", "100", "100", "1073741823", "0"}));
}

// ---------------------------------------------------------------------------
// Source files: missing, short, damaged
// ---------------------------------------------------------------------------

TEST_F(ShopMergeTest, WithoutShopFilesBothOutputsHoldOnlyTheirHeader) {
  f.master.Char({.name = "Ann", .account = "m1"});
  masterShop = slaveShop = masterItem = slaveItem = std::nullopt;
  Prepare();
  f.ctx.Slave.ShopItem.clear();  // an empty path is a missing file too
  const int32_t before = f.ctx.ItemNumber;
  MergeUserShops(f.ctx);

  for (const char* name : {"Shop.dat", "ShopItem.dat"}) {
    EXPECT_EQ(testing::ReadFile(f.Out(name)), ShopFileBytes(0, {})) << name;
  }
  EXPECT_EQ(f.ctx.ItemNumber, before);
  EXPECT_EQ(f.ctx.MasterShops->Count(), 0);
  EXPECT_EQ(f.ctx.MasterShopItems->Count(), 0);
}

struct DamagedCase {
  const char* what;
  std::function<Bytes()> file;
  Names expected;
};

// Ann's 30-byte twin: a name that fills its field.
const std::string kLongName = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234";

class DamagedShopFileTest : public ShopMergeTest, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedShopFileTest, MasterShopFile) {
  f.master.Char({.name = "Ann", .account = "m1"});
  f.master.Char({.name = kLongName, .account = "m2"});
  masterShop = GetParam().file();
  Run();
  EXPECT_EQ(OutShopNames(), GetParam().expected);
}

const Bytes kShopA = MakeShop({.shop = "A", .owner = "Ann"});
const Bytes kShopB = MakeShop({.shop = "B", .owner = "Ann"});

// The bytes without their last `drop`.
Bytes Cut(Bytes b, size_t drop) {
  b.erase(b.end() - static_cast<std::ptrdiff_t>(std::min(drop, b.size())), b.end());
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedShopFileTest,
    ::testing::Values(
        DamagedCase{"shorter than its header", [] { return Bytes{0x61, 0x3D, 0x34, 0x01, 2}; }, {}},
        DamagedCase{"empty", [] { return Bytes{}; }, {}},
        DamagedCase{"count above the records present", [] { return ShopFileBytes(1000, {kShopA, kShopB}); },
                    {"A", "B"}},
        DamagedCase{"count of INT32_MAX", [] { return ShopFileBytes(INT32_MAX, {kShopA}); }, {"A"}},
        DamagedCase{"last record cut short", [] { return Cut(ShopFileBytes(3, {kShopA, kShopB, kShopB}), 1); },
                    {"A", "B"}},
        DamagedCase{"negative count", [] { return ShopFileBytes(-1, {kShopA}); }, {}},
        DamagedCase{"records beyond the count", [] { return ShopFileBytes(1, {kShopA, kShopB}); }, {"A"}},
        DamagedCase{"unused and nameless records",
                    [] {
                      return ShopFileBytes(4, {MakeShop({.shop = "X", .owner = "Ann", .state = 1}),
                                               MakeShop({.shop = "", .owner = "Ann"}),
                                               MakeShop({.shop = "Y", .owner = ""}), kShopB});
                    },
                    {"B"}},
        // A length byte above 30 reads as 30: the owner is the 30-byte name.
        DamagedCase{"length bytes above 30",
                    [] {
                      return ShopFileBytes(1, {MakeShop({.shop = kLongName,
                                                         .owner = kLongName,
                                                         .tweak =
                                                             [](Bytes& r) {
                                                               r[shop_rec::kShopName] = 200;
                                                               r[shop_rec::kOwner] = 31;
                                                               r[shop_rec::kAccount] = 255;
                                                             }})});
                    },
                    {kLongName}}),
    [](const ::testing::TestParamInfo<DamagedCase>& info) {
      std::string n = info.param.what;
      std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
      return n;
    });

TEST_F(ShopMergeTest, DamagedItemFilesKeepTheRecordsBeforeTheDamage) {
  f.master.Char({.name = "Ann", .account = "m1"});
  f.slave.Char({.name = "Bob", .account = "s1"});
  Shops({{.shop = "A", .owner = "Ann"}}, {{.shop = "B", .owner = "Bob"}});
  const Bytes a1 = MakeShopItem({.shop = "A", .owner = "Ann", .serial = 11, .tag = 1});
  const Bytes a2 = MakeShopItem({.shop = "A", .owner = "Ann", .serial = 12, .tag = 2});
  const Bytes b1 = MakeShopItem({.shop = "B", .owner = "Bob", .serial = 21, .tag = 3});
  masterItem = Cut(ShopFileBytes(3, {a1, a2, a2}), 600);
  slaveItem = ShopFileBytes(9, {b1});
  Run();
  EXPECT_EQ(TagsOf(OutItems().records), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(OutItems().count, 3);
}

TEST_F(ShopMergeTest, ASourceThatExistsButCannotBeReadEndsTheRun) {
  f.master.Char({.name = "Ann", .account = "m1"});
  Prepare();
  fs::create_directories(f.dir.path() / "slave" / "ShopFolder");
  f.ctx.Slave.Shop = (f.dir.path() / "slave" / "ShopFolder").string();
  EXPECT_THROW(MergeUserShops(f.ctx), FileError);
}

// ---------------------------------------------------------------------------
// Output files: complete or absent
// ---------------------------------------------------------------------------

TEST_F(ShopMergeTest, AnOldLongerOutputIsReplacedWhole) {
  f.master.Char({.name = "Ann", .account = "m1"});
  Shops({{.shop = "A", .owner = "Ann"}}, {});
  Prepare();
  testing::WriteFile(f.Out("Shop.dat"), Bytes(10000, 0xEE));
  testing::WriteFile(f.Out("ShopItem.dat"), Bytes(10000, 0xEE));
  MergeUserShops(f.ctx);

  EXPECT_EQ(OutShops().size, shop_file::kHeaderSize + shop_rec::kSize);
  EXPECT_EQ(testing::ReadFile(f.Out("ShopItem.dat")), ShopFileBytes(0, {}));
  for (const std::string& name : FolderEntries(f.dir.path() / "out")) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  }
}

TEST_F(ShopMergeTest, AnOutputThatCannotBeReplacedEndsTheRunWithoutLeftovers) {
  f.master.Char({.name = "Ann", .account = "m1"});
  Prepare();
  // A non-empty folder where ShopItem.dat goes can be neither removed nor replaced.
  fs::create_directories(f.Out("ShopItem.dat") / "inner");
  EXPECT_THROW(MergeUserShops(f.ctx), FileError);
  EXPECT_EQ(testing::ReadFile(f.Out("Shop.dat")), ShopFileBytes(0, {}));
  for (const std::string& name : FolderEntries(f.dir.path() / "out")) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  }
}

TEST_F(ShopMergeTest, AMissingSaveFolderEndsTheRun) {
  Prepare();
  f.ctx.SavePath = (f.dir.path() / "no-such-folder").string() + "/";
  EXPECT_THROW(MergeUserShops(f.ctx), FileError);
}

// Asks the run to end once the first item is being saved.
class StopWhileSavingItems : public testing::RecordingHost {
 public:
  void PaintStatus(const std::string& text) override {
    RecordingHost::PaintStatus(text);
    if (text.find("正在保存(1/") == 0 && text.find("ShopItem.dat") != std::string::npos) shuttingDown = true;
  }
};

TEST_F(ShopMergeTest, InterruptedWhileSavingLeavesTheFileAbsent) {
  f.master.Char({.name = "Ann", .account = "m1"});
  Shops({{.shop = "A", .owner = "Ann"}}, {});
  Items({{.shop = "A", .owner = "Ann", .serial = 1}, {.shop = "A", .owner = "Ann", .serial = 2}}, {});
  Prepare();
  testing::WriteFile(f.Out("ShopItem.dat"), Bytes(100, 1));  // from an earlier run
  StopWhileSavingItems host;
  f.ctx.Bar.SetHost(host);
  EXPECT_THROW(MergeUserShops(f.ctx), RunInterrupted);
  EXPECT_EQ(OutShops().count, 1);
  EXPECT_EQ(FolderEntries(f.dir.path() / "out").count("ShopItem.dat"), 0u);
  for (const std::string& name : FolderEntries(f.dir.path() / "out")) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  }
}

// Marks the first record of a file unused once the items are being merged:
// after the load chose them and before the write reads them again.
class ChangeItemsBeforeSaving : public testing::RecordingHost {
 public:
  explicit ChangeItemsBeforeSaving(fs::path file) : file_(std::move(file)) {}
  void PaintStatus(const std::string& text) override {
    RecordingHost::PaintStatus(text);
    if (!changed_ && text.find("正在保存(") == 0 && text.find("ShopItem.dat") != std::string::npos) {
      Bytes bytes = testing::ReadFile(file_);
      bytes[shop_file::kHeaderSize] = 1;
      testing::WriteFile(file_, bytes);
      changed_ = true;
    }
  }

 private:
  fs::path file_;
  bool changed_ = false;
};

TEST_F(ShopMergeTest, AnItemFileChangedDuringTheRunEndsItWithoutAnOutput) {
  f.master.Char({.name = "Ann", .account = "m1"});
  Shops({{.shop = "A", .owner = "Ann"}}, {});
  Items({{.shop = "A", .owner = "Ann", .serial = 1}, {.shop = "A", .owner = "Ann", .serial = 2}}, {});
  Prepare();
  ChangeItemsBeforeSaving host(f.ctx.Master.ShopItem);
  f.ctx.Bar.SetHost(host);
  try {
    MergeUserShops(f.ctx);
    ADD_FAILURE() << "the run went on with a changed record";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(f.ctx.Master.ShopItem), std::string::npos) << e.what();
  }
  EXPECT_EQ(FolderEntries(f.dir.path() / "out").count("ShopItem.dat"), 0u);
}

// ---------------------------------------------------------------------------
// Properties of a larger, random pair of installations
// ---------------------------------------------------------------------------

TEST_F(ShopMergeTest, RandomInstallationsKeepShopsItemsAndOwnersConsistent) {
  std::mt19937 rng(20240615);
  auto pick = [&rng](const Names& from) { return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)]; };
  auto chance = [&rng](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };

  f.ctx.CleanData = true;
  Names masterChars, slaveChars;
  for (int i = 0; i < 12; ++i) {
    masterChars.push_back("c" + std::to_string(i));
    f.master.Char({.name = masterChars.back(), .account = "m" + std::to_string(i % 5),
                   .level = chance(20) ? 1u : 50u, .items = {{CharItemAt(0, 0), i}}});
    // Half the slave's names collide with the master's, some in another case.
    slaveChars.push_back(i % 2 ? "C" + std::to_string(i) : "s" + std::to_string(i));
    f.slave.Char({.name = slaveChars.back(), .account = (i % 3 ? "m" : "s") + std::to_string(i % 4),
                  .level = chance(20) ? 1u : 50u, .items = {{CharItemAt(0, 0), i}}});
  }
  Names shopNames;
  for (int i = 0; i < 15; ++i) shopNames.push_back((i % 2 ? "Shop" : "SHOP") + std::to_string(i % 9));
  std::vector<ShopSpec> ms, ss;
  std::vector<ShopItemSpec> mi, si;
  for (int i = 0; i < 20; ++i) {
    const bool master = i % 2 == 0;
    const Names& chars = master ? masterChars : slaveChars;
    (master ? ms : ss).push_back({.shop = pick(shopNames), .owner = chance(10) ? "Nobody" : pick(chars)});
  }
  for (int i = 0; i < 80; ++i) {
    const bool master = i % 2 == 0;
    const std::vector<ShopSpec>& shops = master ? ms : ss;
    const ShopSpec& shop = shops[std::uniform_int_distribution<size_t>(0, shops.size() - 1)(rng)];
    const int32_t serial = chance(25) ? kItemNumberExMin + i : i % 30;
    (master ? mi : si).push_back({.shop = shop.shop, .owner = chance(90) ? shop.owner : pick(shopNames),
                                  .serial = serial, .second = chance(50) ? pick(master ? masterChars : slaveChars) : ""});
  }
  Shops(ms, ss);
  Items(mi, si);
  Prepare();
  const int32_t itemNumber = f.ctx.ItemNumber;
  const int32_t itemNumberEx = f.ctx.ItemNumberEx;
  MergeUserShops(f.ctx);

  std::set<std::string> hum;
  for (const std::string& n : NamesOf(f.Output(DbKind::Hum), index_rec::kName)) hum.insert(NameKey(n));
  ShopFile shops = OutShops();
  ShopFile items = OutItems();
  ASSERT_EQ(shops.count, static_cast<int32_t>(shops.records.size()));
  ASSERT_EQ(items.count, static_cast<int32_t>(items.records.size()));
  ASSERT_GT(shops.count, 3);
  ASSERT_GT(items.count, 10);

  std::set<std::string> shopKeys;
  for (const Bytes& r : shops.records) {
    EXPECT_TRUE(shopKeys.insert(NameKey(NameAtOffset(r, shop_rec::kShopName))).second) << "a shop name repeats";
    EXPECT_TRUE(hum.count(NameKey(NameAtOffset(r, shop_rec::kOwner)))) << NameAtOffset(r, shop_rec::kOwner);
  }
  int32_t ordinary = itemNumber, extended = itemNumberEx;
  for (const Bytes& r : items.records) {
    EXPECT_TRUE(shopKeys.count(NameKey(NameAtOffset(r, shop_item_rec::kShopName))))
        << NameAtOffset(r, shop_item_rec::kShopName);
    EXPECT_TRUE(hum.count(NameKey(NameAtOffset(r, shop_item_rec::kOwner))));
    const int32_t serial = LoadInt32LE(r.data() + shop_item_rec::kSerial);
    EXPECT_EQ(serial, serial >= kItemNumberExMin ? ++extended : ++ordinary);
  }
  EXPECT_EQ(f.ctx.ItemNumber, ordinary);
  EXPECT_EQ(f.ctx.ItemNumberEx, extended);
  EXPECT_GT(extended, itemNumberEx);
}

}  // namespace
}  // namespace razere
