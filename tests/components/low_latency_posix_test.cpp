#include "components/low_latency_posix.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A device on a given bus, whose driver keeps the serial flags and may refuse them.
class FakeDevice final : public ILowLatencyDevice {
 public:
  explicit FakeDevice(std::string bus, int flags = ASYNC_SKIP_TEST) : bus_(std::move(bus)) {
    info_.flags = flags;
  }
  std::string Subsystem(int) const override { return bus_; }
  bool GetSerial(int, serial_struct& info) override {
    ++gets;
    info = info_;
    return true;
  }
  bool SetSerial(int, const serial_struct& info) override {
    sets.push_back(info.flags);
    if (refuse) return false;
    info_ = info;
    return true;
  }
  int Flags() const { return info_.flags; }

  int gets = 0;
  std::vector<int> sets;
  bool refuse = false;

 private:
  std::string bus_;
  serial_struct info_{};
};

}  // namespace

TEST(LowLatency, AskedOfUsbSerialAdaptersOnlyAndGivenBackAsFound) {
  FakeDevice usb("usb-serial");
  EXPECT_EQ(AskLowLatency(3, usb), LowLatency::TurnedOn);
  EXPECT_EQ(usb.Flags(), ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY) << "other flags are kept";
  ClearLowLatency(3, usb);
  EXPECT_EQ(usb.Flags(), ASYNC_SKIP_TEST);

  FakeDevice alreadyOn("usb-serial", ASYNC_LOW_LATENCY);
  EXPECT_EQ(AskLowLatency(3, alreadyOn), LowLatency::AlreadyOn);
  EXPECT_TRUE(alreadyOn.sets.empty());

  FakeDevice refusing("usb-serial");
  refusing.refuse = true;
  EXPECT_EQ(AskLowLatency(3, refusing), LowLatency::Refused);

  // A pseudo-terminal has no bus; a plain UART or a modem-class device has no latency timer.
  for (const char* bus : {"", "serial-base", "platform", "usb"}) {
    FakeDevice other(bus);
    EXPECT_EQ(AskLowLatency(3, other), LowLatency::NotAsked) << bus;
    EXPECT_EQ(other.gets, 0) << bus;
    EXPECT_TRUE(other.sets.empty()) << bus;
  }
}
