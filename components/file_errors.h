// The runtime's file and conversion errors, thrown where they happen and shown by the front end.
#pragma once

#include <stdexcept>
#include <string>

// "File not found", "File access denied", "Disk full", "I/O error %d", ...
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& message, int code)
      : std::runtime_error(message), ErrorCode(code) {}
  int ErrorCode;
  // The runtime's message for an errno value (ENOENT -> "File not found", ...).
  static EInOutError FromErrno(int err);
};

// "'%s' is not a valid integer value"
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  static EConvertError NotAnInteger(const std::string& text);
};
