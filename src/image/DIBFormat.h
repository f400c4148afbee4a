#pragma once

// The device-independent bitmap as stored in a BMP file and on the clipboard.
//   TBitmapInfoHeader, TRGBQuad, TTzPixelFormat - its header, colours and the
//              pixel formats of the program; DIBRowSize and the colour helpers
//              compute, never fail.

#include <QRgb>

#include <cstddef>
#include <cstdint>

// A colour as the program stores it: $00BBGGRR. Negative values are system-colour
// codes ($80000000 or the system colour index).
using TColor = std::int32_t;

// The storage format of a device-independent bitmap.
enum TTzPixelFormat {
    tzPf1Bit,        // 1 bit, uncompressed
    tzPf4Bit,        // 4 bits, uncompressed
    tzPf4BitRLE,     // 4 bits, RLE4
    tzPf8Bit,        // 8 bits, uncompressed
    tzPf8BitRLE,     // 8 bits, RLE8
    tzPf24Bit,       // 24 bits, uncompressed
    tzPfHalfTone,    // conversion target only: 8-bit halftone
    tzPfHalfToneBW   // conversion target only: 1-bit black-and-white halftone
};

// Compression codes of the info header.
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;

// The clipboard format of a packed DIB.
constexpr int CF_DIB = 8;

#pragma pack(push, 1)
// The 40-byte info header of a DIB, field for field.
struct TBitmapInfoHeader
{
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;        // > 0: bottom-up rows; < 0: top-down rows
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;      // the palette size, 0..256
    std::uint32_t biClrImportant;
};

// One colour-table entry: blue, green, red, 0.
struct TRGBQuad
{
    std::uint8_t rgbBlue;
    std::uint8_t rgbGreen;
    std::uint8_t rgbRed;
    std::uint8_t rgbReserved;
};

// Header and colour table back to back, as a BITMAPINFO with room for 256 entries,
// followed by 16 spare bytes (the bit-field masks of a file spill into them while
// it is read).
struct TTzDIBInfo
{
    TBitmapInfoHeader Header;
    TRGBQuad Colors[256];
    std::uint8_t Spare[16];
};
#pragma pack(pop)

static_assert(sizeof(TBitmapInfoHeader) == 40);
static_assert(sizeof(TRGBQuad) == 4);
static_assert(offsetof(TTzDIBInfo, Colors) == 40);
static_assert(sizeof(TTzDIBInfo) == 40 + 1024 + 16);

// The largest pixel array the program holds: the byte counts of a picture stay
// within a signed 32-bit number.
constexpr std::int64_t MaxDIBBitsSize = 0x7FFFFFFF;

// Bytes of one stored row: every row is padded to a multiple of 4 bytes.
constexpr std::int64_t DIBRowSize(std::int64_t width, int bitCount)
{
    return (width * bitCount + 31) / 32 * 4;
}

// The default palette size for a bit count: 2, 16, 256, or 0 above 8 bits.
constexpr std::uint32_t DefaultPaletteSize(int bitCount)
{
    return bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
}

// Conversions between the colour forms.
constexpr TColor RGBQuadToColor(TRGBQuad q)
{
    return TColor(q.rgbRed) | TColor(q.rgbGreen) << 8 | TColor(q.rgbBlue) << 16;
}
constexpr TRGBQuad ColorToRGBQuad(TColor c)
{
    return TRGBQuad{std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), 0};
}
constexpr QRgb RGBQuadToQRgb(TRGBQuad q)
{
    return qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
}
constexpr TRGBQuad QRgbToRGBQuad(QRgb c)
{
    return TRGBQuad{std::uint8_t(qBlue(c)), std::uint8_t(qGreen(c)), std::uint8_t(qRed(c)), 0};
}
