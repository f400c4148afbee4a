#include "dialogs/CentreOver.h"

#include <QWidget>

void CentreOver(QWidget &window, const QWidget *owner)
{
    if (!owner)
        return;
    const QRect ownerFrame = owner->frameGeometry();
    QSize windowFrame = window.frameGeometry().size();
    // A window not shown yet has no frame; it will get one like its owner's.
    if (windowFrame == window.size())
        windowFrame += ownerFrame.size() - owner->size();
    window.move(ownerFrame.left() + (ownerFrame.width() - windowFrame.width()) / 2,
                ownerFrame.top() + (ownerFrame.height() - windowFrame.height()) / 2);
}
