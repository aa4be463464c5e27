#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <stdexcept>

#include "dbfiles/db_test_util.h"
#include "dbfiles/records.h"

namespace razere {
namespace {

using testing::Bytes;
using testing::MakeRecord;
using testing::NameAtOffset;

// ---------------------------------------------------------------- name fields

TEST(NameField, LengthAboveCapacityReadsThirtyBytes) {
  uint8_t field[name_field::kSize + 4];
  std::fill(std::begin(field), std::end(field), uint8_t{'z'});
  for (uint8_t len : {uint8_t{31}, uint8_t{200}, uint8_t{255}}) {
    field[0] = len;
    EXPECT_EQ(ReadNameField(field), std::string(30, 'z')) << int(len);
  }
}

TEST(NameField, KeepsGbkBytesAsTheyAre) {
  uint8_t field[name_field::kSize] = {4, 0xC0, 0xEE, 0x41, 0x80};
  EXPECT_EQ(ReadNameField(field), std::string("\xC0\xEE\x41\x80"));
}

TEST(NameField, WriteKeepsBytesAfterTheText) {
  uint8_t field[name_field::kSize + 1];
  std::fill(std::begin(field), std::end(field), uint8_t{0xAA});
  WriteNameField(field, "abc");
  EXPECT_EQ(field[0], 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(field + 1), 3), "abc");
  for (size_t i = 4; i < sizeof field; ++i) EXPECT_EQ(field[i], 0xAA) << i;
}

TEST(NameField, WriteCutsAtCapacityAndStaysInsideTheField) {
  uint8_t field[name_field::kSize + 1];
  std::fill(std::begin(field), std::end(field), uint8_t{0xAA});
  WriteNameField(field, std::string(40, 'q'));
  EXPECT_EQ(field[0], 30);
  EXPECT_EQ(ReadNameField(field), std::string(30, 'q'));
  EXPECT_EQ(field[name_field::kSize], 0xAA);  // the byte after the field
}

TEST(NameField, EmptyWritesZeroLength) {
  uint8_t field[name_field::kSize] = {5, 'h', 'e', 'l', 'l', 'o'};
  WriteNameField(field, "");
  EXPECT_TRUE(NameFieldEmpty(field));
  EXPECT_EQ(field[1], 'h');
}

TEST(NameField, InlineNameCutsToTheFieldCapacity) {
  EXPECT_EQ(InlineName(std::string(40, 'q')).View(), std::string(30, 'q'));
  uint8_t field[name_field::kSize] = {200};
  std::fill(field + 1, field + name_field::kSize, static_cast<uint8_t>('k'));
  EXPECT_EQ(InlineName(NameFieldView(field)).View(), std::string(30, 'k'));
  EXPECT_TRUE(InlineName().Empty());
}

// ---------------------------------------------------------------- layout

// The offsets every installation's files have; an edit of db_format.h that
// moves one shows here.
TEST(Layout, NameSlotsAndKindTable) {
  struct Case {
    const char* label;
    NameSlot slot;
    uint32_t field, key, present;
  };
  const Case cases[] = {
      {"account name", account_rec::kSlots[account_rec::kNameSlot], 51, 20, kNoField},
      {"index name", index_rec::kSlots[index_rec::kNameSlot], 52, 21, kNoField},
      {"index account", index_rec::kSlots[index_rec::kAccountSlot], 83, kNoField, kNoField},
      {"data account", chardata_rec::kSlots[chardata_rec::kAccountSlot], 365, kNoField, kNoField},
      {"data name", chardata_rec::kSlots[chardata_rec::kNameSlot], 52, 21, kNoField},
      {"data link 1", chardata_rec::kSlots[chardata_rec::kLink1Slot], 209, kNoField, kNoField},
      {"data link 2", chardata_rec::kSlots[chardata_rec::kLink2Slot], 240, kNoField, kNoField},
      {"data link 3", chardata_rec::kSlots[chardata_rec::kLink3Slot], 427, kNoField, kNoField},
      {"data link 4", chardata_rec::kSlots[chardata_rec::kLink4Slot], 458, kNoField, kNoField},
      {"data link 5", chardata_rec::kSlots[chardata_rec::kLink5Slot], 694, kNoField, 688},
      {"hero account", hero_rec::kSlots[hero_rec::kAccountSlot], 311, kNoField, kNoField},
      {"hero name", hero_rec::kSlots[hero_rec::kNameSlot], 52, 21, kNoField},
      {"hero link", hero_rec::kSlots[hero_rec::kLinkSlot], 209, kNoField, kNoField},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.slot.field, c.field);
    EXPECT_EQ(c.slot.key, c.key);
    EXPECT_EQ(c.slot.present, c.present);
  }
  const uint32_t sizes[] = {373, 132, 580591, 293477};
  const uint32_t deleted[] = {0, 4, 4, 4};
  for (size_t i = 0; i < kDbKinds.size(); ++i) {
    EXPECT_EQ(kDbKinds[i].recordSize, sizes[i]) << kDbKinds[i].fileName;
    EXPECT_EQ(kDbKinds[i].deletedFlag, deleted[i]) << kDbKinds[i].fileName;
  }
  EXPECT_EQ(chardata_rec::kLastLogin, 13u);
  EXPECT_EQ(chardata_rec::kLevel, 126u);
  EXPECT_EQ(chardata_rec::kRoleId, 646u);
  EXPECT_EQ(index_rec::kHeroFlag, 115u);
}

