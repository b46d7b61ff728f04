#include "cli/line_upload.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "cli/command_support.h"
#include "cli/convert_command.h"
#include "components/clock.h"
#include "components/program_dir.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr int kBarWidth = 20;
constexpr std::size_t kLabelWidth = 14;
constexpr std::size_t kScreenWidth = 79;  // a unit's line must not wrap, or the redraw drifts

// Worst first: the run as a whole stopped, then the bench itself failing (an input/output
// error, a port missing or taken), then a unit that looks flashed but holds other firmware,
// then units the unit itself stopped, and last a file refused before anything was sent.
constexpr int kWorstFirst[] = {kUploadInterrupted,     kUploadError,    kUploadPortFailed,
                               kUploadChecksumsDiffer, kUploadHalted,   kUploadRecordRefused,
                               kUploadUnexpected,      kUploadTimedOut, kUploadEraseErrors,
                               kUploadBadInput,        kUploadUsage};

int Worse(int a, int b) {
  for (int status : kWorstFirst) {
    if (a == status || b == status) return status;
  }
  return std::max(a, b);
}

// A unit's port as given, and the device and COM number its shell reaches it as.
struct UnitPort {
  std::string given;   // "3", "/dev/serial/by-id/..."
  std::string device;  // empty: no device stands for that number
  int com = 1;         // the window's list holds 1 to 9; larger numbers are named as COM 1
};

struct UnitResult {
  int status = kUploadError;
  std::string message;  // the reason, for the log
  std::string toSay;    // what is still to be said when the unit ends
  RunOutcome outcome = RunOutcome::None;
  int sent = 0;
  int total = 0;
  double seconds = 0;
  std::string startedAt;  // ISO 8601, local time with its offset
  bool checksumsAsked = false;
  std::string unitFirmware;
  std::string unitFpga;
  std::string unitSoftware;
};

