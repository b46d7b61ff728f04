#include "cli/doctor_command.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "components/port_map.h"

namespace {

struct Finding {
  bool blocks;       // stands in the way of an upload, not only worth knowing
  std::string what;  // what was found, in the user's words
  std::string fix;   // the command or step that mends it; may be several lines
};

#if !defined(_WIN32)
bool isNumber(const std::string& s) {
  return !s.empty() && s.size() < 6 &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string portNames(const std::vector<int>& numbers) {
  if (numbers.empty()) return "no COM number";
  std::string text;
  for (std::size_t i = 0; i < numbers.size(); ++i)
    text += (i ? ", COM " : "COM ") + std::to_string(numbers[i]);
  return text;
}

void describeDevice(std::ostream& out, const SerialDeviceFacts& d) {
  out << "  " << d.path << " (" << portNames(d.portNumbers) << ")\n";
  if (d.usb) {
    out << "    USB adapter " << d.usb->vendorId << ":" << d.usb->productId;
    const std::string words = d.usb->maker + (d.usb->maker.empty() ? "" : " ") + d.usb->product;
    if (!words.empty()) out << ", " << words;
    if (!d.usb->serial.empty()) out << ", serial number " << d.usb->serial;
    out << "\n";
  }
  if (!d.stableName.empty()) out << "    stable name " << d.stableName << "\n";
  if (d.latencyTimerMs >= 0) out << "    latency timer " << d.latencyTimerMs << " ms\n";
  out << (d.mayOpen ? "    you may open it\n"
                    : "    you may not open it (it belongs to the group " + d.group + ")\n");
  if (d.holders.empty())
    out << "    no other program has it open\n";
  else
    out << "    held open by " << DescribeHolders(d.holders) << "\n";
}

// The udev rule that makes the modem manager leave one adapter alone.
std::string modemManagerRule(const UsbIdentity& usb) {
  return "echo 'ATTRS{idVendor}==\"" + usb.vendorId + "\", ATTRS{idProduct}==\"" + usb.productId +
         "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee -a /etc/udev/rules.d/99-kvuflash.rules\n"
         "sudo udevadm control --reload-rules && sudo udevadm trigger";
}

void deviceFindings(const SerialDeviceFacts& d, bool chosen, std::vector<Finding>& findings) {
  if (!d.mayOpen)
    findings.push_back(
        {true, "You may not open " + d.path + ": it belongs to the group " + d.group + ".",
         "sudo usermod -aG " + d.group + " \"$USER\"   (then log out and in again)"});
  if (!d.holders.empty())
    findings.push_back({chosen || d.usb.has_value(),
                        d.path + " is held open by " + DescribeHolders(d.holders) +
                            ": it would take the unit's answers.",
                        "close that program, or: kill " + std::to_string(d.holders.front().pid)});
}

void serviceFindings(const MachineFacts& m, const std::vector<const SerialDeviceFacts*>& devices,
                     std::vector<Finding>& findings) {
  if (!m.modemManagers.empty()) {
    bool anyUsb = false;
    for (const SerialDeviceFacts* d : devices) {
      if (!d->usb) continue;
      anyUsb = true;
      if (d->modemManagerIgnores) continue;
      findings.push_back({true,
                          "A modem manager (" + DescribeHolders(m.modemManagers) +
                              ") is running and probes " + d->path +
                              " with modem commands when it appears; the unit is a modem and "
                              "would be sent them in the middle of an upload.",
                          modemManagerRule(*d->usb)});
    }
    if (!anyUsb)
      findings.push_back({false,
                          "A modem manager (" + DescribeHolders(m.modemManagers) +
                              ") is running: it will probe a USB serial adapter plugged in later.",
                          "run kvuflash-cli doctor again with the adapter plugged in for the rule "
                          "that makes it leave the adapter alone, or: sudo systemctl stop "
                          "ModemManager"});
  }
  if (!m.brailleServices.empty()) {
    const bool anyUsb = std::any_of(devices.begin(), devices.end(),
                                    [](const SerialDeviceFacts* d) { return d->usb.has_value(); });
    findings.push_back({anyUsb || devices.empty(),
                        "A braille display service (" + DescribeHolders(m.brailleServices) +
                            ") is running: it claims common USB serial adapters, which then "
                            "vanish or stop answering.",
                        "sudo systemctl stop brltty-udev.service brltty.service\n"
                        "sudo systemctl mask brltty-udev.service brltty.service   (or, without a "
                        "braille display: sudo apt remove brltty)"});
  }
}

void portMapFindings(const PortMapFacts& p, int chosenNumber, std::vector<Finding>& findings) {
  for (const auto& [n, path] : p.entriesWithoutDevice)
    findings.push_back(
        {n == chosenNumber,
         "COM " + std::to_string(n) + " is mapped to " + path + ", which is not there.",
         "plug the adapter in, or mend the entry in " +
             (p.file.empty() ? std::string("KVUFLASH_PORTS") : p.file)});
  for (const std::string& u : p.unreadable)
    findings.push_back({false, u, "write the entry as NUMBER=DEVICE, e.g. 1=/dev/ttyUSB0"});
}

void describePortMap(std::ostream& out, const PortMapFacts& p) {
  out << "Port numbers:\n";
  if (!p.environment.empty()) out << "  KVUFLASH_PORTS=" << p.environment << "\n";
  if (!p.file.empty()) out << "  " << p.file << "\n";
  out << "  a number without an entry"
      << (p.environment.empty() && p.file.empty() ? " (none is given)" : "")
      << " is the N-th serial device present\n";
}

#endif

#if defined(_WIN32)
void windowsReport(std::ostream& out, const MachineFacts& m, std::vector<Finding>& findings) {
  out << "COM ports present:";
  for (const std::string& port : m.windowsComPorts) out << " " << port;
  out << (m.windowsComPorts.empty() ? " none\n" : "\n");
  if (m.windowsComPorts.empty())
    findings.push_back({true, "Windows lists no COM port.",
                        "plug the adapter in and install its driver; Device Manager, Ports (COM & "
                        "LPT), shows the number it was given"});
  for (const std::string& port : m.windowsComPorts)
    if (std::atoi(port.c_str() + 3) > 9)
      findings.push_back({false, port + " is above 9: the window offers COM 1 to 9.",
                          "use kvuflash-cli --port \\\\.\\" + port +
                              ", or give the adapter a lower number in Device Manager (its "
                              "Port Settings, Advanced, COM Port Number)"});
}

#endif

}  // namespace

int RunDoctor(std::ostream& out, const std::string& programDir, const std::string& port,
              const MachineRoots& roots) {
  const MachineFacts machine = InspectMachine(programDir, roots);
  std::vector<Finding> findings;
#if defined(_WIN32)
  (void)port;
  windowsReport(out, machine, findings);
#else
  int chosenNumber = 0;
  std::string chosenPath = port;
  if (isNumber(port)) {
    chosenNumber = std::stoi(port);
    chosenPath = ResolvePortDevice(chosenNumber, programDir, roots.dev,
                                   roots.isRealUart ? roots.isRealUart : IsRealUart);
  }
  std::vector<SerialDeviceFacts> extra;
  std::vector<const SerialDeviceFacts*> devices;
  for (const SerialDeviceFacts& d : machine.devices) devices.push_back(&d);
  if (!port.empty() && chosenPath.empty()) {
    findings.push_back(
        {true, "COM " + port + " stands for no serial device.",
         "plug the adapter in, or map the number in ports.txt in " +
             (programDir.empty() ? std::string("the program's folder") : programDir) +
             " or in KVUFLASH_PORTS (\"" + port + "=/dev/ttyUSB0\")"});
  } else if (!port.empty()) {
    const auto it = std::find_if(devices.begin(), devices.end(),
                                 [&](const SerialDeviceFacts* d) { return d->path == chosenPath; });
    if (it == devices.end()) {
      extra.push_back(InspectSerialDevice(chosenPath, programDir, roots));
      devices = {&extra.back()};
    } else {
      devices = {*it};
    }
  }
  out << "Serial devices:\n";
  if (devices.empty()) out << "  none\n";
  for (const SerialDeviceFacts* d : devices) {
    describeDevice(out, *d);
    deviceFindings(*d, !port.empty(), findings);
  }
  if (port.empty() && devices.empty())
    findings.push_back(
        {true, "No serial device is present.",
         "plug the USB serial adapter in; ls /dev/ttyUSB* /dev/ttyACM* then shows it"});
  describePortMap(out, machine.portMap);
  serviceFindings(machine, devices, findings);
  portMapFindings(machine.portMap, chosenNumber, findings);
#endif
  const auto blocking =
      std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return f.blocks; });
  if (!findings.empty()) out << "Findings:\n";
  for (const Finding& f : findings) {
    out << (f.blocks ? "  ! " : "  - ") << f.what << "\n";
    std::size_t from = 0;
    for (std::size_t nl; (nl = f.fix.find('\n', from)) != std::string::npos; from = nl + 1)
      out << "      " << f.fix.substr(from, nl - from) << "\n";
    out << "      " << f.fix.substr(from) << "\n";
  }
  out << (blocking == 0
              ? "Nothing stands in the way of an upload.\n"
              : std::to_string(blocking) + " of these stand" + (blocking == 1 ? "s" : "") +
                    " in the way of an upload (marked !).\n");
  return blocking == 0 ? 0 : 1;
}
