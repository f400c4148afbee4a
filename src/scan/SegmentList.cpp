#include "scan/SegmentList.h"

#include "app/core/LargeBlock.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::int32_t kGrowth = 1024;
}

void TSegmentList::TFree::operator()(TSegment *block) const
{
    LargeBlock::Free(block);
}

bool TSegmentList::Reserve(std::size_t records)
{
    if (records <= Allocated)
        return true;
    const std::size_t wanted = std::min(std::max(records, Allocated * 2), CapacityLimit);
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

void TSegmentList::ReleaseSegments()
{
    Buffer.reset();
    Allocated = 0;
    SegmentCount = 0;
    SegmentCapacity = 0;
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

bool TSegmentList::AppendList(const TSegmentList &other)
{
    if (other.SegmentCount == 0)
        return true;
    const std::int64_t count = std::int64_t(SegmentCount) + other.SegmentCount;
    // The capacity that appending one by one would have reached.
    const std::int64_t capacity = std::max<std::int64_t>(SegmentCapacity, (count + kGrowth - 1) / kGrowth * kGrowth);
    if (capacity > std::numeric_limits<std::int32_t>::max()
        || static_cast<std::size_t>(capacity) > CapacityLimit
        || !Reserve(static_cast<std::size_t>(capacity))) {
        OutOfMemory = true;
        ReleaseSegments();
        return false;
    }
    std::memcpy(Buffer.get() + SegmentCount, other.Buffer.get(),
                static_cast<std::size_t>(other.SegmentCount) * sizeof(TSegment));
    SegmentCount = static_cast<std::int32_t>(count);
    SegmentCapacity = static_cast<std::int32_t>(capacity);
    MaxX = std::max(MaxX, other.MaxX);
    MaxY = std::max(MaxY, other.MaxY);
    return true;
}
