#pragma once

// A thin mask as chains of pixels.
//   PixelChains / ForEachPixelChain / ForEachPixelChainInParts - each chain from
//                  end or junction to end or junction; throw std::bad_alloc
//                  without memory.

#include "scan/BlackMask.h"

#include <cstddef>
#include <functional>
#include <vector>

struct TPixel
{
    int X;
    int Y;
    bool operator==(const TPixel &) const = default;
};

// The lines of a mask one pixel wide, as chains of neighbouring pixels.
//
// A chain runs from a line end or junction to the next one; neighbouring
// junction pixels count as one junction, whose chains all start or end at the
// same pixel (the one nearest the junction's middle), so that chains meet
// exactly. A closed line without junctions is one chain that ends where it
// starts (at its first pixel in line order). Every line pixel lies on one
// chain; a pixel without neighbours lies on none.
std::vector<std::vector<TPixel>> PixelChains(const TBlackMask &mask);
// The same chains one at a time, in the same order, without holding them all.
void ForEachPixelChain(const TBlackMask &mask, const std::function<void(const std::vector<TPixel> &chain)> &f);
// The same chains traced on up to `threads` threads: f(part, worker, chain)
// for each, parts 0 .. PixelChainParts - 1 (as many for every mask of the
// same height and thread count). The chains of a part come in order, and
// those of part p before those of part p + 1; worker as in TTaskPool.
using TPartChainTaker = std::function<void(std::size_t part, int worker, const std::vector<TPixel> &chain)>;
std::size_t PixelChainParts(const TBlackMask &mask, int threads);
void ForEachPixelChainInParts(const TBlackMask &mask, int threads, const TPartChainTaker &f);
