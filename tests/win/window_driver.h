// The real kvuflash.exe in a process of its own, driven from outside as a user would: its
// controls found by name (the enumeration's ids), buttons pressed and keys typed by posted
// messages through its own message loop, texts, colours and visibility read back.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "sequencer/controls.h"

class WindowDriver {
 public:
  // Copies kvuflash.exe alone into `folder` and starts it from there.
  explicit WindowDriver(const std::string& folder);
  ~WindowDriver();
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  HWND Main() const { return main_; }
  HWND Control(Ctl c) const;
  std::string Text(Ctl c) const { return TextOf(Control(c)); }
  static std::string TextOf(HWND hwnd);
  // The font colour the window gave the control, as 0xBBGGRR; -1 when none.
  long Color(Ctl c) const;
  bool Shown(Ctl c) const { return IsWindowVisible(Control(c)) != FALSE; }
  // A top-level window of the program of `windowClass` that is shown, or null.
  HWND Shown(const char* windowClass) const;

  // The mouse's way: the button's click as its parent hears it.
  void Press(Ctl button) const;
  // The keyboard's way, to the control with the focus.
  HWND Focus() const;
  void Key(WPARAM vk) const;
  void Type(const std::string& text) const;
  void Alt(char mnemonic) const;
  // Tab until `target` has the focus; false after a round without it.
  bool TabTo(HWND target) const;

  // With KV_TEST_SHOTS naming a folder, the screen as it is now in NAME.bmp there
  // (NAME-192dpi.bmp when KV_TEST_DPI says the run is at 192 dots per inch).
  static void Shot(const std::string& name);
  // Waits up to `ms` for `done`.
  static bool WaitFor(const std::function<bool()>& done, int ms);
  // Closes the window and waits for the program to end; its exit status.
  DWORD Close();

 private:
  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
  HWND panel_ = nullptr;
};

// The name of the control with the focus, or "" when it is none of the main window's.
std::string ControlNameOf(HWND hwnd);
