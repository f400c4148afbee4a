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
