#include "bootstrap/bootstrap_handshake.h"

#include <exception>

#include "bootstrap/boot_link.h"
#include "sequencer/upload_dialogue.h"

bool BootstrapHandshake::PerformStep(int step) {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  switch (step) {
    case kFactoryInstructionsStep:
      ShowInstructions();
      return true;
    case kZeroByteStep:
      // Sent whatever has arrived: a reply that came after the resend was decided is judged
      // on the next tick.
      core_.Serial1.WriteChar(0x00);
      if (s.CaptureEnabled) core_.Log("char 0", "[out]");
      ++s.AttemptCount;
      s.Step = kIdentificationWaitStep;
      return true;
    case kIdentificationWaitStep:
      WaitForIdentification();
      return true;
    case kSendLoader1Step:
      w.HistAdd("Sending Loader 1...");
      SendLoader(loader1_);
      s.Step = kLoader1WaitStep;
      return true;
    case kLoader1WaitStep:
      WaitForLoader(kLoader1Answer, kLoader1BudgetTicks, "Loader 1 complete",
                    "Problem - bad checksum response to Loader1",
                    "Timed out waiting for response to Loader 1", kSendLoader2Step);
      return true;
    case kSendLoader2Step:
      w.HistAdd("Sending Loader 2...");
      SendLoader(loader2_);
      s.Step = kLoader2WaitStep;
      return true;
    case kLoader2WaitStep:
      WaitForLoader(kLoader2Answer, kLoader2BudgetTicks, "Loader 2 complete",
                    "Problem - bad checksum response to Loader 2",
                    "Timed out waiting for response to Loader 2", kBootLineStep);
      if (s.Step == kBootLineStep) {
        w.HistAdd("Sending Bootstrap...");
        w.HistAdd("Sending Lines...");  // the line counter takes this place
        transfer_.Start();
      }
      return true;
    default:
      return false;
  }
}

void BootstrapHandshake::BtnBootClick() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  s.MainUploadMode = false;
  s.UploadBaud = kBootstrapBaud;
  w.HistClear();
  w.HistAdd("Opening Com Port " + w.List(Ctl::CommPortBox).Text() + "...");
  w.Show(Ctl::FactoryBox);
  w.Hide(Ctl::OpeningBox);
  s.HelpContext = kFactoryHelpTopic;
  w.Clear(Ctl::Label1);
  w.Clear(Ctl::Label16);
  w.Clear(Ctl::Label19);
  // A run after a failed one: what the failure hid or left shown is put back.
  w.Show(Ctl::Label16);
  w.Hide(Ctl::BtnGoOn);
  // The way back stays until "&Proceed" sends the first byte.
  w.Show(Ctl::BtnBackToStart);
  core_.BeginRun(RunPhase::OpeningPort);
  s.Step = kOpenPortStep;
  s.ImagePages = kFactoryImagePages;
}

void BootstrapHandshake::ShowInstructions() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  std::string word = "Port did not";
  if (core_.Serial1.Active()) {
    // Capture may be switched on before "&Proceed".
    w.Show(Ctl::BtnCaptureFile);
    // Failing to remember the settings must not keep the user from uploading.
    try {
      core_.SavePortSettings();
    } catch (const std::exception& e) {
      core_.Ui.ShowMessage(std::string("The port settings could not be saved: ") + e.what());
    }
    word = "Port is";
    if (StandInFiles && core_.Serial1.IsRealDevice()) {
      RefuseStandIns();
      s.Step = kIdleStep;
      return;
    }
    w.Show(Ctl::BtnGoOn);
    w.SetCaption(Ctl::Label1,
                 "With power off, put a jumper on the Bootstrap Loader Enable header (JP2)"
                 " and a jumper on the BootBlock Erase Enable header (JP3)");
    w.SetFontSize(Ctl::Label1, 11);
    w.SetFontColor(Ctl::Label1, clRed);
    w.SetCaption(Ctl::Label16, "Turn the Unit power on, then click on <Proceed>");
    w.SetFontColor(Ctl::Label16, clBlue);
    w.SetFontSize(Ctl::Label16, 11);
    core_.Serial1.SetBaudrate(kBootstrapBaud);
    w.SetCaption(Ctl::Label19, "Factory Upload will take about 19 seconds");
    w.SetFontColor(Ctl::Label19, clBlue);
    core_.SetPhase(RunPhase::FactoryReady);
  } else {
    core_.EndRun(RunOutcome::PortFailure);
    w.Show(Ctl::BtnBackToStart);
  }
  s.Step = kIdleStep;
  w.HistAdd(word + " open on Com " + std::to_string(core_.Serial1.Port()) + " at " +
            std::to_string(core_.Serial1.Baudrate()) + " baud");
}

