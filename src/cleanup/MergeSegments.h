#pragma once

#include "scan/ScanState.h"

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
