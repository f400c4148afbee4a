#include "scan/ScanBackdrop.h"

#include "image/TzDIB.h"
#include "scan/BlackMask.h"

#include <algorithm>

namespace {

int Luminance(QRgb c)
{
    return (qRed(c) * 299 + qGreen(c) * 587 + qBlue(c) * 114) / 1000;
}

} // namespace

TBackdropMaker::TBackdropMaker(int width, int height, int bitCount, const TColor *colours, int longest)
    : Width(width), Height(height), BitCount(bitCount)
{
    const int larger = std::max({width, height, 1});
    Result.Step = std::max(1, (larger + longest - 1) / longest);
    bool greys = true;
    if (bitCount <= 8) {
        const int used = 1 << bitCount;
        for (int i = 0; i < 256; ++i) {
            const TRGBQuad q = ColorToRGBQuad(colours[i]);
            Palette[i] = qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
            if (i < used && (q.rgbRed != q.rgbGreen || q.rgbGreen != q.rgbBlue))
                greys = false;
        }
        Result.Tones = bitCount > 1;
    } else {
        greys = false;
        Result.Tones = true;
    }
    const int w = std::max(1, (width + Result.Step - 1) / Result.Step);
    const int h = std::max(1, (height + Result.Step - 1) / Result.Step);
    Result.Image = QImage(w, h, greys ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (!Result.Image.isNull())
        Result.Image.fill(Qt::white);
}

void TBackdropMaker::AddRow(int y, const std::uint8_t *row)
{
    if (y % Result.Step != 0 || Result.Image.isNull())
        return;
    const int by = y / Result.Step;
    if (by >= Result.Image.height())
        return;
    const bool grey = Result.Image.format() == QImage::Format_Grayscale8;
    std::uint8_t *line = Result.Image.scanLine(by);
    for (int bx = 0, x = 0; x < Width && bx < Result.Image.width(); ++bx, x += Result.Step) {
        QRgb c;
        switch (BitCount) {
        case 1:
            c = Palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            c = Palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
            break;
        case 8:
            c = Palette[row[x]];
            break;
        default:
            c = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
            break;
        }
        if (grey)
            line[bx] = static_cast<std::uint8_t>(qRed(c));
        else
            reinterpret_cast<QRgb *>(line)[bx] = c;
    }
}

std::shared_ptr<const TScanBackdrop> TBackdropMaker::Finish(const TBlackMask &mask, bool exactBlack)
{
    Result.ExactBlack = exactBlack;
    Result.Dark = Result.DarkInk = 0;
    const QImage &image = Result.Image;
    const bool grey = image.format() == QImage::Format_Grayscale8;
    for (int by = 0; by < image.height(); ++by) {
        const std::uint8_t *line = image.constScanLine(by);
        for (int bx = 0; bx < image.width(); ++bx) {
            const int lum = grey ? line[bx] : Luminance(reinterpret_cast<const QRgb *>(line)[bx]);
            if (lum >= 128)
                continue;
            ++Result.Dark;
            if (mask.Black(bx * Result.Step, by * Result.Step))
                ++Result.DarkInk;
        }
    }
    return std::make_shared<const TScanBackdrop>(std::move(Result));
}

std::shared_ptr<const TScanBackdrop> TBackdropMaker::FromImage(const TTzDIB &source, const TBlackMask &mask,
                                                               bool exactBlack)
{
    TTzDIB expanded;
    const TTzDIB *image = &source;
    if (source.PixelFormat() == tzPf4BitRLE || source.PixelFormat() == tzPf8BitRLE) {
        expanded = source;
        expanded.SetPixelFormat(source.PixelFormat() == tzPf4BitRLE ? tzPf4Bit : tzPf8Bit);
        image = &expanded;
    }
    TColor colours[256] = {};
    if (image->BitCount() <= 8)
        for (int i = 0; i < 256; ++i)
            colours[i] = image->Colors(i);
    TBackdropMaker maker(image->Width(), image->Height(), image->BitCount(), colours);
    for (int y = 0; y < image->Height(); ++y)
        maker.AddRow(y, image->ScanLine(y));
    return maker.Finish(mask, exactBlack);
}

TBackdropRows::TBackdropRows(TPictureRows &rows, TBackdropMaker &maker) : Rows(rows), Maker(maker)
{
    FWidth = rows.Width();
    FHeight = rows.Height();
    FBitCount = rows.BitCount();
    FTopDown = rows.TopDown();
    FDotsPerMeterX = rows.DotsPerMeterX();
    FDotsPerMeterY = rows.DotsPerMeterY();
    for (int i = 0; i < 256; ++i)
        FColors[i] = ColorToRGBQuad(rows.Color(i));
}

void TBackdropRows::Read(std::uint8_t *rows, int count)
{
    Rows.Read(rows, count);
    const std::int64_t size = RowSize();
    for (int r = 0; r < count; ++r, ++Next)
        Maker.AddRow(FTopDown ? Next : FHeight - 1 - Next, rows + size * r);
}
