// Two small server installations built in code for the merge tests: account,
// index, character and hero records written as raw record database files,
// plus a run context pointing at them whose host keeps every status text.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/recording_host.h"
#include "dbfiles/db_format.h"
#include "dbfiles/db_header.h"
#include "dbfiles/db_test_util.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "merge/run_context.h"

namespace razere::testing {

// One item element to put into a character or hero record.
struct ItemSpec {
  uint32_t offset;      // of the element, from the start of the record
  int32_t serial;
  uint16_t kind = 1;    // 0 = an empty slot
};

// Element `element` of character item array C(array + 1).
inline uint32_t CharItemAt(int array, int element) {
  return chardata_rec::kItemArrays[static_cast<size_t>(array)].offset +
         static_cast<uint32_t>(element) * static_cast<uint32_t>(item_rec::kSize);
}
// Element `element` of array B(array + 1) of hero block H(block + 1).
inline uint32_t HeroItemAt(int block, int array, int element) {
  return hero_rec::kBlocks[static_cast<size_t>(block)] +
         hero_rec::kBlockItemArrays[static_cast<size_t>(array)].offset +
         static_cast<uint32_t>(element) * static_cast<uint32_t>(item_rec::kSize);
}

inline void PutItems(Bytes& rec, const std::vector<ItemSpec>& items) {
  for (const ItemSpec& it : items) {
    StoreInt32LE(rec.data() + it.offset + item_rec::kSerial, it.serial);
    StoreUint16LE(rec.data() + it.offset + item_rec::kKind, it.kind);
  }
}

struct CharSpec {
  std::string name;
  std::string account;
  uint32_t level = 50;
  double lastLogin = 0;        // date-time; 0 is 1899-12-30
  int32_t roleId = 0;
  std::array<std::string, 5> links{};  // linked names 1..5
  int link5Present = -1;       // byte 688; -1: 1 when link 5 is set, else 0
  std::vector<ItemSpec> items{};
  std::function<void(Bytes&)> tweak{};  // last word on the record's bytes
};

struct HeroSpec {
  std::string name;
  std::string account;
  std::string link{};
  std::vector<ItemSpec> items{};
  std::function<void(Bytes&)> tweak{};
};

inline Bytes MakeCharDataRecord(const CharSpec& s) {
  Bytes rec = MakeRecord(DbKind::Qel, s.name);
  WriteNameField(rec.data() + chardata_rec::kAccount, s.account);
  StoreUint32LE(rec.data() + chardata_rec::kLevel, s.level);
  StoreDoubleLE(rec.data() + chardata_rec::kLastLogin, s.lastLogin);
  StoreInt32LE(rec.data() + chardata_rec::kRoleId, s.roleId);
  for (size_t k = 0; k < 5; ++k) WriteNameField(rec.data() + chardata_rec::kLinks[k], s.links[k]);
  rec[chardata_rec::kLink5Present] =
      static_cast<uint8_t>(s.link5Present >= 0 ? s.link5Present : (s.links[4].empty() ? 0 : 1));
  PutItems(rec, s.items);
  if (s.tweak) s.tweak(rec);
  return rec;
}

inline Bytes MakeHeroDataRecord(const HeroSpec& s) {
  Bytes rec = MakeRecord(DbKind::HeroQel, s.name);
  WriteNameField(rec.data() + hero_rec::kAccount, s.account);
  WriteNameField(rec.data() + hero_rec::kLink, s.link);
  PutItems(rec, s.items);
  if (s.tweak) s.tweak(rec);
  return rec;
}

// The records of one installation's ID.DB, Hum.DB, Qel.DB and HeroQel.DB.
struct ServerData {
  std::vector<Bytes> id, hum, qel, hero;
  std::set<std::string> accounts;

  ServerData& Account(const std::string& name) {
    if (accounts.insert(name).second) id.push_back(MakeRecord(DbKind::ID, name));
    return *this;
  }
  // An index record and a data record; the account is added when new.
  ServerData& Char(const CharSpec& s) {
    Account(s.account);
    hum.push_back(MakeIndexRecord(s.name, s.account, 0));
    qel.push_back(MakeCharDataRecord(s));
    return *this;
  }
  // An index record with the hero flag and a hero record.
  ServerData& Hero(const HeroSpec& s) {
    Account(s.account);
    hum.push_back(MakeIndexRecord(s.name, s.account, 1));
    hero.push_back(MakeHeroDataRecord(s));
    return *this;
  }
};

// The records of a record database file, as many as its header announces
// (fewer when the file ends first).
inline std::vector<Bytes> ReadRecordsOf(const std::filesystem::path& path, DbKind kind) {
  Bytes all = ReadFile(path);
  std::vector<Bytes> out;
  if (all.size() < db_header::kSize) return out;
  const int32_t count = LoadInt32LE(all.data() + db_header::kRecordCount);
  const size_t size = KindInfo(kind).recordSize;
  for (int32_t i = 0; i < count; ++i) {
    const size_t at = db_header::kSize + static_cast<size_t>(i) * size;
    if (at + size > all.size()) break;
    out.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                     all.begin() + static_cast<std::ptrdiff_t>(at + size));
  }
  return out;
}

inline int32_t HeaderCountOf(const std::filesystem::path& path) {
  Bytes all = ReadFile(path);
  return all.size() < db_header::kSize ? -1 : LoadInt32LE(all.data() + db_header::kRecordCount);
}

// Names at one offset of every record of a file.
inline std::vector<std::string> NamesOf(const std::vector<Bytes>& records, size_t offset) {
  std::vector<std::string> out;
  for (const Bytes& r : records) out.push_back(NameAtOffset(r, offset));
  return out;
}

// Master and slave installations in a temporary folder and a run context
// whose paths point at them; the save folder is "out/".
class MergeFixture {
 public:
  MergeFixture() { ctx.Bar.SetHost(host); }

  // Writes both installations (files with no records get a header only).
  void WriteInputs() {
    WriteSide(dir.path() / "master", master, ctx.Master);
    WriteSide(dir.path() / "slave", slave, ctx.Slave);
    std::filesystem::create_directories(dir.path() / "out");
    ctx.SavePath = (dir.path() / "out").string() + "/";
  }

  std::filesystem::path Out(std::string_view file) const { return dir.path() / "out" / file; }
  std::vector<Bytes> Output(DbKind kind) const { return ReadRecordsOf(Out(KindInfo(kind).fileName), kind); }

  TempDir dir;
  ServerData master, slave;
  RecordingHost host;
  RunContext ctx;

 private:
  static void WriteSide(const std::filesystem::path& folder, const ServerData& d, ServerPaths& paths) {
    std::filesystem::create_directories(folder);
    auto put = [&folder](DbKind kind, const std::vector<Bytes>& recs) {
      const std::filesystem::path p = folder / KindInfo(kind).fileName;
      WriteFile(p, MakeFileBytes(kind, static_cast<int32_t>(recs.size()), recs));
      return p.string();
    };
    paths.ID = put(DbKind::ID, d.id);
    paths.Hum = put(DbKind::Hum, d.hum);
    paths.Qel = put(DbKind::Qel, d.qel);
    paths.HeroQel = put(DbKind::HeroQel, d.hero);
  }
};

}  // namespace razere::testing
