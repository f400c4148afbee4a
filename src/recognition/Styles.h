#pragma once

// Line widths and filled areas.
//   FindFills       - the solid areas of the ink.
//   ExtendIntoFills / MeasureWidths - the drawing's lines run into the fills,
//                     and their widths from the ink; throw std::bad_alloc
//                     without memory.

#include "cleanup/PackedMask.h"
#include "drawing/Drawing.h"
#include "scan/BlackMask.h"

#include <vector>

// Fills: shapes of the ink too thick for their length. The drawing's line
// depth is the deepest stroke that a good share of the ink's ridges (pixels
// no deeper than any neighbour, depth counted in alternating square and
// cross erosions) has; what survives one erosion more, grown back and with
// the narrow corners and tips that only touch it (an arrowhead's point, also
// where the scan parted it from the rest by a pixel of paper), is a fill. A fill that is round becomes a filled circle; any other is
// covered by four-cornered pieces that follow its rows to within a pixel.
// The erosions are shared over `threads` threads; the fills are the same for
// every count.
struct TFills
{
    TBlackMask Mask;                    // the fills' pixels
    std::vector<TDrawingFill> Shapes;   // pixel units, Y = height - row
};
TFills FindFills(const TBlackMask &ink, int threads = 1);

// Pixel at drawing point (x, y): column x, row height - y, both rounded.
// The drawing may be turned by `skew` degrees counter-clockwise about the
// sheet's centre from the ink it was found in.
struct TInkFrame
{
    int Width = 0;
    int Height = 0;
    double Skew = 0;
    // The ink's point of a drawing point, and back.
    void ToInk(double &x, double &y) const;
    void FromInk(double &x, double &y) const;
};

// Lines that end where a fill starts go on into it: to a dot's centre, or
// as far as the fill goes along them (an arrow's shaft to its point).
// With `joined`, line ends that meet in a dot (a junction placed there) stay.
void ExtendIntoFills(TDrawing &drawing, const TFills &fills, const TInkFrame &frame, bool joined = false);
// The same with the fills' mask packed (their lines read where they lie).
void ExtendIntoFills(TDrawing &drawing, const std::vector<TDrawingFill> &shapes, const TPackedMask &mask,
                     const TInkFrame &frame, bool joined = false);

// Every entity's Width: the middle of the widths of its stroke across it,
// measured at points along its middle part on the ink; the entities are
// shared over `threads` threads.
void MeasureWidths(TDrawing &drawing, const TBlackMask &ink, const TInkFrame &frame, int threads = 1);
