#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>

#include <atomic>
#include <string>
#include <vector>

#include "components/component_test_support.h"
#include "components/port_map.h"
#include "components/serial.h"
#include "support/env_scope.h"

using namespace std::chrono_literals;

namespace {
constexpr int kPort = 7;

// A port set as the main window sets it, pointed at a fresh pseudo-terminal.
struct PortFixture {
  PortFixture() : serial(main) {
    serial.ShowErrorDialog = [this](const std::string& text) { dialogs.push_back(text); };
    serial.SetPort(kPort);
    serial.SetDataBits(d8bit);
    serial.SetCheckParity(false);
  }
  StdMainThread main;
  Pty pty;
  kvtest::EnvScope ports = MapPort(kPort, pty.SlavePath());
  std::vector<std::string> dialogs;
  TSerial serial;
};

termios SlaveSettings(const Pty& pty) {
  termios tio{};
  // A pseudo-terminal's master reports the settings of its slave.
  EXPECT_EQ(::tcgetattr(pty.Master(), &tio), 0);
  return tio;
}

double ProcessCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool WaitForInput(TSerial& serial, int count) {
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (serial.RxWaiting() < count && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(5ms);
  return serial.RxWaiting() >= count;
}
}  // namespace

TEST(Serial, SettingsRecordFollowsThePropertiesBeforeAndAfterOpening) {
  StdMainThread main;
  TSerial serial(main);
  LineSettingsRecord r = serial.LineSettings();
  EXPECT_EQ(r.DCBlength, 28u);
  EXPECT_EQ(r.BaudRate, 9600u);
  EXPECT_EQ(r.Flags, dcb::fBinary | dcb::fParity);  // CheckParity is on by default
  EXPECT_EQ(r.ByteSize, 7);

  serial.SetDataBits(d8bit);
  serial.SetCheckParity(false);
  r = serial.LineSettings();
  EXPECT_EQ(r.Flags, 0x1u);
  EXPECT_EQ(r.ByteSize, 8);
  EXPECT_EQ(r.Parity, 0);
  EXPECT_EQ(r.StopBits, 0);
  EXPECT_EQ(r.XonLim, 341);
  EXPECT_EQ(r.XoffLim, 341);
  EXPECT_EQ(r.XonChar, 17);
  EXPECT_EQ(r.XoffChar, 19);
  EXPECT_EQ(r.ErrorChar, 63);

  serial.SetFlowMode(fcRTS_CTS);
  EXPECT_EQ(serial.LineSettings().Flags, 0x1u | 0x4u | 0x2000u);
  serial.SetFlowMode(fcDTR_DSR);
  EXPECT_EQ(serial.LineSettings().Flags, 0x1u | 0x8u | 0x20u);
  serial.SetFlowMode(fcXON_XOF);
  EXPECT_EQ(serial.LineSettings().Flags, 0x1u | 0x100u | 0x200u);
  serial.SetParity(paMark);
  serial.SetStopBits(st2bit);
  EXPECT_EQ(serial.LineSettings().Parity, 3);
  EXPECT_EQ(serial.LineSettings().StopBits, 2);
  serial.SetRxQueueSize(300);
  EXPECT_EQ(serial.LineSettings().XonLim, 100);
}

TEST(Serial, OpensAppliesLineSettingsAndReopensOnlyWhenItShould) {
  PortFixture f;
  ASSERT_TRUE(f.pty.Ok());
  EXPECT_FALSE(f.serial.EventThreadStarted());
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active()) << (f.dialogs.empty() ? "" : f.dialogs[0]);
  EXPECT_TRUE(f.serial.EventThreadStarted());

