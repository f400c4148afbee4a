#include "cleanup/MergeSegments.h"

#include "base/LargeBlock.h"

#include "base/TaskPool.h"
#include "base/Threads.h"

#include "image/LinePixels.h"
#include "cleanup/Centerline.h"
#include "cleanup/PixelChains.h"
#include "cleanup/PixelNeighbours.h"

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/linestring.hpp>
#include <boost/geometry/geometries/point_xy.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace {

namespace bg = boost::geometry;
using TPoint = bg::model::d2::point_xy<double>;
using TLine = bg::model::linestring<TPoint>;

// Bresenham's line between two grid points, 8-connected.
void Draw(TBlackMask &mask, int x0, int y0, int x1, int y1)
{
    ForEachLinePixel(x0, y0, x1, y1, [&](int x, int y) { mask.SetBlack(x, y); });
}

// std::lround, half away from zero, without the library call: a float taken
// to double gains half exactly wherever the sum could round to a whole
// number, and the conversion cuts toward zero.
int Round(float v)
{
    const double d = v;
    return static_cast<int>(d < 0 ? d - 0.5 : d + 0.5);
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

// ---------------------------------------------------------------------------
// Centre lines on their strokes' middles
// ---------------------------------------------------------------------------

// A merged segment's line in the picture (column, row): the points p with
// Normal . p = Offset; Fitted when the stroke along it gave its position.
struct TStrokeLine
{
    double NX = 0, NY = 0, Offset = 0, Width = 0;
    bool Fitted = false;
};

// The stroke cut across along the pixel column (level) or row (upright)
// through the pixel of the point (x, y): the column (row) and the middle and
// width of the ink run there, in pixels. False when the pixel is no ink or
// the run is longer than the walk.
bool CrossSection(const TBlackMask &strokes, double x, double y, bool level, double &along, double &middle,
                  double &width)
{
    constexpr int kReach = 512;
    const int col = static_cast<int>(std::floor(x + 0.5)), row = static_cast<int>(std::floor(y + 0.5));
    if (!strokes.Black(col, row))
        return false;
    // The white guard lines and words around the mask end every run.
    int low = 0, high = 0;
    if (level) {
        const std::ptrdiff_t stride = strokes.Line(row + 1) - strokes.Line(row);
        const std::uint64_t *at = strokes.Line(row) + (col >> 6);
        const int bit = col & 63;
        while (low > -kReach && ((at[(low - 1) * stride] >> bit) & 1))
            --low;
        while (high < kReach && ((at[(high + 1) * stride] >> bit) & 1))
            ++high;
    } else {
        // A word at a time along the row.
        const std::uint64_t *line = strokes.Line(row);
        for (int p = col + 1; high < kReach;) {
            const int ones = std::countr_one(line[p >> 6] >> (p & 63));
            high += ones;
            if (ones < 64 - (p & 63))
                break;
            p += ones;
        }
        for (int p = col - 1; -low < kReach;) {
            const int ones = std::countl_one(line[p >> 6] << (63 - (p & 63)));
            low -= ones;
            if (ones < (p & 63) + 1)
                break;
            p -= ones;
        }
        high = std::min(high, kReach);
        low = std::max(low, -kReach);
    }
    if (low == -kReach || high == kReach)
        return false;
    along = level ? col : row;
    middle = (level ? row : col) + 0.5 * (low + high);
    width = high - low + 1;
    return true;
}

// Fits the line of the segment a-b (picture coordinates) through the middles
// of its stroke. The stroke is cut across along the pixel rows or columns
// (columns for a segment nearer level than upright, rows otherwise: a cut of a
// straight stroke in any direction has its middle on the stroke's middle,
// and along the pixel grid it is measured exactly), and the middle's
// position across is fitted as a straight function of the position along by
// least squares, over the cuts away from the segment's ends and from other
// strokes (those much wider than the typical cut). A line whose middles rise
// less than half a pixel over its length is level (upright): the pixels
// cannot show a rise that small, nor could the whole-pixel coordinates of the
// segments traced.
TStrokeLine FitStrokeLine(const TBlackMask &strokes, const TPoint &a, const TPoint &b)
{
    TStrokeLine line;
    const double length = Length(a, b);
    if (length < 3)
        return line;
    const double ux = (b.x() - a.x()) / length, uy = (b.y() - a.y()) / length;
    const bool level = std::abs(ux) >= std::abs(uy);
    // Along and across: x and y for a level segment, y and x for an upright one.
    const auto along = [level](double x, double y) { return level ? x : y; };
    const auto across = [level](double x, double y) { return level ? y : x; };
    struct TSection
    {
        double T, Along, Middle, Width;
    };
    // At most 100 cuts: room on the stack.
    constexpr int kCuts = 100;
    std::array<TSection, kCuts> sections;
    std::size_t cuts = 0;
    const int count = std::min(kCuts, static_cast<int>(length));
    for (int k = 0; k < count; ++k) {
        const double t = (k + 0.5) * length / count;
        double at = 0, middle = 0, width = 0;
        if (CrossSection(strokes, a.x() + t * ux, a.y() + t * uy, level, at, middle, width))
            sections[cuts++] = {t, at, middle, width};
    }
    if (cuts < 3)
        return line;
    std::array<double, kCuts> widths;
    for (std::size_t k = 0; k < cuts; ++k)
        widths[k] = sections[k].Width;
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(cuts / 2),
                     widths.begin() + static_cast<std::ptrdiff_t>(cuts));
    const double typical = widths[cuts / 2];
    const double margin = std::min(typical, length / 4);
    // Least squares of middle = c0 + c1 (along - mean), then once more
    // without the cuts more than a pixel off the first fit.
    double c0 = 0, c1 = 0, mean = 0;
    bool fitted = false;
    for (int round = 0; round < 2; ++round) {
        double n = 0, sa = 0, sm = 0;
        std::array<const TSection *, kCuts> used;
        std::size_t usedCount = 0;
        for (std::size_t k = 0; k < cuts; ++k) {
            const TSection &s = sections[k];
            if (s.Width > 1.25 * typical + 1 || s.T < margin || s.T > length - margin)
                continue;
            if (fitted && std::abs(s.Middle - (c0 + c1 * (s.Along - mean))) > 1)
                continue;
            used[usedCount++] = &s;
            n += 1;
            sa += s.Along;
            sm += s.Middle;
        }
        if (usedCount < 3)
            return line;
        mean = sa / n;
        c0 = sm / n;
        double saa = 0, sam = 0;
        for (std::size_t k = 0; k < usedCount; ++k) {
            const TSection *s = used[k];
            saa += (s->Along - mean) * (s->Along - mean);
            sam += (s->Along - mean) * (s->Middle - c0);
        }
        c1 = saa > 0 ? sam / saa : 0;
        fitted = true;
    }
    const double alongA = along(a.x(), a.y()), alongB = along(b.x(), b.y());
    double m0 = c0 + c1 * (alongA - mean), m1 = c0 + c1 * (alongB - mean);
    // A level stroke covers whole pixel rows: its middle is on a pixel's
    // middle or edge.
    if (std::abs(m1 - m0) < 0.5)
        m0 = m1 = std::round(c0 * 2) / 2;
    // The fitted line stays within the stroke around the segment and turns
    // by less than two pixels over it.
    const double acrossA = across(a.x(), a.y()), acrossB = across(b.x(), b.y());
    if (std::abs((m1 - m0) - (acrossB - acrossA)) > 2 ||
        std::abs(0.5 * (m0 + m1) - 0.5 * (acrossA + acrossB)) > 0.5 * typical + 1)
        return line;
    const double x0 = level ? alongA : m0, y0 = level ? m0 : alongA;
    const double x1 = level ? alongB : m1, y1 = level ? m1 : alongB;
    const double d = std::hypot(x1 - x0, y1 - y0);
    line.NX = -(y1 - y0) / d;
    line.NY = (x1 - x0) / d;
    line.Offset = line.NX * x0 + line.NY * y0;
    line.Width = typical * std::max(std::abs(ux), std::abs(uy));
    line.Fitted = true;
    return line;
}

