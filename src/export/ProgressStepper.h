#pragma once

#include "app/core/UserInterface.h"

#include <cstdint>

// The progress bar of a writer: maximum = segment count div 100, one step and a
// round of pending window messages after every hundredth segment.
class TProgressStepper
{
public:
    TProgressStepper(TUserInterface &ui, std::int32_t segmentCount) : UI(ui)
    {
        UI.SetProgressMaximum(segmentCount / 100);
    }

    // After segment number `written` (counting from 1) is out.
    void Step(std::int32_t written)
    {
        if (written % 100 == 0) {
            UI.SetProgressPosition(++Position);
            UI.ProcessMessages();
        }
    }

private:
    TUserInterface &UI;
    int Position = 0;
};
