#include "recognition/CircleFit.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

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

TCircle FitCircle(const TPoint2 *p, std::size_t n)
{
    if (n < 3)
        return {};
    TCircle c = Taubin(p, n);
    if (!c.Valid)
        return c;
    // Gauss-Newton on the distances to the circle.
    for (int iter = 0; iter < 5; ++iter) {
        Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
        Eigen::Vector3d rhs = Eigen::Vector3d::Zero();
        for (std::size_t i = 0; i < n; ++i) {
            const double dx = p[i].X - c.X, dy = p[i].Y - c.Y, d = std::hypot(dx, dy);
            if (d == 0)
                continue;
            const Eigen::Vector3d j(-dx / d, -dy / d, -1);
            normal += j * j.transpose();
            rhs -= j * (d - c.R);
        }
        const Eigen::Vector3d step = normal.ldlt().solve(rhs);
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
            const double dx = p[i].X - cx, dy = p[i].Y - cy, d = std::hypot(dx, dy);
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
    double worst = 0;
    for (std::size_t i = 0; i < n; ++i)
        worst = std::max(worst, std::abs(std::hypot(p[i].X - c.X, p[i].Y - c.Y) - c.R));
    return worst;
}
