// Every stage of a conversion on an A0 sheet scanned at 400 dpi (13244 x
// 18722) holding a made-up but realistic drawing (support/DrawingSheet.h):
// reading the BMP file into the black mask a band at a time (1 and 24 bits),
// the mask of a whole picture, the changes down the columns, the three tracers, and the
// whole open command, each on one thread and on two (the argument).
//
//   <build>/bin/ScanBenchmark --benchmark_min_time=2

#include "support/DrawingSheet.h"

#include "base/Settings.h"
#include "support/SilentUserInterface.h"
#include "image/PictureFormats.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "scan/BlackMask.h"
#include "scan/BoxMode.h"
#include "scan/ColumnEvents.h"
#include "scan/Line2Mode.h"
#include "scan/LineMode.h"
#include "commands/ScanDriver.h"
#include "scan/ScanState.h"

#include <QCoreApplication>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

const TSheetSize kSheet = SheetSizeNamed(QStringLiteral("A0"));

const QImage &SheetImage()
{
    static const QImage sheet = DrawSheet(kSheet);
    return sheet;
}

const TTzDIB &Drawing()
{
    static const TTzDIB sheet = [] {
        TTzDIB dib;
        dib.Assign(SheetImage());
        return dib;
    }();
    return sheet;
}

const TBlackMask &DrawingMask()
{
    static const TBlackMask mask = TBlackMask::FromImage(Drawing());
    return mask;
}

// The sheet as a BMP file of each depth, written once.
const QString &SheetFile(int bits)
{
    static QTemporaryDir dir;
    static QString paths[25];
    QString &path = paths[bits];
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("sheet-%1.bmp").arg(bits));
        WriteSheetBmp(SheetImage(), bits, path);
    }
    return path;
}

const TPictureFormats &Formats()
{
    static const TPictureFormats formats = [] {
        TPictureFormats f;
        f.RegisterBuiltIns();
        return f;
    }();
    return formats;
}

void PixelCounter(benchmark::State &bench)
{
    bench.counters["pixels"] = benchmark::Counter(double(kSheet.Width) * kSheet.Height,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

enum TMethod { LineMethod, BoxMethod, Line2Method };

// One tracer on the sheet's black mask, as the driver calls it.
void Trace(benchmark::State &bench, TMethod method)
{
    const TBlackMask &mask = DrawingMask();
    const int threads = static_cast<int>(bench.range(0));
    TNoProgress progress;
    TSegmentList segments;
    for (auto _ : bench) {
        segments.ResetSegments();
        TScanStatus status;
        if (method == LineMethod)
            status = TraceLines(mask, segments, progress, TTraceOptions{threads, 0});
        else if (method == BoxMethod)
            status = TraceBoxes(mask, segments, progress, TTraceOptions{threads, 0});
        else
            status = TraceLines(RunEnds(mask, progress, threads), segments, progress, TTraceOptions{threads, 0});
        if (status != ScanDone)
            bench.SkipWithError("conversion did not complete");
        benchmark::DoNotOptimize(segments.Segments());
    }
    PixelCounter(bench);
    bench.counters["segments"] =
        benchmark::Counter(segments.SegmentCount, benchmark::Counter::kIsIterationInvariantRate);
    bench.counters["segment_count"] = segments.SegmentCount;
}

void BM_LineMode(benchmark::State &bench) { Trace(bench, LineMethod); }
void BM_BoxMode(benchmark::State &bench) { Trace(bench, BoxMethod); }
void BM_Line2Mode(benchmark::State &bench) { Trace(bench, Line2Method); }

// The black mask of the whole picture (the path of formats read whole).
void BM_MaskOfPicture(benchmark::State &bench)
{
    const TTzDIB &sheet = Drawing();
    for (auto _ : bench)
        benchmark::DoNotOptimize(TBlackMask::FromImage(sheet).Words());
    PixelCounter(bench);
}

// The black mask read from a BMP file a band at a time; argument 0 the
// depth, argument 1 the threads.
void BM_MaskFromFile(benchmark::State &bench)
{
    const QString &path = SheetFile(static_cast<int>(bench.range(0)));
    for (auto _ : bench) {
        const std::unique_ptr<TPictureRows> rows = Formats().OpenRows(path);
        benchmark::DoNotOptimize(TBlackMask::FromRows(*rows, static_cast<int>(bench.range(1))).Words());
    }
    PixelCounter(bench);
}

// The rows where each column changes colour, found on the rows a band of
// 1024 columns at a time, as the column passes find theirs.
void BM_ColumnEvents(benchmark::State &bench)
{
    const TBlackMask &mask = DrawingMask();
    for (auto _ : bench) {
        std::size_t events = 0;
        for (int x = 0; x < mask.Width(); x += 1024) {
            const int end = std::min(mask.Width(), x + 1024);
            const TColumnEvents band(mask, x, end,
                                     [](const std::uint64_t *above, const std::uint64_t *line,
                                        const std::uint64_t *, int w) { return line[w] ^ above[w]; });
            events += static_cast<std::size_t>(band.End(end - 1) - band.Begin(x));
        }
        benchmark::DoNotOptimize(events);
    }
    PixelCounter(bench);
}

// The whole open command in line mode, from the 1-bit BMP file.
void BM_LineModeFromFile(benchmark::State &bench)
{
    const QString &path = SheetFile(1);
    TSilentUserInterface ui;
    TSettings settings;
    TScanState state;
    TScanDriver driver(state, settings, ui, Formats());
    driver.SetThreads(static_cast<int>(bench.range(0)));
    for (auto _ : bench) {
        if (driver.ScanData(path) != ScanDone)
            bench.SkipWithError("conversion did not complete");
    }
    PixelCounter(bench);
    bench.counters["segments"] =
        benchmark::Counter(state.SegmentCount, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_LineMode)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BoxMode)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Line2Mode)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MaskOfPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskFromFile)->Args({1, 1})->Args({1, 2})->Args({24, 1})->Args({24, 2})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColumnEvents)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineModeFromFile)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

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
