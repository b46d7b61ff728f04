#include "win/file_chooser.h"

#include "sequencer/ui_services.h"
#include "sequencer/window_texts.h"
#include "win/win_util.h"

namespace {

constexpr int kClientWidth = 488;
constexpr int kClientHeight = 364;
// The group box's corner: the controls inside are placed from it.
constexpr int kBoxX = 35;
constexpr int kBoxY = 7;

void Fill(HWND list, UINT reset, UINT add, UINT select, const std::vector<std::string>& items,
          int current) {
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, reset, 0, 0);
  for (const std::string& item : items)
    SendMessageA(list, add, 0, reinterpret_cast<LPARAM>(item.c_str()));
  SendMessageA(list, select, static_cast<WPARAM>(current), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

}  // namespace

WinChooser::WinChooser(HWND owner, IUiServices& ui) : owner_(owner), ui_(ui) {
  Create();
  if (!model_.StartProblem().empty()) ui_.ShowMessage(model_.StartProblem());
}

WinChooser::~WinChooser() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (font_) DeleteObject(font_);
  if (small_) DeleteObject(small_);
}

HWND WinChooser::Add(const char* cls, const char* text, DWORD style, int id, int x, int y, int w,
                     int h) {
  HWND hwnd = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              GetModuleHandleA(nullptr), nullptr);
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return hwnd;
}

void WinChooser::Create() {
  namespace t = chooser_texts;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterWindowClass(kChooserClass, &WinChooser::Proc, false);
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  RECT r{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
  hwnd_ =
      CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kChooserClass, t::kCaption, style,
                      160, 97, r.right - r.left, r.bottom - r.top, owner_, nullptr, instance, this);
  font_ = ArialFont(13);
  small_ = ArialFont(12);
  const int x = kBoxX, y = kBoxY;
  Add("STATIC", t::kFileName, SS_NOPREFIX, -1, x + 32, y + 24, 140, 17);
  Add("EDIT", "", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, kChooserName, x + 32, y + 48, 145, 24);
  Add("LISTBOX", "", WS_BORDER | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
      kChooserFiles, x + 32, y + 96, 145, 113);
  Add("STATIC", t::kDirectories, SS_NOPREFIX, -1, x + 224, y + 40, 140, 17);
  Add("STATIC", "", SS_NOPREFIX | SS_PATHELLIPSIS, kChooserFolderLabel, x + 224, y + 64, 190, 17);
  Add("LISTBOX", "",
      WS_BORDER | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
          LBS_WANTKEYBOARDINPUT,
      kChooserFolders, x + 224, y + 96, 145, 113);
  HWND hint = Add("STATIC", t::kDoubleClick, SS_NOPREFIX, -1, x + 211, y + 212, 190, 14);
  SendMessageA(hint, WM_SETFONT, reinterpret_cast<WPARAM>(small_), FALSE);
  Add("STATIC", t::kDrive, SS_NOPREFIX, -1, x + 211, y + 232, 100, 17);
  Add("COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, kChooserDrives, x + 211, y + 256,
      198, 200);
  Add("STATIC", t::kFileType, SS_NOPREFIX, -1, x + 20, y + 232, 100, 17);
  Add("COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, kChooserTypes, x + 20, y + 256,
      169, 200);
  ok_ = Add("BUTTON", t::kOk, WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, 123, 322, 89, 33);
  Add("BUTTON", t::kCancel, WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, 250, 322, 89, 33);
  // The box last, beneath the controls it holds.
  Add("BUTTON", "", BS_GROUPBOX | WS_CLIPSIBLINGS, -1, x, y, 422, 305);
  Sync();
}

void WinChooser::Sync() {
  const unsigned changes = model_.TakeChanges();
  filling_ = true;
  if (changes & FileChooserModel::kTypes) {
    std::vector<std::string> types;
    for (const ChooserFileType& type : model_.FileTypes()) types.push_back(type.description);
    Fill(GetDlgItem(hwnd_, kChooserTypes), CB_RESETCONTENT, CB_ADDSTRING, CB_SETCURSEL, types,
         model_.FileTypeIndex());
  }
  if (changes & FileChooserModel::kFiles) {
    Fill(GetDlgItem(hwnd_, kChooserFiles), LB_RESETCONTENT, LB_ADDSTRING, LB_SETCURSEL,
         model_.Files(), model_.SelectedFile());
  }
  if (changes & FileChooserModel::kFolders) {
    std::vector<std::string> rows;
    for (const ChooserFolder& f : model_.Folders())
      rows.push_back(std::string(f.level * 2, ' ') + f.caption);
    Fill(GetDlgItem(hwnd_, kChooserFolders), LB_RESETCONTENT, LB_ADDSTRING, LB_SETCURSEL, rows,
         model_.CurrentFolderRow());
    SetDlgItemTextA(hwnd_, kChooserFolderLabel, model_.CurrentFolder().c_str());
  }
  if (changes & FileChooserModel::kDrives) {
    Fill(GetDlgItem(hwnd_, kChooserDrives), CB_RESETCONTENT, CB_ADDSTRING, CB_SETCURSEL,
         model_.Drives(), model_.CurrentDrive());
  }
  if ((changes & FileChooserModel::kName) &&
      WindowTextOf(GetDlgItem(hwnd_, kChooserName)) != model_.NameText()) {
    SetDlgItemTextA(hwnd_, kChooserName, model_.NameText().c_str());
  }
  if (changes & FileChooserModel::kOk) ShowWindow(ok_, model_.OkOffered() ? SW_SHOWNA : SW_HIDE);
  filling_ = false;
}

