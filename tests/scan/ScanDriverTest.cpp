#include "ScanFixture.h"

#include <QFile>
#include <QImage>
#include <QLocale>

#include <stdexcept>

namespace {

using SegList = std::vector<TSeg>;

class ScanDriverTest : public ScanFixture
{
protected:
    // 40 x 30: a row stroke and a column stroke.
    QString SavePlan()
    {
        TTzDIB dib = WhitePicture(40, 30);
        BlackRect(dib, 5, 3, 25, 3);
        BlackRect(dib, 30, 10, 30, 20);
        return Save(dib);
    }

    void ExpectResetLabels(const TScanOutcome &outcome)
    {
        EXPECT_EQ(outcome.Labels.FileLabel, QStringLiteral("*"));
        EXPECT_EQ(outcome.Labels.CountLabel, QStringLiteral("0本"));
        EXPECT_EQ(outcome.Labels.XLabel, QStringLiteral("X=0"));
        EXPECT_EQ(outcome.Labels.YLabel, QStringLiteral("Y=0"));
        EXPECT_FALSE(outcome.Labels.ModeLabel.has_value());
        EXPECT_FALSE(State.DataConverted);
    }

    void ExpectWindowsRestored()
    {
        EXPECT_TRUE(UI.MainWindowEnabled);
        EXPECT_FALSE(UI.ProgressOpen);
        EXPECT_EQ(UI.ProgressShown, 1);
    }
};

TEST_F(ScanDriverTest, ConversionShowsTheFileTheCountTheExtentsAndTheMode)
{
    const QString path = SavePlan();
    Settings.Xrate = 1.5f;
    Settings.Yrate = 0.5f;
    bool sawDisabled = false;
    UI.OnProcessMessages = [&] {
        sawDisabled = !UI.MainWindowEnabled && UI.ProgressOpen && UI.CancelFlag == &State.CancelScan;
    };
    const TScanOutcome outcome = Driver.ScanData(path, QStringLiteral("2"));
    EXPECT_EQ(outcome.Status, ScanDone);
    EXPECT_TRUE(sawDisabled);
    EXPECT_EQ(UI.ProgressCaption, QStringLiteral("読込中・・・"));
    EXPECT_EQ(UI.ProgressLabel, QStringLiteral("読込中:plan.bmp"));
    EXPECT_TRUE(UI.CancelVisible);
    ExpectWindowsRestored();
    // Once to paint the progress window, then once per scanned line.
    EXPECT_EQ(UI.Pumps, 1 + 3 * 40 + 3 * 30);

    EXPECT_TRUE(State.DataConverted);
    EXPECT_EQ(Segs(), (SegList{{5, 27, 25, 27}, {30, 20, 30, 10}}));
    EXPECT_EQ(outcome.Labels.FileLabel, QStringLiteral("plan.bmp"));
    EXPECT_EQ(outcome.Labels.CountLabel, QStringLiteral("2本"));
    EXPECT_EQ(outcome.Labels.XLabel, QStringLiteral("X=120.00000"));
    EXPECT_EQ(outcome.Labels.YLabel, QStringLiteral("Y=30.00000"));
    EXPECT_EQ(outcome.Labels.ModeLabel, QStringLiteral("ライン"));
    EXPECT_EQ(State.MinX, 0.0f);
    EXPECT_EQ(State.MinY, 0.0f);
    EXPECT_EQ(State.MaxX, 40.0f);
    EXPECT_EQ(State.MaxY, 30.0f);
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(ScanDriverTest, UnknownModesConvertByLinesAndLeaveTheModeLabel)
{
    const QString path = SavePlan();
    Driver.ScanData(path, QStringLiteral("1"));
    const SegList lines = Segs();
    for (int mode : {0, 4, -1}) {
        Settings.PixelScanMode = mode;
        const TScanOutcome outcome = Driver.ScanData(path, QStringLiteral("1"));
        EXPECT_EQ(outcome.Status, ScanDone) << mode;
        EXPECT_EQ(Segs(), lines) << mode;
        EXPECT_FALSE(outcome.Labels.ModeLabel.has_value()) << mode;
        EXPECT_EQ(outcome.Labels.CountLabel, QStringLiteral("2本"));
    }
}

TEST_F(ScanDriverTest, ConversionWithoutSegmentsIsASuccess)
{
    const QString path = Save(WhitePicture(12, 7), QStringLiteral("blank.BMP"));
    const TScanOutcome outcome = Driver.ScanData(path, QStringLiteral("1.0000"));
    EXPECT_EQ(outcome.Status, ScanDone);
    EXPECT_TRUE(State.DataConverted);
    EXPECT_EQ(outcome.Labels.FileLabel, QStringLiteral("blank.BMP"));
    EXPECT_EQ(outcome.Labels.CountLabel, QStringLiteral("0本"));
    EXPECT_EQ(outcome.Labels.XLabel, QStringLiteral("X=12.00000"));
    EXPECT_EQ(outcome.Labels.YLabel, QStringLiteral("Y=7.00000"));
}

TEST_F(ScanDriverTest, UnreadableFilesSayTheFileCouldNotBeRead)
{
    Driver.ScanData(SavePlan(), QStringLiteral("1"));
    ASSERT_TRUE(State.DataConverted);

    QFile unknown(Dir.filePath(QStringLiteral("plan.xyz")));
    ASSERT_TRUE(unknown.open(QIODevice::WriteOnly));
    unknown.write("BM not really");
    unknown.close();
    QFile damaged(Dir.filePath(QStringLiteral("damaged.bmp")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("BM\x10\x00\x00\x00 damaged");
    damaged.close();
    const QString missing = Dir.filePath(QStringLiteral("missing.png"));
    const QString noExtension = Dir.filePath(QStringLiteral("plan"));

    for (int mode : {1, 2, 3}) {
        Settings.PixelScanMode = mode;
        for (const QString &path : {unknown.fileName(), damaged.fileName(), missing, noExtension}) {
            UI = TRecordingUserInterface();
            const TScanOutcome outcome = Driver.ScanData(path, QStringLiteral("1"));
            EXPECT_EQ(outcome.Status, ScanUnreadable) << mode << path.toStdString();
            EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("ファイルが読み込めませんした。")});
            ExpectResetLabels(outcome);
            ExpectWindowsRestored();
        }
    }
}

TEST_F(ScanDriverTest, CancelResetsTheLabelsInEveryMode)
{
    const QString path = SavePlan();
    for (int mode : {1, 2, 3}) {
        Settings.PixelScanMode = mode;
        UI = TRecordingUserInterface();
        UI.OnProcessMessages = [&] {
            if (UI.Pumps == 60)
                UI.PressCancel();
        };
        const TScanOutcome outcome = Driver.ScanData(path, QStringLiteral("1"));
        // Line 2 mode reports the cancel only through CancelScan.
        EXPECT_EQ(outcome.Status, ScanStopped) << mode;
        EXPECT_TRUE(State.CancelScan);
        ExpectResetLabels(outcome);
        ExpectWindowsRestored();
        EXPECT_TRUE(UI.Messages.isEmpty());
    }
}

TEST_F(ScanDriverTest, BufferFailuresStopTheConversion)
{
    const QString path = SavePlan();
    State.CapacityLimit = 1000;
    TScanOutcome outcome = Driver.ScanData(path, QStringLiteral("1"));
    EXPECT_EQ(outcome.Status, ScanBufferFailed);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("メモリが確保出来ませんでした。")});
    ExpectResetLabels(outcome);

