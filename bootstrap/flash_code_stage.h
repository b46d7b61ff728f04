// The second part of a Factory Bootstrap Upload: the bootstrap program runs in the unit and
// speaks the flash-loader dialogue at 38400 baud. The flash code that the program carries is
// made into a temporary upload file (Reserved.BIN, Reserved.KVU in ProgramDir) by the same
// conversion as a Software Upload of an Intel HEX file, handed to the dialogue, and at its end
// the completion screen is shown and the temporary files deleted.
#pragma once

#include <string>
#include <vector>

#include "fileprep/binary_image.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/step_map.h"

inline constexpr int kFlashCodeBaud = 38400;
inline constexpr const char* kFactoryBaseName = "Reserved";

class FlashCodeStage final : public StepOwner {
 public:
  // `flashCode`: the carried flash code (MemoFlshCode) as Intel HEX lines.
  FlashCodeStage(SequencerCore& core, const std::vector<std::string>& flashCode)
      : core_(core), flashCode_(flashCode) {}

  // Steps 571 to 576 and 599.
  bool PerformStep(int step) override;

 private:
  // Whatever arrived around the change of speed and while the file is made is not the answer
  // to anything the dialogue will send.
  void Drain();
  void Complete();

  SequencerCore& core_;
  const std::vector<std::string>& flashCode_;
  ImageBytes image_;  // between the conversion's steps
};
