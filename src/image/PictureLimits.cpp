#include "image/PictureLimits.h"

#include <atomic>

#include <unistd.h>

namespace PictureLimits {

namespace {

std::atomic<std::int64_t> Most{0};

} // namespace

std::int64_t DefaultMostPixels()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::int64_t(1) << 34;
    return std::int64_t(pages) * pageSize / 2 * 8;
}

std::int64_t MostPixels()
{
    const std::int64_t most = Most.load();
    return most > 0 ? most : DefaultMostPixels();
}

void SetMostPixels(std::int64_t pixels)
{
    Most = pixels > 0 ? pixels : 0;
}

void Check(std::int64_t width, std::int64_t height)
{
    if (width < 0)
        width = -width;
    if (height < 0)
        height = -height;
    const std::int64_t most = MostPixels();
    if (width > kMostPictureSide || height > kMostPictureSide)
        throw EPictureTooLarge(QStringLiteral("The picture of %1 x %2 pixels is too large: each side may have %3 pixels at most")
                                   .arg(width)
                                   .arg(height)
                                   .arg(kMostPictureSide));
    if (width * height > most)
        throw EPictureTooLarge(QStringLiteral("The picture of %1 x %2 pixels is too large: %3 pixels at most (--max-pixels)")
                                   .arg(width)
                                   .arg(height)
                                   .arg(most));
}

} // namespace PictureLimits
