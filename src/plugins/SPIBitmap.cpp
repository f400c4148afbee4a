#include "plugins/SPIBitmap.h"

#include "app/core/Errors.h"
#include "image/TzDIB.h"
#include "plugins/PluginDIB.h"

#include <QFile>

TSPIBitmap::TSPIBitmap() : FEngine(*this, QStringLiteral("BMP")) {}

TSPIBitmap::TSPIBitmap(const TSPIBitmap &source)
    : TSPIGraphic(), Retry(source.Retry), SinglePlugin(source.SinglePlugin),
      FEngine(*this, QStringLiteral("BMP")), FBitmap(source.FBitmap)
{
}

TSPIBitmap &TSPIBitmap::operator=(const TSPIBitmap &source)
{
    FBitmap = source.FBitmap;
    Retry = source.Retry;
    SinglePlugin = source.SinglePlugin;
    return *this;
}

void TSPIBitmap::LoadFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFileError(fileName + QStringLiteral(": ") + file.errorString());
    LoadFromStreamWithName(file, fileName);
}

void TSPIBitmap::LoadFromStream(QIODevice &stream)
{
    Load(stream);
}

void TSPIBitmap::LoadFromStreamWithName(QIODevice &stream, const QString &fileName)
{
    const TSPINamedLoad named(FEngine, fileName);
    if (OnLoadFromStreamWithName)
        OnLoadFromStreamWithName(*this, fileName);
    Load(stream);
}

void TSPIBitmap::Load(QIODevice &stream)
{
    FEngine.Retry = Retry;
    FEngine.SinglePlugin = SinglePlugin;
    FEngine.LoadFromStream(stream);
}

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
    if (!image.loadFromData(dib.BmpFile(), "BMP"))
        return false;
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
