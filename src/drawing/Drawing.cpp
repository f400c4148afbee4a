#include "drawing/Drawing.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>

namespace {

constexpr double kDegree = std::numbers::pi / 180;

double Normalised(double degrees)
{
    double a = std::fmod(degrees, 360.0);
    if (a < 0)
        a += 360;
    return a >= 360 ? 0 : a;
}

} // namespace

double AngleOf(double dx, double dy)
{
    return Normalised(std::atan2(dy, dx) / kDegree);
}

TDrawingEntity TDrawingEntity::MakeLine(double x1, double y1, double x2, double y2)
{
    TDrawingEntity e;
    e.Kind = TEntityKind::Line;
    e.X1 = x1;
    e.Y1 = y1;
    e.X2 = x2;
    e.Y2 = y2;
    return e;
}

TDrawingEntity TDrawingEntity::MakeArc(double cx, double cy, double r, double startAngle, double endAngle)
{
    TDrawingEntity e;
    e.Kind = TEntityKind::Arc;
    e.X1 = cx;
    e.Y1 = cy;
    e.R = r;
    e.StartAngle = Normalised(startAngle);
    e.EndAngle = Normalised(endAngle);
    return e;
}

TDrawingEntity TDrawingEntity::MakeCircle(double cx, double cy, double r)
{
    TDrawingEntity e;
    e.Kind = TEntityKind::Circle;
    e.X1 = cx;
    e.Y1 = cy;
    e.R = r;
    return e;
}

double TDrawingEntity::Sweep() const
{
    if (Kind == TEntityKind::Circle)
        return 360;
    const double s = Normalised(EndAngle - StartAngle);
    return s == 0 ? 360 : s;
}

void TDrawingEntity::StartPoint(double &x, double &y) const
{
    if (Kind == TEntityKind::Line) {
        x = X1;
        y = Y1;
        return;
    }
    const double a = Kind == TEntityKind::Arc ? StartAngle * kDegree : 0;
    x = X1 + R * std::cos(a);
    y = Y1 + R * std::sin(a);
}

void TDrawingEntity::EndPoint(double &x, double &y) const
{
    if (Kind == TEntityKind::Line) {
        x = X2;
        y = Y2;
        return;
    }
    const double a = Kind == TEntityKind::Arc ? EndAngle * kDegree : 0;
    x = X1 + R * std::cos(a);
    y = Y1 + R * std::sin(a);
}

void TDrawingEntity::Bounds(double &minX, double &minY, double &maxX, double &maxY) const
{
    if (Kind == TEntityKind::Line) {
        minX = std::min(X1, X2);
        maxX = std::max(X1, X2);
        minY = std::min(Y1, Y2);
        maxY = std::max(Y1, Y2);
        return;
    }
    minX = X1 - R;
    maxX = X1 + R;
    minY = Y1 - R;
    maxY = Y1 + R;
    if (Kind == TEntityKind::Circle)
        return;
    // An arc: its ends, and the quadrant points it passes.
    double x = 0, y = 0, u = 0, v = 0;
    StartPoint(x, y);
    EndPoint(u, v);
    const auto passes = [this](double angle) { return Normalised(angle - StartAngle) <= Sweep(); };
    minX = passes(180) ? X1 - R : std::min(x, u);
    maxX = passes(0) ? X1 + R : std::max(x, u);
    minY = passes(270) ? Y1 - R : std::min(y, v);
    maxY = passes(90) ? Y1 + R : std::max(y, v);
}

std::int32_t TDrawing::LineTypeIndex(const QString &name)
{
    const auto it = std::find(LineTypes.begin(), LineTypes.end(), name);
    if (it != LineTypes.end())
        return static_cast<std::int32_t>(it - LineTypes.begin());
    LineTypes.push_back(name);
    return static_cast<std::int32_t>(LineTypes.size() - 1);
}

