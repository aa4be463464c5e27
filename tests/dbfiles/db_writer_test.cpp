#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cstring>
#include <functional>

#include "dbfiles/db_test_util.h"
#include "dbfiles/db_writer.h"
#include "dbfiles/read_pass.h"
#include "dbfiles/records.h"
#include "support/datetime.h"
#include "support/errors.h"
#include "support/file_size_limit.h"

namespace razere {
namespace {

using testing::Bytes;
using testing::FileSizeLimit;
using testing::MakeFileBytes;
using testing::MakeRecord;
using testing::NameAtOffset;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class FixedClock {
 public:
  explicit FixedClock(double now) { SetClockForTesting(now); }
  ~FixedClock() { SetClockForTesting(std::nullopt); }
};

int32_t Int32At(const Bytes& b, size_t off) { return LoadInt32LE(b.data() + off); }

// ---------------------------------------------------------------- header

struct HeaderCase {
  DbKind kind;
  int32_t version, recordSize, marker1, marker2;
  const char* date;
};

TEST(WritePass, HeaderOfEachKind) {
  const HeaderCase cases[] = {
      {DbKind::ID, 0, 0, 0, -1, "2019/05/01"},
      {DbKind::Hum, 0x01332B34, 132, -1, 0, "2019/05/01"},
      {DbKind::Qel, 0x01348B23, 580591, -1, 0, "2022/07/07"},
      {DbKind::HeroQel, 0x01348B23, 293477, -1, 0, "2022/07/07"},
  };
  FixedClock clock(45123.5);
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(std::string(KindInfo(c.kind).fileName));
    TempDir dir;
    DbWriter w(dir / KindInfo(c.kind).fileName, c.kind, 0);
    w.Close();
    Bytes h = ReadFile(dir / KindInfo(c.kind).fileName);
    ASSERT_EQ(h.size(), 124u);
    const std::string text =
        std::string("KESTRALON\xCA\xFD\xBE\xDD\xBF\xE2\xCE\xC4\xBC\xFE ") + c.date;
    EXPECT_EQ(h[0], 0x1E);
    EXPECT_EQ(std::string(h.begin() + 1, h.begin() + 31), text);
    EXPECT_EQ(Int32At(h, 36), c.version);
    EXPECT_EQ(Int32At(h, 40), c.recordSize);
    EXPECT_EQ(Int32At(h, 92), c.marker1);
    EXPECT_EQ(LoadDoubleLE(h.data() + 96), 45123.5);
    EXPECT_EQ(Int32At(h, 104), 0);
    EXPECT_EQ(Int32At(h, 112), c.marker2);
    EXPECT_EQ(LoadDoubleLE(h.data() + 116), 45123.5);
    for (size_t i = 31; i < 36; ++i) EXPECT_EQ(h[i], 0) << i;
    for (size_t i = 44; i < 92; ++i) EXPECT_EQ(h[i], 0) << i;
    for (size_t i = 108; i < 112; ++i) EXPECT_EQ(h[i], 0) << i;
  }
}

// ---------------------------------------------------------------- records

struct Sources {
  TempDir dir;
  std::unique_ptr<DbSourceFile> master, slave;
  std::vector<CharIndexEntry> entries;  // master's then slave's, as loaded
};

// Two Hum.DB files loaded with the read pass, as the character stage does.
void LoadIndex(Sources& s, const std::vector<Bytes>& masterRecs, const std::vector<Bytes>& slaveRecs) {
  WriteFile(s.dir / "m.db", MakeFileBytes(DbKind::Hum, static_cast<int32_t>(masterRecs.size()), masterRecs));
  WriteFile(s.dir / "s.db", MakeFileBytes(DbKind::Hum, static_cast<int32_t>(slaveRecs.size()), slaveRecs));
  Progress p;
  s.master = ReadPass(s.dir / "m.db", DbKind::Hum, p, "x", [&](int64_t off, const uint8_t* b, size_t n) {
    s.entries.push_back(ParseCharIndexRecord(b, n, kSideMaster, off));
  });
  s.slave = ReadPass(s.dir / "s.db", DbKind::Hum, p, "x", [&](int64_t off, const uint8_t* b, size_t n) {
    s.entries.push_back(ParseCharIndexRecord(b, n, kSideSlave, off));
  });
}

TEST(WritePass, RecordsFollowTheEntriesWithTheirPatches) {
  Sources s;
  Bytes deleted = testing::MakeIndexRecord("gone", "acc");
  deleted[index_rec::kDeleted] = 1;
  Bytes slaveLee = testing::MakeIndexRecord("Lee", "acc");
  slaveLee[index_rec::kName + 10] = 0x77;  // a byte after the name's text
  LoadIndex(s, {testing::MakeIndexRecord("lee", "acc"), deleted},
            {slaveLee, testing::MakeIndexRecord("bob", "acc", 1)});
  ASSERT_EQ(s.entries.size(), 3u);
  s.entries[1].newName = "Leea";

  TempDir out;
  DbWriter w(out / "Hum.DB", DbKind::Hum, 3);
  for (const CharIndexEntry& e : s.entries) {
    ASSERT_TRUE(w.Append(e.side == kSideMaster ? *s.master : *s.slave, e.offset, e.name, [&](std::span<uint8_t> rec) {
      if (e.side == kSideSlave) {
        const std::string account = "acc2";
        PatchNames(rec, DbKind::Hum, index_rec::kSlots, {e.newName.empty() ? nullptr : &e.newName, &account});
      }
    }));
  }
  w.Close();
  EXPECT_EQ(w.Written(), 3);

  Bytes f = ReadFile(out / "Hum.DB");
  ASSERT_EQ(f.size(), 124u + 3 * 132);
  EXPECT_EQ(Int32At(f, 104), 3);
  const size_t r0 = 124, r1 = 124 + 132, r2 = 124 + 264;
  EXPECT_EQ(NameAtOffset(f, r0 + index_rec::kName), "lee");
  EXPECT_EQ(NameAtOffset(f, r0 + index_rec::kAccount), "acc");
  EXPECT_EQ(NameAtOffset(f, r1 + index_rec::kKey), "Leea");
  EXPECT_EQ(NameAtOffset(f, r1 + index_rec::kName), "Leea");
  EXPECT_EQ(f[r1 + index_rec::kName + 10], 0x77);
  EXPECT_EQ(NameAtOffset(f, r1 + index_rec::kAccount), "acc2");
  EXPECT_EQ(NameAtOffset(f, r2 + index_rec::kName), "bob");
  EXPECT_EQ(f[r2 + index_rec::kHeroFlag], 1);
}

// The header announced 3 records; one could not be read again. The file must
// still say how many records it holds.
TEST(WritePass, ShortReadLeavesTheEntryOutAndTheCountRight) {
  for (DbKind kind : {DbKind::Hum, DbKind::HeroQel}) {
    SCOPED_TRACE(std::string(KindInfo(kind).fileName));
    TempDir dir;
    const int64_t size = KindInfo(kind).recordSize;
    WriteFile(dir / "src", MakeFileBytes(kind, 2, {MakeRecord(kind, "a"), MakeRecord(kind, "b")}));
    // Cut the second record by one byte.
    std::filesystem::resize_file(dir / "src", static_cast<uintmax_t>(124 + 2 * size - 1));
    DbSourceFile src(dir / "src");
    DbWriter w(dir / "out", kind, 3);
    EXPECT_TRUE(w.Append(src, 124, "a"));
    EXPECT_FALSE(w.Append(src, 124 + size, "b"));
    EXPECT_FALSE(w.Append(src, 1'000'000'000'000, "a"));
    EXPECT_TRUE(w.Append(src, 124, "a"));
    w.Close();
    EXPECT_EQ(w.Announced(), 3);
    EXPECT_EQ(w.Written(), 2);
    Bytes f = ReadFile(dir / "out");
    EXPECT_EQ(f.size(), static_cast<size_t>(124 + 2 * size));
    EXPECT_EQ(Int32At(f, 104), 2);
  }
}

// A record is copied only while it is the one the load kept: still live and
// under the same name key. The two kinds take the two ways a record comes in
// (through the read window, straight into the record buffer).
TEST(WritePass, ARecordIsCopiedOnlyWhileItIsWhatTheLoadSaw) {
  const struct {
    const char* what;
    std::function<void(Bytes&, const DbKindInfo&)> change;
    bool copied;
  } cases[] = {
      {"unchanged", [](Bytes&, const DbKindInfo&) {}, true},
      {"only the ASCII case of its name", [](Bytes& r, const DbKindInfo& k) { WriteNameField(r.data() + k.body, "KIM"); },
       true},
      {"another name", [](Bytes& r, const DbKindInfo& k) { WriteNameField(r.data() + k.body, "Kix"); }, false},
      {"an empty name", [](Bytes& r, const DbKindInfo& k) { WriteNameField(r.data() + k.body, ""); }, false},
      {"deleted", [](Bytes& r, const DbKindInfo& k) { r[k.deletedFlag] = 1; }, false},
      {"deleted with another flag value", [](Bytes& r, const DbKindInfo& k) { r[k.deletedFlag] = 0xFF; }, false},
  };
  for (DbKind kind : {DbKind::Hum, DbKind::Qel}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(KindInfo(kind).fileName) + ": " + c.what);
      TempDir dir;
      Bytes rec = MakeRecord(kind, "Kim");
      c.change(rec, KindInfo(kind));
      WriteFile(dir / "src", MakeFileBytes(kind, 1, {rec}));
      DbSourceFile src(dir / "src");
      DbWriter w(dir / "out", kind, 1);
      EXPECT_EQ(w.Append(src, 124, "kim"), c.copied);
      w.Close();
      EXPECT_EQ(w.Written(), c.copied ? 1 : 0);
    }
  }
}

