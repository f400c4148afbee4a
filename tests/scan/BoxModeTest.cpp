#include "ScanFixture.h"

namespace {

using SegList = std::vector<TSeg>;

class BoxModeTest : public ScanFixture
{
};

TEST_F(BoxModeTest, SinglePixelGivesFourUnitEdges)
{
    TTzDIB dib = WhitePicture(10, 10);
    Black(dib, 3, 4);
    EXPECT_EQ(TraceBoxes(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{3, 6, 4, 6}, {3, 5, 4, 5}, {3, 6, 3, 5}, {4, 6, 4, 5}}));
}

TEST_F(BoxModeTest, FilledRectangleGivesItsOutlineOneSegmentASide)
{
    TTzDIB dib = WhitePicture(12, 12);
    BlackRect(dib, 2, 3, 5, 7);
    EXPECT_EQ(TraceBoxes(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{2, 9, 6, 9}, {2, 4, 6, 4}, {2, 9, 2, 4}, {6, 9, 6, 4}}));
}

TEST_F(BoxModeTest, PixelsTouchingAtACornerGiveOutlinesMeetingThere)
{
    TTzDIB dib = WhitePicture(6, 6);
    Black(dib, 2, 2);
    Black(dib, 3, 3);
    EXPECT_EQ(TraceBoxes(dib), ScanDone);
    // Boundary 3 (Y = 3) and boundary 3 (X = 3) pass through the shared corner (3, 3).
    EXPECT_EQ(Segs(), (SegList{{2, 4, 3, 4}, {2, 3, 4, 3}, {3, 2, 4, 2},
                               {2, 4, 2, 3}, {3, 4, 3, 2}, {4, 3, 4, 2}}));
}

TEST_F(BoxModeTest, BottomRightCornerPixelGivesItsBottomAndRightEdgesTwice)
{
    TTzDIB dib = WhitePicture(5, 4);
    Black(dib, 4, 3);
    EXPECT_EQ(TraceBoxes(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{4, 1, 5, 1}, {4, 0, 5, 0}, {4, 0, 5, 0},
                               {4, 1, 4, 0}, {5, 1, 5, 0}, {5, 1, 5, 0}}));
}

TEST_F(BoxModeTest, TopLeftCornerPixelAndAFullRow)
{
    TTzDIB corner = WhitePicture(3, 3);
    Black(corner, 0, 0);
    EXPECT_EQ(TraceBoxes(corner), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{0, 2, 1, 2}, {0, 3, 1, 3}, {1, 3, 1, 2}, {0, 3, 0, 2}}));

    // A run that reaches the far border ends on it.
    TTzDIB row = WhitePicture(4, 3);
    BlackRect(row, 0, 1, 3, 1);
    EXPECT_EQ(TraceBoxes(row), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{0, 2, 4, 2}, {0, 1, 4, 1}, {4, 2, 4, 1}, {0, 2, 0, 1}, {4, 2, 4, 1}}));
    EXPECT_EQ(State.MaxX, 4.0f);
    EXPECT_EQ(State.MaxY, 3.0f);
}

TEST_F(BoxModeTest, AllWhiteGivesNothingAndTheProgressRunsToWidthPlusHeightPlusFour)
{
    EXPECT_EQ(TraceBoxes(WhitePicture(21, 13)), ScanDone);
    EXPECT_TRUE(Segs().empty());
    EXPECT_EQ(UI.ProgressMaximum, 21 + 13 + 4);
    EXPECT_EQ(UI.ProgressPosition, 21 + 13 + 4);
    EXPECT_EQ(UI.Pumps, 21 + 13 + 4);
}

TEST_F(BoxModeTest, CancelStopsWithStatusFive)
{
    TTzDIB dib = WhitePicture(10, 10);
    BlackRect(dib, 2, 2, 3, 3);
    BlackRect(dib, 6, 6, 7, 7);
    State.ResetSegments();
    UI.ShowProgress(QString(), QString(), true);
    // Cancel while the fifth row is scanned: the boundaries below rows 0 to 3 are kept.
    UI.OnProcessMessages = [&] {
        if (UI.Pumps == 5)
            UI.PressCancel();
    };
    EXPECT_EQ(TraceBoxes(dib), ScanStopped);
    EXPECT_EQ(Segs(), (SegList{{2, 8, 4, 8}, {2, 6, 4, 6}}));
    EXPECT_EQ(UI.Pumps, 5);
}

TEST_F(BoxModeTest, GrowthFailureStops)
{
    TTzDIB dib = WhitePicture(64, 64);
    for (int y = 0; y < 64; y += 2)
        for (int x = 0; x < 64; x += 2)
            Black(dib, x, y);
    State.CapacityLimit = 1024;
    EXPECT_EQ(TraceBoxes(dib), ScanOutOfMemory);
    EXPECT_TRUE(State.OutOfMemory);
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(Driver.ScanData2(Save(dib)), ScanStopped);
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("メモリが確保出来ませんでした。")});
}

} // namespace
