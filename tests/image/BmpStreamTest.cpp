#include "image/PictureLimits.h"
#include "image/TzDIB.h"

#include "BmpBytes.h"
#include "DIBErrorCheck.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

QByteArray Repeat(const QByteArray &part, int times)
{
    QByteArray out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

void Load(TTzDIB &dib, const QByteArray &bytes)
{
    QBuffer stream;
    stream.setData(bytes);
    stream.open(QIODevice::ReadOnly);
    dib.LoadFromStream(stream);
}

QByteArray Save(const TTzDIB &dib)
{
    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    dib.SaveToStream(stream);
    return stream.data();
}

// The blank 1 x 1 default that a failed load leaves.
void ExpectBlankDefault(const TTzDIB &dib)
{
    EXPECT_EQ(dib.Width(), 1);
    EXPECT_EQ(dib.Height(), 1);
    EXPECT_EQ(dib.BitCount(), 8);
    EXPECT_EQ(dib.PaletteSize(), 2);
    EXPECT_EQ(dib.Pixels(0, 0), 0);
    EXPECT_EQ(dib.Colors(0), 0);
}

// A picture loaded before each failing load, so that the reset shows.
TTzDIB LoadedPicture()
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 2;
    s.Height = 2;
    s.BitCount = 24;
    s.Pixels = QByteArray("\x01\x02\x03\x04\x05\x06\0\0\x07\x08\x09\x0A\x0B\x0C\0\0", 16);
    Load(dib, MakeBmp(s));
    return dib;
}

TEST(BmpStream, NotABmpFile)
{
    TTzDIB dib = LoadedPicture();
    TBmpLayout s;
    s.Type = "BA";
    s.Table = Quads({0, 0xFFFFFF});
    s.Pixels = QByteArray(4, '\0');
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIBFile, "TTzInternalDIB.LoadFromFile: File type is invalid");
    ExpectBlankDefault(dib);

    dib = LoadedPicture();
    EXPECT_DIB_ERROR(Load(dib, QByteArray()), EReadError, "Stream read error");
    ExpectBlankDefault(dib);
    EXPECT_DIB_ERROR(Load(dib, QByteArray("BM\x10\0\0\0\0\0\0\0\0\0\0", 13)), EReadError, "Stream read error");
}

TEST(BmpStream, HeaderAndBitCountErrors)
{
    TTzDIB dib;
    TBmpLayout s;
    s.HeaderSize = 124;
    s.Pixels = QByteArray(4, '\0');
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Invalid Bitmap Header Size");
    s.HeaderSize = 108;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Invalid Bitmap Header Size");

    s.HeaderSize = 40;
    for (int bits : {0, 2, 15, 48}) {
        s.BitCount = std::uint16_t(bits);
        EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Invalid BitCout");
    }
    s.HeaderSize = 12;
    for (int bits : {16, 32, 2}) {
        s.BitCount = std::uint16_t(bits);
        EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Invalid BitCount");
    }
}

TEST(BmpStream, WidthAndHeightErrors)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Table = Quads({0, 0});
    s.ClrUsed = 2;
    s.Pixels = QByteArray(4, '\0');
    for (auto [w, h] : {std::pair{0, 1}, {-1, 1}, {1, 0}, {1, INT_MIN}, {INT_MIN, 1}}) {
        s.Width = w;
        s.Height = h;
        EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Invalid Width or Height");
        ExpectBlankDefault(dib);
    }
    s.HeaderSize = 12;
    s.Width = 0;
    s.Height = 1;
    s.BitCount = 1;
    s.Table = QByteArray(6, '\0');
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Invalid Width or Height");
}

TEST(BmpStream, EightBitColourTableSizes)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 3;
    s.Height = 1;
    QByteArray table;
    for (int i = 0; i < 300; ++i)
        table += Quads({std::uint32_t(i * 0x010101 & 0xFFFFFF)});
    s.Pixels = QByteArray("\x05\xFF\x00\x00", 4);

    // biClrUsed 0: 256 entries follow the header.
    s.Table = table.left(1024);
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.PaletteSize(), 256);
    EXPECT_EQ(dib.Colors(255), 0xFFFFFF);
    EXPECT_EQ(dib.Pixels(0, 0), 5);
    EXPECT_EQ(dib.Pixels(1, 0), 255);

    // biClrUsed 300: 256 are read, 44 skipped, the pixels follow.
    s.ClrUsed = 300;
    s.Table = table;
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.PaletteSize(), 256);
    EXPECT_EQ(dib.Colors(255), 0xFFFFFF);
    EXPECT_EQ(dib.Pixels(0, 0), 5);
    EXPECT_EQ(dib.Pixels(1, 0), 255);
    EXPECT_EQ(dib.InternalDIB()->DIB.BitsSize, 4u);

    // biClrUsed 2: a short table; the rest of the 256 entries stay black.
    s.ClrUsed = 2;
    s.Table = Quads({0x0000FF, 0x00FF00});
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.PaletteSize(), 2);
    EXPECT_EQ(dib.Colors(1), 0x00FF00);
    EXPECT_EQ(dib.Colors(2), 0);
    EXPECT_EQ(dib.Pixels(0, 0), 5); // indices beyond the table are kept as they are
}

