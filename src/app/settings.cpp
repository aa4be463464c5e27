#include "app/settings.h"

#include "app/text_file_pairs.h"
#include "support/file_system.h"
#include "support/iniprofile.h"
#include "support/text_util.h"

namespace razere {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool ReadBool(const IniProfile& ini, const char* key, bool def) {
  return ini.ReadInt("Setup", key, def ? 1 : 0) != 0;
}

}  // namespace

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string JoinLayoutPath(std::string_view root, std::string_view relative) {
  std::string out(root);
  for (char c : relative) out += (c == '\\') ? kPathSep : c;
  return out;
}

std::string NormalizeRoot(std::string_view text) {
  std::string root = Trim(text);
  if (root.empty() || !IsPathSep(root.back())) root += kPathSep;
  return root;
}

std::string WithTrailingSeparator(std::string_view text) {
  std::string out(text);
  if (!out.empty() && !IsPathSep(out.back())) out += kPathSep;
  return out;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsPathSep(path.back())) path.pop_back();
  return path;
}

std::string FolderPart(const std::string& path) {
  size_t at = path.size();
  while (at > 0 && !IsPathSep(path[at - 1])) --at;
  if (at == 0) return std::string();
  return path.substr(0, at);
}

int32_t SpinEditValue(std::string_view text) {
  return ParseDecimal(Trim(text), DecimalSign::kPlusThenAny).value_or(0);
}

void DeriveServerPaths(ServerPaths& side, std::string_view root) {
  for (const SideRow& row : kSideRows) {
    if (row.IsDerivedEdit()) side.*row.path = JoinLayoutPath(root, row.layout);
  }
}

void FillEdits(SideEdits& edits, const ServerPaths& side) {
  for (const SideRow& row : kSideRows) {
    if (row.IsDerivedEdit()) edits.*row.edit = side.*row.path;
  }
}

void ReadPaths(ServerPaths& side, const SideEdits& edits) {
  for (const SideRow& row : kSideRows) {
    if (!row.IsDerivedEdit()) continue;
    // A folder typed without its separator gets one, as the save folder does.
    side.*row.path = row.IsFolder() ? WithTrailingSeparator(Trim(edits.*row.edit)) : Trim(edits.*row.edit);
  }
}

void BuildUneditedPaths(ServerPaths& side) {
  for (const SideRow& row : kSideRows) {
    if (row.edit == nullptr) side.*row.path = JoinLayoutPath(side.QelServer, row.layout);
  }
}

void RootEditChanged(ServerPaths& side, SideEdits& edits, std::string_view text) {
  edits.QelServer = std::string(text);
  side.QelServer = NormalizeRoot(text);
  ServerPaths derived;
  DeriveServerPaths(derived, side.QelServer);
  FillEdits(edits, derived);
}

void SetDefaultSettings(RunContext& ctx) {
  ctx.Master = ServerPaths{};
  ctx.Slave = ServerPaths{};
  ctx.Master.QelServer = JoinLayoutPath("", kDefaultMasterRoot);
  ctx.Slave.QelServer = JoinLayoutPath("", kDefaultSlaveRoot);
  DeriveServerPaths(ctx.Master, ctx.Master.QelServer);
  DeriveServerPaths(ctx.Slave, ctx.Slave.QelServer);
  ctx.SavePath.clear();
  ctx.SortItemMakeIndex = false;
  ctx.Replace = false;
  ctx.Backup = false;
  ctx.CleanData = false;
  ctx.Gmm = false;
  ctx.MinDay = 90;
  ctx.MinLevel = 10;
}

void LoadConfig(RunContext& ctx) {
  IniProfile ini(PathFromText(ctx.ConfigFile));
  ctx.SavePath = ini.ReadString("Setup", "SavePath", ctx.SavePath);
  ctx.SortItemMakeIndex = ReadBool(ini, "SortItemMakeIndex", ctx.SortItemMakeIndex);
  ctx.Replace = ReadBool(ini, "Replace", ctx.Replace);
  ctx.Backup = ReadBool(ini, "Backup", ctx.Backup);
  ctx.CleanData = ReadBool(ini, "CleanData", ctx.CleanData);
  ctx.MinDay = ini.ReadInt("Setup", "MinDay", ctx.MinDay);
  ctx.MinLevel = ini.ReadInt("Setup", "MinLevel", ctx.MinLevel);
  ctx.Gmm = ReadBool(ini, "Gmm", ctx.Gmm);
  for (auto [section, side] : {std::pair{"Master", &ctx.Master}, std::pair{"Slave", &ctx.Slave}}) {
    for (const SideRow& row : kSideRows) {
      if (row.settingsKey) side->*row.path = ini.ReadString(section, row.settingsKey, side->*row.path);
    }
  }
}

void SaveConfig(const RunContext& ctx) {
  IniProfile ini(PathFromText(ctx.ConfigFile));
  auto flag = [](bool b) { return b ? "1" : "0"; };
  ini.WriteString("Setup", "SavePath", ctx.SavePath);
  ini.WriteString("Setup", "SortItemMakeIndex", flag(ctx.SortItemMakeIndex));
  ini.WriteString("Setup", "Replace", flag(ctx.Replace));
  ini.WriteString("Setup", "Backup", flag(ctx.Backup));
  ini.WriteString("Setup", "CleanData", flag(ctx.CleanData));
  ini.WriteString("Setup", "MinDay", std::to_string(ctx.MinDay));
  ini.WriteString("Setup", "MinLevel", std::to_string(ctx.MinLevel));
  ini.WriteString("Setup", "Gmm", flag(ctx.Gmm));
  for (auto [section, side] : {std::pair{"Master", &ctx.Master}, std::pair{"Slave", &ctx.Slave}}) {
    for (const SideRow& row : kSideRows) {
      if (row.settingsKey) ini.WriteString(section, row.settingsKey, side->*row.path);
    }
  }
  ini.Save();
}

WindowState StartUp(RunContext& ctx, const std::string& programFolder, const std::string& configFile,
                    const std::string& pairListFile) {
  ctx.ProgramFolder = WithTrailingSeparator(programFolder);
  ctx.ConfigFile = configFile.empty() ? ctx.ProgramFolder + "Config.ini" : configFile;
  ctx.PairListFile = pairListFile.empty() ? ctx.ProgramFolder + "TextFileName.txt" : pairListFile;
  SetDefaultSettings(ctx);
  LoadConfig(ctx);
  LoadTextFilePairs(ctx);

  WindowState w;
  w.SavePath = ctx.SavePath;
  w.SortItemMakeIndex = true;
  w.AutoSaveDBMasterServer = ctx.Replace;
  w.BackDB = ctx.Backup;
  w.Clear1 = ctx.CleanData;
  w.ClearMinLevel = std::to_string(ctx.MinLevel);
  w.ClearMinDay = std::to_string(ctx.MinDay);
  w.Gmm = ctx.Gmm;
  // The root edit's change handler derives every path; the stored paths win.
  for (auto [side, edits] : {std::pair{&ctx.Master, &w.Master}, std::pair{&ctx.Slave, &w.Slave}}) {
    ServerPaths stored = *side;
    RootEditChanged(*side, *edits, stored.QelServer);
    FillEdits(*edits, stored);
  }
  return w;
}

}  // namespace razere
