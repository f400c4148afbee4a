#include "BmpBytes.h"

#include "base/Errors.h"
#include "image/PictureFormats.h"
#include "image/TzDIB.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <stdexcept>

namespace {

// colour(x, y): the palette entry for 8 bits or fewer, the pixel itself above.
TColor ColourAt(const TTzDIB &dib, int x, int y)
{
    const std::int32_t p = dib.Pixels(x, y);
    return dib.BitCount() > 8 ? p : dib.Colors(p);
}

// A reader that records the files it was asked for.
struct TFakeReader
{
    QStringList *Calls;
    int Width;
    void operator()(const QString &path, TTzDIB &picture) const
    {
        *Calls << path;
        picture.SetWidth(Width);
    }
};

class PictureFormatsTest : public ::testing::Test
{
protected:
    QString Write(const QString &name, const QByteArray &bytes)
    {
        const QString path = Dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    TTzDIB Load(const QString &path)
    {
        TPictureFormats formats;
        formats.RegisterBuiltIns();
        TTzDIB dib;
        formats.Load(path, dib);
        return dib;
    }

    // The colours of every pixel, row by row.
    static std::vector<TColor> Colours(const TTzDIB &dib)
    {
        std::vector<TColor> out;
        for (int y = 0; y < dib.Height(); ++y)
            for (int x = 0; x < dib.Width(); ++x)
                out.push_back(ColourAt(dib, x, y));
        return out;
    }

    QTemporaryDir Dir;
};

TEST_F(PictureFormatsTest, ExtensionsAreFoundWhateverTheirCase)
{
    QStringList calls;
    TPictureFormats formats;
    formats.Register(QStringLiteral("BMP"), QStringLiteral("ビットマップ"), TFakeReader{&calls, 3});
    formats.Register(QStringLiteral(".Jpg"), QStringLiteral("JPEG"), TFakeReader{&calls, 4});
    formats.Register(QStringLiteral("*.jpeg"), QStringLiteral("JPEG"), TFakeReader{&calls, 5});
    formats.Register(QString(), QStringLiteral("none"), TFakeReader{&calls, 6});
    formats.Register(QStringLiteral("png"), QStringLiteral("no reader"), TPictureReader());
    ASSERT_EQ(formats.Formats().size(), 3u);
    EXPECT_EQ(formats.Formats()[1].Extension, QStringLiteral("jpg"));
    EXPECT_EQ(formats.Find(QStringLiteral("bmp"))->Description, QStringLiteral("ビットマップ"));
    EXPECT_EQ(formats.Find(QStringLiteral(".BMP")), formats.Find(QStringLiteral("bMp")));
    EXPECT_EQ(formats.Find(QStringLiteral("png")), nullptr);
    EXPECT_EQ(formats.FindForFile(QStringLiteral("/a.b/PLAN.JPEG"))->Extension, QStringLiteral("jpeg"));
    EXPECT_EQ(formats.FindForFile(QStringLiteral("/dir.bmp/plan")), nullptr);
    EXPECT_EQ(formats.FindForFile(QStringLiteral("plan.")), nullptr);

    TTzDIB dib;
    formats.Load(QStringLiteral("x/Plan.JpG"), dib);
    EXPECT_EQ(calls, QStringList{QStringLiteral("x/Plan.JpG")});
    EXPECT_EQ(dib.Width(), 4);
    EXPECT_THROW(formats.Load(QStringLiteral("plan.png"), dib), EInvalidGraphic);
    EXPECT_THROW(formats.Load(QStringLiteral("plan"), dib), EInvalidGraphic);

    // A later registration replaces the reader and keeps the place.
    formats.Register(QStringLiteral("bmp"), QStringLiteral("Plug-in BMP"), TFakeReader{&calls, 7});
    EXPECT_EQ(formats.Formats()[0].Description, QStringLiteral("Plug-in BMP"));
    formats.Load(QStringLiteral("a.bmp"), dib);
    EXPECT_EQ(dib.Width(), 7);
    formats.Unregister(QStringLiteral("BMP"));
    EXPECT_EQ(formats.Find(QStringLiteral("bmp")), nullptr);

    // What a reader throws passes on.
    formats.Register(QStringLiteral("bad"), QStringLiteral("Bad"),
                     [](const QString &, TTzDIB &) { throw std::runtime_error("refused"); });
    EXPECT_THROW(formats.Load(QStringLiteral("a.bad"), dib), std::runtime_error);
}

TEST_F(PictureFormatsTest, FilterListsAllPicturesFirstThenOneEntryPerDescription)
{
    TPictureFormats formats;
    QStringList calls;
    formats.Register(QStringLiteral("bmp"), QStringLiteral("ビットマップ"), TFakeReader{&calls, 1});
    formats.Register(QStringLiteral("dib"), QStringLiteral("Device Independent Bitmap"), TFakeReader{&calls, 1});
    formats.Register(QStringLiteral("jpeg"), QStringLiteral("JPEG"), TFakeReader{&calls, 1});
    formats.Register(QStringLiteral("jpg"), QStringLiteral("JPEG"), TFakeReader{&calls, 1});
    EXPECT_EQ(formats.OpenFilter(),
              QStringLiteral("すべての画像 (*.bmp;*.dib;*.jpeg;*.jpg)|*.bmp;*.dib;*.jpeg;*.jpg|"
                             "ビットマップ (*.bmp)|*.bmp|"
                             "Device Independent Bitmap (*.dib)|*.dib|"
                             "JPEG (*.jpeg;*.jpg)|*.jpeg;*.jpg"));
}

TEST_F(PictureFormatsTest, TheBuiltInsAreBmpDibAndThePlatformsFormats)
{
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    ASSERT_GE(formats.Formats().size(), 2u);
    EXPECT_EQ(formats.Formats()[0].Extension, QStringLiteral("bmp"));
    EXPECT_EQ(formats.Formats()[0].Description, QStringLiteral("ビットマップ"));
    EXPECT_EQ(formats.Formats()[1].Extension, QStringLiteral("dib"));
    EXPECT_EQ(formats.Formats()[1].Description, QStringLiteral("Device Independent Bitmap"));
    for (const char *ext : {"png", "jpg", "jpeg", "tif", "tiff", "gif", "pbm", "pgm", "ppm", "webp"})
        EXPECT_NE(formats.Find(QString::fromLatin1(ext)), nullptr) << ext;
    EXPECT_TRUE(formats.OpenFilter().startsWith(QStringLiteral("すべての画像 (*.bmp;*.dib;")));
    EXPECT_TRUE(formats.OpenFilter().contains(QStringLiteral("|TIFF 画像 (*.tif;*.tiff)|*.tif;*.tiff")));
    // Icons and cursors are read when dropped, never offered; every entry
    // offered has a description of its own.
    const QStringList parts = formats.OpenFilter().split(QLatin1Char('|'));
    for (const char *ext : {"ico", "cur", "icns", "xbm", "xpm"}) {
        EXPECT_FALSE(parts.join(QLatin1Char(';')).split(QLatin1Char(';')).contains(QStringLiteral("*.") + QLatin1String(ext))) << ext;
    }
    EXPECT_NE(formats.Find(QStringLiteral("ico")), nullptr);
    for (qsizetype i = 2; i + 1 < parts.size(); i += 2) {
        const QString &entry = parts[i];
        const bool japanese = std::any_of(entry.begin(), entry.end(), [](QChar c) { return c.unicode() >= 0x3000; });
        EXPECT_TRUE(japanese || entry.startsWith(QLatin1String("Device Independent Bitmap"))) << entry.toStdString();
    }
}

// The platform's formats are asked for late; whatever comes first (a lookup,
// the list, a plug-in taking an extension, lookups on several threads), the
// registry ends up the same: built-ins, then the platform's formats in order
// of extension, a replaced one in its place, new ones at the end.
TEST_F(PictureFormatsTest, ThePlatformsFormatsComeInTheSamePlaceWhateverAsksFirst)
{
    const auto extensions = [](const TPictureFormats &formats) {
        QStringList list;
        for (const TPictureFormat &format : formats.Formats())
            list << format.Extension + QLatin1Char(' ') + format.Description;
        return list;
    };
    TPictureFormats listed;
    listed.RegisterBuiltIns();
    const QStringList expected = extensions(listed);
    QStringList platform = expected.mid(2);
    ASSERT_GE(platform.size(), 5);
    ASSERT_TRUE(std::is_sorted(platform.begin(), platform.end())) << platform.join(QLatin1Char(',')).toStdString();

    TPictureFormats found;
    found.RegisterBuiltIns();
    ASSERT_NE(found.Find(QStringLiteral("BMP")), nullptr);
    EXPECT_EQ(found.Find(QStringLiteral("nothing")), nullptr);
    ASSERT_NE(found.Find(QStringLiteral("png")), nullptr);
    EXPECT_EQ(found.Find(QStringLiteral("png"))->Description, QStringLiteral("PNG 画像"));
    EXPECT_EQ(extensions(found), expected);

    const auto reader = [](const QString &, TTzDIB &) {};
    TPictureFormats replaced;
    replaced.RegisterBuiltIns();
    replaced.Register(QStringLiteral("png"), QStringLiteral("Plug-in PNG"), reader);
    replaced.Register(QStringLiteral("xyz"), QStringLiteral("Plug-in XYZ"), reader);
    QStringList withPlugins = expected;
    withPlugins.replaceInStrings(QRegularExpression(QStringLiteral("^png .*")), QStringLiteral("png Plug-in PNG"));
    withPlugins << QStringLiteral("xyz Plug-in XYZ");
    EXPECT_EQ(extensions(replaced), withPlugins);
    EXPECT_TRUE(static_cast<bool>(replaced.Find(QStringLiteral("bmp"))->Rows));

    TPictureFormats shared;
    shared.RegisterBuiltIns();
    std::vector<std::thread> threads;
    std::atomic<int> missing{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (const char *ext : {"jpg", "bmp", "tif", "gif"})
                if (!shared.Find(t % 2 ? QString::fromLatin1(ext).toUpper() : QString::fromLatin1(ext)))
                    ++missing;
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(extensions(shared), expected);
}

TEST_F(PictureFormatsTest, BmpFilesOfEveryCurrentKindOpen)
{
    struct TKind
    {
        const char *Name;
        TBmpLayout Spec;
        int Width, Height;
        std::vector<TColor> Expected;
    };
    std::vector<TKind> kinds;
    {
        TBmpLayout s;  // 108-byte header, 8 bits
        s.HeaderSize = 108;
        s.Width = 3;
        s.Height = 2;
        s.ClrUsed = 3;
        s.Table = Quads({0xFFFFFF, 0x000000, 0x0000FF});
        s.Pixels = QByteArray("\x02\x01\x00\x00\x01\x01\x02\x00", 8);  // bottom row first
        kinds.push_back({"108-byte header", s, 3, 2, {0, 0, 0x0000FF, 0x0000FF, 0, 0xFFFFFF}});
    }
    {
        TBmpLayout s;  // 124-byte header, 24 bits
        s.HeaderSize = 124;
        s.BitCount = 24;
        s.Width = 2;
        s.Height = 1;
        s.Pixels = QByteArray("\x00\x00\x00\x33\x22\x11\x00\x00", 8);
        kinds.push_back({"124-byte header", s, 2, 1, {0, 0x332211}});
    }
    {
        TBmpLayout s;  // RLE8: bottom row 4 x index 1; top row 2 x 0, 2 x 1
        s.Width = 4;
        s.Height = 2;
        s.Compression = 1;
        s.ClrUsed = 2;
        s.Table = Quads({0xFFFFFF, 0});
        s.Pixels = QByteArray("\x04\x01\x00\x00\x02\x00\x02\x01\x00\x01", 10);
        s.SizeImage = 10;
        kinds.push_back({"RLE8", s, 4, 2, {0xFFFFFF, 0xFFFFFF, 0, 0, 0, 0, 0, 0}});
    }
    {
        TBmpLayout s;  // RLE4: 5 pixels alternating index 1 and 2
        s.BitCount = 4;
        s.Width = 5;
        s.Height = 1;
        s.Compression = 2;
        s.ClrUsed = 3;
        s.Table = Quads({0xFFFFFF, 0, 0x808080});
        s.Pixels = QByteArray("\x05\x12\x00\x01", 4);
        s.SizeImage = 4;
        kinds.push_back({"RLE4", s, 5, 1, {0, 0x808080, 0, 0x808080, 0}});
    }
    {
        TBmpLayout s;  // 32 bits with bit fields
        s.BitCount = 32;
        s.Compression = 3;
        s.Width = 2;
        s.Height = 1;
        s.Masks = QByteArray("\x00\x00\xFF\x00\x00\xFF\x00\x00\xFF\x00\x00\x00", 12);
        s.Pixels = QByteArray("\x00\x00\x00\x00\x33\x22\x11\x00", 8);
        kinds.push_back({"bit fields", s, 2, 1, {0, 0x332211}});
    }
    {
        TBmpLayout s;  // top-down 24 bits
        s.BitCount = 24;
        s.Width = 1;
        s.Height = -2;
        s.Pixels = QByteArray("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8);
        kinds.push_back({"top-down", s, 1, 2, {0, 0xFFFFFF}});
    }
    {
        TBmpLayout s;  // top-down RLE8: the first row stored is the top row
        s.Width = 2;
        s.Height = -2;
        s.Compression = 1;
        s.ClrUsed = 2;
        s.Table = Quads({0xFFFFFF, 0});
        s.Pixels = QByteArray("\x01\x01\x00\x00\x02\x00\x00\x01", 8);
        kinds.push_back({"top-down RLE8", s, 2, 2, {0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}});
    }
    {
        TBmpLayout s;  // 1 bit, entry 0 black; a gap before the pixels (the file header says where)
        s.BitCount = 1;
        s.Width = 3;
        s.Height = 1;
        s.ClrUsed = 2;
        s.Table = Quads({0, 0xFFFFFF}) + QByteArray(8, '\xAA');
        s.Pixels = QByteArray("\x40\x00\x00\x00", 4);
        kinds.push_back({"1 bit with a gap", s, 3, 1, {0, 0xFFFFFF, 0}});
    }
    {
        // 124-byte header, 32 bits with bit fields: the masks stand inside the header.
        TBmpLayout s;
        s.HeaderSize = 124;
        s.BitCount = 32;
        s.Compression = 3;
        s.Width = 2;
        s.Height = 1;
        s.Pixels = QByteArray("\x00\x00\x00\x00\x11\x22\x33\x00", 8);
        QByteArray file = MakeBmp(s);
        file.replace(14 + 40, 12, QByteArray("\x00\x00\xFF\x00\x00\xFF\x00\x00\xFF\x00\x00\x00", 12));
        const TTzDIB dib = Load(Write(QStringLiteral("v5.bmp"), file));
        EXPECT_EQ(Colours(dib), (std::vector<TColor>{0, 0x112233}));
    }
    for (const TKind &kind : kinds) {
        const TTzDIB dib = Load(Write(QStringLiteral("k.bmp"), MakeBmp(kind.Spec)));
        EXPECT_EQ(dib.Width(), kind.Width) << kind.Name;
        EXPECT_EQ(dib.Height(), kind.Height) << kind.Name;
        EXPECT_EQ(dib.PixelFormat() == tzPf4BitRLE || dib.PixelFormat() == tzPf8BitRLE, false) << kind.Name;
        EXPECT_EQ(Colours(dib), kind.Expected) << kind.Name;
    }

    // 16 bits 5-6-5: black stays exactly black.
    TBmpLayout s;
    s.BitCount = 16;
    s.Compression = 3;
    s.Width = 2;
    s.Height = 1;
    s.Masks = QByteArray("\x00\xF8\x00\x00\xE0\x07\x00\x00\x1F\x00\x00\x00", 12);
    s.Pixels = QByteArray("\x00\x00\x00\xF8", 4);
    const TTzDIB dib = Load(Write(QStringLiteral("k565.BMP"), MakeBmp(s)));
    EXPECT_EQ(ColourAt(dib, 0, 0), 0);
    EXPECT_GE(ColourAt(dib, 1, 0), 0xF8);
    EXPECT_EQ(ColourAt(dib, 1, 0) & 0xFFFF00, 0);
}

TEST_F(PictureFormatsTest, DibFilesOpenThroughTheLibrarysOwnReader)
{
    TBmpLayout s;
    s.BitCount = 1;
    s.Width = 3;
    s.Height = 1;
    s.ClrUsed = 2;
    s.Table = Quads({0xFFFFFF, 0});
    s.Pixels = QByteArray("\xA0\x00\x00\x00", 4);
    const TTzDIB dib = Load(Write(QStringLiteral("plan.DIB"), MakeBmp(s)));
    EXPECT_EQ(dib.BitCount(), 1);
    EXPECT_EQ(Colours(dib), (std::vector<TColor>{0, 0xFFFFFF, 0}));

    // Its own rules: a larger header is refused.
    s.HeaderSize = 108;
    EXPECT_THROW(Load(Write(QStringLiteral("v4.dib"), MakeBmp(s))), std::exception);

    // Run-length encoded pictures come out expanded, so their pixels can be read.
    TBmpLayout rle;
    rle.Width = 4;
    rle.Height = 1;
    rle.Compression = 1;
    rle.ClrUsed = 2;
    rle.Table = Quads({0xFFFFFF, 0});
    rle.Pixels = QByteArray("\x01\x00\x03\x01\x00\x01", 6);
    rle.SizeImage = 6;
    const TTzDIB expanded = Load(Write(QStringLiteral("rle.dib"), MakeBmp(rle)));
    EXPECT_NE(expanded.PixelFormat(), tzPf8BitRLE);
    EXPECT_EQ(Colours(expanded), (std::vector<TColor>{0xFFFFFF, 0, 0, 0}));
}

TEST_F(PictureFormatsTest, BmpAndDibOfTheSameBytesGiveTheSamePicture)
{
    std::vector<TBmpLayout> files;
    {
        TBmpLayout s;
        s.BitCount = 1;
        s.Width = 9;
        s.Height = 2;
        s.Table = Quads({0, 0xFFFFFF});
        s.Pixels = QByteArray("\xA5\x80\0\0\x5A\x00\0\0", 8);
        files.push_back(s);
        s.BitCount = 24;
        s.Width = 2;
        s.Height = -2;
        s.Table.clear();
        s.Pixels = QByteArray("\1\2\3\4\5\6\0\0\7\x08\x09\x0A\x0B\x0C\0\0", 16);
        files.push_back(s);
    }
    {
        // 8 bits with 300 colour entries: 256 are kept, the rest skipped.
        TBmpLayout s;
        s.Width = 3;
        s.ClrUsed = 300;
        for (int i = 0; i < 300; ++i)
            s.Table += Quads({std::uint32_t(i * 0x010101 & 0xFFFFFF)});
        s.Pixels = QByteArray("\x05\xFF\x00\x00", 4);
        files.push_back(s);
        s.BitCount = 4;
        s.Compression = 2;
        s.Width = 5;
        s.Height = 2;
        s.ClrUsed = 3;
        s.Table = Quads({0xFFFFFF, 0, 0x808080});
        s.Pixels = QByteArray("\x05\x12\x00\x00\x00\x03\x21\x20\x00\x01", 10);
        files.push_back(s);
        s.BitCount = 16;
        s.Compression = 0;
        s.ClrUsed = 0;
        s.Table.clear();
        s.Pixels = QByteArray("\xFF\x7F\x1F\x00\x00\x7C\x00\x00\x01\x02\x03\x04\x05\x06\x00\x00", 16);
        s.Width = 3;
        files.push_back(s);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        const QByteArray bytes = MakeBmp(files[i]);
        const TTzDIB bmp = Load(Write(QStringLiteral("same.bmp"), bytes));
        const TTzDIB dib = Load(Write(QStringLiteral("same.dib"), bytes));
        EXPECT_EQ(bmp.Width(), dib.Width()) << i;
        EXPECT_EQ(bmp.Height(), dib.Height()) << i;
        EXPECT_EQ(bmp.BitCount(), dib.BitCount()) << i;
        EXPECT_EQ(Colours(bmp), Colours(dib)) << i;
    }
    const TTzDIB many = Load(Write(QStringLiteral("many.bmp"), MakeBmp(files[2])));
    EXPECT_EQ(many.PaletteSize(), 256);
    EXPECT_EQ(ColourAt(many, 1, 0), 0xFFFFFF);
    EXPECT_EQ(ColourAt(many, 0, 0), 0x050505);
}

TEST_F(PictureFormatsTest, TruncatedOrDamagedBmpFilesAreRefusedWithTheirReason)
{
    struct TCase
    {
        const char *Name;
        QByteArray Bytes;
        const char *Message;
    };
    TBmpLayout s;
    s.BitCount = 24;
    s.Width = 100;
    s.Height = 100;
    s.Pixels = QByteArray(30000, '\x40');
    const QByteArray whole = MakeBmp(s);
    TBmpLayout rle;
    rle.Width = 4;
    rle.Height = 2;
    rle.Compression = 1;
    rle.ClrUsed = 2;
    rle.Table = Quads({0xFFFFFF, 0});
    rle.Pixels = QByteArray("\x04\x01\x00\x00\x04\x00", 6);
    TBmpLayout damaged = rle;
    damaged.Pixels = QByteArray("\x05\x01\x00\x01", 4);
    TBmpLayout shortRows = s;
    shortRows.Pixels.chop(3);
    TCase cases[] = {
        {"cut in half", whole.left(whole.size() / 2),
         "TTzInternalDIB.LoadFromStream: The File Ends Before Its Picture Does (Stream read error)"},
        {"header cut", whole.left(30),
         "TTzInternalDIB.LoadFromStream: The File Ends Before Its Picture Does (Stream read error)"},
        {"rows shorter than the picture", MakeBmp(shortRows), "TTzInternalDIB.LoadFromStream: Pixel Data is Too Short"},
        {"RLE without its end", MakeBmp(rle), "Convert8BitRLETo8BitRGB: Unexpected End of RLE Data"},
        {"RLE run past the row", MakeBmp(damaged), "Convert8BitRLETo8BitRGB: Bad RLE Data 4"},
    };
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    for (const TCase &c : cases) {
        for (const char *extension : {"bmp", "dib"}) {
            TTzDIB dib;
            try {
                formats.Load(Write(QStringLiteral("bad.") + QLatin1String(extension), c.Bytes), dib);
                ADD_FAILURE() << c.Name << " loaded as " << extension;
            } catch (const ETrazbitError &e) {
                EXPECT_STREQ(e.what(), c.Message) << c.Name << " as " << extension;
            }
        }
    }
}

TEST_F(PictureFormatsTest, ThePlatformsFormatsOpen)
{
    QImage image(7, 5, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(1, 1, qRgb(0, 0, 0));
    image.setPixel(5, 3, qRgb(0, 0, 0));
    image.setPixel(2, 4, qRgb(128, 128, 128));
    std::vector<TColor> expected(35, 0xFFFFFF);
    expected[1 * 7 + 1] = 0;
    expected[3 * 7 + 5] = 0;
    expected[4 * 7 + 2] = 0x808080;
    for (const char *format : {"png", "ppm", "pgm", "tif"}) {
        const QString path = Dir.filePath(QStringLiteral("p.") + QString::fromLatin1(format));
        ASSERT_TRUE(image.save(path, format)) << format;
        EXPECT_EQ(Colours(Load(path)), expected) << format;
    }
    // 1 bit.
    QImage mono = image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    const QString pbm = Dir.filePath(QStringLiteral("p.PBM"));
    ASSERT_TRUE(mono.save(pbm, "pbm"));
    const TTzDIB fromPbm = Load(pbm);
    EXPECT_EQ(ColourAt(fromPbm, 1, 1), 0);
    EXPECT_EQ(ColourAt(fromPbm, 0, 0), 0xFFFFFF);
    // Lossy formats: the size survives.
    for (const char *format : {"jpg", "webp"}) {
        const QString path = Dir.filePath(QStringLiteral("p.") + QString::fromLatin1(format));
        ASSERT_TRUE(image.save(path, format)) << format;
        const TTzDIB dib = Load(path);
        EXPECT_EQ(dib.Width(), 7) << format;
        EXPECT_EQ(dib.Height(), 5) << format;
    }
    // A file its reader refuses.
    EXPECT_ANY_THROW(Load(Write(QStringLiteral("bad.png"), QByteArray("\x89PNG broken", 11))));
    EXPECT_ANY_THROW(Load(Dir.filePath(QStringLiteral("missing.png"))));
}

TEST_F(PictureFormatsTest, TransparentPixelsArePaper)
{
    // A transparent black sheet with one opaque black pixel and one half-covered.
    QImage argb(3, 1, QImage::Format_ARGB32);
    argb.setPixel(0, 0, qRgba(0, 0, 0, 0));
    argb.setPixel(1, 0, qRgba(0, 0, 0, 255));
    argb.setPixel(2, 0, qRgba(0, 0, 0, 128));
    QImage indexed(3, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgba(0, 0, 0, 0), qRgba(0, 0, 0, 255), qRgba(0, 0, 0, 128)});
    for (int x = 0; x < 3; ++x)
        indexed.setPixel(x, 0, static_cast<uint>(x));
    const std::vector<TColor> expected = {0xFFFFFF, 0, 0x7F7F7F};
    for (const auto &[name, image] : {std::pair{"argb.png", argb}, std::pair{"indexed.png", indexed}}) {
        const QString path = Dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(image.save(path, "PNG")) << name;
        EXPECT_EQ(Colours(Load(path)), expected) << name;
    }
}

TEST_F(PictureFormatsTest, ATruncatedJpegIsRefusedWithTheDecodersWords)
{
    QImage image(200, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
            image.setPixel(x, y, (x / 10 + y / 10) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    const QString whole = Dir.filePath(QStringLiteral("whole.jpg"));
    ASSERT_TRUE(image.save(whole, "JPEG"));
    QFile file(whole);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(Load(whole).Width(), 200);
    const QString cut = Write(QStringLiteral("cut.jpg"), bytes.left(bytes.size() / 2));
    try {
        Load(cut);
        FAIL() << "a truncated JPEG opened";
    } catch (const EInvalidGraphic &error) {
        EXPECT_EQ(error.Message().toStdString(),
                  "QImageReader: Corrupt JPEG data: premature end of data segment");
    }
}

TEST_F(PictureFormatsTest, OneBitGroup4TiffOpens)
{
    // 8 x 2, white is zero, CCITT T.6. Row 0: white 2, black 3, white 3
    // (horizontal mode 001 0111 10, then V0 1); row 1 all white (pass 0001,
    // V0 1); end of block 000000000001 twice.
    const QByteArray data("\x2F\x46\x00\x20\x02", 5);
    QByteArray tiff("II*\0", 4);
    PutLe32(tiff, 8);
    struct TEntry
    {
        std::uint16_t Tag, Type;
        std::uint32_t Value;
    };
    const std::uint32_t dataOffset = 8 + 2 + 9 * 12 + 4;
    const TEntry entries[] = {
        {256, 3, 8}, {257, 3, 2}, {258, 3, 1}, {259, 3, 4}, {262, 3, 0},
        {273, 4, dataOffset}, {277, 3, 1}, {278, 3, 2}, {279, 4, std::uint32_t(data.size())},
    };
    PutLe16(tiff, 9);
    for (const TEntry &e : entries) {
        PutLe16(tiff, e.Tag);
        PutLe16(tiff, e.Type);
        PutLe32(tiff, 1);
        if (e.Type == 3) {
            PutLe16(tiff, std::uint16_t(e.Value));
            PutLe16(tiff, 0);
        } else {
            PutLe32(tiff, e.Value);
        }
    }
    PutLe32(tiff, 0);
    tiff += data;
    const TTzDIB dib = Load(Write(QStringLiteral("g4.tiff"), tiff));
    ASSERT_EQ(dib.Width(), 8);
    ASSERT_EQ(dib.Height(), 2);
    const TColor w = 0xFFFFFF;
    EXPECT_EQ(Colours(dib), (std::vector<TColor>{w, w, 0, 0, 0, w, w, w, w, w, w, w, w, w, w, w}));
}

TEST_F(PictureFormatsTest, AnA0SheetAt400DpiOpens)
{
    // 13200 x 18700 pixels, far above the platform reader's default limit
    // when counted at 4 bytes a pixel.
    const int width = 13200, height = 18700;
    QByteArray pbm = QByteArray("P4\n13200 18700\n");
    const int rowBytes = (width + 7) / 8;
    pbm.append(QByteArray(qsizetype(rowBytes) * height, '\0'));
    // The top-left and the bottom-right pixel black.
    pbm[pbm.size() - qsizetype(rowBytes) * height] = '\x80';
    pbm[pbm.size() - 1] = '\x01';
    const TTzDIB dib = Load(Write(QStringLiteral("a0.pbm"), pbm));
    ASSERT_EQ(dib.Width(), width);
    ASSERT_EQ(dib.Height(), height);
    EXPECT_EQ(ColourAt(dib, 0, 0), 0);
    EXPECT_EQ(ColourAt(dib, 1, 0), 0xFFFFFF);
    EXPECT_EQ(ColourAt(dib, width - 1, height - 1), 0);
    EXPECT_TRUE(QImageReader::allocationLimit() == 0 || QImageReader::allocationLimit() >= 4096);
}

} // namespace
