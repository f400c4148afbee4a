// Assignment between TTzDIB and the framework image.

#include "image/TzDIB.h"

#include "BmpBytes.h"
#include "DIBErrorCheck.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace {

// A pattern that differs in every row and column: pixel (x, y) is set when
// (x * 3 + y) % 5 == 0.
bool PatternBit(int x, int y)
{
    return (x * 3 + y) % 5 == 0;
}

QImage MonoPattern(QImage::Format format, int width, int height)
{
    QImage image(width, height, format);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, PatternBit(x, y) ? 1 : 0);
    return image;
}

void ExpectMonoPattern(const TTzDIB &dib, int width, int height)
{
    ASSERT_EQ(dib.Width(), width);
    ASSERT_EQ(dib.Height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(dib.Pixels(x, y), PatternBit(x, y) ? 1 : 0) << x << "," << y;
}

TEST(TzDIBImage, MonoImagesBecomeOneBitRowForRow)
{
    for (QImage::Format format : {QImage::Format_Mono, QImage::Format_MonoLSB}) {
        QImage image = MonoPattern(format, 21, 6);
        // Bits beyond the width are left set: the stored rows must not keep them.
        for (int y = 0; y < 6; ++y)
            image.scanLine(y)[2] |= format == QImage::Format_Mono ? 0x07 : 0xE0;
        TTzDIB dib;
        dib.Assign(image);
        EXPECT_EQ(dib.BitCount(), 1);
        EXPECT_EQ(dib.PaletteSize(), 2);
        EXPECT_EQ(dib.Colors(0), 0xFFFFFF);
        EXPECT_EQ(dib.Colors(1), 0);
        EXPECT_GT(dib.InternalDIB()->Header().biHeight, 0);
        ExpectMonoPattern(dib, 21, 6);
        for (int y = 0; y < 6; ++y) {
            EXPECT_EQ(dib.ScanLine(y)[2] & 0x07, 0) << y;
            EXPECT_EQ(dib.ScanLine(y)[3], 0) << y;
        }
    }

    // A mono image without table is black on white.
    QImage bare(reinterpret_cast<const uchar *>("\x80\0\0\0"), 3, 1, 4, QImage::Format_Mono);
    TTzDIB dib;
    dib.Assign(bare);
    EXPECT_EQ(dib.PaletteSize(), 2);
    EXPECT_EQ(dib.Colors(0), 0);
    EXPECT_EQ(dib.Colors(1), 0xFFFFFF);
    EXPECT_EQ(dib.Pixels(0, 0), 1);
    EXPECT_EQ(dib.Pixels(1, 0), 0);
}

TEST(TzDIBImage, IndexedAndGreyImagesBecomeEightBit)
{
    QImage indexed(3, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9), qRgb(10, 11, 12), qRgb(13, 14, 15)});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            indexed.setPixel(x, y, uint(x + y * 2));
    TTzDIB dib;
    dib.Assign(indexed);
    EXPECT_EQ(dib.BitCount(), 8);
    EXPECT_EQ(dib.PaletteSize(), 5);
    EXPECT_EQ(dib.Colors(4), 0x0F0E0D);
    EXPECT_EQ(dib.Pixels(2, 1), 4);
    EXPECT_EQ(dib.Pixels(1, 0), 1);

    // No table: the default palette size for 8 bits.
    indexed.setColorTable({});
    dib.Assign(indexed);
    EXPECT_EQ(dib.PaletteSize(), 256);
    EXPECT_EQ(dib.Pixels(2, 1), 4);

    QImage grey(2, 1, QImage::Format_Grayscale8);
    grey.scanLine(0)[0] = 17;
    grey.scanLine(0)[1] = 200;
    dib.Assign(grey);
    EXPECT_EQ(dib.BitCount(), 8);
    EXPECT_EQ(dib.PaletteSize(), 256);
    EXPECT_EQ(dib.Pixels(0, 0), 17);
    EXPECT_EQ(dib.Colors(200), 0xC8C8C8);
}

