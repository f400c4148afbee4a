#include "cleanup/MergeSegments.h"

#include "image/LinePixels.h"
#include "cleanup/Centerline.h"
#include "cleanup/PixelChains.h"
#include "cleanup/PixelNeighbours.h"

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/linestring.hpp>
#include <boost/geometry/geometries/point_xy.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

namespace bg = boost::geometry;
using TPoint = bg::model::d2::point_xy<double>;
using TLine = bg::model::linestring<TPoint>;

// Bresenham's line between two grid points, 8-connected.
void Draw(TBlackMask &mask, int x0, int y0, int x1, int y1)
{
    ForEachLinePixel(x0, y0, x1, y1, [&](int x, int y) { mask.SetBlack(x, y); });
}

int Round(float v)
{
    return static_cast<int>(std::lround(v));
}

double Length(const TPoint &a, const TPoint &b)
{
    return std::hypot(b.x() - a.x(), b.y() - a.y());
}

// Where the lines through a-b and c-d cross; false when nearly parallel.
bool Crossing(const TPoint &a, const TPoint &b, const TPoint &c, const TPoint &d, TPoint &p)
{
    const double rx = b.x() - a.x(), ry = b.y() - a.y(), sx = d.x() - c.x(), sy = d.y() - c.y();
    const double cross = rx * sy - ry * sx;
    if (std::abs(cross) < 0.5 * std::hypot(rx, ry) * std::hypot(sx, sy))  // less than 30 degrees apart
        return false;
    const double t = ((c.x() - a.x()) * sy - (c.y() - a.y()) * sx) / cross;
    p = TPoint(std::round(a.x() + t * rx), std::round(a.y() + t * ry));
    return true;
}

// A closed line: its two halves between its first pixel and the pixel
// farthest from it, each simplified; the first pixel itself stays only when
// the line bends there.
void SimplifyClosed(const TLine &chain, TLine &simple, double tolerance)
{
    std::size_t far = 0;
    double farthest = -1;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const double d = Length(chain[i], chain.front());
        if (d > farthest) {
            farthest = d;
            far = i;
        }
    }
    TLine first(chain.begin(), chain.begin() + static_cast<std::ptrdiff_t>(far) + 1), second(chain.begin() + static_cast<std::ptrdiff_t>(far), chain.end());
    TLine a, b;
    bg::simplify(first, a, tolerance);
    bg::simplify(second, b, tolerance);
    simple.assign(a.begin(), a.end());
    simple.insert(simple.end(), b.begin() + 1, b.end());
    if (simple.size() > 4) {
        const TLine around{simple[simple.size() - 2], simple[1]};
        if (bg::distance(simple.front(), around) <= tolerance) {
            simple.erase(simple.begin());
            simple.back() = simple.front();
        }
    }
}

// Thinning cuts the corner where two strokes meet at an angle: a short
// segment between two long ones. The two long ones are drawn on to the point
// where they cross when that lies as near the short one as its own length.
void SharpenCorners(TLine &line, double tolerance)
{
    const bool closed = line.size() > 3 && bg::equals(line.front(), line.back());
    std::vector<TPoint> p(line.begin(), line.end());
    if (closed)
        p.pop_back();
    if (p.size() < 4)
        return;
    const double shortest = std::max(8.0, 4 * tolerance);
    // The short segment runs from p[b] to p[b + 1].
    for (std::size_t b = closed ? 0 : 1; p.size() >= 4 && (closed ? b < p.size() : b + 2 < p.size());) {
        const std::size_t n = p.size(), a = (b + n - 1) % n, c = (b + 1) % n, d = (b + 2) % n;
        const double middle = Length(p[b], p[c]);
        TPoint corner;
        if (middle <= shortest && middle <= 0.5 * Length(p[a], p[b]) && middle <= 0.5 * Length(p[c], p[d]) &&
            Crossing(p[a], p[b], p[c], p[d], corner) && Length(corner, p[b]) <= middle &&
            Length(corner, p[c]) <= middle) {
            p[b] = corner;
            p.erase(p.begin() + static_cast<std::ptrdiff_t>(c));
            if (c < b)
                --b;  // the first point went, the corner moved down one
            continue;
        }
        ++b;
    }
    line.assign(p.begin(), p.end());
    if (closed)
        line.push_back(line.front());
}

