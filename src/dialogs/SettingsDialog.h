#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TFieldExit;
class TUserInterface;
struct TSettings;

// The settings dialog: every option of the settings record except the window
// position, SaveMode and the two folders, on five pages. It fills its controls
// from the record when it is created and stores them back on OK only.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    // Centred over the owner; messages go through `ui`.
    TForm2(QWidget *owner, TSettings &settings, TUserInterface &ui);

    // The page a menu command's tag opens: 1, 2 or 3 that page, anything else 0.
    void SelectPage(int tag);

    QTabWidget *PageControl1;
    // Page 0, "環境設定".
    QRadioButton *RadioButton1;   // "ライン"
    QRadioButton *RadioButton3;   // "ライン２"
    QRadioButton *RadioButton2;   // "ボックス"
    QLineEdit *Edit14;            // "横方向比率"
    QLineEdit *Edit15;            // "縦方向比率"
    QCheckBox *CheckBox3;         // "変換後にﾌﾟﾚﾋﾞｭｰを表示する"
    // Page 1, "座標ﾌｧｲﾙ設定".
    QLineEdit *Edit1;             // separators Divide1 .. Divide5
    QLineEdit *Edit2;
    QLineEdit *Edit3;
    QLineEdit *Edit4;
    QLineEdit *Edit5;
    QLabel *PreviewLabel;         // after "現在の設定　："
    QLineEdit *Edit10;            // "ﾌｧｲﾙ拡張子"
    QRadioButton *RadioButton10;  // "整数"
    QRadioButton *RadioButton11;  // "実数"
    QRadioButton *RadioButton12;  // "桁指定"
    QLineEdit *Edit12;            // decimals of the coordinate text
    // Page 2, "DXFﾌｧｲﾙ設定".
    QLineEdit *Edit6;             // "色番号"
    QLineEdit *Edit7;             // "レイヤ名"
    QCheckBox *CheckBox1;         // "文字規制"
    QRadioButton *RadioButton5;   // "実線"
    QRadioButton *RadioButton6;   // "点線"
    QRadioButton *RadioButton7;   // "整数"
    QRadioButton *RadioButton8;   // "実数"
    QRadioButton *RadioButton9;   // "桁指定"
    QLineEdit *Edit11;            // decimals of DXF coordinates
    QCheckBox *CheckBox2;         // "dxf.hedﾌｧｲﾙを使う。"
    // Page 3, "JWCﾌｧｲﾙ設定".
    QComboBox *ComboBox1;         // "線色", pens 1..6
    QComboBox *ComboBox2;         // "線種", line types 1..9
    QComboBox *ComboBox3;         // "グループ", 0..F
    QComboBox *ComboBox4;         // "レイヤ", 0..F
    QLineEdit *Edit8;             // "グループ名"
    QLineEdit *Edit9;             // "レイヤ名"
    // Page 4, "画像処理" (clean-up of real scans).
    QLineEdit *ThresholdEdit;     // "しきい値": empty, "auto" or 0..255
    QLineEdit *DespeckleEdit;     // "点の除去", pixels
    QCheckBox *CenterlineCheckBox;  // "中心線にする"
    QLineEdit *MergeEdit;         // "直線にまとめる", tolerance in pixels
    QCheckBox *TextLayerCheckBox; // "文字を別の画層にする"
    QLineEdit *OcrEdit;           // "文字認識の言語", Tesseract languages
    QLineEdit *ArcsEdit;          // "円弧と円", tolerance in pixels
    QLineEdit *SnapEdit;          // "角度と端点をそろえる", degrees
    QCheckBox *DeskewCheckBox;    // "傾きを直す"
    QCheckBox *LinetypesCheckBox; // "破線・一点鎖線を線種にする"
    QLineEdit *WidthsEdit;        // "線幅で画層を分ける": empty, "auto" or widths
    QCheckBox *FillsCheckBox;     // "塗りつぶしを残す"

    QPushButton *OKButton;
    QPushButton *CancelButton;

private:
    QWidget *BuildSystemPage();
    QWidget *BuildTextPage();
    QWidget *BuildDxfPage();
    QWidget *BuildJwcPage();
    QWidget *BuildCleanupPage();
    void FillFromSettings();
    void UpdatePreview();
    void CheckBox1Click();
    // The checks made when a numeric field is left; false after the message.
    bool CheckRatio(QLineEdit *field);
    bool CheckInteger(QLineEdit *field);
    bool CheckDigits(QLineEdit *field);
    void Refuse(QLineEdit *field, const QString &message);
    // Stores every control into the record, unless a numeric field does not
    // parse (then its message is shown, the focus goes there and nothing is stored).
    void OKClick();

    TSettings &Settings;
    TUserInterface &UI;
    TFieldExit *FieldExit;
};
