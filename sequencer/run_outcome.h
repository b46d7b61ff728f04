// How a run stands and how it ended, as data: the front ends decide on these (the command
// line's exit status, its progress bar), never on the texts the window shows.
#pragma once

#include <functional>

// How the last run ended; None while a run goes on or before any has ended.
enum class RunOutcome {
  None,
  Completed,                 // the upload went through; no checksums were compared
  CompletedWithEraseErrors,  // the upload went through, but the unit reported erase errors
  ChecksumsMatch,            // the unit's memory checksums equal the file's
  ChecksumsDifferent,        // the unit's memory checksums differ from the file's
  HaltedByUnit,              // the unit answered "UPLOAD FAILED"
  TimedOut,                  // the unit did not answer in time
  UnexpectedAnswer,          // the unit answered something the dialogue does not expect
  RecordRefused,             // the unit asked for the same record again too many times in a row
  PortFailure,               // no port chosen, or it did not open
  InputOutputError,          // a file or port operation failed during the run
  BadInput,                  // the chosen file cannot be used (kind, content, conversion)
  RefusedBeforeSending,      // the upload file is not whole, or changed: nothing was sent
  // A factory run's own endings, in its bootstrap part.
  NoIdentification,     // the chip did not answer the zero byte
  WrongIdentification,  // the chip's answer held no identification byte
  LoaderSilent,         // Loader 1 or Loader 2 did not answer
  LoaderBadAnswer,      // Loader 1 or Loader 2 answered wrongly
  BadEchoes,            // a bootstrap line got the wrong check byte five times
  BootLineTimedOut,     // a bootstrap line got no answer
};

// Where a run stands.
enum class RunPhase {
  Idle,
  OpeningPort,
  ChoosingFile,  // the port is open; the file chooser is offered
  Preparing,     // the chosen file is being taken in or converted
  Ready,         // the ready screen waits for "Start Upload"
  Handshake,     // "U" until the unit answers READY
  Erase,
  Records,
  Finishing,  // "UPLOAD DONE" sent, waiting for "THANK YOU"
  Reboot,     // waiting for the unit to restart before its checksums are asked for
  Checksums,
  FactoryReady,        // the factory screen waits for "&Proceed"
  ChipHandshake,       // zero byte and identification byte, the two loaders
  BootLines,           // the bootstrap program, line by line
  FlashCodePreparing,  // the carried flash code made into the temporary upload file
  Ended,
};

// The phases in which the unit is being talked to: the port must stay open through them.
constexpr bool PhaseUsesPort(RunPhase phase) {
  return (phase >= RunPhase::Handshake && phase <= RunPhase::Checksums) ||
         (phase >= RunPhase::ChipHandshake && phase <= RunPhase::FlashCodePreparing);
}

// The phases in which the unit's flash is being written: stopping now leaves it without
// working firmware.
constexpr bool PhaseWritesUnit(RunPhase phase) {
  return phase >= RunPhase::Erase && phase <= RunPhase::Finishing;
}

// Raised when the phase changes and whenever a record or a bootstrap line goes out. A factory
// run counts its bootstrap lines first, then its records.
struct RunProgress {
  RunPhase phase = RunPhase::Idle;
  int recordsSent = 0;
  int recordsTotal = 0;
  int linesSent = 0;
  int linesTotal = 0;
};
using ProgressListener = std::function<void(const RunProgress&)>;

// The upload went through (the unit may still have reported erase errors).
constexpr bool RunWentThrough(RunOutcome outcome) {
  return outcome == RunOutcome::Completed || outcome == RunOutcome::CompletedWithEraseErrors ||
         outcome == RunOutcome::ChecksumsMatch;
}

// Words for an outcome, for logs and tables ("completed", "timed out", ...).
const char* OutcomeName(RunOutcome outcome);
