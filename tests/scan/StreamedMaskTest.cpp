// The black mask made from a BMP file a band of rows at a time must be exactly
// the mask of the whole picture that the same file loads into, and a file that
// cannot be read must fail with the same error either way.

#include "image/BmpBytes.h"

#include "base/Errors.h"
#include "image/PictureFormats.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "scan/BlackMask.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// The same pixels, word for word (the bits beyond the width included).
void ExpectSameMask(const TBlackMask &a, const TBlackMask &b, const std::string &what)
{
    ASSERT_EQ(a.Width(), b.Width()) << what;
    ASSERT_EQ(a.Height(), b.Height()) << what;
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < a.Words(); ++i)
            ASSERT_EQ(a.Line(y)[i], b.Line(y)[i]) << what << " line " << y << " word " << i;
}

struct TFile
{
    std::uint16_t Bits;
    std::int32_t Width;
    std::int32_t Height;  // negative: top-down
    std::uint32_t HeaderSize;
    std::uint32_t ClrUsed;  // 0: the default table
    int Gap;                // bytes between the table and the pixels (.bmp takes the pixel offset)
};

// Pixels with long runs and lone pixels; for 24 bits black, near-black (one
// channel 0) and paper; table entries black every third entry.
QByteArray MakeFile(const TFile &f, std::mt19937 &random)
{
    TBmpLayout layout;
    layout.HeaderSize = f.HeaderSize;
    layout.Width = f.Width;
    layout.Height = f.Height;
    layout.BitCount = f.Bits;
    layout.ClrUsed = f.ClrUsed;
    const int entries = f.Bits == 24 ? 0 : f.ClrUsed ? int(f.ClrUsed) : 1 << f.Bits;
    for (int i = 0; i < entries; ++i) {
        const bool black = f.Bits == 1 ? i == 1 : i % 3 == 0;
        const char grey = black ? '\0' : static_cast<char>(0x40 + i % 0x80);
        layout.Table.append(grey).append(black ? '\0' : '\x01').append(grey);
        if (f.HeaderSize != 12)
            layout.Table.append('\x7f');  // the reserved byte never counts
    }
    layout.Table.append(QByteArray(f.Gap, '\x55'));
    const int rows = f.Height < 0 ? -f.Height : f.Height;
    const int rowSize = (f.Width * f.Bits + 31) / 32 * 4;
    layout.Pixels.resize(qsizetype(rowSize) * rows);
    auto *p = reinterpret_cast<std::uint8_t *>(layout.Pixels.data());
    bool ink = false;
    for (qsizetype i = 0; i < layout.Pixels.size(); ++i) {
        if (random() % 7 == 0)
            ink = !ink;
        if (f.Bits == 24) {
            const int kind = static_cast<int>(random() % 4);
            p[i] = ink || kind == 0 ? 0 : static_cast<std::uint8_t>(1 + random() % 255);
        } else {
            p[i] = ink ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>(random() % 3 ? 0x00 : 0xFF);
        }
    }
    QByteArray file = MakeBmp(layout);
    // The pixel offset of the file header points past the gap.
    qToLittleEndian<std::uint32_t>(std::uint32_t(file.size() - layout.Pixels.size()), file.data() + 10);
    return file;
}

class StreamedMaskTest : public ::testing::Test
{
protected:
    StreamedMaskTest() { Formats.RegisterBuiltIns(); }

