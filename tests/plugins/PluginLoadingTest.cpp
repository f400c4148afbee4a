// Loading pictures through the import plug-ins: the order of the readers, what
// the plug-ins are given, what comes back, progress, and the two graphics.

#include "PluginFixture.h"

#include "base/Errors.h"
#include "image/TzDIB.h"
#include "plugins/PluginDIB.h"
#include "plugins/PluginRows.h"
#include "scan/BlackMask.h"
#include "plugins/SPIBitmap.h"
#include "plugins/SPITzDIB.h"

#include <QBuffer>

#include <optional>

namespace {

constexpr TRGBQuad kWhite{255, 255, 255, 0};
constexpr TRGBQuad kBlack{0, 0, 0, 0};
const QString kUnrecognised = QStringLiteral("認識できない画像形式です");

// 2 x 2, 1 bit, bottom-up: the top row black white, the bottom row white black.
TTestPicture TwoByTwo()
{
    TTestPicture p;
    p.Info = InfoBlock(2, 2, 1, 2, {kWhite, kBlack});
    p.Bits = QByteArray::fromHex("40000000" "80000000");
    return p;
}

QByteArray BmpOf(const TTzDIB &dib)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    dib.SaveToStream(buffer);
    return buffer.data();
}

// The message of what loading raised, or "" when it loaded.
template <class F>
QString ErrorOf(F load)
{
    try {
        load();
    } catch (const ETrazbitError &e) {
        return e.Message();
    }
    return QString();
}

class PluginLoadingTest : public PluginTest
{
protected:
    PluginLoadingTest() : Manager(LoadTestPlugins()) {}

    TInSPI *Plugin(const char *name)
    {
        return dynamic_cast<TInSPI *>(&Manager->Item(Manager->IndexOf(TestPlugin(name))));
    }

    std::unique_ptr<TSPIs> Manager;
};

TEST_F(PluginLoadingTest, ShortDataReachesThePluginInAZeroFilledBlockWithItsTrueLength)
{
    TTestPicture p = TwoByTwo();
    p.Text = QByteArray("hello\0rest-of-16", 16);
    const QByteArray bytes = p.Bytes();
    ASSERT_EQ(bytes.size(), 100);
    const QString path = Write(QStringLiteral("short.tzt"), bytes);
    TSPIBitmap bitmap;
    bitmap.LoadFromFile(path);

    const SpiTestState second = StateOf(*Manager, "second");
    EXPECT_EQ(second.lastLength, 100);
    EXPECT_EQ(second.tailIsZero, 1);
    EXPECT_EQ(second.sameBuffer, 1);
    EXPECT_EQ(QString::fromLocal8Bit(second.lastFileName), path);
    EXPECT_EQ(StateOf(*Manager, "first").isSupportedCalls, 0);

    const TSPIPictureInfo &info = bitmap.PictureInfo();
    EXPECT_EQ((std::vector<int>{info.Left, info.Top, info.Width, info.Height, info.XDensity,
                                info.YDensity, info.ColorDepth}),
              (std::vector<int>{3, 4, 2, 2, 300, 150, 1}));
    EXPECT_EQ(info.Text, QStringLiteral("hello"));
    const QImage &image = bitmap.Bitmap();
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));
}

TEST_F(PluginLoadingTest, APreambleIsSkippedOnTheRetryUnlessRetryIsOff)
{
    const QString path = Write(QStringLiteral("pre.tzt"), QByteArray(128, 'x') + TwoByTwo().Bytes());
    TSPIBitmap bitmap;
    bitmap.LoadFromFile(path);
    EXPECT_EQ(bitmap.Bitmap().size(), QSize(2, 2));
    SpiTestState second = StateOf(*Manager, "second");
    EXPECT_EQ(second.isSupportedCalls, 2);
    EXPECT_EQ(second.pictureCalls, 1);
    EXPECT_EQ(second.lastLength, TwoByTwo().Bytes().size());

    TSPIBitmap setting;
    setting.Retry = false;
    TSPIBitmap once(setting);
    EXPECT_EQ(ErrorOf([&] { once.LoadFromFile(path); }), kUnrecognised);
    EXPECT_EQ(StateOf(*Manager, "second").isSupportedCalls, 3);
    EXPECT_EQ(StateOf(*Manager, "first").isSupportedCalls, 1);
}

