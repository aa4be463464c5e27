// TFrmMain: the main window in Qt. The run's host is its model: the driver
// runs on this window's thread and paints the progress bar and LabelMsg
// through it.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "app/settings.h"
#include "app/side_rows.h"
#include "merge/run_context.h"
#include "support/progress.h"
#include "window/window_model.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace razere::gui {

class ButtonEdit;
class SpinEdit;
class TFrmFileName;

// The edits of one side's group, one per side row with a control
// (app/side_rows.h), indexed as kSideRows.
struct SideControls {
  std::array<ButtonEdit*, kSideRows.size()> edits{};

  // The edit of a row; null for a row without a control.
  ButtonEdit* Edit(std::string ServerPaths::*path) const;
  ButtonEdit* QelServer() const { return Edit(&ServerPaths::QelServer); }
};

struct MainWindowOptions {
  std::string ProgramFolder;  // Config.ini and TextFileName.txt live here
  RunStages Stages;           // what the start button runs
};

// The view of window::MainWindowModel, which decides everything; this class
// draws and forwards what the operator does.
class TFrmMain : public QWidget, public window::MainView {
  Q_OBJECT
 public:
  explicit TFrmMain(MainWindowOptions options, QWidget* parent = nullptr);
  ~TFrmMain() override;

  // window::MainView.
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

  // The values of the controls that a run reads.
  WindowState ReadWindowState() const { return model_->ReadWindowState(); }

  void ButtonOKClick() { model_->ButtonOKClick(); }
  // The whole run as a dry run: nothing written; its report in a dialog.
  void ButtonPreviewClick() { model_->ButtonPreviewClick(); }
  void ButtonAddFilleNameClick() { model_->ButtonAddFilleNameClick(); }
  void ButtonDelFilleNameClick() { model_->ButtonDelFilleNameClick(); }
  void ButtonSaveFilleNameClick() { model_->ButtonSaveFilleNameClick(); }
  // The drop handler: each dropped path goes to the pair dialog.
  void ShellDrop(const std::vector<std::string>& paths) { model_->ShellDrop(paths); }

  RunContext& Context() { return model_->Context(); }
  window::MainWindowModel& Model() { return *model_; }
  TFrmFileName* FileNameDialog() { return frmFileName_; }
  bool ShowOK() const { return model_->ShowOK(); }

  ButtonEdit* EditSavePath;
  QCheckBox* CheckBoxAutoSaveDBMasterServer;
  QCheckBox* CheckBoxBackDB;
  QCheckBox* CheckBoxSortItemMakeIndex;
  QCheckBox* CheckBoxGmm;
  QCheckBox* CheckBoxClear1;
  SpinEdit* EditClearMinDay;
  SpinEdit* EditClearMinLevel;
  QTabWidget* PageControl;
  SideControls Master{}, Slave{};
  ButtonEdit* EditFileNameMaster;
  ButtonEdit* EditFileNameSlave;
  QListWidget* ListBoxFileName;
  QPushButton* ButtonSaveFilleName;
  QPushButton* ButtonAddFilleName;
  QPushButton* ButtonDelFilleName;
  QPushButton* ButtonOK;
  QPushButton* ButtonPreview;
  QLabel* LabelMsg;
  QProgressBar* ProgressBar;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildControls();
  void BuildSideGroup(QWidget* page, const char* title, int left, const char* prefix, SideControls& side);
  void Connect();
  QLineEdit* LineEdit(window::EditId id) const;  // null for a spin edit
  SpinEdit* Spin(window::EditId id) const;        // null for any other edit
  QCheckBox* CheckBox(window::CheckId id) const;
  QPushButton* Button(window::ButtonId id) const;

  MainWindowOptions options_;
  TFrmFileName* frmFileName_ = nullptr;
  std::unique_ptr<window::MainWindowModel> model_;
};

}  // namespace razere::gui
