#include "preview/PreviewImage.h"

#include "drawing/Drawing.h"
#include "scan/ScanState.h"

#include "image/LinePixels.h"
#include "scan/ScanBackdrop.h"
#include "scan/SegmentList.h"

#include <QLineF>
#include <QPainter>
#include <QFont>
#include <QPen>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <utility>

namespace {

// The first level is made of 8 x 8 blocks; the smallest covers the sheet with
// at most this many cells on its longer side.
constexpr int kFirstShift = 3;
constexpr int kSmallestLevel = 16;

// The cells one target pixel covers along one axis: [First, End), or First < 0
// when the pixel lies beside the sheet.
struct TSpan
{
    int First = -1;
    int End = -1;
};

// The cells of a level (2^shift sheet pixels each, `cells` of them over a
// sheet `sheet` pixels long) under each of `count` target pixels that start at
// sheet position `origin` and cover `step` sheet pixels each. A pixel smaller
// than a cell takes the cell under its centre; a larger one every cell that
// starts inside it, so that neighbouring pixels share no cell and miss none.
std::vector<TSpan> Spans(int count, double origin, double step, int shift, int sheet, int cells)
{
    std::vector<TSpan> spans(static_cast<std::size_t>(std::max(count, 0)));
    const double unit = std::ldexp(1.0, shift);
    for (int i = 0; i < count; ++i) {
        const double x0 = origin + i * step;
        const double x1 = x0 + step;
        if (x1 <= 0 || x0 >= sheet || cells <= 0)
            continue;
        const double u0 = x0 / unit;
        const double u1 = x1 / unit;
        int first;
        int end;
        if (u1 - u0 < 1) {
            first = static_cast<int>(std::floor((u0 + u1) / 2));
            end = first + 1;
        } else {
            first = static_cast<int>(std::floor(u0));
            end = static_cast<int>(std::floor(u1));
        }
        first = std::clamp(first, 0, cells - 1);
        end = std::clamp(end, first + 1, cells);
        spans[static_cast<std::size_t>(i)] = TSpan{first, end};
    }
    return spans;
}

// Black pixels among [first, end) of a mask line.
int CountBits(const std::uint64_t *line, int first, int end)
{
    int count = 0;
    while (first < end) {
        const int bit = first & 63;
        const int take = std::min(64 - bit, end - first);
        std::uint64_t bits = line[first >> 6] >> bit;
        if (take < 64)
            bits &= (std::uint64_t(1) << take) - 1;
        count += std::popcount(bits);
        first += take;
    }
    return count;
}

// The eight byte-wide counts of set bits of a word, each in its own byte.
std::uint64_t ByteCounts(std::uint64_t x)
{
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    return (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
}

// Grey of a share of ink, from paper to `ink`: the square root lifts the faint
// shares of thin lines that a reduced level spreads over a cell.
std::array<QRgb, 256> InkTable(QRgb ink)
{
    std::array<QRgb, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const double t = std::sqrt(c / 255.0);
        auto mix = [t](int paper, int inkLevel) {
            return static_cast<int>(std::lround(paper + (inkLevel - paper) * t));
        };
        table[static_cast<std::size_t>(c)] =
            qRgb(mix(qRed(TPreviewImage::Paper), qRed(ink)), mix(qGreen(TPreviewImage::Paper), qGreen(ink)),
                 mix(qBlue(TPreviewImage::Paper), qBlue(ink)));
    }
    return table;
}

const std::array<QRgb, 256> &InkColours(bool traced = false)
{
    static const std::array<QRgb, 256> tracedColours = InkTable(TPreviewImage::TracedInk);
    static const std::array<QRgb, 256> colours = InkTable(TPreviewImage::Ink);
    return traced ? tracedColours : colours;
}

// Marks the cells a straight line passes from (a0, b0) to (a1, b1).
void MarkLine(TBlackMask &map, int a0, int b0, int a1, int b1)
{
    ForEachLinePixel(a0, b0, a1, b1, [&](int a, int b) { map.SetBlack(a, b); });
}

} // namespace