TEST_F(PluginLoadingTest, TheOwnReaderComesFirstForBmpAndAfterThePluginsOtherwise)
{
    TTzDIB white;
    white.SetBitCount(24);
    white.SetWidth(3);
    white.SetHeight(1);
    const QByteArray bmp = BmpOf(white);
    struct TCase
    {
        const char *Name;  // nullptr: an unnamed stream
        QByteArray Bytes;
        int PluginCalls;   // IsSupported calls of all import plug-ins together
        QSize Size;
    };
    const TCase cases[] = {
        {"own.bmp", bmp, 0, QSize(3, 1)},
        {"own.tzt", bmp, 3, QSize(3, 1)},              // every plug-in declines, then the own reader
        {"plugin.BMP", TwoByTwo().Bytes(), 1, QSize(2, 2)},  // the own reader fails, "first" reads
        {nullptr, bmp, 0, QSize(3, 1)},
        {nullptr, TwoByTwo().Bytes(), 1, QSize(2, 2)},
    };
    auto calls = [this] {
        int sum = 0;
        for (const char *name : {"first", "second", "no_item3"})
            sum += StateOf(*Manager, name).isSupportedCalls;
        return sum;
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name ? c.Name : "(stream)");
        const int before = calls();
        TSPIBitmap bitmap;
        if (c.Name) {
            bitmap.LoadFromFile(Write(QString::fromLatin1(c.Name), c.Bytes));
        } else {
            QBuffer buffer;
            buffer.setData(c.Bytes);
            buffer.open(QIODevice::ReadOnly);
            bitmap.LoadFromStream(buffer);
        }
        EXPECT_EQ(bitmap.Bitmap().size(), c.Size);
        EXPECT_EQ(calls() - before, c.PluginCalls);
    }
    // The unnamed stream gave the plug-ins the empty file name.
    EXPECT_STREQ(StateOf(*Manager, "first").lastFileName, "");
}

TEST_F(PluginLoadingTest, TheLaterOfTwoPluginsForAnExtensionReadsAndTheArchivePluginIsNeverCalled)
{
    TSPIBitmap bitmap;
    bitmap.LoadFromFile(Write(QStringLiteral("two.tzt"), TwoByTwo().Bytes()));
    EXPECT_EQ(StateOf(*Manager, "second").pictureCalls, 1);
    EXPECT_EQ(StateOf(*Manager, "first").isSupportedCalls, 0);
    const SpiTestState archive = StateOf(*Manager, "archive");
    EXPECT_EQ(archive.isSupportedCalls + archive.pictureInfoCalls + archive.pictureCalls + archive.archiveCalls, 0);

    // A single plug-in replaces the list.
    TSPIBitmap single;
    single.SinglePlugin = Plugin("first");
    single.LoadFromFile(Write(QStringLiteral("one.tzt"), TwoByTwo().Bytes()));
    EXPECT_EQ(StateOf(*Manager, "first").pictureCalls, 1);
    EXPECT_EQ(StateOf(*Manager, "second").pictureCalls, 1);
}

