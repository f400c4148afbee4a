#include "scan/BlackMask.h"

#include "base/LargeBlock.h"
#include "base/TaskPool.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "scan/PodArray.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <new>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TRAZBIT_SSE2 1
#endif

namespace {

std::uint8_t ReverseBits(std::uint8_t b)
{
    b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

// The bits of every byte of w in reverse order (the leftmost pixel, the top bit
// of a stored byte, becomes the lowest bit).
std::uint64_t ReverseBitsOfBytes(std::uint64_t w)
{
    w = ((w >> 1) & 0x5555555555555555ull) | ((w & 0x5555555555555555ull) << 1);
    w = ((w >> 2) & 0x3333333333333333ull) | ((w & 0x3333333333333333ull) << 2);
    w = ((w >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((w & 0x0F0F0F0F0F0F0F0Full) << 4);
    return w;
}

std::uint64_t TailMask(int width)
{
    const int tail = width & 63;
    return tail ? (std::uint64_t(1) << tail) - 1 : ~std::uint64_t(0);
}

#if defined(TRAZBIT_SSE2)
// Bit 3i of `bits` becomes bit i (i < 21).
std::uint64_t EveryThirdBit(std::uint64_t x)
{
    x &= 0x9249249249249249ull;
    x = (x ^ (x >> 2)) & 0x30C30C30C30C30C3ull;
    x = (x ^ (x >> 4)) & 0xF00F00F00F00F00Full;
    x = (x ^ (x >> 8)) & 0x00FF0000FF0000FFull;
    x = (x ^ (x >> 16)) & 0xFFFF00000000FFFFull;
    x = (x ^ (x >> 32)) & 0x00000000001FFFFFull;
    return x;
}

// Which of 16 pixels (48 bytes) are black, one bit each.
std::uint64_t Black16(const std::uint8_t *p)
{
    const __m128i zero = _mm_setzero_si128();
    const auto zeros = [&](int at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at));
        return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))));
    };
    const std::uint64_t z = zeros(0) | zeros(16) << 16 | zeros(32) << 32;
    return EveryThirdBit(z & (z >> 1) & (z >> 2));
}
#endif

void BlackLine24(const std::uint8_t *row, int width, std::uint64_t *line)
{
#if defined(TRAZBIT_SSE2)
    const int words = (width + 63) / 64;
    const int whole = width / 64;
    for (int i = 0; i < whole; ++i) {
        const std::uint8_t *p = row + static_cast<std::ptrdiff_t>(i) * 192;
        line[i] = Black16(p) | Black16(p + 48) << 16 | Black16(p + 96) << 32 | Black16(p + 144) << 48;
    }
    if (whole < words) {
        const int first = whole * 64;
        std::uint64_t word = 0;
        int x = first;
        for (; x + 16 <= width; x += 16)
            word |= Black16(row + static_cast<std::ptrdiff_t>(x) * 3) << (x - first);
        for (; x < width; ++x) {
            const std::uint8_t *p = row + static_cast<std::ptrdiff_t>(x) * 3;
            word |= std::uint64_t((p[0] | p[1] | p[2]) == 0) << (x - first);
        }
        line[whole] = word;
    }
#else
    BlackLine24Plain(row, width, line);
#endif
}

} // namespace

void BlackLine24Plain(const std::uint8_t *row, int width, std::uint64_t *line)
{
    const int words = (width + 63) / 64;
    for (int i = 0; i < words; ++i) {
        const int first = i * 64;
        const int last = std::min(first + 64, width);
        std::uint64_t word = 0;
        for (int x = first; x < last; ++x) {
            const std::uint8_t *p = row + static_cast<std::ptrdiff_t>(x) * 3;
            word |= std::uint64_t((p[0] | p[1] | p[2]) == 0) << (x - first);
        }
        line[i] = word;
    }
}

TRowToMask::TRowToMask(int bitCount, int width, const TColor *colours) : BitCount(bitCount), Width(width)
{
    if (bitCount == 24)
        return;
    for (int i = 0; i < 256; ++i)
        Black8[i] = colours[i] == 0;
    for (int b = 0; b < 256; ++b) {
        const auto ones = static_cast<std::uint8_t>(b);
        std::uint8_t v = 0;
        if (Black8[1])
            v |= ones;
        if (Black8[0])
            v |= static_cast<std::uint8_t>(~ones);
        // Kept in stored order; the bits are reversed a word at a time.
        Byte1[b] = v;
        Pair4[b] = static_cast<std::uint8_t>((Black8[b >> 4] ? 1 : 0) | (Black8[b & 15] ? 2 : 0));
    }
}

