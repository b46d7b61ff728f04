// What the user sees while units run, for one unit or several. Without a terminal: plain lines
// (each with its unit's port when there are several) and a line at every tenth of the records.
// On a terminal: one unit's lines with a progress bar under them, redrawn in place; several
// units' messages with one line per unit under them (its phase, its bar, how it ended). Units
// report from their own threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "sequencer/run_outcome.h"

class RunDisplay {
 public:
  // `ports`: the units' ports as given; with one, its lines carry no port.
  RunDisplay(std::ostream& out, std::ostream& err, bool terminal, std::vector<std::string> ports);

  // A line of the run (what the window shows, in the user's words).
  void Line(std::size_t unit, const std::string& text);
  // A message for the user: on the error stream, or the output for good news.
  void Message(std::size_t unit, const std::string& text, bool good = false);
  void Progress(std::size_t unit, const RunProgress& progress);
  // The unit's line says how it ended ("completed, 40/40 records in 0:03").
  void Ended(std::size_t unit, const std::string& summary);
  // The bars are done; what follows goes below them.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  struct Unit {
    std::string port;
    RunPhase phase = RunPhase::Idle;
    std::string what = "records";  // what the bar counts
    int sent = 0;
    int total = 0;
    int lastTenth = -1;
    Clock::time_point first{};
    bool ended = false;
    std::string summary;
  };

  bool Several() const { return units_.size() > 1; }
  std::string Prefix(const Unit& u) const { return Several() ? "[" + u.port + "] " : ""; }
  void Print(std::ostream& stream, const std::string& line);
  void Count(Unit& u, int sent, int total, const char* what);
  std::string Bar(const Unit& u, int width) const;
  std::string StatusLine(const Unit& u) const;
  void Clear();
  void Draw();

  std::ostream& out_;
  std::ostream& err_;
  const bool terminal_;
  std::mutex mutex_;
  std::vector<Unit> units_;
  std::size_t drawn_ = 0;  // status lines on the screen under the text (several units)
  bool barShown_ = false;  // one unit's bar stands on the last line, not ended
  Clock::time_point lastDraw_{};
};
