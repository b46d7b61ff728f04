// What on this machine stands between the uploader and a serial port: the devices present with
// their port numbers, USB identities and permissions, the programs holding them, and the
// services known to grab new serial adapters (a modem manager that sends modem commands to
// every new adapter, a braille display service that claims common USB serial chips). Read
// from folders that tests can replace with their own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "components/port_holders.h"

struct MachineRoots {
  std::string dev = "/dev";
  std::string sys = "/sys";
  std::string proc = "/proc";
  std::string udevData = "/run/udev/data";
  // Whose rights count for "may open": this process's user and groups unless given.
  std::optional<unsigned> uid;
  std::vector<unsigned> groups;
  std::function<bool(const std::string& path)> isRealUart;  // default: IsRealUart
};

struct UsbIdentity {
  std::string vendorId;  // four hexadecimal digits, as the system writes them
  std::string productId;
  std::string maker;  // the adapter's own words, where it gives them
  std::string product;
  std::string serial;
};

struct SerialDeviceFacts {
  std::string path;              // /dev/ttyUSB0
  std::vector<int> portNumbers;  // the COM numbers that stand for it now
  std::string stableName;        // its /dev/serial/by-id name, where it has one
  std::optional<UsbIdentity> usb;
  bool mayOpen = true;
  std::string group;                 // the device's group, for the fix when it may not be opened
  std::vector<PortHolder> holders;   // other programs that have it open
  bool modemManagerIgnores = false;  // the device is marked for the modem manager to leave alone
  int latencyTimerMs = -1;           // a USB adapter's latency timer, where it reports one
};

struct PortMapFacts {
  std::string environment;  // KVUFLASH_PORTS, when set
  std::string file;         // the ports.txt in force, when there is one
  std::vector<std::pair<int, std::string>> entriesWithoutDevice;
  std::vector<std::string> unreadable;
};

struct MachineFacts {
  std::vector<SerialDeviceFacts> devices;
  std::vector<PortHolder> modemManagers;    // running modem manager processes
  std::vector<PortHolder> brailleServices;  // running braille display services
  PortMapFacts portMap;
  std::vector<std::string> windowsComPorts;  // Windows: "COM3", "COM12", as the system lists them
};

// Looks at the machine; never fails: what cannot be read is left out.
MachineFacts InspectMachine(const std::string& programDir, const MachineRoots& roots = {});
// The same facts of one device, also one that no port number stands for (a simulator's link).
SerialDeviceFacts InspectSerialDevice(const std::string& path, const std::string& programDir,
                                      const MachineRoots& roots = {});

// The serial devices known to the system's serial-communication map (Windows); empty elsewhere.
std::vector<std::string> ListWindowsComPorts();
