#include "dbfiles/db_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

#include "dbfiles/db_header.h"
#include "dbfiles/le_bytes.h"
#include "support/datetime.h"
#include "support/errors.h"

namespace razere {

static_assert(sizeof(off_t) == 8, "record files beyond 4 GiB need 64-bit file offsets");

DbWriter::DbWriter(std::filesystem::path target, DbKind kind, int32_t recordCount)
    : path_(std::move(target)),
      kind_(kind),
      recordSize_(KindInfo(kind).recordSize),
      buffered_(recordSize_ <= kBufferSize / 8),
      announced_(recordCount) {
  std::error_code ec;
  std::filesystem::remove(path_, ec);  // failure is fine: we overwrite instead
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) Fail("无法创建文件：", errno);

  buf_.resize(buffered_ ? kBufferSize : recordSize_);
  double first = NowDateTime();
  double second = NowDateTime();
  DbHeaderBytes header = BuildHeader(kind_, recordCount, first, second);
  WriteOut(header.data(), header.size());
}

DbWriter::~DbWriter() {
  if (fd_ >= 0) ::close(fd_);
}

void DbWriter::Fail(const char* what, int err) {
  throw FileError(std::string(what) + path_.string() + " (" + std::strerror(err) + ")");
}

void DbWriter::WriteOut(const uint8_t* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::pwrite(fd_, data, len, static_cast<off_t>(end_));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("写入文件失败：", errno);
    }
    if (n == 0) Fail("写入文件失败：", ENOSPC);
    data += n;
    len -= static_cast<size_t>(n);
    end_ += n;
  }
}

void DbWriter::Flush() {
  if (used_ == 0) return;
  size_t n = used_;
  used_ = 0;  // a failed write throws; nothing is retried
  WriteOut(buf_.data(), n);
}

bool DbWriter::Append(DbSourceFile& source, int64_t offset, const Patch& patch) {
  if (fd_ < 0) throw std::logic_error("DbWriter::Append after Close");
  uint8_t* rec;
  if (buffered_) {
    if (buf_.size() - used_ < recordSize_) Flush();
    rec = buf_.data() + used_;
    if (source.ReadAtBuffered(offset, rec, recordSize_) < recordSize_) return false;
  } else {
    rec = buf_.data();
    if (source.ReadAt(offset, rec, recordSize_) < recordSize_) return false;
  }
  if (patch) patch(std::span<uint8_t>(rec, recordSize_));
  if (buffered_) {
    used_ += recordSize_;
  } else {
    WriteOut(rec, recordSize_);
  }
  ++written_;
  return true;
}

void DbWriter::AppendRecord(std::span<const uint8_t> record) {
  if (fd_ < 0) throw std::logic_error("DbWriter::AppendRecord after Close");
  if (record.size() != recordSize_) throw std::invalid_argument("DbWriter::AppendRecord: wrong record size");
  Flush();
  WriteOut(record.data(), record.size());
  ++written_;
}

void DbWriter::Close() {
  if (fd_ < 0) return;
  try {
    Flush();
    if (written_ != announced_) {
      uint8_t count[4];
      StoreInt32LE(count, written_);
      ssize_t n;
      do {
        n = ::pwrite(fd_, count, sizeof count, db_header::kRecordCount);
      } while (n < 0 && errno == EINTR);
      if (n != static_cast<ssize_t>(sizeof count)) Fail("写入文件失败：", n < 0 ? errno : ENOSPC);
    }
    if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0) Fail("写入文件失败：", errno);
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("关闭文件失败：", errno);
}

}  // namespace razere
