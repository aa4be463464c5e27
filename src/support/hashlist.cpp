#include "support/hashlist.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace razere {

namespace {

template <class U, unsigned Bits>
constexpr std::array<U, 256> MakeCrcTable(U poly) {
  std::array<U, 256> table{};
  constexpr U top = static_cast<U>(U{1} << (Bits - 1));
  for (unsigned i = 0; i < 256; ++i) {
    U r = static_cast<U>(static_cast<U>(i) << (Bits - 8));
    for (int bit = 0; bit < 8; ++bit) {
      r = (r & top) ? static_cast<U>(static_cast<U>(r << 1) ^ poly) : static_cast<U>(r << 1);
    }
    table[i] = r;
  }
  return table;
}

}  // namespace

constexpr std::array<uint8_t, 256> kCrc8TableInit = MakeCrcTable<uint8_t, 8>(0x07);
constexpr std::array<uint16_t, 256> kCrc16TableInit = MakeCrcTable<uint16_t, 16>(0x1021);
constexpr std::array<uint32_t, 256> kCrc32TableInit = MakeCrcTable<uint32_t, 32>(0x04C11DB7u);
static_assert(kCrc8TableInit[1] == 0x07 && kCrc8TableInit[2] == 0x0E && kCrc8TableInit[3] == 0x09);
static_assert(kCrc16TableInit[1] == 0x1021 && kCrc16TableInit[2] == 0x2042);
static_assert(kCrc32TableInit[1] == 0x04C11DB7u);

const std::array<uint8_t, 256> kCrc8Table = kCrc8TableInit;
const std::array<uint16_t, 256> kCrc16Table = kCrc16TableInit;
const std::array<uint32_t, 256> kCrc32Table = kCrc32TableInit;

namespace hashlist_detail {

namespace {

// Below this a table comes from the allocator's own pools anyway.
constexpr size_t kKeepFromBytes = 64 << 10;
constexpr size_t kKeepAtMost = 64;  // a run holds a few dozen lists at once

struct KeptTables {
  std::mutex mu;
  std::vector<std::pair<size_t, void**>> tables;  // count, table (all null)
  ~KeptTables() {
    for (auto& [count, t] : tables) std::free(t);
  }
};

KeptTables& Kept() {
  static KeptTables kept;
  return kept;
}

}  // namespace

void** AllocateBuckets(size_t count) {
  if (count * sizeof(void*) >= kKeepFromBytes) {
    KeptTables& k = Kept();
    std::lock_guard lock(k.mu);
    for (size_t i = 0; i < k.tables.size(); ++i) {
      if (k.tables[i].first == count) {
        void** t = k.tables[i].second;
        k.tables.erase(k.tables.begin() + static_cast<std::ptrdiff_t>(i));
        return t;
      }
    }
  }
  void** t = static_cast<void**>(std::calloc(count, sizeof(void*)));
  if (!t) throw std::bad_alloc();
  return t;
}

void ReleaseBuckets(void** table, size_t count, bool allNull) noexcept {
  if (!table) return;
  if (count * sizeof(void*) >= kKeepFromBytes) {
    KeptTables& k = Kept();
    std::lock_guard lock(k.mu);
    if (k.tables.size() < kKeepAtMost) {
      if (!allNull) std::fill_n(table, count, nullptr);
      k.tables.emplace_back(count, table);
      return;
    }
  }
  std::free(table);
}

}  // namespace hashlist_detail

uint32_t KeyHash8(std::string_view key) {
  uint32_t h = 0;
  FeedKeyBytes(key, [&h](unsigned char b) { h = kCrc8TableInit[(h ^ b) & 0xFF]; });
  return h;
}

uint32_t KeyHash16(std::string_view key) {
  uint32_t r = 0xFFFF;
  auto round = [&r](unsigned char b) { r = kCrc16TableInit[r >> 8] ^ ((r << 8) & 0xFFFF) ^ b; };
  FeedKeyBytes(key, round);
  round(0);
  round(0);
  return r;
}

uint32_t KeyHash32(std::string_view key) {
  uint32_t r = 0xFFFFFFFFu;
  auto round = [&r](unsigned char b) { r = kCrc32TableInit[r >> 24] ^ (r << 8) ^ b; };
  FeedKeyBytes(key, round);
  for (int i = 0; i < 4; ++i) round(0);
  return r;
}

uint32_t HashListBucket(std::string_view key, int32_t size) {
  const auto usize = static_cast<uint32_t>(size);
  if (size <= 256) return KeyHash8(key) % usize;
  if (size <= 65536) return KeyHash16(key) % usize;
  return (KeyHash32(key) & (usize - 1)) % usize;
}

namespace hashlist_detail {

namespace {
constexpr size_t kMaxBlock = size_t{1} << 20;
constexpr size_t kFirstBlock = 4096;
}  // namespace

NodeArena::NodeArena(size_t granule) : granule_(granule) {}

NodeArena::~NodeArena() { Reset(); }

NodeArena::NodeArena(NodeArena&& other) noexcept : granule_(other.granule_) { Swap(other); }

NodeArena& NodeArena::operator=(NodeArena&& other) noexcept {
  if (this != &other) {
    Reset();
    Swap(other);
  }
  return *this;
}

void NodeArena::Swap(NodeArena& other) noexcept {
  std::swap(granule_, other.granule_);
  blocks_.swap(other.blocks_);
  free_.swap(other.free_);
  std::swap(cur_, other.cur_);
  std::swap(left_, other.left_);
  std::swap(nextBlock_, other.nextBlock_);
}

void* NodeArena::Allocate(size_t bytes) {
  const size_t rounded = RoundUp(bytes);
  if (!IsPooled(bytes)) return ::operator new(rounded);
  const size_t cls = rounded / granule_;
  if (cls < free_.size() && free_[cls]) {
    void* p = free_[cls];
    free_[cls] = *static_cast<void**>(p);
    return p;
  }
  if (left_ < rounded) {
    // The unused tail of the old block becomes a free node of its size.
    if (left_ >= granule_) PushFree(cur_, left_);
    blocks_.reserve(blocks_.size() + 1);
    void* block = ::operator new(nextBlock_);
    blocks_.push_back(block);
    cur_ = static_cast<std::byte*>(block);
    left_ = nextBlock_;
    nextBlock_ = std::min(nextBlock_ * 2, kMaxBlock);
  }
  void* p = cur_;
  cur_ += rounded;
  left_ -= rounded;
  return p;
}

void NodeArena::Release(void* p, size_t bytes) noexcept {
  const size_t rounded = RoundUp(bytes);
  if (!IsPooled(bytes)) {
    ::operator delete(p);
    return;
  }
  PushFree(p, rounded);
}

void NodeArena::PushFree(void* p, size_t rounded) noexcept {
  const size_t cls = rounded / granule_;
  if (free_.size() <= cls) {
    // Sized once for every pooled class; a failure here only loses the
    // chance to reuse this node (it is freed with its block).
    try {
      free_.resize(kMaxPooled / granule_ + 2, nullptr);
    } catch (...) {
      return;
    }
  }
  *static_cast<void**>(p) = free_[cls];
  free_[cls] = p;
}

void NodeArena::Reset() noexcept {
  for (void* b : blocks_) ::operator delete(b);
  blocks_.clear();
  free_.clear();
  cur_ = nullptr;
  left_ = 0;
  nextBlock_ = kFirstBlock;
}

}  // namespace hashlist_detail

}  // namespace razere
