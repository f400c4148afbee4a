#include "recognition/Styles.h"

#include "base/TaskPool.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <utility>

namespace {

using TWord = std::uint64_t;

// The set bits of a word, counted in the word (the library's count may be a
// call for processors without a counting instruction).
int Ones(TWord v)
{
    v -= (v >> 1) & 0x5555555555555555u;
    v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((v * 0x0101010101010101u) >> 56);
}

// The last word of a line keeps no bit beyond the width.
TWord LastWordMask(int width)
{
    const int bits = width & 63;
    return bits == 0 ? ~TWord(0) : (TWord(1) << bits) - 1;
}

// Runs lines(band, y0, y1) over `threads` bands of the `height` lines on as
// many threads (one band on this one for a single thread).
template <class TLines>
void InBands(int threads, int height, const TLines &lines)
{
    if (threads <= 1) {
        lines(std::size_t{0}, 0, height);
        return;
    }
    RunTasks(threads, static_cast<std::size_t>(threads), [&](std::size_t band, int) {
        lines(band, BandStart(height, threads, static_cast<int>(band)), BandStart(height, threads, static_cast<int>(band) + 1));
    });
}

// For each line of a mask, a bit for every word of it that holds ink and
// one for every word all ink (bit b of word f for word 64 f + b).
struct TWordBits
{
    int Flags = 0;  // words of bits a line
    std::vector<TWord> Inked, Full;
    std::vector<char> Any;  // whether the line holds ink

    TWordBits(const TBlackMask &mask, int threads);
};

TWordBits::TWordBits(const TBlackMask &mask, int threads)
    : Flags((mask.Words() + 63) / 64),
      Inked(static_cast<std::size_t>(Flags) * static_cast<std::size_t>(mask.Height()), 0),
      Full(Inked.size(), 0), Any(static_cast<std::size_t>(mask.Height()), 0)
{
    InBands(threads, mask.Height(), [&](std::size_t, int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const TWord *l = mask.Line(y);
            const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(Flags);
            TWord any = 0;
            for (int f = 0; f < Flags; ++f) {
                TWord inked = 0, full = 0;
                for (int b = 0; b < std::min(64, mask.Words() - 64 * f); ++b) {
                    inked |= TWord(l[64 * f + b] != 0) << b;
                    full |= TWord(l[64 * f + b] == ~TWord(0)) << b;
                }
                Inked[at + static_cast<std::size_t>(f)] = inked;
                Full[at + static_cast<std::size_t>(f)] = full;
                any |= inked;
            }
            Any[static_cast<std::size_t>(y)] = any != 0;
        }
    });
}

// Bit i of the result: word i of one of the lines a, b, c or a word next to
// it holds ink (the bits of TWordBits).
void NextToInk(const TWord *a, const TWord *b, const TWord *c, int flags, TWord *out)
{
    TWord before = 0, here = a[0] | b[0] | c[0];
    for (int f = 0; f < flags; ++f) {
        const TWord after = f + 1 < flags ? a[f + 1] | b[f + 1] | c[f + 1] : 0;
        out[f] = here | (here << 1) | (before >> 63) | (here >> 1) | (after << 63);
        before = here;
        here = after;
    }
}

// Bit i of the result: word i of all of the lines a, b, c and the words
// either side of it are all ink.
void AllInkAround(const TWord *a, const TWord *b, const TWord *c, int flags, TWord *out)
{
    TWord before = 0, here = a[0] & b[0] & c[0];
    for (int f = 0; f < flags; ++f) {
        const TWord after = f + 1 < flags ? a[f + 1] & b[f + 1] & c[f + 1] : 0;
        out[f] = here & ((here << 1) | (before >> 63)) & ((here >> 1) | (after << 63));
        before = here;
        here = after;
    }
}

// A chain of erosions and dilations worked out a line at a time: level 0 is
// the ink, level k is level k - 1 eroded (or dilated) by the 3 x 3 square or
// by the cross. Each level keeps only its last four lines, with the bits of
// TWordBits, so that a step works out only the words that can come out
// inked but not all ink: under an erosion those where the line and the
// lines either side all have ink, under a dilation those next to ink on any
// of them. Lines outside the ink are paper.
class TMorphChain
{
public:
    struct TStep
    {
        bool Square, Dilate;
    };

    // `bits`: the ink's (which must outlast the chain).
    TMorphChain(const TBlackMask &ink, const TWordBits &bits, std::vector<TStep> steps);

    // Line y of level k: one of the last four worked out at that level, or
    // paper outside the ink. Words -1 and Words() are paper.
    const TWord *Line(std::size_t k, int y) const
    {
        if (y < 0 || y >= Ink.Height())
            return Paper.data() + 1;
        if (k == 0)
            return Ink.Line(y);
        return Lines.data() + Slot(k, y) * static_cast<std::size_t>(Words + 2) + 1;
    }
    // The bits of TWordBits of line y of level k.
    const TWord *Inked(std::size_t k, int y) const { return Bits(InkBits.Inked, LevelInked, k, y); }
    const TWord *Full(std::size_t k, int y) const { return Bits(InkBits.Full, LevelFull, k, y); }
    bool HasInk(std::size_t k, int y) const
    {
        if (y < 0 || y >= Ink.Height())
            return false;
        return k == 0 ? InkBits.Any[static_cast<std::size_t>(y)] : Any[Slot(k, y)];
    }
    int FlagWords() const { return Flags; }
    // Line t - k of each level k >= 1; the lines of level k from line t0 + k
    // on are right when the first call was Advance(t0).
    void Advance(int t);

private:
    std::size_t Slot(std::size_t k, int y) const { return 4 * (k - 1) + static_cast<std::size_t>(y & 3); }
    const TWord *Bits(const std::vector<TWord> &ink, const std::vector<TWord> &levels, std::size_t k, int y) const
    {
        if (y < 0 || y >= Ink.Height())
            return Paper.data() + 1;
        if (k == 0)
            return ink.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Flags);
        return levels.data() + Slot(k, y) * static_cast<std::size_t>(Flags);
    }

    const TBlackMask &Ink;
    const TWordBits &InkBits;
    std::vector<TStep> Steps;
    int Words, Flags;
    // Level k's lines from slot 4 (k - 1) on, with their bits.
    std::vector<TWord> Lines, LevelInked, LevelFull;
    std::vector<char> Any;
    std::vector<TWord> Paper;
    std::vector<TWord> Worked, Filled;  // the words a step works out, and those it fills
};

