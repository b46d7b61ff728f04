#include "components/low_latency_posix.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <system_error>

namespace {

class SystemDevice final : public ILowLatencyDevice {
 public:
  std::string Subsystem(int fd) const override {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return {};
    // /sys/dev/char/MAJOR:MINOR is the terminal; its "device" the port behind it, whose
    // subsystem link names the bus. A pseudo-terminal has no such entry.
    const std::filesystem::path link = "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                                       std::to_string(minor(st.st_rdev)) + "/device/subsystem";
    std::error_code ec;
    const std::filesystem::path bus = std::filesystem::read_symlink(link, ec);
    return ec ? std::string() : bus.filename().string();
  }
  bool GetSerial(int fd, serial_struct& info) override {
    return ::ioctl(fd, TIOCGSERIAL, &info) == 0;
  }
  bool SetSerial(int fd, const serial_struct& info) override {
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
  }
};

}  // namespace

ILowLatencyDevice& SystemLowLatencyDevice() {
  static SystemDevice device;
  return device;
}

LowLatency AskLowLatency(int fd, ILowLatencyDevice& device) {
  if (device.Subsystem(fd) != "usb-serial") return LowLatency::NotAsked;
  serial_struct info{};
  if (!device.GetSerial(fd, info)) return LowLatency::Refused;
  if (info.flags & ASYNC_LOW_LATENCY) return LowLatency::AlreadyOn;
  info.flags |= ASYNC_LOW_LATENCY;
  return device.SetSerial(fd, info) ? LowLatency::TurnedOn : LowLatency::Refused;
}

void ClearLowLatency(int fd, ILowLatencyDevice& device) {
  serial_struct info{};
  if (!device.GetSerial(fd, info) || !(info.flags & ASYNC_LOW_LATENCY)) return;
  info.flags &= ~ASYNC_LOW_LATENCY;
  device.SetSerial(fd, info);
}
