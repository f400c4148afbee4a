#include "dialogs/PreviewWindow.h"

#include "app/core/DecimalText.h"
#include "app/core/Messages.h"
#include "dialogs/ProgramIcon.h"
#include "export/PreviewImage.h"
#include "scan/ScanState.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
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
    const bool sameSheet = Image && picture && Image->Picture() == picture->Picture();
    Image = std::move(picture);
    EmptyText = emptyText;
    setCursor(Image ? Qt::OpenHandCursor : Qt::ArrowCursor);
    if (!sameSheet) {
        Fitting = true;
        FScale = FitScale();
    }
    Clamp();
    Changed();
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

TPreviewWindow::TPreviewWindow(const TScanState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), State(state)
{
    setObjectName(QStringLiteral("PreviewWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Caption(QString()));
    setWindowIcon(ProgramIcon());

    View = new TPreviewView(this);
    Status = new QStatusBar(this);
    StatusLabel = new QLabel(Status);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    Status->addWidget(StatusLabel, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(View, 1);
    layout->addWidget(Status);
    connect(View, &TPreviewView::ViewChanged, this, &TPreviewWindow::ShowStatus);

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
    if (!State.DataConverted || !picture.Mask) {
        setWindowTitle(Caption(QString()));
        SheetText.clear();
        View->SetPicture(nullptr, Messages::NotConverted());
        return;
    }
    setWindowTitle(Caption(QFileInfo(State.SourceFileName).fileName()));
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
    View->SetPicture(std::make_shared<const TPreviewImage>(picture.Mask, State, picture.PixelCorners),
                     QString());
}

void TPreviewWindow::ShowStatus()
{
    if (SheetText.isEmpty()) {
        StatusLabel->setText(QString());
        return;
    }
    StatusLabel->setText(SheetText + QStringLiteral("　表示 %1%").arg(View->Scale() * 100, 0, 'f', View->Scale() < 0.1 ? 1 : 0));
}
