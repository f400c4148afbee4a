#include "plugins/InSPIAble.h"

#include "base/Errors.h"
#include "image/PictureLimits.h"
#include "plugins/PluginDIB.h"
#include "plugins/SPI.h"
#include "plugins/SPIs.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// Data shorter than this reaches the plug-ins in a zero-filled block of this size.
constexpr std::int64_t kMinimumBlock = 2048;
// The retry skips what many formats put before the picture.
constexpr std::int64_t kPreamble = 128;

// The engines inside GetPicture, by the user value the callback receives (a
// number, not an address: the value is a long, too small for an address on
// some systems).
std::mutex gCallbackLock;
std::map<long, TInSPIAble *> gCallbackEngines;
long gNextCallbackId = 0;

class TCallbackSlot
{
public:
    explicit TCallbackSlot(TInSPIAble &engine)
    {
        const std::lock_guard lock(gCallbackLock);
        do {
            gNextCallbackId = gNextCallbackId == LONG_MAX ? 1 : gNextCallbackId + 1;
        } while (gCallbackEngines.count(gNextCallbackId));
        Id = gNextCallbackId;
        gCallbackEngines[Id] = &engine;
    }
    ~TCallbackSlot()
    {
        const std::lock_guard lock(gCallbackLock);
        gCallbackEngines.erase(Id);
    }
    TCallbackSlot(const TCallbackSlot &) = delete;
    TCallbackSlot &operator=(const TCallbackSlot &) = delete;

    long Id;
};

int SPI_API ProgressCallback(int done, int total, long user)
{
    if (user == 0)
        return 0;
    TInSPIAble *engine = nullptr;
    {
        const std::lock_guard lock(gCallbackLock);
        const auto found = gCallbackEngines.find(user);
        if (found != gCallbackEngines.end())
            engine = found->second;
    }
    return engine ? engine->Progress(done, total) : 0;
}

// Frees a plug-in's memory handle on every way out.
class THandle
{
public:
    THandle() = default;
    ~THandle()
    {
        if (Handle)
            SpiFreeHandle(Handle);
    }
    THandle(const THandle &) = delete;
    THandle &operator=(const THandle &) = delete;

    void *Handle = nullptr;
};

// A locked handle: its data and size; unlocked on every way out.
class TLocked
{
public:
    explicit TLocked(void *handle)
        : FHandle(handle), Data(SpiLockHandle(handle)), Size(Data ? SpiHandleSize(handle) : 0)
    {
    }
    ~TLocked()
    {
        if (Data)
            SpiUnlockHandle(FHandle);
    }
    TLocked(const TLocked &) = delete;
    TLocked &operator=(const TLocked &) = delete;

private:
    void *FHandle;

public:
    void *Data;
    std::uint64_t Size;
};

// Delphi's MulDiv: a x b / c rounded half away from zero.
int MulDiv(std::int64_t a, std::int64_t b, std::int64_t c)
{
    const std::int64_t product = a * b;
    const std::int64_t half = c / 2;
    return int((product >= 0 ? product + half : product - half) / c);
}

} // namespace

TPluginPicture::TPluginPicture(void *header, void *bits) : FHeader(header), FBits(bits)
{
    void *info = SpiLockHandle(FHeader);
    void *rows = SpiLockHandle(FBits);
    if (info && rows)
        Dib = TPluginDIB::Check(info, SpiHandleSize(FHeader), rows, SpiHandleSize(FBits));
}

TPluginPicture::~TPluginPicture()
{
    for (void *handle : {FHeader, FBits}) {
        if (handle) {
            SpiUnlockHandle(handle);
            SpiFreeHandle(handle);
        }
    }
}

TInSPIAble::TInSPIAble(TSPIGraphic &graphic, const QString &ownExtension)
    : FGraphic(graphic), FOwnExtension(ownExtension)
{
}

void TInSPIAble::LoadFromStream(QIODevice &stream)
{
    PictureInfo = TSPIPictureInfo();
    QByteArray data;
    if (auto *buffer = qobject_cast<QBuffer *>(&stream)) {
        data = buffer->data().mid(buffer->pos());
    } else {
        data = stream.readAll();
    }

    const QString extension = Extension.startsWith(QLatin1Char('.')) ? Extension.mid(1) : Extension;
    const bool pluginsFirst =
        !extension.isEmpty() && extension.compare(FOwnExtension, Qt::CaseInsensitive) != 0;
    Broken = false;
    const bool done = pluginsFirst ? TryPlugins(data) || ReadOwn(data)
                                   : ReadOwn(data) || TryPlugins(data);
    // A plug-in that knew the format but found its data damaged says so.
    if (!done)
        throw EInvalidGraphic(Broken ? QStringLiteral("画像データが壊れています")
                                     : QStringLiteral("認識できない画像形式です"));
}

