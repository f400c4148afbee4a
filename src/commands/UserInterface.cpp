#include "commands/UserInterface.h"

TUserInterface::~TUserInterface() = default;

void TUserInterface::ShowMessageDetail(const QString &text, const QString &)
{
    ShowMessage(text);
}

void TUserInterface::RunInBackground(const std::function<void(TProgressPort &progress)> &work)
{
    // Without a window to keep alive the work runs here, its steps on the bar.
    work(ProgressBar());
}