TEST(TzDIBImage, EveryOtherFormatBecomesTrueColour)
{
    const QColor colours[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 255),
                              QColor(0, 0, 0)};
    for (QImage::Format format :
         {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888,
          QImage::Format_BGR888, QImage::Format_RGB16, QImage::Format_RGB555, QImage::Format_RGBA8888,
          QImage::Format_RGBX64, QImage::Format_Grayscale16}) {
        QImage image(5, 70, format); // more rows than one conversion band
        image.fill(Qt::white);
        for (int x = 0; x < 5; ++x)
            image.setPixelColor(x, 69, colours[x]);
        image.setPixelColor(2, 0, QColor(0, 0, 0));
        TTzDIB dib;
        dib.Assign(image);
        EXPECT_EQ(dib.BitCount(), 24) << format;
        EXPECT_EQ(dib.PaletteSize(), 0) << format;
        EXPECT_EQ(dib.Pixels(2, 0), 0) << format;
        EXPECT_EQ(dib.Pixels(3, 0), 0xFFFFFF) << format;
        if (format == QImage::Format_Grayscale16)
            continue;
        EXPECT_EQ(dib.Pixels(0, 69), 0x0000FF) << format;
        EXPECT_EQ(dib.Pixels(1, 69), 0x00FF00) << format;
        EXPECT_EQ(dib.Pixels(2, 69), 0xFF0000) << format;
        EXPECT_EQ(dib.Pixels(3, 69), 0xFFFFFF) << format;
        EXPECT_EQ(dib.Pixels(4, 69), 0) << format;
    }

    // Alpha is dropped, not blended.
    QImage translucent(1, 1, QImage::Format_ARGB32);
    translucent.setPixel(0, 0, qRgba(10, 20, 30, 40));
    TTzDIB dib;
    dib.Assign(translucent);
    EXPECT_EQ(dib.Pixels(0, 0), 0x1E140A);
}

TEST(TzDIBImage, NullImageLeavesTheImageAsItWas)
{
    TTzDIB dib;
    dib.SetWidth(7);
    dib.SetPixels(6, 0, 9);
    EXPECT_DIB_ERROR(dib.Assign(QImage()), ETzDIBInvalidDIBPara, "TTzInternalDIB.CreateDIB: Invalid Parameters");
    EXPECT_EQ(dib.Width(), 7);
    EXPECT_EQ(dib.Pixels(6, 0), 9);
}

TEST(TzDIBImage, AssignToGivesTheMatchingFormatAndTable)
{
    TTzDIB mono;
    mono.Assign(MonoPattern(QImage::Format_Mono, 19, 4));
    QImage image;
    mono.AssignTo(image);
    EXPECT_EQ(image.format(), QImage::Format_Mono);
    EXPECT_EQ(image.colorTable(), (QList<QRgb>{qRgb(255, 255, 255), qRgb(0, 0, 0)}));
    TTzDIB back;
    back.Assign(image);
    ExpectMonoPattern(back, 19, 4);

    // A one-entry palette still gives the mono image both entries.
    mono.SetPaletteSize(1);
    mono.AssignTo(image);
    EXPECT_EQ(image.colorCount(), 2);

    TTzDIB four;
    four.SetBitCount(4);
    four.SetWidth(3);
    four.SetHeight(-2);
    four.SetColors(15, 0x00FF00);
    four.SetPixels(1, 1, 15);
    four.SetPixels(2, 0, 7);
    four.AssignTo(image);
    EXPECT_EQ(image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(image.colorCount(), 16);
    EXPECT_EQ(image.pixelIndex(1, 1), 15);
    EXPECT_EQ(image.pixelIndex(2, 0), 7);
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 255, 0));

    TTzDIB eight;
    eight.SetWidth(2);
    eight.SetPaletteSize(3);
    eight.SetColors(2, 0x0000FF);
    eight.SetPixels(1, 0, 2);
    eight.AssignTo(image);
    EXPECT_EQ(image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(image.colorCount(), 3);
    EXPECT_EQ(image.pixel(1, 0), qRgb(255, 0, 0));

    TTzDIB rgb;
    rgb.SetBitCount(24);
    rgb.SetWidth(2);
    rgb.SetHeight(3);
    rgb.SetPixels(1, 2, 0x332211);
    rgb.AssignTo(image);
    EXPECT_EQ(image.format(), QImage::Format_BGR888);
    EXPECT_EQ(image.pixel(1, 2), qRgb(0x11, 0x22, 0x33));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));

    TTzDIB shared;
    rgb.AssignTo(shared);
    EXPECT_EQ(shared.InternalDIB(), rgb.InternalDIB());
}

TEST(TzDIBImage, CompressedPicturesComeOutDecoded)
{
    TBmpLayout s;
    s.BitCount = 4;
    s.Width = 3;
    s.Compression = BI_RLE4;
    s.ClrUsed = 2;
    s.Table = Quads({0, 0xFFFFFF});
    s.Pixels = QByteArray("\x03\x10\x00\x01", 4);
    QBuffer file;
    file.setData(MakeBmp(s));
    file.open(QIODevice::ReadOnly);
    TTzDIB dib;
    dib.LoadFromStream(file);
    QImage image;
    dib.AssignTo(image);
    EXPECT_EQ(image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(image.pixelIndex(0, 0), 1);
    EXPECT_EQ(image.pixelIndex(1, 0), 0);
    EXPECT_EQ(image.pixel(2, 0), qRgb(255, 255, 255));
    EXPECT_EQ(dib.PixelFormat(), tzPf4BitRLE); // the image itself stays compressed
}

} // namespace
