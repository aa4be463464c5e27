// Generated installations with mail stores, and the mail stage run on them
// after the account, character and shop stages.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/db_test_util.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/xo_custom_database.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"
#include "gen/mails.h"
#include "merge/accounts.h"
#include "merge/character_collections.h"
#include "merge/character_stage.h"
#include "merge/fixtures.h"
#include "merge/item_serials.h"
#include "stages/mail_format.h"
#include "stages/mail_merge.h"
#include "stages/shop_merge.h"
#include "support/ansi.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::IndexRecords;
using testing::LiveIndexKeys;
using testing::TempDir;

struct MailSlot {
  TXoProcessStatues status = 0;
  std::string name;
  Bytes payload;
};

struct MailFile {
  int32_t dataSize = -1;
  int32_t count = -1;
  std::vector<MailSlot> slots;
};

MailFile ReadMailFile(const fs::path& path) {
  const Bytes all = testing::ReadFile(path);
  MailFile f;
  if (all.size() < static_cast<size_t>(xodb::kHeaderSize)) return f;
  f.dataSize = LoadInt32LE(all.data() + xodb::kDataSizeOffset);
  f.count = LoadInt32LE(all.data() + xodb::kCountOffset);
  for (size_t at = xodb::kHeaderSize; at + kMailSlotSize <= all.size(); at += kMailSlotSize) {
    const uint8_t* s = all.data() + at;
    f.slots.push_back({LoadUint16LE(s + xodb::kStatusOffset), ReadNameField(s + xodb::kNameOffset),
                       Bytes(s + xodb::kRecordHeaderSize, s + kMailSlotSize)});
  }
  return f;
}

const uint8_t* Attachment(const Bytes& payload, int k) {
  return payload.data() + mail_payload::kAttachments + k * mail_payload::kAttachmentSize;
}
uint8_t KindOf(const Bytes& payload, int k) { return Attachment(payload, k)[mail_attachment::kKind]; }
int32_t SerialOf(const Bytes& payload, int k) {
  return LoadInt32LE(Attachment(payload, k) + mail_attachment::kItem + item_rec::kSerial);
}
bool HasAttachment(const Bytes& payload) {
  for (int k = 0; k < mail_payload::kAttachmentCount; ++k) {
    if (KindOf(payload, k) != 0) return true;
  }
  return false;
}

constexpr TXoProcessStatues kSkipped = XoStatus(xops_delete) | XoStatus(xops_occupy) | XoStatus(xops_read);

gen::GenOptions Options() {
  gen::GenOptions o = testing::StagePairOptions();
  o.shops = 10;
  o.shopItems = 40;
  o.guilds = 0;
  o.mails = 80;
  return o;
}

TEST(GeneratedMailsTest, BothSidesHoldMailsOfEveryKindTheMergeTellsApart) {
  TempDir dir;
  const gen::GenOptions o = Options();
  gen::GeneratedPair pair = gen::GeneratePair(o, dir.path());
  for (const gen::GeneratedServer* side : {&pair.master, &pair.slave}) {
    SCOPED_TRACE(side == &pair.master ? "master" : "slave");
    const MailFile f = ReadMailFile(side->paths.Email);
    ASSERT_EQ(f.dataSize, mail_payload::kSize);
    ASSERT_EQ(f.count, o.mails);
    ASSERT_EQ(f.slots.size(), static_cast<size_t>(o.mails));
    EXPECT_EQ(side->stats.mailRecords, o.mails);

    const std::set<std::string> chars = LiveIndexKeys(side->paths.Hum, IndexRecords::CharactersOnly);
    int unreadItemToCharacter = 0, read = 0, withoutAttachments = 0, otherOnly = 0, zeroSerial = 0,
        extended = 0, deleted = 0, placeholders = 0, toNobody = 0;
    for (const MailSlot& s : f.slots) {
      deleted += (s.status & XoStatus(xops_delete)) ? 1 : 0;
      placeholders += (s.status & XoStatus(xops_occupy)) ? 1 : 0;
      read += (s.status & XoStatus(xops_read)) ? 1 : 0;
      toNobody += chars.count(NameKey(s.name)) ? 0 : 1;
      bool item = false, other = false;
      for (int k = 0; k < mail_payload::kAttachmentCount; ++k) {
        const uint8_t kind = KindOf(s.payload, k);
        if (kind == 0) continue;
        if (kind != mail_attachment::kKindItem) {
          other = true;
          continue;
        }
        item = true;
        const int32_t serial = SerialOf(s.payload, k);
        zeroSerial += serial == 0 ? 1 : 0;
        if (serial >= kItemNumberExMin) {
          ++extended;
          EXPECT_LE(serial, side->stats.itemNumberEx);
        } else {
          EXPECT_LE(serial, side->stats.itemNumber);
        }
      }
      const bool unread = (s.status & kSkipped) == 0;
      unreadItemToCharacter += unread && item && chars.count(NameKey(s.name)) ? 1 : 0;
      withoutAttachments += unread && !item && !other ? 1 : 0;
      otherOnly += other && !item ? 1 : 0;
    }
    EXPECT_GT(unreadItemToCharacter, 10);
    EXPECT_GT(read, 10);
    EXPECT_GT(withoutAttachments, 0);
    EXPECT_GT(otherOnly, 0);
    EXPECT_GT(zeroSerial, 0);
    EXPECT_GT(extended, 0);
    EXPECT_GT(deleted, 0);
    EXPECT_GT(placeholders, 0);
    EXPECT_GT(toNobody, 0);
  }
}

