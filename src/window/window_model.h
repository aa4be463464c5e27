// The window's state and rules without a toolkit: the main window, the pair
// dialog and the preview. Each front end (Qt on Linux, the Windows API on
// Windows) implements the small view interfaces below, forwards what the
// operator does to the model and draws what the model tells it; every
// decision of the windows lives here once, so its tests run on both builds.
//
// Texts are UTF-8. A view reports every change of an edit's text, the
// operator's and its own through SetEditText alike (EditChanged); check
// boxes and list selections only when the operator changes them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "app/run_report.h"
#include "app/settings.h"
#include "app/side_rows.h"
#include "merge/run_context.h"
#include "support/progress.h"

namespace razere::window {

enum class Side : uint8_t { Master, Slave };

// Every edit of the main window: the fixed ones, and per side one for each
// side row with a control (SideRow, an index into kSideRows).
struct EditId {
  enum Kind : uint8_t { SavePath, ClearMinDay, ClearMinLevel, FileNameMaster, FileNameSlave, SideRow };
  Kind kind = SavePath;
  Side side = Side::Master;  // SideRow only
  uint8_t row = 0;           // SideRow only

  static EditId Row(Side s, size_t r) { return EditId{SideRow, s, static_cast<uint8_t>(r)}; }
  static EditId Root(Side s);  // the side's QelServer edit
  bool operator==(const EditId& o) const {
    return kind == o.kind && (kind != SideRow || (side == o.side && row == o.row));
  }
  bool IsSpin() const { return kind == ClearMinDay || kind == ClearMinLevel; }
};

enum class CheckId : uint8_t { AutoSaveDBMasterServer, BackDB, SortItemMakeIndex, Gmm, Clear1 };
enum class ButtonId : uint8_t { OK, Preview, AddFilleName, DelFilleName, SaveFilleName };

// How a message reaches the operator.
enum class MessageKind : uint8_t {
  Question,  // a modal box, OK button and the question-mark icon
  Plain,     // a modal box without an icon (the program's own warnings)
  Notice,    // the same text in a box that does not block: during a run a
             // modal box would hold the run inside its own message loop
};

// What a pair or picker dialog needs of its front end.
class DialogView {
 public:
  virtual ~DialogView() = default;
  virtual void Message(MessageKind kind, const std::string& text, const std::string& caption) = 0;
  // The folder picker; nullopt when cancelled. start is "" or an existing folder.
  virtual std::optional<std::string> PickFolder(const std::string& title, const std::string& start) = 0;
};

// The main window's front end.
class MainView : public DialogView {
 public:
  virtual std::string EditText(EditId id) const = 0;
  virtual void SetEditText(EditId id, const std::string& text) = 0;
  // Locked: read-only, and its embedded button (picker, arrows) does nothing.
  virtual void SetEditLocked(EditId id, bool locked) = 0;
  virtual bool Checked(CheckId id) const = 0;
  virtual void SetChecked(CheckId id, bool on) = 0;
  virtual void SetCheckVisible(CheckId id, bool visible) = 0;
  virtual void SetCheckEnabled(CheckId id, bool enabled) = 0;
  virtual void SetButtonEnabled(ButtonId id, bool enabled) = 0;
  // The text page's pair list: its lines, and the rows the operator selected.
  virtual void SetPairLines(const std::vector<std::string>& lines) = 0;
  virtual std::vector<size_t> SelectedPairRows() const = 0;
  virtual void ShowPage(int page) = 0;  // 0 数据合并, 1 文本设置
  // The status label: the view cuts a text too wide for it and shows the
  // whole text as its tooltip.
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetProgress(int32_t position, int32_t minimum, int32_t maximum) = 0;
  // The open-file dialog with one filter "display (pattern)"; nullopt when cancelled.
  virtual std::optional<std::string> PickFile(const std::string& filter, const std::string& start) = 0;
  // Focus on the window itself (no edit holds it), or on the start button.
  virtual void FocusWindow() = 0;
  virtual void FocusStart() = 0;
  virtual void ProcessEvents() = 0;
  // A dry run's report in the preview dialog (not modal).
  virtual void ShowPreview(const RunReport& report) = 0;
};

// The pair dialog's front end.
class PairView : public DialogView {
 public:
  virtual std::string RootText(Side side) const = 0;
  virtual void SetRootText(Side side, const std::string& text) = 0;
  virtual void SetLines(const std::vector<std::string>& master, const std::vector<std::string>& slave) = 0;
  // Shows the dialog (near its owner when it was hidden) and raises it.
  virtual void ShowNearOwner() = 0;
  virtual void Hide() = 0;
  virtual void FocusRoot(Side side) = 0;
};

inline constexpr const char* kPairDialogCaption = "合并的文本文件";
inline constexpr const char* kPreviewCaption = "合区预览";
inline constexpr const char* kRootPickerTitle = "请选择你的服务端文件夹";
inline constexpr const char* kSavePickerTitle = "请选择保存文件夹";
inline constexpr const char* kGuildPickerTitle = "浏览文件夹";
inline constexpr const char* kTextFileFilter = "*.txt (*.txt)";

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// A spin edit's text after steps clicks of its arrows (or arrow keys): its
// value (SpinEditValue) plus steps, kept within the 32-bit range, in plain
// decimal digits without separators.
std::string SteppedSpinText(const std::string& text, int steps);

// The part of fileName below root, when it lies below it: the root compared
// in the platform's form (either separator on Windows and without regard to
// letter case there; "/" elsewhere, exactly).
std::optional<std::string> BelowRoot(const std::string& fileName, const std::string& root);

// The pair dialog: collects the files dropped onto either window, each as
// its path below the master root and below the slave root; 添加 moves the
// complete pairs into the pair list.
class PairDialogModel {
 public:
  PairDialogModel(RunContext& ctx, PairView& view);

