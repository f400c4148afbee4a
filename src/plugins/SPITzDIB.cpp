#include "plugins/SPITzDIB.h"

#include "base/Errors.h"
#include "image/TrueColorPalette.h"
#include "plugins/PluginDIB.h"

#include <QGuiApplication>
#include <QScreen>

TSPITzDIB::TSPITzDIB()
{
    AttachChangeHandler();
}

TSPITzDIB::TSPITzDIB(const TSPITzDIB &source)
    : TTzDIB(source), TSPILoadingGraphic<TSPITzDIB>(source), PaletteMode(source.PaletteMode)
{
    AttachChangeHandler();
}

TSPITzDIB &TSPITzDIB::operator=(const TSPITzDIB &source)
{
    TTzDIB::operator=(source);
    TSPILoadingGraphic<TSPITzDIB>::operator=(source);
    PaletteMode = source.PaletteMode;
    return *this;
}

void TSPITzDIB::AttachChangeHandler()
{
    OnChange = [this](TTzDIB &) { PictureChanged(); };
}

bool TSPITzDIB::DerivesPalette(int paletteMode, int bitCount, int paletteSize, int screenBits)
{
    if ((bitCount != 16 && bitCount != 24 && bitCount != 32) || paletteSize != 0)
        return false;
    return paletteMode == 2 || (paletteMode == 1 && screenBits < 9);
}

int TSPITzDIB::ScreenBitsPerPixel()
{
    static const int bits = [] {
        const QScreen *screen =
            qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::primaryScreen()
                                                                          : nullptr;
        return screen ? screen->depth() : 24;
    }();
    return bits;
}

void TSPITzDIB::PictureChanged()
{
    if (!FDeriving && DerivesPalette(PaletteMode, BitCount(), PaletteSize(), ScreenBitsPerPixel())) {
        FDeriving = true;
        try {
            CreateTrueColorPalette(*this);
        } catch (...) {
            FDeriving = false;
            throw;
        }
        FDeriving = false;
    }
    if (OnChanged && !FDeriving)
        OnChanged(*this);
}

void TSPITzDIB::ReadOwn(QIODevice &data)
{
    TTzDIB::LoadFromStream(data);
}

bool TSPITzDIB::BuildPicture(const TPluginDIB &dib)
{
    LoadFromClipboardFormat(CF_DIB, dib.PackedDIB());
    return true;
}

void TSPITzDIB::Progress(TProgressStage stage, int percent)
{
    TTzDIB::Progress(stage, percent, QRect(0, 0, Width(), Height()), QString());
}
