// The main window's logic without widgets (TForm1's core): start-up, the buttons, the tick
// handler that performs one step of the sequencer, and the receive event. The Qt window and the
// command line both drive this class; they only show its WindowModel and forward clicks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bootstrap/boot_image_transfer.h"
#include "bootstrap/bootstrap_handshake.h"
#include "bootstrap/flash_code_stage.h"
#include "components/clock.h"
#include "components/serial_port.h"
#include "fileprep/intake.h"
#include "sequencer/checksum_check.h"
#include "sequencer/record_sender.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/ui_services.h"
#include "sequencer/upload_dialogue.h"

class MainForm {
 public:
  MainForm(ISerialPort& serial, IClock& clock, IUiServices& ui, std::string programDir);

  SequencerCore Core;
  RecordSender Sender;
  UploadDialogue Upload;
  ChecksumCheck Checksums;
  InputIntake Intake;
  BootImageTransfer BootTransfer;
  BootstrapHandshake Bootstrap;
  FlashCodeStage FlashCode;

  SequencerState& S() { return Core.S; }
  WindowModel& W() { return Core.W; }

  // Start-up: clears captions, sets colours, loads the port settings; the station then
  // starts its tick timer.
  void FormActivate();
  // One tick: lets pending events run, logs the step, performs one step. An error raised
  // inside stops the run with a message and leaves the window usable.
  void Timer1Timer();
  // The serial port's received-data event.
  void ReadMessage();

  void Btn2UploadClick();
  void BtnBackToStartClick();
  void BtnCableClick();
  void BtnHelpClick();
  void BtnCloseClick();
  // Whether the window may close now: at once, unless the unit's flash is being written, when
  // the user is asked first (once: the window's own close then goes ahead).
  bool CloseMayGoAhead();
  void BtnCaptureFileClick();
  void BtnChooseFileClick();
  void BtnRepeatUploadClick();
  void BtnStartRunClick();
  void BtnBootClick();
  void BtnGoOnClick();

  // The last error that stopped a run (empty when none): the command line's exit status
  // comes from it.
  std::string LastError;

  // Records on request: while the run waits for the unit's record request, the receive event
  // that brings the request's line end performs that step at once instead of leaving it to
  // the next tick. Off in the window, which sends one record per tick.
  bool RecordsOnRequest = false;
  // A request that comes before the record just sent can have reached the unit is held back
  // for this many ticks (about a second): the unit's own answer replaces it, unless the line
  // is faster than its speed.
  static constexpr int kHeldReplyTicks = 17;

 private:
  void PerformStep(int step);
  // The tick's step, also taken early by the receive event for a record request.
  void RunStep();
  // Holds back a line that ends before the record just sent can have reached the unit, in
  // records-on-request mode; true when it did.
  bool HoldEarlyRequest();
  // A request held back as too early for the record just sent is let through once nothing
  // else has come for kHeldReplyTicks.
  void TakeBackHeldReply();
  std::vector<StepOwner*> owners_;
  bool closeAgreed_ = false;
  bool inStep_ = false;    // a tick, or a step the receive event took early, is under way
  std::string heldReply_;  // a request that came before the record sent could have arrived
  int heldTicks_ = 0;
  bool lineKeepsItsTime_ = true;  // answers have come no sooner than the line's speed allows
};

// The file-type list that "&Software Upload" gives the file chooser.
inline constexpr const char* kSoftwareUploadFilter =
    "Korvane Upload (.kvu)|*.kvu|Binary (.bin)|*.bin|"
    "Intel HEX (.h86)|*.h86|Intel HEX (.mcs)|*.mcs|"
    "Intel HEX (.hex)|*.hex|";
