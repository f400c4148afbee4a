#pragma once

// The storage beneath TTzDIB.
//   TTzInternalDIB  - header, colour table and pixel block of one picture;
//                     its readers throw a TzDIB error for a damaged file.
//   GetFileMap      - a zero-filled pixel block of `size` bytes; raises
//                     EOutOfResources when it cannot be had.
//   LivePixelBlocks - how many pixel blocks exist now.

#include "image/DIBFormat.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>
#include <memory>

class QIODevice;

// A palette as drawing uses it: the colours of a colour table. nullptr: no palette.
using TTzPalette = std::shared_ptr<const QList<QRgb>>;

// The pixel memory: one zero-filled heap block of exactly the pixel array's size.
struct TPixelBlockDeleter
{
    void operator()(std::uint8_t *bits) const;
};
using TPixelBlock = std::unique_ptr<std::uint8_t[], TPixelBlockDeleter>;

// Allocates a zero-filled pixel block; a size <= 0, above MaxDIBBitsSize or that
// cannot be had raises EOutOfResources "GetFileMap: Cannot Make File Mapping Object".
TPixelBlock GetFileMap(std::int64_t size);
// Pixel blocks alive at this moment, in the whole program (for tests of the conversions).
std::int64_t LivePixelBlocks();

// What the BMP file reader takes beyond the files it always read. With every
// option off it reads exactly the 40- and 12-byte header files, pixels right
// after the colour table.
struct TBmpReadOptions
{
    // The larger info headers that current programs write (52, 56, 108 and 124
    // bytes): their first 40 bytes are the info header, bit-field masks stand
    // inside them, the rest is skipped.
    bool LargerHeaders = false;
    // The file header's pixel offset, where it lies beyond the colour table: the
    // gap is skipped and the pixel bytes counted from there.
    bool PixelOffset = false;
};

// The DIB block: pixel array, header and colour table. Copied or replaced as one unit.
struct TTzDIBBlock
{
    std::uint32_t BitsSize = 0;
    TPixelBlock Bits;
    TTzDIBInfo Info{};

    TBitmapInfoHeader &Header() { return Info.Header; }
    const TBitmapInfoHeader &Header() const { return Info.Header; }
};

// The pixel storage that several TTzDIB objects share. Reference-counted by its
// users; written only while unshared.
class TTzInternalDIB
{
public:
    // A 1 x 1, 8-bit image with palette size 2, both entries black.
    TTzInternalDIB();
    TTzInternalDIB(const TTzInternalDIB &) = delete;
    TTzInternalDIB &operator=(const TTzInternalDIB &) = delete;

    // A new storage with the same size, header, colour table and a copy of the
    // pixels; its reference count is 1 and it has no cached palette.
    std::unique_ptr<TTzInternalDIB> Duplicate() const;

    // Builds a blank block: Width > 0, Height != 0 (negative: top-down),
    // 0 <= PaletteSize <= 256, BitCount 1, 4, 8 or 24, else ETzDIBInvalidDIBPara
    // "TTzInternalDIB.CreateDIB: Invalid Parameters". Pixels and colours are zero.
    static TTzDIBBlock CreateDIBBlock(int width, int height, int paletteSize, int bitCount);
    // A blank block of another bit count with the size, row order and resolution of
    // source and its colour table (paletteSize entries of it; the rest zero).
    static TTzDIBBlock CreateDIBBlockLike(const TTzDIBBlock &source, int paletteSize, int bitCount);
    // Replaces the storage by a blank block as CreateDIBBlock builds it.
    void CreateDIB(int width, int height, int paletteSize, int bitCount);
    // Takes over a complete block: Width and Height follow its header; then UpdatePalette.
    void Commit(TTzDIBBlock &&block);
    // Drops the cached palette after a change of the colour table (storage must be unshared).
    void UpdatePalette();

    TTzPixelFormat GetPixelFormat() const;
    // The palette made from the colour table (nullptr without table), cached until
    // the table changes.
    TTzPalette GetPaletteFromDIBInfos();

    // The BMP file and packed-DIB reader and writer (BmpStream.cpp).
    void LoadFromStream(QIODevice &stream, const TBmpReadOptions &options = {});
    void SaveToStream(QIODevice &stream) const;
    void LoadFromClipboardFormat(const QByteArray &data);
    QByteArray SaveToClipboardFormat() const;

    const TBitmapInfoHeader &Header() const { return DIB.Info.Header; }
    TBitmapInfoHeader &Header() { return DIB.Info.Header; }
    // Bytes of one stored row.
    int RowSize() const { return int(DIBRowSize(Width, DIB.Info.Header.biBitCount)); }
    // The stored row that holds picture row y (counted from the top).
    std::uint8_t *Row(int y) const
    {
        const int stored = DIB.Info.Header.biHeight < 0 ? y : Height - 1 - y;
        return DIB.Bits.get() + std::ptrdiff_t(stored) * RowSize();
    }

    std::int32_t RefCount = 1;
    std::int32_t Width = 0;
    std::int32_t Height = 0;   // always positive; the header's sign tells the row order
    TTzPalette Palette;        // cached; nullptr: none made yet
    TTzDIBBlock DIB;
};
