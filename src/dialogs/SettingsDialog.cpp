#include "dialogs/SettingsDialog.h"
#include "base/Messages.h"

#include "base/DecimalText.h"
#include "dialogs/FieldExit.h"
#include "base/Settings.h"
#include "commands/UserInterface.h"
#include "cleanup/CleanupSteps.h"
#include "dialogs/CentreOver.h"
#include "export/DxfLayerName.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include <initializer_list>

namespace {


// Keeps a layer name within the restricted alphabet while it is typed: small
// letters become capitals, anything else is left out.
class TLayerNameValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        pos = static_cast<int>(RestrictLayerName(input.left(pos)).size());
        input = RestrictLayerName(input);
        return Acceptable;
    }
};

QLineEdit *Field(const QString &name, QWidget *parent, int maxLength = 0, int width = 0)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    if (width > 0)
        edit->setFixedWidth(width);
    return edit;
}

QLineEdit *DigitsField(const QString &name, QWidget *parent, int maxLength, int width)
{
    QLineEdit *edit = Field(name, parent, maxLength, width);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
}

QRadioButton *Radio(const QString &name, const QString &text, QWidget *parent)
{
    auto *button = new QRadioButton(text, parent);
    button->setObjectName(name);
    return button;
}

QButtonGroup *Group(QObject *parent, std::initializer_list<QRadioButton *> buttons)
{
    auto *group = new QButtonGroup(parent);
    int id = 1;
    for (QRadioButton *button : buttons)
        group->addButton(button, id++);
    return group;
}

QComboBox *List(const QString &name, const QStringList &items, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->addItems(items);
    return combo;
}

QLabel *Help(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(false);
    return label;
}

// The checked button of a group counted from 1, or `none`.
int Checked(std::initializer_list<QRadioButton *> buttons, int none)
{
    int index = 1;
    for (QRadioButton *button : buttons) {
        if (button->isChecked())
            return index;
        ++index;
    }
    return none;
}

// The stored value of a drop-down list: the selected item plus `base`, or the
// stored value when no item is selected.
int Selected(const QComboBox *combo, int base, int stored)
{
    return combo->currentIndex() < 0 ? stored : combo->currentIndex() + base;
}

void SelectItem(QComboBox *combo, int index)
{
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

QStringList NumberedItems(const QString &word)
{
    QStringList items;
    for (int i = 0; i < 16; ++i)
        items << word + QString::number(i, 16).toUpper();
    return items;
}

} // namespace

TForm2::TForm2(QWidget *owner, TSettings &settings, TUserInterface &ui)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowCloseButtonHint),
      Settings(settings), UI(ui), FieldExit(new TFieldExit(this))
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("設定"));

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->addTab(BuildSystemPage(), QStringLiteral("環境設定"));
    PageControl1->addTab(BuildTextPage(), QStringLiteral("座標ﾌｧｲﾙ設定"));
    PageControl1->addTab(BuildDxfPage(), QStringLiteral("DXFﾌｧｲﾙ設定"));
    PageControl1->addTab(BuildJwcPage(), QStringLiteral("JWCﾌｧｲﾙ設定"));
    PageControl1->addTab(BuildCleanupPage(), QStringLiteral("画像処理"));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    // Clicking Cancel does not leave the field first: nothing is kept anyway.
    CancelButton->setFocusPolicy(Qt::TabFocus);
    for (QPushButton *button : {OKButton, CancelButton})
        button->setMinimumWidth(90);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addLayout(buttons);

    connect(OKButton, &QPushButton::clicked, this, &TForm2::OKClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    for (QLineEdit *separator : {Edit1, Edit2, Edit3, Edit4, Edit5})
        connect(separator, &QLineEdit::textChanged, this, &TForm2::UpdatePreview);
    connect(CheckBox1, &QCheckBox::clicked, this, &TForm2::CheckBox1Click);

    FieldExit->Watch(Edit14, [this] { CheckRatio(Edit14); });
    FieldExit->Watch(Edit15, [this] { CheckRatio(Edit15); });
    FieldExit->Watch(Edit6, [this] { CheckInteger(Edit6); });
    FieldExit->Watch(Edit11, [this] { CheckDigits(Edit11); });
    FieldExit->Watch(Edit12, [this] { CheckDigits(Edit12); });

    FillFromSettings();
    adjustSize();
    setFixedSize(size());
    CentreOver(*this, owner);
}

