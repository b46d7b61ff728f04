// Every step of the sequencer in one table: its number, its name and the subsystem that
// performs it. The tick dispatches through this table; a number it does not list does nothing.
// To add a step: name its number here, give it a row in kStepMap, and handle it in its
// owner's PerformStep.
#pragma once

#include <array>
#include <cstddef>

#include "sequencer/step_owner.h"

inline constexpr int kIdleStep = 0;
// Opening the port.
inline constexpr int kOpenPortStep = 5;
inline constexpr int kPortWaitStep = 6;
inline constexpr int kFactoryPortFailedStep = 9;
inline constexpr int kPortOpenedStep = 10;
// The Software Upload's ready screen and the flash-loader dialogue.
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
// The checksum check after a large upload.
inline constexpr int kRebootStep = 76;
inline constexpr int kSwrQueryStep = 77;
inline constexpr int kSwrWaitStep = 78;
inline constexpr int kFcsQueryStep = 79;
inline constexpr int kFcsWaitStep = 80;
inline constexpr int kCompareStep = 81;
inline constexpr int kCompletionStep = 82;
inline constexpr int kHaltStep = 88;
inline constexpr int kTimeOutStep = 99;
// Taking in the chosen file.
inline constexpr int kRejectedInputStep = 102;
inline constexpr int kEmptyImageStep = 104;
inline constexpr int kReadHexStep = 112;
inline constexpr int kMakeUploadFileStep = 123;
inline constexpr int kWriteUploadFileStep = 124;
// The closing message blinks: 11 ticks red (183 to 193), 11 ticks blue (194 to 204).
inline constexpr int kBlinkFirstStep = 183;
inline constexpr int kBlinkBlueStep = 194;
inline constexpr int kBlinkLastStep = 204;
// The Factory Bootstrap Upload.
inline constexpr int kFactoryInstructionsStep = 541;  // the port is open
inline constexpr int kZeroByteStep = 544;
inline constexpr int kIdentificationWaitStep = 545;
inline constexpr int kSendLoader1Step = 546;
inline constexpr int kLoader1WaitStep = 548;
inline constexpr int kSendLoader2Step = 550;
inline constexpr int kLoader2WaitStep = 552;
inline constexpr int kBootLineStep = 568;
inline constexpr int kFactoryBaudStep = 571;
inline constexpr int kFirstDrainStep = 572;
inline constexpr int kEmptyFlashImageStep = 573;
inline constexpr int kSecondDrainStep = 574;
inline constexpr int kConvertFlashCodeStep = 575;
inline constexpr int kWriteFlashCodeStep = 576;
inline constexpr int kFactoryCompleteStep = 599;  // the dialogue's end in a factory run
inline constexpr int kResendStep = 999;

// Nothing happens at these steps until the user acts: idle, or the closing message blinking.
constexpr bool IsRestingStep(int step) {
  return step == kIdleStep || (step >= kBlinkFirstStep && step <= kBlinkLastStep);
}

// The subsystems that perform steps.
enum class StepOwnerId {
  Core,          // idle, the time-out, the blinking
  Upload,        // the port opening and the flash-loader dialogue
  Records,       // the records of the dialogue
  Checksums,     // the checksum check
  Intake,        // the chosen file taken in and converted
  Bootstrap,     // the factory's bootstrap handshake and loaders
  BootTransfer,  // the factory's bootstrap program, line by line
  FlashCode,     // the factory's flash-code stage
};
inline constexpr std::size_t kStepOwnerCount = 8;

// A step, or a run of steps that one routine performs (the blinking).
struct StepEntry {
  int first;
  int last;
  const char* name;
  StepOwnerId owner;
};

