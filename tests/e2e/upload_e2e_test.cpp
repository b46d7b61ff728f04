// Whole uploads through the real kvuflash-cli against rq410-sim on a pseudo-terminal: every
// input kind, the unit's faults, the checksum check, bad inputs, and the exit status a script
// sees. The simulator's flash dump must hold exactly the input's pages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_process.h"

namespace {

using namespace e2e;

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::vector<std::string> Lines(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
    if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return lines;
}

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

// The records the uploader sent, cut from the bytes the unit received: after "GO" + CR and up
// to "UPLOAD DONE" + CR (or the end).
std::string RecordBytes(const std::string& in) {
  const auto go = in.find("GO\r");
  if (go == std::string::npos) return {};
  const auto done = in.find("UPLOAD DONE\r", go);
  return in.substr(go + 3, done == std::string::npos ? std::string::npos : done - go - 3);
}

std::string AsString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string Record(const Bytes& upload, std::size_t index) {
  return AsString(upload).substr(index * 135, 135);
}

// One Intel HEX line of `type` at `offset` with `data`, its checksum right, ending in CR LF.
std::string HexRecord(int type, unsigned offset, const Bytes& data) {
  char head[16];
  std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size()), offset,
                static_cast<unsigned>(type));
  std::string line = head;
  unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) +
                 static_cast<unsigned>(type);
  for (std::uint8_t b : data) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", b);
    line += pair;
    sum += b;
  }
  char check[5];
  std::snprintf(check, sizeof check, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + check;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Polls `done` until it holds or `ms` have passed.
template <typename F>
bool WaitFor(F done, int ms) {
  const auto until = Child::Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Child::Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

double SecondsSince(Child::Clock::time_point start) {
  return std::chrono::duration<double>(Child::Clock::now() - start).count();
}

// Processor time that process `pid` takes over `seconds` of waiting, as a share of one core.
double CoreShareWhileWaiting(pid_t pid, double seconds) {
  const double before = kvtest::ProcessorSeconds(pid);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return (kvtest::ProcessorSeconds(pid) - before) / seconds;
}

class UploadEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_.Path() / "prog"); }

  // kvuflash-cli upload ARGS, with COM 1 on `link` unless `link` is empty; killed after
  // `timeoutS` seconds.
  CliResult Upload(const std::vector<std::string>& args, const std::string& link, int timeoutS = 60,
                   const std::string& tag = "cli") {
    auto cli = StartUpload(args, link, tag);
    return Finish(*cli, tag, Child::Clock::now() + std::chrono::seconds(timeoutS));
  }
  // The same, started and left running; `before` comes ahead of the program (a wrapper such as
  // prlimit or setpriv). Its output goes to TAG.out and TAG.err.
  std::unique_ptr<Child> StartUpload(const std::vector<std::string>& args, const std::string& link,
                                     const std::string& tag,
                                     const std::vector<std::string>& before = {}) {
    std::vector<std::string> argv = before;
    argv.insert(argv.end(), {KV_CLI_PATH, "--dir", dir_.File("prog"), "upload"});
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    if (!link.empty()) env.push_back("KVUFLASH_PORTS=1=" + link);
    return std::make_unique<Child>(argv, env, dir_.File(tag + ".out"), dir_.File(tag + ".err"));
  }
  CliResult Finish(Child& cli, const std::string& tag, Child::Clock::time_point deadline) {
    CliResult r;
    r.status = cli.WaitUntil(deadline);
    r.out = ReadText(dir_.File(tag + ".out"));
    r.err = ReadText(dir_.File(tag + ".err"));
    return r;
  }

  std::unique_ptr<Sim> StartSim(const std::vector<std::string>& extra = {},
                                const std::string& name = "unit") {
    return std::make_unique<Sim>(KV_SIM_PATH, dir_, name, extra);
  }

  TempFolder dir_{"kv-upload-e2e"};
};

TEST_F(UploadEndToEnd, HexFileLandsInFlashPageForPageWithTheWholeRunPrinted) {
  // Pages on both sides of 64 KB boundaries, one of them only partly written.
  const auto pages = SpreadPages(30, 3, 1091);
  const Bytes image = MakeImage(pages, 11, {pages[4]});
  WriteText(dir_.File("fw.hex"), IntelHex(image));
  auto sim = StartSim();

  const CliResult r = Upload({"--port", "1", dir_.File("fw.hex")}, sim->Link());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(sim->Stop(), 0);

  EXPECT_EQ(FirstDifferentPage(sim->Flash(), image), -1);
  // On the wire: exactly the input's records, once each, between GO and UPLOAD DONE.
  const std::string in = sim->Traffic("in");
  EXPECT_EQ(RecordBytes(in), AsString(UploadFile(image, "")));
  EXPECT_TRUE(Has(in, "UPLOAD DONE\r"));
  EXPECT_EQ(sim->Summary()["records"], "30");

  // The converted file beside the input holds the same records.
  const Bytes kvu = ReadBytes(dir_.File("fw.KVU"));
  ASSERT_EQ(kvu.size(), 30u * 135 + 8);
  EXPECT_EQ(AsString(kvu).substr(0, 30 * 135), AsString(UploadFile(image, "")));

  // The run's lines in order, each once, the records as progress lines.
  const std::vector<std::string> lines = Lines(r.out, "");
  const auto from = std::find(lines.begin(), lines.end(), "Got U,READY handshake");
  ASSERT_NE(from, lines.end()) << r.out;
  const std::vector<std::string> dialogue(from, lines.end());
  const std::vector<std::string> records = Lines(r.out, "records ");
  EXPECT_EQ(Lines(r.out, "Sending GO").size(), 1u) << r.out;
  for (const char* said : {"Sending GO", "Erasing...", "Erase complete", "Sending FlashCode...",
                           "Sending Lines...", "records 1/30 ", "records 30/30 "}) {
    const auto at = std::find_if(dialogue.begin(), dialogue.end(),
                                 [&](const std::string& l) { return l.rfind(said, 0) == 0; });
    EXPECT_NE(at, dialogue.end()) << said << "\n" << r.out;
  }
  // Not one line per record when the output is not a terminal.
  ASSERT_FALSE(records.empty()) << r.out;
  EXPECT_LE(records.size(), 12u);
  EXPECT_EQ(records.back().rfind("30/30 (100%", 0), 0u) << records.back();
  EXPECT_FALSE(Has(r.out, "Sending block")) << r.out;
  for (const std::string& line : lines) EXPECT_FALSE(line.empty()) << r.out;
  EXPECT_FALSE(NamesAControl(r.out + r.err)) << r.out << r.err;
  EXPECT_FALSE(Has(r.out, "Click on")) << r.out;
  EXPECT_TRUE(Has(r.out, "Port is open on Com 1 at 38400 baud\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Upload will be 30 blocks, less than 1 minute\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Software Upload complete\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Now, CYCLE POWER on the RQ-410....\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Upload complete. Time taken: ")) << r.out;
  EXPECT_FALSE(Has(r.out, "Checksums")) << "no checksum query under 1000 records";
  EXPECT_EQ(sim->Summary()["fcs"], "0");
  EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(UploadEndToEnd, ClosedOutputLeavesTheRunToItsEndWithItsLog) {
  const Bytes image = MakeImage(SpreadPages(6, 0, 9), 17);
  WriteBytes(dir_.File("fw.kvu"), UploadFile(image, "00000000"));
  auto sim = StartSim();
  // The output's reader is gone before the first line, as with "| head -1".
  auto cli = StartUpload({"--json", dir_.File("log.json"), dir_.File("fw.kvu")}, sim->Link(),
                         "closed", {"bash", "-c", "\"$@\" | true; exit ${PIPESTATUS[0]}", "_"});
  const CliResult r = Finish(*cli, "closed", Child::Clock::now() + std::chrono::seconds(60));
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(sim->Flash(), image), -1);
  EXPECT_TRUE(Has(ReadText(dir_.File("log.json")), "\"outcome\":\"completed\",\"exit_status\":0"));
}

