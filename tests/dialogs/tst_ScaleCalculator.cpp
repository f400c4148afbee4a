#include "dialogs/ScaleCalculator.h"

#include "support/WindowTestMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestScaleCalculator : public QObject
{
    Q_OBJECT

    // Replaces a field's text as typing would.
    static void Type(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, text);
    }

private Q_SLOTS:
    void init()
    {
        Owner = std::make_unique<QWidget>();
        Owner->setGeometry(40, 30, 600, 420);
        Owner->show();
        Dialog = std::make_unique<TForm5>(Owner.get());
        Dialog->show();
    }
    void cleanup()
    {
        Dialog.reset();
        Owner.reset();
    }

    void opensWithItsTextsAndAnUncomputedResult()
    {
        QCOMPARE(Dialog->windowTitle(), QStringLiteral("計算"));
        QCOMPARE(Dialog->Edit1->text(), QStringLiteral("100"));
        QCOMPARE(Dialog->Edit2->text(), QStringLiteral("100"));
        // Not 25.40000: the result is computed only when a field changes.
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("1.0000"));
        QCOMPARE(Dialog->Result(), QStringLiteral("1.0000"));
        for (const char *text : {"・スキャナで読み込んだ図面のスケール", "Scale = １／", "・スキャナの読取り解像度",
                                 "dpi", "計算結果："}) {
            bool found = false;
            for (const QLabel *label : Dialog->findChildren<QLabel *>())
                found = found || label->text() == QString::fromUtf8(text);
            QVERIFY2(found, text);
        }
        const QRect owner = Owner->frameGeometry();
        const QRect shown = Dialog->frameGeometry();
        QCOMPARE(shown.left(), owner.left() + (owner.width() - shown.width()) / 2);
        QCOMPARE(shown.top(), owner.top() + (owner.height() - shown.height()) / 2);
    }

    void recalculatesOnEveryChange()
    {
        Type(Dialog->Edit1, QStringLiteral("200"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("50.80000"));
        Type(Dialog->Edit2, QStringLiteral("400"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("12.70000"));
        Type(Dialog->Edit1, QStringLiteral("100"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("6.35000"));
        Type(Dialog->Edit1, QStringLiteral("50"));
        Type(Dialog->Edit2, QStringLiteral("200"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("6.35000"));
        Type(Dialog->Edit1, QStringLiteral("1"));
        Type(Dialog->Edit2, QStringLiteral("25.4"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("1.00000"));
        Type(Dialog->Edit1, QStringLiteral("-100"));
        Type(Dialog->Edit2, QStringLiteral("100"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("-25.40000"));
    }

    void badInputKeepsTheLastResultSilently()
    {
        Type(Dialog->Edit1, QStringLiteral("200"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("50.80000"));
        Type(Dialog->Edit2, QString());
        QCOMPARE(Dialog->Edit2->text(), QString());
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("50.80000"));
        Type(Dialog->Edit2, QStringLiteral("0"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("50.80000"));
        Type(Dialog->Edit2, QStringLiteral("x1"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("50.80000"));
        // Too large for the 32-bit result.
        Type(Dialog->Edit1, QStringLiteral("3e38"));
        Type(Dialog->Edit2, QStringLiteral("0.001"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("50.80000"));
        Type(Dialog->Edit1, QStringLiteral("0"));
        Type(Dialog->Edit2, QStringLiteral("100"));
        QCOMPARE(Dialog->Label6->text(), QStringLiteral("0.00000"));
    }

    void okAcceptsAndCancelRejects()
    {
        QSignalSpy accepted(Dialog.get(), &QDialog::accepted);
        QTest::mouseClick(Dialog->OKButton, Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);
        Dialog->show();
        QSignalSpy rejected(Dialog.get(), &QDialog::rejected);
        QTest::mouseClick(Dialog->CancelButton, Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
    }

private:
    std::unique_ptr<QWidget> Owner;
    std::unique_ptr<TForm5> Dialog;
};

TRAZBIT_WINDOW_TEST_MAIN(TestScaleCalculator)
#include "tst_ScaleCalculator.moc"