void TRowToMask::operator()(const std::uint8_t *row, std::uint64_t *line) const
{
    const int words = (Width + 63) / 64;
    switch (BitCount) {
    case 1: {
        const int bytes = (Width + 7) / 8;
        const int whole = bytes / 8;
        // Which of the two entries are black decides the word: the stored bits,
        // their complement, all or none.
        const bool black1 = Black8[1], black0 = Black8[0];
        for (int i = 0; i < whole; ++i) {
            const std::uint64_t stored = ReverseBitsOfBytes(qFromLittleEndian<std::uint64_t>(row + 8 * i));
            line[i] = (black1 ? stored : 0) | (black0 ? ~stored : 0);
        }
        if (whole < words) {
            std::uint64_t word = 0;
            for (int k = 0; 8 * whole + k < bytes; ++k)
                word |= std::uint64_t(ReverseBits(Byte1[row[8 * whole + k]])) << (8 * k);
            line[whole] = word;
        }
        break;
    }
    case 4:
        for (int i = 0; i < words; ++i) {
            const int first = i * 32;
            const int last = std::min(first + 32, (Width + 1) / 2);
            std::uint64_t word = 0;
            for (int k = first; k < last; ++k)
                word |= std::uint64_t(Pair4[row[k]]) << (2 * (k - first));
            line[i] = word;
        }
        break;
    case 8:
        for (int i = 0; i < words; ++i) {
            const int first = i * 64;
            const int last = std::min(first + 64, Width);
            std::uint64_t word = 0;
            for (int x = first; x < last; ++x)
                word |= std::uint64_t(Black8[row[x]]) << (x - first);
            line[i] = word;
        }
        break;
    default:
        BlackLine24(row, Width, line);
        return;
    }
    line[words - 1] &= TailMask(Width);
}

void TBlackMask::TFree::operator()(std::uint64_t *words) const
{
    LargeBlock::Free(words);
}

void TBlackMask::DiscardLines(int first, int end)
{
    if (FData && first < end)
        LargeBlock::Discard(Line(first) - 1,
                            static_cast<std::size_t>(end - first) * static_cast<std::size_t>(FStride) *
                                sizeof(std::uint64_t));
}

std::size_t TBlackMask::StorageWords() const
{
    return static_cast<std::size_t>(FStride) * static_cast<std::size_t>(FHeight + 2);
}

TBlackMask::TBlackMask(int width, int height)
    : FWidth(std::max(width, 0)),
      FHeight(std::max(height, 0)),
      FWords((FWidth + 63) / 64),
      FStride(FWords + 2)
{
    // Fresh zero pages: a line costs nothing until it is written.
    FData.reset(static_cast<std::uint64_t *>(LargeBlock::AllocateZeroed(StorageWords() * sizeof(std::uint64_t))));
    if (!FData)
        throw std::bad_alloc();
}

TBlackMask TBlackMask::Sparse(int width, int height)
{
    TBlackMask mask;
    mask.FWidth = std::max(width, 0);
    mask.FHeight = std::max(height, 0);
    mask.FWords = (mask.FWidth + 63) / 64;
    mask.FStride = mask.FWords + 2;
    const std::size_t bytes = mask.StorageWords() * sizeof(std::uint64_t);
    mask.FData.reset(static_cast<std::uint64_t *>(LargeBlock::AllocateSparse(bytes)));
    if (!mask.FData)
        throw std::bad_alloc();
    return mask;
}

TBlackMask::TBlackMask(const TBlackMask &other)
    : FWidth(other.FWidth), FHeight(other.FHeight), FWords(other.FWords), FStride(other.FStride)
{
    if (!other.FData)
        return;
    const std::size_t bytes = StorageWords() * sizeof(std::uint64_t);
    FData.reset(static_cast<std::uint64_t *>(LargeBlock::Allocate(bytes)));
    if (!FData)
        throw std::bad_alloc();
    std::memcpy(FData.get(), other.FData.get(), bytes);
}

TBlackMask &TBlackMask::operator=(const TBlackMask &other)
{
    if (this != &other)
        *this = TBlackMask(other);
    return *this;
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
    TColor colours[256] = {};
    if (image->BitCount() <= 8)
        for (int i = 0; i < 256; ++i)
            colours[i] = image->Colors(i);
    const TRowToMask convert(image->BitCount(), image->Width(), colours);
    for (int y = 0; y < mask.Height(); ++y)
        convert(image->ScanLine(y), mask.Line(y));
    return mask;
}