// Brings the cache lines of `bytes` bytes from `from` near.
void Prefetch(const void *from, std::size_t bytes)
{
    const char *at = static_cast<const char *>(from);
    for (std::size_t offset = 0; offset < bytes; offset += 64)
        __builtin_prefetch(at + offset);
}

// The sums of the fitted lines through each point, by the point's key: an
// open-addressing table of indices into the sums in the order their points
// came (room for `points` keys at most two thirds full, 4 bytes a slot, and for as
// many sums from the start).
template <class TSum>
class TPointSums
{
public:
    explicit TPointSums(std::size_t points)
    {
        std::size_t size = 16;
        while (size < points + points / 2)
            size *= 2;
        Slots.assign(size, 0);
        Shift = 64 - std::countr_zero(size);
        Sums.reserve(points);
    }
    TSum &operator[](std::uint64_t key)
    {
        std::uint32_t &slot = Slots[Place(key)];
        if (!slot) {
            Sums.emplace_back(key, TSum{});
            slot = static_cast<std::uint32_t>(Sums.size());
        }
        return Sums[slot - 1].second;
    }
    // Brings the key's first slot near.
    void Prefetch(std::uint64_t key) const { __builtin_prefetch(&Slots[Home(key)]); }
    // Null when the key has no sums.
    const TSum *Find(std::uint64_t key) const
    {
        const std::uint32_t slot = Slots[Place(key)];
        return slot ? &Sums[slot - 1].second : nullptr;
    }
    std::vector<std::pair<std::uint64_t, TSum>> &All() { return Sums; }

private:
    // Where the search for the key starts.
    std::size_t Home(std::uint64_t key) const { return std::size_t((key * 0x9E3779B97F4A7C15u) >> Shift); }
    // The key's slot, or the empty one where it would go.
    std::size_t Place(std::uint64_t key) const
    {
        const std::size_t mask = Slots.size() - 1;
        std::size_t i = Home(key);
        while (Slots[i] && Sums[Slots[i] - 1].first != key)
            i = (i + 1) & mask;
        return i;
    }

