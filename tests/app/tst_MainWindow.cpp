#include "app/MainWindow.h"
#include "dialogs/ScaleCalculator.h"
#include "dialogs/SettingsDialog.h"
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
#include <QRadioButton>
#include <QTabWidget>
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
        QVERIFY(!window->State.DataConverted);
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

    void noCloseWhileLongWorkRuns()
    {
        auto window = NewWindow();
        window->setEnabled(false);
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QVERIFY(!QFile::exists(SettingsFile()));
        QCOMPARE(window->Scan.SegmentCapacity, 1024);
        window->setEnabled(true);
        QVERIFY(window->close());
        QVERIFY(QFile::exists(SettingsFile()));
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

    void menusCarryEveryCommand()
    {
        auto window = NewWindow();
        QList<QAction *> top = window->menuBar()->actions();
        QCOMPARE(top.size(), 3);
        QCOMPARE(top[0]->text(), QStringLiteral("ﾌｧｲﾙ(&F)"));
        QCOMPARE(top[1]->text(), QStringLiteral("設定(&S)"));
        QCOMPARE(top[2]->text(), QStringLiteral("ﾍﾙﾌﾟ(&H)"));
        QStringList file;
        for (QAction *item : window->FileMenu->actions())
            file << item->text();
        QCOMPARE(file, (QStringList{QStringLiteral("開く(&O)..."), QStringLiteral("倍率(&R)..."),
                                    QStringLiteral("保存(&S)..."), QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞへ(&C)"),
                                    QStringLiteral("ﾌﾟﾚﾋﾞｭｰ(&V)..."), QString(),
                                    QStringLiteral("終了(&X)")}));
        QCOMPARE(window->F3_1->text(), QStringLiteral("座標形式"));
        QCOMPARE(TForm1::Tag(window->F3_1), 1);
        QCOMPARE(window->F3_2->text(), QStringLiteral("JWTran形式"));
        QCOMPARE(TForm1::Tag(window->F3_2), 2);
        QCOMPARE(window->ClipboardMenu->actions(), (QList<QAction *>{window->F3_1, window->F3_2}));
        const std::pair<QAction *, const char *> settings[] = {
            {window->S1, "環境設定(&Y)..."}, {window->S2, "座標ﾌｧｲﾙ設定(&C)..."},
            {window->S3, "DXF設定(&D)..."}, {window->S4, "JWC設定(&J)..."}};
        int tag = 0;
        for (const auto &[item, text] : settings) {
            QCOMPARE(item->text(), QString::fromUtf8(text));
            QCOMPARE(TForm1::Tag(item), tag++);
        }
        QCOMPARE(window->SettingsMenu->actions().size(), 4);
        QCOMPARE(window->H1->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    }

    void settingsItemsOpenTheirPage()
    {
        auto window = NewWindow();
        QList<int> pages;
        window->OnDialogCreated = [&](QDialog &dialog) {
            auto *settings = qobject_cast<TForm2 *>(&dialog);
            QVERIFY(settings);
            pages << settings->PageControl1->currentIndex();
            QMetaObject::invokeMethod(settings->CancelButton, &QPushButton::click, Qt::QueuedConnection);
        };
        for (QAction *item : {window->S3, window->S1, window->S2, window->S4})
            item->trigger();
        QCOMPARE(pages, (QList<int>{2, 0, 1, 3}));
        QVERIFY(window->findChildren<TForm2 *>().isEmpty());
        QVERIFY(UI.Messages.isEmpty());
    }

    void modeLabelFollowsTheSettingsDialog()
    {
        auto window = NewWindow();
        window->OnDialogCreated = [&](QDialog &dialog) {
            auto *settings = qobject_cast<TForm2 *>(&dialog);
            settings->RadioButton2->setChecked(true);
            QMetaObject::invokeMethod(settings->OKButton, &QPushButton::click, Qt::QueuedConnection);
        };
        window->S1->trigger();
        QCOMPARE(window->Settings.PixelScanMode, 2);
        QCOMPARE(window->ModeLabel->text(), QStringLiteral("ボックス"));

        // However the dialog is closed, the label is set from the record again.
        window->Settings.PixelScanMode = 3;
        window->OnDialogCreated = [&](QDialog &dialog) {
            QMetaObject::invokeMethod(&dialog, &QDialog::reject, Qt::QueuedConnection);
        };
        window->S2->trigger();
        QCOMPARE(window->ModeLabel->text(), QStringLiteral("ライン２"));
    }

    void calculatorHandsItsResultToTheMagnification()
    {
        auto window = NewWindow();
        window->Scan.MaxX = 100;
        window->Scan.MaxY = 50;
        auto press = [&](const char *scale, bool ok) {
            window->OnDialogCreated = [&window, scale, ok](QDialog &dialog) {
                auto *calculator = qobject_cast<TForm5 *>(&dialog);
                QVERIFY(calculator);
                if (scale)
                    calculator->Edit1->setText(QString::fromUtf8(scale));
                QPushButton *button = ok ? calculator->OKButton : calculator->CancelButton;
                QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
            };
        };
        // OK at once hands "1.0000" as shown.
        window->Edit1->setText(QStringLiteral("3"));
        press(nullptr, true);
        QTest::mouseClick(window->CalcButton, Qt::LeftButton);
        QCOMPARE(window->Edit1->text(), QStringLiteral("1.0000"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=100.00000"));

        press("200", true);
        window->F1_2->trigger();
        QCOMPARE(window->Edit1->text(), QStringLiteral("50.80000"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=5080.00000"));
        QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=2540.00000"));

        press("400", false);
        window->F1_2->trigger();
        QCOMPARE(window->Edit1->text(), QStringLiteral("50.80000"));
    }

    void magnificationEditFollowsTyping()
    {
        auto window = NewWindow();
        window->Scan.MaxX = 1234567;
        window->Scan.MaxY = 45;
        window->Settings.Xrate = 1.0f;
        window->Settings.Yrate = 0.5f;
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QLineEdit *edit = window->Edit1;
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("0.1"));
        // The products are 32-bit floats: 1234567 x 0.1 shows as 123456.70313 (123456.703125, the tie going away from zero).
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=123456.70313"));
        QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=2.25000"));
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("2"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=2469134.00000"));
        QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=45.00000"));

        // Letters change no label and bring no message while typing.
        QTest::keyClicks(edit, QStringLiteral("ab"));
        QCOMPARE(edit->text(), QStringLiteral("2ab"));
        QCOMPARE(window->MaxXLabel->text(), QStringLiteral("X=2469134.00000"));
        QVERIFY(UI.Messages.isEmpty());

        // Leaving: the message, and the focus stays.
        window->OpenButton->setFocus();
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。")});
        QCOMPARE(QApplication::focusWidget(), edit);
        QCOMPARE(edit->text(), QStringLiteral("2ab"));

        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("1.5"));
        window->SaveButton->setFocus();
        QCOMPARE(edit->text(), QStringLiteral("1.50000"));
        QCOMPARE(UI.Messages.size(), 1);
        QCOMPARE(window->MaxYLabel->text(), QStringLiteral("Y=33.75000"));

        // The initial text gains its fifth decimal when left.
        edit->setText(QStringLiteral("1.0000"));
        edit->setFocus();
        window->OpenButton->setFocus();
        QCOMPARE(edit->text(), QStringLiteral("1.00000"));
    }

    void menusDoNotLeaveTheMagnificationButOtherControlsAndWindowsDo()
    {
        auto window = NewWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QLineEdit *edit = window->Edit1;
        edit->setFocus();
        edit->setText(QStringLiteral("2"));

        // Alt+F opens the file menu: the valid text stays as typed.
        QTest::keyClick(window.get(), Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(window->FileMenu->isVisible());
        QCOMPARE(edit->text(), QStringLiteral("2"));
        QTest::keyClick(window->FileMenu, Qt::Key_Escape);
        QTRY_VERIFY(!window->FileMenu->isVisible());
        QCOMPARE(edit->text(), QStringLiteral("2"));

        // Invalid text: the settings menu opens without a message.
        edit->setFocus();
        edit->setText(QStringLiteral("2ab"));
        QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(window->SettingsMenu->isVisible());
        QVERIFY(UI.Messages.isEmpty());
        QTest::keyClick(window->SettingsMenu, Qt::Key_Escape);
        QTRY_VERIFY(!window->SettingsMenu->isVisible());
        QVERIFY(UI.Messages.isEmpty());

        // From the menu bar on to another control, the field is left after all.
        window->menuBar()->setFocus(Qt::MenuBarFocusReason);
        QVERIFY(UI.Messages.isEmpty());
        window->CalcButton->setFocus();
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。")});
        QCOMPARE(QApplication::focusWidget(), edit);

        // Another window of the program, too.
        UI.Messages.clear();
        window->F1_3->trigger();
        QTRY_COMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。")});
        QCOMPARE(edit->text(), QStringLiteral("2ab"));
    }

private:
    QTemporaryDir Dir;
    TRecordingUserInterface UI;
};

TRAZBIT_WINDOW_TEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
