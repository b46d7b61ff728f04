#include "line.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace rqsim {

namespace {

struct SpeedPair {
  unsigned code;
  int baud;
};

constexpr SpeedPair kSpeeds[] = {
    {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},
    {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},         {B1200, 1200},
    {B1800, 1800},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},       {B19200, 19200},
    {B38400, 38400},   {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800},
    {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
};

void makeRaw(termios& t) {
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CRTSCTS | HUPCL | CSTOPB | PARENB);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

}  // namespace

int baudOf(unsigned speedCode) {
  for (const SpeedPair& s : kSpeeds) {
    if (s.code == speedCode) return s.baud;
  }
  return -1;
}

std::optional<unsigned> speedCodeOf(int baud) {
  for (const SpeedPair& s : kSpeeds) {
    if (s.baud == baud) return s.code;
  }
  return std::nullopt;
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
  return std::exchange(fd_, -1);
}

std::unique_ptr<Line> Line::openPty(std::string& error) {
  int master = -1;
  int slave = -1;
  char name[256] = {};
  // A fresh pseudo-terminal starts raw at 9600 baud, like an idle serial port, so that a client
  // that forgets to set raw mode sees no echo loops; the speed check still wants its own setting.
  termios t{};
  makeRaw(t);
  cfsetspeed(&t, B9600);
  if (::openpty(&master, &slave, name, &t, nullptr) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<Line> line(new Line());  // private constructor
  line->fd_ = Fd(master);
  line->slaveHold_ = Fd(slave);
  line->path_ = name;
  line->pty_ = true;
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  return line;
}

std::unique_ptr<Line> Line::openDevice(const std::string& path, std::string& error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open '" + path + "': " + std::strerror(errno);
    if (errno == EACCES) error += " (is your user in the dialout group?)";
    return nullptr;
  }
  std::unique_ptr<Line> line(new Line());
  line->fd_ = Fd(fd);
  line->path_ = path;
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    error = "'" + path + "' is not a serial device: " + std::strerror(errno);
    return nullptr;
  }
  makeRaw(t);
  cfsetspeed(&t, B9600);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    error = "cannot set up '" + path + "': " + std::strerror(errno);
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);
  ::tcflush(fd, TCIOFLUSH);
  return line;
}

std::optional<Line::PeerSpeeds> Line::peerSpeeds() const {
  if (!pty_) return std::nullopt;
  // On Linux the master reports the slave's settings, i.e. what the client chose.
  termios t{};
  if (::tcgetattr(fd_.get(), &t) != 0) return std::nullopt;
  PeerSpeeds s;
  s.send = baudOf(cfgetospeed(&t));
  int in = baudOf(cfgetispeed(&t));
  s.receive = in > 0 ? in : s.send;
  return s;
}

bool Line::setSpeed(int baud, std::string& error) {
  if (pty_) return true;
  auto code = speedCodeOf(baud);
  termios t{};
  if (!code || ::tcgetattr(fd_.get(), &t) != 0) {
    error = "cannot read the line settings";
    return false;
  }
  cfsetspeed(&t, *code);
  if (::tcsetattr(fd_.get(), TCSADRAIN, &t) != 0) {
    error = std::string("cannot set the speed: ") + std::strerror(errno);
    return false;
  }
  return true;
}

long Line::readSome(char* buffer, size_t size) {
  ssize_t n = ::read(fd_.get(), buffer, size);
  if (n > 0) return n;
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;  // end of file or an error: the device has gone
}

size_t Line::writeSome(std::string_view bytes) {
  ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
  return n > 0 ? static_cast<size_t>(n) : 0;
}

long Line::pendingToPeer() const {
  int n = 0;
  if (pty_) {
    if (::ioctl(slaveHold_.get(), FIONREAD, &n) != 0) return 0;
  } else if (::ioctl(fd_.get(), TIOCOUTQ, &n) != 0) {
    return 0;
  }
  return n;
}

}  // namespace rqsim
