#include "cli/unit_run.h"

#include <chrono>
#include <ctime>
#include <exception>
#include <ostream>
#include <stdexcept>
#include <string>

#include "cli/exit_status.h"
#include "components/clock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kProgramPrefix = "kvuflash-cli: ";
constexpr const char* kUploadAgain = "upload again";

std::string IsoNow() {
  const std::tm local = LocalTime(std::time(nullptr));
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string iso = text;
  if (iso.size() > 2) iso.insert(iso.size() - 2, ":");  // +0200 -> +02:00
  return iso;
}

std::string Records(int sent, int total) {
  return std::to_string(sent) + " of " + std::to_string(total) + " records";
}

std::chrono::milliseconds Limit(double seconds) {
  return seconds > 0 ? std::chrono::milliseconds(static_cast<long long>(seconds * 1000))
                     : std::chrono::milliseconds(std::chrono::hours(24 * 365));
}

struct UnitEnd {
  bool goOn = false;  // the stage passed; the next may start
  int status = kUploadError;
  std::string message;
};

UnitEnd Passed() {
  return UnitEnd{true, kUploadOk, ""};
}

UnitEnd Interrupted(UnitShell& unit) {
  return {false, kUploadInterrupted, InterruptedText(unit.Form().S().Phase, kUploadAgain)};
}

// "&Software Upload": the port opens (20 ticks at most), after the capture file if one is
// asked for.
UnitEnd OpenPort(UnitShell& unit, const std::string& capture) {
  MainForm& form = unit.Form();
  if (!capture.empty()) {
    unit.Shell().Options().SetCapturePath(capture);
    unit.Shell().Press(&MainForm::BtnCaptureFileClick);
    // A capture asked for on the command line is a record someone means to keep: nothing is
    // done without it.
    if (!form.S().CaptureEnabled) return {false, kUploadError, kNoCaptureNoRun};
  }
  unit.Shell().Press(&MainForm::Btn2UploadClick);
  if (!unit.Shell().RunUntilIdle(std::chrono::seconds(30))) {
    if (unit.Shell().Interrupted()) return Interrupted(unit);
    return {false, kUploadPortFailed, "The port did not open in time."};
  }
  if (form.S().Phase != RunPhase::ChoosingFile) {
    return {false, ExitStatusOf(form.S().Outcome),
            form.S().Outcome == RunOutcome::PortFailure ? "The port could not be opened." : ""};
  }
  return Passed();
}

// "Choose File": the chooser answers with the file named on the command line.
UnitEnd TakeFile(UnitShell& unit, const std::string& file) {
  MainForm& form = unit.Form();
  const std::size_t messagesBefore = unit.MessageCount();
  unit.Shell().SetChosenFile(file);
  unit.Shell().Press(&MainForm::BtnChooseFileClick);
  if (!unit.Shell().RunUntilIdle(std::chrono::minutes(10))) {
    if (unit.Shell().Interrupted()) return Interrupted(unit);
    return {false, kUploadBadInput, "The file could not be prepared in time."};
  }
  if (form.S().Phase == RunPhase::Ready) return Passed();
  // The refusal is the reason, unless a message has said it already.
  const int status =
      form.S().Outcome == RunOutcome::None ? kUploadBadInput : ExitStatusOf(form.S().Outcome);
  return {false, status, unit.MessageCount() == messagesBefore ? unit.LastLine() : ""};
}

// "Start &Upload": the dialogue with the unit runs until it ends.
UnitEnd Upload(UnitShell& unit, double timeoutSeconds) {
  MainForm& form = unit.Form();
  const SequencerState& s = form.S();
  const int records = s.BlockCount;
  unit.Shell().Press(&MainForm::BtnStartRunClick);
  if (s.Phase != RunPhase::Handshake) {
    return {false, ExitStatusOf(s.Outcome), EndText(s, unit.LastPhase(), kUploadAgain)};
  }
  const double limit = timeoutSeconds >= 0 ? timeoutSeconds : 600.0 + 0.2 * records;
  if (!unit.Shell().RunUntilIdle(Limit(limit))) {
    if (unit.Shell().Interrupted()) return Interrupted(unit);
    return {false, kUploadTimedOut,
            "Timed out: the upload did not end within " +
                std::to_string(static_cast<long long>(limit)) + " s (" + s.WaitingFor + ", " +
                Records(s.BlocksSent, records) + " sent). " + NextStep(s.Phase, kUploadAgain)};
  }
  return {false, ExitStatusOf(s.Outcome), EndText(s, unit.LastPhase(), kUploadAgain)};
}

