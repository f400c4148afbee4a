#include "export/TextWriter.h"

#include "app/core/Errors.h"
#include "export/ExportContext.h"
#include "app/core/Messages.h"
#include "app/core/UserInterface.h"
#include "export/AtomicFile.h"
#include "export/CoordinateLine.h"
#include "export/FileOutput.h"
#include "export/OutputStream.h"
#include "export/ProgressStepper.h"

#include <QDir>

namespace {

class TTextWriter : public TFormatWriter
{
public:
    bool Write(const TExportContext &context, QIODevice &device) override
    {
        TProgressStepper progress(context.Progress, context.SegmentCount);
        TOutputStream out(device);
        TCoordinateLine line(context, "\r\n");
        for (std::int32_t i = 0; i < context.SegmentCount && !out.Failed(); ++i) {
            out.Append(line.Data(), line.Build(context.Segments[i]));
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

TWriteResult SaveData1(const TExportContext &context, TUserInterface &ui, const QString &fileName)
{
    const QString path =
        FindOutputFormat(SaveFormatText)->WrittenFileName(fileName, context.Settings);
    TAtomicFile file(path);
    if (!OpenOutputFile(file))
        throw EFileError(QStringLiteral("ファイル %1 を作成できません。\n%2")
                             .arg(QDir::toNativeSeparators(path), file.Reason()));
    TTextWriter writer;
    if (!WriteOutputFile(file, writer, context)) {
        ui.ShowMessage(Messages::SaveFailed());
        return WriteFailed;
    }
    return WriteDone;
}
