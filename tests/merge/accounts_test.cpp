#include "merge/accounts.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/recording_host.h"
#include "dbfiles/db_header.h"
#include "dbfiles/db_test_util.h"
#include "merge/unique_name.h"
#include "support/ansi.h"

namespace razere {
namespace {

using testing::Bytes;
using testing::MakeFileBytes;
using testing::MakeRecord;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// An ID.DB record whose opaque bytes carry its position, so that the output
// shows which source record was copied.
Bytes Account(std::string_view name, uint8_t tag = 0, uint8_t deleted = 0) {
  Bytes rec = MakeRecord(DbKind::ID, name, deleted);
  rec[1] = tag;
  rec[account_rec::kSize - 1] = tag;
  return rec;
}

Bytes IdFile(const std::vector<Bytes>& records) {
  return MakeFileBytes(DbKind::ID, static_cast<int32_t>(records.size()), records);
}

struct Record {
  std::string key;   // record key at 20
  std::string name;  // name at 51
  uint8_t tag;
};

class AccountMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.Bar.SetHost(host);
    ctx.Master.ID = (dir / "master-ID.DB").string();
    ctx.Slave.ID = (dir / "slave-ID.DB").string();
    ctx.SavePath = dir.path().string() + "/";
  }

  void Run(const Bytes& master, const Bytes& slave) {
    WriteFile(ctx.Master.ID, master);
    WriteFile(ctx.Slave.ID, slave);
    LoadAccounts(ctx);
    MergeAccounts(ctx);
  }

  Bytes Output() const { return ReadFile(dir / "ID.DB"); }

  std::vector<Record> OutputRecords() const {
    Bytes out = Output();
    std::vector<Record> recs;
    if (out.size() < db_header::kSize) return recs;
    for (size_t off = db_header::kSize; off + account_rec::kSize <= out.size(); off += account_rec::kSize) {
      recs.push_back({ReadNameField(&out[off + account_rec::kKey]), ReadNameField(&out[off + account_rec::kName]),
                      out[off + 1]});
    }
    return recs;
  }

  std::vector<std::string> OutputNames() const {
    std::vector<std::string> names;
    for (const Record& r : OutputRecords()) names.push_back(r.name);
    return names;
  }

  int32_t HeaderCount() const {
    DbHeaderBytes h{};
    Bytes out = Output();
    std::copy_n(out.begin(), h.size(), h.begin());
    return ParseHeader(h).recordCount;
  }

  std::map<std::string, std::string> Renames() const {
    std::map<std::string, std::string> m;
    for (const auto& node : *ctx.AccountRenames) m[std::string(node.Key())] = node.Item.NewName();
    return m;
  }

  TempDir dir;
  testing::RecordingHost host;
  RunContext ctx;
};

struct MergeCase {
  const char* label;
  std::vector<std::string> master, slave;
  std::vector<std::string> expectedNames;             // new ID.DB, in order
  std::map<std::string, std::string> expectedRenames;  // name key of old name -> new name
};

class AccountMergeCases : public AccountMergeTest, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(AccountMergeCases, WritesMergedFile) {
  const MergeCase& c = GetParam();
  std::vector<Bytes> m, s;
  uint8_t tag = 1;
  for (const auto& n : c.master) m.push_back(Account(n, tag++));
  for (const auto& n : c.slave) s.push_back(Account(n, tag++));
  Run(IdFile(m), IdFile(s));

  EXPECT_EQ(OutputNames(), c.expectedNames);
  for (const Record& r : OutputRecords()) EXPECT_EQ(r.key, r.name);
  EXPECT_EQ(HeaderCount(), static_cast<int32_t>(c.expectedNames.size()));
  EXPECT_EQ(Renames(), c.expectedRenames);

