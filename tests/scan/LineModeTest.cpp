#include "ScanFixture.h"

#include <vector>

namespace {

using SegList = std::vector<TSeg>;

class LineModeTest : public ScanFixture
{
};

TEST_F(LineModeTest, AllWhiteGivesNothingAndTheProgressRunsToThreeWidthsAndThreeHeights)
{
    EXPECT_EQ(TraceLines(WhitePicture(17, 11)), ScanDone);
    EXPECT_TRUE(Segs().empty());
    EXPECT_EQ(UI.ProgressMaximum, 3 * 17 + 3 * 11);
    EXPECT_EQ(UI.ProgressPosition, 3 * 17 + 3 * 11);
    // Pending messages once per scanned line.
    EXPECT_EQ(UI.Pumps, 3 * 17 + 3 * 11);
}

TEST_F(LineModeTest, SinglePixelGivesNothing)
{
    TTzDIB dib = WhitePicture(9, 9);
    Black(dib, 4, 4);
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_TRUE(Segs().empty());
}

TEST_F(LineModeTest, HorizontalStrokeGivesOneRowSegmentAndNoColumnSegment)
{
    TTzDIB dib = WhitePicture(40, 100);
    BlackRect(dib, 10, 5, 20, 5);
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{10, 95, 20, 95}}));
}

TEST_F(LineModeTest, TwoAdjacentPixelsGiveOneSegmentOfLengthOne)
{
    TTzDIB dib = WhitePicture(10, 10);
    Black(dib, 3, 2);
    Black(dib, 4, 2);
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{3, 8, 4, 8}}));
}

TEST_F(LineModeTest, StrokesReachingTheRightAndBottomEdgesEndOnTheLastColumnAndRow)
{
    TTzDIB dib = WhitePicture(70, 66);
    BlackRect(dib, 50, 1, 69, 1);   // to the right edge
    BlackRect(dib, 2, 40, 2, 65);   // to the bottom edge
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{50, 65, 69, 65}, {2, 26, 2, 1}}));
}

TEST_F(LineModeTest, TopRowIsStoredWithYHeightAndBottomRowWithYOne)
{
    TTzDIB dib = WhitePicture(8, 6);
    BlackRect(dib, 1, 0, 3, 0);
    BlackRect(dib, 4, 5, 6, 5);
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{1, 6, 3, 6}, {4, 1, 6, 1}}));
}

TEST_F(LineModeTest, FilledSquareGivesExactlyItsFourBorderLines)
{
    TTzDIB dib = WhitePicture(30, 30);
    BlackRect(dib, 5, 5, 14, 14);
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{5, 25, 14, 25}, {5, 16, 14, 16}, {5, 25, 5, 16}, {14, 25, 14, 16}}));
}

TEST_F(LineModeTest, DiagonalStrokeOffTheCornerDiagonalIsAppendedOnce)
{
    TTzDIB dib = WhitePicture(20, 20);
    for (int i = 0; i <= 6; ++i)
        Black(dib, 5 + i, 2 + i);
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{5, 18, 11, 12}}));
}

TEST_F(LineModeTest, DiagonalStrokeOnTheTopLeftCornerDiagonalIsAppendedTwice)
{
    TTzDIB dib = WhitePicture(20, 20);
    for (int i = 2; i <= 8; ++i)
        Black(dib, i, i);
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{2, 18, 8, 12}, {2, 18, 8, 12}}));
}

TEST_F(LineModeTest, RisingStrokesOnAndOffTheBottomLeftCornerDiagonal)
{
    TTzDIB dib = WhitePicture(12, 10);
    // On the diagonal from (0, 9): (1, 8) ... (4, 5).
    for (int i = 1; i <= 4; ++i)
        Black(dib, i, 9 - i);
    // Off it: (6, 4) ... (8, 2).
    for (int i = 0; i <= 2; ++i)
        Black(dib, 6 + i, 4 - i);
    EXPECT_EQ(TraceLines(dib), ScanDone);
    // Pass 4 meets the diagonal from (0, 9) first, then the one from (3, 9);
    // pass 6 meets the one from (0, 9) again, last.
    EXPECT_EQ(Segs(), (SegList{{1, 2, 4, 5}, {6, 6, 8, 8}, {1, 2, 4, 5}}));
}

TEST_F(LineModeTest, DiagonalStepWithASidewaysNeighbourIsNoStep)
{
    TTzDIB dib = WhitePicture(10, 10);
    Black(dib, 2, 3);
    Black(dib, 3, 4);
    Black(dib, 4, 5);
    Black(dib, 4, 4);  // connects (3, 4) to (4, 5) sideways
    EXPECT_EQ(TraceLines(dib), ScanDone);
    // Row 4: (3, 4)-(4, 4); column 4: (4, 4)-(4, 5); the diagonal keeps only (2, 3)-(3, 4).
    EXPECT_EQ(Segs(), (SegList{{3, 6, 4, 6}, {4, 6, 4, 5}, {2, 7, 3, 6}}));
}

