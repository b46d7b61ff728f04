#include "unit.h"

#include <algorithm>
#include <cstdio>

namespace rqsim {

namespace {

constexpr int kBootstrapBaud = 19200;
constexpr int kLoadedProgramBaud = 38400;
constexpr int kLoaderBauds[] = {38400, 57600};

// What a receiver makes of bytes sent at another speed: framing debris, never a readable
// letter, CR, LF or an identification byte.
constexpr unsigned char kGarbage[] = {0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFE};

std::string garble(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes)
    out.push_back(static_cast<char>(kGarbage[(b * 7u + (b >> 4)) % 7u]));
  return out;
}

// Noise while the unit powers up, free of the bytes that the computer waits for.
bool usableNoise(unsigned char b) {
  return b != 'U' && b != '"' && b != 0xB5 && b != 0xD5 && b != '\r' && b != '\n';
}

void accumulate(LoaderStats& total, const LoaderStats& s) {
  total.uBytes += s.uBytes;
  total.recordsAccepted += s.recordsAccepted;
  total.resendRequests += s.resendRequests;
  total.badRecords += s.badRecords;
  total.goCount += s.goCount;
}

}  // namespace

Unit::Unit(const Options& options, Line& line, LineTime& wire, Transcript& transcript, Flash& flash)
    : options_(options),
      line_(line),
      wire_(wire),
      transcript_(transcript),
      flash_(flash),
      noise_(options.seed) {}

void Unit::send(std::string_view bytes) {
  std::string out(bytes);
  if (line_.isPty() && options_.speedCheck && phase_ != Phase::Off) {
    auto peer = line_.peerSpeeds();
    if (peer && !speedFits(peer->receive)) {
      out = garble(bytes);
      note("the other end listens at " + std::to_string(peer->receive) +
           " baud: the answer arrives as garbage");
    }
  }
  put(out);
}

void Unit::put(std::string_view bytes) {
  wire_.send(bytes);
  transcript_.bytesOut(now_, bytes);
}

std::string Unit::tag() const {
  return options_.unitNumber > 0 ? "unit=" + std::to_string(options_.unitNumber) + " " : "";
}

void Unit::note(std::string_view event) {
  transcript_.event(now_, event);
}

void Unit::start(long now) {
  now_ = now;
  note(std::string("start: ") +
       (options_.bootstrap ? "C161 bootstrap (jumpers fitted)" : "resident flash loader") + " on " +
       line_.path());
  if (options_.powerOnAfterMs == 0) powerOn(now);
}

void Unit::powerOn(long now) {
  ++totals_.powerOns;
  ++cycle_;
  note("power on");
  lockedLoaderSpeed_ = line_.isPty() && options_.loaderBaudGiven ? options_.loaderBaud : 0;
  if (options_.running && totals_.powerOns == 1) {
    enter(Phase::Remote, now);
  } else {
    enter(options_.bootstrap ? Phase::Bootstrap : Phase::Loader, now);
  }
  if (options_.powerNoiseBytes > 0) {
    std::string noise;
    std::uniform_int_distribution<int> byte(0, 255);
    while (static_cast<int>(noise.size()) < options_.powerNoiseBytes) {
      auto b = static_cast<unsigned char>(byte(noise_));
      if (usableNoise(b)) noise.push_back(static_cast<char>(b));
    }
    note("noise while powering up (fault)");
    put(noise);
  }
}

void Unit::powerCycle(long now, const char* why) {
  now_ = now;
  note(std::string("power cycle: ") + why);
  addToTotals();
  loader_.reset();
  remote_.reset();
  boot_.reset();
  phase_ = Phase::Off;
  powerOnAt_ = now + options_.powerOnAfterMs;
  if (options_.powerOnAfterMs == 0) powerOn(now);
}

void Unit::addToTotals() {
  if (loader_) accumulate(totals_.loader, loader_->stats());
  if (remote_) {
    totals_.remote.swrQueries += remote_->stats().swrQueries;
    totals_.remote.swrAnswers += remote_->stats().swrAnswers;
    totals_.remote.fcsAnswers += remote_->stats().fcsAnswers;
  }
  if (boot_) {
    totals_.boot.zeroBytes += boot_->stats().zeroBytes;
    totals_.boot.frames += boot_->stats().frames;
    totals_.boot.lines += boot_->stats().lines;
    totals_.boot.badChecks += boot_->stats().badChecks;
  }
}