TEST(BmpStream, HighColourBecomesTrueColour)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 2;
    s.Height = 1;
    s.BitCount = 16;
    s.Pixels = QByteArray("\xFF\x7F\x1F\x00", 4); // $7FFF, $001F
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(dib.PixelFormat(), tzPf24Bit);
    EXPECT_EQ(dib.PaletteSize(), 0);
    EXPECT_EQ(dib.Pixels(0, 0), 0xF8F8F8);
    EXPECT_EQ(dib.Pixels(1, 0), 0xF80000); // pure blue, five bits: 248
    EXPECT_EQ(dib.InternalDIB()->DIB.BitsSize, 8u);
    EXPECT_EQ(dib.InternalDIB()->Header().biSizeImage, 0u);
    EXPECT_EQ(dib.InternalDIB()->Header().biCompression, BI_RGB);

    s.BitCount = 32;
    s.Width = 1;
    s.Pixels = QByteArray("\x33\x22\x11\x00", 4);
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.Pixels(0, 0), 0x332211); // red $11, green $22, blue $33
    const std::uint8_t *row = dib.ScanLine(0);
    EXPECT_EQ(row[0], 0x33);
    EXPECT_EQ(row[2], 0x11);
}

TEST(BmpStream, BitFieldMasksAndTheirShifts)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 3;
    s.Height = 1;
    s.BitCount = 16;
    s.Compression = BI_BITFIELDS;
    s.Masks = QByteArray("\x00\xF8\x00\x00\xE0\x07\x00\x00\x1F\x00\x00\x00", 12); // 5-6-5
    s.ClrUsed = 2;
    s.Table = Quads({0x010203, 0x040506});
    s.Pixels = QByteArray("\xFF\xFF\x20\x00\x00\xF8\x00\x00", 8);
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.Pixels(0, 0), 0xF8FCF8);
    EXPECT_EQ(dib.Pixels(1, 0), 0x000400); // lowest green bit: 4
    EXPECT_EQ(dib.Pixels(2, 0), 0x0000F8);
    // The table that followed the masks is the palette of the 24-bit picture.
    EXPECT_EQ(dib.PaletteSize(), 2);
    EXPECT_EQ(dib.Colors(0), 0x010203);
    EXPECT_EQ(dib.Colors(1), 0x040506);

    // Masks narrower than a byte are moved up so that their top bit is bit 7.
    s.BitCount = 32;
    s.Width = 1;
    s.ClrUsed = 0;
    s.Table.clear();
    s.Masks = QByteArray("\x01\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00\xFF", 12);
    s.Pixels = QByteArray("\x03\x00\x00\x80", 4); // red bit 1, green %01, blue $80
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.Pixels(0, 0), 0x804080);

    s.BitCount = 16;
    s.Width = 2;
    s.Masks = QByteArray("\x00\x7C\x00\x00\x00\x00\x00\x00\x1F\x00\x00\x00", 12);
    s.Pixels = QByteArray(4, '\0');
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Invalid Masks");
    ExpectBlankDefault(dib);

    // High-colour data compressed otherwise brings no masks at all.
    s.Compression = BI_RLE8;
    s.Masks.clear();
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Invalid Compression");
}

TEST(BmpStream, TopDownTrueColourKeepsItsRowOrder)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 1;
    s.Height = -2;
    s.BitCount = 24;
    s.Pixels = QByteArray("\x01\x02\x03\x00\x04\x05\x06\x00", 8);
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.InternalDIB()->Header().biHeight, -2);
    EXPECT_EQ(dib.Height(), 2);
    EXPECT_EQ(dib.Pixels(0, 0), 0x010203); // the first stored row is the top row
    EXPECT_EQ(dib.Pixels(0, 1), 0x040506);

    s.Height = 2;
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.Pixels(0, 0), 0x040506); // the last stored row is the top row
    EXPECT_EQ(dib.Pixels(0, 1), 0x010203);
}

