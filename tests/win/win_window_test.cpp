// The real window in its own process: the opening screen as the model designs it, help and the
// cable detail, the smallest size with nothing cut off, and a whole Software Upload with the
// keyboard alone when the Wine test names the unit's COM port and the file (KV_TEST_UNIT_COM,
// KV_TEST_HEX).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "kv_build_info.h"
#include "win/layout.h"
#include "window_driver.h"

namespace {

namespace fs = std::filesystem;

std::string ScratchFolder(const std::string& tag) {
  const fs::path dir =
      fs::temp_directory_path() / ("kvwin-" + tag + "-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

RECT ScreenRect(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  return r;
}
LONG Width(const RECT& r) {
  return r.right - r.left;
}
LONG Height(const RECT& r) {
  return r.bottom - r.top;
}

// The room `text` takes in the font the window gave control `id`, wrapped at `width` when
// `flags` say so. The window's font handles are its own: the same font is made here from the
// size it gives.
RECT TextNeeds(HWND control, Ctl id, const std::string& text, int width, UINT flags) {
  const auto pixels = static_cast<int>(reinterpret_cast<UINT_PTR>(GetPropA(control, "KvFontPx")));
  const DesignFont design = DesignFontOf(id);
  HFONT font = CreateFontA(-pixels, 0, 0, 0, design.bold ? FW_BOLD : FW_NORMAL, design.italic, 0, 0,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           CLEARTYPE_QUALITY, DEFAULT_PITCH, "Arial");
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font);
  RECT need{0, 0, width, 0};
  DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | flags);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  DeleteObject(font);
  return need;
}

// A button's caption fits its face on one line with room to spare.
bool CaptionOnOneLine(HWND button, Ctl id) {
  const RECT need = TextNeeds(button, id, WindowDriver::TextOf(button), 0, DT_SINGLELINE);
  RECT face;
  GetClientRect(button, &face);
  return need.right + 4 * GetSystemMetricsForDpi(SM_CXEDGE, GetDpiForWindow(button)) < Width(face);
}

// The shown labels whose text, wrapped at their width, needs more room than they have: the
// part that does not fit is not drawn.
std::string LabelsCutOff(const WindowDriver& w) {
  std::string cut;
  for (const ControlDesign& c : kControls) {
    if (PlacementOf(c.id).kind != ControlKind::Label || !w.Shown(c.id)) continue;
    HWND label = w.Control(c.id);
    const std::string text = WindowDriver::TextOf(label);
    if (text.empty()) continue;
    RECT box;
    GetClientRect(label, &box);
    const RECT need = TextNeeds(label, c.id, text, box.right, DT_WORDBREAK | DT_NOPREFIX);
    if (need.bottom > box.bottom || need.right > box.right) {
      cut += " " + std::string(c.name) + " (\"" + text + "\" needs " + std::to_string(need.right) +
             " x " + std::to_string(need.bottom) + ", has " + std::to_string(box.right) + " x " +
             std::to_string(box.bottom) + ")";
    }
  }
  return cut;
}

constexpr long kBlue = 0xFF0000;  // as COLORREF: 0xBBGGRR
constexpr long kRed = 0x0000FF;

TEST(WinWindow, OpensWithTheOpeningScreenAsDesigned) {
  const std::string folder = ScratchFolder("opening");
  WindowDriver w(folder);
  EXPECT_TRUE(IsZoomed(w.Main()));
  EXPECT_EQ(w.Text(Ctl::Label5), "RQ-410  Flash Upload");
  EXPECT_EQ(w.Text(Ctl::Btn2Upload), "&Software Upload");
  EXPECT_NE(w.Text(Ctl::Title2).find("Version " KV_VERSION), std::string::npos);
  EXPECT_EQ(w.Color(Ctl::Label11), kBlue);
  EXPECT_EQ(w.Color(Ctl::Label13), kBlue);
  EXPECT_EQ(w.Color(Ctl::Label7), kRed);
  EXPECT_EQ(w.Color(Ctl::Label22), kRed);
  EXPECT_TRUE(w.Shown(Ctl::OpeningBox) && w.Shown(Ctl::BtnBoot) && w.Shown(Ctl::CommPortBox));
  EXPECT_FALSE(w.Shown(Ctl::MainBox) || w.Shown(Ctl::BtnStartRun) || w.Shown(Ctl::FUpHist));
  EXPECT_FALSE(w.Shown(Ctl::BtnRepeatUpload) || w.Shown(Ctl::BtnBackToStart) ||
               w.Shown(Ctl::MemoCable));
  WindowDriver::Shot("1-opening");

  // Cable Detail shows the wiring and becomes "Hide Detail".
  w.Press(Ctl::BtnCable);
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::MemoCable); }, 5000));
  EXPECT_EQ(w.Text(Ctl::BtnCable), "Hide Detail");
  EXPECT_NE(w.Text(Ctl::MemoCable).find("Pin 2  -------  Pin 2\r\n"), std::string::npos);
  WindowDriver::Shot("2-cable-detail");

  // F1 opens help at the opening screen's topic.
  w.Key(VK_F1);
  HWND help = nullptr;
  ASSERT_TRUE(
      WindowDriver::WaitFor([&] { return (help = w.Shown("KvHelpViewer")) != nullptr; }, 5000));
  const std::string page = WindowDriver::TextOf(GetDlgItem(help, 1));
  EXPECT_FALSE(page.empty());
  EXPECT_EQ(page.find('<'), std::string::npos) << page;
  // The page ends saying where this machine keeps the program's files.
  EXPECT_NE(page.find("Files on this machine:"), std::string::npos) << page;
  EXPECT_NE(page.find("Capture.txt"), std::string::npos) << page;
  WindowDriver::Shot("3-help");

  // The capture button opens Capture.txt beside the copied program.
  w.Press(Ctl::BtnCaptureFile);
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Text(Ctl::Label11) == "Enabled"; }, 5000));
  EXPECT_EQ(w.Text(Ctl::BtnCaptureFile), "&Disable Capture File");
  EXPECT_TRUE(fs::exists(fs::path(folder) / "Capture.txt"));
  EXPECT_EQ(w.Close(), 0u);
}

