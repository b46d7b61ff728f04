// A subsystem that performs some of the sequencer's steps.
#pragma once

class StepOwner {
 public:
  virtual ~StepOwner() = default;
  // Performs `step` when it is one of this subsystem's; returns false otherwise.
  virtual bool PerformStep(int step) = 0;
};
