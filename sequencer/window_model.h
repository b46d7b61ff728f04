// The main window as data: every control that the steps write to, with its caption, font
// colour, font size and visibility, the history list FUpHist, the two drop-down lists and the
// gauge. The Qt window binds its widgets to this model, the command line prints what changes,
// and the tests assert on it. No Qt here.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sequencer/colors.h"
#include "sequencer/controls.h"
#include "sequencer/gauge_model.h"

struct ControlState {
  std::string caption;
  TColor color = clBlack;
  int fontSize = 0;  // points; 0 = the window's font (Arial, 13 pixels)
  bool visible = true;
};

// A drop-down list: its entries and the selected one (-1 = no selection).
struct ListState {
  std::vector<std::string> items;
  int itemIndex = -1;
  std::string Text() const {
    return itemIndex >= 0 && itemIndex < static_cast<int>(items.size()) ? items[itemIndex] : "";
  }
};

class WindowModel {
 public:
  // What changed: a control (Ctl::Label12, Ctl::FUpHist, Ctl::Gauge, Ctl::CommPortBox, ...).
  using Listener = std::function<void(Ctl control)>;

  WindowModel();  // every control of the main window, in its design-time state
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  const ControlState& Control(Ctl c) const { return controls_[static_cast<std::size_t>(c)]; }
  const std::string& Caption(Ctl name) const { return Control(name).caption; }
  TColor FontColor(Ctl name) const { return Control(name).color; }
  int FontSize(Ctl name) const { return Control(name).fontSize; }
  bool Visible(Ctl name) const { return Control(name).visible; }

  // Writers notify the listeners only when the value changes.
  void SetCaption(Ctl name, const std::string& text);
  void SetFontColor(Ctl name, TColor color);
  void SetFontSize(Ctl name, int points);
  void SetVisible(Ctl name, bool visible);
  void Show(Ctl name) { SetVisible(name, true); }
  void Hide(Ctl name) { SetVisible(name, false); }
  void Clear(Ctl name) { SetCaption(name, ""); }

  // The history list FUpHist. A byte of a line that does not print (but a line
  // end or a tab) is kept as its value, "<1F>".
  const std::vector<std::string>& FUpHist() const { return history_; }
  void HistAdd(const std::string& line);
  void HistReplaceLast(const std::string& line);  // adds when the list is empty
  void HistClear();

  // CommPortBox ("1" ... "9") and BaudRateBox ("38400", "57600"); any other control throws
  // std::logic_error.
  const ListState& List(Ctl name) const;
  void SetItemIndex(Ctl name, int index);
  // Selects the entry equal to `text`; none matches: no selection.
  void SelectText(Ctl name, const std::string& text);

  // The progress gauge: arithmetic in the core; the widget draws it.
  TGaugeModel& Gauge() { return gauge_; }
  const TGaugeModel& Gauge() const { return gauge_; }
  // Call after changing the gauge so that the views repaint when it says so.
  void GaugeChanged();

  bool Maximized = false;

  void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }
  // Every control, in the order of the design.
  static std::vector<Ctl> Controls();

 private:
  void Notify(Ctl name);
  ControlState& Mutable(Ctl c) { return controls_[static_cast<std::size_t>(c)]; }
  ListState& MutableList(Ctl name);

  std::array<ControlState, kControlCount> controls_;
  ListState ports_;
  ListState bauds_;
  std::vector<std::string> history_;
  TGaugeModel gauge_;
  std::vector<Listener> listeners_;
};
