#include "sequencer/window_model.h"

#include <stdexcept>

namespace {

struct Design {
  const char* name;
  const char* caption;
  bool visible;
};

// Design-time state of the main window's controls; start-up (FormActivate) adjusts it.
constexpr Design kDesign[] = {
    // Always present
    {"Image1", "", true},
    {"Label5", "RQ-410  Flash Upload", true},
    {"BtnRepeatUpload", "&Repeat Upload", false},
    {"BtnBackToStart", "&Go Back to Start", false},
    {"BtnCaptureFile", "&Enable Capture File", true},
    {"Label11", "Disabled", true},
    {"BtnHelp", "&Help", true},
    {"BtnClose", "&Close", true},
    {"GroupBox2", "", true},
    {"Title1", "", true},
    {"Title2", "", true},
    // Opening screen
    {"OpeningBox", "", true},
    {"Label6", "Utility to Upload unit Firmware into Flash memory, via a serial port", true},
    {"Label13", "Attach the Unit Remote Control Port to the Computer Serial Port", true},
    {"BtnCable", "Cable Detail", true},
    {"MemoCable", "", false},
    {"Label3", "Select Com Port:", true},
    {"CommPortBox", "", true},
    {"Label7", "Select type of Upload", true},
    {"GroupBox1", "", true},
    {"Label9", "Baud Rate:", true},
    {"BaudRateBox", "", true},
    {"Label22", "Leave at 38400 baud, unless instructed by Korvane", true},
    {"Btn2Upload", "&Software Upload", true},
    {"GroupBox3", "", true},
    {"Label21", "DO NOT CARRY OUT THIS PROCEDURE UNLESS SPECIFICALLY INSTRUCTED BY KORVANE", true},
    {"BtnBoot", "Factory Bootstrap Upload", true},
    // Software Upload screen
    {"MainBox", "Main Software Upload", false},
    {"Label12", "", true},
    {"Label8", "", true},
    {"Label14", "", true},
    {"BtnChooseFile", "Choose File", false},
    {"RunBox", "", false},
    {"Label15", "", true},
    {"Label4", "", true},
    {"Label2", "", true},
    {"Gauge", "", false},
    {"BtnStartRun", "Start &Upload", true},
    {"Label10", "DO NOT INTERRUPT UPLOAD", false},
    // Factory screen
    {"FactoryBox", "Factory Bootstrap Upload", false},
    {"Label19", "", true},
    {"Label18", "Factory Upload History:", true},
    {"FUpHist", "", true},
    {"Label1", "", true},
    {"Label16", "", true},
    {"BtnGoOn", "&Proceed", false},
};

}  // namespace

WindowModel::WindowModel() {
  for (const Design& d : kDesign) {
    ControlState c;
    c.caption = d.caption;
    c.visible = d.visible;
    controls_.emplace(d.name, c);
  }
  // The factory warning is red from the start; start-up colours the rest.
  controls_.at("Label21").color = clRed;
  ListState ports;
  for (int i = 1; i <= 9; ++i) ports.items.push_back(std::to_string(i));
  ports.itemIndex = 0;
  lists_.emplace("CommPortBox", ports);
  ListState bauds;
  bauds.items = {"38400", "57600"};
  bauds.itemIndex = 0;
  lists_.emplace("BaudRateBox", bauds);
  gauge_.OnRepaint = [this] { Notify("Gauge"); };
}

const ControlState& WindowModel::Control(const std::string& name) const {
  auto it = controls_.find(name);
  if (it == controls_.end()) throw std::out_of_range("no control named " + name);
  return it->second;
}

ControlState& WindowModel::Mutable(const std::string& name) {
  auto it = controls_.find(name);
  if (it == controls_.end()) throw std::out_of_range("no control named " + name);
  return it->second;
}

void WindowModel::SetCaption(const std::string& name, const std::string& text) {
  ControlState& c = Mutable(name);
  if (c.caption == text) return;
  c.caption = text;
  Notify(name);
}

void WindowModel::SetFontColor(const std::string& name, TColor color) {
  ControlState& c = Mutable(name);
  if (c.color == color) return;
  c.color = color;
  Notify(name);
}

void WindowModel::SetFontSize(const std::string& name, int points) {
  ControlState& c = Mutable(name);
  if (c.fontSize == points) return;
  c.fontSize = points;
  Notify(name);
}

void WindowModel::SetVisible(const std::string& name, bool visible) {
  ControlState& c = Mutable(name);
  if (c.visible == visible) return;
  c.visible = visible;
  Notify(name);
}

void WindowModel::HistAdd(const std::string& line) {
  history_.push_back(line);
  Notify("FUpHist");
}

void WindowModel::HistReplaceLast(const std::string& line) {
  if (history_.empty()) {
    history_.push_back(line);
  } else {
    if (history_.back() == line) return;
    history_.back() = line;
  }
  Notify("FUpHist");
}

void WindowModel::HistClear() {
  if (history_.empty()) return;
  history_.clear();
  Notify("FUpHist");
}

const ListState& WindowModel::List(const std::string& name) const {
  auto it = lists_.find(name);
  if (it == lists_.end()) throw std::out_of_range("no list named " + name);
  return it->second;
}

void WindowModel::SetItemIndex(const std::string& name, int index) {
  auto it = lists_.find(name);
  if (it == lists_.end()) throw std::out_of_range("no list named " + name);
  if (index < -1 || index >= static_cast<int>(it->second.items.size())) index = -1;
  if (it->second.itemIndex == index) return;
  it->second.itemIndex = index;
  Notify(name);
}

void WindowModel::SelectText(const std::string& name, const std::string& text) {
  const ListState& list = List(name);
  int index = -1;
  for (std::size_t i = 0; i < list.items.size(); ++i) {
    if (list.items[i] == text) index = static_cast<int>(i);
  }
  SetItemIndex(name, index);
}

void WindowModel::GaugeChanged() {
  Notify("Gauge");
}

std::vector<std::string> WindowModel::ControlNames() const {
  std::vector<std::string> names;
  for (const auto& [name, state] : controls_) names.push_back(name);
  return names;
}

void WindowModel::Notify(const std::string& name) {
  for (const Listener& l : listeners_) l(name);
}
