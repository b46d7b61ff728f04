// What ends a line of the text files the program writes (commsUP.txt, Capture.txt,
// KVUflash.set): CR LF on Windows, LF elsewhere.
#pragma once

#ifdef _WIN32
inline constexpr const char* kLineEnd = "\r\n";
#else
inline constexpr const char* kLineEnd = "\n";
#endif