    std::vector<std::uint32_t> Slots;  // 0 empty, else the sums' index + 1
    std::vector<std::pair<std::uint64_t, TSum>> Sums;
    int Shift = 0;
};

// Every merged line moves onto the middle of its stroke: each segment's line
// is fitted to the stroke, and each point goes where the fitted lines through
// it meet (least squares; along a single line, or a straight run, it keeps
// its place along the line; where no line was fitted, it stays). Points that
// chains share stay shared. The points end on a grid of eighths of a pixel,
// so that a line whose stroke runs level comes out exactly level. `offset`
// turns grid coordinates into picture coordinates (column, row).
void CentreOnStrokes(std::vector<TLine> &lines, const TBlackMask &strokes, double offsetX, double offsetY,
                     int threads)
{
    const auto key = [](const TPoint &p) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(std::lround(p.x()))) << 32) |
               static_cast<std::uint32_t>(std::lround(p.y()));
    };
    struct TSum
    {
        double XX = 0, XY = 0, YY = 0, X = 0, Y = 0;
    };
    std::size_t points = 0;
    for (const TLine &line : lines)
        points += line.size();
    TPointSums<TSum> sums(points);
    const auto add = [&](const TPoint &p, const TStrokeLine &fit) {
        TSum &s = sums[key(p)];
        s.XX += fit.NX * fit.NX;
        s.XY += fit.NX * fit.NY;
        s.YY += fit.NY * fit.NY;
        s.X += fit.Offset * fit.NX;
        s.Y += fit.Offset * fit.NY;
    };
    // Which end points of each line go: bit 0 point 1, bit 1 the last point but one.
    std::vector<std::uint8_t> dropped(lines.size(), 0);
    const auto isDropped = [&](std::size_t l, std::size_t i) {
        const std::size_t n = lines[l].size();
        return (i == 1 && (dropped[l] & 1)) || (n >= 2 && i == n - 2 && (dropped[l] & 2));
    };
    const auto fit = [&](const TLine &line, std::size_t i) {
        return FitStrokeLine(strokes, TPoint(line[i].x() + offsetX, line[i].y() + offsetY),
                             TPoint(line[i + 1].x() + offsetX, line[i + 1].y() + offsetY));
    };
    // Two fitted lines that continue each other at a point of one chain: less
    // than a degree apart, and a quarter pixel apart at the point.
    const auto continues = [&](const TStrokeLine &u, const TStrokeLine &v, const TPoint &p) {
        if (!u.Fitted || !v.Fitted || std::abs(u.NX * v.NY - u.NY * v.NX) > 0.0175 || u.NX * v.NX + u.NY * v.NY < 0)
            return false;
        const double x = p.x() + offsetX, y = p.y() + offsetY;
        const double du = u.NX * x + u.NY * y - u.Offset, qx = x - du * u.NX, qy = y - du * u.NY;
        return std::abs(v.NX * qx + v.NY * qy - v.Offset) <= 0.25;
    };
    // Each line fitted on its own (in parts over the threads), then the
    // fits summed at the points in the order of the lines.
    const auto fitLine = [&](std::size_t l, std::vector<TStrokeLine> &fits) {
        TLine &line = lines[l];
        for (std::size_t i = 0; i + 1 < line.size(); ++i)
            fits.push_back(fit(line, i));
        std::vector<bool> stale(fits.size(), false);
        // Points where the centred line runs straight on (the skeleton
        // wavered there) go, and the joined segments are fitted again.
        for (int round = 0; round < 8; ++round) {
            bool any = false;
            for (std::size_t i = line.size() - 2; i >= 1 && i < line.size(); --i) {
                if (i + 1 < line.size() && continues(fits[i - 1], fits[i], line[i])) {
                    line.erase(line.begin() + static_cast<std::ptrdiff_t>(i));
                    fits.erase(fits.begin() + static_cast<std::ptrdiff_t>(i));
                    stale.erase(stale.begin() + static_cast<std::ptrdiff_t>(i));
                    fits[i - 1].Fitted = false;  // not compared again this round
                    stale[i - 1] = true;
                    any = true;
                }
            }
            if (!any)
                break;
            for (std::size_t i = 0; i < fits.size(); ++i)
                if (stale[i]) {
                    fits[i] = fit(line, i);
                    stale[i] = false;
                }
        }
    };
    // The lines fitted a task of them at a time on the threads, while this
    // one adds the sums of the tasks done in their order; tasks start at
    // most kAhead beyond the one being added, so that few fits are held.
    constexpr std::size_t kLinesPerTask = 256, kAhead = 64;
    const std::size_t tasks = (lines.size() + kLinesPerTask - 1) / kLinesPerTask;
    // The fits of the lines of the tasks that may run, line l's at l modulo
    // their number.
    std::vector<std::vector<TStrokeLine>> lineFits(std::min(lines.size(), (kAhead + 1) * kLinesPerTask));
    TTaskPool pool(threads, tasks, kAhead, [&](std::size_t task, int) {
        const std::size_t first = task * kLinesPerTask;
        for (std::size_t l = first; l < std::min(lines.size(), first + kLinesPerTask); ++l) {
            std::vector<TStrokeLine> &fits = lineFits[l % lineFits.size()];
            fits.clear();
            fitLine(l, fits);
        }
    });
    for (std::size_t task = 0; task < tasks; ++task) {
        pool.Wait(task);
        pool.Allow(task + 1 + kAhead);
        const std::size_t first = task * kLinesPerTask;
        for (std::size_t l = first; l < std::min(lines.size(), first + kLinesPerTask); ++l) {
            TLine &line = lines[l];
            // Taken (their memory goes once summed: a slot kept the room of
            // the longest line it ever held).
            const std::vector<TStrokeLine> fits = std::move(lineFits[l % lineFits.size()]);
            // Asked for early, within the task: the points and fits of the
            // line after next (made on another thread), and the next line's
            // slots of the table (spread over it).
            const std::size_t last = std::min(lines.size(), first + kLinesPerTask);
            if (l + 2 < last) {
                Prefetch(lines[l + 2].data(), lines[l + 2].size() * sizeof(TPoint));
                const std::vector<TStrokeLine> &later = lineFits[(l + 2) % lineFits.size()];
                Prefetch(later.data(), later.size() * sizeof(TStrokeLine));
            }
            if (l + 1 < last)
                for (const TPoint &p : lines[l + 1])
                    sums.Prefetch(key(p));
            for (std::size_t i = 0; i < fits.size(); ++i)
                if (fits[i].Fitted) {
                    add(line[i], fits[i]);
                    add(line[i + 1], fits[i]);
                }
            // Where strokes meet, thinning bends a line's last pixels toward the
            // junction: a short end segment, too short to fit, inside the stroke
            // of the fitted segment before it. The line then runs straight on to
            // the end, which the fitted line holds as well.
            if (line.size() < 3 || bg::equals(line.front(), line.back()))
                continue;
            for (const bool atEnd : {false, true}) {
                const std::size_t n = line.size(), end = atEnd ? n - 1 : 0, knee = atEnd ? n - 2 : 1;
                const TStrokeLine &last = fits[atEnd ? n - 2 : 0], &before = fits[atEnd ? n - 3 : 1];
                if (last.Fitted || !before.Fitted || isDropped(l, knee))
                    continue;
                const double away = std::abs(before.NX * (line[end].x() + offsetX) +
                                             before.NY * (line[end].y() + offsetY) - before.Offset);
                if (Length(line[end], line[knee]) > before.Width + 1 || away > 0.5 * before.Width + 1)
                    continue;
                add(line[end], before);
                dropped[l] |= knee == 1 ? 1 : 2;
            }
        }
    }
    const auto grid = [](double v) { return std::round(v * 8) / 8; };
    // Each point's sums give way to where it moves (X, Y), or XX < 0 where
    // it stays.
    // Each point on its own, in parts over the threads.
    std::vector<std::pair<std::uint64_t, TSum>> &all = sums.All();
    constexpr std::size_t kPart = 1 << 14;
    RunTasks(threads, (all.size() + kPart - 1) / kPart, [&](std::size_t part, int) {
        for (std::size_t n = part * kPart; n < std::min(all.size(), (part + 1) * kPart); ++n) {
            auto &[k, s] = all[n];
            // The point nearest to its lines, held to its place by a small weight:
            // along a single line, or lines that nearly continue each other, it
            // stays where it was; where lines cross, it moves by less than a
            // hundredth of a pixel for every pixel it is off.
            constexpr double kHold = 0.004;
            const double px = static_cast<double>(static_cast<std::int32_t>(k >> 32)) + offsetX;
            const double py = static_cast<double>(static_cast<std::int32_t>(k & 0xFFFFFFFFu)) + offsetY;
            const double a = s.XX + kHold, b = s.XY, d = s.YY + kHold;
            const double rx = s.X + kHold * px, ry = s.Y + kHold * py;
            const double det = a * d - b * b;
            TPoint p(grid((d * rx - b * ry) / det - offsetX), grid((a * ry - b * rx) / det - offsetY));
            // A point never leaves its stroke.
            if (std::abs(p.x() + offsetX - px) > 8 || std::abs(p.y() + offsetY - py) > 8) {
                s.XX = -1;
                continue;
            }
            s.X = p.x();
            s.Y = p.y();
        }
    });
    RunTasks(threads, tasks, [&](std::size_t task, int) {
        TLine kept;
        for (std::size_t l = task * kLinesPerTask; l < std::min(lines.size(), (task + 1) * kLinesPerTask); ++l) {
            TLine &line = lines[l];
            kept.clear();
            for (std::size_t i = 0; i < line.size(); ++i) {
                if (isDropped(l, i))
                    continue;
                const TSum *m = sums.Find(key(line[i]));
                kept.push_back(m && m->XX >= 0 ? TPoint(m->X, m->Y) : line[i]);
            }
            line.assign(kept.begin(), kept.end());
        }
    });
}

