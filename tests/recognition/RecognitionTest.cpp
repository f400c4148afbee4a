#include "cleanup/Centerline.h"
#include "recognition/CircleFit.h"
#include "recognition/Recognition.h"
#include "recognition/Skew.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include "recognition/PaintedSheet.h"

#include <functional>
#include <random>
#include <string>
#include <utility>
#include <numbers>

namespace {

constexpr double kDegree = std::numbers::pi / 180;

// Rows grow downward in the mask; the drawing's Y is height - row.
struct TSheet : TPaintedSheet
{
    // A stroke of `width` with round ends from (x1, y1) to (x2, y2), drawing units.
    void Stroke(double x1, double y1, double x2, double y2, double width)
    {
        const double dx = x2 - x1, dy = y2 - y1, l2 = dx * dx + dy * dy;
        Paint([=](double x, double y) {
            const double t = std::clamp(((x - x1) * dx + (y - y1) * dy) / l2, 0.0, 1.0);
            return std::hypot(x - x1 - t * dx, y - y1 - t * dy) <= width / 2;
        });
    }
    // A ring, or the part of it counter-clockwise from `from` to `to` degrees.
    void Ring(double cx, double cy, double r, double width, double from = 0, double to = 360)
    {
        Paint([=](double x, double y) {
            double a = std::atan2(y - cy, x - cx) / kDegree;
            if (a < from)
                a += 360;
            return a >= from && a <= to && std::abs(std::hypot(x - cx, y - cy) - r) <= width / 2;
        });
    }
    TDrawing Recognise(double tolerance, bool arcs, double snap, std::optional<double> *skew = nullptr) const
    {
        TGeometryOptions options;
        options.Tolerance = tolerance;
        options.Arcs = arcs;
        options.Snap = snap;
        options.Deskew = skew != nullptr;
        return RecogniseDrawing(Centerline(Ink), Ink, options, skew);
    }
};

// The arc whose centre is nearest (cx, cy); null when there is none.
const TDrawingEntity *NearestArc(const TDrawing &d, double cx, double cy)
{
    const TDrawingEntity *nearest = nullptr;
    for (const TDrawingEntity &e : d.Entities)
        if (e.Kind == TEntityKind::Arc &&
            (!nearest || std::hypot(e.X1 - cx, e.Y1 - cy) < std::hypot(nearest->X1 - cx, nearest->Y1 - cy)))
            nearest = &e;
    return nearest;
}

// The entities as text, for failure messages.
std::string Describe(const TDrawing &d)
{
    std::string text;
    for (const TDrawingEntity &e : d.Entities) {
        char line[160];
        if (e.Kind == TEntityKind::Line)
            std::snprintf(line, sizeof line, "\n  LINE %.3f %.3f %.3f %.3f", e.X1, e.Y1, e.X2, e.Y2);
        else
            std::snprintf(line, sizeof line, "\n  %s %.3f %.3f r %.3f %.2f..%.2f",
                          e.Kind == TEntityKind::Arc ? "ARC" : "CIRCLE", e.X1, e.Y1, e.R, e.StartAngle, e.EndAngle);
        text += line;
    }
    return text;
}

// The four quarters of the slot about the corners of (120 .. 280) x (110 .. 150):
// each an arc of radius 100 within 1.5, its centre within `centre` px.
void ExpectSlotQuarters(const TDrawing &d, double centre)
{
    for (const double cx : {120.0, 280.0})
        for (const double cy : {110.0, 150.0}) {
            const TDrawingEntity *nearest = NearestArc(d, cx, cy);
            ASSERT_TRUE(nearest) << Describe(d);
            EXPECT_LE(std::hypot(nearest->X1 - cx, nearest->Y1 - cy), centre) << cx << " " << cy << Describe(d);
            EXPECT_NEAR(nearest->R, 100, 1.5) << cx << " " << cy << Describe(d);
        }
}

void ExpectSamePoint(double x1, double y1, double x2, double y2)
{
    EXPECT_NEAR(x1, x2, 1e-6);
    EXPECT_NEAR(y1, y2, 1e-6);
}

TEST(CircleFit, ShortArcsKeepTheirRadius)
{
    // Points of a 60-degree arc of radius 200, rounded to the pixel grid:
    // an algebraic fit alone would shrink it.
    std::vector<TPoint2> points;
    for (double a = 0; a <= 60; a += 0.25)
        points.push_back({std::round(200 * std::cos(a * kDegree)), std::round(200 * std::sin(a * kDegree))});
    const TCircle c = FitCircle(points.data(), points.size());
    ASSERT_TRUE(c.Valid);
    EXPECT_NEAR(c.R, 200, 1);
    EXPECT_NEAR(c.X, 0, 1);
    EXPECT_NEAR(c.Y, 0, 1);
}

// The circles fitted to pixel-rounded arcs, to the last bit: each
// Gauss-Newton step's solve gives the bits of Eigen's LDLT that the fit was
// first written with (the drawings' bytes hang on them). The short arcs of
// few pixels stop before the steps settle, where a step's last bits show.
TEST(CircleFit, ArcsGiveTheirCirclesToTheBit)
{
    struct TCase
    {
        double X, Y, R, From, To, Step;  // the arc, degrees
        TCircle Fit;
    };
    const TCase cases[] = {
        {0, 0, 200, 0, 60, 0.25, {-0x1.616a521455d27p-2, -0x1.abdf0a05a3195p-3, 0x1.90c832f3bc424p+7, true}},
        {14.75, 21.5, 4, 294, 335, 1.24, {0x1.06107bf38e84bp+4, 0x1.39d420eee54e7p+4, 0x1.b1c192a5b7c7ap+0, true}},
        {0.75, 10.5, 8.5, 244, 308, 1.43, {0x1.a6834eac62f06p-1, 0x1.35f8b8bcbc6fp+3, 0x1.f20a434a2844bp+2, true}},
        {1.75, -10.25, 4, 13, 77, 1.35, {-0x1.352c79efa7fc2p+2, -0x1.0d4b1e7be9ff1p+4, 0x1.a58bdfa27ff72p+3, true}},
    };
    for (const TCase &c : cases) {
        std::vector<TPoint2> points;
        for (double a = c.From; a <= c.To; a += c.Step)
            points.push_back({std::round(c.X + c.R * std::cos(a * kDegree)), std::round(c.Y + c.R * std::sin(a * kDegree))});
        const TCircle fit = FitCircle(points.data(), points.size());
        ASSERT_TRUE(fit.Valid) << c.R;
        EXPECT_EQ(fit.X, c.Fit.X) << c.R;
        EXPECT_EQ(fit.Y, c.Fit.Y) << c.R;
        EXPECT_EQ(fit.R, c.Fit.R) << c.R;
    }
}

// A circle fit's Gauss-Newton step is solved as Eigen's LDLT solves it, to
// the last bit: systems whose pivots change places, whose diagonal ties,
// holds a pivot of zero or a denormal, or is all zeros, indefinite ones,
// and normal equations of random Jacobians.
TEST(CircleFit, SymmetricSolveIsEigensLdltToTheLastBit)
{
    std::vector<std::array<double, 6>> systems = {
        // (the lower triangle: a00, a10, a11, a20, a21, a22)
        {4, 1, 3, 2, 0.5, 9},
        {1, 2, 5, 3, 4, 5},
        {2, 1, 2, 1, 1, 2},
        {-3, 1, 3, 0.5, 2, 3},
        {0, 1, 0, 2, 3, 0},
        {5, 2, 0, 0, 0, 0},
        {1e-320, 0, 3, 0, 1, 2},
        {7, 7, 7, 7, 7, 7},
    };
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int i = 0; i < 2000; ++i) {
        double j[6][3];
        for (auto &row : j)
            for (double &v : row)
                v = unit(random) * (i % 2 ? 1 : 1e4);
        std::array<double, 6> s{};
        int k = 0;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c <= r; ++c, ++k)
                for (const auto &row : j)
                    s[static_cast<std::size_t>(k)] += row[r] * row[c];
        systems.push_back(s);
    }
    const double rhs[3] = {0.3, -1.7, 2.9};
    for (const auto &s : systems) {
        const double normal[3][3] = {{s[0], s[1], s[3]}, {s[1], s[2], s[4]}, {s[3], s[4], s[5]}};
        Eigen::Matrix3d m;
        m << s[0], s[1], s[3], s[1], s[2], s[4], s[3], s[4], s[5];
        const Eigen::Vector3d expected = m.ldlt().solve(Eigen::Vector3d(rhs[0], rhs[1], rhs[2]));
        double x[3];
        SolveSymmetric3(normal, rhs, x);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(std::bit_cast<std::uint64_t>(x[i]), std::bit_cast<std::uint64_t>(expected(i)))
                << "system " << &s - systems.data() << ", x" << i << ": " << x[i] << " vs " << expected(i);
    }
}

