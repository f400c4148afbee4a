// Measures the clean-up on drawings whose ink is known.
//
//   CleanupMeasure draw DIR
//       writes DIR/sheet.bmp (clean 1-bit scan, 6000 x 4200), DIR/sheet-grey.jpg
//       (the same drawn in grey with noise, JPEG), DIR/a0.bmp and DIR/a0.pbm
//       (an A0 sheet at 400 dpi, 13244 x 18722, 1 bit).
//   CleanupMeasure measure CLEAN.bmp [--scan PICTURE] [--mode 1|2|3]
//                  [--threshold N|auto] [--despeckle N] [--centerline] [--merge T]
//       traces PICTURE (default CLEAN.bmp) with the clean-up and prints the
//       segment count against plain line mode on CLEAN.bmp, the share of the
//       segments' length within 1.5 px of CLEAN.bmp's ink and the share of the
//       ink pixels that have a segment inside their stroke.
//   CleanupMeasure view PICTURE OUT.png X Y W H [options as above]
//       the part of the picture, four times enlarged, with the segments in red.
//
// The whole way from picture to DXF file is timed with trazbit-cli itself.

#include "CleanupDrawings.h"

#include "cleanup/CleanupSteps.h"
#include "image/TzDIB.h"
#include "base/ProgressPort.h"
#include "scan/BoxMode.h"
#include "scan/Line2Mode.h"
#include "scan/LineMode.h"
#include "scan/SegmentList.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct TRun
{
    TCleanupOptions Options;
    int Mode = 1;
    QString Scan;
    QString Uncovered;  // picture of the ink pixels no segment reaches
};

bool ParseOptions(const QStringList &args, int from, TRun &run)
{
    for (int i = from; i < args.size(); ++i) {
        const QString &a = args[i];
        auto next = [&]() { return i + 1 < args.size() ? args[++i] : QString(); };
        if (a == QLatin1String("--centerline")) {
            run.Options.Centerline = true;
        } else if (a == QLatin1String("--threshold")) {
            const auto o = TCleanupOptions::ParseThreshold(next(), run.Options);
            if (!o)
                return false;
            run.Options = *o;
        } else if (a == QLatin1String("--despeckle")) {
            const auto d = TCleanupOptions::ParseDespeckle(next());
            if (!d)
                return false;
            run.Options.Despeckle = *d;
        } else if (a == QLatin1String("--merge")) {
            const auto m = TCleanupOptions::ParseMerge(next());
            if (!m)
                return false;
            run.Options.Merge = *m;
        } else if (a == QLatin1String("--mode")) {
            run.Mode = next().toInt();
        } else if (a == QLatin1String("--uncovered")) {
            run.Uncovered = next();
        } else if (a == QLatin1String("--scan")) {
            run.Scan = next();
        } else {
            return false;
        }
    }
    return true;
}

TTzDIB LoadPicture(const QString &path)
{
    TTzDIB dib;
    if (path.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive)) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            dib.LoadFromStream(file);
    } else {
        dib.Assign(QImage(path));
    }
    return dib;
}

std::vector<TSegment> Trace(const TBlackMask &mask, int mode)
{
    TSegmentList list;
    list.ResetSegments();
    TNoProgress progress;
    if (mode == 2)
        TraceBoxes(mask, list, progress);
    else if (mode == 3)
        TraceLines(RunEnds(mask, progress), list, progress);
    else
        TraceLines(mask, list, progress);
    return std::vector<TSegment>(list.Segments(), list.Segments() + list.SegmentCount);
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Distance from (x, y) (picture pixels, rows down) to the nearest pixel of the
// given colour, searched up to `cap`.
double Nearest(const TBlackMask &ink, double x, double y, bool black, int cap)
{
    const int cx = int(std::lround(x)), cy = int(std::lround(y));
    double best = cap + 1;
    for (int r = 0; r <= cap; ++r) {
        if (r - 1 > best)
            break;
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx) {
                if (std::max(std::abs(dx), std::abs(dy)) != r)
                    continue;
                if (ink.Black(cx + dx, cy + dy) == black) {
                    const double d = std::hypot(cx + dx - x, cy + dy - y);
                    best = std::min(best, d);
                }
            }
    }
    return best;
}

