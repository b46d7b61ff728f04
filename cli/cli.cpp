#include "cli/cli.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <utility>

#include "cli/exit_status.h"

namespace {

constexpr auto kIdleWake = std::chrono::milliseconds(250);
std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
  if (g_interrupted) std::_Exit(kUploadInterrupted);
  g_interrupted = true;
}

}  // namespace

void InstallInterruptHandler() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  // A closed terminal or a dropped remote session stops the run the same way: the ports are
  // released, and the table and the production line's log still get their lines.
#ifdef SIGHUP
  std::signal(SIGHUP, OnInterrupt);
#endif
}

void CliUi::ShowMessage(const std::string& text) {
  Messages.push_back(text);
  err_ << "kvuflash-cli: " << text << std::endl;
}

bool CliUi::Confirm(const std::string& text) {
  err_ << "kvuflash-cli: " << text << (ConfirmAnswer ? " Yes." : " No.") << std::endl;
  return ConfirmAnswer;
}

void CliUi::ShowNotice(const std::string& text) {
  Notices.push_back(text);
  err_ << "kvuflash-cli: " << text << std::endl;
}

bool CliUi::ChooseFile(std::string& chosenPath) {
  if (ChosenFile.empty()) return false;
  chosenPath = ChosenFile;
  return true;
}

Cli::Cli(std::ostream& err, std::string programDir)
    : ui_(mainThread_, err), station_(mainThread_, ui_, std::move(programDir)) {
  station_.Activate();
  station_.StartTicks();
}

Cli::~Cli() {
  station_.Finish();
  mainThread_.Shutdown();
}

void Cli::SetPort(int port) {
  if (port < 1 || port > 9) {
    throw std::invalid_argument("The port must be a number from 1 to 9, not " +
                                std::to_string(port) + ".");
  }
  station_.Model().SelectText(Ctl::CommPortBox, std::to_string(port));
}

void Cli::SetBaud(int baud) {
  if (baud != 38400 && baud != 57600) {
    throw std::invalid_argument("The baud rate must be 38400 or 57600, not " +
                                std::to_string(baud) + ".");
  }
  station_.Model().SelectText(Ctl::BaudRateBox, std::to_string(baud));
}

void Cli::Press(void (MainForm::*handler)()) {
  (Form().*handler)();
}

bool Cli::Interrupted() const {
  return g_interrupted;
}

bool Cli::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (g_interrupted || std::chrono::steady_clock::now() >= end) return false;
    // Every tick and receive event is a call that ends the wait; the limit only bounds how
    // late an interruption is seen should the ticks stop. A shorter one would wake each unit's
    // thread for nothing many times a tick.
    mainThread_.RunPendingFor(kIdleWake);
  }
  return true;
}

bool Cli::RunUntilIdle(std::chrono::milliseconds limit) {
  return RunUntil([this] { return IsRestingStep(Form().S().Step); }, limit);
}
