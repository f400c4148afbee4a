#include "ScanFixture.h"

#include "base/ProgressPort.h"
#include "scan/BlackMask.h"
#include "scan/Line2Mode.h"

#include <random>

namespace {

using SegList = std::vector<TSeg>;

class Line2ModeTest : public ScanFixture
{
};

TEST_F(Line2ModeTest, FilledRectangleBecomesItsBorderAndThenItsFourSides)
{
    TTzDIB filled = WhitePicture(12, 12);
    BlackRect(filled, 2, 3, 7, 8);
    EXPECT_EQ(TraceLines2(filled), ScanDone);
    const SegList sides{{2, 9, 7, 9}, {2, 4, 7, 4}, {2, 9, 2, 4}, {7, 9, 7, 4}};
    EXPECT_EQ(Segs(), sides);

    // The work image is the rectangle's one-pixel border: tracing a drawn
    // border gives the same list.
    TTzDIB border = WhitePicture(12, 12);
    BlackRect(border, 2, 3, 7, 3);
    BlackRect(border, 2, 8, 7, 8);
    BlackRect(border, 2, 3, 2, 8);
    BlackRect(border, 7, 3, 7, 8);
    EXPECT_EQ(TraceLines(border), ScanDone);
    EXPECT_EQ(Segs(), sides);
}

TEST_F(Line2ModeTest, ThinStrokesGiveTheSameSegmentsAsLineMode)
{
    TTzDIB dib = WhitePicture(40, 30);
    BlackRect(dib, 3, 2, 30, 2);
    BlackRect(dib, 35, 1, 35, 25);
    for (int i = 0; i < 12; ++i) {
        Black(dib, 5 + i, 6 + i);
        Black(dib, 20 + i, 25 - i);
    }
    EXPECT_EQ(TraceLines(dib), ScanDone);
    const SegList lines = Segs();
    EXPECT_EQ(lines.size(), 4u);
    EXPECT_EQ(TraceLines2(dib), ScanDone);
    EXPECT_EQ(Segs(), lines);
}

TEST_F(Line2ModeTest, ThreePixelBarGivesTheSameFourSidesInBothLineModes)
{
    TTzDIB dib = WhitePicture(30, 12);
    BlackRect(dib, 3, 4, 20, 6);
    const SegList sides{{3, 8, 20, 8}, {3, 6, 20, 6}, {3, 8, 3, 6}, {20, 8, 20, 6}};
    EXPECT_EQ(TraceLines(dib), ScanDone);
    EXPECT_EQ(Segs(), sides);
    EXPECT_EQ(TraceLines2(dib), ScanDone);
    EXPECT_EQ(Segs(), sides);
}

TEST_F(Line2ModeTest, GreyPicturesGiveNothing)
{
    TTzDIB dib;
    dib.SetBitCount(24);
    dib.SetWidth(16);
    dib.SetHeight(16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            dib.SetPixels(x, y, (x > 3 && y > 3 && x < 12 && y < 12) ? 0x404040 : 0x010101);
    EXPECT_EQ(TraceLines2(dib), ScanDone);
    EXPECT_TRUE(Segs().empty());
}

TEST_F(Line2ModeTest, PreparationRunsToItsEndAndTheTracerThenStops)
{
    TTzDIB dib = WhitePicture(70, 20);
    BlackRect(dib, 1, 1, 60, 1);
    const QString path = Save(dib, QStringLiteral("bar.bmp"));
    UI.ShowProgress(QString(), QString(), true);
    // The preparation is the first stretch of 70 + 20 steps, after the file's rows.
    long long before = -1;
    UI.OnProcessMessages = [&] {
        if (before < 0 && UI.ProgressMaximum == 70 + 20)
            before = UI.Pumps - 1;
        if (before >= 0 && UI.Pumps == before + 3)
            UI.PressCancel();
    };
    // The preparation does not look at the cancel flag; the tracing does,
    // and the method still reports 0.
    EXPECT_EQ(Driver.ScanData3(path), ScanDone);
    EXPECT_TRUE(UI.ProgressBar().Cancelled());
    ASSERT_GE(before, 0);
    EXPECT_EQ(UI.Pumps, before + 70 + 20 + 1);
    EXPECT_TRUE(Segs().empty());
    EXPECT_EQ(UI.Labels, (QStringList{QStringLiteral("イメージ変換中・・・"), QStringLiteral("読込中:bar.bmp")}));
    EXPECT_EQ(UI.ProgressMaximum, 3 * 70 + 3 * 20);
}

TEST_F(Line2ModeTest, WithoutCancelTheTracerRunsToItsEnd)
{
    TTzDIB dib = WhitePicture(70, 20);
    BlackRect(dib, 1, 1, 60, 1);
    EXPECT_EQ(TraceLines2(dib), ScanDone);
    EXPECT_EQ(Segs(), (SegList{{1, 19, 60, 19}}));
    EXPECT_EQ(UI.Pumps, (70 + 20) + (3 * 70 + 3 * 20));
    EXPECT_EQ(UI.ProgressPosition, 3 * 70 + 3 * 20);
}

} // namespace

namespace {

// The work image made in place is the one made beside the picture, for any
// number of threads (bands of one row included) and sizes around the words.
TEST(Line2WorkImage, MadeInPlaceItIsTheSameAsBesideThePicture)
{
    std::mt19937 random(7);
    TNoProgress progress;
    for (const auto &[width, height] : {std::pair{1, 1}, {1, 2}, {3, 1}, {64, 3}, {65, 7}, {130, 40}, {200, 97}}) {
        TBlackMask source(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (random() % 3 != 0)
                    source.SetBlack(x, y);
        const TBlackMask expected = RunEnds(source, progress, 1);
        for (int threads : {1, 2, 3, 5}) {
            TBlackMask work(source);
            RunEndsInPlace(work, progress, threads);
            for (int y = -1; y <= height; ++y)
                for (int i = -1; i <= work.Words(); ++i)
                    ASSERT_EQ(work.Line(y)[i], expected.Line(y)[i])
                        << width << 'x' << height << ", " << threads << " threads, row " << y << " word " << i;
        }
    }
}

} // namespace
