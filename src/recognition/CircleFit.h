#pragma once

// Circles fitted to points.
//   FitCircle / FitCircleThrough - the circle; Valid false when the points
//                  fit none (fewer than three, or on one line).
//   CircleDeviation - how far the points lie from a circle at most.

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
