#include "cli/factory_command.h"

#include <chrono>
#include <exception>
#include <ostream>
#include <stdexcept>
#include <string>

#include "cli/exit_status.h"
#include "cli/json_log.h"
#include "cli/unit_run.h"
#include "components/byte_file.h"

const char* const kFactoryHelpText =
    "Usage: kvuflash-cli factory [--port N|DEVICE] [--capture FILE] [--dir FOLDER]\n"
    "                            [--timeout SECONDS] [--yes]\n"
    "\n"
    "Runs a Factory Bootstrap Upload, for a unit whose flash holds no working loader and\n"
    "only when Korvane has asked for it: opens the port at 19200 baud, asks for the jumpers\n"
    "JP2 and JP3 to be fitted and the unit to be switched on, and on Enter (at once without a\n"
    "terminal, or with --yes) sends the C161's bootstrap loader Loader 1, Loader 2 and the\n"
    "bootstrap program line by line; then, at 38400 baud, uploads the flash code that the\n"
    "program carries. About 19 seconds. The unit then needs a Software Upload (upload).\n"
    "\n"
    "  --port N|DEVICE   port number 1 to 9, or a device such as /dev/ttyUSB0\n"
    "  --capture FILE    log every exchange to FILE (appended)\n"
    "  --dir FOLDER      folder of the port settings file and of the temporary Reserved.BIN\n"
    "                    and Reserved.KVU (default: the program's folder)\n"
    "  --timeout S       give up after S seconds in all (default 600; 0: never)\n"
    "  --yes             proceed at once, without waiting for Enter\n"
    "\n"
    "Exit status: as for upload (0 complete, 1 input/output error, 2 bad arguments, 4 port,\n"
    "5 time-out of the flash code's dialogue or of --timeout, 6 halted by the unit, 8\n"
    "unexpected answer, 9 interrupted, 10 completed with erase errors, 11 a record refused\n"
    "again and again), and:\n"
    "  12 no identification byte: the chip did not answer (jumper JP2, power, cable, port?)\n"
    "  13 wrong identification byte: something else answered the zero byte\n"
    "  14 Loader 1 or Loader 2 did not answer\n"
    "  15 Loader 1 or Loader 2 answered wrongly\n"
    "  16 a bootstrap line got a wrong check byte five times (bad cable?)\n"
    "  17 a bootstrap line got no answer\n";

namespace {

constexpr const char* kFactoryAgain = "run the factory upload again";

std::chrono::milliseconds Limit(double seconds) {
  return seconds > 0 ? std::chrono::milliseconds(static_cast<long long>(seconds * 1000))
                     : std::chrono::milliseconds(std::chrono::hours(24 * 365));
}

// "Factory Bootstrap Upload": the port opens and the instructions show; then "&Proceed", once
// the user says the unit is ready. Returns 0 to go on, else the exit status.
int OpenAndProceed(UnitShell& unit, const FactoryOptions& o, bool askToProceed) {
  MainForm& form = unit.Form();
  Cli& cli = unit.Shell();
  if (!o.capture.empty()) {
    cli.Options().SetCapturePath(o.capture);
    cli.Press(&MainForm::BtnCaptureFileClick);
    if (!form.S().CaptureEnabled) {
      unit.Say(kNoCaptureNoRun);
      return kUploadError;
    }
  }
  cli.Press(&MainForm::BtnBootClick);
  if (!cli.RunUntilIdle(std::chrono::seconds(30))) {
    unit.Say(cli.Interrupted() ? "Interrupted." : "The port did not open in time.");
    return cli.Interrupted() ? kUploadInterrupted : kUploadPortFailed;
  }
  if (form.S().Phase != RunPhase::FactoryReady) {
    // The stand-in factory files refused on a real line say why on the run's lines.
    const bool refused = form.S().Outcome == RunOutcome::RefusedBeforeSending;
    unit.Say(refused ? "Nothing was sent. " + unit.LastLine() : "The port could not be opened.");
    return ExitStatusOf(form.S().Outcome);
  }
  if (askToProceed && !o.yes) {
    unit.Say("Press Enter when the jumpers are fitted and the unit is on (Ctrl+C stops).", true);
    bool closed = false;
    const bool pressed = cli.RunUntil(
        [&] {
          const TerminalInput input = PollEnter();
          closed = input == TerminalInput::Closed;
          return input != TerminalInput::Nothing;
        },
        Limit(0));
    if (!pressed || closed) {
      unit.Say("Interrupted.");
      return kUploadInterrupted;
    }
  }
  cli.Press(&MainForm::BtnGoOnClick);
  return kUploadOk;
}

std::string Ending(MainForm& form, double seconds, RunPhase lastPhase) {
  const SequencerState& s = form.S();
  const std::string took = "Factory upload complete in " + MinutesSeconds(seconds);
  if (s.Outcome == RunOutcome::Completed) {
    return took + ": " + std::to_string(form.BootTransfer.BootLineNumber) +
           " bootstrap lines and " + std::to_string(s.BlocksSent) +
           " records sent. Switch the unit off, remove the jumpers JP2 and JP3, then upload the "
           "main software.";
  }
  if (s.Outcome == RunOutcome::CompletedWithEraseErrors) {
    return took +
           ", but the unit reported erase errors (see above): its flash may not hold the "
           "flash code. Run the factory upload again.";
  }
  return EndText(s, lastPhase, kFactoryAgain);
}

}  // namespace

