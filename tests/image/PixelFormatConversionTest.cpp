#include "image/PixelFormatConversion.h"
#include "image/TzDIB.h"

#include "BmpBytes.h"
#include "DIBErrorCheck.h"

#include <QBuffer>
#include <QPainter>

#include "image/RleCodec.h"

#include <gtest/gtest.h>

#include <cstring>

#include <random>

namespace {

constexpr TColor Black = 0x000000, White = 0xFFFFFF, Red = 0x0000FF, Green = 0x00FF00;

TColor ColourAt(const TTzDIB &dib, int x, int y)
{
    const std::int32_t p = dib.Pixels(x, y);
    return dib.BitCount() > 8 ? p : dib.Colors(p);
}

// A 7-pixel-wide picture in the given format: black and white for 1 bit, four
// colours otherwise. Odd width: the last byte of 1- and 4-bit rows is partial.
TTzDIB Picture(TTzPixelFormat format, int height)
{
    const int bits = format == tzPf1Bit ? 1 : format <= tzPf4BitRLE ? 4 : format <= tzPf8BitRLE ? 8 : 24;
    const TColor colours[] = {Black, White, Red, Green};
    const int count = bits == 1 ? 2 : 4;
    TTzDIB dib;
    dib.SetBitCount(bits);
    dib.SetWidth(7);
    dib.SetHeight(height);
    if (bits != 24) {
        for (int i = 0; i < count; ++i)
            dib.SetColors(i, colours[i]);
        dib.SetColors(count, 0x123456); // an entry no pixel uses
        dib.SetPaletteSize(count + 1);
    }
    for (int y = 0; y < dib.Height(); ++y)
        for (int x = 0; x < 7; ++x) {
            const int i = (x * 3 + y + x / 4) % count;
            dib.SetPixels(x, y, bits == 24 ? colours[i] : i);
        }
    if (format == tzPf4BitRLE || format == tzPf8BitRLE)
        dib.SetPixelFormat(format);
    return dib;
}

std::vector<TColor> Colours(TTzDIB dib)
{
    if (dib.PixelFormat() == tzPf4BitRLE)
        dib.SetPixelFormat(tzPf4Bit);
    if (dib.PixelFormat() == tzPf8BitRLE)
        dib.SetPixelFormat(tzPf8Bit);
    std::vector<TColor> out;
    for (int y = 0; y < dib.Height(); ++y)
        for (int x = 0; x < dib.Width(); ++x)
            out.push_back(ColourAt(dib, x, y));
    return out;
}

struct TAnnouncement
{
    TTzPixelFormat From, To;
    const char *Text;
    int Steps;
};
const TAnnouncement Announcements[] = {
    {tzPf8Bit, tzPf4Bit, "PixelFormat 8Bit -> 4Bit", 16},
    {tzPf8Bit, tzPf4BitRLE, "PixelFormat 8Bit -> 4BitRLE", 16},
    {tzPf8BitRLE, tzPf4Bit, "PixelFormat 8BitRLE -> 4Bit", 16},
    {tzPf8BitRLE, tzPf4BitRLE, "PixelFormat 8BitRLE -> 4BitRLE", 16},
    {tzPf24Bit, tzPf4Bit, "PixelFormat 24Bit -> 4Bit", 16},
    {tzPf24Bit, tzPf4BitRLE, "PixelFormat 24Bit -> 4BitRLE", 16},
    {tzPf24Bit, tzPf8Bit, "PixelFormat 24Bit -> 8Bit", 256},
    {tzPf24Bit, tzPf8BitRLE, "PixelFormat 24Bit -> 8BitRLE", 256},
};

TEST(PixelFormatConversion, EveryRouteKeepsThePicture)
{
    const TTzPixelFormat formats[] = {tzPf1Bit, tzPf4Bit, tzPf4BitRLE, tzPf8Bit, tzPf8BitRLE, tzPf24Bit};
    for (TTzPixelFormat from : formats) {
        for (TTzPixelFormat to : {tzPf1Bit, tzPf4Bit, tzPf4BitRLE, tzPf8Bit, tzPf8BitRLE, tzPf24Bit, tzPfHalfTone,
                                  tzPfHalfToneBW}) {
            for (int height : {3, -3}) {
                for (std::uint8_t quality : {0, 1}) {
                    if (to == from || (quality == 1 && from != tzPf24Bit))
                        continue;
                    const std::string name = "from " + std::to_string(from) + " to " + std::to_string(to)
                                             + " height " + std::to_string(height) + " quality "
                                             + std::to_string(quality);
                    TTzDIB dib = Picture(from, height);
                    const std::vector<TColor> before = Colours(dib);
                    dib.SetConvertQuality(quality);
                    int starts = 0, ends = 0, changes = 0;
                    QString text;
                    dib.OnProgress = [&](TTzDIB &, TProgressStage stage, int, const QRect &, const QString &t) {
                        starts += stage == TProgressStage::Starting;
                        ends += stage == TProgressStage::Ending;
                        text = t;
                    };
                    dib.OnChange = [&](TTzDIB &) { ++changes; };
                    const std::int64_t blocks = LivePixelBlocks();
                    dib.SetPixelFormat(to);
                    EXPECT_EQ(LivePixelBlocks(), blocks) << name << ": no intermediate left";
                    EXPECT_EQ(changes, 1) << name;

                    const TTzPixelFormat expected = to == tzPfHalfTone ? tzPf8Bit : to == tzPfHalfToneBW ? tzPf1Bit : to;
                    EXPECT_EQ(dib.PixelFormat(), expected) << name;
                    std::vector<TColor> wanted = before;
                    if (to == tzPf1Bit || to == tzPfHalfToneBW)
                        for (TColor &c : wanted)
                            c = c == White ? White : Black;
                    if (to != tzPfHalfToneBW || from == tzPf1Bit) {
                        EXPECT_EQ(Colours(dib), wanted) << name;
                    }
                    if (to == tzPf1Bit || to == tzPfHalfToneBW) {
                        EXPECT_EQ(dib.PaletteSize(), 2) << name;
                        EXPECT_EQ(dib.Colors(0), Black) << name;
                        EXPECT_EQ(dib.Colors(1), White) << name;
                    }
                    if (to == tzPfHalfTone) {
                        EXPECT_EQ(dib.PaletteSize(), 215) << name;
                    }

                    const TAnnouncement *announced = nullptr;
                    for (const TAnnouncement &a : Announcements)
                        if (a.From == from && a.To == to)
                            announced = &a;
                    EXPECT_EQ(starts, announced ? 1 : 0) << name;
                    EXPECT_EQ(ends, announced ? 1 : 0) << name;
                    if (announced) {
                        EXPECT_EQ(text, QString::fromLatin1(announced->Text)) << name;
                        EXPECT_EQ(dib.ProgressCount, announced->Steps) << name;
                        EXPECT_EQ(dib.ProgressTotal, announced->Steps) << name;
                    }
                }
            }
        }
    }
}

TEST(PixelFormatConversion, SameFormatDoesNothing)
{
    TTzDIB a = Picture(tzPf8BitRLE, 3);
    TTzDIB b(a);
    int events = 0;
    b.OnChange = [&](TTzDIB &) { ++events; };
    b.OnProgress = [&](TTzDIB &, TProgressStage, int, const QRect &, const QString &) { ++events; };
    b.SetPixelFormat(tzPf8BitRLE);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(b.InternalDIB(), a.InternalDIB()); // still shared
}

TEST(PixelFormatConversion, OnlyTheMonoColourBecomesWhite)
{
    TTzDIB dib = Picture(tzPf24Bit, 1);
    dib.SetPixels(0, 0, 0xFFFFFE); // red 254
    dib.SetPixels(1, 0, White);
    dib.SetPixels(2, 0, Red);
    dib.SetPixels(3, 0, 0xFEFFFF); // blue 254
    TTzDIB mono(dib);
    mono.SetPixelFormat(tzPf1Bit);
    EXPECT_EQ(mono.Pixels(0, 0), 0);
    EXPECT_EQ(mono.Pixels(1, 0), 1);
    EXPECT_EQ(mono.Pixels(2, 0), 0);
    EXPECT_EQ(mono.Pixels(3, 0), 0);

    dib.SetMonoColor(Red);
    dib.SetPixelFormat(tzPf1Bit);
    EXPECT_EQ(dib.Pixels(1, 0), 0);
    EXPECT_EQ(dib.Pixels(2, 0), 1);

    // From a palette: by the colour of the entry, whatever its index.
    TTzDIB eight = Picture(tzPf8Bit, 1);
    eight.SetColors(3, 0xFFFFFF);
    eight.SetPixelFormat(tzPf1Bit);
    for (int x = 0; x < 7; ++x)
        EXPECT_EQ(eight.Pixels(x, 0), ((x * 3 + x / 4) % 4 == 1 || (x * 3 + x / 4) % 4 == 3) ? 1 : 0) << x;
}

TEST(PixelFormatConversion, RunLengthRoundTripsGiveTheSamePixels)
{
    std::mt19937 random(12);
    for (int bits : {4, 8}) {
        for (int width : {1, 2, 3, 5, 255, 256, 300, 513}) {
            for (int height : {4, -4}) {
                TTzDIB dib;
                dib.SetBitCount(bits);
                dib.SetWidth(width);
                dib.SetHeight(height);
                // Runs, single pixels, repeated pairs and zeros at the row ends.
                for (int y = 0; y < 4; ++y) {
                    int x = 0;
                    while (x < width) {
                        const int kind = int(random() % 4), length = 1 + int(random() % 300);
                        const int a = int(random() % (1 << bits)), b = int(random() % (1 << bits));
                        for (int i = 0; i < length && x < width; ++i, ++x)
                            dib.SetPixels(x, y, kind == 0 ? a : kind == 1 ? (i & 1 ? b : a) : kind == 2 ? int(random() % (1 << bits)) : 0);
                    }
                }
                TTzDIB rle(dib);
                rle.SetPixelFormat(bits == 8 ? tzPf8BitRLE : tzPf4BitRLE);
                EXPECT_EQ(rle.InternalDIB()->Header().biSizeImage, rle.InternalDIB()->DIB.BitsSize);
                TTzDIB back(rle);
                back.SetPixelFormat(bits == 8 ? tzPf8Bit : tzPf4Bit);
                ASSERT_EQ(back.Height(), 4);
                // Decoded a band at a time: the same stored rows.
                const TTzDIBBlock &encoded = rle.InternalDIB()->DIB;
                TRleRows bands(bits, std::vector<std::uint8_t>(encoded.Bits.get(), encoded.Bits.get() + encoded.BitsSize),
                               width, 4);
                const std::int64_t rowSize = DIBRowSize(width, bits);
                std::vector<std::uint8_t> rows(std::size_t(4 * rowSize), 0xAA);
                bands.Decode(rows.data(), 0, 1);
                bands.Decode(rows.data() + rowSize, 1, 3);
                ASSERT_EQ(0, std::memcmp(rows.data(), back.InternalDIB()->DIB.Bits.get(), rows.size()))
                    << bits << " bits, " << width;
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < width; ++x)
                        ASSERT_EQ(back.Pixels(x, y), dib.Pixels(x, y)) << bits << " bits, " << width << " x " << height
                                                                       << " at " << x << "," << y;
            }
        }
    }
}

