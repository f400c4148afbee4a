#include "dialogs/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap PaintIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    // The sheet.
    painter.setPen(QPen(QColor(60, 60, 60), 1.0 * s));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(3 * s, 2 * s, 26 * s, 28 * s));
    // The traced segments.
    painter.setPen(QPen(QColor(0, 70, 200), 2.0 * s, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(7 * s, 25 * s), QPointF(25 * s, 25 * s));
    painter.drawLine(QPointF(7 * s, 25 * s), QPointF(7 * s, 8 * s));
    painter.drawLine(QPointF(7 * s, 8 * s), QPointF(25 * s, 25 * s));
    painter.drawLine(QPointF(14 * s, 8 * s), QPointF(25 * s, 8 * s));
    return pixmap;
}

} // namespace

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(PaintIcon(size));
    return icon;
}
