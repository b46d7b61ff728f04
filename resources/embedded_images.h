// The factory upload's loaders and images, compiled into the program from resources/factory/
// at build time: each list holds the lines of its file in order, as the file holds them (no line
// ends). The build has checked their form, so callers may take every line as well formed.
#pragma once

#include <string>
#include <vector>

namespace resources {

// Loader 1: one hex text of 64 upper-case digits (32 bytes).
const std::vector<std::string>& Loader1Texts();

// Loader 2: three hex texts of 112, 112 and 120 digits (172 bytes), sent in this order.
const std::vector<std::string>& Loader2Texts();

// The bootstrap program (MemoBoot): Intel HEX lines of types 00, 04 and 01, the end record last.
const std::vector<std::string>& BootImageLines();

// The flash code (MemoFlshCode): Intel HEX lines, the end record last.
const std::vector<std::string>& FlashCodeLines();

// True while the four files are the stand-ins of resources/factory/, not the maker's: a real
// chip would run them as random bytes.
bool FactoryFilesAreStandIns();

}  // namespace resources
