#pragma once

// A writer's progress.
//   TProgressStepper - a writer's bar: a step after every hundredth segment.

#include "base/ProgressPort.h"

#include <cstdint>

// The progress bar of a writer: maximum = segment count div 100, one step
// (with its round of pending window messages) after every hundredth segment.
class TProgressStepper
{
public:
    TProgressStepper(TProgressPort &progress, std::int32_t segmentCount) : Progress(progress)
    {
        Progress.SetMaximum(segmentCount / 100);
    }

    // After segment number `written` (counting from 1) is out.
    void Step(std::int32_t written)
    {
        if (written % 100 == 0)
            Progress.Step(++Position);
    }

private:
    TProgressPort &Progress;
    int Position = 0;
};
