// The unit's end of the serial line: a new pseudo-terminal (whose master also shows the speed
// that the other end set) or a real serial device (whose speed the unit sets itself).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace rqsim {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  int get() const { return fd_; }
  int release();

 private:
  int fd_ = -1;
};

class Line {
 public:
  // Both return nullptr and fill error when the line cannot be had.
  static std::unique_ptr<Line> openPty(std::string& error);
  static std::unique_ptr<Line> openDevice(const std::string& path, std::string& error);

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  bool isPty() const { return pty_; }

  // Pseudo-terminal only: the speeds the other end set, in baud (what it sends at, what it
  // listens at).
  struct PeerSpeeds {
    int send = 0;
    int receive = 0;
  };
  std::optional<PeerSpeeds> peerSpeeds() const;

  // Real device only: switch the line to this speed once what was written has gone out.
  bool setSpeed(int baud, std::string& error);

  // Bytes read, 0 when nothing is waiting, -1 when the line is gone.
  long readSome(char* buffer, size_t size);
  // Writes what the line takes now, without waiting; returns the bytes written.
  size_t writeSome(std::string_view bytes);
  // Bytes written but not yet taken by the other end.
  long pendingToPeer() const;

 private:
  Line() = default;
  Fd fd_;
  Fd slaveHold_;  // keeps the slave open, so the master never sees a hang-up between clients
  std::string path_;
  bool pty_ = false;
};

int baudOf(unsigned speedCode);
std::optional<unsigned> speedCodeOf(int baud);

}  // namespace rqsim