// ---------------------------------------------------------------- reading

TEST(ParseRecords, Account) {
  Bytes rec = MakeRecord(DbKind::ID, "acc1");
  AccountEntry e = ParseAccountRecord(rec.data(), rec.size(), kSideMaster, 497);
  EXPECT_EQ(e.side, kSideMaster);
  EXPECT_EQ(e.offset, 497);
  EXPECT_EQ(e.name, "acc1");
  EXPECT_TRUE(e.newName.empty());
}

TEST(ParseRecords, CharIndex) {
  Bytes rec = testing::MakeIndexRecord("Lee", "acc", 3);
  CharIndexEntry e = ParseCharIndexRecord(rec.data(), rec.size(), kSideSlave, 124);
  EXPECT_EQ(e.name, "Lee");
  EXPECT_EQ(e.account, "acc");
  EXPECT_EQ(e.heroFlag, 3);
  EXPECT_EQ(e.roleId, 0);
}

Bytes CharDataWithLinks(uint8_t link5Present) {
  Bytes rec = MakeRecord(DbKind::Qel, "Lee");
  WriteNameField(rec.data() + chardata_rec::kAccount, "acc");
  const char* links[5] = {"l1", "l2", "l3", "l4", "l5"};
  for (size_t k = 0; k < 5; ++k) WriteNameField(rec.data() + chardata_rec::kLinks[k], links[k]);
  rec[chardata_rec::kLink5Present] = link5Present;
  StoreInt32LE(rec.data() + chardata_rec::kRoleId, 5);
  return rec;
}

std::array<std::string, 5> LinksOf(const CharDataItem& e) {
  std::array<std::string, 5> out;
  for (size_t k = 0; k < 5; ++k) out[k] = e.links[k].Str();
  return out;
}

TEST(ParseRecords, CharDataReadsWithinTheReadPrefix) {
  Bytes rec = CharDataWithLinks(1);
  CharDataItem e = ParseCharDataRecord(rec.data(), KindInfo(DbKind::Qel).readPrefix, kSideMaster, 124);
  EXPECT_EQ(e.side, kSideMaster);
  EXPECT_EQ(e.offset, 124);
  EXPECT_EQ(e.name.View(), "Lee");
  EXPECT_EQ(e.account.View(), "acc");
  EXPECT_EQ(LinksOf(e), (std::array<std::string, 5>{"l1", "l2", "l3", "l4", "l5"}));
  EXPECT_EQ(e.roleId, 5);
  EXPECT_EQ(e.dangling, (std::array<uint8_t, 5>{}));
  EXPECT_EQ(e.newNames, (NewNames<chardata_rec::kSlotCount>{}));
}

