#include "base/Settings.h"

#include "base/Cp932Text.h"
#include "base/DecimalText.h"
#include "base/GeneralFormat.h"
#include "base/ProgramFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringDecoder>
#include <QStringList>
#include <QTemporaryFile>

#include <cmath>
#include <cstring>
#include <type_traits>
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
    visit("Cleanup/Arcs", s.CleanupArcs);
    visit("Cleanup/Snap", s.CleanupSnap);
    visit("Cleanup/Deskew", s.CleanupDeskew);
    visit("Cleanup/Linetypes", s.CleanupLinetypes);
}

// The keys of the geometry options, written only when set or already stored,
// so that a settings file without them stays as it was.
bool GeometryKey(const char *key)
{
    return std::strcmp(key, "Cleanup/Arcs") == 0 || std::strcmp(key, "Cleanup/Snap") == 0 ||
           std::strcmp(key, "Cleanup/Deskew") == 0;
}

// The keys of the width layers and fills, written only when set or already stored.
template <class Settings, class Visit>
void ForEachStyleField(Settings &s, Visit &&visit)
{
    visit("Cleanup/Widths", s.CleanupWidths);
    visit("Cleanup/Fills", s.CleanupFills);
}

// The text keys of the clean-up section, written only once one was set.
template <class Settings, class Visit>
void ForEachTextField(Settings &s, Visit &&visit)
{
    visit("Cleanup/TextLayer", s.CleanupTextLayer);
    visit("Cleanup/Ocr", s.CleanupOcr);
    visit("Cleanup/OcrData", s.CleanupOcrData);
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

// "設定 [System] Xrate の値「abc」は無効です。既定値 1 を使います。"
void Warn(QStringList *warnings, const QString &key, const QString &text, const QString &fallback)
{
    if (!warnings)
        return;
    const qsizetype slash = key.indexOf(QLatin1Char('/'));
    *warnings << QStringLiteral("設定 [%1] %2 の値「%3」は無効です。既定値 %4 を使います。")
                     .arg(key.left(slash), key.mid(slash + 1), text, fallback);
}

// Integers: decimal text; text that does not parse gives the default.
void Read(QSettings &store, const QString &key, int &field, QStringList *warnings)
{
    const std::optional<QString> text = ReadText(store, key);
    if (!text)
        return;
    if (const std::optional<int> value = ParseInteger(*text))
        field = *value;
    else
        Warn(warnings, key, *text, QString::number(field));
}

// Booleans: read as integers, any non-zero value is true.
void Read(QSettings &store, const QString &key, bool &field, QStringList *warnings)
{
    int value = field ? 1 : 0;
    Read(store, key, value, warnings);
    field = value != 0;
}

// Ratios: decimal text with a full stop (default "1.00"); text that is not a
// number, or a number too large for a 32-bit float, gives 1.
void Read(QSettings &store, const QString &key, float &field, QStringList *warnings)
{
    const std::optional<QString> text = ReadText(store, key);
    field = 1.0f;
    if (!text)
        return;
    if (const std::optional<float> value = ParseFloat(*text))
        field = *value;
    else
        Warn(warnings, key, *text, QStringLiteral("1"));
}

void Read(QSettings &store, const QString &key, QString &field, QStringList *)
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

// A name written into a file as it is (layer and group names): no line
// break, no other control character, nothing the store could not decode.
bool IsPlainName(const QString &name)
{
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar::ReplacementCharacter)
            return false;
    return true;
}

// A clean-up level: empty, "auto" or a whole number 0..255.
bool IsThreshold(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
        return true;
    const std::optional<int> level = ParseInteger(t);
    return level && *level >= 0 && *level <= 255;
}

// A merge tolerance: empty or a finite number of 0 or more.
bool IsMerge(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return true;
    bool ok = false;
    const double value = t.toDouble(&ok);
    return ok && std::isfinite(value) && value >= 0;
}

// Values that read but lie outside what the program takes give their default,
// with a warning, as values that do not read do.
void CheckRanges(TSettings &s, QStringList *warnings)
{
    const TSettings defaults = TSettings::Defaults();
    const auto check = [&](const char *key, auto &field, bool ok, const auto &fallback, const QString &text,
                           const QString &fallbackText) {
        if (ok)
            return;
        Warn(warnings, QString::fromLatin1(key), text, fallbackText.isEmpty() ? QStringLiteral("（空）") : fallbackText);
        field = fallback;
    };
    check("System/Xrate", s.Xrate, s.Xrate >= 0, defaults.Xrate, FormatGeneral(s.Xrate), QStringLiteral("1"));
    check("System/Yrate", s.Yrate, s.Yrate >= 0, defaults.Yrate, FormatGeneral(s.Yrate), QStringLiteral("1"));
    check("Jwc/SaveGroupName", s.SaveGroupName, IsPlainName(s.SaveGroupName), defaults.SaveGroupName,
          s.SaveGroupName, defaults.SaveGroupName);
    check("Jwc/SaveLayerName", s.SaveLayerName, IsPlainName(s.SaveLayerName), defaults.SaveLayerName,
          s.SaveLayerName, defaults.SaveLayerName);
    check("Dxf/SaveLayer", s.DxfSaveLayer, IsPlainName(s.DxfSaveLayer), defaults.DxfSaveLayer, s.DxfSaveLayer,
          defaults.DxfSaveLayer);
    check("Cleanup/Threshold", s.CleanupThreshold, IsThreshold(s.CleanupThreshold), defaults.CleanupThreshold,
          s.CleanupThreshold, defaults.CleanupThreshold);
    check("Cleanup/Despeckle", s.CleanupDespeckle, s.CleanupDespeckle >= 0, defaults.CleanupDespeckle,
          QString::number(s.CleanupDespeckle), QString::number(defaults.CleanupDespeckle));
    check("Cleanup/Merge", s.CleanupMerge, IsMerge(s.CleanupMerge), defaults.CleanupMerge, s.CleanupMerge,
          defaults.CleanupMerge);
}

