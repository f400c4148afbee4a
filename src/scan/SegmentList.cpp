#include "scan/SegmentList.h"

#include <utility>

#include "base/LargeBlock.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::int32_t kGrowth = 1024;
// A list that outgrows its first records takes this many at once (two
// megabytes: one large page).
constexpr std::size_t kLongList = (std::size_t(2) << 20) / sizeof(TSegment);
}

void TSegmentList::TFree::operator()(TSegment *block) const
{
    LargeBlock::Free(block);
}

bool TSegmentList::Reserve(std::size_t records)
{
    if (records <= Allocated)
        return true;
    std::size_t wanted = std::max(records, Allocated * 2);
    if (records > static_cast<std::size_t>(kGrowth) && !Piecewise)
        wanted = std::max(wanted, kLongList);
    wanted = std::min(wanted, CapacityLimit);
    if (wanted < records || wanted > std::numeric_limits<std::size_t>::max() / sizeof(TSegment))
        return false;
    void *grown = LargeBlock::Reallocate(Buffer.get(), wanted * sizeof(TSegment));
    if (!grown)
        return false;
    (void)Buffer.release();
    Buffer.reset(static_cast<TSegment *>(grown));
    Allocated = wanted;
    return true;
}

bool TSegmentList::ResetSegments()
{
    SegmentCount = 0;
    SegmentCapacity = kGrowth;
    OutOfMemory = false;
    // Earlier contents are dropped: a fresh block, not a copy of the old one.
    ReleaseSegments();
    SegmentCapacity = kGrowth;
    if (CapacityLimit < static_cast<std::size_t>(kGrowth) || !Reserve(static_cast<std::size_t>(kGrowth))) {
        ReleaseSegments();
        return false;
    }
    return true;
}

bool TSegmentList::ReuseSegments()
{
    if (!Buffer)
        return ResetSegments();
    SegmentCount = 0;
    SegmentCapacity = kGrowth;
    OutOfMemory = false;
    TextStart = -1;
    TextStrings.clear();
    return true;
}

void TSegmentList::ReleaseSegments()
{
    Buffer.reset();
    Allocated = 0;
    SegmentCount = 0;
    SegmentCapacity = 0;
    TextStart = -1;
    TextStrings.clear();
}

void TSegmentList::MoveRecordsTo(TSegmentList &to)
{
    to.Buffer = std::move(Buffer);
    to.Allocated = std::exchange(Allocated, 0);
    to.SegmentCount = std::exchange(SegmentCount, 0);
    to.SegmentCapacity = std::exchange(SegmentCapacity, 0);
}

void TSegmentList::StartExtents(float width, float height)
{
    MinX = 0;
    MinY = 0;
    MaxX = width;
    MaxY = height;
}

bool TSegmentList::Grow()
{
    if (SegmentCapacity <= std::numeric_limits<std::int32_t>::max() - kGrowth) {
        const std::int32_t capacity = SegmentCapacity + kGrowth;
        const auto needed = static_cast<std::size_t>(capacity);
        if (needed <= CapacityLimit && Reserve(needed)) {
            SegmentCapacity = capacity;
            return true;
        }
    }
    OutOfMemory = true;
    ReleaseSegments();
    return false;
}

bool TSegmentList::AppendRecords(const TSegment *records, std::int32_t count)
{
    if (count <= 0)
        return true;
    const std::int64_t total = std::int64_t(SegmentCount) + count;
    // The capacity that appending one by one would have reached.
    const std::int64_t capacity =
        std::max<std::int64_t>(SegmentCapacity, (total + kGrowth - 1) / kGrowth * kGrowth);
    if (capacity > std::numeric_limits<std::int32_t>::max()
        || static_cast<std::size_t>(capacity) > CapacityLimit
        || !Reserve(static_cast<std::size_t>(capacity))) {
        OutOfMemory = true;
        ReleaseSegments();
        return false;
    }
    TSegment *out = Buffer.get() + SegmentCount;
    std::memcpy(out, records, static_cast<std::size_t>(count) * sizeof(TSegment));
    // The rows as passed in come back exactly: rows and heights are whole
    // numbers far below 2^24.
    for (std::int32_t i = 0; i < count; ++i) {
        if (records[i].X2 > MaxX)
            MaxX = records[i].X2;
        const float row2 = ImageHeight - records[i].Y2;
        if (row2 > MaxY)
            MaxY = row2;
    }
    SegmentCount = static_cast<std::int32_t>(total);
    SegmentCapacity = static_cast<std::int32_t>(capacity);
    return true;
}
