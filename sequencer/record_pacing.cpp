#include "sequencer/record_pacing.h"

#include <utility>

RecordReply ClassifyRecordReply(std::string_view line) {
  const auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; };
  std::size_t begin = 0, end = line.size();
  while (begin < end && isSpace(line[begin])) ++begin;
  while (end > begin && isSpace(line[end - 1])) --end;
  const std::string_view text = line.substr(begin, end - begin);
  if (text == "SEND BLOCK" || text == "S") return RecordReply::Request;
  if (text == "RESEND BLOCK" || text == "R") return RecordReply::Resend;
  if (line.find("FAILED") != std::string_view::npos) return RecordReply::Failed;
  return RecordReply::Unknown;
}

void RecordPacing::StartRun() {
  lineKeepsItsTime_ = true;
  heldReply_.clear();
  heldTicks_ = 0;
}

bool RecordPacing::Active() const {
  return RecordsOnRequest && core_.S.Step == kRecordRequestStep;
}

bool RecordPacing::BeforeTick() {
  TakeBackHeldReply();
  // A repeat that came while this tick was due is no more a request here than in the
  // receive event.
  return HoldEarlyRequest();
}

bool RecordPacing::DecideNow() {
  SequencerState& s = core_.S;
  if (!Active() || !core_.Serial1.Active() || s.ReplyText.find('\r') == std::string::npos)
    return false;
  // A line that ends before the record just sent can have reached the unit is no answer to
  // it: it is the request already served, said again (a unit that repeats itself, an echo on
  // the line). Taken at once, it would send the next record while the unit still writes this
  // one into its flash, where it would be lost without a word. Sending the record cleared
  // what had come before it; this came just after. It is held back, not lost, in case the
  // line is faster than its speed (see TakeBackHeldReply).
  if (HoldEarlyRequest()) return false;
  if (!heldReply_.empty() && OnlyNoiseAfterHeld()) return false;
  heldReply_.clear();
  // The wait's budget counts ticks; this look between two of them is not one.
  --s.WaitTicks;
  return true;
}

bool RecordPacing::HoldEarlyRequest() {
  SequencerState& s = core_.S;
  if (!Active() || !s.RecordRequested || !lineKeepsItsTime_ ||
      s.ReplyText.find('\r') == std::string::npos || !sender_.RecordStillOnTheLine(s.ReplyLineAt)) {
    return false;
  }
  heldReply_ = std::exchange(s.ReplyText, {});
  heldTicks_ = 0;
  return true;
}

bool RecordPacing::OnlyNoiseAfterHeld() {
  std::string& text = core_.S.ReplyText;
  const std::size_t lastEnd = text.rfind('\r');
  if (lastEnd == std::string::npos) return true;
  std::size_t begin = 0;
  while (begin <= lastEnd) {
    const std::size_t end = text.find('\r', begin);
    const std::string_view line(text.data() + begin, end + 1 - begin);
    if (ClassifyRecordReply(line) != RecordReply::Unknown) return false;
    begin = end + 1;
  }
  text.erase(0, lastEnd + 1);
  return true;
}

void RecordPacing::TakeBackHeldReply() {
  if (heldReply_.empty()) return;
  SequencerState& s = core_.S;
  // The unit's own answer has come after it, or the run has moved on. Noise on the line is
  // no answer: the request stays held.
  if (s.Step != kRecordRequestStep || !OnlyNoiseAfterHeld()) {
    heldReply_.clear();
    return;
  }
  if (++heldTicks_ < kHeldReplyTicks) return;
  // Nothing has come after it: the line brings answers sooner than its speed allows (a
  // pseudo-terminal, a virtual port), so the line held back was the answer, and none is held
  // back again in this run. What has begun to come since follows it.
  lineKeepsItsTime_ = false;
  s.ReplyText = std::exchange(heldReply_, {}) + s.ReplyText;
}
