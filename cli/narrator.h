// What a run says on the terminal, in the user's words: each text that the window's labels and
// history show, once, without the control that shows it. Left out are empty texts, what only
// the window's buttons make sense of ("Click on <Start Upload> button"), a label that repeats a
// history line, and the per-record (and per-bootstrap-line) lines, which the progress event
// draws instead.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "sequencer/controls.h"
#include "sequencer/run_outcome.h"

class WindowModel;

class Narrator {
 public:
  using Sink = std::function<void(const std::string& line)>;

  // Listens to `window` from now on; what it shows already is not told.
  Narrator(WindowModel& window, Sink sink);
  ~Narrator() { *self_ = nullptr; }  // the model outlives it, and cannot forget a listener
  Narrator(const Narrator&) = delete;
  Narrator& operator=(const Narrator&) = delete;

  // Call from the progress event: the record or line that went is told there, so its echo in
  // the history and on the status label is not.
  void Progressed(const RunProgress& progress);

 private:
  void Changed(Ctl control);
  void HistoryChanged();
  void Say(const std::string& text);

  WindowModel& window_;
  Sink sink_;
  std::shared_ptr<Narrator*> self_ = std::make_shared<Narrator*>(this);
  std::set<std::string> history_;  // history lines told
  std::set<std::string> labels_;   // label texts told
  std::size_t historySize_ = 0;
  int recordsSent_ = 0;
  int linesSent_ = 0;
  bool historyEcho_ = false;  // the next history change is a record's or line's echo
  bool labelEcho_ = false;    // the next status label change is a record's echo
};
