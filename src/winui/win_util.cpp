#include "winui/win_util.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <uxtheme.h>

#include <algorithm>
#include <vector>

#include "support/ansi.h"

namespace razere::winui {

namespace {

constexpr wchar_t kPageClass[] = L"RazerePage";
constexpr wchar_t kNoticeClass[] = L"RazereNotice";
constexpr int kNoticeOk = 1;

std::vector<HWND>& DialogWindows() {
  static std::vector<HWND> windows;
  return windows;
}

LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      if (msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) {
        // The parent colours its red hint; everything else takes the page's
        // own (themed) background.
        if (LRESULT r = SendMessageW(GetParent(hwnd), msg, wp, lp)) return r;
        return DefWindowProcW(hwnd, msg, wp, lp);
      }
      return SendMessageW(GetParent(hwnd), msg, wp, lp);
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

// A notice: its text, an OK button; closes with either.
LRESULT CALLBACK NoticeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wp) == kNoticeOk || LOWORD(wp) == IDCANCEL) DestroyWindow(hwnd);
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      RemoveDialogWindow(hwnd);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

HFONT WindowFont() {
  static HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"宋体");
  return font;
}

std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8); }
std::string Utf8(const std::wstring& wide) { return WideToUtf8(wide); }

std::string WindowText(HWND hwnd) {
  const int n = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return Utf8(text);
}

void SetWindowTextUtf8(HWND hwnd, const std::string& text) { SetWindowTextW(hwnd, Wide(text).c_str()); }

HWND MakeControl(HWND parent, const wchar_t* cls, const std::string& text, DWORD style, int x, int y, int w, int h,
                 int id, DWORD exStyle) {
  HWND hwnd = CreateWindowExW(exStyle, cls, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  return hwnd;
}

HWND MakeButtonEdit(HWND parent, int editId, int x, int y, int w) {
  // The button takes the last kButtonWidth pixels of the edit's place, as a
  // sibling: a child of the edit is painted over by the edit itself.
  constexpr int kHeight = 21, kButtonWidth = 20;
  HWND edit = MakeControl(parent, L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, x, y, w - kButtonWidth, kHeight, editId,
                          WS_EX_CLIENTEDGE);
  MakeControl(parent, L"BUTTON", "...", BS_PUSHBUTTON, x + w - kButtonWidth, y, kButtonWidth, kHeight,
              editId + kEditButtonOffset);
  return edit;
}

void RegisterWindowClass(const wchar_t* cls, WNDPROC proc, bool dialogBackground) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = dialogBackground ? reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1) : nullptr;
  wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  wc.lpszClassName = cls;
  RegisterClassExW(&wc);
}

HWND MakeTopWindow(const wchar_t* cls, const std::string& caption, DWORD style, DWORD exStyle, int w, int h,
                   HWND owner, void* self) {
  RECT rc{0, 0, w, h};
  AdjustWindowRectEx(&rc, style, FALSE, exStyle);
  const int outerW = rc.right - rc.left, outerH = rc.bottom - rc.top;
  RECT over{};
  if (owner != nullptr) {
    GetWindowRect(owner, &over);
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
  }
  const int x = over.left + ((over.right - over.left) - outerW) / 2;
  const int y = over.top + ((over.bottom - over.top) - outerH) / 2;
  return CreateWindowExW(exStyle, cls, Wide(caption).c_str(), style, std::max(x, 0), std::max(y, 0), outerW, outerH,
                         owner, nullptr, GetModuleHandleW(nullptr), self);
}

HWND MakePage(HWND parent, int x, int y, int w, int h) {
  static bool registered = false;
  if (!registered) {
    RegisterWindowClass(kPageClass, PageProc);
    registered = true;
  }
  HWND page = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD | WS_CLIPSIBLINGS, x, y, w, h, parent,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  EnableThemeDialogTexture(page, ETDT_ENABLETAB);
  return page;
}

