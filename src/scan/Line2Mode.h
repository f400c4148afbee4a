#pragma once

class TBlackMask;
class TProgressPort;

// Line 2 mode's work image: the end pixels of every horizontal and vertical
// black run of `source` (the one-pixel border of a solid area, a thin stroke
// itself), which line mode then traces. W + H progress steps; the port is
// not asked for a cancel here. Throws std::bad_alloc when the work image
// cannot be had.
TBlackMask RunEnds(const TBlackMask &source, TProgressPort &progress);
