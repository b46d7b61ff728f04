// The exit statuses of every command that runs a unit, and the one table from a run's outcome
// to its status.
#pragma once

#include "sequencer/run_outcome.h"

// 0 only for a completed upload whose checksums, when the unit is asked for them (1000 records
// or more), match the file's.
enum UploadExit : int {
  kUploadOk = 0,
  kUploadError = 1,            // an input/output error during the run, or an internal fault
  kUploadUsage = 2,            // bad arguments
  kUploadBadInput = 3,         // the file is missing, of an unknown kind, or cannot be converted
  kUploadPortFailed = 4,       // the port could not be opened
  kUploadTimedOut = 5,         // the unit did not answer in time
  kUploadHalted = 6,           // the unit ended the run with UPLOAD FAILED
  kUploadChecksumsDiffer = 7,  // the unit's checksums differ from the file's
  kUploadUnexpected = 8,       // the unit answered something the dialogue has no way on from
  kUploadInterrupted = 9,      // Ctrl+C or SIGTERM
  kUploadEraseErrors = 10,     // every record went, but the unit reported erase errors
  kUploadRecordRefused = 11,   // the unit refused one record again and again
  // A factory run's own, in its bootstrap part.
  kFactoryNoIdentification = 12,     // the chip did not answer the zero byte
  kFactoryWrongIdentification = 13,  // the chip answered without its identification byte
  kFactoryLoaderSilent = 14,         // Loader 1 or Loader 2 did not answer
  kFactoryLoaderBadAnswer = 15,      // Loader 1 or Loader 2 answered wrongly
  kFactoryBadEchoes = 16,            // a bootstrap line got a wrong check byte five times
  kFactoryLineTimedOut = 17,         // a bootstrap line was not answered
};

// The exit status of a run that ended this way.
int ExitStatusOf(RunOutcome outcome);

// Of two units' statuses the one that says more about the run as a whole: the run stopped, the
// bench failing, a unit that looks flashed but holds other firmware, then units the unit itself
// stopped, and last a file refused before anything was sent.
int Worse(int a, int b);
