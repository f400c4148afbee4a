#include "drawing/Drawing.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

namespace {

struct TBoundsCase
{
    TDrawingEntity Entity;
    double MinX, MinY, MaxX, MaxY;
};

TEST(Drawing, BoundsHoldTheQuadrantPointsAnArcPasses)
{
    const TBoundsCase cases[] = {
        {TDrawingEntity::MakeLine(5, 7, 1, 9), 1, 7, 5, 9},
        {TDrawingEntity::MakeCircle(10, 20, 5), 5, 15, 15, 25},
        // 0 .. 90: only its ends.
        {TDrawingEntity::MakeArc(0, 0, 10, 0, 90), 0, 0, 10, 10},
        // 45 .. 135 passes 90.
        {TDrawingEntity::MakeArc(0, 0, 10, 45, 135), -10 / std::sqrt(2.0), 10 / std::sqrt(2.0), 10 / std::sqrt(2.0), 10},
        // 270 .. 90 through 0 (wraps).
        {TDrawingEntity::MakeArc(0, 0, 10, 270, 90), 0, -10, 10, 10},
    };
    for (const TBoundsCase &c : cases) {
        double minX = 0, minY = 0, maxX = 0, maxY = 0;
        c.Entity.Bounds(minX, minY, maxX, maxY);
        EXPECT_NEAR(minX, c.MinX, 1e-9);
        EXPECT_NEAR(minY, c.MinY, 1e-9);
        EXPECT_NEAR(maxX, c.MaxX, 1e-9);
        EXPECT_NEAR(maxY, c.MaxY, 1e-9);
    }
}

TEST(Drawing, ArcsBecomeJoinedChordsWithinTheTolerance)
{
    for (const double tolerance : {0.25, 1.0, 3.0}) {
        for (const TDrawingEntity &arc : {TDrawingEntity::MakeArc(100, 50, 40, 300, 30), TDrawingEntity::MakeCircle(0, 0, 500)}) {
            std::vector<TSegment> chords;
            AppendSegments(arc, tolerance, chords);
            ASSERT_GE(chords.size(), arc.Kind == TEntityKind::Circle ? 8u : 2u);
            double x = 0, y = 0;
            arc.StartPoint(x, y);
            EXPECT_NEAR(chords.front().X1, x, 1e-3);
            EXPECT_NEAR(chords.front().Y1, y, 1e-3);
            arc.EndPoint(x, y);
            EXPECT_NEAR(chords.back().X2, x, 1e-3);
            EXPECT_NEAR(chords.back().Y2, y, 1e-3);
            for (std::size_t i = 0; i < chords.size(); ++i) {
                const TSegment &s = chords[i];
                if (i > 0) {
                    EXPECT_EQ(s.X1, chords[i - 1].X2);
                    EXPECT_EQ(s.Y1, chords[i - 1].Y2);
                }
                // Chord ends on the arc, chord middle within the tolerance.
                const double mx = (s.X1 + s.X2) / 2 - arc.X1, my = (s.Y1 + s.Y2) / 2 - arc.Y1;
                EXPECT_NEAR(std::hypot(s.X2 - arc.X1, s.Y2 - arc.Y1), arc.R, 1e-3);
                EXPECT_LE(arc.R - std::hypot(mx, my), tolerance + 1e-3);
            }
        }
    }
}

TEST(Drawing, RotationTurnsPointsAndAnglesAboutTheCentre)
{
    TDrawing drawing;
    drawing.Entities = {TDrawingEntity::MakeLine(10, 0, 20, 0), TDrawingEntity::MakeArc(10, 0, 5, 350, 10)};
    drawing.Rotate(90, 0, 0);
    const TDrawingEntity &line = drawing.Entities[0], &arc = drawing.Entities[1];
    EXPECT_NEAR(line.X1, 0, 1e-12);
    EXPECT_NEAR(line.Y1, 10, 1e-12);
    EXPECT_NEAR(line.X2, 0, 1e-12);
    EXPECT_NEAR(line.Y2, 20, 1e-12);
    EXPECT_NEAR(arc.X1, 0, 1e-12);
    EXPECT_NEAR(arc.Y1, 10, 1e-12);
    EXPECT_DOUBLE_EQ(arc.StartAngle, 80);
    EXPECT_DOUBLE_EQ(arc.EndAngle, 100);
    EXPECT_DOUBLE_EQ(arc.Sweep(), 20);
}

// A plain trace's lines kept as their records read, through the same changes,
// to the bit as the entities made from them.
TEST(Drawing, TracedLinesReadAsTheEntitiesTheyStandFor)
{
    const std::vector<TSegment> records = {
        {0.5f, 1.25f, 300.75f, 2}, {-3, 7, -3, 907.5f}, {12, 12, 12, 12}, {1e4f, 3, 2, 1e4f}};
    TDrawing eager, traced;
    TSegmentList list;
    ASSERT_TRUE(list.ResetSegments());
    list.ImageHeight = 2000;
    ASSERT_TRUE(list.AppendRecords(records.data(), static_cast<std::int32_t>(records.size())));
    traced.Traced.Take(list);
    EXPECT_EQ(list.SegmentCount, 0);
    for (const TSegment &s : records)
        eager.Entities.push_back(TDrawingEntity::MakeLine(s.X1, s.Y1, s.X2, s.Y2));
    // A turn, ends moved and widths given (one line's undone), a second turn.
    const auto change = [](TDrawing &d) {
        d.Rotate(0.7, 500, 400);
        int k = 0;
        d.ChangeEachEntity([&](TDrawingEntity &e) {
            if (k == 1)
                e.Y2 += 2.5;
            if (k == 3)
                e.X1 = -0.0;
            e.Width = k == 2 ? 0.0f : 1.5f + static_cast<float>(k);
            ++k;
        });
        d.ChangeEachEntity([&](TDrawingEntity &e) {
            if (--k == 1)
                e.Y2 -= 2.5;
        });
        d.Rotate(-1.9, 10, -20);
        d.ExtendExtents();
    };
    change(eager);
    change(traced);
    const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    ASSERT_EQ(traced.EntityCount(), eager.EntityCount());
    EXPECT_TRUE(traced.Entities.empty());
    EXPECT_EQ(traced.Count(TEntityKind::Line), records.size());
    // A line changed into a circle counts as one.
    TDrawing turned = traced;
    int n = 0;
    turned.ChangeEachEntity([&](TDrawingEntity &e) {
        if (n++ == 1)
            e = TDrawingEntity::MakeCircle(e.X1, e.Y1, 4);
    });
    EXPECT_EQ(turned.Count(TEntityKind::Circle), 1u);
    EXPECT_EQ(turned.Count(TEntityKind::Line), records.size() - 1);
    EXPECT_EQ(turned.EntityAt(1).Kind, TEntityKind::Circle);
    for (std::size_t k = 0; k < records.size(); ++k) {
        const TDrawingEntity a = eager.EntityAt(k), b = traced.EntityAt(k);
        EXPECT_EQ(bits(a.X1), bits(b.X1)) << k;
        EXPECT_EQ(bits(a.Y1), bits(b.Y1)) << k;
        EXPECT_EQ(bits(a.X2), bits(b.X2)) << k;
        EXPECT_EQ(bits(a.Y2), bits(b.Y2)) << k;
        EXPECT_EQ(a.Width, b.Width) << k;
        EXPECT_EQ(b.Kind, TEntityKind::Line);
    }
    EXPECT_EQ(traced.MinX, eager.MinX);
    EXPECT_EQ(traced.MaxY, eager.MaxY);
    eager.WidthLayers = traced.WidthLayers = true;
    EXPECT_EQ(traced.WidthLayersAt(0.5).Class, eager.WidthLayersAt(0.5).Class);
    // A copy reads the same lines.
    const TDrawing copy = traced;
    EXPECT_EQ(bits(copy.EntityAt(3).X1), bits(traced.EntityAt(3).X1));
}

} // namespace