TPreviewImage::TPreviewImage(std::shared_ptr<const TBlackMask> mask, const TSegmentList &segments,
                             bool pixelCorners)
    : Mask(mask ? std::move(mask) : std::make_shared<const TBlackMask>()),
      Segments(segments),
      PixelCorners(pixelCorners)
{
    BuildLevels();
}

TPreviewImage::TPreviewImage(std::shared_ptr<const TBlackMask> mask, const TScanState &state, bool pixelCorners)
    : TPreviewImage(std::move(mask), static_cast<const TSegmentList &>(state), pixelCorners)
{
    if (!state.Drawing)
        return;
    const TDrawing &drawing = *state.Drawing;
    // Width classes as at magnification 1: pixels.
    const TWidthLayers widths = drawing.WidthLayersAt(1);
    for (std::size_t c = 0; c < widths.Widths.size(); ++c) {
        LayerGroups.emplace_back();
        LayerGroups.back().Name = WidthLayerName(widths.Widths[c]);
        LayerGroups.back().Colour = LayerColours[c % std::size(LayerColours)];
    }
    drawing.ForEachEntity([&](std::size_t k, const TDrawingEntity &e) {
        if (!widths.Widths.empty() && widths.Class[k] >= 0)
            AppendSegments(e, 0.25, LayerGroups[static_cast<std::size_t>(widths.Class[k])].Segments);
        else if (e.Kind != TEntityKind::Line)
            AppendSegments(e, 0.25, Curves);
    });
    if (!drawing.Fills.empty()) {
        LayerGroups.emplace_back();
        LayerGroups.back().Name = QString::fromUtf16(kFillLayerName);
        LayerGroups.back().Colour = FillLayer;
        for (const TDrawingFill &f : drawing.Fills)
            f.AppendOutline(0.25, LayerGroups.back().Segments);
    }
}

TPreviewImage::~TPreviewImage() = default;

void TPreviewImage::BuildLevels()
{
    const TBlackMask &mask = *Mask;
    if (std::max(mask.Width(), mask.Height()) <= kSmallestLevel)
        return;

    // 8 x 8 blocks straight from the mask: one word of a line holds eight
    // blocks' worth of pixels, and eight lines make a band of blocks.
    TLevel first;
    first.Shift = kFirstShift;
    first.Width = (mask.Width() + 7) / 8;
    first.Height = (mask.Height() + 7) / 8;
    first.Ink.resize(static_cast<std::size_t>(first.Width) * static_cast<std::size_t>(first.Height));
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(mask.Words()));
    for (int band = 0; band < first.Height; ++band) {
        std::fill(sums.begin(), sums.end(), 0);
        const int last = std::min(mask.Height(), band * 8 + 8);
        for (int y = band * 8; y < last; ++y) {
            const std::uint64_t *line = mask.Line(y);
            for (int i = 0; i < mask.Words(); ++i)
                sums[static_cast<std::size_t>(i)] += ByteCounts(line[i]);
        }
        std::uint8_t *row = first.Ink.data() + static_cast<std::size_t>(band) * first.Width;
        for (int i = 0; i < mask.Words(); ++i) {
            const std::uint64_t sum = sums[static_cast<std::size_t>(i)];
            for (int j = 0; j < 8 && i * 8 + j < first.Width; ++j) {
                const unsigned count = static_cast<unsigned>(sum >> (8 * j)) & 0xFF;
                row[i * 8 + j] = static_cast<std::uint8_t>((count * 255 + 32) / 64);
            }
        }
    }
    Levels.push_back(std::move(first));

    // Each further level halves the one before.
    while (std::max(Levels.back().Width, Levels.back().Height) > kSmallestLevel) {
        const TLevel &from = Levels.back();
        TLevel next;
        next.Shift = from.Shift + 1;
        next.Width = (from.Width + 1) / 2;
        next.Height = (from.Height + 1) / 2;
        next.Ink.resize(static_cast<std::size_t>(next.Width) * static_cast<std::size_t>(next.Height));
        auto at = [&from](int x, int y) -> unsigned {
            return x < from.Width && y < from.Height
                ? from.Ink[static_cast<std::size_t>(y) * from.Width + x]
                : 0;
        };
        for (int y = 0; y < next.Height; ++y)
            for (int x = 0; x < next.Width; ++x)
                next.Ink[static_cast<std::size_t>(y) * next.Width + x] = static_cast<std::uint8_t>(
                    (at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1)
                     + at(2 * x + 1, 2 * y + 1) + 2) / 4);
        Levels.push_back(std::move(next));
    }
}

