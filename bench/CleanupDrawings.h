#pragma once

// Made-up line drawings for measuring the clean-up: strokes of several widths
// at many angles, arcs and circles, text, small filled blocks and specks of
// noise, drawn black on white without smoothing (a clean scan), or smoothed in
// dark grey on light grey paper with noise (a grey scan, to be saved as JPEG).
// Needs a QGuiApplication for the text.

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>
#include <random>

struct TDrawingStyle
{
    bool Grey = false;   // smoothed dark grey ink on grey paper, with noise
    bool Specks = true;  // scatter specks of one to four pixels
};

// One drawing sheet of about 3000 x 2100 pixels, drawn at (ox, oy).
inline void DrawSheet(QPainter &p, int ox, int oy, unsigned seed, const TDrawingStyle &style)
{
    std::mt19937 random(seed);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    const QColor ink = style.Grey ? QColor(70, 70, 70) : QColor(0, 0, 0);
    auto pen = [&](double width) {
        QPen pn(ink, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        p.setPen(pn);
        p.setBrush(Qt::NoBrush);
    };
    p.save();
    p.translate(ox, oy);
    // Frame.
    pen(6);
    p.drawRect(QRectF(40, 40, 2920, 2020));
    // Strokes of five widths at 16 angles, in a fan per width.
    const double widths[] = {1, 2, 3, 5, 8};
    for (int wi = 0; wi < 5; ++wi) {
        const double cx = 300 + 560 * wi, cy = 420;
        for (int a = 0; a < 16; ++a) {
            const double angle = (a * 11.25 + (a % 3)) * std::numbers::pi / 180;
            const double r0 = 60, r1 = 260 + 20 * (a % 4);
            pen(widths[wi]);
            p.drawLine(QPointF(cx + r0 * std::cos(angle), cy - r0 * std::sin(angle)),
                       QPointF(cx + r1 * std::cos(angle), cy - r1 * std::sin(angle)));
        }
    }
    // Long nearly level and nearly upright lines.
    for (int i = 0; i < 6; ++i) {
        pen(widths[i % 5]);
        const double y = 760 + 30 * i, slope = std::tan((0.5 + i * 0.7) * std::numbers::pi / 180);
        p.drawLine(QPointF(100, y), QPointF(2900, y + 2800 * slope));
        p.drawLine(QPointF(2800 - 25 * i, 780), QPointF(2800 - 25 * i - 1100 * slope, 1880));
    }
    // Circles and arcs.
    for (int i = 0; i < 14; ++i) {
        pen(widths[i % 5]);
        const double r = uniform(30, 260);
        const QRectF box(uniform(300, 2400) - r, uniform(1050, 1750) - r, 2 * r, 2 * r);
        if (i % 2)
            p.drawEllipse(box);
        else
            p.drawArc(box, int(uniform(0, 360)) * 16, int(uniform(60, 300)) * 16);
    }
    // A polyline room plan with doors.
    pen(3);
    QPainterPath plan;
    plan.moveTo(120, 1150);
    plan.lineTo(120, 1900);
    plan.lineTo(900, 1900);
    plan.lineTo(900, 1500);
    plan.lineTo(600, 1500);
    plan.lineTo(600, 1150);
    plan.closeSubpath();
    p.drawPath(plan);
    p.drawLine(QPointF(120, 1500), QPointF(600, 1500));
    p.drawArc(QRectF(300, 1350, 300, 300), 90 * 16, 90 * 16);
    // Text of several sizes.
    QFont font(QStringLiteral("DejaVu Sans"));
    for (int i = 0; i < 5; ++i) {
        font.setPixelSize(18 + 12 * i);
        font.setBold(i % 2);
        p.setFont(font);
        p.setPen(ink);
        p.drawText(QPointF(1000, 1980 - 60 * (4 - i)), QStringLiteral("TRAZBIT A-%1 SCALE 1:%2 PLAN 4.20").arg(i).arg(50 * (i + 1)));
    }
    // Small filled blocks.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    for (int i = 0; i < 8; ++i)
        p.drawRect(QRectF(uniform(200, 2800), uniform(650, 700), uniform(8, 40), uniform(8, 40)));
    p.restore();
    if (style.Specks) {
        for (int i = 0; i < 300; ++i) {
            const int x = ox + int(uniform(0, 3000)), y = oy + int(uniform(0, 2100));
            p.fillRect(QRect(x, y, int(uniform(1, 2.99)), int(uniform(1, 2.99))), ink);
        }
    }
}

// A drawing of the given size, the sheet repeated to fill it, as an 8-bit
// grey picture (clean: only 0 and 255).
inline QImage MakeDrawing(int width, int height, const TDrawingStyle &style)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(style.Grey ? QColor(232, 232, 232) : Qt::white);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, style.Grey);
        p.setRenderHint(QPainter::TextAntialiasing, style.Grey);
        unsigned seed = 1;
        for (int y = 0; y + 2100 <= height || y == 0; y += 2100)
            for (int x = 0; x + 3000 <= width || x == 0; x += 3000)
                DrawSheet(p, x, y, seed++, style);
    }
    if (style.Grey) {
        // Sensor noise and a slightly soft focus.
        std::mt19937 random(99);
        std::normal_distribution<double> noise(0, 6);
        QImage soft = image;
        for (int y = 1; y + 1 < height; ++y) {
            const uchar *a = image.constScanLine(y - 1), *b = image.constScanLine(y), *c = image.constScanLine(y + 1);
            uchar *o = soft.scanLine(y);
            for (int x = 1; x + 1 < width; ++x) {
                const double v = (4.0 * b[x] + b[x - 1] + b[x + 1] + a[x] + c[x]) / 8 + noise(random);
                o[x] = static_cast<uchar>(std::clamp(v, 0.0, 255.0));
            }
        }
        return soft;
    }
    // Drawing without smoothing can still leave a few in-between greys at
    // glyph edges: make it strictly two-valued.
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < width; ++x)
            row[x] = row[x] < 128 ? 0 : 255;
    }
    return image;
}
