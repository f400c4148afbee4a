#include "cleanup/Centerline.h"

#include "base/TaskPool.h"
#include "cleanup/PixelNeighbours.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using Word = std::uint64_t;

// Calls f(begin, end, part) for `parts` consecutive parts of 0 .. n, shared
// among as many threads (the calling thread's included); one part (on the
// calling thread) when n is small.
template <class F>
void InParts(std::size_t n, int threads, std::size_t smallest, F &&f)
{
    const std::size_t parts = threads > 1 && n >= 2 * smallest
                                  ? std::min<std::size_t>(std::size_t(threads), n / smallest)
                                  : 1;
    if (parts <= 1) {
        f(std::size_t(0), n, std::size_t(0));
        return;
    }
    RunTasks(static_cast<int>(parts), parts, [&](std::size_t p, int) { f(n * p / parts, n * (p + 1) / parts, p); });
}

Word AtLeastTwo(Word a, Word b, Word c, Word d)
{
    return (a & b) | (c & d) | ((a | b) & (c | d));
}

// Which pixels of word i of a line go in the given sub-pass, from the line
// above, the line itself and the line below.
Word Deletable(const Word *up, const Word *line, const Word *down, int i, int pass)
{
    const Word c = line[i];
    if (!c)
        return 0;
    const Word n = up[i], ne = NextPixels(up, i), nw = PreviousPixels(up, i);
    const Word e = NextPixels(line, i), w = PreviousPixels(line, i);
    const Word s = down[i], se = NextPixels(down, i), sw = PreviousPixels(down, i);
    // One black run in the ring of neighbours (the pixel joins one piece).
    const Word t1 = ~n & (ne | e), t2 = ~e & (se | s), t3 = ~s & (sw | w), t4 = ~w & (nw | n);
    const Word onePiece = (t1 ^ t2 ^ t3 ^ t4) & ~AtLeastTwo(t1, t2, t3, t4);
    // Two or three neighbours in both pairings (not an end, not inside).
    const Word a1 = nw | n, a2 = ne | e, a3 = se | s, a4 = sw | w;
    const Word b1 = n | ne, b2 = e | se, b3 = s | sw, b4 = w | nw;
    const Word count = AtLeastTwo(a1, a2, a3, a4) & AtLeastTwo(b1, b2, b3, b4) &
                       ~(a1 & a2 & a3 & a4 & b1 & b2 & b3 & b4);
    const Word keep = pass == 0 ? (s | sw | ~nw) & w : (n | ne | ~se) & e;
    return c & onePiece & count & ~keep;
}

// Yokoi's 8-connectivity number of a neighbour byte: 1 when removing the
// pixel keeps the pieces around it connected and opens no hole.
int ConnectivityNumber(unsigned code)
{
    auto white = [code](int k) { return 1 - int((code >> (k & 7)) & 1); };
    int sum = 0;
    for (int k = 0; k < 8; k += 2)
        sum += white(k) - white(k) * white(k + 1) * white(k + 2);
    return sum;
}

const std::array<bool, 256> &RedundantPixels()
{
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> t{};
        for (unsigned code = 0; code < 256; ++code) {
            t[code] = PixelNeighbours::Count(code) >= 2 && ConnectivityNumber(code) == 1;
        }
        return t;
    }();
    return table;
}

// Chessboard distance from (x, y) to the nearest white pixel, at most `cap`.
int Depth(const TBlackMask &mask, int x, int y, int cap)
{
    for (int r = 1; r < cap; ++r) {
        for (int d = -r; d <= r; ++d) {
            if (!mask.Black(x + d, y - r) || !mask.Black(x + d, y + r) || !mask.Black(x - r, y + d) ||
                !mask.Black(x + r, y + d))
                return r;
        }
    }
    return cap;
}

} // namespace