void Unit::enter(Phase phase, long now) {
  const uint32_t seed = options_.seed + static_cast<uint32_t>(cycle_) * 7919u;
  if (phase_ == Phase::Loader || phase_ == Phase::LoadedProgram) {
    accumulate(totals_.loader, loader_->stats());
    loader_.reset();
  }
  phase_ = phase;
  int baud = 0;
  switch (phase) {
    case Phase::Loader:
      loader_.emplace(residentTexts(), options_.loader, flash_, io(), options_.byteTimeoutMs,
                      options_.eraseMs, options_.programMs, seed);
      baud = options_.loaderBaud;
      break;
    case Phase::Bootstrap:
      boot_.emplace(options_.boot, io(), options_.byteTimeoutMs, seed);
      baud = kBootstrapBaud;
      break;
    case Phase::LoadedProgram: {
      LoaderTexts texts = textsFoundIn(boot_->loadedFrom(Bootstrap::kTextBase));
      note("loaded program runs with " + std::to_string(texts.size()) +
           " of 13 texts found at 080000");
      loader_.emplace(std::move(texts), options_.loader, flash_, io(), options_.byteTimeoutMs,
                      options_.eraseMs, options_.programMs, seed);
      baud = kLoadedProgramBaud;
      break;
    }
    case Phase::Rebooting:
      rebootDoneAt_ = now + options_.rebootMs;
      note("rebooting");
      break;
    case Phase::Remote:
      remote_.emplace(options_.address, options_.swrVersion, options_.remote, flash_, io());
      note("remote control listening");
      baud = options_.remoteBaud;
      break;
    case Phase::Off:
      break;
  }
  if (baud != 0 && !line_.isPty()) {
    std::string error;
    if (!line_.setSpeed(baud, error)) note("cannot set the device speed: " + error);
  }
}

std::vector<int> Unit::expectedSpeeds() const {
  switch (phase_) {
    case Phase::Loader:
      if (lockedLoaderSpeed_ != 0) return {lockedLoaderSpeed_};
      return {std::begin(kLoaderBauds), std::end(kLoaderBauds)};
    case Phase::LoadedProgram:
      return {kLoadedProgramBaud};
    case Phase::Bootstrap:
      return {kBootstrapBaud};
    case Phase::Remote:
      return {options_.remoteBaud};
    case Phase::Off:
    case Phase::Rebooting:
      return {};
  }
  return {};
}

bool Unit::speedFits(int baud) const {
  auto speeds = expectedSpeeds();
  return speeds.empty() || std::find(speeds.begin(), speeds.end(), baud) != speeds.end();
}

bool Unit::dialogueOver() const {
  if (phase_ == Phase::Remote || phase_ == Phase::Rebooting) return true;
  if ((phase_ == Phase::Loader || phase_ == Phase::LoadedProgram) && loader_) {
    return loader_->state() == LoaderDialogue::State::Halted ||
           loader_->state() == LoaderDialogue::State::Finished;
  }
  return false;
}

// A handshake byte on its own ("U" at a flash-loader speed, or a zero byte at 19200 for a unit
// with the bootstrap jumpers) after a dialogue has ended means that the user has switched the
// unit off and on for a new run. Bytes of records or commands never look like that.
bool Unit::tryAutoPowerCycle(std::string_view bytes, long now) {
  if (!options_.autoPowerCycle || !line_.isPty() || !dialogueOver() || bytes.empty()) return false;
  auto peer = line_.peerSpeeds();
  if (!peer) return false;
  char handshake = 'U';
  if (options_.bootstrap) {
    if (peer->send != kBootstrapBaud) return false;
    handshake = '\0';
  } else if (std::find(std::begin(kLoaderBauds), std::end(kLoaderBauds), peer->send) ==
             std::end(kLoaderBauds)) {
    return false;
  }
  if (bytes.find_first_not_of(handshake) != std::string_view::npos) return false;
  powerCycle(now, options_.bootstrap ? "zero byte after the end of a run"
                                     : "\"U\" after the end of a run");
  return true;
}

void Unit::onInput(std::string_view bytes, long now, bool beginsBurst, bool endsBurst) {
  now_ = now;
  if (phase_ == Phase::Off) {
    if (powerOnAt_ < 0) powerOnAt_ = now + options_.powerOnAfterMs;
    if (now < powerOnAt_) {
      note("the unit is off");
      return;
    }
    powerOn(now);
  }
  if (beginsBurst && endsBurst) tryAutoPowerCycle(bytes, now);
  if (phase_ == Phase::Off || phase_ == Phase::Rebooting) return;

  if (line_.isPty() && options_.speedCheck) {
    auto peer = line_.peerSpeeds();
    if (peer && !speedFits(peer->send)) {
      if (beginsBurst) {
        ++totals_.garbledChunks;
        note("sent at " + std::to_string(peer->send) + " baud, the unit is at " +
             std::to_string(expectedSpeeds().front()) + ": received as garbage");
      }
      put(garble(bytes));
      return;
    }
  }

  switch (phase_) {
    case Phase::Loader:
    case Phase::LoadedProgram: {
      bool waiting = loader_->state() == LoaderDialogue::State::WaitU;
      loader_->onBytes(bytes, now);
      if (waiting && loader_->state() != LoaderDialogue::State::WaitU && line_.isPty()) {
        if (auto peer = line_.peerSpeeds(); peer && phase_ == Phase::Loader) {
          lockedLoaderSpeed_ = peer->send;
          note("flash loader at " + std::to_string(peer->send) + " baud");
        }
      }
      break;
    }
    case Phase::Bootstrap:
      boot_->onBytes(bytes, now);
      break;
    case Phase::Remote:
      remote_->onBytes(bytes);
      break;
    case Phase::Off:
    case Phase::Rebooting:
      break;
  }
  afterChange(now);
}

