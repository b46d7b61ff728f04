// What the user is to do after a run that did not end well: one place for the words, which
// the window shows after the run's own message and the command line puts in its last line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sequencer/run_outcome.h"

// Whether received text is what bytes sent at another speed become: mostly bytes that are no
// printable text, where the unit's answers are plain words.
bool SoundsLikeAnotherSpeed(std::string_view text);

// The loader's other speed when the run used `baud`.
int OtherLoaderBaud(int baud);

// After a time-out in `phase` (the phase the run stood in when it ran out). `otherSpeed`: bytes
// came, but at another speed; `baud` is the speed the run used; `recordsDelivered`: an upload
// sent every record before (not so when a running unit is only asked for its checksums).
std::string NextStepAfterTimeOut(RunPhase phase, bool otherSpeed, int baud, bool mainUpload,
                                 bool recordsDelivered);

// After the other endings that need one; empty when the ending's own words say what to do.
std::string NextStepAfter(RunOutcome outcome);

// The run's own last history line: the words on what to do next that follow it aside.
const std::string& LastRunLine(const std::vector<std::string>& history,
                               const std::string& nextStep);
