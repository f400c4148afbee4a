#include "cleanup/PackedMask.h"

#include "base/TaskPool.h"
#include "base/Threads.h"

#include <algorithm>
#include <bit>

namespace {

using Word = std::uint64_t;

// The 7-bit groups of a length, low ones first, each but the last with its
// top bit set: to `out`, or only counted when `out` is null.
std::size_t PutLength(std::uint8_t *out, int length)
{
    auto v = static_cast<std::uint32_t>(length);
    std::size_t n = 1;
    for (; v >= 0x80; v >>= 7, ++n)
        if (out)
            *out++ = static_cast<std::uint8_t>(v | 0x80);
    if (out)
        *out = static_cast<std::uint8_t>(v);
    return n;
}

int TakeLength(const std::uint8_t *&p)
{
    std::uint32_t v = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t b = *p++;
        v |= std::uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80))
            return static_cast<int>(v);
    }
}

// The first pixel from x on that is black (`black`) or white, or `width`.
int NextPixel(const Word *line, int words, int width, int x, bool black)
{
    int i = x >> 6;
    if (i >= words)
        return width;
    Word w = (black ? line[i] : ~line[i]) & (~Word(0) << (x & 63));
    while (!w) {
        if (++i >= words)
            return width;
        w = black ? line[i] : ~line[i];
    }
    const int found = 64 * i + std::countr_zero(w);
    return found < width ? found : width;
}

// Sets pixels begin .. end - 1 of a line.
void SetRun(Word *line, int begin, int end)
{
    int i = begin >> 6;
    const int last = (end - 1) >> 6;
    const Word first = ~Word(0) << (begin & 63);
    const Word tail = ~Word(0) >> (63 - ((end - 1) & 63));
    if (i == last) {
        line[i] |= first & tail;
        return;
    }
    line[i++] |= first;
    for (; i < last; ++i)
        line[i] = ~Word(0);
    line[last] |= tail;
}

// Sets the black runs of a line `width` pixels wide packed from p on; where
// the next line's runs start.
const std::uint8_t *SetRuns(const std::uint8_t *p, int width, Word *line)
{
    int x = 0;
    for (;;) {
        x += TakeLength(p);
        if (x >= width)
            return p;
        const int end = x + TakeLength(p);
        SetRun(line, x, end);
        x = end;
    }
}

} // namespace

TPackedMask::TPackedMask(const TBlackMask &mask, int threads) : FWidth(mask.Width()), FHeight(mask.Height())
{
    Pack(mask, threads, nullptr);
}

TPackedMask::TPackedMask(TBlackMask &&mask, int threads) : FWidth(mask.Width()), FHeight(mask.Height())
{
    Pack(mask, threads, &mask);
    mask = TBlackMask();
}

void TPackedMask::Pack(const TBlackMask &mask, int threads, TBlackMask *discard)
{
    // Bands of lines, each packed on its own after the next: counted first,
    // so that the memory is taken once and exactly, then written each at
    // its place.
    const int words = mask.Words();
    const int bands = std::max(1, std::min(4 * ThreadsPerPicture(threads), FHeight / 64));
    const auto pack = [&](int band, std::uint8_t *out) {
        std::size_t size = 0;
        for (int y = BandStart(FHeight, bands, band); y < BandStart(FHeight, bands, band + 1); ++y) {
            if (out)
                LineOffset[std::size_t(y)] = static_cast<std::size_t>(out - Data.get()) + size;
            const Word *line = mask.Line(y);
            int x = 0;
            for (;;) {
                const int begin = NextPixel(line, words, FWidth, x, true);
                size += PutLength(out ? out + size : nullptr, begin - x);
                if (begin >= FWidth)
                    break;
                const int end = NextPixel(line, words, FWidth, begin, false);
                size += PutLength(out ? out + size : nullptr, end - begin);
                x = end;
            }
        }
        return size;
    };
    // (Each line's start noted while its band is written.)
    LineOffset.assign(std::size_t(FHeight), 0);
    BandOffset.assign(std::size_t(bands) + 1, 0);
    RunTasks(ThreadsPerPicture(threads), std::size_t(bands),
             [&](std::size_t b, int) { BandOffset[b + 1] = pack(int(b), nullptr); });
    for (std::size_t b = 1; b < BandOffset.size(); ++b)
        BandOffset[b] += BandOffset[b - 1];
    // Not cleared: each band's bytes are first touched as they are written,
    // while the bands packed before give their lines back.
    Data.reset(new std::uint8_t[BandOffset.back()]);
    RunTasks(ThreadsPerPicture(threads), std::size_t(bands),
             [&](std::size_t b, int) {
                 pack(int(b), Data.get() + BandOffset[b]);
                 if (discard)
                     discard->DiscardLines(BandStart(FHeight, bands, int(b)), BandStart(FHeight, bands, int(b) + 1));
             });
}

TBlackMask TPackedMask::Unpack(int threads) const
{
    // (A mask of little ink, a few runs a line, has its ink here and there:
    // it takes the memory of the lines it inks, small page by small page.)
    TBlackMask mask = Bytes() < std::size_t(16) * std::size_t(FHeight) ? TBlackMask::Sparse(FWidth, FHeight)
                                                                        : TBlackMask(FWidth, FHeight);
    const int bands = BandOffset.empty() ? 0 : int(BandOffset.size()) - 1;
    RunTasks(ThreadsPerPicture(threads), std::size_t(bands), [&](std::size_t b, int) {
        const std::uint8_t *p = Data.get() + BandOffset[b];
        for (int y = BandStart(FHeight, bands, int(b)); y < BandStart(FHeight, bands, int(b) + 1); ++y)
            p = SetRuns(p, FWidth, mask.Line(y));
    });
    return mask;
}

void TPackedMask::UnpackLine(int y, std::uint64_t *words) const
{
    std::fill(words, words + (FWidth + 63) / 64, Word(0));
    SetRuns(Data.get() + LineOffset[std::size_t(y)], FWidth, words);
}

TPackedMaskLines::TPackedMaskLines(const TPackedMask &mask)
    : Mask(mask), Stride((mask.Width() + 63) / 64 + 2), Words(std::size_t(kSlots) * std::size_t(Stride), 0),
      Held(kSlots, -1)
{
}

const std::uint64_t *TPackedMaskLines::Line(int y) const
{
    const int slot = y % kSlots;
    std::uint64_t *line = Words.data() + std::size_t(slot) * std::size_t(Stride) + 1;
    if (Held[std::size_t(slot)] != y) {
        Mask.UnpackLine(y, line);
        Held[std::size_t(slot)] = y;
    }
    return line;
}
