#include "dbfiles/xo_custom_database.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/datetime.h"
#include "support/errors.h"
#include "support/file_size_limit.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing::FileSizeLimit;

constexpr double kClock = 45000.5;  // the fixed "now" of every test

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const Bytes& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

template <class T>
T At(const Bytes& b, size_t off) {
  T v{};
  if (off + sizeof v <= b.size()) std::memcpy(&v, b.data() + off, sizeof v);
  return v;
}

template <class T>
void PutAt(Bytes& b, size_t off, T v) {
  std::memcpy(b.data() + off, &v, sizeof v);
}

Bytes Header(int32_t nDataSize, int32_t nCount) {
  Bytes h(48, 0);
  h[0] = 26;
  std::memcpy(&h[1], "KESTRALON FILEDATABASE 1.0", 26);
  PutAt<int32_t>(h, 32, nDataSize);
  PutAt<int32_t>(h, 36, nCount);
  PutAt<double>(h, 40, 1.0);
  return h;
}

struct SlotSpec {
  uint16_t status;
  std::string name;
};

// A file of nDataSize-byte payloads; slot i's payload is filled with byte i+1.
Bytes MakeFile(int32_t nDataSize, const std::vector<SlotSpec>& slots) {
  Bytes f = Header(nDataSize, static_cast<int32_t>(slots.size()));
  for (size_t i = 0; i < slots.size(); ++i) {
    Bytes s(53 + static_cast<size_t>(nDataSize), static_cast<uint8_t>(i + 1));
    std::fill(s.begin(), s.begin() + 53, 0);
    PutAt<int32_t>(s, 0, static_cast<int32_t>(i));
    PutAt<uint16_t>(s, 4, slots[i].status);
    s[6] = static_cast<uint8_t>(slots[i].name.size());
    std::memcpy(&s[7], slots[i].name.data(), slots[i].name.size());
    PutAt<double>(s, 37, 2.0);
    f.insert(f.end(), s.begin(), s.end());
  }
  return f;
}

struct SlotView {
  int32_t number;
  uint16_t status;
  std::string name;
  double added, read;
  Bytes payload;
};

SlotView ViewSlot(const Bytes& f, int32_t nDataSize, int32_t i) {
  size_t off = 48 + static_cast<size_t>(i) * (53 + static_cast<size_t>(nDataSize));
  SlotView v{};
  if (off + 53 + static_cast<size_t>(nDataSize) > f.size()) {
    ADD_FAILURE() << "slot " << i << " lies beyond the end of the file";
    return v;
  }
  v.number = At<int32_t>(f, off);
  v.status = At<uint16_t>(f, off + 4);
  v.name.assign(reinterpret_cast<const char*>(&f[off + 7]), std::min<size_t>(f[off + 6], 30));
  v.added = At<double>(f, off + 37);
  v.read = At<double>(f, off + 45);
  v.payload.assign(f.begin() + static_cast<long>(off) + 53, f.begin() + static_cast<long>(off) + 53 + nDataSize);
  return v;
}

constexpr uint16_t kDelete = 1 << 0;
constexpr uint16_t kOccupy = 1 << 1;
constexpr uint16_t kRead = 1 << 2;

class XoEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::MakeTempFolder("xoengine-");
    file_ = dir_ / "Email.db";
    SetClockForTesting(kClock);
  }
  void TearDown() override {
    SetClockForTesting(std::nullopt);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // An engine whose worker never runs, so that only ExecAll processes: the
  // order of processing is then fully determined by the test.
  std::unique_ptr<TXoCustomDatabase> OpenQuiet(int32_t dataSize, int32_t* indexed = nullptr) {
    auto db = std::make_unique<TXoCustomDatabase>(file_);
    db->Terminate();
    int32_t n = db->Initialize(dataSize);
    if (indexed) *indexed = n;
    return db;
  }

  fs::path dir_;
  fs::path file_;
};

