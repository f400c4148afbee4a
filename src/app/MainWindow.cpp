#include "app/MainWindow.h"

#include "app/ResultLabels.h"
#include "base/DecimalText.h"
#include "base/Messages.h"
#include "app/ErrorReport.h"
#include "dialogs/FieldExit.h"
#include "base/ProgramFolder.h"
#include "dialogs/ElidedLabel.h"
#include "dialogs/PreviewWindow.h"
#include "dialogs/ProgramIcon.h"
#include "app/WindowUserInterface.h"
#include "cleanup/CleanupFilters.h"
#include "recognition/GeometryFilters.h"
#include "dialogs/ScaleCalculator.h"
#include "dialogs/SettingsDialog.h"
#include "dialogs/VersionWindow.h"
#include "commands/ExportDriver.h"
#include "export/SystemClipboard.h"
#include "plugins/ProgramPlugins.h"
#include "plugins/SPIs.h"
#include "commands/ScanDriver.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <thread>
#include <tuple>

namespace {

// A conversion or a save uses every core of the machine (the results are the
// same as on one).
int Threads()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// Where the size of the file dialogs is kept.
const QString kFileDialogWidth = QStringLiteral("Window/FileDialogWidth");
const QString kFileDialogHeight = QStringLiteral("Window/FileDialogHeight");

QLabel *Caption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel *ResultLabel(const QString &name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setMinimumWidth(120);
    return label;
}

QAction *Command(QMenu *menu, const QString &name, const QString &text, int tag = 0)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(name);
    action->setData(tag);
    return action;
}

} // namespace

TForm1::TForm1(const QString &settingsPath, TUserInterface *ui)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                               | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                               | Qt::CustomizeWindowHint),
      OwnInterface(ui ? nullptr : std::make_unique<TWindowUserInterface>(this)),
      Interface(ui ? ui : OwnInterface.get()),
      OwnClipboard(std::make_unique<TSystemClipboard>()),
      Clipboard(OwnClipboard.get()),
      SettingsPath(settingsPath)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Trazbit （Susie-Plugin対応β版です）"));
    setWindowIcon(ProgramIcon());

    BuildMenus();
    BuildClient();
    // One simple panel that stays empty.
    statusBar()->setSizeGripEnabled(false);

    // The settings record and the window's place.
    Settings = TSettings::Defaults();
    QPoint position(0, 0);
    {
        std::unique_ptr<QSettings> store = SettingsStore::Open(SettingsPath);
        SettingsStore::Load(*store, Settings, &position);
        // The file dialogs' size, once the user changed it.
        if (OwnInterface) {
            const QSize size(store->value(kFileDialogWidth).toInt(), store->value(kFileDialogHeight).toInt());
            if (size.width() > 0 && size.height() > 0)
                OwnInterface->FileDialogSize = size;
        }
    }
    adjustSize();
    setFixedSize(size());
    move(position);

    Formats.RegisterBuiltIns();
    if (!Scan.ResetSegments())
        Interface->ShowMessage(Messages::OutOfMemory());
    State.DataConverted = false;
    ShowModeName();

    (new TFieldExit(this))->Watch(Edit1, [this] { Edit1Exit(); });
    setAcceptDrops(true);

    // The window is set up: the plug-ins are searched once.
    Plugins = StartPlugins(Formats);
}

TForm1::~TForm1()
{
    delete Preview;
}

