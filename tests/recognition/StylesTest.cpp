#include "cleanup/Centerline.h"
#include "recognition/PaintedSheet.h"
#include "recognition/Recognition.h"
#include "recognition/Styles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace {

// Rows grow downward in the mask; the drawing's Y is height - row.
struct TStyleSheet : TPaintedSheet
{
    TStyleSheet() { Ink = TBlackMask(360, 240); }

    // Pixel rectangle: columns x0 .. x1, drawing rows y0 .. y1 (Y upward).
    void Box(int x0, int y0, int x1, int y1)
    {
        Paint([=](int x, int y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; });
    }
    void Disk(double cx, double cy, double r)
    {
        Paint([=](int x, int y) { return std::hypot(x - cx, y - cy) <= r; });
    }
    // The pipeline of --fills and --widths on this ink, as the geometry
    // filters run it with --snap (`join`: the lines meet in the dots).
    TDrawing Run(TFills &fills, bool join = true) const
    {
        fills = FindFills(Ink);
        TBlackMask strokes = Ink;
        for (int y = 0; y < strokes.Height(); ++y)
            for (int i = 0; i < strokes.Words(); ++i)
                strokes.Line(y)[i] &= ~fills.Mask.Line(y)[i];
        TGeometryOptions options;
        options.Tolerance = 1;
        options.Snap = 1;
        if (join)
            for (const TDrawingFill &f : fills.Shapes)
                if (f.Dot)
                    options.Dots.push_back({f.X, f.Y, f.R});
        TDrawing d = RecogniseDrawing(Centerline(strokes), Ink, options);
        const TInkFrame frame{Ink.Width(), Ink.Height(), 0};
        TDrawing fromPacked = d;
        ExtendIntoFills(d, fills, frame, join);
        // (the fills' mask read packed: the same ends)
        ExtendIntoFills(fromPacked, fills.Shapes, TPackedMask(fills.Mask), frame, join);
        EXPECT_EQ(fromPacked.Entities.size(), d.Entities.size());
        for (std::size_t k = 0; k < std::min(d.Entities.size(), fromPacked.Entities.size()); ++k) {
            const TDrawingEntity &a = d.Entities[k], &b = fromPacked.Entities[k];
            EXPECT_TRUE(a.X1 == b.X1 && a.Y1 == b.Y1 && a.X2 == b.X2 && a.Y2 == b.Y2) << k;
        }
        MeasureWidths(d, Ink, frame);
        d.WidthLayers = true;
        return d;
    }
};

double Length(const TDrawingEntity &e)
{
    return std::hypot(e.X2 - e.X1, e.Y2 - e.Y1);
}

