#include "cli/BatchConverter.h"

#include "cleanup/CleanupFilters.h"
#include "recognition/GeometryFilters.h"

#include "base/DecimalText.h"
#include "base/Messages.h"
#include "base/ProgramFolder.h"
#include "base/TaskPool.h"
#include "cli/BatchReport.h"
#include "cli/CliProgress.h"
#include "cli/InputNames.h"
#include "cli/Terminal.h"
#include "export/AtomicFile.h"
#include "export/ExportContext.h"
#include "export/FileOutput.h"
#include "export/OutputFormats.h"
#include "preview/PreviewImage.h"
#include "export/SaveFileName.h"
#include "image/PictureFormats.h"
#include "image/PictureLimits.h"
#include "plugins/ProgramPlugins.h"
#include "plugins/SPIs.h"
#include "commands/ScanDriver.h"
#include "scan/ScanState.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// "plan.dxf に書き込めません: No space left on device"
QString CannotWrite(const QString &output, const QString &reason)
{
    const QString name = output == QLatin1String("-") ? QStringLiteral("標準出力")
                                                      : QDir::toNativeSeparators(output);
    return QStringLiteral("%1 に書き込めません: %2").arg(name, reason);
}

// Writes the row's output for one job: to standard output or a FIFO or device
// in place, or to a file that replaces the old one only once it is complete.
bool WriteOutput(const TConversionJob &job, const TExportContext &context, QString &reason)
{
    const std::unique_ptr<TFormatWriter> writer = job.Format->NewWriter();
    TAtomicFile file(job.Output);
    const TFileFailure failure =
        WriteOutputFile(file, *writer, context, job.Output == QLatin1String("-"));
    switch (failure.Kind) {
    case TFileFailure::None:
        return true;
    case TFileFailure::HeaderMissing:
        reason = Messages::DxfHeaderMissing();
        return false;
    case TFileFailure::NotWritten:
        // A clipboard text that did not fit in memory wrote nothing.
        reason = CannotWrite(job.Output,
                             failure.Reason.isEmpty() ? Messages::OutOfMemory() : failure.Reason);
        return false;
    case TFileFailure::NotCreated:
    case TFileFailure::NotReplaced:
        break;
    }
    reason = CannotWrite(job.Output, failure.Reason);
    return false;
}

// Why a conversion failed, in the program's words: the problem of the text
// layer when there was one, then the failure's fixed text, or "ファイルが読み込
// めませんした。" for neither; the reader's reason in brackets after them.
QString ScanFailureReason(const TScanFailure &failure, const QString &textProblem)
{
    QStringList texts;
    if (!textProblem.isEmpty())
        texts << textProblem;
    if (failure.Kind != TScanFailure::None)
        texts << TScanFailure::FailureText(failure.Kind);
    QString reason = texts.isEmpty() ? Messages::Unreadable() : texts.join(QLatin1Char(' '));
    if (!failure.Reason.isEmpty())
        reason += QStringLiteral(" (") + failure.Reason + QLatin1Char(')');
    return reason;
}

// Why an input cannot be read before any reader tries, or empty.
QString InputProblem(const QString &input)
{
    const QFileInfo info(input);
    if (info.isDir())
        return QStringLiteral("ファイルではなくフォルダです。");
    if (!info.exists())
        return QStringLiteral("ファイルが見つかりません。");
    QFile file(input);
    if (!file.open(QIODevice::ReadOnly))
        return Messages::Unreadable() + QStringLiteral(" (") + file.errorString() + QLatin1Char(')');
    return QString();
}

// The job's output (and preview, when it makes one) is a regular file no
// older than its input.
bool IsUpToDate(const TConversionJob &job)
{
    const QFileInfo input(ReadPath(job.Input));
    const auto current = [&](const QString &path) {
        const QFileInfo output(path);
        return path != QLatin1String("-") && output.isFile()
            && output.lastModified() >= input.lastModified();
    };
    return input.isFile() && current(job.Output) && (job.Preview.isEmpty() || current(job.Preview));
}

