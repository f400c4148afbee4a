#pragma once

// Lines, arcs and circles from centre lines.
//   RecogniseDrawing - the drawing of a thinned mask; throws std::bad_alloc
//                      without memory.

#include "cleanup/PackedMask.h"
#include "drawing/Drawing.h"
#include "scan/BlackMask.h"

#include <functional>
#include <optional>
#include <vector>

// How the centre lines become a drawing.
struct TGeometryOptions
{
    // Largest distance of a written line or arc from its pixels.
    double Tolerance = 1;
    // Arcs and circles where they fit; otherwise only lines.
    bool Arcs = false;
    // Lines within this many degrees of the axes become axis-parallel, ends
    // near other ends or lines meet them, pieces of one straight line cut at
    // junctions become one line, and free ends stop where their stroke ends;
    // 0 leaves the fitted geometry as it is.
    double Snap = 0;
    // The skew of the sheet is measured on the fitted lines (the
    // length-weighted middle of their angles to the nearest axis, within 7
    // degrees) and the geometry turned back about the sheet's centre before
    // it is snapped.
    bool Deskew = false;
    // Snapping leaves two ends apart where paper lies between them (the gaps
    // of dashed lines).
    bool KeepGaps = false;
    // Chains are fitted over this many threads; the drawing is the same for
    // every count.
    int Threads = 1;
    // Filled dots taken out of the ink before it was thinned (centre and
    // radius, the drawing's units): with Snap, the lines that run into a dot
    // from two sides or more meet at one junction in it, as at a junction
    // of strokes.
    struct TDot
    {
        double X = 0, Y = 0, R = 0;
    };
    std::vector<TDot> Dots;
    // Asked between the parts of the work (on any of the threads): true once
    // the recognition should stop, which it then cuts short, leaving a
    // drawing that is to be dropped. Empty: never.
    std::function<bool()> Stop;
};

// The drawing of a mask of lines one pixel wide (`centre`, as Centerline
// makes it) in pixel units with Y growing upward (row r is Y = height - r).
// Every chain of pixels becomes the fewest lines (and arcs, with Arcs) that
// stay within Tolerance of it, consecutive pieces meeting at one point; a
// closed chain within Tolerance of one circle becomes a circle. `ink` is the
// mask before thinning: the stroke widths are read from it.
// With Deskew, `skew` receives the skew found (degrees counter-clockwise),
// or nothing when too few long lines lie near the axes to tell (the drawing
// is then not turned). `centre` is let go as soon as its chains are fitted
// (move a mask in that is not needed after).
TDrawing RecogniseDrawing(TBlackMask centre, const TBlackMask &ink, const TGeometryOptions &options,
                          std::optional<double> *skew = nullptr);
// The same with the ink lent packed: unpacked while the chains are fitted,
// then packed again, the rest reading its pixels where they lie, so that
// the whole ink stands in memory only while it is read all over. On return
// `ink` holds it packed as it came (or nothing, when stopped).
TDrawing RecogniseDrawing(TBlackMask centre, TPackedMask &ink, const TGeometryOptions &options,
                          std::optional<double> *skew = nullptr);
