#include "form/file_places.h"

#include <algorithm>

#include "components/port_map.h"
#include "fileprep/data_files_dir.h"

std::vector<FilePlace> FilePlaces(const std::string& programDir) {
  return {{"port settings", programDir + "commsUP.txt"},
          {"capture file", programDir + "Capture.txt"},
          {"port map", PortMapFile(programDir)},
          {"remembered folder", DataFilesDirFile()}};
}

std::string FilePlacesText(const std::string& programDir, const std::string& newline) {
  const std::vector<FilePlace> places = FilePlaces(programDir);
  std::size_t width = 0;
  for (const FilePlace& p : places) width = std::max(width, p.what.size());
  std::string text = "Files on this machine:" + newline;
  for (const FilePlace& p : places) {
    text += "  " + p.what + std::string(width + 2 - p.what.size(), ' ') + p.path + newline;
  }
  return text;
}
