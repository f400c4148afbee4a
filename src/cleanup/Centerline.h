#pragma once

// Centre lines of the strokes.
//   Centerline        - the one-pixel skeleton of a mask, spurs cut, ends
//                       extended; throws std::bad_alloc without memory.
//   CenterlineSteps::* - its steps, for the tests of each.

#include "scan/BlackMask.h"

// Centre lines before tracing: every stroke becomes a line one pixel wide
// (8-connected, no pixel that could go without breaking it) along its middle.
// The thinning keeps the shape's topology: connections, crossings, holes and
// line ends stay. Short spurs that ragged stroke edges leave (branches from a
// line end to a junction no longer than the stroke's half width there and two
// pixels) are cut off, and line ends reach the end of their stroke again.
// With threads > 1 the tests of the thinning and the spur search are shared
// over that many threads; the result is the same for every count.
TBlackMask Centerline(const TBlackMask &mask, int threads = 1);

// The steps of Centerline, for the benchmark and the tests.
namespace CenterlineSteps {

// Parallel thinning by two alternating sub-passes (Guo and Hall's conditions),
// 64 pixels at a time, until no pixel goes; pixels whose neighbourhood did not
// change since they were last tested are not tested again.
void Thin(TBlackMask &mask, int threads = 1);
// Removes every pixel that is no line end and whose removal keeps its
// neighbours connected and opens no hole: the corners of staircase steps and
// stubs beside a line, so that a line pixel has exactly two neighbours.
// The words to look at are found first on `threads` threads; the result is
// the same for every count.
void RemoveStaircases(TBlackMask &mask, int threads = 1);
// Cuts off every branch that runs from a line end to a junction within the
// largest distance to paper around the junction (measured on `original`)
// and a pixel.
// True when any went.
bool PruneSpurs(TBlackMask &mask, const TBlackMask &original, int threads = 1);

// Thinning wears line ends down by the stroke's half width: every line end
// is drawn on along the line's direction while the stroke goes on. The ends
// are found on `threads` threads.
void ExtendEnds(TBlackMask &mask, const TBlackMask &original, int threads = 1);

} // namespace CenterlineSteps
