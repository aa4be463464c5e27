#include "support/byte_pool.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace razere {

namespace {

// Smaller blocks come from the allocator's own pools anyway.
constexpr size_t kKeepFrom = 64 << 10;
// Files are opened and closed mostly one after another, so a few blocks
// serve them; every kept block stays resident to the end of the run.
constexpr size_t kKeepAtMost = 4;

struct Kept {
  std::mutex mu;
  std::vector<std::pair<size_t, uint8_t*>> blocks;
  ~Kept() {
    for (auto& [size, p] : blocks) delete[] p;
  }
};

Kept& Pool() {
  static Kept kept;
  return kept;
}

}  // namespace

PooledBytes::PooledBytes(size_t size) : size_(size) {
  if (size >= kKeepFrom) {
    Kept& k = Pool();
    std::lock_guard lock(k.mu);
    for (size_t i = 0; i < k.blocks.size(); ++i) {
      if (k.blocks[i].first == size) {
        data_ = k.blocks[i].second;
        k.blocks.erase(k.blocks.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }
  data_ = new uint8_t[size];
}

PooledBytes::~PooledBytes() { Release(); }

PooledBytes& PooledBytes::operator=(PooledBytes&& o) noexcept {
  if (this != &o) {
    Release();
    data_ = std::exchange(o.data_, nullptr);
    size_ = std::exchange(o.size_, 0);
  }
  return *this;
}

void PooledBytes::Release() noexcept {
  if (!data_) return;
  if (size_ >= kKeepFrom) {
    Kept& k = Pool();
    std::lock_guard lock(k.mu);
    if (k.blocks.size() < kKeepAtMost) {
      k.blocks.emplace_back(size_, data_);
      data_ = nullptr;
      return;
    }
  }
  delete[] data_;
  data_ = nullptr;
}

}  // namespace razere
