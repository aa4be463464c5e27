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

// ---------------------------------------------------------------- parsing

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

TEST(ParseRecords, CharDataReadsWithinTheReadPrefix) {
  Bytes rec = CharDataWithLinks(1);
  CharDataEntry e = ParseCharDataRecord(rec.data(), KindInfo(DbKind::Qel).readPrefix, kSideMaster, 124);
  EXPECT_EQ(e.name, "Lee");
  EXPECT_EQ(e.account, "acc");
  EXPECT_EQ(e.links, (std::array<std::string, 5>{"l1", "l2", "l3", "l4", "l5"}));
  EXPECT_EQ(e.roleId, 5);
  EXPECT_EQ(e.dangling, (std::array<uint8_t, 5>{}));
}

TEST(ParseRecords, LinkFiveOnlyWhenPresentByteIsOne) {
  for (uint8_t present : {uint8_t{0}, uint8_t{2}, uint8_t{255}}) {
    Bytes rec = CharDataWithLinks(present);
    CharDataEntry e = ParseCharDataRecord(rec.data(), rec.size(), kSideMaster, 124);
    EXPECT_EQ(e.links[4], "") << int(present);
    EXPECT_EQ(e.links[3], "l4");
  }
}

TEST(ParseRecords, FieldsBeyondTheBytesGivenReadAsEmpty) {
  Bytes rec = CharDataWithLinks(1);
  CharDataEntry e = ParseCharDataRecord(rec.data(), 300, kSideMaster, 124);
  EXPECT_EQ(e.name, "Lee");
  EXPECT_EQ(e.links[1], "l2");
  EXPECT_EQ(e.account, "");
  EXPECT_EQ(e.links[4], "");
  EXPECT_EQ(e.roleId, 0);
  EXPECT_EQ(CharDataLevel(rec.data(), 100), 0u);
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
  HeroDataEntry e = ParseHeroDataRecord(rec.data(), KindInfo(DbKind::HeroQel).readPrefix, kSideSlave, 9);
  EXPECT_EQ(e.name, "Hero");
  EXPECT_EQ(e.account, "acc");
  EXPECT_EQ(e.link, "Lee");
}

// ---------------------------------------------------------------- patches

struct PatchCase {
  const char* label;
  DbKind kind;
  std::function<void(std::span<uint8_t>, std::string_view)> patch;
  std::vector<size_t> fields;  // name fields the patch writes
};

// Every patch writes the new name into exactly its fields, keeps the bytes
// after the new text and touches nothing else.
TEST(Patches, WriteTheirFieldsAndKeepTrailingBytes) {
  const std::vector<PatchCase> cases = {
      {"account name", DbKind::ID, PatchAccountName, {20, 51}},
      {"index name", DbKind::Hum, PatchIndexName, {21, 52}},
      {"index account", DbKind::Hum, PatchIndexAccount, {83}},
      {"data account", DbKind::Qel, PatchCharDataAccount, {365}},
      {"data name", DbKind::Qel, PatchCharDataName, {21, 52}},
      {"data link 1", DbKind::Qel, [](auto r, auto n) { PatchCharDataLink(r, 1, n); }, {209}},
      {"data link 2", DbKind::Qel, [](auto r, auto n) { PatchCharDataLink(r, 2, n); }, {240}},
      {"data link 3", DbKind::Qel, [](auto r, auto n) { PatchCharDataLink(r, 3, n); }, {427}},
      {"data link 4", DbKind::Qel, [](auto r, auto n) { PatchCharDataLink(r, 4, n); }, {458}},
      {"data link 5", DbKind::Qel, [](auto r, auto n) { PatchCharDataLink(r, 5, n); }, {694}},
      {"hero account", DbKind::HeroQel, PatchHeroAccount, {311}},
      {"hero name", DbKind::HeroQel, PatchHeroName, {21, 52}},
      {"hero link", DbKind::HeroQel, PatchHeroLink, {209}},
  };
  for (const PatchCase& c : cases) {
    SCOPED_TRACE(c.label);
    // Every byte distinct-ish and nonzero, so any stray write shows.
    Bytes rec(KindInfo(c.kind).recordSize);
    for (size_t i = 0; i < rec.size(); ++i) rec[i] = static_cast<uint8_t>(i * 7 + 1);
    for (size_t f : c.fields) rec[f] = 20;  // an old name of 20 bytes
    Bytes before = rec;

    c.patch(rec, "Leea");

    Bytes expected = before;
    for (size_t f : c.fields) {
      expected[f] = 4;
      std::copy_n("Leea", 4, expected.begin() + static_cast<long>(f) + 1);
    }
    EXPECT_TRUE(rec == expected);
    for (size_t f : c.fields) EXPECT_EQ(NameAtOffset(rec, f), "Leea");
  }
}

TEST(Patches, RejectShortBuffersAndBadLinkNumbers) {
  Bytes small(100);
  EXPECT_THROW(PatchAccountName(small, "a"), std::out_of_range);
  EXPECT_THROW(PatchHeroName(small, "a"), std::out_of_range);
  Bytes rec(chardata_rec::kSize);
  EXPECT_THROW(PatchCharDataLink(rec, 0, "a"), std::out_of_range);
  EXPECT_THROW(PatchCharDataLink(rec, 6, "a"), std::out_of_range);
}

TEST(Patches, ApplyNewValuesWritesOnlyNonEmptyValues) {
  Bytes rec = CharDataWithLinks(1);
  CharDataEntry e = ParseCharDataRecord(rec.data(), rec.size(), kSideSlave, 124);
  e.newName = "Leea";
  e.newLinks[1] = "l2b";
  e.newLinks[4] = "l5b";
  ApplyNewValues(rec, e);
  EXPECT_EQ(NameAtOffset(rec, chardata_rec::kKey), "Leea");
  EXPECT_EQ(NameAtOffset(rec, chardata_rec::kName), "Leea");
  EXPECT_EQ(NameAtOffset(rec, chardata_rec::kAccount), "acc");
  EXPECT_EQ(NameAtOffset(rec, chardata_rec::kLink1), "l1");
  EXPECT_EQ(NameAtOffset(rec, chardata_rec::kLink2), "l2b");
  EXPECT_EQ(NameAtOffset(rec, chardata_rec::kLink5), "l5b");
  EXPECT_EQ(rec[chardata_rec::kLink5Present], 1);

  Bytes hero = MakeRecord(DbKind::HeroQel, "H");
  HeroDataEntry h;
  h.newAccount = "acc2";
  ApplyNewValues(hero, h);
  EXPECT_EQ(NameAtOffset(hero, hero_rec::kAccount), "acc2");
  EXPECT_EQ(NameAtOffset(hero, hero_rec::kName), "H");
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

}  // namespace
}  // namespace razere
