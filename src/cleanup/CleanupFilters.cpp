#include "cleanup/CleanupFilters.h"

#include "app/core/Messages.h"
#include "app/core/Settings.h"
#include "cleanup/Threshold.h"
#include "cleanup/MergeSegments.h"
#include "scan/SegmentList.h"

TBlackMask TCleanupFilters::Mask(const TTzDIB &image) const
{
    TCleanupOptions options = Options;
    if (options.Threshold == TCleanupOptions::TThreshold::Automatic) {
        options.Threshold = TCleanupOptions::TThreshold::Level;
        options.ThresholdLevel = OtsuLevel(LuminanceHistogram(image));
        NoInk = options.ThresholdLevel == 0;
    }
    return CleanMask(image, options);
}

TBlackMask TCleanupFilters::MaskFromRows(TPictureRows &rows, const TRowsOpener &reopen, int threads) const
{
    TCleanupOptions options = Options;
    if (options.Threshold == TCleanupOptions::TThreshold::Automatic) {
        // The level from a first pass over the rows, the mask from a second.
        options.Threshold = TCleanupOptions::TThreshold::Level;
        options.ThresholdLevel = OtsuLevel(LuminanceHistogram(rows, threads));
        NoInk = options.ThresholdLevel == 0;
        const std::unique_ptr<TPictureRows> again = reopen();
        if (!again)
            throw ERowsRefused("The picture cannot be read a second time");
        return CleanMask(*again, reopen, options, threads);
    }
    return CleanMask(rows, reopen, options, threads);
}

QString TCleanupFilters::Note() const
{
    return NoInk ? Messages::NoInk() : QString();
}

bool TCleanupFilters::Segments(TSegmentList &list) const
{
    if (Options.Merge <= 0)
        return true;
    const std::vector<TSegment> merged =
        MergeSegments(std::span<const TSegment>(list.Segments(), std::size_t(list.SegmentCount)), Options.Merge);
    if (!list.ResetSegments())
        return false;
    // AddSegment takes rows (Y = image height - row); the extents stay.
    for (const TSegment &s : merged) {
        list.AddSegment(s.X1, list.ImageHeight - s.Y1, s.X2, list.ImageHeight - s.Y2);
        if (list.OutOfMemory)
            return false;
    }
    return true;
}

TCleanupOptions CleanupOptionsOf(const TSettings &settings)
{
    TCleanupOptions options;
    if (const auto threshold = TCleanupOptions::ParseThreshold(settings.CleanupThreshold, options))
        options = *threshold;
    options.Despeckle = std::max(settings.CleanupDespeckle, 0);
    options.Centerline = settings.CleanupCenterline;
    options.Merge = TCleanupOptions::ParseMerge(settings.CleanupMerge).value_or(0.0);
    return options;
}
