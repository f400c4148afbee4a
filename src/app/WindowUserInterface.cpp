#include "app/WindowUserInterface.h"

#include "app/FileDialogFilter.h"
#include "base/VectorState.h"
#include "dialogs/ProgressWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// The core ends its lines with LF CR; a message box wants plain line feeds.
QString ShownText(QString text)
{
    text.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// Wide enough for the long names of real scans.
constexpr QSize kFileDialogSize(980, 620);

QString ChooseFile(QWidget *parent, const TFileDialogRequest &request, bool save, QSize &size)
{
    QFileDialog dialog(parent, QString(), request.Folder);
    dialog.resize(size.isValid() ? size : kFileDialogSize);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList filters = QtNameFilters(request.Filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = request.FilterIndex - 1;
        if (index >= 0 && index < filters.size())
            dialog.selectNameFilter(filters[index]);
    }
    if (!request.DefaultExtension.isEmpty())
        dialog.setDefaultSuffix(request.DefaultExtension);
    if (!request.FileName.isEmpty())
        dialog.selectFile(request.FileName);
    const int answer = dialog.exec();
    // The size the user gave it, for the next one.
    if (dialog.size() != kFileDialogSize || size.isValid())
        size = dialog.size();
    if (answer != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

// A window just shown is only mapped, framed and exposed by the window system
// some time later, and long work lets messages through only now and then: wait
// (a second at most) until it can be drawn, and draw it whole, so that its
// caption, label, bar and button stand before the work's first step.
void PaintNow(QWidget &window)
{
    QWindow *handle = window.windowHandle();
    QElapsedTimer waited;
    waited.start();
    while (handle && !handle->isExposed() && waited.elapsed() < 1000) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        if (!handle->isExposed())
            QThread::msleep(2);
    }
    window.repaint();
    QGuiApplication::sync();
}

} // namespace

namespace {
// Pending messages are handled at a step once this many milliseconds have
// passed since the last time: the bar moves smoothly and a click on the
// cancel button takes effect at once, yet a sheet of a hundred thousand lines
// is not held up by as many rounds of the message loop.
constexpr qint64 kMessageInterval = 15;
}

TWindowUserInterface::TWindowUserInterface(QWidget *mainWindow)
    : MainWindow(mainWindow), MessageInterval(kMessageInterval)
{
}

TWindowUserInterface::~TWindowUserInterface()
{
    SetBusyCursor(false);
}

QWidget *TWindowUserInterface::BoxOwner() const
{
    // Over the progress window while one is shown: it stays on top and would
    // hide a box placed over the main window.
    if (Progress && Progress->isVisible())
        return Progress.get();
    return MainWindow;
}

void TWindowUserInterface::ShowMessage(const QString &text)
{
    QMessageBox box(QMessageBox::Information, QApplication::applicationName(), ShownText(text),
                    QMessageBox::Ok, BoxOwner());
    box.exec();
}

void TWindowUserInterface::ShowMessageDetail(const QString &text, const QString &detail)
{
    QMessageBox box(QMessageBox::Information, QApplication::applicationName(), ShownText(text),
                    QMessageBox::Ok, BoxOwner());
    box.setInformativeText(ShownText(detail));
    // The path and the reason can be selected and copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

bool TWindowUserInterface::AskYesNo(const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Question, caption, ShownText(text),
                    QMessageBox::Yes | QMessageBox::No, BoxOwner());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void TWindowUserInterface::SetMainWindowEnabled(bool enabled)
{
    if (MainWindow)
        MainWindow->setEnabled(enabled);
}

void TWindowUserInterface::SetBusyCursor(bool busy)
{
    if (busy == Busy)
        return;
    Busy = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void TWindowUserInterface::ShowProgress(const QString &caption, const QString &label,
                                        bool cancelVisible)
{
    CancelPressed = false;
    Progress = std::make_unique<TForm4>(MainWindow, &CancelPressed);
    Progress->setWindowTitle(caption);
    Progress->Label1->setText(label);
    Progress->Button1->setVisible(cancelVisible);
    Progress->show();
    PaintNow(*Progress);
    // The first step handles pending messages again.
    SinceMessages.invalidate();
}

void TWindowUserInterface::SetProgressLabel(const QString &label)
{
    if (!Progress)
        return;
    Progress->Label1->setText(label);
    // Shown at once: the step it names runs without letting messages through.
    Progress->Label1->repaint();
}

void TWindowUserInterface::TBar::SetMaximum(int maximum)
{
    // A maximum of 0 (fewer than 100 segments) shows an empty bar, not Qt's
    // busy indicator.
    if (Owner.Progress)
        Owner.Progress->ProgressBar1->setRange(0, maximum > 0 ? maximum : 1);
}


void TWindowUserInterface::TBar::Step(int position)
{
    if (Owner.Progress)
        Owner.Progress->ProgressBar1->setValue(position);
    if (!Owner.SinceMessages.isValid() || Owner.SinceMessages.elapsed() >= Owner.MessageInterval)
        Owner.ProcessMessages();
}

void TWindowUserInterface::CloseProgress()
{
    if (!Progress)
        return;
    Progress->hide();
    Progress.reset();
    CancelPressed = false;
}

void TWindowUserInterface::ProcessMessages()
{
    QCoreApplication::processEvents();
    SinceMessages.start();
}

namespace {

// The port of work on another thread: its steps are only noted, for the
// window's thread to show; the cancel comes from there.
class TThreadSteps : public TProgressPort
{
public:
    void SetMaximum(int maximum) override
    {
        Position = 0;
        Maximum = maximum;
    }
    void Step(int position) override { Position = position; }
    bool Cancelled() const override { return Stop; }

    std::atomic<int> Maximum{-1};   // -1: not given yet
    std::atomic<int> Position{0};
    std::atomic<bool> Stop{false};
};

} // namespace

void TWindowUserInterface::RunInBackground(const std::function<void(TProgressPort &progress)> &work)
{
    TThreadSteps steps;
    std::exception_ptr error;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread worker([&] {
        // (The window's drawing leaves the wide registers in use, and a
        // thread starts with its starter's.)
        ClearUpperVectorHalves();
        try {
            work(steps);
        } catch (...) {
            error = std::current_exception();
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        ended.notify_all();
    });

    const auto showSteps = [&] {
        if (!Progress)
            return;
        const int maximum = steps.Maximum;
        QProgressBar *bar = Progress->ProgressBar1;
        if (maximum < 0) {
            bar->setRange(0, 0);
        } else {
            bar->setRange(0, maximum > 0 ? maximum : 1);
            bar->setValue(std::min(steps.Position.load(), std::max(maximum, 1)));
        }
    };
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (ended.wait_for(lock, std::chrono::milliseconds(10), [&] { return done; }))
                break;
        }
        showSteps();
        ProcessMessages();
        if (Bar.Cancelled())
            steps.Stop = true;
    }
    worker.join();
    showSteps();
    if (error)
        std::rethrow_exception(error);
}

QString TWindowUserInterface::ChooseOpenFile(const TFileDialogRequest &request)
{
    return ChooseFile(MainWindow, request, false, FileDialogSize);
}

QString TWindowUserInterface::ChooseSaveFile(const TFileDialogRequest &request)
{
    return ChooseFile(MainWindow, request, true, FileDialogSize);
}
