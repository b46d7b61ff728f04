// The C161 bootstrap path: identification, the two loaders, line frames with their check bytes,
// and the loaded program that speaks the flash-loader dialogue with the texts it was given.
#include <gtest/gtest.h>
#include <signal.h>

#include "sim/sim_harness.h"

using namespace simtest;

namespace {

const std::string kAllTexts =
    std::string("SEND BLOCK\rERASE COMPLETE\rGO\rERASING...\rERASE BLOCK TIMEOUT: RESEND BLOCK\r") +
    "UPLOAD COMPLETE. PLEASE CYCLE POWER.\rERASE ERROR: UPLOAD FAILED\rINVALID START\rREADY\r" +
    "BLOCK BASE INDEX: THANK YOU\r";

uint8_t checkOf(const std::string& frame) {
  unsigned sum = 0;
  for (char c : frame) sum += static_cast<uint8_t>(c);
  return static_cast<uint8_t>((256 - sum % 256) % 256);
}

std::string dataFrame(uint16_t address, const std::string& data) {
  std::string f;
  f.push_back('\x00');
  f.push_back(static_cast<char>(data.size()));
  f.push_back(static_cast<char>(address >> 8));
  f.push_back(static_cast<char>(address & 0xFF));
  return f + data;
}

std::string upperFrame(uint8_t upper) {
  return std::string("\x04", 1) + static_cast<char>(upper);
}

// The frames of a small bootstrap image: code at 0, the texts at 080000 in 16-byte lines.
std::vector<std::string> imageFrames(const std::string& texts) {
  std::vector<std::string> frames = {upperFrame(0), dataFrame(0x0000, pattern(12, 9)),
                                     upperFrame(0x08)};
  for (size_t at = 0; at < texts.size(); at += 16) {
    frames.push_back(dataFrame(static_cast<uint16_t>(at), texts.substr(at, 16)));
  }
  return frames;
}

// Zero byte, Loader 1, Loader 2; returns the three answers.
std::string throughLoaders(Client& c) {
  c.send(std::string(1, '\0'));
  std::string answers = c.readBytes(1, 1000);
  c.send(pattern(32, 1));
  answers += c.readBytes(1, 1000);
  std::string loader2 = pattern(172, 2);
  c.send(loader2.substr(0, 56));
  c.send(loader2.substr(56, 56));
  c.send(loader2.substr(112));
  answers += c.readBytes(1, 1000);
  return answers;
}

void sendFrames(Client& c, const std::vector<std::string>& frames) {
  for (const auto& f : frames) {
    c.send(f);
    std::string got = c.readBytes(1, 1000);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(static_cast<uint8_t>(got[0]), checkOf(f));
  }
  c.send(std::string("\x01", 1));
  // As the uploader does, the speed changes on a later tick, once the end frame has gone.
  c.readFor(60);
}

}  // namespace

TEST(SimBootstrap, LoadsTheProgramAndItsDialogueWritesTheFlash) {
  ScratchFolder dir;
  SimProcess sim({"--bootstrap", "--erase-ms", "100", "--once", "--dump", dir.File("f.bin"),
                  "--transcript", dir.File("t.txt")});
  Client c(sim.Path(), 19200);
  EXPECT_EQ(throughLoaders(c), "\xD5\"U");

  // The first frames, byte by byte, as the uploader builds them from its image.
  auto frames = imageFrames(kAllTexts);
  EXPECT_EQ(checkOf(frames[0]), 0xFC);
  EXPECT_EQ(checkOf(frames[2]), 0xF4);
  sendFrames(c, frames);
  EXPECT_EQ(c.readFor(150), "") << "the end frame is not answered";

  c.setBaud(38400);
  c.send("U");
  EXPECT_EQ(c.readUntil("\r"), "READY\r");
  c.send("GO\r");
  EXPECT_EQ(c.readUntil("SEND BLOCK\r"), "ERASING...\rERASE COMPLETE\rSEND BLOCK\r");
  std::string image(4 * 1024 * 1024, '\xFF');
  for (uint32_t page : {0u, 1u, 8u, 49u}) {
    std::string data = pattern(128, static_cast<uint8_t>(page));
    image.replace(page * 128, 128, data);
    c.send(record(page * 128, data));
    EXPECT_EQ(c.readUntil("\r"), "SEND BLOCK\r");
  }
  c.send("UPLOAD DONE\r");
  EXPECT_EQ(c.readUntil("\r"), "THANK YOU\r");
  ASSERT_EQ(sim.Wait(), 0);
  EXPECT_TRUE(readFile(dir.File("f.bin")) == image);
  // It reports its flash when the dialogue is over.
  EXPECT_NE(sim.Output().find("flash Boot:" + hex4(sumsOf(image).boot) +
                              " Main:0000 FPGA:0000 records=4"),
            std::string::npos)
      << sim.Output();
  auto s = sim.Summary();
  EXPECT_EQ(s["zero_bytes"], "1");
  EXPECT_EQ(s["lines"], std::to_string(frames.size() + 1));
  EXPECT_EQ(s["frames"], std::to_string(frames.size() + 1));
  EXPECT_EQ(s["bad_checks"], "0");
}