inline constexpr auto kStepMap = std::to_array<StepEntry>({
    {kIdleStep, kIdleStep, "idle", StepOwnerId::Core},
    {kOpenPortStep, kOpenPortStep, "open port", StepOwnerId::Upload},
    {kPortWaitStep, kPortWaitStep, "wait for port", StepOwnerId::Upload},
    {kFactoryPortFailedStep, kFactoryPortFailedStep, "factory port failed", StepOwnerId::Upload},
    {kPortOpenedStep, kPortOpenedStep, "port opened", StepOwnerId::Upload},
    {kReadyStep, kReadyStep, "ready screen", StepOwnerId::Upload},
    {kHandshakeStep, kHandshakeStep, "handshake", StepOwnerId::Upload},
    {kHandshakeWaitStep, kHandshakeWaitStep, "wait for READY", StepOwnerId::Upload},
    {kSendGoStep, kSendGoStep, "send GO", StepOwnerId::Upload},
    {kErasingWaitStep, kErasingWaitStep, "wait for ERASING", StepOwnerId::Upload},
    {kErasingStep, kErasingStep, "erasing", StepOwnerId::Upload},
    {kEraseResultWaitStep, kEraseResultWaitStep, "wait for erase result", StepOwnerId::Upload},
    {kEraseResultStep, kEraseResultStep, "erase result", StepOwnerId::Upload},
    {kEraseErrorBlockWaitStep, kEraseErrorBlockWaitStep, "wait for error block",
     StepOwnerId::Upload},
    {kEraseErrorBlockStep, kEraseErrorBlockStep, "error block", StepOwnerId::Upload},
    {kRecordsStartStep, kRecordsStartStep, "records start", StepOwnerId::Records},
    {kRecordRequestStep, kRecordRequestStep, "wait for record request", StepOwnerId::Records},
    {kUploadDoneStep, kUploadDoneStep, "send UPLOAD DONE", StepOwnerId::Upload},
    {kThankYouWaitStep, kThankYouWaitStep, "wait for THANK YOU", StepOwnerId::Upload},
    {kDialogueEndStep, kDialogueEndStep, "dialogue end", StepOwnerId::Upload},
    {kRebootStep, kRebootStep, "wait for reboot", StepOwnerId::Checksums},
    {kSwrQueryStep, kSwrQueryStep, "send SWR?", StepOwnerId::Checksums},
    {kSwrWaitStep, kSwrWaitStep, "wait for SWR=", StepOwnerId::Checksums},
    {kFcsQueryStep, kFcsQueryStep, "send FCS?", StepOwnerId::Checksums},
    {kFcsWaitStep, kFcsWaitStep, "wait for FCS", StepOwnerId::Checksums},
    {kCompareStep, kCompareStep, "compare checksums", StepOwnerId::Checksums},
    {kCompletionStep, kCompletionStep, "completion screen", StepOwnerId::Upload},
    {kHaltStep, kHaltStep, "halt screen", StepOwnerId::Upload},
    {kTimeOutStep, kTimeOutStep, "time-out", StepOwnerId::Core},
    {kRejectedInputStep, kRejectedInputStep, "rejected input", StepOwnerId::Intake},
    {kEmptyImageStep, kEmptyImageStep, "empty image", StepOwnerId::Intake},
    {kReadHexStep, kReadHexStep, "read Intel HEX", StepOwnerId::Intake},
    {kMakeUploadFileStep, kMakeUploadFileStep, "make upload file", StepOwnerId::Intake},
    {kWriteUploadFileStep, kWriteUploadFileStep, "write upload file", StepOwnerId::Intake},
    {kBlinkFirstStep, kBlinkLastStep, "blink", StepOwnerId::Core},
    {kFactoryInstructionsStep, kFactoryInstructionsStep, "factory instructions",
     StepOwnerId::Bootstrap},
    {kZeroByteStep, kZeroByteStep, "send zero byte", StepOwnerId::Bootstrap},
    {kIdentificationWaitStep, kIdentificationWaitStep, "wait for identification",
     StepOwnerId::Bootstrap},
    {kSendLoader1Step, kSendLoader1Step, "send Loader 1", StepOwnerId::Bootstrap},
    {kLoader1WaitStep, kLoader1WaitStep, "wait for Loader 1", StepOwnerId::Bootstrap},
    {kSendLoader2Step, kSendLoader2Step, "send Loader 2", StepOwnerId::Bootstrap},
    {kLoader2WaitStep, kLoader2WaitStep, "wait for Loader 2", StepOwnerId::Bootstrap},
    {kBootLineStep, kBootLineStep, "bootstrap line", StepOwnerId::BootTransfer},
    {kFactoryBaudStep, kFactoryBaudStep, "factory baud rate", StepOwnerId::FlashCode},
    {kFirstDrainStep, kFirstDrainStep, "first drain", StepOwnerId::FlashCode},
    {kEmptyFlashImageStep, kEmptyFlashImageStep, "empty flash image", StepOwnerId::FlashCode},
    {kSecondDrainStep, kSecondDrainStep, "second drain", StepOwnerId::FlashCode},
    {kConvertFlashCodeStep, kConvertFlashCodeStep, "convert flash code", StepOwnerId::FlashCode},
    {kWriteFlashCodeStep, kWriteFlashCodeStep, "write flash code", StepOwnerId::FlashCode},
    {kFactoryCompleteStep, kFactoryCompleteStep, "factory complete", StepOwnerId::FlashCode},
    {kResendStep, kResendStep, "send record again", StepOwnerId::Records},
});

// The row of `step`; nullptr for a number the map does not list.
const StepEntry* FindStep(int step);

// Performs each step by the owner its row names.
class StepDispatcher {
 public:
  void Register(StepOwnerId id, StepOwner& owner) {
    owners_[static_cast<std::size_t>(id)] = &owner;
  }
  // Performs `step`; false when no row lists it (the tick then does nothing). An owner that
  // does not perform a step its row gives it is a fault of the program, raised as such.
  bool Perform(int step);

 private:
  std::array<StepOwner*, kStepOwnerCount> owners_{};
};
