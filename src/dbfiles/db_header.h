// The 124-byte file header (layout in db_format.h).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "dbfiles/db_format.h"

namespace razere {

using DbHeaderBytes = std::array<uint8_t, db_header::kSize>;

// The fields the merger reads. The header text, markers and dates are never read.
struct DbHeader {
  int32_t version = 0;      // nVersion
  int32_t recordSize = 0;   // nRecordSize as stored (0 in ID.DB)
  int32_t recordCount = 0;  // nRecordCount
};

DbHeader ParseHeader(const DbHeaderBytes& bytes);

// A header as the write pass writes it: zeros, then the kind's header text,
// version, record size and markers, the two write times, and recordCount.
DbHeaderBytes BuildHeader(DbKind kind, int32_t recordCount, double writtenAt1, double writtenAt2);

// The database version of a record database file: the int32 at offset 36 of
// its header. A missing file gives kRequiredDbVersion (nothing to check); an
// existing file shorter than the header gives 0, which no check accepts. The
// file is read without locking. Throws FileError when an existing file cannot
// be read.
int32_t ReadDbVersion(const std::filesystem::path& path);

}  // namespace razere
