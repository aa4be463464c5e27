// TFrmFileName: the pair dialog in Qt, a view of window::PairDialogModel. It
// collects text-file pairs from files dropped onto either window; its add
// button moves the complete pairs into the pair list.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "window/window_model.h"

class QListWidget;
class QPushButton;

namespace razere::gui {

class ButtonEdit;

class TFrmFileName : public QDialog, public window::PairView {
  Q_OBJECT
 public:
  explicit TFrmFileName(QWidget* owner);
  // The model the dialog's controls act on; set once, right after both exist.
  void SetModel(window::PairDialogModel* model) { model_ = model; }

  ButtonEdit* EditMasterQelServer;
  ButtonEdit* EditSlaveQelServer;
  QListWidget* ListBoxMaster;
  QListWidget* ListBoxSlave;
  QPushButton* ButtonAddFilleName;
  QPushButton* ButtonClear;

  // The drop handler of both windows.
  void ShellDrop(const std::vector<std::string>& paths) { model_->ShellDrop(paths); }
  bool Add(const std::string& FileName) { return model_->Add(FileName); }

  // window::PairView.
  std::string RootText(window::Side side) const override;
  void SetRootText(window::Side side, const std::string& text) override;
  void SetLines(const std::vector<std::string>& master, const std::vector<std::string>& slave) override;
  void ShowNearOwner() override;
  void Hide() override { hide(); }
  void FocusRoot(window::Side side) override;
  void Message(window::MessageKind kind, const std::string& text, const std::string& caption) override;
  std::optional<std::string> PickFolder(const std::string& title, const std::string& start) override;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  ButtonEdit* Root(window::Side side) const {
    return side == window::Side::Master ? EditMasterQelServer : EditSlaveQelServer;
  }

  window::PairDialogModel* model_ = nullptr;
};

// Drops of files onto a window: the local paths of the dropped URLs.
bool AcceptFileDrag(QDragEnterEvent* event);
std::vector<std::string> DroppedPaths(QDropEvent* event);

}  // namespace razere::gui
