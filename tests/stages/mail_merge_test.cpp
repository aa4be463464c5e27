#include "stages/mail_merge.h"

#include <gtest/gtest.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/records.h"
#include "dbfiles/source_file.h"
#include "dbfiles/xo_custom_database.h"
#include "merge/accounts.h"
#include "merge/character_collections.h"
#include "merge/character_stage.h"
#include "merge/fixtures.h"
#include "merge/item_serials.h"
#include "stages/mail_format.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/errors.h"
#include "support/file_size_limit.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FileSizeLimit;
using Names = std::vector<std::string>;

constexpr int32_t kPayload = mail_payload::kSize;

// ---------------------------------------------------------------------------
// Source Email.db files built in code
// ---------------------------------------------------------------------------

struct Att {
  int k;
  uint8_t kind;
  int32_t serial = 0;  // the first 4 bytes after the kind byte
};

struct Mail {
  std::string to;  // GBK
  TXoProcessStatues status = 0;
  std::vector<Att> atts{};
};

size_t AttAt(int k) {
  return static_cast<size_t>(mail_payload::kAttachments + k * mail_payload::kAttachmentSize);
}

// Every byte of the payload is set (the opaque ones to a pattern that differs
// from mail to mail) except the kind bytes of attachments not named.
Bytes MakePayload(const Mail& m, uint8_t seed) {
  Bytes p(kPayload);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  for (int k = 0; k < mail_payload::kAttachmentCount; ++k) p[AttAt(k)] = mail_attachment::kKindEmpty;
  for (const Att& a : m.atts) {
    p[AttAt(a.k)] = a.kind;
    StoreInt32LE(p.data() + AttAt(a.k) + mail_attachment::kItem, a.serial);
  }
  return p;
}

Bytes MakeSlot(const Mail& m, int32_t index, uint8_t seed) {
  Bytes s(kMailSlotSize, 0);
  StoreInt32LE(s.data() + xodb::kRecordNumberOffset, index);
  StoreUint16LE(s.data() + xodb::kStatusOffset, m.status);
  WriteNameField(s.data() + xodb::kNameOffset, m.to);
  StoreDoubleLE(s.data() + xodb::kAddTimeOffset, 45000.25);
  StoreDoubleLE(s.data() + xodb::kReadTimeOffset, (m.status & XoStatus(xops_read)) ? 45001.0 : 0.0);
  const Bytes p = MakePayload(m, seed);
  std::memcpy(s.data() + xodb::kRecordHeaderSize, p.data(), p.size());
  return s;
}

Bytes MakeHeader(int32_t nCount, int32_t nDataSize = kPayload) {
  Bytes h(xodb::kHeaderSize, 0);
  h[0] = static_cast<uint8_t>(xodb::kTitle.size());
  std::memcpy(h.data() + 1, xodb::kTitle.data(), xodb::kTitle.size());
  StoreInt32LE(h.data() + xodb::kDataSizeOffset, nDataSize);
  StoreInt32LE(h.data() + xodb::kCountOffset, nCount);
  StoreDoubleLE(h.data() + xodb::kUpdateTimeOffset, 45000.5);
  return h;
}

// Seeds of the payload pattern: one per mail, different for each side.
uint8_t Seed(bool master, size_t i) { return static_cast<uint8_t>((master ? 0 : 128) + i * 3 + 1); }

Bytes MakeEmailDb(const std::vector<Mail>& mails, bool master, std::optional<int32_t> nCount = std::nullopt,
                  int32_t nDataSize = kPayload) {
  Bytes f = MakeHeader(nCount.value_or(static_cast<int32_t>(mails.size())), nDataSize);
  for (size_t i = 0; i < mails.size(); ++i) {
    Bytes s = MakeSlot(mails[i], static_cast<int32_t>(i), Seed(master, i));
    f.insert(f.end(), s.begin(), s.end());
  }
  return f;
}

// One slot of the new Email.db.
struct OutSlot {
  int32_t number = 0;
  TXoProcessStatues status = 0;
  std::string name;
  Bytes payload;
};

std::vector<OutSlot> ReadStoreFile(const fs::path& path) {
  const Bytes all = testing::ReadFile(path);
  std::vector<OutSlot> out;
  if (all.size() < static_cast<size_t>(xodb::kHeaderSize)) return out;
  EXPECT_EQ(LoadInt32LE(all.data() + xodb::kDataSizeOffset), kPayload);
  const int32_t count = LoadInt32LE(all.data() + xodb::kCountOffset);
  for (int32_t i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(xodb::kHeaderSize) + static_cast<size_t>(i) * kMailSlotSize;
    if (at + kMailSlotSize > all.size()) {
      ADD_FAILURE() << "slot " << i << " is cut short";
      break;
    }
    const uint8_t* s = all.data() + at;
    out.push_back({LoadInt32LE(s + xodb::kRecordNumberOffset), LoadUint16LE(s + xodb::kStatusOffset),
                   ReadNameField(s + xodb::kNameOffset),
                   Bytes(s + xodb::kRecordHeaderSize, s + kMailSlotSize)});
  }
  return out;
}

