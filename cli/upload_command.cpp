#include "cli/upload_command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <system_error>

#include "cli/cli.h"
#include "cli/command_support.h"
#include "components/port_map.h"
#include "fileprep/file_names.h"

namespace fs = std::filesystem;

const char* const kUploadHelpText =
    "Usage: kvuflash-cli upload [--port N|DEVICE] [--baud 38400|57600] [--capture FILE]\n"
    "                           [--dir FOLDER] [--timeout SECONDS]\n"
    "                           [--accept-bad-checksums] FILE\n"
    "\n"
    "Runs a whole Software Upload of FILE (.KVU sent as it is; .hex, .h86, .mcs or .bin\n"
    "converted to a .KVU beside it first): opens the port, waits for the unit to be\n"
    "switched on (\"U\" until READY), erases, sends the records the unit asks for, and for\n"
    "1000 records or more compares the unit's memory checksums with the file's.\n"
    "\n"
    "  --port N|DEVICE   port number 1 to 9, or a device such as /dev/ttyUSB0\n"
    "  --baud B          38400 (default) or 57600\n"
    "  --capture FILE    log every exchange to FILE (appended)\n"
    "  --dir FOLDER      folder of the port settings file (default: the program's folder)\n"
    "  --timeout S       give up after S seconds in all (default 600 plus 0.2 per record;\n"
    "                    0: never). The unit's own time-outs apply as well.\n"
    "  --accept-bad-checksums\n"
    "                    use an Intel HEX file whose lines have wrong checksums or lengths\n"
    "                    (some old tools wrote wrong checksums); without it such a file is\n"
    "                    refused before anything is written or sent\n"
    "\n"
    "Exit status:\n"
    "  0  upload complete (and, from 1000 records, \"Checksums match, Upload successful\")\n"
    "  1  input/output error during the run, or another failure\n"
    "  2  bad arguments\n"
    "  3  bad input: file missing, unknown extension, malformed HEX, nothing to send,\n"
    "     bad .KVU size, or the converted file cannot be written\n"
    "  4  the port could not be opened\n"
    "  5  time-out: the unit did not answer in time (or --timeout passed)\n"
    "  6  halted by the unit (\"UPLOAD FAILED\")\n"
    "  7  checksums different\n"
    "  8  unexpected answer from the unit (such as an erase time-out)\n"
    "  9  interrupted\n"
    "  10 completed, but the unit reported erase errors: its flash may not hold the\n"
    "     image; upload again, and have the unit seen to if the errors come back\n"
    "  11 the unit refused one record again and again (cable, noise on the line)\n";

int ExitStatusOf(RunOutcome outcome) {
  struct Row {
    RunOutcome outcome;
    int status;
  };
  static constexpr Row kTable[] = {
      {RunOutcome::Completed, kUploadOk},
      {RunOutcome::CompletedWithEraseErrors, kUploadEraseErrors},
      {RunOutcome::RecordRefused, kUploadRecordRefused},
      {RunOutcome::ChecksumsMatch, kUploadOk},
      {RunOutcome::ChecksumsDifferent, kUploadChecksumsDiffer},
      {RunOutcome::HaltedByUnit, kUploadHalted},
      {RunOutcome::TimedOut, kUploadTimedOut},
      {RunOutcome::UnexpectedAnswer, kUploadUnexpected},
      {RunOutcome::PortFailure, kUploadPortFailed},
      {RunOutcome::InputOutputError, kUploadError},
      {RunOutcome::BadInput, kUploadBadInput},
      {RunOutcome::RefusedBeforeSending, kUploadBadInput},
      {RunOutcome::NoIdentification, kFactoryNoIdentification},
      {RunOutcome::WrongIdentification, kFactoryWrongIdentification},
      {RunOutcome::LoaderSilent, kFactoryLoaderSilent},
      {RunOutcome::LoaderBadAnswer, kFactoryLoaderBadAnswer},
      {RunOutcome::BadEchoes, kFactoryBadEchoes},
      {RunOutcome::BootLineTimedOut, kFactoryLineTimedOut},
  };
  for (const Row& row : kTable) {
    if (row.outcome == outcome) return row.status;
  }
  return kUploadError;  // a run that did not end is no success
}

