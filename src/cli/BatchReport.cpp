#include "cli/BatchReport.h"

#include "cli/BatchConverter.h"

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

bool TBatchReport::Open(const QString &path)
{
    File.setFileName(path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        FailureReason = File.errorString();
        return false;
    }
    return true;
}

void TBatchReport::Add(const TConversionJob &job, const TConversionResult &result)
{
    if (!File.isOpen())
        return;
    File.write(ReportLine(job, result) + '\n');
    File.flush();
}