TEST_F(UploadEndToEnd, VerifyAndInfoAskTheRunningUnitWithoutWritingAnything) {
  const Bytes image = MakeImage(SpreadPages(12, 3, 70), 21);
  Bytes other = image;
  other[2000 * kPage] ^= 0x01;  // one page of the main area different
  WriteBytes(dir_.File("flash.bin"), image);
  WriteBytes(dir_.File("fw.bin"), image);
  WriteText(dir_.File("other.hex"), IntelHex(other));
  const auto run = [&](const std::vector<std::string>& args, const std::string& link) {
    std::vector<std::string> argv = {KV_CLI_PATH, "--dir", dir_.File("prog")};
    argv.insert(argv.end(), args.begin(), args.end());
    Child cli(argv, {"KVUFLASH_PORTS=1=" + link}, dir_.File("q.out"), dir_.File("q.err"));
    return Finish(cli, "q", Child::Clock::now() + std::chrono::seconds(60));
  };
  auto sim = StartSim({"--running", "--flash", dir_.File("flash.bin")});
  CliResult r = run({"verify", "--port", "1", dir_.File("fw.bin")}, sim->Link());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "The unit's checksums match the file's")) << r.out;
  EXPECT_FALSE(fs::exists(dir_.File("fw.KVU")) || fs::exists(dir_.File("other.BIN")));
  r = run({"verify", dir_.File("other.hex")}, sim->Link());
  EXPECT_EQ(r.status, 7) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "Checksums different")) << r.err;
  EXPECT_FALSE(fs::exists(dir_.File("other.KVU")) || fs::exists(dir_.File("other.BIN")));
  r = run({"info", "--json", dir_.File("info.json")}, sim->Link());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Has(ReadText(dir_.File("info.json")), "\"unit_swr\":\"")) << r.out;
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(RecordBytes(sim->Traffic("in")), "");
  // A unit in its loader, waiting for an upload, does not answer its remote control.
  auto loader = StartSim({}, "loader");
  r = run({"verify", "--timeout", "3", dir_.File("fw.bin")}, loader->Link());
  EXPECT_EQ(r.status, 5) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "did not answer its remote control")) << r.err;
}

TEST_F(UploadEndToEnd, BinaryImageAt57600SurvivesResendsShortAnswersUnknownLinesAndEraseErrors) {
  const auto pages = SpreadPages(25, 0, 150);
  const Bytes image = MakeImage(pages, 22);
  // An image shorter than the flash: the rest counts as erased.
  const std::size_t used = (pages.back() + 1) * kPage;
  WriteBytes(dir_.File("image.bin"), Bytes(image.begin(), image.begin() + static_cast<long>(used)));
  auto sim = StartSim({"--short-answers", "--resend-records", "3,7", "--unknown-line-records", "5",
                       "--erase-errors", "2"});

  const CliResult r =
      Upload({"--baud", "57600", "--capture", dir_.File("capture.txt"), dir_.File("image.bin")},
             sim->Link());
  // Every record went, but the unit said it could not erase all of its flash: not a plain
  // success.
  EXPECT_EQ(r.status, 10) << r.out << r.err;
  EXPECT_NE(r.err.find("the unit reported erase errors"), std::string::npos) << r.err;
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(sim->Flash(), image), -1);

  // Records 3 and 7 (asked again) and 5 (answered with an unknown line) went out twice, every
  // other record once, in file order.
  const Bytes upload = UploadFile(image, "");
  std::string expected;
  for (std::size_t i = 0; i < 25; ++i) {
    expected += Record(upload, i);
    if (i + 1 == 3 || i + 1 == 5 || i + 1 == 7) expected += Record(upload, i);
  }
  EXPECT_EQ(RecordBytes(sim->Traffic("in")), expected);

  EXPECT_TRUE(Has(r.out, "Port is open on Com 1 at 57600 baud\n")) << r.out;
  const std::vector<std::string> history = Lines(r.out, "");
  std::size_t eraseErrors = 0, blockLines = 0;
  for (const auto& line : history) {
    eraseErrors += Has(line, "ERASE ERROR: ");
    blockLines += Has(line, "BLOCK BASE INDEX: ");
  }
  EXPECT_EQ(eraseErrors, 2u) << r.out;
  EXPECT_EQ(blockLines, 2u) << r.out;
  EXPECT_TRUE(Has(r.out, "Erase complete\n"));
  EXPECT_TRUE(Has(r.out, "Now, CYCLE POWER on the RQ-410....\n")) << r.out;

  // The capture file, where the command line was told to put it.
  const std::string capture = ReadText(dir_.File("capture.txt"));
  EXPECT_TRUE(Has(capture, "[co]com port open at 57600")) << capture.substr(0, 400);
  EXPECT_TRUE(Has(capture, "[out]U\n"));
  EXPECT_TRUE(Has(capture, "[out]GO[cr]"));
  EXPECT_EQ(Count(capture, "[out]resend"), 1u);  // the unknown line's repeat
  EXPECT_EQ(Count(capture, "[info  ]  addr "), 28u);
  char first[40];
  std::snprintf(first, sizeof first, "[info  ]  addr %06X  cksm %02X",
                static_cast<unsigned>(pages[0] * kPage), upload[134]);
  EXPECT_TRUE(Has(capture, first)) << first;
  EXPECT_TRUE(Has(capture, "[out]UPLOAD DONE[cr]"));
  EXPECT_FALSE(fs::exists(dir_.File("prog/Capture.txt")));
}

TEST_F(UploadEndToEnd, UploadFileIsSentAsItIsThroughADevicePathToAUnitSwitchedOnLate) {
  const Bytes image = MakeImage(SpreadPages(12, 700, 9), 33);
  const Bytes upload = UploadFile(image);
  WriteBytes(dir_.File("ready.kvu"), upload);
  auto sim = StartSim({"--power-on-after-ms", "900"});

  // No port map: the device itself is named.
  const CliResult r = Upload({"--port", sim->Link(), dir_.File("ready.kvu")}, "");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(sim->Flash(), image), -1);
  EXPECT_EQ(RecordBytes(sim->Traffic("in")), AsString(upload).substr(0, 12 * 135));
  // "U" until the unit, switched on late, answered.
  const std::string in = sim->Traffic("in");
  EXPECT_GT(in.find("GO\r"), 5u);
  EXPECT_EQ(in.find_first_not_of('U'), in.find("GO\r"));

  EXPECT_TRUE(Has(r.out, "Port is open on Com 1 at 38400 baud\n")) << r.out;
  // Sent as it is: nothing converted beside it, the file unchanged.
  EXPECT_EQ(ReadBytes(dir_.File("ready.kvu")), upload);
  EXPECT_FALSE(fs::exists(dir_.File("ready.BIN")));
  EXPECT_TRUE(Has(r.out, "records 12/12 (100%"));
}

