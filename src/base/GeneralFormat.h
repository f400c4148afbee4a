#pragma once

// Full-precision numbers as the program writes them.
//   FormatGeneralTo - the text into a caller's buffer, its length; no allocation.
//   FormatGeneral   - the same as text. Neither fails (NAN and INF are text too).

#include <QString>

// The general number format of every full-precision value the program writes
// (DXF extents, JW_CAD clipboard text, stored ratios, general coordinates): the
// exact value rounded to 15 significant digits (an exact tie away from zero),
// trailing zeros dropped, no thousands separators; scientific ("1E-5",
// "1.5E20") for non-zero magnitudes below 0.0001 or with more than 15 integer
// digits; "NAN", "INF" and "-INF" for what is not a number. The decimal
// separator is always the full stop.

// The room FormatGeneralTo may fill.
constexpr int kGeneralTextCapacity = 96;

// The text, as ASCII, in out (kGeneralTextCapacity bytes) without any
// allocation; returns its length. Values within 6.1E-5 .. 1.1E15 take an exact
// integer path, the rest the decimal expansion of the C library.
int FormatGeneralTo(char *out, long double value);
// The same for a 32-bit value (exact in the wider type), on a faster path.
int FormatGeneralTo(char *out, float value);
QString FormatGeneral(long double value);

// The decimal expansion path alone, which the fast path must always agree with.
int FormatGeneralByExpansion(char *out, long double value);
