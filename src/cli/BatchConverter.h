#pragma once

#include "base/Settings.h"
#include "cli/CommandLine.h"

#include <QString>

#include <optional>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <vector>

class TPictureFormats;
struct TOutputFormat;

// One input of a command-line run and where its result goes.
struct TConversionJob
{
    QString Input;
    QString Output;     // "-" for standard output
    const TOutputFormat *Format = nullptr;
    QString Preview{};  // the preview PNG to write as well; empty: none
};

// What became of one input.
struct TConversionResult
{
    bool Ok = false;
    qint64 SegmentCount = 0;
    QStringList Warnings;  // the program's texts, e.g. "線の本数が０です。"
    QString Reason;        // why it failed
    bool Skipped = false;  // not converted: its output is there and not older (Ok too)
    double Seconds = 0;    // how long the job took
    std::optional<double> Skew;  // with deskew: the skew found, degrees counter-clockwise
    bool SkewSought = false;     // deskew was on
};

// Converts each job's picture with the scan driver and writes its result with
// the writer of its format's row, so every file holds exactly the bytes the
// window program writes for the same picture, mode and settings.
class TBatchConverter
{
public:
    TBatchConverter(const TSettings &settings, float magnification, const TPictureFormats &formats);

    // Runs every job with `threads` threads in all (0: one per core): as many
    // jobs side by side as there are threads (at most one per job), and the
    // threads left over shared out among them for the work within one input.
    // One thread runs everything on the calling thread. `progress` receives a
    // progress bar while one job runs alone, or nullptr for none. Results come
    // back in the order of the jobs; `finished`, when given, is called with each
    // job's index and result as soon as it ends, one call at a time.
    using TFinished = std::function<void(std::size_t index, const TConversionResult &result)>;
    std::vector<TConversionResult> Run(const std::vector<TConversionJob> &jobs, int threads,
                                       std::FILE *progress, const TFinished &finished = {}) const;

    // An input whose output exists as a regular file not older than the input
    // is skipped (a killed batch run again resumes where it stopped).
    void SetSkipExisting(bool skip) { SkipExisting = skip; }

    // One job on the calling thread, which may use `threads` threads in all.
    TConversionResult Convert(const TConversionJob &job, std::FILE *progress, int threads = 1) const;

private:
    TConversionResult ConvertJob(const TConversionJob &job, std::FILE *progress, int threads) const;

    TSettings Settings;
    float Magnification;
    const TPictureFormats &Formats;
    bool SkipExisting = false;
};

// The whole command line: settings, job list, conversion, messages. Returns the
// exit status (0 all written, 1 any failed, 2 bad usage).
int RunCommandLine(const TCliOptions &options, std::FILE *out, std::FILE *err);

// The jobs of a run: each input with its output path and format, or the reason
// the outputs cannot be laid out (bad usage).
struct TJobPlan
{
    std::vector<TConversionJob> Jobs;
    QString Problem;
};
TJobPlan PlanJobs(const TCliOptions &options, const TSettings &settings);

// The inputs of a --files-from list: one path a line ("-" reads standard
// input), empty lines left out, a CR before the line end dropped. Empty with
// `problem` set when the list cannot be read.
// A line longer than kMostListLineBytes (no path is longer) or a list longer
// than kMostListBytes is a problem too.
constexpr int kMostListLineBytes = 4096;
constexpr qint64 kMostListBytes = qint64(1) << 26;
QStringList ReadInputList(const QString &path, QString &problem);
