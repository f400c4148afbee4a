#include "image/RleCodec.h"

#include "image/TzDIBErrors.h"

#include <algorithm>
#include <cstring>

namespace {

std::int64_t Rows(const TBitmapInfoHeader &h)
{
    return h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
}

// The messages of one decoder.
struct TDecoderMessages
{
    const char *BadEndOfLine;   // end of line past the last row
    const char *BadDelta;       // delta past the row end or the last row
    const char *BadAbsolute;    // absolute run past the row end or after the last row
    const char *BadRun;         // encoded run past the row end or after the last row
    const char *UnexpectedEnd;  // the data ends before the end-of-bitmap unit
};

const TDecoderMessages Rle8Messages = {
    "Convert8BitRLETo8BitRGB: Bad RLE Data 1", "Convert8BitRLETo8BitRGB: Bad RLE Data 2",
    "Convert8BitRLETo8BitRGB: Bad RLE Data 3", "Convert8BitRLETo8BitRGB: Bad RLE Data 4",
    "Convert8BitRLETo8BitRGB: Unexpected End of RLE Data"};
const TDecoderMessages Rle4Messages = {
    "Convert4BitRLETo4BitRGB: Bad RLE Data 5", "Convert4BitRLETo4BitRGB: Bad RLE Data 6",
    "Convert4BitRLETo4BitRGB: Bad RLE Data 7", "Convert4BitRLETo4BitRGB: Bad RLE Data 8",
    "Convert4BitRLETo4BitRGB: Unexpected End of RLE Data"};

// One decoder for both encodings, a band of stored rows at a time.
class TRleDecoder
{
public:
    TRleDecoder(int bits, const std::uint8_t *in, std::int64_t size, std::int64_t width, std::int64_t height)
        : Bits(bits), In(in), Size(size), Height(height), RowSize(DIBRowSize(width, bits)),
          Limit(bits == 8 ? width : (width + 1) & ~std::int64_t(1)),
          Messages(bits == 8 ? Rle8Messages : Rle4Messages)
    {
    }

    // Stored rows first .. first + count - 1 into `rows` (zero where the data
    // leaves pixels out); the bands come in order. The last band reads on to
    // the end-of-bitmap unit.
    void Decode(std::uint8_t *rows, std::int64_t first, std::int64_t count, bool zeroed = false)
    {
        if (!zeroed)
            std::memset(rows, 0, std::size_t(RowSize * count));
        const std::int64_t end = first + count;
        while (!Ended && (R < end || end >= Height))
            Unit(rows - first * RowSize);
    }

private:
    // Pixel x of stored row r of the band whose row 0 is at `bits`; the caller
    // has checked both.
    void Put(std::uint8_t *bits, std::int64_t r, std::int64_t x, std::uint8_t value) const
    {
        std::uint8_t *p = bits + r * RowSize;
        if (Bits == 8) {
            p[x] = value;
        } else {
            std::uint8_t &b = p[x >> 1];
            b = (x & 1) ? std::uint8_t((b & 0xF0) | (value & 0x0F)) : std::uint8_t((b & 0x0F) | value << 4);
        }
    }

    void Unit(std::uint8_t *bits)
    {
        if (Size - Pos < 2)
            throw ETzDIBInvalidDIB(Messages.UnexpectedEnd);
        const std::uint8_t count = In[Pos], value = In[Pos + 1];
        Pos += 2;
        if (count != 0) {
            if (X + count > Limit || R >= Height)
                throw ETzDIBInvalidDIB(Messages.BadRun);
            if (Bits == 8) {
                std::memset(bits + R * RowSize + X, value, count);
            } else {
                for (int i = 0; i < count; ++i)
                    Put(bits, R, X + i, (i & 1) ? value & 0x0F : value >> 4);
            }
            X += count;
            return;
        }
        switch (value) {
        case 0: // end of line
            ++R;
            X = 0;
            if (R > Height)
                throw ETzDIBInvalidDIB(Messages.BadEndOfLine);
            break;
        case 1: // end of bitmap
            Ended = true;
            break;
        case 2: // delta
            if (Size - Pos < 2)
                throw ETzDIBInvalidDIB(Messages.UnexpectedEnd);
            X += In[Pos];
            R += In[Pos + 1];
            Pos += 2;
            if (X > Limit || R > Height)
                throw ETzDIBInvalidDIB(Messages.BadDelta);
            break;
        default: { // absolute run of `value` pixels
            const std::int64_t bytes = Bits == 8 ? value : (value + 1) / 2;
            if (X + value > Limit || R >= Height)
                throw ETzDIBInvalidDIB(Messages.BadAbsolute);
            if (Size - Pos < bytes)
                throw ETzDIBInvalidDIB(Messages.UnexpectedEnd);
            if (Bits == 8) {
                std::memcpy(bits + R * RowSize + X, In + Pos, value);
            } else {
                for (int i = 0; i < value; ++i)
                    Put(bits, R, X + i, (i & 1) ? In[Pos + i / 2] & 0x0F : In[Pos + i / 2] >> 4);
            }
            X += value;
            Pos += bytes + (bytes & 1); // on to the next 16-bit boundary
            break;
        }
        }
    }