// The running unit asked over its remote control: its software and checksums, compared with
// the file's for verify.
UnitEnd Query(UnitShell& unit, const UnitSettings& settings) {
  MainForm& form = unit.Form();
  SequencerState& s = form.S();
  s.FileFirmwareChecksum = settings.fileFirmware;
  s.FileFpgaChecksum = settings.fileFpga;
  form.Checksums.StartQuery();
  const double limit = settings.timeoutSeconds >= 0 ? settings.timeoutSeconds : 60;
  if (!unit.Shell().RunUntilIdle(Limit(limit)) && unit.Shell().Interrupted())
    return Interrupted(unit);
  const int status = s.Outcome == RunOutcome::None ? kUploadTimedOut : ExitStatusOf(s.Outcome);
  const std::string sums = s.UnitFirmwareChecksum + "/" + s.UnitFpgaChecksum;
  switch (s.Outcome) {
    case RunOutcome::ChecksumsMatch:
      return {false, status, "The unit's checksums match the file's: " + sums + "."};
    case RunOutcome::ChecksumsDifferent:
      return {false, status, EndText(s, RunPhase::Checksums, kUploadAgain)};
    case RunOutcome::Completed:
      return {false, status,
              "Software " + s.UnitSoftwareVersion + ", checksums " + sums + " (firmware/FPGA)."};
    default:
      return {false, status == kUploadOk ? kUploadTimedOut : status,
              "The unit did not answer its remote control at 9600 baud: check the cable, and "
              "that the unit is switched on and running its firmware (after an upload, cycle "
              "its power first)."};
  }
}

// The bootstrap part's endings, each with what to look at before trying again.
std::string FactoryEndText(RunOutcome outcome, const std::string& again) {
  struct Row {
    RunOutcome outcome;
    const char* text;
  };
  static constexpr Row kTable[] = {
      {RunOutcome::NoIdentification,
       "The chip did not answer: check that jumper JP2 is fitted, that the unit was switched on "
       "before proceeding, and the cable and port; then"},
      {RunOutcome::WrongIdentification,
       "Something else answered the chip's zero byte: check the port, the cable and the "
       "jumpers, switch the unit off and on, and"},
      {RunOutcome::LoaderSilent, "A loader got no answer: switch the unit off and on, and"},
      {RunOutcome::LoaderBadAnswer,
       "A loader arrived damaged: check the cable, switch the unit off and on, and"},
      {RunOutcome::BadEchoes,
       "A bootstrap line arrived damaged five times: check the cable, switch the unit off and "
       "on, and"},
      {RunOutcome::BootLineTimedOut,
       "The bootstrap loader fell silent: switch the unit off and on, and"},
  };
  for (const Row& row : kTable) {
    if (row.outcome == outcome) return std::string(row.text) + " " + again + ".";
  }
  return "";
}

}  // namespace

std::string InterruptedText(RunPhase phase, const std::string& again) {
  if (!PhaseWritesUnit(phase)) return "Interrupted.";
  return "Interrupted while the unit was being written: it holds no working firmware now. "
         "Switch it off and on, and " +
         again + " before using it.";
}

