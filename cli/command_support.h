// Pieces that the commands share: a stream buffer that hands over whole lines, and turning
// option values into ports and paths.
#pragma once

#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

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