QWidget *TForm2::BuildSystemPage()
{
    auto *page = new QWidget;
    auto *method = new QGroupBox(QStringLiteral(" 変換方法 "), page);
    RadioButton1 = Radio(QStringLiteral("RadioButton1"), ScanModeName(1), method);
    RadioButton3 = Radio(QStringLiteral("RadioButton3"), ScanModeName(3), method);
    RadioButton2 = Radio(QStringLiteral("RadioButton2"), ScanModeName(2), method);
    auto *methodLayout = new QVBoxLayout(method);
    for (QRadioButton *button : {RadioButton1, RadioButton3, RadioButton2})
        methodLayout->addWidget(button);
    Group(method, {RadioButton1, RadioButton3, RadioButton2});

    auto *ratios = new QGroupBox(QStringLiteral(" スキャナ比率 "), page);
    Edit14 = Field(QStringLiteral("Edit14"), ratios, 0, 100);
    Edit15 = Field(QStringLiteral("Edit15"), ratios, 0, 100);
    auto *ratioLayout = new QGridLayout(ratios);
    ratioLayout->addWidget(new QLabel(QStringLiteral("横方向比率"), ratios), 0, 0);
    ratioLayout->addWidget(Edit14, 0, 1);
    ratioLayout->addWidget(new QLabel(QStringLiteral("縦方向比率"), ratios), 1, 0);
    ratioLayout->addWidget(Edit15, 1, 1);
    ratioLayout->setColumnStretch(2, 1);

    auto *preview = new QGroupBox(QStringLiteral(" ﾌﾟﾚﾋﾞｭｰ "), page);
    CheckBox3 = new QCheckBox(QStringLiteral("変換後にﾌﾟﾚﾋﾞｭｰを表示する"), preview);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
    (new QVBoxLayout(preview))->addWidget(CheckBox3);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(method);
    layout->addWidget(ratios);
    layout->addWidget(preview);
    layout->addStretch();
    return page;
}

QWidget *TForm2::BuildTextPage()
{
    auto *page = new QWidget;
    auto *separators = new QGroupBox(QStringLiteral(" 仕切文字 "), page);
    Edit1 = Field(QStringLiteral("Edit1"), separators, 10, 70);
    Edit2 = Field(QStringLiteral("Edit2"), separators, 3, 34);
    Edit3 = Field(QStringLiteral("Edit3"), separators, 3, 34);
    Edit4 = Field(QStringLiteral("Edit4"), separators, 3, 34);
    Edit5 = Field(QStringLiteral("Edit5"), separators, 10, 70);
    auto *line = new QHBoxLayout;
    line->addWidget(Edit1);
    line->addWidget(new QLabel(QStringLiteral("座標 X1"), separators));
    line->addWidget(Edit2);
    line->addWidget(new QLabel(QStringLiteral("座標 Y1"), separators));
    line->addWidget(Edit3);
    line->addWidget(new QLabel(QStringLiteral("座標 X2"), separators));
    line->addWidget(Edit4);
    line->addWidget(new QLabel(QStringLiteral("座標 Y2"), separators));
    line->addWidget(Edit5);
    line->addStretch();
    PreviewLabel = new QLabel(separators);
    PreviewLabel->setObjectName(QStringLiteral("PreviewLabel"));
    auto *preview = new QHBoxLayout;
    preview->addWidget(new QLabel(QStringLiteral("現在の設定　："), separators));
    preview->addWidget(PreviewLabel, 1);
    auto *separatorLayout = new QVBoxLayout(separators);
    separatorLayout->addWidget(Help(QStringLiteral("※各仕切文字を入れて下さい。"), separators));
    separatorLayout->addWidget(
        Help(QStringLiteral("　先頭・末尾は半角で10文字、その他は半角で３文字までです。"), separators));
    separatorLayout->addLayout(line);
    separatorLayout->addLayout(preview);

    auto *file = new QGroupBox(QStringLiteral(" ﾌｧｲﾙ "), page);
    Edit10 = Field(QStringLiteral("Edit10"), file, 3, 50);
    auto *fileLayout = new QGridLayout(file);
    fileLayout->addWidget(new QLabel(QStringLiteral("ﾌｧｲﾙ拡張子"), file), 0, 0);
    fileLayout->addWidget(Edit10, 0, 1);
    fileLayout->addWidget(Help(QStringLiteral("※\".\"は含めないで下さい。"), file), 1, 0, 1, 3);
    fileLayout->setColumnStretch(2, 1);

    auto *precision = new QGroupBox(QStringLiteral(" 変換精度"), page);
    RadioButton10 = Radio(QStringLiteral("RadioButton10"), QStringLiteral("整数"), precision);
    RadioButton11 = Radio(QStringLiteral("RadioButton11"), QStringLiteral("実数"), precision);
    RadioButton12 = Radio(QStringLiteral("RadioButton12"), QStringLiteral("桁指定"), precision);
    Group(precision, {RadioButton10, RadioButton11, RadioButton12});
    Edit12 = DigitsField(QStringLiteral("Edit12"), precision, 1, 30);
    auto *precisionLayout = new QHBoxLayout(precision);
    for (QRadioButton *button : {RadioButton10, RadioButton11, RadioButton12})
        precisionLayout->addWidget(button);
    precisionLayout->addSpacing(12);
    precisionLayout->addWidget(new QLabel(QStringLiteral("小数点以下"), precision));
    precisionLayout->addWidget(Edit12);
    precisionLayout->addWidget(new QLabel(QStringLiteral("桁"), precision));
    precisionLayout->addStretch();

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(separators);
    layout->addWidget(file);
    layout->addWidget(precision);
    layout->addStretch();
    return page;
}

