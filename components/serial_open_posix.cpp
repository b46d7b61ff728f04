#include "components/serial_open_posix.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned kind = major(st.st_rdev);
  return kind >= 136 && kind <= 143;
}

void MakeRawLine(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~HUPCL;  // closing must not hang up the unit's lines
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  ::tcflush(fd, TCIFLUSH);
}

std::string OpenFailureText(const std::string& com, const std::string& path, int error) {
  const std::string where = com + " (" + path + ")";
  switch (error) {
    case EACCES:
    case EPERM:
      return "Access to " + where +
             " was denied. Add your user to the dialout group (sudo usermod -aG dialout "
             "$USER), then log out and in again.";
    case EBUSY:
      return where + " is in use by another program.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return where + " is not present.";
    default:
      return where + ": " + std::strerror(error);
  }
}
