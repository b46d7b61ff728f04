// The one way tests run another program: its output goes to files or is kept here, it is
// given a time limit and killed when it overruns, and it never outlives the test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_folder.h"

extern char** environ;

namespace kvtest {

class Child {
 public:
  using Clock = std::chrono::steady_clock;

  // `argv[0]` is a path, or a name looked up in PATH. `env` entries ("NAME=value") are added
  // to this process's environment for the child. An output given no path is kept here, in a
  // file without a name, so that a child that writes much never blocks on a full pipe.
  explicit Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                 const std::string& outPath = {}, const std::string& errPath = {}) {
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      bool replaced = false;
      for (const auto& mine : env) {
        if (entry.substr(0, entry.find('=') + 1) == mine.substr(0, mine.find('=') + 1))
          replaced = true;
      }
      if (!replaced) envs.push_back(entry);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> cenv;
    for (auto& e : envs) cenv.push_back(e.data());
    cenv.push_back(nullptr);

    outPath_ = outPath;
    errPath_ = errPath;
    if (outPath.empty()) outFd_ = AnonymousFile();
    if (errPath.empty()) errFd_ = AnonymousFile();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const auto route = [&](int target, int fd, const std::string& path) {
      if (fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, fd, target);
      } else {
        posix_spawn_file_actions_addopen(&actions, target, path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
      }
    };
    route(1, outFd_, outPath);
    route(2, errFd_, errPath);
    const int rc = posix_spawnp(&pid_, cargs[0], &actions, nullptr, cargs.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      CloseFiles();
      throw std::runtime_error("cannot start " + argv[0]);
    }
  }
  ~Child() {
    Kill();
    CloseFiles();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Running() {
    if (status_ != kRunning) return false;
    Reap(WNOHANG);
    return status_ == kRunning;
  }
  // Exit status, 128 + signal for a killed child, or -1 when it was still running after
  // `timeoutMs` or at `deadline` (it is then killed).
  int Wait(int timeoutMs) { return WaitUntil(Clock::now() + std::chrono::milliseconds(timeoutMs)); }
  int WaitUntil(Clock::time_point deadline) {
    while (Running()) {
      if (Clock::now() >= deadline) {
        Kill();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
  }
  void Signal(int sig) {
    if (Running()) ::kill(pid_, sig);
  }
  void Kill() {
    if (status_ != kRunning || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Reap(0);
    status_ = kKilled;
  }
  pid_t Pid() const { return pid_; }

  // What it has written so far: kept here, or read back from the file it was given.
  std::string Out() const { return Written(outFd_, outPath_); }
  std::string Err() const { return Written(errFd_, errPath_); }

 private:
  static constexpr int kRunning = -2;
  static constexpr int kKilled = -1;

  static int AnonymousFile() {
    std::string pattern = (fs::temp_directory_path() / "kv-child-XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("mkostemp failed");
    ::unlink(pattern.c_str());
    return fd;
  }
  static std::string Written(int fd, const std::string& path) {
    if (fd < 0) return ReadText(path);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }
  void CloseFiles() {
    for (int* fd : {&outFd_, &errFd_}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
  }
  void Reap(int flags) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, flags);
    if (r == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid_ = -1;
  int status_ = kRunning;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string outPath_, errPath_;
};

// Processor time (user and system) that process `pid` has used so far, in seconds; -1 when it
// cannot be read. Checks that a program waiting on something does not spin compare two readings.
inline double ProcessorSeconds(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  // The command name in parentheses may hold blanks; the fields are counted after it.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stoull(field);
    if (i == 15) system = std::stoull(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace kvtest
