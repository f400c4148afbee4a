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

#include "app/core/ProgressPort.h"
#include "scan/BlackMask.h"
#include "scan/SegmentList.h"

#include <algorithm>
#include <vector>

namespace {

// The straight runs of one line (a row of the mask, or a column as a line of
// the transposed mask), with the lines on either side. Calls emit(start, end)
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

// A diagonal segment: from (X1, Row1) to (X2, Row2), left to right.
struct TDiagonalRun
{
    int X1, Row1, X2, Row2;
};

// The diagonal runs of one direction, grouped by diagonal: the runs of
// diagonal k are Runs[First[k]] ... Runs[First[k + 1] - 1], left to right.
// For the down-right direction k = x - y + H - 1, for the up-right one k = x + y.
struct TDiagonalRuns
{
    std::vector<TDiagonalRun> Runs;
    std::vector<int> First;
};

TDiagonalRuns GroupByDiagonal(std::vector<std::pair<int, TDiagonalRun>> &found, int diagonals)
{
    TDiagonalRuns result;
    result.First.assign(static_cast<std::size_t>(diagonals) + 1, 0);
    for (const auto &entry : found)
        ++result.First[static_cast<std::size_t>(entry.first) + 1];
    for (int k = 0; k < diagonals; ++k)
        result.First[static_cast<std::size_t>(k) + 1] += result.First[static_cast<std::size_t>(k)];
    result.Runs.resize(found.size());
    std::vector<int> next(result.First.begin(), result.First.end() - 1);
    for (const auto &entry : found)
        result.Runs[static_cast<std::size_t>(next[static_cast<std::size_t>(entry.first)]++)] = entry.second;
    return result;
}

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

// The diagonal runs of one direction (dy = 1 down-right, -1 up-right). The
// rows are taken in the direction of travel (top down, or bottom up), so each
// diagonal is met left to right. Diagonal k is x - y + H - 1 down-right and
// x + y up-right.
TDiagonalRuns DiagonalRuns(const TBlackMask &mask, int dy)
{
    const int width = mask.Width();
    const int height = mask.Height();
    const int words = mask.Words();
    std::vector<std::pair<int, TDiagonalRun>> found;
    std::vector<int> openX(static_cast<std::size_t>(width + height - 1), 0);
    // Row(0): steps of the row met before, Row(1): this row, Row(2): the next row.
    TStepRows steps(words);
    const int firstRow = dy > 0 ? 0 : height - 1;
    DiagonalSteps(mask, firstRow, dy, steps.Row(1));
    for (int n = 0; n < height; ++n) {
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
                    found.push_back({k, TDiagonalRun{start, y - dy * (x - start), x + 1, y + dy}});
                return true;
            });
        }
        steps.Advance();
    }
    return GroupByDiagonal(found, width + height - 1);
}

} // namespace

TScanStatus TraceLines(const TBlackMask &mask, TSegmentList &segments, TProgressPort &progress)
{
    const int width = mask.Width();
    const int height = mask.Height();
    const int words = mask.Words();
    progress.SetMaximum(3 * width + 3 * height);
    int counter = 0;
    segments.ImageHeight = static_cast<float>(height);
    segments.StartExtents(static_cast<float>(width), static_cast<float>(height));

    // The user's cancel arrives only while a step processes pending messages,
    // and a failed growth only while a segment is appended, so each is tested
    // right after those.

    // Pass 1: rows, top to bottom.
    for (int y = 0; y < height; ++y) {
        progress.Step(++counter);
        if (progress.Cancelled())
            return ScanStopped;
        const auto row = static_cast<float>(y);
        const bool done = StraightRuns(mask.Line(y - 1), mask.Line(y), mask.Line(y + 1), words,
                                       [&](int start, int end) {
                                           segments.AddSegment(static_cast<float>(start), row,
                                                               static_cast<float>(end), row);
                                           return !segments.OutOfMemory;
                                       });
        if (!done)
            return ScanStopped;
    }

    // Pass 2: columns, left to right, each from the top down.
    {
        const TBlackMask columns = mask.Transposed();
        const int columnWords = columns.Words();
        for (int x = 0; x < width; ++x) {
            progress.Step(++counter);
            if (progress.Cancelled())
                return ScanStopped;
            const auto column = static_cast<float>(x);
            const bool done = StraightRuns(columns.Line(x - 1), columns.Line(x), columns.Line(x + 1),
                                           columnWords, [&](int start, int end) {
                                               segments.AddSegment(column, static_cast<float>(start),
                                                                   column, static_cast<float>(end));
                                               return !segments.OutOfMemory;
                                           });
            if (!done)
                return ScanStopped;
        }
    }

    // Passes 3 to 6: the diagonals. Passes 3 and 4 start on the top and the
    // bottom row, passes 5 and 6 on the left column; the two diagonals through
    // the left corners are walked twice.
    const TDiagonalRuns downRight = DiagonalRuns(mask, 1);
    const TDiagonalRuns upRight = DiagonalRuns(mask, -1);
    auto walk = [&](const TDiagonalRuns &runs, int k) {
        progress.Step(++counter);
        if (progress.Cancelled())
            return false;
        const int end = runs.First[static_cast<std::size_t>(k) + 1];
        for (int i = runs.First[static_cast<std::size_t>(k)]; i < end; ++i) {
            const TDiagonalRun &run = runs.Runs[static_cast<std::size_t>(i)];
            segments.AddSegment(static_cast<float>(run.X1), static_cast<float>(run.Row1),
                                static_cast<float>(run.X2), static_cast<float>(run.Row2));
            if (segments.OutOfMemory)
                return false;
        }
        return true;
    };
    // Pass 3: down-right from (x, 0).
    for (int x = 0; x < width; ++x) {
        if (!walk(downRight, x + height - 1))
            return ScanStopped;
    }
    // Pass 4: up-right from (x, H - 1).
    for (int x = 0; x < width; ++x) {
        if (!walk(upRight, x + height - 1))
            return ScanStopped;
    }
    // Pass 5: down-right from (0, y).
    for (int y = 0; y < height; ++y) {
        if (!walk(downRight, height - 1 - y))
            return ScanStopped;
    }
    // Pass 6: up-right from (0, y).
    for (int y = 0; y < height; ++y) {
        if (!walk(upRight, y))
            return ScanStopped;
    }
    return ScanDone;
}
