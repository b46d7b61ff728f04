#include "loader_dialogue.h"

#include <cstdio>
#include <utility>

namespace rqsim {

namespace {

constexpr char kCr = '\r';
constexpr size_t kMaxLine = 32;

struct TextEntry {
  LoaderText id;
  const char* text;
};

// Texts that end in ": " are completed by a value and a CR when said.
constexpr TextEntry kTexts[] = {
    {LoaderText::Ready, "READY\r"},
    {LoaderText::Go, "GO\r"},
    {LoaderText::Erasing, "ERASING...\r"},
    {LoaderText::EraseComplete, "ERASE COMPLETE\r"},
    {LoaderText::EraseError, "ERASE ERROR: "},
    {LoaderText::BlockBaseIndex, "BLOCK BASE INDEX: "},
    {LoaderText::EraseBlockTimeout, "ERASE BLOCK TIMEOUT: "},
    {LoaderText::SendBlock, "SEND BLOCK\r"},
    {LoaderText::ResendBlock, "RESEND BLOCK\r"},
    {LoaderText::UploadFailed, "UPLOAD FAILED\r"},
    {LoaderText::InvalidStart, "INVALID START\r"},
    {LoaderText::UploadComplete, "UPLOAD COMPLETE. PLEASE CYCLE POWER.\r"},
    {LoaderText::ThankYou, "THANK YOU\r"},
};

bool isUpperHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

std::string withoutCr(const std::string& text) {
  return !text.empty() && text.back() == kCr ? text.substr(0, text.size() - 1) : text;
}

}  // namespace

LoaderTexts residentTexts() {
  LoaderTexts texts;
  for (const TextEntry& e : kTexts) texts[e.id] = e.text;
  return texts;
}

LoaderTexts textsFoundIn(const std::string& data) {
  LoaderTexts texts;
  for (const TextEntry& e : kTexts) {
    if (data.find(e.text) != std::string::npos) texts[e.id] = e.text;
  }
  return texts;
}

LoaderDialogue::LoaderDialogue(LoaderTexts texts, LoaderFaults faults, Flash& flash, UnitIo& io,
                               long byteTimeoutMs, long eraseMs, long programMs, uint32_t seed)
    : texts_(std::move(texts)),
      faults_(std::move(faults)),
      flash_(flash),
      io_(io),
      byteTimeoutMs_(byteTimeoutMs),
      eraseMs_(eraseMs),
      programMs_(programMs),
      random_(seed) {}

void LoaderDialogue::say(LoaderText text, const std::string& value) {
  auto it = texts_.find(text);
  if (it == texts_.end()) {
    io_.note("silent: the loader holds no text for this answer");
    return;
  }
  std::string line = it->second;
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, ": ") == 0) line += value + kCr;
  io_.send(line);
}

void LoaderDialogue::onBytes(std::string_view bytes, long now) {
  for (char c : bytes) {
    switch (state_) {
      case State::WaitU:
        if (c != 'U') break;
        ++stats_.uBytes;
        if (!faults_.neverReady && stats_.uBytes >= faults_.readyAfterU) {
          io_.note("handshake: READY for U number " + std::to_string(stats_.uBytes));
          say(LoaderText::Ready);
          state_ = State::WaitGo;
          buffer_.clear();
        }
        break;
      case State::WaitGo:
        onByteWaitGo(c, now);
        break;
      case State::Records:
        // Writing the flash keeps the loader from its receiver: what comes meanwhile is lost.
        if (writtenAt_ >= 0) {
          ++lostWhileWriting_;
        } else {
          onByteRecords(c, now);
        }
        break;
      case State::Erasing:
      case State::Finished:
      case State::Halted:
        break;  // busy or done: bytes fall on deaf ears
    }
  }
  lastByteAt_ = now;
}

