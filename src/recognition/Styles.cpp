#include "recognition/Styles.h"

#include "base/TaskPool.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
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

// A mask with, for each line, the words that may hold ink: words Lo .. Hi - 1
// of line y (the first and the last word with ink where the morphology made
// it); every word outside them is paper. Its own mask, or a view of one it
// was made of (View; read only, and made its own when written).
struct TRangedMask
{
    TBlackMask Mask;
    std::vector<int> Lo, Hi;
    const TBlackMask *View = nullptr;

    const TBlackMask &Pixels() const { return View ? *View : Mask; }
    bool Empty(int y) const
    {
        return y < 0 || y >= static_cast<int>(Lo.size()) || Lo[static_cast<std::size_t>(y)] >= Hi[static_cast<std::size_t>(y)];
    }
};

// The words of each line from its first word with ink to its last, a view
// of the mask (which must outlast it).
TRangedMask Ranged(const TBlackMask &mask)
{
    TRangedMask r{TBlackMask(), std::vector<int>(static_cast<std::size_t>(mask.Height()), 0),
                  std::vector<int>(static_cast<std::size_t>(mask.Height()), 0), &mask};
    for (int y = 0; y < mask.Height(); ++y) {
        const TWord *l = mask.Line(y);
        int lo = 0, hi = mask.Words();
        while (lo < hi && !l[lo])
            ++lo;
        while (hi > lo && !l[hi - 1])
            --hi;
        r.Lo[static_cast<std::size_t>(y)] = lo;
        r.Hi[static_cast<std::size_t>(y)] = hi;
    }
    return r;
}

// Lines y0 .. y1 - 1 of one erosion (or dilation) by the 3 x 3 square or by
// the cross. Only the words that can come out inked are worked out: under
// an erosion those where the line and the lines either side all have ink,
// under a dilation those next to ink on any of them; the words of `out`
// that held ink elsewhere are cleared.
void MorphLines(const TRangedMask &in, bool square, bool dilate, TRangedMask &out, int y0, int y1)
{
    const TBlackMask &pixels = in.Pixels();
    const int words = pixels.Words();
    const TWord last = LastWordMask(pixels.Width());
    for (int y = y0; y < y1; ++y) {
        int lo = words, hi = 0;
        if (dilate) {
            for (int q = y - 1; q <= y + 1; ++q)
                if (!in.Empty(q)) {
                    lo = std::min(lo, in.Lo[static_cast<std::size_t>(q)] - 1);
                    hi = std::max(hi, in.Hi[static_cast<std::size_t>(q)] + 1);
                }
            lo = std::max(lo, 0);
            hi = std::min(hi, words);
        } else if (!in.Empty(y - 1) && !in.Empty(y) && !in.Empty(y + 1)) {
            for (int q = y - 1; q <= y + 1; ++q) {
                lo = q == y - 1 ? in.Lo[static_cast<std::size_t>(q)] : std::max(lo, in.Lo[static_cast<std::size_t>(q)]);
                hi = q == y - 1 ? in.Hi[static_cast<std::size_t>(q)] : std::min(hi, in.Hi[static_cast<std::size_t>(q)]);
            }
        }
        TWord *o = out.Mask.Line(y);
        const std::size_t row = static_cast<std::size_t>(y);
        for (int i = out.Lo[row]; i < out.Hi[row]; ++i)
            o[i] = 0;
        const TWord *rows[3] = {pixels.Line(y - 1), pixels.Line(y), pixels.Line(y + 1)};
        int first = words, end = 0;
        for (int i = lo; i < hi; ++i) {
            // Pixel x - 1 and x + 1 of each pixel x of the word.
            const auto left = [&](const TWord *l) { return (l[i] << 1) | (l[i - 1] >> 63); };
            const auto right = [&](const TWord *l) { return (l[i] >> 1) | (l[i + 1] << 63); };
            TWord v;
            if (dilate) {
                v = rows[1][i] | left(rows[1]) | right(rows[1]) | rows[0][i] | rows[2][i];
                if (square)
                    v |= left(rows[0]) | right(rows[0]) | left(rows[2]) | right(rows[2]);
            } else {
                v = rows[1][i] & left(rows[1]) & right(rows[1]) & rows[0][i] & rows[2][i];
                if (square)
                    v &= left(rows[0]) & right(rows[0]) & left(rows[2]) & right(rows[2]);
            }
            o[i] = i == words - 1 ? v & last : v;
            if (o[i]) {
                first = std::min(first, i);
                end = i + 1;
            }
        }
        out.Lo[row] = first;
        out.Hi[row] = end;
    }
}

