// Factory Bootstrap Upload through the real kvuflash-cli against rq410-sim --bootstrap on a
// pseudo-terminal: a whole run that leaves the flash code's pages in the unit's flash, and the
// bootstrap's faults, each ending with its history line and exit status.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

#include "support/sim_process.h"

namespace {

using namespace e2e;

struct CliResult {
  int status = -1;
  std::string out, err;
};

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

class FactoryEndToEnd : public ::testing::Test {
 protected:
  // kvuflash-cli factory on COM 1; standard input is no terminal, so it proceeds at once.
  CliResult Factory(const Sim& sim, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = {KV_CLI_PATH, "--dir",  dir_.Path().string(),
                                     "factory",   "--port", "1"};
    argv.insert(argv.end(), args.begin(), args.end());
    Child cli(argv, {"KVUFLASH_PORTS=1=" + sim.Link()}, dir_.File("cli.out"), dir_.File("cli.err"));
    CliResult r;
    r.status = cli.Wait(120000);
    r.out = ReadText(dir_.File("cli.out"));
    r.err = ReadText(dir_.File("cli.err"));
    return r;
  }
  TempFolder dir_{"kv-factory-e2e"};
};

TEST_F(FactoryEndToEnd, WholeRunLeavesTheFlashCodeInTheUnitAndNoTemporaryFiles) {
  Sim sim(KV_SIM_PATH, dir_, "unit", {"--bootstrap"});
  const auto start = std::chrono::steady_clock::now();
  const CliResult r = Factory(sim, {"--capture", dir_.File("capture.txt")});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[ figures  ] factory run through kvuflash-cli: " << seconds << " s\n";
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(sim.Stop(), 0);

  // Pages 0 to 49 but the empty page 7, summed by the unit itself.
  std::vector<std::size_t> pages;
  for (std::size_t p = 0; p < 50; ++p)
    if (p != 7) pages.push_back(p);
  EXPECT_EQ(UsedPages(sim.Flash()), pages);
  EXPECT_EQ(sim.Summary()["boot"], "1503");
  EXPECT_EQ(sim.Summary()["lines"], "209");
  for (const char* line : {"FUpHist: Sending line 209...", "FUpHist: Checksum is 1503\n",
                           "FUpHist: Factory Upload completed.\n", "FUpHist: Time taken: "})
    EXPECT_TRUE(Has(r.out, line)) << line << "\n" << r.out;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_FALSE(fs::exists(dir_.File("Reserved.KVU")) || fs::exists(dir_.File("Reserved.BIN")));
  const std::string capture = ReadText(dir_.File("capture.txt"));
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
      {{"--id-byte", "41"}, "Got C161 response: A", 13},
      {{"--id-byte", "none"}, "Timed out waiting for response to initial character", 12},
      {{"--loader1-reply", "41"}, "Problem - bad checksum response to Loader1", 15},
      {{"--bad-check-lines", "5:all"}, "Problem - got bad checksum 5 times, bad cable?", 16},
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
    sim.Stop();
  }
}

}  // namespace
