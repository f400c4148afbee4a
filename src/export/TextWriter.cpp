#include "export/TextWriter.h"

#include "app/core/Errors.h"
#include "export/CoordinateLine.h"
#include "export/OutputFile.h"
#include "export/ProgressStepper.h"
#include "export/SaveFileName.h"

#include <QDir>

int SaveData1(const TExportContext &context, const QString &fileName)
{
    TProgressStepper progress(context.UI, context.SegmentCount);
    const QString path = WrittenFileName(fileName, SaveFormatText, context.Settings.FileExtention);

    TOutputFile file(path);
    if (!file.Open())
        throw EFileError(QStringLiteral("ファイル %1 を作成できません。\n%2")
                             .arg(QDir::toNativeSeparators(path), file.ErrorText()));

    TCoordinateLine line(context, "\r\n");
    for (std::int32_t i = 0; i < context.SegmentCount; ++i) {
        file.Append(line.Data(), line.Build(context.Segments[i]));
        if (file.Failed())
            break;
        progress.Step(i + 1);
    }
    if (!file.Close()) {
        context.UI.ShowMessage(QStringLiteral("保存できませんでした。"));
        return 1;
    }
    return 0;
}
