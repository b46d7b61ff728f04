// The line's own time, the time the unit takes to write a record into its flash, and several
// units served by one simulator. Times are only checked against generous bounds, as proof that
// a delay is there at all, never as measurements.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>

#include "sim/sim_harness.h"

using namespace simtest;

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

struct Burst {
  long answeredMs = 0;  // from sending to the whole answer
  long answerMs = 0;    // from the answer's first byte to its last
};

// 1000 bytes of noise and an FCS? query at 9600 baud to a running unit: the query is answered
// only once all 1040 bytes have crossed the line.
Burst noiseThenQuery(const std::vector<std::string>& lineTime) {
  std::vector<std::string> args = {"--running"};
  args.insert(args.end(), lineTime.begin(), lineTime.end());
  SimProcess sim(args);
  Client c(sim.Path(), 9600);
  const std::string query = "<0000/FCS?\r";
  const auto start = Clock::now();
  c.send(std::string(1000 - query.size(), 'x') + query);
  Burst b;
  std::string answer = c.readUntil(">", 5000);
  const long first = msSince(start);
  if (answer.find('\n') == std::string::npos) answer += c.readUntil("\n", 2000);
  EXPECT_EQ(answer, ">0000/FCS=Boot:1000 Main:0000 FPGA:0000\r\n");
  b.answeredMs = msSince(start);
  b.answerMs = b.answeredMs - first;
  return b;
}

}  // namespace

TEST(SimLine, TheLineTakesItsTimeBothWaysUnlessToldNotTo) {
  // 1000 bytes at 10 bits take 1.04 s at 9600 baud; the 41-byte answer takes 43 ms going back.
  Burst paced = noiseThenQuery({});
  EXPECT_GE(paced.answeredMs, 900);
  EXPECT_GE(paced.answerMs, 30) << "the answer went out in one burst";
  Burst bare = noiseThenQuery({"--no-line-time"});
  EXPECT_LT(bare.answeredMs, 900) << "--no-line-time still paces";

  // A 135-byte record at 38400 baud takes 35 ms to arrive, and SEND BLOCK + CR 2.9 ms more.
  SimProcess sim({"--erase-ms", "50"});
  Client c(sim.Path(), 38400);
  handshakeAndErase(c);
  const auto start = Clock::now();
  c.send(record(0x80, pattern(128, 1)));
  EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
  EXPECT_GE(msSince(start), 35);
}

TEST(SimLoader, WritingARecordDelaysOnlyTheRequestForTheNextOne) {
  ScratchFolder dir;
  SimProcess sim({"--erase-ms", "50", "--program-ms", "1000", "--dump", dir.File("f.bin")});
  Client c(sim.Path(), 38400);
  handshakeAndErase(c);  // nothing written yet: the first request comes with ERASE COMPLETE

  std::string bad = record(0x100, pattern(128, 2));
  bad.back() = static_cast<char>(bad.back() + 1);
  auto start = Clock::now();
  c.send(bad);
  EXPECT_EQ(c.readUntil("\r", 3000), "RESEND BLOCK\r");
  EXPECT_LT(msSince(start), 500) << "a damaged record is not written, so asked for at once";

  start = Clock::now();
  c.send(record(0x100, pattern(128, 2)));
  EXPECT_EQ(c.readUntil("\r", 3000), "SEND BLOCK\r");
  EXPECT_GE(msSince(start), 1000);

  // A record sent before the unit asks for it arrives while the flash is busy, and is lost.
  c.send(record(0x180, pattern(128, 3)));
  c.send(record(0x200, pattern(128, 4)));
  EXPECT_EQ(c.readUntil("\r", 3000), "SEND BLOCK\r");
  EXPECT_EQ(c.readFor(1300), "") << "the record sent too early was answered";

  sim.Signal(SIGTERM);
  ASSERT_EQ(sim.Wait(), 0);
  EXPECT_EQ(sim.Summary()["records"], "2");
  const std::string flash = readFile(dir.File("f.bin"));
  EXPECT_EQ(flash.substr(0x180, 128), pattern(128, 3));
  EXPECT_EQ(flash.substr(0x200, 128), std::string(128, '\xFF'));
}

TEST(SimUnits, FourUnitsServeIndependentlyWithTheirOwnFilesAndFaults) {
  ScratchFolder dir;
  SimProcess sim({"--count", "4", "--link", dir.File("u"), "--dump", dir.File("f"), "--transcript",
                  dir.File("t"), "--erase-ms", "50", "--unit", "2", "--fail-at-record", "2",
                  "--unit", "3", "--corrupt-records", "1"},
                 4);
  ASSERT_EQ(sim.Paths().size(), 4u);
  std::vector<std::unique_ptr<Client>> clients;
  for (int k = 1; k <= 4; ++k) {
    const std::string link = dir.File("u" + std::to_string(k));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.Paths()[k - 1]);
    clients.push_back(std::make_unique<Client>(link, 38400));
    handshakeAndErase(*clients.back());
  }
  auto data = [](int unit, int n) { return pattern(128, static_cast<uint8_t>(unit * 10 + n)); };
  const std::vector<std::vector<std::string>> answers = {
      {"SEND BLOCK\r", "SEND BLOCK\r", "SEND BLOCK\r"},
      {"SEND BLOCK\r", "UPLOAD FAILED\r", ""},
      {"RESEND BLOCK\r", "RESEND BLOCK\r", "RESEND BLOCK\r"},
      {"SEND BLOCK\r", "SEND BLOCK\r", "SEND BLOCK\r"}};
  for (int n = 1; n <= 3; ++n) {
    for (int k = 1; k <= 4; ++k)
      clients[k - 1]->send(record(static_cast<uint32_t>(n) * 0x80, data(k, n)));
    for (int k = 1; k <= 4; ++k) {
      const std::string& want = answers[k - 1][n - 1];
      EXPECT_EQ(want.empty() ? clients[k - 1]->readFor(200) : clients[k - 1]->readUntil("\r"), want)
          << "unit " << k << ", record " << n;
    }
  }
  for (int k : {1, 4}) {
    clients[k - 1]->send("UPLOAD DONE\r");
    EXPECT_EQ(clients[k - 1]->readUntil("\r"), "THANK YOU\r");
  }

  sim.Signal(SIGTERM);
  ASSERT_EQ(sim.Wait(), 0);
  const std::vector<int> written = {3, 1, 0, 3};
  for (int k = 1; k <= 4; ++k) {
    const std::string flash = readFile(dir.File("f" + std::to_string(k)));
    ASSERT_EQ(flash.size(), 4u * 1024 * 1024) << "unit " << k;
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(flash.substr(static_cast<size_t>(n) * 0x80, 128),
                n <= written[k - 1] ? data(k, n) : std::string(128, '\xFF'))
          << "unit " << k << ", record " << n;
    }
    auto s = sim.Summary(k);
    EXPECT_EQ(s["unit"], std::to_string(k));
    EXPECT_EQ(s["records"], std::to_string(written[k - 1]));
    EXPECT_EQ(s["bad_records"], k == 3 ? "3" : "0") << "unit " << k;
    EXPECT_FALSE(std::filesystem::exists(
        std::filesystem::symlink_status(dir.File("u" + std::to_string(k)))));
  }
  EXPECT_NE(sim.Output().find("flash unit=1 Boot:"), std::string::npos) << sim.Output();
  EXPECT_NE(allBytes(readTranscript(dir.File("t2")), "out").find("UPLOAD FAILED\r"),
            std::string::npos);
  EXPECT_EQ(allBytes(readTranscript(dir.File("t4")), "out").find("UPLOAD FAILED\r"),
            std::string::npos);
}
