// Record database file format, shared by ID.DB (accounts), Hum.DB (character
// index), Qel.DB (character data) and HeroQel.DB (hero data).
//
// File := Header Record*
//   Header is kHeaderSize bytes; Record i starts at kHeaderSize + i * record
//   size and every record of a file has its kind's fixed size.
//   A record is a record header (ending with the record key, a name field that
//   repeats the record's name) followed by the body, which begins with the
//   same name.
//
// All integers are little-endian. A "name field" is a string of capacity 30
// that occupies 31 bytes: a length byte L followed by 30 bytes, the first L of
// which are GBK text. The bytes after the text are undefined and are copied
// unchanged. A date-time is an IEEE-754 double counting days since
// 1899-12-30 00:00 local time.
//
// Offsets below are byte offsets from the start of the header, the record or
// the item, as named. Bytes not listed are opaque and copied unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace razere {

// ---------------------------------------------------------------------------
// Name field
// ---------------------------------------------------------------------------
namespace name_field {
constexpr size_t kCapacity = 30;            // maximum text bytes
constexpr size_t kSize = kCapacity + 1;     // length byte + text area
}  // namespace name_field

// ---------------------------------------------------------------------------
// File header, kSize bytes, the same layout for all four kinds. Fields marked
// "zero" are written as zeros and never read.
// ---------------------------------------------------------------------------
namespace db_header {
constexpr size_t kSize = 124;
constexpr size_t kText = 0;          // name field (31 bytes): the kind's header text
                                     // 31..35: 5 bytes, zero
constexpr size_t kVersion = 36;      // int32: database version (nVersion)
constexpr size_t kRecordSize = 40;   // int32: record size in bytes (nRecordSize)
                                     // 44..91: 48 bytes, zero
constexpr size_t kMarker1 = 92;      // int32: marker, value per kind, never read
constexpr size_t kDate1 = 96;        // double: date-time the file was written
constexpr size_t kRecordCount = 104; // int32: number of records that follow (nRecordCount)
                                     // 108..111: int32, zero
constexpr size_t kMarker2 = 112;     // int32: marker, value per kind, never read
constexpr size_t kDate2 = 116;       // double: the write time, taken a second time
}  // namespace db_header

// The version the run requires of Qel.DB and HeroQel.DB (0x01348B23).
constexpr int32_t kRequiredDbVersion = 20220707;

// ---------------------------------------------------------------------------
// Fields
// ---------------------------------------------------------------------------
enum class DbKind : uint8_t { ID, Hum, Qel, HeroQel };

// Where a field lies: offset and size in bytes, from the start of its record
// (or item, or block).
struct FieldSpan {
  uint32_t offset;
  uint32_t size;
  constexpr uint32_t End() const { return offset + size; }
};

// An offset that names no field.
constexpr uint32_t kNoField = 0xFFFFFFFF;

// A name that the merge reads from records of one kind and may replace. The
// write pass patches a slot by writing the new name into `field` and, when
// the slot has one, into the record key `key`; the present byte is left
// alone.
struct NameSlot {
  uint32_t field;               // the name field read and written
  uint32_t key = kNoField;      // the record key that repeats this name, written with it
  uint32_t present = kNoField;  // a byte that must be 1 for the field to hold a name
};

// ---------------------------------------------------------------------------
// Item record, 1056 bytes, inside the item arrays of character and hero data.
// ---------------------------------------------------------------------------
namespace item_rec {
constexpr size_t kSize = 1056;
constexpr size_t kSerial = 0;     // int32: serial number (MakeIndex)
constexpr size_t kKind = 4;       // uint16: item kind; 0 = empty slot
constexpr size_t kDura = 6;       // uint16: durability, opaque
constexpr size_t kDuraMax = 8;    // uint16: maximum durability, opaque
constexpr size_t kValues = 10;    // kValuesSize bytes: attribute values, opaque
constexpr size_t kValuesSize = 12;
                                  // 22..1055: opaque
// Every named field, for the layout checks at the end of this file.
inline constexpr std::array<FieldSpan, 5> kFields = {{
    {kSerial, 4}, {kKind, 2}, {kDura, 2}, {kDuraMax, 2}, {kValues, kValuesSize}}};
}  // namespace item_rec

