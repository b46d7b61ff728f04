#include "fileprep/intake.h"

#include <string>
#include <vector>

#include "components/file_errors.h"
#include "fileprep/file_names.h"
#include "fileprep/hex_image.h"
#include "fileprep/upload_file_writer.h"

namespace {

constexpr const char* kPreparingText = "Preparing input file, please wait ...";

bool IsIntelHex(const std::string& extension) {
  return extension == "MCS" || extension == "H86" || extension == "HEX";
}

}  // namespace

void InputIntake::BtnChooseFileClick() {
  std::string chosen;
  if (!core_.Ui.ChooseFile(chosen)) return;  // cancelled: everything stays as it was
  // The chooser answers OK only for an existing file, so this fails only when the file
  // vanished in between; saying so beats a window with nothing left to press.
  if (!FileExists(chosen)) throw EInOutError("File not found", 2);
  core_.S.InputFileName = chosen;
  IntakeInputFile();
  core_.W.Hide("BtnChooseFile");
}

void InputIntake::IntakeInputFile() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  w.Hide("Gauge");
  const InputNameParts parts = SplitInputName(s.InputFileName);
  s.ImagePages = s.MainUploadMode ? kSoftwareImagePages : kFactoryImagePages;

  if (IsIntelHex(parts.Extension)) {
    s.InputExtension = parts.Extension;
    s.BaseName = parts.BaseName;
    w.Hide("RunBox");
    s.HelpContext = kConversionHelpTopic;
    // The derived files go beside the input and replace files of those names, whatever
    // case those are spelt in.
    s.UploadFileName = ResolveExistingName(s.BaseName + ".KVU");
    s.BinFileName = ResolveExistingName(s.BaseName + ".BIN");
    w.SetFontColor("Label12", clBlue);
    w.SetCaption("Label12", kPreparingText);
    w.SetCaption("Label8", "Emptying binary file:  " + s.BinFileName + " ...");
    s.Step = kEmptyImageStep;
  } else if (parts.Extension == "BIN") {
    // The image is only read, so an image on read-only media converts as well. It is opened
    // before anything is shown or named, so a failed open leaves the run as it was.
    const std::string binName = ResolveExistingName(parts.BaseName + ".BIN");
    ByteFile image;
    image.Open(binName, ByteFile::Mode::Read);
    s.InputExtension = parts.Extension;
    s.BaseName = parts.BaseName;
    w.Hide("RunBox");
    s.HelpContext = kConversionHelpTopic;
    s.BinFileName = binName;
    s.UploadFileName = ResolveExistingName(s.BaseName + ".KVU");
    w.SetFontColor("Label12", clBlue);
    w.SetCaption("Label12", kPreparingText);
    w.SetCaption("Label8", "Converting .BIN file to .KVU format ...");
    s.BinaryImage = std::move(image);
    s.Step = kCreateUploadFileStep;
  } else if (parts.Extension == "KVU") {
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
  if (s.Step < 40) s.Step = kRejectedInputStep;
}

void InputIntake::OpenUploadFile() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  // Opened first: a file that is missing or locked changes nothing on the screen. Sending
  // only reads the file, so one on read-only media can be sent.
  ByteFile file;
  file.Open(s.UploadFileName, ByteFile::Mode::Read);
  const std::uint64_t size = file.Size();
  s.UploadFile = std::move(file);

  w.Gauge().SetProgress(0);
  w.Hide("Gauge");
  w.Hide("Label10");
  w.Clear("Label2");
  w.Clear("Label12");
  w.Hide("BtnRepeatUpload");
  w.Show("RunBox");
  w.Show("BtnStartRun");
  s.HelpContext = kConversionHelpTopic;
  s.BlockCount = BlockCountOfSize(size);
  core_.Serial1.SetBaudrate(s.UploadBaud);
  s.Step = kReadyStep;
}

void InputIntake::BtnRepeatUploadClick() {
  // The buttons go only once the file is open again, so a failure leaves the way back.
  OpenUploadFile();
  core_.W.Hide("BtnRepeatUpload");
  core_.W.Hide("BtnBackToStart");
}

bool InputIntake::PerformStep(int step) {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  switch (step) {
    case kRejectedInputStep:
      w.SetCaption("Label12",
                   "Unexpected file extension (" + s.InputExtension + "), choose another file");
      w.Show("BtnChooseFile");
      s.Step = 0;
      return true;
    case kEmptyImageStep:
      EmptyImage(s);
      w.SetCaption("Label8", "Processing .H86 input file to .BIN binary file ...");
      s.Step = kReadHexStep;
      return true;
    case kReadHexStep: {
      static const std::vector<std::string> kNoEmbeddedImage;
      ReadHexImage(s, kNoEmbeddedImage,
                   [this](const std::string& line) { core_.Log(line, "[fsh]"); });
      w.SetCaption("Label8", "Processing .BIN file to .KVU format ...");
      s.Step = kCreateUploadFileStep;
      return true;
    }
    case kCreateUploadFileStep:
      // Written under a temporary name: the writer puts it in place only when it is whole.
      s.UploadFile.Open(s.UploadFileName, ByteFile::Mode::CreateTemp);
      s.Step = kWriteUploadFileStep;
      return true;
    case kWriteUploadFileStep:
      WriteUploadFile(s);
      // The writer has put the whole file in place; it stays open for the ready screen, as
      // a chosen upload file does.
      if (!s.UploadFile.IsOpen()) s.UploadFile.Open(s.UploadFileName, ByteFile::Mode::Read);
      w.SetCaption("Label12", "Data file conversion complete, chksums: " + s.LastReply);
      w.SetFontColor("Label12", clBlack);
      w.Show("RunBox");
      s.Step = kReadyStep;
      return true;
    default:
      return false;
  }
}
