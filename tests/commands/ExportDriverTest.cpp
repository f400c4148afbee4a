#include "export/ExportFixture.h"

#include "base/Errors.h"
#include "commands/ExportDriver.h"
#include "scan/ScanState.h"

namespace {

class TCapturedClipboard : public TClipboardTarget
{
public:
    bool Place(const QString &, const QByteArray &cp932) override
    {
        Texts << cp932;
        return Accept;
    }
    QList<QByteArray> Texts;
    bool Accept = true;
};

const QString kFilter = QStringLiteral("座標ﾌｧｲﾙ(*.txt)|*.txt|DXFﾌｧｲﾙ(*.dxf)|*.dxf|JW_CADﾌｧｲﾙ(*.jwc)|*.jwc");
const QString kZeroQuestion = QStringLiteral("確認|線の本数が０です。\n\r保存しますか。");

class ExportDriver : public TExportFixture
{
protected:
    ExportDriver() : Driver(State, Window, Settings, UI, Clipboard, Dir.path() + "/") {}

    void Convert(std::initializer_list<TSegment> segments)
    {
        ASSERT_TRUE(State.ResetSegments());
        State.ImageHeight = 0;
        for (const TSegment &s : segments)
            State.AddSegment(s.X1, -s.Y1, s.X2, -s.Y2);
        State.MaxX = 100;
        State.MaxY = 50;
        Window.DataConverted = true;
        Window.SourceFileName = QStringLiteral("/pictures/plan.bmp");
    }

    TScanState State;
    TMainWindowState Window;
    TCapturedClipboard Clipboard;
    TExportDriver Driver;
};

TEST_F(ExportDriver, TheMagnificationIsCheckedBeforeTheConvertedFlag)
{
    EXPECT_EQ(Driver.SaveCommand("abc"), TExportOutcome::InvalidMagnification);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("数値が無効です。")});
    EXPECT_EQ(Window.Magnification, 0);
    EXPECT_EQ(Driver.CopyCommand(1, ""), TExportOutcome::InvalidMagnification);

    UI.Messages.clear();
    EXPECT_EQ(Driver.SaveCommand(" 1.5 "), TExportOutcome::NotConverted);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("ファイルが開いてません。")});
    EXPECT_EQ(Window.Magnification, 1.5f);
    EXPECT_EQ(Driver.CopyCommand(2, "2"), TExportOutcome::NotConverted);
    EXPECT_EQ(Window.Magnification, 2.0f);
    EXPECT_TRUE(UI.SaveRequests.empty());
    EXPECT_TRUE(Clipboard.Texts.isEmpty());
    EXPECT_EQ(UI.ProgressShown, 0);
}

TEST_F(ExportDriver, AMagnificationThatCarriesTheDrawingOutOfAFloatIsInvalid)
{
    Convert({{0, 0, 10, 5}});
    Settings.Xrate = 3e38f;
    for (const char *magnification : {"1", "-2"}) {
        UI.Messages.clear();
        EXPECT_EQ(Driver.SaveCommand(magnification), TExportOutcome::InvalidMagnification);
        EXPECT_EQ(Driver.CopyCommand(2, magnification), TExportOutcome::InvalidMagnification);
        EXPECT_EQ(UI.Messages, QStringList(2, QStringLiteral("数値が無効です。")));
    }
    EXPECT_TRUE(UI.SaveRequests.empty());
    EXPECT_TRUE(Clipboard.Texts.isEmpty());
    // 3e38 x 100 pixels no; 3e36 x 100 still a float.
    Settings.Xrate = 3e36f;
    EXPECT_EQ(Driver.CopyCommand(2, "1"), TExportOutcome::Done);
}

