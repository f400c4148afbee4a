#pragma once

// Segments merged into longer lines.
//   MergeSegments / MergeCentreLines - the merged list; the input unchanged for
//                  a tolerance of 0 or less; throw std::bad_alloc without memory.

#include "scan/BlackMask.h"
#include "scan/ScanState.h"

#include <functional>
#include <span>
#include <vector>

// After tracing: segments that continue each other are chained, and each chain
// becomes the fewest straight segments (Douglas-Peucker) that stay within
// `tolerance` pixels of it. Chains end where they meet other chains, and those
// meeting points stay. The segments are laid on the pixel grid first, so
// segments that touch or follow one another one pixel apart (a staircase, the
// two sides of a stroke two pixels thick) form one line. Coordinates stay
// whole numbers in the segments' own units. A tolerance of 0 or less changes
// nothing.
std::vector<TSegment> MergeSegments(std::span<const TSegment> segments, double tolerance);

// The same for centre lines, with the strokes they were thinned from (mask
// row = strokes' height - Y): each merged line then moves onto the middle of
// its stroke, a segment's line fitted through the middles of the stroke's
// cross sections, and its points go where the fitted lines meet (points that
// chains share stay shared). Coordinates are then eighths of a pixel, so a
// centre line lies between two pixel rows where the stroke is an even number
// of pixels wide, and a level stroke gives an exactly level line. Points stay
// within the picture. The work is shared over `threads`; the result is the
// same for every count.
std::vector<TSegment> MergeCentreLines(std::span<const TSegment> segments, double tolerance,
                                       const TBlackMask &strokes, int threads = 1);
// The same with the strokes asked for only when they are read, after
// `segmentsRead` (when given) was called as soon as the segments were no
// longer read: the memory of each can go before the next step needs more.
// Each is called at most once. With `segmentsRead` given, the caller reads the
// segments no more: their pages may be given back as they are taken in.
std::vector<TSegment> MergeCentreLines(std::span<const TSegment> segments, double tolerance,
                                       const std::function<const TBlackMask &()> &strokes, int threads,
                                       const std::function<void()> &segmentsRead = {});