void LoaderDialogue::onByteWaitGo(char c, long now) {
  // "U" bytes still on their way when READY went out are not part of a command.
  if (buffer_.empty() && (c == 'U' || c == '\n')) {
    if (c == 'U') ++stats_.uBytes;
    return;
  }
  if (c != kCr) {
    if (buffer_.size() < kMaxLine) buffer_.push_back(c);
    return;
  }
  std::string command = std::exchange(buffer_, {});
  auto go = texts_.find(LoaderText::Go);
  if (go != texts_.end() && command == withoutCr(go->second)) {
    ++stats_.goCount;
    io_.note("GO: erasing");
    say(LoaderText::Erasing);
    flash_.erase();
    state_ = State::Erasing;
    eraseDoneAt_ = now + eraseMs_;
  } else {
    io_.note("unknown command before GO: " + hexBytes(command));
    say(LoaderText::InvalidStart);
  }
}

void LoaderDialogue::finishErase() {
  for (int i = 0; i < faults_.eraseErrors; ++i) {
    char code[16];
    char base[16];
    std::snprintf(code, sizeof code, "%d", 2 + i % 5);
    std::snprintf(base, sizeof base, "%06X", static_cast<unsigned>((i + 1) * 0x10000) & 0x3F0000);
    io_.note("erase error report " + std::to_string(i + 1));
    say(LoaderText::EraseError, code);
    say(LoaderText::BlockBaseIndex, base);
  }
  if (faults_.eraseTimeout) {
    io_.note("erase block time-out; the loader stops");
    say(LoaderText::EraseBlockTimeout, "0040");
    state_ = State::Halted;
    return;
  }
  if (faults_.failInsteadOfEraseComplete) {
    io_.note("UPLOAD FAILED in place of ERASE COMPLETE (fault); the loader stops");
    say(LoaderText::UploadFailed);
    state_ = State::Halted;
    return;
  }
  io_.note("erase complete");
  say(LoaderText::EraseComplete);
  state_ = State::Records;
  rx_ = Rx::Idle;
  buffer_.clear();
  if (faults_.silentAfterRecords == 0) {
    silentSince_ = eraseDoneAt_;
    io_.note("going silent before the first record (fault)");
  }
  ask(false);
}

void LoaderDialogue::ask(bool again) {
  if (std::exchange(askTwice_, false)) {
    io_.note("the next request is said twice (fault)");
    ask(again);
  }
  if (again) {
    ++stats_.resendRequests;
    if (faults_.shortAnswers) {
      io_.send("R\r");
    } else {
      say(LoaderText::ResendBlock);
    }
  } else if (faults_.shortAnswers) {
    io_.send("S\r");
  } else {
    say(LoaderText::SendBlock);
  }
}

void LoaderDialogue::askWhenWritten(long now) {
  if (programMs_ <= 0) {
    ask(false);
    return;
  }
  // The unit counts whole milliseconds and now is this one's start: one more makes the write
  // take at least its time, never up to a millisecond less.
  writtenAt_ = now + programMs_ + 1;
}

void LoaderDialogue::onByteRecords(char c, long now) {
  if (rx_ == Rx::Idle) {
    // A record begins with its address in hex digits; "U" can only begin UPLOAD DONE.
    rx_ = c == 'U' ? Rx::Line : Rx::Record;
    buffer_.clear();
  }
  buffer_.push_back(c);
  if (rx_ == Rx::Record && buffer_.size() == kRecordSize) {
    onRecord(now);
    rx_ = Rx::Idle;
    buffer_.clear();
  } else if (rx_ == Rx::Line && (c == kCr || buffer_.size() > kMaxLine)) {
    onLine();
    if (state_ == State::Records) rx_ = Rx::Idle;
    buffer_.clear();
  }
}

void LoaderDialogue::onLine() {
  if (buffer_ == "UPLOAD DONE\r") {
    io_.note("UPLOAD DONE after " + std::to_string(stats_.recordsAccepted) + " records");
    if (faults_.noThankYou) {
      io_.note("no THANK YOU (fault)");
    } else if (faults_.failInsteadOfThankYou) {
      io_.note("UPLOAD FAILED in place of THANK YOU (fault)");
      say(LoaderText::UploadFailed);
    } else {
      say(LoaderText::ThankYou);
      stats_.thankYou = true;
    }
    state_ = State::Finished;
    return;
  }
  io_.note("unknown line during the records: " + hexBytes(buffer_));
}

