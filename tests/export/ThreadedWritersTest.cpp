// The text writers on several threads: every byte and every progress step as
// on one, for every number form and for the full disk.

#include "commands/SaveData.h"
#include "ExportFixture.h"

#include "export/DxfWriter.h"
#include "export/JwcWriter.h"
#include "export/TextWriter.h"
#include "drawing/Drawing.h"

#include <random>

namespace {

class ThreadedWritersTest : public TExportFixture
{
protected:
    ThreadedWritersTest()
    {
        // More segments than a few blocks of a thread's text, coordinates
        // with and without fractions.
        std::mt19937 random(17);
        for (int i = 0; i < 21000; ++i)
            Segments.push_back({float(random() % 13244), float(random() % 18722) + (i % 3 ? 0.0f : 0.5f),
                                float(random() % 13244), float(random() % 18722)});
        MaxX = 13244;
        MaxY = 18722;
        Settings.Divide1 = QStringLiteral("表(");
        Settings.Divide5 = QStringLiteral(")");
    }

    // The file the writer makes with `threads` threads, and the progress it showed.
    QByteArray Written(TWriteResult (*writer)(const TExportContext &, TUserInterface &, const QString &),
                       const QString &name, int threads)
    {
        TExportContext context = Context();
        context.Threads = threads;
        UI.ProgressPosition = 0;
        EXPECT_EQ(writer(context, UI, Path(name)), WriteDone);
        Positions.push_back(UI.ProgressPosition);
        return Read(name);
    }

    std::vector<int> Positions;
};

TEST_F(ThreadedWritersTest, EveryByteAndStepIsTheSameOnEveryThreadCount)
{
    for (const auto &[magnification, xrate] : {std::pair{1.0f, 1.0f}, {0.0635f, 0.98f}}) {
        Magnification = magnification;
        Settings.Xrate = xrate;
        for (int mode : {1, 2, 3}) {
            Settings.TxtValueMode = Settings.DxfValueMode = mode;
            Settings.TxtValueFigure = Settings.DxfValueFigure = 3;
            const QByteArray text = Written(SaveData1, QStringLiteral("one.txt"), 1);
            const QByteArray dxf = Written(SaveData2, QStringLiteral("one.dxf"), 1);
            ASSERT_GT(dxf.size(), 21000 * 100);
            for (int threads : {2, 3, 8}) {
                EXPECT_EQ(Written(SaveData1, QStringLiteral("many.txt"), threads), text) << mode << ' ' << threads;
                EXPECT_EQ(Written(SaveData2, QStringLiteral("many.dxf"), threads), dxf) << mode << ' ' << threads;
            }
        }
    }
    // 210 steps every time.
    EXPECT_EQ(Positions, std::vector<int>(Positions.size(), 210));
}

// Text told apart: long runs of strokes on the text layer around a TEXT
// entity, and strokes of no string last.
TEST_F(ThreadedWritersTest, TextLayerStrokesAreTheSameOnEveryThreadCount)
{
    TextStart = 1000;
    ImageHeight = 18722;
    TextStrings = {TTextString{0, 0, 9000, 9000, false, 40, QString(), 0, 1000, 11000},
                   TTextString{100, 100, 200, 140, false, 1, QStringLiteral("A"), 90, 11000, 11005},
                   TTextString{0, 0, 9000, 9000, false, 40, QString(), 0, 11005, 20000}};
    const QByteArray one = Written(SaveData2, QStringLiteral("one.dxf"), 1);
    EXPECT_EQ(one.count("TEXT\r\n"), 1);
    EXPECT_EQ(one.count(QByteArray("  8\r\n") + Bytes({0x95, 0xB6, 0x8E, 0x9A}) + "\r\n"), 20000 - 5 + 1);
    for (int threads : {2, 3})
        EXPECT_EQ(Written(SaveData2, QStringLiteral("many.dxf"), threads), one) << threads;
    EXPECT_EQ(Positions, std::vector<int>(Positions.size(), 210));
}

// A drawing's entities (lines, arcs and circles on layers of their own and of
// their widths, with line types of long and short names), mirrored or not.
TEST_F(ThreadedWritersTest, DrawingEntitiesAreTheSameOnEveryThreadCount)
{
    TDrawing drawing;
    drawing.Layers.push_back(QStringLiteral("外形線のとても長い名前の層"));
    const std::int32_t dashed = drawing.AddLineType(QStringLiteral("DASHED"), QStringLiteral("破線"), {6, -3});
    std::mt19937 random(5);
    for (int i = 0; i < 9000; ++i) {
        const double x = random() % 13000, y = random() % 18000 + 0.25 * (i % 4);
        TDrawingEntity e = i % 3 == 0   ? TDrawingEntity::MakeLine(x, y, x + random() % 200, y - 7.5)
                           : i % 3 == 1 ? TDrawingEntity::MakeArc(x, y, 3 + random() % 90, i % 360, (i * 7) % 360)
                                        : TDrawingEntity::MakeCircle(x, y, 0.5 + random() % 40);
        e.Layer = i % 5 == 0 ? 1 : 0;
        e.LineType = i % 7 == 0 ? dashed : 0;
        e.Width = float(1 + i % 6);
        drawing.Entities.push_back(e);
    }
    drawing.WidthLayers = true;
    drawing.MaxX = MaxX;
    drawing.MaxY = MaxY;
    for (const float xrate : {1.0f, -1.0f}) {
        Settings.Xrate = xrate;
        const auto written = [&](int threads) {
            TExportContext context = Context();
            context.Drawing = &drawing;
            context.Threads = threads;
            UI.ProgressPosition = 0;
            EXPECT_EQ(SaveData2(context, UI, Path(QStringLiteral("drawing.dxf"))), WriteDone);
            Positions.push_back(UI.ProgressPosition);
            return Read(QStringLiteral("drawing.dxf"));
        };
        const QByteArray one = written(1);
        ASSERT_EQ(one.count("\r\nARC\r\n"), 3000);
        ASSERT_GE(one.count("\r\nDASHED\r\n"), 1286);
        for (int threads : {2, 3})
            EXPECT_EQ(written(threads), one) << xrate << ' ' << threads;
    }
    EXPECT_EQ(Positions, std::vector<int>(Positions.size(), Positions.front()));
}

TEST_F(ThreadedWritersTest, AFullDiskFailsOnEveryThreadCount)
{
    if (!LinkToFullDevice(QStringLiteral("full.dxf")) || !LinkToFullDevice(QStringLiteral("full.txt")))
        GTEST_SKIP() << "no /dev/full here";
    for (int threads : {1, 3}) {
        TExportContext context = Context();
        context.Threads = threads;
        EXPECT_EQ(SaveData2(context, UI, Path(QStringLiteral("full.dxf"))), WriteFailed) << threads;
        EXPECT_EQ(SaveData1(context, UI, Path(QStringLiteral("full.txt"))), WriteFailed) << threads;
    }
}

} // namespace