TEST_F(UploadEndToEnd, ProgressOnATerminalIsOneBarRedrawnInPlace) {
  const Bytes image = MakeImage(SpreadPages(8, 90, 2), 88);
  WriteBytes(dir_.File("bar.kvu"), UploadFile(image));
  auto sim = StartSim();

  // The command's output goes to a pseudo-terminal, read here as a user's terminal would.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  // Held open here as well, so that the terminal stays up until everything has been read.
  const int keep = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(keep, 0);
  std::string screen;
  std::atomic<bool> ended{false};
  std::thread reader([&] {
    char buffer[512];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      const int ready = ::poll(&p, 1, 50);
      if (ready > 0) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        screen.append(buffer, static_cast<std::size_t>(n));
      } else if (ended) {
        break;
      }
    }
  });
  int status = -1;
  {
    Child cli({KV_CLI_PATH, "--dir", dir_.File("prog"), "upload", dir_.File("bar.kvu")},
              {"KVUFLASH_PORTS=1=" + sim->Link()}, slave, dir_.File("bar.err"));
    status = cli.Wait(60 * 1000);
  }
  ended = true;
  reader.join();
  ::close(keep);
  ::close(master);
  EXPECT_EQ(status, 0) << screen << ReadText(dir_.File("bar.err"));
  EXPECT_FALSE(Has(screen, "Sending block")) << screen;
  EXPECT_EQ(Count(screen, "\r["), 8u) << screen;  // one redraw per record, in place
  EXPECT_TRUE(Has(screen, "[##############################] 8/8 records  100%")) << screen;
  EXPECT_TRUE(Has(screen, "] 1/8 records  12%")) << screen;
  EXPECT_TRUE(Has(screen, "Sending FlashCode...")) << screen;
  EXPECT_TRUE(Has(screen, "Now, CYCLE POWER on the RQ-410....")) << screen;
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(sim->Flash(), image), -1);
}

TEST_F(UploadEndToEnd, UnitThatHaltsTheRunKeepsWhatItTookAndTheExitSaysHalted) {
  const Bytes image = MakeImage(SpreadPages(20, 40, 3), 44);
  WriteText(dir_.File("halt.hex"), IntelHex(image));
  auto sim = StartSim({"--fail-at-record", "8"});

  const CliResult r =
      Upload({"--capture", dir_.File("capture.txt"), dir_.File("halt.hex")}, sim->Link());
  EXPECT_EQ(r.status, 6) << r.out << r.err;
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(sim->Flash(), FirstPagesOf(image, 7)), -1);
  EXPECT_TRUE(Has(r.out, "Upload failed\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Upload HALTED. Time taken: ")) << r.out;
  // The window's buttons are no step for the command line's user.
  EXPECT_FALSE(Has(r.out, "Click on")) << r.out;
  EXPECT_TRUE(Has(r.err, "switch it off and on, and upload again.")) << r.err;
  EXPECT_FALSE(Has(r.out, "CYCLE POWER"));
  EXPECT_TRUE(Has(r.err, "UPLOAD FAILED")) << r.err;
  EXPECT_FALSE(Has(sim->Traffic("in"), "UPLOAD DONE"));
  // Logging stops with the failure; what was logged before is kept.
  const std::string capture = ReadText(dir_.File("capture.txt"));
  EXPECT_TRUE(Has(capture, "[in]UPLOAD FAILED[cr]"))
      << capture.substr(capture.size() > 600 ? capture.size() - 600 : 0);
  EXPECT_FALSE(Has(capture, "[pn]88"));
}

TEST_F(UploadEndToEnd, UnitThatStopsAnsweringOrAnswersWronglyGivesTimeOutOrUnexpectedAnswer) {
  const Bytes image = MakeImage(SpreadPages(10, 0, 1), 55);
  WriteBytes(dir_.File("small.kvu"), UploadFile(image));

  {
    auto sim = StartSim({"--erase-timeout"}, "erase");
    const CliResult r = Upload({dir_.File("small.kvu")}, sim->Link(), 60, "erase");
    EXPECT_EQ(r.status, 8) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "unexpected response: ")) << r.out;
    EXPECT_TRUE(Has(r.err, "Unexpected answer from the unit: ERASE BLOCK TIMEOUT: ")) << r.err;
    ASSERT_EQ(sim->Stop(), 0);
    EXPECT_EQ(RecordBytes(sim->Traffic("in")), "");
  }
  {
    // No READY ever: exactly 251 "U", then the sequencer's own time-out (about 15 s).
    auto sim = StartSim({"--never-ready"}, "silent");
    const CliResult r = Upload({dir_.File("small.kvu")}, sim->Link(), 60, "silent");
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "Timed out waiting for response\n"), 1u) << r.out;
    EXPECT_TRUE(Has(r.err, "switch the unit on after the upload has started")) << r.err;
    ASSERT_EQ(sim->Stop(), 0);
    EXPECT_EQ(sim->Traffic("in"), std::string(251, 'U'));
  }
  {
    // A unit gone silent in the middle of the records is resent to for ever by the
    // sequencer; the command's own limit ends the run.
    auto sim = StartSim({"--silent-after-records", "3"}, "gone");
    const CliResult r = Upload({"--timeout", "4", dir_.File("small.kvu")}, sim->Link(), 60, "gone");
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "did not end within 4 s")) << r.err;
    EXPECT_TRUE(Has(r.err, "4 of 10 records sent")) << r.err;  // the fourth unanswered
    ASSERT_EQ(sim->Stop(), 0);
    EXPECT_EQ(FirstDifferentPage(sim->Flash(), FirstPagesOf(image, 3)), -1);
  }
}

TEST_F(UploadEndToEnd, UnitThatFailsFallsSilentOrAnswersAtAnotherSpeedEndsSoonSayingWhatToDo) {
  const Bytes image = MakeImage(SpreadPages(10, 0, 1), 56);
  WriteBytes(dir_.File("small.kvu"), UploadFile(image, "00000000"));
  // UPLOAD FAILED where the erase result or THANK YOU belongs halts the run at once.
  for (const std::string phase : {"erase", "thank-you"}) {
    auto sim = StartSim({"--fail-in", phase}, phase);
    const auto start = Child::Clock::now();
    const CliResult r = Upload({dir_.File("small.kvu")}, sim->Link(), 60, phase);
    EXPECT_EQ(r.status, 6) << phase << r.out << r.err;
    EXPECT_LT(SecondsSince(start), 20) << phase;
    EXPECT_TRUE(Has(r.err, "switch it off and on, and upload again.")) << r.err;
    ASSERT_EQ(sim->Stop(), 0);
  }
  {
    // Records on request: a unit gone for good costs two waits of 2 s.
    auto sim = StartSim({"--silent-after-records", "3"}, "gone");
    const auto start = Child::Clock::now();
    const CliResult r = Upload({"--fast", dir_.File("small.kvu")}, sim->Link(), 60, "gone");
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_LT(SecondsSince(start), 20);
    EXPECT_TRUE(Has(r.err, "stopped answering in the middle of the upload: cycle its power"))
        << r.err;
    ASSERT_EQ(sim->Stop(), 0);
  }
  {
    // The unit's loader is set to 57600 baud; the upload uses 38400.
    auto sim = StartSim({"--loader-baud", "57600"}, "speed");
    const CliResult r = Upload({dir_.File("small.kvu")}, sim->Link(), 60, "speed");
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "another speed than 38400 baud")) << r.err;
    EXPECT_TRUE(Has(r.err, "(--baud 57600)")) << r.err;
    ASSERT_EQ(sim->Stop(), 0);
  }
}

