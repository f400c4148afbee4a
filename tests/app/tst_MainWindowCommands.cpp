#include "app/ErrorReport.h"
#include "app/MainWindow.h"
#include "app/core/ProgramFolder.h"
#include "app/WindowUserInterface.h"
#include "dialogs/PreviewWindow.h"
#include "dialogs/ProgressWindow.h"
#include "dialogs/ScaleCalculator.h"
#include "dialogs/SettingsDialog.h"
#include "export/PreviewImage.h"
#include "export/ClipboardTarget.h"
#include "image/TzDIB.h"
#include "plugins/SPIs.h"

#include "scan/ScanPictures.h"
#include "support/RecordingUserInterface.h"
#include "support/WindowTestMain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
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

            QVERIFY(window->Scan.DataConverted);
            QCOMPARE(window->Scan.SourceFileName, plan);
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
        QVERIFY(window->Scan.DataConverted);
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
        QCOMPARE(window->Scan.SourceFileName, QString());
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
        QVERIFY(!window->Scan.DataConverted);
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("*"));
        QCOMPARE(window->CountLabel->text(), QStringLiteral("0本"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=0"));
        QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=0"));
        QCOMPARE(window->Scan.SourceFileName, broken);
        QCOMPARE(window->Settings.OpenDir, FolderOf(broken));

        // Cancelled from another folder: the next dialog starts there all the same.
        const QString plan = PlanIn(QStringLiteral("other"));
        UI.OpenAnswer = plan;
        UI.OnProcessMessages = [this] { UI.PressCancel(); };
        window->F1->trigger();
        UI.OnProcessMessages = nullptr;
        QCOMPARE(UI.OpenRequests.back().Folder, FolderOf(broken));
        QVERIFY(!window->Scan.DataConverted);
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
        QVERIFY(!window->Scan.DataConverted);
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("earlier.bmp"));
        QCOMPARE(window->Settings.OpenDir, FolderOf(plan));
        // The window goes on working.
        window->F1->trigger();
        QVERIFY(window->Scan.DataConverted);
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
        QVERIFY(window->Scan.CancelScan);
        QVERIFY(!window->Scan.DataConverted);
        QCOMPARE(window->CountLabel->text(), QStringLiteral("0本"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=0"));
        // Cancel stopped the tracing long before its 211 message pumps.
        QVERIFY(pumps < 20);

        // The next conversion starts with the flag cleared.
        pumps = 100;
        window->F1->trigger();
        QVERIFY(!window->Scan.CancelScan);
        QVERIFY(window->Scan.DataConverted);
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
        QCOMPARE(window->Scan.Magnification, 1.0f);
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

        // Specks of up to 2 pixels removed: converted again, the speck gone.
        window->OnDialogCreated = [](QDialog &dialog) {
            auto *settings = qobject_cast<TForm2 *>(&dialog);
            settings->DespeckleEdit->setText(QStringLiteral("2"));
            QMetaObject::invokeMethod(settings->OKButton, &QPushButton::click, Qt::QueuedConnection);
        };
        window->S1->trigger();
        QCOMPARE(UI.ProgressShown, converted + 1);
        QCOMPARE(window->CountLabel->text(), QStringLiteral("1本"));
        QCOMPARE(PreviewPixel(view, 30, 30), TPreviewImage::Paper);
        QCOMPARE(PreviewPixel(view, 30, 10), TPreviewImage::Line);

        // Settings closed unchanged convert nothing.
        const int shown = UI.ProgressShown;
        window->OnDialogCreated = [](QDialog &dialog) {
            QMetaObject::invokeMethod(&dialog, &QDialog::reject, Qt::QueuedConnection);
        };
        window->S1->trigger();
        QCOMPARE(UI.ProgressShown, shown);
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
        QTRY_VERIFY(window->Scan.DataConverted);
        QVERIFY(UI.OpenRequests.empty());
        QCOMPARE(window->Scan.SourceFileName, sheet);
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
        QVERIFY(!window->Scan.DataConverted);
        QTRY_VERIFY(window->Scan.DataConverted);
        QVERIFY(UI.OpenRequests.empty());
        QCOMPARE(window->Scan.SourceFileName, sheet);
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
