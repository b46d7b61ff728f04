// The serial device over the Win32 communications interface: overlapped transfers signalled
// through a completion event, and WaitCommEvent on a record of its own for the event thread.
//
// Some drivers refuse the event wait, or take it and never signal it (Wine's serial layer on a
// pseudo-terminal, which lacks modem lines; some USB adapters' drivers). For such a port the
// event thread falls back to watching the queue counts at short intervals, and reads then take
// only bytes already queued, so that the component behaves as it does on a sound driver.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "components/serial.h"

static_assert(sizeof(DCB) == sizeof(LineSettingsRecord), "the settings record is a DCB");

namespace {

// A pending event wait is looked at this often: new input that it has not reported by then
// means the driver never signals it.
constexpr DWORD kStalledWaitCheckMs = 500;
// Input may land in the queue a moment before a sound driver completes the wait that reports
// it: the wait gets this long more before it is judged.
constexpr DWORD kReportGraceMs = 50;
// Without the event wait, the queue counts and input lines are read this often.
constexpr DWORD kPollMs = 10;

class Overlapped {
 public:
  explicit Overlapped(bool manualReset) {
    std::memset(&record_, 0, sizeof record_);
    record_.hEvent = CreateEventA(nullptr, manualReset ? TRUE : FALSE, TRUE, nullptr);
  }
  ~Overlapped() {
    if (record_.hEvent) CloseHandle(record_.hEvent);
  }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;
  OVERLAPPED* get() { return &record_; }
  HANDLE event() const { return record_.hEvent; }
  void zeroOffsets() {
    record_.Offset = 0;
    record_.OffsetHigh = 0;
  }

 private:
  OVERLAPPED record_;
};

// The errors of a call on a handle that this port holds open when its device has gone (a USB
// adapter pulled out). The handle stays ours until it is closed, but the system fails each
// call on it: with ERROR_ACCESS_DENIED (a device that is being removed), ERROR_BAD_COMMAND (a
// device no longer in a state to take requests), ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED
// or ERROR_DEVICE_REMOVED, as the adapter's driver has it, or with ERROR_INVALID_HANDLE. None of
// them can come from a present device: access was granted at the open, the handle is valid
// until we close it, and the driver took these same requests before. A time-out
// (ERROR_TIMEOUT) or a cancelled transfer (ERROR_OPERATION_ABORTED, which our own CancelIo
// and PurgeComm give too) is no sign of a lost device.
bool isLostDeviceError(DWORD code) {
  return code == ERROR_ACCESS_DENIED || code == ERROR_BAD_COMMAND || code == ERROR_GEN_FAILURE ||
         code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_DEVICE_REMOVED ||
         code == ERROR_INVALID_HANDLE;
}

// Wine, when the pseudo-terminal behind a COM port is hung up (the unit's end closed), fails
// writes and the status query with ERROR_NOT_READY and ends reads with ERROR_BROKEN_PIPE, and
// a pending event wait with ERROR_OPERATION_ABORTED. A present port's driver answers the status
// query from its own counts, so a status query refused as "not ready" is a device that has
// gone; a transfer's failure alone, with such a code, is not taken for one.
bool isLostStatusError(DWORD code) {
  return isLostDeviceError(code) || code == ERROR_NOT_READY;
}

class WinSerialDevice final : public SerialDevice {
 public:
  explicit WinSerialDevice(const std::map<int, std::string>* named)
      : named_(named),
        io_(true),
        wait_(true),
        wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
  ~WinSerialDevice() override {
    Close();
    if (wake_) CloseHandle(wake_);
  }

