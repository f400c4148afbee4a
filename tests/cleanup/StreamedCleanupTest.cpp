// The clean-up read a band of rows at a time must make exactly the mask and
// the segments that it makes from the whole picture, for every threshold, band
// size and thread count.

#include "scan/ScanFixture.h"

#include "cleanup/CleanupFilters.h"
#include "cleanup/Centerline.h"
#include "cleanup/PixelChains.h"
#include "cleanup/CleanupSteps.h"
#include "cleanup/Threshold.h"
#include "image/PictureFormats.h"
#include "image/PictureRows.h"

#include <QFile>
#include <QImage>

#include <random>
#include <string>

namespace {

// The threshold as the settings write it, to name a case.
QString ThresholdText(const TCleanupOptions &options)
{
    switch (options.Threshold) {
    case TCleanupOptions::TThreshold::Automatic: return QStringLiteral("auto");
    case TCleanupOptions::TThreshold::Level: return QString::number(options.ThresholdLevel);
    default: return QString();
    }
}

void ExpectSameMask(const TBlackMask &a, const TBlackMask &b, const std::string &what)
{
    ASSERT_EQ(a.Width(), b.Width()) << what;
    ASSERT_EQ(a.Height(), b.Height()) << what;
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < a.Words(); ++i)
            ASSERT_EQ(a.Line(y)[i], b.Line(y)[i]) << what << " line " << y << " word " << i;
}

// Strokes of dark grey and black over paper of several greys, with specks;
// palettes of greys and colours.
TTzDIB Scan(int bits, int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    TTzDIB d;
    d.SetBitCount(bits);
    d.SetWidth(width);
    d.SetHeight(height);
    const int entries = bits == 24 ? 0 : 1 << bits;
    for (int i = 0; i < entries; ++i) {
        const int v = (i * 255) / std::max(entries - 1, 1);
        d.SetColors(i, i % 5 == 3 ? (v | 0x2000) : v | v << 8 | v << 16);
    }
    const auto value = [&](bool ink) -> std::int32_t {
        if (bits != 24)
            return ink ? static_cast<std::int32_t>(random() % std::max(entries / 3, 1))
                       : static_cast<std::int32_t>(entries - 1 - random() % std::max(entries / 4, 1));
        const int base = ink ? static_cast<int>(random() % 110) : static_cast<int>(150 + random() % 106);
        return base | ((base + static_cast<int>(random() % 30)) & 0xFF) << 8 | (base / 2) << 16;
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool stroke = (x / 7 + y / 11) % 5 == 0 || std::abs(x - 2 * y) < 3 || random() % 97 == 0;
            d.SetPixels(x, y, value(stroke));
        }
    return d;
}

// The rows of another reader, which cannot sample them.
class TInOrderRows : public TPictureRows
{
public:
    explicit TInOrderRows(std::unique_ptr<TPictureRows> rows) : Rows(std::move(rows)) { CopyLayout(*Rows); }
    void Read(std::uint8_t *rows, int count) override { Rows->Read(rows, count); }

private:
    std::unique_ptr<TPictureRows> Rows;
};

TCleanupOptions Threshold(const char *text, int despeckle = 0, bool centerline = false)
{
    TCleanupOptions o = *TCleanupOptions::ParseThreshold(QString::fromLatin1(text), TCleanupOptions{});
    o.Despeckle = despeckle;
    o.Centerline = centerline;
    return o;
}

class StreamedCleanupTest : public ScanFixture
{
protected:
    // The whole picture traced as the driver traces a file's rows: the
    // filters' mask, the tracer of `mode` (1 line, 2 box, 3 line 2) with the
    // driver's threads, then the filters' steps on the segments.
    void TraceWhole(const TScanFilters &filters, const TTzDIB &whole, int mode, const TScanDriver &driver)
    {
        State.ResetSegments();
        TBlackMask mask = filters.Mask(whole);
        const TTraceOptions options{driver.Threads(), 0};
        if (mode == 3)
            RunEndsInPlace(mask, UI.ProgressBar(), options.Threads);
        const TScanStatus status = mode == 2 ? ::TraceBoxes(mask, State, UI.ProgressBar(), options)
                                             : ::TraceLines(mask, State, UI.ProgressBar(), options);
        ASSERT_EQ(status, ScanDone);
        ASSERT_TRUE(filters.Segments(State));
    }
};

