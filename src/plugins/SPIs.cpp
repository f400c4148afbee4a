#include "plugins/SPIs.h"

#include "base/Errors.h"
#include "base/ProgramFolder.h"
#include "plugins/SPIBitmap.h"
#include "plugins/PluginRows.h"
#include "plugins/SPIErrors.h"
#include "plugins/SusieFolder.h"
#include "plugins/SystemFolders.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <exception>
#include <utility>

namespace {

std::atomic<TSPIs *> gRunning{nullptr};

// The reader of a plug-in format that took the place of another reader: when
// neither the plug-ins nor the graphic's own reader recognise the file, the
// reader that was registered before still gets its chance.
TPictureReader WithFallback(TPictureReader reader, TPictureReader previous)
{
    if (!previous)
        return reader;
    return [reader = std::move(reader), previous = std::move(previous)](const QString &path,
                                                                         TTzDIB &picture) {
        try {
            reader(path, picture);
        } catch (const EInvalidGraphic &) {
            const std::exception_ptr unrecognised = std::current_exception();
            try {
                previous(path, picture);
            } catch (...) {
                std::rethrow_exception(unrecognised);
            }
        }
    };
}

} // namespace

TPictureReader TSPIs::DefaultGraphicClass = ReadWithSPIBitmap;
TPictureRowsOpener TSPIs::DefaultRows = OpenWithSPIRows;

TSPIs::TSPIs(TPictureFormats *formats) : FRegistry(formats)
{
    TSPIs *expected = nullptr;
    if (!gRunning.compare_exchange_strong(expected, this))
        throw ESPIDupCreateSPIs();
}

TSPIs::~TSPIs()
{
    Clear();
    if (FRegistry) {
        for (auto it = FReplaced.rbegin(); it != FReplaced.rend(); ++it) {
            if (it->second)
                FRegistry->Register(it->second->Extension, it->second->Description, it->second->Reader);
            else
                FRegistry->Unregister(it->first);
        }
    }
    gRunning.store(nullptr);
}

TSPIs *TSPIs::Running()
{
    return gRunning.load();
}

void TSPIs::Loaded()
{
    if (AutoSearch)
        Search(QStringLiteral("*.spi"));
}

void TSPIs::Search(const QString &mask)
{
    const QString normal = QDir::fromNativeSeparators(mask);
    const qsizetype slash = normal.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0) {
        SearchFolder(normal.left(slash + 1), normal.mid(slash + 1));
        return;
    }
    if (SearchOptions & spsSusieDir) {
        const QString folder = SusiePluginFolder();
        if (!folder.isEmpty())
            SearchFolder(folder, mask);
    }
    if (SearchOptions & spsAppDir)
        SearchFolder(ProgramFolder(), mask);
    if (SearchOptions & spsCurrentDir)
        SearchFolder(QDir::currentPath(), mask);
    if (SearchOptions & spsSystemDir) {
        const QString folder = SystemFolder();
        if (!folder.isEmpty())
            SearchFolder(folder, mask);
    }
    if (SearchOptions & spsWindowsDir) {
        const QString folder = WindowsFolder();
        if (!folder.isEmpty())
            SearchFolder(folder, mask);
    }
}

void TSPIs::SearchFolder(QString folder, const QString &pattern)
{
    folder = QDir::fromNativeSeparators(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QDir dir(folder);
    // Plain files only: no folders, nothing hidden.
    const QStringList names = dir.entryList(QStringList{pattern}, QDir::Files, QDir::Name);
    QStringList paths;
    for (const QString &name : names) {
        const QString path = QDir::toNativeSeparators(QFileInfo(dir, name).absoluteFilePath());
        if (IndexOf(path) < 0)
            paths << path;
    }
    for (const QString &path : std::as_const(paths)) {
        if (OnSearching) {
            bool accept = true;
            OnSearching(path, accept);
            if (!accept)
                continue;
        }
        std::unique_ptr<TSPI> spi = TSPI::Create(path);
        if (!spi)
            continue;
        if (OnSearch) {
            bool accept = true;
            OnSearch(*spi, accept);
            if (!accept)
                continue;
        }
        Add(std::move(spi));
    }
}

void TSPIs::Add(std::unique_ptr<TSPI> spi)
{
    Insert(Count(), std::move(spi));
}

void TSPIs::Insert(int index, std::unique_ptr<TSPI> spi)
{
    if (!spi)
        return;
    if (index < 0 || index > Count())
        throw ERangeError(QStringLiteral("TSPIs.Insert: List index out of bounds (%1)").arg(index));
    TSPI &added = *spi;
    FItems.insert(FItems.begin() + index, std::move(spi));
    if (dynamic_cast<TInSPI *>(&added))
        RegisterFormats(added);
}

void TSPIs::Delete(int index)
{
    if (index < 0 || index >= Count())
        throw ERangeError(QStringLiteral("TSPIs.Delete: List index out of bounds (%1)").arg(index));
    FItems.erase(FItems.begin() + index);
}

void TSPIs::Clear()
{
    while (Count() > 0)
        Delete(0);
}

int TSPIs::IndexOf(const QString &path) const
{
    for (int i = 0; i < Count(); ++i) {
        if (FItems[std::size_t(i)]->FilePath().compare(path, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool TSPIs::MatchesExtension(const TSPI &spi, const QString &extension)
{
    if (extension.isEmpty())
        return false;
    for (const QString &entry : spi.Patterns()) {
        const qsizetype dot = entry.lastIndexOf(QLatin1Char('.'));
        const QString tail = dot >= 0 ? entry.mid(dot) : entry;
        if (tail.compare(extension, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void TSPIs::RegisterFormats(TSPI &spi)
{
    const QStringList &patterns = spi.Patterns();
    const QStringList &descriptions = spi.Descriptions();
    for (qsizetype i = 0; i < patterns.size() && i < descriptions.size(); ++i) {
        const QStringList pieces = patterns[i].split(QLatin1Char(';'));
        for (qsizetype p = pieces.size() - 1; p >= 0; --p) {
            const QString piece = pieces[p].trimmed();
            if (piece.isEmpty())
                continue;
            const qsizetype dot = piece.indexOf(QLatin1Char('.'));
            Register(spi, descriptions[i], dot >= 0 ? piece.mid(dot + 1) : piece);
        }
    }
}

void TSPIs::Register(TSPI &spi, const QString &description, const QString &extension)
{
    TPictureReader graphicClass = DefaultGraphicClass;
    if (OnPictureRegister)
        OnPictureRegister(spi, description, extension, graphicClass);
    if (!graphicClass || !FRegistry)
        return;
    // The reader before the first plug-in took the extension: the last resort.
    const TPictureFormat *current = FRegistry->Find(extension);
    TPictureReader previous;
    if (current) {
        const auto replaced = std::find_if(FReplaced.begin(), FReplaced.end(),
                                           [&](const auto &entry) { return entry.first == current->Extension; });
        if (replaced == FReplaced.end()) {
            FReplaced.emplace_back(current->Extension, *current);
            previous = current->Reader;
        } else if (replaced->second) {
            previous = replaced->second->Reader;
        }
    }
    FRegistry->Register(extension, description, WithFallback(std::move(graphicClass), std::move(previous)));
    const TPictureFormat *registered = FRegistry->Find(extension);
    if (!registered)
        return;  // nothing after the dot
    if (!current)
        FReplaced.emplace_back(registered->Extension, std::nullopt);
    if (!OnPictureRegister && DefaultRows)
        FRegistry->SetRows(registered->Extension, DefaultRows);
    FFormats.push_back(TSPIFormat{registered->Extension, description, spi.FilePath()});
}
