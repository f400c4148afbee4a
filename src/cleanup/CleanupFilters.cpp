#include "cleanup/CleanupFilters.h"

#include "app/core/Messages.h"
#include "app/core/Settings.h"
#include "cleanup/Centerline.h"
#include "cleanup/Threshold.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "scan/ScanPicture.h"
#include "scan/ScanState.h"
#include "scan/SegmentList.h"
#include "text/TextReader.h"
#include "text/TextSeparation.h"

template <class Histogram>
TCleanupOptions TCleanupFilters::Resolved(Histogram &&histogram) const
{
    TCleanupOptions options = Options;
    if (options.Threshold == TCleanupOptions::TThreshold::Automatic) {
        options.Threshold = TCleanupOptions::TThreshold::Level;
        options.ThresholdLevel = OtsuLevel(histogram());
        NoInk = options.ThresholdLevel == 0;
    }
    return options;
}

// The steps before any centre lines.
static TCleanupOptions InkSteps(TCleanupOptions options)
{
    options.Centerline = false;
    options.Arcs = 0;
    options.Snap = 0;
    return options;
}

TBlackMask TCleanupFilters::Mask(const TTzDIB &image) const
{
    Text = TTextPart();
    if (!Options.SeparatesText())
        return CleanMask(image, Resolved([&] { return LuminanceHistogram(image); }));
    return Thinned(Ink(image));
}

TBlackMask TCleanupFilters::RowsMask(TPictureRows &rows, const TReopenRows &reopen, int threads) const
{
    Text = TTextPart();
    if (!Options.SeparatesText()) {
        const TCleanupOptions options = Resolved([&] { return LuminanceHistogram(rows); });
        if (Options.Threshold == TCleanupOptions::TThreshold::Automatic) {
            const std::unique_ptr<TPictureRows> again = reopen();
            return CleanMask(*again, options, threads);
        }
        return CleanMask(rows, options, threads);
    }
    return Thinned(Ink(rows, reopen, threads));
}

TBlackMask TCleanupFilters::Ink(const TTzDIB &image) const
{
    const TCleanupOptions options = InkSteps(Resolved([&] { return LuminanceHistogram(image); }));
    return SplitText(CleanMask(image, options), image.InternalDIB()->Header().biXPelsPerMeter);
}

TBlackMask TCleanupFilters::Ink(TPictureRows &rows, const TReopenRows &reopen, int threads) const
{
    const int dotsPerMeter = rows.DotsPerMeterX();
    const TCleanupOptions options = InkSteps(Resolved([&] { return LuminanceHistogram(rows); }));
    if (Options.Threshold == TCleanupOptions::TThreshold::Automatic) {
        const std::unique_ptr<TPictureRows> again = reopen();
        return SplitText(CleanMask(*again, options, threads), dotsPerMeter);
    }
    return SplitText(CleanMask(rows, options, threads), dotsPerMeter);
}

TBlackMask TCleanupFilters::SplitText(TBlackMask ink, int dotsPerMeter) const
{
    Text = TTextPart();
    if (!Options.SeparatesText())
        return ink;
    TTextSeparation split = SeparateText(ink, TTextSizes::ForResolution(DotsPerInch(dotsPerMeter)));
    ink = TBlackMask();
    if (!Options.Ocr.isEmpty())
        Text.Problem = ReadStrings(split.Text, split.Strings, TTextReading{Options.Ocr, Options.OcrData});
    Text.Mask = Options.Centerline ? Centerline(split.Text) : std::move(split.Text);
    Text.Strings = std::move(split.Strings);
    return std::move(split.Graphics);
}

TBlackMask TCleanupFilters::Thinned(TBlackMask ink) const
{
    return Options.Centerline || Options.Geometry() ? Centerline(ink) : ink;
}

QString TCleanupFilters::Note() const
{
    return NoInk ? Messages::NoInk() : QString();
}

TScanFilters::TTextPart TCleanupFilters::TakeText() const
{
    return std::move(Text);
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
    options.TextLayer = settings.CleanupTextLayer;
    options.Ocr = TCleanupOptions::ParseOcr(settings.CleanupOcr).value_or(QString());
    options.OcrData = settings.CleanupOcrData;
    options.Arcs = TCleanupOptions::ParseMerge(settings.CleanupArcs).value_or(0.0);
    options.Snap = TCleanupOptions::ParseSnap(settings.CleanupSnap).value_or(0.0);
    options.Deskew = settings.CleanupDeskew;
    return options;
}