// An array of item records: element i starts at offset + i * item_rec::kSize.
struct ItemArray {
  uint32_t offset;  // of element 0, from the start of the record (or block)
  uint32_t count;   // elements
  constexpr uint32_t End() const { return offset + count * static_cast<uint32_t>(item_rec::kSize); }
};

// ---------------------------------------------------------------------------
// Account record (ID.DB), 373 bytes. The fields marked opaque are never read
// by the merge (the generator fills them).
// ---------------------------------------------------------------------------
namespace account_rec {
constexpr size_t kSize = 373;
constexpr size_t kDeleted = 0;    // byte: 0 = live
constexpr size_t kDate = 1;       // double: a date-time, opaque
constexpr size_t kNumber = 9;     // uint32: opaque
                                  // 13..19: opaque
constexpr size_t kKey = 20;       // name field: record key, the account name
constexpr size_t kName = 51;      // name field: account name (live only when not empty)
constexpr size_t kPassword = 82;  // name field: opaque
constexpr size_t kRealName = 113; // name field: opaque
constexpr size_t kBirthday = 144; // name field: opaque
constexpr size_t kPhone = 175;    // name field: opaque
constexpr size_t kMail = 206;     // name field: opaque
                                  // 237..372: opaque

enum Slot : uint8_t { kNameSlot, kSlotCount };
inline constexpr std::array<NameSlot, kSlotCount> kSlots = {{{kName, kKey}}};

// Every named field, for the layout checks at the end of this file.
inline constexpr std::array<FieldSpan, 10> kFields = {{
    {kDeleted, 1}, {kDate, 8}, {kNumber, 4}, {kKey, name_field::kSize}, {kName, name_field::kSize},
    {kPassword, name_field::kSize}, {kRealName, name_field::kSize}, {kBirthday, name_field::kSize},
    {kPhone, name_field::kSize}, {kMail, name_field::kSize}}};
}  // namespace account_rec

// ---------------------------------------------------------------------------
// Character index record (Hum.DB), 132 bytes; one per character and per hero.
// ---------------------------------------------------------------------------
namespace index_rec {
constexpr size_t kSize = 132;
constexpr size_t kSerial = 0;     // uint32: opaque
constexpr size_t kDeleted = 4;    // byte: 0 = live
constexpr size_t kDate = 5;       // double: a date-time, opaque
                                  // 13..20: opaque
constexpr size_t kKey = 21;       // name field: record key
constexpr size_t kName = 52;      // name field: character or hero name (required)
constexpr size_t kAccount = 83;   // name field: owning account (required)
constexpr size_t kHeroFlag = 115; // byte: 0 = character (Qel.DB), else hero (HeroQel.DB)
constexpr size_t kJob = 116;      // byte: opaque
constexpr size_t kSex = 117;      // byte: opaque
                                  // 118..131: opaque

enum Slot : uint8_t { kNameSlot, kAccountSlot, kSlotCount };
inline constexpr std::array<NameSlot, kSlotCount> kSlots = {{{kName, kKey}, {kAccount}}};

// Every named field, for the layout checks at the end of this file.
inline constexpr std::array<FieldSpan, 9> kFields = {{
    {kSerial, 4}, {kDeleted, 1}, {kDate, 8}, {kKey, name_field::kSize}, {kName, name_field::kSize},
    {kAccount, name_field::kSize}, {kHeroFlag, 1}, {kJob, 1}, {kSex, 1}}};
}  // namespace index_rec

