#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "components/machine_check.h"

std::vector<std::string> ListWindowsComPorts() {
  std::vector<std::string> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return ports;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    BYTE data[256];
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataSize] = 0;
    ports.emplace_back(reinterpret_cast<const char*>(data));
  }
  RegCloseKey(key);
  // COM2 before COM10.
  std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
    return std::atoi(a.c_str() + 3) < std::atoi(b.c_str() + 3);
  });
  return ports;
}

MachineFacts InspectMachine(const std::string&, const MachineRoots&) {
  MachineFacts facts;
  facts.windowsComPorts = ListWindowsComPorts();
  return facts;
}

SerialDeviceFacts InspectSerialDevice(const std::string& path, const std::string&,
                                      const MachineRoots&) {
  SerialDeviceFacts device;
  device.path = path;
  return device;
}
