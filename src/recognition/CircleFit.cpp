#include "recognition/CircleFit.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

TCircle Taubin(const TPoint2 *p, std::size_t n)
{
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mx += p[i].X;
        my += p[i].Y;
    }
    mx /= static_cast<double>(n);
    my /= static_cast<double>(n);
    double Mxx = 0, Myy = 0, Mxy = 0, Mxz = 0, Myz = 0, Mzz = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = p[i].X - mx, y = p[i].Y - my, z = x * x + y * y;
        Mxy += x * y;
        Mxx += x * x;
        Myy += y * y;
        Mxz += x * z;
        Myz += y * z;
        Mzz += z * z;
    }
    const double k = static_cast<double>(n);
    Mxx /= k;
    Myy /= k;
    Mxy /= k;
    Mxz /= k;
    Myz /= k;
    Mzz /= k;
    // The characteristic polynomial of Taubin's generalised eigenproblem,
    // solved by Newton's method from 0.
    const double Mz = Mxx + Myy, covXY = Mxx * Myy - Mxy * Mxy, varZ = Mzz - Mz * Mz;
    const double A3 = 4 * Mz, A2 = -3 * Mz * Mz - Mzz;
    const double A1 = varZ * Mz + 4 * covXY * Mz - Mxz * Mxz - Myz * Myz;
    const double A0 = Mxz * (Mxz * Myy - Myz * Mxy) + Myz * (Myz * Mxx - Mxz * Mxy) - varZ * covXY;
    double x = 0, y = A0;
    for (int iter = 0; iter < 99; ++iter) {
        const double dy = A1 + x * (2 * A2 + 3 * A3 * x);
        const double xNew = x - y / dy;
        if (xNew == x || !std::isfinite(xNew))
            break;
        const double yNew = A0 + xNew * (A1 + xNew * (A2 + xNew * A3));
        if (std::abs(yNew) >= std::abs(y))
            break;
        x = xNew;
        y = yNew;
    }
    const double det = x * x - x * Mz + covXY;
    TCircle c;
    if (det == 0 || !std::isfinite(det))
        return c;
    const double cx = (Mxz * (Myy - x) - Myz * Mxy) / det / 2;
    const double cy = (Myz * (Mxx - x) - Mxz * Mxy) / det / 2;
    c.X = cx + mx;
    c.Y = cy + my;
    c.R = std::sqrt(cx * cx + cy * cy + Mz);
    c.Valid = std::isfinite(c.X) && std::isfinite(c.Y) && std::isfinite(c.R);
    return c;
}

} // namespace

// (Operation for operation as Eigen's LDLT, in plain variables: without the
// decomposition object, whose norm and bookkeeping cost more than the solve.
// The lower triangle is kept; a pivot swaps rows and columns of it.)
void SolveSymmetric3(const double (&normal)[3][3], const double (&rhs)[3], double (&x)[3])
{
    double a00 = normal[0][0], a10 = normal[1][0], a11 = normal[1][1];
    double a20 = normal[2][0], a21 = normal[2][1], a22 = normal[2][2];
    // The first pivot: the largest diagonal entry (the first of equals).
    int p0 = 0;
    if (std::abs(a11) > std::abs(a00))
        p0 = 1;
    if (std::abs(a22) > std::abs(p0 == 0 ? a00 : a11))
        p0 = 2;
    if (p0 == 1) {
        std::swap(a00, a11);
        std::swap(a20, a21);
    } else if (p0 == 2) {
        std::swap(a00, a22);
        std::swap(a10, a21);
    }
    int p1 = 1;
    if (std::abs(a00) > 0) {
        a10 /= a00;
        a20 /= a00;
        // The second pivot, of the diagonal as it stands before the step.
        if (std::abs(a22) > std::abs(a11)) {
            p1 = 2;
            std::swap(a10, a20);
            std::swap(a11, a22);
        }
        const double t0 = a00 * a10;
        a11 -= a10 * t0;
        a21 -= a20 * t0;
        if (std::abs(a11) > 0)
            a21 /= a11;
        const double u0 = a00 * a20, u1 = a11 * a21;
        a22 -= a20 * u0 + a21 * u1;
    }
    // (a diagonal of zeros: nothing factored, no pivots)
    x[0] = rhs[0];
    x[1] = rhs[1];
    x[2] = rhs[2];
    std::swap(x[0], x[p0]);
    std::swap(x[1], x[p1]);
    x[1] -= a10 * x[0];
    x[2] -= a20 * x[0] + a21 * x[1];
    const auto divide = [](double v, double d) { return std::abs(d) > std::numeric_limits<double>::min() ? v / d : 0; };
    x[0] = divide(x[0], a00);
    x[1] = divide(x[1], a11);
    x[2] = divide(x[2], a22);
    x[1] -= a21 * x[2];
    x[0] -= a10 * x[1] + a20 * x[2];
    std::swap(x[1], x[p1]);
    std::swap(x[0], x[p0]);
}

