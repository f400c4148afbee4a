#pragma once

// The scale calculator's sum.
//   MagnificationForScale - the magnification of a scan, or nothing for a dpi
//                           of 0 or a result no float holds.

#include <optional>

// The magnification of a drawing scanned at `dpi` from a sheet drawn at 1/`scale`:
// the length one pixel stands for, scale / dpi x 25.4 (the quotient first, the
// inch in extended precision), held as a 32-bit float. Nothing for a dpi of 0 or
// a result no float can hold.
std::optional<float> MagnificationForScale(float scale, float dpi);
