// The Software Upload from the opening of the port to its end: the port opening, the ready
// screen, "Start &Upload", and the dialogue with the unit's resident flash loader ("U"/"READY",
// "GO", erase, one record per request, "UPLOAD DONE"/"THANK YOU"), the completion and halt
// screens.
#pragma once

#include <optional>
#include <string>

#include "sequencer/record_sender.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/step_owner.h"

inline constexpr int kHandshakeMaxSends = 250;  // "U" sends after the first before giving up
inline constexpr int kDialogueBudgetTicks = 2000;  // 120 s for each answer of the loader
inline constexpr int kPortOpenTicks = 20;          // 1.2 s for the port to open
inline constexpr int kChecksumCheckRecords = 1000;  // uploads this large get their checksums checked
inline constexpr int kRemoteControlBaud = 9600;

class UploadDialogue final : public StepOwner {
 public:
  UploadDialogue(SequencerCore& core, RecordSender& sender) : core_(core), sender_(sender) {}

  // Steps 5, 6, 9, 10, 42, 44, 45, 54 to 60, 66, 67, 73 to 75, 82, 88 and 999.
  bool PerformStep(int step) override;
  void BtnStartRunClick();

  // Empty when UploadFileName names a file of whole records plus the checksum trailer whose
  // record count is BlockCount; otherwise what is wrong with it, in the user's words.
  std::string UploadFileProblem() const;

 private:
  void OpenPort();
  void PortOpened();
  void ReadyScreen();
  void SendU();
  void RecordRequest();
  void SendSameRecordAgain();
  void EndOfDialogue();
  void CompletionScreen();
  void HaltScreen();
  // Refuses an upload file that cannot be sent whole; true when it was refused.
  bool RefuseBadUploadFile();
  // A refusal in red on Label12, and the colour it had before, given back once the run can go
  // on (unless something else has coloured it meanwhile).
  void ShowRefusal(const std::string& text);
  void ForgetRefusal();

  std::optional<TColor> label12Before_;

  SequencerCore& core_;
  RecordSender& sender_;
};
