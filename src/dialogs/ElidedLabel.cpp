#include "dialogs/ElidedLabel.h"

#include <QPainter>
#include <QStyle>

TElidedLabel::TElidedLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {}

QSize TElidedLabel::sizeHint() const
{
    return QSize(minimumWidth(), QLabel::sizeHint().height());
}

QSize TElidedLabel::minimumSizeHint() const
{
    return QSize(minimumWidth(), QLabel::minimumSizeHint().height());
}

QString TElidedLabel::ShownText() const
{
    const int room = contentsRect().width() - 2 * margin() - (indent() > 0 ? indent() : 0);
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, std::max(room, 0));
}

void TElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), ShownText(), foregroundRole());
}
