#include "image/TzDIB.h"

#include "image/PixelFormatConversion.h"
#include "image/SystemColors.h"
#include "image/TzDIBCanvas.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cstring>

void TzDIBRaiseBadDIBType(const char *message)
{
    throw ETzDIBBadDIBType(message);
}

void TzDIBRaisePixelPosition(const char *message)
{
    throw ETzDIBPixelPositionRange(message);
}

void TzDIBRaiseInvalidDIB(const char *message)
{
    throw ETzDIBInvalidDIB(message);
}

// ---------------------------------------------------------------------------
// Life and sharing

TTzDIB::TTzDIB() : FInternalDIB(new TTzInternalDIB)
{
}

TTzDIB::TTzDIB(const TTzDIB &source)
    : FInternalDIB(source.FInternalDIB), FConvertQuality(source.FConvertQuality),
      FMonoColor(source.FMonoColor), FDrawMode(source.FDrawMode)
{
    TzDIBAssert(FInternalDIB != nullptr, "TTzDIB.Assign: InternalDIB Should not be Nil");
    ++FInternalDIB->RefCount;
}

TTzDIB &TTzDIB::operator=(const TTzDIB &source)
{
    Assign(&source);
    return *this;
}

TTzDIB::~TTzDIB()
{
    if (FInternalDIB)
        ReleaseInternalDIB();
}

void TTzDIB::CheckInternalDIB(const char *message) const
{
    TzDIBAssert(FInternalDIB != nullptr, message);
}

void TTzDIB::ReleaseInternalDIB()
{
    CheckInternalDIB("TTZDIB.ReleaseInternalDIB: InternalDIB should not be Nil");
    if (--FInternalDIB->RefCount == 0)
        delete FInternalDIB;
    FInternalDIB = nullptr;
}

void TTzDIB::ReplaceInternalDIB(TTzInternalDIB *storage)
{
    if (FInternalDIB)
        ReleaseInternalDIB();
    FInternalDIB = storage;
}

void TTzDIB::UniqueDIB()
{
    CheckInternalDIB("TTzDIB.UniqueDIB: InternalDIB Should not be Nil");
    if (FInternalDIB->RefCount == 1)
        return;
    std::unique_ptr<TTzInternalDIB> copy = FInternalDIB->Duplicate();
    ReplaceInternalDIB(copy.release());
}

void TTzDIB::Changed()
{
    if (OnChange)
        OnChange(*this);
}

void TTzDIB::Progress(TProgressStage stage, int percentDone, const QRect &rect, const QString &message)
{
    if (OnProgress)
        OnProgress(*this, stage, percentDone, rect, message);
}

void TTzDIB::BeginProgress(std::int32_t total, const QString &text)
{
    ProgressTotal = total;
    ProgressText = text;
    ProgressCount = 0;
    Progress(TProgressStage::Starting, 0, QRect(0, 0, Width(), Height()), ProgressText);
}

void TTzDIB::ProgressStep()
{
    ++ProgressCount;
    if (ProgressCount == ProgressTotal || ProgressTotal <= 0)
        return;
    Progress(TProgressStage::Running, int(std::int64_t(ProgressCount) * 100 / ProgressTotal),
             QRect(0, 0, Width(), Height()), ProgressText);
}

void TTzDIB::EndProgress()
{
    Progress(TProgressStage::Ending, 100, QRect(0, 0, Width(), Height()), ProgressText);
}

bool TTzDIB::Empty() const
{
    CheckInternalDIB("TTzDIB.GetEmpty: InternalDIB Should not be Nil");
    return false;
}

// ---------------------------------------------------------------------------
// Size and depth

int TTzDIB::Width() const
{
    CheckInternalDIB("TTzDIB.GetWidth: InternalDIB Should not be Nil");
    return FInternalDIB->Width;
}

int TTzDIB::Height() const
{
    CheckInternalDIB("TTzDIB.GetHeight: InternalDIB Should not be Nil");
    return FInternalDIB->Height;
}

