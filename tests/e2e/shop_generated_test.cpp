// Generated installations with player shops, and the shop stage run on them
// after the account and character stages.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/db_test_util.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"
#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "merge/item_serials.h"
#include "stages/shop_merge.h"
#include "support/ansi.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::IndexRecords;
using testing::LiveIndexKeys;
using testing::TempDir;

struct ShopFileData {
  int32_t count = -1;
  std::vector<Bytes> records;
};

ShopFileData ReadShopFile(const fs::path& path, size_t recordSize) {
  Bytes all = testing::ReadFile(path);
  ShopFileData d;
  if (all.size() < shop_file::kHeaderSize) return d;
  d.count = LoadInt32LE(all.data() + shop_file::kCount);
  for (size_t at = shop_file::kHeaderSize; at + recordSize <= all.size(); at += recordSize) {
    d.records.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                           all.begin() + static_cast<std::ptrdiff_t>(at + recordSize));
  }
  return d;
}

std::string Field(const Bytes& r, size_t offset) { return ReadNameField(r.data() + offset); }

gen::GenOptions Options() {
  gen::GenOptions o = testing::StagePairOptions();
  o.seed = 29;
  o.collisionRate = 0.3;
  o.shops = 30;
  o.shopItems = 150;
  return o;
}

TEST(GeneratedShopsTest, BothSidesHoldShopsThatExerciseTheMerge) {
  TempDir dir;
  gen::GeneratedPair pair = gen::GeneratePair(Options(), dir.path());
  std::map<std::string, std::string> masterNames;  // key -> spelling
  int32_t caseOnly = 0, exact = 0;
  for (const gen::GeneratedServer* side : {&pair.master, &pair.slave}) {
    ShopFileData shops = ReadShopFile(side->paths.Shop, shop_rec::kSize);
    ShopFileData items = ReadShopFile(side->paths.ShopItem, shop_item_rec::kSize);
    ASSERT_EQ(shops.count, 30);
    ASSERT_EQ(shops.records.size(), 30u);
    ASSERT_EQ(items.count, 150);
    ASSERT_EQ(items.records.size(), 150u);
    EXPECT_EQ(side->stats.shopRecords, 30);
    EXPECT_EQ(side->stats.shopItemRecords, 150);

    const std::set<std::string> chars = LiveIndexKeys(side->paths.Hum, IndexRecords::CharactersAndHeroes);
    int32_t owned = 0;
    for (const Bytes& r : shops.records) {
      const std::string name = Field(r, shop_rec::kShopName);
      ASSERT_FALSE(name.empty());
      ASSERT_LE(r[shop_rec::kShopName], name_field::kCapacity);
      owned += chars.count(NameKey(Field(r, shop_rec::kOwner))) ? 1 : 0;
      if (side == &pair.master) {
        masterNames.emplace(NameKey(name), name);
      } else if (auto it = masterNames.find(NameKey(name)); it != masterNames.end()) {
        (it->second == name ? exact : caseOnly) += 1;
      }
    }
    EXPECT_GE(owned, 24) << "most shops belong to characters of the installation";
    EXPECT_LT(owned, 30) << "a few shops have no owner";

    int32_t extended = 0, inShop = 0;
    std::set<std::string> shopKeys;
    for (const Bytes& r : shops.records) shopKeys.insert(NameKey(Field(r, shop_rec::kShopName)));
    for (const Bytes& r : items.records) {
      extended += LoadInt32LE(r.data() + shop_item_rec::kSerial) >= kItemNumberExMin ? 1 : 0;
      inShop += shopKeys.count(NameKey(Field(r, shop_item_rec::kShopName))) ? 1 : 0;
    }
    EXPECT_GT(extended, 0);
    EXPECT_LT(extended, 30);
    EXPECT_GT(inShop, 130);
    EXPECT_LT(inShop, 150);
  }
  EXPECT_GT(exact, 0) << "slave shop names taken on the master as they are";
  EXPECT_GT(caseOnly, 0) << "slave shop names taken on the master in another letter case";
}

