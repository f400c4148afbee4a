#include "cleanup/Threshold.h"

#include "base/LargeBlock.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "scan/PodArray.h"

#include <leptonica/allheaders.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <mutex>
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

namespace {

// Stored rows into luminances, one byte a pixel.
class TRowLuminance
{
public:
    explicit TRowLuminance(const TPictureRows &rows) : Bits(rows.BitCount()), Width(rows.Width())
    {
        if (Bits <= 8)
            for (int i = 0; i < 256; ++i)
                Lum[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(Luminance(rows.Color(i)));
        for (std::uint32_t v = 0; v < 256; ++v) {
            Red[v] = 299 * v;
            Green[v] = 587 * v;
            Blue[v] = 114 * v + 500;
        }
    }
    void operator()(const std::uint8_t *__restrict row, std::uint8_t *__restrict out) const
    {
        const int width = Width;
        if (Bits == 24) {
            // Luminance24 by tables, the division by 1000 a multiply: exact
            // for every sum up to 255500.
            const std::uint32_t *red = Red.data(), *green = Green.data(), *blue = Blue.data();
            for (int x = 0; x < width; ++x) {
                const std::uint8_t *p = row + 3 * x;
                const std::uint64_t sum = red[p[2]] + green[p[1]] + blue[p[0]];
                out[x] = static_cast<std::uint8_t>((sum * 4294968u) >> 32);
            }
        } else if (Bits == 8) {
            const std::uint8_t *lum = Lum.data();
            for (int x = 0; x < width; ++x)
                out[x] = lum[row[x]];
        } else {
            for (int x = 0; x < width; ++x)
                out[x] = Lum[static_cast<std::size_t>(IndexAt(row, x, Bits))];
        }
    }

private:
    int Bits;
    int Width;
    std::array<std::uint8_t, 256> Lum{};
    std::array<std::uint32_t, 256> Red{}, Green{}, Blue{};
};

// Listed pixels of consecutive rows in 16-bit entries, two bytes a pixel
// where they lie close. A pixel is its luminance in the low byte and in the
// high byte how many pixels of its row lie between it and the pixel listed
// before it (or the row's start), 0 .. 254; a longer gap first takes skip
// entries (high byte 255, low byte k < 255: 255 (k + 1) pixels more), and each
// row ends with kRowEnd. With pixels dropped, the code up to any pixel kept is
// never longer than it was, so a list narrows in place.
constexpr std::uint16_t kRowEnd = 0xFFFF;
constexpr int kMostGap = 254;

// Writes the code of a row's pixels from `out` on.
class TListWriter
{
public:
    explicit TListWriter(std::uint16_t *out) : Out(out) {}
    void Pixel(int x, int luminance)
    {
        int gap = x - Next;
        while (gap > kMostGap) {
            const int units = std::min(gap / 255, 255);
            Out[Written++] = static_cast<std::uint16_t>(0xFF00 | (units - 1));
            gap -= 255 * units;
        }
        Out[Written++] = static_cast<std::uint16_t>(gap << 8 | luminance);
        Next = x + 1;
        ++Pixels;
    }
    void EndRow()
    {
        Out[Written++] = kRowEnd;
        Next = 0;
    }
    std::size_t Written = 0;    // entries
    std::int64_t Pixels = 0;

private:
    std::uint16_t *Out;
    int Next = 0;
};

// The most entries a row of `width` pixels takes: a pixel each, skips of at
// least 255 pixels, the end.
std::size_t MostRowEntries(int width)
{
    return static_cast<std::size_t>(width) + static_cast<std::size_t>(width) / 255 + 1;
}

// Calls each(row, x, luminance) for the pixels coded in `entries` entries
// from `code`, rows counted from 0, and rowEnd() after each row.
template <class Each, class RowEnd>
void ForEachListed(const std::uint16_t *code, std::size_t entries, Each each, RowEnd rowEnd)
{
    int row = 0, next = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        const unsigned e = code[i];
        if (e == kRowEnd) {
            rowEnd();
            ++row;
            next = 0;
        } else if (e >= 0xFF00) {
            next += 255 * static_cast<int>((e & 0xFF) + 1);
        } else {
            const int x = next + static_cast<int>(e >> 8);
            each(row, x, static_cast<int>(e & 0xFF));
            next = x + 1;
        }
    }
}

// The listed pixels of rows from file row First on: Entries entries from
// Begin in the list's store.
struct TListedBand
{
    int First = 0;
    std::size_t Begin = 0;
    std::size_t Entries = 0;
    std::int64_t Pixels = 0;
};

// Rows of luminances: counted, the pixels darker than `low` into the mask
// line, those in low .. high - 1 listed.
class TRowSorter
{
public:
    TRowSorter(int width, int low, int high) : Width(width), Low(low), High(high) {}

