#pragma once

#include "app/core/UserInterface.h"

#include <QPointer>

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

    // The window that is disabled during long work and owns the dialogs.
    void SetMainWindow(QWidget *mainWindow) { MainWindow = mainWindow; }

    void ShowMessage(const QString &text) override;
    bool AskYesNo(const QString &caption, const QString &text) override;

    void SetMainWindowEnabled(bool enabled) override;
    void SetBusyCursor(bool busy) override;

    void ShowProgress(const QString &caption, const QString &label, bool cancelVisible,
                      bool *cancelFlag) override;
    void SetProgressLabel(const QString &label) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressPosition(int position) override;
    void CloseProgress() override;

    void ProcessMessages() override;

    QString ChooseOpenFile(const TFileDialogRequest &request) override;
    QString ChooseSaveFile(const TFileDialogRequest &request) override;

    // The progress window while one is open, else null.
    TForm4 *ProgressWindow() const { return Progress.get(); }

private:
    QWidget *BoxOwner() const;

    QPointer<QWidget> MainWindow;
    std::unique_ptr<TForm4> Progress;
    bool Busy = false;
};