TEST_F(ExportDriver, ZeroSegmentsAreSavedOnlyAfterYes)
{
    Convert({});
    UI.Answer = false;
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Declined);
    EXPECT_EQ(UI.Questions, QStringList{kZeroQuestion});
    EXPECT_TRUE(UI.SaveRequests.empty());
    EXPECT_EQ(Driver.CopyCommand(1, "1"), TExportOutcome::Declined);
    EXPECT_TRUE(Clipboard.Texts.isEmpty());

    UI.Answer = true;
    UI.SaveAnswer = Path("empty.txt");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Done);
    EXPECT_EQ(Read("empty.txt"), QByteArray());
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("保存が終了しました。")});
    EXPECT_EQ(Driver.CopyCommand(1, "1"), TExportOutcome::Done);
    EXPECT_EQ(Clipboard.Texts, QList<QByteArray>{QByteArray()});
    EXPECT_EQ(UI.Questions.size(), 4);
}

TEST_F(ExportDriver, TheDialogIsPresetFromSaveMode)
{
    Convert({{0, 0, 10, 5}});
    const struct
    {
        int Mode;
        const char *Name;
        const char *Extension;
        int Index;
    } cases[] = {{1, "plan.txt", "txt", 1}, {2, "plan.dxf", "dxf", 2}, {3, "plan.jwc", "jwc", 3},
                 {0, "plan.txt", "txt", 1}, {9, "plan.txt", "txt", 1}};
    for (const auto &c : cases) {
        Settings.SaveMode = c.Mode;
        EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Cancelled);
        const TFileDialogRequest &request = UI.SaveRequests.back();
        EXPECT_EQ(request.FileName, c.Name) << c.Mode;
        EXPECT_EQ(request.DefaultExtension, c.Extension) << c.Mode;
        EXPECT_EQ(request.FilterIndex, c.Index) << c.Mode;
        EXPECT_EQ(request.Filter, kFilter);
        EXPECT_EQ(Settings.SaveMode, c.Mode);  // a cancelled dialog changes nothing
    }
    Settings.SaveMode = 1;
    Settings.FileExtention = "csv";
    Window.SourceFileName = QStringLiteral("/pictures/scan");
    Driver.SaveCommand("1");
    EXPECT_EQ(UI.SaveRequests.back().FileName, "scan.csv");
    EXPECT_EQ(UI.SaveRequests.back().DefaultExtension, "csv");
    EXPECT_EQ(UI.SaveRequests.back().Filter,
              QStringLiteral("座標ﾌｧｲﾙ(*.csv)|*.csv|DXFﾌｧｲﾙ(*.dxf)|*.dxf|JW_CADﾌｧｲﾙ(*.jwc)|*.jwc"));
    EXPECT_EQ(UI.ProgressShown, 0);
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(ExportDriver, TheDialogStartsInSaveDirOrElseTheProgramFolder)
{
    Convert({{0, 0, 10, 5}});
    QDir(Dir.path()).mkdir("drawings");
    Settings.SaveDir = Path("drawings");
    Driver.SaveCommand("1");
    EXPECT_EQ(UI.SaveRequests.back().Folder, Path("drawings"));
    Settings.SaveDir = Path("gone");
    Driver.SaveCommand("1");
    EXPECT_EQ(UI.SaveRequests.back().Folder, Dir.path() + "/");
    Settings.SaveDir.clear();
    Driver.SaveCommand("1");
    EXPECT_EQ(UI.SaveRequests.back().Folder, Dir.path() + "/");
}