TEST_F(UploadEndToEnd, UnitThatVanishesMidUploadEndsTheRunAtOnceNamingThePort) {
  const Bytes image = MakeImage(SpreadPages(40, 100, 3), 61);
  WriteBytes(dir_.File("gone.kvu"), UploadFile(image));
  auto sim = StartSim();
  auto cli = StartUpload({"--capture", dir_.File("capture.txt"), dir_.File("gone.kvu")},
                         sim->Link(), "gone");
  // In the middle of the records the unit's end of the line goes, as an adapter pulled out.
  ASSERT_TRUE(WaitFor([&] { return RecordBytes(sim->Traffic("in")).size() >= 10 * 135; }, 30000));
  sim->Signal(SIGKILL);
  const auto gone = Child::Clock::now();
  const CliResult r = Finish(*cli, "gone", gone + std::chrono::seconds(30));
  // At once: not after the two minutes a silent unit is waited for, nor at the --timeout.
  EXPECT_LT(SecondsSince(gone), 5.0);
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "The run has stopped: Com 1 (" + sim->Link() + ") is no longer there\n"))
      << r.out;
  EXPECT_EQ(Count(r.err, "COM1 (" + sim->Link() + ") is no longer there"), 1u) << r.err;

  // The capture file holds whole lines, every record that reached the unit described in it.
  const std::size_t received = RecordBytes(sim->Traffic("in")).size() / 135;
  const std::string capture = ReadText(dir_.File("capture.txt"));
  ASSERT_FALSE(capture.empty());
  EXPECT_EQ(capture.back(), '\n');
  EXPECT_GE(Count(capture, "[info  ]  addr "), received);
}

TEST_F(UploadEndToEnd, PortHeldForbiddenOrNoSerialDeviceIsRefusedNamingThePortAndWhy) {
  WriteBytes(dir_.File("fw.kvu"), UploadFile(MakeImage(SpreadPages(3, 0, 1), 62)));
  auto sim = StartSim({"--never-ready"});
  const std::string port = "COM1 (" + sim->Link() + ")";

  // Another kvuflash-cli has the port, waiting for its unit to be switched on.
  auto holder = StartUpload({dir_.File("fw.kvu")}, sim->Link(), "holder");
  ASSERT_TRUE(WaitFor([&] { return Has(ReadText(dir_.File("holder.out")), "POWER UP"); }, 10000));
  CliResult r = Upload({dir_.File("fw.kvu")}, sim->Link(), 30, "second");
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, port + " is in use by another program.")) << r.err;
  holder->Signal(SIGINT);
  EXPECT_EQ(holder->Wait(10000), 9);

  // A device this user may not open. Root may open any, so the command runs as the user
  // nobody then, in a folder it can read; another user is kept out by the device's mode.
  std::vector<std::string> unprivileged;
  if (::geteuid() == 0) {
    unprivileged = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    fs::permissions(dir_.Path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
  } else {
    fs::permissions(fs::canonical(sim->Link()), fs::perms::none);
  }
  auto forbidden = StartUpload({dir_.File("fw.kvu")}, sim->Link(), "forbidden", unprivileged);
  r = Finish(*forbidden, "forbidden", Child::Clock::now() + std::chrono::seconds(30));
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "Access to " + port + " was denied. Add your user to the dialout group"))
      << r.err;

  // The port number mapped to an ordinary file.
  r = Upload({dir_.File("fw.kvu")}, dir_.File("fw.kvu"), 30, "file");
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "COM1 (" + dir_.File("fw.kvu") + ") is not a serial device.")) << r.err;
}

TEST_F(UploadEndToEnd, FullDiskDuringConversionLeavesNoFileThatLooksWholeAndKeepsTheOlderOnes) {
  auto sim = StartSim();
  // An earlier conversion of the file, which a failed one must leave as it was.
  WriteText(dir_.File("fw.hex"), IntelHex(MakeImage(SpreadPages(3, 0, 1), 63)));
  ASSERT_EQ(Child({KV_CLI_PATH, "convert", dir_.File("fw.hex")}).Wait(30000), 0);
  const Bytes olderBin = ReadBytes(dir_.File("fw.BIN"));
  const Bytes olderKvu = ReadBytes(dir_.File("fw.KVU"));
  WriteText(dir_.File("fw.hex"), IntelHex(MakeImage(SpreadPages(5, 0, 1), 64)));

  // A file-size limit stands for the full disk: the 4 MB image does not fit, then the upload
  // file of a binary image does not.
  CliResult r =
      Finish(*StartUpload({dir_.File("fw.hex")}, sim->Link(), "hex", {"prlimit", "--fsize=100000"}),
             "hex", Child::Clock::now() + std::chrono::seconds(60));
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, dir_.File("fw.BIN") + ": Disk full")) << r.err;
  EXPECT_EQ(ReadBytes(dir_.File("fw.BIN")), olderBin);
  EXPECT_EQ(ReadBytes(dir_.File("fw.KVU")), olderKvu);

  const Bytes image = MakeImage(SpreadPages(40, 0, 1), 65);
  WriteBytes(dir_.File("image.bin"), Bytes(image.begin(), image.begin() + 40 * kPage));
  r = Finish(
      *StartUpload({dir_.File("image.bin")}, sim->Link(), "bin", {"prlimit", "--fsize=2000"}),
      "bin", Child::Clock::now() + std::chrono::seconds(60));
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, dir_.File("image.KVU") + ": Disk full")) << r.err;

  // Nothing written in part is left under any name, and nothing went to the unit.
  std::vector<std::string> left;
  for (const std::string& name : dir_.Names()) {
    if (name.rfind("fw.", 0) == 0 || name.rfind("image.", 0) == 0) left.push_back(name);
  }
  EXPECT_EQ(left, (std::vector<std::string>{"fw.BIN", "fw.KVU", "fw.hex", "image.bin"}));
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(sim->Traffic("in"), "");
}

TEST_F(UploadEndToEnd, FullDiskDuringCaptureTurnsCaptureOffOnceAndTheUploadCompletes) {
  const Bytes image = MakeImage(SpreadPages(40, 7, 2), 66);
  WriteBytes(dir_.File("fw.kvu"), UploadFile(image));
  auto sim = StartSim();
  constexpr std::size_t kLimit = 8000;
  auto cli = StartUpload({"--capture", dir_.File("capture.txt"), dir_.File("fw.kvu")}, sim->Link(),
                         "cap", {"prlimit", "--fsize=" + std::to_string(kLimit)});
  const CliResult r = Finish(*cli, "cap", Child::Clock::now() + std::chrono::seconds(60));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(
      Count(r.err, "The capture file " + dir_.File("capture.txt") +
                       " could not be written (Disk full). Capture is now off; the run goes on."),
      1u)
      << r.err;
  EXPECT_TRUE(Has(r.out, "Disabled\n")) << r.out;
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(sim->Flash(), image), -1);

  // Everything up to the line that did not fit, and nothing of that line.
  const std::string capture = ReadText(dir_.File("capture.txt"));
  EXPECT_LE(capture.size(), kLimit);
  EXPECT_GT(capture.size(), kLimit - 300);
  ASSERT_FALSE(capture.empty());
  EXPECT_EQ(capture.back(), '\n') << capture.substr(capture.size() - 100);
}

