#include "cleanup/NoiseRemoval.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace {

struct TRun
{
    int First;
    int Last;  // inclusive
    int Index; // number of the run in scan order
};

// Calls f(first, last) for each run of set bits (of the inverted line when
// `white`) within the width, left to right.
template <class F>
void ForEachRun(const std::uint64_t *line, int words, int width, bool white, F &&f)
{
    const std::uint64_t flip = white ? ~std::uint64_t(0) : 0;
    const int tail = width & 63;
    const std::uint64_t lastMask = tail ? (std::uint64_t(1) << tail) - 1 : ~std::uint64_t(0);
    int start = -1;
    for (int i = 0; i < words; ++i) {
        std::uint64_t w = line[i] ^ flip;
        if (i == words - 1)
            w &= lastMask;
        int bit = 0;
        while (bit < 64) {
            if (start < 0) {
                const std::uint64_t rest = w >> bit;
                if (!rest)
                    break;
                bit += std::countr_zero(rest);
                start = 64 * i + bit;
            }
            const std::uint64_t rest = ~(w >> bit) & (bit ? ~std::uint64_t(0) >> bit : ~std::uint64_t(0));
            if (!rest) {
                bit = 64;  // the run goes on into the next word
                break;
            }
            bit += std::countr_zero(rest);
            f(start, 64 * i + bit - 1);
            start = -1;
        }
    }
    if (start >= 0)
        f(start, width - 1);
}

// Runs joined into components. Sizes are counted only up to `cap` (the
// largest size asked about plus one), so that they fit in 32 bits whatever the
// picture's size: a component is small or not the same either way.
class TComponents
{
public:
    TComponents(std::size_t runs, std::int64_t cap)
        : Cap(static_cast<std::uint32_t>(std::min<std::int64_t>(cap, UINT32_MAX)))
    {
        Parent.reserve(runs);
        Size.reserve(runs);
        Edge.reserve(runs);
    }
    int Add(bool edge)
    {
        Parent.push_back(static_cast<int>(Parent.size()));
        Size.push_back(1);
        Edge.push_back(edge);
        return static_cast<int>(Parent.size()) - 1;
    }
    int Find(int i)
    {
        while (Parent[static_cast<std::size_t>(i)] != i) {
            const int up = Parent[static_cast<std::size_t>(Parent[static_cast<std::size_t>(i)])];
            Parent[static_cast<std::size_t>(i)] = up;
            i = up;
        }
        return i;
    }
    void Unite(int a, int b)
    {
        a = Find(a);
        b = Find(b);
        if (a == b)
            return;
        if (Size[static_cast<std::size_t>(a)] < Size[static_cast<std::size_t>(b)])
            std::swap(a, b);
        Parent[static_cast<std::size_t>(b)] = a;
        Size[static_cast<std::size_t>(a)] = Sum(Size[static_cast<std::size_t>(a)], Size[static_cast<std::size_t>(b)]);
        Edge[static_cast<std::size_t>(a)] = Edge[static_cast<std::size_t>(a)] || Edge[static_cast<std::size_t>(b)];
    }
    void Grow(int i, int pixels)
    {
        Size[static_cast<std::size_t>(i)] = Sum(Size[static_cast<std::size_t>(i)], static_cast<std::uint32_t>(pixels - 1));
    }
    std::int64_t SizeOf(int root) const { return Size[static_cast<std::size_t>(root)]; }
    bool EdgeOf(int root) const { return Edge[static_cast<std::size_t>(root)]; }

private:
    std::uint32_t Sum(std::uint32_t a, std::uint32_t b) const
    {
        return std::min<std::uint64_t>(std::uint64_t(a) + b, Cap);
    }

    std::uint32_t Cap;
    std::vector<int> Parent;
    std::vector<std::uint32_t> Size;
    std::vector<bool> Edge;
};

// Flips every component of the given colour (black 8-connected, white
// 4-connected) with at most maxPixels pixels; white components that reach the
// picture's edge are kept.
void FlipSmallComponents(TBlackMask &mask, int maxPixels, bool white)
{
    const int width = mask.Width(), height = mask.Height(), words = mask.Words();
    // Runs overlap on neighbouring lines when they share a column (4-connected)
    // or touch diagonally too (8-connected).
    const int reach = white ? 0 : 1;
    // The runs are counted first, so that the components take what they need
    // and no more (an A0 sheet holds millions of runs).
    std::size_t runs = 0;
    for (int y = 0; y < height; ++y)
        ForEachRun(mask.Line(y), words, width, white, [&](int, int) { ++runs; });
    TComponents components(runs, std::int64_t(maxPixels) + 1);
    std::vector<TRun> previous, current;
    int count = 0;
    for (int y = 0; y < height; ++y) {
        current.clear();
        std::size_t k = 0;
        ForEachRun(mask.Line(y), words, width, white, [&](int first, int last) {
            const bool edge = white && (y == 0 || y == height - 1 || first == 0 || last == width - 1);
            const int id = components.Add(edge);
            components.Grow(id, last - first + 1);
            while (k < previous.size() && previous[k].Last + reach < first)
                ++k;
            for (std::size_t j = k; j < previous.size() && previous[j].First <= last + reach; ++j)
                components.Unite(id, previous[j].Index);
            current.push_back(TRun{first, last, count++});
        });
        std::swap(previous, current);
    }
    // Second walk over the same runs in the same order.
    count = 0;
    for (int y = 0; y < height; ++y) {
        std::uint64_t *line = mask.Line(y);
        ForEachRun(mask.Line(y), words, width, white, [&](int first, int last) {
            const int root = components.Find(count++);
            if (components.SizeOf(root) > maxPixels || components.EdgeOf(root))
                return;
            for (int x = first; x <= last; ++x)
                line[x >> 6] ^= std::uint64_t(1) << (x & 63);
        });
    }
}

} // namespace

TBlackMask Despeckle(TBlackMask mask, int maxPixels)
{
    if (maxPixels <= 0)
        return mask;
    FlipSmallComponents(mask, maxPixels, false);
    FlipSmallComponents(mask, maxPixels, true);
    return mask;
}
