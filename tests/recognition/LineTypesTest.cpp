#include "cleanup/Centerline.h"
#include "recognition/LineTypes.h"
#include "recognition/Recognition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include "recognition/PaintedSheet.h"

#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr double kDegree = std::numbers::pi / 180;

// A 400 x 300 sheet; rows grow downward, the drawing's Y is 300 - row. Every
// stroke has round ends: ink where a pixel centre is within width / 2 of it.
struct TPatternSheet : TPaintedSheet
{
    // The whole dashes of `pattern` (dash > 0, gap < 0) from (x1, y1) towards (x2, y2).
    void Dashes(double x1, double y1, double x2, double y2, const std::vector<double> &pattern, double width)
    {
        const double length = std::hypot(x2 - x1, y2 - y1), ux = (x2 - x1) / length, uy = (y2 - y1) / length;
        double t = 0;
        for (std::size_t k = 0; t + pattern[k] <= length; k = (k + 1) % pattern.size()) {
            if (pattern[k] > 0) {
                const double a = t, b = t + pattern[k];
                Paint([=](double x, double y) {
                    const double s = std::clamp((x - x1) * ux + (y - y1) * uy, a, b);
                    return std::hypot(x - x1 - s * ux, y - y1 - s * uy) <= width / 2;
                });
            }
            t += std::fabs(pattern[k]);
        }
    }
    // Dashes round a circle counter-clockwise from angle 0, the last one cut
    // short `closing` before the first (when it is more than 0).
    void RingDashes(double cx, double cy, double r, const std::vector<double> &pattern, double width, double closing = 0)
    {
        const double end = closing > 0 ? 2 * std::numbers::pi * r - closing : 1e300;
        std::vector<std::pair<double, double>> dashes;   // angles
        double t = 0;
        for (std::size_t k = 0; t < std::min(end, 2 * std::numbers::pi * r - 1); k = (k + 1) % pattern.size()) {
            if (pattern[k] > 0)
                dashes.emplace_back(t / r, std::min(t + pattern[k], end) / r);
            t += std::fabs(pattern[k]);
        }
        Paint([=](double x, double y) {
            const double d = std::hypot(x - cx, y - cy);
            if (std::fabs(d - r) > width / 2)
                return false;
            double angle = std::atan2(y - cy, x - cx);
            if (angle < 0)
                angle += 2 * std::numbers::pi;
            for (const auto &[a, b] : dashes) {
                if (angle >= a && angle <= b)
                    return true;
                // The round ends.
                for (const double e : {a, b})
                    if (std::hypot(x - cx - r * std::cos(e), y - cy - r * std::sin(e)) <= width / 2)
                        return true;
            }
            return false;
        });
    }
    TDrawing Recognise(bool lineTypes) const
    {
        TGeometryOptions options;
        options.Tolerance = 1;
        options.Arcs = true;
        options.Snap = 1;
        options.KeepGaps = true;
        TDrawing d = RecogniseDrawing(Centerline(Ink), Ink, options);
        if (lineTypes)
            FindLineTypes(d, Ink, 1);
        return d;
    }
};

std::string Describe(const TDrawing &d)
{
    std::string text;
    for (const TDrawingEntity &e : d.Entities) {
        char line[200];
        const std::string type = d.LineTypes[static_cast<std::size_t>(e.LineType)].toStdString();
        if (e.Kind == TEntityKind::Line)
            std::snprintf(line, sizeof line, "\n  LINE %.2f %.2f %.2f %.2f %s", e.X1, e.Y1, e.X2, e.Y2, type.c_str());
        else
            std::snprintf(line, sizeof line, "\n  %s %.2f %.2f r %.2f %.1f..%.1f %s",
                          e.Kind == TEntityKind::Arc ? "ARC" : "CIRCLE", e.X1, e.Y1, e.R, e.StartAngle, e.EndAngle,
                          type.c_str());
        text += line;
    }
    for (std::size_t k = 1; k < d.LineTypePatterns.size(); ++k) {
        text += "\n  " + d.LineTypes[k].toStdString() + ":";
        for (double v : d.LineTypePatterns[k].Elements)
            text.append(" ").append(std::to_string(v));
    }
    return text;
}