void WinChooser::SetFilter(const std::string& filterText) {
  model_.SetFilter(filterText);
  Sync();
}

void WinChooser::PressOk() {
  model_.SetNameText(WindowTextOf(GetDlgItem(hwnd_, kChooserName)));
  const FileChooserModel::Outcome outcome = model_.PressOk();
  Sync();
  if (outcome.answer == FileChooserModel::Answer::Ok) Finish(true);
  if (!outcome.problem.empty()) ui_.ShowMessage(outcome.problem);
}

void WinChooser::Finish(bool ok) {
  answer_ = ok;
  running_ = false;
}

void WinChooser::OnCommand(int id, int code) {
  if (filling_) return;
  auto index = [this](int control, UINT get) {
    return static_cast<int>(SendDlgItemMessageA(hwnd_, control, get, 0, 0));
  };
  switch (id) {
    case IDOK:
      if (code == BN_CLICKED && IsWindowVisible(ok_)) PressOk();
      return;
    case IDCANCEL:
      if (code == BN_CLICKED) Finish(false);
      return;
    case kChooserName:
      if (code == EN_CHANGE) model_.SetNameText(WindowTextOf(GetDlgItem(hwnd_, kChooserName)));
      break;
    case kChooserFiles:
      if (code == LBN_SELCHANGE) model_.SelectFile(index(kChooserFiles, LB_GETCURSEL));
      if (code == LBN_DBLCLK) return PressOk();
      break;
    case kChooserFolders:
      if (code == LBN_DBLCLK) model_.OpenFolderRow(index(kChooserFolders, LB_GETCURSEL));
      break;
    case kChooserDrives:
      if (code == CBN_SELCHANGE) model_.SelectDrive(index(kChooserDrives, CB_GETCURSEL));
      break;
    case kChooserTypes:
      if (code == CBN_SELCHANGE) model_.SelectFileType(index(kChooserTypes, CB_GETCURSEL));
      break;
  }
  Sync();
}

bool WinChooser::PreTranslate(MSG& msg) {
  // Enter opens the folder list's entry; it must not also press the default button.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN &&
      msg.hwnd == GetDlgItem(hwnd_, kChooserFolders)) {
    model_.OpenFolderRow(static_cast<int>(SendMessageA(msg.hwnd, LB_GETCURSEL, 0, 0)));
    Sync();
    return true;
  }
  return IsDialogMessageA(hwnd_, &msg) != FALSE;
}

bool WinChooser::Run(std::string& chosenPath) {
  model_.Showing();
  Sync();
  // Each showing puts the focus in the name box with its text selected.
  HWND name = GetDlgItem(hwnd_, kChooserName);
  SendMessageA(name, EM_SETSEL, 0, -1);
  EnableWindow(owner_, FALSE);
  ShowWindow(hwnd_, SW_SHOW);
  SetFocus(name);
  running_ = true;
  answer_ = false;
  MSG msg;
  while (running_ && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (msg.message == WM_QUIT && running_) PostQuitMessage(static_cast<int>(msg.wParam));
  EnableWindow(owner_, TRUE);
  ShowWindow(hwnd_, SW_HIDE);
  SetActiveWindow(owner_);
  running_ = false;
  if (answer_) chosenPath = model_.ChosenPath();
  return answer_;
}

LRESULT CALLBACK WinChooser::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowOwner<WinChooser>(hwnd, msg, lp);
  if (!self || !self->hwnd_) return DefWindowProcA(hwnd, msg, wp, lp);
  return self->OnMessage(msg, wp, lp);
}

LRESULT WinChooser::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp));
      return 0;
    case WM_CTLCOLORLISTBOX:
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_CLOSE:
      Finish(false);
      return 0;
  }
  return DefWindowProcA(hwnd_, msg, wp, lp);
}