bool TInSPIAble::ReadOwn(const QByteArray &data)
{
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    try {
        FGraphic.ReadOwn(buffer);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool TInSPIAble::TryPlugins(const QByteArray &data)
{
    std::vector<TInSPI *> plugins;
    if (SinglePlugin)
        plugins.push_back(SinglePlugin);
    else if (const TSPIs *manager = TSPIs::Running())
        plugins = manager->List<TInSPI>(Extension);
    for (TInSPI *spi : plugins) {
        if (TryPlugin(*spi, data))
            return true;
    }
    return false;
}

bool TInSPIAble::TryPlugin(TInSPI &spi, const QByteArray &data)
{
    FGraphic.Progress(TProgressStage::Starting, 0);
    bool done = false;
    try {
        done = Attempt(spi, data.constData(), data.size());
        if (!done && Retry && data.size() > kPreamble)
            done = Attempt(spi, data.constData() + kPreamble, data.size() - kPreamble);
    } catch (...) {
        FGraphic.Progress(TProgressStage::Ending, 100);
        throw;
    }
    FGraphic.Progress(TProgressStage::Ending, 100);
    return done;
}

bool TInSPIAble::Attempt(TInSPI &spi, const char *block, std::int64_t length)
{
    if (length > LONG_MAX)
        return false;
    std::vector<char> padded;
    const char *buf = block;
    if (length < kMinimumBlock) {
        padded.assign(std::size_t(kMinimumBlock), 0);
        if (length > 0)
            std::memcpy(padded.data(), block, std::size_t(length));
        buf = padded.data();
    }
    const QByteArray name = QFile::encodeName(FileName);

    const std::lock_guard lock(spi.CallLock());
    if (spi.IsSupported(name.constData(), const_cast<char *>(buf)) == 0)
        return false;

    ::PictureInfo info{};
    if (spi.GetPictureInfo(buf, long(length), 1, &info) == 0) {
        PictureInfo.Left = info.left;
        PictureInfo.Top = info.top;
        PictureInfo.Width = info.width;
        PictureInfo.Height = info.height;
        PictureInfo.XDensity = info.x_density;
        PictureInfo.YDensity = info.y_density;
        PictureInfo.ColorDepth = info.colorDepth;
        // A size the program would refuse is refused before it is decoded:
        // beyond the bound, or beyond the 2 GB a plug-in's picture may hold.
        PictureLimits::Check(info.width, info.height);
        const int depth = info.colorDepth > 0 && info.colorDepth <= 32 ? info.colorDepth : 1;
        if (info.height != 0
            && DIBRowSize(std::abs(std::int64_t(info.width)), depth) > MaxDIBBitsSize / std::abs(std::int64_t(info.height)))
            throw EPictureTooLarge(QStringLiteral("The picture of %1 x %2 pixels is too large: a plug-in's picture "
                                                  "holds 2 GB at most")
                                       .arg(info.width)
                                       .arg(info.height));
        PictureInfo.Text.clear();
        if (info.hInfo) {
            THandle text;
            text.Handle = info.hInfo;
            const TLocked locked(text.Handle);
            if (locked.Data) {
                const auto *chars = static_cast<const char *>(locked.Data);
                const std::size_t size = std::size_t(std::min<std::uint64_t>(locked.Size, INT_MAX));
                const void *zero = std::memchr(chars, 0, size);
                PictureInfo.Text = SPIText(
                    QByteArray(chars, zero ? static_cast<const char *>(zero) - chars : qsizetype(size)));
            }
        }
    }

    THandle header, bits;
    int result;
    {
        const TCallbackSlot slot(*this);
        FCallbackError = nullptr;
        result = spi.GetPicture(buf, long(length), 1, &header.Handle, &bits.Handle, ProgressCallback,
                                slot.Id);
    }
    if (result != 0) {
        // A failing plug-in frees what it allocated; the slots are not ours.
        header.Handle = bits.Handle = nullptr;
    }
    if (FCallbackError)
        std::rethrow_exception(std::exchange(FCallbackError, nullptr));
    if (result == SPI_BROKEN_DATA)
        Broken = true;
    if (result != 0)
        return false;
    if (!header.Handle || !bits.Handle)
        return false;
    auto picture = std::make_unique<TPluginPicture>(std::exchange(header.Handle, nullptr),
                                                    std::exchange(bits.Handle, nullptr));
    if (!picture->Dib)
        return false;
    return FGraphic.TakePicture(std::move(picture));
}

int TInSPIAble::Progress(int done, int total)
{
    const int percent = total > 0 ? std::clamp(MulDiv(done, 98, total), 0, 98) : 0;
    try {
        FGraphic.Progress(TProgressStage::Running, percent + 1);
    } catch (const EAbort &) {
        return 1;
    } catch (...) {
        FCallbackError = std::current_exception();
        return 1;
    }
    return 0;
}

TSPINamedLoad::TSPINamedLoad(TInSPIAble &engine, const QString &fileName) : FEngine(engine)
{
    const QString name = QFileInfo(fileName).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    FEngine.FileName = fileName;
    FEngine.Extension = dot >= 0 ? name.mid(dot) : QString();
}

TSPINamedLoad::~TSPINamedLoad()
{
    FEngine.FileName.clear();
    FEngine.Extension.clear();
}
