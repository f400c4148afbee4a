#pragma once

#include "image/PictureFormats.h"
#include "plugins/SPI.h"

#include <QFlags>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The folders a search without a folder of its own looks in, in this order.
enum TSPISearchOption {
    spsSusieDir = 0x01,    // the Susie plug-in folder the user set up
    spsAppDir = 0x02,      // the program's own folder
    spsCurrentDir = 0x04,  // the current folder
    spsSystemDir = 0x08,   // the system folder (Windows only)
    spsWindowsDir = 0x10,  // the Windows folder (Windows only)
};
Q_DECLARE_FLAGS(TSPISearchOptions, TSPISearchOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TSPISearchOptions)

// A picture format the manager registered: the extension, its description and
// the path of the plug-in it came from.
struct TSPIFormat
{
    QString Extension;
    QString Description;
    QString PluginPath;
};

// The plug-in manager: finds plug-in libraries, loads them, keeps the loaded
// ones in a list and registers the file extensions of every import plug-in
// (TInSPI) with a registry of picture formats, with DefaultGraphicClass as the
// reader.
//
// Only one manager exists at a time (a second raises ESPIDupCreateSPIs); the
// running one is Running(). The list is changed only while the program sets
// up; loading pictures reads it from any thread.
class TSPIs
{
public:
    // `formats`: where import plug-ins' extensions are registered (none when
    // null); it must outlive the manager. Raises ESPIDupCreateSPIs while
    // another manager exists.
    explicit TSPIs(TPictureFormats *formats = nullptr);
    // Releases every plug-in, gives the registry back the readers that the
    // plug-in formats replaced (or removes the formats) and frees the
    // single-instance slot.
    ~TSPIs();
    TSPIs(const TSPIs &) = delete;
    TSPIs &operator=(const TSPIs &) = delete;

    // The manager that exists, or nullptr.
    static TSPIs *Running();

    TSPISearchOptions SearchOptions = spsSusieDir | spsAppDir;
    bool AutoSearch = true;

    // The owner is set up: searches "*.spi" once when AutoSearch is on.
    void Loaded();

    // Searches for plug-in files matching `mask` and loads them. A mask with
    // a folder searches only that folder; otherwise the folders of
    // SearchOptions, in their order. Files already in the list (same path,
    // whatever the case) are not loaded again; files that are no library or
    // lack an entry point their kind requires are passed over silently.
    void Search(const QString &mask);

    // Appends a plug-in (registers its formats when it is a TInSPI).
    void Add(std::unique_ptr<TSPI> spi);
    void Insert(int index, std::unique_ptr<TSPI> spi);
    // Releases the plug-in at `index`.
    void Delete(int index);
    // Releases every plug-in, from index 0 until the list is empty.
    void Clear();

    int Count() const { return int(FItems.size()); }
    TSPI &Item(int index) const { return *FItems.at(std::size_t(index)); }
    // The index of the plug-in with this file path (case-insensitive), or -1.
    int IndexOf(const QString &path) const;

    // The plug-ins of kind T in list order, those one of whose pattern entries
    // ends in `extension` (".jpg": compared from the entry's last dot, whatever
    // the case) moved to the front as they are met, so the last loaded of them
    // comes first. An empty extension moves none.
    template <class T>
    std::vector<T *> List(const QString &extension) const
    {
        std::vector<T *> list;
        for (const std::unique_ptr<TSPI> &item : FItems) {
            T *spi = dynamic_cast<T *>(item.get());
            if (!spi)
                continue;
            if (MatchesExtension(*spi, extension))
                list.insert(list.begin(), spi);
            else
                list.push_back(spi);
        }
        return list;
    }
    static bool MatchesExtension(const TSPI &spi, const QString &extension);

    // Before a found file is loaded: set `accept` false to pass it over.
    std::function<void(const QString &path, bool &accept)> OnSearching;
    // A plug-in was loaded: set `accept` false to release it.
    std::function<void(TSPI &spi, bool &accept)> OnSearch;
    // An extension of an import plug-in is about to be registered: change the
    // reader, or clear it to leave the extension out.
    std::function<void(TSPI &spi, const QString &description, const QString &extension,
                       TPictureReader &graphicClass)>
        OnPictureRegister;

    // The reader registered for plug-in formats unless OnPictureRegister
    // changes it: a TSPIBitmap loads the file and hands the picture over.
    static TPictureReader DefaultGraphicClass;
    // The same pictures' rows read a band at a time from the plug-in's memory
    // (OpenWithSPIRows), given to every extension whose reader
    // OnPictureRegister did not choose (there is none when it is set).
    static TPictureRowsOpener DefaultRows;

    // Every format this manager registered, in order.
    const std::vector<TSPIFormat> &Formats() const { return FFormats; }

private:
    void SearchFolder(QString folder, const QString &pattern);
    void RegisterFormats(TSPI &spi);
    void Register(TSPI &spi, const QString &description, const QString &extension);

    TPictureFormats *FRegistry;
    std::vector<std::unique_ptr<TSPI>> FItems;
    std::vector<TSPIFormat> FFormats;
    // The registry's formats as they were before a plug-in format replaced
    // them (empty: the extension was not registered), by extension.
    std::vector<std::pair<QString, std::optional<TPictureFormat>>> FReplaced;
};
