#include "base/VectorState.h"
#include "cli/BatchConverter.h"
#include "cli/CommandLine.h"
#include "cli/InputNames.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Trazbit"));
    const TCliParse parse = ParseCommandLine(ArgumentNames(argc, argv));
    // (Qt's option parsing leaves the wide registers in use.)
    ClearUpperVectorHalves();
    if (!parse.Options) {
        std::fputs(parse.Text.toUtf8().constData(), parse.ExitCode == 0 ? stdout : stderr);
        return parse.ExitCode;
    }
    // With the result on standard output, the summary lines go to the error stream.
    std::FILE *summary = parse.Options->Output == QLatin1String("-") ? stderr : stdout;
    return RunCommandLine(*parse.Options, summary, stderr);
}
