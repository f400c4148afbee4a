// Line mode: black runs along every row, every column and both diagonal
// directions become segments.
//
// The rules work pixel by pixel; the tracer applies them to 64 pixels at a time
// on the picture's black mask:
// - rows and columns: a run ends at a black pixel whose forward pixel is white,
//   or whose forward pixel and four side neighbours are all black (inside a
//   solid area); the next black pixel starts a new run. Runs of one pixel are
//   never appended.
// - diagonals: a step is a black pixel whose diagonal next pixel is black while
//   the pixel beside it along the row and the pixel beside it along the column
//   (towards the next one) are white; consecutive steps along one diagonal form
//   one segment from the first step's pixel to the last step's next pixel.
// Segments are appended in the order in which a pixel-by-pixel walk of the six
// passes finds them, so the list is the same as that walk's.

#include "scan/LineMode.h"

#include "base/ProgressPort.h"
#include "scan/BlackMask.h"
#include "scan/ColumnEvents.h"
#include "scan/PassRunner.h"
#include "scan/PodArray.h"
#include "scan/SegmentList.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

namespace {

// The straight runs of one row of the mask, with the rows on either side. Calls emit(start, end)
// for every run of two or more pixels, left to right; stops when emit returns
// false and then returns false.
template <class Emit>
bool StraightRuns(const std::uint64_t *before, const std::uint64_t *line, const std::uint64_t *after,
                  int words, Emit &&emit)
{
    std::uint64_t endCarry = 0;  // the previous word's last pixel ended a run
    int start = 0;
    for (int i = 0; i < words; ++i) {
        const std::uint64_t black = line[i];
        if (!black) {
            endCarry = 0;
            continue;
        }
        const std::uint64_t forward = NextPixels(line, i);
        const std::uint64_t solid = before[i] & NextPixels(before, i) & NextPixels(after, i) & after[i];
        const std::uint64_t ends = black & (~forward | solid);
        const std::uint64_t starts = black & (~PreviousPixels(line, i) | (ends << 1) | endCarry);
        endCarry = ends >> 63;
        // A pixel that both starts and ends a run is a run of one pixel.
        const bool more = ForEachBit(starts ^ ends, i * 64, [&](int p) {
            if ((starts >> (p & 63)) & 1) {
                start = p;
                return true;
            }
            return emit(start, p);
        });
        if (!more)
            return false;
    }
    return true;
}

// Columns a thread traces at a time, and whose run ends are found together.
constexpr int kColumnBand = 1024;

// The pixels of columns first .. end - 1 that start or end a run down their
// column, as StraightRuns finds them on a column line, without the runs of
// one pixel (a pixel that both starts and ends one is no event).
std::unique_ptr<TColumnEvents> ColumnRunEnds(const TBlackMask &mask, int first, int end)
{
    // The ends of the row above, for each word.
    std::vector<std::uint64_t> endsAbove(static_cast<std::size_t>(mask.Words()), 0);
    return std::make_unique<TColumnEvents>(
        mask, first, end, [&](const std::uint64_t *above, const std::uint64_t *line, const std::uint64_t *below, int w) {
            const std::uint64_t black = line[w];
            std::uint64_t &carry = endsAbove[static_cast<std::size_t>(w)];
            if (!black) {
                carry = 0;
                return std::uint64_t(0);
            }
            const std::uint64_t solid = PreviousPixels(line, w) & NextPixels(line, w) & PreviousPixels(below, w)
                & NextPixels(below, w);
            const std::uint64_t ends = black & (~below[w] | solid);
            const std::uint64_t starts = black & (~above[w] | carry);
            carry = ends;
            return starts ^ ends;
        });
}

// A diagonal segment of diagonal k, from column X1 to column X2 (left to
// right); its rows follow from k and the columns (TDiagonalRuns::Row).
struct TDiagonalRun
{
    int X1, X2;
};

// The diagonal runs of one direction, grouped by diagonal: the runs of
// diagonal k are Run(k, First[k]) ... Run(k, First[k + 1] - 1), left to right.
// For the down-right direction (Dy 1) k = x - y + H - 1, for the up-right one
// (Dy -1) k = x + y. The diagonals from the left column (k < H) and those from
// the top or bottom row only (k >= H) are held apart, so that the latter can
// go once they are walked.
struct TDiagonalRuns
{
    TPodArray<TDiagonalRun> Left, Rest;
    std::vector<int> First;
    int Dy = 1;
    int Height = 0;

