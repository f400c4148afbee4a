// The CALS raster plug-in: a drawing written as CALS type 1 (Group 4 data made
// with libtiff) traces to the same segments as the same drawing as BMP; the
// density comes along; what the plug-in does not read is refused with the
// plug-in error codes.

#include "PluginFixture.h"

#include "support/RecordingUserInterface.h"
#include "scan/ScanPictures.h"

#include "base/Settings.h"
#include "plugins/SPITzDIB.h"
#include "commands/ScanDriver.h"
#include "scan/ScanState.h"

#include <QCoreApplication>

#include <tiffio.h>

#include <vector>

namespace {

QString CalsPlugin()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QStringLiteral("/cals.spi"));
}

// The picture's rows (1 = black) coded with CCITT Group 4, as libtiff writes them.
QByteArray Group4(const TTzDIB &picture, const QString &scratch)
{
    TIFF *out = TIFFOpen(scratch.toLocal8Bit().constData(), "w");
    EXPECT_TRUE(out);
    if (!out)
        return QByteArray();
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, uint32_t(picture.Width()));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, uint32_t(picture.Height()));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, uint32_t(picture.Height()));
    std::vector<std::uint8_t> row(std::size_t(picture.RowSize()));
    for (int y = 0; y < picture.Height(); ++y) {
        std::memcpy(row.data(), picture.ScanLine(y), row.size());
        EXPECT_EQ(TIFFWriteScanline(out, row.data(), uint32_t(y), 0), 1);
    }
    TIFFClose(out);

    TIFF *in = TIFFOpen(scratch.toLocal8Bit().constData(), "r");
    EXPECT_TRUE(in);
    if (!in)
        return QByteArray();
    QByteArray data(qsizetype(TIFFRawStripSize(in, 0)), 0);
    EXPECT_EQ(TIFFReadRawStrip(in, 0, data.data(), data.size()), data.size());
    TIFFClose(in);
    return data;
}

// Sixteen 128-byte records: the fields given, the rest blank.
QByteArray CalsHeader(const QList<QByteArray> &fields)
{
    QByteArray header;
    for (int i = 0; i < 16; ++i) {
        QByteArray record = i < fields.size() ? fields[i] : QByteArray();
        header += record.leftJustified(128, ' ', true);
    }
    return header;
}

QList<QByteArray> Fields(int width, int height, const QByteArray &rtype = "1",
                         const QByteArray &rorient = "000,270")
{
    return {"srcdocid: trazbit test",
            "dstdocid: NONE",
            "txtfilid: NONE",
            "figid: NONE",
            "srcgph: NONE",
            "docls: NONE",
            "rtype: " + rtype,
            "rorient: " + rorient,
            "rpelcnt: " + QByteArray::number(width).rightJustified(6, '0') + ","
                + QByteArray::number(height).rightJustified(6, '0'),
            "rdensty: 0200",
            "notes: NONE"};
}

// A drawing that touches every edge: strokes, a filled block, diagonals.
TTzDIB Drawing()
{
    TTzDIB dib = WhitePicture(131, 77);
    BlackRect(dib, 0, 0, 130, 0);
    BlackRect(dib, 0, 76, 130, 76);
    BlackRect(dib, 0, 0, 0, 76);
    BlackRect(dib, 130, 0, 130, 76);
    BlackRect(dib, 10, 10, 60, 12);
    BlackRect(dib, 70, 20, 90, 50);
    for (int i = 0; i < 40; ++i) {
        Black(dib, 20 + i, 30 + i / 2);
        Black(dib, 100 + i / 3, 70 - i);
    }
    return dib;
}

class CalsPluginTest : public PluginTest
{
protected:
    QString WriteCals(const QString &name, const QList<QByteArray> &fields, const TTzDIB &picture)
    {
        return Write(name, CalsHeader(fields) + Group4(picture, Dir.filePath(QStringLiteral("g4.tif"))));
    }

    std::vector<TSeg> Trace(TPictureFormats &formats, const QString &path)
    {
        TRecordingUserInterface ui;
        TSettings settings;
        TScanState state;
        state.ResetSegments();
        TScanDriver driver(state, settings, ui, formats);
        EXPECT_EQ(driver.ScanData1(path), ScanDone) << path.toStdString();
        return SegmentsOf(state);
    }

    // Why reading `path` failed (the conversion must not finish).
    static QString LoadFailureOf(TPictureFormats &formats, const QString &path)
    {
        TRecordingUserInterface ui;
        TSettings settings;
        TScanState state;
        TScanDriver driver(state, settings, ui, formats);
        EXPECT_NE(driver.ScanData1(path), ScanDone);
        return driver.LoadFailure();
    }
};

