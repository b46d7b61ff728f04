#include "sequencer/window_model.h"

#include <stdexcept>

WindowModel::WindowModel() {
  for (const ControlDesign& d : kControls) {
    ControlState& c = Mutable(d.id);
    c.caption = std::string(d.caption);
    c.visible = d.visible;
  }
  // The factory warning is red from the start; start-up colours the rest.
  Mutable(Ctl::Label21).color = clRed;
  for (int i = 1; i <= 9; ++i) ports_.items.push_back(std::to_string(i));
  ports_.itemIndex = 0;
  bauds_.items = {"38400", "57600"};
  bauds_.itemIndex = 0;
  gauge_.OnRepaint = [this] { Notify(Ctl::Gauge); };
}

void WindowModel::SetCaption(Ctl name, const std::string& text) {
  ControlState& c = Mutable(name);
  if (c.caption == text) return;
  c.caption = text;
  Notify(name);
}

void WindowModel::SetFontColor(Ctl name, TColor color) {
  ControlState& c = Mutable(name);
  if (c.color == color) return;
  c.color = color;
  Notify(name);
}

void WindowModel::SetFontSize(Ctl name, int points) {
  ControlState& c = Mutable(name);
  if (c.fontSize == points) return;
  c.fontSize = points;
  Notify(name);
}

void WindowModel::SetVisible(Ctl name, bool visible) {
  ControlState& c = Mutable(name);
  if (c.visible == visible) return;
  c.visible = visible;
  Notify(name);
}

void WindowModel::HistAdd(const std::string& line) {
  history_.push_back(line);
  Notify(Ctl::FUpHist);
}

void WindowModel::HistReplaceLast(const std::string& line) {
  if (history_.empty()) {
    history_.push_back(line);
  } else {
    if (history_.back() == line) return;
    history_.back() = line;
  }
  Notify(Ctl::FUpHist);
}

void WindowModel::HistClear() {
  if (history_.empty()) return;
  history_.clear();
  Notify(Ctl::FUpHist);
}

ListState& WindowModel::MutableList(Ctl name) {
  if (name == Ctl::CommPortBox) return ports_;
  if (name == Ctl::BaudRateBox) return bauds_;
  throw std::logic_error(std::string(ControlName(name)) + " is not a list");
}

const ListState& WindowModel::List(Ctl name) const {
  return const_cast<WindowModel*>(this)->MutableList(name);
}

void WindowModel::SetItemIndex(Ctl name, int index) {
  ListState& list = MutableList(name);
  if (index < -1 || index >= static_cast<int>(list.items.size())) index = -1;
  if (list.itemIndex == index) return;
  list.itemIndex = index;
  Notify(name);
}

void WindowModel::SelectText(Ctl name, const std::string& text) {
  const ListState& list = List(name);
  int index = -1;
  for (std::size_t i = 0; i < list.items.size(); ++i) {
    if (list.items[i] == text) index = static_cast<int>(i);
  }
  SetItemIndex(name, index);
}

void WindowModel::GaugeChanged() {
  Notify(Ctl::Gauge);
}

std::vector<Ctl> WindowModel::Controls() {
  std::vector<Ctl> all;
  for (const ControlDesign& d : kControls) all.push_back(d.id);
  return all;
}

void WindowModel::Notify(Ctl name) {
  for (const Listener& l : listeners_) l(name);
}
