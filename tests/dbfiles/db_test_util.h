// Small record database files built in code for the dbfiles tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "dbfiles/db_format.h"
#include "fixtures/portable.h"
#include "dbfiles/db_header.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"

namespace razere::testing {

// A fresh folder under the system temp folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    path_ = MakeTempFolder("razere-dbfiles-");
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

using Bytes = std::vector<uint8_t>;

// A zero-filled record of the kind with its record key and body name set and
// the deleted flag as given.
inline Bytes MakeRecord(DbKind kind, std::string_view name, uint8_t deleted = 0) {
  const DbKindInfo& info = KindInfo(kind);
  Bytes rec(info.recordSize, 0);
  rec[info.deletedFlag] = deleted;
  WriteNameField(rec.data() + info.key, name);
  WriteNameField(rec.data() + info.body, name);
  return rec;
}

inline Bytes MakeIndexRecord(std::string_view name, std::string_view account, uint8_t heroFlag = 0) {
  Bytes rec = MakeRecord(DbKind::Hum, name);
  WriteNameField(rec.data() + index_rec::kAccount, account);
  rec[index_rec::kHeroFlag] = heroFlag;
  return rec;
}

// Header with the given nRecordCount followed by the records, back to back.
inline Bytes MakeFileBytes(DbKind kind, int32_t headerCount, const std::vector<Bytes>& records) {
  DbHeaderBytes h = BuildHeader(kind, headerCount, 1.0, 1.0);
  Bytes out(h.begin(), h.end());
  for (const Bytes& r : records) out.insert(out.end(), r.begin(), r.end());
  return out;
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) std::abort();
}

inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::string NameAtOffset(const Bytes& bytes, size_t offset) { return ReadNameField(bytes.data() + offset); }

}  // namespace razere::testing