// A line end often turns aside over its last pixels (a ragged stroke end,
// a corner of a square stroke end): a short last segment that bends away from
// a long one before it. The long one then runs on to the end instead, as far
// as the short one reached along it.
void StraightenEnd(TLine &line, bool atEnd, double tolerance)
{
    if (line.size() < 3)
        return;
    const std::size_t n = line.size();
    const TPoint &end = atEnd ? line[n - 1] : line[0];
    const TPoint &knee = atEnd ? line[n - 2] : line[1];
    const TPoint &from = atEnd ? line[n - 3] : line[2];
    const double last = Length(knee, end), before = Length(from, knee);
    if (last > std::max(4.0, 3 * tolerance) || last > 0.5 * before)
        return;
    // The end's projection on the long segment's line.
    const double ux = (knee.x() - from.x()) / before, uy = (knee.y() - from.y()) / before;
    const double t = (end.x() - from.x()) * ux + (end.y() - from.y()) * uy;
    if (t <= before)
        return;
    const TPoint onLine(std::round(from.x() + t * ux), std::round(from.y() + t * uy));
    if (atEnd) {
        line.pop_back();
        line.back() = onLine;
    } else {
        line.erase(line.begin());
        line.front() = onLine;
    }
}

} // namespace

std::vector<TSegment> MergeSegments(std::span<const TSegment> segments, double tolerance)
{
    if (tolerance <= 0 || segments.empty())
        return std::vector<TSegment>(segments.begin(), segments.end());
    int minX = Round(segments.front().X1), maxX = minX, minY = Round(segments.front().Y1), maxY = minY;
    for (const TSegment &s : segments) {
        minX = std::min({minX, Round(s.X1), Round(s.X2)});
        maxX = std::max({maxX, Round(s.X1), Round(s.X2)});
        minY = std::min({minY, Round(s.Y1), Round(s.Y2)});
        maxY = std::max({maxY, Round(s.Y1), Round(s.Y2)});
    }
    // Grid column x - minX, grid row maxY - y: rows grow downward as in a picture.
    TBlackMask grid(maxX - minX + 1, maxY - minY + 1);
    for (const TSegment &s : segments)
        Draw(grid, Round(s.X1) - minX, maxY - Round(s.Y1), Round(s.X2) - minX, maxY - Round(s.Y2));
    CenterlineSteps::Thin(grid);
    CenterlineSteps::RemoveStaircases(grid);

    std::vector<TSegment> merged;
    TLine chain, simple;
    ForEachPixelChain(grid, [&](const std::vector<TPixel> &pixels) {
        chain.clear();
        simple.clear();
        // Open lines run from their left end (the upper one when upright).
        const bool reverse = pixels.front().X > pixels.back().X ||
                             (pixels.front().X == pixels.back().X && pixels.front().Y > pixels.back().Y);
        for (const TPixel &p : pixels)
            chain.push_back(TPoint(p.X, p.Y));
        if (reverse)
            std::reverse(chain.begin(), chain.end());
        if (pixels.size() > 3 && pixels.front() == pixels.back())
            SimplifyClosed(chain, simple, tolerance);
        else
            bg::simplify(chain, simple, tolerance);
        SharpenCorners(simple, tolerance);
        if (!bg::equals(chain.front(), chain.back())) {
            const auto freeEnd = [&](const TPoint &p) {
                const int x = static_cast<int>(p.x()), y = static_cast<int>(p.y());
                return PixelNeighbours::Count(PixelNeighbours::Code(grid, x, y)) == 1;
            };
            if (freeEnd(chain.back()))
                StraightenEnd(simple, true, tolerance);
            if (freeEnd(chain.front()))
                StraightenEnd(simple, false, tolerance);
        }
        // Corners drawn on and ends run on stay within the segments' own extent.
        for (TPoint &p : simple)
            p = TPoint(std::clamp(p.x(), 0.0, double(grid.Width() - 1)), std::clamp(p.y(), 0.0, double(grid.Height() - 1)));
        for (std::size_t i = 1; i < simple.size(); ++i) {
            const TPoint &a = simple[i - 1], &b = simple[i];
            merged.push_back(TSegment{static_cast<float>(a.x() + minX), static_cast<float>(maxY - a.y()),
                                      static_cast<float>(b.x() + minX), static_cast<float>(maxY - b.y())});
        }
    });
    return merged;
}
