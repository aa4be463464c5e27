// Drives a running razere.exe from another process through the platform's
// own messages, as an operator's actions arrive: the window found by its
// class, its controls by their ids. Used by the end-to-end test of the
// Windows window (tests/e2e/windows_build_test.cpp), under Wine.
//
//   razere-window-driver merge [--click]
//       Waits for the window; with --click presses 开始合并 (BM_CLICK),
//       otherwise waits for somebody else to (a mouse click). Watches the
//       run: every edit must be read-only while it works, the close request
//       refused; afterwards the focus must be on 开始合并, typed keys must
//       reach no edit, and the status must read "合区完成". Then closes the
//       window. Prints one line per finding; exit 0 when all hold.
//   razere-window-driver type TEXT     (the keys to the focused control)
//   razere-window-driver close
//   razere-window-driver hold FILE SECONDS
//       Stands in for a game server that keeps a data file open: opens FILE
//       for writing, sharing it with readers only, prints "held" once it has
//       it, and keeps it open for SECONDS (or until killed). Exit 1 when the
//       file cannot be opened.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// Control ids of the window (src/winui/main_window.h).
constexpr int kButtonOK = 1001;
constexpr int kLabelMsg = 1003;
constexpr int kEditIds[] = {1010, 1011, 1012, 1013, 1014, 1100, 1101, 1102, 1103, 1104, 1105, 1106, 1107,
                            1108, 1109, 1200, 1201, 1202, 1203, 1204, 1205, 1206, 1207, 1208, 1209};

int failures = 0;

void Fail(const std::string& what) {
  std::printf("FAIL %s\n", what.c_str());
  ++failures;
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring WideOf(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
  out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
  return out;
}

// WM_GETTEXT with a time-out: the window's thread may be inside a run.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10000, &length)) return L"<no answer>";
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, 10000, &got);
  text.resize(got);
  return text;
}

HWND WaitForWindow(const wchar_t* cls, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    if (HWND hwnd = FindWindowW(cls, nullptr); hwnd != nullptr && IsWindowVisible(hwnd)) return hwnd;
    Sleep(50);
  }
  return nullptr;
}

// Every descendant of a top-level window by control id.
std::map<int, HWND> ControlsOf(HWND top) {
  std::map<int, HWND> controls;
  EnumChildWindows(
      top,
      [](HWND child, LPARAM lp) -> BOOL {
        reinterpret_cast<std::map<int, HWND>*>(lp)->emplace(GetDlgCtrlID(child), child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&controls));
  return controls;
}

bool ReadOnly(HWND edit) { return (GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) != 0; }

void TypeKeys(const wchar_t* text) {
  for (const wchar_t* c = text; *c; ++c) {
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wScan = in[1].ki.wScan = static_cast<WORD>(*c);
    in[0].ki.dwFlags = KEYEVENTF_UNICODE;
    in[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof(INPUT));
  }
}

int Merge(bool click) {
  HWND main = WaitForWindow(L"TFrmMain", 60000);
  if (main == nullptr) {
    Fail("no razere window");
    return 1;
  }
  std::map<int, HWND> c = ControlsOf(main);
  HWND ok = c[kButtonOK], status = c[kLabelMsg];
  std::map<int, std::wstring> before;
  for (int id : kEditIds) {
    if (c[id] == nullptr) Fail("no control " + std::to_string(id));
    before[id] = TextOf(c[id]);
  }
  if (click) PostMessageW(ok, BM_CLICK, 0, 0);

  // The run: from the start button's disabling to its enabling again.
  bool sawRun = false, triedClose = false;
  const DWORD start = GetTickCount();
  for (;;) {
    if (GetTickCount() - start > 300000) {
      Fail("the run did not end within 300 s");
      return 1;
    }
    const bool running = !IsWindowEnabled(ok);
    // Started by a mouse click before this driver looked: over already.
    if (!running && !click && !sawRun && Utf8(TextOf(status)).rfind("合区完成", 0) == 0) {
      std::printf("the run was over before the driver looked\n");
      break;
    }
    if (running) {
      sawRun = true;
      for (int id : kEditIds) {
        if (!ReadOnly(c[id])) Fail("edit " + std::to_string(id) + " writable during the run");
      }
      if (!triedClose) {
        triedClose = true;
        PostMessageW(main, WM_CLOSE, 0, 0);
      }
    } else if (sawRun) {
      break;
    }
    Sleep(5);
  }
  Sleep(200);
  if (!IsWindow(main)) {
    Fail("the window closed during the run");
    return 1;
  }
  const std::string shown = Utf8(TextOf(status));
  std::printf("status %s\n", shown.c_str());
  if (shown.rfind("合区完成", 0) != 0) Fail("status after the run: " + shown);
  for (int id : kEditIds) {
    if (ReadOnly(c[id])) Fail("edit " + std::to_string(id) + " still read-only after the run");
  }
  GUITHREADINFO gui{};
  gui.cbSize = sizeof(gui);
  GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui);
  if (gui.hwndFocus != ok) Fail("the focus after the run is not on the start button");

  // Keys typed now reach no edit. A notice left open by the refused close
  // goes first, so that the keys go to the main window.
  if (HWND notice = FindWindowW(L"RazereNotice", nullptr)) PostMessageW(notice, WM_CLOSE, 0, 0);
  SetForegroundWindow(main);
  Sleep(200);
  TypeKeys(L"xyz");
  Sleep(500);
  for (int id : kEditIds) {
    if (TextOf(c[id]) != before[id]) Fail("edit " + std::to_string(id) + " changed by typed keys");
  }
  PostMessageW(main, WM_CLOSE, 0, 0);
  for (int waited = 0; IsWindow(main) && waited < 10000; waited += 50) Sleep(50);
  if (IsWindow(main)) Fail("the window did not close after the run");
  std::printf(failures == 0 ? "ok\n" : "failed\n");
  return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
  if (!args.empty() && args[0] == "merge") return Merge(args.size() > 1 && args[1] == "--click");
  if (args.size() == 2 && args[0] == "type") {  // a check of the driver itself: keys to the focused control
    if (HWND main = WaitForWindow(L"TFrmMain", 10000)) SetForegroundWindow(main);
    TypeKeys(WideOf(args[1].c_str()).c_str());
    return 0;
  }
  if (args.size() == 3 && args[0] == "hold") {
    const HANDLE h = CreateFileW(WideOf(args[1].c_str()).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      std::printf("cannot open %s: error %lu\n", args[1].c_str(), GetLastError());
      return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::stoul(args[2])) * 1000);
    CloseHandle(h);
    return 0;
  }
  if (!args.empty() && args[0] == "close") {
    if (HWND main = FindWindowW(L"TFrmMain", nullptr)) PostMessageW(main, WM_CLOSE, 0, 0);
    return 0;
  }
  std::fprintf(stderr, "usage: razere-window-driver merge [--click] | type TEXT | close | hold FILE SECONDS\n");
  return 2;
}
