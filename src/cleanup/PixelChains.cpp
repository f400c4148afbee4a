#include "cleanup/PixelChains.h"

#include "base/TaskPool.h"
#include "base/Threads.h"
#include "cleanup/PixelNeighbours.h"

#include <cstdint>
#include <algorithm>
#include <vector>
#include <bit>
#include <cstdlib>
#include <functional>
#include <queue>
#include <unordered_set>
#include <utility>

namespace {

using namespace PixelNeighbours;

std::uint64_t Key(int x, int y)
{
    return (std::uint64_t(std::uint32_t(y)) << 32) | std::uint32_t(x);
}

// The chains of a mask traced in bands of lines. A chain between two nodes
// (pixels with no, one, or three or more neighbours) is taken where it is
// met first going through the nodes in line order, each node's neighbours in
// neighbour order: a band walks every chain from its nodes to the far end and
// keeps those whose far end comes later. So a band needs nothing from the
// others, and the chains of the bands one after the other are those of the
// whole mask in that order. Then the closed lines without a node, each from
// its first pixel in line order, again in bands.
class TChainTracer
{
public:
    using TTake = TPartChainTaker;

    TChainTracer(const TBlackMask &mask, int threads) : Mask(mask), Threads(ThreadsPerPicture(threads))
    {
        const int bands = Threads > 1 ? std::max(1, std::min(8 * Threads, Mask.Height() / 64)) : 1;
        First.resize(std::size_t(bands) + 1);
        for (int b = 0; b <= bands; ++b)
            First[std::size_t(b)] = BandStart(Mask.Height(), bands, b);
    }

    std::size_t Parts() const { return 2 * Bands(); }

    void Trace(const TTake &take)
    {
        FindJunctions();
        // Each worker walks its chains in a list of its own, used over and over.
        std::vector<std::vector<TPixel>> rooms(static_cast<std::size_t>(Threads));
        // Chains from every end and junction pixel.
        std::vector<std::vector<std::uint64_t>> tops(Bands());
        RunTasks(Threads, Bands(), [&](std::size_t b, int worker) {
            std::vector<std::uint64_t> &bandTops = tops[b];
            std::vector<TPixel> &chain = rooms[std::size_t(worker)];
            // The chains taken whose far end is a node of this band still to
            // come, as that node's key and the neighbour the chain leaves it
            // by, least first: the walk from there would only come back to a
            // node before it, and is not made.
            using TFarEnd = std::pair<std::uint64_t, int>;
            std::priority_queue<TFarEnd, std::vector<TFarEnd>, std::greater<TFarEnd>> taken;
            ForEachPixel(b, true, [&](int x, int y) {
                const unsigned code = Code(Mask, x, y);
                const std::uint64_t here = Key(x, y);
                for (int k = 0; k < 8; ++k) {
                    if (!((code >> k) & 1))
                        continue;
                    if (!taken.empty() && taken.top() == TFarEnd{here, k}) {
                        taken.pop();
                        continue;
                    }
                    const int nx = x + DX[static_cast<std::size_t>(k)], ny = y + DY[static_cast<std::size_t>(k)];
                    if (Count(Code(Mask, nx, ny)) != 2) {
                        // Two nodes side by side: one chain, taken once.
                        if (Key(nx, ny) > here && !SameJunction(x, y, nx, ny)) {
                            chain.assign({TPixel{x, y}, TPixel{nx, ny}});
                            Emit(chain, b, worker, take);
                        }
                        continue;
                    }
                    const std::size_t kept = bandTops.size();
                    Walk(x, y, nx, ny, 0, &bandTops, chain);
                    // The chain comes back to this node, or to another, from
                    // neighbour `back` of that node.
                    const TPixel end = chain.back(), last = chain[chain.size() - 2];
                    int back = 0;
                    while (end.X + DX[static_cast<std::size_t>(back)] != last.X ||
                           end.Y + DY[static_cast<std::size_t>(back)] != last.Y)
                        ++back;
                    const std::uint64_t there = Key(end.X, end.Y);
                    if (there < here || (there == here && back < k)) {
                        bandTops.resize(kept);  // taken from the other end
                        continue;
                    }
                    if (end.Y < First[b + 1])
                        taken.emplace(there, back);
                    Emit(chain, b, worker, take);
                }
            });
        });
        // What is left are closed lines without a junction, each taken from
        // its first pixel in line order: a pixel with no neighbour before it,
        // on no chain taken yet, whose walk comes back to it without meeting
        // a pixel before it.
        for (std::size_t b = 1; b < tops.size(); ++b) {
            tops[0].insert(tops[0].end(), tops[b].begin(), tops[b].end());
            std::vector<std::uint64_t>().swap(tops[b]);
        }
        std::vector<std::uint64_t> &openTops = tops[0];
        std::sort(openTops.begin(), openTops.end());
        RunTasks(Threads, Bands(), [&](std::size_t b, int worker) {
            std::vector<TPixel> &chain = rooms[std::size_t(worker)];
            std::size_t top = std::size_t(
                std::lower_bound(openTops.begin(), openTops.end(), Key(0, First[b])) - openTops.begin());
            ForEachPixel(b, false, [&](int x, int y) {
                if (top < openTops.size() && openTops[top] == Key(x, y)) {
                    ++top;
                    return;
                }
                const unsigned code = Code(Mask, x, y);
                const int k = std::countr_zero(code);
                const int nx = x + DX[static_cast<std::size_t>(k)], ny = y + DY[static_cast<std::size_t>(k)];
                Walk(x, y, nx, ny, Key(x, y), nullptr, chain);
                if (chain.back() == TPixel{x, y})
                    Emit(chain, Bands() + b, worker, take);
            });
        });
    }

private:
    std::size_t Bands() const { return First.size() - 1; }

