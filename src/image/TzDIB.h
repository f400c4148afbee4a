#pragma once

// The picture as the program holds it whole.
//   TTzDIB - a device-independent bitmap (header, colour table, rows), shared
//            copy-on-write; LoadFromStream throws a TzDIB error
//            (TzDIBErrors.h) for data it cannot read.
// The tracers never read it: they read the black mask made from it
// (scan/BlackMask.h).

#include "image/DIBFormat.h"
#include "image/TzDIBErrors.h"
#include "image/TzInternalDIB.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>

class QIODevice;
class QPainter;

// The stages that the progress event of a long operation reports.
enum class TProgressStage { Starting, Running, Ending };

// The device-independent bitmap a picture is read into: a BITMAPINFOHEADER, a colour
// table of 256 entries and the pixel rows, held in a TTzInternalDIB that copies
// of this object share until one of them writes (copy-on-write).
//
// Pixels are addressed with Y counted from the top of the picture, whatever the
// stored row order. Within a row: 1 bit, most significant bit = leftmost pixel;
// 4 bits, high nibble = even x; 8 bits, one index; 24 bits, blue, green, red.
// 1-, 4- and 8-bit pixels are palette indices (their colour is Colors(index)).
class TTzDIB
{
public:
    // 1 x 1, 8 bit, palette size 2, both entries black.
    TTzDIB();
    // Copying is Assign: the storage is shared, no pixels are copied.
    TTzDIB(const TTzDIB &source);
    TTzDIB &operator=(const TTzDIB &source);
    ~TTzDIB();

    int Width() const;
    // A new width erases the picture and its colours (new blank bottom-up storage).
    void SetWidth(int width);
    int Height() const;
    // A new height erases the picture and its colours; negative makes a top-down image.
    void SetHeight(int height);
    int BitCount() const;
    // 1, 4, 8 or 24. A new bit count gives a blank image with 2^bits black entries.
    void SetBitCount(int bitCount);
    int PaletteSize() const;
    void SetPaletteSize(int paletteSize);
    // Colour-table entry 0..255 as $00BBGGRR (the entry need not lie within the palette size).
    TColor Colors(int index) const;
    void SetColors(int index, TColor colour);

    // The pixel at (x, y), y counted from the top: a palette index for 1, 4 and 8
    // bits, a colour $00BBGGRR for 24 bits. Compressed images raise ETzDIBBadDIBType.
    std::int32_t Pixels(int x, int y) const;
    // Writes a pixel. No change notification is sent.
    void SetPixels(int x, int y, std::int32_t value);

    TTzPixelFormat PixelFormat() const;
    // Converts the pixels to another storage format or into a halftone form
    // (tzPfHalfTone, tzPfHalfToneBW), keeping the picture. The slow routes to 4
    // and 8 bits announce their progress. A failed conversion leaves the picture
    // as it was.
    void SetPixelFormat(TTzPixelFormat format);

    // nullptr: back to the 1 x 1 default. Another TTzDIB: share its storage.
    void Assign(const TTzDIB *source);
    // A framework image of any format: 1 bit (Mono, MonoLSB), 8 bits (Indexed8,
    // Grayscale8) or else 24 bits. On failure the image stays as it was.
    void Assign(const QImage &source);
    void AssignTo(TTzDIB &dest) const;
    // A copy as a framework image: Mono, Indexed8 (4 and 8 bits) or BGR888,
    // with the image's own colour table; RLE pictures come out decoded.
    void AssignTo(QImage &dest) const;

    // The BMP file reader and writer. A failed load leaves the blank 1 x 1 default.
    void LoadFromStream(QIODevice &stream, const TBmpReadOptions &options = {});
    void SaveToStream(QIODevice &stream) const;
    // The packed DIB of the clipboard (format 8, CF_DIB).
    void LoadFromClipboardFormat(int format, const QByteArray &data);
    void SaveToClipboardFormat(int &format, QByteArray &data) const;
    // The clipboard format of the class.
    static int ClipboardFormat() { return CF_DIB; }

    // Fast row access for the tracers (uncompressed images only): the stored bytes
    // of picture row y (y from the top), and the padded row size.
    const std::uint8_t *ScanLine(int y) const;
    int RowSize() const;

