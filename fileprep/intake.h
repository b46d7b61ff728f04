// Taking in the file the user chose: its kind by extension, the names of the files made from
// it, and the road to the ready screen (an upload file at once; a binary image or Intel HEX
// file after conversion beside it). Also "&Repeat Upload".
#pragma once

#include <cstdint>
#include <string>

#include "fileprep/binary_image.h"
#include "fileprep/hex_image.h"
#include "fileprep/upload_file_writer.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/step_map.h"

inline constexpr int kConversionHelpTopic = 4;

class InputIntake final : public StepOwner {
 public:
  explicit InputIntake(SequencerCore& core) : core_(core) {}

  // Steps 102, 104, 112, 123 and 124.
  bool PerformStep(int step) override;

  // Shows the file chooser and takes the chosen file. A file that vanished or cannot be
  // opened raises EInOutError; "Choose File" then stays offered and the run is unchanged.
  void BtnChooseFileClick();
  // Sorts S.InputFileName by its extension and sets the next step (42, 102, 104 or 123).
  void IntakeInputFile();
  // Opens S.UploadFileName for sending and shows the ready screen (Step 42).
  void OpenUploadFile();
  // Sends the last run's upload file again, without converting anew.
  void BtnRepeatUploadClick();

  // What the last Intel HEX conversion read.
  const HexReadReport& LastHexReport() const { return hexReport_; }

 private:
  // Step 112: reads the Intel HEX file and, unless it gives nothing to send or the user will
  // not use a file with bad lines, writes the binary image beside it.
  void ReadHex();
  // Tells of an earlier file of a derived name kept as `copy` (when there was one).
  void NoteKeptCopy(const std::string& path, const std::string& copy);
  // Ends the preparation with `text` in red, nothing (more) written, "Choose File" offered.
  void Refuse(const std::string& text);

  SequencerCore& core_;
  // The image between the conversion's steps, and the upload file made from it.
  ImageBytes image_;
  UploadFileContent content_;
  HexReadReport hexReport_;
  std::uint64_t binarySize_ = 0;  // of a chosen binary image
};