  termios tio = SlaveSettings(f.pty);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_iflag & (INPCK | IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));

  const std::pair<int, speed_t> rates[] = {{110, B110},       {300, B300},     {600, B600},
                                           {1200, B1200},     {2400, B2400},   {4800, B4800},
                                           {19200, B19200},   {38400, B38400}, {57600, B57600},
                                           {115200, B115200}, {9600, B9600}};
  for (auto [rate, constant] : rates) {
    f.serial.SetBaudrate(rate);
    ASSERT_TRUE(f.serial.Active()) << rate;
    tio = SlaveSettings(f.pty);
    EXPECT_EQ(::cfgetospeed(&tio), constant) << rate;
    EXPECT_EQ(::cfgetispeed(&tio), constant) << rate;
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << rate;
  }
  // Rates without a termios constant still open the port without a report.
  for (int rate : {14400, 56000, 128000, 256000}) {
    f.serial.SetBaudrate(rate);
    EXPECT_TRUE(f.serial.Active()) << rate;
  }
  for (auto& d : f.dialogs) ADD_FAILURE() << d;
  f.serial.SetBaudrate(9600);

  // Parity, stop bits and handshake reach the terminal.
  f.serial.SetParity(paEven);
  f.serial.SetStopBits(st2bit);
  f.serial.SetFlowMode(fcRTS_CTS);
  tio = SlaveSettings(f.pty);
  // A pseudo-terminal always carries eight bits without parity; the rest shows.
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  for (auto& d : f.dialogs) ADD_FAILURE() << d;
  f.serial.SetParity(paNone);
  f.serial.SetStopBits(st1bit);
  f.serial.SetFlowMode(fcNone);
  EXPECT_EQ(f.serial.Timeouts().WriteTotalTimeoutConstant, 10000u);  // kept after a handshake

  // Setting the present rate does nothing: unread input survives.
  f.pty.Send("abc");
  ASSERT_TRUE(WaitForInput(f.serial, 3));
  f.serial.SetBaudrate(9600);
  EXPECT_EQ(f.serial.RxWaiting(), 3);
  // Setting the present queue size reopens the port, and a reopen loses unread input.
  f.serial.SetRxQueueSize(1024);
  EXPECT_TRUE(f.serial.Active());
  EXPECT_EQ(f.serial.RxWaiting(), 0);
  // Active := True on an open port reopens it too.
  f.pty.Send("xyz");
  ASSERT_TRUE(WaitForInput(f.serial, 3));
  f.serial.SetActive(true);
  EXPECT_TRUE(f.serial.Active());
  EXPECT_EQ(f.serial.RxWaiting(), 0);

  f.serial.SetActive(false);
  EXPECT_FALSE(f.serial.Active());
  EXPECT_EQ(f.serial.RxWaiting(), 0);
  EXPECT_EQ(f.serial.TxWaiting(), 0);
  f.serial.SetActive(false);  // closing a closed port does nothing
  f.serial.SetActive(true);
  EXPECT_TRUE(f.serial.Active());
  for (auto& d : f.dialogs) ADD_FAILURE() << d;
}

TEST(Serial, WritesAndBoundedReads) {
  PortFixture f;
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active());

  f.serial.WriteChar(0);
  EXPECT_EQ(f.pty.Receive(1), std::string(1, '\0'));
  f.serial.WriteString("GO\r");
  f.serial.WriteChar(0xFF);
  EXPECT_EQ(f.pty.Receive(4), std::string("GO\r\xFF"));

  std::string text = "stale";
  EXPECT_EQ(f.serial.ReadString(text), 0);
  EXPECT_TRUE(text.empty());

  // A received zero byte is a character like any other.
  f.pty.Send(std::string("A\0B", 3));
  ASSERT_TRUE(WaitForInput(f.serial, 3));
  EXPECT_EQ(f.serial.ReadString(text), 3);
  EXPECT_EQ(text, std::string("A\0B", 3));

  // One call takes at most RxQueueSize + 1 bytes and leaves the rest queued.
  f.serial.SetRxQueueSize(100);
  std::string input;
  for (int i = 0; i < 300; ++i) input.push_back(static_cast<char>('a' + i % 26));
  f.pty.Send(input);
  ASSERT_TRUE(WaitForInput(f.serial, 300));
  std::string got, all;
  EXPECT_EQ(f.serial.ReadString(got), 101);
  all += got;
  EXPECT_EQ(f.serial.ReadString(got), 101);
  all += got;
  EXPECT_EQ(f.serial.ReadString(got), 98);
  all += got;
  EXPECT_EQ(all, input);
  uint8_t b = 0;
  EXPECT_EQ(f.serial.ReadChar(b), 0);
  EXPECT_TRUE(f.dialogs.empty());

  // The end of output is watched for a handler that wants it.
  int emptied = 0;
  f.serial.OnTxEmpty = [&](TComponent*) { ++emptied; };
  f.serial.SetActive(true);
  f.serial.WriteString("U");
  EXPECT_EQ(f.pty.Receive(1), "U");
  EXPECT_TRUE(ServeUntil(f.main, [&] { return emptied == 1; }));

  // A write the other end never takes gives up after its bound (500 ms at 38400 baud and
  // above, whatever the length) and is reported.
  f.serial.SetBaudrate(115200);
  const auto start = std::chrono::steady_clock::now();
  f.serial.WriteString(std::string(1 << 20, 'x'));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 450ms);
  EXPECT_LT(took, 3s);
  EXPECT_EQ(f.dialogs.size(), 1u);
  EXPECT_NE(f.serial.ErrorCode(), 0);
}

