#include "gui/file_name_dialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include "gui/widgets.h"

namespace razere::gui {

using window::Side;

bool AcceptFileDrag(QDragEnterEvent* event) {
  if (!event->mimeData()->hasUrls()) return false;
  event->acceptProposedAction();
  return true;
}

std::vector<std::string> DroppedPaths(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(S(url.toLocalFile()));
  event->acceptProposedAction();
  return paths;
}

TFrmFileName::TFrmFileName(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint) {
  setObjectName("FrmFileName");
  setWindowTitle(QString::fromUtf8(window::kPairDialogCaption));
  setFont(WindowFont());
  setFixedSize(602, 581);
  setAcceptDrops(true);

  auto side = [this](const char* title, int top, const char* editName, const char* listName, Side which,
                     ButtonEdit*& edit, QListWidget*& list) {
    auto* group = new QGroupBox(QString::fromUtf8(title), this);
    group->setGeometry(16, top, 577, 257);
    auto* label = new QLabel("QelServer:", group);
    label->move(8, 24);
    edit = new ButtonEdit(group, editName, 88, 20, 257);
    list = new QListWidget(group);
    list->setObjectName(listName);
    list->setGeometry(8, 48, 561, 193);
    InstallFileColourDelegate(list);
    connect(edit, &ButtonEdit::buttonClicked, this, [this, which] { model_->PickRoot(which); });
  };
  side("主库", 8, "EditMasterQelServer", "ListBoxMaster", Side::Master, EditMasterQelServer, ListBoxMaster);
  side("从库", 280, "EditSlaveQelServer", "ListBoxSlave", Side::Slave, EditSlaveQelServer, ListBoxSlave);

  ButtonAddFilleName = new QPushButton(QString::fromUtf8("添加(&A)"), this);
  ButtonAddFilleName->setObjectName("ButtonAddFilleName");
  ButtonAddFilleName->setGeometry(271, 544, 75, 25);
  connect(ButtonAddFilleName, &QPushButton::clicked, this, [this] { model_->ButtonAddFilleNameClick(); });
  ButtonClear = new QPushButton(QString::fromUtf8("清空"), this);
  ButtonClear->setObjectName("ButtonClear");
  ButtonClear->setGeometry(360, 544, 75, 25);
  connect(ButtonClear, &QPushButton::clicked, this, [this] { model_->ButtonClearClick(); });
}

std::string TFrmFileName::RootText(Side side) const { return S(Root(side)->text()); }

void TFrmFileName::SetRootText(Side side, const std::string& text) { Root(side)->setText(Q(text)); }

void TFrmFileName::SetLines(const std::vector<std::string>& master, const std::vector<std::string>& slave) {
  for (auto [list, lines] : {std::pair{ListBoxMaster, &master}, std::pair{ListBoxSlave, &slave}}) {
    list->clear();
    for (const std::string& line : *lines) list->addItem(Q(line));
  }
}

void TFrmFileName::ShowNearOwner() {
  if (!isVisible() && parentWidget()) {
    const QRect owner = parentWidget()->frameGeometry();
    move(owner.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

void TFrmFileName::FocusRoot(Side side) { Root(side)->setFocus(); }

void TFrmFileName::Message(window::MessageKind kind, const std::string& text, const std::string& caption) {
  ShowMessageOf(this, kind, text, caption);
}

std::optional<std::string> TFrmFileName::PickFolder(const std::string& title, const std::string& start) {
  const QString chosen = QFileDialog::getExistingDirectory(this, Q(title), Q(start));
  if (chosen.isEmpty()) return std::nullopt;
  return S(chosen);
}

void TFrmFileName::dragEnterEvent(QDragEnterEvent* event) { AcceptFileDrag(event); }

void TFrmFileName::dropEvent(QDropEvent* event) { model_->ShellDrop(DroppedPaths(event)); }

}  // namespace razere::gui
