// The row readers of JPEG, PNG and TIFF files must give exactly the picture
// the platform's whole-picture reader gives for the same file: the same stored
// bytes of every row, the same colour table and the same resolution; damaged
// files must end in that reader's error.

#include "image/CodecRows.h"

#include "base/Errors.h"
#include "image/PictureFormats.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace {

// Every row, the colour table and the resolution of the rows against the
// whole picture the platform reads.
void ExpectSamePicture(const QString &path, const std::string &what)
{
    TTzDIB whole;
    PictureReaders::ReadWithPlatform(path, whole);
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    const std::unique_ptr<TPictureRows> rows = formats.OpenRows(path);
    ASSERT_TRUE(rows) << what;
    ASSERT_EQ(rows->Width(), whole.Width()) << what;
    ASSERT_EQ(rows->Height(), whole.Height()) << what;
    ASSERT_EQ(rows->BitCount(), whole.BitCount()) << what;
    if (rows->BitCount() <= 8) {
        for (int i = 0; i < (1 << rows->BitCount()); ++i)
            ASSERT_EQ(rows->Color(i), whole.Colors(i)) << what << " entry " << i;
    }
    const TBitmapInfoHeader &header = whole.InternalDIB()->Header();
    EXPECT_EQ(rows->DotsPerMeterX(), header.biXPelsPerMeter) << what;
    EXPECT_EQ(rows->DotsPerMeterY(), header.biYPelsPerMeter) << what;
    const std::int64_t rowSize = rows->RowSize();
    const std::size_t used = static_cast<std::size_t>((std::int64_t(rows->Width()) * rows->BitCount() + 7) / 8);
    std::vector<std::uint8_t> band(static_cast<std::size_t>(rowSize * 3));
    for (int first = 0; first < rows->Height(); first += 3) {
        const int count = std::min(3, rows->Height() - first);
        rows->Read(band.data(), count);
        for (int r = 0; r < count; ++r) {
            const int fileRow = first + r;
            const int y = rows->TopDown() ? fileRow : rows->Height() - 1 - fileRow;
            ASSERT_EQ(std::memcmp(band.data() + rowSize * r, whole.ScanLine(y), used), 0) << what << " row " << y;
        }
    }
}

struct TJpegKind
{
    const char *Name;
    int Components;            // 1 grey, 3 colour
    J_COLOR_SPACE Stored;      // JCS_YCbCr, JCS_RGB or JCS_GRAYSCALE
    int H, V;                  // sampling of the first component
    bool Progressive;
    int DensityUnit, XDensity, YDensity;
    int Width, Height, Quality;
    int Orientation = 0;       // an Exif orientation tag (0: no Exif block)
};

// Strokes and soft gradients, so that every sampling and rounding shows.
QString WriteJpeg(const QString &path, const TJpegKind &k, unsigned seed)
{
    std::mt19937 random(seed);
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(k.Width);
    info.image_height = JDIMENSION(k.Height);
    info.input_components = k.Components;
    info.in_color_space = k.Components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, k.Stored);
    jpeg_set_quality(&info, k.Quality, TRUE);
    info.comp_info[0].h_samp_factor = k.H;
    info.comp_info[0].v_samp_factor = k.V;
    info.density_unit = UINT8(k.DensityUnit);
    info.X_density = UINT16(k.XDensity);
    info.Y_density = UINT16(k.YDensity);
    if (k.Progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    if (k.Orientation) {
        // Exif, little-endian TIFF header, one IFD entry: orientation (short).
        const JOCTET exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0,
                               1,   0,   0,   0,   JOCTET(k.Orientation), 0, 0, 0, 0, 0, 0, 0};
        jpeg_write_marker(&info, JPEG_APP0 + 1, exif, sizeof exif);
    }
    std::vector<JSAMPLE> row(static_cast<std::size_t>(k.Width * k.Components));
    for (int y = 0; y < k.Height; ++y) {
        for (int x = 0; x < k.Width; ++x)
            for (int c = 0; c < k.Components; ++c) {
                const bool ink = (x / 5 + y / 7) % 4 == 0 || random() % 31 == 0;
                row[std::size_t(x * k.Components + c)] =
                    JSAMPLE(ink ? random() % 60 : 120 + (x * 3 + y * (c + 1) * 5) % 136);
            }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
    return path;
}

