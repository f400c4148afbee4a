// Writes a picture as a CALS raster type 1 file, for the tests of the
// installed programs: tool_MakeCals IN.bmp OUT.cal. Dark pixels are black;
// the rows are coded with CCITT Group 4 by libtiff; density 200 dpi.

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <tiffio.h>

#include <cstdio>
#include <vector>

namespace {

QByteArray Record(const QByteArray &field)
{
    return field.leftJustified(128, ' ', true);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fputs("usage: tool_MakeCals IN OUT.cal\n", stderr);
        return 2;
    }
    const QImage picture(QString::fromLocal8Bit(argv[1]));
    if (picture.isNull()) {
        std::fprintf(stderr, "tool_MakeCals: cannot read %s\n", argv[1]);
        return 1;
    }
    const int width = picture.width();
    const int height = picture.height();

    QTemporaryDir scratch;
    const QByteArray tiffPath = scratch.filePath(QStringLiteral("g4.tif")).toLocal8Bit();
    TIFF *out = TIFFOpen(tiffPath.constData(), "w");
    if (!out)
        return 1;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, uint32_t(height));
    std::vector<std::uint8_t> row(std::size_t((width + 7) / 8));
    for (int y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < width; ++x)
            if (qGray(picture.pixel(x, y)) < 128)
                row[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        if (TIFFWriteScanline(out, row.data(), uint32_t(y), 0) != 1)
            return 1;
    }
    TIFFClose(out);

    TIFF *in = TIFFOpen(tiffPath.constData(), "r");
    if (!in)
        return 1;
    QByteArray data(qsizetype(TIFFRawStripSize(in, 0)), 0);
    const bool read = TIFFReadRawStrip(in, 0, data.data(), data.size()) == data.size();
    TIFFClose(in);
    if (!read)
        return 1;

    const QList<QByteArray> fields{
        "srcdocid: trazbit sample", "dstdocid: NONE", "txtfilid: NONE", "figid: NONE",
        "srcgph: NONE", "docls: NONE", "rtype: 1", "rorient: 000,270",
        "rpelcnt: " + QByteArray::number(width).rightJustified(6, '0') + ","
            + QByteArray::number(height).rightJustified(6, '0'),
        "rdensty: 0200", "notes: NONE"};
    QByteArray file;
    for (int i = 0; i < 16; ++i)
        file += Record(i < fields.size() ? fields[i] : QByteArray());
    file += data;
    QFile cals(QString::fromLocal8Bit(argv[2]));
    if (!cals.open(QIODevice::WriteOnly) || cals.write(file) != file.size())
        return 1;
    return 0;
}
