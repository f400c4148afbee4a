#include "image/PixelFormatConversion.h"

#include "image/TzDIB.h"
#include "image/TzDIBErrors.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::int64_t Rows(const TBitmapInfoHeader &h)
{
    return h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
}

bool Fits(const TTzDIBBlock &source, int bits, std::uint32_t compression)
{
    const TBitmapInfoHeader &h = source.Header();
    return h.biBitCount == bits && h.biCompression == compression;
}

// Every routine works on stored rows; a block must hold all of them.
std::uint8_t *StoredRow(const TTzDIBBlock &block, std::int64_t r)
{
    const TBitmapInfoHeader &h = block.Header();
    return block.Bits.get() + r * DIBRowSize(h.biWidth, h.biBitCount);
}

void CheckRows(const TTzDIBBlock &block)
{
    const TBitmapInfoHeader &h = block.Header();
    TzDIBAssert(DIBRowSize(h.biWidth, h.biBitCount) * Rows(h) <= block.BitsSize,
                "TTzIntenalDIB.SetPixelsFormat: Pixel Data is Too Short");
}

// One byte per pixel from a row of 1, 4 or 8 bits.
void UnpackRow(const std::uint8_t *row, int bits, std::int64_t width, std::uint8_t *out)
{
    switch (bits) {
    case 8:
        std::memcpy(out, row, std::size_t(width));
        return;
    case 4:
        for (std::int64_t x = 0; x + 1 < width; x += 2) {
            out[x] = row[x >> 1] >> 4;
            out[x + 1] = row[x >> 1] & 0x0F;
        }
        if (width & 1)
            out[width - 1] = row[width >> 1] >> 4;
        return;
    default: {
        // Eight pixels a byte, from a table of every byte's eight bits.
        static const auto bitsOf = [] {
            std::array<std::array<std::uint8_t, 8>, 256> table{};
            for (int b = 0; b < 256; ++b)
                for (int i = 0; i < 8; ++i)
                    table[b][i] = std::uint8_t((b >> (7 - i)) & 1);
            return table;
        }();
        std::int64_t x = 0;
        for (; x + 8 <= width; x += 8)
            std::memcpy(out + x, bitsOf[row[x >> 3]].data(), 8);
        for (; x < width; ++x)
            out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        return;
    }
    }
}

// A zero-filled row of 1, 4 or 8 bits from one byte per pixel.
void PackRow(const std::uint8_t *in, int bits, std::int64_t width, std::uint8_t *row)
{
    switch (bits) {
    case 8:
        std::memcpy(row, in, std::size_t(width));
        return;
    case 4:
        for (std::int64_t x = 0; x + 1 < width; x += 2)
            row[x >> 1] = std::uint8_t(in[x] << 4 | (in[x + 1] & 0x0F));
        if (width & 1)
            row[width >> 1] = std::uint8_t(in[width - 1] << 4);
        return;
    default: {
        std::int64_t x = 0;
        for (; x + 8 <= width; x += 8) {
            std::uint8_t b = 0;
            for (int i = 0; i < 8; ++i)
                b = std::uint8_t(b << 1 | (in[x + i] & 1));
            row[x >> 3] = b;
        }
        if (x < width) {
            std::uint8_t b = 0;
            for (std::int64_t i = x; i < width; ++i)
                b |= std::uint8_t((in[i] & 1) << (7 - (i - x)));
            row[x >> 3] = b;
        }
        return;
    }
    }
}

// An indexed picture to another depth, every index passed through map.
TTzDIBBlock MapIndices(const TTzDIBBlock &source, int bits, int paletteSize, const std::array<std::uint8_t, 256> &map)
{
    CheckRows(source);
    const TBitmapInfoHeader &h = source.Header();
    TTzDIBBlock out = TTzInternalDIB::CreateDIBBlockLike(source, paletteSize, bits);
    const std::int64_t width = h.biWidth;
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(width));
    bool identity = true;
    for (int i = 0; i < 256; ++i)
        identity = identity && map[i] == i;
    for (std::int64_t r = 0; r < Rows(h); ++r) {
        UnpackRow(StoredRow(source, r), h.biBitCount, width, indices.data());
        if (!identity)
            for (std::uint8_t &i : indices)
                i = map[i];
        PackRow(indices.data(), bits, width, StoredRow(out, r));
    }
    return out;
}