TCircle FitCircle(const TPoint2 *p, std::size_t n)
{
    if (n < 3)
        return {};
    TCircle c = Taubin(p, n);
    if (!c.Valid)
        return c;
    // Gauss-Newton on the distances to the circle.
    for (int iter = 0; iter < 5; ++iter) {
        // (The sums of the symmetric normal matrix's six entries in plain
        // variables: the same sums, kept in registers.)
        // (x and y side by side in the two lanes of a register of the
        // vector unit: the same operations on each, one division for both.)
        using TPair = double __attribute__((vector_size(16)));
        TPair squares = {0, 0}, radial = {0, 0}, along = {0, 0};  // {xx, yy}, {rx, ry}, {sx, sy}
        double xy = 0, count = 0, sr = 0;  // count: the entry -1 * -1 summed
        const TPair centre = {c.X, c.Y};
        for (std::size_t i = 0; i < n; ++i) {
            const TPair dxy = TPair{p[i].X, p[i].Y} - centre;
            const double dx = dxy[0], dy = dxy[1], d = std::sqrt(dx * dx + dy * dy);
            if (d == 0)
                continue;
            const TPair j = -dxy / TPair{d, d};
            const double e = d - c.R;
            squares += j * j;
            xy += j[0] * j[1];
            radial += j * -1.0;
            count += 1.0;
            along -= j * e;
            sr -= -1.0 * e;
        }
        const double xx = squares[0], yy = squares[1], rx = radial[0], ry = radial[1], sx = along[0], sy = along[1];
        const double normal[3][3] = {{xx, xy, rx}, {xy, yy, ry}, {rx, ry, count}};
        double solved[3];
        SolveSymmetric3(normal, {sx, sy, sr}, solved);
        const Eigen::Vector3d step(solved[0], solved[1], solved[2]);
        if (!step.allFinite())
            break;
        c.X += step(0);
        c.Y += step(1);
        c.R += step(2);
        if (step.norm() < 1e-9 * std::max(1.0, c.R))
            break;
    }
    c.Valid = std::isfinite(c.X) && std::isfinite(c.Y) && std::isfinite(c.R) && c.R > 0;
    return c;
}

