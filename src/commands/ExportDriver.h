#pragma once

#include "base/Settings.h"
#include "commands/MainWindowState.h"
#include "commands/UserInterface.h"
#include "export/ClipboardTarget.h"
#include "export/OutputFormats.h"
#include "scan/ScanState.h"

#include <QString>

// How a save or copy command ended, for the window that started it.
enum class TExportOutcome
{
    Done,                  // written or copied, completion message shown
    Failed,                // the writer or the clipboard failed; its message was shown
    InvalidMagnification,  // "数値が無効です。" shown: put the focus back into the box
    NotConverted,          // "ファイルが開いてません。" shown
    Declined,              // zero segments and the user did not say Yes
    Cancelled,             // save dialog cancelled, or an overwrite declined
};

// The save command and the clipboard command of the main window, without the
// window: every check, question, dialog request, progress window and message
// goes through the user interface.
class TExportDriver
{
public:
    // `result` is the last conversion's; `window` holds its converted flag and
    // file name, and takes the magnification of every command.
    TExportDriver(const TScanState &result, TMainWindowState &window, TSettings &settings,
                  TUserInterface &ui, TClipboardTarget &clipboard, const QString &programFolder);

    // The save command. `magnificationText` is the magnification box's text;
    // it replaces Magnification first of all. An error escaping a writer (a
    // coordinate file that cannot be created, an unreadable or short
    // "dxf.hed") passes on to the caller, for the application's top-level
    // error report, after the windows are restored; SaveDir then keeps its
    // value.
    TExportOutcome SaveCommand(const QString &magnificationText);
    // Progress window, main window disabled, the save duty of `format`'s row
    // (SaveData1 to SaveData3), everything restored, "保存が終了しました。" when
    // written. Returns the writer's result; an error escaping the writer passes
    // through, after the windows are restored.
    TWriteResult SaveData(const QString &fileName, const TOutputFormat &format);

    // The clipboard command: tag 1 the coordinate form, tag 2 the JW_CAD form.
    TExportOutcome CopyCommand(int tag, const QString &magnificationText);

    // The clipboard text of a tag (1 coordinate form, 2 JW_CAD form), or nullptr.
    static const TOutputFormat *ClipboardFormat(int tag);

    // Threads a writer may use in all (1, the default: only the caller's);
    // the bytes written are the same for every count.
    void SetThreads(int threads) { Threads = threads < 1 ? 1 : threads; }

private:
    // The checks both commands start with (magnification, converted, zero
    // segments); Done when the command may go on.
    TExportOutcome Check(const QString &magnificationText);
    // When the writer would replace a file other than the one the dialog
    // asked about: true to go on.
    bool MayReplace(const QString &chosen, const QString &written);

    const TScanState &State;
    TMainWindowState &Window;
    TSettings &Settings;
    TUserInterface &UI;
    TClipboardTarget &Clipboard;
    QString ProgramFolderPath;
    int Threads = 1;
};