void ShowMessage(HWND owner, window::MessageKind kind, const std::string& text, const std::string& caption) {
  if (kind != window::MessageKind::Notice) {
    const UINT icon = kind == window::MessageKind::Question ? MB_ICONQUESTION : 0;
    MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), MB_OK | icon);
    return;
  }
  static bool registered = false;
  if (!registered) {
    RegisterWindowClass(kNoticeClass, NoticeProc);
    registered = true;
  }
  for (HWND open = FindWindowW(kNoticeClass, nullptr); open != nullptr;
       open = FindWindowExW(nullptr, open, kNoticeClass, nullptr)) {
    if (WindowText(GetDlgItem(open, 2)) == text) {
      SetForegroundWindow(open);
      return;
    }
  }
  constexpr int kWidth = 320, kHeight = 110;
  HWND notice = MakeTopWindow(kNoticeClass, caption, WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, kWidth,
                              kHeight, owner, nullptr);
  HICON question = LoadIconW(nullptr, IDI_QUESTION);
  HWND iconCtl = MakeControl(notice, L"STATIC", "", SS_ICON, 16, 16, 32, 32, 3);
  SendMessageW(iconCtl, STM_SETICON, reinterpret_cast<WPARAM>(question), 0);
  MakeControl(notice, L"STATIC", text, SS_LEFT | SS_NOPREFIX, 60, 16, kWidth - 76, 40, 2);
  MakeControl(notice, L"BUTTON", "确定", BS_DEFPUSHBUTTON | WS_TABSTOP, kWidth / 2 - 37, kHeight - 36, 75, 25,
              kNoticeOk);
  AddDialogWindow(notice);
  ShowWindow(notice, SW_SHOWNORMAL);
}

std::optional<std::string> PickFolder(HWND owner, const std::string& title, const std::string& start) {
  const std::wstring wideTitle = Wide(title);
  const std::wstring wideStart = Wide(start);
  BROWSEINFOW bi{};
  bi.hwndOwner = owner;
  bi.lpszTitle = wideTitle.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  bi.lpfn = [](HWND hwnd, UINT msg, LPARAM, LPARAM data) -> int {
    if (msg == BFFM_INITIALIZED && data != 0) SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
  };
  bi.lParam = wideStart.empty() ? 0 : reinterpret_cast<LPARAM>(wideStart.c_str());
  PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&bi);
  if (list == nullptr) return std::nullopt;
  std::wstring path(MAX_PATH * 4, L'\0');
  const bool ok = SHGetPathFromIDListEx(list, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
  CoTaskMemFree(list);
  if (!ok) return std::nullopt;
  path.resize(wcslen(path.c_str()));
  return Utf8(path);
}

namespace {
// "ID (*.DB)" -> "ID (*.DB)\0*.DB\0\0".
std::wstring FilterOf(const std::string& filter) {
  std::string pattern = "*.*";
  const size_t open = filter.rfind('('), close = filter.rfind(')');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    pattern = filter.substr(open + 1, close - open - 1);
  }
  std::wstring out = Wide(filter);
  out.push_back(L'\0');
  out += Wide(pattern);
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

std::optional<std::string> PickFile(HWND owner, const std::string& title, const std::string& filter,
                                    const std::string& start, bool save) {
  const std::wstring wideFilter = FilterOf(filter);
  const std::wstring wideTitle = Wide(title);
  std::wstring file(32768, L'\0');
  const std::wstring initial = Wide(start);
  std::copy(initial.begin(), initial.begin() + static_cast<std::ptrdiff_t>(std::min(initial.size(), file.size() - 1)),
            file.begin());
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = wideFilter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = wideTitle.empty() ? nullptr : wideTitle.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
              (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
  const BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!ok) return std::nullopt;
  file.resize(wcslen(file.c_str()));
  return Utf8(file);
}
}  // namespace

std::optional<std::string> PickOpenFile(HWND owner, const std::string& filter, const std::string& start) {
  return PickFile(owner, "", filter, start, false);
}

std::optional<std::string> PickSaveFile(HWND owner, const std::string& title, const std::string& filter) {
  return PickFile(owner, title, filter, "", true);
}

std::vector<std::string> DroppedPaths(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(static_cast<size_t>(length) + 1, L'\0');
    DragQueryFileW(drop, i, path.data(), length + 1);
    path.resize(length);
    paths.push_back(Utf8(path));
  }
  DragFinish(drop);
  return paths;
}

void AddDialogWindow(HWND hwnd) { DialogWindows().push_back(hwnd); }

void RemoveDialogWindow(HWND hwnd) {
  auto& w = DialogWindows();
  w.erase(std::remove(w.begin(), w.end(), hwnd), w.end());
}

bool IsProgramDialogMessage(MSG& msg) {
  for (HWND hwnd : DialogWindows()) {
    if (hwnd == msg.hwnd || IsChild(hwnd, msg.hwnd)) return IsDialogMessageW(hwnd, &msg) != 0;
  }
  return false;
}

bool PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (IsProgramDialogMessage(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace razere::winui
