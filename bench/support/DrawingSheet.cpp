#include "DrawingSheet.h"

#include "image/LinePixels.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

class TPen
{
public:
    explicit TPen(QImage &image) : Image(image), Width(image.width()), Height(image.height()) {}

    void Dot(int x, int y)
    {
        if (x >= 0 && y >= 0 && x < Width && y < Height)
            Image.scanLine(y)[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
    }
    void Fill(int x0, int y0, int x1, int y1)
    {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, Width - 1);
        y1 = std::min(y1, Height - 1);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                Image.scanLine(y)[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
    }
    // A line `thick` pixels wide (Bresenham, thickened by a square pen).
    void Line(int x0, int y0, int x1, int y1, int thick = 1)
    {
        ForEachLinePixel(x0, y0, x1, y1,
                         [&](int x, int y) { Fill(x, y, x + thick - 1, y + thick - 1); });
    }
    void Circle(int cx, int cy, int r, int thick)
    {
        const int steps = 8 * r;
        for (int i = 0; i < steps; ++i) {
            const double a = 2 * std::numbers::pi * i / steps;
            const int x = cx + static_cast<int>(std::lround(r * std::cos(a)));
            const int y = cy + static_cast<int>(std::lround(r * std::sin(a)));
            Fill(x, y, x + thick - 1, y + thick - 1);
        }
    }

private:
    QImage &Image;
    int Width;
    int Height;
};

void Put16(std::vector<char> &out, std::size_t at, std::uint16_t v) { qToLittleEndian(v, out.data() + at); }
void Put32(std::vector<char> &out, std::size_t at, std::uint32_t v) { qToLittleEndian(v, out.data() + at); }

} // namespace

TSheetSize SheetSizeNamed(const QString &name)
{
    if (name.endsWith(QLatin1String("-light"))) {
        TSheetSize size = SheetSizeNamed(name.chopped(6));
        size.Ink = 0.2;
        return size;
    }
    // Paper sizes in millimetres at 400 dpi, as a scanner rounds them.
    if (name == QLatin1String("A4"))
        return {3307, 4677, 400};
    if (name == QLatin1String("A3"))
        return {4677, 6614, 400};
    if (name == QLatin1String("A2"))
        return {6614, 9354, 400};
    if (name == QLatin1String("A1"))
        return {9354, 13244, 400};
    if (name == QLatin1String("A0"))
        return {13244, 18722, 400};
    if (name == QLatin1String("A0-600"))
        return {19866, 28087, 600};
    return {0, 0, 400};
}

QImage DrawSheet(const TSheetSize &size)
{
    const int width = size.Width;
    const int height = size.Height;
    QImage image(width, height, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    TPen s(image);
    std::mt19937 random(400);
    auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, std::max(lo, hi))(random);
    };
    // Lengths in 400-dpi pixels become pixels of this resolution; feature counts
    // follow the paper's area relative to A0.
    const double k = size.Dpi / 400.0;
    auto px = [&](int n) { return static_cast<int>(std::lround(n * k)); };
    const double area = (width / k) * (height / k) / (13244.0 * 18722.0);
    auto count = [&](int n) { return std::max(1, static_cast<int>(std::lround(n * area * size.Ink))); };

    // Border, 8 pixels, 250 pixels in from the edge.
    const int m = px(250);
    const int b = px(8) - 1;
    s.Fill(m, m, width - m, m + b);
    s.Fill(m, height - m - b, width - m, height - m);
    s.Fill(m, m, m + b, height - m);
    s.Fill(width - m - b, m, width - m, height - m);
    // A grid of thin lines every centimetre.
    const int cm = px(157);
    for (int x = m + cm; x < width - m; x += cm)
        s.Line(x, m, x, height - m);
    for (int y = m + cm; y < height - m; y += cm)
        s.Line(m, y, width - m, y);
    // Long diagonals and lines of other slopes, 1 to 3 pixels wide.
    s.Line(m, m, width - m, height - m, 2);
    s.Line(m, height - m, width - m, m, 2);
    for (int i = 0; i < count(60); ++i)
        s.Line(uniform(m, width - m), uniform(m, height - m), uniform(m, width - m - 4),
               uniform(m, height - m - 4), uniform(1, 3));
    for (int i = 0; i < count(40); ++i) {
        const int n = px(uniform(500, 2500));
        const int x = uniform(m, width - m - n), y = uniform(m, height - m - n);
        s.Line(x, y, x + n, y + n, 1);
    }
    // Circles.
    for (int i = 0; i < count(150); ++i) {
        const int r = px(uniform(30, 800));
        s.Circle(uniform(m + r, width - m - r), uniform(m + r, height - m - r), r, uniform(1, 3));
    }
    // Filled areas: walls and solid blocks.
    for (int i = 0; i < count(40); ++i) {
        const int x = uniform(m, width - px(900)), y = uniform(m, height - px(900));
        s.Fill(x, y, x + px(uniform(20, 800)), y + px(uniform(20, 800)));
    }
    // Text-like clutter: lines of small glyphs of three to six strokes, in blocks.
    for (int block = 0; block < count(60); ++block) {
        const int bx = uniform(m, width - px(2500)), by = uniform(m, height - px(1200));
        const int lines = uniform(3, 20);
        const int glyphs = uniform(10, 60);
        for (int l = 0; l < lines; ++l) {
            for (int g = 0; g < glyphs; ++g) {
                const int gx = bx + g * px(38), gy = by + l * px(55);
                const int strokes = uniform(3, 6);
                for (int j = 0; j < strokes; ++j)
                    s.Line(gx + px(uniform(0, 28)), gy + px(uniform(0, 40)), gx + px(uniform(0, 28)),
                           gy + px(uniform(0, 40)), uniform(2, 3));
            }
        }
    }
    return image;
}

