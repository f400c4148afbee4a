// The whole picture path of a conversion: the bytes become a picture file of
// one of the registry's formats (the first byte picks which: the library's
// own BMP and DIB readers and every format the platform reads), are read
// through the registry of picture formats as the scan driver reads them, and
// their black mask goes through the three tracers (line, box, and line 2's run
// ends traced as lines). Every input must end in segments inside the picture
// or in one of the program's own errors: no crash, no hang, no access outside
// a buffer, no undefined behaviour.
//
//   fuzz-picture-path -max_len=65536 -timeout=30 -rss_limit_mb=4096 <corpus folder>
//
// Pictures of more than 4 million pixels are left out after their size is
// read (the readers take sheets far larger; tracing them only slows the run).

#include "base/Errors.h"
#include "base/ProgressPort.h"
#include "image/PictureFormats.h"
#include "image/TzDIB.h"
#include "scan/BlackMask.h"
#include "scan/BoxMode.h"
#include "scan/Line2Mode.h"
#include "scan/LineMode.h"
#include "scan/SegmentList.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>

#include <unistd.h>

namespace {

constexpr qint64 kMostPixels = qint64(1) << 22;

const TPictureFormats &Formats()
{
    static int argc = 1;
    static char name[] = "fuzz-picture-path";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static const TPictureFormats formats = [] {
        TPictureFormats f;
        f.RegisterBuiltIns();
        return f;
    }();
    return formats;
}

// Every segment lies inside the picture: the writers rely on it when they
// check the drawing's extents against a float's range.
void CheckInside(const TSegmentList &list)
{
    const TSegment *segments = list.Segments();
    for (std::int32_t i = 0; i < list.SegmentCount; ++i)
        for (const float v : {segments[i].X1, segments[i].X2})
            if (!(v >= list.MinX && v <= list.MaxX))
                std::abort();
    for (std::int32_t i = 0; i < list.SegmentCount; ++i)
        for (const float v : {segments[i].Y1, segments[i].Y2})
            if (!(v >= list.MinY && v <= list.MaxY))
                std::abort();
}

void Trace(const TBlackMask &mask)
{
    TNoProgress progress;
    TSegmentList list;
    if (!list.ResetSegments())
        return;
    TraceLines(mask, list, progress);
    CheckInside(list);
    if (!list.ResetSegments())
        return;
    TraceBoxes(mask, list, progress);
    CheckInside(list);
    if (!list.ResetSegments())
        return;
    TraceLines(RunEnds(mask, progress), list, progress);
    CheckInside(list);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const TPictureFormats &formats = Formats();
    if (size < 1)
        return 0;
    const auto &all = formats.Formats();
    const TPictureFormat &format = all[data[0] % all.size()];
    static const QString folder = QFile::exists(QStringLiteral("/dev/shm")) ? QStringLiteral("/dev/shm")
                                                                            : QStringLiteral("/tmp");
    const QString path = QStringLiteral("%1/fuzz-picture-%2.%3").arg(folder).arg(::getpid()).arg(format.Extension);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1));
    }
    QImageReader probe(path);
    probe.setDecideFormatFromContent(true);
    const QSize declared = probe.size();
    if (declared.isValid() && qint64(declared.width()) * declared.height() > kMostPixels)
        return 0;
    try {
        TTzDIB picture;
        formats.Load(path, picture);
        if (qint64(picture.Width()) * picture.Height() > kMostPixels)
            return 0;
        Trace(TBlackMask::FromImage(picture));
    } catch (const ETrazbitError &) {
    } catch (const std::bad_alloc &) {
    }
    return 0;
}