TEST(LineTypes, RegularPatternsBecomeOneEntityWithTheirLineType)
{
    struct TCase
    {
        const char *Name;
        double X1, Y1, X2, Y2;   // a line, or a circle's centre and radius in X2 (and the gap left of it in -Y2) when Y2 < 0
        std::vector<double> Pattern;
        double Width;
        TEntityKind Kind;
        const char *LineType;
        std::vector<double> Elements;   // expected, within 1.5 px (a dot 0)
        bool Stub = false;              // a short piece along the circle at the last dash's tip
    };
    const TCase cases[] = {
        {"dash-dot", 20, 150, 380, 150, {30, -8, 1, -8}, 3, TEntityKind::Line, "CENTER", {30, -8.5, 0, -8.5}},
        {"dash-dot slanted", 30, 40, 330, 250, {30, -8, 1, -8}, 3, TEntityKind::Line, "CENTER", {30, -8.5, 0, -8.5}},
        {"dash-dot-dot", 20, 100, 380, 100, {28, -7, 1, -7, 1, -7}, 2, TEntityKind::Line, "PHANTOM",
         {28, -7.33, 0, -7.33, 0, -7.33}},
        {"dashed", 20, 200, 380, 200, {24, -10}, 4, TEntityKind::Line, "DASHED", {24, -10}},
        {"dotted", 20, 60, 380, 60, {1, -9}, 3, TEntityKind::Line, "DOT", {0, -10}},
        // The last dash cut short to a stub no centre line reaches: the line
        // runs to its end all the same.
        {"dashed ending in a stub", 20, 200, 380, 200,
         {24, -10, 24, -10, 24, -10, 24, -10, 24, -10, 24, -10, 24, -10, 24, -10, 24, -10, 24, -10, 1}, 4,
         TEntityKind::Line, "DASHED", {24, -10}},
        // Every tenth and eleventh dot lost, as a faint scan loses them.
        {"dotted with lost dots", 20, 60, 341, 60, {1, -9, 1, -9, 1, -9, 1, -9, 1, -9, 1, -9, 1, -9, 1, -9, 1, -29}, 3,
         TEntityKind::Line, "DOT", {0, -10}},
        // 18 dashes round a circle of radius 100.
        {"dashed circle", 200, 150, 100, -1, {25, -(2 * std::numbers::pi * 100 / 18 - 25)}, 3, TEntityKind::Circle,
         "DASHED", {25, -(2 * std::numbers::pi * 100 / 18 - 25)}},
        // Five periods and a dash cut short: the pattern starts after the short dash.
        {"dash-dot-dot circle", 200, 150, 90, -15, {56, -15, 1, -15, 1, -15}, 4, TEntityKind::Circle, "PHANTOM",
         {56, -15, 0, -15, 0, -15}},
        // Arcs of seven dashes and of five dash-dots; the first dashes' own
        // circles bend too much, and the chain's circle is fitted anew as
        // it grows (once the thin one came apart in pieces).
        {"dashed arc", 200, 150, 90, -(2 * std::numbers::pi * 90 - 282), {30, -12}, 2, TEntityKind::Arc, "DASHED",
         {30, -12}},
        {"dash-dot arc", 200, 150, 120, -(2 * std::numbers::pi * 120 - (4 * 111 + 68)), {68, -21, 1, -21}, 7,
         TEntityKind::Arc, "CENTER", {68, -21, 0, -21}},
        // A narrower closing gap with a stub of centre line in it, as a scan
        // leaves one: the chain that reaches round to within a gap of its
        // start is the whole circle (once it was an arc of 354 degrees, or of
        // a few degrees where it reached past its start).
        {"dash-dot-dot circle with a stub at its seam", 200, 150, 90, -8, {56, -15, 1, -15, 1, -15}, 4,
         TEntityKind::Circle, "PHANTOM", {56, -15, 0, -15, 0, -15}, true},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TPatternSheet sheet;
        if (c.Y2 < 0)
            sheet.RingDashes(c.X1, c.Y1, c.X2, c.Pattern, c.Width, -c.Y2);
        else
            sheet.Dashes(c.X1, c.Y1, c.X2, c.Y2, c.Pattern, c.Width);
        TDrawing d = sheet.Recognise(false);
        if (c.Stub) {
            const double a = -5 / c.X2, b = -3 / c.X2;
            d.Entities.push_back(TDrawingEntity::MakeLine(c.X1 + c.X2 * std::cos(a), c.Y1 + c.X2 * std::sin(a),
                                                          c.X1 + c.X2 * std::cos(b), c.Y1 + c.X2 * std::sin(b)));
        }
        TDrawing threaded = d, fromPacked = d;
        FindLineTypes(d, sheet.Ink, 1);
        // Seeds tried a batch at a time on three threads: the same drawing;
        // and with the ink lent packed (its pixels read where they lie
        // while the seeds are tried), given back as it came.
        FindLineTypes(threaded, sheet.Ink, 1, 3);
        EXPECT_EQ(Describe(threaded), Describe(d));
        TPackedMask packed(sheet.Ink);
        const std::size_t bytes = packed.Bytes();
        FindLineTypes(fromPacked, packed, 1, 2);
        EXPECT_EQ(Describe(fromPacked), Describe(d));
        EXPECT_EQ(packed.Bytes(), bytes);
        // The patterned entity follows what stays as it is (the stub).
        ASSERT_EQ(d.Entities.size(), c.Stub ? 2u : 1u) << Describe(d);
        const TDrawingEntity &e = d.Entities.back();
        EXPECT_EQ(e.Kind, c.Kind) << Describe(d);
        ASSERT_EQ(d.LineTypes[static_cast<std::size_t>(e.LineType)].toStdString(), c.LineType) << Describe(d);
        const TLineTypePattern *pattern = d.PatternOf(e.LineType);
        ASSERT_TRUE(pattern);
        ASSERT_EQ(pattern->Elements.size(), c.Elements.size()) << Describe(d);
        for (std::size_t k = 0; k < c.Elements.size(); ++k)
            EXPECT_NEAR(pattern->Elements[k], c.Elements[k], 1.5) << k << Describe(d);
        if (c.Kind != TEntityKind::Line) {
            EXPECT_NEAR(e.X1, c.X1, 1);
            EXPECT_NEAR(e.Y1, c.Y1, 1);
            EXPECT_NEAR(e.R, c.X2, 1);
            // An arc from the first dash's start to the last one's end (its round end in).
            if (c.Kind == TEntityKind::Arc) {
                EXPECT_NEAR(std::remainder(e.StartAngle, 360), 0, 1.5) << Describe(d);
                EXPECT_NEAR(e.EndAngle, (2 * std::numbers::pi * c.X2 + c.Y2) / c.X2 / kDegree, 1.5) << Describe(d);
            }
            continue;
        }
        // The line runs from the first dash's start to the last one's end (either way round).
        const double length = std::hypot(c.X2 - c.X1, c.Y2 - c.Y1);
        double t = 0, end = 0;
        for (std::size_t k = 0; t + c.Pattern[k] <= length; k = (k + 1) % c.Pattern.size()) {
            if (c.Pattern[k] > 0)
                end = t + c.Pattern[k];
            t += std::fabs(c.Pattern[k]);
        }
        const double ex = c.X1 + (c.X2 - c.X1) * end / length, ey = c.Y1 + (c.Y2 - c.Y1) * end / length;
        const bool forward = std::hypot(e.X1 - c.X1, e.Y1 - c.Y1) < std::hypot(e.X2 - c.X1, e.Y2 - c.Y1);
        EXPECT_NEAR(forward ? e.X1 : e.X2, c.X1, 1.5) << Describe(d);
        EXPECT_NEAR(forward ? e.Y1 : e.Y2, c.Y1, 1.5) << Describe(d);
        EXPECT_NEAR(forward ? e.X2 : e.X1, ex, 1.5) << Describe(d);
        EXPECT_NEAR(forward ? e.Y2 : e.Y1, ey, 1.5) << Describe(d);
    }
}

