// The main window's fixed texts that every front end shows: its caption, the title of its
// message boxes, the maker's footer lines and the cable's wiring. One copy, so that the
// Windows and the Linux window say the same.
#pragma once

#include <string>
#include <vector>

#include "kv_build_info.h"

namespace window_texts {

inline constexpr const char* kCaption =
    "FIRMWARE UPLOAD UTILITY FOR KORVANE FLASH-UPLOAD DEVICES  -  RQ-410 Modem";
// The application's title: it heads message boxes and the help viewer.
inline constexpr const char* kAppTitle = "Korvane Flash Device Upload";
inline constexpr const char* kMakerLine1 =
    "Korvane Communications Ltd,  Unit 4, Harbour Court,  Westbridge Road,  Calderport  CP7 2QN";
inline constexpr const char* kMakerLine2 =
    "Tel: +44 (0)1632 960410    Fax: +44 (0)1632 960411    Cat. No. KV-FU-410    "
    "Version " KV_VERSION;

// The serial cable's wiring, one memo line each.
const std::vector<std::string>& CableLines();

// The help topics that the window opens by number (1, 3, 4, 5, 9).
inline constexpr int kHelpTopics[] = {1, 3, 4, 5, 9};

}  // namespace window_texts

// The file chooser TForm2's captions.
namespace chooser_texts {
inline constexpr const char* kCaption = "Select a File Name";
inline constexpr const char* kFileName = "File Name:";
inline constexpr const char* kDirectories = "Directories:";
inline constexpr const char* kDoubleClick = "Double click to change directory";
inline constexpr const char* kDrive = "Drive:";
inline constexpr const char* kFileType = "File Type:";
inline constexpr const char* kOk = "OK";
inline constexpr const char* kCancel = "Cancel";
}  // namespace chooser_texts
