// A dry run changes nothing anywhere and reports what the real run then does;
// every run's report matches its change logs, and a refused or failing run
// still writes its report with the error.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fixtures/cli_runner.h"
#include "fixtures/files.h"
#include "fixtures/generated_pair.h"
#include "dbfiles/le_bytes.h"
#include "gen/generator.h"
#include "stages/shop_format.h"
#include "support/ansi.h"

namespace razere {
namespace {

using testing::RunCli;
using testing::ScratchDir;
using testing::Slurp;
using testing::WriteBytes;
using Json = nlohmann::json;

namespace fs = std::filesystem;

// The record count in a shop file's header.
int RecordCountOf(const fs::path& shopFile) {
  const std::string bytes = Slurp(shopFile);
  if (bytes.size() < shop_file::kHeaderSize) return -1;
  return static_cast<int>(LoadInt32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + shop_file::kCount));
}

std::vector<std::string> RenameLines(const Json& list) {
  std::vector<std::string> out;
  for (const Json& e : list) out.push_back(e["old"].get<std::string>() + " => " + e["new"].get<std::string>());
  return out;
}

class DryRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gen::GenOptions o = testing::StagePairOptions();
    o.guilds = 6;
    o.shops = 8;
    o.shopItems = 30;
    o.mails = 20;
    pair = gen::GeneratePair(o, scratch.path() / "pair");
    // An old mail store in the save folder: a real run replaces it.
    WriteBytes(pair.save / "Email.db", "an old run's mail store");
  }

  testing::CliResult Merge(std::vector<std::string> extra) {
    std::vector<std::string> args = {"merge", "--config", pair.config.string(), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args);
  }
  Json Report(const fs::path& file) { return Json::parse(Slurp(file)); }

  ScratchDir scratch;
  gen::GeneratedPair pair;
};

TEST_F(DryRunTest, ChangesNothingAndReportsWhatTheRealRunDoes) {
  const auto before = testing::FileTree(pair.dir);
  const fs::path dryReport = scratch.path() / "dry.json";
  const auto dry = Merge({"--dry-run", "--replace", "--backup", "--report", dryReport.string()});
  ASSERT_EQ(dry.exitCode, 0) << dry.err;
  EXPECT_TRUE(testing::FileTree(pair.dir) == before)
      << "a file of the master, the slave, the save folder or Config.ini changed";

  const fs::path realReport = scratch.path() / "real.json";
  const auto real = Merge({"--report", realReport.string()});
  ASSERT_EQ(real.exitCode, 0) << real.err;
  testing::ExpectVerifiedClean(pair.save);
  Json a = Report(dryReport), b = Report(realReport);
  EXPECT_TRUE(a["dryRun"].get<bool>());
  EXPECT_FALSE(b["dryRun"].get<bool>());
  EXPECT_TRUE(a["files"].empty());
  EXPECT_FALSE(b["files"].empty());
  // The dry run had Replace and Backup on, the real run not.
  a["settings"]["replace"] = b["settings"]["replace"];
  a["settings"]["backup"] = b["settings"]["backup"];
  for (const char* key : {"dryRun", "files", "seconds"}) {
    a.erase(key);
    b.erase(key);
  }
  EXPECT_EQ(a, b) << a.dump(1).substr(0, 2000) << "\n---\n" << b.dump(1).substr(0, 2000);
}

