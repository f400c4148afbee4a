#include "base/TaskPool.h"

#include "base/Threads.h"

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