TEST_F(StreamedCleanupTest, RowsGiveTheMaskOfTheWholePicture)
{
    const TCleanupOptions options[] = {Threshold(""),   Threshold("0"),    Threshold("1"),
                                       Threshold("97"), Threshold("255"),  Threshold("auto"),
                                       Threshold("auto", 4, true), Threshold("140", 0, true)};
    const struct
    {
        int Bits, Width, Height;
    } pictures[] = {{1, 131, 67}, {4, 70, 90}, {8, 129, 75}, {24, 197, 61}, {24, 64, 40}};
    unsigned seed = 1;
    for (const auto &p : pictures) {
        ++seed;
        const QString path = Save(Scan(p.Bits, p.Width, p.Height, seed), QStringLiteral("scan%1.bmp").arg(seed));
        TTzDIB whole;
        Formats.Load(path, whole);
        for (const TCleanupOptions &o : options) {
            const TBlackMask expected = CleanMask(whole, o);
            for (int threads : {1, 2, 3}) {
                for (std::int64_t band : {0, 1, 900}) {
                    const std::string what = std::to_string(p.Bits) + " bits, threshold "
                                             + ThresholdText(o).toStdString() + ", threads "
                                             + std::to_string(threads) + ", band " + std::to_string(band);
                    const std::unique_ptr<TPictureRows> rows = Formats.OpenRows(path);
                    ASSERT_TRUE(rows) << what;
                    const TRowsOpener reopen = [&] { return Formats.OpenRows(path); };
                    ExpectSameMask(CleanMask(*rows, reopen, o, threads, band), expected, what);
                }
            }
        }
        // The histogram itself, not only the level it gives.
        for (int threads : {1, 2, 3}) {
            for (std::int64_t band : {0, 1, 500}) {
                const std::unique_ptr<TPictureRows> rows = Formats.OpenRows(path);
                EXPECT_EQ(LuminanceHistogram(*rows, threads, band), LuminanceHistogram(whole))
                    << p.Bits << " bits, threads " << threads << ", band " << band;
            }
        }
    }
}

