#include "recognition/Recognition.h"

#include "base/Chunks.h"
#include "base/LargeBlock.h"
#include "base/TaskPool.h"

#include "cleanup/PixelChains.h"
#include "cleanup/PixelNeighbours.h"
#include "recognition/ChainStore.h"
#include "recognition/CircleFit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <iterator>
#include <limits>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <numeric>
#include <unordered_map>
#include <vector>

namespace {

// The minimum of a one-humped cost over [lo, hi] by golden section search, after the given number of steps:
// the middle of the interval left.
template <class Cost> double GoldenSectionMinimum(double lo, double hi, int steps, const Cost &cost)
{
    const double g = (std::sqrt(5.0) - 1) / 2;
    double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo), f1 = cost(x1), f2 = cost(x2);
    for (int step = 0; step < steps; ++step) {
        if (f1 < f2) {
            hi = x2;
            x2 = x1;
            f2 = f1;
            x1 = hi - g * (hi - lo);
            f1 = cost(x1);
        } else {
            lo = x1;
            x1 = x2;
            f1 = f2;
            x2 = lo + g * (hi - lo);
            f2 = cost(x2);
        }
    }
    return (lo + hi) / 2;
}

constexpr double kDegree = std::numbers::pi / 180;
// Arcs wider than this stay lines, and so do arcs of less sweep.
constexpr double kLargestRadius = 20000;
constexpr double kSmallestSweep = 10;
// Snapping joins the pieces of a stroke broken by the scan across gaps of at
// most this many pixels.
constexpr double kLongestBrokenGap = 40;

using TPoints = std::vector<TPoint2>;

// std::lround for pixel coordinates, without the library call (half away
// from zero, as lround).
inline int Round(double v)
{
    return v >= 0 ? static_cast<int>(v + 0.5) : -static_cast<int>(0.5 - v);
}

// How far the ink runs from (x, y) (drawing units, rows of a mask `height`
// high) along sign (ux, uy): the t at which
//   t = 0; while (t <= cap && black(x + sign * (t + kStep) * ux, y + sign * (t + kStep) * uy)) t += kStep;
// stops, black reading the pixel at the rounded point. Only the steps that
// land on another pixel than the step before are taken (the rounded point
// moves one way along the steps, floating-point rounding keeping their
// order): each is guessed where the point crosses an edge of its pixel,
// then moved to the exact step.
double InkRun(const TBlackMask &ink, int height, double x, double y, double sign, double ux, double uy, double cap)
{
    constexpr double kStep = 0.125;
    if (!(cap >= 0))
        return 0;
    // Step k reads the pixel at t + kStep = k kStep; the last is `end`.
    const int end = static_cast<int>(cap / kStep) + 1;
    // (sign * (k kStep) * u is (k kStep) * (sign * u) to the bit: sign is +-1.)
    const double sx = sign * ux, sy = sign * uy;
    const auto column = [&](int k) { return Round(x + (k * kStep) * sx); };
    const auto row = [&](int k) { return Round(y + (k * kStep) * sy); };
    // The guess: the nearer of the steps (col + edgeX) * perX and (line +
    // edgeY) * perY (a coordinate that stays puts its edge past the last step).
    const double edgeX = sx == 0 ? 2.0 * end : (sx > 0 ? 0.5 : -0.5) - x, perX = sx == 0 ? 1 : 1 / (sx * kStep);
    const double edgeY = sy == 0 ? 2.0 * end : (sy > 0 ? 0.5 : -0.5) - y, perY = sy == 0 ? 1 : 1 / (sy * kStep);
    int k = 1, col = column(1), line = row(1);
    for (;;) {
        if (!ink.Black(col, height - line))
            return (k - 1) * kStep;
        const double guess = std::min((col + edgeX) * perX, (line + edgeY) * perY);
        int s = guess < end ? static_cast<int>(std::max(guess, static_cast<double>(k))) + 1 : end + 1, c = col, r = line;
        const auto moved = [&](int step) {
            c = column(step);
            r = row(step);
            return c != col || r != line;
        };
        while (s > k + 1 && moved(s - 1))
            --s;
        while (s <= end && !moved(s))
            ++s;
        if (s > end)
            return end * kStep;
        k = s;
        col = c;
        line = r;
    }
}

// A straight line: a point on it and its unit direction.
struct TLine
{
    double X = 0, Y = 0, Dx = 1, Dy = 0;
    double Distance(const TPoint2 &p) const { return std::abs((p.X - X) * Dy - (p.Y - Y) * Dx); }
    TPoint2 Project(const TPoint2 &p) const
    {
        const double t = (p.X - X) * Dx + (p.Y - Y) * Dy;
        return {X + t * Dx, Y + t * Dy};
    }
    // The farthest any of `n` points lies from the line.
    double Deviation(const TPoint2 *p, std::size_t n) const
    {
        double most = 0;
        for (std::size_t k = 0; k < n; ++k)
            most = std::max(most, Distance(p[k]));
        return most;
    }
};

TLine Through(TPoint2 a, TPoint2 b)
{
    const double l = std::hypot(b.X - a.X, b.Y - a.Y);
    if (l == 0)
        return {a.X, a.Y, 1, 0};
    return {a.X, a.Y, (b.X - a.X) / l, (b.Y - a.Y) / l};
}

double Distance(TPoint2 a, TPoint2 b)
{
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    return std::sqrt(dx * dx + dy * dy);
}

// Where two lines cross; false when they are within `degrees` of parallel.
bool Crossing(const TLine &a, const TLine &b, TPoint2 &p, double degrees = 5)
{
    // (The sine of the last angle asked for kept: the callers ask for few.)
    thread_local double lastDegrees = std::numeric_limits<double>::quiet_NaN(), sine = 0;
    if (degrees != lastDegrees) {
        sine = std::sin(degrees * kDegree);
        lastDegrees = degrees;
    }
    const double cross = a.Dx * b.Dy - a.Dy * b.Dx;
    if (std::abs(cross) < sine)
        return false;
    const double t = ((b.X - a.X) * b.Dy - (b.Y - a.Y) * b.Dx) / cross;
    p = {a.X + t * a.Dx, a.Y + t * a.Dy};
    return true;
}

TPoint2 OnCircle(const TCircle &c, TPoint2 p)
{
    const double d = Distance({c.X, c.Y}, p);
    if (d == 0)
        return {c.X + c.R, c.Y};
    return {c.X + (p.X - c.X) * c.R / d, c.Y + (p.Y - c.Y) * c.R / d};
}

// The crossing of a line and a circle nearest to `near`; false when none.
bool Crossing(const TLine &l, const TCircle &c, TPoint2 near, TPoint2 &p)
{
    const double fx = l.X - c.X, fy = l.Y - c.Y;
    const double b = fx * l.Dx + fy * l.Dy, q = fx * fx + fy * fy - c.R * c.R;
    const double disc = b * b - q;
    if (disc < 0)
        return false;
    const double s = std::sqrt(disc);
    const TPoint2 p1{l.X + (-b - s) * l.Dx, l.Y + (-b - s) * l.Dy};
    const TPoint2 p2{l.X + (-b + s) * l.Dx, l.Y + (-b + s) * l.Dy};
    p = Distance(p1, near) <= Distance(p2, near) ? p1 : p2;
    return true;
}

bool Crossing(const TCircle &a, const TCircle &b, TPoint2 near, TPoint2 &p)
{
    const double d = Distance({a.X, a.Y}, {b.X, b.Y});
    if (d == 0 || d > a.R + b.R || d < std::abs(a.R - b.R))
        return false;
    const double t = (d * d + a.R * a.R - b.R * b.R) / (2 * d), h = std::sqrt(std::max(0.0, a.R * a.R - t * t));
    const double ux = (b.X - a.X) / d, uy = (b.Y - a.Y) / d;
    const TPoint2 m{a.X + t * ux, a.Y + t * uy};
    const TPoint2 p1{m.X - h * uy, m.Y + h * ux}, p2{m.X + h * uy, m.Y - h * ux};
    p = Distance(p1, near) <= Distance(p2, near) ? p1 : p2;
    return true;
}

// The middles of the stroke across an arc's centre line: each point moved
// along its radius to halfway between the ink's edges there (the thinning
// leaves the centre line up to half a pixel off the middle, which bends a
// short arc's circle). A point whose ink runs on farther than a stroke of
// half width `halfWidth` (a junction, a fill) stays where it is.
TPoints StrokeMiddles(const TBlackMask &ink, const TPoint2 *p, std::size_t n, const TCircle &c, double halfWidth)
{
    constexpr double kStep = 0.125;
    const double cap = 2 * halfWidth + 2;
    const auto black = [&](double x, double y) {
        return ink.Black(Round(x), ink.Height() - Round(y));
    };
    TPoints out(p, p + n);
    for (std::size_t k = 0; k < n; ++k) {
        const double dx = p[k].X - c.X, dy = p[k].Y - c.Y, d = std::hypot(dx, dy);
        if (d == 0 || !black(p[k].X, p[k].Y))
            continue;
        const double ux = dx / d, uy = dy / d;
        double edge[2] = {0, 0};
        bool bounded = true;
        for (int side = 0; side < 2 && bounded; ++side) {
            const double sign = side == 0 ? 1 : -1;
            const double t = InkRun(ink, ink.Height(), p[k].X, p[k].Y, sign, ux, uy, cap);
            bounded = t <= cap;
            edge[side] = sign * (t + kStep / 2);
        }
        if (!bounded)
            continue;
        const double middle = (edge[0] + edge[1]) / 2;
        out[k] = {p[k].X + middle * ux, p[k].Y + middle * uy};
    }
    return out;
}

// Sums of the points' coordinates, so that the least-squares line of any run
// of them costs the same.
class TPrefixSums
{
public:
    explicit TPrefixSums(const TPoints &p) : S(p.size() + 1)
    {
        for (std::size_t i = 0; i < p.size(); ++i) {
            const TSums &s = S[i];
            S[i + 1] = {s.X + p[i].X, s.Y + p[i].Y, s.XX + p[i].X * p[i].X, s.XY + p[i].X * p[i].Y,
                        s.YY + p[i].Y * p[i].Y};
        }
    }
    // The mean and second moments about it of points i .. j.
    struct TMoments
    {
        double N, Mx, My, Sxx, Sxy, Syy;
    };
    TMoments Moments(std::size_t i, std::size_t j) const
    {
        const TSums &a = S[i], &b = S[j + 1];
        const double n = static_cast<double>(j + 1 - i);
        const double mx = (b.X - a.X) / n, my = (b.Y - a.Y) / n;
        return {n, mx, my, (b.XX - a.XX) / n - mx * mx, (b.XY - a.XY) / n - mx * my, (b.YY - a.YY) / n - my * my};
    }
    // Total least squares line of points i .. j.
    TLine Line(std::size_t i, std::size_t j) const
    {
        const TMoments m = Moments(i, j);
        const double mx = m.Mx, my = m.My, sxx = m.Sxx, sxy = m.Sxy, syy = m.Syy;
        // The direction at half the angle of (sxx - syy, 2 sxy), without
        // trigonometry.
        const double u = sxx - syy, v = 2 * sxy, r = std::hypot(u, v);
        if (r == 0)
            return {mx, my, 1, 0};
        const double c2 = u / r;
        const double dx = std::sqrt(std::max(0.0, (1 + c2) / 2)), dy = std::sqrt(std::max(0.0, (1 - c2) / 2));
        return {mx, my, dx, v >= 0 ? dy : -dy};
    }

    // The sum of the squared distances of points i .. j from that line.
    double LineSquares(std::size_t i, std::size_t j) const
    {
        const TMoments m = Moments(i, j);
        const double n = m.N, sxx = m.Sxx, sxy = m.Sxy, syy = m.Syy;
        return n * std::max(0.0, 0.5 * (sxx + syy) - std::hypot(0.5 * (sxx - syy), sxy));
    }

private:
    struct TSums
    {
        double X = 0, Y = 0, XX = 0, XY = 0, YY = 0;
    };
    std::vector<TSums> S;
};

struct TPiece
{
    bool Arc = false;
    std::size_t I = 0, J = 0;  // first and last point
    TLine Line;
    TCircle Circle;
    bool Ccw = true;
    // How far from its last pixel the corner at its end may lie (a corner
    // cut by the thinning and sharpened).
    double CornerReach = 0;
    // An arc kept from the corner rule: it ends at its tangent points.
    bool Fillet = false;
    // An arc's pixels within the tolerance before its tangent points were
    // placed (what a fit within a wider tolerance is compared by).
    std::size_t Within = 0;
};

// Signed sweep, degrees, of points i .. j around the circle's centre.
double SignedSweep(const TPoints &p, std::size_t i, std::size_t j, const TCircle &c)
{
    // Sampled at most 16 times: a chain within the tolerance of its circle
    // turns less than half a turn between samples.
    const std::size_t step = std::max<std::size_t>(1, (j - i) / 16);
    double total = 0, last = std::atan2(p[i].Y - c.Y, p[i].X - c.X);
    for (std::size_t k = std::min(i + step, j); k <= j; k = (k == j ? j + 1 : std::min(k + step, j))) {
        const double a = std::atan2(p[k].Y - c.Y, p[k].X - c.X);
        double d = a - last;
        if (d > std::numbers::pi)
            d -= 2 * std::numbers::pi;
        if (d < -std::numbers::pi)
            d += 2 * std::numbers::pi;
        total += d;
        last = a;
    }
    return total / kDegree;
}

class TChainFitter
{
public:
    // `ink`, when given, tells fillets from corners cut by the thinning.
    TChainFitter(const TPoints &points, const TGeometryOptions &options, const TBlackMask *ink = nullptr)
        : P(points), Sums(points), Options(options), Ink(ink)
    {
    }

