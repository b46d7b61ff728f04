// Helpers for the component tests: serving the main thread until something has happened,
// and a pseudo-terminal whose master end the test holds.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <string>

#include "components/main_thread.h"
#include "support/env_scope.h"

template <class Pred>
bool ServeUntil(StdMainThread& main, Pred done,
                std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    main.RunPendingFor(std::chrono::milliseconds(10));
  }
  return true;
}

inline void ServeFor(StdMainThread& main, std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) main.RunPendingFor(std::chrono::milliseconds(5));
}

#ifndef _WIN32
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
      slave_ = ::ptsname(master_);
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  int Master() const { return master_; }
  const std::string& SlavePath() const { return slave_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0)
        done += static_cast<std::size_t>(n);
      else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 100);
      }
    }
  }
  // What the port has written, collected until `count` bytes or `limit` has passed.
  std::string Receive(std::size_t count, int limitMs = 2000) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (out.size() < count && std::chrono::steady_clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
        char buf[512];
        const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) out.append(buf, static_cast<std::size_t>(n));
      }
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// Points COM `port` at `path` for this process, as a script would, until the scope ends.
[[nodiscard]] inline kvtest::EnvScope MapPort(int port, const std::string& path) {
  return kvtest::EnvScope("KVUFLASH_PORTS", std::to_string(port) + "=" + path);
}
#endif
