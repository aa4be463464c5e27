// Generated installations with guild folders, and the guild stage run on
// them after the account and character stages.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbfiles/db_test_util.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"
#include "gen/guilds.h"
#include "stages/guild_merge.h"
#include "support/ansi.h"
#include "support/iniprofile.h"
#include "support/textfile.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::IndexRecords;
using testing::LiveIndexKeys;
using testing::TempDir;
using Lines = std::vector<std::string>;

Lines LinesOf(const fs::path& p) {
  TextFile f;
  ReadTextFile(p, f);
  return f.lines;
}

// The distinct guild names of a GuildList.txt, trimmed, first spelling.
Lines GuildList(const fs::path& folder) {
  Lines out;
  std::set<std::string> keys;
  for (const std::string& line : LinesOf(folder / "GuildList.txt")) {
    size_t b = 0, e = line.size();
    while (b < e && static_cast<unsigned char>(line[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(line[e - 1]) <= 32) --e;
    const std::string name = line.substr(b, e - b);
    if (!name.empty() && keys.insert(GuildNameKey(name)).second) out.push_back(name);
  }
  return out;
}

// Every character a guild names: members, applicants, approved applicants.
Lines NamedCharacters(const fs::path& folder, const std::string& guild) {
  Lines out;
  bool members = false;
  for (const std::string& line : LinesOf(folder / "Guilds" / PathFromText(guild + ".txt"))) {
    if (line == "行会成员") members = true;
    if (!members || line.empty() || line[0] != '+') continue;
    std::string rest = line.substr(1);
    for (size_t at = 0; at < rest.size();) {
      const size_t end = rest.find_first_of(" ,", at);
      const std::string field = rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (!field.empty()) out.push_back(field);
      if (end == std::string::npos) break;
      at = end + 1;
    }
  }
  const fs::path ini = folder / "Guilds" / (guild + ".ini");
  for (int i = 0;; ++i) {
    const std::string v = IniReadString(ini, "GuildApply", std::to_string(i), "");
    if (v.empty()) break;
    out.push_back(v.substr(0, v.find('\t')));
  }
  for (int i = 0;; ++i) {
    const std::string v = IniReadString(ini, "GuildAgree", std::to_string(i), "");
    if (v.empty()) break;
    out.push_back(v);
  }
  return out;
}

gen::GenOptions Options() {
  gen::GenOptions o = testing::StagePairOptions();
  o.shops = 0;
  o.shopItems = 0;
  o.guilds = 10;
  return o;
}

TEST(GeneratedGuildsTest, BothSidesHoldGuildsThatExerciseTheMerge) {
  TempDir dir;
  const gen::GenOptions o = Options();
  gen::GeneratedPair pair = gen::GeneratePair(o, dir.path());
  const fs::path master = pair.master.paths.Guild, slave = pair.slave.paths.Guild;
  const Lines masterGuilds = GuildList(master), slaveGuilds = GuildList(slave);
  EXPECT_EQ(static_cast<int32_t>(masterGuilds.size()), o.guilds);
  EXPECT_EQ(static_cast<int32_t>(slaveGuilds.size()), o.guilds);
  EXPECT_EQ(pair.master.stats.guilds, o.guilds);
  EXPECT_GT(LinesOf(slave / "GuildList.txt").size(), slaveGuilds.size()) << "a repeated line and a blank one";

  std::set<std::string> masterKeys;
  for (const std::string& g : masterGuilds) masterKeys.insert(GuildNameKey(g));
  int exact = 0, caseOnly = 0;
  for (const std::string& g : slaveGuilds) {
    if (!masterKeys.count(GuildNameKey(g))) continue;
    if (std::find(masterGuilds.begin(), masterGuilds.end(), g) != masterGuilds.end()) ++exact;
    else ++caseOnly;
  }
  EXPECT_GT(exact, 0);
  EXPECT_GT(caseOnly, 0);
  EXPECT_EQ(Utf8ToGbk(masterGuilds[0]).size(), 30u) << "a name a new name must cut";

  // Mostly real characters of the side; a few gone ones.
  for (auto [folder, server] : {std::pair{master, &pair.master}, std::pair{slave, &pair.slave}}) {
    const std::set<std::string> chars = LiveIndexKeys(server->paths.Hum, IndexRecords::CharactersAndHeroes);
    int real = 0, gone = 0;
    for (const std::string& g : GuildList(folder)) {
      for (const std::string& n : NamedCharacters(folder, g)) (chars.count(MemberNameKey(n)) ? real : gone)++;
    }
    EXPECT_GT(real, 3 * gone);
    EXPECT_GT(gone, 0);
  }

  // The same options give the same folders.
  TempDir again;
  gen::GeneratedPair pair2 = gen::GeneratePair(o, again.path());
  for (const std::string& g : slaveGuilds) {
    for (const char* ext : {".ini", ".txt"}) {
      std::string a, b;
      ReadFileBytes(slave / "Guilds" / (g + ext), a);
      ReadFileBytes(fs::path(pair2.slave.paths.Guild) / "Guilds" / (g + ext), b);
      EXPECT_EQ(a, b) << g << ext;
    }
  }
}

TEST(GeneratedGuildsTest, WithoutGuildsTheFolderIsEmpty) {
  TempDir dir;
  gen::GenOptions o = Options();
  o.guilds = 0;
  gen::GeneratedServer s = gen::GenerateServer(o, dir.path());
  EXPECT_TRUE(fs::is_directory(s.paths.Guild));
  EXPECT_TRUE(fs::is_empty(s.paths.Guild));
}

// The merged guild folder of a generated pair: every character a guild names
// is in the new Hum.DB, no two guilds share a name key, every guild of both
// sides is there once, and each slave guild whose name the master has got a
// new one of at most 30 bytes.
TEST(GeneratedGuildsTest, MergedGuildFolderIsConsistent) {
  for (bool clean : {false, true}) {
    SCOPED_TRACE(clean ? "with clean-up" : "without clean-up");
    testing::GeneratedPairRun run(Options(), clean);
    const gen::GeneratedPair& pair = run.pair;
    RunContext& ctx = run.ctx;
    run.MergeAccountsAndCharacters();
    MergeGuilds(ctx);

    const fs::path out = pair.save / "GuildBase";
    const Lines masterGuilds = GuildList(pair.master.paths.Guild), slaveGuilds = GuildList(pair.slave.paths.Guild);
    const Lines lines = LinesOf(out / "GuildList.txt");
    EXPECT_EQ(lines.size(), masterGuilds.size() + slaveGuilds.size());
    std::set<std::string> keys;
    for (const std::string& g : lines) EXPECT_TRUE(keys.insert(GuildNameKey(g)).second) << g;

    std::set<std::string> masterKeys;
    for (const std::string& g : masterGuilds) masterKeys.insert(GuildNameKey(g));
    size_t collisions = 0;
    for (const std::string& g : slaveGuilds) collisions += masterKeys.count(GuildNameKey(g));
    ASSERT_EQ(ctx.GuildRenameLines->size(), collisions);
    EXPECT_GT(collisions, 0u);
    for (const std::string& r : *ctx.GuildRenameLines) {
      const std::string newName = r.substr(r.find(" => ") + 4);
      EXPECT_LE(Utf8ToGbk(newName).size(), 30u) << r;
      EXPECT_TRUE(fs::is_regular_file(out / "Guilds" / PathFromText(newName + ".txt"))) << r;
    }

    const std::set<std::string> chars = LiveIndexKeys(pair.save / "Hum.DB", IndexRecords::CharactersAndHeroes);
    size_t named = 0;
    for (const std::string& g : lines) {
      for (const std::string& n : NamedCharacters(out, g)) {
        ++named;
        EXPECT_TRUE(chars.count(MemberNameKey(n))) << g << ": " << n;
      }
    }
    EXPECT_GT(named, 10u);
  }
}

}  // namespace
}  // namespace razere
