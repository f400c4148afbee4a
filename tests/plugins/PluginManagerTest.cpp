// The plug-in manager: kinds and entry points, information items, the search
// and its folders, registration of the formats, events, errors.

#include "PluginFixture.h"

#include "base/Errors.h"
#include "image/TzDIB.h"
#include "plugins/SPIErrors.h"
#include "plugins/SusieFolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// The kind the manager made of a plug-in, or "" when it was passed over.
std::string KindOf(const TSPIs &manager, const QString &path)
{
    const int index = manager.IndexOf(path);
    if (index < 0)
        return "";
    const TSPI &spi = manager.Item(index);
    if (dynamic_cast<const TInSPI *>(&spi))
        return "TInSPI";
    if (dynamic_cast<const TAmSPI *>(&spi))
        return "TAmSPI";
    if (dynamic_cast<const TXnSPI *>(&spi))
        return "TXnSPI";
    return "TSPI";
}

std::vector<std::string> Paths(const TSPIs &manager)
{
    std::vector<std::string> out;
    for (int i = 0; i < manager.Count(); ++i)
        out.push_back(manager.Item(i).FilePath().toStdString());
    return out;
}

// A reader that names itself in the picture's width, for telling readers apart.
TPictureReader WidthReader(int width)
{
    return [width](const QString &, TTzDIB &picture) { picture.SetWidth(width); };
}

TEST_F(PluginTest, EveryTestPluginBecomesTheKindItsTypeAndEntryPointsGive)
{
    const auto manager = LoadTestPlugins();
    struct TCase
    {
        const char *Name;
        std::string Kind;
        bool Loader;
    };
    const TCase cases[] = {
        {"first", "TInSPI", true},     {"second", "TInSPI", true},
        {"no_item3", "TInSPI", true},  {"archive", "TAmSPI", true},
        {"xn", "TXnSPI", false},       {"other", "TSPI", false},
        {"small_am", "TSPI", false},   // "00am" is no archive type
        {"no_info", "", false},        // no GetPluginInfo
        {"no_picture", "", false},     // "00IN" without GetPicture
        {"no_supported", "", false},   // "00IN" without IsSupported
        {"notlib", "", false},         // no library at all
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = TestPlugin(c.Name);
        EXPECT_EQ(KindOf(*manager, path), c.Kind);
        if (!c.Kind.empty()) {
            EXPECT_EQ(manager->Item(manager->IndexOf(path)).IsLoader(), c.Loader);
        }
    }
    EXPECT_EQ(manager->Count(), 7);
    // Search order is the folder's (by name).
    EXPECT_EQ(manager->Item(0).FilePath(), TestPlugin("archive"));
    EXPECT_EQ(manager->Item(1).FilePath(), TestPlugin("first"));
}

TEST_F(PluginTest, InformationItemsArePairedAndAPairWithoutItsDescriptionIsDropped)
{
    const auto manager = LoadTestPlugins();
    const TSPI &first = manager->Item(manager->IndexOf(TestPlugin("first")));
    EXPECT_EQ(first.Type(), QStringLiteral("00IN"));
    EXPECT_EQ(first.Description(), QStringLiteral("Trazbit test plug-in"));
    EXPECT_EQ(first.Patterns(), (QStringList{QStringLiteral("*.tzt"), QStringLiteral("*.tzx;*.TZY")}));
    EXPECT_EQ(first.Descriptions(),
              (QStringList{QStringLiteral("テスト画像"), QStringLiteral("Trazbit test picture 2")}));
    const TSPI &noItem3 = manager->Item(manager->IndexOf(TestPlugin("no_item3")));
    EXPECT_TRUE(noItem3.Patterns().isEmpty());
    EXPECT_TRUE(noItem3.Descriptions().isEmpty());

    // The archive plug-in has every archive entry point bound.
    const TSPIEntryPoints &archive = manager->Item(manager->IndexOf(TestPlugin("archive"))).EntryPoints();
    EXPECT_TRUE(archive.GetArchiveInfo && archive.GetFileInfo && archive.GetFile);
    EXPECT_FALSE(archive.ConfigurationDlg || archive.GetPreview);
}

TEST_F(PluginTest, ErrorsCarryTheirExactTexts)
{
    try {
        TSPI::Load<TSPI>(TestPlugin("notlib"));
        FAIL() << "no error";
    } catch (const ESPIFOpenErrorSPI &e) {
        EXPECT_EQ(e.Message(), TestPlugin("notlib") + QStringLiteral(":Susie Pluginがロードできませんでした"));
    }
    try {
        TSPI::Load<TInSPI>(TestPlugin("no_picture"));
        FAIL() << "no error";
    } catch (const ESPIInvalidAPI &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("GetPictureは[") + TestPlugin("no_picture")
                                   + QStringLiteral("]では使えないSusie Plugin APIです"));
    }
    EXPECT_EQ(TSPI::Create(TestPlugin("no_info")), nullptr);

    const TSPIs manager;
    EXPECT_EQ(TSPIs::Running(), &manager);
    try {
        TSPIs second;
        FAIL() << "no error";
    } catch (const ESPIDupCreateSPIs &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("TSPIs は複数生成できません"));
    }
    EXPECT_EQ(TSPIs::Running(), &manager);
}