TTzDIB LoadRle(int bits, int width, int height, const QByteArray &data)
{
    TBmpLayout s;
    s.BitCount = std::uint16_t(bits);
    s.Compression = bits == 8 ? BI_RLE8 : BI_RLE4;
    s.Width = width;
    s.Height = height;
    s.ClrUsed = 2;
    s.Table = Quads({0, 0xFFFFFF});
    s.Pixels = data;
    QBuffer file;
    file.setData(MakeBmp(s));
    file.open(QIODevice::ReadOnly);
    TTzDIB dib;
    dib.LoadFromStream(file);
    return dib;
}

TEST(PixelFormatConversion, DamagedRunLengthDataIsRefused)
{
    struct TCase
    {
        int Bits;
        QByteArray Data;
        const char *Message;
    };
    const QByteArray eob("\0\1", 2);
    const TCase cases[] = {
        // 4 x 2 pictures.
        {8, QByteArray("\0\0\0\0\0\0", 6) + eob, "Convert8BitRLETo8BitRGB: Bad RLE Data 1"},
        {8, QByteArray("\0\2\5\0", 4) + eob, "Convert8BitRLETo8BitRGB: Bad RLE Data 2"},
        {8, QByteArray("\0\2\0\3", 4) + eob, "Convert8BitRLETo8BitRGB: Bad RLE Data 2"},
        {8, QByteArray("\1\1\0\4\1\1\1\1", 8) + eob, "Convert8BitRLETo8BitRGB: Bad RLE Data 3"},
        {8, QByteArray("\0\2\0\2\0\3\1\1\1\0", 10) + eob, "Convert8BitRLETo8BitRGB: Bad RLE Data 3"},
        {8, QByteArray("\3\1\2\1", 4) + eob, "Convert8BitRLETo8BitRGB: Bad RLE Data 4"},
        {8, QByteArray("\0\0\0\0\1\1", 6) + eob, "Convert8BitRLETo8BitRGB: Bad RLE Data 4"},
        {8, QByteArray("\4\1\0\0", 4), "Convert8BitRLETo8BitRGB: Unexpected End of RLE Data"},
        {8, QByteArray("\0\3\1\1", 4), "Convert8BitRLETo8BitRGB: Unexpected End of RLE Data"},
        {8, QByteArray("\0\2\1", 3), "Convert8BitRLETo8BitRGB: Unexpected End of RLE Data"},
        {4, QByteArray("\0\0\0\0\0\0", 6) + eob, "Convert4BitRLETo4BitRGB: Bad RLE Data 5"},
        {4, QByteArray("\0\2\5\0", 4) + eob, "Convert4BitRLETo4BitRGB: Bad RLE Data 6"},
        {4, QByteArray("\2\1\0\3\1\1", 6) + eob, "Convert4BitRLETo4BitRGB: Bad RLE Data 7"},
        {4, QByteArray("\5\1", 2) + eob, "Convert4BitRLETo4BitRGB: Bad RLE Data 8"},
        {4, QByteArray("\0\2\0\2\1\1", 6) + eob, "Convert4BitRLETo4BitRGB: Bad RLE Data 8"},
        {4, QByteArray("\0\4\1", 3), "Convert4BitRLETo4BitRGB: Unexpected End of RLE Data"},
        {4, QByteArray("\4\1", 2), "Convert4BitRLETo4BitRGB: Unexpected End of RLE Data"},
    };
    for (const TCase &c : cases) {
        // A band at a time: the same error once the band that holds it is read.
        TRleRows bands(c.Bits, std::vector<std::uint8_t>(c.Data.begin(), c.Data.end()), 4, 2);
        std::uint8_t rows[8];
        EXPECT_DIB_ERROR((bands.Decode(rows, 0, 1), bands.Decode(rows + 4, 1, 1)), ETzDIBInvalidDIB, c.Message);
        TTzDIB dib = LoadRle(c.Bits, 4, 2, c.Data);
        const TTzInternalDIB *before = dib.InternalDIB();
        EXPECT_DIB_ERROR(dib.SetPixelFormat(c.Bits == 8 ? tzPf8Bit : tzPf4Bit), ETzDIBInvalidDIB, c.Message);
        EXPECT_EQ(dib.InternalDIB(), before) << c.Message;
        EXPECT_EQ(dib.PixelFormat(), c.Bits == 8 ? tzPf8BitRLE : tzPf4BitRLE) << c.Message;
        EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(dib.InternalDIB()->DIB.Bits.get()),
                             qsizetype(dib.InternalDIB()->DIB.BitsSize)), c.Data);
    }

    // The limits themselves are accepted: a run to the row end (RLE4: to the
    // even width), a delta onto the row after the last.
    TTzDIB dib = LoadRle(4, 3, 2, QByteArray("\4\x10\0\0\2\x01\0\2\0\1", 10) + eob);
    dib.SetPixelFormat(tzPf4Bit);
    EXPECT_EQ(Colours(dib), (std::vector<TColor>{0, 0xFFFFFF, 0, 0xFFFFFF, 0, 0xFFFFFF}));
    dib = LoadRle(8, 2, 1, QByteArray("\0\2\2\0\0\0", 6) + eob);
    dib.SetPixelFormat(tzPf8Bit);
    EXPECT_EQ(dib.Pixels(1, 0), 0);
    // Absolute runs are padded to 16 bits; RLE4 nibbles continue at an odd column.
    dib = LoadRle(4, 6, 1, QByteArray("\1\x10\0\3\x01\x10\2\x01", 8) + eob);
    dib.SetPixelFormat(tzPf4Bit);
    EXPECT_EQ(Colours(dib), (std::vector<TColor>{0xFFFFFF, 0, 0xFFFFFF, 0xFFFFFF, 0, 0xFFFFFF}));
}

