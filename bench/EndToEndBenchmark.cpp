// The whole command line on drawing sheets written as BMP files: load, trace
// and write, as a user runs it, against potrace on the same file in the same
// run when potrace is installed. Wall-clock time and peak memory are those of
// each finished process; the median of the runs is quoted.
//
//   <build>/bin/EndToEndBenchmark [--sizes A4,A1,A0] [--bits 1,24] [--runs 3]
//                                 [--all] [--jobs N] [--dir DIR]
//   <build>/bin/EndToEndBenchmark write SIZE BITS PATH     (only writes a sheet)
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
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (!args.isEmpty() && args[0] == QLatin1String("write"))
        return WriteOnly(args);

    QStringList sizes{QStringLiteral("A0")};
    QList<int> depths{1, 24};
    int runs = 3;
    bool all = false;
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
