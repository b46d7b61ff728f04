// The one road of a unit: a shell of its own (port, tick timer, sequencer) whose window is told
// in the user's words on the run's display, driven through a Software Upload as the window's
// user would, ending with the exit status and the words that say what to do next. One unit
// and a production line's many take the same road; the factory command drives the same shell.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "cli/cli.h"
#include "cli/command_support.h"
#include "cli/exit_status.h"
#include "cli/narrator.h"
#include "cli/options.h"
#include "cli/run_display.h"

// A unit's port as given, and the device and COM number its shell reaches it as.
struct UnitPort {
  std::string given;         // "3", "/dev/serial/by-id/..."
  std::string device;        // empty: the port map's device for `com`
  int com = 1;               // the window's list holds 1 to 9; larger numbers are named as COM 1
  bool unreachable = false;  // a number above 9 without a device: nothing to open
};

// What every unit of one command is given.
struct UnitSettings {
  std::string dir;      // the shell's folder (port settings)
  std::string capture;  // this unit's capture file; empty: none
  int baud = 0;
  double timeoutSeconds = -1;  // < 0: the default for the file's size; 0: none
  bool fast = false;
  bool acceptBadChecksums = false;
  bool rememberPort = true;
  int records = 0;  // the records of the file, when known before the unit takes it
  UnitJob job = UnitJob::Upload;
  // verify: the file's checksums to compare the unit's with ("0000" both for info).
  std::string fileFirmware = "0000";
  std::string fileFpga = "0000";
};

// How a unit's run ended.
struct UnitResult {
  int status = kUploadError;
  std::string message;  // what was said at the end; for the log, with the shell's own reason
  RunOutcome outcome = RunOutcome::None;
  int sent = 0;
  int total = 0;
  double seconds = 0;
  std::string startedAt;  // ISO 8601, local time with its offset
  bool checksumsAsked = false;
  std::string unitFirmware;
  std::string unitFpga;
  std::string unitSoftware;
};

// A unit's shell, told on `display` as unit `index`: the window's texts as lines, its messages
// as messages, its progress as the bar. Port and baud rate are set; a bad one raises
// std::invalid_argument.
class UnitShell {
 public:
  UnitShell(RunDisplay& display, std::size_t index, const UnitPort& port,
            const UnitSettings& settings);
  ~UnitShell() { cli_.Options().SetProgressListener(nullptr); }
  UnitShell(const UnitShell&) = delete;
  UnitShell& operator=(const UnitShell&) = delete;
  Cli& Shell() { return cli_; }
  MainForm& Form() { return cli_.Form(); }
  // The shell's last message, without the program's name: the reason behind a failure.
  const std::string& LastMessage() const { return lastMessage_; }
  std::size_t MessageCount() const { return messages_; }
  // The last line told of the window.
  const std::string& LastLine() const { return lastLine_; }
  // Where the run stood before it ended.
  RunPhase LastPhase() const { return lastPhase_; }
  void Say(const std::string& text, bool good = false);

 private:
  RunDisplay& display_;
  std::size_t index_;
  std::string lastMessage_;
  std::size_t messages_ = 0;
  std::string lastLine_;
  RunPhase lastPhase_ = RunPhase::Idle;
  LineBuf errBuf_;
  std::ostream err_;
  Cli cli_;
  Narrator narrator_;
};

// What to say when a run ended as `s` says, naming the next step; empty when the shell's
// message has said it. `lastPhase`: where it stood before it ended; `again`: how to try again
// ("upload again").
std::string EndText(const SequencerState& s, RunPhase lastPhase, const std::string& again);

// What to do after the run stopped in `phase`, ending with `again`.
std::string NextStep(RunPhase phase, const std::string& again);

// Words for how a unit ended, for the log and the table ("completed", "timed out").
const char* OutcomeText(const UnitResult& r);

// Presses "&Software Upload", "Choose File" (answered with `file`) and "Start &Upload", and
// runs the ticks until the upload ends, the time limit passes or the user interrupts. For
// verify and info, the port opens and the running unit is asked for its software and
// checksums instead.
UnitResult RunUnit(RunDisplay& display, std::size_t index, const UnitPort& port,
                   const UnitSettings& settings, const std::string& file);

// "Interrupted." and, when the unit was being written, what that leaves.
std::string InterruptedText(RunPhase phase, const std::string& again);