// ---------------------------------------------------------------------------
// Character data record (Qel.DB), 580,591 bytes.
// ---------------------------------------------------------------------------
namespace chardata_rec {
constexpr size_t kSize = 580591;
constexpr size_t kDeleted = 4;        // byte: 0 = live
constexpr size_t kLastLogin = 13;     // double: last login date-time
constexpr size_t kKey = 21;           // name field: record key, the character name
constexpr size_t kName = 52;          // name field: character name (required)
constexpr size_t kMap = 83;           // name field: current map, opaque
constexpr size_t kX = 114;            // uint16: position, opaque
constexpr size_t kY = 116;            // uint16: position, opaque
constexpr size_t kDirection = 118;    // byte: opaque
constexpr size_t kJob = 119;          // byte: opaque
constexpr size_t kSex = 120;          // byte: opaque
constexpr size_t kHair = 121;         // byte: opaque
constexpr size_t kLevel = 126;        // uint32: level (compare unsigned)
constexpr size_t kGold = 130;         // uint32: opaque
constexpr size_t kSecondAmount = 134; // uint32: opaque
constexpr size_t kLink1 = 209;        // name field: linked name 1 (a character)
constexpr size_t kLink2 = 240;        // name field: linked name 2 (character or hero)
constexpr size_t kAccount = 365;      // name field: owning account
constexpr size_t kLink3 = 427;        // name field: linked name 3
constexpr size_t kLink4 = 458;        // name field: linked name 4
constexpr size_t kLinks34Flag = 489;  // byte: tied to linked names 3 and 4
constexpr size_t kLink3Flag = 491;    // byte: tied to linked name 3
constexpr size_t kLink4Flag = 492;    // byte: tied to linked name 4
constexpr size_t kCreated = 500;      // double: creation date-time, opaque
constexpr size_t kRoleId = 646;       // int32: the character's numeric id
constexpr size_t kLink5Present = 688; // byte: linked name 5 is meaningful only when this is 1
constexpr size_t kLink5Byte = 689;    // byte: companion of linked name 5
constexpr size_t kLink5Value = 690;   // int32: companion of linked name 5
constexpr size_t kLink5 = 694;        // name field: linked name 5
// Linked names 1..5, indexed 0..4.
inline constexpr std::array<size_t, 5> kLinks = {kLink1, kLink2, kLink3, kLink4, kLink5};

// Account and name first, then the linked names: the same order as a hero's.
enum Slot : uint8_t { kAccountSlot, kNameSlot, kLink1Slot, kLink2Slot, kLink3Slot, kLink4Slot, kLink5Slot, kSlotCount };
inline constexpr std::array<NameSlot, kSlotCount> kSlots = {{
    {kAccount},
    {kName, kKey},
    {kLink1},
    {kLink2},
    {kLink3},
    {kLink4},
    {kLink5, kNoField, kLink5Present},
}};

// Every named field, for the layout checks at the end of this file.
inline constexpr std::array<FieldSpan, 28> kFields = {{
    {kDeleted, 1},      {kLastLogin, 8},    {kKey, name_field::kSize},   {kName, name_field::kSize},
    {kMap, name_field::kSize},              {kX, 2},                     {kY, 2},
    {kDirection, 1},    {kJob, 1},          {kSex, 1},                   {kHair, 1},
    {kLevel, 4},        {kGold, 4},         {kSecondAmount, 4},          {kLink1, name_field::kSize},
    {kLink2, name_field::kSize},            {kAccount, name_field::kSize}, {kLink3, name_field::kSize},
    {kLink4, name_field::kSize},            {kLinks34Flag, 1},           {kLink3Flag, 1},
    {kLink4Flag, 1},    {kCreated, 8},      {kRoleId, 4},                {kLink5Present, 1},
    {kLink5Byte, 1},    {kLink5Value, 4},   {kLink5, name_field::kSize}}};
// The fields the read pass hands over and the stage reads: they must lie in
// the read prefix.
inline constexpr std::array<FieldSpan, 3> kLoadedScalars = {{{kLastLogin, 8}, {kLevel, 4}, {kRoleId, 4}}};

// Item arrays C1..C10, back to back up to the end of the record.
inline constexpr std::array<ItemArray, 10> kItemArrays = {{
    {55759, 206},   // C1
    {273295, 29},   // C2
    {303919, 4},    // C3
    {308143, 12},   // C4
    {320815, 6},    // C5
    {327151, 48},   // C6
    {377839, 48},   // C7
    {428527, 48},   // C8
    {479215, 48},   // C9
    {529903, 48},   // C10
}};
// The order in which item serials are renumbered, as indices into kItemArrays:
// C2, C3, C1, C6, C7, C8, C9, C10, C4, C5. The resulting serials depend on it.
inline constexpr std::array<uint8_t, 10> kRenumberOrder = {1, 2, 0, 5, 6, 7, 8, 9, 3, 4};
}  // namespace chardata_rec

