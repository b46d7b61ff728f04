// The main window TForm1 on Win32: every control of the opening, Software Upload and factory
// screens, made from the layout table and bound to the core's window model by its enumeration.
// Each control's id is kControlIdBase plus its place in the enumeration; its font colour is the
// window property "KvColor" (the colour plus kColorSet) and its font size in pixels
// "KvFontPx", for tests that read them from outside.
#pragma once

#include <windows.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "form/station.h"
#include "sequencer/controls.h"
#include "win/layout.h"
#include "win/win_main_thread.h"
#include "win/win_ui_services.h"

inline constexpr int kControlIdBase = 1000;
inline constexpr int kPortDeviceId = 999;
inline constexpr unsigned kColorSet = 0x1000000u;
inline constexpr const char* kMainClass = "KvTForm1";

class WinForm1 {
 public:
  // `programDir` (with its trailing separator) holds the settings and capture files; empty:
  // the program's own folder.
  explicit WinForm1(HINSTANCE instance, std::string programDir = {});
  ~WinForm1();
  WinForm1(const WinForm1&) = delete;
  WinForm1& operator=(const WinForm1&) = delete;

  HWND Hwnd() const { return hwnd_; }
  MainForm& Form() { return station_->Form(); }
  WindowModel& Model() { return Form().W(); }
  WinMainThread& MainThread() { return mainThread_; }
  // Starts the ticks and shows the window as the model says (maximised).
  void Start(int showCommand);
  // The loop's filter: F1, Tab, Enter and the mnemonics.
  bool PreTranslate(MSG& msg);

 private:
  static LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMain(UINT msg, WPARAM wp, LPARAM lp);
  bool OnPanel(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  void CreateControls();
  HWND CreateControl(const Placement& place, int id);
  void OnCommand(int id, int code);
  void OnClose();
  void Guarded(void (MainForm::*handler)());

  void Refresh(Ctl name);
  void RefreshHistory();
  void RefreshList(Ctl name);
  void RefreshPortDevice();
  bool ShownOnScreen(Ctl name) const;
  void Show(HWND control, bool shown);
  // The control's font size in pixels at the window's resolution.
  int FontPixels(Ctl name);
  HFONT FontFor(Ctl name);
  HFONT Font(int pixels, bool bold, bool italic, const char* face = "Arial");

  // Sizes and scrolling at the screen's resolution.
  int Scale(int v) const { return MulDiv(v, dpi_, 96); }
  void PlaceAll();
  void LayoutPanel();
  void OnScroll(int bar, int code);
  void FollowFocus();
  void OnDpiChanged(int dpi, const RECT& suggested);
  void MinTrackSize(MINMAXINFO& info) const;

  HINSTANCE instance_;
  WinMainThread mainThread_;
  WinUiServices ui_;
  std::unique_ptr<Station> station_;
  HWND hwnd_ = nullptr;
  HWND panel_ = nullptr;
  HWND portDevice_ = nullptr;
  std::array<HWND, kControlCount> controls_{};
  std::map<std::tuple<int, bool, bool, std::string>, HFONT> fonts_;
  HBRUSH face_ = nullptr;
  HBRUSH white_ = nullptr;
  std::vector<std::string> shownHistory_;
  int dpi_ = 96;
  POINT scroll_{0, 0};
  HWND focusSeen_ = nullptr;  // the control whose focus FollowFocus last saw
  bool closing_ = false;
  bool placed_ = false;      // PlaceAll has run
  bool placedMemo_ = false;  // the cable memo was shown when the controls were placed
};
