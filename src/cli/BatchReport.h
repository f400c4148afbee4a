#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

struct TConversionJob;
struct TConversionResult;

// The report of a batch run, JSON Lines: one object per input, written (and
// flushed) as soon as the input is done, so a killed run keeps the lines of
// every input it finished:
//   {"input":"a.tif","output":"out/a.dxf","status":"ok","segments":1234,"seconds":0.532}
// "status" is "ok", "failed" (then "message" says why) or "skipped" (the output
// was there and not older than the input); "segments" is 0 unless converted.
class TBatchReport
{
public:
    // Creates (or empties) the report file; false with Reason().
    bool Open(const QString &path);
    const QString &Reason() const { return FailureReason; }
    void Add(const TConversionJob &job, const TConversionResult &result);

private:
    QFile File;
    QString FailureReason;
};

// One object of the report, without its line end.
QByteArray ReportLine(const TConversionJob &job, const TConversionResult &result);