TMorphChain::TMorphChain(const TBlackMask &ink, const TWordBits &bits, std::vector<TStep> steps)
    : Ink(ink), InkBits(bits), Steps(std::move(steps)), Words(ink.Words()), Flags(bits.Flags)
{
    const std::size_t slots = 4 * Steps.size();
    Lines.assign(slots * static_cast<std::size_t>(Words + 2), 0);
    LevelInked.assign(slots * static_cast<std::size_t>(Flags), 0);
    LevelFull.assign(slots * static_cast<std::size_t>(Flags), 0);
    Any.assign(slots, 0);
    Paper.assign(static_cast<std::size_t>(std::max(Words, Flags) + 2), 0);
    Worked.assign(static_cast<std::size_t>(Flags), 0);
    Filled.assign(static_cast<std::size_t>(Flags), 0);
}

// Line `o` of one step from lines r0, r1, r2, at the words of `words`;
// `inked` and `full` get the bits of TWordBits of the words worked out.
template <bool Square, bool Dilate>
void StepWords(const TWord *r0, const TWord *r1, const TWord *r2, const TWord *words, int flags, TWord last,
               int lastWord, TWord *o, TWord *inked, TWord *full)
{
    for (int f = 0; f < flags; ++f) {
        TWord in = 0, all = 0;
        for (TWord w = words[f]; w; w &= w - 1) {
            const int b = std::countr_zero(w), i = 64 * f + b;
            // The square's step is a step along the line of the three lines
            // put together (each bit the and of theirs, or the or); the
            // cross's a step along the middle line, with the bits above and
            // below.
            const auto line = [&](int j) {
                if (!Square)
                    return r1[j];
                return Dilate ? r0[j] | r1[j] | r2[j] : r0[j] & r1[j] & r2[j];
            };
            const TWord here = line(i);
            // Pixel x - 1 and x + 1 of each pixel x of the word.
            const TWord left = (here << 1) | (line(i - 1) >> 63), right = (here >> 1) | (line(i + 1) << 63);
            TWord v;
            if (Dilate)
                v = here | left | right | (Square ? 0 : r0[i] | r2[i]);
            else
                v = here & left & right & (Square ? ~TWord(0) : r0[i] & r2[i]);
            if (i == lastWord)
                v &= last;
            if (v) {
                o[i] = v;
                in |= TWord(1) << b;
                all |= TWord(v == ~TWord(0)) << b;
            }
        }
        inked[f] |= in;
        full[f] |= all;
    }
}

void TMorphChain::Advance(int t)
{
    const int height = Ink.Height();
    const TWord last = LastWordMask(Ink.Width()), lastFlag = LastWordMask(Words);
    for (std::size_t k = 1; k <= Steps.size(); ++k) {
        const int y = t - static_cast<int>(k);
        if (y < 0 || y >= height)
            continue;
        const std::size_t slot = Slot(k, y);
        TWord *o = Lines.data() + slot * static_cast<std::size_t>(Words + 2) + 1;
        TWord *inked = LevelInked.data() + slot * static_cast<std::size_t>(Flags);
        TWord *full = LevelFull.data() + slot * static_cast<std::size_t>(Flags);
        // The line four back, which this one replaces, cleared.
        if (Any[slot]) {
            for (int f = 0; f < Flags; ++f) {
                for (TWord b = inked[f]; b; b &= b - 1)
                    o[64 * f + std::countr_zero(b)] = 0;
                inked[f] = full[f] = 0;
            }
            Any[slot] = 0;
        }
        const TStep step = Steps[k - 1];
        const bool above = HasInk(k - 1, y - 1), here = HasInk(k - 1, y), below = HasInk(k - 1, y + 1);
        if (step.Dilate ? !(above || here || below) : !(above && here && below))
            continue;
        const TWord *rows[3] = {Line(k - 1, y - 1), Line(k - 1, y), Line(k - 1, y + 1)};
        const TWord *in[3] = {Inked(k - 1, y - 1), Inked(k - 1, y), Inked(k - 1, y + 1)};
        const TWord *all[3] = {Full(k - 1, y - 1), Full(k - 1, y), Full(k - 1, y + 1)};
        // Words all ink come out all ink: under a dilation next to a word
        // all ink on one of the lines, under an erosion where the three
        // lines are all ink about them.
        if (step.Dilate) {
            NextToInk(in[0], in[1], in[2], Flags, Worked.data());
            for (int f = 0; f < Flags; ++f)
                Filled[static_cast<std::size_t>(f)] = all[0][f] | all[1][f] | all[2][f];
        } else {
            for (int f = 0; f < Flags; ++f)
                Worked[static_cast<std::size_t>(f)] = in[0][f] & in[1][f] & in[2][f];
            AllInkAround(all[0], all[1], all[2], Flags, Filled.data());
        }
        Worked.back() &= lastFlag;
        TWord any = 0;
        for (int f = 0; f < Flags; ++f) {
            const TWord filled = Filled[static_cast<std::size_t>(f)];
            Worked[static_cast<std::size_t>(f)] &= ~filled;
            for (TWord b = filled; b; b &= b - 1)
                o[64 * f + std::countr_zero(b)] = ~TWord(0);
            inked[f] = full[f] = filled;
            any |= filled | Worked[static_cast<std::size_t>(f)];
        }
        if (!any)
            continue;
        const auto run = step.Dilate ? (step.Square ? StepWords<true, true> : StepWords<false, true>)
                                     : (step.Square ? StepWords<true, false> : StepWords<false, false>);
        run(rows[0], rows[1], rows[2], Worked.data(), Flags, last, Words - 1, o, inked, full);
        any = 0;
        for (int f = 0; f < Flags; ++f)
            any |= inked[f];
        Any[slot] = any != 0;
    }
}

// The pixels of line y of level k - 1 of the chain that level k grown by
// the square does not reach; `reached` holds TWordBits::Flags words.
std::int64_t RidgePixels(const TMorphChain &chain, std::size_t k, int y, TWord *reached)
{
    if (!chain.HasInk(k - 1, y))
        return 0;
    const TWord *l = chain.Line(k - 1, y), *inked = chain.Inked(k - 1, y), *full = chain.Full(k, y);
    const TWord *rows[3] = {chain.Line(k, y - 1), chain.Line(k, y), chain.Line(k, y + 1)};
    // (words far from level k's ink are not reached at all; those all ink
    // on it, wholly)
    NextToInk(chain.Inked(k, y - 1), chain.Inked(k, y), chain.Inked(k, y + 1), chain.FlagWords(), reached);
    std::int64_t n = 0;
    for (int f = 0; f < chain.FlagWords(); ++f) {
        for (TWord b = inked[f] & ~reached[f]; b; b &= b - 1)
            n += Ones(l[64 * f + std::countr_zero(b)]);
        for (TWord b = inked[f] & reached[f] & ~full[f]; b; b &= b - 1) {
            const int i = 64 * f + std::countr_zero(b);
            TWord grown = 0;
            for (const TWord *r : rows)
                grown |= r[i] | (r[i] << 1) | (r[i - 1] >> 63) | (r[i] >> 1) | (r[i + 1] << 63);
            n += Ones(l[i] & ~grown);
        }
    }
    return n;
}

