#include "components/adapter_latency.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

std::vector<AdapterLatency> UsbAdapterLatencyTimers(const std::string& sysRoot) {
  std::vector<AdapterLatency> found;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(sysRoot) / "bus/usb-serial/devices", ec), end;
       !ec && it != end; it.increment(ec)) {
    std::ifstream in(it->path() / "latency_timer");
    int ms = 0;
    if (in >> ms) found.push_back({"/dev/" + it->path().filename().string(), ms});
  }
  std::sort(found.begin(), found.end(),
            [](const AdapterLatency& a, const AdapterLatency& b) { return a.device < b.device; });
  return found;
}
