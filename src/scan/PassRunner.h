#pragma once

// How the tracers run their passes.
//   RunPasses - runs every pass's lines in order, on up to
//               TTraceOptions::Threads threads, appending their segments as one
//               thread would; ScanStopped on cancel, ScanOutOfMemory on a
//               failed growth.

#include "scan/ScanStatus.h"

#include <atomic>
#include <functional>
#include <vector>

class TProgressPort;
class TSegmentList;

// How a tracer may work.
struct TTraceOptions
{
    // Threads in all, the caller's included; 1: everything on the caller's
    // thread. The segment list is the same for every count.
    int Threads = 1;
    // Lines a thread traces at a time (0: each pass's own choice); only tests
    // make it small.
    int ChunkLines = 0;
};

// Traces one line into `out`; false when `out` ran out of memory.
class TSegmentList;
using TLineTracer = std::function<bool(int line, TSegmentList &out)>;

// One pass of a tracer: a number of lines, each one step of the progress bar,
// each appending its segments in order.
struct TPass
{
    int Lines = 0;
    // The progress step of a line comes after it (else before it).
    bool StepAfter = false;
    // Lines of one thread's chunk.
    int ChunkLines = 64;
    // A tracer for lines first .. first + count - 1, in order (it may keep
    // state from line to line, e.g. what it found for a band of columns).
    std::function<TLineTracer(int first, int count)> Chunk;
    // Work the pass needs before its first line, if any. With several threads
    // it is done ahead on another thread from the start of the run; `stop`
    // says the run has ended and the work may be dropped.
    std::function<void(const std::atomic<bool> &stop)> Prepare;
    // The lines are cheap (the segments already found by Prepare): always
    // traced on the caller's thread.
    bool Inline = false;
    // Called on the caller's thread as the pass begins, after every line of
    // the passes before it (e.g. to free what only those passes needed).
    std::function<void()> Starting;
    // The preparations of every pass, later ones included, are done before
    // this pass starts (so that Starting may free what all of them read).
    bool AfterAllPreparations = false;
    // Called on the caller's thread once line `line` is appended: the lines
    // up to it are traced, and no other thread reads what only they needed.
    std::function<void(int line)> Appended;
};

// Runs the passes in order as one tracer: for every line the progress step
// (pending window messages, the cancel button) and the line's segments
// appended to `segments`. With several threads, the chunks of the passes are
// traced ahead on other threads into lists of their own and appended line by
// line, so that the list, the extents, the progress steps and a stop at any
// line are exactly those of one thread. `counter` is the progress position,
// raised by one a line. ScanStopped on cancel, ScanOutOfMemory when the list
// ran out of memory (the list released), else ScanDone.
TScanStatus RunPasses(std::vector<TPass> &passes, TSegmentList &segments, TProgressPort &progress,
                      const TTraceOptions &options, int &counter);
