// Feeds arbitrary bytes to the RLE8 and RLE4 decoders, and arbitrary pictures
// to the encoders, the decoders and the other pixel-format conversions. A
// decoder must end in a picture or in one of the program's own errors, never
// read past the data or write past the picture; an encoded picture must decode
// to the same pixels.
//
//   fuzz-rle-codec -max_len=8192 -timeout=10 <corpus folder>
//
// The first byte chooses the case, the next three the picture's size; the rest
// is the RLE data or the pixels.

#include "image/PixelFormatConversion.h"
#include "image/RleCodec.h"
#include "image/TzDIB.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The pixels of stored rows, without the padding bytes.
bool SamePixels(const TTzDIBBlock &a, const TTzDIBBlock &b)
{
    const TBitmapInfoHeader &h = a.Header();
    const std::int64_t rows = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    const std::int64_t rowSize = DIBRowSize(h.biWidth, h.biBitCount);
    const bool flipped = (a.Header().biHeight < 0) != (b.Header().biHeight < 0);
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::uint8_t *pa = a.Bits.get() + r * rowSize;
        const std::uint8_t *pb = b.Bits.get() + (flipped ? rows - 1 - r : r) * rowSize;
        const std::int64_t width = h.biWidth;
        for (std::int64_t x = 0; x < width; ++x) {
            const int va = h.biBitCount == 8 ? pa[x] : (x & 1) ? pa[x >> 1] & 15 : pa[x >> 1] >> 4;
            const int vb = h.biBitCount == 8 ? pb[x] : (x & 1) ? pb[x >> 1] & 15 : pb[x >> 1] >> 4;
            if (va != vb)
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    const int mode = data[0];
    const int bits = (mode & 1) ? 4 : 8;
    const int width = 1 + ((data[1] | data[2] << 8) & 0x3FF);
    const int height = (1 + (data[3] & 0x3F)) * ((data[3] & 0x40) ? -1 : 1);
    data += 4;
    size -= 4;
    try {
        switch ((mode >> 1) % 3) {
        case 0: { // decode random data, exactly its size, nothing more
            if (size == 0)
                return 0;
            TTzDIBBlock source;
            source.Bits = GetFileMap(std::int64_t(size));
            std::memcpy(source.Bits.get(), data, size);
            source.BitsSize = std::uint32_t(size);
            source.Info.Header = TTzInternalDIB::CreateDIBBlock(width, height, 2, bits).Info.Header;
            source.Header().biCompression = bits == 8 ? BI_RLE8 : BI_RLE4;
            const TTzDIBBlock out = bits == 8 ? Convert8BitRLETo8BitRGB(source) : Convert4BitRLETo4BitRGB(source);
            if (out.BitsSize != std::uint32_t(DIBRowSize(width, bits) * std::abs(height)))
                std::abort();
            // What decodes encodes again to the same pixels.
            const TTzDIBBlock again = bits == 8 ? Convert8BitRGBTo8BitRLE(out) : Convert4BitRGBTo4BitRLE(out);
            const TTzDIBBlock back = bits == 8 ? Convert8BitRLETo8BitRGB(again) : Convert4BitRLETo4BitRGB(again);
            if (!SamePixels(out, back))
                std::abort();
            break;
        }
        case 1: { // encode a random picture and decode it
            TTzDIBBlock picture = TTzInternalDIB::CreateDIBBlock(width, height, 16, bits);
            // The pixels from the data; few distinct values make runs.
            for (std::uint32_t i = 0; i < picture.BitsSize && size > 0; ++i)
                picture.Bits[i] = (mode & 0x80) ? data[i % size] & 0x11 : data[i % size];
            const TTzDIBBlock rle = bits == 8 ? Convert8BitRGBTo8BitRLE(picture) : Convert4BitRGBTo4BitRLE(picture);
            const TTzDIBBlock back = bits == 8 ? Convert8BitRLETo8BitRGB(rle) : Convert4BitRLETo4BitRGB(rle);
            if (!SamePixels(picture, back))
                std::abort();
            break;
        }
        default: { // every route from a random picture
            static const int depths[] = {1, 4, 8, 24};
            TTzDIB dib;
            dib.SetBitCount(depths[(mode >> 3) & 3]);
            dib.SetWidth(std::min(width, 64));
            dib.SetHeight(height);
            TTzInternalDIB &storage = *dib.InternalDIB();
            for (std::uint32_t i = 0; i < storage.DIB.BitsSize && size > 0; ++i)
                storage.DIB.Bits[i] = data[i % size];
            for (int i = 0; i < 256 && size > 0; ++i)
                storage.DIB.Info.Colors[i] = TRGBQuad{data[(3 * i) % size], data[(3 * i + 1) % size],
                                                       data[(3 * i + 2) % size], 0};
            dib.SetConvertQuality((mode >> 5) & 1);
            dib.SetPixelFormat(TTzPixelFormat((mode >> 6) % 8 == int(dib.PixelFormat()) ? 7 : (mode >> 6) % 8));
            dib.SetPixelFormat(TTzPixelFormat(size % 6));
            break;
        }
        }
    } catch (const ETrazbitError &) {
    }
    return 0;
}
