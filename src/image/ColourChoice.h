#pragma once

// Choosing at most 16 or 256 colours for a picture: the histogram method of
// ConvertQuality 0, the method over all pixels of ConvertQuality 1, and the
// choice among the palette entries of an 8-bit picture.

#include "image/TzInternalDIB.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Called once for every palette slot a choice produces, 2^leafDepth times in all.
using TProgressStepFn = std::function<void()>;

// The 5-6-5 key of a colour: (red div 8) x 2048 + (green div 4) x 32 + (blue div 8).
constexpr std::uint32_t ColourKey565(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return std::uint32_t(red >> 3) << 11 | std::uint32_t(green >> 2) << 5 | std::uint32_t(blue >> 3);
}

// The colours of the histogram method and the reduction map of every 5-6-5 key.
struct THistogramColours
{
    std::vector<TRGBQuad> Palette;   // at most 2^leafDepth entries, in the order of the split
    std::vector<std::uint8_t> Map;   // 65536 entries: 5-6-5 key -> palette index
};

// ConvertQuality 0, on an uncompressed 24-bit block: every pixel adds to the cell
// of its 5-6-5 key; the cells are split leafDepth times along the axis of the
// largest weighted variance at the weighted mean; each leaf that holds cells
// becomes one palette entry, its weighted mean colour.
THistogramColours ChooseColoursByHistogram(const TTzDIBBlock &picture, int leafDepth,
                                           const TProgressStepFn &step);

// A choice of colours that tells the palette index of any colour of the picture.
class TColourLookup
{
public:
    std::vector<TRGBQuad> Palette;

    std::uint8_t IndexOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const
    {
        if (!FExactColours.empty()) {
            const std::uint32_t colour = std::uint32_t(red) << 16 | std::uint32_t(green) << 8 | blue;
            const auto at = std::lower_bound(FExactColours.begin(), FExactColours.end(), colour);
            return at == FExactColours.end() ? 0 : FExactIndex[std::size_t(at - FExactColours.begin())];
        }
        const std::uint8_t colour[3] = {red, green, blue};
        std::size_t node = 1;
        for (int depth = 0; depth < FLeafDepth; ++depth)
            node = 2 * node + (colour[FNodes[node].Axis] <= FNodes[node].Threshold ? 1 : 0);
        return FLeaves[node - (std::size_t(1) << FLeafDepth)];
    }

private:
    friend class TColourChooser;
    friend TColourLookup ChooseColoursOverAllPixels(const TTzDIBBlock &, int, const TProgressStepFn &);
    struct TNode
    {
        std::uint8_t Axis = 0;       // 0 red, 1 green, 2 blue
        std::uint8_t Threshold = 0;  // values up to this go to the second child
    };
    int FLeafDepth = 0;
    std::vector<TNode> FNodes;          // the split, heap order from 1
    std::vector<std::uint8_t> FLeaves;  // palette index of every leaf
    // When the colours were few: each colour (sorted) and its index.
    std::vector<std::uint32_t> FExactColours;
    std::vector<std::uint8_t> FExactIndex;
};

// ConvertQuality 1, on an uncompressed 24-bit block: the same split, over the
// exact colours of all pixels, each weighted by its pixel count. A picture of at
// most 2^leafDepth colours keeps them exactly.
TColourLookup ChooseColoursOverAllPixels(const TTzDIBBlock &picture, int leafDepth, const TProgressStepFn &step);

// At most 2^leafDepth colours for an uncompressed 8-bit block, chosen from the
// colours of the palette entries its pixels use (exactly those when they are
// few enough), and the new index of every old one.
struct TPaletteColours
{
    std::vector<TRGBQuad> Palette;
    std::array<std::uint8_t, 256> Remap{};
};
TPaletteColours ChooseColoursFromPalette(const TTzDIBBlock &picture, int leafDepth, const TProgressStepFn &step);
