#include "dialogs/PreviewWindow.h"

#include "base/DecimalText.h"
#include "base/Messages.h"
#include "commands/MainWindowState.h"
#include "dialogs/ProgramIcon.h"
#include "preview/PreviewImage.h"
#include "scan/ScanState.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QScrollBar>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double kZoomStep = 1.25;
constexpr double kLargestScale = 32;

const QString kFitText = QStringLiteral("全体");

// The share of a scan's dark pixels lost to the exact-black rule that the
// status line points out.
constexpr double kMuchLost = 0.3;

// A scale as the status line and the zoom box show it.
QString PercentText(double scale)
{
    return QStringLiteral("%1%").arg(scale * 100, 0, 'f', scale < 0.1 ? 1 : 0);
}

// The scroll range of a sheet `sheet` pixels long at `scale`, in a view
// `view` pixels long.
int ScrollRange(double sheet, double scale, int view)
{
    return std::max(0, static_cast<int>(std::lround(sheet * scale)) - view);
}

QString Caption(const QString &fileName)
{
    const QString caption = QStringLiteral("ﾌﾟﾚﾋﾞｭｰ");
    return fileName.isEmpty() ? caption : caption + QStringLiteral(" - ") + fileName;
}

} // namespace

TPreviewView::TPreviewView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PreviewView"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(120, 90);
}

TPreviewView::~TPreviewView() = default;

void TPreviewView::SetPicture(std::shared_ptr<const TPreviewImage> picture, const QString &emptyText)
{
    // The view of the last sheet shown is kept while there is none (between
    // the conversions of one file).
    const QSize sheet = picture ? QSize(picture->Width(), picture->Height()) : QSize();
    const bool sameSheet = picture && sheet == LastSheet;
    Image = std::move(picture);
    EmptyText = emptyText;
    setCursor(Image ? Qt::OpenHandCursor : Qt::ArrowCursor);
    if (Image) {
        LastSheet = sheet;
        if (!sameSheet)
            Fitting = true;
        if (Fitting)
            FScale = FitScale();
    }
    Clamp();
    Changed();
}

void TPreviewView::ZoomTo(double scale)
{
    if (!Image || scale <= 0)
        return;
    const QPointF half(width() / 2.0, height() / 2.0);
    const QPointF centre = FOrigin + half / FScale;
    FScale = std::clamp(scale, std::min(FitScale() / 2, 1.0), kLargestScale);
    FOrigin = centre - half / FScale;
    Fitting = false;
    Clamp();
    Changed();
}

void TPreviewView::ScrollTo(QPointF origin)
{
    if (!Image)
        return;
    FOrigin = origin;
    Clamp();
    Changed();
}

void TPreviewView::CentreOn(QPointF sheetPoint)
{
    ScrollTo(sheetPoint - QPointF(width() / 2.0, height() / 2.0) / FScale);
}

double TPreviewView::FitScale() const
{
    if (!Image || Image->Width() <= 0 || Image->Height() <= 0)
        return 1;
    return std::min(static_cast<double>(width()) / Image->Width(),
                    static_cast<double>(height()) / Image->Height());
}

void TPreviewView::Fit()
{
    Fitting = true;
    FScale = FitScale();
    Clamp();
    Changed();
}

void TPreviewView::ZoomBy(double factor, QPointF anchor)
{
    if (!Image)
        return;
    const double smallest = std::min(FitScale() / 2, 1.0);
    const double scale = std::clamp(FScale * factor, smallest, kLargestScale);
    const QPointF sheetPoint = FOrigin + anchor / FScale;
    FScale = scale;
    FOrigin = sheetPoint - anchor / FScale;
    Fitting = false;
    Clamp();
    Changed();
}

void TPreviewView::PanBy(QPointF viewPixels)
{
    if (!Image)
        return;
    FOrigin -= viewPixels / FScale;
    Clamp();
    Changed();
}

void TPreviewView::Clamp()
{
    if (!Image)
        return;
    auto axis = [](double origin, double sheet, double view) {
        if (sheet <= view)
            return (sheet - view) / 2;
        return std::clamp(origin, 0.0, sheet - view);
    };
    FOrigin.setX(axis(FOrigin.x(), Image->Width(), width() / FScale));
    FOrigin.setY(axis(FOrigin.y(), Image->Height(), height() / FScale));
}