    // A growth failure while appending: status 5, the list released.
    TTzDIB dashes = WhitePicture(30, 300);
    for (int y = 0; y < 300; y += 2)
        for (int x = 0; x < 30; x += 3)
            BlackRect(dashes, x, y, x + 1, y);
    State.CapacityLimit = 1024;
    UI = TRecordingUserInterface();
    outcome = Driver.ScanData(Save(dashes, QStringLiteral("dashes.bmp")), QStringLiteral("1"));
    EXPECT_EQ(outcome.Status, ScanStopped);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("メモリが確保出来ませんでした。")});
    EXPECT_EQ(State.SegmentCount, 0);
    ExpectResetLabels(outcome);
    ExpectWindowsRestored();
}

TEST_F(ScanDriverTest, InvalidMagnificationLeavesTheExtentLabels)
{
    const TScanOutcome outcome = Driver.ScanData(SavePlan(), QStringLiteral("abc"));
    EXPECT_EQ(outcome.Status, ScanDone);
    EXPECT_TRUE(State.DataConverted);
    EXPECT_EQ(outcome.Labels.CountLabel, QStringLiteral("2本"));
    EXPECT_FALSE(outcome.Labels.XLabel.has_value());
    EXPECT_FALSE(outcome.Labels.YLabel.has_value());
}

