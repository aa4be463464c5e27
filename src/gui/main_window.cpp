#include "gui/main_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <algorithm>
#include <exception>

#include "app/text_file_pairs.h"
#include "gui/file_name_dialog.h"
#include "gui/preview_dialog.h"
#include "gui/widgets.h"

namespace razere::gui {

namespace {
constexpr const char* kWindowCaption = "[v0.1]  razere";

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* box = new QCheckBox(QString::fromUtf8(text), parent);
  box->setObjectName(name);
  box->move(left, top);
  box->adjustSize();
  return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(name);
  button->setGeometry(left, top, 75, 25);
  return button;
}

// The path edits of a side (not the root) from edits.
void WriteSide(SideControls& side, const SideEdits& edits) {
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    if (kSideRows[i].IsDerivedEdit()) side.edits[i]->setText(Q(edits.*kSideRows[i].edit));
  }
}

SideEdits ReadSide(const SideControls& side) {
  SideEdits e;
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    if (kSideRows[i].edit != nullptr) e.*kSideRows[i].edit = S(side.edits[i]->text());
  }
  return e;
}
}  // namespace

TFrmMain::TFrmMain(MainWindowOptions options, QWidget* parent) : QWidget(parent), options_(std::move(options)) {
  setObjectName("FrmMain");
  ctx_.Bar.SetHost(*this);
  setWindowTitle(QString::fromUtf8(kWindowCaption));
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(WindowFont());
  setFixedSize(753, 468);
  // The window itself takes the focus while a run has the start button, so
  // that no edit holds it (and no keystroke lands in one).
  setFocusPolicy(Qt::ClickFocus);
  BuildControls();
  FormCreate();
  if (QScreen* screen = QApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::BuildControls() {
  // Group "基本设置".
  auto* basic = new QGroupBox(QString::fromUtf8("基本设置"), this);
  basic->setGeometry(8, 8, 737, 81);
  MakeLabel(basic, "保存目录:", 8, 24);
  EditSavePath = new ButtonEdit(basic, "EditSavePath", 64, 20, 193);
  CheckBoxAutoSaveDBMasterServer =
      MakeCheckBox(basic, "CheckBoxAutoSaveDBMasterServer", "合区完成后，新数据自动替换到主区", 264, 16);
  CheckBoxBackDB = MakeCheckBox(basic, "CheckBoxBackDB", "替换前备份数据", 264, 32);
  CheckBoxBackDB->setVisible(false);
  CheckBoxSortItemMakeIndex = MakeCheckBox(basic, "CheckBoxSortItemMakeIndex", "重新排列物品ID", 480, 16);
  CheckBoxSortItemMakeIndex->setChecked(true);
  CheckBoxSortItemMakeIndex->setEnabled(false);
  CheckBoxGmm = MakeCheckBox(basic, "CheckBoxGmm", "合并寄买卖数据", 612, 16);
  CheckBoxClear1 = MakeCheckBox(basic, "CheckBoxClear1", "清理", 8, 50);
  EditClearMinDay = new SpinEdit(basic, "EditClearMinDay", 56, 48, 49);
  EditClearMinDay->SetText("90");
  // Right-aligned: its right edge stays where the text ends in the layout.
  auto* label24 = new QLabel(QString::fromUtf8("天未登录并且等级小于"), basic);
  label24->setObjectName("Label24");
  label24->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label24->setGeometry(106, 52, 124, 14);
  EditClearMinLevel = new SpinEdit(basic, "EditClearMinLevel", 234, 48, 49);
  EditClearMinLevel->SetText("10");
  MakeLabel(basic, "级", 288, 52);
  for (auto [name, text, left, top] : {std::tuple{"CheckBoxClearNotDataHum", "清理人物(无数据角色)", 304, 50},
                                       std::tuple{"CheckBoxClearID2", "清理账号(无角色账号)", 448, 50},
                                       std::tuple{"CheckBox1", "清理已读无物品邮件", 594, 49}}) {
    QCheckBox* box = MakeCheckBox(basic, name, text, left, top);
    box->setChecked(true);
    box->setEnabled(false);
  }
  connect(CheckBoxAutoSaveDBMasterServer, &QCheckBox::toggled, this,
          [this](bool on) { CheckBoxBackDB->setVisible(on); });
  connect(CheckBoxClear1, &QCheckBox::toggled, this, [this](bool on) {
    if (boShowOK_ && on)
      ShowMessageBox(this, "要保证你电脑的日期正确，否则会导致计算的天数错误，误删人物数据！", S(windowTitle()),
                     true);
  });
  connect(EditSavePath, &ButtonEdit::buttonClicked, this, [this] {
    QString start = EditSavePath->text();
    if (!FolderExists(S(start))) start.clear();
    const QString chosen = QFileDialog::getExistingDirectory(this, QString::fromUtf8("请选择保存文件夹"), start);
    if (!chosen.isEmpty()) EditSavePath->setText(chosen);
  });

  // The two pages.
  PageControl = new QTabWidget(this);
  PageControl->setObjectName("PageControl");
  PageControl->setGeometry(8, 96, 737, 313);
  auto* merge = new QWidget;
  merge->setObjectName("TabSheetMerge");
  PageControl->addTab(merge, QString::fromUtf8("数据合并"));
  BuildSideGroup(merge, "主库", 8, "Master", Master, ctx_.Master, true);
  BuildSideGroup(merge, "从库", 368, "Slave", Slave, ctx_.Slave, false);

  auto* text = new QWidget;
  text->setObjectName("TabSheetText");
  PageControl->addTab(text, QString::fromUtf8("文本设置"));
  MakeLabel(text, "主库", 8, 8);
  EditFileNameMaster = new ButtonEdit(text, "EditFileNameMaster", 40, 4, 321);
  MakeLabel(text, "从库", 368, 8);
  EditFileNameSlave = new ButtonEdit(text, "EditFileNameSlave", 400, 4, 321);
  ListBoxFileName = new QListWidget(text);
  ListBoxFileName->setObjectName("ListBoxFileName");
  ListBoxFileName->setGeometry(0, 32, 721, 217);
  ListBoxFileName->setSelectionMode(QAbstractItemView::ExtendedSelection);
  QLabel* hint = MakeLabel(text, "选择需要合并的文本拖到程序里", 8, 264);
  hint->setStyleSheet("color: red");
  ButtonSaveFilleName = MakeButton(text, "ButtonSaveFilleName", "保存(&S)", 480, 256);
  ButtonSaveFilleName->setEnabled(false);
  ButtonAddFilleName = MakeButton(text, "ButtonAddFilleName", "添加(&A)", 560, 256);
  ButtonDelFilleName = MakeButton(text, "ButtonDelFilleName", "删除(&D)", 648, 256);
  ButtonDelFilleName->setEnabled(false);
  for (ButtonEdit* edit : {EditFileNameMaster, EditFileNameSlave}) {
    connect(edit, &ButtonEdit::buttonClicked, this, [this, edit] {
      if (ButtonOK->isEnabled()) PickFile(edit, "*.txt (*.txt)");
    });
  }
  connect(ButtonSaveFilleName, &QPushButton::clicked, this, &TFrmMain::ButtonSaveFilleNameClick);
  connect(ButtonAddFilleName, &QPushButton::clicked, this, &TFrmMain::ButtonAddFilleNameClick);
  connect(ButtonDelFilleName, &QPushButton::clicked, this, &TFrmMain::ButtonDelFilleNameClick);
  connect(ListBoxFileName, &QListWidget::itemSelectionChanged, this,
          [this] { ButtonDelFilleName->setEnabled(ButtonOK->isEnabled() && !ListBoxFileName->selectedItems().isEmpty()); });

  // Bottom of the window.
  MakeLabel(this, "razere 合区工具", 8, 419)->setObjectName("LabelInfo");
  QLabel* link = MakeLabel(this, "本地数据合并，无需联网", 200, 418);
  link->setObjectName("LabelWeb");
  ButtonOK = MakeButton(this, "ButtonOK", "开始合并", 344, 414);
  connect(ButtonOK, &QPushButton::clicked, this, &TFrmMain::ButtonOKClick);
  LabelMsg = new QLabel("LabelMsg", this);
  LabelMsg->setObjectName("LabelMsg");
  // Narrowed from its right for the preview button; its left edge stays.
  LabelMsg->setGeometry(432, 419, 226, 14);
  ButtonPreview = MakeButton(this, "ButtonPreview", "预览", 664, 414);
  connect(ButtonPreview, &QPushButton::clicked, this, &TFrmMain::ButtonPreviewClick);
  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setGeometry(0, 468 - 17, 753, 17);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);

  setAcceptDrops(true);
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { shuttingDown_ = true; });
  frmFileName_ = new TFrmFileName(this, ctx_, [this] {
    RefillFileNameList();
    PageControl->setCurrentIndex(1);
    ButtonSaveFilleName->setEnabled(true);
  });
}

