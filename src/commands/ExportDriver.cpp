#include "commands/ExportDriver.h"

#include "commands/SaveData.h"

#include "base/DecimalText.h"
#include "base/Messages.h"
#include "export/ExportContext.h"
#include "export/FileOutput.h"
#include "export/SaveFileName.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Main window disabled, hourglass and progress window for one writer's span;
// all restored on every way out.
class TBusySpan
{
public:
    TBusySpan(TUserInterface &ui, const QString &caption, const QString &label) : UI(ui)
    {
        UI.SetBusyCursor(true);
        UI.SetMainWindowEnabled(false);
        UI.ShowProgress(caption, label, false);
    }
    ~TBusySpan()
    {
        UI.CloseProgress();
        UI.SetMainWindowEnabled(true);
        UI.SetBusyCursor(false);
    }
    TBusySpan(const TBusySpan &) = delete;
    TBusySpan &operator=(const TBusySpan &) = delete;

private:
    TUserInterface &UI;
};

} // namespace

TExportDriver::TExportDriver(const TScanState &result, TMainWindowState &window, TSettings &settings,
                             TUserInterface &ui, TClipboardTarget &clipboard,
                             const QString &programFolder)
    : State(result), Window(window), Settings(settings), UI(ui), Clipboard(clipboard),
      ProgramFolderPath(programFolder)
{
}

TExportOutcome TExportDriver::Check(const QString &magnificationText)
{
    const std::optional<float> magnification = ParseFloat(magnificationText);
    if (!magnification) {
        UI.ShowMessage(Messages::InvalidNumber());
        return TExportOutcome::InvalidMagnification;
    }
    Window.Magnification = *magnification;
    if (!Window.DataConverted) {
        UI.ShowMessage(Messages::NotConverted());
        return TExportOutcome::NotConverted;
    }
    // A magnification that would carry the drawing out of a float's range is
    // as invalid as one that is not a number.
    if (!TExportContext(State, Window.Magnification, Settings, UI.ProgressBar(), ProgramFolderPath)
             .CoordinatesFit()) {
        UI.ShowMessage(Messages::InvalidNumber());
        return TExportOutcome::InvalidMagnification;
    }
    if (State.SegmentCount == 0
        && !UI.AskYesNo(Messages::Confirm(), Messages::SaveZeroSegments()))
        return TExportOutcome::Declined;
    return TExportOutcome::Done;
}

bool TExportDriver::MayReplace(const QString &chosen, const QString &written)
{
    if (written == chosen || !QFileInfo::exists(written))
        return true;
    // The dialog asked about the chosen name; on a file system that ignores
    // case it may be the very same file.
    if (IsSameFile(chosen, written))
        return true;
    return UI.AskYesNo(Messages::Confirm(),
                       QStringLiteral("%1は既に存在します。\n\r上書きしますか。")
                           .arg(FileNamePart(written)));
}

TExportOutcome TExportDriver::SaveCommand(const QString &magnificationText)
{
    const QString pictureName = FileNamePart(Window.SourceFileName);
    const TExportOutcome checked = Check(magnificationText);
    if (checked != TExportOutcome::Done)
        return checked;

    // The dialog starts on the format of the last save.
    const TOutputFormat *last = FindOutputFormat(Settings.SaveMode);
    if (!last || !last->IsFile())
        last = FindOutputFormat(SaveFormatText);
    TFileDialogRequest request;
    request.Filter = SaveDialogFilter(Settings);
    for (const TOutputFormat &format : OutputFormats()) {
        if (!format.IsFile())
            continue;
        if (&format == last)
            break;
        ++request.FilterIndex;
    }
    request.DefaultExtension = last->Extension(Settings);
    request.FileName = ReplaceExtension(pictureName, QLatin1Char('.') + request.DefaultExtension);
    request.Folder = !Settings.SaveDir.isEmpty() && QFileInfo(Settings.SaveDir).isDir()
        ? Settings.SaveDir
        : ProgramFolderPath;

    const QString chosen = UI.ChooseSaveFile(request);
    if (chosen.isEmpty())
        return TExportOutcome::Cancelled;
    const TOutputFormat &format = OutputFormatForFileName(chosen);
    if (!MayReplace(chosen, format.WrittenFileName(chosen, Settings)))
        return TExportOutcome::Cancelled;
    Settings.SaveMode = format.Mode;

    // An error escaping the writer (a file that cannot be created) passes on
    // to the caller's top-level error report; SaveDir then keeps its value.
    const TWriteResult result = SaveData(chosen, format);
    Settings.SaveDir = QDir::toNativeSeparators(QFileInfo(chosen).absolutePath());
    return result == WriteDone ? TExportOutcome::Done : TExportOutcome::Failed;
}

TWriteResult TExportDriver::SaveData(const QString &fileName, const TOutputFormat &format)
{
    UI.ProcessMessages();
    TWriteResult result;
    {
        TBusySpan busy(UI, Messages::Saving(), format.ProgressLabel(Settings, fileName));
        TExportContext context(State, Window.Magnification, Settings, UI.ProgressBar(),
                               ProgramFolderPath);
        context.Threads = Threads;
        result = SaveFile(format, context, UI, fileName);
    }
    if (result == WriteDone)
        UI.ShowMessage(Messages::Saved());
    return result;
}

const TOutputFormat *TExportDriver::ClipboardFormat(int tag)
{
    switch (tag) {
    case 1: return FindOutputFormat(SaveFormatClipText);
    case 2: return FindOutputFormat(SaveFormatClipJwt);
    default: return nullptr;
    }
}

TExportOutcome TExportDriver::CopyCommand(int tag, const QString &magnificationText)
{
    const TExportOutcome checked = Check(magnificationText);
    if (checked != TExportOutcome::Done)
        return checked;

    const TOutputFormat *format = ClipboardFormat(tag);
    TWriteResult result = WriteFailed;
    {
        TBusySpan busy(UI, Messages::Copying(), QString());
        if (format) {
            UI.SetProgressLabel(format->ProgressLabel(Settings, QString()));
            const TExportContext context(State, Window.Magnification, Settings, UI.ProgressBar(),
                                         ProgramFolderPath);
            result = CopyText(*format, context, UI, Clipboard);
        }
    }
    if (result != WriteDone)
        return TExportOutcome::Failed;
    UI.ShowMessage(Messages::Copied());
    return TExportOutcome::Done;
}
