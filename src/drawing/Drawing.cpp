#include "drawing/Drawing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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

std::int32_t TDrawing::LayerIndex(const QString &name)
{
    const auto it = std::find(Layers.begin(), Layers.end(), name);
    if (it != Layers.end())
        return static_cast<std::int32_t>(it - Layers.begin());
    Layers.push_back(name);
    return static_cast<std::int32_t>(Layers.size() - 1);
}

std::int32_t TDrawing::LineTypeIndex(const QString &name)
{
    const auto it = std::find(LineTypes.begin(), LineTypes.end(), name);
    if (it != LineTypes.end())
        return static_cast<std::int32_t>(it - LineTypes.begin());
    LineTypes.push_back(name);
    return static_cast<std::int32_t>(LineTypes.size() - 1);
}

void TDrawing::ExtendExtents()
{
    for (const TDrawingEntity &e : Entities) {
        double minX = 0, minY = 0, maxX = 0, maxY = 0;
        e.Bounds(minX, minY, maxX, maxY);
        MinX = std::min(MinX, static_cast<float>(minX));
        MinY = std::min(MinY, static_cast<float>(minY));
        MaxX = std::max(MaxX, static_cast<float>(maxX));
        MaxY = std::max(MaxY, static_cast<float>(maxY));
    }
}

void TDrawing::Rotate(double degrees, double cx, double cy)
{
    const double c = std::cos(degrees * kDegree), s = std::sin(degrees * kDegree);
    const auto turn = [&](double &x, double &y) {
        const double dx = x - cx, dy = y - cy;
        x = cx + c * dx - s * dy;
        y = cy + s * dx + c * dy;
    };
    for (TDrawingEntity &e : Entities) {
        turn(e.X1, e.Y1);
        if (e.Kind == TEntityKind::Line)
            turn(e.X2, e.Y2);
        if (e.Kind == TEntityKind::Arc) {
            e.StartAngle = Normalised(e.StartAngle + degrees);
            e.EndAngle = Normalised(e.EndAngle + degrees);
        }
    }
}

std::size_t TDrawing::Count(TEntityKind kind) const
{
    return static_cast<std::size_t>(
        std::count_if(Entities.begin(), Entities.end(), [kind](const TDrawingEntity &e) { return e.Kind == kind; }));
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
    const int chords = std::max(1, static_cast<int>(std::ceil(sweep / step - 1e-9)));
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
