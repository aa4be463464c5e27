#include "winui/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <map>

#include "winui/preview_window.h"

namespace razere::winui {

using window::ButtonId;
using window::CheckId;
using window::EditId;
using window::Side;

namespace {

// WM_COPYGLOBALDATA: the shell sends it with a drop; an elevated window must
// let it through as well as WM_DROPFILES.
constexpr UINT kCopyGlobalData = 0x0049;

// Every control by id, whatever window it is a child of.
std::map<int, HWND>& Controls() {
  static std::map<int, HWND> controls;
  return controls;
}

HWND Remember(int control, HWND hwnd) {
  Controls()[control] = hwnd;
  return hwnd;
}

HWND Label(HWND parent, const char* text, int x, int y, DWORD style = SS_LEFT) {
  // As wide as its text: measured with the window font.
  HDC dc = GetDC(parent);
  HGDIOBJ old = SelectObject(dc, WindowFont());
  const std::wstring wide = Wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(parent, dc);
  return MakeControl(parent, L"STATIC", text, style | SS_NOPREFIX, x, y, size.cx + 2, size.cy, -1);
}

HWND CheckBox(HWND parent, int control, const char* text, int x, int y, int w) {
  return Remember(control, MakeControl(parent, L"BUTTON", text, BS_AUTOCHECKBOX | WS_TABSTOP, x, y, w, 17, control));
}

HWND Button(HWND parent, int control, const char* text, int x, int y) {
  return Remember(control, MakeControl(parent, L"BUTTON", text, BS_PUSHBUTTON | WS_TABSTOP, x, y, 75, 25, control));
}

HWND Group(HWND parent, const char* title, int x, int y, int w, int h) {
  return MakeControl(parent, L"BUTTON", title, BS_GROUPBOX, x, y, w, h, -1);
}

int CheckControl(CheckId id) {
  switch (id) {
    case CheckId::AutoSaveDBMasterServer: return id::CheckBoxAutoSaveDBMasterServer;
    case CheckId::BackDB: return id::CheckBoxBackDB;
    case CheckId::SortItemMakeIndex: return id::CheckBoxSortItemMakeIndex;
    case CheckId::Gmm: return id::CheckBoxGmm;
    case CheckId::Clear1: return id::CheckBoxClear1;
  }
  return 0;
}

int ButtonControl(ButtonId id) {
  switch (id) {
    case ButtonId::OK: return id::ButtonOK;
    case ButtonId::Preview: return id::ButtonPreview;
    case ButtonId::AddFilleName: return id::ButtonAddFilleName;
    case ButtonId::DelFilleName: return id::ButtonDelFilleName;
    case ButtonId::SaveFilleName: return id::ButtonSaveFilleName;
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// The main window
// ---------------------------------------------------------------------------

MainWindow::MainWindow(std::string programFolder, RunStages stages)
    : programFolder_(std::move(programFolder)), stages_(std::move(stages)) {
  RegisterWindowClass(kMainClass, Proc);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  hwnd_ = MakeTopWindow(kMainClass, window::MainWindowModel::Caption(), style, WS_EX_CONTROLPARENT, kMainWidth,
                        kMainHeight, nullptr, this);
  BuildControls();
  pairs_ = std::make_unique<PairDialog>(hwnd_);
  model_ = std::make_unique<window::MainWindowModel>(*this, *pairs_, programFolder_, stages_);
  pairs_->SetModel(&model_->Pairs());
  ready_ = true;
  model_->FormCreate();

  DragAcceptFiles(hwnd_, TRUE);
  ChangeWindowMessageFilterEx(hwnd_, WM_DROPFILES, MSGFLT_ALLOW, nullptr);
  ChangeWindowMessageFilterEx(hwnd_, kCopyGlobalData, MSGFLT_ALLOW, nullptr);
  AddDialogWindow(hwnd_);
}

MainWindow::~MainWindow() {
  RemoveDialogWindow(hwnd_);
  ready_ = false;
}

HWND MainWindow::ButtonEdit(HWND parent, int editId, int x, int y, int w) {
  HWND edit = Remember(editId, MakeButtonEdit(parent, editId, x, y, w));
  Remember(editId + id::EditButton, GetDlgItem(parent, editId + id::EditButton));
  return edit;
}

HWND MainWindow::SpinEdit(HWND parent, int editId, int x, int y, int w) {
  HWND edit = Remember(editId, MakeControl(parent, L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, x, y, w, 21, editId,
                                           WS_EX_CLIENTEDGE));
  // The arrows step through the model, in plain digits, over the whole
  // 32-bit range: no thousands separator ("1,000" would read as 0).
  HWND arrows = Remember(editId + id::SpinArrows,
                         MakeControl(parent, UPDOWN_CLASSW, "", UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0,
                                     0, 0, 0, editId + id::SpinArrows));
  SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
  SendMessageW(arrows, UDM_SETRANGE32, static_cast<WPARAM>(INT32_MIN), static_cast<LPARAM>(INT32_MAX));
  return edit;
}

void MainWindow::BuildControls() {
  HWND w = hwnd_;
  // Group "基本设置".
  Group(w, "基本设置", 8, 8, 737, 81);
  const int gx = 8, gy = 8;
  Label(w, "保存目录:", gx + 8, gy + 24);
  ButtonEdit(w, id::EditSavePath, gx + 64, gy + 20, 193);
  CheckBox(w, id::CheckBoxAutoSaveDBMasterServer, "合区完成后，新数据自动替换到主区", gx + 264, gy + 16, 212);
  CheckBox(w, id::CheckBoxBackDB, "替换前备份数据", gx + 264, gy + 32, 120);
  CheckBox(w, id::CheckBoxSortItemMakeIndex, "重新排列物品ID", gx + 480, gy + 16, 120);
  CheckBox(w, id::CheckBoxGmm, "合并寄买卖数据", gx + 612, gy + 16, 115);
  CheckBox(w, id::CheckBoxClear1, "清理", gx + 8, gy + 50, 46);
  SpinEdit(w, id::EditClearMinDay, gx + 56, gy + 48, 49);
  MakeControl(w, L"STATIC", "天未登录并且等级小于", SS_RIGHT | SS_NOPREFIX, gx + 106, gy + 52, 124, 14, -1);
  SpinEdit(w, id::EditClearMinLevel, gx + 234, gy + 48, 49);
  Label(w, "级", gx + 288, gy + 52);
  const struct {
    const char* text;
    int x, y, w;
  } fixed[] = {{"清理人物(无数据角色)", 304, 50, 140}, {"清理账号(无角色账号)", 448, 50, 140},
               {"清理已读无物品邮件", 594, 49, 135}};
  for (const auto& f : fixed) {
    HWND box = MakeControl(w, L"BUTTON", f.text, BS_AUTOCHECKBOX, gx + f.x, gy + f.y, f.w, 17, -1);
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    EnableWindow(box, FALSE);
  }

  // The two pages.
  HWND tabs = Remember(id::PageControl, MakeControl(w, WC_TABCONTROLW, "", WS_CLIPSIBLINGS | WS_TABSTOP, 8, 96, 737,
                                                    313, id::PageControl));
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  std::wstring caption = L"数据合并";
  item.pszText = caption.data();
  TabCtrl_InsertItem(tabs, 0, &item);
  caption = L"文本设置";
  item.pszText = caption.data();
  TabCtrl_InsertItem(tabs, 1, &item);
  RECT area{8, 96, 8 + 737, 96 + 313};
  TabCtrl_AdjustRect(tabs, FALSE, &area);
  for (HWND& page : pages_) {
    page = MakePage(w, area.left, area.top, area.right - area.left, area.bottom - area.top);
    SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }

  // 数据合并: one group per side.
  for (Side side : {Side::Master, Side::Slave}) {
    const int left = side == Side::Master ? 8 : 368;
    const int base = side == Side::Master ? id::SideMaster : id::SideSlave;
    Group(pages_[0], side == Side::Master ? "主库" : "从库", left, 8, 353, 265);
    for (size_t i = 0; i < kSideRows.size(); ++i) {
      const SideRow& row = kSideRows[i];
      if (row.edit == nullptr) continue;
      MakeControl(pages_[0], L"STATIC", row.label, SS_LEFT | SS_NOPREFIX, left + 8, 8 + row.top + 4, 78, 14, -1);
      ButtonEdit(pages_[0], base + static_cast<int>(i), left + 88, 8 + row.top, 257);
    }
  }

  // 文本设置.
  HWND text = pages_[1];
  Label(text, "主库", 8, 8);
  ButtonEdit(text, id::EditFileNameMaster, 40, 4, 321);
  Label(text, "从库", 368, 8);
  ButtonEdit(text, id::EditFileNameSlave, 400, 4, 321);
  Remember(id::ListBoxFileName,
           MakeControl(text, L"LISTBOX", "", LBS_EXTENDEDSEL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL |
                                              WS_HSCROLL | WS_TABSTOP,
                       0, 32, 721, 217, id::ListBoxFileName, WS_EX_CLIENTEDGE));
  hint_ = Label(text, "选择需要合并的文本拖到程序里", 8, 264);
  Button(text, id::ButtonSaveFilleName, "保存(&S)", 480, 256);
  Button(text, id::ButtonAddFilleName, "添加(&A)", 560, 256);
  Button(text, id::ButtonDelFilleName, "删除(&D)", 648, 256);

  // Bottom of the window.
  Label(w, "razere 合区工具", 8, 419);
  Label(w, "本地数据合并，无需联网", 200, 418);
  Button(w, id::ButtonOK, "开始合并", 344, 414);
  // Cut in the middle when too wide; the whole text in its tooltip.
  Remember(id::LabelMsg,
           MakeControl(w, L"STATIC", "", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS | SS_NOTIFY, 432, 419, 226, 14,
                       id::LabelMsg));
  Button(w, id::ButtonPreview, "预览", 664, 414);
  HWND bar = Remember(id::ProgressBar, MakeControl(w, PROGRESS_CLASSW, "", 0, 0, kMainHeight - 17, kMainWidth, 17,
                                                   id::ProgressBar));
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, w, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = w;
  tool.uId = reinterpret_cast<UINT_PTR>(Control(id::LabelMsg));
  tool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 600);
  ShowPage(0);
}

HWND MainWindow::Control(int control) const {
  auto it = Controls().find(control);
  return it == Controls().end() ? nullptr : it->second;
}

int MainWindow::EditControlId(EditId e) {
  switch (e.kind) {
    case EditId::SavePath: return id::EditSavePath;
    case EditId::ClearMinDay: return id::EditClearMinDay;
    case EditId::ClearMinLevel: return id::EditClearMinLevel;
    case EditId::FileNameMaster: return id::EditFileNameMaster;
    case EditId::FileNameSlave: return id::EditFileNameSlave;
    case EditId::SideRow: return (e.side == Side::Master ? id::SideMaster : id::SideSlave) + e.row;
  }
  return 0;
}

std::optional<EditId> MainWindow::EditOfControl(int control) {
  for (const EditId& e : window::AllEdits()) {
    if (EditControlId(e) == control) return e;
  }
  return std::nullopt;
}

HWND MainWindow::Edit(EditId e) const { return Control(EditControlId(e)); }

std::string MainWindow::EditText(EditId e) const { return WindowText(Edit(e)); }

void MainWindow::SetEditText(EditId e, const std::string& text) { SetWindowTextUtf8(Edit(e), text); }

void MainWindow::SetEditLocked(EditId e, bool locked) {
  SendMessageW(Edit(e), EM_SETREADONLY, locked, 0);
  const int extra = e.IsSpin() ? id::SpinArrows : id::EditButton;
  if (HWND button = Control(EditControlId(e) + extra)) EnableWindow(button, !locked);
}

bool MainWindow::Checked(CheckId c) const {
  return SendMessageW(Control(CheckControl(c)), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::SetChecked(CheckId c, bool on) {
  SendMessageW(Control(CheckControl(c)), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::SetCheckVisible(CheckId c, bool visible) {
  ShowWindow(Control(CheckControl(c)), visible ? SW_SHOW : SW_HIDE);
}

void MainWindow::SetCheckEnabled(CheckId c, bool enabled) { EnableWindow(Control(CheckControl(c)), enabled); }

void MainWindow::SetButtonEnabled(ButtonId b, bool enabled) { EnableWindow(Control(ButtonControl(b)), enabled); }

void MainWindow::SetPairLines(const std::vector<std::string>& lines) {
  HWND list = Control(id::ListBoxFileName);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const std::string& line : lines) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line).c_str()));
  }
}

std::vector<size_t> MainWindow::SelectedPairRows() const {
  HWND list = Control(id::ListBoxFileName);
  const LRESULT count = SendMessageW(list, LB_GETSELCOUNT, 0, 0);
  if (count <= 0) return {};
  std::vector<int> rows(static_cast<size_t>(count));
  const LRESULT got = SendMessageW(list, LB_GETSELITEMS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(rows.data()));
  std::vector<size_t> out;
  for (LRESULT i = 0; i < got; ++i) out.push_back(static_cast<size_t>(rows[static_cast<size_t>(i)]));
  return out;
}

void MainWindow::ShowPage(int page) {
  TabCtrl_SetCurSel(Control(id::PageControl), page);
  ShowWindow(pages_[0], page == 0 ? SW_SHOW : SW_HIDE);
  ShowWindow(pages_[1], page == 1 ? SW_SHOW : SW_HIDE);
}

void MainWindow::SetStatus(const std::string& text) {
  status_ = text;
  HWND label = Control(id::LabelMsg);
  SetWindowTextUtf8(label, text);
  // The whole text as the tooltip, only when the label cuts it.
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, WindowFont());
  const std::wstring wide = Wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  RECT rc{};
  GetClientRect(label, &rc);
  std::wstring tip = size.cx > rc.right - rc.left ? wide : std::wstring();
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(label);
  tool.lpszText = tip.data();
  SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void MainWindow::SetProgress(int32_t position, int32_t minimum, int32_t maximum) {
  HWND bar = Control(id::ProgressBar);
  if (maximum <= minimum) {
    SendMessageW(bar, PBM_SETRANGE32, 0, 1);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    return;
  }
  SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(minimum), static_cast<LPARAM>(maximum));
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

std::optional<std::string> MainWindow::PickFile(const std::string& filter, const std::string& start) {
  return PickOpenFile(hwnd_, filter, start);
}

std::optional<std::string> MainWindow::PickFolder(const std::string& title, const std::string& start) {
  return winui::PickFolder(hwnd_, title, start);
}

void MainWindow::Message(window::MessageKind kind, const std::string& text, const std::string& caption) {
  ShowMessage(hwnd_, kind, text, caption);
}

void MainWindow::FocusWindow() { SetFocus(hwnd_); }
void MainWindow::FocusStart() { SetFocus(Control(id::ButtonOK)); }
void MainWindow::ProcessEvents() {
  if (!PumpMessages()) model_->SetShuttingDown();
}

void MainWindow::ShowPreview(const RunReport& report) { OpenPreview(hwnd_, report); }

void MainWindow::Command(int control, int code) {
  if (!ready_) return;
  if (const std::optional<EditId> e = EditOfControl(control)) {
    if (code == EN_CHANGE) model_->EditChanged(*e, EditText(*e));
    return;
  }
  if (control > id::EditButton) {
    if (const std::optional<EditId> e = EditOfControl(control - id::EditButton); e && code == BN_CLICKED) {
      model_->EditButtonClicked(*e);
      return;
    }
  }
  if (code == BN_CLICKED) {
    for (CheckId c : {CheckId::AutoSaveDBMasterServer, CheckId::BackDB, CheckId::SortItemMakeIndex, CheckId::Gmm,
                      CheckId::Clear1}) {
      if (CheckControl(c) == control) return model_->CheckClicked(c, Checked(c));
    }
    switch (control) {
      case id::ButtonOK: return model_->ButtonOKClick();
      case id::ButtonPreview: return model_->ButtonPreviewClick();
      case id::ButtonAddFilleName: return model_->ButtonAddFilleNameClick();
      case id::ButtonDelFilleName: return model_->ButtonDelFilleNameClick();
      case id::ButtonSaveFilleName: return model_->ButtonSaveFilleNameClick();
      default: break;
    }
  }
  if (control == id::ListBoxFileName && code == LBN_SELCHANGE) model_->PairSelectionChanged();
}

void MainWindow::Drop(HDROP drop) {
  model_->ShellDrop(DroppedPaths(drop));
}

LRESULT CALLBACK MainWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowObject<MainWindow>(hwnd, msg, lp);
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  self->hwnd_ = hwnd;
  return self->Handle(msg, wp, lp);
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      Command(LOWORD(wp), HIWORD(wp));
      return 0;
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
      if (hdr->idFrom == static_cast<UINT_PTR>(id::PageControl) && hdr->code == TCN_SELCHANGE) {
        ShowPage(TabCtrl_GetCurSel(hdr->hwndFrom));
        return 0;
      }
      if (hdr->code == UDN_DELTAPOS && ready_) {
        const auto* delta = reinterpret_cast<const NMUPDOWN*>(lp);
        const int edit = static_cast<int>(hdr->idFrom) - id::SpinArrows;
        if (const std::optional<EditId> e = EditOfControl(edit)) model_->SpinStepped(*e, delta->iDelta);
        return TRUE;  // the arrows keep no position of their own
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lp) == hint_) {
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, RGB(255, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
      }
      if (GetParent(reinterpret_cast<HWND>(lp)) != hwnd_) return 0;  // a page's own background
      break;
    case WM_DROPFILES:
      Drop(reinterpret_cast<HDROP>(wp));
      return 0;
    case WM_CLOSE:
      if (ready_ && !model_->CloseRequested()) return 0;
      DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

// ---------------------------------------------------------------------------
// The pair dialog
// ---------------------------------------------------------------------------

PairDialog::PairDialog(HWND owner) : owner_(owner) {
  RegisterWindowClass(kPairClass, Proc);
  hwnd_ = MakeTopWindow(kPairClass, window::kPairDialogCaption, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                        WS_EX_TOPMOST | WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME, 602, 581, owner, this);
  for (Side side : {Side::Master, Side::Slave}) {
    const int top = side == Side::Master ? 8 : 280;
    Group(hwnd_, side == Side::Master ? "主库" : "从库", 16, top, 577, 257);
    MakeControl(hwnd_, L"STATIC", "QelServer:", SS_LEFT, 24, top + 24, 64, 14, -1);
    const int editId = side == Side::Master ? id::EditMasterQelServer : id::EditSlaveQelServer;
    HWND edit = MakeButtonEdit(hwnd_, editId, 16 + 88, top + 20, 257);
    const int listId = side == Side::Master ? id::ListBoxMaster : id::ListBoxSlave;
    HWND list = MakeControl(hwnd_, L"LISTBOX", "",
                            LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP,
                            24, top + 48, 561, 193, listId, WS_EX_CLIENTEDGE);
    (side == Side::Master ? rootMaster_ : rootSlave_) = edit;
    (side == Side::Master ? listMaster_ : listSlave_) = list;
  }
  MakeControl(hwnd_, L"BUTTON", "添加(&A)", BS_PUSHBUTTON | WS_TABSTOP, 271, 544, 75, 25, id::PairAdd);
  MakeControl(hwnd_, L"BUTTON", "清空", BS_PUSHBUTTON | WS_TABSTOP, 360, 544, 75, 25, id::PairClear);
  DragAcceptFiles(hwnd_, TRUE);
  ChangeWindowMessageFilterEx(hwnd_, WM_DROPFILES, MSGFLT_ALLOW, nullptr);
  ChangeWindowMessageFilterEx(hwnd_, kCopyGlobalData, MSGFLT_ALLOW, nullptr);
  AddDialogWindow(hwnd_);
}

PairDialog::~PairDialog() { RemoveDialogWindow(hwnd_); }

std::string PairDialog::RootText(Side side) const { return WindowText(Root(side)); }

void PairDialog::SetRootText(Side side, const std::string& text) { SetWindowTextUtf8(Root(side), text); }

void PairDialog::SetLines(const std::vector<std::string>& master, const std::vector<std::string>& slave) {
  for (auto [list, lines] : {std::pair{listMaster_, &master}, std::pair{listSlave_, &slave}}) {
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : *lines) {
      SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line).c_str()));
    }
  }
}