// ---------------------------------------------------------------------------
// Hero data record (HeroQel.DB), 293,477 bytes: a header part and three hero
// blocks H1..H3 of 97,587 bytes each.
// ---------------------------------------------------------------------------
namespace hero_rec {
constexpr size_t kSize = 293477;
constexpr size_t kDeleted = 4;      // byte: 0 = live
constexpr size_t kCreated = 13;     // double: creation date-time, opaque
constexpr size_t kKey = 21;         // name field: record key, the hero name
constexpr size_t kName = 52;        // name field: hero name (required)
constexpr size_t kJob = 119;        // byte: opaque
constexpr size_t kSex = 120;        // byte: opaque
constexpr size_t kLevel = 126;      // uint32: opaque
constexpr size_t kLink = 209;       // name field: linked name (character or hero)
constexpr size_t kAccount = 311;    // name field: owning account

enum Slot : uint8_t { kAccountSlot, kNameSlot, kLinkSlot, kSlotCount };
inline constexpr std::array<NameSlot, kSlotCount> kSlots = {{{kAccount}, {kName, kKey}, {kLink}}};

// Every named field, for the layout checks at the end of this file.
inline constexpr std::array<FieldSpan, 9> kFields = {{
    {kDeleted, 1}, {kCreated, 8}, {kKey, name_field::kSize}, {kName, name_field::kSize}, {kJob, 1}, {kSex, 1},
    {kLevel, 4}, {kLink, name_field::kSize}, {kAccount, name_field::kSize}}};

constexpr size_t kBlockSize = 97587;
inline constexpr std::array<uint32_t, 3> kBlocks = {716, 98303, 195890};  // H1, H2, H3

// Item arrays B1..B5 of one block, offsets from the start of the block, back
// to back up to the end of the block.
inline constexpr std::array<ItemArray, 5> kBlockItemArrays = {{
    {1491, 40},    // B1
    {43731, 29},   // B2
    {74355, 4},    // B3
    {78579, 12},   // B4
    {91251, 6},    // B5
}};
// Renumbering order within a block: B2, B3, B1, B4, B5 (indices into kBlockItemArrays).
inline constexpr std::array<uint8_t, 5> kRenumberOrder = {1, 2, 0, 3, 4};
}  // namespace hero_rec

// ---------------------------------------------------------------------------
// The four kinds
// ---------------------------------------------------------------------------
struct DbKindInfo {
  std::string_view fileName;      // file name in an installation and in the save folder
  uint32_t recordSize;            // bytes per record
  uint32_t deletedFlag;           // offset of the deleted flag byte: 0 = live, else deleted
  uint32_t key;                   // offset of the record key (name field)
  uint32_t body;                  // offset where the body (and its name field) begins
  uint32_t readPrefix;            // bytes of each record the read pass hands to its handler
  std::string_view headerText;    // exact GBK bytes of the header text (30 bytes)
  int32_t version;                // nVersion written
  int32_t recordSizeField;        // nRecordSize written
  int32_t marker1;                // int32 written at db_header::kMarker1
  int32_t marker2;                // int32 written at db_header::kMarker2
};

