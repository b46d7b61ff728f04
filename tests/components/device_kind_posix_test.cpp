#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include "components/device_kind.h"
#include "support/scratch_folder.h"

TEST(DeviceKind, APseudoTerminalOrAFileIsNoLineWithAUnitBehindIt) {
  int master = -1, slave = -1;
  char name[128];
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  EXPECT_FALSE(IsHardwareSerialDevice(name));
  ::close(slave);
  ::close(master);
  kvtest::ScratchFolder dir;
  kvtest::WriteText(dir.File("ttyUSB0"), "");
  EXPECT_FALSE(IsHardwareSerialDevice(dir.File("ttyUSB0")));
  EXPECT_FALSE(IsHardwareSerialDevice(dir.File("ttyUSB9")));
  EXPECT_FALSE(IsHardwareSerialDevice(""));
  // The kernel's first UART, where the machine has one, is a line.
  if (::access("/dev/ttyS0", F_OK) == 0) {
    EXPECT_TRUE(IsHardwareSerialDevice("/dev/ttyS0"));
  }
}
