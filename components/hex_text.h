// Hexadecimal text as the program reads and writes it: upload-file addresses and trailers,
// Intel HEX lines, the loaders' byte texts, the capture file's dumps and the messages that
// quote a damaged byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Digit values of hexadecimal characters of either case, -1 for any other byte. A table, as the
// Intel HEX reader looks up every character of a 4 MB image through it.
inline constexpr std::array<std::int8_t, 256> kHexDigitValues = [] {
  std::array<std::int8_t, 256> t{};
  t.fill(-1);
  for (int c = '0'; c <= '9'; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
  return t;
}();

inline int HexDigitValue(char c) {
  return kHexDigitValues[static_cast<unsigned char>(c)];
}

// "0"-"9" and "A"-"F" (upper case only), as the upload file and the unit write them.
inline bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The value of hexadecimal text of either case; false for anything else (the empty text too).
bool HexValue(std::string_view text, std::uint32_t& value);

// Bytes as upper-case hexadecimal digits, two per byte, no separators.
std::string HexText(const std::uint8_t* bytes, std::size_t count);
inline std::string HexByte(std::uint8_t b) {
  return HexText(&b, 1);
}
// `value` modulo 16^digits as `digits` upper-case hexadecimal digits ("00012A").
std::string HexDigits(std::uint32_t value, int digits);

// Bytes as text, with anything unprintable shown as "?".
std::string PrintableText(const std::uint8_t* bytes, std::size_t n);
// One byte of a line as a message names it: 'x', a blank, or "byte 0x07".
std::string CharacterText(char c);
// A line as a message quotes it: control and NUL bytes as \xNN, so that the terminal shows the
// whole message and what the line really holds.
std::string EscapedText(std::string_view text);