QWidget *TForm2::BuildDxfPage()
{
    auto *page = new QWidget;
    auto *lines = new QGroupBox(QStringLiteral(" 線設定 "), page);
    Edit6 = DigitsField(QStringLiteral("Edit6"), lines, 0, 60);
    Edit7 = Field(QStringLiteral("Edit7"), lines, 0, 220);
    CheckBox1 = new QCheckBox(QStringLiteral("文字規制"), lines);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    RadioButton5 = Radio(QStringLiteral("RadioButton5"), QStringLiteral("実線"), lines);
    RadioButton6 = Radio(QStringLiteral("RadioButton6"), QStringLiteral("点線"), lines);
    Group(lines, {RadioButton5, RadioButton6});
    auto *lineLayout = new QGridLayout(lines);
    lineLayout->addWidget(new QLabel(QStringLiteral("色番号"), lines), 0, 0);
    lineLayout->addWidget(Edit6, 0, 1, Qt::AlignLeft);
    lineLayout->addWidget(new QLabel(QStringLiteral("レイヤ名"), lines), 1, 0);
    lineLayout->addWidget(Edit7, 1, 1);
    lineLayout->addWidget(CheckBox1, 1, 2);
    lineLayout->addWidget(new QLabel(QStringLiteral("線種"), lines), 2, 0);
    auto *types = new QHBoxLayout;
    types->addWidget(RadioButton5);
    types->addWidget(RadioButton6);
    types->addStretch();
    lineLayout->addLayout(types, 2, 1, 1, 2);
    lineLayout->setColumnStretch(3, 1);

    auto *conversion = new QGroupBox(QStringLiteral(" 変換"), page);
    RadioButton7 = Radio(QStringLiteral("RadioButton7"), QStringLiteral("整数"), conversion);
    RadioButton8 = Radio(QStringLiteral("RadioButton8"), QStringLiteral("実数"), conversion);
    RadioButton9 = Radio(QStringLiteral("RadioButton9"), QStringLiteral("桁指定"), conversion);
    Group(conversion, {RadioButton7, RadioButton8, RadioButton9});
    Edit11 = DigitsField(QStringLiteral("Edit11"), conversion, 1, 30);
    CheckBox2 = new QCheckBox(QStringLiteral("dxf.hedﾌｧｲﾙを使う。"), conversion);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    auto *precision = new QHBoxLayout;
    precision->addWidget(new QLabel(QStringLiteral("精度"), conversion));
    for (QRadioButton *button : {RadioButton7, RadioButton8, RadioButton9})
        precision->addWidget(button);
    precision->addSpacing(12);
    precision->addWidget(new QLabel(QStringLiteral("小数点以下"), conversion));
    precision->addWidget(Edit11);
    precision->addWidget(new QLabel(QStringLiteral("桁"), conversion));
    precision->addStretch();
    auto *conversionLayout = new QVBoxLayout(conversion);
    conversionLayout->addLayout(precision);
    conversionLayout->addWidget(CheckBox2);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(lines);
    layout->addWidget(conversion);
    layout->addStretch();
    return page;
}