TCircle FitCircleThrough(const TPoint2 *p, std::size_t n, TPoint2 a, TPoint2 b, TCircle guess)
{
    const double mx = (a.X + b.X) / 2, my = (a.Y + b.Y) / 2;
    const double hx = (b.X - a.X) / 2, hy = (b.Y - a.Y) / 2, h = std::hypot(hx, hy);
    if (h == 0 || !guess.Valid)
        return guess;
    // Centre m + t u, u the unit normal of the chord; radius sqrt(h^2 + t^2).
    const double ux = -hy / h, uy = hx / h;
    double t = (guess.X - mx) * ux + (guess.Y - my) * uy;
    for (int iter = 0; iter < 8; ++iter) {
        const double cx = mx + t * ux, cy = my + t * uy, r = std::hypot(h, t);
        double jj = 0, jr = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double dx = p[i].X - cx, dy = p[i].Y - cy, d = std::sqrt(dx * dx + dy * dy);
            if (d == 0)
                continue;
            const double j = -(dx * ux + dy * uy) / d - t / r;
            jj += j * j;
            jr += j * (d - r);
        }
        if (jj == 0)
            break;
        const double step = -jr / jj;
        t += step;
        if (std::abs(step) < 1e-9 * std::max(1.0, r))
            break;
    }
    TCircle c;
    c.X = mx + t * ux;
    c.Y = my + t * uy;
    c.R = std::hypot(h, t);
    c.Valid = std::isfinite(c.R);
    return c.Valid ? c : guess;
}

double CircleDeviation(const TPoint2 *p, std::size_t n, const TCircle &c)
{
    // Compared as squares: |d - R| <= t when (R - t)^2 <= d^2 <= (R + t)^2.
    double worst = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = p[i].X - c.X, dy = p[i].Y - c.Y;
        worst = std::max(worst, std::abs(std::sqrt(dx * dx + dy * dy) - c.R));
    }
    return worst;
}

namespace {

// Distance of (x, y) from the arc's centre line with its caps, and its
// gradient by the centre, the radius and the two end angles.
struct TArcDistance
{
    double D;
    double Dcx, Dcy, Dr, Dlo, Dhi;
};

// (cosLo, sinLo, cosHi, sinHi: of the end angles, the same for every pixel.)
// (angle: atan2(y - cy, x - cx) when known, else NaN.)
// (Inlined into both fits' loops over the samples.)
[[gnu::always_inline]] inline TArcDistance ArcDistance(double x, double y, double cx, double cy, double r, double lo,
                                                       double hi, bool freeLo, bool freeHi, bool flat, bool nearEnd,
                                                       const double (&ends)[4], double angle)
{
    TArcDistance out{};
    const double dx = x - cx, dy = y - cy, rho = std::sqrt(dx * dx + dy * dy);
    const double s = rho >= r ? 1 : -1;
    // The distance off the circle.
    const auto offCircle = [&] {
        out.D = std::abs(rho - r);
        if (rho > 0) {
            // (Both in the lanes of a register of the vector unit: one division.)
            using TPair = double __attribute__((vector_size(16)));
            const TPair d = TPair{-s * dx, -s * dy} / TPair{rho, rho};
            out.Dcx = d[0];
            out.Dcy = d[1];
        }
        out.Dr = -s;
        return out;
    };
    if (!nearEnd)
        return offCircle();  // far from the free ends
    const double mid = 0.5 * (lo + hi);
    double phi = (std::isnan(angle) ? std::atan2(dy, dx) : angle) - mid;
    phi -= 2 * std::numbers::pi * std::floor((phi + std::numbers::pi) / (2 * std::numbers::pi));
    const bool beforeLo = freeLo && phi < lo - mid, afterHi = freeHi && phi > hi - mid;
    if ((beforeLo || afterHi) && flat && rho > 0) {
        // Square ends: the larger of the distance off the circle and the
        // way past the end along it (less the half width, as the distance
        // to a round end is compared).
        const double over = beforeLo ? (lo - mid - phi) * r : (phi - (hi - mid)) * r;
        if (std::abs(rho - r) >= over)
            return offCircle();
        // d phi / d cx = dy / rho^2, d phi / d cy = -dx / rho^2
        const double sign = beforeLo ? -1 : 1;
        out.D = over;
        out.Dcx = sign * r * dy / (rho * rho);
        out.Dcy = -sign * r * dx / (rho * rho);
        out.Dr = over / r;
        (beforeLo ? out.Dlo : out.Dhi) = beforeLo ? r : -r;
        return out;
    }
    if (beforeLo || afterHi) {
        const double cosA = beforeLo ? ends[0] : ends[2], sinA = beforeLo ? ends[1] : ends[3];
        const double ex = cx + r * cosA, ey = cy + r * sinA;
        const double ux = x - ex, uy = y - ey, d = std::sqrt(ux * ux + uy * uy);
        out.D = d;
        if (d > 0) {
            out.Dcx = -ux / d;
            out.Dcy = -uy / d;
            out.Dr = -(ux * cosA + uy * sinA) / d;
            const double da = -(ux * -r * sinA + uy * r * cosA) / d;
            (beforeLo ? out.Dlo : out.Dhi) = da;
        }
        return out;
    }
    return offCircle();
}

} // namespace

