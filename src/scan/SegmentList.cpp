#include "scan/SegmentList.h"

#include <algorithm>
#include <exception>
#include <new>

namespace {
constexpr std::int32_t kGrowth = 1024;
}

bool TSegmentList::ResetSegments()
{
    SegmentCount = 0;
    SegmentCapacity = kGrowth;
    OutOfMemory = false;
    try {
        if (CapacityLimit < static_cast<std::size_t>(kGrowth))
            throw std::bad_alloc();
        std::vector<TSegment>(static_cast<std::size_t>(kGrowth)).swap(Buffer);
    } catch (const std::exception &) {
        ReleaseSegments();
        return false;
    }
    return true;
}

void TSegmentList::ReleaseSegments()
{
    std::vector<TSegment>().swap(Buffer);
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
    try {
        if (SegmentCapacity > std::numeric_limits<std::int32_t>::max() - kGrowth)
            throw std::bad_alloc();
        const std::int32_t capacity = SegmentCapacity + kGrowth;
        const auto needed = static_cast<std::size_t>(capacity);
        if (needed > CapacityLimit)
            throw std::bad_alloc();
        if (Buffer.size() < needed)
            Buffer.resize(std::min(std::max(needed, Buffer.size() * 2), CapacityLimit));
        SegmentCapacity = capacity;
        return true;
    } catch (const std::exception &) {
        OutOfMemory = true;
        ReleaseSegments();
        return false;
    }
}