QPointF TPreviewImage::SheetPoint(float x, float y) const
{
    const double h = Mask->Height();
    if (PixelCorners)
        return QPointF(x, h - y);
    // Y = H - row: the centre of that pixel.
    return QPointF(x + 0.5, h - y + 0.5);
}

void TPreviewImage::SetBackdrop(std::shared_ptr<const TScanBackdrop> backdrop, TPreviewLayer layer)
{
    Backdrop = std::move(backdrop);
    Layer = layer;
    BackdropLevels.clear();
    if (!Backdrop || Backdrop->Image.isNull())
        return;
    BackdropLevels.push_back(Backdrop->Image);
    while (std::max(BackdropLevels.back().width(), BackdropLevels.back().height()) > 512) {
        const QImage &last = BackdropLevels.back();
        QImage half = last.scaled(std::max(1, last.width() / 2), std::max(1, last.height() / 2),
                                  Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (half.isNull())
            break;
        BackdropLevels.push_back(std::move(half));
    }
}

void TPreviewImage::Render(QImage &target, QPointF origin, double scale) const
{
    if (target.isNull() || scale <= 0)
        return;
    if (Backdrop && !BackdropLevels.empty() && Layer == TPreviewLayer::Scan) {
        DrawBackdrop(target, origin, scale);
    } else {
        const bool traced = Backdrop && !BackdropLevels.empty() && Layer == TPreviewLayer::Traced;
        DrawMask(target, origin, scale, traced);
        if (traced)
            MarkDarkNotInk(target, origin, scale);
    }
    DrawSegments(target, origin, scale);
    DrawLegend(target);
}

void TPreviewImage::DrawLegend(QImage &target) const
{
    if (LayerGroups.empty())
        return;
    QPainter painter(&target);
    QFont font = painter.font();
    font.setPixelSize(13);
    painter.setFont(font);
    const int line = 18, box = 12;
    int widest = 0;
    for (const TLayerGroup &g : LayerGroups)
        widest = std::max(widest, painter.fontMetrics().horizontalAdvance(g.Name));
    const QRect frame(4, 4, widest + box + 18, line * static_cast<int>(LayerGroups.size()) + 6);
    painter.fillRect(frame, QColor(255, 255, 255, 220));
    painter.setPen(QColor(0x70, 0x70, 0x70));
    painter.drawRect(frame);
    for (std::size_t k = 0; k < LayerGroups.size(); ++k) {
        const int y = frame.top() + 4 + line * static_cast<int>(k);
        painter.fillRect(QRect(frame.left() + 5, y + 2, box, box), QColor::fromRgb(LayerGroups[k].Colour));
        painter.setPen(Qt::black);
        painter.drawText(QRect(frame.left() + box + 10, y, widest + 4, line), Qt::AlignLeft | Qt::AlignVCenter,
                         LayerGroups[k].Name);
    }
}

void TPreviewImage::DrawBackdrop(QImage &target, QPointF origin, double scale) const
{
    // The level with the most pixels that has no more than the target needs.
    const double perTarget = 1.0 / (scale * Backdrop->Step);
    std::size_t level = 0;
    while (level + 1 < BackdropLevels.size() && std::ldexp(1.0, static_cast<int>(level) + 1) <= perTarget)
        ++level;
    const QImage &source = BackdropLevels[level];
    // Sheet pixels per pixel of the level, along each axis.
    const double unitX = static_cast<double>(Width()) / source.width();
    const double unitY = static_cast<double>(Height()) / source.height();

    target.fill(Outside);
    const QRectF sheet(0, 0, Width(), Height());
    const QRectF seen = sheet.intersected(QRectF(origin, QSizeF(target.width(), target.height()) / scale));
    if (seen.isEmpty())
        return;
    const QRectF from(seen.left() / unitX, seen.top() / unitY, seen.width() / unitX, seen.height() / unitY);
    const QRectF to((seen.topLeft() - origin) * scale, seen.size() * scale);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, scale * unitX < 1);
    painter.drawImage(to, source, from);
    // Lightened: black shows as Ink, white stays paper.
    painter.fillRect(to, QColor(255, 255, 255, Lighten));
}