void TPreviewView::Changed()
{
    FrameValid = false;
    update();
    Q_EMIT ViewChanged();
}

void TPreviewView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!Image) {
        painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, EmptyText);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::ceil(width() * ratio)),
                       static_cast<int>(std::ceil(height() * ratio)));
    if (!FrameValid || FFrame.size() != pixels) {
        FFrame = QImage(pixels, QImage::Format_RGB32);
        if (!FFrame.isNull())
            Image->Render(FFrame, FOrigin, FScale * ratio);
        FFrame.setDevicePixelRatio(ratio);
        FrameValid = true;
    }
    painter.drawImage(QPointF(0, 0), FFrame);
}

void TPreviewView::resizeEvent(QResizeEvent *)
{
    if (Fitting)
        FScale = FitScale();
    Clamp();
    Changed();
}

void TPreviewView::wheelEvent(QWheelEvent *event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        ZoomBy(std::pow(kZoomStep, notches), event->position());
    event->accept();
}

void TPreviewView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !Image)
        return QWidget::mousePressEvent(event);
    Dragging = true;
    DragStart = event->position();
    DragOrigin = FOrigin;
    setCursor(Qt::ClosedHandCursor);
}

void TPreviewView::mouseMoveEvent(QMouseEvent *event)
{
    if (!Dragging)
        return QWidget::mouseMoveEvent(event);
    FOrigin = DragOrigin - (event->position() - DragStart) / FScale;
    Clamp();
    Changed();
}

void TPreviewView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !Dragging)
        return QWidget::mouseReleaseEvent(event);
    Dragging = false;
    setCursor(Image ? Qt::OpenHandCursor : Qt::ArrowCursor);
}

void TPreviewView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Fit();
}

void TPreviewView::keyPressEvent(QKeyEvent *event)
{
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double step = std::min(width(), height()) / 8.0;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomBy(kZoomStep, centre);
        break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        ZoomBy(1 / kZoomStep, centre);
        break;
    case Qt::Key_0:
    case Qt::Key_Home:
        Fit();
        break;
    case Qt::Key_Left:
        PanBy(QPointF(step, 0));
        break;
    case Qt::Key_Right:
        PanBy(QPointF(-step, 0));
        break;
    case Qt::Key_Up:
        PanBy(QPointF(0, step));
        break;
    case Qt::Key_Down:
        PanBy(QPointF(0, -step));
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

TPreviewOverview::TPreviewOverview(TPreviewView &view, QWidget *parent) : QWidget(parent), View(view)
{
    setObjectName(QStringLiteral("PreviewOverview"));
    setFixedSize(180, 180);
    setCursor(Qt::PointingHandCursor);
    connect(&View, &TPreviewView::ViewChanged, this, qOverload<>(&QWidget::update));
}

void TPreviewOverview::Refresh()
{
    const TPreviewImage *picture = View.Picture();
    Small = picture ? picture->RenderWhole(std::min(width(), height())) : QImage();
    update();
}

double TPreviewOverview::Scale() const
{
    const TPreviewImage *picture = View.Picture();
    return picture && picture->Width() > 0 ? static_cast<double>(Small.width()) / picture->Width() : 0;
}

QPointF TPreviewOverview::Offset() const
{
    return QPointF((width() - Small.width()) / 2.0, (height() - Small.height()) / 2.0);
}

QRectF TPreviewOverview::Frame() const
{
    const double scale = Scale();
    if (scale <= 0)
        return QRectF();
    const QRectF sheet(View.Origin(), QSizeF(View.width(), View.height()) / View.Scale());
    const QRectF shown(sheet.topLeft() * scale + Offset(), sheet.size() * scale);
    return shown.intersected(QRectF(Offset(), QSizeF(Small.size())));
}

void TPreviewOverview::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgb(TPreviewImage::Outside));
    if (Small.isNull() || !View.Picture())
        return;
    painter.drawImage(Offset(), Small);
    QPen pen(QColor(0, 90, 255));
    pen.setWidth(2);
    painter.setPen(pen);
    painter.setBrush(QColor(0, 90, 255, 40));
    painter.drawRect(Frame().adjusted(1, 1, -1, -1));
}

void TPreviewOverview::mousePressEvent(QMouseEvent *event)
{
    const double scale = Scale();
    if (event->button() != Qt::LeftButton || scale <= 0)
        return QWidget::mousePressEvent(event);
    View.CentreOn((event->position() - Offset()) / scale);
}

