#pragma once

#include "scan/SegmentList.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// The kinds of entity a drawing holds.
enum class TEntityKind : std::uint8_t
{
    Line,    // from (X1, Y1) to (X2, Y2)
    Arc,     // centre (X1, Y1), radius R, counter-clockwise from StartAngle to EndAngle
    Circle,  // centre (X1, Y1), radius R
};

// One entity of a drawing: pixel units of the converted image, Y growing
// upward (as TSegment), angles in degrees from the +X axis, 0 <= angle < 360.
struct TDrawingEntity
{
    double X1 = 0;
    double Y1 = 0;
    double X2 = 0;
    double Y2 = 0;
    double R = 0;
    double StartAngle = 0;
    double EndAngle = 0;
    // Indexes into the drawing's Layers and LineTypes; name 0 is the empty
    // name, which the writers read as their own default (the layer and line
    // type the settings choose for every segment).
    std::int32_t Layer = 0;
    std::int32_t LineType = 0;
    // Width of the stroke the entity was traced from, pixels; 0 not measured.
    float Width = 0;
    // (last: the doubles and the numbers above pack without a gap, so that a
    // big sheet's millions of entities take 72 bytes each)
    TEntityKind Kind = TEntityKind::Line;

    static TDrawingEntity MakeLine(double x1, double y1, double x2, double y2);
    static TDrawingEntity MakeArc(double cx, double cy, double r, double startAngle, double endAngle);
    static TDrawingEntity MakeCircle(double cx, double cy, double r);

    // Counter-clockwise sweep of an arc, degrees in (0, 360]; 360 for a circle.
    double Sweep() const;
    // The start and end points of a line or an arc (a circle's point at 0 degrees for both).
    void StartPoint(double &x, double &y) const;
    void EndPoint(double &x, double &y) const;
    // Smallest axis-parallel box around the entity.
    void Bounds(double &minX, double &minY, double &maxX, double &maxY) const;
};
static_assert(sizeof(TDrawingEntity) == 72, "a big sheet's entities pack without a gap");

// A line type found in the drawing: its pattern's element lengths in pixels
// of the converted image along the entity from its start (a dash > 0, a gap
// < 0, a dot 0), and a description for the reader.
struct TLineTypePattern
{
    QString Description;
    std::vector<double> Elements;
};

// A filled shape: a filled circle (centre X, Y, radius R), or four-cornered
// pieces that cover it, each as x, y of its top left, top right, bottom left
// and bottom right corner (the order of a DXF SOLID). Pixel units, Y upward.
struct TDrawingFill
{
    bool Dot = false;
    double X = 0;
    double Y = 0;
    double R = 0;
    std::vector<std::array<double, 8>> Solids;
    // The outline of a fill of pieces.
    std::vector<TSegment> Outline;
    // The fill's outline as straight segments (for the formats of lines only):
    // a dot's circle as chords within `tolerance`, or Outline.
    void AppendOutline(double tolerance, std::vector<TSegment> &segments) const;
};

// The lines of a plain trace (millions on a big sheet), kept as they were
// traced: 16 bytes a line where an entity takes 72. Each reads as a line
// entity (At) turned by every turn since (Rotate), with the width and the
// changes it was given (Set).
class TTracedLines
{
public:
    // The list's records (Y upward) move in; the list is left without them.
    void Take(TSegmentList &list);
    std::size_t size() const { return Records ? static_cast<std::size_t>(Records->SegmentCount) : 0; }
    bool empty() const { return size() == 0; }
    TDrawingEntity At(std::size_t k) const;
    // How many read as entities of a kind.
    std::size_t Count(TEntityKind kind) const;
    // Line k's layer and line type (without making the entity).
    void Naming(std::size_t k, std::int32_t &layer, std::int32_t &lineType) const;
    // Line k becomes `e` (its width kept apart, anything else as an entity).
    void Set(std::size_t k, const TDrawingEntity &e);
    // Room for every line's width, so that SetWidth may run on many threads.
    void ReserveWidths();
    void SetWidth(std::size_t k, float width) { Widths[k] = width; }
    // Turns every line by `degrees` (of cosine c and sine s) about (cx, cy),
    // as TDrawing::Rotate turns an entity.
    void Rotate(double degrees, double c, double s, double cx, double cy);

private:
    // (shared by copies of the drawing: the records never change)
    std::shared_ptr<const TSegmentList> Records;
    std::vector<float> Widths;  // empty, or one a line
    // The lines changed, by index, as they now read (turned since).
    std::vector<std::pair<std::size_t, TDrawingEntity>> Changed;
    struct TTurn
    {
        double C, S, Cx, Cy;
    };
    std::vector<TTurn> Turns;
};

// The layer every fill goes on.
extern const char16_t kFillLayerName[];

