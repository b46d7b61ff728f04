// kvuflash-cli doctor on a machine of its own: device, system and process folders made here.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/doctor_command.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

// /dev/null stands in for a character device that everybody may open.
class FakeMachine {
 public:
  FakeMachine() {
    fs::create_directories(Dev() / "serial" / "by-id");
    fs::create_directories(Sys() / "class" / "tty");
    fs::create_directories(Proc());
    Roots.dev = Dev().string();
    Roots.sys = Sys().string();
    Roots.proc = Proc().string();
    Roots.udevData = (scratch_.Path() / "udev").string();
    Roots.uid = 1000;
    Roots.groups = {1000};
    Roots.isRealUart = [](const std::string&) { return false; };
  }

  // A USB adapter at ttyUSB<n> with the identity and latency timer the system gives it.
  void AddUsbAdapter(int n, const std::string& vendor, const std::string& product) {
    const std::string name = "ttyUSB" + std::to_string(n);
    fs::create_symlink("/dev/null", Dev() / name);
    const fs::path usb = Sys() / "devices" / "usb1" / ("1-" + std::to_string(n));
    const fs::path port = usb / "1-1:1.0" / name;
    fs::create_directories(port);
    kvtest::WriteText((usb / "idVendor").string(), vendor + "\n");
    kvtest::WriteText((usb / "idProduct").string(), product + "\n");
    kvtest::WriteText((usb / "serial").string(), "A50285BI\n");
    kvtest::WriteText((port / "latency_timer").string(), "16\n");
    fs::create_directories(Sys() / "class" / "tty" / name);
    fs::create_symlink(port, Sys() / "class" / "tty" / name / "device");
    fs::create_symlink("../../" + name, Dev() / "serial" / "by-id" / ("usb-Adapter_" + name));
  }
  // A device that only its owner (root) may open.
  void AddClosedDevice(const std::string& name) {
    kvtest::WriteText((Dev() / name).string(), "");
    fs::permissions(Dev() / name, fs::perms::owner_read | fs::perms::owner_write);
  }
  void AddProcess(int pid, const std::string& name, const std::string& holds = {}) {
    const fs::path p = Proc() / std::to_string(pid);
    fs::create_directories(p / "fd");
    kvtest::WriteText((p / "comm").string(), name + "\n");
    if (!holds.empty()) fs::create_symlink(holds, p / "fd" / "3");
  }

  int Doctor(const std::string& port = {}) {
    Report.str({});
    return RunDoctor(Report, scratch_.Dir(), port, Roots);
  }

  fs::path Dev() const { return scratch_.Path() / "dev"; }
  fs::path Sys() const { return scratch_.Path() / "sys"; }
  fs::path Proc() const { return scratch_.Path() / "proc"; }

  MachineRoots Roots;
  std::ostringstream Report;

 private:
  kvtest::ScratchFolder scratch_{"kv-doctor"};
};

TEST(Doctor, ReportsEachDeviceWithItsIdentityHolderAndRights) {
  FakeMachine m;
  m.AddUsbAdapter(0, "0403", "6001");
  m.AddClosedDevice("ttyUSB1");
  m.AddProcess(4321, "minicom", "/dev/null");
  const MachineFacts facts = InspectMachine("", m.Roots);
  ASSERT_EQ(facts.devices.size(), 2u);
  const SerialDeviceFacts& usb = facts.devices[0];
  EXPECT_EQ(usb.portNumbers, std::vector<int>{1});
  ASSERT_TRUE(usb.usb.has_value());
  EXPECT_EQ(usb.usb->vendorId + ":" + usb.usb->productId + " " + usb.usb->serial,
            "0403:6001 A50285BI");
  EXPECT_EQ(usb.latencyTimerMs, 16);
  EXPECT_EQ(fs::path(usb.stableName).filename(), "usb-Adapter_ttyUSB0");
  ASSERT_EQ(usb.holders.size(), 1u);
  EXPECT_EQ(usb.holders[0].pid, 4321);
  EXPECT_TRUE(usb.mayOpen);
  EXPECT_FALSE(facts.devices[1].mayOpen);

  EXPECT_EQ(m.Doctor(), 1);
  const std::string report = m.Report.str();
  EXPECT_NE(report.find("held open by minicom (process 4321)"), std::string::npos) << report;
  EXPECT_NE(report.find("sudo usermod -aG"), std::string::npos) << report;
}

TEST(Doctor, AModemManagerIsToldToLeaveThatAdapterAlone) {
  FakeMachine m;
  m.AddUsbAdapter(0, "10c4", "ea60");
  EXPECT_EQ(m.Doctor("1"), 0) << m.Report.str();
  EXPECT_EQ(m.Report.str().find("modem manager"), std::string::npos);

  m.AddProcess(77, "ModemManager");
  EXPECT_EQ(m.Doctor("1"), 1);
  EXPECT_NE(m.Report.str().find("ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", "
                                "ENV{ID_MM_DEVICE_IGNORE}=\"1\""),
            std::string::npos)
      << m.Report.str();
}

TEST(Doctor, APortNumberWithoutADeviceStandsInTheWay) {
  FakeMachine m;
  EXPECT_EQ(m.Doctor("4"), 1);
  EXPECT_NE(m.Report.str().find("COM 4 stands for no serial device"), std::string::npos);
}

}  // namespace