struct TPixelXY
{
    int X, Y;
};

// The pixels of the 8-connected piece of `mask` at (x, y), cleared from it.
std::vector<TPixelXY> TakePiece(TBlackMask &mask, int x, int y)
{
    std::vector<TPixelXY> piece, stack{{x, y}};
    mask.Line(y)[x >> 6] &= ~(TWord(1) << (x & 63));
    while (!stack.empty()) {
        const TPixelXY p = stack.back();
        stack.pop_back();
        piece.push_back(p);
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (mask.Black(p.X + dx, p.Y + dy)) {
                    mask.Line(p.Y + dy)[(p.X + dx) >> 6] &= ~(TWord(1) << ((p.X + dx) & 63));
                    stack.push_back({p.X + dx, p.Y + dy});
                }
    }
    return piece;
}

struct TRun
{
    int Row, A, B;  // pixels A .. B of the row
};

// Four-cornered pieces that follow the rows of a fill to within a pixel, and
// its outline. `height`: the sheet's (Y = height - row).
void CoverRows(const std::vector<TPixelXY> &pixels, int height, TDrawingFill &fill)
{
    // The runs of each row that has any, rows and runs in order: the pixels
    // (each once) set in a bitmap of their box, read back row by row.
    int x0 = pixels.front().X, x1 = x0, y0 = pixels.front().Y, y1 = y0;
    for (const TPixelXY &p : pixels) {
        x0 = std::min(x0, p.X);
        x1 = std::max(x1, p.X);
        y0 = std::min(y0, p.Y);
        y1 = std::max(y1, p.Y);
    }
    const std::size_t words = static_cast<std::size_t>((x1 - x0) / 64 + 1);
    std::vector<TWord> box(words * static_cast<std::size_t>(y1 - y0 + 1), 0);
    for (const TPixelXY &p : pixels)
        box[static_cast<std::size_t>(p.Y - y0) * words + static_cast<std::size_t>((p.X - x0) / 64)] |= TWord(1) << ((p.X - x0) & 63);
    std::vector<std::vector<TRun>> rows;
    for (int row = y0; row <= y1; ++row) {
        std::vector<TRun> runs;
        const TWord *line = box.data() + static_cast<std::size_t>(row - y0) * words;
        for (std::size_t i = 0; i < words; ++i)
            for (TWord bits = line[i]; bits; bits &= bits - 1) {
                const int x = x0 + 64 * static_cast<int>(i) + std::countr_zero(bits);
                if (!runs.empty() && x == runs.back().B + 1)
                    runs.back().B = x;
                else
                    runs.push_back({row, x, x});
            }
        if (!runs.empty())
            rows.push_back(std::move(runs));
    }
    // A track: runs of consecutive rows that overlap one another one to one,
    // cut into pieces whose straight sides stay within a pixel of the runs.
    struct TTrack
    {
        std::vector<std::vector<TRun>> Pieces;
    };
    std::vector<TTrack> done, open;
    const auto fits = [](const std::vector<TRun> &piece, const TRun &next) {
        const TRun &first = piece.front();
        const double span = next.Row - first.Row;
        for (const TRun &r : piece) {
            const double t = (r.Row - first.Row) / span;
            if (std::fabs(first.A + t * (next.A - first.A) - r.A) > 1 ||
                std::fabs(first.B + t * (next.B - first.B) - r.B) > 1)
                return false;
        }
        return true;
    };
    for (const std::vector<TRun> &runs : rows) {
        std::vector<TTrack> next;
        std::vector<int> used(open.size(), 0), overlaps(runs.size(), 0);
        const auto overlap = [](const TRun &a, const TRun &b) { return a.A <= b.B + 1 && b.A <= a.B + 1; };
        std::vector<TRun> last;
        for (const TTrack &t : open)
            last.push_back(t.Pieces.back().back());
        for (std::size_t t = 0; t < open.size(); ++t)
            for (std::size_t r = 0; r < runs.size(); ++r)
                if (overlap(last[t], runs[r])) {
                    ++used[t];
                    ++overlaps[r];
                }
        std::vector<bool> continued(open.size(), false);
        for (std::size_t r = 0; r < runs.size(); ++r) {
            int track = -1;
            for (std::size_t t = 0; t < open.size(); ++t)
                if (used[t] == 1 && overlaps[r] == 1 && overlap(last[t], runs[r]))
                    track = static_cast<int>(t);
            if (track < 0) {
                TTrack fresh;
                fresh.Pieces.push_back(std::vector<TRun>(1, runs[r]));
                next.push_back(std::move(fresh));
                continue;
            }
            TTrack &tr = open[static_cast<std::size_t>(track)];
            continued[static_cast<std::size_t>(track)] = true;
            if (fits(tr.Pieces.back(), runs[r]))
                tr.Pieces.back().push_back(runs[r]);
            else
                tr.Pieces.push_back(std::vector<TRun>(1, runs[r]));
            next.push_back(std::move(tr));
        }
        for (std::size_t t = 0; t < open.size(); ++t)
            if (!continued[t])
                done.push_back(std::move(open[t]));
        open = std::move(next);
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

// A fill is a dot when its pixels are those of a disk about their middle.
bool RoundFill(const std::vector<TPixelXY> &pixels, double &cx, double &cy, double &r)
{
    double sx = 0, sy = 0;
    for (const TPixelXY &p : pixels) {
        sx += p.X;
        sy += p.Y;
    }
    const double n = static_cast<double>(pixels.size());
    cx = sx / n;
    cy = sy / n;
    r = std::sqrt(n / std::numbers::pi);
    if (r < 2.5)
        return false;
    double inside = 0;
    for (const TPixelXY &p : pixels) {
        const double d = std::hypot(p.X - cx, p.Y - cy);
        if (d > r + 1.0)
            return false;
        inside += d <= r - 1;
    }
    return inside >= 0.95 * std::numbers::pi * (r - 1) * (r - 1);
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

// One erosion (or dilation) by the 3 x 3 square or by the cross, into `out`
// (made the size of `in`, all paper, unless it is); bands of lines on
// `threads` threads.
void Morph(const TRangedMask &in, bool square, bool dilate, TRangedMask &out, int threads)
{
    const TBlackMask &pixels = in.Pixels();
    if (out.View || out.Mask.Width() != pixels.Width() || out.Mask.Height() != pixels.Height()) {
        out.View = nullptr;
        out.Mask = TBlackMask(pixels.Width(), pixels.Height());
        out.Lo.assign(static_cast<std::size_t>(pixels.Height()), 0);
        out.Hi.assign(static_cast<std::size_t>(pixels.Height()), 0);
    }
    InBands(threads, pixels.Height(), [&](std::size_t, int y0, int y1) { MorphLines(in, square, dilate, out, y0, y1); });
}

} // namespace

TFills FindFills(const TBlackMask &ink, int threads)
{
    TFills out;
    out.Mask = TBlackMask(ink.Width(), ink.Height());
    if (ink.Width() == 0 || ink.Height() == 0)
        return out;
    // Ridge pixels by depth: E(k) is the ink after k erosions, alternately by
    // the square and by the cross; a pixel of depth k is in E(k - 1) but not
    // E(k), and a ridge pixel has no neighbour in E(k).
    constexpr int kDeepest = 24;
    std::vector<std::int64_t> ridges{0};
    std::int64_t total = 0;
    // (The ink's ranged copy is made again for the growing back rather than
    // kept: a big sheet's mask is tens of megabytes.)
    {
        TRangedMask last = Ranged(ink), next;
        for (int k = 1; k <= kDeepest; ++k) {
            Morph(last, k % 2 == 1, false, next, threads);
            // The pixels of last that E(k) grown by the square does not
            // reach (words outside last's are paper), the growing worked out
            // word by word rather than kept in a mask of its own.
            std::vector<std::int64_t> counts(static_cast<std::size_t>(std::max(1, threads)), 0);
            InBands(threads, ink.Height(), [&](std::size_t band, int y0, int y1) {
                std::int64_t n = 0;
                for (int y = y0; y < y1; ++y) {
                    const TWord *rows[3] = {next.Mask.Line(y - 1), next.Mask.Line(y), next.Mask.Line(y + 1)};
                    const TWord *l = last.Pixels().Line(y);
                    for (int i = last.Lo[static_cast<std::size_t>(y)]; i < last.Hi[static_cast<std::size_t>(y)]; ++i) {
                        TWord grown = 0;
                        for (const TWord *r : rows)
                            grown |= r[i] | (r[i] << 1) | (r[i - 1] >> 63) | (r[i] >> 1) | (r[i + 1] << 63);
                        n += Ones(l[i] & ~grown);
                    }
                }
                counts[band] = n;
            });
            std::int64_t n = 0;
            for (const std::int64_t c : counts)
                n += c;
            ridges.push_back(n);
            total += n;
            std::swap(last, next);
            bool empty = true;
            for (int y = 0; y < ink.Height() && empty; ++y)
                empty = last.Empty(y);
            if (empty)
                break;
        }
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
    // Deeper than the lines, grown back by the same steps in reverse.
    TRangedMask grownBack = Ranged(ink), step;
    for (int k = 1; k <= depth; ++k) {
        Morph(grownBack, k % 2 == 1, false, step, threads);
        std::swap(grownBack, step);
    }
    bool none = true;
    for (int y = 0; y < ink.Height() && none; ++y)
        none = grownBack.Empty(y);
    if (none)
        return out;
    for (int k = depth; k >= 1; --k) {
        Morph(grownBack, k % 2 == 1, true, step, threads);
        std::swap(grownBack, step);
    }
    TBlackMask core = grownBack.View ? *grownBack.View : std::move(grownBack.Mask);
    step = TRangedMask();  // not read again
    for (int y = 0; y < ink.Height(); ++y)
        for (int i = grownBack.Lo[static_cast<std::size_t>(y)]; i < grownBack.Hi[static_cast<std::size_t>(y)]; ++i)
            core.Line(y)[i] &= ink.Line(y)[i];

    const double smallest = std::max(40.0, 1.2 * (2 * depth + 1) * (2 * depth + 1));
    const int margin = 4 * depth + 6;
    // The pieces are taken from the core itself, not from a copy (a big
    // sheet's mask is tens of megabytes). Below, the other ink is the ink
    // that is neither core nor fill: a piece taken is in the fill mask when
    // it is a fill, and a piece too small for one is put there until the end
    // (its pixels kept to be taken out again: listed, or marked in a mask
    // of their own once the list would outgrow one), so that neither counts
    // as other ink.
    std::vector<TPixelXY> small;
    TBlackMask smallMask;
    const std::size_t mostListed =
        static_cast<std::size_t>(ink.Words()) * static_cast<std::size_t>(ink.Height()) * sizeof(TWord) / sizeof(TPixelXY);
    for (int y = 0; y < ink.Height(); ++y) {
        for (int i = 0; i < ink.Words(); ++i) {
            while (TWord bits = core.Line(y)[i]) {
                const int x = 64 * i + std::countr_zero(bits);
                std::vector<TPixelXY> piece = TakePiece(core, x, y);
                if (static_cast<double>(piece.size()) < smallest) {
                    for (const TPixelXY &p : piece)
                        out.Mask.SetBlack(p.X, p.Y);
                    if (smallMask.Width() == 0 && small.size() + piece.size() > mostListed) {
                        smallMask = TBlackMask(ink.Width(), ink.Height());
                        for (const TPixelXY &p : small)
                            smallMask.SetBlack(p.X, p.Y);
                        std::vector<TPixelXY>().swap(small);
                    }
                    if (smallMask.Width() > 0) {
                        for (const TPixelXY &p : piece)
                            smallMask.SetBlack(p.X, p.Y);
                    } else {
                        small.insert(small.end(), piece.begin(), piece.end());
                    }
                    continue;
                }
                // The narrow parts that only touch the piece: pieces of the
                // other ink near it that reach nowhere else.
                int x0 = x, x1 = x, y0 = y, y1 = y;
                for (const TPixelXY &p : piece) {
                    x0 = std::min(x0, p.X);
                    x1 = std::max(x1, p.X);
                    y0 = std::min(y0, p.Y);
                    y1 = std::max(y1, p.Y);
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
                // (word by word: the ink that is neither the core nor a fill)
                for (int py = y0; py <= y1; ++py) {
                    const TWord *inkLine = ink.Line(py), *coreLine = core.Line(py), *fillLine = out.Mask.Line(py);
                    for (int i = x0 >> 6; i <= x1 >> 6; ++i) {
                        TWord bits = inkLine[i] & ~coreLine[i] & ~fillLine[i];
                        if (i == x0 >> 6)
                            bits &= ~TWord(0) << (x0 & 63);
                        if (i == x1 >> 6)
                            bits &= ~TWord(0) >> (63 - (x1 & 63));
                        for (; bits; bits &= bits - 1)
                            at(64 * i + std::countr_zero(bits), py) = 1;
                    }
                }
                for (const TPixelXY &p : piece)
                    at(p.X, p.Y) = 2;
                const std::size_t area = piece.size();
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
                    for (int px = x0; px <= x1; ++px) {
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
                        piece.insert(piece.end(), part.Pixels.begin(), part.Pixels.end());
                }
                // A bit of a shape the scan parted from it by a pixel of
                // paper (an arrowhead's point) is of it all the same: a part
                // no bigger than a tip that leads nowhere else. (A dot stays
                // a dot.)
                double cx = 0, cy = 0, r = 0;
                const bool round = RoundFill(piece, cx, cy, r);
                for (std::size_t q = area; q < piece.size(); ++q)
                    at(piece[q].X, piece[q].Y) = 2;
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
                        piece.insert(piece.end(), part.Pixels.begin(), part.Pixels.end());
                }
                for (const TPixelXY &p : piece)
                    out.Mask.SetBlack(p.X, p.Y);
                TDrawingFill fill;
                if (round) {
                    fill.Dot = true;
                    fill.X = cx;
                    fill.Y = ink.Height() - cy;
                    fill.R = r;
                } else {
                    CoverRows(piece, ink.Height(), fill);
                }
                out.Shapes.push_back(std::move(fill));
            }
        }
    }
    for (const TPixelXY &p : small)
        out.Mask.Line(p.Y)[p.X >> 6] &= ~(TWord(1) << (p.X & 63));
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
long Round(double v)
{
    if (!(std::fabs(v) < 1e15))
        return std::lround(v);
    const long whole = static_cast<long>(v);
    const double part = v - static_cast<double>(whole);
    return part >= 0.5 ? whole + 1 : part <= -0.5 ? whole - 1 : whole;
}

bool BlackAt(const TBlackMask &mask, double x, double y)
{
    return mask.Black(static_cast<int>(Round(x)), static_cast<int>(Round(mask.Height() - y)));
}

} // namespace

void ExtendIntoFills(TDrawing &drawing, const TFills &fills, const TInkFrame &frame)
{
    for (TDrawingEntity &e : drawing.Entities) {
        if (e.Kind != TEntityKind::Line)
            continue;
        double ax = e.X1, ay = e.Y1, bx = e.X2, by = e.Y2;
        frame.ToInk(ax, ay);
        frame.ToInk(bx, by);
        const double length = std::hypot(bx - ax, by - ay);
        if (length < 1)
            continue;
        const double reach = std::max(3.0, e.Width / 2.0 + 2);
        for (int end = 0; end < 2; ++end) {
            const double px = end ? bx : ax, py = end ? by : ay;
            const double ux = (end ? bx - ax : ax - bx) / length, uy = (end ? by - ay : ay - by) / length;
            double hit = -1;
            for (double s = 0.5; s <= reach && hit < 0; s += 0.5)
                if (BlackAt(fills.Mask, px + s * ux, py + s * uy))
                    hit = s;
            if (hit < 0)
                continue;
            const double hx = px + hit * ux, hy = py + hit * uy;
            double go = hit;
            const TDrawingFill *dot = nullptr;
            for (const TDrawingFill &f : fills.Shapes)
                if (f.Dot && std::hypot(hx - f.X, hy - f.Y) <= f.R + 1.5)
                    dot = &f;
            if (dot) {
                go = (dot->X - px) * ux + (dot->Y - py) * uy;
            } else {
                for (double s = hit; s <= hit + 400 && BlackAt(fills.Mask, px + s * ux, py + s * uy); s += 0.5)
                    go = s;
            }
            if (go <= 0)
                continue;
            double nx = px + go * ux, ny = py + go * uy;
            frame.FromInk(nx, ny);
            (end ? e.X2 : e.X1) = nx;
            (end ? e.Y2 : e.Y1) = ny;
        }
    }
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
        std::vector<double> widths;
        for (int k = 0; k < count; ++k) {
            const double t = 0.1 + 0.8 * (k + 0.5) / count;
            double x = 0, y = 0, nx = 0, ny = 0;
            if (e.Kind == TEntityKind::Line) {
                x = e.X1 + t * (e.X2 - e.X1);
                y = e.Y1 + t * (e.Y2 - e.Y1);
                nx = -(e.Y2 - e.Y1) / std::max(length, 1e-9);
                ny = (e.X2 - e.X1) / std::max(length, 1e-9);
                if (length < 1e-9) {
                    nx = 1;
                    ny = 0;
                }
            } else {
                const double a = ((e.Kind == TEntityKind::Arc ? e.StartAngle : 0) + t * e.Sweep()) * std::numbers::pi / 180;
                nx = std::cos(a);
                ny = std::sin(a);
                x = e.X1 + e.R * nx;
                y = e.Y1 + e.R * ny;
            }
            frame.ToInk(x, y);
            double ex = x + nx, ey = y + ny;
            frame.ToInk(ex, ey);
            nx = ex - x;
            ny = ey - y;
            // A line a little off its stroke's pixels (a ragged scan) is
            // measured from the nearest ink across it.
            for (const double off : {0.0, 0.5, -0.5, 1.0, -1.0, 1.5, -1.5})
                if (BlackAt(ink, x + off * nx, y + off * ny)) {
                    x += off * nx;
                    y += off * ny;
                    break;
                }
            if (!BlackAt(ink, x, y))
                continue;
            // Half steps off the pixel grid, so that no probe falls on a
            // pixel's edge; the two first steps off the ink overshoot the
            // edges by half a step each on average.
            double across = -kStep;
            for (int side = -1; side <= 1; side += 2) {
                double s = kStep / 2;
                while (s < 256 && BlackAt(ink, x + side * s * nx, y + side * s * ny))
                    s += kStep;
                across += s;
            }
            widths.push_back(std::max(across, 1.0));  // ink is a pixel wide at least
        }
        if (widths.empty()) {
            // A piece too short to cross its stroke anywhere (a dot's stub,
            // or a stub past a dash's end): the widest run through the
            // nearest ink across and along it, at its start or else its end.
            for (int end = 0; end < 2 && widths.empty(); ++end) {
                double x = 0, y = 0;
                if (end)
                    e.EndPoint(x, y);
                else
                    e.StartPoint(x, y);
                frame.ToInk(x, y);
                for (int dy = -2; dy <= 2 && widths.empty(); ++dy)
                    for (int dx = -2; dx <= 2 && widths.empty(); ++dx)
                        if (BlackAt(ink, x + dx, y + dy)) {
                            double best = 0;
                            for (const auto &[ux, uy] : {std::pair{1.0, 0.0}, std::pair{0.0, 1.0}}) {
                                double across = -kStep;
                                for (int side = -1; side <= 1; side += 2) {
                                    double s = kStep / 2;
                                    while (s < 256 && BlackAt(ink, x + dx + side * s * ux, y + dy + side * s * uy))
                                        s += kStep;
                                    across += s;
                                }
                                best = best == 0 ? across : std::min(best, across);
                            }
                            widths.push_back(std::max(best, 1.0));
                        }
            }
        }
        if (widths.empty())
            return;
        std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2), widths.end());
        e.Width = static_cast<float>(widths[widths.size() / 2]);
    };
    // Each entity measured by itself: a share of them on each thread.
    const std::size_t n = drawing.Entities.size();
    const std::size_t shares = threads > 1 ? std::min(n, 16 * static_cast<std::size_t>(threads)) : 1;
    if (shares <= 1) {
        for (TDrawingEntity &e : drawing.Entities)
            measure(e);
        return;
    }
    RunTasks(threads, shares, [&](std::size_t share, int) {
        for (std::size_t i = n * share / shares; i < n * (share + 1) / shares; ++i)
            measure(drawing.Entities[i]);
    });
}
