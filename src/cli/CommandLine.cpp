#include "cli/CommandLine.h"

#include "app/core/DecimalText.h"
#include "app/core/ScaleMagnification.h"
#include "app/core/Version.h"

#include <QFileInfo>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: trazbit-cli [options] INPUT...\n"
    "Converts scanned drawings into straight-line CAD data, exactly as the Trazbit\n"
    "window program's open and save commands do.\n"
    "\n"
    "Options:\n"
    "  -o, --output PATH      output file (one input), or an existing folder (several\n"
    "                         inputs: each output is named after its input with the\n"
    "                         format's extension); \"-\" writes to standard output.\n"
    "                         Without it each output is written beside its input.\n"
    "  -f, --format FMT       txt | dxf | jwc | clip-txt | clip-jwt; default from the\n"
    "                         output's extension as the save command decides it (.dxf,\n"
    "                         .jwc, anything else the coordinate text); clip-txt and\n"
    "                         clip-jwt write the two clipboard texts as bytes\n"
    "  -m, --mode MODE        line | box | line2 (or 1, 2, 3); default the stored\n"
    "                         PixelScanMode\n"
    "      --magnification M  default 1\n"
    "      --scale N --dpi D  magnification computed as the scale calculator does\n"
    "                         (N / dpi x 25.4, 32-bit)\n"
    "      --xrate X          override the stored horizontal ratio\n"
    "      --yrate Y          override the stored vertical ratio\n"
    "      --settings FILE    read every other option from this settings file (same\n"
    "                         keys and sections as the program's own store); it is\n"
    "                         never written. Without it the program's stored settings\n"
    "                         are read (never written), or the defaults.\n"
    "  -j, --jobs N           convert several inputs in parallel (default: number of\n"
    "                         cores)\n"
    "  -q, --quiet            no progress output\n"
    "  -h, --help             show this text\n"
    "      --version          show the version\n"
    "\n"
    "Exit status: 0 when every input was converted and written, 1 when any failed,\n"
    "2 for bad usage.\n");

TCliParse Usage(const QString &problem)
{
    TCliParse result;
    result.Text = QStringLiteral("trazbit-cli: ") + problem
                  + QStringLiteral("\nTry 'trazbit-cli --help' for more information.\n");
    result.ExitCode = 2;
    return result;
}

std::optional<TCliFormat> ParseFormat(const QString &text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("txt")) return TCliFormat::Text;
    if (t == QLatin1String("dxf")) return TCliFormat::Dxf;
    if (t == QLatin1String("jwc")) return TCliFormat::Jwc;
    if (t == QLatin1String("clip-txt")) return TCliFormat::ClipText;
    if (t == QLatin1String("clip-jwt")) return TCliFormat::ClipJwt;
    return std::nullopt;
}

std::optional<int> ParseMode(const QString &text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("line") || t == QLatin1String("1")) return 1;
    if (t == QLatin1String("box") || t == QLatin1String("2")) return 2;
    if (t == QLatin1String("line2") || t == QLatin1String("3")) return 3;
    return std::nullopt;
}

} // namespace

QString UsageText()
{
    return kUsage;
}

TCliFormat FormatForFileName(const QString &fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot).toUpper();
    if (extension == QLatin1String(".DXF"))
        return TCliFormat::Dxf;
    if (extension == QLatin1String(".JWC"))
        return TCliFormat::Jwc;
    return TCliFormat::Text;
}

QString ExtensionForFormat(TCliFormat format, const QString &textExtension)
{
    switch (format) {
    case TCliFormat::Dxf: return QStringLiteral("dxf");
    case TCliFormat::Jwc: return QStringLiteral("jwc");
    case TCliFormat::ClipText: return textExtension;
    case TCliFormat::ClipJwt: return QStringLiteral("jwt");
    case TCliFormat::Text: break;
    }
    return textExtension;
}

