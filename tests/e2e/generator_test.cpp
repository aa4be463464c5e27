// The sample-installation generator: reproducible bytes, files the read pass
// accepts with the requested counts, the kinds of records real servers hold,
// collisions between the sides, the sparse Qel.DB, razere-gen's command line,
// and a merge of a generated pair.
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "dbfiles/db_format.h"
#include "dbfiles/db_header.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/read_pass.h"
#include "dbfiles/records.h"
#include "dbfiles/source_file.h"
#include "fixtures/cli_runner.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/iniprofile.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using gen::GeneratedPair;
using gen::GeneratedServer;
using gen::GenOptions;
using gen::GenSide;
using testing::CliResult;
using testing::FileTree;
using testing::ReferenceDay;
using testing::RunCli;
using testing::RunTool;
using testing::ScratchDir;
using testing::Slurp;

GenOptions SmallOptions() {
  GenOptions o;
  o.seed = 11;
  o.accounts = 40;
  o.chars = 12;
  o.heroes = 5;
  o.itemsPerChar = 8;
  o.collisionRate = 0.3;
  o.now = ReferenceDay();
  return o;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
}

// ---------------------------------------------------------------------------
// Reproducibility
// ---------------------------------------------------------------------------

TEST(GeneratorTest, SameOptionsGiveTheSameBytes) {
  ScratchDir a, b;
  gen::GeneratePair(SmallOptions(), a.path() / "p");
  gen::GeneratePair(SmallOptions(), b.path() / "p");
  auto ta = FileTree(a.path() / "p", /*listFolders=*/true);
  auto tb = FileTree(b.path() / "p", /*listFolders=*/true);
  // Config.ini names the absolute folders; apart from them it is the same.
  ReplaceAll(ta["program/Config.ini"], a.path().string(), "<dir>");
  ReplaceAll(tb["program/Config.ini"], b.path().string(), "<dir>");
  ASSERT_EQ(ta.size(), tb.size());
  for (const auto& [rel, bytes] : ta) {
    ASSERT_TRUE(tb.count(rel)) << rel;
    EXPECT_TRUE(bytes == tb[rel]) << rel << " differs";
  }
  EXPECT_TRUE(ta.count("master/Qel200/GuildBase"));
  EXPECT_TRUE(ta.count("save"));
}

TEST(GeneratorTest, AnotherSeedGivesOtherContent) {
  ScratchDir a, b;
  GenOptions o = SmallOptions();
  auto pa = gen::GeneratePair(o, a.path());
  o.seed = 12;
  auto pb = gen::GeneratePair(o, b.path());
  for (auto member : {&ServerPaths::ID, &ServerPaths::Hum, &ServerPaths::Qel, &ServerPaths::HeroQel}) {
    EXPECT_NE(Slurp(pa.master.paths.*member), Slurp(pb.master.paths.*member)) << pa.master.paths.*member;
    EXPECT_NE(Slurp(pa.slave.paths.*member), Slurp(pb.slave.paths.*member)) << pa.slave.paths.*member;
  }
}

TEST(GeneratorTest, SlaveWrittenAloneEqualsTheSlaveOfThePair) {
  ScratchDir a, b;
  GeneratedPair pair = gen::GeneratePair(SmallOptions(), a.path());
  GeneratedServer alone = gen::GenerateServer(SmallOptions(), b.path(), GenSide::Slave);
  auto tp = FileTree(pair.slave.root, /*listFolders=*/true);
  auto ta = FileTree(alone.root, /*listFolders=*/true);
  EXPECT_TRUE(tp == ta);
}

// ---------------------------------------------------------------------------
// What the files hold, as the merger's own readers see them
// ---------------------------------------------------------------------------

struct ItemInfo {
  int32_t serial;
  uint16_t kind;
};

struct SideData {
  std::vector<AccountEntry> accounts;
  std::vector<CharIndexEntry> index;
  std::vector<CharDataItem> chars;
  std::vector<HeroDataItem> heroes;
  std::array<ReadPassStats, 4> stats{};  // ID, Hum, Qel, HeroQel
  std::array<int32_t, 4> deleted{};      // records with a nonzero deleted flag
  std::vector<uint32_t> levels;          // of chars, same order
  std::vector<double> logins;
  std::vector<uint8_t> link5Byte;        // byte 688 of chars
  std::vector<ItemInfo> items;           // every element of live characters and heroes
  bool nameTailBytes = false;            // a name field with bytes after its text
};