TEST(Serial, ReceivedDataReachTheHandlerOnTheMainThread) {
  PortFixture f;
  std::string reply;
  bool offThread = false;
  f.serial.OnRxData = [&](TComponent* sender) {
    if (!f.main.IsMainThread() || sender != &f.serial) offThread = true;
    std::string chunk;
    f.serial.ReadString(chunk);
    reply += chunk;
  };
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active());
  f.pty.Send("READY\r\n");
  EXPECT_TRUE(ServeUntil(f.main, [&] { return reply.find("READY\r\n") != std::string::npos; }));
  f.pty.Send("SEND BLOCK\r\n");
  EXPECT_TRUE(ServeUntil(f.main, [&] { return reply.find("SEND BLOCK") != std::string::npos; }));
  EXPECT_EQ(reply, "READY\r\nSEND BLOCK\r\n");
  EXPECT_FALSE(offThread);

  // Input that arrives after the handler's last read, before the event thread waits again,
  // still raises the event.
  bool sentLate = false;
  f.serial.OnRxData = [&](TComponent*) {
    std::string chunk;
    f.serial.ReadString(chunk);
    reply += chunk;
    if (!sentLate) {
      sentLate = true;
      f.pty.Send("LATE");
      std::this_thread::sleep_for(50ms);  // let it reach the input queue
    }
  };
  f.pty.Send("ok\r\n");
  EXPECT_TRUE(ServeUntil(f.main, [&] { return reply.find("LATE") != std::string::npos; }));

  // Input the handler leaves unread raises no further event until more arrives, and the
  // thread does not spin meanwhile.
  int events = 0;
  f.serial.OnRxData = [&](TComponent*) { ++events; };
  f.pty.Send("X");
  EXPECT_TRUE(ServeUntil(f.main, [&] { return events >= 1; }));
  const double cpuBefore = ProcessCpuSeconds();
  ServeFor(f.main, 300ms);
  EXPECT_EQ(events, 1);
  f.pty.Send("Y");
  EXPECT_TRUE(ServeUntil(f.main, [&] { return events >= 2; }));
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.25);
}

// Input is dated when it comes, not when a busy main thread gets round to reading it.
TEST(Serial, InputAgeSaysHowLongTheBytesReadHadWaited) {
  PortFixture f;
  std::string reply;
  double age = -1;
  f.serial.OnRxData = [&](TComponent*) {
    std::string chunk;
    f.serial.ReadString(chunk);
    reply += chunk;
    if (!chunk.empty()) age = f.serial.InputAge();
  };
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active());
  f.pty.Send("SEND BLOCK\r");
  std::this_thread::sleep_for(200ms);  // the main thread busy elsewhere
  ASSERT_TRUE(ServeUntil(f.main, [&] { return reply == "SEND BLOCK\r"; }));
  EXPECT_GE(age, 0.15);
  // A read that brings nothing says nothing of age.
  std::string none;
  EXPECT_EQ(f.serial.ReadString(none), 0);
  EXPECT_EQ(f.serial.InputAge(), 0);
}

TEST(Serial, MessageModeAssemblesFramedMessages) {
  PortFixture f;
  std::vector<std::string> messages;
  f.serial.SetRxEventMode(rxMessage);
  f.serial.SetMessageStartChar(2);
  f.serial.SetMessageEndChar(3);
  f.serial.SetMessageAppendCount(2);
  f.serial.OnMessage = [&](TComponent*, const std::string& m) {
    EXPECT_TRUE(f.main.IsMainThread());
    messages.push_back(m);
  };
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active());

  f.pty.Send(
      "x\x02"
      "AB\x03"
      "CDE");
  ASSERT_TRUE(ServeUntil(f.main, [&] { return !messages.empty(); }));
  ServeFor(f.main, 100ms);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            "\x02"
            "AB\x03"
            "CD");

  // A second start character drops the partial message; an end character outside a
  // message is ignored.
  f.pty.Send(
      "\x03\x02PQ\x02RS\x03"
      "12");
  ASSERT_TRUE(ServeUntil(f.main, [&] { return messages.size() >= 2; }));
  EXPECT_EQ(messages[1],
            "\x02RS\x03"
            "12");
  EXPECT_EQ(f.serial.RxWaiting(), 0);

  // Without an append count the end character completes the message.
  f.serial.SetMessageAppendCount(0);
  f.pty.Send(
      "\x02Z\x03"
      "tail");
  ASSERT_TRUE(ServeUntil(f.main, [&] { return messages.size() >= 3; }));
  EXPECT_EQ(messages[2], "\x02Z\x03");
}

