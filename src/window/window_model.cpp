#include "window/window_model.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/build_tag.h"
#include "app/text_file_pairs.h"
#include "support/file_system.h"
#include "support/text_util.h"

namespace razere::window {

namespace {

constexpr const char* kDateWarning = "要保证你电脑的日期正确，否则会导致计算的天数错误，误删人物数据！";
constexpr const char* kCloseRefused = "正在合区，请等待合区完成后再关闭！！！";
constexpr const char* kAddDuringRun = "正在合区，请等待合区完成后再添加！！！";

size_t RootRow() {
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    if (kSideRows[i].IsRoot()) return i;
  }
  return 0;
}

// The error's first line, for the status label.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

#if defined(_WIN32)
char FoldForPath(char c) { return c == '/' ? '\\' : AsciiLower(c); }
#else
char FoldForPath(char c) { return c; }
#endif

}  // namespace

EditId EditId::Root(Side s) { return Row(s, RootRow()); }

std::vector<EditId> AllEdits() {
  std::vector<EditId> edits = {EditId{EditId::SavePath}, EditId{EditId::ClearMinDay}, EditId{EditId::ClearMinLevel}};
  for (Side side : {Side::Master, Side::Slave}) {
    for (size_t i = 0; i < kSideRows.size(); ++i) {
      if (kSideRows[i].edit != nullptr) edits.push_back(EditId::Row(side, i));
    }
  }
  edits.push_back(EditId{EditId::FileNameMaster});
  edits.push_back(EditId{EditId::FileNameSlave});
  return edits;
}

bool FileExists(const std::string& path) {
  return !path.empty() && Fs().KindOf(PathFromText(path)) == FileKind::File;
}

bool FolderExists(const std::string& path) {
  return !path.empty() && Fs().KindOf(PathFromText(path)) == FileKind::Folder;
}

std::string SteppedSpinText(const std::string& text, int steps) {
  const int64_t next = int64_t{SpinEditValue(text)} + steps;
  return std::to_string(std::clamp<int64_t>(next, INT32_MIN, INT32_MAX));
}

// Byte-wise on the text: on Windows a separator is either "/" or "\", and
// ASCII letters compare without case, as the file systems there do (a
// letter beyond ASCII in a root typed in another case is not recognised,
// which only sends the drop to the fallback below).
std::optional<std::string> BelowRoot(const std::string& fileName, const std::string& root) {
  std::string r = Trim(root);
  if (r.empty()) return std::nullopt;
  if (!IsPathSep(r.back())) r += kPathSep;
  if (fileName.size() <= r.size()) return std::nullopt;
  for (size_t i = 0; i < r.size(); ++i) {
    if (FoldForPath(fileName[i]) != FoldForPath(r[i])) return std::nullopt;
  }
  return fileName.substr(r.size());
}

// ---------------------------------------------------------------------------
// The pair dialog
// ---------------------------------------------------------------------------

PairDialogModel::PairDialogModel(RunContext& ctx, PairView& view) : ctx_(ctx), view_(view) {}

std::optional<std::string> PairDialogModel::RelativePart(const std::string& fileName, const std::string& masterRoot,
                                                         const std::string& slaveRoot) {
  if (auto rest = BelowRoot(fileName, masterRoot)) return rest;
  if (auto rest = BelowRoot(fileName, slaveRoot)) return rest;
#if defined(_WIN32)
  // "D:\\other\\Qel200\\Envir\\x.txt" -> "Qel200\\Envir\\x.txt" below each root.
  int seen = 0;
  for (size_t i = 0; i < fileName.size(); ++i) {
    if (IsPathSep(fileName[i]) && ++seen == 2) return fileName.substr(i + 1);
  }
  return fileName;
#else
  // Paths here have no drive letter: the part after the second separator is
  // not the part below a root, and would name a wrong file under both.
  return std::nullopt;
#endif
}

bool PairDialogModel::Add(const std::string& fileName) {
  const std::string master = Trim(view_.RootText(Side::Master));
  const std::string slave = Trim(view_.RootText(Side::Slave));
  const std::optional<std::string> relative = RelativePart(fileName, master, slave);
  if (!relative) return false;
  master_.push_back(WithTrailingSeparator(master) + *relative);
  slave_.push_back(WithTrailingSeparator(slave) + *relative);
  view_.SetLines(master_, slave_);
  return true;
}

void PairDialogModel::Refuse(Side focus, const std::string& text) {
  view_.ShowNearOwner();
  view_.FocusRoot(focus);
  view_.Message(runActive_ ? MessageKind::Notice : MessageKind::Question, text, kCaption);
}