int TTzDIB::BitCount() const
{
    CheckInternalDIB("TTzDIB.GetBitCount: InternalDIB Should not be Nil");
    return FInternalDIB->Header().biBitCount;
}

int TTzDIB::PaletteSize() const
{
    CheckInternalDIB("TTzDIB.GetPaletteSize: InternalDIB Should not be Nil");
    return int(FInternalDIB->Header().biClrUsed);
}

void TTzDIB::SetWidth(int width)
{
    CheckInternalDIB("TTzDIB.SetWidth: InternalDIB Should not be Nil");
    if (width <= 0)
        throw ETzDIBInvalidDIBPara("TTzDIB.SetWidth: Invalid Width");
    if (width == FInternalDIB->Width)
        return;
    auto storage = std::make_unique<TTzInternalDIB>();
    storage->CreateDIB(width, FInternalDIB->Height, PaletteSize(), BitCount());
    ReplaceInternalDIB(storage.release());
    Changed();
}

void TTzDIB::SetHeight(int height)
{
    CheckInternalDIB("TTzDIB.SetHeight: InternalDIB Should not be Nil");
    if (height == 0)
        throw ETzDIBInvalidDIBPara("TTzDIB.SetHeight: Invalid Height");
    // The height as it reads, or the same top-down height, keeps the picture.
    if (height == FInternalDIB->Height || height == FInternalDIB->Header().biHeight)
        return;
    auto storage = std::make_unique<TTzInternalDIB>();
    storage->CreateDIB(FInternalDIB->Width, height, PaletteSize(), BitCount());
    ReplaceInternalDIB(storage.release());
    Changed();
}

void TTzDIB::SetBitCount(int bitCount)
{
    CheckInternalDIB("TTzDIB.SetBitCount: InternalDIB Should not be Nil");
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)
        throw ETzDIBInvalidDIBPara("TTzDIB.SetBitCount: Invalid BitCount");
    if (bitCount == BitCount())
        return;
    auto storage = std::make_unique<TTzInternalDIB>();
    storage->CreateDIB(FInternalDIB->Width, FInternalDIB->Height, bitCount == 24 ? 0 : 1 << bitCount,
                       bitCount);
    ReplaceInternalDIB(storage.release());
    Changed();
}

// ---------------------------------------------------------------------------
// Colour table

void TTzDIB::SetPaletteSize(int paletteSize)
{
    CheckInternalDIB("TTzDIB.SetPaletteSize: InternalDIB Should not be Nil");
    if (BitCount() == 24) {
        if (paletteSize < 0 || paletteSize > 256)
            throw ETzDIBPaletteIndexRange("TTzDIB.SetPaletteSize: Palette Index is Out of Range 1");
    } else if (paletteSize < 1 || paletteSize > 256) {
        throw ETzDIBPaletteIndexRange("TTzDIB.SetPaletteSize: Palette Index is Out of Range 2");
    }
    if (std::uint32_t(paletteSize) == FInternalDIB->Header().biClrUsed)
        return;
    UniqueDIB();
    FInternalDIB->Header().biClrUsed = std::uint32_t(paletteSize);
    FInternalDIB->Header().biClrImportant = 0;
    FInternalDIB->UpdatePalette();
    Changed();
}

TColor TTzDIB::Colors(int index) const
{
    CheckInternalDIB("TTzDIB.GetColors: InternalDIB Should not be Nil");
    if (index < 0 || index > 255)
        throw ETzDIBPaletteIndexRange("TTzDIB.GetColors: Palette Index is Out of Range");
    return RGBQuadToColor(FInternalDIB->DIB.Info.Colors[index]);
}

void TTzDIB::SetColors(int index, TColor colour)
{
    CheckInternalDIB("TTzDIB.SetColors: InternalDIB Should not be Nil");
    if (index < 0 || index > 255)
        throw ETzDIBPaletteIndexRange("TTzDIB.SetColors: Palette Index is Out of Range");
    UniqueDIB();
    FInternalDIB->DIB.Info.Colors[index] = ColorToRGBQuad(ColorToRGB(colour));
    FInternalDIB->UpdatePalette();
    Changed();
}

