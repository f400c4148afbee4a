#include "dialogs/ProgressWindow.h"
#include "base/Messages.h"

#include "dialogs/CentreOver.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include <algorithm>

namespace {
constexpr int kClientWidth = 224;
constexpr int kClientHeight = 78;
} // namespace

TForm4::TForm4(QWidget *owner, bool *cancelFlag)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                           | Qt::WindowTitleHint),
      CancelFlag(cancelFlag),
      Owner(owner)
{
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    Button1 = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);

    setWindowTitle(Messages::Loading());
    FitCaption();

    // Stack above the owner like an owned window without being its child.
    if (owner && owner->windowHandle()) {
        winId();
        if (QWindow *window = windowHandle())
            window->setTransientParent(owner->windowHandle());
    }
    CentreOver(*this, owner);
}

void TForm4::Button1Click()
{
    if (CancelFlag)
        *CancelFlag = true;
    hide();
}

void TForm4::FitCaption()
{
    // Window frames draw the title bold and often larger than the program's
    // font, beside an icon and up to three buttons: room for a fifth more
    // text and 110 pixels.
    QFont title = font();
    title.setBold(true);
    const int text = QFontMetrics(title).horizontalAdvance(windowTitle());
    const int width = std::max(kClientWidth, text * 6 / 5 + 110);
    const bool moved = width != this->width();
    setFixedSize(width, kClientHeight);
    Label1->setGeometry(8, 6, width - 16, 18);
    ProgressBar1->setGeometry(8, 27, width - 16, 16);
    Button1->setGeometry((width - 80) / 2, 48, 80, 24);
    if (moved && Owner)
        CentreOver(*this, Owner);
}

void TForm4::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange || event->type() == QEvent::FontChange)
        FitCaption();
}

void TForm4::closeEvent(QCloseEvent *event)
{
    // The close box is greyed: the frame (or Alt+F4) cannot close the window.
    event->ignore();
}
