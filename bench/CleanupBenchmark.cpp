// The clean-up steps on an A0 sheet at 400 dpi (13244 x 18722 pixels) holding
// a made-up line drawing (strokes of 1 to 8 pixels at many angles, arcs, text,
// filled blocks, specks), and the same steps done by Leptonica where it has
// them, for comparison. Times include turning the mask into Leptonica's
// picture and back, as using Leptonica for the step would.
//
//   <build>/bin/CleanupBenchmark --benchmark_min_time=1

#include "CleanupDrawings.h"

#include "cleanup/Centerline.h"
#include "cleanup/NoiseRemoval.h"
#include "cleanup/MergeSegments.h"
#include "cleanup/Threshold.h"
#include "image/TzDIB.h"
#include "base/ProgressPort.h"
#include "scan/LineMode.h"
#include "scan/SegmentList.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>

namespace {

struct TSheetData
{
    TTzDIB Grey;       // 8 bits, ink 0, paper 255
    TTzDIB Picture;    // 1 bit
    TBlackMask Mask;
    TBlackMask Thin;
    std::vector<TSegment> Traced;  // line mode on the centre lines
};

const TSheetData &Sheet()
{
    static const TSheetData data = [] {
        TSheetData d;
        const QImage grey = MakeDrawing(13244, 18722, TDrawingStyle{});
        d.Grey.Assign(grey);
        d.Picture.Assign(grey.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither));
        d.Mask = TBlackMask::FromImage(d.Picture);
        d.Thin = Centerline(d.Mask);
        TSegmentList list;
        list.ResetSegments();
        TNoProgress progress;
        TraceLines(d.Thin, list, progress);
        d.Traced.assign(list.Segments(), list.Segments() + list.SegmentCount);
        return d;
    }();
    return data;
}

// Mask bit x of word i (lowest first) to Leptonica's 32-bit words (leftmost
// pixel in the top bit), and back.
PIX *ToPix(const TBlackMask &mask)
{
    PIX *pix = pixCreate(mask.Width(), mask.Height(), 1);
    const int wpl = pixGetWpl(pix);
    l_uint32 *data = pixGetData(pix);
    for (int y = 0; y < mask.Height(); ++y) {
        const std::uint64_t *line = mask.Line(y);
        l_uint32 *row = data + static_cast<std::ptrdiff_t>(y) * wpl;
        for (int j = 0; j < wpl; ++j) {
            const std::uint32_t half = static_cast<std::uint32_t>(line[j >> 1] >> (32 * (j & 1)));
            std::uint32_t v = half;
            v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
            v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
            v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
            v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
            row[j] = (v >> 16) | (v << 16);
        }
    }
    return pix;
}

TBlackMask FromPix(PIX *pix)
{
    TBlackMask mask(pixGetWidth(pix), pixGetHeight(pix));
    const int wpl = pixGetWpl(pix);
    const l_uint32 *data = pixGetData(pix);
    for (int y = 0; y < mask.Height(); ++y) {
        std::uint64_t *line = mask.Line(y);
        const l_uint32 *row = data + static_cast<std::ptrdiff_t>(y) * wpl;
        for (int j = 0; j < wpl && (j >> 1) < mask.Words(); ++j) {
            std::uint32_t v = row[j];
            v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
            v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
            v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
            v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
            line[j >> 1] |= std::uint64_t((v >> 16) | (v << 16)) << (32 * (j & 1));
        }
    }
    return mask;
}

void Threshold128(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ThresholdMask(Sheet().Grey, 128));
}
BENCHMARK(Threshold128)->Unit(benchmark::kMillisecond);

void OtsuOfGreySheet(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(OtsuLevel(LuminanceHistogram(Sheet().Grey)));
}
BENCHMARK(OtsuOfGreySheet)->Unit(benchmark::kMillisecond);

void ExactBlack(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(TBlackMask::FromImage(Sheet().Picture));
}
BENCHMARK(ExactBlack)->Unit(benchmark::kMillisecond);

void Despeckle4(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Despeckle(Sheet().Mask, 4));
}
BENCHMARK(Despeckle4)->Unit(benchmark::kMillisecond);

// The same with Leptonica: components of at most 4 pixels removed, then the
// holes (not reaching the edge) of at most 4 pixels filled.
void Despeckle4Leptonica(benchmark::State &state)
{
    for (auto _ : state) {
        PIX *pix = ToPix(Sheet().Mask);
        PIX *big = pixSelectByArea(pix, 4.5f, 8, L_SELECT_IF_GT, nullptr);
        PIX *inverse = pixInvert(nullptr, big);
        PIX *inner = pixRemoveBorderConnComps(inverse, 4);
        PIX *holes = pixSelectByArea(inner, 4.5f, 4, L_SELECT_IF_LTE, nullptr);
        pixOr(big, big, holes);
        benchmark::DoNotOptimize(FromPix(big));
        for (PIX *p : {pix, big, inverse, inner, holes})
            pixDestroy(&p);
    }
}
BENCHMARK(Despeckle4Leptonica)->Unit(benchmark::kMillisecond);

void Thin(benchmark::State &state)
{
    for (auto _ : state) {
        TBlackMask mask = Sheet().Mask;
        CenterlineSteps::Thin(mask);
        benchmark::DoNotOptimize(mask);
    }
}
BENCHMARK(Thin)->Unit(benchmark::kMillisecond);

void ThinLeptonica(benchmark::State &state)
{
    for (auto _ : state) {
        PIX *pix = ToPix(Sheet().Mask);
        PIX *thin = pixThinConnected(pix, L_THIN_FG, 8, 0);
        benchmark::DoNotOptimize(FromPix(thin));
        pixDestroy(&pix);
        pixDestroy(&thin);
    }
}
BENCHMARK(ThinLeptonica)->Unit(benchmark::kMillisecond);

void WholeCenterline(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Centerline(Sheet().Mask));
}
BENCHMARK(WholeCenterline)->Unit(benchmark::kMillisecond);

void Merge1(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(MergeSegments(Sheet().Traced, 1.0));
    state.counters["segments in"] = static_cast<double>(Sheet().Traced.size());
    state.counters["segments out"] = static_cast<double>(MergeSegments(Sheet().Traced, 1.0).size());
}
BENCHMARK(Merge1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Sheet();  // drawn once, before any timing
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
