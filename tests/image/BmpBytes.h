#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstdint>

// Builds BMP files and packed DIBs byte by byte for the reader tests.
struct TBmpLayout
{
    QByteArray Type = "BM";
    std::int64_t FileSize = -1;   // -1: the true size
    std::uint32_t HeaderSize = 40; // 40 or 12 write the matching header; else 40 fields padded
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::uint16_t Planes = 1;
    std::uint16_t BitCount = 8;
    std::uint32_t Compression = 0;
    std::uint32_t SizeImage = 0;
    std::int32_t XPelsPerMeter = 0;
    std::int32_t YPelsPerMeter = 0;
    std::uint32_t ClrUsed = 0;
    std::uint32_t ClrImportant = 0;
    QByteArray Masks;  // written after the header (bit fields)
    QByteArray Table;  // colour table bytes as they stand in the file
    QByteArray Pixels;
};

inline void PutLe16(QByteArray &out, std::uint16_t v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

inline void PutLe32(QByteArray &out, std::uint32_t v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

// Header, masks, table and pixels without the file header.
inline QByteArray MakePackedDIB(const TBmpLayout &s)
{
    QByteArray out;
    PutLe32(out, s.HeaderSize);
    if (s.HeaderSize == 12) {
        PutLe16(out, std::uint16_t(s.Width));
        PutLe16(out, std::uint16_t(s.Height));
        PutLe16(out, s.Planes);
        PutLe16(out, s.BitCount);
    } else {
        PutLe32(out, std::uint32_t(s.Width));
        PutLe32(out, std::uint32_t(s.Height));
        PutLe16(out, s.Planes);
        PutLe16(out, s.BitCount);
        PutLe32(out, s.Compression);
        PutLe32(out, s.SizeImage);
        PutLe32(out, std::uint32_t(s.XPelsPerMeter));
        PutLe32(out, std::uint32_t(s.YPelsPerMeter));
        PutLe32(out, s.ClrUsed);
        PutLe32(out, s.ClrImportant);
        if (s.HeaderSize > 40)
            out.append(QByteArray(qsizetype(s.HeaderSize - 40), '\0'));
    }
    return out + s.Masks + s.Table + s.Pixels;
}

// A whole BMP file: the 14-byte file header and the packed DIB.
inline QByteArray MakeBmp(const TBmpLayout &s)
{
    const QByteArray dib = MakePackedDIB(s);
    QByteArray out = s.Type.left(2);
    PutLe32(out, std::uint32_t(s.FileSize >= 0 ? s.FileSize : 14 + dib.size()));
    PutLe32(out, 0);
    PutLe32(out, std::uint32_t(14 + dib.size() - s.Pixels.size()));
    return out + dib;
}

// Colour-table bytes (blue, green, red, 0) of $00BBGGRR colours.
inline QByteArray Quads(std::initializer_list<std::uint32_t> colours)
{
    QByteArray out;
    for (std::uint32_t c : colours) {
        out.append(char(c >> 16));
        out.append(char(c >> 8));
        out.append(char(c));
        out.append('\0');
    }
    return out;
}
