// Reading and writing of BMP files and of the packed DIB of the clipboard.

#include "image/BmpRows.h"
#include "image/PictureLimits.h"
#include "image/RleCodec.h"
#include "image/TzDIBErrors.h"
#include "image/TzInternalDIB.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::int64_t FileHeaderSize = 14;
constexpr std::int64_t InfoHeaderSize = 40;
constexpr std::int64_t CoreHeaderSize = 12;
// Masks and a full colour table: what the colour-table area of a block can take.
constexpr std::int64_t MaxTableRun = 12 + 1024;

const char *const StreamReadError = "Stream read error";
const char *const StreamWriteError = "Stream write error";

std::uint16_t Le16(const std::uint8_t *p) { return qFromLittleEndian<std::uint16_t>(p); }
std::uint32_t Le32(const std::uint8_t *p) { return qFromLittleEndian<std::uint32_t>(p); }

std::uint8_t *TableArea(TTzDIBBlock &block)
{
    return reinterpret_cast<std::uint8_t *>(&block.Info) + offsetof(TTzDIBInfo, Colors);
}

TBitmapInfoHeader DecodeInfoHeader(const std::uint8_t *p)
{
    TBitmapInfoHeader h;
    h.biSize = Le32(p);
    h.biWidth = std::int32_t(Le32(p + 4));
    h.biHeight = std::int32_t(Le32(p + 8));
    h.biPlanes = Le16(p + 12);
    h.biBitCount = Le16(p + 14);
    h.biCompression = Le32(p + 16);
    h.biSizeImage = Le32(p + 20);
    h.biXPelsPerMeter = std::int32_t(Le32(p + 24));
    h.biYPelsPerMeter = std::int32_t(Le32(p + 28));
    h.biClrUsed = Le32(p + 32);
    h.biClrImportant = Le32(p + 36);
    return h;
}

void EncodeInfoHeader(const TBitmapInfoHeader &h, std::uint8_t *p)
{
    qToLittleEndian<std::uint32_t>(h.biSize, p);
    qToLittleEndian<std::int32_t>(h.biWidth, p + 4);
    qToLittleEndian<std::int32_t>(h.biHeight, p + 8);
    qToLittleEndian<std::uint16_t>(h.biPlanes, p + 12);
    qToLittleEndian<std::uint16_t>(h.biBitCount, p + 14);
    qToLittleEndian<std::uint32_t>(h.biCompression, p + 16);
    qToLittleEndian<std::uint32_t>(h.biSizeImage, p + 20);
    qToLittleEndian<std::int32_t>(h.biXPelsPerMeter, p + 24);
    qToLittleEndian<std::int32_t>(h.biYPelsPerMeter, p + 28);
    qToLittleEndian<std::uint32_t>(h.biClrUsed, p + 32);
    qToLittleEndian<std::uint32_t>(h.biClrImportant, p + 36);
}

// The header of a 12-byte core header file, turned into a 40-byte one.
TBitmapInfoHeader DecodeCoreHeader(const std::uint8_t *p)
{
    TBitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = Le16(p + 4);
    h.biHeight = Le16(p + 6);
    h.biPlanes = Le16(p + 8);
    h.biBitCount = Le16(p + 10);
    h.biClrUsed = DefaultPaletteSize(h.biBitCount);
    return h;
}

// RGBTRIPLE entries (blue, green, red) become quads.
void ExpandTriples(TTzDIBBlock &block, const std::uint8_t *triples, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i)
        block.Info.Colors[i] = TRGBQuad{triples[3 * i], triples[3 * i + 1], triples[3 * i + 2], 0};
}

