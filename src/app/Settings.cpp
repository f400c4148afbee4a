#include "app/Settings.h"

#include "app/DecimalText.h"
#include "app/ProgramFolder.h"

#include <QSettings>
#include <QStringList>

TSettings TSettings::Defaults()
{
    TSettings settings;
    settings.OpenDir = ProgramFolder();
    settings.SaveDir = settings.OpenDir;
    return settings;
}

namespace SettingsStore {

std::unique_ptr<QSettings> OpenUserStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Kestrow"), QStringLiteral("Trazbit"));
}

std::unique_ptr<QSettings> OpenFile(const QString &path)
{
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

std::unique_ptr<QSettings> Open(const QString &explicitPath)
{
    return explicitPath.isEmpty() ? OpenUserStore() : OpenFile(explicitPath);
}

namespace {

// Reads one value of the current section as text; nullopt when it is absent.
std::optional<QString> ReadText(QSettings &store, const QString &key)
{
    if (!store.contains(key))
        return std::nullopt;
    const QVariant value = store.value(key);
    // An INI line holding an unquoted comma reads back as a list.
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

int ReadInteger(QSettings &store, const QString &key, int fallback)
{
    const std::optional<QString> text = ReadText(store, key);
    if (!text)
        return fallback;
    return ParseInteger(*text).value_or(fallback);
}

bool ReadBoolean(QSettings &store, const QString &key, bool fallback)
{
    return ReadInteger(store, key, fallback ? 1 : 0) != 0;
}

QString ReadString(QSettings &store, const QString &key, const QString &fallback)
{
    return ReadText(store, key).value_or(fallback);
}

float ReadRatio(QSettings &store, const QString &key)
{
    const QString text = ReadString(store, key, QStringLiteral("1.00"));
    return ParseFloat(text).value_or(1.0f);
}

void WriteInteger(QSettings &store, const QString &key, int value)
{
    store.setValue(key, QString::number(value));
}

void WriteBoolean(QSettings &store, const QString &key, bool value)
{
    store.setValue(key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void WriteString(QSettings &store, const QString &key, const QString &value)
{
    store.setValue(key, value);
}

void WriteRatio(QSettings &store, const QString &key, float value)
{
    store.setValue(key, FormatGeneral(value));
}

} // namespace

void Load(QSettings &store, TSettings &s, QPoint *windowPosition)
{
    const TSettings d = TSettings::Defaults();

    store.beginGroup(QStringLiteral("System"));
    const int left = ReadInteger(store, QStringLiteral("Left"), 0);
    const int top = ReadInteger(store, QStringLiteral("Top"), 0);
    s.PixelScanMode = ReadInteger(store, QStringLiteral("PixelScanMode"), d.PixelScanMode);
    s.Xrate = ReadRatio(store, QStringLiteral("Xrate"));
    s.Yrate = ReadRatio(store, QStringLiteral("Yrate"));
    s.SaveMode = ReadInteger(store, QStringLiteral("SaveMode"), d.SaveMode);
    s.OpenDir = ReadString(store, QStringLiteral("OpenDir"), d.OpenDir);
    s.SaveDir = ReadString(store, QStringLiteral("SaveDir"), d.SaveDir);
    store.endGroup();

    store.beginGroup(QStringLiteral("Jwc"));
    s.JwcPenColor = ReadInteger(store, QStringLiteral("PenColor"), d.JwcPenColor);
    s.JwcLineType = ReadInteger(store, QStringLiteral("LineType"), d.JwcLineType);
    s.SaveGroup = ReadInteger(store, QStringLiteral("SaveGroup"), d.SaveGroup);
    s.JwcSaveLayer = ReadInteger(store, QStringLiteral("SaveLayer"), d.JwcSaveLayer);
    s.SaveGroupName = ReadString(store, QStringLiteral("SaveGroupName"), d.SaveGroupName);
    s.SaveLayerName = ReadString(store, QStringLiteral("SaveLayerName"), d.SaveLayerName);
    store.endGroup();

    store.beginGroup(QStringLiteral("Dxf"));
    s.DxfPenColor = ReadInteger(store, QStringLiteral("PenColor"), d.DxfPenColor);
    s.DxfSaveLayer = ReadString(store, QStringLiteral("SaveLayer"), d.DxfSaveLayer);
    s.R12opt = ReadBoolean(store, QStringLiteral("R12opt"), d.R12opt);
    s.DxfLineType = ReadInteger(store, QStringLiteral("LineType"), d.DxfLineType);
    s.DxfValueMode = ReadInteger(store, QStringLiteral("ValueMode"), d.DxfValueMode);
    s.DxfValueFigure = ReadInteger(store, QStringLiteral("ValueFigure"), d.DxfValueFigure);
    s.DxfFileUse = ReadBoolean(store, QStringLiteral("DxfFileUse"), d.DxfFileUse);
    store.endGroup();

    store.beginGroup(QStringLiteral("Txt"));
    s.FileExtention = ReadString(store, QStringLiteral("FileExtention"), d.FileExtention);
    s.Divide1 = ReadString(store, QStringLiteral("Divide1"), d.Divide1);
    s.Divide2 = ReadString(store, QStringLiteral("Divide2"), d.Divide2);
    s.Divide3 = ReadString(store, QStringLiteral("Divide3"), d.Divide3);
    s.Divide4 = ReadString(store, QStringLiteral("Divide4"), d.Divide4);
    s.Divide5 = ReadString(store, QStringLiteral("Divide5"), d.Divide5);
    s.TxtValueMode = ReadInteger(store, QStringLiteral("ValueMode"), d.TxtValueMode);
    s.TxtValueFigure = ReadInteger(store, QStringLiteral("ValueFigure"), d.TxtValueFigure);
    store.endGroup();

    if (windowPosition)
        *windowPosition = QPoint(left, top);
}

void Save(QSettings &store, const TSettings &s, QPoint windowPosition)
{
    store.beginGroup(QStringLiteral("System"));
    WriteInteger(store, QStringLiteral("Left"), windowPosition.x());
    WriteInteger(store, QStringLiteral("Top"), windowPosition.y());
    WriteInteger(store, QStringLiteral("PixelScanMode"), s.PixelScanMode);
    WriteRatio(store, QStringLiteral("Xrate"), s.Xrate);
    WriteRatio(store, QStringLiteral("Yrate"), s.Yrate);
    WriteInteger(store, QStringLiteral("SaveMode"), s.SaveMode);
    WriteString(store, QStringLiteral("OpenDir"), s.OpenDir);
    WriteString(store, QStringLiteral("SaveDir"), s.SaveDir);
    store.endGroup();

    store.beginGroup(QStringLiteral("Jwc"));
    WriteInteger(store, QStringLiteral("PenColor"), s.JwcPenColor);
    WriteInteger(store, QStringLiteral("LineType"), s.JwcLineType);
    WriteInteger(store, QStringLiteral("SaveGroup"), s.SaveGroup);
    WriteInteger(store, QStringLiteral("SaveLayer"), s.JwcSaveLayer);
    WriteString(store, QStringLiteral("SaveGroupName"), s.SaveGroupName);
    WriteString(store, QStringLiteral("SaveLayerName"), s.SaveLayerName);
    store.endGroup();

    store.beginGroup(QStringLiteral("Dxf"));
    WriteInteger(store, QStringLiteral("PenColor"), s.DxfPenColor);
    WriteString(store, QStringLiteral("SaveLayer"), s.DxfSaveLayer);
    WriteBoolean(store, QStringLiteral("R12opt"), s.R12opt);
    WriteInteger(store, QStringLiteral("LineType"), s.DxfLineType);
    WriteInteger(store, QStringLiteral("ValueMode"), s.DxfValueMode);
    WriteInteger(store, QStringLiteral("ValueFigure"), s.DxfValueFigure);
    WriteBoolean(store, QStringLiteral("DxfFileUse"), s.DxfFileUse);
    store.endGroup();

    store.beginGroup(QStringLiteral("Txt"));
    WriteString(store, QStringLiteral("FileExtention"), s.FileExtention);
    WriteString(store, QStringLiteral("Divide1"), s.Divide1);
    WriteString(store, QStringLiteral("Divide2"), s.Divide2);
    WriteString(store, QStringLiteral("Divide3"), s.Divide3);
    WriteString(store, QStringLiteral("Divide4"), s.Divide4);
    WriteString(store, QStringLiteral("Divide5"), s.Divide5);
    WriteInteger(store, QStringLiteral("ValueMode"), s.TxtValueMode);
    WriteInteger(store, QStringLiteral("ValueFigure"), s.TxtValueFigure);
    store.endGroup();

    store.sync();
}

} // namespace SettingsStore

QString ScanModeName(int pixelScanMode)
{
    switch (pixelScanMode) {
    case 1: return QStringLiteral("ライン");
    case 2: return QStringLiteral("ボックス");
    case 3: return QStringLiteral("ライン２");
    default: return QString();
    }
}