TEST(ParseRecords, LinkFiveOnlyWhenPresentByteIsOne) {
  for (uint8_t present : {uint8_t{0}, uint8_t{2}, uint8_t{255}}) {
    Bytes rec = CharDataWithLinks(present);
    CharDataItem e = ParseCharDataRecord(rec.data(), rec.size(), kSideMaster, 124);
    EXPECT_EQ(e.links[4].View(), "") << int(present);
    EXPECT_EQ(e.links[3].View(), "l4");
  }
}

TEST(ParseRecords, FieldsBeyondTheBytesGivenReadAsEmpty) {
  Bytes rec = CharDataWithLinks(1);
  CharDataItem e = ParseCharDataRecord(rec.data(), 300, kSideMaster, 124);
  EXPECT_EQ(e.name.View(), "Lee");
  EXPECT_EQ(e.links[1].View(), "l2");
  EXPECT_EQ(e.account.View(), "");
  EXPECT_EQ(e.links[4].View(), "");
  EXPECT_EQ(e.roleId, 0);
  EXPECT_EQ(CharDataLevel(rec.data(), 100), 0u);
  // A name field that ends one byte beyond n, and a present byte beyond n.
  const NameSlot& link1 = chardata_rec::kSlots[chardata_rec::kLink1Slot];
  EXPECT_EQ(ReadName(rec.data(), link1.field + name_field::kSize - 1, link1), "");
  EXPECT_EQ(ReadName(rec.data(), link1.field + name_field::kSize, link1), "l1");
  const NameSlot& link5 = chardata_rec::kSlots[chardata_rec::kLink5Slot];
  EXPECT_EQ(ReadName(rec.data(), link5.present, link5), "");
}

TEST(ParseRecords, LevelIsUnsigned) {
  Bytes rec = MakeRecord(DbKind::Qel, "x");
  StoreUint32LE(rec.data() + chardata_rec::kLevel, 0xFFFFFFFFu);
  EXPECT_EQ(CharDataLevel(rec.data(), rec.size()), 4294967295u);
}

TEST(ParseRecords, LastLogin) {
  Bytes rec = MakeRecord(DbKind::Qel, "x");
  StoreDoubleLE(rec.data() + chardata_rec::kLastLogin, 45000.75);
  EXPECT_EQ(CharDataLastLogin(rec.data(), rec.size()), 45000.75);
}

TEST(ParseRecords, Hero) {
  Bytes rec = MakeRecord(DbKind::HeroQel, "Hero");
  WriteNameField(rec.data() + hero_rec::kAccount, "acc");
  WriteNameField(rec.data() + hero_rec::kLink, "Lee");
  HeroDataItem e = ParseHeroDataRecord(rec.data(), KindInfo(DbKind::HeroQel).readPrefix, kSideSlave, 9);
  EXPECT_EQ(e.side, kSideSlave);
  EXPECT_EQ(e.offset, 9);
  EXPECT_EQ(e.name.View(), "Hero");
  EXPECT_EQ(e.account.View(), "acc");
  EXPECT_EQ(e.links[0].View(), "Lee");
}

// ---------------------------------------------------------------- patches

// Every slot of every kind, patched alone: the new name goes into exactly
// its field and its record key, the bytes after the new text stay, and
// nothing else changes (the present byte of linked name 5 included).
TEST(Patches, EachSlotWritesItsFieldAndKeyOnly) {
  struct Slots {
    DbKind kind;
    std::vector<NameSlot> slots;
  };
  const Slots kinds[] = {
      {DbKind::ID, {account_rec::kSlots.begin(), account_rec::kSlots.end()}},
      {DbKind::Hum, {index_rec::kSlots.begin(), index_rec::kSlots.end()}},
      {DbKind::Qel, {chardata_rec::kSlots.begin(), chardata_rec::kSlots.end()}},
      {DbKind::HeroQel, {hero_rec::kSlots.begin(), hero_rec::kSlots.end()}},
  };
  for (const Slots& k : kinds) {
    for (size_t i = 0; i < k.slots.size(); ++i) {
      SCOPED_TRACE(std::string(KindInfo(k.kind).fileName) + " slot " + std::to_string(i));
      const NameSlot& slot = k.slots[i];
      // Every byte distinct-ish and nonzero, so any stray write shows.
      Bytes rec(KindInfo(k.kind).recordSize);
      for (size_t b = 0; b < rec.size(); ++b) rec[b] = static_cast<uint8_t>(b * 7 + 1);
      std::vector<size_t> fields = {slot.field};
      if (slot.key != kNoField) fields.push_back(slot.key);
      for (size_t f : fields) rec[f] = 20;  // an old name of 20 bytes
      const Bytes before = rec;

      PatchName(rec, k.kind, slot, "Leea");

      Bytes expected = before;
      for (size_t f : fields) {
        expected[f] = 4;
        std::copy_n("Leea", 4, expected.begin() + static_cast<long>(f) + 1);
      }
      EXPECT_TRUE(rec == expected);
      for (size_t f : fields) EXPECT_EQ(NameAtOffset(rec, f), "Leea");
    }
  }
}

