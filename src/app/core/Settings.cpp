#include "app/core/Settings.h"

#include "app/core/DecimalText.h"
#include "app/core/GeneralFormat.h"
#include "app/core/ProgramFolder.h"

#include <QSettings>
#include <QStringList>

#include <optional>
#include <utility>

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

// Every stored field, in the order of the store, as (key, field). Load and Save
// both walk this one list; the field's type decides how its text is read and
// written. The window position comes first and is not a field of the record.
template <class Settings, class Visit>
void ForEachField(Settings &s, Visit &&visit)
{
    visit("System/PixelScanMode", s.PixelScanMode);
    visit("System/Xrate", s.Xrate);
    visit("System/Yrate", s.Yrate);
    visit("System/SaveMode", s.SaveMode);
    visit("System/OpenDir", s.OpenDir);
    visit("System/SaveDir", s.SaveDir);
    visit("System/AutoPreview", s.AutoPreview);
    visit("Jwc/PenColor", s.JwcPenColor);
    visit("Jwc/LineType", s.JwcLineType);
    visit("Jwc/SaveGroup", s.SaveGroup);
    visit("Jwc/SaveLayer", s.JwcSaveLayer);
    visit("Jwc/SaveGroupName", s.SaveGroupName);
    visit("Jwc/SaveLayerName", s.SaveLayerName);
    visit("Dxf/PenColor", s.DxfPenColor);
    visit("Dxf/SaveLayer", s.DxfSaveLayer);
    visit("Dxf/R12opt", s.R12opt);
    visit("Dxf/LineType", s.DxfLineType);
    visit("Dxf/ValueMode", s.DxfValueMode);
    visit("Dxf/ValueFigure", s.DxfValueFigure);
    visit("Dxf/DxfFileUse", s.DxfFileUse);
    visit("Txt/FileExtention", s.FileExtention);
    visit("Txt/Divide1", s.Divide1);
    visit("Txt/Divide2", s.Divide2);
    visit("Txt/Divide3", s.Divide3);
    visit("Txt/Divide4", s.Divide4);
    visit("Txt/Divide5", s.Divide5);
    visit("Txt/ValueMode", s.TxtValueMode);
    visit("Txt/ValueFigure", s.TxtValueFigure);
}

// The clean-up section, read like the others; written only once a clean-up
// step was ever set, so that a store without it stays as it was.
template <class Settings, class Visit>
void ForEachCleanupField(Settings &s, Visit &&visit)
{
    visit("Cleanup/Threshold", s.CleanupThreshold);
    visit("Cleanup/Despeckle", s.CleanupDespeckle);
    visit("Cleanup/Centerline", s.CleanupCenterline);
    visit("Cleanup/Merge", s.CleanupMerge);
}

// Reads one value as text; nullopt when it (or its section) is absent.
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

// Integers: decimal text; text that does not parse gives the default.
void Read(QSettings &store, const QString &key, int &field)
{
    if (const std::optional<QString> text = ReadText(store, key))
        field = ParseInteger(*text).value_or(field);
}

// Booleans: read as integers, any non-zero value is true.
void Read(QSettings &store, const QString &key, bool &field)
{
    int value = field ? 1 : 0;
    Read(store, key, value);
    field = value != 0;
}

// Ratios: decimal text with a full stop (default "1.00"); text that is not a
// number gives 1.
void Read(QSettings &store, const QString &key, float &field)
{
    const QString text = ReadText(store, key).value_or(QStringLiteral("1.00"));
    field = ParseFloat(text).value_or(1.0f);
}

void Read(QSettings &store, const QString &key, QString &field)
{
    if (std::optional<QString> text = ReadText(store, key))
        field = std::move(*text);
}

void Write(QSettings &store, const QString &key, int value)
{
    store.setValue(key, QString::number(value));
}

void Write(QSettings &store, const QString &key, bool value)
{
    store.setValue(key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

// Ratios: the general format at 15 significant digits ("1", "0.980000019073486").
void Write(QSettings &store, const QString &key, float value)
{
    store.setValue(key, FormatGeneral(value));
}

void Write(QSettings &store, const QString &key, const QString &value)
{
    store.setValue(key, value);
}

} // namespace

void Load(QSettings &store, TSettings &s, QPoint *windowPosition)
{
    int left = 0;
    int top = 0;
    Read(store, QStringLiteral("System/Left"), left);
    Read(store, QStringLiteral("System/Top"), top);
    s = TSettings::Defaults();
    ForEachField(s, [&](const char *key, auto &field) { Read(store, QString::fromLatin1(key), field); });
    ForEachCleanupField(s, [&](const char *key, auto &field) { Read(store, QString::fromLatin1(key), field); });
    if (windowPosition)
        *windowPosition = QPoint(left, top);
}

void Save(QSettings &store, const TSettings &s, QPoint windowPosition)
{
    Write(store, QStringLiteral("System/Left"), windowPosition.x());
    Write(store, QStringLiteral("System/Top"), windowPosition.y());
    ForEachField(s, [&](const char *key, const auto &field) { Write(store, QString::fromLatin1(key), field); });
    const TSettings defaults;
    const bool cleanupSet = s.CleanupThreshold != defaults.CleanupThreshold ||
                            s.CleanupDespeckle != defaults.CleanupDespeckle ||
                            s.CleanupCenterline != defaults.CleanupCenterline ||
                            s.CleanupMerge != defaults.CleanupMerge ||
                            store.childGroups().contains(QStringLiteral("Cleanup"));
    if (cleanupSet)
        ForEachCleanupField(s, [&](const char *key, const auto &field) { Write(store, QString::fromLatin1(key), field); });
    store.sync();
}

} // namespace SettingsStore
