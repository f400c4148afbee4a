#include "cli/CliProgress.h"

#include <QFileInfo>

#include <algorithm>

namespace {
constexpr int kBarWidth = 30;
}

TCliProgress::TCliProgress(const QString &inputName, std::FILE *progressStream)
    : InputName(QFileInfo(inputName).fileName()), Stream(progressStream)
{
}

TCliProgress::~TCliProgress()
{
    Clear();
}

void TCliProgress::ShowProgress(const QString &, const QString &label, bool)
{
    Open = true;
    Label = label;
    Maximum = 100;
    Position = 0;
    Draw(true);
}

void TCliProgress::SetProgressLabel(const QString &label)
{
    Label = label;
    Draw(true);
}

void TCliProgress::TBar::SetMaximum(int maximum)
{
    Owner.Maximum = maximum;
    Owner.Draw(false);
}

void TCliProgress::TBar::Step(int position)
{
    Owner.Position = position;
    Owner.Draw(false);
}

void TCliProgress::CloseProgress()
{
    Clear();
    Open = false;
}

void TCliProgress::Draw(bool force)
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

void TCliProgress::Clear()
{
    if (Stream && DrawnPermille >= 0) {
        std::fprintf(Stream, "\r\033[K");
        std::fflush(Stream);
    }
    DrawnPermille = -1;
}