// The picture with its segments, as the preview window shows it, as a PNG file.
bool WritePreview(const TConversionJob &job, const TScanState &state, QString &reason)
{
    const TPreviewImage preview(state.Picture.Mask, state, state.Picture.PixelCorners);
    const QImage image = preview.RenderWhole(4096);
    TAtomicFile file(job.Preview);
    if (image.isNull() || !file.Open() || !image.save(&file, "PNG") || !file.Commit()) {
        reason = CannotWrite(job.Preview, image.isNull() ? Messages::OutOfMemory() : file.Reason());
        return false;
    }
    return true;
}

} // namespace

TBatchConverter::TBatchConverter(const TSettings &settings, float magnification,
                                 const TPictureFormats &formats)
    : Settings(settings), Magnification(magnification), Formats(formats)
{
}

TConversionResult TBatchConverter::Convert(const TConversionJob &job, std::FILE *progress,
                                           int threads) const
{
    QElapsedTimer clock;
    clock.start();
    TConversionResult result = ConvertJob(job, progress, threads);
    result.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return result;
}

TConversionResult TBatchConverter::ConvertJob(const TConversionJob &job, std::FILE *progress,
                                              int threads) const
{
    TConversionResult result;
    if (SkipExisting && IsUpToDate(job)) {
        result.Ok = result.Skipped = true;
        return result;
    }
    TCliProgress display(job.Input, progress);
    TScanState state;
    try {
        if (const QString problem = InputProblem(ReadPath(job.Input)); !problem.isEmpty()) {
            result.Reason = problem;
            return result;
        }
        TScanDriver driver(state, Settings, display, Formats);
        driver.SetThreads(threads);
        driver.SetKeepPicture(!job.Preview.isEmpty());
        const TGeometryFilters cleanup(CleanupOptionsOf(Settings));
        if (CleanupOptionsOf(Settings).AnyStep())
            driver.SetFilters(&cleanup);
        if (driver.ScanData(ReadPath(job.Input)) != ScanDone) {
            result.Reason = ScanFailureReason(driver.Failure(), state.TextProblem);
            return result;
        }
        result.SegmentCount = state.SegmentCount;
        if (!state.TextProblem.isEmpty())
            result.Warnings << state.TextProblem;
        result.SkewSought = Settings.CleanupDeskew;
        result.Skew = state.Skew;
        if (const QString note = cleanup.Note(); !note.isEmpty())
            result.Warnings << note;
        if (state.SegmentCount == 0)
            result.Warnings << Messages::ZeroSegments();

        TExportContext context(state, Magnification, Settings, display.ProgressBar(), ProgramFolder());
        context.Threads = threads;
        if (!context.CoordinatesFit()) {
            result.Reason = Messages::CoordinatesOverflow();
            return result;
        }
        result.Ok = WriteOutput(job, context, result.Reason);
        if (result.Ok && !job.Preview.isEmpty())
            result.Ok = WritePreview(job, state, result.Reason);
    } catch (const std::exception &error) {
        result.Ok = false;
        result.Reason = QString::fromUtf8(error.what());
    }
    return result;
}

std::vector<TConversionResult> TBatchConverter::Run(const std::vector<TConversionJob> &jobs,
                                                    int threads, std::FILE *progress,
                                                    const TFinished &finished) const
{
    std::vector<TConversionResult> results(jobs.size());
    if (jobs.empty())
        return results;
    std::mutex reporting;
    auto run = [&](size_t i, std::FILE *bar, int within) {
        results[i] = Convert(jobs[i], bar, within);
        if (finished) {
            const std::lock_guard<std::mutex> lock(reporting);
            finished(i, results[i]);
        }
    };
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int parallel = std::min<int>(threads, static_cast<int>(jobs.size()));
    // Threads each job may use within its input: the first ones take the rest.
    auto threadsOf = [&](int worker) { return threads / parallel + (worker < threads % parallel ? 1 : 0); };
    if (parallel <= 1) {
        for (size_t i = 0; i < jobs.size(); ++i)
            run(i, progress, threads);
        return results;
    }
    // With fewer threads than asked, the others take the inputs left over.
    RunTasks(parallel, jobs.size(), [&](std::size_t i, int worker) { run(i, nullptr, threadsOf(worker)); });
    return results;
}