    // Groups the pixels with three or more neighbours into junctions. Their
    // keys, found in line order (the bands on the threads), are sorted: a
    // binary search among those of its line finds one.
    void FindJunctions()
    {
        LineStart.assign(std::size_t(Mask.Height()) + 1, 0);
        std::vector<std::vector<std::uint64_t>> found(Bands());
        RunTasks(Threads, Bands(), [&](std::size_t b, int) {
            ForEachPixel(b, true, [&](int x, int y) {
                if (Count(Code(Mask, x, y)) >= 3) {
                    found[b].push_back(Key(x, y));
                    ++LineStart[std::size_t(y) + 1];
                }
            });
        });
        for (std::vector<std::uint64_t> &keys : found) {
            JunctionKeys.insert(JunctionKeys.end(), keys.begin(), keys.end());
            std::vector<std::uint64_t>().swap(keys);
        }
        for (std::size_t y = 1; y < LineStart.size(); ++y)
            LineStart[y] += LineStart[y - 1];
        JunctionIds.assign(JunctionKeys.size(), -1);
        // A junction is numbered in the order of its first pixel, and is
        // found by the band of that pixel, which walks it from there (into
        // the bands below as well); a band meeting a pixel of an earlier band
        // leaves the junction to that band. The junctions of each band are
        // then numbered after those of the bands before.
        struct TFound
        {
            std::vector<std::size_t> Members, Ends;  // each junction's pixels, and where they end
            std::vector<TPixel> Centres;
        };
        std::vector<TFound> bands(Bands());
        RunTasks(Threads, Bands(), [&](std::size_t b, int) {
            const std::size_t low = LineStart[std::size_t(First[b])], high = LineStart[std::size_t(First[b + 1])];
            TFound &band = bands[b];
            std::vector<char> seen(high - low, 0);
            // The pixels of the junction walked in other bands.
            std::vector<std::size_t> stack, members, beyond;
            std::unordered_set<std::size_t> beyondSet;
            const auto visit = [&](std::size_t at) {
                if (at >= low && at < high) {
                    if (seen[at - low])
                        return false;
                    seen[at - low] = 1;
                    return true;
                }
                // Looked up in a list while few, else in a set.
                if (!beyondSet.empty())
                    return beyondSet.insert(at).second;
                if (std::find(beyond.begin(), beyond.end(), at) != beyond.end())
                    return false;
                beyond.push_back(at);
                if (beyond.size() == 32)
                    beyondSet.insert(beyond.begin(), beyond.end());
                return true;
            };
            for (std::size_t j = low; j < high; ++j) {
                if (seen[j - low])
                    continue;
                seen[j - low] = 1;
                members.clear();
                beyond.clear();
                if (!beyondSet.empty())
                    beyondSet.clear();
                stack.assign(1, j);
                bool own = true;
                while (!stack.empty()) {
                    const std::size_t at = stack.back();
                    stack.pop_back();
                    members.push_back(at);
                    own = own && at >= low;
                    const int x = int(std::uint32_t(JunctionKeys[at])), y = int(JunctionKeys[at] >> 32);
                    const unsigned code = Code(Mask, x, y);
                    for (int k = 0; k < 8; ++k) {
                        if (!((code >> k) & 1))
                            continue;
                        const std::ptrdiff_t next =
                            IndexOf(x + DX[static_cast<std::size_t>(k)], y + DY[static_cast<std::size_t>(k)]);
                        if (next >= 0 && visit(std::size_t(next)))
                            stack.push_back(std::size_t(next));
                    }
                }
                if (!own)
                    continue;
                double cx = 0, cy = 0;
                for (const std::size_t m : members) {
                    cx += int(std::uint32_t(JunctionKeys[m]));
                    cy += int(JunctionKeys[m] >> 32);
                }
                cx /= static_cast<double>(members.size());
                cy /= static_cast<double>(members.size());
                TPixel best{int(std::uint32_t(JunctionKeys[members.front()])), int(JunctionKeys[members.front()] >> 32)};
                double bestDistance = 1e300;
                for (const std::size_t m : members) {
                    const int x = int(std::uint32_t(JunctionKeys[m])), y = int(JunctionKeys[m] >> 32);
                    const double d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = TPixel{x, y};
                    }
                }
                band.Members.insert(band.Members.end(), members.begin(), members.end());
                band.Ends.push_back(band.Members.size());
                band.Centres.push_back(best);
            }
        });
        std::vector<std::size_t> firstId(Bands() + 1, 0);
        for (std::size_t b = 0; b < Bands(); ++b)
            firstId[b + 1] = firstId[b] + bands[b].Centres.size();
        Centre.resize(firstId.back());
        RunTasks(Threads, Bands(), [&](std::size_t b, int) {
            const TFound &band = bands[b];
            for (std::size_t g = 0, m = 0; g < band.Centres.size(); ++g) {
                const int id = int(firstId[b] + g);
                Centre[std::size_t(id)] = band.Centres[g];
                for (; m < band.Ends[g]; ++m)
                    JunctionIds[band.Members[m]] = id;
            }
        });
    }