TTzPalette TTzDIB::Palette() const
{
    CheckInternalDIB("TTzDIB.GetPalette: InternalDIB Should not be Nil");
    switch (FDrawMode) {
    case 0:
        return FInternalDIB->GetPaletteFromDIBInfos();
    case 1:
    case 2:
        try {
            return FDrawMode == 1 ? HalftonePalette() : BlackWhitePalette();
        } catch (const std::bad_alloc &) {
            throw EOutOfResources("TTzDIB.GetPalette: Cannot Make Palette(1)");
        }
    default:
        return nullptr;
    }
}

void TTzDIB::SetPalette(const TTzPalette &palette)
{
    CheckInternalDIB("TTzDIB.SetPalette: InternalDIB Should not be Nil");
    UniqueDIB();
    TTzInternalDIB &dib = *FInternalDIB;
    if (!palette) {
        dib.Header().biClrUsed = 0;
        dib.UpdatePalette();
    } else {
        if (palette->isEmpty())
            throw ETzDIBInvalidPalette("TTzDIB.SetPalette: Invalid Palette");
        const qsizetype count = std::min<qsizetype>(palette->size(), 256);
        for (qsizetype i = 0; i < count; ++i)
            dib.DIB.Info.Colors[i] = QRgbToRGBQuad(palette->at(i));
        dib.Header().biClrUsed = std::uint32_t(count);
        dib.UpdatePalette();
        if (count == palette->size())
            dib.Palette = palette;
    }
    Changed();
}

TTzPalette TTzDIB::HalftonePalette()
{
    static const TTzPalette palette = [] {
        static const int reds[] = {0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF};
        static const int greens[] = {0x00, 0x2B, 0x55, 0x80, 0xAB, 0xD6, 0xFF};
        static const int blues[] = {0x00, 0x40, 0x80, 0xC0, 0xFF};
        QList<QRgb> colours;
        for (int r : reds)
            for (int g : greens)
                for (int b : blues)
                    colours.append(qRgb(r, g, b));
        colours << qRgb(0x80, 0, 0) << qRgb(0x80, 0x80, 0) << qRgb(0x80, 0, 0x80)
                << qRgb(0xC0, 0xC0, 0xC0) << qRgb(0x80, 0x80, 0x80);
        return std::make_shared<const QList<QRgb>>(std::move(colours));
    }();
    return palette;
}

TTzPalette TTzDIB::BlackWhitePalette()
{
    static const TTzPalette palette =
        std::make_shared<const QList<QRgb>>(QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)});
    return palette;
}

// ---------------------------------------------------------------------------
// Pixels

void TTzDIB::SetPixels(int x, int y, std::int32_t value)
{
    if (FInternalDIB->RefCount != 1)
        UniqueDIB();
    TTzInternalDIB &dib = *FInternalDIB;
    const TBitmapInfoHeader &header = dib.Header();
    if (header.biCompression != BI_RGB)
        throw ETzDIBBadDIBType("TTzDIB.SetPixels: Bad DIB Type");
    if (x < 0 || x >= header.biWidth || y < 0 || y >= dib.Height)
        throw ETzDIBPixelPositionRange("TTzDIB.SetPixels: Pixel Position is Out of Range");
    std::uint8_t *row = dib.Row(y);
    switch (header.biBitCount) {
    case 1: {
        const std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
        if (value != 0)
            row[x >> 3] |= bit;
        else
            row[x >> 3] &= std::uint8_t(~bit);
        break;
    }
    case 4: {
        std::uint8_t &b = row[x >> 1];
        b = (x & 1) ? std::uint8_t((b & 0xF0) | (value & 0x0F))
                    : std::uint8_t((b & 0x0F) | (value & 0x0F) << 4);
        break;
    }
    case 8:
        if (value < 0 || value > 255)
            throw ERangeError("Range check error");
        row[x] = std::uint8_t(value);
        break;
    case 24: {
        if (value < 0)
            throw ERangeError("Range check error");
        std::uint8_t *p = row + std::ptrdiff_t(x) * 3;
        p[0] = std::uint8_t(value >> 16);
        p[1] = std::uint8_t(value >> 8);
        p[2] = std::uint8_t(value);
        break;
    }
    default:
        throw ETzDIBInvalidDIB("TTzDIB.SetPixels: GetPixel supports only Uncompressed 8 or 24 bit DIB");
    }
}

