// The long soak: one run of the program's logic (the station: MainForm with the real serial
// port and the real tick timer, as the window runs it) doing many Software Uploads in a row through
// "Repeat Upload", then many Factory Bootstrap Uploads, then sitting idle with the timer
// ticking. Prints open descriptors, threads and resident memory after the first upload and at
// the end of each part, and the processor time while idle: nothing may grow with the number of
// runs, and idling must cost next to nothing. Fails (exit 1) only when a run does not complete.
//
//   soak [--uploads N] [--records R] [--factory N] [--idle-minutes M]   (50, 30, 10, 20)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "components/main_thread.h"
#include "form/station.h"
#include "support/headless_ui.h"
#include "support/sim_process.h"

#ifndef KV_SIM_PATH
#define KV_SIM_PATH "rq410-sim"
#endif

namespace {

using Clock = std::chrono::steady_clock;

struct Usage {
  int descriptors = 0;
  int threads = 0;
  long rssKb = 0;
  double cpuSeconds = 0;
};

int CountEntries(const char* folder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    (void)e;
    ++n;
  }
  return n;
}

Usage Measure() {
  Usage u;
  u.descriptors = CountEntries("/proc/self/fd");
  u.threads = CountEntries("/proc/self/task");
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) u.rssKb = std::strtol(line.c_str() + 6, nullptr, 10);
  }
  rusage r{};
  ::getrusage(RUSAGE_SELF, &r);
  u.cpuSeconds = static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
                 static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
  return u;
}

void Print(const char* when, const Usage& u) {
  std::printf("%-34s descriptors %3d  threads %2d  resident %6ld kB  cpu %7.2f s\n", when,
              u.descriptors, u.threads, u.rssKb, u.cpuSeconds);
  std::fflush(stdout);
}

int Arg(int argc, char** argv, const std::string& name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == name) return std::atoi(argv[i + 1]);
  }
  return fallback;
}

// The program's logic as the window runs it, with a main loop of the standard hand-over.
class Rig {
 public:
  explicit Rig(const std::string& programDir)
      : ui_(mainThread_, "soak"), station_(mainThread_, ui_, programDir) {
    station_.Activate();
    station_.StartTicks();
  }
  ~Rig() {
    station_.Stop();
    mainThread_.Shutdown();
  }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  MainForm& Form() { return station_.Form(); }
  HeadlessUi& Ui() { return ui_; }
  bool RunUntil(const std::function<bool()>& done, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!done() && Clock::now() < end) mainThread_.RunPendingFor(std::chrono::milliseconds(20));
    return done();
  }
  bool Resting() { return IsRestingStep(Form().S().Step); }
  bool Ended(int seconds) {
    return RunUntil([&] { return Resting() && Form().S().Phase == RunPhase::Ended; }, seconds) &&
           Form().S().Outcome == RunOutcome::Completed;
  }
  // Says why the soak stops; the exit status.
  int Fail(const std::string& what) {
    std::fprintf(stderr, "soak: %s (outcome: %s)\n", what.c_str(), OutcomeName(Form().S().Outcome));
    return 1;
  }

 private:
  StdMainThread mainThread_;
  HeadlessUi ui_;
  Station station_;
};

// Software Uploads of `file` on port 1: the first by the whole road, the rest through "Repeat
// Upload". Returns the usage after the first, or the exit status of a failure.
int SoftwareUploads(Rig& rig, const std::string& file, int uploads, Usage& first) {
  MainForm& form = rig.Form();
  const auto resting = [&] { return rig.Resting(); };
  form.W().SelectText(Ctl::CommPortBox, "1");
  form.Btn2UploadClick();
  if (!rig.RunUntil(resting, 10) || form.S().Phase != RunPhase::ChoosingFile)
    return rig.Fail("the port did not open");
  rig.Ui().Chosen = file;
  form.BtnChooseFileClick();
  if (!rig.RunUntil(resting, 30) || form.S().Phase != RunPhase::Ready)
    return rig.Fail("the file was not taken");
  for (int i = 0; i < uploads; ++i) {
    if (i > 0) {
      form.BtnRepeatUploadClick();
      if (!rig.RunUntil(resting, 10) || form.S().Phase != RunPhase::Ready)
        return rig.Fail("Repeat Upload did not reach the ready screen");
    }
    form.BtnStartRunClick();
    if (!rig.Ended(120)) return rig.Fail("upload " + std::to_string(i + 1) + " did not complete");
    if (i == 0) {
      first = Measure();
      Print("after the first upload", first);
    }
  }
  return 0;
}

