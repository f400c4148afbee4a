#pragma once

// The eight neighbours of a pixel in a mask.
//   PixelNeighbours::At / Clear / Code / Count / NextAlong / ForEachBlack -
//                  reads and walks of a thin mask; outside the mask is white.
//   PixelNeighbours::TNeighbourWords / TNeighbourPairs / ForEachChosenWord -
//                  the neighbours of a word's pixels (of two words' at once),
//                  a word each, and the words of a line a test picks pixels of.

#include "scan/BlackMask.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

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

// Two words of a line side by side, in one register of the processor's
// vector unit: the bitwise work on a mask done on both at once.
using TWordPair = std::uint64_t __attribute__((vector_size(16)));

// Words i and i + 1 of a line (i + 1 below the line's words: i + 2 and
// i - 1 are at most the guard words).
inline TWordPair PairAt(const std::uint64_t *line, int i)
{
    TWordPair v;
    std::memcpy(&v, line + i, sizeof v);
    return v;
}

// NextPixels and PreviousPixels of words i and i + 1.
inline TWordPair NextPixelPairs(const std::uint64_t *line, int i)
{
    return (PairAt(line, i) >> 1) | (PairAt(line, i + 1) << 63);
}

inline TWordPair PreviousPixelPairs(const std::uint64_t *line, int i)
{
    return (PairAt(line, i) << 1) | (PairAt(line, i - 1) >> 63);
}

// The eight neighbours of the pixels of a word (or of a pair of words), one
// word each: bit b is that neighbour of pixel b.
template <class TWord>
struct TNeighboursOf
{
    TWord E, NE, N, NW, W, SW, S, SE;
    // The pixels with at least one, two and three black neighbours.
    void Counts(TWord &one, TWord &two, TWord &three) const
    {
        one = two = three = TWord{};
        for (const TWord v : {E, NE, N, NW, W, SW, S, SE}) {
            three |= two & v;
            two |= one & v;
            one |= v;
        }
    }
};

// The eight neighbours of the 64 pixels of word i of a line, one word each
// (bit b: the neighbour of pixel 64 i + b), from the line above, the line
// itself and the line below.
struct TNeighbourWords : TNeighboursOf<std::uint64_t>
{
    TNeighbourWords(const std::uint64_t *up, const std::uint64_t *line, const std::uint64_t *down, int i)
        : TNeighboursOf<std::uint64_t>{NextPixels(line, i), NextPixels(up, i), up[i], PreviousPixels(up, i),
                                       PreviousPixels(line, i), PreviousPixels(down, i), down[i],
                                       NextPixels(down, i)}
    {
    }
};

// The same for words i and i + 1 at once (i + 1 below the line's words).
struct TNeighbourPairs : TNeighboursOf<TWordPair>
{
    TNeighbourPairs(const std::uint64_t *up, const std::uint64_t *line, const std::uint64_t *down, int i)
        : TNeighboursOf<TWordPair>{NextPixelPairs(line, i), NextPixelPairs(up, i), PairAt(up, i),
                                   PreviousPixelPairs(up, i), PreviousPixelPairs(line, i),
                                   PreviousPixelPairs(down, i), PairAt(down, i), NextPixelPairs(down, i)}
    {
    }
};

// Calls f(i, bits) for the words i of a line with a black pixel, left to
// right, where bits = choose(n, c), the pixels a test picks of the word c
// from their neighbours n, is not zero. choose takes a TNeighboursOf<W> and a
// W, for W a word and a pair of words: it is asked of two words at once.
template <class Choose, class F>
void ForEachChosenWord(const std::uint64_t *up, const std::uint64_t *line, const std::uint64_t *down, int words,
                       Choose &&choose, F &&f)
{
    int i = 0;
    for (; i + 1 < words; i += 2) {
        if (!(line[i] | line[i + 1]))
            continue;
        const TWordPair bits = choose(TNeighbourPairs(up, line, down, i), PairAt(line, i));
        if (bits[0])
            f(i, std::uint64_t(bits[0]));
        if (bits[1])
            f(i + 1, std::uint64_t(bits[1]));
    }
    if (i < words && line[i])
        if (const std::uint64_t bits = choose(TNeighbourWords(up, line, down, i), line[i]))
            f(i, bits);
}

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