TEST(Styles, TwoWidthsGiveTwoLayersWithTheirLines)
{
    // Three thin lines (2 px) and two thick ones (6 px), none touching.
    TStyleSheet sheet;
    sheet.Box(20, 20, 300, 21);
    sheet.Box(20, 60, 300, 61);
    sheet.Box(20, 100, 21, 220);
    sheet.Box(60, 140, 320, 145);
    sheet.Box(340, 20, 345, 220);
    TFills fills;
    const TDrawing d = sheet.Run(fills);
    EXPECT_TRUE(fills.Shapes.empty());
    ASSERT_EQ(d.Entities.size(), 5u);

    struct TCase
    {
        const char *Name;
        double Scale;
        std::vector<double> Given;
        std::vector<double> Widths;
    };
    const TCase cases[] = {
        {"found", 1, {}, {2, 6}},
        {"found at half scale", 0.5, {}, {1, 3}},
        {"given", 1, {0.35, 1.4, 8}, {0.35, 1.4, 8}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TDrawing drawing = d;
        drawing.WidthClasses = c.Given;
        const TWidthLayers layers = drawing.WidthLayersAt(c.Scale);
        ASSERT_EQ(layers.Widths.size(), c.Widths.size());
        for (std::size_t k = 0; k < c.Widths.size(); ++k)
            EXPECT_NEAR(layers.Widths[k], c.Widths[k], 0.26);
        const int thin = c.Given.empty() ? 0 : 1, thick = c.Given.empty() ? 1 : 2;
        for (std::size_t k = 0; k < d.Entities.size(); ++k) {
            const TDrawingEntity &e = d.Entities[k];
            const bool isThick = std::fabs(e.Y1 - 142.5) < 1 || std::fabs(e.X1 - 342.5) < 1;
            EXPECT_EQ(layers.Class[k], isThick ? thick : thin) << k << " width " << e.Width;
        }
    }
    EXPECT_EQ(WidthLayerName(0.5), QStringLiteral("線幅0.50"));
    EXPECT_EQ(WidthLayerName(0.25), QStringLiteral("線幅0.25"));
}

TEST(Styles, AJunctionDotIsOneFilledCircleAndItsWiresMeetInIt)
{
    // A 3-px wire with a branch, a dot of radius 9 where they meet.
    TStyleSheet sheet;
    sheet.Box(20, 119, 320, 121);
    sheet.Box(169, 20, 171, 120);
    sheet.Disk(170, 120, 9);
    TFills fills;
    // The wires meet in the dot: the wire through it is one line, exactly
    // along its axis, and the branch ends on it.
    const TDrawing joined = sheet.Run(fills);
    ASSERT_EQ(joined.Entities.size(), 2u);
    const TDrawingEntity &wire = joined.Entities[0].Y1 == joined.Entities[0].Y2 ? joined.Entities[0] : joined.Entities[1];
    const TDrawingEntity &branch = &wire == &joined.Entities[0] ? joined.Entities[1] : joined.Entities[0];
    EXPECT_EQ(wire.Y1, wire.Y2);
    EXPECT_NEAR(std::min(wire.X1, wire.X2), 20, 1.5);
    EXPECT_NEAR(std::max(wire.X1, wire.X2), 320, 1.5);
    EXPECT_NEAR(wire.Y1, 120, 0.5);
    EXPECT_EQ(branch.X1, branch.X2);
    EXPECT_NEAR(branch.X1, 170, 0.5);
    EXPECT_EQ(std::max(branch.Y1, branch.Y2), wire.Y1);
    EXPECT_NEAR(std::min(branch.Y1, branch.Y2), 20, 1.5);

    const TDrawing d = sheet.Run(fills, false);
    ASSERT_EQ(fills.Shapes.size(), 1u);
    const TDrawingFill &dot = fills.Shapes[0];
    ASSERT_TRUE(dot.Dot);
    EXPECT_NEAR(dot.X, 170, 0.3);
    EXPECT_NEAR(dot.Y, 120, 0.3);
    // A disk of radius 9 on the pixel grid holds 253 pixels: radius sqrt(253 / pi).
    EXPECT_NEAR(dot.R, 9, 0.3);
    // Not joined, the wires are lines that reach the dot's centre, nothing
    // scribbles inside it.
    double total = 0;
    for (const TDrawingEntity &e : d.Entities) {
        ASSERT_EQ(e.Kind, TEntityKind::Line);
        total += Length(e);
        for (const double t : {0.3, 0.5, 0.7}) {
            const double x = e.X1 + t * (e.X2 - e.X1), y = e.Y1 + t * (e.Y2 - e.Y1);
            EXPECT_GT(std::hypot(x - 170, y - 120), 2) << "a piece inside the dot";
        }
    }
    EXPECT_NEAR(total, 300 + 100, 6);
    for (const TDrawingEntity &e : d.Entities)
        EXPECT_NEAR(e.Width, 3, 0.5);
}

TEST(Styles, ABlobTooSmallForAFillStaysOutOfTheDotItHangsFrom)
{
    // A dot on a wire, and above it a 6 x 6 blob (its core too small for a
    // fill) hung from the dot by a one-pixel stroke: the stroke is a narrow
    // part of the dot, the blob is none of it.
    TStyleSheet sheet;
    sheet.Box(20, 60, 320, 62);
    sheet.Disk(170, 120, 9);
    sheet.Box(170, 130, 170, 132);
    sheet.Box(168, 132, 173, 137);
    const TFills fills = FindFills(sheet.Ink);
    ASSERT_EQ(fills.Shapes.size(), 1u);
    const int h = sheet.Ink.Height();
    EXPECT_TRUE(fills.Mask.Black(170, h - 120));
    EXPECT_TRUE(fills.Mask.Black(170, h - 130));
    // (its rim may go with the stroke)
    for (int y = 133; y <= 136; ++y)
        for (int x = 169; x <= 172; ++x)
            EXPECT_FALSE(fills.Mask.Black(x, h - y)) << x << ", " << y;
}

TEST(Styles, AFewThickDashesAmongThinLinesAreNoFills)
{
    // The thick dashes hold too few of the ridges to set the lines' depth by
    // themselves, but the depths from the thinnest lines up to theirs are all there.
    TStyleSheet sheet;
    for (int y = 140; y <= 236; y += 8)
        sheet.Box(20, y, 340, y + 1);
    sheet.Box(20, 120, 340, 123);
    sheet.Box(20, 100, 340, 105);
    for (int x = 20; x < 340; x += 80)
        sheet.Box(x, 60, x + 60, 66);
    TFills fills;
    sheet.Run(fills);
    EXPECT_TRUE(fills.Shapes.empty()) << fills.Shapes.size();
}

TEST(Styles, ASolidRectangleAndATriangleAreCoveredBySolids)
{
    struct TCase
    {
        const char *Name;
        std::function<void(TStyleSheet &)> Draw;
        std::function<bool(int, int)> Inside;
        std::size_t MostPieces;
        double Slack = 0.5;   // how far off a piece a pixel of the shape may be
    };
    const TCase cases[] = {
        {"rectangle between lines",
         [](TStyleSheet &s) {
             // (a drawing is mostly lines: their depth is the one most ridges have)
             s.Box(100, 50, 179, 89);
             for (int y = 110; y <= 230; y += 20)
                 s.Box(20, y, 340, y + 1);
         },
         [](int x, int y) { return x >= 100 && x <= 179 && y >= 50 && y <= 89; }, 1},
        {"arrowhead on its shaft",
         [](TStyleSheet &s) {
             s.Box(40, 119, 300, 120);
             s.Paint([](int x, int y) { return x >= 40 && x <= 80 && std::abs(y - 119.5) <= (x - 40) * 0.3; });
         },
         // the point of the arrow is as wide as its shaft
         [](int x, int y) {
             return x >= 40 && x <= 80 && (std::abs(y - 119.5) <= (x - 40) * 0.3 || y == 119 || y == 120);
         },
         6},
        // The scan broke the shaft just past the head: the bit between is
        // the shaft's, no narrow part of the head.
        {"arrowhead on a shaft broken by it",
         [](TStyleSheet &s) {
             s.Box(40, 119, 87, 120);
             s.Box(90, 119, 300, 120);
             s.Paint([](int x, int y) { return x >= 40 && x <= 80 && std::abs(y - 119.5) <= (x - 40) * 0.3; });
         },
         [](int x, int y) {
             return x >= 40 && x <= 80 && (std::abs(y - 119.5) <= (x - 40) * 0.3 || y == 119 || y == 120);
         },
         6},
        // The scan parted the point from the head by a column of paper: it
        // is covered all the same (to within a pixel, as the head's rows
        // then fit in two tracks).
        {"arrowhead with its point parted",
         [](TStyleSheet &s) {
             s.Paint([](int x, int y) {
                 return x != 43 && x >= 40 && x <= 300 &&
                     (y == 119 || y == 120 || (x <= 80 && std::abs(y - 119.5) <= (x - 40) * 0.3));
             });
         },
         [](int x, int y) {
             return x != 43 && x >= 40 && x <= 80 && (std::abs(y - 119.5) <= (x - 40) * 0.3 || y == 119 || y == 120);
         },
         7, 1.0},
        // Its rows all start at one column, the foot's end further on.
        {"an L",
         [](TStyleSheet &s) {
             s.Box(100, 10, 139, 90);
             s.Box(100, 10, 169, 49);
             for (int y = 110; y <= 230; y += 20)
                 s.Box(20, y, 340, y + 1);
         },
         [](int x, int y) { return x >= 100 && y >= 10 && (x <= 139 ? y <= 90 : x <= 169 && y <= 49); }, 2},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TStyleSheet sheet;
        c.Draw(sheet);
        TFills fills;
        const TDrawing d = sheet.Run(fills);
        ASSERT_EQ(fills.Shapes.size(), 1u) << d.Entities.size();
        const TDrawingFill &f = fills.Shapes[0];
        EXPECT_FALSE(f.Dot);
        EXPECT_GE(f.Solids.size(), 1u);
        EXPECT_LE(f.Solids.size(), c.MostPieces);
        // Every pixel of the shape is under a piece, and every piece lies
        // within a pixel of the shape.
        const auto inPiece = [&](double x, double y, double slack) {
            for (const auto &q : f.Solids) {
                const double top = q[1], bottom = q[5];
                if (y > top + slack || y < bottom - slack)
                    continue;
                const double t = (top - y) / (top - bottom);
                const double left = q[0] + t * (q[4] - q[0]), right = q[2] + t * (q[6] - q[2]);
                if (x >= left - slack && x <= right + slack)
                    return true;
            }
            return false;
        };
        int missed = 0, stray = 0;
        for (int y = 0; y <= sheet.Ink.Height(); ++y)
            for (int x = 0; x < sheet.Ink.Width(); ++x) {
                if (c.Inside(x, y) && !inPiece(x, y, c.Slack))
                    ++missed;
                bool near = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        near = near || c.Inside(x + dx, y + dy);
                if (!near && inPiece(x, y, 0))
                    ++stray;
            }
        EXPECT_EQ(missed, 0);
        EXPECT_EQ(stray, 0);
        // The outline closes: every corner is the end of two of its segments.
        EXPECT_GE(f.Outline.size(), 3u);
        if (std::string(c.Name) == "arrowhead on its shaft") {
            // The shaft is one line from the far end to the arrow's point.
            ASSERT_EQ(d.Entities.size(), 1u);
            const TDrawingEntity &e = d.Entities[0];
            EXPECT_NEAR(std::min(e.X1, e.X2), 40, 2.5);
            EXPECT_NEAR(std::max(e.X1, e.X2), 300, 1.5);
        }
    }
}

TEST(Styles, SolidShapesAmongLinesAreFillsToThePixel)
{
    // Shapes far deeper than the 2-px lines beside them are fills of exactly
    // their pixels, wherever they lie on the sheet (360 pixels wide: its
    // lines' last words are part-filled) and however their rows run.
    struct TCase
    {
        const char *Name;
        std::function<void(TStyleSheet &)> Draw;
    };
    const TCase cases[] = {
        {"a block on the right edge", [](TStyleSheet &s) { s.Box(300, 100, 359, 160); }},
        {"a block in the corner", [](TStyleSheet &s) { s.Box(0, 0, 70, 50); }},
        {"a block deeper than every erosion, top to bottom", [](TStyleSheet &s) { s.Box(60, 0, 190, 239); }},
        {"two blocks that meet at a corner", [](TStyleSheet &s) {
             s.Box(100, 100, 139, 139);
             s.Box(140, 140, 179, 179);
         }},
        {"a U", [](TStyleSheet &s) {
             s.Box(100, 60, 115, 110);
             s.Box(150, 60, 165, 110);
             s.Box(100, 60, 165, 75);
         }},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TStyleSheet shape;
        c.Draw(shape);
        TStyleSheet sheet = shape;
        for (int x = 240; x <= 296; x += 4)
            sheet.Box(x, 10, x + 1, 230);
        const TFills fills = FindFills(sheet.Ink);
        EXPECT_EQ(fills.Shapes.size(), 1u);
        for (int y = 0; y < sheet.Ink.Height(); ++y)
            for (int i = 0; i < sheet.Ink.Words(); ++i)
                ASSERT_EQ(fills.Mask.Line(y)[i], shape.Ink.Line(y)[i]) << "row " << y << ", word " << i;
    }
}

TEST(Styles, AStrokeAlongAnAxisMeasuresItsWidthFromAnyLineOnIt)
{
    // The walks across a stroke w pixels wide step a quarter pixel from
    // half a step off the line: together w, wherever on the stroke the line
    // lies, at the sheet's edges too.
    const int width = 360, height = 240;
    for (const int w : {1, 2, 3, 4, 6})
        for (const bool upright : {true, false})
            for (const int first : {0, 101, (upright ? width : height) - w}) {
                SCOPED_TRACE(testing::Message() << w << " px, " << (upright ? "column " : "row ") << first);
                TStyleSheet sheet;
                if (upright)
                    sheet.Box(first, 20, first + w - 1, 220);
                else
                    sheet.Paint([&](int, int y) { return y > height - first - w && y <= height - first; });
                // A line every tenth of a pixel in from the edge of the
                // stroke's first pixel.
                TDrawing d;
                for (int tenth = 1; tenth < 10 * w; ++tenth) {
                    const double across = first - 0.5 + tenth / 10.0;
                    d.Entities.push_back(upright ? TDrawingEntity::MakeLine(across, 30, across, 210)
                                                 : TDrawingEntity::MakeLine(30, height - across, 330, height - across));
                }
                MeasureWidths(d, sheet.Ink, TInkFrame{width, height, 0});
                for (std::size_t k = 0; k < d.Entities.size(); ++k)
                    EXPECT_EQ(d.Entities[k].Width, static_cast<float>(w)) << k + 1 << " tenths in";
            }
}

} // namespace

