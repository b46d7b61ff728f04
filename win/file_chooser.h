// The file chooser TForm2 on Win32: a modal window with the name box, the file list, the
// folder list, the drive box and the file types, bound to the core's FileChooserModel. It is
// made once and shown many times; the model keeps folder, type and name between showings.
// Its controls' ids are the kChooser* values, for tests that drive it from outside.
#pragma once

#include <windows.h>

#include <string>

#include "fileprep/file_chooser_model.h"

class IUiServices;

inline constexpr int kChooserName = 201;
inline constexpr int kChooserFiles = 202;
inline constexpr int kChooserFolders = 203;
inline constexpr int kChooserFolderLabel = 204;
inline constexpr int kChooserDrives = 205;
inline constexpr int kChooserTypes = 206;
inline constexpr const char* kChooserClass = "KvTForm2";

class WinChooser {
 public:
  WinChooser(HWND owner, IUiServices& ui);
  ~WinChooser();
  WinChooser(const WinChooser&) = delete;
  WinChooser& operator=(const WinChooser&) = delete;

  void SetFilter(const std::string& filterText);
  // Shows the chooser modally; true for OK, with the chosen name in `chosenPath`.
  bool Run(std::string& chosenPath);

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Create();
  HWND Add(const char* cls, const char* text, DWORD style, int id, int x, int y, int w, int h);
  void OnCommand(int id, int code);
  bool PreTranslate(MSG& msg);
  void Sync();
  void PressOk();
  void Finish(bool ok);

  HWND owner_;
  IUiServices& ui_;
  FileChooserModel model_;
  HWND hwnd_ = nullptr;
  HWND ok_ = nullptr;
  HFONT font_ = nullptr;
  HFONT small_ = nullptr;
  bool filling_ = false;
  bool running_ = false;
  bool answer_ = false;
};
