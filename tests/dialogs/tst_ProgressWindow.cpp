#include "dialogs/ProgressWindow.h"
#include "dialogs/VersionWindow.h"

#include "support/WindowTestMain.h"

#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <memory>

class TestProgressWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        Owner = std::make_unique<QWidget>();
        Owner->setGeometry(100, 50, 401, 301);
        Owner->show();
    }
    void cleanup() { Owner.reset(); }

    void looksAsDesigned()
    {
        TForm4 window(Owner.get(), nullptr);
        QCOMPARE(window.windowTitle(), QStringLiteral("読込中・・・"));
        QCOMPARE(window.size(), QSize(224, 78));
        QCOMPARE(window.Label1->text(), QString());
        QCOMPARE(window.ProgressBar1->minimum(), 0);
        QCOMPARE(window.ProgressBar1->maximum(), 100);
        QCOMPARE(window.ProgressBar1->value(), 0);
        QCOMPARE(window.Button1->text(), QStringLiteral("ｷｬﾝｾﾙ"));
        const Qt::WindowFlags flags = window.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
        // Its own window, so that disabling the main window leaves it usable.
        QVERIFY(window.isWindow());
        QCOMPARE(window.parentWidget(), nullptr);
    }

    void cancelSetsTheFlagAndHidesTheWindow()
    {
        bool cancel = false;
        TForm4 window(Owner.get(), &cancel);
        window.show();
        QVERIFY(window.isVisible());
        QTest::mouseClick(window.Button1, Qt::LeftButton);
        QVERIFY(cancel);
        QVERIFY(!window.isVisible());

        TForm4 withoutFlag(Owner.get(), nullptr);
        withoutFlag.show();
        QTest::mouseClick(withoutFlag.Button1, Qt::LeftButton);
        QVERIFY(!withoutFlag.isVisible());
    }

    void theFrameCannotCloseIt()
    {
        bool cancel = false;
        TForm4 window(Owner.get(), &cancel);
        window.show();
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QVERIFY(!cancel);
    }

    void staysUsableWhileTheOwnerIsDisabled()
    {
        Owner->setEnabled(false);
        bool cancel = false;
        TForm4 window(Owner.get(), &cancel);
        window.show();
        QVERIFY(window.isEnabled());
        QTest::mouseClick(window.Button1, Qt::LeftButton);
        QVERIFY(cancel);
    }

    void centresOverTheOwnerWithTruncatedHalves()
    {
        TForm4 window(Owner.get(), nullptr);
        window.show();
        // Both measured with their frames, whose margins are alike: the width
        // difference is 401 - 224 = 177, the height difference 301 - 78 = 223.
        const QRect owner = Owner->frameGeometry();
        const QRect shown = window.frameGeometry();
        QCOMPARE(owner.width() - shown.width(), 177);
        QCOMPARE(shown.left() - owner.left(), 88);
        QCOMPARE(shown.top() - owner.top(), 111);
    }

    void staysOnTheScreenBesideAnOwnerAtItsEdge()
    {
        const QRect free = Owner->screen()->availableGeometry();
        struct TCase
        {
            QPoint OwnerAt;
            bool KeptLeftTop;   // else kept right-bottom
        };
        for (const TCase &c : {TCase{free.topLeft(), true}, TCase{free.bottomRight() - QPoint(99, 49), false}}) {
            Owner->setGeometry(QRect(c.OwnerAt, QSize(100, 50)));
            TForm4 window(Owner.get(), nullptr);
            window.show();
            const QRect shown = window.frameGeometry();
            QVERIFY(c.KeptLeftTop ? shown.topLeft() == free.topLeft() : shown.bottomRight() == free.bottomRight());
        }
    }

    void versionWindowIsFreshAndCentredAtEveryOpening()
    {
        auto open = [this] {
            auto window = std::make_unique<TForm3>(Owner.get());
            QCOMPARE(window->windowTitle(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
            QCOMPARE(window->VersionLabel->text(), QStringLiteral("Version 4.20"));
            QCOMPARE(window->OKButton->text(), QStringLiteral("OK"));
            QVERIFY(!window->TitleImage->pixmap().isNull());
            QVERIFY(!window->windowIcon().isNull());
            QSignalSpy accepted(window.get(), &QDialog::accepted);
            window->show();
            const QRect owner = Owner->frameGeometry();
            const QRect shown = window->frameGeometry();
            QCOMPARE(shown.left(), owner.left() + (owner.width() - shown.width()) / 2);
            QCOMPARE(shown.top(), owner.top() + (owner.height() - shown.height()) / 2);
            QTest::mouseClick(window->OKButton, Qt::LeftButton);
            QCOMPARE(accepted.count(), 1);
            QVERIFY(!window->isVisible());
        };
        open();
        Owner->move(300, 260);
        open();
    }

private:
    std::unique_ptr<QWidget> Owner;
};

TRAZBIT_WINDOW_TEST_MAIN(TestProgressWindow)
#include "tst_ProgressWindow.moc"
