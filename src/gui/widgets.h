// Small widget helpers shared by the two windows.
#pragma once

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QValidator>
#include <QString>
#include <functional>
#include <string>

#include "window/window_model.h"

class QWidget;
class QListWidget;

namespace razere::gui {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// An edit box with a button embedded at its right end; the button emits
// buttonClicked.
class ButtonEdit : public QLineEdit {
  Q_OBJECT
 public:
  ButtonEdit(QWidget* parent, const char* name, int left, int top, int width);
  // Locked: read-only, and its button does nothing (no picker can change it).
  void SetLocked(bool locked);
 signals:
  void buttonClicked();

 private:
  QAction* button_ = nullptr;
};

// A spin edit without bounds whose value is its text read as a decimal
// integer (0 when it is not a number); the text itself is never refused.
// Its arrows and arrow keys go to OnStep, which sets the stepped text.
class SpinEdit : public QAbstractSpinBox {
  Q_OBJECT
 public:
  SpinEdit(QWidget* parent, const char* name, int left, int top, int width);
  QString Text() const;
  void SetText(const QString& text);
  void stepBy(int steps) override;
  std::function<void(int steps)> OnStep;
  QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }

 protected:
  // Read-only (during a run) it steps neither by its arrows nor by keys.
  StepEnabled stepEnabled() const override { return isReadOnly() ? StepNone : (StepUpEnabled | StepDownEnabled); }
};

// Every operator message goes through here: a modal box with an OK button,
// the question-mark icon and the caption. Tests install a sink so that no
// box is left waiting for a click; the sink returns after "answering".
using MessageSink = std::function<void(const std::string& text, const std::string& caption)>;
void SetMessageSink(MessageSink sink);
// plain: no icon (the program's own notices, captioned with its title).
void ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption, bool plain = false);
// The same box, modal to its owner's window only, returning at once: for a
// notice given while a run works inside the event loop, which a box waiting
// for its click would hold still. A notice still open with the same text is
// raised instead of shown twice.
void ShowNotice(QWidget* owner, const std::string& text, const std::string& caption);
// One of the model's kinds of message through the two above.
void ShowMessageOf(QWidget* owner, window::MessageKind kind, const std::string& text, const std::string& caption);

// The window font: 宋体 at 9 points, or a CJK font of the platform when it is
// missing.
QFont WindowFont();

// Paints a list box line in blue when the named file exists, in red when not.
void InstallFileColourDelegate(QListWidget* list);

using window::FileExists;
using window::FolderExists;

}  // namespace razere::gui
