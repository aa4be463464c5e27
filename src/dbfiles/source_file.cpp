#include "dbfiles/source_file.h"

#include <cstring>

namespace razere {

DbSourceFile::DbSourceFile(std::filesystem::path path)
    : path_(std::move(path)), file_(Fs().Open(path_, OpenMode::Read)), size_(file_->Size()) {}

DbSourceFile::~DbSourceFile() = default;

size_t DbSourceFile::ReadAt(int64_t offset, void* buf, size_t len) { return file_->ReadAt(offset, buf, len); }

const uint8_t* DbSourceFile::View(int64_t offset, size_t len) {
  if (offset < 0 || len > kWindowSize) return nullptr;
  bool inside = offset >= windowOffset_ &&
                static_cast<uint64_t>(offset - windowOffset_) + len <= windowLen_;
  if (!inside) {
    if (offset >= size_ || size_ - offset < static_cast<int64_t>(len)) return nullptr;
    if (!window_) window_ = PooledBytes(WindowCapacity());
    windowOffset_ = offset;
    windowLen_ = 0;  // stays empty if the read throws
    windowLen_ = ReadAt(offset, window_.get(), WindowCapacity());
    if (windowLen_ < len) return nullptr;
  }
  return window_.get() + (offset - windowOffset_);
}

size_t DbSourceFile::ReadAtBuffered(int64_t offset, void* buf, size_t len) {
  if (len > kWindowSize / 4) return ReadAt(offset, buf, len);
  if (const uint8_t* p = View(offset, len)) {
    std::memcpy(buf, p, len);
    return len;
  }
  // Fewer than len bytes in the window: the end of the file (or a file that
  // changed size). Let a direct read say how many there are.
  return ReadAt(offset, buf, len);
}

}  // namespace razere
