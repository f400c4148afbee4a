#pragma once

// The eight neighbours of a pixel in a mask.
//   PixelNeighbours::At / Clear / Code / Count / NextAlong / ForEachBlack -
//                  reads and walks of a thin mask; outside the mask is white.

#include "scan/BlackMask.h"

#include <array>
#include <bit>
#include <cstdint>

// The eight neighbours of a pixel as one byte: bit k is neighbour k, counted
// anticlockwise from the right (rows grow downward): 0 right, 1 upper right,
// 2 up, 3 upper left, 4 left, 5 lower left, 6 down, 7 lower right.
namespace PixelNeighbours {

inline constexpr std::array<int, 8> DX{1, 1, 0, -1, -1, -1, 0, 1};
inline constexpr std::array<int, 8> DY{0, -1, -1, -1, 0, 1, 1, 1};

// Pixel (x, y) for -1 <= x <= width, -1 <= y <= height (the guard words and
// lines read as white).
inline bool At(const TBlackMask &mask, int x, int y)
{
    return (mask.Line(y)[x >> 6] >> (x & 63)) & 1;
}

inline void Clear(TBlackMask &mask, int x, int y)
{
    mask.Line(y)[x >> 6] &= ~(std::uint64_t(1) << (x & 63));
}

namespace Detail {

// Pixels x - 1, x, x + 1 of a line as bits 0, 1, 2.
inline unsigned Three(const std::uint64_t *line, int x)
{
    const int b = x & 63, w = x >> 6;
    if (b >= 1 && b <= 62)
        return unsigned(line[w] >> (b - 1)) & 7;
    const std::uint64_t left = (line[(x - 1) >> 6] >> ((x - 1) & 63)) & 1;
    const std::uint64_t mid = (line[w] >> b) & 1;
    const std::uint64_t right = (line[(x + 1) >> 6] >> ((x + 1) & 63)) & 1;
    return unsigned(left | mid << 1 | right << 2);
}

// The neighbour byte of a 3 x 3 block: bits 0-2 the line above (left to
// right), 3-5 the pixel's line, 6-8 the line below.
inline const std::array<std::uint8_t, 512> &BlockCodes()
{
    static const std::array<std::uint8_t, 512> table = [] {
        std::array<std::uint8_t, 512> t{};
        for (unsigned block = 0; block < 512; ++block) {
            unsigned code = 0;
            for (int k = 0; k < 8; ++k) {
                const int bit = 3 * (DY[static_cast<std::size_t>(k)] + 1) + DX[static_cast<std::size_t>(k)] + 1;
                code |= ((block >> bit) & 1) << k;
            }
            t[block] = static_cast<std::uint8_t>(code);
        }
        return t;
    }();
    return table;
}

} // namespace Detail

// The neighbour byte of a pixel inside the mask.
inline unsigned Code(const TBlackMask &mask, int x, int y)
{
    const unsigned block = Detail::Three(mask.Line(y - 1), x) | Detail::Three(mask.Line(y), x) << 3 |
                           Detail::Three(mask.Line(y + 1), x) << 6;
    return Detail::BlockCodes()[block];
}

// How many of the eight neighbours are black.
inline int Count(unsigned code)
{
    static const std::array<std::uint8_t, 256> counts = [] {
        std::array<std::uint8_t, 256> t{};
        for (unsigned c = 0; c < 256; ++c)
            t[c] = static_cast<std::uint8_t>(std::popcount(c));
        return t;
    }();
    return counts[code & 0xFF];
}

// The neighbour of (x, y) in `code` that is not (px, py), first in neighbour
// order, into (nx, ny); false (nothing changed) when there is none.
inline bool NextAlong(unsigned code, int x, int y, int px, int py, int &nx, int &ny)
{
    for (int k = 0; k < 8; ++k) {
        const int cx = x + DX[static_cast<std::size_t>(k)], cy = y + DY[static_cast<std::size_t>(k)];
        if (((code >> k) & 1) && !(cx == px && cy == py)) {
            nx = cx;
            ny = cy;
            return true;
        }
    }
    return false;
}

// The eight neighbours of the 64 pixels of word i of a line, one word each
// (bit b: the neighbour of pixel 64 i + b), from the line above, the line
// itself and the line below.
struct TNeighbourWords
{
    std::uint64_t E, NE, N, NW, W, SW, S, SE;
    TNeighbourWords(const std::uint64_t *up, const std::uint64_t *line, const std::uint64_t *down, int i)
        : E(NextPixels(line, i)), NE(NextPixels(up, i)), N(up[i]), NW(PreviousPixels(up, i)),
          W(PreviousPixels(line, i)), SW(PreviousPixels(down, i)), S(down[i]), SE(NextPixels(down, i))
    {
    }
    // The pixels with at least one, two and three black neighbours.
    void Counts(std::uint64_t &one, std::uint64_t &two, std::uint64_t &three) const
    {
        one = two = three = 0;
        for (const std::uint64_t v : {E, NE, N, NW, W, SW, S, SE}) {
            three |= two & v;
            two |= one & v;
            one |= v;
        }
    }
};

// Calls f(x, y) for every black pixel, line by line, left to right.
template <class F>
void ForEachBlack(const TBlackMask &mask, F &&f)
{
    for (int y = 0; y < mask.Height(); ++y) {
        const std::uint64_t *line = mask.Line(y);
        for (int i = 0; i < mask.Words(); ++i)
            ForEachBit(line[i], 64 * i, [&](int x) {
                f(x, y);
                return true;
            });
    }
}

} // namespace PixelNeighbours
