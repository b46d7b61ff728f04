// kvuflash-cli: the uploader's core without a window, for scripts and production lines.
#include <algorithm>
#include <clocale>
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/command_support.h"
#include "cli/convert_command.h"
#include "cli/doctor_command.h"
#include "cli/factory_command.h"
#include "cli/upload_command.h"
#include "components/install_paths.h"
#include "components/program_dir.h"
#include "kv_build_info.h"

#ifdef _WIN32
#include <io.h>
#define KV_STDOUT_IS_TERMINAL() (_isatty(_fileno(stdout)) != 0)
#define KV_STDIN_IS_TERMINAL() (_isatty(_fileno(stdin)) != 0)
#else
#include <unistd.h>
#define KV_STDOUT_IS_TERMINAL() (isatty(STDOUT_FILENO) != 0)
#define KV_STDIN_IS_TERMINAL() (isatty(STDIN_FILENO) != 0)
#endif

namespace {

constexpr const char* kUsage =
    "Usage: kvuflash-cli [--port N] [--baud 38400|57600] [--dir FOLDER] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  upload FILE    a whole Software Upload of FILE to the unit (its options and exit\n"
    "                 statuses below)\n"
    "  factory        a Factory Bootstrap Upload through the unit's C161 bootstrap loader,\n"
    "                 for a unit without a working flash loader (its options and exit\n"
    "                 statuses below)\n"
    "  convert FILE   make the upload file (.KVU) from an Intel HEX file or a binary image,\n"
    "                 beside it, and print its checksums and record count. An Intel HEX\n"
    "                 file with a line of a wrong checksum or length, or without its end\n"
    "                 record (it may have been cut short), is refused unless\n"
    "                 --accept-bad-checksums is given (some old tools wrote wrong checksums)\n"
    "  check-port     open the chosen port at the chosen baud rate as a Software Upload\n"
    "                 would, and say whether it opened\n"
    "  ports          list the port numbers 1 to 9 and the devices they stand for\n"
    "  doctor [--port N|DEVICE]\n"
    "                 check this machine for what stands in the way of a serial upload\n"
    "                 (devices, permissions, programs holding a port, services that grab\n"
    "                 serial adapters) and say how to mend each; exit 1 when something does\n"
    "  help           show this text (also --help)\n"
    "\n"
    "Options:\n"
    "  --port N       port number 1 to 9 (default: the one remembered, else 1)\n"
    "  --baud B       38400 (default) or 57600\n"
    "  --dir FOLDER   folder of the port settings and capture files (default: the\n"
    "                 program's own folder)\n"
    "  --version      show the version\n"
    "\n"
    "Ports: COM numbers map to devices through ports.txt in the program's folder or the\n"
    "environment variable KVUFLASH_PORTS (\"1=/dev/ttyUSB0;2=/dev/ttyS0\"); a number\n"
    "without an entry is the N-th serial device present.\n";

constexpr const char* kAcceptBadChecksums = "--accept-bad-checksums";

struct Options {
  int port = 0;
  int baud = 0;
  std::string dir;
  std::string command;
  std::vector<std::string> args;
};

int ParseNumber(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) {
    throw std::invalid_argument("'" + text + "' is not a valid number for " + option + ".");
  }
  return value;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value.");
      return argv[++i];
    };
    if (o.command.empty() && (a == "--help" || a == "-h")) {
      o.command = "help";
    } else if (o.command.empty() && a == "--version") {
      o.command = "version";
    } else if (o.command.empty() && a == "--port") {
      o.port = ParseNumber(a, value());
      // 0 would mean "none given" further on, and quietly become the remembered port.
      if (o.port < 1 || o.port > 9) {
        throw std::invalid_argument("The port must be a number from 1 to 9, not " +
                                    std::to_string(o.port) + ".");
      }
    } else if (o.command.empty() && a == "--baud") {
      o.baud = ParseNumber(a, value());
    } else if (o.command.empty() && a == "--dir") {
      o.dir = value();
      if (!o.dir.empty() && o.dir.back() != '/') o.dir += '/';
    } else if (o.command.empty()) {
      if (a.rfind("--", 0) == 0) throw std::invalid_argument("Unknown option " + a + ".");
      o.command = a;
    } else {
      o.args.push_back(a);
    }
  }
  return o;
}

