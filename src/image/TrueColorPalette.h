#pragma once

// A colour table for a true-colour picture, chosen from its pixels.

#include "image/ColourChoice.h"

#include <cstdint>

class TTzDIB;
class TTzInternalDIB;

// Gives a 24-bit picture a colour table of at most 256 entries chosen from its
// pixels; the pixels stay as they are. The colours are chosen by the picture's
// ConvertQuality (0: the histogram method; otherwise the method over all
// pixels). The storage is made unshared first; progress is announced with the
// text "Create True Color Palette" and 256 steps, and the picture's Changed
// follows. Another format raises ETzDIBBadDIBType
// "TTzInternalDIB.CreateTrueColorPalette: Bad DIB Type" and leaves it as it was.
void CreateTrueColorPalette(TTzDIB &dib);

// The same on the storage itself: writes the chosen colours as the colour table,
// sets the palette size to their count and drops the cached palette.
void CreateTrueColorPalette(TTzInternalDIB &storage, std::uint8_t convertQuality, const TProgressStepFn &step);
