// The whole command line over random pictures and settings: the bytes give
// the options (from the program's own), a settings file and a picture of one
// of the registry's formats, and the conversion runs as trazbit-cli runs it.
// Every run must end with status 0, 1 or 2; a DXF written must hold exactly
// one end-of-file record, at its end: no crash, no hang, no access outside a
// buffer, no undefined behaviour.
//
//   fuzz-command-line -max_len=65536 -timeout=60 -rss_limit_mb=4096 <corpus folder>

#include "cli/BatchConverter.h"
#include "cli/CommandLine.h"
#include "image/PictureFormats.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

const char *const kChoices[][2] = {
    {"-m", "line"}, {"-m", "box"}, {"-m", "line2"}, {"--threshold", "auto"}, {"--threshold", "128"},
    {"--despeckle", "3"}, {"--despeckle", "15"}, {"--centerline", nullptr}, {"--merge", "1"},
    {"--merge", "1.875"}, {"-f", "txt"}, {"-f", "dxf"}, {"-f", "jwc"}, {"-f", "clip-txt"},
    {"-f", "clip-jwt"}, {"--xrate", "0.5"}, {"--yrate", "3e30"}, {"-j", "1"}, {"-j", "3"},
    {"--max-pixels", "100000"}, {"--magnification", "2.5"}, {"--scale", "100"}, {"--dpi", "400"},
};
const char *const kExtensions[] = {"bmp", "dib", "png", "jpg", "tif", "gif", "pbm", "cal"};

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz-command-line";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static const QString folder =
        QStringLiteral("%1/fuzz-command-line-%2").arg(QDir::tempPath()).arg(::getpid());
    static const bool made = QDir().mkpath(folder);
    if (!made || size < 4)
        return 0;

    // Byte 0: how many options; then one byte an option; then the settings
    // text up to a NUL byte; the rest is the picture, its extension picked by
    // the byte after the options.
    std::size_t at = 0;
    const int count = data[at++] % 8;
    QStringList arguments{QStringLiteral("trazbit-cli"), QStringLiteral("-q")};
    bool dxf = false;
    for (int i = 0; i < count && at < size; ++i) {
        const auto &choice = kChoices[data[at++] % (sizeof kChoices / sizeof kChoices[0])];
        arguments << QString::fromLatin1(choice[0]);
        if (choice[1])
            arguments << QString::fromLatin1(choice[1]);
        // The last -f chooses the format.
        if (QByteArray(choice[0]) == "-f")
            dxf = QByteArray(choice[1]) == "dxf";
    }
    if (at >= size)
        return 0;
    const char *extension = kExtensions[data[at++] % (sizeof kExtensions / sizeof kExtensions[0])];
    std::size_t end = at;
    while (end < size && data[end] != 0)
        ++end;
    const QString settings = folder + QStringLiteral("/settings.ini");
    const QString picture = folder + QStringLiteral("/picture.") + QLatin1String(extension);
    const QString output = folder + QStringLiteral("/out.dat");
    {
        QFile file(settings);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data + at), qint64(end - at));
    }
    {
        QFile file(picture);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        if (end < size)
            file.write(reinterpret_cast<const char *>(data + end + 1), qint64(size - end - 1));
    }
    QFile::remove(output);
    // Pictures of more than a million pixels only slow the run.
    arguments << QStringLiteral("--settings") << settings << QStringLiteral("-o") << output;
    if (!arguments.contains(QStringLiteral("--max-pixels")))
        arguments << QStringLiteral("--max-pixels") << QStringLiteral("1000000");
    arguments << picture;

    const TCliParse parse = ParseCommandLine(arguments);
    if (!parse.Options)
        return parse.ExitCode == 2 ? 0 : (std::abort(), 0);
    static std::FILE *sink = std::fopen("/dev/null", "w");
    const int status = RunCommandLine(*parse.Options, sink, sink);
    if (status < 0 || status > 2)
        std::abort();
    if (status == 0 && dxf) {
        const QByteArray written = ReadAll(output);
        if (written.count("\nEOF\r\n") != 1 || !written.endsWith("\nEOF\r\n"))
            std::abort();
    }
    return 0;
}
