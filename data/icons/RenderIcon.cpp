// Writes the program's icon as PNG files for the hicolor theme:
// RenderIcon FOLDER SIZE... writes FOLDER/SIZExSIZE.png for each size.

#include "dialogs/ProgramIcon.h"

#include <QDir>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Painting into a picture needs no application object and no platform.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
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
