#include "image/PictureLimits.h"
#include "image/TzDIB.h"

#include "DIBErrorCheck.h"
#include "support/MaskChecks.h"
#include "scan/ScanPictures.h"

#include <QGuiApplication>
#include <QImage>
#include <QPalette>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

TEST(TzDIBModel, NewImageIsOneByOneEightBitWithTwoBlackEntries)
{
    TTzDIB dib;
    EXPECT_EQ(dib.Width(), 1);
    EXPECT_EQ(dib.Height(), 1);
    EXPECT_EQ(dib.BitCount(), 8);
    EXPECT_EQ(dib.PaletteSize(), 2);
    EXPECT_EQ(dib.PixelFormat(), tzPf8Bit);
    EXPECT_EQ(dib.Pixels(0, 0), 0);
    EXPECT_EQ(dib.Colors(0), 0);
    EXPECT_EQ(dib.Colors(1), 0);
    EXPECT_EQ(dib.RowSize(), 4);
    EXPECT_FALSE(dib.Empty());
    EXPECT_EQ(dib.MonoColor(), 0xFFFFFF);
    EXPECT_EQ(dib.ConvertQuality(), 0);
    EXPECT_EQ(dib.DrawMode(), 0);
}

TEST(TzDIBModel, WhiteMonoImageBuiltPropertyByProperty)
{
    TTzDIB dib = WhitePicture(37, 11);
    EXPECT_EQ(dib.Width(), 37);
    EXPECT_EQ(dib.Height(), 11);
    EXPECT_EQ(dib.PixelFormat(), tzPf1Bit);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 37; ++x)
            ASSERT_EQ(dib.Pixels(x, y), 0) << x << "," << y;
    EXPECT_EQ(dib.Colors(dib.Pixels(5, 5)), 0xFFFFFF);
    dib.SetPixels(36, 10, 1);
    EXPECT_EQ(dib.Pixels(36, 10), 1);
    EXPECT_EQ(dib.Colors(dib.Pixels(36, 10)), 0);
    EXPECT_EQ(dib.Pixels(35, 10), 0);
    // Bottom-up storage: the bottom row is the first stored row; x 36 is bit 3 of byte 4.
    EXPECT_EQ(dib.ScanLine(10), dib.InternalDIB()->DIB.Bits.get());
    EXPECT_EQ(dib.ScanLine(10)[4], 0x08);
    dib.SetPixels(36, 10, 0);
    EXPECT_EQ(dib.ScanLine(10)[4], 0x00);
}

TEST(TzDIBModel, NewWidthOrBitCountErasesPictureAndColours)
{
    TTzDIB dib = WhitePicture(8, 4);
    dib.SetPixels(2, 1, 1);

    dib.SetWidth(8); // same value keeps everything
    dib.SetHeight(4);
    dib.SetBitCount(1);
    EXPECT_EQ(dib.Pixels(2, 1), 1);
    EXPECT_EQ(dib.Colors(0), 0xFFFFFF);

    dib.SetWidth(9);
    EXPECT_EQ(dib.Pixels(2, 1), 0);
    EXPECT_EQ(dib.Colors(0), 0);
    EXPECT_EQ(dib.PaletteSize(), 2);
    EXPECT_EQ(dib.BitCount(), 1);

    dib.SetColors(3, 0x123456);
    dib.SetPixels(0, 0, 1);
    dib.SetBitCount(4);
    EXPECT_EQ(dib.PaletteSize(), 16);
    EXPECT_EQ(dib.Colors(3), 0);
    EXPECT_EQ(dib.Pixels(0, 0), 0);
    EXPECT_EQ(dib.Width(), 9);
    EXPECT_EQ(dib.Height(), 4);

    dib.SetBitCount(24);
    EXPECT_EQ(dib.PaletteSize(), 0);
    EXPECT_EQ(dib.PixelFormat(), tzPf24Bit);
    dib.SetBitCount(8);
    EXPECT_EQ(dib.PaletteSize(), 256);
}

