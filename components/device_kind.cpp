#include "components/device_kind.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {

#if defined(_WIN32)
// Under Wine a COM port is a link to a Unix device, and Wine says which: the port's handle
// resolves to the device's own path, and Wine's own export turns that into the Unix name. A
// Unix 98 pseudo-terminal slave (/dev/pts/N) has no line behind it. Windows has no such
// export, and whatever cannot be told for sure is taken for a line: a real chip must never be
// sent the stand-in files.
bool IsWinePseudoTerminal(const std::string& device) {
  using UnixName = char*(CDECL*)(const WCHAR*);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto unixName = kernel ? reinterpret_cast<UnixName>(reinterpret_cast<void*>(
                                     GetProcAddress(kernel, "wine_get_unix_file_name")))
                               : nullptr;
  if (unixName == nullptr) return false;
  const std::string name = device.rfind("\\\\", 0) == 0 ? device : "\\\\.\\" + device;
  // No access asked: the port's lines and settings stay the open handle's.
  HANDLE h = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  WCHAR path[MAX_PATH + 8];
  const DWORD n =
      GetFinalPathNameByHandleW(h, path, MAX_PATH + 8, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(h);
  if (n == 0 || n >= MAX_PATH + 8) return false;
  char* unix = unixName(path);
  if (unix == nullptr) return false;
  const std::string target = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  const std::string pts = "/dev/pts/";
  return target.size() > pts.size() && target.compare(0, pts.size(), pts) == 0 &&
         target.find_first_not_of("0123456789", pts.size()) == std::string::npos;
}
#endif

}  // namespace

bool IsHardwareSerialDevice(const std::string& device) {
  if (device.empty()) return false;
#if defined(_WIN32)
  // What is behind a COM number is the driver's affair; only Wine can say it is no line.
  return !IsWinePseudoTerminal(device);
#else
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  // Pseudo-terminal slaves: Unix 98 ones on majors 136 to 143, the old BSD ones on 3.
  const unsigned kind = major(st.st_rdev);
  return !((kind >= 136 && kind <= 143) || kind == 3);
#endif
}
