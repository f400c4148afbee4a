#include "scan/ScanFixture.h"

#include "scan/ScanFilters.h"

#include <QFile>
#include <QImage>

#include <functional>
#include <limits>
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


    void ExpectWindowsRestored()
    {
        EXPECT_TRUE(UI.MainWindowEnabled);
        EXPECT_FALSE(UI.ProgressOpen);
        EXPECT_EQ(UI.ProgressShown, 1);
    }
};

TEST_F(ScanDriverTest, ConversionTracesTheFileWithTheProgressWindowShown)
{
    const QString path = SavePlan();
    Settings.Xrate = 1.5f;
    Settings.Yrate = 0.5f;
    bool sawDisabled = false;
    UI.OnProcessMessages = [&] {
        sawDisabled = !UI.MainWindowEnabled && UI.ProgressOpen && UI.CancelVisible;
    };
    EXPECT_EQ(Driver.ScanData(path), ScanDone);
    EXPECT_TRUE(sawDisabled);
    EXPECT_EQ(UI.ProgressCaption, QStringLiteral("読込中・・・"));
    EXPECT_EQ(UI.ProgressLabel, QStringLiteral("読込中:plan.bmp"));
    EXPECT_TRUE(UI.CancelVisible);
    ExpectWindowsRestored();
    // Once to paint the progress window, once for the one band of rows read,
    // then once per scanned line.
    EXPECT_EQ(UI.Pumps, 1 + 1 + 3 * 40 + 3 * 30);

    EXPECT_EQ(Segs(), (SegList{{5, 27, 25, 27}, {30, 20, 30, 10}}));
    EXPECT_EQ(State.MinX, 0.0f);
    EXPECT_EQ(State.MinY, 0.0f);
    EXPECT_EQ(State.MaxX, 40.0f);
    EXPECT_EQ(State.MaxY, 30.0f);
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(ScanDriverTest, UnknownModesConvertByLines)
{
    const QString path = SavePlan();
    Driver.ScanData(path);
    const SegList lines = Segs();
    for (int mode : {0, 4, -1}) {
        Settings.PixelScanMode = mode;
        EXPECT_EQ(Driver.ScanData(path), ScanDone) << mode;
        EXPECT_EQ(Segs(), lines) << mode;
    }
}

TEST_F(ScanDriverTest, ConversionWithoutSegmentsIsASuccess)
{
    const QString path = Save(WhitePicture(12, 7), QStringLiteral("blank.BMP"));
    EXPECT_EQ(Driver.ScanData(path), ScanDone);
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_EQ(State.MaxX, 12.0f);
    EXPECT_EQ(State.MaxY, 7.0f);
}

TEST_F(ScanDriverTest, UnreadableFilesSayTheFileCouldNotBeRead)
{
    ASSERT_EQ(Driver.ScanData(SavePlan()), ScanDone);

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
            EXPECT_EQ(Driver.ScanData(path), ScanUnreadable) << mode << path.toStdString();
            EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("ファイルが読み込めませんした。")});
            EXPECT_FALSE(Driver.LoadFailure().isEmpty()) << path.toStdString();
            ExpectWindowsRestored();
        }
    }
}