TEST_F(UploadEndToEnd, NoisyLineAtOneInAThousandAndOneInAHundredGetsEveryRecordThroughByResends) {
  const Bytes image = MakeImage(SpreadPages(200, 3, 11), 67);
  WriteBytes(dir_.File("noise.kvu"), UploadFile(image));
  struct Case {
    const char* rate;
    bool fast;
  };
  const Case cases[] = {{"0.001", false}, {"0.01", false}, {"0.001", true}, {"0.01", true}};
  std::vector<std::unique_ptr<Sim>> sims;
  std::vector<std::unique_ptr<Child>> clis;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string tag = "noise" + std::to_string(i);
    // Seed 156 damages two of the first 200 records at the one rate, four at the other.
    sims.push_back(StartSim({"--corrupt-records", cases[i].rate, "--seed", "156"}, tag));
    std::vector<std::string> args = {dir_.File("noise.kvu")};
    if (cases[i].fast) args.insert(args.begin(), "--fast");
    clis.push_back(StartUpload(args, sims[i]->Link(), tag));
  }
  const auto deadline = Child::Clock::now() + std::chrono::seconds(120);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(std::string(cases[i].rate) + (cases[i].fast ? " on request" : " per tick"));
    const std::string tag = "noise" + std::to_string(i);
    const CliResult r = Finish(*clis[i], tag, deadline);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_EQ(sims[i]->Stop(), 0);
    EXPECT_EQ(FirstDifferentPage(sims[i]->Flash(), image), -1);
    // Each record the line damaged went again, and only it.
    const int resends = std::stoi(sims[i]->Summary()["resend_requests"]);
    EXPECT_GT(resends, 0);
    EXPECT_EQ(RecordBytes(sims[i]->Traffic("in")).size(), (200u + resends) * 135);
  }
}

TEST_F(UploadEndToEnd, UnitSilentLateOrSayingThingsTwiceInEachPhase) {
  const Bytes image = MakeImage(SpreadPages(40, 50, 4), 68);
  WriteBytes(dir_.File("small.kvu"), UploadFile(image));
  // 1000 records, so that the unit's checksums are asked for; a file for each run, as each
  // is converted beside its input.
  const Bytes big = MakeImage(SpreadPages(1000, 0, 30), 69);
  WriteBytes(dir_.File("swrlate.bin"), big);
  WriteBytes(dir_.File("swrnever.bin"), big);
  std::string everyRecord = "1";
  for (int n = 2; n <= 40; ++n) everyRecord += "," + std::to_string(n);
  struct Case {
    std::string name;
    std::vector<std::string> sim, cli;
    int status;
    std::string said;  // on the error stream, or in the output when the status is 0
    bool timesProcessor = false;
  };
  const std::string waited = "Timed out: the upload did not end within ";
  const Case cases[] = {
      {"erase",
       {"--erase-ms", "600000"},
       {"--timeout", "4", dir_.File("small.kvu")},
       5,
       waited + "4 s (waiting for Erase Complete/Timeout, 0 of 40 records sent).",
       true},
      {"thanks",
       {"--no-thank-you"},
       {"--timeout", "6", dir_.File("small.kvu")},
       5,
       waited + "6 s (waiting for Thank You, 40 of 40 records sent).",
       true},
      // Each request 150 ms after its record: more than a tick late.
      {"late", {"--program-ms", "150"}, {dir_.File("small.kvu")}, 0, "Software Upload complete\n"},
      // Every request said twice, to a unit that takes 70 ms to write a record: a repeat taken
      // for the next request would send a record that the unit loses while writing, and the
      // run would end as complete without it.
      {"twice",
       {"--twice-records", everyRecord, "--program-ms", "70"},
       {dir_.File("small.kvu")},
       0,
       "Software Upload complete\n"},
      {"twicefast",
       {"--twice-records", everyRecord, "--program-ms", "70"},
       {"--fast", dir_.File("small.kvu")},
       0,
       "Software Upload complete\n"},
      // After the reboot the first SWR? goes unanswered; then every one.
      {"swrlate",
       {"--no-line-time", "--swr-after", "2"},
       {"--fast", dir_.File("swrlate.bin")},
       0,
       "Checksums match, Upload successful\n"},
      {"swrnever",
       {"--no-line-time", "--swr-after", "1000"},
       {"--fast", "--timeout", "16", dir_.File("swrnever.bin")},
       5,
       waited + "16 s (waiting for SWR=, 1000 of 1000 records sent)."},
  };
  std::vector<std::unique_ptr<Sim>> sims;
  std::vector<std::unique_ptr<Child>> clis;
  for (const Case& c : cases) {
    sims.push_back(StartSim(c.sim, c.name));
    clis.push_back(StartUpload(c.cli, sims.back()->Link(), c.name));
  }
  // A command waiting on a silent unit sleeps: a busy loop would take a whole core.
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (!cases[i].timesProcessor) continue;
    ASSERT_TRUE(WaitFor(
        [&] {
          return Has(ReadText(dir_.File(cases[i].name + ".out")),
                     cases[i].name == "erase" ? "Erasing..." : "Upload done");
        },
        20000));
    const double share = CoreShareWhileWaiting(clis[i]->Pid(), 2.0);
    std::cout << "[ figures  ] kvuflash-cli waiting (" << cases[i].name << "): " << share * 100
              << " % of a core\n";
    EXPECT_LT(share, 0.25);
  }
  const auto deadline = Child::Clock::now() + std::chrono::seconds(120);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const CliResult r = Finish(*clis[i], c.name, deadline);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(Has(c.status == 0 ? r.out : r.err, c.said)) << r.out << r.err;
    ASSERT_EQ(sims[i]->Stop(), 0);
    if (c.status == 0) {
      EXPECT_EQ(FirstDifferentPage(sims[i]->Flash(), c.name.rfind("swr", 0) == 0 ? big : image),
                -1);
    }
  }
}

