#include "sequencer/window_model.h"

#include <cstddef>
#include <stdexcept>
#include <string>

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

namespace {

// The length of the well-formed UTF-8 sequence at `at` (a file name in the user's language),
// 0 when there is none.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto b = static_cast<unsigned char>(text[at]);
  const std::size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (n == 0 || at + n > text.size()) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

// A byte that would show as nothing or as garbage (a stray byte from the line) is written as
// its two hexadecimal digits in angle brackets.
std::string ReadableLine(const std::string& line) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto b = static_cast<unsigned char>(line[i]);
    // A line end from the unit's line stays as it came.
    if ((b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t') {
      text += line[i];
    } else if (const std::size_t n = b >= 0x80 ? Utf8Length(line, i) : 0; n > 0) {
      text.append(line, i, n);
      i += n - 1;
    } else {
      text += {'<', kDigits[b >> 4], kDigits[b & 0xF], '>'};
    }
  }
  return text;
}

}  // namespace

void WindowModel::HistAdd(const std::string& line) {
  history_.push_back(ReadableLine(line));
  Notify(Ctl::FUpHist);
}

void WindowModel::HistReplaceLast(const std::string& text) {
  const std::string line = ReadableLine(text);
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
