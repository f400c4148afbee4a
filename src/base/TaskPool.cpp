#include "base/TaskPool.h"

#include "base/Threads.h"
#include "base/VectorState.h"

#include <algorithm>
#include <utility>

TTaskPool::TTaskPool(int threads, std::size_t count, std::size_t limit, TTask task)
    : Task(std::move(task)), States(count), Limit(limit)
{
    const int others = static_cast<int>(std::min<std::size_t>(count, static_cast<std::size_t>(std::max(threads, 1)))) - 1;
    StartThreads(Threads, others, [this](int i) { Serve(i + 1); });
}

TTaskPool::~TTaskPool()
{
    Stop();
    for (std::thread &thread : Threads)
        thread.join();
}

void TTaskPool::Allow(std::size_t limit)
{
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        if (limit <= Limit)
            return;
        Limit = limit;
    }
    Changed.notify_all();
}

void TTaskPool::Stop()
{
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        Stopped = true;
    }
    Changed.notify_all();
}

bool TTaskPool::Claim(std::size_t i)
{
    int waiting = 0;
    return !Stopped && States[i].State.compare_exchange_strong(waiting, 1);
}

void TTaskPool::Run(std::size_t i, int worker)
{
    ClearUpperVectorHalves();
    try {
        Task(i, worker);
    } catch (...) {
        States[i].Error = std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        States[i].State = 2;
    }
    Changed.notify_all();
}

void TTaskPool::Serve(int worker)
{
    for (std::size_t i = 0; i < States.size(); ++i) {
        {
            std::unique_lock<std::mutex> lock(Mutex);
            Changed.wait(lock, [&] { return Stopped || i < Limit; });
            if (Stopped)
                return;
        }
        if (Claim(i))
            Run(i, worker);
    }
}

void TTaskPool::Wait(std::size_t i, bool help)
{
    TState &state = States[i];
    int waiting = 0;
    // Task i itself runs even when stopped or beyond the limit: it is asked for.
    if (state.State.compare_exchange_strong(waiting, 1))
        Run(i, 0);
    std::size_t limit = 0;
    if (help) {
        const std::lock_guard<std::mutex> lock(Mutex);
        limit = std::min(States.size(), Limit);
    }
    for (std::size_t c = i + 1; state.State != 2 && c < limit; ++c)
        if (Claim(c))
            Run(c, 0);
    {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [&] { return state.State == 2; });
    }
    if (state.Error)
        std::rethrow_exception(state.Error);
}

void RunTasks(int threads, std::size_t count, const TTaskPool::TTask &task)
{
    TTaskPool pool(threads, count, count, task);
    std::exception_ptr first;
    for (std::size_t i = 0; i < count; ++i) {
        try {
            pool.Wait(i);
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    if (first)
        std::rethrow_exception(first);
}

TTaskRounds::TTaskRounds(int threads)
{
    StartThreads(Threads, std::max(threads, 1) - 1, [this](int i) { Serve(i + 1); });
}

TTaskRounds::~TTaskRounds()
{
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        Quit = true;
    }
    Started.notify_all();
    for (std::thread &thread : Threads)
        thread.join();
}

void TTaskRounds::Run(std::size_t count, const TTaskPool::TTask &task)
{
    if (count == 0)
        return;
    {
        // A thread late for the last round may still be in it.
        std::unique_lock<std::mutex> lock(Mutex);
        Finished.wait(lock, [&] { return Active == 0; });
        Task = &task;
        Count = count;
        Next = 0;
        Done = 0;
        Error = nullptr;
        ++Round;
    }
    if (count > 1)
        Started.notify_all();
    Work(task, count, 0);
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(Mutex);
        Finished.wait(lock, [&] { return Done == Count && Active == 0; });
        Task = nullptr;
        error = std::exchange(Error, nullptr);
    }
    if (error)
        std::rethrow_exception(error);
}

void TTaskRounds::Work(const TTaskPool::TTask &task, std::size_t count, int worker)
{
    std::size_t done = 0;
    for (std::size_t i; (i = Next.fetch_add(1)) < count; ++done) {
        ClearUpperVectorHalves();
        try {
            task(i, worker);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(Mutex);
            if (!Error || i < ErrorAt) {
                Error = std::current_exception();
                ErrorAt = i;
            }
        }
    }
    if (done > 0) {
        const std::lock_guard<std::mutex> lock(Mutex);
        Done += done;
    }
}

void TTaskRounds::Serve(int worker)
{
    unsigned long seen = 0;
    for (;;) {
        const TTaskPool::TTask *task = nullptr;
        std::size_t count = 0;
        {
            std::unique_lock<std::mutex> lock(Mutex);
            Started.wait(lock, [&] { return Quit || Round != seen; });
            if (Quit)
                return;
            seen = Round;
            task = Task;
            count = Count;
            ++Active;
        }
        if (task)
            Work(*task, count, worker);
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            --Active;
        }
        Finished.notify_all();
    }
}