std::array<std::uint8_t, 256> Identity()
{
    std::array<std::uint8_t, 256> map{};
    for (int i = 0; i < 256; ++i)
        map[i] = std::uint8_t(i);
    return map;
}

// An indexed picture to 24 bits, each index replaced by its table colour.
TTzDIBBlock IndicesToTrueColour(const TTzDIBBlock &source)
{
    CheckRows(source);
    const TBitmapInfoHeader &h = source.Header();
    TTzDIBBlock out = TTzInternalDIB::CreateDIBBlockLike(source, 0, 24);
    const std::int64_t width = h.biWidth;
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(width));
    for (std::int64_t r = 0; r < Rows(h); ++r) {
        UnpackRow(StoredRow(source, r), h.biBitCount, width, indices.data());
        std::uint8_t *p = StoredRow(out, r);
        for (std::int64_t x = 0; x < width; ++x, p += 3) {
            const TRGBQuad &q = source.Info.Colors[indices[std::size_t(x)]];
            p[0] = q.rgbBlue;
            p[1] = q.rgbGreen;
            p[2] = q.rgbRed;
        }
    }
    return out;
}

// A 24-bit picture to 1, 4 or 8 bits: indexOf(blue, green, red pointer) gives each index.
template <class F>
TTzDIBBlock TrueColourToIndices(const TTzDIBBlock &source, int bits, const std::vector<TRGBQuad> &palette,
                                F &&indexOf)
{
    CheckRows(source);
    const TBitmapInfoHeader &h = source.Header();
    TTzDIBBlock out = TTzInternalDIB::CreateDIBBlockLike(source, 0, bits);
    std::copy(palette.begin(), palette.end(), out.Info.Colors);
    out.Header().biClrUsed = std::uint32_t(palette.size());
    const std::int64_t width = h.biWidth;
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(width));
    for (std::int64_t r = 0; r < Rows(h); ++r) {
        const std::uint8_t *p = StoredRow(source, r);
        for (std::int64_t x = 0; x < width; ++x, p += 3)
            indices[std::size_t(x)] = indexOf(p);
        PackRow(indices.data(), bits, width, StoredRow(out, r));
    }
    return out;
}

const std::vector<TRGBQuad> &BlackWhite()
{
    static const std::vector<TRGBQuad> table = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
    return table;
}

// An indexed picture to 1 bit: the entries whose colour is monoColour become white.
TTzDIBBlock IndicesToMono(const TTzDIBBlock &source, TColor monoColour)
{
    std::array<std::uint8_t, 256> map{};
    for (int i = 0; i < 256; ++i)
        map[i] = RGBQuadToColor(source.Info.Colors[i]) == (monoColour & 0xFFFFFF) ? 1 : 0;
    TTzDIBBlock out = MapIndices(source, 1, 2, map);
    std::copy(BlackWhite().begin(), BlackWhite().end(), out.Info.Colors);
    return out;
}

TTzDIBBlock TrueColourByHistogram(const TTzDIBBlock &source, int bits, const TProgressStepFn &step)
{
    const THistogramColours colours = ChooseColoursByHistogram(source, bits, step);
    const std::uint8_t *map = colours.Map.data();
    return TrueColourToIndices(source, bits, colours.Palette,
                               [map](const std::uint8_t *p) { return map[ColourKey565(p[2], p[1], p[0])]; });
}

TTzDIBBlock TrueColourOverAllPixels(const TTzDIBBlock &source, int bits, const TProgressStepFn &step)
{
    const TColourLookup colours = ChooseColoursOverAllPixels(source, bits, step);
    // Neighbouring pixels are mostly of one colour: the last answer is kept.
    std::uint32_t last = 0xFFFFFFFF;
    std::uint8_t lastIndex = 0;
    return TrueColourToIndices(source, bits, colours.Palette, [&](const std::uint8_t *p) {
        const std::uint32_t colour = std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
        if (colour != last) {
            last = colour;
            lastIndex = colours.IndexOf(p[2], p[1], p[0]);
        }
        return lastIndex;
    });
}

