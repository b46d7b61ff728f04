// The remote control, the line speed check, and how the simulator starts, ends and reports.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "sim/sim_harness.h"

using namespace simtest;

namespace {

std::string imageWithData() {
  std::string image(4 * 1024 * 1024, '\xFF');
  image.replace(0x000400, 300, pattern(300, 1));  // boot
  image.replace(0x00F800, 64, pattern(64, 2));    // in no region
  image.replace(0x030000, 500, pattern(500, 3));  // main
  image.replace(0x1C0010, 40, pattern(40, 4));    // main, second part
  image.replace(0x070000, 77, pattern(77, 5));    // fpga
  image.replace(0x1D0000, 900, pattern(900, 6));  // fpga, last part
  image.replace(0x090000, 128, pattern(128, 7));  // in no region
  return image;
}

bool hasGarbageOnly(const std::string& bytes) {
  return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return b == 0 || b >= 0x80;
  });
}

}  // namespace

TEST(SimRemote, AnswersQueriesWithTheSumsOfItsFlash) {
  ScratchFolder dir;
  std::string image = imageWithData();
  writeFile(dir.File("start.bin"), image);
  SimProcess sim({"--running", "--flash", dir.File("start.bin")});
  Client c(sim.Path(), 9600);
  Sums s = sumsOf(image);
  const std::string fcs =
      ">0000/FCS=Boot:" + hex4(s.boot) + " Main:" + hex4(s.main) + " FPGA:" + hex4(s.fpga) + "\r\n";

  c.send("<0000/FCS?\r");
  EXPECT_EQ(c.readUntil("\n"), fcs);
  // Noise before a frame, a frame in pieces, and a frame for another address.
  c.send("\x13junk<00");
  c.readFor(50);
  c.send("00/SWR?\r");
  EXPECT_EQ(c.readUntil("\n"), ">0000/SWR=1.01\r\n");
  c.send("<0001/SWR?\r<0000/XYZ?\r");
  EXPECT_EQ(c.readFor(200), "");
  // Sums of an all-0xFF flash: 480 pages of 0xFF make 1000 hex; the other regions make 0000.
  SimProcess blank({"--running"});
  Client b(blank.Path(), 9600);
  b.send("<0000/FCS?\r");
  EXPECT_EQ(b.readUntil("\n"), ">0000/FCS=Boot:1000 Main:0000 FPGA:0000\r\n");
}

TEST(SimRemote, FaultsDelaySwrAndSpoilTheSums) {
  SimProcess sim({"--running", "--swr-after", "3", "--fcs-wrong", "main", "--fcs-wrong", "boot"});
  Client c(sim.Path(), 9600);
  c.send("<0000/SWR?\r");
  EXPECT_EQ(c.readFor(150), "");
  c.send("<0000/SWR?\r");
  EXPECT_EQ(c.readFor(150), "");
  c.send("<0000/SWR?\r");
  EXPECT_EQ(c.readUntil("\n"), ">0000/SWR=1.01\r\n");
  c.send("<0000/FCS?\r");
  EXPECT_EQ(c.readUntil("\n"), ">0000/FCS=Boot:1001 Main:0001 FPGA:0000\r\n");

  ScratchFolder dir;
  std::string image(4 * 1024 * 1024, '\xFF');
  image.replace(0x010000, 4, std::string("\x10\x00\x0A\x00", 4));  // main sum ends in AB hex digits
  writeFile(dir.File("f.bin"), image);
  SimProcess lower({"--running", "--fcs-lowercase", "--flash", dir.File("f.bin")});
  Client l(lower.Path(), 9600);
  l.send("<0000/FCS?\r");
  std::string got = l.readUntil("\n");
  std::string mainSum = hex4(sumsOf(image).main);
  std::transform(mainSum.begin(), mainSum.end(), mainSum.begin(), [](char ch) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  });
  EXPECT_EQ(got, ">0000/FCS=Boot:1000 Main:" + mainSum + " FPGA:0000\r\n");
  EXPECT_NE(got.find_first_of("abcdef", 15), std::string::npos) << got;
}

