// The three conversion methods on an A0 sheet scanned at 400 dpi, 1 bit a
// pixel (13200 x 18700), holding a made-up but realistic drawing: a border, a
// grid of thin lines, long diagonals and other slopes, circles, filled areas
// and blocks of text-like clutter.
//
//   <build>/bin/ScanBenchmark --benchmark_min_time=2

#include "app/core/Settings.h"
#include "app/core/UserInterface.h"
#include "image/PictureFormats.h"
#include "image/TzDIB.h"
#include "scan/BlackMask.h"
#include "scan/BoxMode.h"
#include "scan/Line2Mode.h"
#include "scan/LineMode.h"
#include "scan/ScanDriver.h"
#include "scan/ScanState.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

constexpr int kWidth = 13200;
constexpr int kHeight = 18700;

class TSheet
{
public:
    TSheet() : Image(kWidth, kHeight, QImage::Format_Mono)
    {
        Image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        Image.fill(0);
    }

    void Dot(int x, int y)
    {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
            Image.scanLine(y)[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
    }
    void Fill(int x0, int y0, int x1, int y1)
    {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                Dot(x, y);
    }
    // A line `thick` pixels wide (Bresenham, thickened by a square pen).
    void Line(int x0, int y0, int x1, int y1, int thick = 1)
    {
        const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
        const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            Fill(x0, y0, x0 + thick - 1, y0 + thick - 1);
            if (x0 == x1 && y0 == y1)
                break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }
    void Circle(int cx, int cy, int r, int thick)
    {
        const int steps = static_cast<int>(8 * r);
        for (int i = 0; i < steps; ++i) {
            const double a = 2 * std::numbers::pi * i / steps;
            const int x = cx + static_cast<int>(std::lround(r * std::cos(a)));
            const int y = cy + static_cast<int>(std::lround(r * std::sin(a)));
            Fill(x, y, x + thick - 1, y + thick - 1);
        }
    }

    QImage Image;
};

TTzDIB MakeDrawing()
{
    TSheet s;
    std::mt19937 random(400);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };

    // Border, 8 pixels, 250 pixels in from the edge; an inner frame.
    const int m = 250;
    s.Fill(m, m, kWidth - m, m + 7);
    s.Fill(m, kHeight - m - 7, kWidth - m, kHeight - m);
    s.Fill(m, m, m + 7, kHeight - m);
    s.Fill(kWidth - m - 7, m, kWidth - m, kHeight - m);
    // A grid of thin lines every 1 cm (157 pixels).
    for (int x = m + 157; x < kWidth - m; x += 157)
        s.Line(x, m, x, kHeight - m);
    for (int y = m + 157; y < kHeight - m; y += 157)
        s.Line(m, y, kWidth - m, y);
    // Long diagonals and lines of other slopes, 1 to 3 pixels wide.
    s.Line(m, m, kWidth - m, kHeight - m, 2);
    s.Line(m, kHeight - m, kWidth - m, m, 2);
    for (int i = 0; i < 60; ++i)
        s.Line(uniform(m, kWidth - m), uniform(m, kHeight - m), uniform(m, kWidth - m - 4),
               uniform(m, kHeight - m - 4), uniform(1, 3));
    for (int i = 0; i < 40; ++i) {
        const int x = uniform(m, kWidth - 3000), y = uniform(m, kHeight - 3000), n = uniform(500, 2500);
        s.Line(x, y, x + n, y + n, 1);
    }
    // Circles.
    for (int i = 0; i < 150; ++i)
        s.Circle(uniform(1000, kWidth - 1000), uniform(1000, kHeight - 1000), uniform(30, 800), uniform(1, 3));
    // Filled areas: hatched-in walls and solid blocks.
    for (int i = 0; i < 40; ++i) {
        const int x = uniform(m, kWidth - 900), y = uniform(m, kHeight - 900);
        s.Fill(x, y, x + uniform(20, 800), y + uniform(20, 800));
    }
    // Text-like clutter: lines of small glyphs of three to six strokes, in blocks.
    for (int block = 0; block < 60; ++block) {
        const int bx = uniform(m, kWidth - 2500), by = uniform(m, kHeight - 1200);
        const int lines = uniform(3, 20);
        const int glyphs = uniform(10, 60);
        for (int l = 0; l < lines; ++l) {
            for (int g = 0; g < glyphs; ++g) {
                const int gx = bx + g * 38, gy = by + l * 55;
                const int strokes = uniform(3, 6);
                for (int k = 0; k < strokes; ++k)
                    s.Line(gx + uniform(0, 28), gy + uniform(0, 40), gx + uniform(0, 28), gy + uniform(0, 40),
                           uniform(2, 3));
            }
        }
    }
    TTzDIB dib;
    dib.Assign(s.Image);
    return dib;
}

const TTzDIB &Drawing()
{
    static const TTzDIB sheet = MakeDrawing();
    return sheet;
}

const TBlackMask &DrawingMask()
{
    static const TBlackMask mask = TBlackMask::FromImage(Drawing());
    return mask;
}

enum TMethod { LineMethod, BoxMethod, Line2Method };

// One tracer on the sheet's black mask, as the driver calls it.
void Trace(benchmark::State &bench, TMethod method)
{
    const TBlackMask &mask = DrawingMask();
    TNoProgress progress;
    TSegmentList segments;
    for (auto _ : bench) {
        segments.ResetSegments();
        TScanStatus status;
        if (method == LineMethod)
            status = TraceLines(mask, segments, progress);
        else if (method == BoxMethod)
            status = TraceBoxes(mask, segments, progress);
        else
            status = TraceLines(RunEnds(mask, progress), segments, progress);
        if (status != ScanDone)
            bench.SkipWithError("conversion did not complete");
        benchmark::DoNotOptimize(segments.Segments());
    }
    const double pixels = double(kWidth) * kHeight;
    bench.counters["pixels"] = benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate);
    bench.counters["segments"] =
        benchmark::Counter(segments.SegmentCount, benchmark::Counter::kIsIterationInvariantRate);
    bench.counters["segment_count"] = segments.SegmentCount;
}

void BM_LineMode(benchmark::State &bench) { Trace(bench, LineMethod); }
void BM_BoxMode(benchmark::State &bench) { Trace(bench, BoxMethod); }
void BM_Line2Mode(benchmark::State &bench) { Trace(bench, Line2Method); }

// The black mask of the sheet's picture.
void BM_Mask(benchmark::State &bench)
{
    const TTzDIB &sheet = Drawing();
    for (auto _ : bench)
        benchmark::DoNotOptimize(TBlackMask::FromImage(sheet).Words());
    bench.counters["pixels"] = benchmark::Counter(double(kWidth) * kHeight,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// The whole open command in line mode, from a BMP file on disk.
void BM_LineModeFromFile(benchmark::State &bench)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sheet.bmp"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            bench.SkipWithError("cannot write the sheet");
            return;
        }
        Drawing().SaveToStream(file);
    }
    TSilentUserInterface ui;
    TSettings settings;
    TScanState state;
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    TScanDriver driver(state, settings, ui, formats);
    for (auto _ : bench) {
        if (driver.ScanData(path) != ScanDone)
            bench.SkipWithError("conversion did not complete");
    }
    const double pixels = double(kWidth) * kHeight;
    bench.counters["pixels"] = benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate);
    bench.counters["segments"] =
        benchmark::Counter(state.SegmentCount, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_LineMode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxMode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Line2Mode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mask)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineModeFromFile)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
