#include "support/ThinReference.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using Word = std::uint64_t;

} // namespace

void ThinEveryPixel(TBlackMask &mask)
{
    const int words = mask.Words();
    std::vector<std::vector<Word>> deletions(static_cast<std::size_t>(mask.Height()));
    for (bool changed = true; changed;) {
        changed = false;
        for (int pass = 0; pass < 2; ++pass) {
            for (int y = 0; y < mask.Height(); ++y) {
                auto &d = deletions[static_cast<std::size_t>(y)];
                d.assign(static_cast<std::size_t>(words), 0);
                for (int i = 0; i < words; ++i) {
                    for (int b = 0; b < 64 && 64 * i + b < mask.Width(); ++b) {
                        const int x = 64 * i + b;
                        if (!mask.Black(x, y))
                            continue;
                        // The same test, one pixel at a time.
                        Word up[3] = {}, line[3] = {}, down[3] = {};
                        for (int k = -1; k <= 1; ++k) {
                            up[k + 1] = Word(mask.Black(x + k, y - 1));
                            line[k + 1] = Word(mask.Black(x + k, y));
                            down[k + 1] = Word(mask.Black(x + k, y + 1));
                        }
                        const Word n = up[1], ne = up[2], nw = up[0], e = line[2], w = line[0];
                        const Word s = down[1], se = down[2], sw = down[0];
                        const int t = int(!n && (ne || e)) + int(!e && (se || s)) + int(!s && (sw || w)) +
                                      int(!w && (nw || n));
                        const int n1 = int(nw || n) + int(ne || e) + int(se || s) + int(sw || w);
                        const int n2 = int(n || ne) + int(e || se) + int(s || sw) + int(w || nw);
                        const int m = std::min(n1, n2);
                        const bool keep = pass == 0 ? ((s || sw || !nw) && w) : ((n || ne || !se) && e);
                        if (t == 1 && m >= 2 && m <= 3 && !keep)
                            d[static_cast<std::size_t>(i)] |= Word(1) << b;
                    }
                }
            }
            for (int y = 0; y < mask.Height(); ++y)
                for (int i = 0; i < words; ++i) {
                    const Word d = deletions[static_cast<std::size_t>(y)][static_cast<std::size_t>(i)];
                    if (d) {
                        mask.Line(y)[i] &= ~d;
                        changed = true;
                    }
                }
        }
    }
}

void RemoveStaircasesEveryPixel(TBlackMask &mask)
{
    // Yokoi's 8-connectivity number of the neighbours, counted anticlockwise
    // from the right.
    const auto connectivity = [](unsigned code) {
        const auto white = [code](int k) { return 1 - int((code >> (k & 7)) & 1); };
        int sum = 0;
        for (int k = 0; k < 8; k += 2)
            sum += white(k) - white(k) * white(k + 1) * white(k + 2);
        return sum;
    };
    static const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1}, dy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    for (int y = 0; y < mask.Height(); ++y)
        for (int x = 0; x < mask.Width(); ++x) {
            if (!mask.Black(x, y))
                continue;
            unsigned code = 0;
            int count = 0;
            for (int k = 0; k < 8; ++k)
                if (mask.Black(x + dx[k], y + dy[k])) {
                    code |= 1u << k;
                    ++count;
                }
            if (count >= 2 && connectivity(code) == 1)
                mask.Line(y)[x >> 6] &= ~(std::uint64_t(1) << (x & 63));
        }
}