TEST_F(PluginTest, TheManagerSlotIsFreeAgainOnceItIsDestroyed)
{
    { const TSPIs manager; }
    EXPECT_EQ(TSPIs::Running(), nullptr);
    const TSPIs again;
    EXPECT_EQ(TSPIs::Running(), &again);
}

TEST_F(PluginTest, SearchFoldersFollowTheOptionsInTheirOrder)
{
    // A copy of a test plug-in in the current folder, the test plug-ins as
    // the Susie folder; the program's folder holds the CALS plug-in.
    QTemporaryDir current;
    ASSERT_TRUE(QFile::copy(TestPlugin("first"), current.filePath(QStringLiteral("copy.spi"))));
    const QString copy = QDir::toNativeSeparators(QFileInfo(current.filePath(QStringLiteral("copy.spi"))).absoluteFilePath());
    const QString cals = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QStringLiteral("/cals.spi"));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(current.path()));

    auto search = [&](TSPISearchOptions options, const QString &mask) {
        TSPIs manager;
        manager.SearchOptions = options;
        manager.Search(mask);
        return Paths(manager);
    };
    const std::string first = TestPlugin("first").toStdString();
    const std::string tests = TestPluginFolder().toStdString();

    // No Susie folder set: that option adds nothing.
    EXPECT_EQ(search(spsSusieDir | spsAppDir, QStringLiteral("*.spi")),
              std::vector<std::string>{cals.toStdString()});
    EXPECT_EQ(search({}, QStringLiteral("*.spi")), std::vector<std::string>{});

    {
        QSettings susie(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Takechin"),
                        QStringLiteral("Susie"));
        susie.setValue(QStringLiteral("Plug-in/Path"), QString::fromStdString(tests));
    }
    EXPECT_EQ(SusiePluginFolder().toStdString(), tests);
    const auto all = search(spsSusieDir | spsAppDir | spsCurrentDir, QStringLiteral("f*.spi"));
    EXPECT_EQ(all, (std::vector<std::string>{first}));
    // Susie folder, program folder, current folder; the same plug-in under
    // another path loads again.
    const auto wide = search(spsCurrentDir | spsSusieDir | spsAppDir, QStringLiteral("*.spi"));
    ASSERT_EQ(wide.size(), 9u);
    EXPECT_EQ(wide[1], first);
    EXPECT_EQ(wide[7], cals.toStdString());
    EXPECT_EQ(wide[8], copy.toStdString());

    // A mask with a folder searches only there.
    EXPECT_EQ(search(spsSusieDir | spsAppDir | spsCurrentDir,
                     QDir::fromNativeSeparators(current.path()) + QStringLiteral("/*.spi")),
              std::vector<std::string>{copy.toStdString()});
    ASSERT_TRUE(QDir::setCurrent(previous));
}

TEST_F(PluginTest, AnEmptySusieValueSkipsTheFolderAndReadingCreatesNothing)
{
    const QString file = SettingsDir.filePath(QStringLiteral("Takechin/Susie.conf"));
    EXPECT_EQ(SusiePluginFolder(), QString());
    EXPECT_FALSE(QFile::exists(file));
    {
        QSettings susie(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Takechin"),
                        QStringLiteral("Susie"));
        susie.setValue(QStringLiteral("Plug-in/Path"), QString());
    }
    EXPECT_EQ(SusiePluginFolder(), QString());
    TSPIs manager;
    manager.SearchOptions = spsSusieDir;
    manager.Loaded();
    EXPECT_EQ(manager.Count(), 0);
}

TEST_F(PluginTest, SearchingAgainLoadsNothingTwiceAndPathsCompareWithoutCase)
{
    const auto manager = LoadTestPlugins();
    manager->Search(TestPluginFolder() + QStringLiteral("*.spi"));
    EXPECT_EQ(manager->Count(), 7);
    EXPECT_EQ(manager->IndexOf(TestPlugin("first").toUpper()), 1);
    EXPECT_EQ(manager->IndexOf(TestPlugin("nothing")), -1);
}

