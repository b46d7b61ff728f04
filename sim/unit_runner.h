// One simulated unit serving its line on a thread of its own, with its own flash, link,
// transcript and dump. Units in one process share nothing but standard output, so a unit that
// writes or sums its 4 MB flash, or waits on a peer that has stopped reading, holds up no other.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "flash.h"
#include "line.h"
#include "line_time.h"
#include "options.h"
#include "transcript.h"

namespace rqsim {

class UnitRunner {
 public:
  // Loads the flash, opens the line and makes the link and the transcript; nullptr with error
  // set when one of them fails (a link already made is removed again).
  static std::unique_ptr<UnitRunner> open(const Options& options, std::string& error);
  ~UnitRunner();
  UnitRunner(const UnitRunner&) = delete;
  UnitRunner& operator=(const UnitRunner&) = delete;

  const std::string& path() const { return line_->path(); }

  // Serves until told to stop or until an ending option says so; then adds 1 to endedFd (an
  // eventfd), so that whoever waits for the units learns of it.
  void start(int endedFd);
  void requestStop(const std::string& why);
  void requestPowerCycle();
  // Waits for the end; 0, or 1 when the line went away or the dump could not be written.
  int join();

 private:
  explicit UnitRunner(const Options& options) : options_(options) {}

  void serve();
  // Lets the other end take the last answer, at the line's pace, before the line goes away.
  void drainLastAnswer(LineTime& wire);
  void stopped(const std::string& why, long ms, const std::string& summary);
  void removeLink();
  void wake();
  // "rq410-sim: " or "rq410-sim: unit K: ", for messages on stderr.
  std::string who() const;

  Options options_;
  Flash flash_;
  std::unique_ptr<Line> line_;
  std::unique_ptr<Transcript> transcript_;
  std::string link_;  // made by this unit, removed when it stops
  Fd wake_;

  std::mutex stopMutex_;
  std::string stopWhy_;
  std::atomic<bool> stop_{false};
  std::atomic<int> powerCycles_{0};

  std::thread thread_;
  int endedFd_ = -1;
  int exitCode_ = 0;
};

}  // namespace rqsim