TEST(GeneratedShopsTest, WithoutShopsTheInstallationHasNoShopFiles) {
  TempDir dir;
  gen::GenOptions o = Options();
  o.shops = 0;
  o.shopItems = 0;
  gen::GeneratedServer s = gen::GenerateServer(o, dir.path());
  EXPECT_FALSE(fs::exists(s.paths.Shop));
  EXPECT_FALSE(fs::exists(s.paths.ShopItem));
}

// The merged shop files of a generated pair: every item's shop is in the new
// Shop.dat, every owner is a character of the new Hum.DB, no shop name
// repeats, and item serials continue the counters after the characters'.
TEST(GeneratedShopsTest, MergedShopFilesAreConsistent) {
  for (bool clean : {false, true}) {
    SCOPED_TRACE(clean ? "with clean-up" : "without clean-up");
    testing::GeneratedPairRun run(Options(), clean);
    const gen::GeneratedPair& pair = run.pair;
    RunContext& ctx = run.ctx;
    run.MergeAccountsAndCharacters();
    const int32_t itemNumber = ctx.ItemNumber, itemNumberEx = ctx.ItemNumberEx;
    MergeUserShops(ctx);

    const std::set<std::string> chars = LiveIndexKeys(pair.save / "Hum.DB", IndexRecords::CharactersAndHeroes);
    ShopFileData shops = ReadShopFile(pair.save / "Shop.dat", shop_rec::kSize);
    ShopFileData items = ReadShopFile(pair.save / "ShopItem.dat", shop_item_rec::kSize);
    ASSERT_EQ(shops.count, static_cast<int32_t>(shops.records.size()));
    ASSERT_EQ(items.count, static_cast<int32_t>(items.records.size()));
    EXPECT_GT(shops.count, 30);
    EXPECT_GT(items.count, 150);
    EXPECT_EQ(shops.count, ctx.MasterShops->Count());
    EXPECT_EQ(items.count, ctx.MasterShopItems->Count());

    std::set<std::string> shopKeys, sourceKeys;
    for (const std::string& p : {ctx.Master.Shop, ctx.Slave.Shop}) {
      for (const Bytes& r : ReadShopFile(p, shop_rec::kSize).records) {
        sourceKeys.insert(NameKey(Field(r, shop_rec::kShopName)));
      }
    }
    int32_t renamed = 0;
    for (const Bytes& r : shops.records) {
      const std::string key = NameKey(Field(r, shop_rec::kShopName));
      EXPECT_TRUE(shopKeys.insert(key).second) << "shop name repeats: " << Field(r, shop_rec::kShopName);
      EXPECT_TRUE(chars.count(NameKey(Field(r, shop_rec::kOwner)))) << Field(r, shop_rec::kOwner);
      renamed += sourceKeys.count(key) ? 0 : 1;
    }
    EXPECT_GT(renamed, 0) << "no slave shop was renamed";

    int32_t ordinary = itemNumber, extended = itemNumberEx;
    for (const Bytes& r : items.records) {
      EXPECT_TRUE(shopKeys.count(NameKey(Field(r, shop_item_rec::kShopName)))) << Field(r, shop_item_rec::kShopName);
      EXPECT_TRUE(chars.count(NameKey(Field(r, shop_item_rec::kOwner)))) << Field(r, shop_item_rec::kOwner);
      const int32_t serial = LoadInt32LE(r.data() + shop_item_rec::kSerial);
      ASSERT_EQ(serial, serial >= kItemNumberExMin ? ++extended : ++ordinary);
    }
    EXPECT_GT(extended, itemNumberEx);
    EXPECT_EQ(ctx.ItemNumber, ordinary);
    EXPECT_EQ(ctx.ItemNumberEx, extended);
  }
}

}  // namespace
}  // namespace razere
