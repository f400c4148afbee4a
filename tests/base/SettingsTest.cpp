#include "base/ProgramFolder.h"
#include "base/Messages.h"
#include "base/Settings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    // Each rewrite goes to a new file: settings objects share a cache per file
    // name, which a rewrite within the same second may not invalidate.
    QString Path() const { return Dir.filePath(QStringLiteral("trazbit%1.ini").arg(Generation)); }

    void WriteIni(const QByteArray &text)
    {
        ++Generation;
        QFile file(Path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    TSettings LoadFromFile(QPoint *position = nullptr)
    {
        auto store = SettingsStore::OpenFile(Path());
        TSettings settings;
        SettingsStore::Load(*store, settings, position);
        return settings;
    }

    QTemporaryDir Dir;
    int Generation = 0;
};

TEST_F(SettingsTest, FirstStartTakesEveryDefaultAndCloseWritesEverySectionAndKey)
{
    QPoint position(5, 5);
    const TSettings s = LoadFromFile(&position);
    EXPECT_EQ(position, QPoint(0, 0));
    EXPECT_EQ(s.PixelScanMode, 1);
    EXPECT_EQ(s.Xrate, 1.0f);
    EXPECT_EQ(s.Yrate, 1.0f);
    EXPECT_EQ(s.SaveMode, 1);
    EXPECT_EQ(s.OpenDir, ProgramFolder());
    EXPECT_EQ(s.SaveDir, ProgramFolder());
    EXPECT_TRUE(s.AutoPreview);
    EXPECT_EQ(s.JwcPenColor, 1);
    EXPECT_EQ(s.JwcLineType, 1);
    EXPECT_EQ(s.SaveGroup, 0);
    EXPECT_EQ(s.JwcSaveLayer, 0);
    EXPECT_EQ(s.SaveGroupName, QStringLiteral("ScanData"));
    EXPECT_EQ(s.SaveLayerName, QStringLiteral("TZB Data"));
    EXPECT_EQ(s.DxfPenColor, 1);
    EXPECT_EQ(s.DxfSaveLayer, QStringLiteral("Scan Data"));
    EXPECT_TRUE(s.R12opt);
    EXPECT_EQ(s.DxfLineType, 1);
    EXPECT_EQ(s.DxfValueMode, 2);
    EXPECT_EQ(s.DxfValueFigure, 4);
    EXPECT_TRUE(s.DxfFileUse);
    EXPECT_EQ(s.FileExtention, QStringLiteral("txt"));
    EXPECT_EQ(s.Divide1, QString());
    EXPECT_EQ(s.Divide2, QStringLiteral(" "));
    EXPECT_EQ(s.Divide3, QStringLiteral(" "));
    EXPECT_EQ(s.Divide4, QStringLiteral(" "));
    EXPECT_EQ(s.Divide5, QString());
    EXPECT_EQ(s.TxtValueMode, 2);
    EXPECT_EQ(s.TxtValueFigure, 4);

    {
        auto store = SettingsStore::OpenFile(Path());
        SettingsStore::Save(*store, s, QPoint(0, 0));
    }
    QSettings written(Path(), QSettings::IniFormat);
    EXPECT_EQ(written.childGroups(),
              (QStringList{QStringLiteral("Dxf"), QStringLiteral("Jwc"), QStringLiteral("System"),
                           QStringLiteral("Txt")}));
    const QStringList keys = written.allKeys();
    const QStringList expected{
        "System/Left", "System/Top", "System/PixelScanMode", "System/Xrate", "System/Yrate",
        "System/SaveMode", "System/OpenDir", "System/SaveDir", "System/AutoPreview",
        "Jwc/PenColor", "Jwc/LineType",
        "Jwc/SaveGroup", "Jwc/SaveLayer", "Jwc/SaveGroupName", "Jwc/SaveLayerName",
        "Dxf/PenColor", "Dxf/SaveLayer", "Dxf/R12opt", "Dxf/LineType", "Dxf/ValueMode",
        "Dxf/ValueFigure", "Dxf/DxfFileUse", "Txt/FileExtention", "Txt/Divide1", "Txt/Divide2",
        "Txt/Divide3", "Txt/Divide4", "Txt/Divide5", "Txt/ValueMode", "Txt/ValueFigure"};
    EXPECT_EQ(keys.size(), expected.size());
    for (const QString &key : expected) {
        EXPECT_TRUE(keys.contains(key)) << key.toStdString();
        EXPECT_EQ(written.value(key).metaType().id(), QMetaType::QString) << key.toStdString();
    }
    EXPECT_EQ(written.value("System/Xrate").toString(), QStringLiteral("1"));
    EXPECT_EQ(written.value("Txt/Divide2").toString(), QStringLiteral(" "));
    EXPECT_EQ(written.value("Txt/Divide1").toString(), QString());
    EXPECT_EQ(written.value("Dxf/R12opt").toString(), QStringLiteral("1"));
}

TEST_F(SettingsTest, IntegersThatDoNotParseGiveTheDefaultAndBooleansAreIntegers)
{
    WriteIni("[System]\nPixelScanMode=abc\nSaveMode=-3\nLeft=-20\nTop=15\n"
             "[Dxf]\nR12opt=2\nDxfFileUse=0\nPenColor=1.5\nValueFigure=\" 7 \"\n"
             "[Txt]\nValueMode=\n");
    QPoint position;
    const TSettings s = LoadFromFile(&position);
    EXPECT_EQ(s.PixelScanMode, 1);
    EXPECT_EQ(s.SaveMode, -3);  // the store keeps whatever integer it reads
    EXPECT_EQ(position, QPoint(-20, 15));
    EXPECT_TRUE(s.R12opt);
    EXPECT_FALSE(s.DxfFileUse);
    EXPECT_EQ(s.DxfPenColor, 1);
    EXPECT_EQ(s.DxfValueFigure, 7);
    EXPECT_EQ(s.TxtValueMode, 2);

    WriteIni("[Dxf]\nR12opt=0\n");
    EXPECT_FALSE(LoadFromFile().R12opt);
    WriteIni("[Dxf]\nR12opt=x\n");
    EXPECT_TRUE(LoadFromFile().R12opt);
}

TEST_F(SettingsTest, EmptySeparatorStaysEmptyWhileMissingOneTakesTheDefault)
{
    WriteIni("[Txt]\nDivide1=\nDivide3=\"\"\nDivide5=\";\"\n");
    const TSettings s = LoadFromFile();
    EXPECT_EQ(s.Divide1, QString());
    EXPECT_EQ(s.Divide2, QStringLiteral(" "));
    EXPECT_EQ(s.Divide3, QString());
    EXPECT_EQ(s.Divide5, QStringLiteral(";"));
}

TEST_F(SettingsTest, RatiosAreWrittenInTheGeneralFormatAndReadBackToTheSameFloat)
{
    WriteIni("[System]\nXrate=1.00\nYrate=0.98\n");
    TSettings s = LoadFromFile();
    EXPECT_EQ(s.Xrate, 1.0f);
    EXPECT_EQ(s.Yrate, 0.98f);
    {
        auto store = SettingsStore::OpenFile(Path());
        SettingsStore::Save(*store, s, QPoint(0, 0));
    }
    QSettings written(Path(), QSettings::IniFormat);
    EXPECT_EQ(written.value("System/Xrate").toString(), QStringLiteral("1"));
    EXPECT_EQ(written.value("System/Yrate").toString(), QStringLiteral("0.980000019073486"));
    EXPECT_EQ(LoadFromFile().Yrate, 0.98f);
}

TEST_F(SettingsTest, RatioTextThatIsNotANumberFallsBackToOne)
{
    WriteIni("[System]\nXrate=0,98\nYrate=abc\nSaveMode=3\n");
    const TSettings s = LoadFromFile();
    EXPECT_EQ(s.Xrate, 1.0f);
    EXPECT_EQ(s.Yrate, 1.0f);
    EXPECT_EQ(s.SaveMode, 3);  // fields after the ratios still load
}

TEST_F(SettingsTest, EveryValueThatGivesWayToItsDefaultIsWarnedAbout)
{
    WriteIni("[System]\nLeft=1e3\nPixelScanMode=abc\nXrate=0,98\nYrate=1e40\nSaveMode=3\n"
             "[Jwc]\nSaveGroup=2147483648\nSaveLayer=-2147483648\n"
             "[Dxf]\nR12opt=yes\nValueFigure=\" 7 \"\n[Txt]\nValueMode=\nDivide1=abc\n");
    auto store = SettingsStore::OpenFile(Path());
    TSettings settings;
    QStringList warnings;
    SettingsStore::Load(*store, settings, nullptr, &warnings);
    const auto warning = [](const char *section, const char *key, const char *text, const char *fallback) {
        return QStringLiteral("設定 [%1] %2 の値「%3」は無効です。既定値 %4 を使います。")
            .arg(QLatin1String(section), QLatin1String(key), QString::fromUtf8(text),
                 QLatin1String(fallback));
    };
    EXPECT_EQ(warnings, (QStringList{warning("System", "Left", "1e3", "0"),
                                     warning("System", "PixelScanMode", "abc", "1"),
                                     warning("System", "Xrate", "0,98", "1"),
                                     warning("System", "Yrate", "1e40", "1"),
                                     warning("Jwc", "SaveGroup", "2147483648", "0"),
                                     warning("Dxf", "R12opt", "yes", "1"),
                                     warning("Txt", "ValueMode", "", "2")}));
    EXPECT_EQ(settings.JwcSaveLayer, -2147483647 - 1);
    EXPECT_EQ(settings.DxfValueFigure, 7);
    EXPECT_TRUE(SettingsStore::StoreProblem(*store).isEmpty());
}

// Values that read but that the program does not take, names that would break
// the file they are written into, and text that is neither UTF-8 nor code page
// 932: each gives its default, with a warning.
TEST_F(SettingsTest, ValuesOutsideTheirRangeAndUnwritableNamesGiveTheirDefaultWithAWarning)
{
    struct TCase
    {
        const char *Section, *Key, *Line, *Shown, *Fallback;
    };
    const TCase cases[] = {
        {"System", "Xrate", "-1", "-1", "1"},
        {"System", "Yrate", "-0.5", "-0.5", "1"},
        {"Cleanup", "Threshold", "abc", "abc", "（空）"},
        {"Cleanup", "Threshold", "300", "300", "（空）"},
        {"Cleanup", "Threshold", "-1", "-1", "（空）"},
        {"Cleanup", "Merge", "abc", "abc", "（空）"},
        {"Cleanup", "Merge", "-1", "-1", "（空）"},
        {"Cleanup", "Merge", "nan", "nan", "（空）"},
        {"Cleanup", "Despeckle", "-1", "-1", "0"},
        {"Dxf", "SaveLayer", "\"L\\r\\n  0\\r\\nEOF\"", "L\r\n  0\r\nEOF", "Scan Data"},
        {"Dxf", "SaveLayer", "\"a\\tb\"", "a\tb", "Scan Data"},
        {"Jwc", "SaveLayerName", "\x85\x40", "\xef\xbf\xbd", "TZB Data"},
        {"Jwc", "SaveGroupName", "\"x\\ny\"", "x\ny", "ScanData"},
    };
    const TSettings defaults = TSettings::Defaults();
    for (const TCase &c : cases) {
        WriteIni(QByteArray("[") + c.Section + "]\n" + c.Key + "=" + c.Line + "\n");
        auto store = SettingsStore::OpenFile(Path());
        TSettings s;
        QStringList warnings;
        SettingsStore::Load(*store, s, nullptr, &warnings);
        EXPECT_EQ(warnings, QStringList{QStringLiteral("設定 [%1] %2 の値「%3」は無効です。既定値 %4 を使います。")
                                            .arg(QLatin1String(c.Section), QLatin1String(c.Key),
                                                 QString::fromUtf8(c.Shown), QString::fromUtf8(c.Fallback))})
            << c.Key << " " << c.Line;
        EXPECT_EQ(s.Xrate, defaults.Xrate);
        EXPECT_EQ(s.Yrate, defaults.Yrate);
        EXPECT_EQ(s.CleanupThreshold, defaults.CleanupThreshold);
        EXPECT_EQ(s.CleanupMerge, defaults.CleanupMerge);
        EXPECT_EQ(s.CleanupDespeckle, defaults.CleanupDespeckle);
        EXPECT_EQ(s.DxfSaveLayer, defaults.DxfSaveLayer);
        EXPECT_EQ(s.SaveLayerName, defaults.SaveLayerName);
        EXPECT_EQ(s.SaveGroupName, defaults.SaveGroupName);
    }
    // Values within range are taken.
    WriteIni("[System]\nXrate=0\n[Cleanup]\nThreshold=255\nMerge=1.875\nDespeckle=3\n"
             "[Dxf]\nSaveLayer=\xe5\x9b\xb3\xe9\x9d\xa2\n");
    auto store = SettingsStore::OpenFile(Path());
    TSettings s;
    QStringList warnings;
    SettingsStore::Load(*store, s, nullptr, &warnings);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(s.Xrate, 0.0f);
    EXPECT_EQ(s.CleanupThreshold, QStringLiteral("255"));
    EXPECT_EQ(s.CleanupMerge, QStringLiteral("1.875"));
    EXPECT_EQ(s.CleanupDespeckle, 3);
    EXPECT_EQ(s.DxfSaveLayer, QStringLiteral("図面"));
}

// A file that is not UTF-8 (saved in Shift-JIS) is read as code page 932, the
// whole file before its lines, so that a trail byte 0x5C is no escape; a UTF-8
// file reads as it is. The window saves what it read as UTF-8, and keeps the
// keys it does not know (a trail byte 0x5C at a line's end is no continuation).
TEST_F(SettingsTest, AFileThatIsNotUtf8IsReadAsCodePage932AndSavedAsUtf8)
{
    struct TCase
    {
        const char *Line, *Layer;
    };
    const TCase cases[] = {
        {"\x90\x7d\x96\xca", "図面"},                   // Shift-JIS
        {"\xe5\x9b\xb3\xe9\x9d\xa2", "図面"},          // UTF-8
        {"\x95\x5c\x83\x5c", "表ソ"},                   // trail bytes 0x5C
        {"\xb1\xb2 \x87\x40", "ｱｲ ①"},                 // half-width kana, Windows extension
        {"\xc3\x83", "\xc3\x83"},                       // valid UTF-8 stays UTF-8
    };
    for (const TCase &c : cases) {
        WriteIni(QByteArray("[Dxf]\nSaveLayer=") + c.Line + "\n[Other]\nKey=1\n");
        TSettings s;
        QStringList warnings;
        SettingsStore::Load(*SettingsStore::OpenFile(Path()), s, nullptr, &warnings);
        EXPECT_TRUE(warnings.isEmpty()) << c.Line;
        EXPECT_EQ(s.DxfSaveLayer, QString::fromUtf8(c.Layer)) << c.Line;

        SettingsStore::Save(*SettingsStore::OpenFile(Path()), s, QPoint(0, 0));
        QFile file(Path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        EXPECT_TRUE(saved.contains(QByteArray("SaveLayer=") + QString::fromUtf8(c.Layer).toUtf8() + "\n"))
            << saved.toStdString();
        EXPECT_TRUE(saved.contains("[Other]\nKey=1\n")) << saved.toStdString();
    }
}

TEST_F(SettingsTest, AFileThatIsNotIniIsNamedAsSuch)
{
    static const char kBitmapStart[] = "BM\x3e\0\0\0\0\0\0\0\x3e\0\0\0\x28\0";
    WriteIni(QByteArray(kBitmapStart, sizeof kBitmapStart - 1));
    auto store = SettingsStore::OpenFile(Path());
    EXPECT_EQ(SettingsStore::StoreProblem(*store),
              QStringLiteral("設定ファイル %1 は INI 形式ではありません。").arg(Path()));
}

TEST_F(SettingsTest, SaveLayerIsANumberInJwcAndANameInDxf)
{
    WriteIni("[Jwc]\nSaveLayer=3\n[Dxf]\nSaveLayer=3\n");
    const TSettings s = LoadFromFile();
    EXPECT_EQ(s.JwcSaveLayer, 3);
    EXPECT_EQ(s.DxfSaveLayer, QStringLiteral("3"));
}

TEST_F(SettingsTest, EveryFieldSurvivesASaveAndLoad)
{
    TSettings s = TSettings::Defaults();
    s.PixelScanMode = 3;
    s.Xrate = 1.25f;
    s.Yrate = 0.98f;
    s.SaveMode = 2;
    s.OpenDir = QStringLiteral("/drawings/in/");
    s.SaveDir = QStringLiteral("/drawings/out/");
    s.AutoPreview = false;
    s.JwcPenColor = 6;
    s.JwcLineType = 9;
    s.SaveGroup = 15;
    s.JwcSaveLayer = 10;
    s.SaveGroupName = QStringLiteral("図面グループ");
    s.SaveLayerName = QStringLiteral("表ソ");
    s.DxfPenColor = 250;
    s.DxfSaveLayer = QStringLiteral(" leading space, comma");
    s.R12opt = false;
    s.DxfLineType = 2;
    s.DxfValueMode = 3;
    s.DxfValueFigure = 2;
    s.DxfFileUse = false;
    s.FileExtention = QStringLiteral("dat");
    s.Divide1 = QStringLiteral("L(");
    s.Divide2 = QStringLiteral(",");
    s.Divide3 = QStringLiteral("；");
    s.Divide4 = QStringLiteral("\t");
    s.Divide5 = QStringLiteral(")");
    s.TxtValueMode = 1;
    s.TxtValueFigure = 9;
    {
        auto store = SettingsStore::OpenFile(Path());
        SettingsStore::Save(*store, s, QPoint(120, 80));
    }
    QPoint position;
    const TSettings r = LoadFromFile(&position);
    EXPECT_EQ(position, QPoint(120, 80));
    EXPECT_EQ(r.PixelScanMode, 3);
    EXPECT_EQ(r.Xrate, 1.25f);
    EXPECT_EQ(r.Yrate, 0.98f);
    EXPECT_EQ(r.SaveMode, 2);
    EXPECT_EQ(r.OpenDir, s.OpenDir);
    EXPECT_EQ(r.SaveDir, s.SaveDir);
    EXPECT_FALSE(r.AutoPreview);
    EXPECT_EQ(r.JwcPenColor, 6);
    EXPECT_EQ(r.JwcLineType, 9);
    EXPECT_EQ(r.SaveGroup, 15);
    EXPECT_EQ(r.JwcSaveLayer, 10);
    EXPECT_EQ(r.SaveGroupName, s.SaveGroupName);
    EXPECT_EQ(r.SaveLayerName, s.SaveLayerName);
    EXPECT_EQ(r.DxfPenColor, 250);
    EXPECT_EQ(r.DxfSaveLayer, s.DxfSaveLayer);
    EXPECT_FALSE(r.R12opt);
    EXPECT_EQ(r.DxfLineType, 2);
    EXPECT_EQ(r.DxfValueMode, 3);
    EXPECT_EQ(r.DxfValueFigure, 2);
    EXPECT_FALSE(r.DxfFileUse);
    EXPECT_EQ(r.FileExtention, s.FileExtention);
    EXPECT_EQ(r.Divide1, s.Divide1);
    EXPECT_EQ(r.Divide2, s.Divide2);
    EXPECT_EQ(r.Divide3, s.Divide3);
    EXPECT_EQ(r.Divide4, s.Divide4);
    EXPECT_EQ(r.Divide5, s.Divide5);
    EXPECT_EQ(r.TxtValueMode, 1);
    EXPECT_EQ(r.TxtValueFigure, 9);
}

TEST_F(SettingsTest, CleanupSectionIsWrittenOnlyOnceAStepWasSet)
{
    // All off: the store holds no Cleanup section, as before the clean-up existed.
    {
        auto store = SettingsStore::OpenFile(Path());
        SettingsStore::Save(*store, TSettings::Defaults(), QPoint());
    }
    EXPECT_FALSE(QSettings(Path(), QSettings::IniFormat).childGroups().contains(QStringLiteral("Cleanup")));

    // Every step set: the four keys, as text, read back the same.
    TSettings s = TSettings::Defaults();
    s.CleanupThreshold = QStringLiteral("auto");
    s.CleanupDespeckle = 4;
    s.CleanupCenterline = true;
    s.CleanupMerge = QStringLiteral("1.5");
    ++Generation;
    {
        auto store = SettingsStore::OpenFile(Path());
        SettingsStore::Save(*store, s, QPoint());
    }
    {
        QSettings written(Path(), QSettings::IniFormat);
        EXPECT_EQ(written.value("Cleanup/Threshold").toString(), QStringLiteral("auto"));
        EXPECT_EQ(written.value("Cleanup/Despeckle").toString(), QStringLiteral("4"));
        EXPECT_EQ(written.value("Cleanup/Centerline").toString(), QStringLiteral("1"));
        EXPECT_EQ(written.value("Cleanup/Merge").toString(), QStringLiteral("1.5"));
    }
    const TSettings r = LoadFromFile();
    EXPECT_EQ(r.CleanupThreshold, QStringLiteral("auto"));
    EXPECT_EQ(r.CleanupDespeckle, 4);
    EXPECT_TRUE(r.CleanupCenterline);
    EXPECT_EQ(r.CleanupMerge, QStringLiteral("1.5"));

    // Back to all off in the same store: the section keeps the off values.
    {
        auto store = SettingsStore::OpenFile(Path());
        SettingsStore::Save(*store, TSettings::Defaults(), QPoint());
    }
    const TSettings off = LoadFromFile();
    EXPECT_EQ(off.CleanupThreshold, QString());
    EXPECT_EQ(off.CleanupDespeckle, 0);
    EXPECT_FALSE(off.CleanupCenterline);
    EXPECT_EQ(off.CleanupMerge, QString());
    EXPECT_EQ(QSettings(Path(), QSettings::IniFormat).value("Cleanup/Centerline").toString(), QStringLiteral("0"));
}

TEST(SettingsUserStore, LivesUnderTheUsersConfigurationFolderAsKestrowTrazbit)
{
    auto store = SettingsStore::OpenUserStore();
    EXPECT_EQ(store->organizationName(), QStringLiteral("Kestrow"));
    EXPECT_EQ(store->applicationName(), QStringLiteral("Trazbit"));
    EXPECT_EQ(store->scope(), QSettings::UserScope);
}

TEST(ScanModeNames, NameEachMethodAndNothingElse)
{
    EXPECT_EQ(ScanModeName(1), QStringLiteral("ライン"));
    EXPECT_EQ(ScanModeName(2), QStringLiteral("ボックス"));
    EXPECT_EQ(ScanModeName(3), QStringLiteral("ライン２"));
    EXPECT_TRUE(ScanModeName(0).isEmpty());
    EXPECT_TRUE(ScanModeName(4).isEmpty());
}

} // namespace
