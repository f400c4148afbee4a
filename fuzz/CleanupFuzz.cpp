// The clean-up filters with random options on random small pictures: the
// threshold (exact black, a level, automatic), speck removal, centre lines and
// merging, from the whole picture and from its rows, then the line tracer.
// Both masks must be the same, and every segment must lie inside the picture:
// no crash, no hang, no access outside a buffer, no undefined behaviour.
//
//   fuzz-cleanup -max_len=8192 -timeout=30 <corpus folder>

#include "base/Errors.h"
#include "base/ProgressPort.h"
#include "cleanup/CleanupFilters.h"
#include "cleanup/CleanupSteps.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "scan/LineMode.h"
#include "scan/ScanState.h"
#include "scan/SegmentList.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The stored rows of a picture, as a row reader gives them.
class TDibRows : public TPictureRows
{
public:
    explicit TDibRows(const TTzDIB &dib) : Dib(dib)
    {
        FWidth = dib.Width();
        FHeight = dib.Height();
        FBitCount = dib.BitCount();
        FTopDown = true;
        for (int i = 0; i < 256 && FBitCount <= 8 && i < (1 << FBitCount); ++i) {
            const TColor c = dib.Colors(i);
            FColors[i] = TRGBQuad{std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), 0};
        }
    }
    void Read(std::uint8_t *rows, int count) override
    {
        for (int i = 0; i < count; ++i, ++Next)
            std::memcpy(rows + RowSize() * i, Dib.ScanLine(Next), std::size_t(RowSize()));
    }

private:
    const TTzDIB &Dib;
    int Next = 0;
};

bool SameMask(const TBlackMask &a, const TBlackMask &b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Line(y), b.Line(y), sizeof(std::uint64_t) * std::size_t(a.Words())) != 0)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 8)
        return 0;
    TCleanupOptions options;
    const int kind = data[0] % 3;
    options.Threshold = kind == 0   ? TCleanupOptions::TThreshold::Exact
                        : kind == 1 ? TCleanupOptions::TThreshold::Level
                                    : TCleanupOptions::TThreshold::Automatic;
    options.ThresholdLevel = data[1];
    options.Despeckle = data[2] % 24;
    options.Centerline = data[3] & 1;
    options.Merge = (data[3] >> 1) * 0.125;
    const int bits = (data[4] % 3 == 0) ? 1 : (data[4] % 3 == 1 ? 8 : 24);
    const int width = 1 + data[5] % 96, height = 1 + data[6] % 96;
    data += 7;
    size -= 7;
    try {
        TTzDIB dib;
        dib.SetBitCount(bits);
        dib.SetWidth(width);
        dib.SetHeight(height);
        if (bits == 8)
            for (int i = 0; i < 256; ++i)
                dib.SetColors(i, TColor(i * 0x010101));
        std::size_t at = 0;
        // The picture was made here, so its storage is not shared.
        for (int y = 0; y < height; ++y) {
            std::uint8_t *row = const_cast<std::uint8_t *>(dib.ScanLine(y));
            for (std::int64_t i = 0; i < dib.RowSize(); ++i)
                row[i] = at < size ? data[at++] : 0xFF;
        }
        const TCleanupFilters filters(options);
        const TBlackMask mask = filters.Mask(dib);
        TDibRows rows(dib);
        const TBlackMask fromRows =
            filters.MaskFromRows(rows, [&] { return std::unique_ptr<TPictureRows>(new TDibRows(dib)); }, 2);
        if (!SameMask(mask, fromRows))
            std::abort();
        TNoProgress progress;
        TScanState list;
        if (!list.ResetSegments())
            return 0;
        TraceLines(mask, list, progress);
        if (!filters.Segments(list))
            return 0;
        const TSegment *segments = list.Segments();
        for (std::int32_t i = 0; i < list.SegmentCount; ++i)
            for (const auto &[x, y] : {std::pair{segments[i].X1, segments[i].Y1}, std::pair{segments[i].X2, segments[i].Y2}})
                if (!(x >= 0 && x <= float(width) && y >= 0 && y <= float(height)))
                    std::abort();
    } catch (const ETrazbitError &) {
    } catch (const std::bad_alloc &) {
    }
    return 0;
}
