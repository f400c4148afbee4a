#include "text/TextSeparation.h"

#include "base/TaskPool.h"
#include "base/Threads.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <thread>
#include <utility>

namespace {

// A disjoint-set forest over 0 .. n - 1; the smaller index is the root.
class TUnion
{
public:
    explicit TUnion(std::size_t n) : Parent(n) { std::iota(Parent.begin(), Parent.end(), 0); }
    int Find(int i)
    {
        while (Parent[static_cast<std::size_t>(i)] != i) {
            int &p = Parent[static_cast<std::size_t>(i)];
            p = Parent[static_cast<std::size_t>(p)];
            i = p;
        }
        return i;
    }
    void Join(int a, int b)
    {
        a = Find(a);
        b = Find(b);
        if (a == b)
            return;
        if (a < b)
            Parent[static_cast<std::size_t>(b)] = a;
        else
            Parent[static_cast<std::size_t>(a)] = b;
    }
    void Add() { Parent.push_back(static_cast<int>(Parent.size())); }

private:
    std::vector<int> Parent;
};

struct TBox
{
    int Left, Top, Right, Bottom;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    int Long() const { return std::max(Width(), Height()); }
    int Short() const { return std::min(Width(), Height()); }
    void Add(const TBox &o)
    {
        Left = std::min(Left, o.Left);
        Top = std::min(Top, o.Top);
        Right = std::max(Right, o.Right);
        Bottom = std::max(Bottom, o.Bottom);
    }
    // The box as seen with rows and columns exchanged.
    TBox Turned() const { return TBox{Top, Left, Bottom, Right}; }
};

// Boxes filed by the grid cells they cover, so that near boxes are found
// without comparing every pair: every box is inserted, then Finish() sorts
// them by cell (counting sort into one array; no container per cell).
class TBoxGrid
{
public:
    TBoxGrid(int cell, int width, int height)
        : Cell(std::max(cell, 1)), Columns(std::max(width, 1) / Cell + 1), Rows(std::max(height, 1) / Cell + 1)
    {
    }
    void Insert(int index, const TBox &box)
    {
        ForCells(box, [&](int c) { Entries.emplace_back(c, index); });
    }
    void Finish()
    {
        Start.assign(static_cast<std::size_t>(Columns) * Rows + 1, 0);
        for (const auto &[c, i] : Entries)
            ++Start[static_cast<std::size_t>(c) + 1];
        for (std::size_t c = 1; c < Start.size(); ++c)
            Start[c] += Start[c - 1];
        Items.resize(Entries.size());
        std::vector<int> fill(Start.begin(), Start.end() - 1);
        for (const auto &[c, i] : Entries)
            Items[static_cast<std::size_t>(fill[static_cast<std::size_t>(c)]++)] = i;
        Entries = {};
    }
    // Every index filed in a cell that `box` covers (an index may come more than once).
    template <class F>
    void ForNear(const TBox &box, F &&f) const
    {
        ForCells(box, [&](int c) {
            for (int k = Start[static_cast<std::size_t>(c)]; k < Start[static_cast<std::size_t>(c) + 1]; ++k)
                f(Items[static_cast<std::size_t>(k)]);
        });
    }

private:
    template <class F>
    void ForCells(const TBox &box, F &&f) const
    {
        const int x0 = std::clamp(box.Left / Cell, 0, Columns - 1), x1 = std::clamp((box.Right - 1) / Cell, 0, Columns - 1);
        const int y0 = std::clamp(box.Top / Cell, 0, Rows - 1), y1 = std::clamp((box.Bottom - 1) / Cell, 0, Rows - 1);
        for (int cy = std::max(y0, 0); cy <= y1; ++cy)
            for (int cx = std::max(x0, 0); cx <= x1; ++cx)
                f(cy * Columns + cx);
    }
    int Cell, Columns, Rows;
    std::vector<std::pair<int, int>> Entries;
    std::vector<int> Start, Items;
};

// Sets (or clears) pixels x0 .. x1 - 1 of a line.
void SetRun(std::uint64_t *line, int x0, int x1, bool black)
{
    while (x0 < x1) {
        const int word = x0 >> 6;
        const int first = x0 & 63;
        const int last = std::min(x1 - 64 * word, 64);
        std::uint64_t bits = (last == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << last) - 1)
            & (~std::uint64_t(0) << first);
        if (black)
            line[word] |= bits;
        else
            line[word] &= ~bits;
        x0 = 64 * word + last;
    }
}

// Sums of the pixels' coordinates and their squares and product: how the ink
// spreads, to tell a straight stroke in any direction.
struct TMoments
{
    double N = 0, X = 0, Y = 0, XX = 0, YY = 0, XY = 0;
    // Pixels x0 .. x1 - 1 of line y.
    void AddRun(int y, int x0, int x1)
    {
        const double n = x1 - x0, sx = n * (x0 + x1 - 1) / 2;
        auto squares = [](double m) { return m * (m + 1) * (2 * m + 1) / 6; };   // 0^2 + ... + m^2
        N += n;
        X += sx;
        Y += n * y;
        XX += squares(x1 - 1.0) - squares(x0 - 1.0);
        YY += n * double(y) * y;
        XY += sx * y;
    }
    void Add(const TMoments &o)
    {
        N += o.N;
        X += o.X;
        Y += o.Y;
        XX += o.XX;
        YY += o.YY;
        XY += o.XY;
    }
    // A straight stroke at least four times as long as it is thick, whatever
    // its direction: the spread along it at least 16 times that across it.
    bool Straight() const
    {
        if (N <= 0)
            return false;
        const double mx = X / N, my = Y / N;
        const double a = XX / N - mx * mx, b = YY / N - my * my, c = XY / N - mx * my;
        const double mean = (a + b) / 2, d = std::sqrt((a - b) * (a - b) / 4 + c * c);
        return mean + d >= 16 * (mean - d);
    }
    // A drawn circle (a ring) in a square box: the pixels spread alike in
    // every direction about the box's middle and lie near its rim, not
    // across it (a square character's strokes reach the corners, farther
    // than the rim).
    static bool Square(const TBox &box) { return box.Long() - box.Short() <= std::max(2, box.Long() / 20); }
    bool Ring(const TBox &box) const
    {
        const int side = box.Long();
        if (N <= 0 || !Square(box))
            return false;
        const double mx = X / N, my = Y / N;
        const double a = XX / N - mx * mx, b = YY / N - my * my, c = XY / N - mx * my;
        const double half = side / 2.0, tolerance = std::max(1.5, side / 20.0);
        if (std::abs(mx - (box.Left + box.Right - 1) / 2.0) > tolerance
            || std::abs(my - (box.Top + box.Bottom - 1) / 2.0) > tolerance)
            return false;
        if (std::abs(a - b) > 0.1 * (a + b) || std::abs(c) > 0.05 * (a + b))
            return false;
        return a + b >= 0.55 * half * half && a + b <= 1.05 * half * half;
    }
};

struct TGlyph
{
    TBox Box;
    long long Pixels = 0;
    bool Small = false;      // too small to start a string
    bool Thin = false;       // long and thin: a dash, a "1", a "-"
    bool Vertical = false;   // in a string that runs along the columns
    bool OnLine = false;     // only of letters taken off a line
    bool Inside = false;     // alone, within the reach of a string of two or more
    int Side = -1;           // of letters taken off a line: its side (LettersOnLines), 0 for both
    int String = -1;
};

// The direction of (x, y) as a fraction of a full turn, 0 to 1 (from the
// negative x axis, as atan2 / 2 pi + 1 / 2), to a hundred-thousandth of a turn
// (a polynomial for the arc tangent: atan2 itself is slow).
double Turn(double x, double y)
{
    const double ax = std::abs(x), ay = std::abs(y);
    if (ax == 0 && ay == 0)
        return 0.5;
    const double z = std::min(ax, ay) / std::max(ax, ay), z2 = z * z;
    double a = z * (0.9998660 + z2 * (-0.3302995 + z2 * (0.1801410 + z2 * (-0.0851330 + z2 * 0.0208351))));
    if (ay > ax)
        a = M_PI / 2 - a;
    if (x < 0)
        a = M_PI - a;
    if (y < 0)
        a = -a;
    return a / (2 * M_PI) + 0.5;
}

// Whether glyph b continues the string of glyph a along the rows (with boxes
// turned: along the columns).
bool Continues(const TBox &a, const TBox &b, const TTextSizes &sizes)
{
    const int ha = a.Height(), hb = b.Height();
    const int high = std::max(ha, hb), low = std::min(ha, hb);
    if (high > sizes.MaxHeight)
        return false;
    // Up to a word space and a colon between them.
    const int gap = std::max(b.Left - a.Right, a.Left - b.Right);
    if (2 * gap > 3 * high)
        return false;
    const int overlap = std::min(a.Bottom, b.Bottom) - std::max(a.Top, b.Top);
    if (2 * overlap < low)
        return false;
    // Letters of one string are of one size; a dash ("-") is low but long.
    const TBox &lower = ha < hb ? a : b;
    if (lower.Width() >= 2 * lower.Height())
        return true;
    // Much smaller letters (a small kana, a part of a kanji) only within half
    // a letter: two labels of different sizes one after the other are two strings.
    if (2 * high > 3 * low && 2 * gap > high)
        return false;
    return 3 * low >= high;
}

} // namespace