  EXPECT_EQ(ctx.SlaveAccounts->Count(), 0);
  ASSERT_EQ(ctx.MasterAccounts->Count(), static_cast<int32_t>(c.expectedNames.size()));
  // Keyed by the final name.
  for (const std::string& n : c.expectedNames) EXPECT_TRUE(ctx.MasterAccounts->Exists(NameKey(n))) << n;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AccountMergeCases,
    ::testing::Values(
        MergeCase{"CaseOnlyClashKeepsSlaveCase", {"abc"}, {"ABC"}, {"abc", "ABCa"}, {{"abc", "ABCa"}}},
        MergeCase{"SkipsNameStillWaiting", {"abc"}, {"abc", "abca"}, {"abc", "abcb", "abca"}, {{"abc", "abcb"}}},
        MergeCase{"SkipsNameAlreadyMerged", {"abc"}, {"abca", "abc"}, {"abc", "abca", "abcb"}, {{"abc", "abcb"}}},
        MergeCase{"LongNameCutToTenBytes", {"abcdefghijkl"}, {"abcdefghijkl"}, {"abcdefghijkl", "abcdefghia"},
                  {{"abcdefghijkl", "abcdefghia"}}},
        MergeCase{"DuplicatesInOneFileDropped", {"abc", "ABC", "xyz"}, {"q", "Q", "abc"}, {"abc", "xyz", "q", "abca"},
                  {{"abc", "abca"}}},
        MergeCase{"NoClashNoRename", {"m1", "m2"}, {"s1"}, {"m1", "m2", "s1"}, {}},
        // 中 is D6 D0: the ninth byte starts a character, so eight bytes stay.
        MergeCase{"GbkLeadAtCut", {"abcdefgh\xD6\xD0"}, {"ABCDEFGH\xD6\xD0"},
                  {"abcdefgh\xD6\xD0", "ABCDEFGHa"}, {{"abcdefgh\xD6\xD0", "ABCDEFGHa"}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(AccountMergeTest, MasterThenSlaveRecordsCopiedFromTheirSources) {
  Run(IdFile({Account("abc", 11), Account("dead", 12, 1), Account("", 13), Account("m2", 14)}),
      IdFile({Account("ABC", 21), Account("s2", 22, 7), Account("s3", 23)}));
  std::vector<uint8_t> tags;
  for (const Record& r : OutputRecords()) tags.push_back(r.tag);
  EXPECT_EQ(tags, (std::vector<uint8_t>{11, 14, 21, 23}));
  Bytes out = Output();
  // The renamed record's last byte came along unchanged.
  EXPECT_EQ(out[db_header::kSize + 3 * account_rec::kSize - 1], 21);
}

TEST_F(AccountMergeTest, EmptySlaveFileGivesMastersLiveAccounts) {
  Run(IdFile({Account("abc", 1), Account("gone", 2, 1), Account("def", 3)}), Bytes{});
  EXPECT_EQ(OutputNames(), (std::vector<std::string>{"abc", "def"}));
  EXPECT_EQ(HeaderCount(), 2);
  EXPECT_EQ(ctx.AccountRenames->Count(), 0);
  EXPECT_EQ(ctx.SlaveAccounts->Count(), 0);
}

TEST_F(AccountMergeTest, ShortSlaveHeaderCountsAsEmpty) {
  Run(IdFile({Account("abc")}), Bytes(100, 0));
  EXPECT_EQ(OutputNames(), (std::vector<std::string>{"abc"}));
}

TEST_F(AccountMergeTest, LengthByteAboveCapacityReadsThirtyBytes) {
  const std::string thirty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
  Bytes master = Account(thirty, 1);
  master[account_rec::kName] = 200;
  Bytes slave = Account(thirty, 2);
  slave[account_rec::kKey] = 255;
  slave[account_rec::kName] = 31;
  Run(IdFile({master}), IdFile({slave}));

  ASSERT_EQ(ctx.MasterAccounts->Count(), 2);
  EXPECT_EQ(ctx.MasterAccounts->list.First()->Item->name, thirty);
  Bytes out = Output();
  const size_t m = db_header::kSize, s = m + account_rec::kSize;
  EXPECT_EQ(out[m + account_rec::kName], 200);  // master record copied unchanged
  // The slave record gets a proper length byte and its old text beyond it.
  EXPECT_EQ(out[s + account_rec::kKey], 10);
  EXPECT_EQ(out[s + account_rec::kName], 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[s + account_rec::kName + 1]), 30),
            "ABCDEFGHIa" + thirty.substr(10));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[s + account_rec::kKey + 1]), 30),
            "ABCDEFGHIa" + thirty.substr(10));
}

TEST_F(AccountMergeTest, CollectionsAfterLoad) {
  WriteFile(ctx.Master.ID, IdFile({Account("abc"), Account("Abc"), Account("x")}));
  WriteFile(ctx.Slave.ID, IdFile({Account("S1"), Account("s1"), Account("s2")}));
  LoadAccounts(ctx);
  EXPECT_EQ(ctx.MasterAccounts->Count(), 2);
  EXPECT_EQ(ctx.SlaveAccounts->Count(), 2);
  ASSERT_TRUE(ctx.SlaveAccounts->Exists("s1"));
  EXPECT_EQ(ctx.SlaveAccounts->Find("s1")->name, "S1");
  EXPECT_EQ(ctx.SlaveAccounts->Find("s1")->side, kSideSlave);
  EXPECT_EQ(ctx.MasterAccounts->Find("abc")->side, kSideMaster);
  EXPECT_EQ(ctx.MasterAccounts->Find("abc")->name, "abc");
  EXPECT_EQ(ctx.MasterAccounts->Find("x")->offset,
            static_cast<int64_t>(db_header::kSize + 2 * account_rec::kSize));
  ASSERT_TRUE(ctx.MasterIdFile && ctx.SlaveIdFile);
  EXPECT_EQ(ctx.AccountRenames->Count(), 0);

  // The character stage's clean-up drops accounts between load and merge.
  EXPECT_TRUE(ctx.SlaveAccounts->Remove("s2"));
  MergeAccounts(ctx);
  EXPECT_EQ(OutputNames(), (std::vector<std::string>{"abc", "x", "S1"}));
}

