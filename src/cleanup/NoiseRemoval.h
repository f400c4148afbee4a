#pragma once

// Speck removal.
//   Despeckle - the mask without small specks and holes; unchanged for 0 or
//               less; throws std::bad_alloc without memory.

#include "scan/BlackMask.h"

// Speck removal before tracing: every black speck (8-connected) of at most
// `maxPixels` pixels becomes white, then every white hole (4-connected, not
// reaching the picture's edge) of at most `maxPixels` pixels becomes black.
// 0 or less changes nothing.
TBlackMask Despeckle(TBlackMask mask, int maxPixels);
