// Whether a port's device has hardware behind it, or is a pseudo-terminal (a simulated unit).
#pragma once

#include <string>

// True for a serial device with a line behind it ("/dev/ttyUSB0", "COM3"); false for a
// pseudo-terminal, anything that is not a character device, and a name that stands for nothing.
// On Windows a COM port counts as a line unless Wine reports a pseudo-terminal behind it.
bool IsHardwareSerialDevice(const std::string& device);
