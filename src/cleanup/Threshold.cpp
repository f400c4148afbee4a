#include "cleanup/Threshold.h"

#include "image/TzDIB.h"

#include <leptonica/allheaders.h>

#include <algorithm>
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

} // namespace

TLuminanceHistogram LuminanceHistogram(const TTzDIB &source)
{
    const TTzDIB image = Uncompressed(source);
    TLuminanceHistogram histogram{};
    const int width = image.Width(), height = image.Height(), bits = image.BitCount();
    if (bits == 24) {
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *row = image.ScanLine(y);
            for (int x = 0; x < width; ++x)
                ++histogram[static_cast<std::size_t>(Luminance24(row + 3 * x))];
        }
        return histogram;
    }
    std::array<std::uint64_t, 256> indices{};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *row = image.ScanLine(y);
        if (bits == 8) {
            for (int x = 0; x < width; ++x)
                ++indices[row[x]];
        } else {
            for (int x = 0; x < width; ++x)
                ++indices[static_cast<std::size_t>(IndexAt(row, x, bits))];
        }
    }
    for (int i = 0; i < (1 << bits); ++i)
        histogram[static_cast<std::size_t>(Luminance(image.Colors(i)))] += indices[static_cast<std::size_t>(i)];
    return histogram;
}

TBlackMask ThresholdMask(const TTzDIB &source, int level)
{
    const TTzDIB image = Uncompressed(source);
    const int width = image.Width(), height = image.Height(), bits = image.BitCount();
    TBlackMask mask(width, height);
    if (level <= 0)
        return mask;
    std::array<bool, 256> ink{};
    if (bits <= 8) {
        for (int i = 0; i < (1 << bits); ++i)
            ink[static_cast<std::size_t>(i)] = Luminance(image.Colors(i)) < level;
    }
    // Which of the 64 pixels from x = 64 i on are ink.
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *row = image.ScanLine(y);
        std::uint64_t *line = mask.Line(y);
        for (int i = 0; i < mask.Words(); ++i) {
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
    return std::clamp(split + 1, 1, 256);
}
