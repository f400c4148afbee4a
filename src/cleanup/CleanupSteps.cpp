#include "cleanup/CleanupSteps.h"

#include "cleanup/Centerline.h"
#include "cleanup/NoiseRemoval.h"
#include "cleanup/MergeSegments.h"
#include "cleanup/Threshold.h"
#include "image/PictureRows.h"

#include <QStringList>

#include <cmath>
#include <stdexcept>

std::optional<TCleanupOptions> TCleanupOptions::ParseThreshold(const QString &text, TCleanupOptions options)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        options.Threshold = TThreshold::Exact;
        return options;
    }
    if (t.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0) {
        options.Threshold = TThreshold::Automatic;
        return options;
    }
    bool ok = false;
    const int level = t.toInt(&ok);
    if (!ok || level < 0 || level > 255)
        return std::nullopt;
    options.Threshold = TThreshold::Level;
    options.ThresholdLevel = level;
    return options;
}

std::optional<double> TCleanupOptions::ParseMerge(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return 0.0;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0)
        return std::nullopt;
    return v;
}

std::optional<double> TCleanupOptions::ParseSnap(const QString &text)
{
    const std::optional<double> v = ParseMerge(text);
    if (!v || *v > 45)
        return std::nullopt;
    return v;
}

std::optional<int> TCleanupOptions::ParseDespeckle(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return 0;
    bool ok = false;
    const int v = t.toInt(&ok);
    if (!ok || v < 0)
        return std::nullopt;
    return v;
}

std::optional<QString> TCleanupOptions::ParseOcr(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return t;
    for (const QString &language : t.split(QLatin1Char('+'))) {
        if (language.isEmpty())
            return std::nullopt;
        for (const QChar c : language)
            if (c.unicode() > 127 || !(c.isLetterOrNumber() || c == QLatin1Char('_')))
                return std::nullopt;
    }
    return t;
}

std::optional<TCleanupOptions> TCleanupOptions::ParseWidths(const QString &text, TCleanupOptions options)
{
    const QString t = text.trimmed();
    options.WidthClasses.clear();
    options.WidthLayers = !t.isEmpty();
    if (t.isEmpty() || t.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
        return options;
    for (const QString &part : t.split(QLatin1Char(','))) {
        bool ok = false;
        const double v = part.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v) || v <= 0)
            return std::nullopt;
        options.WidthClasses.push_back(v);
    }
    return options;
}

QString TCleanupOptions::ArcsText() const
{
    return Arcs > 0 ? QString::number(Arcs) : QString();
}

QString TCleanupOptions::SnapText() const
{
    return Snap > 0 ? QString::number(Snap) : QString();
}

namespace {

TBlackMask CleanedMask(TBlackMask mask, const TCleanupOptions &options, int threads = 1,
                       TBlackMask *strokes = nullptr)
{
    if (options.Despeckle > 0)
        mask = Despeckle(std::move(mask), options.Despeckle);
    if (options.Centerline || options.Geometry()) {
        TBlackMask thin = Centerline(mask, threads);
        if (strokes)
            *strokes = std::move(mask);
        mask = std::move(thin);
    }
    return mask;
}

} // namespace

TBlackMask CleanMask(const TTzDIB &image, const TCleanupOptions &options, TBlackMask *strokes)
{
    TBlackMask mask;
    switch (options.Threshold) {
    case TCleanupOptions::TThreshold::Level:
        mask = ThresholdMask(image, options.ThresholdLevel);
        break;
    case TCleanupOptions::TThreshold::Automatic:
        mask = ThresholdMask(image, OtsuLevel(LuminanceHistogram(image)));
        break;
    default:
        mask = TBlackMask::FromImage(image);
        break;
    }
    return CleanedMask(std::move(mask), options, 1, strokes);
}

TBlackMask CleanMask(TPictureRows &rows, const TRowsOpener &reopen, const TCleanupOptions &options, int threads,
                     std::int64_t bandBytes, TBlackMask *strokes, int *level)
{
    TBlackMask mask;
    switch (options.Threshold) {
    case TCleanupOptions::TThreshold::Level:
        mask = ThresholdMask(rows, options.ThresholdLevel, threads, bandBytes);
        break;
    case TCleanupOptions::TThreshold::Automatic: {
        TOtsuMask otsu = OtsuMask(rows, reopen, threads, bandBytes);
        if (level)
            *level = otsu.Level;
        mask = std::move(otsu.Mask);
        break;
    }
    default:
        mask = TBlackMask::FromRows(rows, threads, bandBytes);
        break;
    }
    return CleanedMask(std::move(mask), options, threads, strokes);
}

std::vector<TSegment> CleanSegments(std::vector<TSegment> segments, const TCleanupOptions &options,
                                    const TBlackMask *strokes)
{
    if (options.Merge > 0 && options.Centerline && strokes)
        return MergeCentreLines(segments, options.Merge, *strokes);
    if (options.Merge > 0)
        return MergeSegments(segments, options.Merge);
    return segments;
}
