#include "cli/CommandLine.h"

#include "base/DecimalText.h"
#include "base/ScaleMagnification.h"
#include "base/Version.h"
#include "cleanup/CleanupSteps.h"
#include "export/OutputFormats.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cmath>
#include <memory>
#include <utility>

namespace {

QString FormatNames(const QString &separator)
{
    QStringList names;
    for (const TOutputFormat &format : OutputFormats())
        names << QString::fromLatin1(format.Name);
    return names.join(separator);
}

// The options of the command line, and the parser that knows them.
struct TOptionSet
{
    TOptionSet()
    {
        Parser.setApplicationDescription(QStringLiteral(
            "Converts scanned drawings into straight-line CAD data, exactly as the Trazbit\n"
            "window program's open and save commands do.\n"
            "\n"
            "Exit status: 0 when every input was converted and written, 1 when any failed,\n"
            "2 for bad usage."));
        Parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
        Parser.addOptions({Output, Format, Mode, Magnification, Scale, Dpi, Xrate, Yrate, Threshold,
                           Despeckle, Centerline, Merge, Arcs, Snap, Deskew, Linetypes, Widths, Fills, TextLayer, Ocr,
                           Settings, Jobs,
                           MaxPixels, Quiet, PluginDir, Formats, Preview, FilesFrom, Report, SkipExisting, Help,
                           Version});
        Parser.addPositionalArgument(QStringLiteral("INPUT"),
                                     QStringLiteral("Pictures to convert."),
                                     QStringLiteral("INPUT..."));
    }

