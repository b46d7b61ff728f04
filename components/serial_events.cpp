// TSerial's event thread: it waits for the port's events and hands each to the main thread,
// or assembles messages from the input itself.
#include <chrono>

#include "components/serial.h"
#include "components/thread_priority.h"

namespace {
// After a failed event wait the thread pauses before the next one, so that a persisting
// failure never becomes a busy loop.
constexpr auto kFailedWaitPause = std::chrono::milliseconds(100);
}  // namespace

bool TSerial::handOver(std::function<void()> fn, std::uint64_t generation) {
  return mainThread_.CallOnMainThread(
      [this, generation, f = std::move(fn)] {
        // The port may have been closed or reopened since the call was placed.
        bool current;
        {
          std::lock_guard lock(stateMutex_);
          current = open_ && generation == generation_;
        }
        if (!current) return;
        ++handlersRunning_;
        try {
          f();
        } catch (...) {
          --handlersRunning_;
          throw;
        }
        --handlersRunning_;
      },
      this);
}

void TSerial::eventThreadBody() {
  NameCurrentThread("kv-serial");
  std::uint64_t failureReportedFor = 0;
  std::unique_lock lock(stateMutex_);
  while (!terminate_) {
    if (!open_ || !eventsOn_) {
      inWait_ = false;
      stateChanged_.notify_all();
      // Idle without waking until the port is open with its events set, or the component goes.
      stateChanged_.wait(lock, [&] { return terminate_ || (open_ && eventsOn_); });
      continue;
    }
    inWait_ = true;
    const std::uint64_t generation = generation_;
    lock.unlock();

    const SerialDevice::WaitResult result = device_->WaitEvent();
    bool stopServing = false;
    if (!result.ok && open_ && !closing_) {
      const int code = result.error;
      if (result.lost) {
        // The device has gone: report it once and close the port. The thread stops serving
        // first so that the close finds it out of its wait.
        lock.lock();
        inWait_ = false;
        stateChanged_.notify_all();
        lock.unlock();
        handOver([this, code] { deviceLost(code); }, generation);
        stopServing = true;
      } else {
        // A failure that persists is reported once per open, not at every pass.
        if (failureReportedFor != generation) {
          failureReportedFor = generation;
          handOver([this, code] { ReportError(code); }, generation);
        }
        std::this_thread::sleep_for(kFailedWaitPause);
      }
    } else if (result.ok && !closing_ && open_) {
      dispatch(result.events, generation);
    }

    lock.lock();
    if (stopServing) {
      // Wait for the port to be closed (or reopened: a new generation), never spin on a
      // device that is gone.
      stateChanged_.wait(lock, [&] { return terminate_ || generation_ != generation || !open_; });
    }
  }
  inWait_ = false;
  eventThreadDone_ = true;
  stateChanged_.notify_all();
}

void TSerial::dispatch(std::uint32_t events, std::uint64_t generation) {
  // Each input line's change, with its state read now, in the order CTS, DSR, RLSD.
  const auto signal = [&](std::uint32_t event, std::uint32_t bit, eModemInSignal line,
                          bool TSerial::*state) {
    if (!(events & event)) return;
    const bool on = (device_->ModemStatus() & bit) != 0;
    handOver(
        [this, on, line, state] {
          this->*state = on;
          if (OnSignalChange) OnSignalChange(this, line, on);
        },
        generation);
  };
  signal(ev::CTS, ms::CTS_ON, msCTS, &TSerial::CTSState);
  signal(ev::DSR, ms::DSR_ON, msDSR, &TSerial::DSRState);
  signal(ev::RLSD, ms::RLSD_ON, msRLSD, &TSerial::RLSDState);
  if (events & ev::TXEMPTY)
    handOver(
        [this] {
          if (OnTxEmpty) OnTxEmpty(this);
        },
        generation);
  if (events & ev::BREAK)
    handOver(
        [this] {
          if (OnBreak) OnBreak(this);
        },
        generation);
  if (events & ev::RING)
    handOver(
        [this] {
          if (OnRing) OnRing(this);
        },
        generation);
  if (events & ev::RXCHAR) {
    if (rxEventMode_ == rxNormal) {
      {
        std::lock_guard lock(rxStampMutex_);
        if (!rxStamped_) rxSince_ = std::chrono::steady_clock::now();
        rxStamped_ = true;
      }
      handOver(
          [this] {
            if (OnRxData) OnRxData(this);
          },
          generation);
    } else {
      bool assigned = false;
      handOver([this, &assigned] { assigned = static_cast<bool>(OnMessage); }, generation);
      if (!assigned) return;
      std::uint8_t b = 0;
      while (open_ && !closing_ && ReadChar(b) >= 1) assembleMessage(b, generation);
    }
  }
}

void TSerial::assembleMessage(std::uint8_t b, std::uint64_t generation) {
  const char c = static_cast<char>(b);
  auto deliver = [&] {
    messageState_ = 3;
    handOver(
        [this, text = messageText_] {
          if (OnMessage) OnMessage(this, text);
        },
        generation);
  };
  if (messageState_ == 2) {
    messageText_.push_back(c);
    if (--appendLeft_ == 0) deliver();
  } else if (c == messageStartChar_) {
    messageText_.assign(1, c);
    messageState_ = 1;
  } else if (c == messageEndChar_) {
    if (messageState_ != 1) return;
    messageText_.push_back(c);
    if (messageAppendCount_ == 0) {
      deliver();
    } else {
      messageState_ = 2;
      appendLeft_ = messageAppendCount_;
    }
  } else if (messageState_ == 1) {
    messageText_.push_back(c);
  }
}
