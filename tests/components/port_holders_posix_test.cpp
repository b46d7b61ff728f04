// The programs that hold a serial device open, found in the system's process table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "components/component_test_support.h"
#include "components/port_holders.h"
#include "support/scratch_folder.h"

TEST(PortHolders, OtherProgramsHoldingTheDeviceAreNamed) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  kvtest::ScratchFolder proc("kv-proc");
  // A process table as the system lists it: two holders, this process itself (left out), a
  // process holding something else, and entries that are no processes.
  const auto holder = [&](const std::string& pid, const std::string& name,
                          const std::string& target) {
    std::filesystem::create_directories(proc.File(pid + "/fd"));
    std::filesystem::create_symlink(target, proc.File(pid + "/fd/5"));
    kvtest::WriteText(proc.File(pid + "/comm"), name + "\n");
  };
  holder("4242", "minicom", pty.SlavePath());
  holder("99", "screen", pty.SlavePath());
  holder(std::to_string(::getpid()), "kvuflash", pty.SlavePath());
  holder("17", "bash", "/dev/null");
  std::filesystem::create_directories(proc.File("self/fd"));
  std::vector<PortHolder> found = ProcessesHolding(pty.SlavePath(), proc.Path().string());
  std::sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.pid < b.pid; });
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(DescribeHolders(found), "screen (process 99) and minicom (process 4242)");
  EXPECT_TRUE(ProcessesHolding("/no/such/device", proc.Path().string()).empty());

  // The system's own table: a child that holds the device is found.
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ::pause();
    ::_exit(fd >= 0 ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  bool seen = false;
  for (int i = 0; i < 200 && !seen; ++i) {
    for (const PortHolder& h : ProcessesHolding(pty.SlavePath())) seen = seen || h.pid == child;
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(seen);
}