struct TPixelXY
{
    int X, Y;
};

struct TRun
{
    int Row, A, B;  // pixels A .. B of the row
};

std::size_t PixelCount(const std::vector<TRun> &runs)
{
    std::size_t n = 0;
    for (const TRun &r : runs)
        n += static_cast<std::size_t>(r.B - r.A + 1);
    return n;
}

// The bits of word i that pixels a .. b of its line cover.
TWord RunBits(int i, int a, int b)
{
    TWord m = ~TWord(0);
    if (i == a >> 6)
        m &= ~TWord(0) << (a & 63);
    if (i == b >> 6)
        m &= ~TWord(0) >> (63 - (b & 63));
    return m;
}

// Pixels a .. b of a line set (or cleared).
void MarkRun(TWord *line, int a, int b, bool ink)
{
    for (int i = a >> 6; i <= b >> 6; ++i) {
        const TWord m = RunBits(i, a, b);
        line[i] = ink ? line[i] | m : line[i] & ~m;
    }
}

// The 8-connected piece of `mask` at (x, y) as the runs of its rows, each
// once, cleared from it.
std::vector<TRun> TakePiece(TBlackMask &mask, int x, int y)
{
    // The run through pixel px of a row, cleared: it ends at paper on
    // either side (the words either side of a line are paper).
    const auto take = [&mask](int row, int px) {
        TWord *l = mask.Line(row);
        int i = px >> 6;
        TWord paper = ~l[i] & ((TWord(2) << (px & 63)) - 1);
        while (!paper)
            paper = ~l[--i];
        const int a = 64 * i + 64 - std::countl_zero(paper);
        i = px >> 6;
        paper = ~l[i] & (~TWord(0) << (px & 63));
        while (!paper)
            paper = ~l[++i];
        const int b = 64 * i + std::countr_zero(paper) - 1;
        MarkRun(l, a, b, false);
        return TRun{row, a, b};
    };
    std::vector<TRun> piece{take(y, x)};
    for (std::size_t j = 0; j < piece.size(); ++j) {
        const TRun r = piece[j];
        for (const int row : {r.Row - 1, r.Row + 1}) {
            if (row < 0 || row >= mask.Height())
                continue;
            const TWord *l = mask.Line(row);
            const int a = std::max(0, r.A - 1), b = std::min(mask.Width() - 1, r.B + 1);
            for (int i = a >> 6; i <= b >> 6; ++i)
                while (const TWord bits = l[i] & RunBits(i, a, b))
                    piece.push_back(take(row, 64 * i + std::countr_zero(bits)));
        }
    }
    return piece;
}