TEST(BmpStream, CoreHeaderBecomesInfoHeader)
{
    TTzDIB dib;
    TBmpLayout s;
    s.HeaderSize = 12;
    s.Width = 33000; // 16-bit sizes are unsigned
    s.Height = 1;
    s.BitCount = 1;
    s.Table = QByteArray("\x10\x20\x30\xA0\xB0\xC0", 6); // blue, green, red triples
    s.Pixels = QByteArray(4128, '\0');
    s.Pixels[4124] = char(0x80);
    Load(dib, MakeBmp(s));
    const TBitmapInfoHeader &h = dib.InternalDIB()->Header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 33000);
    EXPECT_EQ(h.biHeight, 1);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biClrUsed, 2u);
    EXPECT_EQ(dib.Colors(0), 0x102030);
    EXPECT_EQ(dib.Colors(1), 0xA0B0C0);
    EXPECT_EQ(dib.InternalDIB()->DIB.Info.Colors[1].rgbReserved, 0);
    EXPECT_EQ(dib.Pixels(32992, 0), 1);
    EXPECT_EQ(dib.Pixels(32991, 0), 0);
}

TEST(BmpStream, RunLengthDataStaysCompressed)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 4;
    s.Height = 2;
    s.BitCount = 4;
    s.Compression = BI_RLE4;
    s.ClrUsed = 2;
    s.Table = Quads({0, 0xFFFFFF});
    s.Pixels = QByteArray("\x04\x10\x00\x00\x04\x01\x00\x01", 8);
    const QByteArray file = MakeBmp(s);
    Load(dib, file);
    EXPECT_EQ(dib.PixelFormat(), tzPf4BitRLE);
    EXPECT_EQ(dib.InternalDIB()->DIB.BitsSize, 8u);
    EXPECT_DIB_ERROR(dib.Pixels(0, 0), ETzDIBBadDIBType, "TTzDIB.GetPixels: Bad DIB Type");
    EXPECT_DIB_ERROR(dib.SetPixels(0, 0, 1), ETzDIBBadDIBType, "TTzDIB.SetPixels: Bad DIB Type");
    EXPECT_DIB_ERROR(dib.ScanLine(0), ETzDIBBadDIBType, "TTzDIB.ScanLine: Bad DIB Type");
    EXPECT_EQ(Save(dib), file);

    s.BitCount = 8;
    s.Compression = BI_RLE8;
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.PixelFormat(), tzPf8BitRLE);
    EXPECT_DIB_ERROR(dib.Pixels(3, 1), ETzDIBBadDIBType, "TTzDIB.GetPixels: Bad DIB Type");

    // A compression that does not fit the bit count loads, and is refused on use.
    s.Compression = BI_RLE4;
    Load(dib, MakeBmp(s));
    EXPECT_DIB_ERROR(dib.PixelFormat(), ETzDIBInvalidDIB, "TTzInternalDIB.GetPixelFormat: Invalid DIB(8Bit)");
    s.BitCount = 1;
    Load(dib, MakeBmp(s));
    EXPECT_DIB_ERROR(dib.PixelFormat(), ETzDIBInvalidDIB, "TTzInternalDIB.GetPixelFormat: Invalid DIB(1Bit)");
    s.BitCount = 24;
    Load(dib, MakeBmp(s));
    EXPECT_DIB_ERROR(dib.PixelFormat(), ETzDIBInvalidDIB, "TTzInternalDIB.GetPixelFormat: Invalid DIB(24Bit)");
    s.BitCount = 4;
    s.Compression = BI_RLE8;
    Load(dib, MakeBmp(s));
    EXPECT_DIB_ERROR(dib.PixelFormat(), ETzDIBInvalidDIB, "TTzInternalDIB.GetPixelFormat: Invalid DIB(4Bit)");
}