    int Bits;
    const std::uint8_t *In;
    std::int64_t Size;
    std::int64_t Height;
    std::int64_t RowSize;
    std::int64_t Limit;
    const TDecoderMessages &Messages;
    std::int64_t Pos = 0, X = 0, R = 0;
    bool Ended = false;
};

// The whole picture as one band.
template <int Bits>
TTzDIBBlock Decode(const TTzDIBBlock &source, const TDecoderMessages &)
{
    const TBitmapInfoHeader &h = source.Header();
    TTzDIBBlock out = TTzInternalDIB::CreateDIBBlockLike(source, int(h.biClrUsed), Bits);
    TRleDecoder decoder(Bits, source.Bits.get(), source.BitsSize, h.biWidth, Rows(h));
    decoder.Decode(out.Bits.get(), 0, Rows(h), true);  // fresh zero pages, left untouched
    return out;
}

// Where an encoder's output goes: counted first, then written into a block of
// exactly that size.
struct TSink
{
    std::uint8_t *Out = nullptr;  // nullptr: count only
    std::int64_t Size = 0;
    std::int64_t Capacity = 0;
    const char *Failed = "";

    void Put(std::uint8_t a, std::uint8_t b)
    {
        if (Out) {
            if (Capacity - Size < 2)
                throw ETzDIBCompressionFailed(Failed);
            Out[Size] = a;
            Out[Size + 1] = b;
        }
        Size += 2;
    }
    // Bytes of an absolute run, padded to a 16-bit boundary.
    void PutPadded(const std::uint8_t *data, std::int64_t count)
    {
        const std::int64_t padded = count + (count & 1);
        if (Out) {
            if (Capacity - Size < padded)
                throw ETzDIBCompressionFailed(Failed);
            std::memcpy(Out + Size, data, std::size_t(count));
            if (count & 1)
                Out[Size + count] = 0;
        }
        Size += padded;
    }
};

// One RLE8 row of `width` pixels.
void EncodeRow8(const std::uint8_t *p, std::int64_t width, TSink &sink)
{
    std::int64_t i = 0;
    while (i < width) {
        std::int64_t run = 1;
        while (i + run < width && run < 255 && p[i + run] == p[i])
            ++run;
        if (run >= 3) {
            sink.Put(std::uint8_t(run), p[i]);
            i += run;
            continue;
        }
        // Pixels up to the next run of three, at most 255.
        std::int64_t j = i;
        while (j < width && j - i < 255 && !(j + 2 < width && p[j] == p[j + 1] && p[j] == p[j + 2]))
            ++j;
        const std::int64_t n = j - i;
        if (n >= 3) {
            TzDIBAssert(n <= 255, "Convert8BitRGBTo8BitRLE: WriteAbsolute Error");
            sink.Put(0, std::uint8_t(n));
            sink.PutPadded(p + i, n);
        } else if (n == 2 && p[i] == p[i + 1]) {
            sink.Put(2, p[i]);
        } else {
            for (std::int64_t k = i; k < j; ++k)
                sink.Put(1, p[k]);
        }
        i = j;
    }
}

// One RLE4 row of `width` pixels; an encoded run repeats a pair of pixels.
void EncodeRow4(const std::uint8_t *row, std::int64_t width, TSink &sink, std::uint8_t *nibbles)
{
    const auto px = [row](std::int64_t x) -> std::uint8_t {
        return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    };
    std::int64_t i = 0;
    while (i < width) {
        const std::uint8_t a = px(i);
        const std::uint8_t b = i + 1 < width ? px(i + 1) : 0;
        std::int64_t run = 1;
        while (i + run < width && run < 255 && px(i + run) == ((run & 1) ? b : a))
            ++run;
        if (run >= 4 || i + run == width) {
            sink.Put(std::uint8_t(run), std::uint8_t(a << 4 | b));
            i += run;
            continue;
        }
        // Pixels up to the next repeated pair of four pixels, at most 255.
        std::int64_t j = i;
        while (j < width && j - i < 255 && !(j + 3 < width && px(j) == px(j + 2) && px(j + 1) == px(j + 3)))
            ++j;
        const std::int64_t n = j - i;
        if (n >= 3) {
            TzDIBAssert(n <= 255, "Convert4BitRGBTo4BitRLE: WriteAbsolute Error");
            for (std::int64_t k = 0; k < n; k += 2)
                nibbles[k / 2] = std::uint8_t(px(i + k) << 4 | (k + 1 < n ? px(i + k + 1) : 0));
            sink.Put(0, std::uint8_t(n));
            sink.PutPadded(nibbles, (n + 1) / 2);
        } else {
            sink.Put(std::uint8_t(n), std::uint8_t(a << 4 | (n == 2 ? b : 0)));
        }
        i = j;
    }
}

// The pixels of a row beyond its last non-zero one need no code: the decoder
// starts from zeros. Likewise the rows after the last non-zero row.
std::int64_t UsedWidth(const std::uint8_t *row, std::int64_t width, int bits)
{
    std::int64_t bytes = (width * bits + 7) / 8;
    while (bytes > 0 && row[bytes - 1] == 0)
        --bytes;
    if (bits == 8)
        return bytes;
    if (bytes == 0)
        return 0;
    return std::min(width, (row[bytes - 1] & 0x0F) ? bytes * 2 : bytes * 2 - 1);
}

template <int Bits>
TTzDIBBlock Encode(const TTzDIBBlock &source, const char *failed)
{
    const TBitmapInfoHeader &h = source.Header();
    const std::int64_t width = h.biWidth;
    const std::int64_t height = Rows(h);
    const std::int64_t rowSize = DIBRowSize(width, Bits);
    TzDIBAssert(rowSize * height <= source.BitsSize, failed);
    // Rows bottom first, whatever the stored order.
    const auto row = [&](std::int64_t r) {
        const std::int64_t stored = h.biHeight < 0 ? height - 1 - r : r;
        return source.Bits.get() + stored * rowSize;
    };
    std::int64_t lastRow = height - 1;
    while (lastRow >= 0 && UsedWidth(row(lastRow), width, Bits) == 0)
        --lastRow;
    std::uint8_t nibbles[128];
    const auto encode = [&](TSink &sink) {
        for (std::int64_t r = 0; r <= lastRow; ++r) {
            const std::int64_t used = UsedWidth(row(r), width, Bits);
            if constexpr (Bits == 8)
                EncodeRow8(row(r), used, sink);
            else
                EncodeRow4(row(r), used, sink, nibbles);
            if (r < lastRow)
                sink.Put(0, 0);
        }
        sink.Put(0, 1);
    };
    TSink count;
    encode(count);
    if (count.Size > MaxDIBBitsSize)
        throw ETzDIBCompressionFailed(failed);

    TTzDIBBlock out;
    out.Info = source.Info;
    out.Bits = GetFileMap(count.Size);
    out.BitsSize = std::uint32_t(count.Size);
    TSink sink;
    sink.Out = out.Bits.get();
    sink.Capacity = count.Size;
    sink.Failed = failed;
    encode(sink);
    if (sink.Size != count.Size)
        throw ETzDIBCompressionFailed(failed);
    TBitmapInfoHeader &oh = out.Header();
    oh.biSize = 40;
    oh.biHeight = std::int32_t(height);
    oh.biCompression = Bits == 8 ? BI_RLE8 : BI_RLE4;
    oh.biSizeImage = std::uint32_t(count.Size);
    std::memset(out.Info.Spare, 0, sizeof out.Info.Spare);
    return out;
}

} // namespace

