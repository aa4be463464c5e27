// The window program: the main window on the taskbar and the event loop.
#include <QApplication>
#include <filesystem>
#include <system_error>

#include "gui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Config.ini and TextFileName.txt live beside the executable.
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::string folder = ec ? QCoreApplication::applicationDirPath().toStdString() : exe.parent_path().string();
  razere::gui::TFrmMain window({folder, razere::BuiltStages()});
  window.show();
  return app.exec();
}