Names NamesOf(const std::vector<OutSlot>& slots) {
  Names n;
  for (const OutSlot& s : slots) n.push_back(s.name);
  return n;
}

int32_t SerialOf(const Bytes& payload, int k) {
  return LoadInt32LE(payload.data() + AttAt(k) + mail_attachment::kItem);
}

// The payload a mail should arrive with: its source payload with the given
// serials (attachment -> serial) put in.
Bytes Expected(const Mail& m, uint8_t seed, const std::vector<std::pair<int, int32_t>>& serials = {}) {
  Bytes p = MakePayload(m, seed);
  for (const auto& [k, serial] : serials) StoreInt32LE(p.data() + AttAt(k) + mail_attachment::kItem, serial);
  return p;
}

// ---------------------------------------------------------------------------
// A run context with a fresh mail store and characters registered in it as
// the character stage leaves them.
// ---------------------------------------------------------------------------

// Counters as the shop stage might leave them.
constexpr int32_t kItemNumberBefore = 500;
constexpr int32_t kItemNumberExBefore = 0x40000010;

class MailMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.Bar.SetHost(host);
    fs::create_directories(dir.path() / "out");
    ctx.SavePath = (dir.path() / "out").string() + "/";
    ctx.Master.Email = (dir.path() / "master-Email.db").string();
    ctx.Slave.Email = (dir.path() / "slave-Email.db").string();
    ctx.ItemNumber = kItemNumberBefore;
    ctx.ItemNumberEx = kItemNumberExBefore;
    OpenStore(kPayload);
  }
  void TearDown() override { ctx.MailStore.reset(); }

  fs::path StorePath() const { return dir.path() / "out" / "Email.db"; }

  void OpenStore(int32_t dataSize) {
    ctx.MailStore.reset();
    fs::remove(StorePath());
    ctx.MailStore = std::make_shared<TXoCustomDatabase>(StorePath());
    // No worker: only ExecAll writes, so the batches the stage sees are fixed.
    ctx.MailStore->Terminate();
    ASSERT_GE(ctx.MailStore->Initialize(dataSize), 0);
  }

  // A character of the new data set under its final name.
  void Character(const std::string& name, bool master) {
    ASSERT_TRUE(ctx.MailStore->New(name));
    if (!ctx.MasterCharData) ctx.MasterCharData = std::make_shared<CharDataCollection>();
    CharDataItem item;
    item.side = master ? kSideMaster : kSideSlave;
    item.name = InlineName(name);
    ctx.MasterCharData->Add(NameKey(name), item);
  }
  // A slave character renamed from oldName.
  void Renamed(const std::string& oldName, const std::string& newName) {
    if (!ctx.CharRenames) ctx.CharRenames = std::make_shared<NameRenameMap>();
    auto e = std::make_unique<CharIndexEntry>();
    e->name = oldName;
    e->newName = newName;
    ctx.CharRenames->Add(oldName, e.get());
    entries_.push_back(std::move(e));
    Character(newName, false);
  }

  void WriteMaster(const std::vector<Mail>& mails) { testing::WriteFile(ctx.Master.Email, MakeEmailDb(mails, true)); }
  void WriteSlave(const std::vector<Mail>& mails) { testing::WriteFile(ctx.Slave.Email, MakeEmailDb(mails, false)); }

  // The stage, then the store closed as the driver closes it.
  std::vector<OutSlot> Run() {
    MergeMail(ctx);
    return Close();
  }
  std::vector<OutSlot> Close() {
    ctx.MailStore->Uninitialize();
    EXPECT_FALSE(ctx.MailStore->HasError());
    ctx.MailStore.reset();
    return ReadStoreFile(StorePath());
  }

  testing::TempDir dir;
  testing::RecordingHost host;
  RunContext ctx;

 private:
  std::vector<std::unique_ptr<CharIndexEntry>> entries_;
};

// ---------------------------------------------------------------------------
// Which mails are kept
// ---------------------------------------------------------------------------