    // The fewest lines within the tolerance (greedy: each as long as it
    // can be), corners cut by the thinning sharpened; then, with Arcs, every
    // run of two or more of them without a sharp turn that one circle fits
    // becomes an arc, its ends moved to where the lines beside it stop fitting.
    std::vector<TPiece> Fit(std::size_t first, std::size_t last, double halfWidth)
    {
        HalfWidth = halfWidth;
        std::vector<TPiece> lines;
        for (std::size_t i = first; i < last;) {
            TPiece line;
            const std::size_t end = Reach(i, last, 1, [&](std::size_t j) { return LineFits(i, j, line); });
            LineFits(i, end, line);
            lines.push_back(line);
            i = end;
        }
        SharpenCorners(lines, halfWidth);
        if (!Options.Arcs)
            return lines;
        std::vector<TPiece> pieces;
        pieces.reserve(lines.size());
        for (std::size_t k = 0; k < lines.size();) {
            if (lines[k].Arc) {  // a fillet kept from the corner rule
                pieces.push_back(lines[k]);
                ++k;
                continue;
            }
            std::size_t m = k;
            TPiece arc, candidate;
            // A straight piece longer than a chord of the largest radius
            // within the tolerance is no part of an arc.
            const double longest = std::sqrt(8 * Options.Tolerance * kLargestRadius);
            const auto straight = [&](const TPiece &l) { return Distance(P[l.I], P[l.J]) > longest; };
            for (std::size_t n = k + 1; n < lines.size() && !lines[n].Arc && Turn(lines[n - 1], lines[n]) < 60 &&
                                        !straight(lines[k]) && !straight(lines[n]);
                 ++n) {
                if (!ArcFits(lines[k].I, lines[n].J, candidate))
                    break;
                m = n;
                arc = candidate;
            }
            if (m > k && std::abs(SignedSweep(P, arc.I, arc.J, arc.Circle)) >= kSmallestSweep) {
                pieces.push_back(arc);
                k = m + 1;
            } else {
                pieces.push_back(lines[k]);
                ++k;
            }
        }
        // Each arc takes over the pixels of the lines beside it that it fits.
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            if (!pieces[k].Arc || pieces[k].Fillet)
                continue;
            TPiece fit;
            if (k > 0 && !pieces[k - 1].Arc) {
                TPiece &line = pieces[k - 1];
                std::size_t good = pieces[k].I, bad = line.I;
                if (ArcFits(line.I, pieces[k].J, fit)) {
                    good = line.I;
                } else {
                    while (good - bad > 1) {
                        const std::size_t mid = bad + (good - bad) / 2;
                        (ArcFits(mid, pieces[k].J, fit) ? good : bad) = mid;
                    }
                }
                if (good != pieces[k].I && ArcFits(good, pieces[k].J, fit) &&
                    std::abs(SignedSweep(P, fit.I, fit.J, fit.Circle)) >= kSmallestSweep) {
                    pieces[k] = fit;
                    line.J = good;
                    LineFits(line.I, line.J, line);
                }
            }
            if (k + 1 < pieces.size() && !pieces[k + 1].Arc) {
                TPiece &line = pieces[k + 1];
                std::size_t good = pieces[k].J, bad = line.J;
                if (ArcFits(pieces[k].I, line.J, fit)) {
                    good = line.J;
                } else {
                    while (bad - good > 1) {
                        const std::size_t mid = good + (bad - good) / 2;
                        (ArcFits(pieces[k].I, mid, fit) ? good : bad) = mid;
                    }
                }
                if (good != pieces[k].J && ArcFits(pieces[k].I, good, fit) &&
                    std::abs(SignedSweep(P, fit.I, fit.J, fit.Circle)) >= kSmallestSweep) {
                    pieces[k] = fit;
                    line.I = good;
                    LineFits(line.I, line.J, line);
                }
            }
        }
        // An arc runs on within the tolerance into a straight line beside it
        // (the short side of a slot, a line between two fillets): an end of
        // the arc that one line fits within a quarter of the tolerance, d,
        // for longer than any chord of its circle could (sqrt(16 R d), and a
        // fifth more for the pixels) is that line.
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            if (!pieces[k].Arc || pieces[k].Fillet)
                continue;
            const double within = 0.25 * Options.Tolerance;
            const double chord = 1.2 * std::sqrt(16 * pieces[k].Circle.R * within) + 2;
            for (const bool atEnd : {true, false}) {
                TPiece &arc = pieces[k];
                if (arc.J - arc.I < 16)
                    break;
                const auto fits = [&](std::size_t n) {
                    TPiece tail;
                    return atEnd ? LineFits(arc.J - n, arc.J, tail, within) : LineFits(arc.I, arc.I + n, tail, within);
                };
                const std::size_t n = Reach(0, arc.J - arc.I - 8, 2, fits);
                const std::size_t cut = atEnd ? arc.J - n : arc.I + n;
                const bool longer = atEnd ? Distance(P[cut], P[arc.J]) > chord : Distance(P[arc.I], P[cut]) > chord;
                TPiece rest, line;
                if (n < 2 || !longer || !(atEnd ? ArcFits(arc.I, cut, rest) : ArcFits(cut, arc.J, rest)) ||
                    std::abs(SignedSweep(P, rest.I, rest.J, rest.Circle)) < kSmallestSweep)
                    continue;
                atEnd ? LineFits(cut, arc.J, line) : LineFits(arc.I, cut, line);
                pieces[k] = rest;
                pieces.insert(pieces.begin() + static_cast<std::ptrdiff_t>(atEnd ? k + 1 : k), line);
                if (!atEnd)
                    ++k;
            }
        }
        // An arc between two arcs may be a straight piece with the ends of
        // its neighbours' circles (the short side of a turned slot read as
        // an arc of a wide circle through the fillets' ends): where one line
        // fits most of its pixels within the tolerance and the circles
        // beside it fit the rest, that is a line, as few pieces as the arc.
        for (std::size_t k = 1; k + 1 < pieces.size(); ++k) {
            const TPiece &prev = pieces[k - 1], &arc = pieces[k], &next = pieces[k + 1];
            if (!arc.Arc || arc.Fillet || !prev.Arc || prev.Fillet || !next.Arc || next.Fillet || prev.J != arc.I ||
                next.I != arc.J)
                continue;
            // The longest run of the arc's pixels that one line fits.
            std::size_t x = arc.I, y = arc.I;
            TPiece line, a, b;
            for (std::size_t i = arc.I, j = arc.I + 1; i < arc.J; ++i) {
                j = std::max(j, i + 1);
                while (j < arc.J && LineFits(i, j + 1, line))
                    ++j;
                if (j - i > y - x && LineFits(i, j, line)) {
                    x = i;
                    y = j;
                }
            }
            if (2 * (y - x) < arc.J - arc.I || !LineFits(x, y, line) || !ArcFits(prev.I, x, a) ||
                !ArcFits(y, next.J, b))
                continue;
            a.Within = prev.Within;
            b.Within = next.Within;
            pieces[k - 1] = a;
            pieces[k + 1] = b;
            pieces[k] = line;
        }
        PlaceTangents(pieces);
        // Neighbouring arcs that one circle fits become one.
        for (std::size_t k = 1; k < pieces.size();) {
            TPiece joined;
            if (pieces[k - 1].Arc && pieces[k].Arc && !pieces[k - 1].Fillet && !pieces[k].Fillet &&
                ArcFits(pieces[k - 1].I, pieces[k].J, joined)) {
                pieces[k - 1] = joined;
                pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(k));
                continue;
            }
            ++k;
        }
        // Lines left empty go; neighbouring lines that one line fits become one.
        std::vector<TPiece> result;
        result.reserve(pieces.size());
        for (const TPiece &piece : pieces) {
            if (piece.J <= piece.I)
                continue;
            TPiece joined;
            if (!piece.Arc && !result.empty() && !result.back().Arc && LineFits(result.back().I, piece.J, joined)) {
                result.back() = joined;
                continue;
            }
            result.push_back(piece);
        }
        // An arc's circle from its own pixels: those near the tangent that
        // lie as near the line beside it are left to the line.
        for (std::size_t k = 0; k < result.size(); ++k) {
            TPiece &arc = result[k];
            if (!arc.Arc)
                continue;
            std::size_t i = arc.I, j = arc.J;
            if (k > 0 && !result[k - 1].Arc)
                while (j - i > 8 && result[k - 1].Line.Distance(P[i]) <= 0.5 * Options.Tolerance)
                    ++i;
            if (k + 1 < result.size() && !result[k + 1].Arc)
                while (j - i > 8 && result[k + 1].Line.Distance(P[j]) <= 0.5 * Options.Tolerance)
                    --j;
            TCircle circle = FitCircle(P.data() + i, j + 1 - i);
            if (circle.Valid && Ink && !arc.Fillet) {
                const TPoints middles = StrokeMiddles(*Ink, P.data() + i, j + 1 - i, circle, HalfWidth);
                const TCircle refined = FitCircle(middles.data(), middles.size());
                if (refined.Valid)
                    circle = refined;
            }
            if (circle.Valid && circle.R <= kLargestRadius)
                arc.Circle = circle;
        }
        return result;
    }

    // The sum of the squared distances of points i .. j from their circle.
    double CircleSquares(std::size_t i, std::size_t j, TCircle &c) const
    {
        c = FitCircle(P.data() + i, j + 1 - i);
        if (!c.Valid)
            return std::numeric_limits<double>::max();
        double sum = 0;
        for (std::size_t k = i; k <= j; ++k) {
            const double d = Distance(P[k], {c.X, c.Y}) - c.R;
            sum += d * d;
        }
        return sum;
    }

    // Where a line and an arc meet (no corner between), the tangent point
    // goes where the two leave the least squared scatter: a line fitting
    // within the tolerance runs on into the arc a way, an arc into the
    // line, the further the noisier the scan.
    void PlaceTangents(std::vector<TPiece> &pieces) const
    {
        for (std::size_t k = 0; k + 1 < pieces.size(); ++k) {
            TPiece &a = pieces[k], &b = pieces[k + 1];
            if (a.Arc == b.Arc || (a.Arc ? a.Fillet : b.Fillet) || a.J != b.I)
                continue;
            // A line no longer than the stroke is wide at the chain's end is
            // the thinning's hook there, not a line to run on into the arc.
            const TPiece &line = a.Arc ? b : a;
            if ((a.Arc ? k + 2 == pieces.size() : k == 0) && Distance(P[line.I], P[line.J]) <= 2 * HalfWidth + 2)
                continue;
            const std::size_t lo = a.I + (a.J - a.I) / 2, hi = b.J - (b.J - b.I) / 2;
            if (hi <= lo + 2)
                continue;
            const auto cost = [&](std::size_t s) {
                TCircle c;
                return a.Arc ? CircleSquares(a.I, s, c) + Sums.LineSquares(s, b.J)
                             : Sums.LineSquares(a.I, s) + CircleSquares(s, b.J, c);
            };
            const std::size_t step = std::max<std::size_t>(1, (hi - lo) / 24);
            std::size_t best = a.J;
            double least = cost(best);
            for (std::size_t s = lo; s <= hi; s += step) {
                const double c = cost(s);
                if (c < least) {
                    least = c;
                    best = s;
                }
            }
            const std::size_t from = best > lo + step ? best - step : lo, to = std::min(hi, best + step);
            for (std::size_t s = from; s <= to; ++s) {
                const double c = cost(s);
                if (c < least) {
                    least = c;
                    best = s;
                }
            }
            // The move must gain more than the scatter could by chance:
            // nine times the squared scatter per point the two pieces leave,
            // and no less than the pixel grid's own (a twelfth of a square
            // pixel).
            const double scatter = std::max(1.0 / 12, least / static_cast<double>(std::max<std::size_t>(1, b.J - a.I - 6)));
            if (best == a.J || cost(a.J) - least < 9 * scatter)
                continue;
            TPiece na, nb;
            const bool fits = a.Arc ? ArcFits(a.I, best, na) && LineFits(best, b.J, nb)
                                    : LineFits(a.I, best, na) && ArcFits(best, b.J, nb);
            const TPiece &arc = a.Arc ? na : nb;
            if (!fits || std::abs(SignedSweep(P, arc.I, arc.J, arc.Circle)) < kSmallestSweep)
                continue;
            na.CornerReach = a.CornerReach;
            nb.CornerReach = b.CornerReach;
            (a.Arc ? na : nb).Within = std::max((a.Arc ? a : b).Within, (a.Arc ? a.J - a.I : b.J - b.I));
            a = na;
            b = nb;
        }
    }

    // Degrees between the directions of two consecutive lines.
    static double Turn(const TPiece &a, const TPiece &b)
    {
        const double c = std::abs(a.Line.Dx * b.Line.Dx + a.Line.Dy * b.Line.Dy);
        return std::acos(std::min(1.0, c)) / kDegree;
    }

    // Thinning cuts the corner where two strokes meet at an angle: a short
    // line between two longer ones goes when their crossing lies near it.
    void SharpenCorners(std::vector<TPiece> &pieces, double halfWidth) const
    {
        const double shortest = std::max({12.0, 4 * Options.Tolerance, 6 * halfWidth});
        for (std::size_t k = 1; k + 1 < pieces.size();) {
            const TPiece &a = pieces[k - 1], &m = pieces[k], &b = pieces[k + 1];
            const double middle = Distance(P[m.I], P[m.J]);
            TPoint2 corner;
            // Short, or all of it near one of the two lines.
            const auto nearLines = [&] {
                const double within = std::max(Options.Tolerance, halfWidth + 1);
                for (std::size_t k2 = m.I; k2 <= m.J; ++k2)
                    if (a.Line.Distance(P[k2]) > within && b.Line.Distance(P[k2]) > within)
                        return false;
                return true;
            };
            if (!a.Arc && !m.Arc && !b.Arc && middle <= 0.5 * Distance(P[a.I], P[a.J]) &&
                middle <= 0.5 * Distance(P[b.I], P[b.J]) && Crossing(a.Line, b.Line, corner, 20) &&
                Distance(corner, P[m.I]) <= middle + 1 && Distance(corner, P[m.J]) <= middle + 1) {
                // With Arcs, a fillet is kept: its pixels fit an arc tangent
                // to both lines and wider than the stroke, which a corner cut
                // by the thinning does not. A fillet too wide for one line
                // within the tolerance is cut as one chord, which is tried
                // as a fillet too.
                if (Options.Arcs && Ink && KeepFillet(pieces, k, corner, halfWidth)) {
                    ++k;
                    continue;
                }
                if (middle > shortest && !nearLines()) {
                    ++k;
                    continue;
                }
                pieces[k - 1].J = m.J;  // the corner's pixels count to the first
                pieces[k - 1].CornerReach = middle + 2;
                pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(k));
                continue;
            }
            ++k;
        }
    }

    // Whether the corner `corner` of the lines pieces[k - 1] and
    // pieces[k + 1] is a fillet: no ink on the corner, the circle tangent to
    // both lines through the chain's pixel nearest the corner wider than
    // the stroke, and the
    // pixels between its tangent points fit an arc tangent to both lines.
    // If so, that arc replaces pieces[k] and the lines end at its ends.
    bool KeepFillet(std::vector<TPiece> &pieces, std::size_t k, TPoint2 corner, double halfWidth) const
    {
        TPiece &a = pieces[k - 1], &m = pieces[k], &b = pieces[k + 1];
        const auto unit = [&](TPoint2 p) {
            const double l = Distance(p, corner);
            return TPoint2{(p.X - corner.X) / l, (p.Y - corner.Y) / l};
        };
        if (Distance(P[a.I], corner) < 1 || Distance(P[b.J], corner) < 1)
            return false;
        const TPoint2 ua = unit(P[a.I]), ub = unit(P[b.J]);
        const double cosine = std::clamp(ua.X * ub.X + ua.Y * ub.Y, -1.0, 1.0);
        const double half = 0.5 * std::acos(cosine);  // half the angle between the arms
        if (half < 10 * kDegree || half > 80 * kDegree)
            return false;
        // A corner cut by the thinning keeps ink on the lines' crossing; a
        // fillet passes it by more than the stroke's half width.
        double depth = std::numeric_limits<double>::max();
        for (std::size_t k2 = a.I; k2 <= b.J; ++k2)
            depth = std::min(depth, Distance(P[k2], corner));
        const double r = depth / (1 / std::sin(half) - 1);
        if (r < 2 * halfWidth + 1 || depth < halfWidth + 0.5 || Inked(corner))
            return false;
        const double along = r / std::tan(half);
        const TPoint2 ta{corner.X + ua.X * along, corner.Y + ua.Y * along},
            tb{corner.X + ub.X * along, corner.Y + ub.Y * along};
        const auto nearest = [&](std::size_t from, std::size_t to, TPoint2 t) {
            std::size_t best = from;
            for (std::size_t k2 = from; k2 <= to; ++k2)
                if (Distance(P[k2], t) < Distance(P[best], t))
                    best = k2;
            return best;
        };
        const std::size_t i = nearest(a.I + 1, m.J, ta), j = nearest(m.I, b.J - 1, tb);
        TPiece arc, lineA, lineB;
        if (j < i + 4 || !ArcFits(i, j, arc) || arc.Circle.R < 2 * halfWidth + 1 ||
            std::abs(SignedSweep(P, i, j, arc.Circle)) < kSmallestSweep || !LineFits(a.I, i, lineA) ||
            !LineFits(j, b.J, lineB))
            return false;
        const TPoint2 centre{arc.Circle.X, arc.Circle.Y};
        const double within = std::max(1.0, Options.Tolerance);
        if (std::abs(lineA.Line.Distance(centre) - arc.Circle.R) > within ||
            std::abs(lineB.Line.Distance(centre) - arc.Circle.R) > within)
            return false;
        a = lineA;
        m = arc;
        m.Fillet = true;
        b = lineB;
        return true;
    }

    bool LineFits(std::size_t i, std::size_t j, TPiece &piece, double within = 0) const
    {
        piece = TPiece{};
        piece.I = i;
        piece.J = j;
        piece.Line = Sums.Line(i, j);
        const double tolerance = within > 0 ? within : Options.Tolerance;
        for (std::size_t k = i; k <= j; ++k)
            if (piece.Line.Distance(P[k]) > tolerance)
                return false;
        return true;
    }

    bool ArcFits(std::size_t i, std::size_t j, TPiece &piece) const
    {
        piece = TPiece{};
        piece.Arc = true;
        piece.I = i;
        piece.J = j;
        piece.Circle = FitCircle(P.data() + i, j + 1 - i);
        if (!piece.Circle.Valid || piece.Circle.R < 1.5 || piece.Circle.R > kLargestRadius)
            return false;
        // (Its sense set even when it does not fit: a caller may take it.)
        piece.Ccw = SignedSweep(P, i, j, piece.Circle) > 0;
        return CircleDeviation(P.data() + i, j + 1 - i, piece.Circle) <= Options.Tolerance;
    }

private:
    // The farthest j in (i, last] for which fits(j) holds, found by doubling
    // steps and halving; i when fits(i + least) does not hold.
    template <class Fits>
    static std::size_t Reach(std::size_t i, std::size_t last, std::size_t least, Fits fits)
    {
        std::size_t good = i, bad = last + 1, step = least;
        for (;;) {
            const std::size_t j = std::min(i + step, last);
            if (!fits(j)) {
                bad = j;
                break;
            }
            good = j;
            if (j == last)
                return last;
            step *= 2;
        }
        if (good == i && least > 1)
            return i;
        if (good == i)
            good = i + 1;  // two points always make a line
        while (bad - good > 1) {
            const std::size_t mid = good + (bad - good) / 2;
            if (fits(mid))
                good = mid;
            else
                bad = mid;
        }
        return good;
    }

    // Whether the ink covers the pixel at p (drawing units).
    bool Inked(TPoint2 p) const
    {
        const int x = Round(p.X), row = Ink->Height() - Round(p.Y);
        return x >= 0 && row >= 0 && x < Ink->Width() && row < Ink->Height() && Ink->Black(x, row);
    }

    const TPoints &P;
    TPrefixSums Sums;
    const TGeometryOptions &Options;
    const TBlackMask *Ink;
    double HalfWidth = 0.5;
};

// ---------------------------------------------------------------------------
// The pieces of all chains as a graph: ends shared by node.

// A node's edges: up to four held in the list itself (most nodes have one
// to three: a big sheet has hundreds of thousands), more on the heap.
class TEdgeList
{
public:
    TEdgeList() = default;
    TEdgeList(TEdgeList &&other) noexcept : Held(other.Held), Count(other.Count) { other.Count = 0; }
    TEdgeList &operator=(TEdgeList &&other) noexcept
    {
        if (this != &other) {
            Release();
            Held = other.Held;
            Count = other.Count;
            other.Count = 0;
        }
        return *this;
    }
    TEdgeList(const TEdgeList &) = delete;
    TEdgeList &operator=(const TEdgeList &) = delete;
    ~TEdgeList() { Release(); }

    int *begin() { return OnHeap() ? Held.Heap : Held.Inline; }
    int *end() { return begin() + Count; }
    const int *begin() const { return OnHeap() ? Held.Heap : Held.Inline; }
    const int *end() const { return begin() + Count; }
    std::size_t size() const { return Count; }
    bool empty() const { return Count == 0; }
    int front() const { return *begin(); }
    int operator[](std::size_t k) const { return begin()[k]; }
    void push_back(int e)
    {
        if (Count == kInline || (Count > kInline && std::has_single_bit(Count))) {
            // Full: twice the room, on the heap.
            int *room = new int[2 * Count];
            std::copy(begin(), end(), room);
            Release();
            Held.Heap = room;
            room[Count++] = e;
            return;
        }
        begin()[Count++] = e;
    }
    int *erase(int *first, int *last)
    {
        const std::ptrdiff_t at = first - begin();
        std::copy(last, end(), first);
        const auto left = static_cast<std::uint32_t>(Count - (last - first));
        if (OnHeap() && left <= kInline) {
            int *heap = Held.Heap;
            std::copy(heap, heap + left, Held.Inline);
            delete[] heap;
        }
        Count = left;
        return begin() + at;
    }
    int *erase(int *at) { return erase(at, at + 1); }
    void clear() { erase(begin(), end()); }

private:
    static constexpr std::uint32_t kInline = 4;
    // (On the heap exactly while more than kInline: the room there is the
    // count's next power of two.)
    bool OnHeap() const { return Count > kInline; }
    void Release()
    {
        if (OnHeap())
            delete[] Held.Heap;
    }
    union {
        int Inline[kInline];
        int *Heap;
    } Held{};
    std::uint32_t Count = 0;
};

struct TNode
{
    TPoint2 P;
    bool Junction = false;  // where three or more chains meet
    TEdgeList Edges;
};

enum class TEdgeKind : std::uint8_t
{
    Line,
    Arc,
    Circle
};

// (The flags beside the ends' numbers: a big sheet has hundreds of
// thousands of edges.)
struct TEdge
{
    TEdgeKind Kind = TEdgeKind::Line;
    bool Ccw = true;
    bool Alive = true;
    bool EndsOnCircle = false;  // an arc whose nodes were moved onto its circle
    int A = -1, B = -1;  // nodes at the start and the end
    int Points = -1;     // an arc's pixels: their place in the graph's ArcPoints (-1: none)
    TLine Fit;           // a line's least-squares line
    TCircle Circle;
    double HalfWidth = 0.5;
    double Tolerance = 0;  // of its fit, when more than the options' (a rough chain)
};

// An edge as the graph holds it: a line's line and an arc's or circle's
// circle in one place.
struct TGraphEdge
{
    explicit TGraphEdge(const TEdge &e)
        : Kind(e.Kind), Ccw(e.Ccw), Alive(e.Alive), EndsOnCircle(e.EndsOnCircle), A(e.A), B(e.B), Points(e.Points),
          Fit(e.Fit), HalfWidth(e.HalfWidth), Tolerance(e.Tolerance)
    {
        if (Kind != TEdgeKind::Line)
            Circle = e.Circle;
    }
    TEdgeKind Kind;
    bool Ccw;
    bool Alive;
    bool EndsOnCircle;
    int A, B;
    int Points;
    union {
        TLine Fit;       // Line
        TCircle Circle;  // Arc, Circle
    };
    double HalfWidth;
    double Tolerance;
};

class TGraph
{
public:
    TChunks<TNode> Nodes;
    TChunks<TGraphEdge> Edges;
    // The arcs' pixels, held apart from the edges (most edges are lines);
    // an edge copied shares its arc's.
    std::vector<TPoints> ArcPoints;

    const TPoints &PointsOf(const TGraphEdge &e) const
    {
        static const TPoints none;
        return e.Points >= 0 ? ArcPoints[static_cast<std::size_t>(e.Points)] : none;
    }

