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
class TSPITzDIB : public TTzDIB, private TSPIGraphic
{
public:
    TSPITzDIB();
    // Shares the picture; copies the retry flag, the single plug-in and the palette mode.
    TSPITzDIB(const TSPITzDIB &source);
    TSPITzDIB &operator=(const TSPITzDIB &source);

    void LoadFromFile(const QString &fileName);
    // Loads from a stream without a name: no extension, the empty file name for the plug-ins.
    void LoadFromStream(QIODevice &stream);
    void LoadFromStreamWithName(QIODevice &stream, const QString &fileName);

    bool Retry = true;
    TInSPI *SinglePlugin = nullptr;
    int PaletteMode = 1;
    const TSPIPictureInfo &PictureInfo() const { return FEngine.PictureInfo; }

    // A load from a named stream begins.
    std::function<void(TSPITzDIB &dib, const QString &fileName)> OnLoadFromStreamWithName;
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
    void Load(QIODevice &stream);
    void AttachChangeHandler();
    void PictureChanged();

    TInSPIAble FEngine;
    bool FDeriving = false;
};
