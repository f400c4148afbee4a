#include "dialogs/ScaleCalculator.h"

#include "base/DecimalText.h"
#include "base/ScaleMagnification.h"
#include "dialogs/CentreOver.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm5::TForm5(QWidget *owner, int dpi)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("計算"));

    Edit1 = new QLineEdit(QStringLiteral("100"), this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit2 = new QLineEdit(dpi > 0 ? QString::number(dpi) : QStringLiteral("100"), this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    for (QLineEdit *edit : {Edit1, Edit2})
        edit->setFixedWidth(80);
    Label6 = new QLabel(QStringLiteral("1.0000"), this);
    Label6->setObjectName(QStringLiteral("Label6"));
    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));

    auto *grid = new QGridLayout;
    grid->setColumnMinimumWidth(0, 16);
    grid->addWidget(new QLabel(QStringLiteral("・スキャナで読み込んだ図面のスケール"), this), 0, 0, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("Scale = １／"), this), 1, 1);
    grid->addWidget(Edit1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("・スキャナの読取り解像度"), this), 2, 0, 1, 4);
    grid->addWidget(Edit2, 3, 2);
    grid->addWidget(new QLabel(QStringLiteral("dpi"), this), 3, 3);
    grid->addWidget(new QLabel(QStringLiteral("計算結果："), this), 4, 1);
    grid->addWidget(Label6, 4, 2);
    grid->setColumnStretch(4, 1);
    grid->setRowMinimumHeight(4, 32);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(Edit1, &QLineEdit::textChanged, this, &TForm5::Recalculate);
    connect(Edit2, &QLineEdit::textChanged, this, &TForm5::Recalculate);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    adjustSize();
    setFixedSize(size());
    CentreOver(*this, owner);
}

QString TForm5::Result() const
{
    return Label6->text();
}

void TForm5::Recalculate()
{
    const std::optional<float> scale = ParseFloat(Edit1->text());
    const std::optional<float> dpi = ParseFloat(Edit2->text());
    if (!scale || !dpi)
        return;
    if (const std::optional<float> magnification = MagnificationForScale(*scale, *dpi))
        Label6->setText(FormatFixed5(*magnification));
}
