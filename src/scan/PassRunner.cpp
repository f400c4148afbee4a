#include "scan/PassRunner.h"

#include "base/ProgressPort.h"
#include "base/TaskPool.h"
#include "scan/SegmentList.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

// Work done ahead: a pass's preparation or a chunk of its lines.
struct TTask
{
    std::size_t Index = 0;  // in the order of the tasks
    int Pass = 0;
    bool IsPrepare = false;
    int First = 0;
    int Count = 0;
    // A chunk's segments (a list from the pool) and, for each of its lines,
    // the count after it.
    TSegmentList *Out = nullptr;
    std::vector<std::int32_t> Ends;
    bool OutOfMemory = false;
};

class TAhead
{
public:
    TAhead(std::vector<TPass> &passes, float imageHeight, const TTraceOptions &options)
        : Passes(passes), ImageHeight(imageHeight)
    {
        // Preparations first, then the chunks in the order they are needed.
        for (std::size_t p = 0; p < passes.size(); ++p) {
            if (passes[p].Prepare) {
                auto &task = Tasks.emplace_back(std::make_unique<TTask>());
                task->Pass = static_cast<int>(p);
                task->IsPrepare = true;
                PrepareTask.push_back(task.get());
            } else {
                PrepareTask.push_back(nullptr);
            }
        }
        ChunkOf.resize(passes.size());
        for (std::size_t p = 0; p < passes.size(); ++p) {
            const TPass &pass = passes[p];
            if (pass.Inline)
                continue;
            const int size = std::max(1, options.ChunkLines > 0 ? options.ChunkLines : pass.ChunkLines);
            for (std::int64_t first = 0; first < pass.Lines; first += size) {
                auto &task = Tasks.emplace_back(std::make_unique<TTask>());
                task->Pass = static_cast<int>(p);
                task->First = static_cast<int>(first);
                task->Count = static_cast<int>(std::min<std::int64_t>(size, pass.Lines - first));
                ChunkOf[p].push_back(task.get());
            }
        }
        for (std::size_t i = 0; i < Tasks.size(); ++i)
            Tasks[i]->Index = i;
        Window = 2 * static_cast<std::size_t>(options.Threads);
        // Preparations (first in the order) start at once, chunks at most a
        // few ahead of the one being appended, so that the lists waiting for
        // their turn stay few. Threads the system cannot make leave their
        // tasks to the others.
        Preparations = static_cast<std::size_t>(
            std::count_if(PrepareTask.begin(), PrepareTask.end(), [](const TTask *task) { return task != nullptr; }));
        Workers = std::make_unique<TTaskPool>(options.Threads, Tasks.size(), Limit(),
                                              [this](std::size_t i, int) { Run(*Tasks[i]); });
    }

    ~TAhead()
    {
        Stop = true;
        Workers.reset();
    }

    // Waits for the preparation of a pass (doing it here if no thread took it).
    void Prepared(int pass)
    {
        if (TTask *task = PrepareTask[static_cast<std::size_t>(pass)])
            Workers->Wait(task->Index);
    }

    // The segments of one line, appended; false when the list ran out of memory.
    bool Append(int pass, int line, TSegmentList &segments)
    {
        const std::vector<TTask *> &chunks = ChunkOf[static_cast<std::size_t>(pass)];
        const int size = chunks.front()->Count;
        TTask &task = *chunks[static_cast<std::size_t>(line / size)];
        if (task.Index > Appending) {
            // The threads may run further ahead now.
            Appending = task.Index;
            Workers->Allow(Limit());
        }
        Workers->Wait(task.Index);
        if (task.OutOfMemory) {
            segments.OutOfMemory = true;
            segments.ReleaseSegments();
            return false;
        }
        const int at = line - task.First;
        const std::int32_t from = at == 0 ? 0 : task.Ends[static_cast<std::size_t>(at - 1)];
        const std::int32_t to = task.Ends[static_cast<std::size_t>(at)];
        const bool appended = segments.AppendRecords(task.Out->Segments() + from, to - from);
        if (at + 1 == task.Count)
            GiveBack(task);
        return appended;
    }

private:
    void Run(TTask &task)
    {
        TPass &pass = Passes[static_cast<std::size_t>(task.Pass)];
        if (task.IsPrepare) {
            pass.Prepare(Stop);
        } else {
            task.Ends.reserve(static_cast<std::size_t>(task.Count));
            task.Out = Borrow();
            task.OutOfMemory = !task.Out->ReuseSegments();
            const TLineTracer trace = task.OutOfMemory ? TLineTracer() : pass.Chunk(task.First, task.Count);
            for (int i = 0; i < task.Count && !task.OutOfMemory && !Stop; ++i) {
                if (!trace(task.First + i, *task.Out))
                    task.OutOfMemory = true;
                task.Ends.push_back(task.Out->SegmentCount);
            }
        }
    }

