#include "merge/character_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <type_traits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/xo_custom_database.h"
#include "merge/accounts.h"
#include "merge/character_kinds.h"
#include "merge/fixtures.h"
#include "merge/item_serials.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/errors.h"

namespace razere {
namespace {

using testing::Bytes;
using testing::CharItemAt;
using testing::CharSpec;
using testing::HeroItemAt;
using testing::HeroSpec;
using testing::MergeFixture;
using testing::NamesOf;

using Names = std::vector<std::string>;

// 2024-06-15 12:00, the clock of every test here.
const double kNow = EncodeDateTime(2024, 6, 15, 12);

class CharacterStageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClockForTesting(kNow); }
  void TearDown() override { SetClockForTesting(std::nullopt); }

  void Run() {
    f.WriteInputs();
    LoadAccounts(f.ctx);
    MergeCharacters(f.ctx);
  }
  bool Shown(std::string_view text) const {
    return std::find(f.host.statuses.begin(), f.host.statuses.end(), text) != f.host.statuses.end();
  }

  MergeFixture f;
};

// ---------------------------------------------------------------------------
// Names: renames, shared name space, linked names
// ---------------------------------------------------------------------------

TEST_F(CharacterStageTest, SlaveNameDifferingOnlyInCaseIsRenamedEverywhere) {
  f.master.Char({.name = "lee", .account = "m1"});
  f.slave.Char({.name = "Lee", .account = "s1", .roleId = 5});
  // Every linked name of Kim holds Lee; Park's linked name 5 is not marked present.
  f.slave.Char({.name = "Kim", .account = "s1", .links = {"Lee", "LEE", "Lee", "lee", "Lee"}});
  f.slave.Char({.name = "Park", .account = "s2", .links = {"", "", "", "", "Lee"}, .link5Present = 2});
  Run();

  auto hum = f.Output(DbKind::Hum);
  EXPECT_EQ(NamesOf(hum, index_rec::kName), (Names{"lee", "Leea", "Kim", "Park"}));
  EXPECT_EQ(NamesOf(hum, index_rec::kKey), (Names{"lee", "Leea", "Kim", "Park"}));

  auto qel = f.Output(DbKind::Qel);
  EXPECT_EQ(NamesOf(qel, chardata_rec::kName), (Names{"lee", "Leea", "Kim", "Park"}));
  EXPECT_EQ(NamesOf(qel, chardata_rec::kKey), (Names{"lee", "Leea", "Kim", "Park"}));
  for (size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(testing::NameAtOffset(qel[2], chardata_rec::kLinks[k]), "Leea") << "linked name " << k + 1;
  }
  EXPECT_EQ(testing::NameAtOffset(qel[3], chardata_rec::kLink5), "Lee");  // present byte 2: not a link

  ASSERT_EQ(f.ctx.CharRenames->Count(), 1);
  const EntryRef* ref = f.ctx.CharRenames->Find("LEE");
  ASSERT_NE(ref, nullptr);
  ASSERT_NE(ref->character, nullptr);
  EXPECT_EQ(ref->character->name, "Lee");
  EXPECT_EQ(ref->character->newName, "Leea");
  EXPECT_EQ(ref->character->roleId, 5);  // copied from the data record for the web request
  EXPECT_EQ(f.ctx.CharRenames->Find("Kim"), nullptr);

  // The merged index is keyed by final names; AllSlaveChars by names as loaded.
  EXPECT_TRUE(f.ctx.MasterCharIndex->Exists("leea"));
  EXPECT_TRUE(f.ctx.AllSlaveChars->Exists("lee"));
  EXPECT_EQ(f.ctx.AllSlaveChars->Count(), 3);
  EXPECT_EQ(f.ctx.SlaveCharIndex->Count(), 0);
  EXPECT_EQ(f.ctx.SlaveCharData->Count(), 0);
}

TEST_F(CharacterStageTest, WaitingSlaveNameIsSkipped) {
  f.master.Char({.name = "ab", .account = "m"});
  f.slave.Char({.name = "ab", .account = "s"});
  f.slave.Char({.name = "aba", .account = "s"});
  Run();
  EXPECT_EQ(NamesOf(f.Output(DbKind::Hum), index_rec::kName), (Names{"ab", "abb", "aba"}));
  EXPECT_EQ(NamesOf(f.Output(DbKind::Qel), chardata_rec::kName), (Names{"ab", "abb", "aba"}));
}

