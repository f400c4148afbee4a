#pragma once

// The three methods written pixel by pixel, step for step as the rules read,
// through the picture's per-pixel reads. Slow and plain: the tracers, which
// work on 64 pixels at a time, must give exactly the same segment lists.

#include "ScanPictures.h"

#include "image/TzDIB.h"

#include <vector>

namespace Reference {

class TPicture
{
public:
    explicit TPicture(const TTzDIB &dib) : Dib(dib), W(dib.Width()), H(dib.Height()) {}
    int Width() const { return W; }
    int Height() const { return H; }
    // colour(x, y): the palette entry for 8 bits or fewer; outside is white.
    TColor Colour(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= W || y >= H)
            return 0xFFFFFF;
        const std::int32_t p = Dib.Pixels(x, y);
        return Dib.BitCount() > 8 ? p : Dib.Colors(p);
    }
    bool Black(int x, int y) const { return Colour(x, y) == 0; }

private:
    const TTzDIB &Dib;
    int W, H;
};

class TList
{
public:
    explicit TList(int height) : H(height) {}
    void Add(int x1, int row1, int x2, int row2) { Segs.push_back(TSeg{x1, H - row1, x2, H - row2}); }
    std::vector<TSeg> Segs;

private:
    int H;
};

inline std::vector<TSeg> LineMode(const TPicture &p)
{
    const int W = p.Width(), H = p.Height();
    TList list(H);
    // Pass 1: rows.
    for (int y = 0; y < H; ++y) {
        bool inRun = p.Black(0, y);
        int start = 0, end = 0;
        for (int x = 0; x < W; ++x) {
            if (!inRun && p.Black(x, y)) {
                start = x;
                inRun = true;
            }
            if (inRun) {
                const bool f = p.Black(x + 1, y);
                if (!f) {
                    inRun = false;
                    end = x;
                }
                if (f && p.Black(x, y - 1) && p.Black(x + 1, y - 1) && p.Black(x + 1, y + 1) &&
                    p.Black(x, y + 1)) {
                    inRun = false;
                    end = x;
                }
                if (!inRun && start != end)
                    list.Add(start, y, end, y);
            }
        }
    }
    // Pass 2: columns.
    for (int x = 0; x < W; ++x) {
        bool inRun = p.Black(x, 0);
        int start = 0, end = 0;
        for (int y = 0; y < H; ++y) {
            if (!inRun && p.Black(x, y)) {
                start = y;
                inRun = true;
            }
            if (inRun) {
                const bool f = p.Black(x, y + 1);
                if (!f) {
                    inRun = false;
                    end = y;
                }
                if (f && p.Black(x - 1, y) && p.Black(x - 1, y + 1) && p.Black(x + 1, y + 1) &&
                    p.Black(x + 1, y)) {
                    inRun = false;
                    end = y;
                }
                if (!inRun && start != end)
                    list.Add(x, start, x, end);
            }
        }
    }
    // One diagonal from (x, y); dy = +1 down-right, -1 up-right.
    auto diagonal = [&](int x, int y, int dy) {
        bool inRun = false;
        int sx = 0, sy = 0, fx = 0, fy = 0;
        const int edgeRow = dy > 0 ? H - 1 : 0;
        while (x != W - 1 && y != edgeRow) {
            const bool step = p.Black(x, y) && !p.Black(x + 1, y) && !p.Black(x, y + dy) &&
                              p.Black(x + 1, y + dy);
            if (step) {
                if (!inRun) {
                    sx = x;
                    sy = y;
                    inRun = true;
                }
                fx = x + 1;
                fy = y + dy;
            } else if (inRun) {
                list.Add(sx, sy, fx, fy);
                inRun = false;
            }
            x += 1;
            y += dy;
        }
        if (inRun)
            list.Add(sx, sy, fx, fy);
    };
    for (int x = 0; x < W; ++x)
        diagonal(x, 0, +1);
    for (int x = 0; x < W; ++x)
        diagonal(x, H - 1, -1);
    for (int y = 0; y < H; ++y)
        diagonal(0, y, +1);
    for (int y = 0; y < H; ++y)
        diagonal(0, y, -1);
    return list.Segs;
}

inline std::vector<TSeg> BoxMode(const TPicture &p)
{
    const int W = p.Width(), H = p.Height();
    TList list(H);
    // One boundary line of `length` positions; emit(start, end).
    auto runs = [](int length, auto on, auto emit) {
        bool inRun = false;
        int start = 0;
        for (int q = 0; q < length; ++q) {
            if (!inRun && on(q)) {
                start = q;
                inRun = true;
            }
            if (inRun && !on(q)) {
                inRun = false;
                if (start != q)
                    emit(start, q);
            }
        }
        if (inRun && start != length)
            emit(start, length);
    };
    for (int r = 0; r < H; ++r)
        runs(W, [&](int x) { return p.Black(x, r) != p.Black(x, r + 1); },
             [&](int s, int e) { list.Add(s, r + 1, e, r + 1); });
    runs(W, [&](int x) { return p.Black(x, 0); }, [&](int s, int e) { list.Add(s, 0, e, 0); });
    runs(W, [&](int x) { return p.Black(x, H - 1); }, [&](int s, int e) { list.Add(s, H, e, H); });
    for (int x = 0; x < W; ++x)
        runs(H, [&](int y) { return p.Black(x, y) != p.Black(x + 1, y); },
             [&](int s, int e) { list.Add(x + 1, s, x + 1, e); });
    runs(H, [&](int y) { return p.Black(0, y); }, [&](int s, int e) { list.Add(0, s, 0, e); });
    runs(H, [&](int y) { return p.Black(W - 1, y); }, [&](int s, int e) { list.Add(W, s, W, e); });
    return list.Segs;
}

// The line 2 work image: 1 bit, entry 0 white, entry 1 black.
inline TTzDIB Line2WorkImage(const TPicture &p)
{
    const int W = p.Width(), H = p.Height();
    TTzDIB work = WhitePicture(W, H);
    for (int y = 0; y < H; ++y) {
        bool flag = p.Black(0, y);
        for (int x = 0; x < W; ++x) {
            if ((p.Black(x, y) && !flag) || (x == 0 && p.Black(x, y))) {
                flag = true;
                work.SetPixels(x, y, 1);
            }
            if (flag && (!p.Black(x + 1, y) || x == W - 1)) {
                flag = false;
                work.SetPixels(x, y, 1);
            }
        }
    }
    for (int x = 0; x < W; ++x) {
        bool flag = p.Black(x, 0);
        for (int y = 0; y < H; ++y) {
            if ((p.Black(x, y) && !flag) || (y == 0 && p.Black(x, y))) {
                flag = true;
                work.SetPixels(x, y, 1);
            }
            if (flag && (!p.Black(x, y + 1) || y == H - 1)) {
                flag = false;
                work.SetPixels(x, y, 1);
            }
        }
    }
    return work;
}

inline std::vector<TSeg> Line2Mode(const TPicture &p)
{
    const TTzDIB work = Line2WorkImage(p);
    return LineMode(TPicture(work));
}

} // namespace Reference
