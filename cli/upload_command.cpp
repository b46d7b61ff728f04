#include "cli/upload_command.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/command_support.h"
#include "cli/convert_command.h"
#include "cli/json_log.h"
#include "cli/unit_run.h"
#include "cli/verify_command.h"
#include "components/program_dir.h"
#include "components/thread_priority.h"
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

namespace {

std::string Canonical(const std::string& device) {
  std::error_code ec;
  const fs::path path = fs::weakly_canonical(device, ec);
  return ec ? device : path.string();
}

// A port given by its number (up to four digits) rather than by its device.
bool IsPortNumber(const std::string& text) {
  return !text.empty() && text.size() <= 4 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// The port the window remembers, as an upload without --port takes it.
std::string RememberedPort(const std::string& dir) {
  std::ostringstream quiet;
  Cli shell(quiet, dir);
  return shell.Form().W().List(Ctl::CommPortBox).Text();
}

// Every unit's port, resolved before anything opens through the same lookup a unit's port
// uses, so that two names for one adapter are caught instead of fighting over it. One unit
// takes the window's port numbers (1 to 9) and leaves its device to the port map; several may
// have numbers above 9 too. Bad ports raise std::invalid_argument.
std::vector<UnitPort> ResolvePorts(const UploadOptions& o) {
  std::vector<std::string> given = o.ports;
  if (given.empty()) given.push_back(RememberedPort(o.dir));
  std::vector<UnitPort> ports;
  if (given.size() == 1) {
    const ChosenPort chosen = PortOptionValue(given.front());
    ports.push_back(UnitPort{given.front(), chosen.device, chosen.com});
    return ports;
  }
  StdMainThread resolverThread;
  TSerial resolver(resolverThread);
  resolver.ProgramDir = o.dir.empty() ? DefaultProgramDir() : o.dir;
  for (const std::string& name : given) {
    UnitPort port{name, name, 1};
    if (IsPortNumber(name)) {
      const int number = std::stoi(name);
      if (number < 1) throw std::invalid_argument("There is no port " + name + ".");
      port.device = resolver.DeviceName(number);
      port.unreachable = port.device.empty();
      if (number <= 9) port.com = number;
    }
    for (const UnitPort& other : ports) {
      if (!port.device.empty() && Canonical(other.device) == Canonical(port.device)) {
        throw std::invalid_argument("Ports " + other.given + " and " + port.given +
                                    " are the same device (" + port.device + ").");
      }
    }
    ports.push_back(port);
  }
  return ports;
}

// FILE with the unit's number before its extension: each unit keeps its own capture.
std::string CaptureFor(const std::string& capture, std::size_t unit, std::size_t units) {
  if (capture.empty() || units == 1) return capture;
  const fs::path path(capture);
  return (path.parent_path() /
          (path.stem().string() + "-" + std::to_string(unit + 1) + path.extension().string()))
      .string();
}

std::string JsonLine(const UnitPort& port, const UploadOptions& o, const PreparedUpload& prepared,
                     const UnitResult& r) {
  using Json = nlohmann::ordered_json;
  const auto textOrNull = [](const std::string& text) {
    return text.empty() ? Json() : Json(text);
  };
  Json line;
  line["time"] = r.startedAt;
  line["port"] = port.given;
  line["device"] = textOrNull(port.device);
  line["file"] = o.file;
  line["upload_file"] = prepared.uploadFile;
  line["file_checksums"] = {{"firmware", prepared.firmwareSum}, {"fpga", prepared.fpgaSum}};
  line["baud"] = o.baud ? o.baud : 38400;
  line["fast"] = o.fast;
  line["records"] = r.total;
  line["records_sent"] = r.sent;
  line["outcome"] = OutcomeText(r);
  line["exit_status"] = r.status;
  line["duration_s"] = std::round(r.seconds * 1000) / 1000;
  line["unit_checksums"] =
      r.checksumsAsked ? Json{{"firmware", r.unitFirmware}, {"fpga", r.unitFpga}} : Json();
  line["unit_swr"] = textOrNull(r.unitSoftware);
  line["message"] = r.message;
  // A unit's answer may hold any bytes: they are replaced, not a reason to lose the line.
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void PrintTable(std::ostream& out, const std::vector<UnitPort>& ports,
                const std::vector<UnitResult>& results) {
  std::vector<std::vector<std::string>> rows = {
      {"Port", "Device", "Outcome", "Status", "Records", "Time", "Unit checksums"}};
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const UnitResult& r = results[i];
    rows.push_back(
        {ports[i].given, ports[i].device.empty() ? "-" : ports[i].device, OutcomeText(r),
         std::to_string(r.status), std::to_string(r.sent) + "/" + std::to_string(r.total),
         MinutesSeconds(r.seconds), r.checksumsAsked ? r.unitFirmware + "/" + r.unitFpga : "-"});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  out << '\n';
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    out << line << '\n';
  }
  out.flush();
}

// Names made absolute before the run moves into the input's folder, and the files the run
// would write checked before anything is: the input there, and no log that would land on
// firmware or wait for ever on a pipe.
int CheckFiles(UploadOptions& o, std::ostream& err) {
  const std::string named = o.file;
  o.file = Absolute(o.file);
  o.dir = Absolute(o.dir);
  if (!o.dir.empty() && o.dir.back() != '/') o.dir += '/';
  o.capture = Absolute(o.capture);
  o.json = Absolute(o.json);
  if (o.job != UnitJob::Info && !FileExists(o.file)) {
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
  try {
    const std::size_t units = std::max<std::size_t>(o.ports.size(), 1);
    for (std::size_t i = 0; i < units && !o.capture.empty(); ++i)
      RefuseUnfitLogName("--capture", CaptureFor(o.capture, i, units), o.file);
    if (!o.json.empty()) RefuseUnfitLogName("--json", o.json, o.file);
    if (o.baud != 0 && o.baud != 38400 && o.baud != 57600) {
      throw std::invalid_argument("The baud rate must be 38400 or 57600, not " +
                                  std::to_string(o.baud) + ".");
    }
  } catch (const std::invalid_argument& e) {
    err << "kvuflash-cli: " << e.what() << std::endl;
    return kUploadUsage;
  }
  return kUploadOk;
}

// One conversion for every unit of a production line; each is then given the same upload
// file, which it reads.
int PrepareOnce(const UploadOptions& o, PreparedUpload& prepared, std::ostream& out,
                std::ostream& err) {
  std::ostringstream said;
  std::ostringstream failed;
  const int status = PrepareUpload(o.file, said, failed, prepared, o.acceptBadChecksums);
  if (status != kConvertDone) {
    err << "kvuflash-cli: " << failed.str() << std::flush;
    return status == kConvertBadArguments ? kUploadUsage : kUploadBadInput;
  }
  out << said.str() << std::flush;
  return kUploadOk;
}

}  // namespace

int RunUpload(UploadOptions o, std::ostream& out, std::ostream& err, bool terminal) {
  if (const int status = CheckFiles(o, err); status != kUploadOk) return status;
  WarnOfPortMap(o.dir, err);
  std::vector<UnitPort> ports;
  try {
    ports = ResolvePorts(o);
  } catch (const std::invalid_argument& e) {
    err << "kvuflash-cli: " << e.what() << std::endl;
    return kUploadUsage;
  }
  const bool line = ports.size() > 1 || !o.json.empty();
  PreparedUpload prepared;
  if (o.job == UnitJob::Verify) {
    try {
      prepared = FileSumsInMemory(o.file);
    } catch (const std::exception& e) {
      err << "kvuflash-cli: " << e.what() << std::endl;
      return kUploadBadInput;
    }
  } else if (line && o.job == UnitJob::Upload) {
    if (const int status = PrepareOnce(o, prepared, out, err); status != kUploadOk) return status;
  }
  JsonLog log;
  try {
    log.Open(o.json);
  } catch (const std::exception& e) {
    err << "kvuflash-cli: " << e.what() << std::endl;
    return kUploadError;
  }

  std::vector<std::string> given;
  for (const UnitPort& port : ports) given.push_back(port.given);
  RunDisplay display(out, err, terminal, given);
  std::vector<UnitResult> results(ports.size());
  std::mutex logMutex;
  bool logFailed = false;
  const auto runUnit = [&](std::size_t i) {
    UnitSettings settings{o.dir,  CaptureFor(o.capture, i, ports.size()),
                          o.baud, o.timeoutSeconds,
                          o.fast, o.acceptBadChecksums,
                          !line,  prepared.records,
                          o.job};
    if (o.job == UnitJob::Verify) {
      settings.fileFirmware = prepared.firmwareSum;
      settings.fileFpga = prepared.fpgaSum;
    }
    results[i] = RunUnit(display, i, ports[i], settings, line ? prepared.uploadFile : o.file);
    if (!line) return;
    const bool logged = log.Append(JsonLine(ports[i], o, prepared, results[i]));
    std::lock_guard lock(logMutex);
    logFailed = logFailed || !logged;
  };
  if (ports.size() == 1) {
    runUnit(0);
  } else {
    std::vector<std::thread> units;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      units.emplace_back([&runUnit, i] {
        NameCurrentThread("kv-unit");
        runUnit(i);
      });
    }
    for (std::thread& unit : units) unit.join();
  }
  display.Finish();

  int status = kUploadOk;
  for (const UnitResult& r : results) status = Worse(status, r.status);
  if (!line) return status;
  PrintTable(out, ports, results);
  if (logFailed) {
    err << "kvuflash-cli: The log " << log.Path() << " could not be written in full." << std::endl;
    status = Worse(status, kUploadError);
  }
  return status;
}
