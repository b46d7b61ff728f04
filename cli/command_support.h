// Pieces that the commands share: a stream buffer that hands over whole lines, the printer that
// draws the per-record lines as a progress bar, and turning option values into ports and paths.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

#include "sequencer/ticks.h"

inline constexpr int kBarWidth = 30;
// The per-record history lines, drawn as a bar; a factory run's per-line ones likewise.
inline constexpr const char* kSendingBlock = "Sending block ";
inline constexpr const char* kSendingLine = "Sending line ";

bool StartsWith(const std::string& text, const std::string& head);
// Said when the --capture file cannot be opened, after the reason.
inline constexpr const char* kNoCaptureNoRun =
    "Nothing was sent to the unit: give --capture a file that can be written, or leave the "
    "option out.";

// Tells on `err` each entry of KVUFLASH_PORTS or ports.txt (in `dir`, or the program's folder)
// that is not taken: its port would quietly fall back to the N-th device present.
void WarnOfPortMap(const std::string& dir, std::ostream& err);

std::string MinutesSeconds(double seconds);
bool AllDigits(const std::string& text);

// Options that more than one command takes; each raises std::invalid_argument with the words
// for the user. A file name that may not be empty ("--capture needs a file name."):
std::string FileNameValue(const std::string& option, const std::string& value);
// --timeout's whole number of seconds.
double TimeoutSecondsValue(const std::string& text);

// The port number that stands for `device` in the port map, or 0 when none does (the device is
// then named to the serial port directly, as COM 1).
int MappedPortOf(const std::string& device);
std::string Absolute(const std::string& path);

// A port option as given: a number 1 to 99 names a COM number (the shell checks 1 to 9), a
// path names a device, reached as the COM number the port map gives it, else as COM 1. More
// digits raise std::invalid_argument. An empty option gives COM 0: the remembered port.
struct ChosenPort {
  int com = 0;
  std::string device;  // empty: the port map's device for `com`
};
ChosenPort PortOptionValue(const std::string& given);

// What a terminal's standard input holds, asked without waiting.
enum class TerminalInput { Nothing, Enter, Closed };
TerminalInput PollEnter();

// A stream buffer that hands over whole lines.
class LineBuf final : public std::streambuf {
 public:
  explicit LineBuf(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {}
  ~LineBuf() override {
    if (!pending_.empty()) sink_(pending_);
  }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    if (c == '\n') {
      sink_(pending_);
      pending_.clear();
    } else {
      pending_.push_back(static_cast<char>(c));
    }
    return c;
  }

 private:
  std::function<void(const std::string&)> sink_;
  std::string pending_;
};

// What the shell prints, with the per-record lines (and a factory run's per-line ones) turned
// into a progress bar on a terminal (redrawn in place) or into a line at every tenth of the run
// otherwise.
class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& out, std::ostream& err, bool terminal)
      : out_(out), err_(err), terminal_(terminal) {}

  void OutLine(const std::string& line) {
    if (StartsWith(line, std::string("Label2: ") + kSendingBlock)) return;
    if (StartsWith(line, std::string("FUpHist: ") + kSendingBlock) ||
        StartsWith(line, std::string("FUpHist: ") + kSendingLine)) {
      if (terminal_) return;
      const int sent = sent_;
      const int total = total_;
      const int tenth = total > 0 ? sent * 10 / total : 10;
      if (sent != 1 && sent != total && tenth == lastTenth_) return;
      lastTenth_ = tenth;
      out_ << line << "  (" << Percent(sent, total) << "%, " << TimeLeft(sent, total) << " left)"
           << std::endl;
      return;
    }
    ClearBar();
    out_ << line << std::endl;
    DrawBar();
  }

  void ErrLine(const std::string& line) {
    ClearBar();
    out_.flush();
    err_ << line << std::endl;
    DrawBar();
  }

  // A record (or what `unit` names) went out: `sent` so far of the run's `total`. A new unit
  // starts a new bar.
  void Progress(int sent, int total, const std::string& unit = "records") {
    if (unit != unit_) {
      Finish();
      unit_ = unit;
      started_ = false;
      lastTenth_ = -1;
    }
    sent_ = sent;
    total_ = total;
    if (sent == 1 || !started_) {
      started_ = true;
      firstRecord_ = Clock::now();
    }
    if (!terminal_) return;
    const int filled = total > 0 ? sent * kBarWidth / total : kBarWidth;
    bar_ = "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] " +
           std::to_string(sent) + "/" + std::to_string(total) + " " + unit_ + "  " +
           std::to_string(Percent(sent, total)) + "%  " + TimeLeft(sent, total) + " left";
    out_ << '\r' << bar_ << "\033[K" << std::flush;
    barShown_ = true;
    if (sent >= total) Finish();
  }

  // The bar's line is ended; later lines go below it.
  void Finish() {
    if (barShown_) out_ << std::endl;
    barShown_ = false;
    bar_.clear();
  }

 private:
  using Clock = std::chrono::steady_clock;

  static int Percent(int sent, int total) { return total > 0 ? sent * 100 / total : 100; }

  std::string TimeLeft(int sent, int total) const {
    const int left = total - sent;
    double perRecord = kTickSeconds;  // one record per tick until there is a measure
    if (started_ && sent > 1) {
      perRecord = std::chrono::duration<double>(Clock::now() - firstRecord_).count() / (sent - 1);
    }
    return MinutesSeconds(perRecord * left);
  }

  void ClearBar() {
    if (barShown_) out_ << "\r\033[K";
  }
  void DrawBar() {
    if (barShown_) out_ << bar_ << "\033[K" << std::flush;
  }

  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  int sent_ = 0;
  int total_ = 0;
  bool barShown_ = false;
  std::string bar_;
  bool started_ = false;
  Clock::time_point firstRecord_{};
  int lastTenth_ = -1;
  std::string unit_ = "records";
};

// The shell's two streams, whose lines go through one progress printer: per-record (and
// per-line) history turned into a bar on a terminal, messages kept above it.
class PrintedStreams {
 public:
  PrintedStreams(std::ostream& out, std::ostream& err, bool terminal)
      : printer(out, err, terminal),
        outBuf_([this](const std::string& line) { printer.OutLine(line); }),
        errBuf_([this](const std::string& line) { printer.ErrLine(line); }),
        out_(&outBuf_),
        err_(&errBuf_) {}
  std::ostream& Out() { return out_; }
  std::ostream& Err() { return err_; }

  ProgressPrinter printer;

 private:
  LineBuf outBuf_;
  LineBuf errBuf_;
  std::ostream out_;
  std::ostream err_;
};
