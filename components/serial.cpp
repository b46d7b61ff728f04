#include "components/serial.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <utility>

#include "components/port_map.h"

namespace {
// A close waits this long for the event thread to leave the port.
// While it waits, pending hand-overs of this port are dropped this often.
constexpr auto kCloseWaitSlice = std::chrono::milliseconds(5);
constexpr int kWriteCharBoundMs = 1000;
constexpr int kMinWriteStringBoundMs = 500;
constexpr int kReadWaitMs = 100;

constexpr int kSetRts = 3;
constexpr int kClrRts = 4;
constexpr int kSetDtr = 5;
constexpr int kClrDtr = 6;
}  // namespace

bool IsValidBaudrate(int rate) {
  return std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) != std::end(kBaudRates);
}

TSerial::TSerial(IMainThread& mainThread) : mainThread_(mainThread) {
  ShowErrorDialog = [](const std::string& text) { std::cerr << text << '\n'; };
  ProgramDir = ExecutableDir();
  device_ = MakeSerialDevice(&ProgramDir, &NamedDevices);
  ApplySettings();  // the record reflects the defaults from the start
}

TSerial::~TSerial() {
  SetActive(false);
  {
    std::lock_guard lock(stateMutex_);
    terminate_ = true;
  }
  stateChanged_.notify_all();
  if (eventThread_.joinable()) {
    // The thread may be waiting in a hand-over; drop those until it has gone.
    std::unique_lock lock(stateMutex_);
    while (!eventThreadDone_) {
      lock.unlock();
      mainThread_.CancelPending(this);
      lock.lock();
      stateChanged_.wait_for(lock, kCloseWaitSlice, [&] { return eventThreadDone_; });
    }
    lock.unlock();
    eventThread_.join();
  }
}

void TSerial::SetPort(int value) {
  if (value == port_) return;
  port_ = value;
  reapply();
}

void TSerial::SetBaudrate(int value) {
  if (!IsValidBaudrate(value)) {
    ShowErrorDialog("Baudrate is not valid");
    return;
  }
  if (value == baudrate_) return;
  baudrate_ = value;
  reapply();
}

void TSerial::SetParity(eParity value) {
  if (value == parity_) return;
  parity_ = value;
  reapply();
}

void TSerial::SetDataBits(eDataBits value) {
  if (value == dataBits_) return;
  dataBits_ = value;
  reapply();
}

void TSerial::SetStopBits(eStopBits value) {
  if (value == stopBits_) return;
  stopBits_ = value;
  reapply();
}

void TSerial::SetRxQueueSize(std::uint16_t value) {
  rxQueueSize_ = value;
  reapply();
}

void TSerial::SetTxQueueSize(std::uint16_t value) {
  txQueueSize_ = value;
  reapply();
}

void TSerial::SetFlowMode(eFlowControl value) {
  if (value == flowMode_) return;
  flowMode_ = value;
  reapply();
}

void TSerial::SetCheckParity(bool value) {
  if (value == checkParity_) return;
  checkParity_ = value;
  reapply();
}

std::string TSerial::DeviceName(int port) const {
  return device_->DeviceName(port);
}

void TSerial::reapply() {
  // A closed port only refreshes the settings record; the device sees it at the next open.
  if (!open_) {
    ApplySettings();
    return;
  }
  SetActive(true);
}

void TSerial::SetActive(bool value) {
  if (open_) closePort();
  if (value) openPort();
}

