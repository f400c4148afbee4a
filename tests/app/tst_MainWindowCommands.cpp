#include "app/ErrorReport.h"
#include "app/MainWindow.h"
#include "base/ProgramFolder.h"
#include "app/WindowUserInterface.h"
#include "dialogs/PreviewWindow.h"
#include "dialogs/ProgressWindow.h"
#include "dialogs/ScaleCalculator.h"
#include "dialogs/SettingsDialog.h"
#include "preview/PreviewImage.h"
#include "export/ClipboardTarget.h"
#include "image/PictureFormats.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "plugins/SPIs.h"

#include "scan/ScanPictures.h"
#include "support/RecordingUserInterface.h"
#include "support/WindowTestMain.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <QComboBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollBar>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <stdexcept>

namespace {

// Catches what the clipboard command places.
class TCaughtClipboard : public TClipboardTarget
{
public:
    bool Place(const QString &unicode, const QByteArray &cp932) override
    {
        Unicode = unicode;
        Bytes = cp932;
        ++Placed;
        return true;
    }
    QString Unicode;
    QByteArray Bytes;
    int Placed = 0;
};

// The window program's own user interface, with the open dialog answered.
class TAnsweringWindowInterface : public TWindowUserInterface
{
public:
    // Pending messages at every step, so that a small picture gives many.
    TAnsweringWindowInterface() : TWindowUserInterface(nullptr) { SetMessageInterval(0); }
    QString ChooseOpenFile(const TFileDialogRequest &) override { return OpenAnswer; }
    void ProcessMessages() override
    {
        TWindowUserInterface::ProcessMessages();
        if (OnProcessMessages)
            OnProcessMessages();
    }
    // The window made after this interface, for the tests that need it disabled.
    void Attach(QWidget *mainWindow) { MainWindow = mainWindow; }
    QString OpenAnswer;
    std::function<void()> OnProcessMessages;
};

// A 40 x 30 drawing, white with a row stroke (5..25 on row 3) and a column
// stroke (rows 10..20 of column 30), written as a 1-bit BMP file.
bool WritePlan(const QString &path)
{
    TTzDIB dib = WhitePicture(40, 30);
    for (int x = 5; x <= 25; ++x)
        dib.SetPixels(x, 3, 1);
    for (int y = 10; y <= 20; ++y)
        dib.SetPixels(30, y, 1);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    dib.SaveToStream(file);
    return true;
}

// A white sheet with one row stroke from column 2 to width - 3, stored with
// the resolution given (dots per metre, 0 for none), as a 1-bit BMP file.
bool WriteSheet(const QString &path, int width, int height, int row, int dotsPerMeter,
                QPoint speck = QPoint(-1, -1))
{
    TTzDIB dib = WhitePicture(width, height);
    for (int x = 2; x < width - 2; ++x)
        dib.SetPixels(x, row, 1);
    if (speck.x() >= 0)
        dib.SetPixels(speck.x(), speck.y(), 1);
    dib.InternalDIB()->Header().biXPelsPerMeter = dotsPerMeter;
    dib.InternalDIB()->Header().biYPelsPerMeter = dotsPerMeter;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    dib.SaveToStream(file);
    return true;
}

// The colour the preview shows at a sheet pixel.
QRgb PreviewPixel(TPreviewView &view, double x, double y)
{
    const QImage frame = view.grab().toImage();
    const QPointF at = (QPointF(x + 0.5, y + 0.5) - view.Origin()) * view.Scale();
    return frame.pixel(at.toPoint());
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A tall white 24-bit picture read a band of rows at a time, a little slowly,
// counting the rows read.
class TSlowRows : public TPictureRows
{
public:
    explicit TSlowRows(std::atomic<int> &read) : RowsRead(read)
    {
        FWidth = 400;
        FHeight = 20000;
        FBitCount = 24;
    }
    void Read(std::uint8_t *rows, int count) override
    {
        std::memset(rows, 0xFF, static_cast<std::size_t>(RowSize() * count));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        RowsRead += count;
    }

private:
    std::atomic<int> &RowsRead;
};

} // namespace

class TestMainWindowCommands : public QObject
{
    Q_OBJECT

    QString SettingsFile() const { return Dir.filePath(QStringLiteral("trazbit.ini")); }

    std::unique_ptr<TForm1> NewWindow(TUserInterface &ui)
    {
        auto window = std::make_unique<TForm1>(SettingsFile(), &ui);
        window->Clipboard = &Clipboard;
        window->show();
        return window;
    }

    // A folder of the test with the plan drawing in it.
    QString PlanIn(const QString &folder)
    {
        QDir(Dir.path()).mkpath(folder);
        const QString path = Dir.filePath(folder + QStringLiteral("/plan.bmp"));
        if (!WritePlan(path))
            qWarning("cannot write the plan");
        return path;
    }

