// Writes the program's icon as PNG files for the hicolor theme:
// RenderIcon FOLDER SIZE... writes FOLDER/SIZExSIZE.png for each size.

#include "dialogs/ProgramIcon.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() < 3) {
        std::fputs("usage: RenderIcon FOLDER SIZE...\n", stderr);
        return 2;
    }
    const QDir folder(arguments[1]);
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const int size = arguments[i].toInt();
        const QString path = folder.filePath(QStringLiteral("%1x%1.png").arg(size));
        if (size <= 0 || !ProgramIconImage(size).save(path, "PNG")) {
            std::fprintf(stderr, "RenderIcon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
