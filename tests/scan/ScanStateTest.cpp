#include "support/RecordingUserInterface.h"

#include "scan/ScanState.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

class ScanStateTest : public ::testing::Test
{
protected:
    ScanStateTest() : State(UI) {}

    // Appends n segments whose coordinates tell their number.
    void Append(int n)
    {
        for (int i = 0; i < n; ++i) {
            const auto k = static_cast<float>(State.SegmentCount);
            State.AddSegment(k, 1, k + 1, 2);
        }
    }

    TRecordingUserInterface UI;
    TScanState State;
};

TEST_F(ScanStateTest, RecordsArePackedSixteenBytesApart)
{
    static_assert(sizeof(TSegment) == 16);
    static_assert(offsetof(TSegment, X1) == 0 && offsetof(TSegment, Y1) == 4);
    static_assert(offsetof(TSegment, X2) == 8 && offsetof(TSegment, Y2) == 12);
    ASSERT_TRUE(State.ResetSegments());
    Append(2);
    const auto *bytes = reinterpret_cast<const unsigned char *>(State.Segments());
    EXPECT_EQ(reinterpret_cast<const TSegment *>(bytes + 16)->X1, 1.0f);
}

TEST_F(ScanStateTest, BufferStartsAt1024AndGrowsBy1024KeepingEarlierRecords)
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
    EXPECT_TRUE(UI.Messages.isEmpty());

    // A new conversion starts from 1024 records again.
    ASSERT_TRUE(State.ResetSegments());
    EXPECT_EQ(State.SegmentCapacity, 1024);
    EXPECT_EQ(State.SegmentCount, 0);
}

TEST_F(ScanStateTest, RowsAreFlippedAndOnlyTheSecondPointRaisesTheExtents)
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

TEST_F(ScanStateTest, FailedGrowthEmptiesTheListSetsCancelAndSaysSo)
{
    ASSERT_TRUE(State.ResetSegments());
    State.CapacityLimit = 2048;
    Append(2048);
    EXPECT_FALSE(State.CancelScan);
    Append(1);
    EXPECT_TRUE(State.CancelScan);
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(State.SegmentCapacity, 0);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("メモリが確保出来ませんでした。")});
}

TEST_F(ScanStateTest, FailedStartSaysSo)
{
    State.CapacityLimit = 1000;
    EXPECT_FALSE(State.ResetSegments());
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("メモリが確保出来ませんでした。")});
}

} // namespace
