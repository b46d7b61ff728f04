// Factory Bootstrap Upload through the real kvuflash-cli against rq410-sim --bootstrap on a
// pseudo-terminal: a whole run that leaves the flash code's pages in the unit's flash, and the
// bootstrap's faults, each ending with its history line and exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

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
    auto cli = StartFactory(sim, args, "cli");
    return Finish(*cli, "cli");
  }
  // The same, left running with its program folder at `dir` (the scratch folder when empty)
  // and `before` ahead of the program (a wrapper such as prlimit or setpriv); its output goes
  // to TAG.out and TAG.err.
  std::unique_ptr<Child> StartFactory(const Sim& sim, const std::vector<std::string>& args,
                                      const std::string& tag, const std::string& dir = {},
                                      const std::vector<std::string>& before = {}) {
    std::vector<std::string> argv = before;
    argv.insert(argv.end(), {KV_CLI_PATH, "--dir", dir.empty() ? dir_.Path().string() : dir,
                             "factory", "--port", "1"});
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Child>(argv, std::vector<std::string>{"KVUFLASH_PORTS=1=" + sim.Link()},
                                   dir_.File(tag + ".out"), dir_.File(tag + ".err"));
  }
  CliResult Finish(Child& cli, const std::string& tag) {
    CliResult r;
    r.status = cli.Wait(120000);
    r.out = ReadText(dir_.File(tag + ".out"));
    r.err = ReadText(dir_.File(tag + ".err"));
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
  for (const char* line : {"bootstrap lines 209/209", "Checksum is 1503\n",
                           "Factory Upload completed.\n", "Time taken: "})
    EXPECT_TRUE(Has(r.out, line)) << line << "\n" << r.out;
  EXPECT_FALSE(NamesAControl(r.out + r.err)) << r.out << r.err;
  EXPECT_FALSE(Has(r.out, "Click on")) << r.out;
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
    std::string step;  // what the last message tells the user to look at
  };
  const Case cases[] = {
      {{"--id-byte", "41"}, "Got C161 response: A", 13, "check the port, the cable"},
      {{"--id-byte", "none"},
       "Timed out waiting for response to initial character",
       12,
       "jumper JP2 is fitted"},
      {{"--loader1-reply", "41"}, "Problem - bad checksum response to Loader1", 15, "the cable"},
      {{"--loader2-reply", "none"},
       "Timed out waiting for response to Loader 2",
       14,
       "switch the unit off and on"},
      {{"--bad-check-lines", "5:all"},
       "Problem - got bad checksum 5 times, bad cable?",
       16,
       "check the cable"},
  };
  // All at once, each unit with its own command and folder: the silent ones wait out their
  // budgets side by side.
  std::vector<std::unique_ptr<Sim>> sims;
  std::vector<std::unique_ptr<Child>> clis;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string tag = "case" + std::to_string(i);
    std::vector<std::string> simArgs = {"--bootstrap"};
    simArgs.insert(simArgs.end(), cases[i].fault.begin(), cases[i].fault.end());
    sims.push_back(std::make_unique<Sim>(KV_SIM_PATH, dir_, tag, simArgs));
    fs::create_directories(dir_.Path() / tag);
    clis.push_back(StartFactory(*sims[i], {}, tag, dir_.File(tag)));
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.line);
    const CliResult r = Finish(*clis[i], "case" + std::to_string(i));
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, c.line + "\n")) << r.out;
    EXPECT_TRUE(Has(r.err, c.step) && Has(r.err, "run the factory upload again.")) << r.err;
    EXPECT_FALSE(Has(r.out, "Click on")) << r.out;
    sims[i]->Stop();
  }
}

TEST_F(FactoryEndToEnd, UnitThatVanishesAmongTheBootstrapLinesEndsTheRunAtOnceNamingThePort) {
  Sim sim(KV_SIM_PATH, dir_, "unit", {"--bootstrap"});
  auto cli = StartFactory(sim, {"--capture", dir_.File("capture.txt")}, "gone");
  // Some 20 lines into the bootstrap program the unit's end of the line goes.
  const auto until = Child::Clock::now() + std::chrono::seconds(30);
  while (Count(ReadText(dir_.File("capture.txt")), "[mem]:") < 20 && Child::Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  sim.Signal(SIGKILL);
  const auto gone = Child::Clock::now();
  const CliResult r = Finish(*cli, "gone");
  EXPECT_LT(std::chrono::duration<double>(Child::Clock::now() - gone).count(), 5.0);
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  // The run's lines say it, once.
  const std::string line = "The run has stopped: Com 1 (" + sim.Link() + ") is no longer there\n";
  EXPECT_EQ(Count(r.out, line), 1u) << r.out;
  EXPECT_TRUE(Has(r.err, "COM1 (" + sim.Link() + ") is no longer there: ")) << r.err;
  const std::string capture = ReadText(dir_.File("capture.txt"));
  ASSERT_FALSE(capture.empty());
  EXPECT_EQ(capture.back(), '\n');
  EXPECT_FALSE(fs::exists(dir_.File("Reserved.KVU")) || fs::exists(dir_.File("Reserved.BIN")));
}

TEST_F(FactoryEndToEnd, ReservedFilesThatCannotBeWrittenStopTheRunNamingThemAndLeaveNone) {
  // A full disk (a file-size limit stands for it) shows only after the 13-second bootstrap; a
  // folder the user may not write (root may write any, so the command then runs as the user
  // nobody) is refused before the first byte.
  fs::create_directories(dir_.Path() / "full");
  fs::create_directories(dir_.Path() / "readonly");
  std::vector<std::string> unprivileged;
  Sim full(KV_SIM_PATH, dir_, "full", {"--bootstrap"});
  Sim readOnly(KV_SIM_PATH, dir_, "readonly", {"--bootstrap"});
  if (::geteuid() == 0) {
    unprivileged = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    fs::permissions(dir_.Path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    fs::permissions(fs::canonical(readOnly.Link()), fs::perms::all);
  }
  fs::permissions(dir_.Path() / "readonly", fs::perms::owner_write, fs::perm_options::remove);
  auto fullCli = StartFactory(full, {}, "full", dir_.File("full"), {"prlimit", "--fsize=30000"});
  auto readOnlyCli = StartFactory(readOnly, {}, "readonly", dir_.File("readonly"), unprivileged);

  const CliResult refused = Finish(*readOnlyCli, "readonly");
  EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
  EXPECT_TRUE(Has(refused.err, "File access denied")) << refused.err;
  EXPECT_TRUE(Has(refused.err, "nothing was sent")) << refused.err;
  EXPECT_TRUE(readOnly.Traffic("in").empty());

  const CliResult r = Finish(*fullCli, "full");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, dir_.File("full/Reserved.BIN") + ": Disk full")) << r.err;
  EXPECT_TRUE(Has(r.out, "Bootstrap Upload complete\n")) << r.out;
  EXPECT_FALSE(Has(r.out, "Got U,READY")) << r.out;
  for (const char* tag : {"full", "readonly"}) {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir_.Path() / tag))
      left.push_back(entry.path().filename().string());
    EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"commsUP.txt"}) << left.front();
  }
}

}  // namespace
