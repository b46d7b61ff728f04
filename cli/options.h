// The command line's words, read in one place: the options before the command, which command,
// and that command's own options. A new command adds its options struct here, its options in
// options.cpp, and its row in main.cpp's table of commands.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// Bad words on the command line: what to tell the user (with the hint where to read more) and
// the exit status, which differs between the shell's options and a command's.
class UsageError : public std::invalid_argument {
 public:
  UsageError(const std::string& text, int status) : std::invalid_argument(text), Status(status) {}
  int Status;
};

// The options before the command (0 or empty: not given).
struct GlobalOptions {
  int port = 0;
  int baud = 0;
  std::string dir;  // with its trailing separator
};

// What is done with each unit: a Software Upload, or a question to the running unit.
enum class UnitJob { Upload, Verify, Info };

// Options of upload, and of verify and info, which take a subset of them.
struct UploadOptions {
  UnitJob job = UnitJob::Upload;
  std::vector<std::string> ports;  // numbers or devices; several: one unit on each
  int baud = 0;
  std::string capture;
  std::string dir;
  std::string json;            // the log a production line keeps, one line per unit and run
  double timeoutSeconds = -1;  // < 0: the default for the file's size
  std::string file;
  bool fast = false;                // records on request instead of one per tick
  bool acceptBadChecksums = false;  // Intel HEX lines with wrong checksums are used all the same
};

struct FactoryOptions {
  std::string port;  // a number or a device
  std::string capture;
  std::string dir;
  double timeoutSeconds = 600;
  bool yes = false;
};

struct ConvertOptions {
  std::string file;
  bool acceptBadChecksums = false;
};

struct DoctorOptions {
  std::string port;  // a number or a device; empty: every device
};

struct CommandLine {
  GlobalOptions global;
  std::string command;  // empty: none given; "help", "version", "upload", ...
  bool help = false;    // the command's own --help
  UploadOptions upload;
  FactoryOptions factory;
  ConvertOptions convert;
  DoctorOptions doctor;
};

// Reads the whole command line; bad words raise UsageError. The command's options start from
// those before it (port, baud rate, folder).
CommandLine ParseCommandLine(int argc, const char* const* argv);
