#pragma once

// The skew of a sheet.
//   FindSkew - the angle of its lines from the axes, degrees counter-clockwise;
//              nothing when none is found with confidence.

#include "scan/BlackMask.h"

#include <optional>

// The skew of the sheet, from its ink: the angle, degrees counter-clockwise
// (Y upward), by which its lines are turned from the axes; nothing when the
// search finds no angle with confidence. Leptonica's sweep and binary search
// over +-7 degrees, to a hundredth of a degree.
std::optional<double> FindSkew(const TBlackMask &ink);