TEST(PixelFormatConversion, EveryRoutineChecksItsSource)
{
    const TTzDIB one = Picture(tzPf1Bit, 1), rle8 = Picture(tzPf8BitRLE, 1);
    const TTzDIBBlock &mono = one.InternalDIB()->DIB;
    const TTzDIBBlock &packed = rle8.InternalDIB()->DIB;
    const TProgressStepFn step;
    struct TCase
    {
        std::function<void()> Call;
        const char *Message;
    };
    const TCase cases[] = {
        {[&] { Convert8BitRLETo8BitRGB(mono); }, "Convert8BitRLETo8BitRGB: Invalid Bitcount & Compression Combination"},
        {[&] { Convert8BitRGBTo8BitRLE(packed); }, "Convert8BitRGBTo8BitRLE: Invalid Bitcount & Compression Combination"},
        {[&] { Convert4BitRGBTo4BitRLE(mono); }, "Convert4BitRGBTo4BitRLE: Invalid Bitcount & Compression Combination"},
        {[&] { Convert4BitRGBTo8BitRGB(mono); }, "Convert4BitRGBTo8BitRGB: Invalid Bitcount & Compression Combination"},
        {[&] { Convert1BitRGBTo8BitRGB(packed); }, "Convert1BitRGBTo8BitRGB: Invalid Bitcount & Compression Combination"},
        {[&] { Convert1BitRGBTo4BitRGB(packed); }, "Convert1BitRGBTo4BitRGB: Invalid Bitcount & Compression Combination"},
        {[&] { Convert4BitRLETo4BitRGB(packed); }, "Convert4BitRLETo4BitRGB: Invalid Bitcount & Compression Combination"},
        {[&] { Convert1BitRGBToTrueColor(packed); }, "Convert1BitRGBToTrueColor: Invalid Bitcount & Compression Combination"},
        {[&] { Convert4BitRGBToTrueColor(mono); }, "Convert4BitRGBToTrueColor: Invalid Bitcount & Compression Combination"},
        {[&] { Convert8BitRGBToTrueColor(packed); }, "Convert8BitRGBToTrueColor: Invalid Bitcount & Compression Combination"},
        {[&] { ConvertTrueColorTo8BitRGBLow(mono, step); }, "ConvertTrueColorTo8BitRGBLow: Invalid Bitcount"},
        {[&] { ConvertTrueColorTo4BitRGBLow(mono, step); }, "ConvertTrueColorTo4BitRGBLow: Invalid Bitcount"},
        {[&] { ConvertTrueColorTo8BitRGBHigh(mono, step); }, "ConvertTrueColorTo8BitRGBHigh: Invalid Bitcount"},
        {[&] { ConvertTrueColorTo4BitRGBHigh(mono, step); }, "ConvertTrueColorTo4BitRGBHigh: Invalid Bitcount"},
        {[&] { Convert8BitRGBTo4BitRGB(packed, step); }, "Convert8BitRGBTo4BitRGB: Invalid Bitcount or Compression"},
        {[&] { ConvertTrueColorTo1BitRGB(mono, 0); }, "ConvertTrueColorTo1BitRGB: Invalid Bitcount"},
        {[&] { Convert8BitTo1BitRGB(packed, 0); }, "Convert8BitTo1BitRGB: Invalid Bitcount or Compression"},
        {[&] { Convert4BitRGBTo1BitRGB(mono, 0); }, "Convert4BitRGBTo1BitRGB: Invalid Bitcount"},
        {[&] { ConvertToHalfTone(packed); }, "ConvertToHalfTone: Invalid DIB Format"},
        {[&] { ConvertToHalfToneBW(packed); }, "ConvertToHalfToneBW: Invalid DIB Format"},
    };
    for (const TCase &c : cases)
        EXPECT_DIB_ERROR(c.Call(), ETzDIBBadDIBType, c.Message);

    TTzDIBBlock odd = TTzInternalDIB::CreateDIBBlock(1, 1, 0, 24);
    odd.Header().biBitCount = 16;
    EXPECT_DIB_ERROR(ConvertToHalfTone(odd), ETzDIBBadDIBType, "ConvertToHalfTone: Invalid Bit Count");
    EXPECT_DIB_ERROR(ConvertToHalfToneBW(odd), ETzDIBBadDIBType, "ConvertToHalfToneBW: Invalid Bit Count");

    // Route errors leave the picture as it was.
    TTzDIB dib = Picture(tzPf24Bit, 2);
    const std::vector<TColor> before = Colours(dib);
    dib.SetConvertQuality(2);
    EXPECT_DIB_ERROR(dib.SetPixelFormat(tzPf8Bit), ETzDIBAssert, "TTzIntenalDIB.SetPixelsFormat: PixelFormat Error");
    dib.SetConvertQuality(0);
    EXPECT_DIB_ERROR(dib.SetPixelFormat(TTzPixelFormat(8)), ETzDIBAssert, "TTzIntenalDIB.SetPixelsFormat: PixelFormat Error");
    EXPECT_EQ(Colours(dib), before);
    EXPECT_EQ(dib.PixelFormat(), tzPf24Bit);
}

