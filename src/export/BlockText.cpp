#include "export/BlockText.h"

#include "base/LargeBlock.h"
#include "base/Threads.h"
#include "export/OutputStream.h"
#include "export/ProgressStepper.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <new>
#include <utility>
#include <mutex>
#include <thread>
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
          Blocks(static_cast<std::size_t>((count + kBlockSegments - 1) / kBlockSegments)),
          // Blocks made ahead of the one being written, at most; block b is
          // made in buffer b mod Window, which is free again once block
          // b - Window is written.
          Window(std::min<std::size_t>(Blocks.size(), 2 * static_cast<std::size_t>(threads))),
          BufferSize(mostPerSegment * kBlockSegments), Buffers(Window)
    {
        // Blocks of threads the system cannot make are made by the others.
        StartThreads(Workers, threads - 1, [this](int) { Work(); });
    }

    ~TBlocks()
    {
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            Stop = true;
        }
        Changed.notify_all();
        for (std::thread &worker : Workers)
            worker.join();
    }

    std::size_t Size() const { return Blocks.size(); }

    // The text of block b (data and length), made here if no thread has taken it.
    std::pair<const char *, std::size_t> Take(std::size_t b)
    {
        TBlock &block = Blocks[b];
        if (Claim(block))
            Make(b);
        // While another thread makes it, make the next blocks that nobody has
        // taken yet (in buffers that are free: within the window).
        for (std::size_t c = b + 1; block.State != 2 && c < std::min(Blocks.size(), b + Window); ++c)
            if (Claim(Blocks[c]))
                Make(c);
        {
            std::unique_lock<std::mutex> lock(Mutex);
            Changed.wait(lock, [&] { return block.State == 2; });
        }
        if (block.Error)
            std::rethrow_exception(block.Error);
        return {Buffers[b % Window].get(), block.Length};
    }

    // Block b is written: its text is dropped and threads may run further ahead.
    void Written(std::size_t b)
    {
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            WrittenBlocks = b + 1;
        }
        Changed.notify_all();
    }

private:
    struct TBlock
    {
        std::atomic<int> State{0};  // 0 waiting, 1 being made, 2 made
        std::size_t Length = 0;
        std::exception_ptr Error;
    };

    static bool Claim(TBlock &block)
    {
        int waiting = 0;
        return block.State.compare_exchange_strong(waiting, 1);
    }

    void Make(std::size_t b)
    {
        TBlock &block = Blocks[b];
        try {
            // Not cleared: every byte handed over is made anew.
            TBuffer &buffer = Buffers[b % Window];
            if (!buffer) {
                buffer.reset(static_cast<char *>(LargeBlock::Allocate(BufferSize)));
                if (!buffer)
                    throw std::bad_alloc();
            }
            const auto first = static_cast<std::int32_t>(b) * kBlockSegments;
            block.Length = Format(first, std::min(Count, first + kBlockSegments), buffer.get());
        } catch (...) {
            block.Error = std::current_exception();
        }
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            block.State = 2;
        }
        Changed.notify_all();
    }

    void Work()
    {
        for (std::size_t b = 0; b < Blocks.size(); ++b) {
            {
                std::unique_lock<std::mutex> lock(Mutex);
                Changed.wait(lock, [&] { return Stop || b < WrittenBlocks + Window; });
                if (Stop)
                    return;
            }
            if (Claim(Blocks[b]))
                Make(b);
        }
    }

    std::int32_t Count;
    const TSegmentTextMaker &Format;
    std::vector<TBlock> Blocks;
    std::size_t Window;
    std::size_t BufferSize;
    struct TFree
    {
        void operator()(char *block) const { LargeBlock::Free(block); }
    };
    using TBuffer = std::unique_ptr<char, TFree>;
    std::vector<TBuffer> Buffers;
    std::size_t WrittenBlocks = 0;
    std::vector<std::thread> Workers;
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Stop = false;
};

} // namespace

bool WriteSegmentText(TOutputStream &out, TProgressStepper &progress, std::int32_t count, int threads,
                      std::size_t mostPerSegment, const TSegmentTextMaker &format)
{
    if (count <= 0)
        return !out.Failed();
    TBlocks blocks(count, ThreadsPerPicture(threads), mostPerSegment, format);
    for (std::size_t b = 0; b < blocks.Size() && !out.Failed(); ++b) {
        const auto [text, length] = blocks.Take(b);
        out.AppendDirect(text, length);
        const auto first = static_cast<std::int32_t>(b) * kBlockSegments;
        const std::int32_t end = std::min(count, first + kBlockSegments);
        for (std::int32_t i = first; i < end; ++i)
            progress.Step(i + 1);
        blocks.Written(b);
    }
    return !out.Failed();
}