const std::uint8_t *TTzDIB::ScanLine(int y) const
{
    const TTzInternalDIB &dib = *FInternalDIB;
    if (dib.Header().biCompression != BI_RGB)
        throw ETzDIBBadDIBType("TTzDIB.ScanLine: Bad DIB Type");
    if (y < 0 || y >= dib.Height)
        throw ETzDIBPixelPositionRange("TTzDIB.ScanLine: Pixel Position is Out of Range");
    return dib.Row(y);
}

int TTzDIB::RowSize() const
{
    return FInternalDIB->RowSize();
}

TTzPixelFormat TTzDIB::PixelFormat() const
{
    CheckInternalDIB("TTzDIB.GetPixelFormat: InternalDIB Should not be Nil");
    return FInternalDIB->GetPixelFormat();
}

namespace {

// The slow routes, announced with their text and step count.
struct TAnnouncedRoute
{
    TTzPixelFormat From, To;
    const char *Text;
    std::int32_t Steps;
};

constexpr TAnnouncedRoute AnnouncedRoutes[] = {
    {tzPf8Bit, tzPf4Bit, "PixelFormat 8Bit -> 4Bit", 16},
    {tzPf8Bit, tzPf4BitRLE, "PixelFormat 8Bit -> 4BitRLE", 16},
    {tzPf8BitRLE, tzPf4Bit, "PixelFormat 8BitRLE -> 4Bit", 16},
    {tzPf8BitRLE, tzPf4BitRLE, "PixelFormat 8BitRLE -> 4BitRLE", 16},
    {tzPf24Bit, tzPf4Bit, "PixelFormat 24Bit -> 4Bit", 16},
    {tzPf24Bit, tzPf4BitRLE, "PixelFormat 24Bit -> 4BitRLE", 16},
    {tzPf24Bit, tzPf8Bit, "PixelFormat 24Bit -> 8Bit", 256},
    {tzPf24Bit, tzPf8BitRLE, "PixelFormat 24Bit -> 8BitRLE", 256},
};

} // namespace

void TTzDIB::SetPixelFormat(TTzPixelFormat format)
{
    CheckInternalDIB("TTzDIB.SetPixelFormat: InternalDIB Should not be Nil");
    const TTzPixelFormat current = PixelFormat();
    if (format == current)
        return;
    UniqueDIB();
    const TAnnouncedRoute *announced = nullptr;
    for (const TAnnouncedRoute &route : AnnouncedRoutes)
        if (route.From == current && route.To == format)
            announced = &route;
    if (announced)
        BeginProgress(announced->Steps, QString::fromLatin1(announced->Text));
    const auto finish = [&] {
        if (announced)
            EndProgress();
    };
    try {
        SetPixelsFormat(*FInternalDIB, format, FConvertQuality, [this] { ProgressStep(); },
                        ColorToRGB(FMonoColor));
    } catch (const std::bad_alloc &) {
        finish();
        throw EOutOfMemory("TTzDIB.SetPixelFormat: Out Of Memory");
    } catch (...) {
        finish();
        throw;
    }
    finish();
    Changed();
}

// ---------------------------------------------------------------------------
// Assignment

void TTzDIB::Assign(const TTzDIB *source)
{
    if (!source) {
        auto storage = std::make_unique<TTzInternalDIB>();
        ReplaceInternalDIB(storage.release());
        return;
    }
    CheckInternalDIB("TTzDIB.Assign: InternalDIB Should not be Nil");
    if (source == this)
        return;
    TTzInternalDIB *shared = source->FInternalDIB;
    TzDIBAssert(shared != nullptr, "TTzDIB.Assign: InternalDIB Should not be Nil");
    ++shared->RefCount;
    ReplaceInternalDIB(shared);
    FMonoColor = source->FMonoColor;
    FConvertQuality = source->FConvertQuality;
    FDrawMode = source->FDrawMode;
}