std::int32_t TDrawing::AddLineType(const QString &name, const QString &description, std::vector<double> elements)
{
    const std::int32_t index = LineTypeIndex(name);
    if (LineTypePatterns.size() <= static_cast<std::size_t>(index))
        LineTypePatterns.resize(static_cast<std::size_t>(index) + 1);
    LineTypePatterns[static_cast<std::size_t>(index)] = {description, std::move(elements)};
    return index;
}

const TLineTypePattern *TDrawing::PatternOf(std::int32_t index) const
{
    if (index <= 0 || static_cast<std::size_t>(index) >= LineTypePatterns.size() ||
        LineTypePatterns[static_cast<std::size_t>(index)].Elements.empty())
        return nullptr;
    return &LineTypePatterns[static_cast<std::size_t>(index)];
}

void TDrawing::ExtendExtents()
{
    for (const TDrawingFill &f : Fills) {
        const auto extend = [this](double x, double y) {
            MinX = std::min(MinX, static_cast<float>(x));
            MinY = std::min(MinY, static_cast<float>(y));
            MaxX = std::max(MaxX, static_cast<float>(x));
            MaxY = std::max(MaxY, static_cast<float>(y));
        };
        if (f.Dot) {
            extend(f.X - f.R, f.Y - f.R);
            extend(f.X + f.R, f.Y + f.R);
        }
        for (const std::array<double, 8> &q : f.Solids)
            for (std::size_t k = 0; k < 8; k += 2)
                extend(q[k], q[k + 1]);
    }
    ForEachEntity([&](std::size_t, const TDrawingEntity &e) {
        double minX = 0, minY = 0, maxX = 0, maxY = 0;
        e.Bounds(minX, minY, maxX, maxY);
        MinX = std::min(MinX, static_cast<float>(minX));
        MinY = std::min(MinY, static_cast<float>(minY));
        MaxX = std::max(MaxX, static_cast<float>(maxX));
        MaxY = std::max(MaxY, static_cast<float>(maxY));
    });
}

namespace {

// (x, y) turned by the angle of cosine c and sine s about (cx, cy).
void Turn(double &x, double &y, double c, double s, double cx, double cy)
{
    const double dx = x - cx, dy = y - cy;
    x = cx + c * dx - s * dy;
    y = cy + s * dx + c * dy;
}

// An entity turned by `degrees` (of cosine c and sine s) about (cx, cy).
void TurnEntity(TDrawingEntity &e, double degrees, double c, double s, double cx, double cy)
{
    Turn(e.X1, e.Y1, c, s, cx, cy);
    if (e.Kind == TEntityKind::Line)
        Turn(e.X2, e.Y2, c, s, cx, cy);
    if (e.Kind == TEntityKind::Arc) {
        e.StartAngle = Normalised(e.StartAngle + degrees);
        e.EndAngle = Normalised(e.EndAngle + degrees);
    }
}

// Whether two entities are one but for their widths (to the bit: -0 is not 0).
bool SameButWidth(const TDrawingEntity &a, const TDrawingEntity &b)
{
    const auto same = [](double u, double v) {
        return std::bit_cast<std::uint64_t>(u) == std::bit_cast<std::uint64_t>(v);
    };
    return a.Kind == b.Kind && a.Layer == b.Layer && a.LineType == b.LineType && same(a.X1, b.X1) &&
           same(a.Y1, b.Y1) && same(a.X2, b.X2) && same(a.Y2, b.Y2) && same(a.R, b.R) &&
           same(a.StartAngle, b.StartAngle) && same(a.EndAngle, b.EndAngle);
}

// Where line k's change is or goes in `changed` (by index).
template <class TChanged> auto Place(TChanged &changed, std::size_t k)
{
    return std::lower_bound(changed.begin(), changed.end(), k,
                            [](const auto &c, std::size_t index) { return c.first < index; });
}

} // namespace

void TTracedLines::Take(TSegmentList &list)
{
    auto records = std::make_shared<TSegmentList>();
    list.MoveRecordsTo(*records);
    Records = std::move(records);
    Widths.clear();
    Changed.clear();
    Turns.clear();
}

