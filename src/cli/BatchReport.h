#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class TAtomicFile;

struct TConversionJob;
struct TConversionResult;

// The report of a batch run, JSON Lines: one object per input, written as
// soon as the input is done. Like every output it takes its name only when
// whole, at the end of the run (a killed run leaves the old report, if any):
//   {"input":"a.tif","output":"out/a.dxf","status":"ok","segments":1234,"seconds":0.532}
// "status" is "ok", "failed" (then "message" says why) or "skipped" (the output
// was there and not older than the input); "segments" is 0 unless converted.
class TBatchReport
{
public:
    TBatchReport();
    ~TBatchReport();
    // Opens the report for writing; false with Reason().
    bool Open(const QString &path);
    const QString &Reason() const { return FailureReason; }
    void Add(const TConversionJob &job, const TConversionResult &result);
    // Puts the report in place of the old file; false with Reason() when a
    // line or the report itself could not be written (the old file stays).
    bool Finish();

private:
    std::unique_ptr<TAtomicFile> File;
    bool Failed = false;
    QString FailureReason;
};

// One object of the report, without its line end.
QByteArray ReportLine(const TConversionJob &job, const TConversionResult &result);
