#include "bootstrap/flash_code_stage.h"

#include <filesystem>
#include <system_error>

#include "fileprep/conversion_road.h"
#include "fileprep/file_names.h"
#include "sequencer/record_sender.h"
#include "sequencer/upload_dialogue.h"

namespace fs = std::filesystem;

bool FlashCodeStage::PerformStep(int step) {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  switch (step) {
    case kFactoryBaudStep:
      core_.Serial1.SetBaudrate(kFlashCodeBaud);
      w.HistAdd("Bootstrap Upload complete");
      w.HistAdd("Changing baudrate to 38400...");
      core_.SetPhase(RunPhase::FlashCodePreparing);
      s.Step = kFirstDrainStep;
      return true;
    case kFirstDrainStep:
    case kSecondDrainStep:
      Drain();
      s.Step = step + 1;
      return true;
    case kEmptyFlashImageStep: {
      s.BaseName = kFactoryBaseName;
      // Named absolutely, so that the end of the run deletes these files whatever the current
      // folder has become meanwhile.
      const std::string base = fs::absolute(fs::path(core_.ProgramDir + kFactoryBaseName)).string();
      s.UploadFileName = base + ".KVU";
      s.BinFileName = base + ".BIN";
      w.HistAdd("Emptying binary file...");
      image_ = ImageBytes();
      s.Step = kSecondDrainStep;
      return true;
    }
    case kConvertFlashCodeStep:
      w.HistAdd("Binary file emptied");
      w.HistAdd("Processing .h86 to .bin format...");
      try {
        image_ = HexLinesToImage(flashCode_, s.ImagePages, [this](const std::string& line) {
                   if (core_.S.CaptureEnabled) core_.Log(line, "[fsh]");
                 }).image;
        // Replaces an earlier Reserved.BIN only when whole. An error names the file: it is in
        // the program's folder, which the user did not choose and may not know.
        NamingFile(s.BinFileName, [&] { WriteWholeFile(s.BinFileName, image_); });
      } catch (...) {
        image_ = ImageBytes();
        throw;
      }
      w.HistAdd(".bin complete");
      s.Step = kWriteFlashCodeStep;
      return true;
    case kWriteFlashCodeStep: {
      w.HistAdd("Processing .bin to .kvu format...");
      // Only the image's pages are uploaded; what the flash code places above them is not.
      UploadFileContent content = MakeUploadFile(image_, s.ImagePages);
      image_ = ImageBytes();
      s.UploadFile.Close();
      s.BlockCount = 0;
      NamingFile(s.UploadFileName, [&] { WriteWholeFile(s.UploadFileName, content.bytes); });
      s.BlockCount = content.blockCount;
      s.LastReply = ChecksumText(content, false);
      // Sent from memory, as a chosen upload file is: the file is only what the user may keep.
      s.UploadFile.Hold(std::move(content.bytes));
      w.HistAdd(".kvu complete");
      w.HistAdd("Checksum is " + s.LastReply);
      // The dialogue starts at once with "U", without a ready screen.
      s.Step = kHandshakeStep;
      return true;
    }
    case kFactoryCompleteStep:
      Complete();
      return true;
    default:
      return false;
  }
}

void FlashCodeStage::Drain() {
  if (core_.Serial1.Active()) {
    std::string discarded;
    core_.Serial1.ReadString(discarded);
  }
  core_.S.ReplyText.clear();
}

void FlashCodeStage::Complete() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  s.EndTime = core_.Clock.TimeOfDay();
  s.UploadFile.Close();
  w.HistAdd("FlashCode Upload complete");
  w.HistAdd(" ");
  w.HistAdd("Factory Upload completed.");
  // From the READY handshake on: the flash code's upload alone, not the bootstrap.
  w.HistAdd("Time taken: " + TimeTakenText(s.StartTime, s.EndTime));
  w.Clear(Ctl::Label19);
  w.SetCaption(Ctl::Label1,
               "Turn off power to the Unit and remove the Bootstrap jumpers JP2 and JP3");
  w.SetFontColor(Ctl::Label16, clBlue);
  w.SetFontSize(Ctl::Label16, 10);
  w.SetCaption(Ctl::Label16, "Click on <Go Back to Start> to upload Main Software");
  // A file that cannot be deleted is no reason to call the run failed.
  std::error_code ec;
  fs::remove(s.UploadFileName, ec);
  fs::remove(s.BinFileName, ec);
  w.Show(Ctl::BtnBackToStart);
  // The history has shown the unit's erase errors; the run's outcome must say them too.
  core_.EndRun(s.EraseErrors > 0 ? RunOutcome::CompletedWithEraseErrors : RunOutcome::Completed);
  s.Step = kIdleStep;
}
