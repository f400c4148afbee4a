#pragma once

// Circles fitted to points.
//   FitCircle / FitCircleThrough - the circle; Valid false when the points
//                  fit none (fewer than three, or on one line).
//   CircleDeviation - how far the points lie from a circle at most.
//   SolveSymmetric3 - a symmetric 3 x 3 system solved as Eigen's LDLT does.

#include <cstddef>

struct TPoint2
{
    double X;
    double Y;
};

struct TCircle
{
    double X = 0;
    double Y = 0;
    double R = 0;
    bool Valid = false;
};

// The circle nearest to the points in the geometric sense (sum of squared
// distances to the circle): Taubin's algebraic fit, refined by Gauss-Newton.
// Invalid for fewer than three points or points on one straight line.
TCircle FitCircle(const TPoint2 *points, std::size_t count);

// The same for a circle through the two points a and b (its centre on their
// bisector), from a first guess of the centre.
TCircle FitCircleThrough(const TPoint2 *points, std::size_t count, TPoint2 a, TPoint2 b, TCircle guess);

// Largest distance of the points from the circle.
double CircleDeviation(const TPoint2 *points, std::size_t count, const TCircle &circle);

// x for normal x = rhs, the matrix symmetric, to the last bit as Eigen's
// LDLT gives it (normal.ldlt().solve(rhs)): pivots by the largest diagonal
// entry left (the first of equals), a pivot of zero left undivided, a
// zero of the diagonal giving a zero of the solution.
void SolveSymmetric3(const double (&normal)[3][3], const double (&rhs)[3], double (&x)[3]);

// An arc of a stroke as its pixels show it: the centre line on Circle from
// angle Lo to angle Hi (radians, counter-clockwise, Lo < Hi < Lo + 2 pi), the
// stroke HalfWidth wide on either side; an end marked free ends in a round
// cap (with Flat, cut square), the other ends where the pixels given stop.
struct TStrokeArc
{
    TCircle Circle;
    double Lo = 0, Hi = 0;
    double HalfWidth = 0.5;
    bool FreeLo = false, FreeHi = false;
    bool Flat = false;
    // Only the half width and the free ends fitted, the circle kept.
    bool KeepCircle = false;
    // Of the fit: the sum of the squared differences of the ink from the
    // stroke's smooth step over the samples, and how many samples lie on
    // the wrong side of its edge (ink beyond the half width, paper within).
    double Cost = 0;
    std::size_t Wrong = 0;
};

// A pixel near a stroke: its centre and whether it is ink.
struct TInkSample
{
    double X;
    double Y;
    bool Ink;
};

// The arc whose stroke covers the ink samples best: each sample's centre is
// ink where it lies within HalfWidth of the arc (a smooth step of the
// distance, so that the fit reads the edges to a fraction of a pixel),
// fitted by Levenberg-Marquardt from `arc`. The pixels of a short arc lie
// within half a pixel of circles of quite other radii; the ink's edges and
// caps tell them apart where its centre line cannot. False (and `arc` as
// it was) when the fit does not settle.
// Fits from one start (the same samples, circle, ends, half width and kind
// of end) may share `start`: the first fills it, the others read it.
// `nearEnd`, when given, holds NearFreeEnd of each sample for the start;
// `angles` each sample's atan2 about the start's centre.
struct TStrokeArcStart;
bool FitStrokeArc(const TInkSample *samples, std::size_t count, TStrokeArc &arc, const char *nearEnd = nullptr,
                  TStrokeArcStart *start = nullptr, const double *angles = nullptr);

// Whether a sample at angle `phi` about the arc's circle (less the middle
// of Lo .. Hi, within -pi .. pi) lies near a free end (within the half width
// and 8 px of it along the circle, or past it): the samples FitStrokeArc
// reads off the whole stroke, caps too; the others off the circle alone.
bool NearFreeEnd(const TStrokeArc &arc, double phi);

// The cost and the normal equations of a fit at its start.
struct TStrokeArcStart
{
    bool Known = false;
    double Cost = 0;
    std::size_t Wrong = 0;
    double Normal[6][6] = {};
    double Gradient[6] = {};
};

// The arc in the middle of those whose strokes put every sample on its side
// of the edge (ink within the half width, the rest beyond it): the analytic
// centre of that set, found from `arc` (its kind of end, which ends are
// free and the samples near them as FitStrokeArc reads them). The pixels of
// a short arc fit many circles exactly; the middle of them lies nearest to
// the true one on the whole. False (and `arc` as it was) when no such arc
// lies near, as on a scan's rough edges.
bool CentreStrokeArc(const TInkSample *samples, std::size_t count, TStrokeArc &arc, const char *nearEnd);
