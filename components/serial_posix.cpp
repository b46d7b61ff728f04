// The serial device over termios. The event wait is a poll on the device and on an eventfd
// that the main thread writes to release it; input that a handler leaves unread is watched
// by its count, so that "new input" is raised only for new bytes, as the Windows event does.
// Reads take all that is waiting in one call and hand it out byte by byte: a record's answer
// costs two reads, not one per byte.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "components/low_latency_posix.h"
#include "components/port_holders.h"
#include "components/port_map.h"
#include "components/serial.h"
#include "components/serial_open_posix.h"
#include "components/thread_priority.h"

// serial_line_posix.cpp: the record to the terminal.
bool ApplyLineSettings(int fd, const LineSettingsRecord& settings);

namespace {

// How often unread input is looked at while a handler leaves it waiting.
constexpr int kHeldInputPollMs = 20;
// The output queue, watched only for a handler of its end, is looked at when it should have
// gone out at the line's speed, and at least this often.
constexpr int kTxEmptyMaxPollMs = 100;
constexpr int kBitsPerByte = 10;
// How often the input lines are read on a device that reports them.
constexpr int kModemPollMs = 250;

// The input-line watcher sleeps in TIOCMIWAIT; this signal, sent to it alone, ends the sleep
// when the port closes. Its handler does nothing and is installed without SA_RESTART.
int lineWakeSignal() {
  return SIGRTMIN + 7;
}
void ignoreLineWake(int) {}
bool installLineWakeSignal() {
  static const bool installed = [] {
    struct sigaction sa {};
    sa.sa_handler = ignoreLineWake;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    return ::sigaction(lineWakeSignal(), &sa, nullptr) == 0;
  }();
  return installed;
}

class PosixSerialDevice final : public SerialDevice {
 public:
  PosixSerialDevice(const std::string* programDir, const std::map<int, std::string>* named)
      : programDir_(programDir), named_(named) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }
  ~PosixSerialDevice() override {
    if (fd_ >= 0) Close();
    if (wakeFd_ >= 0) ::close(wakeFd_);
  }

