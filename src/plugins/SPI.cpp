#include "plugins/SPI.h"

#include "plugins/SPIErrors.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

#include <cstring>

namespace {

// What GetPluginInfo is given: a 256-byte buffer, of which it may fill 255.
constexpr int kInfoBufferSize = 256;
constexpr int kInfoBufferLength = 255;
// The longest module file name taken from the system.
constexpr int kMaxModuleName = 255;
// A plug-in that answers every item number would never end the list.
constexpr int kMaxPatternPairs = 512;

template <class T>
T Bind(const TPluginLibrary &library, const char *name)
{
    return reinterpret_cast<T>(library.Resolve(name));
}

} // namespace

QString SPIText(const QByteArray &bytes)
{
    QStringDecoder decoder("windows-31j");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

TSPI::TSPI(const QString &path) : FLibrary(path)
{
    if (!FLibrary.Loaded())
        throw ESPIFOpenErrorSPI(path);
    QString module = FLibrary.FileName();
    if (module.isEmpty() || module.size() > kMaxModuleName)
        module = path;
    FFilePath = QDir::toNativeSeparators(QFileInfo(module).absoluteFilePath());

    FEntries.GetPluginInfo = Bind<SpiGetPluginInfo>(FLibrary, "GetPluginInfo");
    FEntries.ConfigurationDlg = Bind<SpiConfigurationDlg>(FLibrary, "ConfigurationDlg");
    FEntries.IsSupported = Bind<SpiIsSupported>(FLibrary, "IsSupported");
    FEntries.GetPictureInfo = Bind<SpiGetPictureInfo>(FLibrary, "GetPictureInfo");
    FEntries.GetPicture = Bind<SpiGetPicture>(FLibrary, "GetPicture");
    FEntries.GetPreview = Bind<SpiGetPreview>(FLibrary, "GetPreview");
    FEntries.GetArchiveInfo = Bind<SpiGetArchiveInfo>(FLibrary, "GetArchiveInfo");
    FEntries.GetFileInfo = Bind<SpiGetFileInfo>(FLibrary, "GetFileInfo");
    FEntries.GetFile = Bind<SpiGetFile>(FLibrary, "GetFile");
}

TSPI::~TSPI() = default;

std::unique_ptr<TSPI> TSPI::Create(const QString &path)
{
    try {
        const std::unique_ptr<TSPI> generic = Load<TSPI>(path);
        const QString &type = generic->Type();
        if (type == QLatin1String("00IN"))
            return Load<TInSPI>(path);
        if (type == QLatin1String("00AM"))
            return Load<TAmSPI>(path);
        if (type == QLatin1String("00XN"))
            return Load<TXnSPI>(path);
        return Load<TSPI>(path);
    } catch (const ESPIFOpenErrorSPI &) {
        return nullptr;
    } catch (const ESPIInvalidAPI &) {
        return nullptr;
    }
}

void TSPI::Require(bool present, const char *name) const
{
    if (!present)
        throw ESPIInvalidAPI(QString::fromLatin1(name), FFilePath);
}

void TSPI::CheckAPI() const
{
    Require(FEntries.GetPluginInfo != nullptr, "GetPluginInfo");
}

int TSPI::GetPluginInfo(int infono, char *buf, int buflen) const
{
    Require(FEntries.GetPluginInfo != nullptr, "GetPluginInfo");
    return FEntries.GetPluginInfo(infono, buf, buflen);
}

bool TSPI::ReadItem(int infono, QString &text) const
{
    char buffer[kInfoBufferSize] = {};
    if (GetPluginInfo(infono, buffer, kInfoBufferLength) <= 0)
        return false;
    // The text ends at its first zero byte, within the part the plug-in may fill.
    const char *end = static_cast<const char *>(std::memchr(buffer, 0, kInfoBufferLength));
    const qsizetype length = end ? end - buffer : kInfoBufferLength;
    text = SPIText(QByteArray(buffer, length));
    return true;
}

void TSPI::ReadInformation()
{
    ReadItem(0, FType);
    ReadItem(1, FDescription);
    for (int k = 2; k < 2 + 2 * kMaxPatternPairs; k += 2) {
        QString pattern, description;
        if (!ReadItem(k, pattern) || !ReadItem(k + 1, description))
            break;
        FPatterns << pattern;
        FDescriptions << description;
    }
}

void TLoaderSPI::CheckAPI() const
{
    TSPI::CheckAPI();
    Require(EntryPoints().IsSupported != nullptr, "IsSupported");
}

int TLoaderSPI::IsSupported(const char *filename, void *dw) const
{
    Require(EntryPoints().IsSupported != nullptr, "IsSupported");
    return EntryPoints().IsSupported(filename, dw);
}

void TInSPI::CheckAPI() const
{
    TLoaderSPI::CheckAPI();
    Require(EntryPoints().GetPictureInfo != nullptr, "GetPictureInfo");
    Require(EntryPoints().GetPicture != nullptr, "GetPicture");
}

int TInSPI::GetPictureInfo(const char *buf, long len, unsigned int flag, PictureInfo *info) const
{
    Require(EntryPoints().GetPictureInfo != nullptr, "GetPictureInfo");
    return EntryPoints().GetPictureInfo(buf, len, flag, info);
}

int TInSPI::GetPicture(const char *buf, long len, unsigned int flag, void **pHBInfo, void **pHBm,
                       SpiProgressCallback progress, long user) const
{
    Require(EntryPoints().GetPicture != nullptr, "GetPicture");
    return EntryPoints().GetPicture(buf, len, flag, pHBInfo, pHBm, progress, user);
}

void TAmSPI::CheckAPI() const
{
    TLoaderSPI::CheckAPI();
    Require(EntryPoints().GetArchiveInfo != nullptr, "GetArchiveInfo");
    Require(EntryPoints().GetFileInfo != nullptr, "GetFileInfo");
    Require(EntryPoints().GetFile != nullptr, "GetFile");
}
