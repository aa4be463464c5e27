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

using window::ButtonId;
using window::CheckId;
using window::EditId;
using window::MessageKind;
using window::Side;

namespace {

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

}  // namespace

TFrmMain::TFrmMain(MainWindowOptions options, QWidget* parent) : QWidget(parent), options_(std::move(options)) {
  setObjectName("FrmMain");
  setWindowTitle(Q(window::MainWindowModel::Caption()));
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(WindowFont());
  setFixedSize(753, 468);
  // The window itself takes the focus while a run has the start button, so
  // that no edit holds it (and no keystroke lands in one).
  setFocusPolicy(Qt::ClickFocus);
  BuildControls();
  model_ = std::make_unique<window::MainWindowModel>(*this, *frmFileName_, options_.ProgramFolder, options_.Stages);
  frmFileName_->SetModel(&model_->Pairs());
  Connect();
  model_->FormCreate();
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
  CheckBoxSortItemMakeIndex = MakeCheckBox(basic, "CheckBoxSortItemMakeIndex", "重新排列物品ID", 480, 16);
  CheckBoxGmm = MakeCheckBox(basic, "CheckBoxGmm", "合并寄买卖数据", 612, 16);
  CheckBoxClear1 = MakeCheckBox(basic, "CheckBoxClear1", "清理", 8, 50);
  EditClearMinDay = new SpinEdit(basic, "EditClearMinDay", 56, 48, 49);
  // Right-aligned: its right edge stays where the text ends in the layout.
  auto* label24 = new QLabel(QString::fromUtf8("天未登录并且等级小于"), basic);
  label24->setObjectName("Label24");
  label24->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label24->setGeometry(106, 52, 124, 14);
  EditClearMinLevel = new SpinEdit(basic, "EditClearMinLevel", 234, 48, 49);
  MakeLabel(basic, "级", 288, 52);
  for (auto [name, text, left, top] : {std::tuple{"CheckBoxClearNotDataHum", "清理人物(无数据角色)", 304, 50},
                                       std::tuple{"CheckBoxClearID2", "清理账号(无角色账号)", 448, 50},
                                       std::tuple{"CheckBox1", "清理已读无物品邮件", 594, 49}}) {
    QCheckBox* box = MakeCheckBox(basic, name, text, left, top);
    box->setChecked(true);
    box->setEnabled(false);
  }

  // The two pages.
  PageControl = new QTabWidget(this);
  PageControl->setObjectName("PageControl");
  PageControl->setGeometry(8, 96, 737, 313);
  auto* merge = new QWidget;
  merge->setObjectName("TabSheetMerge");
  PageControl->addTab(merge, QString::fromUtf8("数据合并"));
  BuildSideGroup(merge, "主库", 8, "Master", Master);
  BuildSideGroup(merge, "从库", 368, "Slave", Slave);

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
  ButtonAddFilleName = MakeButton(text, "ButtonAddFilleName", "添加(&A)", 560, 256);
  ButtonDelFilleName = MakeButton(text, "ButtonDelFilleName", "删除(&D)", 648, 256);

  // Bottom of the window.
  MakeLabel(this, "razere 合区工具", 8, 419)->setObjectName("LabelInfo");
  QLabel* link = MakeLabel(this, "本地数据合并，无需联网", 200, 418);
  link->setObjectName("LabelWeb");
  ButtonOK = MakeButton(this, "ButtonOK", "开始合并", 344, 414);
  LabelMsg = new QLabel("LabelMsg", this);
  LabelMsg->setObjectName("LabelMsg");
  // Narrowed from its right for the preview button; its left edge stays.
  LabelMsg->setGeometry(432, 419, 226, 14);
  ButtonPreview = MakeButton(this, "ButtonPreview", "预览", 664, 414);
  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setGeometry(0, 468 - 17, 753, 17);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);

  setAcceptDrops(true);
  frmFileName_ = new TFrmFileName(this);
}

