// razere.exe: the window for Windows. Config.ini and TextFileName.txt live
// beside the program.
#include "winui/main_window.h"

#include <commctrl.h>
#include <objbase.h>

#include <exception>

#include "support/file_system.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  // The folder picker's new style needs COM in a single-threaded apartment.
  OleInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS |
                                                      ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  int status = 0;
  try {
    razere::winui::MainWindow window(razere::TextOfPath(razere::ProgramFolder()), razere::BuiltStages());
    ShowWindow(window.Hwnd(), show == SW_HIDE ? SW_SHOWNORMAL : show);
    UpdateWindow(window.Hwnd());
    window.Model().SetStartEnabled(true);  // the focus on 开始合并
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (razere::winui::IsProgramDialogMessage(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    status = static_cast<int>(msg.wParam);
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, razere::winui::Wide(e.what()).c_str(), L"razere", MB_OK | MB_ICONERROR);
    status = 3;
  }
  OleUninitialize();
  return status;
}