void TForm1::BuildMenus()
{
    FileMenu = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    F1 = Command(FileMenu, QStringLiteral("F1"), QStringLiteral("開く(&O)..."));
    F1_2 = Command(FileMenu, QStringLiteral("F1_2"), QStringLiteral("倍率(&R)..."));
    F2_1 = Command(FileMenu, QStringLiteral("F2_1"), QStringLiteral("保存(&S)..."));
    ClipboardMenu = FileMenu->addMenu(QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞへ(&C)"));
    F3_1 = Command(ClipboardMenu, QStringLiteral("F3_1"), QStringLiteral("座標形式"), 1);
    F3_2 = Command(ClipboardMenu, QStringLiteral("F3_2"), QStringLiteral("JWTran形式"), 2);
    F1_3 = Command(FileMenu, QStringLiteral("F1_3"), QStringLiteral("ﾌﾟﾚﾋﾞｭｰ(&V)..."));
    FileMenu->addSeparator();
    F4 = Command(FileMenu, QStringLiteral("F4"), QStringLiteral("終了(&X)"));

    SettingsMenu = menuBar()->addMenu(QStringLiteral("設定(&S)"));
    S1 = Command(SettingsMenu, QStringLiteral("S1"), QStringLiteral("環境設定(&Y)..."), 0);
    S2 = Command(SettingsMenu, QStringLiteral("S2"), QStringLiteral("座標ﾌｧｲﾙ設定(&C)..."), 1);
    S3 = Command(SettingsMenu, QStringLiteral("S3"), QStringLiteral("DXF設定(&D)..."), 2);
    S4 = Command(SettingsMenu, QStringLiteral("S4"), QStringLiteral("JWC設定(&J)..."), 3);

    HelpMenu = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    H1 = Command(HelpMenu, QStringLiteral("H1"), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)..."));

    connect(F1, &QAction::triggered, this, [this] { F1Click(); });
    connect(F1_2, &QAction::triggered, this, [this] { CalcClick(); });
    connect(F2_1, &QAction::triggered, this, [this] { F2_1Click(); });
    for (QAction *item : {F3_1, F3_2})
        connect(item, &QAction::triggered, this, [this, item] { F3_1Click(item); });
    connect(F1_3, &QAction::triggered, this, [this] { PreviewClick(); });
    connect(F4, &QAction::triggered, this, &QWidget::close);
    for (QAction *item : {S1, S2, S3, S4})
        connect(item, &QAction::triggered, this, [this, item] { SettingsClick(item); });
    connect(H1, &QAction::triggered, this, [this] { VersionClick(); });
}

void TForm1::BuildClient()
{
    auto *client = new QWidget(this);
    auto *outer = new QVBoxLayout(client);
    outer->setContentsMargins(12, 10, 12, 8);
    outer->setSpacing(8);

    auto *buttons = new QHBoxLayout;
    OpenButton = new QPushButton(QStringLiteral("ﾌｧｲﾙを開く"), client);
    OpenButton->setObjectName(QStringLiteral("OpenButton"));
    SaveButton = new QPushButton(QStringLiteral("ﾃﾞｰﾀの保存"), client);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    for (QPushButton *button : {OpenButton, SaveButton})
        button->setMinimumSize(110, 30);
    buttons->addWidget(OpenButton);
    buttons->addWidget(SaveButton);
    buttons->addStretch();
    outer->addLayout(buttons);

    auto *magnification = new QHBoxLayout;
    magnification->addWidget(new QLabel(QStringLiteral("倍率："), client));
    Edit1 = new QLineEdit(QStringLiteral("1.0000"), client);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFixedWidth(110);
    magnification->addWidget(Edit1);
    CalcButton = new QPushButton(QStringLiteral("計算"), client);
    CalcButton->setObjectName(QStringLiteral("CalcButton"));
    magnification->addWidget(CalcButton);
    magnification->addStretch();
    outer->addLayout(magnification);

    auto *panel = new QFrame(client);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto *results = new QGridLayout(panel);
    results->setContentsMargins(10, 6, 10, 8);
    results->setHorizontalSpacing(24);
    results->setVerticalSpacing(2);
    // Long names are cut short at a character, the whole name in the tooltip.
    FileNameLabel = new TElidedLabel(QStringLiteral("*"), panel);
    FileNameLabel->setObjectName(QStringLiteral("FileNameLabel"));
    FileNameLabel->setMinimumWidth(120);
    ModeLabel = ResultLabel(QStringLiteral("ModeLabel"), QStringLiteral("*"), panel);
    CountLabel = ResultLabel(QStringLiteral("CountLabel"), QStringLiteral("0本"), panel);
    MaxXLabel = ResultLabel(QStringLiteral("MaxXLabel"), QStringLiteral("X=0.00000"), panel);
    MaxYLabel = ResultLabel(QStringLiteral("MaxYLabel"), QStringLiteral("Y=0.00000"), panel);
    MinXLabel = ResultLabel(QStringLiteral("MinXLabel"), QStringLiteral("X=0.00000"), panel);
    MinYLabel = ResultLabel(QStringLiteral("MinYLabel"), QStringLiteral("Y=0.00000"), panel);

    results->addWidget(Caption(QStringLiteral("（ファイル名）"), panel), 0, 0, 1, 2);
    results->addWidget(FileNameLabel, 1, 0, 1, 2);
    results->addWidget(Caption(QStringLiteral("（変換方式）"), panel), 2, 0);
    results->addWidget(Caption(QStringLiteral("（線数）"), panel), 2, 1);
    results->addWidget(ModeLabel, 3, 0);
    results->addWidget(CountLabel, 3, 1);
    results->addWidget(Caption(QStringLiteral("（右上座標）"), panel), 4, 0);
    results->addWidget(Caption(QStringLiteral("（左下座標）"), panel), 4, 1);
    results->addWidget(MaxXLabel, 5, 0);
    results->addWidget(MinXLabel, 5, 1);
    results->addWidget(MaxYLabel, 6, 0);
    results->addWidget(MinYLabel, 6, 1);
    results->setRowMinimumHeight(2, 26);
    results->setRowMinimumHeight(4, 26);
    results->setColumnMinimumWidth(0, 140);
    outer->addWidget(panel);
    outer->addStretch();

    setCentralWidget(client);

    connect(OpenButton, &QPushButton::clicked, this, [this] { F1Click(); });
    connect(SaveButton, &QPushButton::clicked, this, [this] { F2_1Click(); });
    connect(CalcButton, &QPushButton::clicked, this, [this] { CalcClick(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
}

int TForm1::Tag(const QAction *action)
{
    return action ? action->data().toInt() : 0;
}

void TForm1::ShowModeName()
{
    const QString name = ScanModeName(Settings.PixelScanMode);
    if (!name.isEmpty())
        ModeLabel->setText(name);
}

void TForm1::RunCommand(const std::function<void()> &command)
{
    try {
        command();
    } catch (const std::exception &error) {
        Interface->CloseProgress();
        Interface->SetMainWindowEnabled(true);
        Interface->SetBusyCursor(false);
        ReportException(error);
    }
}

int TForm1::ShowDialog(QDialog &dialog)
{
    if (OnDialogCreated)
        OnDialogCreated(dialog);
    return dialog.exec();
}

void TForm1::F1Click()
{
    RunCommand([this] {
        TFileDialogRequest request;
        request.Folder = QFileInfo(Settings.OpenDir).isDir() ? Settings.OpenDir : ProgramFolder();
        request.Filter = Formats.OpenFilter();
        const QString path = Interface->ChooseOpenFile(request);
        if (path.isEmpty())
            return;
        OpenPicture(path);
    });
}

void TForm1::OpenPicture(const QString &path)
{
    RunCommand([this, &path] {
        State.SourceFileName = path;
        // The next open starts where this file was picked, however the
        // conversion ends.
        const auto followFolder = qScopeGuard([this, &path] {
            QString folder = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
            if (!folder.endsWith(QDir::separator()))
                folder += QDir::separator();
            Settings.OpenDir = folder;
        });
        // The preview lets go of the last picture before the next one is read.
        State.DataConverted = false;
        Scan.Picture = TScanPicture();
        SegmentListChanged();
        TScanDriver driver(Scan, Settings, *Interface, Formats);
        driver.SetThreads(Threads());
        // The preview shows the picture of the last conversion, with its own
        // grey or colour pixels under the segments.
        driver.SetKeepPicture(true, true);
        // The clean-up of the settings, on every conversion; the labels then
        // count the segments it left.
        const TGeometryFilters cleanup(CleanupOptionsOf(Settings));
        if (CleanupOptionsOf(Settings).AnyStep())
            driver.SetFilters(&cleanup);
        const TScanStatus status = driver.ScanData(path);
        State.DataConverted = status == ScanDone;
        ShowScanLabels(ScanLabelTexts(status, Scan, Settings, path, ParseFloat(Edit1->text())));
        if (const QString note = cleanup.Note(); !note.isEmpty())
            statusBar()->showMessage(note);
        else if (status == ScanDone && CleanupOptionsOf(Settings).Deskew)
            statusBar()->showMessage(SkewText(Scan.Skew));
        else
            statusBar()->clearMessage();
        SegmentListChanged();
        if (State.DataConverted && Settings.AutoPreview)
            ShowPreview(false);
    });
}

void TForm1::SegmentListChanged()
{
    if (Preview)
        Preview->Follow();
}

void TForm1::PreviewClick()
{
    RunCommand([this] { ShowPreview(true); });
}

void TForm1::ShowPreview(bool activate)
{
    if (!Preview) {
        Preview = new TPreviewWindow(Scan, State);
        Preview->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
        Preview->show();
    } else if (!Preview->isVisible()) {
        Preview->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
        Preview->show();
    }
    if (activate) {
        Preview->raise();
        Preview->activateWindow();
    }
}

QString TForm1::DroppedPicture(const QMimeData *data) const
{
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return QString();
    const QUrl url = data->urls().first();
    if (!url.isLocalFile())
        return QString();
    const QString path = url.toLocalFile();
    if (!QFileInfo(path).isFile() || !Formats.FindForFile(path))
        return QString();
    return path;
}

void TForm1::OpenAtStart(const QString &name)
{
    // Relative to the folder the program started in, which the dialogs change.
    const QString path = QDir::toNativeSeparators(QFileInfo(name).absoluteFilePath());
    QTimer::singleShot(0, this, [this, path] {
        if (isEnabled())
            OpenPicture(path);
    });
}

void TForm1::dragEnterEvent(QDragEnterEvent *event)
{
    if (isEnabled() && !DroppedPicture(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent *event)
{
    if (isEnabled() && !DroppedPicture(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent *event)
{
    const QString path = isEnabled() ? DroppedPicture(event->mimeData()) : QString();
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // After the drop has ended: the program that dragged the file waits for it.
    QTimer::singleShot(0, this, [this, path] {
        if (isEnabled())
            OpenPicture(path);
    });
}

void TForm1::ShowScanLabels(const TScanLabels &labels)
{
    FileNameLabel->setText(labels.FileLabel);
    FileNameLabel->setToolTip(labels.FileLabel == QLatin1String("*") ? QString() : labels.FileLabel);
    CountLabel->setText(labels.CountLabel);
    if (labels.XLabel)
        MaxXLabel->setText(*labels.XLabel);
    if (labels.YLabel)
        MaxYLabel->setText(*labels.YLabel);
    if (labels.ModeLabel)
        ModeLabel->setText(*labels.ModeLabel);
}

void TForm1::CalcClick()
{
    RunCommand([this] {
        // The resolution field starts at the picture's own, when its file stores one.
        TForm5 dialog(this, State.DataConverted ? DotsPerInch(Scan.Picture.DotsPerMeterX) : 0);
        if (ShowDialog(dialog) == QDialog::Accepted)
            Edit1->setText(dialog.Result());
    });
}

void TForm1::F2_1Click()
{
    RunCommand([this] {
        TExportDriver driver(Scan, State, Settings, *Interface, *Clipboard, ProgramFolder());
        driver.SetThreads(Threads());
        if (driver.SaveCommand(Edit1->text()) == TExportOutcome::InvalidMagnification)
            Edit1->setFocus(Qt::OtherFocusReason);
    });
}

void TForm1::F3_1Click(const QAction *sender)
{
    const int tag = Tag(sender);
    RunCommand([this, tag] {
        TExportDriver driver(Scan, State, Settings, *Interface, *Clipboard, ProgramFolder());
        if (driver.CopyCommand(tag, Edit1->text()) == TExportOutcome::InvalidMagnification)
            Edit1->setFocus(Qt::OtherFocusReason);
    });
}

void TForm1::SettingsClick(const QAction *sender)
{
    RunCommand([this, sender] {
        // What decides the segments: the method and the clean-up.
        const auto segmentSettings = [this] {
            const TCleanupOptions o = CleanupOptionsOf(Settings);
            return std::make_tuple(Settings.PixelScanMode, o.Threshold, o.ThresholdLevel, o.Despeckle,
                                   o.Centerline, o.Merge, o.Arcs, o.Snap, o.Deskew, o.Linetypes);
        };
        const auto before = segmentSettings();
        {
            TForm2 dialog(this, Settings, *Interface);
            dialog.SelectPage(Tag(sender));
            ShowDialog(dialog);
        }
        ShowModeName();
        // A new method or new clean-up settings make new segments of the
        // picture on show, so that the labels, the count, the preview and the
        // next save agree with them.
        if (State.DataConverted && segmentSettings() != before)
            OpenPicture(State.SourceFileName);
    });
}

void TForm1::VersionClick()
{
    RunCommand([this] {
        TForm3 dialog(this);
        ShowDialog(dialog);
    });
}

void TForm1::Edit1Change()
{
    if (const std::optional<float> m = ParseFloat(Edit1->text())) {
        const TExtentLabels labels = ExtentLabelTexts(Scan, Settings, *m);
        MaxXLabel->setText(labels.XLabel);
        MaxYLabel->setText(labels.YLabel);
    }
}

void TForm1::Edit1Exit()
{
    const std::optional<float> m = ParseFloat(Edit1->text());
    if (!m) {
        Interface->ShowMessage(Messages::InvalidNumber());
        Edit1->setFocus(Qt::OtherFocusReason);
    } else {
        Edit1->setText(FormatFixed5(*m));
    }
}

void TForm1::SaveSettings()
{
    if (SettingsSaved)
        return;
    SettingsSaved = true;
    std::unique_ptr<QSettings> store = SettingsStore::Open(SettingsPath);
    SettingsStore::Save(*store, Settings, pos());
    // Written only once the user sized a file dialog: a store stays as it was.
    if (OwnInterface && OwnInterface->FileDialogSize.isValid()) {
        store->setValue(kFileDialogWidth, OwnInterface->FileDialogSize.width());
        store->setValue(kFileDialogHeight, OwnInterface->FileDialogSize.height());
        store->sync();
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // Disabled means a conversion or a save is running on the segment list:
    // the frame's close box must not pull it away underneath.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    SaveSettings();
    delete Preview;
    Scan.ReleaseSegments();
    Plugins.reset();
    event->accept();
}
