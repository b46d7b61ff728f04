// The factory loaders and bootstrap program that the uploader carries, played into the simulated
// unit frame by frame as the uploader sends them: every line is answered with the check byte the
// uploader expects, and the loaded program finds all its texts and greets at 38400 baud.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

#include "sim/sim_harness.h"

using namespace simtest;

namespace {

std::vector<std::string> factoryLines(const std::string& name) {
  std::ifstream in(std::string(KV_SOURCE_DIR) + "/resources/factory/" + name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string bytesOfHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

struct Frame {
  std::string bytes;
  int expected;  // the check byte awaited; -1 for the end frame, which is not answered
};

// Data: 00, count, address, data (not the checksum), answered with the line's checksum.
// Upper address: 04 and its low byte, answered with the checksum + 2. End: 01.
Frame frameOf(const std::string& line) {
  const int checksum = std::stoi(line.substr(line.size() - 2), nullptr, 16);
  switch (line.at(8)) {
    case '0':
      return {bytesOfHex("00" + line.substr(1, 6) + line.substr(9, line.size() - 11)), checksum};
    case '4':
      return {bytesOfHex("04" + line.substr(11, 2)), (checksum + 2) % 256};
    default:
      return {std::string(1, '\x01'), -1};
  }
}

}  // namespace

TEST(SimFactoryImages, TheCarriedLoadersAndBootstrapProgramLoadAndFindEveryText) {
  const auto loader1 = factoryLines("loader1.txt");
  const auto loader2 = factoryLines("loader2.txt");
  const auto boot = factoryLines("bootstrap.hex");
  ASSERT_EQ(loader1.size(), 1u);
  ASSERT_EQ(loader2.size(), 3u);
  ASSERT_EQ(boot.size(), 209u);

  std::vector<Frame> frames;
  for (const auto& line : boot) frames.push_back(frameOf(line));
  EXPECT_EQ(frames[0].bytes, std::string("\x04\x00", 2));
  EXPECT_EQ(frames[0].expected, 0xFC);
  EXPECT_EQ(frames[1].bytes.substr(0, 4), std::string("\x00\x0C\x00\x00", 4));
  EXPECT_EQ(frames[1].bytes.size(), 16u);
  EXPECT_EQ(frames[1].expected, 0x0F);
  EXPECT_EQ(frames[2].bytes, std::string("\x04\x08", 2));
  EXPECT_EQ(frames[2].expected, 0xF4);
  EXPECT_EQ(frames[6].expected, 0x00);  // the uploader sends the next line without waiting
  EXPECT_EQ(frames[208].bytes, "\x01");

  ScratchFolder dir;
  SimProcess sim({"--bootstrap", "--transcript", dir.File("t.txt")});
  Client c(sim.Path(), 19200);
  c.send(std::string(1, '\0'));
  EXPECT_EQ(c.readBytes(1), "\xD5");
  c.send(bytesOfHex(loader1[0]));
  EXPECT_EQ(c.readBytes(1), "\"");
  for (const auto& text : loader2) c.send(bytesOfHex(text));
  EXPECT_EQ(c.readBytes(1), "U");

  for (size_t i = 0; i < frames.size(); ++i) {
    c.send(frames[i].bytes);
    if (frames[i].expected < 0) continue;
    std::string got = c.readBytes(1, 1000);
    ASSERT_EQ(got.size(), 1u) << "no answer to line " << i + 1;
    EXPECT_EQ(static_cast<uint8_t>(got[0]), frames[i].expected) << "line " << i + 1;
  }
  EXPECT_EQ(c.readFor(60), "") << "the end frame is not answered";

  c.setBaud(38400);
  c.send("U");
  EXPECT_EQ(c.readUntil("\r"), "READY\r");
  sim.Signal(SIGTERM);
  ASSERT_EQ(sim.Wait(), 0);
  auto summary = sim.Summary();
  EXPECT_EQ(summary["lines"], "209");
  EXPECT_EQ(summary["bad_checks"], "0");
  bool allTexts = false;
  for (const auto& line : readTranscript(dir.File("t.txt")))
    allTexts = allTexts || line.data.find("13 of 13 texts found") != std::string::npos;
  EXPECT_TRUE(allTexts) << "the loaded program lacks some of its dialogue texts";
}
