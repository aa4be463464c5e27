#include "support/compact_int32_map.h"

#include <algorithm>
#include <bit>

namespace razere {

namespace {

struct KeyLess {
  template <class P>
  bool operator()(const P& a, const P& b) const {
    return a.key < b.key;
  }
};

}  // namespace

CompactInt32Map::PackedBlock::PackedBlock(const Block& sorted) : count(sorted.size()) {
  groups.resize((count + kGroupEntries - 1) / kGroupEntries);
  size_t totalBits = 0;
  for (size_t g = 0; g < groups.size(); ++g) {
    const size_t first = g * kGroupEntries;
    const size_t end = std::min(first + kGroupEntries, count);
    uint32_t maxKeyStep = 0;
    int32_t minValue = sorted[first].value, maxValue = sorted[first].value;
    for (size_t i = first; i < end; ++i) {
      if (i != first) {
        maxKeyStep = std::max(maxKeyStep, static_cast<uint32_t>(sorted[i].key) - static_cast<uint32_t>(sorted[i - 1].key));
      }
      minValue = std::min(minValue, sorted[i].value);
      maxValue = std::max(maxValue, sorted[i].value);
    }
    Group& group = groups[g];
    group.firstKey = sorted[first].key;
    group.minValue = minValue;
    group.bit = static_cast<uint32_t>(totalBits);
    group.keyBits = static_cast<uint8_t>(std::bit_width(maxKeyStep));
    group.valueBits = static_cast<uint8_t>(std::bit_width(static_cast<uint32_t>(maxValue) - static_cast<uint32_t>(minValue)));
    totalBits += (end - first) * (size_t{group.keyBits} + group.valueBits);
  }
  if (totalBits / 8 + groups.size() * sizeof(Group) + 8 > count * sizeof(Pair)) {
    groups.clear();
    groups.shrink_to_fit();
    plain = sorted;
    return;
  }
  words.assign(totalBits / 64 + 2, 0);
  for (size_t g = 0; g < groups.size(); ++g) {
    const Group& group = groups[g];
    const size_t first = g * kGroupEntries;
    const size_t end = std::min(first + kGroupEntries, count);
    const size_t width = size_t{group.keyBits} + group.valueBits;
    if (width == 0) continue;
    for (size_t i = first; i < end; ++i) {
      const uint64_t step = i == first ? 0 : static_cast<uint32_t>(sorted[i].key) - static_cast<uint32_t>(sorted[i - 1].key);
      const uint64_t entry =
          step | (uint64_t{static_cast<uint32_t>(sorted[i].value) - static_cast<uint32_t>(group.minValue)} << group.keyBits);
      const size_t bit = group.bit + (i - first) * width;
      words[bit / 64] |= entry << (bit % 64);
      if (bit % 64 != 0 && bit % 64 + width > 64) words[bit / 64 + 1] |= entry >> (64 - bit % 64);
    }
  }
}

uint64_t CompactInt32Map::PackedBlock::Read(size_t bit, unsigned width) const {
  if (width == 0) return 0;
  uint64_t v = words[bit / 64] >> (bit % 64);
  if (bit % 64 != 0 && bit % 64 + width > 64) v |= words[bit / 64 + 1] << (64 - bit % 64);
  return v & Mask(width);
}

void CompactInt32Map::Add(int32_t key, int32_t value) {
  if (tail_.size() == kBlockEntries) {
    SortTail();
    full_.emplace_back(tail_);
    tail_.clear();
    // The tail keeps its capacity: the map is large, and the next block
    // fills the same room.
    tailSorted_ = 0;
  }
  tail_.push_back(Pair{key, value});
}

void CompactInt32Map::SortTail() const {
  if (tailSorted_ == tail_.size()) return;
  const auto mid = tail_.begin() + static_cast<std::ptrdiff_t>(tailSorted_);
  std::stable_sort(mid, tail_.end(), KeyLess{});
  // Stable too: of equal keys, those of the sorted part (added earlier) stay first.
  std::inplace_merge(tail_.begin(), mid, tail_.end(), KeyLess{});
  tailSorted_ = tail_.size();
}

const CompactInt32Map::Pair* CompactInt32Map::LastOf(const Pair* first, const Pair* last, int32_t key) {
  const Pair* after = std::upper_bound(first, last, Pair{key, 0}, KeyLess{});
  if (after == first || after[-1].key != key) return nullptr;
  return after - 1;
}

const int32_t* CompactInt32Map::Find(int32_t key) const {
  if (tail_.size() - tailSorted_ > kScanLimit) SortTail();
  for (size_t i = tail_.size(); i > tailSorted_; --i) {
    if (tail_[i - 1].key == key) return &tail_[i - 1].value;
  }
  if (const Pair* p = LastOf(tail_.data(), tail_.data() + tailSorted_, key)) return &p->value;
  for (auto b = full_.rbegin(); b != full_.rend(); ++b) {
    if (!b->plain.empty()) {
      if (const Pair* p = LastOf(b->plain.data(), b->plain.data() + b->plain.size(), key)) return &p->value;
      continue;
    }
    // The last pair of this key lies in the last group whose first key is not
    // above it: a later group starts above the key.
    const auto after = std::upper_bound(b->groups.begin(), b->groups.end(), key,
                                        [](int32_t k, const PackedBlock::Group& g) { return k < g.firstKey; });
    if (after == b->groups.begin()) continue;
    bool hit = false;
    b->DecodeGroup(static_cast<size_t>(after - b->groups.begin() - 1), [&](int32_t k, int32_t v) {
      if (k == key) {
        found_ = v;
        hit = true;
      }
    });
    if (hit) return &found_;
  }
  return nullptr;
}

void CompactInt32Map::Clear() {
  full_.clear();
  full_.shrink_to_fit();
  tail_ = Block();
  tailSorted_ = 0;
}

size_t CompactInt32Map::MemoryBytes() const {
  size_t bytes = full_.capacity() * sizeof(PackedBlock) + tail_.capacity() * sizeof(Pair);
  for (const PackedBlock& b : full_) {
    bytes += b.groups.capacity() * sizeof(PackedBlock::Group) + b.words.capacity() * sizeof(uint64_t) +
             b.plain.capacity() * sizeof(Pair);
  }
  return bytes;
}

}  // namespace razere