// Four-cornered pieces that follow the rows of a fill (the pixels of `runs`
// and `more`) to within a pixel, and its outline. `height`: the sheet's
// (Y = height - row).
void CoverRows(const std::vector<TRun> &runs, const std::vector<TPixelXY> &more, int height, TDrawingFill &fill)
{
    // The runs of each row that has any, rows and runs in order: the pixels
    // set in a bitmap of their box, read back row by row.
    int x0 = runs.front().A, x1 = runs.front().B, y0 = runs.front().Row, y1 = y0;
    for (const TRun &r : runs) {
        x0 = std::min(x0, r.A);
        x1 = std::max(x1, r.B);
        y0 = std::min(y0, r.Row);
        y1 = std::max(y1, r.Row);
    }
    for (const TPixelXY &p : more) {
        x0 = std::min(x0, p.X);
        x1 = std::max(x1, p.X);
        y0 = std::min(y0, p.Y);
        y1 = std::max(y1, p.Y);
    }
    const std::size_t words = static_cast<std::size_t>((x1 - x0) / 64 + 1);
    std::vector<TWord> box(words * static_cast<std::size_t>(y1 - y0 + 1), 0);
    for (const TRun &r : runs)
        MarkRun(box.data() + static_cast<std::size_t>(r.Row - y0) * words, r.A - x0, r.B - x0, true);
    for (const TPixelXY &p : more)
        box[static_cast<std::size_t>(p.Y - y0) * words + static_cast<std::size_t>((p.X - x0) / 64)] |= TWord(1) << ((p.X - x0) & 63);
    std::vector<std::vector<TRun>> rows;
    for (int row = y0; row <= y1; ++row) {
        std::vector<TRun> found;
        const TWord *line = box.data() + static_cast<std::size_t>(row - y0) * words;
        for (std::size_t i = 0; i < words; ++i)
            for (TWord bits = line[i]; bits;) {
                const int from = std::countr_zero(bits);
                const int to = std::min(64, from + std::countr_zero(~(bits >> from)));
                const int a = x0 + 64 * static_cast<int>(i) + from, b = x0 + 64 * static_cast<int>(i) + to - 1;
                if (!found.empty() && a == found.back().B + 1)
                    found.back().B = b;
                else
                    found.push_back({row, a, b});
                bits = to == 64 ? 0 : bits & (~TWord(0) << to);
            }
        if (!found.empty())
            rows.push_back(std::move(found));
    }
    // A track: runs of consecutive rows that overlap one another one to one,
    // cut into pieces whose straight sides stay within a pixel of the runs.
    struct TTrack
    {
        std::vector<std::vector<TRun>> Pieces;
        bool Upright = true;  // every run of the last piece has the ends of its first
    };
    std::vector<TTrack> done, open, next;
    const auto fits = [](const TTrack &track, const TRun &next) {
        const std::vector<TRun> &piece = track.Pieces.back();
        const TRun &first = piece.front();
        // (no run is off an upright piece that goes on upright)
        if (track.Upright && next.A == first.A && next.B == first.B)
            return true;
        const double span = next.Row - first.Row;
        for (const TRun &r : piece) {
            const double t = (r.Row - first.Row) / span;
            if (std::fabs(first.A + t * (next.A - first.A) - r.A) > 1 ||
                std::fabs(first.B + t * (next.B - first.B) - r.B) > 1)
                return false;
        }
        return true;
    };
    const auto overlap = [](const TRun &a, const TRun &b) { return a.A <= b.B + 1 && b.A <= a.B + 1; };
    std::vector<int> used, overlaps;
    std::vector<TRun> last;
    std::vector<bool> continued;
    for (const std::vector<TRun> &found : rows) {
        next.clear();
        used.assign(open.size(), 0);
        overlaps.assign(found.size(), 0);
        last.clear();
        for (const TTrack &t : open)
            last.push_back(t.Pieces.back().back());
        for (std::size_t t = 0; t < open.size(); ++t)
            for (std::size_t r = 0; r < found.size(); ++r)
                if (overlap(last[t], found[r])) {
                    ++used[t];
                    ++overlaps[r];
                }
        continued.assign(open.size(), false);
        for (std::size_t r = 0; r < found.size(); ++r) {
            int track = -1;
            for (std::size_t t = 0; t < open.size(); ++t)
                if (used[t] == 1 && overlaps[r] == 1 && overlap(last[t], found[r]))
                    track = static_cast<int>(t);
            if (track < 0) {
                TTrack fresh;
                fresh.Pieces.push_back(std::vector<TRun>(1, found[r]));
                next.push_back(std::move(fresh));
                continue;
            }
            TTrack &tr = open[static_cast<std::size_t>(track)];
            continued[static_cast<std::size_t>(track)] = true;
            if (fits(tr, found[r])) {
                const TRun &first = tr.Pieces.back().front();
                tr.Upright = tr.Upright && found[r].A == first.A && found[r].B == first.B;
                tr.Pieces.back().push_back(found[r]);
            } else {
                tr.Pieces.push_back(std::vector<TRun>(1, found[r]));
                tr.Upright = true;
            }
            next.push_back(std::move(tr));
        }
        for (std::size_t t = 0; t < open.size(); ++t)
            if (!continued[t])
                done.push_back(std::move(open[t]));
        open.swap(next);
    }
    for (TTrack &t : open)
        done.push_back(std::move(t));

    for (const TTrack &track : done) {
        std::vector<std::pair<double, double>> right, left;
        for (const std::vector<TRun> &piece : track.Pieces) {
            const TRun &a = piece.front(), &b = piece.back();
            const double top = height - a.Row + 0.5, bottom = height - b.Row - 0.5;
            fill.Solids.push_back({a.A - 0.5, top, a.B + 0.5, top, b.A - 0.5, bottom, b.B + 0.5, bottom});
            right.emplace_back(a.B + 0.5, top);
            right.emplace_back(b.B + 0.5, bottom);
            left.emplace_back(a.A - 0.5, top);
            left.emplace_back(b.A - 0.5, bottom);
        }
        // Round the track: across its top, down its right side, across its
        // foot and up its left side.
        std::vector<std::pair<double, double>> ring = {left.front()};
        ring.insert(ring.end(), right.begin(), right.end());
        ring.insert(ring.end(), left.rbegin(), left.rend());
        for (std::size_t k = 0; k + 1 < ring.size(); ++k)
            if (ring[k] != ring[k + 1])
                fill.Outline.push_back(TSegment{static_cast<float>(ring[k].first), static_cast<float>(ring[k].second),
                                                static_cast<float>(ring[k + 1].first),
                                                static_cast<float>(ring[k + 1].second)});
    }
}

// A fill is a dot when its pixels (those of `runs` and `more`) are those of a
// disk about their middle.
bool RoundFill(const std::vector<TRun> &runs, const std::vector<TPixelXY> &more, double &cx, double &cy, double &r)
{
    // (sums of whole numbers: the same in any order)
    std::int64_t sx = 0, sy = 0, count = 0;
    for (const TRun &run : runs) {
        const std::int64_t n = run.B - run.A + 1;
        sx += n * (run.A + run.B) / 2;
        sy += n * run.Row;
        count += n;
    }
    for (const TPixelXY &p : more) {
        sx += p.X;
        sy += p.Y;
        ++count;
    }
    const double n = static_cast<double>(count);
    cx = static_cast<double>(sx) / n;
    cy = static_cast<double>(sy) / n;
    r = std::sqrt(n / std::numbers::pi);
    if (r < 2.5)
        return false;
    double inside = 0;
    const auto near = [&](int x, int y) {
        const double d = std::hypot(x - cx, y - cy);
        inside += d <= r - 1;
        return d <= r + 1.0;
    };
    for (const TRun &run : runs)
        for (int x = run.A; x <= run.B; ++x)
            if (!near(x, run.Row))
                return false;
    for (const TPixelXY &p : more)
        if (!near(p.X, p.Y))
            return false;
    return inside >= 0.95 * std::numbers::pi * (r - 1) * (r - 1);
}

} // namespace

