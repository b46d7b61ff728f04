// A production line's run: the real kvuflash-cli uploading one file to N units at once, served
// by one rq410-sim --count N (line time on, 5 ms to write a record unless told otherwise), one
// record per tick and with --fast. For each number of units it prints the units' times from the
// command's JSON log beside one unit alone, and the processor time per unit of the command
// (user + system, from the kernel's account of the child) and of the simulator apart, each as a
// share of one core over the run: a real rack has no simulator. Usage:
//   bench_line [records, default 300] [repeats, default 1] [--units 1,4,8,16,32]
//              [rq410-sim options]
// Several units at once share the machine with every other program: run it when the machine
// is quiet, repeat, and read the spread.
#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
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

constexpr int kMaxUnits = 32;

struct Run {
  bool ok = false;
  double wallS = 0;
  double cliCpuS = 0;
  double simCpuS = 0;
  std::vector<double> unitS;  // each unit's run, from the JSON log
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// The numbers after "duration_s": in the log, one per unit.
std::vector<double> Durations(const std::string& log) {
  std::vector<double> out;
  const std::string key = "\"duration_s\":";
  for (auto at = log.find(key); at != std::string::npos; at = log.find(key, at + 1))
    out.push_back(std::atof(log.c_str() + at + key.size()));
  return out;
}

std::vector<std::string> SimArgs(const e2e::TempFolder& dir, int units,
                                 const std::vector<std::string>& simOptions) {
  std::vector<std::string> args = {
      "--count",         std::to_string(units), "--link", dir.File("u"), "--dump",
      dir.File("flash"), "--erase-ms",          "200",    "--reboot-ms", "300"};
  args.insert(args.end(), simOptions.begin(), simOptions.end());
  return args;
}

// The simulator numbers a unit's link and dump only when it serves several.
std::string UnitFile(const e2e::TempFolder& dir, const std::string& base, int k, int units) {
  return dir.File(units == 1 ? base : base + std::to_string(k));
}

bool FlashesHoldTheImage(const e2e::TempFolder& dir, int units, const e2e::Bytes& image) {
  for (int k = 1; k <= units; ++k) {
    if (e2e::FirstDifferentPage(e2e::ReadBytes(UnitFile(dir, "flash", k, units)), image) != -1) {
      std::fprintf(stderr, "bench_line: unit %d's flash differs from the image\n", k);
      return false;
    }
  }
  return true;
}

Run RunLine(int units, bool fast, int records, const std::vector<std::string>& simOptions) {
  Run r;
  e2e::TempFolder dir("kv-bench-line");
  const e2e::Bytes image =
      e2e::MakeImage(e2e::SpreadPages(static_cast<std::size_t>(records), 0, 7), 6);
  e2e::WriteBytes(dir.File("line.kvu"), e2e::UploadFile(image));
  kvtest::SimProcess sim(SimArgs(dir, units, simOptions), static_cast<std::size_t>(units),
                         KV_SIM_PATH);
  std::vector<std::string> argv = {KV_CLI_PATH, "--dir", dir.Path().string(), "upload"};
  for (int k = 1; k <= units; ++k)
    argv.insert(argv.end(), {"--port", UnitFile(dir, "u", k, units)});
  if (fast) argv.push_back("--fast");
  argv.insert(argv.end(), {"--json", dir.File("log.json"), dir.File("line.kvu")});

  // The simulator is reaped only later, so the children's account grows by the command alone.
  const double cliBefore = ChildrenCpuSeconds();
  const double simBefore = kvtest::ProcessorSeconds(sim.Pid());
  const auto start = std::chrono::steady_clock::now();
  e2e::Child cli(argv, {}, dir.File("cli.out"), dir.File("cli.err"));
  r.ok = cli.Wait(3600 * 1000) == 0;
  r.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.simCpuS = kvtest::ProcessorSeconds(sim.Pid()) - simBefore;
  r.cliCpuS = ChildrenCpuSeconds() - cliBefore;
  r.unitS = Durations(e2e::ReadText(dir.File("log.json")));
  if (!r.ok || static_cast<int>(r.unitS.size()) != units) {
    r.ok = false;
    std::fprintf(stderr, "bench_line: the run failed:\n%s",
                 e2e::ReadText(dir.File("cli.err")).c_str());
  }
  sim.Stop(60000);
  r.ok = r.ok && FlashesHoldTheImage(dir, units, image);
  return r;
}

// "1,4,8" (or "1 4 8"): numbers of units from 1 to 32; empty when one is not.
std::vector<int> UnitCounts(std::string text) {
  std::replace(text.begin(), text.end(), ',', ' ');
  std::istringstream in(text);
  std::vector<int> counts;
  for (std::string item; in >> item;) {
    const int n = std::atoi(item.c_str());
    if (n < 1 || n > kMaxUnits || std::to_string(n) != item) return {};
    counts.push_back(n);
  }
  return counts;
}

double MeanOf(const std::vector<double>& v) {
  double mean = 0;
  for (double s : v) mean += s / static_cast<double>(v.size());
  return mean;
}

void PrintRow(bool fast, int units, const Run& r, double alone) {
  const double lo = *std::min_element(r.unitS.begin(), r.unitS.end());
  const double hi = *std::max_element(r.unitS.begin(), r.unitS.end());
  const double mean = MeanOf(r.unitS);
  const double perUnitCore = r.wallS * units / 100;
  std::printf("%-8s %5d %9.2f %10.2f %10.2f %+9.1f%% %+9.1f%% %11.2f%% %11.2f%%\n",
              fast ? "--fast" : "per tick", units, r.wallS, lo, hi, (mean / alone - 1) * 100,
              (hi / alone - 1) * 100, r.cliCpuS / perUnitCore, r.simCpuS / perUnitCore);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 300;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 1;
  std::vector<std::string> simOptions(argv + std::min(argc, 3), argv + argc);
  std::vector<int> counts = {1, 4, 8, 16, 32};
  if (auto at = std::find(simOptions.begin(), simOptions.end(), "--units");
      at != simOptions.end()) {
    counts = at + 1 == simOptions.end() ? std::vector<int>{} : UnitCounts(*(at + 1));
    simOptions.erase(at, std::min(at + 2, simOptions.end()));
  }
  if (records < 2 || records > 32000 || repeats < 1 || repeats > 20 || counts.empty()) {
    std::fprintf(stderr,
                 "usage: bench_line [records, 2 to 32000; default 300] [repeats, 1 to 20; "
                 "default 1] [--units 1,4,8,16,32] [rq410-sim options]\n");
    return 2;
  }
  // A unit takes its time to write each record, as a real one does.
  if (std::find(simOptions.begin(), simOptions.end(), "--program-ms") == simOptions.end())
    simOptions.insert(simOptions.begin(), {"--program-ms", "5"});
  std::string options;
  for (const std::string& o : simOptions) options += " " + o;
  std::printf(
      "kvuflash-cli upload of %d records to N units at once, 38400 baud, %d run(s) each, "
      "rq410-sim --count N%s\n",
      records, repeats, options.c_str());
  std::printf("%-8s %5s %9s %10s %10s %10s %10s %12s %12s\n", "records", "units", "run (s)",
              "unit min", "unit max", "vs alone", "worst", "CLI/unit", "sim/unit");
  int failures = 0;
  for (const bool fast : {false, true}) {
    double alone = 0;
    for (const int units : counts) {
      for (int k = 0; k < repeats; ++k) {
        const Run r = RunLine(units, fast, records, simOptions);
        if (!r.ok) {
          ++failures;
          continue;
        }
        if (units == counts.front() && (alone == 0 || MeanOf(r.unitS) < alone))
          alone = MeanOf(r.unitS);
        PrintRow(fast, units, r, alone);
      }
    }
  }
  std::printf(
      "(unit times from the JSON log; vs alone: the units' mean and slowest beside the\n"
      " fastest run of the first number of units in the same mode; CLI/unit and sim/unit:\n"
      " the processor time of kvuflash-cli and of rq410-sim over the run, per unit, as a\n"
      " share of one core)\n");
  return failures ? 1 : 0;
}