int32_t CountDeleted(const fs::path& path, DbKind kind) {
  const DbKindInfo& info = KindInfo(kind);
  DbSourceFile f(path);
  DbHeaderBytes h{};
  f.ReadAt(0, h.data(), h.size());
  int32_t n = ParseHeader(h).recordCount, deleted = 0;
  for (int32_t i = 0; i < n; ++i) {
    uint8_t flag = 0;
    if (f.ReadAt(db_header::kSize + int64_t{i} * info.recordSize + info.deletedFlag, &flag, 1) == 1 && flag != 0) {
      ++deleted;
    }
  }
  return deleted;
}

bool TailBytes(const uint8_t* field) {
  for (size_t i = 1u + field[0]; i < name_field::kSize; ++i) {
    if (field[i] != 0) return true;
  }
  return false;
}

SideData ReadSide(const ServerPaths& p) {
  SideData d;
  Progress progress;
  {
    DbSourceFile f(p.ID);
    d.stats[0] = ReadRecords(f, DbKind::ID, progress, "", [&](int64_t off, const uint8_t* rec, size_t n) {
      d.accounts.push_back(ParseAccountRecord(rec, n, kSideMaster, off));
      d.nameTailBytes = d.nameTailBytes || TailBytes(rec + account_rec::kName);
    });
  }
  {
    DbSourceFile f(p.Hum);
    d.stats[1] = ReadRecords(f, DbKind::Hum, progress, "", [&](int64_t off, const uint8_t* rec, size_t n) {
      d.index.push_back(ParseCharIndexRecord(rec, n, kSideMaster, off));
    });
  }
  {
    DbSourceFile f(p.Qel);
    d.stats[2] = ReadRecords(f, DbKind::Qel, progress, "", [&](int64_t off, const uint8_t* rec, size_t n) {
      d.chars.push_back(ParseCharDataRecord(rec, n, kSideMaster, off));
      d.levels.push_back(CharDataLevel(rec, n));
      d.logins.push_back(CharDataLastLogin(rec, n));
      d.link5Byte.push_back(rec[chardata_rec::kLink5Present]);
    });
    std::vector<uint8_t> rec(chardata_rec::kSize);
    for (const CharDataItem& c : d.chars) {
      EXPECT_EQ(f.ReadAt(c.offset, rec.data(), rec.size()), rec.size());
      ForEachCharDataItem(rec, ItemOrder::Layout,
                          [&](uint8_t* item) { d.items.push_back({ItemSerial(item), ItemKind(item)}); });
    }
  }
  {
    DbSourceFile f(p.HeroQel);
    d.stats[3] = ReadRecords(f, DbKind::HeroQel, progress, "", [&](int64_t off, const uint8_t* rec, size_t n) {
      d.heroes.push_back(ParseHeroDataRecord(rec, n, kSideMaster, off));
    });
    std::vector<uint8_t> rec(hero_rec::kSize);
    for (const HeroDataItem& h : d.heroes) {
      EXPECT_EQ(f.ReadAt(h.offset, rec.data(), rec.size()), rec.size());
      ForEachHeroDataItem(rec, ItemOrder::Layout,
                          [&](uint8_t* item) { d.items.push_back({ItemSerial(item), ItemKind(item)}); });
    }
  }
  const std::array<std::pair<std::string, DbKind>, 4> files = {
      {{p.ID, DbKind::ID}, {p.Hum, DbKind::Hum}, {p.Qel, DbKind::Qel}, {p.HeroQel, DbKind::HeroQel}}};
  for (size_t i = 0; i < files.size(); ++i) d.deleted[i] = CountDeleted(files[i].first, files[i].second);
  return d;
}

// One mid-sized pair shared by the content tests.
class GeneratedPairTest : public ::testing::Test {
 protected:
  static GenOptions Options() {
    GenOptions o;
    o.seed = 5;
    o.accounts = 300;
    o.chars = 60;
    o.heroes = 25;
    o.itemsPerChar = 12;
    o.collisionRate = 0.3;
    o.now = ReferenceDay();
    return o;
  }
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    pair_ = new GeneratedPair(gen::GeneratePair(Options(), dir_->path()));
    master_ = new SideData(ReadSide(pair_->master.paths));
    slave_ = new SideData(ReadSide(pair_->slave.paths));
  }
  static void TearDownTestSuite() {
    delete master_;
    delete slave_;
    delete pair_;
    delete dir_;
  }
  static inline ScratchDir* dir_ = nullptr;
  static inline GeneratedPair* pair_ = nullptr;
  static inline SideData* master_ = nullptr;
  static inline SideData* slave_ = nullptr;
};

