#include "app/FileDialogFilter.h"

QStringList QtNameFilters(const QString &programFilter)
{
    QStringList result;
    const QStringList parts = programFilter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        const QString pattern = parts[i + 1].trimmed();
        QStringList patterns = pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &p : patterns)
            p = p.trimmed();
        const QString qtPatterns = patterns.join(QLatin1Char(' '));
        const QString shown = QLatin1Char('(') + pattern + QLatin1Char(')');
        if (description.endsWith(shown))
            description.chop(shown.size());
        else if (!description.isEmpty())
            description += QLatin1Char(' ');
        result << description + QLatin1Char('(') + qtPatterns + QLatin1Char(')');
    }
    return result;
}