TTextSizes TTextSizes::ForResolution(int dpi)
{
    TTextSizes sizes;
    // No resolution, or a screen's (72, 96 dpi: what programs write when they
    // know none): letters of a drawing scanned at 200 to 400 dpi.
    if (dpi < 150) {
        sizes.MinHeight = 12;
        sizes.MaxHeight = 160;
        return sizes;
    }
    sizes.MinHeight = std::max(4, static_cast<int>(std::lround(dpi / 25.4)));
    sizes.MaxHeight = std::max(sizes.MinHeight + 1, static_cast<int>(std::lround(10 * dpi / 25.4)));
    return sizes;
}

namespace {

// The black runs of line y, in order, written from `out` on: pixels X0 .. X1
// - 1; returns how many. Found 64 pixels at a time: the bits where a pixel
// differs from its left neighbour are the runs' starts and ends, in turn.
int LineRuns(const TBlackMask &mask, int y, TInkRun *out)
{
    const std::uint64_t *line = mask.Line(y);
    const int width = mask.Width(), words = std::min(mask.Words(), (width + 63) / 64);
    TInkRun *const first = out;
    std::uint64_t carry = 0;
    int start = -1;
    for (int w = 0; w < words; ++w) {
        std::uint64_t v = line[w];
        if (64 * (w + 1) > width)
            v &= (std::uint64_t(1) << (width - 64 * w)) - 1;
        std::uint64_t edges = v ^ ((v << 1) | carry);
        carry = v >> 63;
        while (edges) {
            const int x = 64 * w + std::countr_zero(edges);
            edges &= edges - 1;
            if (start < 0) {
                start = x;
            } else {
                *out++ = {start, x};
                start = -1;
            }
        }
    }
    if (start >= 0)
        *out++ = {start, width};
    return static_cast<int>(out - first);
}

// The bands of lines the threads share.
int Bands(int height, int threads)
{
    return std::clamp(std::min(ThreadsPerPicture(threads), height / 256), 1, kMostThreadsPerPicture);
}

// How many bits are set (without a call where the processor's instruction
// may not be assumed).
int Bits(std::uint64_t v)
{
    v = v - ((v >> 1) & 0x5555555555555555u);
    v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
    v = (v + (v >> 4)) & 0x0f0f0f0f0f0f0f0fu;
    return static_cast<int>((v * 0x0101010101010101u) >> 56);
}

// How many black runs line y has: a run starts at a black pixel with a white
// left neighbour (64 pixels at a time; a white word has none).
int CountRuns(const TBlackMask &mask, int y)
{
    const std::uint64_t *line = mask.Line(y);
    const int words = mask.Words();
    int count = 0;
    std::uint64_t carry = 0;
    for (int w = 0; w < words; ++w) {
        const std::uint64_t v = line[w];
        if (v)
            count += Bits(v & ~((v << 1) | carry));
        carry = v >> 63;
    }
    return count;
}

} // namespace

TInkComponents FindComponents(const TBlackMask &mask, int threads)
{
    TInkComponents result;
    const int height = mask.Height();
    // Bands of lines, each on its own thread: a band's unions touch only its runs.
    const int bands = Bands(height, threads);
    auto bandLine = [&](int i) { return BandStart(height, bands, i); };
    auto eachBand = [&](auto &&work) {
        RunTasks(bands, static_cast<std::size_t>(bands), [&](std::size_t i, int) {
            work(bandLine(static_cast<int>(i)), bandLine(static_cast<int>(i) + 1));
        });
    };
    // Runs counted first, so that the arrays are made once.
    auto &starts = result.RunStart;
    starts.assign(static_cast<std::size_t>(height) + 1, 0);
    eachBand([&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            starts[static_cast<std::size_t>(y) + 1] = CountRuns(mask, y);
    });
    for (std::size_t y = 1; y < starts.size(); ++y)
        starts[y] += starts[y - 1];
    result.Runs.resize(static_cast<std::size_t>(starts.back()));
    TInkRun *const runs = result.Runs.data();
    // First each run's parent (parent < run for every run not a root: the
    // smaller index is the root), then its piece's number.
    auto &label = result.RunComponent;
    label.resize(static_cast<std::size_t>(starts.back()));
    int *const parent = label.data();
    auto find = [parent](int i) {
        while (parent[i] != i) {
            int &p = parent[i];
            p = parent[p];
            i = p;
        }
        return i;
    };
    // Joins the runs of line y with the runs of line y - 1 they touch,
    // diagonals included. A run of a fresh line that touches one run above
    // (most do) takes that run's root as its parent (any earlier run of its
    // piece would do, since the root stays the piece's first run; the root
    // keeps the chains to it short).
    auto join = [&](int a, int b) {
        a = find(a);
        b = find(b);
        if (a != b)
            parent[std::max(a, b)] = std::min(a, b);
    };
    auto joinLines = [&](int y, bool fresh) {
        const int other = starts[static_cast<std::size_t>(y) - 1], self = starts[static_cast<std::size_t>(y)];
        const int aboveEnd = self, belowEnd = starts[static_cast<std::size_t>(y) + 1];
        int p = other;
        for (int r = self; r < belowEnd; ++r) {
            while (p < aboveEnd && runs[p].X1 < runs[r].X0)
                ++p;
            int q = p;
            if (fresh && q < aboveEnd && runs[q].X0 <= runs[r].X1)
                parent[r] = find(q++);
            for (; q < aboveEnd && runs[q].X0 <= runs[r].X1; ++q)
                join(q, r);
        }
    };
    eachBand([&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const int first = starts[static_cast<std::size_t>(y)];
            const int count = LineRuns(mask, y, runs + first);
            for (int r = first; r < first + count; ++r)
                parent[r] = r;
            if (y > y0)
                joinLines(y, true);
        }
    });
    for (int i = 1; i < bands; ++i)
        joinLines(bandLine(i), false);

    // Numbers in the order the pieces first come; a run's parent comes before
    // it and has its number already.
    for (int y = 0; y < height; ++y) {
        const int first = starts[static_cast<std::size_t>(y)], end = starts[static_cast<std::size_t>(y) + 1];
        for (int r = first; r < end; ++r) {
            const TInkRun &run = runs[r];
            int id;
            if (parent[r] == r) {
                id = static_cast<int>(result.Components.size());
                result.Components.push_back({run.X0, y, run.X1, y + 1, 0});
            } else {
                id = label[static_cast<std::size_t>(parent[r])];
            }
            label[static_cast<std::size_t>(r)] = id;
            TInkComponent &c = result.Components[static_cast<std::size_t>(id)];
            c.Left = std::min(c.Left, run.X0);
            c.Right = std::max(c.Right, run.X1);
            c.Bottom = y + 1;
            c.Pixels += run.X1 - run.X0;
        }
    }
    return result;
}