    // The palette drawing uses: by DrawMode, 0 the image's own colour table
    // (nullptr without one), 1 the shared halftone palette, 2 the shared
    // black-and-white palette.
    TTzPalette Palette() const;
    // nullptr: palette size 0; else up to 256 entries become the colour table.
    void SetPalette(const TTzPalette &palette);
    // The two shared palettes, made once per process.
    static TTzPalette HalftonePalette();
    static TTzPalette BlackWhitePalette();

    // Stretches the whole image into rect, nearest pixel: DrawMode 0 with the
    // image's own colours, 1 through an 8-bit halftone, 2 through a black-and-white
    // halftone; any other DrawMode draws nothing.
    void Draw(QPainter &painter, const QRect &rect) const;
    bool Empty() const;

    std::uint8_t ConvertQuality() const { return FConvertQuality; }
    void SetConvertQuality(std::uint8_t quality) { FConvertQuality = quality; }
    TColor MonoColor() const { return FMonoColor; }
    void SetMonoColor(TColor colour) { FMonoColor = colour; }
    std::uint8_t DrawMode() const { return FDrawMode; }
    void SetDrawMode(std::uint8_t mode) { FDrawMode = mode; }

    // Called after every change of the picture (not after single pixel writes).
    std::function<void(TTzDIB &)> OnChange;
    void Changed();

    // The storage, for the canvas and the format conversions.
    TTzInternalDIB *InternalDIB() const { return FInternalDIB; }
    // Makes the storage unshared (copies it when another TTzDIB shares it).
    void UniqueDIB();

private:
    void DrawHalftone(QPainter &painter, const QRect &rect) const;
    void ReleaseInternalDIB();
    // Takes over new storage, releasing the old.
    void ReplaceInternalDIB(TTzInternalDIB *storage);
    void CheckInternalDIB(const char *message) const;

    TTzInternalDIB *FInternalDIB = nullptr;
    std::uint8_t FConvertQuality = 0;
    TColor FMonoColor = 0xFFFFFF;
    std::uint8_t FDrawMode = 0;

public:
    // Progress of the pixel-format conversions and of CreateTrueColorPalette.
    std::int32_t ProgressCount = 0;
    std::int32_t ProgressTotal = 0;
    QString ProgressText;
    // The progress event: the stage, the percentage done, the picture's rectangle
    // and the operation's text.
    std::function<void(TTzDIB &sender, TProgressStage stage, int percentDone, const QRect &rect,
                       const QString &message)>
        OnProgress;
    void Progress(TProgressStage stage, int percentDone, const QRect &rect, const QString &message);
    // Announces a slow operation of `total` steps: ProgressCount 0 and the starting event.
    void BeginProgress(std::int32_t total, const QString &text);
    // One step of it: the running event with the percentage done; the last step sends nothing.
    void ProgressStep();
    // The ending event, at 100 percent.
    void EndProgress();
};

// Raise the errors of the pixel operations (kept out of line).
[[noreturn]] void TzDIBRaiseBadDIBType(const char *message);
[[noreturn]] void TzDIBRaisePixelPosition(const char *message);
[[noreturn]] void TzDIBRaiseInvalidDIB(const char *message);

inline std::int32_t TTzDIB::Pixels(int x, int y) const
{
    const TTzInternalDIB &dib = *FInternalDIB;
    const TBitmapInfoHeader &header = dib.Header();
    if (header.biCompression != BI_RGB)
        TzDIBRaiseBadDIBType("TTzDIB.GetPixels: Bad DIB Type");
    if (x < 0 || x >= header.biWidth || y < 0 || y >= dib.Height)
        TzDIBRaisePixelPosition("TTzDIB.GetPixels: Pixel Position is Out of Range");
    const std::uint8_t *row = dib.Row(y);
    switch (header.biBitCount) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    case 8:
        return row[x];
    case 24: {
        const std::uint8_t *p = row + std::ptrdiff_t(x) * 3;
        return std::int32_t(p[0]) << 16 | std::int32_t(p[1]) << 8 | p[2];
    }
    default:
        TzDIBRaiseInvalidDIB("TTzDIB.GetPixels: GetPixel supports only Uncompressed DIB");
    }
}
