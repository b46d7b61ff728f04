// The folder where the program keeps its own files (port settings, capture file, port map,
// temporary upload files): the executable's folder when it may be written and is not an
// installed tree's, otherwise a per-user data folder.
#pragma once

#include <string>

// With its trailing separator. Creates the per-user folder when it falls back to it.
std::string DefaultProgramDir();
