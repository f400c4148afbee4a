#pragma once

#include "base/Settings.h"
#include "commands/MainWindowState.h"
#include "image/PictureFormats.h"
#include "scan/ScanState.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class TClipboardTarget;
class TPreviewWindow;
class TSPIs;
class TUserInterface;
class TWindowUserInterface;
struct TScanLabels;

// The main window: every command starts here, and it holds the program's state
// for the whole run (the settings record, the last conversion's result and
// what the window keeps of its commands).
class TForm1 : public QMainWindow
{
    Q_OBJECT

    // First, so that they exist before the state that reports through them.
    std::unique_ptr<TWindowUserInterface> OwnInterface;
    TUserInterface *Interface;
    std::unique_ptr<TClipboardTarget> OwnClipboard;

public:
    // settingsPath names an INI file to use instead of the user's own store
    // (empty: the user's store). Without a user interface of its own choosing
    // the window talks to the user through message boxes and its progress window.
    explicit TForm1(const QString &settingsPath = QString(), TUserInterface *ui = nullptr);
    ~TForm1() override;

    TUserInterface &UI() { return *Interface; }
    // A picture named when the program was started (a file opened from the
    // desktop): opened and converted as if dropped, once the events run.
    void OpenAtStart(const QString &path);
    // Where the clipboard command puts its text: the system clipboard unless
    // replaced (tests catch the text).
    TClipboardTarget *Clipboard;

    // The program state.
    TSettings Settings;
    TScanState Scan;
    // The converted flag, the picked file and the last export's magnification.
    TMainWindowState State;
    // The picture formats the open command offers and reads, for the whole run.
    TPictureFormats Formats;
    // The Susie plug-in manager: created with the window, it searched the Susie
    // plug-in folder and the program's folder once and registered the import
    // plug-ins' formats in Formats; released when the window closes.
    std::unique_ptr<TSPIs> Plugins;

    // Menu commands (the tag tells the shared handlers apart).
    QMenu *FileMenu;           // "ﾌｧｲﾙ(&F)"
    QAction *F1;               // "開く(&O)..."
    QAction *F1_2;             // "倍率(&R)..."
    QAction *F2_1;             // "保存(&S)..."
    QMenu *ClipboardMenu;      // "ｸﾘｯﾌﾟﾎﾞｰﾄﾞへ(&C)"
    QAction *F3_1;             // "座標形式", tag 1
    QAction *F3_2;             // "JWTran形式", tag 2
    QAction *F1_3;             // "ﾌﾟﾚﾋﾞｭｰ(&V)..."
    QAction *F4;               // "終了(&X)"
    QMenu *SettingsMenu;       // "設定(&S)"
    QAction *S1;               // "環境設定(&Y)...", tag 0
    QAction *S2;               // "座標ﾌｧｲﾙ設定(&C)...", tag 1
    QAction *S3;               // "DXF設定(&D)...", tag 2
    QAction *S4;               // "JWC設定(&J)...", tag 3
    QMenu *HelpMenu;           // "ﾍﾙﾌﾟ(&H)"
    QAction *H1;               // "ﾊﾞｰｼﾞｮﾝ情報(&A)..."

    // Buttons sharing the menu commands' handlers.
    QPushButton *OpenButton;   // "ﾌｧｲﾙを開く"
    QPushButton *SaveButton;   // "ﾃﾞｰﾀの保存"
    QPushButton *CalcButton;   // "計算"

    // The magnification edit and the result labels.
    QLineEdit *Edit1;
    QLabel *FileNameLabel;     // under "（ファイル名）"
    QLabel *ModeLabel;         // under "（変換方式）"
    QLabel *CountLabel;        // under "（線数）"
    QLabel *MaxXLabel;         // under "（右上座標）"
    QLabel *MaxYLabel;
    QLabel *MinXLabel;         // under "（左下座標）"
    QLabel *MinYLabel;

    // Handlers.
    void F1Click();                                // open and convert
    // The open command after its dialog, for a chosen or a dropped picture.
    void OpenPicture(const QString &path);
    void PreviewClick();                           // preview window
    void CalcClick();                              // scale calculator
    void F2_1Click();                              // save
    void F3_1Click(const QAction *sender);         // clipboard, by tag
    void SettingsClick(const QAction *sender);     // settings dialog on the tag's page
    void VersionClick();                           // version window
    void Edit1Change();
    // Leaving the magnification edit: an invalid number is refused with the
    // focus kept, a valid one rewritten with five decimals.
    void Edit1Exit();

    // The tag a menu command carries.
    static int Tag(const QAction *action);

    // Tells the preview that the segment list changed: after every conversion,
    // before one refills the list, and whenever anything else changes it.
    void SegmentListChanged();
    // The preview window while it is open, else null.
    QPointer<TPreviewWindow> Preview;

    // Hook for tests: receives each modal dialog the window creates before it is
    // shown (the settings dialog and its page, the calculator, the version window).
    std::function<void(QDialog &dialog)> OnDialogCreated;

protected:
    void closeEvent(QCloseEvent *event) override;
    // A picture file dropped on the window opens as if picked in the open dialog.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void BuildMenus();
    void BuildClient();
    void ShowModeName();
    void SaveSettings();
    // Runs a command; an error that escapes it leaves the window usable again
    // and goes to the top-level error report.
    void RunCommand(const std::function<void()> &command);
    void ShowScanLabels(const TScanLabels &labels);
    int ShowDialog(QDialog &dialog);
    // Opens the preview window, or brings it forward; shown by itself after a
    // conversion it does not take the focus.
    void ShowPreview(bool activate);
    // The one picture file a drag carries, if the open command can read it.
    QString DroppedPicture(const QMimeData *data) const;

    QString SettingsPath;
    bool SettingsSaved = false;
};