void Unit::finishDialogue(long now) {
  ++totals_.uploads;
  FlashSums s = flash_.sums();
  std::string report = "flash " + tag() + "Boot:" + hex4(s.boot) + " Main:" + hex4(s.main) +
                       " FPGA:" + hex4(s.fpga) +
                       " records=" + std::to_string(loader_->stats().recordsAccepted);
  note(report);
  std::printf("%s\n", report.c_str());
  std::fflush(stdout);
  if (phase_ == Phase::LoadedProgram && options_.once) done_ = true;
  enter(Phase::Rebooting, now);
}

void Unit::afterChange(long now) {
  if ((phase_ == Phase::Loader || phase_ == Phase::LoadedProgram) &&
      loader_->state() == LoaderDialogue::State::Finished) {
    finishDialogue(now);
  } else if (phase_ == Phase::Bootstrap && boot_->state() == Bootstrap::State::Started) {
    enter(Phase::LoadedProgram, now);
  } else if (phase_ == Phase::Remote && options_.once && remote_->stats().fcsAnswers > 0) {
    done_ = true;
  }
}

void Unit::onTime(long now) {
  now_ = now;
  if (phase_ == Phase::Off && powerOnAt_ >= 0 && now >= powerOnAt_) powerOn(now);
  switch (phase_) {
    case Phase::Loader:
    case Phase::LoadedProgram:
      loader_->onTime(now);
      break;
    case Phase::Bootstrap:
      boot_->onTime(now);
      break;
    case Phase::Rebooting:
      if (now >= rebootDoneAt_) enter(Phase::Remote, now);
      break;
    case Phase::Remote:
    case Phase::Off:
      break;
  }
  afterChange(now);
}

std::optional<long> Unit::nextDeadline() const {
  switch (phase_) {
    case Phase::Off:
      return powerOnAt_ >= 0 ? std::optional<long>(powerOnAt_) : std::nullopt;
    case Phase::Loader:
    case Phase::LoadedProgram:
      return loader_->nextDeadline();
    case Phase::Bootstrap:
      return boot_->nextDeadline();
    case Phase::Rebooting:
      return rebootDoneAt_;
    case Phase::Remote:
      return std::nullopt;
  }
  return std::nullopt;
}

std::string Unit::summary() const {
  Totals t = totals_;
  LoaderStats l = t.loader;
  if (loader_) accumulate(l, loader_->stats());
  RemoteStats r = t.remote;
  if (remote_) {
    r.swrQueries += remote_->stats().swrQueries;
    r.swrAnswers += remote_->stats().swrAnswers;
    r.fcsAnswers += remote_->stats().fcsAnswers;
  }
  BootstrapStats b = t.boot;
  if (boot_) {
    b.zeroBytes += boot_->stats().zeroBytes;
    b.frames += boot_->stats().frames;
    b.lines += boot_->stats().lines;
    b.badChecks += boot_->stats().badChecks;
  }
  FlashSums s = flash_.sums();
  return "summary " + tag() + "power_ons=" + std::to_string(t.powerOns) +
         " uploads=" + std::to_string(t.uploads) + " u=" + std::to_string(l.uBytes) +
         " go=" + std::to_string(l.goCount) + " records=" + std::to_string(l.recordsAccepted) +
         " resend_requests=" + std::to_string(l.resendRequests) +
         " bad_records=" + std::to_string(l.badRecords) + " swr=" + std::to_string(r.swrQueries) +
         " fcs=" + std::to_string(r.fcsAnswers) + " zero_bytes=" + std::to_string(b.zeroBytes) +
         " frames=" + std::to_string(b.frames) + " lines=" + std::to_string(b.lines) +
         " bad_checks=" + std::to_string(b.badChecks) +
         " garbled=" + std::to_string(t.garbledChunks) + " boot=" + hex4(s.boot) +
         " main=" + hex4(s.main) + " fpga=" + hex4(s.fpga);
}

}  // namespace rqsim