TJobPlan PlanJobs(const TCliOptions &options, const TSettings &settings)
{
    TJobPlan plan;
    const bool toStdout = options.Output == QLatin1String("-");
    const bool toFolder = !options.Output.isEmpty() && !toStdout && QFileInfo(options.Output).isDir();
    if (options.Inputs.size() > 1 && !options.Output.isEmpty() && !toFolder) {
        plan.Problem = QStringLiteral("with several inputs, -o must name an existing folder");
        return plan;
    }

    const bool previewFolder = !options.Preview.isEmpty() && QFileInfo(options.Preview).isDir();
    if (options.Inputs.size() > 1 && !options.Preview.isEmpty() && !previewFolder) {
        plan.Problem = QStringLiteral("with several inputs, --preview must name an existing folder");
        return plan;
    }

    const TOutputFormat *format = options.Format;
    if (!format && !options.Output.isEmpty() && !toStdout && !toFolder)
        format = &OutputFormatForFileName(options.Output);
    if (!format) {
        format = FindOutputFormat(settings.SaveMode);
        if (!format || !format->IsFile())
            format = FindOutputFormat(SaveFormatText);
    }
    const QString extension = QLatin1Char('.') + format->Extension(settings);

    QSet<QString> outputs;
    for (const QString &input : options.Inputs) {
        TConversionJob job;
        job.Input = input;
        job.Format = format;
        if (toStdout)
            job.Output = options.Output;
        else if (toFolder)
            job.Output = QDir(options.Output).filePath(
                ReplaceExtension(QFileInfo(input).fileName(), extension));
        else if (!options.Output.isEmpty())
            job.Output = options.Output;
        else
            job.Output = ReplaceExtension(input, extension);
        const QString key = QFileInfo(job.Output).absoluteFilePath();
        if (!toStdout && outputs.contains(key)) {
            plan.Problem = QStringLiteral("two inputs would be written to %1").arg(job.Output);
            return plan;
        }
        // Compared as files: a link or a second name of the input is the input.
        if (!toStdout
            && (key == QFileInfo(input).absoluteFilePath() || IsSameFile(job.Output, ReadPath(input)))) {
            plan.Problem = QStringLiteral("the output %1 would replace its input").arg(job.Output);
            return plan;
        }
        outputs.insert(key);
        if (!options.Preview.isEmpty()) {
            job.Preview = previewFolder ? QDir(options.Preview).filePath(
                              ReplaceExtension(QFileInfo(input).fileName(), QStringLiteral(".png")))
                                        : options.Preview;
            const QString previewKey = QFileInfo(job.Preview).absoluteFilePath();
            if (outputs.contains(previewKey) || previewKey == QFileInfo(input).absoluteFilePath()
                || IsSameFile(job.Preview, ReadPath(input))) {
                plan.Problem = QStringLiteral("the preview %1 would replace an input or an output")
                                   .arg(job.Preview);
                return plan;
            }
            outputs.insert(previewKey);
        }
        plan.Jobs.push_back(job);
    }
    return plan;
}

namespace {

void PrintProblem(std::FILE *err, const QString &problem)
{
    std::fprintf(err, "trazbit-cli: %s\n", problem.toUtf8().constData());
}

// Why an explicitly named settings file cannot be used, or empty.
QString SettingsFileProblem(const QString &path, QSettings &store)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("settings file %1 is a folder").arg(path);
    if (!info.exists())
        return QStringLiteral("settings file %1 not found").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("settings file %1 cannot be read: %2").arg(path, file.errorString());
    if (SettingsStore::StoreProblem(store).isEmpty())
        return QString();
    if (store.status() == QSettings::FormatError)
        return QStringLiteral("settings file %1 is not an INI file").arg(path);
    return QStringLiteral("settings file %1 cannot be read").arg(path);
}