TEST_F(CalsPluginTest, ACalsDrawingTracesLikeTheSameDrawingAsBmp)
{
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    TSPIs manager(&formats);
    manager.SearchOptions = spsAppDir;
    manager.Loaded();
    ASSERT_EQ(manager.IndexOf(CalsPlugin()), 0);
    ASSERT_TRUE(formats.Find(QStringLiteral("cal")));
    ASSERT_TRUE(formats.Find(QStringLiteral("ct1")));
    EXPECT_EQ(formats.Find(QStringLiteral("cal"))->Description, QStringLiteral("CALS raster type 1"));

    const TTzDIB drawing = Drawing();
    const QString bmp = Dir.filePath(QStringLiteral("plan.bmp"));
    ASSERT_TRUE(SavePicture(drawing, bmp));
    const QString cals = WriteCals(QStringLiteral("plan.cal"), Fields(131, 77), drawing);
    const std::vector<TSeg> fromBmp = Trace(formats, bmp);
    ASSERT_GT(fromBmp.size(), 10u);
    EXPECT_EQ(Trace(formats, cals), fromBmp);
}

// Pictures beyond 2^28 pixels, which the platform's BMP reader refuses, are
// taken; damaged data is named as such, not as an unknown format.
TEST_F(CalsPluginTest, LargePicturesAreTakenAndDamagedOnesNamed)
{
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    TSPIs manager(&formats);
    manager.SearchOptions = spsAppDir;
    manager.Loaded();
    TTzDIB large = WhitePicture(16385, 16384);
    BlackRect(large, 10, 100, 16000, 102);
    BlackRect(large, 16384, 0, 16384, 16383);
    const QString bmp = Dir.filePath(QStringLiteral("large.bmp"));
    ASSERT_TRUE(SavePicture(large, bmp));
    const QString cals = WriteCals(QStringLiteral("large.cal"), Fields(16385, 16384), large);
    const std::vector<TSeg> fromBmp = Trace(formats, bmp);
    ASSERT_GE(fromBmp.size(), 4u);
    EXPECT_EQ(Trace(formats, cals), fromBmp);

    const QByteArray whole = CalsHeader(Fields(131, 77)) + Group4(Drawing(), Dir.filePath(QStringLiteral("g4.tif")));
    const QString damaged = Write(QStringLiteral("damaged.cal"), whole.left(whole.size() - 40));
    EXPECT_EQ(LoadFailureOf(formats, damaged), QStringLiteral("画像データが壊れています"));
}

// The peak memory of this process (VmHWM) in bytes, and its reset to what
// the process holds now.
std::int64_t PeakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

bool ResetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// A CALS file of a white sheet whose Group 4 data codes `rows` rows (one bit
// each) without the end of the data.
QByteArray WhiteCals(int width, int height, int rows)
{
    return CalsHeader(Fields(width, height)) + QByteArray((rows + 7) / 8, char(0xFF));
}

// Pictures far larger than their data are read in the memory of their ink and
// their 1-bit mask: a sheet of 12000 x 16000 pixels with one stroke takes a
// small part of the four copies it once did; data that ends long before its
// declared size is found broken before the picture is made, or without
// touching the memory of its white rows.
TEST_F(CalsPluginTest, SheetsOfLittleDataTakeTheMemoryOfTheirMaskOnly)
{
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    TSPIs manager(&formats);
    manager.SearchOptions = spsAppDir;
    manager.Loaded();
    // White rows (one bit each), then 40 rows with a stroke as libtiff codes
    // them: after white rows a row is coded as the first row of a picture is.
    constexpr int kWidth = 12000, kHeight = 16000;
    TTzDIB bottom = WhitePicture(kWidth, 40);
    BlackRect(bottom, 100, 20, 11000, 22);
    const QString sheet = Write(QStringLiteral("sheet.cal"), CalsHeader(Fields(kWidth, kHeight))
                                                                 + QByteArray((kHeight - 40) / 8, char(0xFF))
                                                                 + Group4(bottom, Dir.filePath(QStringLiteral("g4.tif"))));
    ASSERT_TRUE(ResetPeakMemory());
    const std::int64_t before = PeakMemory();
    const std::vector<TSeg> segments = Trace(formats, sheet);
    const std::int64_t mask = std::int64_t(kWidth) * kHeight / 8;
    EXPECT_LT(PeakMemory() - before, 2 * mask);
    ASSERT_FALSE(segments.empty());
    for (const TSeg &s : segments) {
        EXPECT_GE(std::min(s.X1, s.X2), 100);
        EXPECT_LE(std::max(s.X1, s.X2), 11001);
    }

    struct TCase
    {
        const char *What;
        QByteArray File;
    };
    const TCase cases[] = {
        {"200000 x 85000 in 3 KB", WhiteCals(200000, 85000, 8000)},
        {"40000 x 85000, data for 80000 rows", WhiteCals(40000, 85000, 80000)},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.What);
        const QString path = Write(QStringLiteral("short.cal"), c.File);
        ASSERT_TRUE(ResetPeakMemory());
        const std::int64_t start = PeakMemory();
        EXPECT_EQ(LoadFailureOf(formats, path), QStringLiteral("画像データが壊れています"));
        EXPECT_LT(PeakMemory() - start, 32 << 20);
    }
}

