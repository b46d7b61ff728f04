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
      Pacing(Core, Sender),
      Records(Core, Sender, Pacing),
      Upload(Core, Sender),
      Checksums(Core),
      Intake(Core),
      BootTransfer(Core, resources::BootImageLines()),
      Bootstrap(Core, BootTransfer, resources::Loader1Texts(), resources::Loader2Texts()),
      FlashCode(Core, resources::FlashCodeLines()) {
  steps_.Register(StepOwnerId::Core, Core);
  steps_.Register(StepOwnerId::Upload, Upload);
  steps_.Register(StepOwnerId::Records, Records);
  steps_.Register(StepOwnerId::Checksums, Checksums);
  steps_.Register(StepOwnerId::Intake, Intake);
  steps_.Register(StepOwnerId::Bootstrap, Bootstrap);
  steps_.Register(StepOwnerId::BootTransfer, BootTransfer);
  steps_.Register(StepOwnerId::FlashCode, FlashCode);
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
    if (Pacing.BeforeTick()) return;
    RunStep();
  } catch (const std::exception& e) {
    LastError = e.what();
    Core.StopRunWithError(e.what());
  }
}

void MainForm::RunStep() {
  Sender.OneWritePerRecord = Pacing.RecordsOnRequest;
  if (Core.S.CaptureEnabled) Core.Log(std::to_string(Core.S.Step), "[pn]");
  steps_.Perform(Core.S.Step);  // a number the step map does not list does nothing
}

void MainForm::ReadMessage() {
  try {
    Core.ReadMessage();
    // The wait takes the line once a CR stands in the received text, so the step runs to its
    // decision here, exactly as the next tick would run it.
    if (!inStep_ && Pacing.DecideNow()) {
      const FlagScope inStep(inStep_);
      RunStep();
    }
  } catch (const std::exception& e) {
    LastError = e.what();
    Core.StopRunWithError(e.what());
  }
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
  Pacing.StartRun();
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
