// TFrmMain: the main window. It is the run's host: the driver runs on this
// window's thread and paints the progress bar and LabelMsg through it.
#pragma once

#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "app/settings.h"
#include "app/side_rows.h"
#include "merge/run_context.h"
#include "support/progress.h"

class QCheckBox;
class QLabel;
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

class TFrmMain : public QWidget, public IHost {
  Q_OBJECT
 public:
  explicit TFrmMain(MainWindowOptions options, QWidget* parent = nullptr);
  ~TFrmMain() override;

  // IHost.
  void PaintProgress(int32_t position, int32_t minimum, int32_t maximum) override;
  void PaintStatus(const std::string& text) override;
  void ProcessEvents() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool IsShuttingDown() const override { return shuttingDown_; }
  void SetStartEnabled(bool on) override;

  // The values of the controls that a run reads.
  WindowState ReadWindowState() const;

  void ButtonOKClick();
  // The whole run as a dry run: nothing written; its report in a dialog.
  void ButtonPreviewClick();
  void ButtonAddFilleNameClick();
  void ButtonDelFilleNameClick();
  void ButtonSaveFilleNameClick();
  void RefillFileNameList();
  // The drop handler: each dropped path goes to the pair dialog.
  void ShellDrop(const std::vector<std::string>& paths);

  RunContext& Context() { return ctx_; }
  TFrmFileName* FileNameDialog() { return frmFileName_; }
  bool ShowOK() const { return boShowOK_; }

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
  QWidget* BuildSideGroup(QWidget* page, const char* title, int left, const char* prefix, SideControls& side,
                          ServerPaths& paths, bool master);
  void ConnectPicker(const SideRow& row, ButtonEdit* edit, SideControls& side, ServerPaths& paths, bool master);
  void FormCreate();
  void FillSide(SideControls& side, const SideEdits& edits);
  void PickFile(ButtonEdit* edit, const QString& filter);
  // Every edit that a run must not see change: 基本设置, both sides, the text page.
  std::vector<ButtonEdit*> Edits() const;
  // What 开始合并 would refuse about the save folder edit and these pairs; "" when nothing.
  std::string PairListRefusalOf(std::vector<TTextFileName> pairs) const;

  RunContext ctx_;
  MainWindowOptions options_;
  TFrmFileName* frmFileName_ = nullptr;
  bool boShowOK_ = false;
  bool shuttingDown_ = false;
};

}  // namespace razere::gui
