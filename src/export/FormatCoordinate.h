#pragma once

// Coordinates as the coordinate text writes them.
//   FormatCoordinate / FormatCoordinateTo - the text of a value in a mode and a
//                     number of digits; never fail.

#include "base/GeneralFormat.h"

#include <QString>

// How the writers print a drawing coordinate.
//   mode 1: truncated toward zero, a whole number;
//   mode 3: fixed notation with `digits` decimals, an exact half rounded away from zero;
//   any other mode: the general format (15 significant digits, see GeneralFormat.h).
// The 32-bit value is widened exactly, so 12.4f prints 12.3999996185303 in the
// general format. The decimal separator is always the full stop.
QString FormatCoordinate(float value, int mode, int digits);

// The room FormatCoordinateTo may fill.
constexpr int kCoordinateTextCapacity = kGeneralTextCapacity;
// Mode 3 prints at most this many decimals; a larger stored digit count is cut
// to it and a negative one counts as 0.
constexpr int kMostFixedDigits = 40;

// The same text, written as ASCII to out (kCoordinateTextCapacity bytes) without
// any allocation; returns its length. For the writers' inner loops.
int FormatCoordinateTo(char *out, float value, int mode, int digits);