// The ink of a stroke of half width 2 along a circle about (100.3, 80.7) of
// radius 40 from 20 to 110 degrees, round ends, sampled about a first guess
// 0.6 px off it: the samples, those near the free ends and their angles
// about the guess's centre.
struct TStrokeSamples
{
    TStrokeArc Start;
    std::vector<TInkSample> Samples;
    std::vector<char> NearEnd;
    std::vector<double> Angles;
};

TStrokeSamples SampledStroke()
{
    const double cx = 100.3, cy = 80.7, r = 40, hw = 2, lo = 20 * kDegree, hi = 110 * kDegree;
    TStrokeSamples out;
    TStrokeArc &start = out.Start;
    start.Circle = {cx + 0.4, cy - 0.4, r + 0.5, true};
    start.HalfWidth = 1.5;
    start.Lo = lo + 3 * kDegree;
    start.Hi = hi - 3 * kDegree;
    start.FreeLo = start.FreeHi = true;
    const double mid = 0.5 * (start.Lo + start.Hi);
    for (int y = 60; y <= 140; ++y)
        for (int x = 40; x <= 160; ++x) {
            const double a = std::atan2(y - cy, x - cx), d = std::hypot(x - cx, y - cy);
            if (std::abs(d - r) > hw + 3 || a < lo - 0.2 || a > hi + 0.2)
                continue;
            const double ea = std::clamp(a, lo, hi);
            const bool ink = std::hypot(x - cx - r * std::cos(ea), y - cy - r * std::sin(ea)) <= hw;
            out.Samples.push_back({static_cast<double>(x), static_cast<double>(y), ink});
            const double angle = std::atan2(y - start.Circle.Y, x - start.Circle.X);
            double phi = angle - mid;
            phi -= 2 * std::numbers::pi * std::floor((phi + std::numbers::pi) / (2 * std::numbers::pi));
            out.NearEnd.push_back(NearFreeEnd(start, phi));
            out.Angles.push_back(angle);
        }
    return out;
}