// The segments laid on a grid (column x - minX, row maxY - y: rows grow
// downward as in a picture), thinned to lines one pixel wide. With `discard`
// the segments' pages are given back as they are drawn (the caller reads them
// no more), so that they go while the grid's pages come.
TBlackMask SegmentGrid(std::span<const TSegment> segments, int &minX, int &maxY, int threads, bool discard = false)
{
    minX = Round(segments.front().X1);
    maxY = Round(segments.front().Y1);
    int maxX = minX, minY = maxY;
    for (const TSegment &s : segments) {
        minX = std::min({minX, Round(s.X1), Round(s.X2)});
        maxX = std::max({maxX, Round(s.X1), Round(s.X2)});
        minY = std::min({minY, Round(s.Y1), Round(s.Y2)});
        maxY = std::max({maxY, Round(s.Y1), Round(s.Y2)});
    }
    TBlackMask grid(maxX - minX + 1, maxY - minY + 1);
    // In parts on the threads: the pixels are set with an atomic or, in any
    // order, since a pixel drawn twice is drawn all the same. The parts go
    // in batches of two megabytes of segments, each batch given back once
    // drawn when asked.
    constexpr std::size_t kPart = 1 << 15, kBatch = (std::size_t(2) << 20) / sizeof(TSegment);
    const bool shared = threads > 1 && segments.size() > kPart;
    const auto draw = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const TSegment &s = segments[i];
            const int x0 = Round(s.X1) - minX, y0 = maxY - Round(s.Y1);
            const int x1 = Round(s.X2) - minX, y1 = maxY - Round(s.Y2);
            if (!shared) {
                Draw(grid, x0, y0, x1, y1);
                continue;
            }
            ForEachLinePixel(x0, y0, x1, y1, [&](int x, int y) {
                std::atomic_ref<std::uint64_t>(grid.Line(y)[x >> 6])
                    .fetch_or(std::uint64_t(1) << (x & 63), std::memory_order_relaxed);
            });
        }
    };
    std::unique_ptr<TTaskRounds> rounds = shared ? std::make_unique<TTaskRounds>(ThreadsPerPicture(threads)) : nullptr;
    const std::size_t batch = discard ? kBatch : segments.size();
    for (std::size_t from = 0; from < segments.size(); from += batch) {
        const std::size_t to = std::min(segments.size(), from + batch);
        if (shared) {
            rounds->Run((to - from + kPart - 1) / kPart, [&](std::size_t part, int) {
                draw(from + part * kPart, std::min(to, from + (part + 1) * kPart));
            });
        } else {
            draw(from, to);
        }
        if (discard)
            LargeBlock::Discard(const_cast<TSegment *>(segments.data() + from), (to - from) * sizeof(TSegment));
    }
    rounds.reset();
    CenterlineSteps::Thin(grid, threads);
    CenterlineSteps::RemoveStaircases(grid, threads);
    return grid;
}

