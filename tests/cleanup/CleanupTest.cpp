#include "scan/ScanPictures.h"
#include "support/RecordingUserInterface.h"
#include "support/ThinReference.h"

#include "base/Settings.h"
#include "cleanup/Centerline.h"
#include "cleanup/CleanupSteps.h"
#include "cleanup/NoiseRemoval.h"
#include "cleanup/PackedMask.h"
#include "cleanup/PixelChains.h"
#include "cleanup/PixelNeighbours.h"
#include "cleanup/Threshold.h"
#include "image/LinePixels.h"
#include "base/ProgressPort.h"
#include "scan/LineMode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <tuple>
#include <utility>

namespace {

// Line mode on the cleaned mask, then the segment clean-up (with the strokes
// the centre lines came from, as the scan driver's filters do).
std::vector<TSegment> TracedExactly(const TTzDIB &picture, const TCleanupOptions &options)
{
    TSegmentList state;
    state.ResetSegments();
    TNoProgress progress;
    TBlackMask strokes;
    EXPECT_EQ(TraceLines(CleanMask(picture, options, &strokes), state, progress), ScanDone);
    return CleanSegments(std::vector<TSegment>(state.Segments(), state.Segments() + state.SegmentCount), options,
                         options.Centerline ? &strokes : nullptr);
}

std::vector<TSeg> Traced(const TTzDIB &picture, const TCleanupOptions &options)
{
    const auto cleaned = TracedExactly(picture, options);
    std::vector<TSeg> out;
    for (const TSegment &s : cleaned)
        out.push_back(TSeg{int(s.X1), int(s.Y1), int(s.X2), int(s.Y2)});
    return out;
}

// Bresenham's line, one pixel wide.
void BlackLine(TTzDIB &dib, int x0, int y0, int x1, int y1)
{
    ForEachLinePixel(x0, y0, x1, y1, [&](int x, int y) { Black(dib, x, y); });
}

TCleanupOptions Options(bool centerline, double merge)
{
    TCleanupOptions o;
    o.Centerline = centerline;
    o.Merge = merge;
    return o;
}

// Thinning on 2 and 3 threads leaves the mask thinning on one does.
void ExpectThinningOnThreadsAsOnOne(const TBlackMask &mask)
{
    TBlackMask one = mask;
    CenterlineSteps::Thin(one, 1);
    for (int threads : {2, 3}) {
        TBlackMask many = mask;
        CenterlineSteps::Thin(many, threads);
        for (int y = 0; y < mask.Height(); ++y)
            for (int i = 0; i < mask.Words(); ++i)
                ASSERT_EQ(many.Line(y)[i], one.Line(y)[i]) << threads << ' ' << y << ' ' << i;
    }
}

struct TDrawingCase
{
    const char *Name;
    std::function<TTzDIB()> Picture;
    TCleanupOptions Options;
    std::vector<TSeg> Expected;
};

TEST(CleanupTest, DrawingsWithKnownLines)
{
    const std::vector<TDrawingCase> cases = {
        // A bar five pixels thick, rows 10 to 14: its middle row, end to end
        // (picture height 30, so row 12 is Y 18).
        {"bar", [] {
             TTzDIB d = WhitePicture(80, 30);
             BlackRect(d, 10, 10, 69, 14);
             return d;
         },
         Options(true, 0), {{10, 18, 69, 18}}},
        {"bar merged", [] {
             TTzDIB d = WhitePicture(80, 30);
             BlackRect(d, 10, 10, 69, 14);
             return d;
         },
         Options(true, 1), {{10, 18, 69, 18}}},
        // An L of two arms five pixels thick: two lines meeting at the
        // corner's middle (column 12, row 67 of 80).
        {"L", [] {
             TTzDIB d = WhitePicture(80, 80);
             BlackRect(d, 10, 10, 14, 69);
             BlackRect(d, 10, 65, 69, 69);
             return d;
         },
         Options(true, 1), {{12, 70, 12, 13}, {12, 13, 69, 13}}},
        // One pixel wide and one degree off level: a staircase of row runs
        // without merging, one segment with it.
        {"slanted line", [] {
             TTzDIB d = WhitePicture(240, 20);
             BlackLine(d, 10, 10, 209, 10 - static_cast<int>(std::lround(199 * std::tan(std::numbers::pi / 180))));
             return d;
         },
         Options(false, 1), {{10, 10, 209, 13}}},
    };
    for (const TDrawingCase &c : cases)
        EXPECT_EQ(Traced(c.Picture(), c.Options), c.Expected) << c.Name;

    // A square ring six pixels thick (columns and rows 10 to 49, hole 16 to
    // 43) stays one closed line of four sides, each corner within a pixel of
    // the middle of the stroke's corner.
    TTzDIB ring = WhitePicture(60, 60);
    BlackRect(ring, 10, 10, 49, 49);
    for (int y = 16; y <= 43; ++y)
        for (int x = 16; x <= 43; ++x)
            ring.SetPixels(x, y, 0);
    const auto sides = Traced(ring, Options(true, 1));
    ASSERT_EQ(sides.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const TSeg &s = sides[i], &next = sides[(i + 1) % 4];
        EXPECT_TRUE(s.X2 == next.X1 && s.Y2 == next.Y1) << i;
        const bool left = s.X1 < 30, low = s.Y1 < 30;
        EXPECT_LE(std::abs(s.X1 - (left ? 12.5 : 46.5)), 1.0) << s;
        EXPECT_LE(std::abs(s.Y1 - (low ? 13.5 : 47.5)), 1.0) << s;
    }

    // Unmerged, the slanted line is many row runs.
    TTzDIB slanted = cases[3].Picture();
    EXPECT_GT(Traced(slanted, TCleanupOptions{}).size(), 3u);
}

// Merged centre lines of strokes an even number of pixels wide lie on the
// stroke's middle, between two pixel rows, exactly level or upright, end to
// end, however long; where strokes meet, their lines still meet.
TEST(CleanupTest, MergedCentreLinesOfEvenStrokesAreStraightAndCentred)
{
    struct TBar
    {
        const char *Name;
        int Width, Height, X0, Y0, X1, Y1;   // picture size, the bar's first and last column and row
        TSegment Expected;                   // Y = height - row
    };
    const TBar bars[] = {
        // Rows 10-13: the middle is row 11.5, Y 30 - 11.5.
        {"4-px level", 80, 30, 10, 10, 69, 13, {10, 18.5f, 69, 18.5f}},
        {"2-px upright", 30, 80, 10, 5, 11, 74, {10.5f, 75, 10.5f, 6}},
        {"4-px level, long", 3400, 30, 20, 10, 3299, 13, {20, 18.5f, 3299, 18.5f}},
        {"6-px upright, long", 30, 1500, 8, 10, 13, 1409, {10.5f, 1490, 10.5f, 91}},
        {"8-px level", 400, 40, 5, 20, 394, 27, {5, 16.5f, 394, 16.5f}},
    };
    for (const TBar &b : bars) {
        TTzDIB d = WhitePicture(b.Width, b.Height);
        BlackRect(d, b.X0, b.Y0, b.X1, b.Y1);
        const auto lines = TracedExactly(d, Options(true, 1));
        ASSERT_EQ(lines.size(), 1u) << b.Name;
        const TSegment &l = lines[0];
        EXPECT_EQ(std::tie(l.X1, l.Y1, l.X2, l.Y2), std::tie(b.Expected.X1, b.Expected.Y1, b.Expected.X2, b.Expected.Y2))
            << b.Name << ": " << l.X1 << ' ' << l.Y1 << ' ' << l.X2 << ' ' << l.Y2;
    }

    // A T of 4-px strokes: the bar (rows 20-23, middle Y 60 - 21.5) and the
    // stem (columns 40-43, middle X 41.5) meet in one point on both middles.
    TTzDIB t = WhitePicture(90, 60);
    BlackRect(t, 10, 20, 79, 23);
    BlackRect(t, 40, 24, 43, 54);
    const auto lines = TracedExactly(t, Options(true, 1));
    ASSERT_EQ(lines.size(), 3u) << [&] {
        std::ostringstream out;
        for (const TSegment &l : lines)
            out << l.X1 << ' ' << l.Y1 << ' ' << l.X2 << ' ' << l.Y2 << "; ";
        return out.str();
    }();
    int atJunction = 0;
    for (const TSegment &l : lines) {
        for (auto [x, y] : {std::pair{l.X1, l.Y1}, std::pair{l.X2, l.Y2}})
            atJunction += x == 41.5f && y == 38.5f;
        EXPECT_TRUE(l.Y1 == l.Y2 || l.X1 == l.X2) << l.X1 << ' ' << l.Y1 << ' ' << l.X2 << ' ' << l.Y2;
    }
    EXPECT_EQ(atJunction, 3);

    // A 4-px stroke rising 3 px over 300 (every pixel whose centre lies
    // within 2 px of the line from (10, 20.5) to (310, 23.5), rows down):
    // one line, still rising, its ends within a quarter pixel of the line.
    TTzDIB slanted = WhitePicture(330, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 330; ++x) {
            const double t = std::clamp((x - 10) / 300.0, 0.0, 1.0);
            if (std::hypot(x - (10 + 300 * t), y - (20.5 + 3 * t)) <= 2)
                Black(slanted, x, y);
        }
    const auto rising = TracedExactly(slanted, Options(true, 1));
    ASSERT_EQ(rising.size(), 1u);
    const TSegment &r = rising[0];
    // Y = 40 - row; the line at column x lies at row 20.5 + 3 (x - 10) / 300.
    for (auto [x, y] : {std::pair{r.X1, r.Y1}, std::pair{r.X2, r.Y2}})
        EXPECT_LE(std::abs(40 - y - (20.5 + 3 * (x - 10) / 300.0)), 0.25) << x << ' ' << y;
    EXPECT_NEAR(r.Y1 - r.Y2, 3 * (r.X2 - r.X1) / 300.0, 0.25);
}

// Corners drawn on and line ends run on never leave the picture: random
// blots and strokes on narrow pictures, merged at several tolerances.
TEST(CleanupTest, MergedSegmentsStayWithinThePicture)
{
    std::mt19937 random(29);
    for (int round = 0; round < 300; ++round) {
        const int width = 8 + int(random() % 24), height = 8 + int(random() % 64);
        TTzDIB d = WhitePicture(width, height);
        for (int k = 0, n = 1 + int(random() % 6); k < n; ++k) {
            const int x0 = int(random() % width), y0 = int(random() % height);
            const int x1 = int(random() % width), y1 = int(random() % height);
            if (random() % 2)
                BlackRect(d, std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::min(std::max(y0, y1), std::min(y0, y1) + 6));
            else
                BlackLine(d, x0, y0, x1, y1);
        }
        TCleanupOptions options = Options(random() % 2 == 0, 0.5 + (random() % 8) * 0.625);
        options.Despeckle = int(random() % 3) * 7;
        for (const TSeg &s : Traced(d, options))
            for (const auto &[x, y] : {std::pair{s.X1, s.Y1}, std::pair{s.X2, s.Y2}})
                ASSERT_TRUE(x >= 0 && x < width && y >= 0 && y <= height)
                    << round << ": " << s << " in " << width << " x " << height;
    }
}

TEST(CleanupTest, RaggedEdgesLeaveNoSpurs)
{
    // Bars 5, 7 and 9 pixels thick whose edges carry random bumps and bites
    // of one to two pixels: each thins to a single line from end to end.
    std::mt19937 random(21);
    for (int thick : {5, 7, 9}) {
        TBlackMask mask(200, 40);
        for (int x = 10; x < 190; ++x) {
            const int top = 15 - int(random() % 3) + 1, bottom = 15 + thick - 1 + int(random() % 3) - 1;
            for (int y = top; y <= bottom; ++y)
                mask.SetBlack(x, y);
        }
        const auto chains = PixelChains(Centerline(mask));
        ASSERT_EQ(chains.size(), 1u) << thick;
        const auto [left, right] = std::minmax(chains[0].front().X, chains[0].back().X);
        EXPECT_LE(left, 11) << thick;
        EXPECT_GE(right, 188) << thick;
    }
}

TEST(CleanupTest, SpursAreTheBranchesNoLongerThanTheStrokeIsDeep)
{
    // Skeletons of random blocks with single white pixels punched in (a
    // pixel beside such a hole lies far shallower than the hole's own depth,
    // measured to the nearest other paper): the branches cut are exactly
    // those from a line end to a junction whose length is at most the
    // largest depth among the junction's eight neighbours and a pixel, each
    // depth counted here ring by ring.
    using namespace PixelNeighbours;
    std::mt19937 random(11);
    int cut = 0;
    for (int round = 0; round < 4; ++round) {
        TBlackMask original(160, 120);
        for (int k = 0; k < 30; ++k) {
            const int x0 = int(random() % 150), y0 = int(random() % 110);
            const int w = 2 + int(random() % 30), h = 2 + int(random() % 30);
            for (int y = y0; y < std::min(y0 + h, 120); ++y)
                for (int x = x0; x < std::min(x0 + w, 160); ++x)
                    original.SetBlack(x, y);
        }
        for (int k = 0; k < 60; ++k)
            Clear(original, int(random() % 160), int(random() % 120));
        TBlackMask skeleton = original;
        CenterlineSteps::Thin(skeleton);
        CenterlineSteps::RemoveStaircases(skeleton);
        const auto depth = [&](int x, int y) {
            for (int r = 1; r < 256; ++r)
                for (int dy = -r; dy <= r; ++dy)
                    for (int dx = -r; dx <= r; dx += (std::abs(dy) == r ? 1 : 2 * r))
                        if (!original.Black(x + dx, y + dy))
                            return r;
            return 256;
        };
        TBlackMask expected = skeleton;
        for (int y0 = 0; y0 < 120; ++y0)
            for (int x0 = 0; x0 < 160; ++x0) {
                if (!skeleton.Black(x0, y0) || Count(Code(skeleton, x0, y0)) != 1)
                    continue;
                std::vector<std::pair<int, int>> path;
                for (int x = x0, y = y0, px = -2, py = -2;;) {
                    const unsigned code = Code(skeleton, x, y);
                    if (Count(code) >= 3) {
                        int deepest = 0;
                        for (int k = 0; k < 8; ++k)
                            deepest = std::max(deepest, depth(x + DX[std::size_t(k)], y + DY[std::size_t(k)]));
                        if (int(path.size()) <= deepest + 1)
                            for (const auto &[sx, sy] : path)
                                Clear(expected, sx, sy), ++cut;
                        break;
                    }
                    path.emplace_back(x, y);
                    if (Count(code) == 0 || (Count(code) == 1 && path.size() > 1) || path.size() > 256)
                        break;
                    int nx = -2, ny = -2;
                    NextAlong(code, x, y, px, py, nx, ny);
                    px = x, py = y, x = nx, y = ny;
                }
            }
        for (int threads : {1, 2}) {
            TBlackMask pruned = skeleton;
            CenterlineSteps::PruneSpurs(pruned, original, threads);
            for (int y = 0; y < 120; ++y)
                for (int i = 0; i < pruned.Words(); ++i)
                    ASSERT_EQ(pruned.Line(y)[i], expected.Line(y)[i]) << round << ' ' << threads << ' ' << y << ' ' << i;
        }
    }
    EXPECT_GT(cut, 20);
}

TEST(CleanupTest, DespeckleRemovesSpecksAndFillsHoles)
{
    // A speck of three pixels (an L, 8-connected through a corner), one of
    // five, and a ring with a hole of three pixels; a notch of three white
    // pixels at the picture's edge is no hole.
    TTzDIB d = WhitePicture(70, 20);
    Black(d, 2, 2);
    Black(d, 3, 3);
    Black(d, 3, 4);
    BlackRect(d, 10, 2, 14, 2);
    BlackRect(d, 20, 2, 26, 8);
    BlackRect(d, 22, 5, 24, 5);
    for (int x = 22; x <= 24; ++x)
        d.SetPixels(x, 5, 0);
    BlackRect(d, 60, 0, 69, 6);
    for (int x = 67; x <= 69; ++x)
        d.SetPixels(x, 3, 0);
    const TBlackMask mask = TBlackMask::FromImage(d);
    struct
    {
        int MaxPixels;
        bool SpeckOf3, SpeckOf5, HoleOf3, EdgeNotch;
    } const cases[] = {{0, true, true, false, false}, {2, true, true, false, false},
                       {3, false, true, true, false}, {4, false, true, true, false},
                       {5, false, false, true, false}};
    for (const auto &c : cases) {
        const TBlackMask m = Despeckle(mask, c.MaxPixels);
        EXPECT_EQ(m.Black(2, 2) && m.Black(3, 3) && m.Black(3, 4), c.SpeckOf3) << c.MaxPixels;
        EXPECT_EQ(m.Black(12, 2), c.SpeckOf5) << c.MaxPixels;
        EXPECT_EQ(m.Black(23, 5), c.HoleOf3) << c.MaxPixels;
        EXPECT_EQ(m.Black(68, 3), c.EdgeNotch) << c.MaxPixels;
        EXPECT_TRUE(m.Black(20, 2) && m.Black(60, 0));
    }
}

TEST(CleanupTest, GreyAndColourInkByThreshold)
{
    // A stroke of grey 60 on white, as an 8-bit palette picture and as 24 bits.
    TTzDIB palette;
    palette.SetBitCount(8);
    palette.SetWidth(40);
    palette.SetHeight(10);
    palette.SetColors(0, 0xFFFFFF);
    palette.SetColors(1, 0x3C3C3C);
    TTzDIB colour;
    colour.SetBitCount(24);
    colour.SetWidth(40);
    colour.SetHeight(10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool stroke = y >= 4 && y <= 6 && x >= 5 && x <= 34;
            palette.SetPixels(x, y, stroke ? 1 : 0);
            // Red 30, green 70, blue 60: luminance (299*30 + 587*70 + 114*60 + 500) / 1000 = 57.
            colour.SetPixels(x, y, stroke ? 0x3C461E : 0xFFFFFF);
        }
    auto inkPixels = [](const TBlackMask &m) {
        int n = 0;
        for (int y = 0; y < m.Height(); ++y)
            for (int x = 0; x < m.Width(); ++x)
                n += m.Black(x, y);
        return n;
    };
    struct
    {
        const char *Threshold;
        int Ink;
    } const cases[] = {{"", 0}, {"128", 90}, {"61", 90}, {"60", 0}, {"57", 0}, {"auto", 90}, {"0", 0}};
    for (const auto &c : cases) {
        const auto options = TCleanupOptions::ParseThreshold(QString::fromLatin1(c.Threshold), TCleanupOptions{});
        ASSERT_TRUE(options) << c.Threshold;
        EXPECT_EQ(inkPixels(CleanMask(palette, *options)), c.Ink) << c.Threshold;
        // The colour stroke's luminance is 57: ink below 58, not at 57.
        const int colourInk = c.Ink == 0 && std::string(c.Threshold) == "60" ? 90 : c.Ink;
        EXPECT_EQ(inkPixels(CleanMask(colour, *options)), colourInk) << c.Threshold;
    }
    EXPECT_EQ(inkPixels(ThresholdMask(colour, 58)), 90);
    EXPECT_EQ(inkPixels(ThresholdMask(colour, 57)), 0);
    // Otsu on two levels splits between them; a single level leaves exact black only.
    TLuminanceHistogram histogram{};
    histogram[20] = 100;
    histogram[200] = 900;
    const int level = OtsuLevel(histogram);
    EXPECT_GT(level, 20);
    EXPECT_LE(level, 200);
    TLuminanceHistogram flat{};
    flat[90] = 5;
    EXPECT_EQ(OtsuLevel(flat), 1);
    // The one-pass window of a sample spans the empty levels between ink and
    // paper however far they reach, and stops at the first level that would
    // take it past 1/128 of the sample's pixels.
    struct
    {
        std::uint64_t Ink, Paper;
        TLevelWindow Window;
    } const windows[] = {{500, 100000, {0, 220}}, {1000, 100000, {21, 220}}, {1000000, 100000, {21, 220}}};
    for (const auto &w : windows) {
        TLuminanceHistogram sample{};
        sample[20] = w.Ink;
        sample[220] = w.Paper;
        const TLevelWindow found = GuessLevelWindow(sample);
        EXPECT_EQ(found.Low, w.Window.Low) << w.Ink;
        EXPECT_EQ(found.High, w.Window.High) << w.Ink;
    }
}

TEST(CleanupTest, ThinningSkipsOnlyUnchangedNeighbourhoods)
{
    // Random blobs and strokes over several words and lines: the thinning
    // that tests only changed neighbourhoods, in bands of lines on several
    // threads, ends exactly where testing every pixel does; so does the whole
    // centre line, whose staircase removals after the first test only the
    // words around the pixels that spurs and line ends changed.
    std::mt19937 random(5);
    int pruned = 0;
    for (int round = 0; round < 6; ++round) {
        TBlackMask mask(150 + 20 * round, 90 + 40 * round);
        for (int k = 0; k < 25 + 10 * round; ++k) {
            const int x0 = int(random() % 140), y0 = int(random() % unsigned(mask.Height() - 10));
            const int w = 1 + int(random() % 25), h = 1 + int(random() % 40);
            for (int y = y0; y < std::min(y0 + h, mask.Height()); ++y)
                for (int x = x0; x < std::min(x0 + w, mask.Width()); ++x)
                    mask.SetBlack(x, y);
        }
        TBlackMask reference = mask;
        ThinEveryPixel(reference);
        for (int threads : {1, 2, 3, 5}) {
            TBlackMask fast = mask;
            CenterlineSteps::Thin(fast, threads);
            for (int y = 0; y < mask.Height(); ++y)
                for (int i = 0; i < mask.Words(); ++i)
                    ASSERT_EQ(fast.Line(y)[i], reference.Line(y)[i]) << round << ' ' << threads << ' ' << y << ' ' << i;
        }
        RemoveStaircasesEveryPixel(reference);
        for (int r = 0; r < 4 && CenterlineSteps::PruneSpurs(reference, mask); ++r, ++pruned)
            RemoveStaircasesEveryPixel(reference);
        CenterlineSteps::ExtendEnds(reference, mask);
        RemoveStaircasesEveryPixel(reference);
        for (int threads : {1, 3}) {
            const TBlackMask centre = Centerline(mask, threads);
            for (int y = 0; y < mask.Height(); ++y)
                for (int i = 0; i < mask.Words(); ++i)
                    ASSERT_EQ(centre.Line(y)[i], reference.Line(y)[i]) << round << ' ' << threads << ' ' << y << ' ' << i;
        }
    }
    EXPECT_GT(pruned, 3);
}

TEST(CleanupTest, ThinningOfALargeSheetIsTheSameOnEveryThreadCount)
{
    // Blocks up to 120 pixels thick on a sheet large enough that the last
    // sub-passes, which test listed words in parts of lines, share them over
    // the threads: the same skeleton as on one thread.
    std::mt19937 random(7);
    TBlackMask mask(6000, 5000);
    for (int k = 0; k < 1500; ++k) {
        const int x0 = int(random() % 5950), y0 = int(random() % 4950);
        const int w = 2 + int(random() % 120), h = 2 + int(random() % 120);
        for (int y = y0; y < std::min(y0 + h, mask.Height()); ++y)
            for (int x = x0; x < std::min(x0 + w, mask.Width()); ++x)
                mask.SetBlack(x, y);
    }
    ExpectThinningOnThreadsAsOnOne(mask);
}

TEST(CleanupTest, ThinningInPartsOfLinesReadsTheLinesBesideEachPart)
{
    // Long bars, thinned from the first sub-passes on a word at a time from
    // listed changes, whose edges move across the edges of the parts of lines
    // the threads take: each part lists the words beside the changes on the
    // lines just outside it too, so the skeleton is that of one thread.
    TBlackMask mask(2000, 1000);
    for (int k = 0; k < 6; ++k)
        for (int y = 20 + 160 * k; y < 20 + 160 * k + 61 + 9 * k; ++y)
            for (int x = 10 + 13 * k; x < 1990 - 11 * k; ++x)
                mask.SetBlack(x, y);
    ExpectThinningOnThreadsAsOnOne(mask);
}

TEST(CleanupTest, StaircasesAndPackingAgreeWithThePixelByPixelWays)
{
    // Random specks, boxes and box outlines across word edges: the staircase
    // removal 64 pixels at a time removes what removing pixel by pixel in
    // line order does, and a packed mask unpacks bit for bit.
    std::mt19937 random(11);
    for (int round = 0; round < 60; ++round) {
        TBlackMask mask(20 + int(random() % 200), 10 + int(random() % 90));
        for (int k = 0; k < 40; ++k) {
            const int x0 = int(random() % unsigned(mask.Width())), y0 = int(random() % unsigned(mask.Height()));
            const int w = 1 + int(random() % (round % 3 == 0 ? 2 : 24)), h = 1 + int(random() % 24);
            for (int y = y0; y < std::min(y0 + h, mask.Height()); ++y)
                for (int x = x0; x < std::min(x0 + w, mask.Width()); ++x)
                    if (round % 2 == 0 || x == x0 || y == y0 || x == x0 + w - 1 || y == y0 + h - 1)
                        mask.SetBlack(x, y);
        }
        TBlackMask fast = mask, reference = mask;
        CenterlineSteps::RemoveStaircases(fast);
        RemoveStaircasesEveryPixel(reference);
        const TBlackMask unpacked = TPackedMask(mask).Unpack();
        ASSERT_EQ(unpacked.Width(), mask.Width());
        ASSERT_EQ(unpacked.Height(), mask.Height());
        for (int y = 0; y < mask.Height(); ++y)
            for (int i = 0; i < mask.Words(); ++i) {
                ASSERT_EQ(fast.Line(y)[i], reference.Line(y)[i]) << round << ' ' << y << ' ' << i;
                ASSERT_EQ(unpacked.Line(y)[i], mask.Line(y)[i]) << round << ' ' << y << ' ' << i;
            }
    }
    // Runs of 3 white, 7 black, 190 white, then 0 white, 200 black, 0
    // white: lengths from 128 on take two bytes.
    TBlackMask two(200, 2);
    for (int x = 0; x < 200; ++x) {
        if (x >= 3 && x < 10)
            two.SetBlack(x, 0);
        two.SetBlack(x, 1);
    }
    EXPECT_EQ(TPackedMask(two).Bytes(), 8u);
    EXPECT_EQ(TPackedMask(TBlackMask(0, 0)).Unpack().Width(), 0);
    // A tall mask packed and unpacked in bands of lines on several threads:
    // the same bytes, the same pixels.
    TBlackMask tall(150, 1000);
    for (int k = 0; k < 20000; ++k)
        tall.SetBlack(int(random() % 150), int(random() % 1000));
    const TPackedMask one(tall);
    for (int threads : {2, 3, 7}) {
        const TPackedMask banded(tall, threads);
        EXPECT_EQ(banded.Bytes(), one.Bytes());
        for (const TBlackMask &unpacked : {banded.Unpack(), banded.Unpack(threads), one.Unpack(threads)})
            for (int y = 0; y < tall.Height(); ++y)
                for (int i = 0; i < tall.Words(); ++i)
                    ASSERT_EQ(unpacked.Line(y)[i], tall.Line(y)[i]) << threads << ' ' << y << ' ' << i;
    }
    // Its pixels read where they lie, lines far apart in turn (slots taken
    // over), and beside the mask (white), as the mask's own; a line's words
    // as the mask's, with a zero word either side.
    const TPackedMask banded(tall, 3);
    const TPackedMaskLines lines(banded);
    for (int k = -1; k <= tall.Height(); ++k) {
        const int y = k < 0 || k == tall.Height() ? k : (k * 67) % tall.Height();
        for (int x = -1; x <= tall.Width(); ++x)
            ASSERT_EQ(lines.Black(x, y), tall.Black(x, y)) << x << ' ' << y;
        if (y >= 0 && y < tall.Height()) {
            for (int i = -1; i <= tall.Words(); ++i)
                ASSERT_EQ(lines.Line(y)[i], tall.Line(y)[i]) << y << ' ' << i;
        }
    }
    // A mask that goes, large enough for whole pages within a band of lines
    // to be given back while the next bands are packed: the same bytes.
    TBlackMask large(4000, 2000);
    for (int k = 0; k < 200000; ++k)
        large.SetBlack(int(random() % 4000), int(random() % 2000));
    const TPackedMask kept(large, 2);
    TBlackMask going = large;
    const TPackedMask taken(std::move(going), 2);
    EXPECT_EQ(going.Width(), 0);
    ASSERT_EQ(taken.Bytes(), kept.Bytes());
    const TBlackMask back = taken.Unpack(2);
    for (int y = 0; y < large.Height(); ++y)
        for (int i = 0; i < large.Words(); ++i)
            ASSERT_EQ(back.Line(y)[i], large.Line(y)[i]) << y << ' ' << i;
}

TEST(CleanupTest, ChainsTakenFromTheEndMetFirst)
{
    // An arch (its top pixels have no neighbour above) and a closed line
    // with two tops: the arch from its left end, then the closed line from
    // its first pixel in line order around to it again.
    const std::vector<TPixel> arch{{7, 2}, {8, 1}, {9, 1}, {10, 2}};
    const std::vector<TPixel> ring{{1, 1}, {0, 2}, {0, 3}, {1, 4}, {2, 4}, {3, 4},
                                   {4, 3}, {4, 2}, {3, 1}, {2, 2}, {1, 1}};
    TBlackMask mask(12, 6);
    for (const TPixel &p : arch)
        mask.SetBlack(p.X, p.Y);
    for (const TPixel &p : ring)
        mask.SetBlack(p.X, p.Y);
    EXPECT_EQ(PixelChains(mask), (std::vector<std::vector<TPixel>>{arch, ring}));
}

TEST(CleanupTest, OptionTexts)
{
    struct
    {
        const char *Text;
        bool Valid;
        TCleanupOptions::TThreshold Kind;
        int Level;
    } const thresholds[] = {
        {"", true, TCleanupOptions::TThreshold::Exact, 0},     {"auto", true, TCleanupOptions::TThreshold::Automatic, 0},
        {"AUTO", true, TCleanupOptions::TThreshold::Automatic, 0}, {"128", true, TCleanupOptions::TThreshold::Level, 128},
        {"0", true, TCleanupOptions::TThreshold::Level, 0},     {"255", true, TCleanupOptions::TThreshold::Level, 255},
        {"256", false, {}, 0}, {"-1", false, {}, 0}, {"12x", false, {}, 0}, {"1.5", false, {}, 0},
    };
    for (const auto &t : thresholds) {
        const auto o = TCleanupOptions::ParseThreshold(QString::fromLatin1(t.Text), TCleanupOptions{});
        ASSERT_EQ(o.has_value(), t.Valid) << t.Text;
        if (o) {
            EXPECT_EQ(o->Threshold, t.Kind) << t.Text;
            EXPECT_EQ(o->ThresholdLevel, t.Level) << t.Text;
        }
    }
    EXPECT_EQ(TCleanupOptions::ParseMerge(QString()), 0.0);
    EXPECT_EQ(TCleanupOptions::ParseMerge(QStringLiteral("1.5")), 1.5);
    EXPECT_FALSE(TCleanupOptions::ParseMerge(QStringLiteral("-1")));
    EXPECT_FALSE(TCleanupOptions::ParseMerge(QStringLiteral("one")));
    EXPECT_FALSE(TCleanupOptions::ParseMerge(QStringLiteral("inf")));
    EXPECT_EQ(TCleanupOptions::ParseDespeckle(QStringLiteral("4")), 4);
    EXPECT_FALSE(TCleanupOptions::ParseDespeckle(QStringLiteral("-4")));
    EXPECT_FALSE(TCleanupOptions::ParseDespeckle(QStringLiteral("2.5")));
}

TEST(CleanupTest, AllOffLeavesMaskAndSegmentsAsTheyAre)
{
    // Grey, colour and black pixels: all off, only exact black is ink, and
    // the segments come back untouched (same records, same order).
    std::mt19937 random(9);
    TTzDIB d;
    d.SetBitCount(24);
    d.SetWidth(70);
    d.SetHeight(30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 70; ++x)
            d.SetPixels(x, y, random() % 3 == 0 ? 0 : (random() % 2 ? 0x3C3C3C : 0xFFFFFF));
    const TTzDIB copy = d;
    const TBlackMask off = CleanMask(d, TCleanupOptions{});
    const TBlackMask exact = TBlackMask::FromImage(copy);
    for (int y = 0; y < 30; ++y)
        ASSERT_EQ(off.Line(y)[0], exact.Line(y)[0]) << y;
    const std::vector<TSegment> segments{{1, 2, 3, 4}, {3, 4, 1, 2}, {0, 0, 0, 0}, {5, 5, 5, 9}};
    const auto kept = CleanSegments(segments, TCleanupOptions{});
    ASSERT_EQ(kept.size(), segments.size());
    EXPECT_EQ(std::memcmp(kept.data(), segments.data(), segments.size() * sizeof(TSegment)), 0);
}

} // namespace