namespace {

// Bands of about this many bytes are read and turned into mask lines at a time.
constexpr std::int64_t kBandBytes = std::int64_t(1) << 20;

// The bands of a picture, read on the calling thread and worked on by the
// pool's threads (by this one only a band no thread took), each band in one
// of `threads` buffers: band b in buffer b mod threads, free again once band
// b - threads is done.
void RunBandPipeline(TPictureRows &rows, const TBandWork &work, int bandRows, int threads)
{
    const int height = rows.Height();
    const std::size_t bufferBytes = static_cast<std::size_t>(rows.RowSize() * bandRows);
    const std::size_t buffers = static_cast<std::size_t>(threads);
    const std::size_t bands = static_cast<std::size_t>((height + bandRows - 1) / bandRows);
    // One block for all of them, never cleared: every band is read in whole.
    TPodArray<std::uint8_t> storage;
    storage.Resize(bufferBytes * buffers);
    const auto buffer = [&](std::size_t b) { return storage.Data() + bufferBytes * (b % buffers); };
    const auto first = [&](std::size_t b) { return static_cast<int>(b) * bandRows; };
    TTaskPool pool(threads, bands, 0, [&](std::size_t b, int worker) {
        work(buffer(b), first(b), std::min(bandRows, height - first(b)), worker);
    });
    std::size_t read = 0;
    try {
        for (; read < bands; ++read) {
            // Reading goes on while the others work: no help with later bands.
            if (read >= buffers)
                pool.Wait(read - buffers, false);
            rows.Read(buffer(read), std::min(bandRows, height - first(read)));
            pool.Allow(read + 1);
        }
    } catch (...) {
        // The bands read so far are worked on before reading's failure goes on.
        for (std::size_t b = 0; b < read; ++b)
            pool.Wait(b);
        throw;
    }
    for (std::size_t b = 0; b < bands; ++b)
        pool.Wait(b);
}

} // namespace

int BandWorkers(const TPictureRows &rows, int threads, std::int64_t bandBytes)
{
    const int bandRows = static_cast<int>(std::clamp<std::int64_t>(
        (bandBytes > 0 ? bandBytes : kBandBytes) / std::max<std::int64_t>(rows.RowSize(), 1), 1,
        std::max(rows.Height(), 1)));
    return threads > 1 && rows.Height() > bandRows ? threads : 1;
}

void ForEachBand(TPictureRows &rows, int threads, std::int64_t bandBytes, const TBandWork &work)
{
    const std::int64_t rowSize = rows.RowSize();
    const int height = rows.Height();
    const int bandRows = static_cast<int>(std::clamp<std::int64_t>(
        (bandBytes > 0 ? bandBytes : kBandBytes) / std::max<std::int64_t>(rowSize, 1), 1, std::max(height, 1)));
    if (threads > 1 && height > bandRows) {
        RunBandPipeline(rows, work, bandRows, threads);
        return;
    }
    TPodArray<std::uint8_t> band;
    band.Resize(static_cast<std::size_t>(rowSize * bandRows));
    for (int first = 0; first < height; first += bandRows) {
        const int count = std::min(bandRows, height - first);
        rows.Read(band.Data(), count);
        work(band.Data(), first, count, 0);
    }
}

TBlackMask TBlackMask::FromRows(TPictureRows &rows, int threads, std::int64_t bandBytes)
{
    TColor colours[256] = {};
    if (rows.BitCount() <= 8)
        for (int i = 0; i < 256; ++i)
            colours[i] = rows.Color(i);
    const TRowToMask convert(rows.BitCount(), rows.Width(), colours);
    return FromRows(
        rows, [&convert](const std::uint8_t *row, std::uint64_t *line) { convert(row, line); }, threads, bandBytes);
}

TBlackMask TBlackMask::FromRows(TPictureRows &rows, const TRowConvert &convert, int threads, std::int64_t bandBytes)
{
    TBlackMask mask(rows.Width(), rows.Height());
    const std::int64_t rowSize = rows.RowSize();
    const int height = rows.Height();
    const bool topDown = rows.TopDown();
    ForEachBand(rows, threads, bandBytes, [&](const std::uint8_t *data, int first, int count, int) {
        for (int r = 0; r < count; ++r) {
            const int fileRow = first + r;
            convert(data + rowSize * r, mask.Line(topDown ? fileRow : height - 1 - fileRow));
        }
    });
    return mask;
}

std::vector<std::uint64_t> TBlackMask::Column(int x) const
{
    std::vector<std::uint64_t> column(static_cast<std::size_t>((FHeight + 63) / 64), 0);
    if (x < 0 || x >= FWidth)
        return column;
    const int word = x >> 6;
    const int bit = x & 63;
    for (int y = 0; y < FHeight; ++y)
        column[static_cast<std::size_t>(y >> 6)] |= ((Line(y)[word] >> bit) & 1) << (y & 63);
    return column;
}
