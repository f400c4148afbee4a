#pragma once

#include "commands/UserInterface.h"

// Does nothing and answers No: the commands timed without any window.
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