ButtonEdit* SideControls::Edit(std::string ServerPaths::*path) const {
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    if (kSideRows[i].path == path) return edits[i];
  }
  return nullptr;
}

QWidget* TFrmMain::BuildSideGroup(QWidget* page, const char* title, int left, const char* prefix,
                                  SideControls& side, ServerPaths& paths, bool master) {
  auto* group = new QGroupBox(QString::fromUtf8(title), page);
  group->setObjectName(QString("Group") + prefix);
  group->setGeometry(left, 8, 353, 265);
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    const SideRow& row = kSideRows[i];
    if (row.edit == nullptr) continue;
    QLabel* label = MakeLabel(group, row.label, 8, row.top + 4);
    // A caption wider than the room left of its edit ("UserShopItem:" in
    // some fonts) would run under the edit: its font shrinks until it fits.
    constexpr int kRoom = 88 - 8 - 2;
    for (QFont font = label->font(); label->width() > kRoom && font.pointSizeF() > 6;) {
      font.setPointSizeF(font.pointSizeF() - 0.5);
      label->setFont(font);
      label->adjustSize();
    }
    const std::string name = std::string("Edit") + prefix + row.control;
    side.edits[i] = new ButtonEdit(group, name.c_str(), 88, row.top, 257);
  }
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    if (side.edits[i] != nullptr) ConnectPicker(kSideRows[i], side.edits[i], side, paths, master);
  }
  // Typing a root derives the side's paths, and the pair dialog collects
  // below the same root.
  connect(side.QelServer(), &QLineEdit::textChanged, this, [this, &side, &paths, master](const QString& text) {
    SideEdits edits = ReadSide(side);
    RootEditChanged(paths, edits, S(text));
    WriteSide(side, edits);
    if (frmFileName_ != nullptr) {
      (master ? frmFileName_->EditMasterQelServer : frmFileName_->EditSlaveQelServer)->setText(text);
    }
  });
  return group;
}