namespace {

struct UploadOptions {
  std::string port;  // a number or a device
  int baud = 0;
  std::string capture;
  std::string dir;
  double timeoutSeconds = -1;  // < 0: the default for the file's size
  std::string file;
  bool help = false;
  bool acceptBadChecksums = false;
};

UploadOptions ParseUpload(const std::vector<std::string>& args, const UploadDefaults& defaults) {
  UploadOptions o;
  if (defaults.port) o.port = std::to_string(defaults.port);
  o.baud = defaults.baud;
  o.dir = defaults.dir;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value.");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--port") {
      o.port = value();
      if (o.port.empty()) throw std::invalid_argument("--port needs a number or a device.");
    } else if (a == "--baud") {
      const std::string text = value();
      if (!AllDigits(text) || text.size() > 6) {
        throw std::invalid_argument("'" + text + "' is not a valid number for --baud.");
      }
      o.baud = std::stoi(text);
    } else if (a == "--capture") {
      o.capture = value();
      if (o.capture.empty()) throw std::invalid_argument("--capture needs a file name.");
    } else if (a == "--dir") {
      o.dir = value();
    } else if (a == "--timeout") {
      const std::string text = value();
      if (!AllDigits(text) || text.size() > 7) {
        throw std::invalid_argument("'" + text +
                                    "' is not a valid number of seconds for --timeout.");
      }
      o.timeoutSeconds = std::stod(text);
    } else if (a == "--accept-bad-checksums") {
      o.acceptBadChecksums = true;
    } else if (StartsWith(a, "--")) {
      throw std::invalid_argument("Unknown option " + a + " for upload.");
    } else if (o.file.empty()) {
      o.file = a;
    } else {
      throw std::invalid_argument("upload takes one file name, not also '" + a + "'.");
    }
  }
  if (!o.help && o.file.empty()) {
    throw std::invalid_argument("upload needs the name of the file to send.");
  }
  return o;
}

}  // namespace

