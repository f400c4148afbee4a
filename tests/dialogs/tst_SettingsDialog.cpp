#include "base/Settings.h"
#include "dialogs/SettingsDialog.h"

#include "support/RecordingUserInterface.h"
#include "support/WindowTestMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QScreen>
#include <QTest>

#include <memory>

class TestSettingsDialog : public QObject
{
    Q_OBJECT

    // The whole record as the store writes it, to compare records field by field.
    QByteArray Snapshot(const TSettings &settings)
    {
        const QString path = Dir.filePath(QStringLiteral("snapshot.ini"));
        QFile::remove(path);
        {
            QSettings store(path, QSettings::IniFormat);
            SettingsStore::Save(store, settings, QPoint());
        }
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

    std::unique_ptr<TForm2> Open()
    {
        auto dialog = std::make_unique<TForm2>(Owner.get(), Settings, UI);
        dialog->show();
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog.get()))
            qWarning("the dialog did not become active");
        return dialog;
    }

    // Shows the clean-up page ("画像処理"), so that its fields can take the focus.
    void PageFour(TForm2 *dialog) { dialog->PageControl1->setCurrentIndex(4); }

    // Types into a field that has the focus, then moves the focus on.
    void TypeAndLeave(QLineEdit *field, const QString &text, QWidget *next)
    {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        next->setFocus();
    }

