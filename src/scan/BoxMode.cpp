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
#include "scan/SegmentList.h"

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

TScanStatus TraceBoxes(const TBlackMask &mask, TSegmentList &segments, TProgressPort &progress)
{
    const int width = mask.Width();
    const int height = mask.Height();
    const int words = mask.Words();
    progress.SetMaximum(width + height + 4);
    int counter = 0;
    segments.ImageHeight = static_cast<float>(height);
    segments.StartExtents(static_cast<float>(width), static_cast<float>(height));

    // The user's cancel arrives only while a step processes pending messages,
    // and a failed growth only while a segment is appended; each is tested
    // right after those.
    auto horizontal = [&](int boundary) {
        const auto b = static_cast<float>(boundary);
        return [&segments, b](int start, int end) {
            segments.AddSegment(static_cast<float>(start), b, static_cast<float>(end), b);
            return !segments.OutOfMemory;
        };
    };
    auto vertical = [&](int boundary) {
        const auto a = static_cast<float>(boundary);
        return [&segments, a](int start, int end) {
            segments.AddSegment(a, static_cast<float>(start), a, static_cast<float>(end));
            return !segments.OutOfMemory;
        };
    };
    auto step = [&] {
        progress.Step(++counter);
        return !progress.Cancelled();
    };

    // Pass 1: the boundary below each row, where exactly one of the pixels
    // above and below it is black (below the last row lies white).
    for (int r = 0; r < height; ++r) {
        if (!step())
            return ScanStopped;
        const std::uint64_t *row = mask.Line(r);
        const std::uint64_t *next = mask.Line(r + 1);
        if (!BoundaryRuns(words, width, [&](int i) { return row[i] ^ next[i]; }, horizontal(r + 1)))
            return ScanStopped;
    }
    // Pass 2: the top border, along the black pixels of row 0.
    const std::uint64_t *top = mask.Line(0);
    if (!BoundaryRuns(words, width, [&](int i) { return top[i]; }, horizontal(0)) || !step())
        return ScanStopped;
    // Pass 3: the bottom border, along the black pixels of the last row (pass 1
    // found these already, so they appear twice).
    const std::uint64_t *bottom = mask.Line(height - 1);
    if (!BoundaryRuns(words, width, [&](int i) { return bottom[i]; }, horizontal(height)) || !step())
        return ScanStopped;

    const TBlackMask columns = mask.Transposed();
    const int columnWords = columns.Words();
    // Pass 4: the boundary right of each column.
    for (int x = 0; x < width; ++x) {
        if (!step())
            return ScanStopped;
        const std::uint64_t *column = columns.Line(x);
        const std::uint64_t *next = columns.Line(x + 1);
        if (!BoundaryRuns(columnWords, height, [&](int i) { return column[i] ^ next[i]; },
                          vertical(x + 1)))
            return ScanStopped;
    }
    // Pass 5: the left border.
    const std::uint64_t *left = columns.Line(0);
    if (!BoundaryRuns(columnWords, height, [&](int i) { return left[i]; }, vertical(0)) || !step())
        return ScanStopped;
    // Pass 6: the right border (pass 4 found these already).
    const std::uint64_t *right = columns.Line(width - 1);
    if (!BoundaryRuns(columnWords, height, [&](int i) { return right[i]; }, vertical(width)) || !step())
        return ScanStopped;
    return ScanDone;
}
