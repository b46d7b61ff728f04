#include "sequencer/next_step.h"

namespace {

constexpr const char* kCyclePower = "Switch the unit off and on, then upload again";

}  // namespace

bool SoundsLikeAnotherSpeed(std::string_view text) {
  std::size_t debris = 0;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < ' ' && b != '\r' && b != '\n' && b != '\t') || b >= 0x7F) ++debris;
  }
  return !text.empty() && debris * 2 > text.size();
}

int OtherLoaderBaud(int baud) {
  return baud == 57600 ? 38400 : 57600;
}

std::string NextStepAfterTimeOut(RunPhase phase, bool otherSpeed, int baud, bool mainUpload,
                                 bool recordsDelivered) {
  const bool checksums = phase == RunPhase::Reboot || phase == RunPhase::Checksums;
  if (checksums && !recordsDelivered) {
    return otherSpeed ? "The unit's remote control answers at another speed than 9600 baud"
                      : "Check the cable and that the unit is on and running its firmware";
  }
  if (otherSpeed && checksums) {
    return "All records were delivered, but the unit's remote control answers at another "
           "speed than 9600 baud, so its checksums could not be asked for. Switch the unit off "
           "and on";
  }
  if (checksums) {
    return "All records were delivered, but the rebooted unit did not answer its checksum "
           "query. Switch the unit off and on";
  }
  if (otherSpeed) {
    // A factory run's loaded program speaks at the one speed it was built for.
    if (!mainUpload) return "The unit answers at another speed: check the cable and try again";
    return "The unit answers at another speed than " + std::to_string(baud) +
           " baud: upload again at " + std::to_string(OtherLoaderBaud(baud)) + " baud";
  }
  switch (phase) {
    case RunPhase::Handshake:
      return "Check the cable and the unit's power; switch the unit on only once the upload "
             "has started";
    case RunPhase::Records:
      return "The unit stopped answering in the middle of the upload: cycle its power and "
             "upload again";
    default:
      return kCyclePower;
  }
}

const std::string& LastRunLine(const std::vector<std::string>& history,
                               const std::string& nextStep) {
  static const std::string kNone;
  if (history.empty()) return kNone;
  if (history.size() >= 2 && !nextStep.empty() && history.back() == nextStep)
    return history[history.size() - 2];
  return history.back();
}

std::string NextStepAfter(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::HaltedByUnit:
      return kCyclePower;
    case RunOutcome::ChecksumsDifferent:
      return "The unit's memory does not match the upload file: upload again";
    case RunOutcome::UnexpectedAnswer:
      return "Upload again; if the answer comes back, the unit needs service";
    case RunOutcome::NoIdentification:
      return "Check that jumper JP2 is fitted and the cable is in, then switch the unit on "
             "after Proceed";
    case RunOutcome::WrongIdentification:
      return "Something else answered: check the port, the cable and the jumpers, and the "
             "noise at power-up";
    case RunOutcome::LoaderSilent:
    case RunOutcome::BootLineTimedOut:
      return "Switch the unit off and on, then try again";
    case RunOutcome::LoaderBadAnswer:
    case RunOutcome::BadEchoes:
      return "Data arrived damaged: check the cable and its plugs, then try again";
    default:
      return {};
  }
}
