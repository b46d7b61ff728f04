// The sequencer's core: the shared state, the window model, the serial port and the
// operations every step uses (waiting for a reply, sending command frames and bytes, the
// receive event, the time-out step, the blinking of the closing message, the capture log).
#pragma once

#include <cstdint>
#include <string>

#include "components/clock.h"
#include "components/serial_port.h"
#include "sequencer/capture_file.h"
#include "sequencer/run_outcome.h"
#include "sequencer/sequencer_state.h"
#include "sequencer/step_map.h"
#include "sequencer/ui_services.h"
#include "sequencer/window_model.h"

inline constexpr int kReplyWindow = 125;  // characters kept around a reply

class SequencerCore final : public StepOwner {
 public:
  SequencerCore(ISerialPort& serial, IClock& clock, IUiServices& ui, std::string programDir);

  SequencerState S;
  WindowModel W;
  ISerialPort& Serial1;
  IClock& Clock;
  IUiServices& Ui;
  CaptureFile Capture;
  std::string ProgramDir;  // with its trailing separator
  // Where the capture file goes; empty: Capture.txt in ProgramDir. The command line names its
  // own file here.
  std::string CapturePath;
  std::string CaptureFileName() const {
    return CapturePath.empty() ? ProgramDir + "Capture.txt" : CapturePath;
  }

  // One tick of a wait for `word`; the reply runs up to a carriage return (CR) or a line
  // feed (LF). On completion `reply` holds everything up to and including the terminator and
  // Step becomes nextStep; when the budget is spent Step becomes timeoutStep.
  void WaitReplyCR(const std::string& word, int timeoutStep, std::string& reply, int nextStep);
  void WaitReplyLF(const std::string& word, int timeoutStep, std::string& reply, int nextStep);

  // Frames one text command ("GO" + CR, or "<0000/SWR?" + CR) and sends it byte by byte.
  void SendCommand(const std::string& address, const std::string& command, bool addressed);
  // SendCommand, then WaitTicks := 0 and Step := Step + 1.
  void SendAndAdvance(const std::string& address, const std::string& command, bool addressed);
  void SendByte(std::uint8_t value);

  // Capture log (does nothing unless CaptureEnabled). A write failure turns capture off,
  // shows the state on BtnCaptureFile and Label11 and tells the user once, without stopping
  // the run.
  void Log(const std::string& text, const std::string& tag);
  // Turns capture on or off (the BtnCaptureFile button).
  void ToggleCapture();
  // Closes the capture file (capture off) and shows it on BtnCaptureFile and Label11.
  void CloseCapture();

  // The receive event: reads what the port has and appends it to ReplyText.
  void ReadMessage();

  // Idle, the time-out and the blinking.
  bool PerformStep(int step) override;
  // Step 99 and the blinking steps 183 to 204.
  void TimeOut();
  void Blink(int step);

  // Remembered port settings (commsUP.txt in ProgramDir).
  void LoadPortSettings();
  void SavePortSettings();
  std::string LoadedPort;
  // False: the port of a run is not remembered. The units of a production line run side by
  // side in one folder and must not change the window's remembered port.
  bool RememberPort = true;

  // Ends a run after an error raised inside a tick or a receive event: shows the message,
  // Step := 0, offers "&Go Back to Start"; the window stays usable. The outcome is bad input
  // while the chosen file is being prepared, an input/output error otherwise.
  void StopRunWithError(const std::string& message);

  // The port went away (a pulled adapter) while the run was talking to the unit: the run
  // stops at once, naming the port, with the ways on offered. The port itself has said so.
  void PortLost();
  // Opens the port of the last run again when it has closed (the unit vanished and came
  // back), as a new upload would; false, with Label12 saying so, when it does not open.
  bool ReopenPort();

  // How the run stands and ends (S.Phase, S.Outcome), told to OnProgress.
  ProgressListener OnProgress;
  // A new sequence starts from a button: no outcome yet.
  void BeginRun(RunPhase phase);
  void SetPhase(RunPhase phase);
  // The run has ended this way (the phase becomes Ended).
  void EndRun(RunOutcome outcome);
  // Tells what to do next, as the history line after the run's own message (NextStep keeps
  // it for the command line). Nothing for an empty text.
  void Advise(const std::string& text);
  // A record went out (BlocksSent of BlockCount).
  void RecordsProgressed();
  // A factory run's bootstrap line went out: `sent` of `total`.
  void LinesProgressed(int sent, int total);

 private:
  void RaiseProgress();
  int linesSent_ = 0;
  int linesTotal_ = 0;
  void WaitReply(char terminator, const std::string& word, int timeoutStep, std::string& reply,
                 int nextStep);
};