TDrawingEntity TTracedLines::At(std::size_t k) const
{
    const auto changed = Place(Changed, k);
    TDrawingEntity e;
    if (changed != Changed.end() && changed->first == k) {
        e = changed->second;
    } else {
        // (as MakeLine makes it)
        const TSegment &s = Records->Segments()[k];
        e.X1 = s.X1;
        e.Y1 = s.Y1;
        e.X2 = s.X2;
        e.Y2 = s.Y2;
        for (const TTurn &t : Turns) {
            Turn(e.X1, e.Y1, t.C, t.S, t.Cx, t.Cy);
            Turn(e.X2, e.Y2, t.C, t.S, t.Cx, t.Cy);
        }
    }
    e.Width = Widths.empty() ? 0.0f : Widths[k];
    return e;
}

void TTracedLines::Set(std::size_t k, const TDrawingEntity &e)
{
    const TDrawingEntity was = At(k);
    if (e.Width != was.Width) {
        if (Widths.empty())
            Widths.assign(size(), 0.0f);
        Widths[k] = e.Width;
    }
    if (SameButWidth(e, was))
        return;
    const auto changed = Place(Changed, k);
    if (changed != Changed.end() && changed->first == k)
        changed->second = e;
    else
        Changed.insert(changed, {k, e});
}

void TTracedLines::Naming(std::size_t k, std::int32_t &layer, std::int32_t &lineType) const
{
    layer = lineType = 0;
    if (Changed.empty())
        return;
    const auto changed = Place(Changed, k);
    if (changed != Changed.end() && changed->first == k) {
        layer = changed->second.Layer;
        lineType = changed->second.LineType;
    }
}

std::size_t TTracedLines::Count(TEntityKind kind) const
{
    std::size_t changed = 0;
    for (const auto &[k, e] : Changed)
        changed += e.Kind == kind ? 1 : 0;
    if (kind != TEntityKind::Line)
        return changed;
    return size() - Changed.size() + changed;
}

void TTracedLines::ReserveWidths()
{
    if (Widths.empty())
        Widths.assign(size(), 0.0f);
}

void TTracedLines::Rotate(double degrees, double c, double s, double cx, double cy)
{
    if (empty())
        return;
    Turns.push_back({c, s, cx, cy});
    for (auto &[k, e] : Changed)
        TurnEntity(e, degrees, c, s, cx, cy);
}

void TDrawing::Rotate(double degrees, double cx, double cy)
{
    const double c = std::cos(degrees * kDegree), s = std::sin(degrees * kDegree);
    const auto turn = [&](double &x, double &y) { Turn(x, y, c, s, cx, cy); };
    for (TDrawingFill &f : Fills) {
        turn(f.X, f.Y);
        for (std::array<double, 8> &q : f.Solids)
            for (std::size_t k = 0; k < 8; k += 2)
                turn(q[k], q[k + 1]);
        for (TSegment &o : f.Outline) {
            double x1 = o.X1, y1 = o.Y1, x2 = o.X2, y2 = o.Y2;
            turn(x1, y1);
            turn(x2, y2);
            o = TSegment{static_cast<float>(x1), static_cast<float>(y1), static_cast<float>(x2), static_cast<float>(y2)};
        }
    }
    for (TDrawingEntity &e : Entities)
        TurnEntity(e, degrees, c, s, cx, cy);
    Traced.Rotate(degrees, c, s, cx, cy);
}

std::size_t TDrawing::Count(TEntityKind kind) const
{
    return static_cast<std::size_t>(std::count_if(Entities.begin(), Entities.end(),
                                                   [kind](const TDrawingEntity &e) { return e.Kind == kind; })) +
           Traced.Count(kind);
}