void PairDialogModel::ShellDragDrop(const std::string& path) {
  if (FolderExists(path)) return;
  if (!FolderExists(Trim(view_.RootText(Side::Master)))) {
    Refuse(Side::Master, "请设置正确的主库“QelServer”目录！！！");
    return;
  }
  if (!FolderExists(Trim(view_.RootText(Side::Slave)))) {
    Refuse(Side::Slave, "请设置正确的从库“QelServer”目录！！！");
    return;
  }
  if (!Add(path)) {
    Refuse(Side::Master, "拖入的文件不在主库或从库的“QelServer”目录下：" + path + " ！！！");
    return;
  }
  view_.ShowNearOwner();
}

void PairDialogModel::ShellDrop(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) ShellDragDrop(path);
}

void PairDialogModel::ButtonAddFilleNameClick() {
  // The run reads the pair list until its end (the replacement included):
  // the collected lines stay for a click after the run.
  if (runActive_) {
    view_.Message(MessageKind::Notice, kAddDuringRun, kCaption);
    return;
  }
  const size_t lines = std::min(master_.size(), slave_.size());
  for (size_t i = 0; i < lines; ++i) {
    if (!FileExists(master_[i]) || !FileExists(slave_[i])) continue;
    if (TextFilePairExists(ctx_, master_[i], slave_[i])) continue;
    ctx_.TextFilePairs.push_back(TTextFileName{master_[i], slave_[i]});
  }
  ButtonClearClick();
  if (OnPairsAdded) OnPairsAdded();
  view_.Hide();
}

void PairDialogModel::ButtonClearClick() {
  master_.clear();
  slave_.clear();
  view_.SetLines(master_, slave_);
}

void PairDialogModel::PickRoot(Side side) {
  std::string start = view_.RootText(side);
  if (!FolderExists(start)) start.clear();
  if (const auto chosen = view_.PickFolder(kRootPickerTitle, start)) {
    view_.SetRootText(side, WithTrailingSeparator(*chosen));
  }
}

// ---------------------------------------------------------------------------
// The preview
// ---------------------------------------------------------------------------

std::vector<PreviewTable> PreviewTables(const RunReport& report) {
  auto count = [](int64_t n) { return n < 0 ? std::string("-") : std::to_string(n); };
  std::vector<PreviewTable> tables(3);

  PreviewTable& counts = tables[0];
  counts.caption = "数量";
  counts.headers = {"数据", "主库", "从库", "新数据"};
  const std::pair<const char*, int64_t ReportCounts::*> kinds[] = {
      {"帐号", &ReportCounts::accounts}, {"人物", &ReportCounts::characters}, {"英雄", &ReportCounts::heroes},
      {"行会", &ReportCounts::guilds},   {"摊位", &ReportCounts::shops},      {"摊位物品", &ReportCounts::shopItems},
      {"邮件", &ReportCounts::mails}};
  for (const auto& [label, field] : kinds) {
    counts.rows.push_back({label, count(report.master.*field), count(report.slave.*field), count(report.result.*field)});
  }

  PreviewTable& removed = tables[1];
  removed.headers = {"类别", "原因", "名称"};
  for (const ReportRemoved& e : report.removed) removed.rows.push_back({e.kind, e.reason, ReportName(e.name)});
  removed.caption = "清理(" + std::to_string(removed.rows.size()) + ")";

  PreviewTable& renames = tables[2];
  renames.headers = {"类别", "原名", "新名"};
  const std::pair<const char*, const std::vector<ReportRename>*> lists[] = {
      {"帐号", &report.accountRenames}, {"人物", &report.characterRenames},
      {"行会", &report.guildRenames},   {"摊位", &report.shopRenames}};
  for (const auto& [label, list] : lists) {
    for (const ReportRename& r : *list) {
      renames.rows.push_back({r.hero ? "英雄" : label, ReportName(r.oldName), ReportName(r.newName)});
    }
  }
  renames.caption = "改名(" + std::to_string(renames.rows.size()) + ")";
  return tables;
}

