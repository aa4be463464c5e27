// Whole runs of razere-cli merge on generated pairs, checking properties that
// must hold for any input.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/records.h"
#include "dbfiles/source_file.h"
#include "fixtures/cli_runner.h"
#include "gen/generator.h"
#include "support/ansi.h"
#include "support/textfile.h"

namespace razere {
namespace {

using testing::CliResult;
using testing::FileTree;
using testing::RunCli;
using testing::ScratchDir;
using testing::Slurp;

namespace fs = std::filesystem;

// The live records of a record file, each whole.
std::vector<std::vector<uint8_t>> LiveRecords(const fs::path& file, DbKind kind) {
  const DbKindInfo& info = KindInfo(kind);
  DbSourceFile src(file);
  std::vector<uint8_t> header(db_header::kSize);
  std::vector<std::vector<uint8_t>> out;
  if (src.ReadAt(0, header.data(), header.size()) < header.size()) return out;
  int32_t count = LoadInt32LE(header.data() + db_header::kRecordCount);
  for (int32_t i = 0; i < count; ++i) {
    std::vector<uint8_t> rec(info.recordSize);
    int64_t off = static_cast<int64_t>(db_header::kSize) + static_cast<int64_t>(i) * info.recordSize;
    if (src.ReadAt(off, rec.data(), rec.size()) < rec.size()) break;
    if (rec[info.deletedFlag] != 0) continue;
    out.push_back(std::move(rec));
  }
  return out;
}

int32_t HeaderCount(const fs::path& file) {
  std::string bytes = Slurp(file);
  if (bytes.size() < db_header::kSize) return -1;
  return LoadInt32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + db_header::kRecordCount);
}

std::set<std::string> NameSet(const fs::path& file, DbKind kind, size_t nameOffset) {
  std::set<std::string> names;
  if (!fs::exists(file)) return names;
  for (const auto& rec : LiveRecords(file, kind)) names.insert(ReadNameField(rec.data() + nameOffset));
  return names;
}

// "old => new" lines of a change log, as GBK names.
std::vector<std::pair<std::string, std::string>> LogLines(const fs::path& file) {
  TextFile text;
  std::vector<std::pair<std::string, std::string>> out;
  if (!ReadTextFile(file, text)) return out;
  for (const std::string& line : text.lines) {
    size_t at = line.find(" => ");
    if (at == std::string::npos) continue;
    out.emplace_back(Utf8ToGbk(line.substr(0, at)), Utf8ToGbk(line.substr(at + 4)));
  }
  return out;
}

struct PropertyCase {
  uint64_t seed;
  bool clean;
  double collisionRate;
};

class MergePropertiesTest : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(MergePropertiesTest, OutputIsConsistentAndInputsStayAsTheyWere) {
  const PropertyCase& c = GetParam();
  ScratchDir dir;
  gen::GenOptions o;
  o.seed = c.seed;
  o.accounts = 60;
  o.chars = 16;
  o.heroes = 6;
  o.itemsPerChar = 10;
  o.collisionRate = c.collisionRate;
  gen::GeneratedPair pair = gen::GeneratePair(o, dir.path());
  auto masterBefore = FileTree(pair.master.root);
  auto slaveBefore = FileTree(pair.slave.root);