TEST_F(ScanDriverTest, ExtentLabelsAreThirtyTwoBitProducts)
{
    State.MaxX = 13200;
    State.MaxY = 18700;
    Settings.Xrate = 1.0f;
    Settings.Yrate = 2.0f;
    // 13200 x 0.1 in double precision would show 1320.00002.
    const auto labels = ExtentLabelTexts(State, Settings, QStringLiteral("0.1"));
    ASSERT_TRUE(labels.has_value());
    EXPECT_EQ(labels->XLabel, QStringLiteral("X=1320.00000"));
    EXPECT_EQ(labels->YLabel, QStringLiteral("Y=3740.00000"));
    EXPECT_FALSE(ExtentLabelTexts(State, Settings, QStringLiteral("")).has_value());
    EXPECT_FALSE(ExtentLabelTexts(State, Settings, QStringLiteral("1,5")).has_value());
}

TEST_F(ScanDriverTest, AMillionSegmentsAreCountedWithTheLocalesSeparators)
{
    // Every even row holds 1000 two-pixel dashes: 1,000,000 row segments and
    // nothing else.
    QImage image(3000, 2000, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    for (int y = 0; y < 2000; y += 2)
        for (int x = 0; x < 3000; ++x)
            if (x % 3 != 2)
                image.setPixel(x, y, 1);
    TTzDIB dib;
    dib.Assign(image);
    const QString path = Save(dib, QStringLiteral("dashes.bmp"));

    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TScanOutcome outcome = Driver.ScanData(path, QStringLiteral("1"));
    EXPECT_EQ(outcome.Labels.CountLabel, QStringLiteral("1,000,000本"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    outcome = Driver.ScanData(path, QStringLiteral("1"));
    EXPECT_EQ(outcome.Labels.CountLabel, QStringLiteral("1.000.000本"));
    QLocale::setDefault(previous);
    EXPECT_EQ(State.SegmentCount, 1000000);
    EXPECT_EQ(State.SegmentCapacity, 1000000 / 1024 * 1024 + 1024);
}

TEST_F(ScanDriverTest, AnErrorInsideAMethodPassesOnAfterTheWindowsAreRestored)
{
    const QString path = SavePlan();
    UI.OnProcessMessages = [&] {
        if (UI.Pumps == 10)
            throw std::runtime_error("failing repaint");
    };
    EXPECT_THROW(Driver.ScanData(path, QStringLiteral("1")), std::runtime_error);
    ExpectWindowsRestored();
    EXPECT_FALSE(State.DataConverted);
}

TEST_F(ScanDriverTest, BoxAndLine2ModesNameThemselves)
{
    const QString path = SavePlan();
    Settings.PixelScanMode = 2;
    TScanOutcome outcome = Driver.ScanData(path, QStringLiteral("1"));
    EXPECT_EQ(outcome.Status, ScanDone);
    EXPECT_EQ(outcome.Labels.ModeLabel, QStringLiteral("ボックス"));
    EXPECT_EQ(UI.ProgressMaximum, 40 + 30 + 4);

    Settings.PixelScanMode = 3;
    UI = TRecordingUserInterface();
    outcome = Driver.ScanData(path, QStringLiteral("1"));
    EXPECT_EQ(outcome.Status, ScanDone);
    EXPECT_FALSE(outcome.Labels.ModeLabel.has_value());
    EXPECT_EQ(UI.Labels, (QStringList{QStringLiteral("イメージ変換中・・・"),
                                      QStringLiteral("読込中:plan.bmp")}));
    // Line 2 traces the strokes as line mode does.
    EXPECT_EQ(Segs(), (SegList{{5, 27, 25, 27}, {30, 20, 30, 10}}));
    EXPECT_EQ(UI.ProgressMaximum, 3 * 40 + 3 * 30);
}

} // namespace