TEST_F(StreamedCleanupTest, OnePassGivesTheAutomaticLevelsMaskOrReadsTwice)
{
    // Every luminance present (grey ramps, 24 bits and a grey palette), plus
    // flat pictures: the single pass's mask is ThresholdMask's at the whole
    // histogram's level; a window that misses the level reads the rows twice.
    // A list past its cap narrows the window about the level of the rows read
    // so far (the pixels it leaves below go into the mask): one pass where
    // that is the picture's level, two where the first rows are paper only
    // (grey -2: 20 rows of 160 .. 255 at top and bottom); the first rows
    // guess the window of ink and paper far apart (grey -3). Rows spread over
    // the picture, which a BMP file gives, guess the window of that picture.
    const auto picture = [](int bits, int width, int height, int grey) {
        TTzDIB d;
        d.SetBitCount(bits);
        d.SetWidth(width);
        d.SetHeight(height);
        if (bits == 8) {
            d.SetPaletteSize(256);
            for (int i = 0; i < 256; ++i)
                d.SetColors(i, i | i << 8 | i << 16);
        }
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const bool paper = grey == -2 && (y < 20 || y >= height - 20);
                const int v = grey >= 0 ? grey
                              : grey == -3 ? (x / 9 == 4 || y % 7 == 0 ? 20 + x % 3 : 220 - y % 5)
                              : paper   ? 160 + (x * 7 + y * 3) % 96
                                        : (x * 7 + y * 3 + (x / 9 == 4 ? 0 : 90)) % 256;
                d.SetPixels(x, y, bits == 8 ? v : v | v << 8 | v << 16);
            }
        return d;
    };
    const struct
    {
        int Bits, Grey, Low, High;      // window relative to the level; Low > High: guessed from a sample
        std::int64_t ListPixels;
        int ReadTwice;  // 2: on one thread in bands of a row, narrowed about the first row's level
        bool InOrder;   // read through a reader that cannot sample: the first rows guess the window
    } cases[] = {
        {24, -1, 0, 10, 1 << 18, 0, false},   {24, -1, -10, 0, 1 << 18, 0, false}, {24, -1, 1, 20, 1 << 18, 1, false},
        {24, -1, -20, -1, 1 << 18, 1, false}, {24, -1, -5, 5, 1, 2, false},        {8, -1, 0, 0, 0, 0, false},
        {8, -1, -30, 30, 1 << 18, 0, false},  {8, -1, 1, 1, 1 << 18, 1, false},    {24, -1, 1, 0, 1 << 18, 0, false},
        {8, -1, 1, 0, 1 << 18, 1, true},      {24, 200, 50, 60, 0, 0, false},      {8, 0, 50, 60, 0, 0, true},
        {24, -1, -40, 40, 16, 2, false},      {8, -2, 1, 0, 1, 1, true},           {24, -2, 1, 0, 1 << 18, 1, true},
        {24, -2, 1, 0, 1 << 18, 0, false},    {24, -3, 1, 0, 1 << 18, 0, true},
        {8, -3, 1, 0, 1 << 18, 0, true},
    };
    for (const auto &c : cases) {
        const QString path = Save(picture(c.Bits, 157, 83, c.Grey), QStringLiteral("ramp.bmp"));
        TTzDIB whole;
        Formats.Load(path, whole);
        const int level = OtsuLevel(LuminanceHistogram(whole));
        const TBlackMask expected = ThresholdMask(whole, level);
        const bool flat = c.Grey >= 0;
        const TLevelWindow window{flat ? c.Low : level + c.Low, flat ? c.High : level + c.High};
        TOtsuPass pass;
        pass.ListPixels = c.ListPixels;
        pass.SamplePixels = 157 * 20;
        if (c.Low <= c.High)
            pass.Window = &window;
        for (int threads : {1, 2, 3}) {
            for (std::int64_t band : {0, 1}) {
                const std::string what = std::to_string(c.Bits) + " bits, grey " + std::to_string(c.Grey)
                                         + (c.InOrder ? " in order" : "") + ", window " + std::to_string(c.Low)
                                         + " .. " + std::to_string(c.High) + ", threads " + std::to_string(threads)
                                         + ", band " + std::to_string(band);
                std::unique_ptr<TPictureRows> rows = Formats.OpenRows(path);
                ASSERT_TRUE(rows) << what;
                if (c.InOrder)
                    rows = std::make_unique<TInOrderRows>(std::move(rows));
                const TOtsuMask found = OtsuMask(*rows, [&] { return Formats.OpenRows(path); }, threads, band, pass);
                EXPECT_EQ(found.Level, level) << what;
                if (c.ReadTwice < 2) {
                    EXPECT_EQ(found.ReadTwice, c.ReadTwice == 1) << what;
                } else if (threads == 1) {
                    EXPECT_EQ(found.ReadTwice, band == 1) << what;
                }
                ExpectSameMask(found.Mask, expected, what);
            }
        }
    }
}