// "KESTRALON数据库文件 2019/05/01" and "... 2022/07/07": 9 ASCII letters, the
// ten GBK bytes of 数据库文件, a space and the ten characters of the date.
inline constexpr std::string_view kHeaderText2019 =
    "KESTRALON\xCA\xFD\xBE\xDD\xBF\xE2\xCE\xC4\xBC\xFE 2019/05/01";
inline constexpr std::string_view kHeaderText2022 =
    "KESTRALON\xCA\xFD\xBE\xDD\xBF\xE2\xCE\xC4\xBC\xFE 2022/07/07";
static_assert(kHeaderText2019.size() == 30 && kHeaderText2022.size() == 30);

// Bytes the read pass keeps of a big record: enough for every field an entry
// or the clean-up needs (asserted below).
constexpr uint32_t kBigRecordReadPrefix = 1024;

inline constexpr std::array<DbKindInfo, 4> kDbKinds = {{
    // fileName, record size, deleted flag, key, body, read prefix,
    // header text, version, nRecordSize, marker1, marker2
    {"ID.DB", account_rec::kSize, account_rec::kDeleted, account_rec::kKey, account_rec::kName, account_rec::kSize,
     kHeaderText2019, 0, 0, 0, -1},
    {"Hum.DB", index_rec::kSize, index_rec::kDeleted, index_rec::kKey, index_rec::kName, index_rec::kSize,
     kHeaderText2019, 20130612, index_rec::kSize, -1, 0},
    {"Qel.DB", chardata_rec::kSize, chardata_rec::kDeleted, chardata_rec::kKey, chardata_rec::kName,
     kBigRecordReadPrefix, kHeaderText2022, kRequiredDbVersion, chardata_rec::kSize, -1, 0},
    {"HeroQel.DB", hero_rec::kSize, hero_rec::kDeleted, hero_rec::kKey, hero_rec::kName, kBigRecordReadPrefix,
     kHeaderText2022, kRequiredDbVersion, hero_rec::kSize, -1, 0},
}};

constexpr const DbKindInfo& KindInfo(DbKind kind) { return kDbKinds[static_cast<size_t>(kind)]; }

// ---------------------------------------------------------------------------
// The layout adds up
// ---------------------------------------------------------------------------
namespace db_layout_check {

// Arrays are contiguous.
template <size_t N>
constexpr bool Contiguous(const std::array<ItemArray, N>& arrays) {
  for (size_t i = 1; i < N; ++i) {
    if (arrays[i].offset != arrays[i - 1].End()) return false;
  }
  return true;
}

// Every field lies inside [0, end) and no two fields share a byte.
template <size_t N>
constexpr bool FieldsApart(const std::array<FieldSpan, N>& fields, size_t end) {
  for (size_t i = 0; i < N; ++i) {
    if (fields[i].size == 0 || fields[i].End() > end) return false;
    for (size_t j = i + 1; j < N; ++j) {
      if (fields[i].offset < fields[j].End() && fields[j].offset < fields[i].End()) return false;
    }
  }
  return true;
}

template <size_t N>
constexpr bool IsField(const std::array<FieldSpan, N>& fields, uint32_t offset, uint32_t size) {
  for (const FieldSpan& f : fields) {
    if (f.offset == offset && f.size == size) return true;
  }
  return false;
}

// Every slot names a listed name field, its key a listed name field and its
// present byte a listed byte; the key, when there is one, is the kind's
// record key. All of them lie within the first `prefix` bytes.
template <size_t S, size_t F>
constexpr bool SlotsValid(const std::array<NameSlot, S>& slotTable, const std::array<FieldSpan, F>& fields,
                          const DbKindInfo& kind) {
  const auto name = static_cast<uint32_t>(name_field::kSize);
  for (const NameSlot& s : slotTable) {
    if (!IsField(fields, s.field, name) || s.field + name > kind.readPrefix) return false;
    if (s.key != kNoField && (s.key != kind.key || !IsField(fields, s.key, name))) return false;
    if (s.present != kNoField && (!IsField(fields, s.present, 1) || s.present >= kind.readPrefix)) return false;
  }
  return true;
}

template <size_t N>
constexpr bool WithinPrefix(const std::array<FieldSpan, N>& fields, uint32_t prefix) {
  for (const FieldSpan& f : fields) {
    if (f.End() > prefix) return false;
  }
  return true;
}

// The table's columns are the named offsets.
constexpr bool KindMatches(DbKind kind, size_t size, size_t deleted, size_t key, size_t name) {
  const DbKindInfo& k = KindInfo(kind);
  return k.recordSize == size && k.deletedFlag == deleted && k.key == key && k.body == name &&
         k.readPrefix <= size;
}

}  // namespace db_layout_check

