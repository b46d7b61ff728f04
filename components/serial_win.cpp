// The serial device over the Win32 communications interface: overlapped transfers signalled
// through a completion event, and WaitCommEvent on a record of its own for the event thread.
#include <windows.h>

#include <cstring>
#include <mutex>

#include "components/serial.h"

static_assert(sizeof(DCB) == sizeof(LineSettingsRecord), "the settings record is a DCB");

namespace {

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

bool isLostDeviceError(DWORD code) {
  return code == ERROR_ACCESS_DENIED || code == ERROR_BAD_COMMAND || code == ERROR_GEN_FAILURE ||
         code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_DEVICE_REMOVED ||
         code == ERROR_INVALID_HANDLE;
}

class WinSerialDevice final : public SerialDevice {
 public:
  explicit WinSerialDevice(const std::map<int, std::string>* named)
      : named_(named), io_(true), wait_(true) {}
  ~WinSerialDevice() override { Close(); }

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

  bool SetMask(std::uint32_t mask) override { return SetCommMask(handle_, mask) ? true : fail(); }

  WaitResult WaitEvent() override {
    DWORD mask = 0;
    ResetEvent(wait_.event());
    if (!WaitCommEvent(handle_, &mask, wait_.get())) {
      const DWORD err = GetLastError();
      if (err != ERROR_IO_PENDING) return {false, isLostDeviceError(err), 0, static_cast<int>(err)};
      DWORD unused = 0;
      if (!GetOverlappedResult(handle_, wait_.get(), &unused, TRUE)) {
        const DWORD e = GetLastError();
        return {false, isLostDeviceError(e), 0, static_cast<int>(e)};
      }
    }
    wait_.zeroOffsets();
    return {true, false, mask, 0};
  }

  std::uint32_t ModemStatus() override {
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
    if (WriteFile(handle_, data, static_cast<DWORD>(size), &done, io_.get())) return IoResult::done;
    if (GetLastError() != ERROR_IO_PENDING) return failResult();
    return finish(static_cast<DWORD>(boundMs), done);
  }

  int ReadByte(std::uint8_t& value, int boundMs) override {
    std::lock_guard lock(ioMutex_);
    DWORD done = 0;
    std::uint8_t b = 0;
    if (!ReadFile(handle_, &b, 1, &done, io_.get())) {
      if (GetLastError() != ERROR_IO_PENDING) {
        lastError_ = static_cast<int>(GetLastError());
        return -1;
      }
      const IoResult r = finish(static_cast<DWORD>(boundMs), done);
      if (r == IoResult::timedOut) return 0;  // no byte, no report
      if (r == IoResult::failed) return -1;
    } else {
      io_.zeroOffsets();
    }
    if (done == 1) value = b;
    return static_cast<int>(done);
  }

  int LastError() const override { return lastError_; }

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
    lastError_ = static_cast<int>(GetLastError());
    return IoResult::failed;
  }

  const std::map<int, std::string>* named_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  Overlapped io_;    // every read and write
  Overlapped wait_;  // the event thread's event wait
  std::mutex ioMutex_;
  int lastError_ = 0;
};
}  // namespace

std::unique_ptr<SerialDevice> MakeSerialDevice(const std::string*,
                                               const std::map<int, std::string>* namedDevices) {
  return std::make_unique<WinSerialDevice>(namedDevices);
}