TEST_F(PluginTest, EventsVetoFilesAndPlugins)
{
    TPictureFormats formats;
    TSPIs manager(&formats);
    QStringList asked;
    manager.OnSearching = [&](const QString &path, bool &accept) {
        asked << QFileInfo(path).fileName();
        accept = !path.endsWith(QStringLiteral("second.spi"));
    };
    manager.OnSearch = [&](TSPI &spi, bool &accept) { accept = spi.Type() == QStringLiteral("00IN"); };
    manager.OnPictureRegister = [&](TSPI &, const QString &, const QString &extension,
                                    TPictureReader &graphicClass) {
        if (extension == QStringLiteral("tzx"))
            graphicClass = nullptr;
        else if (extension == QStringLiteral("TZY"))
            graphicClass = WidthReader(7);
    };
    manager.Search(TestPluginFolder() + QStringLiteral("*.spi"));
    EXPECT_EQ(asked.size(), 11);
    EXPECT_EQ(Paths(manager), (std::vector<std::string>{TestPlugin("first").toStdString(),
                                                       TestPlugin("no_item3").toStdString()}));
    ASSERT_EQ(formats.Formats().size(), 2u);
    EXPECT_EQ(formats.Formats()[0].Extension, QStringLiteral("tzt"));
    EXPECT_EQ(formats.Formats()[1].Extension, QStringLiteral("tzy"));
    TTzDIB picture;
    formats.Load(Dir.filePath(QStringLiteral("any.tzy")), picture);
    EXPECT_EQ(picture.Width(), 7);
}

TEST_F(PluginTest, ImportFormatsAreRegisteredFromTheRightAndGivenBackAtTheEnd)
{
    TPictureFormats formats;
    formats.Register(QStringLiteral("tzx"), QStringLiteral("built in"), WidthReader(5));
    {
        const auto manager = LoadTestPlugins(&formats);
        std::vector<std::string> registered;
        for (const TSPIFormat &f : manager->Formats())
            registered.push_back(f.Extension.toStdString() + "|" + f.Description.toStdString() + "|"
                                 + QFileInfo(f.PluginPath).fileName().toStdString());
        EXPECT_EQ(registered, (std::vector<std::string>{
                                  "tzt|テスト画像|first.spi",
                                  "tzy|Trazbit test picture 2|first.spi",
                                  "tzx|Trazbit test picture 2|first.spi",
                                  "tzt|Trazbit test picture (second)|second.spi",
                              }));
        ASSERT_EQ(formats.Formats().size(), 3u);
        EXPECT_EQ(formats.Find(QStringLiteral("tzt"))->Description,
                  QStringLiteral("Trazbit test picture (second)"));
        EXPECT_EQ(formats.Find(QStringLiteral("tzx"))->Description, QStringLiteral("Trazbit test picture 2"));
        EXPECT_EQ(formats.OpenFilter(),
                  QStringLiteral("すべての画像 (*.tzx;*.tzt;*.tzy)|*.tzx;*.tzt;*.tzy|"
                                 "Trazbit test picture 2 (*.tzx;*.tzy)|*.tzx;*.tzy|"
                                 "Trazbit test picture (second) (*.tzt)|*.tzt"));

        // What no plug-in reads goes to the reader the extension had before.
        TTzDIB picture;
        formats.Load(Write(QStringLiteral("plain.tzx"), QByteArray("not a picture")), picture);
        EXPECT_EQ(picture.Width(), 5);
        // Without an earlier reader the plug-in format's error stands.
        try {
            formats.Load(Write(QStringLiteral("plain.tzt"), QByteArray("not a picture")), picture);
            FAIL() << "no error";
        } catch (const EInvalidGraphic &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("認識できない画像形式です"));
        }
    }
    ASSERT_EQ(formats.Formats().size(), 1u);
    EXPECT_EQ(formats.Formats()[0].Description, QStringLiteral("built in"));
    TTzDIB picture;
    formats.Load(Dir.filePath(QStringLiteral("x.tzx")), picture);
    EXPECT_EQ(picture.Width(), 5);
}

TEST_F(PluginTest, InsertRegistersDeleteReleasesAndBadIndicesRaise)
{
    TPictureFormats formats;
    TSPIs manager(&formats);
    manager.Add(TSPI::Create(TestPlugin("xn")));
    manager.Insert(0, TSPI::Create(TestPlugin("second")));
    EXPECT_EQ(manager.Item(0).FilePath(), TestPlugin("second"));
    EXPECT_NE(formats.Find(QStringLiteral("tzt")), nullptr);
    EXPECT_THROW(manager.Insert(3, TSPI::Create(TestPlugin("first"))), ERangeError);
    EXPECT_THROW(manager.Delete(2), ERangeError);
    manager.Delete(0);
    EXPECT_EQ(manager.Count(), 1);
    manager.Clear();
    EXPECT_EQ(manager.Count(), 0);
}

TEST_F(PluginTest, ListingPutsPluginsOfTheExtensionFirstTheLastLoadedFirst)
{
    const auto manager = LoadTestPlugins();
    auto names = [&](const QString &extension) {
        std::vector<std::string> out;
        for (const TInSPI *spi : manager->List<TInSPI>(extension))
            out.push_back(QFileInfo(spi->FilePath()).baseName().toStdString());
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(names(QStringLiteral(".TZT")), (V{"second", "first", "no_item3"}));
    EXPECT_EQ(names(QString()), (V{"first", "no_item3", "second"}));
    EXPECT_EQ(manager->List<TAmSPI>(QStringLiteral(".tzt")).size(), 1u);
}

} // namespace