// The colours of one stored row of any uncompressed picture, as blue, green, red.
class TRowColours
{
public:
    explicit TRowColours(const TTzDIBBlock &source)
        : FSource(source), FIndices(static_cast<std::size_t>(source.Header().biWidth)),
          FColours(static_cast<std::size_t>(source.Header().biWidth) * 3)
    {
    }

    const std::uint8_t *Row(std::int64_t r)
    {
        const TBitmapInfoHeader &h = FSource.Header();
        if (h.biBitCount == 24)
            return StoredRow(FSource, r);
        UnpackRow(StoredRow(FSource, r), h.biBitCount, h.biWidth, FIndices.data());
        std::uint8_t *p = FColours.data();
        for (std::uint8_t i : FIndices) {
            const TRGBQuad &q = FSource.Info.Colors[i];
            *p++ = q.rgbBlue;
            *p++ = q.rgbGreen;
            *p++ = q.rgbRed;
        }
        return FColours.data();
    }

private:
    const TTzDIBBlock &FSource;
    std::vector<std::uint8_t> FIndices;
    std::vector<std::uint8_t> FColours;
};

void CheckHalftoneSource(const TTzDIBBlock &source, const char *format, const char *bitCount)
{
    const TBitmapInfoHeader &h = source.Header();
    if (h.biCompression != BI_RGB)
        throw ETzDIBBadDIBType(format);
    if (h.biBitCount != 1 && h.biBitCount != 4 && h.biBitCount != 8 && h.biBitCount != 24)
        throw ETzDIBBadDIBType(bitCount);
    CheckRows(source);
}

// Error diffusion (Floyd and Steinberg) over the stored rows: two rows of
// `channels` errors per pixel with a pixel of margin on either side.
// quantize(values, out) picks the output for the corrected values and writes
// back what it could not show.
template <int Channels, class Value, class Quantize>
void Diffuse(const TTzDIBBlock &source, TTzDIBBlock &out, int bits, Value &&value, Quantize &&quantize)
{
    const std::int64_t width = source.Header().biWidth;
    TRowColours colours(source);
    std::vector<std::int16_t> thisRow(static_cast<std::size_t>(width + 2) * Channels);
    std::vector<std::int16_t> nextRow(thisRow.size());
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(width));
    for (std::int64_t r = 0; r < Rows(source.Header()); ++r) {
        const std::uint8_t *p = colours.Row(r);
        std::fill(nextRow.begin(), nextRow.end(), std::int16_t(0));
        for (std::int64_t x = 0; x < width; ++x, p += 3) {
            int wanted[Channels];
            value(p, wanted);
            std::int16_t *e = &thisRow[std::size_t(x + 1) * Channels];
            std::int16_t *n = &nextRow[std::size_t(x + 1) * Channels];
            for (int c = 0; c < Channels; ++c)
                wanted[c] = std::clamp(wanted[c] + e[c] / 16, 0, 255);
            indices[std::size_t(x)] = quantize(wanted);
            for (int c = 0; c < Channels; ++c) {
                const int error = wanted[c];
                e[Channels + c] = std::int16_t(e[Channels + c] + 7 * error);
                n[c - Channels] = std::int16_t(n[c - Channels] + 3 * error);
                n[c] = std::int16_t(n[c] + 5 * error);
                n[Channels + c] = std::int16_t(n[Channels + c] + error);
            }
        }
        PackRow(indices.data(), bits, width, StoredRow(out, r));
        std::swap(thisRow, nextRow);
    }
}

} // namespace

TTzDIBBlock Convert1BitRGBTo4BitRGB(const TTzDIBBlock &source)
{
    if (!Fits(source, 1, BI_RGB))
        throw ETzDIBBadDIBType("Convert1BitRGBTo4BitRGB: Invalid Bitcount & Compression Combination");
    return MapIndices(source, 4, int(source.Header().biClrUsed), Identity());
}

