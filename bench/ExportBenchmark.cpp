// Every writer and both clipboard texts on one million segments, the size of a
// large traced sheet: pixel coordinates of an A0 scan at 400 dpi, magnification
// 0.0635 (millimetres), default settings otherwise; the text writers on one
// thread and on two.
//
//   <build>/bin/ExportBenchmark --benchmark_min_time=2

#include "commands/SaveData.h"
#include "base/Settings.h"
#include "support/SilentUserInterface.h"
#include "export/ClipboardText.h"
#include "export/DxfWriter.h"
#include "export/ExportContext.h"
#include "export/FormatCoordinate.h"
#include "export/JwcWriter.h"
#include "export/TextWriter.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <new>
#include <random>
#include <vector>

namespace {

constexpr int kSegments = 1'000'000;

const std::vector<TSegment> &Segments()
{
    static const std::vector<TSegment> segments = [] {
        std::mt19937 random(1);
        std::uniform_int_distribution<int> x(0, 13200);
        std::uniform_int_distribution<int> y(0, 18700);
        std::vector<TSegment> out(kSegments);
        for (TSegment &s : out)
            s = {static_cast<float>(x(random)), static_cast<float>(y(random)),
                 static_cast<float>(x(random)) + 0.5f, static_cast<float>(y(random))};
        return out;
    }();
    return segments;
}

// The sheet's segments as a conversion's result, or `segments` in their place.
struct TRun
{
    explicit TRun(const std::vector<TSegment> &segments = Segments())
        : Context(Result, 0.0635f, Settings, Progress, QString())
    {
        Settings.DxfFileUse = false;
        if (!Result.ResetSegments()
            || !Result.AppendRecords(segments.data(), static_cast<std::int32_t>(segments.size())))
            throw std::bad_alloc();
        Result.MaxX = 13200;
        Result.MaxY = 18700;
    }
    TSettings Settings;
    TSilentUserInterface UI;
    TNoProgress Progress;
    TSegmentList Result;
    TExportContext Context;
    QTemporaryDir Dir;
};

template <TWriteResult (*Writer)(const TExportContext &, TUserInterface &, const QString &)>
void Write(benchmark::State &state, const char *name, int mode)
{
    TRun run;
    run.Settings.TxtValueMode = run.Settings.DxfValueMode = mode;
    run.Context.Threads = static_cast<int>(state.range(1));
    const QString path = run.Dir.filePath(QString::fromLatin1(name));
    for (auto _ : state)
        if (Writer(run.Context, run.UI, path) != WriteDone)
            state.SkipWithError("the writer failed");
    state.SetItemsProcessed(state.iterations() * kSegments);
}

void CoordinateText(benchmark::State &state) { Write<SaveData1>(state, "plan.txt", state.range(0)); }
void Dxf(benchmark::State &state) { Write<SaveData2>(state, "plan.dxf", state.range(0)); }
void Jwc(benchmark::State &state) { Write<SaveData3>(state, "plan.jwc", 2); }
// Whole pixel coordinates at magnification 1, as a sheet converted with the
// defaults is written.
void DxfWholeNumbers(benchmark::State &state)
{
    std::vector<TSegment> whole(Segments());
    for (TSegment &s : whole)
        s.X2 = std::floor(s.X2);
    TRun run(whole);
    run.Context.Magnification = 1;
    run.Context.Threads = static_cast<int>(state.range(0));
    const QString path = run.Dir.filePath(QStringLiteral("whole.dxf"));
    for (auto _ : state)
        if (SaveData2(run.Context, run.UI, path) != WriteDone)
            state.SkipWithError("the writer failed");
    state.SetItemsProcessed(state.iterations() * kSegments);
}

void ClipboardCoordinates(benchmark::State &state)
{
    TRun run;
    for (auto _ : state)
        benchmark::DoNotOptimize(CoordinateClipboardText(run.Context).Cp932.size());
    state.SetItemsProcessed(state.iterations() * kSegments);
}

void ClipboardJwTran(benchmark::State &state)
{
    TRun run;
    for (auto _ : state)
        benchmark::DoNotOptimize(JwTranClipboardText(run.Context).Cp932.size());
    state.SetItemsProcessed(state.iterations() * kSegments);
}

// A JWC file of no segments whose stored layer and group names are
// range(0) characters long: the names are cut to their records.
void JwcLongNames(benchmark::State &state)
{
    TRun run(std::vector<TSegment>{});
    run.Settings.SaveLayerName = QString(static_cast<qsizetype>(state.range(0)), QChar(0x56F3));
    run.Settings.SaveGroupName = run.Settings.SaveLayerName;
    const QString path = run.Dir.filePath(QStringLiteral("names.jwc"));
    for (auto _ : state)
        if (SaveData3(run.Context, run.UI, path) != WriteDone)
            state.SkipWithError("the writer failed");
}

// One number in each mode, for comparison with the writers' per-segment cost.
void FormatOne(benchmark::State &state)
{
    const std::vector<TSegment> &segments = Segments();
    char text[kCoordinateTextCapacity];
    std::size_t i = 0;
    for (auto _ : state) {
        const float value = segments[i++ % segments.size()].X1 * 0.0635f;
        benchmark::DoNotOptimize(FormatCoordinateTo(text, value, static_cast<int>(state.range(0)), 4));
    }
}

} // namespace

// Arguments: the number form (1 integer, 2 general, 3 fixed) and the threads.
BENCHMARK(CoordinateText)->ArgsProduct({{1, 2, 3}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Dxf)->ArgsProduct({{1, 2, 3}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DxfWholeNumbers)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Jwc)->Args({2, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(JwcLongNames)->Arg(8)->Arg(128 * 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(ClipboardCoordinates)->Unit(benchmark::kMillisecond);
BENCHMARK(ClipboardJwTran)->Unit(benchmark::kMillisecond);
BENCHMARK(FormatOne)->Arg(1)->Arg(2)->Arg(3);

BENCHMARK_MAIN();