std::string NextStep(RunPhase phase, const std::string& again) {
  std::string step;
  if (PhaseWritesUnit(phase)) {
    step = "The unit is half written: switch it off and on, and " + again;
  } else if (phase == RunPhase::Handshake) {
    step =
        "Check the cable and the unit's power: switch the unit on after the upload has "
        "started, and " +
        again;
  } else if (phase == RunPhase::Reboot || phase == RunPhase::Checksums) {
    step = "Every record was delivered; switch the unit off and on, and " + again +
           " to have its checksums compared";
  } else {
    step = "Switch the unit off and on, and " + again;
  }
  step[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(step[0])));
  return step + ".";
}

// After a time-out: the core's words where it knows more (the unit at another speed, a unit
// that fell silent in the middle of the records), with the option to use.
std::string TimeOutNextStep(const SequencerState& s, RunPhase lastPhase, const std::string& again) {
  if (s.NextStep.empty() || (!s.OtherSpeedHeard && lastPhase != RunPhase::Records))
    return NextStep(lastPhase, again);
  std::string step = s.NextStep;
  if (s.OtherSpeedBaud != 0) step += " (--baud " + std::to_string(s.OtherSpeedBaud) + ")";
  return step + ".";
}

std::string EndText(const SequencerState& s, RunPhase lastPhase, const std::string& again) {
  const int records = s.BlockCount;
  const std::string sent = "Upload complete: " + std::to_string(records) + " records sent";
  switch (s.Outcome) {
    case RunOutcome::Completed:
      // Below the count at which the unit is asked, a record lost to a line fault goes unseen.
      return sent + (records >= kChecksumCheckRecords
                         ? "; the file carries no checksums to compare."
                         : ". To compare the unit's checksums with the file's, switch it off and "
                           "on, then run kvuflash-cli verify with the same file.");
    case RunOutcome::CompletedWithEraseErrors:
      return sent +
             ", but the unit reported erase errors (see above): its flash may not hold "
             "the image. Switch it off and on and " +
             again + "; have the unit seen to if the errors come back.";
    case RunOutcome::RecordRefused:
      return "Record " + std::to_string(s.BlocksSent) + " of " + std::to_string(records) +
             " was refused again and again: check the cable and keep it away from noise, then " +
             again + ".";
    case RunOutcome::ChecksumsMatch:
      return sent + ", the unit's checksums match the file's.";
    case RunOutcome::ChecksumsDifferent:
      return "Checksums different: the unit reports " + s.UnitFirmwareChecksum + "/" +
             s.UnitFpgaChecksum + ", the file holds " + s.FileFirmwareChecksum + "/" +
             s.FileFpgaChecksum + ". The unit does not hold this firmware: " + again +
             "; if they differ again, have the unit seen to.";
    case RunOutcome::TimedOut:
      return "Timed out " + s.WaitingFor + ". " + TimeOutNextStep(s, lastPhase, again);
    case RunOutcome::HaltedByUnit:
      return "The unit halted the upload (UPLOAD FAILED) after " + Records(s.BlocksSent, records) +
             ". " + NextStep(lastPhase, again);
    case RunOutcome::UnexpectedAnswer: {
      std::string answer = s.LastReply;
      while (!answer.empty() && (answer.back() == '\r' || answer.back() == '\n')) answer.pop_back();
      return "Unexpected answer from the unit: " + answer + ". Switch it off and on and " + again +
             "; if it comes back, the unit needs service.";
    }
    case RunOutcome::InputOutputError:
      return "";  // the message has been shown
    case RunOutcome::RefusedBeforeSending:
      return "Nothing was sent to the unit (see above): make the upload file again, and " + again +
             ".";
    default:
      if (const std::string factory = FactoryEndText(s.Outcome, again); !factory.empty())
        return factory;
      return std::string("The run stopped: ") + OutcomeName(s.Outcome) + ". " +
             NextStep(lastPhase, again);
  }
}

const char* OutcomeText(const UnitResult& r) {
  if (r.status == kUploadInterrupted) return "interrupted";
  if (r.outcome != RunOutcome::None) return OutcomeName(r.outcome);
  // Ended by the command rather than by the sequencer: its own limits, or an error.
  switch (r.status) {
    case kUploadTimedOut:
      return "timed out";
    case kUploadPortFailed:
      return "port failure";
    case kUploadBadInput:
      return "bad input";
    default:
      return "error";
  }
}

