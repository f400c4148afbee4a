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

// The window services the core's commands need from whoever drives them: the
// window program, the command line or a test. The core never touches a widget;
// it asks through this. Long work itself sees only the progress port of the
// progress window (ProgressBar()).
class TUserInterface
{
public:
    virtual ~TUserInterface();

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

    // The progress window. ShowProgress creates and shows it; its cancel button,
    // when visible, cancels the progress bar and hides the window. CloseProgress
    // hides and destroys it. Calls without an open progress window are ignored.
    virtual void ShowProgress(const QString &caption, const QString &label, bool cancelVisible) = 0;
    virtual void SetProgressLabel(const QString &label) = 0;
    virtual void CloseProgress() = 0;
    // The bar of the progress window: its steps process pending messages, and
    // it is cancelled from the cancel button's press until the window closes.
    virtual TProgressPort &ProgressBar() = 0;

    // Let pending window messages (repaints, the cancel button) be handled.
    virtual void ProcessMessages() = 0;

    // Runs long work that reports to the port it is given (reading a picture),
    // returning when it ends and passing on what it throws. The window program
    // runs it on another thread while its own windows are repainted, the
    // port's steps move the bar and the cancel button reaches Cancelled();
    // by default it runs at once, its steps on the progress bar.
    virtual void RunInBackground(const std::function<void(TProgressPort &progress)> &work);

    // The open dialog (existing file and folder, read-only option hidden) and the
    // save dialog (asks before overwriting, folder must exist). The full path of
    // the chosen file, or an empty text when the user cancels.
    virtual QString ChooseOpenFile(const TFileDialogRequest &request) = 0;
    virtual QString ChooseSaveFile(const TFileDialogRequest &request) = 0;
};

// Does nothing and answers No: for callers that want no interaction at all.
class TSilentUserInterface : public TUserInterface
{
public:
    void ShowMessage(const QString &) override {}
    bool AskYesNo(const QString &, const QString &) override { return false; }
    void SetMainWindowEnabled(bool) override {}
    void SetBusyCursor(bool) override {}
    void ShowProgress(const QString &, const QString &, bool) override {}
    void SetProgressLabel(const QString &) override {}
    void CloseProgress() override {}
    TProgressPort &ProgressBar() override { return Bar; }
    void ProcessMessages() override {}
    QString ChooseOpenFile(const TFileDialogRequest &) override { return QString(); }
    QString ChooseSaveFile(const TFileDialogRequest &) override { return QString(); }

private:
    TNoProgress Bar;
};
