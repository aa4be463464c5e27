// The read pass: turns a record database file into the entries a stage keeps.
//
// Only the first KindInfo(kind).readPrefix bytes of each live record reach the
// handler: the whole record for ID.DB and Hum.DB, the leading fields (every
// name, the level, the last login and the role id) for Qel.DB and HeroQel.DB,
// whose records are hundreds of kilobytes. The write pass re-reads the whole
// record by its offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "dbfiles/db_format.h"
#include "dbfiles/source_file.h"
#include "support/progress.h"

namespace razere {

// offset: byte offset of the record in its file. bytes/n: the record's first
// n bytes, n == KindInfo(kind).readPrefix; valid only during the call.
using RecordHandler = std::function<void(int64_t offset, const uint8_t* bytes, size_t n)>;

struct ReadPassStats {
  int32_t headerCount = 0;  // nRecordCount (0 when the header is short)
  int32_t complete = 0;     // records present in full, deleted ones included
  int32_t handled = 0;      // live records passed to the handler
};

// A record is live when its deleted flag is 0 and the names its kind requires
// are not empty: the account name (ID.DB), the name and the account (Hum.DB),
// the name (Qel.DB, HeroQel.DB). n is the number of bytes at rec; a record
// too short to hold those fields is not live.
bool IsLiveRecord(DbKind kind, const uint8_t* rec, size_t n);

// Reads the header, sets the progress maximum to nRecordCount and the position
// to 0, then for each record up to nRecordCount: ShowStatusText(1, loadText),
// stop at the first record the file does not hold in full, skip records that
// are not live, call handler. A header shorter than 124 bytes means no
// records and no progress change.
// Throws FileError on a read error and RunInterrupted when the host is
// shutting down (a load cut short must not produce a merged data set).
ReadPassStats ReadRecords(DbSourceFile& file, DbKind kind, Progress& progress, std::string_view loadText,
                          const RecordHandler& handler);

// Opens path (FileError when it cannot be opened), runs ReadRecords and
// returns the file, still open, for the write pass.
std::unique_ptr<DbSourceFile> ReadPass(const std::filesystem::path& path, DbKind kind, Progress& progress,
                                       std::string_view loadText, const RecordHandler& handler);

}  // namespace razere