TEST_F(CharacterStageTest, HeroesShareTheNameSpaceOfCharacters) {
  f.master.Char({.name = "Tom", .account = "acc"});
  f.master.Char({.name = "Lee", .account = "acc"});
  // The slave account collides too: every slave record carries its new name.
  f.slave.Hero({.name = "tom", .account = "ACC", .link = "Lee"});
  f.slave.Char({.name = "Lee", .account = "ACC", .links = {"", "tom", "", "", "tom"}});
  Run();

  auto hum = f.Output(DbKind::Hum);
  EXPECT_EQ(NamesOf(hum, index_rec::kName), (Names{"Tom", "Lee", "toma", "Leea"}));
  EXPECT_EQ(NamesOf(hum, index_rec::kAccount), (Names{"acc", "acc", "ACCa", "ACCa"}));
  EXPECT_EQ(hum[2][index_rec::kHeroFlag], 1);

  auto heroes = f.Output(DbKind::HeroQel);
  ASSERT_EQ(heroes.size(), 1u);
  EXPECT_EQ(testing::NameAtOffset(heroes[0], hero_rec::kKey), "toma");
  EXPECT_EQ(testing::NameAtOffset(heroes[0], hero_rec::kName), "toma");
  EXPECT_EQ(testing::NameAtOffset(heroes[0], hero_rec::kLink), "Leea");
  EXPECT_EQ(testing::NameAtOffset(heroes[0], hero_rec::kAccount), "ACCa");

  auto qel = f.Output(DbKind::Qel);
  ASSERT_EQ(qel.size(), 3u);
  EXPECT_EQ(testing::NameAtOffset(qel[2], chardata_rec::kLink2), "toma");
  EXPECT_EQ(testing::NameAtOffset(qel[2], chardata_rec::kLink5), "toma");
  EXPECT_EQ(testing::NameAtOffset(qel[2], chardata_rec::kAccount), "ACCa");

  const EntryRef* hero = f.ctx.CharRenames->Find("tom");
  ASSERT_NE(hero, nullptr);
  EXPECT_NE(hero->character->heroFlag, 0);
  EXPECT_EQ(hero->character->roleId, 0);
  EXPECT_EQ(f.ctx.MasterHeroData->Count(), 1);
  EXPECT_TRUE(f.ctx.MasterHeroData->Exists("toma"));
}

// ---------------------------------------------------------------------------
// What holds for characters and heroes alike, run for both
// ---------------------------------------------------------------------------

// A record of either kind. link is the linked name a hero has and a
// character's linked name 2 (which may name a character or a hero).
struct DataSpec {
  std::string name;
  std::string account;
  std::string link{};
  uint32_t level = 50;
  double lastLogin = kNow;
  int32_t roleId = 0;
  std::function<void(Bytes&)> tweak{};
};

template <class Kind>
struct KindCase;

template <>
struct KindCase<CharacterKind> {
  static constexpr DbKind kKind = DbKind::Qel;
  static constexpr const char* kFile = "Qel.DB";
  static constexpr uint8_t kHeroFlag = 0;
  static constexpr bool kInactiveDropped = true;
  static constexpr bool kRoleIdKept = true;
  static constexpr size_t kName = chardata_rec::kName, kKey = chardata_rec::kKey;
  static constexpr size_t kAccount = chardata_rec::kAccount, kLink = chardata_rec::kLink2;

  static Bytes Record(const DataSpec& s) {
    return testing::MakeCharDataRecord({.name = s.name,
                                        .account = s.account,
                                        .level = s.level,
                                        .lastLogin = s.lastLogin,
                                        .roleId = s.roleId,
                                        .links = {"", s.link, "", "", ""},
                                        .tweak = s.tweak});
  }
  static std::vector<Bytes>& Records(testing::ServerData& d) { return d.qel; }
};

template <>
struct KindCase<HeroKind> {
  static constexpr DbKind kKind = DbKind::HeroQel;
  static constexpr const char* kFile = "HeroQel.DB";
  static constexpr uint8_t kHeroFlag = 1;
  static constexpr bool kInactiveDropped = false;
  static constexpr bool kRoleIdKept = false;
  static constexpr size_t kName = hero_rec::kName, kKey = hero_rec::kKey;
  static constexpr size_t kAccount = hero_rec::kAccount, kLink = hero_rec::kLink;

  // A hero's date and level, where a character keeps its last login and
  // level: the inactivity rule must not look at them.
  static Bytes Record(const DataSpec& s) {
    return testing::MakeHeroDataRecord({.name = s.name, .account = s.account, .link = s.link, .tweak = [s](Bytes& rec) {
                                          StoreDoubleLE(rec.data() + hero_rec::kCreated, s.lastLogin);
                                          StoreUint32LE(rec.data() + hero_rec::kLevel, s.level);
                                          if (s.tweak) s.tweak(rec);
                                        }});
  }
  static std::vector<Bytes>& Records(testing::ServerData& d) { return d.hero; }
};
static_assert(hero_rec::kCreated == chardata_rec::kLastLogin && hero_rec::kLevel == chardata_rec::kLevel);

template <class Kind>
class BothKindsTest : public CharacterStageTest {
 protected:
  using Case = KindCase<Kind>;
  // An index record of the kind and its data record; the account is added when new.
  void Add(testing::ServerData& d, const DataSpec& s) {
    d.Account(s.account);
    d.hum.push_back(testing::MakeIndexRecord(s.name, s.account, Case::kHeroFlag));
    Case::Records(d).push_back(Case::Record(s));
  }
  std::vector<Bytes> Output() const { return f.Output(Case::kKind); }
};

struct KindName {
  template <class Kind>
  static std::string GetName(int) {
    return std::is_same_v<Kind, CharacterKind> ? "Characters" : "Heroes";
  }
};
using BothKinds = ::testing::Types<CharacterKind, HeroKind>;
TYPED_TEST_SUITE(BothKindsTest, BothKinds, KindName);

