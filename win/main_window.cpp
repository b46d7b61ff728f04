#include "win/main_window.h"

#include <algorithm>
#include <exception>

#include "sequencer/window_texts.h"
#include "win/gauge.h"
#include "win/help_viewer.h"
#include "win/logo.h"
#include "win/win_util.h"

namespace {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

// The order in which controls are made: the screens' controls first (Tab goes through them
// first), then the buttons of every screen, then the boxes, so that the boxes lie beneath the
// controls they hold and never paint over them.
std::vector<Ctl> CreationOrder() {
  std::vector<Ctl> order;
  for (int pass = 0; pass < 3; ++pass) {
    for (const ControlDesign& c : kControls) {
      const Placement& p = PlacementOf(c.id);
      const int rank = p.kind == ControlKind::GroupBox ? 2 : (p.box ? 0 : 1);
      if (rank == pass) order.push_back(c.id);
    }
  }
  // Inner boxes before the boxes around them.
  std::stable_partition(order.end() - 7, order.end(),
                        [](Ctl c) { return PlacementOf(c).box.has_value(); });
  return order;
}

}  // namespace

WinForm1::WinForm1(HINSTANCE instance, std::string programDir)
    : instance_(instance), ui_(mainThread_) {
  face_ = GetSysColorBrush(COLOR_BTNFACE);
  white_ = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RegisterGaugeClass(instance);
  RegisterWindowClass(kMainClass, &WinForm1::MainProc, true);
  RegisterWindowClass("KvPanel", &WinForm1::PanelProc, false);

  station_ = std::make_unique<Station>(mainThread_, ui_, std::move(programDir));
  hwnd_ = CreateWindowExA(0, kMainClass, window_texts::kCaption,
                          WS_OVERLAPPEDWINDOW | WS_HSCROLL | WS_VSCROLL | WS_CLIPCHILDREN,
                          CW_USEDEFAULT, CW_USEDEFAULT, kDesignWidth, kDesignHeight, nullptr,
                          nullptr, instance, this);
  ui_.SetWindow(hwnd_);
  ui_.SetProgramDir(station_->Serial1().ProgramDir);
  dpi_ = static_cast<int>(GetDpiForWindow(hwnd_));
  if (dpi_ <= 0) dpi_ = 96;
  panel_ = CreateWindowExA(WS_EX_CONTROLPARENT, "KvPanel", "", WS_CHILD | WS_VISIBLE, 0, 0,
                           kDesignWidth, kDesignHeight, hwnd_, nullptr, instance, this);
  mainThread_.PreTranslate = [this](MSG& msg) { return PreTranslate(msg); };

  WindowModel& w = Model();
  w.SetCaption(Ctl::Title1, window_texts::kMakerLine1);
  w.SetCaption(Ctl::Title2, window_texts::kMakerLine2);
  CreateControls();
  w.AddListener([this](Ctl control) { Refresh(control); });
  station_->Activate();
  for (const Ctl control : WindowModel::Controls()) Refresh(control);
  RefreshHistory();
  // The window's own size is the design size at this resolution, whatever it is shown as.
  RECT r{0, 0, Scale(kDesignWidth), Scale(kDesignHeight)};
  AdjustWindowRectExForDpi(&r, WS_OVERLAPPEDWINDOW, FALSE, 0, static_cast<UINT>(dpi_));
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
  PlaceAll();
}

WinForm1::~WinForm1() {
  // The workers stop before the objects their calls would reach go away.
  station_->Stop();
  mainThread_.Shutdown();
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  station_.reset();
  for (auto& [key, font] : fonts_) DeleteObject(font);
}

void WinForm1::Start(int showCommand) {
  ShowWindow(hwnd_, Model().Maximized ? SW_SHOWMAXIMIZED : showCommand);
  UpdateWindow(hwnd_);
  station_->StartTicks();
}

