#include "commands/SaveData.h"
#include "ExportFixture.h"

#include "export/AtomicFile.h"
#include "export/OutputFormats.h"
#include "support/FullFolder.h"
#include "support/OutsideProgram.h"

#include <QFileInfo>

#include <sys/stat.h>

#include <thread>

namespace {

QStringList Names(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

class AtomicFile : public TExportFixture
{
};

TEST_F(AtomicFile, NothingShowsUnderTheNameOrBesideItUntilCommit)
{
    const QString path = Path("plan.txt");
    Write("plan.txt", "old\r\n");
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    {
        TAtomicFile file(path);
        ASSERT_TRUE(file.Open()) << file.Reason().toStdString();
        EXPECT_FALSE(file.InPlace());
        EXPECT_EQ(file.write("new contents"), 12);
        EXPECT_EQ(Read("plan.txt"), "old\r\n");
        EXPECT_EQ(Names(Dir.path()), QStringList{"plan.txt"});
        ASSERT_TRUE(file.Commit()) << file.Reason().toStdString();
    }
    EXPECT_EQ(Read("plan.txt"), "new contents");
    EXPECT_EQ(Names(Dir.path()), QStringList{"plan.txt"});
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // Never committed (a failed write): thrown away, the old file whole.
    {
        TAtomicFile file(path);
        ASSERT_TRUE(file.Open());
        file.write("partial");
    }
    EXPECT_EQ(Read("plan.txt"), "new contents");
    EXPECT_EQ(Names(Dir.path()), QStringList{"plan.txt"});
}

TEST_F(AtomicFile, EveryKindOfTargetIsReplacedOrWrittenInPlaceAsItIs)
{
    Write("real.txt", "old");
    ASSERT_TRUE(QFile::link(Path("real.txt"), Path("link.txt")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("pipe")).constData(), 0600), 0);
    ASSERT_TRUE(QDir(Dir.path()).mkdir("folder"));

    struct Case
    {
        const char *name;
        QString target;
        QString readBack;     // where the bytes end up ("" for nowhere to look)
        const char *reason;   // Open's or the write's reason; nullptr when all goes well
        bool inPlace;
    };
    const Case cases[] = {
        {"a new name", Path("new.txt"), Path("new.txt"), nullptr, false},
        {"a link to a file", Path("link.txt"), Path("real.txt"), nullptr, false},
        {"a FIFO with a reader", Path("pipe"), QString(), nullptr, true},
        {"/dev/null", QStringLiteral("/dev/null"), QString(), nullptr, true},
        {"/dev/full", QStringLiteral("/dev/full"), QString(), "No space left on device", true},
        {"a folder", Path("folder"), QString(), "Is a directory", false},
        {"a missing folder", Path("missing/plan.txt"), QString(), "No such file or directory", false},
    };
    const QByteArray bytes = "0 0 10 5\r\n";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray piped;
        std::thread reader;
        if (c.target == Path("pipe"))
            reader = std::thread([&] {
                QFile in(Path("pipe"));
                if (in.open(QIODevice::ReadOnly))
                    piped = in.readAll();
            });
        TAtomicFile file(c.target);
        bool ok = file.Open();
        if (ok) {
            EXPECT_EQ(file.InPlace(), c.inPlace);
            ok = file.write(bytes) == bytes.size();
            ok = file.Commit() && ok;
        }
        if (reader.joinable())
            reader.join();
        EXPECT_EQ(ok, c.reason == nullptr);
        EXPECT_EQ(file.Reason(), c.reason ? QString::fromUtf8(c.reason) : QString());
        if (!c.readBack.isEmpty()) {
            EXPECT_EQ(ReadAll(c.readBack), bytes);
        }
        if (c.target == Path("pipe")) {
            EXPECT_EQ(piped, bytes);
        }
    }
    // Links, FIFOs and devices stay what they were; nothing is left beside them.
    EXPECT_TRUE(QFileInfo(Path("link.txt")).isSymLink());
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(Path("pipe")).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(Names(Dir.path()), (QStringList{"folder", "link.txt", "new.txt", "pipe", "real.txt"}));
}

// The window program's save duties (SaveData1 to SaveData3) on a full disk:
// their own messages and codes, the old file whole, nothing beside it.
TEST_F(AtomicFile, AFullDiskKeepsTheOldFileOfEverySaveCommandWhole)
{
    TFullFolder full;
    if (!full.IsMounted())
        TRAZBIT_OUTSIDE_PROGRAM_MISSING(full.Problem.toStdString());
    Segments.assign(5000, TSegment{1, 2, 3, 4});
    MaxX = MaxY = 10;
    QStringList names;
    for (const TOutputFormat &format : OutputFormats())
        if (format.IsFile()) {
            const QString name = format.WrittenFileName(QStringLiteral("plan.x"), Settings);
            QFile old(full.Path(name));
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("old " + name.toUtf8());
            names << name;
        }
    full.Fill();
    for (const TOutputFormat &format : OutputFormats()) {
        if (!format.IsFile())
            continue;
        SCOPED_TRACE(format.Name);
        UI.Messages.clear();
        const QString name = format.WrittenFileName(QStringLiteral("plan.x"), Settings);
        EXPECT_EQ(SaveFile(format, Context(), UI, full.Path(name)), WriteFailed);
        EXPECT_EQ(UI.Messages, QStringList{format.Mode == SaveFormatJwc
                                               ? QStringLiteral("保存ができませんでした。")
                                               : QStringLiteral("保存できませんでした。")});
        EXPECT_EQ(ReadAll(full.Path(name)), "old " + name.toUtf8());
    }
    names.sort();
    EXPECT_EQ(full.Names(), names);
}

} // namespace
