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

} // namespace