// Fits of one stroke arc from one start may share what they read first (the
// samples near the free ends, their angles about the first centre, the first
// cost and normal equations): each gives to the last bit what it gives alone,
// the free fit too, whose centre moves off the one the angles were read about.
TEST(CircleFit, StrokeArcFitsFromASharedStartAreTheFitsAlone)
{
    const double cx = 100.3, cy = 80.7;
    const TStrokeSamples stroke = SampledStroke();
    const TStrokeArc &start = stroke.Start;
    const std::vector<TInkSample> &samples = stroke.Samples;
    ASSERT_GT(std::count(stroke.NearEnd.begin(), stroke.NearEnd.end(), 1), 20);
    for (const bool flat : {false, true}) {
        TStrokeArcStart shared;
        for (const bool keepCircle : {true, false}) {
            SCOPED_TRACE(std::string(flat ? "flat" : "round") + (keepCircle ? ", circle kept" : ", circle free"));
            TStrokeArc alone = start, together = start;
            alone.Flat = together.Flat = flat;
            alone.KeepCircle = together.KeepCircle = keepCircle;
            ASSERT_TRUE(FitStrokeArc(samples.data(), samples.size(), alone));
            ASSERT_TRUE(FitStrokeArc(samples.data(), samples.size(), together, stroke.NearEnd.data(), &shared,
                                     stroke.Angles.data()));
            EXPECT_TRUE(shared.Known);
            EXPECT_EQ(together.Circle.X, alone.Circle.X);
            EXPECT_EQ(together.Circle.Y, alone.Circle.Y);
            EXPECT_EQ(together.Circle.R, alone.Circle.R);
            EXPECT_EQ(together.HalfWidth, alone.HalfWidth);
            EXPECT_EQ(together.Lo, alone.Lo);
            EXPECT_EQ(together.Hi, alone.Hi);
            EXPECT_EQ(together.Cost, alone.Cost);
            if (!keepCircle) {  // (the free fit moves the centre toward the ink's)
                EXPECT_LT(std::hypot(alone.Circle.X - cx, alone.Circle.Y - cy), 0.3);
            }
        }
    }
}

// The fits of the sampled stroke to the last bit, as the plain sums of every
// sample's distance and of the whole normal equations at every step gave
// them: the fits with the circle kept (their steps read only the half width
// and the ends), then the middle of the arcs that cover the ink exactly, from
// the fit with the circle free (none for square ends: the ink's are round).
TEST(CircleFit, StrokeArcFitsKeepTheirBits)
{
    const TStrokeSamples stroke = SampledStroke();
    const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    struct TKnown
    {
        bool Flat;
        std::uint64_t HalfWidth, Lo, Hi, Cost;
        std::size_t Wrong;
        bool Centred;  // (else the free fit as it was)
        std::uint64_t X, Y, R, CentredHalfWidth, CentredLo, CentredHi;
    };
    const TKnown known[] = {
        {false, 0x4000163add1d6936u, 0x3fd76066835bcf40u, 0x3ffec82bdcecf7a3u, 0x403dfbfdca06d471u, 41, true, 0x4059160b33f78d97u, 0x405429cfed6c8308u, 0x4044032abf9a4393u, 0x400024068909cf1du, 0x3fd69c75f079fdffu, 0x3ffeab904cceb8e4u},
        {true, 0x40000550c3b9b98fu, 0x3fd839b46e8c7fbdu, 0x3ffeb2144273ada5u, 0x403ebc8cc92d267cu, 44, false, 0x40591ac65c69b6f3u, 0x405430517b8b9b7du, 0x4043f50e21e67ccfu, 0x400026a6a0ff7a11u, 0x3fd6c831b68430e0u, 0x3ffe96ea8f5494bdu},
    };
    for (const TKnown &k : known) {
        SCOPED_TRACE(k.Flat ? "flat" : "round");
        TStrokeArc fit = stroke.Start;
        fit.Flat = k.Flat;
        fit.KeepCircle = true;
        TStrokeArcStart start;
        ASSERT_TRUE(FitStrokeArc(stroke.Samples.data(), stroke.Samples.size(), fit, stroke.NearEnd.data(), &start,
                                 stroke.Angles.data()));
        EXPECT_EQ(bits(fit.Circle.X), bits(stroke.Start.Circle.X));
        EXPECT_EQ(bits(fit.Circle.R), bits(stroke.Start.Circle.R));
        TStrokeArc free = stroke.Start;
        free.Flat = k.Flat;
        ASSERT_TRUE(FitStrokeArc(stroke.Samples.data(), stroke.Samples.size(), free, stroke.NearEnd.data(), &start,
                                 stroke.Angles.data()));
        TStrokeArc centred = free;
        EXPECT_EQ(CentreStrokeArc(stroke.Samples.data(), stroke.Samples.size(), centred, stroke.NearEnd.data()),
                  k.Centred);
        EXPECT_EQ(bits(fit.HalfWidth), k.HalfWidth);
        EXPECT_EQ(bits(fit.Lo), k.Lo);
        EXPECT_EQ(bits(fit.Hi), k.Hi);
        EXPECT_EQ(bits(fit.Cost), k.Cost);
        EXPECT_EQ(fit.Wrong, k.Wrong);
        EXPECT_EQ(bits(centred.Circle.X), k.X);
        EXPECT_EQ(bits(centred.Circle.Y), k.Y);
        EXPECT_EQ(bits(centred.Circle.R), k.R);
        EXPECT_EQ(bits(centred.HalfWidth), k.CentredHalfWidth);
        EXPECT_EQ(bits(centred.Lo), k.CentredLo);
        EXPECT_EQ(bits(centred.Hi), k.CentredHi);
    }
}

TEST(Recognition, ACircleIsOneCircle)
{
    for (const double width : {1.0, 3.0, 6.0}) {
        TSheet sheet;
        sheet.Ring(200, 150, 100, width);
        const TDrawing d = sheet.Recognise(1, true, 0);
        ASSERT_EQ(d.Entities.size(), 1u) << width << Describe(d);
        const TDrawingEntity &c = d.Entities[0];
        EXPECT_EQ(c.Kind, TEntityKind::Circle);
        EXPECT_NEAR(c.X1, 200, 1);
        EXPECT_NEAR(c.Y1, 150, 1);
        EXPECT_NEAR(c.R, 100, 1.5);
        // Without arcs, the same ring is lines only.
        const TDrawing lines = sheet.Recognise(1, false, 0);
        EXPECT_EQ(lines.Count(TEntityKind::Line), lines.Entities.size());
        EXPECT_GT(lines.Entities.size(), 8u);
    }
}

