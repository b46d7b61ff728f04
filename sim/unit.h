// The simulated RQ-410 as a whole: switched off and on, the resident flash loader or the C161
// bootstrap, the reboot and the remote control; it checks the line speed the other end uses and
// answers garbage at a wrong one. Time is given in milliseconds since the start.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bootstrap.h"
#include "flash.h"
#include "line.h"
#include "line_time.h"
#include "loader_dialogue.h"
#include "options.h"
#include "remote_control.h"
#include "transcript.h"

namespace rqsim {

class Unit : private UnitIo {
 public:
  // Everything the unit says goes out through wire, at the line's pace.
  Unit(const Options& options, Line& line, LineTime& wire, Transcript& transcript, Flash& flash);

  void start(long now);
  // Bytes that have crossed the line, and whether they begin and end a burst of the other end.
  void onInput(std::string_view bytes, long now, bool beginsBurst = true, bool endsBurst = true);
  void onTime(long now);
  std::optional<long> nextDeadline() const;
  void powerCycle(long now, const char* why);

  // With --once: the upload and its check are over.
  bool done() const { return done_; }
  std::string summary() const;

 private:
  enum class Phase { Off, Loader, Rebooting, Remote, Bootstrap, LoadedProgram };

  void send(std::string_view bytes) override;
  void note(std::string_view event) override;
  void put(std::string_view bytes);
  // "unit=K " when it is one of several, so that its printed lines can be told apart.
  std::string tag() const;
  UnitIo& io() { return *this; }

  void powerOn(long now);
  void enter(Phase phase, long now);
  void afterChange(long now);
  bool dialogueOver() const;
  std::vector<int> expectedSpeeds() const;
  bool speedFits(int baud) const;
  bool tryAutoPowerCycle(std::string_view bytes, long now);
  void finishDialogue(long now);
  void addToTotals();

  const Options& options_;
  Line& line_;
  LineTime& wire_;
  Transcript& transcript_;
  Flash& flash_;
  std::mt19937 noise_;

  Phase phase_ = Phase::Off;
  long now_ = 0;
  long powerOnAt_ = -1;
  long rebootDoneAt_ = 0;
  int lockedLoaderSpeed_ = 0;
  bool done_ = false;
  int cycle_ = 0;

  std::optional<LoaderDialogue> loader_;
  std::optional<RemoteControl> remote_;
  std::optional<Bootstrap> boot_;

  struct Totals {
    long powerOns = 0;
    long uploads = 0;
    long garbledChunks = 0;
    LoaderStats loader;
    RemoteStats remote;
    BootstrapStats boot;
  } totals_;
};

}  // namespace rqsim