namespace {

// A piece looked into for letters on a line: runs longer than `LineRun` are
// the line's, and the line is at most `Thickest` rows (or columns) thick;
// with `Foot`, it lies in the lower half of the piece (along the rows) or the
// right half (along the columns: letters turned to read upward), under the
// letters, or in the other half, over letters hanging under it; not across
// the middle (a letter's bar).
struct TLineCase
{
    std::size_t Component;
    int LineRun;
    int Thickest;
    bool Foot;
};

// Letters that stand on a line or touch it (after Tombre et al., 2002): in a
// piece that holds a line (too large for a letter but thin, or a short line
// with letters along it), the pixels of runs along the rows or the columns
// longer than any letter are the line's; what is left falls apart into the
// letters, which are added to `pieces` (their pixels, as row and columns X0
// .. X1 - 1, to `runs`). Only a piece with one such line is looked into (not
// a frame, not a corner). The line keeps all its pixels. Which side of the
// line each letter lies on goes to `sides`: 1 over it (left of it along the
// columns), 2 under it (right of it), 0 across. Returns, case by case, 1 when
// letters were taken off, 2 when one or two letters hang under a short line
// that runs on past them (left on it), else 0.
std::vector<char> LettersOnLines(const TInkComponents &ink, const TTextSizes &sizes, const std::vector<TLineCase> &cases,
                                 std::vector<TInkComponent> &pieces, std::vector<std::vector<std::array<int, 3>>> &runs,
                                 std::vector<char> &sides)
{
    const int maxH = sizes.MaxHeight;
    const int longest = maxH * 3 / 2;
    const int height = static_cast<int>(ink.RunStart.size()) - 1;
    std::vector<char> split(cases.size(), 0);
    std::vector<std::array<int, 3>> own;
    std::vector<int> cover;
    std::vector<std::uint8_t> cell;
    std::vector<int> stack;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const TInkComponent &c = ink.Components[cases[k].Component];
        const int lineRun = cases[k].LineRun;
        // The piece's runs, line by line within its box.
        own.clear();
        for (int y = c.Top; y < c.Bottom; ++y) {
            const TInkRun *const first = ink.Runs.data() + ink.RunStart[static_cast<std::size_t>(y)];
            const TInkRun *const end = ink.Runs.data() + ink.RunStart[static_cast<std::size_t>(y) + 1];
            const int left = c.Left;
            for (const TInkRun *run = std::partition_point(first, end, [left](const TInkRun &r) { return r.X1 <= left; });
                 run < end && run->X0 < c.Right; ++run)
                if (ink.RunComponent[static_cast<std::size_t>(run - ink.Runs.data())] == static_cast<int>(cases[k].Component))
                    own.push_back({y, run->X0, run->X1});
        }
        // No run along the rows that long, and no column inked on that many
        // lines: no line.
        // A line along the rows too thick, or (when asked) not at the foot:
        // nothing to take off.
        int longFirst = c.Bottom, longLast = -1;
        for (const auto &[y, x0, x1] : own)
            if (x1 - x0 > lineRun) {
                longFirst = std::min(longFirst, y);
                longLast = std::max(longLast, y);
            }
        const bool longRow = longLast >= 0;
        if (longRow
            && (longLast - longFirst >= cases[k].Thickest
                || (cases[k].Foot && 2 * (longFirst - c.Top) < c.Height() && 2 * (longLast + 1 - c.Top) > c.Height())))
            continue;
        if (!longRow) {
            cover.assign(static_cast<std::size_t>(c.Width()) + 1, 0);
            for (const auto &[y, x0, x1] : own) {
                ++cover[static_cast<std::size_t>(x0 - c.Left)];
                --cover[static_cast<std::size_t>(x1 - c.Left)];
            }
            int most = 0;
            for (int x = 0, n = 0; x < c.Width(); ++x)
                most = std::max(most, n += cover[static_cast<std::size_t>(x)]);
            if (most <= lineRun)
                continue;
        }
        const int w = c.Width(), h = c.Height();
        // 1 ink, 0 paper or line.
        cell.assign(static_cast<std::size_t>(w) * h, 0);
        for (const auto &[y, x0, x1] : own)
            if (x1 - x0 <= lineRun)
                std::fill(cell.begin() + (y - c.Top) * w + (x0 - c.Left), cell.begin() + (y - c.Top) * w + (x1 - c.Left), 1);
        int rowFirst = h, rowLast = -1, columnFirst = w, columnLast = -1;
        // Where the line begins and ends along itself.
        int lineFrom = std::max(w, h), lineTo = -1;
        for (const auto &[y, x0, x1] : own)
            if (x1 - x0 > lineRun) {
                rowFirst = std::min(rowFirst, y - c.Top);
                rowLast = std::max(rowLast, y - c.Top);
                lineFrom = std::min(lineFrom, x0 - c.Left);
                lineTo = std::max(lineTo, x1 - c.Left);
            }
        // Long runs down the columns are line too (their pixels in rows of
        // long runs are paper already; a column run is measured on the ink).
        std::vector<std::uint8_t> inkAt(static_cast<std::size_t>(w) * h, 0);
        for (const auto &[y, x0, x1] : own)
            std::fill(inkAt.begin() + (y - c.Top) * w + (x0 - c.Left), inkAt.begin() + (y - c.Top) * w + (x1 - c.Left), 1);
        for (int x = 0; x < w; ++x) {
            int y = 0;
            while (y < h) {
                if (!inkAt[static_cast<std::size_t>(y) * w + x]) {
                    ++y;
                    continue;
                }
                int end = y;
                while (end < h && inkAt[static_cast<std::size_t>(end) * w + x])
                    ++end;
                if (end - y > lineRun) {
                    columnFirst = std::min(columnFirst, x);
                    columnLast = std::max(columnLast, x);
                    if (rowLast < 0) {
                        lineFrom = std::min(lineFrom, y);
                        lineTo = std::max(lineTo, end);
                    }
                    for (int t = y; t < end; ++t)
                        cell[static_cast<std::size_t>(t) * w + x] = 0;
                }
                y = end;
            }
        }
        const int thickest = cases[k].Thickest;
        const bool alongRows = rowLast >= 0 && rowLast - rowFirst < thickest;
        const bool alongColumns = columnLast >= 0 && columnLast - columnFirst < thickest;
        if ((rowLast >= 0) == (columnLast >= 0) || !(alongRows || alongColumns))
            continue;
        // Letters hanging under the line (left of it, turned upward): the line at their head.
        bool head = false;
        if (cases[k].Foot) {
            const bool across = rowLast >= 0;
            const int from = across ? rowFirst : columnFirst, to = (across ? rowLast : columnLast) + 1;
            const int size = across ? h : w;
            if (2 * from < size && 2 * to > size)
                continue;
            head = 2 * from < size;
        }
        // Beyond a short line (under it, or right of it; over it and left of it
        // for hanging letters), within half its piece's thickness: no ink of
        // other pieces (the other half of a letter whose stroke it is).
        if (cases[k].Foot) {
            const int gap = std::max(2, std::min(w, h) / 2);
            const bool across = rowLast >= 0;
            const int y0 = !across ? c.Top + lineFrom : head ? std::max(c.Top + rowFirst - gap, 0) : c.Top + rowLast + 1;
            const int y1 = !across ? c.Top + lineTo : head ? c.Top + rowFirst : std::min(c.Top + rowLast + 1 + gap, height);
            const int x0 = across ? c.Left + lineFrom : head ? c.Left + columnFirst - gap : c.Left + columnLast + 1;
            const int x1 = across ? c.Left + lineTo : head ? c.Left + columnFirst : c.Left + columnLast + 1 + gap;
            bool other = false;
            for (int y = y0; y < y1 && !other; ++y)
                for (int r = ink.RunStart[static_cast<std::size_t>(y)]; r < ink.RunStart[static_cast<std::size_t>(y) + 1]; ++r) {
                    const TInkRun &run = ink.Runs[static_cast<std::size_t>(r)];
                    if (run.X0 >= x1)
                        break;
                    if (run.X1 > x0 && ink.RunComponent[static_cast<std::size_t>(r)] != static_cast<int>(cases[k].Component)) {
                        other = true;
                        break;
                    }
                }
            if (other)
                continue;
        }
        // What is left, piece by piece (8 neighbours).
        const std::size_t before = pieces.size();
        int lettersFrom = std::max(w, h), lettersTo = -1;
        for (int start = 0; start < w * h; ++start) {
            if (cell[static_cast<std::size_t>(start)] != 1)
                continue;
            TInkComponent piece{w, h, -1, -1, 0};
            std::vector<std::array<int, 3>> pixels;
            stack.assign(1, start);
            cell[static_cast<std::size_t>(start)] = 2;
            while (!stack.empty()) {
                const int at = stack.back();
                stack.pop_back();
                const int px = at % w, py = at / w;
                piece.Left = std::min(piece.Left, px);
                piece.Right = std::max(piece.Right, px + 1);
                piece.Top = std::min(piece.Top, py);
                piece.Bottom = std::max(piece.Bottom, py + 1);
                ++piece.Pixels;
                pixels.push_back({py + c.Top, px + c.Left, px + c.Left + 1});
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = px + dx, ny = py + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                            continue;
                        std::uint8_t &n = cell[static_cast<std::size_t>(ny) * w + nx];
                        if (n == 1) {
                            n = 2;
                            stack.push_back(ny * w + nx);
                        }
                    }
            }
            const TBox box{piece.Left, piece.Top, piece.Right, piece.Bottom};
            if (box.Long() > longest || box.Short() > maxH || box.Long() < 2)
                continue;
            // A speck beyond the line (away from the letters), no thicker than
            // it, is an edge of the line (or a letter's foot poking through
            // it): the line's.
            if (rowLast >= 0 ? (head ? box.Bottom <= rowFirst : box.Top > rowLast) && box.Height() <= rowLast - rowFirst + 1
                             : (head ? box.Right <= columnFirst : box.Left > columnLast)
                                 && box.Width() <= columnLast - columnFirst + 1)
                continue;
            piece.Left += c.Left;
            piece.Right += c.Left;
            piece.Top += c.Top;
            lettersFrom = std::min(lettersFrom, rowLast >= 0 ? box.Left : box.Top);
            lettersTo = std::max(lettersTo, rowLast >= 0 ? box.Right : box.Bottom);
            piece.Bottom += c.Top;
            pieces.push_back(piece);
            runs.push_back(std::move(pixels));
            sides.push_back(rowLast >= 0 ? (box.Bottom <= rowFirst ? 1 : box.Top > rowLast ? 2 : 0)
                                         : (box.Right <= columnFirst ? 1 : box.Left > columnLast ? 2 : 0));
            split[k] = 1;
        }
        // A short line runs on past the letters at both ends (a letter's
        // stroke as long as its neighbours does not).
        const int past = std::max(2, std::min(w, h) / 6);
        // Letters hang under a line in threes or more (a letter's stem with
        // its strokes to one side, the left of "北" turned upward, has fewer).
        if (cases[k].Foot && split[k]
            && (lettersFrom - lineFrom < past || lineTo - lettersTo < past || (head && pieces.size() - before < 3))) {
            const bool few = lettersFrom - lineFrom >= past && lineTo - lettersTo >= past;
            pieces.resize(before);
            runs.resize(before);
            sides.resize(before);
            split[k] = few ? 2 : 0;
        }
    }
    return split;
}

} // namespace

