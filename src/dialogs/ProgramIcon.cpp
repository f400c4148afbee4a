#include "dialogs/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>

namespace {

// The drawing on a size x size transparent device; the figures are on a grid
// of 32 (data/icons/trazbit.svg draws the same).
void PaintIcon(QPaintDevice &device, int size)
{
    QPainter painter(&device);
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
}

QPixmap PaintIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    PaintIcon(pixmap, size);
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

QImage ProgramIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    PaintIcon(image, size);
    return image;
}
