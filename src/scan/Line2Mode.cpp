// Line 2 mode: the picture is first reduced to the end pixels of its
// horizontal and vertical black runs (the one-pixel border of a solid area, a
// thin stroke itself), and that work image is traced as in line mode.

#include "scan/Line2Mode.h"

#include "app/core/ProgressPort.h"
#include "scan/BlackMask.h"

#include <algorithm>
#include <thread>
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

} // namespace

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
        std::vector<std::thread> helpers;
        for (int t = 1; t < parts; ++t)
            helpers.emplace_back([&, t] {
                MarkRows(source, work, int(std::int64_t(height) * t / parts), int(std::int64_t(height) * (t + 1) / parts));
            });
        MarkRows(source, work, 0, int(std::int64_t(height) / parts));
        for (std::thread &helper : helpers)
            helper.join();
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