TEST(PixelFormatConversion, ReductionsChooseByTheirMethod)
{
    // 24 -> 8 Low: every pixel takes the entry of its 5-6-5 cell, so close
    // colours merge; High keeps them apart.
    TTzDIB dib;
    dib.SetBitCount(24);
    dib.SetWidth(3);
    dib.SetPixels(0, 0, 0x101010);
    dib.SetPixels(1, 0, 0x111111);
    dib.SetPixels(2, 0, 0xF0F0F0);
    TTzDIB low(dib), high(dib);
    low.SetPixelFormat(tzPf8Bit);
    EXPECT_EQ(low.PaletteSize(), 2);
    EXPECT_EQ(low.Pixels(0, 0), low.Pixels(1, 0));
    EXPECT_EQ(ColourAt(low, 0, 0), 0x101010); // 16 + (0 + 1) div 2 = 16
    high.SetConvertQuality(1);
    high.SetPixelFormat(tzPf8Bit);
    EXPECT_EQ(high.PaletteSize(), 3);
    EXPECT_EQ(ColourAt(high, 1, 0), 0x111111);

    // More colours than entries: at most 16, and each pixel near its own.
    TTzDIB many;
    many.SetBitCount(24);
    many.SetWidth(64);
    for (int x = 0; x < 64; ++x)
        many.SetPixels(x, 0, TColor(x * 4) * 0x010101);
    for (std::uint8_t quality : {0, 1}) {
        TTzDIB four(many);
        four.SetConvertQuality(quality);
        four.SetPixelFormat(tzPf4Bit);
        EXPECT_LE(four.PaletteSize(), 16);
        EXPECT_GE(four.PaletteSize(), 12);
        for (int x = 0; x < 64; ++x)
            EXPECT_LE(std::abs((ColourAt(four, x, 0) & 0xFF) - x * 4), 12) << int(quality) << " " << x;
    }
    TTzDIB eight(many);
    eight.SetPixelFormat(tzPf8Bit);
    TTzDIB reduced(eight);
    reduced.SetPixelFormat(tzPf4Bit);
    EXPECT_LE(reduced.PaletteSize(), 16);
    for (int x = 0; x < 64; ++x)
        EXPECT_LE(std::abs((ColourAt(reduced, x, 0) & 0xFF) - x * 4), 12) << x;
}

TEST(TzDIBDraw, HalftoneModesAndNothing)
{
    // Pictures of colours that both halftones hold exactly.
    for (std::uint8_t mode : {1, 2, 3}) {
        TTzDIB dib = Picture(mode == 2 ? tzPf1Bit : tzPf8Bit, 3);
        dib.SetDrawMode(mode);
        QImage target(14, 6, QImage::Format_RGB32);
        target.fill(qRgb(1, 2, 3));
        {
            QPainter painter(&target);
            dib.Draw(painter, QRect(0, 0, 14, 6));
        }
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 14; ++x) {
                const TColor c = ColourAt(dib, x / 2, y / 2);
                const QRgb expected = mode == 3 ? qRgb(1, 2, 3) : qRgb(c & 0xFF, (c >> 8) & 0xFF, c >> 16);
                ASSERT_EQ(target.pixel(x, y), expected) << int(mode) << " at " << x << "," << y;
            }
        EXPECT_EQ(dib.PixelFormat(), mode == 2 ? tzPf1Bit : tzPf8Bit);
    }
}

} // namespace
