// TSerial: the program's serial port component. It owns one port ("COM1".."COM9"), applies the
// line settings, sends and reads bytes, and watches the port on an event thread of its own whose
// events reach the owner on the main thread through the IMainThread hand-over.
// The logic lives in serial.cpp; serial_posix.cpp and serial_win.cpp supply the device.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "components/component.h"
#include "components/device_kind.h"
#include "components/main_thread.h"
#include "components/serial_port.h"

enum eParity { paNone, paOdd, paEven, paMark, paSpace };
enum eDataBits { d7bit, d8bit };
enum eStopBits { st1bit, st2bit };
enum eFlowControl { fcNone, fcRTS_CTS, fcDTR_DSR, fcXON_XOF };
enum eOpModes { rxNormal, rxMessage };
enum eNotifyErr { neDialog, neEvent, neNone };
enum eModemInSignal { msCTS, msDSR, msRLSD };

using TRxMessageEvent = std::function<void(TComponent* Sender, const std::string& RxMessage)>;
using TSignalChangeEvent =
    std::function<void(TComponent* Sender, eModemInSignal Signal, bool SignalState)>;
using TWriteCompletedEvent = std::function<void()>;

// The line-settings record as the Windows DCB lays it out (28 bytes). It is kept on every
// platform: the POSIX layer translates it to termios, and tests inspect it.
struct LineSettingsRecord {
  std::uint32_t DCBlength = 0;
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(LineSettingsRecord) == 28);

// Flag bits of LineSettingsRecord::Flags.
namespace dcb {
constexpr std::uint32_t fBinary = 0x1;
constexpr std::uint32_t fParity = 0x2;
constexpr std::uint32_t fOutxCtsFlow = 0x4;
constexpr std::uint32_t fOutxDsrFlow = 0x8;
constexpr std::uint32_t fDtrHandshake = 0x20;  // fDtrControl = DTR_CONTROL_HANDSHAKE
constexpr std::uint32_t fOutX = 0x100;
constexpr std::uint32_t fInX = 0x200;
constexpr std::uint32_t fRtsHandshake = 0x2000;  // fRtsControl = RTS_CONTROL_HANDSHAKE
}  // namespace dcb

// Read and write time-outs, as COMMTIMEOUTS holds them.
struct TimeoutsRecord {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};

// Port events (the Windows EV_ values).
namespace ev {
constexpr std::uint32_t RXCHAR = 0x01;
constexpr std::uint32_t TXEMPTY = 0x04;
constexpr std::uint32_t CTS = 0x08;
constexpr std::uint32_t DSR = 0x10;
constexpr std::uint32_t RLSD = 0x20;
constexpr std::uint32_t BREAK = 0x40;
constexpr std::uint32_t RING = 0x100;
constexpr std::uint32_t kOpenMask = 0x17D;
}  // namespace ev

// Modem status bits.
namespace ms {
constexpr std::uint32_t CTS_ON = 0x10;
constexpr std::uint32_t DSR_ON = 0x20;
constexpr std::uint32_t RING_ON = 0x40;
constexpr std::uint32_t RLSD_ON = 0x80;
}  // namespace ms

