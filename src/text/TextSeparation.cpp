#include "text/TextSeparation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <unordered_map>
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
// without comparing every pair.
class TBoxGrid
{
public:
    explicit TBoxGrid(int cell) : Cell(std::max(cell, 1)) {}
    void Insert(int index, const TBox &box)
    {
        for (int cy = box.Top / Cell; cy <= (box.Bottom - 1) / Cell; ++cy)
            for (int cx = box.Left / Cell; cx <= (box.Right - 1) / Cell; ++cx)
                Cells[Key(cx, cy)].push_back(index);
    }
    // Every index filed in a cell that `box` covers (an index may come more than once).
    template <class F>
    void ForNear(const TBox &box, F &&f) const
    {
        for (int cy = std::max(box.Top, 0) / Cell; cy <= std::max(box.Bottom - 1, 0) / Cell; ++cy)
            for (int cx = std::max(box.Left, 0) / Cell; cx <= std::max(box.Right - 1, 0) / Cell; ++cx) {
                const auto it = Cells.find(Key(cx, cy));
                if (it != Cells.end())
                    for (const int i : it->second)
                        f(i);
            }
    }

private:
    static std::uint64_t Key(int cx, int cy)
    {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(cy)) << 32) | static_cast<std::uint32_t>(cx);
    }
    int Cell;
    std::unordered_map<std::uint64_t, std::vector<int>> Cells;
};

// The first black pixel at or after x, or `width`.
int NextBlack(const std::uint64_t *line, int words, int width, int x)
{
    int i = x >> 6;
    if (i >= words)
        return width;
    std::uint64_t b = line[i] & (~std::uint64_t(0) << (x & 63));
    while (!b) {
        if (++i >= words)
            return width;
        b = line[i];
    }
    return 64 * i + std::countr_zero(b);
}

// The first white pixel at or after x, or `width`.
int NextWhite(const std::uint64_t *line, int words, int width, int x)
{
    int i = x >> 6;
    if (i >= words)
        return width;
    std::uint64_t b = ~line[i] & (~std::uint64_t(0) << (x & 63));
    while (!b) {
        if (++i >= words)
            return width;
        b = ~line[i];
    }
    return std::min(64 * i + std::countr_zero(b), width);
}

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

struct TGlyph
{
    TBox Box;
    long long Pixels = 0;
    bool Small = false;      // too small to start a string
    bool Thin = false;       // long and thin: a dash, a "1", a "-"
    bool Vertical = false;   // in a string that runs along the columns
    int String = -1;
};

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
    return 3 * low >= high || lower.Width() >= 2 * lower.Height();
}

} // namespace

TTextSizes TTextSizes::ForResolution(int dpi)
{
    if (dpi <= 0)
        dpi = 400;
    TTextSizes sizes;
    sizes.MinHeight = std::max(4, static_cast<int>(std::lround(dpi / 25.4)));
    sizes.MaxHeight = std::max(sizes.MinHeight + 1, static_cast<int>(std::lround(10 * dpi / 25.4)));
    return sizes;
}

