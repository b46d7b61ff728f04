// The flash-loader dialogue as the unit plays it: "U" -> READY, GO -> ERASING... and the erase,
// SEND BLOCK per record (RESEND BLOCK when its checksum is wrong; SEND BLOCK for the next one
// only once the record is written into the flash), UPLOAD DONE -> THANK YOU.
// The resident loader and the program loaded by the bootstrap both run it, each with its texts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "flash.h"
#include "options.h"
#include "sim_common.h"

namespace rqsim {

enum class LoaderText {
  Ready,
  Go,
  Erasing,
  EraseComplete,
  EraseError,
  BlockBaseIndex,
  EraseBlockTimeout,
  SendBlock,
  ResendBlock,
  UploadFailed,
  InvalidStart,
  UploadComplete,
  ThankYou,
};

// A missing text is one the loader cannot say (or, for GO, cannot recognise).
using LoaderTexts = std::map<LoaderText, std::string>;

// The texts as the unit's own loader holds them: with their CR, or ending in ": ".
LoaderTexts residentTexts();
// The texts found in a loaded program's data.
LoaderTexts textsFoundIn(const std::string& data);

struct LoaderStats {
  long uBytes = 0;
  long recordsAccepted = 0;
  long resendRequests = 0;
  long badRecords = 0;
  long goCount = 0;
  bool thankYou = false;
};

class LoaderDialogue {
 public:
  static constexpr size_t kRecordSize = 135;

  enum class State { WaitU, WaitGo, Erasing, Records, Finished, Halted };

  LoaderDialogue(LoaderTexts texts, LoaderFaults faults, Flash& flash, UnitIo& io,
                 long byteTimeoutMs, long eraseMs, long programMs, uint32_t seed);

  void onBytes(std::string_view bytes, long now);
  void onTime(long now);
  std::optional<long> nextDeadline() const;

  State state() const { return state_; }
  const LoaderStats& stats() const { return stats_; }

 private:
  enum class Rx { Idle, Record, Line };

  void say(LoaderText text, const std::string& value = {});
  void onByteWaitGo(char c, long now);
  void onByteRecords(char c, long now);
  void onRecord(long now);
  void onLine();
  void ask(bool again);
  void askWhenWritten(long now);
  void finishErase();

  LoaderTexts texts_;
  LoaderFaults faults_;
  Flash& flash_;
  UnitIo& io_;
  long byteTimeoutMs_;
  long eraseMs_;
  long programMs_;
  std::mt19937 random_;

  State state_ = State::WaitU;
  Rx rx_ = Rx::Idle;
  std::string buffer_;
  long lastByteAt_ = 0;
  long eraseDoneAt_ = 0;
  long silentSince_ = -1;
  long writtenAt_ = -1;  // while the flash is being written: when SEND BLOCK follows
  long lostWhileWriting_ = 0;
  bool askTwice_ = false;  // the request that answers the current record goes out twice
  LoaderStats stats_;
};

}  // namespace rqsim
