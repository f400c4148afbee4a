#pragma once

// A black mask kept small while it is not read.
//   TPackedMask        - packs a mask (throws std::bad_alloc without memory).
//   TPackedMask::Unpack - the mask again, bit for bit (throws std::bad_alloc).
//   TPackedMaskLines   - a packed mask's pixels read where they lie, the
//                        lines last read kept unpacked.

#include "scan/BlackMask.h"

#include <cstdint>
#include <memory>
#include <vector>

// A mask as the lengths of its white and black runs, line by line, each a
// number of 7-bit groups: a drawing's strokes take a few bytes a run instead
// of a bit a pixel.
class TPackedMask
{
public:
    TPackedMask() = default;
    // Bands of lines are packed on up to `threads` threads.
    explicit TPackedMask(const TBlackMask &mask, int threads = 1);
    // The same from a mask that goes: the memory of each band of its lines
    // is given back as soon as the band is packed.
    explicit TPackedMask(TBlackMask &&mask, int threads = 1);

    // Bands of lines are unpacked on up to `threads` threads.
    TBlackMask Unpack(int threads = 1) const;
    // Line y into `words` (the mask's Words() of them), every other pixel white.
    void UnpackLine(int y, std::uint64_t *words) const;
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    std::size_t Bytes() const { return BandOffset.empty() ? 0 : BandOffset.back(); }

private:
    // Discards each band's lines once packed when `discard` is the mask.
    void Pack(const TBlackMask &mask, int threads, TBlackMask *discard);

    int FWidth = 0;
    int FHeight = 0;
    // Per line: white run, black run, white run, ... ; the last white run
    // reaches the width.
    std::unique_ptr<std::uint8_t[]> Data;
    // Where each band of lines starts in Data, and the end; where each line
    // starts.
    std::vector<std::size_t> BandOffset;
    std::vector<std::size_t> LineOffset;
};

// The pixels of a packed mask, read as a TBlackMask's are (outside the mask
// is white; a line has a readable zero word before and after it), each line
// unpacked when first read and kept while the next few dozen lines read fall
// in other slots. Not to be shared between threads.
class TPackedMaskLines
{
public:
    explicit TPackedMaskLines(const TPackedMask &mask);

    int Width() const { return Mask.Width(); }
    int Height() const { return Mask.Height(); }
    bool Black(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= Mask.Width() || y >= Mask.Height())
            return false;
        return (Line(y)[x >> 6] >> (x & 63)) & 1;
    }
    // Line y, 0 <= y < Height(): valid until a line of the same slot (y
    // modulo kSlots) is read.
    const std::uint64_t *Line(int y) const;

private:
    static constexpr int kSlots = 64;
    const TPackedMask &Mask;
    int Stride;
    // The lines held, each Stride words with the line from its second on.
    mutable std::vector<std::uint64_t> Words;
    mutable std::vector<int> Held;  // the line in each slot, -1: none
};