void TPreviewImage::MarkDarkNotInk(QImage &target, QPointF origin, double scale) const
{
    const QImage &image = BackdropLevels.front();
    const bool grey = image.format() == QImage::Format_Grayscale8;
    const double step = 1.0 / scale;
    const double unit = Backdrop->Step;
    for (int ty = 0; ty < target.height(); ++ty) {
        const double y = origin.y() + (ty + 0.5) * step;
        if (y < 0 || y >= Height())
            continue;
        const int by = std::min(static_cast<int>(y / unit), image.height() - 1);
        const std::uint8_t *line = image.constScanLine(by);
        auto *out = reinterpret_cast<QRgb *>(target.scanLine(ty));
        for (int tx = 0; tx < target.width(); ++tx) {
            if (out[tx] != Paper)
                continue;
            const double x = origin.x() + (tx + 0.5) * step;
            if (x < 0 || x >= Width())
                continue;
            const int bx = std::min(static_cast<int>(x / unit), image.width() - 1);
            const QRgb c = grey ? qRgb(line[bx], line[bx], line[bx]) : reinterpret_cast<const QRgb *>(line)[bx];
            if (qGray(c) < 128)
                out[tx] = DarkNotInk;
        }
    }
}

void TPreviewImage::DrawMask(QImage &target, QPointF origin, double scale, bool traced) const
{
    const int width = target.width();
    const int height = target.height();
    const double step = 1.0 / scale;
    const std::array<QRgb, 256> &colours = InkColours(traced);

    // The sheet: from the mask up to 8 sheet pixels a target pixel, else from
    // the largest level whose cells are no larger than a target pixel.
    const TLevel *level = nullptr;
    for (const TLevel &candidate : Levels)
        if (std::ldexp(1.0, candidate.Shift) <= step)
            level = &candidate;
    const int shift = level ? level->Shift : 0;
    const int cellsX = level ? level->Width : Mask->Width();
    const int cellsY = level ? level->Height : Mask->Height();
    const std::vector<TSpan> columns =
        Spans(width, origin.x(), step, shift, Mask->Width(), cellsX);
    const std::vector<TSpan> rows = Spans(height, origin.y(), step, shift, Mask->Height(), cellsY);

    for (int ty = 0; ty < height; ++ty) {
        auto *out = reinterpret_cast<QRgb *>(target.scanLine(ty));
        const TSpan rowSpan = rows[static_cast<std::size_t>(ty)];
        if (rowSpan.First < 0) {
            std::fill(out, out + width, Outside);
            continue;
        }
        for (int tx = 0; tx < width; ++tx) {
            const TSpan span = columns[static_cast<std::size_t>(tx)];
            if (span.First < 0) {
                out[tx] = Outside;
                continue;
            }
            unsigned sum = 0;
            unsigned total = 0;
            if (level) {
                for (int y = rowSpan.First; y < rowSpan.End; ++y) {
                    const std::uint8_t *cells =
                        level->Ink.data() + static_cast<std::size_t>(y) * level->Width;
                    for (int x = span.First; x < span.End; ++x)
                        sum += cells[x];
                }
                total = static_cast<unsigned>((rowSpan.End - rowSpan.First) * (span.End - span.First));
                sum = (sum + total / 2) / total;
            } else {
                for (int y = rowSpan.First; y < rowSpan.End; ++y)
                    sum += static_cast<unsigned>(CountBits(Mask->Line(y), span.First, span.End));
                total = static_cast<unsigned>((rowSpan.End - rowSpan.First) * (span.End - span.First));
                sum = (sum * 255 + total / 2) / total;
            }
            out[tx] = colours[std::min(sum, 255u)];
        }
    }
}

