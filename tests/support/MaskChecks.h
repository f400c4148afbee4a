#pragma once

#include "image/TzDIB.h"
#include "scan/BlackMask.h"

#include <cstdint>

// True when no pixel of the mask is black.
inline bool AllWhite(const TBlackMask &mask)
{
    for (int y = 0; y < mask.Height(); ++y)
        for (int i = 0; i < mask.Words(); ++i)
            if (mask.Line(y)[i])
                return false;
    return true;
}

// Row y of the picture (from the top) for writing; the storage is unshared first.
inline std::uint8_t *WritableScanLine(TTzDIB &dib, int y)
{
    dib.UniqueDIB();
    return const_cast<std::uint8_t *>(dib.ScanLine(y));
}