    int AddNode(TPoint2 p, bool junction = false)
    {
        Nodes.emplace_back(TNode{p, junction, {}});
        return static_cast<int>(Nodes.size() - 1);
    }
    void AddEdge(const TEdge &e)
    {
        const int id = static_cast<int>(Edges.size());
        if (e.A >= 0)
            Nodes[static_cast<std::size_t>(e.A)].Edges.push_back(id);
        if (e.B >= 0 && e.B != e.A)
            Nodes[static_cast<std::size_t>(e.B)].Edges.push_back(id);
        Edges.emplace_back(e);
    }
    TNode &Node(int n) { return Nodes[static_cast<std::size_t>(n)]; }
    TGraphEdge &Edge(int e) { return Edges[static_cast<std::size_t>(e)]; }
    int Other(const TGraphEdge &e, int n) const { return e.A == n ? e.B : e.A; }
    void Detach(int n, int e)
    {
        auto &list = Node(n).Edges;
        list.erase(std::remove(list.begin(), list.end(), e), list.end());
    }
    // Every edge of `from` goes to `to`.
    void MergeNode(int from, int to)
    {
        if (from == to)
            return;
        for (int e : Node(from).Edges) {
            TGraphEdge &edge = Edge(e);
            if (edge.A == from)
                edge.A = to;
            if (edge.B == from)
                edge.B = to;
            auto &list = Node(to).Edges;
            if (std::find(list.begin(), list.end(), e) == list.end())
                list.push_back(e);
        }
        Node(from).Edges.clear();
        // An edge that now starts and ends at one node is gone.
        auto &list = Node(to).Edges;
        for (std::size_t k = 0; k < list.size();) {
            TGraphEdge &edge = Edge(list[k]);
            if (edge.Kind != TEdgeKind::Circle && edge.A == edge.B) {
                edge.Alive = false;
                list.erase(list.begin() + static_cast<std::ptrdiff_t>(k));
            } else {
                ++k;
            }
        }
    }
    TLine LineOf(const TGraphEdge &e) const { return Through(Nodes[static_cast<std::size_t>(e.A)].P, Nodes[static_cast<std::size_t>(e.B)].P); }
    double Length(const TGraphEdge &e) const { return Distance(Nodes[static_cast<std::size_t>(e.A)].P, Nodes[static_cast<std::size_t>(e.B)].P); }
};

// Depth by its rings, pixel by pixel.
template <class Mask> int DepthByRings(const Mask &mask, int x, int y, int cap)
{
    for (int r = 1; r < cap; ++r)
        for (int d = -r; d <= r; ++d)
            if (!mask.Black(x + d, y - r) || !mask.Black(x + d, y + r) || !mask.Black(x - r, y + d) ||
                !mask.Black(x + r, y + d))
                return r;
    return cap;
}

// How many pixels of a mask line, from x on (step 1: to the right, -1: to
// the left), are black, at most `most` (outside the line is white).
int BlackRun(const std::uint64_t *line, int x, int step, int most)
{
    int run = 0;
    while (run < most) {
        // (Words beyond either end of the line read as zeros.)
        const int bit = x & 63;
        const std::uint64_t word = line[x >> 6];
        const int room = step > 0 ? 64 - bit : bit + 1;
        const int ones = step > 0 ? std::countr_one(word >> bit) : std::countl_one(word << (63 - bit));
        run += std::min(ones, room);
        if (ones < room)
            break;
        x += step * room;
    }
    return std::min(run, most);
}

// Chessboard distance from a pixel to the nearest white one, at most `cap`:
// the first ring about it that is not all black (the pixel itself is not
// read). Read a line at a time: the ring of radius r is the first not all
// black when the square it bounds is, every line of it as far as black
// runs on either side of the pixel's column.
template <class Mask> int Depth(const Mask &mask, int x, int y, int cap)
{
    if (x < 0 || y < 0 || x >= mask.Width() || y >= mask.Height())
        return DepthByRings(mask, x, y, cap);
    // The most r for which line y + dy is black over x - r .. x + r (the
    // pixel's own line but for the pixel itself); -1 for none.
    const auto reach = [&](int dy) {
        const int line = y + dy;
        if (line < 0 || line >= mask.Height() || (dy != 0 && !mask.Black(x, line)))
            return -1;
        const std::uint64_t *words = mask.Line(line);
        return std::min(BlackRun(words, x + 1, 1, cap), BlackRun(words, x - 1, -1, cap));
    };
    int least = reach(0);
    for (int r = 1; r < cap; ++r) {
        least = std::min({least, reach(-r), reach(r)});
        if (least < r)
            return r;
    }
    return cap;
}

// Half the stroke's width along a chain: the middle depth of some of its pixels.
double HalfWidth(const TBlackMask &ink, const std::vector<TPixel> &chain)
{
    const std::size_t step = std::max<std::size_t>(1, chain.size() / 16);
    std::vector<int> depths;
    depths.reserve((chain.size() + step - 1) / step);
    for (std::size_t k = 0; k < chain.size(); k += step)
        depths.push_back(Depth(ink, chain[k].X, chain[k].Y, 32));
    std::nth_element(depths.begin(), depths.begin() + static_cast<std::ptrdiff_t>(depths.size() / 2), depths.end());
    return std::max(0.5, depths[depths.size() / 2] - 0.5);
}

// Cells filed by their key, (row << 32) | column (each cut to 32 bits): those
// of a sheet of the given numbers of columns and rows in a table, any others
// in a map. (A table lookup costs no hashing: a free end's search reads nine
// cells.)
template <class TCell> class TCellFile
{
public:
    TCellFile(std::uint32_t columns, std::uint32_t rows)
        : Columns(columns), Rows(rows), Table(std::size_t(columns) * rows)
    {
    }
    TCell &operator[](std::uint64_t key)
    {
        TCell *cell = InTable(key);
        return cell ? *cell : Others[key];
    }
    // The cell; none when nothing was filed there.
    const TCell *Find(std::uint64_t key) const
    {
        if (const TCell *cell = InTable(key))
            return cell;
        const auto it = Others.find(key);
        return it == Others.end() ? nullptr : &it->second;
    }
    template <class Visit> void ForEachCell(Visit visit)
    {
        for (TCell &cell : Table)
            visit(cell);
        for (auto &[key, cell] : Others)
            visit(cell);
    }

private:
    TCell *InTable(std::uint64_t key) const
    {
        const std::uint32_t column = std::uint32_t(key), row = std::uint32_t(key >> 32);
        return column < Columns && row < Rows ? const_cast<TCell *>(&Table[std::size_t(row) * Columns + column])
                                              : nullptr;
    }
    std::uint32_t Columns, Rows;
    std::vector<TCell> Table;
    std::unordered_map<std::uint64_t, TCell> Others;
};

class TRecogniser
{
public:
    TRecogniser(TBlackMask centre, const TBlackMask &ink, const TGeometryOptions &options)
        : Centre(std::move(centre)), Ink(ink), Options(options), Width(Centre.Width()), Height(Centre.Height())
    {
    }
    // The ink lent packed: unpacked while the chains are fitted, packed again
    // for the rest (its lines read where they lie).
    TRecogniser(TBlackMask centre, TPackedMask &ink, const TGeometryOptions &options)
        : Centre(std::move(centre)), PackedInk(&ink), Ink(UnpackedInk), Options(options), Width(Centre.Width()),
          Height(Centre.Height())
    {
    }

    TDrawing Run(std::optional<double> *skew)
    {
        // Traced in parts on the threads: the parts in order are the chains
        // one thread traces.
        TChainStore chains;
        {
            const std::size_t partCount = PixelChainParts(Centre, Options.Threads);
            std::vector<TChainStore> parts(partCount);
            std::vector<std::vector<std::uint64_t>> partEnds(partCount);
            ForEachPixelChainInParts(Centre, Options.Threads,
                                     [&](std::size_t part, int, const std::vector<TPixel> &chain) {
                                         for (const TPixel *end : {chain.data(), chain.data() + chain.size() - 1})
                                             if (!chain.empty() &&
                                                 PixelNeighbours::Count(PixelNeighbours::Code(Centre, end->X, end->Y)) >= 3)
                                                 partEnds[part].push_back(Key(*end));
                                         parts[part].Append(chain);
                                     });
            // Of the centre lines only the chains' ends at junctions are read
            // after this: the mask goes before the parts are joined and the
            // fitting needs memory.
            Centre = TBlackMask();
            chains.Join(parts);
            for (std::vector<std::uint64_t> &ends : partEnds) {
                JunctionEnds.insert(JunctionEnds.end(), ends.begin(), ends.end());
                std::vector<std::uint64_t>().swap(ends);
            }
        }
        // A packed ink is read all over from here till the chains are fitted.
        if (PackedInk) {
            UnpackedInk = PackedInk->Unpack(Options.Threads);
            *PackedInk = TPackedMask();
        }
        std::sort(JunctionEnds.begin(), JunctionEnds.end());
        JunctionEnds.erase(std::unique(JunctionEnds.begin(), JunctionEnds.end()), JunctionEnds.end());
        {
            std::vector<TPixel> pixels;
            chains.Filter([&](const TChainStore::TChain &c) {
                if (c.Size == 0 || AtJunction(c.First) || AtJunction(c.Last))
                    return true;
                chains.Read(c, pixels);
                return !Speck(pixels);
            });
        }
        if (Stopping())
            return TDrawing();
        // (The chains it leaves as they were keep the half widths it read.)
        if (Options.Snap > 0 && !Options.KeepGaps)
            chains = JoinBrokenChains(chains);
        chains.Shrink();
        // Fitted in parts of chains over the threads, each part added in
        // order as soon as it is done, the fitting at most a few parts ahead
        // of the adding (the parts waiting hold their pieces).
        constexpr std::size_t kChainsPerTask = 512;
        const std::size_t tasks = (chains.Count() + kChainsPerTask - 1) / kChainsPerTask;
        const std::size_t ahead = 4 * static_cast<std::size_t>(std::max(1, Options.Threads));
        std::vector<std::vector<TFittedChain>> fitted(tasks);
        TTaskPool pool(Options.Threads, tasks, std::min(tasks, ahead), [&](std::size_t task, int) {
            const std::size_t end = std::min(chains.Count(), (task + 1) * kChainsPerTask);
            if (Stopping())
                return;
            std::vector<TPixel> chain;
            for (std::size_t c = task * kChainsPerTask; c < end; ++c) {
                chains.Read(c, chain);
                fitted[task].push_back(FitChain(chain, chains.Chain(c).HalfWidth));
            }
        });
        for (std::size_t task = 0; task < tasks; ++task) {
            pool.Allow(std::min(tasks, task + ahead));
            pool.Wait(task);
            for (std::size_t k = 0; k < fitted[task].size(); ++k)
                AddFitted(chains.Chain(task * kChainsPerTask + k), fitted[task][k]);
            fitted[task] = std::vector<TFittedChain>();
            // The chains fitted go as the graph grows.
            if (chains.ReleaseChainsBefore((task + 1) * kChainsPerTask))
                LargeBlock::ReturnFreeHeap();
        }
        if (Stopping())
            return TDrawing();
        // Only the graph is read from here on.
        chains = TChainStore();
        std::vector<std::uint64_t>().swap(JunctionEnds);
        std::vector<int>().swap(JunctionNodes);
        // Then only a few of the ink's pixels: a packed ink is packed again.
        if (PackedInk) {
            *PackedInk = TPackedMask(std::move(UnpackedInk), Options.Threads);
            InkLines.emplace(*PackedInk);
        }
        // Their memory and the fitting's go back before the snapping files
        // the graph.
        LargeBlock::ReturnFreeHeap();
        JoinAtDots();
        PlaceJunctions();
        if (Options.Deskew) {
            const std::optional<double> found = LineSkew();
            if (found) {
                Rotate(-*found);
                Turned = -*found;
            }
            if (skew)
                *skew = found;
        }
        if (Options.Snap > 0) {
            SnapToAxes();
            MergeCollinear();
            if (Stopping())
                return TDrawing();
            CloseGaps();
            // Pieces joined across junctions and gaps lie nearer the axes
            // than their parts: snapped again until nothing more joins.
            bool merged = true;
            for (int round = 0; round < 4 && merged; ++round) {
                SnapToAxes();
                merged = MergeCollinear();
            }
            if (merged)
                SnapToAxes();
            Reattach();
            // What the snapping filed its nodes and lines in is free: its
            // memory goes back before the drawing is written out.
            LargeBlock::ReturnFreeHeap();
        }
        if (Stopping())
            return TDrawing();
        SettleArcEnds();
        return Output();
    }

private:
    bool Stopping() const { return Options.Stop && Options.Stop(); }
    // The ink's pixel, and its depth (Depth), read after the fitting.
    bool InkBlack(int x, int y) const { return InkLines ? InkLines->Black(x, y) : Ink.Black(x, y); }
    int InkDepth(int x, int y, int cap) const { return InkLines ? Depth(*InkLines, x, y, cap) : Depth(Ink, x, y, cap); }
    TPoint2 PointOf(const TPixel &p) const { return {static_cast<double>(p.X), static_cast<double>(Height - p.Y)}; }

    // The skew most of the lines share: the angle to their nearest axis
    // (within 7 degrees) that the most length of lines lies within 0.15
    // degrees of, preferring one within 3 degrees (a sheet is seldom turned
    // more, and a drawing's slanted lines fall anywhere), then the
    // length-weighted mean of the angles near it.
    std::optional<double> LineSkew() const
    {
        std::vector<std::pair<double, double>> angles;  // degrees, weight
        double total = 0;
        for (const TGraphEdge &e : Graph.Edges) {
            if (!e.Alive || e.Kind != TEdgeKind::Line)
                continue;
            const double length = Graph.Length(e);
            if (length < 30)
                continue;
            double a = std::atan2(e.Fit.Dy, e.Fit.Dx) / kDegree;
            a = std::fmod(a + 360 + 45, 90.0) - 45;  // -45 .. 45
            if (std::abs(a) > 7)
                continue;
            angles.emplace_back(a, length);
            total += length;
        }
        if (total < 100)
            return std::nullopt;
        std::sort(angles.begin(), angles.end());
        constexpr double kWindow = 0.15;
        // The window holding the most length, over all angles and within 3 degrees.
        double best = 0, bestNear = 0, peak = angles.front().first, peakNear = peak;
        double sum = 0;
        for (std::size_t i = 0, j = 0; j < angles.size(); ++j) {
            sum += angles[j].second;
            while (angles[j].first - angles[i].first > 2 * kWindow)
                sum -= angles[i++].second;
            const double middle = 0.5 * (angles[i].first + angles[j].first);
            if (sum > best) {
                best = sum;
                peak = middle;
            }
            if (std::abs(middle) <= 3 && sum > bestNear) {
                bestNear = sum;
                peakNear = middle;
            }
        }
        if (bestNear >= 0.1 * best)
            peak = peakNear;
        double near = 0, weight = 0;
        for (const auto &[a, w] : angles)
            if (std::abs(a - peak) <= kWindow) {
                near += a * w;
                weight += w;
            }
        if (weight <= 0)
            return std::nullopt;
        return near / weight;
    }

    // Turns the whole graph counter-clockwise about the sheet's centre.
    void Rotate(double degrees)
    {
        const double cx = Width / 2.0, cy = Height / 2.0;
        const double c = std::cos(degrees * kDegree), s = std::sin(degrees * kDegree);
        const auto turn = [&](double &x, double &y) {
            const double dx = x - cx, dy = y - cy;
            x = cx + c * dx - s * dy;
            y = cy + s * dx + c * dy;
        };
        for (TNode &n : Graph.Nodes)
            turn(n.P.X, n.P.Y);
        for (TGraphEdge &e : Graph.Edges) {
            if (e.Kind != TEdgeKind::Line) {
                turn(e.Circle.X, e.Circle.Y);
                continue;
            }
            turn(e.Fit.X, e.Fit.Y);
            const double dx = c * e.Fit.Dx - s * e.Fit.Dy, dy = s * e.Fit.Dx + c * e.Fit.Dy;
            e.Fit.Dx = dx;
            e.Fit.Dy = dy;
        }
        for (TPoints &points : Graph.ArcPoints)
            for (TPoint2 &p : points)
                turn(p.X, p.Y);
    }

    // How many of the fit's pieces go on in the direction of the piece
    // before them: lines turning less than 8 degrees, arcs of nearly one
    // circle, a line and an arc within 8 degrees of its tangent where they
    // meet.
    static std::size_t Breaks(const std::vector<TPiece> &pieces, const TPoints &points, bool closed)
    {
        std::size_t breaks = 0;
        for (std::size_t k = 1; k < pieces.size(); ++k) {
            const TPiece &a = pieces[k - 1], &b = pieces[k];
            if (!a.Arc && !b.Arc && TChainFitter::Turn(a, b) < 8)
                ++breaks;
            else if (a.Arc != b.Arc && !closed) {
                // (Not in a closed chain: a line between two fillets goes
                // on along both.)
                const TPiece &arc = a.Arc ? a : b, &line = a.Arc ? b : a;
                const TPoint2 at = points[a.J];
                const double rx = at.X - arc.Circle.X, ry = at.Y - arc.Circle.Y, r = std::hypot(rx, ry);
                if (r > 0 && std::abs(rx * line.Line.Dx + ry * line.Line.Dy) / r < std::sin(8 * kDegree))
                    ++breaks;
            } else if (a.Arc && b.Arc &&
                     Distance({a.Circle.X, a.Circle.Y}, {b.Circle.X, b.Circle.Y}) <= 0.25 * std::max(a.Circle.R, b.Circle.R) &&
                     std::abs(a.Circle.R - b.Circle.R) <= 0.25 * std::max(a.Circle.R, b.Circle.R))
                ++breaks;
        }
        return breaks;
    }

