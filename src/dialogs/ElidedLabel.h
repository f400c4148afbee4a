#pragma once

#include <QLabel>

// A one-line label that shows a text too long for it cut short in the middle
// at a character boundary, with "…" in place of what is left out; text() stays
// the whole text. It asks the layout for no more room than its minimum width.
class TElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TElidedLabel(const QString &text, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The text as painted at the current width.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
