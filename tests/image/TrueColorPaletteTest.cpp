#include "image/TrueColorPalette.h"
#include "image/TzDIB.h"

#include "DIBErrorCheck.h"

#include <gtest/gtest.h>

namespace {

struct TEvent
{
    TProgressStage Stage;
    int Percent;
    QString Text;
};

TTzDIB TrueColour(int width, int height, std::initializer_list<TColor> colours)
{
    TTzDIB dib;
    dib.SetBitCount(24);
    dib.SetWidth(width);
    dib.SetHeight(height);
    auto c = colours.begin();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, ++c) {
            if (c == colours.end())
                c = colours.begin();
            dib.SetPixels(x, y, *c);
        }
    return dib;
}

TEST(TrueColorPalette, OneColourGivesOneEntryAndAllStepsAreCounted)
{
    for (std::uint8_t quality : {0, 1}) {
        TTzDIB dib = TrueColour(5, 3, {0x336699});
        dib.SetConvertQuality(quality);
        std::vector<TEvent> events;
        int changes = 0;
        dib.OnProgress = [&](TTzDIB &, TProgressStage stage, int percent, const QRect &rect, const QString &text) {
            EXPECT_EQ(rect, QRect(0, 0, 5, 3));
            events.push_back({stage, percent, text});
        };
        dib.OnChange = [&](TTzDIB &) { ++changes; };
        CreateTrueColorPalette(dib);
        EXPECT_EQ(dib.PaletteSize(), 1) << int(quality);
        EXPECT_EQ(dib.Colors(0), 0x336699) << int(quality);
        EXPECT_EQ(dib.Pixels(4, 2), 0x336699);
        EXPECT_EQ(dib.ProgressCount, 256);
        ASSERT_EQ(events.size(), 257u); // starting, 255 running, ending
        EXPECT_EQ(events.front().Stage, TProgressStage::Starting);
        EXPECT_EQ(events.front().Percent, 0);
        EXPECT_EQ(events.front().Text, QStringLiteral("Create True Color Palette"));
        EXPECT_EQ(events[1].Percent, 0);   // 1 x 100 div 256
        EXPECT_EQ(events[128].Percent, 50);
        EXPECT_EQ(events[255].Percent, 99);
        EXPECT_EQ(events.back().Stage, TProgressStage::Ending);
        EXPECT_EQ(events.back().Percent, 100);
        EXPECT_EQ(changes, 1);
    }
}

TEST(TrueColorPalette, ColoursInTheOrderOfTheirMethod)
{
    // Histogram: the split goes along green first; the part above the mean
    // (white) is numbered first, then red above black.
    TTzDIB dib = TrueColour(3, 1, {0x000000, 0x0000FF, 0xFFFFFF});
    CreateTrueColorPalette(dib);
    ASSERT_EQ(dib.PaletteSize(), 3);
    EXPECT_EQ(dib.Colors(0), 0xFFFFFF);
    EXPECT_EQ(dib.Colors(1), 0x0000FF);
    EXPECT_EQ(dib.Colors(2), 0x000000);

    // Over all pixels, a few colours are kept exactly; 5-6-5 cells would merge these.
    dib = TrueColour(3, 1, {0x010101, 0x020202, 0x030303});
    dib.SetConvertQuality(1);
    CreateTrueColorPalette(dib);
    ASSERT_EQ(dib.PaletteSize(), 3);
    EXPECT_EQ(dib.Colors(0), 0x010101);
    EXPECT_EQ(dib.Colors(2), 0x030303);
    dib.SetConvertQuality(0);
    CreateTrueColorPalette(dib);
    ASSERT_EQ(dib.PaletteSize(), 1);
    EXPECT_EQ(dib.Colors(0), 0x020202); // the mean of the dropped bits
}

TEST(TrueColorPalette, OnlyTrueColourPictures)
{
    TTzDIB dib;
    const TTzInternalDIB *before = dib.InternalDIB();
    EXPECT_DIB_ERROR(CreateTrueColorPalette(dib), ETzDIBBadDIBType, "TTzInternalDIB.CreateTrueColorPalette: Bad DIB Type");
    EXPECT_EQ(dib.InternalDIB(), before);
    EXPECT_EQ(dib.PaletteSize(), 2);
}

} // namespace
