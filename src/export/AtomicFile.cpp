#include "export/AtomicFile.h"

#include <QtGlobal>

// The system's side of an atomic output. The POSIX part is all in this one
// file; other systems take the portable part further down.
#if defined(Q_OS_UNIX)

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct TAtomicFile::TSystemFile
{
    int Fd = -1;
    bool InPlace = false;   // a FIFO, a device, standard output
    bool Borrowed = false;  // standard output: never closed here
    bool Unnamed = false;   // a file without a name until Commit
    bool Replaces = false;  // an old file of the name exists
    QByteArray Target;      // the name that ends up with the bytes
    QByteArray Temporary;   // the named temporary file, while there is one
    QString Reason;

    ~TSystemFile() { Discard(); }

    bool Fail(int error)
    {
        Reason = qt_error_string(error);
        return false;
    }

    QByteArray Folder() const
    {
        const qsizetype slash = Target.lastIndexOf('/');
        return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : Target.left(slash);
    }

    // A hidden name beside the target, for systems without unnamed files and
    // for the moment between linking and renaming.
    QByteArray TemporaryName() const
    {
        const QByteArray name = Target.mid(Target.lastIndexOf('/') + 1).left(200);
        return Folder() + "/." + name + '.'
            + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
    }

    QByteArray DescriptorPath() const { return "/proc/self/fd/" + QByteArray::number(Fd); }

    bool Open(const QString &path)
    {
        Target = QFile::encodeName(path);
        struct stat st;
        // A link: the file it points to is replaced, the link stays.
        if (::lstat(Target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
            if (char *real = ::realpath(Target.constData(), nullptr)) {
                Target = real;
                std::free(real);
            }
        }
        if (::stat(Target.constData(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                return Fail(EISDIR);
            if (!S_ISREG(st.st_mode))
                return OpenInPlace();
            // A file that may not be written is not replaced either.
            if (::access(Target.constData(), W_OK) != 0)
                return Fail(errno);
            Replaces = true;
        } else if (errno != ENOENT) {
            return Fail(errno);
        }
        if (!OpenUnnamed() && !OpenNamed())
            return false;
        // The new file keeps the old one's permissions.
        if (Replaces)
            (void)::fchmod(Fd, st.st_mode & 07777);
        return true;
    }

    bool OpenInPlace()
    {
        do
            Fd = ::open(Target.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        while (Fd < 0 && errno == EINTR);
        if (Fd < 0)
            return Fail(errno);
        InPlace = true;
        return true;
    }

    bool OpenStandardOutput()
    {
        Fd = STDOUT_FILENO;
        InPlace = Borrowed = true;
        return true;
    }

    // An unnamed file in the target's folder (Linux): false with no reason when
    // the file system has none, so that a named one is tried.
    bool OpenUnnamed()
    {
#ifdef O_TMPFILE
        Fd = ::open(Folder().constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (Fd < 0) {
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                Fail(errno);
            return false;
        }
        // Linking it later goes through its descriptor's path.
        if (::access(DescriptorPath().constData(), F_OK) == 0) {
            Unnamed = true;
            return true;
        }
        ::close(Fd);
        Fd = -1;
#endif
        return false;
    }

    bool OpenNamed()
    {
        if (!Reason.isEmpty())
            return false;
        for (int attempt = 0; attempt < 100; ++attempt) {
            Temporary = TemporaryName();
            Fd = ::open(Temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (Fd >= 0)
                return true;
            if (errno != EEXIST)
                break;
        }
        const int error = errno;
        Temporary.clear();
        return Fail(error);
    }

    qint64 Write(const char *data, qint64 size)
    {
        for (;;) {
            const ssize_t written = ::write(Fd, data, static_cast<size_t>(size));
            if (written >= 0)
                return written;
            if (errno != EINTR) {
                Fail(errno);
                return -1;
            }
        }
    }

    bool Commit()
    {
        if (InPlace)
            return CloseDescriptor();
        // No wait for the disk here: the file is whole the moment it takes the
        // name, so a program killed at any point leaves the old file or the
        // new one. Getting the pages to the disk is the system's business, as
        // for every other file a program saves (a sheet's 70 MB of DXF would
        // otherwise cost a quarter of the whole conversion).
        if (Unnamed) {
            // A new name gets the file directly; an old file is replaced by
            // renaming, which needs a name for a moment.
            if (!Replaces) {
                if (::linkat(AT_FDCWD, DescriptorPath().constData(), AT_FDCWD, Target.constData(),
                             AT_SYMLINK_FOLLOW)
                    == 0)
                    return CloseDescriptor();
                if (errno != EEXIST)
                    return Abandon(errno);
            }
            if (!LinkTemporary())
                return Abandon();
        }
        if (!CloseDescriptor())
            return Abandon();
        if (::rename(Temporary.constData(), Target.constData()) != 0)
            return Abandon(errno);
        Temporary.clear();
        return true;
    }

    bool LinkTemporary()
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            Temporary = TemporaryName();
            if (::linkat(AT_FDCWD, DescriptorPath().constData(), AT_FDCWD, Temporary.constData(),
                         AT_SYMLINK_FOLLOW)
                == 0)
                return true;
            if (errno != EEXIST)
                break;
        }
        const int error = errno;
        Temporary.clear();
        return Fail(error);
    }

    bool CloseDescriptor()
    {
        const int fd = Fd;
        Fd = -1;
        if (fd < 0 || Borrowed)
            return true;
        if (::close(fd) != 0 && errno != EINTR)
            return Fail(errno);
        return true;
    }

    bool Abandon(int error)
    {
        Fail(error);
        return Abandon();
    }
    bool Abandon()
    {
        Discard();
        return false;
    }

    void Discard()
    {
        if (Fd >= 0 && !Borrowed)
            ::close(Fd);
        Fd = -1;
        if (!Temporary.isEmpty()) {
            ::unlink(Temporary.constData());
            Temporary.clear();
        }
    }
};

#else

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

struct TAtomicFile::TSystemFile
{
    std::unique_ptr<QFileDevice> File;
    bool InPlace = false;
    QString Reason;

    bool Fail(const QString &reason)
    {
        Reason = reason;
        File.reset();
        return false;
    }

    bool Open(const QString &path)
    {
        const QFileInfo info(path);
        if (info.isDir())
            return Fail(QStringLiteral("Is a directory"));
        InPlace = info.exists() && !info.isFile();
        if (InPlace) {
            File = std::make_unique<QFile>(path);
        } else {
            auto save = std::make_unique<QSaveFile>(path);
            save->setDirectWriteFallback(false);
            File = std::move(save);
        }
        if (!File->open(QIODevice::WriteOnly))
            return Fail(File->errorString());
        return true;
    }

    bool OpenStandardOutput()
    {
        auto out = std::make_unique<QFile>();
        InPlace = true;
        if (!out->open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered))
            return Fail(out->errorString());
        File = std::move(out);
        return true;
    }

    qint64 Write(const char *data, qint64 size)
    {
        const qint64 written = File->write(data, size);
        if (written < 0)
            Reason = File->errorString();
        return written;
    }

    bool Commit()
    {
        bool ok;
        if (auto *save = qobject_cast<QSaveFile *>(File.get())) {
            ok = save->commit();
        } else {
            ok = File->flush();
            File->close();
        }
        if (!ok)
            Reason = File->errorString();
        File.reset();
        return ok;
    }

    void Discard() { File.reset(); }
};

#endif

TAtomicFile::TAtomicFile(const QString &path) : Path(path) {}

TAtomicFile::~TAtomicFile()
{
    Discard();
}

bool TAtomicFile::Open()
{
    Discard();
    System = std::make_unique<TSystemFile>();
    return Opened(System->Open(Path));
}

bool TAtomicFile::OpenStandardOutput()
{
    Discard();
    System = std::make_unique<TSystemFile>();
    return Opened(System->OpenStandardOutput());
}

bool TAtomicFile::Opened(bool ok)
{
    FailureReason.clear();
    if (ok && QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return true;
    return Failed();
}

bool TAtomicFile::Failed()
{
    if (System)
        FailureReason = System->Reason;
    if (FailureReason.isEmpty())
        FailureReason = QStringLiteral("?");
    setErrorString(FailureReason);
    Discard();
    return false;
}

bool TAtomicFile::Commit()
{
    if (!System)
        return Failed();
    if (!System->Commit())
        return Failed();
    System.reset();
    QIODevice::close();
    return true;
}

void TAtomicFile::Discard()
{
    if (System) {
        System->Discard();
        System.reset();
    }
    if (isOpen())
        QIODevice::close();
}

bool TAtomicFile::InPlace() const
{
    return System && System->InPlace;
}

qint64 TAtomicFile::readData(char *, qint64)
{
    return -1;
}

qint64 TAtomicFile::writeData(const char *data, qint64 size)
{
    if (!System)
        return -1;
    const qint64 written = System->Write(data, size);
    if (written < 0) {
        FailureReason = System->Reason;
        setErrorString(FailureReason);
    }
    return written;
}
