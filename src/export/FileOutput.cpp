#include "export/FileOutput.h"

#include "export/AtomicFile.h"
#include "export/OutputFormats.h"

#include <QFile>

#include <filesystem>
#include <system_error>

bool OpenOutputFile(TAtomicFile &file)
{
    return file.Open();
}

bool WriteOutputFile(TAtomicFile &file, TFormatWriter &writer, const TExportContext &context)
{
    if (!writer.Write(context, file)) {
        file.Discard();
        return false;
    }
    return file.Commit();
}

namespace {

std::filesystem::path FileSystemPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace

bool IsSameFile(const QString &first, const QString &second)
{
    // Device and file number on POSIX, the volume and file index on Windows.
    std::error_code error;
    return std::filesystem::equivalent(FileSystemPath(first), FileSystemPath(second), error)
        && !error;
}