TEST_F(CalsPluginTest, ThePictureIsOneBitWithTheDensityOfTheHeader)
{
    const std::unique_ptr<TSPI> spi = TSPI::Create(CalsPlugin());
    auto *plugin = dynamic_cast<TInSPI *>(spi.get());
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->Patterns(), QStringList{QStringLiteral("*.cal;*.ct1")});

    const TTzDIB drawing = Drawing();
    TSPITzDIB dib;
    dib.SinglePlugin = plugin;
    dib.LoadFromFile(WriteCals(QStringLiteral("dense.ct1"), Fields(131, 77), drawing));
    ASSERT_EQ(dib.BitCount(), 1);
    ASSERT_EQ(dib.Width(), 131);
    ASSERT_EQ(dib.Height(), 77);
    EXPECT_EQ(dib.Colors(0), 0xFFFFFF);
    EXPECT_EQ(dib.Colors(1), 0);
    EXPECT_EQ(dib.InternalDIB()->Header().biXPelsPerMeter, 7874);
    EXPECT_EQ(dib.InternalDIB()->Header().biYPelsPerMeter, 7874);
    EXPECT_EQ(dib.PictureInfo().XDensity, 200);
    EXPECT_EQ(dib.PictureInfo().ColorDepth, 1);
    for (int y = 0; y < 77; ++y)
        for (int x = 0; x < 131; ++x)
            ASSERT_EQ(dib.Pixels(x, y), drawing.Pixels(x, y)) << x << ',' << y;
}

TEST_F(CalsPluginTest, WhatThePluginCannotReadIsRefusedWithTheErrorCodes)
{
    const std::unique_ptr<TSPI> spi = TSPI::Create(CalsPlugin());
    auto *plugin = dynamic_cast<TInSPI *>(spi.get());
    ASSERT_TRUE(plugin);
    const TTzDIB drawing = Drawing();
    const QByteArray g4 = Group4(drawing, Dir.filePath(QStringLiteral("g4.tif")));
    struct TCase
    {
        const char *What;
        QByteArray File;
        bool Supported;
        int Result;
    };
    QList<QByteArray> noCount = Fields(131, 77);
    noCount.removeAt(8);
    const TCase cases[] = {
        {"type 1", CalsHeader(Fields(131, 77)) + g4, true, SPI_SUCCESS},
        {"type 2", CalsHeader(Fields(131, 77, "2")) + g4, true, SPI_UNKNOWN_FORMAT},
        {"turned", CalsHeader(Fields(131, 77, "1", "090,270")) + g4, true, SPI_UNKNOWN_FORMAT},
        {"mirrored", CalsHeader(Fields(131, 77, "1", "000,090")) + g4, true, SPI_UNKNOWN_FORMAT},
        {"no size", CalsHeader(noCount) + g4, false, SPI_UNKNOWN_FORMAT},
        {"zero width", CalsHeader(Fields(0, 77)) + g4, true, SPI_UNKNOWN_FORMAT},
        {"header cut short", CalsHeader(Fields(131, 77)).left(1100), true, SPI_UNKNOWN_FORMAT},
        {"no picture data", CalsHeader(Fields(131, 77)), true, SPI_BROKEN_DATA},
        {"picture data cut short", CalsHeader(Fields(131, 77)) + g4.left(g4.size() / 2), true, SPI_BROKEN_DATA},
        {"not CALS", QByteArray(4096, 'x'), false, SPI_UNKNOWN_FORMAT},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.What);
        QByteArray block = c.File;
        if (block.size() < 2048)
            block.append(QByteArray(2048 - block.size(), 0));
        EXPECT_EQ(plugin->IsSupported("test.cal", block.data()) != 0, c.Supported);
        PictureInfo info{};
        EXPECT_EQ(plugin->GetPictureInfo(block.constData(), long(c.File.size()), 1, &info),
                  c.Result == SPI_BROKEN_DATA ? SPI_SUCCESS : c.Result);
        void *header = nullptr, *bits = nullptr;
        EXPECT_EQ(plugin->GetPicture(block.constData(), long(c.File.size()), 1, &header, &bits, nullptr, 0),
                  c.Result);
        EXPECT_EQ(header != nullptr, c.Result == SPI_SUCCESS);
        if (header) {
            EXPECT_EQ(SpiHandleSize(header), 48u);
            EXPECT_EQ(SpiHandleSize(bits), 20u * 77u);
        }
        SpiFreeHandle(header);
        SpiFreeHandle(bits);
    }
}

} // namespace
