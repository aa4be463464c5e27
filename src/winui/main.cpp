// razere.exe: the window for Windows. Config.ini and TextFileName.txt live
// beside the program.
#include "winui/main_window.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

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
    // Developer aid for pictures of the pair dialog (scripts/screenshot),
    // which only a drop opens: RAZERE_DEMO_DROP names files, divided by
    // "|", taken as if dropped onto the window.
    if (const wchar_t* demo = _wgetenv(L"RAZERE_DEMO_DROP"); demo != nullptr && *demo != L'\0') {
      std::vector<std::string> paths;
      const std::string all = razere::winui::Utf8(demo);
      for (size_t at = 0; at <= all.size();) {
        const size_t bar = std::min(all.find('|', at), all.size());
        if (bar > at) paths.push_back(all.substr(at, bar - at));
        at = bar + 1;
      }
      window.Model().ShellDrop(paths);
    }
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
