#include "sequencer/main_form.h"

#include <exception>
#include <utility>

MainForm::MainForm(ISerialPort& serial, IClock& clock, IUiServices& ui, std::string programDir)
    : Core(serial, clock, ui, std::move(programDir)),
      Sender(Core),
      Upload(Core, Sender),
      Checksums(Core),
      Intake(Core) {
  owners_ = {&Upload, &Checksums, &Intake};
}

void MainForm::FormActivate() {
  WindowModel& w = Core.W;
  SequencerState& s = Core.S;
  w.Show("BtnCable");
  w.Maximized = true;
  for (const char* name : {"Label2", "Label4", "Label8", "Label14", "Label15"}) w.Clear(name);
  for (const char* name : {"Label2", "Label3", "Label11", "Label12", "Label13", "Label14"}) {
    w.SetFontColor(name, clBlue);
  }
  w.SetFontColor("Label7", clRed);
  w.SetFontColor("Label22", clRed);
  w.SetFontSize("Label6", 13);
  w.SetFontSize("Label7", 12);
  w.SetFontSize("Label13", 11);
  w.SetFontSize("Label22", 11);
  s.HelpContext = 1;
  w.Hide("MainBox");
  w.Hide("RunBox");
  s.MainUploadMode = true;
  s.CaptureEnabled = false;
  try {
    Core.LoadPortSettings();
  } catch (const std::exception& e) {
    Core.Ui.ShowMessage(e.what());
  }
  s.WaitLimit = 8;
  s.Step = 0;
}

void MainForm::Timer1Timer() {
  try {
    Core.Ui.ProcessPendingMessages();
    if (Core.S.CaptureEnabled) Core.Log(std::to_string(Core.S.Step), "[pn]");
    PerformStep(Core.S.Step);
  } catch (const std::exception& e) {
    LastError = e.what();
    Core.StopRunWithError(e.what());
  }
}

void MainForm::ReadMessage() {
  try {
    Core.ReadMessage();
  } catch (const std::exception& e) {
    LastError = e.what();
    Core.StopRunWithError(e.what());
  }
}

void MainForm::PerformStep(int step) {
  if (step == 0) return;
  if (step == kTimeOutStep) {
    Core.TimeOut();
    return;
  }
  if (step >= 183 && step <= 204) {
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
  const std::string baud = w.List("BaudRateBox").Text();
  s.UploadBaud = baud.empty() ? 38400 : std::stoi(baud);
  w.SetCaption("Label12", "Opening Com Port...");
  w.Clear("Label8");
  w.Show("MainBox");
  w.SetCaption("MainBox", "Main Software Upload");
  w.Hide("OpeningBox");
  w.Hide("RunBox");
  s.HelpContext = 3;
  Core.Ui.SetChooserFilter(kSoftwareUploadFilter);
  s.Step = 5;
}

void MainForm::BtnBackToStartClick() {
  SequencerState& s = Core.S;
  WindowModel& w = Core.W;
  s.HelpContext = 1;
  s.ReplyText.clear();
  for (const char* name :
       {"BtnChooseFile", "BtnRepeatUpload", "BtnBackToStart", "FactoryBox", "MainBox"}) {
    w.Hide(name);
  }
  w.Show("OpeningBox");
  s.Step = 0;
}

void MainForm::BtnCableClick() {
  WindowModel& w = Core.W;
  if (w.Visible("MemoCable")) {
    w.Hide("MemoCable");
    w.SetCaption("BtnCable", "Cable Detail");
  } else {
    w.Show("MemoCable");
    w.SetCaption("BtnCable", "Hide Detail");
  }
}

void MainForm::BtnHelpClick() {
  Core.Ui.ShowHelp(Core.S.HelpContext);
}

void MainForm::BtnCloseClick() {
  if (Core.S.CaptureEnabled) {
    try {
      Core.CloseCapture();
    } catch (const std::exception& e) {
      Core.Ui.ShowMessage(e.what());
    }
  }
  Core.Ui.CloseWindow();
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
    Core.Ui.ShowMessage(e.what());
  }
}

void MainForm::BtnRepeatUploadClick() {
  try {
    Intake.BtnRepeatUploadClick();
  } catch (const std::exception& e) {
    Core.Ui.ShowMessage(e.what());
  }
}

void MainForm::BtnStartRunClick() {
  try {
    Upload.BtnStartRunClick();
  } catch (const std::exception& e) {
    Core.Ui.ShowMessage(e.what());
  }
}