    int Row(int k, int x) const { return Dy > 0 ? x - k + Height - 1 : k - x; }
    // The runs before the first of diagonal H.
    std::size_t LeftRuns() const
    {
        return First.empty() ? 0 : static_cast<std::size_t>(First[std::min(static_cast<std::size_t>(Height), First.size() - 1)]);
    }
    const TDiagonalRun &Run(int k, int i) const
    {
        return k < Height ? Left[static_cast<std::size_t>(i)] : Rest[static_cast<std::size_t>(i) - LeftRuns()];
    }
    TDiagonalRun &Run(int k, int i) { return const_cast<TDiagonalRun &>(std::as_const(*this).Run(k, i)); }
};

// Diagonal steps of row y towards row y + dy (dy = 1 down-right, -1 up-right):
// (x, y) black, (x+1, y) white, (x, y+dy) white, (x+1, y+dy) black.
void DiagonalSteps(const TBlackMask &mask, int y, int dy, std::uint64_t *out)
{
    const std::uint64_t *row = mask.Line(y);
    const std::uint64_t *next = mask.Line(y + dy);
    for (int i = 0; i < mask.Words(); ++i)
        out[i] = row[i] & ~NextPixels(row, i) & ~next[i] & NextPixels(next, i);
}

// Three step rows with zero guard words, rotated as the rows advance.
class TStepRows
{
public:
    explicit TStepRows(int words) : Stride(words + 2), Data(static_cast<std::size_t>(Stride) * 3, 0) {}
    std::uint64_t *Row(int which) { return Data.data() + Stride * Order[which] + 1; }
    void Advance()
    {
        const int oldest = Order[0];
        Order[0] = Order[1];
        Order[1] = Order[2];
        Order[2] = oldest;
    }

private:
    std::ptrdiff_t Stride;
    std::vector<std::uint64_t> Data;
    int Order[3] = {0, 1, 2};
};

// Calls found(k, x1, x2) for the diagonal runs of one direction (dy = 1
// down-right, -1 up-right) as they end. The rows are taken in the direction of
// travel (top down, or bottom up), so each diagonal is met left to right.
// Diagonal k is x - y + H - 1 down-right and x + y up-right. False when
// stopped.
template <class Found>
bool ForEachDiagonalRun(const TBlackMask &mask, int dy, const std::atomic<bool> &stop, std::vector<int> &openX,
                        Found &&found)
{
    const int height = mask.Height();
    const int words = mask.Words();
    // Row(0): steps of the row met before, Row(1): this row, Row(2): the next row.
    TStepRows steps(words);
    const int firstRow = dy > 0 ? 0 : height - 1;
    DiagonalSteps(mask, firstRow, dy, steps.Row(1));
    for (int n = 0; n < height; ++n) {
        if (stop)
            return false;
        const int y = firstRow + n * dy;
        if (n + 1 < height)
            DiagonalSteps(mask, y + dy, dy, steps.Row(2));
        else
            std::fill_n(steps.Row(2), words, 0);
        const std::uint64_t *before = steps.Row(0);
        const std::uint64_t *row = steps.Row(1);
        const std::uint64_t *next = steps.Row(2);
        for (int i = 0; i < words; ++i) {
            const std::uint64_t step = row[i];
            if (!step)
                continue;
            const std::uint64_t first = step & ~PreviousPixels(before, i);
            const std::uint64_t last = step & ~NextPixels(next, i);
            ForEachBit(first | last, i * 64, [&](int x) {
                const int k = dy > 0 ? x - y + height - 1 : x + y;
                int &start = openX[static_cast<std::size_t>(k)];
                if ((first >> (x & 63)) & 1)
                    start = x;
                if ((last >> (x & 63)) & 1)
                    found(k, start, x + 1);
                return true;
            });
        }
        steps.Advance();
    }
    return true;
}

// The diagonal runs of one direction, grouped by diagonal. The runs are
// counted on a first walk over the mask and put in their places on a second,
// so that no list of them as found is held beside the grouped one.
void DiagonalRuns(const TBlackMask &mask, int dy, const std::atomic<bool> &stop, TDiagonalRuns &result)
{
    const int diagonals = mask.Width() + mask.Height() - 1;
    result.Dy = dy;
    result.Height = mask.Height();
    std::vector<int> openX(static_cast<std::size_t>(diagonals), 0);
    result.First.assign(static_cast<std::size_t>(diagonals) + 1, 0);
    int *counts = result.First.data() + 1;
    if (!ForEachDiagonalRun(mask, dy, stop, openX, [counts](int k, int, int) { ++counts[k]; }))
        return;
    for (int k = 0; k < diagonals; ++k)
        counts[k] += result.First[static_cast<std::size_t>(k)];
    result.Left.Resize(result.LeftRuns());
    result.Rest.Resize(static_cast<std::size_t>(diagonals > 0 ? result.First.back() : 0) - result.LeftRuns());
    std::vector<int> next(result.First.begin(), result.First.end() - 1);
    ForEachDiagonalRun(mask, dy, stop, openX, [&](int k, int x1, int x2) {
        result.Run(k, next[static_cast<std::size_t>(k)]++) = TDiagonalRun{x1, x2};
    });
}

} // namespace

