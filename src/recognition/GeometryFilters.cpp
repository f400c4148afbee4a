#include "recognition/GeometryFilters.h"

#include "base/LargeBlock.h"
#include "cleanup/Centerline.h"
#include "cleanup/CleanupFilters.h"
#include "drawing/Drawing.h"
#include "recognition/LineTypes.h"
#include "recognition/Recognition.h"
#include "recognition/Skew.h"
#include "recognition/Styles.h"
#include "scan/ScanState.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

TGeometryFilters::TGeometryFilters(const TCleanupOptions &options)
    : Options(options), Cleanup(options), Fills(std::make_shared<TFills>())
{
}

TBlackMask TGeometryFilters::Mask(const TTzDIB &image) const
{
    if (!Options.GeometryStep())
        return Cleanup.Mask(image);
    return FromInk(Cleanup.Ink(image));
}

TBlackMask TGeometryFilters::MaskFromRows(TPictureRows &rows, const TRowsOpener &reopen, int threads) const
{
    Threads = threads;
    if (!Options.GeometryStep())
        return Cleanup.MaskFromRows(rows, reopen, threads);
    return FromInk(Cleanup.Ink(rows, reopen, threads), threads);
}

TBlackMask TGeometryFilters::FromInk(TBlackMask ink, int threads) const
{
    SheetWidth = ink.Width();
    SheetHeight = ink.Height();
    if (Options.Deskew && !Options.Geometry())
        Skew = FindSkew(ink);
    if (!Options.Geometry() && !Options.Styles())
        return Options.Centerline ? Centerline(ink, threads) : ink;
    // The recognition reads the ink all over only while it fits the chains,
    // the widths only as they are measured: till then, and after, it is kept
    // packed.
    const bool inkRead = Options.Geometry() || Options.WidthLayers;
    if (Options.Fills) {
        // The fills leave the ink before it is thinned: the ink is packed
        // first and becomes the strokes itself.
        *Fills = FindFills(ink, threads);
        if (inkRead)
            PackedInk = TPackedMask(ink, threads);
        TBlackMask strokes = std::move(ink);
        for (int y = 0; y < strokes.Height(); ++y)
            for (int i = 0; i < strokes.Words(); ++i)
                strokes.Line(y)[i] &= ~Fills->Mask.Line(y)[i];
        // Only the lines running into the fills read them again, after the
        // recognition: till then they are kept as their words.
        PackedFills = TPackedMask(std::move(Fills->Mask), threads);
        Fills->Mask = TBlackMask();
        Centre = Centerline(strokes, threads);
    } else {
        Centre = Centerline(ink, threads);
        if (inkRead)
            PackedInk = TPackedMask(std::move(ink), threads);
    }
    if (!Options.Geometry() || MaskReturned)
        return std::move(Centre);
    return Centre;
}

void TGeometryFilters::TracedMask(TBlackMask &&mask) const
{
    if (Options.Geometry())
        Centre = std::move(mask);
}

