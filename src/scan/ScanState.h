#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

class TUserInterface;

// One traced segment: pixel units of the converted image, Y growing upward.
struct TSegment
{
    float X1;
    float Y1;
    float X2;
    float Y2;
};
static_assert(sizeof(TSegment) == 16, "segments are stored back to back, 16 bytes each");

// The segment list and the scan state the main window keeps for the whole run:
// the product of every conversion and the only input of every export.
class TScanState
{
public:
    explicit TScanState(TUserInterface &ui);

    // The list. Records 0 .. SegmentCount - 1 are valid.
    const TSegment *Segments() const { return Buffer.data(); }
    std::int32_t SegmentCount = 0;
    // Grows by 1024 records whenever an append would exceed it.
    std::int32_t SegmentCapacity = 0;

    // Upper-right and lower-left corner of the drawing, pixel units.
    float MaxX = 0;
    float MaxY = 0;
    float MinX = 0;
    float MinY = 0;

    // True only after a conversion that ended without error or cancel.
    bool DataConverted = false;
    // Set by the progress window's cancel button and by a failed growth.
    bool CancelScan = false;
    // The magnification the last save or copy took from the magnification edit.
    float Magnification = 0;
    // Full path of the last file picked for conversion.
    QString SourceFileName;

    // Height of the image being converted: rows are flipped against it.
    float ImageHeight = 0;

    // Capacity 1024, count 0, earlier contents dropped. False (and the message
    // shown) when the buffer cannot be had.
    bool ResetSegments();
    // Releases the buffer: count and capacity 0.
    void ReleaseSegments();
    // Start of a conversion's extents: lower-left 0, upper-right the sheet's size.
    void StartExtents(float width, float height);

    // Appends (X1, H - Row1, X2, H - Row2) and raises MaxX/MaxY by the second point
    // (the row as passed in). A failed growth empties the list, sets CancelScan and
    // shows "メモリが確保出来ませんでした。".
    void AddSegment(float x1, float row1, float x2, float row2)
    {
        if (++SegmentCount > SegmentCapacity && !Grow())
            return;
        Buffer[static_cast<std::size_t>(SegmentCount - 1)] =
            TSegment{x1, ImageHeight - row1, x2, ImageHeight - row2};
        if (x2 > MaxX)
            MaxX = x2;
        if (row2 > MaxY)
            MaxY = row2;
    }

    // For tests: growth beyond this many records fails as if memory ran out.
    std::size_t CapacityLimit = std::numeric_limits<std::size_t>::max();

private:
    bool Grow();

    TUserInterface &UI;
    // Holds at least SegmentCapacity records; it grows geometrically underneath so
    // that long lists are not copied once per 1024 records.
    std::vector<TSegment> Buffer;
};