bool WriteSheetBmp(const QImage &sheet, int bits, const QString &path)
{
    const int width = sheet.width();
    const int height = sheet.height();
    const std::size_t rowSize = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    const int colours = bits == 24 ? 0 : 1 << bits;
    const std::size_t offset = 54 + 4 * static_cast<std::size_t>(colours);
    const std::uint64_t fileSize = offset + rowSize * static_cast<std::uint64_t>(height);
    if (fileSize > 0xFFFFFFFFu)
        return false;

    std::vector<char> head(offset, 0);
    head[0] = 'B';
    head[1] = 'M';
    Put32(head, 2, static_cast<std::uint32_t>(fileSize));
    Put32(head, 10, static_cast<std::uint32_t>(offset));
    Put32(head, 14, 40);
    Put32(head, 18, static_cast<std::uint32_t>(width));
    Put32(head, 22, static_cast<std::uint32_t>(height));
    Put16(head, 26, 1);
    Put16(head, 28, static_cast<std::uint16_t>(bits));
    Put32(head, 38, 15748);  // 400 dpi
    Put32(head, 42, 15748);
    Put32(head, 46, static_cast<std::uint32_t>(colours));
    // 1 bit: index 0 white, 1 black. 8 bits: a grey ramp, index 0 black.
    for (int i = 0; i < colours; ++i) {
        const int grey = bits == 1 ? (i == 0 ? 255 : 0) : i;
        for (int c = 0; c < 3; ++c)
            head[54 + 4 * static_cast<std::size_t>(i) + static_cast<std::size_t>(c)] = static_cast<char>(grey);
    }

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (file.write(head.data(), static_cast<qint64>(head.size())) != static_cast<qint64>(head.size()))
        return false;
    // Paper: a light tint that varies a little from pixel to pixel (the grain of
    // a scan); ink: exactly black.
    static const unsigned char kTexture[8] = {0, 3, 1, 5, 2, 6, 4, 7};
    std::vector<char> rows;
    constexpr int kBand = 256;
    for (int top = height - 1; top >= 0; top -= kBand) {
        const int count = std::min(kBand, top + 1);
        rows.assign(rowSize * static_cast<std::size_t>(count), 0);
        for (int r = 0; r < count; ++r) {
            const int y = top - r;
            const uchar *src = sheet.constScanLine(y);
            auto *out = reinterpret_cast<unsigned char *>(rows.data() + rowSize * static_cast<std::size_t>(r));
            if (bits == 1) {
                // Index 1 is black in the sheet and in the file alike.
                std::copy(src, src + (width + 7) / 8, out);
                if (width & 7)
                    out[width >> 3] &= static_cast<unsigned char>(0xFF00 >> (width & 7));
                continue;
            }
            for (int x = 0; x < width; ++x) {
                const bool ink = (src[x >> 3] >> (7 - (x & 7))) & 1;
                const unsigned char grain = kTexture[(x * 7 + y * 3) & 7];
                if (bits == 8) {
                    out[x] = ink ? 0 : static_cast<unsigned char>(232 + grain);
                } else {
                    unsigned char *p = out + 3 * static_cast<std::size_t>(x);
                    p[0] = ink ? 0 : static_cast<unsigned char>(200 + grain);  // blue
                    p[1] = ink ? 0 : static_cast<unsigned char>(226 + grain);  // green
                    p[2] = ink ? 0 : static_cast<unsigned char>(240 + grain);  // red
                }
            }
        }
        if (file.write(rows.data(), static_cast<qint64>(rows.size())) != static_cast<qint64>(rows.size()))
            return false;
    }
    return file.flush();
}
