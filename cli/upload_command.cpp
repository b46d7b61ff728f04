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
#include <string>
#include <system_error>

#include "cli/cli.h"
#include "cli/command_support.h"
#include "cli/line_upload.h"
#include "components/port_map.h"
#include "fileprep/file_names.h"

namespace fs = std::filesystem;

const char* const kUploadHelpText =
    "Usage: kvuflash-cli upload [--port N|DEVICE]... [--baud 38400|57600] [--fast]\n"
    "                           [--capture FILE] [--json FILE] [--dir FOLDER]\n"
    "                           [--timeout SECONDS] [--accept-bad-checksums] FILE\n"
    "\n"
    "Runs a whole Software Upload of FILE (.KVU sent as it is; .hex, .h86, .mcs or .bin\n"
    "converted to a .KVU beside it first): opens the port, waits for the unit to be\n"
    "switched on (\"U\" until READY), erases, sends the records the unit asks for, and for\n"
    "1000 records or more compares the unit's memory checksums with the file's.\n"
    "\n"
    "  --port N|DEVICE   port number 1 to 9, or a device such as /dev/ttyUSB0. Given more\n"
    "                    than once, FILE is converted once and every port gets a unit of\n"
    "                    its own, all at the same time (numbers above 9 then count too)\n"
    "  --baud B          38400 (default) or 57600\n"
    "  --fast            send each record as soon as the unit asks for it, instead of at\n"
    "                    the next 60 ms tick; everything else stays as it is\n"
    "  --capture FILE    log every exchange to FILE (appended); with several ports, one\n"
    "                    file per unit, FILE with -1, -2, ... before its extension\n"
    "  --json FILE       append one JSON line per unit to FILE (time, port, device, file,\n"
    "                    checksums, records, outcome, exit status, duration, and the unit's\n"
    "                    checksums and SWR? answer when asked) and end with a table\n"
    "  --dir FOLDER      folder of the port settings file (default: the program's folder)\n"
    "  --timeout S       give up after S seconds in all (default 600 plus 0.2 per record;\n"
    "                    0: never). The unit's own time-outs apply as well.\n"
    "  --accept-bad-checksums\n"
    "                    use an Intel HEX file whose lines have wrong checksums or lengths\n"
    "                    (some old tools wrote wrong checksums), or that has no end record\n"
    "                    (it may have been cut short); without it such a file is refused\n"
    "                    before anything is written or sent\n"
    "\n"
    "With several ports (or --json) each unit shows one progress line, redrawn in place on\n"
    "a terminal, and a table ends the run: port, device, outcome, records, time and the\n"
    "unit's checksums. The exit status is 0 only when every unit completed; otherwise that\n"
    "of the worst outcome, in this order: 9, 1, 4, 7, 6, 11, 8, 5, 10, 3.\n"
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

