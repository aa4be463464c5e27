// THashList: a byte-string-keyed hash list that keeps insertion order.
//
// Every entry sits both in one chain of a fixed bucket array and on one doubly
// linked list in insertion order, so a list serves at once as a set, a map and
// an ordered work queue. Keys are compared byte for byte (case-sensitive);
// callers that want case-insensitive names build name keys first. `Add` does
// not look for an existing key: when several entries share a key, `Find`,
// `Exists` and `Remove(key)` see the one added last.
//
// Memory: one allocation per entry, carved from a per-list arena, with the key
// bytes stored right after the node header; freed nodes go to a free list of
// their size class and are reused by later adds. A node costs 32 bytes of
// links + value + key length (40 for pointer-sized values) plus the key,
// rounded up to 8 bytes. The bucket array is `Size` pointers.
//
// The bucket count is fixed at creation and never changes; chains lengthen as
// entries are added.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace razere {

// MSB-first CRC tables: polynomial 0x07 (8-bit), 0x1021 (16-bit),
// 0x04C11DB7 (32-bit).
extern const std::array<uint8_t, 256> kCrc8Table;
extern const std::array<uint16_t, 256> kCrc16Table;
extern const std::array<uint32_t, 256> kCrc32Table;

// The key hashes. Keys shorter than 32 bytes feed every byte; longer keys feed
// the bytes at 0, s, 2s, ... (s = n / 32 + 1) while the position is below
// n - 1, so at most 32 bytes are fed and the last byte never is.
//   KeyHash8:  h = T8[h ^ b], from 0.
//   KeyHash16: r = T16[r >> 8] ^ (r << 8 & 0xFFFF) ^ b, from 0xFFFF, then two
//              rounds with b = 0.
//   KeyHash32: r = T32[r >> 24] ^ (r << 8) ^ b, from 0xFFFFFFFF, then four
//              rounds with b = 0. No final XOR.
uint32_t KeyHash8(std::string_view key);
uint32_t KeyHash16(std::string_view key);
uint32_t KeyHash32(std::string_view key);

// Calls feed(unsigned char) for each byte of `key` that the key hashes use.
template <class F>
inline void FeedKeyBytes(std::string_view key, F&& feed) {
  const auto* p = reinterpret_cast<const unsigned char*>(key.data());
  const size_t n = key.size();
  if (n < 32) {
    for (size_t i = 0; i < n; ++i) feed(p[i]);
    return;
  }
  const size_t step = n / 32 + 1;
  for (size_t i = 0; i < n - 1; i += step) feed(p[i]);
}

// The bucket of `key` in a list of `size` buckets (size >= 1): KeyHash8 mod
// size up to 256 buckets, KeyHash16 mod size up to 65,536, else
// (KeyHash32 AND (size - 1)) mod size.
uint32_t HashListBucket(std::string_view key, int32_t size);

namespace hashlist_detail {

// Bump allocator for list nodes with one free list per size class. Sizes are
// rounded up to the granule; blocks grow from 4 KiB to 1 MiB. Nodes above
// kMaxPooled bytes bypass the arena (plain operator new/delete).
class NodeArena {
 public:
  static constexpr size_t kMaxPooled = 1024;

  explicit NodeArena(size_t granule);
  ~NodeArena();
  NodeArena(NodeArena&& other) noexcept;
  NodeArena& operator=(NodeArena&& other) noexcept;
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;

  // `bytes` must be the same in the matching Release.
  void* Allocate(size_t bytes);
  void Release(void* p, size_t bytes) noexcept;
  // Frees every block; pooled nodes become invalid. Large nodes must have
  // been released before.
  void Reset() noexcept;

  static bool IsPooled(size_t bytes) { return bytes <= kMaxPooled; }

 private:
  size_t RoundUp(size_t bytes) const { return (bytes + granule_ - 1) / granule_ * granule_; }
  void PushFree(void* p, size_t rounded) noexcept;
  void Swap(NodeArena& other) noexcept;

  size_t granule_;
  std::vector<void*> blocks_;
  std::vector<void*> free_;  // head of each size class (index = rounded / granule); lazily sized
  std::byte* cur_ = nullptr;
  size_t left_ = 0;
  size_t nextBlock_ = 4096;
};

// Bucket tables: arrays of count null pointers. Large tables that a list
// gives back are kept (a few) for the next list of the same size, since a
// run, and a fuzz target for every input, builds and frees the same lists
// again; fresh ones come zeroed from calloc, so untouched buckets cost nothing.
void** AllocateBuckets(size_t count);
// allNull: the caller has emptied every bucket it used, so nothing needs
// clearing (clearing a large table would touch pages never used).
void ReleaseBuckets(void** table, size_t count, bool allNull) noexcept;

}  // namespace hashlist_detail

