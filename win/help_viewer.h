// The help viewer: a window of its own showing one help page's text in a read-only edit box.
// The pages are the Linux window's, compiled into the program as resources.
#pragma once

#include <windows.h>

#include <string>

class WinHelpViewer {
 public:
  // `filePlaces` closes every page: where this machine keeps the program's files.
  WinHelpViewer(HWND owner, std::string filePlaces);
  ~WinHelpViewer();
  WinHelpViewer(const WinHelpViewer&) = delete;
  WinHelpViewer& operator=(const WinHelpViewer&) = delete;

  // Shows `topic` (1, 3, 4, 5, 9; another number shows topic 1) and brings the viewer forward.
  void ShowTopic(int topic);
  void Close();
  int Topic() const { return topic_; }
  HWND Hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Create();
  int Scale(int v) const { return MulDiv(v, dpi_, 96); }
  HWND owner_;
  std::string filePlaces_;
  HWND hwnd_ = nullptr;
  HWND text_ = nullptr;
  HWND close_ = nullptr;
  HFONT font_ = nullptr;
  int topic_ = 0;
  int dpi_ = 96;
};

// The page of `topic` as compiled in (its HTML), empty when there is none.
std::string HelpPage(int topic);
// The text of an HTML page as the viewer shows it: headings and paragraphs on lines of their
// own, list items indented, entities decoded, lines ending in CR LF.
std::string HtmlToText(const std::string& html);