TEST(WritePass, ManySmallRecordsCrossTheOutputBuffer) {
  TempDir dir;
  const int count = static_cast<int>(2 * DbWriter::kBufferSize / account_rec::kSize + 5);
  std::vector<Bytes> recs;
  for (int i = 0; i < count; ++i) recs.push_back(MakeRecord(DbKind::ID, "a" + std::to_string(i)));
  WriteFile(dir / "src", MakeFileBytes(DbKind::ID, count, recs));
  DbSourceFile src(dir / "src");
  DbWriter w(dir / "ID.DB", DbKind::ID, count);
  // Backwards, so the source's read-ahead window is of no help.
  for (int i = count - 1; i >= 0; --i) {
    ASSERT_TRUE(w.Append(src, 124 + int64_t{i} * account_rec::kSize, "a" + std::to_string(i),
                         [&](std::span<uint8_t> rec) { rec[1] = static_cast<uint8_t>(i); }));
  }
  w.Close();
  Bytes f = ReadFile(dir / "ID.DB");
  ASSERT_EQ(f.size(), 124u + count * account_rec::kSize);
  for (int j = 0; j < count; ++j) {
    const int i = count - 1 - j;
    const size_t at = 124 + static_cast<size_t>(j) * account_rec::kSize;
    ASSERT_EQ(NameAtOffset(f, at + account_rec::kName), "a" + std::to_string(i));
    ASSERT_EQ(f[at + 1], static_cast<uint8_t>(i));
  }
}

