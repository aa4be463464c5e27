// The write pass: a new record database file built from entries.
//
// Each entry's record is read again from its source file by offset into one
// reused buffer, patched in place and appended. Small records (ID.DB, Hum.DB)
// are gathered into large writes; big ones are written straight from the
// record buffer. No record is held in memory beyond that buffer.
//
// Usage:
//   DbWriter w(savePath / "Qel.DB", DbKind::Qel, count);
//   for (entry : entries) w.Append(*sourceOf(entry), entry.offset, entry.name, [&](std::span<uint8_t> rec) { ... });
//   w.Close();
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/source_file.h"
#include "support/byte_pool.h"
#include "support/file_system.h"

namespace razere {

class DbWriter {
 public:
  // The whole record in the buffer, KindInfo(kind).recordSize bytes; the
  // patch may change any byte.
  using Patch = std::function<void(std::span<uint8_t> record)>;

  // Deletes an existing target (or, when that fails, overwrites it from its
  // start), then writes the kind's header with nRecordCount = recordCount and
  // the write time (a date-time; the current one unless given) twice. Throws
  // FileError naming the target.
  DbWriter(std::filesystem::path target, DbKind kind, int32_t recordCount);
  DbWriter(std::filesystem::path target, DbKind kind, int32_t recordCount, double writeTime);

  // Closes an unclosed file without checks: only reached when an error is
  // already ending the run.
  ~DbWriter();
  DbWriter(const DbWriter&) = delete;
  DbWriter& operator=(const DbWriter&) = delete;

  // Reads the record at offset of source, which the read pass found live
  // under the name loadedName (its name slot: the account name, the
  // character's or the hero's name). When the source no longer holds that
  // record there (fewer than a whole record, the deleted flag set, or a name
  // with another name key) writes nothing and returns false: the source
  // changed since it was read (see ThrowSourceChanged). Otherwise applies
  // patch (if any) and appends the record. Throws FileError on I/O errors.
  bool Append(DbSourceFile& source, int64_t offset, std::string_view loadedName, const Patch& patch = {});

  // Appends a record given in full (generators and tests); record.size() must
  // be the kind's record size, else std::invalid_argument.
  void AppendRecord(std::span<const uint8_t> record);

  // Appends a record that fill writes into a zeroed record buffer.
  void AppendNew(const std::function<void(std::span<uint8_t> record)>& fill);

  // Leaves count empty record slots: counted as records, never written, so
  // that they stay holes of the file that read as zeros.
  void SkipRecords(int64_t count);

  // Writes what is buffered, makes nRecordCount equal to the records actually
  // written (entries skipped for a short read leave no hole in the count),
  // cuts off anything an old, undeletable target held beyond the new end, and
  // closes. Throws FileError naming the target; the file is closed either way.
  void Close();

  const std::filesystem::path& Path() const { return path_; }
  DbKind Kind() const { return kind_; }
  int32_t Announced() const { return announced_; }  // the count the header was written with
  int32_t Written() const { return written_; }      // records appended (and slots skipped) so far

  // Output buffer size for small records.
  static constexpr size_t kBufferSize = 1 << 20;

 private:
  uint8_t* NextSlot();
  void Commit(uint8_t* rec);

  std::filesystem::path path_;
  DbKind kind_;
  size_t recordSize_;
  bool buffered_;
  int32_t announced_ = 0;
  int32_t written_ = 0;
  std::unique_ptr<File> file_;          // null once closed
  std::optional<FileAppender> out_;     // appends to file_; small records gather in its buffer
  PooledBytes buf_;                     // big records: the record buffer, read into before use
};

// Ends the run: a record file is no longer what the run read from it (a
// game server left running writes it). The message names the file.
[[noreturn]] void ThrowSourceChanged(const std::filesystem::path& file);

}  // namespace razere