bool IsValidInfoBitCount(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The info headers of later versions, which begin with the 40-byte one.
bool IsLargerInfoHeaderSize(std::uint32_t size)
{
    return size == 52 || size == 56 || size == 108 || size == 124;
}

bool IsValidCoreBitCount(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 24;
}

bool IsValidSize(const TBitmapInfoHeader &h)
{
    return h.biWidth > 0 && h.biHeight != 0 && h.biHeight != INT32_MIN;
}

std::int64_t Rows(const TBitmapInfoHeader &h)
{
    return h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
}

// rowSize x rows, or -1 when that exceeds the largest pixel array.
std::int64_t ArraySize(std::int64_t rowSize, std::int64_t rows)
{
    return rowSize > MaxDIBBitsSize / rows ? -1 : rowSize * rows;
}

// Where the pixel data comes from: a stream or a packed DIB in memory.
class TDIBSource
{
public:
    virtual ~TDIBSource() = default;
    // Reads exactly count bytes or raises the source's short-data error.
    virtual void Read(void *buffer, std::int64_t count) = 0;
    // Bytes left, or -1 when the source cannot tell.
    virtual std::int64_t Remaining() const = 0;
    [[noreturn]] virtual void RaiseShort() const = 0;
};

class TStreamSource : public TDIBSource
{
public:
    explicit TStreamSource(QIODevice &stream) : FStream(stream) {}

    void Read(void *buffer, std::int64_t count) override
    {
        char *p = static_cast<char *>(buffer);
        while (count > 0) {
            const qint64 got = FStream.read(p, count);
            if (got < 0 || (got == 0 && !(FStream.isSequential() && FStream.waitForReadyRead(30000))))
                RaiseShort();
            p += got;
            count -= got;
        }
    }

    // A forward seek from the current position.
    void Skip(std::int64_t count)
    {
        if (count <= 0)
            return;
        if (!FStream.isSequential()) {
            if (Remaining() < count || !FStream.seek(FStream.pos() + count))
                RaiseShort();
        } else if (FStream.skip(count) != count) {
            RaiseShort();
        }
    }

    std::int64_t Remaining() const override
    {
        return FStream.isSequential() ? -1 : std::max<qint64>(0, FStream.size() - FStream.pos());
    }

    [[noreturn]] void RaiseShort() const override { throw EReadError(StreamReadError); }

private:
    QIODevice &FStream;
};

class TMemorySource : public TDIBSource
{
public:
    TMemorySource(const std::uint8_t *data, std::int64_t size) : FData(data), FSize(size) {}

    void Read(void *buffer, std::int64_t count) override
    {
        if (count > Remaining())
            RaiseShort();
        std::memcpy(buffer, FData + FPos, std::size_t(count));
        FPos += count;
    }

    std::int64_t Remaining() const override { return FSize - FPos; }

    [[noreturn]] void RaiseShort() const override
    {
        throw ETzDIBInvalidDIB("TTzInternalDIB.LoadFromClipboardFormat: Pixel Data is Too Short");
    }

private:
    const std::uint8_t *FData;
    std::int64_t FSize;
    std::int64_t FPos = 0;
};

// The messages that differ between the file and the clipboard reader.
struct TReaderMessages
{
    const char *InvalidBitCount;
    const char *TooShort;
};

const TReaderMessages StreamMessages = {
    "TTzInternalDIB.LoadFromStream: Invalid BitCout",
    "TTzInternalDIB.LoadFromStream: Pixel Data is Too Short",
};
const TReaderMessages ClipboardMessages = {
    "TTzInternalDIB.LoadFromClipboardFormat: Invalid biBitCount",
    "TTzInternalDIB.LoadFromClipboardFormat: Pixel Data is Too Short",
};

// The byte of one colour channel: the top bit of the mask lands on bit 7.
struct TChannel
{
    std::uint32_t Mask;
    int Shift;

    explicit TChannel(std::uint32_t mask) : Mask(mask), Shift(0)
    {
        std::uint32_t m = mask;
        while (m >= 256) {
            m >>= 1;
            ++Shift;
        }
        while (m < 128) {
            m <<= 1;
            --Shift;
        }
    }

    std::uint8_t operator()(std::uint32_t pixel) const
    {
        const std::uint32_t bits = pixel & Mask;
        return std::uint8_t(Shift >= 0 ? bits >> Shift : bits << -Shift);
    }
};

// 16- and 32-bit rows become 24-bit rows, in the order read.
void ConvertHighColour(TTzDIBBlock &block, TDIBSource &source)
{
    TBitmapInfoHeader &h = block.Header();
    const int bits = h.biBitCount;
    std::uint32_t masks[3]; // red, green, blue
    if (h.biCompression == BI_RGB) {
        masks[0] = bits == 16 ? 0x7C00 : 0xFF0000;
        masks[1] = bits == 16 ? 0x03E0 : 0x00FF00;
        masks[2] = bits == 16 ? 0x001F : 0x0000FF;
    } else if (h.biCompression == BI_BITFIELDS) {
        const std::uint8_t *area = TableArea(block);
        for (int i = 0; i < 3; ++i)
            masks[i] = Le32(area + 4 * i);
    } else {
        // Without bit fields there are no masks to take the channels from.
        throw ETzDIBInvalidDIB("TTzInternalDIB.LoadFromStream: Invalid Compression");
    }
    if (masks[0] == 0 || masks[1] == 0 || masks[2] == 0)
        throw ETzDIBInvalidDIB("TTzInternalDIB.LoadFromStream: Invalid Masks");
    const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);

    const std::int64_t width = h.biWidth;
    const std::int64_t rows = Rows(h);
    const std::int64_t sourceRow = bits == 16 ? (2 * width + 3) & ~std::int64_t(3) : 4 * width;
    const std::int64_t destRow = (3 * width + 3) & ~std::int64_t(3);
    const std::int64_t size = ArraySize(destRow, rows);
    if (size < 0)
        throw EOutOfResources("GetFileMap: Cannot Make File Mapping Object");
    // Refuse a short source before the block is allocated.
    const std::int64_t remaining = source.Remaining();
    if (remaining >= 0 && (sourceRow > remaining / rows || sourceRow * rows > remaining))
        source.RaiseShort();

    block.Bits = GetFileMap(size);
    block.BitsSize = std::uint32_t(size);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(sourceRow));
    for (std::int64_t y = 0; y < rows; ++y) {
        source.Read(row.data(), sourceRow);
        std::uint8_t *dest = block.Bits.get() + y * destRow;
        std::memset(dest + destRow - 4, 0, 4);
        const std::uint8_t *src = row.data();
        for (std::int64_t x = 0; x < width; ++x, dest += 3) {
            const std::uint32_t pixel = bits == 16 ? Le16(src + 2 * x) : Le32(src + 4 * x);
            dest[0] = blue(pixel);
            dest[1] = green(pixel);
            dest[2] = red(pixel);
        }
    }

    if (h.biCompression == BI_BITFIELDS) {
        std::uint8_t *area = TableArea(block);
        std::memmove(area, area + 12, 1024);
    }
    h.biCompression = BI_RGB;
    h.biBitCount = 24;
    h.biSizeImage = 0;
}

