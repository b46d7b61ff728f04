#include "form/main_form.h"

#include <exception>
#include <utility>

#include "resources/embedded_images.h"

namespace {

// Sets a flag for its own lifetime and gives back the value the flag had.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = was_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool was_;
};

}  // namespace

MainForm::MainForm(ISerialPort& serial, IClock& clock, IUiServices& ui, std::string programDir)
    : Core(serial, clock, ui, std::move(programDir)),
      Sender(Core),
      Upload(Core, Sender),
      Checksums(Core),
      Intake(Core),
      BootTransfer(Core, resources::BootImageLines()),
      Bootstrap(Core, BootTransfer, resources::Loader1Texts(), resources::Loader2Texts()),
      FlashCode(Core, resources::FlashCodeLines()) {
  owners_ = {&Upload, &Checksums, &Intake, &Bootstrap, &BootTransfer, &FlashCode};
  Upload.SetFactorySteps(kFactoryInstructionsStep, kFactoryCompleteStep);
  Bootstrap.StandInFiles = resources::FactoryFilesAreStandIns();
}

void MainForm::FormActivate() {
  WindowModel& w = Core.W;
  SequencerState& s = Core.S;
  w.Show(Ctl::BtnCable);
  w.Maximized = true;
  for (Ctl name : {Ctl::Label2, Ctl::Label4, Ctl::Label8, Ctl::Label14, Ctl::Label15})
    w.Clear(name);
  for (Ctl name :
       {Ctl::Label2, Ctl::Label3, Ctl::Label11, Ctl::Label12, Ctl::Label13, Ctl::Label14}) {
    w.SetFontColor(name, clBlue);
  }
  w.SetFontColor(Ctl::Label7, clRed);
  w.SetFontColor(Ctl::Label22, clRed);
  w.SetFontSize(Ctl::Label6, 13);
  w.SetFontSize(Ctl::Label7, 12);
  w.SetFontSize(Ctl::Label13, 11);
  w.SetFontSize(Ctl::Label22, 11);
  s.HelpContext = 1;
  w.Hide(Ctl::MainBox);
  w.Hide(Ctl::RunBox);
  s.MainUploadMode = true;
  s.CaptureEnabled = false;
  try {
    Core.LoadPortSettings();
  } catch (const std::exception& e) {
    Core.Ui.ShowMessage(e.what());
  }
  s.WaitLimit = 8;
  s.Step = kIdleStep;
}

void MainForm::Timer1Timer() {
  // A receive event that runs inside the tick (while pending events run, or under a dialog
  // that a step opens) must not start a step of its own: steps never nest.
  const FlagScope inTick(inStep_);
  try {
    Core.Ui.ProcessPendingMessages();
    // A port that went while the unit was being talked to ends the run here, before a step
    // writes to a port that is no longer there.
    if (PhaseUsesPort(Core.S.Phase) && !Core.Serial1.Active()) {
      Core.PortLost();
      return;
    }
    TakeBackHeldReply();
    // A repeat that came while this tick was due is no more a request here than in the
    // receive event.
    if (HoldEarlyRequest()) return;
    RunStep();
  } catch (const std::exception& e) {
    LastError = e.what();
    Core.StopRunWithError(e.what());
  }
}

void MainForm::RunStep() {
  Sender.OneWritePerRecord = RecordsOnRequest;
  if (Core.S.CaptureEnabled) Core.Log(std::to_string(Core.S.Step), "[pn]");
  PerformStep(Core.S.Step);
}

void MainForm::ReadMessage() {
  try {
    Core.ReadMessage();
    SequencerState& s = Core.S;
    // The wait takes the line once a CR stands in the received text, so the step runs to its
    // decision here, exactly as the next tick would run it.
    if (RecordsOnRequest && !inStep_ && Core.Serial1.Active() && s.Step == kRecordRequestStep &&
        s.ReplyText.find('\r') != std::string::npos) {
      // A line that ends before the record just sent can have reached the unit is no answer
      // to it: it is the request already served, said again (a unit that repeats itself, an
      // echo on the line). Taken at once, it would send the next record while the unit still
      // writes this one into its flash, where it would be lost without a word. Sending the
      // record cleared what had come before it; this came just after. It is held back, not
      // lost, in case the line is faster than its speed (see TakeBackHeldReply).
      if (HoldEarlyRequest()) return;
      heldReply_.clear();
      // The wait's budget counts ticks; this look between two of them is not one.
      --s.WaitTicks;
      const FlagScope inStep(inStep_);
      RunStep();
    }
  } catch (const std::exception& e) {
    LastError = e.what();
    Core.StopRunWithError(e.what());
  }
}

bool MainForm::HoldEarlyRequest() {
  SequencerState& s = Core.S;
  if (!RecordsOnRequest || s.Step != kRecordRequestStep || !s.RecordRequested ||
      !lineKeepsItsTime_ || s.ReplyText.find('\r') == std::string::npos ||
      !Sender.RecordStillOnTheLine()) {
    return false;
  }
  heldReply_ = std::exchange(s.ReplyText, {});
  heldTicks_ = 0;
  return true;
}

