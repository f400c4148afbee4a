#include "cli/BatchConverter.h"

#include "app/core/DecimalText.h"
#include "app/core/Errors.h"
#include "app/core/ProgramFolder.h"
#include "cli/CliUserInterface.h"
#include "cli/Terminal.h"
#include "export/ClipboardText.h"
#include "export/DxfWriter.h"
#include "export/ExportContext.h"
#include "export/JwcWriter.h"
#include "export/SaveFileName.h"
#include "export/TextWriter.h"
#include "image/PictureFormats.h"
#include "scan/ScanDriver.h"
#include "scan/ScanState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

namespace {

const QString kZeroSegments = QStringLiteral("線の本数が０です。");

QString Reason(const QStringList &messages, const QString &fallback)
{
    return messages.isEmpty() ? fallback : messages.join(QLatin1Char(' '));
}

// Copies a finished file to standard output.
bool CopyToStream(const QString &path, std::FILE *stream)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray chunk;
    while (!(chunk = file.read(1 << 20)).isEmpty())
        if (std::fwrite(chunk.constData(), 1, static_cast<size_t>(chunk.size()), stream)
            != static_cast<size_t>(chunk.size()))
            return false;
    return std::fflush(stream) == 0;
}

// Puts a finished file in its place, replacing what was there.
bool MoveInto(const QString &from, const QString &to, QString &reason)
{
    if (QFileInfo(to).isDir()) {
        reason = QStringLiteral("%1 はフォルダです。").arg(QDir::toNativeSeparators(to));
        return false;
    }
    if (QFile::exists(to) && !QFile::remove(to)) {
        reason = QStringLiteral("%1 を置き換えられません。").arg(QDir::toNativeSeparators(to));
        return false;
    }
    QFile file(from);
    if (!file.rename(to)) {
        reason = QStringLiteral("%1 に書き込めません: %2")
                     .arg(QDir::toNativeSeparators(to), file.errorString());
        return false;
    }
    return true;
}

