#include "cleanup/Threshold.h"

#include "image/PictureRows.h"
#include "image/TzDIB.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace {

int Luminance(TColor colour)
{
    const int r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

// Stored pixels of picture row y: bytes blue, green, red for 24 bits.
int Luminance24(const std::uint8_t *p)
{
    return (299 * p[2] + 587 * p[1] + 114 * p[0] + 500) / 1000;
}

// The picture with run-length encoded rows expanded (shared when it has none).
TTzDIB Uncompressed(const TTzDIB &source)
{
    TTzDIB image = source;
    if (source.PixelFormat() == tzPf4BitRLE)
        image.SetPixelFormat(tzPf4Bit);
    else if (source.PixelFormat() == tzPf8BitRLE)
        image.SetPixelFormat(tzPf8Bit);
    return image;
}

// Palette index of pixel x in a stored row of 1, 4 or 8 bits.
int IndexAt(const std::uint8_t *row, int x, int bits)
{
    switch (bits) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    default:
        return row[x];
    }
}

} // namespace

namespace {

// Counts of one stored row: luminances for 24 bits, palette indices else.
void CountRow(const std::uint8_t *row, int width, int bits, std::array<std::uint64_t, 256> &counts)
{
    if (bits == 24) {
        for (int x = 0; x < width; ++x)
            ++counts[static_cast<std::size_t>(Luminance24(row + 3 * x))];
    } else if (bits == 8) {
        for (int x = 0; x < width; ++x)
            ++counts[row[x]];
    } else {
        for (int x = 0; x < width; ++x)
            ++counts[static_cast<std::size_t>(IndexAt(row, x, bits))];
    }
}

// The set bits of a word, in a few operations where the build has no
// instruction for it (std::popcount then calls the library).
int Ones(std::uint64_t x)
{
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((x * 0x0101010101010101u) >> 56);
}

// The same counts; 1-bit rows eight bytes at a time.
void CountRowFast(const std::uint8_t *row, int width, int bits, std::array<std::uint64_t, 256> &counts)
{
    if (bits != 1) {
        CountRow(row, width, bits, counts);
        return;
    }
    std::uint64_t ones = 0;
    const int whole = width / 8;
    int i = 0;
    for (; i + 8 <= whole; i += 8) {
        std::uint64_t eight = 0;
        std::memcpy(&eight, row + i, 8);
        ones += static_cast<std::uint64_t>(Ones(eight));
    }
    for (; i < whole; ++i)
        ones += static_cast<std::uint64_t>(std::popcount(row[i]));
    if (width & 7)
        ones += static_cast<std::uint64_t>(std::popcount(static_cast<std::uint8_t>(row[whole] & (0xFF00 >> (width & 7)))));
    counts[1] += ones;
    counts[0] += static_cast<std::uint64_t>(width) - ones;
}

// The histogram of the counts of CountRow.
template <class Colour>
TLuminanceHistogram HistogramOf(const std::array<std::uint64_t, 256> &counts, int bits, Colour colour)
{
    if (bits == 24)
        return counts;
    TLuminanceHistogram histogram{};
    for (int i = 0; i < (1 << bits); ++i)
        histogram[static_cast<std::size_t>(Luminance(colour(i)))] += counts[static_cast<std::size_t>(i)];
    return histogram;
}

} // namespace

TLuminanceHistogram LuminanceHistogram(const TTzDIB &source)
{
    const TTzDIB image = Uncompressed(source);
    std::array<std::uint64_t, 256> counts{};
    const int width = image.Width(), height = image.Height(), bits = image.BitCount();
    for (int y = 0; y < height; ++y)
        CountRow(image.ScanLine(y), width, bits, counts);
    return HistogramOf(counts, bits, [&](int i) { return image.Colors(i); });
}

TLuminanceHistogram LuminanceHistogram(TPictureRows &rows, int threads, std::int64_t bandBytes)
{
    const int width = rows.Width(), bits = rows.BitCount();
    const std::int64_t rowSize = rows.RowSize();
    std::vector<std::array<std::uint64_t, 256>> counts(static_cast<std::size_t>(BandWorkers(rows, threads, bandBytes)));
    ForEachBand(rows, threads, bandBytes, [&](const std::uint8_t *data, int, int count, int worker) {
        std::array<std::uint64_t, 256> &mine = counts[static_cast<std::size_t>(worker)];
        for (int r = 0; r < count; ++r)
            CountRowFast(data + rowSize * r, width, bits, mine);
    });
    std::array<std::uint64_t, 256> total{};
    for (const auto &c : counts)
        for (std::size_t i = 0; i < 256; ++i)
            total[i] += c[i];
    return HistogramOf(total, bits, [&](int i) { return rows.Color(i); });
}

