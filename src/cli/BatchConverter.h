#pragma once

#include "app/core/Settings.h"
#include "cli/CommandLine.h"

#include <QString>
#include <QStringList>

#include <cstdio>
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
    // back in the order of the jobs.
    std::vector<TConversionResult> Run(const std::vector<TConversionJob> &jobs, int threads,
                                       std::FILE *progress) const;

    // One job on the calling thread, which may use `threads` threads in all.
    TConversionResult Convert(const TConversionJob &job, std::FILE *progress, int threads = 1) const;

private:
    TSettings Settings;
    float Magnification;
    const TPictureFormats &Formats;
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