int Measure(const QString &cleanPath, const TRun &run)
{
    const TTzDIB clean = LoadPicture(cleanPath);
    const TBlackMask ink = TBlackMask::FromImage(clean);
    const auto plain = Trace(ink, 1);
    const TTzDIB scan = run.Scan.isEmpty() ? clean : LoadPicture(run.Scan);
    const auto start = std::chrono::steady_clock::now();
    const TBlackMask mask = CleanMask(scan, run.Options);
    const double maskSeconds = Seconds(start);
    const auto traced = Trace(mask, run.Mode);
    const double traceSeconds = Seconds(start) - maskSeconds;
    const auto segments = CleanSegments(traced, run.Options);
    const double mergeSeconds = Seconds(start) - maskSeconds - traceSeconds;

    const double height = ink.Height();
    // Box mode's corners lie half a pixel off the pixel centres.
    const double shift = run.Mode == 2 ? -0.5 : 0.0;
    double length = 0, nearLength = 0;
    TBlackMask covered(ink.Width(), ink.Height());
    for (const TSegment &s : segments) {
        const double x1 = s.X1 + shift, y1 = height - s.Y1 + shift, x2 = s.X2 + shift, y2 = height - s.Y2 + shift;
        const double len = std::hypot(x2 - x1, y2 - y1);
        length += len;
        const int steps = std::max(1, int(std::ceil(len / 0.25)));
        for (int k = 0; k <= steps; ++k) {
            const double t = double(k) / steps, x = x1 + t * (x2 - x1), y = y1 + t * (y2 - y1);
            if (k < steps && Nearest(ink, x, y, true, 2) <= 1.5)
                nearLength += len / steps;
            if (k % 4)
                continue;
            // Every ink pixel within the stroke's half width (and one pixel)
            // of the segment counts as traced.
            const int cx = int(std::lround(x)), cy = int(std::lround(y));
            // Reach: the stroke's half width at the sample (at least half a
            // pixel, a sample beside a one-pixel line too) and one pixel more.
            const double reach = (ink.Black(cx, cy) ? std::max(Nearest(ink, x, y, false, 40), 0.5) : 0.5) + 1.0;
            const int r = int(std::ceil(reach));
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx)
                    if (std::hypot(dx, dy) <= reach && ink.Black(cx + dx, cy + dy))
                        covered.SetBlack(cx + dx, cy + dy);
        }
    }
    long long inkPixels = 0, coveredPixels = 0;
    for (int y = 0; y < ink.Height(); ++y)
        for (int i = 0; i < ink.Words(); ++i) {
            inkPixels += std::popcount(ink.Line(y)[i]);
            coveredPixels += std::popcount(covered.Line(y)[i]);
        }
    if (!run.Uncovered.isEmpty()) {
        QImage out(ink.Width(), ink.Height(), QImage::Format_RGB32);
        out.fill(Qt::white);
        for (int y = 0; y < ink.Height(); ++y)
            for (int x = 0; x < ink.Width(); ++x)
                if (ink.Black(x, y))
                    out.setPixel(x, y, covered.Black(x, y) ? qRgb(200, 200, 200) : qRgb(255, 0, 0));
        out.save(run.Uncovered);
    }
    long long maskPixels = 0, agree = 0;
    for (int y = 0; y < ink.Height(); ++y)
        for (int i = 0; i < ink.Words(); ++i) {
            maskPixels += std::popcount(mask.Line(y)[i]);
            agree += std::popcount(mask.Line(y)[i] & ink.Line(y)[i]);
        }
    std::printf("plain line mode %zu segments; cleaned %zu segments (%.2f %% of plain, traced %zu)\n",
                plain.size(), segments.size(), 100.0 * double(segments.size()) / double(std::max<size_t>(plain.size(), 1)),
                traced.size());
    std::printf("length within 1.5 px of ink: %.3f %% of %.0f px\n", 100 * nearLength / std::max(length, 1e-9), length);
    std::printf("ink pixels with a segment in their stroke: %.3f %% of %lld\n",
                100.0 * double(coveredPixels) / double(std::max(inkPixels, 1LL)), inkPixels);
    if (!run.Options.Centerline)
        std::printf("mask: %lld pixels, %lld of them ink of the clean scan (%.3f %%), clean ink %lld\n", maskPixels,
                    agree, 100.0 * double(agree) / double(std::max(maskPixels, 1LL)), inkPixels);
    std::printf("seconds: mask %.3f, trace %.3f, merge %.3f\n", maskSeconds, traceSeconds, mergeSeconds);
    return 0;
}

