#pragma once

#include "commands/UserInterface.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// A user interface that remembers what the core showed and asked, answers
// questions from a preset answer, and can run a hook at every message pump
// (for example to press cancel in the middle of a conversion).
class TRecordingUserInterface : public TUserInterface
{
public:
    void ShowMessage(const QString &text) override { Messages << text; }
    void ShowMessageDetail(const QString &text, const QString &detail) override
    {
        Messages << text;
        Details << detail;
    }
    bool AskYesNo(const QString &caption, const QString &text) override
    {
        Questions << caption + QLatin1Char('|') + text;
        return Answer;
    }
    void SetMainWindowEnabled(bool enabled) override { MainWindowEnabled = enabled; }
    void SetBusyCursor(bool busy) override { BusyCursor = busy; }
    void ShowProgress(const QString &caption, const QString &label, bool cancelVisible) override
    {
        ProgressOpen = true;
        ++ProgressShown;
        ProgressCaption = caption;
        ProgressLabel = label;
        CancelVisible = cancelVisible;
        CancelPressed = false;
        ProgressMaximum = 100;
        ProgressPosition = 0;
    }
    void SetProgressLabel(const QString &label) override
    {
        ProgressLabel = label;
        Labels << label;
    }
    void CloseProgress() override
    {
        ProgressOpen = false;
        CancelPressed = false;
    }
    TProgressPort &ProgressBar() override { return Bar; }
    void ProcessMessages() override
    {
        ++Pumps;
        if (OnProcessMessages)
            OnProcessMessages();
    }

    QString ChooseOpenFile(const TFileDialogRequest &request) override
    {
        OpenRequests.push_back(request);
        return OpenAnswer;
    }
    QString ChooseSaveFile(const TFileDialogRequest &request) override
    {
        SaveRequests.push_back(request);
        return SaveAnswer;
    }

    // Presses the progress window's cancel button (when it shows one).
    void PressCancel()
    {
        if (ProgressOpen && CancelVisible)
            CancelPressed = true;
    }

    QStringList Messages;
    QStringList Details;   // of the messages shown with one
    QStringList Questions;
    QStringList Labels;
    bool Answer = true;
    bool MainWindowEnabled = true;
    bool BusyCursor = false;
    bool ProgressOpen = false;
    int ProgressShown = 0;
    QString ProgressCaption;
    QString ProgressLabel;
    bool CancelVisible = false;
    bool CancelPressed = false;
    int ProgressMaximum = 0;
    int ProgressPosition = 0;
    long long Pumps = 0;
    std::function<void()> OnProcessMessages;
    // What the file dialogs were asked, and what they answer ("" = cancelled).
    std::vector<TFileDialogRequest> OpenRequests;
    std::vector<TFileDialogRequest> SaveRequests;
    QString OpenAnswer;
    QString SaveAnswer;

private:
    // The bar: every step is a round of pending messages; cancelled once the
    // open progress window's cancel button is pressed.
    class TBar : public TProgressPort
    {
    public:
        explicit TBar(TRecordingUserInterface &owner) : Owner(owner) {}
        TBar(const TBar &) = delete;
        // A recording interface assigned anew keeps its own bar.
        TBar &operator=(const TBar &) { return *this; }
        void SetMaximum(int maximum) override { Owner.ProgressMaximum = maximum; }
        void Step(int position) override
        {
            Owner.ProgressPosition = position;
            Owner.ProcessMessages();
        }
        bool Cancelled() const override { return Owner.ProgressOpen && Owner.CancelPressed; }

    private:
        TRecordingUserInterface &Owner;
    };
    TBar Bar{*this};
};