void TFrmMain::ConnectPicker(const SideRow& row, ButtonEdit* edit, SideControls& side, ServerPaths& paths,
                             bool master) {
  switch (row.picker) {
    case PickerKind::None:
      break;
    case PickerKind::File: {
      const QString filter = row.filter;
      connect(edit, &ButtonEdit::buttonClicked, this, [this, edit, filter] { PickFile(edit, filter); });
      break;
    }
    case PickerKind::RootFolder:
      // The picker also sets the dialog's root edit.
      connect(edit, &ButtonEdit::buttonClicked, this, [this, &side, master] {
        QString start = side.QelServer()->text();
        if (!FolderExists(S(start))) start.clear();
        const QString chosen =
            QFileDialog::getExistingDirectory(this, QString::fromUtf8("请选择你的服务端文件夹"), start);
        if (chosen.isEmpty()) return;
        const QString root = Q(WithTrailingSeparator(S(chosen)));
        side.QelServer()->setText(root);
        ButtonEdit* dialogEdit = master ? frmFileName_->EditMasterQelServer : frmFileName_->EditSlaveQelServer;
        dialogEdit->setText(root);
      });
      break;
    case PickerKind::GuildFolder: {
      // Starts at the folder as last loaded or used by a run.
      std::string ServerPaths::*field = row.path;
      connect(edit, &ButtonEdit::buttonClicked, this, [this, edit, &paths, field] {
        QString start = Q(paths.*field);
        if (!FolderExists(paths.*field)) start.clear();
        const QString chosen = QFileDialog::getExistingDirectory(this, QString::fromUtf8("浏览文件夹"), start);
        if (chosen.isEmpty()) return;
        paths.*field = WithTrailingSeparator(S(chosen));
        edit->setText(Q(paths.*field));
      });
      break;
    }
  }
}

void TFrmMain::PickFile(ButtonEdit* edit, const QString& filter) {
  const QString chosen = QFileDialog::getOpenFileName(this, QString(), edit->text(), filter);
  if (!chosen.isEmpty()) edit->setText(chosen);
}

void TFrmMain::FillSide(SideControls& side, const SideEdits& edits) {
  side.QelServer()->setText(Q(edits.QelServer));  // derives the side's paths
  WriteSide(side, edits);                         // the stored paths win
}