TYPED_TEST(BothKindsTest, CollidingSlaveRecordTakesItsNewNames) {
  using Case = KindCase<TypeParam>;
  auto& f = this->f;
  f.master.Char({.name = "bob", .account = "acc"});
  this->Add(f.master, {.name = "Pet", .account = "acc"});
  f.slave.Char({.name = "Bob", .account = "ACC"});
  this->Add(f.slave, {.name = "pet", .account = "ACC", .link = "Bob", .roleId = 77});
  this->Run();

  const auto out = this->Output();
  ASSERT_FALSE(out.empty());
  const Bytes& merged = out.back();  // the slave's record comes last
  EXPECT_EQ(testing::NameAtOffset(merged, Case::kName), "peta");
  EXPECT_EQ(testing::NameAtOffset(merged, Case::kKey), "peta");
  EXPECT_EQ(testing::NameAtOffset(merged, Case::kAccount), "ACCa");
  EXPECT_EQ(testing::NameAtOffset(merged, Case::kLink), "Boba");

  const auto& master = *(f.ctx.*TypeParam::kMasterData);
  EXPECT_TRUE(master.Exists("peta"));
  EXPECT_EQ((f.ctx.*TypeParam::kSlaveData)->Count(), 0);
  const EntryRef* ref = f.ctx.CharRenames->Find("pet");
  ASSERT_NE(ref, nullptr);
  ASSERT_NE(ref->character, nullptr);
  EXPECT_EQ(ref->character->newName, "peta");
  EXPECT_EQ(ref->character->roleId, Case::kRoleIdKept ? 77 : 0);
}

TYPED_TEST(BothKindsTest, RecordsWithoutNewNamesAreCopiedByteForByte) {
  using Case = KindCase<TypeParam>;
  auto& f = this->f;
  const auto opaque = [](Bytes& rec) {
    rec[0] = 0x11;                   // opaque record header byte
    rec[Case::kName + 10] = 0x5A;    // a byte after the name's text
    rec[rec.size() - 1] = 0x77;      // the last byte of the last (empty) item slot
  };
  const DataSpec master{.name = "Ann", .account = "acc", .link = "Nobody", .tweak = opaque};
  const DataSpec slave{.name = "Sue", .account = "sacc", .link = "Ann", .tweak = opaque};
  this->Add(f.master, master);
  this->Add(f.slave, slave);
  this->Run();
  const auto out = this->Output();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0] == Case::Record(master));  // no items, no clean-up: byte for byte
  EXPECT_TRUE(out[1] == Case::Record(slave));
}

TYPED_TEST(BothKindsTest, FirstRecordOfANameWithAnIndexEntryIsLoaded) {
  using Case = KindCase<TypeParam>;
  auto& f = this->f;
  this->Add(f.master, {.name = "Dup", .account = "acc"});
  Case::Records(f.master).push_back(Case::Record({.name = "DUP", .account = "later"}));
  Case::Records(f.master).push_back(Case::Record({.name = "Stray", .account = "acc"}));  // no index entry
  this->Run();
  const auto out = this->Output();
  EXPECT_EQ(NamesOf(out, Case::kName), (Names{"Dup"}));
  EXPECT_EQ(NamesOf(out, Case::kAccount), (Names{"acc"}));
}

TYPED_TEST(BothKindsTest, InactivityRuleDropsCharactersOnly) {
  using Case = KindCase<TypeParam>;
  auto& f = this->f;
  f.ctx.CleanData = true;
  f.ctx.MinDay = 90;
  f.ctx.MinLevel = 10;
  this->Add(f.master, {.name = "Old", .account = "acc", .level = 1, .lastLogin = kNow - 400});
  this->Add(f.master, {.name = "New", .account = "acc"});
  this->Run();
  const Names kept = Case::kInactiveDropped ? Names{"New"} : Names{"Old", "New"};
  EXPECT_EQ(NamesOf(this->Output(), Case::kName), kept);
  EXPECT_EQ(NamesOf(f.Output(DbKind::Hum), index_rec::kName), kept);
}

TYPED_TEST(BothKindsTest, StatusTextsShowTheLongestNameWhole) {
  using Case = KindCase<TypeParam>;
  auto& f = this->f;
  // 15 GBK characters, 30 bytes: the kind's byte limit leaves room for all of them.
  std::string longName;
  for (int i = 0; i < 15; ++i) longName += "\xC0\xEE";
  this->Add(f.master, {.name = "m", .account = "m"});
  this->Add(f.slave, {.name = longName, .account = "s"});
  this->Run();
  const std::string file = Case::kFile;
  const std::string shown = GbkToUtf8(longName);
  for (const std::string& text :
       {"正在加载主库(1/1) " + file, "正在加载从库(1/1) " + file, "正在合并(1/1) " + file + ":" + shown,
        "正在保存(1/2) " + file + ":m", "正在保存(2/2) " + file + ":" + shown, file + " 合并完成(2/2) 新数据大小:2"}) {
    EXPECT_TRUE(this->Shown(text)) << text;
  }
}

TYPED_TEST(BothKindsTest, VanishedSourceFileEndsTheRunBeforeAnythingIsWritten) {
  using Case = KindCase<TypeParam>;
  auto& f = this->f;
  this->Add(f.master, {.name = "A", .account = "m"});
  f.WriteInputs();
  LoadAccounts(f.ctx);
  std::filesystem::remove(f.ctx.Slave.*TypeParam::kPath);
  try {
    MergeCharacters(f.ctx);
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find(Case::kFile), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(f.Out("ID.DB")));
  EXPECT_FALSE(std::filesystem::exists(f.Out("Hum.DB")));
}

// ---------------------------------------------------------------------------
// Clean-up
// ---------------------------------------------------------------------------

struct InactivityCase {
  int days;
  uint32_t level;
  bool cleanData;
  bool kept;
};

