#pragma once

#include "commands/UserInterface.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSize>

#include <memory>

class QWidget;
class TForm4;

// The window program's side of TUserInterface: message boxes, the progress
// window, the main window's enabled state, the hourglass and the file dialogs.
class TWindowUserInterface : public TUserInterface
{
public:
    explicit TWindowUserInterface(QWidget *mainWindow);
    ~TWindowUserInterface() override;

    void ShowMessage(const QString &text) override;
    // The detail is the box's second paragraph, shown without a click.
    void ShowMessageDetail(const QString &text, const QString &detail) override;
    bool AskYesNo(const QString &caption, const QString &text) override;

    void SetMainWindowEnabled(bool enabled) override;
    void SetBusyCursor(bool busy) override;

    void ShowProgress(const QString &caption, const QString &label, bool cancelVisible) override;
    void SetProgressLabel(const QString &label) override;
    void CloseProgress() override;
    TProgressPort &ProgressBar() override { return Bar; }

    void ProcessMessages() override;
    // The work runs on a thread of its own; this one handles the window
    // messages every few milliseconds, moves the bar to the work's steps (Qt's
    // busy bar until the work gives a maximum) and passes the cancel button on.
    void RunInBackground(const std::function<void(TProgressPort &progress)> &work) override;

    QString ChooseOpenFile(const TFileDialogRequest &request) override;
    QString ChooseSaveFile(const TFileDialogRequest &request) override;

    // The size of the open and save dialogs: invalid until the user changed
    // it (the dialogs then open at a size wide enough for long names).
    QSize FileDialogSize;

    // The progress window while one is open, else null.
    TForm4 *ProgressWindow() const { return Progress.get(); }

    // A progress step handles pending window messages when this many
    // milliseconds have passed since they were last handled (the first step
    // after the progress window opens always does); 0: at every step.
    void SetMessageInterval(qint64 milliseconds) { MessageInterval = milliseconds; }

protected:
    // The window that is disabled during long work and owns the dialogs.
    QPointer<QWidget> MainWindow;

private:
    // The progress window's bar; its steps process pending window messages.
    class TBar : public TProgressPort
    {
    public:
        explicit TBar(TWindowUserInterface &owner) : Owner(owner) {}
        void SetMaximum(int maximum) override;
        void Step(int position) override;
        bool Cancelled() const override { return Owner.Progress && Owner.CancelPressed; }

    private:
        TWindowUserInterface &Owner;
    };

    QWidget *BoxOwner() const;

    TBar Bar{*this};
    // Set by the open progress window's cancel button.
    bool CancelPressed = false;
    // Since pending messages were last handled; invalid before the first time.
    QElapsedTimer SinceMessages;
    qint64 MessageInterval;

    std::unique_ptr<TForm4> Progress;
    bool Busy = false;
};
