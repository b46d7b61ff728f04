// The long soak: one run of the program's logic (MainForm with the real serial port and the
// real 60 ms tick timer, as the window runs it) doing many Software Uploads in a row through
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

#include "components/clock.h"
#include "components/main_thread.h"
#include "components/serial.h"
#include "components/super_timer.h"
#include "form/main_form.h"
#include "support/headless_ui.h"
#include "support/sim_process.h"

#ifndef KV_SIM_PATH
#define KV_SIM_PATH "rq410-sim"
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTickMs = 60;

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

  StdMainThread mainThread;
  TSerial serial(mainThread);
  SystemClock clock;
  HeadlessUi ui(mainThread, "soak");
  MainForm form(serial, clock, ui, dir.Path().string() + "/");
  TSuperTimer timer(mainThread);
  serial.ProgramDir = form.Core.ProgramDir;
  serial.SetDataBits(d8bit);
  serial.SetCheckParity(false);
  serial.SetMessageEndChar(13);
  serial.OnRxData = [&form](TComponent*) { form.ReadMessage(); };
  serial.ShowErrorDialog = [&ui](const std::string& text) { ui.ShowMessage(text); };
  timer.SetInterval(kTickMs);
  timer.SetThreadPriority(tpTimeCritical);
  timer.OnTimer = [&form](TComponent*) { form.Timer1Timer(); };
  form.FormActivate();
  timer.SetEnabled(true);

  const auto runUntil = [&](const std::function<bool()>& done, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!done() && Clock::now() < end) mainThread.RunPendingFor(std::chrono::milliseconds(20));
    return done();
  };
  const auto resting = [&] { return IsRestingStep(form.S().Step); };
  const auto fail = [&](const std::string& what) {
    std::fprintf(stderr, "soak: %s (outcome: %s)\n", what.c_str(), OutcomeName(form.S().Outcome));
    timer.SetEnabled(false);
    mainThread.Shutdown();
    return 1;
  };

  // Software Uploads: the first by the whole road, the rest through "Repeat Upload".
  form.W().SelectText(Ctl::CommPortBox, "1");
  form.Btn2UploadClick();
  if (!runUntil(resting, 10) || form.S().Phase != RunPhase::ChoosingFile)
    return fail("the port did not open");
  ui.Chosen = dir.File("soak.hex");
  form.BtnChooseFileClick();
  if (!runUntil(resting, 30) || form.S().Phase != RunPhase::Ready)
    return fail("the file was not taken");
  Usage first{};
  const auto start = Clock::now();
  for (int i = 0; i < uploads; ++i) {
    if (i > 0) {
      form.BtnRepeatUploadClick();
      if (!runUntil(resting, 10) || form.S().Phase != RunPhase::Ready)
        return fail("Repeat Upload did not reach the ready screen");
    }
    form.BtnStartRunClick();
    if (!runUntil([&] { return resting() && form.S().Phase == RunPhase::Ended; }, 120) ||
        form.S().Outcome != RunOutcome::Completed)
      return fail("upload " + std::to_string(i + 1) + " did not complete");
    if (i == 0) {
      first = Measure();
      Print("after the first upload", first);
    }
  }
  const double uploadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  Print(("after " + std::to_string(uploads) + " uploads").c_str(), Measure());

  // Factory Bootstrap Uploads on the second port.
  const auto factoryStart = Clock::now();
  for (int i = 0; i < factoryRuns; ++i) {
    form.BtnBackToStartClick();
    form.W().SelectText(Ctl::CommPortBox, "2");
    form.BtnBootClick();
    if (!runUntil([&] { return form.S().Phase == RunPhase::FactoryReady && resting(); }, 10))
      return fail("factory run " + std::to_string(i + 1) + ": the port did not open");
    form.BtnGoOnClick();
    if (!runUntil([&] { return resting() && form.S().Phase == RunPhase::Ended; }, 120) ||
        form.S().Outcome != RunOutcome::Completed)
      return fail("factory run " + std::to_string(i + 1) + " did not complete");
  }
  const double factorySeconds = std::chrono::duration<double>(Clock::now() - factoryStart).count();
  const Usage afterFactory = Measure();
  Print(("after " + std::to_string(factoryRuns) + " factory runs").c_str(), afterFactory);

  // Idle with the timer ticking.
  form.BtnBackToStartClick();
  const Usage idleStart = Measure();
  runUntil([] { return false; }, idleMinutes * 60);
  const Usage idleEnd = Measure();
  Print(("after " + std::to_string(idleMinutes) + " minutes idle").c_str(), idleEnd);

  timer.SetEnabled(false);
  mainThread.Shutdown();

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