#include "scan/ScanFixture.h"

#include "cleanup/CleanupFilters.h"

namespace {

class CleanupDriverTest : public ScanFixture
{
protected:
    // A drawing with thick and thin strokes, grey and black, and a speck.
    static TTzDIB Drawing()
    {
        TTzDIB d;
        d.SetBitCount(8);
        d.SetWidth(90);
        d.SetHeight(70);
        d.SetColors(0, 0xFFFFFF);
        d.SetColors(1, 0);
        d.SetColors(2, 0x3C3C3C);
        for (int x = 5; x < 85; ++x)
            for (int y = 10; y < 15; ++y)
                d.SetPixels(x, y, 1);
        for (int y = 5; y < 65; ++y)
            for (int x = 40; x < 43; ++x)
                d.SetPixels(x, y, y % 2 ? 2 : 1);
        for (int x = 10; x < 80; ++x)
            d.SetPixels(x, 60 - x / 4, 1);
        d.SetPixels(70, 40, 1);
        return d;
    }

    std::vector<TSeg> Converted(int mode, const TScanFilters *filters)
    {
        Settings.PixelScanMode = mode;
        TScanDriver driver(State, Settings, UI, Formats);
        driver.SetFilters(filters);
        EXPECT_EQ(driver.ScanData(Save(Drawing())), ScanDone);
        return Segs();
    }
};

TEST_F(CleanupDriverTest, AllOffFiltersChangeNoSegmentOfAnyMethod)
{
    const TCleanupFilters off(CleanupOptionsOf(TSettings::Defaults()));
    ASSERT_FALSE(CleanupOptionsOf(TSettings::Defaults()).AnyStep());
    for (int mode = 1; mode <= 3; ++mode) {
        const std::vector<TSeg> plain = Converted(mode, nullptr);
        EXPECT_FALSE(plain.empty());
        EXPECT_EQ(Converted(mode, &off), plain) << mode;
    }
}

TEST_F(CleanupDriverTest, SettingsDriveEveryStepAndTheCountFollows)
{
    TSettings s = TSettings::Defaults();
    s.CleanupThreshold = QStringLiteral("128");
    s.CleanupDespeckle = 2;
    s.CleanupCenterline = true;
    s.CleanupMerge = QStringLiteral("1");
    const TCleanupOptions options = CleanupOptionsOf(s);
    EXPECT_EQ(options.Threshold, TCleanupOptions::TThreshold::Level);
    EXPECT_EQ(options.ThresholdLevel, 128);
    EXPECT_EQ(options.Despeckle, 2);
    EXPECT_TRUE(options.Centerline);
    EXPECT_EQ(options.Merge, 1.0);
    const TCleanupFilters filters(options);
    const std::vector<TSeg> plain = Converted(1, nullptr);
    const std::vector<TSeg> cleaned = Converted(1, &filters);
    // The bar, the grey and black upright stroke and the slanted line, each
    // split where the others cross it: a handful of lines instead of a
    // staircase, and the speck (column 70, Y 30) gone.
    EXPECT_GE(cleaned.size(), 7u);
    EXPECT_LE(cleaned.size(), 10u) << ::testing::PrintToString(cleaned);
    for (const TSeg &c : cleaned)
        EXPECT_FALSE(std::abs(c.X1 - 70) <= 1 && std::abs(c.Y1 - 30) <= 1) << c;
    EXPECT_GT(plain.size(), 5 * cleaned.size());
    EXPECT_EQ(State.SegmentCount, static_cast<int>(cleaned.size()));
    // Stored texts that do not parse leave their step off.
    s.CleanupThreshold = QStringLiteral("dark");
    s.CleanupMerge = QStringLiteral("-1");
    EXPECT_EQ(CleanupOptionsOf(s).Threshold, TCleanupOptions::TThreshold::Exact);
    EXPECT_EQ(CleanupOptionsOf(s).Merge, 0.0);
}

} // namespace
