// The Software Upload from the opening of the port to its end: the port opening, the ready
// screen, "Start &Upload", and the dialogue with the unit's resident flash loader ("U"/"READY",
// "GO", erase, one record per request, "UPLOAD DONE"/"THANK YOU"), the completion and halt
// screens.
#pragma once

#include "sequencer/record_sender.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/step_owner.h"

class UploadDialogue final : public StepOwner {
 public:
  UploadDialogue(SequencerCore& core, RecordSender& sender) : core_(core), sender_(sender) {}

  // Steps 5, 6, 9, 10, 42, 44, 45, 54 to 60, 66, 67, 73 to 75, 82, 88 and 999.
  bool PerformStep(int step) override;
  void BtnStartRunClick();

 private:
  SequencerCore& core_;
  RecordSender& sender_;
};
