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

// The Windows build's programs and Wine, from the environment; empty when
// they are not named (the tests skip then).
struct WindowsTools {
  std::string bin, wine;
  bool Named() const { return !bin.empty() && !wine.empty(); }
};

WindowsTools Tools() {
  const char* bin = std::getenv("RAZERE_WINDOWS_BIN");
  const char* wine = std::getenv("RAZERE_WINE");
  return {bin ? bin : "", wine ? wine : ""};
}

gen::GeneratedPair SmallPair(const fs::path& where) {
  gen::GenOptions o = testing::StagePairOptions();
  o.guilds = 6;
  o.shops = 8;
  o.shopItems = 30;
  o.mails = 30;
  return gen::GeneratePair(o, where);
}

// A copy of the pair below root, with its save folder, and its Config.ini.
void PrepareRoot(const gen::GeneratedPair& pair, const fs::path& root, bool windows) {
  fs::create_directories(root / "save");
  fs::copy(pair.dir / "master", root / "master", fs::copy_options::recursive);
  fs::copy(pair.dir / "slave", root / "slave", fs::copy_options::recursive);
  WriteConfig(pair, root, windows);
}

// Runs a shell command line; its output in the failure text.
::testing::AssertionResult Shell(const std::string& command, const fs::path& log) {
  const int status = std::system((command + " >" + testing::ShellQuote(log.string()) + " 2>&1 </dev/null").c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << command << "\n" << testing::Slurp(log);
}

// The save folder and the master of two runs: the same files, the same
// bytes apart from the times each run writes; the merge histories the same
// line for line, each run's own root mapped to one name.
void ExpectSameResult(const fs::path& a, const std::string& aRoot, const fs::path& b, const std::string& bRoot) {
  for (const char* folder : {"save", "master"}) {
    std::map<std::string, std::string> aFiles = FileTree(a / folder, true);
    std::map<std::string, std::string> bFiles = FileTree(b / folder, true);
    ASSERT_GT(aFiles.size(), 10u) << folder;
    for (auto* files : {&aFiles, &bFiles}) {
      MaskTimes(*files);
      // Compared line by line below; in the master, its backup is the
      // generated history, the same on both sides.
      files->erase("合区历史.txt");
      files->erase("LoginSrv/IDDB/合区历史.txt");
      // Each run's own paths and file times; its use is tested by a restore.
      files->erase("LoginSrv/IDDB/合区还原.json");
    }
    std::vector<std::string> onlyOne, differ;
    for (const auto& [name, bytes] : aFiles) {
      const auto it = bFiles.find(name);
      if (it == bFiles.end()) onlyOne.push_back("first only: " + name);
      else if (it->second != bytes) differ.push_back(name);
    }
    for (const auto& [name, bytes] : bFiles) {
      if (!aFiles.count(name)) onlyOne.push_back("second only: " + name);
    }
    EXPECT_TRUE(onlyOne.empty()) << folder << ": " << ::testing::PrintToString(onlyOne);
    EXPECT_TRUE(differ.empty()) << folder << ": " << ::testing::PrintToString(differ);
  }
  const std::vector<std::string> aHistory = testing::GbkLines(a / "save" / "合区历史.txt");
  const std::vector<std::string> bHistory = testing::GbkLines(b / "save" / "合区历史.txt");
  ASSERT_EQ(aHistory.size(), bHistory.size());
  ASSERT_FALSE(aHistory.empty());
  for (size_t i = 0; i < aHistory.size(); ++i) {
    if (aHistory[i].empty() && bHistory[i].empty()) continue;
    EXPECT_EQ(HistoryFields(aHistory[i], aRoot, "ROOT"), HistoryFields(bHistory[i], bRoot, "ROOT"));
  }
}

TEST(WindowsBuild, MergesTheSamePairToTheSameBytesAsTheLinuxBuild) {
  const WindowsTools tools = Tools();
  if (!tools.Named()) GTEST_SKIP() << "RAZERE_WINDOWS_BIN and RAZERE_WINE name no Windows build";
  ScratchDir scratch;
  const gen::GeneratedPair pair = SmallPair(scratch.path() / "pair");

  // Each run on its own copy; the Windows one below a folder with a Chinese
  // name, which must survive the arguments, Config.ini (GBK) and every path
  // the program makes from them.
  const fs::path linuxRoot = scratch.path() / "linux";
  const fs::path windowsRoot = scratch.path() / "合区 windows";
  PrepareRoot(pair, linuxRoot, false);
  PrepareRoot(pair, windowsRoot, true);

  const testing::CliResult onLinux = testing::RunCli({"merge", "--config", (linuxRoot / "Config.ini").string(), "--quiet"});
  ASSERT_EQ(onLinux.exitCode, 0) << onLinux.err;

  ASSERT_NE(testing::Slurp(windowsRoot / "Config.ini").find("Replace=1"), std::string::npos);
  ASSERT_TRUE(Shell(testing::ShellQuote(tools.wine) + " " + testing::ShellQuote(tools.bin + "/razere-cli.exe") +
                        " merge --config " + testing::ShellQuote(WindowsPath(windowsRoot / "Config.ini")) + " --quiet",
                    scratch.path() / "wine.log"));
  ExpectSameResult(windowsRoot, WindowsPath(windowsRoot), linuxRoot, linuxRoot.string());

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

  // razere-cli.exe restore puts the master back to the byte, empty folders
  // included: Windows' file times and renames tell the merged files apart.
  ASSERT_TRUE(Shell(testing::ShellQuote(tools.wine) + " " + testing::ShellQuote(tools.bin + "/razere-cli.exe") +
                        " restore --config " + testing::ShellQuote(WindowsPath(windowsRoot / "Config.ini")),
                    scratch.path() / "wine-restore.log"));
  const auto restored = FileTree(windowsRoot / "master", true);
  const auto original = FileTree(pair.dir / "master", true);
  std::vector<std::string> differ;
  for (const auto& [name, bytes] : original) {
    if (!restored.count(name) || restored.at(name) != bytes) differ.push_back(name);
  }
  for (const auto& [name, bytes] : restored) {
    if (!original.count(name)) differ.push_back("extra: " + name);
  }
  EXPECT_TRUE(differ.empty()) << ::testing::PrintToString(differ);
}


// A game server that still holds an input open for writing may change it
// while the run reads it: razere-cli.exe refuses to start (exit 1), names
// the file and changes nothing. The server is razere-window-driver holding
// the master's Hum.DB open for writing, shared with readers only.
TEST(WindowsBuild, AnInputHeldOpenForWritingByAnotherProgramIsRefusedAtTheStart) {
  const WindowsTools tools = Tools();
  if (!tools.Named()) GTEST_SKIP() << "RAZERE_WINDOWS_BIN and RAZERE_WINE name no Windows build";
  ScratchDir scratch;
  const gen::GeneratedPair pair = SmallPair(scratch.path() / "pair");
  const fs::path root = scratch.path() / "held";
  PrepareRoot(pair, root, true);
  const std::string held = WindowsPath(root / "master" / "DBServer" / "FDB" / "Hum.DB");
  const std::map<std::string, std::string> before = FileTree(root / "master", true);

  const std::string wine = testing::ShellQuote(tools.wine) + " ";
  const fs::path heldLog = scratch.path() / "holder.log";
  const fs::path cliLog = scratch.path() / "cli.log";
  // The merge starts only once the holder has the file; the holder is
  // ended as soon as the merge has.
  const std::string script =
      wine + testing::ShellQuote(tools.bin + "/razere-window-driver.exe") + " hold " + testing::ShellQuote(held) +
      " 300 >" + testing::ShellQuote(heldLog.string()) + " 2>&1 &\n"
      "holder=$!\n"
      "until grep -q held " + testing::ShellQuote(heldLog.string()) + "; do\n"
      "  kill -0 $holder 2>/dev/null || exit 9\n"
      "  sleep 0.2\n"
      "done\n" +
      wine + testing::ShellQuote(tools.bin + "/razere-cli.exe") + " merge --config " +
      testing::ShellQuote(WindowsPath(root / "Config.ini")) + " --quiet >" + testing::ShellQuote(cliLog.string()) +
      " 2>&1\n"
      "status=$?\n"
      "kill $holder\n"
      "wait $holder\n"
      "exit $status\n";
  const fs::path scriptFile = scratch.path() / "hold.sh";
  testing::WriteBytes(scriptFile, script);
  const int status = std::system(("timeout 600 sh " + testing::ShellQuote(scriptFile.string()) + " >/dev/null 2>&1").c_str());
  ASSERT_TRUE(WIFEXITED(status)) << status;
  const std::string out = testing::Slurp(cliLog);
  EXPECT_EQ(WEXITSTATUS(status), 1) << testing::Slurp(heldLog) << out;
  const std::string message = "数据文件正被其他程序使用：" + held + "，请先关闭游戏服务器！！！";
  EXPECT_TRUE(out.find(message) != std::string::npos || out.find(Utf8ToGbk(message)) != std::string::npos) << out;
  EXPECT_TRUE(FileTree(root / "master", true) == before) << "the master changed";
  EXPECT_FALSE(fs::exists(root / "save" / "ID.DB")) << "the run got as far as writing";
}

// razere.exe, the window for Windows, started beside its Config.ini and
// driven from another process through its controls (razere-window-driver),
// merges the pair as razere-cli.exe does: 开始合并 pressed by a message, and
// by a mouse click at its place on the screen. The driver checks that every
// edit is read-only and closing refused while the run works, and that keys
// typed afterwards reach no edit. Needs a display (DISPLAY: Xvfb) and
// xdotool for the click.
TEST(WindowsBuild, TheWindowMergesThePairAsRazereCliExeDoes) {
  const WindowsTools tools = Tools();
  if (!tools.Named()) GTEST_SKIP() << "RAZERE_WINDOWS_BIN and RAZERE_WINE name no Windows build";
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0' || !fs::exists(fs::path(tools.bin) / "razere.exe")) {
    GTEST_SKIP() << "no display for the window, or no razere.exe";
  }
  ScratchDir scratch;
  const gen::GeneratedPair pair = SmallPair(scratch.path() / "pair");
  const std::string wine = testing::ShellQuote(tools.wine) + " ";
  const std::string driver = wine + testing::ShellQuote(tools.bin + "/razere-window-driver.exe");

  const fs::path cliRoot = scratch.path() / "cli";
  PrepareRoot(pair, cliRoot, true);
  ASSERT_TRUE(Shell(wine + testing::ShellQuote(tools.bin + "/razere-cli.exe") + " merge --config " +
                        testing::ShellQuote(WindowsPath(cliRoot / "Config.ini")) + " --quiet",
                    scratch.path() / "cli.log"));

  for (const bool mouse : {false, true}) {
    SCOPED_TRACE(mouse ? "a mouse click" : "BM_CLICK");
    // The program's folder is the root: Config.ini lies beside razere.exe.
    const fs::path root = scratch.path() / (mouse ? "窗口 mouse" : "窗口 message");
    PrepareRoot(pair, root, true);
    // A day count of four digits: shown with a thousands separator, the spin
    // edit would read back as 0 and the run would store (and clean with) 0.
    std::string config = testing::Slurp(root / "Config.ini");
    ASSERT_NE(config.find("MinDay=90"), std::string::npos);
    config.replace(config.find("MinDay=90"), 9, "MinDay=1000");
    testing::WriteBytes(root / "Config.ini", config);
    fs::copy_file(fs::path(tools.bin) / "razere.exe", root / "razere.exe");
    const std::string start = wine + testing::ShellQuote((root / "razere.exe").string()) + " >" +
                              testing::ShellQuote((root.parent_path() / "window.log").string()) + " 2>&1 &";
    std::string script = start + "\n";
    if (mouse) {
      // The driver watches first; then 开始合并 is clicked at its client
      // position (344, 414; 75 x 25) in the window's X window, which under
      // Xvfb without a window manager is its client area.
      script += driver + " merge & driver=$!\n"
                "window=$(xdotool search --sync --onlyvisible --name 'razere \\(64' | head -1) || exit 1\n"
                "sleep 2\n"
                "xdotool mousemove --window \"$window\" 381 426 click 1\n"
                "wait $driver\n";
    } else {
      script += driver + " merge --click\n";
    }
    const fs::path scriptFile = scratch.path() / "drive.sh";
    testing::WriteBytes(scriptFile, script);
    EXPECT_TRUE(Shell("timeout 600 sh " + testing::ShellQuote(scriptFile.string()), scratch.path() / "drive.log"));
    Shell(driver + " close", scratch.path() / "close.log");  // whatever happened, no window stays
    ExpectSameResult(root, WindowsPath(root), cliRoot, WindowsPath(cliRoot));
    EXPECT_NE(testing::Slurp(root / "Config.ini").find("MinDay=1000\r\n"), std::string::npos)
        << testing::Slurp(root / "Config.ini");
  }
}

}  // namespace
}  // namespace razere
