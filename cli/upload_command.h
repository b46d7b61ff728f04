// "kvuflash-cli upload FILE": a whole Software Upload on the command line. It presses the same
// buttons of the same MainForm as the window does (port and baud rate, "&Software Upload",
// "Choose File", "Start &Upload"), runs the ticks until the run ends, shows the progress, and
// ends with an exit status that a script can trust.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "sequencer/run_outcome.h"

// Exit statuses of an upload. 0 only for a completed upload whose checksums, when the unit is
// asked for them (1000 records or more), match the file's.
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

// The exit status of a run that ended this way; one table for every command.
int ExitStatusOf(RunOutcome outcome);

class Cli;

// What the shell's options before the command already said (0 or empty: not given).
struct UploadDefaults {
  int port = 0;
  int baud = 0;
  std::string dir;
};

// The options of "upload".
struct UploadOptions {
  std::vector<std::string> ports;  // numbers or devices; several: one unit on each
  int baud = 0;
  std::string capture;
  std::string dir;
  std::string json;            // the log a production line keeps, one line per unit and run
  double timeoutSeconds = -1;  // < 0: the default for the file's size
  std::string file;
  bool fast = false;  // records on request instead of one per tick
  bool help = false;
  bool acceptBadChecksums = false;  // Intel HEX lines with wrong checksums are used all the same
};

// How one unit's upload ended: the exit status, and what to tell the user (empty when a
// message has said it already).
struct UnitUploadEnd {
  int status = kUploadError;
  std::string message;
};

// Presses "&Software Upload", "Choose File" (answered with `file`) and "Start &Upload" on the
// shell, as the window's user would, and runs its ticks until the upload ends, the time limit
// passes (< 0: the default for the file's size; 0: none) or the user interrupts. `capture`:
// the capture file, empty for none. Port, baud rate and device are set on the shell before.
UnitUploadEnd DriveUpload(Cli& cli, const std::string& file, const std::string& capture,
                          double timeoutSeconds);

// The options and exit statuses, for the shell's help text.
extern const char* const kUploadHelpText;

// Runs "upload" with the words that followed it. Progress goes to `out` as a bar redrawn in
// place when `out` is a terminal (`terminal`), as plain lines otherwise.
int RunUpload(const std::vector<std::string>& args, const UploadDefaults& defaults,
              std::ostream& out, std::ostream& err, bool terminal);