TEST(BmpStream, FileSizeFieldErrors)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 5;
    s.Height = 3;
    s.BitCount = 24;
    s.Pixels = QByteArray(48, '\x11');

    // Larger than the data: the stream ends before the pixel count.
    s.FileSize = 14 + 40 + 48 + 1;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EReadError, "Stream read error");
    ExpectBlankDefault(dib);
    s.FileSize = 0x7FFFFFFF;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EReadError, "Stream read error");
    // Beyond the largest pixel array: refused before any allocation.
    s.FileSize = 0xFFFFFFFF;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EOutOfResources, "GetFileMap: Cannot Make File Mapping Object");

    // A pixel count of zero or less cannot be allocated.
    s.FileSize = 54;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EOutOfResources, "GetFileMap: Cannot Make File Mapping Object");
    s.FileSize = 0;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EOutOfResources, "GetFileMap: Cannot Make File Mapping Object");
    ExpectBlankDefault(dib);

    // Fewer bytes than the rows need would leave pixels outside the block.
    s.FileSize = 14 + 40 + 47;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), ETzDIBInvalidDIB, "TTzInternalDIB.LoadFromStream: Pixel Data is Too Short");
    ExpectBlankDefault(dib);

    // More bytes than the rows need are kept and written back.
    s.Pixels += QByteArray(2, '\x22');
    s.FileSize = -1;
    Load(dib, MakeBmp(s));
    EXPECT_EQ(dib.InternalDIB()->DIB.BitsSize, 50u);
    EXPECT_EQ(Save(dib), MakeBmp(s));
}

TEST(BmpStream, SizesBeyondTheLargestPictureAreRefused)
{
    TTzDIB dib;
    TBmpLayout s;
    s.BitCount = 24;
    s.Width = INT_MAX;
    s.Height = INT_MAX;
    s.Pixels = QByteArray(16, '\0');
    // Sides beyond the bound are refused as soon as the header is read, naming the size.
    const char *tooLarge = "The picture of 2147483647 x 2147483647 pixels is too large: each side may have "
                           "268435456 pixels at most";
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EPictureTooLarge, tooLarge);
    s.Height = -INT_MAX;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EPictureTooLarge, tooLarge);
    s.BitCount = 32;
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EPictureTooLarge, tooLarge);
    s.BitCount = 16;
    s.Width = 1 << 16;
    s.Height = 1 << 16; // 12 GB as 24-bit rows: refused before anything is allocated
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EOutOfResources, "GetFileMap: Cannot Make File Mapping Object");
    s.Width = 1;
    s.Height = 1 << 20; // 4 MB of rows of which the file holds 16 bytes
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EReadError, "Stream read error");
    ExpectBlankDefault(dib);

    // A colour-table count that overflows 32 bits when multiplied out.
    s.BitCount = 8;
    s.Height = 1;
    s.ClrUsed = 0xFFFFFFFF;
    s.Table = QByteArray(1024, '\0');
    EXPECT_DIB_ERROR(Load(dib, MakeBmp(s)), EReadError, "Stream read error");
}

TEST(BmpStream, SaveWritesHeaderTableAndPixels)
{
    TTzDIB dib;
    dib.SetBitCount(1);
    dib.SetWidth(9);
    dib.SetHeight(2);
    dib.SetColors(0, 0xFFFFFF);
    dib.SetPixels(8, 0, 1);
    dib.SetPixels(0, 1, 1);
    const QByteArray expected = QByteArray("BM", 2)
        + QByteArray("\x46\x00\x00\x00" "\x00\x00\x00\x00" "\x3E\x00\x00\x00", 12)
        + QByteArray("\x28\0\0\0" "\x09\0\0\0" "\x02\0\0\0" "\x01\0" "\x01\0" "\0\0\0\0" "\0\0\0\0"
                     "\0\0\0\0" "\0\0\0\0" "\x02\0\0\0" "\0\0\0\0", 40)
        + QByteArray("\xFF\xFF\xFF\x00" "\x00\x00\x00\x00", 8)
        + QByteArray("\x80\x00\x00\x00" "\x00\x80\x00\x00", 8); // bottom row first
    EXPECT_EQ(Save(dib), expected);

    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    EXPECT_DIB_ERROR(dib.SaveToStream(readOnly), EFileError, "Stream write error");
}

