// Entries (the small in-memory stand-ins of records) and the record fields the
// merge reads and patches. Layouts are in db_format.h.
//
// Names are GBK byte strings, at most 30 bytes. Parse functions take the
// bytes the read pass hands over (rec, n); a field that lies beyond n reads as
// empty / 0. Patch functions take a whole record and throw std::out_of_range
// when the span is shorter than the kind's record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "dbfiles/db_format.h"
#include "dbfiles/le_bytes.h"

namespace razere {

// Which installation a record came from.
constexpr uint8_t kSideSlave = 0;
constexpr uint8_t kSideMaster = 1;

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------

// One live ID.DB record.
struct AccountEntry {
  uint8_t side = kSideSlave;
  int64_t offset = 0;       // of the record in its source file
  std::string name;         // from account_rec::kName
  std::string newName;      // empty: keeps its name
};

// One live Hum.DB record (a character or a hero).
struct CharIndexEntry {
  uint8_t side = kSideSlave;
  uint8_t heroFlag = 0;     // record byte 115; nonzero = hero
  int64_t offset = 0;
  std::string name;         // from index_rec::kName
  std::string account;      // from index_rec::kAccount
  std::string newName;      // empty: keeps its name
  int32_t roleId = 0;       // set by the data merge for a renamed slave character; else 0
};

// One live Qel.DB record.
struct CharDataEntry {
  uint8_t side = kSideSlave;
  int64_t offset = 0;
  std::string account;                 // from chardata_rec::kAccount
  std::string name;                    // from chardata_rec::kName
  std::array<std::string, 5> links;    // linked names 1..5; link 5 only when byte 688 is 1
  std::string newAccount;              // empty: unchanged
  std::string newName;                 // empty: unchanged
  std::array<std::string, 5> newLinks; // empty: unchanged
  std::array<uint8_t, 5> dangling{};   // 1: the linked name points at nobody
  int32_t roleId = 0;                  // from chardata_rec::kRoleId
};

// One live HeroQel.DB record.
struct HeroDataEntry {
  uint8_t side = kSideSlave;
  int64_t offset = 0;
  std::string account;      // from hero_rec::kAccount
  std::string name;         // from hero_rec::kName
  std::string link;         // from hero_rec::kLink
  std::string newAccount;   // empty: unchanged
  std::string newName;      // empty: unchanged
  std::string newLink;      // empty: unchanged
};

// Index entries per account on one side.
struct AccountCharCount {
  std::string account;
  int32_t count = 0;
};

AccountEntry ParseAccountRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset);
CharIndexEntry ParseCharIndexRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset);
CharDataEntry ParseCharDataRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset);
HeroDataEntry ParseHeroDataRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset);

// Fields of a character data record used by the clean-up (0 beyond n).
double CharDataLastLogin(const uint8_t* rec, size_t n);
uint32_t CharDataLevel(const uint8_t* rec, size_t n);

// ---------------------------------------------------------------------------
// Patches. Each writes length byte + text; the bytes after the text stay.
// ---------------------------------------------------------------------------

void PatchAccountName(std::span<uint8_t> rec, std::string_view name);      // 20 and 51

void PatchIndexName(std::span<uint8_t> rec, std::string_view name);        // 21 and 52
void PatchIndexAccount(std::span<uint8_t> rec, std::string_view account);  // 83

void PatchCharDataAccount(std::span<uint8_t> rec, std::string_view account);  // 365
void PatchCharDataName(std::span<uint8_t> rec, std::string_view name);        // 21 and 52
// k = 1..5: 209, 240, 427, 458, 694 (std::out_of_range otherwise). Writes the
// name only; bytes 688..693 are left alone.
void PatchCharDataLink(std::span<uint8_t> rec, int k, std::string_view name);

void PatchHeroAccount(std::span<uint8_t> rec, std::string_view account);   // 311
void PatchHeroName(std::span<uint8_t> rec, std::string_view name);         // 21 and 52
void PatchHeroLink(std::span<uint8_t> rec, std::string_view name);         // 209

// The entry's non-empty new values, written into its record: new name (and,
// for data and heroes, new account and new links). The caller decides for
// which side this applies; the index record's account comes from the account
// rename map and is patched with PatchIndexAccount.
void ApplyNewValues(std::span<uint8_t> rec, const AccountEntry& e);
void ApplyNewValues(std::span<uint8_t> rec, const CharIndexEntry& e);
void ApplyNewValues(std::span<uint8_t> rec, const CharDataEntry& e);
void ApplyNewValues(std::span<uint8_t> rec, const HeroDataEntry& e);

// ---------------------------------------------------------------------------
// Items
// ---------------------------------------------------------------------------

inline int32_t ItemSerial(const uint8_t* item) { return LoadInt32LE(item + item_rec::kSerial); }
inline void SetItemSerial(uint8_t* item, int32_t serial) { StoreInt32LE(item + item_rec::kSerial, serial); }
inline uint16_t ItemKind(const uint8_t* item) { return LoadUint16LE(item + item_rec::kKind); }
inline bool ItemOccupied(const uint8_t* item) { return ItemKind(item) != 0; }

enum class ItemOrder {
  Layout,    // arrays as they lie in the record: C1..C10; H1..H3 each B1..B5
  Renumber,  // the serial renumbering order: C2,C3,C1,C6..C10,C4,C5; H1..H3 each B2,B3,B1,B4,B5
};

// Calls visit(uint8_t* item) for every element (occupied or not) of the item
// arrays of a character data record / hero data record, elements from index 0
// upwards within an array. rec must hold the whole record (std::out_of_range
// otherwise).
template <class Visit>
void ForEachCharDataItem(std::span<uint8_t> rec, ItemOrder order, Visit&& visit);
template <class Visit>
void ForEachHeroDataItem(std::span<uint8_t> rec, ItemOrder order, Visit&& visit);

// ---------------------------------------------------------------------------

namespace records_detail {
void RequireSize(std::span<uint8_t> rec, size_t size, const char* what);
template <class Visit>
void VisitArray(uint8_t* base, const ItemArray& a, Visit& visit) {
  uint8_t* item = base + a.offset;
  for (uint32_t i = 0; i < a.count; ++i, item += item_rec::kSize) visit(item);
}
}  // namespace records_detail

template <class Visit>
void ForEachCharDataItem(std::span<uint8_t> rec, ItemOrder order, Visit&& visit) {
  records_detail::RequireSize(rec, chardata_rec::kSize, "character data record");
  for (size_t i = 0; i < chardata_rec::kItemArrays.size(); ++i) {
    size_t a = order == ItemOrder::Renumber ? chardata_rec::kRenumberOrder[i] : i;
    records_detail::VisitArray(rec.data(), chardata_rec::kItemArrays[a], visit);
  }
}

template <class Visit>
void ForEachHeroDataItem(std::span<uint8_t> rec, ItemOrder order, Visit&& visit) {
  records_detail::RequireSize(rec, hero_rec::kSize, "hero data record");
  for (uint32_t block : hero_rec::kBlocks) {
    for (size_t i = 0; i < hero_rec::kBlockItemArrays.size(); ++i) {
      size_t a = order == ItemOrder::Renumber ? hero_rec::kRenumberOrder[i] : i;
      records_detail::VisitArray(rec.data() + block, hero_rec::kBlockItemArrays[a], visit);
    }
  }
}

}  // namespace razere