TEST_F(ExportDriver, TheFormatComesFromTheChosenExtensionAlone)
{
    Convert({{0, 0, 10, 5}});
    QDir(Dir.path()).mkdir("out");
    UI.SaveAnswer = Path("out/plan.Dxf");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Done);
    EXPECT_TRUE(Read("out/plan.dxf").startsWith("  0\r\nSECTION\r\n"));
    EXPECT_EQ(Settings.SaveMode, 2);
    EXPECT_EQ(Settings.SaveDir, QDir::toNativeSeparators(Path("out")));
    EXPECT_EQ(UI.ProgressCaption, QStringLiteral("保存中・・・"));
    EXPECT_EQ(UI.ProgressLabel, QStringLiteral("plan.DxfをDXF形式で保存中"));
    EXPECT_FALSE(UI.CancelVisible);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("保存が終了しました。")});

    // The next save proposes DXF, though the DXF filter does not decide.
    UI.SaveAnswer = Path("out/plan.abc");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Done);
    EXPECT_EQ(UI.SaveRequests.back().FileName, "plan.dxf");
    EXPECT_EQ(UI.SaveRequests.back().FilterIndex, 2);
    EXPECT_EQ(Settings.SaveMode, 1);
    EXPECT_EQ(Read("out/plan.txt"), "0 0 10 5\r\n");
    EXPECT_FALSE(Exists("out/plan.abc"));
    EXPECT_EQ(UI.ProgressLabel, QStringLiteral("plan.abcをtxt形式で保存中"));

    UI.SaveAnswer = Path("out/plan.JWC");
    EXPECT_EQ(Driver.SaveCommand("2"), TExportOutcome::Done);
    EXPECT_EQ(Settings.SaveMode, 3);
    EXPECT_EQ(Read("out/plan.jwc").size(), 4693 + 22);
    EXPECT_EQ(UI.ProgressLabel, QStringLiteral("plan.JWCをJWC形式で保存中"));

    UI.SaveAnswer = Path("out/noextension");
    EXPECT_EQ(Driver.SaveCommand("0.5"), TExportOutcome::Done);
    EXPECT_EQ(Settings.SaveMode, 1);
    EXPECT_EQ(Read("out/noextension.txt"), "0 0 5 2.5\r\n");
}

TEST_F(ExportDriver, TheMainWindowIsDisabledWhileWritingAndAlwaysRestored)
{
    std::vector<TSegment> many(250, TSegment{1, 2, 3, 4});
    Convert({});
    for (const TSegment &s : many)
        State.AddSegment(s.X1, -s.Y1, s.X2, -s.Y2);
    QStringList seen;
    UI.OnProcessMessages = [&] {
        seen << QStringLiteral("%1 %2 %3").arg(UI.MainWindowEnabled).arg(UI.ProgressOpen).arg(UI.BusyCursor);
    };
    UI.SaveAnswer = Path("plan.txt");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Done);
    // First the pump before the window goes busy, then one per hundred segments.
    EXPECT_EQ(seen, QStringList({"1 0 0", "0 1 1", "0 1 1"}));
    EXPECT_TRUE(UI.MainWindowEnabled);
    EXPECT_FALSE(UI.ProgressOpen);
    EXPECT_FALSE(UI.BusyCursor);
    EXPECT_EQ(UI.ProgressMaximum, 2);
    EXPECT_EQ(UI.ProgressPosition, 2);
}

// The text of the error that escapes a save command, or "" when none does.
QString EscapingError(TExportDriver &driver)
{
    try {
        driver.SaveCommand("1");
    } catch (const ETrazbitError &error) {
        return error.Message();
    }
    return QString();
}

TEST_F(ExportDriver, AFileThatCannotBeCreatedEscapesWithItsNameToTheTopLevelReport)
{
    Convert({{0, 0, 10, 5}});
    const QString before = Settings.SaveDir = Path("start");
    UI.SaveAnswer = Path("missing/plan.txt");
    const QString error = EscapingError(Driver);
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(Path("missing/plan.txt")))) << error.toStdString();
    EXPECT_TRUE(UI.Messages.isEmpty());
    EXPECT_TRUE(UI.MainWindowEnabled);
    EXPECT_FALSE(UI.ProgressOpen);
    EXPECT_FALSE(UI.BusyCursor);
    EXPECT_EQ(Settings.SaveDir, before);

    UI.Messages.clear();
    UI.SaveAnswer = Path("missing/plan.dxf");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Failed);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("保存できませんでした。")});
    UI.Messages.clear();
    UI.SaveAnswer = Path("missing/plan.jwc");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Failed);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("保存ができませんでした。")});
}

