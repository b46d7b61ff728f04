#include "fileprep/intake.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "components/file_errors.h"
#include "fileprep/conversion_road.h"
#include "fileprep/file_names.h"
#include "fileprep/input_checks.h"
#include "sequencer/upload_dialogue.h"

namespace {

constexpr const char* kPreparingText = "Preparing input file, please wait ...";

}  // namespace

void InputIntake::BtnChooseFileClick() {
  std::string chosen;
  if (!core_.Ui.ChooseFile(chosen)) return;  // cancelled: everything stays as it was
  // The chooser answers OK only for an existing file, so this fails only when the file
  // vanished in between, or when what was chosen is no file at all (a folder, a pipe, a
  // device); saying so beats a window with nothing left to press.
  RequireOrdinaryFile(chosen);
  core_.BeginRun(RunPhase::Preparing);
  core_.S.InputFileName = chosen;
  IntakeInputFile();
  core_.W.Hide(Ctl::BtnChooseFile);
}

void InputIntake::IntakeInputFile() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  w.Hide(Ctl::Gauge);
  const InputNameParts parts = SplitChosenName(s.InputFileName);
  s.ImagePages = s.MainUploadMode ? kSoftwareImagePages : kFactoryImagePages;

  const InputKind kind = InputKindOf(parts.Extension);
  if (kind == InputKind::IntelHex) {
    s.InputExtension = parts.Extension;
    s.BaseName = parts.BaseName;
    w.Hide(Ctl::RunBox);
    s.HelpContext = kConversionHelpTopic;
    // The derived files go beside the input and replace files of those names, whatever
    // case those are spelt in.
    s.UploadFileName = ResolveExistingName(s.BaseName + ".KVU");
    s.BinFileName = ResolveExistingName(s.BaseName + ".BIN");
    w.SetFontColor(Ctl::Label12, clBlue);
    w.SetCaption(Ctl::Label12, kPreparingText);
    w.SetCaption(Ctl::Label8, "Emptying binary file:  " + s.BinFileName + " ...");
    s.Step = kEmptyImageStep;
  } else if (kind == InputKind::BinaryImage) {
    // The image is only read, so an image on read-only media converts as well. It is read
    // before anything is shown or named, so a failed read leaves the run as it was.
    const std::string binName = ResolveExistingName(parts.BaseName + ".BIN");
    RequireOrdinaryFile(binName);
    ImageBytes image = NamingFile(binName, [&] { return ReadBinaryImage(binName, s.ImagePages); });
    std::error_code ec;
    binarySize_ = std::filesystem::file_size(binName, ec);
    s.InputExtension = parts.Extension;
    s.BaseName = parts.BaseName;
    w.Hide(Ctl::RunBox);
    s.HelpContext = kConversionHelpTopic;
    s.BinFileName = binName;
    s.UploadFileName = ResolveExistingName(s.BaseName + ".KVU");
    w.SetFontColor(Ctl::Label12, clBlue);
    w.SetCaption(Ctl::Label12, kPreparingText);
    w.SetCaption(Ctl::Label8, "Converting .BIN file to .KVU format ...");
    image_ = std::move(image);
    s.Step = kMakeUploadFileStep;
  } else if (kind == InputKind::UploadFile) {
    const std::string previous = s.UploadFileName;
    s.UploadFileName = s.InputFileName;
    try {
      OpenUploadFile();
    } catch (...) {
      s.UploadFileName = previous;
      throw;
    }
    s.InputExtension = parts.Extension;
    s.BaseName = parts.BaseName;
  } else {
    s.InputExtension = parts.Extension;
    s.BaseName = parts.BaseName;
  }
  if (s.Step < kReadyStep) s.Step = kRejectedInputStep;
}

void InputIntake::OpenUploadFile() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  // Read first: a file that is missing or locked changes nothing on the screen. Sending only
  // reads the file, so one on read-only media can be sent.
  HeldUploadFile file;
  NamingFile(s.UploadFileName, [&] { file.Load(s.UploadFileName); });
  const std::uint64_t size = file.Size();
  s.UploadFile = std::move(file);

  w.Gauge().SetProgress(0);
  w.Hide(Ctl::Gauge);
  w.Hide(Ctl::Label10);
  w.Clear(Ctl::Label2);
  w.Clear(Ctl::Label12);
  w.Hide(Ctl::BtnRepeatUpload);
  w.Show(Ctl::RunBox);
  w.Show(Ctl::BtnStartRun);
  s.HelpContext = kConversionHelpTopic;
  s.BlockCount = BlockCountOfSize(size);
  core_.Serial1.SetBaudrate(s.UploadBaud);
  s.Step = kReadyStep;
}