TEST_F(LineModeTest, GreyAndNearBlackStrokesAreBackground)
{
    TTzDIB dib;
    dib.SetBitCount(24);
    dib.SetWidth(20);
    dib.SetHeight(20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            dib.SetPixels(x, y, 0xFFFFFF);
    for (int x = 2; x < 18; ++x) {
        dib.SetPixels(x, 3, 0x010101);  // red, green and blue 1
        dib.SetPixels(x, 6, 0x808080);  // grey
        dib.SetPixels(3, x, 0x000001);
        dib.SetPixels(x, x, 0x010000);
    }
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_TRUE(Segs().empty());

    // The same with a palette: an index whose entry is not exactly 0 is background.
    TTzDIB indexed;
    indexed.SetBitCount(8);
    indexed.SetWidth(20);
    indexed.SetHeight(20);
    indexed.SetPaletteSize(3);
    indexed.SetColors(0, 0xFFFFFF);
    indexed.SetColors(1, 0x010101);
    indexed.SetColors(2, 0);
    for (int x = 2; x < 18; ++x)
        indexed.SetPixels(x, 3, 1);
    for (int x = 2; x < 5; ++x)
        indexed.SetPixels(x, 9, 2);
    EXPECT_EQ(TraceLines(indexed), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{2, 11, 4, 11}}));
}

TEST_F(LineModeTest, OnePixelWideAndOnePixelHighImages)
{
    TTzDIB tall = WhitePicture(1, 10);
    BlackRect(tall, 0, 2, 0, 6);
    EXPECT_EQ(TraceLines(tall), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{0, 8, 0, 4}}));
    EXPECT_EQ(UI.ProgressPosition, 3 * 1 + 3 * 10);

    TTzDIB wide = WhitePicture(10, 1);
    BlackRect(wide, 2, 0, 6, 0);
    EXPECT_EQ(TraceLines(wide), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{2, 1, 6, 1}}));
    EXPECT_EQ(UI.ProgressPosition, 3 * 10 + 3 * 1);
}

TEST_F(LineModeTest, CancelDuringColumnsKeepsTheRowSegmentsAndStops)
{
    TTzDIB dib = WhitePicture(10, 8);
    BlackRect(dib, 1, 1, 4, 1);   // a row segment
    BlackRect(dib, 2, 3, 2, 6);   // column 2
    BlackRect(dib, 7, 3, 7, 6);   // column 7
    State.ResetSegments();
    UI.ShowProgress(QString(), QString(), true);
    // Cancel is pressed while the third column (x = 2) is being scanned.
    UI.OnProcessMessages = [&] {
        if (UI.Pumps == 8 + 3)
            UI.PressCancel();
    };
    EXPECT_EQ(TraceLines(dib), ScanStopped);
    EXPECT_TRUE(UI.ProgressBar().Cancelled());
    EXPECT_EQ(Segs(), (SegList{{1, 7, 4, 7}}));
    EXPECT_EQ(UI.Pumps, 8 + 3);
}

TEST_F(LineModeTest, CancelAfterAColumnSegmentKeepsIt)
{
    TTzDIB dib = WhitePicture(10, 8);
    BlackRect(dib, 2, 3, 2, 6);
    BlackRect(dib, 7, 3, 7, 6);
    State.ResetSegments();
    UI.ShowProgress(QString(), QString(), true);
    UI.OnProcessMessages = [&] {
        if (UI.Pumps == 8 + 4)
            UI.PressCancel();
    };
    EXPECT_EQ(TraceLines(dib), ScanStopped);
    EXPECT_EQ(Segs(), (SegList{{2, 5, 2, 2}}));
}

TEST_F(LineModeTest, GrowthFailureEmptiesTheListAndStops)
{
    // 1500 two-pixel dashes; the buffer may not grow beyond 1024 records.
    TTzDIB dib = WhitePicture(30, 300);
    for (int y = 0; y < 300; y += 2)
        for (int x = 0; x < 30; x += 3)
            BlackRect(dib, x, y, x + 1, y);
    State.CapacityLimit = 1024;
    EXPECT_EQ(TraceLines(dib), ScanOutOfMemory);
    EXPECT_TRUE(State.OutOfMemory);
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(State.SegmentCapacity, 0);
    // It stopped in the row of the 1025th dash (row 204): no further line.
    EXPECT_EQ(UI.Pumps, 205);
    // The driver stops the conversion and says so.
    EXPECT_EQ(Driver.ScanData1(Save(dib)), ScanStopped);
    EXPECT_TRUE(Driver.CancelScan());
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("メモリが確保出来ませんでした。")});
}

} // namespace
