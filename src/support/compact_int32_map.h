// CompactInt32Map: a map from int32 to int32 for millions of entries at
// at most 8 bytes each, usually far fewer.
//
// Pairs are appended to the newest block (the tail). A block is sorted by key
// when it fills and before a look-up searches it; the sort is stable, so equal
// keys keep the order they were added in. A look-up searches the tail first,
// then the full blocks from newest to oldest, and within a block takes the
// last of the equal keys: a key added more than once is found with the value
// added last, whatever the values are. Additions and look-ups may interleave.
//
// A full block is packed in groups of kGroupEntries pairs: each key as its
// difference from the key before it, each value as its difference from the
// group's least value, both in as few bits as the group's largest difference
// needs. Serials handed out in sequence, and old serials that a server gave
// out in sequence, pack to a few bytes a pair. A block that would take more
// than 8 bytes a pair with its group headers stays as plain pairs: no block
// takes more than that.
//
// Memory: the packed blocks, plus one partly filled tail of at most
// kBlockEntries pairs (8 bytes each). No structure is ever rebuilt as a
// whole, so a look-up never needs a second copy of the pairs.
//
// Not thread-safe, look-ups included: a look-up may sort the tail.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace razere {

class CompactInt32Map {
 public:
  // Pairs per full block: 512 KiB.
  static constexpr size_t kBlockEntries = size_t{1} << 16;

  void Add(int32_t key, int32_t value);
  // The value added last under key, or nullptr. Valid until the next Add or
  // look-up.
  const int32_t* Find(int32_t key) const;
  bool Exists(int32_t key) const { return Find(key) != nullptr; }
  // Pairs added, repeated keys counted every time.
  int64_t Count() const { return static_cast<int64_t>(full_.size() * kBlockEntries + tail_.size()); }
  void Clear();

  // Calls f(key, value) for every pair added, the shadowed ones of a repeated
  // key included, in no particular order.
  template <class F>
  void ForEach(F&& f) const {
    for (const PackedBlock& b : full_) {
      for (const Pair& p : b.plain) f(p.key, p.value);
      for (size_t g = 0; g < b.groups.size(); ++g) b.DecodeGroup(g, f);
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

  // Pairs per stored whole key of a packed block: a look-up decodes at most
  // this many.
  static constexpr size_t kGroupEntries = 64;

  // One full block, sorted by key, packed as the header describes, in
  // groups of kGroupEntries pairs, each with its own widths: a group takes
  // keyBits + valueBits bits a pair from bit `bit` of words, first the key's
  // difference from the pair before (no difference at the group's start,
  // whose key is firstKey), then value - minValue, both as unsigned 32-bit
  // differences. Groups of their own keep a block of ordinary and extended
  // serials, or of two sides' serials, as tight as each part is.
  struct PackedBlock {
    explicit PackedBlock(const Block& sorted);

    struct Group {
      int32_t firstKey = 0;
      int32_t minValue = 0;
      uint32_t bit = 0;
      uint8_t keyBits = 0, valueBits = 0;
    };

    // f(key, value) for each pair of group g, in key order.
    template <class F>
    void DecodeGroup(size_t g, F&& f) const {
      const Group& group = groups[g];
      const size_t n = std::min(kGroupEntries, count - g * kGroupEntries);
      const unsigned width = unsigned{group.keyBits} + group.valueBits;
      uint32_t key = static_cast<uint32_t>(group.firstKey);
      for (size_t j = 0; j < n; ++j) {
        const uint64_t entry = Read(group.bit + j * width, width);
        if (j != 0) key += static_cast<uint32_t>(entry & Mask(group.keyBits));
        const uint32_t value = static_cast<uint32_t>(group.minValue) + static_cast<uint32_t>(entry >> group.keyBits);
        f(static_cast<int32_t>(key), static_cast<int32_t>(value));
      }
    }
    uint64_t Read(size_t bit, unsigned width) const;
    static uint64_t Mask(unsigned bits) { return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1; }

    size_t count = 0;
    std::vector<Group> groups;
    std::vector<uint64_t> words;  // the pairs' bits, one spare word at the end
    Block plain;                  // instead of the above when packing saves nothing
  };

  // An unsorted run at the tail's end up to this length is scanned instead
  // of being sorted in: a look-up after a few additions stays cheap.
  static constexpr size_t kScanLimit = 32;

  void SortTail() const;
  static const Pair* LastOf(const Pair* first, const Pair* last, int32_t key);

  std::vector<PackedBlock> full_;  // each exactly kBlockEntries pairs
  mutable int32_t found_ = 0;      // what Find points at for a packed block
  // The newest pairs; [0, tailSorted_) is sorted, the rest in insertion order.
  mutable Block tail_;
  mutable size_t tailSorted_ = 0;
};

}  // namespace razere