// The checks of 1-, 4-, 8- and 24-bit pixel data before it is read: the pixel
// byte count must be one the program holds, uncompressed data must fill every
// row, and the source must hold that many bytes.
void CheckPixelBytes(const TBitmapInfoHeader &h, const TDIBSource &source, std::int64_t pixelBytes,
                     const TReaderMessages &messages)
{
    const std::int64_t needed = ArraySize(DIBRowSize(h.biWidth, h.biBitCount), Rows(h));
    if (needed < 0 || pixelBytes <= 0 || pixelBytes > MaxDIBBitsSize)
        throw EOutOfResources("GetFileMap: Cannot Make File Mapping Object");
    if (h.biCompression == BI_RGB && pixelBytes < needed)
        throw ETzDIBInvalidDIB(messages.TooShort);
    const std::int64_t remaining = source.Remaining();
    if (remaining >= 0 && remaining < pixelBytes)
        source.RaiseShort();
}

// Steps common to both readers once header and table are in the block: the
// pixels, read straight into the block or converted from 16 or 32 bits.
void ReadPixels(TTzDIBBlock &block, TDIBSource &source, std::int64_t pixelBytes,
                const TReaderMessages &messages)
{
    const TBitmapInfoHeader &h = block.Header();
    const int bits = h.biBitCount;
    if (bits == 16 || bits == 32) {
        ConvertHighColour(block, source);
        return;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        throw ETzDIBInvalidDIB(messages.InvalidBitCount);
    // Compressed data is kept as it is; uncompressed data must fill every row.
    CheckPixelBytes(h, source, pixelBytes, messages);
    block.Bits = GetFileMap(pixelBytes);
    block.BitsSize = std::uint32_t(pixelBytes);
    source.Read(block.Bits.get(), pixelBytes);
}

void WriteBuffer(QIODevice &stream, const void *data, std::int64_t count)
{
    if (count > 0 && stream.write(static_cast<const char *>(data), count) != count)
        throw EFileError(StreamWriteError);
}

// A BMP file up to its pixel data: headers and colour table read and checked,
// the pixel data's byte count, the stream at its first pixel byte.
struct TBmpPrologue
{
    TTzDIBBlock Block;
    std::int64_t PixelBytes = 0;
};

TBmpPrologue ReadPrologue(TStreamSource &source, const TBmpReadOptions &options)
{
    TBmpPrologue prologue;
    std::uint8_t fileHeader[FileHeaderSize];
    source.Read(fileHeader, FileHeaderSize);
    if (Le16(fileHeader) != 0x4D42)
        throw ETzDIBInvalidDIBFile("TTzInternalDIB.LoadFromFile: File type is invalid");
    const std::int64_t fileSize = Le32(fileHeader + 2);
    const std::int64_t bitsOffset = Le32(fileHeader + 10);

    std::uint8_t header[InfoHeaderSize];
    source.Read(header, 4);
    const std::uint32_t headerSize = Le32(header);
    const bool larger = options.LargerHeaders && IsLargerInfoHeaderSize(headerSize);
    TTzDIBBlock &block = prologue.Block;
    TBitmapInfoHeader &h = block.Header();
    std::int64_t pixelBytes = 0;
    std::int64_t position = FileHeaderSize + 4; // bytes read so far
    if (headerSize == InfoHeaderSize || larger) {
        source.Read(header + 4, InfoHeaderSize - 4);
        h = DecodeInfoHeader(header);
        h.biSize = std::uint32_t(InfoHeaderSize);
        if (!IsValidInfoBitCount(h.biBitCount))
            throw ETzDIBInvalidDIB("TTzInternalDIB.LoadFromStream: Invalid BitCout");
        if (h.biClrUsed == 0)
            h.biClrUsed = DefaultPaletteSize(h.biBitCount);
        std::int64_t masks = h.biCompression == BI_BITFIELDS ? 12 : 0;
        if (larger) {
            // The masks of a larger header stand inside it, at its bytes 40 to 51.
            std::vector<std::uint8_t> rest(headerSize - InfoHeaderSize);
            source.Read(rest.data(), std::int64_t(rest.size()));
            if (masks && rest.size() >= 12)
                std::memcpy(TableArea(block), rest.data(), 12);
            else
                masks = 0;
        }
        // Masks (with bit fields) and table are one run; entries beyond 256 are skipped.
        const std::int64_t table = std::int64_t(h.biClrUsed) * 4;
        const std::int64_t kept = std::min(table, std::int64_t(1024));
        if (larger) {
            source.Read(TableArea(block) + masks, kept);
        } else {
            source.Read(TableArea(block), masks + kept);
            position += masks;
        }
        source.Skip(table - kept);
        position += headerSize - 4 + table;
        pixelBytes = fileSize - FileHeaderSize - headerSize - table;
        h.biClrUsed = std::min<std::uint32_t>(h.biClrUsed, 256);
    } else if (headerSize == CoreHeaderSize) {
        source.Read(header + 4, CoreHeaderSize - 4);
        const int bits = Le16(header + 10);
        if (!IsValidCoreBitCount(bits))
            throw ETzDIBInvalidDIB("TTzInternalDIB.LoadFromStream: Invalid BitCount");
        h = DecodeCoreHeader(header);
        std::uint8_t triples[3 * 256];
        source.Read(triples, 3 * std::int64_t(h.biClrUsed));
        ExpandTriples(block, triples, h.biClrUsed);
        position += CoreHeaderSize - 4 + 3 * std::int64_t(h.biClrUsed);
        pixelBytes = fileSize - FileHeaderSize - CoreHeaderSize - 3 * std::int64_t(h.biClrUsed);
    } else {
        throw ETzDIBInvalidDIB("TTzInternalDIB.LoadFromStream: Invalid Bitmap Header Size");
    }
    if (!IsValidSize(h))
        throw ETzDIBInvalidDIB("TTzInternalDIB.LoadFromStream: Invalid Width or Height");
    PictureLimits::Check(h.biWidth, h.biHeight);
    if (options.PixelOffset && bitsOffset > position) {
        source.Skip(bitsOffset - position);
        pixelBytes = fileSize - bitsOffset;
    }

    prologue.PixelBytes = pixelBytes;
    return prologue;
}

} // namespace

