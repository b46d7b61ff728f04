// The resident flash loader as a client on the pseudo-terminal sees it.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "sim/sim_harness.h"

using namespace simtest;

namespace {

const std::vector<std::string> kQuick = {"--erase-ms", "150", "--reboot-ms", "100"};

std::vector<std::string> args(std::initializer_list<std::string> more) {
  std::vector<std::string> a = kQuick;
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

long countOf(const std::string& bytes, char c) {
  return std::count(bytes.begin(), bytes.end(), c);
}

}  // namespace

TEST(SimLoader, SoftwareUploadWritesEachRecordAtItsAddressAndReportsItsSums) {
  ScratchFolder dir;
  SimProcess sim(
      args({"--dump", dir.File("flash.bin"), "--transcript", dir.File("t.txt"), "--once"}));
  Client c(sim.Path(), 38400);

  // Several "U" in one go (the computer was quicker than the unit) get one READY.
  c.send("UUU");
  EXPECT_EQ(c.readFor(200), "READY\r");
  c.send("GO\r");
  EXPECT_EQ(c.readUntil("ERASING...\r"), "ERASING...\r");
  EXPECT_EQ(c.readUntil("SEND BLOCK\r"), "ERASE COMPLETE\rSEND BLOCK\r");

  std::string image(4 * 1024 * 1024, '\xFF');
  const std::vector<uint32_t> addresses = {0x000000, 0x000080, 0x010000,
                                           0x1C0000, 0x0A0000, 0x3FFF80};
  int n = 0;
  for (uint32_t a : addresses) {
    std::string data = pattern(128, static_cast<uint8_t>(n++));
    image.replace(a, 128, data);
    c.send(record(a, data));
    EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r") << "record at " << a;
  }
  // The same record again (a computer that missed the answer) is written again, harmlessly.
  c.send(record(0x000080, image.substr(0x80, 128)));
  EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
  // A pause, then UPLOAD DONE in two pieces.
  c.readFor(300);
  c.send("UPLOAD");
  c.readFor(50);
  c.send(" DONE\r");
  EXPECT_EQ(c.readUntil("\r"), "THANK YOU\r");

  c.setBaud(9600);
  c.readFor(250);  // the reboot
  c.send("<0000/SWR?\r");
  EXPECT_EQ(c.readUntil("\n"), ">0000/SWR=1.01\r\n");
  c.send("<0000/FCS?\r");
  Sums s = sumsOf(image);
  EXPECT_EQ(c.readUntil("\n"), ">0000/FCS=Boot:" + hex4(s.boot) + " Main:" + hex4(s.main) +
                                   " FPGA:" + hex4(s.fpga) + "\r\n");

  ASSERT_EQ(sim.Wait(), 0);  // --once: ends after the FCS answer
  EXPECT_TRUE(readFile(dir.File("flash.bin")) == image) << "the flash dump differs from the image";
  auto summary = sim.Summary();
  EXPECT_EQ(summary["records"], "7");
  EXPECT_EQ(summary["u"], "3");
  EXPECT_EQ(summary["uploads"], "1");
  EXPECT_NE(sim.Output().find("flash Boot:" + hex4(s.boot)), std::string::npos);

  auto t = readTranscript(dir.File("t.txt"));
  long handshakeU = 0;
  for (const auto& l : t) {
    if (l.dir == "in" && l.data.find("GO") != std::string::npos) break;
    if (l.dir == "in") handshakeU += countOf(l.data, 'U');
  }
  EXPECT_EQ(handshakeU, 3);
  // The erase takes its time: ERASE COMPLETE comes no sooner than --erase-ms after GO.
  long goAt = -1, completeAt = -1;
  for (const auto& l : t) {
    if (l.dir == "in" && l.data.find("GO\r") != std::string::npos) goAt = l.ms;
    if (l.dir == "out" && l.data.find("ERASE COMPLETE") != std::string::npos) completeAt = l.ms;
  }
  ASSERT_GE(goAt, 0);
  EXPECT_GE(completeAt - goAt, 150);
}

TEST(SimLoader, DamagedRecordsAreAskedForAgainAndNeverWritten) {
  ScratchFolder dir;
  SimProcess sim(args({"--dump", dir.File("flash.bin"), "--byte-timeout-ms", "200"}));
  Client c(sim.Path(), 57600);  // the loader takes either speed
  handshakeAndErase(c);

  std::string good = record(0x000100, pattern(128, 1));
  std::string badSum = good;
  badSum.back() = static_cast<char>(badSum.back() + 1);
  c.send(badSum);
  EXPECT_EQ(c.readUntil("\r"), "RESEND BLOCK\r");
  std::string lowerAddress = record(0x0000A0, pattern(128, 2));
  lowerAddress[4] = 'a';  // "0000a0": not the record layout, even with a matching sum
  lowerAddress.back() = static_cast<char>(lowerAddress.back() + ('a' - 'A'));
  c.send(lowerAddress);
  EXPECT_EQ(c.readUntil("\r"), "RESEND BLOCK\r");
  // Half a record, then nothing: dropped after the byte time-out and asked for again.
  c.send(good.substr(0, 60));
  EXPECT_EQ(c.readUntil("\r", 2000), "RESEND BLOCK\r");
  c.send(good);
  EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
  c.send("UPLOAD DONE\r");
  EXPECT_EQ(c.readUntil("\r"), "THANK YOU\r");

  sim.Signal(SIGTERM);
  ASSERT_EQ(sim.Wait(), 0);
  std::string flash = readFile(dir.File("flash.bin"));
  ASSERT_EQ(flash.size(), 4u * 1024 * 1024);
  EXPECT_EQ(flash.substr(0x100, 128), pattern(128, 1));
  EXPECT_EQ(flash.substr(0x80, 128), std::string(128, '\xFF')) << "a bad record was written";
  const std::string written = pattern(128, 1);
  EXPECT_EQ(std::count(flash.begin(), flash.end(), '\xFF'),
            4 * 1024 * 1024 - 128 + std::count(written.begin(), written.end(), '\xFF'));
  auto summary = sim.Summary();
  EXPECT_EQ(summary["bad_records"], "2");
  EXPECT_EQ(summary["resend_requests"], "3");
}

TEST(SimLoader, HandshakeFaultsDelayOrWithholdReady) {
  {
    ScratchFolder dir;
    SimProcess sim(args({"--ready-after-u", "3", "--transcript", dir.File("t.txt")}));
    Client c(sim.Path(), 38400);
    c.send("U");
    EXPECT_EQ(c.readFor(100), "");
    c.send("U");
    EXPECT_EQ(c.readFor(100), "");
    c.send("U");
    EXPECT_EQ(c.readFor(150), "READY\r");
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(sim.Summary()["u"], "3");
  }
  {
    SimProcess sim(args({"--never-ready"}));
    Client c(sim.Path(), 38400);
    for (int i = 0; i < 30; ++i) c.send("U");
    EXPECT_EQ(c.readFor(300), "");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(sim.Summary()["u"], "30");
  }
}

TEST(SimLoader, PowerOnDelayIgnoresEarlyBytesAndNoiseIsRepeatable) {
  auto noiseOf = [](uint32_t seed) {
    SimProcess sim(args(
        {"--power-on-after-ms", "300", "--power-noise", "24", "--seed", std::to_string(seed)}));
    Client c(sim.Path(), 38400);
    c.send("U");  // the unit is still off
    std::string early = c.readFor(150);
    EXPECT_EQ(early, "");
    std::string noise = c.readBytes(24, 2000);  // noise comes on its own when it powers up
    EXPECT_EQ(noise.size(), 24u);
    for (char b : noise) {
      EXPECT_TRUE(b != 'U' && b != '\r' && b != '\n' && b != '\xD5' && b != '\xB5') << int(b);
    }
    c.send("U");
    EXPECT_EQ(c.readFor(200), "READY\r");
    return noise;
  };
  std::string a = noiseOf(5);
  EXPECT_EQ(a, noiseOf(5)) << "the same seed must give the same noise";
  EXPECT_NE(a, noiseOf(6));
}

TEST(SimLoader, RecordFaultsAnswerAsChosen) {
  SimProcess sim(args({"--resend-records", "2", "--unknown-line-records", "3:2", "--short-answers",
                       "--twice-records", "4"}));
  Client c(sim.Path(), 38400);
  c.send("U");
  c.readUntil("READY\r");
  c.send("GO\r");
  EXPECT_EQ(c.readUntil("S\r"), "ERASING...\rERASE COMPLETE\rS\r");
  std::vector<std::string> recs;
  for (int i = 0; i < 4; ++i)
    recs.push_back(record(0x80u * static_cast<uint32_t>(i), pattern(128, static_cast<uint8_t>(i))));
  c.send(recs[0]);
  EXPECT_EQ(c.readUntil("\r"), "S\r");
  c.send(recs[1]);
  EXPECT_EQ(c.readUntil("\r"), "R\r");  // record 2 once asked again
  c.send(recs[1]);
  EXPECT_EQ(c.readUntil("\r"), "S\r");
  c.send(recs[2]);
  EXPECT_EQ(c.readUntil("\r"), "OK\r");  // record 3: an unknown line, twice
  c.send(recs[2]);
  EXPECT_EQ(c.readUntil("\r"), "OK\r");
  c.send(recs[2]);
  EXPECT_EQ(c.readUntil("\r"), "S\r");
  c.send(recs[3]);
  EXPECT_EQ(c.readFor(200), "S\rS\r");  // record 4: the request said twice
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_EQ(sim.Summary()["records"], "4");
}

TEST(SimLoader, FailureAndSilenceFaults) {
  {
    SimProcess sim(args({"--fail-at-record", "2"}));
    Client c(sim.Path(), 38400);
    handshakeAndErase(c);
    c.send(record(0, pattern(128, 0)));
    EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
    c.send(record(0x80, pattern(128, 1)));
    EXPECT_EQ(c.readUntil("\r"), "UPLOAD FAILED\r");
    c.send(record(0x80, pattern(128, 1)));  // the loader has stopped
    c.send("UPLOAD DONE\r");
    EXPECT_EQ(c.readFor(200), "");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
  }
  {
    SimProcess sim(args({"--silent-after-records", "1", "--silence-ms", "400"}));
    Client c(sim.Path(), 38400);
    handshakeAndErase(c);
    c.send(record(0, pattern(128, 0)));
    EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
    c.send(record(0x80, pattern(128, 1)));
    EXPECT_EQ(c.readFor(200), "");  // silent
    c.readFor(300);
    c.send(record(0x80, pattern(128, 1)));  // sent again after the silence
    EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(sim.Summary()["records"], "2");
  }
  {
    SimProcess sim(args({"--no-thank-you"}));
    Client c(sim.Path(), 38400);
    handshakeAndErase(c);
    c.send("UPLOAD DONE\r");
    EXPECT_EQ(c.readFor(200), "");
    c.setBaud(9600);  // it reboots all the same
    c.send("<0000/SWR?\r");
    EXPECT_EQ(c.readUntil("\n"), ">0000/SWR=1.01\r\n");
  }
}

TEST(SimLoader, EraseFaultsReportErrorsOrATimeout) {
  {
    SimProcess sim(args({"--erase-errors", "2"}));
    Client c(sim.Path(), 38400);
    std::string got = handshakeAndErase(c);
    EXPECT_EQ(got,
              "READY\rERASING...\rERASE ERROR: 2\rBLOCK BASE INDEX: 010000\rERASE ERROR: 3\rBLOCK "
              "BASE INDEX: 020000\r"
              "ERASE COMPLETE\rSEND BLOCK\r");
  }
  {
    SimProcess sim(args({"--erase-timeout"}));
    Client c(sim.Path(), 38400);
    c.send("U");
    c.readUntil("READY\r");
    c.send("GO\r");
    EXPECT_EQ(c.readUntil("0040\r"), "ERASING...\rERASE BLOCK TIMEOUT: 0040\r");
    c.send(record(0, pattern(128, 0)));
    EXPECT_EQ(c.readFor(200), "");
  }
  {
    SimProcess sim(kQuick);
    Client c(sim.Path(), 38400);
    c.send("U");
    c.readUntil("READY\r");
    c.send("GOO\r");
    EXPECT_EQ(c.readUntil("\r"), "INVALID START\r");
  }
}

TEST(SimLoader, RandomDamageIsRepeatableAndEveryRecordGetsThrough) {
  auto run = [](uint32_t seed, std::string& flash) {
    ScratchFolder dir;
    SimProcess sim(args(
        {"--corrupt-records", "0.4", "--seed", std::to_string(seed), "--dump", dir.File("f.bin")}));
    Client c(sim.Path(), 38400);
    handshakeAndErase(c);
    std::string answers;
    for (uint32_t i = 0; i < 20; ++i) {
      std::string r = record(0x10000 + i * 0x80, pattern(128, static_cast<uint8_t>(i)));
      for (int tries = 0; tries < 50; ++tries) {
        c.send(r);
        std::string a = c.readUntil("\r");
        answers += a[0];
        if (a == "SEND BLOCK\r") break;
        EXPECT_EQ(a, "RESEND BLOCK\r");
      }
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    flash = readFile(dir.File("f.bin"));
    return answers;
  };
  std::string flashA, flashB;
  std::string a = run(11, flashA);
  EXPECT_EQ(a, run(11, flashB));
  EXPECT_NE(a.find('R'), std::string::npos) << "a share of 0.4 damaged none of 20 records";
  EXPECT_EQ(std::count(a.begin(), a.end(), 'S'), 20);
  for (uint32_t i = 0; i < 20; ++i)
    EXPECT_EQ(flashA.substr(0x10000 + i * 0x80, 128), pattern(128, static_cast<uint8_t>(i)));
}

TEST(SimLoader, ANewRunAfterTheEndIsAPowerCycle) {
  SimProcess sim(args({}));
  Client c(sim.Path(), 38400);
  handshakeAndErase(c);
  c.send(record(0, pattern(128, 3)));
  c.readUntil("\r");
  c.send("UPLOAD DONE\r");
  EXPECT_EQ(c.readUntil("\r"), "THANK YOU\r");
  // The user cycles power and starts again: "U" at the loader's speed.
  c.send("U");
  EXPECT_EQ(c.readUntil("\r"), "READY\r");
  c.send("GO\r");
  c.readUntil("SEND BLOCK\r");
  c.send("UPLOAD DONE\r");
  EXPECT_EQ(c.readUntil("\r"), "THANK YOU\r");
  // SIGUSR1 switches it off and on at any time.
  sim.Signal(SIGUSR1);
  c.readFor(100);
  c.send("U");
  EXPECT_EQ(c.readUntil("\r"), "READY\r");
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  auto s = sim.Summary();
  EXPECT_EQ(s["uploads"], "2");
  EXPECT_EQ(s["power_ons"], "3");
  EXPECT_EQ(s["go"], "2");
}
