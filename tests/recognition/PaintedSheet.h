#pragma once

#include "scan/BlackMask.h"

#include <functional>

// A sheet the tests paint with shapes given in drawing coordinates: rows grow
// downward in the mask, the drawing's Y is height - row.
struct TPaintedSheet
{
    TBlackMask Ink{400, 300};

    // Blackens every pixel whose corner (x, height - row) is inside.
    void Paint(const std::function<bool(double, double)> &inside)
    {
        for (int row = 0; row < Ink.Height(); ++row)
            for (int x = 0; x < Ink.Width(); ++x)
                if (inside(x, Ink.Height() - row))
                    Ink.SetBlack(x, row);
    }
};