UnitShell::UnitShell(RunDisplay& display, std::size_t index, const UnitPort& port,
                     const UnitSettings& settings)
    : display_(display),
      index_(index),
      errBuf_([this](const std::string& line) {
        display_.Message(index_, line);
        ++messages_;
        lastMessage_ = StartsWith(line, kProgramPrefix) ? line.substr(14) : line;
      }),
      err_(&errBuf_),
      cli_(err_, settings.dir),
      narrator_(cli_.Form().W(), [this](const std::string& line) {
        lastLine_ = line;
        display_.Line(index_, line);
      }) {
  cli_.Ui().ConfirmAnswer = settings.acceptBadChecksums;
  Station& options = cli_.Options();
  options.SetRecordsOnRequest(settings.fast);
  options.SetRememberPort(settings.rememberPort);
  if (!port.device.empty()) options.NameDevice(port.com, port.device);
  options.SetProgressListener([this](const RunProgress& p) {
    if (p.phase != RunPhase::Ended) lastPhase_ = p.phase;
    narrator_.Progressed(p);
    display_.Progress(index_, p);
  });
  if (port.com) cli_.SetPort(port.com);
  if (settings.baud) cli_.SetBaud(settings.baud);
}

void UnitShell::Say(const std::string& text, bool good) {
  if (!text.empty()) display_.Message(index_, kProgramPrefix + text, good);
}

UnitResult RunUnit(RunDisplay& display, std::size_t index, const UnitPort& port,
                   const UnitSettings& settings, const std::string& file) {
  UnitResult r;
  r.total = settings.records;
  r.startedAt = IsoNow();
  const auto started = Clock::now();
  if (port.unreachable) {
    r.status = kUploadPortFailed;
    r.outcome = RunOutcome::PortFailure;
    r.message = "There is no serial device for port " + port.given +
                ": attach an adapter, or name its device in ports.txt (" + port.given +
                "=/dev/ttyUSB0).";
    display.Message(index, kProgramPrefix + r.message);
  } else {
    try {
      UnitShell unit(display, index, port, settings);
      UnitEnd end = OpenPort(unit, settings.capture);
      if (end.goOn && settings.job != UnitJob::Upload) end = Query(unit, settings);
      if (end.goOn) end = TakeFile(unit, file);
      if (end.goOn) end = Upload(unit, settings.timeoutSeconds);
      const SequencerState& s = unit.Form().S();
      unit.Say(end.message, end.status == kUploadOk);
      r.status = end.status;
      r.message = end.message;
      // The shell's own message names the cause ("... is not present") behind the command's.
      const std::string& cause = unit.LastMessage();
      if (end.status != kUploadOk && !cause.empty() && cause != end.message)
        r.message += (r.message.empty() ? "" : " ") + cause;
      r.outcome = s.Outcome;
      r.sent = s.BlocksSent;
      r.total = s.BlockCount > 0 ? s.BlockCount : settings.records;
      r.checksumsAsked = s.Outcome == RunOutcome::ChecksumsMatch ||
                         s.Outcome == RunOutcome::ChecksumsDifferent ||
                         (settings.job == UnitJob::Info && s.Outcome == RunOutcome::Completed);
      r.unitFirmware = s.UnitFirmwareChecksum;
      r.unitFpga = s.UnitFpgaChecksum;
      r.unitSoftware = s.UnitSoftwareVersion;
    } catch (const std::invalid_argument& e) {
      r.status = kUploadUsage;
      r.message = e.what();
      display.Message(index, kProgramPrefix + r.message);
    } catch (const std::exception& e) {
      r.status = kUploadError;
      r.message = e.what();
      display.Message(index, kProgramPrefix + r.message);
    }
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  display.Ended(index, std::string(OutcomeText(r)) + ", " + std::to_string(r.sent) + "/" +
                           std::to_string(r.total) + " records in " + MinutesSeconds(r.seconds));
  return r;
}
