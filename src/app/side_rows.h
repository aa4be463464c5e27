// The file rows of one side of an installation, described once: the window's
// edits and pickers, Config.ini's keys, the path derivation from the root,
// the run's input checks and the replacement plan are all built from
// kSideRows. Rows are in the window's order (top to bottom), which is also
// the order of Config.ini's keys and of the input checks; a consumer that
// needs another order (the replacement) names its rows itself.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

#include "merge/run_context.h"

namespace razere {

// The texts of one side's edits.
struct SideEdits {
  std::string QelServer;
  std::string ID, Hum, Qel, HeroQel, UserShop, UserShopItem, Guild, Setup, Email;
};

// What the button of a row's edit opens.
enum class PickerKind {
  None,         // no control: the path is rebuilt from the root at every run
  RootFolder,   // the server root; choosing one derives the side's paths
  GuildFolder,  // starts at the side's stored guild folder, stores the choice
  File,         // the shared open-file dialog with the row's filter
};

// What the run requires of a row's path before it starts.
enum class InputCheck {
  None,       // missing files contribute nothing (their stages deal with it)
  FileExists, // "没有发现主库: <name> ！！！"
  NotEmpty,   // "请设置主库: <name> ！！！" (the folder itself is not tested)
};

struct SideRow {
  std::string ServerPaths::*path;  // the run's field
  std::string SideEdits::*edit;    // the window's text; null when the row has no control
  const char* control;             // edit name after "EditMaster" / "EditSlave"
  const char* label;               // caption left of the edit
  int top;                         // the edit's top in its group, pixels
  const char* settingsKey;         // key in the side's Config.ini section; null: not stored
  std::string_view layout;         // below the root, backslashes; a folder ends with one; "" for the root
  PickerKind picker;
  const char* filter;              // File picker: "display (pattern)"
  InputCheck check;
  const char* checkName;           // what the check's message names

  constexpr bool IsRoot() const { return picker == PickerKind::RootFolder; }
  constexpr bool IsFolder() const { return !layout.empty() && layout.back() == '\\'; }
  // A path shown in an edit and derived from the root when the root changes.
  constexpr bool IsDerivedEdit() const { return edit != nullptr && !IsRoot(); }
  // The name the stages give the new file (or folder) in the save folder:
  // the layout's last part.
  constexpr std::string_view OutputName() const {
    std::string_view name = layout;
    if (IsFolder()) name.remove_suffix(1);
    const size_t at = name.rfind('\\');
    return at == std::string_view::npos ? name : name.substr(at + 1);
  }
};

// clang-format off
inline constexpr std::array<SideRow, 14> kSideRows{{
    {&ServerPaths::QelServer, &SideEdits::QelServer, "QelServer", "QelServer:", 20, "QelServer", "",
     PickerKind::RootFolder, "", InputCheck::None, ""},
    {&ServerPaths::ID, &SideEdits::ID, "ID", "ID.DB:", 44, "ID", "LoginSrv\\IDDB\\ID.DB",
     PickerKind::File, "ID (*.DB)", InputCheck::FileExists, "ID.DB"},
    {&ServerPaths::Hum, &SideEdits::Hum, "Hum", "Hum.DB:", 68, "Hum", "DBServer\\FDB\\Hum.DB",
     PickerKind::File, "Hum (*.DB)", InputCheck::FileExists, "Hum.DB"},
    {&ServerPaths::Qel, &SideEdits::Qel, "Qel", "Qel.DB:", 92, "Qel", "DBServer\\FDB\\Qel.DB",
     PickerKind::File, "Qel (*.DB)", InputCheck::FileExists, "Qel.DB"},
    {&ServerPaths::HeroQel, &SideEdits::HeroQel, "HeroQel", "HeroQel.DB:", 116, "HeroQel", "DBServer\\FDB\\HeroQel.DB",
     PickerKind::File, "HeroQel (*.DB)", InputCheck::FileExists, "HeroQel.DB"},
    {&ServerPaths::Guild, &SideEdits::Guild, "Guild", "GuildBase:", 140, "Guild", "Qel200\\GuildBase\\",
     PickerKind::GuildFolder, "", InputCheck::NotEmpty, "GuildBase目录"},
    {&ServerPaths::Shop, &SideEdits::UserShop, "UserShop", "UserShop:", 164, "Shop", "Qel200\\Envir\\UserData\\Shop.dat",
     PickerKind::File, "Shop (*.dat)", InputCheck::None, ""},
    {&ServerPaths::ShopItem, &SideEdits::UserShopItem, "UserShopItem", "UserShopItem:", 188, "ShopItem",
     "Qel200\\Envir\\UserData\\ShopItem.dat", PickerKind::File, "ShopItem (*.dat)", InputCheck::None, ""},
    {&ServerPaths::Setup, &SideEdits::Setup, "Setup", "!Setup.txt:", 212, "!Setup", "Qel200\\!Setup.txt",
     PickerKind::File, "!Setup (*.txt)", InputCheck::FileExists, "!Setup.txt"},
    {&ServerPaths::Email, &SideEdits::Email, "Email", "Email:", 237, "Email", "Qel200\\Envir\\UserData\\Email.db",
     PickerKind::File, "Email (*.db)", InputCheck::None, ""},
    // The text lists: no control and no setting; rebuilt from the root at every run.
    {&ServerPaths::RememberItemList, nullptr, "", "", 0, nullptr, "Qel200\\Envir\\RememberItemList.txt",
     PickerKind::None, "", InputCheck::None, ""},
    {&ServerPaths::ItemBindAccount, nullptr, "", "", 0, nullptr, "Qel200\\Envir\\ItemBindAccount.txt",
     PickerKind::None, "", InputCheck::None, ""},
    {&ServerPaths::ItemBindChrName, nullptr, "", "", 0, nullptr, "Qel200\\Envir\\ItemBindChrName.txt",
     PickerKind::None, "", InputCheck::None, ""},
    {&ServerPaths::ItemBindIPaddr, nullptr, "", "", 0, nullptr, "Qel200\\Envir\\ItemBindIPaddr.txt",
     PickerKind::None, "", InputCheck::None, ""},
}};
// clang-format on

// The row of a field; a field without a row is a programming error.
constexpr const SideRow& SideRowOf(std::string ServerPaths::*path) {
  for (const SideRow& row : kSideRows) {
    if (row.path == path) return row;
  }
  throw std::logic_error("a ServerPaths field without a side row");
}

}  // namespace razere