    QCommandLineOption Output{
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Output file (one input), or an existing folder (several inputs: each output "
                       "is named after its input with the format's extension); \"-\" writes to "
                       "standard output. Without it each output is written beside its input."),
        QStringLiteral("PATH")};
    QCommandLineOption Format{
        {QStringLiteral("f"), QStringLiteral("format")},
        FormatNames(QStringLiteral(" | "))
            + QStringLiteral("; default from the output's extension as the save command decides "
                             "it (.dxf, .jwc, anything else the coordinate text); clip-txt and "
                             "clip-jwt write the two clipboard texts as bytes."),
        QStringLiteral("FMT")};
    QCommandLineOption Mode{
        {QStringLiteral("m"), QStringLiteral("mode")},
        QStringLiteral("line | box | line2 (or 1, 2, 3); default the stored PixelScanMode."),
        QStringLiteral("MODE")};
    QCommandLineOption Magnification{QStringLiteral("magnification"),
                                     QStringLiteral("Magnification, default 1."),
                                     QStringLiteral("M")};
    QCommandLineOption Scale{
        QStringLiteral("scale"),
        QStringLiteral("With --dpi: the magnification computed as the scale calculator does "
                       "(N / dpi x 25.4, 32-bit)."),
        QStringLiteral("N")};
    QCommandLineOption Dpi{QStringLiteral("dpi"),
                           QStringLiteral("The scanner resolution that goes with --scale."),
                           QStringLiteral("D")};
    QCommandLineOption Xrate{QStringLiteral("xrate"),
                             QStringLiteral("Override the stored horizontal ratio."),
                             QStringLiteral("X")};
    QCommandLineOption Yrate{QStringLiteral("yrate"),
                             QStringLiteral("Override the stored vertical ratio."),
                             QStringLiteral("Y")};
    QCommandLineOption Threshold{
        QStringLiteral("threshold"),
        QStringLiteral("Grey and colour scans: ink is every pixel darker than N (0..255, by "
                       "luminance), or with auto by an automatic global threshold (Otsu). "
                       "Default the stored setting, else exact black only."),
        QStringLiteral("N|auto")};
    QCommandLineOption Despeckle{
        QStringLiteral("despeckle"),
        QStringLiteral("Before tracing, remove black specks of at most N pixels and fill white "
                       "holes of at most N pixels inside ink (0: off)."),
        QStringLiteral("N")};
    QCommandLineOption Centerline{
        QStringLiteral("centerline"),
        QStringLiteral("Before tracing, thin strokes to one-pixel centre lines (the chosen "
                       "method then traces the centre lines).")};
    QCommandLineOption Merge{
        QStringLiteral("merge"),
        QStringLiteral("After tracing, chain segments that continue each other and replace each "
                       "chain by the fewest straight segments within T pixels (0: off)."),
        QStringLiteral("T")};
    QCommandLineOption Arcs{
        QStringLiteral("arcs"),
        QStringLiteral("After centre lines (made for it when --centerline is not given), fit "
                       "each chain with the fewest lines, circular arcs and circles within T "
                       "pixels; the DXF file holds ARC and CIRCLE entities, the other formats "
                       "the arcs as segments within T (0: off)."),
        QStringLiteral("T")};
    QCommandLineOption Snap{
        QStringLiteral("snap"),
        QStringLiteral("After centre lines (made for it when --centerline is not given): lines "
                       "within A degrees of the axes become exactly horizontal or vertical, "
                       "ends near other ends or lines meet them, pieces of one straight line "
                       "become one line (0: off)."),
        QStringLiteral("A")};
    QCommandLineOption Deskew{
        QStringLiteral("deskew"),
        QStringLiteral("Find the skew of the sheet from its ink, report it, and turn the "
                       "written coordinates back about the sheet's centre.")};
    QCommandLineOption Linetypes{
        QStringLiteral("linetypes"),
        QStringLiteral("After centre lines (made for it when --centerline is not given): pieces "
                       "in a regular pattern of dashes and gaps along one line or circle "
                       "(dashed, dash-dot, dash-dot-dot, dotted) become one line, arc or circle "
                       "with a line type, defined in the DXF file's LTYPE table; the other "
                       "formats get its dashes.")};
    QCommandLineOption Widths{
        QStringLiteral("widths"),
        QStringLiteral("After centre lines (made for it): measure every line's stroke width and "
                       "put the lines of each width class on a layer of their own (\"線幅0.50\" "
                       "in DXF, coloured by layer): \"auto\" finds the classes in the drawing, "
                       "W1,W2,... gives them in drawing units (after magnification)."),
        QStringLiteral("auto|W1,W2,...")};
    QCommandLineOption Fills{
        QStringLiteral("fills"),
        QStringLiteral("After centre lines (made for it): shapes too thick for their length stay "
                       "filled: dots become filled circles, other fills solids, on the layer "
                       "\"塗り\" in DXF; the other formats get their outlines.")};
    QCommandLineOption TextLayer{
        QStringLiteral("text-layer"),
        QStringLiteral("Tell text apart from the drawing: its strokes are traced on their own "
                       "and written on a layer of their own (\"文字\" in DXF); merging leaves "
                       "them alone.")};
    QCommandLineOption Ocr{
        QStringLiteral("ocr"),
        QStringLiteral("With the text apart, read each string in these Tesseract languages "
                       "(for example jpn+eng; empty: off) and write it to DXF as a TEXT entity; "
                       "strings read with low confidence stay strokes."),
        QStringLiteral("LANGS")};
    QCommandLineOption Settings{
        QStringLiteral("settings"),
        QStringLiteral("Read every other option from this settings file (same keys and sections "
                       "as the program's own store); it is never written. Without it the "
                       "program's stored settings are read (never written), or the defaults."),
        QStringLiteral("FILE")};
    QCommandLineOption Jobs{{QStringLiteral("j"), QStringLiteral("jobs")},
                            QStringLiteral("Threads in all (default: the number of cores): "
                                           "several inputs are converted side by side, and the "
                                           "threads left over work within one input; 1 uses no "
                                           "other thread. The outputs are the same for every "
                                           "count."),
                            QStringLiteral("N")};
    QCommandLineOption MaxPixels{
        QStringLiteral("max-pixels"),
        QStringLiteral("Refuse at once, naming its size, a picture of more than N pixels (width "
                       "times height; default: as many as half the machine's memory holds at 1 "
                       "bit a pixel)."),
        QStringLiteral("N")};
    QCommandLineOption Quiet{{QStringLiteral("q"), QStringLiteral("quiet")},
                             QStringLiteral("No progress output.")};
    QCommandLineOption PluginDir{
        QStringLiteral("plugin-dir"),
        QStringLiteral("Load the Susie plug-ins (*.spi) of this folder before those of the Susie "
                       "plug-in folder and of the program's folder; may be given several times."),
        QStringLiteral("DIR")};
    QCommandLineOption Formats{
        QStringLiteral("formats"),
        QStringLiteral("List every picture format that can be read: extension, description and "
                       "where it comes from (built in, or the plug-in's path), one per line.")};
    QCommandLineOption Preview{
        QStringLiteral("preview"),
        QStringLiteral("Also draw each picture, lightened, with its segments in red, as a PNG file "
                       "at the picture's proportions and at most 4096 pixels on its longer side: "
                       "FILE.png for one input, or an existing folder (several inputs: each named "
                       "after its input with .png)."),
        QStringLiteral("PATH")};
    QCommandLineOption FilesFrom{
        QStringLiteral("files-from"),
        QStringLiteral("Also convert the pictures listed in this file, one path a line; \"-\" "
                       "reads the list from standard input."),
        QStringLiteral("FILE")};
    QCommandLineOption Report{
        QStringLiteral("report"),
        QStringLiteral("Write a JSON Lines report, one object per input as it ends: \"input\", "
                       "\"output\", \"status\" (ok, failed, skipped), \"segments\", \"seconds\", "
                       "and \"message\" when it failed."),
        QStringLiteral("FILE")};
    QCommandLineOption SkipExisting{
        QStringLiteral("skip-existing"),
        QStringLiteral("Skip an input whose output exists and is not older than the input, so "
                       "that a stopped batch resumes where it stopped.")};
    QCommandLineOption Help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this text.")};
    QCommandLineOption Version{QStringLiteral("version"), QStringLiteral("Show the version.")};

