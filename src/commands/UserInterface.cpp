#include "commands/UserInterface.h"

TProgressDisplay::~TProgressDisplay() = default;

void TProgressDisplay::RunInBackground(const std::function<void(TProgressPort &progress)> &work)
{
    // Without a window to keep alive the work runs here, its steps on the bar.
    work(ProgressBar());
}

void TUserInterface::ShowMessageDetail(const QString &text, const QString &)
{
    ShowMessage(text);
}