int View(const QStringList &args, const TRun &run)
{
    const TTzDIB picture = LoadPicture(args[2]);
    const int x0 = args[4].toInt(), y0 = args[5].toInt(), w = args[6].toInt(), h = args[7].toInt();
    const TBlackMask mask = CleanMask(picture, run.Options);
    const auto segments = CleanSegments(Trace(mask, run.Mode), run.Options);
    QImage full;
    picture.AssignTo(full);
    const int z = qEnvironmentVariableIsSet("VIEW_ZOOM") ? qEnvironmentVariableIntValue("VIEW_ZOOM") : 4;
    QImage out = full.copy(x0, y0, w, h).convertToFormat(QImage::Format_RGB32).scaled(w * z, h * z);
    QPainter p(&out);
    // Lighten the picture so that the lines stand out; the mask in grey.
    p.fillRect(out.rect(), QColor(255, 255, 255, 150));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (mask.Black(x0 + x, y0 + y))
                p.fillRect(x * z + 1, y * z + 1, z - 2, z - 2, QColor(0, 160, 0));
    p.setPen(QPen(Qt::red, 1.5));
    const double H = mask.Height();
    const double shift = run.Mode == 2 ? 0 : 0.5;
    for (const TSegment &s : segments)
        p.drawLine(QPointF((s.X1 - x0 + shift) * z, (H - s.Y1 - y0 + shift) * z),
                   QPointF((s.X2 - x0 + shift) * z, (H - s.Y2 - y0 + shift) * z));
    p.setPen(Qt::blue);
    p.setBrush(Qt::blue);
    for (const TSegment &s : segments) {
        p.drawEllipse(QPointF((s.X1 - x0 + shift) * z, (H - s.Y1 - y0 + shift) * z), 2, 2);
        p.drawEllipse(QPointF((s.X2 - x0 + shift) * z, (H - s.Y2 - y0 + shift) * z), 2, 2);
    }
    p.end();
    std::printf("%zu segments\n", segments.size());
    return out.save(args[3]) ? 0 : 1;
}

int Draw(const QString &dir)
{
    QDir().mkpath(dir);
    const QImage sheet = MakeDrawing(6000, 4200, TDrawingStyle{});
    TTzDIB dib;
    dib.Assign(sheet.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither));
    QFile bmp(dir + QStringLiteral("/sheet.bmp"));
    if (!bmp.open(QIODevice::WriteOnly))
        return 1;
    dib.SaveToStream(bmp);
    bmp.close();
    MakeDrawing(6000, 4200, TDrawingStyle{true, true}).save(dir + QStringLiteral("/sheet-grey.jpg"), "JPEG", 75);
    const QImage a0 = MakeDrawing(13244, 18722, TDrawingStyle{}).convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    dib.Assign(a0);
    QFile a0bmp(dir + QStringLiteral("/a0.bmp"));
    if (!a0bmp.open(QIODevice::WriteOnly))
        return 1;
    dib.SaveToStream(a0bmp);
    a0.save(dir + QStringLiteral("/a0.pbm"), "PBM");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    TRun run;
    if (args.size() >= 3 && args[1] == QLatin1String("draw"))
        return Draw(args[2]);
    if (args.size() >= 3 && args[1] == QLatin1String("measure") && ParseOptions(args, 3, run))
        return Measure(args[2], run);
    if (args.size() >= 8 && args[1] == QLatin1String("view") && ParseOptions(args, 8, run))
        return View(args, run);
    std::fprintf(stderr, "usage: see the head of CleanupMeasure.cpp\n");
    return 2;
}
