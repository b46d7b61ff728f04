// Port numbers to serial devices on Linux: "COM3" is whatever ports.txt or KVUFLASH_PORTS
// says, else the third serial device present (USB adapters first, then real UARTs).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

// Entries "N=/dev/..." separated by new lines or ';'. Blank lines and '#' comments, also after
// an entry, are skipped; so are malformed entries, which are told in `unreadable` when given,
// with a number given twice (the later entry holds).
std::map<int, std::string> ParsePortEntries(const std::string& text,
                                            std::vector<std::string>* unreadable = nullptr);

// What in KVUFLASH_PORTS and in `programDir`'s ports.txt is not taken, in the user's words:
// a port whose entry is not read falls back to the N-th device present.
std::vector<std::string> PortMapProblems(const std::string& programDir);

// Serial devices in `devDir`, in the order numbers are handed out: ttyUSB*, ttyACM*, then the
// ttyS* for which `isRealUart` holds, each group in numeric order.
std::vector<std::string> ListSerialDevices(
    const std::string& devDir, const std::function<bool(const std::string& path)>& isRealUart);

// True when a ttyS device has a UART behind it (not a placeholder the kernel always creates).
bool IsRealUart(const std::string& path);

// The device for port `port`: the environment's KVUFLASH_PORTS entry, else ports.txt in
// `programDir`, else the port-th device present in `devDir`. Empty when there is none.
std::string ResolvePortDevice(
    int port, const std::string& programDir, const std::string& devDir = "/dev",
    const std::function<bool(const std::string& path)>& isRealUart = IsRealUart);

// The port map file of `programDir` (its ports.txt), as a whole path on this machine.
std::string PortMapFile(const std::string& programDir);

// The folder holding the running executable.
std::string ExecutableDir();
