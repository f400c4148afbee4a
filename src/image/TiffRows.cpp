#include "image/CodecRows.h"

#include "image/DIBFormat.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <tiffio.h>

namespace {

// libtiff's errors and warnings stay quiet: an error ends reading, and the
// caller reads the picture whole through the platform's reader.
int Quiet(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

struct TOptions
{
    TOptions() : Options(TIFFOpenOptionsAlloc())
    {
        TIFFOpenOptionsSetErrorHandlerExtR(Options, Quiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(Options, Quiet, nullptr);
    }
    ~TOptions() { TIFFOpenOptionsFree(Options); }
    TIFFOpenOptions *Options;
};

// The first picture of a TIFF file, of the kinds the platform's reader copies
// straight from the decoded samples: 1-bit grey (min-is-white or
// min-is-black), 8-bit grey, 8-bit palettes and 8-bit RGB, in strips or
// tiles, with any compression libtiff decodes. Other kinds are left to the
// platform, which converts them through libtiff's RGBA interface.
class TTiffRows : public TPictureRows
{
public:
    TTiffRows(TIFF *tiff, QByteArray path) : Tiff(tiff), Path(std::move(path)) {}
    ~TTiffRows() override { TIFFClose(Tiff); }

    bool Open()
    {
        std::uint32_t width = 0, height = 0;
        std::uint16_t bits = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, orientation = 1;
        std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
        if (!TIFFGetField(Tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(Tiff, TIFFTAG_IMAGELENGTH, &height)
            || !TIFFGetField(Tiff, TIFFTAG_PHOTOMETRIC, &photometric))
            return false;
        TIFFGetFieldDefaulted(Tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(Tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(Tiff, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(Tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
        TIFFGetFieldDefaulted(Tiff, TIFFTAG_ORIENTATION, &orientation);
        if (width == 0 || height == 0 || orientation != ORIENTATION_TOPLEFT || sampleFormat != SAMPLEFORMAT_UINT)
            return false;
        const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
        if (grey && bits == 1 && samples == 1) {
            FBitCount = 1;
            const bool white0 = photometric == PHOTOMETRIC_MINISWHITE;
            FColors[0] = white0 ? TRGBQuad{255, 255, 255, 0} : TRGBQuad{0, 0, 0, 0};
            FColors[1] = white0 ? TRGBQuad{0, 0, 0, 0} : TRGBQuad{255, 255, 255, 0};
        } else if (grey && bits == 8 && samples == 1) {
            FBitCount = 8;
            for (int i = 0; i < 256; ++i) {
                const auto c = std::uint8_t(photometric == PHOTOMETRIC_MINISBLACK ? i : 255 - i);
                FColors[i] = TRGBQuad{c, c, c, 0};
            }
        } else if (photometric == PHOTOMETRIC_PALETTE && bits == 8 && samples == 1) {
            std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
            if (!TIFFGetField(Tiff, TIFFTAG_COLORMAP, &red, &green, &blue))
                return false;
            FBitCount = 8;
            // The upper 8 bits of each 16-bit entry.
            for (int i = 0; i < 256; ++i)
                FColors[i] = TRGBQuad{std::uint8_t(blue[i] >> 8), std::uint8_t(green[i] >> 8),
                                      std::uint8_t(red[i] >> 8), 0};
        } else if (photometric == PHOTOMETRIC_RGB && bits == 8 && samples == 3 && planar == PLANARCONFIG_CONTIG) {
            std::uint16_t compression = COMPRESSION_NONE;
            TIFFGetFieldDefaulted(Tiff, TIFFTAG_COMPRESSION, &compression);
            if (compression == COMPRESSION_OJPEG || compression == COMPRESSION_JPEG)
                return false;
            FBitCount = 24;
        } else {
            return false;
        }
        // Sizes the platform's reader refuses are left to it.
        if (!PlatformAllocates(width, height, FBitCount == 24 ? 32 : FBitCount))
            return false;
        FWidth = int(width);
        FHeight = int(height);
        FTopDown = true;
        ReadResolution();
        Samples = std::int64_t(FWidth) * (FBitCount == 24 ? 3 : 1);
        SampleBytes = FBitCount == 1 ? (FWidth + 7) / 8 : Samples;
        if (TIFFIsTiled(Tiff)) {
            std::uint32_t tileWidth = 0, tileLength = 0;
            if (!TIFFGetField(Tiff, TIFFTAG_TILEWIDTH, &tileWidth) || !TIFFGetField(Tiff, TIFFTAG_TILELENGTH, &tileLength)
                || tileWidth == 0 || tileLength == 0 || tileLength > 0x10000 || tileWidth > 0x10000)
                return false;
            TileWidth = int(tileWidth);
            TileLength = int(tileLength);
            // One row of tiles, decoded, as whole stored rows.
            TileRows.resize(static_cast<std::size_t>(RowSize() * TileLength));
            Tile.resize(static_cast<std::size_t>(TIFFTileSize64(Tiff)));
        } else if (TIFFScanlineSize64(Tiff) != std::uint64_t(SampleBytes)) {
            return false;
        }
        return true;
    }

    void Read(std::uint8_t *rows, int count) override
    {
        const std::int64_t rowSize = RowSize();
        for (int r = 0; r < count; ++r, ++Row) {
            std::uint8_t *row = rows + rowSize * r;
            if (TileLength) {
                if (Row >= FHeight)
                    throw ERowsRefused("The TIFF file is damaged");  // (past the last row: nothing to read)
                if (Row % TileLength == 0 && !ReadTileRow(Tiff, Row, Tile, TileRows))
                    throw ERowsRefused("The TIFF file is damaged");
                std::memcpy(row, TileRows.data() + rowSize * (Row % TileLength), std::size_t(rowSize));
            } else {
                std::memset(row + SampleBytes, 0, std::size_t(rowSize - SampleBytes));
                if (TIFFReadScanline(Tiff, row, std::uint32_t(Row), 0) < 0)
                    throw ERowsRefused("The TIFF file is damaged");
            }
            if (FBitCount == 24)
                for (std::int64_t x = 0; x < Samples; x += 3)
                    std::swap(row[x], row[x + 2]);
            else if (FBitCount == 1 && (FWidth & 7))
                row[FWidth / 8] &= std::uint8_t(0xFF00 >> (FWidth & 7));
        }
        // The last row of tiles is read: its room goes (the picture is often
        // read again meanwhile, its reader kept).
        if (TileLength && Row >= FHeight) {
            std::vector<std::uint8_t>().swap(TileRows);
            std::vector<std::uint8_t>().swap(Tile);
        }
    }

    // Whole strips (or rows of tiles) of grey and colour pictures spread over
    // the picture, read through a second handle, where a strip (a row of
    // tiles) holds at most `count` rows.
    bool Sample(int count, const TRowVisitor &each) override
    {
        if (FBitCount == 1 || count <= 0)
            return false;
        const TOptions options;
        const std::unique_ptr<TIFF, void (*)(TIFF *)> tiff(TIFFOpenExt(Path.constData(), "rm", options.Options),
                                                           [](TIFF *t) { if (t) TIFFClose(t); });
        if (TileLength)
            return tiff && SampleTiles(tiff.get(), count, each);
        std::uint32_t stripRows = 0;
        if (!tiff || !TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &stripRows) || stripRows == 0
            || stripRows > std::uint32_t(count) || TIFFStripSize64(tiff.get()) > (std::uint64_t(8) << 20))
            return false;
        const int strips = int(TIFFNumberOfStrips(tiff.get()));
        const int wanted = std::clamp(count / int(stripRows), 1, strips);
        std::vector<std::uint8_t> strip(static_cast<std::size_t>(TIFFStripSize64(tiff.get())));
        std::vector<std::uint8_t> row(static_cast<std::size_t>(RowSize()));
        for (int k = 0; k < wanted; ++k) {
            const int index = int((std::int64_t(2 * k + 1) * strips) / (2 * std::int64_t(wanted)));
            const tmsize_t bytes = TIFFReadEncodedStrip(tiff.get(), std::uint32_t(index), strip.data(), tmsize_t(-1));
            if (bytes < 0)
                return false;
            const int rows = std::min(int(stripRows), FHeight - index * int(stripRows));
            if (bytes < tmsize_t(rows) * tmsize_t(SampleBytes))
                return false;
            for (int r = 0; r < rows; ++r) {
                std::memcpy(row.data(), strip.data() + std::int64_t(r) * SampleBytes, std::size_t(SampleBytes));
                if (FBitCount == 24)
                    for (std::int64_t x = 0; x < Samples; x += 3)
                        std::swap(row[std::size_t(x)], row[std::size_t(x + 2)]);
                each(row.data());
            }
        }
        return true;
    }

private:
    // Whole rows of tiles spread over the picture, as Sample reads strips
    // (the rows of tiles (2k + 1) n / 2m of n, m of them).
    bool SampleTiles(TIFF *tiff, int count, const TRowVisitor &each)
    {
        // (A second row of tiles held meanwhile: not beyond a modest size.)
        const std::int64_t rowSize = RowSize();
        if (TileLength > count || rowSize * TileLength > (std::int64_t(32) << 20))
            return false;
        const int tileRows = (FHeight + TileLength - 1) / TileLength;
        const int wanted = std::clamp(count / TileLength, 1, tileRows);
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(TIFFTileSize64(tiff))),
            rows(static_cast<std::size_t>(rowSize * TileLength));
        for (int k = 0; k < wanted; ++k) {
            const int top = int((std::int64_t(2 * k + 1) * tileRows) / (2 * std::int64_t(wanted))) * TileLength;
            if (!ReadTileRow(tiff, top, tile, rows))
                return false;
            for (int r = 0; r < std::min(TileLength, FHeight - top); ++r) {
                std::uint8_t *row = rows.data() + rowSize * r;
                if (FBitCount == 24)
                    for (std::int64_t x = 0; x < Samples; x += 3)
                        std::swap(row[x], row[x + 2]);
                each(row);
            }
        }
        return true;
    }

    // The tiles of the row of tiles that starts at picture row `top`, read
    // through `tiff` into `rows` (`tile`: one tile's buffer); false when the
    // file is damaged.
    bool ReadTileRow(TIFF *tiff, int top, std::vector<std::uint8_t> &tile, std::vector<std::uint8_t> &tileRows) const
    {
        const std::int64_t rowSize = RowSize();
        std::memset(tileRows.data(), 0, tileRows.size());
        const int rows = std::min(TileLength, FHeight - top);
        const int pixelBits = FBitCount;
        const std::int64_t tileRowBytes = (std::int64_t(TileWidth) * pixelBits + 7) / 8;
        for (int left = 0; left < FWidth; left += TileWidth) {
            if (TIFFReadTile(tiff, tile.data(), std::uint32_t(left), std::uint32_t(top), 0, 0) < 0)
                return false;
            const int columns = std::min(TileWidth, FWidth - left);
            for (int y = 0; y < rows; ++y) {
                const std::uint8_t *from = tile.data() + tileRowBytes * y;
                std::uint8_t *to = tileRows.data() + rowSize * y;
                if (pixelBits == 1) {
                    // Tile widths are multiples of 16: whole bytes.
                    std::memcpy(to + left / 8, from, std::size_t((columns + 7) / 8));
                } else {
                    const int bytes = pixelBits / 8;
                    std::memcpy(to + std::int64_t(left) * bytes, from, std::size_t(columns) * std::size_t(bytes));
                }
            }
        }
        return true;
    }

    // The resolution in dots per metre as the platform keeps it.
    void ReadResolution()
    {
        QImage image(1, 1, QImage::Format_Mono);
        const QImage blank = image;
        float x = 0, y = 0;
        std::uint16_t unit = RESUNIT_INCH;
        if (!TIFFGetField(Tiff, TIFFTAG_RESOLUTIONUNIT, &unit))
            unit = RESUNIT_INCH;
        if (TIFFGetField(Tiff, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(Tiff, TIFFTAG_YRESOLUTION, &y)) {
            if (unit == RESUNIT_CENTIMETER) {
                image.setDotsPerMeterX(qRound(x * 100));
                image.setDotsPerMeterY(qRound(y * 100));
            } else if (unit == RESUNIT_INCH) {
                image.setDotsPerMeterX(qRound(x * (100 / 2.54)));
                image.setDotsPerMeterY(qRound(y * (100 / 2.54)));
            }
        }
        FDotsPerMeterX = image.dotsPerMeterX() != blank.dotsPerMeterX() ? image.dotsPerMeterX() : 0;
        FDotsPerMeterY = image.dotsPerMeterY() != blank.dotsPerMeterY() ? image.dotsPerMeterY() : 0;
    }

    TIFF *Tiff;
    QByteArray Path;
    int Row = 0;
    std::int64_t Samples = 0;       // samples of one row
    std::int64_t SampleBytes = 0;   // bytes of one decoded row
    int TileWidth = 0, TileLength = 0;
    std::vector<std::uint8_t> Tile, TileRows;
};

} // namespace

namespace PictureReaders {

std::unique_ptr<TPictureRows> OpenTiffRows(const QString &path)
{
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray magic = probe.read(4);
    probe.close();
    if (magic != QByteArray("II*\0", 4) && magic != QByteArray("MM\0*", 4))
        return nullptr;
    const TOptions options;
    const QByteArray name = QFile::encodeName(path);
    TIFF *tiff = TIFFOpenExt(name.constData(), "rm", options.Options);
    if (!tiff)
        return nullptr;
    auto rows = std::make_unique<TTiffRows>(tiff, name);
    if (!rows->Open())
        return nullptr;
    return rows;
}

} // namespace PictureReaders