TEST_F(ExportDriver, AMissingHeaderFileStopsTheDxfSaveWithItsOwnMessage)
{
    Convert({{0, 0, 10, 5}});
    Settings.DxfFileUse = true;
    UI.SaveAnswer = Path("plan.dxf");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Failed);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("dxf.hedファイルが見つかりません。")});
    EXPECT_FALSE(Exists("plan.dxf"));
    EXPECT_TRUE(UI.MainWindowEnabled);

    // A short header file reaches the report with its reason; no file.
    UI.Messages.clear();
    Write("dxf.hed", "  0\r\nSECTION\r\n");
    EXPECT_TRUE(EscapingError(Driver).startsWith(QStringLiteral("dxf.hedファイルの行数が足りません")));
    EXPECT_TRUE(UI.Messages.isEmpty());
    EXPECT_FALSE(UI.ProgressOpen);
    EXPECT_FALSE(Exists("plan.dxf"));
}

TEST_F(ExportDriver, AFileOtherThanTheChosenOneIsReplacedOnlyAfterAsking)
{
    Convert({{0, 0, 10, 5}});
    Settings.SaveMode = 3;
    Write("plan.txt", "keep me");
    UI.SaveAnswer = Path("plan.dat");
    UI.Answer = false;
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Cancelled);
    EXPECT_EQ(UI.Questions, QStringList{QStringLiteral("確認|plan.txtは既に存在します。\n\r上書きしますか。")});
    EXPECT_EQ(Read("plan.txt"), "keep me");
    EXPECT_EQ(Settings.SaveMode, 3);
    EXPECT_EQ(UI.ProgressShown, 0);

    UI.Answer = true;
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Done);
    EXPECT_EQ(Read("plan.txt"), "0 0 10 5\r\n");
    EXPECT_EQ(UI.Questions.size(), 2);

    // The chosen name itself was asked about by the dialog; no second question.
    UI.SaveAnswer = Path("plan.txt");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Done);
    // Nor when nothing of the written name exists yet.
    UI.SaveAnswer = Path("new.DXF");
    EXPECT_EQ(Driver.SaveCommand("1"), TExportOutcome::Done);
    EXPECT_EQ(UI.Questions.size(), 2);
}

TEST_F(ExportDriver, TheClipboardCommandShowsItsProgressAndResult)
{
    Convert({{0, 0, 10, 5}});
    EXPECT_EQ(Driver.CopyCommand(1, "1"), TExportOutcome::Done);
    EXPECT_EQ(UI.ProgressCaption, QStringLiteral("クリップボードへコピー中・・・"));
    EXPECT_EQ(UI.Labels, QStringList{QStringLiteral("座標形式")});
    EXPECT_FALSE(UI.CancelVisible);
    EXPECT_FALSE(UI.ProgressOpen);
    EXPECT_TRUE(UI.MainWindowEnabled);
    EXPECT_FALSE(UI.BusyCursor);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("コピーが終了しました。")});
    EXPECT_EQ(Clipboard.Texts.last(), "0 0 10 5\n\r");

    EXPECT_EQ(Driver.CopyCommand(2, "2"), TExportOutcome::Done);
    EXPECT_EQ(UI.Labels.last(), QStringLiteral("JWTran形式"));
    EXPECT_EQ(Clipboard.Texts.last(), ";<<JWT.Format.Text>>\n\rBEGIN\n\rL2,0,0,0,20,10,1,1\n\rEND");

    UI.Messages.clear();
    Clipboard.Accept = false;
    EXPECT_EQ(Driver.CopyCommand(2, "1"), TExportOutcome::Failed);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("コピーできませんでした。")});
    EXPECT_TRUE(UI.MainWindowEnabled);
    EXPECT_FALSE(UI.ProgressOpen);
}

} // namespace
