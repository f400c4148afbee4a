#pragma once

// The clean-up with the recognition of lines, arcs and circles.
//   TGeometryFilters - the clean-up filters whose segments step also makes the
//                      drawing, finds the skew and the styles; false when out
//                      of memory.

#include "cleanup/CleanupFilters.h"
#include "cleanup/CleanupSteps.h"
#include "cleanup/PackedMask.h"
#include "scan/ScanFilters.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct TFills;

// The clean-up's filters with the geometry of the centre lines: with Arcs or
// Snap the centre lines become a drawing of lines, arcs and circles; with
// Deskew the skew of the ink is found and the drawing (or the traced
// segments) turned back about the sheet's centre. The segments then hold the
// drawing, arcs and circles as chords within the tolerance. Without these
// options it is the clean-up's filters exactly.
class TGeometryFilters : public TScanFilters
{
public:
    explicit TGeometryFilters(const TCleanupOptions &options);

    TBlackMask Mask(const TTzDIB &image) const override;
    TBlackMask MaskFromRows(TPictureRows &rows, const TRowsOpener &reopen, int threads) const override;
    bool Segments(TScanState &state) const override;
    QString Note() const override { return Cleanup.Note(); }
    // The text told apart from the ink (before the centre lines), as the
    // clean-up's filters tell it apart.
    TTextPart TakeText() const override { return Cleanup.TakeText(); }
    void SetStop(std::function<bool()> stop) const override
    {
        Cleanup.SetStop(stop);
        TScanFilters::SetStop(std::move(stop));
    }
    // The centre lines, with Arcs, Snap or Linetypes.
    bool ReadsTracedMask() const override { return Options.Geometry(); }
    // With Arcs, Snap or Linetypes the drawing's segments replace the traced.
    bool ReadsSegments() const override { return !Options.Geometry(); }
    void TracedMask(TBlackMask &&mask) const override;

private:
    // The mask of the geometry from the clean-up's ink.
    TBlackMask FromInk(TBlackMask ink, int threads = 1) const;

    TCleanupOptions Options;
    TCleanupFilters Cleanup;
    // The ink the segment step reads (with the recognition or the widths):
    // packed from the thinning on, unpacked into Ink only for the steps
    // that read it all over.
    mutable TPackedMask PackedInk;
    mutable TBlackMask Ink;
    mutable TBlackMask Centre;
    mutable std::optional<double> Skew;
    // The threads the last mask from rows was made with, for the recognition.
    mutable int Threads = 1;
    // The fills found in the ink, for the segment step.
    std::shared_ptr<TFills> Fills;
    // The fills' mask while the recognition runs, packed.
    mutable TPackedMask PackedFills;
    mutable int SheetWidth = 0;
    mutable int SheetHeight = 0;
};
