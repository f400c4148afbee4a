#pragma once

// Threads of one picture's work.
//   ThreadsPerPicture - an asked count held within 1 .. kMostThreadsPerPicture.
//   StartThreads      - how many of `count` threads started; the caller does
//                       the others' work (never throws for a thread refused).

#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

// Threads one picture's work is shared among, at most: more only wait on each
// other, and each costs a band buffer or a saved line.
constexpr int kMostThreadsPerPicture = 64;

inline int ThreadsPerPicture(int asked)
{
    return asked < 1 ? 1 : (asked > kMostThreadsPerPicture ? kMostThreadsPerPicture : asked);
}

// Starts `count` threads running body(i), i = 0 .. count - 1, appended to
// `threads`; fewer when the system makes no more (a process limit, no memory
// for a stack). Returns how many started: the caller does the work of the
// others itself.
template <class TBody>
int StartThreads(std::vector<std::thread> &threads, int count, TBody &&body)
{
    int started = 0;
    for (; started < count; ++started) {
        try {
            threads.emplace_back(body, started);
        } catch (const std::system_error &) {
            break;
        } catch (const std::bad_alloc &) {
            break;
        }
    }
    return started;
}