TEST(WritePass, EmptySourceContributesNothing) {
  TempDir dir;
  WriteFile(dir / "empty", {});
  WriteFile(dir / "other", MakeFileBytes(DbKind::Qel, 1, {MakeRecord(DbKind::Qel, "x")}));
  Progress p;
  std::vector<CharDataItem> entries;
  auto empty = ReadPass(dir / "empty", DbKind::Qel, p, "x", [&](int64_t off, const uint8_t* b, size_t n) {
    entries.push_back(ParseCharDataRecord(b, n, kSideMaster, off));
  });
  auto other = ReadPass(dir / "other", DbKind::Qel, p, "x", [&](int64_t off, const uint8_t* b, size_t n) {
    entries.push_back(ParseCharDataRecord(b, n, kSideSlave, off));
  });
  ASSERT_EQ(entries.size(), 1u);
  DbWriter w(dir / "Qel.DB", DbKind::Qel, 1);
  EXPECT_TRUE(w.Append(*other, entries[0].offset, entries[0].name.View()));
  w.Close();
  Bytes f = ReadFile(dir / "Qel.DB");
  EXPECT_EQ(Int32At(f, 104), 1);
  EXPECT_TRUE(Bytes(f.begin() + 124, f.end()) == MakeRecord(DbKind::Qel, "x"));
}

TEST(WritePass, ReplacesAnExistingTarget) {
  TempDir dir;
  WriteFile(dir / "Hum.DB", Bytes(10000, 0xEE));
  WriteFile(dir / "src", MakeFileBytes(DbKind::Hum, 1, {testing::MakeIndexRecord("a", "b")}));
  DbSourceFile src(dir / "src");
  DbWriter w(dir / "Hum.DB", DbKind::Hum, 1);
  ASSERT_TRUE(w.Append(src, 124, "a"));
  w.Close();
  Bytes f = ReadFile(dir / "Hum.DB");
  ASSERT_EQ(f.size(), 124u + 132u);
  EXPECT_EQ(NameAtOffset(f, 124 + index_rec::kName), "a");
}

TEST(WritePass, TargetThatCannotBeCreatedRaisesFileError) {
  TempDir dir;
  EXPECT_THROW(DbWriter(dir / "no-such-folder" / "ID.DB", DbKind::ID, 0), FileError);
  std::filesystem::create_directories(dir / "ID.DB" / "inside");  // a folder that cannot be removed
  EXPECT_THROW(DbWriter(dir / "ID.DB", DbKind::ID, 0), FileError);
}