    // Tasks below this may start: every preparation, and the chunks within
    // the window beyond the one being appended.
    std::size_t Limit() const { return std::max(Preparations, Appending + Window); }

    // Work lists, used over and over so that their memory is touched once.
    TSegmentList *Borrow()
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        if (Pool.empty()) {
            Lists.push_back(std::make_unique<TSegmentList>());
            Lists.back()->ImageHeight = ImageHeight;
            Lists.back()->Piecewise = true;
            return Lists.back().get();
        }
        TSegmentList *list = Pool.back();
        Pool.pop_back();
        return list;
    }

    void GiveBack(TTask &task)
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        Pool.push_back(task.Out);
        task.Out = nullptr;
    }

    std::vector<TPass> &Passes;
    float ImageHeight;
    std::vector<std::unique_ptr<TSegmentList>> Lists;
    std::vector<TSegmentList *> Pool;
    std::vector<std::unique_ptr<TTask>> Tasks;
    std::vector<TTask *> PrepareTask;
    std::vector<std::vector<TTask *>> ChunkOf;
    // The task whose lines are being appended, and how far beyond it threads
    // may trace.
    std::size_t Preparations = 0;
    std::size_t Appending = 0;
    std::size_t Window = 2;
    std::mutex Mutex;
    std::atomic<bool> Stop{false};
    // Last: its threads stop before the tasks and lists go.
    std::unique_ptr<TTaskPool> Workers;
};

} // namespace

TScanStatus RunPasses(std::vector<TPass> &passes, TSegmentList &segments, TProgressPort &progress,
                      const TTraceOptions &options, int &counter)
{
    // The user's cancel arrives only while a step processes pending messages,
    // and a failed growth only while segments are appended, so each is tested
    // right after those.
    auto step = [&] {
        progress.Step(++counter);
        return !progress.Cancelled();
    };

    if (options.Threads <= 1) {
        const std::atomic<bool> running{false};
        std::size_t prepared = 0;  // passes below this are prepared
        for (std::size_t p = 0; p < passes.size(); ++p) {
            TPass &pass = passes[p];
            for (const std::size_t last = pass.AfterAllPreparations ? passes.size() : p + 1; prepared < last;
                 ++prepared)
                if (passes[prepared].Prepare)
                    passes[prepared].Prepare(running);
            if (pass.Starting)
                pass.Starting();
            if (pass.Lines == 0)
                continue;
            const TLineTracer trace = pass.Chunk(0, pass.Lines);
            for (int line = 0; line < pass.Lines; ++line) {
                if (!pass.StepAfter && !step())
                    return ScanStopped;
                if (!trace(line, segments))
                    return ScanOutOfMemory;
                if (pass.Appended)
                    pass.Appended(line);
                if (pass.StepAfter && !step())
                    return ScanStopped;
            }
        }
        return ScanDone;
    }

    TAhead ahead(passes, segments.ImageHeight, options);
    for (std::size_t p = 0; p < passes.size(); ++p) {
        TPass &pass = passes[p];
        ahead.Prepared(static_cast<int>(p));
        if (pass.AfterAllPreparations)
            for (std::size_t q = p + 1; q < passes.size(); ++q)
                ahead.Prepared(static_cast<int>(q));
        if (pass.Starting)
            pass.Starting();
        if (pass.Lines == 0)
            continue;
        const TLineTracer trace = pass.Inline ? pass.Chunk(0, pass.Lines) : TLineTracer();
        for (int line = 0; line < pass.Lines; ++line) {
            if (!pass.StepAfter && !step())
                return ScanStopped;
            const bool appended = pass.Inline ? trace(line, segments)
                                              : ahead.Append(static_cast<int>(p), line, segments);
            if (!appended)
                return ScanOutOfMemory;
            if (pass.Appended)
                pass.Appended(line);
            if (pass.StepAfter && !step())
                return ScanStopped;
        }
    }
    return ScanDone;
}
