// The row readers of JPEG, PNG and TIFF files must give exactly the picture
// the platform's whole-picture reader gives for the same file: the same stored
// bytes of every row, the same colour table and the same resolution; damaged
// files must end in that reader's error.

#include "image/CodecRows.h"

#include "app/core/Errors.h"
#include "image/PictureFormats.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

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
    const std::unique_ptr<TPictureRows> rows = PictureReaders::OpenJpegRows(cut);
    ASSERT_TRUE(rows);
    std::vector<std::uint8_t> all(static_cast<std::size_t>(rows->RowSize() * rows->Height()));
    EXPECT_THROW(rows->Read(all.data(), rows->Height()), ERowsRefused);
}

} // namespace
