#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The scale calculator: the magnification that makes one scanned pixel the
// length it stands for on the drawing, N / dpi x 25.4 millimetres for a drawing
// at 1/N scanned at dpi dots per inch. Modal, centred over the owner.
class TForm5 : public QDialog
{
    Q_OBJECT

public:
    // `dpi`: the resolution field's first text when above 0 (the picture's
    // stored resolution), else "100".
    explicit TForm5(QWidget *owner, int dpi = 0);

    // The result as shown, which OK hands to the magnification edit.
    QString Result() const;

    QLineEdit *Edit1;   // N of the scale 1/N, "100"
    QLineEdit *Edit2;   // scanner resolution in dpi, "100" or the picture's
    QLabel *Label6;     // the result, "1.0000" until a field changes
    QPushButton *OKButton;
    QPushButton *CancelButton;

private:
    void Recalculate();
};