TEST(GeneratedMailsTest, WithoutMailsTheInstallationHasNoEmailDb) {
  TempDir dir;
  gen::GenOptions o = Options();
  o.mails = 0;
  gen::GeneratedServer s = gen::GenerateServer(o, dir.path());
  EXPECT_FALSE(fs::exists(s.paths.Email));
  EXPECT_EQ(s.stats.mailRecords, 0);
}

// The new Email.db of a generated pair: one placeholder per character of the
// new Qel.DB, then exactly the mails the rules keep, each addressed to a
// character of the new Qel.DB, with item serials continuing the counters
// after the shop items.
TEST(GeneratedMailsTest, MergedMailStoreIsConsistent) {
  for (bool clean : {false, true}) {
    SCOPED_TRACE(clean ? "with clean-up" : "without clean-up");
    testing::GeneratedPairRun run(Options(), clean);
    const gen::GeneratedPair& pair = run.pair;
    RunContext& ctx = run.ctx;
    const fs::path store = pair.save / "Email.db";
    ctx.MailStore = std::make_shared<TXoCustomDatabase>(store);
    ASSERT_GE(ctx.MailStore->Initialize(mail_payload::kSize), 0);
    run.MergeAccountsAndCharacters();
    MergeUserShops(ctx);
    const int32_t itemNumber = ctx.ItemNumber, itemNumberEx = ctx.ItemNumberEx;
    MergeMail(ctx);
    ctx.MailStore->Uninitialize();
    ctx.MailStore->RaiseFirstError();
    ctx.MailStore.reset();

    // What the rules keep, from the sources and the character stage's result.
    std::set<std::string> masterChars, slaveChars;
    for (const CharDataCollection::Node& n : *ctx.MasterCharData) {
      (n.Item.side == kSideMaster ? masterChars : slaveChars).insert(std::string(n.Key()));
    }
    std::vector<std::string> expected;
    int32_t renamed = 0;
    for (bool master : {true, false}) {
      for (const MailSlot& s : ReadMailFile(master ? ctx.Master.Email : ctx.Slave.Email).slots) {
        if ((s.status & kSkipped) != 0 || !HasAttachment(s.payload)) continue;
        const std::string to = master ? s.name : ctx.CharRenames->Renamed(s.name);
        if (!(master ? masterChars : slaveChars).count(NameKey(to))) continue;
        renamed += to != s.name ? 1 : 0;
        expected.push_back(to);
      }
    }
    EXPECT_GT(renamed, 0) << "no kept slave mail follows a rename";

    const std::vector<Bytes> qel = testing::ReadRecordsOf(pair.save / "Qel.DB", DbKind::Qel);
    std::vector<std::string> qelNames;
    std::set<std::string> qelKeys;
    for (const Bytes& r : qel) {
      qelNames.push_back(ReadNameField(r.data() + chardata_rec::kName));
      qelKeys.insert(NameKey(qelNames.back()));
    }
    const MailFile out = ReadMailFile(store);
    ASSERT_EQ(out.count, static_cast<int32_t>(out.slots.size()));
    ASSERT_EQ(out.slots.size(), qel.size() + expected.size());
    int32_t ordinary = itemNumber, extended = itemNumberEx;
    for (size_t i = 0; i < out.slots.size(); ++i) {
      const MailSlot& s = out.slots[i];
      EXPECT_TRUE(qelKeys.count(NameKey(s.name))) << s.name;
      if (i < qel.size()) {
        EXPECT_EQ(s.status, XoStatus(xops_occupy));
        EXPECT_EQ(s.name, qelNames[i]);
        continue;
      }
      EXPECT_EQ(s.status, 0);
      EXPECT_EQ(s.name, expected[i - qel.size()]);
      for (int k = 0; k < mail_payload::kAttachmentCount; ++k) {
        if (KindOf(s.payload, k) != mail_attachment::kKindItem) continue;
        const int32_t serial = SerialOf(s.payload, k);
        if (serial != 0) {
          ASSERT_EQ(serial, serial >= kItemNumberExMin ? ++extended : ++ordinary);
        }
      }
    }
    EXPECT_GT(extended, itemNumberEx);
    EXPECT_EQ(ctx.ItemNumber, ordinary);
    EXPECT_EQ(ctx.ItemNumberEx, extended);
  }
}

}  // namespace
}  // namespace razere
