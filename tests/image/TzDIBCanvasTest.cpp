#include "image/TzDIBCanvas.h"
#include "image/TzDIB.h"

#include "BmpBytes.h"
#include "DIBErrorCheck.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace {

// The picture as text, one line per row from the top: '#' where the pixel is not 0.
QString Picture(const TTzDIB &dib)
{
    QString out;
    for (int y = 0; y < dib.Height(); ++y) {
        for (int x = 0; x < dib.Width(); ++x)
            out += dib.Pixels(x, y) ? QChar('#') : QChar('.');
        out += QChar('\n');
    }
    return out;
}

TTzDIB BlankImage(int bits, int height)
{
    TTzDIB dib;
    dib.SetBitCount(bits);
    dib.SetWidth(6);
    dib.SetHeight(height);
    if (bits != 24) {
        dib.SetColors(0, 0xFFFFFF);
        dib.SetColors(1, 0);
        dib.SetPaletteSize(bits == 1 ? 2 : 3);
        dib.SetColors(2, 0x0000FF);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                dib.SetPixels(x, y, 0);
    }
    return dib;
}

const QString Expected = QStringLiteral("......\n"
                                        ".####.\n"
                                        "......\n"
                                        "......\n");

TEST(TzDIBCanvas, DrawsInPictureCoordinatesWhateverTheRowOrder)
{
    for (int bits : {1, 4, 8, 24}) {
        for (int height : {4, -4}) {
            TTzDIB dib = BlankImage(bits, height);
            const std::uint8_t *pixels = dib.InternalDIB()->DIB.Bits.get();
            {
                TTzDIBCanvas canvas(dib);
                canvas.fillRect(QRect(1, 1, 4, 1), bits == 24 ? QColor(0, 0, 1) : QColor(0, 0, 0));
            }
            EXPECT_EQ(Picture(dib), Expected) << bits << " bits, height " << height;
            if (bits == 1 || bits == 24) {
                EXPECT_EQ(dib.InternalDIB()->DIB.Bits.get(), pixels) << "drawn in place";
            }
        }
    }
}

TEST(TzDIBCanvas, PointsAndLinesLandOnTheirPixels)
{
    for (int bits : {1, 4, 8, 24}) {
        for (int height : {4, -4}) {
            TTzDIB dib = BlankImage(bits, height);
            {
                TTzDIBCanvas canvas(dib);
                canvas.setPen(bits == 24 ? QColor(0, 0, 1) : QColor(0, 0, 0));
                canvas.drawPoint(0, 0);
                canvas.drawPoint(5, 3);
                canvas.drawLine(1, 2, 4, 2);
                canvas.drawLine(3, 0, 3, 1);
            }
            EXPECT_EQ(Picture(dib), QStringLiteral("#..#..\n"
                                                   "...#..\n"
                                                   ".####.\n"
                                                   ".....#\n"))
                << bits << " bits, height " << height;
            // The rows are back in their stored order.
            EXPECT_EQ(dib.InternalDIB()->Header().biHeight, height);
        }
    }
}

TEST(TzDIBCanvas, ColoursMapToTheNearestPaletteEntry)
{
    TTzDIB dib = BlankImage(8, 4);
    dib.SetPixels(0, 0, 2);
    {
        TTzDIBCanvas canvas(dib);
        canvas.fillRect(QRect(1, 1, 1, 1), QColor(250, 10, 10)); // nearly red: entry 2
        canvas.fillRect(QRect(2, 1, 1, 1), QColor(20, 20, 20));  // nearly black: entry 1
    }
    EXPECT_EQ(dib.Pixels(1, 1), 2);
    EXPECT_EQ(dib.Pixels(2, 1), 1);
    EXPECT_EQ(dib.Pixels(0, 0), 2); // untouched pixels keep their index
    EXPECT_EQ(dib.Pixels(3, 1), 0);

    TTzDIB mono = BlankImage(1, 4);
    {
        TTzDIBCanvas canvas(mono);
        canvas.fillRect(QRect(0, 0, 1, 1), QColor(30, 30, 30)); // nearer to entry 1, black
        canvas.fillRect(QRect(1, 0, 1, 1), QColor(230, 230, 230));
    }
    EXPECT_EQ(mono.Pixels(0, 0), 1);
    EXPECT_EQ(mono.Pixels(1, 0), 0);
}

TEST(TzDIBCanvas, SharedStorageIsCopiedFirstAndChangeIsNotified)
{
    TTzDIB a = BlankImage(24, 4);
    TTzDIB b(a);
    int changes = 0;
    b.OnChange = [&](TTzDIB &) { ++changes; };
    {
        TTzDIBCanvas canvas(b);
        canvas.fillRect(QRect(0, 0, 6, 4), QColor(1, 2, 3));
    }
    EXPECT_EQ(b.Pixels(5, 3), 0x030201);
    EXPECT_EQ(a.Pixels(5, 3), 0);
    EXPECT_EQ(changes, 1);
}

TEST(TzDIBCanvas, CompressedPicturesAreRefused)
{
    TBmpLayout s;
    s.Compression = BI_RLE8;
    s.ClrUsed = 1;
    s.Table = Quads({0});
    s.Pixels = QByteArray("\x01\x05\x00\x01", 4);
    QBuffer file;
    file.setData(MakeBmp(s));
    file.open(QIODevice::ReadOnly);
    TTzDIB dib;
    dib.LoadFromStream(file);
    EXPECT_DIB_ERROR(TTzDIBCanvas canvas(dib), ETzDIBBadDIBType, "TTzDIBCanvas.Create: Bad DIB Type");
}

TEST(TzDIBDraw, StretchesThePictureNearestPixel)
{
    for (int bits : {1, 4, 8, 24}) {
        for (int height : {4, -4}) {
            TTzDIB dib = BlankImage(bits, height);
            if (bits == 24) {
                TTzDIBCanvas canvas(dib);
                canvas.fillRect(QRect(0, 0, 6, 4), Qt::white);
            }
            dib.SetPixels(0, 0, bits == 24 ? 0 : 1);
            dib.SetPixels(5, 3, bits == 24 ? 0x0000FF : bits == 1 ? 1 : 2);
            QImage target(14, 10, QImage::Format_RGB32);
            target.fill(Qt::green);
            {
                QPainter painter(&target);
                dib.Draw(painter, QRect(1, 1, 12, 8));
            }
            const QRgb far = bits == 1 ? qRgb(0, 0, 0) : qRgb(255, 0, 0);
            EXPECT_EQ(target.pixel(0, 0), qRgb(0, 255, 0)) << bits << " bits, height " << height;
            EXPECT_EQ(target.pixel(1, 1), qRgb(0, 0, 0)) << bits << " bits, height " << height;
            EXPECT_EQ(target.pixel(2, 2), qRgb(0, 0, 0)) << bits << " bits, height " << height;
            EXPECT_EQ(target.pixel(3, 1), qRgb(255, 255, 255)) << bits << " bits, height " << height;
            EXPECT_EQ(target.pixel(1, 3), qRgb(255, 255, 255)) << bits << " bits, height " << height;
            EXPECT_EQ(target.pixel(11, 7), far) << bits << " bits, height " << height;
            EXPECT_EQ(target.pixel(12, 8), far) << bits << " bits, height " << height;
            EXPECT_EQ(target.pixel(10, 8), qRgb(255, 255, 255)) << bits << " bits, height " << height;
            EXPECT_EQ(target.pixel(13, 9), qRgb(0, 255, 0)) << bits << " bits, height " << height;
        }
    }
}

} // namespace