std::string SavePreviewReport(const RunReport& report, const std::string& path) {
  try {
    WriteRunReport(path, report);
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

// ---------------------------------------------------------------------------
// The main window
// ---------------------------------------------------------------------------

MainWindowModel::MainWindowModel(MainView& view, PairView& pairView, std::string programFolder, RunStages stages)
    : view_(view), pairView_(pairView), pairs_(ctx_, pairView), programFolder_(std::move(programFolder)), stages_(std::move(stages)) {
  ctx_.Bar.SetHost(*this);
  pairs_.OnPairsAdded = [this] {
    RefillFileNameList();
    view_.ShowPage(1);
    view_.SetButtonEnabled(ButtonId::SaveFilleName, true);
  };
}

// The build in brackets, as --version names it.
std::string MainWindowModel::Caption() { return std::string("[") + BuildTag() + "]  razere (64位)"; }

SideEdits MainWindowModel::ReadSide(Side side) const {
  SideEdits e;
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    if (kSideRows[i].edit != nullptr) e.*kSideRows[i].edit = view_.EditText(EditId::Row(side, i));
  }
  return e;
}

// The path edits of a side (not the root).
void MainWindowModel::WriteSide(Side side, const SideEdits& edits) {
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    if (kSideRows[i].IsDerivedEdit()) view_.SetEditText(EditId::Row(side, i), edits.*kSideRows[i].edit);
  }
}

void MainWindowModel::FillSide(Side side, const SideEdits& edits) {
  view_.SetEditText(EditId::Root(side), edits.QelServer);  // derives the side's paths
  WriteSide(side, edits);                                   // the stored paths win
}

void MainWindowModel::SetCheck(CheckId id, bool on) {
  view_.SetChecked(id, on);
  if (id == CheckId::AutoSaveDBMasterServer) view_.SetCheckVisible(CheckId::BackDB, on);
}

void MainWindowModel::FormCreate() {
  boShowOK_ = false;
  view_.SetCheckVisible(CheckId::BackDB, false);
  view_.SetCheckEnabled(CheckId::SortItemMakeIndex, false);
  view_.SetButtonEnabled(ButtonId::SaveFilleName, false);
  view_.SetButtonEnabled(ButtonId::DelFilleName, false);
  const WindowState w = StartUp(ctx_, programFolder_);
  RefillFileNameList();
  view_.SetEditText(EditId{EditId::SavePath}, w.SavePath);
  SetCheck(CheckId::SortItemMakeIndex, true);
  SetCheck(CheckId::AutoSaveDBMasterServer, w.AutoSaveDBMasterServer);
  SetCheck(CheckId::BackDB, w.BackDB);
  SetCheck(CheckId::Clear1, w.Clear1);
  view_.SetEditText(EditId{EditId::ClearMinLevel}, w.ClearMinLevel);
  view_.SetEditText(EditId{EditId::ClearMinDay}, w.ClearMinDay);
  SetCheck(CheckId::Gmm, w.Gmm);
  FillSide(Side::Master, w.Master);
  FillSide(Side::Slave, w.Slave);
  pairView_.SetRootText(Side::Slave, ctx_.Slave.QelServer);
  pairView_.SetRootText(Side::Master, ctx_.Master.QelServer);
  view_.ShowPage(0);
  boShowOK_ = true;
}

WindowState MainWindowModel::ReadWindowState() const {
  WindowState w;
  w.Master = ReadSide(Side::Master);
  w.Slave = ReadSide(Side::Slave);
  w.SavePath = view_.EditText(EditId{EditId::SavePath});
  w.SortItemMakeIndex = view_.Checked(CheckId::SortItemMakeIndex);
  w.AutoSaveDBMasterServer = view_.Checked(CheckId::AutoSaveDBMasterServer);
  w.BackDB = view_.Checked(CheckId::BackDB);
  w.Clear1 = view_.Checked(CheckId::Clear1);
  w.Gmm = view_.Checked(CheckId::Gmm);
  w.ClearMinLevel = view_.EditText(EditId{EditId::ClearMinLevel});
  w.ClearMinDay = view_.EditText(EditId{EditId::ClearMinDay});
  return w;
}

void MainWindowModel::EditChanged(EditId id, const std::string& text) {
  if (id.kind != EditId::SideRow || !kSideRows[id.row].IsRoot()) return;
  // Typing a root derives the side's paths, and the pair dialog collects
  // below the same root.
  SideEdits edits = ReadSide(id.side);
  RootEditChanged(PathsOf(id.side), edits, text);
  WriteSide(id.side, edits);
  pairView_.SetRootText(id.side, text);
}

void MainWindowModel::CheckClicked(CheckId id, bool on) {
  if (id == CheckId::AutoSaveDBMasterServer) view_.SetCheckVisible(CheckId::BackDB, on);
  if (id == CheckId::Clear1 && on && boShowOK_) view_.Message(MessageKind::Plain, kDateWarning, Caption());
}

