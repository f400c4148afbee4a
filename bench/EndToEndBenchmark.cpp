// The whole command line on drawing sheets written as BMP files: load, trace
// and write, as a user runs it, against potrace on the same file in the same
// run when potrace is installed. Wall-clock time and peak memory are those of
// each finished process; the median of the runs is quoted.
//
//   <build>/bin/EndToEndBenchmark [--sizes A4,A1,A0] [--bits 1,24] [--runs 3]
//                                 [--all] [--jobs N] [--dir DIR]
//   <build>/bin/EndToEndBenchmark write SIZE BITS PATH     (only writes a sheet)
//   <build>/bin/EndToEndBenchmark write-lit LIGHTING SIZE PATH.jpg|png|tif
//                                 (only writes a scan of the sheet under even
//                                 or uneven light: even, gradient, band, shadow,
//                                 photo, inset)
//
//   <build>/bin/EndToEndBenchmark --formats [--sizes A0] [--runs 3] [--jobs N] [--dir DIR]
//
// --formats times the picture formats scanners write and every clean-up
// option, row by row of the performance table: the sheet as 1-bit, 8-bit and
// 24-bit BMP, grey PNG, colour JPEG (quality 90, written by cjpeg) and G4
// TIFF, each beside potrace on the equivalent BMP and beside the decoders' own
// cost (djpeg, pngtopnm, tiffcp), with CPU seconds too, for a busy machine,
// and the best run beside its goal: five times potrace's speed and, for a
// format with a decoder, 1.5 times the decoder's time plus the 1-bit BMP's
// with the same options, in wall-clock and in CPU seconds.
//
// --all also times box and line 2 mode and the text and JWC writers. --jobs
// is passed on to trazbit-cli as -j. Sheets are written to DIR (default a
// temporary folder, removed at the end); a sheet already in DIR is reused.

#include "support/ChildProcess.h"
#include "support/DrawingSheet.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <numbers>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace {

struct TCase
{
    const char *Name;
    QStringList Arguments;  // before the input
    QString Output;
};

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct TTimes
{
    std::vector<double> Seconds;
    std::vector<double> PeakMB;
    bool Failed = false;
    void Add(const TChildRun &run)
    {
        if (run.ExitCode != 0)
            Failed = true;
        Seconds.push_back(run.Seconds);
        PeakMB.push_back(run.PeakMB);
    }
};

// The segment count the command line reports ("sheet.bmp: 1,234本 -> out.dxf").
long long SegmentCount(const QString &cli, const QString &sheet, const QString &output)
{
    QProcess process;
    process.start(cli, {QStringLiteral("-m"), QStringLiteral("line"), QStringLiteral("-f"),
                        QStringLiteral("dxf"), QStringLiteral("-o"), output, sheet});
    if (!process.waitForFinished(-1))
        return -1;
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    const qsizetype colon = text.lastIndexOf(QStringLiteral(": "));
    const qsizetype unit = text.indexOf(QStringLiteral("本"));
    if (colon < 0 || unit < colon)
        return -1;
    QString number = text.mid(colon + 2, unit - colon - 2);
    number.remove(QLatin1Char(','));
    return number.toLongLong();
}

int WriteOnly(const QStringList &args)
{
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: EndToEndBenchmark write SIZE BITS PATH\n");
        return 2;
    }
    const TSheetSize size = SheetSizeNamed(args[1]);
    const int bits = args[2].toInt();
    if (size.Width == 0 || (bits != 1 && bits != 8 && bits != 24)) {
        std::fprintf(stderr, "unknown size or depth\n");
        return 2;
    }
    return WriteSheetBmp(DrawSheet(size), bits, args[3]) ? 0 : 1;
}

struct TMedians
{
    double Seconds = 0, Cpu = 0, PeakMB = 0;
    double Best = 0;     // the shortest wall-clock time, for a busy machine
    double BestCpu = 0;  // the fewest CPU seconds, for a machine shared with others
    bool Failed = false;
};

TMedians Measure(const QString &program, const QStringList &arguments, int runs)
{
    std::vector<double> seconds, cpu, mb;
    TMedians m;
    for (int r = 0; r < runs; ++r) {
        const TChildRun run = RunChild(program, arguments);
        m.Failed = m.Failed || run.ExitCode != 0;
        seconds.push_back(run.Seconds);
        cpu.push_back(run.CpuSeconds);
        mb.push_back(run.PeakMB);
    }
    m.Seconds = Median(seconds);
    m.Best = seconds.empty() ? 0 : *std::min_element(seconds.begin(), seconds.end());
    m.Cpu = Median(cpu);
    m.BestCpu = cpu.empty() ? 0 : *std::min_element(cpu.begin(), cpu.end());
    m.PeakMB = Median(mb);
    return m;
}

