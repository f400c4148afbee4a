#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The version window: the program's icon, its title picture, "Version 4.20" and
// "OK". Created for each opening, modal, centred over the owner.
class TForm3 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm3(QWidget *owner);

    QLabel *ProgramIconImage;
    QLabel *TitleImage;
    QLabel *VersionLabel;
    QPushButton *OKButton;
};