private Q_SLOTS:
    void init()
    {
        Owner = std::make_unique<QWidget>();
        Owner->setGeometry(50, 50, 500, 400);
        Owner->show();
        Settings = TSettings::Defaults();
        UI = TRecordingUserInterface();
    }
    void cleanup() { Owner.reset(); }

    void pagesAndCaptions()
    {
        auto dialog = Open();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("設定"));
        QTabWidget *pages = dialog->PageControl1;
        QCOMPARE(pages->count(), 5);
        QCOMPARE(pages->tabText(0), QStringLiteral("環境設定"));
        QCOMPARE(pages->tabText(1), QStringLiteral("座標ﾌｧｲﾙ設定"));
        QCOMPARE(pages->tabText(2), QStringLiteral("DXFﾌｧｲﾙ設定"));
        QCOMPARE(pages->tabText(3), QStringLiteral("JWCﾌｧｲﾙ設定"));
        QCOMPARE(pages->tabText(4), QStringLiteral("画像処理"));
        QCOMPARE(dialog->OKButton->text(), QStringLiteral("OK"));
        QCOMPARE(dialog->CancelButton->text(), QStringLiteral("Cancel"));
        for (const char *text : {"※各仕切文字を入れて下さい。", "　先頭・末尾は半角で10文字、その他は半角で３文字までです。",
                                 "※\".\"は含めないで下さい。", "※線の色はJW_CADの設定により異なります。",
                                 "現在の設定　：", "横方向比率", "縦方向比率", "ﾌｧｲﾙ拡張子", "色番号"}) {
            bool found = false;
            for (const QLabel *label : dialog->findChildren<QLabel *>())
                found = found || label->text() == QString::fromUtf8(text);
            QVERIFY2(found, text);
        }

        const std::pair<int, int> tagsAndPages[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 0}, {-1, 0}};
        for (const auto &[tag, page] : tagsAndPages) {
            dialog->SelectPage(tag);
            QCOMPARE(pages->currentIndex(), page);
        }
    }

    void defaultsAreShown()
    {
        auto dialog = Open();
        QVERIFY(dialog->RadioButton1->isChecked());
        QCOMPARE(dialog->Edit14->text(), QStringLiteral("1.00000"));
        QCOMPARE(dialog->Edit15->text(), QStringLiteral("1.00000"));
        QCOMPARE(dialog->Edit1->text(), QString());
        QCOMPARE(dialog->Edit2->text(), QStringLiteral(" "));
        QCOMPARE(dialog->Edit5->text(), QString());
        QCOMPARE(dialog->PreviewLabel->text(), QStringLiteral("100 100 200 200"));
        QCOMPARE(dialog->Edit10->text(), QStringLiteral("txt"));
        QVERIFY(dialog->RadioButton11->isChecked());
        QCOMPARE(dialog->Edit12->text(), QStringLiteral("4"));
        QCOMPARE(dialog->Edit6->text(), QStringLiteral("1"));
        QVERIFY(dialog->CheckBox1->isChecked());
        QCOMPARE(dialog->Edit7->text(), QStringLiteral("SCANDATA"));
        QVERIFY(dialog->RadioButton5->isChecked());
        QVERIFY(dialog->RadioButton8->isChecked());
        QCOMPARE(dialog->Edit11->text(), QStringLiteral("4"));
        QVERIFY(dialog->CheckBox2->isChecked());
        QCOMPARE(dialog->ComboBox1->currentText(), QStringLiteral("ﾍﾟﾝ 1(水)"));
        QCOMPARE(dialog->ComboBox2->currentText(), QStringLiteral("実　線"));
        QCOMPARE(dialog->ComboBox3->currentText(), QStringLiteral("ｸﾞﾙｰﾌﾟ 0"));
        QCOMPARE(dialog->ComboBox4->currentText(), QStringLiteral("ﾚｲﾔ 0"));
        QCOMPARE(dialog->Edit8->text(), QStringLiteral("ScanData"));
        QCOMPARE(dialog->Edit9->text(), QStringLiteral("TZB Data"));
        // Field limits.
        QCOMPARE(dialog->Edit1->maxLength(), 10);
        QCOMPARE(dialog->Edit3->maxLength(), 3);
        QCOMPARE(dialog->Edit5->maxLength(), 10);
        QCOMPARE(dialog->Edit10->maxLength(), 3);
        QCOMPARE(dialog->Edit11->maxLength(), 1);
        QCOMPARE(dialog->Edit12->maxLength(), 1);
        QCOMPARE(dialog->Edit8->maxLength(), 14);
        QCOMPARE(dialog->Edit9->maxLength(), 8);
        QCOMPARE(dialog->Edit7->maxLength(), 31);
    }

    void listsAndChoices()
    {
        Settings.PixelScanMode = 3;
        Settings.TxtValueMode = 9;
        Settings.DxfValueMode = 3;
        Settings.DxfLineType = 2;
        Settings.JwcPenColor = 6;
        Settings.JwcLineType = 9;
        Settings.SaveGroup = 10;
        Settings.JwcSaveLayer = 15;
        auto dialog = Open();
        QVERIFY(dialog->RadioButton3->isChecked());
        QVERIFY(dialog->RadioButton11->isChecked());
        QVERIFY(dialog->RadioButton9->isChecked());
        QVERIFY(dialog->RadioButton6->isChecked());
        QCOMPARE(dialog->ComboBox1->count(), 6);
        QCOMPARE(dialog->ComboBox1->currentText(), QStringLiteral("ﾍﾟﾝ 6(青)"));
        QCOMPARE(dialog->ComboBox2->count(), 9);
        QCOMPARE(dialog->ComboBox2->currentText(), QStringLiteral("補助線"));
        QCOMPARE(dialog->ComboBox3->count(), 16);
        QCOMPARE(dialog->ComboBox3->currentText(), QStringLiteral("ｸﾞﾙｰﾌﾟ A"));
        QCOMPARE(dialog->ComboBox4->currentText(), QStringLiteral("ﾚｲﾔ F"));
        QCOMPARE(dialog->ComboBox2->itemText(4), QStringLiteral("一点鎖 1"));

        Settings.PixelScanMode = 0;
        Settings.JwcPenColor = 1;
        auto second = Open();
        QVERIFY(second->RadioButton1->isChecked());
        QCOMPARE(second->ComboBox1->currentIndex(), 0);
    }

    void previewFollowsEverySeparator()
    {
        Settings.Divide1 = QString();
        Settings.Divide2 = QStringLiteral(",");
        Settings.Divide3 = QStringLiteral(",");
        Settings.Divide4 = QStringLiteral(",");
        Settings.Divide5 = QStringLiteral(";");
        auto dialog = Open();
        QCOMPARE(dialog->PreviewLabel->text(), QStringLiteral("100,100,200,200;"));
        dialog->Edit1->setFocus();
        QTest::keyClicks(dialog->Edit1, QStringLiteral("L "));
        QCOMPARE(dialog->PreviewLabel->text(), QStringLiteral("L 100,100,200,200;"));
        dialog->Edit3->clear();
        QTest::keyClicks(dialog->Edit3, QStringLiteral("\t"));
        QCOMPARE(dialog->PreviewLabel->text(), QStringLiteral("L 100,100200,200;"));
        // No more than three characters between the numbers.
        dialog->Edit4->setFocus();
        QTest::keyClicks(dialog->Edit4, QStringLiteral("abcd"));
        QCOMPARE(dialog->Edit4->text(), QStringLiteral(",ab"));
    }

    void layerNameOnOpening()
    {
        Settings.DxfSaveLayer = QStringLiteral("Scan Data");
        QCOMPARE(Open()->Edit7->text(), QStringLiteral("SCANDATA"));
        Settings.DxfSaveLayer = QStringLiteral(" .#+図面");
        QCOMPARE(Open()->Edit7->text(), QStringLiteral("SCANDATA"));
        Settings.DxfSaveLayer = QStringLiteral("ABCDEFGHIJ0123456789KLMNOPQRST_-$$456789");
        QCOMPARE(Settings.DxfSaveLayer.size(), 40);
        QCOMPARE(Open()->Edit7->text(), QStringLiteral("ABCDEFGHIJ0123456789KLMNOPQRST_"));
        // Double-byte letters are outside the alphabet, even when they look like it.
        Settings.DxfSaveLayer = QStringLiteral("ｌａｙｅｒ-x1");
        QCOMPARE(Open()->Edit7->text(), QStringLiteral("-X1"));

        Settings.R12opt = false;
        Settings.DxfSaveLayer = QStringLiteral("Scan Data.一");
        auto free = Open();
        QCOMPARE(free->Edit7->text(), QStringLiteral("Scan Data.一"));
        QVERIFY(!free->CheckBox1->isChecked());
        QVERIFY(free->Edit7->maxLength() > 31);
    }

    void layerNameWhileTyping()
    {
        auto dialog = Open();
        QLineEdit *name = dialog->Edit7;
        name->setFocus();
        name->end(false);
        QTest::keyClicks(name, QStringLiteral("a b.c_"));
        QCOMPARE(name->text(), QStringLiteral("SCANDATAABC_"));

        // Unchecked: every key passes and nothing is changed.
        QTest::mouseClick(dialog->CheckBox1, Qt::LeftButton);
        QVERIFY(!dialog->CheckBox1->isChecked());
        name->setFocus();
        name->end(false);
        QTest::keyClicks(name, QStringLiteral(" x.y"));
        QCOMPARE(name->text(), QStringLiteral("SCANDATAABC_ x.y"));
        QVERIFY(name->maxLength() > 31);

        // Checked again: the text is converted at once and the limit is back.
        QTest::mouseClick(dialog->CheckBox1, Qt::LeftButton);
        QCOMPARE(name->text(), QStringLiteral("SCANDATAABC_XY"));
        QCOMPARE(name->maxLength(), 31);
        name->setFocus();
        name->end(false);
        QTest::keyClicks(name, QStringLiteral("q1234567890123456789"));
        QCOMPARE(name->text().size(), 31);
        QCOMPARE(name->text(), QStringLiteral("SCANDATAABC_XYQ1234567890123456"));
    }

    void digitsOnlyFields()
    {
        auto dialog = Open();
        for (QLineEdit *field : {dialog->Edit6, dialog->Edit11, dialog->Edit12}) {
            field->setFocus();
            field->clear();
            QTest::keyClicks(field, QStringLiteral("a-7.x"));
            QCOMPARE(field->text(), QStringLiteral("7"));
        }
        dialog->Edit6->clear();
        QTest::keyClicks(dialog->Edit6, QStringLiteral("25 6"));
        QCOMPARE(dialog->Edit6->text(), QStringLiteral("256"));
    }

    void numericFieldsAreCheckedWhenLeft()
    {
        auto dialog = Open();
        dialog->PageControl1->setCurrentIndex(0);
        TypeAndLeave(dialog->Edit14, QStringLiteral("0.98"), dialog->Edit15);
        QCOMPARE(dialog->Edit14->text(), QStringLiteral("0.98000"));
        QVERIFY(UI.Messages.isEmpty());

        TypeAndLeave(dialog->Edit15, QStringLiteral("x"), dialog->Edit14);
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。")});
        QCOMPARE(QApplication::focusWidget(), dialog->Edit15);
        QCOMPARE(dialog->Edit15->text(), QStringLiteral("x"));
        TypeAndLeave(dialog->Edit15, QStringLiteral("1e0"), dialog->Edit14);
        QCOMPARE(dialog->Edit15->text(), QStringLiteral("1.00000"));

        UI.Messages.clear();
        dialog->PageControl1->setCurrentIndex(2);
        dialog->Edit6->setFocus();
        dialog->Edit6->clear();
        dialog->Edit7->setFocus();
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。(整数)")});
        QCOMPARE(QApplication::focusWidget(), dialog->Edit6);

        UI.Messages.clear();
        dialog->Edit6->setText(QStringLiteral("3"));
        dialog->Edit11->setFocus();
        dialog->Edit11->clear();
        dialog->Edit6->setFocus();
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。")});
        QCOMPARE(QApplication::focusWidget(), dialog->Edit11);
    }

    void okStoresEveryField()
    {
        auto dialog = Open();
        dialog->RadioButton2->setChecked(true);
        dialog->Edit14->setText(QStringLiteral("0.98"));
        dialog->Edit15->setText(QStringLiteral("1.25"));
        dialog->Edit1->setText(QStringLiteral("L"));
        dialog->Edit2->setText(QStringLiteral(","));
        dialog->Edit3->setText(QStringLiteral(";"));
        dialog->Edit4->setText(QStringLiteral(":"));
        dialog->Edit5->setText(QStringLiteral("E"));
        dialog->Edit10->setText(QStringLiteral("a.b"));
        dialog->RadioButton12->setChecked(true);
        dialog->Edit12->setText(QStringLiteral("2"));
        dialog->Edit6->setText(QStringLiteral("256"));
        dialog->Edit7->setText(QStringLiteral("WALLS"));
        dialog->CheckBox1->setChecked(false);
        dialog->RadioButton6->setChecked(true);
        dialog->RadioButton7->setChecked(true);
        dialog->Edit11->setText(QStringLiteral("0"));
        dialog->CheckBox2->setChecked(false);
        dialog->ComboBox1->setCurrentIndex(2);
        dialog->ComboBox2->setCurrentIndex(8);
        dialog->ComboBox3->setCurrentIndex(15);
        dialog->ComboBox4->setCurrentIndex(3);
        dialog->Edit8->setText(QStringLiteral("Group"));
        dialog->Edit9->setText(QStringLiteral("Layer"));
        QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));

        const TSettings &s = Settings;
        QCOMPARE(s.PixelScanMode, 2);
        QCOMPARE(s.Xrate, 0.98f);
        QCOMPARE(s.Yrate, 1.25f);
        QCOMPARE(s.Divide1, QStringLiteral("L"));
        QCOMPARE(s.Divide2, QStringLiteral(","));
        QCOMPARE(s.Divide3, QStringLiteral(";"));
        QCOMPARE(s.Divide4, QStringLiteral(":"));
        QCOMPARE(s.Divide5, QStringLiteral("E"));
        QCOMPARE(s.FileExtention, QStringLiteral("a.b"));
        QCOMPARE(s.TxtValueMode, 3);
        QCOMPARE(s.TxtValueFigure, 2);
        QCOMPARE(s.DxfPenColor, 256);
        QCOMPARE(s.DxfSaveLayer, QStringLiteral("WALLS"));
        QCOMPARE(s.R12opt, false);
        QCOMPARE(s.DxfLineType, 2);
        QCOMPARE(s.DxfValueMode, 1);
        QCOMPARE(s.DxfValueFigure, 0);
        QCOMPARE(s.DxfFileUse, false);
        QCOMPARE(s.JwcPenColor, 3);
        QCOMPARE(s.JwcLineType, 9);
        QCOMPARE(s.SaveGroup, 15);
        QCOMPARE(s.JwcSaveLayer, 3);
        QCOMPARE(s.SaveGroupName, QStringLiteral("Group"));
        QCOMPARE(s.SaveLayerName, QStringLiteral("Layer"));
        // Untouched by the dialog.
        QCOMPARE(s.SaveMode, 1);
    }

    void okKeepsAStoredValueOutsideItsList()
    {
        Settings.SaveGroup = 20;
        Settings.JwcPenColor = 0;
        auto dialog = Open();
        QCOMPARE(dialog->ComboBox3->currentIndex(), -1);
        QCOMPARE(dialog->ComboBox1->currentIndex(), -1);
        QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(Settings.SaveGroup, 20);
        QCOMPARE(Settings.JwcPenColor, 0);
    }

    void okRefusesAFieldThatDoesNotParseAndStoresNothing()
    {
        const QByteArray before = Snapshot(Settings);
        auto dialog = Open();
        dialog->RadioButton2->setChecked(true);
        dialog->Edit6->setText(QString());
        dialog->Edit12->setText(QString());
        QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。(整数)")});
        QCOMPARE(QApplication::focusWidget(), dialog->Edit6);
        QVERIFY(dialog->isVisible());
        QCOMPARE(Snapshot(Settings), before);

        UI.Messages.clear();
        dialog->Edit6->setText(QStringLiteral("7"));
        dialog->Edit15->setText(QStringLiteral("1..0"));
        QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
        QCOMPARE(UI.Messages, QStringList{QStringLiteral("数値が無効です。")});
        QCOMPARE(QApplication::focusWidget(), dialog->Edit15);
        QCOMPARE(Snapshot(Settings), before);
    }

    void cleanupPageShowsAndStoresItsFourSettings()
    {
        // Off by default.
        {
            auto dialog = Open();
            QCOMPARE(dialog->ThresholdEdit->text(), QString());
            QCOMPARE(dialog->DespeckleEdit->text(), QStringLiteral("0"));
            QVERIFY(!dialog->CenterlineCheckBox->isChecked());
            QCOMPARE(dialog->MergeEdit->text(), QString());
            QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
            QCOMPARE(Settings.CleanupThreshold, QString());
            QCOMPARE(Settings.CleanupDespeckle, 0);
            QCOMPARE(Settings.CleanupMerge, QString());
        }
        // Bad texts are refused one at a time, nothing stored.
        const QByteArray before = Snapshot(Settings);
        auto dialog = Open();
        PageFour(dialog.get());
        struct { QLineEdit *Field; const char *Text; const char *Message; } const bad[] = {
            {dialog->ThresholdEdit, "300", "数値が無効です。"},
            {dialog->ThresholdEdit, "dark", "数値が無効です。"},
            {dialog->MergeEdit, "-1", "数値が無効です。"},
        };
        for (const auto &b : bad) {
            UI.Messages.clear();
            dialog->ThresholdEdit->setText(QString());
            dialog->MergeEdit->setText(QString());
            b.Field->setText(QString::fromUtf8(b.Text));
            QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
            QCOMPARE(UI.Messages, QStringList{QString::fromUtf8(b.Message)});
            QCOMPARE(QApplication::focusWidget(), b.Field);
            QCOMPARE(Snapshot(Settings), before);
        }
        UI.Messages.clear();
        dialog->ThresholdEdit->setText(QStringLiteral("AUTO"));
        dialog->DespeckleEdit->setText(QStringLiteral("4"));
        dialog->CenterlineCheckBox->setChecked(true);
        dialog->MergeEdit->setText(QStringLiteral(" 1.5 "));
        QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(Settings.CleanupThreshold, QStringLiteral("auto"));
        QCOMPARE(Settings.CleanupDespeckle, 4);
        QVERIFY(Settings.CleanupCenterline);
        QCOMPARE(Settings.CleanupMerge, QStringLiteral("1.5"));
        // And shown so the next time.
        auto again = Open();
        QCOMPARE(again->ThresholdEdit->text(), QStringLiteral("auto"));
        QCOMPARE(again->DespeckleEdit->text(), QStringLiteral("4"));
        QVERIFY(again->CenterlineCheckBox->isChecked());
        QCOMPARE(again->MergeEdit->text(), QStringLiteral("1.5"));
    }

    void cancelAndTheFrameChangeNothing()
    {
        const QByteArray before = Snapshot(Settings);
        for (bool byFrame : {false, true}) {
            auto dialog = Open();
            dialog->RadioButton3->setChecked(true);
            dialog->Edit14->setText(QStringLiteral("2"));
            for (QLineEdit *field : {dialog->Edit1, dialog->Edit2, dialog->Edit3, dialog->Edit4,
                                     dialog->Edit5, dialog->Edit10, dialog->Edit8, dialog->Edit9})
                field->setText(QStringLiteral("z"));
            dialog->Edit6->setText(QStringLiteral("99"));
            dialog->Edit7->setText(QStringLiteral("NEW"));
            dialog->CheckBox1->setChecked(false);
            dialog->CheckBox2->setChecked(false);
            dialog->RadioButton12->setChecked(true);
            dialog->RadioButton9->setChecked(true);
            dialog->RadioButton6->setChecked(true);
            for (QComboBox *list : {dialog->ComboBox1, dialog->ComboBox2, dialog->ComboBox3, dialog->ComboBox4})
                list->setCurrentIndex(4);
            if (byFrame)
                dialog->close();
            else
                QTest::mouseClick(dialog->CancelButton, Qt::LeftButton);
            QCOMPARE(dialog->result(), int(QDialog::Rejected));
            QVERIFY(!dialog->isVisible());
            QCOMPARE(Snapshot(Settings), before);
        }
        QVERIFY(UI.Messages.isEmpty());
    }

    void keptOnTheScreenWhenCentringWouldPushItOff()
    {
        // Centred over its smaller owner, the dialog would reach past the
        // screen's top-left corner: its title bar stays on the screen.
        auto dialog = Open();
        const QRect free = Owner->screen()->availableGeometry();
        const QRect owner = Owner->frameGeometry(), shown = dialog->frameGeometry();
        QVERIFY(owner.left() + (owner.width() - shown.width()) / 2 < free.left());
        QVERIFY(owner.top() + (owner.height() - shown.height()) / 2 < free.top());
        QCOMPARE(shown.topLeft(), free.topLeft());
    }

private:
    QTemporaryDir Dir;
    std::unique_ptr<QWidget> Owner;
    TSettings Settings;
    TRecordingUserInterface UI;
};

TRAZBIT_WINDOW_TEST_MAIN(TestSettingsDialog)
#include "tst_SettingsDialog.moc"