TEST_F(ScanDriverTest, WithoutAWindowFailuresAreKeptAndNothingIsShown)
{
    QFile damaged(Dir.filePath(QStringLiteral("damaged.bmp")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("BM\x10\x00\x00\x00 damaged");
    damaged.close();
    const QString plan = SavePlan();
    constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();
    struct
    {
        QString Path;
        std::size_t CapacityLimit;
        TScanStatus Status;
        TScanFailure::TKind Kind;
        const char *Text;
    } const cases[] = {
        {plan, kNoLimit, ScanDone, TScanFailure::None, ""},
        {damaged.fileName(), kNoLimit, ScanUnreadable, TScanFailure::Unreadable, "ファイルが読み込めませんした。"},
        {plan, 1000, ScanBufferFailed, TScanFailure::OutOfMemory, "メモリが確保出来ませんでした。"},
    };
    for (const auto &c : cases) {
        UI = TRecordingUserInterface();
        UI.MainWindowEnabled = false;  // a driver without a window leaves it alone
        State.CapacityLimit = c.CapacityLimit;
        TScanDriver bare(State, Settings, static_cast<TProgressDisplay &>(UI), Formats);
        EXPECT_EQ(bare.ScanData(c.Path), c.Status) << c.Text;
        EXPECT_EQ(bare.Failure().Kind, c.Kind) << c.Text;
        EXPECT_EQ(TScanFailure::FailureText(c.Kind), QString::fromUtf8(c.Text));
        EXPECT_EQ(bare.Failure().Reason.isEmpty(), c.Kind != TScanFailure::Unreadable) << c.Text;
        EXPECT_TRUE(UI.Messages.isEmpty()) << c.Text;
        EXPECT_FALSE(UI.MainWindowEnabled);
        EXPECT_FALSE(UI.ProgressOpen);
    }
}

TEST_F(ScanDriverTest, CancelStopsEveryMode)
{
    const QString path = SavePlan();
    for (int mode : {1, 2, 3}) {
        Settings.PixelScanMode = mode;
        UI = TRecordingUserInterface();
        UI.OnProcessMessages = [&] {
            if (UI.Pumps == 60)
                UI.PressCancel();
        };
        // Line 2 mode reports the cancel only through CancelScan().
        EXPECT_EQ(Driver.ScanData(path), ScanStopped) << mode;
        EXPECT_TRUE(Driver.CancelScan());
        ExpectWindowsRestored();
        EXPECT_TRUE(UI.Messages.isEmpty());
    }
}

TEST_F(ScanDriverTest, BufferFailuresStopTheConversion)
{
    const QString path = SavePlan();
    State.CapacityLimit = 1000;
    EXPECT_EQ(Driver.ScanData(path), ScanBufferFailed);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("メモリが確保出来ませんでした。")});

    // A growth failure while appending: status 5, the list released.
    TTzDIB dashes = WhitePicture(30, 300);
    for (int y = 0; y < 300; y += 2)
        for (int x = 0; x < 30; x += 3)
            BlackRect(dashes, x, y, x + 1, y);
    State.CapacityLimit = 1024;
    UI = TRecordingUserInterface();
    EXPECT_EQ(Driver.ScanData(Save(dashes, QStringLiteral("dashes.bmp"))), ScanStopped);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("メモリが確保出来ませんでした。")});
    EXPECT_EQ(State.SegmentCount, 0);
    EXPECT_TRUE(Driver.CancelScan());
    ExpectWindowsRestored();
}

TEST_F(ScanDriverTest, AnErrorInsideAMethodPassesOnAfterTheWindowsAreRestored)
{
    const QString path = SavePlan();
    UI.OnProcessMessages = [&] {
        if (UI.Pumps == 10)
            throw std::runtime_error("failing repaint");
    };
    EXPECT_THROW(Driver.ScanData(path), std::runtime_error);
    ExpectWindowsRestored();
}

TEST_F(ScanDriverTest, BoxAndLine2ModesStepAndLabelTheirProgress)
{
    const QString path = SavePlan();
    Settings.PixelScanMode = 2;
    EXPECT_EQ(Driver.ScanData(path), ScanDone);
    EXPECT_EQ(UI.ProgressMaximum, 40 + 30 + 4);

    Settings.PixelScanMode = 3;
    UI = TRecordingUserInterface();
    EXPECT_EQ(Driver.ScanData(path), ScanDone);
    EXPECT_EQ(UI.Labels, (QStringList{QStringLiteral("イメージ変換中・・・"),
                                      QStringLiteral("読込中:plan.bmp")}));
    // Line 2 traces the strokes as line mode does.
    EXPECT_EQ(Segs(), (SegList{{5, 27, 25, 27}, {30, 20, 30, 10}}));
    EXPECT_EQ(UI.ProgressMaximum, 3 * 40 + 3 * 30);
}