namespace {

// Mono images may leave the bits beyond the width undefined; the stored rows
// keep them clear.
void ClearTail(std::uint8_t *row, int width)
{
    if (width & 7)
        row[width >> 3] &= std::uint8_t(0xFF00 >> (width & 7));
}

const std::uint8_t *BitReverseTable()
{
    static const auto table = [] {
        std::array<std::uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b))
                    r |= 0x80 >> b;
            t[i] = std::uint8_t(r);
        }
        return t;
    }();
    return table.data();
}

void CopyColourTable(TTzInternalDIB &dib, const QList<QRgb> &table)
{
    const qsizetype count = std::min<qsizetype>(table.size(), 256);
    for (qsizetype i = 0; i < count; ++i)
        dib.DIB.Info.Colors[i] = QRgbToRGBQuad(table[i]);
    dib.Header().biClrUsed = std::uint32_t(count);
}

// Rows of any other format become blue, green, red.
void CopyTrueColourRows(TTzInternalDIB &dib, const QImage &source)
{
    const int width = source.width();
    const int height = source.height();
    switch (source.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        for (int y = 0; y < height; ++y) {
            const auto *src = reinterpret_cast<const QRgb *>(source.constScanLine(y));
            std::uint8_t *dest = dib.Row(y);
            for (int x = 0; x < width; ++x, dest += 3) {
                dest[0] = std::uint8_t(qBlue(src[x]));
                dest[1] = std::uint8_t(qGreen(src[x]));
                dest[2] = std::uint8_t(qRed(src[x]));
            }
        }
        return;
    case QImage::Format_BGR888:
        for (int y = 0; y < height; ++y)
            std::memcpy(dib.Row(y), source.constScanLine(y), std::size_t(width) * 3);
        return;
    case QImage::Format_RGB888:
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *src = source.constScanLine(y);
            std::uint8_t *dest = dib.Row(y);
            for (int x = 0; x < width; ++x, src += 3, dest += 3) {
                dest[0] = src[2];
                dest[1] = src[1];
                dest[2] = src[0];
            }
        }
        return;
    default:
        break;
    }
    // Converted by the framework a band of rows at a time, so that a large
    // picture is never held twice.
    constexpr int band = 64;
    for (int top = 0; top < height; top += band) {
        const int rows = std::min(band, height - top);
        const QImage converted = source.copy(0, top, width, rows).convertToFormat(QImage::Format_BGR888);
        if (converted.isNull())
            throw EOutOfResources("GetFileMap: Cannot Make File Mapping Object");
        for (int y = 0; y < rows; ++y)
            std::memcpy(dib.Row(top + y), converted.constScanLine(y), std::size_t(width) * 3);
    }
}

} // namespace