TFills FindFills(const TBlackMask &ink, int threads)
{
    // (The fills, their core and the small pieces are masks of little ink
    // here and there.)
    TFills out;
    out.Mask = TBlackMask::Sparse(ink.Width(), ink.Height());
    if (ink.Width() == 0 || ink.Height() == 0)
        return out;
    // Ridge pixels by depth: E(k) is the ink after k erosions, alternately by
    // the square and by the cross; a pixel of depth k is in E(k - 1) but not
    // E(k), and a ridge pixel has no neighbour in E(k). The erosions go down
    // each band of lines together, each a few lines behind the one before
    // (no erosion is held whole: a big sheet's mask is tens of megabytes).
    constexpr int kDeepest = 24;
    std::vector<TMorphChain::TStep> erosions;
    for (int k = 1; k <= kDeepest; ++k)
        erosions.push_back({k % 2 == 1, false});
    const TWordBits inkBits(ink, threads);
    const std::size_t bands = static_cast<std::size_t>(std::max(1, threads));
    std::vector<std::vector<std::int64_t>> counts(bands, std::vector<std::int64_t>(kDeepest + 1, 0));
    std::vector<std::vector<char>> inked(bands, std::vector<char>(kDeepest + 1, 0));
    InBands(threads, ink.Height(), [&](std::size_t band, int y0, int y1) {
        TMorphChain chain(ink, inkBits, erosions);
        std::vector<TWord> reached(static_cast<std::size_t>(inkBits.Flags));
        for (int t = y0 - kDeepest - 1; t <= y1 + kDeepest; ++t) {
            chain.Advance(t);
            for (int k = 1; k <= kDeepest; ++k) {
                const int y = t - k - 1;
                if (y < y0 || y >= y1)
                    continue;
                counts[band][static_cast<std::size_t>(k)] += RidgePixels(chain, static_cast<std::size_t>(k), y, reached.data());
                inked[band][static_cast<std::size_t>(k)] |= chain.HasInk(static_cast<std::size_t>(k), y);
            }
        }
    });
    // Up to the first erosion that leaves nothing.
    std::vector<std::int64_t> ridges{0};
    std::int64_t total = 0;
    for (std::size_t k = 1; k <= kDeepest; ++k) {
        std::int64_t n = 0;
        bool empty = true;
        for (std::size_t band = 0; band < bands; ++band) {
            n += counts[band][k];
            empty = empty && !inked[band][k];
        }
        ridges.push_back(n);
        total += n;
        if (empty)
            break;
    }
    // The lines' depth: the deepest that holds a good share of the ridges,
    // or deeper while every depth from the thinnest on holds a small share
    // as long as some twenty strokes' widths (a few thick lines among many
    // thin ones: their ridges are few, but they follow on from the thinner
    // ones, where a fill's stand apart and a wedge has a few at each depth).
    int depth = 1;
    for (std::size_t k = 2; k < ridges.size(); ++k)
        if (ridges[k] >= 0.03 * total)
            depth = static_cast<int>(k);
    for (std::size_t k = 2; k < ridges.size(); ++k) {
        if (ridges[k] < 0.01 * total || ridges[k] < 20 * static_cast<std::int64_t>(2 * k + 1))
            break;
        depth = std::max(depth, static_cast<int>(k));
    }
    // Deeper than the lines, grown back by the same steps in reverse: the
    // core, written where it has ink.
    std::vector<TMorphChain::TStep> opening;
    for (int k = 1; k <= depth; ++k)
        opening.push_back({k % 2 == 1, false});
    for (int k = depth; k >= 1; --k)
        opening.push_back({k % 2 == 1, true});
    TBlackMask core = TBlackMask::Sparse(ink.Width(), ink.Height());
    std::vector<char> coreLines(static_cast<std::size_t>(ink.Height()), 0);
    InBands(threads, ink.Height(), [&](std::size_t, int y0, int y1) {
        TMorphChain chain(ink, inkBits, opening);
        const int levels = static_cast<int>(opening.size());
        for (int t = y0 - levels - 1; t < y1 + levels; ++t) {
            chain.Advance(t);
            const int y = t - levels;
            if (y < y0)
                continue;
            const TWord *grown = chain.Line(opening.size(), y), *inked = chain.Inked(opening.size(), y);
            const TWord *inkLine = ink.Line(y);
            TWord *coreLine = core.Line(y);
            for (int f = 0; f < chain.FlagWords(); ++f)
                for (TWord b = inked[f]; b; b &= b - 1) {
                    const int i = 64 * f + std::countr_zero(b);
                    // (written only where it has ink: the rest stays untouched)
                    if (const TWord word = grown[i] & inkLine[i]) {
                        coreLine[i] = word;
                        coreLines[static_cast<std::size_t>(y)] = 1;
                    }
                }
        }
    });

    const double smallest = std::max(40.0, 1.2 * (2 * depth + 1) * (2 * depth + 1));
    const int margin = 4 * depth + 6;
    // The pieces are taken from the core itself, not from a copy (a big
    // sheet's mask is tens of megabytes). Below, the other ink is the ink
    // that is neither core nor fill: a piece taken is in the fill mask when
    // it is a fill, and a piece too small for one is put there until the end
    // (its pixels kept to be taken out again: listed, or marked in a mask
    // of their own once the list would outgrow one), so that neither counts
    // as other ink.
    std::vector<TRun> small;
    TBlackMask smallMask;
    const std::size_t mostListed =
        static_cast<std::size_t>(ink.Words()) * static_cast<std::size_t>(ink.Height()) * sizeof(TWord) / sizeof(TRun);
    for (int y = 0; y < ink.Height(); ++y) {
        if (!coreLines[static_cast<std::size_t>(y)])
            continue;
        for (int i = 0; i < ink.Words(); ++i) {
            while (TWord bits = core.Line(y)[i]) {
                const int x = 64 * i + std::countr_zero(bits);
                const std::vector<TRun> piece = TakePiece(core, x, y);
                const std::size_t area = PixelCount(piece);
                if (static_cast<double>(area) < smallest) {
                    for (const TRun &r : piece)
                        MarkRun(out.Mask.Line(r.Row), r.A, r.B, true);
                    if (smallMask.Width() == 0 && small.size() + piece.size() > mostListed) {
                        smallMask = TBlackMask::Sparse(ink.Width(), ink.Height());
                        for (const TRun &r : small)
                            MarkRun(smallMask.Line(r.Row), r.A, r.B, true);
                        std::vector<TRun>().swap(small);
                    }
                    if (smallMask.Width() > 0) {
                        for (const TRun &r : piece)
                            MarkRun(smallMask.Line(r.Row), r.A, r.B, true);
                    } else {
                        small.insert(small.end(), piece.begin(), piece.end());
                    }
                    continue;
                }
                // The narrow parts that only touch the piece: pieces of the
                // other ink near it that reach nowhere else.
                int x0 = x, x1 = x, y0 = y, y1 = y;
                for (const TRun &r : piece) {
                    x0 = std::min(x0, r.A);
                    x1 = std::max(x1, r.B);
                    y0 = std::min(y0, r.Row);
                    y1 = std::max(y1, r.Row);
                }
                x0 = std::max(0, x0 - margin);
                y0 = std::max(0, y0 - margin);
                x1 = std::min(ink.Width() - 1, x1 + margin);
                y1 = std::min(ink.Height() - 1, y1 + margin);
                const int w = x1 - x0 + 1, h = y1 - y0 + 1;
                // 0 paper, 1 other ink, 2 the piece, 3 seen
                std::vector<std::uint8_t> window(static_cast<std::size_t>(w) * h, 0);
                const auto at = [&](int px, int py) -> std::uint8_t & {
                    return window[static_cast<std::size_t>(py - y0) * w + (px - x0)];
                };
                // (word by word: the ink that is neither the core nor a fill,
                // the piece among the fills already)
                for (const TRun &r : piece)
                    MarkRun(out.Mask.Line(r.Row), r.A, r.B, true);
                const auto otherInk = [&](int py, int i) {
                    TWord bits = ink.Line(py)[i] & ~core.Line(py)[i] & ~out.Mask.Line(py)[i];
                    if (i == x0 >> 6)
                        bits &= ~TWord(0) << (x0 & 63);
                    if (i == x1 >> 6)
                        bits &= ~TWord(0) >> (63 - (x1 & 63));
                    return bits;
                };
                for (int py = y0; py <= y1; ++py)
                    for (int i = x0 >> 6; i <= x1 >> 6; ++i)
                        for (TWord bits = otherInk(py, i); bits; bits &= bits - 1)
                            at(64 * i + std::countr_zero(bits), py) = 1;
                for (const TRun &r : piece)
                    std::fill(&at(r.A, r.Row), &at(r.B, r.Row) + 1, std::uint8_t{2});
                // The other ink that is of the fill after all.
                std::vector<TPixelXY> more;
                // The other ink's parts: each one's pixels, whether it touches
                // the piece and whether it leads out of the window.
                struct TPart
                {
                    std::vector<TPixelXY> Pixels;
                    bool Border = false, Touches = false;
                };
                std::vector<TPart> parts;
                std::vector<int> label(window.size(), -1);
                for (int py = y0; py <= y1; ++py)
                    for (int i = x0 >> 6; i <= x1 >> 6; ++i)
                        for (TWord bits = otherInk(py, i); bits; bits &= bits - 1) {
                            const int px = 64 * i + std::countr_zero(bits);
                            if (at(px, py) != 1)
                                continue;
                            TPart part;
                            std::vector<TPixelXY> stack{{px, py}};
                            at(px, py) = 3;
                            while (!stack.empty()) {
                                const TPixelXY p = stack.back();
                                stack.pop_back();
                                part.Pixels.push_back(p);
                                label[static_cast<std::size_t>(p.Y - y0) * w + (p.X - x0)] = static_cast<int>(parts.size());
                                part.Border = part.Border || p.X == x0 || p.X == x1 || p.Y == y0 || p.Y == y1;
                                for (int dy = -1; dy <= 1; ++dy)
                                    for (int dx = -1; dx <= 1; ++dx) {
                                        const int qx = p.X + dx, qy = p.Y + dy;
                                        if (qx < x0 || qx > x1 || qy < y0 || qy > y1)
                                            continue;
                                        std::uint8_t &v = at(qx, qy);
                                        part.Touches = part.Touches || v == 2;
                                        if (v == 1) {
                                            v = 3;
                                            stack.push_back({qx, qy});
                                        }
                                    }
                            }
                            parts.push_back(std::move(part));
                        }
                for (const TPart &part : parts) {
                    if (part.Border || !part.Touches || part.Pixels.size() > area)
                        continue;
                    // A part with two pixels of paper or less between it and
                    // ink that leads on out of the window without touching
                    // the piece is a bit of a stroke the scan broke (an
                    // arrow's shaft next to its head), no narrow tip of it.
                    bool broken = false;
                    for (std::size_t q = 0; q < part.Pixels.size() && !broken; ++q)
                        for (int dy = -3; dy <= 3 && !broken; ++dy)
                            for (int dx = -3; dx <= 3 && !broken; ++dx) {
                                const int qx = part.Pixels[q].X + dx, qy = part.Pixels[q].Y + dy;
                                if (qx < x0 || qx > x1 || qy < y0 || qy > y1)
                                    continue;
                                const int l = label[static_cast<std::size_t>(qy - y0) * w + (qx - x0)];
                                broken = l >= 0 && parts[static_cast<std::size_t>(l)].Border &&
                                    !parts[static_cast<std::size_t>(l)].Touches;
                            }
                    if (!broken)
                        more.insert(more.end(), part.Pixels.begin(), part.Pixels.end());
                }
                // A bit of a shape the scan parted from it by a pixel of
                // paper (an arrowhead's point) is of it all the same: a part
                // no bigger than a tip that leads nowhere else. (A dot stays
                // a dot.)
                double cx = 0, cy = 0, r = 0;
                const bool round = RoundFill(piece, more, cx, cy, r);
                for (const TPixelXY &p : more)
                    at(p.X, p.Y) = 2;
                for (const TPart &part : parts) {
                    if (round || part.Border || part.Touches ||
                        part.Pixels.size() > 2 * static_cast<std::size_t>(depth + 1) * static_cast<std::size_t>(depth + 1))
                        continue;
                    bool near = false;
                    for (std::size_t q = 0; q < part.Pixels.size() && !near; ++q)
                        for (int dy = -2; dy <= 2 && !near; ++dy)
                            for (int dx = -2; dx <= 2 && !near; ++dx) {
                                const int qx = part.Pixels[q].X + dx, qy = part.Pixels[q].Y + dy;
                                near = qx >= x0 && qx <= x1 && qy >= y0 && qy <= y1 && at(qx, qy) == 2;
                            }
                    if (near)
                        more.insert(more.end(), part.Pixels.begin(), part.Pixels.end());
                }
                for (const TPixelXY &p : more)
                    out.Mask.SetBlack(p.X, p.Y);
                TDrawingFill fill;
                if (round) {
                    fill.Dot = true;
                    fill.X = cx;
                    fill.Y = ink.Height() - cy;
                    fill.R = r;
                } else {
                    CoverRows(piece, more, ink.Height(), fill);
                }
                out.Shapes.push_back(std::move(fill));
            }
        }
    }
    for (const TRun &r : small)
        MarkRun(out.Mask.Line(r.Row), r.A, r.B, false);
    if (smallMask.Width() > 0)
        for (int y = 0; y < ink.Height(); ++y)
            for (int i = 0; i < ink.Words(); ++i)
                out.Mask.Line(y)[i] &= ~smallMask.Line(y)[i];
    return out;
}


