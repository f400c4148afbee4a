#pragma once

#include "image/TzDIB.h"
#include "plugins/InSPIAble.h"

#include <QString>

#include <functional>

class QIODevice;

// A TTzDIB that reads BMP files with its own reader and every other format
// through the import plug-ins. A plug-in's result is copied into one packed DIB
// and loaded as clipboard DIB data.
//
// Whenever the picture changes and is true-colour without a palette, it derives
// one (CreateTrueColorPalette) by PaletteMode: 1 only when the screen shows 8
// bits per pixel or fewer, 2 always, 0 never. The class uses TTzDIB::OnChange
// for this; whoever wants to hear of changes attaches OnChanged instead.
class TSPITzDIB : public TTzDIB, public TSPILoadingGraphic<TSPITzDIB>
{
public:
    TSPITzDIB();
    // Shares the picture; copies the retry flag, the single plug-in and the palette mode.
    TSPITzDIB(const TSPITzDIB &source);
    TSPITzDIB &operator=(const TSPITzDIB &source);

    // The loads through the plug-ins (TTzDIB's own stream reader is the own reader).
    using TSPILoadingGraphic<TSPITzDIB>::LoadFromStream;
    using TTzDIB::Progress;

    int PaletteMode = 1;

    // After every change of the picture, once the palette rule has run.
    std::function<void(TSPITzDIB &dib)> OnChanged;

    // Whether a picture of `bitCount` bits with `paletteSize` entries derives
    // a palette in `paletteMode` on a screen of `screenBits` bits per pixel.
    static bool DerivesPalette(int paletteMode, int bitCount, int paletteSize, int screenBits);
    // The screen's bits per pixel, measured once (24 without a screen).
    static int ScreenBitsPerPixel();

private:
    void ReadOwn(QIODevice &data) override;
    bool BuildPicture(const TPluginDIB &dib) override;
    void Progress(TProgressStage stage, int percent) override;
    void AttachChangeHandler();
    void PictureChanged();

    bool FDeriving = false;
};
