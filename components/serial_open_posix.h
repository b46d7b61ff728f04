// What opening a terminal device takes besides the open itself: telling a pseudo-terminal,
// the raw line, and the words for a device that does not open.
#pragma once

#include <string>

// The slave side of a pseudo-terminal (device majors 136 to 143).
bool IsPseudoTerminal(int fd);
// Raw, 8 bits, receiver on, modem lines ignored, no hang-up at close; input flushed, so that
// a reopen starts with an empty input queue.
void MakeRawLine(int fd);
// Why `path`, the device of `com`, did not open, in the user's words.
std::string OpenFailureText(const std::string& com, const std::string& path, int error);