// What one platform's serial interface offers. One object per TSerial; it holds at most one
// open device. Every call but WaitEvent and SetMask runs on the main thread.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  struct WaitResult {
    bool ok = true;     // false: the wait failed, `error` says why
    bool lost = false;  // the device has gone (unplugged, hung up): stop serving it
    std::uint32_t events = 0;
    int error = 0;
  };
  enum class IoResult { done, timedOut, failed };

  // Opens the device of `port` exclusively. On failure returns false with `error` and
  // `message` (the text the user sees) filled.
  virtual bool Open(int port, int& error, std::string& message) = 0;
  virtual bool Close() = 0;
  virtual bool SetupQueues(std::uint16_t rx, std::uint16_t tx) = 0;
  virtual bool SetState(const LineSettingsRecord& settings) = 0;
  virtual bool SetTimeouts(const TimeoutsRecord& timeouts) = 0;
  virtual void Escape(int function) = 0;         // 3 SETRTS, 4 CLRRTS, 5 SETDTR, 6 CLRDTR; else 0
  virtual bool SetMask(std::uint32_t mask) = 0;  // mask 0 releases a pending WaitEvent
  // Whether the input lines (CTS, DSR, RLSD, RING) are watched at all: only a port with a
  // handler for them needs it, and on some systems watching costs a thread of its own.
  virtual void WatchModemLines(bool) {}
  // Whether the end of output is watched at all: only a port with a handler for it needs it,
  // and on some systems it can only be had by looking at the output queue now and then.
  virtual void WatchTxEmpty(bool) {}
  virtual WaitResult WaitEvent() = 0;       // event thread
  virtual std::uint32_t ModemStatus() = 0;  // event thread; 0 when unknown
  virtual bool QueueCounts(std::int32_t& rx, std::int32_t& tx) = 0;
  virtual bool Purge() = 0;
  virtual IoResult Write(const std::uint8_t* data, std::size_t size, int boundMs) = 0;
  // Takes at most one byte, waiting at most `boundMs` for it: 1 taken, 0 none, -1 failed.
  virtual int ReadByte(std::uint8_t& value, int boundMs) = 0;

  virtual int LastError() const = 0;
  virtual std::string ErrorText(int code) const = 0;
  // Whether a failed transfer's error means that the device itself has gone (a USB adapter
  // pulled out), as opposed to a failure of one transfer.
  virtual bool IsLostDevice(int) const { return false; }
  // The device that `port` stands for ("COM3", "/dev/ttyUSB0"), empty when none.
  virtual std::string DeviceName(int port) const = 0;
};

// Made by the platform layer. `programDir` is where the port map file lives; `namedDevices`
// names devices for port numbers ahead of the port map, for this device object alone.
std::unique_ptr<SerialDevice> MakeSerialDevice(const std::string* programDir,
                                               const std::map<int, std::string>* namedDevices);

// The accepted baud rates, in order.
inline constexpr int kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};
bool IsValidBaudrate(int rate);

class TSerial : public TComponent, public ISerialPort {
 public:
  // `mainThread` must outlive the component.
  explicit TSerial(IMainThread& mainThread);
  ~TSerial() override;

  int Port() const override { return port_; }
  void SetPort(int value) override;
  int Baudrate() const override { return baudrate_; }
  void SetBaudrate(int value) override;
  eParity Parity() const { return parity_; }
  void SetParity(eParity value);
  eDataBits DataBits() const { return dataBits_; }
  void SetDataBits(eDataBits value);
  eStopBits StopBits() const { return stopBits_; }
  void SetStopBits(eStopBits value);
  std::uint16_t RxQueueSize() const { return rxQueueSize_; }
  void SetRxQueueSize(std::uint16_t value);
  std::uint16_t TxQueueSize() const { return txQueueSize_; }
  void SetTxQueueSize(std::uint16_t value);
  eFlowControl FlowMode() const { return flowMode_; }
  void SetFlowMode(eFlowControl value);
  bool CheckParity() const { return checkParity_; }
  void SetCheckParity(bool value);
  eOpModes RxEventMode() const { return rxEventMode_; }
  void SetRxEventMode(eOpModes value) { rxEventMode_ = value; }
  char MessageStartChar() const { return messageStartChar_; }
  void SetMessageStartChar(char value) { messageStartChar_ = value; }
  char MessageEndChar() const { return messageEndChar_; }
  void SetMessageEndChar(char value) { messageEndChar_ = value; }
  std::uint16_t MessageAppendCount() const { return messageAppendCount_; }
  void SetMessageAppendCount(std::uint16_t value) { messageAppendCount_ = value; }
  eNotifyErr NotifyErrors() const { return notifyErrors_; }
  void SetNotifyErrors(eNotifyErr value) { notifyErrors_ = value; }

  std::int32_t RxWaiting();
  std::int32_t TxWaiting();
  std::int32_t ErrorCode() const { return errorCode_; }

  bool Active() const override { return open_; }
  void SetActive(bool value) override;

  void WriteChar(std::uint8_t value) override;
  void WriteString(const std::string& text) override;
  int ReadChar(std::uint8_t& value);
  int ReadString(std::string& text) override;
  double InputAge() const override { return lastReadAge_; }

  std::string DeviceName(int port) const override;
  bool IsRealDevice() const override { return IsHardwareSerialDevice(DeviceName(port_)); }