class InactivityTest : public CharacterStageTest, public ::testing::WithParamInterface<InactivityCase> {};

TEST_P(InactivityTest, DropsLongInactiveLowLevelCharacters) {
  const InactivityCase& c = GetParam();
  f.ctx.CleanData = c.cleanData;
  f.ctx.MinDay = 90;
  f.ctx.MinLevel = 10;
  f.master.Char({.name = "Old", .account = "lonely", .level = c.level, .lastLogin = kNow - c.days});
  f.master.Char({.name = "Friend", .account = "other", .lastLogin = kNow, .links = {"Old", "", "", "", ""}});
  Run();

  const Names humNames = NamesOf(f.Output(DbKind::Hum), index_rec::kName);
  const Names qelNames = NamesOf(f.Output(DbKind::Qel), chardata_rec::kName);
  const Names accounts = NamesOf(f.Output(DbKind::ID), account_rec::kName);
  auto qel = f.Output(DbKind::Qel);
  const std::string friendLink = testing::NameAtOffset(qel.back(), chardata_rec::kLink1);
  if (c.kept) {
    EXPECT_EQ(humNames, (Names{"Old", "Friend"}));
    EXPECT_EQ(qelNames, (Names{"Old", "Friend"}));
    EXPECT_EQ(accounts, (Names{"lonely", "other"}));
    EXPECT_EQ(friendLink, "Old");
  } else {
    EXPECT_EQ(humNames, (Names{"Friend"}));
    EXPECT_EQ(qelNames, (Names{"Friend"}));
    EXPECT_EQ(accounts, (Names{"other"}));
    EXPECT_EQ(friendLink, "");  // linked name 1 pointed at the dropped character
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rule, InactivityTest,
    ::testing::Values(InactivityCase{91, 9, true, false},   // away too long and low: dropped
                      InactivityCase{90, 9, true, true},    // exactly MinDay days: stays
                      InactivityCase{91, 10, true, true},   // MinLevel reached: stays
                      InactivityCase{400, 0, true, false},
                      InactivityCase{-5, 1, true, true},    // last login in the future: 0 days
                      InactivityCase{1000, 0xFFFFFFFFu, true, true},  // level is unsigned, not -1
                      InactivityCase{91, 9, false, true}));  // no clean-up: nobody dropped

TEST(InactivityRule, CountsWholeCalendarDays) {
  const double now = EncodeDateTime(2024, 6, 15, 0, 1);
  EXPECT_TRUE(IsInactiveCharacter(now, EncodeDateTime(2024, 6, 14, 23, 59), 0, 0, 1));  // yesterday = 1 day
  EXPECT_FALSE(IsInactiveCharacter(now, EncodeDateTime(2024, 6, 15, 0, 0), 0, 0, 1));
  EXPECT_FALSE(IsInactiveCharacter(now, EncodeDateTime(2020, 1, 1), 5, 0, -1));  // negative MinLevel
}

class OrphanTest : public CharacterStageTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OrphanTest, IndexWithoutDataAndAccountWithoutCharactersGoOnlyWithCleanData) {
  const bool clean = GetParam();
  f.ctx.CleanData = clean;
  f.master.Account("lonely");
  f.master.Char({.name = "Real", .account = "acc"});
  f.master.hum.push_back(testing::MakeIndexRecord("Ghost", "acc"));    // no Qel.DB record
  f.master.hum.push_back(testing::MakeIndexRecord("Shade", "ghosts"));  // nor its account's other chars
  f.master.Account("ghosts");
  // A hero index entry with a Qel.DB record but no HeroQel.DB record.
  f.master.hum.push_back(testing::MakeIndexRecord("Odd", "acc", 1));
  f.master.qel.push_back(testing::MakeCharDataRecord({.name = "Odd", .account = "acc"}));
  // The same on the slave side.
  f.slave.Char({.name = "SReal", .account = "sacc"});
  f.slave.hum.push_back(testing::MakeIndexRecord("SGhost", "sghost"));
  f.slave.Account("sghost");
  f.slave.Account("slonely");
  Run();

  const Names hum = NamesOf(f.Output(DbKind::Hum), index_rec::kName);
  const Names qel = NamesOf(f.Output(DbKind::Qel), chardata_rec::kName);
  const Names ids = NamesOf(f.Output(DbKind::ID), account_rec::kName);
  if (clean) {
    EXPECT_EQ(hum, (Names{"Real", "SReal"}));
    EXPECT_EQ(qel, (Names{"Real", "SReal"}));
    EXPECT_EQ(ids, (Names{"acc", "sacc"}));
    EXPECT_FALSE(f.ctx.AllSlaveChars->Exists("sghost"));
    EXPECT_FALSE(f.ctx.MasterAccountChars->Exists("ghosts"));
    EXPECT_EQ(f.ctx.MasterAccountChars->CountOf("acc"), 1);
  } else {
    EXPECT_EQ(hum, (Names{"Real", "Ghost", "Shade", "Odd", "SReal", "SGhost"}));
    EXPECT_EQ(qel, (Names{"Real", "Odd", "SReal"}));
    EXPECT_EQ(ids, (Names{"lonely", "acc", "ghosts", "sacc", "sghost", "slonely"}));
    EXPECT_TRUE(f.ctx.AllSlaveChars->Exists("sghost"));
    EXPECT_EQ(f.ctx.MasterAccountChars->CountOf("acc"), 3);
  }
}