TCliParse ParseCommandLine(const QStringList &arguments)
{
    TCliOptions options;
    std::optional<float> scale;
    std::optional<float> dpi;
    bool magnificationGiven = false;
    bool onlyInputs = false;

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        if (onlyInputs || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            options.Inputs << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            onlyInputs = true;
            continue;
        }
        QString name = argument;
        std::optional<QString> inlineValue;
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            if (equals > 0) {
                name = argument.left(equals);
                inlineValue = argument.mid(equals + 1);
            }
        } else if (argument.size() > 2) {
            name = argument.left(2);
            inlineValue = argument.mid(2);
        }
        auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments.at(++i);
            return std::nullopt;
        };
        auto needNumber = [&](std::optional<float> &target) -> bool {
            const std::optional<QString> text = value();
            if (!text)
                return false;
            target = ParseFloat(*text);
            return target.has_value();
        };

        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            TCliParse result;
            result.Text = kUsage;
            return result;
        }
        if (name == QLatin1String("--version")) {
            TCliParse result;
            result.Text = QStringLiteral("trazbit-cli " TRAZBIT_VERSION_TEXT "\n");
            return result;
        }
        if (name == QLatin1String("-q") || name == QLatin1String("--quiet")) {
            if (inlineValue)
                return Usage(QStringLiteral("unknown option '") + argument + QLatin1Char('\''));
            options.Quiet = true;
            continue;
        }

        if (name == QLatin1String("-o") || name == QLatin1String("--output")) {
            const std::optional<QString> text = value();
            if (!text || text->isEmpty())
                return Usage(QStringLiteral("option ") + name + QStringLiteral(" needs a path"));
            options.Output = *text;
        } else if (name == QLatin1String("-f") || name == QLatin1String("--format")) {
            const std::optional<QString> text = value();
            options.Format = text ? ParseFormat(*text) : std::nullopt;
            if (!options.Format)
                return Usage(QStringLiteral("option ") + name
                             + QStringLiteral(" needs one of txt, dxf, jwc, clip-txt, clip-jwt"));
        } else if (name == QLatin1String("-m") || name == QLatin1String("--mode")) {
            const std::optional<QString> text = value();
            options.Mode = text ? ParseMode(*text) : std::nullopt;
            if (!options.Mode)
                return Usage(QStringLiteral("option ") + name
                             + QStringLiteral(" needs one of line, box, line2 (or 1, 2, 3)"));
        } else if (name == QLatin1String("--magnification")) {
            std::optional<float> m;
            if (!needNumber(m))
                return Usage(QStringLiteral("option --magnification needs a number"));
            options.Magnification = *m;
            magnificationGiven = true;
        } else if (name == QLatin1String("--scale")) {
            if (!needNumber(scale))
                return Usage(QStringLiteral("option --scale needs a number"));
        } else if (name == QLatin1String("--dpi")) {
            if (!needNumber(dpi))
                return Usage(QStringLiteral("option --dpi needs a number"));
        } else if (name == QLatin1String("--xrate")) {
            if (!needNumber(options.Xrate))
                return Usage(QStringLiteral("option --xrate needs a number"));
        } else if (name == QLatin1String("--yrate")) {
            if (!needNumber(options.Yrate))
                return Usage(QStringLiteral("option --yrate needs a number"));
        } else if (name == QLatin1String("--settings")) {
            const std::optional<QString> text = value();
            if (!text || text->isEmpty())
                return Usage(QStringLiteral("option --settings needs a file"));
            options.SettingsFile = *text;
        } else if (name == QLatin1String("-j") || name == QLatin1String("--jobs")) {
            const std::optional<QString> text = value();
            const std::optional<int> jobs = text ? ParseInteger(*text) : std::nullopt;
            if (!jobs || *jobs < 1)
                return Usage(QStringLiteral("option ") + name + QStringLiteral(" needs a count of 1 or more"));
            options.Jobs = *jobs;
        } else {
            return Usage(QStringLiteral("unknown option '") + argument + QLatin1Char('\''));
        }
    }

    if (options.Inputs.isEmpty())
        return Usage(QStringLiteral("no input picture given"));
    if (scale.has_value() != dpi.has_value())
        return Usage(QStringLiteral("--scale and --dpi go together"));
    if (scale) {
        if (magnificationGiven)
            return Usage(QStringLiteral("give either --magnification or --scale and --dpi"));
        const std::optional<float> m = MagnificationForScale(*scale, *dpi);
        if (!m)
            return Usage(QStringLiteral("--dpi must not be 0"));
        options.Magnification = *m;
    }
    if (options.Output == QLatin1String("-") && options.Inputs.size() > 1)
        return Usage(QStringLiteral("standard output takes one input only"));

    TCliParse result;
    result.Options = options;
    return result;
}