TEST(WinWindow, NeverSmallerThanTheDesignSizeAndNothingCutOff) {
  WindowDriver w(ScratchFolder("small"));
  ShowWindow(w.Main(), SW_RESTORE);
  SetWindowPos(w.Main(), nullptr, 0, 0, 300, 200, SWP_NOZORDER | SWP_NOMOVE);
  WindowDriver::WaitFor([] { return false; }, 300);
  // The design size at the screen's resolution (KV_TEST_DPI says which the test set), with the
  // window's frame, as far as the screen has room for it.
  const int dpi = static_cast<int>(GetDpiForWindow(w.Main()));
  if (!Env("KV_TEST_DPI").empty()) {
    EXPECT_EQ(dpi, std::stoi(Env("KV_TEST_DPI")));
  }
  const SIZE design{MulDiv(762, dpi, 96), MulDiv(409, dpi, 96)};
  RECT framed{0, 0, design.cx, design.cy};
  AdjustWindowRectExForDpi(&framed, WS_OVERLAPPEDWINDOW, FALSE, 0, static_cast<UINT>(dpi));
  MONITORINFO monitor{sizeof monitor, {}, {}, 0};
  GetMonitorInfoA(MonitorFromWindow(w.Main(), MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  const RECT window = ScreenRect(w.Main());
  EXPECT_GE(Width(window), std::min(Width(framed), Width(work)));
  EXPECT_GE(Height(window), std::min(Height(framed), Height(work)));
  WindowDriver::Shot("4-smallest");

  RECT client;
  GetClientRect(w.Main(), &client);
  const auto inView = [&](HWND control) {
    POINT origin{0, 0};
    ClientToScreen(w.Main(), &origin);
    const RECT r = ScreenRect(control);
    return r.left >= origin.x && r.top >= origin.y && r.right <= origin.x + client.right &&
           r.bottom <= origin.y + client.bottom;
  };
  if (Width(framed) <= Width(work) && Height(framed) <= Height(work)) {
    EXPECT_GE(client.right, design.cx);
    EXPECT_GE(client.bottom, design.cy);
    for (const ControlDesign& c : kControls) {
      if (!w.Shown(c.id)) continue;
      EXPECT_TRUE(inView(w.Control(c.id))) << c.name;
      if (PlacementOf(c.id).kind == ControlKind::Button) {
        EXPECT_TRUE(CaptionOnOneLine(w.Control(c.id), c.id)) << c.name << " wraps its caption";
      }
    }
    EXPECT_EQ(LabelsCutOff(w), "");
  } else {
    // A screen smaller than the design: the content scrolls, and every control the keyboard
    // reaches comes into view when Tab gives it the focus.
    std::cout << "The screen is smaller than the design size: its content scrolls.\n";
    for (const ControlDesign& c : kControls) {
      HWND control = w.Control(c.id);
      if (!w.Shown(c.id) || !(GetWindowLongA(control, GWL_STYLE) & WS_TABSTOP)) continue;
      ASSERT_TRUE(w.TabTo(control)) << c.name << ": " << ControlNameOf(w.Focus());
      EXPECT_TRUE(WindowDriver::WaitFor([&] { return inView(control); }, 2000)) << c.name;
      if (c.id == Ctl::BtnClose) WindowDriver::Shot("4-smallest-scrolled");
    }
  }
  EXPECT_EQ(w.Close(), 0u);
}

TEST(WinWindow, SoftwareUploadWithTheKeyboardAlone) {
  const std::string com = Env("KV_TEST_UNIT_COM");
  const std::string hex = Env("KV_TEST_HEX");
  if (com.empty() || hex.empty())
    GTEST_SKIP() << "no unit: the Wine test names KV_TEST_UNIT_COM and KV_TEST_HEX";
  WindowDriver w(ScratchFolder("upload"));
  HWND ports = w.Control(Ctl::CommPortBox);
  ASSERT_TRUE(w.TabTo(ports)) << ControlNameOf(w.Focus());
  w.Type(com);
  ASSERT_TRUE(WindowDriver::WaitFor(
      [&] { return SendMessageA(ports, CB_GETCURSEL, 0, 0) == std::stoi(com) - 1; }, 5000));

  w.Alt('s');
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::BtnChooseFile); }, 20000))
      << w.Text(Ctl::Label12);
  EXPECT_EQ(w.Text(Ctl::Label12), "Port is open on Com " + com + " at 38400 baud");
  ASSERT_TRUE(w.TabTo(w.Control(Ctl::BtnChooseFile))) << ControlNameOf(w.Focus());
  w.Key(VK_SPACE);

  HWND chooser = nullptr;
  ASSERT_TRUE(
      WindowDriver::WaitFor([&] { return (chooser = w.Shown("KvTForm2")) != nullptr; }, 10000));
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return GetDlgCtrlID(w.Focus()) == 201; }, 5000));
  // The chooser's file types are Software Upload's, the drive box has drive C, and OK is
  // offered once a name is typed.
  EXPECT_EQ(SendDlgItemMessageA(chooser, 206, CB_GETCOUNT, 0, 0), 5);
  EXPECT_EQ(WindowDriver::TextOf(GetDlgItem(chooser, 206)), "Korvane Upload (.kvu)");
  EXPECT_GE(
      SendDlgItemMessageA(chooser, 205, CB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>("C:\\")),
      0);
  w.Key(VK_DELETE);
  w.Type(hex);
  WindowDriver::Shot("5-chooser");
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(chooser, IDOK)));
  w.Key(VK_RETURN);
  ASSERT_TRUE(
      WindowDriver::WaitFor([&] { return w.Text(Ctl::Label15) == "THE UNIT MUST BE OFF"; }, 60000))
      << w.Text(Ctl::Label12);
  EXPECT_TRUE(w.Shown(Ctl::BtnStartRun));
  EXPECT_EQ(LabelsCutOff(w), "");
  WindowDriver::Shot("6-file-ready");

  w.Alt('u');
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::Gauge); }, 30000))
      << w.Text(Ctl::Label2);
  EXPECT_EQ(LabelsCutOff(w), "");
  WindowDriver::Shot("7-uploading");
  // Closing while the flash is written asks first; No keeps the run going.
  PostMessageA(w.Main(), WM_CLOSE, 0, 0);
  HWND question = nullptr;
  ASSERT_TRUE(
      WindowDriver::WaitFor([&] { return (question = w.Shown("#32770")) != nullptr; }, 5000));
  WindowDriver::Shot("7-close-question");
  PostMessageA(question, WM_COMMAND, IDNO, 0);
  EXPECT_TRUE(WindowDriver::WaitFor([&] { return !IsWindowVisible(question); }, 5000));
  EXPECT_TRUE(IsWindow(w.Main()));
  ASSERT_TRUE(WindowDriver::WaitFor(
      [&] { return w.Text(Ctl::Label15) == "Software Upload complete"; }, 180000))
      << w.Text(Ctl::Label2) << " / " << w.Text(Ctl::Label4);
  EXPECT_TRUE(WindowDriver::WaitFor(
      [&] { return w.Shown(Ctl::BtnRepeatUpload) && w.Shown(Ctl::BtnBackToStart); }, 5000));
  EXPECT_FALSE(w.Shown(Ctl::Gauge));
  EXPECT_EQ(LabelsCutOff(w), "");
  WindowDriver::Shot("8-upload-finished");
  w.Alt('c');
  EXPECT_TRUE(WindowDriver::WaitFor([&] { return !IsWindow(w.Main()); }, 10000));
}