void TPreviewImage::DrawSegments(QImage &target, QPointF origin, double scale) const
{
    const double step = 1.0 / scale;
    // The segments: as lines while a sheet pixel is at least half a target
    // pixel, else from the map of the cells they pass.
    if (scale > 0.5) {
        DrawSegmentLines(target, origin, scale);
    } else {
        int mapShift = 1;
        while (std::ldexp(1.0, mapShift + 1) <= step)
            ++mapShift;
        DrawSegmentMap(target, origin, scale, mapShift);
    }
    if (!Segments.TextStrings.empty())
        DrawTextStrings(target, origin, scale);
}

void TPreviewImage::DrawTextStrings(QImage &target, QPointF origin, double scale) const
{
    QPainter painter(&target);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(QColor::fromRgb(TextBox));
    pen.setCosmetic(true);
    painter.setPen(pen);
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    const QRectF view(0, 0, target.width(), target.height());
    for (const TTextString &s : Segments.TextStrings) {
        const QRectF box((s.Left - origin.x()) * scale, (s.Top - origin.y()) * scale, s.Width() * scale,
                         s.Height() * scale);
        if (!box.adjusted(-200, -20, 200, 20).intersects(view))
            continue;
        painter.drawRect(box);
        // What was read, just above the box.
        if (!s.Text.isEmpty() && scale >= 0.1)
            painter.drawText(box.bottomLeft() + QPointF(0, -box.height() - 3), s.Text);
    }
}

void TPreviewImage::DrawSegmentLines(QImage &target, QPointF origin, double scale) const
{
    QPainter painter(&target);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(QColor::fromRgb(Line));
    pen.setCosmetic(true);
    pen.setWidthF(std::clamp(std::floor(scale / 3), 1.0, 6.0));
    pen.setCapStyle(Qt::SquareCap);
    painter.setPen(pen);

    // What lies within a pixel of the target is drawn.
    const double step = 1.0 / scale;
    const double left = origin.x() - 1;
    const double top = origin.y() - 1;
    const double right = origin.x() + target.width() * step + 1;
    const double bottom = origin.y() + target.height() * step + 1;

    std::vector<QLineF> lines;
    std::vector<QPointF> points;
    constexpr std::size_t kBatch = 4096;
    lines.reserve(kBatch);
    auto flush = [&] {
        if (!lines.empty())
            painter.drawLines(lines.data(), static_cast<int>(lines.size()));
        if (!points.empty())
            painter.drawPoints(points.data(), static_cast<int>(points.size()));
        lines.clear();
        points.clear();
    };
    auto toTarget = [&](QPointF p) {
        return QPointF((p.x() - origin.x()) * scale, (p.y() - origin.y()) * scale);
    };

    const auto draw = [&](const TSegment *segment, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, ++segment) {
        const QPointF a = SheetPoint(segment->X1, segment->Y1);
        const QPointF b = SheetPoint(segment->X2, segment->Y2);
        if (std::max(a.x(), b.x()) < left || std::min(a.x(), b.x()) > right
            || std::max(a.y(), b.y()) < top || std::min(a.y(), b.y()) > bottom)
            continue;
        if (a == b)
            points.push_back(toTarget(a));
        else
            lines.emplace_back(toTarget(a), toTarget(b));
        if (lines.size() + points.size() >= kBatch)
            flush();
    }
    flush();
    };
    draw(Segments.Segments(), static_cast<std::size_t>(std::max(Segments.SegmentCount, 0)));
    if (!Curves.empty()) {
        pen.setColor(QColor::fromRgb(Curve));
        painter.setPen(pen);
        draw(Curves.data(), Curves.size());
    }
    for (const TLayerGroup &g : LayerGroups) {
        pen.setColor(QColor::fromRgb(g.Colour));
        painter.setPen(pen);
        draw(g.Segments.data(), g.Segments.size());
    }
}