  // After 添加 appended pairs (the main window refills its list).
  std::function<void()> OnPairsAdded;

  // The part of fileName that Add puts below each root: the path below the
  // master or slave root when it lies below one; on Windows otherwise
  // everything after its second separator (the whole path when it has
  // fewer), which names the same file below any root with a drive letter.
  static std::optional<std::string> RelativePart(const std::string& fileName, const std::string& masterRoot,
                                                 const std::string& slaveRoot);
  // Collects one file; false (nothing collected) when it has no relative part.
  bool Add(const std::string& fileName);
  // One dropped path: folders are ignored; unset roots and a file below
  // neither root are refused with a message (a notice during a run).
  void ShellDragDrop(const std::string& path);
  void ShellDrop(const std::vector<std::string>& paths);
  void ButtonAddFilleNameClick();
  void ButtonClearClick();
  void PickRoot(Side side);
  // While a run works the add button keeps its lines for later.
  void SetRunActive(bool active) { runActive_ = active; }

  const std::vector<std::string>& MasterLines() const { return master_; }
  const std::vector<std::string>& SlaveLines() const { return slave_; }

 private:
  void Refuse(Side focus, const std::string& text);

  RunContext& ctx_;
  PairView& view_;
  std::vector<std::string> master_, slave_;
  bool runActive_ = false;
};

// The preview dialog's rows: one table per page.
struct PreviewTable {
  std::string caption;                         // the page's tab
  std::vector<std::string> headers;
  std::vector<std::vector<std::string>> rows;  // cells, headers' order
};
std::vector<PreviewTable> PreviewTables(const RunReport& report);
// Writes the report; the error's text, "" when written.
std::string SavePreviewReport(const RunReport& report, const std::string& path);

// The main window (TFrmMain's rules). It is the run's host: the driver runs
// on the window's thread and paints through the view.
class MainWindowModel : public IHost {
 public:
  MainWindowModel(MainView& view, PairView& pairView, std::string programFolder, RunStages stages);

  // The caption of the main window (also of its plain warnings).
  static std::string Caption();

  // Start-up: settings, pair list, the controls' values. Call once, after
  // the view's controls exist.
  void FormCreate();

  // What the operator did.
  void EditChanged(EditId id, const std::string& text);
  void CheckClicked(CheckId id, bool on);
  void EditButtonClicked(EditId id);  // the picker of an edit
  // The arrows (or arrow keys) of a spin edit, steps > 0 upwards.
  void SpinStepped(EditId id, int steps);
  void PairSelectionChanged();
  void ButtonOKClick();
  void ButtonPreviewClick();
  void ButtonAddFilleNameClick();
  void ButtonDelFilleNameClick();
  void ButtonSaveFilleNameClick();
  // The close button: false while a run works (a notice says why).
  bool CloseRequested();
  void ShellDrop(const std::vector<std::string>& paths) { pairs_.ShellDrop(paths); }

  // The values of the controls that a run reads.
  WindowState ReadWindowState() const;
  void RefillFileNameList();

  // IHost.
  void PaintProgress(int32_t position, int32_t minimum, int32_t maximum) override;
  void PaintStatus(const std::string& text) override;
  void ProcessEvents() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool IsShuttingDown() const override { return shuttingDown_; }
  void SetStartEnabled(bool on) override;
  void SetShuttingDown() { shuttingDown_ = true; }

  RunContext& Context() { return ctx_; }
  PairDialogModel& Pairs() { return pairs_; }
  bool ShowOK() const { return boShowOK_; }
  bool RunActive() const { return runActive_; }

 private:
  void SetCheck(CheckId id, bool on);
  SideEdits ReadSide(Side side) const;
  void WriteSide(Side side, const SideEdits& edits);
  void FillSide(Side side, const SideEdits& edits);
  // What 开始合并 would refuse about the save folder edit and these pairs; "" when nothing.
  std::string PairListRefusalOf(std::vector<TTextFileName> pairs) const;
  void RunFailed(const char* what, const std::exception& e);
  ServerPaths& PathsOf(Side side) { return side == Side::Master ? ctx_.Master : ctx_.Slave; }

  MainView& view_;
  PairView& pairView_;
  RunContext ctx_;
  PairDialogModel pairs_;
  std::string programFolder_;
  RunStages stages_;
  bool boShowOK_ = false;
  bool shuttingDown_ = false;
  bool runActive_ = false;
};

// Every edit of the main window, in tab order: 基本设置, both sides, the text page.
std::vector<EditId> AllEdits();

}  // namespace razere::window
