#include "base/TaskPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

// Every task runs once, never beyond the limit the caller allowed, on a
// worker numbered below Workers(); what a task threw comes back at its Wait,
// and the tasks after it still run.
TEST(TaskPool, RunsEachTaskOnceWithinTheLimit)
{
    for (const int threads : {1, 2, 3, 8}) {
        constexpr std::size_t kCount = 200;
        constexpr std::size_t kWindow = 3;
        std::vector<std::atomic<int>> runs(kCount);
        std::atomic<std::size_t> allowed{kWindow};
        std::atomic<int> beyond{0}, badWorker{0};
        int workers = 0;
        {
            TTaskPool pool(threads, kCount, kWindow, [&](std::size_t i, int worker) {
                if (i >= allowed && i != 0)
                    ++beyond;
                if (worker < 0 || worker >= threads)
                    ++badWorker;
                ++runs[i];
                if (i % 50 == 7)
                    throw std::runtime_error("task " + std::to_string(i));
            });
            workers = pool.Workers();
            for (std::size_t i = 0; i < kCount; ++i) {
                if (i % 50 == 7)
                    EXPECT_THROW(pool.Wait(i), std::runtime_error) << i;
                else
                    pool.Wait(i);
                EXPECT_EQ(runs[i], 1) << "threads " << threads << " task " << i;
                // Wait(i) may itself run tasks up to the limit: raise it after.
                allowed = i + 1 + kWindow;
                pool.Allow(i + 1 + kWindow);
            }
        }
        EXPECT_EQ(beyond, 0) << threads;
        EXPECT_EQ(badWorker, 0) << threads;
        EXPECT_GE(workers, 1);
        EXPECT_LE(workers, threads);
    }
}

// RunTasks does every task and passes on the first failure in task order.
TEST(TaskPool, RunTasksDoesAllAndRethrowsTheFirstFailure)
{
    for (const int threads : {1, 4}) {
        std::vector<std::atomic<int>> runs(64);
        try {
            RunTasks(threads, runs.size(), [&](std::size_t i, int) {
                ++runs[i];
                if (i == 40 || i == 20)
                    throw std::runtime_error(std::to_string(i));
            });
            ADD_FAILURE() << "no failure passed on";
        } catch (const std::runtime_error &error) {
            EXPECT_STREQ(error.what(), "20");
        }
        for (std::size_t i = 0; i < runs.size(); ++i)
            EXPECT_EQ(runs[i], 1) << i;
    }
}

// Rounds on the same threads: each task of each round runs once, on a worker
// below Workers(), and a round returns only when all its tasks are done;
// the first failure in task order comes back after the others ran.
TEST(TaskPool, TaskRoundsRunEachRoundWhole)
{
    for (const int threads : {1, 2, 3}) {
        TTaskRounds rounds(threads);
        EXPECT_GE(rounds.Workers(), 1);
        EXPECT_LE(rounds.Workers(), threads);
        for (const std::size_t count : {0, 1, 2, 7, 300, 1, 300}) {
            std::vector<std::atomic<int>> runs(count);
            std::atomic<int> badWorker{0};
            const auto task = [&](std::size_t i, int worker) {
                if (worker < 0 || worker >= rounds.Workers())
                    ++badWorker;
                ++runs[i];
                if (count == 300 && (i == 250 || i == 120))
                    throw std::runtime_error(std::to_string(i));
            };
            if (count == 300)
                EXPECT_THROW(
                    try { rounds.Run(count, task); } catch (const std::runtime_error &error) {
                        EXPECT_STREQ(error.what(), "120");
                        throw;
                    },
                    std::runtime_error);
            else
                rounds.Run(count, task);
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(runs[i], 1) << threads << ' ' << count << ' ' << i;
            EXPECT_EQ(badWorker, 0);
        }
    }
}


#if defined(__x86_64__) && defined(__GNUC__)
// Whether the upper halves of the wide vector registers are in use on this
// thread (the processor's "in use" bits), or -1 where it does not tell.
int UpperHalvesInUse()
{
    if (!__builtin_cpu_supports("avx"))
        return -1;
    unsigned a, b, c, d;
    __asm__("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(0xd), "c"(1));
    if (!(a & 4))
        return -1;
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
    return (lo & 4) != 0;
}

// (Not built for the wide registers: the compiler would clear them on return.)
[[gnu::noinline]] void DirtyUpperHalves()
{
    __asm__ volatile("vpcmpeqd %%ymm1, %%ymm1, %%ymm1" ::: "xmm1");
}

// A thread whose wide registers were left in use (as some library code leaves
// them) starts pools and rounds whose tasks begin with them cleared, on the
// calling thread and the started ones: maths calls run many times slower
// otherwise.
TEST(TaskPool, TasksStartWithTheWideRegistersCleared)
{
    if (UpperHalvesInUse() < 0)
        GTEST_SKIP() << "the processor does not tell";
    for (const int threads : {1, 2}) {
        DirtyUpperHalves();
        ASSERT_EQ(UpperHalvesInUse(), 1);
        std::atomic<int> inUse{0};
        const auto task = [&](std::size_t, int) { inUse += UpperHalvesInUse(); };
        RunTasks(threads, 8, task);
        EXPECT_EQ(inUse, 0) << threads;
        DirtyUpperHalves();
        TTaskRounds rounds(threads);
        rounds.Run(8, task);
        EXPECT_EQ(inUse, 0) << threads;
    }
}
#endif

} // namespace
