#include "image/ColourChoice.h"

#include "image/TzDIBErrors.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// One colour the split works on: a histogram cell or an exact colour.
struct TSplitCell
{
    std::uint8_t C[3];      // red, green, blue
    std::uint8_t Index;     // the palette entry of its leaf, once split
    std::uint32_t Count;    // pixels
    std::uint32_t Ref;      // the cell's key or colour
};

// Every pixel of an uncompressed 24-bit block as (blue, green, red) bytes.
template <class F>
void ForEachPixel(const TTzDIBBlock &picture, F &&f)
{
    const TBitmapInfoHeader &h = picture.Header();
    const std::int64_t width = h.biWidth;
    const std::int64_t rows = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    const std::int64_t rowSize = DIBRowSize(width, 24);
    TzDIBAssert(h.biBitCount == 24 && h.biCompression == BI_RGB && rowSize * rows <= picture.BitsSize,
                "ColourChoice: Invalid DIB");
    for (std::int64_t y = 0; y < rows; ++y) {
        const std::uint8_t *p = picture.Bits.get() + y * rowSize;
        for (std::int64_t x = 0; x < width; ++x, p += 3)
            f(p);
    }
}

} // namespace

// The recursive split shared by every choice: runs of cells are cut at the
// weighted mean of the axis of largest (weighted) variance until leaf depth.
class TColourChooser
{
public:
    TColourChooser(int leafDepth, const TProgressStepFn &step, TColourLookup *tree)
        : FLeafDepth(leafDepth), FStep(step), FTree(tree)
    {
        if (FTree) {
            FTree->FLeafDepth = leafDepth;
            FTree->FNodes.assign(std::size_t(1) << leafDepth, {});
            FTree->FLeaves.assign(std::size_t(1) << leafDepth, 0);
        }
    }

    std::vector<TRGBQuad> Palette;

    void Run(TSplitCell *cells, std::size_t count) { Split(cells, cells + count, 0, 1); }

    // Few enough colours: each keeps its own entry; the steps are counted all the same.
    void TakeExactly(TSplitCell *cells, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            cells[i].Index = std::uint8_t(Palette.size());
            Palette.push_back(TRGBQuad{cells[i].C[2], cells[i].C[1], cells[i].C[0], 0});
        }
        for (std::size_t i = 0; i < (std::size_t(1) << FLeafDepth); ++i)
            Step();
    }

private:
    void Step()
    {
        if (FStep)
            FStep();
    }

    void Split(TSplitCell *first, TSplitCell *last, int depth, std::size_t node)
    {
        if (first == last) {
            // An empty run still stands for its leaves, so that the steps add up.
            if (depth == FLeafDepth) {
                Step();
            } else {
                Split(first, last, depth + 1, 2 * node);
                Split(first, last, depth + 1, 2 * node + 1);
            }
            return;
        }
        // Integer sums are exact; means and variances in extended precision.
        std::uint64_t n = 0, s1[3] = {}, s2[3] = {};
        for (const TSplitCell *c = first; c != last; ++c) {
            n += c->Count;
            for (int a = 0; a < 3; ++a) {
                s1[a] += std::uint64_t(c->Count) * c->C[a];
                s2[a] += std::uint64_t(c->Count) * c->C[a] * c->C[a];
            }
        }
        long double mean[3], variance[3];
        for (int a = 0; a < 3; ++a) {
            mean[a] = static_cast<long double>(s1[a]) / static_cast<long double>(n);
            variance[a] = static_cast<long double>(s2[a]) / static_cast<long double>(n) - mean[a] * mean[a];
        }
        if (depth == FLeafDepth) {
            const std::uint8_t index = std::uint8_t(Palette.size());
            std::uint8_t rounded[3];
            for (int a = 0; a < 3; ++a)
                rounded[a] = std::uint8_t(std::clamp<long>(std::lrint(mean[a]), 0, 255)); // ties to even
            Palette.push_back(TRGBQuad{rounded[2], rounded[1], rounded[0], 0});
            for (TSplitCell *c = first; c != last; ++c)
                c->Index = index;
            if (FTree)
                FTree->FLeaves[node - (std::size_t(1) << FLeafDepth)] = index;
            Step();
            return;
        }
        const long double vr = variance[0], vg = variance[1], vb = variance[2];
        int axis = 1;
        if (3 * vr >= 4 * vg && 3 * vr >= 2 * vb)
            axis = 0;
        else if (3 * vr > 4 * vg || 2 * vb > 3 * vg)
            axis = 2;
        const long double m = mean[axis];
        // Cells at or below the mean to the front, those above it to the back.
        TSplitCell *i = first;
        TSplitCell *j = last;
        for (;;) {
            while (i < j && i->C[axis] <= m)
                ++i;
            while (i < j && (j - 1)->C[axis] > m)
                --j;
            if (i >= j)
                break;
            std::swap(*i, *(j - 1));
            ++i;
            --j;
        }
        if (FTree) {
            FTree->FNodes[node].Axis = std::uint8_t(axis);
            FTree->FNodes[node].Threshold = std::uint8_t(std::floor(m));
        }
        Split(i, last, depth + 1, 2 * node);
        Split(first, i, depth + 1, 2 * node + 1);
    }

    int FLeafDepth;
    const TProgressStepFn &FStep;
    TColourLookup *FTree;
};