TTextSeparation SeparateText(TBlackMask mask, const TTextSizes &sizes, int threads)
{
    TTextSeparation result;
    const TInkComponents ink = FindComponents(mask, threads);
    const int width = mask.Width(), height = mask.Height();
    // The text's pixels are taken out of the mask itself.
    result.Graphics = std::move(mask);
    result.Text = TBlackMask(width, height);
    const int minH = sizes.MinHeight, maxH = sizes.MaxHeight;

    // Pieces of letter size; pieces whose boxes touch make one glyph (the
    // strokes of a kanji, the dot of an "i"). Pieces that may be lines with
    // letters standing on them are looked into: thin pieces too long for a
    // letter, and pieces of letter size more than twice as long as they are
    // thick (a short line under a label) with a run that long.
    const int longest = maxH * 3 / 2;
    std::vector<int> candidates;
    std::vector<TLineCase> lineCases;
    for (std::size_t i = 0; i < ink.Components.size(); ++i) {
        const TInkComponent &c = ink.Components[i];
        const TBox box{c.Left, c.Top, c.Right, c.Bottom};
        if (box.Long() > longest || box.Short() > maxH) {
            if (box.Long() > longest && box.Short() <= maxH * 5 / 4 && box.Short() >= minH)
                lineCases.push_back({i, longest, std::max(maxH / 4, 2), false});
            continue;
        }
        // A solid block is a fill, not a letter; a solid bar four times as
        // long as it is thick may be the stem of an "i", "l" or "1".
        const double density = double(c.Pixels) / (double(box.Width()) * box.Height());
        if (box.Long() >= minH && box.Short() > minH / 2 && density > 0.85 && box.Long() < 4 * box.Short())
            continue;
        if (box.Short() >= minH && box.Long() > 2 * box.Short())
            lineCases.push_back({i, box.Short() * 2, std::max(box.Short() / 4, 2), true});
        candidates.push_back(static_cast<int>(i));
    }
    std::vector<TInkComponent> onLines;
    std::vector<std::vector<std::array<int, 3>>> extraRuns;
    std::vector<char> onLineSides;
    const std::vector<char> split = LettersOnLines(ink, sizes, lineCases, onLines, extraRuns, onLineSides);
    // A short line whose letters were taken off is no letter; one with one or
    // two letters hanging under it is no string of its own.
    std::vector<char> hangingFew(ink.Components.size(), 0);
    {
        std::vector<char> line(ink.Components.size(), 0);
        for (std::size_t k = 0; k < lineCases.size(); ++k) {
            line[lineCases[k].Component] = split[k] == 1;
            hangingFew[lineCases[k].Component] = split[k] == 2;
        }
        candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                        [&](int i) { return line[static_cast<std::size_t>(i)] != 0; }),
                         candidates.end());
    }
    // The pieces looked at: the candidates, then the letters found standing
    // on lines (their pixels as runs).
    std::vector<TInkComponent> cand;
    cand.reserve(candidates.size() + onLines.size());
    for (const int i : candidates)
        cand.push_back(ink.Components[static_cast<std::size_t>(i)]);
    const std::size_t regular = cand.size();
    cand.insert(cand.end(), onLines.begin(), onLines.end());
    const int touch = std::max(1, minH / 8);
    TUnion pieces(cand.size());
    {
        TBoxGrid grid(2 * maxH, width, height);
        for (std::size_t k = 0; k < cand.size(); ++k) {
            const TInkComponent &c = cand[k];
            grid.Insert(static_cast<int>(k), TBox{c.Left, c.Top, c.Right, c.Bottom});
        }
        grid.Finish();
        for (std::size_t k = 0; k < cand.size(); ++k) {
            const TInkComponent &c = cand[k];
            const TBox near{c.Left - touch, c.Top - touch, c.Right + touch, c.Bottom + touch};
            grid.ForNear(near, [&](int j) {
                if (j <= static_cast<int>(k))
                    return;
                const TInkComponent &o = cand[static_cast<std::size_t>(j)];
                if (o.Left < near.Right && near.Left < o.Right && o.Top < near.Bottom && near.Top < o.Bottom)
                    pieces.Join(static_cast<int>(k), j);
            });
        }
    }
    std::vector<TGlyph> glyphs;
    std::vector<int> glyphOfCandidate(cand.size(), -1);
    for (std::size_t k = 0; k < cand.size(); ++k) {
        const int root = pieces.Find(static_cast<int>(k));
        int &g = glyphOfCandidate[static_cast<std::size_t>(root)];
        const TInkComponent &c = cand[k];
        const TBox box{c.Left, c.Top, c.Right, c.Bottom};
        if (g < 0) {
            g = static_cast<int>(glyphs.size());
            glyphs.push_back(TGlyph{box});
            glyphs.back().OnLine = true;
        }
        if (k < regular) {
            glyphs[static_cast<std::size_t>(g)].OnLine = false;
        } else {
            int &side = glyphs[static_cast<std::size_t>(g)].Side;
            const int own = onLineSides[k - regular];
            side = side < 0 || side == own ? own : 0;
        }
        glyphOfCandidate[k] = g;
        glyphs[static_cast<std::size_t>(g)].Box.Add(box);
        glyphs[static_cast<std::size_t>(g)].Pixels += c.Pixels;
    }
    for (TGlyph &g : glyphs) {
        g.Small = g.Box.Long() < minH;
        g.Thin = g.Box.Long() >= 4 * g.Box.Short();
    }

    // Links between glyphs that follow each other along the rows and along
    // the columns; each glyph runs the way its larger group runs.
    TBoxGrid glyphGrid(2 * maxH, width, height);
    for (std::size_t g = 0; g < glyphs.size(); ++g)
        if (!glyphs[g].Small)
            glyphGrid.Insert(static_cast<int>(g), glyphs[g].Box);
    glyphGrid.Finish();
    // Found for blocks of glyphs on the threads, and taken in block order.
    constexpr std::size_t kGlyphBlock = 4096;
    const std::size_t glyphBlocks = (glyphs.size() + kGlyphBlock - 1) / kGlyphBlock;
    std::vector<std::vector<std::pair<int, int>>> blockRowLinks(glyphBlocks), blockColumnLinks(glyphBlocks);
    RunTasks(threads, glyphBlocks, [&](std::size_t block, int) {
        std::vector<int> seen;
        auto &rowOut = blockRowLinks[block];
        auto &columnOut = blockColumnLinks[block];
        for (std::size_t g = block * kGlyphBlock; g < std::min(glyphs.size(), (block + 1) * kGlyphBlock); ++g) {
            if (glyphs[g].Small)
                continue;
            const TBox &a = glyphs[g].Box;
            const int reach = std::min(a.Long() * 3 / 2, maxH * 3 / 2);
            const TBox near{a.Left - reach, a.Top - reach, a.Right + reach, a.Bottom + reach};
            int last = -1;
            seen.clear();
            // A glyph that continues another overlaps it across the string.
            glyphGrid.ForNear(near, [&](int j) {
                if (j <= static_cast<int>(g) || j == last)
                    return;
                last = j;
                const TBox &b = glyphs[static_cast<std::size_t>(j)].Box;
                if ((a.Top < b.Bottom && b.Top < a.Bottom) || (a.Left < b.Right && b.Left < a.Right))
                    seen.push_back(j);
            });
            std::sort(seen.begin(), seen.end());
            seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
            for (const int j : seen) {
                const TBox &b = glyphs[static_cast<std::size_t>(j)].Box;
                if (Continues(a, b, sizes))
                    rowOut.emplace_back(static_cast<int>(g), j);
                if (Continues(a.Turned(), b.Turned(), sizes))
                    columnOut.emplace_back(static_cast<int>(g), j);
            }
        }
    });
    std::vector<std::pair<int, int>> rowLinks, columnLinks;
    for (std::size_t block = 0; block < glyphBlocks; ++block) {
        rowLinks.insert(rowLinks.end(), blockRowLinks[block].begin(), blockRowLinks[block].end());
        columnLinks.insert(columnLinks.end(), blockColumnLinks[block].begin(), blockColumnLinks[block].end());
    }
    TUnion rows(glyphs.size()), columns(glyphs.size());
    for (const auto &[a, b] : rowLinks)
        rows.Join(a, b);
    for (const auto &[a, b] : columnLinks)
        columns.Join(a, b);
    std::vector<int> rowSize(glyphs.size(), 0), columnSize(glyphs.size(), 0);
    for (std::size_t g = 0; g < glyphs.size(); ++g) {
        ++rowSize[static_cast<std::size_t>(rows.Find(static_cast<int>(g)))];
        ++columnSize[static_cast<std::size_t>(columns.Find(static_cast<int>(g)))];
    }
    for (std::size_t g = 0; g < glyphs.size(); ++g)
        glyphs[g].Vertical = columnSize[static_cast<std::size_t>(columns.Find(static_cast<int>(g)))]
            > rowSize[static_cast<std::size_t>(rows.Find(static_cast<int>(g)))];
    TUnion strings(glyphs.size());
    for (const auto &[a, b] : rowLinks)
        if (!glyphs[static_cast<std::size_t>(a)].Vertical && !glyphs[static_cast<std::size_t>(b)].Vertical)
            strings.Join(a, b);
    for (const auto &[a, b] : columnLinks)
        if (glyphs[static_cast<std::size_t>(a)].Vertical && glyphs[static_cast<std::size_t>(b)].Vertical)
            strings.Join(a, b);

    // The strings: not a row of dashes, not a lone stroke or ring.
    struct TGroup
    {
        TBox Box;
        int Glyphs = 0;
        int OnLine = 0;
        std::array<int, 3> Sides{};   // letters taken off a line by side
        int Thin = 0;
        long long Pixels = 0;
        bool Vertical = false;
    };
    std::vector<TGroup> groups(glyphs.size());
    for (std::size_t g = 0; g < glyphs.size(); ++g) {
        if (glyphs[g].Small)
            continue;
        TGroup &group = groups[static_cast<std::size_t>(strings.Find(static_cast<int>(g)))];
        if (!group.Glyphs)
            group.Box = glyphs[g].Box;
        group.Box.Add(glyphs[g].Box);
        ++group.Glyphs;
        group.OnLine += glyphs[g].OnLine;
        if (glyphs[g].OnLine)
            ++group.Sides[static_cast<std::size_t>(std::max(glyphs[g].Side, 0))];
        group.Thin += glyphs[g].Thin;
        group.Pixels += glyphs[g].Pixels;
        group.Vertical = glyphs[g].Vertical;
    }
    // Groups of straight strokes only (long and thin boxes, or dashes along a
    // slanting line): each glyph whose box is not long and thin is looked
    // into, its pixels' spread, until one is no straight stroke (in a string
    // of letters, mostly the first); a lone glyph only when it would make a
    // string otherwise.
    std::vector<char> strokesOnly(glyphs.size(), 1);
    std::vector<int> start(glyphs.size() + 1, 0), items(cand.size());
    // Calls f(y, x0, x1) for each run of glyph g's pieces.
    auto forRuns = [&](std::size_t g, auto &&f) {
        for (int i = start[g]; i < start[g + 1]; ++i) {
            const std::size_t k = static_cast<std::size_t>(items[static_cast<std::size_t>(i)]);
            if (k >= regular) {
                for (const auto &[y, x0, x1] : extraRuns[k - regular])
                    f(y, x0, x1);
                continue;
            }
            const int id = candidates[k];
            const TInkComponent &c = cand[k];
            // The piece's first run on a line is found by a search on its first
            // line, then near where it was on the line before (counted from the
            // line's start).
            std::ptrdiff_t at = -1;
            for (int y = c.Top; y < c.Bottom; ++y) {
                const TInkRun *const first = ink.Runs.data() + ink.RunStart[static_cast<std::size_t>(y)];
                const TInkRun *const end = ink.Runs.data() + ink.RunStart[static_cast<std::size_t>(y) + 1];
                const int left = c.Left;
                const TInkRun *run;
                if (at < 0) {
                    run = std::partition_point(first, end, [left](const TInkRun &r) { return r.X1 <= left; });
                } else {
                    run = first + std::min<std::ptrdiff_t>(at, end - first);
                    while (run > first && (run - 1)->X1 > left)
                        --run;
                    while (run < end && run->X1 <= left)
                        ++run;
                }
                at = run - first;
                for (; run < end && run->X0 < c.Right; ++run)
                    if (ink.RunComponent[static_cast<std::size_t>(run - ink.Runs.data())] == id)
                        f(y, run->X0, run->X1);
            }
        }
    };
    auto moments = [&](std::size_t g) {
        TMoments m;
        forRuns(g, [&](int y, int x0, int x1) { m.AddRun(y, x0, x1); });
        return m;
    };
    // Two straight arms that meet at one end (an "L" or a "V" drawn as a
    // corner): the two pixels farthest apart are the arms' far ends, the pixel
    // farthest from the line through them is where the arms meet; every pixel
    // lies within a stroke's thickness of the two arms, and each arm is at
    // least ten times as long as the strokes are thick (the arms of a "7", an
    // "L" or a "V" are shorter).
    std::vector<std::array<int, 3>> armRuns;   // the runs of glyph armRunsOf, their last pixels
    std::size_t armRunsOf = glyphs.size();
    auto squared = [](const std::array<int, 2> &a, const std::array<int, 2> &b) {
        const double x = a[0] - b[0], y = a[1] - b[1];
        return x * x + y * y;
    };
    // The glyph's two pixels farthest apart (p, q) and the pixel farthest
    // from the line through them (m), as {p, m, q}; false when there are none.
    auto extremes = [&](std::size_t g, std::array<std::array<int, 2>, 3> &points) {
        if (armRunsOf != g) {
            armRuns.clear();
            forRuns(g, [&](int y, int x0, int x1) { armRuns.push_back({y, x0, x1 - 1}); });
            armRunsOf = g;
        }
        if (armRuns.empty())
            return false;
        // The extreme run ends along the rows, the columns and the diagonals.
        std::array<std::array<int, 2>, 8> ends;
        std::array<int, 8> best;
        best.fill(std::numeric_limits<int>::min());
        static constexpr int dx[4] = {1, 0, 1, 1}, dy[4] = {0, 1, 1, -1};
        for (const auto &[y, x0, x1] : armRuns)
            for (const int x : {x0, x1})
                for (int d = 0; d < 4; ++d)
                    for (const int sign : {1, -1}) {
                        const int v = sign * (dx[d] * x + dy[d] * y), e = 2 * d + (sign < 0);
                        if (v > best[static_cast<std::size_t>(e)]) {
                            best[static_cast<std::size_t>(e)] = v;
                            ends[static_cast<std::size_t>(e)] = {x, y};
                        }
                    }
        std::array<int, 2> p = ends[0], q = ends[1];
        for (std::size_t i = 0; i < ends.size(); ++i)
            for (std::size_t j = i + 1; j < ends.size(); ++j)
                if (squared(ends[i], ends[j]) > squared(p, q)) {
                    p = ends[i];
                    q = ends[j];
                }
        const double ux = q[0] - p[0], uy = q[1] - p[1], chord = std::sqrt(ux * ux + uy * uy);
        if (chord <= 0)
            return false;
        std::array<int, 2> corner = p;
        double far = -1;
        for (const auto &[y, x0, x1] : armRuns)
            for (const int x : {x0, x1}) {
                const double away = std::abs((x - p[0]) * uy - (y - p[1]) * ux) / chord;
                if (away > far) {
                    far = away;
                    corner = {x, y};
                }
            }
        points = {p, corner, q};
        return true;
    };
    auto arms = [&](std::size_t g) {
        // Arms ten times as long as they are thick, neither longer than the
        // box's diagonal, have at most a fifth of its square in pixels.
        const double w = glyphs[g].Box.Width(), h = glyphs[g].Box.Height();
        if (5.0 * double(glyphs[g].Pixels) > w * w + h * h)
            return false;
        std::array<std::array<int, 2>, 3> points;
        if (!extremes(g, points))
            return false;
        auto toSegment = [](double x, double y, const std::array<int, 2> &a, const std::array<int, 2> &b) {
            const double vx = b[0] - a[0], vy = b[1] - a[1], wx = x - a[0], wy = y - a[1];
            const double l = vx * vx + vy * vy, t = l > 0 ? std::clamp((wx * vx + wy * vy) / l, 0.0, 1.0) : 0.0;
            const double ex = wx - t * vx, ey = wy - t * vy;
            return ex * ex + ey * ey;
        };
        // The three points, each taken as where the arms meet (the arms of a
        // narrow "V" are longer than the gap between their far ends).
        for (std::size_t m = 0; m < 3; ++m) {
            const std::array<int, 2> &a = points[(m + 1) % 3], &c = points[m], &b = points[(m + 2) % 3];
            const double arm1 = std::sqrt(squared(a, c)), arm2 = std::sqrt(squared(c, b));
            const double thickness = double(glyphs[g].Pixels) / (arm1 + arm2);
            if (arm1 < 10 * thickness || arm2 < 10 * thickness)
                continue;
            const double reach = (thickness + 1.5) * (thickness + 1.5);
            // A few pixels may lie off the arms (a scan's specks in the box).
            long long off = glyphs[g].Pixels / 32;
            for (std::size_t r = 0; r < armRuns.size() && off >= 0; ++r) {
                const auto &[y, x0, x1] = armRuns[r];
                for (int x = x0; x <= x1 && off >= 0; ++x)
                    off -= toSegment(x, y, a, c) > reach && toSegment(x, y, c, b) > reach;
            }
            if (off >= 0)
                return true;
        }
        return false;
    };
    // An arc of a circle (drawn with compasses; a "C" or a bent line): the
    // circle through the glyph's extremes, every pixel within half the
    // stroke's thickness and a pixel and a half of it (a letter's curves are
    // seldom a circle's), the thickness being the pixels over the arc's
    // length; open (a gap of a sixteenth of the circle or more: a ring is told
    // apart elsewhere) and four times as long as it is thick or longer.
    auto arc = [&](std::size_t g) {
        const double w = glyphs[g].Box.Width(), h = glyphs[g].Box.Height();
        if (2.0 * double(glyphs[g].Pixels) > w * w + h * h)
            return false;
        if (armRunsOf != g) {
            armRuns.clear();
            forRuns(g, [&](int y, int x0, int x1) { armRuns.push_back({y, x0, x1 - 1}); });
            armRunsOf = g;
        }
        // The circle fitted to the pixels (least squares of x^2 + y^2 + D x +
        // E y + F, about their mean).
        double n = 0, mx = 0, my = 0;
        for (const auto &[y, x0, x1] : armRuns) {
            n += x1 + 1 - x0;
            mx += (x1 + 1 - x0) * (x0 + x1) / 2.0;
            my += (x1 + 1.0 - x0) * y;
        }
        if (n < 3)
            return false;
        mx /= n;
        my /= n;
        double sxx = 0, syy = 0, sxy = 0, sxz = 0, syz = 0;
        for (const auto &[y, x0, x1] : armRuns)
            for (int x = x0; x <= x1; ++x) {
                const double u = x - mx, v = y - my, z = u * u + v * v;
                sxx += u * u;
                syy += v * v;
                sxy += u * v;
                sxz += u * z;
                syz += v * z;
            }
        // With sums of u and v zero: [sxx sxy; sxy syy] (D, E) = -(sxz, syz), F = -(sxx + syy) / n.
        const double det = sxx * syy - sxy * sxy;
        if (std::abs(det) < 1e-9 * (sxx + syy) * (sxx + syy) || det == 0)
            return false;
        const double dd = -(sxz * syy - syz * sxy) / det, ee = -(syz * sxx - sxz * sxy) / det;
        double ox = mx - dd / 2, oy = my - ee / 2;
        double r = std::sqrt(dd * dd / 4 + ee * ee / 4 + (sxx + syy) / n);
        // The sectors (of 64) about (ox, oy) the runs cover, and the longest
        // gap between them.
        constexpr int kSectors = 64;
        std::uint64_t covered = 0;
        auto cover = [&]() {
            auto sector = [&](double x, double y) {
                return std::clamp(static_cast<int>(Turn(x - ox, y - oy) * kSectors), 0, kSectors - 1);
            };
            covered = 0;
            for (const auto &[y, x0, x1] : armRuns) {
                int s0 = sector(x0, y), s1 = sector(x1, y);
                if (s1 < s0)
                    std::swap(s0, s1);
                if (s1 - s0 > kSectors / 2)   // across the sectors' seam
                    std::swap(s0, s1);
                for (int k = s0;; k = (k + 1) % kSectors) {
                    covered |= std::uint64_t(1) << k;
                    if (k == s1)
                        break;
                }
            }
            int gap = 0;
            for (int k = 0, run = 0; k < 2 * kSectors; ++k) {
                run = (covered >> (k % kSectors)) & 1 ? 0 : run + 1;
                gap = std::max(gap, std::min(run, kSectors));
            }
            return gap;
        };
        // Told first about the first circle: a closed curve is no arc, nor
        // is a glyph whose pixels' distances from it spread more than twice
        // as much as across a stroke (the least squares below bring a drawn
        // arc's under 1.3 times).
        if (cover() < kSectors / 16)
            return false;
        {
            const double length = r * 2 * M_PI * std::popcount(covered) / kSectors;
            const double thickness = double(glyphs[g].Pixels) / length;
            double spread = 0;
            for (const auto &[y, x0, x1] : armRuns)
                for (int x = x0; x <= x1; ++x) {
                    const double e = std::sqrt((x - ox) * (x - ox) + (y - oy) * (y - oy)) - r;
                    spread += e * e;
                }
            if (spread > 2.5 * 2.5 * n * thickness * thickness / 12)
                return false;
        }
        // Refined to the least squares of the pixels' distances from the
        // circle (Gauss-Newton; the fit above draws a short arc's circle in).
        for (int step = 0; step < 3; ++step) {
            std::array<double, 6> a{};   // the normal matrix's upper half: xx xy xr yy yr rr
            std::array<double, 3> b{};
            for (const auto &[y, x0, x1] : armRuns)
                for (int x = x0; x <= x1; ++x) {
                    const double u = x - ox, v = y - oy, dist = std::sqrt(u * u + v * v);
                    if (dist <= 0)
                        continue;
                    const double ju = -u / dist, jv = -v / dist, e = dist - r;
                    a[0] += ju * ju;
                    a[1] += ju * jv;
                    a[2] -= ju;
                    a[3] += jv * jv;
                    a[4] -= jv;
                    a[5] += 1;
                    b[0] -= ju * e;
                    b[1] -= jv * e;
                    b[2] += e;
                }
            const double c0 = a[3] * a[5] - a[4] * a[4], c1 = a[2] * a[4] - a[1] * a[5], c2 = a[1] * a[4] - a[2] * a[3];
            const double det3 = a[0] * c0 + a[1] * c1 + a[2] * c2;
            if (std::abs(det3) < 1e-12)
                break;
            const double c4 = a[0] * a[5] - a[2] * a[2], c5 = a[1] * a[2] - a[0] * a[4], c8 = a[0] * a[3] - a[1] * a[1];
            ox += (c0 * b[0] + c1 * b[1] + c2 * b[2]) / det3;
            oy += (c1 * b[0] + c4 * b[1] + c5 * b[2]) / det3;
            r += (c2 * b[0] + c5 * b[1] + c8 * b[2]) / det3;
        }
        if (!(r > 0))
            return false;
        // Nearly straight: the straight stroke test's.
        if (r > 4 * std::max(w, h))
            return false;
        if (cover() < kSectors / 16)
            return false;
        const double length = r * 2 * M_PI * std::popcount(covered) / kSectors;
        const double thickness = double(glyphs[g].Pixels) / length;
        if (length < 4 * thickness)
            return false;
        // Every pixel within half the thickness and a pixel and a half of the
        // circle (a few may not be), and their distances from it spread no
        // more than a drawn stroke's (uniformly across its thickness: a
        // letter's curves are no circle's, nor of one thickness).
        const double reach = thickness / 2 + 1.5;
        long long off = glyphs[g].Pixels / 32;
        double spread = 0, near = 0;
        for (const auto &[y, x0, x1] : armRuns)
            for (int x = x0; x <= x1; ++x) {
                const double e = std::sqrt((x - ox) * (x - ox) + (y - oy) * (y - oy)) - r;
                if (std::abs(e) > reach) {
                    --off;
                    continue;
                }
                spread += e * e;
                ++near;
            }
        return off >= 0 && spread <= 1.3 * 1.3 * near * thickness * thickness / 12;
    };
    // No ink in the box's corners (a circle's box; a "口" or "ロ" of a text's
    // weight reaches into them): at most one pixel in 32 farther from the
    // box's middle than a tenth more than half its side and a pixel.
    auto round = [&](std::size_t g) {
        const TBox &box = glyphs[g].Box;
        const double cx = (box.Left + box.Right - 1) / 2.0, cy = (box.Top + box.Bottom - 1) / 2.0;
        const double reach = 1.1 * box.Long() / 2.0 + 1, reach2 = reach * reach;
        long long off = glyphs[g].Pixels / 32;
        forRuns(g, [&](int y, int x0, int x1) {
            const double dy2 = (y - cy) * (y - cy);
            if (dy2 >= reach2) {
                off -= x1 - x0;
                return;
            }
            // Pixels x0 .. x1 - 1 within cx -+ half of the circle's chord on this line.
            const double half = std::sqrt(reach2 - dy2);
            const int in0 = std::max(x0, static_cast<int>(std::ceil(cx - half))),
                      in1 = std::min(x1 - 1, static_cast<int>(std::floor(cx + half)));
            off -= (x1 - x0) - std::max(0, in1 - in0 + 1);
        });
        return off >= 0;
    };
    // A closed frame (a rectangle, its corners rounded or not, upright or
    // turned a few degrees, with a scan's specks in it), its sides fifteen
    // times as long as its strokes are thick or longer (a "口" has thicker
    // strokes): on every line and column of the box, but in its corners,
    // every pixel lies within a stroke's thickness of the line's (or the
    // column's) first or last ink; across the middle half of the box every
    // line and column reaches across half of it (both sides drawn), and the
    // first and last ink of those lines and columns run straight (the sides
    // of a rectangle, not of an "O").
    std::vector<int> lineFirst, lineLast, columnFirst, columnLast;
    auto frame = [&](std::size_t g) {
        const TBox &box = glyphs[g].Box;
        const int w = box.Width(), h = box.Height();
        const double thickness = double(glyphs[g].Pixels) / (2.0 * (w + h));
        if (std::min(w, h) < 15 * thickness)
            return false;
        const int band = static_cast<int>(thickness + 1.5), corner = std::min(w, h) / 4;
        lineFirst.assign(static_cast<std::size_t>(h), w);
        lineLast.assign(static_cast<std::size_t>(h), -1);
        columnFirst.assign(static_cast<std::size_t>(w), h);
        columnLast.assign(static_cast<std::size_t>(w), -1);
        forRuns(g, [&](int y, int x0, int x1) {
            const std::size_t r = static_cast<std::size_t>(y - box.Top);
            lineFirst[r] = std::min(lineFirst[r], x0 - box.Left);
            lineLast[r] = std::max(lineLast[r], x1 - 1 - box.Left);
        });
        // Both sides drawn, straight (within a stroke's thickness of the
        // line fitted through them) and turned by 4 degrees or less; one line
        // in 16 may fail (a scan's speck beside the side, a gap in it).
        auto sides = [&](const std::vector<int> &first, const std::vector<int> &last, int across) {
            const int n = static_cast<int>(first.size()), from = n / 4, to = n - n / 4;
            int bad = 0;
            for (int i = from; i < to; ++i)
                bad += 2 * (last[static_cast<std::size_t>(i)] - first[static_cast<std::size_t>(i)]) < across;
            if (16 * bad > to - from)
                return false;
            for (const std::vector<int> *side : {&first, &last}) {
                double sy = 0, sx = 0, syy = 0, sxy = 0, count = 0;
                for (int i = from; i < to; ++i) {
                    const double v = (*side)[static_cast<std::size_t>(i)];
                    if (v < 0 || v >= across)
                        continue;
                    sy += i;
                    sx += v;
                    syy += double(i) * i;
                    sxy += double(i) * v;
                    ++count;
                }
                const double spread = count * syy - sy * sy;
                if (count < 2 || spread <= 0)
                    return false;
                const double slope = (count * sxy - sy * sx) / spread, at = (sx - slope * sy) / count;
                if (std::abs(slope) > 0.07)
                    return false;
                int off = 0;
                for (int i = from; i < to; ++i)
                    off += std::abs((*side)[static_cast<std::size_t>(i)] - (at + slope * i)) > band;
                if (16 * off > to - from)
                    return false;
            }
            return true;
        };
        if (!sides(lineFirst, lineLast, w))
            return false;
        forRuns(g, [&](int y, int x0, int x1) {
            for (int x = x0 - box.Left; x < x1 - box.Left; ++x) {
                columnFirst[static_cast<std::size_t>(x)] = std::min(columnFirst[static_cast<std::size_t>(x)], y - box.Top);
                columnLast[static_cast<std::size_t>(x)] = std::max(columnLast[static_cast<std::size_t>(x)], y - box.Top);
            }
        });
        if (!sides(columnFirst, columnLast, h))
            return false;
        long long off = glyphs[g].Pixels / 32;
        forRuns(g, [&](int y, int x0, int x1) {
            const int r = y - box.Top;
            const int dy = std::min(r, h - 1 - r);
            const int first = lineFirst[static_cast<std::size_t>(r)], last = lineLast[static_cast<std::size_t>(r)];
            for (int x = x0 - box.Left; x < x1 - box.Left; ++x) {
                if (std::min(x, w - 1 - x) < corner && dy < corner)
                    continue;
                if (x - first <= band || last - x <= band || r - columnFirst[static_cast<std::size_t>(x)] <= band
                    || columnLast[static_cast<std::size_t>(x)] - r <= band)
                    continue;
                --off;
            }
        });
        return off >= 0;
    };
    auto straight = [&](std::size_t g) {
        // A stroke L long and L / 4 thick or thinner has at most L * L / 4
        // pixels, and its box's diagonal is at least L long.
        const double w = glyphs[g].Box.Width(), h = glyphs[g].Box.Height();
        if (4.0 * double(glyphs[g].Pixels) > w * w + h * h)
            return false;
        // The runs are kept for the test for two arms that may follow.
        TMoments m;
        armRuns.clear();
        forRuns(g, [&](int y, int x0, int x1) {
            m.AddRun(y, x0, x1);
            armRuns.push_back({y, x0, x1 - 1});
        });
        armRunsOf = g;
        return m.Straight();
    };
    {
        for (std::size_t k = 0; k < cand.size(); ++k)
            ++start[static_cast<std::size_t>(glyphOfCandidate[k]) + 1];
        for (std::size_t g = 1; g < start.size(); ++g)
            start[g] += start[g - 1];
        std::vector<int> next(start.begin(), start.end() - 1);
        for (std::size_t k = 0; k < cand.size(); ++k)
            items[static_cast<std::size_t>(next[static_cast<std::size_t>(glyphOfCandidate[k])]++)] = static_cast<int>(k);
        for (std::size_t g = 0; g < glyphs.size(); ++g) {
            if (glyphs[g].Small || glyphs[g].Thin)
                continue;
            const std::size_t root = static_cast<std::size_t>(strings.Find(static_cast<int>(g)));
            if (groups[root].Glyphs > 1 && strokesOnly[root])
                strokesOnly[root] = straight(g) || arms(g);
        }
    }
    // A dashed or broken line that ends in a corner, an arrowhead or a dot
    // (a scan's thin line fallen into pieces): a group of four glyphs or
    // more whose glyphs but the first and the last along it are straight
    // strokes along it, twice as long as they are thick or more (the "-" and
    // "=" of a label stand between letters).
    {
        std::vector<int> firstOf(glyphs.size(), -1), lastOf(glyphs.size(), -1);
        auto along = [&](std::size_t g) {
            const std::size_t root = static_cast<std::size_t>(strings.Find(static_cast<int>(g)));
            return groups[root].Vertical ? glyphs[g].Box.Turned() : glyphs[g].Box;
        };
        for (std::size_t g = 0; g < glyphs.size(); ++g) {
            if (glyphs[g].Small)
                continue;
            const std::size_t root = static_cast<std::size_t>(strings.Find(static_cast<int>(g)));
            if (groups[root].Glyphs < 4 || strokesOnly[root])
                continue;
            const TBox b = along(g);
            int &first = firstOf[root], &last = lastOf[root];
            if (first < 0 || b.Left < along(static_cast<std::size_t>(first)).Left)
                first = static_cast<int>(g);
            if (last < 0 || b.Right > along(static_cast<std::size_t>(last)).Right)
                last = static_cast<int>(g);
        }
        std::vector<char> dashed(glyphs.size(), 1);
        for (std::size_t g = 0; g < glyphs.size(); ++g) {
            if (glyphs[g].Small)
                continue;
            const std::size_t root = static_cast<std::size_t>(strings.Find(static_cast<int>(g)));
            if (firstOf[root] < 0 || !dashed[root] || static_cast<int>(g) == firstOf[root] || static_cast<int>(g) == lastOf[root])
                continue;
            const TBox b = along(g);
            dashed[root] = b.Width() >= 2 * b.Height() && (glyphs[g].Thin || straight(g));
        }
        for (std::size_t root = 0; root < glyphs.size(); ++root)
            if (firstOf[root] >= 0 && dashed[root])
                strokesOnly[root] = 1;
    }
    // Groups of circles only (a lone circle, or two drawn near each other)
    // are drawing, not "O"s: each glyph of one piece in a square box is
    // looked into until one is no ring (a letter's box is seldom square, a
    // kanji's strokes are mostly more than one piece).
    std::vector<char> ringsOnly(glyphs.size(), 1);
    for (std::size_t g = 0; g < glyphs.size(); ++g) {
        if (glyphs[g].Small)
            continue;
        const std::size_t root = static_cast<std::size_t>(strings.Find(static_cast<int>(g)));
        if (!ringsOnly[root])
            continue;
        // A ring leaves the box's corners and middle white: at most three
        // quarters of it black.
        const TBox &box = glyphs[g].Box;
        ringsOnly[root] = 4 * glyphs[g].Pixels <= 3LL * box.Width() * box.Height()
                          && ((start[g + 1] - start[g] == 1 && TMoments::Square(box) && moments(g).Ring(box) && round(g))
                              || frame(g));
    }
    // A lone glyph within the reach of a group of two or more (a comma, a
    // stroke of a kanji that did not follow its neighbours) makes no string
    // of its own: it joins that string below, as small pieces do.
    {
        TBoxGrid grid(2 * maxH, width, height);
        std::vector<TBox> reach(groups.size());
        for (std::size_t root = 0; root < groups.size(); ++root) {
            const TGroup &group = groups[root];
            if (group.Glyphs < 2 || strokesOnly[root] || ringsOnly[root])
                continue;
            const TBox &b = group.Box;
            const int h = group.Vertical ? b.Width() : b.Height();
            const int along = h * 3 / 5, across = h / 3;
            reach[root] = group.Vertical ? TBox{b.Left - across, b.Top - along, b.Right + across, b.Bottom + along}
                                         : TBox{b.Left - along, b.Top - across, b.Right + along, b.Bottom + across};
            grid.Insert(static_cast<int>(root), TBox{std::max(reach[root].Left, 0), std::max(reach[root].Top, 0),
                                                     reach[root].Right, reach[root].Bottom});
        }
        grid.Finish();
        for (TGlyph &g : glyphs) {
            if (g.Small || groups[static_cast<std::size_t>(strings.Find(static_cast<int>(&g - glyphs.data())))].Glyphs != 1)
                continue;
            const int cx2 = g.Box.Left + g.Box.Right, cy2 = g.Box.Top + g.Box.Bottom;
            grid.ForNear(g.Box, [&](int root) {
                const TBox &r = reach[static_cast<std::size_t>(root)];
                if (2 * r.Left <= cx2 && cx2 <= 2 * r.Right && 2 * r.Top <= cy2 && cy2 <= 2 * r.Bottom)
                    g.Inside = true;
            });
        }
    }
    std::vector<int> stringOfRoot(glyphs.size(), -1);
    for (std::size_t root = 0; root < groups.size(); ++root) {
        const TGroup &group = groups[root];
        if (!group.Glyphs)
            continue;
        // Letters taken off a line make a string of two or more on one side of
        // it (a dot on a line and a branch of it are one piece over it and one
        // under it).
        if (group.OnLine == group.Glyphs
            && (group.Glyphs < 2 || std::max(group.Sides[1], group.Sides[2]) + group.Sides[0] < 2))
            continue;
        if (group.Glyphs == 1 && glyphs[root].Inside)
            continue;
        if (group.Glyphs == 1 && start[root + 1] - start[root] == 1) {
            const std::size_t k = static_cast<std::size_t>(items[static_cast<std::size_t>(start[root])]);
            if (k < regular && hangingFew[static_cast<std::size_t>(candidates[k])])
                continue;
        }
        if (group.Glyphs == 1) {
            const double density = double(group.Pixels) / (double(group.Box.Width()) * group.Box.Height());
            if (density < 0.1)
                continue;
            // A solid bar twice as long as it is thick or longer, alone: a
            // dash of a thick dashed line.
            if (density >= 0.75 && group.Box.Long() >= 2 * group.Box.Short() && start[root + 1] - start[root] == 1)
                continue;
            if (!glyphs[root].Thin)
                strokesOnly[root] = straight(root) || arms(root) || arc(root);
        }
        if (strokesOnly[root] || ringsOnly[root])
            continue;
        stringOfRoot[root] = static_cast<int>(result.Strings.size());
        TTextString s;
        s.Left = group.Box.Left;
        s.Top = group.Box.Top;
        s.Right = group.Box.Right;
        s.Bottom = group.Box.Bottom;
        s.Vertical = group.Vertical;
        s.Glyphs = group.Glyphs;
        result.Strings.push_back(s);
    }
    for (std::size_t g = 0; g < glyphs.size(); ++g)
        if (!glyphs[g].Small)
            glyphs[g].String = stringOfRoot[static_cast<std::size_t>(strings.Find(static_cast<int>(g)))];

    // The baseline: where the feet of most letters are (the median foot of
    // the letters at least 2/5 of the string's height: not a dash or an "=").
    {
        std::vector<std::vector<int>> feet(result.Strings.size());
        for (const TGlyph &g : glyphs) {
            if (g.String < 0)
                continue;
            const TTextString &t = result.Strings[static_cast<std::size_t>(g.String)];
            const TBox box = t.Vertical ? g.Box.Turned() : g.Box;
            if (5 * box.Height() >= 2 * t.TextHeight())
                feet[static_cast<std::size_t>(g.String)].push_back(box.Bottom);
        }
        for (std::size_t s = 0; s < feet.size(); ++s) {
            std::vector<int> &f = feet[s];
            if (f.empty())
                continue;
            std::nth_element(f.begin(), f.begin() + f.size() / 2, f.end());
            result.Strings[s].Baseline = f[f.size() / 2];
        }
    }

    // Small glyphs (full stops, the dots of a colon) join the string they lie
    // in, and so does a lone piece taken off a line (a descender crossing it)
    // or a lone glyph within a string's reach.
    {
        TBoxGrid grid(2 * maxH, width, height);
        std::vector<TBox> reach;
        for (std::size_t s = 0; s < result.Strings.size(); ++s) {
            const TTextString &t = result.Strings[s];
            const int h = t.TextHeight();
            const int along = h * 3 / 5, across = h / 3;
            const TBox box = t.Vertical ? TBox{t.Left - across, t.Top - along, t.Right + across, t.Bottom + along}
                                        : TBox{t.Left - along, t.Top - across, t.Right + along, t.Bottom + across};
            reach.push_back(box);
            grid.Insert(static_cast<int>(s), TBox{std::max(box.Left, 0), std::max(box.Top, 0), box.Right, box.Bottom});
        }
        grid.Finish();
        std::vector<TBox> grown;
        for (const TTextString &t : result.Strings)
            grown.push_back(TBox{t.Left, t.Top, t.Right, t.Bottom});
        for (TGlyph &g : glyphs) {
            if (!g.Small && !(g.String < 0 && (g.OnLine || g.Inside)))
                continue;
            const int cx2 = g.Box.Left + g.Box.Right, cy2 = g.Box.Top + g.Box.Bottom;
            grid.ForNear(g.Box, [&](int s) {
                if (g.String >= 0)
                    return;
                const TBox &r = reach[static_cast<std::size_t>(s)];
                if (g.Box.Long() <= result.Strings[static_cast<std::size_t>(s)].TextHeight()
                    && 2 * r.Left <= cx2 && cx2 <= 2 * r.Right && 2 * r.Top <= cy2 && cy2 <= 2 * r.Bottom)
                    g.String = s;
            });
            if (g.String >= 0)
                grown[static_cast<std::size_t>(g.String)].Add(g.Box);
        }
        for (std::size_t s = 0; s < result.Strings.size(); ++s) {
            TTextString &t = result.Strings[s];
            t.Left = grown[s].Left;
            t.Top = grown[s].Top;
            t.Right = grown[s].Right;
            t.Bottom = grown[s].Bottom;
        }
    }

    // The pixels of the strings move from the graphics to the text.
    std::vector<char> isText(ink.Components.size(), 0);
    for (std::size_t k = 0; k < regular; ++k)
        if (glyphs[static_cast<std::size_t>(glyphOfCandidate[k])].String >= 0)
            isText[static_cast<std::size_t>(candidates[k])] = 1;
    std::vector<char> textLine(static_cast<std::size_t>(height), 0);
    for (std::size_t k = 0; k < candidates.size(); ++k)
        if (isText[static_cast<std::size_t>(candidates[k])]) {
            const TInkComponent &c = ink.Components[static_cast<std::size_t>(candidates[k])];
            std::fill(textLine.begin() + c.Top, textLine.begin() + c.Bottom, 1);
        }
    // Line by line, in bands on the threads: a text line is made whole and
    // written at once.
    const int words = result.Text.Words();
    const int bands = Bands(height, threads);
    RunTasks(bands, static_cast<std::size_t>(bands), [&](std::size_t i, int) {
        std::vector<std::uint64_t> line(static_cast<std::size_t>(words));
        const int y0 = BandStart(height, bands, static_cast<int>(i)), y1 = BandStart(height, bands, static_cast<int>(i) + 1);
        for (int y = y0; y < y1; ++y) {
            if (!textLine[static_cast<std::size_t>(y)])
                continue;
            std::fill(line.begin(), line.end(), 0);
            bool any = false;
            const int end = ink.RunStart[static_cast<std::size_t>(y) + 1];
            for (int r = ink.RunStart[static_cast<std::size_t>(y)]; r < end; ++r) {
                if (!isText[static_cast<std::size_t>(ink.RunComponent[static_cast<std::size_t>(r)])])
                    continue;
                const TInkRun &run = ink.Runs[static_cast<std::size_t>(r)];
                SetRun(line.data(), run.X0, run.X1, true);
                any = true;
            }
            if (!any)
                continue;
            std::copy(line.begin(), line.end(), result.Text.Line(y));
            std::uint64_t *const graphics = result.Graphics.Line(y);
            for (int w = 0; w < words; ++w)
                graphics[w] &= ~line[static_cast<std::size_t>(w)];
        }
    });
    for (std::size_t k = regular; k < cand.size(); ++k) {
        if (glyphs[static_cast<std::size_t>(glyphOfCandidate[k])].String < 0)
            continue;
        for (const auto &[y, x0, x1] : extraRuns[k - regular]) {
            SetRun(result.Text.Line(y), x0, x1, true);
            SetRun(result.Graphics.Line(y), x0, x1, false);
        }
    }
    return result;
}

