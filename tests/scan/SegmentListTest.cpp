#include "scan/SegmentList.h"

#include <gtest/gtest.h>

namespace {

class SegmentListTest : public ::testing::Test
{
protected:
    // Appends n segments whose coordinates tell their number.
    void Append(int n)
    {
        for (int i = 0; i < n; ++i) {
            const auto k = static_cast<float>(State.SegmentCount);
            State.AddSegment(k, 1, k + 1, 2);
        }
    }

    TSegmentList State;
};

TEST_F(SegmentListTest, BufferStartsAt1024AndGrowsBy1024KeepingEarlierRecords)
{
    ASSERT_TRUE(State.ResetSegments());
    EXPECT_EQ(State.SegmentCapacity, 1024);
    EXPECT_EQ(State.SegmentCount, 0);
    State.ImageHeight = 10;
    Append(1024);
    EXPECT_EQ(State.SegmentCapacity, 1024);
    Append(1);
    EXPECT_EQ(State.SegmentCapacity, 2048);
    Append(1023);
    EXPECT_EQ(State.SegmentCapacity, 2048);
    Append(1);
    EXPECT_EQ(State.SegmentCount, 2049);
    EXPECT_EQ(State.SegmentCapacity, 3072);
    for (int i = 0; i < State.SegmentCount; ++i) {
        const TSegment &s = State.Segments()[i];
        ASSERT_EQ(s.X1, float(i)) << i;
        ASSERT_EQ(s.Y1, 9.0f) << i;
        ASSERT_EQ(s.X2, float(i + 1)) << i;
        ASSERT_EQ(s.Y2, 8.0f) << i;
    }
    EXPECT_FALSE(State.OutOfMemory);

    // A new conversion starts from 1024 records again.
    ASSERT_TRUE(State.ResetSegments());
    EXPECT_EQ(State.SegmentCapacity, 1024);
    EXPECT_EQ(State.SegmentCount, 0);
}

TEST_F(SegmentListTest, RowsAreFlippedAndOnlyTheSecondPointRaisesTheExtents)
{
    ASSERT_TRUE(State.ResetSegments());
    State.ImageHeight = 100;
    State.StartExtents(50, 100);
    EXPECT_EQ(State.MaxX, 50.0f);
    EXPECT_EQ(State.MaxY, 100.0f);
    EXPECT_EQ(State.MinX, 0.0f);
    EXPECT_EQ(State.MinY, 0.0f);
    State.AddSegment(70, 130, 10, 5);   // the first point lies beyond: no effect
    EXPECT_EQ(State.MaxX, 50.0f);
    EXPECT_EQ(State.MaxY, 100.0f);
    State.AddSegment(0, 0, 60, 120);    // the row as passed in, not the flipped Y
    EXPECT_EQ(State.MaxX, 60.0f);
    EXPECT_EQ(State.MaxY, 120.0f);
    EXPECT_EQ(State.Segments()[0].Y1, -30.0f);
    EXPECT_EQ(State.Segments()[0].Y2, 95.0f);
    EXPECT_EQ(State.Segments()[1].Y2, -20.0f);
}

TEST_F(SegmentListTest, FailedGrowthEmptiesTheListAndSaysSoUntilTheNextStart)
{
    ASSERT_TRUE(State.ResetSegments());
    State.CapacityLimit = 2048;
    Append(2048);
    EXPECT_FALSE(State.OutOfMemory);
    Append(1);
    EXPECT_TRUE(State.OutOfMemory);
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(State.SegmentCapacity, 0);
    State.CapacityLimit = 4096;
    ASSERT_TRUE(State.ResetSegments());
    EXPECT_FALSE(State.OutOfMemory);
}

TEST_F(SegmentListTest, FailedStart)
{
    State.CapacityLimit = 1000;
    EXPECT_FALSE(State.ResetSegments());
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(State.SegmentCapacity, 0);
}

} // namespace