TEST_F(GeneratedPairTest, FilesParseWithTheRequestedCounts) {
  for (auto [server, data] : {std::pair{&pair_->master, master_}, std::pair{&pair_->slave, slave_}}) {
    SCOPED_TRACE(server->root.string());
    const gen::ServerStats& st = server->stats;
    EXPECT_EQ(data->accounts.size(), 300u);
    EXPECT_EQ(data->chars.size(), 60u);
    EXPECT_EQ(data->heroes.size(), 25u);
    EXPECT_EQ(st.accounts, 300);
    EXPECT_EQ(st.chars, 60);
    EXPECT_EQ(st.heroes, 25);
    EXPECT_EQ(static_cast<int32_t>(data->index.size()), st.indexRecords);

    const std::array<std::pair<std::string, DbKind>, 4> files = {{{server->paths.ID, DbKind::ID},
                                                                 {server->paths.Hum, DbKind::Hum},
                                                                 {server->paths.Qel, DbKind::Qel},
                                                                 {server->paths.HeroQel, DbKind::HeroQel}}};
    const std::array<int32_t, 4> counts = {st.idRecords, st.humRecords, st.qelRecords, st.heroRecords};
    for (size_t i = 0; i < files.size(); ++i) {
      const auto& [path, kind] = files[i];
      const DbKindInfo& info = KindInfo(kind);
      SCOPED_TRACE(path);
      // Every record is present in full, the header counts them all.
      EXPECT_EQ(data->stats[i].headerCount, counts[i]);
      EXPECT_EQ(data->stats[i].complete, counts[i]);
      EXPECT_EQ(fs::file_size(path), db_header::kSize + uint64_t{info.recordSize} * static_cast<uint64_t>(counts[i]));
      // The header as the merger writes it.
      DbHeaderBytes h{};
      DbSourceFile f(path);
      f.ReadAt(0, h.data(), h.size());
      EXPECT_TRUE(h == BuildHeader(kind, counts[i], ReferenceDay(), ReferenceDay()));
      EXPECT_GT(data->deleted[i], 0) << "no deleted record";
    }
    EXPECT_EQ(st.bytes, fs::file_size(server->paths.ID) + fs::file_size(server->paths.Hum) +
                            fs::file_size(server->paths.Qel) + fs::file_size(server->paths.HeroQel));
  }
}

// Names come as text (accounts, index records) or as inline name slots
// (character and hero data).
std::string_view Text(const std::string& s) { return s; }
std::string_view Text(const InlineName& n) { return n.View(); }

