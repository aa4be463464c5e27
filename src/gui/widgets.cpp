#include "gui/widgets.h"

#include <QAction>
#include <QFontDatabase>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "app/settings.h"
#include "support/file_system.h"

namespace razere::gui {

namespace {
MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}

// ListBoxMasterDrawItem: the text at the item's top left, blue for an
// existing file and red for a missing one.
class FileColourDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    painter->save();
    if (option.state & QStyle::State_Selected) painter->fillRect(option.rect, option.palette.highlight());
    const QString text = index.data(Qt::DisplayRole).toString();
    painter->setPen(FileExists(S(text)) ? QColor(Qt::blue) : QColor(Qt::red));
    painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop, text);
    painter->restore();
  }
};
}  // namespace

ButtonEdit::ButtonEdit(QWidget* parent, const char* name, int left, int top, int width) : QLineEdit(parent) {
  setObjectName(name);
  setGeometry(left, top, width, 21);
  button_ = addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
  button_->setObjectName(QString(name) + "Button");
  connect(button_, &QAction::triggered, this, &ButtonEdit::buttonClicked);
}

void ButtonEdit::SetLocked(bool locked) {
  setReadOnly(locked);
  button_->setEnabled(!locked);
}

SpinEdit::SpinEdit(QWidget* parent, const char* name, int left, int top, int width) : QAbstractSpinBox(parent) {
  setObjectName(name);
  setGeometry(left, top, width, 21);
}

QString SpinEdit::Text() const { return lineEdit()->text(); }
void SpinEdit::SetText(const QString& text) { lineEdit()->setText(text); }

void SpinEdit::stepBy(int steps) {
  if (OnStep) OnStep(steps);
}

void SetMessageSink(MessageSink sink) { Sink() = std::move(sink); }

void ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption, bool plain) {
  if (Sink()) {
    Sink()(text, caption);
    return;
  }
  QMessageBox box(plain ? QMessageBox::NoIcon : QMessageBox::Question, Q(caption), Q(text), QMessageBox::Ok, owner);
  box.exec();
}

void ShowNotice(QWidget* owner, const std::string& text, const std::string& caption) {
  if (Sink()) {
    Sink()(text, caption);
    return;
  }
  static QPointer<QMessageBox> shown;
  if (shown && shown->text() == Q(text)) {
    shown->raise();
    shown->activateWindow();
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Question, Q(caption), Q(text), QMessageBox::Ok, owner);
  box->setAttribute(Qt::WA_DeleteOnClose);
  shown = box;
  box->open();
}

QFont WindowFont() {
  const QStringList families = QFontDatabase::families();
  for (const char* name : {"宋体", "SimSun", "NSimSun", "Noto Sans CJK SC", "Noto Sans SC", "WenQuanYi Micro Hei",
                           "WenQuanYi Zen Hei", "Source Han Sans SC", "AR PL UMing CN"}) {
    if (families.contains(QString::fromUtf8(name))) return QFont(QString::fromUtf8(name), 9);
  }
  QFont font;
  font.setPointSize(9);
  return font;
}

void InstallFileColourDelegate(QListWidget* list) { list->setItemDelegate(new FileColourDelegate(list)); }

void ShowMessageOf(QWidget* owner, window::MessageKind kind, const std::string& text, const std::string& caption) {
  switch (kind) {
    case window::MessageKind::Question: return ShowMessageBox(owner, text, caption);
    case window::MessageKind::Plain: return ShowMessageBox(owner, text, caption, true);
    case window::MessageKind::Notice: return ShowNotice(owner, text, caption);
  }
}

}  // namespace razere::gui