TEST(BmpStream, SaveAndReloadGiveTheSameImage)
{
    TBmpLayout s;
    s.Width = 3;
    s.Height = -2;
    s.BitCount = 8;
    s.ClrUsed = 3;
    s.XPelsPerMeter = 3937;
    s.YPelsPerMeter = 3938;
    s.ClrImportant = 2;
    s.SizeImage = 8;
    s.Table = Quads({0x010203, 0x040506, 0x070809});
    s.Pixels = QByteArray("\x00\x01\x02\x00\x02\x01\x00\x00", 8);
    const QByteArray file = MakeBmp(s);
    TTzDIB dib;
    Load(dib, file);
    EXPECT_EQ(Save(dib), file);

    // Every depth, bottom-up and top-down.
    for (int bits : {1, 4, 8, 24}) {
        for (int height : {7, -7}) {
            TTzDIB a;
            a.SetBitCount(bits);
            a.SetWidth(13);
            a.SetHeight(height);
            for (int i = 0; i < (bits == 24 ? 0 : a.PaletteSize()); ++i)
                a.SetColors(i, 0x10101 * i);
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 13; ++x)
                    a.SetPixels(x, y, bits == 24 ? x * 0x10000 + y : (x + y) % (1 << bits));
            TTzDIB b;
            Load(b, Save(a));
            EXPECT_EQ(std::memcmp(&a.InternalDIB()->DIB.Info, &b.InternalDIB()->DIB.Info, 40 + 1024), 0);
            ASSERT_EQ(a.InternalDIB()->DIB.BitsSize, b.InternalDIB()->DIB.BitsSize);
            EXPECT_EQ(std::memcmp(a.InternalDIB()->DIB.Bits.get(), b.InternalDIB()->DIB.Bits.get(),
                                  a.InternalDIB()->DIB.BitsSize), 0);
        }
    }

    // A 32-bit source comes back as 24 bits.
    s = TBmpLayout();
    s.BitCount = 32;
    s.Width = 2;
    s.Pixels = QByteArray("\x01\x02\x03\x00\x04\x05\x06\x00", 8);
    Load(dib, MakeBmp(s));
    TTzDIB again;
    Load(again, Save(dib));
    EXPECT_EQ(again.BitCount(), 24);
    EXPECT_EQ(again.Pixels(1, 0), 0x040506);
}

TEST(BmpStream, TheStreamIsReadFromItsCurrentPosition)
{
    TBmpLayout s;
    s.Width = 1;
    s.BitCount = 24;
    s.Pixels = QByteArray("\x0A\x0B\x0C\x00", 4);
    QBuffer stream;
    stream.setData("junk" + MakeBmp(s) + "tail");
    stream.open(QIODevice::ReadOnly);
    stream.seek(4);
    TTzDIB dib;
    dib.LoadFromStream(stream);
    EXPECT_EQ(dib.Pixels(0, 0), 0x0A0B0C);
    EXPECT_EQ(stream.pos(), 4 + 14 + 40 + 4);
}

// --- The packed DIB of the clipboard

TEST(ClipboardDIB, FormatAndDataChecks)
{
    TTzDIB dib = LoadedPicture();
    TBmpLayout s;
    s.Table = Quads({0, 0});
    s.ClrUsed = 2;
    s.Pixels = QByteArray(4, '\0');
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(2, MakePackedDIB(s)), EInvalidGraphic,
                     "TTzDIB.LoadFromClipboardFormat: Invalid Clipboard Format or No Data");
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, QByteArray()), EInvalidGraphic,
                     "TTzDIB.LoadFromClipboardFormat: Invalid Clipboard Format or No Data");
    EXPECT_EQ(dib.Width(), 2); // refused before the old picture is dropped

    s.HeaderSize = 108;
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s)), ETzDIBInvalidDIB,
                     "TTzDIB.LoadFromClipboardFormat: Invalid Clipboard Data");
    ExpectBlankDefault(dib);
    s.HeaderSize = 40;
    s.BitCount = 7;
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s)), ETzDIBInvalidDIB,
                     "TTzInternalDIB.LoadFromClipboardFormat: Invalid biBitCount");
    s.BitCount = 8;
    s.Height = 0;
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s)), ETzDIBInvalidDIB,
                     "TTzInternalDIB.LoadFromStream: Invalid Width or Height");
    s.Height = 1;
    s.Width = -4;
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s)), ETzDIBInvalidDIB,
                     "TTzInternalDIB.LoadFromStream: Invalid Width or Height");
}

