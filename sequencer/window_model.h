// The main window as data: every control that the steps write to, with its caption, font
// colour, font size and visibility, the history list FUpHist, the two drop-down lists and the
// gauge. The Qt window binds its widgets to this model, the command line prints what changes,
// and the tests assert on it. No Qt here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sequencer/colors.h"
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
  // What changed: a control's name ("Label12", "FUpHist", "Gauge", "CommPortBox", ...).
  using Listener = std::function<void(const std::string& name)>;

  WindowModel();  // every control of the main window, in its design-time state
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  // Controls by name; an unknown name throws std::out_of_range (a misspelt name is a bug).
  const ControlState& Control(const std::string& name) const;
  const std::string& Caption(const std::string& name) const { return Control(name).caption; }
  TColor FontColor(const std::string& name) const { return Control(name).color; }
  int FontSize(const std::string& name) const { return Control(name).fontSize; }
  bool Visible(const std::string& name) const { return Control(name).visible; }

  // Writers notify the listeners only when the value changes.
  void SetCaption(const std::string& name, const std::string& text);
  void SetFontColor(const std::string& name, TColor color);
  void SetFontSize(const std::string& name, int points);
  void SetVisible(const std::string& name, bool visible);
  void Show(const std::string& name) { SetVisible(name, true); }
  void Hide(const std::string& name) { SetVisible(name, false); }
  void Clear(const std::string& name) { SetCaption(name, ""); }

  // The history list FUpHist.
  const std::vector<std::string>& FUpHist() const { return history_; }
  void HistAdd(const std::string& line);
  void HistReplaceLast(const std::string& line);  // adds when the list is empty
  void HistClear();

  // CommPortBox ("1" ... "9") and BaudRateBox ("38400", "57600").
  const ListState& List(const std::string& name) const;
  void SetItemIndex(const std::string& name, int index);
  // Selects the entry equal to `text`; none matches: no selection.
  void SelectText(const std::string& name, const std::string& text);

  // The progress gauge: arithmetic in the core; the widget draws it.
  TGaugeModel& Gauge() { return gauge_; }
  const TGaugeModel& Gauge() const { return gauge_; }
  // Call after changing the gauge so that the views repaint when it says so.
  void GaugeChanged();

  bool Maximized = false;

  void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }
  std::vector<std::string> ControlNames() const;

 private:
  void Notify(const std::string& name);
  ControlState& Mutable(const std::string& name);

  std::map<std::string, ControlState> controls_;
  std::map<std::string, ListState> lists_;
  std::vector<std::string> history_;
  TGaugeModel gauge_;
  std::vector<Listener> listeners_;
};
