#pragma once

// A black mask kept small while it is not read.
//   TPackedMask        - packs a mask (throws std::bad_alloc without memory).
//   TPackedMask::Unpack - the mask again, bit for bit (throws std::bad_alloc).

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
    // Where each band of lines starts in Data, and the end.
    std::vector<std::size_t> BandOffset;
};