HWND WinForm1::CreateControl(const Placement& place, int id) {
  const char* cls = "STATIC";
  DWORD style = WS_CHILD;
  DWORD exStyle = 0;
  switch (place.kind) {
    case ControlKind::Label:
      style |= SS_NOPREFIX |
               ((place.id == Ctl::Label5 || place.id == Ctl::Title1 || place.id == Ctl::Title2)
                    ? SS_CENTER | (place.id == Ctl::Label5 ? SS_CENTERIMAGE : 0)
                    : SS_LEFT);
      break;
    case ControlKind::Image:
      style |= SS_OWNERDRAW;
      break;
    case ControlKind::Button:
      cls = "BUTTON";
      style |= BS_PUSHBUTTON | BS_MULTILINE | WS_TABSTOP;
      break;
    case ControlKind::GroupBox:
      cls = "BUTTON";
      style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
      break;
    case ControlKind::ComboBox:
      cls = "COMBOBOX";
      style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
      break;
    case ControlKind::Memo:
    case ControlKind::History:
      cls = "EDIT";
      exStyle = WS_EX_CLIENTEDGE;
      style |= ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL | WS_TABSTOP;
      break;
    case ControlKind::Gauge:
      cls = kGaugeClass;
      break;
  }
  HWND hwnd =
      CreateWindowExA(exStyle, cls, "", style, 0, 0, 10, 10, panel_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  return hwnd;
}

void WinForm1::CreateControls() {
  for (const Ctl c : CreationOrder()) {
    const Placement& place = PlacementOf(c);
    HWND hwnd = CreateControl(place, kControlIdBase + static_cast<int>(c));
    controls_[static_cast<std::size_t>(c)] = hwnd;
    if (c == Ctl::Gauge) {
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&Model().Gauge()));
      Model().Gauge().AddRepaintListener([hwnd] { InvalidateRect(hwnd, nullptr, FALSE); });
    }
    if (c == Ctl::CommPortBox) {
      portDevice_ = CreateControl(kPortDevicePlace, kPortDeviceId);
      ShowWindow(portDevice_, SW_SHOW);
    }
  }
  SetWindowTextA(controls_[static_cast<std::size_t>(Ctl::MemoCable)],
                 JoinLines(window_texts::CableLines()).c_str());
  for (Ctl list : {Ctl::CommPortBox, Ctl::BaudRateBox}) {
    HWND box = controls_[static_cast<std::size_t>(list)];
    for (const std::string& item : Model().List(list).items) {
      SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
  }
}

bool WinForm1::ShownOnScreen(Ctl name) const {
  const WindowModel& w = const_cast<WinForm1*>(this)->Model();
  for (std::optional<Ctl> c = name; c; c = PlacementOf(*c).box) {
    if (!w.Visible(*c)) return false;
  }
  return true;
}

HFONT WinForm1::Font(int pixels, bool bold, bool italic, const char* face) {
  const auto key = std::make_tuple(pixels, bold, italic, std::string(face));
  auto found = fonts_.find(key);
  if (found != fonts_.end()) return found->second;
  HFONT font =
      CreateFontA(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, italic, 0, 0, DEFAULT_CHARSET,
                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
  fonts_[key] = font;
  return font;
}

int WinForm1::FontPixels(Ctl name) {
  if (name == Ctl::MemoCable) return Scale(12);
  const int points = Model().FontSize(name);
  return points > 0 ? MulDiv(points, dpi_, 72) : Scale(DesignFontOf(name).pixels);
}

HFONT WinForm1::FontFor(Ctl name) {
  if (name == Ctl::MemoCable) return Font(FontPixels(name), false, false, "Courier New");
  const DesignFont design = DesignFontOf(name);
  return Font(FontPixels(name), design.bold, design.italic);
}

void WinForm1::Refresh(Ctl name) {
  if (name == Ctl::FUpHist) RefreshHistory();
  if (name == Ctl::MemoCable && placed_ && placedMemo_ != Model().Visible(name)) {
    placedMemo_ = Model().Visible(name);
    PlaceAll();
  }
  if (name == Ctl::CommPortBox || name == Ctl::BaudRateBox) RefreshList(name);
  HWND hwnd = controls_[static_cast<std::size_t>(name)];
  if (!hwnd) return;
  const Placement& place = PlacementOf(name);
  const ControlState& c = Model().Control(name);
  const bool hasCaption = place.kind == ControlKind::Label || place.kind == ControlKind::Button ||
                          place.kind == ControlKind::GroupBox;
  if (hasCaption && WindowTextOf(hwnd) != c.caption) SetWindowTextA(hwnd, c.caption.c_str());
  SetPropA(hwnd, "KvColor",
           reinterpret_cast<HANDLE>(
               static_cast<UINT_PTR>(RGB(c.color.r, c.color.g, c.color.b) | kColorSet)));
  // A font handle means nothing in another process: the tests read the size from here.
  SetPropA(hwnd, "KvFontPx", reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(FontPixels(name))));
  HFONT font = FontFor(name);
  if (reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)) != font) {
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (place.kind == ControlKind::GroupBox) {
    // A box shows or hides everything inside it.
    for (const ControlDesign& d : kControls) {
      HWND child = controls_[static_cast<std::size_t>(d.id)];
      if (child && d.id != name) Show(child, ShownOnScreen(d.id));
    }
    if (portDevice_) ShowWindow(portDevice_, ShownOnScreen(Ctl::CommPortBox) ? SW_SHOWNA : SW_HIDE);
  }
  Show(hwnd, ShownOnScreen(name));
  InvalidateRect(hwnd, nullptr, place.kind != ControlKind::Gauge);
}

