#include "ScanPictures.h"

#include "scan/BlackMask.h"
#include "support/MaskChecks.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Every pixel of the mask against the picture's colour (palette entry for 8
// bits or fewer), and nothing set beyond the width.
void ExpectMaskOf(const TTzDIB &dib, const TBlackMask &mask)
{
    ASSERT_EQ(mask.Width(), dib.Width());
    ASSERT_EQ(mask.Height(), dib.Height());
    for (int y = 0; y < dib.Height(); ++y) {
        for (int x = 0; x < dib.Width(); ++x) {
            const std::int32_t p = dib.Pixels(x, y);
            const TColor colour = dib.BitCount() > 8 ? p : dib.Colors(p);
            ASSERT_EQ(mask.Black(x, y), colour == 0) << x << ',' << y;
        }
        const int tail = dib.Width() & 63;
        if (tail) {
            ASSERT_EQ(mask.Line(y)[mask.Words() - 1] >> tail, 0u) << y;
        }
    }
}

TEST(BlackMaskTest, OneBitPicturesFollowTheirPalette)
{
    std::mt19937 random(7);
    for (int width : {1, 7, 8, 9, 63, 64, 65, 130}) {
        TTzDIB dib = WhitePicture(width, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < width; ++x)
                if (random() % 3 == 0)
                    Black(dib, x, y);
        ExpectMaskOf(dib, TBlackMask::FromImage(dib));
        // Entry 0 black and entry 1 white: the other way round.
        dib.SetColors(0, 0);
        dib.SetColors(1, 0xFFFFFF);
        ExpectMaskOf(dib, TBlackMask::FromImage(dib));
        // Both black: every pixel, but nothing beyond the width.
        dib.SetColors(1, 0);
        ExpectMaskOf(dib, TBlackMask::FromImage(dib));
    }
}

TEST(BlackMaskTest, FourEightAndTwentyFourBitPictures)
{
    std::mt19937 random(11);
    for (int bits : {4, 8, 24}) {
        TTzDIB dib;
        dib.SetBitCount(bits);
        dib.SetWidth(67);
        dib.SetHeight(-9);  // top-down rows
        if (bits <= 8) {
            for (int i = 0; i < (1 << bits); ++i)
                dib.SetColors(i, i % 3 == 0 ? 0 : 0x010000 * (i % 7) + 1);
        }
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 67; ++x) {
                std::int32_t v = static_cast<std::int32_t>(random() % (bits == 24 ? 4 : (1u << bits)));
                if (bits == 24)
                    v = v == 0 ? 0 : (0x010101 << (v - 1)) & 0xFFFFFF;
                dib.SetPixels(x, y, v);
            }
        ExpectMaskOf(dib, TBlackMask::FromImage(dib));
    }
}

TEST(BlackMaskTest, AllWhiteUntilOnePixelIsBlack)
{
    for (auto [w, h] : {std::pair{1, 1}, {100, 3}, {65, 129}}) {
        TBlackMask mask(w, h);
        EXPECT_TRUE(AllWhite(mask)) << w << 'x' << h;
        mask.SetBlack(w - 1, h - 1);
        EXPECT_FALSE(AllWhite(mask)) << w << 'x' << h;
    }
}

} // namespace
