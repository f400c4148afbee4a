#include "cli/BatchReport.h"

#include "cli/BatchConverter.h"
#include "export/AtomicFile.h"

namespace {

// A JSON string: quotes, backslashes and control characters escaped, the rest
// as UTF-8.
QByteArray JsonString(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += "\\u00" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out + '"';
}

} // namespace

QByteArray ReportLine(const TConversionJob &job, const TConversionResult &result)
{
    const char *status = result.Skipped ? "skipped" : result.Ok ? "ok" : "failed";
    QByteArray line = "{\"input\":" + JsonString(job.Input) + ",\"output\":" + JsonString(job.Output)
        + ",\"status\":\"" + status + "\",\"segments\":"
        + QByteArray::number(result.Skipped || !result.Ok ? 0 : result.SegmentCount)
        + ",\"seconds\":" + QByteArray::number(result.Seconds, 'f', 3);
    if (!result.Ok)
        line += ",\"message\":" + JsonString(result.Reason);
    return line + '}';
}

TBatchReport::TBatchReport() = default;
TBatchReport::~TBatchReport() = default;

bool TBatchReport::Open(const QString &path)
{
    File = std::make_unique<TAtomicFile>(path);
    if (!File->Open()) {
        FailureReason = File->Reason();
        File.reset();
        return false;
    }
    return true;
}

void TBatchReport::Add(const TConversionJob &job, const TConversionResult &result)
{
    if (!File || Failed)
        return;
    const QByteArray line = ReportLine(job, result) + '\n';
    if (File->write(line) != line.size()) {
        Failed = true;
        FailureReason = File->Reason();
    }
}

bool TBatchReport::Finish()
{
    if (!File)
        return true;
    if (Failed) {
        File->Discard();
        return false;
    }
    if (!File->Commit()) {
        FailureReason = File->Reason();
        return false;
    }
    return true;
}