TEST(Recognition, AFilletIsLineArcLineMeetingAtOnePointEach)
{
    // From (40, 60) right to (200, 60), a quarter of radius r up to (200 + r, 60 + r), up to (200 + r, 260):
    // a wide fillet, a small one that the rule sharpening corners cut by the thinning must keep, and
    // one that the lines first cut as a single chord.
    for (const auto &[r, width] : std::initializer_list<std::pair<double, double>>{{60, 4}, {6, 3}, {16, 3}}) {
        TSheet sheet;
        sheet.Stroke(40, 60, 200, 60, width);
        sheet.Ring(200, 60 + r, r, width, 270, 360);
        sheet.Stroke(200 + r, 60 + r, 200 + r, 260, width);
        for (const double snap : {0.0, 1.0}) {
            SCOPED_TRACE(r);
            const TDrawing d = sheet.Recognise(1, true, snap);
            ASSERT_EQ(d.Entities.size(), 3u) << snap << Describe(d);
            // Chain order: the entities follow the stroke from one end or the other.
            const TDrawingEntity *arc = nullptr;
            std::vector<const TDrawingEntity *> lines;
            for (const TDrawingEntity &e : d.Entities) {
                if (e.Kind == TEntityKind::Arc)
                    arc = &e;
                else
                    lines.push_back(&e);
            }
            ASSERT_TRUE(arc) << snap << Describe(d);
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_NEAR(arc->X1, 200, 1);
            EXPECT_NEAR(arc->Y1, 60 + r, 1);
            EXPECT_NEAR(arc->R, r, 1);
            EXPECT_NEAR(arc->Sweep(), 90, 8);
            double sx = 0, sy = 0, ex = 0, ey = 0;
            arc->StartPoint(sx, sy);
            arc->EndPoint(ex, ey);
            // Each line has one end exactly on an end of the arc.
            const TDrawingEntity &h = std::abs(lines[0]->Y1 - 60) < 2 ? *lines[0] : *lines[1];
            const TDrawingEntity &v = &h == lines[0] ? *lines[1] : *lines[0];
            const bool hStart = std::hypot(h.X1 - sx, h.Y1 - sy) < std::hypot(h.X2 - sx, h.Y2 - sy);
            ExpectSamePoint(hStart ? h.X1 : h.X2, hStart ? h.Y1 : h.Y2, sx, sy);
            const bool vStart = std::hypot(v.X1 - ex, v.Y1 - ey) < std::hypot(v.X2 - ex, v.Y2 - ey);
            ExpectSamePoint(vStart ? v.X1 : v.X2, vStart ? v.Y1 : v.Y2, ex, ey);
            if (snap > 0) {
                EXPECT_EQ(h.Y1, h.Y2);
                EXPECT_EQ(v.X1, v.X2);
                // Still tangent to both snapped lines, its radius the drawn one.
                EXPECT_NEAR(arc->R, r, 0.5);
                EXPECT_NEAR(std::abs(arc->Y1 - h.Y1), arc->R, 1e-6);
                EXPECT_NEAR(std::abs(arc->X1 - v.X1), arc->R, 1e-6);
            }
        }
    }
}

TEST(Recognition, ScannedSlotKeepsItsShortSidesAndFillets)
{
    // A slot: four quarters of radius 100 about the corners of the box
    // (120 .. 280) x (110 .. 150), joined by lines, its edges ragged as a
    // scan's (moved by up to 0.8 px, smoothly over a few pixels: a fixed
    // value noise). The 40-px sides are lines and each quarter keeps its
    // circle, however far a line or an arc fits within the tolerance past
    // the tangent points.
    const auto lattice = [](int i, int j) {
        const std::uint32_t v = ((static_cast<std::uint32_t>(i) * 73856093u) ^ (static_cast<std::uint32_t>(j) * 19349663u) ^
                                 83492791u) * 2654435761u;
        return static_cast<double>((v >> 8) % 2001) / 1000 - 1;
    };
    const auto ragged = [&](double x, double y) {
        const int i = static_cast<int>(std::floor(x / 3)), j = static_cast<int>(std::floor(y / 3));
        const double fx = x / 3 - i, fy = y / 3 - j, sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
        const double a = lattice(i, j) + (lattice(i + 1, j) - lattice(i, j)) * sx;
        const double b = lattice(i, j + 1) + (lattice(i + 1, j + 1) - lattice(i, j + 1)) * sx;
        return 0.8 * (a + (b - a) * sy);
    };
    TSheet sheet;
    sheet.Paint([&](double x, double y) {
        const double dx = std::max({120 - x, 0.0, x - 280}), dy = std::max({110 - y, 0.0, y - 150});
        return std::abs(std::hypot(dx, dy) - 100) <= 2.5 + ragged(x, y);
    });
    const TDrawing d = sheet.Recognise(1, true, 1);
    int sides = 0;
    ExpectSlotQuarters(d, 1);
    for (const TDrawingEntity &e : d.Entities)
        if (e.Kind == TEntityKind::Line && e.X1 == e.X2 && std::abs(std::abs(e.Y2 - e.Y1) - 40) <= 2)
            ++sides;
    EXPECT_EQ(sides, 2) << Describe(d);
}

TEST(Recognition, AHorizontalBarIsOneExactlyHorizontalLine)
{
    TSheet sheet;
    // Rows 100 .. 103 of columns 20 .. 339: the bar's middle is Y = 300 - 101.5.
    sheet.Paint([](double x, double y) { return x >= 20 && x < 340 && y > 196 && y <= 200; });
    const TDrawing d = sheet.Recognise(1, true, 1);
    ASSERT_EQ(d.Entities.size(), 1u);
    const TDrawingEntity &line = d.Entities[0];
    EXPECT_EQ(line.Kind, TEntityKind::Line);
    EXPECT_EQ(line.Y1, line.Y2);
    EXPECT_NEAR(line.Y1, 198.5, 0.15);  // the middle of the even stroke, not a row of its pixels
    EXPECT_NEAR(std::min(line.X1, line.X2), 20, 1);
    EXPECT_NEAR(std::max(line.X1, line.X2), 339, 1);
}

