// Box mode: every black pixel is a unit square; the outline of the black area
// along the pixel edges becomes horizontal segments on the boundaries between
// rows and vertical segments on the boundaries between columns.
//
// Coordinates are boundary numbers: vertical boundary a (0 ... W) lies left of
// column a, horizontal boundary b (0 ... H) above row b; AddSegment receives b
// where line mode passes a row, so Y = H - b.

#include "scan/BoxMode.h"

#include "base/ProgressPort.h"
#include "scan/BlackMask.h"
#include "scan/ColumnEvents.h"
#include "scan/PassRunner.h"
#include "scan/SegmentList.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace {

// The runs along one boundary line of `length` positions, whose test is "on"
// where bit p of on(word) is set. Calls emit(start, end) with end the first
// position where the test is off, or `length` for a run that reaches the far
// border. Stops when emit returns false and then returns false.
template <class On, class Emit>
bool BoundaryRuns(int words, int length, On &&on, Emit &&emit)
{
    std::uint64_t lastCarry = 0;  // the test at the previous word's last position
    bool inRun = false;
    int start = 0;
    for (int i = 0; i < words; ++i) {
        const std::uint64_t bits = on(i);
        const std::uint64_t changes = bits ^ ((bits << 1) | lastCarry);
        lastCarry = bits >> 63;
        const bool more = ForEachBit(changes, i * 64, [&](int p) {
            if (!inRun) {
                start = p;
                inRun = true;
                return true;
            }
            inRun = false;
            return emit(start, p);
        });
        if (!more)
            return false;
    }
    if (inRun)
        return emit(start, length);
    return true;
}

// Columns a thread traces at a time, and whose boundary changes are found together.
constexpr int kColumnBand = 1024;

// The rows where the boundary right of each of columns first .. end - 1
// changes between on (exactly one of the pixels beside it black) and off,
// from off above the first row.
std::unique_ptr<TColumnEvents> BoundaryChanges(const TBlackMask &mask, int first, int end)
{
    // The boundary's state in the row above, for each word.
    std::vector<std::uint64_t> onAbove(static_cast<std::size_t>(mask.Words()), 0);
    return std::make_unique<TColumnEvents>(
        mask, first, end, [&](const std::uint64_t *, const std::uint64_t *line, const std::uint64_t *, int w) {
            const std::uint64_t on = line[w] ^ NextPixels(line, w);
            std::uint64_t &above = onAbove[static_cast<std::size_t>(w)];
            const std::uint64_t changes = on ^ above;
            above = on;
            return changes;
        });
}

