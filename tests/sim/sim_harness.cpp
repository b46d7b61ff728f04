#include "sim_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/upload_records.h"

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

long msLeft(Clock::time_point until) {
  return std::max<long>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
}

speed_t speedCode(int baud) {
  switch (baud) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      throw std::runtime_error("unsupported baud");
  }
}

std::string readAllFd(int fd, Clock::time_point until) {
  std::string out;
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(msLeft(until))) <= 0) break;
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

Client::Client(const std::string& path, int baud) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) throw std::runtime_error("cannot open " + path);
  termios t{};
  ::tcgetattr(fd_, &t);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(fd_, TCSANOW, &t);
  setBaud(baud);
}

Client::~Client() {
  if (fd_ >= 0) ::close(fd_);
}

void Client::setBaud(int baud) {
  termios t{};
  ::tcgetattr(fd_, &t);
  cfsetspeed(&t, speedCode(baud));
  ::tcsetattr(fd_, TCSANOW, &t);
}

void Client::send(const std::string& bytes) {
  // A simulator that has died (or stopped reading) fails the test here instead of holding it
  // until ctest's own time limit.
  const auto until = Clock::now() + std::chrono::seconds(20);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      throw std::runtime_error(std::string("the simulator's line failed: ") + std::strerror(errno));
    if (Clock::now() >= until) throw std::runtime_error("the simulator took nothing for 20 s");
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, 100);
  }
}

std::string Client::readFor(int ms) {
  return readAllFd(fd_, Clock::now() + std::chrono::milliseconds(ms));
}

std::string Client::readUntil(const std::string& text, int timeoutMs) {
  auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string out;
  char buf[4096];
  while (out.find(text) == std::string::npos) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(msLeft(until))) <= 0) break;
    ssize_t n = ::read(fd_, buf, sizeof buf);
    // A line whose other end has gone stays readable for ever: the answer will not come.
    if (n <= 0 && (n == 0 || errno != EAGAIN)) break;
    if (n > 0) out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string Client::readBytes(size_t n, int timeoutMs) {
  auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string out;
  char c;
  while (out.size() < n) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(msLeft(until))) <= 0) break;
    const ssize_t got = ::read(fd_, &c, 1);
    if (got <= 0 && (got == 0 || errno != EAGAIN)) break;  // the other end has gone
    if (got == 1) out.push_back(c);
  }
  return out;
}

std::vector<TranscriptLine> readTranscript(const std::string& path) {
  std::vector<TranscriptLine> lines;
  std::ifstream in(path);
  std::string text;
  while (std::getline(in, text)) {
    TranscriptLine line;
    std::istringstream fields(text);
    fields >> line.ms >> line.dir;
    std::string rest;
    std::getline(fields, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (line.dir == "ev") {
      line.data = rest;
    } else {
      std::istringstream hex(rest);
      std::string pair;
      while (hex >> pair) line.data.push_back(static_cast<char>(std::stoi(pair, nullptr, 16)));
    }
    lines.push_back(line);
  }
  return lines;
}

std::string allBytes(const std::vector<TranscriptLine>& lines, const std::string& dir) {
  std::string out;
  for (const auto& l : lines) {
    if (l.dir == dir) out += l.data;
  }
  return out;
}

std::string record(uint32_t address, const std::string& data128) {
  std::string page = data128;
  page.resize(128, '\xFF');
  return kvtest::UploadRecord(address, reinterpret_cast<const std::uint8_t*>(page.data()));
}

std::string pattern(size_t n, uint8_t seed) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>((i * 31 + seed * 7 + (i >> 3)) & 0xFF);
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

Sums sumsOf(const std::string& image) {
  auto sum = [&](std::initializer_list<std::pair<uint32_t, uint32_t>> ranges) {
    unsigned s = 0;
    for (auto [first, last] : ranges) {
      for (uint32_t a = first; a <= last; ++a) s += static_cast<uint8_t>(image[a]);
    }
    return s & 0xFFFF;
  };
  return {sum({{0x000000, 0x00EFFF}}), sum({{0x010000, 0x05FFFF}, {0x1C0000, 0x1CFFFF}}),
          sum({{0x060000, 0x07FFFF}, {0x0A0000, 0x1BFFFF}, {0x1D0000, 0x1FFFFF}})};
}

std::string hex4(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v & 0xFFFF);
  return text;
}

std::string handshakeAndErase(Client& c) {
  c.send("U");
  std::string got = c.readUntil("READY\r");
  c.send("GO\r");
  got += c.readUntil("SEND BLOCK\r");
  return got;
}

}  // namespace simtest