bool WriteBytes(const QByteArray &bytes, const QString &path, QString &reason)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size() || !file.flush()) {
        reason = QStringLiteral("%1 に書き込めません: %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

} // namespace

TBatchConverter::TBatchConverter(const TSettings &settings, float magnification)
    : Settings(settings), Magnification(magnification)
{
}

TConversionResult TBatchConverter::Convert(const TConversionJob &job, std::FILE *progress) const
{
    TConversionResult result;
    TCliUserInterface ui(job.Input, progress);
    TScanState state(ui);
    try {
        if (!QFileInfo(job.Input).isFile()) {
            result.Reason = QStringLiteral("ファイルが見つかりません。");
            return result;
        }
        TScanDriver driver(state, Settings, ui);
        const TScanOutcome outcome = driver.ScanData(job.Input, FormatGeneral(Magnification));
        if (outcome.Status != ScanDone || state.CancelScan || !state.DataConverted) {
            result.Reason = Reason(ui.Messages(), QStringLiteral("ファイルが読み込めませんした。"));
            return result;
        }
        result.SegmentCount = state.SegmentCount;
        if (state.SegmentCount == 0)
            result.Warnings << kZeroSegments;

        // The save command takes the magnification into the scan state first.
        state.Magnification = Magnification;
        const TExportContext context(state, Settings, ui, ProgramFolder());
        const qsizetype messagesBefore = ui.Messages().size();
        QString reason;

        if (job.Format == TCliFormat::ClipText || job.Format == TCliFormat::ClipJwt) {
            const TClipboardText text = job.Format == TCliFormat::ClipText
                                            ? CoordinateClipboardText(context)
                                            : JwTranClipboardText(context);
            if (!text.Complete) {
                result.Reason = QStringLiteral("コピーできませんでした。");
                return result;
            }
            if (job.Output == QLatin1String("-")) {
                if (std::fwrite(text.Cp932.constData(), 1, static_cast<size_t>(text.Cp932.size()),
                                stdout) != static_cast<size_t>(text.Cp932.size())
                    || std::fflush(stdout) != 0) {
                    result.Reason = QStringLiteral("標準出力に書き込めません。");
                    return result;
                }
            } else if (!WriteBytes(text.Cp932, job.Output, reason)) {
                result.Reason = reason;
                return result;
            }
            result.Ok = true;
            return result;
        }

        // The writer names its file itself; it writes into a private folder and
        // the finished file is then moved to the name asked for.
        const QString outputFolder = job.Output == QLatin1String("-")
                                         ? QDir::tempPath()
                                         : QFileInfo(job.Output).absolutePath();
        QTemporaryDir work(QDir(outputFolder).filePath(QStringLiteral(".trazbit-XXXXXX")));
        if (!work.isValid()) {
            result.Reason = QStringLiteral("%1 に書き込めません: %2")
                                .arg(QDir::toNativeSeparators(outputFolder), work.errorString());
            return result;
        }
        const int format = job.Format == TCliFormat::Dxf   ? SaveFormatDxf
                           : job.Format == TCliFormat::Jwc ? SaveFormatJwc
                                                           : SaveFormatText;
        const QString chosen = work.filePath(QStringLiteral("output"));
        int written = 0;
        switch (format) {
        case SaveFormatDxf: written = SaveData2(context, chosen); break;
        case SaveFormatJwc: written = SaveData3(context, chosen); break;
        default: written = SaveData1(context, chosen); break;
        }
        if (written != 0) {
            result.Reason = Reason(ui.Messages().mid(messagesBefore),
                                   QStringLiteral("保存できませんでした。"));
            return result;
        }
        const QString file = WrittenFileName(chosen, format, Settings.FileExtention);
        if (job.Output == QLatin1String("-")) {
            if (!CopyToStream(file, stdout)) {
                result.Reason = QStringLiteral("標準出力に書き込めません。");
                return result;
            }
        } else if (!MoveInto(file, job.Output, reason)) {
            result.Reason = reason;
            return result;
        }
        result.Ok = true;
    } catch (const std::exception &error) {
        result.Ok = false;
        result.Reason = QString::fromUtf8(error.what());
    }
    return result;
}

std::vector<TConversionResult> TBatchConverter::Run(const std::vector<TConversionJob> &jobs,
                                                    int parallel, std::FILE *progress) const
{
    std::vector<TConversionResult> results(jobs.size());
    if (parallel <= 0)
        parallel = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    parallel = std::min<int>(parallel, static_cast<int>(jobs.size()));
    if (parallel <= 1) {
        for (size_t i = 0; i < jobs.size(); ++i)
            results[i] = Convert(jobs[i], progress);
        return results;
    }
    // The registry of picture formats is filled once, before the workers start.
    TPictureFormats::Global();
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < parallel; ++w)
        workers.emplace_back([&] {
            for (size_t i = next++; i < jobs.size(); i = next++)
                results[i] = Convert(jobs[i], nullptr);
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

    TCliFormat format;
    if (options.Format)
        format = *options.Format;
    else if (!options.Output.isEmpty() && !toStdout && !toFolder)
        format = FormatForFileName(options.Output);
    else
        format = settings.SaveMode == SaveFormatDxf   ? TCliFormat::Dxf
                 : settings.SaveMode == SaveFormatJwc ? TCliFormat::Jwc
                                                      : TCliFormat::Text;
    const QString extension = QLatin1Char('.') + ExtensionForFormat(format, settings.FileExtention);

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

    const TJobPlan plan = PlanJobs(options, settings);
    if (!plan.Problem.isEmpty()) {
        std::fprintf(err, "trazbit-cli: %s\n", plan.Problem.toUtf8().constData());
        return 2;
    }

    const bool showProgress = !options.Quiet && IsTerminal(err);
    const TBatchConverter converter(settings, options.Magnification);
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
