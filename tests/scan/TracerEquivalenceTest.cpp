// The tracers against the pixel-by-pixel rules on many generated pictures:
// noise of several densities and drawings of strokes in every direction,
// filled areas and bars, at sizes around the 64-pixel word boundaries.

#include "ReferenceTracer.h"
#include "ScanFixture.h"

#include <random>

#include "scan/BlackMask.h"
#include "scan/BoxMode.h"
#include "scan/LineMode.h"
#include "image/LinePixels.h"
#include "base/ProgressPort.h"

namespace {

struct TCase
{
    int Width, Height;
    int Kind;  // 0 noise, 1 drawing
    double Density;
    bool BlackIsZero;  // palette entry 0 black, entry 1 white
};

TTzDIB MakePicture(const TCase &c, std::mt19937 &random)
{
    TTzDIB dib = WhitePicture(c.Width, c.Height);
    const int ink = c.BlackIsZero ? 0 : 1;
    if (c.BlackIsZero) {
        dib.SetColors(0, 0);
        dib.SetColors(1, 0xFFFFFF);
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x)
                dib.SetPixels(x, y, 1);
    }
    auto put = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x < c.Width && y < c.Height)
            dib.SetPixels(x, y, ink);
    };
    std::uniform_real_distribution<double> unit(0, 1);
    if (c.Kind == 0) {
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x)
                if (unit(random) < c.Density)
                    put(x, y);
        return dib;
    }
    std::uniform_int_distribution<int> px(-3, c.Width + 2), py(-3, c.Height + 2);
    const int strokes = 3 + c.Width * c.Height / 400;
    for (int s = 0; s < strokes; ++s) {
        const int shape = static_cast<int>(random() % 5);
        int x0 = px(random), y0 = py(random), x1 = px(random), y1 = py(random);
        if (shape == 0) {  // 45-degree strokes
            const int n = std::abs(x1 - x0);
            const int dy = (random() % 2) ? 1 : -1;
            for (int i = 0; i <= n; ++i)
                put(x0 + i, y0 + dy * i);
        } else if (shape == 1) {  // filled area
            for (int y = std::min(y0, y1); y <= std::max(y0, y1) && y - std::min(y0, y1) < 20; ++y)
                for (int x = std::min(x0, x1); x <= std::max(x0, x1) && x - std::min(x0, x1) < 30; ++x)
                    put(x, y);
        } else if (shape == 2) {  // horizontal or vertical bar, 1 to 3 thick
            const int thick = 1 + static_cast<int>(random() % 3);
            for (int t = 0; t < thick; ++t) {
                if (random() % 2)
                    for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x)
                        put(x, y0 + t);
                else
                    for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y)
                        put(x0 + t, y);
            }
        } else {  // any slope
            ForEachLinePixel(x0, y0, x1, y1, put);
        }
    }
    return dib;
}

std::vector<TCase> Cases()
{
    std::vector<TCase> cases;
    std::mt19937 random(2024);
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {64, 64}, {65, 63},
                                         {63, 65}, {128, 5}, {5, 128}, {129, 70}, {70, 129},
                                         // Wider than the bands of columns traced together.
                                         {1030, 9}, {2100, 5}};
    int n = 0;
    for (auto [w, h] : sizes) {
        for (double density : {0.1, 0.5, 0.85})
            cases.push_back(TCase{w, h, 0, density, (n++ % 2) == 0});
        cases.push_back(TCase{w, h, 1, 0, (n++ % 2) == 0});
    }
    for (int i = 0; i < 24; ++i) {
        const int w = 1 + static_cast<int>(random() % 160);
        const int h = 1 + static_cast<int>(random() % 160);
        cases.push_back(TCase{w, h, static_cast<int>(i % 2), 0.05 + 0.3 * (i % 3), (i % 4) == 0});
    }
    return cases;
}

class TracerEquivalenceTest : public ScanFixture
{
};

