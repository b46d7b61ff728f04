#include "sequencer/step_map.h"

#include <stdexcept>
#include <string>

const StepEntry* FindStep(int step) {
  for (const StepEntry& entry : kStepMap) {
    if (step >= entry.first && step <= entry.last) return &entry;
  }
  return nullptr;
}

bool StepDispatcher::Perform(int step) {
  const StepEntry* entry = FindStep(step);
  if (!entry) return false;
  StepOwner* owner = owners_[static_cast<std::size_t>(entry->owner)];
  if (!owner || !owner->PerformStep(step)) {
    throw std::logic_error("Step " + std::to_string(step) + " (" + entry->name +
                           ") has no subsystem to perform it");
  }
  return true;
}