    // Chains of a stroke broken by the scan, one chain: free ends that face
    // each other across a short gap (the directions of their last pixels
    // going on into each other) with no more paper between them than a
    // gap the snapping closes, or than the stroke is wide where bits of it
    // too small to trace lie in the gap. Fitted as one, the pieces of the
    // stroke are as few as if it were whole.
    // (Each chain returned that is one chain given has the HalfWidth read
    // of it, as HalfWidth reads it; the others -1.)
    // (The steps of `chains` go to the store returned.)
    TChainStore JoinBrokenChains(TChainStore &chains) const
    {
        struct TEnd
        {
            std::size_t Chain;
            bool Back;
            TPoint2 P, Out;  // the end and the direction out of it
            double HalfWidth;
        };
        const auto junction = [&](const TPixel &p) { return AtJunction(p); };
        // The half widths and the free ends read over the threads, the ends
        // of the tasks put together in their order.
        std::vector<double> widthOf(chains.Count(), -1);
        constexpr std::size_t kChainsPerTask = 1024;
        std::vector<std::vector<TEnd>> taskEnds((chains.Count() + kChainsPerTask - 1) / kChainsPerTask);
        RunTasks(Options.Threads, taskEnds.size(), [&](std::size_t task, int) {
            std::vector<TPixel> chain;
            const std::size_t end = std::min(chains.Count(), (task + 1) * kChainsPerTask);
            for (std::size_t c = task * kChainsPerTask; c < end; ++c) {
                const TChainStore::TChain &stored = chains.Chain(c);
                if (stored.Size < 4 || stored.First == stored.Last)
                    continue;
                chains.Read(stored, chain);
                const double halfWidth = widthOf[c] = HalfWidth(Ink, chain);
                const std::size_t back = std::min<std::size_t>(chain.size() - 1, 8);
                for (const bool atBack : {false, true}) {
                    const TPixel &end = atBack ? chain.back() : chain.front();
                    if (junction(end))
                        continue;
                    const TPoint2 p = PointOf(end), q = PointOf(atBack ? chain[chain.size() - 1 - back] : chain[back]);
                    const double l = Distance(p, q);
                    taskEnds[task].push_back({c, atBack, p, {(p.X - q.X) / l, (p.Y - q.Y) / l}, halfWidth});
                }
            }
        });
        std::vector<TEnd> ends;
        for (std::vector<TEnd> &block : taskEnds) {
            ends.insert(ends.end(), block.begin(), block.end());
            std::vector<TEnd>().swap(block);
        }
        std::sort(ends.begin(), ends.end(), [](const TEnd &a, const TEnd &b) { return a.P.X < b.P.X; });
        struct TPair
        {
            double Gap;
            std::size_t A, B;
        };
        std::vector<TPair> pairs;
        const double facing = std::cos(25 * kDegree), opposite = std::cos(35 * kDegree);
        // The ends after each end (in this order) within the gap along X and
        // a pixel more along Y, in their order: read from bands of that
        // height across the sheet, each end's own band and the two beside
        // it (the ends within the gap along X are many, down the sheet).
        constexpr double kBand = kLongestBrokenGap + 1;
        std::vector<std::pair<long, std::size_t>> banded(ends.size());  // band, end
        for (std::size_t i = 0; i < ends.size(); ++i)
            banded[i] = {static_cast<long>(std::floor(ends[i].P.Y / kBand)), i};
        std::sort(banded.begin(), banded.end());
        // (Looked for in blocks of ends over the threads, the pairs of the
        // blocks put together in their order.)
        constexpr std::size_t kEndsPerTask = 4096;
        std::vector<std::vector<TPair>> found((ends.size() + kEndsPerTask - 1) / kEndsPerTask);
        RunTasks(Options.Threads, found.size(), [&](std::size_t task, int) {
            std::vector<TPair> &taskPairs = found[task];
            std::vector<std::size_t> near;
            for (std::size_t i = task * kEndsPerTask; i < std::min(ends.size(), (task + 1) * kEndsPerTask); ++i) {
                near.clear();
                const long band = static_cast<long>(std::floor(ends[i].P.Y / kBand));
                for (long b = band - 1; b <= band + 1; ++b)
                    for (auto k = std::upper_bound(banded.begin(), banded.end(), std::make_pair(b, i));
                         k != banded.end() && k->first == b && ends[k->second].P.X - ends[i].P.X <= kLongestBrokenGap; ++k)
                        if (std::abs(ends[k->second].P.Y - ends[i].P.Y) <= kBand)
                            near.push_back(k->second);
                std::sort(near.begin(), near.end());
                for (const std::size_t j : near) {
                    const TEnd &a = ends[i], &b = ends[j];
                    const double gap = Distance(a.P, b.P);
                    if (a.Chain == b.Chain || gap > kLongestBrokenGap || gap == 0)
                        continue;
                    const double ux = (b.P.X - a.P.X) / gap, uy = (b.P.Y - a.P.Y) / gap;
                    // Across a gap as short as the strokes are wide the way
                    // from one end to the other is too noisy to read: the ends
                    // need only point against each other and not away.
                    const double bare = 2 * (a.HalfWidth + b.HalfWidth) + 3;
                    const double toward = gap <= bare ? 0 : facing;
                    if (a.Out.X * ux + a.Out.Y * uy < toward || -(b.Out.X * ux + b.Out.Y * uy) < toward ||
                        -(a.Out.X * b.Out.X + a.Out.Y * b.Out.Y) < opposite)
                        continue;
                    if (gap > bare) {
                        const double paper = LongestPaper(a.P, b.P);
                        // Ink all the way: the stroke is whole and only its
                        // centre line broke on bits too small to trace, if that
                        // ink is no wider than the strokes (not a dot or a fill
                        // the ends run into).
                        if (paper > std::max(5.0, a.HalfWidth + b.HalfWidth + 2) ||
                            (paper <= 0 && !ThinAllTheWay(a.P, b.P, std::max(a.HalfWidth, b.HalfWidth))))
                            continue;
                    }
                    taskPairs.push_back({gap, i, j});
                }
            }
        });
        for (std::vector<TPair> &block : found) {
            pairs.insert(pairs.end(), block.begin(), block.end());
            std::vector<TPair>().swap(block);
        }
        std::sort(pairs.begin(), pairs.end(), [](const TPair &a, const TPair &b) { return a.Gap < b.Gap; });
        // Each end joins its nearest partner; no chain joins itself round.
        const std::size_t n = chains.Count();
        std::vector<std::size_t> group(n);
        std::iota(group.begin(), group.end(), std::size_t{0});
        const auto find = [&](std::size_t k) {
            while (group[k] != k)
                k = group[k] = group[group[k]];
            return k;
        };
        std::vector<std::array<long, 2>> next(n, {-1, -1});  // the end each end joins: 2 * end index + side
        std::vector<char> used(ends.size(), 0);
        for (const TPair &pair : pairs) {
            const TEnd &a = ends[pair.A], &b = ends[pair.B];
            if (used[pair.A] || used[pair.B] || find(a.Chain) == find(b.Chain))
                continue;
            used[pair.A] = used[pair.B] = 1;
            group[find(a.Chain)] = find(b.Chain);
            next[a.Chain][a.Back] = static_cast<long>(2 * b.Chain + (b.Back ? 1 : 0));
            next[b.Chain][b.Back] = static_cast<long>(2 * a.Chain + (a.Back ? 1 : 0));
        }
        // Only the joins are read from here on: the ends go before the
        // joined chains take their memory.
        std::vector<TEnd>().swap(ends);
        std::vector<std::pair<long, std::size_t>>().swap(banded);
        std::vector<TPair>().swap(pairs);
        std::vector<std::size_t>().swap(group);
        std::vector<char>().swap(used);
        // Walk each run of joined chains from a chain with a free side (a
        // chain alone is taken as it is stored, with its steps).
        TChainStore out = chains.TakeSteps();
        out.ReserveChains(n);
        std::vector<TPixel> chain, joined;
        std::vector<char> done(n, 0);
        for (std::size_t c = 0; c < n; ++c) {
            if (done[c])
                continue;
            if (next[c][0] >= 0 && next[c][1] >= 0)
                continue;  // inside a run: walked from its start
            if (next[c][0] < 0 && next[c][1] < 0) {
                done[c] = 1;
                // (A half width is a multiple of a half: a float holds it.)
                TChainStore::TChain taken = chains.Chain(c);
                const auto width = static_cast<float>(widthOf[c]);
                taken.HalfWidth = static_cast<double>(width) == widthOf[c] ? width : -1;
                out.AppendTaken(taken);
                continue;
            }
            joined.clear();
            std::size_t k = c;
            bool forward = next[c][0] < 0;  // leave by the back when the front is free
            for (;;) {
                done[k] = 1;
                out.Read(chains.Chain(k), chain);
                if (!forward)
                    std::reverse(chain.begin(), chain.end());
                joined.insert(joined.end(), chain.begin(), chain.end());
                const long to = next[k][forward ? 1 : 0];
                if (to < 0)
                    break;
                k = static_cast<std::size_t>(to / 2);
                forward = to % 2 == 0;  // entered at its front: walked forward
            }
            out.Append(joined);
        }
        return out;
    }

    // A chain alone (no junction at either end) within a few pixels: a speck
    // of dirt, not a line (the shortest line worth drawing is longer).
    bool Speck(const std::vector<TPixel> &chain) const
    {
        constexpr int kExtent = 4;
        if (chain.empty() || AtJunction(chain.front()) || AtJunction(chain.back()))
            return false;
        int x0 = chain.front().X, x1 = x0, y0 = chain.front().Y, y1 = y0;
        for (const TPixel &p : chain) {
            x0 = std::min(x0, p.X);
            x1 = std::max(x1, p.X);
            y0 = std::min(y0, p.Y);
            y1 = std::max(y1, p.Y);
            if (x1 - x0 > kExtent || y1 - y0 > kExtent)
                return false;
        }
        return true;
    }

    static std::uint64_t Key(const TPixel &p) { return (std::uint64_t(std::uint32_t(p.Y)) << 32) | std::uint32_t(p.X); }

    // Whether the end of a chain lies on a junction of the centre lines
    // (three or more neighbours).
    bool AtJunction(const TPixel &end) const
    {
        return std::binary_search(JunctionEnds.begin(), JunctionEnds.end(), Key(end));
    }

    int EndNode(const TPixel &pixel, TPoint2 at)
    {
        const std::uint64_t key = Key(pixel);
        const auto it = std::lower_bound(JunctionEnds.begin(), JunctionEnds.end(), key);
        if (it == JunctionEnds.end() || *it != key)
            return Graph.AddNode(at);
        if (JunctionNodes.empty())
            JunctionNodes.assign(JunctionEnds.size(), -1);
        int &node = JunctionNodes[static_cast<std::size_t>(it - JunctionEnds.begin())];
        if (node < 0)
            node = Graph.AddNode(PointOf(pixel), true);
        return node;
    }

    // A chain fitted, before its ends and joints become nodes of the graph.
    struct TFittedChain
    {
        bool Circle = false;  // the whole chain is Edges[0], a circle
        bool Closed = false;
        std::vector<TPoint2> Joints;
        std::vector<TEdge> Edges;  // one per piece, nodes not yet set
        std::vector<TPoints> ArcPoints;  // the edges' Points index these
    };

