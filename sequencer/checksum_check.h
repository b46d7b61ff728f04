// After a large upload: wait for the unit to reboot, ask it for its memory checksums over the
// remote control ("SWR?", then "FCS?") and compare them with those the upload file carries.
#pragma once

#include "sequencer/sequencer_core.h"
#include "sequencer/step_owner.h"

class ChecksumCheck final : public StepOwner {
 public:
  explicit ChecksumCheck(SequencerCore& core) : core_(core) {}
  // Steps 76 to 81.
  bool PerformStep(int step) override;

 private:
  // Step 81: the unit's checksums from its "FCS" reply, compared with the file's.
  void CompareChecksums();
  SequencerCore& core_;
};