void TPreviewOverview::mouseMoveEvent(QMouseEvent *event)
{
    const double scale = Scale();
    if (!(event->buttons() & Qt::LeftButton) || scale <= 0)
        return QWidget::mouseMoveEvent(event);
    View.CentreOn((event->position() - Offset()) / scale);
}

TPreviewWindow::TPreviewWindow(const TScanState &state, const TMainWindowState &window,
                               QWidget *parent)
    : QWidget(parent, Qt::Window), State(state), Window(window)
{
    setObjectName(QStringLiteral("PreviewWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Caption(QString()));
    setWindowIcon(ProgramIcon());

    View = new TPreviewView(this);
    HorizontalBar = new QScrollBar(Qt::Horizontal, this);
    HorizontalBar->setObjectName(QStringLiteral("HorizontalBar"));
    VerticalBar = new QScrollBar(Qt::Vertical, this);
    VerticalBar->setObjectName(QStringLiteral("VerticalBar"));
    auto *sheet = new QGridLayout;
    sheet->setContentsMargins(0, 0, 0, 0);
    sheet->setSpacing(0);
    sheet->addWidget(View, 0, 0);
    sheet->addWidget(VerticalBar, 0, 1);
    sheet->addWidget(HorizontalBar, 1, 0);

    auto *side = new QVBoxLayout;
    side->setContentsMargins(8, 8, 8, 8);
    side->addWidget(new QLabel(QStringLiteral("表示倍率"), this));
    ZoomBox = new QComboBox(this);
    ZoomBox->setObjectName(QStringLiteral("ZoomBox"));
    ZoomBox->setEditable(true);
    ZoomBox->setInsertPolicy(QComboBox::NoInsert);
    ZoomBox->addItems({kFitText, QStringLiteral("25%"), QStringLiteral("50%"), QStringLiteral("100%"),
                       QStringLiteral("200%"), QStringLiteral("400%"), QStringLiteral("800%")});
    side->addWidget(ZoomBox);
    side->addSpacing(8);
    side->addWidget(new QLabel(QStringLiteral("下絵"), this));
    ScanButton = new QRadioButton(QStringLiteral("スキャン画像"), this);
    ScanButton->setObjectName(QStringLiteral("ScanButton"));
    TracedButton = new QRadioButton(QStringLiteral("読み取った黒"), this);
    TracedButton->setObjectName(QStringLiteral("TracedButton"));
    ScanButton->setChecked(true);
    side->addWidget(ScanButton);
    side->addWidget(TracedButton);
    const auto legend = [this, side](QRgb colour, const QString &text) {
        auto *label = new QLabel(QStringLiteral("<span style=\"color:%1\">■</span> %2")
                                     .arg(QColor::fromRgb(colour).name(), text),
                                 this);
        side->addWidget(label);
    };
    legend(TPreviewImage::Line, QStringLiteral("線分"));
    legend(TPreviewImage::TracedInk, QStringLiteral("黒と読んだ画素"));
    legend(TPreviewImage::DarkNotInk, QStringLiteral("暗いが黒でない画素"));
    side->addSpacing(8);
    side->addWidget(new QLabel(QStringLiteral("全体図"), this));
    Overview = new TPreviewOverview(*View, this);
    side->addWidget(Overview);
    side->addStretch();

    auto *body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addLayout(sheet, 1);
    body->addLayout(side);

    Status = new QStatusBar(this);
    StatusLabel = new QLabel(Status);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    Status->addWidget(StatusLabel, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(body, 1);
    layout->addWidget(Status);
    connect(View, &TPreviewView::ViewChanged, this, &TPreviewWindow::ShowStatus);
    connect(View, &TPreviewView::ViewChanged, this, &TPreviewWindow::FollowView);
    connect(TracedButton, &QRadioButton::toggled, this, [this] { Follow(); });
    // A choice from the list, or a percentage typed and entered.
    connect(ZoomBox, &QComboBox::textActivated, this, &TPreviewWindow::ZoomBoxChosen);
    connect(ZoomBox->lineEdit(), &QLineEdit::returnPressed, this, &TPreviewWindow::ZoomBoxChosen);
    connect(HorizontalBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!SyncingBars)
            View->ScrollTo(QPointF(value / View->Scale(), View->Origin().y()));
    });
    connect(VerticalBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!SyncingBars)
            View->ScrollTo(QPointF(View->Origin().x(), value / View->Scale()));
    });

    QSize size(900, 700);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize() * 0.8);
    resize(size);
    Follow();
}

