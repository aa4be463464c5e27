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

#include "app/settings.h"
#include "app/text_file_pairs.h"
#include "gui/widgets.h"

namespace razere::gui {

namespace {
bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// root is below-root prefix test on the separator-normalised root.
bool StripRoot(const std::string& path, std::string root, std::string& rest) {
  root = Trim(root);
  if (root.empty()) return false;
  if (!IsSeparator(root.back())) root += kPathSep;
  if (path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return false;
  rest = path.substr(root.size());
  return true;
}
}  // namespace

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

TFrmFileName::TFrmFileName(QWidget* owner, RunContext& ctx, std::function<void()> onPairsAdded)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      ctx_(ctx),
      onPairsAdded_(std::move(onPairsAdded)) {
  setObjectName("FrmFileName");
  setWindowTitle(QString::fromUtf8("合并的文本文件"));
  setFont(WindowFont());
  setFixedSize(602, 581);
  setAcceptDrops(true);

  auto side = [this](const char* title, int top, const char* editName, const char* listName, ButtonEdit*& edit,
                     QListWidget*& list) {
    auto* group = new QGroupBox(QString::fromUtf8(title), this);
    group->setGeometry(16, top, 577, 257);
    auto* label = new QLabel("QelServer:", group);
    label->move(8, 24);
    edit = new ButtonEdit(group, editName, 88, 20, 257);
    list = new QListWidget(group);
    list->setObjectName(listName);
    list->setGeometry(8, 48, 561, 193);
    InstallFileColourDelegate(list);
    connect(edit, &ButtonEdit::buttonClicked, this, [this, e = edit] { PickRoot(e); });
  };
  side("主库", 8, "EditMasterQelServer", "ListBoxMaster", EditMasterQelServer, ListBoxMaster);
  side("从库", 280, "EditSlaveQelServer", "ListBoxSlave", EditSlaveQelServer, ListBoxSlave);

  ButtonAddFilleName = new QPushButton(QString::fromUtf8("添加(&A)"), this);
  ButtonAddFilleName->setObjectName("ButtonAddFilleName");
  ButtonAddFilleName->setGeometry(271, 544, 75, 25);
  connect(ButtonAddFilleName, &QPushButton::clicked, this, &TFrmFileName::ButtonAddFilleNameClick);
  ButtonClear = new QPushButton(QString::fromUtf8("清空"), this);
  ButtonClear->setObjectName("ButtonClear");
  ButtonClear->setGeometry(360, 544, 75, 25);
  connect(ButtonClear, &QPushButton::clicked, this, &TFrmFileName::ButtonClearClick);
}

void TFrmFileName::PickRoot(ButtonEdit* edit) {
  QString start = edit->text();
  if (!FolderExists(S(start))) start.clear();
  const QString chosen =
      QFileDialog::getExistingDirectory(this, QString::fromUtf8("请选择你的服务端文件夹"), start);
  if (chosen.isEmpty()) return;
  edit->setText(Q(WithTrailingSeparator(S(chosen))));
}

void TFrmFileName::ShowNearOwner() {
  if (!isVisible() && parentWidget()) {
    const QRect owner = parentWidget()->frameGeometry();
    move(owner.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

std::string TFrmFileName::RelativePart(const std::string& FileName, const std::string& masterRoot,
                                       const std::string& slaveRoot) {
  std::string rest;
  if (StripRoot(FileName, masterRoot, rest) || StripRoot(FileName, slaveRoot, rest)) return rest;
  int seen = 0;
  for (size_t i = 0; i < FileName.size(); ++i) {
    if (IsSeparator(FileName[i]) && ++seen == 2) return FileName.substr(i + 1);
  }
  return FileName;
}

bool TFrmFileName::Add(const std::string& FileName) {
  const std::string master = Trim(S(EditMasterQelServer->text()));
  const std::string slave = Trim(S(EditSlaveQelServer->text()));
  std::string relative;
#ifdef _WIN32
  relative = RelativePart(FileName, master, slave);
#else
  // Paths here have no drive letter: the part after the second separator is
  // not the part below a root, and would name a wrong file under both.
  if (!StripRoot(FileName, master, relative) && !StripRoot(FileName, slave, relative)) return false;
#endif
  ListBoxMaster->addItem(Q(WithTrailingSeparator(master) + relative));
  ListBoxSlave->addItem(Q(WithTrailingSeparator(slave) + relative));
  return true;
}

void TFrmFileName::ShellDragDrop(const std::string& path) {
  if (FolderExists(path)) return;
  auto refuse = [this](ButtonEdit* edit, const char* text) {
    ShowNearOwner();
    edit->setFocus();
    // During a run a box waiting for its click would hold the run still.
    if (runActive_) {
      ShowNotice(this, text, "提示信息");
    } else {
      ShowMessageBox(this, text, "提示信息");
    }
  };
  if (!FolderExists(Trim(S(EditMasterQelServer->text())))) {
    refuse(EditMasterQelServer, "请设置正确的主库“QelServer”目录！！！");
    return;
  }
  if (!FolderExists(Trim(S(EditSlaveQelServer->text())))) {
    refuse(EditSlaveQelServer, "请设置正确的从库“QelServer”目录！！！");
    return;
  }
  if (!Add(path)) {
    refuse(EditMasterQelServer,
           ("拖入的文件不在主库或从库的“QelServer”目录下：" + path + " ！！！").c_str());
    return;
  }
  ShowNearOwner();
}

void TFrmFileName::ButtonAddFilleNameClick() {
  // The run reads the pair list until its end (the replacement included):
  // the collected lines stay for a click after the run.
  if (runActive_) {
    ShowNotice(this, "正在合区，请等待合区完成后再添加！！！", "提示信息");
    return;
  }
  const int lines = std::min(ListBoxMaster->count(), ListBoxSlave->count());
  for (int i = 0; i < lines; ++i) {
    const std::string master = S(ListBoxMaster->item(i)->text());
    const std::string slave = S(ListBoxSlave->item(i)->text());
    if (!FileExists(master) || !FileExists(slave)) continue;
    if (TextFilePairExists(ctx_, master, slave)) continue;
    ctx_.TextFilePairs.push_back(TTextFileName{master, slave});
  }
  ButtonClearClick();
  if (onPairsAdded_) onPairsAdded_();
  hide();
}

void TFrmFileName::ButtonClearClick() {
  ListBoxMaster->clear();
  ListBoxSlave->clear();
}

void TFrmFileName::dragEnterEvent(QDragEnterEvent* event) { AcceptFileDrag(event); }

void TFrmFileName::dropEvent(QDropEvent* event) { ShellDrop(DroppedPaths(event)); }

void TFrmFileName::ShellDrop(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) ShellDragDrop(path);
}

}  // namespace razere::gui
