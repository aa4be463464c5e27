// Settings (Config.ini), the server folder layout and the start-up values of
// the main window's controls, without any widget.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "merge/run_context.h"

namespace razere {

// Default roots of the two sides, as typed on the servers' machines.
inline constexpr std::string_view kDefaultMasterRoot = "D:\\QelServer(主库)\\";
inline constexpr std::string_view kDefaultSlaveRoot = "D:\\QelServer(从库)\\";

// Relative paths below a server root, with backslashes as the layout is
// written; JoinLayoutPath turns them into platform paths.
namespace layout {
inline constexpr std::string_view ID = "LoginSrv\\IDDB\\ID.DB";
inline constexpr std::string_view Hum = "DBServer\\FDB\\Hum.DB";
inline constexpr std::string_view Qel = "DBServer\\FDB\\Qel.DB";
inline constexpr std::string_view HeroQel = "DBServer\\FDB\\HeroQel.DB";
inline constexpr std::string_view Guild = "Qel200\\GuildBase\\";
inline constexpr std::string_view Shop = "Qel200\\Envir\\UserData\\Shop.dat";
inline constexpr std::string_view ShopItem = "Qel200\\Envir\\UserData\\ShopItem.dat";
inline constexpr std::string_view Email = "Qel200\\Envir\\UserData\\Email.db";
inline constexpr std::string_view Setup = "Qel200\\!Setup.txt";
inline constexpr std::string_view RememberItemList = "Qel200\\Envir\\RememberItemList.txt";
inline constexpr std::string_view ItemBindAccount = "Qel200\\Envir\\ItemBindAccount.txt";
inline constexpr std::string_view ItemBindChrName = "Qel200\\Envir\\ItemBindChrName.txt";
inline constexpr std::string_view ItemBindIPaddr = "Qel200\\Envir\\ItemBindIPaddr.txt";
}  // namespace layout

inline constexpr char kPathSep = '/';

// root (ending with a separator) + relative layout path in platform form.
std::string JoinLayoutPath(std::string_view root, std::string_view relative);
// Trims blanks and appends a separator when missing; "" becomes "/".
std::string NormalizeRoot(std::string_view text);
// Appends a separator when text is not empty and does not end with one.
std::string WithTrailingSeparator(std::string_view text);
std::string Trim(std::string_view text);
// Spin-edit text read as a decimal integer: Trim, then ParseDecimal
// (support/text_util.h) with DecimalSign::kPlusThenAny; 0 when it is not a
// number.
int32_t SpinEditValue(std::string_view text);

// The texts of one side's edits.
struct SideEdits {
  std::string QelServer;
  std::string ID, Hum, Qel, HeroQel, UserShop, UserShopItem, Guild, Setup, Email;
};

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
};

// Built-in defaults of every setting.
void SetDefaultSettings(RunContext& ctx);

// Fills a side's nine paths from its root (defaults and derivation).
void DeriveServerPaths(ServerPaths& side, std::string_view root);

// The change handler of a root edit: stores the normalised root in the side
// and overwrites the side's nine path edits with the derived paths.
void RootEditChanged(ServerPaths& side, SideEdits& edits, std::string_view text);

void LoadConfig(RunContext& ctx);
void SaveConfig(const RunContext& ctx);

// Start-up (the window's creation steps 4 to 11): program folder, defaults,
// Config.ini, the pair list, and the control values that result. The
// settings and pair files default to the program folder's.
WindowState StartUp(RunContext& ctx, const std::string& programFolder, const std::string& configFile = {},
                    const std::string& pairListFile = {});

}  // namespace razere