TEST_F(XoEngineTest, NewFileHoldsOnlyTheHeaderUntilInitializeSetsThePayloadSize) {
  TXoCustomDatabase db(file_);
  Bytes f = ReadAll(file_);
  ASSERT_EQ(f.size(), 48u);
  const Bytes expected = Header(0, 0);
  EXPECT_TRUE(std::equal(f.begin(), f.begin() + 32, expected.begin()));
  EXPECT_EQ(At<int32_t>(f, 32), 0);
  EXPECT_EQ(At<int32_t>(f, 36), 0);
  EXPECT_EQ(At<double>(f, 40), kClock);

  db.Terminate();
  EXPECT_EQ(db.Initialize(10847), 0);
  f = ReadAll(file_);
  ASSERT_EQ(f.size(), 48u);
  EXPECT_EQ(At<int32_t>(f, 32), 10847);
  EXPECT_EQ(At<int32_t>(f, 36), 0);
  EXPECT_FALSE(db.HasError());
}

TEST_F(XoEngineTest, ShortOrForeignHeaderIsTakenOverWithoutTruncating) {
  Bytes valid = Header(100, 0);
  Bytes wrongLength = valid;
  wrongLength[0] = 25;
  Bytes wrongTitle = valid;
  wrongTitle[26] = '1';
  Bytes padded = valid;  // past the 27 title bytes nothing is checked
  padded[30] = 'x';
  struct Case {
    const char* what;
    Bytes content;
    bool takenOver;
  };
  const Case cases[] = {
      {"empty file", {}, true},
      {"47 bytes of a valid header", Bytes(valid.begin(), valid.end() - 1), true},
      {"wrong length byte", wrongLength, true},
      {"wrong title character", wrongTitle, true},
      {"200 foreign bytes", Bytes(200, 0x5A), true},
      {"valid title, junk in its padding", padded, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteAll(file_, c.content);
    { TXoCustomDatabase db(file_); }
    Bytes f = ReadAll(file_);
    ASSERT_EQ(f.size(), std::max<size_t>(48, c.content.size()));
    if (c.takenOver) {
      EXPECT_EQ(Bytes(f.begin(), f.begin() + 27), Bytes(valid.begin(), valid.begin() + 27));
      EXPECT_EQ(At<int32_t>(f, 32), 0);
      EXPECT_EQ(At<int32_t>(f, 36), 0);
      if (c.content.size() > 48) {
        EXPECT_TRUE(std::equal(f.begin() + 48, f.end(), c.content.begin() + 48));
      }
    } else {
      EXPECT_EQ(f, c.content);
    }
  }
}

TEST_F(XoEngineTest, InitializeRefusals) {
  WriteAll(file_, MakeFile(100, {{0, "alice"}}));
  const Bytes before = ReadAll(file_);
  {
    TXoCustomDatabase db(file_);
    db.Terminate();
    EXPECT_EQ(db.Initialize(10847), -1);  // the file says 100
    EXPECT_EQ(db.Initialize(-1), -1);
    EXPECT_FALSE(db.UserExists("alice"));  // nothing indexed by a refusal
    EXPECT_FALSE(db.New("bob"));
    uint8_t payload[100] = {};
    EXPECT_EQ(db.Add("bob", payload, 100), -1);
    EXPECT_EQ(db.GetMsgCount(), 0);

    EXPECT_EQ(db.Initialize(100), 1);
    EXPECT_EQ(db.Initialize(100), 0);  // already initialised
    db.Uninitialize();
    EXPECT_EQ(db.Initialize(100), -1);  // a closed engine is not reopened
  }
  EXPECT_EQ(ReadAll(file_), before);
}

TEST_F(XoEngineTest, IndexingFindsUsersFreeSlotsAndReusesThemBeforeGrowing) {
  const int32_t kSize = 16;
  // Free: 2 (deleted), 3 (empty name, no flag), 5 (deleted). Placeholder-only user: Bob.
  WriteAll(file_, MakeFile(kSize, {{0, "alice"},
                                   {kOccupy, "Bob"},
                                   {kDelete, "carol"},
                                   {0, ""},
                                   {kRead, "ALICE"},
                                   {kDelete, "dave"}}));
  int32_t indexed = 0;
  auto db = OpenQuiet(kSize, &indexed);
  EXPECT_EQ(indexed, 2);  // the two records of alice; placeholders are not counted
  EXPECT_TRUE(db->UserExists("alice"));
  EXPECT_TRUE(db->UserExists("Alice"));
  EXPECT_TRUE(db->UserExists("bob"));
  EXPECT_FALSE(db->UserExists("carol"));
  EXPECT_FALSE(db->UserExists("dave"));
  EXPECT_FALSE(db->UserExists(""));

  Bytes payload(kSize, 0xEE);
  std::vector<int32_t> got;
  for (const char* name : {"erin", "frank", "grace", "heidi"}) got.push_back(db->Add(name, payload.data(), kSize));
  EXPECT_EQ(got, (std::vector<int32_t>{2, 3, 5, 6}));
  db->ExecAll({});
  EXPECT_TRUE(db->UserExists("HEIDI"));
  EXPECT_FALSE(db->HasError());

  Bytes f = ReadAll(file_);
  ASSERT_EQ(f.size(), 48u + 7 * (53 + kSize));
  EXPECT_EQ(At<int32_t>(f, 36), 7);
  EXPECT_EQ(At<double>(f, 40), kClock);
  const std::pair<int32_t, const char*> written[] = {{2, "erin"}, {3, "frank"}, {5, "grace"}, {6, "heidi"}};
  for (auto [slot, name] : written) {
    SCOPED_TRACE(slot);
    SlotView v = ViewSlot(f, kSize, slot);
    EXPECT_EQ(v.number, slot);
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.name, name);
    EXPECT_EQ(v.added, kClock);
    EXPECT_EQ(v.read, 0.0);
    EXPECT_EQ(v.payload, payload);
  }
  // Slots that were in use are untouched.
  EXPECT_EQ(ViewSlot(f, kSize, 4).payload, Bytes(kSize, 5));
}

