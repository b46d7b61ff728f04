// Where each control of the main window stands, in pixels at 96 dots per inch inside the
// window's design area (762 x 409), and which screen box holds it: a control shows only while
// it and every box around it are visible in the window model.
#pragma once

#include <optional>

#include "sequencer/controls.h"

enum class ControlKind { Label, Button, GroupBox, ComboBox, Memo, History, Image, Gauge };

struct Placement {
  Ctl id;
  ControlKind kind;
  int x, y, w, h;
  std::optional<Ctl> box;  // the box around it
};

inline constexpr int kDesignWidth = 762;
inline constexpr int kDesignHeight = 409;

// Every control of the enumeration, once.
const Placement& PlacementOf(Ctl id);
// The label beside the port list that names the port's device, which the model does not hold.
inline constexpr Placement kPortDevicePlace{Ctl::CommPortBox, ControlKind::Label, 186, 308, 190, 17,
                                            Ctl::OpeningBox};
// The port row (Label3, CommPortBox and the device) stands where the cable memo would, while
// the memo is hidden, so that the opening screen does not open a gap.
inline constexpr int kPortRowLift = 95;
// The font of a control that is not the window's Arial 13 px: its pixel size, bold and italic.
struct DesignFont {
  int pixels = 13;
  bool bold = false;
  bool italic = false;
};
DesignFont DesignFontOf(Ctl id);