TEST(CodecRowsTest, JpegRowsAreThePlatformsPicture)
{
    const TJpegKind kinds[] = {
        {"grey", 1, JCS_GRAYSCALE, 1, 1, false, 1, 300, 300, 61, 37, 90},
        {"grey progressive", 1, JCS_GRAYSCALE, 1, 1, true, 0, 1, 1, 64, 16, 75},
        {"colour 4:2:0", 3, JCS_YCbCr, 2, 2, false, 1, 400, 400, 77, 45, 90},
        {"colour 4:2:2", 3, JCS_YCbCr, 2, 1, false, 2, 15748, 11811, 50, 33, 80},
        {"colour 4:4:4", 3, JCS_YCbCr, 1, 1, false, 1, 96, 96, 33, 19, 95},
        {"colour 4:2:0 progressive", 3, JCS_YCbCr, 2, 2, true, 1, 600, 600, 129, 71, 40},
        {"colour stored as RGB", 3, JCS_RGB, 1, 1, false, 0, 0, 0, 41, 23, 90},
        {"one pixel", 3, JCS_YCbCr, 2, 2, false, 1, 72, 72, 1, 1, 90},
        {"Exif, as stored", 3, JCS_YCbCr, 2, 2, false, 1, 300, 300, 30, 10, 90, 1},
    };
    QTemporaryDir dir;
    unsigned seed = 3;
    for (const TJpegKind &k : kinds) {
        for (const char *extension : {"jpg", "jpeg"}) {
            ++seed;
            const QString path = WriteJpeg(dir.filePath(QStringLiteral("%1.%2").arg(seed).arg(extension)), k, seed);
            ExpectSamePicture(path, std::string(k.Name) + " ." + extension);
        }
    }
}

TEST(CodecRowsTest, OtherFilesAreLeftToThePlatform)
{
    QTemporaryDir dir;
    // A PNG file named .jpg, and a JPEG file cut short: the row reader takes
    // neither whole; the cut file ends in the platform's own error.
    const QString png = dir.filePath(QStringLiteral("png.jpg"));
    QImage(5, 5, QImage::Format_RGB32).save(png, "png");
    EXPECT_FALSE(PictureReaders::OpenJpegRows(png));

    const TJpegKind k{"cut", 3, JCS_YCbCr, 2, 2, false, 1, 300, 300, 90, 90, 90};
    const QString cut = WriteJpeg(dir.filePath(QStringLiteral("cut.jpg")), k, 1);
    {
        QFile file(cut);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(file.size() / 2));
    }
    // Pictures above the platform's allocation limit stay its own, to fail as
    // they always did: 600 x 600 colour is 1.4 MB as it allocates them.
    const TJpegKind large{"large", 3, JCS_YCbCr, 2, 2, false, 0, 0, 0, 600, 600, 50};
    const QString big = WriteJpeg(dir.filePath(QStringLiteral("large.jpg")), large, 1);
    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    EXPECT_FALSE(PictureReaders::OpenJpegRows(big));
    QImageReader::setAllocationLimit(2);
    EXPECT_TRUE(PictureReaders::OpenJpegRows(big));
    QImageReader::setAllocationLimit(limit);

    // A picture to be turned stays the platform's.
    const TJpegKind turned{"turned", 3, JCS_YCbCr, 2, 2, false, 1, 300, 300, 30, 10, 90, 6};
    EXPECT_FALSE(PictureReaders::OpenJpegRows(WriteJpeg(dir.filePath(QStringLiteral("turned.jpg")), turned, 1)));

    const std::unique_ptr<TPictureRows> rows = PictureReaders::OpenJpegRows(cut);
    ASSERT_TRUE(rows);
    std::vector<std::uint8_t> all(static_cast<std::size_t>(rows->RowSize() * rows->Height()));
    EXPECT_THROW(rows->Read(all.data(), rows->Height()), ERowsRefused);
}

