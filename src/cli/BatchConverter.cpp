#include "cli/BatchConverter.h"

#include "cleanup/CleanupFilters.h"

#include "app/core/DecimalText.h"
#include "app/core/Messages.h"
#include "app/core/ProgramFolder.h"
#include "cli/CliUserInterface.h"
#include "cli/Terminal.h"
#include "export/ExportContext.h"
#include "export/OutputFormats.h"
#include "export/PreviewImage.h"
#include "export/SaveFileName.h"
#include "image/PictureFormats.h"
#include "plugins/ProgramPlugins.h"
#include "plugins/SPIs.h"
#include "scan/ScanDriver.h"
#include "scan/ScanState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

namespace {

QString CannotWrite(const QString &path, const QString &reason)
{
    return QStringLiteral("%1 に書き込めません: %2").arg(QDir::toNativeSeparators(path), reason);
}

// Writes the row's output for one job: straight to standard output, or to a
// file that replaces the old one only once it is complete.
bool WriteOutput(const TConversionJob &job, const TExportContext &context, QString &reason)
{
    const std::unique_ptr<TFormatWriter> writer = job.Format->NewWriter();
    if (writer->Prepare(context) == WriteHeaderMissing) {
        reason = Messages::DxfHeaderMissing();
        return false;
    }
    if (job.Output == QLatin1String("-")) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            reason = QStringLiteral("標準出力に書き込めません。");
            return false;
        }
        if (!writer->Write(context, out)) {
            reason = QStringLiteral("標準出力に書き込めません。") + out.errorString();
            return false;
        }
        return true;
    }
    if (QFileInfo(job.Output).isDir()) {
        reason = QStringLiteral("%1 はフォルダです。").arg(QDir::toNativeSeparators(job.Output));
        return false;
    }
    QSaveFile file(job.Output);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = CannotWrite(job.Output, file.errorString());
        return false;
    }
    if (!writer->Write(context, file) || !file.commit()) {
        reason = CannotWrite(job.Output, file.errorString());
        return false;
    }
    return true;
}

// The picture with its segments, as the preview window shows it, as a PNG file.
bool WritePreview(const TConversionJob &job, const TScanState &state, QString &reason)
{
    const TPreviewImage preview(state.Picture.Mask, state, state.Picture.PixelCorners);
    const QImage image = preview.RenderWhole(4096);
    QSaveFile file(job.Preview);
    if (image.isNull() || !file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG")
        || !file.commit()) {
        reason = CannotWrite(job.Preview, image.isNull() ? Messages::OutOfMemory() : file.errorString());
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
    TConversionResult result;
    TCliUserInterface ui(job.Input, progress);
    TScanState state;
    state.KeepPicture = !job.Preview.isEmpty();
    try {
        if (!QFileInfo(job.Input).isFile()) {
            result.Reason = QStringLiteral("ファイルが見つかりません。");
            return result;
        }
        TScanDriver driver(state, Settings, ui, Formats);
        driver.SetThreads(threads);
        const TCleanupFilters cleanup(CleanupOptionsOf(Settings));
        if (CleanupOptionsOf(Settings).AnyStep())
            driver.SetFilters(&cleanup);
        if (driver.ScanData(job.Input) != ScanDone || !state.DataConverted) {
            result.Reason = ui.Messages().isEmpty() ? Messages::Unreadable()
                                                    : ui.Messages().join(QLatin1Char(' '));
            if (!driver.LoadFailure().isEmpty())
                result.Reason += QStringLiteral(" (") + driver.LoadFailure() + QLatin1Char(')');
            return result;
        }
        result.SegmentCount = state.SegmentCount;
        if (state.SegmentCount == 0)
            result.Warnings << Messages::ZeroSegments();

        TExportContext context(state, Magnification, Settings, ui.ProgressBar(), ProgramFolder());
        context.Threads = threads;
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
                                                    int threads, std::FILE *progress) const
{
    std::vector<TConversionResult> results(jobs.size());
    if (jobs.empty())
        return results;
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int parallel = std::min<int>(threads, static_cast<int>(jobs.size()));
    // Threads each job may use within its input: the first ones take the rest.
    auto threadsOf = [&](int worker) { return threads / parallel + (worker < threads % parallel ? 1 : 0); };
    if (parallel <= 1) {
        for (size_t i = 0; i < jobs.size(); ++i)
            results[i] = Convert(jobs[i], progress, threads);
        return results;
    }
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < parallel; ++w)
        workers.emplace_back([&, w] {
            for (size_t i = next++; i < jobs.size(); i = next++)
                results[i] = Convert(jobs[i], nullptr, threadsOf(w));
        });
    for (std::thread &worker : workers)
        worker.join();
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
        if (!toStdout && key == QFileInfo(input).absoluteFilePath()) {
            plan.Problem = QStringLiteral("the output %1 would replace its input").arg(job.Output);
            return plan;
        }
        outputs.insert(key);
        if (!options.Preview.isEmpty()) {
            job.Preview = previewFolder ? QDir(options.Preview).filePath(
                              ReplaceExtension(QFileInfo(input).fileName(), QStringLiteral(".png")))
                                        : options.Preview;
            const QString previewKey = QFileInfo(job.Preview).absoluteFilePath();
            if (outputs.contains(previewKey) || previewKey == QFileInfo(input).absoluteFilePath()) {
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

int RunCommandLine(const TCliOptions &options, std::FILE *out, std::FILE *err)
{
    if (!options.SettingsFile.isEmpty() && !QFileInfo(options.SettingsFile).isFile()) {
        std::fprintf(err, "trazbit-cli: settings file %s not found\n",
                     options.SettingsFile.toUtf8().constData());
        return 2;
    }
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

    TSettings settings = TSettings::Defaults();
    {
        // Read only: the store is never written from here.
        const std::unique_ptr<QSettings> store = SettingsStore::Open(options.SettingsFile);
        SettingsStore::Load(*store, settings);
    }
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

    const TJobPlan plan = PlanJobs(options, settings);
    if (!plan.Problem.isEmpty()) {
        std::fprintf(err, "trazbit-cli: %s\n", plan.Problem.toUtf8().constData());
        return 2;
    }

    const bool showProgress = !options.Quiet && IsTerminal(err);
    const TBatchConverter converter(settings, options.Magnification, formats);
    const std::vector<TConversionResult> results =
        converter.Run(plan.Jobs, options.Jobs, showProgress ? err : nullptr);

    int status = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const TConversionJob &job = plan.Jobs[i];
        const TConversionResult &result = results[i];
        const QByteArray input = job.Input.toUtf8();
        for (const QString &warning : result.Warnings)
            std::fprintf(err, "%s: %s\n", input.constData(), warning.toUtf8().constData());
        if (!result.Ok) {
            std::fprintf(err, "%s: %s\n", input.constData(), result.Reason.toUtf8().constData());
            status = 1;
        } else if (!options.Quiet && job.Output != QLatin1String("-")) {
            std::fprintf(out, "%s: %s本 -> %s\n", input.constData(),
                         FormatThousands(result.SegmentCount).toUtf8().constData(),
                         job.Output.toUtf8().constData());
        }
    }
    std::fflush(out);
    return status;
}