THistogramColours ChooseColoursByHistogram(const TTzDIBBlock &picture, int leafDepth,
                                           const TProgressStepFn &step)
{
    // Sums of the dropped low bits; 64 bits, so that the largest picture of one
    // colour cannot overflow them.
    struct TCell
    {
        std::uint64_t Red, Green, Blue;
        std::uint32_t Count;
    };
    std::vector<TCell> table(65536, TCell{0, 0, 0, 0});
    ForEachPixel(picture, [&](const std::uint8_t *p) {
        TCell &cell = table[ColourKey565(p[2], p[1], p[0])];
        cell.Red += p[2] & 7;
        cell.Green += p[1] & 3;
        cell.Blue += p[0] & 7;
        ++cell.Count;
    });
    std::vector<TSplitCell> cells;
    for (std::uint32_t key = 0; key < 65536; ++key) {
        const TCell &t = table[key];
        if (t.Count == 0)
            continue;
        TSplitCell c;
        c.C[0] = std::uint8_t((key >> 11) * 8 + t.Red / t.Count);
        c.C[1] = std::uint8_t(((key >> 5) & 63) * 4 + t.Green / t.Count);
        c.C[2] = std::uint8_t((key & 31) * 8 + t.Blue / t.Count);
        c.Index = 0;
        c.Count = t.Count;
        c.Ref = key;
        cells.push_back(c);
    }
    table = {};
    TColourChooser chooser(leafDepth, step, nullptr);
    chooser.Run(cells.data(), cells.size());
    THistogramColours result;
    result.Palette = std::move(chooser.Palette);
    result.Map.assign(65536, 0);
    for (const TSplitCell &c : cells)
        result.Map[c.Ref] = c.Index;
    return result;
}