QWidget *TForm2::BuildJwcPage()
{
    auto *page = new QWidget;
    auto *lines = new QGroupBox(QStringLiteral(" 線設定 "), page);
    ComboBox1 = List(QStringLiteral("ComboBox1"),
                     {QStringLiteral("ﾍﾟﾝ 1(水)"), QStringLiteral("ﾍﾟﾝ 2(白)"), QStringLiteral("ﾍﾟﾝ 3(緑)"),
                      QStringLiteral("ﾍﾟﾝ 4(黄)"), QStringLiteral("ﾍﾟﾝ 5(紫)"), QStringLiteral("ﾍﾟﾝ 6(青)")},
                     lines);
    ComboBox2 = List(QStringLiteral("ComboBox2"),
                     {QStringLiteral("実　線"), QStringLiteral("点　線 1"), QStringLiteral("点　線 2"),
                      QStringLiteral("点　線 3"), QStringLiteral("一点鎖 1"), QStringLiteral("一点鎖 2"),
                      QStringLiteral("二点鎖 1"), QStringLiteral("二点鎖 2"), QStringLiteral("補助線")},
                     lines);
    ComboBox3 = List(QStringLiteral("ComboBox3"), NumberedItems(QStringLiteral("ｸﾞﾙｰﾌﾟ ")), lines);
    ComboBox4 = List(QStringLiteral("ComboBox4"), NumberedItems(QStringLiteral("ﾚｲﾔ ")), lines);
    Edit8 = Field(QStringLiteral("Edit8"), lines, 14, 150);
    Edit9 = Field(QStringLiteral("Edit9"), lines, 8, 150);

    auto *grid = new QGridLayout(lines);
    grid->addWidget(new QLabel(QStringLiteral("線色"), lines), 0, 0);
    grid->addWidget(ComboBox1, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("線種"), lines), 1, 0);
    grid->addWidget(ComboBox2, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("グループ"), lines), 2, 0);
    grid->addWidget(ComboBox3, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("グループ名"), lines), 2, 2);
    grid->addWidget(Edit8, 2, 3);
    grid->addWidget(new QLabel(QStringLiteral("レイヤ"), lines), 3, 0);
    grid->addWidget(ComboBox4, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("レイヤ名"), lines), 3, 2);
    grid->addWidget(Edit9, 3, 3);
    grid->addWidget(Help(QStringLiteral("※線の色はJW_CADの設定により異なります。"), lines), 4, 0, 1, 4);
    grid->setColumnStretch(4, 1);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(lines);
    layout->addStretch();
    return page;
}

