#pragma once

// Dashed and chain lines.
//   FindLineTypes - pieces in a regular pattern of dashes joined into one
//                   line, arc or circle with a line type; throws
//                   std::bad_alloc without memory.
//   SnapPatternedLines - patterned lines near an axis made exactly
//                   horizontal or vertical.

#include "cleanup/PackedMask.h"
#include "drawing/Drawing.h"
#include "scan/BlackMask.h"

#include <functional>

// Pieces of a drawing that lie on one straight line or one circle in a regular
// pattern of dashes and gaps (dashed, dash-dot, dash-dot-dot, dotted) become
// one line, arc or circle with a line type; the pattern's lengths are
// measured from the ink. `ink` is the mask the drawing was traced from (row r
// is Y = height - r): dash ends are read from it, and its small specks near
// such a line give the dots that thinning lost. Irregular pieces stay as
// they are. The line types are named DASHED, CENTER, PHANTOM and DOT, with a
// number after the name when several patterns of a kind are found.
// The search is shared over `threads` threads; the drawing is the same for
// every count. `stop`, asked between the rounds of the search, cuts it short
// once true (the drawing is then to be dropped).
void FindLineTypes(TDrawing &drawing, const TBlackMask &ink, double tolerance, int threads = 1,
                   const std::function<bool()> &stop = {});
// The same on the ink packed, its pixels read where they lie (the whole ink
// never stands unpacked); the same drawing.
void FindLineTypes(TDrawing &drawing, const TPackedMask &ink, double tolerance, int threads = 1,
                   const std::function<bool()> &stop = {});

// Patterned lines within `degrees` of an axis become exactly horizontal or
// vertical about their middle, as the drawing's other lines do when snapped:
// a line fitted through the dashes of a scan keeps the noise of their ends.
void SnapPatternedLines(TDrawing &drawing, double degrees);