TEST_F(AccountMergeTest, StatusTexts) {
  Run(IdFile({Account("abc")}), IdFile({Account("ABC")}));
  auto shown = [this](const std::string& s) {
    return std::find(host.statuses.begin(), host.statuses.end(), s) != host.statuses.end();
  };
  EXPECT_TRUE(shown("正在加载主库(1/1) ID.DB"));
  EXPECT_TRUE(shown("正在加载从库(1/1) ID.DB"));
  EXPECT_TRUE(shown("正在合并(1/1) ID.DB:ABC"));
  EXPECT_TRUE(shown("正在保存(2/2) ID.DB:ABC"));
  EXPECT_EQ(host.statuses.back(), "ID.DB 合并完成(2/2) 新数据大小:2");
  EXPECT_EQ(ctx.Bar.Max(), 0);
  EXPECT_EQ(ctx.Bar.Position(), 0);
}

TEST(StatusTextWithName, CutsGbkTextAtCharacterBoundary) {
  const std::string prefix = "正在合并(%d/%d) ID.DB:";  // 22 GBK bytes
  const std::string zhong = "\xD6\xD0";
  std::string name = "x";
  for (int i = 0; i < 15; ++i) name += zhong;  // bytes 24.. of the text: byte 52 starts a character
  std::string expected = prefix + "x";
  for (int i = 0; i < 14; ++i) expected += "中";
  EXPECT_EQ(StatusTextWithName(prefix, name), expected);
  // One more ASCII byte: byte 52 is a trail byte and the character stays.
  expected = prefix + "xy";
  for (int i = 0; i < 14; ++i) expected += "中";
  EXPECT_EQ(StatusTextWithName(prefix, "xy" + name.substr(1)), expected);
  // A 30-byte name fits exactly.
  EXPECT_EQ(StatusTextWithName(prefix, std::string(30, 'n')), prefix + std::string(30, 'n'));
}

TEST_F(AccountMergeTest, NoFreeNameEndsTheRunWithoutWritingIdDb) {
  WriteFile(ctx.Master.ID, IdFile({Account("abc")}));
  WriteFile(ctx.Slave.ID, IdFile({Account("abc")}));
  LoadAccounts(ctx);
  // Every candidate of every pass is taken on the merged side.
  auto fill = [&](const std::string& prefix, int letters) {
    std::string s = prefix + std::string(static_cast<size_t>(letters), 'a');
    for (;;) {
      ctx.MasterAccounts->Add(s, std::make_unique<AccountEntry>());
      int pos = static_cast<int>(s.size()) - 1;
      while (pos >= static_cast<int>(prefix.size()) && s[static_cast<size_t>(pos)] == 'z') s[static_cast<size_t>(pos--)] = 'a';
      if (pos < static_cast<int>(prefix.size())) return;
      ++s[static_cast<size_t>(pos)];
    }
  };
  for (int k = 1; k <= 4; ++k) fill("abc", k);
  try {
    MergeAccounts(ctx);
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("帐号“abc”"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "ID.DB"));
}

TEST(NameRenameMap, RenamedOnlyWhenNewNameSet) {
  AccountEntry renamed;
  renamed.name = "Abc";
  renamed.newName = "Abca";
  AccountEntry kept;
  kept.name = "def";
  CharIndexEntry hero;
  hero.name = "Hero";
  hero.newName = "Heroa";
  NameRenameMap m;
  m.Add(renamed.name, &renamed);
  m.Add(kept.name, &kept);
  m.Add(hero.name, &hero);
  ASSERT_NE(m.NewNameOf("ABC"), nullptr);
  EXPECT_EQ(*m.NewNameOf("ABC"), "Abca");
  EXPECT_EQ(m.NewNameOf("def"), nullptr);
  EXPECT_EQ(m.Renamed("DEF"), "DEF");
  EXPECT_EQ(m.Renamed("zzz"), "zzz");
  EXPECT_EQ(m.Renamed("hero"), "Heroa");
  EXPECT_EQ(m.Find("HERO")->character, &hero);
  EXPECT_EQ(m.Count(), 3);
}

}  // namespace
}  // namespace razere
