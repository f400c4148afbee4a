// Line 2 mode: the picture is first reduced to the end pixels of its
// horizontal and vertical black runs (the one-pixel border of a solid area, a
// thin stroke itself), and that work image is traced as in line mode.

#include "scan/Line2Mode.h"

#include "app/core/ProgressPort.h"
#include "scan/BlackMask.h"

#include <algorithm>

TBlackMask RunEnds(const TBlackMask &source, TProgressPort &progress)
{
    const int width = source.Width();
    const int height = source.Height();
    const int words = source.Words();

    // The work image: 1 bit a pixel, every pixel white to begin with.
    TBlackMask work(width, height);

    progress.SetMaximum(width + height);
    int counter = 0;
    // The cancel button takes effect once the tracing has started.

    // Row pass: mark the first and the last pixel of every horizontal black run.
    for (int y = 0; y < height; ++y) {
        progress.Step(++counter);
        const std::uint64_t *row = source.Line(y);
        std::uint64_t *marks = work.Line(y);
        for (int i = 0; i < words; ++i)
            marks[i] |= row[i] & (~PreviousPixels(row, i) | ~NextPixels(row, i));
    }
    // Column pass: the same down every column, 512 columns (one cache line of
    // each row) at a time.
    constexpr int kStrip = 8;
    for (int first = 0; first < words; first += kStrip) {
        const int last = std::min(words, first + kStrip);
        for (int y = 0; y < height; ++y) {
            const std::uint64_t *above = source.Line(y - 1);
            const std::uint64_t *row = source.Line(y);
            const std::uint64_t *below = source.Line(y + 1);
            std::uint64_t *marks = work.Line(y);
            for (int i = first; i < last; ++i)
                marks[i] |= row[i] & (~above[i] | ~below[i]);
        }
        const int columns = std::min(kStrip * 64, width - first * 64);
        for (int c = 0; c < columns; ++c)
            progress.Step(++counter);
    }

    return work;
}