// The stored settings (read only: the store is never written from here) with
// the command line's choices over them. False (message printed) when a named
// settings file cannot be used; every value of the store that had to give way
// to its default is warned about.
bool LoadSettings(const TCliOptions &options, TSettings &settings, std::FILE *err)
{
    const std::unique_ptr<QSettings> store = SettingsStore::Open(options.SettingsFile);
    if (!options.SettingsFile.isEmpty()) {
        if (const QString problem = SettingsFileProblem(options.SettingsFile, *store);
            !problem.isEmpty()) {
            PrintProblem(err, problem);
            return false;
        }
    } else if (const QString problem = SettingsStore::StoreProblem(*store); !problem.isEmpty()) {
        PrintProblem(err, problem + QStringLiteral("既定値を使います。"));
    }
    QStringList warnings;
    settings = TSettings::Defaults();
    SettingsStore::Load(*store, settings, nullptr, &warnings);
    for (const QString &warning : std::as_const(warnings))
        PrintProblem(err, warning);
    if (options.Mode)
        settings.PixelScanMode = *options.Mode;
    if (options.Xrate)
        settings.Xrate = *options.Xrate;
    if (options.Yrate)
        settings.Yrate = *options.Yrate;
    if (options.Threshold)
        settings.CleanupThreshold = *options.Threshold;
    if (options.Despeckle)
        settings.CleanupDespeckle = *options.Despeckle;
    if (options.Centerline)
        settings.CleanupCenterline = true;
    if (options.Merge)
        settings.CleanupMerge = *options.Merge;
    if (options.TextLayer)
        settings.CleanupTextLayer = true;
    if (options.Ocr)
        settings.CleanupOcr = *options.Ocr;
    if (options.Arcs)
        settings.CleanupArcs = *options.Arcs;
    if (options.Snap)
        settings.CleanupSnap = *options.Snap;
    if (options.Deskew)
        settings.CleanupDeskew = true;
    if (options.Linetypes)
        settings.CleanupLinetypes = true;
    if (options.Widths)
        settings.CleanupWidths = *options.Widths;
    if (options.Fills)
        settings.CleanupFills = true;
    return true;
}

// Whether the file `path` would write is `other`, by name or as a file.
bool SamePlace(const QString &path, const QString &other)
{
    return !other.isEmpty() && other != QLatin1String("-")
        && (QFileInfo(path).absoluteFilePath() == QFileInfo(other).absoluteFilePath() || IsSameFile(path, other));
}

// Why an output, a preview or the report would replace the list of inputs,
// the settings file or (the report) an input or an output; empty when none does.
QString OutputsProblem(const TCliOptions &options, const TJobPlan &plan)
{
    const auto kept = [&](const QString &path) -> QString {
        if (SamePlace(path, options.FilesFrom))
            return QStringLiteral("the list %1").arg(options.FilesFrom);
        if (SamePlace(path, options.SettingsFile))
            return QStringLiteral("the settings file %1").arg(options.SettingsFile);
        return QString();
    };
    for (const TConversionJob &job : plan.Jobs)
        for (const QString &path : {job.Output, job.Preview})
            if (!path.isEmpty() && path != QLatin1String("-"))
                if (const QString what = kept(path); !what.isEmpty())
                    return QStringLiteral("%1 would replace %2").arg(path, what);
    const QString &report = options.Report;
    if (report.isEmpty())
        return QString();
    QString what = kept(report);
    for (const TConversionJob &job : plan.Jobs) {
        if (!what.isEmpty())
            break;
        if (SamePlace(report, ReadPath(job.Input)))
            what = QStringLiteral("the input %1").arg(job.Input);
        else if (SamePlace(report, job.Output) || SamePlace(report, job.Preview))
            what = QStringLiteral("the output %1").arg(SamePlace(report, job.Output) ? job.Output : job.Preview);
    }
    return what.isEmpty() ? QString() : QStringLiteral("the report %1 would replace %2").arg(report, what);
}

} // namespace

QStringList ReadInputList(const QString &path, QString &problem)
{
    QFile file;
    bool opened;
    if (path == QLatin1String("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else if (QFileInfo(path).isDir()) {
        problem = QStringLiteral("the list %1 is a folder").arg(path);
        return {};
    } else {
        file.setFileName(ReadPath(path));
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        problem = QStringLiteral("cannot read the list %1: %2").arg(path, file.errorString());
        return {};
    }
    // Read a line at a time, each no longer than a path can be, the whole no
    // larger than kMostListBytes: a device or a pipe that never ends is an error.
    QStringList inputs;
    qint64 total = 0;
    for (qint64 number = 1;; ++number) {
        QByteArray line = file.readLine(kMostListLineBytes + 2);
        if (line.isEmpty())
            break;
        total += line.size();
        const bool whole = line.endsWith('\n') || file.atEnd();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!whole || line.size() > kMostListLineBytes) {
            problem = QStringLiteral("line %1 of the list %2 is longer than any path (%3 bytes at most)")
                          .arg(number)
                          .arg(path)
                          .arg(kMostListLineBytes);
            return {};
        }
        if (total > kMostListBytes) {
            problem = QStringLiteral("the list %1 is longer than %2 bytes: split it")
                          .arg(path)
                          .arg(kMostListBytes);
            return {};
        }
        if (!line.isEmpty())
            inputs << InputName(line);
    }
    if (file.error() != QFileDevice::NoError) {
        problem = QStringLiteral("cannot read the list %1: %2").arg(path, file.errorString());
        return {};
    }
    return inputs;
}