TEST(WritePass, WriteFailureRaisesFileErrorNamingTheFile) {
  RAZERE_POSIX_ONLY("a file size limit");
  for (DbKind kind : {DbKind::ID, DbKind::Qel}) {
    SCOPED_TRACE(std::string(KindInfo(kind).fileName));
    TempDir dir;
    const int n = kind == DbKind::ID ? 4000 : 2;  // over 1 MiB of ID.DB, so the buffer is written before Close
    std::vector<Bytes> recs(static_cast<size_t>(n), MakeRecord(kind, "a"));
    WriteFile(dir / "src", MakeFileBytes(kind, n, recs));
    DbSourceFile src(dir / "src");
    const auto target = dir / KindInfo(kind).fileName;
    std::string message;
    try {
      FileSizeLimit limit(100000);
      DbWriter w(target, kind, n);
      for (int i = 0; i < n; ++i) w.Append(src, 124 + int64_t{i} * KindInfo(kind).recordSize, "a");
      w.Close();
    } catch (const FileError& e) {
      message = e.what();
    }
    EXPECT_NE(message.find(target.string()), std::string::npos) << message;
  }
}

TEST(WritePass, AppendRecordChecksTheSize) {
  TempDir dir;
  DbWriter w(dir / "ID.DB", DbKind::ID, 1);
  EXPECT_THROW(w.AppendRecord(Bytes(10)), std::invalid_argument);
  w.AppendRecord(MakeRecord(DbKind::ID, "a"));
  w.Close();
  EXPECT_EQ(ReadFile(dir / "ID.DB").size(), 124u + 373u);
}

// Generators lay out files the merge never writes: a given write time, new
// records, and slots left empty so that late records lie beyond a size.
TEST(WritePass, GivenTimeNewRecordsAndEmptySlots) {
  for (DbKind kind : {DbKind::ID, DbKind::Qel}) {  // gathered small records, and big ones written at once
    SCOPED_TRACE(std::string(KindInfo(kind).fileName));
    TempDir dir;
    const size_t size = KindInfo(kind).recordSize;
    const auto target = dir / KindInfo(kind).fileName;
    DbWriter w(target, kind, 5, 44000.25);
    w.AppendNew([](std::span<uint8_t> rec) { rec[7] = 1; });
    w.SkipRecords(3);
    w.AppendNew([](std::span<uint8_t> rec) { rec[7] = 2; });
    EXPECT_EQ(w.Written(), 5);
    w.Close();
    Bytes f = ReadFile(target);
    ASSERT_EQ(f.size(), 124 + 5 * size);
    EXPECT_EQ(LoadDoubleLE(f.data() + db_header::kDate1), 44000.25);
    EXPECT_EQ(LoadDoubleLE(f.data() + db_header::kDate2), 44000.25);
    EXPECT_EQ(Int32At(f, db_header::kRecordCount), 5);
    EXPECT_EQ(f[124 + 7], 1);
    EXPECT_EQ(f[124 + 4 * size + 7], 2);
    // New records start zeroed; holes read as zeros.
    for (size_t i = 0; i < f.size() - 124; ++i) {
      if (i != 7 && i != 4 * size + 7) {
        ASSERT_EQ(f[124 + i], 0) << i;
      }
    }
  }
}

TEST(WritePass, EmptySlotsAtTheEndAreCountedAndTakeNoDisk) {
  TempDir dir;
  const auto target = dir / "Qel.DB";
  DbWriter w(target, DbKind::Qel, 0, 44000);
  w.AppendNew([](std::span<uint8_t>) {});
  w.SkipRecords(2000);  // about 1.1 GiB of slots
  w.Close();
  Bytes header(124);
  DbSourceFile f(target);
  ASSERT_EQ(f.ReadAt(0, header.data(), header.size()), 124u);
  EXPECT_EQ(Int32At(header, db_header::kRecordCount), 2001);
  EXPECT_EQ(f.Size(), 124 + int64_t{2001} * chardata_rec::kSize);
#if !defined(_WIN32)  // the blocks a file takes: POSIX only
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_LT(st.st_blocks * 512, int64_t{64} << 20);  // a hole, not a gigabyte of zeros
#endif
}

// ---------------------------------------------------------------- version

TEST(ReadDbVersion, MissingShortAndPresent) {
  TempDir dir;
  EXPECT_EQ(ReadDbVersion(dir / "none"), 20220707);

  Bytes h = MakeFileBytes(DbKind::Qel, 0, {});
  WriteFile(dir / "ok", h);
  EXPECT_EQ(ReadDbVersion(dir / "ok"), 20220707);

  StoreInt32LE(h.data() + 36, 20220708);
  WriteFile(dir / "newer", h);
  EXPECT_EQ(ReadDbVersion(dir / "newer"), 20220708);

  h.resize(123);
  WriteFile(dir / "short", h);
  EXPECT_EQ(ReadDbVersion(dir / "short"), 0);
  WriteFile(dir / "empty", {});
  EXPECT_EQ(ReadDbVersion(dir / "empty"), 0);
}

}  // namespace
}  // namespace razere
