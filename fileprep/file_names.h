// The names of a run's files: the kind and base of the chosen input, and the derived names
// (BaseName + ".BIN", BaseName + ".KVU") as this platform's file system should see them.
#pragma once

#include <string>

#include "components/file_errors.h"

struct InputNameParts {
  std::string Extension;  // up to three characters after the first ".", upper case
  std::string BaseName;   // the characters before the first "." (empty with no ".")
};

// Splits a chosen name at its first ".": "fw.rev.hex" gives REV and "fw"; "fw.r2.hex" gives
// "R2." and "fw"; a name without "." gives its first three characters and an empty base.
InputNameParts SplitInputName(const std::string& name);

// SplitInputName of a path's last part; the base keeps the path's folder ("/a.b/fw.hex" gives
// HEX and "/a.b/fw"), so a chosen file may be named with its folder, whatever that is called.
InputNameParts SplitChosenName(const std::string& path);

// Windows file names ignore case, and users rely on it: fw.bin is opened as fw.BIN, FW.KVU
// replaces fw.kvu. On a case-sensitive file system a derived name that matches an existing
// file but for case therefore means that file; the name is returned unchanged when the file
// exists as spelt, when nothing matches, or on Windows.
std::string ResolveExistingName(const std::string& path);

// True when `path` names an existing ordinary file (not a folder).
bool FileExists(const std::string& path);

// Raises EInOutError unless `path` names an existing ordinary file, in words that name it and
// say what it is instead: "fw.hex: File not found", "fw.hex is a folder, not a file", "... is
// a named pipe (FIFO), not a file", "... is a device, not a file". Reading a pipe or a device
// as firmware would wait for ever or take whatever it happens to give.
void RequireOrdinaryFile(const std::string& path);

// Runs `body`; a file or conversion error it raises is raised again with `path` before its
// message ("fw.BIN: Disk full"), since the runtime's words alone do not say which file of a
// conversion they are about.
template <class Body>
auto NamingFile(const std::string& path, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const EInOutError& e) {
    throw EInOutError(path + ": " + e.what(), e.ErrorCode);
  } catch (const EConvertError& e) {
    throw EConvertError(path + ": " + e.what());
  }
}
