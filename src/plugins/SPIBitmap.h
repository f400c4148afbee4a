#pragma once

#include "plugins/InSPIAble.h"

#include <QImage>
#include <QString>

#include <functional>

class QIODevice;
class TTzDIB;

// A bitmap that reads BMP files itself and every other format through the
// import plug-ins: the graphic registered for plug-in formats. A plug-in's
// result is written out as a BMP file image in memory and read back with the
// platform's BMP reader; a 4-bit result gets the palette of its colour table.
class TSPIBitmap : private TSPIGraphic
{
public:
    TSPIBitmap();
    // Copies the picture, the retry flag and the single plug-in.
    TSPIBitmap(const TSPIBitmap &source);
    TSPIBitmap &operator=(const TSPIBitmap &source);

    const QImage &Bitmap() const { return FBitmap; }

    // Opens the file and loads it; the file name and its extension are the
    // engine's for the length of the load.
    void LoadFromFile(const QString &fileName);
    // Loads from a stream without a name: no extension, the empty file name for the plug-ins.
    void LoadFromStream(QIODevice &stream);
    void LoadFromStreamWithName(QIODevice &stream, const QString &fileName);

    bool Retry = true;
    TInSPI *SinglePlugin = nullptr;
    // What the plug-in's GetPictureInfo said about the last picture.
    const TSPIPictureInfo &PictureInfo() const { return FEngine.PictureInfo; }

    // The progress of a load through a plug-in (starting 0, running 1 to 99,
    // ending 100). Throwing EAbort while running stops the plug-in.
    std::function<void(TProgressStage stage, int percent)> OnProgress;
    // A load from a named stream begins.
    std::function<void(TSPIBitmap &bitmap, const QString &fileName)> OnLoadFromStreamWithName;

private:
    void ReadOwn(QIODevice &data) override;
    bool BuildPicture(const TPluginDIB &dib) override;
    void Progress(TProgressStage stage, int percent) override;
    void Load(QIODevice &stream);

    TInSPIAble FEngine;
    QImage FBitmap;
};

// The reader of plug-in formats: loads the file with a TSPIBitmap and hands
// the picture over with its density.
void ReadWithSPIBitmap(const QString &path, TTzDIB &picture);
