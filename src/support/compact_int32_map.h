// CompactInt32Map: a map from int32 to int32 for millions of entries at
// 8 bytes each (a key and a value, nothing else per entry).
//
// Pairs are appended to the newest block (the tail). A block is sorted by key
// when it fills and before a look-up searches it; the sort is stable, so equal
// keys keep the order they were added in. A look-up searches the tail first,
// then the full blocks from newest to oldest, and within a block takes the
// last of the equal keys: a key added more than once is found with the value
// added last, whatever the values are. Additions and look-ups may interleave.
//
// Memory: 8 bytes per pair, plus one partly filled tail of at most
// kBlockEntries pairs and 24 bytes per full block. No structure is ever
// rebuilt as a whole, so a look-up never needs a second copy of the pairs.
//
// Not thread-safe, look-ups included: a look-up may sort the tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace razere {

class CompactInt32Map {
 public:
  // Pairs per full block: 512 KiB.
  static constexpr size_t kBlockEntries = size_t{1} << 16;

  void Add(int32_t key, int32_t value);
  // The value added last under key, or nullptr. Valid until the next Add.
  const int32_t* Find(int32_t key) const;
  bool Exists(int32_t key) const { return Find(key) != nullptr; }
  // Pairs added, repeated keys counted every time.
  int64_t Count() const { return static_cast<int64_t>(full_.size() * kBlockEntries + tail_.size()); }
  void Clear();

  // Calls f(key, value) for every pair added, the shadowed ones of a repeated
  // key included, in no particular order.
  template <class F>
  void ForEach(F&& f) const {
    for (const Block& b : full_) {
      for (const Pair& p : b) f(p.key, p.value);
    }
    for (const Pair& p : tail_) f(p.key, p.value);
  }

  // Heap bytes held by the pairs and the block table.
  size_t MemoryBytes() const;

 private:
  struct Pair {
    int32_t key;
    int32_t value;
  };
  using Block = std::vector<Pair>;

  // An unsorted run at the tail's end up to this length is scanned instead
  // of being sorted in: a look-up after a few additions stays cheap.
  static constexpr size_t kScanLimit = 32;

  void SortTail() const;
  static const Pair* LastOf(const Pair* first, const Pair* last, int32_t key);

  std::vector<Block> full_;  // each exactly kBlockEntries pairs, sorted
  // The newest pairs; [0, tailSorted_) is sorted, the rest in insertion order.
  mutable Block tail_;
  mutable size_t tailSorted_ = 0;
};

}  // namespace razere