    // Where pixel (x, y) is among the junction pixels, or -1.
    std::ptrdiff_t IndexOf(int x, int y) const
    {
        if (y < 0 || y >= Mask.Height())
            return -1;
        const std::uint64_t key = Key(x, y);
        const auto end = JunctionKeys.begin() + std::ptrdiff_t(LineStart[std::size_t(y) + 1]);
        const auto it = std::lower_bound(JunctionKeys.begin() + std::ptrdiff_t(LineStart[std::size_t(y)]), end, key);
        return it != end && *it == key ? it - JunctionKeys.begin() : -1;
    }

    int JunctionOf(int x, int y) const
    {
        const std::ptrdiff_t at = IndexOf(x, y);
        return at < 0 ? -1 : JunctionIds[std::size_t(at)];
    }
    bool SameJunction(int x0, int y0, int x1, int y1) const
    {
        const int a = JunctionOf(x0, y0);
        return a >= 0 && a == JunctionOf(x1, y1);
    }

    // From node (x0, y0) through line pixel (x, y) to the next node (or back
    // to the start of a closed line). Stops at the first pixel whose key is
    // below `least` (which ends the chain). Line pixels passed with no
    // neighbour before them in line order go to `tops` when given. The chain
    // is made in `chain`.
    void Walk(int x0, int y0, int x, int y, std::uint64_t least, std::vector<std::uint64_t> *tops,
              std::vector<TPixel> &chain) const
    {
        chain.assign(1, TPixel{x0, y0});
        int px = x0, py = y0;
        for (;;) {
            chain.push_back({x, y});
            const unsigned code = Code(Mask, x, y);
            if (Count(code) != 2 || (x == x0 && y == y0) || Key(x, y) < least)
                break;
            // Neighbours 1 to 4 (upper right to left) come before a pixel.
            if (tops && !(code & 0x1E))
                tops->push_back(Key(x, y));
            int nx = px, ny = py;
            NextAlong(code, x, y, px, py, nx, ny);
            px = x;
            py = y;
            x = nx;
            y = ny;
        }
    }