template <class T>
class THashList {
 public:
  class Node {
   public:
    Node* Next() { return next_; }
    const Node* Next() const { return next_; }
    Node* Prev() { return prev_; }
    const Node* Prev() const { return prev_; }
    std::string_view Key() const {
      return {reinterpret_cast<const char*>(this) + sizeof(Node), keyLen_};
    }

    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

   private:
    friend class THashList;
    Node(T&& item, uint32_t keyLen) : Item(std::move(item)), keyLen_(keyLen) {}
    ~Node() = default;
    char* KeyData() { return reinterpret_cast<char*>(this) + sizeof(Node); }

    Node* link_ = nullptr;  // next in the same bucket chain
    Node* prev_ = nullptr;  // insertion order
    Node* next_ = nullptr;

   public:
    T Item;

   private:
    uint32_t keyLen_;
    // The key's bytes follow the node in the same allocation.
  };

  // Walks in insertion order. The next node is read before the current one is
  // handed out, so removing the current node inside a range-for is safe;
  // removing any other node that the walk has not reached yet is not.
  template <class N>
  class BasicIterator {
   public:
    BasicIterator() = default;
    explicit BasicIterator(N* n) : cur_(n), next_(n ? n->Next() : nullptr) {}
    N& operator*() const { return *cur_; }
    N* operator->() const { return cur_; }
    BasicIterator& operator++() {
      cur_ = next_;
      next_ = cur_ ? cur_->Next() : nullptr;
      return *this;
    }
    bool operator==(const BasicIterator& o) const { return cur_ == o.cur_; }
    bool operator!=(const BasicIterator& o) const { return cur_ != o.cur_; }

   private:
    N* cur_ = nullptr;
    N* next_ = nullptr;
  };
  using iterator = BasicIterator<Node>;
  using const_iterator = BasicIterator<const Node>;

  // ASize >= 1 buckets; fewer throws std::invalid_argument.
  explicit THashList(int32_t ASize) : arena_(kGranule), size_(ASize) {
    if (ASize < 1) throw std::invalid_argument("THashList: bucket count must be at least 1");
    buckets_ = BucketTable(reinterpret_cast<Node**>(hashlist_detail::AllocateBuckets(static_cast<size_t>(ASize))),
                           FreeBuckets{static_cast<size_t>(ASize)});
  }
  ~THashList() {
    if (buckets_ && EmptyUsedBuckets()) {
      hashlist_detail::ReleaseBuckets(reinterpret_cast<void**>(buckets_.release()), static_cast<size_t>(size_), true);
    }
    DestroyNodes();
  }

  // A moved-from list may only be destroyed or assigned to.
  THashList(THashList&& o) noexcept
      : arena_(std::move(o.arena_)),
        buckets_(std::move(o.buckets_)),
        first_(std::exchange(o.first_, nullptr)),
        last_(std::exchange(o.last_, nullptr)),
        size_(o.size_),
        count_(std::exchange(o.count_, 0)),
        largeNodes_(std::exchange(o.largeNodes_, 0)) {}
  THashList& operator=(THashList&& o) noexcept {
    if (this != &o) {
      DestroyNodes();
      arena_ = std::move(o.arena_);
      buckets_ = std::move(o.buckets_);
      first_ = std::exchange(o.first_, nullptr);
      last_ = std::exchange(o.last_, nullptr);
      size_ = o.size_;
      count_ = std::exchange(o.count_, 0);
      largeNodes_ = std::exchange(o.largeNodes_, 0);
    }
    return *this;
  }
  THashList(const THashList&) = delete;
  THashList& operator=(const THashList&) = delete;

  // Appends a new entry, even when the key is already present.
  Node* Add(std::string_view key, T item) {
    if (key.size() > UINT32_MAX) throw std::length_error("THashList: key too long");
    const size_t bytes = NodeBytes(key.size());
    void* mem = arena_.Allocate(bytes);
    Node* n = nullptr;
    try {
      n = ::new (mem) Node(std::move(item), static_cast<uint32_t>(key.size()));
    } catch (...) {
      arena_.Release(mem, bytes);
      throw;
    }
    if (!key.empty()) std::memcpy(n->KeyData(), key.data(), key.size());
    if (!hashlist_detail::NodeArena::IsPooled(bytes)) ++largeNodes_;

    Node*& head = buckets_[HashListBucket(key, size_)];
    n->link_ = head;
    head = n;

    n->prev_ = last_;
    if (last_) last_->next_ = n;
    else first_ = n;
    last_ = n;
    ++count_;
    return n;
  }

  // The value of the entry added last with this key, or nullptr.
  T* Find(std::string_view key) {
    Node* n = Lookup(key);
    return n ? &n->Item : nullptr;
  }
  const T* Find(std::string_view key) const {
    const Node* n = const_cast<THashList*>(this)->Lookup(key);
    return n ? &n->Item : nullptr;
  }
  // The entry added last with this key, or nullptr.
  Node* FindNode(std::string_view key) { return Lookup(key); }

