#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>

// A folder on a file system with no room left, for the tests of a full disk:
// a tmpfs of a few pages mounted in a temporary folder (which needs root) and,
// once Fill() is called, filled to its last block. Unmounted again at the end.
class TFullFolder
{
public:
    TFullFolder()
    {
        Point = Base.filePath(QStringLiteral("full"));
        QDir().mkpath(Point);
        if (::mount("tmpfs", QFile::encodeName(Point).constData(), "tmpfs", 0, "size=256k") == 0)
            Mounted = true;
        else
            Problem = QStringLiteral("cannot mount a tmpfs (needs root): ") + std::strerror(errno);
    }
    ~TFullFolder()
    {
        if (Mounted)
            ::umount2(QFile::encodeName(Point).constData(), MNT_DETACH);
    }
    TFullFolder(const TFullFolder &) = delete;
    TFullFolder &operator=(const TFullFolder &) = delete;

    bool IsMounted() const { return Mounted; }
    QString Path(const QString &name) const { return QDir(Point).filePath(name); }

    // Takes every free block with a file named ".filler".
    void Fill() const
    {
        QFile filler(Path(QStringLiteral(".filler")));
        filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        const QByteArray byte(1, 'x');
        while (filler.write(byte) == 1) {
        }
    }

    // The names in the folder, the filler left out.
    QStringList Names() const
    {
        QStringList names = QDir(Point).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                   | QDir::NoDotAndDotDot, QDir::Name);
        names.removeAll(QStringLiteral(".filler"));
        return names;
    }

    QString Problem;

private:
    QTemporaryDir Base;
    QString Point;
    bool Mounted = false;
};