ButtonEdit* SideControls::Edit(std::string ServerPaths::*path) const {
  for (size_t i = 0; i < kSideRows.size(); ++i) {
    if (kSideRows[i].path == path) return edits[i];
  }
  return nullptr;
}

void TFrmMain::BuildSideGroup(QWidget* page, const char* title, int left, const char* prefix, SideControls& side) {
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
}

// Everything the operator does goes to the model, once the model exists.
void TFrmMain::Connect() {
  for (const EditId& id : window::AllEdits()) {
    if (SpinEdit* spin = Spin(id)) {
      spin->OnStep = [this, id](int steps) { model_->SpinStepped(id, steps); };
      continue;
    }
    auto* edit = static_cast<ButtonEdit*>(LineEdit(id));
    connect(edit, &QLineEdit::textChanged, this, [this, id](const QString& t) { model_->EditChanged(id, S(t)); });
    connect(edit, &ButtonEdit::buttonClicked, this, [this, id] { model_->EditButtonClicked(id); });
  }
  for (CheckId id : {CheckId::AutoSaveDBMasterServer, CheckId::BackDB, CheckId::SortItemMakeIndex, CheckId::Gmm,
                     CheckId::Clear1}) {
    connect(CheckBox(id), &QCheckBox::clicked, this, [this, id](bool on) { model_->CheckClicked(id, on); });
  }
  connect(ButtonSaveFilleName, &QPushButton::clicked, this, [this] { model_->ButtonSaveFilleNameClick(); });
  connect(ButtonAddFilleName, &QPushButton::clicked, this, [this] { model_->ButtonAddFilleNameClick(); });
  connect(ButtonDelFilleName, &QPushButton::clicked, this, [this] { model_->ButtonDelFilleNameClick(); });
  connect(ListBoxFileName, &QListWidget::itemSelectionChanged, this, [this] { model_->PairSelectionChanged(); });
  connect(ButtonOK, &QPushButton::clicked, this, [this] { model_->ButtonOKClick(); });
  connect(ButtonPreview, &QPushButton::clicked, this, [this] { model_->ButtonPreviewClick(); });
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { model_->SetShuttingDown(); });
}

QLineEdit* TFrmMain::LineEdit(EditId id) const {
  switch (id.kind) {
    case EditId::SavePath: return EditSavePath;
    case EditId::FileNameMaster: return EditFileNameMaster;
    case EditId::FileNameSlave: return EditFileNameSlave;
    case EditId::SideRow: return (id.side == Side::Master ? Master : Slave).edits[id.row];
    case EditId::ClearMinDay:
    case EditId::ClearMinLevel: break;
  }
  return nullptr;
}

QCheckBox* TFrmMain::CheckBox(CheckId id) const {
  switch (id) {
    case CheckId::AutoSaveDBMasterServer: return CheckBoxAutoSaveDBMasterServer;
    case CheckId::BackDB: return CheckBoxBackDB;
    case CheckId::SortItemMakeIndex: return CheckBoxSortItemMakeIndex;
    case CheckId::Gmm: return CheckBoxGmm;
    case CheckId::Clear1: return CheckBoxClear1;
  }
  return nullptr;
}

QPushButton* TFrmMain::Button(ButtonId id) const {
  switch (id) {
    case ButtonId::OK: return ButtonOK;
    case ButtonId::Preview: return ButtonPreview;
    case ButtonId::AddFilleName: return ButtonAddFilleName;
    case ButtonId::DelFilleName: return ButtonDelFilleName;
    case ButtonId::SaveFilleName: return ButtonSaveFilleName;
  }
  return nullptr;
}

SpinEdit* TFrmMain::Spin(EditId id) const {
  if (id.kind == EditId::ClearMinDay) return EditClearMinDay;
  if (id.kind == EditId::ClearMinLevel) return EditClearMinLevel;
  return nullptr;
}

std::string TFrmMain::EditText(EditId id) const {
  if (SpinEdit* spin = Spin(id)) return S(spin->Text());
  QLineEdit* edit = LineEdit(id);
  return edit ? S(edit->text()) : std::string();
}

