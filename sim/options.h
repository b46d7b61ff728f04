// Command-line options of rq410-sim: where it serves, what it plays, how it ends and which
// faults it shows. Parsing never exits; it returns the options or a message for the user.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim_common.h"

namespace rqsim {

struct LoaderFaults {
  int readyAfterU = 1;  // READY answers the N-th "U" that the powered unit receives
  bool neverReady = false;
  CountList resendRecords;       // answer RESEND BLOCK to these records
  bool shortAnswers = false;     // "S" / "R" instead of SEND BLOCK / RESEND BLOCK
  CountList unknownLineRecords;  // answer "OK" to these records
  CountList twiceRecords;        // say the answer to these records twice
  long silentAfterRecords = -1;  // go silent after this many accepted records
  long silenceMs = -1;           // how long the silence lasts; -1: for good
  long failAtRecord = -1;        // UPLOAD FAILED in answer to this record
  int eraseErrors = 0;           // erase error reports before ERASE COMPLETE
  bool eraseTimeout = false;     // ERASE BLOCK TIMEOUT instead of ERASE COMPLETE
  bool noThankYou = false;
  bool failInsteadOfEraseComplete = false;  // UPLOAD FAILED where ERASE COMPLETE belongs
  bool failInsteadOfThankYou = false;       // UPLOAD FAILED where THANK YOU belongs
  double corruptRecordRate = 0;             // share of records that arrive damaged
};

struct RemoteFaults {
  int swrAfter = 1;                // SWR? is answered from this query on
  std::set<std::string> fcsWrong;  // "boot", "main", "fpga": reported one off
  bool fcsLowerCase = false;
};

struct BootstrapFaults {
  std::optional<uint8_t> idByte = 0xD5;  // nullopt: no answer to the zero byte
  std::string loader1Reply = "\"";       // empty: no answer
  std::string loader2Reply = "U";
  CountList badCheckLines;     // wrong check byte for these lines
  double corruptLineRate = 0;  // share of lines that arrive damaged
};

struct Options {
  bool help = false;
  bool version = false;

  std::string device;  // empty: a new pseudo-terminal
  std::string link;
  int loaderBaud = 38400;  // on a pseudo-terminal only when given: either speed otherwise
  bool loaderBaudGiven = false;
  int remoteBaud = 9600;  // the remote control's speed after the reboot
  bool speedCheck = true;
  bool autoPowerCycle = true;
  bool lineTime = true;  // pseudo-terminal only: bytes take their time on the line
  long latencyMs = 0;    // a USB adapter's latency timer: answers pass on every N ms

  int count = 1;       // units served at once, each on its own pseudo-terminal
  int unitNumber = 0;  // 1..count when there are several; 0 for a unit on its own

  bool bootstrap = false;
  bool running = false;  // start with the firmware running (remote control)
  std::string flashFile;
  long powerOnAfterMs = 0;
  long eraseMs = 2000;
  long rebootMs = 3000;
  long programMs = 0;  // writing one record into the flash, before the next request
  long byteTimeoutMs = 1000;
  std::string address = "0000";
  std::string swrVersion = "1.01";

  std::string dumpFile;
  std::string transcriptFile;
  bool verbose = false;

  bool once = false;
  long idleExitMs = -1;
  long exitAfterMs = -1;

  uint32_t seed = 1;
  int powerNoiseBytes = 0;
  LoaderFaults loader;
  RemoteFaults remote;
  BootstrapFaults boot;
};

struct ParseResult {
  std::optional<Options> options;
  std::vector<Options> units;  // one per unit: the options with those aimed at it applied
  std::string error;           // set when options is empty
};

ParseResult parseOptions(const std::vector<std::string>& args);
std::string helpText();

}  // namespace rqsim