TEST_F(MailMergeTest, KeepsOnlyUnreadMailsThatCarryAnAttachment) {
  struct Case {
    const char* what;
    Mail mail;
    bool kept;
  };
  const TXoProcessStatues kRead = XoStatus(xops_read);
  const std::vector<Case> cases = {
      {"unread, one item", {"Bob", 0, {{0, 1, 100}}}, true},
      {"read", {"Bob", kRead, {{0, 1, 100}}}, false},
      {"read and locked", {"Bob", static_cast<TXoProcessStatues>(kRead | XoStatus(xops_lock)), {{0, 1, 100}}}, false},
      {"deleted", {"Bob", XoStatus(xops_delete), {{0, 1, 100}}}, false},
      {"placeholder", {"Bob", XoStatus(xops_occupy), {{0, 1, 100}}}, false},
      {"locked and queried, unread",
       {"Bob", static_cast<TXoProcessStatues>(XoStatus(xops_lock) | XoStatus(xops_query) | XoStatus(xops_Unknown5)),
        {{4, 1, 100}}},
       true},
      {"no attachments", {"Bob", 0, {}}, false},
      {"empty attachment with a serial", {"Bob", 0, {{3, 0, 999}}}, false},
      {"only another kind, last attachment", {"Bob", 0, {{9, 7, 12345}}}, true},
      {"kind 255", {"Bob", 0, {{5, 255, 1}}}, true},
  };
  Character("Bob", true);
  std::vector<Mail> mails;
  for (const Case& c : cases) mails.push_back(c.mail);
  WriteMaster(mails);
  const auto out = Run();

  Names expectedNames{"Bob"};  // the placeholder
  std::vector<Bytes> expectedPayloads;
  int32_t next = kItemNumberBefore;
  for (size_t i = 0; i < cases.size(); ++i) {
    if (!cases[i].kept) continue;
    expectedNames.push_back("Bob");
    std::vector<std::pair<int, int32_t>> serials;
    for (const Att& a : cases[i].mail.atts) {
      if (a.kind == 1) serials.emplace_back(a.k, ++next);
    }
    expectedPayloads.push_back(Expected(cases[i].mail, Seed(true, i), serials));
  }
  ASSERT_EQ(NamesOf(out), expectedNames);
  EXPECT_EQ(out[0].status, XoStatus(xops_occupy));
  size_t j = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    if (!cases[i].kept) continue;
    SCOPED_TRACE(cases[i].what);
    const OutSlot& s = out[1 + j];
    EXPECT_EQ(s.number, static_cast<int32_t>(1 + j));
    EXPECT_EQ(s.status, 0);  // the engine's fresh header: the source's flags are not carried over
    EXPECT_TRUE(s.payload == expectedPayloads[j]);
    ++j;
  }
  EXPECT_EQ(ctx.ItemNumber, next);
}

TEST_F(MailMergeTest, ItemSerialsByRangeInAttachmentOrderContinuingTheCounters) {
  Character("Bob", true);
  Character("Kim", false);
  ctx.MasterItemSerials = std::make_shared<ItemSerialMap>();
  ctx.SlaveItemSerials = std::make_shared<ItemSerialMap>();
  const Mail first{"Bob",
                   0,
                   {{0, 1, 0},
                    {1, 1, 1073741822},
                    {2, 1, 1073741823},
                    {3, 1, -5},
                    {4, 2, 77},
                    {5, 1, 2147483647},
                    {9, 1, 42}}};
  const Mail second{"Bob", 0, {{6, 1, 7}}};
  const Mail slaveMail{"Kim", 0, {{0, 1, 1073741822}, {1, 1, 1500000000}}};
  WriteMaster({first, second});
  WriteSlave({slaveMail});
  const auto out = Run();

  ASSERT_EQ(NamesOf(out), (Names{"Bob", "Kim", "Bob", "Bob", "Kim"}));
  const Bytes& p = out[2].payload;
  EXPECT_EQ(SerialOf(p, 0), 0);                              // no serial: none given
  EXPECT_EQ(SerialOf(p, 1), kItemNumberBefore + 1);          // 1,073,741,822: ordinary
  EXPECT_EQ(SerialOf(p, 2), kItemNumberExBefore + 1);        // 1,073,741,823: extended
  EXPECT_EQ(SerialOf(p, 3), kItemNumberBefore + 2);          // negative: ordinary
  EXPECT_EQ(SerialOf(p, 4), 77);                             // not an item
  EXPECT_EQ(SerialOf(p, 5), kItemNumberExBefore + 2);
  EXPECT_EQ(SerialOf(p, 9), kItemNumberBefore + 3);
  EXPECT_TRUE(p == Expected(first, Seed(true, 0),
                            {{1, kItemNumberBefore + 1},
                             {2, kItemNumberExBefore + 1},
                             {3, kItemNumberBefore + 2},
                             {5, kItemNumberExBefore + 2},
                             {9, kItemNumberBefore + 3}}));
  EXPECT_EQ(SerialOf(out[3].payload, 6), kItemNumberBefore + 4);
  // Slave mails come after all master mails.
  EXPECT_EQ(SerialOf(out[4].payload, 0), kItemNumberBefore + 5);
  EXPECT_EQ(SerialOf(out[4].payload, 1), kItemNumberExBefore + 3);
  EXPECT_EQ(ctx.ItemNumber, kItemNumberBefore + 5);
  EXPECT_EQ(ctx.ItemNumberEx, kItemNumberExBefore + 3);
  // Mail serials are not recorded for the text lists.
  EXPECT_EQ(ctx.MasterItemSerials->Count(), 0);
  EXPECT_EQ(ctx.SlaveItemSerials->Count(), 0);
}

