#pragma once

// The pixels of a straight line.
//   ForEachLinePixel - calls put(x, y) for each pixel from one end to the other
//                      (Bresenham); never fails.

#include <cstdlib>

// Calls put(x, y) for every pixel of the 8-connected straight line from
// (x0, y0) to (x1, y1), both ends included, in order from the first end
// (Bresenham's line).
template <class TPut>
void ForEachLinePixel(int x0, int y0, int x1, int y1, TPut &&put)
{
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        put(x0, y0);
        if (x0 == x1 && y0 == y1)
            return;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}
