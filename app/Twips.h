// Window geometry is kept in twips, as the window's design gives it; the
// screen works in pixels. The conversion always divides by 15 (15 twips per
// pixel at 96 dpi), whatever the screen's resolution.
#pragma once

namespace pendra::app {

inline constexpr int kTwipsPerPixel = 15;

// twips / 15, rounded to the nearest integer, halves to the even neighbour
// (7.5 twips -> 0 px, 22.5 -> 2, -22.5 -> -2). Twips may be fractional:
// a window's Left and Top are floating-point values.
int TwipsToPixels(double twips);

// The reverse, exact: pixels * 15.
constexpr double PixelsToTwips(int pixels) { return double(pixels) * kTwipsPerPixel; }

}  // namespace pendra::app