namespace CenterlineSteps {

namespace {

// A word of the mask to test: line y, word i. Pictures of fewer than 2^17
// lines of fewer than 2^15 words (2 million pixels) keep both in 32 bits,
// which halves the thinning's lists.
class TWord32
{
public:
    TWord32(int y, int i) : Packed(std::uint32_t(y) << 15 | std::uint32_t(i)) {}
    int Y() const { return int(Packed >> 15); }
    int I() const { return int(Packed & 0x7FFF); }

private:
    std::uint32_t Packed;
};

class TWord64
{
public:
    TWord64(int y, int i) : FY(y), FI(i) {}
    int Y() const { return FY; }
    int I() const { return FI; }

private:
    int FY, FI;
};

template <class TWord>
void ThinWith(TBlackMask &mask, int threads)
{
    const int words = mask.Words(), height = mask.Height();
    const auto index = [words](int y, int i) { return static_cast<std::uint32_t>(y) * std::uint32_t(words) + std::uint32_t(i); };
    // Words to test in the coming sub-pass, and the words that changed in
    // each of the last two sub-passes.
    std::vector<TWord> candidates, changedBefore, changedLast;
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < words; ++i)
            if (mask.Line(y)[i])
                candidates.push_back(TWord(y, i));
    // No list ever holds more than the words that were black at the start:
    // reserving that once spares the copies of growing lists.
    changedBefore.reserve(candidates.size());
    changedLast.reserve(candidates.size());
    std::vector<Word> deletions;
    deletions.reserve(candidates.size());
    std::vector<std::uint8_t> marked(static_cast<std::size_t>(words) * static_cast<std::size_t>(height));
    std::vector<std::uint32_t> touched;
    int quiet = 0;  // sub-passes in a row that removed nothing
    bool first = true;
    for (int pass = 0; quiet < 2; pass ^= 1) {
        deletions.resize(candidates.size());
        // Every test reads the mask as it was before the sub-pass.
        InParts(candidates.size(), threads, 1 << 14, [&](std::size_t begin, std::size_t end, std::size_t) {
            for (std::size_t k = begin; k < end; ++k) {
                const int y = candidates[k].Y();
                deletions[k] = Deletable(mask.Line(y - 1), mask.Line(y), mask.Line(y + 1), candidates[k].I(), pass);
            }
        });
        changedBefore.swap(changedLast);
        changedLast.clear();
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            if (!deletions[k])
                continue;
            mask.Line(candidates[k].Y())[candidates[k].I()] &= ~deletions[k];
            changedLast.push_back(candidates[k]);
        }
        quiet = changedLast.empty() ? quiet + 1 : 0;
        if (first) {
            // The second sub-pass of the first round still tests every word.
            first = false;
            continue;
        }
        // A pixel can change only where its neighbourhood changed since it
        // was last tested by the same sub-pass.
        candidates.clear();
        for (const auto *list : {&changedBefore, &changedLast}) {
            for (const TWord &c : *list) {
                const int y = c.Y(), i = c.I();
                for (int dy = -1; dy <= 1; ++dy) {
                    const int yy = y + dy;
                    if (yy < 0 || yy >= height)
                        continue;
                    for (int di = -1; di <= 1; ++di) {
                        const int ii = i + di;
                        if (ii < 0 || ii >= words)
                            continue;
                        const std::uint32_t j = index(yy, ii);
                        if (marked[j])
                            continue;
                        marked[j] = 1;
                        touched.push_back(j);
                        if (mask.Line(yy)[ii])
                            candidates.push_back(TWord(yy, ii));
                    }
                }
            }
        }
        for (std::uint32_t j : touched)
            marked[j] = 0;
        touched.clear();
    }
}

} // namespace

void Thin(TBlackMask &mask, int threads)
{
    if (mask.Height() < (1 << 17) && mask.Words() < (1 << 15))
        ThinWith<TWord32>(mask, threads);
    else
        ThinWith<TWord64>(mask, threads);
}

void RemoveStaircases(TBlackMask &mask)
{
    const auto &corner = RedundantPixels();
    // In place, line by line: each removal sees the ones before it, so two
    // neighbouring corners never both go.
    PixelNeighbours::ForEachBlack(mask, [&](int x, int y) {
        if (corner[PixelNeighbours::Code(mask, x, y)])
            PixelNeighbours::Clear(mask, x, y);
    });
}

namespace {

// When the branch from line end (x0, y0) is a spur, adds its pixels to
// `spurs`; `path` is working room.
void FindSpur(const TBlackMask &mask, const TBlackMask &original, int x0, int y0,
                std::vector<std::pair<int, int>> &path, std::vector<std::pair<int, int>> &spurs)
{
    using namespace PixelNeighbours;
    constexpr int kDepthCap = 256;
    {
        path.clear();
        int x = x0, y = y0, px = -2, py = -2;
        bool spur = false;
        for (;;) {
            const unsigned code = Code(mask, x, y);
            const int count = Count(code);
            if (count >= 3) {
                // A junction: the branch walked so far is a spur when it is no
                // longer than the largest distance to paper around the
                // junction (the stroke's half width and a pixel) and a pixel.
                int depth = 0;
                for (int k = 0; k < 8; ++k)
                    depth = std::max(depth, Depth(original, x + DX[static_cast<std::size_t>(k)],
                                                  y + DY[static_cast<std::size_t>(k)], kDepthCap));
                spur = static_cast<int>(path.size()) <= depth + 1;
                break;
            }
            path.emplace_back(x, y);
            if (count == 0 || (count == 1 && path.size() > 1))
                break;  // a line on its own
            if (static_cast<int>(path.size()) > kDepthCap)
                break;
            int nx = -2, ny = -2;
            NextAlong(code, x, y, px, py, nx, ny);
            px = x;
            py = y;
            x = nx;
            y = ny;
        }
        if (spur)
            spurs.insert(spurs.end(), path.begin(), path.end());
    }
}

} // namespace