INSTANTIATE_TEST_SUITE_P(CleanData, OrphanTest, ::testing::Bool());

// Byte 489, 491 and 492 and the companions of linked name 5 as written.
struct LinkBytes {
  std::array<std::string, 5> links;
  uint8_t b489, b491, b492, b688, b689;
  int32_t v690;
};

LinkBytes LinkBytesOf(const Bytes& rec) {
  LinkBytes b{};
  for (size_t k = 0; k < 5; ++k) b.links[k] = testing::NameAtOffset(rec, chardata_rec::kLinks[k]);
  b.b489 = rec[chardata_rec::kLinks34Flag];
  b.b491 = rec[chardata_rec::kLink3Flag];
  b.b492 = rec[chardata_rec::kLink4Flag];
  b.b688 = rec[chardata_rec::kLink5Present];
  b.b689 = rec[chardata_rec::kLink5Byte];
  b.v690 = LoadInt32LE(rec.data() + chardata_rec::kLink5Value);
  return b;
}

void SetLinkFlags(Bytes& rec) {
  rec[chardata_rec::kLinks34Flag] = 1;
  rec[chardata_rec::kLink3Flag] = 1;
  rec[chardata_rec::kLink4Flag] = 1;
  rec[chardata_rec::kLink5Byte] = 7;
  StoreInt32LE(rec.data() + chardata_rec::kLink5Value, 1234);
}

class DanglingTest : public CharacterStageTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DanglingTest, DanglingLinksClearedWithTheirFlagBytes) {
  const bool clean = GetParam();
  f.ctx.CleanData = clean;
  f.master.Hero({.name = "Pet", .account = "acc"});
  f.master.Char({.name = "Bob", .account = "acc"});
  // Links 1, 3 and 5 name nobody; link 2 names a hero (fine for link 2); link 4 names Bob.
  f.master.Char({.name = "Ann", .account = "acc", .links = {"Gone", "Pet", "Gone", "Bob", "Gone"}, .tweak = SetLinkFlags});
  // Linked name 1 naming a hero is dangling: heroes have no character data.
  f.master.Char({.name = "Cat", .account = "acc", .links = {"Pet", "", "", "", ""}});
  // No links at all, flag bytes set.
  f.master.Char({.name = "Dan", .account = "acc", .tweak = SetLinkFlags});
  // A slave character whose linked names name a slave character dropped as inactive.
  f.slave.Char({.name = "Old", .account = "s", .level = 1, .lastLogin = kNow - 500});
  f.slave.Char({.name = "Eve", .account = "s", .lastLogin = kNow, .links = {"Old", "Old", "", "", ""}});
  Run();

