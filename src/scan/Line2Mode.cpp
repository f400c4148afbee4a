// Line 2 mode: the picture is first reduced to the end pixels of its
// horizontal and vertical black runs (the one-pixel border of a solid area, a
// thin stroke itself), and that work image is traced as in line mode.

#include "scan/Line2Mode.h"

#include "base/ProgressPort.h"
#include "base/TaskPool.h"
#include "scan/BlackMask.h"

#include <algorithm>
#include <vector>

namespace {

// Rows first .. last - 1 of the work image: the ends of the horizontal runs and
// of the vertical runs through each row, at once.
void MarkRows(const TBlackMask &source, TBlackMask &work, int first, int last)
{
    const int words = source.Words();
    for (int y = first; y < last; ++y) {
        const std::uint64_t *above = source.Line(y - 1);
        const std::uint64_t *row = source.Line(y);
        const std::uint64_t *below = source.Line(y + 1);
        std::uint64_t *marks = work.Line(y);
        for (int i = 0; i < words; ++i)
            marks[i] = row[i] & (~PreviousPixels(row, i) | ~NextPixels(row, i) | ~above[i] | ~below[i]);
    }
}

// One line of the mask with its guard words, as it was before being marked.
class TSavedLine
{
public:
    explicit TSavedLine(int words) : Words(static_cast<std::size_t>(words) + 2, 0) {}
    void Take(const std::uint64_t *line)
    {
        std::copy(line - 1, line + Words.size() - 1, Words.begin());
    }
    const std::uint64_t *Line() const { return Words.data() + 1; }

private:
    std::vector<std::uint64_t> Words;
};

// Marks the rows of a mask in place, top down, keeping the row above as it
// was before its marking.
class TInPlaceMarks
{
public:
    // above: the row above the first one, as it was.
    TInPlaceMarks(TBlackMask &mask, const std::uint64_t *above)
        : Mask(mask), Saved{TSavedLine(mask.Words()), TSavedLine(mask.Words())}
    {
        Saved[0].Take(above);
    }

    // Row y, the one after the last marked; below: row y + 1 as it was.
    void Mark(int y, const std::uint64_t *below)
    {
        TSavedLine &current = Saved[1 - Above];
        current.Take(Mask.Line(y));
        const std::uint64_t *up = Saved[Above].Line();
        const std::uint64_t *row = current.Line();
        std::uint64_t *marks = Mask.Line(y);
        for (int i = 0; i < Mask.Words(); ++i)
            marks[i] = row[i] & (~PreviousPixels(row, i) | ~NextPixels(row, i) | ~up[i] | ~below[i]);
        Above = 1 - Above;
    }

private:
    TBlackMask &Mask;
    TSavedLine Saved[2];
    int Above = 0;
};

// Rows first .. last - 1 of `mask` marked in place. above: row first - 1 and
// below: row last as they were before any marking (the neighbouring bands
// may be marked meanwhile).
void MarkRowsInPlace(TBlackMask &mask, int first, int last, const std::uint64_t *above, const std::uint64_t *below)
{
    TInPlaceMarks marks(mask, above);
    for (int y = first; y < last; ++y)
        marks.Mark(y, y + 1 < last ? mask.Line(y + 1) : below);
}

} // namespace

void RunEndsInPlace(TBlackMask &mask, TProgressPort &progress, int threads)
{
    const int width = mask.Width();
    const int height = mask.Height();
    progress.SetMaximum(width + height);
    int counter = 0;
    if (threads > 1 && height > 1) {
        // Bands of rows on the other threads and this one, each with the rows
        // beside it as they were; then the steps.
        const int parts = std::min(threads, height);
        std::vector<int> firsts;
        for (int t = 0; t <= parts; ++t)
            firsts.push_back(static_cast<int>(std::int64_t(height) * t / parts));
        std::vector<TSavedLine> beside(static_cast<std::size_t>(2 * parts), TSavedLine(mask.Words()));
        for (int t = 0; t < parts; ++t) {
            beside[static_cast<std::size_t>(2 * t)].Take(mask.Line(firsts[static_cast<std::size_t>(t)] - 1));
            beside[static_cast<std::size_t>(2 * t + 1)].Take(mask.Line(firsts[static_cast<std::size_t>(t) + 1]));
        }
        const auto band = [&](int t) {
            MarkRowsInPlace(mask, firsts[static_cast<std::size_t>(t)], firsts[static_cast<std::size_t>(t) + 1],
                            beside[static_cast<std::size_t>(2 * t)].Line(), beside[static_cast<std::size_t>(2 * t + 1)].Line());
        };
        // The bands of threads the system cannot make are done here.
        RunTasks(parts, static_cast<std::size_t>(parts), [&](std::size_t t, int) { band(static_cast<int>(t)); });
        for (int i = 0; i < width + height; ++i)
            progress.Step(++counter);
        return;
    }
    // A step a row, then the steps of the columns, as RunEnds takes them.
    TInPlaceMarks marks(mask, mask.Line(-1));
    for (int y = 0; y < height; ++y) {
        progress.Step(++counter);
        marks.Mark(y, mask.Line(y + 1));
    }
    for (int x = 0; x < width; ++x)
        progress.Step(++counter);
}

TBlackMask RunEnds(const TBlackMask &source, TProgressPort &progress, int threads)
{
    const int width = source.Width();
    const int height = source.Height();

    // The work image: 1 bit a pixel, every pixel white to begin with.
    TBlackMask work(width, height);

    progress.SetMaximum(width + height);
    int counter = 0;
    // The cancel button takes effect once the tracing has started.

    if (threads > 1 && height > 1) {
        // Bands of rows on the other threads and this one; then the steps.
        const int parts = std::min(threads, height);
        const auto band = [&](int t) {
            MarkRows(source, work, int(std::int64_t(height) * t / parts), int(std::int64_t(height) * (t + 1) / parts));
        };
        RunTasks(parts, static_cast<std::size_t>(parts), [&](std::size_t t, int) { band(static_cast<int>(t)); });
        for (int i = 0; i < width + height; ++i)
            progress.Step(++counter);
        return work;
    }

    // One pass over the rows, both kinds of ends at once, a step a row; then
    // the steps of the columns.
    for (int y = 0; y < height; ++y) {
        progress.Step(++counter);
        MarkRows(source, work, y, y + 1);
    }
    for (int x = 0; x < width; ++x)
        progress.Step(++counter);

    return work;
}
