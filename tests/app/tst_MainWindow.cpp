#include "app/MainWindow.h"
#include "dialogs/VersionWindow.h"

#include "support/RecordingUserInterface.h"
#include "support/WindowTestMain.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT

    QString SettingsFile() const { return Dir.filePath(QStringLiteral("trazbit.ini")); }

    void WriteSettings(const QByteArray &text)
    {
        QFile file(SettingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    std::unique_ptr<TForm1> NewWindow()
    {
        auto window = std::make_unique<TForm1>(SettingsFile(), &UI);
        window->show();
        return window;
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(Dir.isValid());
        QFile::remove(SettingsFile());
        UI = TRecordingUserInterface();
    }

    void startShowsTheDesignedTexts()
    {
        auto window = NewWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("Trazbit （Susie-Plugin対応β版です）"));
        QCOMPARE(window->Edit1->text(), QStringLiteral("1.0000"));
        QCOMPARE(window->FileNameLabel->text(), QStringLiteral("*"));
        QCOMPARE(window->ModeLabel->text(), QStringLiteral("ライン"));
        QCOMPARE(window->CountLabel->text(), QStringLiteral("0本"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=0.00000"));
        QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=0.00000"));
        QCOMPARE(window->MinXLabel->text(), QStringLiteral("X=0.00000"));
        QCOMPARE(window->MinYLabel->text(), QStringLiteral("Y=0.00000"));
        for (const char *caption : {"（ファイル名）", "（変換方式）", "（線数）", "（右上座標）", "（左下座標）"}) {
            bool found = false;
            for (const QLabel *label : window->findChildren<QLabel *>())
                found = found || label->text() == QString::fromUtf8(caption);
            QVERIFY2(found, caption);
        }
        QCOMPARE(window->OpenButton->text(), QStringLiteral("ﾌｧｲﾙを開く"));
        QCOMPARE(window->SaveButton->text(), QStringLiteral("ﾃﾞｰﾀの保存"));
        QCOMPARE(window->CalcButton->text(), QStringLiteral("計算"));
        QVERIFY(!window->Scan.DataConverted);
        QCOMPARE(window->Scan.SegmentCapacity, 1024);
        QCOMPARE(window->Scan.SegmentCount, 0);
    }

    void windowFrameAndStatusBar()
    {
        auto window = NewWindow();
        const Qt::WindowFlags flags = window->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QStatusBar *status = window->statusBar();
        QVERIFY(status);
        QCOMPARE(status->currentMessage(), QString());
    }

    void modeLabelFollowsTheStoredMethod()
    {
        WriteSettings("[System]\nPixelScanMode=2\n");
        QCOMPARE(NewWindow()->ModeLabel->text(), QStringLiteral("ボックス"));
        WriteSettings("[System]\nPixelScanMode=3\n");
        QCOMPARE(NewWindow()->ModeLabel->text(), QStringLiteral("ライン２"));
        // Any other value leaves the label as it was.
        WriteSettings("[System]\nPixelScanMode=7\n");
        QCOMPARE(NewWindow()->ModeLabel->text(), QStringLiteral("*"));
    }

    void firstStartAndCloseWritesEverySection()
    {
        auto window = NewWindow();
        QCOMPARE(window->pos(), QPoint(0, 0));
        window->move(30, 40);
        QVERIFY(window->close());

        QSettings stored(SettingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.childGroups(), (QStringList{QStringLiteral("Dxf"), QStringLiteral("Jwc"),
                                                    QStringLiteral("System"), QStringLiteral("Txt")}));
        QCOMPARE(stored.value(QStringLiteral("System/Left")).toString(), QStringLiteral("30"));
        QCOMPARE(stored.value(QStringLiteral("System/Top")).toString(), QStringLiteral("40"));
        QCOMPARE(stored.value(QStringLiteral("System/Xrate")).toString(), QStringLiteral("1"));
        QCOMPARE(stored.value(QStringLiteral("Dxf/SaveLayer")).toString(), QStringLiteral("Scan Data"));
        QCOMPARE(stored.value(QStringLiteral("Txt/FileExtention")).toString(), QStringLiteral("txt"));
        QCOMPARE(stored.value(QStringLiteral("Jwc/SaveGroupName")).toString(), QStringLiteral("ScanData"));
        QCOMPARE(window->Scan.SegmentCapacity, 0);
    }

    void storedPositionIsAppliedAndChangesSurviveTheNextStart()
    {
        WriteSettings("[System]\nLeft=120\nTop=80\nSaveMode=3\n[Dxf]\nPenColor=9\n");
        {
            auto window = NewWindow();
            QCOMPARE(window->pos(), QPoint(120, 80));
            QCOMPARE(window->Settings.SaveMode, 3);
            window->Settings.DxfPenColor = 12;
            // "終了(&X)" closes the window, which saves.
            window->F4->trigger();
            QVERIFY(!window->isVisible());
        }
        auto again = NewWindow();
        QCOMPARE(again->pos(), QPoint(120, 80));
        QCOMPARE(again->Settings.DxfPenColor, 12);
        QCOMPARE(again->Settings.SaveMode, 3);
    }

    void nothingIsWrittenBeforeTheClose()
    {
        auto window = NewWindow();
        window->Settings.DxfPenColor = 5;
        QVERIFY(!QFile::exists(SettingsFile()));
        window.reset();
        QVERIFY(!QFile::exists(SettingsFile()));
    }

    void versionCommandOpensAFreshVersionWindow()
    {
        auto window = NewWindow();
        int opened = 0;
        window->OnDialogCreated = [&](QDialog &dialog) {
            ++opened;
            auto *version = qobject_cast<TForm3 *>(&dialog);
            QVERIFY(version);
            QCOMPARE(version->VersionLabel->text(), QStringLiteral("Version 4.20"));
            QMetaObject::invokeMethod(version->OKButton, &QPushButton::click, Qt::QueuedConnection);
        };
        window->H1->trigger();
        window->H1->trigger();
        QCOMPARE(opened, 2);
        QVERIFY(window->findChildren<TForm3 *>().isEmpty());
    }

private:
    QTemporaryDir Dir;
    TRecordingUserInterface UI;
};

TRAZBIT_WINDOW_TEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