TEST_F(MailMergeTest, CountersWrapToTheBottomOfTheirRange) {
  Character("Bob", true);
  ctx.ItemNumber = kItemNumberMax;
  ctx.ItemNumberEx = kItemNumberExMax;
  WriteMaster({{"Bob", 0, {{0, 1, 5}, {1, 1, 5}, {2, 1, 0x7FFFFFFF}}}});
  const auto out = Run();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(SerialOf(out[1].payload, 0), 1);
  EXPECT_EQ(SerialOf(out[1].payload, 1), 2);
  EXPECT_EQ(SerialOf(out[1].payload, 2), kItemNumberExMin);
}

// ---------------------------------------------------------------------------
// Recipients: renames, sides, unknown names
// ---------------------------------------------------------------------------

TEST_F(MailMergeTest, RecipientsFollowRenamesAndStayOnTheirSide) {
  Character("Bob", true);
  Character("Ann", true);
  Character("Lee", true);   // the slave's Lee was removed by the clean-up
  Character("Kim", false);
  Renamed("Bob", "Boba");   // the slave's Bob, renamed because the master has one
  const std::vector<Mail> master = {
      {"Bob", 0, {{0, 1, 10}}},     // 0: kept under Bob
      {"Kim", 0, {{0, 1, 11}}},     // 1: Kim is the slave's: dropped
      {"Ghost", 0, {{0, 1, 12}}},   // 2: nobody: dropped
      {"bOB", 0, {{1, 3, 13}}},     // 3: names are found without ASCII case; kept as spelled
      {"Boba", 0, {{0, 1, 14}}},    // 4: the new name belongs to the slave's character: dropped
  };
  const std::vector<Mail> slave = {
      {"Bob", 0, {{0, 1, 20}}},     // 0: to Boba
      {"Lee", 0, {{0, 1, 21}}},     // 1: the master's Lee is someone else: dropped
      {"Ann", 0, {{0, 1, 22}}},     // 2: master only: dropped
      {"Kim", 0, {{2, 6, 23}}},     // 3: kept
      {"BOB", 0, {{0, 1, 24}}},     // 4: renames are keyed without ASCII case: to Boba
      {"Nobody", 0, {{0, 1, 25}}},  // 5: dropped
  };
  WriteMaster(master);
  WriteSlave(slave);
  const auto out = Run();

  ASSERT_EQ(NamesOf(out), (Names{"Bob", "Ann", "Lee", "Kim", "Boba", "Bob", "bOB", "Boba", "Kim", "Boba"}));
  EXPECT_TRUE(out[5].payload == Expected(master[0], Seed(true, 0), {{0, kItemNumberBefore + 1}}));
  EXPECT_TRUE(out[6].payload == Expected(master[3], Seed(true, 3)));
  EXPECT_TRUE(out[7].payload == Expected(slave[0], Seed(false, 0), {{0, kItemNumberBefore + 2}}));
  EXPECT_TRUE(out[8].payload == Expected(slave[3], Seed(false, 3)));
  EXPECT_TRUE(out[9].payload == Expected(slave[4], Seed(false, 4), {{0, kItemNumberBefore + 3}}));
  EXPECT_EQ(ctx.ItemNumber, kItemNumberBefore + 3);  // dropped mails use no serials
}

TEST_F(MailMergeTest, NameLengthByteAboveThirtyReadsThirtyBytes) {
  const std::string name30 = "abcdefghijklmnopqrstuvwxyz0123";
  Character(name30, true);
  Bytes file = MakeEmailDb({{name30, 0, {{0, 1, 5}}}, {"Zed", 0, {{0, 1, 6}}}, {name30, 0, {{0, 1, 7}}}}, true);
  file[xodb::kHeaderSize + xodb::kNameOffset] = 200;
  file[xodb::kHeaderSize + kMailSlotSize + xodb::kNameOffset] = 255;  // "Zed" and zeros: nobody
  file[xodb::kHeaderSize + 2 * kMailSlotSize + xodb::kNameOffset] = 31;
  testing::WriteFile(ctx.Master.Email, file);
  const auto out = Run();
  ASSERT_EQ(NamesOf(out), (Names{name30, name30, name30}));
  EXPECT_EQ(SerialOf(out[1].payload, 0), kItemNumberBefore + 1);
  EXPECT_EQ(SerialOf(out[2].payload, 0), kItemNumberBefore + 2);
}

