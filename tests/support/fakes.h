// Test doubles for the core's services: a scripted serial port, a settable clock and a front
// end that records what it was asked to show.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "components/clock.h"
#include "components/serial_port.h"
#include "sequencer/ui_services.h"

class FakePort : public ISerialPort {
 public:
  int Port() const override { return port; }
  void SetPort(int value) override {
    if (value == port) return;
    port = value;
    // An open port is opened again on the new device, as the real one is.
    if (active) {
      ++openAttempts;
      input.clear();
      active = opens;
    }
  }
  int Baudrate() const override { return baud; }
  void SetBaudrate(int value) override {
    if (value == baud) return;
    baud = value;
    baudChanges.push_back(value);
    if (active) input.clear();  // a reopen loses unread input
  }
  bool Active() const override { return active; }
  void SetActive(bool value) override {
    ++activeWrites;
    if (value) {
      ++openAttempts;
      input.clear();
      active = opens;
    } else {
      active = false;
    }
  }
  void WriteChar(std::uint8_t value) override {
    written.push_back(static_cast<char>(value));
    if (onWrite) onWrite(static_cast<char>(value));
  }
  void WriteString(const std::string& text) override {
    for (char c : text) WriteChar(static_cast<std::uint8_t>(c));
  }
  int ReadString(std::string& text) override {
    text = input;
    input.clear();
    return static_cast<int>(text.size());
  }
  double InputAge() const override { return inputAge; }
  std::string DeviceName(int n) const override { return "/dev/fake" + std::to_string(n); }
  bool IsRealDevice() const override { return real; }

  // The unit sends `text`: it waits in the input queue until ReadString.
  void Feed(const std::string& text) { input += text; }
  // Bytes written since the last call.
  std::string TakeWritten() {
    std::string w = written;
    written.clear();
    return w;
  }

  int port = 1;
  int baud = 9600;
  bool active = false;
  bool opens = true;  // false: the device cannot be opened
  bool real = false;  // a line with a unit behind it, not a simulated unit's pseudo-terminal
  int activeWrites = 0;
  int openAttempts = 0;
  std::vector<int> baudChanges;
  std::string input;
  double inputAge = 0;  // how long the input read had waited (a main thread kept busy)
  std::string written;
  std::function<void(char)> onWrite;
};

class FakeClock : public IClock {
 public:
  double TimeOfDay() const override { return now; }
  void AdvanceSeconds(double s) { now += s / 86400.0; }
  double now = 0.5;  // noon
};

class FakeUi : public IUiServices {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool Confirm(const std::string& text) override {
    questions.push_back(text);
    return confirmAnswer;
  }
  void ShowNotice(const std::string& text) override { notices.push_back(text); }
  void SetChooserFilter(const std::string& f) override { filter = f; }
  bool ChooseFile(std::string& chosenPath) override {
    ++chooserShown;
    if (!chooserAnswer) return false;
    chosenPath = *chooserAnswer;
    return true;
  }
  void ShowHelp(int topic) override { helpTopics.push_back(topic); }
  void ProcessPendingMessages() override {
    if (pending) pending();
  }
  void CloseWindow() override { closed = true; }

  std::vector<std::string> messages;
  std::vector<std::string> questions;
  bool confirmAnswer = false;
  std::vector<std::string> notices;
  std::string filter;
  const std::string* chooserAnswer = nullptr;
  int chooserShown = 0;
  std::vector<int> helpTopics;
  std::function<void()> pending;
  bool closed = false;
};
