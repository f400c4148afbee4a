#pragma once

#include "scan/BlackMask.h"

#include <array>
#include <cstdint>

class TPictureRows;
class TTzDIB;

// Grey and colour scans: ink is every pixel darker than a level.
//
// A pixel's brightness is its luminance, (299 R + 587 G + 114 B + 500) / 1000,
// 0 black .. 255 white; pictures of 8 bits or fewer take the colour of their
// palette entry. A TTzDIB holds no transparency: a caller with a transparent
// picture composites it over white first, so that transparent pixels are paper.

// How many pixels of each luminance the picture holds.
using TLuminanceHistogram = std::array<std::uint64_t, 256>;
TLuminanceHistogram LuminanceHistogram(const TTzDIB &image);
// The same of a picture read a band of rows at a time (all its rows).
TLuminanceHistogram LuminanceHistogram(TPictureRows &rows);

// Ink is luminance < level (0 .. 256; 0 gives no ink at all, 1 exact black only).
TBlackMask ThresholdMask(const TTzDIB &image, int level);
// The same of a picture read a band of rows at a time (all its rows).
TBlackMask ThresholdMask(TPictureRows &rows, int level);

// The global level that best separates ink from paper (Otsu's criterion), for
// ThresholdMask: 0 .. 256. A picture of a single luminance gives 1, so that only
// exact black is ink. A picture with no two classes to separate - the means of
// the two sides of the best split less than kLeastInkContrast levels apart, as
// in blank paper and its noise - gives 0: no ink.
constexpr double kLeastInkContrast = 32;
int OtsuLevel(const TLuminanceHistogram &histogram);

