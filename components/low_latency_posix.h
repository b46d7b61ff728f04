// Low latency on USB serial adapters. Their chips hold received bytes for up to their latency
// timer (16 ms on common ones) before passing them on, so every answer of the unit would come
// that much late; the Linux drivers turn the low-latency flag into a 1 ms timer. Other devices
// (a pseudo-terminal, a plain UART) are not asked, and a driver that refuses is no fault.
#pragma once

#include <linux/serial.h>

#include <string>

// The few calls the request makes, so that tests can stand in for a device.
class ILowLatencyDevice {
 public:
  virtual ~ILowLatencyDevice() = default;
  // The bus that the device behind `fd` hangs on ("usb-serial" for a USB serial adapter),
  // empty when it has none (a pseudo-terminal).
  virtual std::string Subsystem(int fd) const = 0;
  virtual bool GetSerial(int fd, serial_struct& info) = 0;        // TIOCGSERIAL
  virtual bool SetSerial(int fd, const serial_struct& info) = 0;  // TIOCSSERIAL
};

// The system's own calls.
ILowLatencyDevice& SystemLowLatencyDevice();

enum class LowLatency { NotAsked, AlreadyOn, TurnedOn, Refused };

// Asks a USB serial adapter for low latency; says nothing whatever the answer.
LowLatency AskLowLatency(int fd, ILowLatencyDevice& device);
// Gives the flag back as it was found, after AskLowLatency turned it on.
void ClearLowLatency(int fd, ILowLatencyDevice& device);
