#include "image/TzDIBCanvas.h"

#include "image/TzDIB.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Reverses the order of the stored rows in place, one row buffer at a time.
void ReverseRows(TTzInternalDIB &storage)
{
    const std::size_t rowSize = std::size_t(storage.RowSize());
    std::vector<std::uint8_t> buffer(rowSize);
    std::uint8_t *bits = storage.DIB.Bits.get();
    for (std::int64_t top = 0, bottom = storage.Height - 1; top < bottom; ++top, --bottom) {
        std::uint8_t *a = bits + top * std::int64_t(rowSize);
        std::uint8_t *b = bits + bottom * std::int64_t(rowSize);
        std::memcpy(buffer.data(), a, rowSize);
        std::memcpy(a, b, rowSize);
        std::memcpy(b, buffer.data(), rowSize);
    }
}

} // namespace

TTzDIBCanvas::TTzDIBCanvas(TTzDIB &dib) : FDIB(dib)
{
    dib.UniqueDIB();
    TTzInternalDIB &storage = *dib.InternalDIB();
    const TBitmapInfoHeader &header = storage.Header();
    if (header.biCompression != BI_RGB)
        throw ETzDIBBadDIBType("TTzDIBCanvas.Create: Bad DIB Type");
    const int width = storage.Width;
    const int height = storage.Height;
    switch (header.biBitCount) {
    case 1: {
        FSurface = QImage(storage.DIB.Bits.get(), width, height, storage.RowSize(), QImage::Format_Mono);
        // The painter maps every colour to the nearer of the two entries.
        QList<QRgb> table(2);
        for (int i = 0; i < 2; ++i)
            table[i] = RGBQuadToQRgb(storage.DIB.Info.Colors[i]);
        FSurface.setColorTable(table);
        break;
    }
    case 24:
        FSurface = QImage(storage.DIB.Bits.get(), width, height, storage.RowSize(), QImage::Format_BGR888);
        break;
    default:
        dib.AssignTo(FOriginal);
        FOriginal = FOriginal.convertToFormat(QImage::Format_RGB32);
        FSurface = FOriginal.copy();
        break;
    }
    if (FSurface.isNull())
        throw EOutOfResources("TTzDIBCanvas.Create: Cannot Create Memory DC");
    // Rows stored bottom-up are turned top-down while the canvas draws, so that
    // every figure (points and lines as well as areas) lands on the pixels
    // asked for; a mirrored view would move the pixel-centred figures a row.
    FReversed = FOriginal.isNull() && header.biHeight > 0;
    if (FReversed)
        ReverseRows(storage);
    if (!begin(&FSurface)) {
        if (FReversed)
            ReverseRows(storage);
        throw EOutOfResources("TTzDIBCanvas.Create: Cannot Create Memory DC");
    }
}

TTzDIBCanvas::~TTzDIBCanvas()
{
    end();
    if (FReversed)
        ReverseRows(*FDIB.InternalDIB());
    if (!FOriginal.isNull())
        WriteBackColourCopy();
    FDIB.Changed();
}

void TTzDIBCanvas::WriteBackColourCopy()
{
    TTzInternalDIB &storage = *FDIB.InternalDIB();
    const int bits = storage.Header().biBitCount;
    int count = int(storage.Header().biClrUsed);
    if (count == 0)
        count = 1 << bits;
    count = std::min(count, 1 << bits);
    QList<QRgb> table(count);
    for (int i = 0; i < count; ++i)
        table[i] = RGBQuadToQRgb(storage.DIB.Info.Colors[i]);
    // The framework picks the nearest table colour for every pixel.
    const QImage indexed = FSurface.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
    for (int y = 0; y < storage.Height; ++y) {
        const auto *now = reinterpret_cast<const QRgb *>(FSurface.constScanLine(y));
        const auto *before = reinterpret_cast<const QRgb *>(FOriginal.constScanLine(y));
        const std::uint8_t *index = indexed.constScanLine(y);
        std::uint8_t *row = storage.Row(y);
        for (int x = 0; x < storage.Width; ++x) {
            if (now[x] == before[x])
                continue;
            if (bits == 8)
                row[x] = index[x];
            else if (x & 1)
                row[x >> 1] = std::uint8_t((row[x >> 1] & 0xF0) | index[x]);
            else
                row[x >> 1] = std::uint8_t((row[x >> 1] & 0x0F) | index[x] << 4);
        }
    }
}
