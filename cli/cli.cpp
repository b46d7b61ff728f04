#include "cli/cli.h"

#include <atomic>
#include <csignal>
#include <ostream>
#include <stdexcept>

#include "components/program_dir.h"

namespace {

constexpr int kTickMs = 60;
std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
  g_interrupted = true;
}

bool IsBlinking(int step) {
  return step >= 183 && step <= 204;
}

}  // namespace

void InstallInterruptHandler() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

void CliUi::ShowMessage(const std::string& text) {
  Messages.push_back(text);
  err_ << "kvuflash-cli: " << text << std::endl;
}

bool CliUi::ChooseFile(std::string& chosenPath) {
  if (ChosenFile.empty()) return false;
  chosenPath = ChosenFile;
  return true;
}

Cli::Cli(std::ostream& out, std::ostream& err, std::string programDir)
    : out_(out),
      err_(err),
      serial_(mainThread_),
      ui_(mainThread_, err),
      form_(serial_, clock_, ui_, programDir.empty() ? DefaultProgramDir() : programDir),
      timer_(mainThread_) {
  serial_.ProgramDir = form_.Core.ProgramDir;
  serial_.SetDataBits(d8bit);
  serial_.SetCheckParity(false);
  serial_.SetMessageEndChar(13);
  serial_.OnRxData = [this](TComponent*) { form_.ReadMessage(); };
  serial_.ShowErrorDialog = [this](const std::string& text) { ui_.ShowMessage(text); };
  timer_.SetInterval(kTickMs);
  timer_.SetThreadPriority(tpTimeCritical);
  timer_.OnTimer = [this](TComponent*) { form_.Timer1Timer(); };
  form_.FormActivate();
  // Only what changes from here on is printed.
  for (const std::string& name : form_.W().ControlNames()) {
    printed_[name] = form_.W().Caption(name);
  }
  printedHistorySize_ = form_.W().FUpHist().size();
  form_.W().AddListener([this](const std::string& name) { Echo(name); });
  timer_.SetEnabled(true);
}

Cli::~Cli() {
  timer_.SetEnabled(false);
  mainThread_.Shutdown();
  if (form_.S().CaptureEnabled) {
    try {
      form_.Core.CloseCapture();
    } catch (const std::exception& e) {
      err_ << "kvuflash-cli: " << e.what() << std::endl;
    }
  }
}

void Cli::SetPort(int port) {
  if (port < 1 || port > 9) {
    throw std::invalid_argument("The port must be a number from 1 to 9, not " +
                                std::to_string(port) + ".");
  }
  form_.W().SelectText("CommPortBox", std::to_string(port));
}

void Cli::SetBaud(int baud) {
  if (baud != 38400 && baud != 57600) {
    throw std::invalid_argument("The baud rate must be 38400 or 57600, not " +
                                std::to_string(baud) + ".");
  }
  form_.W().SelectText("BaudRateBox", std::to_string(baud));
}

void Cli::Press(void (MainForm::*handler)()) {
  (form_.*handler)();
}

bool Cli::Interrupted() const {
  return g_interrupted;
}

bool Cli::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (g_interrupted || std::chrono::steady_clock::now() >= end) return false;
    mainThread_.RunPendingFor(std::chrono::milliseconds(20));
  }
  return true;
}

bool Cli::RunUntilIdle(std::chrono::milliseconds limit) {
  return RunUntil(
      [this] {
        const int step = form_.S().Step;
        return step == 0 || IsBlinking(step);
      },
      limit);
}

void Cli::Echo(const std::string& name) {
  WindowModel& w = form_.W();
  if (name == "FUpHist") {
    const auto& lines = w.FUpHist();
    if (lines.empty()) {
      printedHistorySize_ = 0;
      printedHistory_.clear();
      return;
    }
    if (lines.size() == printedHistorySize_ && lines.back() == printedHistory_) return;
    printedHistorySize_ = lines.size();
    printedHistory_ = lines.back();
    out_ << "FUpHist: " << printedHistory_ << std::endl;
    return;
  }
  if (name.rfind("Label", 0) != 0) return;
  const std::string& caption = w.Caption(name);
  std::string& last = printed_[name];
  if (caption == last) return;
  last = caption;
  out_ << name << ": " << caption << std::endl;
}
