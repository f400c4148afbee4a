#include "commands/SaveData.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "commands/UserInterface.h"
#include "export/AtomicFile.h"
#include "export/ClipboardText.h"
#include "export/DxfWriter.h"
#include "export/ExportContext.h"
#include "export/FileOutput.h"
#include "export/JwcWriter.h"
#include "export/TextWriter.h"

#include <QDir>

namespace {

TWriteResult Place(TUserInterface &ui, TClipboardTarget &clipboard, const TClipboardText &text)
{
    if (!clipboard.Place(text.Unicode, text.Cp932)) {
        ui.ShowMessage(Messages::CopyFailed());
        return WriteFailed;
    }
    return WriteDone;
}

} // namespace

TWriteResult SaveData1(const TExportContext &context, TUserInterface &ui, const QString &fileName)
{
    const QString path =
        FindOutputFormat(SaveFormatText)->WrittenFileName(fileName, context.Settings);
    TAtomicFile file(path);
    const std::unique_ptr<TFormatWriter> writer = NewTextWriter();
    const TFileFailure failure = WriteOutputFile(file, *writer, context);
    if (failure.Kind == TFileFailure::NotCreated)
        throw EFileError(QStringLiteral("ファイル %1 を作成できません。\n%2")
                             .arg(QDir::toNativeSeparators(path), failure.Reason));
    if (failure.Kind != TFileFailure::None) {
        ui.ShowMessage(Messages::SaveFailed());
        return WriteFailed;
    }
    return WriteDone;
}

TWriteResult SaveData2(const TExportContext &context, TUserInterface &ui, const QString &fileName)
{
    const std::unique_ptr<TFormatWriter> writer = NewDxfWriter();
    TAtomicFile file(FindOutputFormat(SaveFormatDxf)->WrittenFileName(fileName, context.Settings));
    switch (WriteOutputFile(file, *writer, context).Kind) {
    case TFileFailure::None:
        return WriteDone;
    case TFileFailure::HeaderMissing:
        ui.ShowMessage(Messages::DxfHeaderMissing());
        return WriteHeaderMissing;
    default:
        ui.ShowMessage(Messages::SaveFailed());
        return WriteFailed;
    }
}

TWriteResult SaveData3(const TExportContext &context, TUserInterface &ui, const QString &fileName)
{
    TAtomicFile file(FindOutputFormat(SaveFormatJwc)->WrittenFileName(fileName, context.Settings));
    const std::unique_ptr<TFormatWriter> writer = NewJwcWriter();
    if (WriteOutputFile(file, *writer, context).Kind != TFileFailure::None) {
        ui.ShowMessage(Messages::JwcSaveFailed());
        return WriteFailed;
    }
    return WriteDone;
}

TWriteResult SaveData4(const TExportContext &context, TUserInterface &ui, TClipboardTarget &clipboard)
{
    const TClipboardText text = CoordinateClipboardText(context);
    if (!text.Complete)
        ui.ShowMessage(Messages::CopyFailed());
    const TWriteResult copied = Place(ui, clipboard, text);
    return text.Complete ? copied : WriteFailed;
}

TWriteResult SaveData5(const TExportContext &context, TUserInterface &ui, TClipboardTarget &clipboard)
{
    const TClipboardText text = JwTranClipboardText(context);
    if (!text.Complete) {
        ui.ShowMessage(Messages::CopyFailed());
        return WriteFailed;
    }
    return Place(ui, clipboard, text);
}

TWriteResult SaveFile(const TOutputFormat &format, const TExportContext &context, TUserInterface &ui,
                      const QString &chosen)
{
    switch (format.Mode) {
    case SaveFormatText:
        return SaveData1(context, ui, chosen);
    case SaveFormatDxf:
        return SaveData2(context, ui, chosen);
    case SaveFormatJwc:
        return SaveData3(context, ui, chosen);
    default:
        return WriteFailed;
    }
}

TWriteResult CopyText(const TOutputFormat &format, const TExportContext &context, TUserInterface &ui,
                      TClipboardTarget &clipboard)
{
    switch (format.Mode) {
    case SaveFormatClipText:
        return SaveData4(context, ui, clipboard);
    case SaveFormatClipJwt:
        return SaveData5(context, ui, clipboard);
    default:
        return WriteFailed;
    }
}
