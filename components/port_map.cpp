#include "components/port_map.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif
#if defined(__linux__)
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Number at the end of a device name ("ttyUSB12" -> 12); -1 when none.
long trailingNumber(const std::string& name) {
  std::size_t i = name.size();
  while (i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1]))) --i;
  if (i == name.size()) return -1;
  return std::strtol(name.c_str() + i, nullptr, 10);
}
}  // namespace

std::string PortMapFile(const std::string& programDir) {
  std::error_code ec;
  fs::path dir = programDir.empty() ? fs::path(ExecutableDir()) : fs::path(programDir);
  const fs::path whole = fs::absolute(dir, ec);
  return ((ec ? dir : whole) / "ports.txt").lexically_normal().string();
}

std::map<int, std::string> ParsePortEntries(const std::string& text,
                                            std::vector<std::string>* unreadable) {
  std::map<int, std::string> entries;
  std::string item;
  std::string normalised = text;
  std::replace(normalised.begin(), normalised.end(), ';', '\n');
  std::istringstream in(normalised);
  const auto skip = [unreadable](const std::string& entry, const std::string& why) {
    if (unreadable) unreadable->push_back("'" + entry + "' " + why);
  };
  while (std::getline(in, item)) {
    item = trim(item);
    if (item.empty() || item[0] == '#') continue;
    // A note after the device ("3=/dev/ttyUSB0  # bench 3") is no part of its name.
    if (const auto note = item.find_first_of(" \t"); note != std::string::npos) {
      const auto hash = item.find('#', note);
      if (hash != std::string::npos && trim(item.substr(note, hash - note)).empty())
        item = trim(item.substr(0, hash));
    }
    const auto eq = item.find('=');
    if (eq == std::string::npos) {
      skip(item, "is not NUMBER=DEVICE and is ignored");
      continue;
    }
    std::string number = trim(item.substr(0, eq));
    const std::string path = trim(item.substr(eq + 1));
    // "COM3=/dev/..." is accepted as well as "3=/dev/...".
    if (number.size() > 3 && (number.compare(0, 3, "COM") == 0 || number.compare(0, 3, "com") == 0))
      number = number.substr(3);
    // Two entries run together ("1=/dev/a,2=/dev/b"): no device name holds a '='.
    if (number.empty() || path.empty() || path.find('=') != std::string::npos ||
        !std::all_of(number.begin(), number.end(),
                     [](unsigned char c) { return std::isdigit(c); }) ||
        number.size() > 4) {
      skip(item, "is not NUMBER=DEVICE and is ignored");
      continue;
    }
    const int port = std::stoi(number);
    if (entries.count(port)) skip(item, "names COM" + number + " again; this later entry is used");
    entries[port] = path;
  }
  return entries;
}

std::vector<std::string> PortMapProblems(const std::string& programDir) {
  std::vector<std::string> problems;
  const auto check = [&problems](const std::string& source, const std::string& text) {
    std::vector<std::string> unreadable;
    ParsePortEntries(text, &unreadable);
    for (const std::string& u : unreadable) problems.push_back(source + ": " + u);
  };
  if (const char* env = std::getenv("KVUFLASH_PORTS")) check("KVUFLASH_PORTS", env);
  if (!programDir.empty()) {
    const fs::path file = PortMapFile(programDir);
    if (std::ifstream in(file); in) {
      std::stringstream text;
      text << in.rdbuf();
      check(file.string(), text.str());
    }
  }
  return problems;
}

std::vector<std::string> ListSerialDevices(
    const std::string& devDir, const std::function<bool(const std::string& path)>& isRealUart) {
  std::vector<std::pair<long, std::string>> usb, acm, uart;
  std::error_code ec;
  for (fs::directory_iterator it(devDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const long n = trailingNumber(name);
    if (n < 0) continue;
    const std::string stem = name.substr(0, name.size() - std::to_string(n).size());
    if (stem == "ttyUSB")
      usb.emplace_back(n, it->path().string());
    else if (stem == "ttyACM")
      acm.emplace_back(n, it->path().string());
    else if (stem == "ttyS" && isRealUart(it->path().string()))
      uart.emplace_back(n, it->path().string());
  }
  std::vector<std::string> out;
  for (auto* group : {&usb, &acm, &uart}) {
    std::sort(group->begin(), group->end());
    for (auto& [n, path] : *group) out.push_back(path);
  }
  return out;
}

bool IsRealUart(const std::string& path) {
#if defined(__linux__)
  // A UART the kernel found has a device link in sysfs ...
  const std::string name = fs::path(path).filename().string();
  std::error_code ec;
  const fs::path sysDevice = fs::path("/sys/class/tty") / name / "device";
  if (!fs::exists(sysDevice, ec)) return false;
  // ... and the 8250 driver also lists placeholders there; those report no UART type.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;  // present but not ours to probe (permissions): count it
  serial_struct info{};
  const bool real = ::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
  ::close(fd);
  return real;
#else
  (void)path;
  return false;
#endif
}

std::string ResolvePortDevice(int port, const std::string& programDir, const std::string& devDir,
                              const std::function<bool(const std::string& path)>& isRealUart) {
  if (const char* env = std::getenv("KVUFLASH_PORTS")) {
    const auto entries = ParsePortEntries(env);
    if (auto it = entries.find(port); it != entries.end()) return it->second;
  }
  if (!programDir.empty()) {
    std::ifstream file(PortMapFile(programDir));
    if (file) {
      std::stringstream text;
      text << file.rdbuf();
      const auto entries = ParsePortEntries(text.str());
      if (auto it = entries.find(port); it != entries.end()) return it->second;
    }
  }
  if (port < 1) return {};
  const auto devices = ListSerialDevices(devDir, isRealUart);
  if (static_cast<std::size_t>(port) <= devices.size()) return devices[port - 1];
  return {};
}

std::string ExecutableDir() {
  std::error_code ec;
#if defined(_WIN32)
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return fs::path(std::string(path, n)).parent_path().string();
  return fs::current_path(ec).string();
#endif
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  return exe.parent_path().string();
}