    void operator()(const std::uint8_t *lum, std::uint64_t *line, TListWriter &listed)
    {
        if (Pending + static_cast<std::uint64_t>(Width) > (std::uint64_t(1) << 31))
            Flush();
        Pending += static_cast<std::uint64_t>(Width);
        const int words = (Width + 63) / 64;
        const unsigned span = static_cast<unsigned>(High - Low);
        for (int i = 0; i < words; ++i) {
            const int first = 64 * i, last = std::min(first + 64, Width);
            const std::uint8_t *p = lum + first;
            // Four tables in turn: runs of one luminance do not wait on one counter.
            int x = 0;
            for (; x + 4 <= last - first; x += 4) {
                ++Counts[p[x]];
                ++Counts[256 + p[x + 1]];
                ++Counts[512 + p[x + 2]];
                ++Counts[768 + p[x + 3]];
            }
            for (; x < last - first; ++x)
                ++Counts[p[x]];
            std::uint64_t ink = 0, inside = 0;
            if (last - first == 64) {
                ink = Below(p, Low);
                if (span > 0)
                    inside = Below(p, High) & ~ink;
            } else {
                for (int k = 0; k < last - first; ++k) {
                    ink |= std::uint64_t(p[k] < Low) << k;
                    inside |= std::uint64_t(static_cast<unsigned>(p[k] - Low) < span) << k;
                }
            }
            line[i] = ink;
            for (; inside; inside &= inside - 1) {
                const int k = std::countr_zero(inside);
                listed.Pixel(first + k, p[k]);
            }
        }
        listed.EndRow();
    }

    // The counts so far into `counts`, and from nought again.
    void AddTo(std::array<std::uint64_t, 256> &counts)
    {
        Flush();
        for (std::size_t i = 0; i < 256; ++i)
            counts[i] += Total[i];
        Total = {};
    }

private:
    // Bit k: byte k of the 64 at p is less than `level` (0 .. 256).
    static std::uint64_t Below(const std::uint8_t *p, int level)
    {
        if (level <= 0)
            return 0;
        if (level > 255)
            return ~std::uint64_t(0);
#if defined(__SSE2__) || defined(_M_X64)
        const __m128i top = _mm_set1_epi8(static_cast<char>(level - 1));
        std::uint64_t bits = 0;
        for (int k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * k));
            const int m = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, top), v));
            bits |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(m)) << (16 * k);
        }
        return bits;
#else
        std::uint64_t bits = 0;
        for (int k = 0; k < 64; ++k)
            bits |= std::uint64_t(p[k] < level) << k;
        return bits;
#endif
    }

    void Flush()
    {
        for (std::size_t i = 0; i < 256; ++i) {
            Total[i] += std::uint64_t(Counts[i]) + Counts[256 + i] + Counts[512 + i] + Counts[768 + i];
        }
        Counts = {};
        Pending = 0;
    }

    int Width, Low, High;
    std::array<std::uint32_t, 1024> Counts{};
    std::array<std::uint64_t, 256> Total{};
    std::uint64_t Pending = 0;
};

// The rows of another reader after its first `skip`.
class TRestRows : public TPictureRows
{
public:
    TRestRows(TPictureRows &rows, int skip) : Rows(rows)
    {
        CopyLayout(rows);
        FHeight -= skip;
    }
    void Read(std::uint8_t *rows, int count) override { Rows.Read(rows, count); }

private:
    TPictureRows &Rows;
};

std::uint64_t CountBetween(const TLuminanceHistogram &histogram, int from, int to)
{
    std::uint64_t n = 0;
    for (int i = std::max(from, 0); i < std::min(to, 256); ++i)
        n += histogram[static_cast<std::size_t>(i)];
    return n;
}

} // namespace

