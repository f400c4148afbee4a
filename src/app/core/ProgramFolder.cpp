#include "app/core/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

QString ProgramFolder()
{
    QString folder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                  : QDir::currentPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return QDir::toNativeSeparators(folder);
}
