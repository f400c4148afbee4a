#include "cleanup/Threshold.h"

#include "image/PictureRows.h"
#include "image/TzDIB.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <functional>
#include <vector>
#include <memory>

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

// Counts the pixels of one stored row: luminances (24 bits) or palette indices.
void CountRow(const std::uint8_t *row, int width, int bits, TLuminanceHistogram &histogram,
              std::array<std::uint64_t, 256> &indices)
{
    if (bits == 24) {
        for (int x = 0; x < width; ++x)
            ++histogram[static_cast<std::size_t>(Luminance24(row + 3 * x))];
    } else if (bits == 8) {
        for (int x = 0; x < width; ++x)
            ++indices[row[x]];
    } else {
        for (int x = 0; x < width; ++x)
            ++indices[static_cast<std::size_t>(IndexAt(row, x, bits))];
    }
}

void AddIndices(TLuminanceHistogram &histogram, const std::array<std::uint64_t, 256> &indices, int bits,
                const std::function<TColor(int)> &colour)
{
    if (bits == 24)
        return;
    for (int i = 0; i < (1 << bits); ++i)
        histogram[static_cast<std::size_t>(Luminance(colour(i)))] += indices[static_cast<std::size_t>(i)];
}

// The ink of one stored row into a mask line.
void InkRow(const std::uint8_t *row, int width, int bits, int level, const std::array<bool, 256> &ink,
            std::uint64_t *line, int words)
{
    // Which of the 64 pixels from x = 64 i on are ink.
    for (int i = 0; i < words; ++i) {
        const int first = 64 * i, last = std::min(first + 64, width);
        std::uint64_t word = 0;
        if (bits == 24) {
            const int limit = 1000 * level;
            for (int x = first; x < last; ++x) {
                const std::uint8_t *p = row + 3 * x;
                word |= std::uint64_t(299 * p[2] + 587 * p[1] + 114 * p[0] + 500 < limit) << (x - first);
            }
        } else if (bits == 8) {
            for (int x = first; x < last; ++x)
                word |= std::uint64_t(ink[row[x]]) << (x - first);
        } else {
            for (int x = first; x < last; ++x)
                word |= std::uint64_t(ink[static_cast<std::size_t>(IndexAt(row, x, bits))]) << (x - first);
        }
        line[i] = word;
    }
}

std::array<bool, 256> InkIndices(int bits, int level, const std::function<TColor(int)> &colour)
{
    std::array<bool, 256> ink{};
    if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i)
            ink[static_cast<std::size_t>(i)] = Luminance(colour(i)) < level;
    return ink;
}

// Every band of rows of a picture read a band at a time, in file order: f(row, mask line y).
template <class F>
void ForEachRow(TPictureRows &rows, F &&f)
{
    const std::int64_t rowSize = rows.RowSize();
    const int height = rows.Height();
    const int band = static_cast<int>(std::clamp<std::int64_t>((std::int64_t(1) << 20) / rowSize, 1, std::max(height, 1)));
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(rowSize * band));
    for (int first = 0; first < height; first += band) {
        const int count = std::min(band, height - first);
        rows.Read(buffer.data(), count);
        for (int r = 0; r < count; ++r) {
            const int fileRow = first + r;
            f(buffer.data() + rowSize * r, rows.TopDown() ? fileRow : height - 1 - fileRow);
        }
    }
}

} // namespace

TLuminanceHistogram LuminanceHistogram(const TTzDIB &source)
{
    const TTzDIB image = Uncompressed(source);
    TLuminanceHistogram histogram{};
    std::array<std::uint64_t, 256> indices{};
    const int width = image.Width(), height = image.Height(), bits = image.BitCount();
    for (int y = 0; y < height; ++y)
        CountRow(image.ScanLine(y), width, bits, histogram, indices);
    AddIndices(histogram, indices, bits, [&](int i) { return image.Colors(i); });
    return histogram;
}

TLuminanceHistogram LuminanceHistogram(TPictureRows &rows)
{
    TLuminanceHistogram histogram{};
    std::array<std::uint64_t, 256> indices{};
    ForEachRow(rows, [&](const std::uint8_t *row, int) { CountRow(row, rows.Width(), rows.BitCount(), histogram, indices); });
    AddIndices(histogram, indices, rows.BitCount(), [&](int i) { return rows.Color(i); });
    return histogram;
}

TBlackMask ThresholdMask(const TTzDIB &source, int level)
{
    const TTzDIB image = Uncompressed(source);
    const int width = image.Width(), height = image.Height(), bits = image.BitCount();
    TBlackMask mask(width, height);
    if (level <= 0)
        return mask;
    const std::array<bool, 256> ink = InkIndices(bits, level, [&](int i) { return image.Colors(i); });
    for (int y = 0; y < height; ++y)
        InkRow(image.ScanLine(y), width, bits, level, ink, mask.Line(y), mask.Words());
    return mask;
}

TBlackMask ThresholdMask(TPictureRows &rows, int level)
{
    TBlackMask mask(rows.Width(), rows.Height());
    if (level <= 0)
        return mask;
    const std::array<bool, 256> ink = InkIndices(rows.BitCount(), level, [&](int i) { return rows.Color(i); });
    ForEachRow(rows, [&](const std::uint8_t *row, int y) {
        InkRow(row, rows.Width(), rows.BitCount(), level, ink, mask.Line(y), mask.Words());
    });
    return mask;
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