TEST_F(PluginLoadingTest, ResultsShortOfWhatTheirHeaderDeclaresAreRefused)
{
    auto sixteen = QList<TRGBQuad>(16, kWhite);
    struct TCase
    {
        const char *What;
        QByteArray Info;
        QByteArray Bits;
        bool Read;
    };
    QByteArray jpeg = InfoBlock(2, 2, 24, 0);
    jpeg[16] = 4;  // biCompression BI_JPEG
    const TCase cases[] = {
        {"1 bit", InfoBlock(2, 2, 1, 2, {kWhite, kBlack}), QByteArray(8, 0), true},
        {"header short", InfoBlock(2, 2, 1, 2, {kWhite, kBlack}).left(39), QByteArray(8, 0), false},
        {"table short", InfoBlock(2, 2, 1, 2, {kWhite}), QByteArray(8, 0), false},
        {"8 bits, 16 of 256 entries", InfoBlock(2, 2, 8, 0, sixteen), QByteArray(8, 0), false},
        {"bits short", InfoBlock(2, 2, 1, 2, {kWhite, kBlack}), QByteArray(7, 0), false},
        {"24 bits", InfoBlock(2, 2, 24, 0), QByteArray(16, 0), true},
        {"24 bits short", InfoBlock(2, 2, 24, 0), QByteArray(15, 0), false},
        {"width 0", InfoBlock(0, 2, 24, 0), QByteArray(16, 0), false},
        {"height 0", InfoBlock(2, 0, 24, 0), QByteArray(16, 0), false},
        {"2 bits", InfoBlock(2, 2, 2, 4, {kWhite, kWhite, kWhite, kWhite}), QByteArray(8, 0), false},
        {"compressed", jpeg, QByteArray(16, 0), false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.What);
        TTestPicture p;
        p.Info = c.Info;
        p.Bits = c.Bits;
        const QString path = Write(QStringLiteral("result.tzt"), p.Bytes());
        TSPIBitmap bitmap;
        EXPECT_EQ(ErrorOf([&] { bitmap.LoadFromFile(path); }), c.Read ? QString() : kUnrecognised);
        TSPITzDIB dib;
        EXPECT_EQ(ErrorOf([&] { dib.LoadFromFile(path); }), c.Read ? QString() : kUnrecognised);
    }
}

TEST_F(PluginLoadingTest, BmpImagesOfResultsCarryTheDefaultColourCount)
{
    QList<TRGBQuad> colours;
    for (int i = 0; i < 16; ++i)
        colours << TRGBQuad{std::uint8_t(i), std::uint8_t(16 * i), std::uint8_t(255 - i), 0};
    const QByteArray info4 = InfoBlock(3, 1, 4, 0, colours);
    const QByteArray bits4 = QByteArray::fromHex("0F500000");
    const std::optional<TPluginDIB> dib4 = TPluginDIB::Check(info4.constData(), info4.size(),
                                                             bits4.constData(), bits4.size());
    ASSERT_TRUE(dib4);
    const QByteArray file4 = dib4->BmpFile();
    EXPECT_EQ(file4.left(14), QByteArray::fromHex("424d" "7a000000" "00000000" "76000000"));
    EXPECT_EQ(file4.mid(14), info4 + bits4);

    const QByteArray info24 = InfoBlock(1, 1, 24, 0);
    const QByteArray bits24 = QByteArray::fromHex("01020300");
    const std::optional<TPluginDIB> dib24 = TPluginDIB::Check(info24.constData(), info24.size(),
                                                              bits24.constData(), bits24.size());
    ASSERT_TRUE(dib24);
    EXPECT_EQ(dib24->BmpFile().left(14), QByteArray::fromHex("424d" "3a000000" "00000000" "36000000"));

    // The 4-bit result as a bitmap: sixteen palette entries from the table.
    TTestPicture p;
    p.Info = info4;
    p.Bits = bits4;
    TSPIBitmap bitmap;
    bitmap.LoadFromFile(Write(QStringLiteral("four.tzt"), p.Bytes()));
    const QImage &image = bitmap.Bitmap();
    ASSERT_EQ(image.colorCount(), 16);
    EXPECT_EQ(image.color(15), qRgb(255 - 15, 16 * 15, 15));
    EXPECT_EQ(image.pixelIndex(0, 0), 0);
    EXPECT_EQ(image.pixelIndex(1, 0), 15);
    EXPECT_EQ(image.pixelIndex(2, 0), 5);
}