void TFrmMain::FormCreate() {
  boShowOK_ = false;
  setWindowTitle(windowTitle() + QString::fromUtf8(" (64位)"));
  const WindowState w = StartUp(ctx_, options_.ProgramFolder);
  RefillFileNameList();
  EditSavePath->setText(Q(w.SavePath));
  CheckBoxSortItemMakeIndex->setChecked(true);
  CheckBoxAutoSaveDBMasterServer->setChecked(w.AutoSaveDBMasterServer);
  CheckBoxBackDB->setChecked(w.BackDB);
  CheckBoxClear1->setChecked(w.Clear1);
  EditClearMinLevel->SetText(Q(w.ClearMinLevel));
  EditClearMinDay->SetText(Q(w.ClearMinDay));
  CheckBoxGmm->setChecked(w.Gmm);
  FillSide(Master, w.Master);
  FillSide(Slave, w.Slave);
  frmFileName_->EditSlaveQelServer->setText(Q(ctx_.Slave.QelServer));
  frmFileName_->EditMasterQelServer->setText(Q(ctx_.Master.QelServer));
  PageControl->setCurrentIndex(0);
  boShowOK_ = true;
}

WindowState TFrmMain::ReadWindowState() const {
  WindowState w;
  w.Master = ReadSide(Master);
  w.Slave = ReadSide(Slave);
  w.SavePath = S(EditSavePath->text());
  w.SortItemMakeIndex = CheckBoxSortItemMakeIndex->isChecked();
  w.AutoSaveDBMasterServer = CheckBoxAutoSaveDBMasterServer->isChecked();
  w.BackDB = CheckBoxBackDB->isChecked();
  w.Clear1 = CheckBoxClear1->isChecked();
  w.Gmm = CheckBoxGmm->isChecked();
  w.ClearMinLevel = S(EditClearMinLevel->Text());
  w.ClearMinDay = S(EditClearMinDay->Text());
  return w;
}

void TFrmMain::ButtonOKClick() {
  if (!ButtonOK->isEnabled()) return;
  // An older status would read as this run's, also beside a refusal's
  // message while it waits for its click; a refused run leaves none.
  PaintStatus("");
  try {
    if (razere::ButtonOKClick(ctx_, ReadWindowState(), options_.Stages) == RunOutcome::Refused) PaintStatus("");
  } catch (const std::exception& e) {
    // The window's general error handler: the run has cleaned up already.
    const std::string what = e.what();
    PaintStatus("合区失败：" + what.substr(0, what.find_first_of("\r\n")));
    if (!shuttingDown_) ShowMessageBox(this, what, S(windowTitle()));
  }
}

void TFrmMain::ButtonPreviewClick() {
  if (!ButtonOK->isEnabled()) return;
  WindowState w = ReadWindowState();
  w.DryRun = true;
  RunReport report;
  PaintStatus("");
  try {
    if (razere::ButtonOKClick(ctx_, w, options_.Stages, &report) == RunOutcome::Refused) {
      PaintStatus("");
      return;
    }
  } catch (const std::exception& e) {
    const std::string what = e.what();
    PaintStatus("预览失败：" + what.substr(0, what.find_first_of("\r\n")));
    if (!shuttingDown_) ShowMessageBox(this, what, S(windowTitle()));
    return;
  }
  PaintStatus("预览完成：没有写入任何文件");
  auto* dialog = new TPreviewDialog(this, std::move(report));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
}

std::vector<ButtonEdit*> TFrmMain::Edits() const {
  std::vector<ButtonEdit*> edits = {EditSavePath, EditFileNameMaster, EditFileNameSlave};
  for (const SideControls* side : {&Master, &Slave}) {
    for (ButtonEdit* e : side->edits) {
      if (e != nullptr) edits.push_back(e);
    }
  }
  return edits;
}

void TFrmMain::RefillFileNameList() {
  ListBoxFileName->clear();
  for (const TTextFileName& pair : ctx_.TextFilePairs) ListBoxFileName->addItem(Q(TextFilePairDisplay(pair)));
  ButtonDelFilleName->setEnabled(false);
}

void TFrmMain::ButtonAddFilleNameClick() {
  if (!ButtonOK->isEnabled()) return;
  const std::string master = Trim(S(EditFileNameMaster->text()));
  const std::string slave = Trim(S(EditFileNameSlave->text()));
  for (auto [file, side] : {std::pair{&master, "主库"}, std::pair{&slave, "从库"}}) {
    if (file->empty()) {
      ShowMessageBox(this, std::string("请设置") + side + "文件 ！！！", kCaption);
      return;
    }
    if (!FileExists(*file)) {
      ShowMessageBox(this, "没有发现文件：" + *file + " ！！！", kCaption);
      return;
    }
  }
  if (TextFilePairExists(ctx_, master, slave)) {
    ShowMessageBox(this, "该文件已经添加 ！！！", kCaption);
    return;
  }
  std::vector<TTextFileName> pairs = ctx_.TextFilePairs;
  pairs.push_back(TTextFileName{master, slave});
  if (const std::string refusal = PairListRefusalOf(std::move(pairs)); !refusal.empty()) {
    ShowMessageBox(this, refusal, kCaption);
    return;
  }
  ctx_.TextFilePairs.push_back(TTextFileName{master, slave});
  RefillFileNameList();
  ButtonSaveFilleName->setEnabled(true);
}

