#pragma once

#include "commands/UserInterface.h"

#include <QStringList>

#include <cstdio>

// The command line's side of the core's user interface for one conversion: the
// program's messages are kept (they name the reason of a failure), questions are
// answered Yes (nobody is there to ask), and progress is drawn as a bar on a
// terminal when one is given.
class TCliUserInterface : public TUserInterface
{
public:
    // progressStream: where the bar goes, or nullptr for none.
    TCliUserInterface(const QString &inputName, std::FILE *progressStream);
    ~TCliUserInterface() override;

    void ShowMessage(const QString &text) override;
    bool AskYesNo(const QString &caption, const QString &text) override;
    void SetMainWindowEnabled(bool) override {}
    void SetBusyCursor(bool) override {}
    void ShowProgress(const QString &caption, const QString &label, bool cancelVisible) override;
    void SetProgressLabel(const QString &label) override;
    void CloseProgress() override;
    TProgressPort &ProgressBar() override { return Bar; }
    void ProcessMessages() override {}
    QString ChooseOpenFile(const TFileDialogRequest &) override { return QString(); }
    QString ChooseSaveFile(const TFileDialogRequest &) override { return QString(); }

    const QStringList &Messages() const { return ShownMessages; }

private:
    // Nobody presses cancel on the command line.
    class TBar : public TProgressPort
    {
    public:
        explicit TBar(TCliUserInterface &owner) : Owner(owner) {}
        void SetMaximum(int maximum) override;
        void Step(int position) override;
        bool Cancelled() const override { return false; }

    private:
        TCliUserInterface &Owner;
    };

    void Draw(bool force);
    void Clear();

    TBar Bar{*this};

    QString InputName;
    std::FILE *Stream;
    QStringList ShownMessages;
    QString Label;
    int Maximum = 100;
    int Position = 0;
    int DrawnPermille = -1;
    bool Open = false;
};