TEST(Patches, TableWritesOnlyTheGivenNames) {
  Bytes rec = CharDataWithLinks(1);
  const std::string newName = "Leea", link2 = "l2b", link5 = "l5b";
  NewNames<chardata_rec::kSlotCount> names{};
  names[chardata_rec::kNameSlot] = &newName;
  names[chardata_rec::kLink2Slot] = &link2;
  names[chardata_rec::kLink5Slot] = &link5;
  PatchNames(rec, DbKind::Qel, chardata_rec::kSlots, names);
  const CharDataItem e = ParseCharDataRecord(rec.data(), rec.size(), kSideSlave, 0);
  EXPECT_EQ(NameAtOffset(rec, chardata_rec::kKey), "Leea");
  EXPECT_EQ(e.name.View(), "Leea");
  EXPECT_EQ(e.account.View(), "acc");
  EXPECT_EQ(LinksOf(e), (std::array<std::string, 5>{"l1", "l2b", "l3", "l4", "l5b"}));
  EXPECT_EQ(rec[chardata_rec::kLink5Present], 1);

  Bytes hero = MakeRecord(DbKind::HeroQel, "H");
  const std::string account = "acc2";
  PatchNames(hero, DbKind::HeroQel, hero_rec::kSlots, {&account, nullptr, nullptr});
  const HeroDataItem h = ParseHeroDataRecord(hero.data(), hero.size(), kSideSlave, 0);
  EXPECT_EQ(h.account.View(), "acc2");
  EXPECT_EQ(h.name.View(), "H");
  EXPECT_EQ(NameAtOffset(hero, hero_rec::kKey), "H");
}

TEST(Patches, RejectRecordsShorterThanTheKinds) {
  Bytes small(100);
  EXPECT_THROW(PatchAccountName(small, "a"), std::out_of_range);
  EXPECT_THROW(PatchName(small, DbKind::HeroQel, hero_rec::kSlots[hero_rec::kNameSlot], "a"), std::out_of_range);
  Bytes almost(chardata_rec::kSize - 1);
  const std::string name = "a";
  EXPECT_THROW(PatchNames(almost, DbKind::Qel, chardata_rec::kSlots, {&name}), std::out_of_range);
}

// ---------------------------------------------------------------- items

// Offsets of the visited elements, relative to the record.
template <class ForEach>
std::vector<size_t> VisitedOffsets(DbKind kind, ItemOrder order, ForEach forEach) {
  Bytes rec(KindInfo(kind).recordSize);
  std::vector<size_t> out;
  forEach(std::span<uint8_t>(rec), order, [&](uint8_t* item) { out.push_back(static_cast<size_t>(item - rec.data())); });
  return out;
}

std::vector<size_t> Elements(size_t offset, size_t count) {
  std::vector<size_t> v;
  for (size_t i = 0; i < count; ++i) v.push_back(offset + i * item_rec::kSize);
  return v;
}

void Append(std::vector<size_t>& to, const std::vector<size_t>& more) { to.insert(to.end(), more.begin(), more.end()); }

