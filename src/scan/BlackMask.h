#pragma once

// The black pixels of a picture, the tracers' only input.
//   TBlackMask::FromImage / FromRows - the mask of a picture held whole or
//                                      read in bands (throws what reading
//                                      throws, bad_alloc without memory).
//   ForEachBand - a picture's rows in bands, on the -j threads.
//   TRowToMask  - one row of pixels to mask bits.

#include "image/DIBFormat.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TPictureRows;
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
    // All white. Throws std::bad_alloc when the memory cannot be had.
    TBlackMask(int width, int height);
    // The same for a mask that will hold little ink here and there (fills,
    // marks): its memory is taken in small pages as they are written, not
    // in large ones, each of which takes in a thousand lines around a pixel.
    static TBlackMask Sparse(int width, int height);
    TBlackMask(const TBlackMask &other);
    TBlackMask &operator=(const TBlackMask &other);
    TBlackMask(TBlackMask &&) noexcept = default;
    TBlackMask &operator=(TBlackMask &&) noexcept = default;

    // Black means colour exactly 0: the palette entry of the pixel's index for
    // pictures of 8 bits or fewer, the pixel's own colour for 24 bits.
    // Run-length encoded pictures are expanded first.
    static TBlackMask FromImage(const TTzDIB &image);
    // The same from a picture read a band of rows at a time, so that the whole
    // picture is never held; with threads > 1, bands are turned into mask
    // lines on other threads while the next band is read. Passes on what
    // reading the rows throws. bandBytes: the size of a band (0: about 1 MB;
    // at least one row).
    static TBlackMask FromRows(TPictureRows &rows, int threads = 1, std::int64_t bandBytes = 0);
    // The same with another rule for which pixels are ink: `convert` writes
    // every word of a mask line from a stored row (bits beyond the width 0);
    // it is called from several threads at once when threads > 1.
    using TRowConvert = std::function<void(const std::uint8_t *row, std::uint64_t *line)>;
    static TBlackMask FromRows(TPictureRows &rows, const TRowConvert &convert, int threads = 1,
                               std::int64_t bandBytes = 0);

    // Column x as a line: bit y of the result is pixel (x, y); (Height() + 63)
    // / 64 words, all zero for a column outside the picture.
    std::vector<std::uint64_t> Column(int x) const;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Words of one line (without the guard words).
    int Words() const { return FWords; }

    // Line y, for y = -1 ... Height() (-1 and Height() are the white guard
    // lines). Words -1 and Words() are readable zeros.
    const std::uint64_t *Line(int y) const
    {
        return FData.get() + static_cast<std::ptrdiff_t>(y + 1) * FStride + 1;
    }
    std::uint64_t *Line(int y)
    {
        return FData.get() + static_cast<std::ptrdiff_t>(y + 1) * FStride + 1;
    }

    bool Black(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
            return false;
        return (Line(y)[x >> 6] >> (x & 63)) & 1;
    }
    void SetBlack(int x, int y) { Line(y)[x >> 6] |= std::uint64_t(1) << (x & 63); }

    // Gives back the memory of lines first .. end - 1 where the system can
    // (the whole pages within them): for a mask read once, line by line, and
    // then dropped. Those lines are not to be read again.
    void DiscardLines(int first, int end);

private:
    struct TFree
    {
        void operator()(std::uint64_t *words) const;
    };
    std::size_t StorageWords() const;

    int FWidth = 0;
    int FHeight = 0;
    int FWords = 0;
    std::ptrdiff_t FStride = 0;
    std::unique_ptr<std::uint64_t, TFree> FData;
};

// Reads every band of rows (about bandBytes each; 0: about 1 MB; at least
// one row) and hands it to work(data, first, count, worker): `count` stored
// rows, RowSize() bytes apart, the first of them file row `first`. With
// threads > 1 the bands go to a pool of threads (the calling thread among
// them) while the next one is read, each thread with its own worker number
// 0 .. BandWorkers() - 1; else all go to worker 0 on the calling thread.
// Passes on what reading throws.
using TBandWork = std::function<void(const std::uint8_t *data, int first, int count, int worker)>;
void ForEachBand(TPictureRows &rows, int threads, std::int64_t bandBytes, const TBandWork &work);
// How many worker numbers ForEachBand uses for these arguments.
int BandWorkers(const TPictureRows &rows, int threads, std::int64_t bandBytes);

// Turns stored rows of a picture (1, 4, 8 or 24 bits, uncompressed, as a
// TTzDIB holds them) into lines of its black mask.
class TRowToMask
{
public:
    // colours: the 256 colour-table entries as TTzDIB::Colors reads them
    // (unused for 24 bits).
    TRowToMask(int bitCount, int width, const TColor *colours);
    // Writes every word of `line` (bits beyond the width 0). Reads no byte of
    // `row` beyond the pixels of the width.
    void operator()(const std::uint8_t *row, std::uint64_t *line) const;

private:
    int BitCount;
    int Width;
    std::uint8_t Byte1[256] = {};   // 1 bit: a stored byte -> eight mask bits
    std::uint8_t Pair4[256] = {};   // 4 bits: a stored byte -> two mask bits
    bool Black8[256] = {};          // 8 bits: an index -> black
};

// The 24-bit row conversion without the vector instructions, which the fast
// one must always agree with.
void BlackLine24Plain(const std::uint8_t *row, int width, std::uint64_t *line);

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
