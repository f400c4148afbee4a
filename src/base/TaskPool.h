#pragma once

// Parallel work: indexed tasks shared among the -j threads.
//   TTaskPool - runs task(i, worker) for i = 0 .. count - 1 on its threads and
//               on the caller, in order of i and only below a limit the
//               caller raises; the caller takes each task's result in order
//               with Wait(i).
//   RunTasks  - every task at once; returns when all are done.
//   TTaskRounds - RunTasks over and over on the same threads, for work done
//               in many short rounds.
//   BandStart - where each of equal bands of lines begins.
// Threads the system cannot make mean fewer threads, never a failure: the
// caller does the tasks nobody took. The caller is worker 0, the pool's
// threads 1 .. Workers() - 1, so that a task may keep per-worker scratch.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TTaskPool
{
public:
    using TTask = std::function<void(std::size_t task, int worker)>;

    // Starts threads - 1 threads (fewer when the system makes no more); the
    // tasks below `limit` may start at once.
    TTaskPool(int threads, std::size_t count, std::size_t limit, TTask task);
    // Stop(), then waits for the tasks running.
    ~TTaskPool();
    TTaskPool(const TTaskPool &) = delete;
    TTaskPool &operator=(const TTaskPool &) = delete;

    // Lets the tasks below `limit` start (a lower limit changes nothing).
    void Allow(std::size_t limit);
    // Returns once task i is done: runs it here when no thread took it, and
    // meanwhile (with `help`) the next tasks below the limit that nobody took.
    // Rethrows what task i threw.
    void Wait(std::size_t i, bool help = true);
    // Tasks that have not begun never start; Stopping() is true from now on.
    void Stop();
    const std::atomic<bool> &Stopping() const { return Stopped; }
    // The threads that run tasks, the caller's included.
    int Workers() const { return static_cast<int>(Threads.size()) + 1; }

private:
    struct TState
    {
        std::atomic<int> State{0};  // 0 waiting, 1 running, 2 done
        std::exception_ptr Error;
    };

    bool Claim(std::size_t i);
    void Run(std::size_t i, int worker);
    void Serve(int worker);

    TTask Task;
    std::vector<TState> States;
    std::size_t Limit;
    std::atomic<bool> Stopped{false};
    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<std::thread> Threads;
};

// Rounds of tasks on threads started once: each Run runs task(i, worker) for
// i = 0 .. count - 1 on the threads and the caller (worker 0) and returns
// when all are done, rethrowing what the first failed task (in order of i)
// threw. Between rounds the threads wait without using the processor.
class TTaskRounds
{
public:
    // Starts threads - 1 threads (fewer when the system makes no more).
    explicit TTaskRounds(int threads);
    ~TTaskRounds();
    TTaskRounds(const TTaskRounds &) = delete;
    TTaskRounds &operator=(const TTaskRounds &) = delete;

    void Run(std::size_t count, const TTaskPool::TTask &task);
    // The threads that run tasks, the caller's included.
    int Workers() const { return static_cast<int>(Threads.size()) + 1; }

private:
    void Serve(int worker);
    // Takes tasks of the round until none is left.
    void Work(const TTaskPool::TTask &task, std::size_t count, int worker);

    std::mutex Mutex;
    std::condition_variable Started, Finished;
    const TTaskPool::TTask *Task = nullptr;
    std::size_t Count = 0;
    std::atomic<std::size_t> Next{0};
    std::size_t Done = 0;     // tasks of the round done
    int Active = 0;           // threads in the round
    unsigned long Round = 0;
    bool Quit = false;
    std::size_t ErrorAt = 0;  // the first failed task, when Error
    std::exception_ptr Error;
    std::vector<std::thread> Threads;
};

// The first of `lines` lines in band `band` of `bands` equal bands (band
// `bands` gives `lines`), for tasks that each take a band of a picture.
inline int BandStart(int lines, int bands, int band)
{
    return static_cast<int>(static_cast<long long>(lines) * band / bands);
}

// Runs task(i, worker) for i = 0 .. count - 1 on up to `threads` threads, the
// caller's included; returns when all are done. Rethrows what the first
// failed task (in order of i) threw, after the others are done.
void RunTasks(int threads, std::size_t count, const TTaskPool::TTask &task);