void TFrmMain::SetEditText(EditId id, const std::string& text) {
  if (SpinEdit* spin = Spin(id)) return spin->SetText(Q(text));
  if (QLineEdit* edit = LineEdit(id)) edit->setText(Q(text));
}

void TFrmMain::SetEditLocked(EditId id, bool locked) {
  if (SpinEdit* spin = Spin(id)) return spin->setReadOnly(locked);
  if (QLineEdit* edit = LineEdit(id)) static_cast<ButtonEdit*>(edit)->SetLocked(locked);
}

bool TFrmMain::Checked(CheckId id) const { return CheckBox(id)->isChecked(); }
void TFrmMain::SetChecked(CheckId id, bool on) { CheckBox(id)->setChecked(on); }
void TFrmMain::SetCheckVisible(CheckId id, bool visible) { CheckBox(id)->setVisible(visible); }
void TFrmMain::SetCheckEnabled(CheckId id, bool enabled) { CheckBox(id)->setEnabled(enabled); }
void TFrmMain::SetButtonEnabled(ButtonId id, bool enabled) { Button(id)->setEnabled(enabled); }

void TFrmMain::SetPairLines(const std::vector<std::string>& lines) {
  ListBoxFileName->clear();
  for (const std::string& line : lines) ListBoxFileName->addItem(Q(line));
}

std::vector<size_t> TFrmMain::SelectedPairRows() const {
  std::vector<size_t> rows;
  for (QListWidgetItem* item : ListBoxFileName->selectedItems()) {
    const int row = ListBoxFileName->row(item);
    if (row >= 0) rows.push_back(static_cast<size_t>(row));
  }
  return rows;
}

void TFrmMain::ShowPage(int page) { PageControl->setCurrentIndex(page); }

// A text wider than the label is cut in the middle, whole in its tooltip.
void TFrmMain::SetStatus(const std::string& text) {
  const QString full = Q(text);
  const QString shown = LabelMsg->fontMetrics().elidedText(full, Qt::ElideMiddle, LabelMsg->width());
  LabelMsg->setText(shown);
  LabelMsg->setToolTip(shown == full ? QString() : full);
}

void TFrmMain::SetProgress(int32_t position, int32_t minimum, int32_t maximum) {
  // Qt draws an empty range as a busy animation; an empty bar is meant.
  if (maximum <= minimum) {
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    return;
  }
  ProgressBar->setRange(minimum, maximum);
  ProgressBar->setValue(position);
}

std::optional<std::string> TFrmMain::PickFile(const std::string& filter, const std::string& start) {
  const QString chosen = QFileDialog::getOpenFileName(this, QString(), Q(start), Q(filter));
  if (chosen.isEmpty()) return std::nullopt;
  return S(chosen);
}

std::optional<std::string> TFrmMain::PickFolder(const std::string& title, const std::string& start) {
  const QString chosen = QFileDialog::getExistingDirectory(this, Q(title), Q(start));
  if (chosen.isEmpty()) return std::nullopt;
  return S(chosen);
}

void TFrmMain::Message(MessageKind kind, const std::string& text, const std::string& caption) {
  ShowMessageOf(this, kind, text, caption);
}

void TFrmMain::FocusWindow() { setFocus(Qt::OtherFocusReason); }
void TFrmMain::FocusStart() { ButtonOK->setFocus(Qt::OtherFocusReason); }
void TFrmMain::ProcessEvents() { QCoreApplication::processEvents(); }

void TFrmMain::ShowPreview(const RunReport& report) {
  auto* dialog = new TPreviewDialog(this, report);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  if (!model_->CloseRequested()) {
    event->ignore();
    return;
  }
  event->accept();
}

void TFrmMain::dragEnterEvent(QDragEnterEvent* event) { AcceptFileDrag(event); }

void TFrmMain::dropEvent(QDropEvent* event) { model_->ShellDrop(DroppedPaths(event)); }

}  // namespace razere::gui
