// The colours of texts: blue for information, red for warnings and errors, green for success.
#pragma once

#include <cstdint>

struct TColor {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const TColor&, const TColor&) = default;
};
inline constexpr TColor clBlack{0, 0, 0};
inline constexpr TColor clBlue{0, 0, 255};
inline constexpr TColor clRed{255, 0, 0};
inline constexpr TColor clGreen{0, 128, 0};
inline constexpr TColor clWhite{255, 255, 255};
