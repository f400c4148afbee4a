#pragma once

// Pictures read through import plug-ins.
//   TInSPIAble         - the loading engine: tries the plug-ins and the
//                        graphic's own reader on the data; throws
//                        EInvalidGraphic when nothing reads it.
//   TSPILoadingGraphic - what the graphics that load through it share.

#include "base/Errors.h"
#include "image/TzDIB.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>

class QIODevice;
class TInSPI;
struct TPluginDIB;

// What a graphic that loads through import plug-ins gives its engine.
class TSPIGraphic
{
public:
    virtual ~TSPIGraphic() = default;
    // The graphic's own reader on the data (rewound); throws when it cannot read it.
    virtual void ReadOwn(QIODevice &data) = 0;
    // Builds the picture from a plug-in's result; false when it cannot.
    virtual bool BuildPicture(const TPluginDIB &dib) = 0;
    // The graphic's progress notification. Throwing EAbort while running asks
    // the plug-in to stop.
    virtual void Progress(TProgressStage stage, int percent) = 0;
};

// The picture information a plug-in's GetPictureInfo returned.
struct TSPIPictureInfo
{
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    int XDensity = 0;
    int YDensity = 0;
    int ColorDepth = 0;
    QString Text;  // the text information, if the plug-in gave one
};

// The loading engine of a graphic that reads pictures through import plug-ins.
//
// The data is read into memory whole. If the file's extension is not empty and
// is not the graphic's own extension ("BMP", whatever the case), the plug-ins
// are tried first and then the graphic's own reader; otherwise the own reader
// first. The plug-ins tried are SinglePlugin alone, or else the running
// manager's import plug-ins, those that list the extension first (the last
// loaded first). Each plug-in gets the whole data and, when that fails and
// Retry is on, the data after its first 128 bytes. When nothing reads the data,
// EInvalidGraphic "認識できない画像形式です".
class TInSPIAble
{
public:
    TInSPIAble(TSPIGraphic &graphic, const QString &ownExtension);
    TInSPIAble(const TInSPIAble &) = delete;
    TInSPIAble &operator=(const TInSPIAble &) = delete;

    void LoadFromStream(QIODevice &stream);

    // Repeat a failed plug-in attempt on the data after the first 128 bytes.
    bool Retry = true;
    // The one plug-in to use instead of the manager's list; normally none.
    TInSPI *SinglePlugin = nullptr;
    // For the length of one load: the file name given to the plug-ins and
    // its extension with the dot (".jpg"); both empty for an unnamed stream.
    QString FileName;
    QString Extension;
    // What GetPictureInfo last returned during the last load.
    TSPIPictureInfo PictureInfo;

    // What the progress callback given to GetPicture answers: done x 98 /
    // total, rounded, plus 1 per cent (1 to 99) goes to the graphic; 0 to go
    // on, 1 (stop) when the graphic's notification raised EAbort. Any other
    // error stops the plug-in as well and is raised again once GetPicture
    // has returned (it never passes through the plug-in's own code).
    int Progress(int done, int total);

private:
    bool ReadOwn(const QByteArray &data);
    bool TryPlugins(const QByteArray &data);
    bool TryPlugin(TInSPI &spi, const QByteArray &data);
    bool Attempt(TInSPI &spi, const char *block, std::int64_t length);

    TSPIGraphic &FGraphic;
    QString FOwnExtension;
    std::exception_ptr FCallbackError;
    // A plug-in that knew the format found the data damaged.
    bool Broken = false;
};

// One load from a named file or stream: sets the engine's file name and its
// extension (the text from the name's last dot), and clears both on every way out.
class TSPINamedLoad
{
public:
    TSPINamedLoad(TInSPIAble &engine, const QString &fileName);
    ~TSPINamedLoad();
    TSPINamedLoad(const TSPINamedLoad &) = delete;
    TSPINamedLoad &operator=(const TSPINamedLoad &) = delete;

private:
    TInSPIAble &FEngine;
};

// What the graphics that load through the engine share: its two settings and
// the three ways to load. Graphic is the class built on it.
template <class Graphic>
class TSPILoadingGraphic : protected TSPIGraphic
{
public:
    // Copied into the engine at each load.
    bool Retry = true;
    TInSPI *SinglePlugin = nullptr;
    // A load from a named file or stream begins.
    std::function<void(Graphic &graphic, const QString &fileName)> OnLoadFromStreamWithName;
    // What a plug-in's GetPictureInfo said during the last load.
    const TSPIPictureInfo &PictureInfo() const { return FEngine.PictureInfo; }

    // Opens the file (EFileError when it cannot be opened) and loads it by name.
    void LoadFromFile(const QString &fileName)
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            throw EFileError(fileName + QStringLiteral(": ") + file.errorString());
        LoadFromStreamWithName(file, fileName);
    }
    // Without a name: no extension, the empty file name for the plug-ins.
    void LoadFromStream(QIODevice &stream) { Load(stream); }
    void LoadFromStreamWithName(QIODevice &stream, const QString &fileName)
    {
        const TSPINamedLoad named(FEngine, fileName);
        if (OnLoadFromStreamWithName)
            OnLoadFromStreamWithName(static_cast<Graphic &>(*this), fileName);
        Load(stream);
    }

protected:
    TSPILoadingGraphic() : FEngine(*this, QStringLiteral("BMP")) {}
    // A copy takes the settings; the engine belongs to its own graphic.
    TSPILoadingGraphic(const TSPILoadingGraphic &source)
        : TSPIGraphic(), Retry(source.Retry), SinglePlugin(source.SinglePlugin),
          FEngine(*this, QStringLiteral("BMP"))
    {
    }
    TSPILoadingGraphic &operator=(const TSPILoadingGraphic &source)
    {
        Retry = source.Retry;
        SinglePlugin = source.SinglePlugin;
        return *this;
    }
    ~TSPILoadingGraphic() override = default;

private:
    void Load(QIODevice &stream)
    {
        FEngine.Retry = Retry;
        FEngine.SinglePlugin = SinglePlugin;
        FEngine.LoadFromStream(stream);
    }

    TInSPIAble FEngine;
};