bool PruneSpurs(TBlackMask &mask, const TBlackMask &original, int threads)
{
    using namespace PixelNeighbours;
    std::vector<std::pair<int, int>> ends;
    ForEachBlack(mask, [&](int x, int y) {
        if (Count(Code(mask, x, y)) == 1)
            ends.emplace_back(x, y);
    });
    // The spurs of each part of the ends, found on the mask as it is, then
    // cleared in the order of the ends.
    std::vector<std::vector<std::pair<int, int>>> found(std::size_t(std::max(threads, 1)));
    InParts(ends.size(), threads, 1 << 10, [&](std::size_t begin, std::size_t end, std::size_t part) {
        std::vector<std::pair<int, int>> path;
        std::vector<std::pair<int, int>> &spurs = found[part];
        for (std::size_t e = begin; e < end; ++e)
            FindSpur(mask, original, ends[e].first, ends[e].second, path, spurs);
    });
    // All found on the same skeleton, so that both prongs of a forked line
    // end go, not only the one found first.
    bool any = false;
    for (const auto &spurs : found) {
        for (auto [sx, sy] : spurs)
            Clear(mask, sx, sy);
        any = any || !spurs.empty();
    }
    return any;
}


void ExtendEnds(TBlackMask &mask, const TBlackMask &original)
{
    using namespace PixelNeighbours;
    constexpr int kBack = 8;      // pixels walked back for the line's direction
    constexpr int kReach = 256;   // longest extension
    std::vector<std::pair<int, int>> ends;
    ForEachBlack(mask, [&](int x, int y) {
        if (Count(Code(mask, x, y)) == 1)
            ends.emplace_back(x, y);
    });
    for (auto [x0, y0] : ends) {
        // Back along the line to find its direction at the end.
        int x = x0, y = y0, px = -2, py = -2, steps = 0;
        while (steps < kBack) {
            const unsigned code = Code(mask, x, y);
            if (Count(code) > 2 || (Count(code) == 1 && steps > 0))
                break;
            int nx = -2, ny = -2;
            NextAlong(code, x, y, px, py, nx, ny);
            if (nx == -2)
                break;
            px = x;
            py = y;
            x = nx;
            y = ny;
            ++steps;
        }
        if (steps < 2)
            continue;
        const double dx = x0 - x, dy = y0 - y, length = std::hypot(dx, dy);
        int lastX = x0, lastY = y0;
        for (int k = 1; k <= kReach; ++k) {
            const int ex = x0 + static_cast<int>(std::lround(k * dx / length));
            const int ey = y0 + static_cast<int>(std::lround(k * dy / length));
            if (ex == lastX && ey == lastY)
                continue;
            if (!original.Black(ex, ey) || mask.Black(ex, ey))
                break;
            // Stop before touching another line.
            const unsigned code = Code(mask, ex, ey);
            const int back = [&] {
                for (int j = 0; j < 8; ++j)
                    if (ex + DX[static_cast<std::size_t>(j)] == lastX && ey + DY[static_cast<std::size_t>(j)] == lastY)
                        return j;
                return -1;
            }();
            if (back < 0 || (code & ~(1u << back) & ~(1u << ((back + 1) & 7)) & ~(1u << ((back + 7) & 7))))
                break;
            mask.SetBlack(ex, ey);
            lastX = ex;
            lastY = ey;
        }
    }
}

} // namespace CenterlineSteps

TBlackMask Centerline(const TBlackMask &mask, int threads)
{
    TBlackMask thin = mask;
    CenterlineSteps::Thin(thin, threads);
    CenterlineSteps::RemoveStaircases(thin);
    // A spur may fork itself: its prongs go first, then its stem.
    for (int round = 0; round < 4 && CenterlineSteps::PruneSpurs(thin, mask, threads); ++round)
        CenterlineSteps::RemoveStaircases(thin);
    CenterlineSteps::ExtendEnds(thin, mask);
    CenterlineSteps::RemoveStaircases(thin);
    return thin;
}