struct TRleRows::TState : TRleDecoder
{
    using TRleDecoder::TRleDecoder;
};

TRleRows::TRleRows(int bits, std::vector<std::uint8_t> data, std::int64_t width, std::int64_t height)
    : Data(std::move(data)), State(std::make_unique<TState>(bits, Data.data(), std::int64_t(Data.size()), width, height))
{
}

TRleRows::~TRleRows() = default;

void TRleRows::Decode(std::uint8_t *rows, std::int64_t first, std::int64_t count)
{
    State->Decode(rows, first, count);
}

TTzDIBBlock Convert8BitRLETo8BitRGB(const TTzDIBBlock &source)
{
    const TBitmapInfoHeader &h = source.Header();
    if (h.biBitCount != 8 || h.biCompression != BI_RLE8)
        throw ETzDIBBadDIBType("Convert8BitRLETo8BitRGB: Invalid Bitcount & Compression Combination");
    return Decode<8>(source, Rle8Messages);
}

TTzDIBBlock Convert4BitRLETo4BitRGB(const TTzDIBBlock &source)
{
    const TBitmapInfoHeader &h = source.Header();
    if (h.biBitCount != 4 || h.biCompression != BI_RLE4)
        throw ETzDIBBadDIBType("Convert4BitRLETo4BitRGB: Invalid Bitcount & Compression Combination");
    return Decode<4>(source, Rle4Messages);
}

TTzDIBBlock Convert8BitRGBTo8BitRLE(const TTzDIBBlock &source)
{
    const TBitmapInfoHeader &h = source.Header();
    if (h.biBitCount != 8 || h.biCompression != BI_RGB)
        throw ETzDIBBadDIBType("Convert8BitRGBTo8BitRLE: Invalid Bitcount & Compression Combination");
    return Encode<8>(source, "Convert8BitRGBTo8BitRLE: Compression Failed");
}

TTzDIBBlock Convert4BitRGBTo4BitRLE(const TTzDIBBlock &source)
{
    const TBitmapInfoHeader &h = source.Header();
    if (h.biBitCount != 4 || h.biCompression != BI_RGB)
        throw ETzDIBBadDIBType("Convert4BitRGBTo4BitRLE: Invalid Bitcount & Compression Combination");
    return Encode<4>(source, "Convert4BitRGBTo4BitRLE: Compression Failed");
}
