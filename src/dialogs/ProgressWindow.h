#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// The progress window shown while a picture is converted or the segments are
// written: a small tool window above the others with an activity label, a bar
// and a cancel button. Its close box is greyed; only the owner removes it.
//
// It is a window of its own rather than a child of the main window, so that
// disabling the main window during a conversion leaves it usable. Its client
// area is 224 x 78, wider only where its caption would not fit the title bar
// ("クリップボードへコピー中・・・").
class TForm4 : public QWidget
{
    Q_OBJECT

public:
    // Centred over the owner; the cancel button sets *cancelFlag (may be null).
    TForm4(QWidget *owner, bool *cancelFlag);

    QLabel *Label1;
    QProgressBar *ProgressBar1;
    QPushButton *Button1;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void Button1Click();
    // The width the caption needs, then the controls laid out across it.
    void FitCaption();

    bool *CancelFlag;
    QPointer<QWidget> Owner;
};