TEST_F(PluginLoadingTest, ProgressRunsFromOneTo99AndAnAbortStopsThePlugin)
{
    TTestPicture p = TwoByTwo();
    p.Steps = 3;
    const QString path = Write(QStringLiteral("progress.tzt"), p.Bytes());
    std::vector<std::pair<TProgressStage, int>> seen;
    TSPIBitmap bitmap;
    bitmap.SinglePlugin = Plugin("second");
    bitmap.OnProgress = [&](TProgressStage stage, int percent) { seen.emplace_back(stage, percent); };
    bitmap.LoadFromFile(path);
    using S = TProgressStage;
    EXPECT_EQ(seen, (std::vector<std::pair<S, int>>{
                        {S::Starting, 0}, {S::Running, 1}, {S::Running, 34}, {S::Running, 66}, {S::Ending, 100}}));
    SpiTestState second = StateOf(*Manager, "second");
    EXPECT_EQ(second.progressCount, 3);

    // A silent abort asks the plug-in to stop; nothing else reads the file.
    seen.clear();
    bitmap.OnProgress = [&](TProgressStage stage, int percent) {
        seen.emplace_back(stage, percent);
        if (stage == S::Running)
            throw EAbort("abort");
    };
    EXPECT_EQ(ErrorOf([&] { bitmap.LoadFromFile(path); }), kUnrecognised);
    second = StateOf(*Manager, "second");
    EXPECT_EQ(second.progressCount, 4);
    EXPECT_EQ(second.progressAnswers[3], 1);
    EXPECT_EQ(seen.back(), std::make_pair(S::Ending, 100));

    // Any other error stops the plug-in too and reaches the caller.
    seen.clear();
    bitmap.OnProgress = [&](TProgressStage stage, int percent) {
        seen.emplace_back(stage, percent);
        if (stage == S::Running)
            throw EFileError("disk gone");
    };
    EXPECT_EQ(ErrorOf([&] { bitmap.LoadFromFile(path); }), QStringLiteral("disk gone"));
    EXPECT_EQ(StateOf(*Manager, "second").progressAnswers[4], 1);
    EXPECT_EQ(seen, (std::vector<std::pair<S, int>>{{S::Starting, 0}, {S::Running, 1}, {S::Ending, 100}}));
}

TEST_F(PluginLoadingTest, APluginThatFailsIsPassedOver)
{
    TTestPicture failing = TwoByTwo();
    failing.Result = 3;  // broken data: said so, not "unrecognised"
    TSPIBitmap bitmap;
    EXPECT_EQ(ErrorOf([&] { bitmap.LoadFromFile(Write(QStringLiteral("fails.tzt"), failing.Bytes())); }),
              QStringLiteral("画像データが壊れています"));
    // Every import plug-in got its chance.
    for (const char *name : {"second", "first", "no_item3"})
        EXPECT_EQ(StateOf(*Manager, name).pictureCalls, 1) << name;
    failing.Result = 2;
    EXPECT_EQ(ErrorOf([&] { bitmap.LoadFromFile(Write(QStringLiteral("fails2.tzt"), failing.Bytes())); }),
              kUnrecognised);
}

TEST_F(PluginLoadingTest, TheTzDIBGraphicTakesThePackedDIBAndDerivesPalettesByMode)
{
    TSPITzDIB dib;
    QStringList named;
    dib.OnLoadFromStreamWithName = [&](TSPITzDIB &, const QString &name) { named << name; };
    const QString path = Write(QStringLiteral("tzdib.tzt"), TwoByTwo().Bytes());
    dib.LoadFromFile(path);
    EXPECT_EQ(named, QStringList{path});
    ASSERT_EQ(dib.BitCount(), 1);
    EXPECT_EQ((std::vector<int>{dib.Pixels(0, 0), dib.Pixels(1, 0), dib.Pixels(0, 1), dib.Pixels(1, 1)}),
              (std::vector<int>{1, 0, 0, 1}));

    TTestPicture colour;
    colour.Info = InfoBlock(2, 1, 24, 0);
    colour.Bits = QByteArray::fromHex("0000ff00ff000000");
    const QString colourPath = Write(QStringLiteral("colour.tzt"), colour.Bytes());
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        TSPITzDIB picture;
        picture.PaletteMode = mode;
        int changes = 0;
        picture.OnChanged = [&](TSPITzDIB &) { ++changes; };
        picture.LoadFromFile(colourPath);
        const bool derived = mode == 2 || (mode == 1 && TSPITzDIB::ScreenBitsPerPixel() <= 8);
        EXPECT_EQ(picture.PaletteSize() > 0, derived);
        EXPECT_EQ(picture.Pixels(0, 0), 0x0000FF);
        EXPECT_EQ(picture.Pixels(1, 0), 0x00FF00);
        EXPECT_EQ(changes, 1);
        picture.Retry = false;
        picture.SinglePlugin = Plugin("first");
        const TSPITzDIB copy(picture);
        EXPECT_EQ(copy.PaletteMode, mode);
        EXPECT_FALSE(copy.Retry);
        EXPECT_EQ(copy.SinglePlugin, Plugin("first"));
        EXPECT_EQ(copy.Pixels(1, 0), 0x00FF00);
    }

    struct TRule
    {
        int Mode, Bits, Palette, Screen;
        bool Derives;
    };
    const TRule rules[] = {
        {1, 24, 0, 8, true},  {1, 24, 0, 16, false}, {1, 16, 0, 4, true},   {2, 32, 0, 32, true},
        {2, 24, 5, 32, false}, {2, 8, 0, 32, false},  {0, 24, 0, 1, false},
    };
    for (const TRule &r : rules)
        EXPECT_EQ(TSPITzDIB::DerivesPalette(r.Mode, r.Bits, r.Palette, r.Screen), r.Derives)
            << r.Mode << ' ' << r.Bits << ' ' << r.Palette << ' ' << r.Screen;
}