TEST_F(XoEngineTest, IndexingStopsAtASlotCutShort) {
  const int32_t kSize = 10;
  Bytes f = MakeFile(kSize, {{0, "a"}, {0, "b"}, {0, "c"}});
  PutAt<int32_t>(f, 36, 5);      // the header claims five slots
  f.resize(48 + 2 * 63 + 20);    // the third is cut inside its record header
  WriteAll(file_, f);
  int32_t indexed = 0;
  auto db = OpenQuiet(kSize, &indexed);
  EXPECT_EQ(indexed, 2);
  EXPECT_TRUE(db->UserExists("b"));
  EXPECT_FALSE(db->UserExists("c"));
  Bytes payload(kSize, 1);
  EXPECT_EQ(db->Add("d", payload.data(), kSize), 5);  // no free slot known: grows at nCount
}

TEST_F(XoEngineTest, PlaceholdersRegisterTheirUserButHoldNoRecord) {
  const int32_t kSize = 8;
  const std::string gbkName = "\xD5\xC5\xC8\xFD" "Ab";  // two GBK characters, then ASCII
  {
    auto db = OpenQuiet(kSize);
    EXPECT_TRUE(db->New("Dave"));
    EXPECT_TRUE(db->New(gbkName));
    EXPECT_FALSE(db->UserExists("dave"));  // queued, not yet written
    db->ExecAll({});
    EXPECT_TRUE(db->UserExists("DAVE"));
    EXPECT_TRUE(db->UserExists("\xD5\xC5\xC8\xFD" "aB"));
    EXPECT_FALSE(db->UserExists("\xD5\xC5\xC8\xFD"));
    db->Uninitialize();
    EXPECT_FALSE(db->HasError());
  }
  Bytes f = ReadAll(file_);
  SlotView v = ViewSlot(f, kSize, 1);
  EXPECT_EQ(v.status, kOccupy);
  EXPECT_EQ(v.name, gbkName);
  EXPECT_EQ(v.number, 1);
  EXPECT_EQ(v.payload, Bytes(kSize, 0));

  int32_t indexed = -1;
  auto again = OpenQuiet(kSize, &indexed);
  EXPECT_EQ(indexed, 0);
  EXPECT_TRUE(again->UserExists("dave"));
}