TEST(ClipboardDIB, ShortBlocksAreRefused)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 5;
    s.ClrUsed = 2;
    s.Table = Quads({0, 0});
    s.Pixels = QByteArray(8, '\0');
    const QByteArray whole = MakePackedDIB(s);
    // Cut inside the header, inside the table, before and inside the pixels.
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, whole.left(3)), ETzDIBInvalidDIB,
                     "TTzDIB.LoadFromClipboardFormat: Invalid Clipboard Data");
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, whole.left(39)), ETzDIBInvalidDIB,
                     "TTzDIB.LoadFromClipboardFormat: Invalid Clipboard Data");
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, whole.left(47)), ETzDIBInvalidDIB,
                     "TTzDIB.LoadFromClipboardFormat: Invalid Clipboard Data");
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, whole.left(48)), EOutOfResources,
                     "GetFileMap: Cannot Make File Mapping Object");
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, whole.left(55)), ETzDIBInvalidDIB,
                     "TTzInternalDIB.LoadFromClipboardFormat: Pixel Data is Too Short");
    ExpectBlankDefault(dib);
    dib.LoadFromClipboardFormat(CF_DIB, whole);
    EXPECT_EQ(dib.Width(), 5);

    s.BitCount = 32;
    s.ClrUsed = 0;
    s.Table.clear();
    s.Pixels = QByteArray(19, '\0');
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s)), ETzDIBInvalidDIB,
                     "TTzInternalDIB.LoadFromClipboardFormat: Pixel Data is Too Short");
    // A table count far beyond the block.
    s.BitCount = 8;
    s.ClrUsed = 0x40000000;
    s.Table = QByteArray(1036, '\0');
    s.Pixels = QByteArray(8, '\0');
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s)), EOutOfResources,
                     "GetFileMap: Cannot Make File Mapping Object");
}

TEST(ClipboardDIB, PackedDIBsOfEveryHeader)
{
    TTzDIB dib;
    TBmpLayout s;
    s.Width = 2;
    s.Height = -1;
    s.BitCount = 8;
    s.ClrUsed = 300; // more entries than the table holds: the pixels follow all of them
    s.Table = Repeat(Quads({0x00AA00}), 300);
    s.Pixels = QByteArray("\x07\x09\0\0", 4);
    dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s));
    EXPECT_EQ(dib.PaletteSize(), 256);
    EXPECT_EQ(dib.Colors(255), 0x00AA00);
    EXPECT_EQ(dib.Pixels(1, 0), 9);
    EXPECT_EQ(dib.InternalDIB()->DIB.BitsSize, 4u);

    // Bit fields: the masks count in the header length.
    s = TBmpLayout();
    s.BitCount = 32;
    s.Compression = BI_BITFIELDS;
    s.Masks = QByteArray("\x00\x00\xFF\x00\x00\xFF\x00\x00\xFF\x00\x00\x00", 12);
    s.ClrUsed = 1;
    s.Table = Quads({0x123456});
    s.Pixels = QByteArray("\x33\x22\x11\x00", 4);
    dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s));
    EXPECT_EQ(dib.Pixels(0, 0), 0x332211);
    EXPECT_EQ(dib.Colors(0), 0x123456);

    s = TBmpLayout();
    s.HeaderSize = 12;
    s.BitCount = 4;
    s.Width = 3;
    s.Table = Repeat(QByteArray("\x01\x02\x03", 3), 16);
    s.Pixels = QByteArray("\x12\x30\0\0", 4);
    dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s));
    EXPECT_EQ(dib.PaletteSize(), 16);
    EXPECT_EQ(dib.Colors(15), 0x010203);
    EXPECT_EQ(dib.Pixels(1, 0), 2);
    EXPECT_EQ(dib.Pixels(2, 0), 3);
    s.BitCount = 32;
    EXPECT_DIB_ERROR(dib.LoadFromClipboardFormat(CF_DIB, MakePackedDIB(s)), ETzDIBInvalidDIB,
                     "TTzInternalDIB.LoadFromClipboardFormat: Invalid biBitCount");
}

TEST(ClipboardDIB, SaveGivesHeaderTableAndPixels)
{
    TTzDIB dib;
    dib.SetWidth(2);
    dib.SetColors(1, 0x0000FF);
    dib.SetPixels(1, 0, 1);
    int format = 0;
    QByteArray data;
    dib.SaveToClipboardFormat(format, data);
    EXPECT_EQ(format, CF_DIB);
    EXPECT_EQ(TTzDIB::ClipboardFormat(), CF_DIB);
    TBmpLayout s;
    s.Width = 2;
    s.ClrUsed = 2;
    s.Table = Quads({0, 0x0000FF});
    s.Pixels = QByteArray("\x00\x01\0\0", 4);
    EXPECT_EQ(data, MakePackedDIB(s));

    TTzDIB back;
    back.LoadFromClipboardFormat(format, data);
    EXPECT_EQ(back.Colors(1), 0x0000FF);
    EXPECT_EQ(back.Pixels(1, 0), 1);
}

} // namespace
