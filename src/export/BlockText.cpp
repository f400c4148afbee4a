#include "export/BlockText.h"

#include "base/TaskPool.h"
#include "base/Threads.h"
#include "export/OutputStream.h"
#include "export/ProgressStepper.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

// Segments of one block: a few hundred kilobytes of text, well below the
// output buffer.
constexpr std::int32_t kBlockSegments = 4096;

class TBlocks
{
public:
    TBlocks(std::int32_t count, int threads, std::size_t mostPerSegment, const TSegmentTextMaker &format)
        : Count(count), Format(format),
          Lengths(static_cast<std::size_t>((count + kBlockSegments - 1) / kBlockSegments)),
          // Blocks made ahead of the one being written, at most; block b is
          // made in buffer b mod Window, which is free again once block
          // b - Window is written.
          Window(std::min<std::size_t>(Lengths.size(), 2 * static_cast<std::size_t>(threads))),
          BufferSize(mostPerSegment * kBlockSegments), Buffers(Window),
          // Blocks of threads the system cannot make are made by the others.
          Pool(threads, Lengths.size(), Window, [this](std::size_t b, int) { Make(b); })
    {
    }

    std::size_t Size() const { return Lengths.size(); }

    // The text of block b (data and length), made here if no thread has taken it.
    std::pair<const char *, std::size_t> Take(std::size_t b)
    {
        Pool.Wait(b);
        return {Buffers[b % Window].get(), Lengths[b]};
    }

    // Block b is written: its text is dropped and threads may run further ahead.
    void Written(std::size_t b) { Pool.Allow(b + 1 + Window); }

private:
    void Make(std::size_t b)
    {
        // Not cleared: every byte handed over is made anew.
        TBuffer &buffer = Buffers[b % Window];
        if (!buffer) {
            // Small pages: a block's text fills a fraction of the most it
            // could take, and only what is written becomes resident.
            buffer.reset(static_cast<char *>(std::malloc(BufferSize)));
            if (!buffer)
                throw std::bad_alloc();
        }
        const auto first = static_cast<std::int32_t>(b) * kBlockSegments;
        Lengths[b] = Format(first, std::min(Count, first + kBlockSegments), buffer.get());
    }

    std::int32_t Count;
    const TSegmentTextMaker &Format;
    std::vector<std::size_t> Lengths;
    std::size_t Window;
    std::size_t BufferSize;
    struct TFree
    {
        void operator()(char *block) const { std::free(block); }
    };
    using TBuffer = std::unique_ptr<char, TFree>;
    std::vector<TBuffer> Buffers;
    // Last: its threads stop before the blocks go.
    TTaskPool Pool;
};

} // namespace

bool WriteSegmentText(TOutputStream &out, TProgressStepper &progress, std::int32_t count, int threads,
                      std::size_t mostPerSegment, const TSegmentTextMaker &format, std::int32_t from)
{
    if (count <= 0)
        return !out.Failed();
    const TSegmentTextMaker shifted = [&](std::int32_t first, std::int32_t end, char *text) {
        return format(from + first, from + end, text);
    };
    TBlocks blocks(count, ThreadsPerPicture(threads), mostPerSegment, from ? shifted : format);
    for (std::size_t b = 0; b < blocks.Size() && !out.Failed(); ++b) {
        const auto [text, length] = blocks.Take(b);
        out.AppendDirect(text, length);
        const auto first = static_cast<std::int32_t>(b) * kBlockSegments;
        const std::int32_t end = std::min(count, first + kBlockSegments);
        for (std::int32_t i = first; i < end; ++i)
            progress.Step(from + i + 1);
        blocks.Written(b);
    }
    return !out.Failed();
}
