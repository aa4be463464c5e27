// A record database file opened for reading. The read pass opens it and the
// write pass of the same run reads records from it again by offset, so it
// stays open until the run's release step closes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "support/byte_pool.h"
#include "support/file_system.h"

namespace razere {

class DbSourceFile {
 public:
  // Read-only, taking no lock, so a running game server may keep the file
  // open. Throws FileError naming the path when the file cannot be opened.
  explicit DbSourceFile(std::filesystem::path path);
  ~DbSourceFile();
  DbSourceFile(const DbSourceFile&) = delete;
  DbSourceFile& operator=(const DbSourceFile&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Size in bytes when opened. The file is assumed not to change during a run.
  int64_t Size() const { return size_; }

  // Reads up to len bytes at offset into buf and returns how many arrived;
  // fewer than len only at the end of the file (none for a negative offset).
  // Throws FileError on an I/O error.
  size_t ReadAt(int64_t offset, void* buf, size_t len);

  // As ReadAt, for small reads that mostly move forward through the file:
  // served from a read-ahead window of kWindowSize bytes, so that records of a
  // few hundred bytes cost one system call per window, not one each.
  size_t ReadAtBuffered(int64_t offset, void* buf, size_t len);

  // len bytes at offset inside the read-ahead window, or nullptr when the
  // file holds fewer. Valid until the next call on this object. len must not
  // exceed kWindowSize.
  const uint8_t* View(int64_t offset, size_t len);

  static constexpr size_t kWindowSize = 1 << 20;

  // Gives the read-ahead window back once the run is done with the file's
  // records but keeps the file open (the run's release step closes it); a
  // later buffered read takes a new window.
  void ReleaseWindow() {
    window_ = PooledBytes();
    windowOffset_ = 0;
    windowLen_ = 0;
  }

 private:
  size_t WindowCapacity() const {
    return size_ < static_cast<int64_t>(kWindowSize) ? static_cast<size_t>(size_) : kWindowSize;
  }

  std::filesystem::path path_;
  std::unique_ptr<File> file_;
  int64_t size_ = 0;
  PooledBytes window_;  // read into before use; no bigger than the file
  int64_t windowOffset_ = 0;
  size_t windowLen_ = 0;
};

}  // namespace razere
