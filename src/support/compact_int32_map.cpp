#include "support/compact_int32_map.h"

#include <algorithm>

namespace razere {

namespace {

struct KeyLess {
  template <class P>
  bool operator()(const P& a, const P& b) const {
    return a.key < b.key;
  }
};

}  // namespace

void CompactInt32Map::Add(int32_t key, int32_t value) {
  if (tail_.size() == kBlockEntries) {
    SortTail();
    full_.push_back(std::move(tail_));
    tail_ = Block();
    // The map is large: the next block gets its whole size at once instead
    // of growing through copies.
    tail_.reserve(kBlockEntries);
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
    if (const Pair* p = LastOf(b->data(), b->data() + b->size(), key)) return &p->value;
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
  size_t bytes = full_.capacity() * sizeof(Block) + tail_.capacity() * sizeof(Pair);
  for (const Block& b : full_) bytes += b.capacity() * sizeof(Pair);
  return bytes;
}

}  // namespace razere