const TBlackMask &TPreviewImage::MapOf(std::vector<std::unique_ptr<TBlackMask>> &maps, int shift,
                                      const TSegment *segments, std::size_t count) const
{
    if (maps.size() <= static_cast<std::size_t>(shift))
        maps.resize(static_cast<std::size_t>(shift) + 1);
    std::unique_ptr<TBlackMask> &map = maps[static_cast<std::size_t>(shift)];
    if (map)
        return *map;

    const int unit = 1 << shift;
    const int width = std::max(1, (Mask->Width() + unit - 1) / unit);
    const int height = std::max(1, (Mask->Height() + unit - 1) / unit);
    map = std::make_unique<TBlackMask>(width, height);
    auto cell = [unit](double v, int cells) {
        return std::clamp(static_cast<int>(std::floor(v / unit)), 0, cells - 1);
    };
    for (std::size_t i = 0; i < count; ++i) {
        const QPointF a = SheetPoint(segments[i].X1, segments[i].Y1);
        const QPointF b = SheetPoint(segments[i].X2, segments[i].Y2);
        MarkLine(*map, cell(a.x(), width), cell(a.y(), height), cell(b.x(), width), cell(b.y(), height));
    }
    return *map;
}

const TBlackMask &TPreviewImage::GroupMap(int shift, const TLayerGroup &group) const
{
    return MapOf(group.Maps, shift, group.Segments.data(), group.Segments.size());
}

const TBlackMask &TPreviewImage::SegmentMap(int shift, bool curves) const
{
    if (curves)
        return MapOf(CurveMaps, shift, Curves.data(), Curves.size());
    return MapOf(Maps, shift, Segments.Segments(), static_cast<std::size_t>(std::max(Segments.SegmentCount, 0)));
}

void TPreviewImage::DrawSegmentMap(QImage &target, QPointF origin, double scale, int shift) const
{
    if (Segments.SegmentCount <= 0)
        return;
    const double step = 1.0 / scale;
    for (std::size_t layer = 0; layer < 2 + LayerGroups.size(); ++layer) {
    const bool curves = layer == 1;
    if (curves && Curves.empty())
        continue;
    const TBlackMask &map = layer < 2 ? SegmentMap(shift, curves) : GroupMap(shift, LayerGroups[layer - 2]);
    const QRgb colour = layer < 2 ? (curves ? Curve : Line) : LayerGroups[layer - 2].Colour;
    const std::vector<TSpan> columns =
        Spans(target.width(), origin.x(), step, shift, Mask->Width(), map.Width());
    const std::vector<TSpan> rows =
        Spans(target.height(), origin.y(), step, shift, Mask->Height(), map.Height());
    for (int ty = 0; ty < target.height(); ++ty) {
        const TSpan rowSpan = rows[static_cast<std::size_t>(ty)];
        if (rowSpan.First < 0)
            continue;
        auto *out = reinterpret_cast<QRgb *>(target.scanLine(ty));
        for (int tx = 0; tx < target.width(); ++tx) {
            const TSpan span = columns[static_cast<std::size_t>(tx)];
            if (span.First < 0)
                continue;
            for (int y = rowSpan.First; y < rowSpan.End; ++y) {
                if (CountBits(map.Line(y), span.First, span.End) != 0) {
                    out[tx] = colour;
                    break;
                }
            }
        }
    }
    }
}

QSize TPreviewImage::WholeSize(int width, int height, int longest)
{
    const int larger = std::max(width, height);
    if (larger <= 0)
        return QSize();
    if (larger <= longest)
        return QSize(width, height);
    const double scale = static_cast<double>(longest) / larger;
    return QSize(std::max(1, static_cast<int>(std::lround(width * scale))),
                 std::max(1, static_cast<int>(std::lround(height * scale))));
}

QImage TPreviewImage::RenderWhole(int longest) const
{
    const QSize size = WholeSize(Width(), Height(), longest);
    if (size.isEmpty())
        return QImage();
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const double scale = std::min(1.0, static_cast<double>(longest) / std::max(Width(), Height()));
    Render(image, QPointF(0, 0), scale);
    return image;
}
