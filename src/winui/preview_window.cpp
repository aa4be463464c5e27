#include "winui/preview_window.h"

#include <commctrl.h>

#include "app/run_driver.h"
#include "winui/main_window.h"

namespace razere::winui {

namespace {

class PreviewWindow {
 public:
  PreviewWindow(HWND owner, RunReport report) : report_(std::move(report)) {
    RegisterWindowClass(kPreviewClass, Proc);
    hwnd_ = MakeTopWindow(kPreviewClass, window::kPreviewCaption, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                          WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME, 602, 441, owner, this);
    tabs_ = MakeControl(hwnd_, WC_TABCONTROLW, "", WS_CLIPSIBLINGS | WS_TABSTOP, 8, 8, 586, 389, id::PreviewPages);
    const std::vector<window::PreviewTable> tables = window::PreviewTables(report_);
    RECT area{8, 8, 8 + 586, 8 + 389};
    for (size_t t = 0; t < tables.size(); ++t) {
      std::wstring caption = Wide(tables[t].caption);
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = caption.data();
      TabCtrl_InsertItem(tabs_, static_cast<int>(t), &item);
    }
    TabCtrl_AdjustRect(tabs_, FALSE, &area);
    for (size_t t = 0; t < tables.size() && t < 3; ++t) {
      HWND list = MakeControl(hwnd_, WC_LISTVIEWW, "", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP,
                              area.left, area.top, area.right - area.left, area.bottom - area.top,
                              id::PreviewTable + static_cast<int>(t), WS_EX_CLIENTEDGE);
      ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
      const int columns = static_cast<int>(tables[t].headers.size());
      for (int c = 0; c < columns; ++c) {
        std::wstring header = Wide(tables[t].headers[static_cast<size_t>(c)]);
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = header.data();
        col.cx = c + 1 == columns ? (area.right - area.left) - 110 * (columns - 1) - 24 : 110;
        ListView_InsertColumn(list, c, &col);
      }
      int row = 0;
      for (const auto& cells : tables[t].rows) {
        for (int c = 0; c < columns && c < static_cast<int>(cells.size()); ++c) {
          std::wstring cell = Wide(cells[static_cast<size_t>(c)]);
          LVITEMW item{};
          item.mask = LVIF_TEXT;
          item.iItem = row;
          item.iSubItem = c;
          item.pszText = cell.data();
          if (c == 0) {
            ListView_InsertItem(list, &item);
          } else {
            ListView_SetItem(list, &item);
          }
        }
        ++row;
      }
      SetWindowPos(list, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      lists_[t] = list;
    }
    MakeControl(hwnd_, L"BUTTON", "保存报告(&S)", BS_PUSHBUTTON | WS_TABSTOP, 432, 405, 75, 25, id::PreviewSave);
    MakeControl(hwnd_, L"BUTTON", "关闭", BS_PUSHBUTTON | WS_TABSTOP, 519, 405, 75, 25, id::PreviewClose);
    ShowTable(0);
    AddDialogWindow(hwnd_);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = WindowObject<PreviewWindow>(hwnd, msg, lp);
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
    self->hwnd_ = hwnd;
    switch (msg) {
      case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
        if (hdr->hwndFrom == self->tabs_ && hdr->code == TCN_SELCHANGE) self->ShowTable(TabCtrl_GetCurSel(self->tabs_));
        return 0;
      }
      case WM_COMMAND:
        if (LOWORD(wp) == id::PreviewSave) self->Save();
        if (LOWORD(wp) == id::PreviewClose || LOWORD(wp) == IDCANCEL) DestroyWindow(hwnd);
        return 0;
      case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
      case WM_NCDESTROY:
        RemoveDialogWindow(hwnd);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        delete self;
        return 0;
      default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
  }

 private:
  void ShowTable(int page) {
    TabCtrl_SetCurSel(tabs_, page);
    for (int t = 0; t < 3; ++t) {
      if (lists_[t]) ShowWindow(lists_[t], t == page ? SW_SHOW : SW_HIDE);
    }
  }

  void Save() {
    const auto path = PickSaveFile(hwnd_, "保存报告", "报告 (*.json)");
    if (!path) return;
    const std::string error = window::SavePreviewReport(report_, *path);
    if (!error.empty()) ShowMessage(hwnd_, window::MessageKind::Question, error, kCaption);
  }

  RunReport report_;
  HWND hwnd_ = nullptr;
  HWND tabs_ = nullptr;
  HWND lists_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace

void OpenPreview(HWND owner, const RunReport& report) { new PreviewWindow(owner, report); }

}  // namespace razere::winui