void LoaderDialogue::onRecord(long now) {
  const long number = stats_.recordsAccepted + 1;
  if (silentSince_ >= 0) {
    if (faults_.silenceMs < 0 || now - silentSince_ < faults_.silenceMs) {
      io_.note("silent: record " + std::to_string(number) + " not answered");
      return;
    }
    silentSince_ = -1;
    faults_.silentAfterRecords = -1;
    io_.note("silence over");
  }

  askTwice_ = faults_.twiceRecords.take(number);
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < kRecordSize; ++i)
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(buffer_[i]));
  bool damaged = faults_.corruptRecordRate > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(
                                                      random_) < faults_.corruptRecordRate;
  bool addressOk = true;
  uint32_t address = 0;
  for (size_t i = 0; i < 6; ++i) {
    char c = buffer_[i];
    addressOk = addressOk && isUpperHex(c);
    address = address * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
  }
  if (damaged || sum != static_cast<uint8_t>(buffer_[kRecordSize - 1]) || !addressOk) {
    ++stats_.badRecords;
    io_.note(std::string(damaged ? "record damaged on the line (fault)" : "bad record") + ": " +
             (addressOk ? "checksum" : "address") + " wrong, record " + std::to_string(number));
    ask(true);
    return;
  }
  if (faults_.resendRecords.take(number)) {
    io_.note("RESEND BLOCK for record " + std::to_string(number) + " (fault)");
    ask(true);
    return;
  }
  if (faults_.unknownLineRecords.take(number)) {
    io_.note("OK for record " + std::to_string(number) + " (fault)");
    io_.send("OK\r");
    return;
  }
  if (faults_.failAtRecord == number) {
    io_.note("UPLOAD FAILED at record " + std::to_string(number) + " (fault)");
    say(LoaderText::UploadFailed);
    state_ = State::Halted;
    return;
  }
  if (!flash_.program(address, std::string_view(buffer_).substr(6, 128))) {
    io_.note("record address " + buffer_.substr(0, 6) + " lies outside the flash");
    say(LoaderText::UploadFailed);
    state_ = State::Halted;
    return;
  }
  ++stats_.recordsAccepted;
  if (faults_.silentAfterRecords >= 0 && stats_.recordsAccepted >= faults_.silentAfterRecords) {
    silentSince_ = now;
    io_.note("going silent after record " + std::to_string(stats_.recordsAccepted) + " (fault)");
    askWhenWritten(now);  // the last record is still answered; silence begins with the next one
    return;
  }
  askWhenWritten(now);
}

void LoaderDialogue::onTime(long now) {
  if (state_ == State::Erasing && now >= eraseDoneAt_) finishErase();
  if (state_ == State::Records && writtenAt_ >= 0 && now >= writtenAt_) {
    writtenAt_ = -1;
    if (lostWhileWriting_ > 0) {
      io_.note(std::to_string(std::exchange(lostWhileWriting_, 0)) +
               " bytes came while the flash was being written and were lost");
    }
    ask(false);
  }
  if (state_ == State::Records && rx_ != Rx::Idle && now - lastByteAt_ >= byteTimeoutMs_) {
    io_.note("incomplete " + std::string(rx_ == Rx::Record ? "record" : "line") + " of " +
             std::to_string(buffer_.size()) + " bytes dropped");
    bool wasRecord = rx_ == Rx::Record;
    rx_ = Rx::Idle;
    buffer_.clear();
    if (wasRecord && silentSince_ < 0) ask(true);
  }
  if (state_ == State::WaitGo && !buffer_.empty() && now - lastByteAt_ >= byteTimeoutMs_)
    buffer_.clear();
}

std::optional<long> LoaderDialogue::nextDeadline() const {
  if (state_ == State::Erasing) return eraseDoneAt_;
  if (state_ == State::Records && writtenAt_ >= 0) return writtenAt_;
  if ((state_ == State::Records && rx_ != Rx::Idle) ||
      (state_ == State::WaitGo && !buffer_.empty())) {
    return lastByteAt_ + byteTimeoutMs_;
  }
  return std::nullopt;
}

}  // namespace rqsim