void InputIntake::BtnRepeatUploadClick() {
  // The unit may have vanished and come back since: its port is opened again first.
  if (!core_.ReopenPort()) return;
  // The button goes only once the file is open again, so a failure leaves it; the way back
  // stays until "Start &Upload".
  core_.BeginRun(RunPhase::Preparing);
  OpenUploadFile();
  core_.W.Hide(Ctl::BtnRepeatUpload);
}

bool InputIntake::PerformStep(int step) {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  switch (step) {
    case kRejectedInputStep:
      w.SetCaption(Ctl::Label12,
                   "Unexpected file extension (" + s.InputExtension + "), choose another file");
      w.Show(Ctl::BtnChooseFile);
      core_.EndRun(RunOutcome::BadInput);
      s.Step = kIdleStep;
      return true;
    case kEmptyImageStep:
      w.SetCaption(Ctl::Label8, "Processing .H86 input file to .BIN binary file ...");
      s.Step = kReadHexStep;
      return true;
    case kReadHexStep:
      ReadHex();
      return true;
    case kMakeUploadFileStep:
      content_ = MakeUploadFile(image_, s.ImagePages);
      image_ = ImageBytes();
      if (content_.blockCount == 0) {
        Refuse(IsIntelHex(s.InputExtension) ? NothingToSendFromHex(s.InputFileName, hexReport_)
                                            : NothingToSendFromBinary(s.BinFileName, binarySize_));
        return true;
      }
      s.Step = kWriteUploadFileStep;
      return true;
    case kWriteUploadFileStep: {
      s.BlockCount = 0;
      UploadFileContent content = std::move(content_);
      content_ = UploadFileContent();
      // Put in place only when whole; the ready screen then checks it as a chosen upload file.
      NoteKeptCopy(s.UploadFileName, WriteDerivedFile(s.UploadFileName, content.bytes));
      s.BlockCount = content.blockCount;
      s.UploadFile.Hold(std::move(content.bytes));
      s.LastReply = ChecksumText(content, s.MainUploadMode);
      w.SetCaption(Ctl::Label12, "Data file conversion complete, chksums: " + s.LastReply);
      w.SetFontColor(Ctl::Label12, clBlack);
      w.Show(Ctl::RunBox);
      s.Step = kReadyStep;
      return true;
    }
    default:
      return false;
  }
}

void InputIntake::ReadHex() {
  SequencerState& s = core_.S;
  try {
    // A Software Upload's image is the unit's whole flash: nothing may lie past it.
    HexImage read = HexFileToImage(s.InputFileName, s.ImagePages);
    image_ = std::move(read.image);
    hexReport_ = read.report;
  } catch (...) {
    image_ = ImageBytes();
    throw;
  }
  if (!ImageHoldsData(image_, s.ImagePages)) {
    Refuse(NothingToSendFromHex(s.InputFileName, hexReport_));
    return;
  }
  // Asked before anything is written, so that a No leaves the files of the last conversion.
  if (HexLooksDamaged(hexReport_)) {
    if (!core_.Ui.Confirm(DamagedHexQuestion(s.InputFileName, hexReport_))) {
      Refuse(DamagedHexRefusal(s.InputFileName, hexReport_));
      return;
    }
    // The question lets other events run; one of them may have ended the run meanwhile.
    if (s.Step != kReadHexStep) {
      image_ = ImageBytes();
      return;
    }
  }
  try {
    // Beside the input, whole or not at all.
    NoteKeptCopy(s.BinFileName, WriteDerivedFile(s.BinFileName, image_));
  } catch (...) {
    image_ = ImageBytes();
    throw;
  }
  core_.W.SetCaption(Ctl::Label8, "Processing .BIN file to .KVU format ...");
  s.Step = kMakeUploadFileStep;
}

void InputIntake::NoteKeptCopy(const std::string& path, const std::string& copy) {
  if (!copy.empty()) core_.W.HistAdd(KeptCopyText(path, copy));
}

void InputIntake::Refuse(const std::string& text) {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  image_ = ImageBytes();
  content_ = UploadFileContent();
  w.SetCaption(Ctl::Label12, text);
  w.SetFontColor(Ctl::Label12, clRed);
  w.Clear(Ctl::Label8);
  // The port is open: another file can be chosen at once.
  w.Show(Ctl::BtnChooseFile);
  core_.EndRun(RunOutcome::BadInput);
  s.Step = kIdleStep;
}
