// The front end of a program that drives the core with nobody at the screen (a benchmark, the
// soak): messages go to the error stream with the program's name, the file chooser answers
// with the file set beforehand, and every question is answered No.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "components/main_thread.h"
#include "sequencer/ui_services.h"

class HeadlessUi final : public IUiServices {
 public:
  HeadlessUi(IMainThread& mainThread, std::string program)
      : mainThread_(mainThread), program_(std::move(program)) {}
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", program_.c_str(), text.c_str());
  }
  bool Confirm(const std::string&) override { return false; }
  void ShowNotice(const std::string& text) override { ShowMessage(text); }
  void SetChooserFilter(const std::string&) override {}
  bool ChooseFile(std::string& chosenPath) override {
    chosenPath = Chosen;
    return true;
  }
  void ShowHelp(int) override {}
  void ProcessPendingMessages() override { mainThread_.ProcessPendingMessages(); }
  void CloseWindow() override {}
  std::string Chosen;

 private:
  IMainThread& mainThread_;
  std::string program_;
};
