// The maker's logo drawn with GDI: the mark (a disc crossed by a tilted orbit) and the name.
#pragma once

#include <windows.h>

inline constexpr int kLogoWidth = 299;
inline constexpr int kLogoHeight = 68;

// Draws the logo with its top left corner at (x, y), scaled from 96 dots per inch to `dpi`.
void DrawLogo(HDC dc, int x, int y, int dpi);