// The unit's COM port chosen in the drop-down, as a click in the list does.
void ChoosePort(const WindowDriver& w, const std::string& com) {
  HWND ports = w.Control(Ctl::CommPortBox);
  SendMessageA(ports, CB_SETCURSEL, static_cast<WPARAM>(std::stoi(com) - 1), 0);
  PostMessageA(GetParent(ports), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(ports), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(ports));
}

}  // namespace

// A COM port whose device Wine does not report as a pseudo-terminal may have a line behind it,
// so the stand-in factory files that this build carries are refused there: the screen says why
// and offers the way back.
TEST(WinWindow, FactoryRunRefusesStandInFilesOnAComPort) {
  const std::string com = Env("KV_TEST_FACTORY_LINE_COM");
  if (com.empty()) GTEST_SKIP() << "no port: the Wine test names KV_TEST_FACTORY_LINE_COM";
  WindowDriver w(ScratchFolder("factory"));
  ChoosePort(w, com);
  w.Press(Ctl::BtnBoot);
  // The way back is offered from the start; the refusal comes once the port is open.
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return !w.Text(Ctl::Label1).empty(); }, 20000));
  EXPECT_TRUE(w.Shown(Ctl::BtnBackToStart));
  EXPECT_TRUE(w.Shown(Ctl::FactoryBox) && !w.Shown(Ctl::OpeningBox) && !w.Shown(Ctl::BtnGoOn));
  EXPECT_EQ(w.Text(Ctl::Label1), "This program carries stand-in factory files, not Korvane's");
  EXPECT_EQ(LabelsCutOff(w), "");
  WindowDriver::Shot("9-factory-refused");
  w.Alt('g');
  EXPECT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::OpeningBox); }, 5000));
  EXPECT_EQ(w.Close(), 0u);
}