TEST_F(UploadEndToEnd, BadInputsAndPortsStopBeforeAnythingReachesTheUnit) {
  auto sim = StartSim();
  const Bytes image = MakeImage(SpreadPages(3, 0, 1), 66);

  CliResult r = Upload({dir_.File("missing.hex")}, sim->Link());
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "File not found")) << r.err;

  WriteText(dir_.File("notes.txt"), "not firmware\n");
  r = Upload({dir_.File("notes.txt")}, sim->Link());
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Unexpected file extension (TXT), choose another file")) << r.out;

  // A HEX file damaged in its third line: no upload file that looks whole is left.
  std::string hex = IntelHex(image);
  const auto third = hex.find(':', hex.find(':', hex.find(':') + 1) + 1);
  hex.replace(third + 9, 2, "ZZ");
  WriteText(dir_.File("broken.hex"), hex);
  r = Upload({dir_.File("broken.hex")}, sim->Link());
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "broken.hex") && Has(r.err, "line 3")) << r.err;
  EXPECT_FALSE(fs::exists(dir_.File("broken.KVU")));
  EXPECT_FALSE(Has(r.out, "THE UNIT MUST BE OFF"));

  Bytes shortFile = UploadFile(image, "ABCD1234");
  shortFile.erase(shortFile.end() - 3, shortFile.end());
  WriteBytes(dir_.File("short.kvu"), shortFile);
  r = Upload({dir_.File("short.kvu")}, sim->Link());
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "is not a complete upload file")) << r.err;

  // The end record alone converts to nothing: refused, so the unit is not erased for nothing.
  WriteText(dir_.File("empty.hex"), ":00000001FF\r\n");
  r = Upload({dir_.File("empty.hex")}, sim->Link());
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "empty.hex holds no data for the unit")) << r.err;

  // More that is damaged, impossible or no file at all: each refused, naming the file (and the
  // line), with no upload file left.
  const std::string record = HexRecord(0, 0x0100, Bytes(16, 0x11));
  const std::string end = ":00000001FF\r\n";
  std::string overlong = HexRecord(0, 0, Bytes(255, 0x22));
  overlong.insert(overlong.size() - 4, "2222");  // 257 data bytes behind a count of 255
  fs::create_directory(dir_.File("folder.hex"));
  ASSERT_EQ(::mkfifo(dir_.File("pipe.hex").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", dir_.File("device.bin"));
  const std::pair<std::string, std::string> refused[] = {
      {"cut.hex", record + ":1001100000010203\r\n" + end},
      {"overlong.hex", overlong + end},
      {"beyond.hex", HexRecord(4, 0, {0x00, 0x40}) + record + end},
      {"straddling.hex",
       HexRecord(4, 0, {0x00, 0x3F}) + HexRecord(0, 0xFFF8, Bytes(16, 0x33)) + end},
      // A Ctrl-Z glued to the end record, with no line end between: that line is no record.
      {"ctrlz.hex", record + ":00000001FF\x1A"},
      // Cut short at a line end: every line sound, the end record missing.
      {"noend.hex", record},
      {"zero.hex", ""},
      {"nothing.bin", ""},
      {"nothing.kvu", ""},
      {"folder.hex", ""},
      {"pipe.hex", ""},
      {"device.bin", ""},
  };
  const std::map<std::string, std::string> said = {
      {"cut.hex", "line 2"},
      {"overlong.hex",
       "line 1: the line has 525 characters where its byte count (FF) calls for 521"},
      {"beyond.hex", "line 2 puts data at address 0x400100, at or beyond the 4 MB limit"},
      {"straddling.hex", "line 2 puts data at address 0x3FFFF8"},
      {"ctrlz.hex", "line 2"},
      {"noend.hex", "noend.hex has no end record: it may have been cut short"},
      {"zero.hex", "zero.hex is empty"},
      {"nothing.bin", "nothing.bin is empty"},
      {"nothing.kvu", "nothing.kvu is not a complete upload file"},
      {"folder.hex", "folder.hex is a folder, not a file"},
      {"pipe.hex", "pipe.hex is a named pipe (FIFO), not a file"},
      {"device.bin", "device.bin is a device, not a file"},
  };
  for (const auto& [name, text] : refused) {
    SCOPED_TRACE(name);
    if (!fs::exists(fs::symlink_status(dir_.File(name)))) WriteText(dir_.File(name), text);
    r = Upload({dir_.File(name)}, sim->Link());
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, dir_.File(name)) && Has(r.err, said.at(name))) << r.err;
    const std::string stem = name.substr(0, name.find('.'));
    EXPECT_FALSE(fs::exists(dir_.File(stem + ".KVU")) && stem != "nothing");
  }

  // Nothing of the dialogue went out for any of them.
  ASSERT_EQ(sim->Stop(), 0);
  EXPECT_EQ(sim->Traffic("in"), "");

  // What the reader takes as it is: lower-case digits, LF or CR line ends, blank lines, a
  // Ctrl-Z after the end record, a name with blanks and letters beyond ASCII.
  // Each lands in its own unit's flash.
  const std::string plain = IntelHex(image);                      // CR LF
  const std::string oddName = "fw \u00FCn\u00EF c\u00F6d\u00E9";  // "fw ünï cödé" in UTF-8
  std::string lower = plain;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::pair<std::string, std::string> taken[] = {
      {"lower.hex", lower},
      {"lf.hex", ReplaceAll(plain, "\r\n", "\n")},
      {"cr.hex", ReplaceAll(plain, "\r\n", "\r")},
      {"blank.hex", ReplaceAll(plain, "\r\n", "\r\n\r\n")},
      {"dos.hex", plain + "\x1A"},
      {oddName + ".hex", plain},
  };
  std::vector<std::unique_ptr<Sim>> units;
  std::vector<std::unique_ptr<Child>> uploads;
  for (std::size_t i = 0; i < std::size(taken); ++i) {
    WriteText(dir_.File(taken[i].first), taken[i].second);
    units.push_back(StartSim({}, "taken" + std::to_string(i)));
    uploads.push_back(
        StartUpload({dir_.File(taken[i].first)}, units[i]->Link(), "taken" + std::to_string(i)));
  }
  const auto deadline = Child::Clock::now() + std::chrono::seconds(60);
  for (std::size_t i = 0; i < std::size(taken); ++i) {
    SCOPED_TRACE(taken[i].first);
    r = Finish(*uploads[i], "taken" + std::to_string(i), deadline);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_EQ(units[i]->Stop(), 0);
    EXPECT_EQ(FirstDifferentPage(units[i]->Flash(), image), -1);
  }
  EXPECT_TRUE(fs::exists(dir_.File(oddName + ".KVU")));

  // A line whose checksum is wrong is used as it always was with --accept-bad-checksums.
  std::string damaged = IntelHex(image);
  char& digit = damaged[damaged.find('\r') - 1];
  digit = digit == '0' ? '1' : '0';
  WriteText(dir_.File("damaged.hex"), damaged);
  auto other = StartSim({}, "other");
  r = Upload({"--accept-bad-checksums", dir_.File("damaged.hex")}, other->Link());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "Use it anyway? Yes.")) << r.err;
  ASSERT_EQ(other->Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(other->Flash(), image), -1);

  WriteBytes(dir_.File("good.kvu"), UploadFile(image, "ABCD1234"));
  r = Upload({dir_.File("good.kvu")}, dir_.File("no-such-tty"));
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Port did not open on Com 1 at 38400 baud")) << r.out;
  EXPECT_TRUE(Has(r.err, "COM1 (" + dir_.File("no-such-tty") + ") is not present.")) << r.err;

  r = Upload({"--help"}, "");
  EXPECT_EQ(r.status, 0);
  for (const char* line :
       {"--accept-bad-checksums", "Exit status:", "3  bad input", "4  the port could not be opened",
        "5  time-out", "6  halted by the unit (\"UPLOAD FAILED\")", "7  checksums different",
        "8  unexpected answer"}) {
    EXPECT_TRUE(Has(r.out, line)) << line;
  }
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--baud", "9600", dir_.File("good.kvu")},
                                             {"--port", "12", dir_.File("good.kvu")},
                                             {"--bogus", dir_.File("good.kvu")},
                                             {dir_.File("good.kvu"), dir_.File("good.kvu")}}) {
    r = Upload(args, dir_.File("no-such-tty"));
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_FALSE(r.err.empty());
  }
}