TEST_F(XoEngineTest, NamesLongerThanTheFieldAreCutToThirtyBytes) {
  const std::string longName(40, 'n');
  auto db = OpenQuiet(4);
  uint8_t payload[4] = {1, 2, 3, 4};
  EXPECT_EQ(db->Add(longName, payload, 4), 0);
  db->ExecAll({});
  SlotView v = ViewSlot(ReadAll(file_), 4, 0);
  EXPECT_EQ(v.name, std::string(30, 'n'));
  EXPECT_TRUE(db->UserExists(std::string(30, 'N')));
}

TEST_F(XoEngineTest, AddRefusesAWrongLengthOrAnEngineNotInitialised) {
  uint8_t payload[11] = {};
  TXoCustomDatabase db(file_);
  db.Terminate();
  EXPECT_EQ(db.Add("x", payload, 10), -1);  // before Initialize
  EXPECT_FALSE(db.New("x"));
  ASSERT_EQ(db.Initialize(10), 0);
  EXPECT_EQ(db.Add("x", payload, 9), -1);
  EXPECT_EQ(db.Add("x", payload, 11), -1);
  EXPECT_EQ(db.Add("x", nullptr, 10), -1);
  EXPECT_EQ(db.GetMsgCount(), 0);
  EXPECT_EQ(db.Add("x", payload, 10), 0);  // a refusal allocated nothing
}

TEST_F(XoEngineTest, AddFromWritesWhatAddWouldAndReadsThePayloadOnlyWhenWriting) {
  const int32_t kSize = 6;
  const Bytes payload = {9, 8, 7, 6, 5, 4};
  int fills = 0;
  auto fill = [&](uint8_t* p, int32_t len) {
    ++fills;
    ASSERT_EQ(len, kSize);
    std::memcpy(p, payload.data(), payload.size());
  };
  Bytes viaAdd;
  {
    auto db = OpenQuiet(kSize);
    ASSERT_TRUE(db->New("p"));
    ASSERT_EQ(db->Add("Ann", payload.data(), kSize), 1);
    db->ExecAll({});
    db->Uninitialize();
    viaAdd = ReadAll(file_);
  }
  fs::remove(file_);
  auto db = OpenQuiet(kSize);
  ASSERT_TRUE(db->New("p"));
  ASSERT_EQ(db->AddFrom("Ann", kSize, fill), 1);
  EXPECT_EQ(fills, 0);
  db->ExecAll({});
  EXPECT_EQ(fills, 1);
  db->Uninitialize();
  EXPECT_FALSE(db->HasError());
  EXPECT_EQ(ReadAll(file_), viaAdd);  // the clock is fixed: every byte
}

TEST_F(XoEngineTest, AddFromRefusals) {
  auto fill = [](uint8_t*, int32_t) {};
  TXoCustomDatabase db(file_);
  db.Terminate();
  EXPECT_EQ(db.AddFrom("x", 10, fill), -1);  // before Initialize
  ASSERT_EQ(db.Initialize(10), 0);
  EXPECT_EQ(db.AddFrom("x", 9, fill), -1);
  EXPECT_EQ(db.AddFrom("x", 10, {}), -1);
  EXPECT_EQ(db.GetMsgCount(), 0);
  EXPECT_EQ(db.AddFrom("x", 10, fill), 0);
}

TEST_F(XoEngineTest, AFailedPayloadSourceIsRecordedAndOnlyItsRecordIsMissing) {
  const int32_t kSize = 4;
  auto db = OpenQuiet(kSize);
  const Bytes payload(kSize, 1);
  ASSERT_EQ(db->Add("a", payload.data(), kSize), 0);
  ASSERT_EQ(db->AddFrom("b", kSize, [&](uint8_t*, int32_t) {
    throw FileError(FileOp::Read, dir_ / "source", "gone");
  }), 1);
  ASSERT_EQ(db->Add("c", payload.data(), kSize), 2);
  std::vector<std::pair<int32_t, int32_t>> calls;
  db->ExecAll([&](int32_t a, int32_t b) { calls.emplace_back(a, b); });
  EXPECT_EQ(calls, (std::vector<std::pair<int32_t, int32_t>>{{0, 3}, {1, 3}, {2, 3}}));
  EXPECT_TRUE(db->IsIdle());
  ASSERT_TRUE(db->HasError());
  EXPECT_NE(db->FirstError()->find("gone"), std::string::npos);
  EXPECT_FALSE(db->UserExists("b"));
  const Bytes f = ReadAll(file_);
  EXPECT_EQ(ViewSlot(f, kSize, 0).name, "a");
  EXPECT_EQ(ViewSlot(f, kSize, 1).name, "");  // never written: a hole
  EXPECT_EQ(ViewSlot(f, kSize, 2).name, "c");
}