TEST_F(PluginLoadingTest, TheRegistryReaderHandsOverThePictureWithItsDensity)
{
    TTestPicture p = TwoByTwo();
    TBitmapInfoHeader *h = reinterpret_cast<TBitmapInfoHeader *>(p.Info.data());
    h->biXPelsPerMeter = 7874;
    h->biYPelsPerMeter = 3937;
    TTzDIB picture;
    ReadWithSPIBitmap(Write(QStringLiteral("dense.tzt"), p.Bytes()), picture);
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_EQ(picture.InternalDIB()->Header().biXPelsPerMeter, 7874);
    EXPECT_EQ(picture.InternalDIB()->Header().biYPelsPerMeter, 3937);
    EXPECT_EQ(picture.Colors(picture.Pixels(0, 0)), 0);
}

// Loading, using and releasing the plug-ins again and again: each manager
// finds freshly loaded libraries (their counts start at zero again).
TEST_F(PluginTest, PluginsAreReallyUnloadedWithTheirManager)
{
    const QString path = Write(QStringLiteral("cycle.tzt"), TwoByTwo().Bytes());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        {
            const auto manager = LoadTestPlugins();
            TSPIBitmap bitmap;
            bitmap.LoadFromFile(path);
            EXPECT_EQ(StateOf(*manager, "second").pictureCalls, 1);
        }
        EXPECT_FALSE(QLibrary(TestPlugin("second")).isLoaded());
    }
}

} // namespace

