// Runs the clipboard command as the window program does, on the display's real
// clipboard, and keeps serving the text (for a minute at most) so that another
// program can read it. Writes "copied" or "failed" to the ready file when the
// text is on the clipboard.
// Usage: tool_ClipboardOwner <tag: 1 coordinate form, 2 JW_CAD form> <ready file>

#include "base/Settings.h"
#include "support/RecordingUserInterface.h"
#include "commands/ExportDriver.h"
#include "export/SystemClipboard.h"
#include "scan/ScanState.h"

#include <QFile>
#include <QGuiApplication>
#include <QTimer>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3)
        return 2;

    TRecordingUserInterface ui;
    TScanState state;
    if (!state.ResetSegments())
        return 3;
    state.ImageHeight = 0;
    state.AddSegment(0, 0, 10, -5);
    state.AddSegment(1.5f, -2.25f, 100, -200);
    TMainWindowState window;
    window.DataConverted = true;
    TSettings settings;
    settings.Divide1 = QStringLiteral("始");
    settings.Divide2 = QStringLiteral("、");
    settings.Divide5 = QString(QChar(0x301C));  // wave dash
    TSystemClipboard clipboard;
    TExportDriver driver(state, window, settings, ui, clipboard, QString());
    const bool copied = driver.CopyCommand(QByteArray(argv[1]).toInt(), QStringLiteral("1"))
        == TExportOutcome::Done;

    QFile ready(QString::fromLocal8Bit(argv[2]));
    if (!ready.open(QIODevice::WriteOnly))
        return 4;
    ready.write(copied ? "copied" : "failed");
    ready.close();
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}
