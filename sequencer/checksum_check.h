// After a large upload: wait for the unit to reboot, ask it for its memory checksums over the
// remote control ("SWR?", then "FCS?") and compare them with those the upload file carries.
#pragma once

#include "sequencer/sequencer_core.h"
#include "sequencer/step_map.h"

class ChecksumCheck final : public StepOwner {
 public:
  explicit ChecksumCheck(SequencerCore& core) : core_(core) {}
  // Steps 76 to 81.
  bool PerformStep(int step) override;

  // Asks a running unit for its software and memory checksums with no upload before it, on
  // the open port. The file's checksums in the state are compared as after an upload; with
  // none ("0000" both) the run ends completed with the unit's answers. The run rests at its
  // end instead of showing the completion screen.
  void StartQuery();

 private:
  // Step 81: the unit's checksums from its "FCS" reply, compared with the file's.
  void CompareChecksums();
  SequencerCore& core_;
  bool queryOnly_ = false;
};