TEST(Recognition, CornersAndJunctionsCloseExactly)
{
    struct TCase
    {
        const char *Name;
        std::vector<std::array<double, 4>> Strokes;
        std::size_t Lines;
    };
    const TCase cases[] = {
        {"L", {{50, 50, 350, 50}, {50, 50, 50, 250}}, 2},
        {"T", {{50, 200, 350, 200}, {200, 200, 200, 40}}, 2},
        {"skewed L", {{50, 50, 350, 52}, {50, 50, 48, 250}}, 2},
        // Broken by the scan: the arms stop short of the corner, the stem
        // short of the bar, by more than the strokes are wide.
        {"broken L", {{56, 50, 350, 50}, {50, 59, 50, 250}}, 2},
        {"broken T", {{50, 200, 350, 200}, {200, 190, 200, 40}}, 2},
    };
    for (const TCase &c : cases) {
        TSheet sheet;
        for (const auto &s : c.Strokes)
            sheet.Stroke(s[0], s[1], s[2], s[3], 5);
        const TDrawing d = sheet.Recognise(1, true, 1);
        ASSERT_EQ(d.Entities.size(), c.Lines) << c.Name << Describe(d);
        SCOPED_TRACE(Describe(d));
        const TDrawingEntity &a = d.Entities[0], &b = d.Entities[1];
        // Both axis-parallel, and one end of one lies exactly on the other.
        for (const TDrawingEntity *e : {&a, &b})
            EXPECT_TRUE(e->X1 == e->X2 || e->Y1 == e->Y2) << c.Name;
        const TDrawingEntity &h = a.Y1 == a.Y2 ? a : b, &v = a.Y1 == a.Y2 ? b : a;
        const double vEndY = std::abs(v.Y1 - h.Y1) < std::abs(v.Y2 - h.Y1) ? v.Y1 : v.Y2;
        EXPECT_EQ(vEndY, h.Y1) << c.Name;
        EXPECT_GE(v.X1, std::min(h.X1, h.X2)) << c.Name;
        EXPECT_LE(v.X1, std::max(h.X1, h.X2)) << c.Name;
        if (std::string(c.Name).back() != 'T') {
            // A corner: the vertical line's end is the horizontal line's end.
            EXPECT_TRUE(v.X1 == h.X1 || v.X1 == h.X2) << c.Name;
        }
    }
}

TEST(Recognition, ASkewedRectangleComesOutSquare)
{
    TSheet sheet;
    const double skew = 1;
    const auto turned = [&](double x, double y, double &u, double &v) {
        const double c = std::cos(skew * kDegree), s = std::sin(skew * kDegree);
        u = 200 + c * (x - 200) - s * (y - 150);
        v = 150 + s * (x - 200) + c * (y - 150);
    };
    const double corners[4][2] = {{60, 60}, {340, 60}, {340, 240}, {60, 240}};
    for (int k = 0; k < 4; ++k) {
        double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        turned(corners[k][0], corners[k][1], x1, y1);
        turned(corners[(k + 1) % 4][0], corners[(k + 1) % 4][1], x2, y2);
        sheet.Stroke(x1, y1, x2, y2, 3);
    }
    // Leptonica's search on the ink sees it roughly; the lines tell it exactly.
    const std::optional<double> ink = FindSkew(sheet.Ink);
    ASSERT_TRUE(ink);
    EXPECT_NEAR(*ink, skew, 0.3);
    // Rings alone have no direction: no skew, rather than a guess.
    TSheet rings;
    rings.Ink = TBlackMask(1200, 800);
    for (int k = 0; k < 6; ++k)
        rings.Ring(200 + 400 * (k % 3), 200 + 400 * (k / 3), 40 + 30 * k, 3, 30 * k, k % 2 ? 360 : 30 * k + 200);
    EXPECT_FALSE(FindSkew(rings.Ink));
    std::optional<double> found;
    const TDrawing d = sheet.Recognise(1, true, 0.5, &found);
    ASSERT_TRUE(found);
    EXPECT_NEAR(*found, skew, 0.05);
    ASSERT_EQ(d.Entities.size(), 4u) << Describe(d);
    for (const TDrawingEntity &e : d.Entities) {
        EXPECT_EQ(e.Kind, TEntityKind::Line);
        EXPECT_TRUE(e.X1 == e.X2 || e.Y1 == e.Y2);
    }
}

