#include "cleanup/CleanupFilters.h"

#include "base/Messages.h"
#include "base/Settings.h"
#include "cleanup/Centerline.h"
#include "cleanup/MergeSegments.h"
#include "cleanup/Threshold.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "scan/ScanPicture.h"
#include "scan/ScanState.h"
#include "scan/SegmentList.h"
#include "text/TextReader.h"
#include "text/TextSeparation.h"

namespace {

// The steps before any centre lines.
TCleanupOptions InkSteps(TCleanupOptions options)
{
    options.Centerline = false;
    options.Arcs = 0;
    options.Snap = 0;
    options.Linetypes = false;
    return options;
}

} // namespace

TBlackMask TCleanupFilters::Mask(const TTzDIB &image) const
{
    Text = TTextPart();
    TCleanupOptions options = Options;
    if (options.Threshold == TCleanupOptions::TThreshold::Automatic) {
        options.Threshold = TCleanupOptions::TThreshold::Level;
        options.ThresholdLevel = OtsuLevel(LuminanceHistogram(image));
        NoInk = options.ThresholdLevel == 0;
    }
    if (!Options.SeparatesText())
        return PackStrokes(CleanMask(image, options, KeptStrokes(options)));
    return Thinned(SplitText(CleanMask(image, InkSteps(options)), image.InternalDIB()->Header().biXPelsPerMeter));
}

TBlackMask TCleanupFilters::MaskFromRows(TPictureRows &rows, const TRowsOpener &reopen, int threads) const
{
    Text = TTextPart();
    Threads = threads;
    if (!Options.SeparatesText())
        return RowsMask(rows, reopen, threads, Options);
    return Thinned(Ink(rows, reopen, threads));
}

TBlackMask TCleanupFilters::RowsMask(TPictureRows &rows, const TRowsOpener &reopen, int threads,
                                     TCleanupOptions options) const
{
    if (options.Threshold == TCleanupOptions::TThreshold::Automatic) {
        int level = 0;
        TBlackMask mask = CleanMask(rows, reopen, options, threads, 0, KeptStrokes(options), &level);
        NoInk = level == 0;
        return PackStrokes(std::move(mask));
    }
    return PackStrokes(CleanMask(rows, reopen, options, threads, 0, KeptStrokes(options)));
}

TBlackMask TCleanupFilters::PackStrokes(TBlackMask mask) const
{
    PackedStrokes = TPackedMask();
    if (Strokes.Width() > 0) {
        PackedStrokes = TPackedMask(std::move(Strokes), Threads);
        Strokes = TBlackMask();
    }
    return mask;
}

TBlackMask *TCleanupFilters::KeptStrokes(const TCleanupOptions &options) const
{
    return options.Centerline && options.Merge > 0 ? &Strokes : nullptr;
}

TBlackMask TCleanupFilters::Ink(const TTzDIB &image) const
{
    TCleanupOptions options = InkSteps(Options);
    if (options.Threshold == TCleanupOptions::TThreshold::Automatic) {
        options.Threshold = TCleanupOptions::TThreshold::Level;
        options.ThresholdLevel = OtsuLevel(LuminanceHistogram(image));
        NoInk = options.ThresholdLevel == 0;
    }
    return SplitText(CleanMask(image, options), image.InternalDIB()->Header().biXPelsPerMeter);
}

TBlackMask TCleanupFilters::Ink(TPictureRows &rows, const TRowsOpener &reopen, int threads) const
{
    const int dotsPerMeter = rows.DotsPerMeterX();
    return SplitText(RowsMask(rows, reopen, threads, InkSteps(Options)), dotsPerMeter, threads);
}

TBlackMask TCleanupFilters::SplitText(TBlackMask ink, int dotsPerMeter, int threads) const
{
    Text = TTextPart();
    if (!Options.SeparatesText())
        return ink;
    TTextSeparation split = SeparateText(std::move(ink), TTextSizes::ForResolution(DotsPerInch(dotsPerMeter)), threads);
    if (!Options.Ocr.isEmpty())
        Text.Problem = ReadStrings(split.Text, split.Strings, TTextReading{Options.Ocr, Options.OcrData}, threads, Stop);
    Text.Mask = Options.Centerline ? Centerline(split.Text) : std::move(split.Text);
    Text.Strings = std::move(split.Strings);
    return std::move(split.Graphics);
}

TBlackMask TCleanupFilters::Thinned(TBlackMask ink) const
{
    if (!Options.Centerline && !Options.Geometry())
        return ink;
    TBlackMask thin = Centerline(ink);
    if (TBlackMask *strokes = KeptStrokes(Options))
        *strokes = std::move(ink);
    return PackStrokes(std::move(thin));
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
    const std::span<const TSegment> traced(list.Segments(), std::size_t(list.SegmentCount));
    // The traced segments go once they are drawn on the merge's grid, and
    // the strokes are unpacked only then.
    bool emptied = true;
    const std::vector<TSegment> merged =
        PackedStrokes.Width() > 0
            ? MergeCentreLines(
                  traced, Options.Merge,
                  [&]() -> const TBlackMask & {
                      Strokes = PackedStrokes.Unpack(Threads);
                      PackedStrokes = TPackedMask();
                      return Strokes;
                  },
                  Threads, [&] { emptied = list.ResetSegments(); })
            : MergeSegments(traced, Options.Merge);
    Strokes = TBlackMask();
    PackedStrokes = TPackedMask();
    if (!emptied || !list.ResetSegments())
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
    options.Linetypes = settings.CleanupLinetypes;
    if (const auto widths = TCleanupOptions::ParseWidths(settings.CleanupWidths, options))
        options = *widths;
    options.Fills = settings.CleanupFills;
    return options;
}