TStringLookup::TStringLookup(const TTextStrings &strings, float margin) : Strings(strings), Margin(margin)
{
    const int grow = static_cast<int>(std::ceil(margin)) + 1;
    for (const TTextString &t : strings) {
        Columns = std::max(Columns, (t.Right + grow) / kCell + 1);
        Rows = std::max(Rows, (t.Bottom + grow) / kCell + 1);
    }
    auto cells = [&](const TTextString &t, auto &&f) {
        const int x0 = std::max(t.Left - grow, 0) / kCell, x1 = std::max(t.Right + grow, 0) / kCell;
        const int y0 = std::max(t.Top - grow, 0) / kCell, y1 = std::max(t.Bottom + grow, 0) / kCell;
        for (int cy = y0; cy <= y1; ++cy)
            for (int cx = x0; cx <= x1; ++cx)
                f(cy * Columns + cx);
    };
    Start.assign(static_cast<std::size_t>(Columns) * Rows + 1, 0);
    for (const TTextString &t : strings)
        cells(t, [&](int c) { ++Start[static_cast<std::size_t>(c) + 1]; });
    for (std::size_t c = 1; c < Start.size(); ++c)
        Start[c] += Start[c - 1];
    Items.resize(static_cast<std::size_t>(Start.back()));
    std::vector<int> fill(Start.begin(), Start.end() - 1);
    for (std::size_t k = 0; k < strings.size(); ++k)
        cells(strings[k], [&](int c) { Items[static_cast<std::size_t>(fill[static_cast<std::size_t>(c)]++)] = static_cast<int>(k); });
}

std::size_t TStringLookup::Find(float x, float row) const
{
    const std::size_t none = Strings.size();
    if (!(x >= 0 && row >= 0))
        return none;
    const int cx = static_cast<int>(x) / kCell, cy = static_cast<int>(row) / kCell;
    if (cx >= Columns || cy >= Rows)
        return none;
    const std::size_t c = static_cast<std::size_t>(cy) * Columns + cx;
    std::size_t owner = none;
    // Filed in increasing order: the first that holds the point is the first string.
    for (int i = Start[c]; i < Start[c + 1]; ++i) {
        const TTextString &t = Strings[static_cast<std::size_t>(Items[static_cast<std::size_t>(i)])];
        if (x >= t.Left - Margin && x <= t.Right + Margin && row >= t.Top - Margin && row <= t.Bottom + Margin) {
            owner = static_cast<std::size_t>(Items[static_cast<std::size_t>(i)]);
            break;
        }
    }
    return owner;
}