void MainForm::TakeBackHeldReply() {
  if (heldReply_.empty()) return;
  SequencerState& s = Core.S;
  if (s.Step != kRecordRequestStep || !s.ReplyText.empty()) {
    heldReply_.clear();  // the unit's own answer has come after it, or the run has moved on
    return;
  }
  if (++heldTicks_ < kHeldReplyTicks) return;
  // Nothing has come after it: the line brings answers sooner than its speed allows (a
  // pseudo-terminal, a virtual port), so the line held back was the answer, and none is held
  // back again in this run.
  lineKeepsItsTime_ = false;
  s.ReplyText = std::exchange(heldReply_, {});
}

void MainForm::PerformStep(int step) {
  if (step == kIdleStep) return;
  if (step == kTimeOutStep) {
    Core.TimeOut();
    return;
  }
  if (step >= kBlinkFirstStep && step <= kBlinkLastStep) {
    Core.Blink(step);
    return;
  }
  for (StepOwner* owner : owners_) {
    if (owner->PerformStep(step)) return;
  }
  // A step that no subsystem owns does nothing.
}

void MainForm::Btn2UploadClick() {
  SequencerState& s = Core.S;
  WindowModel& w = Core.W;
  s.MainUploadMode = true;
  const std::string baud = w.List(Ctl::BaudRateBox).Text();
  s.UploadBaud = baud.empty() ? 38400 : std::stoi(baud);
  w.SetCaption(Ctl::Label12, "Opening Com Port...");
  w.Clear(Ctl::Label8);
  w.Show(Ctl::MainBox);
  w.SetCaption(Ctl::MainBox, "Main Software Upload");
  w.Hide(Ctl::OpeningBox);
  w.Hide(Ctl::RunBox);
  // A wrong port or file can be undone until the unit is first written to.
  w.Show(Ctl::BtnBackToStart);
  s.HelpContext = 3;
  Core.Ui.SetChooserFilter(kSoftwareUploadFilter);
  Core.BeginRun(RunPhase::OpeningPort);
  s.Step = kOpenPortStep;
}

void MainForm::BtnBackToStartClick() {
  SequencerState& s = Core.S;
  WindowModel& w = Core.W;
  s.HelpContext = 1;
  s.ReplyText.clear();
  for (Ctl name : {Ctl::BtnChooseFile, Ctl::BtnRepeatUpload, Ctl::BtnBackToStart, Ctl::FactoryBox,
                   Ctl::MainBox}) {
    w.Hide(name);
  }
  w.Show(Ctl::OpeningBox);
  Core.SetPhase(RunPhase::Idle);
  s.Step = kIdleStep;
}

void MainForm::BtnCableClick() {
  WindowModel& w = Core.W;
  if (w.Visible(Ctl::MemoCable)) {
    w.Hide(Ctl::MemoCable);
    w.SetCaption(Ctl::BtnCable, "Cable Detail");
  } else {
    w.Show(Ctl::MemoCable);
    w.SetCaption(Ctl::BtnCable, "Hide Detail");
  }
}

void MainForm::BtnHelpClick() {
  Core.Ui.ShowHelp(Core.S.HelpContext);
}

void MainForm::BtnCloseClick() {
  if (!CloseMayGoAhead()) return;
  if (Core.S.CaptureEnabled) {
    try {
      Core.CloseCapture();
    } catch (const std::exception& e) {
      Core.Ui.ShowMessage(e.what());
    }
  }
  Core.Ui.CloseWindow();
}

bool MainForm::CloseMayGoAhead() {
  if (closeAgreed_ || !PhaseWritesUnit(Core.S.Phase) || IsRestingStep(Core.S.Step)) return true;
  closeAgreed_ = Core.Ui.Confirm(
      "The unit is being written; closing now leaves it without working firmware. Close "
      "anyway?");
  return closeAgreed_;
}

void MainForm::BtnCaptureFileClick() {
  try {
    Core.ToggleCapture();
  } catch (const std::exception& e) {
    Core.Ui.ShowMessage(e.what());
  }
}

void MainForm::BtnChooseFileClick() {
  try {
    Intake.BtnChooseFileClick();
  } catch (const std::exception& e) {
    Core.EndRun(RunOutcome::BadInput);
    Core.Ui.ShowMessage(e.what());
  }
}

void MainForm::BtnRepeatUploadClick() {
  try {
    Intake.BtnRepeatUploadClick();
  } catch (const std::exception& e) {
    Core.EndRun(RunOutcome::BadInput);
    Core.Ui.ShowMessage(e.what());
  }
}

void MainForm::BtnStartRunClick() {
  lineKeepsItsTime_ = true;
  heldReply_.clear();
  try {
    Upload.BtnStartRunClick();
  } catch (const std::exception& e) {
    Core.EndRun(RunOutcome::InputOutputError);
    Core.Ui.ShowMessage(e.what());
  }
}

void MainForm::BtnBootClick() {
  try {
    Bootstrap.BtnBootClick();
  } catch (const std::exception& e) {
    Core.Ui.ShowMessage(e.what());
  }
}

void MainForm::BtnGoOnClick() {
  try {
    Bootstrap.BtnGoOnClick();
  } catch (const std::exception& e) {
    Core.Ui.ShowMessage(e.what());
  }
}
