#include "dbfiles/db_header.h"

#include <system_error>

#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/source_file.h"
#include "support/file_system.h"

namespace razere {

DbHeader ParseHeader(const DbHeaderBytes& bytes) {
  DbHeader h;
  h.version = LoadInt32LE(bytes.data() + db_header::kVersion);
  h.recordSize = LoadInt32LE(bytes.data() + db_header::kRecordSize);
  h.recordCount = LoadInt32LE(bytes.data() + db_header::kRecordCount);
  return h;
}

DbHeaderBytes BuildHeader(DbKind kind, int32_t recordCount, double writtenAt1, double writtenAt2) {
  const DbKindInfo& info = KindInfo(kind);
  DbHeaderBytes h{};
  WriteNameField(h.data() + db_header::kText, info.headerText);
  StoreInt32LE(h.data() + db_header::kVersion, info.version);
  StoreInt32LE(h.data() + db_header::kRecordSize, info.recordSizeField);
  StoreInt32LE(h.data() + db_header::kMarker1, info.marker1);
  StoreDoubleLE(h.data() + db_header::kDate1, writtenAt1);
  StoreInt32LE(h.data() + db_header::kRecordCount, recordCount);
  StoreInt32LE(h.data() + db_header::kMarker2, info.marker2);
  StoreDoubleLE(h.data() + db_header::kDate2, writtenAt2);
  return h;
}

int32_t ReadDbVersion(const std::filesystem::path& path) {
  if (Fs().KindOf(path) == FileKind::None) return kRequiredDbVersion;
  DbSourceFile file(path);
  DbHeaderBytes bytes{};
  if (file.ReadAt(0, bytes.data(), bytes.size()) < bytes.size()) return 0;
  return ParseHeader(bytes).version;
}

}  // namespace razere
