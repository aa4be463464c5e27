// The window program: the main window on the taskbar and the event loop.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <system_error>

#include "gui/file_name_dialog.h"
#include "gui/main_window.h"
#include "gui/preview_dialog.h"
#include "gui/widgets.h"
#include "support/file_system.h"

namespace {

// Developer aid for looking at the layout without a person at the screen
// (scripts/screenshot): with RAZERE_SCREENSHOT_DIR set, the program writes a
// PNG of each page, of the pair dialog and of the preview (the dry run of the
// settings it starts with: its counts and renames) there and ends.
int WriteScreenshots(razere::gui::TFrmMain& window, const QString& folder) {
  QTimer::singleShot(200, &window, [&window, folder] {
    window.PageControl->setCurrentIndex(0);
    bool ok = window.grab().save(folder + "/main-merge.png");
    window.PageControl->setCurrentIndex(1);
    ok = window.grab().save(folder + "/main-text.png") && ok;
    razere::gui::TFrmFileName* dialog = window.FileNameDialog();
    dialog->Add(dialog->EditMasterQelServer->text().toStdString() + "Qel200/Envir/Rules.txt");
    dialog->Add(dialog->EditMasterQelServer->text().toStdString() + "Qel200/Envir/Missing.txt");
    dialog->show();
    QTimer::singleShot(200, &window, [&window, dialog, folder, ok] {
      bool all = dialog->grab().save(folder + "/pair-dialog.png") && ok;
      dialog->hide();
      window.PageControl->setCurrentIndex(0);
      window.ButtonPreview->click();  // the dry run runs to its end inside the click
      auto* preview = window.findChild<razere::gui::TPreviewDialog*>();
      if (preview == nullptr) {
        QCoreApplication::exit(1);
        return;
      }
      all = window.grab().save(folder + "/main-after-preview.png") && all;
      QTimer::singleShot(200, &window, [preview, folder, all] {
        bool saved = preview->grab().save(folder + "/preview-counts.png") && all;
        preview->Pages->setCurrentWidget(preview->TableRenames);
        saved = preview->grab().save(folder + "/preview-renames.png") && saved;
        QCoreApplication::exit(saved ? 0 : 1);
      });
    });
  });
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt's own dialogs (the file and folder pickers, their buttons) in the
  // window's language. Without the translations they stay in English.
  QTranslator qtTranslations;
  if (qtTranslations.load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qtTranslations);
  }
  // Config.ini and TextFileName.txt live beside the executable.
  const std::filesystem::path program = razere::ProgramFolder();
  const std::string folder =
      program.empty() ? QCoreApplication::applicationDirPath().toStdString() : razere::TextOfPath(program);
  razere::gui::TFrmMain window({folder, razere::BuiltStages()});
  window.show();
  const QString shots = qEnvironmentVariable("RAZERE_SCREENSHOT_DIR");
  if (!shots.isEmpty()) return WriteScreenshots(window, shots);
  return app.exec();
}