TTzDIBBlock Convert1BitRGBTo8BitRGB(const TTzDIBBlock &source)
{
    if (!Fits(source, 1, BI_RGB))
        throw ETzDIBBadDIBType("Convert1BitRGBTo8BitRGB: Invalid Bitcount & Compression Combination");
    return MapIndices(source, 8, int(source.Header().biClrUsed), Identity());
}

TTzDIBBlock Convert4BitRGBTo8BitRGB(const TTzDIBBlock &source)
{
    if (!Fits(source, 4, BI_RGB))
        throw ETzDIBBadDIBType("Convert4BitRGBTo8BitRGB: Invalid Bitcount & Compression Combination");
    return MapIndices(source, 8, int(source.Header().biClrUsed), Identity());
}

TTzDIBBlock Convert1BitRGBToTrueColor(const TTzDIBBlock &source)
{
    if (!Fits(source, 1, BI_RGB))
        throw ETzDIBBadDIBType("Convert1BitRGBToTrueColor: Invalid Bitcount & Compression Combination");
    return IndicesToTrueColour(source);
}

TTzDIBBlock Convert4BitRGBToTrueColor(const TTzDIBBlock &source)
{
    if (!Fits(source, 4, BI_RGB))
        throw ETzDIBBadDIBType("Convert4BitRGBToTrueColor: Invalid Bitcount & Compression Combination");
    return IndicesToTrueColour(source);
}

TTzDIBBlock Convert8BitRGBToTrueColor(const TTzDIBBlock &source)
{
    if (!Fits(source, 8, BI_RGB))
        throw ETzDIBBadDIBType("Convert8BitRGBToTrueColor: Invalid Bitcount & Compression Combination");
    return IndicesToTrueColour(source);
}

TTzDIBBlock Convert8BitRGBTo4BitRGB(const TTzDIBBlock &source, const TProgressStepFn &step)
{
    if (!Fits(source, 8, BI_RGB))
        throw ETzDIBBadDIBType("Convert8BitRGBTo4BitRGB: Invalid Bitcount or Compression");
    CheckRows(source);
    const TPaletteColours colours = ChooseColoursFromPalette(source, 4, step);
    TTzDIBBlock out = MapIndices(source, 4, 0, colours.Remap);
    std::copy(colours.Palette.begin(), colours.Palette.end(), out.Info.Colors);
    out.Header().biClrUsed = std::uint32_t(colours.Palette.size());
    return out;
}

TTzDIBBlock Convert4BitRGBTo1BitRGB(const TTzDIBBlock &source, TColor monoColour)
{
    if (!Fits(source, 4, BI_RGB))
        throw ETzDIBBadDIBType("Convert4BitRGBTo1BitRGB: Invalid Bitcount");
    return IndicesToMono(source, monoColour);
}

TTzDIBBlock Convert8BitTo1BitRGB(const TTzDIBBlock &source, TColor monoColour)
{
    if (!Fits(source, 8, BI_RGB))
        throw ETzDIBBadDIBType("Convert8BitTo1BitRGB: Invalid Bitcount or Compression");
    return IndicesToMono(source, monoColour);
}

TTzDIBBlock ConvertTrueColorTo1BitRGB(const TTzDIBBlock &source, TColor monoColour)
{
    if (!Fits(source, 24, BI_RGB))
        throw ETzDIBBadDIBType("ConvertTrueColorTo1BitRGB: Invalid Bitcount");
    const std::uint8_t red = std::uint8_t(monoColour), green = std::uint8_t(monoColour >> 8),
                       blue = std::uint8_t(monoColour >> 16);
    return TrueColourToIndices(source, 1, BlackWhite(), [=](const std::uint8_t *p) {
        return std::uint8_t(p[0] == blue && p[1] == green && p[2] == red ? 1 : 0);
    });
}