std::string IsoNow() {
  const std::tm local = LocalTime(std::time(nullptr));
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string iso = text;
  if (iso.size() > 2) iso.insert(iso.size() - 2, ":");  // +0200 -> +02:00
  return iso;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonOrNull(bool present, const std::string& text) {
  return present ? Json(text) : "null";
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

// The unit's label on its progress line: the port as given, its end kept when it is long.
std::string Label(const std::string& given) {
  if (given.size() <= kLabelWidth) return given;
  return ".." + given.substr(given.size() - (kLabelWidth - 2));
}

std::string PhaseText(RunPhase phase) {
  switch (phase) {
    case RunPhase::Idle:
    case RunPhase::OpeningPort:
      return "opening the port";
    case RunPhase::ChoosingFile:
    case RunPhase::Preparing:
    case RunPhase::Ready:
      return "taking the file";
    case RunPhase::Handshake:
      return "waiting for READY: power the unit up";
    case RunPhase::Erase:
      return "erasing";
    case RunPhase::Records:
      return "records";
    case RunPhase::Finishing:
      return "UPLOAD DONE sent, waiting for THANK YOU";
    case RunPhase::Reboot:
      return "the unit reboots";
    case RunPhase::Checksums:
      return "asking the unit for its checksums";
    case RunPhase::FactoryReady:
    case RunPhase::ChipHandshake:
    case RunPhase::BootLines:
    case RunPhase::FlashCodePreparing:
      return "factory bootstrap";  // a production line runs Software Uploads only
    case RunPhase::Ended:
      return "ended";
  }
  return "";
}

// What the user sees while the units run: on a terminal one line per unit, redrawn in place
// (messages appear above them); otherwise plain lines, each prefixed with its unit's port.
// Units report from their own threads; the main thread redraws.
class LineDisplay {
 public:
  LineDisplay(std::ostream& out, std::ostream& err, bool terminal,
              const std::vector<UnitPort>& ports)
      : out_(out), err_(err), terminal_(terminal), units_(ports.size()) {
    for (std::size_t i = 0; i < ports.size(); ++i) units_[i].port = ports[i].given;
  }

  // A line the unit's shell printed ("Label12: ...", "FUpHist: ...").
  void ShellLine(std::size_t unit, const std::string& line) {
    // Records show as progress; the per-record lines would drown everything else.
    if (line.find(": Sending block ") != std::string::npos) return;
    std::lock_guard lock(mutex_);
    if (!terminal_) out_ << '[' << units_[unit].port << "] " << line << std::endl;
  }

  void Message(std::size_t unit, const std::string& text, bool good = false) {
    std::lock_guard lock(mutex_);
    const std::string line = '[' + units_[unit].port + "] " + text;
    if (terminal_) {
      messages_.push_back({line, good});
      return;
    }
    (good ? out_ : err_) << line << std::endl;
  }

  void Progress(std::size_t unit, const RunProgress& p) {
    std::lock_guard lock(mutex_);
    Unit& u = units_[unit];
    u.phase = p.phase;
    if (p.phase != RunPhase::Records || p.recordsSent <= 0) return;
    if (p.recordsSent == 1) u.firstRecord = Clock::now();
    u.sent = p.recordsSent;
    u.total = p.recordsTotal;
    if (terminal_) return;
    const int tenth = u.total > 0 ? u.sent * 10 / u.total : 10;
    if (u.sent != 1 && u.sent != u.total && tenth == u.lastTenth) return;
    u.lastTenth = tenth;
    out_ << '[' << u.port << "] records " << u.sent << '/' << u.total << " ("
         << Percent(u.sent, u.total) << "%, " << TimeLeft(u) << " left)" << std::endl;
  }

  void Ended(std::size_t unit, const UnitResult& r) {
    {
      std::lock_guard lock(mutex_);
      Unit& u = units_[unit];
      u.ended = true;
      u.endText = std::string(OutcomeText(r)) + ", " + std::to_string(r.sent) + "/" +
                  std::to_string(r.total) + " records in " + MinutesSeconds(r.seconds);
    }
    if (!r.toSay.empty()) Message(unit, "kvuflash-cli: " + r.toSay, r.status == kUploadOk);
  }

  void Redraw() {
    std::lock_guard lock(mutex_);
    if (!terminal_) return;
    if (drawn_) out_ << "\033[" << units_.size() << "A\r\033[J";
    if (!messages_.empty()) {
      out_.flush();
      for (const auto& [line, good] : messages_) (good ? out_ : err_) << line << std::endl;
      messages_.clear();
    }
    for (const Unit& u : units_) {
      std::string line = Label(u.port);
      line.resize(kLabelWidth, ' ');
      line += "  " + UnitText(u);
      if (line.size() > kScreenWidth) line.resize(kScreenWidth);
      out_ << line << "\033[K\n";
    }
    out_.flush();
    drawn_ = true;
  }

 private:
  struct Unit {
    std::string port;
    RunPhase phase = RunPhase::Idle;
    int sent = 0;
    int total = 0;
    int lastTenth = -1;
    Clock::time_point firstRecord{};
    bool ended = false;
    std::string endText;
  };

  static int Percent(int sent, int total) { return total > 0 ? sent * 100 / total : 100; }

  static std::string TimeLeft(const Unit& u) {
    double perRecord = kTickSeconds;  // one record per tick until there is a measure
    if (u.sent > 1) {
      perRecord =
          std::chrono::duration<double>(Clock::now() - u.firstRecord).count() / (u.sent - 1);
    }
    return MinutesSeconds(perRecord * (u.total - u.sent));
  }

  static std::string UnitText(const Unit& u) {
    if (u.ended) return u.endText;
    if (u.phase != RunPhase::Records || u.total <= 0) return PhaseText(u.phase);
    const int filled = u.sent * kBarWidth / u.total;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] " +
           std::to_string(u.sent) + "/" + std::to_string(u.total) + "  " +
           std::to_string(Percent(u.sent, u.total)) + "%  " + TimeLeft(u) + " left";
  }

  std::ostream& out_;
  std::ostream& err_;
  const bool terminal_;
  std::mutex mutex_;
  std::vector<Unit> units_;
  std::vector<std::pair<std::string, bool>> messages_;
  bool drawn_ = false;
};

// The log a production line keeps: one JSON object per unit and run, appended as each unit
// ends, so that a run cut short keeps the units that had finished.
class JsonLog {
 public:
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    path_ = path;
    file_.open(path, std::ios::binary | std::ios::app);
    return file_.good();
  }
  // False when the line could not be written.
  bool Append(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (path_.empty()) return true;
    file_ << line << '\n';
    file_.flush();
    return file_.good();
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::ofstream file_;
  std::mutex mutex_;
};

std::string JsonLine(const UnitPort& port, const UploadOptions& o, const PreparedUpload& prepared,
                     const UnitResult& r) {
  std::ostringstream line;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  line << "{\"time\":" << Json(r.startedAt) << ",\"port\":" << Json(port.given)
       << ",\"device\":" << JsonOrNull(!port.device.empty(), port.device)
       << ",\"file\":" << Json(o.file) << ",\"upload_file\":" << Json(prepared.uploadFile)
       << ",\"file_checksums\":{\"firmware\":" << Json(prepared.firmwareSum)
       << ",\"fpga\":" << Json(prepared.fpgaSum) << "},\"baud\":" << (o.baud ? o.baud : 38400)
       << ",\"fast\":" << (o.fast ? "true" : "false") << ",\"records\":" << r.total
       << ",\"records_sent\":" << r.sent << ",\"outcome\":" << Json(OutcomeText(r))
       << ",\"exit_status\":" << r.status << ",\"duration_s\":" << seconds
       << ",\"unit_checksums\":";
  if (r.checksumsAsked) {
    line << "{\"firmware\":" << Json(r.unitFirmware) << ",\"fpga\":" << Json(r.unitFpga) << '}';
  } else {
    line << "null";
  }
  line << ",\"unit_swr\":" << JsonOrNull(!r.unitSoftware.empty(), r.unitSoftware)
       << ",\"message\":" << Json(r.message) << '}';
  return line.str();
}

// FILE with the unit's number before its extension: each unit keeps its own capture.
std::string CaptureFor(const std::string& capture, std::size_t unit, std::size_t units) {
  if (capture.empty() || units == 1) return capture;
  const fs::path path(capture);
  return (path.parent_path() /
          (path.stem().string() + "-" + std::to_string(unit + 1) + path.extension().string()))
      .string();
}

void RunUnit(std::size_t index, const UnitPort& port, const UploadOptions& o,
             const PreparedUpload& prepared, LineDisplay& display, UnitResult& result) {
  result.startedAt = IsoNow();
  result.total = prepared.records;
  const auto started = Clock::now();
  if (port.device.empty()) {
    result.status = kUploadPortFailed;
    result.outcome = RunOutcome::PortFailure;
    result.message = "There is no serial device for port " + port.given +
                     ": attach an adapter, or name its device in ports.txt (" + port.given +
                     "=/dev/ttyUSB0).";
    result.toSay = result.message;
    display.Ended(index, result);
    return;
  }
  LineBuf outBuf([&display, index](const std::string& line) { display.ShellLine(index, line); });
  // What the shell said last as a message: the reason of a failure that it reported itself.
  std::string lastMessage;
  LineBuf errBuf([&display, &lastMessage, index](const std::string& line) {
    display.Message(index, line);
    lastMessage = line.rfind("kvuflash-cli: ", 0) == 0 ? line.substr(14) : line;
  });
  std::ostream shellOut(&outBuf);
  std::ostream shellErr(&errBuf);
  try {
    Cli cli(shellOut, shellErr, o.dir);
    MainForm& form = cli.Form();
    Station& options = cli.Options();
    options.SetRecordsOnRequest(o.fast);
    options.SetRememberPort(false);
    options.NameDevice(port.com, port.device);
    options.SetProgressListener(
        [&display, index](const RunProgress& p) { display.Progress(index, p); });
    cli.SetPort(port.com);
    if (o.baud) cli.SetBaud(o.baud);
    const UnitUploadEnd end = DriveUpload(
        cli, prepared.uploadFile, CaptureFor(o.capture, index, o.ports.size()), o.timeoutSeconds);
    const SequencerState& s = form.S();
    result.status = end.status;
    // The shell's own message names the cause ("... is not present") behind the command's.
    result.toSay = end.message;
    result.message = end.message;
    if (end.status != kUploadOk && !lastMessage.empty() && lastMessage != end.message)
      result.message += (result.message.empty() ? "" : " ") + lastMessage;
    result.outcome = s.Outcome;
    result.sent = s.BlocksSent;
    result.checksumsAsked =
        s.Outcome == RunOutcome::ChecksumsMatch || s.Outcome == RunOutcome::ChecksumsDifferent;
    result.unitFirmware = s.UnitFirmwareChecksum;
    result.unitFpga = s.UnitFpgaChecksum;
    result.unitSoftware = s.UnitSoftwareVersion;
  } catch (const std::exception& e) {
    result.status = kUploadError;
    result.message = result.toSay = e.what();
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  display.Ended(index, result);
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

}  // namespace

int RunLineUpload(const UploadOptions& o, std::ostream& out, std::ostream& err, bool terminal) {
  if (o.baud != 0 && o.baud != 38400 && o.baud != 57600) {
    err << "kvuflash-cli: The baud rate must be 38400 or 57600, not " << o.baud << "." << std::endl;
    return kUploadUsage;
  }

  // Every port is resolved before anything opens, through the same lookup a unit's port uses,
  // so that two names for one adapter are caught instead of fighting over it.
  std::vector<UnitPort> ports;
  {
    StdMainThread resolverThread;
    TSerial resolver(resolverThread);
    resolver.ProgramDir = o.dir.empty() ? DefaultProgramDir() : o.dir;
    std::vector<std::string> given = o.ports;
    if (given.empty()) {
      // No port named: the one the window remembers, as an upload to one port would take.
      std::ostringstream quiet;
      Cli shell(quiet, quiet, o.dir);
      given.push_back(shell.Form().W().List(Ctl::CommPortBox).Text());
    }
    for (const std::string& name : given) {
      UnitPort port;
      port.given = name;
      if (IsPortNumber(name)) {
        const int number = std::stoi(name);
        if (number < 1) {
          err << "kvuflash-cli: There is no port " << name << "." << std::endl;
          return kUploadUsage;
        }
        port.device = resolver.DeviceName(number);
        if (number <= 9) port.com = number;
      } else {
        port.device = name;
      }
      for (const UnitPort& other : ports) {
        if (!port.device.empty() && Canonical(other.device) == Canonical(port.device)) {
          err << "kvuflash-cli: Ports " << other.given << " and " << port.given
              << " are the same device (" << port.device << ")." << std::endl;
          return kUploadUsage;
        }
      }
      ports.push_back(port);
    }
  }

  // One conversion for every unit; each is then given the same upload file, which it reads.
  PreparedUpload prepared;
  {
    std::ostringstream said;
    std::ostringstream failed;
    const int status = PrepareUpload(o.file, said, failed, prepared, o.acceptBadChecksums);
    if (status != kConvertDone) {
      err << "kvuflash-cli: " << failed.str() << std::flush;
      return status == kConvertBadArguments ? kUploadUsage : kUploadBadInput;
    }
    out << said.str() << std::flush;
  }

  JsonLog log;
  if (!log.Open(o.json)) {
    err << "kvuflash-cli: The log " << o.json << " cannot be written." << std::endl;
    return kUploadError;
  }

  LineDisplay display(out, err, terminal, ports);
  std::vector<UnitResult> results(ports.size());
  std::mutex doneMutex;
  std::size_t done = 0;
  bool logFailed = false;
  {
    std::vector<std::thread> units;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      units.emplace_back([&, i] {
        RunUnit(i, ports[i], o, prepared, display, results[i]);
        const bool logged = log.Append(JsonLine(ports[i], o, prepared, results[i]));
        std::lock_guard lock(doneMutex);
        logFailed = logFailed || !logged;
        ++done;
      });
    }
    for (;;) {
      {
        std::lock_guard lock(doneMutex);
        if (done == units.size()) break;
      }
      display.Redraw();
      std::this_thread::sleep_for(kRedrawInterval);
    }
    for (std::thread& unit : units) unit.join();
  }
  display.Redraw();

  out << '\n';
  PrintTable(out, ports, results);
  int status = kUploadOk;
  for (const UnitResult& r : results) status = Worse(status, r.status);
  if (logFailed) {
    err << "kvuflash-cli: The log " << log.Path() << " could not be written in full." << std::endl;
    status = Worse(status, kUploadError);
  }
  return status;
}