void AppendSegments(const TDrawingEntity &entity, double tolerance, std::vector<TSegment> &segments)
{
    if (entity.Kind == TEntityKind::Line) {
        segments.push_back(TSegment{static_cast<float>(entity.X1), static_cast<float>(entity.Y1),
                                    static_cast<float>(entity.X2), static_cast<float>(entity.Y2)});
        return;
    }
    // A chord of angle a lies (1 - cos(a / 2)) R from its arc.
    const double sweep = entity.Sweep();
    double step = 45;
    if (entity.R > tolerance && tolerance > 0)
        step = std::min(step, 2 * std::acos(1 - tolerance / entity.R) / kDegree);
    // At most a chord per degree: a tolerance far below the radius' own
    // precision buys nothing.
    const int chords = std::isfinite(sweep / step)
        ? std::clamp(static_cast<int>(std::ceil(sweep / step - 1e-9)), 1, std::max(1, static_cast<int>(std::ceil(sweep))))
        : 1;
    const double start = entity.Kind == TEntityKind::Arc ? entity.StartAngle : 0;
    double px = 0, py = 0;
    entity.StartPoint(px, py);
    for (int k = 1; k <= chords; ++k) {
        double x = 0, y = 0;
        if (k == chords) {
            entity.EndPoint(x, y);
        } else {
            const double a = (start + sweep * k / chords) * kDegree;
            x = entity.X1 + entity.R * std::cos(a);
            y = entity.Y1 + entity.R * std::sin(a);
        }
        segments.push_back(TSegment{static_cast<float>(px), static_cast<float>(py), static_cast<float>(x),
                                    static_cast<float>(y)});
        px = x;
        py = y;
    }
}

void AppendDashes(const TDrawingEntity &entity, const std::vector<double> &pattern, double tolerance,
                  std::vector<TSegment> &segments, double dot)
{
    double period = 0;
    for (double v : pattern)
        period += v == 0 ? dot : std::fabs(v);
    if (!(period > 0)) {
        AppendSegments(entity, tolerance, segments);
        return;
    }
    const bool line = entity.Kind == TEntityKind::Line;
    const double length = line ? std::hypot(entity.X2 - entity.X1, entity.Y2 - entity.Y1)
                               : entity.R * entity.Sweep() * kDegree;
    const double start = entity.Kind == TEntityKind::Arc ? entity.StartAngle : 0;
    // The piece of the entity from t0 to t1 along it.
    const auto piece = [&](double t0, double t1) {
        if (line) {
            const double dx = (entity.X2 - entity.X1) / length, dy = (entity.Y2 - entity.Y1) / length;
            segments.push_back(TSegment{static_cast<float>(entity.X1 + t0 * dx), static_cast<float>(entity.Y1 + t0 * dy),
                                        static_cast<float>(entity.X1 + t1 * dx), static_cast<float>(entity.Y1 + t1 * dy)});
            return;
        }
        double a0 = start + t0 / entity.R / kDegree, a1 = start + t1 / entity.R / kDegree;
        if (t1 - t0 < 1e-9 || a1 - a0 >= 360) {
            AppendSegments(TDrawingEntity::MakeLine(entity.X1 + entity.R * std::cos(a0 * kDegree),
                                                    entity.Y1 + entity.R * std::sin(a0 * kDegree),
                                                    entity.X1 + entity.R * std::cos(a1 * kDegree),
                                                    entity.Y1 + entity.R * std::sin(a1 * kDegree)),
                           tolerance, segments);
            return;
        }
        AppendSegments(TDrawingEntity::MakeArc(entity.X1, entity.Y1, entity.R, AngleOf(std::cos(a0 * kDegree), std::sin(a0 * kDegree)),
                                               AngleOf(std::cos(a1 * kDegree), std::sin(a1 * kDegree))),
                       tolerance, segments);
    };
    if (!(length > 0) || !std::isfinite(length) || length / period > 1e6) {
        AppendSegments(entity, tolerance, segments);
        return;
    }
    double t = 0;
    for (std::size_t k = 0; t < length; k = (k + 1) % pattern.size()) {
        const double v = pattern[k];
        const double step = v == 0 ? dot : std::fabs(v);
        if (v >= 0)
            piece(t, std::min(length, t + step));
        t += step;
    }
}

const char16_t kFillLayerName[] = u"塗り";

