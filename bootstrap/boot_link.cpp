#include "bootstrap/boot_link.h"

#include <cstdint>

#include "components/file_errors.h"

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

int HexByteValue(const std::string& pair) {
  const int high = pair.size() == 2 ? DigitValue(pair[0]) : -1;
  const int low = pair.size() == 2 ? DigitValue(pair[1]) : -1;
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
  core.W.Show(Ctl::BtnBackToStart);
  core.S.Step = kIdleStep;
}