TEST_F(MailMergeTest, GbkNamesKeepTheirBytes) {
  const std::string name = Utf8ToGbk("张三");
  const std::string renamed = Utf8ToGbk("李四") + "a";
  Character(name, true);
  Renamed(Utf8ToGbk("李四"), renamed);
  WriteMaster({{name, 0, {{0, 1, 1}}}});
  WriteSlave({{Utf8ToGbk("李四"), 0, {{0, 1, 2}}}});
  const auto out = Run();
  EXPECT_EQ(NamesOf(out), (Names{name, renamed, name, renamed}));
}

// ---------------------------------------------------------------------------
// Source files: missing, damaged, other payload sizes
// ---------------------------------------------------------------------------

TEST_F(MailMergeTest, WithoutSourceFilesOnlyThePlaceholdersAreWritten) {
  Character("Ann", true);
  Character("Kim", false);
  fs::create_directories(ctx.Slave.Email);  // a folder where the file should be: no file
  const auto out = Run();
  EXPECT_EQ(NamesOf(out), (Names{"Ann", "Kim"}));
  for (const OutSlot& s : out) EXPECT_EQ(s.status, XoStatus(xops_occupy));
  EXPECT_TRUE(host.messages.empty());
  // Both flushes show the rebuild text, the last (empty) one included.
  EXPECT_EQ(host.statuses, (Names{"正在重建邮件索引(1/100) Email.DB", "正在重建邮件索引(0/2) Email.DB",
                                  "正在加载主库邮件(1/2) Email.DB", "正在加载从库邮件(2/2) Email.DB",
                                  "正在合并邮件(2/2) Email.DB", "正在重建邮件索引(0/0) Email.DB"}));
}

