#pragma once

// Line 2 mode's work image.
//   RunEnds / RunEndsInPlace - the end pixels of every black run, in a new
//                  mask or in place; throw std::bad_alloc without memory.

class TBlackMask;
class TProgressPort;

// Line 2 mode's work image: the end pixels of every horizontal and vertical
// black run of `source` (the one-pixel border of a solid area, a thin stroke
// itself), which line mode then traces. W + H progress steps; the port is
// not asked for a cancel here. Throws std::bad_alloc when the work image
// cannot be had. With threads > 1 the rows are shared out among that many
// threads; the work image is the same.
TBlackMask RunEnds(const TBlackMask &source, TProgressPort &progress, int threads = 1);
// The same work image made in the place of `mask` (for a picture that is not
// kept), without a second mask's memory. The same progress steps.
void RunEndsInPlace(TBlackMask &mask, TProgressPort &progress, int threads = 1);