TInkComponents FindComponents(const TBlackMask &mask)
{
    TInkComponents result;
    const int width = mask.Width(), height = mask.Height(), words = mask.Words();
    auto &runs = result.Runs;
    result.RunStart.assign(static_cast<std::size_t>(height) + 1, 0);
    std::vector<int> parent;
    auto find = [&](int i) {
        while (parent[static_cast<std::size_t>(i)] != i) {
            int &p = parent[static_cast<std::size_t>(i)];
            p = parent[static_cast<std::size_t>(p)];
            i = p;
        }
        return i;
    };
    int previous = 0;
    for (int y = 0; y < height; ++y) {
        const int start = static_cast<int>(runs.size());
        result.RunStart[static_cast<std::size_t>(y)] = start;
        const std::uint64_t *line = mask.Line(y);
        int p = previous;
        for (int x = NextBlack(line, words, width, 0); x < width;) {
            const int end = NextWhite(line, words, width, x);
            const int self = static_cast<int>(runs.size());
            runs.push_back({x, end, self});
            parent.push_back(self);
            // Runs of the line above that touch this one, diagonals included.
            while (p < start && runs[static_cast<std::size_t>(p)].X1 < x)
                ++p;
            for (int q = p; q < start && runs[static_cast<std::size_t>(q)].X0 <= end; ++q) {
                const int a = find(q), b = find(self);
                if (a != b)
                    parent[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
            }
            x = NextBlack(line, words, width, end);
        }
        previous = start;
    }
    result.RunStart[static_cast<std::size_t>(height)] = static_cast<int>(runs.size());

    std::vector<int> number(runs.size(), -1);
    for (int y = 0; y < height; ++y)
        for (int r = result.RunStart[static_cast<std::size_t>(y)]; r < result.RunStart[static_cast<std::size_t>(y) + 1]; ++r) {
            auto &run = runs[static_cast<std::size_t>(r)];
            // Roots come before the runs they hold: their number is set first.
            const int root = find(r);
            int &id = number[static_cast<std::size_t>(root)];
            if (id < 0) {
                id = static_cast<int>(result.Components.size());
                result.Components.push_back({run.X0, y, run.X1, y + 1, 0});
            }
            run.Component = id;
            TInkComponent &c = result.Components[static_cast<std::size_t>(id)];
            c.Left = std::min(c.Left, run.X0);
            c.Right = std::max(c.Right, run.X1);
            c.Bottom = y + 1;
            c.Pixels += run.X1 - run.X0;
        }
    return result;
}

TTextSeparation SeparateText(const TBlackMask &mask, const TTextSizes &sizes)
{
    TTextSeparation result;
    result.Graphics = mask;
    result.Text = TBlackMask(mask.Width(), mask.Height());
    const TInkComponents ink = FindComponents(mask);
    const int minH = sizes.MinHeight, maxH = sizes.MaxHeight;

    // Pieces of letter size; pieces whose boxes touch make one glyph (the
    // strokes of a kanji, the dot of an "i").
    std::vector<int> candidates;
    for (std::size_t i = 0; i < ink.Components.size(); ++i) {
        const TInkComponent &c = ink.Components[i];
        const TBox box{c.Left, c.Top, c.Right, c.Bottom};
        if (box.Long() > maxH * 3 / 2 || box.Short() > maxH)
            continue;
        // A solid block is a fill, not a letter.
        const double density = double(c.Pixels) / (double(box.Width()) * box.Height());
        if (box.Long() >= minH && box.Short() > minH / 2 && density > 0.85)
            continue;
        candidates.push_back(static_cast<int>(i));
    }
    const int touch = std::max(1, minH / 8);
    TUnion pieces(candidates.size());
    {
        TBoxGrid grid(2 * maxH);
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const TInkComponent &c = ink.Components[static_cast<std::size_t>(candidates[k])];
            grid.Insert(static_cast<int>(k), TBox{c.Left, c.Top, c.Right, c.Bottom});
        }
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const TInkComponent &c = ink.Components[static_cast<std::size_t>(candidates[k])];
            const TBox near{c.Left - touch, c.Top - touch, c.Right + touch, c.Bottom + touch};
            grid.ForNear(near, [&](int j) {
                if (j <= static_cast<int>(k))
                    return;
                const TInkComponent &o = ink.Components[static_cast<std::size_t>(candidates[static_cast<std::size_t>(j)])];
                if (o.Left < near.Right && near.Left < o.Right && o.Top < near.Bottom && near.Top < o.Bottom)
                    pieces.Join(static_cast<int>(k), j);
            });
        }
    }
    std::vector<TGlyph> glyphs;
    std::vector<int> glyphOfCandidate(candidates.size(), -1);
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        const int root = pieces.Find(static_cast<int>(k));
        int &g = glyphOfCandidate[static_cast<std::size_t>(root)];
        const TInkComponent &c = ink.Components[static_cast<std::size_t>(candidates[k])];
        const TBox box{c.Left, c.Top, c.Right, c.Bottom};
        if (g < 0) {
            g = static_cast<int>(glyphs.size());
            glyphs.push_back(TGlyph{box});
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
    TBoxGrid glyphGrid(2 * maxH);
    for (std::size_t g = 0; g < glyphs.size(); ++g)
        if (!glyphs[g].Small)
            glyphGrid.Insert(static_cast<int>(g), glyphs[g].Box);
    std::vector<std::pair<int, int>> rowLinks, columnLinks;
    for (std::size_t g = 0; g < glyphs.size(); ++g) {
        if (glyphs[g].Small)
            continue;
        const TBox &a = glyphs[g].Box;
        const int reach = std::min(a.Long() * 3 / 2, maxH * 3 / 2);
        const TBox near{a.Left - reach, a.Top - reach, a.Right + reach, a.Bottom + reach};
        int last = -1;
        std::vector<int> seen;
        glyphGrid.ForNear(near, [&](int j) {
            if (j <= static_cast<int>(g) || j == last)
                return;
            last = j;
            seen.push_back(j);
        });
        std::sort(seen.begin(), seen.end());
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        for (const int j : seen) {
            const TBox &b = glyphs[static_cast<std::size_t>(j)].Box;
            if (Continues(a, b, sizes))
                rowLinks.emplace_back(static_cast<int>(g), j);
            if (Continues(a.Turned(), b.Turned(), sizes))
                columnLinks.emplace_back(static_cast<int>(g), j);
        }
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
        int Thin = 0;
        long long Pixels = 0;
        bool Vertical = false;
    };
    std::unordered_map<int, TGroup> groups;
    for (std::size_t g = 0; g < glyphs.size(); ++g) {
        if (glyphs[g].Small)
            continue;
        TGroup &group = groups.try_emplace(strings.Find(static_cast<int>(g)), TGroup{glyphs[g].Box}).first->second;
        group.Box.Add(glyphs[g].Box);
        ++group.Glyphs;
        group.Thin += glyphs[g].Thin;
        group.Pixels += glyphs[g].Pixels;
        group.Vertical = glyphs[g].Vertical;
    }
    std::vector<int> stringOfRoot(glyphs.size(), -1);
    std::vector<int> roots;
    for (const auto &[root, group] : groups)
        roots.push_back(root);
    std::sort(roots.begin(), roots.end());
    for (const int root : roots) {
        const TGroup &group = groups[root];
        if (group.Thin == group.Glyphs)
            continue;
        if (group.Glyphs == 1) {
            const double density = double(group.Pixels) / (double(group.Box.Width()) * group.Box.Height());
            if (density < 0.1)
                continue;
        }
        stringOfRoot[static_cast<std::size_t>(root)] = static_cast<int>(result.Strings.size());
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

    // Small glyphs (full stops, the dots of a colon) join the string they lie in.
    {
        TBoxGrid grid(2 * maxH);
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
        std::vector<TBox> grown;
        for (const TTextString &t : result.Strings)
            grown.push_back(TBox{t.Left, t.Top, t.Right, t.Bottom});
        for (TGlyph &g : glyphs) {
            if (!g.Small)
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
    for (std::size_t k = 0; k < candidates.size(); ++k)
        if (glyphs[static_cast<std::size_t>(glyphOfCandidate[k])].String >= 0)
            isText[static_cast<std::size_t>(candidates[k])] = 1;
    for (int y = 0; y < mask.Height(); ++y)
        for (int r = ink.RunStart[static_cast<std::size_t>(y)]; r < ink.RunStart[static_cast<std::size_t>(y) + 1]; ++r) {
            const auto &run = ink.Runs[static_cast<std::size_t>(r)];
            if (!isText[static_cast<std::size_t>(run.Component)])
                continue;
            SetRun(result.Text.Line(y), run.X0, run.X1, true);
            SetRun(result.Graphics.Line(y), run.X0, run.X1, false);
        }
    return result;
}