TEST(SimBootstrap, TheLoadedProgramSaysOnlyTheTextsItWasGiven) {
  {
    // Without READY among its texts the program never answers the handshake.
    std::string texts = kAllTexts;
    texts.erase(texts.find("READY\r"), 6);
    SimProcess sim({"--bootstrap"});
    Client c(sim.Path(), 19200);
    throughLoaders(c);
    sendFrames(c, imageFrames(texts));
    c.setBaud(38400);
    for (int i = 0; i < 5; ++i) c.send("U");
    EXPECT_EQ(c.readFor(200), "");
  }
  {
    // Texts out of place (not at 080000) are not found: the program stays silent.
    SimProcess sim({"--bootstrap"});
    Client c(sim.Path(), 19200);
    throughLoaders(c);
    std::vector<std::string> frames = {upperFrame(0), dataFrame(0x0000, "READY\rGO\r")};
    sendFrames(c, frames);
    c.setBaud(38400);
    c.send("U");
    EXPECT_EQ(c.readFor(200), "");
  }
}

TEST(SimBootstrap, IdentificationAndLoaderFaults) {
  {
    SimProcess sim(
        {"--bootstrap", "--id-byte", "B5", "--loader1-reply", "41", "--loader2-reply", "2A55"});
    Client c(sim.Path(), 19200);
    c.send(std::string(1, '\0'));
    EXPECT_EQ(c.readBytes(1), "\xB5");
    c.send(pattern(32, 1));
    EXPECT_EQ(c.readBytes(1), "A");
    c.send(pattern(172, 2));
    EXPECT_EQ(c.readBytes(2), "*U");
  }
  {
    SimProcess sim(
        {"--bootstrap", "--id-byte", "none", "--loader1-reply", "none", "--loader2-reply", "none"});
    Client c(sim.Path(), 19200);
    c.send(std::string(1, '\0'));
    EXPECT_EQ(c.readFor(150), "");
    c.send(pattern(32, 1));
    EXPECT_EQ(c.readFor(150), "");
    c.send(pattern(172, 2));
    EXPECT_EQ(c.readFor(150), "");
    c.send(upperFrame(0));  // the loader still serves lines
    EXPECT_EQ(c.readBytes(1), "\xFC");
  }
  {
    // A second zero byte after the identification is Loader 1's first byte, as on the chip.
    SimProcess sim({"--bootstrap"});
    Client c(sim.Path(), 19200);
    c.send(std::string(1, '\0'));
    EXPECT_EQ(c.readBytes(1), "\xD5");
    c.send(std::string(1, '\0'));
    c.send(pattern(31, 1));
    EXPECT_EQ(c.readBytes(1), "\"");
  }
  {
    // Noise at power-up lacks an identification byte; a wrong speed gets garbage.
    SimProcess sim({"--bootstrap", "--power-noise", "8"});
    Client c(sim.Path(), 38400);
    std::string noise = c.readBytes(8);
    EXPECT_EQ(noise.size(), 8u);
    EXPECT_EQ(noise.find('\xD5'), std::string::npos);
    c.send(std::string(1, '\0'));
    std::string got = c.readFor(150);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(got[0], '\xD5');
    c.setBaud(19200);
    c.send(std::string(1, '\0'));
    EXPECT_EQ(c.readBytes(1), "\xD5");
  }
}

TEST(SimBootstrap, WrongCheckBytesForChosenLinesAndRandomDamage) {
  {
    SimProcess sim({"--bootstrap", "--bad-check-lines", "2,3:all"});
    Client c(sim.Path(), 19200);
    throughLoaders(c);
    auto frames = imageFrames(kAllTexts);
    c.send(frames[0]);
    EXPECT_EQ(static_cast<uint8_t>(c.readBytes(1)[0]), checkOf(frames[0]));
    c.send(frames[1]);
    EXPECT_NE(static_cast<uint8_t>(c.readBytes(1)[0]), checkOf(frames[1]));  // line 2, once
    c.send(frames[1]);
    EXPECT_EQ(static_cast<uint8_t>(c.readBytes(1)[0]), checkOf(frames[1]));
    for (int i = 0; i < 5; ++i) {  // line 3, every time
      c.send(frames[2]);
      EXPECT_NE(static_cast<uint8_t>(c.readBytes(1)[0]), checkOf(frames[2]));
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(sim.Summary()["bad_checks"], "6");
    EXPECT_EQ(sim.Summary()["lines"], "3");
    EXPECT_EQ(sim.Summary()["frames"], "8");
  }
  auto damaged = [](uint32_t seed) {
    SimProcess sim({"--bootstrap", "--corrupt-lines", "0.3", "--seed", std::to_string(seed)});
    Client c(sim.Path(), 19200);
    throughLoaders(c);
    std::string pattern;  // which sends were answered right
    for (const auto& f : imageFrames(kAllTexts)) {
      for (int tries = 0; tries < 20; ++tries) {
        c.send(f);
        bool right = static_cast<uint8_t>(c.readBytes(1)[0]) == checkOf(f);
        pattern += right ? '+' : '-';
        if (right) break;
      }
    }
    c.send(std::string("\x01", 1));
    c.readFor(50);
    c.setBaud(38400);
    c.send("U");  // the damaged lines were sent again, so every text arrived whole
    EXPECT_EQ(c.readUntil("\r"), "READY\r");
    return pattern;
  };
  std::string a = damaged(3);
  EXPECT_NE(a.find('-'), std::string::npos);
  EXPECT_EQ(a, damaged(3));
}

TEST(SimBootstrap, AWrongCheckByteAskedForTheUnansweredEndFrameIsSaidNotDropped) {
  SimProcess sim({"--bootstrap", "--bad-check-lines", "2:all"});
  Client c(sim.Path(), 19200);
  throughLoaders(c);
  sendFrames(c, {upperFrame(0)});  // line 1, then the end frame as line 2
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_NE(sim.Errors().find("--bad-check-lines names line 2, the end frame"), std::string::npos)
      << sim.Errors();
}