TEST_F(MailMergeTest, DamagedSourceFilesGiveWhatTheyHold) {
  const Mail m{"Bob", 0, {{0, 1, 9}}};
  const std::vector<Mail> three(3, m);
  auto withHeader = [](Bytes f, const std::function<void(Bytes&)>& change) {
    change(f);
    return f;
  };
  auto cut = [](Bytes f, size_t size) {
    f.resize(size);
    return f;
  };
  struct Case {
    const char* what;
    Bytes file;
    size_t kept;
  };
  const std::vector<Case> cases = {
      {"empty file", {}, 0},
      {"header cut short", cut(MakeEmailDb(three, true), xodb::kHeaderSize - 1), 0},
      {"foreign title", withHeader(MakeEmailDb(three, true), [](Bytes& f) { f[10] = 'x'; }), 0},
      {"title length byte not 26", withHeader(MakeEmailDb(three, true), [](Bytes& f) { f[0] = 25; }), 0},
      {"title in lower case", withHeader(MakeEmailDb(three, true), [](Bytes& f) { f[1] = 'k'; }), 0},
      {"bytes after the title do not matter",
       withHeader(MakeEmailDb(three, true), [](Bytes& f) { f[27] = 'Z'; f[31] = 1; }), 3},
      {"header count above the slots present", MakeEmailDb(three, true, 50), 3},
      {"last slot cut short", cut(MakeEmailDb(three, true), xodb::kHeaderSize + 3 * kMailSlotSize - 1), 2},
      {"header count below the slots present", MakeEmailDb(three, true, 2), 2},
      {"header count 0", MakeEmailDb(three, true, 0), 0},
      {"negative header count", MakeEmailDb(three, true, -3), 0},
      {"header count at the 32-bit maximum", MakeEmailDb(three, true, INT32_MAX), 3},
      // The header's payload size is not consulted: slots are 10,900 bytes.
      {"payload size 0 in the header", MakeEmailDb(three, true, std::nullopt, 0), 3},
      {"payload size 100 in the header", MakeEmailDb(three, true, std::nullopt, 100), 3},
      {"payload size 100 and 153-byte slots (too short for one)",
       cut(MakeEmailDb(three, true, std::nullopt, 100), xodb::kHeaderSize + 3 * 153), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenStore(kPayload);
    ctx.MasterCharData.reset();
    Character("Bob", true);
    testing::WriteFile(ctx.Master.Email, c.file);
    const auto out = Run();
    EXPECT_EQ(out.size(), 1 + c.kept);
    for (size_t i = 1; i < out.size(); ++i) {
      EXPECT_TRUE(out[i].payload == Expected(m, Seed(true, i - 1), {{0, kItemNumberBefore + static_cast<int32_t>(i)}}));
    }
    ctx.ItemNumber = kItemNumberBefore;
  }
}

TEST_F(MailMergeTest, FileOfAnotherPayloadSizeIsReadIn10900ByteSlots) {
  // A store of 100-byte payloads (153-byte slots), long enough for one
  // 10,900-byte slot: the first record's header and the bytes after it are
  // taken as one mail; the second "slot" is cut short and ends the file.
  constexpr int32_t kSmall = 100, kSlots = 80;
  Bytes file = MakeHeader(kSlots, kSmall);
  for (int32_t i = 0; i < kSlots; ++i) {
    // Every attachment kind position of the mail taken falls on a 0x55 byte
    // (another kind), so the payload arrives unchanged.
    Bytes s(xodb::kRecordHeaderSize + kSmall, 0x55);
    StoreInt32LE(s.data(), i);
    StoreUint16LE(s.data() + xodb::kStatusOffset, 0);
    WriteNameField(s.data() + xodb::kNameOffset, "Bob");
    file.insert(file.end(), s.begin(), s.end());
  }
  ASSERT_GE(file.size(), static_cast<size_t>(xodb::kHeaderSize + kMailSlotSize));
  ASSERT_LT(file.size(), static_cast<size_t>(xodb::kHeaderSize + 2 * kMailSlotSize));
  Character("Bob", true);
  testing::WriteFile(ctx.Master.Email, file);
  const auto out = Run();
  ASSERT_EQ(NamesOf(out), (Names{"Bob", "Bob"}));
  const Bytes taken(file.begin() + xodb::kHeaderSize + xodb::kRecordHeaderSize,
                    file.begin() + xodb::kHeaderSize + kMailSlotSize);
  EXPECT_TRUE(out[1].payload == taken);
}

// ---------------------------------------------------------------------------
// The whole character stage before the mail stage
// ---------------------------------------------------------------------------

TEST(MailMergeAfterCharacters, MailsReachTheCharactersOfTheNewQelDb) {
  SetClockForTesting(EncodeDateTime(2024, 6, 15, 12));
  testing::MergeFixture f;
  f.ctx.CleanData = true;
  f.ctx.MinDay = 90;
  f.ctx.MinLevel = 10;
  const double recent = EncodeDateTime(2024, 6, 1);
  using testing::CharItemAt;
  f.master.Char({.name = "Bob", .account = "m1", .lastLogin = recent, .items = {{CharItemAt(0, 0), 100}}});
  f.master.Char({.name = "Old", .account = "m1", .lastLogin = recent});
  f.slave.Char({.name = "bob", .account = "s1", .lastLogin = recent, .items = {{CharItemAt(0, 0), 100}}});
  f.slave.Char({.name = "Old", .account = "s2", .level = 1, .lastLogin = 0});  // removed by the clean-up
  f.slave.Char({.name = "Sue", .account = "s1", .lastLogin = recent});
  f.WriteInputs();
  const fs::path store = f.Out("Email.db");
  f.ctx.MailStore = std::make_shared<TXoCustomDatabase>(store);
  ASSERT_GE(f.ctx.MailStore->Initialize(kPayload), 0);
  f.ctx.Master.Email = (f.dir.path() / "master" / "Email.db").string();
  f.ctx.Slave.Email = (f.dir.path() / "slave" / "Email.db").string();
  testing::WriteFile(f.ctx.Master.Email,
                     MakeEmailDb({{"Bob", 0, {{0, 1, 5}}}, {"Old", 0, {{0, 1, 6}}}, {"bob", 0, {}}}, true));
  testing::WriteFile(f.ctx.Slave.Email,
                     MakeEmailDb({{"bob", 0, {{0, 1, 5}}}, {"Old", 0, {{0, 1, 6}}}, {"Sue", 0, {{3, 1, 1500000000}}}},
                                 false));

  LoadAccounts(f.ctx);
  MergeCharacters(f.ctx);
  const int32_t afterChars = f.ctx.ItemNumber;
  const int32_t afterCharsEx = f.ctx.ItemNumberEx;
  EXPECT_EQ(afterChars, 2);
  MergeMail(f.ctx);
  f.ctx.MailStore->Uninitialize();
  f.ctx.MailStore->RaiseFirstError();
  f.ctx.MailStore.reset();
  SetClockForTesting(std::nullopt);

  const Names qel = testing::NamesOf(f.Output(DbKind::Qel), chardata_rec::kName);
  ASSERT_EQ(qel, (Names{"Bob", "Old", "boba", "Sue"}));
  const auto out = ReadStoreFile(store);
  ASSERT_EQ(NamesOf(out), (Names{"Bob", "Old", "boba", "Sue", "Bob", "Old", "boba", "Sue"}));
  for (const OutSlot& s : out) {
    EXPECT_NE(std::find(qel.begin(), qel.end(), s.name), qel.end()) << s.name;
  }
  EXPECT_EQ(SerialOf(out[4].payload, 0), afterChars + 1);
  EXPECT_EQ(SerialOf(out[5].payload, 0), afterChars + 2);
  EXPECT_EQ(SerialOf(out[6].payload, 0), afterChars + 3);
  EXPECT_EQ(SerialOf(out[7].payload, 3), afterCharsEx + 1);
}

// ---------------------------------------------------------------------------
// Many kept mails: the queue holds where each mail lies, not a copy of it
// ---------------------------------------------------------------------------

class FixedClock {
 public:
  explicit FixedClock(double now) { SetClockForTesting(now); }
  ~FixedClock() { SetClockForTesting(std::nullopt); }
};

size_t HeapInUse() {
#ifdef __GLIBC__
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#else
  return 0;
#endif
}

TEST_F(MailMergeTest, ManyKeptMailsGiveTheFileThatCopiesOfThemWouldGive) {
  const FixedClock clock(45100.75);
  constexpr int kMails = 300;  // per side
  // Kept mails to two characters per side, with a dropped one now and then.
  auto sideMails = [](const std::string& a, const std::string& b) {
    std::vector<Mail> mails;
    for (int i = 0; i < kMails; ++i) {
      const std::string& to = i % 2 ? b : a;
      if (i % 7 == 3) mails.push_back({to, XoStatus(xops_read), {{0, 1, i + 1}}});
      const auto kind = static_cast<uint8_t>(i % 3 + 1);
      mails.push_back({to, 0, {{i % 10, 1, i * 1000 + 1}, {(i + 3) % 10, kind, 1500000000 + i}}});
    }
    return mails;
  };
  const std::vector<Mail> master = sideMails("Bob", "Ann"), slave = sideMails("Kim", "Lee");
  for (const char* name : {"Bob", "Ann"}) Character(name, true);
  for (const char* name : {"Kim", "Lee"}) Character(name, false);
  WriteMaster(master);
  WriteSlave(slave);

  // What the stage must write: the placeholders, then every kept mail in
  // source order, each a copy of its payload with its serials replaced.
  const fs::path expectedPath = dir.path() / "expected-Email.db";
  {
    RunContext ref;
    ref.ItemNumber = kItemNumberBefore;
    ref.ItemNumberEx = kItemNumberExBefore;
    TXoCustomDatabase db(expectedPath);
    db.Terminate();
    ASSERT_GE(db.Initialize(kPayload), 0);
    for (const char* name : {"Bob", "Ann", "Kim", "Lee"}) ASSERT_TRUE(db.New(name));
    for (const bool side : {true, false}) {
      const std::vector<Mail>& mails = side ? master : slave;
      for (size_t i = 0; i < mails.size(); ++i) {
        if (mails[i].status != 0) continue;
        Bytes p = MakePayload(mails[i], Seed(side, i));
        ASSERT_TRUE(RenumberMailAttachments(ref, p));
        ASSERT_GE(db.Add(mails[i].to, p.data(), kPayload), 0);
      }
    }
    db.ExecAll({});
    db.Uninitialize();
    ASSERT_FALSE(db.HasError());
  }

  ctx.MailStore->ExecAll({});  // the placeholders, as the stage's first flush
  const size_t heapBefore = HeapInUse();
  const MailCopyStats m = CopyMails(ctx, ctx.Master.Email, true);
  const MailCopyStats s = CopyMails(ctx, ctx.Slave.Email, false);
  ASSERT_EQ(m.kept + s.kept, 2 * kMails);
  ASSERT_EQ(ctx.MailStore->GetMsgCount(), 2 * kMails);
  // Under a tenth of what copies would take, besides the source's read-ahead
  // window (kept for reuse once allocated).
  EXPECT_LT(HeapInUse() - std::min(heapBefore, HeapInUse()),
            static_cast<size_t>(2 * kMails * kMailSlotSize / 10) + DbSourceFile::kWindowSize);

  host.statuses.clear();
  ctx.MailStore->ExecAll([&](int32_t a, int32_t b) { MailProgress(ctx, a, b); });
  EXPECT_EQ(host.statuses.front(), "正在重建邮件索引(0/600) Email.DB");
  EXPECT_EQ(host.statuses.back(), "正在重建邮件索引(500/600) Email.DB");
  Close();
  EXPECT_TRUE(testing::ReadFile(StorePath()) == testing::ReadFile(expectedPath));
}

TEST_F(MailMergeTest, ASourceThatChangesBeforeItsMailsAreWrittenEndsTheRun) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
  };
  const size_t lastPayload = xodb::kHeaderSize + kMailSlotSize + xodb::kRecordHeaderSize;
  const std::vector<Case> cases = {
      {"cut short", [](Bytes& f) { f.resize(f.size() - 1); }},
      {"a payload byte", [&](Bytes& f) { f[lastPayload + 5] ^= 1; }},
      {"an attachment's kind", [&](Bytes& f) { f[lastPayload + AttAt(4)] = 2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenStore(kPayload);
    ctx.MasterCharData.reset();
    Character("Bob", true);
    ctx.MailStore->ExecAll({});
    Bytes file = MakeEmailDb({{"Bob", 0, {{0, 1, 5}}}, {"Bob", 0, {{0, 1, 6}}}}, true);
    testing::WriteFile(ctx.Master.Email, file);
    ASSERT_EQ(CopyMails(ctx, ctx.Master.Email, true).kept, 2);
    c.change(file);
    testing::WriteFile(ctx.Master.Email, file);
    ctx.MailStore->ExecAll({});
    ASSERT_TRUE(ctx.MailStore->HasError());
    EXPECT_NE(ctx.MailStore->FirstError()->find("master-Email.db"), std::string::npos);
    EXPECT_THROW(ctx.MailStore->RaiseFirstError(), FileError);
    ctx.MailStore.reset();
  }
}

// ---------------------------------------------------------------------------
// Progress and failures
// ---------------------------------------------------------------------------

TEST_F(MailMergeTest, ProgressMovesAtEveryHundredthMessageAndAtTheEnd) {
  struct Step {
    int32_t nMin, nMax;
    const char* shown;  // nullptr: nothing shown
    int32_t position;
  };
  const std::vector<Step> steps = {
      {0, 250, "正在重建邮件索引(0/250) Email.DB", 0},
      {1, 250, nullptr, 0},
      {99, 250, nullptr, 0},
      {100, 250, "正在重建邮件索引(100/250) Email.DB", 100},
      {249, 250, nullptr, 100},
      {250, 250, "正在重建邮件索引(250/250) Email.DB", 250},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.nMin);
    const size_t shownBefore = host.statuses.size();
    const int pumpsBefore = host.pumps;
    MailProgress(ctx, s.nMin, s.nMax);
    EXPECT_EQ(ctx.Bar.Max(), 250);
    EXPECT_EQ(ctx.Bar.Position(), s.position);
    if (s.shown == nullptr) {
      EXPECT_EQ(host.statuses.size(), shownBefore);
      EXPECT_EQ(host.pumps, pumpsBefore);
    } else {
      ASSERT_EQ(host.statuses.size(), shownBefore + 1);
      EXPECT_EQ(host.statuses.back(), s.shown);
      if (s.nMin != 0) {
        EXPECT_EQ(host.pumps, pumpsBefore + 1);
      }
    }
  }
  host.shuttingDown = true;
  EXPECT_THROW(MailProgress(ctx, 200, 250), RunInterrupted);
}

