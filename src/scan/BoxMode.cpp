// Box mode: every black pixel is a unit square; the outline of the black area
// along the pixel edges becomes horizontal segments on the boundaries between
// rows and vertical segments on the boundaries between columns.
//
// Coordinates are boundary numbers: vertical boundary a (0 ... W) lies left of
// column a, horizontal boundary b (0 ... H) above row b; AddSegment receives b
// where line mode passes a row, so Y = H - b.

#include "scan/BoxMode.h"

#include "app/core/ProgressPort.h"
#include "scan/BlackMask.h"
#include "scan/PassRunner.h"
#include "scan/SegmentList.h"

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

} // namespace

TScanStatus TraceBoxes(const TBlackMask &mask, TSegmentList &segments, TProgressPort &progress,
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

    std::vector<TPass> passes;
    // Pass 1: the boundary below each row, where exactly one of the pixels
    // above and below it is black (below the last row lies white).
    TPass rows;
    rows.Lines = height;
    rows.Chunk = [&](int, int) -> TLineTracer {
        return [&](int r, TSegmentList &out) {
            const std::uint64_t *row = mask.Line(r);
            const std::uint64_t *next = mask.Line(r + 1);
            return BoundaryRuns(words, width, [&](int i) { return row[i] ^ next[i]; }, horizontal(out, r + 1));
        };
    };
    passes.push_back(rows);
    // Pass 2: the top border, along the black pixels of row 0.
    passes.push_back(border([&](TSegmentList &out) {
        const std::uint64_t *top = mask.Line(0);
        return BoundaryRuns(words, width, [&](int i) { return top[i]; }, horizontal(out, 0));
    }));
    // Pass 3: the bottom border, along the black pixels of the last row (pass 1
    // found these already, so they appear twice).
    passes.push_back(border([&](TSegmentList &out) {
        const std::uint64_t *bottom = mask.Line(height - 1);
        return BoundaryRuns(words, width, [&](int i) { return bottom[i]; }, horizontal(out, height));
    }));
    // Pass 4: the boundary right of each column.
    TPass columns;
    columns.Lines = width;
    columns.ChunkLines = 2048;
    columns.Chunk = [&](int first, int count) -> TLineTracer {
        auto strips = std::make_shared<TMaskColumns>(mask, first, first + count);
        return [&, strips](int x, TSegmentList &out) {
            const std::uint64_t *column = strips->Column(x);
            const std::uint64_t *next = strips->Column(x + 1);
            return BoundaryRuns(strips->Words(), height, [&](int i) { return column[i] ^ next[i]; },
                                vertical(out, x + 1));
        };
    };
    passes.push_back(columns);
    // Pass 5: the left border. Pass 6: the right border (pass 4 found these
    // already). Each column is taken on its own.
    passes.push_back(border([&](TSegmentList &out) {
        TMaskColumns single(mask, 1);
        const std::uint64_t *left = single.Column(0);
        return BoundaryRuns(single.Words(), height, [&](int i) { return left[i]; }, vertical(out, 0));
    }));
    passes.push_back(border([&](TSegmentList &out) {
        TMaskColumns single(mask, width);
        const std::uint64_t *right = single.Column(width - 1);
        return BoundaryRuns(single.Words(), height, [&](int i) { return right[i]; }, vertical(out, width));
    }));
    return RunPasses(passes, segments, progress, options, counter);
}