static_assert(db_layout_check::KindMatches(DbKind::ID, account_rec::kSize, account_rec::kDeleted, account_rec::kKey,
                                           account_rec::kName));
static_assert(db_layout_check::KindMatches(DbKind::Hum, index_rec::kSize, index_rec::kDeleted, index_rec::kKey,
                                           index_rec::kName));
static_assert(db_layout_check::KindMatches(DbKind::Qel, chardata_rec::kSize, chardata_rec::kDeleted,
                                           chardata_rec::kKey, chardata_rec::kName));
static_assert(db_layout_check::KindMatches(DbKind::HeroQel, hero_rec::kSize, hero_rec::kDeleted, hero_rec::kKey,
                                           hero_rec::kName));

static_assert(db_layout_check::FieldsApart(item_rec::kFields, item_rec::kSize));
static_assert(db_layout_check::FieldsApart(account_rec::kFields, account_rec::kSize));
static_assert(db_layout_check::FieldsApart(index_rec::kFields, index_rec::kSize));
// The named fields of big records end before their first item array.
static_assert(db_layout_check::FieldsApart(chardata_rec::kFields, chardata_rec::kItemArrays[0].offset));
static_assert(db_layout_check::FieldsApart(hero_rec::kFields, hero_rec::kBlocks[0]));

static_assert(db_layout_check::SlotsValid(account_rec::kSlots, account_rec::kFields, KindInfo(DbKind::ID)));
static_assert(db_layout_check::SlotsValid(index_rec::kSlots, index_rec::kFields, KindInfo(DbKind::Hum)));
static_assert(db_layout_check::SlotsValid(chardata_rec::kSlots, chardata_rec::kFields, KindInfo(DbKind::Qel)));
static_assert(db_layout_check::SlotsValid(hero_rec::kSlots, hero_rec::kFields, KindInfo(DbKind::HeroQel)));
static_assert(db_layout_check::WithinPrefix(chardata_rec::kLoadedScalars, kBigRecordReadPrefix));
static_assert(db_layout_check::IsField(index_rec::kFields, index_rec::kHeroFlag, 1));

// Linked names 1..5 are the slots that follow the name, in order.
static_assert(chardata_rec::kSlots[chardata_rec::kLink1Slot].field == chardata_rec::kLinks[0] &&
              chardata_rec::kSlots[chardata_rec::kLink2Slot].field == chardata_rec::kLinks[1] &&
              chardata_rec::kSlots[chardata_rec::kLink3Slot].field == chardata_rec::kLinks[2] &&
              chardata_rec::kSlots[chardata_rec::kLink4Slot].field == chardata_rec::kLinks[3] &&
              chardata_rec::kSlots[chardata_rec::kLink5Slot].field == chardata_rec::kLinks[4]);

static_assert(db_layout_check::Contiguous(chardata_rec::kItemArrays));
static_assert(db_layout_check::Contiguous(hero_rec::kBlockItemArrays));
static_assert(chardata_rec::kItemArrays[9].End() == chardata_rec::kSize);
static_assert(hero_rec::kBlockItemArrays[4].End() == hero_rec::kBlockSize);
static_assert(hero_rec::kBlocks[2] + hero_rec::kBlockSize == hero_rec::kSize);
static_assert(hero_rec::kBlocks[1] == hero_rec::kBlocks[0] + hero_rec::kBlockSize);

}  // namespace razere
