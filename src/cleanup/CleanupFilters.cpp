#include "cleanup/CleanupFilters.h"

#include "app/core/Settings.h"
#include "cleanup/Centerline.h"
#include "image/TzDIB.h"
#include "scan/ScanPicture.h"
#include "scan/SegmentList.h"
#include "text/TextReader.h"
#include "text/TextSeparation.h"
#include "scan/ScanState.h"

TBlackMask TCleanupFilters::Mask(const TTzDIB &image) const
{
    Text = TTextPart();
    if (!Options.SeparatesText())
        return CleanMask(image, Options);
    TCleanupOptions before = Options;
    before.Centerline = false;
    before.Arcs = 0;
    before.Snap = 0;
    TBlackMask graphics = SplitText(CleanMask(image, before), image);
    return Options.Centerline || Options.Geometry() ? Centerline(graphics) : graphics;
}

TBlackMask TCleanupFilters::SplitText(TBlackMask ink, const TTzDIB &image) const
{
    Text = TTextPart();
    if (!Options.SeparatesText())
        return ink;
    const int dpi = DotsPerInch(image.InternalDIB()->Header().biXPelsPerMeter);
    TTextSeparation split = SeparateText(ink, TTextSizes::ForResolution(dpi));
    ink = TBlackMask();
    if (!Options.Ocr.isEmpty())
        Text.Problem = ReadStrings(split.Text, split.Strings, TTextReading{Options.Ocr, Options.OcrData});
    Text.Mask = Options.Centerline ? Centerline(split.Text) : std::move(split.Text);
    Text.Strings = std::move(split.Strings);
    return std::move(split.Graphics);
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