// The rows read in place from a plug-in's memory are the rows of the picture
// the registry's reader makes, with its colours and density, stray bits beyond
// the width cleared; pictures that reader stores otherwise are read whole.
TEST_F(PluginLoadingTest, RowsReadInPlaceAreThoseOfTheWholeReader)
{
    struct TCase
    {
        int Width, Height, BitCount;
        std::uint32_t ClrUsed;
        int DotsPerMeter;
        bool InPlace;
    };
    const TCase cases[] = {
        {37, 5, 1, 2, 7874, true},   {37, -5, 1, 0, 0, true},   {13, 4, 8, 0, 3937, true},
        {13, -4, 24, 0, 11811, true}, {13, 4, 4, 16, 3937, false}, {13, 4, 32, 0, 3937, false},
        {37, 5, 1, 1, 7874, false},
    };
    std::uint32_t seed = 12345;
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Width << " x " << c.Height << ", " << c.BitCount << " bits");
        QList<TRGBQuad> colours;
        const std::uint32_t count = c.ClrUsed ? c.ClrUsed : c.BitCount <= 8 ? 1u << c.BitCount : 0;
        for (std::uint32_t i = 0; i < count; ++i)
            colours << (i % 2 ? kBlack : TRGBQuad{std::uint8_t(i * 7), std::uint8_t(255 - i), std::uint8_t(i * 3), 0});
        TTestPicture p;
        p.Info = InfoBlock(c.Width, c.Height, c.BitCount, c.ClrUsed, colours);
        auto *h = reinterpret_cast<TBitmapInfoHeader *>(p.Info.data());
        h->biXPelsPerMeter = c.DotsPerMeter;
        h->biYPelsPerMeter = c.DotsPerMeter / 2;
        const std::int64_t rowSize = DIBRowSize(c.Width, c.BitCount);
        const int height = std::abs(c.Height);
        for (std::int64_t i = 0; i < rowSize * height; ++i) {
            seed = seed * 1103515245u + 12345u;
            p.Bits.append(char(seed >> 16));
        }
        const QString path = Write(QStringLiteral("noise.tzt"), p.Bytes());
        TTzDIB whole;
        ReadWithSPIBitmap(path, whole);
        const std::unique_ptr<TPictureRows> rows = OpenWithSPIRows(path);
        ASSERT_EQ(rows != nullptr, c.InPlace);
        if (!rows)
            continue;
        ASSERT_EQ(rows->Width(), whole.Width());
        ASSERT_EQ(rows->Height(), whole.Height());
        ASSERT_EQ(rows->BitCount(), whole.BitCount());
        ASSERT_EQ(rows->RowSize(), whole.RowSize());
        EXPECT_EQ(rows->TopDown(), c.Height < 0);
        EXPECT_EQ(rows->DotsPerMeterX(), whole.InternalDIB()->Header().biXPelsPerMeter);
        EXPECT_EQ(rows->DotsPerMeterY(), whole.InternalDIB()->Header().biYPelsPerMeter);
        std::vector<std::uint8_t> band(std::size_t(rowSize * height));
        rows->Read(band.data(), 2);
        rows->Read(band.data() + 2 * rowSize, height - 2);
        // The colour of every pixel (the platform's reader may order a
        // two-colour table the other way round), and what lies beyond the width.
        const auto colour = [&](const std::uint8_t *row, int x, const auto &table) -> TColor {
            switch (c.BitCount) {
            case 1: return table((row[x / 8] >> (7 - x % 8)) & 1);
            case 8: return table(row[x]);
            default: return TColor(row[3 * x + 2] | row[3 * x + 1] << 8 | row[3 * x] << 16);
            }
        };
        const std::int64_t used = (std::int64_t(c.Width) * c.BitCount + 7) / 8;
        for (int i = 0; i < height; ++i) {
            const std::uint8_t *mine = band.data() + i * rowSize;
            const auto *theirs = static_cast<const std::uint8_t *>(whole.ScanLine(rows->TopDown() ? i : height - 1 - i));
            for (int x = 0; x < c.Width; ++x)
                ASSERT_EQ(colour(mine, x, [&](int k) { return rows->Color(k); }),
                          colour(theirs, x, [&](int k) { return whole.Colors(k); }))
                    << "row " << i << ", x " << x;
            EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(mine) + used - 1, rowSize - used + 1).toHex(),
                      QByteArray(reinterpret_cast<const char *>(theirs) + used - 1, rowSize - used + 1).toHex())
                << "row " << i;
        }
        // The tracers' mask is the same.
        const std::unique_ptr<TPictureRows> again = OpenWithSPIRows(path);
        const TBlackMask fromRows = TBlackMask::FromRows(*again);
        const TBlackMask fromWhole = TBlackMask::FromImage(whole);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < c.Width; ++x)
                ASSERT_EQ(fromRows.Black(x, y), fromWhole.Black(x, y)) << x << ',' << y;
        EXPECT_THROW(rows->Read(band.data(), 1), ERowsRefused);
    }
    // The registry's own format is read whole, as is a file no plug-in reads.
    EXPECT_EQ(OpenWithSPIRows(Write(QStringLiteral("two.bmp"), TwoByTwo().Bytes())), nullptr);
    EXPECT_EQ(OpenWithSPIRows(Write(QStringLiteral("none.tzt"), "not a picture")), nullptr);
}
