#include "image/TrueColorPalette.h"

#include "image/TzDIB.h"

#include <algorithm>

void CreateTrueColorPalette(TTzInternalDIB &storage, std::uint8_t convertQuality, const TProgressStepFn &step)
{
    const TBitmapInfoHeader &h = storage.Header();
    if (h.biBitCount != 24 || h.biCompression != BI_RGB)
        throw ETzDIBBadDIBType("TTzInternalDIB.CreateTrueColorPalette: Bad DIB Type");
    std::vector<TRGBQuad> palette;
    try {
        palette = convertQuality == 0 ? ChooseColoursByHistogram(storage.DIB, 8, step).Palette
                                      : ChooseColoursOverAllPixels(storage.DIB, 8, step).Palette;
    } catch (const std::bad_alloc &) {
        throw EOutOfMemory("TTzInternalDIB.CreateTrueColorPalette: Out Of Memory");
    }
    std::copy(palette.begin(), palette.end(), storage.DIB.Info.Colors);
    storage.Header().biClrUsed = std::uint32_t(palette.size());
    storage.Header().biClrImportant = 0;
    storage.UpdatePalette();
}

void CreateTrueColorPalette(TTzDIB &dib)
{
    dib.UniqueDIB();
    dib.BeginProgress(256, QStringLiteral("Create True Color Palette"));
    try {
        CreateTrueColorPalette(*dib.InternalDIB(), dib.ConvertQuality(), [&dib] { dib.ProgressStep(); });
    } catch (...) {
        dib.EndProgress();
        throw;
    }
    dib.EndProgress();
    dib.Changed();
}
