// The image model on an A0 sheet scanned at 400 dpi (13200 x 18700): reading a
// 1-bit BMP file, opening .bmp files as the program does, pixel-format
// conversions, taking a framework mono image over, walking every pixel, and the
// 32-bit to 24-bit conversion of the reader and the reduction to 256 colours on
// a smaller colour picture.
//
//   <build>/bin/TzDIBBenchmark --benchmark_min_time=2

#include "image/PictureFormats.h"
#include "image/TzDIB.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kWidth = 13200;
constexpr int kHeight = 18700;

// A mono sheet with a grid of lines every 100 pixels.
QImage Sheet()
{
    QImage image(kWidth, kHeight, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    for (int y = 0; y < kHeight; ++y) {
        uchar *row = image.scanLine(y);
        if (y % 100 == 0)
            std::fill(row, row + kWidth / 8, uchar(0xFF));
        for (int x = 0; x < kWidth; x += 100)
            row[x >> 3] |= uchar(0x80 >> (x & 7));
    }
    return image;
}

void BM_LoadMonoBmpFile(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sheet.bmp");
    {
        TTzDIB dib;
        dib.Assign(Sheet());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        dib.SaveToStream(file);
    }
    for (auto _ : state) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        TTzDIB dib;
        dib.LoadFromStream(file);
        benchmark::DoNotOptimize(dib.Pixels(0, 0));
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kHeight) * 1652);
}
BENCHMARK(BM_LoadMonoBmpFile)->Unit(benchmark::kMillisecond);

// A .bmp file opened as the program opens it, through the picture-format
// registry: the A0 mono sheet (argument 1) or a 4000 x 3000 colour picture (24).
void BM_OpenBmpFile(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sheet.bmp");
    {
        TTzDIB dib;
        if (state.range(0) == 1) {
            dib.Assign(Sheet());
        } else {
            QImage picture(4000, 3000, QImage::Format_RGB32);
            picture.fill(qRgb(10, 200, 30));
            dib.Assign(picture);
        }
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        dib.SaveToStream(file);
    }
    TPictureFormats formats;
    formats.RegisterBuiltIns();
    for (auto _ : state) {
        TTzDIB dib;
        formats.Load(path, dib);
        benchmark::DoNotOptimize(dib.Pixels(0, 0));
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}
BENCHMARK(BM_OpenBmpFile)->Arg(1)->Arg(24)->Unit(benchmark::kMillisecond);

// Pixel-format conversions of the A0 sheet: 1 -> 8 bits, 8 bits -> RLE8 and
// back, 8 -> 4 bits (argument: the route's number below).
void BM_ConvertSheet(benchmark::State &state)
{
    TTzDIB sheet;
    sheet.Assign(Sheet());
    TTzDIB eight(sheet);
    eight.SetPixelFormat(tzPf8Bit);
    TTzDIB rle(eight);
    rle.SetPixelFormat(tzPf8BitRLE);
    for (auto _ : state) {
        TTzDIB dib;
        switch (state.range(0)) {
        case 0:
            dib = sheet;
            dib.SetPixelFormat(tzPf8Bit);
            break;
        case 1:
            dib = eight;
            dib.SetPixelFormat(tzPf8BitRLE);
            break;
        case 2:
            dib = rle;
            dib.SetPixelFormat(tzPf8Bit);
            break;
        default:
            dib = eight;
            dib.SetPixelFormat(tzPf4Bit);
            break;
        }
        benchmark::DoNotOptimize(dib.InternalDIB()->DIB.BitsSize);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_ConvertSheet)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// 24 bits of 4000 x 3000 noisy colours reduced to 256 colours: the histogram
// method (argument 0) and the method over all pixels (1).
void BM_ReduceTrueColour(benchmark::State &state)
{
    QImage picture(4000, 3000, QImage::Format_RGB32);
    std::uint32_t seed = 1;
    for (int y = 0; y < 3000; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < 4000; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = qRgb(x / 16 + (seed >> 29), y / 12 + (seed >> 30), 128 + (seed >> 28));
        }
    }
    TTzDIB source;
    source.Assign(picture);
    source.SetConvertQuality(std::uint8_t(state.range(0)));
    for (auto _ : state) {
        TTzDIB dib(source);
        dib.SetPixelFormat(tzPf8Bit);
        benchmark::DoNotOptimize(dib.PaletteSize());
    }
    state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_ReduceTrueColour)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_AssignMonoImage(benchmark::State &state)
{
    const QImage sheet = Sheet();
    for (auto _ : state) {
        TTzDIB dib;
        dib.Assign(sheet);
        benchmark::DoNotOptimize(dib.Pixels(0, 0));
    }
}
BENCHMARK(BM_AssignMonoImage)->Unit(benchmark::kMillisecond);

void BM_PixelsOverTheWholeSheet(benchmark::State &state)
{
    TTzDIB dib;
    dib.Assign(Sheet());
    for (auto _ : state) {
        std::int64_t black = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                black += dib.Pixels(x, y);
        benchmark::DoNotOptimize(black);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_PixelsOverTheWholeSheet)->Unit(benchmark::kMillisecond);

void BM_Load32BitBmp(benchmark::State &state)
{
    // 4000 x 3000 at 32 bits: 48 MB of source rows.
    QImage picture(4000, 3000, QImage::Format_RGB32);
    picture.fill(qRgb(10, 200, 30));
    QByteArray file = QByteArray("BM", 2);
    const std::uint32_t pixels = 4000u * 3000u * 4u;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file.append(char(v >> (8 * i)));
    };
    put32(54 + pixels);
    put32(0);
    put32(54);
    put32(40);
    put32(4000);
    put32(3000);
    put32(1 | 32 << 16); // planes, bit count
    for (int i = 0; i < 6; ++i)
        put32(0);
    file.append(reinterpret_cast<const char *>(picture.constBits()), qsizetype(pixels));
    for (auto _ : state) {
        QBuffer stream(&file);
        stream.open(QIODevice::ReadOnly);
        TTzDIB dib;
        dib.LoadFromStream(stream);
        benchmark::DoNotOptimize(dib.Pixels(0, 0));
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(pixels));
}
BENCHMARK(BM_Load32BitBmp)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