// The 1-bit sheet as a G4 TIFF (min-is-white, 64 rows a strip).
bool WriteSheetG4(const QImage &sheet, const QString &path)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(sheet.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(sheet.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, std::uint16_t(1));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(1));
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, std::uint32_t(64));
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 400.0f);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 400.0f);
    // Index 1 is black in the sheet, as in a min-is-white file.
    bool ok = true;
    for (int y = 0; y < sheet.height() && ok; ++y)
        ok = TIFFWriteScanline(tiff, const_cast<uchar *>(sheet.constScanLine(y)), std::uint32_t(y), 0) >= 0;
    TIFFClose(tiff);
    return ok;
}

// Made-up scans of the sheet under uneven light, for the automatic level:
// the paper's brightness at each pixel, and the ink's, a little darker than
// the paper around it rather than black.
//   even      the 24-bit BMP's tinted paper and black ink (the JPEG decodes to
//             the pixels of --formats' colour JPEG)
//   gradient  light falling from the top left to half at the bottom right
//   band      a dark band across the sheet below its middle (a fold's shadow)
//   shadow    the same band along the top edge (a lid's shadow), over the
//             first rows
//   photo     a photograph-like page: broad tones from half to full light and
//             shifting colour all over it, with a coarse grain (its first
//             rows, with little ink, split the tones rather than ink from
//             paper)
//   inset     the same photograph printed over the sheet from 0.12 to 0.92 of
//             its height and 0.05 to 0.95 of its width, the paper around it
//             (and so the first rows) evenly lit
class TLitSheet
{
public:
    TLitSheet(const QImage &sheet, const QString &lighting) : Sheet(sheet), Lighting(lighting)
    {
        const int width = sheet.width(), height = sheet.height();
        // The photograph's tones as sums of products of a column's and a
        // row's waves.
        for (int k = 0; k < kWaves; ++k) {
            Columns[k].resize(static_cast<std::size_t>(width));
            Rows[k].resize(static_cast<std::size_t>(height));
        }
        const double turn = 2 * std::numbers::pi;
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            Columns[0][std::size_t(x)] = std::sin(turn * 1.3 * u);
            Columns[1][std::size_t(x)] = std::cos(turn * 3.1 * u + 0.7);
            Columns[2][std::size_t(x)] = std::sin(turn * 7.9 * u + 1.9);
            Columns[3][std::size_t(x)] = std::cos(turn * 0.6 * u);
        }
        for (int y = 0; y < height; ++y) {
            const double v = double(y) / height;
            Rows[0][std::size_t(y)] = std::cos(turn * 0.9 * v + 0.3);
            Rows[1][std::size_t(y)] = std::sin(turn * 2.3 * v + 1.1);
            Rows[2][std::size_t(y)] = std::cos(turn * 5.7 * v);
            Rows[3][std::size_t(y)] = std::sin(turn * 1.7 * v + 0.4);
        }
    }

    bool Known() const
    {
        return Lighting == QLatin1String("even") || Lighting == QLatin1String("gradient")
               || Lighting == QLatin1String("band") || Lighting == QLatin1String("photo")
               || Lighting == QLatin1String("shadow") || Lighting == QLatin1String("inset");
    }

    // Picture row y (0 the top) as red, green, blue bytes.
    void Row(int y, std::uint8_t *rgb) const
    {
        static const unsigned char kTexture[8] = {0, 3, 1, 5, 2, 6, 4, 7};
        const int width = Sheet.width(), height = Sheet.height();
        const uchar *ink = Sheet.constScanLine(y);
        const double v = double(y) / height;
        const auto put = [](std::uint8_t *p, double r, double g, double b) {
            p[0] = static_cast<std::uint8_t>(std::clamp(std::lround(r), 0L, 255L));
            p[1] = static_cast<std::uint8_t>(std::clamp(std::lround(g), 0L, 255L));
            p[2] = static_cast<std::uint8_t>(std::clamp(std::lround(b), 0L, 255L));
        };
        for (int x = 0; x < width; ++x) {
            const bool black = (ink[x >> 3] >> (7 - (x & 7))) & 1;
            const int grain = kTexture[(x * 7 + y * 3) & 7];
            std::uint8_t *p = rgb + 3 * std::size_t(x);
            if (Lighting == QLatin1String("even")) {
                put(p, black ? 0 : 240 + grain, black ? 0 : 226 + grain, black ? 0 : 200 + grain);
                continue;
            }
            double light = 1, red = 1, blue = 1, noise = grain;
            if (Lighting == QLatin1String("gradient")) {
                light = 1 - 0.5 * (0.3 * x / width + 0.7 * v);
            } else if (Lighting == QLatin1String("band") || Lighting == QLatin1String("shadow")) {
                // 0.45 of the light over rows 0.55 .. 0.69 of the height (the
                // shadow: 0 .. 0.1), with soft edges 0.02 of it wide.
                const bool band = Lighting == QLatin1String("band");
                const double into = std::min(v - (band ? 0.53 : -0.02), (band ? 0.71 : 0.12) - v) / 0.02;
                light = 1 - 0.55 * std::clamp(into, 0.0, 1.0);
            } else if (Lighting == QLatin1String("photo")
                       || (v >= 0.12 && v < 0.92 && x >= width / 20 && x < width - width / 20)) {
                const std::size_t i = std::size_t(x), j = std::size_t(y);
                light = 0.75 + 0.15 * Columns[0][i] * Rows[0][j] + 0.08 * Columns[1][i] * Rows[1][j]
                        + 0.04 * Columns[2][i] * Rows[2][j];
                const double hue = Columns[3][i] * Rows[3][j];
                red = 1 + 0.2 * hue;
                blue = 1 - 0.25 * hue;
                // A coarse grain, -12 .. 12.
                std::uint32_t h = std::uint32_t(x) * 0x9E3779B1u ^ std::uint32_t(y) * 0x85EBCA77u;
                h ^= h >> 15;
                h *= 0x2C1B3C6Du;
                h ^= h >> 13;
                noise = double(h % 25) - 12;
            }
            const double shade = black ? 0.22 * light : light;
            put(p, 240 * shade * red + noise, 226 * shade + noise, 200 * shade * blue + noise);
        }
    }

