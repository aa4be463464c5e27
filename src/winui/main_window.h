// The Windows window: the main window and the pair dialog in plain Win32
// controls, views of the window model (window/window_model.h), which decides
// everything; these classes draw and forward what the operator does.
//
// Control ids are stable: a test drives the window through them from
// another process (FindWindowW by class, GetDlgItem, WM_SETTEXT, BM_CLICK).
#pragma once

#include "winui/win_util.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace razere::winui {

inline constexpr wchar_t kMainClass[] = L"TFrmMain";
inline constexpr wchar_t kPairClass[] = L"TFrmFileName";
inline constexpr wchar_t kPreviewClass[] = L"TFrmPreview";

// Control ids of the main window.
namespace id {
inline constexpr int ButtonOK = 1001;
inline constexpr int ButtonPreview = 1002;
inline constexpr int LabelMsg = 1003;
inline constexpr int ProgressBar = 1004;
inline constexpr int PageControl = 1005;
inline constexpr int EditSavePath = 1010;
inline constexpr int EditClearMinDay = 1011;
inline constexpr int EditClearMinLevel = 1012;
inline constexpr int EditFileNameMaster = 1013;
inline constexpr int EditFileNameSlave = 1014;
inline constexpr int CheckBoxAutoSaveDBMasterServer = 1020;
inline constexpr int CheckBoxBackDB = 1021;
inline constexpr int CheckBoxSortItemMakeIndex = 1022;
inline constexpr int CheckBoxGmm = 1023;
inline constexpr int CheckBoxClear1 = 1024;
inline constexpr int ListBoxFileName = 1030;
inline constexpr int ButtonSaveFilleName = 1031;
inline constexpr int ButtonAddFilleName = 1032;
inline constexpr int ButtonDelFilleName = 1033;
inline constexpr int SideMaster = 1100;  // + the side row's index
inline constexpr int SideSlave = 1200;   // + the side row's index
inline constexpr int EditButton = kEditButtonOffset;  // an edit's embedded button: the edit's id + this
inline constexpr int SpinArrows = 600;   // a spin edit's arrows: the edit's id + this
// The pair dialog.
inline constexpr int EditMasterQelServer = 2001;
inline constexpr int EditSlaveQelServer = 2002;
inline constexpr int ListBoxMaster = 2003;
inline constexpr int ListBoxSlave = 2004;
inline constexpr int PairAdd = 2005;
inline constexpr int PairClear = 2006;
// The preview.
inline constexpr int PreviewPages = 3001;
inline constexpr int PreviewTable = 3010;  // + the page
inline constexpr int PreviewSave = 3002;
inline constexpr int PreviewClose = 3003;
}  // namespace id

class PairDialog : public window::PairView {
 public:
  explicit PairDialog(HWND owner);
  ~PairDialog() override;
  void SetModel(window::PairDialogModel* model) { model_ = model; }
  HWND Hwnd() const { return hwnd_; }

  std::string RootText(window::Side side) const override;
  void SetRootText(window::Side side, const std::string& text) override;
  void SetLines(const std::vector<std::string>& master, const std::vector<std::string>& slave) override;
  void ShowNearOwner() override;
  void Hide() override;
  void FocusRoot(window::Side side) override;
  void Message(window::MessageKind kind, const std::string& text, const std::string& caption) override;
  std::optional<std::string> PickFolder(const std::string& title, const std::string& start) override;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  HWND Root(window::Side side) const { return side == window::Side::Master ? rootMaster_ : rootSlave_; }

  HWND owner_;
  HWND hwnd_ = nullptr;
  HWND rootMaster_ = nullptr, rootSlave_ = nullptr, listMaster_ = nullptr, listSlave_ = nullptr;
  window::PairDialogModel* model_ = nullptr;
};

class MainWindow : public window::MainView {
 public:
  MainWindow(std::string programFolder, RunStages stages);
  ~MainWindow() override;
  HWND Hwnd() const { return hwnd_; }
  window::MainWindowModel& Model() { return *model_; }

  std::string EditText(window::EditId id) const override;
  void SetEditText(window::EditId id, const std::string& text) override;
  void SetEditLocked(window::EditId id, bool locked) override;
  bool Checked(window::CheckId id) const override;
  void SetChecked(window::CheckId id, bool on) override;
  void SetCheckVisible(window::CheckId id, bool visible) override;
  void SetCheckEnabled(window::CheckId id, bool enabled) override;
  void SetButtonEnabled(window::ButtonId id, bool enabled) override;
  void SetPairLines(const std::vector<std::string>& lines) override;
  std::vector<size_t> SelectedPairRows() const override;
  void ShowPage(int page) override;
  void SetStatus(const std::string& text) override;
  void SetProgress(int32_t position, int32_t minimum, int32_t maximum) override;
  std::optional<std::string> PickFile(const std::string& filter, const std::string& start) override;
  std::optional<std::string> PickFolder(const std::string& title, const std::string& start) override;
  void Message(window::MessageKind kind, const std::string& text, const std::string& caption) override;
  void FocusWindow() override;
  void FocusStart() override;
  void ProcessEvents() override;
  void ShowPreview(const RunReport& report) override;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void BuildControls();
  // An edit with its embedded picker button; x, y in parent's client pixels.
  HWND ButtonEdit(HWND parent, int editId, int x, int y, int w);
  HWND SpinEdit(HWND parent, int editId, int x, int y, int w);
  void Command(int control, int code);
  void Drop(HDROP drop);
  HWND Edit(window::EditId id) const;
  static int EditControlId(window::EditId id);
  static std::optional<window::EditId> EditOfControl(int control);
  HWND Control(int control) const;

  std::string programFolder_;
  RunStages stages_;
  HWND hwnd_ = nullptr;
  HWND pages_[2] = {nullptr, nullptr};
  HWND tooltip_ = nullptr;
  HWND hint_ = nullptr;  // the red hint on the text page
  std::string status_;
  std::unique_ptr<PairDialog> pairs_;
  std::unique_ptr<window::MainWindowModel> model_;
  bool ready_ = false;  // the model exists and the window is made
};

}  // namespace razere::winui
