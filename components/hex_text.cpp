#include "components/hex_text.h"

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

bool HexValue(std::string_view text, std::uint32_t& value) {
  if (text.empty()) return false;
  std::uint32_t v = 0;
  for (const char c : text) {
    const int d = HexDigitValue(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  value = v;
  return true;
}

std::string HexText(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  text.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::string HexDigits(std::uint32_t value, int digits) {
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 0x0F];
  return text;
}

std::string PrintableText(const std::uint8_t* bytes, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i)
    text += bytes[i] >= ' ' && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?';
  return text;
}

std::string CharacterText(char c) {
  if (c == ' ') return "a blank";
  if (c > ' ' && c < 0x7F) return std::string("'") + c + "'";
  return "byte 0x" + HexByte(static_cast<std::uint8_t>(c));
}

std::string EscapedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < ' ' || b == 0x7F) {
      out += "\\x" + HexByte(b);
    } else {
      out += c;
    }
  }
  return out;
}
