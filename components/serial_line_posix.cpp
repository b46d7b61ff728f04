// Line settings to the terminal device through the kernel's termios2 interface. It takes any
// baud rate (14400, 56000, 128000 and 256000 have no classic constant), and it is one path for
// every rate: after a rate without a constant, the classic interface refuses later settings.
// Kept apart because its header cannot live beside <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "components/serial.h"

namespace {
tcflag_t rateCode(std::uint32_t rate) {
  switch (rate) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return BOTHER;
  }
}
}  // namespace

bool ApplyLineSettings(int fd, const LineSettingsRecord& r) {
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CBAUD | CIBAUD | HUPCL);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
  tio.c_cflag |= r.ByteSize == 7 ? CS7 : CS8;
  if (r.StopBits == 2) tio.c_cflag |= CSTOPB;
  switch (r.Parity) {
    case 1:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      tio.c_cflag |= PARENB;
      break;
    case 3:
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 4:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (r.Flags & dcb::fParity) tio.c_iflag |= INPCK;
  if (r.Flags & dcb::fOutxCtsFlow) tio.c_cflag |= CRTSCTS;
  if (r.Flags & dcb::fOutX) tio.c_iflag |= IXON;
  if (r.Flags & dcb::fInX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(r.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(r.XoffChar);
  // Input speed bits left 0: the same as the output speed.
  tio.c_cflag |= rateCode(r.BaudRate);
  tio.c_ispeed = r.BaudRate;
  tio.c_ospeed = r.BaudRate;
  return ::ioctl(fd, TCSETS2, &tio) == 0;
}