void TInkFrame::ToInk(double &x, double &y) const
{
    if (Skew == 0)
        return;
    const double a = Skew * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    const double cx = Width / 2.0, cy = Height / 2.0, dx = x - cx, dy = y - cy;
    x = cx + c * dx - s * dy;
    y = cy + s * dx + c * dy;
}

void TInkFrame::FromInk(double &x, double &y) const
{
    if (Skew == 0)
        return;
    const double a = -Skew * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    const double cx = Width / 2.0, cy = Height / 2.0, dx = x - cx, dy = y - cy;
    x = cx + c * dx - s * dy;
    y = cy + s * dx + c * dy;
}

namespace {

// std::lround without the library call: half away from zero (v less its
// whole part is exact), the library's for what is no pixel coordinate.
[[gnu::always_inline]] inline long Round(double v)
{
    if (!(std::fabs(v) < 1e15))
        return std::lround(v);
    const long whole = static_cast<long>(v);
    const double part = v - static_cast<double>(whole);
    return part >= 0.5 ? whole + 1 : part <= -0.5 ? whole - 1 : whole;
}

// Whether the pixel at drawing point (x, y) is ink: column x, row height - y,
// both rounded by Round. For points that mostly fall on the pixel of the
// point before: those that round to the last ink pixel found (its cell) are
// ink without a look at the mask.
template <class TMask = TBlackMask> class TInkProbe
{
public:
    explicit TInkProbe(const TMask &mask) : Mask(mask), Height(mask.Height()) {}

    [[gnu::always_inline]] bool operator()(double x, double y)
    {
        const double row = Height - y;
        if (x >= X0 && x < X1 && row >= Row0 && row < Row1)
            return true;
        return Look(x, row, X0, X1, Row0, Row1);
    }
    // How far from (x, y), in the cell (or with no cell yet), a walk goes
    // along (ux, uy) on the ink: s = step / 2, 3 step / 2, ... while below
    // `limit` and the point (x + s ux, y + s uy) is ink.
    double Walk(double x, double y, double ux, double uy, double step, double limit) const
    {
        if (ux >= 0)
            return uy <= 0 ? Walk<true, true>(x, y, ux, uy, step, limit) : Walk<true, false>(x, y, ux, uy, step, limit);
        return uy <= 0 ? Walk<false, true>(x, y, ux, uy, step, limit) : Walk<false, false>(x, y, ux, uy, step, limit);
    }

private:
    // Whether the pixel at x, Height - row is ink; the cell that of the
    // pixel when it is.
    [[gnu::always_inline]] bool Look(double x, double row, double &x0, double &x1, double &row0, double &row1) const
    {
        if (!(x >= 0 && x < 1e15 && row >= 0 && row < 1e15)) {
            // (no cell where Round is std::lround's, nor below 0)
            x0 = row0 = kNone;
            x1 = row1 = -kNone;
            return Mask.Black(static_cast<int>(Round(x)), static_cast<int>(Round(row)));
        }
        // Round for what is no less than 0: the whole part, and 1 more from
        // a half on.
        const long wholeX = static_cast<long>(x), wholeRow = static_cast<long>(row);
        const long column = wholeX + (x - static_cast<double>(wholeX) >= 0.5);
        const long line = wholeRow + (row - static_cast<double>(wholeRow) >= 0.5);
        if (!Mask.Black(static_cast<int>(column), static_cast<int>(line)))
            return false;
        // What Round takes to p, from p - 0.5 (or 0) on to below p + 0.5.
        x0 = std::max(static_cast<double>(column) - 0.5, 0.0);
        x1 = static_cast<double>(column) + 0.5;
        row0 = std::max(static_cast<double>(line) - 0.5, 0.0);
        row1 = static_cast<double>(line) + 0.5;
        return true;
    }

    // Walk for a walk towards +x (or -x) and +row (or -row): its points go
    // one way along each axis, so they stay in a cell till they pass its
    // far side.
    template <bool Right, bool Down>
    double Walk(double x, double y, double ux, double uy, double step, double limit) const
    {
        double x0 = X0, x1 = X1, row0 = Row0, row1 = Row1;
        double s = step / 2;
        for (; s < limit; s += step) {
            const double px = x + s * ux, row = Height - (y + s * uy);
            if ((Right ? px < x1 : px >= x0) && (Down ? row < row1 : row >= row0))
                continue;
            if (!Look(px, row, x0, x1, row0, row1))
                break;
        }
        return s;
    }

    static constexpr double kNone = std::numeric_limits<double>::infinity();
    const TMask &Mask;
    double Height;
    double X0 = kNone, X1 = -kNone, Row0 = kNone, Row1 = -kNone;  // no cell yet
};

} // namespace