void TSerial::closePort() {
  if (!device_->Purge()) ReportError(device_->LastError());
  SetSignal(1, false);
  SetSignal(0, false);
  {
    std::lock_guard lock(stateMutex_);
    open_ = false;
    eventsOn_ = false;
  }
  closing_ = true;
  if (!device_->SetMask(0)) ReportError(device_->LastError());
  // Wait for the event thread to leave the port. A hand-over it has already placed would
  // wait for this very thread, so it is dropped rather than left to hold the close; a
  // handler therefore never runs against the closed port.
  // A close from inside one of this port's own handlers needs no wait: the event thread is
  // blocked in that very hand-over, out of its event wait, until the handler returns.
  // The wait has no limit: the device may not be closed while the thread can still use its
  // descriptor (a reused number would then be another file), and the mask of 0 above always
  // releases the event wait.
  if (handlersRunning_ == 0) {
    std::unique_lock lock(stateMutex_);
    while (inWait_) {
      lock.unlock();
      mainThread_.CancelPending(this);
      lock.lock();
      stateChanged_.wait_for(lock, kCloseWaitSlice, [&] { return !inWait_; });
    }
  }
  closing_ = false;
  if (!device_->Close()) ReportError(device_->LastError());
}

void TSerial::openPort() {
  int error = 0;
  std::string message;
  if (!device_->Open(port_, error, message)) {
    ReportError(error, message);
    return;
  }
  lost_ = false;
  if (!device_->SetupQueues(rxQueueSize_, txQueueSize_)) ReportError(device_->LastError());
  messageState_ = 0;
  appendLeft_ = 0;
  writeFailure_ = 0;
  {
    std::lock_guard lock(stateMutex_);
    ++generation_;
    open_ = true;
  }
  ApplySettings();
  SetSignal(1, true);
  SetSignal(0, true);
  StartEvents();
}

void TSerial::StartEvents() {
  device_->WatchModemLines(static_cast<bool>(OnSignalChange) || static_cast<bool>(OnRing));
  device_->WatchTxEmpty(static_cast<bool>(OnTxEmpty));
  if (!device_->SetMask(ev::kOpenMask)) ReportError(device_->LastError());
  {
    std::lock_guard lock(stateMutex_);
    eventsOn_ = true;
  }
  stateChanged_.notify_all();
  if (!eventThread_.joinable()) eventThread_ = std::thread([this] { eventThreadBody(); });
}

void TSerial::SetSignal(int line, bool on) {
  int function = 0;
  if (line == 0) function = on ? kSetRts : kClrRts;
  if (line == 1) function = on ? kSetDtr : kClrDtr;
  device_->Escape(function);
}

void TSerial::ApplySettings() {
  LineSettingsRecord r;
  r.DCBlength = sizeof(LineSettingsRecord);
  r.BaudRate = static_cast<std::uint32_t>(baudrate_);
  r.Flags = dcb::fBinary;
  if (checkParity_) r.Flags |= dcb::fParity;
  switch (flowMode_) {
    case fcNone:
      break;
    case fcRTS_CTS:
      r.Flags |= dcb::fOutxCtsFlow | dcb::fRtsHandshake;
      break;
    case fcDTR_DSR:
      r.Flags |= dcb::fOutxDsrFlow | dcb::fDtrHandshake;
      break;
    case fcXON_XOF:
      r.Flags |= dcb::fOutX | dcb::fInX;
      break;
  }
  r.XonLim = static_cast<std::uint16_t>(rxQueueSize_ / 3);
  r.XoffLim = static_cast<std::uint16_t>(rxQueueSize_ / 3);
  r.ByteSize = dataBits_ == d8bit ? 8 : 7;
  r.Parity = static_cast<std::uint8_t>(parity_);
  r.StopBits = stopBits_ == st2bit ? 2 : 0;
  r.XonChar = 17;
  r.XoffChar = 19;
  r.ErrorChar = 63;
  lineSettings_ = r;
  if (!open_) return;
  if (!device_->SetState(lineSettings_)) ReportError(device_->LastError());
  timeouts_.ReadIntervalTimeout = 0xFFFFFFFF;
  timeouts_.ReadTotalTimeoutMultiplier = 0;
  timeouts_.ReadTotalTimeoutConstant = 0;
  if (flowMode_ != fcNone) {
    timeouts_.WriteTotalTimeoutMultiplier = 0;
    timeouts_.WriteTotalTimeoutConstant = 10000;
  }
  if (!device_->SetTimeouts(timeouts_)) ReportError(device_->LastError());
}

