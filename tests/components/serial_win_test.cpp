// TSerial over the Win32 communications calls, on COM ports that a harness provides:
// KV_TEST_COM is a port whose other end echoes every byte and answers ENQ (5) with the line
// settings it sees ("<baud> <stop bits> <none|rtscts|xonxoff>" and CR); KV_TEST_SILENT_COM is
// a port whose other end never reads. Without them these tests are skipped.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h makes SetPort a macro for a printer call; here it is TSerial's.
#undef SetPort

#include <cstdlib>
#include <string>
#include <vector>

#include "components/component_test_support.h"
#include "components/serial.h"

using namespace std::chrono_literals;

namespace {

constexpr char kEnq = 5;

int PortFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : 0;
}

// Wine reports itself through an export of ntdll that Windows does not have.
bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A port set as the main window sets it, with its received text collected by OnRxData.
struct WinPort {
  explicit WinPort(int port) : serial(main) {
    serial.ShowErrorDialog = [this](const std::string& text) { dialogs.push_back(text); };
    serial.SetPort(port);
    serial.SetDataBits(d8bit);
    serial.SetCheckParity(false);
    serial.OnRxData = [this](TComponent*) {
      std::string chunk;
      serial.ReadString(chunk);
      received += chunk;
    };
  }
  // What the other end sends back for `text`, up to and including `until`.
  std::string Exchange(const std::string& text, char until) {
    received.clear();
    serial.WriteString(text);
    ServeUntil(main, [&] { return received.find(until) != std::string::npos; });
    return received;
  }
  std::string LineSettings() { return Exchange(std::string(1, kEnq), '\r'); }

  StdMainThread main;
  std::vector<std::string> dialogs;
  std::string received;
  TSerial serial;
};

class WinSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    echoPort_ = PortFromEnvironment("KV_TEST_COM");
    silentPort_ = PortFromEnvironment("KV_TEST_SILENT_COM");
    if (echoPort_ == 0) GTEST_SKIP() << "KV_TEST_COM names no port with an echoing other end";
  }
  int echoPort_ = 0;
  int silentPort_ = 0;
};

TEST_F(WinSerial, OpensTheComDeviceWithItsSettingsAndReopensOnlyWhenItShould) {
  WinPort p(echoPort_);
  EXPECT_EQ(p.serial.DeviceName(echoPort_), "COM" + std::to_string(echoPort_));
  p.serial.SetActive(true);
  ASSERT_TRUE(p.serial.Active()) << (p.dialogs.empty() ? "" : p.dialogs[0]);
  EXPECT_EQ(p.LineSettings(), "9600 1 none\r");

  for (int rate : {19200, 38400, 57600, 115200}) {
    p.serial.SetBaudrate(rate);
    ASSERT_TRUE(p.serial.Active()) << rate;
    EXPECT_EQ(p.LineSettings(), std::to_string(rate) + " 1 none\r");
  }
  p.serial.SetStopBits(st2bit);
  EXPECT_EQ(p.LineSettings(), "115200 2 none\r");
  p.serial.SetFlowMode(fcRTS_CTS);
  EXPECT_EQ(p.LineSettings(), "115200 2 rtscts\r");
  p.serial.SetFlowMode(fcXON_XOF);
  EXPECT_EQ(p.LineSettings(), "115200 2 xonxoff\r");
  p.serial.SetFlowMode(fcNone);
  p.serial.SetStopBits(st1bit);
  p.serial.SetBaudrate(38400);
  EXPECT_EQ(p.LineSettings(), "38400 1 none\r");

  // Input the handler leaves unread survives a setter that changes nothing, and is lost when
  // a setter reopens the port.
  p.serial.OnRxData = nullptr;
  p.serial.WriteString("abc");
  ASSERT_TRUE(ServeUntil(p.main, [&] { return p.serial.RxWaiting() >= 3; }));
  p.serial.SetBaudrate(38400);
  EXPECT_EQ(p.serial.RxWaiting(), 3);
  p.serial.SetRxQueueSize(1024);
  EXPECT_TRUE(p.serial.Active());
  EXPECT_EQ(p.serial.RxWaiting(), 0);

  // Closed, and open again with input flowing.
  p.serial.SetActive(false);
  EXPECT_FALSE(p.serial.Active());
  EXPECT_EQ(p.serial.RxWaiting(), 0);
  p.serial.SetActive(true);
  ASSERT_TRUE(p.serial.Active());
  p.serial.OnRxData = [&](TComponent*) {
    std::string chunk;
    p.serial.ReadString(chunk);
    p.received += chunk;
  };
  EXPECT_EQ(p.Exchange("again\r", '\r'), "again\r");
  for (const auto& d : p.dialogs) ADD_FAILURE() << d;
}

