#include "image/CodecRows.h"

#include <QImageReader>

#include <climits>

bool PlatformAllocates(std::int64_t width, std::int64_t height, int depth)
{
    // The size test of the platform's image allocation: a line of whole
    // 32-bit words, and no more megabytes than its readers' allocation limit.
    if (width <= 0 || height <= 0 || width > INT_MAX / depth)
        return false;
    const std::int64_t bytesPerLine = (width * depth + 31) / 32 * 4;
    if (height > INT64_MAX / bytesPerLine)
        return false;
    const std::int64_t total = bytesPerLine * height;
    const std::int64_t limit = QImageReader::allocationLimit();
    return limit == 0 || total <= limit * (std::int64_t(1) << 20);
}
