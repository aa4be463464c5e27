// The record model: the entries the stages keep of each kind of record, one
// reader per field the merge uses and the name patches of the write pass,
// driven by each kind's table of name slots. Offsets are in db_format.h only.
//
// Names are GBK byte strings, at most 30 bytes. Readers take the bytes the
// read pass hands over (rec, n); a field that lies beyond n reads as empty /
// 0. Patches take a whole record and throw std::out_of_range when the span is
// shorter than the kind's record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "dbfiles/db_format.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"

namespace razere {

// Which installation a record came from.
constexpr uint8_t kSideSlave = 0;
constexpr uint8_t kSideMaster = 1;

// New names for the name slots of one record, by slot; null = unchanged.
// The merge points them at the new names held by the entries of
// AccountRenames and CharRenames, which outlive the write pass.
template <size_t N>
using NewNames = std::array<const std::string*, N>;

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------

// Text that most holders never get, such as a new name: while empty it costs
// one pointer instead of a whole string (a large server has hundreds of
// thousands of accounts, a few of which are renamed).
class SparseText {
 public:
  SparseText() = default;
  SparseText(const SparseText& other) { *this = other.str(); }
  SparseText(SparseText&&) noexcept = default;
  SparseText& operator=(const SparseText& other) {
    if (this != &other) *this = other.str();
    return *this;
  }
  SparseText& operator=(SparseText&&) noexcept = default;
  SparseText& operator=(std::string text) {
    if (text.empty()) {
      text_.reset();
    } else {
      text_ = std::make_unique<std::string>(std::move(text));
    }
    return *this;
  }

  bool empty() const { return !text_; }
  const std::string& str() const { return text_ ? *text_ : Empty(); }
  operator const std::string&() const { return str(); }  // NOLINT: reads as the string it holds
  friend bool operator==(const SparseText& a, std::string_view b) { return a.str() == b; }

 private:
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }
  std::unique_ptr<std::string> text_;
};

// One live ID.DB record. 56 bytes.
struct AccountEntry {
  int64_t offset = 0;       // of the record in its source file
  std::string name;         // account_rec::kNameSlot
  SparseText newName;       // empty: keeps its name
  uint8_t side = kSideSlave;
};

// One live Hum.DB record (a character or a hero).
struct CharIndexEntry {
  uint8_t side = kSideSlave;
  uint8_t heroFlag = 0;     // index_rec::kHeroFlag; nonzero = hero
  int64_t offset = 0;
  std::string name;         // index_rec::kNameSlot
  std::string account;      // index_rec::kAccountSlot
  std::string newName;      // empty: keeps its name
  int32_t roleId = 0;       // set by the data merge for a renamed slave character; else 0
};

// One live Qel.DB record (the character data entry). Names are held inline,
// so an entry costs no allocation however long its names are.
struct CharDataItem {
  int64_t offset = 0;        // of the record in its source file
  int32_t roleId = 0;        // chardata_rec::kRoleId
  uint8_t side = kSideSlave;
  std::array<uint8_t, 5> dangling{};  // 1: linked name k+1 points at nobody (clean-up)
  InlineName account;        // chardata_rec::kAccountSlot
  InlineName name;           // chardata_rec::kNameSlot, as loaded
  std::array<InlineName, 5> links;  // kLink1Slot..kLink5Slot; link 5 only when marked present
  NewNames<chardata_rec::kSlotCount> newNames{};  // what the write pass puts into a slave record
};

// One live HeroQel.DB record (the hero data entry).
struct HeroDataItem {
  int64_t offset = 0;
  uint8_t side = kSideSlave;
  InlineName account;        // hero_rec::kAccountSlot
  InlineName name;           // hero_rec::kNameSlot, as loaded
  std::array<InlineName, 1> links;  // hero_rec::kLinkSlot
  NewNames<hero_rec::kSlotCount> newNames{};
};

// Index entries per account on one side.
struct AccountCharCount {
  std::string account;
  int32_t count = 0;
};

// ---------------------------------------------------------------------------
// Readers
// ---------------------------------------------------------------------------

// The name in a slot; empty when the field lies beyond n, or the slot has a
// present byte that is beyond n or not 1. The view points into rec.
std::string_view ReadName(const uint8_t* rec, size_t n, const NameSlot& slot);

AccountEntry ParseAccountRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset);
CharIndexEntry ParseCharIndexRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset);
CharDataItem ParseCharDataRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset);
HeroDataItem ParseHeroDataRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset);

// Fields of a character data record used by the clean-up (0 beyond n).
double CharDataLastLogin(const uint8_t* rec, size_t n);
uint32_t CharDataLevel(const uint8_t* rec, size_t n);

// ---------------------------------------------------------------------------
// Patches. A name is written as length byte + text into the slot's field and
// its record key; the bytes after the text stay.
// ---------------------------------------------------------------------------

// One slot of a whole record of the kind.
void PatchName(std::span<uint8_t> rec, DbKind kind, const NameSlot& slot, std::string_view name);

// Every non-null new name into its slot.
template <size_t N>
void PatchNames(std::span<uint8_t> rec, DbKind kind, const std::array<NameSlot, N>& slotTable, const NewNames<N>& names) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] != nullptr) PatchName(rec, kind, slotTable[i], *names[i]);
  }
}

// The account name of an ID.DB record.
inline void PatchAccountName(std::span<uint8_t> rec, std::string_view name) {
  PatchName(rec, DbKind::ID, account_rec::kSlots[account_rec::kNameSlot], name);
}

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
