#include "plugins/PluginRows.h"

#include "base/Errors.h"
#include "plugins/InSPIAble.h"
#include "plugins/PluginDIB.h"

#include <QFileInfo>
#include <QImage>
#include <QIODevice>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// The resolution a QImage ends up with when it is given `dotsPerMeter` (the
// platform's default for 0), as the whole-picture reader gets it.
int ImageDotsPerMeter(int dotsPerMeter, bool horizontal)
{
    QImage image(1, 1, QImage::Format_Mono);
    if (horizontal) {
        image.setDotsPerMeterX(dotsPerMeter);
        return image.dotsPerMeterX();
    }
    image.setDotsPerMeterY(dotsPerMeter);
    return image.dotsPerMeterY();
}

// The rows of a plug-in's picture, read in place; each band's memory is given
// back to the system once it is read.
class TPluginRows : public TPictureRows
{
public:
    explicit TPluginRows(std::unique_ptr<TPluginPicture> picture) : FPicture(std::move(picture))
    {
        const TPluginDIB &dib = *FPicture->Dib;
        FWidth = dib.Header.biWidth;
        FHeight = int(std::abs(std::int64_t(dib.Header.biHeight)));
        FBitCount = dib.Header.biBitCount;
        FTopDown = dib.Header.biHeight < 0;
        FDotsPerMeterX = ImageDotsPerMeter(dib.Header.biXPelsPerMeter, true);
        FDotsPerMeterY = ImageDotsPerMeter(dib.Header.biYPelsPerMeter, false);
        if (FBitCount <= 8)
            std::memcpy(FColors, dib.Colors, std::size_t(dib.ColorCount) * 4);
    }

    void Read(std::uint8_t *rows, int count) override
    {
        if (!FPicture || count < 0 || count > FHeight - FNext)
            throw ERowsRefused("TPluginRows: read past the last row");
        const std::int64_t size = RowSize();
        const std::uint8_t *bits = FPicture->Dib->Bits;
        std::memcpy(rows, bits + FNext * size, std::size_t(count * size));
        // What lies beyond the width is 0, as in the whole reader's picture.
        const std::int64_t used = (std::int64_t(FWidth) * FBitCount + 7) / 8;
        for (int y = 0; y < count; ++y) {
            std::uint8_t *row = rows + y * size;
            if (FBitCount == 1 && FWidth % 8)
                row[used - 1] &= std::uint8_t(0xFF00 >> (FWidth % 8));
            std::memset(row + used, 0, std::size_t(size - used));
        }
        FNext += count;
        if (FNext == FHeight) {
            FPicture.reset();
            return;
        }
        Release(bits, FNext * size);
    }

private:
    // The whole pages below `end` that were not given back yet.
    void Release(const std::uint8_t *bits, std::int64_t end)
    {
#ifdef Q_OS_UNIX
        static const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
        const std::uintptr_t from = (std::uintptr_t(bits + FReleased) + page - 1) / page * page;
        const std::uintptr_t to = std::uintptr_t(bits + end) / page * page;
        if (to > from && to - from >= (std::uintptr_t(1) << 20)) {
            ::madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
            FReleased = end;
        }
#else
        (void)bits;
        (void)end;
#endif
    }

    std::unique_ptr<TPluginPicture> FPicture;
    std::int64_t FNext = 0;
    std::int64_t FReleased = 0;
};

// The graphic that loads through the plug-ins and keeps the plug-in's result
// as it is. It reads nothing itself: the whole reader does that.
class TSPIRowsGraphic : public TSPILoadingGraphic<TSPIRowsGraphic>
{
public:
    std::unique_ptr<TPluginPicture> Picture;

private:
    void ReadOwn(QIODevice &) override { throw EInvalidGraphic(QStringLiteral("TSPIRowsGraphic")); }
    bool BuildPicture(const TPluginDIB &) override { return false; }
    bool TakePicture(std::unique_ptr<TPluginPicture> picture) override
    {
        Picture = std::move(picture);
        return true;
    }
    void Progress(TProgressStage, int) override {}
};

// The pictures whose rows the whole reader stores exactly as the plug-in gave them.
bool ReadInPlace(const TPluginDIB &dib)
{
    const int bits = dib.Header.biBitCount;
    if (dib.Header.biCompression != BI_RGB || dib.Masks)
        return false;
    if (bits == 24)
        return true;
    return (bits == 1 || bits == 8) && dib.ColorCount == std::uint32_t(DefaultPaletteSize(bits));
}

} // namespace

std::unique_ptr<TPictureRows> OpenWithSPIRows(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot + 1 == name.size() || name.mid(dot + 1).compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0)
        return nullptr;
    TSPIRowsGraphic graphic;
    try {
        graphic.LoadFromFile(path);
    } catch (const EInvalidGraphic &) {
        return nullptr;
    }
    if (!graphic.Picture || !ReadInPlace(*graphic.Picture->Dib))
        return nullptr;
    return std::make_unique<TPluginRows>(std::move(graphic.Picture));
}