TEST_F(DryRunTest, TheReportsRenamesAreTheChangeLogs) {
  const fs::path report = scratch.path() / "r.json";
  ASSERT_EQ(Merge({"--report", report.string()}).exitCode, 0);
  const Json r = Report(report);
  EXPECT_TRUE(r["completed"].get<bool>());
  EXPECT_TRUE(r["error"].is_null());
  EXPECT_EQ(RenameLines(r["renames"]["accounts"]), testing::GbkLines(pair.save / PathFromText("帐号更改记录.txt")));
  EXPECT_EQ(RenameLines(r["renames"]["characters"]), testing::GbkLines(pair.save / PathFromText("人物名称更改记录.txt")));
  EXPECT_EQ(RenameLines(r["renames"]["guilds"]), testing::GbkLines(pair.save / PathFromText("行会名称更改记录.txt")));
  EXPECT_FALSE(r["renames"]["accounts"].empty());
  int heroes = 0;
  for (const Json& e : r["renames"]["characters"]) heroes += e["hero"].get<bool>() ? 1 : 0;
  EXPECT_GT(heroes, 0);
  // The summary of the new data set counts what the report counts.
  const std::vector<std::string> summary = testing::GbkLines(pair.save / PathFromText("新记录.txt"));
  ASSERT_GE(summary.size(), 7u);
  EXPECT_EQ(summary[0], "新ID.DB总数:" + std::to_string(r["counts"]["new"]["accounts"].get<int>()));
  EXPECT_EQ(summary[2], "新Qel.DB总数:" + std::to_string(r["counts"]["new"]["characters"].get<int>()));
  EXPECT_EQ(summary[3], "新HeroQel.DB总数:" + std::to_string(r["counts"]["new"]["heroes"].get<int>()));
  EXPECT_EQ(summary[4], "新行会总数:" + std::to_string(r["counts"]["new"]["guilds"].get<int>()));
  // The live records of each side's files, as the generator counts them.
  for (auto [side, stats] : {std::pair{"master", &pair.master.stats}, std::pair{"slave", &pair.slave.stats}}) {
    SCOPED_TRACE(side);
    EXPECT_EQ(r["counts"][side]["accounts"].get<int>(), stats->accounts);
    EXPECT_EQ(r["counts"][side]["characters"].get<int>(), stats->chars);
    EXPECT_EQ(r["counts"][side]["heroes"].get<int>(), stats->heroes);
    EXPECT_EQ(r["counts"][side]["guilds"].get<int>(), stats->guilds);
    // The files also hold unused records and slots; the generator writes some
    // of every kind.
    for (auto [kind, records] : {std::pair{"shops", stats->shopRecords}, std::pair{"shopItems", stats->shopItemRecords},
                                 std::pair{"mails", stats->mailRecords}}) {
      EXPECT_GT(r["counts"][side][kind].get<int>(), 0) << kind;
      EXPECT_LE(r["counts"][side][kind].get<int>(), records) << kind;
    }
  }
  // No guild is lost; shops, items and mails of removed owners and
  // recipients are.
  EXPECT_EQ(r["counts"]["new"]["guilds"].get<int>(),
            r["counts"]["master"]["guilds"].get<int>() + r["counts"]["slave"]["guilds"].get<int>());
  for (const char* kind : {"shops", "shopItems", "mails"}) {
    EXPECT_GT(r["counts"]["new"][kind].get<int>(), 0) << kind;
    EXPECT_LE(r["counts"]["new"][kind].get<int>(),
              r["counts"]["master"][kind].get<int>() + r["counts"]["slave"][kind].get<int>())
        << kind;
  }
  EXPECT_EQ(r["counts"]["new"]["shops"].get<int>(), RecordCountOf(pair.save / "Shop.dat"));
  EXPECT_EQ(r["counts"]["new"]["shopItems"].get<int>(), RecordCountOf(pair.save / "ShopItem.dat"));
  // The counters the master's !Setup.txt held before are the generator's.
  EXPECT_EQ(r["serials"]["ItemNumberBefore"].get<int64_t>(), pair.master.stats.itemNumber);
  EXPECT_EQ(r["serials"]["ItemNumberExBefore"].get<int64_t>(), pair.master.stats.itemNumberEx);
}

// With the clean-up, every character the new Qel.DB lacks is listed with
// its reason, and so is every account the new ID.DB lacks.
TEST_F(DryRunTest, TheRemovedRecordsAccountForTheCounts) {
  const fs::path report = scratch.path() / "clean.json";
  ASSERT_EQ(Merge({"--clean", "--report", report.string()}).exitCode, 0);
  const Json r = Report(report);
  std::map<std::string, int> reasons;
  for (const Json& e : r["removed"]["characters"]) ++reasons[e["reason"].get<std::string>()];
  EXPECT_GT(reasons["inactive"], 0);
  // Data records left out plus the new ones are the live data records of both
  // sides ("dangling" are index records without data, not data records).
  const int dataLeftOut = static_cast<int>(r["removed"]["characters"].size()) - reasons["dangling"];
  EXPECT_EQ(r["counts"]["new"]["characters"].get<int>() + dataLeftOut,
            r["counts"]["master"]["characters"].get<int>() + r["counts"]["slave"]["characters"].get<int>());
  EXPECT_EQ(r["counts"]["new"]["accounts"].get<int>() + static_cast<int>(r["removed"]["accounts"].size()),
            r["counts"]["master"]["accounts"].get<int>() + r["counts"]["slave"]["accounts"].get<int>());
}

TEST_F(DryRunTest, RefusedAndFailingRunsStillReport) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* error;
  };
  WriteBytes(scratch.path() / "blocked" / "GuildBase", "a file where a folder goes");
  const Case cases[] = {
      {"refused", {"--slave", pair.master.root.string()}, 1, "主库与从库是同一组数据文件"},
      // The refused run stored its slave in Config.ini, as options do.
      {"failing", {"--slave", pair.slave.root.string(), "--save", (scratch.path() / "blocked").string()}, 3,
       "GuildBase"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path report = scratch.path() / (std::string(c.name) + ".json");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--report", report.string()});
    const auto r = Merge(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    ASSERT_TRUE(fs::exists(report));
    const Json j = Report(report);
    EXPECT_FALSE(j["completed"].get<bool>());
    EXPECT_NE(j["error"].get<std::string>().find(c.error), std::string::npos) << j["error"];
    EXPECT_FALSE(j["settings"].is_null());
  }
}

}  // namespace
}  // namespace razere