TEST_F(XoEngineTest, AddReturnsItsSlotBeforeTheRecordIsWritten) {
  auto db = OpenQuiet(4);
  uint8_t payload[4] = {};
  EXPECT_TRUE(db->IsIdle());
  EXPECT_EQ(db->Add("a", payload, 4), 0);
  EXPECT_EQ(db->Add("b", payload, 4), 1);
  EXPECT_FALSE(db->IsIdle());
  EXPECT_EQ(db->GetMsgCount(), 2);
  EXPECT_EQ(ReadAll(file_).size(), 48u);
  db->ExecAll({});
  EXPECT_TRUE(db->IsIdle());
  EXPECT_EQ(ReadAll(file_).size(), 48u + 2 * 57);
}

TEST_F(XoEngineTest, ExecAllReportsProgressAsSpecified) {
  using Calls = std::vector<std::pair<int32_t, int32_t>>;
  const std::pair<int, Calls> cases[] = {
      {0, {{0, 0}}},
      {1, {{0, 1}}},
      {3, {{0, 3}, {1, 3}, {2, 3}}},
  };
  for (const auto& [queued, expected] : cases) {
    SCOPED_TRACE(queued);
    fs::remove(file_);
    auto db = OpenQuiet(4);
    for (int i = 0; i < queued; ++i) ASSERT_TRUE(db->New("u" + std::to_string(i)));
    Calls calls;
    db->ExecAll([&](int32_t nMin, int32_t nMax) {
      calls.emplace_back(nMin, nMax);
      if (nMin < queued - 1) {
        EXPECT_FALSE(db->IsIdle());  // work remains
      }
    });
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(db->IsIdle());
    EXPECT_EQ(ReadAll(file_).size(), 48u + static_cast<size_t>(queued) * 57);
  }
}

TEST_F(XoEngineTest, WorkQueuedFromTheExecAllCallbackIsKept) {
  auto db = OpenQuiet(4);
  uint8_t payload[4] = {9, 9, 9, 9};
  ASSERT_EQ(db->Add("a", payload, 4), 0);
  bool added = false;
  db->ExecAll([&](int32_t, int32_t) {
    if (!added) added = db->Add("b", payload, 4) == 1;
  });
  ASSERT_TRUE(added);
  EXPECT_EQ(db->GetMsgCount(), 1);
  db->ExecAll({});
  EXPECT_TRUE(db->UserExists("b"));
}

TEST_F(XoEngineTest, UninitializeClosesTheFileAndLeavesTheQueue) {
  auto db = OpenQuiet(4);
  uint8_t payload[4] = {};
  ASSERT_EQ(db->Add("a", payload, 4), 0);
  db->Uninitialize();
  db->Uninitialize();
  EXPECT_EQ(db->GetMsgCount(), 1);
  EXPECT_FALSE(db->IsIdle());
  EXPECT_FALSE(db->New("b"));
  db->ExecAll({});
  EXPECT_TRUE(db->IsIdle());
  EXPECT_EQ(ReadAll(file_).size(), 48u);  // taken off the queue, not written
  EXPECT_FALSE(db->UserExists("a"));
  EXPECT_FALSE(db->HasError());
}