TEST(Recognition, ScanDirt)
{
    // A speck alone is no line; a thin stroke broken by the scan is one line.
    struct TCase
    {
        const char *Name;
        std::vector<std::array<double, 5>> Strokes;  // x1 y1 x2 y2 width
        std::vector<std::array<int, 2>> Specks;       // 3 x 5 blots at column, row
        std::size_t Lines;
    };
    const TCase cases[] = {
        {"speck alone", {}, {{100, 100}}, 0},
        {"specks beside a line", {{40, 150, 360, 150, 3}}, {{100, 100}, {300, 220}}, 1},
        {"broken thin stroke", {{40, 150, 197, 150, 1}, {200, 150, 360, 150, 1}}, {}, 1},
        {"broken slanted stroke", {{40, 100, 197, 130, 2}, {200, 130.57, 360, 161.15, 2}}, {}, 1},
        {"dashes stay apart", {{40, 150, 190, 150, 2}, {202, 150, 360, 150, 2}}, {}, 2},
        {"bits of stroke in the gaps",
         {{40, 150, 170, 150, 1}, {176, 150, 179, 150, 1}, {185, 151, 188, 151, 1}, {194, 150, 197, 150, 1},
          {203, 150, 360, 150, 1}},
         {},
         1},
        {"dots of ink all across the gap",
         {{40, 150, 170, 150, 1}, {172.5, 150, 172.6, 150, 1.2}, {175, 150, 175.1, 150, 1.2}, {177.5, 150, 177.6, 150, 1.2},
          {180, 150, 180.1, 150, 1.2}, {182.5, 150, 360, 150, 1}},
         {},
         1},
        {"bits of a vertical stroke", {{150, 40, 150, 120, 1}, {150, 126, 150, 129, 1}, {151, 135, 151, 138, 1},
                                       {150, 144, 150, 147, 1}, {150, 153, 150, 260, 1}}, {}, 1},
    };
    for (const TCase &c : cases) {
        TSheet sheet;
        for (const auto &s : c.Strokes)
            sheet.Stroke(s[0], s[1], s[2], s[3], s[4]);
        for (const auto &b : c.Specks)
            for (int dy = 0; dy < 5; ++dy)
                for (int dx = 0; dx < 3; ++dx)
                    sheet.Ink.SetBlack(b[0] + dx, b[1] + dy);
        const TDrawing d = sheet.Recognise(1, true, 1);
        ASSERT_EQ(d.Entities.size(), c.Lines) << c.Name << Describe(d);
        for (const TDrawingEntity &e : d.Entities) {
            EXPECT_EQ(e.Kind, TEntityKind::Line) << c.Name;
            const auto &first = c.Strokes.front();
            if (c.Lines == 1) {
                EXPECT_NEAR(std::max(std::abs(e.X2 - e.X1), std::abs(e.Y2 - e.Y1)), first[0] == first[2] ? 220 : 320, 2)
                    << c.Name << Describe(d);
            }
            if (first[1] == first[3]) {
                EXPECT_EQ(e.Y1, e.Y2) << c.Name << Describe(d);
            }
            if (first[0] == first[2]) {
                EXPECT_EQ(e.X1, e.X2) << c.Name << Describe(d);
            }
        }
    }
}

TEST(Recognition, ShortArcsKeepTheirCentreAndRadius)
{
    // The circle of a short arc through the centre line's pixels alone
    // missed by several pixels: it is fitted to the stroke's middles. An
    // arc broken by the scan (paper, a bit of ink, paper) is one arc. A
    // free arc with round ends (Break -1) is read from its ink's edges and
    // caps: its stroke's middles alone left it up to 3 px off. A short
    // wide one (30 degrees of radius 100.9, 6 px) fits many circles
    // exactly: the smooth step's best lay 1.9 px off, the middle of those
    // circles lies 0.5 px off.
    struct TCase
    {
        double X, Y, R, Width, From, To;
        double Break;  // degrees where a gap breaks it; 0: none; -1: none, round ends
    };
    const TCase cases[] = {{86.863, 36.863, 160, 8, 30, 60, 0},  {273.728, 217.559, 100, 3, 200, 245, -1},
                           {200, 0, 160, 2, 50, 130, 90},         {180.4, 30.7, 100.2, 3, 35, 80, -1},
                           {200.3, 150.6, 8.4, 4, 137, 227, -1},  {147.23852, 156.5485, 100.88598, 6, -14.06844, 15.93156, -1}};
    for (const TCase &c : cases) {
        TSheet sheet;
        if (c.Break < 0) {
            sheet.Ring(c.X, c.Y, c.R, c.Width, c.From, c.To);
            for (const double a : {c.From, c.To}) {
                const double x = c.X + c.R * std::cos(a * kDegree), y = c.Y + c.R * std::sin(a * kDegree);
                sheet.Stroke(x, y, x + 1e-3, y, c.Width);
            }
        } else if (c.Break == 0) {
            sheet.Ring(c.X, c.Y, c.R, c.Width, c.From, c.To);
        } else {
            sheet.Ring(c.X, c.Y, c.R, c.Width, c.From, c.Break - 1.8);
            sheet.Ring(c.X, c.Y, c.R, c.Width, c.Break - 0.6, c.Break + 0.6);
            sheet.Ring(c.X, c.Y, c.R, c.Width, c.Break + 1.8, c.To);
        }
        const TDrawing d = sheet.Recognise(1, true, 1);
        if (c.Break > 0) {
            ASSERT_EQ(d.Entities.size(), 1u) << c.R << Describe(d);
        }
        ASSERT_EQ(d.Count(TEntityKind::Arc), 1u) << c.R << Describe(d);
        for (const TDrawingEntity &e : d.Entities)
            if (e.Kind == TEntityKind::Arc) {
                EXPECT_LE(std::hypot(e.X1 - c.X, e.Y1 - c.Y), 1) << c.R << Describe(d);
                EXPECT_LE(std::abs(e.R - c.R), 0.01 * c.R + 0.5) << c.R << Describe(d);
            }
    }
}