void PairDialog::ShowNearOwner() {
  if (!IsWindowVisible(hwnd_)) {
    RECT owner{}, self{};
    GetWindowRect(owner_, &owner);
    GetWindowRect(hwnd_, &self);
    const int w = self.right - self.left, h = self.bottom - self.top;
    SetWindowPos(hwnd_, HWND_TOPMOST, (owner.left + owner.right - w) / 2, (owner.top + owner.bottom - h) / 2, 0, 0,
                 SWP_NOSIZE);
  }
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
}

void PairDialog::Hide() { ShowWindow(hwnd_, SW_HIDE); }

void PairDialog::FocusRoot(Side side) { SetFocus(Root(side)); }

void PairDialog::Message(window::MessageKind kind, const std::string& text, const std::string& caption) {
  ShowMessage(hwnd_, kind, text, caption);
}

std::optional<std::string> PairDialog::PickFolder(const std::string& title, const std::string& start) {
  return winui::PickFolder(hwnd_, title, start);
}

LRESULT CALLBACK PairDialog::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowObject<PairDialog>(hwnd, msg, lp);
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  self->hwnd_ = hwnd;
  return self->Handle(msg, wp, lp);
}

LRESULT PairDialog::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND: {
      if (model_ == nullptr || HIWORD(wp) != BN_CLICKED) return 0;
      switch (LOWORD(wp)) {
        case id::PairAdd: model_->ButtonAddFilleNameClick(); break;
        case id::PairClear: model_->ButtonClearClick(); break;
        case id::EditMasterQelServer + id::EditButton: model_->PickRoot(Side::Master); break;
        case id::EditSlaveQelServer + id::EditButton: model_->PickRoot(Side::Slave); break;
        case IDCANCEL: Hide(); break;
        default: break;
      }
      return 0;
    }
    case WM_DRAWITEM: {
      // Blue for a file that exists, red for one that does not.
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (item->itemID == static_cast<UINT>(-1)) return TRUE;
      const LRESULT length = SendMessageW(item->hwndItem, LB_GETTEXTLEN, item->itemID, 0);
      std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
      SendMessageW(item->hwndItem, LB_GETTEXT, item->itemID, reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<size_t>(std::max<LRESULT>(length, 0)));
      const bool selected = (item->itemState & ODS_SELECTED) != 0;
      FillRect(item->hDC, &item->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
      SetBkMode(item->hDC, TRANSPARENT);
      SetTextColor(item->hDC, window::FileExists(Utf8(text)) ? RGB(0, 0, 255) : RGB(255, 0, 0));
      HGDIOBJ old = SelectObject(item->hDC, WindowFont());
      RECT rc = item->rcItem;
      DrawTextW(item->hDC, text.c_str(), static_cast<int>(text.size()), &rc, DT_LEFT | DT_TOP | DT_NOPREFIX);
      SelectObject(item->hDC, old);
      return TRUE;
    }
    case WM_DROPFILES: {
      const std::vector<std::string> paths = DroppedPaths(reinterpret_cast<HDROP>(wp));
      if (model_) model_->ShellDrop(paths);
      return 0;
    }
    case WM_CLOSE:
      Hide();
      return 0;
    default:
      return DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

}  // namespace razere::winui