TEST(SimLine, AMasterSeesTheSpeedThatTheClientSet) {
  // The speed check rests on this property of Linux pseudo-terminals.
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios t{};
  tcgetattr(slave, &t);
  cfsetspeed(&t, B57600);
  tcsetattr(slave, TCSANOW, &t);
  termios seen{};
  tcgetattr(master, &seen);
  EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B57600));
  close(slave);
  close(master);
}

TEST(SimLine, AWrongSpeedGetsGarbageAtEveryStage) {
  ScratchFolder dir;
  SimProcess sim({"--erase-ms", "300", "--reboot-ms", "50", "--transcript", dir.File("t.txt")});
  Client c(sim.Path(), 9600);
  c.send("U");
  std::string got = c.readFor(200);
  EXPECT_TRUE(hasGarbageOnly(got)) << got.size();
  c.setBaud(19200);
  c.send("U");
  EXPECT_TRUE(hasGarbageOnly(c.readFor(200)));
  c.setBaud(57600);
  c.send("U");
  EXPECT_EQ(c.readFor(200), "READY\r");
  // The loader keeps the speed it was found at.
  c.setBaud(38400);
  c.send("GO\r");
  got = c.readFor(200);
  EXPECT_EQ(got.size(), 3u);
  EXPECT_TRUE(hasGarbageOnly(got));
  c.setBaud(57600);
  c.send("GO\r");
  EXPECT_EQ(c.readUntil("ERASING...\r"), "ERASING...\r");
  // Listening at the wrong speed turns the unit's words into garbage too.
  c.setBaud(9600);
  got = c.readBytes(std::string("ERASE COMPLETE\rSEND BLOCK\r").size(), 2000);
  EXPECT_TRUE(hasGarbageOnly(got));
  c.setBaud(57600);
  c.send(record(0, pattern(128, 1)));
  EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
  c.send("UPLOAD DONE\r");
  EXPECT_EQ(c.readUntil("\r"), "THANK YOU\r");
  c.readFor(150);
  c.send("<0000/SWR?\r");  // still at 57600: the remote control is at 9600
  EXPECT_TRUE(hasGarbageOnly(c.readFor(200)));
  c.setBaud(9600);
  c.send("<0000/SWR?\r");
  EXPECT_EQ(c.readUntil("\n"), ">0000/SWR=1.01\r\n");
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_EQ(sim.Summary()["garbled"], "4");

  // Every transcript line has the documented form.
  const std::regex form(R"(^\d+ (in|out) [0-9A-F]{2}( [0-9A-F]{2})*$|^\d+ ev .+$)");
  std::ifstream in(dir.File("t.txt"));
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    EXPECT_TRUE(std::regex_match(line, form)) << line;
  }
  EXPECT_GT(lines, 10);
}