TPreviewWindow::~TPreviewWindow() = default;

void TPreviewWindow::Follow()
{
    const TScanPicture &picture = State.Picture;
    if (!Window.DataConverted || !picture.Mask) {
        setWindowTitle(Caption(QString()));
        SheetText.clear();
        Warning.clear();
        View->SetPicture(nullptr, Messages::NotConverted());
        Overview->Refresh();
        return;
    }
    setWindowTitle(Caption(QFileInfo(Window.SourceFileName).fileName()));
    const int dpiX = DotsPerInch(picture.DotsPerMeterX);
    const int dpiY = DotsPerInch(picture.DotsPerMeterY);
    QString resolution = QStringLiteral("解像度の記録なし");
    if (dpiX > 0 && (dpiY == dpiX || dpiY <= 0))
        resolution = QStringLiteral("%1 dpi").arg(dpiX);
    else if (dpiX > 0)
        resolution = QStringLiteral("%1 × %2 dpi").arg(dpiX).arg(dpiY);
    SheetText = QStringLiteral("%1 × %2 ピクセル　%3　%4本")
                    .arg(picture.Mask->Width())
                    .arg(picture.Mask->Height())
                    .arg(resolution, FormatThousands(State.SegmentCount));
    auto image = std::make_shared<TPreviewImage>(picture.Mask, State, picture.PixelCorners);
    if (picture.Backdrop)
        image->SetBackdrop(picture.Backdrop,
                           TracedButton->isChecked() ? TPreviewLayer::Traced : TPreviewLayer::Scan);
    // A grey or colour scan of which the exact-black rule took much less than
    // its dark pixels: the threshold setting reads it.
    Warning.clear();
    if (const TScanBackdrop *backdrop = picture.Backdrop.get();
        backdrop && backdrop->Tones && backdrop->ExactBlack && backdrop->LostShare() >= kMuchLost)
        Warning = QStringLiteral("　※暗い画素の %1% は完全な黒でないため線になっていません。"
                                 "環境設定の「しきい値」（auto など）で読めます。")
                      .arg(std::lround(backdrop->LostShare() * 100));
    View->SetPicture(std::move(image), QString());
    Overview->Refresh();
}

void TPreviewWindow::ZoomBoxChosen()
{
    QString text = ZoomBox->currentText().trimmed();
    if (text == kFitText) {
        View->Fit();
        return;
    }
    if (text.endsWith(QLatin1Char('%')) || text.endsWith(QChar(0xFF05)))
        text.chop(1);
    bool ok = false;
    const double percent = text.trimmed().toDouble(&ok);
    if (ok && percent > 0)
        View->ZoomTo(percent / 100);
    else
        FollowView();
}

void TPreviewWindow::FollowView()
{
    ZoomBox->setEditText(View->Fitted() ? kFitText : PercentText(View->Scale()));
    const TPreviewImage *picture = View->Picture();
    SyncingBars = true;
    const auto sync = [](QScrollBar *bar, double sheet, double origin, double scale, int view) {
        const int range = ScrollRange(sheet, scale, view);
        bar->setRange(0, range);
        bar->setPageStep(view);
        bar->setSingleStep(std::max(1, view / 20));
        bar->setValue(static_cast<int>(std::lround(origin * scale)));
        bar->setEnabled(range > 0);
    };
    if (picture) {
        sync(HorizontalBar, picture->Width(), View->Origin().x(), View->Scale(), View->width());
        sync(VerticalBar, picture->Height(), View->Origin().y(), View->Scale(), View->height());
    } else {
        for (QScrollBar *bar : {HorizontalBar, VerticalBar}) {
            bar->setRange(0, 0);
            bar->setEnabled(false);
        }
    }
    SyncingBars = false;
}

void TPreviewWindow::ShowStatus()
{
    if (SheetText.isEmpty()) {
        StatusLabel->setText(QString());
        return;
    }
    StatusLabel->setText(SheetText + QStringLiteral("　表示 ") + PercentText(View->Scale()) + Warning);
}