// One chain of grid pixels as the fewest straight segments within the
// tolerance (`simple`, grid coordinates; `chain` is working room).
void SimplifyChain(const TBlackMask &grid, std::span<const TPixel> pixels, double tolerance, TLine &chain,
                   TLine &simple)
{
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
}

void AppendSegments(const TLine &simple, int minX, int maxY, std::vector<TSegment> &merged)
{
    for (std::size_t i = 1; i < simple.size(); ++i) {
        const TPoint &a = simple[i - 1], &b = simple[i];
        merged.push_back(TSegment{static_cast<float>(a.x() + minX), static_cast<float>(maxY - a.y()),
                                  static_cast<float>(b.x() + minX), static_cast<float>(maxY - b.y())});
    }
}

// The chains of the grid simplified, in parts, in the order they are traced
// part after part (traced and simplified on the threads).
std::vector<std::vector<TLine>> SimplifiedChains(const TBlackMask &grid, double tolerance, int threads)
{
    std::vector<std::vector<TLine>> parts(PixelChainParts(grid, threads));
    struct TScratch
    {
        TLine Chain, Simple;
    };
    std::vector<TScratch> scratch(std::size_t(ThreadsPerPicture(threads)));
    ForEachPixelChainInParts(grid, threads, [&](std::size_t part, int worker, const std::vector<TPixel> &pixels) {
        TScratch &room = scratch[std::size_t(worker)];
        SimplifyChain(grid, pixels, tolerance, room.Chain, room.Simple);
        parts[part].push_back(room.Simple);
    });
    return parts;
}