void MainWindowModel::EditButtonClicked(EditId id) {
  if (runActive_) return;  // a locked edit's button does nothing
  switch (id.kind) {
    case EditId::SavePath: {
      std::string start = view_.EditText(id);
      if (!FolderExists(start)) start.clear();
      if (const auto chosen = view_.PickFolder(kSavePickerTitle, start)) view_.SetEditText(id, *chosen);
      return;
    }
    case EditId::FileNameMaster:
    case EditId::FileNameSlave:
      if (const auto chosen = view_.PickFile(kTextFileFilter, view_.EditText(id))) view_.SetEditText(id, *chosen);
      return;
    case EditId::ClearMinDay:
    case EditId::ClearMinLevel:
      return;
    case EditId::SideRow:
      break;
  }
  const SideRow& row = kSideRows[id.row];
  switch (row.picker) {
    case PickerKind::None:
      return;
    case PickerKind::File:
      if (const auto chosen = view_.PickFile(row.filter, view_.EditText(id))) view_.SetEditText(id, *chosen);
      return;
    case PickerKind::RootFolder: {
      std::string start = view_.EditText(id);
      if (!FolderExists(start)) start.clear();
      const auto chosen = view_.PickFolder(kRootPickerTitle, start);
      if (!chosen) return;
      // Derives the side's paths and sets the pair dialog's root edit too.
      view_.SetEditText(id, WithTrailingSeparator(*chosen));
      return;
    }
    case PickerKind::GuildFolder: {
      // Starts at the folder as last loaded or used by a run.
      std::string& stored = PathsOf(id.side).*row.path;
      const std::string start = FolderExists(stored) ? stored : std::string();
      const auto chosen = view_.PickFolder(kGuildPickerTitle, start);
      if (!chosen) return;
      stored = WithTrailingSeparator(*chosen);
      view_.SetEditText(id, stored);
      return;
    }
  }
}

void MainWindowModel::RunFailed(const char* what, const std::exception& e) {
  // The window's general error handler: the run has cleaned up already.
  const std::string text = e.what();
  PaintStatus(std::string(what) + FirstLine(text));
  if (!shuttingDown_) view_.Message(MessageKind::Question, text, Caption());
}

void MainWindowModel::ButtonOKClick() {
  if (runActive_) return;
  // An older status would read as this run's, also beside a refusal's
  // message while it waits for its click; a refused run leaves none.
  PaintStatus("");
  try {
    if (razere::ButtonOKClick(ctx_, ReadWindowState(), stages_) == RunOutcome::Refused) PaintStatus("");
  } catch (const std::exception& e) {
    RunFailed("合区失败：", e);
  }
}

void MainWindowModel::ButtonPreviewClick() {
  if (runActive_) return;
  WindowState w = ReadWindowState();
  w.DryRun = true;
  RunReport report;
  PaintStatus("");
  try {
    if (razere::ButtonOKClick(ctx_, w, stages_, &report) == RunOutcome::Refused) {
      PaintStatus("");
      return;
    }
  } catch (const std::exception& e) {
    RunFailed("预览失败：", e);
    return;
  }
  PaintStatus("预览完成：没有写入任何文件");
  view_.ShowPreview(report);
}

void MainWindowModel::RefillFileNameList() {
  std::vector<std::string> lines;
  lines.reserve(ctx_.TextFilePairs.size());
  for (const TTextFileName& pair : ctx_.TextFilePairs) lines.push_back(TextFilePairDisplay(pair));
  view_.SetPairLines(lines);
  view_.SetButtonEnabled(ButtonId::DelFilleName, false);
}

void MainWindowModel::SpinStepped(EditId id, int steps) {
  if (runActive_ || !id.IsSpin()) return;  // a locked spin edit steps neither by arrows nor by keys
  view_.SetEditText(id, SteppedSpinText(view_.EditText(id), steps));
}

void MainWindowModel::PairSelectionChanged() {
  view_.SetButtonEnabled(ButtonId::DelFilleName, !runActive_ && !view_.SelectedPairRows().empty());
}