TEST_F(WinSerial, WritesReachTheLineAndInputRaisesTheReceiveEventOnTheMainThread) {
  WinPort p(echoPort_);
  bool offThread = false;
  int events = 0;
  p.serial.OnRxData = [&](TComponent* sender) {
    ++events;
    if (!p.main.IsMainThread() || sender != &p.serial) offThread = true;
    std::string chunk;
    p.serial.ReadString(chunk);
    p.received += chunk;
  };
  p.serial.SetBaudrate(38400);
  p.serial.SetActive(true);
  ASSERT_TRUE(p.serial.Active());

  std::string text;
  EXPECT_EQ(p.serial.ReadString(text), 0);  // nothing waiting: at once, and empty
  EXPECT_EQ(p.Exchange("READY\r\n", '\n'), "READY\r\n");
  EXPECT_GE(events, 1);
  EXPECT_FALSE(offThread);

  // Single bytes, the zero byte and 0xFF among them.
  p.received.clear();
  for (unsigned char c : std::string("U\0\xFFZ", 4)) p.serial.WriteChar(c);
  ASSERT_TRUE(ServeUntil(p.main, [&] { return p.received.size() >= 4; }));
  EXPECT_EQ(p.received, std::string("U\0\xFFZ", 4));

  // Input the handler leaves unread raises no further event until more arrives.
  events = 0;
  p.serial.OnRxData = [&](TComponent*) { ++events; };
  p.serial.WriteString("unread");
  ASSERT_TRUE(ServeUntil(p.main, [&] { return p.serial.RxWaiting() >= 6; }));
  ServeFor(p.main, 300ms);
  const int eventsForTheText = events;
  EXPECT_GE(eventsForTheText, 1);
  ServeFor(p.main, 300ms);
  EXPECT_EQ(events, eventsForTheText);
  p.serial.WriteChar('!');
  EXPECT_TRUE(ServeUntil(p.main, [&] { return events > eventsForTheText; }));
  EXPECT_EQ(p.serial.ReadString(text), 7);
  EXPECT_EQ(text, "unread!");
  for (const auto& d : p.dialogs) ADD_FAILURE() << d;
}

TEST_F(WinSerial, AWriteTheOtherEndNeverTakesGivesUpAfterItsBoundAndIsReported) {
  if (silentPort_ == 0) GTEST_SKIP() << "KV_TEST_SILENT_COM names no port";
  WinPort p(silentPort_);
  p.serial.SetBaudrate(115200);
  p.serial.SetActive(true);
  ASSERT_TRUE(p.serial.Active());
  p.serial.WriteString(std::string(1 << 20, 'x'));
  EXPECT_EQ(p.dialogs.size(), 1u);
  EXPECT_NE(p.serial.ErrorCode(), 0);
  // The port closes and opens again without a report.
  p.dialogs.clear();
  p.serial.SetActive(false);
  p.serial.SetActive(true);
  EXPECT_TRUE(p.serial.Active());
  EXPECT_TRUE(p.dialogs.empty()) << p.dialogs[0];
}

TEST_F(WinSerial, APortWithoutDeviceIsReportedByNameInThePlatformsWords) {
  WinPort p(9);  // the harness maps no device to COM9
  p.serial.SetActive(true);
  EXPECT_FALSE(p.serial.Active());
  ASSERT_EQ(p.dialogs.size(), 1u);
  // The device is the COM name itself: named once, then the platform's text.
  EXPECT_EQ(p.dialogs[0].rfind("COM9: ", 0), 0u) << p.dialogs[0];
  EXPECT_GT(p.dialogs[0].size(), 6u);
  EXPECT_NE(p.serial.ErrorCode(), 0) << p.dialogs[0];
  EXPECT_FALSE(p.serial.EventThreadStarted());
}

// Under Wine the echoing port is a pseudo-terminal, which the open port tells; a port with no
// device is taken for a line, as anything is that cannot be told for sure.
TEST_F(WinSerial, APseudoTerminalUnderWineIsNoLineAndAPortNotToldOfIsOne) {
  WinPort p(echoPort_);
  p.serial.SetActive(true);
  ASSERT_TRUE(p.serial.Active());
  EXPECT_EQ(p.serial.IsRealDevice(), !RunningUnderWine());
  WinPort none(9);
  EXPECT_TRUE(none.serial.IsRealDevice());
}

TEST_F(WinSerial, ASecondOpenOfAPortInUseIsRefused) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine grants a second handle on a serial device opened without sharing";
  }
  WinPort first(echoPort_);
  first.serial.SetActive(true);
  ASSERT_TRUE(first.serial.Active());
  WinPort second(echoPort_);
  second.serial.SetActive(true);
  EXPECT_FALSE(second.serial.Active());
  EXPECT_EQ(second.serial.ErrorCode(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(second.dialogs.size(), 1u);
  first.serial.SetActive(false);
  second.serial.SetActive(true);
  EXPECT_TRUE(second.serial.Active());
}

}  // namespace
