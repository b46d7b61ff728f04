#include "cli/command_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "components/port_map.h"
#include "components/program_dir.h"

#ifdef _WIN32
#include <conio.h>
#else
#include <poll.h>
#include <unistd.h>

#include <cstring>
#endif

namespace fs = std::filesystem;

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

std::string MinutesSeconds(double seconds) {
  const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string FileNameValue(const std::string& option, const std::string& value) {
  if (value.empty()) throw std::invalid_argument(option + " needs a file name.");
  return value;
}

double TimeoutSecondsValue(const std::string& text) {
  if (!AllDigits(text) || text.size() > 7) {
    throw std::invalid_argument("'" + text + "' is not a valid number of seconds for --timeout.");
  }
  return std::stod(text);
}

int MappedPortOf(const std::string& device) {
  const char* env = std::getenv("KVUFLASH_PORTS");
  std::error_code ec;
  const fs::path wanted = fs::weakly_canonical(device, ec);
  for (const auto& [number, path] : ParsePortEntries(env ? env : "")) {
    if (number < 1 || number > 9) continue;
    std::error_code ec2;
    if (path == device || (!ec && fs::weakly_canonical(path, ec2) == wanted)) return number;
  }
  return 0;
}

ChosenPort PortOptionValue(const std::string& given) {
  ChosenPort port;
  if (given.empty()) return port;
  if (AllDigits(given)) {
    // COM 0 would read as no port given, and become the remembered one.
    if (given.size() > 2 || std::stoi(given) < 1 || std::stoi(given) > 9) {
      throw std::invalid_argument("The port must be a number from 1 to 9, not " + given + ".");
    }
    port.com = std::stoi(given);
    return port;
  }
  // A Windows device name (\\.\COM12, for the ports above 9) is no file to make absolute.
  port.device = given.rfind("\\\\.\\", 0) == 0 ? given : Absolute(given);
  port.com = MappedPortOf(port.device);
  if (port.com == 0) port.com = 1;
  return port;
}

std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  return fs::absolute(fs::path(path)).lexically_normal().string();
}

TerminalInput PollEnter() {
#ifdef _WIN32
  while (_kbhit()) {
    const int c = _getch();
    if (c == '\r' || c == '\n') return TerminalInput::Enter;
  }
  return TerminalInput::Nothing;
#else
  pollfd in{STDIN_FILENO, POLLIN, 0};
  if (::poll(&in, 1, 0) <= 0) return TerminalInput::Nothing;
  // A terminal in its usual mode hands over whole lines.
  char text[256];
  const ssize_t n = ::read(STDIN_FILENO, text, sizeof text);
  if (n <= 0) return TerminalInput::Closed;
  return std::memchr(text, '\n', static_cast<std::size_t>(n)) ? TerminalInput::Enter
                                                              : TerminalInput::Nothing;
#endif
}

void WarnOfPortMap(const std::string& dir, std::ostream& err) {
#ifndef _WIN32
  for (const std::string& problem : PortMapProblems(dir.empty() ? DefaultProgramDir() : dir))
    err << "kvuflash-cli: warning: " << problem << std::endl;
#else
  (void)dir;
  (void)err;
#endif
}