void TTzDIB::Assign(const QImage &source)
{
    CheckInternalDIB("TTzDIB.Assign: InternalDIB Should not be Nil");
    const int width = source.width();
    const int height = source.height();
    int bitCount = 24;
    switch (source.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        bitCount = 1;
        break;
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
        bitCount = 8;
        break;
    default:
        break;
    }
    auto storage = std::make_unique<TTzInternalDIB>();
    storage->CreateDIB(width, height, 0, bitCount);
    TTzInternalDIB &dib = *storage;

    switch (source.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
        const bool lsb = source.format() == QImage::Format_MonoLSB;
        const std::uint8_t *reverse = BitReverseTable();
        const int bytes = (width + 7) / 8;
        for (int y = 0; y < height; ++y) {
            std::uint8_t *dest = dib.Row(y);
            std::memcpy(dest, source.constScanLine(y), std::size_t(bytes));
            if (lsb)
                for (int i = 0; i < bytes; ++i)
                    dest[i] = reverse[dest[i]];
            ClearTail(dest, width);
        }
        // A mono image without table is black on white, as the framework draws it.
        const QList<QRgb> table = source.colorTable();
        CopyColourTable(dib, table.isEmpty() ? QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)} : table);
        break;
    }
    case QImage::Format_Indexed8:
        for (int y = 0; y < height; ++y)
            std::memcpy(dib.Row(y), source.constScanLine(y), std::size_t(width));
        CopyColourTable(dib, source.colorTable());
        break;
    case QImage::Format_Grayscale8: {
        for (int y = 0; y < height; ++y)
            std::memcpy(dib.Row(y), source.constScanLine(y), std::size_t(width));
        QList<QRgb> grey(256);
        for (int i = 0; i < 256; ++i)
            grey[i] = qRgb(i, i, i);
        CopyColourTable(dib, grey);
        break;
    }
    default:
        CopyTrueColourRows(dib, source);
        break;
    }
    if (dib.Header().biClrUsed == 0)
        dib.Header().biClrUsed = DefaultPaletteSize(bitCount);

    ReplaceInternalDIB(storage.release());
    FInternalDIB->UpdatePalette();
    Changed();
}

void TTzDIB::AssignTo(TTzDIB &dest) const
{
    CheckInternalDIB("TTzDIB.AssignTo: InternalDIB Should not be Nil");
    dest.Assign(this);
}