// The lines of the parts one after the other.
std::vector<TLine> Joined(std::vector<std::vector<TLine>> parts)
{
    std::size_t count = 0;
    for (const std::vector<TLine> &part : parts)
        count += part.size();
    std::vector<TLine> lines;
    lines.reserve(count);
    for (std::vector<TLine> &part : parts) {
        for (TLine &line : part)
            lines.push_back(std::move(line));
        std::vector<TLine>().swap(part);
    }
    return lines;
}

} // namespace

std::vector<TSegment> MergeSegments(std::span<const TSegment> segments, double tolerance)
{
    if (tolerance <= 0 || segments.empty())
        return std::vector<TSegment>(segments.begin(), segments.end());
    int minX = 0, maxY = 0;
    const TBlackMask grid = SegmentGrid(segments, minX, maxY, 1);
    std::vector<TSegment> merged;
    TLine chain, simple;
    ForEachPixelChain(grid, [&](const std::vector<TPixel> &pixels) {
        SimplifyChain(grid, pixels, tolerance, chain, simple);
        AppendSegments(simple, minX, maxY, merged);
    });
    return merged;
}

std::vector<TSegment> MergeCentreLines(std::span<const TSegment> segments, double tolerance,
                                       const TBlackMask &strokes, int threads)
{
    return MergeCentreLines(
        segments, tolerance, [&strokes]() -> const TBlackMask & { return strokes; }, threads);
}

