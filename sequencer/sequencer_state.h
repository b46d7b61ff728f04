// The sequencer's shared state: one struct with the names the steps use. It belongs to the
// main window's core for the life of the program; every step and handler works on it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "components/upload_file.h"
#include "sequencer/run_outcome.h"

struct SequencerState {
  int Step = 0;
  int WaitTicks = 0;
  int WaitLimit = 8;
  int AttemptCount = 0;
  std::string ReplyText;
  std::string LastReply;
  std::string WaitingFor;
  bool MainUploadMode = true;
  bool CaptureEnabled = false;
  int BlockCount = 0;
  int BlocksSent = 0;
  int UploadBaud = 0;
  int HelpContext = 1;
  int PortOpenTicks = 0;
  int RebootTicks = 0;
  double StartTime = 0;
  double EndTime = 0;
  std::string FileFirmwareChecksum;
  std::string FileFpgaChecksum;
  std::string UnitFirmwareChecksum;
  std::string UnitFpgaChecksum;
  // What the unit answered to "SWR?" after "SWR=" (its software version), for the records a
  // production line keeps; empty until it has answered in this run.
  std::string UnitSoftwareVersion;
  std::array<std::uint8_t, kRecordSize> RecordBuffer{};
  // The upload file as read when the run was checked; the records go from here.
  HeldUploadFile UploadFile;
  // True once the unit has asked for a record in this run (RecordBuffer then holds one of it).
  bool RecordRequested = false;
  // Time of day at which RecordBuffer last went out.
  double RecordSentAt = 0;
  // Time of day at which the first line end in ReplyText came to the port (not when it was
  // read).
  double ReplyLineAt = 0;
  // Whether UploadFile was read and checked when the run started; not in a run whose file the
  // program made itself.
  bool CheckedUploadFile = false;
  // "ERASE ERROR" reports of this run's erase: every record may go, yet the flash is not sound.
  int EraseErrors = 0;

  // Where the run stands and how it ended (SequencerCore raises the progress event).
  RunPhase Phase = RunPhase::Idle;
  RunOutcome Outcome = RunOutcome::None;
  // What the user is to do after a run that did not end well; empty otherwise.
  std::string NextStep;
  // The last wait ran out with bytes that were not the unit's words: it answers at another
  // speed. OtherSpeedBaud is the baud rate to try, where the user can choose it; 0 otherwise.
  bool OtherSpeedHeard = false;
  int OtherSpeedBaud = 0;

  // Files of a run.
  int ImagePages = kSoftwareImagePages;
  std::string InputFileName;
  std::string InputExtension;
  std::string BaseName;
  std::string BinFileName;
  std::string UploadFileName;
};