private:
    static constexpr int kWaves = 4;
    const QImage &Sheet;
    QString Lighting;
    std::vector<double> Columns[kWaves], Rows[kWaves];
};

// The lit sheet as a colour JPEG (quality 90, as cjpeg writes it by default),
// a grey PNG or a colour TIFF in LZW strips of 16 rows, by the name's ending,
// a row at a time.
bool WriteLitSheet(const TLitSheet &lit, int width, int height, int dpi, const QString &path)
{
    std::vector<std::uint8_t> rgb(3 * std::size_t(width));
    const QByteArray name = QFile::encodeName(path);
    if (path.endsWith(QLatin1String(".jpg"))) {
        std::FILE *file = std::fopen(name.constData(), "wb");
        if (!file)
            return false;
        jpeg_compress_struct info{};
        jpeg_error_mgr error{};
        info.err = jpeg_std_error(&error);
        jpeg_create_compress(&info);
        jpeg_stdio_dest(&info, file);
        info.image_width = JDIMENSION(width);
        info.image_height = JDIMENSION(height);
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, 90, FALSE);
        info.density_unit = 1;
        info.X_density = info.Y_density = std::uint16_t(dpi);
        jpeg_start_compress(&info, TRUE);
        for (int y = 0; y < height; ++y) {
            lit.Row(y, rgb.data());
            JSAMPROW row = rgb.data();
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        return std::fclose(file) == 0;
    }
    if (path.endsWith(QLatin1String(".png"))) {
        std::FILE *file = std::fopen(name.constData(), "wb");
        if (!file)
            return false;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            std::fclose(file);
            return false;
        }
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        const auto perMetre = png_uint_32(std::lround(dpi / 0.0254));
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
        png_write_info(png, info);
        std::vector<std::uint8_t> grey(static_cast<std::size_t>(width));
        for (int y = 0; y < height; ++y) {
            lit.Row(y, rgb.data());
            for (int x = 0; x < width; ++x) {
                const std::uint8_t *p = rgb.data() + 3 * std::size_t(x);
                grey[std::size_t(x)] = std::uint8_t((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
            }
            png_write_row(png, grey.data());
        }
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        return std::fclose(file) == 0;
    }
    if (path.endsWith(QLatin1String(".tif"))) {
        TIFF *tiff = TIFFOpen(name.constData(), "w");
        if (!tiff)
            return false;
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, std::uint16_t(8));
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(3));
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, std::uint32_t(16));
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(dpi));
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(dpi));
        bool ok = true;
        for (int y = 0; y < height && ok; ++y) {
            lit.Row(y, rgb.data());
            ok = TIFFWriteScanline(tiff, rgb.data(), std::uint32_t(y), 0) >= 0;
        }
        TIFFClose(tiff);
        return ok;
    }
    return false;
}

