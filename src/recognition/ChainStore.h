#pragma once

// Chains of pixels held compactly.
//   TChainStore - chains appended whole and read back one at a time, a byte
//                 a step; throws std::bad_alloc without memory.

#include "base/Chunks.h"
#include "cleanup/PixelChains.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// Chains of pixels, each kept as its first pixel and a byte a step to the
// next pixel: a step to one of the eight neighbours (or to the pixel itself)
// is one byte, any other step a marker byte and the pixel's coordinates. A
// big sheet's millions of centre-line pixels take a byte each rather than
// the eight of a TPixel. The steps lie in blocks of about a megabyte (stores
// joined keep their own, moved rather than copied), so that the steps of
// chains read for the last time can go while the others are still read.
class TChainStore
{
public:
    struct TChain
    {
        std::size_t Offset = 0;  // of its steps: their block << kBlockShift | their place in it
        std::uint32_t Size = 0;  // pixels
        // The stroke's half width along it, for the reader's use (< 0: not
        // given); kept where the record has room, as a float.
        float HalfWidth = -1;
        TPixel First{0, 0}, Last{0, 0};  // {0, 0} for a chain of no pixels
    };

    std::size_t Count() const { return Chains.size(); }
    const TChain &Chain(std::size_t c) const { return Chains[c]; }
    // Bytes of steps held.
    std::size_t StepBytes() const;

    void Append(const std::vector<TPixel> &chain);
    // Appends the chains of every store of `parts`, in order, letting each
    // go once taken (their steps' blocks become this store's).
    void Join(std::vector<TChainStore> &parts);
    // A store of no chains holding this one's steps: this one's chains are
    // read through it (this one's Read no longer can) and appended to it
    // again as they are with AppendTaken.
    TChainStore TakeSteps()
    {
        TChainStore taken;
        taken.Blocks = std::move(Blocks);
        Blocks.clear();
        return taken;
    }
    void AppendTaken(const TChain &chain) { Chains.push_back(chain); }
    void ReserveChains(std::size_t count) { Chains.reserve(count); }
    // The pixels of a chain, into `out` (resized to them).
    void Read(std::size_t c, std::vector<TPixel> &out) const { Read(Chains[c], out); }
    void Read(const TChain &chain, std::vector<TPixel> &out) const;

    // Keeps the chains `keep` is true of, in order (their steps stay).
    template <class Keep> void Filter(const Keep &keep)
    {
        std::size_t kept = 0;
        for (std::size_t c = 0; c < Chains.size(); ++c)
            if (keep(static_cast<const TChain &>(Chains[c])))
                Chains[kept++] = Chains[c];
        Chains.Shorten(kept);
    }
    // Lets go of the steps that only chains before chain `c` read, and of
    // those chains' records: they are not read again, the others still can
    // be (from other threads too). No chain is appended after the first
    // call. Whether any steps went.
    bool ReleaseChainsBefore(std::size_t c);
    // Lets go of the room the appending left over.
    void Shrink()
    {
        for (std::vector<std::uint8_t> &block : Blocks)
            block.shrink_to_fit();
    }

private:
    static constexpr std::uint8_t kFar = 255;
    static constexpr int kBlockShift = 40;
    static constexpr std::size_t kBlockBytes = std::size_t(1) << 20;
    // (Chains are appended to the last.)
    std::vector<std::vector<std::uint8_t>> Blocks;
    // (in chunks: the first can go while the later ones are read)
    TChunks<TChain> Chains;
    // After the first ReleaseChainsBefore: each block's last chain reading it, + 1.
    std::vector<std::size_t> ReadUntil;
};
