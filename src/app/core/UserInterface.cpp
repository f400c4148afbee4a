#include "app/core/UserInterface.h"

TUserInterface::~TUserInterface() = default;

void TUserInterface::ShowMessageDetail(const QString &text, const QString &)
{
    ShowMessage(text);
}

namespace {

// Steps go nowhere; the cancel is the bar's.
class TQuietSteps : public TProgressPort
{
public:
    explicit TQuietSteps(const TProgressPort &bar) : Bar(bar) {}
    void SetMaximum(int) override {}
    void Step(int) override {}
    bool Cancelled() const override { return Bar.Cancelled(); }

private:
    const TProgressPort &Bar;
};

} // namespace

void TUserInterface::RunInBackground(const std::function<void(TProgressPort &progress)> &work)
{
    TQuietSteps steps(ProgressBar());
    work(steps);
}
