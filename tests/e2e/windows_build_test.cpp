// The Windows build merges like the Linux build: one generated pair, merged
// by this build's razere-cli and by razere-cli.exe under Wine, with Replace
// and Backup on, gives the same save folder and the same master byte for
// byte, apart from the times each run writes.
//
// Runs when RAZERE_WINDOWS_BIN names the folder of razere-cli.exe and
// RAZERE_WINE the Wine loader (scripts/build-windows sets both, and the Wine
// prefix); skipped otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/xo_custom_database.h"
#include "fixtures/cli_runner.h"
#include "fixtures/files.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"
#include "stages/guild_store.h"
#include "support/ansi.h"
#include "support/iniprofile.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::FileTree;
using testing::ScratchDir;

// Z:\ is the host's root in every Wine prefix.
std::string WindowsPath(const fs::path& p) {
  std::string out = "Z:";
  for (char c : p.string()) out += c == '/' ? '\\' : c;
  return out;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

// The generated pair's Config.ini (every path of both sides) moved to root,
// on Windows in Windows form, with Replace and Backup on.
void WriteConfig(const gen::GeneratedPair& pair, const fs::path& root, bool windows) {
  std::string text = GbkToUtf8(testing::Slurp(pair.config));
  if (windows) {
    text = ReplaceAll(text, pair.dir.string(), WindowsPath(root));
    for (char& c : text) c = c == '/' ? '\\' : c;
  } else {
    text = ReplaceAll(text, pair.dir.string(), root.string());
  }
  text = ReplaceAll(ReplaceAll(text, "Replace=0", "Replace=1"), "Backup=0", "Backup=1");
  testing::WriteBytes(root / "Config.ini", Utf8ToGbk(text));
}

void Zero(std::string& bytes, size_t at, size_t len) {
  if (bytes.size() >= at + len) bytes.replace(at, len, len, '\0');
}

// The times a run writes: the record files' header dates; the mail store's
// header time and each mail's add and read times; in a guild's text file the
// war time left of each enemy ("+name milliseconds"), which counts down
// while the run works. The merge history's lines are compared field by
// field below.
void MaskTimes(std::map<std::string, std::string>& files) {
  for (auto& [name, bytes] : files) {
    const std::string file = fs::path(name).filename().string();
    if (file == "ID.DB" || file == "Hum.DB" || file == "Qel.DB" || file == "HeroQel.DB") {
      Zero(bytes, db_header::kDate1, 8);
      Zero(bytes, db_header::kDate2, 8);
    } else if (file == "Email.db" && bytes.size() >= static_cast<size_t>(xodb::kHeaderSize)) {
      Zero(bytes, xodb::kUpdateTimeOffset, 8);
      int32_t dataSize = 0;
      std::memcpy(&dataSize, bytes.data() + xodb::kDataSizeOffset, 4);  // little-endian, as the host
      const size_t slot = static_cast<size_t>(xodb::kRecordHeaderSize) + static_cast<size_t>(std::max(dataSize, 0));
      for (size_t at = xodb::kHeaderSize; at + slot <= bytes.size(); at += slot) {
        Zero(bytes, at + xodb::kAddTimeOffset, 8);
        Zero(bytes, at + xodb::kReadTimeOffset, 8);
      }
    } else if (name.find("Guilds/") != std::string::npos && name.size() > 4 &&
               name.compare(name.size() - 4, 4, ".txt") == 0) {
      std::string masked;
      for (size_t at = 0; at < bytes.size();) {
        size_t end = bytes.find('\n', at);
        end = end == std::string::npos ? bytes.size() : end + 1;
        std::string line = bytes.substr(at, end - at);
        const size_t body = line.find_last_not_of("\r\n") + 1;
        const size_t space = line.rfind(' ', body);
        if (!line.empty() && line[0] == '+' && space != std::string::npos && space + 1 < body &&
            line.find_first_not_of("0123456789", space + 1) == body) {
          line.replace(space + 1, body - space - 1, "#");
        }
        masked += line;
        at = end;
      }
      bytes = masked;
    }
  }
}

// A history line without its date, with the slave's paths as the other
// run's: "<date>\t<slave root>\t<four fingerprints>\t<four paths>".
std::vector<std::string> HistoryFields(const std::string& line, const std::string& from, const std::string& to) {
  std::vector<std::string> fields;
  for (size_t at = 0;;) {
    const size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  if (!fields.empty()) fields.erase(fields.begin());
  for (std::string& f : fields) {
    if (f.rfind(from, 0) == 0) {
      f = to + f.substr(from.size());
      for (char& c : f) c = c == '\\' ? '/' : c;
    }
  }
  return fields;
}

TEST(WindowsBuild, MergesTheSamePairToTheSameBytesAsTheLinuxBuild) {
  const char* bin = std::getenv("RAZERE_WINDOWS_BIN");
  const char* wine = std::getenv("RAZERE_WINE");
  if (bin == nullptr || wine == nullptr || *bin == '\0' || *wine == '\0') {
    GTEST_SKIP() << "RAZERE_WINDOWS_BIN and RAZERE_WINE name no Windows build";
  }
  ScratchDir scratch;
  gen::GenOptions o = testing::StagePairOptions();
  o.guilds = 6;
  o.shops = 8;
  o.shopItems = 30;
  o.mails = 30;
  const gen::GeneratedPair pair = gen::GeneratePair(o, scratch.path() / "pair");

  // Each run on its own copy; the Windows one below a folder with a Chinese
  // name, which must survive the arguments, Config.ini (GBK) and every path
  // the program makes from them.
  const fs::path linuxRoot = scratch.path() / "linux";
  const fs::path windowsRoot = scratch.path() / "合区 windows";
  for (const fs::path& root : {linuxRoot, windowsRoot}) {
    fs::create_directories(root / "save");
    fs::copy(pair.dir / "master", root / "master", fs::copy_options::recursive);
    fs::copy(pair.dir / "slave", root / "slave", fs::copy_options::recursive);
  }

  WriteConfig(pair, linuxRoot, false);
  const testing::CliResult onLinux = testing::RunCli({"merge", "--config", (linuxRoot / "Config.ini").string(), "--quiet"});
  ASSERT_EQ(onLinux.exitCode, 0) << onLinux.err;

  WriteConfig(pair, windowsRoot, true);
  ASSERT_NE(testing::Slurp(windowsRoot / "Config.ini").find("Replace=1"), std::string::npos);
  const fs::path out = scratch.path() / "wine.out";
  const fs::path err = scratch.path() / "wine.err";
  const std::string command = testing::ShellQuote(wine) + " " + testing::ShellQuote(std::string(bin) + "/razere-cli.exe") +
                              " merge --config " + testing::ShellQuote(WindowsPath(windowsRoot / "Config.ini")) +
                              " --quiet >" + testing::ShellQuote(out.string()) + " 2>" +
                              testing::ShellQuote(err.string()) + " </dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "razere-cli.exe: " << testing::Slurp(out) << testing::Slurp(err);

  for (const char* folder : {"save", "master"}) {
    std::map<std::string, std::string> linuxFiles = FileTree(linuxRoot / folder, true);
    std::map<std::string, std::string> windowsFiles = FileTree(windowsRoot / folder, true);
    ASSERT_GT(linuxFiles.size(), 10u) << folder;
    for (auto* files : {&linuxFiles, &windowsFiles}) {
      MaskTimes(*files);
      // Compared line by line below; in the master, its backup is the
      // generated history, the same on both sides.
      files->erase("合区历史.txt");
      files->erase("LoginSrv/IDDB/合区历史.txt");
    }
    std::vector<std::string> onlyOne, differ;
    for (const auto& [name, bytes] : linuxFiles) {
      const auto it = windowsFiles.find(name);
      if (it == windowsFiles.end()) onlyOne.push_back("Linux only: " + name);
      else if (it->second != bytes) differ.push_back(name);
    }
    for (const auto& [name, bytes] : windowsFiles) {
      if (!linuxFiles.count(name)) onlyOne.push_back("Windows only: " + name);
    }
    EXPECT_TRUE(onlyOne.empty()) << folder << ": " << ::testing::PrintToString(onlyOne);
    EXPECT_TRUE(differ.empty()) << folder << ": " << ::testing::PrintToString(differ);
  }

  // The merge history: the same fingerprints and the same slave, named by
  // each run in its own platform's form.
  const std::vector<std::string> linuxHistory = testing::GbkLines(linuxRoot / "save" / "合区历史.txt");
  const std::vector<std::string> windowsHistory = testing::GbkLines(windowsRoot / "save" / "合区历史.txt");
  ASSERT_EQ(linuxHistory.size(), windowsHistory.size());
  ASSERT_FALSE(linuxHistory.empty());
  for (size_t i = 0; i < linuxHistory.size(); ++i) {
    if (linuxHistory[i].empty() && windowsHistory[i].empty()) continue;
    EXPECT_EQ(HistoryFields(windowsHistory[i], WindowsPath(windowsRoot), linuxRoot.string()),
              HistoryFields(linuxHistory[i], "", ""));
  }

  // No guild lost under Windows' file names: the pair holds guilds whose
  // names differ only in the case of a letter beyond ASCII (across the sides,
  // and repeated in one side's list), and every guild of both sides is in
  // the merged list, each with settings of its own.
  auto guildNames = [](const fs::path& folder) {
    std::vector<std::string> names;
    std::set<std::string> keys;
    for (std::string line : testing::GbkLines(folder / "GuildList.txt")) {
      line.erase(0, line.find_first_not_of(" \t"));
      line.erase(line.find_last_not_of(" \t") + 1);
      if (!line.empty() && keys.insert(GuildNameKey(line)).second) names.push_back(line);
    }
    return names;
  };
  const std::vector<std::string> masterGuilds = guildNames(pair.dir / "master" / "Qel200" / "GuildBase");
  const std::vector<std::string> slaveGuilds = guildNames(pair.dir / "slave" / "Qel200" / "GuildBase");
  int foldedOnly = 0;
  for (const std::string& s : slaveGuilds) {
    for (const std::string& m : masterGuilds) {
      foldedOnly += GuildNameKey(s) == GuildNameKey(m) && NameKey(Utf8ToGbk(s)) != NameKey(Utf8ToGbk(m));
    }
  }
  EXPECT_GE(foldedOnly, 1) << "the generated pair holds no guilds that differ only beyond ASCII";
  const fs::path merged = windowsRoot / "save" / "GuildBase";
  const std::vector<std::string> guilds = testing::GbkLines(merged / "GuildList.txt");
  EXPECT_EQ(guilds.size(), masterGuilds.size() + slaveGuilds.size());
  size_t settingsFiles = 0;
  for (const auto& e : fs::directory_iterator(merged / "Guilds")) settingsFiles += e.path().extension() == ".ini";
  EXPECT_EQ(settingsFiles, guilds.size());
  for (const std::string& g : guilds) {
    EXPECT_EQ(IniReadString(merged / "Guilds" / (g + ".ini"), "Guild", "GuildName", ""), g);
  }
}

}  // namespace
}  // namespace razere