TTzDIBBlock ConvertTrueColorTo4BitRGBLow(const TTzDIBBlock &source, const TProgressStepFn &step)
{
    if (!Fits(source, 24, BI_RGB))
        throw ETzDIBBadDIBType("ConvertTrueColorTo4BitRGBLow: Invalid Bitcount");
    return TrueColourByHistogram(source, 4, step);
}

TTzDIBBlock ConvertTrueColorTo8BitRGBLow(const TTzDIBBlock &source, const TProgressStepFn &step)
{
    if (!Fits(source, 24, BI_RGB))
        throw ETzDIBBadDIBType("ConvertTrueColorTo8BitRGBLow: Invalid Bitcount");
    return TrueColourByHistogram(source, 8, step);
}

TTzDIBBlock ConvertTrueColorTo4BitRGBHigh(const TTzDIBBlock &source, const TProgressStepFn &step)
{
    if (!Fits(source, 24, BI_RGB))
        throw ETzDIBBadDIBType("ConvertTrueColorTo4BitRGBHigh: Invalid Bitcount");
    return TrueColourOverAllPixels(source, 4, step);
}

TTzDIBBlock ConvertTrueColorTo8BitRGBHigh(const TTzDIBBlock &source, const TProgressStepFn &step)
{
    if (!Fits(source, 24, BI_RGB))
        throw ETzDIBBadDIBType("ConvertTrueColorTo8BitRGBHigh: Invalid Bitcount");
    return TrueColourOverAllPixels(source, 8, step);
}

TTzDIBBlock ConvertToHalfTone(const TTzDIBBlock &source)
{
    CheckHalftoneSource(source, "ConvertToHalfTone: Invalid DIB Format", "ConvertToHalfTone: Invalid Bit Count");
    TTzDIBBlock out = TTzInternalDIB::CreateDIBBlockLike(source, 0, 8);
    const TTzPalette halftone = TTzDIB::HalftonePalette();
    for (qsizetype i = 0; i < halftone->size(); ++i)
        out.Info.Colors[i] = QRgbToRGBQuad(halftone->at(i));
    out.Header().biClrUsed = std::uint32_t(halftone->size());
    // The grid levels of red (6), green (7) and blue (5).
    static const int reds[] = {0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF};
    static const int greens[] = {0x00, 0x2B, 0x55, 0x80, 0xAB, 0xD6, 0xFF};
    static const int blues[] = {0x00, 0x40, 0x80, 0xC0, 0xFF};
    const auto nearest = [](int v, const int *levels, int count) {
        int best = 0;
        for (int i = 1; i < count; ++i)
            if (std::abs(levels[i] - v) < std::abs(levels[best] - v))
                best = i;
        return best;
    };
    Diffuse<3>(
        source, out, 8,
        [](const std::uint8_t *p, int *wanted) {
            wanted[0] = p[2];
            wanted[1] = p[1];
            wanted[2] = p[0];
        },
        [&](int *wanted) {
            const int r = nearest(wanted[0], reds, 6), g = nearest(wanted[1], greens, 7),
                      b = nearest(wanted[2], blues, 5);
            wanted[0] -= reds[r];
            wanted[1] -= greens[g];
            wanted[2] -= blues[b];
            return std::uint8_t(r * 35 + g * 5 + b);
        });
    return out;
}

TTzDIBBlock ConvertToHalfToneBW(const TTzDIBBlock &source)
{
    CheckHalftoneSource(source, "ConvertToHalfToneBW: Invalid DIB Format", "ConvertToHalfToneBW: Invalid Bit Count");
    TTzDIBBlock out = TTzInternalDIB::CreateDIBBlockLike(source, 0, 1);
    std::copy(BlackWhite().begin(), BlackWhite().end(), out.Info.Colors);
    out.Header().biClrUsed = 2;
    Diffuse<1>(
        source, out, 1,
        [](const std::uint8_t *p, int *wanted) { wanted[0] = (p[2] * 77 + p[1] * 150 + p[0] * 29 + 128) >> 8; },
        [](int *wanted) {
            const bool white = wanted[0] >= 128;
            wanted[0] -= white ? 255 : 0;
            return std::uint8_t(white ? 1 : 0);
        });
    return out;
}