TEST_F(StreamedCleanupTest, ListedPixelsKeepTheirPlacesAcrossLongGaps)
{
    // Rows 410000 pixels wide of black, white and pixels about the level
    // that far apart, from none to 130100 pixels (the list's codes of gaps
    // change at 255 and at multiples of 255 * 255), each row the first
    // turned: each row's histogram is the picture's, so that the window
    // narrowed as the rows come keeps the level, whatever the list's cap. A
    // narrowed list puts pixels below its window into the mask and codes the
    // others again over longer gaps.
    constexpr int kWidth = 410000, kHeight = 9;
    const int gaps[] = {0,   0,   1,   253, 254, 255, 256,   509,   510,   511,  0,   3,   65024, 254, 255,
                        0,   1,   65025, 2, 65026, 7,   254,   1000,  255,   0,   508, 509, 0,     3000,  65300, 0, 130100};
    const int greys[] = {100, 128, 110, 118, 122, 124, 125, 126, 127, 128, 130, 134, 140, 150, 123, 129, 131};
    // The level is that of a ramp of greys at the row's start.
    std::vector<std::uint8_t> first(kWidth);
    for (int x = 0; x < kWidth; ++x)
        first[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(x < 8000 ? 100 + x % 56 : x % 7 < 2 ? 0 : 250);
    int x = 8003, k = 0;
    for (const int gap : gaps) {
        x += gap + 1;
        ASSERT_LT(x, kWidth);
        first[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(greys[k++ % std::size(greys)]);
    }
    TTzDIB d;
    d.SetBitCount(8);
    d.SetWidth(kWidth);
    d.SetHeight(kHeight);
    d.SetPaletteSize(256);
    for (int i = 0; i < 256; ++i)
        d.SetColors(i, i | i << 8 | i << 16);
    for (int y = 0; y < kHeight; ++y)
        for (int i = 0; i < kWidth; ++i)
            d.SetPixels(i, y, first[static_cast<std::size_t>((i + 70001 * y) % kWidth)]);
    const QString path = Save(d, QStringLiteral("wide.bmp"));
    TTzDIB whole;
    Formats.Load(path, whole);
    const int level = OtsuLevel(LuminanceHistogram(whole));
    ASSERT_GT(level, 110);
    ASSERT_LE(level, 140);
    const TBlackMask expected = ThresholdMask(whole, level);
    const TLevelWindow window{level - 40, level + 40};
    for (std::int64_t cap : {1, 3000, 20000, 60000, 1 << 18}) {
        TOtsuPass pass;
        pass.ListPixels = cap;
        pass.Window = &window;
        for (int threads : {1, 3}) {
            for (std::int64_t band : {0, 1}) {
                const std::string what = "cap " + std::to_string(cap) + ", threads " + std::to_string(threads)
                                         + ", band " + std::to_string(band);
                const std::unique_ptr<TPictureRows> rows = Formats.OpenRows(path);
                ASSERT_TRUE(rows) << what;
                const TOtsuMask found = OtsuMask(*rows, [&] { return Formats.OpenRows(path); }, threads, band, pass);
                EXPECT_EQ(found.Level, level) << what;
                EXPECT_FALSE(found.ReadTwice) << what;
                ExpectSameMask(found.Mask, expected, what);
            }
        }
    }
}

TEST_F(StreamedCleanupTest, DriverTracesTheSameSegmentsFromRowsAsFromTheWholePicture)
{
    TCleanupOptions merged = Threshold("auto", 0, true);
    merged.Merge = 1;
    const TCleanupOptions options[] = {Threshold("128"), Threshold("auto", 2), merged};
    const TTzDIB picture = Scan(24, 230, 170, 77);
    const QString path = Save(picture);
    for (const TCleanupOptions &o : options) {
        const TCleanupFilters filters(o);
        for (int mode = 1; mode <= 3; ++mode) {
            Settings.PixelScanMode = mode;
            for (int threads : {1, 2}) {
                TScanDriver driver(State, Settings, UI, Formats);
                driver.SetFilters(&filters);
                driver.SetThreads(threads);
                ASSERT_EQ(driver.ScanData(path), ScanDone);
                const std::vector<TSeg> streamed = Segs();
                TTzDIB whole;
                Formats.Load(path, whole);
                TraceWhole(filters, whole, mode, driver);
                EXPECT_FALSE(streamed.empty());
                EXPECT_EQ(streamed, Segs()) << "mode " << mode << " threads " << threads << " threshold "
                                            << ThresholdText(o).toStdString();
            }
        }
    }
}

TEST_F(StreamedCleanupTest, ScannerFormatsTraceAsThePlatformReadsThem)
{
    // A grey and colour drawing written by the platform as JPEG, PNG and TIFF:
    // read a band at a time, every method and threshold traces what the
    // platform's whole picture traces.
    const TTzDIB drawing = Scan(24, 180, 140, 5);
    QImage image;
    drawing.AssignTo(image);
    const QString files[] = {Dir.filePath(QStringLiteral("scan.jpg")), Dir.filePath(QStringLiteral("scan.png")),
                             Dir.filePath(QStringLiteral("grey.png")), Dir.filePath(QStringLiteral("scan.tif")),
                             Dir.filePath(QStringLiteral("grey.tiff"))};
    ASSERT_TRUE(image.save(files[0], "jpg", 85));
    ASSERT_TRUE(image.save(files[1], "png"));
    ASSERT_TRUE(image.convertToFormat(QImage::Format_Grayscale8).save(files[2], "png"));
    ASSERT_TRUE(image.save(files[3], "tiff"));
    ASSERT_TRUE(image.convertToFormat(QImage::Format_Grayscale8).save(files[4], "tiff"));
    TCleanupOptions merged = Threshold("auto", 2, true);
    merged.Merge = 1;
    const TCleanupOptions options[] = {Threshold(""), Threshold("150"), merged};
    for (const QString &path : files) {
        ASSERT_TRUE(Formats.OpenRows(path)) << path.toStdString();
        for (const TCleanupOptions &o : options) {
            const TCleanupFilters filters(o);
            for (int mode = 1; mode <= 3; ++mode) {
                Settings.PixelScanMode = mode;
                TScanDriver driver(State, Settings, UI, Formats);
                driver.SetFilters(&filters);
                ASSERT_EQ(driver.ScanData(path), ScanDone);
                const std::vector<TSeg> streamed = Segs();
                TTzDIB whole;
                PictureReaders::ReadWithPlatform(path, whole);
                TraceWhole(filters, whole, mode, driver);
                EXPECT_EQ(streamed, Segs()) << path.toStdString() << " mode " << mode << " threshold "
                                            << ThresholdText(o).toStdString();
            }
        }
    }
}

TEST_F(StreamedCleanupTest, ADamagedJpegFailsWithThePlatformReadersWords)
{
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 200; y += 3)
        for (int x = 0; x < 300; ++x)
            image.setPixel(x, y, qRgb(x % 256, y, 40));
    const QString path = Dir.filePath(QStringLiteral("cut.jpg"));
    ASSERT_TRUE(image.save(path, "jpg", 90));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(file.size() * 2 / 3));
    }
    QString expected;
    try {
        TTzDIB whole;
        PictureReaders::ReadWithPlatform(path, whole);
    } catch (const std::exception &error) {
        expected = QString::fromUtf8(error.what());
    }
    ASSERT_FALSE(expected.isEmpty());
    for (const char *threshold : {"", "auto"}) {
        const TCleanupFilters filters(Threshold(threshold));
        TScanDriver driver(State, Settings, UI, Formats);
        if (*threshold)
            driver.SetFilters(&filters);
        EXPECT_EQ(driver.ScanData(path), ScanUnreadable) << threshold;
        EXPECT_EQ(driver.LoadFailure(), expected) << threshold;
    }
}