int RunCommandLine(const TCliOptions &options, std::FILE *out, std::FILE *err)
{
    TSettings settings;
    if (!LoadSettings(options, settings, err))
        return 2;
    PictureLimits::SetMostPixels(options.MaxPixels);
    // The picture formats: the built-in ones and those of the plug-ins, found
    // as the window program finds them (after the folders given first).
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    const std::unique_ptr<TSPIs> plugins = StartPlugins(formats, options.PluginDirs);
    if (options.ListFormats) {
        for (const TPictureFormat &format : formats.Formats())
            std::fprintf(out, "%s\t%s\t%s\n", format.Extension.toUtf8().constData(),
                         format.Description.toUtf8().constData(),
                         FormatOrigin(plugins.get(), format.Extension).toUtf8().constData());
        std::fflush(out);
        return 0;
    }

    TCliOptions run = options;
    if (!options.FilesFrom.isEmpty()) {
        QString problem;
        run.Inputs += ReadInputList(options.FilesFrom, problem);
        if (!problem.isEmpty()) {
            PrintProblem(err, problem);
            return 2;
        }
    }
    const TJobPlan plan = PlanJobs(run, settings);
    if (!plan.Problem.isEmpty()) {
        PrintProblem(err, plan.Problem);
        return 2;
    }
    if (const QString problem = OutputsProblem(options, plan); !problem.isEmpty()) {
        PrintProblem(err, problem);
        return 2;
    }
    TBatchReport report;
    if (!options.Report.isEmpty() && !report.Open(options.Report)) {
        PrintProblem(err, QStringLiteral("cannot write the report %1: %2").arg(options.Report, report.Reason()));
        return 2;
    }

    const bool showProgress = !options.Quiet && IsTerminal(err);
    TBatchConverter converter(settings, options.Magnification, formats);
    converter.SetSkipExisting(options.SkipExisting);
    TBatchConverter::TFinished finished;
    if (!options.Report.isEmpty())
        finished = [&](std::size_t i, const TConversionResult &result) { report.Add(plan.Jobs[i], result); };
    const std::vector<TConversionResult> results =
        converter.Run(plan.Jobs, options.Jobs, showProgress ? err : nullptr, finished);

    int status = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const TConversionJob &job = plan.Jobs[i];
        const TConversionResult &result = results[i];
        const QByteArray input = job.Input.toUtf8();
        for (const QString &warning : result.Warnings)
            std::fprintf(err, "%s: %s\n", input.constData(), warning.toUtf8().constData());
        if (result.Ok && result.SkewSought && !options.Quiet)
            std::fprintf(err, "%s: %s\n", input.constData(), SkewText(result.Skew).toUtf8().constData());
        if (!result.Ok) {
            std::fprintf(err, "%s: %s\n", input.constData(), result.Reason.toUtf8().constData());
            status = 1;
        } else if (result.Skipped) {
            if (!options.Quiet)
                std::fprintf(out, "%s: %s は入力と同じか新しいため飛ばしました\n", input.constData(),
                             job.Output.toUtf8().constData());
        } else if (!options.Quiet && job.Output != QLatin1String("-")) {
            std::fprintf(out, "%s: %s本 -> %s\n", input.constData(),
                         FormatThousands(result.SegmentCount).toUtf8().constData(),
                         job.Output.toUtf8().constData());
        }
    }
    std::fflush(out);
    if (!report.Finish()) {
        PrintProblem(err, QStringLiteral("cannot write the report %1: %2").arg(options.Report, report.Reason()));
        status = 1;
    }
    return status;
}
