#include "export/SaveFileName.h"

namespace {

bool IsSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':');
#else
    return c == QLatin1Char('/');
#endif
}

// Index of the first character of the name part.
qsizetype NameStart(const QString &path)
{
    qsizetype i = path.size();
    while (i > 0 && !IsSeparator(path.at(i - 1)))
        --i;
    return i;
}

// Index of the extension's dot, or -1.
qsizetype ExtensionDot(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot >= NameStart(path) ? dot : -1;
}

} // namespace

QString FileNamePart(const QString &path)
{
    return path.mid(NameStart(path));
}

QString ExtensionOf(const QString &path)
{
    const qsizetype dot = ExtensionDot(path);
    return dot < 0 ? QString() : path.mid(dot);
}

QString ReplaceExtension(const QString &path, const QString &extension)
{
    const qsizetype dot = ExtensionDot(path);
    return (dot < 0 ? path : path.left(dot)) + extension;
}

int SaveFormatOf(const QString &path)
{
    const QString extension = ExtensionOf(path).toUpper();
    if (extension == QLatin1String(".DXF"))
        return SaveFormatDxf;
    if (extension == QLatin1String(".JWC"))
        return SaveFormatJwc;
    return SaveFormatText;
}

QString WrittenFileName(const QString &chosen, int format, const QString &fileExtention)
{
    switch (format) {
    case SaveFormatDxf:
        return ReplaceExtension(chosen, QStringLiteral(".dxf"));
    case SaveFormatJwc:
        return ReplaceExtension(chosen, QStringLiteral(".jwc"));
    default:
        return ReplaceExtension(chosen, QLatin1Char('.') + fileExtention);
    }
}