TEST_F(MailMergeTest, ARefusedMailEndsTheRun) {
  OpenStore(100);  // a store of another payload size
  Character("Bob", true);
  WriteMaster({{"Bob", 0, {{0, 1, 1}}}});
  try {
    MergeMail(ctx);
    ADD_FAILURE() << "the refused mail was ignored";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "无法把邮件写入新的 Email.db（收件人“Bob”）：邮件数据库未打开或数据大小不符。");
  }
}

TEST_F(MailMergeTest, WithoutAMailStoreIsAnError) {
  ctx.MailStore.reset();
  EXPECT_THROW(MergeMail(ctx), std::runtime_error);
}

TEST_F(MailMergeTest, AFailedWriteEndsTheRun) {
  RAZERE_POSIX_ONLY("a file size limit");
  Character("Bob", true);
  ctx.MailStore->ExecAll({});  // the placeholder is on disk
  WriteMaster({{"Bob", 0, {{0, 1, 1}}}, {"Bob", 0, {{0, 1, 2}}}});
  {
    FileSizeLimit limit(xodb::kHeaderSize + 2 * kMailSlotSize + 100);  // room for one mail, not two
    ASSERT_TRUE(limit.ok());
    EXPECT_THROW(MergeMail(ctx), FileError);
  }
}

TEST(RenumberMailAttachments, RefusesAShortPayload) {
  RunContext ctx;
  Bytes p(kPayload - 1, 0);
  EXPECT_THROW(RenumberMailAttachments(ctx, p), std::out_of_range);
}

}  // namespace
}  // namespace razere