bool TGeometryFilters::Segments(TScanState &state) const
{
    if (!Options.GeometryStep())
        return Cleanup.Segments(state);
    // What the mask step left, let go at the end, or as soon as the user
    // stops the conversion (asked between the steps).
    const auto letGo = [this] {
        Ink = TBlackMask();
        PackedInk = TPackedMask();
        Centre = TBlackMask();
        PackedFills = TPackedMask();
    };
    const auto stopping = [&] {
        if (!Stop || !Stop())
            return false;
        letGo();
        return true;
    };
    // The ink unpacked, when a step after the recognition reads it.
    const auto unpackInk = [this] {
        if (PackedInk.Height() > 0) {
            Ink = PackedInk.Unpack(Threads);
            PackedInk = TPackedMask();
        }
    };
    auto drawing = std::make_shared<TDrawing>();
    double tolerance = Options.Arcs > 0 ? Options.Arcs : (Options.Merge > 0 ? Options.Merge : 1.0);
    if (Options.Geometry()) {
        // The list, left untraced (ReadsSegments), gives way to the
        // drawing's segments; only its extents are kept.
        state.ReleaseSegments();
        TGeometryOptions geometry;
        geometry.Tolerance = tolerance;
        geometry.Arcs = Options.Arcs > 0;
        geometry.Snap = Options.Snap;
        geometry.Deskew = Options.Deskew;
        geometry.KeepGaps = Options.Linetypes;
        geometry.Threads = Threads;
        geometry.Stop = Stop;
        if (Options.Fills && Options.Snap > 0)
            for (const TDrawingFill &f : Fills->Shapes)
                if (f.Dot)
                    geometry.Dots.push_back({f.X, f.Y, f.R});
        std::optional<double> lineSkew;
        *drawing = RecogniseDrawing(std::move(Centre), PackedInk, geometry, &lineSkew);
        if (stopping())
            return false;
        // The graph's many small records are free now: their memory goes
        // back before the line types and widths take theirs.
        LargeBlock::ReturnFreeHeap();
        if (Options.Linetypes) {
            // Read against the ink: the drawing as it lies on the sheet.
            const double turned = lineSkew && Options.Deskew ? *lineSkew : 0;
            if (turned != 0)
                drawing->Rotate(turned, SheetWidth / 2.0, SheetHeight / 2.0);
            FindLineTypes(*drawing, PackedInk, tolerance, Threads, Stop);
            LargeBlock::ReturnFreeHeap();
            if (stopping())
                return false;
            if (turned != 0)
                drawing->Rotate(-turned, SheetWidth / 2.0, SheetHeight / 2.0);
        }
        if (Options.Deskew && !lineSkew)
            unpackInk();
        if (Options.Deskew) {
            // Measured on the lines where there are enough of them (more
            // exact on drawings than the ink's profiles), else on the ink.
            Skew = lineSkew;
            if (!Skew) {
                Skew = FindSkew(Ink);
                if (Skew && *Skew != 0)
                    drawing->Rotate(-*Skew, SheetWidth / 2.0, SheetHeight / 2.0);
            }
        }
        if (Options.Linetypes && Options.Snap > 0)
            SnapPatternedLines(*drawing, Options.Snap);
        Centre = TBlackMask();
    } else {
        if (!Cleanup.Segments(state))
            return false;
        // The traced list's records become the drawing's lines (a plain
        // trace of a big sheet has millions): the list keeps its extents.
        drawing->Traced.Take(state);
        state.ReleaseSegments();
    }
    if (stopping())
        return false;
    if (Options.Styles()) {
        // Widths and fills are read on the ink, in the ink's own frame.
        // The geometry is turned by now; the traced segments are turned below.
        const double turned = Options.Geometry() && Options.Deskew && Skew ? *Skew : 0.0;
        const TInkFrame frame{SheetWidth, SheetHeight, turned};
        if (Options.Fills) {
            // (The fills' mask has a little ink on most lines: it is read
            // packed.)
            ExtendIntoFills(*drawing, Fills->Shapes, PackedFills, frame, Options.Snap > 0);
            PackedFills = TPackedMask();
            TDrawing fills;
            fills.Fills = std::move(Fills->Shapes);
            if (turned != 0)
                fills.Rotate(-turned, SheetWidth / 2.0, SheetHeight / 2.0);
            drawing->Fills = std::move(fills.Fills);
            *Fills = TFills();
        }
        if (Options.WidthLayers) {
            unpackInk();
            MeasureWidths(*drawing, Ink, frame, Threads);
            drawing->WidthLayers = true;
            drawing->WidthClasses = Options.WidthClasses;
        }
    }
    letGo();
    if (stopping())
        return false;
    drawing->MaxX = state.MaxX;
    drawing->MaxY = state.MaxY;
    drawing->MinX = state.MinX;
    drawing->MinY = state.MinY;
    if (Options.Deskew) {
        state.Skew = Skew;
        if (Skew && *Skew != 0 && !Options.Geometry())
            drawing->Rotate(-*Skew, SheetWidth / 2.0, SheetHeight / 2.0);
    }
    drawing->ExtendExtents();

    // Each entity's segments go into the list as they are made.
    drawing->SegmentTolerance = tolerance;
    if (!state.ResetSegments())
        return false;
    std::vector<TSegment> segments;
    const auto add = [&] {
        for (const TSegment &s : segments) {
            state.AddSegment(s.X1, state.ImageHeight - s.Y1, s.X2, state.ImageHeight - s.Y2);
            if (state.OutOfMemory)
                return false;
        }
        segments.clear();
        return true;
    };
    for (std::size_t k = 0; k < drawing->EntityCount(); ++k) {
        const TDrawingEntity e = drawing->EntityAt(k);
        if (const TLineTypePattern *pattern = drawing->PatternOf(e.LineType))
            AppendDashes(e, pattern->Elements, tolerance, segments);
        else
            AppendSegments(e, tolerance, segments);
        if (!add())
            return false;
    }
    for (const TDrawingFill &f : drawing->Fills) {
        f.AppendOutline(tolerance, segments);
        if (!add())
            return false;
    }
    state.MaxX = drawing->MaxX;
    state.MaxY = drawing->MaxY;
    state.MinX = drawing->MinX;
    state.MinY = drawing->MinY;
    state.Drawing = std::move(drawing);
    return true;
}