// The worker alone writes the queue; IsIdle turns true only once the last
// record is on disk.
TEST_F(XoEngineTest, WorkerWritesTheQueueAndIsIdleOnlyAfterTheLastRecord) {
  const int32_t kSize = 32;
  TXoCustomDatabase db(file_);
  ASSERT_EQ(db.Initialize(kSize), 0);
  Bytes payload(kSize, 0x42);
  const int kRecords = 3;
  // The middle one's payload is read by the worker, on its own thread.
  auto fill = [&payload](uint8_t* p, int32_t len) { std::memcpy(p, payload.data(), static_cast<size_t>(len)); };
  for (int i = 0; i < kRecords; ++i) {
    const std::string name = "w" + std::to_string(i);
    ASSERT_EQ(i == 1 ? db.AddFrom(name, kSize, fill) : db.Add(name, payload.data(), kSize), i);
  }
  const size_t full = 48u + kRecords * (53u + kSize);
  int32_t lastCount = db.GetMsgCount();
  bool idle = false;
  for (int poll = 0; poll < 20000 && !idle; ++poll) {  // a hang guard, not a timing check
    int32_t count = db.GetMsgCount();
    EXPECT_LE(count, lastCount);
    lastCount = count;
    idle = db.IsIdle();
    if (idle) {
      Bytes f = ReadAll(file_);
      ASSERT_EQ(f.size(), full);
      EXPECT_EQ(ViewSlot(f, kSize, kRecords - 1).name, "w2");
      EXPECT_EQ(ViewSlot(f, kSize, kRecords - 1).payload, payload);
      EXPECT_EQ(ViewSlot(f, kSize, 1).payload, payload);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ASSERT_TRUE(idle);
  EXPECT_TRUE(db.UserExists("w0"));
  db.Uninitialize();
  EXPECT_FALSE(db.HasError());
}

TEST_F(XoEngineTest, DestroyingWithQueuedWorkAndARunningWorkerFreesEverything) {
  {
    TXoCustomDatabase db(file_);
    ASSERT_EQ(db.Initialize(64), 0);
    Bytes payload(64, 1);
    for (int i = 0; i < 50; ++i) db.Add("x", payload.data(), 64);
    db.Terminate();
  }
  {
    TXoCustomDatabase neverStarted(file_);
  }
  {
    auto db = std::make_unique<TXoCustomDatabase>(file_);
    ASSERT_GE(db->Initialize(64), 0);
    db->New("y");
    db->Uninitialize();
    db.reset();  // the owner's "free on end": joins the worker
  }
  SUCCEED();  // leaks and races are the sanitizers' to find
}

TEST_F(XoEngineTest, FilesThatCannotBeOpenedOrGivenAHeaderThrow) {
  const fs::path folder = dir_;
  const fs::path inMissingFolder = dir_ / "missing-folder" / "Email.db";
  EXPECT_THROW(TXoCustomDatabase{inMissingFolder}, FileError);
  EXPECT_THROW(TXoCustomDatabase{folder}, FileError);
  if (fs::exists("/dev/full")) {
    // Reads as zeros (a foreign header); the fresh header cannot be written.
    EXPECT_THROW(TXoCustomDatabase{fs::path("/dev/full")}, FileError);
  }
}

TEST_F(XoEngineTest, AWriteFailureIsRecordedAndTheFirstOneKept) {
  RAZERE_POSIX_ONLY("a file size limit");
  const int32_t kSize = 100;
  auto db = OpenQuiet(kSize);
  Bytes payload(kSize, 3);
  for (const char* name : {"a", "b", "c"}) ASSERT_GE(db->Add(name, payload.data(), kSize), 0);
  {
    FileSizeLimit limit(48 + 153 + 10);  // the first slot fits, the second only in part
    ASSERT_TRUE(limit.ok());
    db->ExecAll({});
  }
  ASSERT_TRUE(db->HasError());
  const std::string first = db->FirstError().value();
  EXPECT_NE(first.find(file_.string()), std::string::npos) << first;
  db->Uninitialize();
  EXPECT_EQ(db->FirstError().value(), first);
  EXPECT_THROW(db->RaiseFirstError(), FileError);
  EXPECT_EQ(ViewSlot(ReadAll(file_), kSize, 0).name, "a");
}

TEST_F(XoEngineTest, NoErrorIsRaisedWhenNoneWasRecorded) {
  auto db = OpenQuiet(4);
  db->Uninitialize();
  EXPECT_EQ(db->FirstError(), std::nullopt);
  EXPECT_NO_THROW(db->RaiseFirstError());
}

}  // namespace
}  // namespace razere