// The text of the store's file in UTF-8 when the file is not UTF-8 (saved in
// Shift-JIS by an editor on Windows): read as code page 932, the whole file
// before its lines, so that a trail byte 0x5C is no escape. Nullopt when the
// store is no file or the file is UTF-8, which is then read as it is.
std::optional<QByteArray> Cp932FileAsUtf8(const QSettings &store)
{
    const QString path = store.fileName();
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(bytes); // decoding happens on conversion
    if (!utf8.hasError())
        return std::nullopt;
    return FromCp932(bytes).toUtf8();
}

} // namespace

void Load(QSettings &fileStore, TSettings &s, QPoint *windowPosition, QStringList *warnings)
{
    // A file in code page 932 is read from a UTF-8 copy.
    QTemporaryFile copy;
    std::unique_ptr<QSettings> decoded;
    if (const std::optional<QByteArray> text = Cp932FileAsUtf8(fileStore);
        text && copy.open() && copy.write(*text) == text->size() && copy.flush())
        decoded = std::make_unique<QSettings>(copy.fileName(), QSettings::IniFormat);
    QSettings &store = decoded ? *decoded : fileStore;
    int left = 0;
    int top = 0;
    Read(store, QStringLiteral("System/Left"), left, warnings);
    Read(store, QStringLiteral("System/Top"), top, warnings);
    s = TSettings::Defaults();
    ForEachField(s, [&](const char *key, auto &field) {
        Read(store, QString::fromLatin1(key), field, warnings);
    });
    ForEachCleanupField(s, [&](const char *key, auto &field) {
        Read(store, QString::fromLatin1(key), field, warnings);
    });
    ForEachTextField(s, [&](const char *key, auto &field) {
        Read(store, QString::fromLatin1(key), field, warnings);
    });
    ForEachStyleField(s, [&](const char *key, auto &field) {
        Read(store, QString::fromLatin1(key), field, warnings);
    });
    CheckRanges(s, warnings);
    if (windowPosition)
        *windowPosition = QPoint(left, top);
}

QString StoreProblem(QSettings &store)
{
    // A file is parsed section by section as the sections are used; only a
    // walk over every key finds a line that is not INI.
    (void)store.allKeys();
    switch (store.status()) {
    case QSettings::NoError:
        break;
    case QSettings::AccessError:
        return QStringLiteral("設定ファイル %1 を読み込めません。").arg(store.fileName());
    case QSettings::FormatError:
        return QStringLiteral("設定ファイル %1 は INI 形式ではありません。").arg(store.fileName());
    }
    return QString();
}

void Save(QSettings &store, const TSettings &s, QPoint windowPosition)
{
    // A file in code page 932 becomes UTF-8 first, so that the keys the record
    // does not hold keep their text; the store then reads it again.
    if (const std::optional<QByteArray> text = Cp932FileAsUtf8(store)) {
        QSaveFile file(store.fileName());
        if (file.open(QIODevice::WriteOnly) && file.write(*text) == text->size() && file.commit())
            store.sync();
    }
    Write(store, QStringLiteral("System/Left"), windowPosition.x());
    Write(store, QStringLiteral("System/Top"), windowPosition.y());
    ForEachField(s, [&](const char *key, const auto &field) { Write(store, QString::fromLatin1(key), field); });
    const TSettings defaults;
    const bool geometrySet = s.CleanupArcs != defaults.CleanupArcs || s.CleanupSnap != defaults.CleanupSnap ||
                             s.CleanupDeskew != defaults.CleanupDeskew ||
                             s.CleanupLinetypes != defaults.CleanupLinetypes;
    const bool cleanupSet = s.CleanupThreshold != defaults.CleanupThreshold ||
                            s.CleanupDespeckle != defaults.CleanupDespeckle ||
                            s.CleanupCenterline != defaults.CleanupCenterline ||
                            s.CleanupMerge != defaults.CleanupMerge || geometrySet ||
                            store.childGroups().contains(QStringLiteral("Cleanup"));
    if (cleanupSet)
        ForEachCleanupField(s, [&](const char *key, const auto &field) {
            const QString name = QString::fromLatin1(key);
            // The line types key only once it was set, so that stores of the other steps stay as they were.
            if (std::strcmp(key, "Cleanup/Linetypes") == 0 && s.CleanupLinetypes == defaults.CleanupLinetypes &&
                !store.contains(name))
                return;
            if (!GeometryKey(key) || geometrySet || store.contains(name))
                Write(store, name, field);
        });
    const bool textSet = s.CleanupTextLayer != defaults.CleanupTextLayer || s.CleanupOcr != defaults.CleanupOcr ||
                         s.CleanupOcrData != defaults.CleanupOcrData ||
                         store.contains(QStringLiteral("Cleanup/TextLayer"));
    if (textSet)
        ForEachTextField(s, [&](const char *key, const auto &field) { Write(store, QString::fromLatin1(key), field); });
    ForEachStyleField(s, [&](const char *key, const auto &field) {
        const QString name = QString::fromLatin1(key);
        if (field != std::decay_t<decltype(field)>() || store.contains(name))
            Write(store, name, field);
    });
    store.sync();
}

} // namespace SettingsStore