bool NearFreeEnd(const TStrokeArc &arc, double phi)
{
    const double mid = 0.5 * (arc.Lo + arc.Hi), margin = (arc.HalfWidth + 8) / arc.Circle.R;
    return (arc.FreeLo && phi < arc.Lo - mid + margin) || (arc.FreeHi && phi > arc.Hi - mid - margin);
}

bool FitStrokeArc(const TInkSample *p, std::size_t n, TStrokeArc &arc, const char *nearEnds, TStrokeArcStart *start,
                  const double *angles)
{
    // The step's width: narrow enough to place an edge between two pixel
    // centres, wide enough that the rough edge of a scan does not catch it.
    constexpr double kStep = 0.35;
    constexpr int kParameters = 6;  // centre x, y, radius, half width, Lo, Hi
    if (n < 8 || !arc.Circle.Valid)
        return false;
    using TVector = Eigen::Matrix<double, kParameters, 1>;
    using TMatrix = Eigen::Matrix<double, kParameters, kParameters>;
    TVector q;
    q << arc.Circle.X, arc.Circle.Y, arc.Circle.R, arc.HalfWidth, arc.Lo, arc.Hi;
    // The samples near a free end (within the half width and 8 px of it
    // along the first circle, or past it): the others are read off the
    // circle alone (the ends move less than that).
    // (The buffers stay with the thread: a big arc's samples fill pages
    // that a fresh buffer would have to clear again for every fit.)
    thread_local std::vector<char> nearEndKept;
    if (!nearEnds) {
        nearEndKept.assign(n, 0);
        const double mid = 0.5 * (arc.Lo + arc.Hi);
        for (std::size_t i = 0; i < n; ++i) {
            double phi = std::atan2(p[i].Y - arc.Circle.Y, p[i].X - arc.Circle.X) - mid;
            phi -= 2 * std::numbers::pi * std::floor((phi + std::numbers::pi) / (2 * std::numbers::pi));
            nearEndKept[i] = NearFreeEnd(arc, phi);
        }
        nearEnds = nearEndKept.data();
    }
    const char *const nearEnd = nearEnds;
    // The last parameters' distances and predicted ink per sample: a step
    // taken reads its normal equations from them instead of measuring again.
    struct TTerm
    {
        TArcDistance A;
        double Predicted, Residual;
    };
    thread_local std::vector<TTerm> terms;
    terms.resize(n);
    // (Kept up to a moderate arc's size: a huge circle's buffers go with its fit.)
    struct TLetGo
    {
        ~TLetGo()
        {
            if (terms.capacity() > (std::size_t(1) << 16)) {
                std::vector<TTerm>().swap(terms);
                std::vector<char>().swap(nearEndKept);
            }
        }
    } letGo;
    using TPair = double __attribute__((vector_size(16)));
    std::size_t evaluatedWrong = 0, wrong = 0;
    // Whether `terms` hold the distances of the samples about the first
    // circle: a sample far from the free ends lies as far off the circle
    // as long as it stays (as a fit that keeps its circle keeps it).
    bool termsAboutFirst = false;
    const auto evaluate = [&](const TVector &v) {
        double cost = 0;
        evaluatedWrong = 0;
        const double ends[4] = {std::cos(v(4)), std::sin(v(4)), std::cos(v(5)), std::sin(v(5))};
        // (The samples' angles are known about the first centre, which a
        // fit with its circle kept keeps.)
        const bool aboutFirst = v(0) == arc.Circle.X && v(1) == arc.Circle.Y;
        const double *known = angles && aboutFirst ? angles : nullptr;
        const bool offKnown = termsAboutFirst && aboutFirst && v(2) == arc.Circle.R;
        for (std::size_t i = 0; i < n; ++i) {
            TTerm &t = terms[i];
            if (!offKnown || nearEnd[i] != 0)
                t.A = ArcDistance(p[i].X, p[i].Y, v(0), v(1), v(2), v(4), v(5), arc.FreeLo, arc.FreeHi, arc.Flat,
                                  nearEnd[i] != 0, ends, known ? known[i] : std::numeric_limits<double>::quiet_NaN());
        }
        // (Then the ink predicted of two samples at a time, in the two lanes
        // of a register of the vector unit: the same operations on each as
        // one at a time, the sums taken in order.)
        const auto sum = [&](TTerm &t, double predicted, double ink) {
            const double residual = ink - predicted;
            cost += residual * residual;
            evaluatedWrong += std::abs(residual) >= 0.5;  // (predicted on the wrong side of a half)
            t.Predicted = predicted;
            t.Residual = residual;
        };
        const TPair halfWidth = {v(3), v(3)}, step = {kStep, kStep}, low = {-40.0, -40.0}, high = {40.0, 40.0};
        std::size_t i = 0;
        for (; i + 1 < n; i += 2) {
            TTerm &t0 = terms[i], &t1 = terms[i + 1];
            TPair e = (TPair{t0.A.D, t1.A.D} - halfWidth) / step;
            e = e < low ? low : (high < e ? high : e);  // (std::clamp's comparisons)
            const TPair predicted = 1 / (1 + TPair{std::exp(e[0]), std::exp(e[1])});
            sum(t0, predicted[0], p[i].Ink ? 1.0 : 0.0);
            sum(t1, predicted[1], p[i + 1].Ink ? 1.0 : 0.0);
        }
        for (; i < n; ++i) {
            const double e = std::clamp((terms[i].A.D - v(3)) / kStep, -40.0, 40.0);
            sum(terms[i], 1 / (1 + std::exp(e)), p[i].Ink ? 1.0 : 0.0);
        }
        termsAboutFirst = aboutFirst && v(2) == arc.Circle.R;
        return cost;
    };
    // The normal equations at the parameters last evaluated (the matrix is
    // symmetric: its upper half summed and mirrored). With `all` false only
    // the half width's and the ends' rows and columns: a fit that keeps its
    // circle sets the circle's to those of a parameter held (the start's
    // equations are summed whole, a fit from the same start may free it).
    const auto normalEquations = [&](TMatrix &normal, TVector &gradient, auto all) {
        // (Two rows at a time, in the two lanes of a register of the vector
        // unit: for each sample, rows r and r + 1 of column c add j[r] j[c]
        // and j[r + 1] j[c], each sum the same products in the same order as
        // one at a time. Row r + 1 of column r is below the diagonal: summed,
        // not read. Without all, the rows and columns from the half width's
        // on: the centre's pair is not summed.)
        constexpr int kFirst = decltype(all)::value ? 0 : 3;
        TPair sums[kParameters / 2][kParameters] = {}, g[kParameters / 2] = {};
        for (std::size_t i = 0; i < n; ++i) {
            const TTerm &t = terms[i];
            // d residual / d parameter = predicted (1 - predicted) / kStep * d(D - halfWidth)
            const double k = t.Predicted * (1 - t.Predicted) / kStep;
            const TPair kk = {k, k};
            const TPair j[kParameters / 2] = {kk * TPair{t.A.Dcx, t.A.Dcy}, TPair{k * t.A.Dr, -k},
                                              kk * TPair{t.A.Dlo, t.A.Dhi}};
            const double one[kParameters] = {j[0][0], j[0][1], j[1][0], j[1][1], j[2][0], j[2][1]};
#pragma GCC unroll 6
            for (int c = kFirst; c < kParameters; ++c) {
                const TPair jc = {one[c], one[c]};
                if constexpr (kFirst == 0)
                    sums[0][c] += j[0] * jc;
                if (c >= 2)
                    sums[1][c] += j[1] * jc;
                if (c >= 4)
                    sums[2][c] += j[2] * jc;
            }
            const TPair residual = {t.Residual, t.Residual};
#pragma GCC unroll 3
            for (int r = kFirst / 2; r < kParameters / 2; ++r)
                g[r] += j[r] * residual;
        }
        for (int r = kFirst; r < kParameters; ++r) {
            for (int c = r; c < kParameters; ++c)
                normal(r, c) = normal(c, r) = sums[r / 2][c][r % 2];
            gradient(r) = g[r / 2][r % 2];
        }
    };
    double lambda = 1e-3;
    TMatrix normal;
    TVector gradient;
    double cost;
    if (start && start->Known) {
        cost = start->Cost;
        wrong = start->Wrong;
        for (int r = 0; r < kParameters; ++r) {
            for (int c = 0; c < kParameters; ++c)
                normal(r, c) = start->Normal[r][c];
            gradient(r) = start->Gradient[r];
        }
    } else {
        cost = evaluate(q);
        wrong = evaluatedWrong;
        normalEquations(normal, gradient, std::true_type());
        if (start) {
            start->Known = true;
            start->Cost = cost;
            start->Wrong = wrong;
            for (int r = 0; r < kParameters; ++r) {
                for (int c = 0; c < kParameters; ++c)
                    start->Normal[r][c] = normal(r, c);
                start->Gradient[r] = gradient(r);
            }
        }
    }
    const double first = cost;
    // A few steps: the fit starts near the answer, and a fiftieth of a
    // pixel is well below what the ink's edges tell.
    constexpr int kSteps = 5;
    for (int iter = 0; iter < kSteps; ++iter) {
        TMatrix damped = normal;
        for (int k = 0; k < kParameters; ++k)
            damped(k, k) += lambda * std::max(normal(k, k), 1e-9) + 1e-12;
        TVector g = gradient;
        for (int k = 0; k < kParameters; ++k)
            if ((k == 4 && !arc.FreeLo) || (k == 5 && !arc.FreeHi) || (k < 3 && arc.KeepCircle)) {
                damped.row(k).setZero();
                damped.col(k).setZero();
                damped(k, k) = 1;
                g(k) = 0;
            }
        const TVector step = damped.ldlt().solve(-g);
        if (!step.allFinite())
            return false;
        const TVector next = q + step;
        // (The step's cost first: a step refused needs no derivatives.)
        const double nextCost = next(2) > 0.5 && next(3) > 0.1 && next(5) > next(4)
                                    ? evaluate(next)
                                    : std::numeric_limits<double>::max();
        if (nextCost < cost) {
            // Settled when the cost or the step (in pixels) is that small.
            const double moved = std::max({std::abs(step(0)), std::abs(step(1)), std::abs(step(2)), std::abs(step(3)),
                                           q(2) * std::abs(step(4)), q(2) * std::abs(step(5))});
            const bool settled = cost - nextCost < 1e-9 * std::max(1.0, cost) || moved < 0.02;
            q = next;
            cost = nextCost;
            wrong = evaluatedWrong;
            if (settled || iter + 1 == kSteps)
                break;
            if (arc.KeepCircle)
                normalEquations(normal, gradient, std::false_type());
            else
                normalEquations(normal, gradient, std::true_type());
            lambda = std::max(1e-7, lambda / 4);
        } else {
            lambda *= 8;
            if (lambda > 1e8)
                break;
        }
    }
    if (!q.allFinite() || !(cost <= first) || q(2) <= 0.5 || q(5) <= q(4) || q(5) - q(4) >= 2 * std::numbers::pi)
        return false;
    arc.Circle = {q(0), q(1), q(2), true};
    arc.HalfWidth = q(3);
    arc.Lo = q(4);
    arc.Hi = q(5);
    arc.Cost = cost;
    arc.Wrong = wrong;
    return true;
}

