#include "scan/ScanState.h"

#include "app/core/UserInterface.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace {
constexpr std::int32_t kGrowth = 1024;
const QString kOutOfMemory = QStringLiteral("メモリが確保出来ませんでした。");
}

TScanState::TScanState(TUserInterface &ui) : UI(ui)
{
}

bool TScanState::ResetSegments()
{
    SegmentCount = 0;
    SegmentCapacity = kGrowth;
    try {
        if (CapacityLimit < static_cast<std::size_t>(kGrowth))
            throw std::bad_alloc();
        std::vector<TSegment>(static_cast<std::size_t>(kGrowth)).swap(Buffer);
    } catch (const std::exception &) {
        ReleaseSegments();
        UI.ShowMessage(kOutOfMemory);
        return false;
    }
    return true;
}

void TScanState::ReleaseSegments()
{
    std::vector<TSegment>().swap(Buffer);
    SegmentCount = 0;
    SegmentCapacity = 0;
}

void TScanState::StartExtents(float width, float height)
{
    MinX = 0;
    MinY = 0;
    MaxX = width;
    MaxY = height;
}

bool TScanState::Grow()
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
        CancelScan = true;
        ReleaseSegments();
        UI.ShowMessage(kOutOfMemory);
        return false;
    }
}
