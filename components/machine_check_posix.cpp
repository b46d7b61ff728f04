#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "components/machine_check.h"
#include "components/port_map.h"

namespace fs = std::filesystem;

namespace {

std::string readFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

std::string readWhole(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The device a link points at, as a path of its own folder ("../../ttyUSB0" from by-id).
fs::path linkTarget(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  if (ec) return {};
  return (target.is_absolute() ? target : link.parent_path() / target).lexically_normal();
}

// The USB device above a tty in sysfs: the first folder up its device path that has a vendor.
std::optional<UsbIdentity> usbIdentityOf(const std::string& name, const fs::path& sys,
                                         int& latencyTimerMs) {
  std::error_code ec;
  const fs::path deviceLink = sys / "class" / "tty" / name / "device";
  fs::path at = fs::canonical(deviceLink, ec);
  if (ec) return std::nullopt;
  const std::string latency = readFirstLine(at / "latency_timer");
  if (!latency.empty() && std::all_of(latency.begin(), latency.end(), ::isdigit))
    latencyTimerMs = std::stoi(latency);
  const fs::path top = fs::canonical(sys, ec);
  for (int depth = 0; depth < 8 && !at.empty() && at != top && at != at.root_path(); ++depth) {
    if (fs::exists(at / "idVendor", ec)) {
      UsbIdentity usb;
      usb.vendorId = readFirstLine(at / "idVendor");
      usb.productId = readFirstLine(at / "idProduct");
      usb.maker = readFirstLine(at / "manufacturer");
      usb.product = readFirstLine(at / "product");
      usb.serial = readFirstLine(at / "serial");
      return usb;
    }
    at = at.parent_path();
  }
  return std::nullopt;
}

bool mayOpen(const struct stat& st, const MachineRoots& roots) {
  const unsigned uid = roots.uid ? *roots.uid : ::getuid();
  if (uid == 0) return true;
  const mode_t want = S_IRUSR | S_IWUSR;
  if (st.st_uid == uid) return (st.st_mode & want) == want;
  std::vector<unsigned> groups = roots.groups;
  if (!roots.uid) {
    groups.push_back(::getgid());
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> own(n > 0 ? n : 0);
    if (n > 0 && ::getgroups(n, own.data()) == n)
      groups.insert(groups.end(), own.begin(), own.end());
  }
  if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end())
    return (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  return (st.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
}

std::string groupName(gid_t gid) {
  if (const group* g = ::getgrgid(gid)) return g->gr_name;
  return std::to_string(gid);
}

// The processes whose name is one of `names`, from the process table.
std::vector<PortHolder> processesNamed(const fs::path& proc,
                                       std::initializer_list<const char*> names) {
  std::vector<PortHolder> found;
  std::error_code ec;
  for (fs::directory_iterator it(proc, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string pid = it->path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
    const std::string comm = readFirstLine(it->path() / "comm");
    for (const char* name : names)
      if (comm == name) found.push_back({std::stoi(pid), comm});
  }
  std::sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.pid < b.pid; });
  return found;
}

PortMapFacts portMapFacts(const std::string& programDir, const fs::path& dev) {
  PortMapFacts facts;
  std::map<int, std::string> inForce;
  if (const char* env = std::getenv("KVUFLASH_PORTS")) {
    facts.environment = env;
    inForce = ParsePortEntries(env);
  }
  const fs::path file = fs::path(programDir) / "ports.txt";
  std::error_code ec;
  if (!programDir.empty() && fs::is_regular_file(file, ec)) {
    facts.file = file.string();
    for (const auto& [n, path] : ParsePortEntries(readWhole(file))) inForce.emplace(n, path);
  }
  for (const auto& [n, path] : inForce) {
    // Entries name real devices; a relative name is taken in the device folder given.
    const fs::path at = fs::path(path).is_absolute() ? fs::path(path) : dev / path;
    if (!fs::exists(at, ec)) facts.entriesWithoutDevice.emplace_back(n, path);
  }
  facts.unreadable = PortMapProblems(programDir);
  return facts;
}

}  // namespace

SerialDeviceFacts InspectSerialDevice(const std::string& path, const std::string& programDir,
                                      const MachineRoots& roots) {
  const auto isRealUart = roots.isRealUart ? roots.isRealUart : IsRealUart;
  SerialDeviceFacts device;
  device.path = path;
  const fs::path normal = fs::path(path).lexically_normal();
  int highest = 9;
  for (const auto& entries :
       {ParsePortEntries(readWhole(fs::path(programDir) / "ports.txt")),
        ParsePortEntries(std::getenv("KVUFLASH_PORTS") ? std::getenv("KVUFLASH_PORTS") : "")})
    if (!entries.empty()) highest = std::max(highest, entries.rbegin()->first);
  highest =
      std::max<int>(highest, static_cast<int>(ListSerialDevices(roots.dev, isRealUart).size()));
  for (int n = 1; n <= highest; ++n)
    if (fs::path(ResolvePortDevice(n, programDir, roots.dev, isRealUart)).lexically_normal() ==
        normal)
      device.portNumbers.push_back(n);
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(roots.dev) / "serial" / "by-id", ec), end;
       !ec && it != end; it.increment(ec))
    if (linkTarget(it->path()) == normal) device.stableName = it->path().string();
  device.usb = usbIdentityOf(normal.filename().string(), roots.sys, device.latencyTimerMs);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    device.mayOpen = mayOpen(st, roots);
    device.group = groupName(st.st_gid);
    const std::string udev =
        "c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    device.modemManagerIgnores =
        readWhole(fs::path(roots.udevData) / udev).find("E:ID_MM_DEVICE_IGNORE=1") !=
        std::string::npos;
  }
  device.holders = ProcessesHolding(path, roots.proc);
  return device;
}

MachineFacts InspectMachine(const std::string& programDir, const MachineRoots& roots) {
  MachineFacts facts;
  const auto isRealUart = roots.isRealUart ? roots.isRealUart : IsRealUart;
  const fs::path dev = roots.dev;
  const std::vector<std::string> present = ListSerialDevices(roots.dev, isRealUart);
  facts.portMap = portMapFacts(programDir, dev);

  for (const std::string& path : present)
    facts.devices.push_back(InspectSerialDevice(path, programDir, roots));
  facts.modemManagers = processesNamed(roots.proc, {"ModemManager"});
  facts.brailleServices = processesNamed(roots.proc, {"brltty"});
  return facts;
}

std::vector<std::string> ListWindowsComPorts() {
  return {};
}
