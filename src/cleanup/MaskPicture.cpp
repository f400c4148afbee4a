#include "cleanup/MaskPicture.h"

#include <algorithm>

TTzDIB MaskPicture(const TBlackMask &mask)
{
    TTzDIB dib;
    dib.SetBitCount(1);
    dib.SetWidth(std::max(mask.Width(), 1));
    dib.SetHeight(std::max(mask.Height(), 1));
    dib.SetPaletteSize(2);
    dib.SetColors(0, 0xFFFFFF);
    dib.SetColors(1, 0);
    const int bytes = (mask.Width() + 7) / 8;
    for (int y = 0; y < mask.Height(); ++y) {
        const std::uint64_t *line = mask.Line(y);
        std::uint8_t *row = dib.WritableScanLine(y);
        for (int b = 0; b < bytes; ++b) {
            std::uint8_t v = static_cast<std::uint8_t>(line[b >> 3] >> (8 * (b & 7)));
            // Lowest bit (leftmost pixel) to the top bit.
            v = static_cast<std::uint8_t>((v & 0xF0) >> 4 | (v & 0x0F) << 4);
            v = static_cast<std::uint8_t>((v & 0xCC) >> 2 | (v & 0x33) << 2);
            v = static_cast<std::uint8_t>((v & 0xAA) >> 1 | (v & 0x55) << 1);
            row[b] = v;
        }
    }
    return dib;
}