struct TPngKind
{
    const char *Name;
    int ColourType;        // PNG_COLOR_TYPE_...
    int Depth;
    bool Interlaced;
    int Unit, X, Y;        // pHYs; unit -1: none
    bool Gamma;            // a gAMA chunk
    int Width, Height;
    bool Transparent;      // a tRNS chunk (left to the platform)
};

QString WritePng(const QString &path, const TPngKind &k, unsigned seed)
{
    std::mt19937 random(seed);
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(k.Width), png_uint_32(k.Height), k.Depth, k.ColourType,
                 k.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    if (k.ColourType == PNG_COLOR_TYPE_PALETTE) {
        const int entries = std::min(1 << k.Depth, 200);
        for (int i = 0; i < entries; ++i)
            palette.push_back(png_color{png_byte(i * 37), png_byte(255 - i), png_byte(i * 11)});
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    }
    png_byte alpha[1] = {0};
    png_color_16 grey{};
    if (k.Transparent)
        png_set_tRNS(png, info, alpha, 1, &grey);
    if (k.Unit >= 0)
        png_set_pHYs(png, info, png_uint_32(k.X), png_uint_32(k.Y), k.Unit);
    if (k.Gamma)
        png_set_gAMA(png, info, 0.45455);
    png_write_info(png, info);
    const int channels = k.ColourType == PNG_COLOR_TYPE_RGB ? 3 : k.ColourType == PNG_COLOR_TYPE_RGBA ? 4 : 1;
    const int bytesPerChannel = k.Depth == 16 ? 2 : 1;
    const std::size_t rowBytes = k.Depth < 8 ? std::size_t((k.Width * k.Depth + 7) / 8)
                                             : std::size_t(k.Width * channels * bytesPerChannel);
    std::vector<std::vector<png_byte>> rows(std::size_t(k.Height), std::vector<png_byte>(rowBytes));
    const int entries = k.ColourType == PNG_COLOR_TYPE_PALETTE ? int(palette.size()) : 1 << std::min(k.Depth, 8);
    for (auto &row : rows)
        for (std::size_t i = 0; i < rowBytes; ++i)
            row[i] = png_byte(k.Depth < 8 || k.ColourType != PNG_COLOR_TYPE_PALETTE ? random() : random() % entries);
    if (k.ColourType == PNG_COLOR_TYPE_PALETTE && k.Depth < 8)
        for (auto &row : rows)
            for (std::size_t i = 0; i < rowBytes; ++i) {
                // Indices within the table.
                const int per = 8 / k.Depth;
                png_byte b = 0;
                for (int j = 0; j < per; ++j)
                    b = png_byte(b << k.Depth | (random() % entries));
                row[i] = b;
            }
    std::vector<png_bytep> pointers;
    for (auto &row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return path;
}

TEST(CodecRowsTest, PngRowsAreThePlatformsPicture)
{
    const TPngKind kinds[] = {
        {"grey 1 bit", PNG_COLOR_TYPE_GRAY, 1, false, 1, 11811, 11811, false, 77, 19, false},
        {"grey 1 bit interlaced", PNG_COLOR_TYPE_GRAY, 1, true, -1, 0, 0, false, 13, 29, false},
        {"grey 8 bits", PNG_COLOR_TYPE_GRAY, 8, false, 1, 3780, 3780, true, 61, 17, false},
        {"grey 8 bits interlaced", PNG_COLOR_TYPE_GRAY, 8, true, 0, 2, 3, false, 33, 41, false},
        {"palette 1 bit", PNG_COLOR_TYPE_PALETTE, 1, false, 1, 15748, 7874, false, 70, 9, false},
        {"palette 2 bits", PNG_COLOR_TYPE_PALETTE, 2, false, -1, 0, 0, false, 21, 8, false},
        {"palette 4 bits", PNG_COLOR_TYPE_PALETTE, 4, true, -1, 0, 0, false, 23, 12, false},
        {"palette 8 bits", PNG_COLOR_TYPE_PALETTE, 8, false, 1, 2835, 2835, false, 45, 14, false},
        {"RGB", PNG_COLOR_TYPE_RGB, 8, false, 1, 23622, 23622, true, 51, 22, false},
        {"RGB interlaced", PNG_COLOR_TYPE_RGB, 8, true, -1, 0, 0, false, 9, 35, false},
        {"one pixel", PNG_COLOR_TYPE_RGB, 8, false, -1, 0, 0, false, 1, 1, false},
    };
    QTemporaryDir dir;
    unsigned seed = 40;
    for (const TPngKind &k : kinds) {
        ++seed;
        ExpectSamePicture(WritePng(dir.filePath(QStringLiteral("%1.png").arg(seed)), k, seed), k.Name);
    }
    // Transparency, alpha and 16 bits are the platform's: no rows.
    const TPngKind platform[] = {
        {"grey with tRNS", PNG_COLOR_TYPE_GRAY, 8, false, -1, 0, 0, false, 5, 5, true},
        {"RGBA", PNG_COLOR_TYPE_RGBA, 8, false, -1, 0, 0, false, 5, 5, false},
        {"grey 16 bits", PNG_COLOR_TYPE_GRAY, 16, false, -1, 0, 0, false, 5, 5, false},
    };
    for (const TPngKind &k : platform)
        EXPECT_FALSE(PictureReaders::OpenPngRows(WritePng(dir.filePath(QStringLiteral("%1.png").arg(++seed)), k, 1)))
            << k.Name;
}

struct TTiffKind
{
    const char *Name;
    int Photometric, Bits, Samples, Compression;
    int Tile;              // tile size (0: strips)
    int Unit;              // resolution unit (0: no resolution)
    int Width, Height;
};

QString WriteTiff(const QString &path, const TTiffKind &k, unsigned seed)
{
    std::mt19937 random(seed);
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(k.Width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(k.Height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, std::uint16_t(k.Bits));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(k.Samples));
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, std::uint16_t(k.Photometric));
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, std::uint16_t(k.Compression));
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (k.Samples == 4) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (k.Unit) {
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, std::uint16_t(k.Unit));
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 400.0f);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 157.5f);
    }
    std::vector<std::uint16_t> map(std::size_t(1) << k.Bits);
    if (k.Photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> red(map.size()), green(map.size()), blue(map.size());
        for (std::size_t i = 0; i < map.size(); ++i) {
            red[i] = std::uint16_t(i * 257);
            green[i] = std::uint16_t(65535 - i * 199);
            blue[i] = std::uint16_t((i * 7919) & 0xFFFF);
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    const std::size_t rowBytes = std::size_t((k.Width * k.Bits * k.Samples + 7) / 8);
    std::vector<std::vector<std::uint8_t>> rows(std::size_t(k.Height), std::vector<std::uint8_t>(rowBytes));
    for (auto &row : rows)
        for (std::size_t i = 0; i < rowBytes; ++i)
            row[i] = std::uint8_t(random() % 3 ? (i / 4 % 5 ? 0xFF : 0x00) : random());
    if (k.Tile) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, std::uint32_t(k.Tile));
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, std::uint32_t(k.Tile));
        const std::size_t tileRow = std::size_t((k.Tile * k.Bits * k.Samples + 7) / 8);
        std::vector<std::uint8_t> tile(tileRow * std::size_t(k.Tile));
        for (int top = 0; top < k.Height; top += k.Tile)
            for (int left = 0; left < k.Width; left += k.Tile) {
                std::fill(tile.begin(), tile.end(), 0);
                const std::size_t offset = std::size_t(left * k.Bits * k.Samples / 8);
                for (int y = 0; y < k.Tile && top + y < k.Height; ++y)
                    std::memcpy(tile.data() + tileRow * std::size_t(y), rows[std::size_t(top + y)].data() + offset,
                                std::min(tileRow, rowBytes - offset));
                TIFFWriteTile(tiff, tile.data(), std::uint32_t(left), std::uint32_t(top), 0, 0);
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, std::uint32_t(7));
        for (int y = 0; y < k.Height; ++y)
            TIFFWriteScanline(tiff, rows[std::size_t(y)].data(), std::uint32_t(y), 0);
    }
    TIFFClose(tiff);
    return path;
}