void TDrawingFill::AppendOutline(double tolerance, std::vector<TSegment> &segments) const
{
    if (Dot) {
        AppendSegments(TDrawingEntity::MakeCircle(X, Y, R), tolerance, segments);
        return;
    }
    segments.insert(segments.end(), Outline.begin(), Outline.end());
}

QString WidthLayerName(double width)
{
    return QStringLiteral("線幅") + QString::number(width, 'f', 2);
}

namespace {

// Width classes found in a length-weighted histogram of the widths (pixels):
// the peaks of its smoothed density that stand clear of their neighbours,
// and the cuts between them, where the density is least.
struct TFoundClasses
{
    std::vector<double> Peaks;
    std::vector<double> Cuts;  // between Peaks[k] and Peaks[k + 1]
};

TFoundClasses FoundClasses(const std::vector<std::pair<double, double>> &widths)
{
    double top = 0;
    for (const auto &[w, length] : widths)
        top = std::max(top, w);
    if (top <= 0)
        return {};
    constexpr double kStep = 0.05;
    const std::size_t bins = static_cast<std::size_t>((top + 4) / kStep) + 1;
    // The bins a width's curve reaches and the curve's heights there: the
    // widths are measured in steps and repeat, each distinct one's curve
    // reckoned once (the same heights, added in the entities' order).
    const auto reach = [&](double w, double &sigma, std::size_t &lo, std::size_t &hi) {
        sigma = std::max(0.08 * w, 0.25);
        lo = static_cast<std::size_t>(std::max(0.0, (w - 3 * sigma) / kStep));
        hi = std::min(bins - 1, static_cast<std::size_t>((w + 3 * sigma) / kStep) + 1);
    };
    std::vector<double> distinct;
    distinct.reserve(widths.size());
    for (const auto &[w, length] : widths)
        distinct.push_back(w);
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::vector<std::size_t> firstHeight(distinct.size() + 1, 0);
    std::vector<double> heights;
    for (std::size_t i = 0; i < distinct.size(); ++i) {
        const double w = distinct[i];
        double sigma = 0;
        std::size_t lo = 0, hi = 0;
        reach(w, sigma, lo, hi);
        for (std::size_t b = lo; b <= hi; ++b) {
            const double d = (b * kStep - w) / sigma;
            heights.push_back(std::exp(-0.5 * d * d));
        }
        firstHeight[i + 1] = heights.size();
    }
    std::vector<double> density(bins);
    for (const auto &[w, length] : widths) {
        double sigma = 0;
        std::size_t lo = 0, hi = 0;
        reach(w, sigma, lo, hi);
        const double *height = heights.data() +
            firstHeight[static_cast<std::size_t>(std::lower_bound(distinct.begin(), distinct.end(), w) - distinct.begin())];
        for (std::size_t b = lo; b <= hi; ++b)
            density[b] += length * height[b - lo] / sigma;
    }
    std::vector<std::size_t> peaks;
    for (std::size_t b = 1; b + 1 < bins; ++b)
        if (density[b] > density[b - 1] && density[b] >= density[b + 1])
            peaks.push_back(b);
    const double highest = peaks.empty() ? 0 : *std::max_element(density.begin(), density.end());
    // Small peaks, and peaks with no clear valley to a higher neighbour, go.
    std::vector<std::size_t> kept;
    for (std::size_t p : peaks) {
        if (density[p] < 0.08 * highest)
            continue;
        bool clear = true;
        for (std::size_t q : peaks) {
            if (q == p || density[q] < density[p] || density[q] < 0.08 * highest)
                continue;
            const std::size_t lo = std::min(p, q), hi = std::max(p, q);
            const double valley = *std::min_element(density.begin() + static_cast<std::ptrdiff_t>(lo),
                                                    density.begin() + static_cast<std::ptrdiff_t>(hi) + 1);
            if (valley > 0.75 * density[p] && (density[q] > density[p] || q < p))
                clear = false;
        }
        if (clear)
            kept.push_back(p);
    }
    TFoundClasses found;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        found.Peaks.push_back(kept[k] * kStep);
        if (k + 1 < kept.size()) {
            const auto least = std::min_element(density.begin() + static_cast<std::ptrdiff_t>(kept[k]),
                                                density.begin() + static_cast<std::ptrdiff_t>(kept[k + 1]) + 1);
            found.Cuts.push_back(static_cast<double>(least - density.begin()) * kStep);
        }
    }
    return found;
}