// The only long test: 1000 records take a minute of ticks. Two units at once, one of them
// asking for a record again in full words on the way, the other reporting a wrong main
// checksum after its reboot.
TEST_F(UploadEndToEnd, ThousandRecordsAreCheckedAgainstTheUnitsChecksumsAfterItsReboot) {
  const Bytes image = MakeImage(SpreadPages(1000, 0, 32), 77);
  fs::create_directories(dir_.Path() / "good");
  fs::create_directories(dir_.Path() / "bad");
  WriteBytes(dir_.File("good/big.bin"), image);
  WriteText(dir_.File("bad/big.hex"), IntelHex(image));
  auto good = StartSim({"--resend-records", "500"}, "good");
  auto bad = StartSim({"--fcs-wrong", "main"}, "bad");

  const auto start = [&](const std::string& file, const std::string& link, const std::string& tag) {
    return std::make_unique<Child>(
        std::vector<std::string>{KV_CLI_PATH, "--dir", dir_.File("prog"), "upload", "--port", "1",
                                 "--dir", dir_.File(tag), file},
        std::vector<std::string>{"KVUFLASH_PORTS=1=" + link}, dir_.File(tag + ".out"),
        dir_.File(tag + ".err"));
  };
  auto goodCli = start(dir_.File("good/big.bin"), good->Link(), "good");
  auto badCli = start(dir_.File("bad/big.hex"), bad->Link(), "bad");
  // One deadline for both, well inside the test's own limit: both run at the same time.
  const auto deadline = Child::Clock::now() + std::chrono::seconds(200);
  const int goodStatus = goodCli->WaitUntil(deadline);
  const int badStatus = badCli->WaitUntil(deadline);
  const std::string goodOut = ReadText(dir_.File("good.out"));
  const std::string badOut = ReadText(dir_.File("bad.out"));
  const std::string badErr = ReadText(dir_.File("bad.err"));

  EXPECT_EQ(goodStatus, 0) << goodOut << ReadText(dir_.File("good.err"));
  EXPECT_TRUE(Has(goodOut, "Unit re-booting, wait ...\n")) << goodOut;
  EXPECT_TRUE(Has(goodOut, "Querying RQ-410 memory checksums ...\n")) << goodOut;
  EXPECT_TRUE(Has(goodOut, "Checksums match, Upload successful\n")) << goodOut;
  EXPECT_TRUE(Has(goodOut, "Now, CYCLE POWER on the RQ-410....\n")) << goodOut;
  EXPECT_TRUE(Has(goodOut, "records 1000/1000 (100%"));

  EXPECT_EQ(badStatus, 7) << badOut << badErr;
  EXPECT_TRUE(Has(badOut, "Checksums different\n")) << badOut;
  EXPECT_TRUE(Has(badErr, "Checksums different")) << badErr;

  ASSERT_EQ(good->Stop(), 0);
  ASSERT_EQ(bad->Stop(), 0);
  EXPECT_EQ(good->Summary()["fcs"], "1");
  EXPECT_EQ(FirstDifferentPage(good->Flash(), image), -1);
  // "RESEND BLOCK" is no "SEND BLOCK": the 500th record went again, and only it.
  EXPECT_EQ(good->Summary()["resend_requests"], "1");
  EXPECT_EQ(Count(good->Traffic("out"), "RESEND BLOCK\r"), 1u);
  const std::string goodRecords = RecordBytes(good->Traffic("in"));
  const Bytes upload = UploadFile(image, "");
  EXPECT_EQ(goodRecords.size(), 1001u * 135);
  EXPECT_EQ(Count(goodRecords, Record(upload, 499)), 2u);
  // The wrong report does not mean wrong data: the unit holds the image all the same.
  EXPECT_EQ(FirstDifferentPage(bad->Flash(), image), -1);
}

// Several units from one command: the production line's road. Each unit is a simulator of its
// own; the table's row and the log's line of a unit are found by its port.
std::vector<std::string> PortsOf(const std::vector<std::unique_ptr<Sim>>& units) {
  std::vector<std::string> args;
  for (const auto& unit : units) args.insert(args.end(), {"--port", unit->Link()});
  return args;
}

std::string TableRow(const std::string& out, const std::string& port) {
  const auto header = out.rfind("\nPort ");
  if (header == std::string::npos) return "";
  const auto at = out.find("\n" + port + " ", header);
  return at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

std::string LogLineOf(const std::string& log, const std::string& port) {
  for (const std::string& line : Lines(log, "")) {
    if (Has(line, "\"port\":\"" + port + "\"")) return line;
  }
  return "";
}

// The same faults with one record per tick and with records on request (--fast).
class LineUpload : public UploadEndToEnd, public ::testing::WithParamInterface<bool> {
 protected:
  CliResult UploadTo(const std::vector<std::unique_ptr<Sim>>& units,
                     const std::vector<std::string>& args) {
    std::vector<std::string> all = PortsOf(units);
    if (GetParam()) all.push_back("--fast");
    all.insert(all.end(), args.begin(), args.end());
    return Upload(all, "", 90);
  }
};

TEST_P(LineUpload, FourUnitsAtOnceWithOneHaltedAndOneDamagingRecords) {
  const Bytes image = MakeImage(SpreadPages(40, 5, 301), 91);
  WriteText(dir_.File("line.hex"), IntelHex(image));
  std::vector<std::unique_ptr<Sim>> units;
  units.push_back(StartSim({"--program-ms", "3"}, "plain"));
  units.push_back(StartSim({"--fail-at-record", "15"}, "halts"));
  units.push_back(StartSim({"--corrupt-records", "0.2", "--seed", "7"}, "damages"));
  units.push_back(StartSim({"--short-answers", "--resend-records", "4", "--unknown-line-records",
                            "9", "--erase-errors", "1"},
                           "answers"));
  WriteText(dir_.File("log.json"), "{\"earlier\":true}\n");

  const CliResult r = UploadTo(units, {"--json", dir_.File("log.json"), dir_.File("line.hex")});
  EXPECT_EQ(r.status, 6) << r.out << r.err;
  for (const auto& unit : units) ASSERT_EQ(unit->Stop(), 0);

  // Converted once, beside the input; every unit was sent exactly its records.
  const Bytes kvu = ReadBytes(dir_.File("line.KVU"));
  ASSERT_EQ(kvu.size(), 40u * 135 + 8);
  EXPECT_EQ(Count(r.out, "Data file conversion complete"), 1u) << r.out;
  EXPECT_EQ(RecordBytes(units[0]->Traffic("in")), AsString(kvu).substr(0, 40 * 135));
  for (std::size_t i : {0u, 2u, 3u}) {
    EXPECT_EQ(FirstDifferentPage(units[i]->Flash(), image), -1) << "unit " << i;
    EXPECT_TRUE(Has(TableRow(r.out, units[i]->Link()), "completed")) << r.out;
  }
  EXPECT_EQ(FirstDifferentPage(units[1]->Flash(), FirstPagesOf(image, 14)), -1);
  EXPECT_NE(units[2]->Summary()["resend_requests"], "0");
  EXPECT_FALSE(Has(units[1]->Traffic("in"), "UPLOAD DONE"));

  // The table says which unit failed how; the halted unit's reason is printed as well.
  const std::string halted = TableRow(r.out, units[1]->Link());
  EXPECT_TRUE(Has(halted, "halted by the unit")) << r.out;
  EXPECT_TRUE(Has(halted, " 6 ")) << halted;
  EXPECT_TRUE(Has(halted, " 15/40 ")) << halted;
  EXPECT_TRUE(Has(TableRow(r.out, units[0]->Link()), " 40/40 ")) << r.out;
  EXPECT_TRUE(Has(r.err, "[" + units[1]->Link() + "] kvuflash-cli: The unit halted the upload"))
      << r.err;
  // Plain lines carry their unit's port.
  EXPECT_TRUE(Has(r.out, "[" + units[3]->Link() + "] Erase complete\n")) << r.out;

  // One line per unit appended to the log, which keeps what it held.
  const std::string log = ReadText(dir_.File("log.json"));
  EXPECT_EQ(Lines(log, "{").size(), 5u) << log;
  EXPECT_EQ(log.rfind("{\"earlier\":true}\n", 0), 0u);
  const std::string sums = "\"file_checksums\":{\"firmware\":\"" +
                           AsString(kvu).substr(40 * 135, 4) + "\",\"fpga\":\"" +
                           AsString(kvu).substr(40 * 135 + 4, 4) + "\"}";
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::string line = LogLineOf(log, units[i]->Link());
    // The fourth unit reported an erase error: every record went, but that is not a plain
    // success.
    EXPECT_TRUE(Has(line, "\"exit_status\":" + std::string(i == 1   ? "6"
                                                           : i == 3 ? "10"
                                                                    : "0")))
        << line;
    EXPECT_TRUE(Has(line, sums)) << line;
    EXPECT_TRUE(Has(line, "\"records\":40,")) << line;
    EXPECT_TRUE(Has(line, "\"file\":\"" + dir_.File("line.hex") + "\"")) << line;
    EXPECT_TRUE(Has(line, GetParam() ? "\"fast\":true" : "\"fast\":false")) << line;
    EXPECT_TRUE(Has(line, "\"unit_checksums\":null")) << line;  // not asked under 1000
  }
  EXPECT_TRUE(Has(LogLineOf(log, units[1]->Link()), "\"records_sent\":15,"));
  // Units side by side leave the window's remembered port alone.
  EXPECT_FALSE(fs::exists(dir_.File("prog/commsUP.txt")));
}