std::vector<TSegment> MergeCentreLines(std::span<const TSegment> segments, double tolerance,
                                       const std::function<const TBlackMask &()> &strokesOf, int threads,
                                       const std::function<void()> &segmentsRead)
{
    if (tolerance <= 0 || segments.empty())
        return std::vector<TSegment>(segments.begin(), segments.end());
    int minX = 0, maxY = 0;
    std::vector<std::vector<TLine>> parts;
    {
        const TBlackMask grid = SegmentGrid(segments, minX, maxY, threads, bool(segmentsRead));
        if (segmentsRead)
            segmentsRead();
        parts = SimplifiedChains(grid, tolerance, threads);
    }
    // Joined once the grid is gone.
    std::vector<TLine> lines = Joined(std::move(parts));
    // The chains' records are gone: their memory goes back before the
    // strokes are unpacked.
    LargeBlock::ReturnFreeHeap();
    const TBlackMask &strokes = strokesOf();
    // Grid (x, y) is picture column x + minX, row height - (maxY - y).
    CentreOnStrokes(lines, strokes, minX, strokes.Height() - maxY, threads);
    // Points moved onto their strokes stay within the picture (rows 0 to
    // height - 1, Y = height - row).
    const double left = -minX, top = maxY - strokes.Height(), right = strokes.Width() - 1 - minX, bottom = maxY - 1;
    std::size_t count = 0;
    for (const TLine &line : lines)
        count += line.empty() ? 0 : line.size() - 1;
    std::vector<TSegment> merged;
    merged.reserve(count);
    for (TLine &line : lines) {
        for (TPoint &p : line)
            p = TPoint(std::clamp(p.x(), left, right), std::clamp(p.y(), top, bottom));
        AppendSegments(line, minX, maxY, merged);
    }
    return merged;
}