  auto qel = f.Output(DbKind::Qel);
  const Names names = NamesOf(qel, chardata_rec::kName);
  const LinkBytes ann = LinkBytesOf(qel[1]);
  const LinkBytes cat = LinkBytesOf(qel[2]);
  const LinkBytes dan = LinkBytesOf(qel[3]);
  if (clean) {
    ASSERT_EQ(names, (Names{"Bob", "Ann", "Cat", "Dan", "Eve"}));
    EXPECT_EQ(ann.links, (std::array<std::string, 5>{"", "Pet", "", "Bob", ""}));
    EXPECT_EQ(ann.b688, 0);
    EXPECT_EQ(ann.b689, 0);
    EXPECT_EQ(ann.v690, 0);
    EXPECT_EQ(ann.b491, 0);  // linked name 3 empty
    EXPECT_EQ(ann.b492, 1);  // linked name 4 kept
    EXPECT_EQ(ann.b489, 0);  // one of them empty
    // The name bytes after the length stay as they were.
    EXPECT_EQ(qel[1][chardata_rec::kLink1 + 1], 'G');
    EXPECT_EQ(cat.links[0], "");
    // Linked names 3 and 4 empty in the source: the flag bytes still go.
    EXPECT_EQ(dan.b489, 0);
    EXPECT_EQ(dan.b491, 0);
    EXPECT_EQ(dan.b492, 0);
    EXPECT_EQ(dan.b689, 7);  // linked name 5 was not dangling
    const LinkBytes eve = LinkBytesOf(qel[4]);
    EXPECT_EQ(eve.links[0], "");
    EXPECT_EQ(eve.links[1], "");
  } else {
    ASSERT_EQ(names, (Names{"Bob", "Ann", "Cat", "Dan", "Old", "Eve"}));
    EXPECT_EQ(ann.links, (std::array<std::string, 5>{"Gone", "Pet", "Gone", "Bob", "Gone"}));
    EXPECT_EQ(ann.b688, 1);
    EXPECT_EQ(ann.b689, 7);
    EXPECT_EQ(ann.v690, 1234);
    EXPECT_EQ(cat.links[0], "Pet");
    for (const LinkBytes& b : {ann, dan}) {
      EXPECT_EQ(b.b489, 1);
      EXPECT_EQ(b.b491, 1);
      EXPECT_EQ(b.b492, 1);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(CleanData, DanglingTest, ::testing::Bool());

TEST_F(CharacterStageTest, LinkToDataRemovedLaterInTheWalkIsDangling) {
  f.ctx.CleanData = true;
  f.master.Char({.name = "Ann", .account = "acc", .links = {"Odd", "", "", "", ""}});
  // A hero index entry with a Qel.DB record but no hero record: both go in
  // the clean-up, the data record after Ann's has been looked at.
  f.master.hum.push_back(testing::MakeIndexRecord("Odd", "acc", 1));
  f.master.qel.push_back(testing::MakeCharDataRecord({.name = "Odd", .account = "acc"}));
  Run();
  auto qel = f.Output(DbKind::Qel);
  ASSERT_EQ(NamesOf(qel, chardata_rec::kName), (Names{"Ann"}));
  EXPECT_EQ(testing::NameAtOffset(qel[0], chardata_rec::kLink1), "");
}

TEST(RemoveDanglingLinks, RefusesAShortRecord) {
  Bytes rec(chardata_rec::kSize - 1, 0);
  EXPECT_THROW(RemoveDanglingLinks(rec, {}), std::out_of_range);
}

// ---------------------------------------------------------------------------
// Item serials, mail store, status texts
// ---------------------------------------------------------------------------

int32_t SerialAt(const Bytes& rec, uint32_t offset) { return LoadInt32LE(rec.data() + offset); }

TEST_F(CharacterStageTest, ItemsRenumberedInWriteOrderAcrossCharactersAndHeroes) {
  const uint32_t mC1 = CharItemAt(0, 0), mC2 = CharItemAt(1, 0), mC5 = CharItemAt(4, 5), mC3 = CharItemAt(2, 1);
  const uint32_t sC1 = CharItemAt(0, 0), sC10 = CharItemAt(9, 47);
  const uint32_t hB1 = HeroItemAt(0, 0, 0), hB2 = HeroItemAt(0, 1, 0), h2B5 = HeroItemAt(1, 4, 0);
  const uint32_t h3B1 = HeroItemAt(2, 0, 39);
  // Heroes come first in the index files: the order is that of Qel.DB, then HeroQel.DB.
  f.master.Hero({.name = "MH", .account = "m", .items = {{hB1, 300}, {hB2, 301}, {h2B5, 2000000000}}});
  f.master.Char({.name = "M", .account = "m", .items = {{mC1, 100}, {mC2, 200}, {mC5, 1500000000}, {mC3, 55, 0}}});
  f.slave.Hero({.name = "SH", .account = "s", .items = {{h3B1, -7}}});
  f.slave.Char({.name = "S", .account = "s", .items = {{sC1, 100}, {sC10, 7}}});
  Run();

  auto qel = f.Output(DbKind::Qel);
  auto heroes = f.Output(DbKind::HeroQel);
  ASSERT_EQ(qel.size(), 2u);
  ASSERT_EQ(heroes.size(), 2u);
  EXPECT_EQ(SerialAt(qel[0], mC2), 1);  // C2 before C1
  EXPECT_EQ(SerialAt(qel[0], mC1), 2);
  EXPECT_EQ(SerialAt(qel[0], mC5), 0x3FFFFFFF);
  EXPECT_EQ(SerialAt(qel[0], mC3), 55);  // empty slot
  EXPECT_EQ(SerialAt(qel[1], sC1), 3);
  EXPECT_EQ(SerialAt(qel[1], sC10), 4);
  EXPECT_EQ(SerialAt(heroes[0], hB2), 5);  // B2 before B1
  EXPECT_EQ(SerialAt(heroes[0], hB1), 6);
  EXPECT_EQ(SerialAt(heroes[0], h2B5), 0x40000000);
  EXPECT_EQ(SerialAt(heroes[1], h3B1), 7);
  EXPECT_EQ(f.ctx.ItemNumber, 7);
  EXPECT_EQ(f.ctx.ItemNumberEx, 0x40000000);

  const ItemSerialMap& m = *f.ctx.MasterItemSerials;
  const ItemSerialMap& s = *f.ctx.SlaveItemSerials;
  EXPECT_EQ(m.Count(), 6);
  EXPECT_EQ(*m.Find("100"), 2);
  EXPECT_EQ(*m.Find("1500000000"), 0x3FFFFFFF);
  EXPECT_EQ(*m.Find("301"), 5);
  EXPECT_FALSE(m.Exists("55"));
  EXPECT_EQ(s.Count(), 3);
  EXPECT_EQ(*s.Find("100"), 3);
  EXPECT_EQ(*s.Find("-7"), 7);
}

TEST_F(CharacterStageTest, EveryWrittenCharacterRegisteredInMailStore) {
  const std::filesystem::path mail = f.dir.path() / "Email.db";
  f.ctx.MailStore = std::make_shared<TXoCustomDatabase>(mail);
  ASSERT_GE(f.ctx.MailStore->Initialize(10847), 0);
  f.master.Char({.name = "lee", .account = "m"});
  f.master.Hero({.name = "Pet", .account = "m"});
  f.slave.Char({.name = "Lee", .account = "s"});
  f.slave.Char({.name = "Kim", .account = "s"});
  Run();

  f.ctx.MailStore->ExecAll({});
  EXPECT_TRUE(f.ctx.MailStore->UserExists("lee"));
  EXPECT_TRUE(f.ctx.MailStore->UserExists("Leea"));
  EXPECT_TRUE(f.ctx.MailStore->UserExists("Kim"));
  EXPECT_FALSE(f.ctx.MailStore->UserExists("Pet"));
  f.ctx.MailStore->Uninitialize();
  EXPECT_FALSE(f.ctx.MailStore->HasError());
  f.ctx.MailStore.reset();
  const Bytes file = testing::ReadFile(mail);
  ASSERT_GE(file.size(), 40u);
  EXPECT_EQ(LoadInt32LE(file.data() + 36), 3);  // one record slot per character
}

TEST_F(CharacterStageTest, MailStoreThatIsNotOpenEndsTheRun) {
  f.ctx.MailStore = std::make_shared<TXoCustomDatabase>(f.dir.path() / "Email.db");  // never initialised
  f.master.Char({.name = "lee", .account = "m"});
  f.WriteInputs();
  LoadAccounts(f.ctx);
  EXPECT_THROW(MergeCharacters(f.ctx), std::runtime_error);
}

TEST_F(CharacterStageTest, StatusTexts) {
  f.ctx.CleanData = true;
  // 15 GBK characters, 30 bytes: the longest name, shown whole.
  std::string longName;
  for (int i = 0; i < 15; ++i) longName += "\xC0\xEE";
  f.master.Char({.name = "lee", .account = "m", .lastLogin = kNow});
  f.slave.Char({.name = "Lee", .account = "s", .lastLogin = kNow});
  f.slave.Hero({.name = longName, .account = "s"});
  Run();
  const std::string shownLong = GbkToUtf8(longName);
  for (const char* text :
       {"正在加载主库(1/1) Hum.DB", "正在加载从库(2/2) Hum.DB", "正在加载主库(1/1) Qel.DB", "正在加载从库(1/1) Qel.DB",
        "正在加载从库(1/1) HeroQel.DB", "正在清理(1/1) Hum.DB", "正在清理(1/1) ID.DB", "正在清理(1/1) Qel.DB",
        "正在合并(1/2) Hum.DB:Lee", "正在保存(2/3) Hum.DB:Leea", "Hum.DB 合并完成(3/3) 新数据大小:3",
        "正在合并(1/1) Qel.DB:Lee", "正在保存(2/2) Qel.DB:Lee", "Qel.DB 合并完成(2/2) 新数据大小:2",
        "HeroQel.DB 合并完成(1/1) 新数据大小:1"}) {
    EXPECT_TRUE(Shown(text)) << text;
  }
  EXPECT_TRUE(Shown("正在合并(2/2) Hum.DB:" + shownLong));
  EXPECT_TRUE(Shown("正在合并(1/1) HeroQel.DB:" + shownLong));
  EXPECT_TRUE(Shown("正在保存(1/1) HeroQel.DB:" + shownLong));
  EXPECT_EQ(f.ctx.Bar.Max(), 0);
  EXPECT_EQ(f.ctx.Bar.Position(), 0);
}

// ---------------------------------------------------------------------------
// Damaged and unusual input
// ---------------------------------------------------------------------------

TEST_F(CharacterStageTest, NameLengthByteAboveCapacityReadsThirtyBytes) {
  const std::string thirty(30, 'x');
  auto overlong = [](Bytes& rec, size_t at) { rec[at] = 0xFF; };
  f.master.Char({.name = thirty, .account = "m"});
  CharSpec s{.name = thirty, .account = "s"};
  s.tweak = [&](Bytes& rec) {
    overlong(rec, chardata_rec::kKey);
    overlong(rec, chardata_rec::kName);
  };
  f.slave.Char(s);
  overlong(f.slave.hum.back(), index_rec::kName);
  Run();
  auto hum = f.Output(DbKind::Hum);
  ASSERT_EQ(hum.size(), 2u);
  EXPECT_EQ(testing::NameAtOffset(hum[1], index_rec::kName), std::string(29, 'x') + "a");
  EXPECT_EQ(hum[1][index_rec::kName], 30);
  auto qel = f.Output(DbKind::Qel);
  ASSERT_EQ(qel.size(), 2u);
  EXPECT_EQ(testing::NameAtOffset(qel[1], chardata_rec::kName), std::string(29, 'x') + "a");
}

TEST_F(CharacterStageTest, InvalidGbkNamesKeepTheirBytes) {
  // 0x81 is a lead byte: the letter after it is its trail byte and is not
  // folded, so these two are different names. 0xFF is no lead byte: the
  // letter after it folds, so those two collide.
  f.master.Char({.name = "\x81" "a", .account = "m"});
  f.master.Char({.name = "\xFF" "b", .account = "m"});
  f.slave.Char({.name = "\x81" "A", .account = "s"});
  f.slave.Char({.name = "\xFF" "B", .account = "s"});
  f.slave.Char({.name = "z\x81", .account = "s"});  // a lone lead byte at the end
  Run();
  EXPECT_EQ(NamesOf(f.Output(DbKind::Qel), chardata_rec::kName),
            (Names{"\x81" "a", "\xFF" "b", "\x81" "A", "\xFF" "Ba", "z\x81"}));
}

TEST_F(CharacterStageTest, DuplicateNamesAndEmptyAccountsAreDropped) {
  f.ctx.CleanData = true;
  f.master.Char({.name = "dup", .account = "acc1", .lastLogin = kNow, .roleId = 1});
  f.master.hum.push_back(testing::MakeIndexRecord("DUP", "acc2"));  // later duplicate: does not count for acc2
  f.master.Account("acc2");
  f.master.qel.push_back(testing::MakeCharDataRecord({.name = "Dup", .account = "acc1", .roleId = 2}));
  f.master.hum.push_back(testing::MakeIndexRecord("NoAcc", ""));  // not live
  f.master.qel.push_back(testing::MakeCharDataRecord({.name = "NoAcc", .account = ""}));
  // A slave character whose account is not in the slave's ID.DB.
  f.slave.hum.push_back(testing::MakeIndexRecord("Stray", "missing"));
  f.slave.qel.push_back(testing::MakeCharDataRecord({.name = "Stray", .account = "missing"}));
  Run();

  auto qel = f.Output(DbKind::Qel);
  ASSERT_EQ(NamesOf(qel, chardata_rec::kName), (Names{"dup"}));
  EXPECT_EQ(LoadInt32LE(qel[0].data() + chardata_rec::kRoleId), 1);
  EXPECT_EQ(NamesOf(f.Output(DbKind::Hum), index_rec::kName), (Names{"dup"}));
  EXPECT_EQ(NamesOf(f.Output(DbKind::ID), account_rec::kName), (Names{"acc1"}));
  EXPECT_EQ(f.ctx.AllSlaveChars->Count(), 0);
}

TEST_F(CharacterStageTest, HeaderCountBeyondTheFileLoadsWhatIsThere) {
  f.master.Char({.name = "A", .account = "m"});
  f.master.Char({.name = "B", .account = "m"});
  f.WriteInputs();
  // Announce 10 records where 2 are present.
  Bytes qel = testing::MakeFileBytes(DbKind::Qel, 10, f.master.qel);
  testing::WriteFile(f.ctx.Master.Qel, qel);
  LoadAccounts(f.ctx);
  MergeCharacters(f.ctx);
  EXPECT_EQ(NamesOf(f.Output(DbKind::Qel), chardata_rec::kName), (Names{"A", "B"}));
  EXPECT_EQ(testing::HeaderCountOf(f.Out("Qel.DB")), 2);
}

TEST_F(CharacterStageTest, EmptySlaveFilesGiveTheMastersRecords) {
  f.master.Char({.name = "A", .account = "m"});
  f.master.Hero({.name = "H", .account = "m"});
  f.WriteInputs();
  for (const std::string* p : {&f.ctx.Slave.Hum, &f.ctx.Slave.Qel, &f.ctx.Slave.HeroQel}) {
    testing::WriteFile(*p, {});  // 0 bytes
  }
  LoadAccounts(f.ctx);
  MergeCharacters(f.ctx);
  EXPECT_EQ(NamesOf(f.Output(DbKind::Hum), index_rec::kName), (Names{"A", "H"}));
  EXPECT_EQ(f.Output(DbKind::Qel).size(), 1u);
  EXPECT_EQ(f.Output(DbKind::HeroQel).size(), 1u);
}

TEST_F(CharacterStageTest, WithoutLoadedAccountsIsAnError) {
  f.WriteInputs();
  EXPECT_THROW(MergeCharacters(f.ctx), std::logic_error);
}

// ---------------------------------------------------------------------------
// Building blocks
// ---------------------------------------------------------------------------

TEST(NameKeyBuf, SameAsNameKeyForAnyBytes) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string s(static_cast<size_t>(rng() % 80), '\0');
    for (char& c : s) c = static_cast<char>(rng() % 4 == 0 ? 'A' + rng() % 26 : rng() % 256);
    EXPECT_EQ(NameKeyBuf(s).View(), NameKey(s)) << i;
  }
}

}  // namespace
}  // namespace razere

