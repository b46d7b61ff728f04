#include "components/device_kind.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

bool IsHardwareSerialDevice(const std::string& device) {
  if (device.empty()) return false;
#if defined(_WIN32)
  // Windows names its ports; what is behind a COM number is the driver's affair.
  return true;
#else
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  // Pseudo-terminal slaves: Unix 98 ones on majors 136 to 143, the old BSD ones on 3.
  const unsigned kind = major(st.st_rdev);
  return !((kind >= 136 && kind <= 143) || kind == 3);
#endif
}