void SetPixelsFormat(TTzInternalDIB &storage, TTzPixelFormat target, std::uint8_t convertQuality,
                     const TProgressStepFn &step, TColor monoColour)
{
    const auto routeError = [] { return ETzDIBAssert("TTzIntenalDIB.SetPixelsFormat: PixelFormat Error"); };
    if (convertQuality > 1)
        throw routeError();
    TTzPixelFormat current = storage.GetPixelFormat();
    if (current == target)
        throw routeError();

    // An RLE source is decoded first, unless the target is its other RLE form's
    // uncompressed source anyway (then the decoding is the whole route).
    TTzDIBBlock decoded;
    const TTzDIBBlock *source = &storage.DIB;
    if (current == tzPf4BitRLE) {
        decoded = Convert4BitRLETo4BitRGB(*source);
        source = &decoded;
        current = tzPf4Bit;
    } else if (current == tzPf8BitRLE) {
        decoded = Convert8BitRLETo8BitRGB(*source);
        source = &decoded;
        current = tzPf8Bit;
    }

    TTzDIBBlock result;
    const bool high = convertQuality == 1;
    switch (target) {
    case tzPfHalfTone:
        result = ConvertToHalfTone(*source);
        break;
    case tzPfHalfToneBW:
        result = ConvertToHalfToneBW(*source);
        break;
    case tzPf1Bit:
        switch (current) {
        case tzPf4Bit:
            result = Convert4BitRGBTo1BitRGB(*source, monoColour);
            break;
        case tzPf8Bit:
            result = Convert8BitTo1BitRGB(*source, monoColour);
            break;
        case tzPf24Bit:
            result = ConvertTrueColorTo1BitRGB(*source, monoColour);
            break;
        default:
            throw routeError();
        }
        break;
    case tzPf4Bit:
    case tzPf4BitRLE:
        switch (current) {
        case tzPf1Bit:
            result = Convert1BitRGBTo4BitRGB(*source);
            break;
        case tzPf4Bit:
            if (target == tzPf4Bit) // decoding was the route
                result = std::move(decoded);
            break;
        case tzPf8Bit:
            result = Convert8BitRGBTo4BitRGB(*source, step);
            break;
        case tzPf24Bit:
            result = high ? ConvertTrueColorTo4BitRGBHigh(*source, step) : ConvertTrueColorTo4BitRGBLow(*source, step);
            break;
        default:
            throw routeError();
        }
        if (target == tzPf4BitRLE)
            result = Convert4BitRGBTo4BitRLE(result.Bits ? result : *source);
        break;
    case tzPf8Bit:
    case tzPf8BitRLE:
        switch (current) {
        case tzPf1Bit:
            result = Convert1BitRGBTo8BitRGB(*source);
            break;
        case tzPf4Bit:
            result = Convert4BitRGBTo8BitRGB(*source);
            break;
        case tzPf8Bit:
            if (target == tzPf8Bit)
                result = std::move(decoded);
            break;
        case tzPf24Bit:
            result = high ? ConvertTrueColorTo8BitRGBHigh(*source, step) : ConvertTrueColorTo8BitRGBLow(*source, step);
            break;
        default:
            throw routeError();
        }
        if (target == tzPf8BitRLE)
            result = Convert8BitRGBTo8BitRLE(result.Bits ? result : *source);
        break;
    case tzPf24Bit:
        switch (current) {
        case tzPf1Bit:
            result = Convert1BitRGBToTrueColor(*source);
            break;
        case tzPf4Bit:
            result = Convert4BitRGBToTrueColor(*source);
            break;
        case tzPf8Bit:
            result = Convert8BitRGBToTrueColor(*source);
            break;
        default:
            throw routeError();
        }
        break;
    default:
        throw routeError();
    }
    TzDIBAssert(result.Bits != nullptr, "TTzIntenalDIB.SetPixelsFormat: PixelFormat Error");
    // The intermediate goes before the result is taken over.
    decoded = TTzDIBBlock();
    storage.Commit(std::move(result));
}
