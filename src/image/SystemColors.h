#pragma once

// System colour values.
//   ColorToRGB - a colour as red, green and blue; a system colour resolved.

#include "image/DIBFormat.h"

// A colour with system-colour codes ($80000000 or the index of a system colour)
// resolved to the plain RGB value ($00BBGGRR) the desktop currently uses.
TColor ColorToRGB(TColor colour);