namespace {

// The level a histogram gives, or where it shows no ink yet, half way to its
// commonest luminance (the paper).
int LikelyLevel(const TLuminanceHistogram &histogram)
{
    const int level = OtsuLevel(histogram);
    if (level > 1)
        return level;
    std::size_t paper = 0;
    for (std::size_t i = 1; i < 256; ++i)
        if (histogram[i] > histogram[paper])
            paper = i;
    return static_cast<int>(paper) / 2;
}

// The window grown from `level` within bounds.Low .. bounds.High, a level at a
// time on the side with fewer pixels, while it holds at most `budget` pixels.
TLevelWindow GrowWindow(const TLuminanceHistogram &histogram, int level, TLevelWindow bounds, std::uint64_t budget)
{
    std::uint64_t used = 0;
    int low = level, high = level;
    for (;;) {
        const bool down = low > bounds.Low && used + histogram[static_cast<std::size_t>(low - 1)] <= budget;
        const bool up = high < bounds.High && used + histogram[static_cast<std::size_t>(high)] <= budget;
        if (down && (!up || histogram[static_cast<std::size_t>(low - 1)] <= histogram[static_cast<std::size_t>(high)]))
            used += histogram[static_cast<std::size_t>(--low)];
        else if (up)
            used += histogram[static_cast<std::size_t>(high++)];
        else
            break;
    }
    return {low, high};
}

} // namespace

TLevelWindow GuessLevelWindow(const TLuminanceHistogram &sample)
{
    // As wide as 1/128 of the sample's pixels allow, however far from its
    // level: the empty levels between ink and paper cost nothing to list,
    // and a list grown too long is narrowed as the rows come.
    return GrowWindow(sample, LikelyLevel(sample), {0, 256}, CountBetween(sample, 0, 256) / 128);
}

namespace {

// The histogram of about `pixels` pixels of rows spread over the whole
// picture, where the reader reaches them cheaply (false: it does not, and
// `histogram` may hold some of them).
bool SpreadSample(TPictureRows &rows, const TRowLuminance &toLuminance, std::int64_t pixels,
                  TLuminanceHistogram &histogram)
{
    const int width = std::max(rows.Width(), 1);
    const int count = static_cast<int>(std::clamp<std::int64_t>(pixels / width, 1, rows.Height()));
    if (count >= rows.Height())
        return false;
    std::vector<std::uint8_t> lum(static_cast<std::size_t>(width));
    return rows.Sample(count, [&](const std::uint8_t *row) {
        toLuminance(row, lum.data());
        for (const std::uint8_t l : lum)
            ++histogram[l];
    });
}

} // namespace

