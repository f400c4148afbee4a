#include "dialogs/VersionWindow.h"

#include "dialogs/ProgramIcon.h"
#include "base/Version.h"
#include "dialogs/CentreOver.h"

#include <QFont>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace {

// The program's name as a title picture.
QPixmap TitlePicture()
{
    QPixmap pixmap(200, 44);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(32);
    font.setBold(true);
    font.setItalic(true);
    painter.setFont(font);
    QLinearGradient gradient(0, 0, 0, 44);
    gradient.setColorAt(0, QColor(0, 90, 220));
    gradient.setColorAt(1, QColor(0, 30, 110));
    painter.setPen(QPen(QBrush(gradient), 1));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("Trazbit"));
    return pixmap;
}

} // namespace

TForm3::TForm3(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setWindowIcon(ProgramIcon());
    setFixedSize(300, 150);

    ProgramIconImage = new QLabel(this);
    ProgramIconImage->setPixmap(ProgramIcon().pixmap(32, 32));
    ProgramIconImage->setGeometry(16, 16, 32, 32);

    TitleImage = new QLabel(this);
    TitleImage->setObjectName(QStringLiteral("TitleImage"));
    TitleImage->setPixmap(TitlePicture());
    TitleImage->setGeometry(64, 10, 200, 44);

    VersionLabel = new QLabel(QStringLiteral("Version " TRAZBIT_VERSION_TEXT), this);
    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    VersionLabel->setAlignment(Qt::AlignCenter);
    VersionLabel->setGeometry(64, 62, 200, 20);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    OKButton->setGeometry(110, 106, 80, 26);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    CentreOver(*this, owner);
}