void ExpectArgs(const Options& o, std::size_t count, const char* what) {
  if (o.args.size() != count) {
    throw std::invalid_argument("'" + o.command + "' takes " + what + ". Try kvuflash-cli --help.");
  }
}

void Configure(Cli& cli, const Options& o) {
  if (o.port) cli.SetPort(o.port);
  if (o.baud) cli.SetBaud(o.baud);
}

int CheckPort(const Options& o) {
  ExpectArgs(o, 0, "no arguments");
  WarnOfPortMap(o.dir, std::cerr);
  Cli cli(std::cout, std::cerr, o.dir);
  Configure(cli, o);
  cli.Press(&MainForm::Btn2UploadClick);
  if (!cli.RunUntilIdle(std::chrono::seconds(10))) {
    std::cerr << "kvuflash-cli: "
              << (cli.Interrupted() ? "Interrupted." : "The port did not answer in time.")
              << std::endl;
    return 1;
  }
  if (!cli.Form().LastError.empty()) return 1;
  return cli.Form().S().Phase == RunPhase::ChoosingFile ? 0 : 1;
}

int Ports(const Options& o) {
  ExpectArgs(o, 0, "no arguments");
  WarnOfPortMap(o.dir, std::cerr);
  Cli cli(std::cout, std::cerr, o.dir);
  for (int port = 1; port <= 9; ++port) {
    const std::string device = cli.Serial1().DeviceName(port);
    std::cout << "COM" << port << ": " << (device.empty() ? "(no device)" : device) << '\n';
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Capture lines carry the time of day in the user's format; numbers stay as the program
  // writes them.
  std::setlocale(LC_TIME, "");
#ifdef SIGXFSZ
  // A file-size limit (ulimit -f) must fail a write as a full disk does, with the file named
  // and nothing half-written left, instead of killing the program in the middle of it.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  try {
    const Options o = Parse(argc, argv);
    if (o.command.empty() || o.command == "help") {
      (o.command.empty() ? std::cerr : std::cout) << kUsage;
      if (!o.command.empty()) std::cout << '\n' << kUploadHelpText << '\n' << kFactoryHelpText;
      // An installed program says where its sample files are, to try convert and upload on.
      if (const std::string data = InstalledDataDir(); !o.command.empty() && !data.empty()) {
        std::cout << "\nSample firmware files: " << data << "samples/\n";
      }
      return o.command.empty() ? 2 : 0;
    }
    if (o.command == "version") {
      std::cout << "kvuflash-cli " KV_VERSION "\n";
      return 0;
    }
    InstallInterruptHandler();
    if (o.command == "convert") {
      // Asked for help, convert does not take the option for a file name.
      if (std::ranges::find(o.args, "--help") != o.args.end() ||
          std::ranges::find(o.args, "-h") != o.args.end()) {
        std::cout << kConvertHelpText;
        return 0;
      }
      Options files = o;
      std::erase(files.args, kAcceptBadChecksums);
      ExpectArgs(files, 1, "one file name");
      const bool accept = files.args.size() != o.args.size();
      return RunConvert(files.args[0], std::cout, std::cerr, accept);
    }
    if (o.command == "upload") {
      return RunUpload(o.args, UploadDefaults{o.port, o.baud, o.dir}, std::cout, std::cerr,
                       KV_STDOUT_IS_TERMINAL());
    }
    if (o.command == "factory") {
      return RunFactory(o.args, UploadDefaults{o.port, o.baud, o.dir}, std::cout, std::cerr,
                        KV_STDOUT_IS_TERMINAL(), KV_STDIN_IS_TERMINAL());
    }
    if (o.command == "check-port") return CheckPort(o);
    if (o.command == "ports") return Ports(o);
    if (o.command == "doctor") {
      std::string port = o.port ? std::to_string(o.port) : "";
      if (o.args.size() == 2 && o.args[0] == "--port")
        port = o.args[1];
      else if (!o.args.empty())
        ExpectArgs(o, 0, "no arguments but --port N or --port DEVICE");
      return RunDoctor(std::cout, o.dir.empty() ? DefaultProgramDir() : o.dir, port);
    }
    std::cerr << "kvuflash-cli: Unknown command '" << o.command << "'. Try kvuflash-cli --help."
              << std::endl;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "kvuflash-cli: " << e.what() << std::endl;
    return 1;
  }
}