TEST(LineTypes, DottedCircleOfAScanIsOneCircle)
{
    struct TCase
    {
        const char *Name;
        int Dots;         // spread evenly round, or 11 px apart with a wider gap at the seam
        bool Seam;
        int Lost;         // a dot the scan lost (-1 none)
        bool Whole;       // read as the whole circle
    };
    // Dots round a circle of radius 120, each moved off it by up to a pixel,
    // as a scan moves them: three neighbours lie on circles far from the
    // drawn one, and a few on a straight line.
    const TCase cases[] = {
        {"even", 68, false, -1, true},
        // 28 px across the seam: 17 px where the pattern does not divide
        // the circle, and a dot lost beside it; another lost three dots on.
        {"a dot lost at the seam", 67, true, 3, true},
        // 61 px across the seam, five and a half spacings: an arc over
        // every dot.
        {"a wide seam", 64, true, 3, false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TPatternSheet sheet;
        for (int k = 0; k < c.Dots; ++k) {
            if (k == c.Lost)
                continue;
            const double a = c.Seam ? 11.0 * k / 120 : 2 * std::numbers::pi * k / c.Dots;
            const double r = 120 + 0.9 * std::sin(2.7 * k);
            const double x = 200 + r * std::cos(a), y = 150 + r * std::sin(a);
            sheet.Paint([=](double px, double py) { return std::hypot(px - x, py - y) <= 1.3; });
        }
        const TDrawing d = sheet.Recognise(true);
        ASSERT_EQ(d.Entities.size(), 1u) << Describe(d);
        const TDrawingEntity &e = d.Entities[0];
        // A wide seam leaves an arc, over every dot.
        EXPECT_EQ(e.Kind, c.Whole ? TEntityKind::Circle : TEntityKind::Arc) << Describe(d);
        if (!c.Whole) {
            for (int k = 0; k < c.Dots; ++k)
                EXPECT_LE(std::fmod(11.0 * k / 120 / kDegree - e.StartAngle + 720, 360), e.Sweep() + 0.5)
                    << k << Describe(d);
        }
        EXPECT_EQ(d.LineTypes[static_cast<std::size_t>(e.LineType)].toStdString(), "DOT") << Describe(d);
        EXPECT_NEAR(e.X1, 200, 1);
        EXPECT_NEAR(e.Y1, 150, 1);
        EXPECT_NEAR(e.R, 120, 1);
    }
}

TEST(LineTypes, IrregularPiecesAndContinuousLinesStayAsTheyAre)
{
    TPatternSheet sheet;
    // Collinear pieces of uneven lengths and gaps; a solid line; a solid circle.
    sheet.Dashes(20, 250, 341, 250, {30, -8, 70, -25, 12, -6, 45, -15, 20, -30, 60}, 3);
    sheet.Dashes(20, 50, 380, 50, {360}, 3);
    sheet.Dashes(20, 30, 147, 30, {10, -10, 25, -10, 10, -22, 40}, 2);
    // A solid line the scan broke by gaps narrower than its stroke; two
    // dashes with a speck between them.
    sheet.Dashes(20, 150, 380, 150, {50, -5, 40, -5, 60, -5, 45}, 3);
    sheet.Dashes(20, 120, 140, 120, {60, -8, 2, -8, 40}, 2);
    const TDrawing before = sheet.Recognise(false);
    const TDrawing after = sheet.Recognise(true);
    ASSERT_EQ(after.Entities.size(), before.Entities.size()) << Describe(after);
    for (std::size_t i = 0; i < after.Entities.size(); ++i) {
        EXPECT_EQ(after.Entities[i].LineType, 0) << Describe(after);
        EXPECT_EQ(after.Entities[i].X1, before.Entities[i].X1);
        EXPECT_EQ(after.Entities[i].Y2, before.Entities[i].Y2);
    }
    EXPECT_EQ(after.LineTypes.size(), 1u);
}

// Dashes along a circle given as arcs, found by a walk along it however far
// their boxes reach past the cells of their middles (dashes of 240 px) and
// wherever they stand (wholly off the sheet and the margin about it).
TEST(LineTypes, LongDashesAndDashesOffTheSheetMakeOneCircle)
{
    const TBlackMask ink(1000, 1000);
    for (const double cx : {500.0, -900.0}) {
        SCOPED_TRACE(cx);
        TDrawing d;
        // Eight dashes of 240 px round a circle of radius 400, gaps of 74 px.
        const double step = 360.0 / 8, sweep = 240 / 400.0 / kDegree;
        for (int k = 0; k < 8; ++k)
            d.Entities.push_back(TDrawingEntity::MakeArc(cx, 500, 400, k * step, k * step + sweep));
        FindLineTypes(d, ink, 1);
        ASSERT_EQ(d.Entities.size(), 1u) << Describe(d);
        const TDrawingEntity &e = d.Entities[0];
        EXPECT_EQ(e.Kind, TEntityKind::Circle) << Describe(d);
        EXPECT_EQ(d.LineTypes[static_cast<std::size_t>(e.LineType)].toStdString(), "DASHED") << Describe(d);
        EXPECT_NEAR(e.X1, cx, 0.01);
        EXPECT_NEAR(e.Y1, 500, 0.01);
        EXPECT_NEAR(e.R, 400, 0.01);
    }
}

// A walk that comes onto pieces abutting one after another for far longer
// than a dash stops there (a solid line the junctions cut): the line's 36
// pieces of 50 px stay as they are, while dashes of 150 px each cut in
// three abutting pieces still make one dashed line.
TEST(LineTypes, DashesCutInAbuttingPiecesAreOneLineAndASolidLineCutSoIsNot)
{
    const TBlackMask ink(2000, 400);
    TDrawing d;
    for (int k = 0; k < 8; ++k)
        for (int j = 0; j < 3; ++j) {
            const double x = 50 + 190 * k + 50 * j;
            d.Entities.push_back(TDrawingEntity::MakeLine(x, 200, x + 50, 200));
        }
    for (int k = 0; k < 36; ++k)
        d.Entities.push_back(TDrawingEntity::MakeLine(50 + 50 * k, 100, 100 + 50 * k, 100));
    FindLineTypes(d, ink, 1);
    ASSERT_EQ(d.Entities.size(), 37u) << Describe(d);
    std::size_t dashed = 0;
    for (const TDrawingEntity &e : d.Entities) {
        if (e.LineType == 0) {
            EXPECT_EQ(e.Y1, 100) << Describe(d);
            continue;
        }
        ++dashed;
        EXPECT_EQ(d.LineTypes[static_cast<std::size_t>(e.LineType)].toStdString(), "DASHED") << Describe(d);
        EXPECT_NEAR(std::min(e.X1, e.X2), 50, 1) << Describe(d);
        EXPECT_NEAR(std::max(e.X1, e.X2), 1530, 1) << Describe(d);
        EXPECT_NEAR(e.Y1, 200, 0.01);
    }
    EXPECT_EQ(dashed, 1u);
}

// Specks are searched in bands of lines on the threads, of 256 lines at
// least: ink across a band's border is one piece of ink. Blobs 12 px wide
// in a row across the first border of a sheet of four bands make a dotted
// line when they are 20 px tall, and nothing when they are 40 px tall (too
// tall for dots, though each half would be one).
TEST(LineTypes, SpecksAcrossTheBandsOfTheSearchAreWhole)
{
    const int height = 1100, border = 275;
    for (const int tall : {20, 40})
        for (const int threads : {1, 3}) {
            SCOPED_TRACE(std::to_string(tall) + " px tall, " + std::to_string(threads) + " threads");
            TBlackMask ink(400, height);
            for (int left = 20; left + 12 <= 380; left += 30)
                for (int row = border - tall / 2; row < border + tall / 2; ++row)
                    for (int x = left; x < left + 12; ++x)
                        ink.SetBlack(x, row);
            TDrawing d;
            FindLineTypes(d, ink, 1, threads);
            if (tall == 40) {
                EXPECT_TRUE(d.Entities.empty()) << Describe(d);
                continue;
            }
            ASSERT_EQ(d.Entities.size(), 1u) << Describe(d);
            const TDrawingEntity &e = d.Entities[0];
            EXPECT_EQ(e.Kind, TEntityKind::Line);
            EXPECT_EQ(d.LineTypes[static_cast<std::size_t>(e.LineType)].toStdString(), "DOT") << Describe(d);
            // Through the blobs' middles, from the first to the last and on
            // by half a dot's size less half its width (20 / 2 - 12 / 2).
            const double y = height - (border - 0.5);
            EXPECT_NEAR(e.Y1, y, 0.01) << Describe(d);
            EXPECT_NEAR(e.Y2, y, 0.01) << Describe(d);
            EXPECT_NEAR(std::min(e.X1, e.X2), 25.5 - 4, 0.01) << Describe(d);
            EXPECT_NEAR(std::max(e.X1, e.X2), 355.5 + 4, 0.01) << Describe(d);
        }
}

TEST(LineTypes, PatternedLinesNearAnAxisSnapAboutTheirMiddle)
{
    TDrawing drawing;
    drawing.Entities = {TDrawingEntity::MakeLine(10, 20, 210, 22),    // 0.57 degrees
                        TDrawingEntity::MakeLine(50, 10, 47, 110),    // 1.7 degrees
                        TDrawingEntity::MakeLine(0, 0, 100, 10),      // 5.7 degrees
                        TDrawingEntity::MakeLine(10, 50, 210, 52),    // continuous
                        TDrawingEntity::MakeArc(0, 0, 10, 0, 90)};
    const std::int32_t dashed = drawing.AddLineType("DASHED", QStringLiteral("破線"), {12, -4});
    for (int k : {0, 1, 2, 4})
        drawing.Entities[static_cast<std::size_t>(k)].LineType = dashed;
    const TDrawing before = drawing;
    SnapPatternedLines(drawing, 2);
    const std::vector<std::array<double, 4>> expected = {
        {10, 21, 210, 21}, {48.5, 10, 48.5, 110}, {0, 0, 100, 10}, {10, 50, 210, 52}, {0, 0, 0, 0}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const TDrawingEntity &e = drawing.Entities[k];
        if (e.Kind == TEntityKind::Line)
            EXPECT_EQ((std::array<double, 4>{e.X1, e.Y1, e.X2, e.Y2}), expected[k]) << k;
        else
            EXPECT_EQ(e.R, before.Entities[k].R);
    }
}

} // namespace