    static QString FolderOf(const QString &path)
    {
        return QDir::toNativeSeparators(QFileInfo(path).absolutePath()) + QDir::separator();
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(SettingsFile());
        UI = TRecordingUserInterface();
        Clipboard = TCaughtClipboard();
        Reports.clear();
        SetErrorReporter([this](const QString &text) { Reports << text; });
    }
    void cleanup() { SetErrorReporter({}); }

    void openConvertAndClose()
    {
        const QString plan = PlanIn(QStringLiteral("drawings"));
        {
            auto window = NewWindow(UI);
            window->Edit1->setText(QStringLiteral("2"));
            UI.OpenAnswer = plan;
            QTest::mouseClick(window->OpenButton, Qt::LeftButton);

            QCOMPARE(UI.OpenRequests.size(), size_t(1));
            const TFileDialogRequest &request = UI.OpenRequests[0];
            QCOMPARE(request.Folder, ProgramFolder());
            // Every picture format, the entry of all of them first.
            QVERIFY2(request.Filter.startsWith(QStringLiteral("すべての画像 (")), qPrintable(request.Filter));
            QVERIFY(request.Filter.section(QLatin1Char('|'), 1, 1).split(QLatin1Char(';'))
                        .contains(QStringLiteral("*.bmp")));
            QVERIFY(request.Filter.contains(QStringLiteral("|*.dib")));
            // The plug-in beside the program adds its formats.
            QVERIFY2(request.Filter.contains(QStringLiteral("|CALS raster type 1 (*.ct1;*.cal)|*.ct1;*.cal")),
                     qPrintable(request.Filter));
            QVERIFY(window->Plugins);

            QCOMPARE(UI.ProgressCaption, QStringLiteral("読込中・・・"));
            QCOMPARE(UI.ProgressLabel, QStringLiteral("読込中:plan.bmp"));
            QVERIFY(UI.MainWindowEnabled);
            QVERIFY(!UI.ProgressOpen);
            QVERIFY(UI.Messages.isEmpty());

            QVERIFY(window->State.DataConverted);
            QCOMPARE(window->State.SourceFileName, plan);
            QCOMPARE(window->Scan.SegmentCount, 2);
            QCOMPARE(window->FileNameLabel->text(), QStringLiteral("plan.bmp"));
            QCOMPARE(window->CountLabel->text(), QStringLiteral("2本"));
            QCOMPARE(window->ModeLabel->text(), QStringLiteral("ライン"));
            // The extents start at the sheet's 40 x 30 pixels: twice that with ratios 1.
            QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=80.00000"));
            QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=60.00000"));
            QCOMPARE(window->MinXLabel->text(), QStringLiteral("X=0.00000"));

            // Typing a new magnification rescales at once.
            window->Edit1->setText(QStringLiteral("0.5"));
            QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=20.00000"));
            QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=15.00000"));
            QCOMPARE(window->Settings.OpenDir, FolderOf(plan));
            window->close();
            // Closing released the plug-ins and their formats.
            QVERIFY(!window->Plugins);
            QVERIFY(!window->Formats.Find(QStringLiteral("cal")));
        }
        auto again = NewWindow(UI);
        QCOMPARE(again->Settings.OpenDir, FolderOf(plan));
    }

    void conversionsTakeTheCleanupSettings()
    {
        // The plan's upright stroke is 11 pixels, its level one 21: speck
        // removal of up to 15 pixels leaves one segment, and the labels count it.
        const QString plan = PlanIn(QStringLiteral("cleanup"));
        auto window = NewWindow(UI);
        window->Settings.CleanupDespeckle = 15;
        UI.OpenAnswer = plan;
        QTest::mouseClick(window->OpenButton, Qt::LeftButton);
        QVERIFY(window->State.DataConverted);
        QCOMPARE(window->Scan.SegmentCount, 1);
        QCOMPARE(window->CountLabel->text(), QStringLiteral("1本"));

        window->Settings.CleanupDespeckle = 0;
        QTest::mouseClick(window->OpenButton, Qt::LeftButton);
        QCOMPARE(window->CountLabel->text(), QStringLiteral("2本"));
    }

    void cancelledDialogChangesNothing()
    {
        auto window = NewWindow(UI);
        const QString before = window->Settings.OpenDir;
        UI.OpenAnswer = QString();
        window->F1->trigger();
        QCOMPARE(UI.OpenRequests.size(), size_t(1));
        QCOMPARE(UI.ProgressShown, 0);
        QCOMPARE(window->Settings.OpenDir, before);
        QCOMPARE(window->State.SourceFileName, QString());
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("*"));
    }

