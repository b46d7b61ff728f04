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

// Steps of the port opening, the ready screen and the flash-loader dialogue.
inline constexpr int kOpenPortStep = 5;
inline constexpr int kPortWaitStep = 6;
inline constexpr int kFactoryPortFailedStep = 9;
inline constexpr int kPortOpenedStep = 10;
inline constexpr int kReadyStep = 42;
inline constexpr int kHandshakeStep = 44;  // a factory run joins the dialogue here
inline constexpr int kHandshakeWaitStep = 45;
inline constexpr int kSendGoStep = 54;
inline constexpr int kErasingWaitStep = 55;
inline constexpr int kErasingStep = 56;
inline constexpr int kEraseResultWaitStep = 57;
inline constexpr int kEraseResultStep = 58;
inline constexpr int kEraseErrorBlockWaitStep = 59;
inline constexpr int kEraseErrorBlockStep = 60;
inline constexpr int kRecordsStartStep = 66;
inline constexpr int kRecordRequestStep = 67;
// The record wait's next step: handled on the same tick by kRecordRequestStep, so Step never
// holds it between ticks.
inline constexpr int kRecordReplyStep = 68;
inline constexpr int kUploadDoneStep = 73;
inline constexpr int kThankYouWaitStep = 74;
inline constexpr int kDialogueEndStep = 75;  // a factory run leaves the dialogue here
inline constexpr int kCompletionStep = 82;
inline constexpr int kHaltStep = 88;
inline constexpr int kResendStep = 999;

inline constexpr int kHandshakeMaxSends = 250;
// A record the unit asks for again this many times in a row stops the run: the cable, noise
// on the line or a damaged file is at fault, and sending it for ever would not mend them.
inline constexpr int kMaxRefusalsOfOneRecord = 20;  // "U" sends after the first before giving up
inline constexpr int kDialogueBudgetTicks = 2000;   // 120 s for each answer of the loader
inline constexpr int kPortOpenTicks = 20;           // 1.2 s for the port to open
inline constexpr int kChecksumCheckRecords =
    1000;  // uploads this large get their checksums checked
inline constexpr int kRemoteControlBaud = 9600;

class UploadDialogue final : public StepOwner {
 public:
  UploadDialogue(SequencerCore& core, RecordSender& sender) : core_(core), sender_(sender) {}

  // Steps 5, 6, 9, 10, 42, 44, 45, 54 to 60, 66, 67, 73 to 75, 82, 88 and 999.
  bool PerformStep(int step) override;
  void BtnStartRunClick();

  // Where a factory run goes once its port is open and once the dialogue has ended; the
  // factory subsystem names its steps here. Until then a factory run stops at those points.
  void SetFactorySteps(int portOpenedStep, int dialogueEndStep) {
    factoryPortOpenedStep_ = portOpenedStep;
    factoryEndStep_ = dialogueEndStep;
  }

  // Reads UploadFileName into UploadFile and checks it: empty when it is a sound upload file
  // whose record count is BlockCount; otherwise what is wrong with it, in the user's words. A
  // trailer that disagrees with the records is let through only when `askAboutSums` and the
  // user says so.
  std::string UploadFileProblem(bool askAboutSums = false);

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
  // The unit asked for the current record again (or did not answer it): sends it again, or
  // stops the run when it has been refused too often.
  void RecordRefusedOnce();
  // The current record once more, or the first record when none of this run has gone out.
  void SendCurrentRecordAgain();
  // Refuses an upload file that cannot be sent whole; true when it was refused. A sound file
  // stays in memory (CheckedUploadFile).
  bool RefuseBadUploadFile(bool askAboutSums = false);
  // Ends the run before anything has been sent, saying why.
  void Refuse(const std::string& problem);
  // Readies the held upload file for the records; false (the run refused) when the file on
  // the disk is no longer what was checked at Start.
  bool OpenCheckedUploadFile();
  // A refusal in red on Label12, and the colour it had before, given back once the run can go
  // on (unless something else has coloured it meanwhile).
  void ShowRefusal(const std::string& text);
  void ForgetRefusal();

  std::optional<TColor> label12Before_;
  int refusalsInARow_ = 0;  // of the current record
  int factoryPortOpenedStep_ = kIdleStep;
  int factoryEndStep_ = kIdleStep;

  SequencerCore& core_;
  RecordSender& sender_;
};
