#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

class TTzDIB;

// Which pixels of a picture are black, one bit per pixel, packed into 64-bit
// words: bit b of word i of line y is pixel x = 64 i + b of row y. The tracers
// read the picture through it, 64 pixels at a time.
//
// Every line has a zero word before its first and after its last word, and the
// mask has an all-white line above line 0 and below the last line, so the
// neighbours of any pixel can be read without a bounds test: outside the
// picture is white. Bits beyond the width are always 0.
class TBlackMask
{
public:
    TBlackMask() = default;
    // All white.
    TBlackMask(int width, int height);

    // Black means colour exactly 0: the palette entry of the pixel's index for
    // pictures of 8 bits or fewer, the pixel's own colour for 24 bits.
    // Run-length encoded pictures are expanded first.
    static TBlackMask FromImage(const TTzDIB &image);

    // Columns become lines: pixel (x, y) of this mask is pixel (y, x) of the result.
    TBlackMask Transposed() const;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Words of one line (without the guard words).
    int Words() const { return FWords; }

    // Line y, for y = -1 ... Height() (-1 and Height() are the white guard
    // lines). Words -1 and Words() are readable zeros.
    const std::uint64_t *Line(int y) const
    {
        return FData.data() + static_cast<std::ptrdiff_t>(y + 1) * FStride + 1;
    }
    std::uint64_t *Line(int y)
    {
        return FData.data() + static_cast<std::ptrdiff_t>(y + 1) * FStride + 1;
    }

    bool Black(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
            return false;
        return (Line(y)[x >> 6] >> (x & 63)) & 1;
    }
    void SetBlack(int x, int y) { Line(y)[x >> 6] |= std::uint64_t(1) << (x & 63); }

    // True when no pixel is black.
    bool AllWhite() const;

private:
    int FWidth = 0;
    int FHeight = 0;
    int FWords = 0;
    std::ptrdiff_t FStride = 0;
    std::vector<std::uint64_t> FData;
};

// Bit x of the result is pixel x + 1 of the line (the next pixel to the right).
inline std::uint64_t NextPixels(const std::uint64_t *line, int word)
{
    return (line[word] >> 1) | (line[word + 1] << 63);
}

// Bit x of the result is pixel x - 1 of the line (the pixel to the left).
inline std::uint64_t PreviousPixels(const std::uint64_t *line, int word)
{
    return (line[word] << 1) | (line[word - 1] >> 63);
}

// Calls f(x) for every set bit of `bits`, lowest first; x = base + bit number.
// Stops and returns false as soon as f returns false.
template <class F>
inline bool ForEachBit(std::uint64_t bits, int base, F &&f)
{
    while (bits) {
        const int bit = std::countr_zero(bits);
        bits &= bits - 1;
        if (!f(base + bit))
            return false;
    }
    return true;
}
