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
// The four kinds
// ---------------------------------------------------------------------------
enum class DbKind : uint8_t { ID, Hum, Qel, HeroQel };

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
// or the clean-up needs (the last one, linked name 5 of a character, ends at
// 725; the hero account ends at 342).
constexpr uint32_t kBigRecordReadPrefix = 1024;

inline constexpr std::array<DbKindInfo, 4> kDbKinds = {{
    // fileName     size     del key body prefix  header text       version   nRecordSize marker1 marker2
    {"ID.DB",       373,     0,  20, 51,  373,    kHeaderText2019,  0,        0,          0,      -1},
    {"Hum.DB",      132,     4,  21, 52,  132,    kHeaderText2019,  20130612, 132,        -1,     0},
    {"Qel.DB",      580591,  4,  21, 52,  kBigRecordReadPrefix, kHeaderText2022, 20220707, 580591, -1, 0},
    {"HeroQel.DB",  293477,  4,  21, 52,  kBigRecordReadPrefix, kHeaderText2022, 20220707, 293477, -1, 0},
}};

constexpr const DbKindInfo& KindInfo(DbKind kind) { return kDbKinds[static_cast<size_t>(kind)]; }

// ---------------------------------------------------------------------------
// Account record (ID.DB), 373 bytes.
// ---------------------------------------------------------------------------
namespace account_rec {
constexpr size_t kSize = 373;
constexpr size_t kDeleted = 0;   // byte: 0 = live
                                 // 1..19: opaque
constexpr size_t kKey = 20;      // name field: record key, the account name
constexpr size_t kName = 51;     // name field: account name (live only when not empty)
}  // namespace account_rec

// ---------------------------------------------------------------------------
// Character index record (Hum.DB), 132 bytes; one per character and per hero.
// ---------------------------------------------------------------------------
namespace index_rec {
constexpr size_t kSize = 132;
constexpr size_t kDeleted = 4;    // byte: 0 = live
constexpr size_t kKey = 21;       // name field: record key
constexpr size_t kName = 52;      // name field: character or hero name (required)
constexpr size_t kAccount = 83;   // name field: owning account (required)
constexpr size_t kHeroFlag = 115; // byte: 0 = character (Qel.DB), else hero (HeroQel.DB)
}  // namespace index_rec

// ---------------------------------------------------------------------------
// Item record, 1056 bytes, inside the item arrays of character and hero data.
// ---------------------------------------------------------------------------
namespace item_rec {
constexpr size_t kSize = 1056;
constexpr size_t kSerial = 0;   // int32: serial number (MakeIndex)
constexpr size_t kKind = 4;     // uint16: item kind; 0 = empty slot
                                // 6..1055: opaque
}  // namespace item_rec

// An array of item records: element i starts at offset + i * item_rec::kSize.
struct ItemArray {
  uint32_t offset;  // of element 0, from the start of the record (or block)
  uint32_t count;   // elements
  constexpr uint32_t End() const { return offset + count * static_cast<uint32_t>(item_rec::kSize); }
};

// ---------------------------------------------------------------------------
// Character data record (Qel.DB), 580,591 bytes.
// ---------------------------------------------------------------------------
namespace chardata_rec {
constexpr size_t kSize = 580591;
constexpr size_t kDeleted = 4;        // byte: 0 = live
constexpr size_t kLastLogin = 13;     // double: last login date-time
constexpr size_t kKey = 21;           // name field: record key, the character name
constexpr size_t kName = 52;          // name field: character name (required)
constexpr size_t kLevel = 126;        // uint32: level (compare unsigned)
constexpr size_t kLink1 = 209;        // name field: linked name 1 (a character)
constexpr size_t kLink2 = 240;        // name field: linked name 2 (character or hero)
constexpr size_t kAccount = 365;      // name field: owning account
constexpr size_t kLink3 = 427;        // name field: linked name 3
constexpr size_t kLink4 = 458;        // name field: linked name 4
constexpr size_t kLinks34Flag = 489;  // byte: tied to linked names 3 and 4
constexpr size_t kLink3Flag = 491;    // byte: tied to linked name 3
constexpr size_t kLink4Flag = 492;    // byte: tied to linked name 4
constexpr size_t kRoleId = 646;       // int32: the character's numeric id
constexpr size_t kLink5Present = 688; // byte: linked name 5 is meaningful only when this is 1
constexpr size_t kLink5Byte = 689;    // byte: companion of linked name 5
constexpr size_t kLink5Value = 690;   // int32: companion of linked name 5
constexpr size_t kLink5 = 694;        // name field: linked name 5
// Linked names 1..5, indexed 0..4.
inline constexpr std::array<size_t, 5> kLinks = {kLink1, kLink2, kLink3, kLink4, kLink5};

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
constexpr size_t kKey = 21;         // name field: record key, the hero name
constexpr size_t kName = 52;        // name field: hero name (required)
constexpr size_t kLink = 209;       // name field: linked name (character or hero)
constexpr size_t kAccount = 311;    // name field: owning account
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

// The layout adds up: arrays are contiguous and end where their container ends.
template <size_t N>
constexpr bool Contiguous(const std::array<ItemArray, N>& arrays) {
  for (size_t i = 1; i < N; ++i) {
    if (arrays[i].offset != arrays[i - 1].End()) return false;
  }
  return true;
}
static_assert(Contiguous(chardata_rec::kItemArrays));
static_assert(Contiguous(hero_rec::kBlockItemArrays));
static_assert(account_rec::kSize == kDbKinds[0].recordSize);
static_assert(index_rec::kSize == kDbKinds[1].recordSize);
static_assert(chardata_rec::kSize == kDbKinds[2].recordSize);
static_assert(hero_rec::kSize == kDbKinds[3].recordSize);
static_assert(chardata_rec::kItemArrays[9].End() == chardata_rec::kSize);
static_assert(hero_rec::kBlockItemArrays[4].End() == hero_rec::kBlockSize);
static_assert(hero_rec::kBlocks[2] + hero_rec::kBlockSize == hero_rec::kSize);
static_assert(hero_rec::kBlocks[1] == hero_rec::kBlocks[0] + hero_rec::kBlockSize);
static_assert(chardata_rec::kLink5 + name_field::kSize <= kBigRecordReadPrefix);
static_assert(hero_rec::kAccount + name_field::kSize <= kBigRecordReadPrefix);

}  // namespace razere
