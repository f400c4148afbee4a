#pragma once

#include "image/DIBFormat.h"

// A colour with system-colour codes ($80000000 or the index of a system colour)
// resolved to the plain RGB value ($00BBGGRR) the desktop currently uses.
TColor ColorToRGB(TColor colour);