TEST(Serial, InvalidBaudrateIsRefusedAndTheOldRateKept) {
  PortFixture f;
  f.serial.SetBaudrate(115200);
  EXPECT_EQ(f.serial.Baudrate(), 115200);
  EXPECT_FALSE(f.serial.Active());
  f.serial.SetBaudrate(9601);
  ASSERT_EQ(f.dialogs.size(), 1u);
  EXPECT_EQ(f.dialogs[0], "Baudrate is not valid");
  EXPECT_EQ(f.serial.Baudrate(), 115200);
  EXPECT_EQ(f.serial.ErrorCode(), 0);
  // Always a dialog, whatever the error notification says.
  f.serial.SetNotifyErrors(neNone);
  f.serial.SetBaudrate(0);
  EXPECT_EQ(f.dialogs.size(), 2u);
}

TEST(Serial, PortWithoutDeviceIsReportedOnceByEachNotificationMode) {
  StdMainThread main;
  kvtest::EnvScope ports("KVUFLASH_PORTS", "9=/nonexistent/ttyKV9");
  TSerial serial(main);
  std::vector<std::string> dialogs;
  serial.ShowErrorDialog = [&](const std::string& t) { dialogs.push_back(t); };
  serial.SetPort(9);
  serial.SetActive(true);
  EXPECT_FALSE(serial.Active());
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_NE(dialogs[0].find("COM9"), std::string::npos) << dialogs[0];
  EXPECT_NE(serial.ErrorCode(), 0);
  EXPECT_FALSE(serial.EventThreadStarted());

  int errorEvents = 0;
  serial.OnError = [&](TComponent* s) {
    EXPECT_EQ(s, &serial);
    ++errorEvents;
  };
  serial.SetNotifyErrors(neEvent);
  serial.SetActive(true);
  EXPECT_EQ(errorEvents, 1);
  EXPECT_EQ(dialogs.size(), 1u);
  serial.SetNotifyErrors(neNone);
  serial.SetActive(true);
  EXPECT_EQ(errorEvents, 1);
  EXPECT_EQ(dialogs.size(), 1u);
  EXPECT_FALSE(serial.Active());

  // A device named on this port alone goes before the environment's entry for its number.
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  serial.NamedDevices[9] = pty.SlavePath();
  EXPECT_EQ(serial.DeviceName(9), pty.SlavePath());
  serial.SetActive(true);
  EXPECT_TRUE(serial.Active());
  EXPECT_EQ(ResolvePortDevice(9, ""), "/nonexistent/ttyKV9") << "the environment is unchanged";
  serial.SetActive(false);

  // A number that no device stands for says where this machine's port map file is.
  ports.Set(std::string());
  TSerial unmapped(main);
  unmapped.ShowErrorDialog = [&](const std::string& t) { dialogs.push_back(t); };
  unmapped.ProgramDir = "/nonexistent/kv/";
  unmapped.SetPort(99);
  unmapped.SetActive(true);
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_NE(dialogs[1].find("port map file /nonexistent/kv/ports.txt (a line 99=/dev/ttyUSB0)"),
            std::string::npos)
      << dialogs[1];
}

TEST(Serial, SecondOpenOfAPortInUseFails) {
  PortFixture f;
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active());
  TSerial other(f.main);
  std::vector<std::string> dialogs;
  other.ShowErrorDialog = [&](const std::string& t) { dialogs.push_back(t); };
  other.SetPort(kPort);
  other.SetActive(true);
  EXPECT_FALSE(other.Active());
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_NE(dialogs[0].find("in use"), std::string::npos) << dialogs[0];
  // Once the first lets go, the second gets it.
  f.serial.SetActive(false);
  other.SetActive(true);
  EXPECT_TRUE(other.Active());
}

TEST(Serial, VanishedDeviceIsReportedOnceAndThePortCloses) {
  PortFixture f;
  int rxEvents = 0;
  f.serial.OnRxData = [&](TComponent*) {
    ++rxEvents;
    std::string s;
    f.serial.ReadString(s);
  };
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active());
  f.pty.CloseMaster();
  // A record sent byte by byte to the dead device, before the event thread's report reaches
  // the main thread: the first failed write finds the device gone, says so once naming the
  // port, and closes it; the rest of the record is dropped without a word.
  for (int i = 0; i < 20; ++i) f.serial.WriteChar(static_cast<uint8_t>('A' + i));
  ServeFor(f.main, 200ms);  // the event thread's own report must not add a second message
  EXPECT_FALSE(f.serial.Active());
  EXPECT_NE(f.serial.ErrorCode(), 0);
  ASSERT_EQ(f.dialogs.size(), 1u);
  EXPECT_EQ(f.dialogs[0].rfind("COM7 (" + f.pty.SlavePath() + ") is no longer there", 0), 0u)
      << f.dialogs[0];

  const double cpuBefore = ProcessCpuSeconds();
  ServeFor(f.main, 1000ms);
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.3);  // nothing spins on the dead device
  EXPECT_EQ(f.dialogs.size(), 1u);
}

