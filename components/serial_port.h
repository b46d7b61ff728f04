// What the sequencer uses of a serial port. TSerial implements it over the platform;
// tests put a scripted unit behind it.
#pragma once

#include <cstdint>
#include <string>

#include "components/component.h"

class ISerialPort {
 public:
  virtual ~ISerialPort() = default;

  virtual int Port() const = 0;
  virtual void SetPort(int value) = 0;
  virtual int Baudrate() const = 0;
  virtual void SetBaudrate(int value) = 0;
  virtual bool Active() const = 0;
  virtual void SetActive(bool value) = 0;

  // Both return when the bytes have been handed to the port (or the wait bound has passed).
  virtual void WriteChar(std::uint8_t value) = 0;
  virtual void WriteString(const std::string& text) = 0;
  // Empties the input queue into `text` (at most RxQueueSize + 1 bytes); returns its length.
  virtual int ReadString(std::string& text) = 0;
  // How long, in seconds, the bytes of the last ReadString had waited to be read: from when
  // the first of them came to the read. 0 where that is not known.
  virtual double InputAge() const { return 0; }

  // The device path that a port number stands for on this machine ("/dev/ttyUSB0", "COM3"),
  // empty when none; shown to the user next to the number.
  virtual std::string DeviceName(int port) const = 0;
  // Whether the chosen port has a line and a unit behind it, not a pseudo-terminal that a
  // simulated unit holds.
  virtual bool IsRealDevice() const { return false; }

  // Raised on the main thread when input has arrived.
  TNotifyEvent OnRxData;
};
