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
class TSPIBitmap : public TSPILoadingGraphic<TSPIBitmap>
{
public:
    TSPIBitmap() = default;
    // Copies the picture, the retry flag and the single plug-in.
    TSPIBitmap(const TSPIBitmap &source) : TSPILoadingGraphic(source), FBitmap(source.FBitmap) {}
    TSPIBitmap &operator=(const TSPIBitmap &source)
    {
        TSPILoadingGraphic::operator=(source);
        FBitmap = source.FBitmap;
        return *this;
    }

    const QImage &Bitmap() const { return FBitmap; }

    // The progress of a load through a plug-in (starting 0, running 1 to 99,
    // ending 100). Throwing EAbort while running stops the plug-in.
    std::function<void(TProgressStage stage, int percent)> OnProgress;

private:
    void ReadOwn(QIODevice &data) override;
    bool BuildPicture(const TPluginDIB &dib) override;
    void Progress(TProgressStage stage, int percent) override;

    QImage FBitmap;
};

// The reader of plug-in formats: loads the file with a TSPIBitmap and hands
// the picture over with its density.
void ReadWithSPIBitmap(const QString &path, TTzDIB &picture);
