#pragma once

// The picture of the last conversion as the preview needs it.
//   TScanPicture - the black pixels, the resolution and the backdrop.
//   DotsPerInch  - a resolution in whole dpi; 0 for none.

#include "scan/BlackMask.h"
#include "scan/ScanBackdrop.h"

#include <cmath>
#include <memory>

// The picture of the last conversion, as far as the preview needs it: the black
// pixels the tracers read (not the picture itself: a 1-bit mask of an A0 sheet
// is 31 MB where its colours would be 744 MB) and the file's stored resolution.
struct TScanPicture
{
    // Null unless the scan state asked to keep it and the conversion succeeded.
    // For line 2 mode, the picture's own black pixels, not the run ends.
    std::shared_ptr<const TBlackMask> Mask;
    // Dots per metre as stored in the file; 0 when it stores none.
    int DotsPerMeterX = 0;
    int DotsPerMeterY = 0;
    // Box mode: the segments' ends are pixel corners; the line modes put them
    // on pixel centres.
    bool PixelCorners = false;
    // The scan's own pixels, reduced, when the scan state asked for them
    // too; else null.
    std::shared_ptr<const TScanBackdrop> Backdrop;
};

// A resolution in whole dots per inch (15748 dots per metre is 400 dpi); 0 for none.
inline int DotsPerInch(int dotsPerMeter)
{
    return dotsPerMeter > 0 ? static_cast<int>(std::lround(dotsPerMeter * 0.0254)) : 0;
}
