// The few POSIX calls that the tests' scratch folders and environment changes lean on, for the
// Windows build (MinGW's runtime lacks them). Included ahead of every Windows test source.
#pragma once

#ifdef _WIN32
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

// Replaces the trailing XXXXXX of `pattern` and creates that folder; nullptr when it cannot.
inline char* mkdtemp(char* pattern) {
  std::string text(pattern);
  if (text.size() < 6 || text.compare(text.size() - 6, 6, "XXXXXX") != 0) return nullptr;
  static std::mt19937 pick(std::random_device{}());
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (std::size_t i = text.size() - 6; i < text.size(); ++i) text[i] = kChars[pick() % 36];
    std::error_code ec;
    if (std::filesystem::create_directory(text, ec)) {
      text.copy(pattern, text.size());
      return pattern;
    }
  }
  return nullptr;
}

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}

// An empty value removes the variable on Windows.
inline int unsetenv(const char* name) {
  return _putenv_s(name, "");
}
#endif
