// Records on request (the command line's --fast): the record wait is decided as soon as the
// unit's line has come, not on the next tick. A request that comes before the record just
// sent can have reached the unit is held back: it is the request already served, said again,
// unless the line brings answers sooner than its speed allows.
#pragma once

#include <string>
#include <string_view>

#include "sequencer/record_sender.h"
#include "sequencer/sequencer_core.h"

// A line from the loader while records go, blanks and control characters around it aside.
// Only whole lines count: a request is "SEND BLOCK" or "S", a resend "RESEND BLOCK" or "R".
// Matching a part of the line would take a damaged "RESEND BLOCK" ("PESEND BLOCK") for a
// request, and the record it asked for would never reach the unit.
enum class RecordReply { Request, Resend, Failed, Unknown };
RecordReply ClassifyRecordReply(std::string_view line);

class RecordPacing {
 public:
  RecordPacing(SequencerCore& core, RecordSender& sender) : core_(core), sender_(sender) {}

  // Off in the window, which sends one record per tick.
  bool RecordsOnRequest = false;
  // A held request is let through after this many ticks (about a second) with no answer of
  // the unit's own after it.
  static constexpr int kHeldReplyTicks = 17;

  // A new run: the line is trusted to keep its time again, and nothing is held.
  void StartRun();
  // At the start of a tick, before its step: gives a held request back when its time is up;
  // true when the tick's step is to be left out (a request has just been held back).
  bool BeforeTick();
  // After the receive event: true when the record wait is to be decided now.
  bool DecideNow();

 private:
  bool Active() const;
  // Holds back a line that ends before the record just sent can have reached the unit; true
  // when it did.
  bool HoldEarlyRequest();
  void TakeBackHeldReply();
  // Text come after a held request: false when it holds an answer of the unit's own, which
  // replaces the held one; otherwise its whole lines are noise, dropped, and true.
  bool OnlyNoiseAfterHeld();

  SequencerCore& core_;
  RecordSender& sender_;
  std::string heldReply_;
  int heldTicks_ = 0;
  bool lineKeepsItsTime_ = true;  // answers have come no sooner than the line's speed allows
};