TEST_F(TracerEquivalenceTest, AllThreeMethodsGiveTheSegmentsOfThePixelRules)
{
    std::mt19937 random(99);
    int compared = 0;
    for (const TCase &c : Cases()) {
        const TTzDIB dib = MakePicture(c, random);
        const Reference::TPicture picture(dib);
        const std::string what = std::to_string(c.Width) + 'x' + std::to_string(c.Height) + " kind " +
                                 std::to_string(c.Kind) + " density " + std::to_string(c.Density);

        ASSERT_EQ(TraceLines(dib), ScanDone) << what;
        const std::vector<TSeg> lines = Reference::LineMode(picture);
        ASSERT_EQ(Segs(), lines) << "line mode, " << what;

        ASSERT_EQ(TraceBoxes(dib), ScanDone) << what;
        ASSERT_EQ(Segs(), Reference::BoxMode(picture)) << "box mode, " << what;

        ASSERT_EQ(TraceLines2(dib), ScanDone) << what;
        const std::vector<TSeg> lines2 = Reference::Line2Mode(picture);
        ASSERT_EQ(Segs(), lines2) << "line 2 mode, " << what;
        compared += static_cast<int>(lines.size());

        // Several threads, in chunks of a few lines: the same lists, extents
        // and progress.
        for (const auto &[threads, chunk] : {std::pair{2, 1}, {3, 7}, {4, 0}}) {
            Driver.SetThreads(threads);
            ChunkLines = chunk;
            const std::string how = what + ", " + std::to_string(threads) + " threads";
            ASSERT_EQ(TraceLines(dib), ScanDone) << how;
            ASSERT_EQ(Segs(), lines) << "line mode, " << how;
            ASSERT_EQ(UI.ProgressPosition, 3 * c.Width + 3 * c.Height) << how;
            const float maxX = State.MaxX, maxY = State.MaxY;
            Driver.SetThreads(1);
            ASSERT_EQ(TraceLines(dib), ScanDone);
            ASSERT_EQ(State.MaxX, maxX) << how;
            ASSERT_EQ(State.MaxY, maxY) << how;
            Driver.SetThreads(threads);
            ASSERT_EQ(TraceBoxes(dib), ScanDone) << how;
            ASSERT_EQ(Segs(), Reference::BoxMode(picture)) << "box mode, " << how;
            ASSERT_EQ(TraceLines2(dib), ScanDone) << how;
            ASSERT_EQ(Segs(), lines2) << "line 2 mode, " << how;
        }
        Driver.SetThreads(1);
        ChunkLines = 0;
    }
    // The pictures do exercise the tracer.
    EXPECT_GT(compared, 5000);
}

} // namespace

namespace {

// A progress port that cancels at one step.
class TCancelAt : public TProgressPort
{
public:
    explicit TCancelAt(int step) : At(step) {}
    void SetMaximum(int) override {}
    void Step(int position) override { Stopped = Stopped || position == At; }
    bool Cancelled() const override { return Stopped; }

private:
    int At;
    bool Stopped = false;
};

TEST_F(TracerEquivalenceTest, ACancelOrAFullListStopsAtTheSameLineOnEveryThreadCount)
{
    std::mt19937 random(5);
    const TTzDIB dib = MakePicture(TCase{150, 130, 1, 0, false}, random);
    const TBlackMask mask = TBlackMask::FromImage(dib);
    const int steps = 3 * 150 + 3 * 130;
    for (int cancelAt : {1, 77, 150, 151, 300, 470, steps - 1, steps}) {
        for (int method = 0; method < 2; ++method) {
            std::vector<TSeg> one;
            for (int threads : {1, 2, 3}) {
                TSegmentList list;
                list.ResetSegments();
                TCancelAt progress(cancelAt);
                const TTraceOptions options{threads, 5};
                const TScanStatus status = method == 0 ? ::TraceLines(mask, list, progress, options)
                                                       : ::TraceBoxes(mask, list, progress, options);
                if (method == 0 || cancelAt <= 150 + 130 + 4) {
                    EXPECT_EQ(status, ScanStopped) << cancelAt;
                }
                if (threads == 1)
                    one = SegmentsOf(list);
                else
                    ASSERT_EQ(SegmentsOf(list), one) << method << " cancel at " << cancelAt << ", " << threads;
            }
        }
    }
    // A list that cannot grow beyond its limit: released on every thread count.
    const TBlackMask noise = TBlackMask::FromImage(MakePicture(TCase{150, 130, 0, 0.4, false}, random));
    for (int threads : {1, 2, 3}) {
        TSegmentList list;
        list.ResetSegments();
        list.CapacityLimit = 2048;
        TNoProgress progress;
        EXPECT_EQ(::TraceLines(noise, list, progress, TTraceOptions{threads, 3}), ScanOutOfMemory) << threads;
        EXPECT_TRUE(list.OutOfMemory);
        EXPECT_EQ(list.SegmentCount, 0);
    }
}

} // namespace

namespace {

// A mask handed over is given back line by line while the rows are traced
// and emptied after: the lists stay those of a mask kept, on every thread
// count (a line given back too early reads white).
TEST_F(TracerEquivalenceTest, AMaskHandedOverGivesTheSameListsAndIsEmptiedAfter)
{
    std::mt19937 random(11);
    // Tall enough that many pages of lines are given back.
    const TBlackMask mask = TBlackMask::FromImage(MakePicture(TCase{700, 1500, 1, 0, false}, random));
    for (int method = 0; method < 2; ++method) {
        auto trace = [method](auto &&from, TSegmentList &list, const TTraceOptions &options) {
            TNoProgress progress;
            list.ResetSegments();
            return method == 0 ? ::TraceLines(std::forward<decltype(from)>(from), list, progress, options)
                               : ::TraceBoxes(std::forward<decltype(from)>(from), list, progress, options);
        };
        TSegmentList kept;
        ASSERT_EQ(trace(mask, kept, TTraceOptions{}), ScanDone);
        ASSERT_GT(kept.SegmentCount, 20000);
        for (const auto &[threads, chunk] : {std::pair{1, 0}, {2, 0}, {3, 5}}) {
            TBlackMask handed = mask;
            TSegmentList list;
            ASSERT_EQ(trace(std::move(handed), list, TTraceOptions{threads, chunk}), ScanDone);
            EXPECT_EQ(SegmentsOf(list), SegmentsOf(kept)) << method << ", " << threads << " threads";
            EXPECT_EQ(handed.Width(), 0);
        }
    }
}

} // namespace