TEST(Recognition, AnArcWithARoughEdgeIsOneArc)
{
    // A stroke that bulges out over a few degrees (a scan's rough edge):
    // the fit within 1 px breaks it, one circle fits it within 2 px. Near
    // a free end the bulge left a line and a second arc of half the
    // radius (a line going on along the arc's tangent is a break too). The
    // thinning's hook at a free end, and a line where the edge of a 30-degree
    // arc ran straight, go into the arc (before, each stayed a line beside it).
    struct TCase
    {
        double Y, R, HalfWidth, From, To, Bump, Size, Spread;
        std::size_t MostEntities;
    };
    const TCase cases[] = {{40, 150, 1.5, 0, 180, 70, 1.8, 3, 1}, {20, 160, 3.5, 60, 120, 68, 1.5, 5, 1},
                           {100, 100, 2, 75, 105, 84, 1.5, 2, 1}};
    for (const TCase &c : cases) {
        TSheet sheet;
        sheet.Paint([&](double x, double y) {
            const double a = std::atan2(y - c.Y, x - 200) / kDegree,
                         bump = c.Size * std::exp(-std::pow((a - c.Bump) / c.Spread, 2));
            return a >= c.From && a <= c.To && std::abs(std::hypot(x - 200, y - c.Y) - c.R - bump) <= c.HalfWidth;
        });
        const TDrawing d = sheet.Recognise(1, true, 1);
        EXPECT_LE(d.Entities.size(), c.MostEntities) << c.R << Describe(d);
        EXPECT_EQ(d.Count(TEntityKind::Arc), 1u) << c.R << Describe(d);
    }
}

// The slot of quarters of radius 100 about the corners of (120 .. 280) x (110 .. 150), a 5-px stroke,
// turned `skew` degrees about the sheet's centre, recognised with the skew removed.
TDrawing TurnedSlot(double skew)
{
    const double c = std::cos(skew * kDegree), s = std::sin(skew * kDegree);
    TSheet sheet;
    sheet.Paint([&](double x, double y) {
        const double u = 200 + c * (x - 200) + s * (y - 150), v = 150 - s * (x - 200) + c * (y - 150);
        const double dx = std::max({120 - u, 0.0, u - 280}), dy = std::max({110 - v, 0.0, v - 150});
        return std::abs(std::hypot(dx, dy) - 100) <= 2.5;
    });
    std::optional<double> found;
    TDrawing d = sheet.Recognise(1, true, 1, &found);
    EXPECT_TRUE(found);
    return d;
}

TEST(Recognition, FilletsOfATurnedSlotKeepTheirCirclesWhenTheSkewIsRemoved)
{
    // The 40-px sides tilt the quarters' first circles; once the lines are turned back and snapped, each
    // radius is read again between its tangent points (before, a centre lay 1.9 px off and a radius 1.5 px).
    const TDrawing d = TurnedSlot(0.7);
    ExpectSlotQuarters(d, 1.25);
}

TEST(Recognition, TheShortSideBetweenTwoArcsStaysALine)
{
    // Turned -2 degrees, the 40-px side at x = 380 and the ends of the quarters beside it lay within the
    // tolerance of an arc of radius 384: a line fits the side, and the quarters the rest. The quarters'
    // fits run on along the sides, and the pixels left to a side do not step: its direction is the one
    // that fits its two quarters best (before, both sides came out 2 degrees off the square, and the
    // quarters' centres up to 2 px off).
    const TDrawing d = TurnedSlot(-2);
    int sides = 0;
    for (const TDrawingEntity &e : d.Entities)
        sides += e.Kind == TEntityKind::Line && e.X1 == e.X2 && std::abs(std::abs(e.X1 - 200) - 180) <= 1 &&
                 std::abs(std::abs(e.Y2 - e.Y1) - 40) <= 2;
    EXPECT_EQ(sides, 2) << Describe(d);
    ExpectSlotQuarters(d, 1);
}

TEST(Recognition, TheSkewIsWhatTheSquareLinesShare)
{
    // A square turned 0.7 degrees beside longer lines 6 degrees off the axis:
    // the skew is the square's, not the middle of all angles.
    TSheet sheet;
    const double skew = 0.7, c = std::cos(skew * kDegree), s = std::sin(skew * kDegree);
    const double corners[4][2] = {{30, 80}, {170, 80}, {170, 220}, {30, 220}};
    for (int k = 0; k < 4; ++k) {
        const double *a = corners[k], *b = corners[(k + 1) % 4];
        sheet.Stroke(200 + c * (a[0] - 200) - s * (a[1] - 150), 150 + s * (a[0] - 200) + c * (a[1] - 150),
                     200 + c * (b[0] - 200) - s * (b[1] - 150), 150 + s * (b[0] - 200) + c * (b[1] - 150), 3);
    }
    const double slants[] = {-6.5, -6.3, -5.9}, rows[] = {60, 150, 240};
    for (int k = 0; k < 3; ++k)
        sheet.Stroke(200, rows[k], 390, rows[k] + 190 * std::tan(slants[k] * kDegree), 3);
    std::optional<double> found;
    sheet.Recognise(1, true, 0.5, &found);
    ASSERT_TRUE(found);
    EXPECT_NEAR(*found, skew, 0.05);
}

} // namespace

