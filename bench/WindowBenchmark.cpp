// The window program's conversion and save against the same work without a
// window: the scan driver and the DXF writer with the window program's user
// interface (progress window shown, pending window messages handled at the
// steps) and with one that shows nothing, on the same picture in the same run.
// The difference is what the window costs.
//
//   QT_QPA_PLATFORM=offscreen <build>/bin/WindowBenchmark PICTURE [--runs 3] [--threads N]

#include "commands/SaveData.h"
#include "app/WindowUserInterface.h"
#include "base/Settings.h"
#include "support/SilentUserInterface.h"
#include "export/DxfWriter.h"
#include "export/ExportContext.h"
#include "image/PictureFormats.h"
#include "commands/ScanDriver.h"
#include "scan/ScanState.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct TTimes
{
    std::vector<double> Convert, Save;
};

// One conversion and one save through `ui`; false when either failed.
bool RunOnce(TUserInterface &ui, const QString &picture, const QString &output, int threads,
             const TPictureFormats &formats, TTimes &times)
{
    TSettings settings = TSettings::Defaults();
    settings.DxfFileUse = false;
    TScanState state;
    QElapsedTimer timer;
    timer.start();
    TScanDriver driver(state, settings, ui, formats);
    driver.SetThreads(threads);
    if (driver.ScanData(picture) != ScanDone)
        return false;
    times.Convert.push_back(timer.nsecsElapsed() / 1e9);

    timer.restart();
    ui.ShowProgress(QStringLiteral("保存中・・・"), QStringLiteral("out.dxfをDXF形式で保存中"), false);
    TExportContext context(state, 1.0f, settings, ui.ProgressBar(), QString());
    context.Threads = threads;
    const TWriteResult result = SaveData2(context, ui, output);
    ui.CloseProgress();
    times.Save.push_back(timer.nsecsElapsed() / 1e9);
    return result == WriteDone;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: WindowBenchmark PICTURE [--runs N] [--threads N]\n");
        return 2;
    }
    int runs = 3;
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--threads"))
            threads = std::max(1, args[i + 1].toInt());
    }

    TPictureFormats formats;
    formats.RegisterBuiltIns();
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("out.dxf"));

    QWidget mainWindow;
    mainWindow.resize(400, 300);
    mainWindow.show();
    TWindowUserInterface window(&mainWindow);
    TSilentUserInterface silent;

    TTimes withWindow, without;
    for (int r = 0; r < runs; ++r) {
        if (!RunOnce(window, args[0], output, threads, formats, withWindow)
            || !RunOnce(silent, args[0], output, threads, formats, without)) {
            std::fprintf(stderr, "the conversion or the save failed\n");
            return 1;
        }
    }
    const double c1 = Median(withWindow.Convert), c0 = Median(without.Convert);
    const double s1 = Median(withWindow.Save), s0 = Median(without.Save);
    std::printf("median of %d runs, %d threads, seconds\n", runs, threads);
    std::printf("  conversion: window %.3f, without %.3f, difference %+.3f\n", c1, c0, c1 - c0);
    std::printf("  DXF save:   window %.3f, without %.3f, difference %+.3f\n", s1, s0, s1 - s0);
    return 0;
}
