#pragma once

// The segment list the tracers append to.
//   TSegmentList - records, extents and text strings; ResetSegments,
//                  AppendRecords and AddSegment report a failed growth (false,
//                  or OutOfMemory set) and never throw.

#include "scan/TextStrings.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

// One traced segment: pixel units of the converted image, Y growing upward.
struct TSegment
{
    float X1;
    float Y1;
    float X2;
    float Y2;
};
static_assert(sizeof(TSegment) == 16, "segments are stored back to back, 16 bytes each");

// The segment list the tracers append to, with the drawing's extents.
class TSegmentList
{
public:
    // The list. Records 0 .. SegmentCount - 1 are valid.
    const TSegment *Segments() const { return Buffer.get(); }
    std::int32_t SegmentCount = 0;
    // Grows by 1024 records whenever an append would exceed it.
    std::int32_t SegmentCapacity = 0;

    // Upper-right and lower-left corner of the drawing, pixel units.
    float MaxX = 0;
    float MaxY = 0;
    float MinX = 0;
    float MinY = 0;

    // Height of the image being converted: rows are flipped against it.
    float ImageHeight = 0;

    // Capacity 1024, count 0, earlier contents dropped. False when the buffer
    // cannot be had (the list is then released).
    bool ResetSegments();
    // Releases the buffer: count and capacity 0, no text.
    void ReleaseSegments();
    // Moves the records (and their buffer) into `to`, which loses its own;
    // this list is left with none, its extents and text as they were.
    void MoveRecordsTo(TSegmentList &to);
    // Empties the list as ResetSegments does but keeps the memory it has for
    // the next records (a work list used over and over).
    bool ReuseSegments();
    // Start of a conversion's extents: lower-left 0, upper-right the sheet's size.
    void StartExtents(float width, float height);

    // Appends (X1, H - Row1, X2, H - Row2) and raises MaxX/MaxY by the second
    // point (the row as passed in). A failed growth empties the list and sets
    // OutOfMemory; the tracer then stops.
    void AddSegment(float x1, float row1, float x2, float row2)
    {
        if (++SegmentCount > SegmentCapacity && !Grow())
            return;
        Buffer.get()[static_cast<std::size_t>(SegmentCount - 1)] =
            TSegment{x1, ImageHeight - row1, x2, ImageHeight - row2};
        if (x2 > MaxX)
            MaxX = x2;
        if (row2 > MaxY)
            MaxY = row2;
    }

    // Appends records made for the same image height as AddSegment would
    // have appended them one by one, capacity and extents included; false
    // (and the list released, OutOfMemory set) when the list cannot grow.
    bool AppendRecords(const TSegment *records, std::int32_t count);

    // With text told apart from the drawing: its strokes are records
    // TextStart .. SegmentCount - 1, string by string, and TextStrings the
    // strings found. -1 and none otherwise; ResetSegments clears both.
    std::int32_t TextStart = -1;
    TTextStrings TextStrings;

    // Set by a failed growth, cleared by ResetSegments.
    bool OutOfMemory = false;

    // A work list for the pieces of a longer one: it grows by doubling only,
    // without the jump to a large page that a long list takes (a piece far
    // smaller would hold the whole page).
    bool Piecewise = false;

    // For tests: growth beyond this many records fails as if memory ran out.
    std::size_t CapacityLimit = std::numeric_limits<std::size_t>::max();

private:
    bool Grow();
    // Room for at least `records` records; false when it cannot be had.
    bool Reserve(std::size_t records);

    struct TFree
    {
        void operator()(TSegment *block) const;
    };
    // Holds at least SegmentCapacity records. It grows geometrically underneath,
    // in place where the system can, so that long lists are not copied once per
    // 1024 records; records beyond SegmentCount are never cleared.
    std::unique_ptr<TSegment, TFree> Buffer;
    std::size_t Allocated = 0;
};
