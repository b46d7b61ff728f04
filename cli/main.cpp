// kvuflash-cli: the uploader's core without a window, for scripts and production lines.
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/command_support.h"
#include "cli/convert_command.h"
#include "cli/doctor_command.h"
#include "cli/factory_command.h"
#include "cli/narrator.h"
#include "cli/options.h"
#include "cli/upload_command.h"
#include "cli/verify_command.h"
#include "components/install_paths.h"
#include "components/machine_check.h"
#include "components/port_map.h"
#include "components/program_dir.h"
#include "form/file_places.h"
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
    "  verify FILE    ask the running unit for its memory checksums and compare them with\n"
    "                 FILE's (exit 0 match, 7 differ, 5 no answer)\n"
    "  info           ask the running unit for its software and memory checksums\n"
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

int Help(const CommandLine& c) {
  std::cout << kUsage << '\n'
            << kUploadHelpText << '\n'
            << kFactoryHelpText << '\n'
            << kVerifyHelpText << '\n'
            << kInfoHelpText;
  // An installed program says where its sample files are, to try convert and upload on.
  if (const std::string data = InstalledDataDir(); !data.empty()) {
    std::cout << "\nSample firmware files: " << data << "samples/\n";
  }
  // Where this machine keeps the program's files: beside the program where it may write
  // there, else in the user's own folder.
  const std::string dir = c.global.dir.empty() ? DefaultProgramDir() : c.global.dir;
  std::cout << '\n' << FilePlacesText(dir);
  return 0;
}

int Version(const CommandLine&) {
  std::cout << "kvuflash-cli " KV_VERSION "\n";
  return 0;
}

int CheckPort(const CommandLine& c) {
  WarnOfPortMap(c.global.dir, std::cerr);
  Cli cli(std::cerr, c.global.dir);
  Narrator narrator(cli.Form().W(),
                    [](const std::string& line) { std::cout << line << std::endl; });
  if (c.global.port) cli.SetPort(c.global.port);
  if (c.global.baud) cli.SetBaud(c.global.baud);
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

int Ports(const CommandLine& c) {
  WarnOfPortMap(c.global.dir, std::cerr);
  Cli cli(std::cerr, c.global.dir);
#ifdef _WIN32
  // The ports Windows knows, from its serial-communication map: the window offers 1 to 9.
  const std::vector<std::string> present = ListWindowsComPorts();
#endif
  for (int port = 1; port <= 9; ++port) {
    const std::string device = cli.Serial1().DeviceName(port);
    std::cout << "COM" << port << ": " << (device.empty() ? "(no device)" : device);
#ifdef _WIN32
    // Windows names every number after itself, so the name alone says nothing of the port.
    if (std::find(present.begin(), present.end(), device) == present.end())
      std::cout << " (not among the ports Windows lists)";
#endif
    std::cout << '\n';
  }
#ifdef _WIN32
  std::cout << "COM ports present:";
  for (const std::string& name : present) std::cout << ' ' << name;
  std::cout << (present.empty() ? " none\n" : "\n");
  for (const std::string& name : present) {
    if (std::atoi(name.c_str() + 3) > 9) {
      std::cout << name << " is above 9: the window offers COM 1 to 9; kvuflash-cli reaches it "
                << "as --port \\\\.\\" << name << ".\n";
    }
  }
#endif
  return 0;
}

int Convert(const CommandLine& c) {
  if (c.help) {
    std::cout << kConvertHelpText;
    return 0;
  }
  return RunConvert(c.convert.file, std::cout, std::cerr, c.convert.acceptBadChecksums);
}

int Upload(const CommandLine& c) {
  if (c.help) {
    std::cout << kUploadHelpText;
    return 0;
  }
  return RunUpload(c.upload, std::cout, std::cerr, KV_STDOUT_IS_TERMINAL());
}

int Query(const CommandLine& c) {
  if (c.help) {
    std::cout << (c.command == "verify" ? kVerifyHelpText : kInfoHelpText);
    return 0;
  }
  return RunUpload(c.upload, std::cout, std::cerr, KV_STDOUT_IS_TERMINAL());
}

int Factory(const CommandLine& c) {
  if (c.help) {
    std::cout << kFactoryHelpText;
    return 0;
  }
  return RunFactory(c.factory, std::cout, std::cerr, KV_STDOUT_IS_TERMINAL(),
                    KV_STDIN_IS_TERMINAL());
}

int Doctor(const CommandLine& c) {
  return RunDoctor(std::cout, c.global.dir.empty() ? DefaultProgramDir() : c.global.dir,
                   c.doctor.port);
}

// Every command: its name as typed, and what runs it. Its options are read in options.cpp.
struct CommandRow {
  const char* name;
  int (*run)(const CommandLine&);
};
constexpr CommandRow kCommands[] = {
    {"help", Help},       {"version", Version},      {"convert", Convert}, {"upload", Upload},
    {"factory", Factory}, {"check-port", CheckPort}, {"ports", Ports},     {"doctor", Doctor},
    {"verify", Query},    {"info", Query},
};

// Output to a closed pipe ("| head -1", a logging process that died) is dropped rather than
// ending the program in the middle of a run, with the unit half written.
void IgnoreClosedOutput() {
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
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
  IgnoreClosedOutput();
  InstallInterruptHandler();
  try {
    const CommandLine c = ParseCommandLine(argc, argv);
    if (c.command.empty()) {
      std::cerr << kUsage;
      return 2;
    }
    for (const CommandRow& row : kCommands) {
      if (c.command == row.name) return row.run(c);
    }
    std::cerr << "kvuflash-cli: Unknown command '" << c.command << "'. Try kvuflash-cli --help."
              << std::endl;
    return 2;
  } catch (const UsageError& e) {
    std::cerr << "kvuflash-cli: " << e.what() << std::endl;
    return e.Status;
  } catch (const std::exception& e) {
    std::cerr << "kvuflash-cli: " << e.what() << std::endl;
    return 1;
  }
}
