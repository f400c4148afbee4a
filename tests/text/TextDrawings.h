#pragma once

// Small drawings with printed labels, rendered with the Japanese fonts the
// program uses, as black masks.

#include "scan/BlackMask.h"
#include "support/MaskChecks.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

// A white sheet to draw on.
inline QImage WhiteSheet(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// Writes `text` with its baseline's start at (x, y), letters `pixels` high,
// turned `degrees` counter-clockwise about that point. No anti-aliasing.
inline void Label(QImage &image, const QString &text, int x, int y, int pixels, int degrees = 0)
{
    QPainter painter(&image);
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(pixels);
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.translate(x, y);
    painter.rotate(-degrees);
    painter.drawText(0, 0, text);
}

// A black rectangle, corners included.
inline void Bar(QImage &image, int x0, int y0, int x1, int y1)
{
    QPainter painter(&image);
    painter.fillRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1, Qt::black);
}

// Dark pixels are black.
inline TBlackMask MaskOfImage(const QImage &image)
{
    TBlackMask mask(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                mask.SetBlack(x, y);
    return mask;
}

// Black pixels of the mask inside [x0, x1) x [y0, y1).
inline long long BlackIn(const TBlackMask &mask, int x0, int y0, int x1, int y1)
{
    long long n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += mask.Black(x, y);
    return n;
}
