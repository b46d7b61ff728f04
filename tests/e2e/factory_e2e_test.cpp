// Factory Bootstrap Upload through the real kvuflash-cli against rq410-sim --bootstrap on a
// pseudo-terminal: a whole run that leaves the flash code's pages in the unit's flash, and the
// bootstrap's faults, each ending with its history line and exit status.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "support/sim_process.h"

namespace {

using namespace e2e;

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
  double seconds = 0;
};

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

// What the unit's flash should hold: the carried flash code placed by segment and offset, read
// here without the uploader's converter; only its first 64 KB are uploaded.
Bytes ExpectedFlash() {
  Bytes flash(kFlashSize, 0xFF);
  std::istringstream in(ReadText(std::string(KV_SOURCE_DIR) + "/resources/factory/flashcode.hex"));
  std::size_t segment = 0;
  for (std::string line; std::getline(in, line);) {
    const int count = std::stoi(line.substr(1, 2), nullptr, 16);
    const std::size_t offset = std::stoul(line.substr(3, 4), nullptr, 16);
    const std::string type = line.substr(7, 2);
    if (type == "02") segment = std::stoul(line.substr(9, 4), nullptr, 16) * 16;
    if (type != "00") continue;
    for (int i = 0; i < count; ++i) {
      const std::size_t at = segment + offset + static_cast<std::size_t>(i);
      if (at < 65536)
        flash[at] = static_cast<std::uint8_t>(std::stoi(line.substr(9 + 2 * i, 2), nullptr, 16));
    }
  }
  return flash;
}

class FactoryEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_.Path() / "prog"); }

  CliResult Factory(const Sim& sim, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = {KV_CLI_PATH, "--dir",  dir_.File("prog"),
                                     "factory",   "--port", "1"};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto start = std::chrono::steady_clock::now();
    // Standard input is not a terminal: "&Proceed" is pressed at once.
    Child cli(argv, {"KVUFLASH_PORTS=1=" + sim.Link()}, dir_.File("cli.out"), dir_.File("cli.err"));
    CliResult r;
    r.status = cli.Wait(120000);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.out = ReadText(dir_.File("cli.out"));
    r.err = ReadText(dir_.File("cli.err"));
    return r;
  }

  TempFolder dir_{"kv-factory-e2e"};
};

TEST_F(FactoryEndToEnd, WholeRunLeavesTheFlashCodeInTheUnitAndNoTemporaryFiles) {
  Sim sim(KV_SIM_PATH, dir_, "unit", {"--bootstrap"});
  const CliResult r = Factory(sim, {"--capture", dir_.File("capture.txt")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::cout << "[ figures  ] factory run through kvuflash-cli: " << r.seconds << " s\n";
  RecordProperty("factory_run_seconds", std::to_string(r.seconds));
  ASSERT_EQ(sim.Stop(), 0);

  const Bytes flash = sim.Flash();
  EXPECT_EQ(FirstDifferentPage(flash, ExpectedFlash()), -1);
  EXPECT_EQ(UsedPages(flash).size(), 49u);
  EXPECT_EQ(sim.Summary()["lines"], "209");
  EXPECT_EQ(sim.Summary()["records"], "49");
  EXPECT_EQ(sim.Summary()["boot"], "1503");

  for (const char* line :
       {"FUpHist: Port is open on Com 1 at 19200 baud\n", "FUpHist: Loader 2 complete\n",
        "FUpHist: Sending line 209...", "FUpHist: Changing baudrate to 38400...\n",
        "FUpHist: Checksum is 1503\n", "FUpHist: Sending block 49 of 49...",
        "FUpHist: Factory Upload completed.\n",
        "FUpHist: Time taken: ", "kvuflash-cli: Factory upload complete in "}) {
    EXPECT_TRUE(Has(r.out, line)) << line << "\n" << r.out;
  }
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_FALSE(fs::exists(dir_.File("prog/Reserved.KVU")));
  EXPECT_FALSE(fs::exists(dir_.File("prog/Reserved.BIN")));
  const std::string capture = ReadText(dir_.File("capture.txt"));
  EXPECT_TRUE(Has(capture, "[out]char 0\n"));
  EXPECT_EQ(Count(capture, "[mem]:"), 209u);
  EXPECT_EQ(Count(capture, "[fsh]:"), 400u);
}

TEST_F(FactoryEndToEnd, BootstrapFaultsEndWithTheirHistoryLineAndExitStatus) {
  struct Case {
    std::vector<std::string> fault;
    std::string line;
    int status;
  };
  const Case cases[] = {
      {{"--id-byte", "41"}, "Got C161 response: A", 11},
      {{"--id-byte", "none"}, "Timed out waiting for response to initial character", 10},
      {{"--loader1-reply", "41"}, "Problem - bad checksum response to Loader1", 13},
      {{"--bad-check-lines", "5:all"}, "Problem - got bad checksum 5 times, bad cable?", 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> simArgs = {"--bootstrap"};
    simArgs.insert(simArgs.end(), c.fault.begin(), c.fault.end());
    Sim sim(KV_SIM_PATH, dir_, "unit", simArgs);
    const CliResult r = Factory(sim);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "FUpHist: " + c.line + "\n")) << r.out;
    EXPECT_TRUE(Has(r.err, "kvuflash-cli: The factory upload stopped: ")) << r.err;
    EXPECT_FALSE(Has(r.out, "Bootstrap Upload complete"));
    sim.Stop();
  }
}

}  // namespace
