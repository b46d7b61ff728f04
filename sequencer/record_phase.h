// The records of the flash-loader dialogue: one record per request of the unit, the same
// again when it asks for it again or answers with something else, and the end of the run
// when a record is refused too often or the unit falls silent.
#pragma once

#include "sequencer/record_pacing.h"
#include "sequencer/record_sender.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/step_map.h"
#include "sequencer/ticks.h"

// Records on request wait this long for an answer before the record goes again: a request
// lost on the line would otherwise stall the run for the loader's whole budget.
inline constexpr int kFastRecordBudgetTicks = (2000 + kTickMs - 1) / kTickMs;  // 2 s
// Time-outs of the record wait in a row with nothing heard before the run ends: the unit
// restarted, or its cable came loose.
inline constexpr int kMaxSilentRecordTimeOuts = 2;

class RecordPhase final : public StepOwner {
 public:
  RecordPhase(SequencerCore& core, RecordSender& sender, RecordPacing& pacing)
      : core_(core), sender_(sender), pacing_(pacing) {}

  // Steps 66, 67 and 999.
  bool PerformStep(int step) override;

 private:
  void StartRecords();
  void RecordRequest();
  void SendSameRecordAgain();
  // The unit asked for the current record again (or did not answer it): sends it again, or
  // stops the run when it has been refused too often.
  void RecordRefusedOnce();
  // The current record once more, or the first record when none of this run has gone out.
  void SendCurrentRecordAgain();
  // The record wait ran out: true when the unit has been silent too long and the run ends.
  bool UnitFellSilent();

  SequencerCore& core_;
  RecordSender& sender_;
  RecordPacing& pacing_;
  int refusalsInARow_ = 0;  // of the current record
  int silentTimeOuts_ = 0;  // of the record wait, in a row
};
