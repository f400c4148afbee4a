#include "scan/BlackMask.h"

#include "image/TzDIB.h"

#include <algorithm>
#include <array>

namespace {

// Transposes a 64 x 64 bit block in place: bit j of a[i] becomes bit i of a[j].
void Transpose64(std::uint64_t a[64])
{
    std::uint64_t mask = 0x00000000FFFFFFFFull;
    for (int step = 32; step != 0; step >>= 1, mask ^= mask << step) {
        for (int k = 0; k < 64; k = ((k | step) + 1) & ~step) {
            const std::uint64_t t = ((a[k] >> step) ^ a[k | step]) & mask;
            a[k | step] ^= t;
            a[k] ^= t << step;
        }
    }
}

std::uint8_t ReverseBits(std::uint8_t b)
{
    b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

// Which palette indices are black (their colour-table entry is exactly 0).
template <std::size_t N>
std::array<bool, N> BlackIndices(const TTzDIB &image)
{
    std::array<bool, N> black{};
    for (std::size_t i = 0; i < N; ++i)
        black[i] = image.Colors(static_cast<int>(i)) == 0;
    return black;
}

void FillFrom1Bit(const TTzDIB &image, TBlackMask &mask)
{
    const auto black = BlackIndices<2>(image);
    // Each stored byte (leftmost pixel in the top bit) becomes eight mask bits
    // (leftmost pixel in the lowest bit).
    std::array<std::uint8_t, 256> bits{};
    for (int b = 0; b < 256; ++b) {
        std::uint8_t ones = ReverseBits(static_cast<std::uint8_t>(b));
        std::uint8_t v = 0;
        if (black[1])
            v |= ones;
        if (black[0])
            v |= static_cast<std::uint8_t>(~ones);
        bits[static_cast<std::size_t>(b)] = v;
    }
    const int width = mask.Width();
    const int bytes = (width + 7) / 8;
    const int words = mask.Words();
    const int tail = width & 63;
    const std::uint64_t lastMask = tail ? (std::uint64_t(1) << tail) - 1 : ~std::uint64_t(0);
    for (int y = 0; y < mask.Height(); ++y) {
        const std::uint8_t *row = image.ScanLine(y);
        std::uint64_t *line = mask.Line(y);
        for (int i = 0; i < words; ++i) {
            const int first = i * 8;
            const int count = std::min(8, bytes - first);
            std::uint64_t word = 0;
            for (int k = 0; k < count; ++k)
                word |= std::uint64_t(bits[row[first + k]]) << (8 * k);
            line[i] = word;
        }
        line[words - 1] &= lastMask;
    }
}

// isBlack(row, x) tells whether pixel x of the stored row is black.
template <class IsBlack>
void FillByPixel(const TTzDIB &image, TBlackMask &mask, IsBlack isBlack)
{
    for (int y = 0; y < mask.Height(); ++y) {
        const std::uint8_t *row = image.ScanLine(y);
        std::uint64_t *line = mask.Line(y);
        for (int i = 0; i < mask.Words(); ++i) {
            const int first = i * 64;
            const int last = std::min(first + 64, mask.Width());
            std::uint64_t word = 0;
            for (int x = first; x < last; ++x)
                word |= std::uint64_t(isBlack(row, x) ? 1 : 0) << (x - first);
            line[i] = word;
        }
    }
}

} // namespace

TBlackMask::TBlackMask(int width, int height)
    : FWidth(std::max(width, 0)),
      FHeight(std::max(height, 0)),
      FWords((FWidth + 63) / 64),
      FStride(FWords + 2),
      FData(static_cast<std::size_t>(FStride) * static_cast<std::size_t>(FHeight + 2), 0)
{
}

TBlackMask TBlackMask::FromImage(const TTzDIB &source)
{
    TTzDIB expanded;
    const TTzDIB *image = &source;
    if (source.PixelFormat() == tzPf4BitRLE || source.PixelFormat() == tzPf8BitRLE) {
        expanded = source;
        expanded.SetPixelFormat(source.PixelFormat() == tzPf4BitRLE ? tzPf4Bit : tzPf8Bit);
        image = &expanded;
    }

    TBlackMask mask(image->Width(), image->Height());
    switch (image->BitCount()) {
    case 1:
        FillFrom1Bit(*image, mask);
        break;
    case 4: {
        const auto black = BlackIndices<16>(*image);
        FillByPixel(*image, mask, [&](const std::uint8_t *row, int x) {
            const std::uint8_t b = row[x >> 1];
            return black[(x & 1) ? (b & 0x0F) : (b >> 4)];
        });
        break;
    }
    case 8: {
        const auto black = BlackIndices<256>(*image);
        FillByPixel(*image, mask, [&](const std::uint8_t *row, int x) { return black[row[x]]; });
        break;
    }
    default:
        // 24 bits: blue, green, red all 0.
        FillByPixel(*image, mask, [](const std::uint8_t *row, int x) {
            const std::uint8_t *p = row + static_cast<std::ptrdiff_t>(x) * 3;
            return (p[0] | p[1] | p[2]) == 0;
        });
        break;
    }
    return mask;
}

TBlackMask TBlackMask::Transposed() const
{
    TBlackMask result(FHeight, FWidth);
    std::uint64_t block[64];
    for (int by = 0; by < result.FWords; ++by) {
        const int firstRow = by * 64;
        const int rows = std::min(64, FHeight - firstRow);
        for (int bx = 0; bx < FWords; ++bx) {
            for (int i = 0; i < 64; ++i)
                block[i] = i < rows ? Line(firstRow + i)[bx] : 0;
            Transpose64(block);
            const int firstColumn = bx * 64;
            const int columns = std::min(64, FWidth - firstColumn);
            for (int j = 0; j < columns; ++j)
                result.Line(firstColumn + j)[by] = block[j];
        }
    }
    return result;
}

bool TBlackMask::AllWhite() const
{
    for (int y = 0; y < FHeight; ++y) {
        const std::uint64_t *line = Line(y);
        for (int i = 0; i < FWords; ++i) {
            if (line[i])
                return false;
        }
    }
    return true;
}
