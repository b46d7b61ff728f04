#include "components/port_map.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/env_scope.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;
using kvtest::EnvScope;
using kvtest::ScratchFolder;

TEST(PortMap, EntriesAndDeviceOrder) {
  auto e = ParsePortEntries("1=/tmp/ttyA;2=/dev/ttyUSB3");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1], "/tmp/ttyA");
  EXPECT_EQ(e[2], "/dev/ttyUSB3");
  e = ParsePortEntries(
      "# bench\n 3 = /dev/ttyS0 \r\nCOM4=/dev/ttyACM0\nrubbish\n=x\n5=\nx=/dev/y\n");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[3], "/dev/ttyS0");
  EXPECT_EQ(e[4], "/dev/ttyACM0");
  // What is not taken is told, so that a typo does not quietly move a number to another
  // adapter; a note after an entry is no part of the device's name.
  std::vector<std::string> unreadable;
  e = ParsePortEntries("1=/dev/a,2=/dev/b\n3=/dev/pc  # bench 3\n=x\n3=/dev/pd\n", &unreadable);
  EXPECT_EQ(e, (std::map<int, std::string>{{3, "/dev/pd"}}));
  EXPECT_EQ(unreadable,
            (std::vector<std::string>{"'1=/dev/a,2=/dev/b' is not NUMBER=DEVICE and is ignored",
                                      "'=x' is not NUMBER=DEVICE and is ignored",
                                      "'3=/dev/pd' names COM3 again; this later entry is used"}));

  // A fake /dev: USB adapters first, then ACM, then real UARTs, each in numeric order.
  ScratchFolder scratch("kv-dev");
  const fs::path& dev = scratch.Path();
  for (const char* n :
       {"ttyS0", "ttyS1", "ttyUSB10", "ttyUSB2", "ttyACM0", "tty0", "ttyUSB", "null"})
    std::ofstream(dev / n).put('x');
  const auto list =
      ListSerialDevices(dev.string(), [](const std::string& p) { return p.ends_with("ttyS1"); });
  const std::vector<std::string> expected = {(dev / "ttyUSB2").string(),
                                             (dev / "ttyUSB10").string(),
                                             (dev / "ttyACM0").string(), (dev / "ttyS1").string()};
  EXPECT_EQ(list, expected);

  // ports.txt in the program folder, overridden by the environment.
  std::ofstream(dev / "ports.txt") << "2=/dev/from-file\n6=/dev/six\n";
  EnvScope env("KVUFLASH_PORTS", "2=/dev/from-env");
  EXPECT_EQ(ResolvePortDevice(2, dev.string()), "/dev/from-env");
  EXPECT_EQ(ResolvePortDevice(6, dev.string()), "/dev/six");
  env.Set(std::nullopt);
  EXPECT_EQ(ResolvePortDevice(2, dev.string()), "/dev/from-file");
}

TEST(PortMap, NumbersWithoutAnEntryAreTheDevicesPresentInOrder) {
  EnvScope env("KVUFLASH_PORTS", std::nullopt);
  ScratchFolder dev("kv-dev");
  ScratchFolder program("kv-program");
  for (const char* n : {"ttyS2", "ttyS0", "ttyACM1", "ttyUSB1", "ttyS1", "ttyACM0", "ttyUSB0"})
    std::ofstream(dev.Path() / n).put('x');
  // ttyS0 stands for the placeholder the kernel makes without a UART behind it.
  const auto realUart = [](const std::string& p) { return !p.ends_with("ttyS0"); };
  const auto com = [&](int n) {
    return ResolvePortDevice(n, program.Dir(), dev.Path().string(), realUart);
  };
  const std::vector<std::string> order = {"ttyUSB0", "ttyUSB1", "ttyACM0",
                                          "ttyACM1", "ttyS1",   "ttyS2"};
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(com(n), dev.File(order[n - 1])) << "COM" << n;
  EXPECT_EQ(com(7), "");
  EXPECT_EQ(com(0), "");
  // A number with an entry takes no device from the others.
  std::ofstream(program.Path() / "ports.txt") << "2=/dev/mapped\n";
  EXPECT_EQ(com(2), "/dev/mapped");
  EXPECT_EQ(com(3), dev.File("ttyACM0"));
}
