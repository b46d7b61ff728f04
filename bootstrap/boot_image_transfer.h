// The bootstrap program sent to Loader 2 line by line: each Intel HEX line of the carried image
// becomes a short frame, and Loader 2 answers each frame with a check byte. A line answered
// wrongly goes again, five sends at most; after the end frame the run moves to the flash-code
// stage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sequencer/sequencer_core.h"
#include "sequencer/step_map.h"

inline constexpr int kBootLineBudgetTicks = 100;  // empty ticks for one line over all its sends
inline constexpr int kBootLineMaxBadEchoes = 5;   // wrong answers to one line before giving up

class BootImageTransfer final : public StepOwner {
 public:
  // `image`: the bootstrap program's lines (MemoBoot), the end record last.
  BootImageTransfer(SequencerCore& core, const std::vector<std::string>& image)
      : core_(core), image_(image) {}

  // Step 568: the check byte of the line sent last, then the next line or the same again.
  bool PerformStep(int step) override;

  // Sends the first line; Loader 2 has just answered.
  void Start();
  // Reads the next image line, puts its frame into BootLineText and returns the check byte
  // that Loader 2 answers it with (the end frame is not answered).
  int BuildNextBootLine();

  // The hex text handed to SendHexText last: a loader text, then each line's frame.
  std::string BootLineText;
  int ExpectedEcho = 0;  // 0: nothing is awaited
  int BootLineNumber = 0;
  int ImageLineIndex = -1;
  bool EndRecordSeen = false;
  int BadEchoCount = 0;

 private:
  SequencerCore& core_;
  const std::vector<std::string>& image_;
};
