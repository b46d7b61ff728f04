// Where this machine keeps the program's files, as the help of the window and of the command
// line tell the user: the port settings, the capture file and the port map in the program's
// folder (beside the program where it may write there, else the user's own folder), and the
// remembered data folder.
#pragma once

#include <string>
#include <vector>

struct FilePlace {
  std::string what;  // "port settings", "capture file", ...
  std::string path;
};

// `programDir` with its trailing separator.
std::vector<FilePlace> FilePlaces(const std::string& programDir);

// The places as lines of text under the heading "Files on this machine:", each line ended by
// `newline`.
std::string FilePlacesText(const std::string& programDir, const std::string& newline = "\n");
