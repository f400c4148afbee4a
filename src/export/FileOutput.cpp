#include "export/FileOutput.h"

#include "export/AtomicFile.h"
#include "export/OutputFormats.h"

#include <QFile>

#include <filesystem>
#include <system_error>

TFileFailure WriteOutputFile(TAtomicFile &file, TFormatWriter &writer, const TExportContext &context,
                             bool standardOutput)
{
    TFileFailure failure;
    if (writer.Prepare(context) == WriteHeaderMissing) {
        failure.Kind = TFileFailure::HeaderMissing;
        return failure;
    }
    if (!(standardOutput ? file.OpenStandardOutput() : file.Open())) {
        failure.Kind = TFileFailure::NotCreated;
    } else if (!writer.Write(context, file)) {
        failure.Kind = TFileFailure::NotWritten;
        file.Discard();
    } else if (!file.Commit()) {
        failure.Kind = TFileFailure::NotReplaced;
    }
    if (failure.Kind != TFileFailure::None)
        failure.Reason = file.Reason();
    return failure;
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
