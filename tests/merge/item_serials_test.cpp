#include "merge/item_serials.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/db_test_util.h"
#include "dbfiles/records.h"

namespace razere {
namespace {

using testing::Bytes;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct CounterCase {
  int32_t before;
  int32_t expected;
};

class NextItemNumberTest : public ::testing::TestWithParam<CounterCase> {};
TEST_P(NextItemNumberTest, AdvancesAndWraps) {
  RunContext ctx;
  ctx.ItemNumber = GetParam().before;
  EXPECT_EQ(NextItemNumber(ctx), GetParam().expected);
  EXPECT_EQ(ctx.ItemNumber, GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, NextItemNumberTest,
                         ::testing::Values(CounterCase{0, 1}, CounterCase{41, 42},
                                           CounterCase{0x3FFFFFFD, 0x3FFFFFFE}, CounterCase{0x3FFFFFFE, 1},
                                           CounterCase{std::numeric_limits<int32_t>::max(), 1}));

class NextItemNumberExTest : public ::testing::TestWithParam<CounterCase> {};
TEST_P(NextItemNumberExTest, StaysInExtendedRange) {
  RunContext ctx;
  ctx.ItemNumberEx = GetParam().before;
  EXPECT_EQ(NextItemNumberEx(ctx), GetParam().expected);
  EXPECT_EQ(ctx.ItemNumberEx, GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, NextItemNumberExTest,
                         ::testing::Values(CounterCase{0x3FFFFFFE, 0x3FFFFFFF}, CounterCase{0x3FFFFFFF, 0x40000000},
                                           CounterCase{0x7FFFFFFD, 0x7FFFFFFE}, CounterCase{0x7FFFFFFE, 0x3FFFFFFF},
                                           CounterCase{0, 0x3FFFFFFF},
                                           CounterCase{std::numeric_limits<int32_t>::max(), 0x3FFFFFFF},
                                           CounterCase{std::numeric_limits<int32_t>::min(), 0x3FFFFFFF}));

Bytes Item(int32_t serial, uint16_t kind) {
  Bytes item(item_rec::kSize, 0xEE);
  SetItemSerial(item.data(), serial);
  StoreUint16LE(item.data() + item_rec::kKind, kind);
  return item;
}

class RenumberTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetItemNumbers(ctx); }

  int32_t Renumber(int32_t serial, bool master = true, uint16_t kind = 1) {
    Bytes item = Item(serial, kind);
    const Bytes before = item;
    RenumberItem(ctx, item.data(), master);
    // Only the serial may change.
    EXPECT_TRUE(std::equal(item.begin() + 4, item.end(), before.begin() + 4));
    return ItemSerial(item.data());
  }

  RunContext ctx;
};

TEST_F(RenumberTest, ResetSetsStartValuesAndFreshMaps) {
  ctx.ItemNumber = 77;
  ctx.MasterItemSerials->Add(1, 2);
  ResetItemNumbers(ctx);
  EXPECT_EQ(ctx.ItemNumber, 0);
  EXPECT_EQ(ctx.ItemNumberEx, 0x3FFFFFFE);
  EXPECT_EQ(ctx.MasterItemSerials->Count(), 0);
  EXPECT_EQ(ctx.SlaveItemSerials->Count(), 0);
}

TEST_F(RenumberTest, RangesAndFirstSerials) {
  EXPECT_EQ(Renumber(1500000000), 0x3FFFFFFF);
  EXPECT_EQ(Renumber(12345), 1);
  EXPECT_EQ(Renumber(0x3FFFFFFF), 0x40000000);   // the bottom of the extended range
  EXPECT_EQ(Renumber(0x3FFFFFFE), 2);            // the top of the ordinary range
  EXPECT_EQ(Renumber(std::numeric_limits<int32_t>::min()), 3);
  EXPECT_EQ(*ctx.MasterItemSerials->Find("1500000000"), 0x3FFFFFFF);
  EXPECT_EQ(*ctx.MasterItemSerials->Find("12345"), 1);
  EXPECT_EQ(*ctx.MasterItemSerials->Find("-2147483648"), 3);
  EXPECT_EQ(ctx.SlaveItemSerials->Count(), 0);
}

TEST_F(RenumberTest, ZeroAndNegativeAreOrdinaryWithPlainDecimalKeys) {
  EXPECT_EQ(Renumber(0), 1);
  EXPECT_EQ(Renumber(-7), 2);
  EXPECT_TRUE(ctx.MasterItemSerials->Exists("0"));
  EXPECT_TRUE(ctx.MasterItemSerials->Exists("-7"));
  EXPECT_TRUE(ctx.MasterItemSerials->Exists(-7));
  EXPECT_FALSE(ctx.MasterItemSerials->Exists("-07"));
  EXPECT_FALSE(ctx.MasterItemSerials->Exists("+0"));
  EXPECT_EQ(*ctx.MasterItemSerials->Find(-7), 2);
}

TEST_F(RenumberTest, EmptySlotUntouched) {
  EXPECT_EQ(Renumber(55, true, 0), 55);
  EXPECT_EQ(ctx.MasterItemSerials->Count(), 0);
  EXPECT_EQ(ctx.ItemNumber, 0);
  EXPECT_EQ(ctx.ItemNumberEx, 0x3FFFFFFE);
}

TEST_F(RenumberTest, SidesKeepSeparateMaps) {
  EXPECT_EQ(Renumber(100, true), 1);
  EXPECT_EQ(Renumber(100, false), 2);
  EXPECT_EQ(*ctx.MasterItemSerials->Find("100"), 1);
  EXPECT_EQ(*ctx.SlaveItemSerials->Find("100"), 2);
}

TEST_F(RenumberTest, DuplicateOldSerialFindsLastValue) {
  Renumber(9);
  Renumber(9);
  EXPECT_EQ(ctx.MasterItemSerials->Count(), 2);
  EXPECT_EQ(*ctx.MasterItemSerials->Find(9), 2);
}

TEST_F(RenumberTest, CountersWrap) {
  ctx.ItemNumber = 0x3FFFFFFE;
  ctx.ItemNumberEx = 0x7FFFFFFE;
  EXPECT_EQ(Renumber(5), 1);
  EXPECT_EQ(Renumber(0x50000000), 0x3FFFFFFF);
}

TEST(Renumber, WithoutMapsIsAnError) {
  RunContext ctx;
  Bytes item = Item(1, 1);
  EXPECT_THROW(RenumberItem(ctx, item.data(), true), std::logic_error);
}

// One occupied element: where it is and what its serials are.
struct Placed {
  size_t offset;  // of the element in the record
  int32_t oldSerial;
  int32_t expectedNew;
};

size_t CharItem(size_t array, uint32_t index) {
  return chardata_rec::kItemArrays[array].offset + index * item_rec::kSize;
}
size_t HeroItem(size_t block, size_t array, uint32_t index) {
  return hero_rec::kBlocks[block] + hero_rec::kBlockItemArrays[array].offset + index * item_rec::kSize;
}

void Place(Bytes& rec, const std::vector<Placed>& items) {
  for (const Placed& p : items) {
    SetItemSerial(rec.data() + p.offset, p.oldSerial);
    StoreUint16LE(rec.data() + p.offset + item_rec::kKind, 3);
  }
}

void ExpectSerials(const Bytes& rec, const std::vector<Placed>& items) {
  for (const Placed& p : items) {
    EXPECT_EQ(ItemSerial(rec.data() + p.offset), p.expectedNew) << "element at " << p.offset;
  }
}

TEST_F(RenumberTest, CharacterDataArrayOrder) {
  Bytes rec(chardata_rec::kSize, 0);
  // Arrays are indexed 0..9 for C1..C10. Expected: C2, C3, C1, C6..C10, C4, C5.
  const std::vector<Placed> items = {
      {CharItem(0, 0), 500, 3},          // C1 first
      {CharItem(0, 205), 0x40000000, 0x40000000},  // C1 last, extended (second extended)
      {CharItem(1, 0), 0x7FFFFFFF, 0x3FFFFFFF},    // C2 first: the first serial given out
      {CharItem(1, 1), 10, 1},
      {CharItem(2, 3), 11, 2},           // C3 last
      {CharItem(3, 0), 12, 7},           // C4
      {CharItem(4, 5), 13, 8},           // C5 last element of the record
      {CharItem(5, 0), 14, 4},           // C6
      {CharItem(6, 47), 15, 5},          // C7
      {CharItem(9, 47), 16, 6},          // C10
  };
  // A nonzero serial in an empty slot stays.
  SetItemSerial(rec.data() + CharItem(8, 0), 99);
  Place(rec, items);
  RenumberCharDataItems(ctx, std::span<uint8_t>(rec), false);
  ExpectSerials(rec, items);
  EXPECT_EQ(ItemSerial(rec.data() + CharItem(8, 0)), 99);
  EXPECT_EQ(ctx.SlaveItemSerials->Count(), static_cast<int32_t>(items.size()));
  EXPECT_EQ(ctx.MasterItemSerials->Count(), 0);
  EXPECT_EQ(*ctx.SlaveItemSerials->Find(2147483647), 0x3FFFFFFF);
}

TEST_F(RenumberTest, HeroBlocksAndArrayOrder) {
  Bytes rec(hero_rec::kSize, 0);
  // Arrays 0..4 are B1..B5; per block the order is B2, B3, B1, B4, B5.
  const std::vector<Placed> items = {
      {HeroItem(0, 0, 0), 1, 3},           // H1 B1
      {HeroItem(0, 1, 28), 2, 1},          // H1 B2 last
      {HeroItem(0, 2, 0), 3, 2},           // H1 B3
      {HeroItem(0, 4, 5), 4, 4},           // H1 B5 last
      {HeroItem(1, 3, 11), 2000000000, 0x3FFFFFFF},  // H2 B4 last, extended
      {HeroItem(1, 0, 39), 5, 5},          // H2 B1 last
      {HeroItem(2, 1, 0), 6, 6},           // H3 B2
      {HeroItem(2, 4, 5), 7, 7},           // H3 B5: last element of the record
  };
  Place(rec, items);
  RenumberHeroItems(ctx, rec.data(), true);
  ExpectSerials(rec, items);
  EXPECT_EQ(ctx.MasterItemSerials->Count(), static_cast<int32_t>(items.size()));
}

TEST_F(RenumberTest, ShortRecordRefused) {
  Bytes rec(hero_rec::kSize - 1, 0);
  EXPECT_THROW(RenumberHeroItems(ctx, std::span<uint8_t>(rec), true), std::out_of_range);
  Bytes chr(chardata_rec::kSize - 1, 0);
  EXPECT_THROW(RenumberCharDataItems(ctx, std::span<uint8_t>(chr), true), std::out_of_range);
}

// ---------------------------------------------------------------------------

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes Raw(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---------------------------------------------------------------------------
// The serial map itself
// ---------------------------------------------------------------------------

TEST(ItemSerialMap, TextFindsOnlyTheDecimalTextOfTheKey) {
  ItemSerialMap map;
  const int32_t kMin = std::numeric_limits<int32_t>::min(), kMax = std::numeric_limits<int32_t>::max();
  const std::set<int32_t> added = {0, 7, -7, 100, kItemNumberExMin, kMin, kMax};
  for (int32_t old : added) map.Add(old, old == kMin ? 1 : old / 2 + 3);
  struct Case {
    const char* text;
    std::optional<int32_t> key;  // the serial whose key the text is, or none
  };
  const std::vector<Case> cases = {
      {"0", 0},           {"7", 7},           {"-7", -7},
      {"100", 100},       {"1073741823", kItemNumberExMin},
      {"-2147483648", kMin}, {"2147483647", kMax},
      {"8", 8},  // a key, but of no entry
      {"-0", {}},         {"00", {}},         {"07", {}},         {"-07", {}},
      {"+7", {}},         {" 7", {}},         {"7 ", {}},         {"", {}},
      {"-", {}},          {"7a", {}},         {"0x7", {}},        {"1e2", {}},
      {"2147483648", {}}, {"-2147483649", {}}, {"4294967303", {}},  // 2^32 + 7 must not wrap to 7
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseSerialKey(c.text), c.key);
    const bool present = c.key && added.count(*c.key);
    EXPECT_EQ(map.Exists(c.text), present);
    const int32_t* found = map.Find(c.text);
    ASSERT_EQ(found != nullptr, present);
    if (found) {
      EXPECT_EQ(*found, *c.key == kMin ? 1 : *c.key / 2 + 3);
    }
  }
}

// Adds and look-ups interleaved over several blocks, with repeated keys whose
// later values are smaller, checked against a plain map where the last
// addition wins.
TEST(ItemSerialMap, RepeatsFindTheValueAddedLastAcrossBlocksAndLookUps) {
  ItemSerialMap map;
  std::map<int32_t, int32_t> model;
  uint32_t rng = 12345;
  auto next = [&rng] { return rng = rng * 1664525u + 1013904223u; };
  const int64_t kAdds = 3 * static_cast<int64_t>(CompactInt32Map::kBlockEntries) + 777;
  int32_t value = 2000000000;
  for (int64_t i = 0; i < kAdds; ++i) {
    // Keys from a small range repeat often, within a block and across blocks.
    const uint32_t r = next();
    const int32_t key = (r & 1) ? static_cast<int32_t>(r >> 16) - 30000 : static_cast<int32_t>(r);
    map.Add(key, --value);
    model[key] = value;
    if (i % 5003 == 0 || (i > kAdds - 100 && i % 3 == 0)) {
      for (int probe = 0; probe < 40; ++probe) {
        const int32_t k = static_cast<int32_t>(next() >> 16) - 30000;
        const auto it = model.find(k);
        const int32_t* got = map.Find(k);
        ASSERT_EQ(got != nullptr, it != model.end()) << "key " << k << " after " << i;
        if (got) {
          ASSERT_EQ(*got, it->second) << "key " << k << " after " << i;
        }
      }
    }
  }
  EXPECT_EQ(map.Count(), kAdds);
  for (const auto& [k, v] : model) {
    const int32_t* got = map.Find(k);
    ASSERT_NE(got, nullptr) << k;
    ASSERT_EQ(*got, v) << k;
  }
  int64_t visited = 0;
  map.ForEach([&](int32_t k, int32_t) {
    ++visited;
    ASSERT_TRUE(model.count(k));
  });
  EXPECT_EQ(visited, kAdds);
  // At most 8 bytes an entry, plus one block not yet full and the block table.
  EXPECT_LE(map.MemoryBytes(), static_cast<size_t>(kAdds) * 8 + CompactInt32Map::kBlockEntries * 8 + 4096);
}

// Full blocks are packed in as many bits as their largest key step and value
// spread need: from none (one key, one value) to all 64 (the extremes of both
// in one block). Each case fills two blocks and a part of a third and must
// give back exactly what a plain map of the last additions holds, every pair
// added to ForEach, and no more memory than its bits plus the tail.
struct PackedCase {
  const char* name;
  int32_t (*key)(int64_t i);
  int32_t (*value)(int64_t i);
  double maxBytesPerPair;  // of the full blocks
};

class PackedBlocksTest : public ::testing::TestWithParam<PackedCase> {};

TEST_P(PackedBlocksTest, GiveBackTheLastValueOfEveryKey) {
  const PackedCase& c = GetParam();
  const int64_t kAdds = 2 * static_cast<int64_t>(CompactInt32Map::kBlockEntries) + 4321;
  ItemSerialMap map;
  std::map<int32_t, int32_t> model;
  std::map<std::pair<int32_t, int32_t>, int64_t> added;
  for (int64_t i = 0; i < kAdds; ++i) {
    map.Add(c.key(i), c.value(i));
    model[c.key(i)] = c.value(i);
    ++added[{c.key(i), c.value(i)}];
  }
  for (const auto& [k, v] : model) {
    const int32_t* got = map.Find(k);
    ASSERT_NE(got, nullptr) << c.name << " key " << k;
    ASSERT_EQ(*got, v) << c.name << " key " << k;
  }
  for (const int32_t absent : {INT32_MIN, -1, 0, 1, INT32_MAX}) {
    EXPECT_EQ(map.Find(absent) != nullptr, model.count(absent) == 1) << c.name << " key " << absent;
  }
  map.ForEach([&](int32_t k, int32_t v) { --added[{k, v}]; });
  for (const auto& [pair, left] : added) ASSERT_EQ(left, 0) << c.name << " pair " << pair.first << "," << pair.second;
  const double fullPairs = 2.0 * CompactInt32Map::kBlockEntries;
  EXPECT_LE(static_cast<double>(map.MemoryBytes()),
            fullPairs * c.maxBytesPerPair + CompactInt32Map::kBlockEntries * 8 + 4096)
      << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackedBlocksTest,
    ::testing::Values(
        // Old serials given out in sequence, new ones too: a bit or two each.
        PackedCase{"Sequential", [](int64_t i) { return static_cast<int32_t>(i + 1000); },
                   [](int64_t i) { return static_cast<int32_t>(i + 1); }, 2.6},
        // The same, added in reverse and with every key twice (last wins).
        PackedCase{"RepeatedDescending", [](int64_t i) { return static_cast<int32_t>(-(i / 2)); },
                   [](int64_t i) { return static_cast<int32_t>(i * 3); }, 3.6},
        // One key, one value: no bits at all, only the group headers.
        PackedCase{"OneKeyOneValue", [](int64_t) { return 7; }, [](int64_t) { return -7; }, 0.3},
        // The extremes of both ranges in every block: kept as plain pairs.
        PackedCase{"Extremes",
                   [](int64_t i) {
                     return i % 3 == 0 ? INT32_MIN : i % 3 == 1 ? INT32_MAX : static_cast<int32_t>(i * 40503);
                   },
                   [](int64_t i) { return i % 2 ? INT32_MIN + static_cast<int32_t>(i) : INT32_MAX - static_cast<int32_t>(i); },
                   8.0}),
    [](const ::testing::TestParamInfo<PackedCase>& info) { return std::string(info.param.name); });

TEST(WriteItemNumbers, ChangesOnlyTheTwoValues) {
  TempDir dir;
  const auto file = dir / "!Setup.txt";
  // GBK comment and value, an LF-only line, a blank line, no final line break.
  const std::string head =
      "; \xD6\xD0\xCE\xC4 settings\r\n"
      "[Setup]\r\n"
      "ServerName=\xB2\xE2\xCA\xD4\r\n"
      "ItemNumber=";
  const std::string mid = "\r\nDBName=Heroes\r\nItemNumberEx=";
  const std::string tail = "\r\n\r\n[Guild]\nGuildDir=x\r\n[WebService]\r\nKey=abc";
  WriteFile(file, Raw(head + "5" + mid + "1073741900" + tail));
  WriteItemNumbers(file, 123456, 1073741822);
  EXPECT_EQ(Text(ReadFile(file)), head + "123456" + mid + "1073741822" + tail);
}

TEST(WriteItemNumbers, AddsMissingKeysToSetup) {
  TempDir dir;
  const auto file = dir / "!Setup.txt";
  const std::string setup = "[Setup]\r\nServerName=s\r\n";
  const std::string rest = "\r\n[Guild]\r\nGuildDir=x\r\n";
  WriteFile(file, Raw(setup + rest));
  WriteItemNumbers(file, 7, 1073741823);
  EXPECT_EQ(Text(ReadFile(file)), setup + "ItemNumber=7\r\nItemNumberEx=1073741823\r\n" + rest);
}

TEST(WriteItemNumbers, ReadOnlyFileIsAnErrorAndStaysUnchanged) {
  TempDir dir;
  const auto file = dir / "!Setup.txt";
  const Bytes original = Raw("[Setup]\r\nItemNumber=5\r\n");
  WriteFile(file, original);
  std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  EXPECT_THROW(WriteItemNumbers(file, 1, 2), std::runtime_error);
  EXPECT_EQ(ReadFile(file), original);
}

TEST(WriteItemNumbers, UnwritablePathIsAnError) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  EXPECT_THROW(WriteItemNumbers(dir / "folder", 1, 2), std::runtime_error);
  EXPECT_THROW(WriteItemNumbers(dir / "missing" / "!Setup.txt", 1, 2), std::runtime_error);
}

}  // namespace
}  // namespace razere