TEST(SimLine, HelpOptionsAndMistakesInThem) {
  RunResult help = RunSim({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--link", "--device", "--bootstrap", "--dump", "--transcript", "--once", "--resend-records",
        "--bad-check-lines", "--seed", "--power-on-after-ms", "--line-time", "--no-line-time",
        "--program-ms", "--count", "--unit", "--twice-records", "--latency-ms"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  RunResult unknown = RunSim({"--frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown option '--frobnicate'"), std::string::npos) << unknown.err;
  RunResult badValue = RunSim({"--resend-records", "3,x"});
  EXPECT_EQ(badValue.status, 2);
  EXPECT_NE(badValue.err.find("a list such as"), std::string::npos) << badValue.err;
  RunResult noLatency = RunSim({"--latency-ms", "0"});
  EXPECT_EQ(noLatency.status, 2);
  EXPECT_NE(noLatency.err.find("from 1 to 255"), std::string::npos) << noLatency.err;
  RunResult missing = RunSim({"--erase-ms"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("needs a value"), std::string::npos);
  RunResult beyond = RunSim({"--count", "2", "--unit", "3", "--once"});
  EXPECT_EQ(beyond.status, 2);
  EXPECT_NE(beyond.err.find("--unit 3 is beyond --count 2"), std::string::npos) << beyond.err;
  RunResult notPerUnit = RunSim({"--count", "2", "--unit", "1", "--dump", "x.bin"});
  EXPECT_EQ(notPerUnit.status, 2);
  EXPECT_NE(notPerUnit.err.find("--dump is for all units"), std::string::npos) << notPerUnit.err;
  RunResult noDevice = RunSim({"--device", "/dev/no-such-adapter"});
  EXPECT_EQ(noDevice.status, 1);
  EXPECT_NE(noDevice.err.find("cannot open '/dev/no-such-adapter'"), std::string::npos)
      << noDevice.err;
  ScratchFolder dir;
  writeFile(dir.File("big.bin"), std::string(4 * 1024 * 1024 + 1, 'x'));
  RunResult big = RunSim({"--flash", dir.File("big.bin")});
  EXPECT_EQ(big.status, 1);
  EXPECT_NE(big.err.find("larger than the 4 MB flash"), std::string::npos) << big.err;
}

TEST(SimLine, LinkSignalsAndEndingsLeaveADumpAndNoLink) {
  ScratchFolder dir;
  const std::string link = dir.File("rq410");
  {
    SimProcess sim({"--link", link, "--dump", dir.File("a.bin")});
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.Path());
    Client c(link, 38400);  // the link works as the port's name
    c.send("U");
    EXPECT_EQ(c.readFor(200), "READY\r");
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(readFile(dir.File("a.bin")), std::string(4 * 1024 * 1024, '\xFF'));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.bin.partial")));
  }
  {
    writeFile(link, "someone's file");
    RunResult r = RunSim({"--link", link});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a symbolic link"), std::string::npos);
    EXPECT_EQ(readFile(link), "someone's file");
  }
  {
    SimProcess sim({"--exit-after-ms", "300", "--dump", dir.File("b.bin")});
    EXPECT_EQ(sim.Wait(3000), 0);
    EXPECT_EQ(readFile(dir.File("b.bin")).size(), 4u * 1024 * 1024);
  }
  {
    SimProcess sim({"--idle-exit-ms", "400"});
    Client c(sim.Path(), 38400);
    for (int i = 0; i < 4; ++i) {  // bytes keep it going
      c.send("x");
      c.readFor(200);
    }
    EXPECT_TRUE(sim.Running());
    EXPECT_EQ(sim.Wait(3000), 0);
  }
}

TEST(SimLine, ServesOnASerialDeviceAndStopsWhenItGoes) {
  // socat joins two pseudo-terminals like two adapters and a null-modem cable.
  ScratchFolder dir;
  const std::string unitEnd = dir.File("ttyA");
  const std::string pcEnd = dir.File("ttyB");
  kvtest::Child socat({"socat", "pty,raw,echo=0,link=" + unitEnd, "pty,raw,echo=0,link=" + pcEnd});
  for (int i = 0; i < 100 && !(std::filesystem::exists(unitEnd) && std::filesystem::exists(pcEnd));
       ++i)
    usleep(20000);
  ASSERT_TRUE(std::filesystem::exists(pcEnd));

  SimProcess sim(
      {"--device", unitEnd, "--erase-ms", "50", "--reboot-ms", "50", "--dump", dir.File("f.bin")});
  EXPECT_EQ(sim.Path(), unitEnd);
  {
    Client c(pcEnd, 38400);
    c.send("U");
    EXPECT_EQ(c.readUntil("\r"), "READY\r");
    c.send("GO\r");
    EXPECT_EQ(c.readUntil("SEND BLOCK\r"), "ERASING...\rERASE COMPLETE\rSEND BLOCK\r");
    c.send(record(0x200, pattern(128, 4)));
    EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
    c.send("UPLOAD DONE\r");
    EXPECT_EQ(c.readUntil("\r"), "THANK YOU\r");
    c.readFor(150);
    c.send("<0000/SWR?\r");
    EXPECT_EQ(c.readUntil("\n"), ">0000/SWR=1.01\r\n");
  }
  // The cable is pulled: the simulator says so and stops, its dump written.
  socat.Signal(SIGTERM);
  socat.Wait(5000);
  EXPECT_EQ(sim.Wait(3000), 1);
  EXPECT_EQ(readFile(dir.File("f.bin")).substr(0x200, 128), pattern(128, 4));
}
