#include "window_driver.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "win/main_window.h"

namespace {

// Where the Windows build made the window: its Linux path, seen from Wine on drive Z.
std::string BuiltWindow() {
  // The package's test names the installed one.
  if (const char* installed = std::getenv("KV_TEST_WINDOW"); installed != nullptr && *installed) {
    return installed;
  }
  std::string path = KV_KVUFLASH_EXE;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

struct Found {
  DWORD pid;
  const char* cls;
  HWND hwnd;
};

// The shown top-level windows of process `pid`, by class and title, with the texts of their
// controls: what a window that is not the main one (a message box) says.
std::string WindowsOf(DWORD pid) {
  struct Listing {
    DWORD pid;
    std::string text;
  } listing{pid, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        auto* l = reinterpret_cast<Listing*>(lp);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner != l->pid || !IsWindowVisible(hwnd)) return TRUE;
        char cls[64] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        l->text += std::string(" [") + cls + " \"" + WindowDriver::TextOf(hwnd) + "\"";
        for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
          const std::string text = WindowDriver::TextOf(child);
          if (!text.empty()) l->text += " \"" + text + "\"";
        }
        l->text += "]";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&listing));
  return listing.text.empty() ? " none" : listing.text;
}

BOOL CALLBACK FindTop(HWND hwnd, LPARAM lp) {
  auto* f = reinterpret_cast<Found*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (pid == f->pid && std::string(cls) == f->cls && IsWindowVisible(hwnd)) {
    f->hwnd = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

WindowDriver::WindowDriver(const std::string& folder) {
  const std::filesystem::path copy = std::filesystem::path(folder) / "kvuflash.exe";
  std::filesystem::copy_file(BuiltWindow(), copy,
                             std::filesystem::copy_options::overwrite_existing);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::string command = "\"" + copy.string() + "\"";
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &si, &process_)) {
    throw std::runtime_error("kvuflash.exe did not start: error " + std::to_string(GetLastError()));
  }
  WaitForInputIdle(process_.hProcess, 20000);
  // A program's first window in a new prefix waits for Wine's desktop and fonts, which on a
  // loaded machine can take most of a minute.
  WaitFor([this] { return (main_ = Shown(kMainClass)) != nullptr; }, 90000);
  if (!main_) {
    // The destructor does not run for an object whose constructor throws: the program must
    // not be left to keep the prefix's Wine server alive.
    DWORD status = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &status);
    const std::string shown = WindowsOf(process_.dwProcessId);
    TerminateProcess(process_.hProcess, 9);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
    throw std::runtime_error("kvuflash.exe showed no main window in 90 s; " +
                             (status == STILL_ACTIVE
                                  ? "its windows:" + shown
                                  : "it ended with status " + std::to_string(status)));
  }
  panel_ = FindWindowExA(main_, nullptr, "KvPanel", nullptr);
}

WindowDriver::~WindowDriver() {
  if (process_.hProcess) {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 9);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
}

HWND WindowDriver::Control(Ctl c) const {
  return GetDlgItem(panel_, kControlIdBase + static_cast<int>(c));
}

std::string WindowDriver::TextOf(HWND hwnd) {
  char text[4096] = {};
  DWORD_PTR length = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 5000, &length);
  return std::string(text, length);
}

long WindowDriver::Color(Ctl c) const {
  const auto value = reinterpret_cast<UINT_PTR>(GetPropA(Control(c), "KvColor"));
  return value & kColorSet ? static_cast<long>(value & 0xFFFFFF) : -1;
}

HWND WindowDriver::Shown(const char* windowClass) const {
  Found f{process_.dwProcessId, windowClass, nullptr};
  EnumWindows(FindTop, reinterpret_cast<LPARAM>(&f));
  return f.hwnd;
}

void WindowDriver::Press(Ctl button) const {
  HWND hwnd = Control(button);
  PostMessageA(panel_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED),
               reinterpret_cast<LPARAM>(hwnd));
}

HWND WindowDriver::Focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(process_.dwThreadId, &info);
  // Without a focus, keys go to the active window.
  return info.hwndFocus ? info.hwndFocus : info.hwndActive;
}

void WindowDriver::Key(WPARAM vk) const {
  HWND to = Focus();
  PostMessageA(to, WM_KEYDOWN, vk, 1);
  PostMessageA(to, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
  Sleep(30);
}

void WindowDriver::Type(const std::string& text) const {
  for (char c : text) PostMessageA(Focus(), WM_CHAR, static_cast<unsigned char>(c), 1);
  Sleep(100);
}

void WindowDriver::Alt(char mnemonic) const {
  PostMessageA(Focus(), WM_SYSCHAR, static_cast<unsigned char>(mnemonic), 1 << 29);
  Sleep(30);
}

bool WindowDriver::TabTo(HWND target) const {
  for (int i = 0; i < 40 && Focus() != target; ++i) Key(VK_TAB);
  return Focus() == target;
}

bool WindowDriver::WaitFor(const std::function<bool()>& done, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    Sleep(20);
  }
  return true;
}

DWORD WindowDriver::Close() {
  PostMessageA(main_, WM_CLOSE, 0, 0);
  WaitForSingleObject(process_.hProcess, 20000);
  DWORD status = STILL_ACTIVE;
  GetExitCodeProcess(process_.hProcess, &status);
  return status;
}

void WindowDriver::Shot(const std::string& name) {
  const char* folder = std::getenv("KV_TEST_SHOTS");
  if (!folder || !*folder) return;
  Sleep(300);  // the window has painted what it was told
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const DWORD size = static_cast<DWORD>(((w * 3 + 3) & ~3) * h);
  BITMAPFILEHEADER file{
      0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
      sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  std::filesystem::create_directories(folder);
  // A run at a scale of its own keeps the shots of the others.
  const char* dpi = std::getenv("KV_TEST_DPI");
  const std::string shot = name + (dpi && *dpi ? std::string("-") + dpi + "dpi" : "") + ".bmp";
  std::ofstream out(std::filesystem::path(folder) / shot, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), size);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

std::string ControlNameOf(HWND hwnd) {
  const int index = GetDlgCtrlID(hwnd) - kControlIdBase;
  if (index < 0 || index >= static_cast<int>(kControlCount)) return "";
  return std::string(ControlName(static_cast<Ctl>(index)));
}