  std::vector<std::string> args = {"merge", "--config", pair.config.string(), "--quiet"};
  if (c.clean) args.push_back("--clean");
  CliResult r = RunCli(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const fs::path save = pair.save;
  testing::ExpectVerifiedClean(save);

  // No two accounts, and no two characters or heroes, share a name key.
  auto accounts = LiveRecords(save / "ID.DB", DbKind::ID);
  std::set<std::string> accountKeys;
  for (const auto& rec : accounts) {
    EXPECT_TRUE(accountKeys.insert(NameKey(ReadNameField(rec.data() + account_rec::kName))).second);
  }
  auto index = LiveRecords(save / "Hum.DB", DbKind::Hum);
  std::set<std::string> indexKeys;
  for (const auto& rec : index) {
    std::string name = ReadNameField(rec.data() + index_rec::kName);
    EXPECT_TRUE(indexKeys.insert(NameKey(name)).second) << name;
    // Every index entry's account exists in the new ID.DB.
    EXPECT_TRUE(accountKeys.count(NameKey(ReadNameField(rec.data() + index_rec::kAccount)))) << name;
  }

  // Every character and hero record has an index entry.
  auto chars = LiveRecords(save / "Qel.DB", DbKind::Qel);
  auto heroes = LiveRecords(save / "HeroQel.DB", DbKind::HeroQel);
  for (const auto* records : {&chars, &heroes}) {
    for (const auto& rec : *records) {
      EXPECT_TRUE(indexKeys.count(NameKey(ReadNameField(rec.data() + index_rec::kName))));
    }
  }

  // The headers count exactly the records written, and so does the summary.
  EXPECT_EQ(HeaderCount(save / "ID.DB"), static_cast<int32_t>(accounts.size()));
  EXPECT_EQ(HeaderCount(save / "Hum.DB"), static_cast<int32_t>(index.size()));
  EXPECT_EQ(HeaderCount(save / "Qel.DB"), static_cast<int32_t>(chars.size()));
  EXPECT_EQ(HeaderCount(save / "HeroQel.DB"), static_cast<int32_t>(heroes.size()));
  TextFile summary;
  ASSERT_TRUE(ReadTextFile(save / PathFromText("新记录.txt"), summary));
  ASSERT_GE(summary.lines.size(), 4u);
  EXPECT_EQ(summary.lines[0], "新ID.DB总数:" + std::to_string(accounts.size()));
  EXPECT_EQ(summary.lines[1], "新Hum.DB总数:" + std::to_string(index.size()));
  EXPECT_EQ(summary.lines[2], "新Qel.DB总数:" + std::to_string(chars.size()));
  EXPECT_EQ(summary.lines[3], "新HeroQel.DB总数:" + std::to_string(heroes.size()));

  // Occupied items carry distinct serials; the ordinary ones run from 1 in
  // write order.
  std::set<int32_t> serials;
  int32_t nextOrdinary = 1;
  auto visit = [&](uint8_t* item) {
    if (!ItemOccupied(item)) return;
    int32_t s = ItemSerial(item);
    EXPECT_TRUE(serials.insert(s).second) << s;
    if (s < 0x3FFFFFFF) {
      EXPECT_EQ(s, nextOrdinary++);
    }
  };
  for (auto& rec : chars) ForEachCharDataItem(rec, ItemOrder::Renumber, visit);
  for (auto& rec : heroes) ForEachHeroDataItem(rec, ItemOrder::Renumber, visit);
  EXPECT_FALSE(serials.empty());

  // The logs list exactly the renamed names: every new name is in the
  // output and in neither input, every output name found in neither input
  // is a logged new name.
  std::set<std::string> inputNames;
  for (const auto* side : {&pair.master, &pair.slave}) {
    for (const auto& n : NameSet(side->paths.Hum, DbKind::Hum, index_rec::kName)) inputNames.insert(n);
  }
  std::set<std::string> logged;
  for (const auto& [oldName, newName] : LogLines(save / PathFromText("人物名称更改记录.txt"))) {
    EXPECT_TRUE(inputNames.count(oldName));
    EXPECT_FALSE(inputNames.count(newName));
    logged.insert(newName);
  }
  std::set<std::string> unseen;
  for (const auto& rec : index) {
    std::string name = ReadNameField(rec.data() + index_rec::kName);
    if (!inputNames.count(name)) unseen.insert(name);
  }
  EXPECT_EQ(unseen, logged);
  if (c.collisionRate > 0) {
    EXPECT_FALSE(logged.empty());
  }

  std::set<std::string> inputAccounts;
  for (const auto* side : {&pair.master, &pair.slave}) {
    for (const auto& n : NameSet(side->paths.ID, DbKind::ID, account_rec::kName)) inputAccounts.insert(n);
  }
  std::set<std::string> loggedAccounts;
  for (const auto& [oldName, newName] : LogLines(save / PathFromText("帐号更改记录.txt"))) {
    EXPECT_TRUE(inputAccounts.count(oldName));
    loggedAccounts.insert(newName);
  }
  std::set<std::string> unseenAccounts;
  for (const auto& rec : accounts) {
    std::string name = ReadNameField(rec.data() + account_rec::kName);
    if (!inputAccounts.count(name)) unseenAccounts.insert(name);
  }
  EXPECT_EQ(unseenAccounts, loggedAccounts);

  // With Replace off the inputs are unchanged, except the master's counters
  // and its deleted index files.
  EXPECT_EQ(FileTree(pair.slave.root), slaveBefore);
  auto masterAfter = FileTree(pair.master.root);
  const std::string setup = "Qel200/!Setup.txt";
  for (auto* tree : {&masterBefore, &masterAfter}) {
    tree->erase("DBServer/FDB/Qel.DB.idx");
    tree->erase("DBServer/FDB/HeroQel.DB.idx");
  }
  std::string setupAfter = masterAfter[setup];
  masterBefore.erase(setup);
  masterAfter.erase(setup);
  EXPECT_EQ(masterAfter, masterBefore);
  // The counters continue after the characters' items (shops and mails follow).
  size_t at = setupAfter.find("\r\nItemNumber=");
  ASSERT_NE(at, std::string::npos) << setupAfter;
  EXPECT_GE(std::stoll(setupAfter.substr(at + 13)), nextOrdinary - 1);
}

INSTANTIATE_TEST_SUITE_P(Pairs, MergePropertiesTest,
                         ::testing::Values(PropertyCase{1, false, 0.3}, PropertyCase{2, true, 0.3},
                                           PropertyCase{3, false, 0.0}, PropertyCase{4, true, 0.8}));

TEST(MergeReplaceTest, WithReplaceAndBackupTheMasterHoldsTheNewFilesAndTheOldAsBackups) {
  ScratchDir dir;
  gen::GenOptions o;
  o.seed = 5;
  o.accounts = 30;
  o.chars = 8;
  o.heroes = 3;
  gen::GeneratedPair pair = gen::GeneratePair(o, dir.path());
  const gen::GeneratedServer& m = pair.master;
  std::map<std::string, std::string> old;
  for (const std::string* p : {&m.paths.ID, &m.paths.Hum, &m.paths.Qel, &m.paths.HeroQel}) old[*p] = Slurp(*p);

  CliResult r = RunCli({"merge", "--config", pair.config.string(), "--quiet", "--replace", "--backup"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  testing::ExpectVerifiedClean(pair.save);
  testing::ExpectVerifiedClean(m.root);
  for (const auto& [path, bytes] : old) {
    std::string name = fs::path(path).filename().string();
    EXPECT_EQ(Slurp(path), Slurp(pair.save / name)) << path;
    EXPECT_EQ(Slurp(path + ".bak"), bytes) << path;
  }
  EXPECT_TRUE(fs::is_directory(m.root / "Qel200/GuildBase"));
}

TEST(MergeLargeFileTest, RecordsBeyondFourGibibytesAreMerged) {
  ScratchDir dir;
  gen::GenOptions o;
  o.seed = 9;
  o.accounts = 20;
  o.chars = 6;
  o.heroes = 2;
  o.itemsPerChar = 4;
  o.collisionRate = 0;
  o.sparseQelGib = 4;
  gen::GeneratedPair pair = gen::GeneratePair(o, dir.path());
  ASSERT_FALSE(pair.master.stats.sparseOffsets.empty());
  ASSERT_GT(pair.master.stats.sparseOffsets.back(), int64_t{4} << 30);

  // The names of the characters that lie beyond 4 GiB.
  std::set<std::string> beyond;
  DbSourceFile src(pair.master.paths.Qel);
  for (int64_t off : pair.master.stats.sparseOffsets) {
    std::vector<uint8_t> head(1024);
    ASSERT_EQ(src.ReadAt(off, head.data(), head.size()), head.size());
    beyond.insert(ReadNameField(head.data() + chardata_rec::kName + 0));
  }

  CliResult r = RunCli({"merge", "--config", pair.config.string(), "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  testing::ExpectVerifiedClean(pair.save);
  std::set<std::string> merged = NameSet(pair.save / "Qel.DB", DbKind::Qel, index_rec::kName);
  // A beyond record is in the output unless it has no index entry or an
  // earlier record of the same name key won.
  std::set<std::string> indexed = NameSet(pair.master.paths.Hum, DbKind::Hum, index_rec::kName);
  std::set<std::string> mergedKeys;
  for (const std::string& name : merged) mergedKeys.insert(NameKey(name));
  for (const std::string& name : beyond) {
    EXPECT_TRUE(merged.count(name) || mergedKeys.count(NameKey(name)) || !indexed.count(name)) << name;
  }
  EXPECT_TRUE(std::any_of(beyond.begin(), beyond.end(), [&](const std::string& n) { return merged.count(n) > 0; }));
}

}  // namespace
}  // namespace razere
