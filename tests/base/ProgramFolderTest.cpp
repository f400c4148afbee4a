// The program's folder: the private folder of an installed program when it is
// there, else the folder of the program file.

#include "base/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(ProgramFolderTest, ThePrivateFolderBesideBinWhenItExistsElseTheProgramFilesFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString top = dir.path();
    ASSERT_TRUE(QDir(top).mkpath(QStringLiteral("usr/bin")));
    ASSERT_TRUE(QDir(top).mkpath(QStringLiteral("usr/lib/trazbit")));
    ASSERT_TRUE(QDir(top).mkpath(QStringLiteral("build/bin")));
    ASSERT_TRUE(QDir(top).mkpath(QStringLiteral("odd/bin")));
    QFile notAFolder(top + QStringLiteral("/odd/lib"));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();

    struct TCase
    {
        const char *Executable;
        const char *Relative;
        const char *Expected;
    };
    const TCase cases[] = {
        {"/usr/bin", "../lib/trazbit", "/usr/lib/trazbit/"},
        {"/usr/bin/", "../lib/trazbit", "/usr/lib/trazbit/"},
        // The build folder has none: the plug-ins and dxf.hed lie beside the programs.
        {"/build/bin", "../lib/trazbit", "/build/bin/"},
        // A file of that name is no folder.
        {"/odd/bin", "../lib", "/odd/bin/"},
        // Windows: no private folder, the program file's own.
        {"/usr/bin", "", "/usr/bin/"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(std::string(c.Executable) + " + " + c.Relative);
        EXPECT_EQ(ProgramFolderOf(top + QLatin1String(c.Executable), QLatin1String(c.Relative)),
                  top + QLatin1String(c.Expected));
    }
}