std::int32_t TSerial::RxWaiting() {
  if (!open_) return 0;
  std::int32_t rx = 0, tx = 0;
  device_->QueueCounts(rx, tx);
  return rx;
}

std::int32_t TSerial::TxWaiting() {
  if (!open_) return 0;
  std::int32_t rx = 0, tx = 0;
  device_->QueueCounts(rx, tx);
  return tx;
}

void TSerial::WriteChar(std::uint8_t value) {
  write(&value, 1, kWriteCharBoundMs);
}

void TSerial::WriteString(const std::string& text) {
  const long long perChar = baudrate_ > 0 ? 20000 / baudrate_ : 0;
  long long bound = static_cast<long long>(text.size()) * perChar;
  if (bound < kMinWriteStringBoundMs) bound = kMinWriteStringBoundMs;
  if (bound > 3600000) bound = 3600000;
  write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), static_cast<int>(bound));
}

void TSerial::write(const std::uint8_t* data, std::size_t size, int boundMs) {
  if (lost_ && !open_) return;
  if (device_->Write(data, size, boundMs) == SerialDevice::IoResult::done) {
    writeFailure_ = 0;
    return;
  }
  // A record goes out one byte per write: a device that has gone would otherwise raise one
  // dialog per byte. The same failure again is reported once, until a write succeeds.
  const int code = device_->LastError();
  if (open_ && device_->IsLostDevice(code)) {
    deviceLost(code);
    return;
  }
  if (code != 0 && code == writeFailure_) {
    errorCode_ = code;
    return;
  }
  writeFailure_ = code;
  ReportError(code);
}

int TSerial::ReadChar(std::uint8_t& value) {
  std::uint8_t b = 0;
  const int n = device_->ReadByte(b, kReadWaitMs);
  if (n < 0) {
    // Reads come from the main thread, or from the event thread while it assembles messages.
    if (mainThread_.IsMainThread())
      ReportError(device_->LastError());
    else {
      const int code = device_->LastError();
      std::uint64_t gen;
      {
        std::lock_guard lock(stateMutex_);
        gen = generation_;
      }
      handOver([this, code] { ReportError(code); }, gen);
    }
    return 0;
  }
  if (n == 1) value = b;
  return n;
}

int TSerial::ReadString(std::string& text) {
  text.clear();
  bool stamped = false;
  std::chrono::steady_clock::time_point since;
  {
    // Taken before the bytes: what comes during the read is noted for the next one.
    std::lock_guard lock(rxStampMutex_);
    stamped = std::exchange(rxStamped_, false);
    since = rxSince_;
  }
  const int limit = rxQueueSize_ + 1;
  for (int i = 0; i < limit; ++i) {
    std::uint8_t b = 0;
    if (ReadChar(b) < 1) break;
    text.push_back(static_cast<char>(b));
  }
  lastReadAge_ = 0;
  if (stamped && !text.empty()) {
    lastReadAge_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  }
  return static_cast<int>(text.size());
}

void TSerial::ReportError(int code, const std::string& message) {
  errorCode_ = code;
  switch (notifyErrors_) {
    case neDialog:
      ShowError(code, message);
      break;
    case neEvent:
      if (OnError) OnError(this);
      break;
    case neNone:
      break;
  }
}

void TSerial::ShowError(int code, const std::string& message) {
  // The platform's words alone ("Bad file descriptor") would not say which port failed.
  ShowErrorDialog(message.empty() ? PortLabel() + ": " + device_->ErrorText(code) : message);
}

std::string TSerial::PortLabel() const {
  const std::string com = "COM" + std::to_string(port_);
  const std::string device = DeviceName(port_);
  return device.empty() || device.rfind("COM", 0) == 0 ? com : com + " (" + device + ")";
}

void TSerial::deviceLost(int code) {
  // A failed write and the event thread may both find the device gone, the second while the
  // first one's message is up: the user is told once.
  if (!open_ || lost_) return;
  lost_ = true;
  ReportError(code, PortLabel() + " is no longer there: " + device_->ErrorText(code));
  SetActive(false);
}
