// The Software Upload from the opening of the port to its end: the port opening, the ready
// screen, "Start &Upload", and the dialogue with the unit's resident flash loader ("U"/"READY",
// "GO", erase, one record per request, "UPLOAD DONE"/"THANK YOU"), the completion and halt
// screens.
#pragma once

#include <optional>
#include <string>

#include "components/upload_file.h"
#include "sequencer/record_sender.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/step_map.h"

inline constexpr int kHandshakeMaxSends = 250;  // "U" sends after the first before giving up
// A record the unit asks for again this many times in a row stops the run: the cable, noise
// on the line or a damaged file is at fault, and sending it for ever would not mend them.
inline constexpr int kMaxRefusalsOfOneRecord = 20;
inline constexpr int kDialogueBudgetTicks = 2000;  // 120 s for each answer of the loader
inline constexpr int kPortOpenTicks = 20;          // 1.2 s for the port to open
inline constexpr int kChecksumCheckRecords =
    1000;  // uploads this large get their checksums checked
inline constexpr int kRemoteControlBaud = 9600;

inline constexpr const char* kUploadFailedText = "UPLOAD FAILED";

// The loader said "UPLOAD FAILED": "Upload failed", capture stops, and the halt screen follows.
void StopForUploadFailed(SequencerCore& core);

class UploadDialogue final : public StepOwner {
 public:
  UploadDialogue(SequencerCore& core, RecordSender& sender) : core_(core), sender_(sender) {}

  // Steps 5, 6, 9, 10, 42, 44, 45, 54 to 60, 73 to 75, 82 and 88.
  bool PerformStep(int step) override;
  void BtnStartRunClick();

  // Reads UploadFileName into UploadFile and checks it: empty when it is a sound upload file
  // whose record count is BlockCount; otherwise what is wrong with it, in the user's words. A
  // trailer that disagrees with the records is let through only when `askAboutSums` and the
  // user says so.
  std::string UploadFileProblem(bool askAboutSums = false);
  // Which file goes out: its name and folder, its records and its two checksums, as the ready
  // screen (`lead` "Upload file") and the history at Start ("Sending") say it.
  std::string FileLine(const std::string& lead) const;
  // "Upload will be N blocks, ..." at the port's speed.
  std::string EstimateLine() const;

 private:
  void OpenPort();
  void WaitForPort();
  void FactoryPortFailed();
  void PortOpened();
  void ReadyScreen();
  void SendU();
  void WaitForReady();
  void SendGo();
  // One tick of a wait for the loader's `word`; stops the run at once on "UPLOAD FAILED".
  void WaitForLoader(const char* waitingFor, const char* word, int nextStep);
  void ShowErasing();
  void EraseResult();
  void ShowEraseErrorBlock();
  void EndOfDialogue();
  void CompletionScreen();
  void HaltScreen();
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
  // The checksums of the file last checked, for the lines that say which file goes out.
  UploadTrailer checkedTrailer_;

  SequencerCore& core_;
  RecordSender& sender_;
};