TEST(Serial, VanishedDeviceFoundByTheEventThreadIsReportedOnce) {
  PortFixture f;
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active());
  f.pty.CloseMaster();
  EXPECT_TRUE(ServeUntil(f.main, [&] { return !f.serial.Active(); }));
  ServeFor(f.main, 200ms);
  ASSERT_EQ(f.dialogs.size(), 1u);
  EXPECT_EQ(f.dialogs[0].rfind("COM7 (" + f.pty.SlavePath() + ") is no longer there", 0), 0u)
      << f.dialogs[0];
  // Writes after the loss are not reported again.
  f.serial.WriteString("U");
  EXPECT_EQ(f.dialogs.size(), 1u);
}

TEST(Serial, CloseDropsAPendingHandOverInsteadOfFreezing) {
  PortFixture f;
  int handlerRuns = 0;
  f.serial.OnRxData = [&](TComponent*) { ++handlerRuns; };
  f.serial.SetActive(true);
  ASSERT_TRUE(f.serial.Active());
  f.pty.Send("U");
  // The event thread places its hand-over and waits; the main thread does not serve it.
  std::this_thread::sleep_for(200ms);

  auto start = std::chrono::steady_clock::now();
  f.serial.SetBaudrate(19200);  // close and reopen
  EXPECT_TRUE(f.serial.Active());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);  // the old close sat out 7.5 s

  f.pty.Send("V");
  std::this_thread::sleep_for(200ms);
  start = std::chrono::steady_clock::now();
  f.serial.SetActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  ServeFor(f.main, 200ms);
  EXPECT_EQ(handlerRuns, 0);  // no handler runs against the closed port

  // A handler may itself change the rate (close and reopen) without a wait, and input
  // keeps arriving afterwards.
  std::string reply;
  f.serial.OnRxData = [&](TComponent*) {
    std::string chunk;
    f.serial.ReadString(chunk);
    reply += chunk;
    if (chunk.find('!') != std::string::npos) {
      const auto t0 = std::chrono::steady_clock::now();
      f.serial.SetBaudrate(38400);
      EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    }
  };
  f.serial.SetActive(true);
  f.pty.Send("switch!");
  ASSERT_TRUE(ServeUntil(f.main, [&] { return reply.find('!') != std::string::npos; }));
  EXPECT_EQ(f.serial.Baudrate(), 38400);
  EXPECT_TRUE(f.serial.Active());
  f.pty.Send("after");
  EXPECT_TRUE(ServeUntil(f.main, [&] { return reply.find("after") != std::string::npos; }));
}

TEST(Serial, APortIsOpenedOnlyWithTheEventThatReleasesItsWait) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' runtimes need descriptors of their own, which this test takes away.
  GTEST_SKIP() << "the descriptor table cannot be filled under a sanitizer";
#endif
  Pty pty;
  const auto ports = MapPort(kPort, pty.SlavePath());
  // In a child, whose descriptor table can be filled without harming the other tests.
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<int> held;
    for (int fd; (fd = ::dup(0)) >= 0;) held.push_back(fd);
    int status = 0;
    {
      StdMainThread main;
      TSerial serial(main);  // no descriptor left for its wake-up event
      std::vector<std::string> dialogs;
      serial.ShowErrorDialog = [&](const std::string& text) { dialogs.push_back(text); };
      serial.SetPort(kPort);
      serial.SetActive(true);
      if (serial.Active() || dialogs.size() != 1) status |= 1;
      // With room again the event is made at the open, and the close is not held up by an
      // event wait that nothing can release.
      for (int i = 0; i < 4 && !held.empty(); ++i, held.pop_back()) ::close(held.back());
      serial.SetActive(true);
      if (!serial.Active()) status |= 2;
      serial.SetActive(false);
      if (serial.Active()) status |= 4;
    }
    ::_exit(status);
  }
  ASSERT_GT(pid, 0);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened without its event, 2: not opened with room, "
                                       "4: not closed";
}