// `release`, when given, is `mask`, reset as soon as no pass reads it.
TScanStatus Trace(const TBlackMask &mask, TBlackMask *release, TSegmentList &segments, TProgressPort &progress,
                  const TTraceOptions &options)
{
    const int width = mask.Width();
    const int height = mask.Height();
    const int words = mask.Words();
    progress.SetMaximum(width + height + 4);
    int counter = 0;
    segments.ImageHeight = static_cast<float>(height);
    segments.StartExtents(static_cast<float>(width), static_cast<float>(height));

    auto horizontal = [](TSegmentList &out, int boundary) {
        const auto b = static_cast<float>(boundary);
        return [&out, b](int start, int end) {
            out.AddSegment(static_cast<float>(start), b, static_cast<float>(end), b);
            return !out.OutOfMemory;
        };
    };
    auto vertical = [](TSegmentList &out, int boundary) {
        const auto a = static_cast<float>(boundary);
        return [&out, a](int start, int end) {
            out.AddSegment(a, static_cast<float>(start), a, static_cast<float>(end));
            return !out.OutOfMemory;
        };
    };
    // One boundary along a single row or column of the picture: on while its
    // pixel is black. Each of these passes has one line, stepped after it.
    auto border = [](auto tracer) {
        TPass pass;
        pass.Lines = 1;
        pass.StepAfter = true;
        pass.Inline = true;
        pass.Chunk = [tracer](int, int) -> TLineTracer {
            return [tracer](int, TSegmentList &out) { return tracer(out); };
        };
        return pass;
    };

    // What the passes after the rows read of the mask is taken before them
    // (every band's column changes, 4 bytes a change where a segment takes
    // 16, and the border rows and columns), so that the mask can go as the
    // rows are traced.
    std::vector<TKeptColumnEvents> changes(static_cast<std::size_t>((width + kColumnBand - 1) / kColumnBand));
    std::vector<std::uint64_t> top, bottom, left, right;
    TPass rows;
    rows.Prepare = [&](const std::atomic<bool> &stop) {
        top.assign(mask.Line(0), mask.Line(0) + words);
        bottom.assign(mask.Line(height - 1), mask.Line(height - 1) + words);
        left = mask.Column(0);
        right = mask.Column(width - 1);
        for (std::size_t b = 0; b < changes.size() && !stop; ++b) {
            const int first = static_cast<int>(b) * kColumnBand;
            changes[b] = TKeptColumnEvents(*BoundaryChanges(mask, first, std::min(first + kColumnBand, width)));
        }
        TColumnEvents::ReleaseSpare();
    };

    std::vector<TPass> passes;
    // Pass 1: the boundary below each row, where exactly one of the pixels
    // above and below it is black (below the last row lies white).
    rows.Lines = height;
    rows.Chunk = [&](int, int) -> TLineTracer {
        return [&](int r, TSegmentList &out) {
            const std::uint64_t *row = mask.Line(r);
            const std::uint64_t *next = mask.Line(r + 1);
            return BoundaryRuns(words, width, [&](int i) { return row[i] ^ next[i]; }, horizontal(out, r + 1));
        };
    };
    if (release) {
        // The lines above the one last traced go as the pass proceeds.
        rows.AfterAllPreparations = true;
        rows.Appended = [release](int r) {
            if (r % 64 == 63)
                release->DiscardLines(-1, r);
        };
    }
    passes.push_back(rows);
    // Pass 2: the top border, along the black pixels of row 0.
    passes.push_back(border([&](TSegmentList &out) {
        return BoundaryRuns(words, width, [&](int i) { return top[static_cast<std::size_t>(i)]; }, horizontal(out, 0));
    }));
    if (release)
        passes.back().Starting = [release] { *release = TBlackMask(); };
    // Pass 3: the bottom border, along the black pixels of the last row (pass 1
    // found these already, so they appear twice).
    passes.push_back(border([&](TSegmentList &out) {
        return BoundaryRuns(words, width, [&](int i) { return bottom[static_cast<std::size_t>(i)]; },
                            horizontal(out, height));
    }));
    // Pass 4: the boundary right of each column, its changes found on the
    // rows, a band of columns at a time; a band's go once its segments are
    // appended.
    TPass columns;
    columns.Lines = width;
    columns.Inline = true;
    columns.Chunk = [&](int, int) -> TLineTracer {
        return [&](int x, TSegmentList &out) {
            TKeptColumnEvents &band = changes[static_cast<std::size_t>(x / kColumnBand)];
            // On and off take turns; a run still on at the last row reaches the border.
            auto emit = vertical(out, x + 1);
            const std::int32_t *e = band.Begin(x);
            const std::int32_t *last = band.End(x);
            for (; last - e >= 2; e += 2)
                if (!emit(e[0], e[1]))
                    return false;
            const bool appended = e == last || emit(e[0], height);
            if (x == band.Last())
                band = TKeptColumnEvents();
            return appended;
        };
    };
    passes.push_back(columns);
    // Pass 5: the left border. Pass 6: the right border (pass 4 found these
    // already). Each column is taken on its own.
    const int columnWords = (height + 63) / 64;
    passes.push_back(border([&](TSegmentList &out) {
        return BoundaryRuns(columnWords, height, [&](int i) { return left[static_cast<std::size_t>(i)]; },
                            vertical(out, 0));
    }));
    passes.push_back(border([&](TSegmentList &out) {
        return BoundaryRuns(columnWords, height, [&](int i) { return right[static_cast<std::size_t>(i)]; },
                            vertical(out, width));
    }));
    return RunPasses(passes, segments, progress, options, counter);
}

} // namespace

TScanStatus TraceBoxes(const TBlackMask &mask, TSegmentList &segments, TProgressPort &progress,
                       const TTraceOptions &options)
{
    return Trace(mask, nullptr, segments, progress, options);
}

TScanStatus TraceBoxes(TBlackMask &&mask, TSegmentList &segments, TProgressPort &progress,
                       const TTraceOptions &options)
{
    return Trace(mask, &mask, segments, progress, options);
}