TEST(TzDIBModel, NegativeHeightMakesTopDownImage)
{
    TTzDIB dib;
    dib.SetWidth(3);
    dib.SetHeight(-5);
    EXPECT_EQ(dib.Height(), 5);
    EXPECT_LT(dib.InternalDIB()->Header().biHeight, 0);
    const std::uint8_t *bits = dib.InternalDIB()->DIB.Bits.get();
    dib.SetPixels(0, 0, 7);
    EXPECT_EQ(bits[0], 7); // first stored row
    EXPECT_EQ(dib.ScanLine(0), bits);
    EXPECT_EQ(dib.ScanLine(4), bits + 4 * 4);
    // Setting the same top-down height, or the height as it reads, keeps the picture.
    dib.SetHeight(-5);
    dib.SetHeight(5);
    EXPECT_EQ(dib.Pixels(0, 0), 7);

    TTzDIB bottomUp;
    bottomUp.SetWidth(3);
    bottomUp.SetHeight(5);
    const std::uint8_t *stored = bottomUp.InternalDIB()->DIB.Bits.get();
    bottomUp.SetPixels(0, 0, 9);
    EXPECT_EQ(stored[4 * 4], 9); // last stored row
    EXPECT_EQ(stored[0], 0);
}

TEST(TzDIBModel, SizeAndBitCountErrorsLeaveImageAsItWas)
{
    TTzDIB dib = WhitePicture(10, 10);
    dib.SetPixels(1, 1, 1);
    EXPECT_DIB_ERROR(dib.SetWidth(0), ETzDIBInvalidDIBPara, "TTzDIB.SetWidth: Invalid Width");
    EXPECT_DIB_ERROR(dib.SetWidth(-3), ETzDIBInvalidDIBPara, "TTzDIB.SetWidth: Invalid Width");
    EXPECT_DIB_ERROR(dib.SetHeight(0), ETzDIBInvalidDIBPara, "TTzDIB.SetHeight: Invalid Height");
    EXPECT_DIB_ERROR(dib.SetHeight(INT_MIN), ETzDIBInvalidDIBPara,
                     "TTzInternalDIB.CreateDIB: Invalid Parameters");
    EXPECT_DIB_ERROR(dib.SetBitCount(2), ETzDIBInvalidDIBPara, "TTzDIB.SetBitCount: Invalid BitCount");
    EXPECT_DIB_ERROR(dib.SetBitCount(16), ETzDIBInvalidDIBPara, "TTzDIB.SetBitCount: Invalid BitCount");
    // Sides beyond the bound are refused before any allocation, naming the size.
    EXPECT_DIB_ERROR(dib.SetHeight(INT_MAX), EPictureTooLarge,
                     "The picture of 10 x 2147483647 pixels is too large: each side may have 268435456 pixels at most");
    EXPECT_DIB_ERROR(dib.SetWidth(INT_MAX), EPictureTooLarge,
                     "The picture of 2147483647 x 10 pixels is too large: each side may have 268435456 pixels at most");
    EXPECT_EQ(dib.Width(), 10);
    EXPECT_EQ(dib.Height(), 10);
    EXPECT_EQ(dib.BitCount(), 1);
    EXPECT_EQ(dib.Pixels(1, 1), 1);
    EXPECT_EQ(dib.Colors(0), 0xFFFFFF);
}