QWidget *TForm2::BuildCleanupPage()
{
    auto *page = new QWidget;
    auto *group = new QGroupBox(QStringLiteral(" 実際のスキャン画像の処理 "), page);
    ThresholdEdit = Field(QStringLiteral("ThresholdEdit"), group, 4, 60);
    DespeckleEdit = DigitsField(QStringLiteral("DespeckleEdit"), group, 4, 60);
    CenterlineCheckBox = new QCheckBox(QStringLiteral("中心線にする"), group);
    CenterlineCheckBox->setObjectName(QStringLiteral("CenterlineCheckBox"));
    MergeEdit = Field(QStringLiteral("MergeEdit"), group, 6, 60);
    ArcsEdit = Field(QStringLiteral("ArcsEdit"), group, 6, 60);
    SnapEdit = Field(QStringLiteral("SnapEdit"), group, 6, 60);
    DeskewCheckBox = new QCheckBox(QStringLiteral("傾きを直す"), group);
    DeskewCheckBox->setObjectName(QStringLiteral("DeskewCheckBox"));
    LinetypesCheckBox = new QCheckBox(QStringLiteral("破線・一点鎖線を線種にする"), group);
    LinetypesCheckBox->setObjectName(QStringLiteral("LinetypesCheckBox"));
    WidthsEdit = Field(QStringLiteral("WidthsEdit"), group, 40, 100);
    FillsCheckBox = new QCheckBox(QStringLiteral("塗りつぶしを残す"), group);
    FillsCheckBox->setObjectName(QStringLiteral("FillsCheckBox"));
    TextLayerCheckBox = new QCheckBox(QStringLiteral("文字を別の画層にする"), group);
    TextLayerCheckBox->setObjectName(QStringLiteral("TextLayerCheckBox"));
    OcrEdit = Field(QStringLiteral("OcrEdit"), group, 40, 100);

    auto *grid = new QGridLayout(group);
    int row = 0;
    auto setting = [&](const QString &label, QWidget *field, const QString &help) {
        if (!label.isEmpty())
            grid->addWidget(new QLabel(label, group), row, 0);
        grid->addWidget(field, row, label.isEmpty() ? 0 : 1, 1, label.isEmpty() ? 2 : 1);
        grid->addWidget(Help(help, group), row + 1, 0, 1, 3);
        row += 2;
    };
    setting(QStringLiteral("しきい値"), ThresholdEdit,
            QStringLiteral("※この明るさ(0～255)より暗い画素を線とします。autoで自動。空欄は真っ黒だけ。"));
    setting(QStringLiteral("点の除去"), DespeckleEdit,
            QStringLiteral("※この画素数以下の黒い点を消し、線の中の白い穴を埋めます。0で行いません。"));
    setting(QString(), CenterlineCheckBox,
            QStringLiteral("※太い線を幅１画素の中心線にしてから変換します。"));
    setting(QStringLiteral("直線にまとめる"), MergeEdit,
            QStringLiteral("※つながる線分を、この画素数以内のずれで最少の直線にします。空欄か0で行いません。"));
    setting(QStringLiteral("円弧と円"), ArcsEdit,
            QStringLiteral("※中心線を、この画素数以内のずれで最少の直線・円弧・円にします。空欄か0で行いません。"));
    setting(QStringLiteral("角度と端点をそろえる"), SnapEdit,
            QStringLiteral("※この角度(度)以内の線を水平・垂直にし、近い端点と交点をつなげます。空欄か0で行いません。"));
    setting(QString(), DeskewCheckBox,
            QStringLiteral("※画像の傾きを見つけ、座標を回して直します。"));
    setting(QString(), LinetypesCheckBox,
            QStringLiteral("※一直線・一つの円の上に規則正しく並ぶ破線・一点鎖線・二点鎖線・点線を、線種付きの一本の線・円弧にします。"));
    setting(QStringLiteral("線幅で画層を分ける"), WidthsEdit,
            QStringLiteral("※線の太さを測り、太さの組ごとに画層「線幅0.50」などに分けます。autoで組を自動、"
                           "0.25,0.5のように書くとその太さ(倍率をかけた図面の単位)。空欄で行いません。"));
    setting(QString(), FillsCheckBox,
            QStringLiteral("※黒丸や矢印の先などの塗りつぶしを細線にせず、DXFでは画層「塗り」の塗りにします。"));
    setting(QString(), TextLayerCheckBox,
            QStringLiteral("※文字を図形と分けて線にし、DXFでは画層「文字」に書きます。"));
    setting(QStringLiteral("文字認識の言語"), OcrEdit,
            QStringLiteral("※jpn+engのように書くと、文字を読み取ってDXFの文字にします。空欄で行いません。"));
    grid->setColumnStretch(2, 1);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch();
    return page;
}