TEST(CodecRowsTest, TiffRowsAreThePlatformsPicture)
{
    const TTiffKind kinds[] = {
        {"1 bit min-is-white G4", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX4, 0, RESUNIT_INCH, 93, 41},
        {"1 bit min-is-white G3", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX3, 0, RESUNIT_CENTIMETER, 64, 20},
        {"1 bit min-is-black packbits", PHOTOMETRIC_MINISBLACK, 1, 1, COMPRESSION_PACKBITS, 0, 0, 71, 15},
        {"1 bit tiled LZW", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_LZW, 16, RESUNIT_NONE, 50, 37},
        {"8 bits grey deflate", PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_ADOBE_DEFLATE, 0, RESUNIT_INCH, 45, 23},
        {"8 bits min-is-white none", PHOTOMETRIC_MINISWHITE, 8, 1, COMPRESSION_NONE, 0, 0, 31, 12},
        {"8 bits palette LZW", PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_LZW, 0, RESUNIT_INCH, 39, 18},
        {"8 bits grey tiled", PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_ADOBE_DEFLATE, 32, 0, 70, 40},
        {"RGB none", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_NONE, 0, RESUNIT_INCH, 27, 13},
        {"RGB LZW tiled", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, 16, 0, 40, 35},
        {"RGB packbits", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_PACKBITS, 0, RESUNIT_CENTIMETER, 19, 9},
    };
    QTemporaryDir dir;
    unsigned seed = 90;
    for (const TTiffKind &k : kinds) {
        ++seed;
        for (const char *extension : {"tif", "tiff"})
            ExpectSamePicture(WriteTiff(dir.filePath(QStringLiteral("%1.%2").arg(seed).arg(extension)), k, seed),
                              std::string(k.Name) + " ." + extension);
    }
    // What the platform converts through libtiff's RGBA interface stays its.
    const TTiffKind platform[] = {
        {"RGBA", PHOTOMETRIC_RGB, 8, 4, COMPRESSION_NONE, 0, 0, 5, 5},
        {"4-bit palette", PHOTOMETRIC_PALETTE, 4, 1, COMPRESSION_NONE, 0, 0, 5, 5},
        {"16-bit grey", PHOTOMETRIC_MINISBLACK, 16, 1, COMPRESSION_NONE, 0, 0, 5, 5},
    };
    for (const TTiffKind &k : platform)
        EXPECT_FALSE(PictureReaders::OpenTiffRows(WriteTiff(dir.filePath(QStringLiteral("%1.tif").arg(++seed)), k, 1)))
            << k.Name;
}

} // namespace