// The simulated unit (KV_TEST_FACTORY_COM) is a pseudo-terminal behind the COM port, which
// takes the stand-ins: the whole run, "&Proceed" to the end; the Wine test reads its flash.
TEST(WinWindow, FactoryBootstrapUploadThroughTheWindowToTheEnd) {
  const std::string com = Env("KV_TEST_FACTORY_COM");
  if (com.empty()) GTEST_SKIP() << "no unit: the Wine test names KV_TEST_FACTORY_COM";
  WindowDriver w(ScratchFolder("factory-run"));
  ChoosePort(w, com);
  w.Press(Ctl::BtnBoot);
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::BtnGoOn); }, 20000))
      << w.Text(Ctl::Label1) << " / " << w.Text(Ctl::FUpHist);
  EXPECT_EQ(w.Text(Ctl::BtnGoOn), "&Proceed");
  EXPECT_EQ(w.Text(Ctl::Label16), "Turn the Unit power on, then click on <Proceed>");
  EXPECT_EQ(LabelsCutOff(w), "");
  WindowDriver::Shot("9-factory-ready");
  w.Alt('p');
  ASSERT_TRUE(WindowDriver::WaitFor(
      [&] { return w.Text(Ctl::Label16) == "Click on <Go Back to Start> to upload Main Software"; },
      180000))
      << w.Text(Ctl::Label16) << " / " << w.Text(Ctl::FUpHist);
  const std::string history = w.Text(Ctl::FUpHist);
  for (const char* line : {"Checksum is 1503\r\nGot U,READY handshake",
                           "FlashCode Upload complete\r\n \r\nFactory Upload completed.\r\nTime"})
    EXPECT_NE(history.find(line), std::string::npos) << line << "\n" << history;
  EXPECT_TRUE(w.Shown(Ctl::FactoryBox) && w.Shown(Ctl::BtnBackToStart));
  EXPECT_EQ(w.Shown("#32770"), nullptr);
  EXPECT_EQ(LabelsCutOff(w), "");
  WindowDriver::Shot("9-factory-finished");
  w.Press(Ctl::BtnBackToStart);
  EXPECT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::OpeningBox); }, 5000));
  EXPECT_EQ(w.Close(), 0u);
}

