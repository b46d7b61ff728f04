// Where an installed program finds the files installed with it (help pages, samples): found
// from the executable's own place, never from a path fixed at build time, so that the installed
// tree works under any prefix and after being moved.
#pragma once

#include <string>

// The data folder of the installed tree that the program in `exeDir` belongs to, with its
// trailing separator, or an empty string when there is none (a program run from its build
// folder).
std::string InstalledDataDir(const std::string& exeDir);
// The same for the running program.
std::string InstalledDataDir();