int WriteLit(const QStringList &args)
{
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: EndToEndBenchmark write-lit even|gradient|band|shadow|photo|inset SIZE PATH.jpg|png|tif\n");
        return 2;
    }
    const TSheetSize size = SheetSizeNamed(args[2]);
    if (size.Width == 0) {
        std::fprintf(stderr, "unknown size\n");
        return 2;
    }
    const QImage sheet = DrawSheet(size);
    const TLitSheet lit(sheet, args[1]);
    if (!lit.Known()) {
        std::fprintf(stderr, "unknown lighting\n");
        return 2;
    }
    if (!WriteLitSheet(lit, size.Width, size.Height, size.Dpi, args[3])) {
        std::fprintf(stderr, "cannot write %s\n", args[3].toUtf8().constData());
        return 1;
    }
    return 0;
}

bool Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Writes the sheet of one size in every format of --formats into `folder`
// (files already there are kept).
int WriteFormats(const QString &sizeName, const QString &folder)
{
    const TSheetSize size = SheetSizeNamed(sizeName);
    const QString cjpeg = QStandardPaths::findExecutable(QStringLiteral("cjpeg"));
    if (size.Width == 0 || cjpeg.isEmpty()) {
        std::fprintf(stderr, "unknown size, or cjpeg (libjpeg-turbo-progs) missing\n");
        return 2;
    }
    const QDir dir(folder);
        const auto file = [&](const char *name) { return dir.filePath(sizeName + QLatin1Char('-') + QLatin1String(name)); };
        const QString bmp1 = file("1.bmp"), bmp8 = file("8.bmp"), bmp24 = file("24.bmp"), png = file("grey.png"),
                      jpg = file("colour.jpg"), tif = file("g4.tif");
        {
            QImage sheet;
            const auto drawn = [&]() -> const QImage & {
                if (sheet.isNull())
                    sheet = DrawSheet(size);
                return sheet;
            };
            for (const auto &[bits, path] : {std::pair{1, bmp1}, std::pair{8, bmp8}, std::pair{24, bmp24}})
                if (!QFileInfo::exists(path) && !WriteSheetBmp(drawn(), bits, path)) {
                    std::fprintf(stderr, "cannot write %s\n", path.toUtf8().constData());
                    return 1;
                }
            if (!QFileInfo::exists(tif) && !WriteSheetG4(drawn(), tif))
                return 1;
            sheet = QImage();
            if (!QFileInfo::exists(png)) {
                QImageReader::setAllocationLimit(0);
                const QImage grey = QImage(bmp8).convertToFormat(QImage::Format_Grayscale8);
                if (grey.isNull() || !grey.save(png, "png")) {
                    std::fprintf(stderr, "cannot write %s\n", png.toUtf8().constData());
                    return 1;
                }
            }
            if (!QFileInfo::exists(jpg) && !Run(cjpeg, {"-quality", "90", "-outfile", jpg, bmp24}))
                return 1;
        }
    return 0;
}