namespace {

// ExtendIntoFills on the fills' mask or on its lines packed.
template <class TMask>
void ExtendIntoFillsOn(TDrawing &drawing, const std::vector<TDrawingFill> &shapes, const TMask &mask,
                       const TInkFrame &frame, bool joined)
{
    TInkProbe<TMask> filled(mask);
    // (with `joined`: every line end, in order, so that the ends at a point
    // are counted; a big sheet has hundreds of thousands. -0 and 0 are one
    // point; an end with no number meets none.)
    using TPoint = std::pair<double, double>;
    std::vector<TPoint> ends;
    const auto numbered = [](const TPoint &p) { return !std::isnan(p.first) && !std::isnan(p.second); };
    if (joined) {
        ends.reserve(2 * drawing.Count(TEntityKind::Line));
        drawing.ForEachEntity([&](std::size_t, const TDrawingEntity &e) {
            if (e.Kind == TEntityKind::Line)
                for (const TPoint &p : {TPoint{e.X1, e.Y1}, TPoint{e.X2, e.Y2}})
                    if (numbered(p))
                        ends.push_back(p);
        });
        std::sort(ends.begin(), ends.end());
    }
    const auto meet = [&](const TPoint &p) {
        if (!joined || !numbered(p))
            return false;
        const auto [first, last] = std::equal_range(ends.begin(), ends.end(), p);
        return last - first > 1;
    };
    drawing.ChangeEachEntity([&](TDrawingEntity &e) {
        if (e.Kind != TEntityKind::Line)
            return;
        const bool meets[2] = {meet({e.X1, e.Y1}), meet({e.X2, e.Y2})};
        double ax = e.X1, ay = e.Y1, bx = e.X2, by = e.Y2;
        frame.ToInk(ax, ay);
        frame.ToInk(bx, by);
        const double length = std::hypot(bx - ax, by - ay);
        if (length < 1)
            return;
        const double reach = std::max(3.0, e.Width / 2.0 + 2);
        for (int end = 0; end < 2; ++end) {
            const double px = end ? bx : ax, py = end ? by : ay;
            const double ux = (end ? bx - ax : ax - bx) / length, uy = (end ? by - ay : ay - by) / length;
            double hit = -1;
            for (double s = 0.5; s <= reach && hit < 0; s += 0.5)
                if (filled(px + s * ux, py + s * uy))
                    hit = s;
            if (hit < 0)
                continue;
            const double hx = px + hit * ux, hy = py + hit * uy;
            double go = hit;
            const TDrawingFill *dot = nullptr;
            for (const TDrawingFill &f : shapes)
                if (f.Dot && std::hypot(hx - f.X, hy - f.Y) <= f.R + 1.5)
                    dot = &f;
            if (dot && meets[end] && std::hypot(px - dot->X, py - dot->Y) <= dot->R)
                continue;
            if (dot) {
                go = (dot->X - px) * ux + (dot->Y - py) * uy;
            } else {
                for (double s = hit; s <= hit + 400 && filled(px + s * ux, py + s * uy); s += 0.5)
                    go = s;
            }
            if (go <= 0)
                continue;
            double nx = px + go * ux, ny = py + go * uy;
            frame.FromInk(nx, ny);
            (end ? e.X2 : e.X1) = nx;
            (end ? e.Y2 : e.Y1) = ny;
        }
    });
}

} // namespace

