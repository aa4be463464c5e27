// Item serial renumbering: every item of the merged data gets a new serial
// (MakeIndex) from the run's two counters, and each side remembers which old
// serial became which new one so that shops and text lists can follow.
//
// Ranges (signed 32-bit):
//   ordinary  old < 0x3FFFFFFF (0 and negatives included) -> ItemNumber,   1 .. 0x3FFFFFFE
//   extended  old >= 0x3FFFFFFF                           -> ItemNumberEx, 0x3FFFFFFF .. 0x7FFFFFFE
// Each counter wraps to the bottom of its range. Both, and the two maps, are
// the character stage's products (CharacterStageProducts); the shop and mail
// stages continue with them.
#pragma once

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "merge/run_context.h"
#include "support/compact_int32_map.h"

namespace razere {

inline constexpr int32_t kItemNumberMax = 0x3FFFFFFE;    // last ordinary serial
inline constexpr int32_t kItemNumberExMin = 0x3FFFFFFF;  // first extended serial; also the range split
inline constexpr int32_t kItemNumberExMax = 0x7FFFFFFE;  // last extended serial
// Counter values at the start of the character stage: the first serials
// given out are 1 and 0x3FFFFFFF.
inline constexpr int32_t kItemNumberStart = 0;
inline constexpr int32_t kItemNumberExStart = 0x3FFFFFFE;

// Decimal text of a serial as the map keys it: optional minus, no leading
// zeros. buf must hold 11 characters; the view points into it.
inline std::string_view SerialKey(int32_t serial, char (&buf)[12]) {
  auto res = std::to_chars(buf, buf + sizeof buf, serial);
  return {buf, static_cast<size_t>(res.ptr - buf)};
}

// Old serial of a map key: the number whose SerialKey is exactly text (no
// plus sign, no leading zeros, "-0" is not 0), or nothing.
std::optional<int32_t> ParseSerialKey(std::string_view text);

// MasterItemSerials / SlaveItemSerials: old serial -> new serial, looked up by
// number or by the decimal text the number's SerialKey gives. A serial added
// twice is found with the value added last. 8 bytes per entry: a large server
// adds millions. Single-threaded, look-ups included.
struct ItemSerialMap {
  void Add(int32_t oldSerial, int32_t newSerial) { map_.Add(oldSerial, newSerial); }
  // By decimal text, as readers of text files hold it: only the canonical
  // text of a serial finds it ("007" and "+7" find nothing).
  bool Exists(std::string_view key) const { return Find(key) != nullptr; }
  const int32_t* Find(std::string_view key) const {
    const std::optional<int32_t> serial = ParseSerialKey(key);
    return serial ? map_.Find(*serial) : nullptr;
  }
  // By number. The pointer is valid until the next Add.
  bool Exists(int32_t oldSerial) const { return map_.Exists(oldSerial); }
  const int32_t* Find(int32_t oldSerial) const { return map_.Find(oldSerial); }
  // Entries added, repeats counted every time.
  int32_t Count() const { return static_cast<int32_t>(std::min<int64_t>(map_.Count(), INT32_MAX)); }
  // f(old, new) for every entry added, the shadowed ones of a repeated old
  // serial included, in no particular order.
  template <class F>
  void ForEach(F&& f) const {
    map_.ForEach(std::forward<F>(f));
  }
  size_t MemoryBytes() const { return map_.MemoryBytes(); }

 private:
  CompactInt32Map map_;
};

// The next ordinary / extended serial; advances products.ItemNumber / ItemNumberEx.
int32_t NextItemNumber(CharacterStageProducts& products);
int32_t NextItemNumberEx(CharacterStageProducts& products);
// The next serial of the range old falls in.
inline int32_t NextSerialFor(CharacterStageProducts& products, int32_t oldSerial) {
  return oldSerial >= kItemNumberExMin ? NextItemNumberEx(products) : NextItemNumber(products);
}

// Start values of both counters and two new, empty serial maps.
void ResetItemNumbers(CharacterStageProducts& products);

// One 1,056-byte item element: when its kind is not 0, gives it the next
// serial of its range and records old -> new in MasterItemSerials
// (masterSide) or SlaveItemSerials. Empty slots are left alone.
void RenumberItem(CharacterStageProducts& products, uint8_t* item1056, bool masterSide);

// Every element of a whole character data record, in the renumbering order
// (C2, C3, C1, C6, C7, C8, C9, C10, C4, C5; elements from index 0).
// std::out_of_range when the span is shorter than the record.
void RenumberCharDataItems(CharacterStageProducts& products, std::span<uint8_t> record, bool masterSide);
// Every element of a whole hero data record: blocks H1, H2, H3, each in the
// order B2, B3, B1, B4, B5.
void RenumberHeroItems(CharacterStageProducts& products, std::span<uint8_t> record, bool masterSide);
// The same for a buffer that holds the whole record (580,591 / 293,477 bytes).
void RenumberCharDataItems(CharacterStageProducts& products, uint8_t* record, bool masterSide);
void RenumberHeroItems(CharacterStageProducts& products, uint8_t* record, bool masterSide);

// Stores both counters in section Setup of a !Setup.txt (keys ItemNumber and
// ItemNumberEx, decimal) in one atomic replacement of the file; every other
// byte of the file stays as it was. Throws std::runtime_error naming the file
// when it cannot be written: a server that kept its old counters would hand
// out serials that the merged items already carry.
void WriteItemNumbers(const std::filesystem::path& setupFile, int32_t ItemNumber, int32_t ItemNumberEx);

// The refusal WriteItemNumbers gives a read-only !Setup.txt, on its own: the
// replacement asks before it stages anything.
void CheckItemNumbersWritable(const std::filesystem::path& setupFile);

}  // namespace razere
