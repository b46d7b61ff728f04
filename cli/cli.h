// The command line's shell around the main window's logic: the same station as the window
// (serial port, tick timer, MainForm) with a main loop of its own. Commands press the window's
// buttons through it and wait for the sequencer to come to rest; what the window shows is told
// by a Narrator that listens to its model.
#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "components/main_thread.h"
#include "form/station.h"

// What the core asks of a front end, answered on a terminal: messages go to the error stream
// and the file chooser returns the file named on the command line.
class CliUi final : public IUiServices {
 public:
  CliUi(IMainThread& mainThread, std::ostream& err) : mainThread_(mainThread), err_(err) {}

  void ShowMessage(const std::string& text) override;
  // Prints the question and the answer that the command's options give.
  bool Confirm(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  void SetChooserFilter(const std::string& filter) override { Filter = filter; }
  bool ChooseFile(std::string& chosenPath) override;
  void ShowHelp(int) override {}
  void ProcessPendingMessages() override { mainThread_.ProcessPendingMessages(); }
  void CloseWindow() override { Closed = true; }

  std::string ChosenFile;  // empty: the chooser is cancelled
  std::string Filter;
  std::vector<std::string> Messages;
  std::vector<std::string> Notices;
  // The answer to every question (options such as --accept-bad-checksums say yes).
  bool ConfirmAnswer = false;
  bool Closed = false;

 private:
  IMainThread& mainThread_;
  std::ostream& err_;
};

class Cli {
 public:
  // `programDir` with its trailing separator; empty: the program's own folder.
  // Messages and questions go to `err`.
  explicit Cli(std::ostream& err, std::string programDir = {});
  ~Cli();
  Cli(const Cli&) = delete;
  Cli& operator=(const Cli&) = delete;

  MainForm& Form() { return station_.Form(); }
  CliUi& Ui() { return ui_; }
  TSerial& Serial1() { return station_.Serial1(); }
  // The run's options (records on request, capture file, devices of the ports, progress).
  Station& Options() { return station_; }

  // Port number 1 to 9 and baud rate as the opening screen's lists offer them; anything else
  // throws std::invalid_argument with a message for the user.
  void SetPort(int port);
  void SetBaud(int baud);
  // The file that "Choose File" will return.
  void SetChosenFile(const std::string& path) { ui_.ChosenFile = path; }

  // Presses a button of the window (runs its handler on the main thread).
  void Press(void (MainForm::*handler)());
  // Runs the main loop (ticks, received data) until `done` holds, the time limit passes or
  // the user interrupts; returns whether `done` held.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
  // Until the sequencer rests: Step 0, or the blinking loop of a finished upload.
  bool RunUntilIdle(std::chrono::milliseconds limit);
  bool Interrupted() const;

 private:
  StdMainThread mainThread_;
  CliUi ui_;
  Station station_;
};

// Installs the handler that lets Ctrl+C end a wait cleanly; a second one ends the program at
// once, whatever it is doing.
void InstallInterruptHandler();