UploadOptions ParseUpload(const std::vector<std::string>& args, const UploadDefaults& defaults) {
  UploadOptions o;
  if (defaults.port) o.ports.push_back(std::to_string(defaults.port));
  bool portGiven = false;  // ports named here replace the one named before the command
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
      if (!portGiven) o.ports.clear();
      portGiven = true;
      o.ports.push_back(value());
      if (o.ports.back().empty()) throw std::invalid_argument("--port needs a number or a device.");
    } else if (a == "--fast") {
      o.fast = true;
    } else if (a == "--json") {
      o.json = FileNameValue(a, value());
    } else if (a == "--baud") {
      const std::string text = value();
      if (!AllDigits(text) || text.size() > 6) {
        throw std::invalid_argument("'" + text + "' is not a valid number for --baud.");
      }
      o.baud = std::stoi(text);
    } else if (a == "--capture") {
      o.capture = FileNameValue(a, value());
    } else if (a == "--dir") {
      o.dir = value();
    } else if (a == "--timeout") {
      o.timeoutSeconds = TimeoutSecondsValue(value());
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

UnitUploadEnd DriveUpload(Cli& cli, const std::string& file, const std::string& capture,
                          double timeoutSeconds) {
  MainForm& form = cli.Form();
  const auto interrupted = [] { return UnitUploadEnd{kUploadInterrupted, "Interrupted."}; };

  if (!capture.empty()) {
    cli.Options().SetCapturePath(capture);
    cli.Press(&MainForm::BtnCaptureFileClick);
    // A capture asked for on the command line is a record someone means to keep: nothing is
    // done without it.
    if (!form.S().CaptureEnabled) return {kUploadError, kNoCaptureNoRun};
  }

  // "&Software Upload": the port opens (20 ticks at most).
  cli.Press(&MainForm::Btn2UploadClick);
  if (!cli.RunUntilIdle(std::chrono::seconds(30))) {
    if (cli.Interrupted()) return interrupted();
    return {kUploadPortFailed, "The port did not open in time."};
  }
  if (form.S().Phase != RunPhase::ChoosingFile) {
    return {ExitStatusOf(form.S().Outcome),
            form.S().Outcome == RunOutcome::PortFailure ? "The port could not be opened." : ""};
  }

  // "Choose File": the chooser answers with the file named on the command line.
  const std::size_t messagesBefore = cli.Ui().Messages.size();
  cli.SetChosenFile(file);
  cli.Press(&MainForm::BtnChooseFileClick);
  if (!cli.RunUntilIdle(std::chrono::minutes(10))) {
    if (cli.Interrupted()) return interrupted();
    return {kUploadBadInput, "The file could not be prepared in time."};
  }
  if (form.S().Phase != RunPhase::Ready) {
    // A refusal on the status line has been printed as it was shown; say it once more as the
    // reason, unless a message box said it already.
    return {form.S().Outcome == RunOutcome::None ? kUploadBadInput : ExitStatusOf(form.S().Outcome),
            cli.Ui().Messages.size() == messagesBefore ? form.W().Caption(Ctl::Label12) : ""};
  }

  // "Start &Upload": the dialogue with the unit runs until it ends.
  const int records = form.S().BlockCount;
  cli.Press(&MainForm::BtnStartRunClick);
  if (form.S().Phase != RunPhase::Handshake) {
    return {ExitStatusOf(form.S().Outcome), form.W().Caption(Ctl::Label12)};
  }
  const double limitSeconds = timeoutSeconds >= 0 ? timeoutSeconds : 600.0 + 0.2 * records;
  const auto limit = limitSeconds > 0
                         ? std::chrono::milliseconds(static_cast<long long>(limitSeconds * 1000))
                         : std::chrono::milliseconds(std::chrono::hours(24 * 365));
  if (!cli.RunUntilIdle(limit)) {
    if (cli.Interrupted()) return interrupted();
    return {kUploadTimedOut, "Timed out: the upload did not end within " +
                                 std::to_string(static_cast<long long>(limitSeconds)) + " s (" +
                                 form.S().WaitingFor + ", " + std::to_string(form.S().BlocksSent) +
                                 " of " + std::to_string(records) + " records sent)."};
  }

  const SequencerState& s = form.S();
  const int status = ExitStatusOf(s.Outcome);
  switch (s.Outcome) {
    case RunOutcome::Completed:
      return {status,
              "Upload complete: " + std::to_string(records) + " records sent" +
                  (records >= kChecksumCheckRecords ? "; the file carries no checksums to compare."
                                                    : ".")};
    case RunOutcome::CompletedWithEraseErrors:
      return {status, "Upload complete: " + std::to_string(records) +
                          " records sent, but the unit reported erase errors (see above): its "
                          "flash may not hold the image."};
    case RunOutcome::RecordRefused:
      return {status, form.W().Caption(Ctl::Label2) + "."};
    case RunOutcome::ChecksumsMatch:
      return {status, "Upload complete: " + std::to_string(records) +
                          " records sent, the unit's checksums match the file's."};
    case RunOutcome::ChecksumsDifferent:
      return {status, "Checksums different: the unit reports " + s.UnitFirmwareChecksum + "/" +
                          s.UnitFpgaChecksum + ", the file holds " + s.FileFirmwareChecksum + "/" +
                          s.FileFpgaChecksum + "."};
    case RunOutcome::TimedOut:
      return {status, "Timed out " + s.WaitingFor + "."};
    case RunOutcome::HaltedByUnit:
      return {status, "The unit halted the upload (UPLOAD FAILED) after " +
                          std::to_string(s.BlocksSent) + " of " + std::to_string(records) +
                          " records."};
    case RunOutcome::UnexpectedAnswer: {
      std::string answer = s.LastReply;
      while (!answer.empty() && (answer.back() == '\r' || answer.back() == '\n')) answer.pop_back();
      return {status, "Unexpected answer from the unit: " + answer};
    }
    case RunOutcome::InputOutputError:
      return {status, ""};  // the message has been shown
    case RunOutcome::RefusedBeforeSending:
      if (!form.W().Caption(Ctl::Label12).empty())
        return {status, form.W().Caption(Ctl::Label12) + "."};
      return {status, std::string("The upload stopped: ") + OutcomeName(s.Outcome) + "."};
    default:
      return {status, std::string("The upload stopped: ") + OutcomeName(s.Outcome) + "."};
  }
}

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
  const std::string named = o.file;
  o.file = fs::absolute(fs::path(o.file)).lexically_normal().string();
  o.dir = Absolute(o.dir);
  if (!o.dir.empty() && o.dir.back() != '/') o.dir += '/';
  o.capture = Absolute(o.capture);
  o.json = Absolute(o.json);
  if (!FileExists(o.file)) {
    // A folder, a pipe or a device says what it is; anything else is not there.
    std::string problem = named + ": File not found";
    try {
      RequireOrdinaryFile(named);
    } catch (const std::exception& e) {
      problem = e.what();
    }
    err << "kvuflash-cli: " << problem << std::endl;
    return kUploadBadInput;
  }
  WarnOfPortMap(o.dir, err);
  if (o.ports.size() > 1 || !o.json.empty()) return RunLineUpload(o, out, err, terminal);

  int port = 0;
  std::string namedDevice;  // a device given by its path, reached as COM `port`
  const std::string given = o.ports.empty() ? "" : o.ports.back();
  try {
    const ChosenPort chosen = PortOptionValue(given);
    port = chosen.com;
    namedDevice = chosen.device;
  } catch (const std::invalid_argument& e) {
    err << "kvuflash-cli: " << e.what() << std::endl;
    return kUploadUsage;
  }

  PrintedStreams streams(out, err, terminal);
  ProgressPrinter& printer = streams.printer;

  try {
    Cli cli(streams.Out(), streams.Err(), o.dir);
    cli.Ui().ConfirmAnswer = o.acceptBadChecksums;
    cli.Options().SetRecordsOnRequest(o.fast);
    if (!namedDevice.empty()) cli.Options().NameDevice(port, namedDevice);
    cli.Options().SetProgressListener([&printer](const RunProgress& p) {
      if (p.phase == RunPhase::Records && p.recordsSent > 0)
        printer.Progress(p.recordsSent, p.recordsTotal);
    });
    try {
      if (port) cli.SetPort(port);
      if (o.baud) cli.SetBaud(o.baud);
    } catch (const std::invalid_argument& e) {
      printer.ErrLine(std::string("kvuflash-cli: ") + e.what());
      return kUploadUsage;
    }
    const UnitUploadEnd end = DriveUpload(cli, o.file, o.capture, o.timeoutSeconds);
    printer.Finish();
    if (end.status == kUploadOk) {
      out << "kvuflash-cli: " << end.message << std::endl;
    } else if (!end.message.empty()) {
      printer.ErrLine("kvuflash-cli: " + end.message);
    }
    return end.status;
  } catch (const std::exception& e) {
    printer.Finish();
    printer.ErrLine(std::string("kvuflash-cli: ") + e.what());
    return kUploadError;
  }
}