TEST(TzDIBModel, PaletteSizeRanges)
{
    TTzDIB dib;
    EXPECT_DIB_ERROR(dib.SetPaletteSize(0), ETzDIBPaletteIndexRange,
                     "TTzDIB.SetPaletteSize: Palette Index is Out of Range 2");
    EXPECT_DIB_ERROR(dib.SetPaletteSize(257), ETzDIBPaletteIndexRange,
                     "TTzDIB.SetPaletteSize: Palette Index is Out of Range 2");
    dib.SetPaletteSize(256);
    EXPECT_EQ(dib.PaletteSize(), 256);
    dib.SetBitCount(24);
    dib.SetPaletteSize(0);
    EXPECT_EQ(dib.PaletteSize(), 0);
    dib.SetPaletteSize(256);
    EXPECT_EQ(dib.PaletteSize(), 256);
    EXPECT_DIB_ERROR(dib.SetPaletteSize(-1), ETzDIBPaletteIndexRange,
                     "TTzDIB.SetPaletteSize: Palette Index is Out of Range 1");
    EXPECT_DIB_ERROR(dib.SetPaletteSize(257), ETzDIBPaletteIndexRange,
                     "TTzDIB.SetPaletteSize: Palette Index is Out of Range 1");
}

TEST(TzDIBModel, PaletteIndexRangesAndEntriesBeyondPaletteSize)
{
    TTzDIB dib;
    dib.SetBitCount(4);
    dib.SetColors(200, 0x0A0B0C);
    EXPECT_EQ(dib.PaletteSize(), 16);
    EXPECT_EQ(dib.Colors(200), 0x0A0B0C);
    // Stored as blue, green, red, 0.
    const TRGBQuad q = dib.InternalDIB()->DIB.Info.Colors[200];
    EXPECT_EQ(q.rgbBlue, 0x0A);
    EXPECT_EQ(q.rgbGreen, 0x0B);
    EXPECT_EQ(q.rgbRed, 0x0C);
    EXPECT_EQ(q.rgbReserved, 0);
    EXPECT_DIB_ERROR(dib.Colors(256), ETzDIBPaletteIndexRange, "TTzDIB.GetColors: Palette Index is Out of Range");
    EXPECT_DIB_ERROR(dib.Colors(-1), ETzDIBPaletteIndexRange, "TTzDIB.GetColors: Palette Index is Out of Range");
    EXPECT_DIB_ERROR(dib.SetColors(256, 0), ETzDIBPaletteIndexRange,
                     "TTzDIB.SetColors: Palette Index is Out of Range");
    EXPECT_DIB_ERROR(dib.SetColors(-1, 0), ETzDIBPaletteIndexRange,
                     "TTzDIB.SetColors: Palette Index is Out of Range");
}

TEST(TzDIBModel, PixelRangesAndValues)
{
    TTzDIB dib;
    dib.SetWidth(5);
    dib.SetHeight(3);
    EXPECT_DIB_ERROR(dib.Pixels(5, 0), ETzDIBPixelPositionRange, "TTzDIB.GetPixels: Pixel Position is Out of Range");
    EXPECT_DIB_ERROR(dib.Pixels(-1, 0), ETzDIBPixelPositionRange, "TTzDIB.GetPixels: Pixel Position is Out of Range");
    EXPECT_DIB_ERROR(dib.Pixels(0, 3), ETzDIBPixelPositionRange, "TTzDIB.GetPixels: Pixel Position is Out of Range");
    EXPECT_DIB_ERROR(dib.Pixels(0, -1), ETzDIBPixelPositionRange, "TTzDIB.GetPixels: Pixel Position is Out of Range");
    EXPECT_DIB_ERROR(dib.SetPixels(5, 0, 1), ETzDIBPixelPositionRange,
                     "TTzDIB.SetPixels: Pixel Position is Out of Range");
    EXPECT_DIB_ERROR(dib.SetPixels(0, 3, 1), ETzDIBPixelPositionRange,
                     "TTzDIB.SetPixels: Pixel Position is Out of Range");
    EXPECT_DIB_ERROR(dib.SetPixels(0, 0, 256), ERangeError, "Range check error");
    EXPECT_DIB_ERROR(dib.SetPixels(0, 0, -1), ERangeError, "Range check error");
    dib.SetPixels(4, 2, 255);
    EXPECT_EQ(dib.Pixels(4, 2), 255);

    dib.SetBitCount(24);
    EXPECT_DIB_ERROR(dib.SetPixels(0, 0, -1), ERangeError, "Range check error");
    dib.SetPixels(1, 0, 0x123456);
    EXPECT_EQ(dib.Pixels(1, 0), 0x123456);
    const std::uint8_t *row = dib.ScanLine(0);
    EXPECT_EQ(row[3], 0x12); // blue
    EXPECT_EQ(row[4], 0x34); // green
    EXPECT_EQ(row[5], 0x56); // red

    dib.SetBitCount(4);
    dib.SetPixels(2, 1, 0x1C); // only the low nibble counts
    dib.SetPixels(3, 1, 0x5);
    EXPECT_EQ(dib.Pixels(2, 1), 0xC);
    EXPECT_EQ(dib.Pixels(3, 1), 0x5);
    EXPECT_EQ(dib.ScanLine(1)[1], 0xC5);

    dib.SetBitCount(1);
    dib.SetPixels(0, 0, -7); // any non-zero value sets the bit
    EXPECT_EQ(dib.Pixels(0, 0), 1);
    EXPECT_EQ(dib.ScanLine(0)[0], 0x80);
}

