// Taking in the file the user chose: its kind by extension, the names of the files made from
// it, and the road to the ready screen (an upload file at once; a binary image or Intel HEX
// file after conversion). Also "&Repeat Upload".
#pragma once

#include "sequencer/sequencer_core.h"
#include "sequencer/step_owner.h"

class InputIntake final : public StepOwner {
 public:
  explicit InputIntake(SequencerCore& core) : core_(core) {}

  // Steps 102, 104, 112, 123 and 124.
  bool PerformStep(int step) override;

  void BtnChooseFileClick();
  void IntakeInputFile();
  void OpenUploadFile();
  void BtnRepeatUploadClick();

 private:
  SequencerCore& core_;
};
