#include "bootstrap/boot_link.h"

#include <cstdint>

#include "components/file_errors.h"
#include "components/hex_text.h"
#include "sequencer/next_step.h"

int HexByteValue(const std::string& pair) {
  const int high = pair.size() == 2 ? HexDigitValue(pair[0]) : -1;
  const int low = pair.size() == 2 ? HexDigitValue(pair[1]) : -1;
  if (high < 0 || low < 0) throw EConvertError::NotAnInteger("$" + pair);
  return high * 16 + low;
}

void SendHexText(SequencerCore& core, const std::string& text) {
  if (text.empty()) return;
  core.S.ReplyText.clear();
  if (core.S.CaptureEnabled) core.Log(text, "[out]");
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    core.SendByte(static_cast<std::uint8_t>(HexByteValue(text.substr(i, 2))));
}

void StopFactoryRun(SequencerCore& core, const std::string& historyLine, RunOutcome outcome) {
  core.W.HistAdd(historyLine);
  core.EndRun(outcome);
  core.Advise(NextStepAfter(outcome));
  core.W.Show(Ctl::BtnBackToStart);
  core.S.Step = kIdleStep;
}
