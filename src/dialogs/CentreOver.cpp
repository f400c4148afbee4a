#include "dialogs/CentreOver.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

void CentreOver(QWidget &window, const QWidget *owner)
{
    if (!owner)
        return;
    const QRect ownerFrame = owner->frameGeometry();
    QSize windowFrame = window.frameGeometry().size();
    // A window not shown yet has no frame; it will get one like its owner's.
    if (windowFrame == window.size())
        windowFrame += ownerFrame.size() - owner->size();
    int left = ownerFrame.left() + (ownerFrame.width() - windowFrame.width()) / 2;
    int top = ownerFrame.top() + (ownerFrame.height() - windowFrame.height()) / 2;
    // An owner near the screen's edge would push the window partly off it:
    // keep it on the owner's screen, its title bar first.
    if (const QScreen *screen = owner->screen()) {
        const QRect free = screen->availableGeometry();
        left = std::max(free.left(), std::min(left, free.right() + 1 - windowFrame.width()));
        top = std::max(free.top(), std::min(top, free.bottom() + 1 - windowFrame.height()));
    }
    window.move(left, top);
}
