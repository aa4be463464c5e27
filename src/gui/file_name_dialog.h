// TFrmFileName: collects text-file pairs from files dropped onto either
// window; its add button moves the complete pairs into the pair list.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "merge/run_context.h"

class QListWidget;
class QPushButton;

namespace razere::gui {

class ButtonEdit;

class TFrmFileName : public QDialog {
  Q_OBJECT
 public:
  // onPairsAdded runs after the add button appended pairs (the main window
  // refills its list and shows its text page).
  TFrmFileName(QWidget* owner, RunContext& ctx, std::function<void()> onPairsAdded);

  ButtonEdit* EditMasterQelServer;
  ButtonEdit* EditSlaveQelServer;
  QListWidget* ListBoxMaster;
  QListWidget* ListBoxSlave;
  QPushButton* ButtonAddFilleName;
  QPushButton* ButtonClear;

  // The drop handler of both windows, once per dropped path.
  void ShellDragDrop(const std::string& path);
  void ShellDrop(const std::vector<std::string>& paths);
  // Collects one file: its path below the server root, under both roots.
  // False (nothing collected) for a file below neither root.
  bool Add(const std::string& FileName);

  // The part of FileName that Add puts below each root: the path below the
  // master or slave root when FileName lies below one, otherwise everything
  // after its second separator (the whole path when it has fewer).
  static std::string RelativePart(const std::string& FileName, const std::string& masterRoot,
                                  const std::string& slaveRoot);

  void ButtonAddFilleNameClick();
  void ButtonClearClick();

  // While a run works on the pair list the add button keeps its lines for
  // later (and says so) instead of changing the list under the run.
  void SetRunActive(bool active) { runActive_ = active; }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void PickRoot(ButtonEdit* edit);
  void ShowNearOwner();

  RunContext& ctx_;
  std::function<void()> onPairsAdded_;
  bool runActive_ = false;
};

// Drops of files onto a window: the local paths of the dropped URLs.
bool AcceptFileDrag(QDragEnterEvent* event);
std::vector<std::string> DroppedPaths(QDropEvent* event);

}  // namespace razere::gui
