// Upload speed against rq410-sim: the station (the window's logic with the real serial port and
// the real tick timer) in this process, a Software Upload of N records (default 600) at
// 38400 and at 57600 baud, one record per tick as the window sends them and on request (what
// kvuflash-cli upload --fast does). Prints milliseconds per record beside the tick bound (one
// record per tick) and the line's own limit (a 135-byte record out and "SEND BLOCK" + CR
// back, 10 bits a byte, plus the unit's programming time when given), and the lost ticks:
// firings that came more than 1.5 intervals after the one before. Arguments after the number of
// records go to rq410-sim: --no-line-time to see memory speed, --program-ms N for a unit that
// takes time to write each record, --latency-ms N for a USB adapter's latency timer (the
// unit's answers reach the uploader in batches every N ms; the line limit leaves it out).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/main_thread.h"
#include "form/station.h"
#include "sequencer/ticks.h"
#include "support/headless_ui.h"
#include "support/sim_process.h"

#ifndef KV_SIM_PATH
#define KV_SIM_PATH "rq410-sim"
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReplyBytes = 11;  // "SEND BLOCK" + CR

struct Result {
  bool ok = false;
  int records = 0;
  double msPerRecord = 0;
  double firstToLastS = 0;
  int ticks = 0;
  int lostTicks = 0;
  double maxGapMs = 0;
  double meanGapMs = 0;
};

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Ticks from the first record to the last, where every tick should carry one record.
void TickFigures(const std::vector<Clock::time_point>& ticks,
                 const std::vector<Clock::time_point>& sent, Result& r) {
  r.records = static_cast<int>(sent.size());
  if (sent.size() >= 2) {
    r.firstToLastS = Ms(sent.back() - sent.front()) / 1000.0;
    // From the second record on: on a line faster than its speed (--no-line-time) the answer
    // to the first record is held back for a second before records go as fast as they come.
    const std::size_t from = sent.size() >= 3 ? 1 : 0;
    r.msPerRecord = Ms(sent.back() - sent[from]) / static_cast<double>(sent.size() - 1 - from);
  }
  std::vector<double> gaps;
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    if (!sent.empty() && (ticks[i] < sent.front() || ticks[i - 1] > sent.back())) continue;
    gaps.push_back(Ms(ticks[i] - ticks[i - 1]));
  }
  r.ticks = static_cast<int>(gaps.size());
  for (double g : gaps) {
    if (g > 1.5 * kTickMs) ++r.lostTicks;
    r.maxGapMs = std::max(r.maxGapMs, g);
    r.meanGapMs += g;
  }
  if (!gaps.empty()) r.meanGapMs /= static_cast<double>(gaps.size());
}

// One upload of bench.kvu in the current folder through the station, timing its ticks and
// records.
void UploadThrough(const std::string& programDir, int baud, bool onRequest, int records,
                   Result& r) {
  StdMainThread mainThread;
  HeadlessUi ui(mainThread, "bench_upload");
  Station station(mainThread, ui, programDir);
  MainForm& form = station.Form();
  std::vector<Clock::time_point> ticks;
  std::vector<Clock::time_point> sent;
  bool recording = false;
  station.SetRecordsOnRequest(onRequest);
  station.SetTickWatcher([&] {
    if (recording) ticks.push_back(Clock::now());
  });
  station.Activate();
  station.SetProgressListener([&](const RunProgress& p) {
    if (p.phase == RunPhase::Records && p.recordsSent > 0) sent.push_back(Clock::now());
  });
  station.StartTicks();

  const auto runUntil = [&](auto done, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!done() && Clock::now() < end) mainThread.RunPendingFor(std::chrono::milliseconds(20));
    return done();
  };
  const auto idle = [&] { return IsRestingStep(form.S().Step); };

  station.Model().SelectText(Ctl::CommPortBox, "1");
  station.Model().SelectText(Ctl::BaudRateBox, std::to_string(baud));
  form.Btn2UploadClick();
  if (runUntil(idle, 10) && form.S().Phase == RunPhase::ChoosingFile) {
    ui.Chosen = "bench.kvu";
    form.BtnChooseFileClick();
    if (runUntil(idle, 30) && form.S().Phase == RunPhase::Ready) {
      recording = true;
      form.BtnStartRunClick();
      runUntil(idle, 60 + records / 5);
      recording = false;
      r.ok = form.S().Outcome == RunOutcome::Completed && form.S().BlocksSent == records;
      if (!r.ok)
        std::fprintf(stderr, "bench_upload: the run ended: %s\n",
                     station.Model().Caption(Ctl::Label2).c_str());
    }
  }
  station.Stop();
  mainThread.Shutdown();
  TickFigures(ticks, sent, r);
}

