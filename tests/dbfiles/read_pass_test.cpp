#include <gtest/gtest.h>

#include "dbfiles/db_test_util.h"
#include "dbfiles/db_writer.h"
#include "dbfiles/read_pass.h"
#include "dbfiles/records.h"
#include "support/errors.h"
#include "support/file_system.h"

namespace razere {
namespace {

using testing::Bytes;
using testing::MakeFileBytes;
using testing::MakeRecord;
using testing::TempDir;
using testing::WriteFile;

class RecordingHost : public NullHost {
 public:
  bool IsShuttingDown() const override { return shuttingDown; }
  void PaintStatus(const std::string& text) override { lastStatus = text; }
  bool shuttingDown = false;
  std::string lastStatus;
};

struct Seen {
  int64_t offset;
  std::string name;
  size_t n;
};

// Runs the read pass over bytes written to a file and returns what reached
// the handler.
std::vector<Seen> Load(const Bytes& file, DbKind kind, ReadPassStats* stats = nullptr, Progress* progress = nullptr) {
  TempDir dir;
  WriteFile(dir / "f.db", file);
  Progress local;
  Progress& p = progress ? *progress : local;
  std::vector<Seen> seen;
  DbSourceFile src(dir / "f.db");
  ReadPassStats s = ReadRecords(src, kind, p, "正在加载(%d/%d)", [&](int64_t off, const uint8_t* b, size_t n) {
    seen.push_back({off, ReadNameField(b + KindInfo(kind).body), n});
  });
  if (stats) *stats = s;
  return seen;
}

std::vector<std::string> Names(const std::vector<Seen>& seen) {
  std::vector<std::string> out;
  for (const Seen& s : seen) out.push_back(s.name);
  return out;
}

const DbKind kAllKinds[] = {DbKind::ID, DbKind::Hum, DbKind::Qel, DbKind::HeroQel};

Bytes Live(DbKind kind, std::string_view name) {
  return kind == DbKind::Hum ? testing::MakeIndexRecord(name, "acc") : MakeRecord(kind, name);
}

TEST(ReadPass, HandsOverOffsetsAndTheKindsPrefix) {
  for (DbKind kind : kAllKinds) {
    SCOPED_TRACE(std::string(KindInfo(kind).fileName));
    ReadPassStats stats;
    auto seen = Load(MakeFileBytes(kind, 3, {Live(kind, "a"), Live(kind, "b"), Live(kind, "c")}), kind, &stats);
    ASSERT_EQ(seen.size(), 3u);
    const int64_t size = KindInfo(kind).recordSize;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(seen[i].offset, 124 + i * size);
      EXPECT_EQ(seen[i].n, KindInfo(kind).readPrefix);
    }
    EXPECT_EQ(Names(seen), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(stats.headerCount, 3);
    EXPECT_EQ(stats.complete, 3);
    EXPECT_EQ(stats.handled, 3);
  }
}

TEST(ReadPass, DeletedRecordsAreSkipped) {
  for (DbKind kind : kAllKinds) {
    SCOPED_TRACE(std::string(KindInfo(kind).fileName));
    Bytes del1 = Live(kind, "d1"), delFF = Live(kind, "d2"), del2 = Live(kind, "d3");
    del1[KindInfo(kind).deletedFlag] = 1;
    delFF[KindInfo(kind).deletedFlag] = 0xFF;
    del2[KindInfo(kind).deletedFlag] = 2;
    auto seen = Load(MakeFileBytes(kind, 5, {Live(kind, "a"), del1, delFF, del2, Live(kind, "b")}), kind);
    EXPECT_EQ(Names(seen), (std::vector<std::string>{"a", "b"}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].offset, 124 + 4 * static_cast<int64_t>(KindInfo(kind).recordSize));
  }
}

TEST(ReadPass, RecordsWithoutTheRequiredNamesAreSkipped) {
  // ID.DB: the name at 51, not the record key, decides.
  Bytes keyOnly = MakeRecord(DbKind::ID, "k");
  keyOnly[account_rec::kName] = 0;
  EXPECT_TRUE(Load(MakeFileBytes(DbKind::ID, 1, {keyOnly}), DbKind::ID).empty());

  // Hum.DB needs the name and the account.
  Bytes noAccount = testing::MakeIndexRecord("x", "");
  Bytes noName = testing::MakeIndexRecord("", "acc");
  EXPECT_EQ(Names(Load(MakeFileBytes(DbKind::Hum, 3, {noAccount, noName, Live(DbKind::Hum, "ok")}), DbKind::Hum)),
            (std::vector<std::string>{"ok"}));

  for (DbKind kind : {DbKind::Qel, DbKind::HeroQel}) {
    EXPECT_TRUE(Load(MakeFileBytes(kind, 1, {MakeRecord(kind, "")}), kind).empty());
  }
}

TEST(ReadPass, CountLargerThanTheRecordsPresentLoadsWhatIsThere) {
  for (DbKind kind : kAllKinds) {
    SCOPED_TRACE(std::string(KindInfo(kind).fileName));
    std::vector<Bytes> recs;
    for (int i = 0; i < 7; ++i) recs.push_back(Live(kind, "n" + std::to_string(i)));
    Bytes file = MakeFileBytes(kind, 10, recs);
    // Most of an eighth record: still not a record.
    Bytes partial = Live(kind, "cut");
    file.insert(file.end(), partial.begin(), partial.end() - 1);
    ReadPassStats stats;
    auto seen = Load(file, kind, &stats);
    EXPECT_EQ(seen.size(), 7u);
    EXPECT_EQ(stats.complete, 7);
    EXPECT_EQ(stats.headerCount, 10);
  }
}

TEST(ReadPass, ShortHeaderMeansNoRecordsAndNoProgressChange) {
  for (size_t len : {size_t{0}, size_t{1}, size_t{123}}) {
    Bytes file = MakeFileBytes(DbKind::Hum, 1, {Live(DbKind::Hum, "a")});
    file.resize(len);
    Progress p;
    p.SetRange(0, 42);
    p.SetPosition(17);
    ReadPassStats stats;
    EXPECT_TRUE(Load(file, DbKind::Hum, &stats, &p).empty());
    EXPECT_EQ(stats.headerCount, 0);
    EXPECT_EQ(p.Max(), 42);
    EXPECT_EQ(p.Position(), 17);
  }
}

TEST(ReadPass, NegativeOrHugeCountsAreHarmless) {
  for (int32_t count : {-5, INT32_MAX}) {
    auto seen = Load(MakeFileBytes(DbKind::Qel, count, {Live(DbKind::Qel, "a")}), DbKind::Qel);
    EXPECT_EQ(seen.size(), count > 0 ? 1u : 0u) << count;
  }
}

TEST(ReadPass, ProgressCountsEveryRecordSlot) {
  Bytes del = Live(DbKind::ID, "d");
  del[0] = 1;
  RecordingHost host;
  Progress p(host);
  auto seen = Load(MakeFileBytes(DbKind::ID, 4, {Live(DbKind::ID, "a"), del, Live(DbKind::ID, "b")}), DbKind::ID,
                   nullptr, &p);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(p.Max(), 4);
  // Three complete records and the missing fourth, which is reported before
  // the pass finds it is not there.
  EXPECT_EQ(p.Position(), 4);
  EXPECT_EQ(host.lastStatus, "正在加载(4/4)");
}

TEST(ReadPass, ShutdownEndsThePassWithAnError) {
  RecordingHost host;
  Progress p(host);
  TempDir dir;
  WriteFile(dir / "f.db", MakeFileBytes(DbKind::ID, 3, {Live(DbKind::ID, "a"), Live(DbKind::ID, "b"),
                                                        Live(DbKind::ID, "c")}));
  DbSourceFile src(dir / "f.db");
  int handled = 0;
  EXPECT_THROW(ReadRecords(src, DbKind::ID, p, "x", [&](int64_t, const uint8_t*, size_t) {
                 ++handled;
                 host.shuttingDown = true;
               }),
               RunInterrupted);
  EXPECT_EQ(handled, 1);
}

TEST(ReadPass, WindowBoundariesDoNotSplitRecords) {
  // More than one read-ahead window of small records; record boundaries do
  // not line up with window boundaries.
  std::vector<Bytes> recs;
  const int count = static_cast<int>(3 * DbSourceFile::kWindowSize / index_rec::kSize);
  for (int i = 0; i < count; ++i) recs.push_back(Live(DbKind::Hum, std::to_string(i)));
  auto seen = Load(MakeFileBytes(DbKind::Hum, count, recs), DbKind::Hum);
  ASSERT_EQ(seen.size(), static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) ASSERT_EQ(seen[i].name, std::to_string(i));
}

TEST(ReadPass, MissingFileRaisesFileError) {
  TempDir dir;
  Progress p;
  EXPECT_THROW(ReadPass(dir / "none.db", DbKind::ID, p, "x", [](int64_t, const uint8_t*, size_t) {}), FileError);
  EXPECT_THROW(ReadPass(dir.path(), DbKind::ID, p, "x", [](int64_t, const uint8_t*, size_t) {}), FileError);
}

TEST(ReadPass, ReturnsTheOpenFileForTheWritePass) {
  TempDir dir;
  WriteFile(dir / "f.db", MakeFileBytes(DbKind::Hum, 1, {Live(DbKind::Hum, "a")}));
  Progress p;
  int64_t where = -1;
  auto file = ReadPass(dir / "f.db", DbKind::Hum, p, "x", [&](int64_t off, const uint8_t*, size_t) { where = off; });
  std::filesystem::remove(dir / "f.db");  // the open file still reads
  Bytes rec(index_rec::kSize);
  ASSERT_EQ(file->ReadAt(where, rec.data(), rec.size()), rec.size());
  EXPECT_EQ(ReadNameField(rec.data() + index_rec::kName), "a");
}

// A Qel.DB larger than 4 GiB whose only live record lies beyond 4 GiB. The
// file is sparse, so it costs no disk.
TEST(ReadPass, OffsetsBeyondFourGiB) {
  TempDir dir;
  const auto path = dir / "Qel.DB";
  const int64_t size = chardata_rec::kSize;
  const int32_t index = 7400;  // 124 + 7400 * 580591 > 2^32
  const int64_t offset = 124 + index * size;
  ASSERT_GT(offset, int64_t{1} << 32);
  {
    std::unique_ptr<File> f = PlatformFileSystem().Open(path, OpenMode::Replace);
    DbHeaderBytes h = BuildHeader(DbKind::Qel, index + 1, 0, 0);
    f->WriteAt(0, h.data(), h.size());
    // Every record before it reads as zeros: deleted flag 0 but no name.
    try {
      f->Truncate(offset + size);
    } catch (const FileError&) {
      GTEST_SKIP() << "no large sparse files here";
    }
    Bytes rec = MakeRecord(DbKind::Qel, "far");
    SetItemSerial(rec.data() + chardata_rec::kItemArrays[9].offset, 99);
    f->WriteAt(offset, rec.data(), rec.size());
    f->Close();
  }
  Progress p;
  std::vector<int64_t> offsets;
  auto src = ReadPass(path, DbKind::Qel, p, "x", [&](int64_t off, const uint8_t* b, size_t) {
    offsets.push_back(off);
    EXPECT_EQ(ReadNameField(b + chardata_rec::kName), "far");
  });
  ASSERT_EQ(offsets, std::vector<int64_t>{offset});
  Bytes item(item_rec::kSize);
  ASSERT_EQ(src->ReadAt(offset + chardata_rec::kItemArrays[9].offset, item.data(), item.size()), item.size());
  EXPECT_EQ(ItemSerial(item.data()), 99);

  // The write pass reads it back by that offset.
  DbWriter w(dir / "out.DB", DbKind::Qel, 1);
  ASSERT_TRUE(w.Append(*src, offset, "far", [](std::span<uint8_t> rec) {
    PatchName(rec, DbKind::Qel, chardata_rec::kSlots[chardata_rec::kNameSlot], "near");
  }));
  w.Close();
  Bytes out = testing::ReadFile(dir / "out.DB");
  ASSERT_EQ(out.size(), 124u + chardata_rec::kSize);
  EXPECT_EQ(testing::NameAtOffset(out, 124 + chardata_rec::kName), "near");
  EXPECT_EQ(ItemSerial(out.data() + 124 + chardata_rec::kItemArrays[9].offset), 99);
}

}  // namespace
}  // namespace razere