namespace {

// `release`, when given, is `mask`, reset as soon as no pass reads it.
TScanStatus Trace(const TBlackMask &mask, TBlackMask *release, TSegmentList &segments, TProgressPort &progress,
                  const TTraceOptions &options)
{
    const int width = mask.Width();
    const int height = mask.Height();
    const int words = mask.Words();
    progress.SetMaximum(3 * width + 3 * height);
    int counter = 0;
    segments.ImageHeight = static_cast<float>(height);
    segments.StartExtents(static_cast<float>(width), static_cast<float>(height));

    std::vector<TPass> passes(6);
    // Pass 1: rows, top to bottom.
    passes[0].Lines = height;
    passes[0].Chunk = [&mask, words](int, int) -> TLineTracer {
        return [&mask, words](int y, TSegmentList &out) {
            const auto row = static_cast<float>(y);
            return StraightRuns(mask.Line(y - 1), mask.Line(y), mask.Line(y + 1), words, [&](int start, int end) {
                out.AddSegment(static_cast<float>(start), row, static_cast<float>(end), row);
                return !out.OutOfMemory;
            });
        };
    };
    // Pass 2: columns, left to right, each from the top down. The starts and
    // ends of the runs are found on the rows, a band of columns at a time:
    // along a column, the pixel before is the one above, the forward pixel
    // the one below, and the side neighbours are the pixels left and right.
    // Every band's are found before the pass (4 bytes an end, where a segment
    // takes 16), so that the mask can go before the columns' segments come;
    // each band's go once its segments are appended.
    std::vector<TKeptColumnEvents> columnRuns(static_cast<std::size_t>((width + kColumnBand - 1) / kColumnBand));
    passes[1].Lines = width;
    passes[1].Inline = true;
    passes[1].AfterAllPreparations = true;
    passes[1].Prepare = [&mask, &columnRuns, width](const std::atomic<bool> &stop) {
        for (std::size_t b = 0; b < columnRuns.size() && !stop; ++b) {
            const int first = static_cast<int>(b) * kColumnBand;
            columnRuns[b] = TKeptColumnEvents(*ColumnRunEnds(mask, first, std::min(first + kColumnBand, width)));
        }
        TColumnEvents::ReleaseSpare();
    };
    passes[1].Chunk = [&columnRuns](int, int) -> TLineTracer {
        return [&columnRuns](int x, TSegmentList &out) {
            TKeptColumnEvents &band = columnRuns[static_cast<std::size_t>(x / kColumnBand)];
            const auto column = static_cast<float>(x);
            // Starts and ends take turns down a column.
            for (const std::int32_t *e = band.Begin(x); e != band.End(x); e += 2) {
                out.AddSegment(column, static_cast<float>(e[0]), column, static_cast<float>(e[1]));
                if (out.OutOfMemory)
                    return false;
            }
            if (x == band.Last())
                band = TKeptColumnEvents();
            return true;
        };
    };
    // The mask is read no more once the rows are traced and every pass is
    // prepared: the rows pass then starts after the preparations, and the
    // lines above the one last traced go as it proceeds.
    if (release) {
        passes[0].AfterAllPreparations = true;
        passes[0].Appended = [release](int y) {
            if (y % 64 == 63)
                release->DiscardLines(-1, y);
        };
        passes[1].Starting = [release] { *release = TBlackMask(); };
    }

    // Passes 3 to 6: the diagonals. Passes 3 and 4 start on the top and the
    // bottom row, passes 5 and 6 on the left column; the two diagonals through
    // the left corners are walked twice. Each diagonal direction's runs are
    // found first, grouped by diagonal.
    TDiagonalRuns downRight, upRight;
    passes[2].Prepare = [&](const std::atomic<bool> &stop) { DiagonalRuns(mask, 1, stop, downRight); };
    passes[3].Prepare = [&](const std::atomic<bool> &stop) { DiagonalRuns(mask, -1, stop, upRight); };
    auto walk = [](const TDiagonalRuns &runs, auto diagonal) -> std::function<TLineTracer(int, int)> {
        return [&runs, diagonal](int, int) -> TLineTracer {
            return [&runs, diagonal](int line, TSegmentList &out) {
                const int k = diagonal(line);
                const int end = runs.First[static_cast<std::size_t>(k) + 1];
                for (int i = runs.First[static_cast<std::size_t>(k)]; i < end; ++i) {
                    const TDiagonalRun &run = runs.Run(k, i);
                    out.AddSegment(static_cast<float>(run.X1), static_cast<float>(runs.Row(k, run.X1)),
                                   static_cast<float>(run.X2), static_cast<float>(runs.Row(k, run.X2)));
                    if (out.OutOfMemory)
                        return false;
                }
                return true;
            };
        };
    };
    // Pass 3: down-right from (x, 0). Pass 4: up-right from (x, H - 1).
    // Pass 5: down-right from (0, y). Pass 6: up-right from (0, y).
    passes[2].Chunk = walk(downRight, [height](int x) { return x + height - 1; });
    passes[3].Chunk = walk(upRight, [height](int x) { return x + height - 1; });
    passes[4].Chunk = walk(downRight, [height](int y) { return height - 1 - y; });
    passes[5].Chunk = walk(upRight, [](int y) { return y; });
    // What a pass walks last goes as the next pass begins: the diagonals from
    // the top or bottom row after passes 3 and 4, the down-right ones after
    // pass 5.
    passes[3].Starting = [&downRight] { downRight.Rest = TPodArray<TDiagonalRun>(); };
    passes[4].Starting = [&upRight] { upRight.Rest = TPodArray<TDiagonalRun>(); };
    passes[5].Starting = [&downRight] { downRight.Left = TPodArray<TDiagonalRun>(); };
    for (int p = 2; p < 6; ++p) {
        passes[static_cast<std::size_t>(p)].Lines = p < 4 ? width : height;
        passes[static_cast<std::size_t>(p)].Inline = true;
    }
    return RunPasses(passes, segments, progress, options, counter);
}

} // namespace

TScanStatus TraceLines(const TBlackMask &mask, TSegmentList &segments, TProgressPort &progress,
                       const TTraceOptions &options)
{
    return Trace(mask, nullptr, segments, progress, options);
}

TScanStatus TraceLines(TBlackMask &&mask, TSegmentList &segments, TProgressPort &progress,
                       const TTraceOptions &options)
{
    return Trace(mask, &mask, segments, progress, options);
}