// The width classes of a drawing written at `scale` drawing units a pixel:
// the class widths in drawing units, ascending, and each entity's class.
struct TWidthLayers
{
    std::vector<double> Widths;
    // Per entity, -1 for an entity with no width; empty with no classes.
    std::vector<int> Class;
};

// A drawing: the lines, arcs and circles a conversion found, with the
// drawing's extents as the segment list keeps them.
class TDrawing
{
public:
    std::vector<TDrawingEntity> Entities;
    // A plain trace's lines, entities after those above (EntityCount,
    // EntityAt, ForEachEntity, ChangeEachEntity read and change both).
    TTracedLines Traced;
    // Names the entities refer to; entry 0 is always the empty (default) name.
    std::vector<QString> Layers{QString()};
    std::vector<QString> LineTypes{QString()};
    // The patterns of the line types, by the same index; a line type without
    // one (or past the end) is continuous or the writer's default.
    std::vector<TLineTypePattern> LineTypePatterns;
    // Filled shapes, on the fill layer.
    std::vector<TDrawingFill> Fills;
    // Entities on layers by the width classes: those given (drawing units),
    // or, when none are given, those found in the entities' widths.
    bool WidthLayers = false;
    std::vector<double> WidthClasses;
    // The tolerance the entities were cut into segments with (AppendSegments,
    // AppendDashes); 0 when they were not.
    double SegmentTolerance = 0;

    // Upper-right and lower-left corner of the drawing, pixel units: the
    // extents of the segment list it came from, widened to hold every entity.
    float MaxX = 0;
    float MaxY = 0;
    float MinX = 0;
    float MinY = 0;

    std::size_t EntityCount() const { return Entities.size() + Traced.size(); }
    TDrawingEntity EntityAt(std::size_t k) const
    {
        return k < Entities.size() ? Entities[k] : Traced.At(k - Entities.size());
    }
    // visit(k, entity) for every entity in order.
    template <class Visit> void ForEachEntity(Visit visit) const
    {
        for (std::size_t k = 0; k < Entities.size(); ++k)
            visit(k, Entities[k]);
        for (std::size_t k = 0; k < Traced.size(); ++k)
            visit(Entities.size() + k, Traced.At(k));
    }
    // visit(k, layer, line type) for every entity in order.
    template <class Visit> void ForEachNaming(Visit visit) const
    {
        for (std::size_t k = 0; k < Entities.size(); ++k)
            visit(k, Entities[k].Layer, Entities[k].LineType);
        std::int32_t layer = 0, lineType = 0;
        for (std::size_t k = 0; k < Traced.size(); ++k) {
            Traced.Naming(k, layer, lineType);
            visit(Entities.size() + k, layer, lineType);
        }
    }
    // change(entity) for every entity in order, each kept as changed.
    template <class Change> void ChangeEachEntity(Change change)
    {
        for (TDrawingEntity &e : Entities)
            change(e);
        for (std::size_t k = 0; k < Traced.size(); ++k) {
            TDrawingEntity e = Traced.At(k);
            change(e);
            Traced.Set(k, e);
        }
    }

    // Index of a line type name, added when new.
    std::int32_t LineTypeIndex(const QString &name);

    // A line type with a pattern, added under `name`; its index.
    std::int32_t AddLineType(const QString &name, const QString &description, std::vector<double> elements);
    // The pattern of line type `index`; nothing when it is continuous.
    const TLineTypePattern *PatternOf(std::int32_t index) const;

    // Widens the extents to hold every entity.
    void ExtendExtents();
    // Turns every entity by `degrees` counter-clockwise about (cx, cy).
    void Rotate(double degrees, double cx, double cy);
    // How many entities of a kind.
    std::size_t Count(TEntityKind kind) const;
    bool HasCurves() const { return Count(TEntityKind::Arc) + Count(TEntityKind::Circle) > 0; }
    // The width classes at `scale` drawing units a pixel (Widths empty when
    // the drawing has no width layers).
    TWidthLayers WidthLayersAt(double scale) const;
};

// The name of a width class's layer: "線幅" and the width, 2 decimals.
QString WidthLayerName(double width);

// The entity as straight segments: a line as itself, an arc or circle as
// chords that stay within `tolerance` pixels of it (at least one per 45
// degrees), each chord's end the next one's start.
void AppendSegments(const TDrawingEntity &entity, double tolerance, std::vector<TSegment> &segments);

// The dashes of an entity drawn in `pattern` (element lengths as in
// TLineTypePattern; a dot becomes a piece `dot` pixels long), each as
// AppendSegments writes it.
void AppendDashes(const TDrawingEntity &entity, const std::vector<double> &pattern, double tolerance,
                  std::vector<TSegment> &segments, double dot = 1);

// Angle of (dx, dy) in degrees, 0 <= angle < 360.
double AngleOf(double dx, double dy);