  bool Open(int port, int& error, std::string& message) override {
    const std::string com = "COM" + std::to_string(port);
    const std::string path = DeviceName(port);
    // Without its wake-up the event wait could not be released, and a close would have to
    // wait for it for ever: no port is opened then.
    if (wakeFd_ < 0) wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
      error = lastError_ = errno;
      message = com + " cannot be opened: no event could be made to watch it (" +
                std::strerror(error) + ").";
      return false;
    }
    if (path.empty()) {
      error = lastError_ = ENODEV;
      message = "There is no serial device for " + com +
                ". Attach a serial adapter, or name the device in the port map file " +
                PortMapFile(programDir_ ? *programDir_ : std::string()) + " (a line " +
                std::to_string(port) + "=/dev/ttyUSB0).";
      return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = lastError_ = errno;
      message = OpenFailureText(com, path, error);
      return false;
    }
    if (!::isatty(fd)) {
      ::close(fd);
      error = lastError_ = ENOTTY;
      message = com + " (" + path + ") is not a serial device.";
      return false;
    }
    // Exclusive: an advisory lock that other serial programs honour, and the terminal's own
    // exclusive mode, which refuses further opens.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      error = lastError_ = EBUSY;
      message = OpenFailureText(com, path, EBUSY);
      return false;
    }
    // A program that opened the port without locking it (a terminal program, often) would
    // share it and take the unit's answers. Pseudo-terminals are left out: the program at
    // their other end (a simulated unit) holds them open as a matter of course.
    if (!IsPseudoTerminal(fd)) {
      const std::vector<PortHolder> holders = ProcessesHolding(path);
      if (!holders.empty()) {
        ::close(fd);
        error = lastError_ = EBUSY;
        message = com + " (" + path + ") is open in " + DescribeHolders(holders) +
                  ", which would take the unit's answers. Close the port there, then try again.";
        return false;
      }
    }
    ::ioctl(fd, TIOCEXCL);
    MakeRawLine(fd);
    lowLatencySet_ = AskLowLatency(fd, SystemLowLatencyDevice()) == LowLatency::TurnedOn;
    int lines = 0;
    modemLines_ = ::ioctl(fd, TIOCMGET, &lines) == 0;
    lastModem_ = modemLines_ ? modemBits(lines) : 0;
    drainWake();
    {
      std::lock_guard lock(readMutex_);
      inPos_ = inEnd_ = 0;
    }
    txPending_ = false;
    consumed_ = 0;
    rxSeen_ = 0;
    fd_ = fd;
    if (watchLines_) startLineWatcher();
    return true;
  }

  void WatchModemLines(bool on) override {
    watchLines_ = on;
    if (!on) {
      stopLineWatcher();
    } else if (fd_ >= 0) {
      startLineWatcher();
    }
  }

  void WatchTxEmpty(bool on) override { watchTx_ = on; }

  bool Close() override {
    if (fd_ < 0) return true;
    stopLineWatcher();
    if (lowLatencySet_) ClearLowLatency(fd_, SystemLowLatencyDevice());
    lowLatencySet_ = false;
    ::ioctl(fd_, TIOCNXCL);
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) {
      lastError_ = errno;
      return false;
    }
    return true;
  }

  bool SetupQueues(std::uint16_t, std::uint16_t) override { return fd_ >= 0; }

  bool SetState(const LineSettingsRecord& r) override {
    baud_ = static_cast<int>(r.BaudRate);
    return ApplyLineSettings(fd_, r) ? true : fail();
  }

  // Reads never wait (the read time-outs say "return at once") and writes carry their own
  // bound, so there is nothing to hand to the terminal.
  bool SetTimeouts(const TimeoutsRecord&) override { return fd_ >= 0; }

  void Escape(int function) override {
    int bits = 0;
    unsigned long request = 0;
    switch (function) {
      case 3:
        bits = TIOCM_RTS;
        request = TIOCMBIS;
        break;
      case 4:
        bits = TIOCM_RTS;
        request = TIOCMBIC;
        break;
      case 5:
        bits = TIOCM_DTR;
        request = TIOCMBIS;
        break;
      case 6:
        bits = TIOCM_DTR;
        request = TIOCMBIC;
        break;
      default:
        return;
    }
    // A pseudo-terminal has no modem lines; that is no fault.
    if (fd_ >= 0) ::ioctl(fd_, request, &bits);
  }

  bool SetMask(std::uint32_t mask) override {
    mask_ = mask;
    wake();
    return true;
  }

  // "New input" means bytes that arrived since the last such event: all bytes ever taken
  // plus those queued, against that sum when the event was last raised. Bytes a handler
  // leaves unread raise nothing more, and bytes that come between a handler's last read and
  // the next wait are not missed.
  WaitResult WaitEvent() override {
    const int fd = fd_;
    while (true) {
      const std::uint32_t mask = mask_;
      if (mask == 0 || fd < 0) return {};
      std::uint32_t events = 0;
      int queued = 0;
      const std::uint64_t arrived = arrivals(fd, queued);
      if (arrived > rxSeen_) events |= ev::RXCHAR;
      if (txPending_) {
        int out = 0;
        if (::ioctl(fd, TIOCOUTQ, &out) != 0 || out == 0) {
          txPending_ = false;
          events |= ev::TXEMPTY;
        }
      }
      if (watchingLines()) {
        int lines = 0;
        if (::ioctl(fd, TIOCMGET, &lines) == 0) {
          const std::uint32_t now = modemBits(lines);
          const std::uint32_t changed = now ^ lastModem_;
          if (changed & ms::CTS_ON) events |= ev::CTS;
          if (changed & ms::DSR_ON) events |= ev::DSR;
          if (changed & ms::RLSD_ON) events |= ev::RLSD;
          if ((changed & ms::RING_ON) && !(now & ms::RING_ON)) events |= ev::RING;
          lastModem_ = now;
        } else if (errno == EIO || errno == ENODEV) {
          return {false, true, 0, errno};
        }
      }
      events &= mask;
      if (events) {
        if (events & ev::RXCHAR) rxSeen_ = arrived;
        return {true, false, events, 0};
      }

      int timeout = -1;
      auto shorten = [&](int ms) { timeout = timeout < 0 ? ms : std::min(timeout, ms); };
      // Unread input keeps the device readable, so its count is looked at instead.
      if (queued > 0) shorten(kHeldInputPollMs);
      if (txPending_) shorten(txDrainMs(fd));
      // Without a line watcher (the driver has no TIOCMIWAIT) the lines are read now and then.
      if (watchingLines() && !lineWaitWorks_) shorten(kModemPollMs);
      pollfd fds[2] = {{fd, static_cast<short>(queued > 0 ? 0 : POLLIN), 0}, {wakeFd_, POLLIN, 0}};
      const int rc = ::poll(fds, 2, timeout);
      if (rc < 0) {
        if (errno == EINTR) continue;
        return {false, true, 0, errno};
      }
      if (fds[1].revents & POLLIN) drainWake();
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return {false, true, 0, EIO};
      if ((fds[0].revents & POLLIN) && queuedCount(fd) == 0) {
        // Readable with nothing queued: end of file, or an error waiting to be read.
        std::lock_guard lock(readMutex_);
        const int n = inPos_ == inEnd_ ? fillLocked(fd) : 1;  // a read may have come first
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
          return {false, true, 0, n == 0 ? EIO : errno};
      }
    }
  }

  std::uint32_t ModemStatus() override { return lastModem_; }

  bool QueueCounts(std::int32_t& rx, std::int32_t& tx) override {
    rx = tx = 0;
    if (fd_ < 0) return false;
    int out = 0;
    if (::ioctl(fd_, TIOCOUTQ, &out) != 0) out = 0;
    rx = queuedCount(fd_);
    tx = out;
    return true;
  }

  bool Purge() override { return true; }  // no transfer is ever left pending

  IoResult Write(const std::uint8_t* data, std::size_t size, int boundMs) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        lastError_ = errno;
        return IoResult::failed;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        lastError_ = ETIMEDOUT;
        return IoResult::timedOut;
      }
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(left.count()));
    }
    if (watchTx_ && !txPending_.exchange(true)) wake();
    return IoResult::done;
  }

  int ReadByte(std::uint8_t& value, int) override {
    // Held across the read, so that the event wait counts arrivals with no read in between.
    std::lock_guard lock(readMutex_);
    if (inPos_ == inEnd_) {
      if (fd_ < 0) return 0;
      const int n = fillLocked(fd_);
      if (n == 0) return 0;
      // Nothing waiting; a device that has gone is reported by the event thread.
      if (n < 0 && (errno == EAGAIN || errno == EIO)) return 0;
      if (n < 0) {
        lastError_ = errno;
        return -1;
      }
    }
    value = inBuf_[inPos_++];
    ++consumed_;
    return 1;
  }

  int LastError() const override { return lastError_; }
  std::string ErrorText(int code) const override { return std::strerror(code); }
  bool IsLostDevice(int code) const override {
    return code == EIO || code == ENODEV || code == ENXIO;
  }
  std::string DeviceName(int port) const override {
    if (named_) {
      if (const auto it = named_->find(port); it != named_->end()) return it->second;
    }
    return ResolvePortDevice(port, programDir_ ? *programDir_ : std::string());
  }

 private:
  // Sleeps until an input line changes and wakes the event wait, which reads the lines.
  void watchLines(int fd) {
    while (!stopLines_) {
      if (::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) == 0) {
        wake();
        continue;
      }
      if (errno == EINTR) continue;
      // Not supported by this driver, or the device has gone: the event wait reads the lines
      // itself from now on (and finds a lost device that way).
      lineWaitWorks_ = false;
      wake();
      break;
    }
    linesDone_ = true;
  }
  bool watchingLines() const { return modemLines_ && watchLines_; }
  // The watcher sleeps in the driver until a line changes; it is woken by a signal sent to it
  // alone, so it runs only while a handler wants the lines.
  void startLineWatcher() {
    if (!modemLines_ || lineWatcher_.joinable() || !installLineWakeSignal()) return;
    stopLines_ = false;
    linesDone_ = false;
    lineWaitWorks_ = true;
    const int fd = fd_;
    lineWatcher_ = std::thread([this, fd] {
      NameCurrentThread("kv-lines");
      watchLines(fd);
    });
  }
  void stopLineWatcher() {
    if (!lineWatcher_.joinable()) return;
    stopLines_ = true;
    while (!linesDone_) {
      ::pthread_kill(lineWatcher_.native_handle(), lineWakeSignal());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    lineWatcher_.join();
  }
  static std::uint32_t modemBits(int lines) {
    std::uint32_t bits = 0;
    if (lines & TIOCM_CTS) bits |= ms::CTS_ON;
    if (lines & TIOCM_DSR) bits |= ms::DSR_ON;
    if (lines & TIOCM_RNG) bits |= ms::RING_ON;
    if (lines & TIOCM_CD) bits |= ms::RLSD_ON;
    return bits;
  }
  // Reads what is waiting into the empty buffer: the count, 0 at end of file, -1 with errno.
  int fillLocked(int fd) {
    inPos_ = inEnd_ = 0;
    while (true) {
      const ssize_t n = ::read(fd, inBuf_, sizeof inBuf_);
      if (n >= 0) {
        inEnd_ = static_cast<std::size_t>(n);
        return static_cast<int>(n);
      }
      if (errno != EINTR) return -1;
    }
  }
  // When the output queue should be empty at the line's speed.
  int txDrainMs(int fd) const {
    int out = 0;
    if (::ioctl(fd, TIOCOUTQ, &out) != 0 || baud_ <= 0) return 1;
    return std::clamp(out * kBitsPerByte * 1000 / baud_ + 1, 1, kTxEmptyMaxPollMs);
  }
  // Bytes waiting, those already read into the buffer included.
  int queuedCount(int fd) {
    std::lock_guard lock(readMutex_);
    return queuedLocked(fd);
  }
  int queuedLocked(int fd) {
    int n = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &n) != 0) n = 0;
    return n + static_cast<int>(inEnd_ - inPos_);
  }
  // Bytes waiting and bytes ever taken, counted with no read in between.
  std::uint64_t arrivals(int fd, int& queued) {
    std::lock_guard lock(readMutex_);
    queued = queuedLocked(fd);
    return static_cast<std::uint64_t>(queued) + consumed_;
  }
  bool fail() {
    lastError_ = errno;
    return false;
  }
  void wake() {
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) {
      // The counter is full, so the waiter will wake anyway.
    }
  }
  void drainWake() {
    std::uint64_t value = 0;
    if (wakeFd_ >= 0 && ::read(wakeFd_, &value, sizeof value) < 0) {
      // Nothing to drain.
    }
  }

  const std::string* programDir_;
  const std::map<int, std::string>* named_;
  std::atomic<int> fd_{-1};
  int wakeFd_ = -1;
  std::atomic<int> lastError_{0};
  std::atomic<std::uint32_t> mask_{0};
  std::atomic<bool> txPending_{false};
  bool modemLines_ = false;
  std::atomic<bool> watchLines_{false};
  std::uint64_t consumed_ = 0;  // guarded by readMutex_: bytes taken since the open
  std::uint64_t rxSeen_ = 0;    // event thread: arrivals at the last event
  std::thread lineWatcher_;
  std::atomic<bool> stopLines_{false};
  std::atomic<bool> linesDone_{true};
  std::atomic<bool> lineWaitWorks_{false};
  std::uint32_t lastModem_ = 0;
  std::atomic<bool> watchTx_{false};
  int baud_ = 0;
  bool lowLatencySet_ = false;  // this port turned the adapter's low latency on
  std::mutex readMutex_;
  // guarded by readMutex_: input read from the device and not yet taken
  std::uint8_t inBuf_[4096] = {};
  std::size_t inPos_ = 0;
  std::size_t inEnd_ = 0;
};
}  // namespace

std::unique_ptr<SerialDevice> MakeSerialDevice(const std::string* programDir,
                                               const std::map<int, std::string>* namedDevices) {
  return std::make_unique<PosixSerialDevice>(programDir, namedDevices);
}
