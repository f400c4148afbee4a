#include "app/ErrorReport.h"
#include "base/Errors.h"
#include "app/FileDialogFilter.h"
#include "app/WindowUserInterface.h"
#include "dialogs/ProgressWindow.h"

#include "support/WindowTestMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// An object whose event handling fails.
class TFailingObject : public QObject
{
public:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            throw EFileError(QStringLiteral("plan.txt を作成できません。"));
        if (event->type() == QEvent::User + 1)
            throw std::logic_error("logic");
        return QObject::event(event);
    }
};

// Runs `inspect` on the modal box that the next call opens, then presses `button`.
void WhenModalOpens(std::function<void(QMessageBox &)> inspect, QMessageBox::StandardButton button)
{
    QTimer::singleShot(0, [inspect, button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY2(box, "no message box is open");
        inspect(*box);
        box->button(button)->click();
    });
}

// Counts the rounds of pending messages.
class TCountingInterface : public TWindowUserInterface
{
public:
    using TWindowUserInterface::TWindowUserInterface;
    void ProcessMessages() override
    {
        ++Rounds;
        TWindowUserInterface::ProcessMessages();
    }
    int Rounds = 0;
};

} // namespace

class TestWindowUserInterface : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        Main = std::make_unique<QWidget>();
        Main->setGeometry(10, 10, 500, 400);
        Main->show();
        UI = std::make_unique<TWindowUserInterface>(Main.get());
    }
    void cleanup()
    {
        UI.reset();
        Main.reset();
    }

    void progressWindowLivesFromShowToClose()
    {
        UI->SetMainWindowEnabled(false);
        QVERIFY(!Main->isEnabled());
        UI->ShowProgress(QStringLiteral("読込中・・・"), QStringLiteral("読込中:plan.bmp"), true);
        TForm4 *window = UI->ProgressWindow();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QVERIFY(window->isEnabled());
        QCOMPARE(window->windowTitle(), QStringLiteral("読込中・・・"));
        QCOMPARE(window->Label1->text(), QStringLiteral("読込中:plan.bmp"));
        QVERIFY(window->Button1->isVisible());

        UI->ProgressBar().SetMaximum(7);
        UI->ProgressBar().Step(3);
        QCOMPARE(window->ProgressBar1->maximum(), 7);
        QCOMPARE(window->ProgressBar1->value(), 3);
        UI->SetProgressLabel(QStringLiteral("座標形式"));
        QCOMPARE(window->Label1->text(), QStringLiteral("座標形式"));

        // The cancel button reaches the bar while messages are processed.
        QVERIFY(!UI->ProgressBar().Cancelled());
        QTest::mouseClick(window->Button1, Qt::LeftButton);
        UI->ProcessMessages();
        QVERIFY(UI->ProgressBar().Cancelled());
        QVERIFY(!window->isVisible());

        UI->CloseProgress();
        QCOMPARE(UI->ProgressWindow(), nullptr);
        QVERIFY(!UI->ProgressBar().Cancelled());
        UI->SetMainWindowEnabled(true);
        QVERIFY(Main->isEnabled());
        // Calls without a progress window are ignored.
        UI->SetProgressLabel(QStringLiteral("x"));
        UI->ProgressBar().Step(1);
        UI->CloseProgress();
    }

    void stepsHandleMessagesEveryFewMillisecondsAndSoonSeeTheCancel()
    {
        TCountingInterface ui(Main.get());
        ui.ShowProgress(QStringLiteral("読込中・・・"), QStringLiteral("読込中:plan.bmp"), true);
        ui.ProgressBar().SetMaximum(1000000);
        // The first step paints the new window.
        ui.ProgressBar().Step(1);
        QCOMPARE(ui.Rounds, 1);
        // A quick run of steps: the bar follows every one, the message loop
        // runs now and then.
        QElapsedTimer timer;
        timer.start();
        int position = 1;
        while (position < 20000)
            ui.ProgressBar().Step(++position);
        QCOMPARE(ui.ProgressWindow()->ProgressBar1->value(), 20000);
        QVERIFY2(ui.Rounds <= 2 + timer.elapsed() / 15, qPrintable(QString::number(ui.Rounds)));
        // A click that waits in the queue reaches the bar at a later step.
        QMetaObject::invokeMethod(ui.ProgressWindow()->Button1, "click", Qt::QueuedConnection);
        timer.restart();
        while (!ui.ProgressBar().Cancelled() && timer.elapsed() < 5000)
            ui.ProgressBar().Step(++position);
        QVERIFY(ui.ProgressBar().Cancelled());
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        ui.CloseProgress();

        // At every step when asked so.
        ui.SetMessageInterval(0);
        ui.ShowProgress(QStringLiteral("保存中・・・"), QString(), false);
        ui.Rounds = 0;
        for (int i = 1; i <= 10; ++i)
            ui.ProgressBar().Step(i);
        QCOMPARE(ui.Rounds, 10);
        ui.CloseProgress();
    }

    void savingHidesTheCancelButtonAndShowsAnEmptyBarBelowOneStep()
    {
        UI->ShowProgress(QStringLiteral("保存中・・・"), QStringLiteral("plan.txtをtxt形式で保存中"), false);
        TForm4 *window = UI->ProgressWindow();
        QVERIFY(!window->Button1->isVisible());
        UI->ProgressBar().SetMaximum(0);
        // Not Qt's busy indicator (0..0), an empty bar.
        QVERIFY(window->ProgressBar1->maximum() > 0);
        QCOMPARE(window->ProgressBar1->value(), 0);
        UI->CloseProgress();
    }

    void busyCursorIsBalanced()
    {
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        UI->SetBusyCursor(true);
        UI->SetBusyCursor(true);
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        UI->SetBusyCursor(false);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        UI->SetBusyCursor(false);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        // An interface that goes away restores the cursor.
        UI->SetBusyCursor(true);
        UI.reset();
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void messageBoxCarriesTheApplicationTitle()
    {
        bool seen = false;
        WhenModalOpens([&](QMessageBox &box) {
            seen = true;
            QCOMPARE(box.windowTitle(), QStringLiteral("Trazbit"));
            QCOMPARE(box.text(), QStringLiteral("保存が終了しました。"));
            QCOMPARE(box.icon(), QMessageBox::Information);
        }, QMessageBox::Ok);
        UI->ShowMessage(QStringLiteral("保存が終了しました。"));
        QVERIFY(seen);

        // A detail stands under the fixed text, shown without a click.
        seen = false;
        WhenModalOpens([&](QMessageBox &box) {
            seen = true;
            QCOMPARE(box.text(), QStringLiteral("ファイルが読み込めませんした。"));
            QCOMPARE(box.informativeText(), QStringLiteral("/a/b.bmp\nwhy"));
        }, QMessageBox::Ok);
        UI->ShowMessageDetail(QStringLiteral("ファイルが読み込めませんした。"), QStringLiteral("/a/b.bmp\nwhy"));
        QVERIFY(seen);
    }

    void boxesStandAboveAShownProgressWindow()
    {
        UI->ShowProgress(QStringLiteral("読込中・・・"), QString(), true);
        QWidget *owner = nullptr;
        WhenModalOpens([&](QMessageBox &box) { owner = box.parentWidget(); }, QMessageBox::Ok);
        UI->ShowMessage(QStringLiteral("ファイルが読み込めませんした。"));
        QCOMPARE(owner, static_cast<QWidget *>(UI->ProgressWindow()));
        UI->CloseProgress();
        WhenModalOpens([&](QMessageBox &box) { owner = box.parentWidget(); }, QMessageBox::Yes);
        UI->AskYesNo(QStringLiteral("確認"), QStringLiteral("?"));
        QCOMPARE(owner, Main.get());
    }

    void questionAnswersYesOnlyForYes()
    {
        const QString text = QStringLiteral("線の本数が０です。\n\r保存しますか。");
        auto inspect = [](QMessageBox &box) {
            QCOMPARE(box.windowTitle(), QStringLiteral("確認"));
            QCOMPARE(box.icon(), QMessageBox::Question);
            QCOMPARE(box.text(), QStringLiteral("線の本数が０です。\n保存しますか。"));
        };
        WhenModalOpens(inspect, QMessageBox::Yes);
        QVERIFY(UI->AskYesNo(QStringLiteral("確認"), text));
        WhenModalOpens(inspect, QMessageBox::No);
        QVERIFY(!UI->AskYesNo(QStringLiteral("確認"), text));
    }

    void qtsOwnTextsAreJapanese()
    {
        const auto *app = qobject_cast<TTrazbitApplication *>(QCoreApplication::instance());
        QVERIFY(app);
        // Found where the platform keeps Qt's catalogues.
        QVERIFY2(app->QtTranslationFile().startsWith(QLibraryInfo::path(QLibraryInfo::TranslationsPath)),
                 qPrintable(app->QtTranslationFile()));
        QStringList buttons;
        WhenModalOpens([&](QMessageBox &box) {
            for (QAbstractButton *button : box.buttons())
                buttons << button->text();
        }, QMessageBox::No);
        UI->AskYesNo(QStringLiteral("確認"), QStringLiteral("?"));
        QCOMPARE(buttons.size(), 2);
        QVERIFY2(buttons.contains(QStringLiteral("はい(&Y)")), qPrintable(buttons.join(QLatin1Char(','))));
        QVERIFY2(buttons.contains(QStringLiteral("いいえ(&N)")), qPrintable(buttons.join(QLatin1Char(','))));
        const QString replace = QCoreApplication::translate(
            "QFileDialog", "%1 already exists.\nDo you want to replace it?");
        QVERIFY2(replace.contains(QStringLiteral("置き換え")), qPrintable(replace));
        // What the file dialogs' type column says of a folder, which Qt's
        // catalogue leaves untranslated.
        QCOMPARE(QFileIconProvider().type(QFileInfo(QDir::tempPath())), QStringLiteral("フォルダ"));
    }

    void programFiltersBecomeQtNameFilters()
    {
        QCOMPARE(QtNameFilters(QStringLiteral("座標ﾌｧｲﾙ(*.txt)|*.txt|DXFﾌｧｲﾙ(*.dxf)|*.dxf|"
                                              "JW_CADﾌｧｲﾙ(*.jwc)|*.jwc")),
                 (QStringList{QStringLiteral("座標ﾌｧｲﾙ(*.txt)"), QStringLiteral("DXFﾌｧｲﾙ(*.dxf)"),
                              QStringLiteral("JW_CADﾌｧｲﾙ(*.jwc)")}));
        QCOMPARE(QtNameFilters(QStringLiteral("All (*.bmp;*.pic)|*.bmp;*.pic|Bitmaps|*.bmp")),
                 (QStringList{QStringLiteral("All (*.bmp *.pic)"), QStringLiteral("Bitmaps (*.bmp)")}));
        // A description without its pattern gets it; a dangling description is dropped.
        QCOMPARE(QtNameFilters(QStringLiteral("Pictures|*.mag; *.pi|Lonely")),
                 QStringList{QStringLiteral("Pictures (*.mag *.pi)")});
        QCOMPARE(QtNameFilters(QString()), QStringList());
    }

    void escapingErrorsReachTheTopLevelReport()
    {
        QStringList reports;
        SetErrorReporter([&](const QString &text) { reports << text; });
        TFailingObject object;
        QEvent own(QEvent::User);
        QCOMPARE(QCoreApplication::sendEvent(&object, &own), false);
        QEvent other(QEvent::Type(QEvent::User + 1));
        QCoreApplication::sendEvent(&object, &other);
        // Posted events go through the same report, and the program goes on.
        QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        SetErrorReporter({});
        QCOMPARE(reports, (QStringList{QStringLiteral("plan.txt を作成できません。"), QStringLiteral("logic"),
                                       QStringLiteral("plan.txt を作成できません。")}));
        QCOMPARE(ErrorText(std::bad_alloc()), QStringLiteral("メモリが確保出来ませんでした。"));
    }

private:
    std::unique_ptr<QWidget> Main;
    std::unique_ptr<TWindowUserInterface> UI;
};

TRAZBIT_WINDOW_TEST_MAIN(TestWindowUserInterface)
#include "tst_WindowUserInterface.moc"
