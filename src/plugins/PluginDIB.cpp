#include "plugins/PluginDIB.h"

#include <QtEndian>

#include <cstring>
#include <limits>

namespace {

constexpr std::uint64_t kHeaderSize = sizeof(TBitmapInfoHeader);
constexpr std::uint64_t kMaskSize = 12;
constexpr std::int64_t kFileHeaderSize = 14;

bool ValidCompression(const TBitmapInfoHeader &h)
{
    switch (h.biCompression) {
    case BI_RGB:
        return true;
    case BI_RLE8:
        return h.biBitCount == 8;
    case BI_RLE4:
        return h.biBitCount == 4;
    case BI_BITFIELDS:
        return h.biBitCount == 16 || h.biBitCount == 32;
    default:
        return false;
    }
}

} // namespace

std::optional<TPluginDIB> TPluginDIB::Check(const void *info, std::uint64_t infoSize, const void *bits,
                                            std::uint64_t bitsSize)
{
    if (!info || !bits || infoSize < kHeaderSize)
        return std::nullopt;
    const auto *infoBytes = static_cast<const std::uint8_t *>(info);
    TPluginDIB dib;
    TBitmapInfoHeader &h = dib.Header;
    std::memcpy(&h, infoBytes, kHeaderSize);
    const int bitCount = h.biBitCount;
    if (h.biSize < kHeaderSize || h.biWidth <= 0 || h.biHeight == 0
        || h.biHeight == std::numeric_limits<std::int32_t>::min())
        return std::nullopt;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24
        && bitCount != 32)
        return std::nullopt;
    if (!ValidCompression(h))
        return std::nullopt;

    // The masks follow a 40-byte header and lie inside a longer one, at the same place.
    std::uint64_t tableOffset = h.biSize;
    if (h.biCompression == BI_BITFIELDS) {
        if (infoSize < kHeaderSize + kMaskSize)
            return std::nullopt;
        dib.Masks = infoBytes + kHeaderSize;
        if (tableOffset < kHeaderSize + kMaskSize)
            tableOffset = kHeaderSize + kMaskSize;
    }
    dib.ColorCount = h.biClrUsed != 0 ? h.biClrUsed : DefaultPaletteSize(bitCount);
    const std::uint64_t tableSize = std::uint64_t(dib.ColorCount) * 4;
    if (tableOffset > infoSize || tableSize > infoSize - tableOffset)
        return std::nullopt;
    dib.Colors = infoBytes + tableOffset;

    const std::int64_t rows = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    if (h.biCompression == BI_RLE4 || h.biCompression == BI_RLE8) {
        if (h.biSizeImage == 0)
            return std::nullopt;
        dib.ImageSize = h.biSizeImage;
    } else {
        const std::int64_t rowSize = DIBRowSize(h.biWidth, bitCount);
        if (rowSize > MaxDIBBitsSize / rows)
            return std::nullopt;
        dib.ImageSize = rowSize * rows;
    }
    if (std::uint64_t(dib.ImageSize) > bitsSize)
        return std::nullopt;
    // The whole BMP file stays within a 32-bit size.
    if (kFileHeaderSize + dib.InfoSize() + dib.ImageSize > MaxDIBBitsSize)
        return std::nullopt;
    dib.Bits = static_cast<const std::uint8_t *>(bits);
    h.biSize = kHeaderSize;
    return dib;
}

std::int64_t TPluginDIB::InfoSize() const
{
    return std::int64_t(kHeaderSize) + (Masks ? std::int64_t(kMaskSize) : 0)
           + std::int64_t(ColorCount) * 4;
}

QByteArray TPluginDIB::PackedDIB() const
{
    QByteArray out;
    out.reserve(qsizetype(InfoSize() + ImageSize));
    out.append(reinterpret_cast<const char *>(&Header), qsizetype(kHeaderSize));
    if (Masks)
        out.append(reinterpret_cast<const char *>(Masks), qsizetype(kMaskSize));
    out.append(reinterpret_cast<const char *>(Colors), qsizetype(ColorCount) * 4);
    out.append(reinterpret_cast<const char *>(Bits), qsizetype(ImageSize));
    return out;
}

QByteArray TPluginDIB::BmpFile() const
{
    const std::int64_t offset = kFileHeaderSize + InfoSize();
    std::uint8_t fileHeader[kFileHeaderSize] = {'B', 'M'};
    qToLittleEndian<std::uint32_t>(std::uint32_t(offset + ImageSize), fileHeader + 2);
    qToLittleEndian<std::uint32_t>(std::uint32_t(offset), fileHeader + 10);
    return QByteArray(reinterpret_cast<const char *>(fileHeader), kFileHeaderSize) + PackedDIB();
}