void TForm2::FillFromSettings()
{
    const TSettings &s = Settings;
    (s.PixelScanMode == 2 ? RadioButton2 : s.PixelScanMode == 3 ? RadioButton3 : RadioButton1)
        ->setChecked(true);
    Edit14->setText(FormatFixed5(s.Xrate));
    Edit15->setText(FormatFixed5(s.Yrate));
    CheckBox3->setChecked(s.AutoPreview);

    Edit1->setText(s.Divide1);
    Edit2->setText(s.Divide2);
    Edit3->setText(s.Divide3);
    Edit4->setText(s.Divide4);
    Edit5->setText(s.Divide5);
    UpdatePreview();
    Edit10->setText(s.FileExtention);
    (s.TxtValueMode == 1 ? RadioButton10 : s.TxtValueMode == 3 ? RadioButton12 : RadioButton11)
        ->setChecked(true);
    Edit12->setText(QString::number(s.TxtValueFigure));

    Edit6->setText(QString::number(s.DxfPenColor));
    CheckBox1->setChecked(s.R12opt);
    if (s.R12opt) {
        Edit7->setMaxLength(RestrictedLayerNameLength);
        Edit7->setText(OpeningLayerName(s.DxfSaveLayer));
        Edit7->setValidator(new TLayerNameValidator(Edit7));
    } else {
        Edit7->setText(s.DxfSaveLayer);
    }
    (s.DxfLineType == 2 ? RadioButton6 : RadioButton5)->setChecked(true);
    (s.DxfValueMode == 1 ? RadioButton7 : s.DxfValueMode == 3 ? RadioButton9 : RadioButton8)
        ->setChecked(true);
    Edit11->setText(QString::number(s.DxfValueFigure));
    CheckBox2->setChecked(s.DxfFileUse);

    SelectItem(ComboBox1, s.JwcPenColor - 1);
    SelectItem(ComboBox2, s.JwcLineType - 1);
    SelectItem(ComboBox3, s.SaveGroup);
    SelectItem(ComboBox4, s.JwcSaveLayer);
    Edit8->setText(s.SaveGroupName);
    Edit9->setText(s.SaveLayerName);

    ThresholdEdit->setText(s.CleanupThreshold);
    DespeckleEdit->setText(QString::number(s.CleanupDespeckle));
    CenterlineCheckBox->setChecked(s.CleanupCenterline);
    MergeEdit->setText(s.CleanupMerge);
    ArcsEdit->setText(s.CleanupArcs);
    SnapEdit->setText(s.CleanupSnap);
    DeskewCheckBox->setChecked(s.CleanupDeskew);
    LinetypesCheckBox->setChecked(s.CleanupLinetypes);
    WidthsEdit->setText(s.CleanupWidths);
    FillsCheckBox->setChecked(s.CleanupFills);
    TextLayerCheckBox->setChecked(s.CleanupTextLayer);
    OcrEdit->setText(s.CleanupOcr);
}

void TForm2::SelectPage(int tag)
{
    PageControl1->setCurrentIndex(tag >= 1 && tag <= 3 ? tag : 0);
}

void TForm2::UpdatePreview()
{
    PreviewLabel->setText(Edit1->text() + QStringLiteral("100") + Edit2->text() + QStringLiteral("100")
                          + Edit3->text() + QStringLiteral("200") + Edit4->text()
                          + QStringLiteral("200") + Edit5->text());
}

void TForm2::CheckBox1Click()
{
    if (CheckBox1->isChecked()) {
        Edit7->setText(RestrictLayerName(Edit7->text()));
        Edit7->setMaxLength(RestrictedLayerNameLength);
        if (!Edit7->validator())
            Edit7->setValidator(new TLayerNameValidator(Edit7));
    } else {
        delete Edit7->validator();
        Edit7->setValidator(nullptr);
        Edit7->setMaxLength(32767);
    }
}

void TForm2::Refuse(QLineEdit *field, const QString &message)
{
    QApplication::beep();
    UI.ShowMessage(message);
    field->setFocus(Qt::OtherFocusReason);
}

bool TForm2::CheckRatio(QLineEdit *field)
{
    const std::optional<float> value = ParseFloat(field->text());
    if (!value) {
        Refuse(field, Messages::InvalidNumber());
        return false;
    }
    field->setText(FormatFixed5(*value));
    return true;
}

bool TForm2::CheckInteger(QLineEdit *field)
{
    if (!ParseInteger(field->text())) {
        Refuse(field, Messages::InvalidInteger());
        return false;
    }
    return true;
}

bool TForm2::CheckDigits(QLineEdit *field)
{
    if (!ParseInteger(field->text())) {
        Refuse(field, Messages::InvalidNumber());
        return false;
    }
    return true;
}