// The Wine test kills the unit (KV_TEST_VANISH_COM) once the records flow: the run stops with
// the port named, offers both ways on, and nothing claims the upload done. The unit then comes
// back on the same COM port (the Wine test makes KV_TEST_VANISH_BACK once it is there), and
// "Repeat Upload" sends the whole file to it.
TEST(WinWindow, UnitThatVanishesMidUploadStopsTheRunAndOffersTheWaysOn) {
  const std::string com = Env("KV_TEST_VANISH_COM");
  const std::string hex = Env("KV_TEST_VANISH_HEX");
  const std::string back = Env("KV_TEST_VANISH_BACK");
  if (com.empty() || hex.empty() || back.empty())
    GTEST_SKIP() << "no unit: the Wine test names KV_TEST_VANISH_COM, KV_TEST_VANISH_HEX and "
                    "KV_TEST_VANISH_BACK";
  WindowDriver w(ScratchFolder("vanish"));
  ChoosePort(w, com);
  w.Press(Ctl::Btn2Upload);
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::BtnChooseFile); }, 20000))
      << w.Text(Ctl::Label12);
  w.Press(Ctl::BtnChooseFile);
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Shown("KvTForm2") != nullptr; }, 10000));
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return GetDlgCtrlID(w.Focus()) == 201; }, 5000));
  w.Key(VK_DELETE);
  w.Type(hex);
  w.Key(VK_RETURN);
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::BtnStartRun); }, 60000))
      << w.Text(Ctl::Label12);
  w.Press(Ctl::BtnStartRun);

  HWND box = nullptr;
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return (box = w.Shown("#32770")) != nullptr; }, 180000))
      << w.Text(Ctl::Label2) << " / " << w.Text(Ctl::Label15);
  const std::string message = WindowDriver::TextOf(GetDlgItem(box, 0xFFFF));
  EXPECT_EQ(message.rfind("COM" + com + " is no longer there: ", 0), 0u) << message;
  WindowDriver::Shot("10-unit-gone-message");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WindowDriver::WaitFor(
      [&] { return w.Shown(Ctl::BtnRepeatUpload) && w.Shown(Ctl::BtnBackToStart); }, 10000))
      << w.Text(Ctl::Label2) << " / "
      << WindowDriver::TextOf(GetDlgItem(w.Shown("#32770"), 0xFFFF));
  EXPECT_EQ(w.Text(Ctl::Label2), "The run has stopped: Com " + com + " is no longer there");
  EXPECT_EQ(w.Color(Ctl::Label2), kRed);
  // One message only, and no word of success anywhere.
  WindowDriver::WaitFor([] { return false; }, 1000);
  EXPECT_EQ(w.Shown("#32770"), nullptr);
  EXPECT_NE(w.Text(Ctl::Label15), "Software Upload complete");
  EXPECT_EQ(w.Text(Ctl::FUpHist).find("Upload complete"), std::string::npos)
      << w.Text(Ctl::FUpHist);
  EXPECT_EQ(LabelsCutOff(w), "");
  WindowDriver::Shot("11-unit-gone");

  // Plugged back in: the port is opened anew, and the repeat goes to the end.
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return fs::exists(back); }, 60000));
  w.Press(Ctl::BtnRepeatUpload);
  ASSERT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::BtnStartRun); }, 20000))
      << w.Text(Ctl::Label12);
  w.Press(Ctl::BtnStartRun);
  ASSERT_TRUE(WindowDriver::WaitFor(
      [&] { return w.Text(Ctl::Label15) == "Software Upload complete"; }, 180000))
      << w.Text(Ctl::Label2) << " / " << w.Text(Ctl::Label12);
  EXPECT_EQ(w.Shown("#32770"), nullptr);
  w.Press(Ctl::BtnBackToStart);
  EXPECT_TRUE(WindowDriver::WaitFor([&] { return w.Shown(Ctl::OpeningBox); }, 5000));
  EXPECT_EQ(w.Close(), 0u);
}
