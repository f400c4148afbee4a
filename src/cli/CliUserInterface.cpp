#include "cli/CliUserInterface.h"

#include <QFileInfo>

#include <algorithm>

namespace {
constexpr int kBarWidth = 30;
}

TCliUserInterface::TCliUserInterface(const QString &inputName, std::FILE *progressStream)
    : InputName(QFileInfo(inputName).fileName()), Stream(progressStream)
{
}

TCliUserInterface::~TCliUserInterface()
{
    Clear();
}

void TCliUserInterface::ShowMessage(const QString &text)
{
    ShownMessages << text;
}

bool TCliUserInterface::AskYesNo(const QString &, const QString &)
{
    return true;
}

void TCliUserInterface::ShowProgress(const QString &, const QString &label, bool)
{
    Open = true;
    Label = label;
    Maximum = 100;
    Position = 0;
    Draw(true);
}

void TCliUserInterface::SetProgressLabel(const QString &label)
{
    Label = label;
    Draw(true);
}

void TCliUserInterface::TBar::SetMaximum(int maximum)
{
    Owner.Maximum = maximum;
    Owner.Draw(false);
}

void TCliUserInterface::TBar::Step(int position)
{
    Owner.Position = position;
    Owner.Draw(false);
}

void TCliUserInterface::CloseProgress()
{
    Clear();
    Open = false;
}

void TCliUserInterface::Draw(bool force)
{
    if (!Stream || !Open)
        return;
    const int permille = Maximum > 0 ? static_cast<int>(std::clamp(
                             static_cast<long long>(Position) * 1000 / Maximum, 0LL, 1000LL))
                                     : 0;
    if (!force && permille / 10 == DrawnPermille / 10)
        return;
    DrawnPermille = permille;
    const int filled = permille * kBarWidth / 1000;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(kBarWidth - filled, '-');
    const QString &title = Label.isEmpty() ? InputName : Label;
    std::fprintf(Stream, "\r\033[K%s [%s] %3d%%", title.toUtf8().constData(),
                 bar.constData(), permille / 10);
    std::fflush(Stream);
}

void TCliUserInterface::Clear()
{
    if (Stream && DrawnPermille >= 0) {
        std::fprintf(Stream, "\r\033[K");
        std::fflush(Stream);
    }
    DrawnPermille = -1;
}
