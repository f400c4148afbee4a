#include "base/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef TRAZBIT_PRIVATE_FOLDER
#define TRAZBIT_PRIVATE_FOLDER ""
#endif

QString ProgramFolderOf(const QString &executableFolder, const QString &relativeFolder)
{
    QString folder = QDir::fromNativeSeparators(executableFolder);
    if (!relativeFolder.isEmpty()) {
        const QString installed = QDir::cleanPath(QDir(folder).filePath(relativeFolder));
        if (QFileInfo(installed).isDir())
            folder = installed;
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString ProgramFolder()
{
    const QString executable = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                            : QDir::currentPath();
    return QDir::toNativeSeparators(
        ProgramFolderOf(executable, QStringLiteral(TRAZBIT_PRIVATE_FOLDER)));
}