int Formats(const QStringList &sizes, int runs, const QString &jobs, const QString &folder)
{
    const QString cli = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("trazbit-cli"));
    const auto tool = [](const char *name) { return QStandardPaths::findExecutable(QString::fromLatin1(name)); };
    const QString potrace = tool("potrace"), djpeg = tool("djpeg"),
                  pngtopnm = tool("pngtopnm"), tiffcp = tool("tiffcp");
    QTemporaryDir temporary;
    const QDir dir(folder.isEmpty() ? temporary.path() : folder);
    std::printf("median of %d runs; wall-clock s, CPU s (user + system), peak resident MB\n", runs);
    for (const QString &sizeName : sizes) {
        const TSheetSize size = SheetSizeNamed(sizeName);
        if (size.Width == 0)
            return 2;
        const auto file = [&](const char *name) { return dir.filePath(sizeName + QLatin1Char('-') + QLatin1String(name)); };
        const QString bmp1 = file("1.bmp"), bmp8 = file("8.bmp"), bmp24 = file("24.bmp"), png = file("grey.png"),
                      jpg = file("colour.jpg"), tif = file("g4.tif");
        // Written by a child process: a child's peak memory as the system
        // accounts it starts from its parent's, which must stay small.
        if (!Run(QCoreApplication::applicationFilePath(), {QStringLiteral("write-formats"), sizeName, dir.path()})) {
            std::fprintf(stderr, "cannot write the sheets\n");
            return 1;
        }
        std::printf("\n%s, %d x %d at %d dpi\n", sizeName.toUtf8().constData(), size.Width, size.Height, size.Dpi);
        std::printf("%-14s %-44s %22s %22s %6s %22s %22s %22s\n", "input", "options", "trazbit-cli -f dxf -q",
                    "potrace -b dxf (BMP)", "ratio", "decoder alone", "best: trazbit / goal", "best CPU: trazbit / goal");
        const QString out = dir.filePath(QStringLiteral("out.dxf"));
        struct TRow
        {
            const char *Input;
            QString Path, Equivalent;
            QString Options;
            QString Decoder;
            QStringList DecoderArguments;
        };
        const QString auto3 = QStringLiteral("--threshold auto --centerline --merge 1");
        const QString tifOut = dir.filePath(QStringLiteral("copy.tif"));
        const QList<TRow> rows = {
            {"1-bit BMP", bmp1, bmp1, QString(), QString(), {}},
            {"1-bit BMP", bmp1, bmp1, QStringLiteral("--threshold auto"), QString(), {}},
            {"1-bit BMP", bmp1, bmp1, QStringLiteral("--centerline --merge 1"), QString(), {}},
            {"1-bit BMP", bmp1, bmp1, auto3, QString(), {}},
            // The drawing's geometry, and its line types, widths and fills.
            {"1-bit BMP", bmp1, bmp1, QStringLiteral("--centerline --merge 1 --arcs 1 --snap 1"), QString(), {}},
            {"1-bit BMP", bmp1, bmp1,
             QStringLiteral("--centerline --merge 1 --arcs 1 --snap 1 --linetypes --widths auto --fills"), QString(), {}},
            {"8-bit BMP", bmp8, bmp8, auto3, QString(), {}},
            {"24-bit BMP", bmp24, bmp24, QString(), QString(), {}},
            {"24-bit BMP", bmp24, bmp24, QStringLiteral("--threshold 128"), QString(), {}},
            {"24-bit BMP", bmp24, bmp24, auto3, QString(), {}},
            {"grey PNG", png, bmp8, QStringLiteral("--threshold auto"), pngtopnm, {png}},
            {"grey PNG", png, bmp8, auto3, pngtopnm, {png}},
            {"colour JPEG", jpg, bmp24, QStringLiteral("--threshold auto"), djpeg, {"-outfile", "/dev/null", jpg}},
            {"colour JPEG", jpg, bmp24, auto3, djpeg, {"-outfile", "/dev/null", jpg}},
            {"G4 TIFF", tif, bmp1, QString(), tiffcp, {"-c", "none", tif, tifOut}},
            {"G4 TIFF", tif, bmp1, auto3, tiffcp, {"-c", "none", tif, tifOut}},
        };
        QString potraceDone;
        TMedians potraceTimes;
        // The best time of the 1-bit BMP with each set of options: the
        // pipeline's own part of the other formats' goal.
        QHash<QString, double> oneBit, oneBitCpu;
        for (const TRow &row : rows) {
            QStringList arguments{QStringLiteral("-f"), QStringLiteral("dxf"), QStringLiteral("-q")};
            if (!jobs.isEmpty())
                arguments << QStringLiteral("-j") << jobs;
            if (!row.Options.isEmpty())
                arguments << row.Options.split(QLatin1Char(' '));
            arguments << QStringLiteral("-o") << out << row.Path;
            const TMedians trazbit = Measure(cli, arguments, runs);
            if (!potrace.isEmpty() && potraceDone != row.Equivalent) {
                potraceTimes = Measure(potrace, {QStringLiteral("-b"), QStringLiteral("dxf"), row.Equivalent,
                                                 QStringLiteral("-o"), dir.filePath(QStringLiteral("potrace.dxf"))},
                                       runs);
                potraceDone = row.Equivalent;
            }
            TMedians decoder;
            if (!row.Decoder.isEmpty())
                decoder = Measure(row.Decoder, row.DecoderArguments, runs);
            const auto cell = [](const TMedians &m) {
                char text[64];
                std::snprintf(text, sizeof text, "%6.2f %6.2f %6.0f%s", m.Seconds, m.Cpu, m.PeakMB,
                              m.Failed ? "!" : " ");
                return QByteArray(text);
            };
            if (row.Path == bmp1) {
                oneBit.insert(row.Options, trazbit.Best);
                oneBitCpu.insert(row.Options, trazbit.BestCpu);
            }
            // The goal: five times potrace's speed, and for a format with a
            // decoder within 1.5 times its time and the 1-bit pipeline's.
            // The same in CPU seconds, which a machine busy with others
            // leaves nearer the truth.
            const auto goalCell = [&](double mine, double potraceBest, double decoderBest,
                                      const QHash<QString, double> &oneBitBest) {
                double goal = potrace.isEmpty() ? 0 : potraceBest / 5;
                if (!row.Decoder.isEmpty() && oneBitBest.contains(row.Options)) {
                    const double own = 1.5 * decoderBest + oneBitBest.value(row.Options);
                    goal = goal > 0 ? std::min(goal, own) : own;
                }
                char text[64];
                std::snprintf(text, sizeof text, "%6.2f / %6.2f %s", mine, goal,
                              goal <= 0 ? "  " : (mine <= goal ? "ok" : "no"));
                return QByteArray(text);
            };
            const QByteArray best = goalCell(trazbit.Best, potraceTimes.Best, decoder.Best, oneBit);
            const QByteArray bestCpu = goalCell(trazbit.BestCpu, potraceTimes.BestCpu, decoder.BestCpu, oneBitCpu);
            std::printf("%-14s %-44s %22s %22s %5.1fx %22s %22s %22s\n", row.Input,
                        row.Options.isEmpty() ? "(none)" : row.Options.toUtf8().constData(), cell(trazbit).constData(),
                        potrace.isEmpty() ? "-" : cell(potraceTimes).constData(),
                        trazbit.Cpu > 0 ? potraceTimes.Cpu / trazbit.Cpu : 0.0,
                        row.Decoder.isEmpty() ? "-" : cell(decoder).constData(), best.constData(),
                        bestCpu.constData());
            std::fflush(stdout);
        }
        std::printf("(ratio: potrace CPU seconds / trazbit CPU seconds; ! marks a failed run; goal: the smaller of\n"
                    " potrace / 5 and, with a decoder, 1.5 x its best + the 1-bit BMP's best with the same options;\n"
                    " best CPU: the same in CPU seconds)\n");
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (!args.isEmpty() && args[0] == QLatin1String("write"))
        return WriteOnly(args);
    if (!args.isEmpty() && args[0] == QLatin1String("write-lit"))
        return WriteLit(args);
    if (args.size() == 3 && args[0] == QLatin1String("write-formats"))
        return WriteFormats(args[1], args[2]);

    QStringList sizes{QStringLiteral("A0")};
    QList<int> depths{1, 24};
    int runs = 3;
    bool all = false;
    bool formats = false;
    QString jobs;
    QString folder;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == QLatin1String("--sizes")) {
            sizes = next.split(QLatin1Char(','));
            ++i;
        } else if (a == QLatin1String("--bits")) {
            depths.clear();
            for (const QString &b : next.split(QLatin1Char(',')))
                depths << b.toInt();
            ++i;
        } else if (a == QLatin1String("--runs")) {
            runs = std::max(1, next.toInt());
            ++i;
        } else if (a == QLatin1String("--jobs")) {
            jobs = next;
            ++i;
        } else if (a == QLatin1String("--dir")) {
            folder = next;
            ++i;
        } else if (a == QLatin1String("--all")) {
            all = true;
        } else if (a == QLatin1String("--formats")) {
            formats = true;
        } else {
            std::fprintf(stderr, "unknown option %s\n", a.toUtf8().constData());
            return 2;
        }
    }

    const QString cli = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("trazbit-cli"));
    if (!QFileInfo(cli).isExecutable()) {
        std::fprintf(stderr, "trazbit-cli not found beside this program\n");
        return 1;
    }
    if (formats)
        return Formats(sizes, runs, jobs, folder);
    const QString potrace = QStandardPaths::findExecutable(QStringLiteral("potrace"));
    QTemporaryDir temporary;
    const QDir dir(folder.isEmpty() ? temporary.path() : folder);

    std::printf("median of %d runs; wall-clock seconds, peak resident megabytes%s\n", runs,
                potrace.isEmpty() ? "; potrace not installed" : "");
    for (const QString &sizeName : sizes) {
        const TSheetSize size = SheetSizeNamed(sizeName);
        if (size.Width == 0) {
            std::fprintf(stderr, "unknown size %s\n", sizeName.toUtf8().constData());
            return 2;
        }
        QImage sheet;
        for (int bits : depths) {
            const QString path = dir.filePath(QStringLiteral("sheet-%1-%2.bmp").arg(sizeName).arg(bits));
            if (!QFileInfo::exists(path)) {
                if (sheet.isNull())
                    sheet = DrawSheet(size);
                if (!WriteSheetBmp(sheet, bits, path)) {
                    std::fprintf(stderr, "cannot write %s\n", path.toUtf8().constData());
                    return 1;
                }
            }
            const QString out = dir.filePath(QStringLiteral("out"));
            const long long segments = SegmentCount(cli, path, out + QStringLiteral(".dxf"));

            QStringList common{QStringLiteral("-q")};
            if (!jobs.isEmpty())
                common << QStringLiteral("-j") << jobs;
            std::vector<TCase> cases = {
                {"line+dxf", common + QStringList{"-m", "line", "-f", "dxf"}, out + ".dxf"}};
            if (all) {
                cases.push_back({"box+dxf", common + QStringList{"-m", "box", "-f", "dxf"}, out + ".dxf"});
                cases.push_back({"line2+dxf", common + QStringList{"-m", "line2", "-f", "dxf"}, out + ".dxf"});
                cases.push_back({"line+txt", common + QStringList{"-m", "line", "-f", "txt"}, out + ".txt"});
                cases.push_back({"line+jwc", common + QStringList{"-m", "line", "-f", "jwc"}, out + ".jwc"});
            }
            std::vector<TTimes> times(cases.size());
            TTimes potraceTimes;
            for (int r = 0; r < runs; ++r) {
                for (std::size_t c = 0; c < cases.size(); ++c)
                    times[c].Add(RunChild(cli, cases[c].Arguments + QStringList{"-o", cases[c].Output, path}));
                if (!potrace.isEmpty())
                    potraceTimes.Add(RunChild(potrace, {QStringLiteral("-b"), QStringLiteral("dxf"), path,
                                                        QStringLiteral("-o"), out + QStringLiteral("-potrace.dxf")}));
            }

            const double mpx = double(size.Width) * size.Height / 1e6;
            std::printf("\n%s %d-bit, %d x %d (%.1f Mpx, %.1f MB file), %lld segments\n",
                        sizeName.toUtf8().constData(), bits, size.Width, size.Height, mpx,
                        QFileInfo(path).size() / 1e6, segments);
            const double base = Median(times[0].Seconds);
            for (std::size_t c = 0; c < cases.size(); ++c) {
                const double s = Median(times[c].Seconds);
                std::printf("  trazbit %-10s %7.3f s %7.1f MB   %.2f ms/Mpx   %.3f s per million segments%s",
                            cases[c].Name, s, Median(times[c].PeakMB), 1000 * s / mpx,
                            segments > 0 ? s / (segments / 1e6) : 0.0, times[c].Failed ? "  FAILED" : "");
                if (c > 0)
                    std::printf("   (%.2f of line+dxf)", s / base);
                std::printf("\n");
            }
            if (!potrace.isEmpty()) {
                const double s = Median(potraceTimes.Seconds);
                const double mb = Median(potraceTimes.PeakMB);
                std::printf("  potrace -b dxf      %7.3f s %7.1f MB%s\n", s, mb,
                            potraceTimes.Failed ? "  FAILED" : "");
                std::printf("  ratio: potrace / trazbit line+dxf = %.2fx faster; memory %.2f of potrace's\n",
                            s / base, Median(times[0].PeakMB) / mb);
            }
            std::fflush(stdout);
            if (folder.isEmpty())
                QFile::remove(path);
        }
    }
    return 0;
}