TEST(Items, CharDataLayoutOrderCoversTheRecordTail) {
  auto seen = VisitedOffsets(DbKind::Qel, ItemOrder::Layout,
                             [](auto r, auto o, auto v) { ForEachCharDataItem(r, o, v); });
  EXPECT_EQ(seen, Elements(55759, 497));
  EXPECT_EQ(seen.back() + item_rec::kSize, chardata_rec::kSize);
}

TEST(Items, CharDataRenumberOrder) {
  auto seen = VisitedOffsets(DbKind::Qel, ItemOrder::Renumber,
                             [](auto r, auto o, auto v) { ForEachCharDataItem(r, o, v); });
  std::vector<size_t> expected;
  Append(expected, Elements(273295, 29));   // C2
  Append(expected, Elements(303919, 4));    // C3
  Append(expected, Elements(55759, 206));   // C1
  Append(expected, Elements(327151, 48 * 5));  // C6..C10
  Append(expected, Elements(308143, 12));   // C4
  Append(expected, Elements(320815, 6));    // C5
  EXPECT_EQ(seen, expected);
}

TEST(Items, HeroBlocksInBothOrders) {
  auto layout = VisitedOffsets(DbKind::HeroQel, ItemOrder::Layout,
                               [](auto r, auto o, auto v) { ForEachHeroDataItem(r, o, v); });
  auto renumber = VisitedOffsets(DbKind::HeroQel, ItemOrder::Renumber,
                                 [](auto r, auto o, auto v) { ForEachHeroDataItem(r, o, v); });
  std::vector<size_t> expectLayout, expectRenumber;
  for (size_t block : {716u, 98303u, 195890u}) {
    Append(expectLayout, Elements(block + 1491, 91));
    Append(expectRenumber, Elements(block + 43731, 29));  // B2
    Append(expectRenumber, Elements(block + 74355, 4));   // B3
    Append(expectRenumber, Elements(block + 1491, 40));   // B1
    Append(expectRenumber, Elements(block + 78579, 18));  // B4, B5
  }
  EXPECT_EQ(layout, expectLayout);
  EXPECT_EQ(renumber, expectRenumber);
  EXPECT_EQ(layout.size(), 273u);
}

TEST(Items, SerialAndKind) {
  uint8_t item[item_rec::kSize] = {};
  StoreInt32LE(item, 55);
  EXPECT_FALSE(ItemOccupied(item));
  EXPECT_EQ(ItemSerial(item), 55);
  StoreUint16LE(item + item_rec::kKind, 0x8001);
  EXPECT_EQ(ItemKind(item), 0x8001);
  EXPECT_TRUE(ItemOccupied(item));
  SetItemSerial(item, -7);
  EXPECT_EQ(ItemSerial(item), -7);
  EXPECT_EQ(ItemKind(item), 0x8001);
}

TEST(Items, VisitorsRejectShortRecords) {
  Bytes rec(chardata_rec::kSize - 1);
  EXPECT_THROW(ForEachCharDataItem(std::span<uint8_t>(rec), ItemOrder::Layout, [](uint8_t*) {}), std::out_of_range);
  EXPECT_THROW(ForEachHeroDataItem(std::span<uint8_t>(rec.data(), 1000), ItemOrder::Layout, [](uint8_t*) {}),
               std::out_of_range);
}

// A new name is held apart from the entry; copies and moves keep it, and an
// empty one is no name at all.
TEST(SparseText, HoldsItsTextThroughCopiesAndForgetsAnEmptyOne) {
  AccountEntry a;
  EXPECT_TRUE(a.newName.empty());
  EXPECT_EQ(a.newName.str(), "");
  a.newName = "Abca";
  AccountEntry copy = a;
  a.newName = "changed";
  EXPECT_EQ(copy.newName, "Abca");
  AccountEntry moved = std::move(copy);
  EXPECT_EQ(moved.newName, "Abca");
  const SparseText& same = moved.newName;
  moved.newName = same;  // assigning itself keeps it
  EXPECT_EQ(moved.newName, "Abca");
  moved.newName = std::string();
  EXPECT_TRUE(moved.newName.empty());
  EXPECT_EQ(a.newName, "changed");
}

}  // namespace
}  // namespace razere
