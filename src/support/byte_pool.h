// Large byte buffers that are given back for reuse.
//
// A run opens and closes a few dozen files, each with a read-ahead window or
// a write buffer of up to a mebibyte, and a fuzz target does so for every
// input. Fresh large blocks come from the system page by page; these are kept
// (a few, process-wide) and handed out again for the same size. Contents are
// undefined when handed out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace razere {

class PooledBytes {
 public:
  PooledBytes() = default;
  explicit PooledBytes(size_t size);
  ~PooledBytes();
  PooledBytes(PooledBytes&& o) noexcept : data_(o.data_), size_(o.size_) {
    o.data_ = nullptr;
    o.size_ = 0;
  }
  PooledBytes& operator=(PooledBytes&& o) noexcept;
  PooledBytes(const PooledBytes&) = delete;
  PooledBytes& operator=(const PooledBytes&) = delete;

  uint8_t* get() const { return data_; }
  size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  void Release() noexcept;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace razere