void WinForm1::Show(HWND control, bool shown) {
  // The keyboard's place moves on from a control that goes, so that keys still reach the
  // window.
  if (!shown && GetFocus() == control) {
    ShowWindow(control, SW_HIDE);
    HWND next = GetNextDlgTabItem(panel_, control, FALSE);
    SetFocus(next && next != control ? next : hwnd_);
    return;
  }
  ShowWindow(control, shown ? SW_SHOWNA : SW_HIDE);
}

void WinForm1::RefreshList(Ctl name) {
  HWND box = controls_[static_cast<std::size_t>(name)];
  if (!box) return;
  const ListState& list = Model().List(name);
  if (static_cast<int>(SendMessageA(box, CB_GETCURSEL, 0, 0)) != list.itemIndex) {
    SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(list.itemIndex), 0);
  }
  if (name == Ctl::CommPortBox) RefreshPortDevice();
}

void WinForm1::RefreshPortDevice() {
  if (!portDevice_) return;
  const std::string text = Model().List(Ctl::CommPortBox).Text();
  std::string shown;
  if (!text.empty()) {
    const std::string device = station_->Serial1().DeviceName(std::stoi(text));
    shown = device.empty() ? "(no serial device)" : "= " + device;
  }
  SetWindowTextA(portDevice_, shown.c_str());
}

void WinForm1::RefreshHistory() {
  HWND edit = controls_[static_cast<std::size_t>(Ctl::FUpHist)];
  if (!edit) return;
  const std::vector<std::string>& lines = Model().FUpHist();
  const std::size_t shown = shownHistory_.size();
  const int length = GetWindowTextLengthA(edit);
  if (lines.size() == shown + 1 &&
      std::equal(shownHistory_.begin(), shownHistory_.end(), lines.begin())) {
    const std::string added = (shown ? "\r\n" : "") + lines.back();
    SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
  } else if (shown > 0 && lines.size() == shown &&
             std::equal(shownHistory_.begin(), shownHistory_.end() - 1, lines.begin())) {
    // The last line rewritten in place (the block counter).
    const int start =
        static_cast<int>(SendMessageA(edit, EM_LINEINDEX, static_cast<WPARAM>(shown - 1), 0));
    SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(start), length);
    SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(lines.back().c_str()));
  } else {
    SetWindowTextA(edit, JoinLines(lines).c_str());
  }
  shownHistory_ = lines;
  SendMessageA(edit, WM_VSCROLL, SB_BOTTOM, 0);
}

void WinForm1::Guarded(void (MainForm::*handler)()) {
  // A button's error is shown and the window stays usable.
  try {
    (Form().*handler)();
  } catch (const std::exception& e) {
    ui_.ShowMessage(e.what());
  }
}

void WinForm1::OnCommand(int id, int code) {
  const int index = id - kControlIdBase;
  if (index < 0 || index >= static_cast<int>(kControlCount)) return;
  const Ctl control = static_cast<Ctl>(index);
  if (code == CBN_SELCHANGE) {
    HWND box = controls_[static_cast<std::size_t>(index)];
    Model().SetItemIndex(control, static_cast<int>(SendMessageA(box, CB_GETCURSEL, 0, 0)));
    return;
  }
  if (code != BN_CLICKED) return;
  static const std::pair<Ctl, void (MainForm::*)()> kHandlers[] = {
      {Ctl::Btn2Upload, &MainForm::Btn2UploadClick},
      {Ctl::BtnBackToStart, &MainForm::BtnBackToStartClick},
      {Ctl::BtnCable, &MainForm::BtnCableClick},
      {Ctl::BtnHelp, &MainForm::BtnHelpClick},
      {Ctl::BtnClose, &MainForm::BtnCloseClick},
      {Ctl::BtnCaptureFile, &MainForm::BtnCaptureFileClick},
      {Ctl::BtnChooseFile, &MainForm::BtnChooseFileClick},
      {Ctl::BtnRepeatUpload, &MainForm::BtnRepeatUploadClick},
      {Ctl::BtnStartRun, &MainForm::BtnStartRunClick},
      {Ctl::BtnBoot, &MainForm::BtnBootClick},
      {Ctl::BtnGoOn, &MainForm::BtnGoOnClick},
  };
  for (const auto& [button, handler] : kHandlers) {
    if (button == control) Guarded(handler);
  }
}

void WinForm1::OnClose() {
  if (!closing_ && !Form().CloseMayGoAhead()) return;
  if (!closing_) {
    closing_ = true;
    if (WinHelpViewer* help = ui_.Help()) help->Close();
    station_->Finish();
  }
  DestroyWindow(hwnd_);
}
