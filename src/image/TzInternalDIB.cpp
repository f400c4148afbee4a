#include "image/TzInternalDIB.h"

#include "image/PictureLimits.h"
#include "image/TzDIBErrors.h"

#include <atomic>
#include <cstring>

namespace {
std::atomic<std::int64_t> LiveBlocks{0};
}

void TPixelBlockDeleter::operator()(std::uint8_t *bits) const
{
    if (bits)
        --LiveBlocks;
    std::free(bits);
}

std::int64_t LivePixelBlocks()
{
    return LiveBlocks.load();
}

TPixelBlock GetFileMap(std::int64_t size)
{
    // calloc hands large blocks out as untouched zero pages, so a big blank
    // picture costs no time until it is written.
    void *bits = size > 0 && size <= MaxDIBBitsSize ? std::calloc(std::size_t(size), 1) : nullptr;
    if (!bits)
        throw EOutOfResources("GetFileMap: Cannot Make File Mapping Object");
    ++LiveBlocks;
    return TPixelBlock(static_cast<std::uint8_t *>(bits));
}

TTzInternalDIB::TTzInternalDIB()
{
    CreateDIB(1, 1, 2, 8);
}

std::unique_ptr<TTzInternalDIB> TTzInternalDIB::Duplicate() const
{
    // The constructor's 1 x 1 block is replaced at once.
    auto copy = std::make_unique<TTzInternalDIB>();
    TTzDIBBlock block;
    block.BitsSize = DIB.BitsSize;
    block.Bits = GetFileMap(DIB.BitsSize);
    std::memcpy(block.Bits.get(), DIB.Bits.get(), DIB.BitsSize);
    block.Info = DIB.Info;
    copy->DIB = std::move(block);
    copy->Width = Width;
    copy->Height = Height;
    return copy;
}

TTzDIBBlock TTzInternalDIB::CreateDIBBlock(int width, int height, int paletteSize, int bitCount)
{
    if (width <= 0 || height == 0 || height == INT32_MIN || paletteSize < 0 || paletteSize > 256
        || (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24))
        throw ETzDIBInvalidDIBPara("TTzInternalDIB.CreateDIB: Invalid Parameters");
    PictureLimits::Check(width, height);
    const std::int64_t rows = height < 0 ? -std::int64_t(height) : height;
    const std::int64_t rowSize = DIBRowSize(width, bitCount);
    // A size beyond the largest pixel array is refused before it is multiplied out.
    const std::int64_t size = rowSize > MaxDIBBitsSize / rows ? -1 : rowSize * rows;

    TTzDIBBlock block;
    block.Bits = GetFileMap(size);
    block.BitsSize = std::uint32_t(size);
    TBitmapInfoHeader &h = block.Header();
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = std::uint16_t(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = 0;
    h.biXPelsPerMeter = 0;
    h.biYPelsPerMeter = 0;
    h.biClrUsed = std::uint32_t(paletteSize);
    h.biClrImportant = 0;
    return block;
}

TTzDIBBlock TTzInternalDIB::CreateDIBBlockLike(const TTzDIBBlock &source, int paletteSize, int bitCount)
{
    const TBitmapInfoHeader &h = source.Header();
    TTzDIBBlock block = CreateDIBBlock(h.biWidth, h.biHeight, paletteSize, bitCount);
    std::memcpy(block.Info.Colors, source.Info.Colors, sizeof(TRGBQuad) * std::size_t(paletteSize));
    block.Header().biXPelsPerMeter = h.biXPelsPerMeter;
    block.Header().biYPelsPerMeter = h.biYPelsPerMeter;
    return block;
}

void TTzInternalDIB::CreateDIB(int width, int height, int paletteSize, int bitCount)
{
    Commit(CreateDIBBlock(width, height, paletteSize, bitCount));
}

void TTzInternalDIB::Commit(TTzDIBBlock &&block)
{
    DIB = std::move(block);
    Width = DIB.Info.Header.biWidth;
    Height = DIB.Info.Header.biHeight < 0 ? -DIB.Info.Header.biHeight : DIB.Info.Header.biHeight;
    Palette.reset();
}

void TTzInternalDIB::UpdatePalette()
{
    TzDIBAssert(RefCount == 1, "TTzInternalDIB.UpdatePalette: RefCount Must be 1");
    Palette.reset();
}

TTzPixelFormat TTzInternalDIB::GetPixelFormat() const
{
    const TBitmapInfoHeader &h = Header();
    switch (h.biBitCount) {
    case 1:
        if (h.biCompression == BI_RGB)
            return tzPf1Bit;
        throw ETzDIBInvalidDIB("TTzInternalDIB.GetPixelFormat: Invalid DIB(1Bit)");
    case 4:
        if (h.biCompression == BI_RGB)
            return tzPf4Bit;
        if (h.biCompression == BI_RLE4)
            return tzPf4BitRLE;
        throw ETzDIBInvalidDIB("TTzInternalDIB.GetPixelFormat: Invalid DIB(4Bit)");
    case 8:
        if (h.biCompression == BI_RGB)
            return tzPf8Bit;
        if (h.biCompression == BI_RLE8)
            return tzPf8BitRLE;
        throw ETzDIBInvalidDIB("TTzInternalDIB.GetPixelFormat: Invalid DIB(8Bit)");
    case 24:
        if (h.biCompression == BI_RGB)
            return tzPf24Bit;
        throw ETzDIBInvalidDIB("TTzInternalDIB.GetPixelFormat: Invalid DIB(24Bit)");
    default:
        throw ETzDIBInvalidDIB("TTzInternalDIB.GetPixelFormat: Invalid DIB(Illegal BitCount)");
    }
}

TTzPalette TTzInternalDIB::GetPaletteFromDIBInfos()
{
    const std::uint32_t count = Header().biClrUsed;
    if (count == 0)
        return nullptr;
    if (!Palette) {
        try {
            QList<QRgb> colours;
            colours.reserve(count);
            for (std::uint32_t i = 0; i < count && i < 256; ++i)
                colours.append(RGBQuadToQRgb(DIB.Info.Colors[i]));
            Palette = std::make_shared<const QList<QRgb>>(std::move(colours));
        } catch (const std::bad_alloc &) {
            throw EOutOfResources("GetPaletteFromDIBInfos: Cannot Make Palette");
        }
    }
    return Palette;
}
