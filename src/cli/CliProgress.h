#pragma once

#include "commands/UserInterface.h"

#include <cstdio>

// The command line's progress for one conversion: a bar drawn on a terminal
// when one is given, titled with the progress label or the input's name.
class TCliProgress : public TProgressDisplay
{
public:
    // progressStream: where the bar goes, or nullptr for none.
    TCliProgress(const QString &inputName, std::FILE *progressStream);
    ~TCliProgress() override;

    void ShowProgress(const QString &caption, const QString &label, bool cancelVisible) override;
    void SetProgressLabel(const QString &label) override;
    void CloseProgress() override;
    TProgressPort &ProgressBar() override { return Bar; }

private:
    // Nobody presses cancel on the command line.
    class TBar : public TProgressPort
    {
    public:
        explicit TBar(TCliProgress &owner) : Owner(owner) {}
        void SetMaximum(int maximum) override;
        void Step(int position) override;
        bool Cancelled() const override { return false; }

    private:
        TCliProgress &Owner;
    };

    void Draw(bool force);
    void Clear();

    TBar Bar{*this};

    QString InputName;
    std::FILE *Stream;
    QString Label;
    int Maximum = 100;
    int Position = 0;
    int DrawnPermille = -1;
    bool Open = false;
};