    void openDirFollowsThePickedFileWhateverTheOutcome()
    {
        auto window = NewWindow(UI);
        window->Settings.OpenDir = Dir.filePath(QStringLiteral("gone/"));

        // A damaged picture: the conversion fails with its message.
        QDir(Dir.path()).mkpath(QStringLiteral("broken"));
        const QString broken = Dir.filePath(QStringLiteral("broken/bad.bmp"));
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("BM not a picture");
        }
        UI.OpenAnswer = broken;
        window->F1->trigger();
        // A folder that is gone falls back to the program's folder.
        QCOMPARE(UI.OpenRequests.back().Folder, ProgramFolder());
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("ファイルが読み込めませんした。")});
        QVERIFY(!window->State.DataConverted);
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("*"));
        QCOMPARE(window->CountLabel->text(), QStringLiteral("0本"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=0"));
        QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=0"));
        QCOMPARE(window->State.SourceFileName, broken);
        QCOMPARE(window->Settings.OpenDir, FolderOf(broken));

        // Cancelled from another folder: the next dialog starts there all the same.
        const QString plan = PlanIn(QStringLiteral("other"));
        UI.OpenAnswer = plan;
        UI.OnProcessMessages = [this] { UI.PressCancel(); };
        window->F1->trigger();
        UI.OnProcessMessages = nullptr;
        QCOMPARE(UI.OpenRequests.back().Folder, FolderOf(broken));
        QVERIFY(!window->State.DataConverted);
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("*"));
        QCOMPARE(window->Settings.OpenDir, FolderOf(plan));
        UI.OpenAnswer = QString();
        window->F1->trigger();
        QCOMPARE(UI.OpenRequests.back().Folder, FolderOf(plan));
    }

    void anEscapingErrorIsReportedAndTheWindowRestored()
    {
        auto window = NewWindow(UI);
        const QString plan = PlanIn(QStringLiteral("err"));
        window->FileNameLabel->setText(QStringLiteral("earlier.bmp"));
        UI.OpenAnswer = plan;
        UI.OnProcessMessages = [] { throw std::runtime_error("Pixels: out of range"); };
        window->F1->trigger();
        UI.OnProcessMessages = nullptr;
        QCOMPARE(Reports, QStringList{QStringLiteral("Pixels: out of range")});
        QVERIFY(UI.MainWindowEnabled);
        QVERIFY(!UI.ProgressOpen);
        QVERIFY(!UI.BusyCursor);
        QVERIFY(!window->State.DataConverted);
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("earlier.bmp"));
        QCOMPARE(window->Settings.OpenDir, FolderOf(plan));
        // The window goes on working.
        window->F1->trigger();
        QVERIFY(window->State.DataConverted);
    }

    // While a picture is read the window handles its messages, the bar
    // follows the bands read, and the cancel button stops the reading.
    void readingMovesTheBarAndItsCancelStopsTheReading()
    {
        TAnsweringWindowInterface ui;
        auto window = NewWindow(ui);
        ui.Attach(window.get());
        std::atomic<int> rowsRead{0};
        window->Formats.Register(QStringLiteral("slow"), QStringLiteral("slow"),
                                 [](const QString &, TTzDIB &) { throw std::runtime_error("whole"); });
        window->Formats.SetRows(QStringLiteral("slow"), [&rowsRead](const QString &) {
            return std::make_unique<TSlowRows>(rowsRead);
        });
        QDir(Dir.path()).mkpath(QStringLiteral("slow"));
        const QString path = Dir.filePath(QStringLiteral("slow/tall.slow"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        ui.OpenAnswer = path;
        // The bar's positions seen at the messages handled while reading.
        std::vector<int> positions;
        bool cancelAtSecond = false;
        ui.OnProcessMessages = [&] {
            TForm4 *progress = ui.ProgressWindow();
            if (!progress || progress->ProgressBar1->maximum() != 20000)
                return;
            const int value = progress->ProgressBar1->value();
            if (positions.empty() || positions.back() != value)
                positions.push_back(value);
            QVERIFY(!window->isEnabled());
            if (cancelAtSecond && positions.size() == 2 && progress->isVisible())
                QTest::mouseClick(progress->Button1, Qt::LeftButton);
        };
        window->F1->trigger();
        QVERIFY(window->State.DataConverted);
        QCOMPARE(rowsRead.load(), 20000);
        QVERIFY2(positions.size() >= 3, qPrintable(QString::number(positions.size())));
        QVERIFY(std::is_sorted(positions.begin(), positions.end()));

        positions.clear();
        rowsRead = 0;
        cancelAtSecond = true;
        window->F1->trigger();
        QVERIFY(!window->State.DataConverted);
        QVERIFY(window->isEnabled());
        QCOMPARE(ui.ProgressWindow(), nullptr);
        QVERIFY2(rowsRead < 20000, qPrintable(QString::number(rowsRead)));
        QCOMPARE(window->CountLabel->text(), QStringLiteral("0本"));
    }

    void progressWindowIsTheOnlyOneTakingInputAndItsCancelStops()
    {
        TAnsweringWindowInterface ui;
        auto window = NewWindow(ui);
        ui.Attach(window.get());
        ui.OpenAnswer = PlanIn(QStringLiteral("live"));
        int pumps = 0;
        bool checked = false;
        ui.OnProcessMessages = [&] {
            if (++pumps != 5)
                return;
            TForm4 *progress = ui.ProgressWindow();
            QVERIFY(progress);
            checked = true;
            QVERIFY(!window->isEnabled());
            QVERIFY(progress->isVisible());
            QVERIFY(progress->isEnabled());
            QCOMPARE(progress->windowTitle(), QStringLiteral("読込中・・・"));
            QCOMPARE(progress->Label1->text(), QStringLiteral("読込中:plan.bmp"));
            QTest::mouseClick(progress->Button1, Qt::LeftButton);
            QVERIFY(!progress->isVisible());
        };
        window->F1->trigger();
        QVERIFY(checked);
        QVERIFY(window->isEnabled());
        QCOMPARE(ui.ProgressWindow(), nullptr);
        QVERIFY(!window->State.DataConverted);
        QCOMPARE(window->CountLabel->text(), QStringLiteral("0本"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=0"));
        // Cancel stopped the tracing long before its 211 message pumps.
        QVERIFY(pumps < 20);

        // The next conversion starts with the flag cleared.
        pumps = 100;
        window->F1->trigger();
        QVERIFY(window->State.DataConverted);
        QCOMPARE(window->CountLabel->text(), QStringLiteral("2本"));
    }

    void saveWritesTheChosenFile()
    {
        auto window = NewWindow(UI);
        UI.OpenAnswer = PlanIn(QStringLiteral("in"));
        window->F1->trigger();
        QDir(Dir.path()).mkpath(QStringLiteral("out"));
        const QString target = Dir.filePath(QStringLiteral("out/plan.txt"));
        UI.SaveAnswer = target;
        QTest::mouseClick(window->SaveButton, Qt::LeftButton);

        QCOMPARE(UI.SaveRequests.size(), size_t(1));
        QCOMPARE(UI.SaveRequests[0].FileName, QStringLiteral("plan.txt"));
        QCOMPARE(UI.SaveRequests[0].FilterIndex, 1);
        QCOMPARE(UI.ProgressCaption, QStringLiteral("保存中・・・"));
        QCOMPARE(UI.ProgressLabel, QStringLiteral("plan.txtをtxt形式で保存中"));
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("保存が終了しました。")});
        QCOMPARE(ReadAll(target), QByteArray("5 27 25 27\r\n30 20 30 10\r\n"));
        QCOMPARE(window->Settings.SaveDir, QDir::toNativeSeparators(QFileInfo(target).absolutePath()));
        QCOMPARE(window->Settings.SaveMode, 1);
        QCOMPARE(window->State.Magnification, 1.0f);
        QVERIFY(UI.MainWindowEnabled);
        QVERIFY(!UI.BusyCursor);

        // The save menu item shares the handler; DXF by the chosen name.
        UI.Messages.clear();
        UI.SaveAnswer = Dir.filePath(QStringLiteral("out/plan.Dxf"));
        window->F2_1->trigger();
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("保存が終了しました。")});
        QCOMPARE(window->Settings.SaveMode, 2);
        // The writer names the file with its own extension.
        const QByteArray dxf = ReadAll(Dir.filePath(QStringLiteral("out/plan.dxf")));
        QVERIFY(dxf.contains("LINE"));
        QVERIFY(dxf.endsWith("  0\r\nEOF\r\n"));
    }

    void exportsRefuseBadMagnificationAndMissingData()
    {
        auto window = NewWindow(UI);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->Edit1->setText(QStringLiteral("abc"));
        window->OpenButton->setFocus();
        UI.Messages.clear();
        window->F2_1->trigger();
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。")});
        QCOMPARE(QApplication::focusWidget(), window->Edit1);

        window->Edit1->setText(QStringLiteral("1"));
        UI.Messages.clear();
        window->F3_1->trigger();
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("ファイルが開いてません。")});
        QVERIFY(UI.SaveRequests.empty());
        QCOMPARE(Clipboard.Placed, 0);
    }

    void aFileThatCannotBeCreatedGoesToTheTopLevelReport()
    {
        auto window = NewWindow(UI);
        UI.OpenAnswer = PlanIn(QStringLiteral("unwritable"));
        window->F1->trigger();
        const QString before = window->Settings.SaveDir;
        UI.SaveAnswer = Dir.filePath(QStringLiteral("missing/plan.txt"));
        window->F2_1->trigger();
        QCOMPARE(Reports.size(), 1);
        QVERIFY2(Reports[0].contains(QDir::toNativeSeparators(UI.SaveAnswer)), qPrintable(Reports[0]));
        QVERIFY(UI.Messages.isEmpty());
        QVERIFY(UI.MainWindowEnabled);
        QVERIFY(!UI.ProgressOpen);
        QVERIFY(!UI.BusyCursor);
        QCOMPARE(window->Settings.SaveDir, before);
    }

    // The zoom box, the scroll bars and the overview move the view; a new
    // conversion of the sheet keeps where the view is.
    void previewKeepsItsViewAcrossConversions()
    {
        auto window = NewWindow(UI);
        QDir(Dir.path()).mkpath(QStringLiteral("zoom"));
        const QString sheet = Dir.filePath(QStringLiteral("zoom/sheet.bmp"));
        QVERIFY(WriteSheet(sheet, 600, 400, 100, 0));
        UI.OpenAnswer = sheet;
        window->F1->trigger();
        TPreviewWindow &preview = *window->Preview;
        TPreviewView &view = *preview.View;
        preview.resize(700, 500);
        QVERIFY(view.Fitted());
        QCOMPARE(preview.ZoomBox->currentText(), QStringLiteral("全体"));

        // A typed percentage, with or without its sign.
        preview.ZoomBox->setEditText(QStringLiteral("250"));
        QTest::keyClick(preview.ZoomBox, Qt::Key_Return);
        QCOMPARE(view.Scale(), 2.5);
        QCOMPARE(preview.ZoomBox->currentText(), QStringLiteral("250%"));
        QCOMPARE(preview.HorizontalBar->maximum(), 1500 - view.width());
        preview.HorizontalBar->setValue(500);
        preview.VerticalBar->setValue(300);
        QCOMPARE(view.Origin(), QPointF(200, 120));
        // The overview frames the part in view: 600 sheet pixels over 180.
        const QRectF frame = preview.Overview->Frame();
        QCOMPARE(frame.topLeft(), QPointF(200, 120) * 0.3 + QPointF(0, 30));
        QVERIFY2(std::abs(frame.width() - view.width() / 2.5 * 0.3) < 1, qPrintable(QString::number(frame.width())));

        // Converted again (a new method): the same zoom and place.
        window->Settings.PixelScanMode = 2;
        window->F1->trigger();
        QVERIFY(window->State.DataConverted);
        QCOMPARE(view.Scale(), 2.5);
        QCOMPARE(view.Origin(), QPointF(200, 120));
        QCOMPARE(preview.HorizontalBar->value(), 500);

        // A click on the overview centres the view there.
        QTest::mouseClick(preview.Overview, Qt::LeftButton, {},
                          (QPointF(300, 200) * 0.3 + QPointF(0, 30)).toPoint());
        const QPointF centre = view.Origin() + QPointF(view.width(), view.height()) / 2 / view.Scale();
        QVERIFY2(std::abs(centre.x() - 300) < 4 && std::abs(centre.y() - 200) < 4,
                 qPrintable(QStringLiteral("%1 %2").arg(centre.x()).arg(centre.y())));

        preview.ZoomBox->setEditText(QStringLiteral("全体"));
        QTest::keyClick(preview.ZoomBox, Qt::Key_Return);
        QVERIFY(view.Fitted());
        QVERIFY(!preview.HorizontalBar->isEnabled());
    }

    // A grey scan shows under its segments as it is; what the tracer saw
    // marks the dark pixels the exact-black rule left out, and the status
    // line names the setting that reads them.
    void previewShowsTheScanAndWhatTheTracerSaw()
    {
        auto window = NewWindow(UI);
        QDir(Dir.path()).mkpath(QStringLiteral("grey"));
        const QString path = Dir.filePath(QStringLiteral("grey/grey.bmp"));
        QImage grey(80, 60, QImage::Format_Grayscale8);
        grey.fill(255);
        for (int x = 5; x <= 75; ++x) {
            grey.setPixel(x, 20, qRgb(60, 60, 60));
            grey.setPixel(x, 40, qRgb(0, 0, 0));
        }
        QVERIFY(grey.save(path, "BMP"));
        UI.OpenAnswer = path;
        window->F1->trigger();
        QCOMPARE(window->CountLabel->text(), QStringLiteral("1本"));
        TPreviewWindow &preview = *window->Preview;
        TPreviewView &view = *preview.View;
        // The grey stroke, lightened as black is to Ink.
        const int shown = 60 + (255 - 60) * TPreviewImage::Lighten / 255;
        QVERIFY2(std::abs(qGray(PreviewPixel(view, 40, 20)) - shown) <= 1,
                 qPrintable(QString::number(qGray(PreviewPixel(view, 40, 20)))));
        QCOMPARE(PreviewPixel(view, 40, 40), TPreviewImage::Line);
        QVERIFY2(preview.StatusLabel->text().contains(QStringLiteral("暗い画素の 50% は完全な黒でないため線になっていません。"
                                                                     "環境設定の「しきい値」")),
                 qPrintable(preview.StatusLabel->text()));
        preview.TracedButton->setChecked(true);
        QCOMPARE(PreviewPixel(view, 40, 20), TPreviewImage::DarkNotInk);
        QCOMPARE(PreviewPixel(view, 40, 30), TPreviewImage::Paper);

        // With a threshold the grey stroke is ink: no warning.
        window->Settings.CleanupThreshold = QStringLiteral("auto");
        window->F1->trigger();
        QCOMPARE(window->CountLabel->text(), QStringLiteral("2本"));
        QVERIFY(!preview.StatusLabel->text().contains(QStringLiteral("しきい値")));
        QVERIFY(PreviewPixel(view, 40, 20) != TPreviewImage::DarkNotInk);
        preview.ScanButton->setChecked(true);
    }

    void previewFollowsTheSegmentList()
    {
        auto window = NewWindow(UI);
        QDir(Dir.path()).mkpath(QStringLiteral("sheets"));
        const QString first = Dir.filePath(QStringLiteral("sheets/first.bmp"));
        const QString second = Dir.filePath(QStringLiteral("sheets/second.bmp"));
        QVERIFY(WriteSheet(first, 60, 40, 10, 0));
        QVERIFY(WriteSheet(second, 60, 40, 30, 15748));

        // Opened by itself after the conversion, without taking the focus.
        UI.OpenAnswer = first;
        window->F1->trigger();
        QVERIFY(window->Preview);
        QVERIFY(window->Preview->isVisible());
        TPreviewView &view = *window->Preview->View;
        QCOMPARE(PreviewPixel(view, 30, 10), TPreviewImage::Line);
        QCOMPARE(PreviewPixel(view, 30, 30), TPreviewImage::Paper);
        QVERIFY2(window->Preview->StatusLabel->text().startsWith(
                     QStringLiteral("60 × 40 ピクセル　解像度の記録なし　1本　表示 ")),
                 qPrintable(window->Preview->StatusLabel->text()));

        // The next conversion redraws it: the new stroke, not the old one.
        UI.OpenAnswer = second;
        window->F1->trigger();
        QCOMPARE(PreviewPixel(view, 30, 30), TPreviewImage::Line);
        QCOMPARE(PreviewPixel(view, 30, 10), TPreviewImage::Paper);
        QVERIFY(window->Preview->StatusLabel->text().contains(QStringLiteral("　400 dpi　")));
        QCOMPARE(window->Preview->windowTitle(), QStringLiteral("ﾌﾟﾚﾋﾞｭｰ - second.bmp"));

        // A change of the list made elsewhere, once told.
        window->Scan.SegmentCount = 0;
        window->SegmentListChanged();
        QCOMPARE(PreviewPixel(view, 30, 30), TPreviewImage::Ink);

        // A picture that cannot be read leaves nothing to show.
        const QString broken = Dir.filePath(QStringLiteral("sheets/broken.bmp"));
        QFile junk(broken);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("BM not a picture");
        junk.close();
        UI.OpenAnswer = broken;
        window->F1->trigger();
        QVERIFY(!view.Picture());

        // Turned off, it stays closed; the menu command opens it.
        window->Preview->close();
        QTRY_VERIFY(!window->Preview);
        window->Settings.AutoPreview = false;
        UI.OpenAnswer = first;
        window->F1->trigger();
        QVERIFY(!window->Preview);
        window->F1_3->trigger();
        QVERIFY(window->Preview && window->Preview->isVisible());
        QCOMPARE(PreviewPixel(*window->Preview->View, 30, 10), TPreviewImage::Line);
    }

    void newCleanupSettingsConvertThePictureAgainAndThePreviewFollows()
    {
        auto window = NewWindow(UI);
        QDir(Dir.path()).mkpath(QStringLiteral("specks"));
        const QString sheet = Dir.filePath(QStringLiteral("specks/speck.bmp"));
        QVERIFY(WriteSheet(sheet, 60, 40, 10, 0, QPoint(30, 30)));
        UI.OpenAnswer = sheet;
        window->F1->trigger();
        // A lone pixel is no segment of line mode, but shows grey.
        QCOMPARE(window->CountLabel->text(), QStringLiteral("1本"));
        TPreviewView &view = *window->Preview->View;
        QCOMPARE(PreviewPixel(view, 30, 30), TPreviewImage::Ink);
        const int converted = UI.ProgressShown;

        // Specks of up to 2 pixels removed: converted again, the speck gone
        // from what the tracer saw, though still in the scan under it.
        window->OnDialogCreated = [](QDialog &dialog) {
            auto *settings = qobject_cast<TForm2 *>(&dialog);
            settings->DespeckleEdit->setText(QStringLiteral("2"));
            QMetaObject::invokeMethod(settings->OKButton, &QPushButton::click, Qt::QueuedConnection);
        };
        window->S1->trigger();
        QCOMPARE(UI.ProgressShown, converted + 1);
        QCOMPARE(window->CountLabel->text(), QStringLiteral("1本"));
        QCOMPARE(PreviewPixel(view, 30, 30), TPreviewImage::Ink);
        QCOMPARE(PreviewPixel(view, 30, 10), TPreviewImage::Line);
        window->Preview->TracedButton->setChecked(true);
        QCOMPARE(PreviewPixel(view, 30, 30), TPreviewImage::DarkNotInk);
        QCOMPARE(PreviewPixel(view, 30, 10), TPreviewImage::Line);
        QCOMPARE(PreviewPixel(view, 5, 5), TPreviewImage::Paper);
        window->Preview->ScanButton->setChecked(true);

        // Settings closed unchanged convert nothing.
        const int shown = UI.ProgressShown;
        window->OnDialogCreated = [](QDialog &dialog) {
            QMetaObject::invokeMethod(&dialog, &QDialog::reject, Qt::QueuedConnection);
        };
        window->S1->trigger();
        QCOMPARE(UI.ProgressShown, shown);
    }

    // The method chosen in the settings converts the picture on show again:
    // label, count and copied text are those of a fresh conversion by it.
    void aNewMethodConvertsThePictureAgain()
    {
        const QString plan = PlanIn(QStringLiteral("method"));
        struct TCase { int Mode; QString Label; };
        for (const TCase &c : {TCase{2, QStringLiteral("ボックス")}, TCase{3, QStringLiteral("ライン２")},
                               TCase{1, QStringLiteral("ライン")}}) {
            // The known answer: a window that starts with the method.
            QByteArray fresh;
            QString freshCount;
            {
                auto window = NewWindow(UI);
                window->Settings.PixelScanMode = c.Mode;
                UI.OpenAnswer = plan;
                window->F1->trigger();
                window->F3_1->trigger();
                fresh = Clipboard.Bytes;
                freshCount = window->CountLabel->text();
                window->close();
            }
            QFile::remove(SettingsFile());
            auto window = NewWindow(UI);
            window->Settings.PixelScanMode = c.Mode == 1 ? 2 : 1;
            window->F1->trigger();
            const int shown = UI.ProgressShown;
            window->OnDialogCreated = [&c](QDialog &dialog) {
                auto *settings = qobject_cast<TForm2 *>(&dialog);
                (c.Mode == 2 ? settings->RadioButton2 : c.Mode == 3 ? settings->RadioButton3
                                                                     : settings->RadioButton1)
                    ->setChecked(true);
                QMetaObject::invokeMethod(settings->OKButton, &QPushButton::click, Qt::QueuedConnection);
            };
            window->S1->trigger();
            QCOMPARE(UI.ProgressShown, shown + 1);
            QCOMPARE(window->ModeLabel->text(), c.Label);
            QCOMPARE(window->CountLabel->text(), freshCount);
            Clipboard.Bytes.clear();
            window->F3_1->trigger();
            QCOMPARE(Clipboard.Bytes, fresh);
            window->close();
            QFile::remove(SettingsFile());
        }
    }

    // A file that is no picture keeps the fixed message; its detail names the
    // file and gives the reason the command line gives for it.
    void readFailuresNameTheFileAndTheReason()
    {
        const QString truncated = QStringLiteral(
            "TTzInternalDIB.LoadFromStream: The File Ends Before Its Picture Does (Stream read error)");
        TTzDIB whole = WhitePicture(64, 64);
        QByteArray cut;
        {
            QBuffer buffer(&cut);
            buffer.open(QIODevice::WriteOnly);
            whole.SaveToStream(buffer);
        }
        cut.chop(200);
        struct TCase { QString Name; QByteArray Bytes; QString Reason; };
        const TCase cases[] = {
            {QStringLiteral("text.bmp"), QByteArray("hello, not a picture\n"),
             QStringLiteral("TTzInternalDIB.LoadFromFile: File type is invalid")},
            {QStringLiteral("empty.bmp"), QByteArray(), truncated},
            {QStringLiteral("cut.bmp"), cut, truncated},
            {QStringLiteral("text.png"), QByteArray("hello\n"), 
             // In the window, in Qt's Japanese.
             QStringLiteral("QImageReader: ")
                 + QCoreApplication::translate("QImageReader", "Unsupported image format")},
        };
        QDir(Dir.path()).mkpath(QStringLiteral("broken"));
        auto window = NewWindow(UI);
        for (const TCase &c : cases) {
            const QString path = Dir.filePath(QStringLiteral("broken/") + c.Name);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(c.Bytes);
            file.close();
            UI.Messages.clear();
            UI.Details.clear();
            UI.OpenAnswer = path;
            window->F1->trigger();
            QVERIFY(!window->State.DataConverted);
            QCOMPARE(UI.Messages, QStringList{QStringLiteral("ファイルが読み込めませんした。")});
            QCOMPARE(UI.Details, QStringList{QDir::toNativeSeparators(path) + QLatin1Char('\n') + c.Reason});
        }
    }

    void aDroppedPictureOpensAndTheCalculatorTakesItsResolution()
    {
        auto window = NewWindow(UI);
        QDir(Dir.path()).mkpath(QStringLiteral("dropped"));
        const QString sheet = Dir.filePath(QStringLiteral("dropped/sheet.bmp"));
        QVERIFY(WriteSheet(sheet, 60, 40, 10, 15748));

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(sheet)});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        QTRY_VERIFY(window->State.DataConverted);
        QVERIFY(UI.OpenRequests.empty());
        QCOMPARE(window->State.SourceFileName, sheet);
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("sheet.bmp"));
        QCOMPARE(window->FileNameLabel->toolTip(), QStringLiteral("sheet.bmp"));
        QCOMPARE(window->Settings.OpenDir, FolderOf(sheet));

        // A file no picture format reads is refused at the door.
        QMimeData text;
        text.setUrls({QUrl::fromLocalFile(SettingsFile())});
        QDragEnterEvent refused(QPoint(20, 20), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        refused.setAccepted(false);
        QApplication::sendEvent(window.get(), &refused);
        QVERIFY(!refused.isAccepted());

        // 15748 dots per metre: the calculator starts at 400 dpi.
        QString resolution;
        window->OnDialogCreated = [&](QDialog &dialog) {
            auto *calculator = qobject_cast<TForm5 *>(&dialog);
            QVERIFY(calculator);
            resolution = calculator->Edit2->text();
            QMetaObject::invokeMethod(&dialog, &QDialog::reject, Qt::QueuedConnection);
        };
        window->F1_2->trigger();
        QCOMPARE(resolution, QStringLiteral("400"));
    }

    void aPictureNamedAtStartOpensOnceTheEventsRun()
    {
        auto window = NewWindow(UI);
        const QString sheet = Dir.filePath(QStringLiteral("started.bmp"));
        QVERIFY(WriteSheet(sheet, 60, 40, 10, 15748));
        // A name relative to the current folder, made whole at once.
        const QString started = QDir::currentPath();
        QVERIFY(QDir::setCurrent(Dir.path()));
        window->OpenAtStart(QStringLiteral("started.bmp"));
        QVERIFY(QDir::setCurrent(started));
        QVERIFY(!window->State.DataConverted);
        QTRY_VERIFY(window->State.DataConverted);
        QVERIFY(UI.OpenRequests.empty());
        QCOMPARE(window->State.SourceFileName, sheet);
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("started.bmp"));
    }

    void clipboardItemsCopyTheirForm()
    {
        auto window = NewWindow(UI);
        UI.OpenAnswer = PlanIn(QStringLiteral("clip"));
        window->F1->trigger();
        window->Edit1->setText(QStringLiteral("2"));

        window->F3_1->trigger();
        QCOMPARE(UI.ProgressCaption, QStringLiteral("クリップボードへコピー中・・・"));
        QCOMPARE(UI.Labels.back(), QStringLiteral("座標形式"));
        QCOMPARE(Clipboard.Bytes, QByteArray("10 54 50 54\n\r60 40 60 20\n\r"));
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("コピーが終了しました。")});

        UI.Messages.clear();
        window->F3_2->trigger();
        QCOMPARE(UI.Labels.back(), QStringLiteral("JWTran形式"));
        QCOMPARE(Clipboard.Bytes, QByteArray(";<<JWT.Format.Text>>\n\rBEGIN\n\rL2,0,10,54,50,54,1,1\n\r"
                                             "L2,0,60,40,60,20,1,1\n\rEND"));
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("コピーが終了しました。")});
        QCOMPARE(Clipboard.Placed, 2);
        QVERIFY(UI.MainWindowEnabled);
    }

private:
    QTemporaryDir Dir;
    TRecordingUserInterface UI;
    TCaughtClipboard Clipboard;
    QStringList Reports;
};

TRAZBIT_WINDOW_TEST_MAIN(TestMainWindowCommands)
#include "tst_MainWindowCommands.moc"