TEST(TzDIBModel, RowSizes)
{
    TTzDIB dib;
    dib.SetBitCount(1);
    dib.SetWidth(33);
    EXPECT_EQ(dib.RowSize(), 8);
    dib.SetWidth(32);
    EXPECT_EQ(dib.RowSize(), 4);
    dib.SetBitCount(24);
    dib.SetWidth(1);
    EXPECT_EQ(dib.RowSize(), 4);
    dib.SetHeight(7);
    EXPECT_EQ(dib.InternalDIB()->DIB.BitsSize, 28u);
    dib.SetWidth(5);
    EXPECT_EQ(dib.RowSize(), 16);
    dib.SetBitCount(4);
    dib.SetWidth(9);
    EXPECT_EQ(dib.RowSize(), 8);
    dib.SetBitCount(8);
    dib.SetWidth(13);
    EXPECT_EQ(dib.RowSize(), 16);
    EXPECT_EQ(dib.InternalDIB()->DIB.BitsSize, 16u * 7);
}

TEST(TzDIBModel, CopiesShareStorageUntilOneWrites)
{
    auto *a = new TTzDIB;
    a->SetWidth(4);
    a->SetPixels(1, 0, 3);
    TTzDIB b;
    b.Assign(a);
    EXPECT_EQ(b.InternalDIB(), a->InternalDIB());
    EXPECT_EQ(a->InternalDIB()->RefCount, 2);

    b.SetPixels(1, 0, 9);
    EXPECT_NE(b.InternalDIB(), a->InternalDIB());
    EXPECT_EQ(a->Pixels(1, 0), 3);
    EXPECT_EQ(b.Pixels(1, 0), 9);

    TTzDIB c(*a);
    c.SetColors(0, 0xFF);
    EXPECT_EQ(a->Colors(0), 0);
    EXPECT_EQ(c.Colors(0), 0xFF);
    EXPECT_EQ(c.Pixels(1, 0), 3);

    TTzDIB d;
    d = *a;
    d.SetPaletteSize(7);
    EXPECT_EQ(a->PaletteSize(), 2);
    d = *a;
    delete a;
    EXPECT_EQ(d.Pixels(1, 0), 3);
    EXPECT_EQ(d.InternalDIB()->RefCount, 1);

    d.Assign(&d);
    EXPECT_EQ(d.Pixels(1, 0), 3);
    d.Assign(nullptr);
    EXPECT_EQ(d.Width(), 1);
    EXPECT_EQ(d.PaletteSize(), 2);
}