TEST_P(LineUpload, InterruptStopsEveryUnitAndReleasesItsPort) {
  const Bytes image = MakeImage(SpreadPages(60, 0, 3), 92);
  WriteBytes(dir_.File("slow.kvu"), UploadFile(image));
  std::vector<std::unique_ptr<Sim>> units;
  for (const char* name : {"a", "b", "c"}) units.push_back(StartSim({"--program-ms", "60"}, name));
  units.push_back(StartSim({"--never-ready"}, "d"));
  std::vector<std::string> argv = {KV_CLI_PATH, "--dir", dir_.File("prog"), "upload"};
  for (const std::string& arg : PortsOf(units)) argv.push_back(arg);
  if (GetParam()) argv.push_back("--fast");
  argv.insert(argv.end(), {"--json", dir_.File("log.json"), dir_.File("slow.kvu")});
  Child cli(argv, {}, dir_.File("int.out"), dir_.File("int.err"));
  // In the middle of the records.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Count(units[0]->Traffic("in"), "GO\r") == 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  // Ctrl+C; and, in the other variant, the terminal or remote session closing under the line.
  cli.Signal(GetParam() ? SIGHUP : SIGINT);
  EXPECT_EQ(cli.Wait(10 * 1000), 9) << ReadText(dir_.File("int.out"));

  const std::string out = ReadText(dir_.File("int.out"));
  for (const auto& unit : units) {
    EXPECT_TRUE(Has(TableRow(out, unit->Link()), "interrupted")) << out;
    // Released: the device opens again, exclusively.
    const int fd = ::open(unit->Link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
  }
  const std::string log = ReadText(dir_.File("log.json"));
  EXPECT_EQ(Count(log, "\"outcome\":\"interrupted\",\"exit_status\":9"), 4u) << log;
  const std::string sent = TableRow(out, units[0]->Link());
  EXPECT_FALSE(Has(sent, " 0/60 ") || Has(sent, " 60/60 ")) << "stopped in the middle: " << sent;
}

INSTANTIATE_TEST_SUITE_P(PerTickAndOnRequest, LineUpload, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Fast" : "PerTick";
                         });

// A thousand records on request at memory speed (a few seconds, where ticks would take a
// minute): the units' checksums and SWR? answers reach the table and the log, and a unit that
// reports a wrong sum fails the run with status 7.
TEST_F(UploadEndToEnd, LineKeepsTheUnitsChecksumsAndSoftwareVersionWhereAsked) {
  const Bytes image = MakeImage(SpreadPages(1000, 0, 30), 93);
  WriteBytes(dir_.File("big.bin"), image);
  std::vector<std::unique_ptr<Sim>> units;
  units.push_back(StartSim({"--no-line-time", "--swr-version", "2.07"}, "good"));
  units.push_back(StartSim({"--no-line-time", "--fcs-wrong", "fpga"}, "bad"));

  std::vector<std::string> args = PortsOf(units);
  args.insert(args.end(),
              {"--fast", "--baud", "57600", "--json", dir_.File("log.json"), dir_.File("big.bin")});
  const CliResult r = Upload(args, "", 200);
  EXPECT_EQ(r.status, 7) << r.out << r.err;
  for (const auto& unit : units) ASSERT_EQ(unit->Stop(), 0);
  const auto flash = units[0]->Summary();
  const std::string truth =
      "{\"firmware\":\"" + flash.at("main") + "\",\"fpga\":\"" + flash.at("fpga") + "\"}";
  EXPECT_TRUE(Has(TableRow(r.out, units[0]->Link()), "completed, checksums match")) << r.out;
  EXPECT_TRUE(Has(TableRow(r.out, units[0]->Link()), flash.at("main") + "/" + flash.at("fpga")))
      << r.out;
  EXPECT_TRUE(Has(TableRow(r.out, units[1]->Link()), "checksums different")) << r.out;

  const std::string log = ReadText(dir_.File("log.json"));
  const std::string good = LogLineOf(log, units[0]->Link());
  const std::string bad = LogLineOf(log, units[1]->Link());
  EXPECT_TRUE(Has(good, "\"unit_checksums\":" + truth)) << good;
  EXPECT_TRUE(Has(good, "\"unit_swr\":\"2.07\"")) << good;
  EXPECT_TRUE(Has(good, "\"baud\":57600")) << good;
  EXPECT_TRUE(Has(bad, "\"exit_status\":7")) << bad;
  EXPECT_TRUE(Has(bad, "\"unit_checksums\":{\"firmware\":\"" + flash.at("main"))) << bad;
  EXPECT_FALSE(Has(bad, "\"unit_checksums\":" + truth)) << bad;
  EXPECT_EQ(FirstDifferentPage(units[1]->Flash(), image), -1);
}

}  // namespace