  bool Exists(std::string_view key) const { return const_cast<THashList*>(this)->Lookup(key) != nullptr; }

  // Removes the entry added last with this key; false when none matches.
  bool Remove(std::string_view key) {
    Node** pp = &buckets_[HashListBucket(key, size_)];
    for (; *pp; pp = &(*pp)->link_) {
      if (KeyEquals(*pp, key)) {
        Unlink(pp);
        return true;
      }
    }
    return false;
  }

  // Removes exactly this entry (not merely the newest one with its key, which
  // would leave a walk holding a freed node when keys repeat). False when the
  // node is not an entry of this list.
  bool Remove(Node* node) {
    if (!node) return false;
    Node** pp = &buckets_[HashListBucket(node->Key(), size_)];
    for (; *pp; pp = &(*pp)->link_) {
      if (*pp == node) {
        Unlink(pp);
        return true;
      }
    }
    return false;
  }

  // Removes every entry; the list can be reused.
  void Clear() {
    if (buckets_ && !EmptyUsedBuckets()) std::fill_n(buckets_.get(), static_cast<size_t>(size_), nullptr);
    DestroyNodes();
    arena_.Reset();
    first_ = last_ = nullptr;
    count_ = 0;
    largeNodes_ = 0;
  }

  Node* First() { return first_; }
  const Node* First() const { return first_; }
  Node* Last() { return last_; }
  const Node* Last() const { return last_; }
  int32_t Count() const { return count_; }
  int32_t Size() const { return size_; }
  std::string_view Keys(const Node* n) const { return n->Key(); }

  iterator begin() { return iterator(first_); }
  iterator end() { return iterator(); }
  const_iterator begin() const { return const_iterator(first_); }
  const_iterator end() const { return const_iterator(); }

  // Length of the chain of bucket i (0 <= i < Size()); for tests and tuning.
  int64_t ChainLength(int32_t i) const {
    int64_t len = 0;
    for (const Node* n = buckets_[static_cast<size_t>(i)]; n; n = n->link_) ++len;
    return len;
  }

 private:
  static constexpr size_t kGranule = alignof(Node) > 8 ? alignof(Node) : 8;

  static size_t NodeBytes(size_t keyLen) { return sizeof(Node) + keyLen; }

  static bool KeyEquals(const Node* n, std::string_view key) {
    return n->keyLen_ == key.size() &&
           (key.empty() || std::memcmp(n->Key().data(), key.data(), key.size()) == 0);
  }

  Node* Lookup(std::string_view key) {
    for (Node* n = buckets_[HashListBucket(key, size_)]; n; n = n->link_) {
      if (KeyEquals(n, key)) return n;
    }
    return nullptr;
  }

  // *pp is the node; pp is its bucket head or its chain predecessor's link.
  void Unlink(Node** pp) {
    Node* n = *pp;
    *pp = n->link_;
    if (n->next_) n->next_->prev_ = n->prev_;
    else last_ = n->prev_;
    if (n->prev_) n->prev_->next_ = n->next_;
    else first_ = n->next_;
    --count_;
    FreeNode(n);
  }

  void FreeNode(Node* n) {
    const size_t bytes = NodeBytes(n->keyLen_);
    n->~Node();
    if (!hashlist_detail::NodeArena::IsPooled(bytes)) --largeNodes_;
    arena_.Release(n, bytes);
  }

  // Runs value destructors and frees nodes the arena does not own. Pooled
  // nodes of trivially destructible values go with the arena's blocks.
  // A list with few entries in a large table empties just their buckets
  // (true); clearing the whole table would touch every page of it.
  bool EmptyUsedBuckets() {
    if (count_ >= size_ / 8) return false;
    for (const Node* n = first_; n; n = n->next_) buckets_[HashListBucket(n->Key(), size_)] = nullptr;
    return true;
  }

  void DestroyNodes() {
    if (std::is_trivially_destructible_v<T> && largeNodes_ == 0) return;
    for (Node* n = first_; n;) {
      Node* next = n->next_;
      const size_t bytes = NodeBytes(n->keyLen_);
      n->~Node();
      if (!hashlist_detail::NodeArena::IsPooled(bytes)) arena_.Release(n, bytes);
      n = next;
    }
    first_ = last_ = nullptr;
    largeNodes_ = 0;
  }

  hashlist_detail::NodeArena arena_;
  struct FreeBuckets {
    size_t count = 0;
    void operator()(Node** p) const { hashlist_detail::ReleaseBuckets(reinterpret_cast<void**>(p), count, false); }
  };
  using BucketTable = std::unique_ptr<Node*[], FreeBuckets>;
  BucketTable buckets_;
  Node* first_ = nullptr;
  Node* last_ = nullptr;
  int32_t size_;
  int32_t count_ = 0;
  int64_t largeNodes_ = 0;
};

}  // namespace razere