namespace {

TEST(CodecRowsTest, SampledRowsAreTheRowsReadAtTheirPlaces)
{
    // Rows spread over the picture, taken before or between the rows read in
    // order, are the rows Read gives at their places, and reading goes on
    // where it was: BMP rows (2k + 1) H / 2n of n, whole TIFF strips (of 7
    // rows) or rows of tiles at those places among them; a strip or a row of
    // tiles longer than the rows asked for and 1-bit pictures are not sampled.
    QTemporaryDir dir;
    const auto bmp = [&](QImage::Format format, int width, const char *name) {
        QImage image(width, 10, format);
        if (format == QImage::Format_Indexed8) {
            QList<QRgb> table;
            for (int i = 0; i < 256; ++i)
                table << qRgb(i, 255 - i, i / 2);
            image.setColorTable(table);
        }
        for (int y = 0; y < image.height(); ++y)
            for (int i = 0; i < image.bytesPerLine(); ++i)
                image.scanLine(y)[i] = std::uint8_t(y * 37 + i * 11);
        const QString path = dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(image.save(path, "bmp"));
        return path;
    };
    const auto tiff = [&](const TTiffKind &k) { return WriteTiff(dir.filePath(QString::fromLatin1(k.Name) + ".tif"), k, 7); };
    const TTiffKind grey{"grey", PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_ADOBE_DEFLATE, 0, 0, 45, 23};
    const TTiffKind rgb{"rgb", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_PACKBITS, 0, 0, 19, 9};
    const TTiffKind tiled{"tiled", PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_ADOBE_DEFLATE, 16, 0, 40, 35};
    const TTiffKind tiledRgb{"tiledrgb", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, 16, 0, 21, 20};
    const auto span = [](int from, int to) {
        std::vector<int> rows;
        for (int r = from; r < to; ++r)
            rows.push_back(r);
        return rows;
    };
    std::vector<int> firstAndLast = span(0, 16);
    for (const int r : span(32, 35))
        firstAndLast.push_back(r);
    const TTiffKind bits1{"bits1", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX4, 0, 0, 93, 41};
    const struct
    {
        QString Path;
        int ReadFirst, Count;
        std::vector<int> Rows;   // empty: not sampled
    } cases[] = {
        {bmp(QImage::Format_Indexed8, 31, "a.bmp"), 0, 4, {1, 3, 6, 8}},
        {bmp(QImage::Format_RGB888, 19, "b.bmp"), 3, 4, {1, 3, 6, 8}},
        {tiff(grey), 0, 14, {7, 8, 9, 10, 11, 12, 13, 21, 22}},
        {tiff(rgb), 2, 7, {7, 8}},
        {tiff(grey), 0, 6, {}},
        {tiff(tiled), 0, 20, span(16, 32)},
        {tiff(tiled), 5, 40, firstAndLast},
        {tiff(tiled), 0, 15, {}},
        {tiff(tiledRgb), 0, 16, span(16, 20)},
        {tiff(bits1), 0, 20, {}},
    };
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    for (const auto &c : cases) {
        const std::string what = QFileInfo(c.Path).fileName().toStdString() + " " + std::to_string(c.Count);
        const std::unique_ptr<TPictureRows> inOrder = formats.OpenRows(c.Path), sampled = formats.OpenRows(c.Path);
        ASSERT_TRUE(inOrder && sampled) << what;
        const std::size_t rowSize = static_cast<std::size_t>(inOrder->RowSize());
        std::vector<std::uint8_t> all(rowSize * static_cast<std::size_t>(inOrder->Height()));
        inOrder->Read(all.data(), inOrder->Height());
        std::vector<std::uint8_t> again(all.size());
        sampled->Read(again.data(), c.ReadFirst);
        std::vector<std::vector<std::uint8_t>> taken;
        const bool done = sampled->Sample(c.Count, [&](const std::uint8_t *row) { taken.emplace_back(row, row + rowSize); });
        sampled->Read(again.data() + rowSize * static_cast<std::size_t>(c.ReadFirst), sampled->Height() - c.ReadFirst);
        EXPECT_TRUE(again == all) << what;
        EXPECT_EQ(done, !c.Rows.empty()) << what;
        if (!done)
            continue;
        ASSERT_EQ(taken.size(), c.Rows.size()) << what;
        for (std::size_t k = 0; k < taken.size(); ++k)
            EXPECT_TRUE(std::equal(taken[k].begin(), taken[k].end(), all.begin() + std::ptrdiff_t(rowSize) * c.Rows[k]))
                << what << " row " << c.Rows[k];
    }
}

} // namespace