int RunUpload(const std::vector<std::string>& args, const UploadDefaults& defaults,
              std::ostream& out, std::ostream& err, bool terminal) {
  UploadOptions o;
  try {
    o = ParseUpload(args, defaults);
  } catch (const std::invalid_argument& e) {
    err << "kvuflash-cli: " << e.what() << " Try kvuflash-cli upload --help." << std::endl;
    return kUploadUsage;
  }
  if (o.help) {
    out << kUploadHelpText;
    return kUploadOk;
  }

  // Everything is named absolutely before the run moves into the input's folder.
  const fs::path input = fs::absolute(fs::path(o.file)).lexically_normal();
  std::string dir = Absolute(o.dir);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const std::string capture = Absolute(o.capture);
  if (!FileExists(input.string())) {
    // A folder, a pipe or a device says what it is; anything else is not there.
    std::string problem = o.file + ": File not found";
    try {
      RequireOrdinaryFile(o.file);
    } catch (const std::exception& e) {
      problem = e.what();
    }
    err << "kvuflash-cli: " << problem << std::endl;
    return kUploadBadInput;
  }

  int port = 0;
  if (!o.port.empty()) {
    if (AllDigits(o.port) && o.port.size() <= 2) {
      port = std::stoi(o.port);
    } else if (AllDigits(o.port)) {
      err << "kvuflash-cli: The port must be a number from 1 to 9, not " << o.port << "."
          << std::endl;
      return kUploadUsage;
    } else {
      port = PortForDevice(Absolute(o.port));
    }
  }

  ProgressPrinter printer(out, err, terminal);
  LineBuf outBuf([&printer](const std::string& line) { printer.OutLine(line); });
  LineBuf errBuf([&printer](const std::string& line) { printer.ErrLine(line); });
  std::ostream shellOut(&outBuf);
  std::ostream shellErr(&errBuf);

  try {
    Cli cli(shellOut, shellErr, dir);
    cli.Ui().ConfirmAnswer = o.acceptBadChecksums;
    MainForm& form = cli.Form();
    form.Core.OnProgress = [&printer](const RunProgress& p) {
      if (p.phase == RunPhase::Records && p.recordsSent > 0)
        printer.Progress(p.recordsSent, p.recordsTotal);
    };
    try {
      if (port) cli.SetPort(port);
      if (o.baud) cli.SetBaud(o.baud);
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
      form.Core.CapturePath = capture;
      cli.Press(&MainForm::BtnCaptureFileClick);
      if (!form.S().CaptureEnabled) return kUploadError;  // the message has been shown
    }

    // "&Software Upload": the port opens (20 ticks at most).
    cli.Press(&MainForm::Btn2UploadClick);
    if (!cli.RunUntilIdle(std::chrono::seconds(30))) {
      if (cli.Interrupted()) return interrupted();
      printer.ErrLine("kvuflash-cli: The port did not open in time.");
      return kUploadPortFailed;
    }
    if (form.S().Phase != RunPhase::ChoosingFile) {
      if (form.S().Outcome == RunOutcome::PortFailure)
        printer.ErrLine("kvuflash-cli: The port could not be opened.");
      return ExitStatusOf(form.S().Outcome);
    }

    // "Choose File": the chooser answers with the file named on the command line.
    const std::size_t messagesBefore = cli.Ui().Messages.size();
    cli.SetChosenFile(input.string());
    cli.Press(&MainForm::BtnChooseFileClick);
    if (!cli.RunUntilIdle(std::chrono::minutes(10))) {
      if (cli.Interrupted()) return interrupted();
      printer.ErrLine("kvuflash-cli: The file could not be prepared in time.");
      return kUploadBadInput;
    }
    if (form.S().Phase != RunPhase::Ready) {
      // A refusal on the status line has been printed as it was shown; say it once more as the
      // reason, unless a message box said it already.
      if (cli.Ui().Messages.size() == messagesBefore) {
        printer.ErrLine("kvuflash-cli: " + form.W().Caption(Ctl::Label12));
      }
      return form.S().Outcome == RunOutcome::None ? kUploadBadInput
                                                  : ExitStatusOf(form.S().Outcome);
    }

    // "Start &Upload": the dialogue with the unit runs until it ends.
    const int records = form.S().BlockCount;
    cli.Press(&MainForm::BtnStartRunClick);
    if (form.S().Phase != RunPhase::Handshake) {
      printer.ErrLine("kvuflash-cli: " + form.W().Caption(Ctl::Label12));
      return ExitStatusOf(form.S().Outcome);
    }
    const double limitSeconds = o.timeoutSeconds >= 0 ? o.timeoutSeconds : 600.0 + 0.2 * records;
    const auto limit = limitSeconds > 0
                           ? std::chrono::milliseconds(static_cast<long long>(limitSeconds * 1000))
                           : std::chrono::milliseconds(std::chrono::hours(24 * 365));
    const bool ended = cli.RunUntilIdle(limit);
    printer.Finish();
    if (!ended) {
      if (cli.Interrupted()) return interrupted();
      printer.ErrLine("kvuflash-cli: Timed out: the upload did not end within " +
                      std::to_string(static_cast<long long>(limitSeconds)) + " s (" +
                      form.S().WaitingFor + ", " + std::to_string(form.S().BlocksSent) + " of " +
                      std::to_string(records) + " records sent).");
      return kUploadTimedOut;
    }

    const SequencerState& s = form.S();
    const int status = ExitStatusOf(s.Outcome);
    switch (s.Outcome) {
      case RunOutcome::Completed:
        out << "kvuflash-cli: Upload complete: " << records << " records sent"
            << (records >= kChecksumCheckRecords ? "; the file carries no checksums to compare."
                                                 : ".")
            << std::endl;
        break;
      case RunOutcome::CompletedWithEraseErrors:
        printer.ErrLine("kvuflash-cli: Upload complete: " + std::to_string(records) +
                        " records sent, but the unit reported erase errors (see above): its flash "
                        "may not hold the image.");
        break;
      case RunOutcome::RecordRefused:
        printer.ErrLine("kvuflash-cli: " + form.W().Caption(Ctl::Label2) + ".");
        break;
      case RunOutcome::ChecksumsMatch:
        out << "kvuflash-cli: Upload complete: " << records
            << " records sent, the unit's checksums match the file's." << std::endl;
        break;
      case RunOutcome::ChecksumsDifferent:
        printer.ErrLine("kvuflash-cli: Checksums different: the unit reports " +
                        s.UnitFirmwareChecksum + "/" + s.UnitFpgaChecksum + ", the file holds " +
                        s.FileFirmwareChecksum + "/" + s.FileFpgaChecksum + ".");
        break;
      case RunOutcome::TimedOut:
        printer.ErrLine("kvuflash-cli: Timed out " + s.WaitingFor + ".");
        break;
      case RunOutcome::HaltedByUnit:
        printer.ErrLine("kvuflash-cli: The unit halted the upload (UPLOAD FAILED) after " +
                        std::to_string(s.BlocksSent) + " of " + std::to_string(records) +
                        " records.");
        break;
      case RunOutcome::UnexpectedAnswer: {
        std::string answer = s.LastReply;
        while (!answer.empty() && (answer.back() == '\r' || answer.back() == '\n'))
          answer.pop_back();
        printer.ErrLine("kvuflash-cli: Unexpected answer from the unit: " + answer);
        break;
      }
      case RunOutcome::InputOutputError:
        break;  // the message has been shown
      default:
        printer.ErrLine(std::string("kvuflash-cli: The upload stopped: ") + OutcomeName(s.Outcome) +
                        ".");
        break;
    }
    return status;
  } catch (const std::exception& e) {
    printer.Finish();
    printer.ErrLine(std::string("kvuflash-cli: ") + e.what());
    return kUploadError;
  }
}