TOtsuMask OtsuMask(TPictureRows &rows, const TRowsOpener &reopen, int threads, std::int64_t bandBytes,
                   const TOtsuPass &pass)
{
    const int width = rows.Width(), height = rows.Height(), bits = rows.BitCount();
    const bool topDown = rows.TopDown();
    const std::int64_t rowSize = rows.RowSize();
    TBlackMask mask(width, height);
    const auto lineOf = [&](int fileRow) { return mask.Line(topDown ? fileRow : height - 1 - fileRow); };
    const TRowLuminance toLuminance(rows);
    TLuminanceHistogram histogram{};

    // The window, from the palette, the caller, rows spread over the picture
    // or the first rows.
    TLevelWindow window{0, 0};
    TPodArray<std::uint8_t> sample;   // held apart from the heap, so that freeing it leaves none behind
    int sampleRows = 0;
    if (bits == 1) {
        // Levels between the two colours' luminances all give the same mask.
        const int a = Luminance(rows.Color(0)), b = Luminance(rows.Color(1));
        window = {std::min(a, b) + 1, std::max(a, b)};
    } else if (pass.Window) {
        window = *pass.Window;
    } else if (SpreadSample(rows, toLuminance, pass.SamplePixels, histogram)) {
        window = GuessLevelWindow(histogram);
        histogram = {};
    } else {
        histogram = {};
        sampleRows = static_cast<int>(std::clamp<std::int64_t>(pass.SamplePixels / std::max(width, 1), 0, height));
        sample.Resize(static_cast<std::size_t>(sampleRows) * static_cast<std::size_t>(width));
        const int piece = static_cast<int>(std::clamp<std::int64_t>((std::int64_t(1) << 20) / rowSize, 1, 64));
        TPodArray<std::uint8_t> stored;
        stored.Resize(static_cast<std::size_t>(rowSize * piece));
        for (int first = 0; first < sampleRows; first += piece) {
            const int count = std::min(piece, sampleRows - first);
            rows.Read(stored.Data(), count);
            for (int r = 0; r < count; ++r) {
                std::uint8_t *lum = sample.Data() + static_cast<std::size_t>(first + r) * static_cast<std::size_t>(width);
                toLuminance(stored.Data() + rowSize * r, lum);
                for (int x = 0; x < width; ++x)
                    ++histogram[lum[x]];
            }
        }
        if (sampleRows == height) {
            const int level = OtsuLevel(histogram);
            window = {level, level};
        } else {
            window = GuessLevelWindow(histogram);
        }
        histogram = {};
    }
    window.Low = std::clamp(window.Low, 0, 256);
    window.High = std::clamp(window.High, window.Low, 256);

    // The sample's rows, then the others as they are read. Each band is
    // sorted with the window of its start and kept with the window of then;
    // a list grown past its cap narrows the window about the level of the
    // rows kept so far, so that it holds at most half the cap, their share of
    // the picture's pixels counted. The window only narrows: every pixel of
    // the kept rows inside it is listed. The bands' codes lie one after
    // another in a block of their own, whose pages a narrowed list gives back.
    const std::int64_t listCap =
        pass.ListPixels > 0 ? pass.ListPixels
                            : std::max(std::int64_t(4) << 20, static_cast<std::int64_t>(width) * height / 64);
    const std::uint64_t all = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    TPodArray<std::uint16_t> store;
    std::vector<TListedBand> listed;
    std::mutex listing;
    std::int64_t listedPixels = 0;
    // The pixels of `band` coded in `code`, outside `window`: into the mask
    // below it, dropped above; the others coded again into `out`, which may
    // be `code` itself or lie before it.
    const auto narrowTo = [&](TListedBand &band, const std::uint16_t *code, TLevelWindow window,
                              std::uint16_t *out) {
        TListWriter kept(out);
        ForEachListed(
            code, band.Entries,
            [&](int row, int x, int lum) {
                if (lum < window.Low)
                    lineOf(band.First + row)[x >> 6] |= std::uint64_t(1) << (x & 63);
                else if (lum < window.High)
                    kept.Pixel(x, lum);
            },
            [&] { kept.EndRow(); });
        band.Entries = kept.Written;
        band.Pixels = kept.Pixels;
    };
    const auto windowNow = [&] {
        const std::lock_guard<std::mutex> lock(listing);
        return window;
    };
    // A band sorted into `code` with the window `sorted`, into the store.
    const auto keep = [&](TListedBand band, const std::uint16_t *code, TLevelWindow sorted,
                          const TLuminanceHistogram &counts) {
        const std::lock_guard<std::mutex> lock(listing);
        for (std::size_t i = 0; i < 256; ++i)
            histogram[i] += counts[i];
        if (band.Pixels == 0)
            return;
        const std::size_t end = store.Size();
        store.Reserve(std::max(end + band.Entries, 2 * end));
        if (sorted.Low != window.Low || sorted.High != window.High) {
            narrowTo(band, code, window, store.Data() + end);
            if (band.Pixels == 0)
                return;
        } else {
            std::copy(code, code + band.Entries, store.Data() + end);
        }
        band.Begin = end;
        store.Resize(end + band.Entries);
        listedPixels += band.Pixels;
        listed.push_back(band);
        if (listedPixels <= listCap)
            return;
        const std::uint64_t seen = CountBetween(histogram, 0, 256);
        const std::uint64_t budget = static_cast<std::uint64_t>(
            static_cast<double>(listCap) / 2 * static_cast<double>(seen) / static_cast<double>(all));
        window = GrowWindow(histogram, std::clamp(LikelyLevel(histogram), window.Low, window.High), window, budget);
        listedPixels = 0;
        std::size_t to = 0;
        for (TListedBand &l : listed) {
            narrowTo(l, store.Data() + l.Begin, window, store.Data() + to);
            l.Begin = to;
            if (l.Pixels > 0)
                to += l.Entries;
            listedPixels += l.Pixels;
        }
        std::erase_if(listed, [](const TListedBand &l) { return l.Pixels == 0; });
        LargeBlock::Discard(store.Data() + to, (store.Size() - to) * sizeof(std::uint16_t));
        store.Resize(to);
    };
    // Rows of luminances sorted into the mask and `code` (room for
    // MostRowEntries a row).
    const auto sortRows = [&](TRowSorter &sort, int first, int count, std::uint16_t *code, auto luminances) {
        TListWriter out(code);
        for (int r = 0; r < count; ++r)
            sort(luminances(r), lineOf(first + r), out);
        TListedBand band;
        band.First = first;
        band.Entries = out.Written;
        band.Pixels = out.Pixels;
        return band;
    };
    {
        TPodArray<std::uint16_t> code;
        code.Resize(static_cast<std::size_t>(sampleRows) * MostRowEntries(width));
        TRowSorter sort(width, window.Low, window.High);
        const TListedBand first = sortRows(sort, 0, sampleRows, code.Data(), [&](int r) {
            return sample.Data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
        });
        TLuminanceHistogram counts{};
        sort.AddTo(counts);
        keep(first, code.Data(), window, counts);
        sample = TPodArray<std::uint8_t>();
    }

    TRestRows rest(rows, sampleRows);
    const std::size_t workers = static_cast<std::size_t>(BandWorkers(rest, threads, bandBytes));
    if (bits == 1) {
        std::vector<std::array<std::uint64_t, 256>> counts(workers, std::array<std::uint64_t, 256>{});
        TColor ink[256];
        for (int i = 0; i < 256; ++i)
            ink[i] = i < 2 && Luminance(rows.Color(i)) < window.Low ? 0 : 0xFFFFFF;
        const TRowToMask convert(1, width, ink);
        ForEachBand(rest, threads, bandBytes, [&](const std::uint8_t *data, int first, int count, int worker) {
            for (int r = 0; r < count; ++r) {
                convert(data + rowSize * r, lineOf(first + r));
                CountRowFast(data + rowSize * r, width, 1, counts[static_cast<std::size_t>(worker)]);
            }
        });
        std::array<std::uint64_t, 256> indices{};
        for (const auto &c : counts)
            for (std::size_t i = 0; i < 256; ++i)
                indices[i] += c[i];
        const TLuminanceHistogram h = HistogramOf(indices, 1, [&](int i) { return rows.Color(i); });
        for (std::size_t i = 0; i < 256; ++i)
            histogram[i] += h[i];
    } else {
        // Room for 64 luminances more than the width: whole words are compared.
        std::vector<std::vector<std::uint8_t>> luminances(workers,
                                                          std::vector<std::uint8_t>(static_cast<std::size_t>(width) + 64));
        std::vector<TPodArray<std::uint16_t>> codes(workers);
        ForEachBand(rest, threads, bandBytes, [&](const std::uint8_t *data, int first, int count, int worker) {
            std::uint8_t *lum = luminances[static_cast<std::size_t>(worker)].data();
            TPodArray<std::uint16_t> &code = codes[static_cast<std::size_t>(worker)];
            code.Resize(std::max(code.Size(), static_cast<std::size_t>(count) * MostRowEntries(width)));
            const TLevelWindow sorted = windowNow();
            TRowSorter sort(width, sorted.Low, sorted.High);
            const TListedBand band = sortRows(sort, sampleRows + first, count, code.Data(), [&](int r) {
                toLuminance(data + rowSize * r, lum);
                return lum;
            });
            TLuminanceHistogram counts{};
            sort.AddTo(counts);
            keep(band, code.Data(), sorted, counts);
        });
    }

    // The level, and the mask it gives.
    TOtsuMask result;
    result.Level = OtsuLevel(histogram);
    const int level = result.Level;
    const std::uint64_t below = CountBetween(histogram, 0, level);
    if (below == 0) {
        mask = TBlackMask();
        result.Mask = TBlackMask(width, height);
        return result;
    }
    if (below == all) {
        for (int y = 0; y < height; ++y) {
            std::uint64_t *line = mask.Line(y);
            for (int i = 0; i < mask.Words(); ++i)
                line[i] = ~std::uint64_t(0);
            if (width & 63)
                line[mask.Words() - 1] = (std::uint64_t(1) << (width & 63)) - 1;
        }
        result.Mask = std::move(mask);
        return result;
    }
    const int kept = std::clamp(level, window.Low, window.High);
    if (CountBetween(histogram, std::min(level, kept), std::max(level, kept)) == 0) {
        for (const TListedBand &l : listed)
            ForEachListed(
                store.Data() + l.Begin, l.Entries,
                [&](int row, int x, int lum) {
                    if (lum < kept)
                        lineOf(l.First + row)[x >> 6] |= std::uint64_t(1) << (x & 63);
                },
                [] {});
        result.Mask = std::move(mask);
        return result;
    }
    store = TPodArray<std::uint16_t>();
    listed.clear();
    listed.shrink_to_fit();
    mask = TBlackMask();
    const std::unique_ptr<TPictureRows> again = reopen ? reopen() : nullptr;
    if (!again)
        throw ERowsRefused("The picture cannot be read a second time");
    result.Mask = ThresholdMask(*again, level, threads, bandBytes);
    result.ReadTwice = true;
    return result;
}
