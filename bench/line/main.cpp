// A production line's run: the real kvuflash-cli uploading one file to 1, 4 and 8 units of
// rq410-sim at once (each unit a simulator of its own, line time on), one record per tick and
// with --fast. For each number of units it prints the units' times from the command's JSON log
// beside one unit alone, and the command's processor time per unit (user + system, from the
// kernel's account of the child) as a share of one core. Usage:
//   bench_line [records, default 300] [repeats, default 1] [rq410-sim options]
// Several units at once share the machine with every other program: run it when the machine
// is quiet, repeat, and read the spread.
#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/sim_process.h"

#ifndef KV_SIM_PATH
#define KV_SIM_PATH "rq410-sim"
#endif
#ifndef KV_CLI_PATH
#define KV_CLI_PATH "kvuflash-cli"
#endif

namespace {

struct Run {
  bool ok = false;
  double wallS = 0;
  double cpuS = 0;
  std::vector<double> unitS;  // each unit's run, from the JSON log
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The numbers after "duration_s": in the log, one per unit.
std::vector<double> Durations(const std::string& log) {
  std::vector<double> out;
  const std::string key = "\"duration_s\":";
  for (auto at = log.find(key); at != std::string::npos; at = log.find(key, at + 1))
    out.push_back(std::atof(log.c_str() + at + key.size()));
  return out;
}

Run RunLine(int units, bool fast, int records, const std::vector<std::string>& simOptions) {
  Run r;
  e2e::TempFolder dir("kv-bench-line");
  const e2e::Bytes image =
      e2e::MakeImage(e2e::SpreadPages(static_cast<std::size_t>(records), 0, 7), 6);
  e2e::WriteBytes(dir.File("line.kvu"), e2e::UploadFile(image, "00000000"));
  std::vector<std::unique_ptr<e2e::Sim>> sims;
  std::vector<std::string> argv = {KV_CLI_PATH, "--dir", dir.Path().string(), "upload"};
  for (int i = 0; i < units; ++i) {
    sims.push_back(
        std::make_unique<e2e::Sim>(KV_SIM_PATH, dir, "unit" + std::to_string(i + 1), simOptions));
    argv.insert(argv.end(), {"--port", sims.back()->Link()});
  }
  if (fast) argv.push_back("--fast");
  argv.insert(argv.end(), {"--json", dir.File("log.json"), dir.File("line.kvu")});

  // The simulators are reaped only later, so the children's account grows by the command alone.
  rusage before{};
  ::getrusage(RUSAGE_CHILDREN, &before);
  const auto start = std::chrono::steady_clock::now();
  e2e::Child cli(argv, {}, dir.File("cli.out"), dir.File("cli.err"));
  r.ok = cli.Wait(3600 * 1000) == 0;
  r.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage after{};
  ::getrusage(RUSAGE_CHILDREN, &after);
  r.cpuS = Seconds(after.ru_utime) + Seconds(after.ru_stime) - Seconds(before.ru_utime) -
           Seconds(before.ru_stime);
  r.unitS = Durations(e2e::ReadText(dir.File("log.json")));
  if (!r.ok || static_cast<int>(r.unitS.size()) != units) {
    r.ok = false;
    std::fprintf(stderr, "bench_line: the run failed:\n%s",
                 e2e::ReadText(dir.File("cli.err")).c_str());
  }
  for (auto& sim : sims) sim->Stop();
  for (const auto& sim : sims) {
    if (r.ok && e2e::FirstDifferentPage(sim->Flash(), image) != -1) {
      std::fprintf(stderr, "bench_line: a unit's flash differs from the image\n");
      r.ok = false;
    }
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 300;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 1;
  if (records < 2 || records > 32000 || repeats < 1 || repeats > 20) {
    std::fprintf(stderr,
                 "usage: bench_line [records, 2 to 32000; default 300] [repeats, 1 to 20; "
                 "default 1] [rq410-sim options]\n");
    return 2;
  }
  const std::vector<std::string> simOptions(argv + std::min(argc, 3), argv + argc);
  std::string options;
  for (const std::string& o : simOptions) options += " " + o;
  std::printf(
      "kvuflash-cli upload of %d records to N units at once, 38400 baud, %d run(s) each%s%s\n",
      records, repeats, options.empty() ? "" : ", rq410-sim", options.c_str());
  std::printf("%-8s %5s %9s %10s %10s %10s %10s %12s\n", "records", "units", "run (s)", "unit min",
              "unit max", "vs alone", "worst", "CPU/unit");
  int failures = 0;
  for (const bool fast : {false, true}) {
    double alone = 0;
    for (const int units : {1, 4, 8}) {
      for (int k = 0; k < repeats; ++k) {
        const Run r = RunLine(units, fast, records, simOptions);
        if (!r.ok) {
          ++failures;
          continue;
        }
        const double lo = *std::min_element(r.unitS.begin(), r.unitS.end());
        const double hi = *std::max_element(r.unitS.begin(), r.unitS.end());
        double mean = 0;
        for (double s : r.unitS) mean += s / static_cast<double>(r.unitS.size());
        if (units == 1 && (alone == 0 || mean < alone)) alone = mean;
        std::printf("%-8s %5d %9.2f %10.2f %10.2f %+9.1f%% %+9.1f%% %11.2f%%\n",
                    fast ? "--fast" : "per tick", units, r.wallS, lo, hi, (mean / alone - 1) * 100,
                    (hi / alone - 1) * 100, r.cpuS / r.wallS / units * 100);
        std::fflush(stdout);
      }
    }
  }
  std::printf(
      "(unit times from the JSON log; vs alone: the units' mean and slowest beside the\n"
      " fastest single unit of the same mode; CPU/unit: the command's processor time\n"
      " over its run, per unit, as a share of one core)\n");
  return failures ? 1 : 0;
}
