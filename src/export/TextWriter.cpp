#include "export/TextWriter.h"

#include "base/Errors.h"
#include "export/ExportContext.h"
#include "export/BlockText.h"
#include "export/CoordinateLine.h"
#include "export/OutputStream.h"
#include "export/ProgressStepper.h"


#include <cstring>
#include <QFile>

namespace {

class TTextWriter : public TFormatWriter
{
public:
    bool Write(const TExportContext &context, QIODevice &device) override
    {
        TProgressStepper progress(context.Progress, context.Result.SegmentCount);
        TOutputStream out(device);
        if (context.Threads > 1) {
            const TCoordinateLine sample(context, "\r\n");
            WriteSegmentText(out, progress, context.Result.SegmentCount, context.Threads, sample.Room(),
                             [&](std::int32_t first, std::int32_t end, char *text) {
                                 TCoordinateLine line(context, "\r\n");
                                 char *p = text;
                                 for (std::int32_t i = first; i < end; ++i) {
                                     const std::size_t n = line.Build(context.Result.Segments()[i]);
                                     std::memcpy(p, line.Data(), n);
                                     p += n;
                                 }
                                 return static_cast<std::size_t>(p - text);
                             });
            return out.Flush();
        }
        TCoordinateLine line(context, "\r\n");
        for (std::int32_t i = 0; i < context.Result.SegmentCount && !out.Failed(); ++i) {
            out.Append(line.Data(), line.Build(context.Result.Segments()[i]));
            progress.Step(i + 1);
        }
        return out.Flush();
    }
};

} // namespace

std::unique_ptr<TFormatWriter> NewTextWriter()
{
    return std::make_unique<TTextWriter>();
}
