// The main window's controls, named as the steps name them. One list: the enumeration that
// the core writes to (a misspelt control does not build) and the names that the Qt window
// gives its widgets as objectName and that the command line prints.
#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string_view>

// X(name, design-time caption, shown at design time)
// clang-format off
#define KV_MAIN_WINDOW_CONTROLS(X)                                                              \
  /* Always present */                                                                         \
  X(Image1, "", true)                                                                          \
  X(Label5, "RQ-410  Flash Upload", true)                                                      \
  X(BtnRepeatUpload, "&Repeat Upload", false)                                                  \
  X(BtnBackToStart, "&Go Back to Start", false)                                                \
  X(BtnCaptureFile, "&Enable Capture File", true)                                              \
  X(Label11, "Disabled", true)                                                                 \
  X(BtnHelp, "&Help", true)                                                                    \
  X(BtnClose, "&Close", true)                                                                  \
  X(GroupBox2, "", true)                                                                       \
  X(Title1, "", true)                                                                          \
  X(Title2, "", true)                                                                          \
  /* Opening screen */                                                                         \
  X(OpeningBox, "", true)                                                                      \
  X(Label6, "Utility to Upload unit Firmware into Flash memory, via a serial port", true)      \
  X(Label13, "Attach the Unit Remote Control Port to the Computer Serial Port", true)          \
  X(BtnCable, "Cable Detail", true)                                                            \
  X(MemoCable, "", false)                                                                      \
  X(Label3, "Select Com Port:", true)                                                          \
  X(CommPortBox, "", true)                                                                     \
  X(Label7, "Select type of Upload", true)                                                     \
  X(GroupBox1, "", true)                                                                       \
  X(Label9, "Baud Rate:", true)                                                                \
  X(BaudRateBox, "", true)                                                                     \
  X(Label22, "Leave at 38400 baud, unless instructed by Korvane", true)                        \
  X(Btn2Upload, "&Software Upload", true)                                                      \
  X(GroupBox3, "", true)                                                                       \
  X(Label21, "DO NOT CARRY OUT THIS PROCEDURE UNLESS SPECIFICALLY INSTRUCTED BY KORVANE", true) \
  X(BtnBoot, "Factory Bootstrap Upload", true)                                                 \
  /* Software Upload screen */                                                                 \
  X(MainBox, "Main Software Upload", false)                                                    \
  X(Label12, "", true)                                                                         \
  X(Label8, "", true)                                                                          \
  X(Label14, "", true)                                                                         \
  X(BtnChooseFile, "Choose File", false)                                                       \
  X(RunBox, "", false)                                                                         \
  X(Label15, "", true)                                                                         \
  X(Label4, "", true)                                                                          \
  X(Label2, "", true)                                                                          \
  X(Gauge, "", false)                                                                          \
  X(BtnStartRun, "Start &Upload", true)                                                        \
  X(Label10, "DO NOT INTERRUPT UPLOAD", false)                                                 \
  /* Factory screen */                                                                         \
  X(FactoryBox, "Factory Bootstrap Upload", false)                                             \
  X(Label19, "", true)                                                                         \
  X(Label18, "Factory Upload History:", true)                                                  \
  X(FUpHist, "", true)                                                                         \
  X(Label1, "", true)                                                                          \
  X(Label16, "", true)                                                                         \
  X(BtnGoOn, "&Proceed", false)
// clang-format on

enum class Ctl {
#define KV_CONTROL_ENUM(name, caption, visible) name,
  KV_MAIN_WINDOW_CONTROLS(KV_CONTROL_ENUM)
#undef KV_CONTROL_ENUM
};

struct ControlDesign {
  Ctl id;
  std::string_view name;
  std::string_view caption;
  bool visible;
};

// Every control in the order of the enumeration, with its design-time caption and visibility.
inline constexpr ControlDesign kControls[] = {
#define KV_CONTROL_DESIGN(name, caption, visible) {Ctl::name, #name, caption, visible},
    KV_MAIN_WINDOW_CONTROLS(KV_CONTROL_DESIGN)
#undef KV_CONTROL_DESIGN
};

inline constexpr std::size_t kControlCount = std::size(kControls);

// The control's name: its objectName in the window and its name in printed lines.
constexpr std::string_view ControlName(Ctl c) {
  return kControls[static_cast<std::size_t>(c)].name;
}

// Labels are the controls whose captions the command line prints.
constexpr bool IsLabel(Ctl c) {
  return ControlName(c).substr(0, 5) == "Label";
}

inline std::ostream& operator<<(std::ostream& out, Ctl c) {
  return out << ControlName(c);
}
