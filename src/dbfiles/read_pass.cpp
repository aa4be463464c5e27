#include "dbfiles/read_pass.h"

#include <vector>

#include "dbfiles/db_header.h"
#include "dbfiles/name_field.h"
#include "support/errors.h"

namespace razere {

namespace {

bool NamePresent(const uint8_t* rec, size_t n, size_t offset) {
  return offset + name_field::kSize <= n && !NameFieldEmpty(rec + offset);
}

}  // namespace

bool IsLiveRecord(DbKind kind, const uint8_t* rec, size_t n) {
  const DbKindInfo& info = KindInfo(kind);
  if (info.deletedFlag >= n || rec[info.deletedFlag] != 0) return false;
  switch (kind) {
    case DbKind::ID:
      return NamePresent(rec, n, account_rec::kName);
    case DbKind::Hum:
      return NamePresent(rec, n, index_rec::kName) && NamePresent(rec, n, index_rec::kAccount);
    case DbKind::Qel:
      return NamePresent(rec, n, chardata_rec::kName);
    case DbKind::HeroQel:
      return NamePresent(rec, n, hero_rec::kName);
  }
  return false;
}

ReadPassStats ReadRecords(DbSourceFile& file, DbKind kind, Progress& progress, std::string_view loadText,
                          const RecordHandler& handler) {
  ReadPassStats stats;
  DbHeaderBytes header{};
  if (file.ReadAt(0, header.data(), header.size()) < header.size()) return stats;
  stats.headerCount = ParseHeader(header).recordCount;

  progress.SetMax(stats.headerCount);
  progress.SetPosition(0);

  const DbKindInfo& info = KindInfo(kind);
  const int64_t recordSize = info.recordSize;
  const size_t prefix = info.readPrefix;
  // Small records come through the file's read-ahead window; big ones are
  // read prefix only, one read per record.
  const bool windowed = recordSize <= static_cast<int64_t>(DbSourceFile::kWindowSize / 4);
  std::vector<uint8_t> prefixBuf(windowed ? 0 : prefix);

  int64_t offset = db_header::kSize;
  for (int32_t i = 0; i < stats.headerCount; ++i, offset += recordSize) {
    progress.ShowStatusText(1, loadText);
    if (file.Size() - offset < recordSize) break;  // record cut short: the file ends here

    const uint8_t* bytes;
    if (windowed) {
      bytes = file.View(offset, prefix);
    } else {
      bytes = file.ReadAt(offset, prefixBuf.data(), prefix) == prefix ? prefixBuf.data() : nullptr;
    }
    if (bytes == nullptr) break;  // the file shrank since it was opened
    ++stats.complete;

    if (IsLiveRecord(kind, bytes, prefix)) {
      ++stats.handled;
      handler(offset, bytes, prefix);
    }
    progress.ThrowIfInterrupted();
  }
  return stats;
}

std::unique_ptr<DbSourceFile> ReadPass(const std::filesystem::path& path, DbKind kind, Progress& progress,
                                       std::string_view loadText, const RecordHandler& handler) {
  auto file = std::make_unique<DbSourceFile>(path);
  ReadRecords(*file, kind, progress, loadText, handler);
  return file;
}

}  // namespace razere