  // The record last built from the properties, and the time-outs last built.
  const LineSettingsRecord& LineSettings() const { return lineSettings_; }
  const TimeoutsRecord& Timeouts() const { return timeouts_; }
  // The message being assembled, or the last one delivered.
  const std::string& MessageText() const { return messageText_; }
  // True once the event thread has been started (the first successful open).
  bool EventThreadStarted() const { return eventThread_.joinable(); }

  TNotifyEvent OnTxEmpty;
  TRxMessageEvent OnMessage;
  TNotifyEvent OnError;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TSignalChangeEvent OnSignalChange;
  TWriteCompletedEvent OnWriteCompleted;  // never raised

  // The front end's modal error dialog (error icon, one OK button). Defaults to stderr.
  std::function<void(const std::string& text)> ShowErrorDialog;
  // Folder of the port map file (ports.txt); the executable's folder by default.
  std::string ProgramDir;
  // Devices named for port numbers in this port alone, ahead of KVUFLASH_PORTS and ports.txt:
  // several units in one process each reach their own adapter without touching the process's
  // environment, which every port reads. Changes take effect at the next open.
  std::map<int, std::string> NamedDevices;

 private:
  void reapply();
  void write(const std::uint8_t* data, std::size_t size, int boundMs);
  void closePort();
  void openPort();
  void ApplySettings();
  void SetSignal(int line, bool on);
  void StartEvents();
  void ReportError(int code, const std::string& message = {});
  void ShowError(int code, const std::string& message);
  void eventThreadBody();
  void dispatch(std::uint32_t events, std::uint64_t generation);
  void assembleMessage(std::uint8_t b, std::uint64_t generation);
  // Event thread: runs `fn` on the main thread unless the port has since been closed or
  // reopened; returns false when the call was dropped.
  bool handOver(std::function<void()> fn, std::uint64_t generation);
  // "COM3" or "COM3 (/dev/ttyUSB0)": how messages name the port.
  std::string PortLabel() const;
  // The device has gone: said once, and the port closed; writes until the next open are
  // dropped without a word, since the user has been told.
  void deviceLost(int code);

  IMainThread& mainThread_;
  std::unique_ptr<SerialDevice> device_;

  int port_ = 1;
  int baudrate_ = 9600;
  eParity parity_ = paNone;
  eDataBits dataBits_ = d7bit;
  eStopBits stopBits_ = st1bit;
  std::uint16_t rxQueueSize_ = 1024;
  std::uint16_t txQueueSize_ = 1024;
  eFlowControl flowMode_ = fcNone;
  bool checkParity_ = true;
  std::atomic<eOpModes> rxEventMode_{rxNormal};
  std::atomic<char> messageStartChar_{2};
  std::atomic<char> messageEndChar_{3};
  std::atomic<std::uint16_t> messageAppendCount_{0};
  eNotifyErr notifyErrors_ = neDialog;
  std::int32_t errorCode_ = 0;
  int writeFailure_ = 0;  // error code of the last failed write, 0 after a good one
  bool lost_ = false;     // its device went: the port is closed, or being closed

  LineSettingsRecord lineSettings_;
  TimeoutsRecord timeouts_;

  // Message assembly: touched by the event thread only while it serves an open port.
  int messageState_ = 0;
  std::uint16_t appendLeft_ = 0;
  std::string messageText_;

  bool CTSState = false;
  bool DSRState = false;
  bool RLSDState = false;

  int handlersRunning_ = 0;  // main thread: handed-over calls of this port now running

  // When input came: the event thread notes the first arrival after each read, as it wakes,
  // so that a main thread kept busy does not make input look later than it came.
  std::mutex rxStampMutex_;
  std::chrono::steady_clock::time_point rxSince_;  // guarded by rxStampMutex_
  bool rxStamped_ = false;                         // guarded by rxStampMutex_
  double lastReadAge_ = 0;                         // main thread

  // Shared with the event thread.
  std::atomic<bool> open_{false};
  std::atomic<bool> closing_{false};
  std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  bool inWait_ = false;           // guarded by stateMutex_
  bool eventsOn_ = false;         // guarded by stateMutex_: the open port's event mask is set
  bool terminate_ = false;        // guarded by stateMutex_
  bool eventThreadDone_ = false;  // guarded by stateMutex_
  std::uint64_t generation_ = 0;  // guarded by stateMutex_; one per successful open
  std::thread eventThread_;
};
