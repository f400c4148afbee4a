#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QRadioButton;
class QScrollBar;
class TPreviewOverview;
class QStatusBar;
class TPreviewImage;
class TScanState;
struct TMainWindowState;

// The sheet of the preview window: fitted to the view at first, zoomed with
// the wheel or + and -, panned by dragging; 0 or a double click fits it again.
// Each paint draws only the visible part, at the scale shown.
class TPreviewView : public QWidget
{
    Q_OBJECT

public:
    explicit TPreviewView(QWidget *parent);
    ~TPreviewView() override;

    // What to show; null shows `emptyText` instead. A picture of a sheet of
    // the same size as the last one shown (the same file converted again, or
    // the next sheet of a set) keeps the view's zoom and place.
    void SetPicture(std::shared_ptr<const TPreviewImage> picture, const QString &emptyText);
    const TPreviewImage *Picture() const { return Image.get(); }

    // Target pixels per sheet pixel, and the sheet point at the top-left corner.
    double Scale() const { return FScale; }
    QPointF Origin() const { return FOrigin; }
    void Fit();
    // Zooms by `factor`, keeping the sheet point under `anchor` (view pixels) in place.
    void ZoomBy(double factor, QPointF anchor);
    void PanBy(QPointF viewPixels);
    // Shows the sheet at `scale`, keeping the sheet point at the view's centre.
    void ZoomTo(double scale);
    // Puts the sheet point `origin` at the top-left corner (as far as the
    // sheet allows), or centres the view on a sheet point.
    void ScrollTo(QPointF origin);
    void CentreOn(QPointF sheetPoint);
    bool Fitted() const { return Fitting; }

    // The last picture drawn (the view's size in device pixels).
    const QImage &Frame() const { return FFrame; }

Q_SIGNALS:
    // The scale or the place changed.
    void ViewChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    double FitScale() const;
    // Keeps the sheet in view: centred along an axis it does not fill, else
    // without a gap beyond its edges.
    void Clamp();
    void Changed();

    std::shared_ptr<const TPreviewImage> Image;
    QString EmptyText;
    double FScale = 1;
    QPointF FOrigin;
    bool Fitting = true;
    QSize LastSheet;
    QImage FFrame;
    bool FrameValid = false;
    bool Dragging = false;
    QPointF DragStart;
    QPointF DragOrigin;
};

// The whole sheet at a small size with the part the view shows framed.
class TPreviewOverview : public QWidget
{
    Q_OBJECT

public:
    TPreviewOverview(TPreviewView &view, QWidget *parent);
    // The sheet changed: its small picture is drawn again.
    void Refresh();
    // The part of the sheet in view, in overview pixels.
    QRectF Frame() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    double Scale() const;
    QPointF Offset() const;

    TPreviewView &View;
    QImage Small;
};

// The preview window: the picture of the last conversion, lightened, with its
// segments in colour, and its size and stored resolution in the status line.
// Not modal and resizable; it follows the scan state whenever Follow() is called.
class TPreviewWindow : public QWidget
{
    Q_OBJECT

public:
    // `state` is the conversion's result; `window` says whether there is one
    // and from which file.
    TPreviewWindow(const TScanState &state, const TMainWindowState &window,
                   QWidget *parent = nullptr);
    ~TPreviewWindow() override;

    // Shows the scan state again: its picture and its segment list as they
    // are now, or the message that nothing is converted. To be called
    // whenever the segment list changes, and before a conversion refills it.
    void Follow();

    TPreviewView *View;
    QLabel *StatusLabel;
    // The zoom box: "全体" fits the sheet, or a percentage (typed ones too).
    QComboBox *ZoomBox;
    QScrollBar *HorizontalBar;
    QScrollBar *VerticalBar;
    // The whole sheet, small, with the part in view framed; a click there
    // centres the view on it.
    TPreviewOverview *Overview;
    // Under the segments: the scan itself, or what the tracers saw.
    QRadioButton *ScanButton;     // "スキャン画像"
    QRadioButton *TracedButton;   // "読み取った黒"

private:
    void ShowStatus();
    void ZoomBoxChosen();
    void FollowView();

    const TScanState &State;
    const TMainWindowState &Window;
    QStatusBar *Status;
    QString SheetText;
    QString Warning;
    bool SyncingBars = false;
};