    QCommandLineParser Parser;
};

TCliParse Usage(const QString &problem)
{
    TCliParse result;
    result.Text = QStringLiteral("trazbit-cli: ") + problem
                  + QStringLiteral("\nTry 'trazbit-cli --help' for more information.\n");
    result.ExitCode = 2;
    return result;
}

std::optional<int> ParseMode(const QString &text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("line") || t == QLatin1String("1")) return 1;
    if (t == QLatin1String("box") || t == QLatin1String("2")) return 2;
    if (t == QLatin1String("line2") || t == QLatin1String("3")) return 3;
    return std::nullopt;
}

QString HelpText(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    // The parser names the program after the running file; tests run it too.
    const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
    return QStringLiteral("Usage: trazbit-cli [options] INPUT...") + text.mid(lineEnd);
}

} // namespace

QString UsageText()
{
    const TOptionSet options;
    return HelpText(options.Parser);
}

TCliParse ParseCommandLine(const QStringList &arguments)
{
    TOptionSet set;
    QCommandLineParser &parser = set.Parser;
    if (!parser.parse(arguments)) {
        QString problem = parser.errorText();
        if (!problem.isEmpty())
            problem[0] = problem[0].toLower();
        return Usage(problem);
    }
    if (parser.isSet(set.Help)) {
        TCliParse result;
        result.Text = HelpText(parser);
        return result;
    }
    if (parser.isSet(set.Version)) {
        TCliParse result;
        result.Text = QStringLiteral("trazbit-cli " TRAZBIT_VERSION_TEXT "\n");
        return result;
    }

    TCliOptions options;
    options.Inputs = parser.positionalArguments();
    options.Quiet = parser.isSet(set.Quiet);
    options.PluginDirs = parser.values(set.PluginDir);
    if (options.PluginDirs.contains(QString()))
        return Usage(QStringLiteral("option --plugin-dir needs a folder"));
    options.ListFormats = parser.isSet(set.Formats);
    // Magnifications and ratios: a decimal number of 0 or more that a 32-bit
    // float holds ("abc", "1,5", "inf", "nan", "1e40" and "-1" are not).
    QString badNumber;
    auto number = [&](const QCommandLineOption &option, std::optional<float> &target) {
        if (!parser.isSet(option))
            return true;
        target = ParseFloat(parser.value(option));
        if (target && *target >= 0)
            return true;
        badNumber = QStringLiteral("option --%1 needs a number of 0 or more that a 32-bit float "
                                   "holds, not \"%2\"")
                        .arg(option.names().constLast(), parser.value(option));
        return false;
    };

    if (parser.isSet(set.Output)) {
        options.Output = parser.value(set.Output);
        if (options.Output.isEmpty())
            return Usage(QStringLiteral("option -o needs a path"));
    }
    if (parser.isSet(set.Format)) {
        options.Format = FindOutputFormat(parser.value(set.Format));
        if (!options.Format)
            return Usage(QStringLiteral("option -f needs one of ") + FormatNames(QStringLiteral(", ")));
    }
    if (parser.isSet(set.Mode)) {
        options.Mode = ParseMode(parser.value(set.Mode));
        if (!options.Mode)
            return Usage(QStringLiteral("option -m needs one of line, box, line2 (or 1, 2, 3)"));
    }
    std::optional<float> magnification;
    std::optional<float> scale;
    std::optional<float> dpi;
    if (!number(set.Magnification, magnification) || !number(set.Scale, scale)
        || !number(set.Dpi, dpi) || !number(set.Xrate, options.Xrate)
        || !number(set.Yrate, options.Yrate))
        return Usage(badNumber);
    if (parser.isSet(set.Threshold)) {
        const QString text = parser.value(set.Threshold);
        if (text.trimmed().isEmpty() || !TCleanupOptions::ParseThreshold(text, TCleanupOptions{}))
            return Usage(QStringLiteral("option --threshold needs auto or a level of 0 to 255"));
        options.Threshold = text.trimmed().toLower();
    }
    if (parser.isSet(set.Despeckle)) {
        const std::optional<int> pixels = TCleanupOptions::ParseDespeckle(parser.value(set.Despeckle));
        if (parser.value(set.Despeckle).trimmed().isEmpty() || !pixels)
            return Usage(QStringLiteral("option --despeckle needs a pixel count of 0 or more"));
        options.Despeckle = *pixels;
    }
    options.Centerline = parser.isSet(set.Centerline);
    if (parser.isSet(set.Merge)) {
        const QString text = parser.value(set.Merge).trimmed();
        if (text.isEmpty() || !TCleanupOptions::ParseMerge(text))
            return Usage(QStringLiteral("option --merge needs a tolerance of 0 or more pixels"));
        options.Merge = text;
    }
    if (parser.isSet(set.Arcs)) {
        const QString text = parser.value(set.Arcs).trimmed();
        if (text.isEmpty() || !TCleanupOptions::ParseMerge(text))
            return Usage(QStringLiteral("option --arcs needs a tolerance of 0 or more pixels"));
        options.Arcs = text;
    }
    if (parser.isSet(set.Snap)) {
        const QString text = parser.value(set.Snap).trimmed();
        if (text.isEmpty() || !TCleanupOptions::ParseSnap(text))
            return Usage(QStringLiteral("option --snap needs an angle of 0 to 45 degrees"));
        options.Snap = text;
    }
    options.Deskew = parser.isSet(set.Deskew);
    options.Linetypes = parser.isSet(set.Linetypes);
    if (parser.isSet(set.Widths)) {
        const QString text = parser.value(set.Widths).trimmed();
        if (text.isEmpty() || !TCleanupOptions::ParseWidths(text, TCleanupOptions()))
            return Usage(QStringLiteral("option --widths needs auto or widths greater than 0 such as 0.25,0.5"));
        options.Widths = text;
    }
    options.Fills = parser.isSet(set.Fills);
    options.TextLayer = parser.isSet(set.TextLayer);
    if (parser.isSet(set.Ocr)) {
        const QString text = parser.value(set.Ocr).trimmed();
        if (!TCleanupOptions::ParseOcr(text))
            return Usage(QStringLiteral("option --ocr needs languages such as jpn+eng"));
        options.Ocr = text;
    }
    if (parser.isSet(set.Settings)) {
        options.SettingsFile = parser.value(set.Settings);
        if (options.SettingsFile.isEmpty())
            return Usage(QStringLiteral("option --settings needs a file"));
    }
    if (parser.isSet(set.Preview)) {
        options.Preview = parser.value(set.Preview);
        if (options.Preview.isEmpty())
            return Usage(QStringLiteral("option --preview needs a path"));
    }
    if (parser.isSet(set.Jobs)) {
        const std::optional<int> jobs = ParseInteger(parser.value(set.Jobs));
        if (!jobs || *jobs < 1)
            return Usage(QStringLiteral("option -j needs a count of 1 or more"));
        options.Jobs = *jobs;
    }
    if (parser.isSet(set.MaxPixels)) {
        bool ok = false;
        const qlonglong pixels = parser.value(set.MaxPixels).trimmed().toLongLong(&ok);
        if (!ok || pixels < 1)
            return Usage(QStringLiteral("option --max-pixels needs a pixel count of 1 or more"));
        options.MaxPixels = pixels;
    }

    if (parser.isSet(set.FilesFrom)) {
        options.FilesFrom = parser.value(set.FilesFrom);
        if (options.FilesFrom.isEmpty())
            return Usage(QStringLiteral("option --files-from needs a file"));
    }
    if (parser.isSet(set.Report)) {
        options.Report = parser.value(set.Report);
        if (options.Report.isEmpty())
            return Usage(QStringLiteral("option --report needs a file"));
    }
    options.SkipExisting = parser.isSet(set.SkipExisting);

    if (options.Inputs.isEmpty() && options.FilesFrom.isEmpty() && !options.ListFormats)
        return Usage(QStringLiteral("no input picture given"));
    if (scale.has_value() != dpi.has_value())
        return Usage(QStringLiteral("--scale and --dpi go together"));
    if (magnification)
        options.Magnification = *magnification;
    if (scale) {
        if (magnification)
            return Usage(QStringLiteral("give either --magnification or --scale and --dpi"));
        if (*dpi == 0)
            return Usage(QStringLiteral("--dpi must not be 0"));
        const std::optional<float> m = MagnificationForScale(*scale, *dpi);
        if (!m)
            return Usage(QStringLiteral("--scale / --dpi x 25.4 does not fit a 32-bit float"));
        options.Magnification = *m;
    }
    // The drawing is scaled by magnification x ratio: that too must be a float.
    for (const auto &[name, rate] : {std::pair{"xrate", options.Xrate}, std::pair{"yrate", options.Yrate}})
        if (rate && !std::isfinite(static_cast<float>(double(options.Magnification) * *rate)))
            return Usage(QStringLiteral("the magnification %1 times --%2 %3 does not fit a 32-bit float")
                             .arg(QString::number(options.Magnification, 'g', 9), QLatin1String(name),
                                  QString::number(*rate, 'g', 9)));
    if (options.Output == QLatin1String("-") && options.Inputs.size() > 1)
        return Usage(QStringLiteral("standard output takes one input only"));

    TCliParse result;
    result.Options = options;
    return result;
}