    // Ends at junctions move to the junction's centre pixel; a chain that
    // leaves a junction only to come back to it beside itself is part of it.
    // (The chain is changed.)
    void Emit(std::vector<TPixel> &chain, std::size_t part, int worker, const TTake &take) const
    {
        const int first = JunctionOf(chain.front().X, chain.front().Y);
        const int last = JunctionOf(chain.back().X, chain.back().Y);
        if (first >= 0 && first == last) {
            const TPixel c = Centre[static_cast<std::size_t>(first)];
            bool near = true;
            for (const TPixel &p : chain)
                near = near && std::abs(p.X - c.X) <= 2 && std::abs(p.Y - c.Y) <= 2;
            if (near)
                return;
        }
        if (first >= 0 && !(chain.front() == Centre[static_cast<std::size_t>(first)]))
            chain.insert(chain.begin(), Centre[static_cast<std::size_t>(first)]);
        if (last >= 0 && !(chain.back() == Centre[static_cast<std::size_t>(last)]))
            chain.push_back(Centre[static_cast<std::size_t>(last)]);
        take(part, worker, chain);
    }

    // Calls f(x, y) for every node pixel (no, one, or three or more
    // neighbours) or, without `nodes`, every pixel with two neighbours, none
    // of them before it in line order, of band b; line by line from the
    // left, the neighbours counted 64 pixels at a time.
    template <class F>
    void ForEachPixel(std::size_t b, bool nodes, F &&f) const
    {
        for (int y = First[b]; y < First[b + 1]; ++y)
            ForEachChosenWord(
                Mask.Line(y - 1), Mask.Line(y), Mask.Line(y + 1), Mask.Words(),
                [nodes](const auto &n, auto c) {
                    auto one = c, two = c, three = c;
                    n.Counts(one, two, three);
                    return c & (nodes ? ~two | three : two & ~three & ~(n.W | n.NW | n.N | n.NE));
                },
                [&](int i, std::uint64_t bits) {
                    for (; bits; bits &= bits - 1)
                        f(64 * i + std::countr_zero(bits), y);
                });
    }

    const TBlackMask &Mask;
    int Threads;
    std::vector<int> First;                   // the first line of each band, and the height
    std::vector<std::uint64_t> JunctionKeys;  // ascending
    std::vector<std::size_t> LineStart;       // the first key of each line, and the end
    std::vector<int> JunctionIds;             // the junction of each key
    std::vector<TPixel> Centre;
};

} // namespace

std::vector<std::vector<TPixel>> PixelChains(const TBlackMask &mask)
{
    std::vector<std::vector<TPixel>> chains;
    ForEachPixelChain(mask, [&](const std::vector<TPixel> &chain) { chains.push_back(chain); });
    return chains;
}

void ForEachPixelChain(const TBlackMask &mask, const std::function<void(const std::vector<TPixel> &chain)> &f)
{
    TChainTracer(mask, 1).Trace([&](std::size_t, int, const std::vector<TPixel> &chain) { f(chain); });
}

std::size_t PixelChainParts(const TBlackMask &mask, int threads)
{
    return TChainTracer(mask, threads).Parts();
}

void ForEachPixelChainInParts(const TBlackMask &mask, int threads, const TPartChainTaker &f)
{
    TChainTracer(mask, threads).Trace(f);
}