void TFrmMain::ButtonDelFilleNameClick() {
  if (!ButtonOK->isEnabled()) return;
  std::vector<int> rows;
  for (QListWidgetItem* item : ListBoxFileName->selectedItems()) rows.push_back(ListBoxFileName->row(item));
  std::sort(rows.rbegin(), rows.rend());
  for (int row : rows)
    if (row >= 0 && static_cast<size_t>(row) < ctx_.TextFilePairs.size())
      DeleteTextFilePair(ctx_, static_cast<size_t>(row));
  RefillFileNameList();
  ButtonSaveFilleName->setEnabled(true);
  ButtonDelFilleName->setEnabled(false);
}

std::string TFrmMain::PairListRefusalOf(std::vector<TTextFileName> pairs) const {
  RunContext probe;
  static_cast<RunSettings&>(probe) = static_cast<const RunSettings&>(ctx_);
  probe.TextFilePairs = std::move(pairs);
  for (auto [paths, side] : {std::pair{&probe.Master, &Master}, std::pair{&probe.Slave, &Slave}}) {
    ReadPaths(*paths, ReadSide(*side));
    BuildUneditedPaths(*paths);
  }
  probe.SavePath = ResolveSaveFolder(S(EditSavePath->text()), ctx_.ProgramFolder);
  return PairListRefusal(probe);
}

void TFrmMain::ButtonSaveFilleNameClick() {
  // The list as it is saved must be one that 开始合并 takes.
  if (const std::string refusal = PairListRefusalOf(ctx_.TextFilePairs); !refusal.empty()) {
    ShowMessageBox(this, refusal, kCaption);
    return;
  }
  ButtonSaveFilleName->setEnabled(false);
  SaveTextFilePairs(ctx_);  // a failed save is ignored
}

void TFrmMain::PaintProgress(int32_t position, int32_t minimum, int32_t maximum) {
  // Qt draws an empty range as a busy animation; an empty bar is meant.
  if (maximum <= minimum) {
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    return;
  }
  ProgressBar->setRange(minimum, maximum);
  ProgressBar->setValue(position);
}

// A text wider than the label is cut in the middle, whole in its tooltip.
void TFrmMain::PaintStatus(const std::string& text) {
  const QString full = Q(text);
  const QString shown = LabelMsg->fontMetrics().elidedText(full, Qt::ElideMiddle, LabelMsg->width());
  LabelMsg->setText(shown);
  LabelMsg->setToolTip(shown == full ? QString() : full);
}

void TFrmMain::ProcessEvents() { QCoreApplication::processEvents(); }

void TFrmMain::ShowMessage(const std::string& text, const std::string& caption) {
  ShowMessageBox(this, text, caption);
}

void TFrmMain::SetStartEnabled(bool on) {
  // The start button has the focus when it is clicked; disabled, it would
  // hand it to the next edit, all of its text selected.
  if (!on) setFocus(Qt::OtherFocusReason);
  ButtonOK->setEnabled(on);
  ButtonPreview->setEnabled(on);
  for (ButtonEdit* e : Edits()) e->SetLocked(!on);
  EditClearMinDay->setReadOnly(!on);
  EditClearMinLevel->setReadOnly(!on);
  ButtonAddFilleName->setEnabled(on);
  ButtonDelFilleName->setEnabled(on && !ListBoxFileName->selectedItems().isEmpty());
  frmFileName_->SetRunActive(!on);
  if (on) ButtonOK->setFocus(Qt::OtherFocusReason);
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  bool CanClose = true;
  FormCloseQuery(ButtonOK->isEnabled(), CanClose);
  if (!CanClose) {
    event->ignore();
    // A box waiting for its click would hold the run still.
    ShowNotice(this, "正在合区，请等待合区完成后再关闭！！！", kCaption);
    return;
  }
  shuttingDown_ = true;
  frmFileName_->hide();
  event->accept();
}

void TFrmMain::dragEnterEvent(QDragEnterEvent* event) { AcceptFileDrag(event); }

void TFrmMain::dropEvent(QDropEvent* event) { ShellDrop(DroppedPaths(event)); }

void TFrmMain::ShellDrop(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) frmFileName_->ShellDragDrop(path);
}

}  // namespace razere::gui