void MainWindowModel::ButtonAddFilleNameClick() {
  if (runActive_) return;
  const std::string master = Trim(view_.EditText(EditId{EditId::FileNameMaster}));
  const std::string slave = Trim(view_.EditText(EditId{EditId::FileNameSlave}));
  for (auto [file, side] : {std::pair{&master, "主库"}, std::pair{&slave, "从库"}}) {
    if (file->empty()) {
      view_.Message(MessageKind::Question, std::string("请设置") + side + "文件 ！！！", kCaption);
      return;
    }
    if (!FileExists(*file)) {
      view_.Message(MessageKind::Question, "没有发现文件：" + *file + " ！！！", kCaption);
      return;
    }
  }
  if (TextFilePairExists(ctx_, master, slave)) {
    view_.Message(MessageKind::Question, "该文件已经添加 ！！！", kCaption);
    return;
  }
  std::vector<TTextFileName> pairs = ctx_.TextFilePairs;
  pairs.push_back(TTextFileName{master, slave});
  if (const std::string refusal = PairListRefusalOf(std::move(pairs)); !refusal.empty()) {
    view_.Message(MessageKind::Question, refusal, kCaption);
    return;
  }
  ctx_.TextFilePairs.push_back(TTextFileName{master, slave});
  RefillFileNameList();
  view_.SetButtonEnabled(ButtonId::SaveFilleName, true);
}

void MainWindowModel::ButtonDelFilleNameClick() {
  if (runActive_) return;
  std::vector<size_t> rows = view_.SelectedPairRows();
  std::sort(rows.rbegin(), rows.rend());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (size_t row : rows) {
    if (row < ctx_.TextFilePairs.size()) DeleteTextFilePair(ctx_, row);
  }
  RefillFileNameList();
  view_.SetButtonEnabled(ButtonId::SaveFilleName, true);
  view_.SetButtonEnabled(ButtonId::DelFilleName, false);
}

std::string MainWindowModel::PairListRefusalOf(std::vector<TTextFileName> pairs) const {
  RunContext probe;
  static_cast<RunSettings&>(probe) = static_cast<const RunSettings&>(ctx_);
  probe.TextFilePairs = std::move(pairs);
  for (auto [paths, side] : {std::pair{&probe.Master, Side::Master}, std::pair{&probe.Slave, Side::Slave}}) {
    ReadPaths(*paths, ReadSide(side));
    BuildUneditedPaths(*paths);
  }
  probe.SavePath = ResolveSaveFolder(view_.EditText(EditId{EditId::SavePath}), ctx_.ProgramFolder);
  return PairListRefusal(probe);
}

void MainWindowModel::ButtonSaveFilleNameClick() {
  // The list as it is saved must be one that 开始合并 takes.
  if (const std::string refusal = PairListRefusalOf(ctx_.TextFilePairs); !refusal.empty()) {
    view_.Message(MessageKind::Question, refusal, kCaption);
    return;
  }
  view_.SetButtonEnabled(ButtonId::SaveFilleName, false);
  SaveTextFilePairs(ctx_);  // a failed save is ignored
}

bool MainWindowModel::CloseRequested() {
  bool CanClose = true;
  FormCloseQuery(!runActive_, CanClose);
  if (!CanClose) {
    // A box waiting for its click would hold the run still.
    view_.Message(MessageKind::Notice, kCloseRefused, kCaption);
    return false;
  }
  shuttingDown_ = true;
  pairView_.Hide();
  return true;
}

void MainWindowModel::PaintProgress(int32_t position, int32_t minimum, int32_t maximum) {
  view_.SetProgress(position, minimum, maximum);
}

void MainWindowModel::PaintStatus(const std::string& text) { view_.SetStatus(text); }

void MainWindowModel::ProcessEvents() { view_.ProcessEvents(); }

void MainWindowModel::ShowMessage(const std::string& text, const std::string& caption) {
  view_.Message(MessageKind::Question, text, caption);
}

void MainWindowModel::SetStartEnabled(bool on) {
  runActive_ = !on;
  // The start button has the focus when it is clicked; disabled, it would
  // hand it to the next edit, all of its text selected.
  if (!on) view_.FocusWindow();
  // While the start button is off every edit is locked: they lock before it
  // goes off and unlock after it is on again.
  if (!on) {
    for (const EditId& e : AllEdits()) view_.SetEditLocked(e, true);
  }
  view_.SetButtonEnabled(ButtonId::OK, on);
  view_.SetButtonEnabled(ButtonId::Preview, on);
  if (on) {
    for (const EditId& e : AllEdits()) view_.SetEditLocked(e, false);
  }
  view_.SetButtonEnabled(ButtonId::AddFilleName, on);
  view_.SetButtonEnabled(ButtonId::DelFilleName, on && !view_.SelectedPairRows().empty());
  pairs_.SetRunActive(!on);
  if (on) view_.FocusStart();
}

}  // namespace razere::window