namespace razere {
namespace {

namespace fs = std::filesystem;

// A game server left running writes its record files while the run reads
// them. A slave file that has lost its records by the time its write pass
// copies them ends the run, naming the file, instead of writing a data set
// without those records (and a header counting fewer).
TEST(CharacterStageChangedInput, ARecordFileThatShrinksBeforeItsWritePassEndsTheRun) {
  const struct {
    const char* file;
    const char* pass;  // the status text of the first record its write pass copies
  } cases[] = {{"Qel.DB", "正在保存(1/"}, {"HeroQel.DB", "正在保存(1/"}};
  // ID.DB and Hum.DB take the same check, but their small records come
  // through a read window that the pass's first read fills: a file cut after
  // that is copied as it was then, whole, and the driver's check of every
  // input before it writes into the master ends the run
  // (tests/app/changed_inputs_test.cpp).
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    SetClockForTesting(kNow);
    MergeFixture f;
    f.master.Char({.name = "Mia", .account = "m1", .lastLogin = kNow});
    f.master.Hero({.name = "Pet", .account = "m1"});
    f.slave.Char({.name = "Kim", .account = "s1", .lastLogin = kNow});
    f.slave.Hero({.name = "Dog", .account = "s1"});
    f.WriteInputs();
    const fs::path slaveFile = f.dir.path() / "slave" / c.file;
    bool shrunk = false;
    f.host.onStatus = [&](const std::string& text) {
      if (!shrunk && text.rfind(c.pass, 0) == 0 && text.find(std::string(") ") + c.file + ":") != std::string::npos) {
        fs::resize_file(slaveFile, db_header::kSize);  // the header alone: every record gone
        shrunk = true;
      }
    };
    try {
      LoadAccounts(f.ctx);
      MergeCharacters(f.ctx);
      ADD_FAILURE() << "the run went on";
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("合区过程中数据文件被改动："), std::string::npos) << what;
      EXPECT_NE(what.find(c.file), std::string::npos) << what;
      EXPECT_NE(what.find("请先关闭游戏服务器！！！"), std::string::npos) << what;
    }
    EXPECT_TRUE(shrunk);
    SetClockForTesting(std::nullopt);
  }
}

}  // namespace
}  // namespace razere
