#include "cleanup/CleanupFilters.h"

#include "app/core/Messages.h"
#include "app/core/Settings.h"
#include "cleanup/Threshold.h"
#include "image/PictureRows.h"
#include "scan/ScanState.h"

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

TBlackMask TCleanupFilters::RowsMask(TPictureRows &rows, const TReopenRows &reopen, int threads) const
{
    TCleanupOptions options = Options;
    if (options.Threshold == TCleanupOptions::TThreshold::Automatic) {
        options.Threshold = TCleanupOptions::TThreshold::Level;
        options.ThresholdLevel = OtsuLevel(LuminanceHistogram(rows));
        NoInk = options.ThresholdLevel == 0;
        const std::unique_ptr<TPictureRows> again = reopen();
        return CleanMask(*again, options, threads);
    }
    return CleanMask(rows, options, threads);
}

QString TCleanupFilters::Note() const
{
    return NoInk ? Messages::NoInk() : QString();
}

bool TCleanupFilters::Segments(TScanState &list) const
{
    if (Options.Merge <= 0)
        return true;
    const std::vector<TSegment> traced(list.Segments(), list.Segments() + list.SegmentCount);
    const std::vector<TSegment> merged = CleanSegments(traced, Options);
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
    options.Arcs = TCleanupOptions::ParseMerge(settings.CleanupArcs).value_or(0.0);
    options.Snap = TCleanupOptions::ParseSnap(settings.CleanupSnap).value_or(0.0);
    options.Deskew = settings.CleanupDeskew;
    return options;
}