void TTzInternalDIB::LoadFromStream(QIODevice &stream, const TBmpReadOptions &options)
{
    TStreamSource source(stream);
    TBmpPrologue prologue = ReadPrologue(source, options);
    ReadPixels(prologue.Block, source, prologue.PixelBytes, StreamMessages);
    Commit(std::move(prologue.Block));
    UpdatePalette();
}

TPictureRows::~TPictureRows() = default;

bool TPictureRows::Sample(int, const TRowVisitor &)
{
    return false;
}

TBmpRows::TBmpRows(QIODevice &stream, const TBmpReadOptions &options) : Stream(stream)
{
    TStreamSource source(stream);
    const TBmpPrologue prologue = ReadPrologue(source, options);
    const TBitmapInfoHeader &h = prologue.Block.Header();
    const int bits = h.biBitCount;
    const bool rle = (h.biCompression == BI_RLE8 && bits == 8) || (h.biCompression == BI_RLE4 && bits == 4);
    FRowByRow = rle || (h.biCompression == BI_RGB && (bits == 1 || bits == 4 || bits == 8 || bits == 24));
    if (!FRowByRow)
        return;
    CheckPixelBytes(h, source, prologue.PixelBytes, StreamMessages);
    if (rle) {
        // The encoded data (no more than the file holds), decoded a band at a time.
        std::vector<std::uint8_t> data(static_cast<std::size_t>(prologue.PixelBytes));
        source.Read(data.data(), prologue.PixelBytes);
        FRle = std::make_unique<TRleRows>(bits, std::move(data), h.biWidth, Rows(h));
    }
    FWidth = h.biWidth;
    FHeight = int(Rows(h));
    FBitCount = bits;
    FTopDown = h.biHeight < 0;
    FDotsPerMeterX = h.biXPelsPerMeter;
    FDotsPerMeterY = h.biYPelsPerMeter;
    std::memcpy(FColors, prologue.Block.Info.Colors, sizeof FColors);
}