  bool Open(int port, int& error, std::string& message) override {
    // The \\.\ form reaches every COM number, also those above 9, and a named device.
    const std::string device = DeviceName(port);
    const std::string name = device.rfind("\\\\", 0) == 0 ? device : "\\\\.\\" + device;
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      lastError_ = static_cast<int>(GetLastError());
      error = lastError_;
      message.clear();  // the platform's own text
      return false;
    }
    handle_ = h;
    polling_ = false;
    gone_ = false;
    txPending_ = false;
    consumed_ = 0;
    rxSeen_ = 0;
    lastModem_ = 0;
    return true;
  }

  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const BOOL ok = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok ? true : fail();
  }

  bool SetupQueues(std::uint16_t rx, std::uint16_t tx) override {
    return SetupComm(handle_, rx, tx) ? true : fail();
  }

  bool SetState(const LineSettingsRecord& settings) override {
    DCB dcb;
    std::memcpy(&dcb, &settings, sizeof dcb);
    return SetCommState(handle_, &dcb) ? true : fail();
  }

  bool SetTimeouts(const TimeoutsRecord& t) override {
    COMMTIMEOUTS ct;
    ct.ReadIntervalTimeout = t.ReadIntervalTimeout;
    ct.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    ct.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    ct.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    ct.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    return SetCommTimeouts(handle_, &ct) ? true : fail();
  }

  void Escape(int function) override {
    const DWORD code =
        (function >= SETRTS && function <= CLRDTR) ? static_cast<DWORD>(function) : 0;
    EscapeCommFunction(handle_, code);
  }

  bool SetMask(std::uint32_t mask) override {
    mask_ = mask;
    SetEvent(wake_);  // a polling event thread sees the new mask at once
    return SetCommMask(handle_, mask) ? true : fail();
  }

  void WatchModemLines(bool on) override { watchLines_ = on; }

  WaitResult WaitEvent() override {
    if (polling_) return pollEvents();
    DWORD failure = 0;
    const std::uint64_t arrivedBefore = arrivals(failure);
    DWORD mask = 0;
    ResetEvent(wait_.event());
    if (!WaitCommEvent(handle_, &mask, wait_.get())) {
      const DWORD err = GetLastError();
      if (err != ERROR_IO_PENDING) {
        const DWORD lost = lostCode(err);
        if (lost != 0 || mask_ == 0) {
          return {false, lost != 0, 0, static_cast<int>(lost != 0 ? lost : err)};
        }
        // The driver refuses the event wait.
        return startPolling();
      }
      while (WaitForSingleObject(wait_.event(), kStalledWaitCheckMs) == WAIT_TIMEOUT) {
        failure = 0;
        const bool unreported = arrivals(failure) > arrivedBefore;
        const bool lost = isLostStatusError(failure);
        if (!lost && mask_ != 0 && !unreported) continue;
        if (!lost && mask_ != 0 &&
            WaitForSingleObject(wait_.event(), kReportGraceMs) == WAIT_OBJECT_0) {
          break;
        }
        // A device gone under a wait that its driver does not end, a mask of 0 that the driver
        // did not pass on, or new input that it did not report: this driver's event wait
        // cannot be relied on.
        CancelIo(handle_);
        DWORD unused = 0;
        GetOverlappedResult(handle_, wait_.get(), &unused, TRUE);
        wait_.zeroOffsets();
        if (lost) {
          gone_ = true;
          return {false, true, 0, static_cast<int>(failure)};
        }
        if (mask_ == 0) return {};
        return startPolling();
      }
      DWORD unused = 0;
      if (!GetOverlappedResult(handle_, wait_.get(), &unused, FALSE)) {
        const DWORD e = GetLastError();
        const DWORD lost = lostCode(e);
        return {false, lost != 0, 0, static_cast<int>(lost != 0 ? lost : e)};
      }
    }
    wait_.zeroOffsets();
    if (mask & ev::RXCHAR) rxSeen_ = arrivals(failure);
    return {true, false, mask, 0};
  }

  std::uint32_t ModemStatus() override {
    if (polling_) return lastModem_;
    DWORD status = 0;
    GetCommModemStatus(handle_, &status);
    return status;
  }

  bool QueueCounts(std::int32_t& rx, std::int32_t& tx) override {
    DWORD errors = 0;
    COMSTAT stat;
    std::memset(&stat, 0, sizeof stat);
    const BOOL ok = ClearCommError(handle_, &errors, &stat);
    rx = static_cast<std::int32_t>(stat.cbInQue);
    tx = static_cast<std::int32_t>(stat.cbOutQue);
    return ok ? true : fail();
  }

  bool Purge() override {
    return PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT) ? true : fail();
  }

  IoResult Write(const std::uint8_t* data, std::size_t size, int boundMs) override {
    std::lock_guard lock(ioMutex_);
    DWORD done = 0;
    IoResult result = IoResult::done;
    if (!WriteFile(handle_, data, static_cast<DWORD>(size), &done, io_.get())) {
      if (GetLastError() != ERROR_IO_PENDING) return failResult();
      result = finish(static_cast<DWORD>(boundMs), done);
    }
    if (result == IoResult::done) txPending_ = true;
    return result;
  }

  int ReadByte(std::uint8_t& value, int boundMs) override {
    std::lock_guard lock(ioMutex_);
    DWORD done = 0;
    std::uint8_t b = 0;
    // Reads return at once with what has arrived: without a sound event wait the driver is not
    // trusted to keep to the read time-outs either, so an empty queue is not read.
    if (polling_) {
      DWORD errors = 0;
      COMSTAT stat;
      std::memset(&stat, 0, sizeof stat);
      if (ClearCommError(handle_, &errors, &stat)) {
        if (stat.cbInQue == 0) return 0;
      } else if (isLostStatusError(GetLastError())) {
        gone_ = true;
        return 0;
      }
    }
    // A device that has gone is reported once, by the event thread, not by every read.
    if (!ReadFile(handle_, &b, 1, &done, io_.get())) {
      if (GetLastError() != ERROR_IO_PENDING) {
        failResult();
        return IsLostDevice(lastError_) ? 0 : -1;
      }
      const IoResult r = finish(static_cast<DWORD>(boundMs), done);
      if (r == IoResult::timedOut) return 0;  // no byte, no report
      if (r == IoResult::failed) return IsLostDevice(lastError_) ? 0 : -1;
    } else {
      io_.zeroOffsets();
    }
    if (done == 1) {
      value = b;
      ++consumed_;
    }
    return static_cast<int>(done);
  }

  int LastError() const override { return lastError_; }

  bool IsLostDevice(int code) const override {
    return isLostDeviceError(static_cast<DWORD>(code)) ||
           (gone_ && static_cast<DWORD>(code) == ERROR_NOT_READY);
  }

  std::string ErrorText(int code) const override {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string out = n && text ? std::string(text, n) : "Error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' '))
      out.pop_back();
    return out;
  }

  std::string DeviceName(int port) const override {
    if (named_) {
      if (const auto it = named_->find(port); it != named_->end()) return it->second;
    }
    return "COM" + std::to_string(port);
  }

 private:
  // Waits for a started transfer. A transfer that outlives its bound is cancelled and its
  // end awaited: the buffer and the shared record must not be left to the driver.
  IoResult finish(DWORD boundMs, DWORD& done) {
    const DWORD w = WaitForSingleObject(io_.event(), boundMs);
    if (w == WAIT_OBJECT_0) {
      const BOOL ok = GetOverlappedResult(handle_, io_.get(), &done, FALSE);
      ResetEvent(io_.event());
      io_.zeroOffsets();
      return ok ? IoResult::done : failResult();
    }
    const DWORD err = w == WAIT_TIMEOUT ? static_cast<DWORD>(ERROR_TIMEOUT) : GetLastError();
    CancelIo(handle_);
    DWORD ignored = 0;
    GetOverlappedResult(handle_, io_.get(), &ignored, TRUE);
    ResetEvent(io_.event());
    io_.zeroOffsets();
    done = 0;
    lastError_ = static_cast<int>(err);
    return w == WAIT_TIMEOUT ? IoResult::timedOut : IoResult::failed;
  }
  bool fail() {
    lastError_ = static_cast<int>(GetLastError());
    return false;
  }
  IoResult failResult() {
    const DWORD code = GetLastError();
    const DWORD lost = lostCode(code);
    lastError_ = static_cast<int>(lost != 0 ? lost : code);
    return IoResult::failed;
  }
  // The code that tells of a lost device, for a call that failed with `code`: that code when it
  // says so itself, else the status query's refusal when the query is refused too; 0 for a
  // device that is still there.
  DWORD lostCode(DWORD code) {
    if (isLostDeviceError(code)) return code;
    DWORD errors = 0;
    COMSTAT stat;
    std::memset(&stat, 0, sizeof stat);
    if (ClearCommError(handle_, &errors, &stat)) return 0;
    const DWORD refusal = GetLastError();
    if (!isLostStatusError(refusal)) return 0;
    gone_ = true;
    return refusal;
  }

  // Bytes ever taken plus bytes queued, counted with no read in between: it grows only with
  // new input, whatever the handlers read meanwhile. `failure` is set when the queue could not
  // be read.
  std::uint64_t arrivals(DWORD& failure) {
    std::lock_guard lock(ioMutex_);
    DWORD errors = 0;
    COMSTAT stat;
    std::memset(&stat, 0, sizeof stat);
    if (!ClearCommError(handle_, &errors, &stat)) failure = GetLastError();
    return consumed_ + stat.cbInQue;
  }

  WaitResult startPolling() {
    polling_ = true;
    linesKnown_ = false;
    return pollEvents();
  }

  // The events of the mask as the queue counts and the input lines show them: new input, an
  // output queue that has run empty after a write, and changes of the input lines. Returns
  // with no events when the mask is set to 0, as the event wait does.
  WaitResult pollEvents() {
    while (true) {
      const std::uint32_t mask = mask_;
      if (mask == 0) return {};
      std::uint32_t events = 0;
      std::uint64_t arrived = 0;
      {
        std::lock_guard lock(ioMutex_);
        DWORD errors = 0;
        COMSTAT stat;
        std::memset(&stat, 0, sizeof stat);
        if (!ClearCommError(handle_, &errors, &stat)) {
          const DWORD err = GetLastError();
          if (isLostStatusError(err)) {
            gone_ = true;
            return {false, true, 0, static_cast<int>(err)};
          }
        }
        arrived = consumed_ + stat.cbInQue;
        if (txPending_ && stat.cbOutQue == 0) {
          txPending_ = false;
          events |= ev::TXEMPTY;
        }
      }
      if (arrived > rxSeen_) events |= ev::RXCHAR;
      // The input lines cost a call at every look: they are read only while a handler wants
      // them, and changes are counted from the first reading after that.
      DWORD status = 0;
      if (!watchLines_) {
        linesKnown_ = false;
      } else if (GetCommModemStatus(handle_, &status)) {
        const std::uint32_t changed = linesKnown_ ? status ^ lastModem_ : 0;
        if (changed & MS_CTS_ON) events |= ev::CTS;
        if (changed & MS_DSR_ON) events |= ev::DSR;
        if (changed & MS_RLSD_ON) events |= ev::RLSD;
        if ((changed & MS_RING_ON) && !(status & MS_RING_ON)) events |= ev::RING;
        lastModem_ = status;
        linesKnown_ = true;
      }
      events &= mask;
      if (events) {
        if (events & ev::RXCHAR) rxSeen_ = arrived;
        return {true, false, events, 0};
      }
      WaitForSingleObject(wake_, kPollMs);
    }
  }

  const std::map<int, std::string>* named_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  Overlapped io_;    // every read and write
  Overlapped wait_;  // the event thread's event wait
  HANDLE wake_;      // set with each new mask, so that polling sees it at once
  std::mutex ioMutex_;
  int lastError_ = 0;
  std::atomic<std::uint32_t> mask_{0};
  std::atomic<bool> polling_{false};  // this open's driver gave no sound event wait
  std::atomic<bool> gone_{false};     // this open's status query was refused: the device is gone
  std::uint64_t consumed_ = 0;        // guarded by ioMutex_: bytes taken since the open
  bool txPending_ = false;            // guarded by ioMutex_: written, not yet seen sent
  std::uint64_t rxSeen_ = 0;          // event thread: arrivals at the last input event reported
  std::atomic<bool> watchLines_{false};
  DWORD lastModem_ = 0;      // event thread, while polling
  bool linesKnown_ = false;  // event thread: lastModem_ is a reading of this open's lines
};
}  // namespace

std::unique_ptr<SerialDevice> MakeSerialDevice(const std::string*,
                                               const std::map<int, std::string>* namedDevices) {
  return std::make_unique<WinSerialDevice>(namedDevices);
}