// Bars of several slants and widths crossing, a level bar of even width
// (its thinned centre line half a pixel off its middle) and the arcs of two
// rings, to the last bit: the lines moved onto their strokes' middles and
// the arcs' circles read from their strokes' middles, each from runs across
// the ink (some running on into a crossing).
TEST(Recognition, StrokesMiddlesGiveTheirLinesAndArcsToTheBit)
{
    TSheet sheet;
    sheet.Stroke(30, 40, 370, 117, 4.6);
    sheet.Stroke(40, 200, 200, 200, 4);
    sheet.Stroke(60, 20, 160, 280, 6.2);
    sheet.Stroke(230, 20, 390, 112, 3.3);
    sheet.Ring(290, 170, 62.5, 7, 25, 155);
    sheet.Ring(120, 110, 30.5, 4.4, 200, 330);
    struct TExpected
    {
        TEntityKind Kind;
        double X1, Y1, X2, Y2, R, StartAngle, EndAngle;
    };
    const TExpected expected[] = {
        {TEntityKind::Line, 0x1.41cf798bad8c2p+7, 0x1.1a6c1c8a49924p+8, 0x1.06p+7, 0x1.92p+7, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.06p+7, 0x1.92p+7, 0x1p+7, 0x1.8cp+7, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.06p+7, 0x1.92p+7, 0x1.93ffc35cb0e9bp+7, 0x1.8fb8d5fba36cdp+7, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.30004f90912ddp+5, 0x1.9035a19603398p+7, 0x1p+7, 0x1.8cp+7, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1p+7, 0x1.8cp+7, 0x1.6cp+6, 0x1.8p+6, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Arc, 0x1.22025e6e2f906p+8, 0x1.53becba034533p+7, 0x0p+0, 0x0p+0, 0x1.f47c6e328ef82p+5, 0x1.97e044c26262bp+4, 0x1.3443bf80e3b76p+7},
        {TEntityKind::Line, 0x1.73e788cf2efecp+8, 0x1.d5b05f9bc9101p+6, 0x1.28p+6, 0x1.ap+5, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.872f241a3081ap+8, 0x1.c2b81e8b88742p+6, 0x1.ca830c4245544p+7, 0x1.38e10a929bd76p+4, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.6cp+6, 0x1.8p+6, 0x1.46e05f1fd6d7ap+6, 0x1.3475bdf21be1cp+6, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.46e05f1fd6d7ap+6, 0x1.3475bdf21be1cp+6, 0x1.28p+6, 0x1.ap+5, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Arc, 0x1.dc9bf29dca55fp+6, 0x1.c0c15df930e54p+6, 0x0p+0, 0x0p+0, 0x1.03ccefd356b14p+5, 0x1.a3cd3acf0c20cp+7, 0x1.428f98464b763p+8},
        {TEntityKind::Line, 0x1.21ep+7, 0x1.71c964131b16ep+6, 0x1.21ep+7, 0x1.7cp+6, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.28p+6, 0x1.ap+5, 0x1.18b5848eb55b8p+6, 0x1.80f1e9e16dc07p+5, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.18b5848eb55b8p+6, 0x1.80f1e9e16dc07p+5, 0x1.b081b826ec4a3p+5, 0x1.6da0f76c23e9dp+5, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.b081b826ec4a3p+5, 0x1.6da0f76c23e9dp+5, 0x1.c142daa0640c7p+4, 0x1.3d2e7afd86252p+5, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.18b5848eb55b8p+6, 0x1.80f1e9e16dc07p+5, 0x1.fcbeb764a7a96p+5, 0x1.d27178e7edefdp+4, 0x0p+0, 0x0p+0, 0x0p+0},
        {TEntityKind::Line, 0x1.fcbeb764a7a96p+5, 0x1.d27178e7edefdp+4, 0x1.d8705a3485532p+5, 0x1.1fa76dfed6d3p+4, 0x0p+0, 0x0p+0, 0x0p+0},
    };
    const TDrawing d = sheet.Recognise(1, true, 0);
    ASSERT_EQ(d.Entities.size(), std::size(expected)) << Describe(d);
    for (std::size_t k = 0; k < d.Entities.size(); ++k) {
        const TDrawingEntity &a = d.Entities[k];
        const TExpected &b = expected[k];
        EXPECT_TRUE(a.Kind == b.Kind && a.X1 == b.X1 && a.Y1 == b.Y1 && a.X2 == b.X2 && a.Y2 == b.Y2 && a.R == b.R &&
                    a.StartAngle == b.StartAngle && a.EndAngle == b.EndAngle)
            << k << Describe(d);
    }
}

TEST(Recognition, TheDrawingIsTheSameForEveryThreadCount)
{
    // Enough chains (crosses and rings in 40-px cells) for several parts.
    TSheet sheet;
    sheet.Ink = TBlackMask(1200, 900);
    sheet.Paint([](double x, double y) {
        const int cell = int(x) / 40 + 30 * (int(y) / 40);
        const double cx = std::fmod(x, 40), cy = std::fmod(y, 40), end = 28 + cell % 5;
        return (std::abs(cx - 20) <= 1.5 && cy >= 8 && cy <= end) || (std::abs(cy - 20) <= 1.5 && cx >= 8 && cx <= end) ||
               std::abs(std::hypot(cx - 6, cy - 6) - 4) <= 1;
    });
    const TBlackMask centre = Centerline(sheet.Ink);
    TGeometryOptions options;
    options.Arcs = true;
    options.Snap = 1;
    const TDrawing one = RecogniseDrawing(centre, sheet.Ink, options);
    ASSERT_GT(one.Entities.size(), 2000u);
    const auto expectSame = [&](const TDrawing &other) {
        ASSERT_EQ(one.Entities.size(), other.Entities.size());
        for (std::size_t k = 0; k < one.Entities.size(); ++k) {
            const TDrawingEntity &a = one.Entities[k], &b = other.Entities[k];
            ASSERT_TRUE(a.Kind == b.Kind && a.X1 == b.X1 && a.Y1 == b.Y1 && a.X2 == b.X2 && a.Y2 == b.Y2 &&
                        a.R == b.R && a.StartAngle == b.StartAngle && a.EndAngle == b.EndAngle)
                << k;
        }
    };
    options.Threads = 3;
    expectSame(RecogniseDrawing(centre, sheet.Ink, options));
    // The ink lent packed (unpacked for the fitting, its pixels read where
    // they lie after): the same drawing, and the ink given back packed.
    TPackedMask packed(sheet.Ink, 2);
    const std::size_t bytes = packed.Bytes();
    expectSame(RecogniseDrawing(centre, packed, options));
    EXPECT_EQ(packed.Bytes(), bytes);
    EXPECT_EQ(packed.Unpack().Line(450)[9], sheet.Ink.Line(450)[9]);
    // Asked to stop between its parts, the recognition ends with nothing.
    std::atomic<int> asked{0};
    options.Stop = [&] { return ++asked > 1; };
    EXPECT_TRUE(RecogniseDrawing(centre, sheet.Ink, options).Entities.empty());
    EXPECT_GE(asked, 2);
}
