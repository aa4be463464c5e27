// Small pieces of the Windows window shared by its three windows: making
// controls, their texts as UTF-8, the window font, the modal and modeless
// messages, the pickers and the message pump.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "window/window_model.h"

namespace razere::winui {

// Client size of the main window, pixels (the layout is in pixels of a
// 96-DPI screen; the program is not DPI-aware, so the system scales it).
inline constexpr int kMainWidth = 753;
inline constexpr int kMainHeight = 468;

// 宋体 at 9 points with the GB2312 character set.
HFONT WindowFont();

// A child control with the window font; text is UTF-8.
HWND MakeControl(HWND parent, const wchar_t* cls, const std::string& text, DWORD style, int x, int y, int w, int h,
                 int id, DWORD exStyle = 0);

// An edit box with its picker button at its right end, together w pixels
// wide; the button's id is editId + kEditButtonOffset.
inline constexpr int kEditButtonOffset = 500;
HWND MakeButtonEdit(HWND parent, int editId, int x, int y, int w);

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string WindowText(HWND hwnd);
void SetWindowTextUtf8(HWND hwnd, const std::string& text);

// Makes a top-level window of client size w x h centred over owner (or the
// screen), not yet shown.
HWND MakeTopWindow(const wchar_t* cls, const std::string& caption, DWORD style, DWORD exStyle, int w, int h,
                   HWND owner, void* self);
// Registers a window class whose procedure hands messages to the object
// stored at creation (GWLP_USERDATA): static LRESULT T::Proc(T*, HWND, ...).
void RegisterWindowClass(const wchar_t* cls, WNDPROC proc, bool dialogBackground = true);

// The object a window was made for (the last argument of CreateWindowExW),
// kept in GWLP_USERDATA from WM_NCCREATE on; null before.
template <class T>
T* WindowObject(HWND hwnd, UINT msg, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// A page of the main window's or the preview's tab control: a plain child
// window that passes its controls' notifications to its parent.
HWND MakePage(HWND parent, int x, int y, int w, int h);

// The three kinds of message: Question and Plain through MessageBoxW (modal
// to owner), Notice in a small window that does not block (one per text: a
// notice still open with the same text is brought to the front).
void ShowMessage(HWND owner, window::MessageKind kind, const std::string& text, const std::string& caption);

// The folder picker (SHBrowseForFolderW) starting at start; nullopt when cancelled.
std::optional<std::string> PickFolder(HWND owner, const std::string& title, const std::string& start);
// GetOpenFileNameW with one filter "display (pattern)"; nullopt when cancelled.
std::optional<std::string> PickOpenFile(HWND owner, const std::string& filter, const std::string& start);
std::optional<std::string> PickSaveFile(HWND owner, const std::string& title, const std::string& filter);

// The paths of a shell drop (WM_DROPFILES), which it then releases. Each
// path's length is asked first, so no path is cut however long.
std::vector<std::string> DroppedPaths(HDROP drop);

// Runs every pending message, the dialog keys of the program's windows
// included. Returns false once WM_QUIT was seen (it is posted again for
// the main loop).
bool PumpMessages();
// Translates dialog keys (Tab, Enter) for the program's top-level windows.
bool IsProgramDialogMessage(MSG& msg);
void AddDialogWindow(HWND hwnd);
void RemoveDialogWindow(HWND hwnd);

}  // namespace razere::winui