// The class nearest to a width, by ratio.
int NearestClass(const std::vector<double> &classes, double width)
{
    int best = -1;
    double bestDistance = 0;
    for (std::size_t k = 0; k < classes.size(); ++k) {
        const double d = std::fabs(std::log(width / classes[k]));
        if (best < 0 || d < bestDistance) {
            best = static_cast<int>(k);
            bestDistance = d;
        }
    }
    return best;
}

double Length(const TDrawingEntity &e)
{
    if (e.Kind == TEntityKind::Line)
        return std::hypot(e.X2 - e.X1, e.Y2 - e.Y1);
    return e.R * e.Sweep() * kDegree;
}

} // namespace

TWidthLayers TDrawing::WidthLayersAt(double scale) const
{
    TWidthLayers layers;
    if (!WidthLayers)
        return layers;
    layers.Class.assign(EntityCount(), -1);
    scale = std::fabs(scale);
    if (!WidthClasses.empty()) {
        // The classes given, in drawing units: each entity in the nearest.
        std::vector<double> classes = WidthClasses;
        std::sort(classes.begin(), classes.end());
        for (double c : classes)
            if (layers.Widths.empty() || WidthLayerName(c) != WidthLayerName(layers.Widths.back()))
                layers.Widths.push_back(c);
        ForEachEntity([&](std::size_t k, const TDrawingEntity &e) {
            if (e.Width > 0)
                layers.Class[k] = NearestClass(layers.Widths, e.Width * scale);
        });
        return layers;
    }
    std::vector<std::pair<double, double>> widths;
    std::size_t measured = 0;
    ForEachEntity([&](std::size_t, const TDrawingEntity &e) { measured += e.Width > 0; });
    widths.reserve(measured);
    ForEachEntity([&](std::size_t, const TDrawingEntity &e) {
        if (e.Width > 0)
            widths.emplace_back(e.Width, std::max(1.0, Length(e)));
    });
    const TFoundClasses found = FoundClasses(widths);
    if (found.Peaks.empty()) {
        layers.Class.clear();
        return layers;
    }
    const auto classOf = [&](double w) {
        return static_cast<int>(std::lower_bound(found.Cuts.begin(), found.Cuts.end(), w) - found.Cuts.begin());
    };
    // Each class's width is the length-weighted middle of its widths: the
    // widths in order, each class a stretch of them (a class holds the
    // widths up to its cut).
    std::sort(widths.begin(), widths.end());
    std::vector<int> index(found.Peaks.size(), -1);
    for (std::size_t c = 0, first = 0; c < found.Peaks.size(); ++c) {
        std::size_t end = first;
        while (end < widths.size() && static_cast<std::size_t>(classOf(widths[end].first)) == c)
            ++end;
        const auto m = std::span(widths).subspan(first, end - first);
        first = end;
        if (m.empty())
            continue;
        double total = 0, sum = 0, middle = m.front().first;
        for (const auto &p : m)
            total += p.second;
        for (const auto &p : m) {
            sum += p.second;
            if (sum >= total / 2) {
                middle = p.first;
                break;
            }
        }
        // Classes whose layer names would be one are one class.
        if (layers.Widths.empty() || WidthLayerName(middle * scale) != WidthLayerName(layers.Widths.back()))
            layers.Widths.push_back(middle * scale);
        index[c] = static_cast<int>(layers.Widths.size() - 1);
    }
    ForEachEntity([&](std::size_t k, const TDrawingEntity &e) {
        if (e.Width > 0)
            layers.Class[k] = index[static_cast<std::size_t>(classOf(e.Width))];
    });
    return layers;
}