// Factory Bootstrap Uploads on port 2.
int FactoryRuns(Rig& rig, int runs) {
  MainForm& form = rig.Form();
  for (int i = 0; i < runs; ++i) {
    form.BtnBackToStartClick();
    form.W().SelectText(Ctl::CommPortBox, "2");
    form.BtnBootClick();
    if (!rig.RunUntil([&] { return form.S().Phase == RunPhase::FactoryReady && rig.Resting(); },
                      10))
      return rig.Fail("factory run " + std::to_string(i + 1) + ": the port did not open");
    form.BtnGoOnClick();
    if (!rig.Ended(120))
      return rig.Fail("factory run " + std::to_string(i + 1) + " did not complete");
  }
  return 0;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int uploads = Arg(argc, argv, "--uploads", 50);
  const int records = Arg(argc, argv, "--records", 30);
  const int factoryRuns = Arg(argc, argv, "--factory", 10);
  const int idleMinutes = Arg(argc, argv, "--idle-minutes", 20);

  e2e::TempFolder dir("kv-soak");
  const e2e::Bytes image =
      e2e::MakeImage(e2e::SpreadPages(static_cast<std::size_t>(records), 0, 7), 9);
  e2e::WriteText(dir.File("soak.hex"), e2e::IntelHex(image));
  e2e::Sim unit(KV_SIM_PATH, dir, "unit", {"--erase-ms", "100", "--reboot-ms", "100"});
  e2e::Sim chip(KV_SIM_PATH, dir, "chip", {"--bootstrap", "--erase-ms", "100"});
  ::setenv("KVUFLASH_PORTS", ("1=" + unit.Link() + ";2=" + chip.Link()).c_str(), 1);

  Rig rig(dir.Path().string() + "/");
  Usage first{};
  const auto start = Clock::now();
  if (const int failed = SoftwareUploads(rig, dir.File("soak.hex"), uploads, first)) return failed;
  const double uploadSeconds = SecondsSince(start);
  Print(("after " + std::to_string(uploads) + " uploads").c_str(), Measure());

  const auto factoryStart = Clock::now();
  if (const int failed = FactoryRuns(rig, factoryRuns)) return failed;
  const double factorySeconds = SecondsSince(factoryStart);
  const Usage afterFactory = Measure();
  Print(("after " + std::to_string(factoryRuns) + " factory runs").c_str(), afterFactory);

  // Idle with the timer ticking.
  rig.Form().BtnBackToStartClick();
  const Usage idleStart = Measure();
  rig.RunUntil([] { return false; }, idleMinutes * 60);
  const Usage idleEnd = Measure();
  Print(("after " + std::to_string(idleMinutes) + " minutes idle").c_str(), idleEnd);

  std::printf("\n%d uploads of %d records in %.0f s, %d factory runs in %.0f s\n", uploads, records,
              uploadSeconds, factoryRuns, factorySeconds);
  std::printf(
      "growth from the first upload to the end of the runs: descriptors %+d, threads %+d, "
      "resident %+ld kB\n",
      afterFactory.descriptors - first.descriptors, afterFactory.threads - first.threads,
      afterFactory.rssKb - first.rssKb);
  if (idleMinutes > 0) {
    const double seconds = idleMinutes * 60.0;
    std::printf("idle: %.3f %% of one core, resident %+ld kB\n",
                100.0 * (idleEnd.cpuSeconds - idleStart.cpuSeconds) / seconds,
                idleEnd.rssKb - idleStart.rssKb);
  }
  return 0;
}
