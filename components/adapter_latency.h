// The latency timers of the USB serial adapters present, as their drivers show them: how long
// each adapter holds received bytes before passing them on. A long one (16 ms is common) makes
// every answer of the unit that much late; the serial port asks for 1 ms when it opens one.
#pragma once

#include <string>
#include <vector>

struct AdapterLatency {
  std::string device;  // "/dev/ttyUSB0"
  int ms = 0;
};

// Every adapter whose driver has a latency timer, in name order; none where the system shows
// none (other drivers, other systems). `sysRoot` is the system's /sys, or a test's stand-in.
std::vector<AdapterLatency> UsbAdapterLatencyTimers(const std::string& sysRoot = "/sys");
