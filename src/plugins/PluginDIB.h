#pragma once

#include "image/DIBFormat.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

// The picture a plug-in's GetPicture returned, checked against the sizes of the
// two memory blocks it came in: the info header, the bit-field masks, the colour
// table and the pixel rows all lie within them, so nothing is ever read past
// their ends.
//
// Row size = ((bits per pixel x width + 31) / 32) x 4 bytes; image size = row
// size x |height| (the compressed size biSizeImage for RLE4 and RLE8). Colour
// count n = biClrUsed, or 2, 16 or 256 for 1, 4 or 8 bits when it is 0. An
// info header longer than 40 bytes is taken as its first 40 bytes (with
// biSize 40), the colour table from where the plug-in put it.
struct TPluginDIB
{
    TBitmapInfoHeader Header{};
    const std::uint8_t *Masks = nullptr;   // the three bit-field masks, or null
    const std::uint8_t *Colors = nullptr;  // n entries of blue, green, red, 0
    std::uint32_t ColorCount = 0;          // n
    const std::uint8_t *Bits = nullptr;
    std::int64_t ImageSize = 0;

    // The picture, or nothing when the blocks are too short for what the
    // header declares or the header describes no picture this program reads
    // (width <= 0, height 0, bit count other than 1, 4, 8, 16, 24 or 32, a
    // compression other than none, RLE or bit fields).
    static std::optional<TPluginDIB> Check(const void *info, std::uint64_t infoSize, const void *bits,
                                           std::uint64_t bitsSize);

    // Bytes of header, masks and colour table.
    std::int64_t InfoSize() const;
    // The packed DIB: header, masks, colour table, pixels.
    QByteArray PackedDIB() const;
    // The BMP file: the 14-byte file header ("BM", file size, two reserved
    // words 0, pixel offset), then the packed DIB.
    QByteArray BmpFile() const;
};