void ExtendIntoFills(TDrawing &drawing, const TFills &fills, const TInkFrame &frame, bool joined)
{
    ExtendIntoFillsOn(drawing, fills.Shapes, fills.Mask, frame, joined);
}

void ExtendIntoFills(TDrawing &drawing, const std::vector<TDrawingFill> &shapes, const TPackedMask &mask,
                     const TInkFrame &frame, bool joined)
{
    // (a fill's lines have few runs: each is quickly unpacked where it is read)
    ExtendIntoFillsOn(drawing, shapes, TPackedMaskLines(mask), frame, joined);
}

void MeasureWidths(TDrawing &drawing, const TBlackMask &ink, const TInkFrame &frame, int threads)
{
    constexpr double kStep = 0.25;
    const auto measure = [&](TDrawingEntity &e) {
        // Points along the middle 80 % of the entity, every 2 pixels (64 at
        // most), each with the direction across the stroke there.
        double length = 0;
        if (e.Kind == TEntityKind::Line)
            length = std::hypot(e.X2 - e.X1, e.Y2 - e.Y1);
        else
            length = e.R * e.Sweep() * std::numbers::pi / 180;
        const int count = std::clamp(static_cast<int>(0.8 * length / 2), 1, 64);
        std::array<double, 64> widths;
        std::size_t measured = 0;
        TInkProbe probe(ink);
        // (a line's direction across it is the same at every point)
        double lineX = 1, lineY = 0;
        if (e.Kind == TEntityKind::Line && !(length < 1e-9)) {
            lineX = -(e.Y2 - e.Y1) / std::max(length, 1e-9);
            lineY = (e.X2 - e.X1) / std::max(length, 1e-9);
        }
        const bool turned = frame.Skew != 0;
        for (int k = 0; k < count; ++k) {
            const double t = 0.1 + 0.8 * (k + 0.5) / count;
            double x = 0, y = 0, nx = lineX, ny = lineY;
            if (e.Kind == TEntityKind::Line) {
                x = e.X1 + t * (e.X2 - e.X1);
                y = e.Y1 + t * (e.Y2 - e.Y1);
            } else {
                const double a = ((e.Kind == TEntityKind::Arc ? e.StartAngle : 0) + t * e.Sweep()) * std::numbers::pi / 180;
                nx = std::cos(a);
                ny = std::sin(a);
                x = e.X1 + e.R * nx;
                y = e.Y1 + e.R * ny;
            }
            if (turned)
                frame.ToInk(x, y);
            double ex = x + nx, ey = y + ny;
            if (turned)
                frame.ToInk(ex, ey);
            nx = ex - x;
            ny = ey - y;
            // A line a little off its stroke's pixels (a ragged scan) is
            // measured from the nearest ink across it.
            bool onInk = false;
            for (const double off : {0.0, 0.5, -0.5, 1.0, -1.0, 1.5, -1.5})
                if (probe(x + off * nx, y + off * ny)) {
                    x += off * nx;
                    y += off * ny;
                    onInk = true;
                    break;
                }
            if (!onInk && !probe(x, y))
                continue;
            // Half steps off the pixel grid, so that no probe falls on a
            // pixel's edge; the two first steps off the ink overshoot the
            // edges by half a step each on average.
            const double across = -kStep + probe.Walk(x, y, -nx, -ny, kStep, 256) + probe.Walk(x, y, nx, ny, kStep, 256);
            widths[measured++] = std::max(across, 1.0);  // ink is a pixel wide at least
        }
        if (measured == 0) {
            // A piece too short to cross its stroke anywhere (a dot's stub,
            // or a stub past a dash's end): the widest run through the
            // nearest ink across and along it, at its start or else its end.
            for (int end = 0; end < 2 && measured == 0; ++end) {
                double x = 0, y = 0;
                if (end)
                    e.EndPoint(x, y);
                else
                    e.StartPoint(x, y);
                frame.ToInk(x, y);
                for (int dy = -2; dy <= 2 && measured == 0; ++dy)
                    for (int dx = -2; dx <= 2 && measured == 0; ++dx)
                        if (probe(x + dx, y + dy)) {
                            double best = 0;
                            for (const auto &[ux, uy] : {std::pair{1.0, 0.0}, std::pair{0.0, 1.0}}) {
                                const double across = -kStep + probe.Walk(x + dx, y + dy, -ux, -uy, kStep, 256) +
                                    probe.Walk(x + dx, y + dy, ux, uy, kStep, 256);
                                best = best == 0 ? across : std::min(best, across);
                            }
                            widths[measured++] = std::max(best, 1.0);
                        }
            }
        }
        if (measured == 0)
            return;
        std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(measured / 2),
                         widths.begin() + static_cast<std::ptrdiff_t>(measured));
        e.Width = static_cast<float>(widths[measured / 2]);
    };
    // Each entity measured by itself: a share of them on each thread.
    // (A plain trace's lines are measured as entities and keep their widths.)
    const std::size_t n = drawing.EntityCount(), own = drawing.Entities.size();
    drawing.Traced.ReserveWidths();
    const auto measureEntity = [&](std::size_t i) {
        if (i < own) {
            measure(drawing.Entities[i]);
            return;
        }
        TDrawingEntity e = drawing.Traced.At(i - own);
        measure(e);
        drawing.Traced.SetWidth(i - own, e.Width);
    };
    const std::size_t shares = threads > 1 ? std::min(n, 16 * static_cast<std::size_t>(threads)) : 1;
    if (shares <= 1) {
        for (std::size_t i = 0; i < n; ++i)
            measureEntity(i);
        return;
    }
    RunTasks(threads, shares, [&](std::size_t share, int) {
        for (std::size_t i = n * share / shares; i < n * (share + 1) / shares; ++i)
            measureEntity(i);
    });
}
