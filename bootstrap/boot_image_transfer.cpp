#include "bootstrap/boot_image_transfer.h"

#include <stdexcept>

#include "bootstrap/boot_link.h"
#include "bootstrap/flash_code_stage.h"

bool BootImageTransfer::PerformStep(int step) {
  if (step != kBootLineStep) return false;
  SequencerState& s = core_.S;
  // The end frame went out on the tick before: it is not answered.
  if (EndRecordSeen) {
    s.Step = kFactoryBaudStep;
    return true;
  }
  if (s.ReplyText.empty() && ExpectedEcho != 0) {
    // Only empty ticks count, over all sends of the line.
    if (++s.AttemptCount > kBootLineBudgetTicks)
      StopFactoryRun(core_, "Timed out waiting for response to Bootstrap line",
                     RunOutcome::BootLineTimedOut);
    return true;
  }
  if (ExpectedEcho != 0 && s.ReplyText.find(static_cast<char>(ExpectedEcho)) == std::string::npos) {
    if (++BadEchoCount >= kBootLineMaxBadEchoes) {
      StopFactoryRun(core_, "Problem - got bad checksum 5 times, bad cable?",
                     RunOutcome::BadEchoes);
    } else {
      SendHexText(core_, BootLineText);
    }
    return true;
  }
  ExpectedEcho = BuildNextBootLine();
  SendHexText(core_, BootLineText);
  s.AttemptCount = 0;
  BadEchoCount = 0;
  return true;
}

void BootImageTransfer::Start() {
  core_.SetPhase(RunPhase::BootLines);
  BootLineNumber = 0;
  ImageLineIndex = -1;
  EndRecordSeen = false;
  ExpectedEcho = BuildNextBootLine();
  SendHexText(core_, BootLineText);
  core_.S.AttemptCount = 0;
  BadEchoCount = 0;
  core_.S.Step = kBootLineStep;
}

int BootImageTransfer::BuildNextBootLine() {
  ++BootLineNumber;
  ++ImageLineIndex;
  core_.LinesProgressed(BootLineNumber, static_cast<int>(image_.size()));
  // One history line counts the lines in place.
  core_.W.HistReplaceLast("Sending line " + std::to_string(BootLineNumber) + "...");
  if (ImageLineIndex >= static_cast<int>(image_.size()))
    throw std::runtime_error("The bootstrap program has no end record");
  const std::string& line = image_[static_cast<std::size_t>(ImageLineIndex)];
  if (core_.S.CaptureEnabled) core_.Log(line, "[mem]");
  // The record's checksum: its last two digits.
  int result = HexByteValue(line.size() >= 2 ? line.substr(line.size() - 2) : line);
  const char type = line.size() > 8 ? line[8] : ' ';
  switch (type) {
    case '0':
      // Count and address, then the data; the line's checksum is what comes back.
      BootLineText = "00" + line.substr(1, 6) + line.substr(9, line.size() - 11);
      break;
    case '1':
      BootLineText = "01";
      EndRecordSeen = true;
      break;
    case '4':
      BootLineText = "04" + line.substr(11, 2);
      result = (result + 2) % 256;
      break;
    default:
      // Loader 2 knows frames for data, upper address and end only.
      throw std::runtime_error(
          "Line " + std::to_string(BootLineNumber) +
          " of the bootstrap program is a record that Loader 2 cannot take: " + line);
  }
  return result;
}
