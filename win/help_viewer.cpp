#include "win/help_viewer.h"

#include <cctype>
#include <utility>

#include "sequencer/window_texts.h"
#include "win/win_resources.h"
#include "win/win_util.h"

namespace {

constexpr const char* kHelpClass = "KvHelpViewer";
constexpr int kCloseId = 2;

// What a tag leaves in the text: a line break, a blank line, a list bullet, or nothing.
std::string TagText(std::string tag) {
  for (char& c : tag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string name = tag.substr(0, tag.find_first_of(" \t\r\n>"));
  if (name == "br") return "\r\n";
  if (name == "li") return "\r\n  - ";
  if (name == "p" || name == "/p" || name == "h1" || name == "h2" || name == "h3" ||
      name == "/h1" || name == "/h2" || name == "/h3" || name == "ul" || name == "ol" ||
      name == "/ul" || name == "/ol" || name == "tr") {
    return "\r\n\r\n";
  }
  if (name == "td" || name == "th") return "  ";
  return "";
}

std::string Entity(const std::string& name) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"nbsp", " "}, {"#39", "'"}};
  for (const auto& [key, value] : kEntities) {
    if (name == key) return value;
  }
  return "&" + name + ";";
}

// Blank lines at most one at a time, none at the start, no blanks starting a line but a
// list item's indent.
std::string TidyLines(const std::string& text) {
  std::string out;
  int breaks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") == 0) {
      ++breaks;
      ++i;
      continue;
    }
    const bool bullet = text.compare(i, 4, "  - ") == 0;
    if (text[i] == ' ' && !bullet &&
        (breaks > 0 || out.empty() || out.back() == ' ' || out.back() == '\n')) {
      continue;
    }
    if (breaks > 0 && !out.empty()) out += breaks > 1 ? "\r\n\r\n" : "\r\n";
    breaks = 0;
    if (bullet) {
      out += "  - ";
      i += 3;
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace

std::string HtmlToText(const std::string& html) {
  std::string raw;
  bool inTitle = false;
  for (std::size_t i = 0; i < html.size(); ++i) {
    const char c = html[i];
    if (c == '<') {
      const std::size_t end = html.find('>', i);
      const std::string tag = html.substr(i + 1, end == std::string::npos ? 0 : end - i - 1);
      inTitle = tag == "title" ? true : (tag == "/title" ? false : inTitle);
      raw += TagText(tag);
      if (end == std::string::npos) break;
      i = end;
    } else if (inTitle) {
      continue;
    } else if (c == '&') {
      const std::size_t end = html.find(';', i);
      if (end == std::string::npos || end - i > 8) {
        raw += c;
        continue;
      }
      raw += Entity(html.substr(i + 1, end - i - 1));
      i = end;
    } else {
      raw += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    }
  }
  return TidyLines(raw);
}

std::string HelpPage(int topic) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(kHelpResourceBase + topic), RT_RCDATA);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const auto* data = static_cast<const char*>(LockResource(loaded));
  return data ? std::string(data, SizeofResource(module, found)) : std::string();
}

WinHelpViewer::WinHelpViewer(HWND owner, std::string filePlaces)
    : owner_(owner), filePlaces_(std::move(filePlaces)) {}

WinHelpViewer::~WinHelpViewer() {
  Close();
  if (font_) DeleteObject(font_);
}

void WinHelpViewer::Create() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterWindowClass(kHelpClass, &WinHelpViewer::Proc, true);
  const std::string title = std::string(window_texts::kAppTitle) + " - Help";
  // At the screen's scale, as the main window is.
  dpi_ = owner_ ? static_cast<int>(GetDpiForWindow(owner_)) : 96;
  if (dpi_ <= 0) dpi_ = 96;
  hwnd_ = CreateWindowExA(0, kHelpClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, Scale(580), Scale(500), owner_, nullptr, instance, this);
  font_ = ArialFont(Scale(15));
  text_ = CreateWindowExA(
      WS_EX_CLIENTEDGE, "EDIT", "",
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
      0, 0, 10, 10, hwnd_, reinterpret_cast<HMENU>(1), instance, nullptr);
  SetWindowTextA(text_, "");
  SetPropA(text_, "KvName", reinterpret_cast<HANDLE>(1));
  close_ =
      CreateWindowExA(0, "BUTTON", "&Close", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                      0, 0, 10, 10, hwnd_, reinterpret_cast<HMENU>(kCloseId), instance, nullptr);
  SendMessageA(text_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  SendMessageA(close_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  RECT r;
  GetClientRect(hwnd_, &r);
  SendMessageA(hwnd_, WM_SIZE, 0, MAKELPARAM(r.right, r.bottom));
}

void WinHelpViewer::ShowTopic(int topic) {
  if (!hwnd_) Create();
  std::string page = HelpPage(topic);
  if (page.empty()) {
    topic = 1;
    page = HelpPage(1);
  }
  topic_ = topic;
  SetWindowTextA(text_, (HtmlToText(page) + "\r\n\r\n" + filePlaces_).c_str());
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
  SetFocus(text_);
}

void WinHelpViewer::Close() {
  if (hwnd_) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

LRESULT CALLBACK WinHelpViewer::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowOwner<WinHelpViewer>(hwnd, msg, lp);
  switch (msg) {
    case WM_SIZE:
      if (self && self->text_) {
        const int w = LOWORD(lp), h = HIWORD(lp);
        const auto s = [self](int v) { return self->Scale(v); };
        MoveWindow(self->text_, s(8), s(8), w - s(16), h - s(52), TRUE);
        MoveWindow(self->close_, w - s(96), h - s(36), s(88), s(28), TRUE);
      }
      return 0;
    case WM_COMMAND:
      if (LOWORD(wp) == kCloseId || LOWORD(wp) == IDCANCEL) ShowWindow(hwnd, SW_HIDE);
      return 0;
    case WM_CLOSE:
      ShowWindow(hwnd, SW_HIDE);  // kept for the next topic
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}
