// The folder the file chooser opens in: the folder of the last file chosen, remembered from
// one program run to the next in a one-line text file.
//
// Windows: the file is C:\KVUflash.set, the folder is kept in upper case and only folders on
// drive C are remembered ("C:\" stands for anything else). Linux: the file is
// $XDG_CONFIG_HOME/kvuflash/KVUflash.set (~/.config when unset), the folder is kept as spelt
// (names are case-sensitive), and the home folder stands where Windows has "C:\".
#pragma once

#include <functional>
#include <string>

// Where the remembered folder lives. On Windows: C:\KVUflash.set, or the user's own
// %LOCALAPPDATA%\kvuflash\KVUflash.set where the root of drive C may not be written (the newer
// of the two is read, so that a folder remembered in C:\ is not lost).
std::string DataFilesDirFile();
// The folder to use when nothing sound is remembered: "C:\" on Windows, the home folder here.
std::string DefaultDataFilesDir();

// The remembered folder; the default when the file is missing, or its first line names no
// existing folder (or, on Windows, a folder off drive C). An existing file that cannot be
// read raises EInOutError.
std::string ReadDataFilesDir();
// Remembers `currentFolder`, replacing the file. A failure to write raises EInOutError and
// leaves any earlier file as it was.
void SaveDataFilesDir(const std::string& currentFolder);

// The Windows rules on their own, so that they can be checked on any platform.
// Of the spec's place and the user's (empty: none), the one to read: the newer that exists.
std::string NewerSetFile(const std::string& spec, const std::string& user);
// Writes `text` whole at `spec`, or at `user` (its folder made) where `spec` cannot be written.
void WriteSetFile(const std::string& spec, const std::string& user, const std::string& text);
// The folder that a first line stands for: upper-cased first character must be "C" and the
// folder must exist (`folderExists`), "C:\" otherwise; the line is returned as read.
std::string WindowsFolderFromLine(const std::string& line,
                                  const std::function<bool(const std::string&)>& folderExists);
// The line to write for a folder: upper case, or "C:\" for a folder off drive C.
std::string WindowsLineForFolder(const std::string& folder);