TEST(TzDIBModel, AssignCopiesDrawingSettingsAndWritableScanLineUnshares)
{
    TTzDIB a;
    a.SetMonoColor(0x00FF00);
    a.SetConvertQuality(1);
    a.SetDrawMode(2);
    TTzDIB b;
    b.Assign(&a);
    EXPECT_EQ(b.MonoColor(), 0x00FF00);
    EXPECT_EQ(b.ConvertQuality(), 1);
    EXPECT_EQ(b.DrawMode(), 2);
    WritableScanLine(b, 0)[0] = 5;
    EXPECT_EQ(b.Pixels(0, 0), 5);
    EXPECT_EQ(a.Pixels(0, 0), 0);
}

TEST(TzDIBModel, ChangeNotification)
{
    TTzDIB dib;
    int changes = 0;
    dib.OnChange = [&](TTzDIB &) { ++changes; };
    dib.SetWidth(3);
    dib.SetColors(0, 1);
    dib.SetPaletteSize(4);
    dib.SetPixels(0, 0, 1); // pixel writes do not notify
    dib.SetWidth(3);        // nor do unchanged values
    EXPECT_EQ(changes, 3);
}

TEST(TzDIBModel, PaletteModes)
{
    TTzDIB dib;
    dib.SetColors(1, 0x0000FF);
    TTzPalette own = dib.Palette();
    ASSERT_TRUE(own);
    ASSERT_EQ(own->size(), 2);
    EXPECT_EQ(own->at(1), qRgb(255, 0, 0));
    EXPECT_EQ(dib.Palette(), own); // cached until the table changes

    dib.SetDrawMode(1);
    TTzPalette halftone = dib.Palette();
    ASSERT_EQ(halftone->size(), 215);
    EXPECT_EQ(halftone->at(0), qRgb(0, 0, 0));
    EXPECT_EQ(halftone->at(1), qRgb(0, 0, 0x40));
    EXPECT_EQ(halftone->at(5), qRgb(0, 0x2B, 0));
    EXPECT_EQ(halftone->at(35), qRgb(0x33, 0, 0));
    EXPECT_EQ(halftone->at(209), qRgb(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(halftone->at(210), qRgb(0x80, 0, 0));
    EXPECT_EQ(halftone->at(213), qRgb(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(halftone->at(214), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(dib.Palette(), TTzDIB::HalftonePalette());
    dib.SetDrawMode(2);
    EXPECT_EQ(*dib.Palette(), (QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)}));
    dib.SetDrawMode(3);
    EXPECT_FALSE(dib.Palette());

    dib.SetDrawMode(0);
    dib.SetPalette(std::make_shared<const QList<QRgb>>(QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9)}));
    EXPECT_EQ(dib.PaletteSize(), 3);
    EXPECT_EQ(dib.Colors(2), 0x090807);
    EXPECT_DIB_ERROR(dib.SetPalette(std::make_shared<const QList<QRgb>>()), ETzDIBInvalidPalette,
                     "TTzDIB.SetPalette: Invalid Palette");
    dib.SetPalette(nullptr);
    EXPECT_EQ(dib.PaletteSize(), 0);
    EXPECT_FALSE(dib.Palette());

    QList<QRgb> many(300, qRgb(9, 9, 9));
    dib.SetPalette(std::make_shared<const QList<QRgb>>(many));
    EXPECT_EQ(dib.PaletteSize(), 256);
    EXPECT_EQ(dib.Palette()->size(), 256);
}

TEST(TzDIBModel, SystemColoursAreResolved)
{
    TTzDIB dib;
    dib.SetColors(0, TColor(0x80000000 | 5)); // the window background colour
    EXPECT_GE(dib.Colors(0), 0);
    const QRgb window = QGuiApplication::palette().color(QPalette::Active, QPalette::Base).rgb();
    EXPECT_EQ(dib.Colors(0), qRed(window) | qGreen(window) << 8 | qBlue(window) << 16);
}

TEST(TzDIBModel, PixelFormatWriteOfSameFormatDoesNothing)
{
    TTzDIB dib;
    dib.SetPixelFormat(tzPf8Bit);
    EXPECT_EQ(dib.BitCount(), 8);
}

} // namespace
