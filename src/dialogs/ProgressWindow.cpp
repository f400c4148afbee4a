#include "dialogs/ProgressWindow.h"
#include "app/core/Messages.h"

#include "dialogs/CentreOver.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

TForm4::TForm4(QWidget *owner, bool *cancelFlag)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                           | Qt::WindowTitleHint),
      CancelFlag(cancelFlag)
{
    setWindowTitle(Messages::Loading());
    setFixedSize(224, 78);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 6, 208, 18);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(8, 27, 208, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    Button1 = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(72, 48, 80, 24);
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);

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

void TForm4::closeEvent(QCloseEvent *event)
{
    // The close box is greyed: the frame (or Alt+F4) cannot close the window.
    event->ignore();
}