void BootstrapHandshake::RefuseStandIns() {
  WindowModel& w = core_.W;
  w.HistAdd("Port is open on Com " + std::to_string(core_.Serial1.Port()) + " at " +
            std::to_string(core_.Serial1.Baudrate()) + " baud");
  w.SetCaption(Ctl::Label1, "This program carries stand-in factory files, not Korvane's");
  w.SetFontSize(Ctl::Label1, 11);
  w.SetFontColor(Ctl::Label1, clRed);
  w.HistAdd(
      "Factory Bootstrap Upload refused: this program carries stand-in loaders and "
      "images, not Korvane's, and a real unit's C161 would run them as random bytes");
  w.HistAdd(
      "Build the program with Korvane's factory files (see resources/factory/README.md); "
      "the simulated unit (rq410-sim --bootstrap) runs the stand-ins");
  w.Show(Ctl::BtnBackToStart);
  core_.EndRun(RunOutcome::RefusedBeforeSending);
}

void BootstrapHandshake::BtnGoOnClick() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  w.Clear(Ctl::Label1);
  w.SetCaption(Ctl::Label16, "DO NOT INTERRUPT UPLOAD");
  w.SetFontSize(Ctl::Label16, 12);
  w.SetFontColor(Ctl::Label16, clRed);
  w.Hide(Ctl::BtnGoOn);
  w.Hide(Ctl::BtnBackToStart);
  s.AttemptCount = 0;
  w.HistAdd("Establishing comms with the C161 chip...");
  core_.SetPhase(RunPhase::ChipHandshake);
  // ReplyText is kept: whatever arrived since the port opened counts as the chip's reply.
  s.Step = kZeroByteStep;
}

void BootstrapHandshake::WaitForIdentification() {
  SequencerState& s = core_.S;
  if (!s.ReplyText.empty()) {
    for (char id : kIdentificationBytes) {
      if (s.ReplyText.find(id) != std::string::npos) {
        core_.W.HistAdd("Got correct response from C161 chip");
        s.Step = kSendLoader1Step;
        return;
      }
    }
    StopFactoryRun(core_, "Got C161 response: " + s.ReplyText, RunOutcome::WrongIdentification);
    return;
  }
  ++s.AttemptCount;
  if (s.AttemptCount > kIdentificationLastTick) {
    StopFactoryRun(core_, "Timed out waiting for response to initial character",
                   RunOutcome::NoIdentification);
    core_.W.Hide(Ctl::Label16);
  } else if (s.AttemptCount % kZeroByteResendTicks == 0) {
    s.Step = kZeroByteStep;
  }
}

void BootstrapHandshake::SendLoader(const std::vector<std::string>& texts) {
  // All of a loader goes out within this tick.
  for (const std::string& text : texts) {
    transfer_.BootLineText = text;
    SendHexText(core_, transfer_.BootLineText);
  }
  core_.S.AttemptCount = 0;
}

void BootstrapHandshake::WaitForLoader(char answer, int budgetTicks, const char* done,
                                       const char* bad, const char* timedOut, int nextStep) {
  SequencerState& s = core_.S;
  if (!s.ReplyText.empty()) {
    if (s.ReplyText.find(answer) != std::string::npos) {
      core_.W.HistAdd(done);
      s.Step = nextStep;
    } else {
      StopFactoryRun(core_, bad, RunOutcome::LoaderBadAnswer);
    }
    return;
  }
  if (++s.AttemptCount > budgetTicks) StopFactoryRun(core_, timedOut, RunOutcome::LoaderSilent);
}
