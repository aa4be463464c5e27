// The read pass and the record parsers on any record database file, then the
// write pass's patches on the records it found. Input: one byte choosing the
// kind, then the file's bytes. Character and hero records are hundreds of
// kilobytes, so the file is extended with a hole of zeros to the length of
// the records its header announces (at most two): the fuzzer's bytes then
// land in the fields the read pass looks at, and the records are whole.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dbfiles/read_pass.h"
#include "dbfiles/records.h"
#include "fuzz/fuzz_support.h"
#include "support/file_system.h"

using namespace razere;

namespace {

constexpr DbKind kKinds[] = {DbKind::ID, DbKind::Hum, DbKind::Qel, DbKind::HeroQel};
constexpr int32_t kMaxPaddedRecords = 2;

// Every patched slot reads back as its new name, and so does its record key.
template <size_t N>
void ExpectReadBack(const std::vector<uint8_t>& rec, const std::array<NameSlot, N>& slots, const NewNames<N>& names) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == nullptr) continue;
    const NameSlot keyOnly{slots[i].key};
    if (ReadName(rec.data(), rec.size(), slots[i]) != *names[i] ||
        (slots[i].key != kNoField && ReadName(rec.data(), rec.size(), keyOnly) != *names[i])) {
      fuzz::ReportFinding("a patched name does not read back");
    }
  }
}

// The write pass's work on one whole record: patch the names it would patch
// (the entry's new values, as the merge sets them for a slave record) and
// visit every item slot.
void PatchWhole(DbKind kind, std::vector<uint8_t>& rec, int64_t offset) {
  static const std::string renamed1 = "Renamed1", renamed2 = "Renamed2", renamed3 = "Renamed3";
  std::span<uint8_t> span(rec);
  switch (kind) {
    case DbKind::ID: {
      (void)ParseAccountRecord(rec.data(), rec.size(), kSideSlave, offset);
      PatchAccountName(span, renamed1);
      ExpectReadBack(rec, account_rec::kSlots, {&renamed1});
      break;
    }
    case DbKind::Hum: {
      const CharIndexEntry e = ParseCharIndexRecord(rec.data(), rec.size(), kSideSlave, offset);
      const NewNames<index_rec::kSlotCount> names = {&renamed1, e.account.empty() ? nullptr : &renamed2};
      PatchNames(span, kind, index_rec::kSlots, names);
      ExpectReadBack(rec, index_rec::kSlots, names);
      break;
    }
    case DbKind::Qel: {
      CharDataItem e = ParseCharDataRecord(rec.data(), rec.size(), kSideSlave, offset);
      e.newNames[chardata_rec::kNameSlot] = &renamed1;
      if (!e.links[4].Empty()) e.newNames[chardata_rec::kLink5Slot] = &renamed2;
      PatchNames(span, kind, chardata_rec::kSlots, e.newNames);
      ExpectReadBack(rec, chardata_rec::kSlots, e.newNames);
      int32_t serial = 1;
      ForEachCharDataItem(span, ItemOrder::Renumber, [&](uint8_t* item) {
        if (ItemOccupied(item)) SetItemSerial(item, serial++);
      });
      break;
    }
    case DbKind::HeroQel: {
      HeroDataItem e = ParseHeroDataRecord(rec.data(), rec.size(), kSideSlave, offset);
      e.newNames[hero_rec::kLinkSlot] = &renamed3;
      PatchNames(span, kind, hero_rec::kSlots, e.newNames);
      ExpectReadBack(rec, hero_rec::kSlots, e.newNames);
      int32_t serial = 1;
      ForEachHeroDataItem(span, ItemOrder::Renumber, [&](uint8_t* item) {
        if (ItemOccupied(item)) SetItemSerial(item, serial++);
      });
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const DbKind kind = kKinds[data[0] % 4];
  const DbKindInfo& info = KindInfo(kind);
  const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto path = fuzz::Scratch() / "records.db";
  fuzz::WriteBytes(path, file);
  if (file.size() >= db_header::kSize) {
    const int32_t announced = LoadInt32LE(reinterpret_cast<const uint8_t*>(file.data()) + db_header::kRecordCount);
    const int64_t whole =
        static_cast<int64_t>(db_header::kSize) + std::clamp(announced, 0, kMaxPaddedRecords) * int64_t(info.recordSize);
    if (whole > static_cast<int64_t>(file.size())) Fs().Open(path, OpenMode::ReadWrite)->Truncate(whole);
  }

  NullHost host;
  Progress progress;
  progress.SetHost(host);
  std::vector<int64_t> offsets;
  fuzz::ExpectCleanEnd([&] {
    auto source = ReadPass(path, kind, progress, "load", [&](int64_t offset, const uint8_t* rec, size_t n) {
      switch (kind) {
        case DbKind::ID: (void)ParseAccountRecord(rec, n, kSideSlave, offset); break;
        case DbKind::Hum: (void)ParseCharIndexRecord(rec, n, kSideSlave, offset); break;
        case DbKind::Qel:
          (void)ParseCharDataRecord(rec, n, kSideSlave, offset);
          (void)CharDataLastLogin(rec, n);
          (void)CharDataLevel(rec, n);
          break;
        case DbKind::HeroQel: (void)ParseHeroDataRecord(rec, n, kSideSlave, offset); break;
      }
      offsets.push_back(offset);
    });
    std::vector<uint8_t> rec(info.recordSize);
    for (int64_t offset : offsets) {
      if (source->ReadAt(offset, rec.data(), rec.size()) != rec.size()) {
        fuzz::ReportFinding("a record the read pass handed over is not whole in the file");
      }
      PatchWhole(kind, rec, offset);
    }
  });
  return 0;
}