TBmpRows::~TBmpRows() = default;

void TBmpRows::Read(std::uint8_t *rows, int count)
{
    if (FRle) {
        FRle->Decode(rows, FRowsRead, count);
        FRowsRead += count;
        return;
    }
    TStreamSource(Stream).Read(rows, RowSize() * count);
    FRowsRead += count;
}

bool TBmpRows::Sample(int count, const TRowVisitor &each)
{
    if (FRle || Stream.isSequential() || count <= 0 || FHeight <= 0)
        return false;
    // Uncompressed rows lie at fixed places from the first one on.
    count = std::min(count, FHeight);
    const std::int64_t start = Stream.pos(), rowSize = RowSize(), first = start - FRowsRead * rowSize;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(rowSize));
    bool read = true;
    for (int k = 0; k < count && read; ++k) {
        const std::int64_t index = (std::int64_t(2 * k + 1) * FHeight) / (2 * std::int64_t(count));
        read = Stream.seek(first + index * rowSize)
               && Stream.read(reinterpret_cast<char *>(row.data()), rowSize) == rowSize;
        if (read)
            each(row.data());
    }
    return Stream.seek(start) && read;
}

void TTzInternalDIB::LoadFromClipboardFormat(const QByteArray &data)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.constData());
    const std::int64_t size = data.size();
    const auto invalidData = [] {
        return ETzDIBInvalidDIB("TTzDIB.LoadFromClipboardFormat: Invalid Clipboard Data");
    };
    if (size < 4)
        throw invalidData();
    const std::uint32_t headerSize = Le32(bytes);

    TTzDIBBlock block;
    TBitmapInfoHeader &h = block.Header();
    std::int64_t length = 0; // header and table
    if (headerSize == InfoHeaderSize) {
        if (size < InfoHeaderSize)
            throw invalidData();
        h = DecodeInfoHeader(bytes);
        const std::int64_t entries = h.biClrUsed != 0 ? h.biClrUsed : DefaultPaletteSize(h.biBitCount);
        const std::int64_t masks = h.biCompression == BI_BITFIELDS ? 12 : 0;
        length = InfoHeaderSize + masks + entries * 4;
        const std::int64_t kept = std::min(length - InfoHeaderSize, MaxTableRun);
        if (size < InfoHeaderSize + kept)
            throw invalidData();
        std::memcpy(TableArea(block), bytes + InfoHeaderSize, std::size_t(kept));
        h.biClrUsed = std::uint32_t(std::min<std::int64_t>(entries, 256));
    } else if (headerSize == CoreHeaderSize) {
        if (size < CoreHeaderSize)
            throw invalidData();
        if (!IsValidCoreBitCount(Le16(bytes + 10)))
            throw ETzDIBInvalidDIB(ClipboardMessages.InvalidBitCount);
        h = DecodeCoreHeader(bytes);
        length = CoreHeaderSize + 3 * std::int64_t(h.biClrUsed);
        if (size < length)
            throw invalidData();
        ExpandTriples(block, bytes + CoreHeaderSize, h.biClrUsed);
    } else {
        throw invalidData();
    }
    if (!IsValidSize(h))
        throw ETzDIBInvalidDIB("TTzInternalDIB.LoadFromStream: Invalid Width or Height");
    PictureLimits::Check(h.biWidth, h.biHeight);

    // The pixels follow header and table; a table that runs past the block
    // leaves no pixel bytes at all.
    TMemorySource source(bytes + std::min(length, size), size - std::min(length, size));
    ReadPixels(block, source, size - length, ClipboardMessages);
    Commit(std::move(block));
    UpdatePalette();
}