void TTzDIB::AssignTo(QImage &dest) const
{
    CheckInternalDIB("TTzDIB.AssignTo: InternalDIB Should not be Nil");
    const TTzInternalDIB &dib = *FInternalDIB;
    const TTzPixelFormat format = dib.GetPixelFormat();
    QImage::Format target;
    switch (format) {
    case tzPf1Bit:
        target = QImage::Format_Mono;
        break;
    case tzPf4Bit:
    case tzPf8Bit:
        target = QImage::Format_Indexed8;
        break;
    case tzPf24Bit:
        target = QImage::Format_BGR888;
        break;
    case tzPf4BitRLE:
    case tzPf8BitRLE: {
        // Decoded on a copy; this image keeps its compressed pixels.
        TTzDIB decoded(*this);
        decoded.SetPixelFormat(format == tzPf4BitRLE ? tzPf4Bit : tzPf8Bit);
        decoded.AssignTo(dest);
        return;
    }
    default:
        throw ETzDIBAssert("TTzDIB.AssignTo: Illegal PixelFormat");
    }
    const int width = dib.Width;
    const int height = dib.Height;
    QImage image(width, height, target);
    if (image.isNull())
        throw EOutOfResources("GetFileMap: Cannot Make File Mapping Object");
    if (target != QImage::Format_BGR888) {
        // The image's own colour table; a mono image needs both entries.
        int count = int(dib.Header().biClrUsed);
        if (format == tzPf1Bit)
            count = std::max(count, 2);
        QList<QRgb> table(count);
        for (int i = 0; i < count; ++i)
            table[i] = RGBQuadToQRgb(dib.DIB.Info.Colors[i]);
        image.setColorTable(table);
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *src = dib.Row(y);
        std::uint8_t *out = image.scanLine(y);
        switch (format) {
        case tzPf1Bit:
            std::memcpy(out, src, std::size_t((width + 7) / 8));
            break;
        case tzPf4Bit:
            for (int x = 0; x < width; ++x)
                out[x] = (x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4;
            break;
        case tzPf8Bit:
            std::memcpy(out, src, std::size_t(width));
            break;
        default:
            std::memcpy(out, src, std::size_t(width) * 3);
            break;
        }
    }
    dest = image;
}

// ---------------------------------------------------------------------------
// Streams and clipboard

void TTzDIB::LoadFromStream(QIODevice &stream, const TBmpReadOptions &options)
{
    ReplaceInternalDIB(nullptr);
    FInternalDIB = new TTzInternalDIB;
    FInternalDIB->LoadFromStream(stream, options);
    Changed();
}

void TTzDIB::SaveToStream(QIODevice &stream) const
{
    CheckInternalDIB("TTzDIB.SaveToStream: InternalDIB Should not be Nil");
    FInternalDIB->SaveToStream(stream);
}

void TTzDIB::LoadFromClipboardFormat(int format, const QByteArray &data)
{
    if (format != CF_DIB || data.isEmpty())
        throw EInvalidGraphic("TTzDIB.LoadFromClipboardFormat: Invalid Clipboard Format or No Data");
    ReplaceInternalDIB(nullptr);
    FInternalDIB = new TTzInternalDIB;
    FInternalDIB->LoadFromClipboardFormat(data);
    Changed();
}

void TTzDIB::SaveToClipboardFormat(int &format, QByteArray &data) const
{
    CheckInternalDIB("TTzDIB.SaveToClipboardFormat: InternalDIB Should not be Nil");
    data = FInternalDIB->SaveToClipboardFormat();
    format = CF_DIB;
}

// ---------------------------------------------------------------------------
// Drawing

void TTzDIB::Draw(QPainter &painter, const QRect &rect) const
{
    if (!FInternalDIB || rect.isEmpty())
        return;
    if (FDrawMode == 1 || FDrawMode == 2) {
        DrawHalftone(painter, rect);
        return;
    }
    if (FDrawMode != 0)
        return;
    const TTzInternalDIB &dib = *FInternalDIB;
    const TBitmapInfoHeader &header = dib.Header();
    QImage::Format format = QImage::Format_Invalid;
    if (header.biCompression == BI_RGB) {
        format = header.biBitCount == 1   ? QImage::Format_Mono
                 : header.biBitCount == 8 ? QImage::Format_Indexed8
                 : header.biBitCount == 24 ? QImage::Format_BGR888
                                          : QImage::Format_Invalid;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (format == QImage::Format_Invalid) {
        QImage picture;
        AssignTo(picture);
        painter.drawImage(rect, picture);
    } else {
        // Drawn straight from the pixel memory; rows stored bottom-up are drawn
        // upside down into a flipped target.
        QImage view(static_cast<const uchar *>(dib.DIB.Bits.get()), dib.Width, dib.Height, dib.RowSize(),
                    format);
        if (format != QImage::Format_BGR888) {
            const int count = std::max<int>(int(header.biClrUsed), format == QImage::Format_Mono ? 2 : 1);
            QList<QRgb> table(count);
            for (int i = 0; i < count; ++i)
                table[i] = RGBQuadToQRgb(dib.DIB.Info.Colors[i]);
            view.setColorTable(table);
        }
        if (header.biHeight > 0) {
            painter.translate(rect.left(), rect.top() + rect.height());
            painter.scale(1, -1);
            painter.drawImage(QRect(0, 0, rect.width(), rect.height()), view);
        } else {
            painter.drawImage(rect, view);
        }
    }
    painter.restore();
}

void TTzDIB::DrawHalftone(QPainter &painter, const QRect &rect) const
{
    // The picture stretched to the size of rect at its own depth, then halftoned.
    TTzDIB scaled;
    scaled.SetBitCount(BitCount());
    scaled.SetWidth(rect.width());
    scaled.SetHeight(-rect.height());
    std::memcpy(scaled.FInternalDIB->DIB.Info.Colors, FInternalDIB->DIB.Info.Colors,
                sizeof FInternalDIB->DIB.Info.Colors);
    scaled.FInternalDIB->Header().biClrUsed = FInternalDIB->Header().biClrUsed;
    scaled.FInternalDIB->UpdatePalette();
    {
        TTzDIB own(*this);
        own.SetDrawMode(0);
        TTzDIBCanvas canvas(scaled);
        own.Draw(canvas, QRect(0, 0, rect.width(), rect.height()));
    }
    scaled.SetPixelFormat(FDrawMode == 1 ? tzPfHalfTone : tzPfHalfToneBW);
    scaled.Draw(painter, rect);
}
