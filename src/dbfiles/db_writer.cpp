#include "dbfiles/db_writer.h"

#include <cstring>
#include <stdexcept>

#include "dbfiles/db_header.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/records.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/file_system.h"

namespace razere {

namespace {

// Small records are gathered into writes of this many bytes; big ones are
// written straight from the record buffer.
constexpr size_t kSmallRecordLimit = DbWriter::kBufferSize / 8;

// The slot whose name keys the kind's entries when they are loaded.
const NameSlot& LoadKeySlot(DbKind kind) {
  switch (kind) {
    case DbKind::ID: return account_rec::kSlots[account_rec::kNameSlot];
    case DbKind::Hum: return index_rec::kSlots[index_rec::kNameSlot];
    case DbKind::Qel: return chardata_rec::kSlots[chardata_rec::kNameSlot];
    case DbKind::HeroQel: return hero_rec::kSlots[hero_rec::kNameSlot];
  }
  throw std::logic_error("DbWriter: unknown record kind");
}

// The record is still the one the read pass kept: live (the read pass keeps
// no other, so a set flag is a change) and under the same name key.
bool AsLoaded(DbKind kind, const uint8_t* rec, size_t n, std::string_view loadedName) {
  if (rec[KindInfo(kind).deletedFlag] != 0) return false;
  return SameNameKey(ReadName(rec, n, LoadKeySlot(kind)), loadedName);
}

}  // namespace

DbWriter::DbWriter(std::filesystem::path target, DbKind kind, int32_t recordCount)
    : DbWriter(std::move(target), kind, recordCount, NowDateTime()) {}

DbWriter::DbWriter(std::filesystem::path target, DbKind kind, int32_t recordCount, double writeTime)
    : path_(std::move(target)),
      kind_(kind),
      recordSize_(KindInfo(kind).recordSize),
      buffered_(recordSize_ <= kSmallRecordLimit),
      announced_(recordCount) {
  try {
    Fs().Remove(path_);
  } catch (const FileError&) {
    // An undeletable target is overwritten from its start instead; Close cuts
    // what it held beyond the new end.
  }
  file_ = Fs().Open(path_, OpenMode::Create);
  out_.emplace(*file_, 0, buffered_ ? kBufferSize : 0);
  if (!buffered_) buf_ = PooledBytes(recordSize_);
  // The header carries the write time twice, as the server writes it.
  DbHeaderBytes header = BuildHeader(kind_, recordCount, writeTime, writeTime);
  out_->Append(header.data(), header.size());
}

DbWriter::~DbWriter() = default;

uint8_t* DbWriter::NextSlot() {
  if (!file_) throw std::logic_error("DbWriter: record after Close");
  if (buffered_) return out_->Reserve(recordSize_);
  return buf_.get();
}

void DbWriter::Commit(uint8_t* rec) {
  if (!buffered_) out_->Append(rec, recordSize_);
  ++written_;
}

bool DbWriter::Append(DbSourceFile& source, int64_t offset, std::string_view loadedName, const Patch& patch) {
  uint8_t* rec = NextSlot();
  const size_t got = buffered_ ? source.ReadAtBuffered(offset, rec, recordSize_) : source.ReadAt(offset, rec, recordSize_);
  if (got < recordSize_ || !AsLoaded(kind_, rec, recordSize_, loadedName)) {
    if (buffered_) out_->Unreserve(recordSize_);
    return false;
  }
  if (patch) patch(std::span<uint8_t>(rec, recordSize_));
  Commit(rec);
  return true;
}

void DbWriter::AppendRecord(std::span<const uint8_t> record) {
  if (record.size() != recordSize_) throw std::invalid_argument("DbWriter::AppendRecord: wrong record size");
  uint8_t* rec = NextSlot();
  std::memcpy(rec, record.data(), recordSize_);
  Commit(rec);
}

void DbWriter::AppendNew(const std::function<void(std::span<uint8_t> record)>& fill) {
  uint8_t* rec = NextSlot();
  std::memset(rec, 0, recordSize_);
  fill(std::span<uint8_t>(rec, recordSize_));
  Commit(rec);
}

void DbWriter::SkipRecords(int64_t count) {
  if (!file_) throw std::logic_error("DbWriter: record after Close");
  if (count <= 0) return;
  out_->Flush();
  out_->Skip(count * static_cast<int64_t>(recordSize_));
  written_ += static_cast<int32_t>(count);
}

void DbWriter::Close() {
  if (!file_) return;
  std::unique_ptr<File> file = std::move(file_);
  out_->Flush();
  if (written_ != announced_) {
    uint8_t count[4];
    StoreInt32LE(count, written_);
    file->WriteAt(db_header::kRecordCount, count, sizeof count);
  }
  // Also gives skipped slots at the end their length.
  file->Truncate(out_->Offset());
  out_.reset();
  file->Close();
}

void ThrowSourceChanged(const std::filesystem::path& file) {
  throw std::runtime_error("合区过程中数据文件被改动：" + TextOfPath(file) + "，请先关闭游戏服务器！！！");
}

}  // namespace razere