bool CentreStrokeArc(const TInkSample *p, std::size_t n, TStrokeArc &arc, const char *nearEnd)
{
    constexpr int kParameters = 6;  // centre x, y, radius, half width, Lo, Hi
    // Samples farther inside their side than kBand at the start bound
    // nothing near the middle. Below kDeep a slack's log goes on as a
    // parabola (concave and smooth, so that the search may start outside
    // the set). A set reached only past more than kWrong of the samples on
    // the wrong side (a scan's rough edges) is not looked for.
    constexpr double kBand = 1.0, kDeep = 1e-3, kWrong = 0.02;
    using TVector = Eigen::Matrix<double, kParameters, 1>;
    using TMatrix = Eigen::Matrix<double, kParameters, kParameters>;
    if (n < 8 || !arc.Circle.Valid || static_cast<double>(arc.Wrong) > kWrong * static_cast<double>(n))
        return false;
    TVector q;
    q << arc.Circle.X, arc.Circle.Y, arc.Circle.R, arc.HalfWidth, arc.Lo, arc.Hi;
    const auto fixed = [&](int k) { return (k == 4 && !arc.FreeLo) || (k == 5 && !arc.FreeHi); };
    const auto psi = [&](double s, double &d1, double &d2) {
        if (s >= kDeep) {
            d1 = 1 / s;
            d2 = -d1 * d1;
            return std::log(s);
        }
        const double u = (s - kDeep) / kDeep;
        d1 = (1 - u) / kDeep;
        d2 = -1 / (kDeep * kDeep);
        return std::log(kDeep) + u - 0.5 * u * u;
    };
    // Each sample near the edge: its slack (how far inside its side of the
    // edge: the half width less its distance for ink, the distance less the
    // half width for the rest) and the slack's gradient, about the arc v.
    struct TRow
    {
        double S;
        TVector A;
    };
    thread_local std::vector<std::size_t> band;
    thread_local std::vector<TRow> rows, trial;
    // The rows of the samples `which` (all when null) about v, and the sum
    // of their slacks' psi; `wrong` counts the samples on the wrong side.
    std::size_t wrong = 0;
    const auto measure = [&](const TVector &v, const std::vector<std::size_t> *which, std::vector<TRow> *out) {
        if (out)
            out->clear();
        wrong = 0;
        double sum = 0, d1, d2;
        const double ends[4] = {std::cos(v(4)), std::sin(v(4)), std::cos(v(5)), std::sin(v(5))};
        const std::size_t count = which ? which->size() : n;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t i = which ? (*which)[k] : k;
            const TArcDistance d = ArcDistance(p[i].X, p[i].Y, v(0), v(1), v(2), v(4), v(5), arc.FreeLo, arc.FreeHi,
                                               arc.Flat, nearEnd[i] != 0, ends,
                                               std::numeric_limits<double>::quiet_NaN());
            const double sign = p[i].Ink ? 1 : -1, s = sign * (v(3) - d.D);
            wrong += s <= 0;
            if (out && (which || s < kBand)) {
                if (!which)
                    band.push_back(i);
                TRow row{s, {}};
                row.A << -sign * d.Dcx, -sign * d.Dcy, -sign * d.Dr, sign, fixed(4) ? 0 : -sign * d.Dlo,
                    fixed(5) ? 0 : -sign * d.Dhi;
                out->push_back(row);
                sum += psi(s, d1, d2);
            }
        }
        return sum;
    };
    band.clear();

    double value = measure(q, nullptr, &rows);
    std::size_t wrongAt = wrong;
    // Rounds of a few steps of Newton's method on the sum of psi over the
    // rows as they change linearly from the arc; each round's answer tried
    // on the arc itself, halved while that sum falls short of what the
    // linear model promised. (Three steps a round, up to ten rounds: as
    // near the middle as twenty steps a round, at half the cost.)
    for (int round = 0; round < 10; ++round) {
        TVector delta = TVector::Zero();
        const auto linear = [&](const TVector &v) {
            double sum = 0, d1, d2;
            for (const TRow &row : rows)
                sum += psi(row.S + row.A.dot(v), d1, d2);
            return sum;
        };
        double current = value;
        for (int iter = 0; iter < 3; ++iter) {
            // (The symmetric matrix's upper half summed two rows at a time,
            // in the two lanes of a register of the vector unit: each sum
            // the same products in the same order as one at a time. Row
            // r + 1 of column r is below the diagonal: summed, not read.)
            using TPair = double __attribute__((vector_size(16)));
            TPair h[kParameters / 2][kParameters] = {}, g[kParameters / 2] = {};
            for (const TRow &row : rows) {
                double d1, d2;
                psi(row.S + row.A.dot(delta), d1, d2);
                const TPair a[kParameters / 2] = {{row.A(0), row.A(1)}, {row.A(2), row.A(3)}, {row.A(4), row.A(5)}};
                const TPair d1s = {d1, d1}, d2s = {d2, d2};
                const TPair da[kParameters / 2] = {d2s * a[0], d2s * a[1], d2s * a[2]};
#pragma GCC unroll 6
                for (int c = 0; c < kParameters; ++c) {
                    const TPair ac = {row.A(c), row.A(c)};
                    h[0][c] -= da[0] * ac;
                    if (c >= 2)
                        h[1][c] -= da[1] * ac;
                    if (c >= 4)
                        h[2][c] -= da[2] * ac;
                }
#pragma GCC unroll 3
                for (int r = 0; r < kParameters / 2; ++r)
                    g[r] += d1s * a[r];
            }
            TMatrix m;
            TVector gradient;
            for (int r = 0; r < kParameters; ++r) {
                for (int c = r; c < kParameters; ++c)
                    m(r, c) = m(c, r) = h[r / 2][c][r % 2];
                m(r, r) = fixed(r) ? 1 : m(r, r) * (1 + 1e-9) + 1e-12;
                gradient(r) = g[r / 2][r % 2];
            }
            const TVector step = m.ldlt().solve(gradient);
            const double increase = gradient.dot(step);
            if (!step.allFinite() || !(increase > 1e-3))
                break;
            double t = 1, next = current;
            for (; t > 1e-4; t /= 2) {
                next = linear(delta + t * step);
                if (next >= current + 0.25 * t * increase)
                    break;
            }
            if (t <= 1e-4)
                break;
            delta += t * step;
            current = next;
        }
        const double promised = current - value;
        double t = 1, next = value;
        for (; t > 0.2; t /= 2) {
            next = measure(q + t * delta, &band, &trial);
            if (next >= value + 0.25 * t * promised)
                break;
        }
        if (t <= 0.2)
            break;
        q += t * delta;
        value = next;
        wrongAt = wrong;
        std::swap(rows, trial);
        if (!q.allFinite() || q(2) <= 0.5 || q(3) <= 0.1 || q(5) <= q(4))
            return false;
        // Settled when the move was that small (in pixels).
        const TVector moved = t * delta;
        if (std::max({std::abs(moved(0)), std::abs(moved(1)), std::abs(moved(2)), std::abs(moved(3)),
                      q(2) * std::abs(moved(4)), q(2) * std::abs(moved(5))}) < 0.05)
            break;
    }
    // Every sample on its side.
    if (wrongAt > 0)
        return false;
    measure(q, nullptr, nullptr);
    if (wrong > 0)
        return false;

    arc.Circle = {q(0), q(1), q(2), true};
    arc.HalfWidth = q(3);
    arc.Lo = q(4);
    arc.Hi = q(5);
    return true;
}
