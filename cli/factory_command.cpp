#include "cli/factory_command.h"

#include <chrono>
#include <exception>
#include <ostream>
#include <stdexcept>
#include <string>

#include "cli/cli.h"
#include "cli/command_support.h"

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

constexpr double kDefaultTimeoutSeconds = 600;

struct FactoryOptions {
  std::string port;  // a number or a device
  std::string capture;
  std::string dir;
  double timeoutSeconds = kDefaultTimeoutSeconds;
  bool yes = false;
  bool help = false;
};

FactoryOptions ParseFactory(const std::vector<std::string>& args, const UploadDefaults& defaults) {
  FactoryOptions o;
  if (defaults.port) o.port = std::to_string(defaults.port);
  o.dir = defaults.dir;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value.");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--yes" || a == "-y") {
      o.yes = true;
    } else if (a == "--port") {
      o.port = value();
      if (o.port.empty()) throw std::invalid_argument("--port needs a number or a device.");
      if (AllDigits(o.port)) PortOptionValue(o.port);  // refuses a number outside 1 to 9
    } else if (a == "--capture") {
      o.capture = FileNameValue(a, value());
    } else if (a == "--dir") {
      o.dir = value();
    } else if (a == "--timeout") {
      o.timeoutSeconds = TimeoutSecondsValue(value());
    } else {
      throw std::invalid_argument(
          "Unknown " + std::string(StartsWith(a, "-") ? "option " : "word ") + a + " for factory.");
    }
  }
  return o;
}

std::chrono::milliseconds Limit(double seconds) {
  return seconds > 0 ? std::chrono::milliseconds(static_cast<long long>(seconds * 1000))
                     : std::chrono::milliseconds(std::chrono::hours(24 * 365));
}

}  // namespace

int RunFactory(const std::vector<std::string>& args, const UploadDefaults& defaults,
               std::ostream& out, std::ostream& err, bool terminal, bool askToProceed) {
  FactoryOptions o;
  try {
    o = ParseFactory(args, defaults);
  } catch (const std::invalid_argument& e) {
    err << "kvuflash-cli: " << e.what() << " Try kvuflash-cli factory --help." << std::endl;
    return kUploadUsage;
  }
  if (o.help) {
    out << kFactoryHelpText;
    return kUploadOk;
  }
  std::string dir = Absolute(o.dir);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const std::string capture = Absolute(o.capture);
  WarnOfPortMap(dir, err);
  const ChosenPort chosen = PortOptionValue(o.port);  // checked while parsing
  const int port = chosen.com;
  PrintedStreams streams(out, err, terminal);
  ProgressPrinter& printer = streams.printer;

  try {
    Cli cli(streams.Out(), streams.Err(), dir);
    MainForm& form = cli.Form();
    if (!chosen.device.empty()) cli.Options().NameDevice(port, chosen.device);
    cli.Options().SetProgressListener([&printer](const RunProgress& p) {
      if (p.phase == RunPhase::BootLines && p.linesSent > 0)
        printer.Progress(p.linesSent, p.linesTotal, "bootstrap lines");
      if (p.phase == RunPhase::Records && p.recordsSent > 0)
        printer.Progress(p.recordsSent, p.recordsTotal, "records");
    });
    try {
      if (port) cli.SetPort(port);
    } catch (const std::invalid_argument& e) {
      printer.ErrLine(std::string("kvuflash-cli: ") + e.what());
      return kUploadUsage;
    }
    const auto interrupted = [&]() {
      printer.Finish();
      printer.ErrLine("kvuflash-cli: Interrupted.");
      return kUploadInterrupted;
    };
    if (!capture.empty()) {
      cli.Options().SetCapturePath(capture);
      cli.Press(&MainForm::BtnCaptureFileClick);
      if (!form.S().CaptureEnabled) {
        printer.ErrLine(std::string("kvuflash-cli: ") + kNoCaptureNoRun);
        return kUploadError;
      }
    }

    // "Factory Bootstrap Upload": the port opens and the instructions show.
    cli.Press(&MainForm::BtnBootClick);
    if (!cli.RunUntilIdle(std::chrono::seconds(30))) {
      if (cli.Interrupted()) return interrupted();
      printer.ErrLine("kvuflash-cli: The port did not open in time.");
      return kUploadPortFailed;
    }
    if (form.S().Phase != RunPhase::FactoryReady) {
      const bool refused = form.S().Outcome == RunOutcome::RefusedBeforeSending;
      printer.ErrLine(std::string("kvuflash-cli: ") +
                      (refused ? "Nothing was sent. " : "The port could not be opened: ") +
                      form.W().FUpHist().back());
      return ExitStatusOf(form.S().Outcome);
    }

    // "&Proceed", once the user says the unit is ready.
    if (askToProceed && !o.yes) {
      printer.OutLine("Press Enter when the jumpers are fitted and the unit is on (Ctrl+C stops).");
      bool closed = false;
      const bool pressed = cli.RunUntil(
          [&] {
            const TerminalInput input = PollEnter();
            closed = input == TerminalInput::Closed;
            return input != TerminalInput::Nothing;
          },
          Limit(0));
      if (!pressed || closed) return interrupted();
    }
    const auto proceeded = std::chrono::steady_clock::now();
    cli.Press(&MainForm::BtnGoOnClick);
    const bool ended = cli.RunUntilIdle(Limit(o.timeoutSeconds));
    printer.Finish();
    if (!ended) {
      if (cli.Interrupted()) return interrupted();
      printer.ErrLine("kvuflash-cli: Timed out: the factory upload did not end within " +
                      std::to_string(static_cast<long long>(o.timeoutSeconds)) + " s (" +
                      form.W().FUpHist().back() + ").");
      return kUploadTimedOut;
    }

    const SequencerState& s = form.S();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - proceeded).count();
    if (s.Outcome == RunOutcome::Completed) {
      out << "kvuflash-cli: Factory upload complete in " << MinutesSeconds(seconds) << ": "
          << form.BootTransfer.BootLineNumber << " bootstrap lines and " << s.BlocksSent
          << " records sent. Switch the unit off, remove the jumpers JP2 and JP3, then upload"
          << " the main software." << std::endl;
    } else if (s.Outcome == RunOutcome::CompletedWithEraseErrors) {
      printer.ErrLine("kvuflash-cli: Factory upload complete in " + MinutesSeconds(seconds) +
                      ", but the unit reported erase errors (see above): its flash may not hold"
                      " the flash code. Run the factory upload again.");
    } else if (s.Outcome != RunOutcome::InputOutputError) {  // an error's message has been shown
      printer.ErrLine(std::string("kvuflash-cli: The factory upload stopped: ") +
                      OutcomeName(s.Outcome) + " (" + form.W().FUpHist().back() + ").");
    }
    return ExitStatusOf(s.Outcome);
  } catch (const std::exception& e) {
    printer.Finish();
    printer.ErrLine(std::string("kvuflash-cli: ") + e.what());
    return kUploadError;
  }
}