void TForm2::OKClick()
{
    // Every numeric field must hold its number before anything is stored.
    for (QLineEdit *ratio : {Edit14, Edit15})
        if (!ParseFloat(ratio->text()))
            return Refuse(ratio, Messages::InvalidNumber());
    if (!ParseInteger(Edit6->text()))
        return Refuse(Edit6, Messages::InvalidInteger());
    for (QLineEdit *digits : {Edit12, Edit11})
        if (!ParseInteger(digits->text()))
            return Refuse(digits, Messages::InvalidNumber());
    if (!TCleanupOptions::ParseThreshold(ThresholdEdit->text(), TCleanupOptions{}))
        return Refuse(ThresholdEdit, Messages::InvalidNumber());
    const std::optional<int> despeckle = TCleanupOptions::ParseDespeckle(DespeckleEdit->text());
    if (!despeckle)
        return Refuse(DespeckleEdit, Messages::InvalidInteger());
    if (!TCleanupOptions::ParseMerge(MergeEdit->text()))
        return Refuse(MergeEdit, Messages::InvalidNumber());
    if (!TCleanupOptions::ParseMerge(ArcsEdit->text()))
        return Refuse(ArcsEdit, Messages::InvalidNumber());
    if (!TCleanupOptions::ParseSnap(SnapEdit->text()))
        return Refuse(SnapEdit, Messages::InvalidNumber());
    if (!TCleanupOptions::ParseWidths(WidthsEdit->text(), TCleanupOptions{}))
        return Refuse(WidthsEdit, QStringLiteral("線幅は auto か 0.25,0.5 のように書いてください。"));
    const std::optional<QString> ocr = TCleanupOptions::ParseOcr(OcrEdit->text());
    if (!ocr)
        return Refuse(OcrEdit, QStringLiteral("文字認識の言語は jpn+eng のように書いてください。"));

    TSettings &s = Settings;
    s.PixelScanMode = RadioButton2->isChecked() ? 2 : RadioButton3->isChecked() ? 3 : 1;
    s.Xrate = *ParseFloat(Edit14->text());
    s.Yrate = *ParseFloat(Edit15->text());
    s.AutoPreview = CheckBox3->isChecked();

    s.Divide1 = Edit1->text();
    s.Divide2 = Edit2->text();
    s.Divide3 = Edit3->text();
    s.Divide4 = Edit4->text();
    s.Divide5 = Edit5->text();
    s.FileExtention = Edit10->text();
    s.TxtValueMode = Checked({RadioButton10, RadioButton11, RadioButton12}, 2);
    s.TxtValueFigure = *ParseInteger(Edit12->text());

    s.DxfPenColor = *ParseInteger(Edit6->text());
    s.DxfSaveLayer = Edit7->text();
    s.R12opt = CheckBox1->isChecked();
    s.DxfLineType = Checked({RadioButton5, RadioButton6}, 1);
    s.DxfValueMode = Checked({RadioButton7, RadioButton8, RadioButton9}, 2);
    s.DxfValueFigure = *ParseInteger(Edit11->text());
    s.DxfFileUse = CheckBox2->isChecked();

    s.JwcPenColor = Selected(ComboBox1, 1, s.JwcPenColor);
    s.JwcLineType = Selected(ComboBox2, 1, s.JwcLineType);
    s.SaveGroup = Selected(ComboBox3, 0, s.SaveGroup);
    s.JwcSaveLayer = Selected(ComboBox4, 0, s.JwcSaveLayer);
    s.SaveGroupName = Edit8->text();
    s.SaveLayerName = Edit9->text();

    s.CleanupThreshold = ThresholdEdit->text().trimmed().toLower();
    s.CleanupDespeckle = *despeckle;
    s.CleanupCenterline = CenterlineCheckBox->isChecked();
    s.CleanupMerge = MergeEdit->text().trimmed();
    s.CleanupArcs = ArcsEdit->text().trimmed();
    s.CleanupSnap = SnapEdit->text().trimmed();
    s.CleanupDeskew = DeskewCheckBox->isChecked();
    s.CleanupLinetypes = LinetypesCheckBox->isChecked();
    s.CleanupWidths = WidthsEdit->text().trimmed();
    s.CleanupFills = FillsCheckBox->isChecked();
    s.CleanupTextLayer = TextLayerCheckBox->isChecked();
    s.CleanupOcr = *ocr;
    accept();
}