Result Run(int baud, bool onRequest, int records, const std::vector<std::string>& simOptions) {
  Result r;
  e2e::TempFolder dir("kv-bench-upload");
  const e2e::Bytes image =
      e2e::MakeImage(e2e::SpreadPages(static_cast<std::size_t>(records), 0, 7), 5);
  e2e::WriteBytes(dir.File("bench.kvu"), e2e::UploadFile(image));
  e2e::Sim sim(KV_SIM_PATH, dir, "unit", simOptions);
  ::setenv("KVUFLASH_PORTS", ("1=" + sim.Link()).c_str(), 1);
  const std::string before = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.Path());
  UploadThrough(dir.Path().string() + "/", baud, onRequest, records, r);
  std::filesystem::current_path(before);
  sim.Stop();
  if (r.ok && e2e::FirstDifferentPage(sim.Flash(), image) != -1) {
    std::fprintf(stderr, "bench_upload: the unit's flash differs from the image\n");
    r.ok = false;
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int records = 600;
  if (argc > 1) {
    records = std::atoi(argv[1]);
    if (records < 2 || records > 32000) {
      std::fprintf(stderr,
                   "usage: bench_upload [records, 2 to 32000; default 600] [rq410-sim options]\n");
      return 2;
    }
  }
  const std::vector<std::string> simOptions(argv + std::min(argc, 2), argv + argc);
  bool lineTime = true;
  double programMs = 0;
  int latencyMs = 0;
  for (std::size_t i = 0; i < simOptions.size(); ++i) {
    if (simOptions[i] == "--no-line-time") lineTime = false;
    if (simOptions[i] == "--line-time") lineTime = true;
    if (simOptions[i] == "--program-ms" && i + 1 < simOptions.size())
      programMs = std::atof(simOptions[i + 1].c_str());
    if (simOptions[i] == "--latency-ms" && i + 1 < simOptions.size())
      latencyMs = std::atoi(simOptions[i + 1].c_str());
  }
  std::string setting = lineTime ? "line time on" : "line time off: memory speed";
  if (programMs > 0)
    setting += ", programming " + std::to_string(static_cast<int>(programMs)) + " ms a record";
  if (latencyMs > 0) setting += ", adapter latency timer " + std::to_string(latencyMs) + " ms";
  std::printf("Software Upload of %d records against rq410-sim (tick %d ms, %s)\n", records,
              kTickMs, setting.c_str());
  std::printf("%-10s %6s %8s %10s %11s %11s %9s %12s %12s %12s %9s\n", "records", "baud", "records",
              "ms/record", "tick bound", "line limit", "vs line", "lost ticks", "mean tick",
              "max tick", "run (s)");
  int failures = 0;
  for (const bool onRequest : {false, true}) {
    for (int baud : {38400, 57600}) {
      const Result r = Run(baud, onRequest, records, simOptions);
      const double lineLimit = (135.0 + kReplyBytes) * 10.0 * 1000.0 / baud + programMs;
      std::printf(
          "%-10s %6d %8d %10.2f %11.1f %11.1f %+8.1f%% %6d/%-5d %10.2f ms %9.1f ms %9.1f%s\n",
          onRequest ? "on request" : "per tick", baud, r.records, r.msPerRecord,
          static_cast<double>(kTickMs), lineLimit, (r.msPerRecord / lineLimit - 1) * 100,
          r.lostTicks, r.ticks, r.meanGapMs, r.maxGapMs, r.firstToLastS,
          r.ok ? "" : "  (run failed)");
      std::fflush(stdout);
      if (!r.ok) ++failures;
    }
  }
  return failures ? 1 : 0;
}
