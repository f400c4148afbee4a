#include "plugins/SPIBitmap.h"

#include "base/Errors.h"
#include "image/TzDIB.h"
#include "plugins/PluginDIB.h"


void TSPIBitmap::ReadOwn(QIODevice &data)
{
    QImage image;
    if (!image.load(&data, "BMP"))
        throw EInvalidGraphic(QStringLiteral("TSPIBitmap: not a BMP file"));
    FBitmap = image;
}

bool TSPIBitmap::BuildPicture(const TPluginDIB &dib)
{
    QImage image;
    if (!image.loadFromData(dib.BmpFile(), "BMP")) {
        // The platform's BMP reader refuses pictures of more than 2^28
        // pixels; the library's reader takes the plug-in's DIB as it is.
        TTzDIB picture;
        try {
            picture.LoadFromClipboardFormat(CF_DIB, dib.PackedDIB());
        } catch (const ETrazbitError &) {
            return false;
        }
        picture.AssignTo(image);
        if (image.isNull())
            return false;
        image.setDotsPerMeterX(dib.Header.biXPelsPerMeter);
        image.setDotsPerMeterY(dib.Header.biYPelsPerMeter);
    }
    if (dib.Header.biBitCount == 4 && dib.ColorCount > 0
        && image.format() == QImage::Format_Indexed8) {
        QList<QRgb> palette;
        for (std::uint32_t i = 0; i < dib.ColorCount; ++i) {
            const std::uint8_t *entry = dib.Colors + 4 * i;
            palette << qRgb(entry[2], entry[1], entry[0]);
        }
        image.setColorTable(palette);
    }
    FBitmap = image;
    return true;
}

void TSPIBitmap::Progress(TProgressStage stage, int percent)
{
    if (OnProgress)
        OnProgress(stage, percent);
}

void ReadWithSPIBitmap(const QString &path, TTzDIB &picture)
{
    TSPIBitmap bitmap;
    bitmap.LoadFromFile(path);
    const QImage &image = bitmap.Bitmap();
    picture.Assign(image);
    TBitmapInfoHeader &header = picture.InternalDIB()->Header();
    header.biXPelsPerMeter = image.dotsPerMeterX();
    header.biYPelsPerMeter = image.dotsPerMeterY();
}
