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
#include "sequencer/record_pacing.h"
#include "sequencer/record_phase.h"
#include "sequencer/record_sender.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/ui_services.h"
#include "sequencer/upload_dialogue.h"

class MainForm {
 public:
  MainForm(ISerialPort& serial, IClock& clock, IUiServices& ui, std::string programDir);

  SequencerCore Core;
  RecordSender Sender;
  RecordPacing Pacing;
  RecordPhase Records;
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

 private:
  // The tick's step, also taken early by the receive event for a record request.
  void RunStep();
  StepDispatcher steps_;
  bool closeAgreed_ = false;
  bool inStep_ = false;  // a tick, or a step the receive event took early, is under way
};

// The file-type list that "&Software Upload" gives the file chooser.
inline constexpr const char* kSoftwareUploadFilter =
    "Korvane Upload (.kvu)|*.kvu|Binary (.bin)|*.bin|"
    "Intel HEX (.h86)|*.h86|Intel HEX (.mcs)|*.mcs|"
    "Intel HEX (.hex)|*.hex|";
