#include "export/ExportDriver.h"

#include "app/core/DecimalText.h"
#include "app/core/Errors.h"
#include "export/ClipboardText.h"
#include "export/DxfWriter.h"
#include "export/ExportContext.h"
#include "export/JwcWriter.h"
#include "export/SaveFileName.h"
#include "export/TextWriter.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>

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
        UI.ShowProgress(caption, label, false, nullptr);
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

std::filesystem::path FileSystemPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace

TExportDriver::TExportDriver(TScanState &state, TSettings &settings, TUserInterface &ui,
                             TClipboardTarget &clipboard, const QString &programFolder)
    : State(state), Settings(settings), UI(ui), Clipboard(clipboard),
      ProgramFolderPath(programFolder)
{
}

TExportOutcome TExportDriver::Check(const QString &magnificationText)
{
    const std::optional<float> magnification = ParseFloat(magnificationText);
    if (!magnification) {
        UI.ShowMessage(QStringLiteral("数値が無効です。"));
        return TExportOutcome::InvalidMagnification;
    }
    State.Magnification = *magnification;
    if (!State.DataConverted) {
        UI.ShowMessage(QStringLiteral("ファイルが開いてません。"));
        return TExportOutcome::NotConverted;
    }
    if (State.SegmentCount == 0
        && !UI.AskYesNo(QStringLiteral("確認"), QStringLiteral("線の本数が０です。\n\r保存しますか。")))
        return TExportOutcome::Declined;
    return TExportOutcome::Done;
}

bool TExportDriver::MayReplace(const QString &chosen, const QString &written)
{
    if (written == chosen || !QFileInfo::exists(written))
        return true;
    // The dialog asked about the chosen name; on a file system that ignores
    // case it may be the very same file.
    std::error_code error;
    if (QFileInfo::exists(chosen)
        && std::filesystem::equivalent(FileSystemPath(chosen), FileSystemPath(written), error))
        return true;
    return UI.AskYesNo(QStringLiteral("確認"),
                       QStringLiteral("%1は既に存在します。\n\r上書きしますか。")
                           .arg(FileNamePart(written)));
}

TExportOutcome TExportDriver::SaveCommand(const QString &magnificationText)
{
    const QString pictureName = FileNamePart(State.SourceFileName);
    const TExportOutcome checked = Check(magnificationText);
    if (checked != TExportOutcome::Done)
        return checked;

    const QString extension = Settings.FileExtention;
    TFileDialogRequest request;
    request.Filter = QStringLiteral("座標ﾌｧｲﾙ(*.") + extension + QStringLiteral(")|*.") + extension
        + QStringLiteral("|DXFﾌｧｲﾙ(*.dxf)|*.dxf|JW_CADﾌｧｲﾙ(*.jwc)|*.jwc");
    switch (Settings.SaveMode) {
    case SaveFormatDxf:
        request.FileName = ReplaceExtension(pictureName, QStringLiteral(".dxf"));
        request.DefaultExtension = QStringLiteral("dxf");
        request.FilterIndex = 2;
        break;
    case SaveFormatJwc:
        request.FileName = ReplaceExtension(pictureName, QStringLiteral(".jwc"));
        request.DefaultExtension = QStringLiteral("jwc");
        request.FilterIndex = 3;
        break;
    default:
        request.FileName = ReplaceExtension(pictureName, QLatin1Char('.') + extension);
        request.DefaultExtension = extension;
        request.FilterIndex = 1;
        break;
    }
    request.Folder = !Settings.SaveDir.isEmpty() && QFileInfo(Settings.SaveDir).isDir()
        ? Settings.SaveDir
        : ProgramFolderPath;

    const QString chosen = UI.ChooseSaveFile(request);
    if (chosen.isEmpty())
        return TExportOutcome::Cancelled;
    const int format = SaveFormatOf(chosen);
    if (!MayReplace(chosen, WrittenFileName(chosen, format, extension)))
        return TExportOutcome::Cancelled;
    Settings.SaveMode = format;

    int result = 1;
    try {
        result = SaveData(chosen, format);
    } catch (const ETrazbitError &error) {
        UI.ShowMessage(error.Message());
        return TExportOutcome::Failed;
    }
    Settings.SaveDir = QDir::toNativeSeparators(QFileInfo(chosen).absolutePath());
    return result == 0 ? TExportOutcome::Done : TExportOutcome::Failed;
}

int TExportDriver::SaveData(const QString &fileName, int format)
{
    UI.ProcessMessages();
    QString label = FileNamePart(fileName) + QStringLiteral("を");
    switch (format) {
    case SaveFormatDxf:
        label += QStringLiteral("DXF形式で保存中");
        break;
    case SaveFormatJwc:
        label += QStringLiteral("JWC形式で保存中");
        break;
    default:
        label += Settings.FileExtention + QStringLiteral("形式で保存中");
        break;
    }

    int result;
    {
        TBusySpan busy(UI, QStringLiteral("保存中・・・"), label);
        const TExportContext context(State, Settings, UI, ProgramFolderPath);
        switch (format) {
        case SaveFormatDxf:
            result = SaveData2(context, fileName);
            break;
        case SaveFormatJwc:
            result = SaveData3(context, fileName);
            break;
        default:
            result = SaveData1(context, fileName);
            break;
        }
    }
    if (result == 0)
        UI.ShowMessage(QStringLiteral("保存が終了しました。"));
    return result;
}

TExportOutcome TExportDriver::CopyCommand(int tag, const QString &magnificationText)
{
    const TExportOutcome checked = Check(magnificationText);
    if (checked != TExportOutcome::Done)
        return checked;

    int result = 1;
    {
        TBusySpan busy(UI, QStringLiteral("クリップボードへコピー中・・・"), QString());
        const TExportContext context(State, Settings, UI, ProgramFolderPath);
        if (tag == 1) {
            UI.SetProgressLabel(QStringLiteral("座標形式"));
            result = SaveData4(context, Clipboard);
        } else if (tag == 2) {
            UI.SetProgressLabel(QStringLiteral("JWTran形式"));
            result = SaveData5(context, Clipboard);
        }
    }
    if (result != 0)
        return TExportOutcome::Failed;
    UI.ShowMessage(QStringLiteral("コピーが終了しました。"));
    return TExportOutcome::Done;
}