TEST_F(ScanDriverTest, TheBarMovesWhileTheFileIsRead)
{
    // Rows of 1 KB: about a thousand rows a band, a step after each band,
    // before the tracer takes the bar over.
    TTzDIB tall = WhitePicture(8192, 2500);
    BlackRect(tall, 10, 10, 20, 2400);
    const QString path = Save(tall);
    std::vector<std::pair<int, int>> steps;
    UI.OnProcessMessages = [&] { steps.emplace_back(UI.ProgressMaximum, UI.ProgressPosition); };
    EXPECT_EQ(Driver.ScanData(path), ScanDone);
    std::vector<int> reading;
    for (const auto &[maximum, position] : steps)
        if (maximum == 2500 && position > 0 && (reading.empty() || position > reading.back()))
            reading.push_back(position);
    ASSERT_GE(reading.size(), 3u) << ::testing::PrintToString(steps);
    EXPECT_EQ(reading.back(), 2500);
}

// Filters that see what the tracer left: the segments, their extents and
// the mask given back, and that may read no traced segments.
class TWatchingFilters : public TScanFilters
{
public:
    explicit TWatchingFilters(bool readsSegments) : Reads(readsSegments) {}
    TBlackMask Mask(const TTzDIB &image) const override { return TBlackMask::FromImage(image); }
    TBlackMask MaskFromRows(TPictureRows &rows, const TRowsOpener &, int threads) const override
    {
        return TBlackMask::FromRows(rows, threads);
    }
    bool Segments(TScanState &state) const override
    {
        Seen = SegmentsOf(state);
        Extents = {state.MinX, state.MinY, state.MaxX, state.MaxY, state.ImageHeight};
        if (During)
            During();
        // (stopped as the recognition stops: cut short, false)
        Stopped = Stop && Stop();
        return !Stopped;
    }
    bool ReadsSegments() const override { return Reads; }
    bool ReadsTracedMask() const override { return true; }
    void TracedMask(TBlackMask &&mask) const override { Returned = mask.Width(); }

    bool Reads;
    mutable std::vector<TSeg> Seen;
    mutable std::vector<float> Extents;
    mutable int Returned = 0;
    std::function<void()> During;
    mutable bool Stopped = false;
};

TEST_F(ScanDriverTest, FiltersThatReadNoSegmentsGetTheSheetUntraced)
{
    const QString path = SavePlan();
    for (const bool reads : {true, false}) {
        for (int mode : {1, 2, 3}) {
            const TWatchingFilters filters(reads);
            Driver.SetFilters(&filters);
            Settings.PixelScanMode = mode;
            UI = TRecordingUserInterface();
            EXPECT_EQ(Driver.ScanData(path), ScanDone) << mode;
            EXPECT_EQ(filters.Seen.empty(), !reads) << mode;
            // The extents every tracer starts from, and that none widens.
            EXPECT_EQ(filters.Extents, (std::vector<float>{0, 0, 40, 30, 30})) << mode;
            // Line 2 finds its run ends in the mask itself: only an untraced
            // mask is lent there.
            EXPECT_EQ(filters.Returned, mode != 3 || !reads ? 40 : 0) << mode;
            // The tracers' steps, a line each, only when they run.
            EXPECT_EQ(UI.ProgressMaximum == 30, !reads) << mode << " " << UI.ProgressMaximum;
        }
    }
    Driver.SetFilters(nullptr);
}

// A cancel while the filters run stops them and the conversion, with no
// message (their false is a stop, not a failure of memory).
TEST_F(ScanDriverTest, ACancelDuringTheFiltersStopsThem)
{
    const QString path = SavePlan();
    for (int mode : {1, 2, 3}) {
        TWatchingFilters filters(true);
        filters.During = [&] { UI.PressCancel(); };
        Driver.SetFilters(&filters);
        Settings.PixelScanMode = mode;
        UI = TRecordingUserInterface();
        EXPECT_EQ(Driver.ScanData(path), ScanStopped) << mode;
        EXPECT_TRUE(filters.Stopped) << mode;
        EXPECT_TRUE(UI.Messages.isEmpty()) << mode;
        ExpectWindowsRestored();
    }
    Driver.SetFilters(nullptr);
}

} // namespace