TEST(CenterlineThreadsTest, EveryThreadCountGivesTheSameCentreLines)
{
    // Large enough for the thinning tests and the spur search to be shared:
    // a grid of thick ragged strokes in every word, and thousands of short
    // strokes with line ends.
    std::mt19937 random(17);
    TBlackMask mask(2200, 1300);
    for (int y = 0; y < mask.Height(); ++y)
        for (int x = 0; x < mask.Width(); ++x)
            if (x % 30 < 5 || y % 45 < 4 || (x % 30 == 5 && random() % 3 == 0))
                mask.SetBlack(x, y);
    for (int k = 0; k < 4000; ++k) {
        const int x0 = static_cast<int>(random() % 2150) + 10, y0 = static_cast<int>(random() % 1250) + 10;
        const int length = 6 + static_cast<int>(random() % 20), width = 1 + static_cast<int>(random() % 4);
        for (int t = 0; t < length; ++t)
            for (int w = 0; w < width; ++w)
                if (x0 + t + w < mask.Width() && y0 + t < mask.Height())
                    mask.SetBlack(x0 + t + w, y0 + t);
    }
    const TBlackMask one = Centerline(mask, 1);
    for (int threads : {2, 3, 5})
        ExpectSameMask(Centerline(mask, threads), one, "threads " + std::to_string(threads));
    // Its chains traced in parts on the threads, and those of closed lines
    // without junctions and of dashes down a tall mask, come in the order of
    // one thread.
    TBlackMask rings(40, 1300);
    for (int y = 0; y + 6 < rings.Height(); y += 7)
        for (const auto &[x, dy] :
             {std::pair{1, 1}, {0, 2}, {0, 3}, {1, 4}, {2, 4}, {3, 4}, {4, 3}, {4, 2}, {3, 1}, {2, 2}})
            rings.SetBlack(x + y % 30, y + dy);
    for (int y = 3; y < rings.Height(); y += 7)
        for (int x = 35; x < 39; ++x)
            rings.SetBlack(x, y);
    for (const TBlackMask *thin : {&one, static_cast<const TBlackMask *>(&rings)}) {
        const std::vector<std::vector<TPixel>> chains = PixelChains(*thin);
        for (int threads : {2, 3, 5}) {
            std::vector<std::vector<std::vector<TPixel>>> parts(PixelChainParts(*thin, threads));
            ForEachPixelChainInParts(*thin, threads, [&](std::size_t part, int, const std::vector<TPixel> &chain) {
                parts[part].push_back(chain);
            });
            std::vector<std::vector<TPixel>> joined;
            for (const auto &part : parts)
                joined.insert(joined.end(), part.begin(), part.end());
            EXPECT_EQ(joined, chains) << "threads " << threads;
        }
    }
}

} // namespace