TColourLookup ChooseColoursOverAllPixels(const TTzDIBBlock &picture, int leafDepth, const TProgressStepFn &step)
{
    const TBitmapInfoHeader &h = picture.Header();
    const std::int64_t pixels = std::int64_t(h.biWidth) * (h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight);
    std::vector<TSplitCell> cells;
    const auto addCell = [&cells](std::uint32_t colour, std::uint32_t count) {
        cells.push_back(TSplitCell{{std::uint8_t(colour >> 16), std::uint8_t(colour >> 8), std::uint8_t(colour)},
                                   0, count, colour});
    };
    if (pixels <= (std::int64_t(1) << 20)) {
        // A small picture: its colours sorted.
        std::vector<std::uint32_t> all;
        all.reserve(std::size_t(pixels));
        ForEachPixel(picture, [&](const std::uint8_t *p) {
            all.push_back(std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
        });
        std::sort(all.begin(), all.end());
        for (std::size_t i = 0; i < all.size();) {
            std::size_t j = i + 1;
            while (j < all.size() && all[j] == all[i])
                ++j;
            addCell(all[i], std::uint32_t(j - i));
            i = j;
        }
    } else {
        // One counter per possible colour: untouched pages of the block cost nothing.
        constexpr std::size_t colours = std::size_t(1) << 24;
        struct TFree
        {
            void operator()(std::uint32_t *p) const { std::free(p); }
        };
        std::unique_ptr<std::uint32_t[], TFree> counts(
            static_cast<std::uint32_t *>(std::calloc(colours, sizeof(std::uint32_t))));
        if (!counts)
            throw std::bad_alloc();
        std::uint32_t *c = counts.get();
        ForEachPixel(picture, [c](const std::uint8_t *p) {
            ++c[std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]];
        });
        for (std::uint32_t colour = 0; colour < colours; ++colour)
            if (c[colour] != 0)
                addCell(colour, c[colour]);
    }
    TColourLookup lookup;
    if (cells.size() <= (std::size_t(1) << leafDepth)) {
        TColourChooser chooser(leafDepth, step, nullptr);
        chooser.TakeExactly(cells.data(), cells.size());
        lookup.Palette = std::move(chooser.Palette);
        for (const TSplitCell &cell : cells) {
            lookup.FExactColours.push_back(cell.Ref);
            lookup.FExactIndex.push_back(cell.Index);
        }
        return lookup;
    }
    TColourChooser chooser(leafDepth, step, &lookup);
    chooser.Run(cells.data(), cells.size());
    lookup.Palette = std::move(chooser.Palette);
    return lookup;
}

TPaletteColours ChooseColoursFromPalette(const TTzDIBBlock &picture, int leafDepth, const TProgressStepFn &step)
{
    const TBitmapInfoHeader &h = picture.Header();
    const std::int64_t width = h.biWidth;
    const std::int64_t rows = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    const std::int64_t rowSize = DIBRowSize(width, 8);
    TzDIBAssert(h.biBitCount == 8 && h.biCompression == BI_RGB && rowSize * rows <= picture.BitsSize,
                "ColourChoice: Invalid DIB");
    std::array<std::uint64_t, 256> used{};
    for (std::int64_t y = 0; y < rows; ++y) {
        const std::uint8_t *p = picture.Bits.get() + y * rowSize;
        for (std::int64_t x = 0; x < width; ++x)
            ++used[p[x]];
    }
    // Entries of the same colour are one cell.
    std::vector<TSplitCell> cells;
    for (int index = 0; index < 256; ++index) {
        if (used[index] == 0)
            continue;
        const TRGBQuad q = picture.Info.Colors[index];
        const std::uint32_t colour = std::uint32_t(q.rgbRed) << 16 | std::uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
        auto same = std::find_if(cells.begin(), cells.end(), [&](const TSplitCell &c) { return c.Ref == colour; });
        // A pixel count beyond 32 bits only weights the split; it saturates.
        const std::uint32_t count = std::uint32_t(std::min<std::uint64_t>(used[index], 0xFFFFFFFFu));
        if (same != cells.end())
            same->Count = std::uint32_t(std::min<std::uint64_t>(std::uint64_t(same->Count) + count, 0xFFFFFFFFu));
        else
            cells.push_back(TSplitCell{{q.rgbRed, q.rgbGreen, q.rgbBlue}, 0, count, colour});
    }
    TColourLookup lookup;
    TColourChooser chooser(leafDepth, step, &lookup);
    if (cells.size() <= (std::size_t(1) << leafDepth))
        chooser.TakeExactly(cells.data(), cells.size());
    else
        chooser.Run(cells.data(), cells.size());
    TPaletteColours result;
    result.Palette = std::move(chooser.Palette);
    for (int index = 0; index < 256; ++index) {
        if (used[index] == 0)
            continue;
        const TRGBQuad q = picture.Info.Colors[index];
        const std::uint32_t colour = std::uint32_t(q.rgbRed) << 16 | std::uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
        for (const TSplitCell &c : cells)
            if (c.Ref == colour)
                result.Remap[index] = c.Index;
    }
    return result;
}
