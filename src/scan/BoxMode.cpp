// Box mode: every black pixel is a unit square; the outline of the black area
// along the pixel edges becomes horizontal segments on the boundaries between
// rows and vertical segments on the boundaries between columns.
//
// Coordinates are boundary numbers: vertical boundary a (0 ... W) lies left of
// column a, horizontal boundary b (0 ... H) above row b; AddSegment receives b
// where line mode passes a row, so Y = H - b.

#include "scan/ScanDriver.h"

#include "app/core/UserInterface.h"
#include "image/TzDIB.h"
#include "scan/BlackMask.h"
#include "scan/ScanState.h"

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

int TScanDriver::ScanData2(const QString &path)
{
    if (!State.ResetSegments())
        return ScanBufferFailed;
    TBlackMask mask;
    if (!LoadPicture(path, mask))
        return ScanUnreadable;
    return TraceBoxes(mask);
}

int TScanDriver::ScanBox(TTzDIB &image)
{
    TBlackMask mask = TBlackMask::FromImage(image);
    image.Assign(nullptr);
    return TraceBoxes(mask);
}

int TScanDriver::TraceBoxes(const TBlackMask &mask)
{
    const int width = mask.Width();
    const int height = mask.Height();
    const int words = mask.Words();
    UI.SetProgressMaximum(width + height + 4);
    UI.SetProgressPosition(0);
    int counter = 0;
    State.ImageHeight = static_cast<float>(height);
    State.StartExtents(static_cast<float>(width), static_cast<float>(height));

    // The cancel flag changes only while pending messages are processed or a
    // segment is appended; it is tested right after each of those.
    auto horizontal = [&](int boundary) {
        const auto b = static_cast<float>(boundary);
        return [this, b](int start, int end) {
            State.AddSegment(static_cast<float>(start), b, static_cast<float>(end), b);
            return !State.CancelScan;
        };
    };
    auto vertical = [&](int boundary) {
        const auto a = static_cast<float>(boundary);
        return [this, a](int start, int end) {
            State.AddSegment(a, static_cast<float>(start), a, static_cast<float>(end));
            return !State.CancelScan;
        };
    };
    auto step = [&] {
        NextLine(counter);
        return !State.CancelScan;
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