TThresholdRow::TThresholdRow(int bitCount, int width, const TColor *colours, int level)
    : BitCount(bitCount), Width(width), Words((width + 63) / 64), Limit(1000 * level)
{
    if (bitCount <= 8) {
        for (int i = 0; i < (1 << bitCount); ++i)
            Ink[static_cast<std::size_t>(i)] = Luminance(colours[i]) < level;
    }
}

void TThresholdRow::operator()(const std::uint8_t *row, std::uint64_t *line) const
{
    // Which of the 64 pixels from x = 64 i on are ink.
    for (int i = 0; i < Words; ++i) {
        const int first = 64 * i, last = std::min(first + 64, Width);
        std::uint64_t word = 0;
        if (BitCount == 24) {
            for (int x = first; x < last; ++x) {
                const std::uint8_t *p = row + 3 * x;
                word |= std::uint64_t(299 * p[2] + 587 * p[1] + 114 * p[0] + 500 < Limit) << (x - first);
            }
        } else if (BitCount == 8) {
            for (int x = first; x < last; ++x)
                word |= std::uint64_t(Ink[row[x]]) << (x - first);
        } else {
            for (int x = first; x < last; ++x)
                word |= std::uint64_t(Ink[static_cast<std::size_t>(IndexAt(row, x, BitCount))]) << (x - first);
        }
        line[i] = word;
    }
}

TBlackMask ThresholdMask(const TTzDIB &source, int level)
{
    const TTzDIB image = Uncompressed(source);
    const int width = image.Width(), height = image.Height(), bits = image.BitCount();
    TBlackMask mask(width, height);
    if (level <= 0)
        return mask;
    TColor colours[256] = {};
    if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i)
            colours[i] = image.Colors(i);
    const TThresholdRow convert(bits, width, colours, level);
    for (int y = 0; y < height; ++y)
        convert(image.ScanLine(y), mask.Line(y));
    return mask;
}

TBlackMask ThresholdMask(TPictureRows &rows, int level, int threads, std::int64_t bandBytes)
{
    TColor colours[256] = {};
    if (rows.BitCount() <= 8)
        for (int i = 0; i < 256; ++i)
            colours[i] = rows.Color(i);
    if (rows.BitCount() <= 8) {
        // A palette's ink is a table of entries: the exact-black conversion
        // with the ink entries as its black ones.
        TColor ink[256];
        for (int i = 0; i < 256; ++i)
            ink[i] = level > 0 && i < (1 << rows.BitCount()) && Luminance(colours[i]) < level ? 0 : 0xFFFFFF;
        const TRowToMask convert(rows.BitCount(), rows.Width(), ink);
        return TBlackMask::FromRows(
            rows, [&convert](const std::uint8_t *row, std::uint64_t *line) { convert(row, line); }, threads, bandBytes);
    }
    const TThresholdRow convert(rows.BitCount(), rows.Width(), colours, std::max(level, 0));
    return TBlackMask::FromRows(
        rows, [&convert](const std::uint8_t *row, std::uint64_t *line) { convert(row, line); }, threads, bandBytes);
}

int OtsuLevel(const TLuminanceHistogram &histogram)
{
    int darkest = 256, brightest = -1;
    for (int i = 0; i < 256; ++i) {
        if (histogram[static_cast<std::size_t>(i)]) {
            darkest = std::min(darkest, i);
            brightest = i;
        }
    }
    if (darkest >= brightest)
        return 1;
    // The split itself is Leptonica's: with a score fraction of 0 it is the
    // plain Otsu maximum of the between-class variance.
    std::unique_ptr<NUMA, void (*)(NUMA *)> numa(numaCreate(256), [](NUMA *n) { numaDestroy(&n); });
    for (std::uint64_t count : histogram)
        numaAddNumber(numa.get(), static_cast<l_float32>(count));
    l_int32 split = 0;
    if (numaSplitDistribution(numa.get(), 0.0f, &split, nullptr, nullptr, nullptr, nullptr, nullptr) != 0)
        return 1;
    // Luminances 0 .. split are the darker class.
    double sums[2] = {0, 0}, counts[2] = {0, 0};
    for (int i = 0; i < 256; ++i) {
        const int side = i <= split ? 0 : 1;
        sums[side] += double(i) * double(histogram[static_cast<std::size_t>(i)]);
        counts[side] += double(histogram[static_cast<std::size_t>(i)]);
    }
    if (counts[0] > 0 && counts[1] > 0 && sums[1] / counts[1] - sums[0] / counts[0] < kLeastInkContrast)
        return 0;
    return std::clamp(split + 1, 1, 256);
}
