#pragma once

#include "base/ProgressPort.h"

#include <QString>

#include <functional>

// What a file dialog is asked to show. The folder is where it starts; Filter is
// the program's filter text ("座標ﾌｧｲﾙ(*.txt)|*.txt|DXFﾌｧｲﾙ(*.dxf)|*.dxf|...":
// description and pattern pairs separated by "|"); FilterIndex counts from 1.
struct TFileDialogRequest
{
    QString Folder;
    QString FileName;
    QString Filter;
    QString DefaultExtension;
    int FilterIndex = 1;
};

// The progress of a long command, as both shells show it: the window program
// in its progress window, the command line as a bar on a terminal. Long work
// itself sees only the port of the bar (ProgressBar()).
class TProgressDisplay
{
public:
    virtual ~TProgressDisplay();

    // ShowProgress opens the display; its cancel button, when visible and
    // there is one, cancels the progress bar and hides the window.
    // CloseProgress closes it. Calls without an open display are ignored.
    virtual void ShowProgress(const QString &caption, const QString &label, bool cancelVisible) = 0;
    virtual void SetProgressLabel(const QString &label) = 0;
    virtual void CloseProgress() = 0;
    // The bar: cancelled from the cancel button's press until the display closes.
    virtual TProgressPort &ProgressBar() = 0;

    // Runs long work that reports to the port it is given (reading a picture),
    // returning when it ends and passing on what it throws. The window program
    // runs it on another thread while its own windows are repainted, the
    // port's steps move the bar and the cancel button reaches Cancelled();
    // by default it runs at once, its steps on the progress bar.
    virtual void RunInBackground(const std::function<void(TProgressPort &progress)> &work);
};

// The window program's services beyond progress: message boxes, questions,
// the main window's state, the message pump and the file dialogs. The commands
// use them only when a window drives them; the command line has none.
class TUserInterface : public TProgressDisplay
{
public:
    // An information message box with one of the program's fixed texts.
    virtual void ShowMessage(const QString &text) = 0;
    // The same with a detail under it (the file and the reason of a failure);
    // whoever shows no details shows the text alone.
    virtual void ShowMessageDetail(const QString &text, const QString &detail);
    // A Yes/No question with the question icon; true only for Yes.
    virtual bool AskYesNo(const QString &caption, const QString &text) = 0;

    // Main window enabled or disabled while a conversion, save or copy runs.
    virtual void SetMainWindowEnabled(bool enabled) = 0;
    // Hourglass cursor on or off.
    virtual void SetBusyCursor(bool busy) = 0;

    // Let pending window messages (repaints, the cancel button) be handled.
    virtual void ProcessMessages() = 0;

    // The open dialog (existing file and folder, read-only option hidden) and the
    // save dialog (asks before overwriting, folder must exist). The full path of
    // the chosen file, or an empty text when the user cancels.
    virtual QString ChooseOpenFile(const TFileDialogRequest &request) = 0;
    virtual QString ChooseSaveFile(const TFileDialogRequest &request) = 0;
};