    // Fits one chain; reads only the masks and options, so that chains are
    // fitted side by side and then added in their order.
    // (knownHalfWidth: the chain's HalfWidth when read before, else < 0.)
    TFittedChain FitChain(const std::vector<TPixel> &chain, double knownHalfWidth) const
    {
        TFittedChain fittedChain;
        if (chain.size() < 2)
            return fittedChain;
        TPoints points(chain.size());
        for (std::size_t k = 0; k < chain.size(); ++k)
            points[k] = PointOf(chain[k]);
        const double halfWidth = knownHalfWidth >= 0 ? knownHalfWidth : HalfWidth(Ink, chain);
        const bool closed = chain.size() > 3 && chain.front() == chain.back();
        // A scanned stroke's centre line wiggles: where the fit within the
        // tolerance breaks it into pieces that go on in one direction (lines
        // barely turning, arcs of one circle), it is fitted again within
        // twice the tolerance.
        // (Each pass starts from the points as traced: only a closed chain's
        // are turned, the others are lent to the pass and given back.)
        const TPoints original = closed ? points : TPoints();
        std::vector<TPiece> pieces;
        double tolerance = Options.Tolerance;
        for (int pass = 0; pass < 2; ++pass) {
            TGeometryOptions options = Options;
            options.Tolerance = Options.Tolerance * (pass + 1);
            if (pass == 1 && Breaks(pieces, points, closed) < 2)
                break;
            if (closed && Options.Arcs && chain.size() >= 9) {
                const TCircle c = FitCircle(original.data(), original.size() - 1);
                if (c.Valid && c.R <= kLargestRadius &&
                    CircleDeviation(original.data(), original.size() - 1, c) <= options.Tolerance) {
                    TEdge e;
                    e.Kind = TEdgeKind::Circle;
                    e.Circle = c;
                    e.HalfWidth = halfWidth;
                    e.Tolerance = options.Tolerance;
                    fittedChain.Circle = true;
                    fittedChain.Edges.push_back(std::move(e));
                    return fittedChain;
                }
            }
            TPoints turnedPoints = closed ? original : std::move(points);
            std::vector<TPiece> fitted;
            {
                TPoints &points = turnedPoints;
                std::vector<TPiece> &pieces = fitted;
            {
                TChainFitter fitter(points, options, &Ink);
                pieces = fitter.Fit(0, points.size() - 1, halfWidth);
                if (closed && pieces.size() > 1) {
                    // Start again in the middle of the longest piece, then at the
                    // first break of that fit: a corner, so that no piece is cut
                    // where the pixel walk happened to start.
                    // (The longest line when there is one: the halves of a
                    // line join again, those of an arc may not.)
                    const bool anyLine = std::any_of(pieces.begin(), pieces.end(), [](const TPiece &q) { return !q.Arc; });
                    const auto longest = std::max_element(pieces.begin(), pieces.end(), [&](const TPiece &a, const TPiece &b) {
                        if (anyLine && a.Arc != b.Arc)
                            return a.Arc;
                        return a.J - a.I < b.J - b.I;
                    });
                    const std::size_t start = (longest->I + longest->J) / 2;
                    std::rotate(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(start), points.end() - 1);
                    points.back() = points.front();
                    pieces = TChainFitter(points, options, &Ink).Fit(0, points.size() - 1, halfWidth);
                    // The first and last pieces are then the two halves of one
                    // line: joined, the chain starts at the first corner.
                    if (pieces.size() >= 3 && !pieces.front().Arc && !pieces.back().Arc) {
                        const std::size_t n = points.size() - 1, shift = pieces.front().J;
                        TPoints turned(points.begin() + static_cast<std::ptrdiff_t>(shift), points.end() - 1);
                        turned.insert(turned.end(), points.begin(), points.begin() + static_cast<std::ptrdiff_t>(shift) + 1);
                        const TChainFitter fitter(turned, options, &Ink);
                        TPiece joined;
                        if (fitter.LineFits(pieces.back().I - shift, n, joined)) {
                            std::vector<TPiece> shifted;
                            for (std::size_t k = 1; k + 1 < pieces.size(); ++k) {
                                TPiece piece;
                                const std::size_t i = pieces[k].I - shift, j = pieces[k].J - shift;
                                if (pieces[k].Arc)
                                    fitter.ArcFits(i, j, piece);
                                else
                                    fitter.LineFits(i, j, piece);
                                piece.Within = pieces[k].Within;
                                shifted.push_back(piece);
                            }
                            shifted.push_back(joined);
                            points = std::move(turned);
                            pieces = std::move(shifted);
                        }
                    }
                }
            }
            }
            // Kept when it has fewer pieces and as many pixels on arcs (no
            // arc or fillet taken into the lines beside it).
            const auto onArcs = [](const std::vector<TPiece> &fit) {
                std::size_t n = 0;
                for (const TPiece &piece : fit)
                    if (piece.Arc)
                        n += std::max(piece.Within, piece.J - piece.I);
                return n;
            };
            if (pass == 0 || (fitted.size() < pieces.size() && 10 * onArcs(fitted) >= 9 * onArcs(pieces))) {
                points = std::move(turnedPoints);
                pieces = std::move(fitted);
                tolerance = options.Tolerance;
            } else if (!closed) {
                points = std::move(turnedPoints);
            }
        }
        // A line's last pixels bend toward the middle of a junction: a short
        // last piece before a junction goes, the piece before it runs on.
        const double shortest = std::max({8.0, 4 * Options.Tolerance, 4 * halfWidth});
        const auto junction = [&](const TPixel &p) { return AtJunction(p); };
        if (!closed && pieces.size() >= 2 && junction(chain.front()) && !pieces[0].Arc &&
            Distance(points[pieces[0].I], points[pieces[0].J]) <= shortest &&
            Distance(points[pieces[1].I], points[pieces[1].J]) >= 2 * Distance(points[pieces[0].I], points[pieces[0].J])) {
            pieces[1].I = pieces[0].I;
            pieces.erase(pieces.begin());
        }
        if (!closed && pieces.size() >= 2 && junction(chain.back()) && !pieces.back().Arc &&
            Distance(points[pieces.back().I], points[pieces.back().J]) <= shortest &&
            Distance(points[pieces[pieces.size() - 2].I], points[pieces[pieces.size() - 2].J]) >=
                2 * Distance(points[pieces.back().I], points[pieces.back().J])) {
            pieces[pieces.size() - 2].J = pieces.back().J;
            pieces.pop_back();
        }
        // A free stroke broken into pieces by a scan's rough edges, that one
        // circle fits within twice the tolerance, is one arc.
        if (Options.Arcs && !closed && !AtJunction(chain.front()) && !AtJunction(chain.back()) &&
            OneRoughArc(points, pieces, halfWidth))
            tolerance = std::max(tolerance, 2 * Options.Tolerance);
        // A short arc bulges less than the tolerance and one line fits it;
        // but where the middles of its stroke lie on a circle of a sweep of
        // 20 degrees or more, and half a pixel or more off their line, yet
        // twice as near to the circle, the chain is that arc.
        // (Such an arc is short: within the tolerance plus a pixel of its
        // chord over 20 degrees, its chord is at most 23 times that.)
        // Only a chain with free ends: between junctions the thinning bends
        // the pixels of straight strokes toward the junctions.
        const auto bulging = [&] {
            const auto free = [&](const TPixel &p) { return !AtJunction(p); };
            return Distance(points.front(), points.back()) <= 23 * (Options.Tolerance + 1) && free(chain.front()) &&
                   free(chain.back());
        };
        if (Options.Arcs && !closed && pieces.size() == 1 && !pieces[0].Arc && points.size() >= 6 && bulging()) {
            TPiece arc;
            const TCircle first = FitCircle(points.data(), points.size());
            if (first.Valid && first.R >= 1.5 && first.R <= kLargestRadius) {
                const TPoints middles = StrokeMiddles(Ink, points.data(), points.size(), first, halfWidth);
                const TCircle c = FitCircle(middles.data(), middles.size());
                const double offLine =
                    TPrefixSums(middles).Line(0, middles.size() - 1).Deviation(middles.data(), middles.size());
                if (c.Valid && c.R >= 1.5 && c.R <= kLargestRadius && offLine >= 0.5) {
                    const double offCircle = CircleDeviation(middles.data(), middles.size(), c);
                    const double sweep = SignedSweep(middles, 0, middles.size() - 1, c);
                    if (offCircle <= 0.5 * offLine && offCircle <= Options.Tolerance && std::abs(sweep) >= 20) {
                        arc.Arc = true;
                        arc.I = 0;
                        arc.J = points.size() - 1;
                        arc.Circle = c;
                        arc.Ccw = sweep > 0;
                        pieces[0] = arc;
                    }
                }
            }
        }
        // A line through the thinned pixels of a stroke of even width lies
        // half a pixel off its middle: it moves onto the middle.
        for (TPiece &piece : pieces)
            if (!piece.Arc)
                piece.Line = OntoStrokeMiddle(points, piece, halfWidth);
        // Where a fillet meets its line, the centre line runs within the
        // tolerance of both: the fit may end the arc early and put a short
        // line between it and the long line, turning a few degrees from
        // it. That line is the arc's end: its pixels go to the arc.
        if (Options.Arcs)
            for (std::size_t k = 0; k < pieces.size(); ++k) {
                const std::size_t n = pieces.size();
                if (!pieces[k].Arc || (!closed && (k == 0 || k + 1 == n)) || n < 4)
                    continue;
                const auto length = [&](const TPiece &q) { return Distance(points[q.I], points[q.J]); };
                const auto absorbs = [&](const TPiece &s, const TPiece &l) {
                    return !s.Arc && !l.Arc && TChainFitter::Turn(s, l) < 10 && length(s) < 0.5 * length(l) &&
                           s.J - s.I <= pieces[k].J - pieces[k].I;
                };
                const std::size_t next = (k + 1) % n, after = (k + 2) % n, prev = (k + n - 1) % n,
                                  before = (k + n - 2) % n;
                TPiece arc = pieces[k];
                std::size_t gone = n;
                if ((closed || k + 2 < n) && absorbs(pieces[next], pieces[after]) && next != 0) {
                    arc.J = pieces[next].J;
                    gone = next;
                } else if ((closed || k >= 2) && absorbs(pieces[prev], pieces[before]) && prev + 1 == k) {
                    arc.I = pieces[prev].I;
                    gone = prev;
                }
                if (gone == n)
                    continue;
                const TCircle c = FitCircle(points.data() + arc.I, arc.J + 1 - arc.I);
                if (!c.Valid || c.R > kLargestRadius)
                    continue;
                arc.Circle = c;
                pieces[k] = arc;
                pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(gone));
                if (gone < k)
                    --k;
            }
        // Arcs of one circle that a scan's rough edge broke apart, maybe by
        // a short line between them, are one arc: their circles agree (the
        // centres and radii within a quarter of the radius) and one circle
        // fits all their pixels within twice the tolerance.
        // (Not in a closed chain: an arc nearly all round it would end where
        // it starts.)
        if (Options.Arcs && !closed)
            for (std::size_t k = 0; k + 1 < pieces.size();) {
                const TPiece &a = pieces[k];
                const std::size_t j = pieces[k + 1].Arc ? k + 1 : k + 2;
                if (!a.Arc || a.Fillet || j >= pieces.size() || !pieces[j].Arc || pieces[j].Fillet) {
                    ++k;
                    continue;
                }
                const TPiece &b = pieces[j];
                const double r = std::max(a.Circle.R, b.Circle.R);
                const auto length = [&](const TPiece &q) { return Distance(points[q.I], points[q.J]); };
                const bool between = j == k + 1 || length(pieces[k + 1]) < std::min(length(a), length(b));
                const TCircle c = FitCircle(points.data() + a.I, b.J + 1 - a.I);
                if (!between || Distance({a.Circle.X, a.Circle.Y}, {b.Circle.X, b.Circle.Y}) > 0.25 * r ||
                    std::abs(a.Circle.R - b.Circle.R) > 0.25 * r || !c.Valid || c.R > kLargestRadius ||
                    CircleDeviation(points.data() + a.I, b.J + 1 - a.I, c) > 2 * Options.Tolerance) {
                    ++k;
                    continue;
                }
                TPiece joined = a;
                joined.J = b.J;
                joined.Circle = c;
                joined.Ccw = SignedSweep(points, joined.I, joined.J, c) > 0;
                pieces[k] = joined;
                pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(k + 1), pieces.begin() + static_cast<std::ptrdiff_t>(j + 1));
            }
        // A fillet (an arc the lines beside it touch): the circle tangent
        // to both lines that lies nearest to the middles of its stroke.
        // In a closed chain the first and the last piece meet too.
        for (std::size_t k = closed ? 0 : 1; pieces.size() >= 3 && k + (closed ? 0 : 1) < pieces.size(); ++k) {
            const std::size_t n = pieces.size();
            const TPiece &a = pieces[(k + n - 1) % n], &arc = pieces[k], &b = pieces[(k + 1) % n];
            const auto touches = [&](const TPiece &line) {
                return std::abs(line.Line.Distance({arc.Circle.X, arc.Circle.Y}) - arc.Circle.R) <= 2 * Options.Tolerance;
            };
            if (arc.Arc && !a.Arc && !b.Arc && (arc.Fillet || (touches(a) && touches(b)))) {
                FitFillet(points, a, pieces[k], b, halfWidth);
                pieces[k].Fillet = true;
            }
        }
        // A line between two fillets, each with a line on its other side
        // (the short side of a slot), keeps few pixels of its own: the
        // fillets' fits run on along it within the tolerance, and over
        // those few the ink of a side turned by a degree or two may not
        // step at all. Its direction (turned about its middle, within 4
        // degrees of its fit) is the one whose two fillets lie nearest to
        // the middles of their strokes.
        if (Options.Arcs)
            for (std::size_t k = closed ? 0 : 2; pieces.size() >= 5 && k + (closed ? 0 : 2) < pieces.size(); ++k) {
                const std::size_t n = pieces.size();
                TPiece &line = pieces[k], &arcA = pieces[(k + n - 1) % n], &arcB = pieces[(k + 1) % n];
                const TPiece &lineA = pieces[(k + n - 2) % n], &lineB = pieces[(k + 2) % n];
                if (line.Arc || !arcA.Fillet || !arcB.Fillet || lineA.Arc || lineB.Arc)
                    continue;
                const TPoint2 pivot = line.Line.Project(points[(line.I + line.J) / 2]);
                const double base = std::atan2(line.Line.Dy, line.Line.Dx);
                const auto turned = [&](double t) {
                    TPiece l = line;
                    l.Line = {pivot.X, pivot.Y, std::cos(base + t), std::sin(base + t)};
                    return l;
                };
                const auto cost = [&](double t) {
                    const TPiece l = turned(t);
                    TPiece a = arcA, b = arcB;
                    const double ca = FitFillet(points, lineA, a, l, halfWidth), cb = FitFillet(points, l, b, lineB, halfWidth);
                    return ca < 0 || cb < 0 ? std::numeric_limits<double>::max() : ca + cb;
                };
                const double t = GoldenSectionMinimum(-4 * kDegree, 4 * kDegree, 24, cost);
                if (!(cost(t) < cost(0)))
                    continue;
                line = turned(t);
                FitFillet(points, lineA, arcA, line, halfWidth);
                FitFillet(points, line, arcB, lineB, halfWidth);
            }
        // Every other arc's circle read from the edges and ends of its ink.
        // An end of the chain is free when no other stroke meets it there;
        // a line no longer than the stroke is wide before it is the
        // thinning's hook at a square end.
        if (Options.Arcs)
            for (std::size_t k = 0; k < pieces.size(); ++k) {
                if (!pieces[k].Arc || pieces[k].Fillet || closed)
                    continue;
                const auto hook = [&](const TPiece &q) {
                    return !q.Arc && Distance(points[q.I], points[q.J]) <= 2 * halfWidth + 2;
                };
                const bool freeFirst = !junction(chain.front()) && (k == 0 || (k == 1 && hook(pieces[0])));
                const std::size_t n = pieces.size();
                const bool freeLast = !junction(chain.back()) && (k + 1 == n || (k + 2 == n && hook(pieces[n - 1])));
                FitToInk(points, pieces[k], freeFirst, freeLast, halfWidth, tolerance);
            }
        // The points where consecutive pieces meet.
        std::vector<TPoint2> joints(pieces.size() + 1);
        for (std::size_t k = 1; k < pieces.size(); ++k)
            joints[k] = Joint(points, pieces[k - 1], pieces[k], halfWidth);
        if (closed) {
            joints[0] = joints[pieces.size()] =
                pieces.size() > 1 ? Joint(points, pieces.back(), pieces.front(), halfWidth) : points.front();
        } else {
            joints[0] = EndPoint(pieces.front(), points[pieces.front().I]);
            joints[pieces.size()] = EndPoint(pieces.back(), points[pieces.back().J]);
        }
        fittedChain.Closed = closed;
        fittedChain.Joints = std::move(joints);
        fittedChain.Edges.reserve(pieces.size());
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            const TPiece &piece = pieces[k];
            TEdge e;
            e.Kind = piece.Arc ? TEdgeKind::Arc : TEdgeKind::Line;
            e.Fit = piece.Line;
            e.Circle = piece.Circle;
            e.Ccw = piece.Ccw;
            e.HalfWidth = halfWidth;
            e.Tolerance = tolerance;
            if (piece.Arc) {
                e.Points = static_cast<int>(fittedChain.ArcPoints.size());
                fittedChain.ArcPoints.push_back(
                    StrokeMiddles(Ink, points.data() + piece.I, piece.J + 1 - piece.I, piece.Circle, halfWidth));
            }
            fittedChain.Edges.push_back(std::move(e));
        }
        return fittedChain;
    }

    // A stroke with free ends that a scan's rough edges broke into a few
    // arcs and lines going on into each other (the circles of its short
    // pieces far apart, a line where the edge ran straight for a while, the
    // thinning's hook at an end), but that one circle fits within twice the
    // tolerance and at most half as far as its chord's line, is one arc.
    // The hook's pixels at an end (a line no longer than the stroke is
    // wide) are not held to the circle. True when `pieces` became that arc.
    bool OneRoughArc(const TPoints &p, std::vector<TPiece> &pieces, double halfWidth) const
    {
        if (pieces.size() < 2 || pieces.size() > 4 || p.size() < 8 ||
            std::none_of(pieces.begin(), pieces.end(), [](const TPiece &q) { return q.Arc; }) ||
            std::any_of(pieces.begin(), pieces.end(), [](const TPiece &q) { return q.Fillet; }))
            return false;
        const auto hook = [&](const TPiece &q) {
            return !q.Arc && Distance(p[q.I], p[q.J]) <= 2 * halfWidth + 2;
        };
        const std::size_t i = hook(pieces.front()) ? pieces.front().J : 0,
                          j = hook(pieces.back()) ? pieces.back().I : p.size() - 1;
        if (j < i + 7)
            return false;
        const std::size_t n = j + 1 - i;
        const TCircle c = FitCircle(p.data() + i, n);
        if (!c.Valid || c.R < 1.5 || c.R > kLargestRadius)
            return false;
        const double offCircle = CircleDeviation(p.data() + i, n, c);
        const double offLine = TPrefixSums(p).Line(i, j).Deviation(p.data() + i, n);
        const double sweep = SignedSweep(p, 0, p.size() - 1, c);
        if (offCircle > 2 * Options.Tolerance || offCircle > 0.5 * offLine || std::abs(sweep) < 20 ||
            std::abs(sweep) > 330)
            return false;
        TPiece arc;
        arc.Arc = true;
        arc.I = 0;
        arc.J = p.size() - 1;
        arc.Circle = c;
        arc.Ccw = sweep > 0;
        arc.Within = p.size() - 1;
        pieces.assign(1, arc);
        return true;
    }

    // The fitted chain's joints as nodes (its ends at junctions shared with
    // the chains met there) and its pieces as edges between them.
    void AddFitted(const TChainStore::TChain &chain, TFittedChain &fitted)
    {
        if (fitted.Circle) {
            Graph.AddEdge(std::move(fitted.Edges.front()));
            return;
        }
        const std::size_t n = fitted.Edges.size();
        if (n == 0)
            return;
        const std::vector<TPoint2> &joints = fitted.Joints;
        // The joints between the pieces take the nodes from `inner` on, in
        // order; each has two edges.
        const int first = fitted.Closed ? Graph.AddNode(joints[0]) : EndNode(chain.First, joints[0]);
        const int inner = static_cast<int>(Graph.Nodes.size());
        for (std::size_t k = 1; k < n; ++k)
            Graph.AddNode(joints[k]);
        const int last = fitted.Closed ? first : EndNode(chain.Last, joints[n]);
        const auto node = [&](std::size_t k) { return k == 0 ? first : k == n ? last : inner + static_cast<int>(k) - 1; };
        for (std::size_t k = 0; k < n; ++k) {
            TEdge &e = fitted.Edges[k];
            e.A = node(k);
            e.B = node(k + 1);
            if (e.A == e.B)
                continue;
            if (e.Points >= 0) {
                Graph.ArcPoints.push_back(std::move(fitted.ArcPoints[static_cast<std::size_t>(e.Points)]));
                e.Points = static_cast<int>(Graph.ArcPoints.size() - 1);
            }
            Graph.AddEdge(std::move(e));
        }
    }

    // (The squared distances it leaves; negative when the lines make no
    // fillet's corner.)
    double FitFillet(const TPoints &p, const TPiece &a, TPiece &arc, const TPiece &b, double halfWidth) const
    {
        TPoint2 corner;
        if (!Crossing(a.Line, b.Line, corner, 10))
            return -1;
        const auto unit = [&](TPoint2 q) {
            const double l = Distance(q, corner);
            return TPoint2{(q.X - corner.X) / l, (q.Y - corner.Y) / l};
        };
        if (Distance(p[a.I], corner) < 1 || Distance(p[b.J], corner) < 1)
            return -1;
        const TPoint2 ua = unit(a.Line.Project(p[a.I])), ub = unit(b.Line.Project(p[b.J]));
        const double bx = ua.X + ub.X, by = ua.Y + ub.Y, bl = std::hypot(bx, by);
        const double half = 0.5 * std::acos(std::clamp(ua.X * ub.X + ua.Y * ub.Y, -1.0, 1.0));
        if (bl == 0 || half < 10 * kDegree || half > 80 * kDegree)
            return -1;
        // The stroke's middles over the arc and as many pixels of each line
        // beside it: the pixels near a tangent point fit the line and the
        // arc alike, and a fit to the arc's pixels alone runs on along the
        // lines (too wide a circle). The radius is the one whose whole
        // line-arc-line shape lies nearest to them all.
        const std::size_t span = arc.J - arc.I;
        TPoints near(p.begin() + static_cast<std::ptrdiff_t>(arc.I), p.begin() + static_cast<std::ptrdiff_t>(arc.J) + 1);
        for (std::size_t k = a.J - std::min(span, a.J - a.I); k < a.J; ++k)
            near.push_back(p[k]);
        for (std::size_t k = b.I + 1; k <= std::min(b.J, b.I + span); ++k)
            near.push_back(p[k]);
        const TPoints middles = StrokeMiddles(Ink, near.data(), near.size(), arc.Circle, halfWidth);
        const auto centre = [&](double r) {
            const double d = r / std::sin(half);
            return TPoint2{corner.X + bx / bl * d, corner.Y + by / bl * d};
        };
        const auto cost = [&](double r) {
            const TPoint2 c = centre(r);
            const double along = r / std::tan(half);
            const TPoint2 ta{corner.X + ua.X * along, corner.Y + ua.Y * along},
                tb{corner.X + ub.X * along, corner.Y + ub.Y * along};
            const double ax = ta.X - c.X, ay = ta.Y - c.Y, cbx = tb.X - c.X, cby = tb.Y - c.Y;
            const double turn = ax * cby - ay * cbx;
            double sum = 0;
            for (const TPoint2 &m : middles) {
                // Nearest of the two rays from the tangent points and the arc between them.
                const auto ray = [&](TPoint2 t, TPoint2 u) {
                    const double along2 = (m.X - t.X) * u.X + (m.Y - t.Y) * u.Y;
                    return along2 <= 0 ? Distance(m, t) : std::abs((m.X - t.X) * u.Y - (m.Y - t.Y) * u.X);
                };
                double e = std::min(ray(ta, ua), ray(tb, ub));
                const double vx = m.X - c.X, vy = m.Y - c.Y;
                if ((ax * vy - ay * vx) * turn >= 0 && (vx * cby - vy * cbx) * turn >= 0)
                    e = std::min(e, std::abs(std::hypot(vx, vy) - r));
                sum += e * e;
            }
            return sum;
        };
        // Golden section search of the radius about the first fit's.
        const double r = GoldenSectionMinimum(0.5 * arc.Circle.R, 1.5 * arc.Circle.R, 48, cost);
        const TPoint2 c = centre(r);
        arc.Circle = {c.X, c.Y, r, true};
        return cost(r);
    }

    // The circle of the arc `piece` moved to where its stroke covers the ink
    // best (FitStrokeArc), when that keeps it near its pixels. An end free
    // of other strokes ends in a round or a square cap; elsewhere the ink is
    // read up to a pixel and the stroke's width short of the end (where the
    // stroke beside it begins).
    void FitToInk(const TPoints &p, TPiece &piece, bool freeFirst, bool freeLast, double halfWidth,
                  double tolerance) const
    {
        // A short arc of a thin stroke (under 20 pixels, its half width
        // under a pixel) has too few edge pixels to tell more than its
        // centre line did.
        const TCircle c = piece.Circle;
        if (!c.Valid || piece.J < piece.I + 3 || (halfWidth < 1 && piece.J < piece.I + 20))
            return;
        const double sweep = std::abs(SignedSweep(p, piece.I, piece.J, c)) * kDegree;
        const double first = std::atan2(p[piece.I].Y - c.Y, p[piece.I].X - c.X);
        const double last = std::atan2(p[piece.J].Y - c.Y, p[piece.J].X - c.X);
        TStrokeArc arc;
        arc.Circle = c;
        arc.HalfWidth = halfWidth;
        arc.FreeLo = piece.Ccw ? freeFirst : freeLast;
        arc.FreeHi = piece.Ccw ? freeLast : freeFirst;
        arc.Lo = piece.Ccw ? first : last;
        arc.Hi = arc.Lo + sweep;
        // A free end's centre line runs on into the cap; a joined end's ink
        // mixes with the next stroke's.
        arc.Lo += (arc.FreeLo ? halfWidth : 2 * halfWidth + 1) / c.R;
        arc.Hi -= (arc.FreeHi ? halfWidth : 2 * halfWidth + 1) / c.R;
        if (arc.Hi - arc.Lo < 5 * kDegree || sweep >= 2 * std::numbers::pi)
            return;
        // The pixels within the half width and 3 px of the arc.
        const double reach = halfWidth + 3, mid = 0.5 * (arc.Lo + arc.Hi);
        // (angle: its atan2 about the centre, phi that less mid, what
        // FitStrokeArc reads too.)
        const auto near = [&](double x, double y, double &angle, double &phi) {
            const double dx = x - c.X, dy = y - c.Y;
            angle = std::atan2(dy, dx);
            phi = angle - mid;
            phi -= 2 * std::numbers::pi * std::floor((phi + std::numbers::pi) / (2 * std::numbers::pi));
            if (phi >= arc.Lo - mid && phi <= arc.Hi - mid)
                return std::abs(std::hypot(dx, dy) - c.R) <= reach;
            if ((phi < arc.Lo - mid && !arc.FreeLo) || (phi > arc.Hi - mid && !arc.FreeHi))
                return false;
            const double a = phi < arc.Lo - mid ? arc.Lo : arc.Hi;
            return std::hypot(x - c.X - c.R * std::cos(a), y - c.Y - c.R * std::sin(a)) <= reach;
        };
        // Only the box about the arc and its ends is read.
        double boxLeft = std::numeric_limits<double>::max(), boxRight = -boxLeft, boxTop = boxLeft, boxBottom = -boxLeft;
        const auto extend = [&](double a) {
            const double x = c.X + c.R * std::cos(a), y = c.Y + c.R * std::sin(a);
            boxLeft = std::min(boxLeft, x);
            boxRight = std::max(boxRight, x);
            boxTop = std::min(boxTop, y);
            boxBottom = std::max(boxBottom, y);
        };
        extend(arc.Lo);
        extend(arc.Hi);
        for (int quarter = static_cast<int>(std::ceil(arc.Lo / (std::numbers::pi / 2)));
             quarter * (std::numbers::pi / 2) < arc.Hi; ++quarter)
            extend(quarter * (std::numbers::pi / 2));
        std::vector<TInkSample> samples;
        std::vector<char> nearEnd;
        std::vector<double> angles;
        const double outer = c.R + reach, inner = std::max(0.0, c.R - reach);
        const int top = std::max({1, static_cast<int>(std::floor(c.Y - outer)), static_cast<int>(std::floor(boxTop - reach))}),
                  bottom = std::min({Height, static_cast<int>(std::ceil(c.Y + outer)),
                                     static_cast<int>(std::ceil(boxBottom + reach))});
        for (int y = top; y <= bottom; ++y) {
            const double dy = y - c.Y;
            if (std::abs(dy) > outer)
                continue;
            const double xo = std::sqrt(outer * outer - dy * dy);
            const double xi = std::abs(dy) < inner ? std::sqrt(inner * inner - dy * dy) : -1;
            const auto run = [&](double from, double to) {
                const int x0 = std::max({0, static_cast<int>(std::ceil(from)), static_cast<int>(std::floor(boxLeft - reach))}),
                          x1 = std::min({Ink.Width() - 1, static_cast<int>(std::floor(to)),
                                         static_cast<int>(std::ceil(boxRight + reach))});
                double angle, phi;
                for (int x = x0; x <= x1; ++x)
                    if (near(x, y, angle, phi)) {
                        samples.push_back({static_cast<double>(x), static_cast<double>(y), Ink.Black(x, Height - y)});
                        nearEnd.push_back(NearFreeEnd(arc, phi));
                        angles.push_back(angle);
                    }
            };
            if (xi < 0) {
                run(c.X - xo, c.X + xo);
            } else {
                run(c.X - xo, c.X - xi);
                run(c.X + xi, c.X + xo);
            }
        }
        // Round ends, or square ones: whichever covers the ink better about
        // the first circle (fitted with its circle free, the wrong kind of
        // end bends the circle to make up for it). The circle moves only
        // when that covers the ink better at all (by a twentieth of a
        // pixel's worth).
        TStrokeArc round = arc, flat = arc;
        round.KeepCircle = flat.KeepCircle = true;
        flat.Flat = true;
        // (The three fits start alike: the free one reads the start of the
        // kept one's kind of end.)
        TStrokeArcStart roundStart, flatStart;
        const bool roundFits =
            FitStrokeArc(samples.data(), samples.size(), round, nearEnd.data(), &roundStart, angles.data());
        const bool flatFits = (arc.FreeLo || arc.FreeHi) &&
                              FitStrokeArc(samples.data(), samples.size(), flat, nearEnd.data(), &flatStart, angles.data());
        if (!roundFits && !flatFits)
            return;
        // The circle taken when it keeps near the first and its pixels
        // near it (but for the ends, where the thinning bends).
        const auto take = [&](const TStrokeArc &fitted) {
            const TCircle f = fitted.Circle;
            if (std::abs(f.R - c.R) > 0.5 * c.R || Distance({f.X, f.Y}, {c.X, c.Y}) > 0.5 * c.R + 2 ||
                fitted.HalfWidth > 2 * halfWidth + 1.5 || fitted.HalfWidth < 0.25 || f.R > kLargestRadius)
                return false;
            const std::size_t skip = static_cast<std::size_t>(halfWidth + 1);
            for (std::size_t k = piece.I + skip; k + skip <= piece.J; ++k)
                if (std::abs(Distance(p[k], {f.X, f.Y}) - f.R) > tolerance + 1)
                    return false;
            piece.Circle = f;
            return true;
        };
        const bool isFlat = flatFits && (!roundFits || flat.Cost < round.Cost);
        // Clean ink: the middle of the circles whose strokes cover it exactly.
        TStrokeArc centred = isFlat ? flat : round;
        centred.KeepCircle = false;
        if (CentreStrokeArc(samples.data(), samples.size(), centred, nearEnd.data()) && take(centred))
            return;
        TStrokeArc fitted = arc;
        fitted.Flat = isFlat;
        const double kept = isFlat ? flat.Cost : round.Cost;
        if (FitStrokeArc(samples.data(), samples.size(), fitted, nearEnd.data(), isFlat ? &flatStart : &roundStart,
                         angles.data()) &&
            kept - fitted.Cost >= 0.05)
            take(fitted);
    }

    // The line of `piece` moved square to itself by the middle (median) of
    // the ink's middles across its pixels.
    TLine OntoStrokeMiddle(const TPoints &p, const TPiece &piece, double halfWidth) const
    {
        constexpr double kStep = 0.125;
        const double cap = 2 * halfWidth + 2, nx = -piece.Line.Dy, ny = piece.Line.Dx;
        const auto black = [&](double x, double y) {
            return Ink.Black(Round(x), Height - Round(y));
        };
        // The middle of up to 64 crossings spread along it.
        std::vector<double> shifts;
        const std::size_t step = std::max<std::size_t>(1, (piece.J - piece.I) / 64);
        shifts.reserve((piece.J - piece.I) / step + 1);
        for (std::size_t k = piece.I; k <= piece.J; k += step) {
            const TPoint2 q = piece.Line.Project(p[k]);
            if (!black(q.X, q.Y))
                continue;
            double edge[2] = {0, 0};
            bool bounded = true;
            for (int side = 0; side < 2 && bounded; ++side) {
                const double sign = side == 0 ? 1 : -1;
                const double t = InkRun(Ink, Height, q.X, q.Y, sign, nx, ny, cap);
                bounded = t <= cap;
                edge[side] = sign * (t + kStep / 2);
            }
            if (bounded)
                shifts.push_back((edge[0] + edge[1]) / 2);
        }
        TLine line = piece.Line;
        if (shifts.size() < 3)
            return line;
        std::nth_element(shifts.begin(), shifts.begin() + static_cast<std::ptrdiff_t>(shifts.size() / 2), shifts.end());
        const double shift = std::clamp(shifts[shifts.size() / 2], -0.75, 0.75);
        line.X += shift * nx;
        line.Y += shift * ny;
        return line;
    }

    TPoint2 Joint(const TPoints &p, const TPiece &a, const TPiece &b, double halfWidth) const
    {
        const TPoint2 at = p[a.J];
        const double reach = std::max(3 * Options.Tolerance + 3 + 4 * halfWidth, a.CornerReach);
        TPoint2 x;
        if (!a.Arc && !b.Arc) {
            if (Crossing(a.Line, b.Line, x) && Distance(x, at) <= reach)
                return x;
            const TPoint2 u = a.Line.Project(at), v = b.Line.Project(at);
            return {(u.X + v.X) / 2, (u.Y + v.Y) / 2};
        }
        if (a.Arc && b.Arc) {
            if (Crossing(a.Circle, b.Circle, at, x) && Distance(x, at) <= reach)
                return x;
            return OnCircle(a.Circle, at);
        }
        const TPiece &line = a.Arc ? b : a, &arc = a.Arc ? a : b;
        // A line that touches the circle meets it where the radius is
        // square to it (crossings of a tangent move far for a small error).
        // The pixels near a tangent point lie within the tolerance of both
        // for sqrt(2 R T) on either side of it (T up to twice the
        // tolerance: a rough chain's fit).
        if (std::abs(line.Line.Distance({arc.Circle.X, arc.Circle.Y}) - arc.Circle.R) <= 2 * Options.Tolerance) {
            x = line.Line.Project({arc.Circle.X, arc.Circle.Y});
            if (Distance(x, at) <= std::max(reach, 2 * std::sqrt(4 * arc.Circle.R * Options.Tolerance) + 2))
                return x;
        }
        if (Crossing(line.Line, arc.Circle, at, x) && Distance(x, at) <= reach)
            return x;
        return OnCircle(arc.Circle, at);
    }

    static TPoint2 EndPoint(const TPiece &piece, TPoint2 at)
    {
        return piece.Arc ? OnCircle(piece.Circle, at) : piece.Line.Project(at);
    }

    // The square cells of the sheet that nodes and lines are filed by, and
    // a cell's key.
    static constexpr double kFileCell = 64;
    static long FileCell(double v) { return static_cast<long>(std::floor(v / kFileCell)); }
    static std::uint64_t FileKey(long cx, long cy) { return (std::uint64_t(std::uint32_t(cy)) << 32) | std::uint32_t(cx); }

    // Lines that run into a filled dot from two sides or more (their strokes
    // cut off at its edge before the ink was thinned) end in one junction at
    // its middle: a free end goes there when its line points at the middle;
    // a short piece at an end that does not (the thinning's turn at the
    // fill's edge) goes first when the line before it does.
    void JoinAtDots()
    {
        if (Options.Dots.empty() || !(Options.Snap > 0))
            return;
        // The free ends of lines, filed by cell.
        constexpr auto cell = &FileCell;
        constexpr auto key = &FileKey;
        // The line of a free end, else -1.
        const auto freeLine = [&](int n) {
            const TNode &node = Graph.Node(n);
            if (node.Junction || node.Edges.size() != 1)
                return -1;
            const TGraphEdge &e = Graph.Edge(node.Edges.front());
            return e.Alive && e.Kind == TEdgeKind::Line && e.A != e.B ? node.Edges.front() : -1;
        };
        std::unordered_map<std::uint64_t, std::vector<int>> ends;
        for (int n = 0; n < static_cast<int>(Graph.Nodes.size()); ++n)
            if (freeLine(n) >= 0)
                ends[key(cell(Graph.Node(n).P.X), cell(Graph.Node(n).P.Y))].push_back(n);
        // Whether line e, from its other end on to its end n, points at c:
        // c no more than its half width and a pixel behind n nor more than
        // `ahead` beyond, and within its half width and a pixel and a half of
        // the line.
        const auto pointsAt = [&](int e, int n, TPoint2 c, double ahead) {
            const TGraphEdge &edge = Graph.Edge(e);
            const TPoint2 q = Graph.Node(n).P, o = Graph.Node(Graph.Other(edge, n)).P;
            const double length = Distance(o, q);
            if (!(length > 0))
                return false;
            const double ux = (q.X - o.X) / length, uy = (q.Y - o.Y) / length;
            const double t = (c.X - q.X) * ux + (c.Y - q.Y) * uy;
            const double off = std::abs((c.X - q.X) * uy - (c.Y - q.Y) * ux);
            return t >= -(edge.HalfWidth + 1) && t <= ahead && off <= edge.HalfWidth + 1.5;
        };
        struct TJoining
        {
            int Node, Spur;  // the end that goes to the junction, the piece that goes first (-1: none)
        };
        std::vector<TJoining> joining;
        for (const TGeometryOptions::TDot &dot : Options.Dots) {
            const TPoint2 c{dot.X, dot.Y};
            joining.clear();
            // (strokes are far narrower than the cells)
            const double search = dot.R + kFileCell / 2;
            for (long cy = cell(c.Y - search); cy <= cell(c.Y + search); ++cy)
                for (long cx = cell(c.X - search); cx <= cell(c.X + search); ++cx) {
                    const auto it = ends.find(key(cx, cy));
                    if (it == ends.end())
                        continue;
                    for (const int n : it->second) {
                        const int e = freeLine(n);
                        if (e < 0)
                            continue;
                        const double hw = Graph.Edge(e).HalfWidth;
                        if (!(Distance(Graph.Node(n).P, c) <= dot.R + hw + 3))
                            continue;
                        if (pointsAt(e, n, c, dot.R + hw + 3)) {
                            joining.push_back({n, -1});
                            continue;
                        }
                        const int o = Graph.Other(Graph.Edge(e), n);
                        const TNode &inner = Graph.Node(o);
                        if (inner.Junction || inner.Edges.size() != 2 || !(Graph.Length(Graph.Edge(e)) <= dot.R + 2 * hw + 2) ||
                            !(Distance(inner.P, c) <= dot.R + 2 * hw + 3))
                            continue;
                        const int f = inner.Edges[0] == e ? inner.Edges[1] : inner.Edges[0];
                        const TGraphEdge &before = Graph.Edge(f);
                        if (before.Alive && before.Kind == TEdgeKind::Line && before.A != before.B &&
                            pointsAt(f, o, c, dot.R + 2 * hw + 3))
                            joining.push_back({o, e});
                    }
                }
            if (joining.size() < 2)
                continue;
            const int junction = Graph.AddNode(c, true);
            for (const TJoining &j : joining) {
                if (j.Spur >= 0) {
                    TGraphEdge &spur = Graph.Edge(j.Spur);
                    Graph.Detach(spur.A, j.Spur);
                    Graph.Detach(spur.B, j.Spur);
                    spur.Alive = false;
                }
                Graph.MergeNode(j.Node, junction);
            }
        }
    }

    // A junction's node moves to the point nearest to the lines that meet
    // there (within two pixels of its pixel).
    void PlaceJunctions()
    {
        for (TNode &node : Graph.Nodes) {
            if (!node.Junction)
                continue;
            // Least squares of the distances to the lines, pulled weakly to the pixel.
            constexpr double kPull = 1e-3;
            double a = kPull, b = 0, c = kPull, rx = kPull * node.P.X, ry = kPull * node.P.Y;
            int lines = 0;
            for (int e : node.Edges) {
                const TGraphEdge &edge = Graph.Edge(e);
                if (edge.Kind != TEdgeKind::Line)
                    continue;
                const double nx = -edge.Fit.Dy, ny = edge.Fit.Dx, d = nx * edge.Fit.X + ny * edge.Fit.Y;
                a += nx * nx;
                b += nx * ny;
                c += ny * ny;
                rx += nx * d;
                ry += ny * d;
                ++lines;
            }
            const double det = a * c - b * b;
            if (lines < 2 || det == 0)
                continue;
            const TPoint2 p{(c * rx - b * ry) / det, (a * ry - b * rx) / det};
            if (Distance(p, node.P) <= 2)
                node.P = p;
        }
    }

    // Lines within Snap degrees of an axis: the nodes at their ends take one
    // Y (or X), the mean of theirs.
    void SnapToAxes()
    {
        const std::size_t n = Graph.Nodes.size();
        std::vector<int> sameX(n), sameY(n);
        std::iota(sameX.begin(), sameX.end(), 0);
        std::iota(sameY.begin(), sameY.end(), 0);
        const auto find = [](std::vector<int> &parent, int k) {
            while (parent[static_cast<std::size_t>(k)] != k) {
                parent[static_cast<std::size_t>(k)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(k)])];
                k = parent[static_cast<std::size_t>(k)];
            }
            return k;
        };
        const double limit = std::tan(Options.Snap * kDegree);
        for (const TGraphEdge &e : Graph.Edges) {
            if (!e.Alive || e.Kind != TEdgeKind::Line)
                continue;
            const TPoint2 a = Graph.Nodes[static_cast<std::size_t>(e.A)].P, b = Graph.Nodes[static_cast<std::size_t>(e.B)].P;
            const double dx = std::abs(b.X - a.X), dy = std::abs(b.Y - a.Y);
            // Ends placed by the pieces beside a line (the tangent points
            // of arcs) may tilt it more than its own pixels do.
            const double fx = std::abs(e.Fit.Dx), fy = std::abs(e.Fit.Dy);
            if (dy <= limit * dx || (fy <= limit * fx && dy <= 3 * limit * dx))
                sameY[static_cast<std::size_t>(find(sameY, e.A))] = find(sameY, e.B);
            else if (dx <= limit * dy || (fx <= limit * fy && dx <= 3 * limit * dy))
                sameX[static_cast<std::size_t>(find(sameX, e.A))] = find(sameX, e.B);
        }
        std::vector<double> sumX(n), sumY(n);
        std::vector<int> countX(n), countY(n);
        for (std::size_t k = 0; k < n; ++k) {
            const auto rx = static_cast<std::size_t>(find(sameX, static_cast<int>(k)));
            const auto ry = static_cast<std::size_t>(find(sameY, static_cast<int>(k)));
            sumX[rx] += Graph.Nodes[k].P.X;
            ++countX[rx];
            sumY[ry] += Graph.Nodes[k].P.Y;
            ++countY[ry];
        }
        for (std::size_t k = 0; k < n; ++k) {
            const auto rx = static_cast<std::size_t>(find(sameX, static_cast<int>(k)));
            const auto ry = static_cast<std::size_t>(find(sameY, static_cast<int>(k)));
            if (countX[rx] > 1)
                Graph.Nodes[k].P.X = sumX[rx] / countX[rx];
            if (countY[ry] > 1)
                Graph.Nodes[k].P.Y = sumY[ry] / countY[ry];
        }
    }

    // Two lines that leave a node in opposite directions and stay within the
    // tolerance of one line become that line.
    bool MergeCollinear()
    {
        bool any = false;
        std::vector<int> lines;
        for (int n = 0; n < static_cast<int>(Graph.Nodes.size()); ++n) {
            for (bool merged = true; merged && Graph.Node(n).Edges.size() >= 2;) {  // (two lines at least)
                merged = false;
                lines.clear();
                for (int e : Graph.Node(n).Edges)
                    if (Graph.Edge(e).Kind == TEdgeKind::Line)
                        lines.push_back(e);
                double best = Options.Tolerance;
                for (int e : lines)
                    best = std::max(best, Graph.Edge(e).Tolerance);
                int bestA = -1, bestB = -1;
                const TPoint2 p = Graph.Node(n).P;
                for (std::size_t i = 0; i < lines.size(); ++i) {
                    for (std::size_t j = i + 1; j < lines.size(); ++j) {
                        const TGraphEdge &a = Graph.Edge(lines[i]), &b = Graph.Edge(lines[j]);
                        const TPoint2 u = Graph.Node(Graph.Other(a, n)).P, v = Graph.Node(Graph.Other(b, n)).P;
                        const double lu = Distance(p, u), lv = Distance(p, v);
                        if (lu == 0 || lv == 0)
                            continue;
                        const double cosine = ((u.X - p.X) * (v.X - p.X) + (u.Y - p.Y) * (v.Y - p.Y)) / (lu * lv);
                        if (cosine > -std::cos(10 * kDegree))
                            continue;
                        const double off = Through(u, v).Distance(p);
                        if (off <= best) {
                            best = off;
                            bestA = lines[i];
                            bestB = lines[j];
                        }
                    }
                }
                if (bestA < 0)
                    break;
                TGraphEdge &a = Graph.Edge(bestA);
                TGraphEdge &b = Graph.Edge(bestB);
                const int u = Graph.Other(a, n), v = Graph.Other(b, n);
                Graph.Detach(n, bestA);
                Graph.Detach(n, bestB);
                Graph.Detach(v, bestB);
                b.Alive = false;
                a.A = u;
                a.B = v;
                a.HalfWidth = std::max(a.HalfWidth, b.HalfWidth);
                Graph.Node(v).Edges.push_back(bestA);
                // What else ends here now ends on the line.
                if (!Graph.Node(n).Edges.empty()) {
                    Graph.Node(n).P = Through(Graph.Node(u).P, Graph.Node(v).P).Project(p);
                    OnLines.emplace_back(n, bestA);
                }
                MergedInto[bestB] = bestA;
                merged = true;
                any = true;
            }
        }
        return any;
    }

    // The live line that edge e became by merging; -1 when none.
    int LiveLine(int e) const
    {
        for (auto it = MergedInto.find(e); it != MergedInto.end(); it = MergedInto.find(e))
            e = it->second;
        const TGraphEdge &edge = Graph.Edges[static_cast<std::size_t>(e)];
        return edge.Alive && edge.Kind == TEdgeKind::Line ? e : -1;
    }

    // Ends put onto a line (T-junctions) go back onto it once the lines are
    // snapped: along their own line when they end one, else square to it.
    void Reattach()
    {
        for (const auto &[n, onto] : OnLines) {
            const int e = LiveLine(onto);
            TNode &node = Graph.Node(n);
            if (e < 0 || node.Edges.empty())
                continue;
            const TGraphEdge &line = Graph.Edge(e);
            if (line.A == n || line.B == n)
                continue;
            const TLine target = Graph.LineOf(line);
            TPoint2 p = target.Project(node.P), crossing;
            if (node.Edges.size() == 1 && Graph.Edge(node.Edges.front()).Kind == TEdgeKind::Line &&
                Crossing(Graph.LineOf(Graph.Edge(node.Edges.front())), target, crossing, 20) &&
                Distance(crossing, node.P) <= 2)
                p = crossing;
            if (Distance(p, node.P) <= 2)
                node.P = p;
        }
    }

    // Whether the free end n of a line and the free end m of another line
    // (of half width `width`) face each other across a short gap on one
    // straight line: a stroke broken by the scan. The gap stays shorter than
    // a dashed line's.
    bool FacingEnds(int n, int m, double width)
    {
        const TNode &a = Graph.Node(n), &b = Graph.Node(m);
        if (a.Junction || b.Junction || a.Edges.size() != 1 || b.Edges.size() != 1)
            return false;
        const TGraphEdge &ea = Graph.Edge(a.Edges.front()), &eb = Graph.Edge(b.Edges.front());
        if (ea.Kind != TEdgeKind::Line || eb.Kind != TEdgeKind::Line)
            return false;
        // A longer gap is bridged when bits of the stroke too small to
        // trace lie in it, no stretch of paper between them longer than
        // the stroke is wide (a dashed line's gaps are longer).
        const double gap = Distance(a.P, b.P), bare = 2 * (ea.HalfWidth + width) + 3;
        if (gap > std::max(bare, kLongestBrokenGap))
            return false;
        const TPoint2 u = Graph.Node(Graph.Other(ea, n)).P, v = Graph.Node(Graph.Other(eb, m)).P;
        const double lu = Distance(u, a.P), lv = Distance(v, b.P), luv = Distance(u, v);
        // u, the two ends and v in this order along one line.
        if (lu == 0 || lv == 0 || luv < lu + lv)
            return false;
        const TLine line = Through(u, v);
        const double within = std::max({Options.Tolerance, ea.Tolerance, eb.Tolerance});
        if (line.Distance(a.P) > within || line.Distance(b.P) > within)
            return false;
        if (gap <= bare)
            return true;
        if (Options.KeepGaps)
            return false;
        // Ink all the way is a fill the strokes end at, not a broken stroke.
        const double paper = LongestPaper(a.P, b.P);
        return paper > 0 && paper <= std::max(5.0, 2 * ea.HalfWidth + 2);
    }

    // The longest stretch of the straight path from a to b with no ink
    // within one pixel of it.
    double LongestPaper(TPoint2 a, TPoint2 b) const
    {
        a = OnSheet(a);
        b = OnSheet(b);
        const double length = Distance(a, b);
        double longest = 0, from = 0;
        for (double s = 0; s <= length; s += 0.5) {
            const double x = a.X + (b.X - a.X) * s / length, y = a.Y + (b.Y - a.Y) * s / length;
            const int col = Round(x), row = Height - Round(y);
            bool ink = false;
            for (int dy = -1; dy <= 1 && !ink; ++dy)
                for (int dx = -1; dx <= 1 && !ink; ++dx)
                    ink = InkBlack(col + dx, row + dy);
            if (ink)
                from = s;
            else
                longest = std::max(longest, s - from);
        }
        return longest;
    }

    // Whether the ink on the straight path from a to b is nowhere deeper
    // than a stroke of half width `halfWidth`.
    bool ThinAllTheWay(TPoint2 a, TPoint2 b, double halfWidth) const
    {
        a = OnSheet(a);
        b = OnSheet(b);
        const int deepest = static_cast<int>(std::ceil(halfWidth)) + 1;
        const double length = Distance(a, b);
        for (double s = 0; s <= length; s += 0.5) {
            const int col = Round(a.X + (b.X - a.X) * s / length), row = Height - Round(a.Y + (b.Y - a.Y) * s / length);
            if (InkBlack(col, row) && InkDepth(col, row, deepest + 1) > deepest)
                return false;
        }
        return true;
    }

    // A point of the (maybe turned) geometry where it lies on the sheet.
    TPoint2 OnSheet(TPoint2 q) const
    {
        if (Turned == 0)
            return q;
        const double cx = Width / 2.0, cy = Height / 2.0;
        const double c = std::cos(-Turned * kDegree), sn = std::sin(-Turned * kDegree);
        return TPoint2{cx + c * (q.X - cx) - sn * (q.Y - cy), cy + sn * (q.X - cx) + c * (q.Y - cy)};
    }


    // Free ends near another node or line meet it.
    void CloseGaps()
    {
        // A line no longer than the stroke's half width and a pixel from a
        // node where two more pieces meet to a free end is the thinning's
        // spur at a corner: it goes.
        for (int e = 0; e < static_cast<int>(Graph.Edges.size()); ++e) {
            TGraphEdge &edge = Graph.Edge(e);
            if (!edge.Alive || edge.Kind != TEdgeKind::Line || Graph.Length(edge) > edge.HalfWidth + 2)
                continue;
            for (const int end : {edge.A, edge.B}) {
                const int other = Graph.Other(edge, end);
                const TNode &node = Graph.Node(end);
                if (!node.Junction && node.Edges.size() == 1 && Graph.Node(other).Edges.size() >= 3) {
                    Graph.Detach(edge.A, e);
                    Graph.Detach(edge.B, e);
                    edge.Alive = false;
                    break;
                }
            }
        }
        // Nodes and lines filed by the square cell of the sheet they lie in.
        constexpr double kCell = kFileCell;
        const auto columns = static_cast<std::uint32_t>(Width / kCell) + 2,
                   rows = static_cast<std::uint32_t>(Height / kCell) + 2;
        // (Each kind filed in one list, cell after cell, counted first.)
        TCellFile<TLineCell> lineCells(columns, rows);
        // (The nodes filed with their places, kept as the nodes move, so
        // that the nodes out of reach are passed over without reading them.)
        TCellFile<TNodeCell> nodeCells(columns, rows);
        constexpr auto key = &FileKey;
        constexpr auto cell = &FileCell;
        // Every line filed in the cell of q and in the eight around it, but
        // for the cells whose lines' boxes all lie farther from q than
        // reach(the cell's widest stroke).
        const auto linesNear = [&](TPoint2 q, auto reach, auto visit) {
            const long cx = cell(q.X), cy = cell(q.Y);
            for (long dx = -1; dx <= 1; ++dx)
                for (long dy = -1; dy <= 1; ++dy) {
                    const TLineCell *near = lineCells.Find(key(cx + dx, cy + dy));
                    if (!near || near->Box.Outside(q, reach(near->Box.HalfWidth)))
                        continue;
                    for (std::uint32_t k = near->Begin; k < near->End; ++k)
                        visit(FiledLines[k]);
                }
        };
        // Every node filed in those cells, but for the cells whose nodes
        // all lie farther from q than reach(the cell's widest stroke); with
        // that reach and a pixel (no node farther along an axis is met).
        const auto nodesNear = [&](TPoint2 q, auto reach, auto visit) {
            const long cx = cell(q.X), cy = cell(q.Y);
            for (long dx = -1; dx <= 1; ++dx)
                for (long dy = -1; dy <= 1; ++dy) {
                    const TNodeCell *near = nodeCells.Find(key(cx + dx, cy + dy));
                    if (!near)
                        continue;
                    // (A pixel more for the roundings.)
                    const double within = reach(near->Widest) + 1;
                    if (q.X < near->Left - within || q.X > near->Right + within || q.Y < near->Bottom - within ||
                        q.Y > near->Top + within)
                        continue;
                    for (std::uint32_t k = near->Begin; k < near->End; ++k)
                        visit(FiledNodes[k], within);
                }
        };
        const auto nodeKey = [&](const TNode &node) { return key(cell(node.P.X), cell(node.P.Y)); };
        for (const TNode &node : Graph.Nodes)
            if (!node.Edges.empty())
                ++nodeCells[nodeKey(node)].End;
        // Each cell's count turned into its stretch of the filed list, the
        // cells that hold any numbered into `used`; the list's length.
        const auto stretch = [](auto &grid, auto &used) {
            std::uint32_t filed = 0;
            grid.ForEachCell([&](auto &c) {
                c.Begin = c.End = std::exchange(filed, filed + c.End);
                if (c.Begin != filed) {
                    c.Number = static_cast<std::uint32_t>(used.size());
                    used.push_back(&c);
                }
            });
            return filed;
        };
        std::uint32_t filed = stretch(nodeCells, NodeCells);
        FiledNodes.resize(filed);
        FiledAt.assign(Graph.Nodes.size(), kNotFiled);
        for (int n = 0; n < static_cast<int>(Graph.Nodes.size()); ++n) {
            const TNode &node = Graph.Node(n);
            if (node.Edges.empty())
                continue;
            TNodeCell &c = nodeCells[nodeKey(node)];
            FiledAt[static_cast<std::size_t>(n)] = c.End;
            FiledNodes[c.End++] = {n, c.Number, node.P};
            c.Take(node.P);
            for (const int e : node.Edges)
                c.Widen(Graph.Edge(e).HalfWidth);
        }
        LineBoxes.resize(Graph.Edges.size());
        for (int e = 0; e < static_cast<int>(Graph.Edges.size()); ++e)
            BoxLine(e);
        // The cells along each line (and their neighbours are searched).
        const auto alongLines = [&](auto take) {
            for (int e = 0; e < static_cast<int>(Graph.Edges.size()); ++e) {
                const TGraphEdge &edge = Graph.Edge(e);
                if (!edge.Alive || edge.Kind != TEdgeKind::Line)
                    continue;
                const TPoint2 a = Graph.Node(edge.A).P, b = Graph.Node(edge.B).P;
                const double length = Distance(a, b);
                if (!std::isfinite(length))
                    continue;
                const int steps = static_cast<int>(length / (kCell / 2)) + 1;
                long lastX = LONG_MIN, lastY = LONG_MIN;
                for (int k = 0; k <= steps; ++k) {
                    const long cx = cell(a.X + (b.X - a.X) * k / steps), cy = cell(a.Y + (b.Y - a.Y) * k / steps);
                    if (cx != lastX || cy != lastY)
                        take(lineCells[key(cx, cy)], e);
                    lastX = cx;
                    lastY = cy;
                }
            }
        };
        alongLines([](TLineCell &c, int) { ++c.End; });
        filed = stretch(lineCells, LineCells);
        FiledLines.resize(filed);
        // (And the cells of each line, in the order of the lines.)
        LineCellsAt.assign(Graph.Edges.size() + 1, 0);
        LineCellsOf.reserve(filed);
        alongLines([&](TLineCell &c, int e) {
            FiledLines[c.End++] = e;
            c.Box.Take(LineBoxes[static_cast<std::size_t>(e)]);
            LineCellsOf.push_back(c.Number);
            LineCellsAt[static_cast<std::size_t>(e) + 1] = static_cast<std::uint32_t>(LineCellsOf.size());
        });
        for (std::size_t e = 1; e < LineCellsAt.size(); ++e)
            LineCellsAt[e] = std::max(LineCellsAt[e], LineCellsAt[e - 1]);
        // The widest stroke at each node, read when first asked for and
        // again after the node's edges changed (NodeWidths[n] < 0); and the
        // widest of all strokes, which bounds how far a node can be taken.
        double widest = 0;
        for (const TGraphEdge &edge : Graph.Edges)
            widest = std::max(widest, edge.HalfWidth);
        NodeWidths.assign(Graph.Nodes.size(), -1);
        const auto nodeWidth = [&](int m) {
            double &width = NodeWidths[static_cast<std::size_t>(m)];
            if (width < 0) {
                width = 0;
                for (int e : Graph.Node(m).Edges)
                    width = std::max(width, Graph.Edge(e).HalfWidth);
            }
            return width;
        };
        for (int n = 0; n < static_cast<int>(Graph.Nodes.size()); ++n) {
            TNode &node = Graph.Node(n);
            if (node.Junction || node.Edges.size() != 1)
                continue;
            const int own = node.Edges.front();
            const TGraphEdge &edge = Graph.Edge(own);
            const double reach = edge.HalfWidth + 1;
            const TPoint2 p = node.P;
            // No node farther than this is taken, whatever its width (see
            // below and FacingEnds).
            const double farthest =
                std::max({reach + widest, 2 * (edge.HalfWidth + widest) + 3, kLongestBrokenGap});
            // The nearest other node within reach of the two strokes.
            int bestNode = -1;
            double bestDistance = 1e300;
            const auto within = [&](double width) {
                return std::max({reach + width, 2 * (edge.HalfWidth + width) + 3, kLongestBrokenGap});
            };
            nodesNear(p, within, [&](const TFiledNode &filed, double near) {
                // (Far along an axis is farther than that, without the root.)
                if (std::abs(filed.P.X - p.X) > near || std::abs(filed.P.Y - p.Y) > near)
                    return;
                const int m = filed.Id;
                const double d = Distance(p, filed.P);
                if (!(d < bestDistance) || d > farthest)
                    return;
                if (m == n || m == Graph.Other(edge, n) || Graph.Node(m).Edges.empty())
                    return;
                const double width = nodeWidth(m);
                // (the walk over the path for paper only for a node near
                // enough to be taken)
                if (!(d <= reach + width || FacingEnds(n, m, width)))
                    return;
                if (Options.KeepGaps && PaperBetween(p, Graph.Node(m).P))
                    return;
                bestDistance = d;
                bestNode = m;
            });
            if (bestNode >= 0) {
                TNode &other = Graph.Node(bestNode);
                TPoint2 corner;
                if (edge.Kind == TEdgeKind::Line && other.Edges.size() == 1 && !other.Junction &&
                    Graph.Edge(other.Edges.front()).Kind == TEdgeKind::Line &&
                    Crossing(Graph.LineOf(edge), Graph.LineOf(Graph.Edge(other.Edges.front())), corner, 20) &&
                    Distance(corner, p) <= 2 * (reach + 1) && Distance(corner, other.P) <= 2 * (reach + 1))
                    MoveNode(bestNode, corner);
                MergeNodes(n, bestNode);
                continue;
            }
            // Else the nearest line within reach: the end goes onto it.
            int bestLine = -1;
            // Only a line passing within reach (its box grown by that and
            // a pixel) can take the end.
            const auto lineWithin = [&](double width) { return reach + width + 1; };
            linesNear(p, lineWithin, [&](int e) {
                const TLineBox &box = LineBoxes[static_cast<std::size_t>(e)];
                if (box.Outside(p, lineWithin(box.HalfWidth)))
                    return;
                const TGraphEdge &line = Graph.Edge(e);
                if (e == own || !line.Alive || line.A == n || line.B == n)
                    return;
                const TPoint2 a = Graph.Node(line.A).P, b = Graph.Node(line.B).P;
                const double length = Distance(a, b);
                if (length == 0)
                    return;
                const TLine l = Through(a, b);
                const double t = (p.X - a.X) * l.Dx + (p.Y - a.Y) * l.Dy;
                const double d = l.Distance(p);
                if (t >= 0 && t <= length && d <= reach + line.HalfWidth && d < bestDistance) {
                    bestDistance = d;
                    bestLine = e;
                }
            });
            if (bestLine < 0) {
                if (edge.Kind == TEdgeKind::Line && !Options.KeepGaps)
                    MeetAhead(n, widest, nodesNear, linesNear);
                continue;
            }
            const TLine target = Graph.LineOf(Graph.Edge(bestLine));
            TPoint2 onto = target.Project(p);
            TPoint2 crossing;
            if (edge.Kind == TEdgeKind::Line && Crossing(Graph.LineOf(edge), target, crossing, 20) &&
                Distance(crossing, p) <= 2 * (reach + 1))
                onto = crossing;
            MoveNode(n, onto);
            OnLines.emplace_back(n, bestLine);
        }
        // (Their memory goes too: the rest of the snapping needs it.)
        std::vector<TFiledNode>().swap(FiledNodes);
        std::vector<std::uint32_t>().swap(FiledAt);
        std::vector<TNodeCell *>().swap(NodeCells);
        std::vector<int>().swap(FiledLines);
        std::vector<TLineCell *>().swap(LineCells);
        std::vector<std::uint32_t>().swap(LineCellsAt);
        std::vector<std::uint32_t>().swap(LineCellsOf);
        std::vector<TLineBox>().swap(LineBoxes);
        std::vector<double>().swap(NodeWidths);
    }

    // CloseGaps' copies of where the nodes and lines are, kept as they move.
    struct TFiledNode
    {
        int Id;
        std::uint32_t Cell;  // the number of its cell
        TPoint2 P;
    };
    // The nodes filed in a cell (FiledNodes[Begin .. End)), its number among
    // the cells filed into, the box their places lie in and the widest
    // stroke at any of them (the box and the width only ever grow; in
    // floats rounded outward: they only tell which nodes are out of reach).
    struct TNodeCell
    {
        std::uint32_t Begin = 0, End = 0, Number = 0;
        float Left = std::numeric_limits<float>::infinity(), Right = -Left, Bottom = Left, Top = -Left;
        float Widest = 0;
        void Widen(double halfWidth) { Widest = std::max(Widest, Above(halfWidth)); }
        void Take(TPoint2 p)
        {
            Left = std::min(Left, Below(p.X));
            Right = std::max(Right, Above(p.X));
            Bottom = std::min(Bottom, Below(p.Y));
            Top = std::max(Top, Above(p.Y));
        }
    };
    // (In floats rounded outward: a box only tells which lines are out of reach.)
    struct TLineBox
    {
        float Left = 0, Right = 0, Bottom = 0, Top = 0, HalfWidth = 0;
        // Whether q lies outside the box grown by `within`.
        bool Outside(TPoint2 q, double within) const
        {
            return q.X < Left - within || q.X > Right + within || q.Y < Bottom - within || q.Y > Top + within;
        }
        void Take(const TLineBox &other)
        {
            Left = std::min(Left, other.Left);
            Right = std::max(Right, other.Right);
            Bottom = std::min(Bottom, other.Bottom);
            Top = std::max(Top, other.Top);
            HalfWidth = std::max(HalfWidth, other.HalfWidth);
        }
    };
    // The lines filed in a cell (FiledLines[Begin .. End)), its number among
    // the cells filed into, and a box holding their boxes and their widest
    // stroke (it only ever grows).
    struct TLineCell
    {
        std::uint32_t Begin = 0, End = 0, Number = 0;
        TLineBox Box{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                     std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 0};
    };
    // The float at or below v (Above: at or above).
    static float Below(double v)
    {
        if (v > 1e38 || v < -1e38)
            return v > 0 ? 1e38f : -std::numeric_limits<float>::infinity();
        const float f = static_cast<float>(v);
        if (!(f > v))
            return f;
        // (The next float down, as std::nextafter, without its library call.)
        if (f == 0)
            return -std::numeric_limits<float>::denorm_min();
        const auto bits = std::bit_cast<std::uint32_t>(f);
        return std::bit_cast<float>(f > 0 ? bits - 1 : bits + 1);
    }
    static float Above(double v) { return -Below(-v); }
    void BoxLine(int e)
    {
        const TGraphEdge &edge = Graph.Edge(e);
        if (edge.Kind != TEdgeKind::Line || edge.A < 0 || edge.B < 0)
            return;
        const TPoint2 a = Graph.Node(edge.A).P, b = Graph.Node(edge.B).P;
        TLineBox &box = LineBoxes[static_cast<std::size_t>(e)];
        box = {Below(std::min(a.X, b.X)), Above(std::max(a.X, b.X)), Below(std::min(a.Y, b.Y)),
               Above(std::max(a.Y, b.Y)), Above(edge.HalfWidth)};
        // (Once filed, the boxes of its cells take it.)
        if (static_cast<std::size_t>(e) + 1 < LineCellsAt.size())
            for (std::uint32_t k = LineCellsAt[static_cast<std::size_t>(e)]; k < LineCellsAt[static_cast<std::size_t>(e) + 1]; ++k)
                LineCells[LineCellsOf[k]]->Box.Take(box);
    }
    // Node m goes to q; what CloseGaps keeps of it follows.
    void MoveNode(int m, TPoint2 q)
    {
        Graph.Node(m).P = q;
        if (const std::uint32_t at = FiledAt[static_cast<std::size_t>(m)]; at != kNotFiled) {
            FiledNodes[at].P = q;
            NodeCells[FiledNodes[at].Cell]->Take(q);
        }
        for (int e : Graph.Node(m).Edges)
            BoxLine(e);
    }
    // Node `from` merged into `to` (its lines now end there).
    void MergeNodes(int from, int to)
    {
        Graph.MergeNode(from, to);
        NodeWidths[static_cast<std::size_t>(from)] = NodeWidths[static_cast<std::size_t>(to)] = -1;
        const std::uint32_t at = FiledAt[static_cast<std::size_t>(to)];
        TNodeCell *cell = at != kNotFiled ? NodeCells[FiledNodes[at].Cell] : nullptr;
        for (int e : Graph.Node(to).Edges) {
            BoxLine(e);
            if (cell)
                cell->Widen(Graph.Edge(e).HalfWidth);
        }
    }

    // A corner or junction the scan broke: the free end n of a line runs on
    // along it (at most twice the two strokes' half widths and 10 px) to where it
    // crosses the line or circle of another free end that runs on as little
    // to the same point (both ends go there), else to where it meets
    // another line (the end goes onto it). Lines within 20 degrees of each
    // other do not cross here (broken straight strokes are FacingEnds'), nor
    // the two free ends of two pieces that meet.
    // (nodesNear and linesNear visit the nodes and lines filed near a point,
    // passing over cells whose nodes or lines all lie farther than their
    // second argument makes of the widest stroke there; no stroke is wider
    // than `widest`.)
    template <class NodesNear, class LinesNear>
    void MeetAhead(int n, double widest, NodesNear nodesNear, LinesNear linesNear)
    {
        const TGraphEdge &edge = Graph.Edge(Graph.Node(n).Edges.front());
        const TPoint2 p = Graph.Node(n).P, from = Graph.Node(Graph.Other(edge, n)).P;
        const double length = Distance(from, p);
        // (A line as short as the stroke is wide has no direction to run on in.)
        if (length < std::max(6.0, 4 * edge.HalfWidth))
            return;
        const TPoint2 u{(p.X - from.X) / length, (p.Y - from.Y) / length};
        const TLine own = Graph.LineOf(edge);
        const double reach = edge.HalfWidth + 1;
        int bestNode = -1;
        double best = 1e300;
        TPoint2 bestPoint{};
        // No node farther than this can be met, whatever its width.
        const double farthest = 2 * (2 * (edge.HalfWidth + widest) + 10);
        const auto within = [&](double width) { return 2 * (2 * (edge.HalfWidth + width) + 10); };
        nodesNear(p, within, [&](const TFiledNode &filed, double near) {
            if (std::abs(filed.P.X - p.X) > near || std::abs(filed.P.Y - p.Y) > near || Distance(p, filed.P) > farthest)
                return;
            const int m = filed.Id;
            const TNode &other = Graph.Node(m);
            if (m == n || other.Junction || other.Edges.size() != 1 || m == Graph.Other(edge, n))
                return;
            const TGraphEdge &em = Graph.Edge(other.Edges.front());
            // Not the other end of the piece beside it.
            if (Graph.Other(em, m) == Graph.Other(edge, n))
                return;
            const double ahead = 2 * (edge.HalfWidth + em.HalfWidth) + 10;
            if (Distance(p, other.P) > 2 * ahead)
                return;
            TPoint2 x;
            double theirs = 0;
            if (em.Kind == TEdgeKind::Line) {
                const TPoint2 q = Graph.Node(Graph.Other(em, m)).P;
                const double lm = Distance(q, other.P);
                if (lm == 0 || !Crossing(own, Graph.LineOf(em), x, 20))
                    return;
                theirs = ((x.X - other.P.X) * (other.P.X - q.X) + (x.Y - other.P.Y) * (other.P.Y - q.Y)) / lm;
                if (theirs < -(em.HalfWidth + 1))
                    return;
            } else if (em.Kind == TEdgeKind::Arc) {
                if (!Crossing(own, em.Circle, p, x))
                    return;
                // Not along a tangent: there a crossing moves far for a small error.
                const double radial = std::abs((x.X - em.Circle.X) * own.Dx + (x.Y - em.Circle.Y) * own.Dy) / em.Circle.R;
                if (radial < 0.35)
                    return;
                theirs = Distance(x, other.P);
            } else {
                return;
            }
            const double mine = (x.X - p.X) * u.X + (x.Y - p.Y) * u.Y;
            if (mine < -reach || mine > ahead || theirs > ahead || Distance(x, p) > ahead)
                return;
            const double cost = std::max(std::abs(mine), std::abs(theirs));
            if (cost < best) {
                best = cost;
                bestNode = m;
                bestPoint = x;
            }
        });
        if (bestNode >= 0) {
            MoveNode(bestNode, bestPoint);
            MoveNode(n, bestPoint);
            MergeNodes(n, bestNode);
            return;
        }
        int bestLine = -1;
        // The crossing lies on the line, at most `ahead` from p.
        const auto lineWithin = [&](double width) { return 2 * (edge.HalfWidth + width) + 10 + 1e-3; };
        linesNear(p, lineWithin, [&](int e) {
            const TLineBox &box = LineBoxes[static_cast<std::size_t>(e)];
            if (box.Outside(p, lineWithin(box.HalfWidth)))
                return;
            const TGraphEdge &line = Graph.Edge(e);
            if (!line.Alive || line.Kind != TEdgeKind::Line || line.A == n || line.B == n || &line == &edge)
                return;
            const double ahead = 2 * (edge.HalfWidth + line.HalfWidth) + 10;
            const TPoint2 a = Graph.Node(line.A).P, b = Graph.Node(line.B).P;
            const double l = Distance(a, b);
            TPoint2 x;
            if (l == 0 || !Crossing(own, Through(a, b), x, 20))
                return;
            const double along = ((x.X - a.X) * (b.X - a.X) + (x.Y - a.Y) * (b.Y - a.Y)) / l;
            const double mine = (x.X - p.X) * u.X + (x.Y - p.Y) * u.Y;
            if (along < 0 || along > l || mine < 0 || mine > ahead || mine >= best)
                return;
            best = mine;
            bestLine = e;
            bestPoint = x;
        });
        if (bestLine >= 0) {
            MoveNode(n, bestPoint);
            OnLines.emplace_back(n, bestLine);
        }
    }

    // Whether a point of the straight path from a to b lies on paper.
    bool PaperBetween(TPoint2 a, TPoint2 b) const
    {
        // Back onto the sheet when the geometry was turned.
        const double cx = Width / 2.0, cy = Height / 2.0;
        const double c = std::cos(-Turned * kDegree), sn = std::sin(-Turned * kDegree);
        const auto sheet = [&](TPoint2 q) {
            return TPoint2{cx + c * (q.X - cx) - sn * (q.Y - cy), cy + sn * (q.X - cx) + c * (q.Y - cy)};
        };
        a = sheet(a);
        b = sheet(b);
        const double length = Distance(a, b);
        const long width = InkLines ? InkLines->Width() : Ink.Width(),
                   height = InkLines ? InkLines->Height() : Ink.Height();
        for (double s = 0; s <= length; s += 0.5) {
            const double x = a.X + (b.X - a.X) * s / length, y = a.Y + (b.Y - a.Y) * s / length;
            const long col = std::lround(std::floor(x + 0.5)), row = Height - std::lround(std::floor(y + 0.5));
            if (col >= 0 && row >= 0 && col < width && row < height &&
                !InkBlack(static_cast<int>(col), static_cast<int>(row)))
                return true;
        }
        return false;
    }

    // An arc's circle is fitted to its own pixels; the nodes at its ends are
    // placed by the lines there (a junction's node by the lines crossing,
    // half a pixel off the arc's end). Each end moves onto the circle where
    // that moves no line: a free end along the radius, an end on lines of
    // one direction along them to where the circle crosses them (not where
    // they touch it: a crossing of a tangent moves far for a small error).
    // An arc with both ends on its circle keeps the circle; else it is
    // fitted through its ends.
    void SettleArcEnds()
    {
        std::unordered_map<int, std::vector<int>> onto;  // node -> lines it was put onto
        for (const auto &[n, e] : OnLines) {
            const int line = LiveLine(e);
            if (line >= 0)
                onto[n].push_back(line);
        }
        for (int id = 0; id < static_cast<int>(Graph.Edges.size()); ++id) {
            TGraphEdge &e = Graph.Edge(id);
            if (!e.Alive || e.Kind != TEdgeKind::Arc || e.A == e.B)
                continue;
            if (SettleFillet(id, onto)) {
                e.EndsOnCircle = true;
                continue;
            }
            const bool a = SettleArcEnd(id, e.A, onto), b = SettleArcEnd(id, e.B, onto);
            e.EndsOnCircle = a && b;
        }
    }

    // The line through node n that the arc may slide its end along: every
    // other edge there a line of one direction through n; false else.
    bool LineAt(int arc, int n, const std::unordered_map<int, std::vector<int>> &onto, TLine &l)
    {
        std::vector<int> lines;
        for (int e : Graph.Node(n).Edges) {
            if (e == arc)
                continue;
            if (Graph.Edge(e).Kind != TEdgeKind::Line)
                return false;
            lines.push_back(e);
        }
        if (const auto it = onto.find(n); it != onto.end())
            for (int e : it->second) {
                const TGraphEdge &line = Graph.Edge(e);
                if (line.A != n && line.B != n)
                    lines.push_back(e);
            }
        if (lines.empty())
            return false;
        l = Graph.LineOf(Graph.Edge(lines.front()));
        for (int e : lines) {
            const TLine m = Graph.LineOf(Graph.Edge(e));
            if (std::abs(l.Dx * m.Dy - l.Dy * m.Dx) > 1e-6 || l.Distance(Graph.Node(n).P) > 1e-6)
                return false;
        }
        return true;
    }

    // A fillet (an arc its lines touch at both ends) stays tangent to both
    // lines as they were snapped: its centre where it lies its radius from
    // both, its ends at the feet of the centre on them.
    bool SettleFillet(int arc, const std::unordered_map<int, std::vector<int>> &onto)
    {
        TGraphEdge &e = Graph.Edge(arc);
        const TCircle c = e.Circle;
        const TPoint2 centre{c.X, c.Y};
        TLine la, lb;
        if (!c.Valid || !LineAt(arc, e.A, onto, la) || !LineAt(arc, e.B, onto, lb))
            return false;
        const auto touches = [&](const TLine &l, TPoint2 p) {
            const double radial = std::abs((p.X - c.X) * l.Dx + (p.Y - c.Y) * l.Dy) / c.R;
            return radial < 0.2 && std::abs(l.Distance(centre) - c.R) <= std::max(1.0, Options.Tolerance);
        };
        if (!touches(la, Graph.Node(e.A).P) || !touches(lb, Graph.Node(e.B).P))
            return false;
        // Each line moved by the radius toward the centre; they cross there.
        const auto inward = [&](TLine l) {
            double nx = -l.Dy, ny = l.Dx;
            if ((c.X - l.X) * nx + (c.Y - l.Y) * ny < 0) {
                nx = -nx;
                ny = -ny;
            }
            l.X += nx * c.R;
            l.Y += ny * c.R;
            return l;
        };
        TPoint2 moved;
        if (!Crossing(inward(la), inward(lb), moved, 10) || Distance(moved, centre) > 2)
            return false;
        // Its radius read again against the lines as they are now (snapped,
        // turned back): the one whose arc between its tangent points and
        // the lines beyond lie nearest the middles of its stroke, the centre
        // moving with it along the bisector. (The short line between two
        // fillets of a turned sheet tilts their first circles.)
        TPoint2 corner;
        const TPoints &middles = Graph.PointsOf(e);
        if (middles.size() >= 8 && Crossing(la, lb, corner, 10)) {
            const double vx = (moved.X - corner.X) / c.R, vy = (moved.Y - corner.Y) / c.R;
            const auto cost = [&](double r) {
                const TPoint2 o{corner.X + vx * r, corner.Y + vy * r};
                const TPoint2 ta = la.Project(o), tb = lb.Project(o);
                const double ax = ta.X - o.X, ay = ta.Y - o.Y, bx = tb.X - o.X, by = tb.Y - o.Y;
                const double turn = ax * by - ay * bx;
                double sum = 0;
                for (const TPoint2 &m : middles) {
                    const double mx = m.X - o.X, my = m.Y - o.Y;
                    double d;
                    if ((ax * my - ay * mx) * turn >= 0 && (mx * by - my * bx) * turn >= 0)
                        d = std::abs(std::hypot(mx, my) - r);
                    else
                        d = std::min(la.Distance(m), lb.Distance(m));
                    sum += d * d;
                }
                return sum;
            };
            const double r = GoldenSectionMinimum(0.8 * c.R, 1.2 * c.R, 40, cost);
            if (cost(r) < cost(c.R)) {
                moved = {corner.X + vx * r, corner.Y + vy * r};
                e.Circle.R = r;
            }
        }
        e.Circle.X = moved.X;
        e.Circle.Y = moved.Y;
        Graph.Node(e.A).P = la.Project(moved);
        Graph.Node(e.B).P = lb.Project(moved);
        return true;
    }

    bool SettleArcEnd(int arc, int n, const std::unordered_map<int, std::vector<int>> &onto)
    {
        const TCircle c = Graph.Edge(arc).Circle;
        TNode &node = Graph.Node(n);
        if (!c.Valid || Distance(node.P, {c.X, c.Y}) == 0)
            return false;
        if (node.Edges.size() == 1 && !node.Junction && onto.find(n) == onto.end()) {
            node.P = OnCircle(c, node.P);
            return true;
        }
        TLine l;
        if (!LineAt(arc, n, onto, l))
            return false;
        TPoint2 x;
        if (!Crossing(l, c, node.P, x))
            return false;
        const double radial = std::abs((x.X - c.X) * l.Dx + (x.Y - c.Y) * l.Dy) / c.R;
        if (radial < 0.5 || Distance(x, node.P) > std::max(2.0, Graph.Edge(arc).HalfWidth + 1))
            return false;
        node.P = x;
        return true;
    }

    TDrawing Output()
    {
        TDrawing drawing;
        drawing.Entities.reserve(static_cast<std::size_t>(
            std::count_if(Graph.Edges.begin(), Graph.Edges.end(), [](const TGraphEdge &e) { return e.Alive; })));
        for (TGraphEdge &e : Graph.Edges) {
            if (!e.Alive)
                continue;
            if (e.Kind == TEdgeKind::Circle) {
                drawing.Entities.push_back(TDrawingEntity::MakeCircle(e.Circle.X, e.Circle.Y, e.Circle.R));
                continue;
            }
            const TPoint2 a = Graph.Node(e.A).P, b = Graph.Node(e.B).P;
            if (e.Kind == TEdgeKind::Line) {
                drawing.Entities.push_back(TDrawingEntity::MakeLine(a.X, a.Y, b.X, b.Y));
                continue;
            }
            // An arc passes exactly through the nodes at its ends.
            const TCircle c = e.EndsOnCircle ? e.Circle : FitCircleThrough(Graph.PointsOf(e).data(), Graph.PointsOf(e).size(), a, b, e.Circle);
            if (!std::isfinite(c.X) || !std::isfinite(c.Y) || !(c.R > 0 && c.R <= kLargestRadius) ||
                Distance(a, b) < 1e-6) {
                drawing.Entities.push_back(TDrawingEntity::MakeLine(a.X, a.Y, b.X, b.Y));
                continue;
            }
            const double start = AngleOf(a.X - c.X, a.Y - c.Y), end = AngleOf(b.X - c.X, b.Y - c.Y);
            drawing.Entities.push_back(e.Ccw ? TDrawingEntity::MakeArc(c.X, c.Y, c.R, start, end)
                                             : TDrawingEntity::MakeArc(c.X, c.Y, c.R, end, start));
        }
        return drawing;
    }

    TBlackMask Centre;  // let go once its chains are traced
    std::vector<std::uint64_t> JunctionEnds;  // Key of every chain end at a junction, ascending
    // A packed ink lent (else none), unpacked into UnpackedInk while the
    // chains are fitted, then read through InkLines; Ink is the ink unpacked.
    TPackedMask *PackedInk = nullptr;
    TBlackMask UnpackedInk;
    std::optional<TPackedMaskLines> InkLines;
    const TBlackMask &Ink;
    const TGeometryOptions &Options;
    const int Width, Height;
    TGraph Graph;
    std::vector<int> JunctionNodes;  // the node of each of JunctionEnds (< 0: none yet)
    double Turned = 0;        // degrees the geometry was turned by to remove the skew
    // Ends put onto lines (node, edge), and the line each merged line went into.
    std::vector<std::pair<int, int>> OnLines;
    std::unordered_map<int, int> MergedInto;
    // CloseGaps' widest stroke at each node (< 0: not read yet), the nodes
    // filed by cell and where each node is among them, the cells filed
    // into (in the order of their nodes), the lines filed by cell, the
    // cells filed into, the cells of each line (LineCellsOf[LineCellsAt[e]
    // .. LineCellsAt[e + 1]), in its order) and each line's box.
    std::vector<double> NodeWidths;
    static constexpr std::uint32_t kNotFiled = UINT32_MAX;
    std::vector<TFiledNode> FiledNodes;
    std::vector<std::uint32_t> FiledAt;
    std::vector<TNodeCell *> NodeCells;
    std::vector<int> FiledLines;
    std::vector<TLineCell *> LineCells;
    std::vector<std::uint32_t> LineCellsAt, LineCellsOf;
    std::vector<TLineBox> LineBoxes;
};

} // namespace

TDrawing RecogniseDrawing(TBlackMask centre, const TBlackMask &ink, const TGeometryOptions &options,
                          std::optional<double> *skew)
{
    return TRecogniser(std::move(centre), ink, options).Run(skew);
}

TDrawing RecogniseDrawing(TBlackMask centre, TPackedMask &ink, const TGeometryOptions &options,
                          std::optional<double> *skew)
{
    return TRecogniser(std::move(centre), ink, options).Run(skew);
}
