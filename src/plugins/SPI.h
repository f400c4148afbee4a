#pragma once

// One Susie plug-in library.
//   TSPI::Create - the plug-in of the kind its type string names (TInSPI
//                  picture import, TAmSPI archive, TXnSPI); nullptr when the
//                  library cannot be loaded or lacks a required entry point.
//   SPIText      - a plug-in's code page 932 text as text.

#include "plugins/PluginLibrary.h"
#include "plugins/SusiePlugin.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

class QByteArray;

// Plug-in texts (code page 932) as text.
QString SPIText(const QByteArray &bytes);

// The entry points of the Susie plug-in interface, bound by name; absent ones are null.
struct TSPIEntryPoints
{
    SpiGetPluginInfo GetPluginInfo = nullptr;
    SpiConfigurationDlg ConfigurationDlg = nullptr;
    SpiIsSupported IsSupported = nullptr;
    SpiGetPictureInfo GetPictureInfo = nullptr;
    SpiGetPicture GetPicture = nullptr;
    SpiGetPreview GetPreview = nullptr;
    SpiGetArchiveInfo GetArchiveInfo = nullptr;
    SpiGetFileInfo GetFileInfo = nullptr;
    SpiGetFile GetFile = nullptr;
};

// One loaded plug-in library. The library stays loaded while the object lives.
//
// Kinds, by the type string (information item 0), with the entry points each
// requires:
//   TSPI        any other type       GetPluginInfo
//   TLoaderSPI  (a base only)        GetPluginInfo, IsSupported
//   TInSPI      "00IN" (pictures)    ... and GetPictureInfo, GetPicture
//   TAmSPI      "00AM" (archives)    ... and GetArchiveInfo, GetFileInfo, GetFile
//   TXnSPI      "00XN"               GetPluginInfo
class TSPI
{
public:
    virtual ~TSPI();
    TSPI(const TSPI &) = delete;
    TSPI &operator=(const TSPI &) = delete;

    // A plug-in of the class its type string names: a generic TSPI is built
    // first to read the type, then the object of that class on the same path.
    // nullptr when the library cannot be loaded or lacks an entry point its
    // kind requires; other errors pass on.
    static std::unique_ptr<TSPI> Create(const QString &path);

    // A plug-in of exactly class T: loads the library (ESPIFOpenErrorSPI),
    // binds the entry points, checks the required ones (ESPIInvalidAPI) and
    // reads the information items.
    template <class T>
    static std::unique_ptr<T> Load(const QString &path)
    {
        std::unique_ptr<T> spi(new T(path));
        spi->CheckAPI();
        spi->ReadInformation();
        return spi;
    }

    // Raises ESPIInvalidAPI for the first required entry point that is absent.
    virtual void CheckAPI() const;
    // True for the kinds that read files (pictures, archives).
    virtual bool IsLoader() const { return false; }

    // The module's full file name (native separators).
    const QString &FilePath() const { return FFilePath; }
    // Information item 0 ("00IN") and item 1.
    const QString &Type() const { return FType; }
    const QString &Description() const { return FDescription; }
    // Items 2, 4, 6, ... and 3, 5, 7, ...: patterns and their descriptions, in pairs.
    const QStringList &Patterns() const { return FPatterns; }
    const QStringList &Descriptions() const { return FDescriptions; }
    const TSPIEntryPoints &EntryPoints() const { return FEntries; }
    // Any function the library exports, by name (null when it has none).
    QFunctionPointer Resolve(const char *name) const { return FLibrary.Resolve(name); }

    // The entry point; ESPIInvalidAPI when the plug-in lacks it.
    int GetPluginInfo(int infono, char *buf, int buflen) const;

    // Held around every call into the plug-in: plug-ins are not written to be
    // entered by two threads at once.
    std::mutex &CallLock() const { return FCallLock; }

protected:
    // Loads the library and binds the entry points.
    explicit TSPI(const QString &path);
    // Raises ESPIInvalidAPI naming the entry point when it is not present.
    void Require(bool present, const char *name) const;

private:
    void ReadInformation();
    // Reads item `infono` into `text`; false when the plug-in has no such item.
    bool ReadItem(int infono, QString &text) const;

    TPluginLibrary FLibrary;
    QString FFilePath;
    QString FType;
    QString FDescription;
    QStringList FPatterns;
    QStringList FDescriptions;
    TSPIEntryPoints FEntries;
    mutable std::mutex FCallLock;
};

// A plug-in that reads files.
class TLoaderSPI : public TSPI
{
public:
    void CheckAPI() const override;
    int IsSupported(const char *filename, void *dw) const;

protected:
    using TSPI::TSPI;
};

// A picture import filter ("00IN").
class TInSPI : public TLoaderSPI
{
public:
    void CheckAPI() const override;
    bool IsLoader() const override { return true; }
    int GetPictureInfo(const char *buf, long len, unsigned int flag, PictureInfo *info) const;
    int GetPicture(const char *buf, long len, unsigned int flag, void **pHBInfo, void **pHBm,
                   SpiProgressCallback progress, long user) const;

protected:
    friend class TSPI;
    using TLoaderSPI::TLoaderSPI;
};

// An archive plug-in ("00AM"): bound, never called.
class TAmSPI : public TLoaderSPI
{
public:
    void CheckAPI() const override;
    bool IsLoader() const override { return true; }

protected:
    friend class TSPI;
    using TLoaderSPI::TLoaderSPI;
};

// A plug-in of type "00XN".
class TXnSPI : public TSPI
{
protected:
    friend class TSPI;
    using TSPI::TSPI;
};
