// The history as a finished run leaves it.
#pragma once

#include <string>

#include "sequencer/next_step.h"
#include "sequencer/sequencer_state.h"
#include "sequencer/window_model.h"

// The run's own last history line: the words on what to do next, which follow the message of
// a run that did not end well, aside.
inline const std::string& LastRunLine(const SequencerState& s, const WindowModel& w) {
  return LastRunLine(w.FUpHist(), s.NextStep);
}