namespace {

// The run makes Reserved.BIN and Reserved.KVU in the program's folder after the 13-second
// bootstrap: a folder that cannot take them is refused before the first byte goes out.
bool TemporaryFilesFit(UnitShell& unit, std::ostream& err) {
  const std::string folder = unit.Form().Core.ProgramDir;
  try {
    ByteFile probe;
    probe.Open(folder + "Reserved.BIN", ByteFile::Mode::CreateTemp);
    probe.Discard();
  } catch (const std::exception& e) {
    err << "kvuflash-cli: The factory run keeps its temporary Reserved.BIN and Reserved.KVU in "
        << folder << ", which cannot be written (" << e.what()
        << "). Give --dir a folder you may write; nothing was sent." << std::endl;
    return false;
  }
  return true;
}

}  // namespace

int RunFactory(const FactoryOptions& options, std::ostream& out, std::ostream& err, bool terminal,
               bool askToProceed) {
  FactoryOptions o = options;
  o.dir = Absolute(o.dir);
  if (!o.dir.empty() && o.dir.back() != '/') o.dir += '/';
  o.capture = Absolute(o.capture);
  WarnOfPortMap(o.dir, err);
  RunDisplay display(out, err, terminal, {o.port});
  try {
    if (!o.capture.empty()) RefuseUnfitLogName("--capture", o.capture, "");
    const ChosenPort chosen = PortOptionValue(o.port);  // checked while parsing
    UnitSettings settings;
    settings.dir = o.dir;
    UnitShell unit(display, 0, UnitPort{o.port, chosen.device, chosen.com}, settings);
    if (!TemporaryFilesFit(unit, err)) return kUploadError;
    if (const int status = OpenAndProceed(unit, o, askToProceed); status != kUploadOk) {
      display.Finish();
      return status;
    }
    const auto proceeded = std::chrono::steady_clock::now();
    const bool ended = unit.Shell().RunUntilIdle(Limit(o.timeoutSeconds));
    display.Finish();
    const SequencerState& s = unit.Form().S();
    if (!ended && unit.Shell().Interrupted()) {
      unit.Say(InterruptedText(s.Phase, kFactoryAgain));
      return kUploadInterrupted;
    }
    if (!ended) {
      unit.Say("Timed out: the factory upload did not end within " +
               std::to_string(static_cast<long long>(o.timeoutSeconds)) + " s. " +
               NextStep(s.Phase, kFactoryAgain));
      return kUploadTimedOut;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - proceeded).count();
    unit.Say(Ending(unit.Form(), seconds, unit.LastPhase()), s.Outcome == RunOutcome::Completed);
    return ExitStatusOf(s.Outcome);
  } catch (const std::invalid_argument& e) {
    display.Finish();
    display.Message(0, std::string("kvuflash-cli: ") + e.what());
    return kUploadUsage;
  } catch (const std::exception& e) {
    display.Finish();
    display.Message(0, std::string("kvuflash-cli: ") + e.what());
    return kUploadError;
  }
}
