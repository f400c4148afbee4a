#include "export/OutputFormats.h"

#include "base/Settings.h"
#include "export/ClipboardText.h"
#include "export/DxfWriter.h"
#include "export/JwcWriter.h"
#include "export/SaveFileName.h"
#include "export/TextWriter.h"

#include <QStringList>

TFormatWriter::~TFormatWriter() = default;

TWriteResult TFormatWriter::Prepare(const TExportContext &)
{
    return WriteDone;
}

const std::vector<TOutputFormat> &OutputFormats()
{
    // Adding a format: one row here and one writer file.
    static const std::vector<TOutputFormat> formats = {
        {SaveFormatText, "txt", nullptr, "座標ﾌｧｲﾙ", nullptr, NewTextWriter},
        {SaveFormatDxf, "dxf", "dxf", "DXFﾌｧｲﾙ", "DXF", NewDxfWriter},
        {SaveFormatJwc, "jwc", "jwc", "JW_CADﾌｧｲﾙ", "JWC", NewJwcWriter},
        {SaveFormatClipText, "clip-txt", nullptr, nullptr, "座標形式", NewCoordinateClipboardWriter},
        {SaveFormatClipJwt, "clip-jwt", "jwt", nullptr, "JWTran形式", NewJwTranClipboardWriter},
    };
    return formats;
}

const TOutputFormat *FindOutputFormat(int mode)
{
    for (const TOutputFormat &format : OutputFormats())
        if (format.Mode == mode)
            return &format;
    return nullptr;
}

const TOutputFormat *FindOutputFormat(const QString &name)
{
    for (const TOutputFormat &format : OutputFormats())
        if (name.compare(QLatin1String(format.Name), Qt::CaseInsensitive) == 0)
            return &format;
    return nullptr;
}

const TOutputFormat &OutputFormatForFileName(const QString &path)
{
    const QString extension = ExtensionOf(path).mid(1);
    for (const TOutputFormat &format : OutputFormats())
        if (format.IsFile() && format.FixedExtension
            && extension.compare(QLatin1String(format.FixedExtension), Qt::CaseInsensitive) == 0)
            return format;
    return *FindOutputFormat(SaveFormatText);
}

QString SaveDialogFilter(const TSettings &settings)
{
    QStringList entries;
    for (const TOutputFormat &format : OutputFormats())
        if (format.IsFile())
            entries << format.DialogFilter(settings);
    return entries.join(QLatin1Char('|'));
}

QString TOutputFormat::Extension(const TSettings &settings) const
{
    return FixedExtension ? QString::fromLatin1(FixedExtension) : settings.FileExtention;
}

QString TOutputFormat::WrittenFileName(const QString &chosen, const TSettings &settings) const
{
    return ReplaceExtension(chosen, QLatin1Char('.') + Extension(settings));
}

QString TOutputFormat::DialogFilter(const TSettings &settings) const
{
    const QString pattern = QStringLiteral("*.") + Extension(settings);
    return QString::fromUtf8(DialogName) + QLatin1Char('(') + pattern + QStringLiteral(")|") + pattern;
}

QString TOutputFormat::ProgressLabel(const TSettings &settings, const QString &fileName) const
{
    if (!IsFile())
        return QString::fromUtf8(FormName);
    const QString form = FormName ? QString::fromUtf8(FormName) : settings.FileExtention;
    return FileNamePart(fileName) + QStringLiteral("を") + form + QStringLiteral("形式で保存中");
}