bool HasLeadByte(std::string_view s) {
  for (char c : s) {
    if (IsLeadByte(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

template <class Entry>
bool CaseOnlyTwins(const std::vector<Entry>& v) {
  std::map<std::string, std::string> byKey;
  for (const Entry& e : v) {
    auto [it, added] = byKey.emplace(NameKey(Text(e.name)), Text(e.name));
    if (!added && it->second != Text(e.name)) return true;
  }
  return false;
}

template <class Entry>
bool DuplicateKeys(const std::vector<Entry>& v) {
  std::set<std::string> keys;
  for (const Entry& e : v) {
    if (!keys.insert(NameKey(Text(e.name))).second) return true;
  }
  return false;
}

std::set<std::string> Keys(const auto& entries) {
  std::set<std::string> keys;
  for (const auto& e : entries) keys.insert(NameKey(Text(e.name)));
  return keys;
}

// Each kind of record that the merge must handle appears on both sides.
TEST_F(GeneratedPairTest, HoldsEveryKindOfRecord) {
  struct Feature {
    const char* what;
    std::function<bool(const SideData&)> present;
  };
  const std::vector<Feature> features = {
      {"GBK character names", [](const SideData& d) {
         return std::any_of(d.chars.begin(), d.chars.end(), [](auto& c) { return HasLeadByte(Text(c.name)); });
       }},
      {"ASCII character names", [](const SideData& d) {
         return std::any_of(d.chars.begin(), d.chars.end(), [](auto& c) { return !HasLeadByte(Text(c.name)); });
       }},
      {"GBK account names", [](const SideData& d) {
         return std::any_of(d.accounts.begin(), d.accounts.end(), [](auto& a) { return HasLeadByte(a.name); });
       }},
      {"a GBK-extension character whose trail byte is a letter", [](const SideData& d) {
         for (const auto& e : d.index) {
           for (size_t i = 0; i + 1 < e.name.size(); ++i) {
             auto b = static_cast<unsigned char>(e.name[i]);
             auto t = static_cast<unsigned char>(e.name[i + 1]);
             if (!IsLeadByte(b)) continue;
             if (b <= 0xA0 && ((t >= 'A' && t <= 'Z') || (t >= 'a' && t <= 'z'))) return true;
             ++i;
           }
         }
         return false;
       }},
      {"names of 29 or 30 bytes", [](const SideData& d) {
         return std::any_of(d.index.begin(), d.index.end(), [](auto& e) { return e.name.size() >= 29; });
       }},
      {"account names differing only in letter case", [](const SideData& d) { return CaseOnlyTwins(d.accounts); }},
      {"duplicate account names", [](const SideData& d) { return DuplicateKeys(d.accounts); }},
      {"duplicate character names", [](const SideData& d) { return DuplicateKeys(d.chars); }},
      {"bytes after the text of a name field", [](const SideData& d) { return d.nameTailBytes; }},
      {"index records of heroes with hero data", [](const SideData& d) {
         std::set<std::string> heroes = Keys(d.heroes);
         return std::any_of(d.index.begin(), d.index.end(),
                            [&](auto& e) { return e.heroFlag != 0 && heroes.count(NameKey(e.name)); });
       }},
      {"index records without data", [](const SideData& d) {
         std::set<std::string> chars = Keys(d.chars);
         return std::any_of(d.index.begin(), d.index.end(),
                            [&](auto& e) { return e.heroFlag == 0 && !chars.count(NameKey(e.name)); });
       }},
      {"character data without an index record", [](const SideData& d) {
         std::set<std::string> index = Keys(d.index);
         return std::any_of(d.chars.begin(), d.chars.end(), [&](auto& c) { return !index.count(NameKey(Text(c.name))); });
       }},
      {"accounts without characters", [](const SideData& d) {
         std::set<std::string> owners;
         for (const auto& e : d.index) owners.insert(NameKey(e.account));
         return std::any_of(d.accounts.begin(), d.accounts.end(),
                            [&](auto& a) { return !owners.count(NameKey(a.name)); });
       }},
      {"characters linked to other characters", [](const SideData& d) {
         std::set<std::string> chars = Keys(d.chars);
         return std::any_of(d.chars.begin(), d.chars.end(), [&](auto& c) {
           return !c.links[0].Empty() && chars.count(NameKey(Text(c.links[0]))) &&
                  NameKey(Text(c.links[0])) != NameKey(Text(c.name));
         });
       }},
      {"characters linked to heroes", [](const SideData& d) {
         std::set<std::string> heroes = Keys(d.heroes);
         return std::any_of(d.chars.begin(), d.chars.end(), [&](auto& c) {
           for (int k = 1; k < 5; ++k) {
             if (!c.links[k].Empty() && heroes.count(NameKey(Text(c.links[k])))) return true;
           }
           return false;
         });
       }},
      {"linked names pointing at nobody", [](const SideData& d) {
         std::set<std::string> all = Keys(d.index);
         return std::any_of(d.chars.begin(), d.chars.end(), [&](auto& c) {
           for (const auto& l : c.links) {
             if (!l.Empty() && !all.count(NameKey(Text(l)))) return true;
           }
           return false;
         });
       }},
      {"heroes linked to their owner", [](const SideData& d) {
         std::set<std::string> chars = Keys(d.chars);
         return std::any_of(d.heroes.begin(), d.heroes.end(), [&](auto& h) { return chars.count(NameKey(Text(h.links[0]))); });
       }},
      {"linked name 5 with byte 688 == 1", [](const SideData& d) {
         for (size_t i = 0; i < d.chars.size(); ++i) {
           if (d.link5Byte[i] == 1 && !d.chars[i].links[4].Empty()) return true;
         }
         return false;
       }},
      {"byte 688 == 2", [](const SideData& d) {
         return std::count(d.link5Byte.begin(), d.link5Byte.end(), 2) > 0;
       }},
      {"inactive low-level characters (over 90 days, level below 10)", [](const SideData& d) {
         for (size_t i = 0; i < d.chars.size(); ++i) {
           if (std::floor(ReferenceDay()) - std::floor(d.logins[i]) > 90 && d.levels[i] < 10) return true;
         }
         return false;
       }},
      {"active characters", [](const SideData& d) {
         for (size_t i = 0; i < d.chars.size(); ++i) {
           if (std::floor(ReferenceDay()) - std::floor(d.logins[i]) <= 90 && d.levels[i] >= 10) return true;
         }
         return false;
       }},
      {"items with ordinary serials", [](const SideData& d) {
         return std::any_of(d.items.begin(), d.items.end(),
                            [](auto& it) { return it.kind != 0 && it.serial > 0 && it.serial < 0x3FFFFFFF; });
       }},
      {"items with extended serials", [](const SideData& d) {
         return std::any_of(d.items.begin(), d.items.end(),
                            [](auto& it) { return it.kind != 0 && it.serial >= 0x3FFFFFFF; });
       }},
      {"empty slots with a nonzero serial", [](const SideData& d) {
         return std::any_of(d.items.begin(), d.items.end(), [](auto& it) { return it.kind == 0 && it.serial != 0; });
       }},
  };
  for (const Feature& f : features) {
    EXPECT_TRUE(f.present(*master_)) << "master lacks " << f.what;
    EXPECT_TRUE(f.present(*slave_)) << "slave lacks " << f.what;
  }
}

// Hum.DB accounts name accounts of the same side, except for a few orphans.
TEST_F(GeneratedPairTest, IndexRecordsMostlyBelongToAccountsOfTheirSide) {
  for (const SideData* d : {master_, slave_}) {
    std::set<std::string> accounts = Keys(d->accounts);
    size_t owned = 0;
    for (const auto& e : d->index) owned += accounts.count(NameKey(e.account));
    EXPECT_GE(owned * 100, d->index.size() * 95);
  }
}

TEST_F(GeneratedPairTest, SetupCountersCoverEveryItemSerial) {
  for (auto [server, data] : {std::pair{&pair_->master, master_}, std::pair{&pair_->slave, slave_}}) {
    int32_t itemNumber = IniReadInt(server->paths.Setup, "Setup", "ItemNumber", -1);
    int32_t itemNumberEx = IniReadInt(server->paths.Setup, "Setup", "ItemNumberEx", -1);
    EXPECT_EQ(itemNumber, server->stats.itemNumber);
    EXPECT_EQ(itemNumberEx, server->stats.itemNumberEx);
    int64_t occupied = 0, extended = 0;
    for (const ItemInfo& it : data->items) {
      if (it.kind == 0) continue;
      ++occupied;
      if (it.serial >= 0x3FFFFFFF) {
        ++extended;
        EXPECT_LE(it.serial, itemNumberEx);
      } else {
        EXPECT_LE(it.serial, itemNumber);
      }
    }
    EXPECT_EQ(occupied, server->stats.items);
    EXPECT_EQ(extended, server->stats.extendedItems);
    EXPECT_FALSE(IniReadString(server->paths.Setup, "Guild", "GuildNotice", "").empty());
  }
}

TEST_F(GeneratedPairTest, ConfigNamesTheGeneratedFolders) {
  RunContext ctx;
  SetDefaultSettings(ctx);
  ctx.ConfigFile = pair_->config.string();
  LoadConfig(ctx);
  for (auto [read, written] : {std::pair{&ctx.Master, &pair_->master}, std::pair{&ctx.Slave, &pair_->slave}}) {
    EXPECT_EQ(read->QelServer, written->root.string());
    ServerPaths derived;
    DeriveServerPaths(derived, read->QelServer);
    for (auto member : {&ServerPaths::ID, &ServerPaths::Hum, &ServerPaths::Qel, &ServerPaths::HeroQel,
                        &ServerPaths::Setup, &ServerPaths::Shop, &ServerPaths::Email}) {
      EXPECT_EQ(read->*member, derived.*member);
    }
    for (auto member : {&ServerPaths::ID, &ServerPaths::Hum, &ServerPaths::Qel, &ServerPaths::HeroQel,
                        &ServerPaths::Setup}) {
      EXPECT_TRUE(fs::is_regular_file(read->*member)) << read->*member;
    }
    EXPECT_TRUE(fs::is_regular_file(fs::path(read->Guild) / "GuildList.txt"));
  }
  EXPECT_EQ(ctx.SavePath, testing::Native(pair_->save.string() + "/"));
  EXPECT_TRUE(fs::is_directory(ctx.SavePath));
}

// ---------------------------------------------------------------------------
// Collisions between the sides
// ---------------------------------------------------------------------------

struct Shared {
  size_t slaveNames = 0;  // distinct live name keys of the slave
  size_t shared = 0;      // of them also on the master
  size_t otherCase = 0;   // shared, with different bytes
};

template <class Entry>
Shared CountShared(const std::vector<Entry>& master, const std::vector<Entry>& slave) {
  std::map<std::string, std::string> m;
  for (const Entry& e : master) m.emplace(NameKey(e.name), e.name);
  std::map<std::string, std::string> s;
  for (const Entry& e : slave) s.emplace(NameKey(e.name), e.name);
  Shared r;
  r.slaveNames = s.size();
  for (const auto& [key, name] : s) {
    auto it = m.find(key);
    if (it == m.end()) continue;
    ++r.shared;
    if (it->second != name) ++r.otherCase;
  }
  return r;
}

TEST(GeneratorCollisionTest, RateControlsSharedNameKeys) {
  struct Case {
    double rate;
    double low, high;  // bounds of shared / slave names
  };
  for (const Case& c : {Case{0.0, 0.0, 0.0}, Case{0.5, 0.3, 0.7}}) {
    SCOPED_TRACE(c.rate);
    ScratchDir dir;
    GenOptions o;
    o.seed = 3;
    o.accounts = 300;
    o.chars = 60;
    o.heroes = 30;
    o.itemsPerChar = 0;
    o.collisionRate = c.rate;
    o.now = ReferenceDay();
    GeneratedPair pair = gen::GeneratePair(o, dir.path());
    SideData m = ReadSide(pair.master.paths), s = ReadSide(pair.slave.paths);
    Shared accounts = CountShared(m.accounts, s.accounts);
    Shared names = CountShared(m.index, s.index);  // characters and heroes share one name space
    for (const Shared& sh : {accounts, names}) {
      double share = static_cast<double>(sh.shared) / static_cast<double>(sh.slaveNames);
      EXPECT_GE(share, c.low);
      EXPECT_LE(share, c.high);
    }
    if (c.rate > 0) {
      EXPECT_GT(accounts.otherCase, 0u) << "no collision in another letter case";
    }
  }
}

// ---------------------------------------------------------------------------
// Sparse master Qel.DB
// ---------------------------------------------------------------------------

TEST(GeneratorSparseTest, LastCharactersLieBeyondTheSizeWithHolesBefore) {
  ScratchDir dir;
  GenOptions o = SmallOptions();
  o.chars = 6;
  o.sparseQelGib = 4;
  GeneratedPair pair = gen::GeneratePair(o, dir.path());
  const int64_t fourGiB = int64_t{4} << 30;
  const auto& offsets = pair.master.stats.sparseOffsets;
  ASSERT_EQ(offsets.size(), 3u);
  EXPECT_GE(offsets[0], fourGiB);
  EXPECT_TRUE(pair.slave.stats.sparseOffsets.empty());

  SideData m = ReadSide(pair.master.paths);
  EXPECT_EQ(m.chars.size(), 6u);
  std::vector<int64_t> beyond;
  for (const CharDataItem& c : m.chars) {
    if (c.offset >= fourGiB) beyond.push_back(c.offset);
  }
  EXPECT_EQ(beyond, offsets);
  EXPECT_EQ(m.stats[2].complete, pair.master.stats.qelRecords);

  // The holes take no disk space (the blocks a file takes: POSIX only).
#if !defined(_WIN32)
  struct stat st {};
  ASSERT_EQ(::stat(pair.master.paths.Qel.c_str(), &st), 0);
  EXPECT_GT(st.st_size, fourGiB);
  EXPECT_LT(static_cast<int64_t>(st.st_blocks) * 512, int64_t{64} << 20);
#endif
}

// ---------------------------------------------------------------------------
// razere-gen
// ---------------------------------------------------------------------------

TEST(RazereGenCommandTest, PairWritesTheFoldersAndPrintsASummary) {
  ScratchDir dir;
  std::string out = (dir.path() / "pair").string();
  CliResult r = RunTool("razere-gen", {"pair", "--out", out, "--accounts", "30", "--chars", "8", "--heroes", "3",
                                       "--items-per-char", "5", "--collision-rate", "0.5", "--seed", "9", "--now",
                                       "2024-06-01", "--mails", "100", "--guilds", "4"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("razere-gen：已在 " + out), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("30 个帐号、8 个人物、3 个英雄"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  for (const char* rel : {"master/LoginSrv/IDDB/ID.DB", "slave/DBServer/FDB/Qel.DB", "program/Config.ini"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::path(out) / rel)) << rel;
  }
  EXPECT_TRUE(fs::is_directory(fs::path(out) / "save"));

  // The library with the same options writes the same bytes.
  ScratchDir lib;
  GenOptions o;
  o.accounts = 30;
  o.chars = 8;
  o.heroes = 3;
  o.itemsPerChar = 5;
  o.collisionRate = 0.5;
  o.seed = 9;
  o.now = ReferenceDay();
  GeneratedPair p = gen::GeneratePair(o, lib.path());
  EXPECT_TRUE(Slurp(fs::path(out) / "slave/DBServer/FDB/Qel.DB") == Slurp(p.slave.paths.Qel));
}

TEST(RazereGenCommandTest, ServerWritesOneInstallation) {
  ScratchDir dir;
  CliResult r = RunTool("razere-gen", {"server", "--out", dir.str() + "one", "--side", "slave", "--chars", "3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("写出从库："), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "one/DBServer/FDB/Hum.DB"));
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "one/Qel200/!Setup.txt"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "one/Qel200/GuildBase"));
  EXPECT_FALSE(fs::exists(dir.path() / "one/program"));
}

TEST(RazereGenCommandTest, RefusesBadUsageAndNonEmptyFolders) {
  ScratchDir dir;
  testing::WriteBytes(dir.path() / "busy/keep.txt", "x");
  const std::string fresh = dir.str() + "fresh";
  const std::string busy = dir.str() + "busy";
  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {{}, 2},
      {{"merge"}, 2},
      {{"pair"}, 2},  // --out is required
      {{"pair", "--out", fresh, "--collision-rate", "1.5"}, 2},
      {{"pair", "--out", fresh, "--collision-rate", "-0.1"}, 2},
      {{"pair", "--out", fresh, "--items-per-char", "498"}, 2},
      {{"pair", "--out", fresh, "--accounts", "-1"}, 2},
      {{"pair", "--out", fresh, "--now", "2023-02-30"}, 2},
      {{"pair", "--out", fresh, "--now", "yesterday"}, 2},
      {{"server", "--out", fresh, "--side", "both"}, 2},
      {{"pair", "--out", busy}, 1},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    CliResult r = RunTool("razere-gen", c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << joined << "\n" << r.err;
    EXPECT_FALSE(r.err.empty()) << joined;
  }
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "busy/keep.txt"));

  CliResult forced = RunTool("razere-gen", {"pair", "--out", busy, "--force", "--chars", "2", "--accounts", "5"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "busy/keep.txt"));
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "busy/master/DBServer/FDB/Qel.DB"));
}

// ---------------------------------------------------------------------------
// A merge of a generated pair
// ---------------------------------------------------------------------------

TEST(GeneratedMergeTest, RazereCliMergeOfAGeneratedPairSucceeds) {
  for (bool clean : {false, true}) {
    SCOPED_TRACE(clean ? "with clean-up" : "without clean-up");
    ScratchDir dir;
    GenOptions o = SmallOptions();
    o.now = 0;  // today: the clean-up counts days from the real clock
    GeneratedPair pair = gen::GeneratePair(o, dir.path());
    std::vector<std::string> args = {"merge", "--config", pair.config.string(), "--quiet"};
    if (clean) args.push_back("--clean");
    CliResult r = RunCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    testing::ExpectVerifiedClean(pair.save);
    for (const char* name : {"ID.DB", "Hum.DB", "Qel.DB", "HeroQel.DB"}) {
      EXPECT_TRUE(fs::is_regular_file(pair.save / name)) << name;
    }
  }
}

}  // namespace
}  // namespace razere