    QString Write(const QByteArray &bytes, const QString &name)
    {
        const QString path = Dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // What loading the whole picture says, or the mask it gives.
    std::string WholeError(const QString &path, TBlackMask &mask)
    {
        try {
            TTzDIB picture;
            Formats.Load(path, picture);
            mask = TBlackMask::FromImage(picture);
            return {};
        } catch (const std::exception &error) {
            return error.what();
        }
    }

    TPictureFormats Formats;
    QTemporaryDir Dir;
};

TEST_F(StreamedMaskTest, EveryDepthRowOrderAndWidthGivesTheMaskOfTheWholePicture)
{
    std::mt19937 random(14);
    std::vector<TFile> files;
    for (std::uint16_t bits : {1, 4, 8, 24})
        for (std::int32_t width : {1, 7, 8, 15, 16, 17, 63, 64, 65, 127, 129, 200})
            for (std::int32_t height : {1, 5, -6, 33})
                files.push_back({bits, width, height, 40, 0, 0});
    // Core headers, short tables (the entries not read count as black), a
    // larger header and a gap before the pixels.
    files.push_back({8, 45, 9, 12, 0, 0});
    files.push_back({1, 70, -3, 12, 0, 0});
    files.push_back({24, 33, 4, 12, 0, 0});
    files.push_back({8, 37, 7, 40, 16, 0});
    files.push_back({4, 37, 7, 40, 3, 0});
    files.push_back({1, 99, 7, 40, 1, 0});
    files.push_back({8, 66, -5, 124, 0, 0});
    files.push_back({24, 66, 5, 40, 0, 10});

    int compared = 0;
    for (const TFile &f : files) {
        const QByteArray bytes = MakeFile(f, random);
        for (const char *extension : {"bmp", "dib"}) {
            const QString path = Write(bytes, QStringLiteral("pic.") + QLatin1String(extension));
            const std::string what = std::to_string(f.Bits) + " bits " + std::to_string(f.Width) + " x "
                + std::to_string(f.Height) + " header " + std::to_string(f.HeaderSize) + " ." + extension;
            TBlackMask whole;
            const std::string error = WholeError(path, whole);
            std::unique_ptr<TPictureRows> rows;
            try {
                rows = Formats.OpenRows(path);
            } catch (const std::exception &e) {
                // The .dib reader refuses the larger header and reads the gap as
                // pixels; either way the row reader says what the whole reader says.
                EXPECT_EQ(e.what(), error) << what;
                continue;
            }
            ASSERT_TRUE(error.empty()) << what << ": " << error;
            ASSERT_TRUE(rows) << what;
            // Bands of one row, of a few rows and of the whole picture, on one
            // thread and on several.
            for (const auto &[threads, band] : {std::pair{1, 0}, {1, 1}, {2, 1}, {3, 100}, {4, 0}}) {
                std::unique_ptr<TPictureRows> again = Formats.OpenRows(path);
                ExpectSameMask(TBlackMask::FromRows(*again, threads, band), whole,
                               what + " threads " + std::to_string(threads));
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 900);
}

TEST_F(StreamedMaskTest, FilesReadWholeOrNotAtAllFailAlike)
{
    TBmpLayout base;
    base.Width = 20;
    base.Height = 10;
    base.BitCount = 24;
    base.Pixels = QByteArray(60 * 10, '\0');
    struct TBroken
    {
        const char *Name;
        QByteArray Bytes;
        bool RowByRow;  // else read whole (nullptr from OpenRows)
    };
    std::vector<TBroken> cases;
    cases.push_back({"short", MakeBmp(base).left(300), false});
    TBmpLayout type = base;
    type.Type = "BA";
    cases.push_back({"type", MakeBmp(type), false});
    TBmpLayout size = base;
    size.FileSize = 100;
    cases.push_back({"size", MakeBmp(size), false});
    TBmpLayout width = base;
    width.Width = 0;
    cases.push_back({"width", MakeBmp(width), false});
    TBmpLayout header = base;
    header.HeaderSize = 64;
    cases.push_back({"header", MakeBmp(header), false});
    TBmpLayout rle = base;
    rle.BitCount = 8;
    rle.Compression = 1;
    rle.Pixels = QByteArray("\x02\x05\x00\x01", 4);
    cases.push_back({"rle8", MakeBmp(rle), false});
    TBmpLayout wrongCompression = base;
    wrongCompression.Compression = 2;
    cases.push_back({"24-bit rle4", MakeBmp(wrongCompression), false});
    TBmpLayout high = base;
    high.BitCount = 32;
    high.Pixels = QByteArray(80 * 10, '\x10');
    cases.push_back({"32 bits", MakeBmp(high), false});
    cases.push_back({"whole", MakeBmp(base), true});

    for (const TBroken &c : cases) {
        for (const char *extension : {"bmp", "dib"}) {
            const QString path = Write(c.Bytes, QStringLiteral("broken.") + QLatin1String(extension));
            TBlackMask whole;
            const std::string error = WholeError(path, whole);
            try {
                const std::unique_ptr<TPictureRows> rows = Formats.OpenRows(path);
                EXPECT_EQ(rows != nullptr, c.RowByRow) << c.Name << " ." << extension;
                if (rows) {
                    EXPECT_EQ(error, "") << c.Name << " ." << extension;
                    ExpectSameMask(TBlackMask::FromRows(*rows), whole, c.Name);
                }
            } catch (const std::exception &e) {
                EXPECT_FALSE(error.empty()) << c.Name << " ." << extension;
                EXPECT_EQ(e.what(), error) << c.Name << " ." << extension;
            }
        }
    }
    // Formats without a row reader, and extensions nobody reads.
    EXPECT_EQ(Formats.OpenRows(Write(QByteArray("P1\n1 1\n1\n"), QStringLiteral("a.pbm"))), nullptr);
    EXPECT_THROW(Formats.OpenRows(Dir.filePath(QStringLiteral("a.unknown"))), EInvalidGraphic);
    // A later registration of an extension drops its row reader.
    Formats.Register(QStringLiteral("bmp"), QStringLiteral("x"), PictureReaders::ReadWithPlatform);
    EXPECT_EQ(Formats.OpenRows(Write(cases.back().Bytes, QStringLiteral("whole.bmp"))), nullptr);
}

TEST(RowToMaskTest, TwentyFourBitRowsAgreeWithThePlainConversion)
{
    std::mt19937 random(24);
    for (int width : {1, 15, 16, 17, 63, 64, 65, 100, 191, 192, 193, 1000}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
            for (std::uint8_t &b : row)
                b = random() % 2 ? 0 : static_cast<std::uint8_t>(1 << (random() % 8));
            const int words = (width + 63) / 64;
            std::vector<std::uint64_t> fast(static_cast<std::size_t>(words)), plain(fast.size());
            TRowToMask(24, width, nullptr)(row.data(), fast.data());
            BlackLine24Plain(row.data(), width, plain.data());
            ASSERT_EQ(fast, plain) << width;
        }
    }
}

} // namespace