void TTzInternalDIB::SaveToStream(QIODevice &stream) const
{
    const TBitmapInfoHeader &h = Header();
    const std::int64_t tableBytes = std::int64_t(std::min<std::uint32_t>(h.biClrUsed, 256)) * 4;
    const std::int64_t offBits = FileHeaderSize + InfoHeaderSize + tableBytes;

    std::uint8_t headers[FileHeaderSize + InfoHeaderSize] = {'B', 'M'};
    qToLittleEndian<std::uint32_t>(std::uint32_t(offBits + DIB.BitsSize), headers + 2);
    qToLittleEndian<std::uint32_t>(std::uint32_t(offBits), headers + 10);
    EncodeInfoHeader(h, headers + FileHeaderSize);
    WriteBuffer(stream, headers, sizeof headers);
    WriteBuffer(stream, DIB.Info.Colors, tableBytes);
    WriteBuffer(stream, DIB.Bits.get(), DIB.BitsSize);
}

QByteArray TTzInternalDIB::SaveToClipboardFormat() const
{
    const TBitmapInfoHeader &h = Header();
    const std::int64_t tableBytes = std::int64_t(std::min<std::uint32_t>(h.biClrUsed, 256)) * 4;
    QByteArray data;
    try {
        data.resize(qsizetype(InfoHeaderSize + tableBytes + DIB.BitsSize));
    } catch (const std::bad_alloc &) {
        throw EOutOfMemory("TTzInternalDIB.SaveToClipboardFormat: Out Of Memory");
    }
    auto *p = reinterpret_cast<std::uint8_t *>(data.data());
    EncodeInfoHeader(h, p);
    std::memcpy(p + InfoHeaderSize, DIB.Info.Colors, std::size_t(tableBytes));
    std::memcpy(p + InfoHeaderSize + tableBytes, DIB.Bits.get(), DIB.BitsSize);
    return data;
}
