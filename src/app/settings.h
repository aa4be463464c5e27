// Settings (Config.ini), the server folder layout and the start-up values of
// the main window's controls, without any widget.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/side_rows.h"
#include "merge/run_context.h"

namespace razere {

// Default roots of the two sides, as typed on the servers' machines.
inline constexpr std::string_view kDefaultMasterRoot = "D:\\QelServer(主库)\\";
inline constexpr std::string_view kDefaultSlaveRoot = "D:\\QelServer(从库)\\";

// Relative paths below a server root, with backslashes as the layout is
// written; JoinLayoutPath turns them into platform paths. Each is its side
// row's (app/side_rows.h).
namespace layout {
inline constexpr std::string_view ID = SideRowOf(&ServerPaths::ID).layout;
inline constexpr std::string_view Hum = SideRowOf(&ServerPaths::Hum).layout;
inline constexpr std::string_view Qel = SideRowOf(&ServerPaths::Qel).layout;
inline constexpr std::string_view HeroQel = SideRowOf(&ServerPaths::HeroQel).layout;
inline constexpr std::string_view Guild = SideRowOf(&ServerPaths::Guild).layout;
inline constexpr std::string_view Shop = SideRowOf(&ServerPaths::Shop).layout;
inline constexpr std::string_view ShopItem = SideRowOf(&ServerPaths::ShopItem).layout;
inline constexpr std::string_view Email = SideRowOf(&ServerPaths::Email).layout;
inline constexpr std::string_view Setup = SideRowOf(&ServerPaths::Setup).layout;
inline constexpr std::string_view RememberItemList = SideRowOf(&ServerPaths::RememberItemList).layout;
inline constexpr std::string_view ItemBindAccount = SideRowOf(&ServerPaths::ItemBindAccount).layout;
inline constexpr std::string_view ItemBindChrName = SideRowOf(&ServerPaths::ItemBindChrName).layout;
inline constexpr std::string_view ItemBindIPaddr = SideRowOf(&ServerPaths::ItemBindIPaddr).layout;
}  // namespace layout

#if defined(_WIN32)
inline constexpr char kPathSep = '\\';
// Windows takes "/" as a separator too.
inline constexpr bool IsPathSep(char c) { return c == '\\' || c == '/'; }
#else
inline constexpr char kPathSep = '/';
inline constexpr bool IsPathSep(char c) { return c == '/'; }
#endif

// root (ending with a separator) + relative layout path in platform form.
std::string JoinLayoutPath(std::string_view root, std::string_view relative);
// Trims blanks and appends a separator when missing; "" becomes "/".
std::string NormalizeRoot(std::string_view text);
// Appends a separator when text is not empty and does not end with one.
std::string WithTrailingSeparator(std::string_view text);
// Drops trailing separators (a lone "/" stays).
std::string WithoutTrailingSeparators(std::string path);
// The path up to and including its last separator; "" when it has none.
std::string FolderPart(const std::string& path);
std::string Trim(std::string_view text);
// Spin-edit text read as a decimal integer: Trim, then ParseDecimal
// (support/text_util.h) with DecimalSign::kPlusThenAny; 0 when it is not a
// number.
int32_t SpinEditValue(std::string_view text);

// Everything of the main window that a run reads: the front end fills it
// from its controls (the window) or from options (the command line).
struct WindowState {
  SideEdits Master, Slave;
  std::string SavePath;
  bool SortItemMakeIndex = true;  // disabled and always checked
  bool AutoSaveDBMasterServer = false;  // CheckBoxAutoSaveDBMasterServer
  bool BackDB = false;                  // CheckBoxBackDB
  bool Clear1 = false;                  // CheckBoxClear1
  bool Gmm = false;                     // CheckBoxGmm
  std::string ClearMinLevel = "10";     // EditClearMinLevel text
  std::string ClearMinDay = "90";       // EditClearMinDay text
  // The free-space check before the run writes. Not a setting of the window:
  // razere-cli turns it off for file systems whose free space says little
  // (compressed or thin-provisioned ones).
  bool CheckFreeSpace = true;
  // The whole run with nothing written or removed anywhere: every file
  // operation that would change something is dropped (the preview).
  bool DryRun = false;
};

// Built-in defaults of every setting.
void SetDefaultSettings(RunContext& ctx);

// Fills a side's paths shown in edits from its root (defaults and derivation).
void DeriveServerPaths(ServerPaths& side, std::string_view root);

// The change handler of a root edit: stores the normalised root in the side
// and overwrites the side's path edits with the derived paths.
void RootEditChanged(ServerPaths& side, SideEdits& edits, std::string_view text);

// Copies the side's paths shown in edits into the edits (not the root).
void FillEdits(SideEdits& edits, const ServerPaths& side);
// The run's copy of the edits: every path shown in an edit, trimmed; a
// folder gets its trailing separator. The root follows its edit's change
// handler, and the paths without an edit are rebuilt from the root.
void ReadPaths(ServerPaths& side, const SideEdits& edits);
void BuildUneditedPaths(ServerPaths& side);

void LoadConfig(RunContext& ctx);
void SaveConfig(const RunContext& ctx);

// Start-up (the window's creation steps 4 to 11): program folder, defaults,
// Config.ini, the pair list, and the control values that result. The
// settings and pair files default to the program folder's.
WindowState StartUp(RunContext& ctx, const std::string& programFolder, const std::string& configFile = {},
                    const std::string& pairListFile = {});

}  // namespace razere