TEST(Styles, FillsAndWidthsAreTheSameForEveryThreadCount)
{
    struct TCase
    {
        const char *Name;
        std::function<void(TStyleSheet &)> Draw;
    };
    const TCase cases[] = {
        {"a solid rectangle and a dot across the seams of the threads' bands of lines, among lines",
         [](TStyleSheet &s) {
             s.Box(100, 50, 179, 89);
             s.Disk(250, 160, 9);
             for (int y = 110; y <= 230; y += 20)
                 s.Box(20, y, 340, y + 1);
         }},
        // (the lines' depth read off ridges deep down, near every seam)
        {"a busy sheet: strokes 1 to 9 pixels wide, blocks and dots all over", [](TStyleSheet &s) {
             for (int i = 0; i < 24; ++i) {
                 const double x = 20 + (37 * i) % 320, y = 10 + (53 * i) % 220, w = 1 + i % 9;
                 const double dx = std::cos(0.7 * i), dy = std::sin(0.7 * i);
                 s.Paint([=](int px, int py) {
                     const double along = (px - x) * dx + (py - y) * dy;
                     return along >= 0 && along <= 60 && std::fabs((px - x) * dy - (py - y) * dx) <= w / 2.0;
                 });
             }
             for (int i = 0; i < 12; ++i) {
                 const int x = 10 + (71 * i) % 330, y = 5 + (43 * i) % 220, side = 10 + (7 * i) % 30;
                 if (i % 2)
                     s.Box(x, y, x + side, y + side);
                 else
                     s.Disk(x, y, side / 2.0);
             }
         }},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TStyleSheet sheet;
        c.Draw(sheet);
        const TFills one = FindFills(sheet.Ink, 1);
        ASSERT_GE(one.Shapes.size(), 2u);
        for (const int threads : {2, 3, 5, 8}) {
            SCOPED_TRACE(threads);
            const TFills many = FindFills(sheet.Ink, threads);
            for (int y = 0; y < sheet.Ink.Height(); ++y)
                ASSERT_TRUE(std::equal(one.Mask.Line(y), one.Mask.Line(y) + one.Mask.Words(), many.Mask.Line(y))) << y;
            ASSERT_EQ(many.Shapes.size(), one.Shapes.size());
            for (std::size_t k = 0; k < one.Shapes.size(); ++k) {
                EXPECT_EQ(many.Shapes[k].Dot, one.Shapes[k].Dot);
                EXPECT_EQ(many.Shapes[k].X, one.Shapes[k].X);
                EXPECT_EQ(many.Shapes[k].Y, one.Shapes[k].Y);
                EXPECT_EQ(many.Shapes[k].R, one.Shapes[k].R);
                EXPECT_EQ(many.Shapes[k].Solids, one.Shapes[k].Solids);
            }
        }
        TFills fills;
        const TDrawing measured = sheet.Run(fills);
        ASSERT_GE(measured.Entities.size(), 7u);
        TDrawing again = measured;
        for (TDrawingEntity &e : again.Entities)
            e.Width = 0;
        MeasureWidths(again, sheet.Ink, TInkFrame{sheet.Ink.Width(), sheet.Ink.Height(), 0}, 3);
        for (std::size_t i = 0; i < measured.Entities.size(); ++i)
            EXPECT_EQ(again.Entities[i].Width, measured.Entities[i].Width) << i;
    }
}
